// The cache tree: the flat list of cache entries arranged as the sites they
// came from. Below the root "Web Cache" stand (optionally) one folder per URL
// scheme, one per host, one per path segment, and the cached documents as
// files. The tree also owns what decides local file names: the rename list,
// the CRC-32 table and the content-type table; the paths and links of local
// copies are made from its names in localpaths.h.
#pragma once

#include "platform/event.h"
#include "tree/contenttype.h"
#include "tree/crc32.h"
#include "tree/renamelist.h"
#include "tree/webcache.h"
#include "tree/webcacheentry.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tarnhold {

class TWebCacheTree;

// Objects of one type made in blocks, each as large as all before it (up to
// a limit), so that a tree of a million entries costs a few hundred
// allocations instead of one per object; the place of an object given back
// is reused. Release frees every block at once.
template <typename T> class TBlockPool {
public:
    TBlockPool() = default;
    ~TBlockPool() { Release(); }
    TBlockPool(const TBlockPool&) = delete;
    TBlockPool& operator=(const TBlockPool&) = delete;

    // Constructs an object in a free place.
    template <typename... Args> T* Make(Args&&... args) {
        T* place = Take();
        try {
            return new (place) T(std::forward<Args>(args)...);
        } catch (...) {
            free_.push_back(place);
            throw;
        }
    }
    // Destroys the object and keeps its place for the next.
    void Give(T* object) {
        object->~T();
        free_.push_back(object);
    }
    // Frees every block. The objects in them must have been destroyed.
    void Release() {
        for (const Block& block : blocks_)
            std::allocator<T>().deallocate(block.items, block.capacity);
        blocks_.clear();
        blocks_.shrink_to_fit();
        used_ = 0;
        free_.clear();
        free_.shrink_to_fit();
    }

private:
    static constexpr std::size_t kFirstBlock = 32;
    static constexpr std::size_t kMaxBlock = 8192;
    struct Block {
        T* items;
        std::size_t capacity;
    };
    T* Take() {
        if (!free_.empty()) {
            T* place = free_.back();
            free_.pop_back();
            return place;
        }
        if (blocks_.empty() || used_ == blocks_.back().capacity) {
            const std::size_t capacity =
                blocks_.empty() ? kFirstBlock : std::min(blocks_.back().capacity * 2, kMaxBlock);
            blocks_.reserve(blocks_.size() + 1);
            blocks_.push_back({std::allocator<T>().allocate(capacity), capacity});
            used_ = 0;
        }
        return blocks_.back().items + used_++;
    }

    std::vector<Block> blocks_;
    std::size_t used_ = 0; // places taken in the last block
    std::vector<T*> free_;
};

// Folders nest at most this deep below the root; the segments of a path
// beyond it are passed over (in building, in lookups and in the paths of
// copies alike), and its file stays in the deepest folder. It keeps the work
// of a lookup in bounds, and the deletion of one file from a damaged or
// hostile cache from walking up through hundreds of thousands of folders.
// Real URLs stay far below it.
constexpr int kMaxFolderDepth = 64;

// Threads: the tree belongs to the thread that owns the main window. Only
// that thread builds, sorts, renames, deletes or changes a tree. A background
// search may read it (nodes, names, entry records, FindChild, FindNodeByUrl,
// FindFolderByUrl, CountFiles, DirUrl) while the window thread leaves the
// tree alone, as it does while the find window is shown modally: lookups
// write nothing, not even a cache, so any number of readers may share a tree
// that no one changes.

// Nodes are made and freed by their tree only (see TWebCacheTree::NewNode).
class TWebCacheTreeNode {
public:
    TWebCacheTreeNode(const TWebCacheTreeNode&) = delete;
    TWebCacheTreeNode& operator=(const TWebCacheTreeNode&) = delete;

    TWebCacheTree* Tree() const { return tree_; }
    TWebCacheTreeNode* Parent() const { return parent_; }
    const std::string& Name() const { return name_; }
    const std::string& LowerName() const { return lowerName_ ? *lowerName_ : name_; }
    // Name, or the tree's DefaultFileName when Name is empty.
    const std::string& DisplayName() const;
    // Stores a changed name and, unless the tree suspends sorting, re-sorts
    // the parent's children.
    void SetName(std::string_view name);

