#include "text/charset.h"

#include "platform/codepage.h"
#include "text/jconvert.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <iconv.h>
#include <map>
#include <memory>

namespace tarnhold {

namespace {

struct TLabel {
    std::string_view Label;
    std::string_view Encoding;
};

// Every label browsers know, sorted by label, with the encoding it names.
constexpr TLabel kLabels[] = {
    {"866", "IBM866"},
    {"ansi_x3.4-1968", "windows-1252"},
    {"arabic", "ISO-8859-6"},
    {"ascii", "windows-1252"},
    {"asmo-708", "ISO-8859-6"},
    {"big5", "Big5"},
    {"big5-hkscs", "Big5"},
    {"chinese", "GBK"},
    {"cn-big5", "Big5"},
    {"cp1250", "windows-1250"},
    {"cp1251", "windows-1251"},
    {"cp1252", "windows-1252"},
    {"cp1253", "windows-1253"},
    {"cp1254", "windows-1254"},
    {"cp1255", "windows-1255"},
    {"cp1256", "windows-1256"},
    {"cp1257", "windows-1257"},
    {"cp1258", "windows-1258"},
    {"cp819", "windows-1252"},
    {"cp866", "IBM866"},
    {"csbig5", "Big5"},
    {"cseuckr", "EUC-KR"},
    {"cseucpkdfmtjapanese", "EUC-JP"},
    {"csgb2312", "GBK"},
    {"csibm866", "IBM866"},
    {"csiso2022jp", "ISO-2022-JP"},
    {"csiso2022kr", "replacement"},
    {"csiso58gb231280", "GBK"},
    {"csiso88596e", "ISO-8859-6"},
    {"csiso88596i", "ISO-8859-6"},
    {"csiso88598e", "ISO-8859-8"},
    {"csiso88598i", "ISO-8859-8-I"},
    {"csisolatin1", "windows-1252"},
    {"csisolatin2", "ISO-8859-2"},
    {"csisolatin3", "ISO-8859-3"},
    {"csisolatin4", "ISO-8859-4"},
    {"csisolatin5", "windows-1254"},
    {"csisolatin6", "ISO-8859-10"},
    {"csisolatin9", "ISO-8859-15"},
    {"csisolatinarabic", "ISO-8859-6"},
    {"csisolatincyrillic", "ISO-8859-5"},
    {"csisolatingreek", "ISO-8859-7"},
    {"csisolatinhebrew", "ISO-8859-8"},
    {"cskoi8r", "KOI8-R"},
    {"csksc56011987", "EUC-KR"},
    {"csmacintosh", "macintosh"},
    {"csshiftjis", "Shift_JIS"},
    {"csunicode", "UTF-16LE"},
    {"cyrillic", "ISO-8859-5"},
    {"dos-874", "windows-874"},
    {"ecma-114", "ISO-8859-6"},
    {"ecma-118", "ISO-8859-7"},
    {"elot_928", "ISO-8859-7"},
    {"euc-jp", "EUC-JP"},
    {"euc-kr", "EUC-KR"},
    {"gb18030", "gb18030"},
    {"gb2312", "GBK"},
    {"gb_2312", "GBK"},
    {"gb_2312-80", "GBK"},
    {"gbk", "GBK"},
    {"greek", "ISO-8859-7"},
    {"greek8", "ISO-8859-7"},
    {"hebrew", "ISO-8859-8"},
    {"hz-gb-2312", "replacement"},
    {"ibm819", "windows-1252"},
    {"ibm866", "IBM866"},
    {"iso-10646-ucs-2", "UTF-16LE"},
    {"iso-2022-cn", "replacement"},
    {"iso-2022-cn-ext", "replacement"},
    {"iso-2022-jp", "ISO-2022-JP"},
    {"iso-2022-kr", "replacement"},
    {"iso-8859-1", "windows-1252"},
    {"iso-8859-10", "ISO-8859-10"},
    {"iso-8859-11", "windows-874"},
    {"iso-8859-13", "ISO-8859-13"},
    {"iso-8859-14", "ISO-8859-14"},
    {"iso-8859-15", "ISO-8859-15"},
    {"iso-8859-16", "ISO-8859-16"},
    {"iso-8859-2", "ISO-8859-2"},
    {"iso-8859-3", "ISO-8859-3"},
    {"iso-8859-4", "ISO-8859-4"},
    {"iso-8859-5", "ISO-8859-5"},
    {"iso-8859-6", "ISO-8859-6"},
    {"iso-8859-6-e", "ISO-8859-6"},
    {"iso-8859-6-i", "ISO-8859-6"},
    {"iso-8859-7", "ISO-8859-7"},
    {"iso-8859-8", "ISO-8859-8"},
    {"iso-8859-8-e", "ISO-8859-8"},
    {"iso-8859-8-i", "ISO-8859-8-I"},
    {"iso-8859-9", "windows-1254"},
    {"iso-ir-100", "windows-1252"},
    {"iso-ir-101", "ISO-8859-2"},
    {"iso-ir-109", "ISO-8859-3"},
    {"iso-ir-110", "ISO-8859-4"},
    {"iso-ir-126", "ISO-8859-7"},
    {"iso-ir-127", "ISO-8859-6"},
    {"iso-ir-138", "ISO-8859-8"},
    {"iso-ir-144", "ISO-8859-5"},
    {"iso-ir-148", "windows-1254"},
    {"iso-ir-149", "EUC-KR"},
    {"iso-ir-157", "ISO-8859-10"},
    {"iso-ir-58", "GBK"},
    {"iso8859-1", "windows-1252"},
    {"iso8859-10", "ISO-8859-10"},
    {"iso8859-11", "windows-874"},
    {"iso8859-13", "ISO-8859-13"},
    {"iso8859-14", "ISO-8859-14"},
    {"iso8859-15", "ISO-8859-15"},
    {"iso8859-2", "ISO-8859-2"},
    {"iso8859-3", "ISO-8859-3"},
    {"iso8859-4", "ISO-8859-4"},
    {"iso8859-5", "ISO-8859-5"},
    {"iso8859-6", "ISO-8859-6"},
    {"iso8859-7", "ISO-8859-7"},
    {"iso8859-8", "ISO-8859-8"},
    {"iso8859-9", "windows-1254"},
    {"iso88591", "windows-1252"},
    {"iso885910", "ISO-8859-10"},
    {"iso885911", "windows-874"},
    {"iso885913", "ISO-8859-13"},
    {"iso885914", "ISO-8859-14"},
    {"iso885915", "ISO-8859-15"},
    {"iso88592", "ISO-8859-2"},
    {"iso88593", "ISO-8859-3"},
    {"iso88594", "ISO-8859-4"},
    {"iso88595", "ISO-8859-5"},
    {"iso88596", "ISO-8859-6"},
    {"iso88597", "ISO-8859-7"},
    {"iso88598", "ISO-8859-8"},
    {"iso88599", "windows-1254"},
    {"iso_8859-1", "windows-1252"},
    {"iso_8859-15", "ISO-8859-15"},
    {"iso_8859-1:1987", "windows-1252"},
    {"iso_8859-2", "ISO-8859-2"},
    {"iso_8859-2:1987", "ISO-8859-2"},
    {"iso_8859-3", "ISO-8859-3"},
    {"iso_8859-3:1988", "ISO-8859-3"},
    {"iso_8859-4", "ISO-8859-4"},
    {"iso_8859-4:1988", "ISO-8859-4"},
    {"iso_8859-5", "ISO-8859-5"},
    {"iso_8859-5:1988", "ISO-8859-5"},
    {"iso_8859-6", "ISO-8859-6"},
    {"iso_8859-6:1987", "ISO-8859-6"},
    {"iso_8859-7", "ISO-8859-7"},
    {"iso_8859-7:1987", "ISO-8859-7"},
    {"iso_8859-8", "ISO-8859-8"},
    {"iso_8859-8:1988", "ISO-8859-8"},
    {"iso_8859-9", "windows-1254"},
    {"iso_8859-9:1989", "windows-1254"},
    {"koi", "KOI8-R"},
    {"koi8", "KOI8-R"},
    {"koi8-r", "KOI8-R"},
    {"koi8-ru", "KOI8-U"},
    {"koi8-u", "KOI8-U"},
    {"koi8_r", "KOI8-R"},
    {"korean", "EUC-KR"},
    {"ks_c_5601-1987", "EUC-KR"},
    {"ks_c_5601-1989", "EUC-KR"},
    {"ksc5601", "EUC-KR"},
    {"ksc_5601", "EUC-KR"},
    {"l1", "windows-1252"},
    {"l2", "ISO-8859-2"},
    {"l3", "ISO-8859-3"},
    {"l4", "ISO-8859-4"},
    {"l5", "windows-1254"},
    {"l6", "ISO-8859-10"},
    {"l9", "ISO-8859-15"},
    {"latin1", "windows-1252"},
    {"latin2", "ISO-8859-2"},
    {"latin3", "ISO-8859-3"},
    {"latin4", "ISO-8859-4"},
    {"latin5", "windows-1254"},
    {"latin6", "ISO-8859-10"},
    {"logical", "ISO-8859-8-I"},
    {"mac", "macintosh"},
    {"macintosh", "macintosh"},
    {"ms932", "Shift_JIS"},
    {"ms_kanji", "Shift_JIS"},
    {"replacement", "replacement"},
    {"shift-jis", "Shift_JIS"},
    {"shift_jis", "Shift_JIS"},
    {"sjis", "Shift_JIS"},
    {"sun_eu_greek", "ISO-8859-7"},
    {"tis-620", "windows-874"},
    {"ucs-2", "UTF-16LE"},
    {"unicode", "UTF-16LE"},
    {"unicode-1-1-utf-8", "UTF-8"},
    {"unicode11utf8", "UTF-8"},
    {"unicode20utf8", "UTF-8"},
    {"unicodefeff", "UTF-16LE"},
    {"unicodefffe", "UTF-16BE"},
    {"us-ascii", "windows-1252"},
    {"utf-16", "UTF-16LE"},
    {"utf-16be", "UTF-16BE"},
    {"utf-16le", "UTF-16LE"},
    {"utf-8", "UTF-8"},
    {"utf8", "UTF-8"},
    {"visual", "ISO-8859-8"},
    {"windows-1250", "windows-1250"},
    {"windows-1251", "windows-1251"},
    {"windows-1252", "windows-1252"},
    {"windows-1253", "windows-1253"},
    {"windows-1254", "windows-1254"},
    {"windows-1255", "windows-1255"},
    {"windows-1256", "windows-1256"},
    {"windows-1257", "windows-1257"},
    {"windows-1258", "windows-1258"},
    {"windows-31j", "Shift_JIS"},
    {"windows-874", "windows-874"},
    {"windows-949", "EUC-KR"},
    {"x-cp1250", "windows-1250"},
    {"x-cp1251", "windows-1251"},
    {"x-cp1252", "windows-1252"},
    {"x-cp1253", "windows-1253"},
    {"x-cp1254", "windows-1254"},
    {"x-cp1255", "windows-1255"},
    {"x-cp1256", "windows-1256"},
    {"x-cp1257", "windows-1257"},
    {"x-cp1258", "windows-1258"},
    {"x-euc-jp", "EUC-JP"},
    {"x-gbk", "GBK"},
    {"x-mac-cyrillic", "x-mac-cyrillic"},
    {"x-mac-roman", "macintosh"},
    {"x-mac-ukrainian", "x-mac-cyrillic"},
    {"x-sjis", "Shift_JIS"},
    {"x-unicode20utf8", "UTF-8"},
    {"x-user-defined", "x-user-defined"},
    {"x-x-big5", "Big5"},
};

// The name iconv knows an encoding by; the browsers' encodings are the
// Windows code pages where the two differ.
const char* IconvName(std::string_view encoding) {
    static constexpr std::pair<std::string_view, const char*> kNames[] = {
        {"Shift_JIS", "CP932"},
        {"EUC-KR", "CP949"},
        {"Big5", "BIG5-HKSCS"},
        {"GBK", "GB18030"},
        {"gb18030", "GB18030"},
        {"ISO-8859-8-I", "ISO-8859-8"},
        {"IBM866", "IBM866"},
        {"KOI8-R", "KOI8-R"},
        {"KOI8-U", "KOI8-U"},
        {"macintosh", "MACINTOSH"},
        {"x-mac-cyrillic", "MAC-CYRILLIC"},
        {"windows-874", "CP874"},
        {"windows-1250", "CP1250"},
        {"windows-1251", "CP1251"},
        {"windows-1252", "CP1252"},
        {"windows-1253", "CP1253"},
        {"windows-1254", "CP1254"},
        {"windows-1255", "CP1255"},
        {"windows-1256", "CP1256"},
        {"windows-1257", "CP1257"},
        {"windows-1258", "CP1258"},
        {"EUC-JP", "EUC-JP-MS"},
        {"ISO-2022-JP", "ISO-2022-JP"},
        {"UTF-16LE", "UTF-16LE"},
        {"UTF-16BE", "UTF-16BE"},
    };
    for (const auto& [name, iconvName] : kNames)
        if (name == encoding)
            return iconvName;
    if (encoding.substr(0, 9) == "ISO-8859-") {
        static const std::map<std::string_view, const char*> kIso = {
            {"ISO-8859-2", "ISO-8859-2"},   {"ISO-8859-3", "ISO-8859-3"},
            {"ISO-8859-4", "ISO-8859-4"},   {"ISO-8859-5", "ISO-8859-5"},
            {"ISO-8859-6", "ISO-8859-6"},   {"ISO-8859-7", "ISO-8859-7"},
            {"ISO-8859-8", "ISO-8859-8"},   {"ISO-8859-10", "ISO-8859-10"},
            {"ISO-8859-13", "ISO-8859-13"}, {"ISO-8859-14", "ISO-8859-14"},
            {"ISO-8859-15", "ISO-8859-15"}, {"ISO-8859-16", "ISO-8859-16"},
        };
        if (auto it = kIso.find(encoding); it != kIso.end())
            return it->second;
    }
    return nullptr;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool SameTextAscii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-8 with every invalid sequence replaced by U+FFFD.
std::string RepairUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (std::size_t n = Utf8SequenceLength(text, i); n > 0) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            out += kReplacement;
            ++i;
        }
    }
    return out;
}

