// The main window: the favorites list above, the folder tree of the cache
// on the left and the contents of the selected folder on the right, the
// refresh of the cache with its progress in the status bar, and the
// window's settings in "screen.dat".
#pragma once

#include "mainwindow/screensettings.h"
#include "platform/event.h"
#include "sources/cachelocation.h"

#include <QKeySequence>
#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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
class TCopyEngine;
class TProgress;
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

// The view whose commands the window's actions act on: the one that had the
// keyboard focus last.
enum class TFocusView { None, Tree, List, Favorites };

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

    // The nodes find, property and delete act on: with the tree focused its
    // context node, else its selected node; otherwise the list's selected
    // rows; otherwise the tree's selected node. Empty when there is none.
    std::vector<TWebCacheTreeNode*> Selection() const;
    TFocusView FocusedView() const { return Focus_; }
    // The tree item's node on which the tree's context menu was opened
    // (nullptr when none, or when it is no longer in the tree).
    TWebCacheTreeNode* ContextNode() const;

    // Deletes the selection from the tree and the cache after the
    // confirmation (when confirm), with the progress in the status bar.
    void DeleteSelection(bool confirm);
    // Copies the context node (tree focused) or the list's selected rows
    // below destination with the default favorite's methods.
    void CopyToFolder(const std::filesystem::path& destination);
    // The outcome of the last copy to a folder, as the status bar showed it.
    const QString& CopySummary() const { return CopySummary_; }
    // The temporary folder of the last clipboard copy (empty for none).
    const std::filesystem::path& TempFolder() const { return TempFolder_; }
    // The files the last clipboard copy put on the clipboard.
    const std::vector<std::filesystem::path>& ClipboardFiles() const { return ClipboardFiles_; }

    // Readies a context menu as opening it does (the enabling rules of the
    // menu; for the tree the item becomes the context node and selected)
    // and returns it. The menus' own popups call these.
    QMenu* PrepareTreeMenu(QTreeWidgetItem* item);
    QMenu* PrepareListMenu();
    // The list's context menu for its present selection.
    QMenu* ListPopupMenu() const { return ListPopup_; }

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
    QAction* actCacheRefresh2 = nullptr;
    QAction* actCacheFind = nullptr;
    QAction* actCacheFind2 = nullptr;
    QAction* actCacheSqueeze = nullptr;
    QAction* actFileShowProperty = nullptr;
    QAction* actFileDelete = nullptr;
    QAction* actFileDelete2 = nullptr;
    QAction* actFileCopy = nullptr;
    QAction* actFileCopy2 = nullptr;
    QAction* actFileCut = nullptr;
    QAction* actFileCut2 = nullptr;
    QAction* actFilePaste = nullptr;
    QAction* actFilePaste2 = nullptr;
    QAction* actFileUndo = nullptr;
    QAction* actFileUndo2 = nullptr;
    QAction* actFileCopyToDefaultFolder = nullptr;
    QAction* actFileCopyToFolder = nullptr;
    QAction* actFavoritesNew = nullptr;
    QAction* actFavoritesUpdate = nullptr;
    QAction* actFavoritesDelete = nullptr;
    QAction* actFavoritesSetupDefault = nullptr;
    QAction* actFavoritesImport = nullptr;
    QAction* actFavoritesFromCache = nullptr;
    QAction* actFavoritesCopyFile = nullptr;
    QAction* actFavoritesMoveFile = nullptr;
    QAction* actFavoritesDisplayLocal = nullptr;
    QAction* actFavoritesDisplayInternet = nullptr;
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
    QAction* mnuSchedule = nullptr;
    QAction* mnuDefExtName = nullptr;
    QAction* mnuExit = nullptr;
    QAction* mnuHelpContents = nullptr;
    QAction* mnuAbout = nullptr;
    QToolBar* tlbCommand = nullptr;
    QMenu* mnuPopupTree = nullptr;
    QMenu* mnuPopupList1 = nullptr; // rows selected
    QMenu* mnuPopupList2 = nullptr; // no row selected
    QMenu* mnuPopupFavorites = nullptr;

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

    void CreateCommandActions();
    // An action of the window's list: its name, caption (the tool tip is
    // the caption without accelerator and "...") and shortcut.
    QAction* MakeAction(const char* name, const char* caption, QKeySequence shortcut = {});
    void CreatePopupMenus();
    // The twin of action for the tool bar: the caption without its
    // accelerator, the same handler, and the original's enabled and
    // visible states.
    QAction* MakeTwin(QAction* action, const char* name);
    // The list's focused view, tree or favorites list, from a widget that
    // got the focus.
    void FocusChanged(QWidget* now);
    int TreeItemLevel(const QTreeWidgetItem* item) const;
    // Whether copying and registering may act on the tree item at level.
    bool CopyAllowedAtLevel(int level) const;
    void SetEnabled(std::initializer_list<QAction*> actions, bool enabled);
    // Runs a long command in the progress frame with text in the status
    // bar, the window disabled, and pending events every eventsEvery steps;
    // then the views catch up and the status texts are counted again.
    void RunFramed(const QString& text, int eventsEvery,
                   const std::function<void(TProgress&)>& run);

    // The enabling rules.
    void lvwFavoritesSelectItem();
    void lvwFavoritesEnter();
    void tvwCacheEnter();
    void lvwCacheEnter();
    void lvwCacheSelectItem();
    // Find, delete and copy for the list's selected rows.
    void ApplyListRowsRule(const std::vector<TWebCacheTreeNode*>& rows);
    void mnuPopupTreePopup();
    void mnuPopupList1Popup();
    void mnuPopupList2Popup();

    void actFileShowPropertyExecute();
    void actFileDeleteExecute();
    void actFileCopyExecute();
    void actFileCopyToDefaultFolderExecute();
    void actFileCopyToFolderExecute();
    void mnuDefExtNameClick();

    void tvwCacheChange();
    void tmrNodeChangeTimer();
    void lvwFavoritesDblClick(QTreeWidgetItem* item);
    void actCacheRefreshExecute();
    void actListLineUpExecute();
    void actListRoolIconExecute();
    void actListArrangeIconAutoExecute();
    void actListSelectAllExecute();
    void actListItemChangeExecute();
    void actTreeUpLevelExecute();
    void mnuEnableSchemeClick();
    void mnuHelpContentsClick();
    void mnuAboutClick();
    void OnNodeDeleted(std::string_view url);
    // Writes node's body to a new file of its own in OpenedFolder_ (file).
    TError WriteOpenedBody(const TWebCacheTreeNode& node, std::filesystem::path& file);

    TWebCacheTree& Tree_;
    tarnhold::TSubscription NodeDeleted_;
    TFavorites& Favorites_;
    std::filesystem::path DataFolder_;
    std::unique_ptr<TFavoritesListView> FavoritesView_;
    const TFavoriteItem* CurrentFavorite_ = nullptr;
    TScreenSettings Settings_;
    int SchemeLevel_ = 1;
    bool KeyHeld_ = false;
    bool Started_ = false;
    bool Busy_ = false; // a refresh, deletion or copy runs
    // The tree's selection moved while Busy_; the list has not followed.
    bool FolderPending_ = false;

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
    QMenu* ListPopup_ = nullptr;
    TFocusView Focus_ = TFocusView::None;
    // The tree path of the context node; set while the item it names stays
    // the tree's selected item.
    std::optional<std::string> ContextPath_;
    QMetaObject::Connection FocusConnection_;
    QString CopySummary_;
    std::filesystem::path TempFolder_;
    // Bodies written out to be opened (browser caches keep them inside their
    // entries); removed with the window.
    std::filesystem::path OpenedFolder_;
    int OpenedCount_ = 0;
    std::vector<std::filesystem::path> ClipboardFiles_;
};

// One line on what a copy wrote and which links of its pages the cache
// lacked.
QString CopySummaryText(const TCopyEngine& engine);

// The first page of the user guide: the installed one, else the one in the
// sources the program was built from.
std::filesystem::path HelpIndexFile();

} // namespace tarnhold::gui
