#include "tree/webcachetree.h"

#include "platform/codepage.h"
#include "platform/mimetypes.h"
#include "platform/sortedlist.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"
#include "tree/cachelisting.h"

#include <algorithm>
#include <cerrno>

namespace tarnhold {

namespace {

// AnsiLowerCase(name): name itself when it holds no upper-case ASCII byte,
// else its lower form written to buffer.
std::string_view LowerKey(std::string_view name, std::string& buffer) {
    if (std::none_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; }))
        return name;
    AnsiLowerCaseTo(name, buffer);
    return buffer;
}

// Lists larger than this get a name index beside them.
constexpr std::size_t kIndexThreshold = 16;

bool NodeLess(const TWebCacheTreeNode* a, const TWebCacheTreeNode* b) {
    int c = AnsiCompareStr(a->LowerName(), b->LowerName());
    if (c != 0)
        return c < 0;
    // Equal names: the newer first.
    return CompareSystemTime(a->LastModified(), b->LastModified()) > 0;
}

// Visits every folder below and including start, each after all folders
// below it (children before parents), without recursion: URLs from a damaged
// or hostile cache may nest folders deeper than the stack would allow.
template <typename Visit> void ForEachFolderPostOrder(TWebCacheTreeNode* start, Visit visit) {
    struct Frame {
        TWebCacheTreeNode* node;
        int next;
    };
    std::vector<Frame> stack{{start, 0}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next < top.node->Count()) {
            TWebCacheTreeNode* child = top.node->Items(top.next++);
            if (child->IsFolder)
                stack.push_back({child, 0});
            continue;
        }
        TWebCacheTreeNode* done = top.node;
        stack.pop_back();
        visit(done);
    }
}

} // namespace

// ---------------------------------------------------------------------------
// TWebCacheTreeNode

TWebCacheTreeNode::TWebCacheTreeNode(TWebCacheTree* tree, TWebCacheTreeNode* parent,
                                     std::string name, TWebCacheEntryInfoEx* entry)
    : IsFolder(entry == nullptr), tree_(tree), parent_(parent), entry_(entry) {
    AssignName(std::move(name));
}

TWebCacheTreeNode::~TWebCacheTreeNode() {
    if (entry_ != nullptr)
        tree_->entryPool_.Give(entry_);
    if (folder_ != nullptr && folder_ != &tree_->rootPart_)
        tree_->folderPool_.Give(folder_);
}

const std::vector<TWebCacheTreeNode*>& TWebCacheTreeNode::NoChildren() {
    static const std::vector<TWebCacheTreeNode*> none;
    return none;
}

TWebCacheTreeNode::FolderPart& TWebCacheTreeNode::Part() {
    if (folder_ == nullptr)
        folder_ = tree_->folderPool_.Make();
    return *folder_;
}

const TWebCacheEntryInfoEx& TWebCacheTreeNode::EmptyEntry() {
    static const TWebCacheEntryInfoEx empty;
    return empty;
}

void TWebCacheTreeNode::AssignName(std::string name) {
    name_ = std::move(name);
    // Most names are lower case already: the lower form is then the name.
    const bool same =
        std::none_of(name_.begin(), name_.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    if (same) {
        lowerName_.reset();
        return;
    }
    if (!lowerName_)
        lowerName_ = std::make_unique<std::string>();
    AnsiLowerCaseTo(name_, *lowerName_);
}

const std::string& TWebCacheTreeNode::DisplayName() const {
    return name_.empty() ? tree_->DefaultFileName : name_;
}

void TWebCacheTreeNode::SetName(std::string_view name) {
    if (name == name_)
        return;
    if (parent_ != nullptr && !tree_->SortingSuspended()) {
        TWebCacheTree::LayoutScope layout(*tree_);
        AssignName(std::string(name));
        parent_->SortChildren();
        return;
    }
    AssignName(std::string(name));
    if (parent_ != nullptr)
        parent_->Part().indexValid = false; // until the parent is sorted again
}

std::string TWebCacheTreeNode::DirUrl() const {
    if (!IsFolder || parent_ == nullptr)
        return Info().DirUrl;
    std::vector<const TWebCacheTreeNode*> chain;
    std::size_t length = 0;
    for (const TWebCacheTreeNode* n = this; n->parent_ != nullptr; n = n->parent_) {
        chain.push_back(n);
        length += n->name_.size() + 2;
    }
    std::string url;
    url.reserve(length);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        url += (*it)->name_;
        url += IsSchemeFolder(*it) ? "//" : "/";
    }
    return url;
}