    // The folder URL text: for a file the DirUrl of its entry; for a folder
    // the URL prefix that leads to it, every segment followed by "/" (a
    // scheme's folder by "//"), e.g. "http://host:8080/a/". A folder does not store it:
    // it is made from the names of the folder and its ancestors, so that the
    // tree's memory stays in proportion to the URLs it holds, however deep
    // and long they are.
    std::string DirUrl() const;
    // The text a deletion reports: DirUrl, followed for a file by DisplayName.
    std::string UrlText() const;

    int Count() const { return static_cast<int>(Children().size()); }
    TWebCacheTreeNode* Items(int index) const {
        return Children()[static_cast<std::size_t>(index)];
    }
    // The row of a child, or -1.
    int IndexOf(const TWebCacheTreeNode* child) const;
    int Level() const;
    void SortChildren();
    // The first child (in list order) whose LowerName equals name lower-cased.
    TWebCacheTreeNode* FindChild(std::string_view name) const;
    // The same among the folders only: the way down a URL's path never
    // leads through a file, even one named like a folder beside it.
    TWebCacheTreeNode* FindFolderChild(std::string_view name) const;

    bool IsFolder = true;
    // The cache entry of a file. A folder carries none: its Info is an empty
    // entry that every folder shares (see DirUrl for its URL), and its totals
    // are its Size and LastModified.
    const TWebCacheEntryInfoEx& Info() const { return entry_ != nullptr ? *entry_ : EmptyEntry(); }
    // A file's entry, to be changed; null for a folder.
    TWebCacheEntryInfoEx* MutableInfo() { return entry_; }
    // A file: the size and time of its entry. A folder: the total size of its
    // files (which may pass 4 GiB) and the newest time among them.
    std::uint64_t Size() const {
        return entry_ != nullptr ? entry_->Size : folder_ != nullptr ? folder_->size : 0;
    }
    const SYSTEMTIME& LastModified() const {
        return entry_ != nullptr    ? entry_->LastModified
               : folder_ != nullptr ? folder_->lastModified
                                    : EmptyEntry().LastModified;
    }
    bool Deleting = false;
    bool Copied = false;

private:
    friend class TWebCacheTree;
    friend class TBlockPool<TWebCacheTreeNode>;
    // A file when entry is given (the tree's pool holds it), else a folder.
    TWebCacheTreeNode(TWebCacheTree* tree, TWebCacheTreeNode* parent, std::string name,
                      TWebCacheEntryInfoEx* entry);
    ~TWebCacheTreeNode();
    static const TWebCacheEntryInfoEx& EmptyEntry();
    // A folder's total size less size (never below zero).
    void SubtractFromTotal(std::uint64_t size) {
        FolderPart& part = Part();
        part.size = part.size >= size ? part.size - size : 0;
    }
    // Stores name and its lower-cased form (kept apart only when it differs).
    void AssignName(std::string name);
    void Append(TWebCacheTreeNode* child);
    // Takes child out of the list (it is not freed); false when it is not there.
    bool Remove(TWebCacheTreeNode* child);
    // Rebuilds the name index of a large folder (drops it for a small one).
    void RebuildIndex();

    // Lower name -> first child of that name: an open-addressed table of the
    // children themselves (a power of two of places, at most half taken),
    // so that it costs no allocation per child.
    struct NameIndex {
        std::vector<TWebCacheTreeNode*> table; // null: free
        std::size_t count = 0;
        // Empties the table, sized for expected children.
        void Reset(std::size_t expected);
        // Adds child unless a child of its lower name is there.
        void Insert(TWebCacheTreeNode* child);
        TWebCacheTreeNode* Find(std::string_view lower) const;
    };
    // What only a folder holds: its children and their name index, and its
    // totals. A file carries none (nor its space).
    struct FolderPart {
        // Not owned: every node belongs to its tree's node pool.
        std::vector<TWebCacheTreeNode*> children;
        // Lower name -> first child of that name, for large folders, so that
        // a rebuild costs the same per entry whatever the folder's size. Kept
        // up to date by the operations that change the children (building,
        // sorting, removing); a rename marks it stale until the next sort,
        // and lookups then scan the list instead of writing it.
        std::unique_ptr<NameIndex> index;
        bool indexValid = false;
        std::uint64_t size = 0;
        SYSTEMTIME lastModified{};
    };
    const std::vector<TWebCacheTreeNode*>& Children() const {
        return folder_ != nullptr ? folder_->children : NoChildren();
    }
    static const std::vector<TWebCacheTreeNode*>& NoChildren();
    // The folder part, made when missing (only a change to the tree makes it).
    FolderPart& Part();

