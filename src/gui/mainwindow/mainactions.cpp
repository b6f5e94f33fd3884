// The main window's action list and context menus, how the views are wired
// to the commands, and the rules that enable the commands as the focus and
// the selections change.
#include "favorites/favoritespanel.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "tree/cachelisting.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QListView>
#include <QMenu>
#include <QRegularExpression>
#include <QStyle>
#include <QTimer>
#include <QTreeView>

namespace tarnhold::gui {

namespace {

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name),
                            QApplication::style()->standardIcon(fallback));
}

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

QAction* TMainCommands::Action(std::string_view name) const {
    return findChild<QAction*>(
        QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())),
        Qt::FindDirectChildrenOnly);
}

void TMainCommands::AddActions(QMenu* menu, std::initializer_list<const char*> names) const {
    for (const char* name : names) {
        if (std::string_view(name) == "-")
            menu->addSeparator();
        else if (QAction* action = Action(name))
            menu->addAction(action);
    }
}

QAction* TMainCommands::MakeAction(const char* name, const char* caption, QKeySequence shortcut) {
    auto* action = new QAction(Utf8(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(shortcut);
    QString hint = action->text();
    hint.remove(QStringLiteral("..."));
    hint.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    action->setToolTip(hint);
    return action;
}

QAction* TMainCommands::MakeTwin(QAction* action, const char* name) {
    auto* twin = new QAction(action->icon(), action->toolTip(), this);
    twin->setObjectName(QString::fromLatin1(name));
    twin->setToolTip(action->toolTip());
    connect(twin, &QAction::triggered, action, &QAction::trigger);
    auto follow = [action, twin] {
        twin->setEnabled(action->isEnabled());
        twin->setVisible(action->isVisible());
    };
    follow();
    connect(action, &QAction::changed, twin, follow);
    return twin;
}

void TMainCommands::CreateActions() {
    auto make = [this](const char* name, const char* caption, QKeySequence shortcut = {}) {
        return MakeAction(name, caption, shortcut);
    };
    actCacheRefresh = make("actCacheRefresh", "最新の情報に更新(&R)", QKeySequence(Qt::Key_F5));
    actCacheRefresh->setIcon(ThemeIcon("view-refresh", QStyle::SP_BrowserReload));
    connect(actCacheRefresh, &QAction::triggered, this, &TMainCommands::actCacheRefreshExecute);
    actCacheRefresh2 = MakeTwin(actCacheRefresh, "actCacheRefresh2");

    actTreeUpLevel = make("actTreeUpLevel", "上へ");
    actTreeUpLevel->setIcon(ThemeIcon("go-up", QStyle::SP_FileDialogToParent));
    connect(actTreeUpLevel, &QAction::triggered, this, &TMainCommands::actTreeUpLevelExecute);

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
    connect(actListRoolIcon, &QAction::triggered, this, &TMainCommands::actListRoolIconExecute);

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
            &TMainCommands::actListArrangeIconAutoExecute);
    actListLineUp = make("actListLineUp", "等間隔に整列(&U)");
    actListLineUp->setEnabled(false);
    connect(actListLineUp, &QAction::triggered, this, &TMainCommands::actListLineUpExecute);
    actListSelectAll =
        make("actListSelectAll", "すべて選択(&A)", QKeySequence(Qt::CTRL | Qt::Key_A));
    connect(actListSelectAll, &QAction::triggered, this, &TMainCommands::actListSelectAllExecute);
    actListItemChange = make("actListItemChange", "選択の切り替え(&I)");
    connect(actListItemChange, &QAction::triggered, this, &TMainCommands::actListItemChangeExecute);

    // The options, checked until the settings say otherwise.
    auto option = [&make](const char* name, const char* caption) {
        QAction* action = make(name, caption);
        action->setCheckable(true);
        action->setChecked(true);
        return action;
    };
    // What they show or hide is the window's layout; it follows their checks.
    mnuToolBar = option("mnuToolBar", "ツールバー(&T)");
    mnuStatusBar = option("mnuStatusBar", "ステータスバー(&S)");
    mnuRefreshAtStart = option("mnuRefreshAtStart", "起動時に更新(&W)");
    mnuEnableScheme = option("mnuEnableScheme", "スキームの区別(&C)");
    connect(mnuEnableScheme, &QAction::triggered, this, &TMainCommands::mnuEnableSchemeClick);
    mnuChooseCache = make("mnuChooseCache", "キャッシュの選択(&O)...");
    mnuChooseCache->setIcon(ThemeIcon("folder-open", QStyle::SP_DirOpenIcon));
    connect(mnuChooseCache, &QAction::triggered, this, &TMainCommands::ChooseCache);
    mnuExit = make("mnuExit", "終了(&X)");
    connect(mnuExit, &QAction::triggered, Window_, &QWidget::close);
    mnuHelpContents = make("mnuHelpContents", "目次とキーワード(&C)...");
    mnuHelpContents->setIcon(ThemeIcon("help-contents", QStyle::SP_DialogHelpButton));
    connect(mnuHelpContents, &QAction::triggered, this, &TMainCommands::mnuHelpContentsClick);
    mnuAbout = make("mnuAbout", "バージョン情報(&A)...");
    connect(mnuAbout, &QAction::triggered, this, &TMainCommands::mnuAboutClick);

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
    for (QAction* action : findChildren<QAction*>(Qt::FindDirectChildrenOnly)) {
        for (const auto& c : categories) {
            if (action->objectName().startsWith(QLatin1String(c.prefix)))
                action->setProperty("category", Utf8(c.category));
        }
        Window_->addAction(action);
    }
    // Its key is the general delete's (which hands it on); the window must
    // not take it twice.
    Window_->removeAction(actFavoritesDelete);
}

void TMainCommands::CreateCommandActions() {
    // Find and narrow wait for the find window: present, not shown.
    actCacheFind = MakeAction("actCacheFind", "検索(&F)...", QKeySequence(Qt::CTRL | Qt::Key_F));
    actCacheFind->setIcon(ThemeIcon("edit-find", QStyle::SP_FileDialogContentsView));
    actCacheFind->setVisible(false);
    actCacheFind2 = MakeTwin(actCacheFind, "actCacheFind2");
    actCacheSqueeze = MakeAction("actCacheSqueeze", "絞り込み(&S)...");
    actCacheSqueeze->setVisible(false);

    actFileShowProperty = MakeAction("actFileShowProperty", "プロパティ(&R)");
    actFileShowProperty->setIconText(actFileShowProperty->toolTip());
    actFileShowProperty->setIcon(ThemeIcon("document-properties", QStyle::SP_FileDialogInfoView));
    connect(actFileShowProperty, &QAction::triggered, this,
            &TMainCommands::actFileShowPropertyExecute);

    actFileDelete = MakeAction("actFileDelete", "削除(&D)", QKeySequence(Qt::Key_Delete));
    actFileDelete->setIcon(ThemeIcon("edit-delete", QStyle::SP_TrashIcon));
    connect(actFileDelete, &QAction::triggered, this, &TMainCommands::actFileDeleteExecute);
    actFileDelete2 = MakeTwin(actFileDelete, "actFileDelete2");

    actFileCopy = MakeAction("actFileCopy", "コピー(&C)", QKeySequence(Qt::CTRL | Qt::Key_C));
    actFileCopy->setIcon(ThemeIcon("edit-copy", QStyle::SP_FileIcon));
    connect(actFileCopy, &QAction::triggered, this, &TMainCommands::actFileCopyExecute);
    actFileCopy2 = MakeTwin(actFileCopy, "actFileCopy2");

    // A cache cannot be cut from, pasted into or undone: present, not shown.
    actFileCut = MakeAction("actFileCut", "切り取り(&T)", QKeySequence(Qt::CTRL | Qt::Key_X));
    actFileCut->setVisible(false);
    actFileCut2 = MakeTwin(actFileCut, "actFileCut2");
    actFilePaste = MakeAction("actFilePaste", "貼り付け(&P)", QKeySequence(Qt::CTRL | Qt::Key_V));
    actFilePaste->setVisible(false);
    actFilePaste2 = MakeTwin(actFilePaste, "actFilePaste2");
    actFileUndo = MakeAction("actFileUndo", "元に戻す(&U)", QKeySequence(Qt::CTRL | Qt::Key_Z));
    actFileUndo->setVisible(false);
    actFileUndo2 = MakeTwin(actFileUndo, "actFileUndo2");

    actFileCopyToDefaultFolder =
        MakeAction("actFileCopyToDefaultFolder", "デフォルトフォルダへコピー(&O)");
    connect(actFileCopyToDefaultFolder, &QAction::triggered, this,
            &TMainCommands::actFileCopyToDefaultFolderExecute);
    actFileSaveArchive = MakeAction("actFileSaveArchive", "WARC/WACZ として保存(&W)...");
    connect(actFileSaveArchive, &QAction::triggered, this,
            &TMainCommands::actFileSaveArchiveExecute);
    actFileCopyToFolder = MakeAction("actFileCopyToFolder", "フォルダを指定してコピー(&S)...");
    connect(actFileCopyToFolder, &QAction::triggered, this,
            &TMainCommands::actFileCopyToFolderExecute);

    const struct {
        QAction** action;
        const char* name;
        const char* caption;
    } favorites[] = {
        {&actFavoritesNew, "actFavoritesNew", "新規(&N)..."},
        {&actFavoritesUpdate, "actFavoritesUpdate", "修正(&U)..."},
        {&actFavoritesDelete, "actFavoritesDelete", "削除(&D)"},
        {&actFavoritesSetupDefault, "actFavoritesSetupDefault", "デフォルト設定(&S)..."},
        {&actFavoritesImport, "actFavoritesImport", "インポート(&I)..."},
        {&actFavoritesFromCache, "actFavoritesFromCache", "お気に入りへ登録(&A)..."},
        {&actFavoritesCopyFile, "actFavoritesCopyFile", "ローカルへコピー(&C)"},
        {&actFavoritesMoveFile, "actFavoritesMoveFile", "ローカルへ移動(&M)"},
        {&actFavoritesSaveArchive, "actFavoritesSaveArchive", "WARC/WACZ として保存(&W)..."},
        {&actFavoritesDisplayLocal, "actFavoritesDisplayLocal", "ローカルページの表示(&V)"},
        {&actFavoritesDisplayInternet, "actFavoritesDisplayInternet",
         "インターネットページの表示(&N)"},
    };
    for (const auto& f : favorites)
        *f.action = MakeAction(f.name, f.caption);
    ConnectFavoriteActions();

    mnuSchedule = MakeAction("mnuSchedule", "スケジュール設定(&S)...");
    mnuSchedule->setVisible(false);
    mnuSchedule->setEnabled(false);
    mnuDefExtName = MakeAction("mnuDefExtName", "デフォルト拡張子設定(&E)...");
    connect(mnuDefExtName, &QAction::triggered, this, &TMainCommands::mnuDefExtNameClick);
}

void TMainCommands::CreatePopupMenus() {
    auto popup = [this](const char* name) {
        auto* menu = new QMenu(Window_);
        menu->setObjectName(QString::fromLatin1(name));
        return menu;
    };
    mnuPopupTree = popup("mnuPopupTree");
    mnuPopupList1 = popup("mnuPopupList1");
    for (QMenu* menu : {mnuPopupTree, mnuPopupList1})
        AddActions(menu,
                   {"actCacheFind", "actCacheSqueeze", "-", "actFavoritesFromCache", "-",
                    "actFileCopyToDefaultFolder", "actFileCopyToFolder", "actFileSaveArchive", "-",
                    "actFileCut", "actFileCopy", "-", "actFileDelete", "-", "actFileShowProperty"});

    mnuPopupList2 = popup("mnuPopupList2");
    AddActions(mnuPopupList2, {"actCacheFind", "actCacheSqueeze", "-", "actFavoritesFromCache"});
    mnuPopupList2->addSeparator();
    AddActions(mnuPopupList2->addMenu(Utf8("表示(&V)")),
               {"actListLargeIcon", "actListSmallIcon", "actListListIcon", "actListDetailIcon"});
    mnuPopupList2->addSeparator();
    AddActions(mnuPopupList2->addMenu(Utf8("アイコンの整列(&I)")),
               {"actListSortByName", "actListSortByUrlName", "actListSortByTitle",
                "actListSortBySize", "actListSortByType", "actListSortByDate", "-",
                "actListArrangeIconAuto"});
    AddActions(mnuPopupList2, {"actListLineUp", "-", "actCacheRefresh", "-", "actFilePaste", "-",
                               "actFileShowProperty"});

    mnuPopupFavorites = popup("mnuPopupFavorites");
    AddActions(mnuPopupFavorites, kFavoritesMenu);
    ListPopup_ = mnuPopupList2;
}

void TMainCommands::Attach(const TMainViews& views) {
    Views_ = views;
    TCacheTreeView* tree = Views_.Tree;
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree, &QWidget::customContextMenuRequested, this, [this, tree](const QPoint& pos) {
        QTreeWidgetItem* item = tree->itemAt(pos);
        PrepareTreeMenu(item != nullptr ? item : tree->currentItem())
            ->popup(tree->viewport()->mapToGlobal(pos));
    });
    TCacheListView* list = Views_.List;
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(list->DetailsView()),
                                    static_cast<QAbstractItemView*>(list->IconView())}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
            PrepareListMenu()->popup(view->viewport()->mapToGlobal(pos));
        });
    }

    FocusConnection_ = connect(qApp, &QApplication::focusChanged, this,
                               [this](QWidget*, QWidget* now) { FocusChanged(now); });
    connect(list, &TCacheListView::selectionChanged, this, &TMainCommands::lvwCacheSelectItem);
    // A refill for another folder drops the selection without a selection
    // signal; the menu and the rules must not keep acting on rows gone.
    connect(list, &TCacheListView::contentsChanged, this, &TMainCommands::lvwCacheSelectItem);
    connect(Views_.Favorites, &QTreeWidget::itemSelectionChanged, this,
            &TMainCommands::lvwFavoritesSelectItem);
    // The context node stays only while its item stays selected.
    connect(tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (ContextPath_ && (current == nullptr || Views_.Tree->PathOf(current) != *ContextPath_))
            ContextPath_.reset();
    });

    NodeDeleted_ = Tree_.OnNodeDeleted.Subscribe(
        [this](TWebCacheTree&, std::string_view url) { OnNodeDeleted(url); });

    tree->SetTree(&Tree_);
    list->SetTree(&Tree_);
    connect(list, &TCacheListView::selectionChanged, this, &TMainCommands::UpdateStatusText);
    connect(list, &TCacheListView::contentsChanged, this, &TMainCommands::UpdateStatusText);
    connect(list, &TCacheListView::nodeActivated, this, [this] { lvwCacheDblClick(); });

    AttachFavorites();

    tmrNodeChange = new QTimer(this);
    tmrNodeChange->setObjectName(QStringLiteral("tmrNodeChange"));
    tmrNodeChange->setInterval(1000);
    connect(tmrNodeChange, &QTimer::timeout, this, &TMainCommands::tmrNodeChangeTimer);
    connect(tree, &QTreeWidget::currentItemChanged, this, &TMainCommands::tvwCacheChange);
    tree->installEventFilter(this);
    AttachDrags();
}