bool IsSchemeFolder(const TWebCacheTreeNode* node) {
    // A host folder may hold ':' too ("host:8080"): only the scheme's own
    // folder, right below the root, is followed by "//".
    return node != nullptr && node->IsFolder && node->Parent() != nullptr &&
           node->Parent()->Parent() == nullptr && !node->Name().empty() &&
           node->Name().back() == ':';
}

std::string TWebCacheTreeNode::UrlText() const {
    std::string url = DirUrl();
    if (!IsFolder)
        url += DisplayName();
    return url;
}

int TWebCacheTreeNode::IndexOf(const TWebCacheTreeNode* child) const {
    const auto& children = Children();
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (children[i] == child)
            return static_cast<int>(i);
    }
    return -1;
}

int TWebCacheTreeNode::Level() const {
    int level = 0;
    for (const TWebCacheTreeNode* p = parent_; p != nullptr; p = p->parent_)
        ++level;
    return level;
}

void TWebCacheTreeNode::SortChildren() {
    if (folder_ == nullptr)
        return; // nothing to sort
    std::sort(folder_->children.begin(), folder_->children.end(), NodeLess);
    RebuildIndex(); // the first child of a name may have changed
}

void TWebCacheTreeNode::RebuildIndex() {
    if (folder_ == nullptr)
        return;
    FolderPart& part = *folder_;
    if (part.children.size() <= kIndexThreshold) {
        part.index.reset();
        part.indexValid = false;
        return;
    }
    if (!part.index)
        part.index = std::make_unique<NameIndex>();
    part.index->Reset(part.children.size());
    for (TWebCacheTreeNode* child : part.children)
        part.index->Insert(child); // the first of a name stays
    part.indexValid = true;
}

TWebCacheTreeNode* TWebCacheTreeNode::FindChild(std::string_view name) const {
    // Called for every segment of every URL while the tree is built: the
    // lower-cased name goes to a buffer that is reused (one per thread).
    // A name without an upper-case ASCII byte is its own lower form (most
    // are) and is not copied.
    if (folder_ == nullptr)
        return nullptr;
    thread_local std::string buffer;
    const std::string_view lower = LowerKey(name, buffer);
    if (folder_->index && folder_->indexValid)
        return folder_->index->Find(lower);
    for (TWebCacheTreeNode* child : folder_->children) {
        if (child->LowerName() == lower)
            return child;
    }
    return nullptr;
}

void TWebCacheTreeNode::NameIndex::Reset(std::size_t expected) {
    std::size_t size = 16;
    while (size < expected * 2)
        size *= 2;
    table.assign(size, nullptr);
    count = 0;
}

void TWebCacheTreeNode::NameIndex::Insert(TWebCacheTreeNode* child) {
    if ((count + 1) * 2 > table.size()) {
        std::vector<TWebCacheTreeNode*> old = std::move(table);
        Reset(count + 1);
        for (TWebCacheTreeNode* node : old) {
            if (node != nullptr)
                Insert(node);
        }
    }
    const std::string& lower = child->LowerName();
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = std::hash<std::string_view>{}(lower)&mask;; i = (i + 1) & mask) {
        TWebCacheTreeNode* there = table[i];
        if (there == nullptr) {
            table[i] = child;
            ++count;
            return;
        }
        if (there == child || there->LowerName() == lower)
            return;
    }
}

TWebCacheTreeNode* TWebCacheTreeNode::NameIndex::Find(std::string_view lower) const {
    if (table.empty())
        return nullptr;
    const std::size_t mask = table.size() - 1;
    for (std::size_t i = std::hash<std::string_view>{}(lower)&mask;; i = (i + 1) & mask) {
        TWebCacheTreeNode* there = table[i];
        if (there == nullptr || there->LowerName() == lower)
            return there;
    }
}

