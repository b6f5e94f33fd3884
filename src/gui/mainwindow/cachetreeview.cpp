#include "mainwindow/cachetreeview.h"

#include "app/qtconvert.h"
#include "mainwindow/filetypeinfo.h"
#include "platform/codepage.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"

#include <QMouseEvent>
#include <QSignalBlocker>
#include <utility>
#include <vector>

namespace tarnhold::gui {

namespace {

constexpr int kNodeRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;

} // namespace

TCacheTreeView::TCacheTreeView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    setExpandsOnDoubleClick(true);
    browserIcon_ = BrowserIcon();
    closedIcon_ = GetFolderTypeInfo(false).Icon;
    openIcon_ = GetFolderTypeInfo(true).Icon;
    connect(this, &QTreeWidget::currentItemChanged, this, &TCacheTreeView::CurrentChanged);
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { Populate(item); });
}

TCacheTreeView::~TCacheTreeView() {
    if (tree_)
        tree_->RemoveObserver(this);
}

void TCacheTreeView::SetTree(TWebCacheTree* tree) {
    if (tree == tree_)
        return;
    if (tree_)
        tree_->RemoveObserver(this);
    tree_ = tree;
    if (tree_)
        tree_->AddObserver(this);
    emptiedByReset_ = false;
    Rebuild();
}

void TCacheTreeView::SetRoot(std::string_view caption, std::string_view url) {
    std::string directory;
    SplitURL(url, &directory, nullptr, nullptr);
    if (directory != rootUrl_) {
        rootUrl_ = std::move(directory);
        rootCaption_ = std::string(caption);
        Rebuild();
    } else {
        SetRootCaption(caption);
    }
}

void TCacheTreeView::SetRootCaption(std::string_view caption) {
    if (caption == rootCaption_)
        return;
    rootCaption_ = std::string(caption);
    if (QTreeWidgetItem* root = RootItem(); root && !rootUrl_.empty())
        root->setText(0, FavoriteText(rootCaption_));
}

