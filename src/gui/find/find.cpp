#include "find/find.h"

#include "app/cachefileopener.h"
#include "app/columnfit.h"
#include "app/japanese.h"
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "copy/copyengine.h"
#include "copy/deletenodes.h"
#include "copy/progressframe.h"
#include "dragdrop/dragstarter.h"
#include "dragdrop/dropsource.h"
#include "favorites/favorites.h"
#include "find/browse.h"
#include "find/findcopylist.h"
#include "find/finddata.h"
#include "find/findsettings.h"
#include "find/findthread.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/filetypeinfo.h"
#include "mainwindow/mainstatusbar.h"
#include "mainwindow/property.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "tree/urlmatch.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDrag>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <system_error>

namespace tarnhold::gui {

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

const char kWholeCache[] = "Web Cache";

// Hits taken from the search per call, so that one call never holds the
// window for long however fast the worker finds.
constexpr std::size_t kHitsPerCall = 2048;
// The worker's wake-ups that make one call for hits.
constexpr unsigned kWakesPerPump = 8;
// How often the window looks at the search when the worker does not wake it
// (the folder being searched, the rows waiting).
constexpr int kSearchTick = 50; // ms
// A deletion lets pending events through every this many files, a copy
// every this many.
constexpr int kDeleteEventsEvery = 100;
constexpr int kCopyEventsEvery = 10;

// The page of each group of criteria.
enum : int { pgNameLocation = 0, pgDate = 1, pgType = 2, pgSize = 3 };

SYSTEMTIME SystemTimeOf(const QDate& date) {
    return MakeSystemTime(date.year(), date.month(), date.day());
}

QDate DateOf(const SYSTEMTIME& time) {
    return QDate(time.wYear, time.wMonth, time.wDay);
}

} // namespace

// A number box of the criteria: digits only (any other character is refused
// with a beep; Enter, Esc and the editing keys do their usual work), with
// its up-down. A box that may be empty holds -1 when it is.
class TNumberBox : public QSpinBox {
public:
    TNumberBox(TfrmFind* owner, int minimum, int maximum, bool mayBeEmpty)
        : QSpinBox(owner), owner_(owner), mayBeEmpty_(mayBeEmpty) {
        setRange(mayBeEmpty ? -1 : minimum, maximum);
        setAccelerated(true);
        setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    }
    bool Empty() const { return mayBeEmpty_ && value() < 0; }
    void Clear() { setValue(mayBeEmpty_ ? -1 : minimum()); }

protected:
    QValidator::State validate(QString& text, int& pos) const override {
        if (text.isEmpty())
            return mayBeEmpty_ ? QValidator::Acceptable : QValidator::Intermediate;
        return QSpinBox::validate(text, pos);
    }
    int valueFromText(const QString& text) const override {
        if (text.isEmpty() && mayBeEmpty_)
            return -1;
        return QSpinBox::valueFromText(text);
    }
    QString textFromValue(int value) const override {
        if (value < 0)
            return {};
        return QSpinBox::textFromValue(value);
    }
    void keyPressEvent(QKeyEvent* event) override {
        const QString text = event->text();
        if (!text.isEmpty() && text.at(0).isPrint() &&
            !(text.at(0) >= QLatin1Char('0') && text.at(0) <= QLatin1Char('9'))) {
            owner_->Beep();
            event->accept();
            return;
        }
        QSpinBox::keyPressEvent(event);
    }

private:
    TfrmFind* owner_;
    bool mayBeEmpty_;
};

// ---------------------------------------------------------------------------

TfrmFind::TfrmFind(QWidget* owner, std::filesystem::path settingsFile)
    : QDialog(owner), SettingsFile_(std::move(settingsFile)),
      Opener_(std::make_unique<TCacheFileOpener>()) {
    setObjectName(QStringLiteral("frmFind"));
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    setSizeGripEnabled(true);
    Today = [] { return CurrentLocalTime(); };
    CreateActions();
    CreateControls();
    CreateMenus();
    tmrSearch = new QTimer(this);
    tmrSearch->setObjectName(QStringLiteral("tmrSearch"));
    tmrSearch->setInterval(kSearchTick);
    connect(tmrSearch, &QTimer::timeout, this, [this] {
        PumpSearch();
        FlushHits(false);
        ShowSearchedFolder();
    });
    LoadSettings();
    ResetQuery();
}

TfrmFind::~TfrmFind() {
    // The worker reads the tree and calls into this window: it ends first.
    if (Search_)
        Search_->Stop();
    StopOnChange_.Reset();
    Search_.reset();
    Ended_.reset();
    NodeDeleted_.Reset();
    SaveSettings();
}

void TfrmFind::SetPrompts(TGuiPrompts* prompts) {
    Prompts_ = prompts;
}

TGuiPrompts& TfrmFind::Prompts() {
    if (Prompts_ != nullptr)
        return *Prompts_;
    if (!OwnPrompts_)
        OwnPrompts_ = std::make_unique<TGuiPrompts>(this);
    return *OwnPrompts_;
}

void TfrmFind::SetLocation(TWebCacheTree* tree, std::string_view url) {
    if (tree != Tree_) {
        if (Search_)
            Search_->Stop();
        NodeDeleted_.Reset();
        lvwFind->Clear();
        lvwFind->SetTree(tree);
        Tree_ = tree;
        if (Tree_ != nullptr)
            NodeDeleted_ = Tree_->OnNodeDeleted.Subscribe(
                [this](TWebCacheTree&, std::string_view deleted) { OnNodeDeleted(deleted); });
        UrlIndexValid_ = false;
    }
    Location_ = url.empty() ? QString::fromLatin1(kWholeCache) : ToQString(url);
}

// The window ----------------------------------------------------------------------