TWebCacheTreeNode* TWebCacheTreeNode::FindFolderChild(std::string_view name) const {
    TWebCacheTreeNode* first = FindChild(name);
    if (first == nullptr || first->IsFolder)
        return first;
    // A file of that name came first (the cache held "http://h" as well as
    // "http://h/x.html"); the folder, if there is one, is further on.
    thread_local std::string buffer;
    const std::string_view lower = LowerKey(name, buffer);
    for (TWebCacheTreeNode* child : Children()) {
        if (child->IsFolder && child->LowerName() == lower)
            return child;
    }
    return nullptr;
}

void TWebCacheTreeNode::Append(TWebCacheTreeNode* child) {
    FolderPart& part = Part();
    part.children.push_back(child);
    if (part.index && part.indexValid)
        part.index->Insert(child);
    else if (part.children.size() > kIndexThreshold && (!part.index || part.indexValid))
        RebuildIndex(); // the folder has just grown large
}

bool TWebCacheTreeNode::Remove(TWebCacheTreeNode* child) {
    if (folder_ == nullptr)
        return false;
    auto& children = folder_->children;
    auto it = std::find(children.begin(), children.end(), child);
    if (it == children.end())
        return false;
    children.erase(it);
    RebuildIndex();
    return true;
}

// ---------------------------------------------------------------------------
// TWebCacheTreeNodeCopyList

bool TWebCacheTreeNodeCopyList::Add(TWebCacheTreeNode* node) {
    if (!members_.insert(node).second)
        return false;
    pending_.push_back(Entry{AnsiLowerCase(node->Info().Url), node});
    node->Copied = false;
    return true;
}

bool TWebCacheTreeNodeCopyList::Contains(const TWebCacheTreeNode* node) const {
    return members_.count(node) > 0;
}

TWebCacheTreeNode* TWebCacheTreeNodeCopyList::Items(int index) const {
    if (!pending_.empty())
        Merge();
    return sorted_[static_cast<std::size_t>(index)].node;
}

void TWebCacheTreeNodeCopyList::Merge() const {
    auto less = [](const Entry& a, const Entry& b) {
        const int c = AnsiCompareStr(a.lowerUrl, b.lowerUrl);
        return c != 0 ? c < 0 : a.node->Info().Url < b.node->Info().Url;
    };
    std::sort(pending_.begin(), pending_.end(), less);
    const std::size_t middle = sorted_.size();
    sorted_.insert(sorted_.end(), pending_.begin(), pending_.end());
    std::inplace_merge(sorted_.begin(), sorted_.begin() + static_cast<std::ptrdiff_t>(middle),
                       sorted_.end(), less);
    pending_.clear();
}

void TWebCacheTreeNodeCopyList::Clear() {
    sorted_.clear();
    pending_.clear();
    members_.clear();
}

// ---------------------------------------------------------------------------
// TWebCacheTree

TWebCacheTree::ResetScope::ResetScope(TWebCacheTree& tree) : tree_(tree) {
    if (tree_.resetDepth_++ == 0)
        tree_.Notify([](TWebCacheTreeObserver& o) { o.TreeAboutToBeReset(); });
}

TWebCacheTree::ResetScope::~ResetScope() {
    if (--tree_.resetDepth_ == 0)
        tree_.Notify([](TWebCacheTreeObserver& o) { o.TreeReset(); });
}

TWebCacheTree::LayoutScope::LayoutScope(TWebCacheTree& tree)
    : tree_(tree), active_(tree.resetDepth_ == 0) {
    if (active_ && tree_.layoutDepth_++ == 0)
        tree_.Notify([](TWebCacheTreeObserver& o) { o.LayoutAboutToChange(); });
}

TWebCacheTree::LayoutScope::~LayoutScope() {
    if (active_ && --tree_.layoutDepth_ == 0)
        tree_.Notify([](TWebCacheTreeObserver& o) { o.LayoutChanged(); });
}

