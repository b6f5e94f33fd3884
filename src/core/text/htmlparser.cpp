#include "text/htmlparser.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "text/charset.h"
#include "text/jconvert.h"
#include "text/urlutils.h"

#include <algorithm>
#include <utility>

namespace tarnhold {

namespace {

// What browsers make of numeric references that name no character: C1 codes
// as windows-1252 reads those bytes, the rest the replacement character.
void AppendCodePoint(std::string& out, std::uint32_t c) {
    static constexpr std::uint16_t kC1[32] = {
        0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x8D,   0x017D, 0x8F,   0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178,
    };
    if (c >= 0x80 && c <= 0x9F)
        c = kC1[c - 0x80];
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        c = 0xFFFD;
    // A title stays one line.
    if (c == '\r' || c == '\n' || c == '\t')
        c = ' ';
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

// The length of a numeric reference at the start of text ("&#"), its value
// in *value; 0 when there is none.
std::size_t NumericReference(std::string_view text, std::uint32_t* value) {
    std::size_t i = 2;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex)
        ++i;
    const std::size_t digits = i;
    std::uint32_t v = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0)
            break;
        // Past the last code point it stays past it, however long it runs.
        v = v > 0x10FFFF ? v : v * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
    }
    if (i == digits)
        return 0;
    if (i < text.size() && text[i] == ';')
        ++i;
    *value = v;
    return i;
}

// The title's entities: the seven common named ones and numeric references,
// in one pass from left to right, so that "&amp;lt;" becomes "&lt;" and
// stays so.
std::string ReplaceTitleEntities(std::string_view title) {
    static const std::pair<std::string_view, std::string_view> kEntities[] = {
        {"&nbsp;", " "}, {"&copy;", "(c)"}, {"&quot;", "\""}, {"&reg;", "(R)"},
        {"&gt;", ">"},   {"&lt;", "<"},     {"&amp;", "&"},
    };
    std::string out;
    out.reserve(title.size());
    std::size_t done = 0;
    for (std::size_t at = title.find('&'); at != std::string_view::npos; at = title.find('&', at)) {
        const std::string_view rest = title.substr(at);
        std::size_t length = 0;
        std::string_view text;
        std::uint32_t value = 0;
        for (const auto& [entity, replacement] : kEntities) {
            if (rest.substr(0, entity.size()) == entity) {
                length = entity.size();
                text = replacement;
                break;
            }
        }
        if (length == 0 && rest.substr(0, 2) == "&#")
            length = NumericReference(rest, &value);
        if (length == 0) {
            ++at;
            continue;
        }
        out.append(title.substr(done, at - done));
        if (text.empty())
            AppendCodePoint(out, value);
        else
            out.append(text);
        at += length;
        done = at;
    }
    out.append(title.substr(done));
    return out;
}

// The encoding a declared name stands for, as browsers read it; a few names
// that older Japanese pages use count too. Empty for an unknown name.
std::string_view EncodingOfDeclaredName(std::string_view declared) {
    std::string_view encoding = EncodingOfLabel(declared);
    if (encoding.empty()) {
        const std::string name = AnsiReplaceAll(AnsiTrim(declared), "_", "-");
        encoding = EncodingOfLabel(name);
        if (encoding.empty() && (AnsiSameText(name, "x-euc-japan") || AnsiSameText(name, "x-euc")))
            encoding = "EUC-JP";
    }
    return encoding;
}

