// The one naming of local copies: where the copy of a cached document lies on
// disk, and the link that reaches it from a copied page. The tree names its
// files with the checksum names made here, the copy engine writes every file
// at the path made here and the link rewriter links to the path made here, so
// a link in a copied page always names the file that the copy holds for its
// target; the list, the command line and the window show the same paths.
#pragma once

#include "tree/webcachetree.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnhold {

// A path below the destination of a copy, as its components: the folders,
// then the file name. Each component is the name's bytes on disk (UTF-8):
// never empty, never "." or "..", without "/" or NUL, at most kMaxNameBytes.
using TLocalPath = std::vector<std::string>;

constexpr std::size_t kMaxNameBytes = 255;

// The CRC-32 of a URL's suffix (query, parameters) in eight hex digits, as
// the names of URLs with a suffix carry it.
std::string SuffixChecksum(const TCrc32Table& table, std::string_view suffix);
// The local name of a URL's file name with a suffix, before its extension:
// the name without its extension, "~" and SuffixChecksum; for an empty name
// the checksum alone.
std::string SuffixedStem(const TCrc32Table& table, std::string_view fileName,
                         std::string_view suffix);

// The on-disk name of a name taken from a URL (ANSI): the characters that
// Windows names cannot hold (control characters included) escaped in the
// "$5c" form, converted to UTF-8;
// a name longer than kMaxNameBytes is shortened, keeping its extension, and
// marked with "~" and the CRC-32 of the whole name, so that two long names
// stay apart. The empty name (what a doubled "/" leaves) is "$2f".
std::string DiskName(std::string_view ansiName);

// The copy of a node, from the tree's root: the names of the folders above it
// (the root excluded) and, for a file, its DisplayName.
TLocalPath NodeLocalPath(const TWebCacheTreeNode* node);

// A path as it lies below a destination that stands for the folder prefix
// (the folder of a copy's prefix, with folder method 1): without prefix's
// components where it starts with them; a path from elsewhere keeps them all.
// An empty prefix leaves every path as it is.
TLocalPath PlaceBelow(TLocalPath path, const TLocalPath& prefix);

// A path as text: its components joined with "/".
std::string JoinLocalPath(const TLocalPath& path);

// A name on disk as one segment of a link: bytes beyond ASCII (the UTF-8 of
// the name), controls, blanks and the characters that mean something in a
// URL or an attribute ("%", "#", "?", quotes, "&", "<", ">", "\") as "%XX".
std::string EscapeLinkSegment(std::string_view diskName);

// The relative link from the folder fromFolder (a path of folders only) to
// the file to, each segment escaped by EscapeLinkSegment.
std::string MakeLocalLink(const TLocalPath& fromFolder, const TLocalPath& to);

// The cached documents of a tree by URL: the one table by which a copy finds
// the node (and so the local name, numbered ones included) that a link names.
// Built on first use, and again once the tree has added or freed nodes.
class TLocalNameTable {
public:
    explicit TLocalNameTable(TWebCacheTree& tree) : tree_(tree) {}

    TWebCacheTree& Tree() const { return tree_; }
    // The file node of the document cached under url: the exact URL first,
    // then the URL with its escapes decoded and its case folded. A URL that
    // names a folder of the tree gives the document cached for the folder
    // itself (its default file), if there is one.
    TWebCacheTreeNode* Find(std::string_view url) const;
    // Where the copy of a document that the cache does not hold would lie:
    // the folders of url's directory (named as the tree's folders where they
    // exist) and its file name (DefaultFileName when empty). url is the absolute URL
    // of the link, without fragment; the rename list's value, or else the
    // CRC-32 name of a URL with a query, names the file as the tree would.
    TLocalPath WouldBePath(std::string_view url) const;

private:
    void Build() const;

    TWebCacheTree& tree_;
    mutable bool built_ = false;
    mutable std::uint64_t revision_ = 0;
    mutable std::unordered_map<std::string_view, TWebCacheTreeNode*> exact_;
    mutable std::unordered_map<std::string, TWebCacheTreeNode*> folded_;
};

} // namespace tarnhold