TWebCacheTree::TWebCacheTree(std::unique_ptr<TCacheSource> source)
    : MimeTypesFile(kSystemMimeTypesFile),
      root_(new TWebCacheTreeNode(this, nullptr, "Web Cache", nullptr)), cache_(std::move(source)),
      crcTable_(MakeCrc32Table()) {
    root_->folder_ = &rootPart_;
}

TWebCacheTree::~TWebCacheTree() {
    (void)SaveDataFiles(); // a front end that reports failures saves before
    renameItems_.Clear();
    contentTypes_.Clear();
    observers_.clear();
    FreeAllNodes(); // without events, without touching the cache
    delete root_;
}

TWebCacheTreeNode* TWebCacheTree::NewNode(TWebCacheTreeNode* parent, std::string name,
                                          bool isFolder) {
    TWebCacheEntryInfoEx* entry = isFolder ? nullptr : entryPool_.Make();
    try {
        return nodePool_.Make(this, parent, std::move(name), entry);
    } catch (...) {
        if (entry != nullptr)
            entryPool_.Give(entry);
        throw;
    }
}

void TWebCacheTree::FreeSubtree(TWebCacheTreeNode* node) {
    // Without recursion (see ForEachFolderPostOrder).
    std::vector<TWebCacheTreeNode*> pending{node};
    while (!pending.empty()) {
        TWebCacheTreeNode* n = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), n->Children().begin(), n->Children().end());
        nodePool_.Give(n);
    }
}

void TWebCacheTree::FreeAllNodes() {
    std::vector<TWebCacheTreeNode*> pending = std::move(rootPart_.children);
    rootPart_.children.clear();
    rootPart_.index.reset();
    rootPart_.indexValid = false;
    while (!pending.empty()) {
        TWebCacheTreeNode* n = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), n->Children().begin(), n->Children().end());
        n->~TWebCacheTreeNode();
    }
    nodePool_.Release();
    entryPool_.Release();
    folderPool_.Release();
}

