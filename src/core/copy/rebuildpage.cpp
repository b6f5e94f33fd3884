#include "copy/rebuildpage.h"

#include "cache/cachebody.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "text/htmltag.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhold {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Values that are not addresses of documents: left as they are.
bool IsScriptOrMail(std::string_view lowerValue) {
    return StartsWith(lowerValue, "mailto:") || StartsWith(lowerValue, "javascript:");
}

// The URL without "scheme://".
std::string_view WithoutScheme(std::string_view url) {
    std::size_t p = url.find("://");
    return p == std::string_view::npos ? url : url.substr(p + 3);
}

} // namespace

bool ReadCachedFile(const std::string& file, std::string& out, int& error) {
    TError result = ReadRegularFile(file, out);
    error = result.Code();
    return result.Ok();
}

bool TPageRewriter::ResolveLink(const TLocalPath& pageFolder, std::string_view base,
                                std::string_view value, std::string& link, std::string* url,
                                TWebCacheTreeNode** target) {
    // An empty value and an anchor in the page itself name the page as it
    // is; rewritten they would name another file.
    if (value.empty() || value.front() == '#')
        return false;
    TWebCacheTree& tree = names_.Tree();
    std::string text = DecodeLinkEntities(value);
    if (!tree.EnableScheme() && text.find("://") != std::string::npos)
        text = "http://" + std::string(WithoutScheme(text));
    std::string absolute = CombineUrl(base, text);
    // Only addresses of the form scheme://... name documents a cache holds;
    // "data:", "about:", "tel:" and the like stay as written.
    if (absolute.empty() || absolute.find("://") == std::string::npos)
        return false;
    std::string fragment;
    if (std::size_t hash = absolute.find('#'); hash != std::string::npos) {
        fragment = absolute.substr(hash);
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
    if (url != nullptr)
        *url = std::move(absolute);
    if (target != nullptr)
        *target = node;
    return true;
}

int TPageRewriter::Rebuild(bool write, std::string* out, int method,
                           TWebCacheTreeNodeCopyList* list, TWebCacheTreeNode* node,
                           std::string_view prefix) {
    TWebCacheTree& tree = names_.Tree();
    std::string data;
    bool storedAsIs = false;
    if (ReadCacheBody(node->Info, data, std::numeric_limits<std::uint64_t>::max(), &storedAsIs))
        data.clear(); // unreadable: an empty page
    else if (storedAsIs && stats_ != nullptr && write)
        stats_->NoteStoredAsIs(node->Info.Url);
    if (write && out != nullptr)
        out->reserve(out->size() + data.size() + data.size() / 8);

    // Links are read against the page's own address and lead from the folder
    // that holds the page's copy.
    std::string base = tree.EnableScheme() ? node->Info.Url
                                           : "http://" + std::string(WithoutScheme(node->Info.Url));
    TLocalPath pageFolder = PlaceBelow(NodeLocalPath(node), placement_);
    if (!pageFolder.empty())
        pageFolder.pop_back();
    // The site of the copy, for kMethodSameSite: "scheme://host/", or the
    // host alone where the tree has no scheme folders.
    std::string siteRoot;
    if (tree.EnableScheme()) {
        siteRoot = GetSiteRootURL(prefix);
    } else {
        std::string_view p = WithoutScheme(prefix);
        std::size_t slash = p.find('/');
        siteRoot = std::string(slash == std::string_view::npos ? p : p.substr(0, slash + 1));
    }

    int result = kRebuildDone;
    THTMLTag tag;
    std::string link;
    std::string url;
    for (std::size_t pos = 0; NextTag(data, pos, tag);) {
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
                    if (!IsScriptOrMail(AnsiLowerCase(target)) &&
                        ResolveLink(pageFolder, base, target, link))
                        content.SetValue(c.substr(0, p + 5) + link);
                }
            }
            for (int i = 0; !refresh && i < tag.Count();) {
                THTMLEllement& element = tag.Elements(i);
                const std::string name = AnsiLowerCase(element.Name());
                if (name != "href" && name != "src" && name != "background") {
                    ++i;
                    continue;
                }
                const std::string value = element.Value();
                if (IsScriptOrMail(AnsiLowerCase(value))) {
                    ++i;
                    continue;
                }
                if (tagName == "base" && name == "href") {
                    // Later links are read against the new base; the copy
                    // keeps no base, so they lead from where the copy lies.
                    std::string combined = CombineUrl(base, DecodeLinkEntities(value));
                    if (!combined.empty())
                        base = std::move(combined);
                    tag.DeleteElement(i);
                    continue;
                }
                TWebCacheTreeNode* target = nullptr;
                bool resolved = ResolveLink(pageFolder, base, value, link, &url, &target);
                if (resolved && write)
                    element.SetValue(link);
                if (resolved && target != nullptr && list != nullptr &&
                    (name == "src" || name == "background") &&
                    (method == kMethodSameSite || method == kMethodAll)) {
                    bool sameSite = true;
                    if (method == kMethodSameSite) {
                        std::string_view t =
                            tree.EnableScheme() ? std::string_view(url) : WithoutScheme(url);
                        sameSite = t.size() >= siteRoot.size() &&
                                   AnsiSameText(t.substr(0, siteRoot.size()), siteRoot);
                    }
                    if (sameSite && !list->Contains(target)) {
                        (void)list->Add(target);
                        if (progress_ != nullptr)
                            progress_->RaiseMaximum();
                        if (stats_ != nullptr)
                            ++stats_->Collected;
                        result = kRebuildAdded;
                    }
                }
                ++i;
            }
        }
        if (write && out != nullptr)
            out->append(tag.Text());
    }
    return result;
}

int RebuildPage(const TLocalNameTable& names, bool write, const std::filesystem::path& output,
                int method, TWebCacheTreeNodeCopyList* list, TWebCacheTreeNode* node,
                std::string_view prefix, TProgress* progress, TCopyStats* stats) {
    TPageRewriter rewriter(names, progress, stats);
    std::string page;
    int result = rewriter.Rebuild(write, &page, method, list, node, prefix);
    if (write) {
        int error = 0;
        if (!WriteFileAtomic(output, page, &error))
            return error != 0 ? error : EIO;
    }
    return result;
}

} // namespace tarnhold
