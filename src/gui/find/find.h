// TfrmFind, the window "検索": the criteria on four pages (名前と場所, 日付,
// 種類, サイズ), a search through the cache tree on the background search
// (TFindThread) whose hits fill the result list as they come, and what a user
// does with the hits: open them, show their properties, copy them to the
// clipboard, delete them from the cache.
//
// The main window makes it once and shows it modally, after SetLocation,
// for each folder to search. The search only reads the tree; anything that
// changes the tree (a deletion here or in the main window, a refresh) stops
// it first, through the tree's OnChanging. Hits reach the window in batches:
// the worker queues them, the window takes what waits whenever the worker
// wakes it and at every tick of its search timer, and puts them into the
// list at most every kRowsEvery, so the window paints and answers between
// batches however many hits there are.
#pragma once

#include "dragdrop/tempcopies.h"
#include "find/browse.h"
#include "platform/event.h"
#include "platform/filetime.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QMenu;
class QMenuBar;
class QMimeData;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QTimer;
class QTreeWidget;

namespace tarnhold {
class TFindThread;
struct TFindData;
class TProgress;
class TWebCacheTree;
class TWebCacheTreeNode;
} // namespace tarnhold

namespace tarnhold::gui {

class TCacheListView;
class TCacheFileOpener;
class TGuiPrompts;
class TMainStatusBar;
class TNumberBox;

// The heights of the window without and with its result list, and its least
// width (the classic sizes; the criteria area may need more in a larger font).
constexpr int kFindHeightCriteria = 215;
constexpr int kFindHeightResults = 343;
constexpr int kFindMinWidth = 581;

class TfrmFind : public QDialog {
    Q_OBJECT
public:
    // settingsFile: "find.dat", read now and written when the window goes.
    TfrmFind(QWidget* owner, std::filesystem::path settingsFile);
    ~TfrmFind() override;

    // The tree to search and the folder URL to start from (empty: "Web
    // Cache"), put into the location box when the window is shown.
    void SetLocation(TWebCacheTree* tree, std::string_view url);
    const QString& Location() const { return Location_; }

    // Questions and messages (not owned; null: the window's own dialogs).
    void SetPrompts(TGuiPrompts* prompts);
    TGuiPrompts& Prompts();
    // Today's date for the date criteria and pickers (tests fix it).
    std::function<SYSTEMTIME()> Today;
    // Runs after this window changed the tree (a deletion), so that the main
    // window's views catch up.
    std::function<void()> OnTreeChanged;

    // The commands, as the buttons run them.
    // "検索開始(&I)": false when a start check failed (its message shown).
    bool StartSearch();
    // "終了(&P)": stops the search and waits for it.
    void StopSearch();
    bool Searching() const { return Search_ != nullptr; }
    void ResetQuery();
    int HitCount() const { return HitCount_; }
    bool ResultsShown() const { return ResultsShown_; }

    // The nodes of the selected hits, in row order (what a drag carries).
    std::vector<TWebCacheTreeNode*> SelectedHits() const;
    TCacheListView* ResultList() const { return lvwFind; }
    TfrmBrowse* BrowseDialog() const { return Browse_; }
    // The browse dialog, made on first use.
    TfrmBrowse& BrowseDialogMade();
    // Copies hits into a fresh temporary folder, side by side (files before
    // folders, one file per name: the newest), in the progress frame; the
    // paths the copy engine wrote, or nullopt when it failed or was
    // cancelled (the engine said why). The last folder goes only once the
    // new one is ready.
    std::optional<std::vector<std::filesystem::path>>
    CopyHitsToTemp(const std::vector<TWebCacheTreeNode*>& hits);
    // Starts a drag of the selected hits from view: modal until the drop or
    // the cancel; the copies are made when the drop target asks for them.
    void RunDrag(QWidget* view);
    // Tests: called with the drag's data instead of the desktop's drag.
    std::function<void(QMimeData*)> DragHook;
    // The temporary folder of the last drag or clipboard copy, and its files.
    const std::filesystem::path& TempFolder() const { return TempCopies_.Folder(); }
    const std::vector<std::filesystem::path>& ClipboardFiles() const { return TempCopies_.Files(); }
    const TCacheFileOpener& Opener() const { return *Opener_; }
    // Keys the number boxes refused (each with a beep).
    int Beeps() const { return Beeps_; }
    // The most hits put into the list in one go, and how many times hits
    // were put into the list, in the last search.
    int LargestBatch() const { return LargestBatch_; }
    int Batches() const { return Batches_; }

    // The status bar's first panel (or its single text while searching).
    QString StatusText() const;

    // find.dat: what the window would write now.
    void SaveSettings();

    // Rows go into the list at most this often while a search runs.
    static constexpr std::chrono::milliseconds kRowsEvery{40};

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    void CreateActions();
    void CreateMenus();
    void LoadSettings();