void TWebCacheTree::AddObserver(TWebCacheTreeObserver* observer) {
    if (observer != nullptr &&
        std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void TWebCacheTree::RemoveObserver(TWebCacheTreeObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void TWebCacheTree::SetRenameListFile(const std::filesystem::path& file,
                                      const std::filesystem::path& sharedFile) {
    if (file == renameListFile_ && sharedFile == sharedRenameListFile_)
        return;
    (void)SaveRenameList(); // a cache's names never go to another's list
    renameListFile_ = file;
    sharedRenameListFile_ = sharedFile;
    LoadRenameList();
}

void TWebCacheTree::SetRenameListFor(const std::filesystem::path& dataFolder,
                                     const std::filesystem::path& cachePath) {
    if (dataFolder.empty() || cachePath.empty()) {
        SetRenameListFile({});
        return;
    }
    SetRenameListFile(dataFolder / kRenameListFolder / RenameListFileName(cachePath),
                      dataFolder / kSharedRenameListFile);
}

void TWebCacheTree::SetContentTypeFile(const std::filesystem::path& file) {
    if (file == contentTypeFile_)
        return;
    contentTypeFile_ = file;
    LoadContentTypes();
}

int TWebCacheTree::CountEntries() {
    return cache_.Count();
}

TWebCacheTreeNode* TWebCacheTree::AddNode(TWebCacheTreeNode* parent, std::string_view name,
                                          std::unique_ptr<TWebCacheEntryInfoEx> entry) {
    ChangingScope changing(*this);
    TWebCacheTreeNode* raw = NewNode(parent, std::string(name), entry == nullptr);
    if (entry)
        *raw->entry_ = std::move(*entry);
    ++revision_;
    const bool tell = resetDepth_ == 0 && !observers_.empty();
    const int row = parent->Count();
    if (tell)
        Notify([&](TWebCacheTreeObserver& o) { o.NodesAboutToBeInserted(parent, row, row); });
    try {
        parent->Append(raw);
    } catch (...) {
        FreeSubtree(raw);
        throw;
    }
    if (tell)
        Notify([&](TWebCacheTreeObserver& o) { o.NodesInserted(parent, row, row); });
    if (!SortingSuspended()) {
        LayoutScope layout(*this);
        parent->SortChildren();
    }
    return raw;
}

void TWebCacheTree::PrepareEntry(TWebCacheEntryInfoEx& entry) {
    std::string replacement = renameItems_.Lookup(entry.Url);
    if (replacement.empty() && migrating_)
        replacement = sharedItems_.MoveTo(entry.Url, renameItems_);
    SplitURL(replacement.empty() ? std::string_view(entry.Url) : replacement, &entry.DirUrl,
             &entry.FileName, &entry.ExtraInfo);
    if (!enableScheme_)
        entry.DirUrl.erase(0, SchemePrefixLength(entry.DirUrl));
    if (replacement.empty())
        ApplyLocalName(entry);
}

void TWebCacheTree::PlaceFile(TWebCacheTreeNode* file, std::string& path) {
    if (OnEntry)
        OnEntry(*this, file->Info());
    CollapseDoubleSlashes(file->Info().DirUrl, path);
    TWebCacheTreeNode* node = root_;
    std::size_t start = 0;
    int depth = 0;
    for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos;
         start = slash + 1) {
        if (++depth > kMaxFolderDepth)
            break;
        std::string_view segment(path.data() + start, slash - start);
        TWebCacheTreeNode* child = node->FindFolderChild(segment);
        if (child == nullptr)
            child = AddNode(node, segment, nullptr);
        node = child;
    }
    file->AssignName(file->Info().FileName); // may be empty
    file->parent_ = node;
    node->Append(file);
}

void TWebCacheTree::BuildTree(const TRefreshProgress& progress) {
    ChangingScope changing(*this);
    ResetScope reset(*this);
    SortSuspension suspend(*this);
    Clear();
    // The cache is read once. Each entry is split and named while it is at
    // hand and kept in the file node it will be; the nodes are placed once
    // all are read, so that the placing knows how many there are. Until a
    // node is placed it belongs to the list below, which frees what was not
    // placed should the build stop half-way (an exception from a callback).
    struct Unplaced {
        TWebCacheTree& tree;
        std::vector<TWebCacheTreeNode*> nodes;
        std::size_t placed = 0;
        ~Unplaced() {
            for (std::size_t i = placed; i < nodes.size(); ++i) {
                if (nodes[i] != nullptr)
                    tree.FreeSubtree(nodes[i]);
            }
        }
    } files{*this, {}};
    files.nodes.push_back(nullptr);
    TWebCacheTreeNode* file = files.nodes.back() = NewNode(nullptr, std::string(), false);
    if (cache_.FindFirst(*file->entry_)) {
        do {
            PrepareEntry(*file->entry_);
            if (progress)
                progress(TRefreshStage::Reading, static_cast<int>(files.nodes.size()), 0);
            files.nodes.push_back(nullptr);
            file = files.nodes.back() = NewNode(nullptr, std::string(), false);
        } while (cache_.FindNext(*file->entry_));
    }
    cache_.FindClose();
    // The last record received no entry.
    files.nodes.pop_back();
    FreeSubtree(file);
    // Only a cache read whole has taken all its records from the shared list,
    // and may have its list written empty to say so.
    if (migrating_ && cache_.Error().Ok())
        migrated_ = true;

    const int total = static_cast<int>(files.nodes.size());
    if (progress)
        progress(TRefreshStage::Building, 0, total);
    std::string path;
    while (files.placed < files.nodes.size()) {
        PlaceFile(files.nodes[files.placed], path);
        ++files.placed;
        if (progress)
            progress(TRefreshStage::Building, static_cast<int>(files.placed), total);
    }
    UpdateFolderTotals(root_);
}

void TWebCacheTree::Build() {
    BuildTree({});
}

TError TWebCacheTree::Refresh(const TRefreshProgress& progress) {
    ChangingScope changing(*this);
    ResetScope reset(*this);
    BuildTree(progress);
    if (progress)
        progress(TRefreshStage::Sorting, 0, 1);
    SortAll();
    if (progress) {
        progress(TRefreshStage::Sorting, 1, 1);
        progress(TRefreshStage::Naming, 0, 1);
    }
    RenameDuplicates(root_);
    if (progress)
        progress(TRefreshStage::Naming, 1, 1);
    return cache_.Error();
}

void TWebCacheTree::SortAll() {
    ChangingScope changing(*this);
    LayoutScope layout(*this);
    ForEachFolderPostOrder(root_, [](TWebCacheTreeNode* n) { n->SortChildren(); });
}

void TWebCacheTree::Clear() {
    ChangingScope changing(*this);
    ResetScope reset(*this);
    FreeAllNodes(); // destroyed here, without events
    ++generation_;
    ++revision_;
}

TError TWebCacheTree::DeletionReaction(TWebCacheTreeNode* node) {
    std::string url = node->UrlText();
    if (!node->IsFolder) {
        TError error = cache_.DeleteEntry(node->Info().Url);
        // An entry the cache no longer holds is as good as deleted.
        if (error && error.Code() != ENOENT)
            return TError::Message(AnsiToUtf8(node->Info().Url) + ": " + error.Text(),
                                   error.Code());
    }
    node->Deleting = true;
    ++revision_; // the node is freed once its folder lets it go
    OnNodeDeleted(*this, url);
    return {};
}

void TWebCacheTree::RemoveDeleted(TWebCacheTreeNode* parent, std::size_t count) {
    if (count == 0)
        return;
    const int last = static_cast<int>(count) - 1;
    Notify([&](TWebCacheTreeObserver& o) { o.NodesAboutToBeRemoved(parent, 0, last); });
    if (!parent->Deleting) {
        for (std::size_t i = 0; i < count; ++i)
            parent->SubtractFromTotal(parent->Items(static_cast<int>(i))->Size());
    }
    auto& children = parent->Part().children;
    const auto end = children.begin() + static_cast<std::ptrdiff_t>(count);
    const std::vector<TWebCacheTreeNode*> removed(children.begin(), end);
    children.erase(children.begin(), end);
    parent->RebuildIndex();
    for (TWebCacheTreeNode* node : removed)
        FreeSubtree(node);
    Notify([&](TWebCacheTreeObserver& o) { o.NodesRemoved(parent, 0, last); });
}

TError TWebCacheTree::DeleteChildren(TWebCacheTreeNode* start) {
    // Children before their parent, in list order, without recursion. A node
    // stays in its place until it and all below it are deleted; then the
    // deleted children of a folder leave it in one piece, from its front.
    struct Frame {
        TWebCacheTreeNode* folder;
        std::size_t next;
    };
    std::vector<Frame> stack{{start, 0}};
    TError error;
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (error.Ok() && top.next < top.folder->Children().size()) {
            TWebCacheTreeNode* child = top.folder->Children()[top.next];
            if (child->IsFolder && child->Count() > 0) {
                stack.push_back({child, 0});
                continue;
            }
            error = DeletionReaction(child);
            if (error.Ok())
                ++top.next;
            continue;
        }
        TWebCacheTreeNode* folder = top.folder;
        const std::size_t deleted = top.next;
        stack.pop_back();
        RemoveDeleted(folder, deleted);
        if (stack.empty() || error)
            continue;
        // All below the folder went: the folder goes too.
        error = DeletionReaction(folder);
        if (error.Ok())
            ++stack.back().next;
    }
    return error;
}

TError TWebCacheTree::DeleteNode(TWebCacheTreeNode* node) {
    if (node == nullptr)
        return TError::FromErrno(ENOENT);
    ChangingScope changing(*this);
    if (node == root_)
        return DeleteChildren(root_);
    TWebCacheTreeNode* parent = node->parent_;
    while (parent != nullptr) {
        const int row = parent->IndexOf(node);
        if (row < 0)
            return TError::FromErrno(ENOENT); // not a node of this tree
        if (node->IsFolder) {
            if (TError error = DeleteChildren(node))
                return error;
        }
        if (TError error = DeletionReaction(node))
            return error;
        Notify([&](TWebCacheTreeObserver& o) { o.NodesAboutToBeRemoved(parent, row, row); });
        parent->Remove(node);
        if (!parent->Deleting)
            parent->SubtractFromTotal(node->Size());
        FreeSubtree(node);
        Notify([&](TWebCacheTreeObserver& o) { o.NodesRemoved(parent, row, row); });
        if (parent->Count() > 0 || parent == root_)
            break;
        // An emptied folder goes too, up to but never including the root.
        node = parent;
        parent = node->parent_;
    }
    return {};
}

TError TWebCacheTree::DeleteNodes(const std::vector<TWebCacheTreeNode*>& nodes) {
    ChangingScope changing(*this);
    std::unordered_set<const TWebCacheTreeNode*> listed(nodes.begin(), nodes.end());
    if (listed.count(root_) > 0)
        return DeleteNode(root_);
    // The nodes that go on their own: each once, none below another listed one.
    std::vector<TWebCacheTreeNode*> order;
    std::unordered_set<const TWebCacheTreeNode*> taken;
    for (TWebCacheTreeNode* node : nodes) {
        if (node == nullptr || node->tree_ != this || node->parent_ == nullptr ||
            !taken.insert(node).second)
            continue;
        bool inside = false;
        for (const TWebCacheTreeNode* p = node->parent_; p != nullptr && !inside; p = p->parent_)
            inside = listed.count(p) > 0;
        if (!inside)
            order.push_back(node);
    }
    // Each node's entries first (a folder's children go with it), staying in
    // its folder until the folder's deleted children leave in one piece.
    TError error;
    std::unordered_set<const TWebCacheTreeNode*> gone;
    std::vector<TWebCacheTreeNode*> parents;
    std::unordered_set<const TWebCacheTreeNode*> seenParent;
    for (TWebCacheTreeNode* node : order) {
        if (node->IsFolder && (error = DeleteChildren(node)))
            break;
        if ((error = DeletionReaction(node)))
            break;
        gone.insert(node);
        if (seenParent.insert(node->parent_).second)
            parents.push_back(node->parent_);
    }
    for (TWebCacheTreeNode* parent : parents)
        RemoveListed(parent, gone);
    // Emptied folders, the deepest first, up to but never including the root;
    // also after a failure, for what was deleted before it.
    std::stable_sort(parents.begin(), parents.end(),
                     [](const TWebCacheTreeNode* a, const TWebCacheTreeNode* b) {
                         return a->Level() > b->Level();
                     });
    std::unordered_set<const TWebCacheTreeNode*> pruned;
    for (TWebCacheTreeNode* folder : parents) {
        while (folder != root_ && pruned.count(folder) == 0 && folder->Count() == 0) {
            TWebCacheTreeNode* above = folder->parent_;
            if (DeletionReaction(folder)) // a folder has no entry of its own to refuse
                break;
            pruned.insert(folder);
            const int row = above->IndexOf(folder);
            Notify([&](TWebCacheTreeObserver& o) { o.NodesAboutToBeRemoved(above, row, row); });
            if (above->Remove(folder))
                FreeSubtree(folder);
            Notify([&](TWebCacheTreeObserver& o) { o.NodesRemoved(above, row, row); });
            folder = above;
        }
    }
    return error;
}

void TWebCacheTree::RemoveListed(TWebCacheTreeNode* parent,
                                 const std::unordered_set<const TWebCacheTreeNode*>& gone) {
    auto& children = parent->Part().children;
    // The runs of consecutive rows that go.
    std::vector<std::pair<std::size_t, std::size_t>> runs; // first, last
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (gone.count(children[i]) == 0)
            continue;
        if (!runs.empty() && runs.back().second + 1 == i)
            runs.back().second = i;
        else
            runs.emplace_back(i, i);
    }
    if (runs.empty())
        return;
    auto subtract = [&](std::size_t first, std::size_t last) {
        if (!parent->Deleting) {
            for (std::size_t i = first; i <= last; ++i)
                parent->SubtractFromTotal(children[i]->Size());
        }
    };
    // A few runs are told row by row, from the back so the rows stay true;
    // many scattered ones (every other file of a large folder) as one reset,
    // so the folder is compacted once.
    constexpr std::size_t kMaxToldRuns = 8;
    if (runs.size() <= kMaxToldRuns) {
        for (auto it = runs.rbegin(); it != runs.rend(); ++it) {
            const int first = static_cast<int>(it->first);
            const int last = static_cast<int>(it->second);
            Notify([&](TWebCacheTreeObserver& o) { o.NodesAboutToBeRemoved(parent, first, last); });
            subtract(it->first, it->second);
            const std::vector<TWebCacheTreeNode*> removed(children.begin() + first,
                                                          children.begin() + last + 1);
            children.erase(children.begin() + first, children.begin() + last + 1);
            for (TWebCacheTreeNode* node : removed)
                FreeSubtree(node);
            Notify([&](TWebCacheTreeObserver& o) { o.NodesRemoved(parent, first, last); });
        }
    } else {
        ResetScope reset(*this);
        std::size_t keep = 0;
        std::vector<TWebCacheTreeNode*> removed;
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (gone.count(children[i]) > 0) {
                subtract(i, i);
                removed.push_back(children[i]);
            } else {
                children[keep++] = children[i];
            }
        }
        children.resize(keep);
        for (TWebCacheTreeNode* node : removed)
            FreeSubtree(node);
    }
    parent->RebuildIndex();
}