// One iconv descriptor per encoding and thread, opened when first needed.
class TDecoders {
public:
    ~TDecoders() {
        for (auto& [name, cd] : open_)
            if (cd != reinterpret_cast<iconv_t>(-1))
                iconv_close(cd);
    }
    iconv_t Get(const char* name) {
        auto [it, inserted] = open_.try_emplace(name, reinterpret_cast<iconv_t>(-1));
        if (inserted)
            it->second = iconv_open("UTF-8", name);
        return it->second;
    }

private:
    std::map<std::string, iconv_t, std::less<>> open_;
};

std::string IconvToUtf8(std::string_view text, const char* name) {
    thread_local TDecoders decoders;
    iconv_t cd = decoders.Get(name);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    out.reserve(text.size() + text.size() / 2 + 16);
    std::array<char, 16 * 1024> buffer;
    char* src = const_cast<char*>(text.data());
    std::size_t srcLeft = text.size();
    for (;;) {
        char* dst = buffer.data();
        std::size_t dstLeft = buffer.size();
        const std::size_t r = srcLeft == 0 ? iconv(cd, nullptr, nullptr, &dst, &dstLeft)
                                           : iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        const int err = r == static_cast<std::size_t>(-1) ? errno : 0;
        out.append(buffer.data(), buffer.size() - dstLeft);
        if (err == E2BIG)
            continue;
        if (err == EILSEQ || err == EINVAL) {
            // A byte that starts nothing valid, or a sequence cut off at the
            // end: one replacement character, and on after that byte.
            out += kReplacement;
            ++src;
            --srcLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        if (err != 0 || srcLeft == 0) {
            if (err == 0) {
                // Flush a pending shift state.
                dst = buffer.data();
                dstLeft = buffer.size();
                iconv(cd, nullptr, nullptr, &dst, &dstLeft);
                out.append(buffer.data(), buffer.size() - dstLeft);
            }
            break;
        }
    }
    return out;
}

} // namespace

