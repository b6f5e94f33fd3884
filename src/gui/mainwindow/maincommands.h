// The main window's commands: every action of the window with its caption,
// shortcut and handler (actCacheRefreshExecute and so on), the context menus
// of the tree and the list, the rules that enable the commands as the focus
// and the selections change, and what makes the views work together (the
// list follows the tree's selection, the status texts follow the list, the
// refresh, the favorite shown, the cache read).
//
// The window (TfrmMain) makes the commands first, lays out the widgets, puts
// the actions into its menu bar and tool bar by name (Action) and hands the
// widgets over in TMainViews (Attach). Windows of their own (favorites,
// find, drag and drop) plug in here: they take the nodes a command acts on
// from Selection(), the tree and the favorites from Tree() and Favorites(),
// ask through Prompts(), run long work in RunFramed() and connect their
// actions' handlers; the window's layout does not change for them.
#pragma once

#include "dragdrop/tempcopies.h"
#include "mainwindow/screensettings.h"
#include "platform/event.h"
#include "sources/cachelocation.h"

#include <QKeySequence>
#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QActionGroup;
class QLabel;
class QMimeData;
class QMenu;
class QTimer;
class QTreeWidgetItem;
class QWidget;

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
class TCacheTreeView;
class TFavoritesPanel;
class TfrmEditFavorite;
class TfrmImportFavorites;
class TfrmFind;
class TGuiPrompts;
class TMainStatusBar;

// The view whose commands the window's actions act on: the one that had the
// keyboard focus last.
enum class TFocusView { None, Tree, List, Favorites };

// The widgets of the main window the commands act on. The window owns them.
struct TMainViews {
    TCacheTreeView* Tree = nullptr;
    TCacheListView* List = nullptr;
    TFavoritesPanel* Favorites = nullptr;
    QLabel* FolderCaption = nullptr; // names the folder the list shows
    TMainStatusBar* Status = nullptr;
};

class TMainCommands : public QObject {
    Q_OBJECT
public:
    // The commands act on tree and favorites, which outlive them, in window
    // (which owns their dialogs and menus and is disabled while one runs).
    // Their actions and context menus are made here, below window, so that
    // it finds them by name.
    TMainCommands(TWebCacheTree& tree, TFavorites& favorites, QWidget* window);
    ~TMainCommands() override;

    // The views the window laid out: bound to the tree and the favorites,
    // their context menus, selections and focus wired to the commands.
    // Once, before the window is shown.
    void Attach(const TMainViews& views);

    // An action by its object name ("actFileCopy", "mnuExit"); nullptr for
    // none.
    QAction* Action(std::string_view name) const;
    // Adds the actions and separators ("-") named, in order, to menu.
    void AddActions(QMenu* menu, std::initializer_list<const char*> names) const;
    QActionGroup* ViewStyles() const { return ViewStyles_; }

    TWebCacheTree& Tree() const { return Tree_; }
    TFavorites& Favorites() const { return Favorites_; }
    const TMainViews& Views() const { return Views_; }

    // The questions and messages of the commands go through prompts (not
    // owned; null: the window's own, showing the real dialogs).
    void SetPrompts(TGuiPrompts* prompts);
    TGuiPrompts& Prompts();

    // The window's settings that belong to the commands: auto-arrange, the
    // view style, the refresh at start and the scheme option.
    void ApplySettings(const TScreenSettings& settings);
    void StoreSettings(TScreenSettings& settings) const;
    bool RefreshAtStart() const;
    // Once the window is first shown: the favorite commands start in the
    // state of an empty selection.
    void WindowShown();
    // A refresh, deletion or copy runs (the window must not close).
    bool Busy() const { return Busy_; }

    // Reads the cache again and rebuilds the tree, with the window disabled
    // and the progress in the status bar. The tree view is refilled after.
    void RefreshCache();
    // The folder selected in the tree, in the list.
    void ShowSelectedFolder();
    void UpdateStatusText();
    // The tree view shows the favorite's site, or the whole cache for none.
    void OpenFavorite(const TFavoriteItem* favorite);
    const TFavoriteItem* CurrentFavorite() const { return CurrentFavorite_; }
    int SchemeLevel() const { return SchemeLevel_; }

