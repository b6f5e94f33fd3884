#include "mainwindow/cachelistview.h"

#include "app/qtconvert.h"
#include "dragdrop/dragstarter.h"
#include "platform/codepage.h"
#include "text/displayformat.h"
#include "text/urlutils.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QListView>
#include <QStyle>
#include <QTreeView>
#include <algorithm>
#include <numeric>
#include <unordered_set>

namespace tarnhold::gui {

namespace {

// Widths of the details view's columns, in pixels.
constexpr int kColumnWidths[kListColumnCount] = {200, 100, 200, 70, 150, 90};

// The key each column sorts by, in column order.
constexpr int kColumnKeys[kListColumnCount] = {lsName, lsUrlName, lsTitle, lsSize, lsType, lsDate};

} // namespace

int SortKeyOfColumn(int column) {
    if (column < 0 || column >= kListColumnCount)
        return lsName;
    return kColumnKeys[column];
}

int ColumnOfSortKey(int key) {
    for (int column = 0; column < kListColumnCount; ++column) {
        if (kColumnKeys[column] == key)
            return column;
    }
    return lcName;
}

std::pair<QString, QString> StatusTexts(const TListStatistics& stats) {
    if (stats.SelectedCount != 0)
        return {QStringLiteral("%1 個のオブジェクトを選択").arg(stats.SelectedCount),
                ToQString(FormatSizeShort(stats.SelectedBytes))};
    return {QStringLiteral("%1 個のオブジェクト").arg(stats.RowCount),
            ToQString(FormatSizeShort(stats.TotalBytes))};
}

// ---------------------------------------------------------------------------

TCacheListModel::TCacheListModel(QObject* parent) : QAbstractTableModel(parent) {
    const TFileTypeInfo folder = GetFolderTypeInfo(false);
    folderIcon_ = folder.Icon;
    folderTypeName_ = folder.TypeName;
}

TCacheListModel::~TCacheListModel() {
    if (tree_)
        tree_->RemoveObserver(this);
}

void TCacheListModel::SetTree(TWebCacheTree* tree) {
    if (tree == tree_)
        return;
    if (tree_)
        tree_->RemoveObserver(this);
    tree_ = tree;
    if (tree_)
        tree_->AddObserver(this);
    titles_.Clear();
    Refresh();
}

void TCacheListModel::SetFolder(std::string_view path) {
    currentFolder_ = std::string(path);
    Refresh();
}

void TCacheListModel::Clear() {
    beginResetModel();
    rows_.clear();
    rowOf_.clear();
    rowOfValid_ = false;
    emptiedByReset_ = false;
    endResetModel();
}

void TCacheListModel::SetHitList(bool on) {
    hitList_ = on;
    Clear();
    emit headerDataChanged(Qt::Horizontal, 0, kListColumnCount - 1);
}

void TCacheListModel::Refresh() {
    beginResetModel();
    rows_.clear();
    rowOf_.clear();
    rowOfValid_ = false;
    emptiedByReset_ = false;
    // A hit list has no folder of its own: its rows come from the search.
    TWebCacheTreeNode* folder =
        hitList_ || tree_ == nullptr ? nullptr : tree_->FindNodeByUrl(currentFolder_);
    if (folder && folder->IsFolder) {
        std::vector<TFolderRow> rows =
            ListFolder(*folder, titles_, sortType_, sortOrder_, [this](const TWebCacheTreeNode& n) {
                if (n.IsFolder)
                    return folderTypeName_;
                return types_.TypeAndIcon(n.DisplayName(), n.Info().LocalFileName).TypeName;
            });
        for (TFolderRow& folderRow : rows) {
            TRow row;
            row.Row = std::move(folderRow);
            const TWebCacheTreeNode& node = *row.Row.Node;
            row.Image =
                node.IsFolder
                    ? -1
                    : types_.TypeAndIcon(node.DisplayName(), node.Info().LocalFileName).ImageIndex;
            MakeCells(row);
            rows_.push_back(std::move(row));
        }
    }
    endResetModel();
}

bool TCacheListModel::RefreshIfEmptied() {
    if (!emptiedByReset_)
        return false;
    // Nodes of an earlier build are gone: their folder is shown afresh by
    // the owner (SetFolder after Rebuild). Nodes kept through the reset
    // can be listed again now.
    if (tree_ && tree_->Generation() == resetGeneration_)
        Refresh();
    emptiedByReset_ = false;
    return true;
}

void TCacheListModel::Fill(TRow& row) const {
    if (row.Filled)
        return;
    row.Filled = true;
    const TWebCacheTreeNode* node = row.Row.Node;
    if (node->IsFolder) {
        row.Row.TypeName = folderTypeName_;
        row.Image = -1;
        if (row.Location && node->Parent())
            row.Row.UrlName = node->Parent()->DirUrl();
    } else {
        row.Row.UrlName = row.Location ? node->DirUrl() : UrlNameOf(*node);
        const TTypeCache::TAnswer type =
            types_.TypeAndIcon(node->DisplayName(), node->Info().LocalFileName);
        row.Row.TypeName = type.TypeName;
        row.Image = type.ImageIndex;
    }
}

void TCacheListModel::ReadTitle(TRow& row) const {
    if (row.TitleRead)
        return;
    row.TitleRead = true;
    if (!row.Row.Node->IsFolder)
        row.Row.Title = titles_.Title(*row.Row.Node);
}

TCacheListModel::TRow& TCacheListModel::Ready(int row) const {
    TRow& r = rows_[static_cast<std::size_t>(row)];
    if (!r.CellsMade) {
        Fill(r);
        ReadTitle(r);
        MakeCells(r);
    }
    return r;
}

const TFolderRow& TCacheListModel::RowAt(int row) const {
    return Ready(row).Row;
}

void TCacheListModel::MakeCells(TRow& row) const {
    row.CellsMade = true;
    const TWebCacheTreeNode& node = *row.Row.Node;
    row.Cells[lcName] = DisplayText(node.DisplayName());
    row.Cells[lcUrlName] = DisplayText(row.Row.UrlName);
    row.Cells[lcTitle] = DisplayUtf8(row.Row.Title);
    row.Cells[lcSize] = node.IsFolder ? QString() : ToQString(FormatSizeKB(node.Size()));
    row.Cells[lcType] = DisplayText(row.Row.TypeName);
    row.Cells[lcDate] = ToQString(FormatDateTimeShort(node.LastModified()));
}

void TCacheListModel::AddNodeRow(TWebCacheTreeNode* node) {
    AddNodeRows({node});
}

void TCacheListModel::AddNodeRows(const std::vector<TWebCacheTreeNode*>& nodes) {
    std::size_t count = 0;
    for (const TWebCacheTreeNode* node : nodes)
        count += node != nullptr ? 1 : 0;
    if (count == 0)
        return;
    const int at = Count();
    beginInsertRows(QModelIndex(), at, at + static_cast<int>(count) - 1);
    for (TWebCacheTreeNode* node : nodes) {
        if (node == nullptr)
            continue;
        if (rowOfValid_)
            rowOf_.emplace(node, static_cast<int>(rows_.size()));
        // Nothing is read or formatted here: a view asks for the rows it shows.
        TRow& row = rows_.emplace_back();
        row.Row.Node = node;
        row.Location = true;
        row.Filled = false;
        row.TitleRead = false;
    }
    endInsertRows();
}

void TCacheListModel::SetSortOrder(int order) {
    if (order == sortOrder_)
        return;
    sortOrder_ = order;
    Sort();
}

void TCacheListModel::SetSort(int order, int key) {
    sortOrder_ = order;
    sortType_ = key;
    Sort();
}

void TCacheListModel::Sort() {
    // Rows of a hit list get what the key compares first.
    for (TRow& row : rows_) {
        Fill(row);
        if (sortType_ == lsTitle)
            ReadTitle(row);
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> order(rows_.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return CompareRows(rows_[static_cast<std::size_t>(a)].Row,
                           rows_[static_cast<std::size_t>(b)].Row, sortType_, sortOrder_) < 0;
    });
    std::vector<int> newRowOf(rows_.size());
    std::deque<TRow> sorted;
    for (std::size_t i = 0; i < order.size(); ++i) {
        newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(rows_[static_cast<std::size_t>(order[i])]));
    }
    rows_ = std::move(sorted);
    rowOfValid_ = false;
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from)
        to.append(index.isValid()
                      ? this->index(newRowOf[static_cast<std::size_t>(index.row())], index.column())
                      : QModelIndex());
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool TCacheListModel::RemoveRowByUrl(std::string_view url) {
    const std::string text = AnsiReplaceAll(url, "//", "/");
    std::string folder, name;
    if (!text.empty() && text.back() == '/') {
        folder = GetParentURL(text);
        name = GetURLFolderName(text);
    } else {
        folder = GetURLDirectory(text);
        name = GetURLFileName(text);
    }
    if (!AnsiSameText(folder, AnsiReplaceAll(currentFolder_, "//", "/")))
        return false;
    for (int row = 0; row < Count(); ++row) {
        if (AnsiSameText(rows_[static_cast<std::size_t>(row)].Row.Node->DisplayName(), name)) {
            RemoveRows({row});
            return true;
        }
    }
    return false;
}

