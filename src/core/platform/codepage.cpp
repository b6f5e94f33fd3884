#include "platform/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <string>

namespace tarnhold {

namespace {

constexpr std::size_t npos = std::string::npos;

// One iconv descriptor per direction and thread: opening one costs far more
// than converting a URL, and the tree converts every URL of the cache.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts in; on an input sequence that cannot be converted, calls
    // onBad(out, in, remaining) which appends a substitute and returns how many
    // input bytes to skip (at least 1).
    template <typename OnBad> void Run(std::string_view in, std::string& out, OnBad onBad) {
        if (!ok()) {
            out.append(in);
            return;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buf[1024];
        while (srcLeft > 0) {
            char* dst = buf;
            std::size_t dstLeft = sizeof buf;
            std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf, static_cast<std::size_t>(dst - buf));
            if (r != static_cast<std::size_t>(-1))
                break;
            if (errno == E2BIG)
                continue;
            // EILSEQ or EINVAL (cut short at the end): substitute and skip.
            std::size_t skip = onBad(out, std::string_view(src, srcLeft));
            skip = std::min(std::max<std::size_t>(skip, 1), srcLeft);
            src += skip;
            srcLeft -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
    }

private:
    iconv_t cd_;
};

Converter& AnsiToUtf8Conv() {
    thread_local Converter c("UTF-8", "CP932");
    return c;
}
Converter& Utf8ToAnsiConv() {
    thread_local Converter c("CP932", "UTF-8");
    return c;
}
Converter& AnsiToUtf16Conv() {
    thread_local Converter c("UTF-16LE", "CP932");
    return c;
}
Converter& Utf16ToAnsiConv() {
    thread_local Converter c("CP932", "UTF-16LE");
    return c;
}

bool IsAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos, char32_t* codePoint) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
        length = 1;
        value = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - pos < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto trail = static_cast<unsigned char>(text[pos + k]);
        if ((trail & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (trail & 0x3F);
    }
    if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
        (length == 4 && (value < 0x10000 || value > 0x10FFFF)))
        return 0;
    if (codePoint != nullptr)
        *codePoint = value;
    return length;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

bool IsCharStart(std::string_view text, std::size_t pos) {
    if (pos > text.size())
        return false;
    // The byte before a run of lead-byte values ends a character (it is a
    // single-byte character or a trail byte), so the run starts on a
    // character and its bytes pair up: pos starts a character exactly when
    // the run before it is of even length. Runs are short in real text; a
    // long one is settled by walking from the start.
    std::size_t run = 0;
    while (run < pos && IsLeadByte(text[pos - 1 - run])) {
        if (++run > 256) {
            std::size_t i = 0;
            while (i < pos)
                i += IsLeadByte(text[i]) ? 2 : 1;
            return i == pos;
        }
    }
    return run % 2 == 0;
}

std::size_t AnsiFind(std::string_view text, std::string_view pattern, std::size_t from) {
    // Fast byte search for a candidate, then a check that it does not start
    // on a trail byte.
    for (std::size_t pos = text.find(pattern, from); pos != npos;
         pos = text.find(pattern, pos + 1)) {
        if (IsCharStart(text, pos))
            return pos;
    }
    return npos;
}

std::size_t AnsiFindLast(std::string_view text, std::string_view pattern) {
    for (std::size_t pos = text.rfind(pattern); pos != npos; pos = text.rfind(pattern, pos - 1)) {
        if (IsCharStart(text, pos))
            return pos;
        if (pos == 0)
            break;
    }
    return npos;
}

std::size_t AnsiFindFirstOf(std::string_view text, std::string_view set, std::size_t from) {
    for (std::size_t pos = text.find_first_of(set, from); pos != npos;
         pos = text.find_first_of(set, pos + 1)) {
        if (IsCharStart(text, pos))
            return pos;
    }
    return npos;
}

bool AnsiContains(std::string_view text, std::string_view pattern) {
    return AnsiFind(text, pattern) != npos;
}

std::string AnsiReplaceAll(std::string_view text, std::string_view pattern,
                           std::string_view replacement) {
    if (pattern.empty())
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    std::size_t copied = 0;
    while (i < text.size()) {
        // The first byte tried inline: the tree calls this for every URL.
        if (text[i] == pattern[0] && text.compare(i, pattern.size(), pattern) == 0) {
            out.append(text.substr(copied, i - copied));
            out.append(replacement);
            i += pattern.size();
            // The match may end inside a character only if the pattern ends
            // with a lead byte; the next character then starts right after it.
            copied = i;
            continue;
        }
        i += IsLeadByte(text[i]) ? 2 : 1;
    }
    out.append(text.substr(std::min(copied, text.size())));
    return out;
}

// ASCII text alone (nearly every URL) is searched with find; text with other
// bytes takes the Shift-JIS walk, in which a lead byte takes the byte after
// it, even a '/'.
void CollapseDoubleSlashes(std::string_view text, std::string& out) {
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        out = AnsiReplaceAll(text, "//", "/");
        return;
    }
    out.clear();
    std::size_t copied = 0;
    for (std::size_t at; (at = text.find("//", copied)) != std::string_view::npos;) {
        out.append(text.substr(copied, at - copied));
        out += '/';
        copied = at + 2;
    }
    out.append(text.substr(copied));
}

