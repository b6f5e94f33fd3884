#include "mainwindow/mainwindow.h"

#include "app/prompts.h"
#include "app/qtconvert.h"
#include "favorites/favorites.h"
#include "mainwindow/aboutbox.h"
#include "mainwindow/cachechooser.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/filetypeinfo.h"
#include "platform/appfolder.h"
#include "platform/files.h"
#include "sources/cachebody.h"
#include "sources/opencache.h"
#include "tree/localpaths.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <system_error>

namespace tarnhold::gui {

namespace {

// Pending events are handled once per this many entries of a long run: often
// enough to repaint, seldom enough not to cost the run its speed.
constexpr int kEventsEvery = 100;

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name),
                            QApplication::style()->standardIcon(fallback));
}

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// A date column at least as wide as a date with its time: the classic
// widths fit a narrower font than the window's.
void FitDateColumn(QHeaderView* header, int column) {
    const int needed =
        header->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00")) + 16;
    header->resizeSection(column, std::max(header->sectionSize(column), needed));
}

} // namespace

// The favorites list as the store fills it: one row per favorite with its
// title, URL and last date.
class TFavoritesListView : public TFavoritesView {
public:
    explicit TFavoritesListView(QTreeWidget* list) : List_(list) {}

    void ClearRows() override { List_->clear(); }
    void AddRow(const TFavoriteItem* item) override {
        auto* row = new QTreeWidgetItem(List_);
        Fill(row, item);
    }
    bool UpdateRow(const TFavoriteItem* item) override {
        QTreeWidgetItem* row = Find(item);
        if (row == nullptr)
            return false;
        Fill(row, item);
        return true;
    }
    void DeleteRow(const TFavoriteItem* item) override { delete Find(item); }
    void SortRows(
        const std::function<int(const TFavoriteItem&, const TFavoriteItem&)>& compare) override {
        std::vector<QTreeWidgetItem*> rows;
        while (List_->topLevelItemCount() > 0)
            rows.push_back(List_->takeTopLevelItem(0));
        std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
            return compare(*ItemOf(a), *ItemOf(b)) < 0;
        });
        for (QTreeWidgetItem* row : rows)
            List_->addTopLevelItem(row);
    }
    void SelectRow(const TFavoriteItem* item) override {
        QTreeWidgetItem* row = Find(item);
        List_->clearSelection();
        if (row == nullptr)
            return;
        row->setSelected(true);
        List_->setCurrentItem(row);
        List_->scrollToItem(row);
    }

    static const TFavoriteItem* ItemOf(const QTreeWidgetItem* row) {
        return static_cast<const TFavoriteItem*>(row->data(0, Qt::UserRole).value<const void*>());
    }

private:
    static void Fill(QTreeWidgetItem* row, const TFavoriteItem* item) {
        row->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<const void*>(item)));
        row->setText(0, DisplayText(item->Title));
        row->setText(1, DisplayText(item->UrlName));
        row->setText(2, DisplayText(FavoriteDateColumn(*item)));
        row->setIcon(0, BrowserIcon());
    }
    QTreeWidgetItem* Find(const TFavoriteItem* item) const {
        for (int i = 0; i < List_->topLevelItemCount(); ++i) {
            if (ItemOf(List_->topLevelItem(i)) == item)
                return List_->topLevelItem(i);
        }
        return nullptr;
    }

    QTreeWidget* List_;
};

TfrmMain::TfrmMain(TWebCacheTree& tree, TFavorites& favorites, std::filesystem::path dataFolder,
                   QWidget* parent)
    : QMainWindow(parent), Tree_(tree), Favorites_(favorites), DataFolder_(std::move(dataFolder)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QApplication::applicationDisplayName() + QStringLiteral(" for MSIE"));
    // Wide as the classic layout; taller, since the tool bar and rows of a
    // CJK font at 9 pt leave only a few rows of the list at its 313 pixels.
    resize(963, 560);

    CreateActions();
    CreateLayout();
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();
    CreatePopupMenus();

    NodeDeleted_ = Tree_.OnNodeDeleted.Subscribe(
        [this](TWebCacheTree&, std::string_view url) { OnNodeDeleted(url); });

    tvwCache->SetTree(&Tree_);
    lvwCache->SetTree(&Tree_);
    connect(lvwCache, &TCacheListView::selectionChanged, this, &TfrmMain::UpdateStatusText);
    connect(lvwCache, &TCacheListView::contentsChanged, this, &TfrmMain::UpdateStatusText);
    connect(lvwCache, &TCacheListView::nodeActivated, this, [this] { lvwCacheDblClick(); });

    FavoritesView_ = std::make_unique<TFavoritesListView>(lvwFavorites);
    Favorites_.SetView(FavoritesView_.get());

    tmrNodeChange = new QTimer(this);
    tmrNodeChange->setObjectName(QStringLiteral("tmrNodeChange"));
    tmrNodeChange->setInterval(1000);
    connect(tmrNodeChange, &QTimer::timeout, this, &TfrmMain::tmrNodeChangeTimer);
    connect(tvwCache, &QTreeWidget::currentItemChanged, this, &TfrmMain::tvwCacheChange);
    tvwCache->installEventFilter(this);
}