std::string_view EncodingOfLabel(std::string_view label) {
    label = Trim(label);
    if (label.empty() || label.size() > 32)
        return {};
    std::string lower(label);
    std::transform(lower.begin(), lower.end(), lower.begin(), Lower);
    auto it =
        std::lower_bound(std::begin(kLabels), std::end(kLabels), lower,
                         [](const TLabel& l, const std::string& key) { return l.Label < key; });
    if (it != std::end(kLabels) && it->Label == lower)
        return it->Encoding;
    return {};
}

std::string_view EncodingOfBom(std::string_view data, std::size_t* bomLength) {
    std::size_t length = 0;
    std::string_view encoding;
    if (data.substr(0, 3) == "\xEF\xBB\xBF") {
        length = 3;
        encoding = "UTF-8";
    } else if (data.substr(0, 2) == "\xFF\xFE") {
        length = 2;
        encoding = "UTF-16LE";
    } else if (data.substr(0, 2) == "\xFE\xFF") {
        length = 2;
        encoding = "UTF-16BE";
    }
    if (bomLength != nullptr)
        *bomLength = length;
    return encoding;
}

std::string CharsetParameter(std::string_view contentType) {
    // Parameters follow the media type, each "; name=value", the value
    // perhaps quoted.
    std::size_t at = contentType.find(';');
    while (at != std::string_view::npos) {
        std::string_view rest = contentType.substr(at + 1);
        std::size_t end = rest.find(';');
        std::string_view param = Trim(rest.substr(0, end));
        std::size_t eq = param.find('=');
        if (eq != std::string_view::npos && SameTextAscii(Trim(param.substr(0, eq)), "charset")) {
            std::string_view value = Trim(param.substr(eq + 1));
            if (value.size() >= 2 && value.front() == '"') {
                value.remove_prefix(1);
                value = value.substr(0, value.find('"'));
            }
            return std::string(Trim(value));
        }
        at = end == std::string_view::npos ? end : at + 1 + end;
    }
    return {};
}