    TWebCacheTree* tree_;
    TWebCacheTreeNode* parent_;
    std::string name_;
    std::unique_ptr<std::string> lowerName_; // only when it differs from the name
    TWebCacheEntryInfoEx* entry_;            // files; from the tree's pool
    FolderPart* folder_ = nullptr;           // folders; from the tree's pool
};

// Node references that a copy works through, in the order of the lower-cased
// URL of each node's entry. Does not own the nodes. Adding and the membership
// test cost O(1) on average: new entries wait beside the ordered part and are
// merged into it (sort and merge) when the list is next read by position.
class TWebCacheTreeNodeCopyList {
public:
    // Adds the node unless it is there; a node that enters the list has its
    // Copied mark cleared. True when added. Two entries whose URLs differ only
    // in case are two documents (the tree numbers their names): both go in.
    bool Add(TWebCacheTreeNode* node);
    bool Contains(const TWebCacheTreeNode* node) const;
    TWebCacheTreeNode* Items(int index) const;
    int Count() const { return static_cast<int>(sorted_.size() + pending_.size()); }
    void Clear();

private:
    struct Entry {
        std::string lowerUrl; // the walk's order: URLs ignoring case
        TWebCacheTreeNode* node;
    };
    void Merge() const;
    std::unordered_set<const TWebCacheTreeNode*> members_;
    mutable std::vector<Entry> sorted_;
    mutable std::vector<Entry> pending_;
};

// What a view over the tree (a Qt item model, say) must hear to stay in step.
// Rows are the indexes of children in their parent's list. Every call comes
// on the tree's own thread. A removal is announced while the nodes are still
// in place, and reported once they are gone; first..last are contiguous rows.
// A rebuild (Build, Clear, Refresh) is one reset; a change of order or names
// that keeps every node (SortAll, RenameDuplicates, SetName, AddNode's sort)
// is one layout change.
class TWebCacheTreeObserver {
public:
    virtual ~TWebCacheTreeObserver() = default;
    virtual void NodesAboutToBeRemoved(TWebCacheTreeNode* /*parent*/, int /*first*/, int /*last*/) {
    }
    virtual void NodesRemoved(TWebCacheTreeNode* /*parent*/, int /*first*/, int /*last*/) {}
    virtual void NodesAboutToBeInserted(TWebCacheTreeNode* /*parent*/, int /*first*/,
                                        int /*last*/) {}
    virtual void NodesInserted(TWebCacheTreeNode* /*parent*/, int /*first*/, int /*last*/) {}
    virtual void LayoutAboutToChange() {}
    virtual void LayoutChanged() {}
    virtual void TreeAboutToBeReset() {}
    virtual void TreeReset() {}
};

// The steps of a refresh, in order.
enum class TRefreshStage {
    Reading,  // the cache's entries are read (total not known yet: 0)
    Building, // the entries are placed in the tree (total: the entries read)
    Sorting,  // every folder is sorted (done 0 of 1, then 1 of 1)
    Naming,   // duplicate names are numbered (done 0 of 1, then 1 of 1)
};
using TRefreshProgress = std::function<void(TRefreshStage stage, int done, int total)>;

class TWebCacheTree {
public:
    using TEntryEvent = std::function<void(TWebCacheTree& sender, const TWebCacheEntryInfo& entry)>;
    // Several parts of the program hold node references or mirror the tree
    // at once (the views, a copy, a deletion's counter, a search): each
    // subscribes on its own and keeps the handle while it listens.
    using TNodeDeletedEvent = TEvent<TWebCacheTree&, std::string_view>;
    using TChangingEvent = TEvent<TWebCacheTree&>;

