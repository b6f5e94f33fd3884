// The file list of one cache folder: one row per sub-folder and per file with
// name, the name the cache knows it by, page title, size, type and date, and
// a sort by any of them. One model of rows is shown by a details view (the
// six columns) and by an icon view for the large icon, small icon and list
// styles; both share one selection, so a style switch keeps it.
//
// The main window (lvwCache):
//   SetTree(tree)                  once the tree exists (nullptr before the tree goes)
//   SetFolder(path)                the tree view's SelectedPath when its selection changes
//   Refresh()                      refills the current folder (after a refresh of the tree)
//   RefreshIfEmptied()             after every command that changed the tree (see below)
//   SetSort(order, key), SetSortOrder(order), SortType(), SortOrder()
//                                  the six sort commands (keys: TListSortKey); header
//                                  clicks are handled here and reported by sortChanged()
//   SetViewStyle(style), ViewStyle(), SetAutoArrange(on), LineUp()
//   SelectAll(), InvertSelection(), SelectedNodes(), Statistics()
//   ColumnWidth(i), SetColumnWidth(i, w) for screen.dat
//   RemoveRowByUrl(urlText)        for every URL text the tree's OnNodeDeleted reports
//   signals selectionChanged(), contentsChanged(), nodeActivated(node) (double click, Enter)
// The find window (a hit list, SetHitList): SetTree(tree), Clear(), AddNodeRows(nodes) for
// each batch of hits; rows stay in the order found until Sort or SetSort.
//
// The view observes the tree: rows of nodes the tree removes go at once, and
// a reset of the tree empties the list, so a row never refers to a node that
// is gone. A reset that kept the nodes' generation (a deletion of many
// scattered files) is refilled by RefreshIfEmptied; after a rebuild the owner
// calls SetFolder or Refresh as always. A hit list has no folder to list
// again: it keeps its own rows through a reset that keeps the generation
// (less the nodes being deleted) and puts them back when the reset is over.
//
// A hit list makes a row's texts, title and type only when a view asks for
// them (or a sort needs them): a search may add a hundred thousand rows, of
// which a window shows a few dozen.
#pragma once

#include "mainwindow/filetypeinfo.h"
#include "tree/cachelisting.h"
#include "tree/webcachetree.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QStackedWidget>
#include <QString>
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class QItemSelectionModel;
class QListView;
class QTreeView;
class QAbstractItemView;

namespace tarnhold::gui {

// The columns of the details view, left to right.
enum TListColumn : int {
    lcName = 0,
    lcUrlName = 1,
    lcTitle = 2,
    lcSize = 3,
    lcType = 4,
    lcDate = 5,
    kListColumnCount = 6,
};
// The sort key a click on a column selects, and the column of a key.
int SortKeyOfColumn(int column);
int ColumnOfSortKey(int key);

// The list's styles, numbered as screen.dat keeps them.
enum TViewStyle : int { vsIcon = 0, vsSmallIcon = 1, vsList = 2, vsReport = 3 };

struct TListStatistics {
    int RowCount = 0;
    int SelectedCount = 0;
    std::uint64_t SelectedBytes = 0; // file rows only
    std::uint64_t TotalBytes = 0;    // file rows only
};
// The status bar's two texts for these numbers: "%d 個のオブジェクトを選択"
// with the selected size, or "%d 個のオブジェクト" with the total size.
std::pair<QString, QString> StatusTexts(const TListStatistics& stats);

// The rows. Columns as TListColumn; Qt::UserRole of any cell holds the node.
class TCacheListModel : public QAbstractTableModel, private TWebCacheTreeObserver {
    Q_OBJECT
public:
    explicit TCacheListModel(QObject* parent = nullptr);
    ~TCacheListModel() override;

    TWebCacheTree* Tree() const { return tree_; }
    void SetTree(TWebCacheTree* tree);
    const std::string& CurrentFolder() const { return currentFolder_; }
    void SetFolder(std::string_view path);
    void Refresh();
    bool RefreshIfEmptied();
    void Clear();

    int SortType() const { return sortType_; }
    int SortOrder() const { return sortOrder_; }
    void SetSortOrder(int order);
    void SetSort(int order, int key);
    void Sort();

    // The find window's layout: the second column holds each row's folder
    // ("フォルダ"), the last is "更新日", and the rows are hits (see above).
    void SetHitList(bool on);
    bool HitList() const { return hitList_; }
    void AddNodeRow(TWebCacheTreeNode* node);
    void AddNodeRows(const std::vector<TWebCacheTreeNode*>& nodes);
    bool RemoveRowByUrl(std::string_view url);
    // Removes the rows of these nodes (a hit list's rows by node).
    void RemoveNodeRows(const std::vector<const TWebCacheTreeNode*>& nodes);