void TfrmFind::CreateActions() {
    auto make = [this](const char* name, const char* caption, QKeySequence shortcut = {}) {
        auto* action = new QAction(Utf8(caption), this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(shortcut);
        // The shortcuts act wherever the focus is in the window.
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        return action;
    };
    ViewStyles_ = new QActionGroup(this);
    struct TStyle {
        QAction** action;
        const char* name;
        const char* caption;
        int style;
    } styles[] = {
        {&actListLargeIcon, "actListLargeIcon", "大きいアイコン(&G)", vsIcon},
        {&actListSmallIcon, "actListSmallIcon", "小さいアイコン(&M)", vsSmallIcon},
        {&actListListIcon, "actListListIcon", "一覧(&L)", vsList},
        {&actListDetailIcon, "actListDetailIcon", "詳細(&D)", vsReport},
    };
    for (const TStyle& s : styles) {
        *s.action = make(s.name, s.caption);
        (*s.action)->setCheckable(true);
        ViewStyles_->addAction(*s.action);
        const int style = s.style;
        connect(*s.action, &QAction::triggered, this, [this, style] { SetViewStyle(style); });
    }
    actListDetailIcon->setChecked(true);

    struct TSort {
        QAction** action;
        const char* name;
        const char* caption;
        int key;
    } sorts[] = {
        {&actListSortByName, "actListSortByName", "名前順(&N)", lsName},
        {&actListSortByFolder, "actListSortByFolder", "フォルダ順(&F)", lsUrlName},
        {&actListSortByTitle, "actListSortByTitle", "タイトル順(&I)", lsTitle},
        {&actListSortBySize, "actListSortBySize", "サイズ順(&Z)", lsSize},
        {&actListSortByType, "actListSortByType", "種類順(&T)", lsType},
        {&actListSortByDate, "actListSortByDate", "日付順(&D)", lsDate},
    };
    for (const TSort& s : sorts) {
        *s.action = make(s.name, s.caption);
        const int key = s.key;
        connect(*s.action, &QAction::triggered, this, [this, key] { lvwFind->SetSort(0, key); });
    }
    actListArrangeIconAuto = make("actListArrangeIconAuto", "アイコンの自動整列(&A)");
    actListArrangeIconAuto->setCheckable(true);
    connect(actListArrangeIconAuto, &QAction::triggered, this,
            [this](bool on) { lvwFind->SetAutoArrange(on); });
    actListLineUp = make("actListLineUp", "等間隔に整列(&U)");
    connect(actListLineUp, &QAction::triggered, this, [this] { lvwFind->LineUp(); });
    actListSelectAll =
        make("actListSelectAll", "すべて選択(&A)", QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(actListSelectAll, &QAction::triggered, this, [this] {
        lvwFind->SelectAll();
        lvwFind->CurrentView()->setFocus();
    });
    actListItemChange = make("actListItemChange", "選択の切り替え(&I)");
    connect(actListItemChange, &QAction::triggered, this, [this] {
        lvwFind->InvertSelection();
        lvwFind->CurrentView()->setFocus();
    });
    actFileShowProperty = make("actFileShowProperty", "プロパティ(&R)");
    connect(actFileShowProperty, &QAction::triggered, this, &TfrmFind::actFileShowPropertyExecute);
    actFileDelete = make("actFileDelete", "削除(&D)", QKeySequence(Qt::Key_Delete));
    connect(actFileDelete, &QAction::triggered, this, &TfrmFind::actFileDeleteExecute);
    actFileCopy = make("actFileCopy", "コピー(&C)", QKeySequence(Qt::CTRL | Qt::Key_C));
    connect(actFileCopy, &QAction::triggered, this, &TfrmFind::actFileCopyExecute);
    mnuClose = make("mnuClose", "閉じる(&C)");
    connect(mnuClose, &QAction::triggered, this, &QDialog::close);
    mnuIgnoreCase = make("mnuIgnoreCase", "大文字と小文字の区別(&I)");
    mnuIgnoreCase->setCheckable(true);
}

void TfrmFind::CreateMenus() {
    mnuMain = new QMenuBar(this);
    mnuMain->setObjectName(QStringLiteral("mnuMain"));
    layout()->setMenuBar(mnuMain);
    QMenu* file = mnuMain->addMenu(Utf8("ファイル(&F)"));
    file->addActions({actFileDelete, actFileShowProperty});
    file->addSeparator();
    file->addAction(mnuClose);
    QMenu* edit = mnuMain->addMenu(Utf8("編集(&E)"));
    edit->addActions({actFileCopy, actListSelectAll, actListItemChange});
    QMenu* view = mnuMain->addMenu(Utf8("表示(&V)"));
    view->addActions(ViewStyles_->actions());
    view->addSeparator();
    auto arrange = [this](QMenu* menu) {
        QMenu* sub = menu->addMenu(Utf8("アイコンの整列(&I)"));
        sub->addActions({actListSortByName, actListSortByFolder, actListSortByType,
                         actListSortByTitle, actListSortBySize, actListSortByDate});
        sub->addSeparator();
        sub->addAction(actListArrangeIconAuto);
        menu->addAction(actListLineUp);
    };
    arrange(view);
    QMenu* options = mnuMain->addMenu(Utf8("オプション(&O)"));
    options->addAction(mnuIgnoreCase);

    // The result list's context menus: for the selected hits, and for the
    // list itself.
    mnuPopupSelected = new QMenu(this);
    mnuPopupSelected->setObjectName(QStringLiteral("mnuPopupSelected"));
    mnuPopupSelected->addAction(actFileCopy);
    mnuPopupSelected->addSeparator();
    mnuPopupSelected->addAction(actFileDelete);
    mnuPopupSelected->addSeparator();
    mnuPopupSelected->addAction(actFileShowProperty);
    mnuPopupNone = new QMenu(this);
    mnuPopupNone->setObjectName(QStringLiteral("mnuPopupNone"));
    mnuPopupNone->addMenu(Utf8("表示(&V)"))->addActions(ViewStyles_->actions());
    mnuPopupNone->addSeparator();
    arrange(mnuPopupNone);
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(lvwFind->DetailsView()),
                                 static_cast<QAbstractItemView*>(lvwFind->IconView())}) {
        v->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(v, &QWidget::customContextMenuRequested, this, [this, v](const QPoint& at) {
            QMenu* menu = lvwFind->SelectedRows().empty() ? mnuPopupNone : mnuPopupSelected;
            menu->popup(v->viewport()->mapToGlobal(at));
        });
    }
}

