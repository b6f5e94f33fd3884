#include "cache/webcachetree.h"

#include "platform/codepage.h"
#include "platform/mimetypes.h"
#include "platform/sortedlist.h"
#include "text/htmlparser.h"
#include "text/urlutils.h"

#include <algorithm>

namespace tarnhold {

namespace {

// Lists larger than this get a name index beside them.
constexpr std::size_t kIndexThreshold = 16;

// Folders nest at most this deep below the root; the segments of a path
// beyond it are passed over (in building and in lookups alike), and its file
// stays in the deepest folder. Every folder keeps its whole URL text, so
// without a limit a damaged or hostile cache could make the tree's memory
// grow with the square of one URL's length. Real URLs stay far below it.
constexpr int kMaxFolderDepth = 64;

bool NodeLess(const std::unique_ptr<TWebCacheTreeNode>& a,
              const std::unique_ptr<TWebCacheTreeNode>& b) {
    int c = AnsiCompareStr(a->LowerName(), b->LowerName());
    if (c != 0)
        return c < 0;
    // Equal names: the newer first.
    return CompareSystemTime(a->Info.LastModified, b->Info.LastModified) > 0;
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

void SubtractSize(TWebCacheTreeNode* parent, std::uint64_t size) {
    parent->Info.Size = parent->Info.Size >= size ? parent->Info.Size - size : 0;
}

} // namespace

// ---------------------------------------------------------------------------
// TWebCacheTreeNode

TWebCacheTreeNode::TWebCacheTreeNode(TWebCacheTree* tree, TWebCacheTreeNode* parent,
                                     std::string name, bool isFolder)
    : IsFolder(isFolder), tree_(tree), parent_(parent), name_(std::move(name)),
      lowerName_(AnsiLowerCase(name_)) {}

TWebCacheTreeNode::~TWebCacheTreeNode() {
    // Destroy the subtree without recursion (see ForEachFolderPostOrder).
    std::vector<std::unique_ptr<TWebCacheTreeNode>> pending = std::move(children_);
    while (!pending.empty()) {
        std::unique_ptr<TWebCacheTreeNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children_)
            pending.push_back(std::move(child));
        node->children_.clear();
    }
}

const std::string& TWebCacheTreeNode::DisplayName() const {
    return name_.empty() ? tree_->DefaultFileName : name_;
}

void TWebCacheTreeNode::SetName(std::string_view name) {
    if (name == name_)
        return;
    name_ = std::string(name);
    lowerName_ = AnsiLowerCase(name_);
    if (parent_ != nullptr) {
        parent_->InvalidateIndex();
        if (!tree_->SortingSuspended())
            parent_->SortChildren();
    }
}

int TWebCacheTreeNode::Level() const {
    int level = 0;
    for (const TWebCacheTreeNode* p = parent_; p != nullptr; p = p->parent_)
        ++level;
    return level;
}

void TWebCacheTreeNode::SortChildren() {
    std::sort(children_.begin(), children_.end(), NodeLess);
    InvalidateIndex();
}

TWebCacheTreeNode* TWebCacheTreeNode::FindChild(std::string_view name) {
    // Called for every segment of every URL while the tree is built: the
    // lower-cased name goes to a buffer that is reused.
    thread_local std::string lower;
    AnsiLowerCaseTo(name, lower);
    if (children_.size() <= kIndexThreshold) {
        for (const auto& child : children_) {
            if (child->lowerName_ == lower)
                return child.get();
        }
        return nullptr;
    }
    if (!index_ || !indexValid_) {
        if (!index_)
            index_ = std::make_unique<std::unordered_map<std::string_view, TWebCacheTreeNode*>>();
        index_->clear();
        index_->reserve(children_.size());
        for (const auto& child : children_)
            index_->emplace(child->lowerName_, child.get()); // the first of a name stays
        indexValid_ = true;
    }
    auto it = index_->find(std::string_view(lower));
    return it == index_->end() ? nullptr : it->second;
}

TWebCacheTreeNode* TWebCacheTreeNode::FindFolderChild(std::string_view name) {
    TWebCacheTreeNode* first = FindChild(name);
    if (first == nullptr || first->IsFolder)
        return first;
    // A file of that name came first (the cache held "http://h" as well as
    // "http://h/x.html"); the folder, if there is one, is further on.
    thread_local std::string lower;
    AnsiLowerCaseTo(name, lower);
    for (const auto& child : children_) {
        if (child->IsFolder && child->lowerName_ == lower)
            return child.get();
    }
    return nullptr;
}

void TWebCacheTreeNode::Append(std::unique_ptr<TWebCacheTreeNode> child) {
    TWebCacheTreeNode* raw = child.get();
    children_.push_back(std::move(child));
    if (index_ && indexValid_)
        index_->emplace(raw->lowerName_, raw);
}

std::vector<std::unique_ptr<TWebCacheTreeNode>> TWebCacheTreeNode::DetachChildren() {
    std::vector<std::unique_ptr<TWebCacheTreeNode>> out = std::move(children_);
    children_.clear();
    index_.reset();
    indexValid_ = false;
    return out;
}

std::unique_ptr<TWebCacheTreeNode> TWebCacheTreeNode::Remove(TWebCacheTreeNode* child) {
    auto it = std::find_if(children_.begin(), children_.end(),
                           [&](const auto& c) { return c.get() == child; });
    if (it == children_.end())
        return nullptr;
    std::unique_ptr<TWebCacheTreeNode> owned = std::move(*it);
    children_.erase(it);
    InvalidateIndex();
    return owned;
}

// ---------------------------------------------------------------------------
// TWebCacheTreeNodeCopyList

bool TWebCacheTreeNodeCopyList::Add(TWebCacheTreeNode* node) {
    auto [it, added] = members_.insert(AnsiLowerCase(node->Info.Url));
    if (!added)
        return false;
    pending_.push_back(Entry{*it, node});
    node->Copied = false;
    return true;
}

bool TWebCacheTreeNodeCopyList::Contains(const TWebCacheTreeNode* node) const {
    return members_.count(AnsiLowerCase(node->Info.Url)) > 0;
}

TWebCacheTreeNode* TWebCacheTreeNodeCopyList::Items(int index) const {
    if (!pending_.empty())
        Merge();
    return sorted_[static_cast<std::size_t>(index)].node;
}

void TWebCacheTreeNodeCopyList::Merge() const {
    auto less = [](const Entry& a, const Entry& b) {
        return AnsiCompareStr(a.lowerUrl, b.lowerUrl) < 0;
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

TWebCacheTree::TWebCacheTree(std::unique_ptr<TCacheSource> source)
    : MimeTypesFile(kSystemMimeTypesFile),
      root_(std::make_unique<TWebCacheTreeNode>(this, nullptr, "Web Cache", true)),
      cache_(std::move(source)), crcTable_(MakeCrc32Table()) {}

TWebCacheTree::~TWebCacheTree() {
    SaveRenameList();
    renameItems_.Clear();
    SaveContentTypes();
    contentTypes_.Clear();
    Clear();
}

void TWebCacheTree::SetRenameListFile(const std::filesystem::path& file) {
    if (file == renameListFile_)
        return;
    renameListFile_ = file;
    LoadRenameList();
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
    auto node =
        std::make_unique<TWebCacheTreeNode>(this, parent, std::string(name), entry == nullptr);
    if (entry)
        node->Info = std::move(*entry);
    TWebCacheTreeNode* raw = node.get();
    parent->Append(std::move(node));
    if (!SortingSuspended())
        parent->SortChildren();
    return raw;
}

void TWebCacheTree::Build() {
    SortSuspension suspend(*this);
    Clear();
    auto entry = std::make_unique<TWebCacheEntryInfoEx>();
    std::string folderUrl;
    if (cache_.FindFirst(*entry)) {
        do {
            if (OnEntry)
                OnEntry(*this, *entry);
            std::string replacement = renameItems_.Lookup(entry->Url);
            SplitURL(replacement.empty() ? std::string_view(entry->Url) : replacement,
                     &entry->DirUrl, &entry->FileName, &entry->ExtraInfo);
            if (!enableScheme_) {
                std::size_t scheme = entry->DirUrl.find("://");
                if (scheme != std::string::npos)
                    entry->DirUrl.erase(0, scheme + 3);
            }
            std::string path = AnsiReplaceAll(entry->DirUrl, "//", "/");

            TWebCacheTreeNode* node = root_.get();
            folderUrl.clear();
            std::size_t start = 0;
            int depth = 0;
            for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos;
                 start = slash + 1) {
                if (++depth > kMaxFolderDepth)
                    break;
                std::string_view segment(path.data() + start, slash - start);
                folderUrl.append(segment);
                folderUrl.append(segment.find(':') != std::string_view::npos ? "//" : "/");
                TWebCacheTreeNode* child = node->FindFolderChild(segment);
                if (child == nullptr) {
                    child = AddNode(node, segment, nullptr);
                    child->Info.DirUrl = folderUrl;
                }
                node = child;
            }
            if (replacement.empty())
                ApplyLocalName(*entry);
            std::string fileName = entry->FileName;
            AddNode(node, fileName, std::move(entry));
            entry = std::make_unique<TWebCacheEntryInfoEx>();
        } while (cache_.FindNext(*entry));
    }
    cache_.FindClose();
    UpdateFolderTotals(root_.get());
}

void TWebCacheTree::SortAll() {
    ForEachFolderPostOrder(root_.get(), [](TWebCacheTreeNode* n) { n->SortChildren(); });
}

void TWebCacheTree::Clear() {
    root_->DetachChildren(); // destroyed here, without events
    ++generation_;
}

void TWebCacheTree::DeletionReaction(TWebCacheTreeNode* node) {
    std::string url = node->Info.DirUrl;
    if (!node->IsFolder) {
        url += node->DisplayName();
        (void)cache_.DeleteEntry(node->Info.Url); // a failure leaves the entry; the node goes
    }
    if (OnNodeDeleted)
        OnNodeDeleted(*this, url);
}

void TWebCacheTree::RecursiveDelete(std::unique_ptr<TWebCacheTreeNode> node) {
    // Children before their parent, in list order, without recursion. Each
    // node's children are taken out of it before they go, so that the tree
    // seen from the events never holds a destroyed node.
    struct Frame {
        std::unique_ptr<TWebCacheTreeNode> node;
        TWebCacheTreeNode* parent; // where it hung before it was detached
        std::vector<std::unique_ptr<TWebCacheTreeNode>> children;
        std::size_t next = 0;
    };
    TWebCacheTreeNode* formerParent = node->parent_;
    std::vector<Frame> stack;
    stack.push_back({std::move(node), formerParent, {}, 0});
    stack.back().children = stack.back().node->DetachChildren();
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next < top.children.size()) {
            std::unique_ptr<TWebCacheTreeNode> child = std::move(top.children[top.next++]);
            TWebCacheTreeNode* parent = top.node.get();
            auto grandchildren = child->DetachChildren();
            stack.push_back({std::move(child), parent, std::move(grandchildren), 0});
            continue;
        }
        std::unique_ptr<TWebCacheTreeNode> done = std::move(top.node);
        TWebCacheTreeNode* parent = top.parent;
        stack.pop_back();
        done->Deleting = true;
        DeletionReaction(done.get());
        if (parent != nullptr && !parent->Deleting)
            SubtractSize(parent, done->Info.Size);
    }
}