    // Without a source the cache is empty.
    explicit TWebCacheTree(std::unique_ptr<TCacheSource> source = nullptr);
    // Saves what changed of the rename list and the content-type table
    // (SaveDataFiles, failures unreported), then frees the nodes without
    // touching the cache.
    ~TWebCacheTree();
    TWebCacheTree(const TWebCacheTree&) = delete;
    TWebCacheTree& operator=(const TWebCacheTree&) = delete;

    TWebCacheTreeNode* Root() const { return root_; }
    TWebCache& Cache() { return cache_; }
    const TCrc32Table& Crc32Table() const { return crcTable_; }

    // Shown for files whose Name is empty ("index.html" unless a favorite
    // says otherwise); run RenameDuplicates again after changing it.
    std::string DefaultFileName = "index.html";
    // Called once for every entry while Build places it.
    TEntryEvent OnEntry;
    // Called for every node DeleteNode removes (children before parents),
    // with its UrlText, once the cache entry is gone: the node is marked
    // Deleting and leaves its parent right after (observers hear of that).
    TNodeDeletedEvent OnNodeDeleted;
    // Raised before Build, Clear, SortAll, RenameDuplicates, AddNode and
    // DeleteNode change, move or free nodes: a reader on another thread (the
    // search) is stopped here. Not raised again from inside those operations.
    TChangingEvent OnChanging;

    // Observers are not owned; remove one before it goes.
    void AddObserver(TWebCacheTreeObserver* observer);
    void RemoveObserver(TWebCacheTreeObserver* observer);

    // The rename list of the cache the tree reads. Setting another saves the
    // list in use first (failures unreported: a front end that reports them
    // runs SaveDataFiles before), then loads the new one (LoadRenameList).
    // sharedFile names the list every cache once shared: while file does not
    // exist yet, each refresh moves the records of the entries it reads from
    // that list into this one, and the next save writes this list (even
    // empty, once a refresh read the whole cache: from then on it is the
    // cache's own) and then the shared list without them. The shared list's
    // other records stay there for their own caches; a shared list that
    // could not be read whole keeps all of them (what moved is then in both).
    const std::filesystem::path& RenameListFile() const { return renameListFile_; }
    void SetRenameListFile(const std::filesystem::path& file,
                           const std::filesystem::path& sharedFile = {});
    // The list of the cache that cachePath names (CacheIdentityPath) in
    // dataFolder: kRenameListFolder/RenameListFileName(cachePath), with
    // kSharedRenameListFile as the shared list. An empty path: no list.
    void SetRenameListFor(const std::filesystem::path& dataFolder,
                          const std::filesystem::path& cachePath);
    const std::filesystem::path& SharedRenameListFile() const { return sharedRenameListFile_; }
    TWebCacheRenameItems& RenameItems() { return renameItems_; }
    const std::filesystem::path& ContentTypeFile() const { return contentTypeFile_; }
    void SetContentTypeFile(const std::filesystem::path& file);
    TContentType& ContentTypes() { return contentTypes_; }
    // The media-types file the content-type table starts from; set it before
    // SetContentTypeFile.
    std::filesystem::path MimeTypesFile;

    // How the data files were read. A file that could not be read whole is
    // never saved over (SaveDataFiles says so when that loses a change).
    const TRecordFileRead& RenameListRead() const { return renameListRead_; }
    // How the shared list was read; as a missing file when it was not read
    // (the cache has its own list, or there is no shared one).
    const TRecordFileRead& SharedRenameListRead() const { return sharedRead_; }
    // Whether the cache's records are still to be taken from the shared list.
    bool RenameListMigrating() const { return migrating_; }
    const TRecordFileRead& ContentTypeRead() const { return contentTypeRead_; }

    bool EnableScheme() const { return enableScheme_; }
    // Takes effect at the next Build.
    void SetEnableScheme(bool on) { enableScheme_ = on; }

