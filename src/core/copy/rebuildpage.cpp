#include "copy/rebuildpage.h"

#include "copy/copyreport.h"
#include "copy/pagelinks.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/cachebody.h"
#include "text/charset.h"
#include "text/htmltag.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhold {

bool TPageRewriter::ResolveLink(const TLocalPath& pageFolder, std::string_view base,
                                std::string_view value, std::string& link, std::string* url,
                                TWebCacheTreeNode** target) {
    return ResolveText(pageFolder, base, DecodeLinkEntities(value), value, link, url, target);
}

bool TPageRewriter::LinkFromPage(std::string_view pageUrl, std::string_view value,
                                 std::string& link) {
    const std::string page(pageUrl.substr(0, pageUrl.find('#')));
    const TWebCacheTreeNode* node = names_.Find(page);
    TLocalPath folder =
        PlaceBelow(node != nullptr ? NodeLocalPath(node) : names_.WouldBePath(page), placement_);
    if (!folder.empty())
        folder.pop_back();
    return ResolveLink(folder, BaseOf(pageUrl), value, link);
}

std::string TPageRewriter::BaseOf(std::string_view url) const {
    if (names_.Tree().EnableScheme())
        return std::string(url);
    return "http://" + std::string(WithoutScheme(url));
}

TCopyMethod CopyMethodFromNumber(int number) {
    return number == 2 ? TCopyMethod::SameSite : number == 3 ? TCopyMethod::All : TCopyMethod::None;
}

bool TPageRewriter::ResolveText(const TLocalPath& pageFolder, std::string_view base,
                                std::string text, std::string_view written, std::string& link,
                                std::string* url, TWebCacheTreeNode** target) {
    // An empty value and an anchor in the page itself name the page as it
    // is; rewritten they would name another file.
    if (written.empty() || written.front() == '#' || text.empty() || text.front() == '#')
        return false;
    TWebCacheTree& tree = names_.Tree();
    if (!tree.EnableScheme() && SchemePrefixLength(text) != 0)
        text = "http://" + std::string(WithoutScheme(text));
    std::string absolute = CombineUrl(base, text);
    // Only addresses of the form scheme://... name documents a cache holds;
    // "data:", "about:", "tel:" and the like stay as written.
    if (SchemePrefixLength(absolute) == 0)
        return false;
    std::string fragment;
    if (std::size_t hash = absolute.find('#'); hash != std::string::npos) {
        fragment = SafeFragment(std::string_view(absolute).substr(hash));
        absolute.resize(hash);
    }
    TWebCacheTreeNode* node = names_.Find(absolute);
    TLocalPath path = node != nullptr ? NodeLocalPath(node) : names_.WouldBePath(absolute);
    link = MakeLocalLink(pageFolder, PlaceBelow(std::move(path), placement_)) + fragment;
    if (stats_ != nullptr) {
        ++stats_->Links;
        if (node == nullptr)
            ++stats_->LinksOutside;
    }
    if (node == nullptr && report_ != nullptr)
        report_->AddMissing(written, link);
    if (url != nullptr)
        *url = std::move(absolute);
    if (target != nullptr)
        *target = node;
    return true;
}

void TPageRewriter::BeginPass(TWebCacheTreeNode* node, std::string_view prefix, TCopyMethod method,
                              TWebCacheTreeNodeCopyList* list) {
    TWebCacheTree& tree = names_.Tree();
    // Links lead from the folder that holds the page's copy.
    TLocalPath pagePath = PlaceBelow(NodeLocalPath(node), placement_);
    if (report_ != nullptr)
        report_->BeginPage(node->Info().Url, JoinLocalPath(pagePath));
    pageFolder_ = std::move(pagePath);
    if (!pageFolder_.empty())
        pageFolder_.pop_back();
    // The site of the copy, for TCopyMethod::SameSite: "scheme://host/", or the
    // host alone where the tree has no scheme folders.
    if (tree.EnableScheme()) {
        siteRoot_ = GetSiteRootURL(prefix);
    } else {
        std::string_view p = WithoutScheme(prefix);
        std::size_t slash = p.find('/');
        siteRoot_ = std::string(slash == std::string_view::npos ? p : p.substr(0, slash + 1));
    }
    method_ = method;
    list_ = list;
    result_ = kRebuildDone;
    pageData_ = {};
    pageCharset_.clear();
    pageEncoding_.clear();
}

