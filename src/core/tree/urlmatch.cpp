#include "tree/urlmatch.h"

#include "platform/codepage.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"

#include <algorithm>

namespace tarnhold {

namespace {

// A URL as the tree arranges it: decoded, without its scheme when asked
// (the tree's --no-scheme form), every run of "/" as one (the tree prints a
// host with a port as "host:port//").
std::string NormalUrl(std::string_view url, bool dropScheme) {
    std::string text = DecodeURL(url);
    if (dropScheme)
        text.erase(0, SchemePrefixLength(text));
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '/' || out.empty() || out.back() != '/')
            out += c;
    }
    return out;
}

// The folder URL a form names in the tree (with or without its final "/"), or
// none.
TWebCacheTreeNode* FolderAt(const TWebCacheTree& tree, const std::string& form) {
    for (const std::string& url : {form, form + "/"}) {
        TWebCacheTreeNode* node = tree.FindNodeByUrl(url);
        if (node != nullptr && node->IsFolder)
            return node;
    }
    return nullptr;
}

// The URLs a typed one stands for in the tree (ANSI): as typed and decoded;
// and when it was typed without a scheme where the tree has a folder per
// scheme, both forms below each scheme the tree holds, scheme by scheme.
std::vector<std::vector<std::string>> UrlForms(const TWebCacheTree& tree,
                                               std::string_view typedUtf8) {
    const std::string ansi = Utf8ToAnsi(typedUtf8);
    const std::string decoded = DecodeURLString(ansi);
    std::vector<std::vector<std::string>> forms{{ansi, decoded}};
    if (!tree.EnableScheme() || SchemePrefixLength(ansi) != 0)
        return forms;
    const TWebCacheTreeNode* root = tree.Root();
    for (int i = 0; i < root->Count(); ++i) {
        const TWebCacheTreeNode* scheme = root->Items(i);
        if (scheme->IsFolder)
            forms.push_back({scheme->DirUrl() + ansi, scheme->DirUrl() + decoded});
    }
    return forms;
}

} // namespace

TUrlMatcher::TUrlMatcher(std::string_view typedUtf8, int minLevel)
    : utf8_(typedUtf8), ansi_(Utf8ToAnsi(typedUtf8)), dropScheme_(SchemePrefixLength(ansi_) == 0),
      decoded_(NormalUrl(ansi_, dropScheme_)), minLevel_(minLevel) {}

int TUrlMatcher::Level(std::string_view cacheUrl) const {
    // The bytes as typed count too: Wine writes URLs as UTF-8.
    if (cacheUrl == ansi_ || cacheUrl == utf8_)
        return 3;
    const std::string decoded = NormalUrl(cacheUrl, dropScheme_);
    if (decoded == decoded_)
        return 2;
    if (AnsiSameText(cacheUrl, ansi_) || AnsiSameText(decoded, decoded_))
        return 1;
    return 0;
}

void TUrlMatcher::Offer(std::string_view cacheUrl, std::size_t item) {
    const int level = Level(cacheUrl);
    if (level < minLevel_ || level < bestLevel_)
        return;
    if (level > bestLevel_) {
        bestLevel_ = level;
        best_.clear();
    }
    if (std::find(best_.begin(), best_.end(), item) == best_.end())
        best_.push_back(item);
}

TWebCacheTreeNode* FindFolder(TWebCacheTree& tree, std::string_view typedUtf8,
                              std::vector<TWebCacheTreeNode*>* ambiguous) {
    // The first form that names a folder wins; among schemes, one must.
    const std::vector<std::vector<std::string>> groups = UrlForms(tree, typedUtf8);
    std::vector<TWebCacheTreeNode*> found;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        for (const std::string& form : groups[g]) {
            if (TWebCacheTreeNode* node = FolderAt(tree, form)) {
                if (g == 0)
                    return node;
                found.push_back(node);
                break;
            }
        }
    }
    if (found.size() == 1)
        return found[0];
    if (ambiguous != nullptr)
        *ambiguous = std::move(found);
    return nullptr;
}

std::vector<TWebCacheTreeNode*> MatchFileNodes(TWebCacheTree& tree, std::string_view typedUtf8,
                                               int minLevel) {
    const std::string ansi = Utf8ToAnsi(typedUtf8);
    TUrlMatcher matcher(typedUtf8, minLevel);
    std::vector<TWebCacheTreeNode*> nodes;
    std::vector<std::string> urls;
    for (const std::vector<std::string>& group : UrlForms(tree, typedUtf8))
        urls.insert(urls.end(), group.begin(), group.end());
    urls.push_back(DecodeURL(ansi));
    urls.push_back(tree.RenameItems().Lookup(ansi));
    for (const std::string& url : urls) {
        TWebCacheTreeNode* folder = url.empty() ? nullptr : tree.FindFolderByUrl(url);
        if (folder == nullptr)
            continue;
        for (int i = 0; i < folder->Count(); ++i) {
            TWebCacheTreeNode* node = folder->Items(i);
            if (node->IsFolder || std::find(nodes.begin(), nodes.end(), node) != nodes.end())
                continue;
            nodes.push_back(node);
            matcher.Offer(node->Info().Url, nodes.size() - 1);
        }
    }
    std::vector<TWebCacheTreeNode*> best;
    for (std::size_t i : matcher.Best())
        best.push_back(nodes[i]);
    return best;
}

} // namespace tarnhold