void TfrmFind::CreateControls() {
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(6, 4, 6, 0);
    top->setSpacing(4);

    pgcFind = new QTabWidget;
    pgcFind->setObjectName(QStringLiteral("pgcFind"));
    auto label = [](const char* caption, QWidget* buddy) {
        auto* l = new QLabel(Utf8(caption));
        l->setBuddy(buddy);
        buddy->setAccessibleName(l->text().remove(QLatin1Char('&')));
        return l;
    };

    // 名前と場所
    auto* pageName = new QWidget;
    pageName->setObjectName(QStringLiteral("tabNameLocation"));
    auto* gridName = new QGridLayout(pageName);
    gridName->setVerticalSpacing(4);
    edtName = new QLineEdit;
    edtName->setObjectName(QStringLiteral("edtName"));
    edtContains = new QLineEdit;
    edtContains->setObjectName(QStringLiteral("edtContains"));
    edtLocation = new QLineEdit;
    edtLocation->setObjectName(QStringLiteral("edtLocation"));
    btnBrowse = new QPushButton(Utf8("参照(&B)..."));
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    btnBrowse->setAutoDefault(false);
    chkSubFolders = new QCheckBox(Utf8("サブフォルダも探す(&S)"));
    chkSubFolders->setObjectName(QStringLiteral("chkSubFolders"));
    gridName->addWidget(label("名前(&N):", edtName), 0, 0);
    gridName->addWidget(edtName, 0, 1, 1, 2);
    gridName->addWidget(label("含まれる文字(&C):", edtContains), 1, 0);
    gridName->addWidget(edtContains, 1, 1, 1, 2);
    gridName->addWidget(label("探す場所(&L):", edtLocation), 2, 0);
    gridName->addWidget(edtLocation, 2, 1);
    gridName->addWidget(btnBrowse, 2, 2);
    gridName->addWidget(chkSubFolders, 3, 1, 1, 2);
    gridName->setColumnStretch(1, 1);
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmFind::btnBrowseClick);
    pgcFind->addTab(pageName, Utf8("名前と場所"));

    // 日付
    auto* pageDate = new QWidget;
    pageDate->setObjectName(QStringLiteral("tabDate"));
    auto* gridDate = new QGridLayout(pageDate);
    gridDate->setVerticalSpacing(2);
    rdoAll = new QRadioButton(Utf8("すべてのファイル(&A)"));
    rdoAll->setObjectName(QStringLiteral("rdoAll"));
    rdoBetween = new QRadioButton(Utf8("日付指定(&B)"));
    rdoBetween->setObjectName(QStringLiteral("rdoBetween"));
    rdoMonths = new QRadioButton(Utf8("過去(&S)"));
    rdoMonths->setObjectName(QStringLiteral("rdoMonths"));
    rdoDays = new QRadioButton(Utf8("過去(&D)"));
    rdoDays->setObjectName(QStringLiteral("rdoDays"));
    auto makeDate = [](const char* name, const char* accessible) {
        auto* d = new QDateEdit;
        d->setObjectName(QString::fromLatin1(name));
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
        d->setAccessibleName(Utf8(accessible));
        return d;
    };
    dtpBegin = makeDate("dtpBegin", "開始日");
    dtpEnd = makeDate("dtpEnd", "終了日");
    edtMonths = new TNumberBox(this, 1, 999, false);
    edtMonths->setObjectName(QStringLiteral("edtMonths"));
    edtMonths->setAccessibleName(Utf8("か月間"));
    edtDays = new TNumberBox(this, 1, 999, false);
    edtDays->setObjectName(QStringLiteral("edtDays"));
    edtDays->setAccessibleName(Utf8("日間"));
    int tag = 0;
    for (QRadioButton* r : {rdoAll, rdoBetween, rdoMonths, rdoDays}) {
        r->setProperty("tag", tag++);
        connect(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                ApplyDateMode();
        });
    }
    gridDate->addWidget(rdoAll, 0, 0, 1, 4);
    gridDate->addWidget(rdoBetween, 1, 0);
    gridDate->addWidget(dtpBegin, 1, 1);
    gridDate->addWidget(new QLabel(Utf8("から")), 1, 2);
    gridDate->addWidget(dtpEnd, 1, 3);
    gridDate->addWidget(rdoMonths, 2, 0);
    gridDate->addWidget(edtMonths, 2, 1);
    gridDate->addWidget(new QLabel(Utf8("か月間")), 2, 2, 1, 2);
    gridDate->addWidget(rdoDays, 3, 0);
    gridDate->addWidget(edtDays, 3, 1);
    gridDate->addWidget(new QLabel(Utf8("日間")), 3, 2, 1, 2);
    gridDate->setColumnStretch(4, 1);
    pgcFind->addTab(pageDate, Utf8("日付"));

    // 種類
    auto* pageType = new QWidget;
    pageType->setObjectName(QStringLiteral("tabType"));
    auto* gridType = new QGridLayout(pageType);
    lvwType = new QTreeWidget;
    lvwType->setObjectName(QStringLiteral("lvwType"));
    lvwType->setRootIsDecorated(false);
    lvwType->setColumnCount(2);
    lvwType->setHeaderLabels({Utf8("拡張子"), Utf8("種類")});
    lvwType->header()->resizeSection(0, 80);
    lvwType->header()->resizeSection(1, 245);
    lvwType->setUniformRowHeights(true);
    // The page is as tall as the others; the list scrolls.
    lvwType->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    btnTypeAll = new QPushButton(Utf8("すべて選択(&S)"));
    btnTypeAll->setObjectName(QStringLiteral("btnTypeAll"));
    btnTypeAll->setAutoDefault(false);
    btnTypeNone = new QPushButton(Utf8("すべて解除(&D)"));
    btnTypeNone->setObjectName(QStringLiteral("btnTypeNone"));
    btnTypeNone->setAutoDefault(false);
    auto checkAll = [this](Qt::CheckState state) {
        for (int i = 0; i < lvwType->topLevelItemCount(); ++i)
            lvwType->topLevelItem(i)->setCheckState(0, state);
    };
    connect(btnTypeAll, &QPushButton::clicked, this, [checkAll] { checkAll(Qt::Checked); });
    connect(btnTypeNone, &QPushButton::clicked, this, [checkAll] { checkAll(Qt::Unchecked); });
    gridType->addWidget(label("ファイルの種類(&T):", lvwType), 0, 0, 1, 2);
    gridType->addWidget(lvwType, 1, 0, 3, 1);
    gridType->addWidget(btnTypeAll, 1, 1);
    gridType->addWidget(btnTypeNone, 2, 1);
    gridType->setRowStretch(3, 1);
    gridType->setColumnStretch(0, 1);
    pgcFind->addTab(pageType, Utf8("種類"));

    // サイズ
    auto* pageSize = new QWidget;
    pageSize->setObjectName(QStringLiteral("tabSize"));
    auto* gridSize = new QGridLayout(pageSize);
    edtSize1 = new TNumberBox(this, 0, 9999, true);
    edtSize1->setObjectName(QStringLiteral("edtSize1"));
    cmbOperator = new QComboBox;
    cmbOperator->setObjectName(QStringLiteral("cmbOperator"));
    cmbOperator->addItems({QString(), Utf8("以下"), Utf8("以上"), Utf8("から")});
    cmbOperator->setAccessibleName(Utf8("条件"));
    edtSize2 = new TNumberBox(this, 0, 9999, true);
    edtSize2->setObjectName(QStringLiteral("edtSize2"));
    edtSize2->setAccessibleName(Utf8("KBまで"));
    gridSize->addWidget(label("ファイル サイズ(&S):", edtSize1), 0, 0);
    gridSize->addWidget(edtSize1, 0, 1);
    gridSize->addWidget(new QLabel(QStringLiteral("KB")), 0, 2);
    gridSize->addWidget(cmbOperator, 0, 3);
    gridSize->addWidget(edtSize2, 0, 4);
    gridSize->addWidget(new QLabel(Utf8("KBまで")), 0, 5);
    gridSize->setColumnStretch(6, 1);
    gridSize->setRowStretch(1, 1);
    connect(cmbOperator, &QComboBox::currentIndexChanged, this, [this] { ApplyOperator(); });
    pgcFind->addTab(pageSize, Utf8("サイズ"));
    connect(pgcFind, &QTabWidget::currentChanged, this, &TfrmFind::pgcFindChange);

    btnStart = new QPushButton(Utf8("検索開始(&I)"));
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnStart->setDefault(true);
    btnStop = new QPushButton(Utf8("終了(&P)"));
    btnStop->setObjectName(QStringLiteral("btnStop"));
    btnStop->setAutoDefault(false);
    btnNew = new QPushButton(Utf8("新しい条件(&W)"));
    btnNew->setObjectName(QStringLiteral("btnNew"));
    btnNew->setAutoDefault(false);
    connect(btnStart, &QPushButton::clicked, this, [this] { StartSearch(); });
    connect(btnStop, &QPushButton::clicked, this, &TfrmFind::StopSearch);
    connect(btnNew, &QPushButton::clicked, this, &TfrmFind::btnNewClick);
    auto* buttons = new QVBoxLayout;
    buttons->addSpacing(pgcFind->tabBar()->sizeHint().height());
    buttons->addWidget(btnStart);
    buttons->addWidget(btnStop);
    buttons->addWidget(btnNew);
    buttons->addStretch(1);
    // The criteria keep their height; the list takes what the window adds.
    pgcFind->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    auto* criteria = new QHBoxLayout;
    criteria->addWidget(pgcFind, 1);
    criteria->addLayout(buttons);
    top->addLayout(criteria, 0);

    lvwFind = new TCacheListView;
    lvwFind->setObjectName(QStringLiteral("lvwFind"));
    lvwFind->Model()->SetHitList(true);
    lvwFind->setAccessibleName(Utf8("検索結果"));
    FitDateColumn(lvwFind->DetailsView()->header(), lcDate);
    top->addWidget(lvwFind, 1);
    // Hits are dragged out from a press on a row, in every view style.
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(lvwFind->DetailsView()),
                                    static_cast<QAbstractItemView*>(lvwFind->IconView())}) {
        RefuseDrops(view);
        new TDragStarter(
            view,
            [this, view](const QPoint& pressed) {
                return !Deleting_ && view->indexAt(pressed).isValid();
            },
            [this, view]() { RunDrag(view); });
    }
    connect(lvwFind, &TCacheListView::selectionChanged, this, &TfrmFind::lvwFindSelectionChange);
    connect(lvwFind, &TCacheListView::nodeActivated, this, &TfrmFind::lvwFindActivated);
    // Rows the tree took away (a deletion here or in the main window).
    connect(lvwFind->Model(), &QAbstractItemModel::rowsRemoved, this, [this] {
        if (!Searching() && ResultsShown_ && !Deleting_)
            ShowCount(lvwFind->Model()->Count());
    });
    connect(lvwFind->Model(), &QAbstractItemModel::modelReset, this,
            [this] { UrlIndexValid_ = false; });
    connect(lvwFind->Model(), &QAbstractItemModel::rowsInserted, this,
            [this] { UrlIndexValid_ = false; });

    stbFind = new TMainStatusBar(this);
    stbFind->setObjectName(QStringLiteral("stbFind"));
    top->addWidget(stbFind);
}

