#include "copy/copyreport.h"

#include "platform/codepage.h"
#include "platform/files.h"

#include <cstdio>

namespace tarnhold {

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// UTF-8 text with its control characters as "\xNN", so that no byte of a
// page can break a line of the report or reach a terminal that shows it.
std::string Visible(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", u);
            out += buf;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

std::string CsvField(std::string_view text) {
    std::string out = "\"";
    // A leading "=", "+", "-", "@" (or a tab or CR before them) makes a
    // spreadsheet read the field as a formula.
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                          text[0] == '\t' || text[0] == '\r'))
        out.push_back('\'');
    for (const char c : text) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

// Text of a page: the program's code page, or UTF-8 where the page is
// written in it (as the bytes show).
std::string Shown(std::string_view text) {
    return Visible(IsValidUtf8(text) ? std::string(text) : AnsiToUtf8(text));
}

} // namespace

void TCopyReport::BeginPage(std::string_view url, std::string_view localPath) {
    std::string key = std::string(url) + "\n" + std::string(localPath);
    linkIndex_.clear();
    if (auto it = pageIndex_.find(key); it != pageIndex_.end()) {
        current_ = it->second;
        pages_[current_].Links.clear();
        return;
    }
    pages_.push_back({std::string(url), std::string(localPath), {}});
    current_ = pages_.size() - 1;
    pageIndex_.emplace(std::move(key), current_);
}

void TCopyReport::AddMissing(std::string_view link, std::string_view localLink) {
    if (current_ == kNone)
        return;
    TReportPage& page = pages_[current_];
    std::string key = std::string(link) + "\n" + std::string(localLink);
    if (auto it = linkIndex_.find(key); it != linkIndex_.end()) {
        ++page.Links[it->second].Count;
        return;
    }
    page.Links.push_back({std::string(link), std::string(localLink), 1});
    linkIndex_.emplace(std::move(key), page.Links.size() - 1);
}

void TCopyReport::EndPage() {
    if (current_ == kNone)
        return;
    if (pages_[current_].Links.empty() && current_ == pages_.size() - 1) {
        pageIndex_.erase(pages_.back().Url + "\n" + pages_.back().LocalPath);
        pages_.pop_back();
    }
    current_ = kNone;
    linkIndex_.clear();
}

const char* AsIsText(TAsIsKind kind) {
    switch (kind) {
    case TAsIsKind::Undecodable:
        return "the body could not be decoded; copied as stored";
    case TAsIsKind::OverLimit:
        return "the body would decode to more than a sound one (a decompression bomb?); "
               "copied as stored";
    case TAsIsKind::TooLarge:
        return "too large to rewrite; copied with its links unchanged";
    case TAsIsKind::Damaged:
        return "does not fit the checksum the cache keeps for it (damaged); copied as the cache "
               "holds it";
    }
    return "";
}

void TCopyReport::AddAsIs(std::string_view url, TAsIsKind kind) {
    asIs_.push_back({std::string(url), kind});
}

int TCopyReport::MissingLinks() const {
    int count = 0;
    for (const TReportPage& page : pages_)
        for (const TMissingLink& link : page.Links)
            count += link.Count;
    return count;
}

int TCopyReport::IncompletePages() const {
    int count = 0;
    for (const TReportPage& page : pages_)
        count += page.Links.empty() ? 0 : 1;
    return count;
}

void TCopyReport::Clear() {
    pages_.clear();
    asIs_.clear();
    pageIndex_.clear();
    linkIndex_.clear();
    current_ = kNone;
}

TReportFormat ReportFormatOf(const std::filesystem::path& file) {
    const std::string ext = AnsiLowerCase(file.extension().string());
    if (ext == ".html" || ext == ".htm")
        return TReportFormat::Html;
    if (ext == ".csv")
        return TReportFormat::Csv;
    return TReportFormat::Unknown;
}

std::string ReportHtml(const TCopyReport& report, std::string_view destination) {
    const int pages = report.IncompletePages();
    const int missing = report.MissingLinks();
    std::string out =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n"
        "<title>Copy report</title>\n"
        "<style>body{font-family:sans-serif}table{border-collapse:collapse}"
        "td,th{border:1px solid #aaa;padding:2px 6px;text-align:left;"
        "font-family:monospace}</style>\n</head><body>\n<h1>Copy report</h1>\n<p>Copied to " +
        HtmlEscape(Visible(destination)) + "</p>\n<p>" + std::to_string(missing) +
        (missing == 1 ? " link" : " links") + " to documents the cache did not hold, on " +
        std::to_string(pages) + (pages == 1 ? " page" : " pages") + ".</p>\n";
    for (const TReportPage& page : report.Pages()) {
        if (page.Links.empty())
            continue;
        int count = 0;
        for (const TMissingLink& link : page.Links)
            count += link.Count;
        out += "<h2>" + HtmlEscape(Shown(page.Url)) +
               "</h2>\n<p>Copy: " + HtmlEscape(Visible(page.LocalPath)) + " (" +
               std::to_string(count) + (count == 1 ? " missing link" : " missing links") +
               ")</p>\n<table>\n<tr><th>Link in the page</th><th>Points to</th>"
               "<th>Times</th></tr>\n";
        for (const TMissingLink& link : page.Links)
            out += "<tr><td>" + HtmlEscape(Shown(link.Link)) + "</td><td>" +
                   HtmlEscape(Shown(link.LocalLink)) + "</td><td>" + std::to_string(link.Count) +
                   "</td></tr>\n";
        out += "</table>\n";
    }
    if (!report.AsIsFiles().empty()) {
        out += "<h2>Copied as they are</h2>\n<table>\n<tr><th>Document</th><th>Why</th></tr>\n";
        for (const TAsIsFile& file : report.AsIsFiles())
            out += "<tr><td>" + HtmlEscape(Shown(file.Url)) + "</td><td>" +
                   HtmlEscape(AsIsText(file.Kind)) + "</td></tr>\n";
        out += "</table>\n";
    }
    out += "</body></html>\n";
    return out;
}

std::string ReportCsv(const TCopyReport& report) {
    std::string out = "page,page_copy,link,points_to,count\r\n";
    for (const TReportPage& page : report.Pages())
        for (const TMissingLink& link : page.Links)
            out += CsvField(Shown(page.Url)) + "," + CsvField(Visible(page.LocalPath)) + "," +
                   CsvField(Shown(link.Link)) + "," + CsvField(Shown(link.LocalLink)) + "," +
                   std::to_string(link.Count) + "\r\n";
    return out;
}

TError WriteCopyReport(const TCopyReport& report, const std::filesystem::path& file,
                       std::string_view destination) {
    std::string text;
    switch (ReportFormatOf(file)) {
    case TReportFormat::Html:
        text = ReportHtml(report, destination);
        break;
    case TReportFormat::Csv:
        text = ReportCsv(report);
        break;
    case TReportFormat::Unknown:
        return TError::FromErrno(EINVAL, "the report file must end in .html, .htm or .csv");
    }
    int error = 0;
    if (!WriteFileAtomic(file, text, &error))
        return TError::FromErrno(error != 0 ? error : EIO, "cannot write " + file.string());
    return {};
}

} // namespace tarnhold