QTreeWidgetItem* TCacheTreeView::MakeItem(TWebCacheTreeNode* node) const {
    auto* item = new QTreeWidgetItem();
    item->setText(0, DisplayText(node->DisplayName()));
    item->setIcon(0, closedIcon_);
    item->setData(0, kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
    item->setData(0, kNameRole, QByteArray::fromStdString(node->DisplayName()));
    if (HasFolders(node))
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    items_[node] = item;
    return item;
}

bool TCacheTreeView::HasFolders(const TWebCacheTreeNode* node) {
    for (int i = 0; i < node->Count(); ++i) {
        if (node->Items(i)->IsFolder)
            return true;
    }
    return false;
}

void TCacheTreeView::Populate(QTreeWidgetItem* item) const {
    // An item that shows the mark without children has not been filled yet:
    // the items of a folder are made when it is first opened or looked into,
    // so that a cache of tens of thousands of folders shows at once.
    if (item == nullptr || item->childIndicatorPolicy() != QTreeWidgetItem::ShowIndicator)
        return;
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    TWebCacheTreeNode* node = NodeOf(item);
    if (node == nullptr)
        return;
    QList<QTreeWidgetItem*> children;
    for (int i = 0; i < node->Count(); ++i) {
        TWebCacheTreeNode* child = node->Items(i);
        if (child->IsFolder)
            children.append(MakeItem(child));
    }
    item->addChildren(children);
}

void TCacheTreeView::Rebuild() {
    setUpdatesEnabled(false);
    const std::string path = emptiedByReset_ ? pathBeforeReset_ : SelectedPath();
    const bool remembered = emptiedByReset_ || currentItem() != nullptr;
    emptiedByReset_ = false;
    pathBeforeReset_.clear();
    {
        // One selection change is reported, once the new items stand.
        const QSignalBlocker blocker(this);
        clear();
        items_.clear();
        TWebCacheTreeNode* node = nullptr;
        QString caption = QStringLiteral("Web Cache");
        if (tree_) {
            if (rootUrl_.empty()) {
                node = tree_->Root();
            } else {
                caption = FavoriteText(rootCaption_);
                node = tree_->FindNodeByUrl(tree_->EnableScheme() ? std::string_view(rootUrl_)
                                                                  : WithoutScheme(rootUrl_));
                if (node && !node->IsFolder)
                    node = nullptr;
            }
        }
        // The root's folders are made apart from the widget, which then
        // takes them at once; deeper folders when they are opened.
        auto* root = new QTreeWidgetItem();
        root->setText(0, caption);
        root->setIcon(0, browserIcon_);
        root->setData(0, kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
        if (node) {
            items_[node] = root;
            root->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
            Populate(root);
        }
        addTopLevelItem(root);
        expandItem(root);
    }
    QTreeWidgetItem* select = remembered ? FindRememberedItem(path) : nullptr;
    if (select == nullptr)
        select = RootItem();
    setCurrentItem(select);
    if (select)
        scrollToItem(select);
    setUpdatesEnabled(true);
}

QTreeWidgetItem* TCacheTreeView::FindRememberedItem(std::string_view path) const {
    if (QTreeWidgetItem* item = FindItemByPath(path))
        return item;
    if (tree_ == nullptr || path.empty())
        return nullptr;
    // The scheme setting changed since the path was taken: the same folder
    // has a path with the scheme now, or without it.
    const std::size_t scheme = SchemePrefixLength(path);
    if (!tree_->EnableScheme()) {
        if (scheme == 0)
            return nullptr;
        return FindItemByPath(path.substr(scheme));
    }
    if (scheme != 0)
        return nullptr;
    if (!rootUrl_.empty()) {
        const std::size_t rootScheme = SchemePrefixLength(rootUrl_);
        if (rootScheme == 0)
            return nullptr;
        return FindItemByPath(rootUrl_.substr(0, rootScheme) + std::string(path));
    }
    // The first scheme that has the folder, in the tree's order.
    QTreeWidgetItem* root = RootItem();
    for (int i = 0; root && i < root->childCount(); ++i) {
        const std::string name = NameOf(root->child(i));
        if (name.empty() || name.back() != ':')
            continue;
        if (QTreeWidgetItem* item = FindItemByPath(name + "//" + std::string(path)))
            return item;
    }
    return nullptr;
}

TWebCacheTreeNode* TCacheTreeView::NodeOf(const QTreeWidgetItem* item) const {
    if (item == nullptr)
        return nullptr;
    return reinterpret_cast<TWebCacheTreeNode*>(item->data(0, kNodeRole).value<quintptr>());
}

std::string TCacheTreeView::NameOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kNameRole).toByteArray().toStdString() : std::string();
}

std::string TCacheTreeView::RootPrefix() const {
    if (rootUrl_.empty())
        return {};
    if (tree_ && !tree_->EnableScheme())
        return std::string(WithoutScheme(rootUrl_));
    return rootUrl_;
}

std::string TCacheTreeView::PathOf(const QTreeWidgetItem* item) const {
    if (item == nullptr)
        return {};
    std::vector<const QTreeWidgetItem*> chain;
    for (const QTreeWidgetItem* i = item; i && i->parent(); i = i->parent())
        chain.push_back(i);
    std::string path = RootPrefix();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const std::string name = NameOf(*it);
        path += name;
        // A scheme folder ("http:") right below the root keeps its "//".
        const bool scheme =
            (*it)->parent() && !(*it)->parent()->parent() && !name.empty() && name.back() == ':';
        path += scheme ? "//" : "/";
    }
    return path;
}

QTreeWidgetItem* TCacheTreeView::ChildItem(QTreeWidgetItem* item, std::string_view segment) const {
    const TWebCacheTreeNode* node = NodeOf(item);
    if (node == nullptr)
        return nullptr;
    Populate(item);
    const TWebCacheTreeNode* child = node->FindFolderChild(segment);
    if (child == nullptr)
        return nullptr;
    auto found = items_.find(child);
    if (found == items_.end() || found->second->parent() != item)
        return nullptr;
    return found->second;
}