void TfrmFind::LoadSettings() {
    const TFindSettings s = ReadFindSettings(SettingsFile_);
    WantedWidth_ = std::max(s.Width, kFindMinWidth);
    mnuIgnoreCase->setChecked(s.IgnoreCase);
    for (std::size_t i = 0; i < s.Columns.size(); ++i) {
        if (const auto width = s.Columns[i])
            lvwFind->SetColumnWidth(static_cast<int>(i), *width);
    }
    lvwFind->SetSort(s.SortOrder, s.SortType);
    actListArrangeIconAuto->setChecked(s.AutoArrange);
    lvwFind->SetAutoArrange(s.AutoArrange);
    if (s.ViewStyle >= vsIcon && s.ViewStyle <= vsReport)
        SetViewStyle(s.ViewStyle);
    resize(WantedWidth_, height());
}

void TfrmFind::SaveSettings() {
    TFindSettings s;
    s.Width = width();
    s.IgnoreCase = mnuIgnoreCase->isChecked();
    for (std::size_t i = 0; i < s.Columns.size(); ++i)
        s.Columns[i] = lvwFind->ColumnWidth(static_cast<int>(i));
    s.SortType = lvwFind->SortType();
    s.SortOrder = lvwFind->SortOrder();
    s.AutoArrange = actListArrangeIconAuto->isChecked();
    s.ViewStyle = lvwFind->ViewStyle();
    // A window going away has no one left to tell; the next start reads the
    // defaults for what could not be kept.
    (void)WriteFindSettings(SettingsFile_, s);
}