void TPageRewriter::EndPass() {
    if (report_ != nullptr)
        report_->EndPage();
    pageData_ = {};
}

bool TPageRewriter::LinkTo(std::string_view base, std::string text, std::string_view written,
                           bool embedded, std::string& link) {
    TWebCacheTree& tree = names_.Tree();
    TWebCacheTreeNode* target = nullptr;
    std::string url;
    if (!pageData_.empty())
        text = LinkAsRequested(text, PageEncoding());
    if (!ResolveText(pageFolder_, base, std::move(text), written, link, &url, &target))
        return false;
    if (embedded && target != nullptr && list_ != nullptr &&
        (method_ == TCopyMethod::SameSite || method_ == TCopyMethod::All)) {
        bool sameSite = true;
        if (method_ == TCopyMethod::SameSite) {
            std::string_view t = tree.EnableScheme() ? std::string_view(url) : WithoutScheme(url);
            sameSite = t.size() >= siteRoot_.size() &&
                       AnsiSameText(t.substr(0, siteRoot_.size()), siteRoot_);
        }
        if (sameSite && !list_->Contains(target)) {
            (void)list_->Add(target);
            if (progress_ != nullptr)
                progress_->RaiseMaximum();
            if (stats_ != nullptr)
                ++stats_->Collected;
            result_ = kRebuildAdded;
        }
    }
    return true;
}

void NoteAsIs(TCopyStats* stats, TCopyReport* report, const std::string& url, TAsIsKind kind) {
    if (stats != nullptr)
        stats->NoteAsIs(url, kind);
    if (report != nullptr)
        report->AddAsIs(url, kind);
}

int TPageRewriter::ReadBody(const TWebCacheTreeNode* node, bool write, std::string& data) {
    data.clear();
    // A whole file tells its size without being read.
    struct stat st {};
    if (IsPlainCacheBody(node->Info()) && ::stat(node->Info().LocalFileName.c_str(), &st) == 0 &&
        S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > kMaxRewriteBytes)
        return kRebuildTooLarge;
    TBodyRead read;
    data.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(node->Size(), kMaxRewriteBytes) + 1));
    // One byte beyond the largest page tells a page too large.
    if (TError error = ReadCacheBody(node->Info(), data, kMaxRewriteBytes + 1, &read)) {
        data.clear();
        return error.Code() != 0 ? error.Code() : EIO;
    }
    if (data.size() > kMaxRewriteBytes) {
        data.clear();
        data.shrink_to_fit();
        return kRebuildTooLarge;
    }
    // A body that did not decode is copied as stored all the same; the
    // engine names one it copies as it is for its size.
    if (read.StoredAsIs && write)
        NoteAsIs(stats_, report_, node->Info().Url,
                 read.OverLimit ? TAsIsKind::OverLimit : TAsIsKind::Undecodable);
    if (read.ChecksumFailed && write)
        NoteAsIs(stats_, report_, node->Info().Url, TAsIsKind::Damaged);
    return 0;
}