TError TWebCacheTree::DeleteByUrl(std::string_view url) {
    TWebCacheTreeNode* node = FindNodeByUrl(url);
    if (node == nullptr)
        return TError::FromErrno(ENOENT, AnsiToUtf8(url));
    return DeleteNode(node);
}

TWebCacheTreeNode* TWebCacheTree::WalkPath(std::string_view& path) const {
    TWebCacheTreeNode* node = root_;
    int depth = 0;
    for (std::size_t slash; (slash = path.find('/')) != std::string_view::npos;) {
        if (++depth <= kMaxFolderDepth) {
            node = node->FindFolderChild(path.substr(0, slash));
            if (node == nullptr)
                return nullptr;
        }
        path.remove_prefix(slash + 1);
    }
    return node;
}

TWebCacheTreeNode* TWebCacheTree::FindNodeByUrl(std::string_view path) const {
    const std::string text = AnsiReplaceAll(enableScheme_ ? path : WithoutScheme(path), "//", "/");
    std::string_view rest = text;
    TWebCacheTreeNode* node = WalkPath(rest);
    if (node == nullptr || rest.empty())
        return node;
    return node->FindChild(rest);
}

TWebCacheTreeNode* TWebCacheTree::FindFolderByUrl(std::string_view url) const {
    std::string dir;
    SplitURL(url, &dir, nullptr, nullptr);
    dir = AnsiReplaceAll(enableScheme_ ? std::string_view(dir) : WithoutScheme(dir), "//", "/");
    std::string_view rest = dir;
    return WalkPath(rest);
}