void TfrmFind::SetViewStyle(int style) {
    lvwFind->SetViewStyle(style);
    QAction* checked[] = {actListLargeIcon, actListSmallIcon, actListListIcon, actListDetailIcon};
    checked[style]->setChecked(true);
    const bool icons = style == vsIcon || style == vsSmallIcon;
    actListArrangeIconAuto->setEnabled(icons);
    actListLineUp->setEnabled(icons);
}

void TfrmFind::SetHeight(int height) {
    // The criteria keep their room in the window's font.
    const int least = std::max(kFindHeightCriteria, minimumSizeHint().height());
    if (!ResultsShown_) {
        setFixedHeight(least);
    } else {
        // The list gets the room the classic window gave it.
        setMinimumHeight(least);
        setMaximumHeight(QWIDGETSIZE_MAX);
        resize(width(), std::max(height, least + kFindHeightResults - kFindHeightCriteria));
    }
}

void TfrmFind::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (width() < kFindMinWidth)
        resize(kFindMinWidth, height());
}

void TfrmFind::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    ResetQuery();
    pgcFind->setCurrentIndex(pgNameLocation);
    edtLocation->setText(Location_);
    edtName->setFocus();
}

void TfrmFind::closeEvent(QCloseEvent* event) {
    if (Deleting_) {
        event->ignore();
        return;
    }
    StopSearch();
    QDialog::closeEvent(event);
}

void TfrmFind::reject() {
    // Esc anywhere in the window closes it, as the close box does.
    if (Deleting_)
        return;
    StopSearch();
    QDialog::reject();
}

void TfrmFind::Beep() {
    ++Beeps_;
    QApplication::beep();
}

QString TfrmFind::StatusText() const {
    const QString message = stbFind->currentMessage();
    return message.isEmpty() ? stbFind->Text(0) : message;
}

// Criteria ----------------------------------------------------------------------

void TfrmFind::ResetQuery() {
    if (Search_)
        Search_->Stop();
    setWindowTitle(Utf8("検索: 条件 = すべてのファイル"));
    edtName->clear();
    edtContains->clear();
    edtLocation->setText(QString::fromLatin1(kWholeCache));
    chkSubFolders->setChecked(true);
    rdoAll->setChecked(true);
    const QDate today = DateOf(Today());
    dtpBegin->setDate(today);
    dtpEnd->setDate(today);
    edtMonths->setValue(1);
    edtDays->setValue(1);
    for (int i = 0; i < lvwType->topLevelItemCount(); ++i)
        lvwType->topLevelItem(i)->setCheckState(0, Qt::Checked);
    edtSize1->Clear();
    edtSize2->Clear();
    cmbOperator->setCurrentIndex(0);
    SetCriteriaEnabled(true);
    actFileShowProperty->setEnabled(false);
    actFileDelete->setEnabled(false);
    actFileCopy->setEnabled(false);
    ResultsShown_ = false;
    btnStart->setEnabled(true);
    btnStop->setEnabled(false);
    stbFind->clearMessage();
    stbFind->hide();
    lvwFind->hide();
    lvwFind->Clear();
    UrlIndex_.clear();
    UrlIndexValid_ = false;
    HitCount_ = 0;
    SetHeight(kFindHeightCriteria);
}

void TfrmFind::SetCriteriaEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             edtName, edtContains, edtLocation, chkSubFolders, btnBrowse, rdoAll, rdoBetween,
             rdoMonths, rdoDays, dtpBegin, dtpEnd, edtMonths, edtDays, lvwType, btnTypeAll,
             btnTypeNone, edtSize1, cmbOperator, edtSize2})
        w->setEnabled(enabled);
    if (enabled) {
        ApplyDateMode();
        ApplyOperator();
    }
}

void TfrmFind::ApplyDateMode() {
    for (QRadioButton* r : {rdoAll, rdoBetween, rdoMonths, rdoDays}) {
        if (r->isChecked())
            DateMode_ = r->property("tag").toInt();
    }
    if (!rdoAll->isEnabled())
        return; // a search runs: everything stays disabled
    dtpBegin->setEnabled(DateMode_ == dmBetween);
    dtpEnd->setEnabled(DateMode_ == dmBetween);
    edtMonths->setEnabled(DateMode_ == dmMonths);
    edtDays->setEnabled(DateMode_ == dmDays);
}

