#include "mainwindow/mainwindow.h"

#include "app/columnfit.h"
#include "app/japanese.h"
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "favorites/favorites.h"
#include "favorites/favoritespanel.h"
#include "mainwindow/cachechooser.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "mainwindow/mainstatusbar.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace tarnhold::gui {

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

QString MainWindowCaption(TCacheKind kind) {
    const char* reads = "MSIE";
    switch (kind) {
    case TCacheKind::ckIndexDat:
        break;
    case TCacheKind::ckChromium:
        reads = "Chromium";
        break;
    case TCacheKind::ckFirefox:
        reads = "Firefox";
        break;
    }
    return QApplication::applicationDisplayName() + QStringLiteral(" for ") +
           QString::fromLatin1(reads);
}

TfrmMain::TfrmMain(TWebCacheTree& tree, TFavorites& favorites, std::filesystem::path dataFolder,
                   QWidget* parent)
    : QMainWindow(parent), Favorites_(favorites), DataFolder_(std::move(dataFolder)) {
    setObjectName(QStringLiteral("frmMain"));
    // Until the program says which cache it reads, the classic caption.
    setWindowTitle(MainWindowCaption(TCacheKind::ckIndexDat));
    // Wide as the classic layout; taller, since the tool bar and rows of a
    // CJK font at 9 pt leave only a few rows of the list at its 313 pixels.
    resize(963, 560);

    // The actions take their icons before the views are made: without a
    // desktop session the tree view's first icon picks an installed icon
    // theme, and the tool bar and menus keep Qt's own icons.
    Commands_ = new TMainCommands(tree, favorites, this);
    Commands_->SetDataFolder(DataFolder_);
    CreateLayout();
    CreateMenus();
    CreateToolBar();
    Commands_->Attach({tvwCache, lvwCache, lvwFavorites, txtFolder, stbMain});
    connect(Commands_->Action("mnuToolBar"), &QAction::toggled, this,
            [this](bool on) { tlbCommand->setVisible(on); });
    connect(Commands_->Action("mnuStatusBar"), &QAction::toggled, this,
            [this](bool on) { stbMain->setVisible(on); });
    connect(Commands_, &TMainCommands::cacheChanged, this, &TfrmMain::ShowCache);
}

TfrmMain::~TfrmMain() {
    // The commands go first: nothing the views do as they go reaches them.
    delete Commands_;
    Commands_ = nullptr;
}

void TfrmMain::CreateLayout() {
    lvwFavorites = new TFavoritesPanel;

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

    stbMain = new TMainStatusBar(this);
    setStatusBar(stbMain);
}

void TfrmMain::CreateMenus() {
    const TMainCommands& commands = *Commands_;
    auto* bar = menuBar();
    auto menu = [&](const char* caption, std::initializer_list<const char*> names) {
        QMenu* added = bar->addMenu(Utf8(caption));
        commands.AddActions(added, names);
        return added;
    };
    menu("ファイル(&F)",
         {"actFileDelete", "actFileShowProperty", "-", "mnuChooseCache", "-", "mnuExit"});
    menu("編集(&E)", {"actFileUndo", "actFileCut", "actFileCopy", "actFilePaste", "-",
                      "actListSelectAll", "actListItemChange"});

    QMenu* view = menu("表示(&V)", {"mnuToolBar", "mnuStatusBar", "-"});
    view->addActions(commands.ViewStyles()->actions());
    view->addSeparator();
    commands.AddActions(view->addMenu(Utf8("アイコンの整列(&I)")),
                        {"actListSortByName", "actListSortByUrlName", "actListSortByTitle",
                         "actListSortBySize", "actListSortByType", "actListSortByDate", "-",
                         "actListArrangeIconAuto"});
    commands.AddActions(view, {"actListLineUp", "-", "actCacheRefresh", "mnuRefreshAtStart"});

    menu("お気に入り(&A)", kFavoritesMenu);
    menu("ツール(&T)", {"actCacheFind", "actCacheSqueeze"});
    menu("オプション(&O)", {"mnuSchedule", "mnuDefExtName", "-", "mnuEnableScheme"});
    menu("ヘルプ(&H)", {"mnuHelpContents", "-", "mnuAbout"});
}

