// The cache tree: the flat list of cache entries arranged as the sites they
// came from. Below the root "Web Cache" stand (optionally) one folder per URL
// scheme, one per host, one per path segment, and the cached documents as
// files. The tree also owns what decides local file names: the rename list,
// the CRC-32 table and the content-type table.
#pragma once

#include "cache/contenttype.h"
#include "cache/crc32.h"
#include "cache/renamelist.h"
#include "cache/webcache.h"
#include "cache/webcacheentry.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tarnhold {

class TWebCacheTree;

class TWebCacheTreeNode {
public:
    TWebCacheTreeNode(TWebCacheTree* tree, TWebCacheTreeNode* parent, std::string name,
                      bool isFolder);
    ~TWebCacheTreeNode();
    TWebCacheTreeNode(const TWebCacheTreeNode&) = delete;
    TWebCacheTreeNode& operator=(const TWebCacheTreeNode&) = delete;

    TWebCacheTree* Tree() const { return tree_; }
    TWebCacheTreeNode* Parent() const { return parent_; }
    const std::string& Name() const { return name_; }
    const std::string& LowerName() const { return lowerName_; }
    // Name, or the tree's DefaultFileName when Name is empty.
    const std::string& DisplayName() const;
    // Stores a changed name and, unless the tree suspends sorting, re-sorts
    // the parent's children.
    void SetName(std::string_view name);

    int Count() const { return static_cast<int>(children_.size()); }
    TWebCacheTreeNode* Items(int index) const {
        return children_[static_cast<std::size_t>(index)].get();
    }
    int Level() const;
    void SortChildren();
    // The first child (in list order) whose LowerName equals name lower-cased.
    TWebCacheTreeNode* FindChild(std::string_view name);
    // The same among the folders only: the way down a URL's path never
    // leads through a file, even one named like a folder beside it.
    TWebCacheTreeNode* FindFolderChild(std::string_view name);

    bool IsFolder = true;
    TWebCacheEntryInfoEx Info;
    bool Deleting = false;
    bool Copied = false;

private:
    friend class TWebCacheTree;
    void Append(std::unique_ptr<TWebCacheTreeNode> child);
    std::vector<std::unique_ptr<TWebCacheTreeNode>> DetachChildren();
    std::unique_ptr<TWebCacheTreeNode> Remove(TWebCacheTreeNode* child);
    void InvalidateIndex() { indexValid_ = false; }

    TWebCacheTree* tree_;
    TWebCacheTreeNode* parent_;
    std::string name_;
    std::string lowerName_;
    std::vector<std::unique_ptr<TWebCacheTreeNode>> children_;
    // Lower name -> first child of that name, kept for large folders so that
    // a rebuild costs the same per entry whatever the folder's size.
    std::unique_ptr<std::unordered_map<std::string_view, TWebCacheTreeNode*>> index_;
    bool indexValid_ = false;
};

// Node references that a copy works through, in the order of the lower-cased
// URL of each node's entry. Does not own the nodes. Adding and the membership
// test cost O(1) on average: new entries wait beside the ordered part and are
// merged into it (sort and merge) when the list is next read by position.
class TWebCacheTreeNodeCopyList {
public:
    // Adds the node unless one with the same lower-case URL is there; a node
    // that enters the list has its Copied mark cleared. True when added.
    bool Add(TWebCacheTreeNode* node);
    bool Contains(const TWebCacheTreeNode* node) const;
    TWebCacheTreeNode* Items(int index) const;
    int Count() const { return static_cast<int>(sorted_.size() + pending_.size()); }
    void Clear();

private:
    struct Entry {
        std::string_view lowerUrl; // a key of members_
        TWebCacheTreeNode* node;
    };
    void Merge() const;
    std::unordered_set<std::string> members_; // lower-cased URLs
    mutable std::vector<Entry> sorted_;
    mutable std::vector<Entry> pending_;
};

class TWebCacheTree {
public:
    using TEntryEvent = std::function<void(TWebCacheTree& sender, const TWebCacheEntryInfo& entry)>;
    using TNodeDeletedEvent = std::function<void(TWebCacheTree& sender, std::string_view url)>;

    // Without a source the cache is empty.
    explicit TWebCacheTree(std::unique_ptr<TCacheSource> source = nullptr);
    // Saves the rename list and the content-type table, then frees the nodes
    // (without touching the cache).
    ~TWebCacheTree();
    TWebCacheTree(const TWebCacheTree&) = delete;
    TWebCacheTree& operator=(const TWebCacheTree&) = delete;

    TWebCacheTreeNode* Root() const { return root_.get(); }
    TWebCache& Cache() { return cache_; }
    const TCrc32Table& Crc32Table() const { return crcTable_; }