    // Why no cache (or not all of it) could be read; shown in the status
    // bar beside the two panels until the next refresh. Empty: no problem.
    // What could not be read of the cache's rename list is shown beside it.
    void SetCacheProblem(const QString& text);
    // The cache the tree reads now (its folder empty when there is none);
    // the chooser selects it and the window names it (cacheChanged).
    void SetCurrentCache(const TFoundCache& cache);
    const TFoundCache& CurrentCache() const { return CurrentCache_; }
    // Makes the tree read cache instead and refreshes; false, after telling
    // the user why, when its source cannot be made (the old one then stays).
    bool OpenCache(const TFoundCache& cache);
    // Offers FindCaches' caches through the prompts and opens the one chosen.
    void ChooseCache();
    // The caches the chooser offers (none when unset).
    std::function<std::vector<TFoundCache>()> FindCaches;

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
    // What a drag or a clipboard copy carries: with the tree focused its
    // selected folder (the root of the whole cache: every folder below it),
    // else the list's selected rows; and the folder their paths start below.
    struct TDragNodes {
        std::vector<TWebCacheTreeNode*> Nodes;
        const TWebCacheTreeNode* PrefixFolder = nullptr;
    };
    TDragNodes CollectDragNodes() const;
    // Copies nodes into a fresh temporary folder in the progress frame
    // ("テンポラリへコピー中..."); the paths the copy engine wrote for them, or
    // nullopt when it failed or was cancelled (the engine said why). The
    // folder of the last drag or copy goes only once the new one is ready.
    std::optional<std::vector<std::filesystem::path>> CopyToTemp(const TDragNodes& nodes);
    // Starts a drag of what CollectDragNodes gives from view (the tree or a
    // view of the list): modal until the drop or the cancel.
    void RunDrag(QWidget* view);
    // Tests: called with the drag's data instead of running the desktop's
    // drag; it plays the drop target.
    std::function<void(QMimeData*)> DragHook;
    bool Dragging() const { return Dragging_; }
    // The temporary folder of the last drag or clipboard copy (empty for none).
    const std::filesystem::path& TempFolder() const { return TempCopies_.Folder(); }
    // The files the last drag or clipboard copy handed out.
    const std::vector<std::filesystem::path>& ClipboardFiles() const { return TempCopies_.Files(); }
    // Runs a long command in the progress frame with text in the status
    // bar, the window disabled, and pending events every eventsEvery steps;
    // then the views catch up and the status texts are counted again.
    void RunFramed(const QString& text, int eventsEvery,
                   const std::function<void(TProgress&)>& run);

    // Readies a context menu as opening it does (the enabling rules of the
    // menu; for the tree the item becomes the context node and selected)
    // and returns it. The menus' own popups call these.
    QMenu* PrepareTreeMenu(QTreeWidgetItem* item);
    QMenu* PrepareListMenu();
    // The list's context menu for its present selection.
    QMenu* ListPopupMenu() const { return ListPopup_; }

    // Acts on the list's first selected row as a double click does.
    void lvwCacheDblClick();

    // The find window (mainfind.cpp): made on first use, below the window,
    // keeping its settings in the data folder.
    void SetDataFolder(const std::filesystem::path& folder) { DataFolder_ = folder; }
    TfrmFind& FindWindow();
    // The folders find acts on: the cache folder of the first selected
    // favorite with the favorites focused, else the folders of the selection.
    std::vector<TWebCacheTreeNode*> FindFolders() const;

signals:
    // SetCurrentCache or OpenCache changed the cache the tree reads.
    void cacheChanged(const tarnhold::TFoundCache& cache);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The action list (mainactions.cpp).
    void CreateActions();
    void CreateCommandActions();
    // An action of the window's list: its name, caption (the tool tip is
    // the caption without accelerator and "...") and shortcut.
    QAction* MakeAction(const char* name, const char* caption, QKeySequence shortcut = {});
    // The twin of action for the tool bar: the caption without its
    // accelerator, the same handler, and the original's enabled and
    // visible states.
    QAction* MakeTwin(QAction* action, const char* name);
    void CreatePopupMenus();
    // problem, followed by what could not be read of the rename list of
    // the cache read (RenameListProblem) unless it says that already.
    QString WithListProblem(const QString& problem) const;

    // The enabling rules (mainactions.cpp).
    // The list's focused view, tree or favorites list, from a widget that
    // got the focus.
    void FocusChanged(QWidget* now);
    int TreeItemLevel(const QTreeWidgetItem* item) const;
    // Whether copying and registering may act on the tree item at level.
    bool CopyAllowedAtLevel(int level) const;
    void SetEnabled(std::initializer_list<QAction*> actions, bool enabled);
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

    // The favorites' commands (mainfavorites.cpp).
    void ConnectFavoriteActions();
    // The favorites list bound to the store, its menu, header and double click.
    void AttachFavorites();
    void mnuPopupFavoritesPopup();
    void lvwFavoritesColumnClick(int column);
    void actFavoritesNewExecute();
    void actFavoritesUpdateExecute();
    void actFavoritesDeleteExecute();
    void actFavoritesSetupDefaultExecute();
    void actFavoritesImportExecute();
    void actFavoritesFromCacheExecute();
    void CopyFavoritesToLocal(bool move);
    void actFavoritesSaveArchiveExecute();
    void actFavoritesDisplayLocalExecute();
    void actFavoritesDisplayInternetExecute();
    // The selected favorites in row order, as the store holds them.
    std::vector<TFavoriteItem*> SelectedFavoriteItems() const;
    // The editor, made on first use; runs it and says whether it ended with OK.
    TfrmEditFavorite& EditDialog();
    bool RunEditDialog();
    // The editor on a new item; on OK the store takes it.
    void AddFavorite(std::unique_ptr<TFavoriteItem> item);
    // After an edit: the tree view follows the favorite it shows.
    void RefreshOpenFavorite(const TFavoriteItem* edited);
    void ReportSaveError(const TError& error);

