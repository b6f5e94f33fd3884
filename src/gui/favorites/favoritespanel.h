// The favorites list above the cache views: one row per favorite with its
// title, URL and last date, filled and sorted by the favorites store it is
// bound to (the store's view). The favorite commands read its selection and
// open a favorite's site when a row is double clicked.
#pragma once

#include "favorites/favorites.h"

#include <QTreeWidget>
#include <functional>
#include <vector>

namespace tarnhold::gui {

class TFavoritesPanel : public QTreeWidget, public TFavoritesView {
    Q_OBJECT
public:
    explicit TFavoritesPanel(QWidget* parent = nullptr);
    // Leaves the store it is bound to without a view.
    ~TFavoritesPanel() override;

    // Shows store's favorites from now on (the store fills the rows).
    void Bind(TFavorites& store);

    // The favorite a row shows.
    static const TFavoriteItem* ItemOf(const QTreeWidgetItem* row);
    // The selected favorites, in the order of their rows.
    std::vector<const TFavoriteItem*> SelectedFavorites() const;
    int SelectedCount() const;

    // TFavoritesView
    void ClearRows() override;
    void AddRow(const TFavoriteItem* item) override;
    bool UpdateRow(const TFavoriteItem* item) override;
    void DeleteRow(const TFavoriteItem* item) override;
    void SortRows(
        const std::function<int(const TFavoriteItem&, const TFavoriteItem&)>& compare) override;
    void SelectRow(const TFavoriteItem* item) override;

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

signals:
    // A row was double clicked (or Enter pressed on it): its favorite;
    // null for a double click on no row.
    void favoriteActivated(const tarnhold::TFavoriteItem* favorite);

private:
    static void Fill(QTreeWidgetItem* row, const TFavoriteItem* item);
    QTreeWidgetItem* Find(const TFavoriteItem* item) const;

    TFavorites* Store_ = nullptr;
};

} // namespace tarnhold::gui
