// The links beyond href, src and background: srcset candidates, single-URL
// attributes of media and lazy loaders, style attributes, <style> blocks and
// stylesheets.
#include "copy/pagelinks.h"

#include "copy/cssrewrite.h"
#include "copy/rebuildpage.h"
#include "copy/srcset.h"
#include "platform/codepage.h"
#include "text/htmlparser.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"

#include <cstdint>
#include <vector>

namespace tarnhold {

namespace {

// Attributes that hold a srcset.
bool IsSrcsetName(std::string_view name) {
    return name == "srcset" || name == "imagesrcset" || name == "data-srcset";
}

// Attributes that hold the URL of one embedded resource (besides src and
// background).
bool IsResourceName(std::string_view tagName, std::string_view name) {
    return name == "poster" || name == "data-src" || (name == "data" && tagName == "object");
}

// A srcset URL as it can stand in the list: no blank, and no comma at its
// end that would be read as the end of the candidate.
std::string SrcsetSafeLink(std::string_view link) {
    std::string out = CssSafeLink(link);
    if (!out.empty() && out.back() == ',') {
        out.pop_back();
        out += "%2C";
    }
    return out;
}

// An attribute value with its character references decoded, and for each
// byte of the decoded text (and its end) where it came from in value.
struct TDecoded {
    std::string Text;
    std::vector<std::size_t> From;
};

TDecoded DecodeReferences(std::string_view value) {
    TDecoded d;
    d.Text.reserve(value.size());
    d.From.reserve(value.size() + 1);
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] == '&') {
            const std::size_t semi = value.find(';', i + 1);
            if (semi != std::string_view::npos && semi - i <= 10) {
                const std::string name = AnsiLowerCase(value.substr(i + 1, semi - i - 1));
                int c = -1;
                if (name == "lt")
                    c = '<';
                else if (name == "gt")
                    c = '>';
                else if (name == "quot")
                    c = '"';
                else if (name == "amp")
                    c = '&';
                else if (name == "apos")
                    c = '\'';
                else if (name.size() >= 2 && name[0] == '#') {
                    const bool hex = name[1] == 'x';
                    std::uint32_t n = 0;
                    bool ok = name.size() > (hex ? 2u : 1u);
                    for (std::size_t k = hex ? 2 : 1; ok && k < name.size(); ++k) {
                        const char h = name[k];
                        int v = h >= '0' && h <= '9'          ? h - '0'
                                : hex && h >= 'a' && h <= 'f' ? h - 'a' + 10
                                                              : -1;
                        ok = v >= 0 && n < 0x10000;
                        n = n * (hex ? 16 : 10) + static_cast<std::uint32_t>(v < 0 ? 0 : v);
                    }
                    // Only ASCII is decoded: it is all that matters to a sheet's syntax.
                    if (ok && n > 0 && n < 0x80)
                        c = static_cast<int>(n);
                }
                if (c >= 0) {
                    d.Text.push_back(static_cast<char>(c));
                    d.From.push_back(i);
                    i = semi + 1;
                    continue;
                }
            }
        }
        d.Text.push_back(value[i]);
        d.From.push_back(i);
        ++i;
    }
    d.From.push_back(value.size());
    return d;
}

} // namespace

std::string SafeFragment(std::string_view fragment) {
    // The characters that end an unquoted url() are the ones that break an
    // attribute or a quoted link.
    return CssSafeLink(fragment);
}

bool IsEmbeddingLink(const THTMLTag& tag) {
    for (int i = 0; i < tag.Count(); ++i) {
        if (AnsiLowerCase(tag.Elements(i).Name()) != "rel")
            continue;
        const std::string rel = AnsiLowerCase(tag.Elements(i).Value());
        std::size_t pos = 0;
        while (pos < rel.size()) {
            const std::size_t start = rel.find_first_not_of(" \t\n\r\f", pos);
            if (start == std::string::npos)
                break;
            std::size_t end = rel.find_first_of(" \t\n\r\f", start);
            if (end == std::string::npos)
                end = rel.size();
            const std::string_view word = std::string_view(rel).substr(start, end - start);
            if (word == "stylesheet" || word == "icon" || word == "apple-touch-icon" ||
                word == "apple-touch-icon-precomposed" || word == "mask-icon" ||
                word == "preload" || word == "modulepreload")
                return true;
            pos = end;
        }
    }
    return false;
}

std::size_t FindStyleEnd(std::string_view data, std::size_t pos) {
    for (std::size_t p = data.find('<', pos); p != std::string_view::npos;
         p = data.find('<', p + 1)) {
        if (AnsiLowerCase(data.substr(p, 7)) != "</style")
            continue;
        const char after = p + 7 < data.size() ? data[p + 7] : '>';
        if (after == '>' || after == '/' || after == ' ' || after == '\t' || after == '\n' ||
            after == '\r' || after == '\f')
            return p;
    }
    return data.size();
}