void TCacheListModel::RemoveRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end());
    // From the back, one contiguous run at a time.
    for (std::size_t end = rows.size(); end > 0;) {
        std::size_t begin = end - 1;
        while (begin > 0 && rows[begin - 1] + 1 == rows[begin])
            --begin;
        const int first = rows[begin];
        const int last = rows[end - 1];
        beginRemoveRows(QModelIndex(), first, last);
        rows_.erase(rows_.begin() + first, rows_.begin() + last + 1);
        rowOfValid_ = false;
        endRemoveRows();
        end = begin;
    }
}

int TCacheListModel::RowOfNode(const TWebCacheTreeNode* node) const {
    if (!rowOfValid_) {
        rowOf_.clear();
        rowOf_.reserve(rows_.size());
        for (std::size_t row = 0; row < rows_.size(); ++row)
            rowOf_.emplace(rows_[row].Row.Node, static_cast<int>(row));
        rowOfValid_ = true;
    }
    const auto it = rowOf_.find(node);
    return it == rowOf_.end() ? -1 : it->second;
}

void TCacheListModel::RemoveNodeRows(const std::vector<const TWebCacheTreeNode*>& nodes) {
    std::vector<int> rows;
    for (const TWebCacheTreeNode* node : nodes) {
        const int row = RowOfNode(node);
        if (row >= 0)
            rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    RemoveRows(std::move(rows));
}

void TCacheListModel::NodesAboutToBeRemoved(TWebCacheTreeNode* parent, int first, int last) {
    if (rows_.empty())
        return;
    if (hitList_) {
        // Hits lie anywhere: found by node, not by a scan of every row.
        std::vector<const TWebCacheTreeNode*> going;
        for (int i = std::max(first, 0); i <= last && i < parent->Count(); ++i)
            going.push_back(parent->Items(i));
        RemoveNodeRows(going);
        return;
    }
    std::unordered_set<const TWebCacheTreeNode*> going;
    for (int i = std::max(first, 0); i <= last && i < parent->Count(); ++i)
        going.insert(parent->Items(i));
    std::vector<int> remove;
    for (int row = 0; row < Count(); ++row) {
        if (going.count(rows_[static_cast<std::size_t>(row)].Row.Node) > 0)
            remove.push_back(row);
    }
    RemoveRows(std::move(remove));
}

void TCacheListModel::TreeAboutToBeReset() {
    resetGeneration_ = tree_ ? tree_->Generation() : 0;
    if (hitList_) {
        // The hits that stay if the reset keeps the nodes (a deletion of
        // many scattered files); the nodes going are marked already.
        held_.clear();
        for (TRow& row : rows_) {
            if (!row.Row.Node->Deleting)
                held_.push_back(std::move(row));
        }
        holding_ = true;
    }
    beginResetModel();
    rows_.clear();
    rowOfValid_ = false;
    endResetModel();
    emptiedByReset_ = !hitList_;
}

void TCacheListModel::TreeReset() {
    if (!holding_)
        return;
    holding_ = false;
    std::deque<TRow> held = std::move(held_);
    held_.clear();
    // After a rebuild the hits' nodes are gone.
    if (tree_ == nullptr || tree_->Generation() != resetGeneration_ || held.empty())
        return;
    beginResetModel();
    rows_ = std::move(held);
    rowOfValid_ = false;
    endResetModel();
}

void TCacheListModel::LayoutChanged() {
    // Names may have changed (renumbered duplicates); rows keep their nodes
    // and make their texts again when next shown.
    for (TRow& row : rows_) {
        row.CellsMade = false;
        if (row.Location)
            row.Filled = false;
    }
    if (!rows_.empty())
        emit dataChanged(index(0, 0), index(Count() - 1, kListColumnCount - 1));
}

TWebCacheTreeNode* TCacheListModel::NodeAt(int row) const {
    if (row < 0 || row >= Count())
        return nullptr;
    return rows_[static_cast<std::size_t>(row)].Row.Node;
}

QIcon TCacheListModel::IconOf(int row) const {
    if (row < 0 || row >= Count())
        return {};
    TRow& r = rows_[static_cast<std::size_t>(row)];
    Fill(r);
    const int image = r.Image;
    return image < 0 ? folderIcon_ : types_.Icon(image);
}

int TCacheListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int TCacheListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kListColumnCount;
}