// Focus and selections -----------------------------------------------------------

void TMainCommands::FocusChanged(QWidget* now) {
    if (now == nullptr || now->window() != Window_)
        return;
    if (now == Views_.Tree) {
        Focus_ = TFocusView::Tree;
        tvwCacheEnter();
    } else if (now == Views_.List || Views_.List->isAncestorOf(now)) {
        Focus_ = TFocusView::List;
        lvwCacheEnter();
    } else if (now == Views_.Favorites) {
        Focus_ = TFocusView::Favorites;
        lvwFavoritesEnter();
    }
}

TWebCacheTreeNode* TMainCommands::ContextNode() const {
    if (!ContextPath_)
        return nullptr;
    return Views_.Tree->NodeOf(Views_.Tree->FindItemByPath(*ContextPath_));
}

std::vector<TWebCacheTreeNode*> TMainCommands::Selection() const {
    if (Focus_ == TFocusView::Tree) {
        if (TWebCacheTreeNode* node = ContextNode())
            return {node};
    } else {
        std::vector<TWebCacheTreeNode*> rows = Views_.List->SelectedNodes();
        if (!rows.empty())
            return rows;
    }
    if (TWebCacheTreeNode* node = Views_.Tree->SelectedNode())
        return {node};
    return {};
}

int TMainCommands::TreeItemLevel(const QTreeWidgetItem* item) const {
    int level = 0;
    for (; item != nullptr && item->parent() != nullptr; item = item->parent())
        ++level;
    return level;
}