void AnsiLowerCaseTo(std::string_view text, std::string& out) {
    out.assign(text);
    for (std::size_t i = 0; i < out.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsLeadByte(c))
            ++i; // the trail byte stays as it is
        else if (c >= 'A' && c <= 'Z')
            out[i] = static_cast<char>(c + 32);
    }
}

std::string AnsiLowerCase(std::string_view text) {
    std::string out;
    AnsiLowerCaseTo(text, out);
    return out;
}

std::string AnsiUpperCase(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i < out.size();) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (IsLeadByte(c)) {
            i += 2;
            continue;
        }
        if (c >= 'a' && c <= 'z')
            out[i] = static_cast<char>(c - 32);
        ++i;
    }
    return out;
}

int AnsiCompareStr(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    int r = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
    if (r != 0)
        return r < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
    // Lower-case on the fly, lead-byte aware on each side.
    std::size_t i = 0, j = 0;
    bool trailA = false, trailB = false;
    while (i < a.size() && j < b.size()) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[j]);
        unsigned char la = (!trailA && ca >= 'A' && ca <= 'Z') ? ca + 32 : ca;
        unsigned char lb = (!trailB && cb >= 'A' && cb <= 'Z') ? cb + 32 : cb;
        if (la != lb)
            return la < lb ? -1 : 1;
        trailA = !trailA && IsLeadByte(ca);
        trailB = !trailB && IsLeadByte(cb);
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

std::string_view AnsiTrim(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 0x20)
        ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 0x20)
        --e;
    return text.substr(b, e - b);
}

std::string AnsiToUtf8(std::string_view ansi) {
    if (IsAscii(ansi))
        return std::string(ansi);
    std::string out;
    out.reserve(ansi.size() * 3 / 2);
    AnsiToUtf8Conv().Run(ansi, out, [](std::string& o, std::string_view rest) {
        o.append("\xEF\xBF\xBD");
        return IsLeadByte(rest[0]) && rest.size() >= 2 ? std::size_t{2} : std::size_t{1};
    });
    return out;
}

std::string Utf8ToAnsi(std::string_view utf8) {
    if (IsAscii(utf8))
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    Utf8ToAnsiConv().Run(utf8, out, [](std::string& o, std::string_view rest) {
        o.push_back('?');
        std::size_t n = Utf8SequenceLength(rest);
        return n == 0 ? std::size_t{1} : n;
    });
    return out;
}

