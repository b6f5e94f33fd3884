#include "text/urlutils.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cstring>

namespace tarnhold {

namespace {

constexpr std::size_t npos = std::string::npos;

// A hexadecimal digit's value; any other character counts as 0.
unsigned HexValue(char c) {
    const int value = HexDigitValue(c);
    return value < 0 ? 0U : static_cast<unsigned>(value);
}

bool IsAsciiOnly(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Whether the text's last character is a "/" (a trail byte 0x2F does not count).
bool EndsWithSlash(std::string_view s) {
    return !s.empty() && AnsiFindLast(s, "/") == s.size() - 1;
}

// The text through its last "/" (empty if it has none).
std::string_view ThroughLastSlash(std::string_view s) {
    std::size_t p = AnsiFindLast(s, "/");
    return p == npos ? std::string_view() : s.substr(0, p + 1);
}

// One table row: the byte and what replaces it.
struct TEscape {
    char Byte;
    const char* Text;
};

// Replaces every listed character that starts a character of name. The
// replacements hold no listed character, so one pass gives what replacing the
// rows one after another gives.
template <std::size_t N>
void AppendEscaped(std::string& out, std::string_view name, const TEscape (&table)[N]) {
    for (std::size_t i = 0; i < name.size();) {
        char c = name[i];
        if (IsLeadByte(c)) {
            out.append(name.substr(i, 2));
            i += 2;
            continue;
        }
        const TEscape* hit = std::find_if(std::begin(table), std::end(table),
                                          [c](const TEscape& e) { return e.Byte == c; });
        if (hit != std::end(table))
            out.append(hit->Text);
        else
            out.push_back(c);
        ++i;
    }
}

// Every character a Windows file name cannot hold, "?" included, so that a
// copied site can be carried to a Windows disk or a FAT stick.
constexpr TEscape kFileNameEscapes[] = {
    {'\\', "$5c"}, {'/', "$2f"}, {':', "$3a"}, {'*', "$2a"}, {'?', "$3f"},
    {'"', "$22"},  {'<', "$3c"}, {'>', "$3e"}, {'|', "$7c"},
};
// Makes a name that is about to become one path component harmless: a NUL
// or "/" byte anywhere (also where it follows a lead byte, since the path
// conversion keeps such invalid pairs as raw bytes and the kernel would see
// the "/") becomes "$00" or "$2f"; the whole names "." and ".." become "$2e"
// and "$2e$2e". Other names pass unchanged.
void MakeComponentSafe(std::string& name) {
    if (name.find_first_of(std::string_view("/\0", 2)) != npos) {
        std::string safe;
        safe.reserve(name.size() + 8);
        for (char c : name) {
            if (c == '/')
                safe.append("$2f");
            else if (c == '\0')
                safe.append("$00");
            else
                safe.push_back(c);
        }
        name.swap(safe);
    }
    if (name == ".")
        name = "$2e";
    else if (name == "..")
        name = "$2e$2e";
}

} // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string DecodeUTF8Text(std::string_view utf8) {
    if (IsAsciiOnly(utf8))
        return std::string(utf8);
    // The UTF-16 text is only a stage on the way to ANSI; each thread keeps
    // its buffer, as this runs for every URL of the cache that holds a "%".
    thread_local std::u16string wide;
    wide.clear();
    wide.reserve(utf8.size());
    const std::size_t n = utf8.size();
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
    std::size_t i = 0;
    while (i < n) {
        unsigned c = at(i);
        std::size_t more = (c & 0xE0) == 0xC0   ? 1
                           : (c & 0xF0) == 0xE0 ? 2
                           : (c & 0xF8) == 0xF0 ? 3
                                                : 0;
        if (c < 0x80 || more == 0) {
            // ASCII, or a byte that starts nothing (0x80-0xBF, 0xF8-0xFF):
            // the character with the same value.
            wide.push_back(static_cast<char16_t>(c));
            ++i;
            continue;
        }
        if (i + more >= n) {
            // Cut short by the end of the text: one replacement character.
            wide.push_back(u'\uFFFD');
            break;
        }
        // Continuation bytes are taken as they come; overlong forms pass.
        if (more == 1) {
            wide.push_back(static_cast<char16_t>(((c & 0x1F) << 6) | (at(i + 1) & 0x3F)));
        } else if (more == 2) {
            wide.push_back(static_cast<char16_t>(((c & 0x0F) << 12) | ((at(i + 1) & 0x3F) << 6) |
                                                 (at(i + 2) & 0x3F)));
        } else {
            char32_t cp = ((c & 0x07) << 18) | ((at(i + 1) & 0x3F) << 12) |
                          ((at(i + 2) & 0x3F) << 6) | (at(i + 3) & 0x3F);
            if (cp > 0x10FFFF) {
                wide.push_back(u'\uFFFD');
            } else if (cp >= 0x10000) {
                cp -= 0x10000;
                wide.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
                wide.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
            } else {
                wide.push_back(static_cast<char16_t>(cp));
            }
        }
        i += more + 1;
    }
    return Utf16ToAnsi(wide);
}

namespace {

// Percent-decodes text (which holds a "%") into out; a "%xx" pair that
// decodes to 0 ends it, a "%" without two characters after it stays.
void PercentDecode(std::string_view text, std::size_t percent, std::string& out) {
    out.assign(text.substr(0, percent));
    for (std::size_t i = percent; i < text.size();) {
        char c = text[i];
        if (c != '%') {
            out.push_back(c);
            ++i;
        } else if (i + 2 < text.size()) {
            out.push_back(static_cast<char>((HexValue(text[i + 1]) << 4) | HexValue(text[i + 2])));
            i += 3;
        } else {
            out.append(text.substr(i));
            break;
        }
    }
    std::size_t zero = out.find('\0');
    if (zero != npos)
        out.resize(zero);
}

// Where SplitURL cuts url: directory, file name and suffix, undecoded.
void SplitURLParts(std::string_view url, std::string_view& directory, std::string_view& fileName,
                   std::string_view& suffix) {
    // Every step cuts the rest shorter; what was cut off is the suffix.
    std::string_view rest = url;
    if (std::size_t p = AnsiFind(rest, "?"); p != npos)
        rest = rest.substr(0, p);
    if (std::size_t p = AnsiFind(rest, ";"); p != npos)
        rest = rest.substr(0, p);
    // A segment holding "=" or "$" starts the suffix with everything after
    // it; without a "/" before the character nothing moves.
    for (std::string_view mark : {std::string_view("="), std::string_view("$")}) {
        std::size_t p = AnsiFind(rest, mark);
        if (p == npos || p == 0)
            continue;
        std::size_t slash = AnsiFindLast(rest.substr(0, p), "/");
        if (slash != npos)
            rest = rest.substr(0, slash + 1);
    }
    suffix = url.substr(rest.size());
    fileName = {};
    std::size_t slash = AnsiFindLast(rest, "/");
    if (slash == npos) {
        fileName = rest;
        rest = {};
    } else if (slash + 1 < rest.size()) {
        fileName = rest.substr(slash + 1);
        rest = rest.substr(0, slash + 1);
    }
    directory = rest;
}

// A part of a URL for people, as UTF-8: escapes that decode to UTF-8 are
// shown as that text (whatever Shift-JIS lacks included); anything else as
// DecodeURLString reads it.
std::string PartForDisplay(std::string_view part) {
    const std::size_t percent = part.find('%');
    if (percent != npos) {
        std::string decoded;
        PercentDecode(part, percent, decoded);
        if (IsValidUtf8(decoded))
            return decoded;
    }
    return AnsiToUtf8(DecodeURLString(part));
}

} // namespace

std::string DecodeURLString(std::string_view text) {
    std::size_t percent = text.find('%');
    if (percent == npos)
        return std::string(text);
    thread_local std::string decoded;
    PercentDecode(text, percent, decoded);
    return DecodeUTF8Text(decoded);
}

void SplitURL(std::string_view url, std::string* directory, std::string* fileName,
              std::string* suffix) {
    std::string_view dir, file, rest;
    SplitURLParts(url, dir, file, rest);
    if (directory != nullptr)
        *directory = DecodeURLString(dir);
    if (fileName != nullptr)
        *fileName = DecodeURLString(file);
    if (suffix != nullptr)
        suffix->assign(rest);
}

std::string DecodeURL(std::string_view url) {
    std::string dir, file, suffix;
    SplitURL(url, &dir, &file, &suffix);
    dir += file;
    dir += suffix;
    return dir;
}

std::string DecodeURLForDisplay(std::string_view url) {
    std::string_view dir, file, suffix;
    SplitURLParts(url, dir, file, suffix);
    return PartForDisplay(dir) + PartForDisplay(file) + AnsiToUtf8(suffix);
}

std::string EscapeFileName(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 8);
    AppendEscaped(out, name, kFileNameEscapes);
    MakeComponentSafe(out);
    return out;
}

