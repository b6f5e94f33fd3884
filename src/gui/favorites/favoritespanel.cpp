#include "favorites/favoritespanel.h"

#include "app/columnfit.h"
#include "app/qtconvert.h"
#include "mainwindow/filetypeinfo.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

namespace tarnhold::gui {

TFavoritesPanel::TFavoritesPanel(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("lvwFavorites"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setHeaderLabels(
        {QStringLiteral("タイトル"), QStringLiteral("URL"), QStringLiteral("最終更新日")});
    setColumnWidth(0, 150);
    setColumnWidth(1, 200);
    setColumnWidth(2, 100);
    FitDateColumn(header(), 2);
    setAccessibleName(QStringLiteral("お気に入り"));
    header()->setSortIndicatorShown(true);
}

void TFavoritesPanel::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click on no row shows the whole cache again.
    QTreeWidgetItem* row = itemAt(event->position().toPoint());
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit favoriteActivated(row != nullptr ? ItemOf(row) : nullptr);
}

void TFavoritesPanel::keyPressEvent(QKeyEvent* event) {
    // Enter opens the focused favorite's site, as a double click does.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier && currentItem() != nullptr) {
        emit favoriteActivated(ItemOf(currentItem()));
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

TFavoritesPanel::~TFavoritesPanel() {
    if (Store_ != nullptr && Store_->View() == this)
        Store_->SetView(nullptr);
}

void TFavoritesPanel::Bind(TFavorites& store) {
    Store_ = &store;
    store.SetView(this);
}

const TFavoriteItem* TFavoritesPanel::ItemOf(const QTreeWidgetItem* row) {
    return static_cast<const TFavoriteItem*>(row->data(0, Qt::UserRole).value<const void*>());
}

std::vector<const TFavoriteItem*> TFavoritesPanel::SelectedFavorites() const {
    std::vector<const TFavoriteItem*> items;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->isSelected())
            items.push_back(ItemOf(topLevelItem(i)));
    }
    return items;
}

int TFavoritesPanel::SelectedCount() const {
    return static_cast<int>(selectedItems().size());
}

void TFavoritesPanel::ClearRows() {
    clear();
}

void TFavoritesPanel::AddRow(const TFavoriteItem* item) {
    Fill(new QTreeWidgetItem(this), item);
}

bool TFavoritesPanel::UpdateRow(const TFavoriteItem* item) {
    QTreeWidgetItem* row = Find(item);
    if (row == nullptr)
        return false;
    Fill(row, item);
    return true;
}

void TFavoritesPanel::DeleteRow(const TFavoriteItem* item) {
    delete Find(item);
}

void TFavoritesPanel::SortRows(
    const std::function<int(const TFavoriteItem&, const TFavoriteItem&)>& compare) {
    // Taking the rows out loses the selection and the current row; they
    // are given back once the rows stand in their new order.
    QTreeWidgetItem* current = currentItem();
    const QList<QTreeWidgetItem*> selected = selectedItems();
    const QSignalBlocker blocker(this);
    std::vector<QTreeWidgetItem*> rows;
    while (topLevelItemCount() > 0)
        rows.push_back(takeTopLevelItem(0));
    std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return compare(*ItemOf(a), *ItemOf(b)) < 0;
    });
    for (QTreeWidgetItem* row : rows)
        addTopLevelItem(row);
    if (current != nullptr)
        setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (QTreeWidgetItem* row : selected)
        row->setSelected(true);
    if (Store_ != nullptr)
        header()->setSortIndicator(Store_->SortType(), Store_->SortOrder() == 0
                                                           ? Qt::AscendingOrder
                                                           : Qt::DescendingOrder);
}

void TFavoritesPanel::SelectRow(const TFavoriteItem* item) {
    QTreeWidgetItem* row = Find(item);
    clearSelection();
    if (row == nullptr)
        return;
    row->setSelected(true);
    setCurrentItem(row);
    scrollToItem(row);
}

void TFavoritesPanel::Fill(QTreeWidgetItem* row, const TFavoriteItem* item) {
    row->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<const void*>(item)));
    row->setText(0, FavoriteText(item->Title));
    row->setText(1, DisplayText(item->UrlName));
    row->setText(2, DisplayText(FavoriteDateColumn(*item)));
    row->setIcon(0, BrowserIcon());
}

QTreeWidgetItem* TFavoritesPanel::Find(const TFavoriteItem* item) const {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (ItemOf(topLevelItem(i)) == item)
            return topLevelItem(i);
    }
    return nullptr;
}

} // namespace tarnhold::gui