std::string HeaderValue(std::string_view head, std::string_view name) {
    for (std::size_t pos = 0; pos < head.size();) {
        std::size_t end = head.find('\n', pos);
        if (end == std::string_view::npos)
            end = head.size();
        std::string_view line = head.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && SameTextAscii(Trim(line.substr(0, colon)), name))
            return std::string(Trim(line.substr(colon + 1)));
    }
    return {};
}

std::string_view DetectEncoding(std::string_view text) {
    if (std::string_view bom = EncodingOfBom(text); !bom.empty())
        return bom;
    bool beyondAscii = false;
    bool utf8 = true;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0) {
            // A sequence cut off at the very end of a sample still counts.
            utf8 =
                text.size() - i < 4 && static_cast<unsigned char>(text[i]) >= 0xC2 &&
                static_cast<unsigned char>(text[i]) <= 0xF4 &&
                std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 1, text.end(),
                            [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; });
            break;
        }
        beyondAscii = beyondAscii || n > 1;
        i += n;
    }
    if (beyondAscii && utf8)
        return "UTF-8";
    switch (InCodeCheck(text)) {
    case jcJisNew:
    case jcJisOld:
        return "ISO-2022-JP";
    case jcEuc:
        return "EUC-JP";
    case jcSjis:
    case jcEucOrSjis:
        return "Shift_JIS";
    default:
        return "windows-1252";
    }
}