bool TMainCommands::CopyAllowedAtLevel(int level) const {
    // A favorite's site may be copied below its root; the whole cache only
    // from the hosts down (not the root, not a scheme folder).
    return CurrentFavorite_ != nullptr ? level > 0 : level > SchemeLevel_;
}

void TMainCommands::SetEnabled(std::initializer_list<QAction*> actions, bool enabled) {
    for (QAction* action : actions)
        action->setEnabled(enabled);
}

void TMainCommands::lvwFavoritesSelectItem() {
    const int count = Views_.Favorites->SelectedCount();
    SetEnabled({actFavoritesUpdate, actFavoritesDelete, actFavoritesCopyFile, actFavoritesMoveFile,
                actFavoritesSaveArchive},
               count >= 1);
    SetEnabled(
        {actFavoritesDisplayLocal, actFavoritesDisplayInternet, actCacheFind, actCacheSqueeze},
        count == 1);
    SetEnabled({actFileDelete}, count >= 1);
    SetEnabled({actFileCopy}, false);
    // The list's selection changes while another view has the focus too;
    // the commands then still act on that view.
    if (Focus_ == TFocusView::Tree)
        tvwCacheEnter();
    else if (Focus_ == TFocusView::List)
        lvwCacheEnter();
}

void TMainCommands::lvwFavoritesEnter() {
    const int count = Views_.Favorites->SelectedCount();
    SetEnabled({actCacheFind, actCacheSqueeze}, count == 1);
    SetEnabled({actFileDelete}, count >= 1);
    SetEnabled({actFileShowProperty, actFileCopy}, false);
}