bool RawValue(const THTMLEllement& element, std::string_view& raw) {
    if (element.Equal().empty())
        return false;
    std::string_view text = element.Text();
    const std::size_t head = element.Name().size() + element.Equal().size();
    const std::size_t quotes = 2 * element.Quote().size();
    if (text.size() < head + quotes || text.substr(0, element.Name().size()) != element.Name())
        return false;
    text.remove_prefix(head);
    if (!element.Quote().empty()) {
        if (text.front() != element.Quote().front() || text.back() != element.Quote().front())
            return false;
        text = text.substr(1, text.size() - 2);
    }
    raw = text;
    return true;
}

bool TPageRewriter::RewriteOtherAttribute(std::string_view base, const std::string& tagName,
                                          const std::string& name, THTMLEllement& element,
                                          bool write) {
    std::string link;
    if (IsResourceName(tagName, name)) {
        const std::string value = element.Value();
        if (!IsScriptOrMail(value) && LinkTo(base, DecodeLinkEntities(value), value, true, link) &&
            write)
            element.SetValue(link);
        return true;
    }
    const bool srcset = IsSrcsetName(name);
    if (!srcset && name != "style")
        return false;
    std::string_view raw;
    if (!RawValue(element, raw))
        return true;
    std::string rewritten;
    if (srcset) {
        std::size_t done = 0;
        for (const TTextSpan& span : SrcsetUrls(raw)) {
            const std::string_view url = raw.substr(span.Offset, span.Length);
            if (IsScriptOrMail(url) || !LinkTo(base, DecodeLinkEntities(url), url, true, link))
                continue;
            rewritten.append(raw.substr(done, span.Offset - done));
            rewritten.append(SrcsetSafeLink(link));
            done = span.Offset + span.Length;
        }
        if (done == 0)
            return true;
        rewritten.append(raw.substr(done));
    } else {
        RewriteCss(base, raw, -1, true, rewritten);
    }
    if (write && rewritten != raw)
        element.SetValue(rewritten);
    return true;
}

void TPageRewriter::RewriteCss(std::string_view base, std::string_view css, int shiftJis,
                               bool attribute, std::string& out) {
    TDecoded decoded;
    std::string_view text = css;
    if (attribute && css.find('&') != std::string_view::npos) {
        decoded = DecodeReferences(css);
        text = decoded.Text;
    }
    auto from = [&](std::size_t offset) {
        return decoded.From.empty() ? offset : decoded.From[offset];
    };
    const bool sjis = shiftJis >= 0 ? shiftJis == 1 : NeedsShiftJisCheck(text) && PageIsShiftJis();
    std::size_t done = 0;
    std::string link;
    for (const TCssLink& found : FindCssLinks(text, sjis)) {
        if (IsScriptOrMail(found.Value))
            continue;
        const std::string_view written =
            css.substr(from(found.Span.Offset),
                       from(found.Span.Offset + found.Span.Length) - from(found.Span.Offset));
        if (!LinkTo(base, found.Value, written, true, link))
            continue;
        const std::size_t start = from(found.Span.Offset);
        out.append(css.substr(done, start - done));
        out.append(CssSafeLink(link));
        done = from(found.Span.Offset + found.Span.Length);
    }
    out.append(css.substr(done));
}

const std::string& TPageRewriter::PageEncoding() {
    if (pageEncoding_.empty()) {
        THTMLParser parser;
        parser.SetHeaderCharset(pageCharset_);
        parser.LoadFromText(pageData_);
        pageEncoding_ = parser.Encoding();
        pageCode_ = parser.CharsetCode();
    }
    return pageEncoding_;
}

bool TPageRewriter::PageIsShiftJis() {
    (void)PageEncoding();
    return pageCode_ == csShiftJIS;
}

int TPageRewriter::RebuildStylesheet(bool write, std::string* out, TCopyMethod method,
                                     TWebCacheTreeNodeCopyList* list, TWebCacheTreeNode* node,
                                     std::string_view prefix) {
    std::string data;
    if (const int read = ReadBody(node, write, data); read != 0)
        return write ? read : kRebuildDone;
    const TCssCharset charset =
        StylesheetCharset(data, node->Info().HeaderInfo.Values("Content-Type"));
    if (charset == TCssCharset::Unsupported) {
        if (write && out != nullptr)
            out->append(data);
        return kRebuildDone;
    }
    const bool sjis =
        charset == TCssCharset::ShiftJis ||
        (charset == TCssCharset::Undeclared && NeedsShiftJisCheck(data) && LooksShiftJis(data));
    // Links of a sheet are read against the sheet's own address.
    const std::string base = BaseOf(node->Info().Url);
    BeginPass(node, prefix, method, list);
    std::string css;
    css.reserve(data.size() + data.size() / 8);
    RewriteCss(base, data, sjis ? 1 : 0, false, css);
    if (write && out != nullptr)
        out->append(css);
    EndPass();
    return result_;
}

} // namespace tarnhold
