// The main window's layout: the menu bar and the command tool bar, the
// favorites list above, the folder tree of the cache on the left and the
// contents of the selected folder on the right, the status bar below; the
// caption that names the kind of cache read, and the window's settings in
// "screen.dat". What the window does is its commands' business
// (TMainCommands): the window only lays out their actions and views.
#pragma once

#include "mainwindow/screensettings.h"
#include "sources/cachelocation.h"

#include <QMainWindow>
#include <QString>
#include <filesystem>

class QLabel;
class QSplitter;
class QToolBar;

namespace tarnhold {
class TFavorites;
class TWebCacheTree;
} // namespace tarnhold

namespace tarnhold::gui {

class TCacheListView;
class TCacheTreeView;
class TFavoritesPanel;
class TMainCommands;
class TMainStatusBar;

// "Tarnhold for MSIE" for an index.dat, "Tarnhold for Chromium", "Tarnhold
// for Firefox": the window's caption for a cache of that kind.
QString MainWindowCaption(TCacheKind kind);

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    // The window shows tree and favorites, which outlive it, and keeps its
    // settings in dataFolder.
    TfrmMain(TWebCacheTree& tree, TFavorites& favorites, std::filesystem::path dataFolder,
             QWidget* parent = nullptr);
    ~TfrmMain() override;

    // What the program does once the window is made: the saved position,
    // show, the rest of the settings, and the refresh when it is wanted.
    void Start();

    // The window's commands, and where other windows plug in.
    TMainCommands& Commands() const { return *Commands_; }

    void LoadWindowPosition();
    void LoadSettings();
    void SaveSettings();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateLayout();
    void CreateMenus();
    void CreateToolBar();
    // The caption and the tree panel's tool tip name the cache read.
    void ShowCache(const TFoundCache& cache);

    TFavorites& Favorites_;
    std::filesystem::path DataFolder_;
    TScreenSettings Settings_;
    bool Started_ = false;

    TFavoritesPanel* lvwFavorites = nullptr;
    TCacheTreeView* tvwCache = nullptr;
    TCacheListView* lvwCache = nullptr;
    QLabel* txtTree = nullptr;
    QLabel* txtFolder = nullptr;
    QSplitter* splFavorites = nullptr;
    QSplitter* splCache = nullptr;
    TMainStatusBar* stbMain = nullptr;
    QToolBar* tlbCommand = nullptr;
    TMainCommands* Commands_ = nullptr;
};

} // namespace tarnhold::gui