    // Changes with every Build and Clear: node references taken under an
    // older generation are gone.
    std::uint64_t Generation() const { return generation_; }
    // Changes whenever a node is added or freed (every Build, Clear, AddNode
    // and deletion): a table of node references made under an older
    // revision may hold freed nodes and must be made again.
    std::uint64_t Revision() const { return revision_; }
    bool SortingSuspended() const { return suspendSort_ > 0; }

    // The whole refresh as the window runs it: Build (reading the cache once),
    // SortAll, RenameDuplicates on Root, reporting each step. One reset for
    // observers. The result is why the cache could not be read whole (the
    // tree then holds what could be read).
    [[nodiscard]] TError Refresh(const TRefreshProgress& progress = {});

    int CountEntries();
    void Build();
    void SortAll();
    // Gives every file below node its final Name and numbers clashes.
    void RenameDuplicates(TWebCacheTreeNode* node);
    TWebCacheTreeNode* AddNode(TWebCacheTreeNode* parent, std::string_view name,
                               std::unique_ptr<TWebCacheEntryInfoEx> entry);
    void Clear();
    // Deletes the node's cache entries and the node, children first, then
    // the folders it leaves empty (never the root). A cache entry that cannot
    // be deleted stops the deletion: its node and the folders above it stay,
    // and the result says why. An entry the cache no longer holds counts as
    // deleted.
    [[nodiscard]] TError DeleteNode(TWebCacheTreeNode* node);
    // Deletes every listed node as DeleteNode does, in list order, but takes
    // the nodes out of each folder in one pass, so that deleting many files of
    // a large folder costs time in proportion to the folder once, not per
    // file. Folders left empty go afterwards (deepest first), never the root.
    // A node listed twice, or below another listed node, goes with the first.
    // The first failure stops the deletion; what was deleted before it is gone.
    [[nodiscard]] TError DeleteNodes(const std::vector<TWebCacheTreeNode*>& nodes);
    // DeleteNode on the node FindNodeByUrl finds; ENOENT when there is none.
    [[nodiscard]] TError DeleteByUrl(std::string_view url);
    TWebCacheTreeNode* FindNodeByUrl(std::string_view path) const;
    TWebCacheTreeNode* FindFolderByUrl(std::string_view url) const;
    int CountFiles(const TWebCacheTreeNode* node) const;
    void UpdateFolderTotals(TWebCacheTreeNode* node);

    void LoadRenameList();
    void LoadContentTypes();
    // Each writes its file only when what it holds changed since it was read
    // or written, and never over a file that could not be read whole. Once
    // the cache's rename list is written, the shared list loses the records
    // that moved (left as it is when it cannot be written: they are then in
    // both, which loses nothing, and is not reported); emptied, it goes.
    [[nodiscard]] TError SaveRenameList();
    [[nodiscard]] TError SaveContentTypes();
    // Both of the above; the first failure (both texts when both fail).
    [[nodiscard]] TError SaveDataFiles();

    // The title of the cached HTML page a URL names, or empty.
    std::string GetTitle(std::string_view url) const;

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
    // A reset (or layout change) for observers; the outermost one reports,
    // and a layout change inside a reset is part of it.
    class ResetScope {
    public:
        explicit ResetScope(TWebCacheTree& tree);
        ~ResetScope();
        ResetScope(const ResetScope&) = delete;
        ResetScope& operator=(const ResetScope&) = delete;

    private:
        TWebCacheTree& tree_;
    };
    class LayoutScope {
    public:
        explicit LayoutScope(TWebCacheTree& tree);
        ~LayoutScope();
        LayoutScope(const LayoutScope&) = delete;
        LayoutScope& operator=(const LayoutScope&) = delete;