TfrmMain::~TfrmMain() {
    disconnect(FocusConnection_);
    if (!TempFolder_.empty())
        DeleteFolder(TempFolder_);
    if (!OpenedFolder_.empty())
        DeleteFolder(OpenedFolder_);
    NodeDeleted_.Reset();
    Favorites_.SetView(nullptr);
}

void TfrmMain::SetPrompts(TGuiPrompts* prompts) {
    Prompts_ = prompts;
}

TGuiPrompts& TfrmMain::Prompts() {
    if (Prompts_ != nullptr)
        return *Prompts_;
    if (!OwnPrompts_)
        OwnPrompts_ = std::make_unique<TGuiPrompts>(this);
    return *OwnPrompts_;
}

QAction* TfrmMain::MakeAction(const char* name, const char* caption, QKeySequence shortcut) {
    auto* action = new QAction(Utf8(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    QString hint = action->text();
    hint.remove(QStringLiteral("..."));
    hint.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    action->setToolTip(hint);
    return action;
}

void TfrmMain::CreateActions() {
    auto make = [this](const char* name, const char* caption, QKeySequence shortcut = {}) {
        return MakeAction(name, caption, shortcut);
    };
    actCacheRefresh = make("actCacheRefresh", "最新の情報に更新(&R)", QKeySequence(Qt::Key_F5));
    actCacheRefresh->setIcon(ThemeIcon("view-refresh", QStyle::SP_BrowserReload));
    connect(actCacheRefresh, &QAction::triggered, this, &TfrmMain::actCacheRefreshExecute);
    actCacheRefresh2 = MakeTwin(actCacheRefresh, "actCacheRefresh2");

    actTreeUpLevel = make("actTreeUpLevel", "上へ");
    actTreeUpLevel->setIcon(ThemeIcon("go-up", QStyle::SP_FileDialogToParent));
    connect(actTreeUpLevel, &QAction::triggered, this, &TfrmMain::actTreeUpLevelExecute);

    ViewStyles_ = new QActionGroup(this);
    ViewStyles_->setExclusive(true);
    const struct {
        QAction** action;
        const char* name;
        const char* caption;
        const char* icon;
        QStyle::StandardPixmap fallback;
    } styles[] = {
        {&actListLargeIcon, "actListLargeIcon", "大きいアイコン(&G)", "view-list-icons",
         QStyle::SP_FileDialogContentsView},
        {&actListSmallIcon, "actListSmallIcon", "小さいアイコン(&M)", "view-list-compact",
         QStyle::SP_FileDialogListView},
        {&actListListIcon, "actListListIcon", "一覧(&L)", "view-list-text",
         QStyle::SP_FileDialogListView},
        {&actListDetailIcon, "actListDetailIcon", "詳細(&D)", "view-list-details",
         QStyle::SP_FileDialogDetailedView},
    };
    for (int i = 0; i < 4; ++i) {
        QAction* action = make(styles[i].name, styles[i].caption);
        action->setCheckable(true);
        action->setIcon(ThemeIcon(styles[i].icon, styles[i].fallback));
        ViewStyles_->addAction(action);
        connect(action, &QAction::triggered, this, [this, i] { SetViewStyle(i); });
        *styles[i].action = action;
    }
    actListDetailIcon->setChecked(true);
    actListRoolIcon = make("actListRoolIcon", "表示");
    actListRoolIcon->setIcon(ThemeIcon("view-list-details", QStyle::SP_FileDialogDetailedView));
    connect(actListRoolIcon, &QAction::triggered, this, &TfrmMain::actListRoolIconExecute);

    const struct {
        QAction** action;
        const char* name;
        const char* caption;
        int key;
    } sorts[] = {
        {&actListSortByName, "actListSortByName", "名前順(&N)", lsName},
        {&actListSortByUrlName, "actListSortByUrlName", "キャッシュ名順(&C)", lsUrlName},
        {&actListSortByTitle, "actListSortByTitle", "タイトル順(&I)", lsTitle},
        {&actListSortBySize, "actListSortBySize", "サイズ順(&Z)", lsSize},
        {&actListSortByType, "actListSortByType", "種類順(&T)", lsType},
        {&actListSortByDate, "actListSortByDate", "日付順(&D)", lsDate},
    };
    for (const auto& sort : sorts) {
        *sort.action = make(sort.name, sort.caption);
        const int key = sort.key;
        connect(*sort.action, &QAction::triggered, this, [this, key] { SortBy(key); });
    }
    actListArrangeIconAuto = make("actListArrangeIconAuto", "アイコンの自動整列(&A)");
    actListArrangeIconAuto->setCheckable(true);
    actListArrangeIconAuto->setEnabled(false);
    connect(actListArrangeIconAuto, &QAction::triggered, this,
            &TfrmMain::actListArrangeIconAutoExecute);
    actListLineUp = make("actListLineUp", "等間隔に整列(&U)");
    actListLineUp->setEnabled(false);
    connect(actListLineUp, &QAction::triggered, this, &TfrmMain::actListLineUpExecute);
    actListSelectAll =
        make("actListSelectAll", "すべて選択(&A)", QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(actListSelectAll, &QAction::triggered, this, &TfrmMain::actListSelectAllExecute);
    actListItemChange = make("actListItemChange", "選択の切り替え(&I)");
    connect(actListItemChange, &QAction::triggered, this, &TfrmMain::actListItemChangeExecute);

    mnuToolBar = make("mnuToolBar", "ツールバー(&T)");
    mnuToolBar->setCheckable(true);
    mnuToolBar->setChecked(true);
    connect(mnuToolBar, &QAction::toggled, this, [this](bool on) { tlbCommand->setVisible(on); });
    mnuStatusBar = make("mnuStatusBar", "ステータスバー(&S)");
    mnuStatusBar->setCheckable(true);
    mnuStatusBar->setChecked(true);
    connect(mnuStatusBar, &QAction::toggled, this,
            [this](bool on) { statusBar()->setVisible(on); });
    mnuRefreshAtStart = make("mnuRefreshAtStart", "起動時に更新(&W)");
    mnuRefreshAtStart->setCheckable(true);
    mnuRefreshAtStart->setChecked(true);
    mnuEnableScheme = make("mnuEnableScheme", "スキームの区別(&C)");
    mnuEnableScheme->setCheckable(true);
    mnuEnableScheme->setChecked(true);
    connect(mnuEnableScheme, &QAction::triggered, this, &TfrmMain::mnuEnableSchemeClick);
    mnuChooseCache = make("mnuChooseCache", "キャッシュの選択(&O)...");
    mnuChooseCache->setIcon(ThemeIcon("folder-open", QStyle::SP_DirOpenIcon));
    connect(mnuChooseCache, &QAction::triggered, this, &TfrmMain::ChooseCache);
    mnuExit = make("mnuExit", "終了(&X)");
    connect(mnuExit, &QAction::triggered, this, &QWidget::close);
    mnuHelpContents = make("mnuHelpContents", "目次とキーワード(&C)...");
    mnuHelpContents->setIcon(ThemeIcon("help-contents", QStyle::SP_DialogHelpButton));
    connect(mnuHelpContents, &QAction::triggered, this, &TfrmMain::mnuHelpContentsClick);
    mnuAbout = make("mnuAbout", "バージョン情報(&A)...");
    connect(mnuAbout, &QAction::triggered, this, &TfrmMain::mnuAboutClick);

    CreateCommandActions();

    // The categories of the action list follow the names' groups.
    const struct {
        const char* prefix;
        const char* category;
    } categories[] = {
        {"actCache", "Cache操作"},          {"actFile", "ﾌｧｲﾙ操作"},
        {"actTree", "TreeView操作"},        {"actList", "ListView操作"},
        {"actFavorites", "お気に入り操作"},
    };
    // The window takes the shortcuts whichever of its views has the focus.
    for (QAction* action : findChildren<QAction*>()) {
        for (const auto& c : categories) {
            if (action->objectName().startsWith(QLatin1String(c.prefix)))
                action->setProperty("category", Utf8(c.category));
        }
        addAction(action);
    }
}

void TfrmMain::CreateMenus() {
    auto* bar = menuBar();
    auto menu = [bar](const char* caption) { return bar->addMenu(Utf8(caption)); };
    QMenu* file = menu("ファイル(&F)");
    file->addAction(actFileDelete);
    file->addAction(actFileShowProperty);
    file->addSeparator();
    file->addAction(mnuChooseCache);
    file->addSeparator();
    file->addAction(mnuExit);

    QMenu* edit = menu("編集(&E)");
    edit->addAction(actFileUndo);
    edit->addAction(actFileCut);
    edit->addAction(actFileCopy);
    edit->addAction(actFilePaste);
    edit->addSeparator();
    edit->addAction(actListSelectAll);
    edit->addAction(actListItemChange);

    QMenu* view = menu("表示(&V)");
    view->addAction(mnuToolBar);
    view->addAction(mnuStatusBar);
    view->addSeparator();
    for (QAction* style : ViewStyles_->actions())
        view->addAction(style);
    view->addSeparator();
    QMenu* arrange = view->addMenu(Utf8("アイコンの整列(&I)"));
    for (QAction* sort : {actListSortByName, actListSortByUrlName, actListSortByTitle,
                          actListSortBySize, actListSortByType, actListSortByDate})
        arrange->addAction(sort);
    arrange->addSeparator();
    arrange->addAction(actListArrangeIconAuto);
    view->addAction(actListLineUp);
    view->addSeparator();
    view->addAction(actCacheRefresh);
    view->addAction(mnuRefreshAtStart);

    // The favorites' commands come with their window; until then the menu
    // keeps its place in the bar, greyed, with its items in their order.
    QMenu* favorites = menu("お気に入り(&A)");
    for (QAction* action :
         {actFavoritesDisplayLocal, actFavoritesDisplayInternet, static_cast<QAction*>(nullptr),
          actFavoritesCopyFile, actFavoritesMoveFile, static_cast<QAction*>(nullptr),
          actFavoritesNew, static_cast<QAction*>(nullptr), actFavoritesUpdate, actFavoritesDelete,
          static_cast<QAction*>(nullptr), actFavoritesSetupDefault, static_cast<QAction*>(nullptr),
          actFavoritesImport}) {
        if (action == nullptr)
            favorites->addSeparator();
        else
            favorites->addAction(action);
    }
    favorites->menuAction()->setEnabled(false);
    // Find and narrow are not shown until the find window exists.
    QMenu* tools = menu("ツール(&T)");
    tools->addAction(actCacheFind);
    tools->addAction(actCacheSqueeze);
    tools->menuAction()->setEnabled(false);

    QMenu* options = menu("オプション(&O)");
    options->addAction(mnuSchedule);
    options->addAction(mnuDefExtName);
    options->addSeparator();
    options->addAction(mnuEnableScheme);

    QMenu* help = menu("ヘルプ(&H)");
    help->addAction(mnuHelpContents);
    help->addSeparator();
    help->addAction(mnuAbout);
}

void TfrmMain::CreateToolBar() {
    tlbCommand = addToolBar(Utf8("ツールバー"));
    tlbCommand->setObjectName(QStringLiteral("tlbCommand"));
    tlbCommand->setMovable(false);
    tlbCommand->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tlbCommand->setIconSize(QSize(24, 24));
    tlbCommand->addAction(actCacheRefresh2);
    tlbCommand->addSeparator();
    // Back and forward have no history to walk yet: present, not shown.
    for (const char* caption : {"戻る", "進む"}) {
        auto* button = new QAction(Utf8(caption), tlbCommand);
        button->setMenu(new QMenu(this));
        button->setVisible(false);
        tlbCommand->addAction(button);
    }
    tlbCommand->addAction(actTreeUpLevel);
    tlbCommand->addSeparator();
    tlbCommand->addAction(actFileCut2);
    tlbCommand->addAction(actFileCopy2);
    tlbCommand->addAction(actFilePaste2);
    tlbCommand->addSeparator();
    tlbCommand->addAction(actFileUndo2);
    tlbCommand->addSeparator()->setVisible(false);
    tlbCommand->addAction(actFileDelete2);
    tlbCommand->addAction(actFileShowProperty);
    tlbCommand->addSeparator();
    tlbCommand->addAction(actCacheFind2);
    // The separator before find goes with it while find is not shown.
    tlbCommand->addSeparator()->setVisible(actCacheFind2->isVisible());
    tlbCommand->addAction(actListRoolIcon);
    mnuViewStyle = new QMenu(this);
    for (QAction* style : ViewStyles_->actions())
        mnuViewStyle->addAction(style);
    actListRoolIcon->setMenu(mnuViewStyle);
    if (auto* button = qobject_cast<QToolButton*>(tlbCommand->widgetForAction(actListRoolIcon)))
        button->setPopupMode(QToolButton::MenuButtonPopup);
}

void TfrmMain::CreateLayout() {
    lvwFavorites = new QTreeWidget;
    lvwFavorites->setObjectName(QStringLiteral("lvwFavorites"));
    lvwFavorites->setRootIsDecorated(false);
    lvwFavorites->setUniformRowHeights(true);
    lvwFavorites->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwFavorites->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwFavorites->setHeaderLabels({Utf8("タイトル"), QStringLiteral("URL"), Utf8("最終更新日")});
    lvwFavorites->setColumnWidth(0, 150);
    lvwFavorites->setColumnWidth(1, 200);
    lvwFavorites->setColumnWidth(2, 100);
    FitDateColumn(lvwFavorites->header(), 2);
    connect(lvwFavorites, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { lvwFavoritesDblClick(item); });

    auto caption = [](QLabel* label) {
        label->setFrameShape(QFrame::StyledPanel);
        label->setFrameShadow(QFrame::Sunken);
        label->setMargin(2);
        label->setTextFormat(Qt::PlainText);
    };

    auto* treePanel = new QWidget;
    auto* treeLayout = new QVBoxLayout(treePanel);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    treeLayout->setSpacing(0);
    txtTree = new QLabel(Utf8(" Web Cache フォルダ"));
    txtTree->setObjectName(QStringLiteral("txtTree"));
    caption(txtTree);
    tvwCache = new TCacheTreeView;
    tvwCache->setObjectName(QStringLiteral("tvwCache"));
    tvwCache->setHeaderHidden(true);
    tvwCache->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeLayout->addWidget(txtTree);
    treeLayout->addWidget(tvwCache, 1);

    auto* listPanel = new QWidget;
    auto* listLayout = new QVBoxLayout(listPanel);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(0);
    txtFolder = new QLabel(Utf8(" 開いているフォルダ:"));
    txtFolder->setObjectName(QStringLiteral("txtFolder"));
    caption(txtFolder);
    lvwCache = new TCacheListView;
    lvwCache->setObjectName(QStringLiteral("lvwCache"));
    FitDateColumn(lvwCache->DetailsView()->header(), lcDate);
    listLayout->addWidget(txtFolder);
    listLayout->addWidget(lvwCache, 1);

    splCache = new QSplitter(Qt::Horizontal);
    splCache->setObjectName(QStringLiteral("splCache"));
    splCache->addWidget(treePanel);
    splCache->addWidget(listPanel);
    splCache->setStretchFactor(1, 1);
    splCache->setChildrenCollapsible(false);

    splFavorites = new QSplitter(Qt::Vertical);
    splFavorites->setObjectName(QStringLiteral("splFavorites"));
    splFavorites->addWidget(lvwFavorites);
    splFavorites->addWidget(splCache);
    splFavorites->setStretchFactor(1, 1);
    splFavorites->setChildrenCollapsible(false);
    setCentralWidget(splFavorites);
}

void TfrmMain::CreateStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    stsPanel0 = new QLabel;
    stsPanel0->setObjectName(QStringLiteral("stsPanel0"));
    stsPanel0->setMinimumWidth(240);
    stsPanel0->setTextFormat(Qt::PlainText);
    stsPanel1 = new QLabel;
    stsPanel1->setObjectName(QStringLiteral("stsPanel1"));
    stsPanel1->setMinimumWidth(50);
    stsPanel1->setTextFormat(Qt::PlainText);
    prgProgress = new QProgressBar;
    prgProgress->setObjectName(QStringLiteral("prgProgress"));
    prgProgress->setMaximumHeight(bar->sizeHint().height());
    prgProgress->setTextVisible(false);
    prgProgress->hide();
    stsProblem = new QLabel;
    stsProblem->setObjectName(QStringLiteral("stsProblem"));
    stsProblem->setTextFormat(Qt::PlainText);
    stsProblem->hide();
    bar->addWidget(stsPanel0);
    bar->addWidget(stsPanel1, 1);
    // While a long run goes, the progress bar takes the place of panel 1.
    bar->addWidget(prgProgress, 1);
    bar->addPermanentWidget(stsProblem);
}

// Start-up -----------------------------------------------------------------

void TfrmMain::Start() {
    Settings_ = ReadScreenSettings(DataFolder_ / "screen.dat");
    LoadWindowPosition();
    show();
    // The favorite commands start in the state of an empty selection.
    lvwFavoritesSelectItem();
    LoadSettings();
    QCoreApplication::processEvents();
    Started_ = true;
    if (mnuRefreshAtStart->isChecked()) {
        RefreshCache();
        tvwCache->Rebuild();
    }
}

void TfrmMain::LoadWindowPosition() {
    if (Settings_.HasBounds())
        setGeometry(Settings_.Left, Settings_.Top, Settings_.Width, Settings_.Height);
}

void TfrmMain::LoadSettings() {
    const TScreenSettings& s = Settings_;
    mnuToolBar->setChecked(s.ToolBar);
    tlbCommand->setVisible(s.ToolBar);
    mnuStatusBar->setChecked(s.StatusBar);
    statusBar()->setVisible(s.StatusBar);

    const QSize client = centralWidget()->size();
    const int favoriteHeight = s.FavoriteSplit.value_or(client.height() / 3);
    splFavorites->setSizes({favoriteHeight, std::max(0, client.height() - favoriteHeight)});
    const int treeWidth = s.CacheSplit.value_or(client.width() / 3);
    splCache->setSizes({treeWidth, std::max(0, client.width() - treeWidth)});

    for (int i = 0; i < 3; ++i) {
        if (const auto width = s.FavoriteColumns[static_cast<std::size_t>(i)])
            lvwFavorites->setColumnWidth(i, *width);
    }
    Favorites_.SetSort(static_cast<std::uint8_t>(s.FavoriteSortOrder),
                       static_cast<std::uint8_t>(s.FavoriteSortType));

    for (int i = 0; i < 6; ++i) {
        if (const auto width = s.CacheColumns[static_cast<std::size_t>(i)])
            lvwCache->SetColumnWidth(i, *width);
    }
    lvwCache->SetSort(s.CacheSortOrder, s.CacheSortType);

    actListArrangeIconAuto->setChecked(s.AutoArrange);
    lvwCache->SetAutoArrange(s.AutoArrange);
    if (s.ViewStyle >= 0 && s.ViewStyle <= 3)
        SetViewStyle(s.ViewStyle);
    mnuRefreshAtStart->setChecked(s.Refresh);
    mnuEnableScheme->setChecked(s.EnableScheme);
    Tree_.SetEnableScheme(s.EnableScheme);
    SchemeLevel_ = s.EnableScheme ? 1 : 0;
}

void TfrmMain::SaveSettings() {
    TScreenSettings s;
    const QRect bounds = geometry();
    s.Top = bounds.top();
    s.Left = bounds.left();
    s.Width = bounds.width();
    s.Height = bounds.height();
    s.ToolBar = mnuToolBar->isChecked();
    s.StatusBar = mnuStatusBar->isChecked();
    s.FavoriteSplit = splFavorites->sizes().value(0);
    s.CacheSplit = splCache->sizes().value(0);
    for (int i = 0; i < 3; ++i)
        s.FavoriteColumns[static_cast<std::size_t>(i)] = lvwFavorites->columnWidth(i);
    s.FavoriteSortType = Favorites_.SortType();
    s.FavoriteSortOrder = Favorites_.SortOrder();
    for (int i = 0; i < 6; ++i)
        s.CacheColumns[static_cast<std::size_t>(i)] = lvwCache->ColumnWidth(i);
    s.CacheSortType = lvwCache->SortType();
    s.CacheSortOrder = lvwCache->SortOrder();
    s.AutoArrange = actListArrangeIconAuto->isChecked();
    s.ViewStyle = actListLargeIcon->isChecked()   ? 0
                  : actListSmallIcon->isChecked() ? 1
                  : actListListIcon->isChecked()  ? 2
                                                  : 3;
    s.Refresh = mnuRefreshAtStart->isChecked();
    s.EnableScheme = mnuEnableScheme->isChecked();
    if (TError error = WriteScreenSettings(DataFolder_ / "screen.dat", s))
        Prompts().ShowMessage(windowTitle(),
                              Utf8("ウィンドウの設定を保存できませんでした。\n") +
                                  QString::fromStdString(error.Text()),
                              QMessageBox::Warning, QMessageBox::Ok);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    // The refresh handles events as it goes; the window stays until it ends.
    if (Busy_) {
        event->ignore();
        return;
    }
    if (Started_)
        SaveSettings();
    event->accept();
}

// The refresh ----------------------------------------------------------------

void TfrmMain::SetStatus(int panel, const QString& text) {
    QLabel* label = panel == 0 ? stsPanel0 : stsPanel1;
    label->setText(text);
    label->repaint();
}

void TfrmMain::RefreshCache() {
    tmrNodeChange->stop();
    Busy_ = true;
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QCoreApplication::processEvents();
    SetStatus(0, Utf8("初期化中..."));
    prgProgress->setRange(0, 0);
    stsPanel1->hide();
    prgProgress->show();
    TRefreshStage shown = TRefreshStage::Reading;
    const TError error = Tree_.Refresh([&](TRefreshStage stage, int done, int total) {
        if (stage != shown) {
            shown = stage;
            switch (stage) {
            case TRefreshStage::Reading:
                break;
            case TRefreshStage::Building:
                SetStatus(0, Utf8("キャッシュ情報の更新中..."));
                prgProgress->setRange(0, std::max(total, 1));
                break;
            case TRefreshStage::Sorting:
                SetStatus(0, Utf8("キャッシュ情報のソート中..."));
                break;
            case TRefreshStage::Naming:
                SetStatus(0, Utf8("重複ファイル名の変更中..."));
                break;
            }
        }
        if (stage == TRefreshStage::Building)
            prgProgress->setValue(done);
        if ((stage == TRefreshStage::Reading || stage == TRefreshStage::Building) &&
            done % kEventsEvery == 0)
            QCoreApplication::processEvents();
    });
    prgProgress->hide();
    stsPanel1->show();
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    Busy_ = false;
    QString problem = error ? QString::fromStdString(error.Text()) : BaseProblem_;
    // What the cache could not read is said even when the rest was read.
    if (const TCacheSource* source = Tree_.Cache().Source()) {
        const TReadReport report = source->ReadReport();
        if (report.Damaged && !report.Summary.empty()) {
            const QString summary = EscapeControls(QString::fromStdString(report.Summary));
            if (problem.isEmpty())
                problem = summary;
            else if (!problem.contains(summary))
                problem += QStringLiteral(" / ") + summary;
        }
    }
    ShowProblem(EscapeControls(problem));
}

void TfrmMain::SetCacheDescription(const QString& text) {
    txtTree->setToolTip(text);
}

void TfrmMain::SetCurrentCache(const TFoundCache& cache) {
    CurrentCache_ = cache;
    if (cache.Folder.empty())
        return;
    SetCacheDescription(EscapeControls(PathToQString(cache.Folder)) + QStringLiteral(" (") +
                        CacheKindCaption(cache.Kind) + QStringLiteral(", ") +
                        EscapeControls(QString::fromStdString(cache.Description)) +
                        QStringLiteral(")"));
}

bool TfrmMain::OpenCache(const TFoundCache& cache) {
    if (Busy_)
        return false;
    TError error;
    std::unique_ptr<TCacheSource> source = OpenCacheSourceAt(cache.Folder, cache.Kind, &error);
    if (!source) {
        Prompts().ShowMessage(
            windowTitle(),
            Utf8("キャッシュを開けません。\n") + EscapeControls(PathToQString(cache.Folder)) +
                QStringLiteral("\n") + EscapeControls(QString::fromStdString(error.Text())),
            QMessageBox::Warning, QMessageBox::Ok);
        return false;
    }
    // The names given by hand and the default extensions belong to the data
    // folder, not to the cache: they are kept as they are, saved first.
    if (TError saved = Tree_.SaveDataFiles())
        Prompts().ShowMessage(windowTitle(),
                              Utf8("データファイルを保存できませんでした。\n") +
                                  EscapeControls(QString::fromStdString(saved.Text())),
                              QMessageBox::Warning, QMessageBox::Ok);
    // Without a cache before, the problem shown was that; it is gone now.
    if (CurrentCache_.Folder.empty())
        BaseProblem_.clear();
    Tree_.Cache().SetSource(std::move(source));
    SetCurrentCache(cache);
    RefreshCache();
    tvwCache->Rebuild();
    return true;
}

void TfrmMain::ChooseCache() {
    if (Busy_)
        return;
    const std::vector<TFoundCache> caches = FindCaches ? FindCaches() : std::vector<TFoundCache>{};
    TFoundCache chosen;
    if (!Prompts().ChooseCache(caches, CurrentCache_.Folder, chosen))
        return;
    OpenCache(chosen);
}

void TfrmMain::SetCacheProblem(const QString& text) {
    BaseProblem_ = text;
    ShowProblem(text);
}

void TfrmMain::ShowProblem(const QString& text) {
    stsProblem->setText(text.isEmpty() ? QString() : Utf8("⚠ ") + text);
    stsProblem->setToolTip(text);
    stsProblem->setVisible(!text.isEmpty());
}

QString TfrmMain::StatusText(int panel) const {
    return panel == 0 ? stsPanel0->text() : stsPanel1->text();
}

QString TfrmMain::CacheProblemText() const {
    return stsProblem->toolTip();
}

bool TfrmMain::ProgressVisible() const {
    return prgProgress->isVisible();
}

// Tree and list ----------------------------------------------------------------

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tvwCache) {
        // While a key is held the selection may run over many folders; the
        // list follows only when the user pauses (tmrNodeChange).
        if (event->type() == QEvent::KeyPress) {
            KeyHeld_ = true;
        } else if ((event->type() == QEvent::KeyRelease &&
                    !static_cast<QKeyEvent*>(event)->isAutoRepeat()) ||
                   event->type() == QEvent::FocusOut) {
            // A key let go elsewhere is released for the tree as well.
            KeyHeld_ = false;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::tvwCacheChange() {
    // A deletion removes items, and so moves the selection, while it runs;
    // the list follows once it is over, not from a tree half deleted.
    if (Busy_) {
        FolderPending_ = true;
        return;
    }
    if (KeyHeld_) {
        tmrNodeChange->stop();
        tmrNodeChange->start();
        return;
    }
    ShowSelectedFolder();
}

void TfrmMain::tmrNodeChangeTimer() {
    tmrNodeChange->stop();
    ShowSelectedFolder();
}

void TfrmMain::ShowSelectedFolder() {
    FolderPending_ = false;
    QTreeWidgetItem* item = tvwCache->currentItem();
    if (item == nullptr)
        return;
    txtFolder->setText(Utf8(" 開いているフォルダ: ") + item->text(0));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    lvwCache->SetFolder(tvwCache->SelectedPath());
    QApplication::restoreOverrideCursor();
    UpdateStatusText();
}

void TfrmMain::UpdateStatusText() {
    // Every row a deletion takes from the list changes its selection; the
    // texts are counted once when the command is over, not once per row.
    if (Busy_)
        return;
    // The counts and sizes come from the list itself, so they can never
    // drift from the rows and the selection it shows.
    const auto [count, size] = StatusTexts(lvwCache->Statistics());
    SetStatus(0, count);
    SetStatus(1, size);
}

void TfrmMain::OnNodeDeleted(std::string_view url) {
    const std::string text(url);
    lvwCache->RemoveRowByUrl(text);
    if (!text.empty() && text.back() == '/')
        tvwCache->RemovePath(text);
}

// Favorites ----------------------------------------------------------------------

void TfrmMain::lvwFavoritesDblClick(QTreeWidgetItem* item) {
    if (item != nullptr)
        OpenFavorite(TFavoritesListView::ItemOf(item));
}

void TfrmMain::OpenFavorite(const TFavoriteItem* favorite) {
    if (favorite == CurrentFavorite_)
        return;
    CurrentFavorite_ = favorite;
    Tree_.DefaultFileName =
        favorite != nullptr ? favorite->Default : Favorites_.DefaultItem().Default;
    // A favorite written by hand may name no default file: the pages of
    // folder URLs would then have no name to show or to be copied under.
    if (Tree_.DefaultFileName.empty())
        Tree_.DefaultFileName = TFavorites::MakeDefaultItem().Default;
    SetStatus(0, Utf8("重複ファイル名の変更中..."));
    if (favorite != nullptr) {
        if (TWebCacheTreeNode* folder = Tree_.FindFolderByUrl(favorite->UrlName))
            Tree_.RenameDuplicates(folder);
        tvwCache->SetRoot(favorite->Title, favorite->UrlName);
    } else {
        Tree_.RenameDuplicates(Tree_.Root());
        tvwCache->SetRoot("Web Cache", "");
    }
    UpdateStatusText();
}

// Commands -----------------------------------------------------------------------

void TfrmMain::SetViewStyle(int style) {
    lvwCache->SetViewStyle(style);
    QAction* checked[] = {actListLargeIcon, actListSmallIcon, actListListIcon, actListDetailIcon};
    checked[style]->setChecked(true);
    const bool icons = style == 0 || style == 1;
    actListArrangeIconAuto->setEnabled(icons);
    actListLineUp->setEnabled(icons);
}

void TfrmMain::actCacheRefreshExecute() {
    RefreshCache();
    tvwCache->Rebuild();
}

void TfrmMain::actListLineUpExecute() {
    lvwCache->LineUp();
}

void TfrmMain::actListRoolIconExecute() {
    // large -> small -> list -> details -> large
    const int next = actListLargeIcon->isChecked()   ? 1
                     : actListSmallIcon->isChecked() ? 2
                     : actListListIcon->isChecked()  ? 3
                                                     : 0;
    SetViewStyle(next);
}

void TfrmMain::SortBy(int key) {
    lvwCache->SetSort(0, key);
}

void TfrmMain::actListArrangeIconAutoExecute() {
    lvwCache->SetAutoArrange(actListArrangeIconAuto->isChecked());
}

void TfrmMain::actListSelectAllExecute() {
    lvwCache->SelectAll();
    lvwCache->CurrentView()->setFocus();
}

void TfrmMain::actListItemChangeExecute() {
    lvwCache->InvertSelection();
    lvwCache->CurrentView()->setFocus();
}

void TfrmMain::actTreeUpLevelExecute() {
    QTreeWidgetItem* item = tvwCache->currentItem();
    if (item != nullptr && item->parent() != nullptr)
        tvwCache->setCurrentItem(item->parent());
}

void TfrmMain::lvwCacheDblClick() {
    const std::vector<TWebCacheTreeNode*> selected = lvwCache->SelectedNodes();
    if (selected.empty())
        return;
    const TWebCacheTreeNode* node = selected.front();
    if (node->IsFolder) {
        QTreeWidgetItem* current = tvwCache->currentItem();
        if (current == nullptr)
            return;
        const QString name = DisplayText(node->DisplayName());
        for (int i = 0; i < current->childCount(); ++i) {
            if (current->child(i)->text(0).compare(name, Qt::CaseInsensitive) == 0) {
                tvwCache->setCurrentItem(current->child(i));
                return;
            }
        }
        return;
    }
    // Only a regular file is handed to the desktop: a cache from another
    // machine may name anything.
    std::filesystem::path file(node->Info.LocalFileName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(file, ec))) {
        Prompts().ShowMessage(windowTitle(),
                              Utf8("キャッシュファイルを開けません。\n") +
                                  EscapeControls(PathToQString(file)) +
                                  Utf8("\nファイルがありません。"),
                              QMessageBox::Warning, QMessageBox::Ok);
        return;
    }
    if (!IsPlainCacheBody(node->Info)) {
        // A browser keeps the body inside its entry file, perhaps encoded:
        // the body goes to a file of its own under the name a copy gives it.
        TError error = WriteOpenedBody(*node, file);
        if (error) {
            Prompts().ShowMessage(windowTitle(),
                                  Utf8("キャッシュファイルを開けません。\n") +
                                      EscapeControls(QString::fromStdString(error.Text())),
                                  QMessageBox::Warning, QMessageBox::Ok);
            return;
        }
    }
    if (!Prompts().OpenFile(file))
        Prompts().ShowMessage(windowTitle(),
                              Utf8("このファイルを開くアプリケーションが見つかりません。\n") +
                                  EscapeControls(PathToQString(file)),
                              QMessageBox::Warning, QMessageBox::Ok);
}

TError TfrmMain::WriteOpenedBody(const TWebCacheTreeNode& node, std::filesystem::path& file) {
    if (OpenedFolder_.empty()) {
        TError error;
        OpenedFolder_ = CreateTempFolder(&error);
        if (OpenedFolder_.empty())
            return error;
    }
    // One folder per file opened, so that each keeps its own name.
    const std::filesystem::path folder = OpenedFolder_ / std::to_string(++OpenedCount_);
    int code = 0;
    if (!ForceDirectories(folder, &code))
        return TError::FromErrno(code, folder.string());
    file = folder / DiskName(node.DisplayName());
    return WriteCacheBodyFile(node.Info, file);
}

void TfrmMain::mnuEnableSchemeClick() {
    Tree_.SetEnableScheme(mnuEnableScheme->isChecked());
    SchemeLevel_ = mnuEnableScheme->isChecked() ? 1 : 0;
    actCacheRefresh->trigger();
}

std::filesystem::path HelpIndexFile() {
    const std::filesystem::path installed = std::filesystem::path(TARNHOLD_HELP_DIR) / "index.html";
    std::error_code ec;
    if (std::filesystem::is_regular_file(installed, ec))
        return installed;
    return std::filesystem::path(TARNHOLD_SOURCE_HELP_DIR) / "index.html";
}

void TfrmMain::mnuHelpContentsClick() {
    const std::filesystem::path index = HelpIndexFile();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(index, ec) ||
        !QDesktopServices::openUrl(ToFileUrl(index)))
        Prompts().ShowMessage(windowTitle(),
                              Utf8("ヘルプを開けませんでした。\n") + PathToQString(index),
                              QMessageBox::Information, QMessageBox::Ok);
}

void TfrmMain::mnuAboutClick() {
    TfrmAbout about(QStringLiteral(TARNHOLD_VERSION), this);
    about.exec();
}

} // namespace tarnhold::gui