QVariant TCacheListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count() || index.column() >= kListColumnCount)
        return {};
    const TRow& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return Ready(index.row()).Cells[static_cast<std::size_t>(index.column())];
    case Qt::ToolTipRole:
        // The icon views cut long names short.
        if (index.column() == lcName)
            return Ready(index.row()).Cells[lcName];
        return {};
    case Qt::DecorationRole:
        if (index.column() == lcName)
            return IconOf(index.row());
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == lcSize)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
        return {};
    case Qt::UserRole:
        return QVariant::fromValue(reinterpret_cast<quintptr>(row.Row.Node));
    default:
        return {};
    }
}

QVariant TCacheListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kListColumnCount)
        return {};
    if (role == Qt::DisplayRole) {
        static const QString captions[kListColumnCount] = {
            QStringLiteral("名前"),   QStringLiteral("URL名"), QStringLiteral("タイトル"),
            QStringLiteral("サイズ"), QStringLiteral("種類"),  QStringLiteral("更新日時")};
        if (hitList_ && section == lcUrlName)
            return QStringLiteral("フォルダ");
        if (hitList_ && section == lcDate)
            return QStringLiteral("更新日");
        return captions[section];
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(
            Qt::Alignment((section == lcSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    return {};
}

Qt::ItemFlags TCacheListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

// ---------------------------------------------------------------------------

TCacheListView::TCacheListView(QWidget* parent)
    : QStackedWidget(parent), model_(new TCacheListModel(this)), details_(new QTreeView(this)),
      icons_(new QListView(this)) {
    details_->setModel(model_);
    details_->setRootIsDecorated(false);
    details_->setItemsExpandable(false);
    details_->setUniformRowHeights(true);
    details_->setAllColumnsShowFocus(true);
    details_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    details_->setSelectionBehavior(QAbstractItemView::SelectRows);
    details_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    details_->setSortingEnabled(false);
    details_->setIconSize(QSize(16, 16));
    QHeaderView* header = details_->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    for (int column = 0; column < kListColumnCount; ++column)
        header->resizeSection(column, kColumnWidths[column]);
    // A date and time must fit in its column in the window's font, which is
    // wider than the one these widths were made for.
    const int dateWidth =
        details_->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00")) +
        3 * style()->pixelMetric(QStyle::PM_HeaderMargin) + 4;
    header->resizeSection(lcDate, std::max(kColumnWidths[lcDate], dateWidth));
    connect(header, &QHeaderView::sectionClicked, this, &TCacheListView::ColumnClicked);

    icons_->setModel(model_);
    // One selection for both views, so that a change of style keeps it.
    QItemSelectionModel* own = icons_->selectionModel();
    icons_->setSelectionModel(details_->selectionModel());
    delete own;
    icons_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    icons_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    icons_->setUniformItemSizes(true);
    icons_->setLayoutMode(QListView::Batched);
    icons_->setBatchSize(500);

    addWidget(details_);
    addWidget(icons_);
    setCurrentWidget(details_);
    setFocusProxy(details_);

    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(details_), static_cast<QAbstractItemView*>(icons_)}) {
        view->installEventFilter(this);
        connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
            if (TWebCacheTreeNode* node = model_->NodeAt(index.row()))
                emit nodeActivated(node);
        });
    }
    connect(details_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { emit selectionChanged(); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { emit contentsChanged(); });
    connect(model_, &QAbstractItemModel::rowsRemoved, this, [this] { emit contentsChanged(); });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { emit contentsChanged(); });
    ShowSortIndicator();
}

