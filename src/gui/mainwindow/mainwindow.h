// The main window: the favorites list above, the folder tree of the cache
// on the left and the contents of the selected folder on the right, the
// refresh of the cache with its progress in the status bar, and the
// window's settings in "screen.dat".
#pragma once

#include "cache/cachelocation.h"
#include "mainwindow/screensettings.h"

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnhold {
class TFavorites;
struct TFavoriteItem;
class TWebCacheTree;
class TWebCacheTreeNode;
} // namespace tarnhold

namespace tarnhold::gui {

class TCacheListView;
class TGuiPrompts;
class TCacheTreeView;
class TFavoritesListView;

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

    // Reads the cache again and rebuilds the tree, with the window disabled
    // and the progress in the status bar. The tree view is refilled after.
    void RefreshCache();
    // The folder selected in the tree, in the list.
    void ShowSelectedFolder();
    void UpdateStatusText();
    // The tree view shows the favorite's site, or the whole cache for none.
    void OpenFavorite(const TFavoriteItem* favorite);
    const TFavoriteItem* CurrentFavorite() const { return CurrentFavorite_; }

    void LoadWindowPosition();
    void LoadSettings();
    void SaveSettings();

    // Why no cache (or not all of it) could be read; shown in the status
    // bar beside the two panels until the next refresh. Empty: no problem.
    void SetCacheProblem(const QString& text);
    // Which cache is shown and where it was found.
    void SetCacheDescription(const QString& text);
    // The cache the tree reads now (its folder empty when there is none);
    // the chooser selects it and the tree panel names it.
    void SetCurrentCache(const TFoundCache& cache);
    const TFoundCache& CurrentCache() const { return CurrentCache_; }
    // Makes the tree read cache instead and refreshes; false, after telling
    // the user why, when its source cannot be made (the old one then stays).
    bool OpenCache(const TFoundCache& cache);
    // Offers FindCaches' caches through the prompts and opens the one chosen.
    void ChooseCache();
    // The caches the chooser offers (none when unset).
    std::function<std::vector<TFoundCache>()> FindCaches;

    // The questions and messages of the window go through prompts (not
    // owned; null: the window's own, showing the real dialogs).
    void SetPrompts(TGuiPrompts* prompts);
    TGuiPrompts& Prompts();

    // The parts the commands and the tests reach.
    TCacheTreeView* tvwCache = nullptr;
    TCacheListView* lvwCache = nullptr;
    QTreeWidget* lvwFavorites = nullptr;
    QLabel* txtFolder = nullptr;
    QTimer* tmrNodeChange = nullptr;
    QString StatusText(int panel) const;
    QString CacheProblemText() const;
    bool ProgressVisible() const;
    int SchemeLevel() const { return SchemeLevel_; }

    QAction* actCacheRefresh = nullptr;
    QAction* actTreeUpLevel = nullptr;
    QAction* actListLargeIcon = nullptr;
    QAction* actListSmallIcon = nullptr;
    QAction* actListListIcon = nullptr;
    QAction* actListDetailIcon = nullptr;
    QAction* actListRoolIcon = nullptr;
    QAction* actListSortByName = nullptr;
    QAction* actListSortByUrlName = nullptr;
    QAction* actListSortByTitle = nullptr;
    QAction* actListSortBySize = nullptr;
    QAction* actListSortByType = nullptr;
    QAction* actListSortByDate = nullptr;
    QAction* actListArrangeIconAuto = nullptr;
    QAction* actListLineUp = nullptr;
    QAction* actListSelectAll = nullptr;
    QAction* actListItemChange = nullptr;
    QAction* mnuToolBar = nullptr;
    QAction* mnuStatusBar = nullptr;
    QAction* mnuRefreshAtStart = nullptr;
    QAction* mnuEnableScheme = nullptr;
    QAction* mnuChooseCache = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuHelpContents = nullptr;
    QAction* mnuAbout = nullptr;
    QToolBar* tlbCommand = nullptr;

    // Acts on the list's first selected row as a double click does.
    void lvwCacheDblClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateLayout();
    void CreateStatusBar();
    void SetStatus(int panel, const QString& text);
    void ShowProblem(const QString& text);
    void SetViewStyle(int style);
    void SortBy(int key);

    void tvwCacheChange();
    void tmrNodeChangeTimer();
    void lvwFavoritesDblClick(QTreeWidgetItem* item);
    void actListRoolIconExecute();
    void actListArrangeIconAutoExecute();
    void actListSelectAllExecute();
    void actListItemChangeExecute();
    void actTreeUpLevelExecute();
    void mnuEnableSchemeClick();
    void mnuHelpContentsClick();
    void mnuAboutClick();
    void OnNodeDeleted(std::string_view url);

    TWebCacheTree& Tree_;
    TFavorites& Favorites_;
    std::filesystem::path DataFolder_;
    std::unique_ptr<TFavoritesListView> FavoritesView_;
    const TFavoriteItem* CurrentFavorite_ = nullptr;
    TScreenSettings Settings_;
    int SchemeLevel_ = 1;
    bool KeyHeld_ = false;
    bool Started_ = false;
    bool Busy_ = false; // a refresh runs

    QSplitter* splFavorites = nullptr;
    QSplitter* splCache = nullptr;
    QLabel* stsPanel0 = nullptr;
    QLabel* stsPanel1 = nullptr;
    QLabel* stsProblem = nullptr;
    QLabel* txtTree = nullptr;
    QString BaseProblem_;
    TFoundCache CurrentCache_;
    std::unique_ptr<TGuiPrompts> OwnPrompts_;
    TGuiPrompts* Prompts_ = nullptr;
    QProgressBar* prgProgress = nullptr;
    QActionGroup* ViewStyles_ = nullptr;
    QMenu* mnuViewStyle = nullptr;
};

// The first page of the user guide: the installed one, else the one in the
// sources the program was built from.
std::filesystem::path HelpIndexFile();

} // namespace tarnhold::gui
