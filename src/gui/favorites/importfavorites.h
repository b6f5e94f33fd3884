// "お気に入りのインポート": the favorites of a browser or a Favorites folder,
// chosen in a box above, as a tree of folders and shortcuts with a check
// mark before each; the checked ones become favorites of the store. A mark
// is an empty box (not chosen), a red check (chosen), a grey check (a folder
// partly chosen) or a blue check (a favorite with that URL exists, or was
// just imported: it cannot change). A click on the mark or Space toggles
// it; a folder's mark goes down to its entries and every folder above
// follows. The dialog stays open after an import.
#pragma once

#include "favorites/bookmarks.h"

#include <QDialog>
#include <QIcon>
#include <QTreeWidget>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

namespace tarnhold::gui {

class TGuiPrompts;

// The states of an entry's mark.
enum TImportState : int { isNone = 1, isChosen = 2, isPartly = 3, isRegistered = 4 };

// The tree: a press on an entry's mark, or Space on the current entry,
// asks for a toggle.
class TImportTree : public QTreeWidget {
    Q_OBJECT
public:
    using QTreeWidget::QTreeWidget;
    // Where an entry's mark lies in the viewport.
    QRect MarkRect(QTreeWidgetItem* item) const;

signals:
    void toggleRequested(QTreeWidgetItem* item);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class TfrmImportFavorites : public QDialog {
    Q_OBJECT
public:
    // Imports into store (not owned); messages go through prompts.
    TfrmImportFavorites(TFavorites& store, TGuiPrompts& prompts, QWidget* parent = nullptr);

    // The sources the box offers, the first one chosen. Read when shown and
    // whenever the choice changes.
    void SetSources(std::vector<TImportSource> sources);
    // Reads the chosen source into the tree afresh.
    void Fill();

    // The mark of an entry, and a toggle as a click on it does.
    static int StateOf(const QTreeWidgetItem* item);
    void Toggle(QTreeWidgetItem* item);
    // "インポート(&I)": every chosen shortcut becomes a favorite.
    void btnImportClick();

    TImportTree* Tree() const { return tvwFavorites; }

    // The caption of a source in the box ("Chromium のブックマーク (プロファイル Default)").
    static QString SourceCaption(const TImportSource& source);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void AddItems(QTreeWidgetItem* parent, std::vector<TShortcutEntry>& entries);
    void SetState(QTreeWidgetItem* item, int state);
    // The rule of a folder's mark from its entries'.
    void UpdateFolder(QTreeWidgetItem* folder);
    void UpdateAncestors(QTreeWidgetItem* item);
    void SetDescendants(QTreeWidgetItem* item, int state);
    QIcon IconFor(int state, bool folder) const;

    TFavorites& Store_;
    TGuiPrompts& Prompts_;
    std::vector<TImportSource> Sources_;
    TShortcutFolder Read_;
    // The marks' pictures (index = state), and the entries' own.
    QPixmap Marks_[5];
    QIcon FolderIcon_;
    QIcon ShortcutIcon_;

    QComboBox* cmbSource;
    TImportTree* tvwFavorites;
    QLabel* txtProblems;
    QPushButton* btnImport;
    QPushButton* btnClose;
};

} // namespace tarnhold::gui