QAbstractItemView* TCacheListView::CurrentView() const {
    if (viewStyle_ == vsReport)
        return details_;
    return icons_;
}

QItemSelectionModel* TCacheListView::SelectionModel() const {
    return details_->selectionModel();
}

void TCacheListView::SetFolder(std::string_view path) {
    setUpdatesEnabled(false);
    model_->SetFolder(path);
    FocusFirstRow();
    setUpdatesEnabled(true);
}

void TCacheListView::Refresh() {
    setUpdatesEnabled(false);
    model_->Refresh();
    FocusFirstRow();
    setUpdatesEnabled(true);
}

void TCacheListView::RefreshIfEmptied() {
    if (model_->RefreshIfEmptied())
        FocusFirstRow();
}

void TCacheListView::Clear() {
    model_->Clear();
}

void TCacheListView::FocusFirstRow() {
    // The first row gets the keyboard focus without being selected.
    if (model_->Count() > 0)
        SelectionModel()->setCurrentIndex(model_->index(0, 0), QItemSelectionModel::NoUpdate);
}

void TCacheListView::SetSortOrder(int order) {
    model_->SetSortOrder(order);
    ShowSortIndicator();
    emit sortChanged();
}

void TCacheListView::SetSort(int order, int key) {
    model_->SetSort(order, key);
    ShowSortIndicator();
    emit sortChanged();
}