    // The handlers (maincommands.cpp).
    void tvwCacheChange();
    void tmrNodeChangeTimer();
    void OnNodeDeleted(std::string_view url);
    void actCacheRefreshExecute();
    void actFileShowPropertyExecute();
    void actFileDeleteExecute();
    void actFileCopyExecute();
    void actFileCopyToDefaultFolderExecute();
    void actFileCopyToFolderExecute();
    void actFileSaveArchiveExecute(); // mainarchive.cpp
    // Saves the files below nodes as a web archive the user names.
    void SaveArchive(const std::vector<TWebCacheTreeNode*>& nodes);
    void actTreeUpLevelExecute();
    void SetViewStyle(int style);
    void actListRoolIconExecute();
    void SortBy(int key);
    void actListArrangeIconAutoExecute();
    void actListLineUpExecute();
    void actListSelectAllExecute();
    void actListItemChangeExecute();
    void mnuDefExtNameClick();
    void mnuEnableSchemeClick();
    void mnuHelpContentsClick();
    void mnuAboutClick();
    void CreateFindCommand(); // mainfind.cpp
    void actCacheFindExecute();
    // Writes node's body to a new file of its own in OpenedFolder_ (file).
    TError WriteOpenedBody(const TWebCacheTreeNode& node, std::filesystem::path& file);
    // Captions of the message boxes: the window's.
    QString Caption() const;

    TWebCacheTree& Tree_;
    TFavorites& Favorites_;
    QWidget* Window_;
    TMainViews Views_;
    tarnhold::TSubscription NodeDeleted_;
    const TFavoriteItem* CurrentFavorite_ = nullptr;
    int SchemeLevel_ = 1;
    bool KeyHeld_ = false;
    bool Busy_ = false; // a refresh, deletion or copy runs
    // The tree's selection moved while Busy_; the list has not followed.
    bool FolderPending_ = false;
    QString BaseProblem_;
    TFoundCache CurrentCache_;
    std::unique_ptr<TGuiPrompts> OwnPrompts_;
    TGuiPrompts* Prompts_ = nullptr;
    TFocusView Focus_ = TFocusView::None;
    // The tree path of the context node; set while the item it names stays
    // the tree's selected item.
    std::optional<std::string> ContextPath_;
    QMetaObject::Connection FocusConnection_;
    QString CopySummary_;
    std::filesystem::path ArchiveFile_; // the last web archive saved
    TTempCopies TempCopies_;
    bool Dragging_ = false;
    // Where the drags out of the tree and the list start (maindrag.cpp).
    void AttachDrags();
    // Bodies written out to be opened (browser caches keep them inside their
    // entries); removed with the window.
    std::filesystem::path OpenedFolder_;
    int OpenedCount_ = 0;
    // The favorites' dialogs, made on first use, freed with the window.
    TfrmEditFavorite* EditDialog_ = nullptr;
    TfrmImportFavorites* ImportDialog_ = nullptr;
    std::filesystem::path DataFolder_;
    TfrmFind* FindWindow_ = nullptr;

    // Waits for a pause in a key walk of the tree before the list follows.
    QTimer* tmrNodeChange = nullptr;
    QActionGroup* ViewStyles_ = nullptr;
    QMenu* mnuPopupTree = nullptr;
    QMenu* mnuPopupList1 = nullptr; // rows selected
    QMenu* mnuPopupList2 = nullptr; // no row selected
    QMenu* mnuPopupFavorites = nullptr;
    QMenu* ListPopup_ = nullptr;

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
    QAction* actFileSaveArchive = nullptr;
    QAction* actFavoritesNew = nullptr;
    QAction* actFavoritesUpdate = nullptr;
    QAction* actFavoritesDelete = nullptr;
    QAction* actFavoritesSetupDefault = nullptr;
    QAction* actFavoritesImport = nullptr;
    QAction* actFavoritesFromCache = nullptr;
    QAction* actFavoritesCopyFile = nullptr;
    QAction* actFavoritesMoveFile = nullptr;
    QAction* actFavoritesSaveArchive = nullptr;
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
};

// The お気に入り menu and the favorites list's context menu, in order.
inline constexpr std::initializer_list<const char*> kFavoritesMenu = {"actFavoritesDisplayLocal",
                                                                      "actFavoritesDisplayInternet",
                                                                      "-",
                                                                      "actFavoritesCopyFile",
                                                                      "actFavoritesMoveFile",
                                                                      "actFavoritesSaveArchive",
                                                                      "-",
                                                                      "actFavoritesNew",
                                                                      "-",
                                                                      "actFavoritesUpdate",
                                                                      "actFavoritesDelete",
                                                                      "-",
                                                                      "actFavoritesSetupDefault",
                                                                      "-",
                                                                      "actFavoritesImport"};

// One line on what a copy wrote and which links of its pages the cache
// lacked.
QString CopySummaryText(const TCopyEngine& engine);

// The first page of the user guide: the installed one, else the one in the
// sources the program was built from.
std::filesystem::path HelpIndexFile();

} // namespace tarnhold::gui