void TMainCommands::tvwCacheEnter() {
    SetEnabled({actCacheFind, actCacheSqueeze, actFileDelete, actFileShowProperty, actFileCopy},
               true);
}

void TMainCommands::lvwCacheEnter() {
    ApplyListRowsRule(Views_.List->SelectedNodes());
    SetEnabled({actFileShowProperty}, true);
}

void TMainCommands::ApplyListRowsRule(const std::vector<TWebCacheTreeNode*>& rows) {
    // Find acts on a folder: none selected (the list's own) or one folder row.
    SetEnabled({actCacheFind, actCacheSqueeze},
               rows.empty() || (rows.size() == 1 && rows.front()->IsFolder));
    SetEnabled({actFileDelete, actFileCopy}, !rows.empty());
}

void TMainCommands::lvwCacheSelectItem() {
    if (Busy_)
        return; // the command runs the rules once it is over
    const std::vector<TWebCacheTreeNode*> rows = Views_.List->SelectedNodes();
    ListPopup_ = rows.empty() ? mnuPopupList2 : mnuPopupList1;
    ApplyListRowsRule(rows);
    // The list refills (and so deselects) whenever the tree's selection
    // moves; the tree's commands must not go grey under its focus.
    if (Focus_ == TFocusView::Tree)
        tvwCacheEnter();
    else if (Focus_ == TFocusView::Favorites)
        lvwFavoritesEnter();
}