// The charset a META's content attribute ("text/html; charset=...") names:
// up to a ";" or a blank, without quotes.
std::string MetaContentCharset(std::string_view content) {
    const std::string upper = AnsiUpperCase(content);
    constexpr std::string_view kKey = "CHARSET";
    for (std::size_t at = upper.find(kKey); at != std::string::npos;
         at = upper.find(kKey, at + 1)) {
        std::size_t i = at + kKey.size();
        while (i < content.size() && (content[i] == ' ' || content[i] == '\t'))
            ++i;
        if (i >= content.size() || content[i] != '=')
            continue;
        ++i;
        while (i < content.size() && (content[i] == ' ' || content[i] == '\t'))
            ++i;
        std::size_t end = i;
        if (end < content.size() && (content[end] == '"' || content[end] == '\'')) {
            const char quote = content[end];
            i = ++end;
            while (end < content.size() && content[end] != quote)
                ++end;
        } else {
            while (end < content.size() && content[end] != ';' && content[end] != ' ' &&
                   content[end] != '\t')
                ++end;
        }
        return std::string(content.substr(i, end - i));
    }
    return {};
}

std::string Declared(std::string_view label) {
    std::string name = AnsiUpperCase(label);
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
}

} // namespace

std::uint8_t CharsetCodeOfEncoding(std::string_view encoding) {
    if (encoding.empty())
        return csNone;
    if (encoding == "UTF-8")
        return csUTF8;
    if (encoding == "Shift_JIS")
        return csShiftJIS;
    if (encoding == "EUC-JP")
        return csEUCJP;
    if (encoding == "ISO-2022-JP")
        return csJIS;
    if (encoding == "windows-1252")
        return csLatin1;
    return csDeclared;
}

std::uint8_t CharsetCodeOfName(std::string_view declared) {
    return CharsetCodeOfEncoding(EncodingOfDeclaredName(declared));
}

const char* CharsetCanonicalName(std::uint8_t code) {
    switch (code) {
    case csLatin1:
        return "ISO-8859-1";
    case csShiftJIS:
        return "Shift_JIS";
    case csJIS:
        return "ISO-2022-JP";
    case csEUCJP:
        return "EUC-JP";
    case csUTF8:
        return "UTF-8";
    default:
        return "";
    }
}

std::uint8_t CharsetCodeOfDetection(int jcode) {
    switch (jcode) {
    case jcAscii:
        return csLatin1;
    case jcJisNew:
    case jcJisOld:
        return csJIS;
    case jcEuc:
        return csEUCJP;
    case jcSjis:
        return csShiftJIS;
    default: // not text, or EUC-JP and Shift-JIS undecided
        return csNone;
    }
}

std::string MakeTitle(std::string_view raw, std::string_view encoding) {
    if (raw.empty())
        return {};
    return ReplaceTitleEntities(NormalizeAttributeValue(DecodeToUtf8(raw, encoding)));
}

void THTMLParser::Clear() {
    fileName_.clear();
    tags_.clear();
    charsetCode_ = csNone;
    charset_.clear();
    encoding_.clear();
    declared_ = false;
    title_.clear();
    data_.clear();
}

void THTMLParser::SetHeaderCharset(std::string_view label) {
    headerCharset_.assign(label);
}

bool THTMLParser::FirstTag(std::size_t& pos, THTMLTag& tag) const {
    pos = 0;
    return NextTag(pos, tag);
}

bool THTMLParser::NextTag(std::size_t& pos, THTMLTag& tag) const {
    return tarnhold::NextTag(data_, pos, tag);
}

bool THTMLParser::LoadFromFile(const std::filesystem::path& fileName, int* error) {
    if (fileName.native() == fileName_.native())
        return !fileName_.empty();
    Clear();
    std::string data;
    if (!ReadWholeFile(fileName, data, error))
        return false;
    data_ = std::move(data);
    fileName_ = fileName;
    Finish();
    return true;
}

void THTMLParser::LoadFromText(std::string_view text) {
    if (text == data_ && !data_.empty())
        return;
    Clear();
    data_.assign(text);
    Finish();
}

