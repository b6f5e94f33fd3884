// Finding what a user named among the cache's URLs and the tree's nodes: a
// URL typed as the cache holds it (percent-encoded) or decoded, as UTF-8, in
// the forms the tree prints (without the scheme, "host:port//"), with or
// without the final "/" of a folder. The window's address field and the
// command line take the same forms.
#pragma once

#include "tree/webcachetree.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// How well a cache URL fits a typed one. The exact form wins over one that
// matches only when both are decoded, and that over a match ignoring case;
// several at the best level make the name ambiguous.
class TUrlMatcher {
public:
    // minLevel 2 leaves out matches that ignore case (for deleting).
    explicit TUrlMatcher(std::string_view typedUtf8, int minLevel = 1);
    // 3 exact, 2 the same when decoded, 1 the same ignoring case, 0 none.
    int Level(std::string_view cacheUrl) const;
    // Offers one candidate; keeps those at the best level so far.
    void Offer(std::string_view cacheUrl, std::size_t item);
    // The items at the best level, in the order offered.
    const std::vector<std::size_t>& Best() const { return best_; }

private:
    std::string utf8_;
    std::string ansi_;
    bool dropScheme_; // typed without a scheme, as --no-scheme shows URLs
    std::string decoded_;
    int minLevel_;
    int bestLevel_ = 0;
    std::vector<std::size_t> best_;
};

// The folder a typed URL names: as the tree prints it or percent-encoded,
// with or without the scheme and the final "/". Typed without a scheme it
// may lie below any scheme of the tree. None when the tree has no such
// folder, or when it lies below several schemes (those go to *ambiguous).
TWebCacheTreeNode* FindFolder(TWebCacheTree& tree, std::string_view typedUtf8,
                              std::vector<TWebCacheTreeNode*>* ambiguous = nullptr);

// The file nodes a typed cache URL may name: among the files of the URL's
// folder (or of its local name's, from the rename list), those whose entry
// has that URL, at the best level of TUrlMatcher (minLevel as there). One
// node, none, or several when the name is ambiguous.
std::vector<TWebCacheTreeNode*> MatchFileNodes(TWebCacheTree& tree, std::string_view typedUtf8,
                                               int minLevel = 1);

} // namespace tarnhold