void TWebCacheTree::DeleteNode(TWebCacheTreeNode* node) {
    if (node == nullptr)
        return;
    if (node == root_.get()) {
        for (auto& child : root_->DetachChildren())
            RecursiveDelete(std::move(child));
        return;
    }
    TWebCacheTreeNode* parent = node->parent_;
    while (parent != nullptr) {
        std::unique_ptr<TWebCacheTreeNode> owned = parent->Remove(node);
        if (!owned)
            return; // not a node of this tree
        RecursiveDelete(std::move(owned));
        if (parent->Count() > 0 || parent == root_.get())
            break;
        // An emptied folder goes too, up to but never including the root.
        node = parent;
        parent = node->parent_;
    }
}

void TWebCacheTree::DeleteNodes(const std::vector<TWebCacheTreeNode*>& nodes) {
    std::unordered_set<const TWebCacheTreeNode*> listed(nodes.begin(), nodes.end());
    if (listed.count(root_.get()) > 0) {
        DeleteNode(root_.get());
        return;
    }
    // The nodes that go on their own: each once, none below another listed one.
    std::vector<TWebCacheTreeNode*> order;
    std::unordered_set<const TWebCacheTreeNode*> taken;
    for (TWebCacheTreeNode* node : nodes) {
        if (node == nullptr || node->tree_ != this || !taken.insert(node).second)
            continue;
        bool inside = false;
        for (const TWebCacheTreeNode* p = node->parent_; p != nullptr && !inside; p = p->parent_)
            inside = listed.count(p) > 0;
        if (!inside && node->parent_ != nullptr)
            order.push_back(node);
    }
    // One pass over each folder that loses children.
    std::unordered_map<TWebCacheTreeNode*, std::unique_ptr<TWebCacheTreeNode>> detached;
    std::vector<TWebCacheTreeNode*> parents;
    std::unordered_set<const TWebCacheTreeNode*> seenParent;
    for (TWebCacheTreeNode* node : order) {
        TWebCacheTreeNode* parent = node->parent_;
        if (!seenParent.insert(parent).second)
            continue;
        parents.push_back(parent);
        auto& children = parent->children_;
        std::size_t keep = 0;
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (taken.count(children[i].get()) > 0)
                detached.emplace(children[i].get(), std::move(children[i]));
            else
                children[keep++] = std::move(children[i]);
        }
        children.resize(keep);
        parent->InvalidateIndex();
    }
    for (TWebCacheTreeNode* node : order) {
        auto it = detached.find(node);
        if (it != detached.end())
            RecursiveDelete(std::move(it->second));
    }
    // Emptied folders, the deepest first, up to but never including the root.
    std::stable_sort(parents.begin(), parents.end(),
                     [](const TWebCacheTreeNode* a, const TWebCacheTreeNode* b) {
                         return a->Level() > b->Level();
                     });
    std::unordered_set<const TWebCacheTreeNode*> gone;
    for (TWebCacheTreeNode* folder : parents) {
        while (folder != nullptr && folder != root_.get() && gone.count(folder) == 0 &&
               folder->Count() == 0) {
            TWebCacheTreeNode* above = folder->parent_;
            gone.insert(folder);
            RecursiveDelete(above->Remove(folder));
            folder = above;
        }
    }
}