int TWebCacheTree::CountFiles(const TWebCacheTreeNode* node) const {
    if (!node->IsFolder)
        return 1;
    int count = 0;
    ForEachFolderPostOrder(const_cast<TWebCacheTreeNode*>(node), [&](TWebCacheTreeNode* folder) {
        for (int i = 0; i < folder->Count(); ++i)
            count += folder->Items(i)->IsFolder ? 0 : 1;
    });
    return count;
}

void TWebCacheTree::UpdateFolderTotals(TWebCacheTreeNode* node) {
    if (!node->IsFolder)
        return;
    ForEachFolderPostOrder(node, [](TWebCacheTreeNode* folder) {
        std::uint64_t size = 0;
        SYSTEMTIME latest{};
        for (int i = 0; i < folder->Count(); ++i) {
            const TWebCacheTreeNode* child = folder->Items(i);
            if (CompareSystemTime(child->LastModified(), latest) > 0)
                latest = child->LastModified();
            size += child->Size();
        }
        TWebCacheTreeNode::FolderPart& part = folder->Part();
        part.size = size;
        part.lastModified = latest;
    });
}

std::string TWebCacheTree::GetTitle(std::string_view url) const {
    std::string dir, file;
    SplitURL(url, &dir, &file, nullptr);
    if (file.empty())
        file = DefaultFileName;
    const TWebCacheTreeNode* node = FindNodeByUrl(dir + file);
    if (node == nullptr || node->IsFolder || !IsHtmlEntry(node->Info()))
        return {};
    return ReadPageTitle(node->Info());
}

} // namespace tarnhold