void TfrmMain::CreateToolBar() {
    const TMainCommands& commands = *Commands_;
    tlbCommand = addToolBar(Utf8("ツールバー"));
    tlbCommand->setObjectName(QStringLiteral("tlbCommand"));
    tlbCommand->setMovable(false);
    tlbCommand->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    tlbCommand->setIconSize(QSize(24, 24));
    tlbCommand->addAction(commands.Action("actCacheRefresh2"));
    tlbCommand->addSeparator();
    // Back and forward have no history to walk yet: present, not shown.
    for (const char* caption : {"戻る", "進む"}) {
        auto* button = new QAction(Utf8(caption), tlbCommand);
        button->setMenu(new QMenu(this));
        button->setVisible(false);
        tlbCommand->addAction(button);
    }
    tlbCommand->addAction(commands.Action("actTreeUpLevel"));
    tlbCommand->addSeparator();
    tlbCommand->addAction(commands.Action("actFileCut2"));
    tlbCommand->addAction(commands.Action("actFileCopy2"));
    tlbCommand->addAction(commands.Action("actFilePaste2"));
    tlbCommand->addSeparator();
    tlbCommand->addAction(commands.Action("actFileUndo2"));
    tlbCommand->addSeparator()->setVisible(false);
    tlbCommand->addAction(commands.Action("actFileDelete2"));
    tlbCommand->addAction(commands.Action("actFileShowProperty"));
    tlbCommand->addSeparator();
    QAction* find = commands.Action("actCacheFind2");
    tlbCommand->addAction(find);
    // The separator before find goes with it while find is not shown.
    tlbCommand->addSeparator()->setVisible(find->isVisible());
    QAction* styles = commands.Action("actListRoolIcon");
    tlbCommand->addAction(styles);
    auto* mnuViewStyle = new QMenu(this);
    mnuViewStyle->addActions(commands.ViewStyles()->actions());
    styles->setMenu(mnuViewStyle);
    if (auto* button = qobject_cast<QToolButton*>(tlbCommand->widgetForAction(styles)))
        button->setPopupMode(QToolButton::MenuButtonPopup);
}

void TfrmMain::ShowCache(const TFoundCache& cache) {
    setWindowTitle(MainWindowCaption(cache.Kind));
    if (cache.Folder.empty())
        return;
    txtTree->setToolTip(EscapeControls(PathToQString(cache.Folder)) + QStringLiteral(" (") +
                        CacheKindCaption(cache.Kind) + QStringLiteral(", ") +
                        EscapeControls(JapaneseWhere(cache.Description)) + QStringLiteral(")"));
}

// Start-up -----------------------------------------------------------------

void TfrmMain::Start() {
    Settings_ = ReadScreenSettings(DataFolder_ / "screen.dat");
    LoadWindowPosition();
    show();
    Commands_->WindowShown();
    LoadSettings();
    QCoreApplication::processEvents();
    Started_ = true;
    if (Commands_->RefreshAtStart()) {
        Commands_->RefreshCache();
        tvwCache->Rebuild();
    }
}

void TfrmMain::LoadWindowPosition() {
    if (Settings_.HasBounds())
        setGeometry(Settings_.Left, Settings_.Top, Settings_.Width, Settings_.Height);
}

void TfrmMain::LoadSettings() {
    const TScreenSettings& s = Settings_;
    Commands_->Action("mnuToolBar")->setChecked(s.ToolBar);
    tlbCommand->setVisible(s.ToolBar);
    Commands_->Action("mnuStatusBar")->setChecked(s.StatusBar);
    stbMain->setVisible(s.StatusBar);

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

    // Auto-arrange, the view style, the refresh at start and the scheme.
    Commands_->ApplySettings(s);
}

void TfrmMain::SaveSettings() {
    TScreenSettings s;
    const QRect bounds = geometry();
    s.Top = bounds.top();
    s.Left = bounds.left();
    s.Width = bounds.width();
    s.Height = bounds.height();
    s.ToolBar = Commands_->Action("mnuToolBar")->isChecked();
    s.StatusBar = Commands_->Action("mnuStatusBar")->isChecked();
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
    Commands_->StoreSettings(s);
    if (TError error = WriteScreenSettings(DataFolder_ / "screen.dat", s))
        Commands_->Prompts().ShowMessage(
            windowTitle(), Utf8("ウィンドウの設定を保存できませんでした。\n") + ErrorText(error),
            QMessageBox::Warning, QMessageBox::Ok);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    // The refresh handles events as it goes; the window stays until it ends.
    if (Commands_->Busy()) {
        event->ignore();
        return;
    }
    if (Started_)
        SaveSettings();
    event->accept();
}

} // namespace tarnhold::gui