QMenu* TMainCommands::PrepareTreeMenu(QTreeWidgetItem* item) {
    TCacheTreeView* tree = Views_.Tree;
    if (Focus_ != TFocusView::Tree) {
        Focus_ = TFocusView::Tree;
        tvwCacheEnter();
    }
    tree->setFocus(Qt::PopupFocusReason);
    if (item != nullptr) {
        const std::string path = tree->PathOf(item);
        tree->setCurrentItem(item);
        ContextPath_ = path;
    }
    mnuPopupTreePopup();
    return mnuPopupTree;
}

QMenu* TMainCommands::PrepareListMenu() {
    if (Focus_ != TFocusView::List) {
        Focus_ = TFocusView::List;
        lvwCacheEnter();
    }
    Views_.List->CurrentView()->setFocus(Qt::PopupFocusReason);
    if (ListPopup_ == mnuPopupList1)
        mnuPopupList1Popup();
    else
        mnuPopupList2Popup();
    return ListPopup_;
}

void TMainCommands::mnuPopupTreePopup() {
    TCacheTreeView* tree = Views_.Tree;
    const bool copy = CopyAllowedAtLevel(TreeItemLevel(tree->currentItem()));
    SetEnabled({actFavoritesFromCache, actFileCopyToDefaultFolder, actFileCopyToFolder,
                actFileSaveArchive},
               copy);
    SetEnabled({actFileCut, actFileCopy, actFileDelete, actFileShowProperty},
               tree->NodeOf(tree->RootItem()) != nullptr);
}

void TMainCommands::mnuPopupList1Popup() {
    const bool copy =
        CurrentFavorite_ != nullptr || TreeItemLevel(Views_.Tree->currentItem()) >= SchemeLevel_;
    SetEnabled({actFileCopyToDefaultFolder, actFileCopyToFolder, actFileSaveArchive}, copy);
    const std::vector<TWebCacheTreeNode*> rows = Views_.List->SelectedNodes();
    SetEnabled({actFavoritesFromCache},
               copy && rows.size() == 1 &&
                   (rows.front()->IsFolder || IsHtmlEntry(rows.front()->Info())));
}

void TMainCommands::mnuPopupList2Popup() {
    SetEnabled({actFavoritesFromCache},
               CopyAllowedAtLevel(TreeItemLevel(Views_.Tree->currentItem())));
}

} // namespace tarnhold::gui