bool TWebCacheTree::DeleteByUrl(std::string_view url) {
    TWebCacheTreeNode* node = FindNodeByUrl(url);
    if (node == nullptr)
        return false;
    DeleteNode(node);
    return true;
}

TWebCacheTreeNode* TWebCacheTree::WalkPath(std::string_view& path) {
    TWebCacheTreeNode* node = root_.get();
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

TWebCacheTreeNode* TWebCacheTree::FindNodeByUrl(std::string_view path) {
    std::string text(path);
    if (!enableScheme_) {
        std::size_t scheme = text.find("://");
        if (scheme != std::string::npos)
            text.erase(0, scheme + 3);
    }
    text = AnsiReplaceAll(text, "//", "/");
    std::string_view rest = text;
    TWebCacheTreeNode* node = WalkPath(rest);
    if (node == nullptr || rest.empty())
        return node;
    return node->FindChild(rest);
}

TWebCacheTreeNode* TWebCacheTree::FindFolderByUrl(std::string_view url) {
    std::string dir;
    SplitURL(url, &dir, nullptr, nullptr);
    if (!enableScheme_) {
        std::size_t scheme = dir.find("://");
        if (scheme != std::string::npos)
            dir.erase(0, scheme + 3);
    }
    dir = AnsiReplaceAll(dir, "//", "/");
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
            if (CompareSystemTime(child->Info.LastModified, latest) > 0)
                latest = child->Info.LastModified;
            size += child->Info.Size;
        }
        folder->Info.Size = size;
        folder->Info.LastModified = latest;
    });
}

std::string TWebCacheTree::GetTitle(std::string_view url) {
    std::string dir, file;
    SplitURL(url, &dir, &file, nullptr);
    if (file.empty())
        file = DefaultFileName;
    TWebCacheTreeNode* node = FindNodeByUrl(dir + file);
    if (node == nullptr || node->IsFolder ||
        AnsiLowerCase(node->Info.HeaderInfo.Values("Content-Type")).find("text/html") ==
            std::string::npos)
        return {};
    THTMLParser parser;
    parser.LoadFromFile(node->Info.LocalFileName);
    return parser.Title();
}

} // namespace tarnhold