QTreeWidgetItem* TCacheTreeView::Descend(std::string_view path) const {
    const std::string text = AnsiReplaceAll(path, "//", "/");
    std::string_view rest = text;
    QTreeWidgetItem* item = RootItem();
    for (std::size_t slash; item && (slash = rest.find('/')) != std::string_view::npos;) {
        item = ChildItem(item, rest.substr(0, slash));
        rest.remove_prefix(slash + 1);
    }
    return item;
}

QTreeWidgetItem* TCacheTreeView::FindItemByPath(std::string_view path) const {
    const std::string prefix = RootPrefix();
    if (!prefix.empty()) {
        // A path outside the root folder has no item here.
        if (path.size() < prefix.size() || !AnsiSameText(path.substr(0, prefix.size()), prefix))
            return nullptr;
        path.remove_prefix(prefix.size());
    }
    return Descend(path);
}

void TCacheTreeView::SelectPath(std::string_view url) {
    if (QTreeWidgetItem* item = Descend(url)) {
        setCurrentItem(item);
        scrollToItem(item);
    }
}

void TCacheTreeView::RemovePath(std::string_view path) {
    std::string current(path);
    for (;;) {
        QTreeWidgetItem* item = FindItemByPath(current);
        if (item == nullptr)
            return;
        if (item == RootItem()) {
            while (item->childCount() > 0)
                DeleteItem(item->child(item->childCount() - 1));
            return;
        }
        DeleteItem(item);
        // Up one folder: the tree prunes folders that a deletion leaves empty.
        std::string parent = AnsiReplaceAll(current, "//", "/");
        if (!parent.empty())
            parent.pop_back();
        const std::size_t slash = AnsiFindLast(parent, "/");
        if (slash == std::string::npos)
            return;
        parent.resize(slash + 1);
        current = AnsiReplaceAll(parent, ":/", "://");
        if (tree_ == nullptr || tree_->FindNodeByUrl(current) != nullptr)
            return;
    }
}

void TCacheTreeView::Forget(QTreeWidgetItem* item) {
    std::vector<QTreeWidgetItem*> pending{item};
    while (!pending.empty()) {
        QTreeWidgetItem* i = pending.back();
        pending.pop_back();
        auto found = items_.find(NodeOf(i));
        if (found != items_.end() && found->second == i)
            items_.erase(found);
        for (int c = 0; c < i->childCount(); ++c)
            pending.push_back(i->child(c));
    }
}

void TCacheTreeView::DeleteItem(QTreeWidgetItem* item) {
    Forget(item);
    delete item;
}

void TCacheTreeView::NodesAboutToBeRemoved(TWebCacheTreeNode* parent, int first, int last) {
    for (int row = first; row <= last && row < parent->Count(); ++row) {
        TWebCacheTreeNode* node = parent->Items(row);
        if (!node->IsFolder)
            continue;
        auto found = items_.find(node);
        if (found == items_.end())
            continue;
        QTreeWidgetItem* item = found->second;
        if (item == RootItem()) {
            // The root's folder goes: the root item stays, showing nothing.
            while (item->childCount() > 0)
                DeleteItem(item->child(item->childCount() - 1));
            items_.erase(node);
            item->setData(0, kNodeRole, QVariant::fromValue(quintptr(0)));
        } else {
            DeleteItem(item);
        }
    }
}

void TCacheTreeView::TreeAboutToBeReset() {
    // Every node may go: no item may keep referring to one.
    if (!emptiedByReset_) {
        pathBeforeReset_ = SelectedPath();
        emptiedByReset_ = true;
    }
    const QSignalBlocker blocker(this);
    clear();
    items_.clear();
}

void TCacheTreeView::RebuildIfEmptied() {
    if (emptiedByReset_)
        Rebuild();
}

void TCacheTreeView::mousePressEvent(QMouseEvent* event) {
    // A right click selects the item it is on, as the context menu acts on it.
    if (event->button() == Qt::RightButton) {
        if (QTreeWidgetItem* item = itemAt(event->position().toPoint()))
            setCurrentItem(item);
    }
    QTreeWidget::mousePressEvent(event);
}

void TCacheTreeView::CurrentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous) {
    if (previous && previous != RootItem())
        previous->setIcon(0, closedIcon_);
    if (current && current != RootItem())
        current->setIcon(0, openIcon_);
}

} // namespace tarnhold::gui