void TfrmFind::ApplyOperator() {
    if (!cmbOperator->isEnabled())
        return;
    edtSize2->setEnabled(cmbOperator->currentIndex() == soBetween);
}

void TfrmFind::pgcFindChange(int page) {
    if (page == pgType && lvwType->isEnabled() && lvwType->topLevelItemCount() == 0)
        FillTypeList();
}

void TfrmFind::FillTypeList() {
    if (Tree_ == nullptr)
        return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Every extension of the tree's files once, walked without recursion (a
    // hostile cache may nest deeply).
    std::vector<std::string> extensions;
    std::vector<const TWebCacheTreeNode*> stack{Tree_->Root()};
    while (!stack.empty()) {
        const TWebCacheTreeNode* node = stack.back();
        stack.pop_back();
        for (int i = 0; i < node->Count(); ++i) {
            const TWebCacheTreeNode* child = node->Items(i);
            if (child->IsFolder) {
                stack.push_back(child);
                continue;
            }
            std::string ext = AnsiLowerCase(ExtractFileExt(child->DisplayName()));
            const auto at = std::lower_bound(extensions.begin(), extensions.end(), ext);
            if (at == extensions.end() || *at != ext)
                extensions.insert(at, std::move(ext));
        }
    }
    lvwType->setUpdatesEnabled(false);
    for (const std::string& ext : extensions) {
        const TFileTypeInfo type = GetFileTypeInfoByExt(ext.empty() ? std::string("file") : ext);
        auto* item = new QTreeWidgetItem(lvwType);
        item->setText(0, DisplayText(ext));
        item->setData(0, Qt::UserRole, QByteArray::fromStdString(ext));
        item->setIcon(0, type.Icon);
        item->setText(1, type.TypeName.empty() ? DisplayText(ext) + Utf8(" ファイル")
                                               : DisplayText(type.TypeName));
        item->setCheckState(0, Qt::Checked);
    }
    lvwType->sortItems(0, Qt::AscendingOrder);
    lvwType->setUpdatesEnabled(true);
    QApplication::restoreOverrideCursor();
}

void TfrmFind::btnBrowseClick() {
    if (Tree_ == nullptr)
        return;
    QString result;
    if (BrowseDialogMade().Execute(*Tree_, edtLocation->text(), result))
        edtLocation->setText(result);
}

TfrmBrowse& TfrmFind::BrowseDialogMade() {
    if (!Browse_)
        Browse_ = new TfrmBrowse(this);
    return *Browse_;
}