std::string DecodeLinkEntities(std::string_view link) {
    std::string text = AnsiReplaceAll(link, "&lt;", "<");
    text = AnsiReplaceAll(text, "&gt;", ">");
    text = AnsiReplaceAll(text, "&quot;", "\"");
    return AnsiReplaceAll(text, "&amp;", "&");
}

std::string GetSiteRootURL(std::string_view url) {
    const std::string s = AnsiReplaceAll(url, "//", "/");
    std::size_t first = AnsiFind(s, "/");
    if (first == npos)
        return {};
    std::size_t second = AnsiFind(s, "/", first + 1);
    if (second == npos)
        return {};
    return AnsiReplaceAll(std::string_view(s).substr(0, second + 1), ":/", "://");
}

std::string GetURLDirectory(std::string_view url) {
    return std::string(ThroughLastSlash(url));
}

std::string GetParentURL(std::string_view url) {
    std::string_view dir = ThroughLastSlash(url);
    if (dir.empty())
        return {};
    dir.remove_suffix(1);
    return std::string(ThroughLastSlash(dir));
}

std::string GetURLFolderName(std::string_view url) {
    std::string_view dir = ThroughLastSlash(url);
    if (dir.empty())
        return {};
    dir.remove_suffix(1);
    std::size_t p = AnsiFindLast(dir, "/");
    return std::string(p == npos ? dir : dir.substr(p + 1));
}

std::string GetURLFileName(std::string_view url) {
    if (EndsWithSlash(url))
        return {};
    std::size_t p = AnsiFindLast(url, "/");
    return std::string(p == npos ? url : url.substr(p + 1));
}

} // namespace tarnhold
