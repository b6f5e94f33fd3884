// What a copy could not make whole: for each copied page (or stylesheet),
// the links whose targets the cache does not hold, as written in the page,
// with the place the copy points them to. Written out as an HTML page or a
// CSV table for the user.
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnhold {

struct TMissingLink {
    std::string Link;      // as written in the page (ANSI)
    std::string LocalLink; // where the copy points it (relative to the page)
    int Count = 0;         // how often the page has it
};

// Why a file was written otherwise than a copy writes it.
enum class TAsIsKind : std::uint8_t {
    Undecodable, // its encoding could not be undone: written as stored
    OverLimit,   // it would decode past the limit of a sound body: written as stored
    TooLarge,    // a page or stylesheet too large to rewrite: written with its links unchanged
    Damaged,     // its stored bytes fail the cache's checksum: written as the cache holds it
};

struct TAsIsFile {
    std::string Url; // ANSI
    TAsIsKind Kind;
};

// What the kind means, for people (English, as the CLI and the report speak).
const char* AsIsText(TAsIsKind kind);

struct TReportPage {
    std::string Url;       // the page's URL (ANSI)
    std::string LocalPath; // its copy, below the destination ("/"-separated, UTF-8)
    std::vector<TMissingLink> Links;
};

class TCopyReport {
public:
    // Starts the entry of a page that is read (again): what an earlier read
    // of the same page found is dropped.
    void BeginPage(std::string_view url, std::string_view localPath);
    // A link of the current page whose target the cache does not hold.
    void AddMissing(std::string_view link, std::string_view localLink);
    // Drops the current page's entry when it found nothing.
    void EndPage();
    // A file written otherwise than a copy writes it.
    void AddAsIs(std::string_view url, TAsIsKind kind);
    const std::vector<TAsIsFile>& AsIsFiles() const { return asIs_; }

    // Pages with at least one missing link, in the order they were read.
    const std::vector<TReportPage>& Pages() const { return pages_; }
    // Every occurrence of a missing link on every page.
    int MissingLinks() const;
    // Pages with at least one missing link.
    int IncompletePages() const;
    bool Empty() const { return pages_.empty() && asIs_.empty(); }
    void Clear();

private:
    std::vector<TReportPage> pages_;
    std::vector<TAsIsFile> asIs_;
    std::unordered_map<std::string, std::size_t> pageIndex_; // url + "\n" + local -> pages_
    std::unordered_map<std::string, std::size_t> linkIndex_; // link + "\n" + local -> Links
    std::size_t current_ = static_cast<std::size_t>(-1);
};

enum class TReportFormat { Html, Csv, Unknown };

// By the file's extension: ".html"/".htm" or ".csv", in any case.
TReportFormat ReportFormatOf(const std::filesystem::path& file);

// The report as an HTML page (UTF-8, every text escaped) with its counts;
// destination (UTF-8) is named as where the copy went.
std::string ReportHtml(const TCopyReport& report, std::string_view destination);
// The report as CSV (UTF-8): a header row, then one row per missing link:
// page URL, page copy, link as written, where the copy points it, count.
// Every field quoted; a field a spreadsheet would take for a formula is
// given a leading "'".
std::string ReportCsv(const TCopyReport& report);

// Writes the report in the format of file's extension (replacing the file
// only when complete).
[[nodiscard]] TError WriteCopyReport(const TCopyReport& report, const std::filesystem::path& file,
                                     std::string_view destination);

} // namespace tarnhold