void TfrmFind::btnNewClick() {
    if (Prompts().ShowMessage(windowTitle(), Utf8("現在の検索をクリアします。"),
                              QMessageBox::Question,
                              QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok)
        ResetQuery();
}

std::unique_ptr<TFindData> TfrmFind::MakeFindData() {
    auto data = std::make_unique<TFindData>();
    SetNames(*data, ToAnsi(edtName->text()));
    // The case option: the check mark distinguishes upper and lower case in
    // the containing text; the search ignores the case of letters unless it
    // is checked. The text goes to the search as typed: lower-casing it here
    // as well (the classic window did so, by a state of its own that could
    // disagree with the check mark) would make a capital letter unfindable
    // while case is distinguished, and adds nothing while it is ignored,
    // since the search folds both sides then.
    data->Contains = edtContains->text().toStdString();
    data->MatchAnyCase = !mnuIgnoreCase->isChecked();
    const QString location = edtLocation->text();
    if (Tree_ != nullptr)
        data->StartNode = location == QLatin1String(kWholeCache)
                              ? Tree_->Root()
                              : FindFolder(*Tree_, location.toStdString());
    data->SubFolders = chkSubFolders->isChecked();
    const SYSTEMTIME today = Today();
    const int count = DateMode_ == dmMonths ? edtMonths->value() : edtDays->value();
    SetDateRange(*data, DateMode_, today, count, SystemTimeOf(dtpBegin->date()),
                 SystemTimeOf(dtpEnd->date()));
    for (int i = 0; i < lvwType->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = lvwType->topLevelItem(i);
        if (item->checkState(0) == Qt::Checked)
            data->AddExtension(
                AnsiLowerCase(item->data(0, Qt::UserRole).toByteArray().toStdString()));
        else
            data->TypeFilter = true;
    }
    const int op = cmbOperator->currentIndex();
    SetSizeRange(*data, op, static_cast<std::uint32_t>(std::max(edtSize1->value(), 0)),
                 static_cast<std::uint32_t>(std::max(edtSize2->value(), 0)));
    return data;
}

QString TfrmFind::Summary() const {
    QString text;
    if (!edtContains->text().isEmpty())
        text = edtContains->text() + Utf8(" を含む");
    if (!edtName->text().isEmpty()) {
        if (!text.isEmpty())
            text += Utf8("、");
        text += edtName->text() + Utf8(" というファイル名");
    }
    if (text.isEmpty())
        text = Utf8("すべてのファイル");
    return Utf8("検索: 条件 = ") + EscapeControls(text);
}

// The search ----------------------------------------------------------------------

bool TfrmFind::StartSearch() {
    if (Search_ || Deleting_)
        return false;
    lvwFind->Clear();
    HitCount_ = 0;
    edtName->setText(edtName->text().trimmed());
    edtContains->setText(edtContains->text().trimmed());
    edtLocation->setText(edtLocation->text().trimmed());
    std::unique_ptr<TFindData> data = MakeFindData();

    const QString caption = Utf8("検索開始エラー");
    bool failed = false;
    if (data->StartNode == nullptr) {
        Prompts().ShowMessage(caption, Utf8("探す場所が存在しません。"), QMessageBox::Warning,
                              QMessageBox::Ok);
        pgcFind->setCurrentIndex(pgNameLocation);
        edtLocation->setFocus();
        failed = true;
    }
    if (data->TypeFilter && data->Extensions.empty()) {
        Prompts().ShowMessage(caption, Utf8("種類が選択されていません。"), QMessageBox::Warning,
                              QMessageBox::Ok);
        pgcFind->setCurrentIndex(pgType);
        lvwType->setFocus();
        failed = true;
    }
    if (!failed) {
        const int op = cmbOperator->currentIndex();
        if (((op == soAtMost || op == soAtLeast) && edtSize1->Empty()) ||
            (op == soBetween && (edtSize1->Empty() || edtSize2->Empty()))) {
            Prompts().ShowMessage(caption, Utf8("サイズが入力されていません。"),
                                  QMessageBox::Warning, QMessageBox::Ok);
            pgcFind->setCurrentIndex(pgSize);
            failed = true;
        }
    }
    if (failed)
        return false;

    Ended_.reset();
    Search_ = std::make_unique<TFindThread>(std::move(data));
    Search_->OnFound = [this](TFindThread&, TWebCacheTreeNode* node) { Incoming_.push_back(node); };
    Search_->OnTerminate = [this](TFindThread&) { SearchFinished(); };
    TFindThread* search = Search_.get();
    Search_->OnWake = [this, search] {
        // The worker wakes its owner every few dozen hits; the window takes
        // them a few hundred at a time (the worker may queue a thousand),
        // which spares it most of the thread switches. The end is taken at
        // once.
        if ((Wakes_.fetch_add(1) % kWakesPerPump == 0 || search->WalkEnded()) &&
            !WakePosted_.exchange(true))
            QMetaObject::invokeMethod(this, &TfrmFind::PumpSearch, Qt::QueuedConnection);
    };
    StopOnChange_ = StopBeforeChanges(*Tree_, *Search_);
    Incoming_.clear();
    LargestBatch_ = 0;
    Batches_ = 0;
    LastFlush_ = std::chrono::steady_clock::now();
    ShownFolder_ = nullptr;

    if (!ResultsShown_) {
        ResultsShown_ = true;
        lvwFind->show();
        stbFind->show();
        SetHeight(kFindHeightResults);
    }
    btnStart->setEnabled(false);
    btnStop->setEnabled(true);
    SetCriteriaEnabled(false);
    setWindowTitle(Summary());
    stbFind->showMessage(Utf8("検索中..."));
    Search_->Start();
    tmrSearch->start();
    return true;
}

void TfrmFind::StopSearch() {
    if (Search_)
        Search_->Stop();
}

void TfrmFind::PumpSearch() {
    WakePosted_ = false;
    if (!Search_)
        return;
    // The hits that wait, a bounded number per call; SearchFinished runs
    // here once the worker has ended and every hit was taken.
    TFindThread* search = Search_.get();
    if (search->ProcessMessages(std::chrono::milliseconds(0), kHitsPerCall) && Search_ &&
        Search_->HitsWaiting() && !WakePosted_.exchange(true))
        QMetaObject::invokeMethod(this, &TfrmFind::PumpSearch, Qt::QueuedConnection);
    FlushHits(false);
}

void TfrmFind::FlushHits(bool force) {
    if (Incoming_.empty())
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - LastFlush_ < kRowsEvery)
        return;
    LastFlush_ = now;
    if (ResultsShown_) {
        lvwFind->AddNodeRows(Incoming_);
        HitCount_ += static_cast<int>(Incoming_.size());
        LargestBatch_ = std::max(LargestBatch_, static_cast<int>(Incoming_.size()));
        ++Batches_;
    }
    Incoming_.clear();
}

void TfrmFind::ShowSearchedFolder() {
    // The folder the walk has reached, a few times a second: the walk's
    // report of every node would cost the worker a URL per node.
    if (!Search_)
        return;
    const TWebCacheTreeNode* node = Search_->VisitedNode();
    if (node == nullptr || node == ShownFolder_)
        return;
    ShownFolder_ = node;
    stbFind->showMessage(DisplayText(node->DirUrl()) + Utf8(" を検索中..."));
}

void TfrmFind::SearchFinished() {
    // Runs inside the search's own call (ProcessMessages, Stop): the object
    // is freed later, once that call has returned.
    FlushHits(true);
    tmrSearch->stop();
    StopOnChange_.Reset();
    Ended_ = std::move(Search_);
    QTimer::singleShot(0, this, [this] {
        if (!Search_)
            Ended_.reset();
    });
    btnStart->setEnabled(true);
    btnStop->setEnabled(false);
    SetCriteriaEnabled(true);
    stbFind->clearMessage();
    ShowCount(HitCount_);
    UrlIndexValid_ = false;
}

void TfrmFind::ShowCount(int count) {
    stbFind->SetText(0, Utf8("%1 個のファイルが見つかりました。").arg(count));
}

// The hits ------------------------------------------------------------------------

std::vector<TWebCacheTreeNode*> TfrmFind::SelectedHits() const {
    return lvwFind->SelectedNodes();
}

void TfrmFind::lvwFindSelectionChange() {
    const bool any = !lvwFind->SelectedRows().empty();
    actFileShowProperty->setEnabled(any);
    actFileDelete->setEnabled(any);
    actFileCopy->setEnabled(any);
}

void TfrmFind::lvwFindActivated(TWebCacheTreeNode*) {
    // The first selected row, as a double click or Enter finds it.
    const std::vector<TWebCacheTreeNode*> selected = SelectedHits();
    if (selected.empty())
        return;
    const TWebCacheTreeNode* node = selected.front();
    if (node->IsFolder) {
        Beep();
        return;
    }
    Opener_->Open(*node, Prompts(), windowTitle());
}

