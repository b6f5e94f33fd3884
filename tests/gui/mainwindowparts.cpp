#include "gui/mainwindowparts.h"

#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace tarnhold::gui::test {

namespace {

template <typename T> T* Part(const TfrmMain& window, const char* name) {
    T* part = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(part, nullptr) << "the main window has no " << name;
    return part;
}

} // namespace

QAction* TMainWindowParts::Action(const char* name) const {
    return Part<QAction>(window_, name);
}

QMenu* TMainWindowParts::Menu(const char* name) const {
    return Part<QMenu>(window_, name);
}

TCacheTreeView* TMainWindowParts::Tree() const {
    return Part<TCacheTreeView>(window_, "tvwCache");
}

TCacheListView* TMainWindowParts::List() const {
    return Part<TCacheListView>(window_, "lvwCache");
}

QTreeWidget* TMainWindowParts::Favorites() const {
    return Part<QTreeWidget>(window_, "lvwFavorites");
}

QLabel* TMainWindowParts::FolderCaption() const {
    return Part<QLabel>(window_, "txtFolder");
}

QTimer* TMainWindowParts::NodeChangeTimer() const {
    return Part<QTimer>(window_, "tmrNodeChange");
}

QToolBar* TMainWindowParts::ToolBar() const {
    return Part<QToolBar>(window_, "tlbCommand");
}

QString TMainWindowParts::StatusText(int panel) const {
    return Part<QLabel>(window_, panel == 0 ? "stsPanel0" : "stsPanel1")->text();
}

QString TMainWindowParts::CacheProblemText() const {
    return Part<QLabel>(window_, "stsProblem")->toolTip();
}

bool TMainWindowParts::ProgressVisible() const {
    return Part<QProgressBar>(window_, "prgProgress")->isVisible();
}

} // namespace tarnhold::gui::test