int TPageRewriter::Rebuild(bool write, std::string* out, TCopyMethod method,
                           TWebCacheTreeNodeCopyList* list, TWebCacheTreeNode* node,
                           std::string_view prefix) {
    std::string data;
    if (const int read = ReadBody(node, write, data); read != 0)
        return write ? read : kRebuildDone; // a page only scanned holds nothing to collect
    if (write && out != nullptr)
        out->reserve(out->size() + data.size() + data.size() / 8);

    // Links are read against the page's own address.
    std::string base = BaseOf(node->Info().Url);
    BeginPass(node, prefix, method, list);
    pageData_ = data;
    pageCharset_ = CharsetParameter(node->Info().HeaderInfo.Values("Content-Type"));

    THTMLTag tag;
    std::string link;
    // data stays as it is through the walk: the tokens view it in place and
    // go to the page with one copy each.
    for (std::size_t pos = 0; NextTagInPlace(data, pos, tag);) {
        bool styleBlock = false;
        if (tag.Kind() == tkTag) {
            const std::string tagName = AnsiLowerCase(tag.Name());
            bool refresh = false;
            if (write && tagName == "meta" && tag.Count() >= 2 &&
                AnsiLowerCase(tag.Elements(0).Name()) == "http-equiv" &&
                AnsiLowerCase(tag.Elements(0).Value()) == "refresh" &&
                AnsiLowerCase(tag.Elements(1).Name()) == "content") {
                refresh = true;
                THTMLEllement& content = tag.Elements(1);
                const std::string c = content.Value();
                std::size_t p = AnsiLowerCase(c).find(";url=");
                if (p != std::string::npos) {
                    std::string_view target = std::string_view(c).substr(p + 5);
                    if (!IsScriptOrMail(target) && ResolveLink(pageFolder_, base, target, link))
                        content.SetValue(c.substr(0, p + 5) + link);
                }
            }
            if (tagName == "base") {
                // Later links are read against the new base; the copy keeps
                // no base, so they lead from where the copy lies. Every href
                // goes in one pass, however many the tag holds.
                tag.DeleteElements([&](const THTMLEllement& element) {
                    if (AnsiLowerCase(element.Name()) != "href")
                        return false;
                    const std::string value = element.Value();
                    if (IsScriptOrMail(value))
                        return false;
                    std::string combined = CombineUrl(base, DecodeLinkEntities(value));
                    if (!combined.empty())
                        base = std::move(combined);
                    return true;
                });
            }
            // With every link kind, a <link> to a stylesheet, an icon or a
            // preload is embedded like a src.
            const bool embeddingLink = allLinks_ && tagName == "link" && IsEmbeddingLink(tag);
            for (int i = 0; !refresh && i < tag.Count();) {
                THTMLEllement& element = tag.Elements(i);
                const std::string name = AnsiLowerCase(element.Name());
                if (name != "href" && name != "src" && name != "background") {
                    if (allLinks_)
                        (void)RewriteOtherAttribute(base, tagName, name, element, write);
                    ++i;
                    continue;
                }
                const std::string value = element.Value();
                if (IsScriptOrMail(value)) {
                    ++i;
                    continue;
                }
                const bool embedded =
                    name == "src" || name == "background" || (embeddingLink && name == "href");
                if (LinkTo(base, DecodeLinkEntities(value), value, embedded, link) && write)
                    element.SetValue(link);
                ++i;
            }
            styleBlock = allLinks_ && tagName == "style";
        }
        if (write && out != nullptr)
            out->append(tag.TextView());
        if (styleBlock) {
            // The style sheet of a <style> block runs to its end tag; no
            // "<" inside it starts a tag.
            const std::size_t end = FindStyleEnd(data, pos);
            std::string css;
            RewriteCss(base, std::string_view(data).substr(pos, end - pos), -1, false, css);
            if (write && out != nullptr)
                out->append(css);
            pos = end;
        }
    }
    EndPass();
    return result_;
}

int RebuildPage(const TLocalNameTable& names, bool write, const std::filesystem::path& output,
                TCopyMethod method, TWebCacheTreeNodeCopyList* list, TWebCacheTreeNode* node,
                std::string_view prefix, TProgress* progress, TCopyStats* stats) {
    TPageRewriter rewriter(names, progress, stats);
    std::string page;
    int result = rewriter.Rebuild(write, &page, method, list, node, prefix);
    if (result > 0 || result == kRebuildTooLarge)
        return result > 0 ? result : EFBIG;
    if (write) {
        int error = 0;
        if (!WriteFileAtomic(output, page, &error))
            return error != 0 ? error : EIO;
    }
    return result;
}

} // namespace tarnhold