void TCacheListView::Sort() {
    model_->Sort();
}

void TCacheListView::ColumnClicked(int column) {
    const int key = SortKeyOfColumn(column);
    if (key == SortType())
        SetSortOrder(SortOrder() == 0 ? 1 : 0);
    else
        SetSort(0, key);
}

void TCacheListView::ShowSortIndicator() {
    details_->header()->setSortIndicator(
        ColumnOfSortKey(SortType()), SortOrder() == 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TCacheListView::SetViewStyle(int style) {
    if (style < vsIcon || style > vsReport)
        return;
    const QModelIndex current = SelectionModel()->currentIndex();
    const bool focused = CurrentView()->hasFocus();
    viewStyle_ = style;
    if (style == vsReport) {
        setCurrentWidget(details_);
        setFocusProxy(details_);
    } else {
        ApplyIconMode();
        setCurrentWidget(icons_);
        setFocusProxy(icons_);
    }
    if (current.isValid())
        CurrentView()->scrollTo(current);
    if (focused)
        CurrentView()->setFocus();
}

void TCacheListView::ApplyIconMode() {
    switch (viewStyle_) {
    case vsIcon:
        icons_->setViewMode(QListView::IconMode);
        icons_->setIconSize(QSize(32, 32));
        icons_->setGridSize(QSize(100, 84));
        icons_->setWordWrap(true);
        icons_->setFlow(QListView::LeftToRight);
        icons_->setWrapping(true);
        icons_->setMovement(autoArrange_ ? QListView::Static : QListView::Snap);
        icons_->setResizeMode(autoArrange_ ? QListView::Adjust : QListView::Fixed);
        break;
    case vsSmallIcon:
        icons_->setViewMode(QListView::ListMode);
        icons_->setIconSize(QSize(16, 16));
        icons_->setGridSize(QSize(200, 20));
        icons_->setWordWrap(false);
        icons_->setFlow(QListView::LeftToRight);
        icons_->setWrapping(true);
        icons_->setMovement(QListView::Static);
        icons_->setResizeMode(QListView::Adjust);
        break;
    default: // vsList
        icons_->setViewMode(QListView::ListMode);
        icons_->setIconSize(QSize(16, 16));
        icons_->setGridSize(QSize());
        icons_->setWordWrap(false);
        icons_->setFlow(QListView::TopToBottom);
        icons_->setWrapping(true);
        icons_->setMovement(QListView::Static);
        icons_->setResizeMode(QListView::Adjust);
        break;
    }
    // Icons that snap to a grid may be moved, and moving turns the view's
    // own drag and drop on: nothing is dropped here.
    RefuseDrops(icons_);
}

void TCacheListView::SetAutoArrange(bool on) {
    autoArrange_ = on;
    if (viewStyle_ == vsIcon)
        ApplyIconMode();
    if (on)
        LineUp();
}

void TCacheListView::LineUp() {
    if (viewStyle_ != vsReport)
        icons_->doItemsLayout();
}

int TCacheListView::ColumnWidth(int column) const {
    return details_->header()->sectionSize(column);
}

void TCacheListView::SetColumnWidth(int column, int width) {
    if (column >= 0 && column < kListColumnCount && width >= 0)
        details_->header()->resizeSection(column, width);
}

void TCacheListView::SelectAll() {
    if (model_->Count() == 0)
        return;
    SelectionModel()->select(
        QItemSelection(model_->index(0, 0),
                       model_->index(model_->Count() - 1, kListColumnCount - 1)),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TCacheListView::InvertSelection() {
    const int count = model_->Count();
    std::vector<char> selected(static_cast<std::size_t>(count), 0);
    for (int row : SelectedRows())
        selected[static_cast<std::size_t>(row)] = 1;
    QItemSelection inverted;
    for (int row = 0; row < count;) {
        if (selected[static_cast<std::size_t>(row)]) {
            ++row;
            continue;
        }
        int last = row;
        while (last + 1 < count && !selected[static_cast<std::size_t>(last + 1)])
            ++last;
        inverted.select(model_->index(row, 0), model_->index(last, kListColumnCount - 1));
        row = last + 1;
    }
    SelectionModel()->select(inverted,
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

std::vector<int> TCacheListView::SelectedRows() const {
    // The icon view selects the first column only, the details view whole
    // rows: a row counts when any of its cells is selected.
    const int count = model_->Count();
    std::vector<char> marked(static_cast<std::size_t>(count), 0);
    for (const QItemSelectionRange& range : SelectionModel()->selection()) {
        for (int row = std::max(range.top(), 0); row <= range.bottom() && row < count; ++row)
            marked[static_cast<std::size_t>(row)] = 1;
    }
    std::vector<int> rows;
    for (int row = 0; row < count; ++row) {
        if (marked[static_cast<std::size_t>(row)])
            rows.push_back(row);
    }
    return rows;
}

std::vector<TWebCacheTreeNode*> TCacheListView::SelectedNodes() const {
    std::vector<TWebCacheTreeNode*> nodes;
    for (int row : SelectedRows()) {
        if (TWebCacheTreeNode* node = model_->NodeAt(row))
            nodes.push_back(node);
    }
    return nodes;
}

TWebCacheTreeNode* TCacheListView::CurrentNode() const {
    return model_->NodeAt(SelectionModel()->currentIndex().row());
}

TListStatistics TCacheListView::Statistics() const {
    TListStatistics stats;
    stats.RowCount = model_->Count();
    for (int row = 0; row < model_->Count(); ++row) {
        const TWebCacheTreeNode* node = model_->NodeAt(row);
        if (node && !node->IsFolder)
            stats.TotalBytes += node->Size();
    }
    for (int row : SelectedRows()) {
        const TWebCacheTreeNode* node = model_->NodeAt(row);
        if (node == nullptr)
            continue;
        ++stats.SelectedCount;
        if (!node->IsFolder)
            stats.SelectedBytes += node->Size();
    }
    return stats;
}

bool TCacheListView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && (watched == details_ || watched == icons_)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (TWebCacheTreeNode* node = CurrentNode())
                emit nodeActivated(node);
            return true;
        }
    }
    return QStackedWidget::eventFilter(watched, event);
}

} // namespace tarnhold::gui
