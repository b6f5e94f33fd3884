// The rows of one folder of the cache tree as the list view and the command
// line show them, and the page titles they carry. Nothing here knows a window
// toolkit: the list view, the find window and tarnhold-cli all list through
// it. The local path a copy gives a row comes from localpaths.h.
#pragma once

#include "tree/webcachetree.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnhold {

// A title is read from the head of its page: at most this many bytes, and
// no further than the end of the head.
constexpr std::size_t kTitleReadLimit = 64 * 1024;

// Whether an entry is an HTML page: its "Content-Type", lower-cased, holds
// "text/html".
bool IsHtmlEntry(const TWebCacheEntryInfo& entry);
// The title of a cached page (Shift-JIS, cleaned), read from the head of the
// file, which must be a regular file; empty when there is none or the file
// cannot be read.
std::string ReadPageTitle(const std::string& localFile);
// The same for an entry's body, wherever it lies and however it is encoded.
std::string ReadPageTitle(const TWebCacheEntryInfo& entry);

// The name under which the cache knows a file (the list's URL name): file
// name and suffix of its entry's URL, not a local name.
std::string UrlNameOf(const TWebCacheTreeNode& node);

// Page titles by file node, each read once per generation of its tree.
// Belongs to one view, on the tree's thread.
class TTitleCache {
public:
    // The title of a file node's page; empty for folders and files that are
    // not HTML (which are never opened).
    const std::string& Title(const TWebCacheTreeNode& node);
    void Clear();
    std::size_t Count() const { return items_.size(); }

private:
    struct Item {
        std::string localFile; // a node made after a deletion may reuse an address
        std::string title;
    };
    const TWebCacheTree* tree_ = nullptr;
    std::uint64_t generation_ = 0;
    std::unordered_map<const TWebCacheTreeNode*, Item> items_;
};

// Keys of the list's row order, by the column they belong to.
enum TListSortKey : int {
    lsUrlName = 0,
    lsTitle = 1,
    lsSize = 2,
    lsType = 3,
    lsDate = 4,
    lsName = 5,
};

struct TFolderRow {
    TWebCacheTreeNode* Node = nullptr;
    std::string UrlName;  // files only
    std::string Title;    // HTML files only
    std::string TypeName; // from the caller's type names; may be empty
};

// The row comparison of the list: folders first, then by the key's
// columns (names, titles and types ignoring case); order 1 reverses it all.
// Negative when a comes first.
int CompareRows(const TFolderRow& a, const TFolderRow& b, int sortKey, int sortOrder = 0);

using TTypeNameOf = std::function<std::string(const TWebCacheTreeNode&)>;

// One row per child of folder that is not being deleted, in the list's
// order, with titles from titles.
std::vector<TFolderRow> ListFolder(const TWebCacheTreeNode& folder, TTitleCache& titles,
                                   int sortKey = lsName, int sortOrder = 0,
                                   const TTypeNameOf& typeName = {});

} // namespace tarnhold
