#include "mkcache/cachemanifest.h"

#include "platform/codepage.h"

#include <charconv>

namespace tarnhold {

namespace {

struct TTypeName {
    std::string_view Name;
    std::uint32_t Flag;
};

constexpr TTypeName kTypeNames[] = {
    {"NORMAL", 0x00000001},   {"STABLE", 0x00000002},        {"STICKY", 0x00000004},
    {"EDITED", 0x00000008},   {"HTTP_1_1", 0x00000040},      {"STATIC", 0x00000080},
    {"SPARSE", 0x00010000},   {"COOKIE", 0x00100000},        {"URLHISTORY", 0x00200000},
    {"REDIRECT", 0x00000800}, {"POST_RESPONSE", 0x04000000},
};

bool ParseNumber(std::string_view text, std::uint64_t& value, int base = 10) {
    if (text.empty())
        return false;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && p == text.data() + text.size();
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool UnescapeManifestText(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i >= text.size())
            return false;
        switch (text[i]) {
        case '\\':
            out.push_back('\\');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'x': {
            if (i + 2 >= text.size())
                return false;
            const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

bool ParseUtcTime(std::string_view text, FILETIME& ft) {
    ft = FILETIME{};
    if (text == "0")
        return true;
    if (!text.empty() && text.back() == 'Z')
        text.remove_suffix(1);
    // YYYY-MM-DDTHH:MM:SS
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':')
        return false;
    std::uint64_t y, mo, d, h, mi, s;
    if (!ParseNumber(text.substr(0, 4), y) || !ParseNumber(text.substr(5, 2), mo) ||
        !ParseNumber(text.substr(8, 2), d) || !ParseNumber(text.substr(11, 2), h) ||
        !ParseNumber(text.substr(14, 2), mi) || !ParseNumber(text.substr(17, 2), s))
        return false;
    return SystemTimeToFileTime(MakeSystemTime(y, mo, d, h, mi, s), ft);
}

bool ParseEntryType(std::string_view text, std::uint32_t& type) {
    type = 0;
    bool any = false;
    while (!text.empty()) {
        const std::size_t bar = text.find('|');
        std::string_view part = AnsiTrim(text.substr(0, bar));
        text = bar == std::string_view::npos ? std::string_view{} : text.substr(bar + 1);
        std::uint64_t value = 0;
        if (part.starts_with("0x") || part.starts_with("0X")) {
            if (!ParseNumber(part.substr(2), value, 16) || value > 0xFFFFFFFF)
                return false;
            type |= static_cast<std::uint32_t>(value);
        } else {
            bool known = false;
            for (const auto& n : kTypeNames) {
                if (AnsiSameText(part, n.Name)) {
                    type |= n.Flag;
                    known = true;
                }
            }
            if (!known)
                return false;
        }
        any = true;
    }
    return any;
}

TError ParseCacheManifest(std::string_view text, const std::filesystem::path& baseDir,
                          std::vector<TManifestEntry>& entries) {
    entries.clear();
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        return TError::Message("line " + std::to_string(lineNo) + ": " + what, EINVAL);
    };
    while (!text.empty()) {
        ++lineNo;
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const std::string_view trimmed = AnsiTrim(line);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        const std::size_t sp = trimmed.find_first_of(" \t");
        const std::string_view key = trimmed.substr(0, sp);
        // The value keeps its trailing blanks only for header lines, where
        // they could matter; everywhere else it is trimmed.
        std::string_view rawValue;
        if (sp != std::string_view::npos) {
            rawValue = line.substr(line.find(key) + key.size());
            while (!rawValue.empty() && (rawValue[0] == ' ' || rawValue[0] == '\t'))
                rawValue.remove_prefix(1);
        }
        std::string value;
        if (!UnescapeManifestText(key == "header" ? rawValue : AnsiTrim(rawValue), value))
            return fail("bad escape in \"" + std::string(rawValue) + "\"");

        if (key == "entry") {
            if (value.empty())
                return fail("entry without a URL");
            TManifestEntry e;
            e.Line = lineNo;
            e.Url = value;
            entries.push_back(std::move(e));
            continue;
        }
        if (entries.empty())
            return fail("\"" + std::string(key) + "\" before the first entry");
        TManifestEntry& e = entries.back();
        std::uint64_t number = 0;
        if (key == "file") {
            if (value.empty() || value == "-")
                e.Content.clear();
            else
                e.Content = baseDir / std::filesystem::path(value);
        } else if (key == "name") {
            e.FileName = value;
        } else if (key == "dir") {
            if (!ParseNumber(value, number) || number > 31)
                return fail("dir must be a folder number 0-31");
            e.DirIndex = static_cast<int>(number);
        } else if (key == "type") {
            if (!ParseEntryType(value, e.EntryType))
                return fail("unknown entry type \"" + value + "\"");
        } else if (key == "modified" || key == "accessed" || key == "expires") {
            FILETIME ft;
            if (!ParseUtcTime(value, ft))
                return fail("time must be YYYY-MM-DDTHH:MM:SSZ or 0");
            if (key == "modified")
                e.LastModified = ft;
            else if (key == "accessed")
                e.Accessed = ft;
            else
                e.Expires = ft;
        } else if (key == "ext") {
            e.Extension = value == "-" ? std::string() : value;
            if (!e.Extension.empty() && e.Extension[0] == '.')
                e.Extension.erase(0, 1);
        } else if (key == "size") {
            if (!ParseNumber(value, number))
                return fail("size must be a number");
            e.Size = number;
        } else if (key == "header") {
            e.Headers += value;
            e.Headers += "\r\n";
        } else if (key == "headers") {
            e.Headers += value;
        } else {
            return fail("unknown key \"" + std::string(key) + "\"");
        }
    }
    return {};
}

} // namespace tarnhold