bool IsAsciiCompatible(std::string_view encoding) {
    return encoding != "UTF-16LE" && encoding != "UTF-16BE" && encoding != "ISO-2022-JP" &&
           encoding != "replacement";
}

std::string DecodeToUtf8(std::string_view text, std::string_view encoding) {
    if (encoding == "UTF-8")
        return RepairUtf8(text);
    if (encoding == "replacement")
        return text.empty() ? std::string() : std::string(kReplacement);
    if (encoding == "x-user-defined") {
        std::string out;
        out.reserve(text.size() * 2);
        for (char c : text) {
            const auto u = static_cast<unsigned char>(c);
            AppendUtf8(out, u < 0x80 ? char32_t{u} : char32_t{0xF780u + u - 0x80});
        }
        return out;
    }
    const bool plainAscii = std::none_of(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0x80) != 0 || c == 0x1B || c == '\0';
    });
    if (plainAscii && IsAsciiCompatible(encoding))
        return std::string(text);
    const char* name = IconvName(encoding);
    if (name == nullptr)
        name = "CP1252";
    return IconvToUtf8(text, name);
}

std::string LinkAsRequested(std::string_view link, std::string_view encoding) {
    const bool plain = std::none_of(link.begin(), link.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0x80) != 0;
    });
    if (plain || encoding.empty() || encoding == "Shift_JIS" || encoding == "EUC-JP" ||
        encoding == "ISO-2022-JP")
        return std::string(link);
    const std::string utf8 = DecodeToUtf8(link, encoding);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size() * 3);
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += '%';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        }
    }
    return out;
}

int Utf8CompareText(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(Lower(a[i]));
        const auto y = static_cast<unsigned char>(Lower(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace tarnhold