    TWebCacheTreeNode* NodeAt(int row) const;
    // The row with its texts made.
    const TFolderRow& RowAt(int row) const;
    int Count() const { return static_cast<int>(rows_.size()); }
    const std::string& FolderTypeName() const { return folderTypeName_; }
    TTypeCache& TypeCache() { return types_; }
    TTitleCache& Titles() { return titles_; }
    QIcon IconOf(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct TRow {
        TFolderRow Row;
        int Image = 0;         // in the type cache's icons; -1: the folder icon
        bool Location = false; // the find window's layout: URL名 holds the folder
        bool Filled = true;    // UrlName, TypeName and Image are set
        bool TitleRead = true;
        bool CellsMade = false;
        std::array<QString, kListColumnCount> Cells;
    };
    // What a row of a hit list lacks until it is needed.
    void Fill(TRow& row) const;
    void ReadTitle(TRow& row) const;
    TRow& Ready(int row) const;
    void MakeCells(TRow& row) const;
    void RemoveRows(std::vector<int> rows);
    int RowOfNode(const TWebCacheTreeNode* node) const;

    void NodesAboutToBeRemoved(TWebCacheTreeNode* parent, int first, int last) override;
    void TreeAboutToBeReset() override;
    void TreeReset() override;
    void LayoutChanged() override;

    TWebCacheTree* tree_ = nullptr;
    std::string currentFolder_;
    int sortType_ = lsName;
    int sortOrder_ = 0;
    bool hitList_ = false;
    // Rows are made complete as they are shown (hit lists): mutable. A
    // deque: rows added in batches never move the rows already there.
    mutable std::deque<TRow> rows_;
    mutable TTypeCache types_;
    mutable TTitleCache titles_;
    std::string folderTypeName_;
    QIcon folderIcon_;
    bool emptiedByReset_ = false;
    std::uint64_t resetGeneration_ = 0;
    // A hit list's rows while the tree resets.
    std::deque<TRow> held_;
    bool holding_ = false;
    // Row of each node in a hit list; made again when rows move.
    mutable std::unordered_map<const TWebCacheTreeNode*, int> rowOf_;
    mutable bool rowOfValid_ = false;
};

class TCacheListView : public QStackedWidget {
    Q_OBJECT
public:
    explicit TCacheListView(QWidget* parent = nullptr);

    TCacheListModel* Model() const { return model_; }
    QTreeView* DetailsView() const { return details_; }
    QListView* IconView() const { return icons_; }
    // The view of the current style.
    QAbstractItemView* CurrentView() const;
    QItemSelectionModel* SelectionModel() const;

    void SetTree(TWebCacheTree* tree) { model_->SetTree(tree); }
    TWebCacheTree* Tree() const { return model_->Tree(); }
    const std::string& CurrentFolder() const { return model_->CurrentFolder(); }
    // Shows a folder (a tree view path); the first row gets the focus.
    void SetFolder(std::string_view path);
    void Refresh();
    void RefreshIfEmptied();
    void Clear();

    int SortType() const { return model_->SortType(); }
    int SortOrder() const { return model_->SortOrder(); }
    void SetSortOrder(int order);
    void SetSort(int order, int key);
    void Sort();
    // A click on a column's header: the same column again turns the order
    // round, another sorts by it ascending.
    void ColumnClicked(int column);

    void AddNodeRow(TWebCacheTreeNode* node) { model_->AddNodeRow(node); }
    void AddNodeRows(const std::vector<TWebCacheTreeNode*>& nodes) { model_->AddNodeRows(nodes); }
    bool RemoveRowByUrl(std::string_view url) { return model_->RemoveRowByUrl(url); }

    int ViewStyle() const { return viewStyle_; }
    // 0..3 (TViewStyle); other values change nothing.
    void SetViewStyle(int style);
    bool AutoArrange() const { return autoArrange_; }
    void SetAutoArrange(bool on);
    // Arranges the icons in their grid, from the top.
    void LineUp();

    int ColumnWidth(int column) const;
    void SetColumnWidth(int column, int width);

    void SelectAll();
    void InvertSelection();
    // Row numbers of the selected rows, ascending.
    std::vector<int> SelectedRows() const;
    std::vector<TWebCacheTreeNode*> SelectedNodes() const;
    TWebCacheTreeNode* CurrentNode() const;
    TListStatistics Statistics() const;

signals:
    void selectionChanged();
    // Rows were filled, added or removed.
    void contentsChanged();
    void sortChanged();
    void nodeActivated(tarnhold::TWebCacheTreeNode* node);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowSortIndicator();
    void FocusFirstRow();
    void ApplyIconMode();

    TCacheListModel* model_;
    QTreeView* details_;
    QListView* icons_;
    int viewStyle_ = vsReport;
    bool autoArrange_ = false;
};

} // namespace tarnhold::gui
