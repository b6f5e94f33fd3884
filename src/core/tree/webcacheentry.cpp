#include "tree/webcacheentry.h"

#include "platform/codepage.h"

#include <vector>

namespace tarnhold {

namespace {

constexpr std::string_view kLineBreak = "\r\n";

// Start offsets of the lines of a CR LF-joined text ([begin, end) pairs).
std::vector<std::pair<std::size_t, std::size_t>> SplitLines(const std::string& text) {
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    if (text.empty())
        return lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find(kLineBreak, start);
        if (end == std::string::npos) {
            lines.emplace_back(start, text.size());
            break;
        }
        lines.emplace_back(start, end);
        start = end + kLineBreak.size();
    }
    return lines;
}

// The name part of a header line (before its first ':'), trimmed; false when
// the line has no ':'.
bool LineName(std::string_view line, std::string_view& name, std::size_t& colon) {
    colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    name = AnsiTrim(line.substr(0, colon));
    return true;
}

} // namespace

void TWebCacheHeaderInfo::SetText(std::string_view text) {
    // Normalise every line break to CR LF; a final break ends the last line
    // and does not start an empty one.
    std::string joined;
    joined.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            if (i + 1 < text.size())
                joined.append(kLineBreak);
            continue;
        }
        joined.push_back(c);
    }
    if (joined != text_)
        text_ = std::move(joined);
}

void TWebCacheHeaderInfo::SetText(std::string&& text) {
    // The common case, every line ended by CR LF, needs no copy: only the
    // final break goes.
    bool plain = true;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
        } else if (text[i] == '\r' || text[i] == '\n') {
            plain = false;
            break;
        }
    }
    if (!plain) {
        SetText(std::string_view(text));
        return;
    }
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, kLineBreak) == 0)
        text.resize(text.size() - 2);
    if (text != text_)
        text_ = std::move(text);
}

int TWebCacheHeaderInfo::Count() const {
    return static_cast<int>(SplitLines(text_).size());
}

std::string TWebCacheHeaderInfo::Lines(int index) const {
    auto lines = SplitLines(text_);
    if (index < 0 || static_cast<std::size_t>(index) >= lines.size())
        return {};
    auto [b, e] = lines[static_cast<std::size_t>(index)];
    return text_.substr(b, e - b);
}

void TWebCacheHeaderInfo::SetLines(int index, std::string_view line) {
    auto lines = SplitLines(text_);
    if (index < 0 || static_cast<std::size_t>(index) >= lines.size())
        return;
    auto [b, e] = lines[static_cast<std::size_t>(index)];
    text_.replace(b, e - b, line);
}

std::string TWebCacheHeaderInfo::Values(std::string_view name) const {
    return std::string(ValueView(name));
}

std::string_view TWebCacheHeaderInfo::ValueView(std::string_view name) const {
    // Line by line as SplitLines cuts them, without making the list: every
    // entry of a refresh is asked its Content-Type.
    const std::string_view text = text_;
    if (text.empty())
        return {};
    for (std::size_t start = 0;;) {
        std::size_t end = text.find(kLineBreak, start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        std::string_view lineName;
        std::size_t colon;
        if (LineName(line, lineName, colon) && AnsiSameText(lineName, name))
            return AnsiTrim(line.substr(colon + 1));
        if (end == text.size())
            break;
        start = end + kLineBreak.size();
    }
    return {};
}

void TWebCacheHeaderInfo::SetValues(std::string_view name, std::string_view value) {
    for (auto [b, e] : SplitLines(text_)) {
        std::string_view line(text_.data() + b, e - b);
        std::string_view lineName;
        std::size_t colon;
        if (LineName(line, lineName, colon) && AnsiSameText(lineName, name)) {
            std::string replaced(lineName);
            replaced.append(": ").append(value);
            text_.replace(b, e - b, replaced);
            return;
        }
    }
    if (!text_.empty())
        text_.append(kLineBreak);
    text_.append(name).append(": ").append(value);
}

} // namespace tarnhold