// The head's tokens, the encoding and the title.
void THTMLParser::Finish() {
    std::size_t bom = 0;
    std::string_view encoding = EncodingOfBom(data_, &bom);
    if (!encoding.empty() && !IsAsciiCompatible(encoding)) {
        // A UTF-16 page: its head is read from its UTF-8 form.
        THTMLParser utf8;
        utf8.LoadFromText(DecodeToUtf8(std::string_view(data_).substr(bom), encoding));
        title_ = utf8.title_;
        charset_ = std::string(encoding);
        encoding_ = std::string(encoding);
        charsetCode_ = CharsetCodeOfEncoding(encoding);
        declared_ = true;
        return;
    }
    CollectHead();
    std::string metaLabel;
    std::string rawTitle = ReadHead(metaLabel);
    if (!encoding.empty()) {
        charset_ = std::string(encoding);
    } else if (std::string_view header = EncodingOfDeclaredName(headerCharset_); !header.empty()) {
        encoding = header;
        charset_ = Declared(headerCharset_);
    } else if (!metaLabel.empty()) {
        encoding = EncodingOfDeclaredName(metaLabel);
        // A page that says it is UTF-16 in ASCII is not.
        if (!IsAsciiCompatible(encoding) && encoding != "ISO-2022-JP")
            encoding = "UTF-8";
        else if (encoding == "x-user-defined")
            encoding = "windows-1252";
        charset_ = Declared(metaLabel);
    }
    if (!encoding.empty()) {
        encoding_ = std::string(encoding);
        charsetCode_ = CharsetCodeOfEncoding(encoding);
        declared_ = true;
    } else {
        encoding_ = std::string(DetectEncoding(data_));
        charsetCode_ = CharsetCodeOfEncoding(encoding_);
        if (encoding_ == "Shift_JIS" || encoding_ == "windows-1252") {
            // Binary or undecided text stays undetermined.
            charsetCode_ = CharsetCodeOfDetection(InCodeCheck(data_));
        }
        charset_ = CharsetCanonicalName(charsetCode_);
    }
    title_ = MakeTitle(rawTitle, encoding_);
}
// The tokens after the first HEAD tag up to the /HEAD tag or the end of the
// page. A page without a HEAD tag has no head at all.
void THTMLParser::CollectHead() {
    std::size_t pos = 0;
    THTMLTag tag;
    bool head = false;
    while (!head && NextTag(pos, tag))
        head = tag.Kind() == tkTag && AnsiSameText(tag.Name(), "HEAD");
    if (!head)
        return;
    for (;;) {
        auto token = std::make_unique<THTMLTag>();
        if (!NextTag(pos, *token) ||
            (token->Kind() == tkTag && AnsiSameText(token->Name(), "/HEAD")))
            break;
        tags_.push_back(std::move(token));
    }
}

// The charset of the first META that declares a known one (<meta charset>,
// or http-equiv Content-Type with a content attribute, in either order) and
// the raw text token straight after the first TITLE tag.
std::string THTMLParser::ReadHead(std::string& metaLabel) {
    std::string title;
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        const THTMLTag& tag = *tags_[i];
        if (metaLabel.empty() && AnsiSameText(tag.Name(), "META")) {
            std::string label;
            bool contentType = false;
            std::string content;
            for (int a = 0; a < tag.Count(); ++a) {
                const THTMLEllement& e = tag.Elements(a);
                if (AnsiSameText(e.Name(), "charset") && label.empty())
                    label = e.Value();
                else if (AnsiSameText(e.Name(), "http-equiv"))
                    contentType = AnsiSameText(AnsiTrim(e.Value()), "Content-Type");
                else if (AnsiSameText(e.Name(), "content"))
                    content = e.Value();
            }
            if (label.empty() && contentType)
                label = MetaContentCharset(content);
            if (!label.empty() && !EncodingOfDeclaredName(label).empty())
                metaLabel = label;
        } else if (title.empty() && AnsiSameText(tag.Name(), "TITLE") && i + 1 < tags_.size()) {
            ++i; // the token after TITLE is not looked at again
            if (tags_[i]->Kind() == tkText)
                title = tags_[i]->Text();
        }
    }
    return title;
}

} // namespace tarnhold
