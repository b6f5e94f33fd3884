// The main window as its tests reach it, the way a user-facing test would:
// its actions, menus and widgets by their object names, its commands through
// the window.
#pragma once

#include "mainwindow/maincommands.h"
#include "mainwindow/mainwindow.h"

#include <QString>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolBar;
class QTreeWidget;

namespace tarnhold::gui {

class TCacheListView;
class TCacheTreeView;

namespace test {

class TMainWindowParts {
public:
    explicit TMainWindowParts(TfrmMain& window) : window_(window) {}

    TfrmMain& Window() const { return window_; }
    TMainCommands& Commands() const { return window_.Commands(); }

    // An action ("actFileCopy", "mnuToolBar") or a context menu
    // ("mnuPopupTree"); a missing one fails the test.
    QAction* Action(const char* name) const;
    QMenu* Menu(const char* name) const;

    TCacheTreeView* Tree() const;    // tvwCache
    TCacheListView* List() const;    // lvwCache
    QTreeWidget* Favorites() const;  // lvwFavorites
    QLabel* FolderCaption() const;   // txtFolder
    QTimer* NodeChangeTimer() const; // tmrNodeChange
    QToolBar* ToolBar() const;       // tlbCommand

    // The status bar: panel 0 or 1, the cache's problem (the warning's
    // tool tip) and whether the progress bar shows.
    QString StatusText(int panel) const;
    QString CacheProblemText() const;
    bool ProgressVisible() const;

private:
    TfrmMain& window_;
};

} // namespace test
} // namespace tarnhold::gui
