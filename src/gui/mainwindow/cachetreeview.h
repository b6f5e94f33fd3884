// The folder tree of the cache: a tree widget whose items are the folders of
// the cache tree (files are the list view's business), below one root item
// that stands for the whole cache ("Web Cache") or for one site folder (a
// favorite's site, with a caption of the caller's choice).
//
// Every item has a path: the URL text of the folder it shows ("http://h1/a/",
// or "h1/a/" when the tree does not keep schemes apart), the form that
// FindNodeByUrl and the list view take. The root item's path is empty for the
// whole cache, or the root folder's URL.
//
// The main window:
//   SetTree(tree)                 once the tree exists (nullptr before the tree goes)
//   Rebuild()                     after every refresh of the tree; keeps the selection
//   SetRoot(caption, url)         a favorite's site as root; ("Web Cache", "") for all
//   SelectedPath()                for the list view's SetFolder when the selection changes
//                                 (currentItemChanged / itemSelectionChanged)
//   RemovePath(urlText)           for every folder URL text the tree's OnNodeDeleted reports
// The find window's location dialog: SetTree, Rebuild, SelectPath, SelectedPath.
//
// The view observes the tree: items of folders the tree removes go at once,
// and a reset of the tree empties the view (remembering the selection for
// the next Rebuild), so an item never refers to a node that is gone.
#pragma once

#include "tree/webcachetree.h"

#include <QIcon>
#include <QTreeWidget>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tarnhold::gui {

class TCacheTreeView : public QTreeWidget, private TWebCacheTreeObserver {
    Q_OBJECT
public:
    explicit TCacheTreeView(QWidget* parent = nullptr);
    ~TCacheTreeView() override;

    TWebCacheTree* Tree() const { return tree_; }
    // Stores the tree and rebuilds when it differs.
    void SetTree(TWebCacheTree* tree);

    // ANSI text, as the favorites store keeps them.
    const std::string& RootCaption() const { return rootCaption_; }
    const std::string& RootUrl() const { return rootUrl_; }
    // Shows the folder of url (its directory) as root with caption; an empty
    // url shows the whole cache. Rebuilds when the root folder changes.
    void SetRoot(std::string_view caption, std::string_view url);
    void SetRootCaption(std::string_view caption);

    // Refills the items from the tree, selecting the folder that was
    // selected (or the root item when that is gone), also across a change
    // of the tree's scheme setting.
    void Rebuild();

    // The node an item shows (nullptr for none, and for a root whose folder
    // is not in the cache).
    TWebCacheTreeNode* NodeOf(const QTreeWidgetItem* item) const;
    TWebCacheTreeNode* SelectedNode() const { return NodeOf(currentItem()); }
    std::string SelectedPath() const { return PathOf(currentItem()); }
    std::string PathOf(const QTreeWidgetItem* item) const;
    QTreeWidgetItem* FindItemByPath(std::string_view path) const;
    QTreeWidgetItem* RootItem() const { return topLevelItem(0); }
    // Selects the item of a folder URL text, from the root item down
    // without a root prefix; selects nothing when a folder is missing.
    void SelectPath(std::string_view url);
    // Removes the item of a deleted folder and the items of the folders
    // above it that the tree pruned with it.
    void RemovePath(std::string_view path);
    // A tree operation that replaced its nodes wholesale (a refresh, or a
    // deletion of many scattered files) empties the view; this refills it
    // then, keeping the selection. Call it after every command that changed
    // the tree.
    void RebuildIfEmptied();

    // Makes the items of the folders in the item's folder unless they are
    // made: a folder's items are made when it is first opened or looked
    // into, so read an item's children only after this.
    void Populate(QTreeWidgetItem* item) const;

    // The item's own name (ANSI), as the tree has it.
    static std::string NameOf(const QTreeWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void NodesAboutToBeRemoved(TWebCacheTreeNode* parent, int first, int last) override;
    void TreeAboutToBeReset() override;

    QTreeWidgetItem* MakeItem(TWebCacheTreeNode* node) const;
    static bool HasFolders(const TWebCacheTreeNode* node);
    void DeleteItem(QTreeWidgetItem* item);
    void Forget(QTreeWidgetItem* item);
    // The child item of the folder named segment (ignoring case), or nullptr.
    QTreeWidgetItem* ChildItem(QTreeWidgetItem* item, std::string_view segment) const;
    QTreeWidgetItem* Descend(std::string_view path) const;
    // FindItemByPath, and for a path taken before the scheme setting
    // changed, the same folder's item under the present setting.
    QTreeWidgetItem* FindRememberedItem(std::string_view path) const;
    // What PathOf puts in front of every path when a root URL is set.
    std::string RootPrefix() const;
    void CurrentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);

    TWebCacheTree* tree_ = nullptr;
    std::string rootCaption_;
    std::string rootUrl_;
    QIcon browserIcon_;
    QIcon closedIcon_;
    QIcon openIcon_;
    // The items made so far (Populate makes them on demand, also from the
    // lookups).
    mutable std::unordered_map<const TWebCacheTreeNode*, QTreeWidgetItem*> items_;
    // The selection when a reset of the tree emptied the view.
    bool emptiedByReset_ = false;
    std::string pathBeforeReset_;
};

} // namespace tarnhold::gui
