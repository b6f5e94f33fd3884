#include "text/htmlparser.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "text/jconvert.h"
#include "text/urlutils.h"

#include <algorithm>
#include <utility>

namespace tarnhold {

namespace {

struct TCharsetName {
    const char* name;
    std::uint8_t code;
};

const TCharsetName kDeclaredNames[] = {
    {"x-sjis", csShiftJIS},   {"shift-jis", csShiftJIS}, {"windows-1252", csShiftJIS},
    {"ISO-2022-JP", csJIS},   {"EUC-JP", csEUCJP},       {"x-EUC-JP", csEUCJP},
    {"x-euc-japan", csEUCJP}, {"UTF-8", csUTF8},         {"us-ascii", csLatin1},
    {"iso-8859-1", csLatin1},
};

// In this order: "&amp;" last, so that "&amp;lt;" becomes "&lt;" and stays so.
std::string ReplaceTitleEntities(std::string_view title) {
    static const std::pair<std::string_view, std::string_view> kEntities[] = {
        {"&nbsp;", " "}, {"&copy;", "(c)"}, {"&quot;", "\""}, {"&reg;", "(R)"},
        {"&gt;", ">"},   {"&lt;", "<"},     {"&amp;", "&"},
    };
    std::string out(title);
    for (const auto& [entity, text] : kEntities) {
        if (out.find(entity) != std::string::npos)
            out = AnsiReplaceAll(out, entity, text);
    }
    return out;
}

} // namespace

std::uint8_t CharsetCodeOfName(std::string_view declared) {
    std::string name = AnsiReplaceAll(declared, "_", "-");
    std::uint8_t code = csDeclared;
    for (const auto& entry : kDeclaredNames) {
        if (AnsiSameText(name, entry.name))
            code = entry.code;
    }
    return code;
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

std::string MakeTitle(std::string_view raw, std::uint8_t charsetCode) {
    std::string title;
    switch (charsetCode) {
    case csJIS:
        title = jis2sjis(raw);
        break;
    case csEUCJP:
        title = euc2sjis(raw);
        break;
    case csUTF8:
        title = DecodeUTF8Text(raw);
        break;
    default:
        title = raw;
        break;
    }
    return ReplaceTitleEntities(NormalizeAttributeValue(title));
}

void THTMLParser::Clear() {
    fileName_.clear();
    tags_.clear();
    charsetCode_ = csNone;
    charset_.clear();
    title_.clear();
    data_.clear();
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
    CollectHead();
    ReadHead();
    if (charsetCode_ == csNone) {
        charsetCode_ = CharsetCodeOfDetection(InCodeCheck(data_));
        charset_ = CharsetCanonicalName(charsetCode_);
    }
    title_ = MakeTitle(title_, charsetCode_);
    return true;
}

void THTMLParser::LoadFromText(std::string_view text) {
    if (text == data_)
        return;
    Clear();
    data_.assign(text);
    CollectHead();
    ReadHead();
    if (charsetCode_ == csNone)
        charsetCode_ = CharsetCodeOfDetection(InCodeCheck(data_));
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

// The first usable META Content-Type declaration and the first TITLE. A META
// counts only with http-equiv as its first attribute and content as its
// second; the title is the raw text token straight after the TITLE tag.
void THTMLParser::ReadHead() {
    for (std::size_t i = 0; i < tags_.size(); ++i) {
        const THTMLTag& tag = *tags_[i];
        if (charsetCode_ == csNone && AnsiSameText(tag.Name(), "META")) {
            if (tag.Count() < 2 || !AnsiSameText(tag.Elements(0).Name(), "HTTP-EQUIV") ||
                !AnsiSameText(tag.Elements(0).Value(), "Content-Type") ||
                !AnsiSameText(tag.Elements(1).Name(), "content"))
                continue;
            std::string content = AnsiUpperCase(tag.Elements(1).Value());
            content.erase(std::remove(content.begin(), content.end(), ' '), content.end());
            constexpr std::string_view kKey = "CHARSET=";
            std::size_t at = AnsiFind(content, kKey);
            if (at == std::string::npos)
                continue;
            // Everything after it: a parameter that follows stays attached.
            charset_ = content.substr(at + kKey.size());
            charsetCode_ = CharsetCodeOfName(charset_);
        } else if (title_.empty() && AnsiSameText(tag.Name(), "TITLE") && i + 1 < tags_.size()) {
            ++i; // the token after TITLE is not looked at again
            if (tags_[i]->Kind() == tkText)
                title_ = tags_[i]->Text();
        }
    }
}

} // namespace tarnhold