void TfrmFind::actFileShowPropertyExecute() {
    std::vector<TWebCacheTreeNode*> nodes = SelectedHits();
    if (nodes.empty())
        return;
    auto* window = new TfrmProperty(this, std::move(nodes));
    window->show();
}

void TfrmFind::BuildUrlIndex() {
    UrlIndex_.clear();
    const TCacheListModel& model = *lvwFind->Model();
    UrlIndex_.reserve(static_cast<std::size_t>(model.Count()));
    for (int row = 0; row < model.Count(); ++row) {
        TWebCacheTreeNode* node = model.NodeAt(row);
        if (node != nullptr)
            UrlIndex_.push_back({AnsiLowerCase(node->UrlText()), node});
    }
    std::stable_sort(UrlIndex_.begin(), UrlIndex_.end(),
                     [](const TFindItemData& a, const TFindItemData& b) { return a.Url < b.Url; });
    UrlIndexValid_ = true;
}

void TfrmFind::OnNodeDeleted(std::string_view url) {
    // The browse dialog's tree and the list follow the tree by themselves;
    // here the hit of that URL goes from the list and the count follows.
    if (lvwFind->Model()->Count() == 0)
        return;
    if (!UrlIndexValid_)
        BuildUrlIndex();
    const std::string key = AnsiLowerCase(url);
    auto at = std::lower_bound(
        UrlIndex_.begin(), UrlIndex_.end(), key,
        [](const TFindItemData& item, const std::string& k) { return item.Url < k; });
    for (; at != UrlIndex_.end() && at->Url == key; ++at) {
        if (at->Item == nullptr)
            continue;
        lvwFind->Model()->RemoveNodeRows({at->Item});
        at->Item = nullptr;
    }
    // Removing a row invalidated the index through the model's signal; the
    // entries stay true (a gone hit is marked), so the index is kept.
    UrlIndexValid_ = true;
    if (ResultsShown_ && !Searching())
        ShowCount(lvwFind->Model()->Count());
}

void TfrmFind::actFileDeleteExecute() {
    if (Deleting_ || Tree_ == nullptr)
        return;
    if (SelectedHits().empty())
        return;
    // The search reads the tree without a lock: it ends before anything goes.
    StopSearch();
    const std::vector<TWebCacheTreeNode*> nodes = SelectedHits();
    if (nodes.empty() || !Prompts().ConfirmDelete(nodes))
        return;
    TError error;
    Deleting_ = true;
    stbFind->RunFramed(this, DeletingText(), kDeleteEventsEvery, [&](TProgress& progress) {
        DeleteCacheNodes(*Tree_, nodes, &progress, &error);
    });
    Deleting_ = false;
    if (Browse_)
        Browse_->TreeView()->RebuildIfEmptied();
    ShowCount(lvwFind->Model()->Count());
    lvwFindSelectionChange();
    if (OnTreeChanged)
        OnTreeChanged();
    if (error)
        Prompts().ShowMessage(Utf8("削除"),
                              Utf8("キャッシュから削除できなかったエントリがあります。\n") +
                                  ErrorText(error),
                              QMessageBox::Warning, QMessageBox::Ok);
}

void TfrmFind::actFileCopyExecute() {
    if (const auto files = CopyHitsToTemp(SelectedHits()))
        QApplication::clipboard()->setMimeData(FileListMimeData(*files));
}

std::optional<std::vector<std::filesystem::path>>
TfrmFind::CopyHitsToTemp(const std::vector<TWebCacheTreeNode*>& hits) {
    if (Deleting_ || Tree_ == nullptr)
        return std::nullopt;
    // Files before folders, one file per name (the newest): the copies lie
    // side by side in one folder.
    TFindCopyList list;
    for (TWebCacheTreeNode* node : hits)
        list.Add(node);
    if (list.Count() == 0)
        return std::nullopt;
    const std::filesystem::path temp = TTempCopies::NewFolder(Prompts());
    if (temp.empty())
        return std::nullopt;
    TGuiCopyPrompts prompts(Prompts());
    bool copied = true;
    std::vector<std::filesystem::path> places;
    Deleting_ = true; // the tree must not change under the copy either
    stbFind->RunFramed(this, CopyToTempText(), kCopyEventsEvery, [&](TProgress& progress) {
        TCopyEngine engine(*Tree_, &prompts, &progress);
        TOverwriteAnswer answer = TOverwriteAnswer::Yes;
        for (TWebCacheTreeNode* node : list.Nodes()) {
            // Each hit below its own folder: named as the engine names it,
            // at the top of the temporary folder.
            TCopyOptions where;
            where.Destination = temp;
            where.PrefixFolder = node->Parent();
            where.Folder = TFolderMethod::BelowPrefix;
            where.Method = TCopyMethod::None;
            if (!tarnhold::CopyToFolder(engine, {node}, where, &answer)) {
                copied = false;
                break;
            }
            places.push_back(engine.LocalPathOf(where, node));
        }
    });
    Deleting_ = false;
    ShowCount(lvwFind->Model()->Count());
    // The engine said why when nothing was copied.
    return TempCopies_.Keep(temp, std::move(places), copied);
}

void TfrmFind::RunDrag(QWidget* view) {
    const std::vector<TWebCacheTreeNode*> hits = SelectedHits();
    if (hits.empty() || Deleting_ || Tree_ == nullptr)
        return;
    // The hits stay valid while the tree is not rebuilt; a drop after a
    // rebuild gets nothing.
    const auto generation = Tree_->Generation();
    auto* data = new TDropFileSource([this, hits, generation]() {
        if (Tree_ == nullptr || Tree_->Generation() != generation)
            return std::optional<std::vector<std::filesystem::path>>();
        return CopyHitsToTemp(hits);
    });
    if (DragHook) {
        DragHook(data);
        delete data;
        return;
    }
    auto* drag = new QDrag(view);
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    drag->deleteLater();
}

} // namespace tarnhold::gui