namespace {

void AppendReference(std::string& out, char32_t c) {
    out += "&#";
    out += std::to_string(static_cast<std::uint32_t>(c));
    out += ';';
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// A reference "&#N;" at text[pos]: its length, 0 when there is none.
std::size_t ReferenceAt(std::string_view text, std::size_t pos, char32_t& value) {
    if (text.compare(pos, 2, "&#") != 0)
        return 0;
    std::size_t i = pos + 2;
    std::uint32_t v = 0;
    const std::size_t digits = i;
    // Seven digits hold every code point; more is no reference of ours.
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - digits < 7)
        v = v * 10 + static_cast<std::uint32_t>(text[i++] - '0');
    if (i == digits || i >= text.size() || text[i] != ';')
        return 0;
    if (v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
        return 0;
    value = v;
    return i + 1 - pos;
}

} // namespace

std::string Utf8ToAnsiRefs(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const char c = utf8[i];
        if (static_cast<unsigned char>(c) < 0x80) {
            if (c == '&' && i + 1 < utf8.size() && utf8[i + 1] == '#')
                out += "&#38;";
            else
                out.push_back(c);
            ++i;
            continue;
        }
        char32_t code = 0;
        const std::size_t n = Utf8SequenceLength(utf8, i, &code);
        if (n == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        const std::string_view one = utf8.substr(i, n);
        // One character at a time: the code page maps a few characters
        // one way only (a wave dash comes back as a fullwidth tilde), and
        // those are kept as references too.
        const std::string ansi = Utf8ToAnsi(one);
        if (ansi == "?" || AnsiToUtf8(ansi) != one)
            AppendReference(out, code);
        else
            out += ansi;
        i += n;
    }
    return out;
}

std::string AnsiRefsToUtf8(std::string_view ansi) {
    if (ansi.find("&#") == std::string_view::npos)
        return AnsiToUtf8(ansi);
    std::string out;
    out.reserve(ansi.size() * 3 / 2);
    std::size_t start = 0; // of the text not yet converted
    std::size_t i = 0;
    while (i < ansi.size()) {
        char32_t value = 0;
        const std::size_t n = ReferenceAt(ansi, i, value); // i starts a character
        if (n == 0) {
            i += IsLeadByte(ansi[i]) && i + 1 < ansi.size() ? 2 : 1;
            continue;
        }
        out += AnsiToUtf8(ansi.substr(start, i - start));
        AppendUtf8(out, value);
        i += n;
        start = i;
    }
    out += AnsiToUtf8(ansi.substr(start));
    return out;
}

std::u16string AnsiToUtf16(std::string_view ansi) {
    std::string bytes;
    bytes.reserve(ansi.size() * 2);
    AnsiToUtf16Conv().Run(ansi, bytes, [](std::string& o, std::string_view rest) {
        o.append("\xFD\xFF", 2); // U+FFFD little-endian
        return IsLeadByte(rest[0]) && rest.size() >= 2 ? std::size_t{2} : std::size_t{1};
    });
    std::u16string out(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return out;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
    if (std::all_of(utf16.begin(), utf16.end(), [](char16_t c) { return c < 0x80; }))
        return std::string(utf16.begin(), utf16.end());
    // The UTF-16LE bytes for iconv go to a buffer that each thread keeps, so a
    // caller converting many short texts (every decoded URL) allocates only
    // its result.
    thread_local std::string bytes;
    bytes.clear();
    bytes.reserve(utf16.size() * 2);
    for (char16_t c : utf16) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    std::string out;
    out.reserve(utf16.size() * 2);
    Utf16ToAnsiConv().Run(bytes, out, [](std::string& o, std::string_view rest) {
        o.push_back('?');
        // A surrogate pair is one character: one "?" for both units.
        if (rest.size() >= 4) {
            unsigned hi =
                static_cast<unsigned char>(rest[0]) | (static_cast<unsigned char>(rest[1]) << 8);
            unsigned lo =
                static_cast<unsigned char>(rest[2]) | (static_cast<unsigned char>(rest[3]) << 8);
            if (hi >= 0xD800 && hi < 0xDC00 && lo >= 0xDC00 && lo < 0xE000)
                return std::size_t{4};
        }
        return std::size_t{2};
    });
    return out;
}

std::filesystem::path AnsiToPath(std::string_view ansi) {
    if (IsAscii(ansi))
        return std::filesystem::path(std::string(ansi));
    std::string out;
    out.reserve(ansi.size() * 3 / 2);
    AnsiToUtf8Conv().Run(ansi, out, [](std::string& o, std::string_view rest) {
        o.push_back(rest[0]);
        return std::size_t{1};
    });
    return std::filesystem::path(out);
}

std::string PathToAnsi(const std::filesystem::path& path) {
    const std::string& native = path.native();
    if (IsAscii(native))
        return native;
    std::string out;
    out.reserve(native.size());
    Utf8ToAnsiConv().Run(native, out, [](std::string& o, std::string_view rest) {
        std::size_t n = Utf8SequenceLength(rest);
        if (n == 0) {
            o.push_back(rest[0]); // a raw byte kept by AnsiToPath
            return std::size_t{1};
        }
        o.push_back('?');
        return n;
    });
    return out;
}

std::string LocaleToUtf8(std::string_view text) {
    const bool ascii = std::none_of(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0x80) != 0;
    });
    const char* codeset = nl_langinfo(CODESET);
    if (ascii || codeset == nullptr || std::string_view(codeset) == "UTF-8")
        return std::string(text);
    iconv_t cd = iconv_open("UTF-8", codeset);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::string(text);
    std::string out(text.size() * 4 + 4, '\0');
    char* src = const_cast<char*>(text.data());
    std::size_t srcLeft = text.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok)
        return std::string(text);
    out.resize(out.size() - dstLeft);
    return out;
}

} // namespace tarnhold
