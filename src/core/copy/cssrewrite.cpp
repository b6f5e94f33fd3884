#include "copy/cssrewrite.h"

#include "platform/codepage.h"
#include "text/jconvert.h"
#include "text/urlutils.h"

#include <algorithm>

namespace tarnhold {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsNewline(char c) {
    return c == '\n' || c == '\r' || c == '\f';
}

bool IsNameByte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || u >= 0x80;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

class TScanner {
public:
    TScanner(std::string_view css, bool shiftJis) : css_(css), sjis_(shiftJis) {}

    std::vector<TCssLink> Run() {
        while (pos_ < css_.size()) {
            const char c = css_[pos_];
            if (sjis_ && IsLeadByte(c)) {
                pos_ += 2;
            } else if (c == '/' && Peek(1) == '*') {
                const std::size_t end = css_.find("*/", pos_ + 2);
                pos_ = end == std::string_view::npos ? css_.size() : end + 2;
            } else if (c == '"' || c == '\'') {
                TCssLink link;
                const bool closed = ReadString(link);
                if (closed && !link.Value.empty() &&
                    (import_ || (imageSet_ > 0 && depth_ == imageSet_))) {
                    link.Kind = import_ ? TCssLinkKind::Import : TCssLinkKind::Url;
                    links_.push_back(std::move(link));
                }
                import_ = false;
            } else if (c == '\\') {
                pos_ += 2; // an escaped character of a name
            } else if (c == '(') {
                ++depth_;
                ++pos_;
            } else if (c == ')') {
                if (depth_ > 0)
                    --depth_;
                if (imageSet_ > depth_)
                    imageSet_ = 0;
                ++pos_;
            } else if (c == ';' || c == '{' || c == '}') {
                import_ = false;
                ++pos_;
            } else if (c == '@') {
                ++pos_;
                const std::string name = ReadName();
                if (AnsiSameText(name, "import"))
                    import_ = true;
            } else if (IsNameByte(c)) {
                const std::string name = ReadName();
                if (Peek(0) != '(')
                    continue;
                if (AnsiSameText(name, "url")) {
                    ++pos_;
                    ReadUrl();
                } else if (AnsiSameText(name, "image-set") ||
                           AnsiSameText(name, "-webkit-image-set")) {
                    ++pos_;
                    ++depth_;
                    imageSet_ = depth_;
                }
            } else {
                ++pos_;
            }
        }
        return std::move(links_);
    }

private:
    char Peek(std::size_t ahead) const {
        return pos_ + ahead < css_.size() ? css_[pos_ + ahead] : '\0';
    }

    // A run of name bytes and escapes at pos_, its escapes left as written.
    std::string ReadName() {
        const std::size_t start = pos_;
        while (pos_ < css_.size()) {
            const char c = css_[pos_];
            if (c == '\\' && pos_ + 1 < css_.size() && !IsNewline(css_[pos_ + 1]))
                pos_ += 2;
            else if (sjis_ && IsLeadByte(c))
                pos_ += 2;
            else if (IsNameByte(c))
                ++pos_;
            else
                break;
        }
        pos_ = std::min(pos_, css_.size());
        return std::string(css_.substr(start, pos_ - start));
    }

    // The escape at pos_ (a backslash), decoded into out.
    void ReadEscape(std::string& out) {
        ++pos_;
        if (pos_ >= css_.size())
            return;
        if (HexDigitValue(css_[pos_]) >= 0) {
            std::uint32_t cp = 0;
            for (int n = 0; n < 6 && pos_ < css_.size() && HexDigitValue(css_[pos_]) >= 0; ++n)
                cp = cp * 16 + static_cast<std::uint32_t>(HexDigitValue(css_[pos_++]));
            if (pos_ < css_.size() && IsBlank(css_[pos_])) {
                if (css_[pos_] == '\r' && Peek(1) == '\n')
                    ++pos_;
                ++pos_;
            }
            AppendUtf8(out, cp);
            return;
        }
        if (sjis_ && IsLeadByte(css_[pos_]) && pos_ + 1 < css_.size())
            out.push_back(css_[pos_++]);
        out.push_back(css_[pos_++]);
    }

    // A string at pos_; false (and no link) when a line break ends it.
    bool ReadString(TCssLink& link) {
        const char quote = css_[pos_++];
        link.Quote = quote;
        link.Span.Offset = pos_;
        while (pos_ < css_.size()) {
            const char c = css_[pos_];
            if (c == quote) {
                link.Span.Length = pos_ - link.Span.Offset;
                ++pos_;
                return true;
            }
            if (IsNewline(c))
                return false;
            if (sjis_ && IsLeadByte(c) && pos_ + 1 < css_.size()) {
                link.Value.append(css_.substr(pos_, 2));
                pos_ += 2;
            } else if (c == '\\') {
                if (IsNewline(Peek(1))) {
                    pos_ += css_[pos_ + 1] == '\r' && Peek(2) == '\n' ? 3 : 2;
                } else {
                    ReadEscape(link.Value);
                }
            } else {
                link.Value.push_back(c);
                ++pos_;
            }
        }
        return false; // a string cut off by the end of the sheet
    }