    // Criteria.
    std::unique_ptr<TFindData> MakeFindData();
    QString Summary() const;
    void SetCriteriaEnabled(bool enabled);
    void ApplyDateMode();
    void ApplyOperator();
    void FillTypeList();
    void pgcFindChange(int page);
    void btnBrowseClick();
    void btnNewClick();
    void Beep();
    friend class TNumberBox;

    // The search.
    void PumpSearch();
    void FlushHits(bool force);
    void ShowSearchedFolder();
    void SearchFinished();
    void SetHeight(int height);
    void ShowCount(int count);

    // The hits.
    void lvwFindSelectionChange();
    void lvwFindActivated(TWebCacheTreeNode* node);
    void OnNodeDeleted(std::string_view url);
    void BuildUrlIndex();
    void actFileDeleteExecute();
    void actFileCopyExecute();
    void actFileShowPropertyExecute();
    void SetViewStyle(int style);

    std::filesystem::path SettingsFile_;
    TWebCacheTree* Tree_ = nullptr;
    QString Location_ = QStringLiteral("Web Cache");
    TSubscription NodeDeleted_;
    std::unique_ptr<TGuiPrompts> OwnPrompts_;
    TGuiPrompts* Prompts_ = nullptr;

    std::unique_ptr<TFindThread> Search_;
    // A search that ended, freed once its last call has returned.
    std::unique_ptr<TFindThread> Ended_;
    TSubscription StopOnChange_;
    std::vector<TWebCacheTreeNode*> Incoming_;
    std::chrono::steady_clock::time_point LastFlush_;
    std::atomic<bool> WakePosted_{false};
    std::atomic<unsigned> Wakes_{0};
    const TWebCacheTreeNode* ShownFolder_ = nullptr; // in the status bar
    int HitCount_ = 0;
    int LargestBatch_ = 0;
    int Batches_ = 0;
    bool ResultsShown_ = false;
    int DateMode_ = 0;
    bool Deleting_ = false;
    int Beeps_ = 0;
    int WantedWidth_ = kFindMinWidth;

    // The hits by URL (ignoring case): the row a deletion reported by URL
    // belongs to. Made when first needed after the rows changed.
    struct TFindItemData {
        std::string Url; // lower-cased
        TWebCacheTreeNode* Item;
    };
    std::vector<TFindItemData> UrlIndex_;
    bool UrlIndexValid_ = false;

    TTempCopies TempCopies_;
    std::unique_ptr<TCacheFileOpener> Opener_;
    QPointer<TfrmBrowse> Browse_;

    QMenuBar* mnuMain = nullptr;
    QTabWidget* pgcFind = nullptr;
    QLineEdit* edtName = nullptr;
    QLineEdit* edtContains = nullptr;
    QLineEdit* edtLocation = nullptr;
    QPushButton* btnBrowse = nullptr;
    QCheckBox* chkSubFolders = nullptr;
    QRadioButton* rdoAll = nullptr;
    QRadioButton* rdoBetween = nullptr;
    QRadioButton* rdoMonths = nullptr;
    QRadioButton* rdoDays = nullptr;
    QDateEdit* dtpBegin = nullptr;
    QDateEdit* dtpEnd = nullptr;
    TNumberBox* edtMonths = nullptr;
    TNumberBox* edtDays = nullptr;
    QTreeWidget* lvwType = nullptr;
    QPushButton* btnTypeAll = nullptr;
    QPushButton* btnTypeNone = nullptr;
    TNumberBox* edtSize1 = nullptr;
    QComboBox* cmbOperator = nullptr;
    TNumberBox* edtSize2 = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnNew = nullptr;
    TCacheListView* lvwFind = nullptr;
    TMainStatusBar* stbFind = nullptr;
    QTimer* tmrSearch = nullptr;
    QMenu* mnuPopupSelected = nullptr;
    QMenu* mnuPopupNone = nullptr;

    QActionGroup* ViewStyles_ = nullptr;
    QAction* actListLargeIcon = nullptr;
    QAction* actListSmallIcon = nullptr;
    QAction* actListListIcon = nullptr;
    QAction* actListDetailIcon = nullptr;
    QAction* actListSortByName = nullptr;
    QAction* actListSortByFolder = nullptr;
    QAction* actListSortByTitle = nullptr;
    QAction* actListSortBySize = nullptr;
    QAction* actListSortByType = nullptr;
    QAction* actListSortByDate = nullptr;
    QAction* actListArrangeIconAuto = nullptr;
    QAction* actListLineUp = nullptr;
    QAction* actListSelectAll = nullptr;
    QAction* actListItemChange = nullptr;
    QAction* actFileShowProperty = nullptr;
    QAction* actFileDelete = nullptr;
    QAction* actFileCopy = nullptr;
    QAction* mnuClose = nullptr;
    QAction* mnuIgnoreCase = nullptr;
};

} // namespace tarnhold::gui