    private:
        TWebCacheTree& tree_;
        bool active_;
    };
    template <typename Call> void Notify(Call call) {
        // An observer may leave while it is told (a view that closes).
        const std::vector<TWebCacheTreeObserver*> observers = observers_;
        for (TWebCacheTreeObserver* observer : observers)
            if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end())
                call(*observer);
    }

    void BuildTree(const TRefreshProgress& progress);
    // The split of an entry's URL (or of its rename item) and its local name.
    void PrepareEntry(TWebCacheEntryInfoEx& entry);
    // Hangs a prepared file node into the folders of its DirUrl.
    void PlaceFile(TWebCacheTreeNode* file, std::string& path);
    // Raises OnChanging once for the outermost changing operation.
    class ChangingScope {
    public:
        explicit ChangingScope(TWebCacheTree& tree) : tree_(tree) {
            if (tree_.changingDepth_++ == 0)
                tree_.OnChanging(tree_);
        }
        ~ChangingScope() { --tree_.changingDepth_; }
        ChangingScope(const ChangingScope&) = delete;
        ChangingScope& operator=(const ChangingScope&) = delete;

    private:
        TWebCacheTree& tree_;
    };
    void ApplyLocalName(TWebCacheEntryInfoEx& entry);
    // Writes the shared rename list without what moved from it (see
    // SaveRenameList) and lets it go.
    void SaveSharedRenameList();
    // Deletes the children of start (and theirs), in order, until one fails.
    TError DeleteChildren(TWebCacheTreeNode* start);
    // The deletion of one node without children: its cache entry (files),
    // the mark and OnNodeDeleted. The node stays in its parent.
    TError DeletionReaction(TWebCacheTreeNode* node);
    // Removes the first count children of parent, which have been deleted.
    void RemoveDeleted(TWebCacheTreeNode* parent, std::size_t count);
    // Takes the children of parent that are in gone out of it in one pass.
    void RemoveListed(TWebCacheTreeNode* parent,
                      const std::unordered_set<const TWebCacheTreeNode*>& gone);
    TWebCacheTreeNode* WalkPath(std::string_view& path) const;

    // Nodes and the entries of files come from the tree's pools; freeing the
    // whole tree destroys them and gives the blocks back at once.
    TWebCacheTreeNode* NewNode(TWebCacheTreeNode* parent, std::string name, bool isFolder);
    // Destroys node and every node below it and returns their places to the
    // pools. The node must be out of its parent's list (or be unplaced).
    void FreeSubtree(TWebCacheTreeNode* node);
    // Destroys every node below the root and releases the pools' blocks.
    void FreeAllNodes();
    TBlockPool<TWebCacheEntryInfoEx> entryPool_;
    TBlockPool<TWebCacheTreeNode::FolderPart> folderPool_;
    TBlockPool<TWebCacheTreeNode> nodePool_;
    TWebCacheTreeNode::FolderPart rootPart_; // the root's, which outlives every Clear
    TWebCacheTreeNode* root_;
    TWebCache cache_;
    TCrc32Table crcTable_;
    TWebCacheRenameItems renameItems_;
    TContentType contentTypes_;
    std::filesystem::path renameListFile_;
    std::filesystem::path sharedRenameListFile_;
    std::filesystem::path contentTypeFile_;
    TRecordFileRead renameListRead_;
    // The shared rename list while the cache's records are taken from it.
    TWebCacheRenameItems sharedItems_;
    TRecordFileRead sharedRead_;
    bool migrating_ = false; // the cache has no list file yet; the shared one was read
    bool migrated_ = false;  // a refresh read the whole cache while migrating
    TRecordFileRead contentTypeRead_;
    std::string contentTypeText_;   // what the content-type file holds
    std::string contentTypeLoaded_; // the table as it was loaded or last saved
    std::vector<TWebCacheTreeObserver*> observers_;
    bool enableScheme_ = true;
    int suspendSort_ = 0;
    int resetDepth_ = 0;
    int changingDepth_ = 0; // ChangingScopes open
    int layoutDepth_ = 0;
    std::uint64_t generation_ = 1;
    std::uint64_t revision_ = 1;
};

// Whether node is the folder of a URL scheme ("http:"): a folder right below
// the root whose name ends in ':'.
bool IsSchemeFolder(const TWebCacheTreeNode* node);

// The extension of a name: from its last '.' to the end, unless a '\' or ':'
// follows that '.'; empty otherwise.
std::string_view ExtractFileExt(std::string_view name);
// The content type of an entry: its "Content-Type" value lower-cased, cut at
// the first ';', trimmed.
std::string EntryContentType(const TWebCacheEntryInfo& entry);

} // namespace tarnhold