    // The rest of a url( whose "(" has been read.
    void ReadUrl() {
        while (pos_ < css_.size() && IsBlank(css_[pos_]))
            ++pos_;
        TCssLink link;
        link.Kind = import_ ? TCssLinkKind::Import : TCssLinkKind::Url;
        import_ = false;
        if (Peek(0) == '"' || Peek(0) == '\'') {
            const bool closed = ReadString(link);
            while (pos_ < css_.size() && IsBlank(css_[pos_]))
                ++pos_;
            if (Peek(0) == ')')
                ++pos_;
            if (closed && !link.Value.empty())
                links_.push_back(std::move(link));
            return;
        }
        link.Span.Offset = pos_;
        std::size_t end = pos_;
        bool bad = false;
        while (pos_ < css_.size()) {
            const char c = css_[pos_];
            const auto u = static_cast<unsigned char>(c);
            if (c == ')') {
                break;
            } else if (IsBlank(c)) {
                while (pos_ < css_.size() && IsBlank(css_[pos_]))
                    ++pos_;
                if (Peek(0) != ')')
                    bad = true;
                break;
            } else if (c == '"' || c == '\'' || c == '(' || u < 0x20 || u == 0x7F) {
                bad = true;
                break;
            } else if (c == '\\') {
                if (IsNewline(Peek(1))) {
                    bad = true;
                    break;
                }
                ReadEscape(link.Value);
            } else if (sjis_ && IsLeadByte(c) && pos_ + 1 < css_.size()) {
                link.Value.append(css_.substr(pos_, 2));
                pos_ += 2;
            } else {
                link.Value.push_back(c);
                ++pos_;
            }
            end = pos_;
        }
        if (bad) {
            // What is left of a broken url() runs to its ")".
            while (pos_ < css_.size() && css_[pos_] != ')') {
                if (css_[pos_] == '\\' || (sjis_ && IsLeadByte(css_[pos_])))
                    ++pos_;
                ++pos_;
            }
            if (pos_ < css_.size())
                ++pos_;
            return;
        }
        if (pos_ < css_.size())
            ++pos_; // ")"; a url() cut off by the end of the sheet still counts
        link.Span.Length = end - link.Span.Offset;
        if (!link.Value.empty())
            links_.push_back(std::move(link));
    }

    std::string_view css_;
    bool sjis_;
    std::size_t pos_ = 0;
    int depth_ = 0;    // open parentheses
    int imageSet_ = 0; // the depth inside an image-set(), 0 outside
    bool import_ = false;
    std::vector<TCssLink> links_;
};

bool IsShiftJisName(std::string_view name) {
    for (const char* known : {"shift_jis", "shift-jis", "sjis", "x-sjis", "windows-31j", "cp932",
                              "ms_kanji", "csshiftjis", "ms932"})
        if (AnsiSameText(name, known))
            return true;
    return false;
}

TCssCharset CharsetOfName(std::string_view name) {
    name = AnsiTrim(name);
    if (name.size() >= 2 && (name.front() == '"' || name.front() == '\'') &&
        name.back() == name.front())
        name = name.substr(1, name.size() - 2);
    if (name.empty())
        return TCssCharset::Undeclared;
    if (IsShiftJisName(name))
        return TCssCharset::ShiftJis;
    const std::string lower = AnsiLowerCase(name);
    if (lower.rfind("utf-16", 0) == 0 || lower.rfind("utf-32", 0) == 0 ||
        lower.rfind("ucs-", 0) == 0)
        return TCssCharset::Unsupported;
    return TCssCharset::Bytes;
}

} // namespace

std::vector<TCssLink> FindCssLinks(std::string_view css, bool shiftJis) {
    return TScanner(css, shiftJis).Run();
}

std::string CssSafeLink(std::string_view link) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(link.size());
    for (const char c : link) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || c == '"' || c == '\'' || c == '(' || c == ')' || c == '\\' ||
            c == '<' || c == '>' || c == '&') {
            out.push_back('%');
            out.push_back(kHex[u >> 4]);
            out.push_back(kHex[u & 15]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

TCssCharset StylesheetCharset(std::string_view css, std::string_view contentType) {
    if (css.substr(0, 3) == "\xEF\xBB\xBF")
        return TCssCharset::Bytes;
    if (css.substr(0, 2) == "\xFE\xFF" || css.substr(0, 2) == "\xFF\xFE")
        return TCssCharset::Unsupported;
    const std::string type = AnsiLowerCase(contentType);
    if (std::size_t p = type.find("charset="); p != std::string::npos) {
        std::string_view name = std::string_view(contentType).substr(p + 8);
        name = name.substr(0, name.find(';'));
        if (TCssCharset declared = CharsetOfName(name); declared != TCssCharset::Undeclared)
            return declared;
    }
    constexpr std::string_view kRule = "@charset \"";
    if (css.substr(0, kRule.size()) == kRule) {
        const std::string_view rest = css.substr(kRule.size());
        const std::size_t end = rest.find('"');
        if (end != std::string_view::npos && end < 64)
            return CharsetOfName(rest.substr(0, end));
    }
    return TCssCharset::Undeclared;
}

bool NeedsShiftJisCheck(std::string_view css) {
    for (std::size_t p = css.find('\\'); p != std::string_view::npos; p = css.find('\\', p + 1))
        if (p > 0 && IsLeadByte(css[p - 1]))
            return true;
    return false;
}

bool LooksShiftJis(std::string_view text) {
    return !IsValidUtf8(text) && InCodeCheck(text) == jcSjis;
}

} // namespace tarnhold