    // Shown for files whose Name is empty ("index.html" unless a favorite
    // says otherwise); run RenameDuplicates again after changing it.
    std::string DefaultFileName = "index.html";
    TEntryEvent OnEntry;
    TNodeDeletedEvent OnNodeDeleted;

    const std::filesystem::path& RenameListFile() const { return renameListFile_; }
    void SetRenameListFile(const std::filesystem::path& file);
    TWebCacheRenameItems& RenameItems() { return renameItems_; }
    const std::filesystem::path& ContentTypeFile() const { return contentTypeFile_; }
    void SetContentTypeFile(const std::filesystem::path& file);
    TContentType& ContentTypes() { return contentTypes_; }
    // The media-types file the content-type table starts from; set it before
    // SetContentTypeFile.
    std::filesystem::path MimeTypesFile;

    bool EnableScheme() const { return enableScheme_; }
    // Takes effect at the next Build.
    void SetEnableScheme(bool on) { enableScheme_ = on; }

    // Changes with every Build and Clear: node references taken under an
    // older generation are gone.
    std::uint64_t Generation() const { return generation_; }
    bool SortingSuspended() const { return suspendSort_ > 0; }

    int CountEntries();
    void Build();
    void SortAll();
    // Gives every file below node its final Name and numbers clashes.
    void RenameDuplicates(TWebCacheTreeNode* node);
    TWebCacheTreeNode* AddNode(TWebCacheTreeNode* parent, std::string_view name,
                               std::unique_ptr<TWebCacheEntryInfoEx> entry);
    void Clear();
    void DeleteNode(TWebCacheTreeNode* node);
    // Deletes every listed node as DeleteNode does, in list order, but takes
    // the nodes out of each folder in one pass, so that deleting many files of
    // a large folder costs time in proportion to the folder once, not per
    // file. Folders left empty go afterwards (deepest first), never the root.
    // A node listed twice, or below another listed node, goes with the first.
    void DeleteNodes(const std::vector<TWebCacheTreeNode*>& nodes);
    bool DeleteByUrl(std::string_view url);
    TWebCacheTreeNode* FindNodeByUrl(std::string_view path);
    TWebCacheTreeNode* FindFolderByUrl(std::string_view url);
    int CountFiles(const TWebCacheTreeNode* node) const;
    void UpdateFolderTotals(TWebCacheTreeNode* node);

    void LoadRenameList();
    void SaveRenameList();
    void LoadContentTypes();
    void SaveContentTypes();

    // The local URL a link found in a page at base stands for.
    std::string MapLinkTarget(std::string_view base, std::string_view link);
    // The escaped relative link from base to the local copy of url.
    std::string MakeRelativeLink(std::string_view base, std::string_view url);
    std::string ResolveLink(std::string_view base, std::string_view link);

    // The title of the cached HTML page a URL names, or empty.
    std::string GetTitle(std::string_view url);

private:
    friend class TWebCacheTreeNode;
    // Suspends sorting for its lifetime; nests.
    class SortSuspension {
    public:
        explicit SortSuspension(TWebCacheTree& tree) : tree_(tree) { ++tree_.suspendSort_; }
        ~SortSuspension() { --tree_.suspendSort_; }
        SortSuspension(const SortSuspension&) = delete;
        SortSuspension& operator=(const SortSuspension&) = delete;

    private:
        TWebCacheTree& tree_;
    };

    void ApplyLocalName(TWebCacheEntryInfoEx& entry);
    std::string LocalNameOfSuffix(std::string_view fileName, std::string_view suffix) const;
    void RecursiveDelete(std::unique_ptr<TWebCacheTreeNode> node);
    void DeletionReaction(TWebCacheTreeNode* node);
    TWebCacheTreeNode* WalkPath(std::string_view& path);

    std::unique_ptr<TWebCacheTreeNode> root_;
    TWebCache cache_;
    TCrc32Table crcTable_;
    TWebCacheRenameItems renameItems_;
    TContentType contentTypes_;
    std::filesystem::path renameListFile_;
    std::filesystem::path contentTypeFile_;
    bool enableScheme_ = true;
    int suspendSort_ = 0;
    std::uint64_t generation_ = 1;
};

// The extension of a name: from its last '.' to the end, unless a '\' or ':'
// follows that '.'; empty otherwise.
std::string_view ExtractFileExt(std::string_view name);
// The content type of an entry: its "Content-Type" value lower-cased, cut at
// the first ';', trimmed.
std::string EntryContentType(const TWebCacheEntryInfo& entry);

} // namespace tarnhold
