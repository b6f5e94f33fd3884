// The main window's commands on cache nodes: the actions of the file and
// find groups, the context menus of the tree and the list, the rules that
// enable the commands as the focus and the selections change, and the
// commands themselves (properties, deletion, copies, the clipboard and the
// default extensions).
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "copy/copyengine.h"
#include "copy/deletenodes.h"
#include "copy/progressframe.h"
#include "favorites/favorites.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/property.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "text/urlutils.h"
#include "tree/cachelisting.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <system_error>

namespace tarnhold::gui {

namespace {

// A copy lets pending events through every this many files, a deletion
// every this many.
constexpr int kCopyEventsEvery = 10;
constexpr int kDeleteEventsEvery = 100;

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(QString::fromLatin1(name),
                            QApplication::style()->standardIcon(fallback));
}

// How long the status bar shows the outcome of a copy.
constexpr int kSummaryShownFor = 20000; // ms

} // namespace

QString CopySummaryText(const TCopyEngine& engine) {
    const TCopyStats& stats = engine.Stats();
    QString text = QStringLiteral("コピー: %1 個のファイルを書き込み").arg(stats.Files);
    if (stats.Kept > 0)
        text += QStringLiteral("、%1 個はそのまま").arg(stats.Kept);
    if (stats.Skipped > 0)
        text += QStringLiteral("、%1 個は文書なし").arg(stats.Skipped);
    // Bodies that could not be decoded and pages too large to rewrite.
    if (stats.AsIs > stats.Damaged)
        text += QStringLiteral("、%1 個は変換せずに保存").arg(stats.AsIs - stats.Damaged);
    if (stats.Damaged > 0)
        text += QStringLiteral("、%1 個はチェックサムが合わない (破損)").arg(stats.Damaged);
    const TCopyReport& report = engine.Report();
    if (report.MissingLinks() > 0)
        text += QStringLiteral("。キャッシュにないリンク %1 個 (%2 ページ)")
                    .arg(report.MissingLinks())
                    .arg(report.IncompletePages());
    return text;
}

QAction* TfrmMain::MakeTwin(QAction* action, const char* name) {
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

void TfrmMain::CreateCommandActions() {
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
    connect(actFileShowProperty, &QAction::triggered, this, &TfrmMain::actFileShowPropertyExecute);

    actFileDelete = MakeAction("actFileDelete", "削除(&D)", QKeySequence(Qt::Key_Delete));
    actFileDelete->setIcon(ThemeIcon("edit-delete", QStyle::SP_TrashIcon));
    connect(actFileDelete, &QAction::triggered, this, &TfrmMain::actFileDeleteExecute);
    actFileDelete2 = MakeTwin(actFileDelete, "actFileDelete2");

    actFileCopy = MakeAction("actFileCopy", "コピー(&C)", QKeySequence(Qt::CTRL | Qt::Key_C));
    actFileCopy->setIcon(ThemeIcon("edit-copy", QStyle::SP_FileIcon));
    connect(actFileCopy, &QAction::triggered, this, &TfrmMain::actFileCopyExecute);
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
            &TfrmMain::actFileCopyToDefaultFolderExecute);
    actFileCopyToFolder = MakeAction("actFileCopyToFolder", "フォルダを指定してコピー(&S)...");
    connect(actFileCopyToFolder, &QAction::triggered, this, &TfrmMain::actFileCopyToFolderExecute);

    // The favorites' commands come with the favorites window; their actions
    // are here with their captions and keys, not shown until then.
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
        {&actFavoritesDisplayLocal, "actFavoritesDisplayLocal", "ローカルページの表示(&V)"},
        {&actFavoritesDisplayInternet, "actFavoritesDisplayInternet",
         "インターネットページの表示(&N)"},
    };
    for (const auto& f : favorites) {
        *f.action = MakeAction(f.name, f.caption);
        (*f.action)->setVisible(false);
    }
    // Their keys (Alt+Enter to edit, Delete) come with them: a hidden action
    // that the rules enable would otherwise make the Delete key ambiguous.

    mnuSchedule = MakeAction("mnuSchedule", "スケジュール設定(&S)...");
    mnuSchedule->setVisible(false);
    mnuSchedule->setEnabled(false);
    mnuDefExtName = MakeAction("mnuDefExtName", "デフォルト拡張子設定(&E)...");
    connect(mnuDefExtName, &QAction::triggered, this, &TfrmMain::mnuDefExtNameClick);
}

void TfrmMain::CreatePopupMenus() {
    auto fill = [](QMenu* menu, std::initializer_list<QAction*> actions) {
        for (QAction* action : actions) {
            if (action == nullptr)
                menu->addSeparator();
            else
                menu->addAction(action);
        }
    };
    QAction* const separator = nullptr;
    const std::initializer_list<QAction*> onNodes = {
        actCacheFind,        actCacheSqueeze,
        separator,           actFavoritesFromCache,
        separator,           actFileCopyToDefaultFolder,
        actFileCopyToFolder, separator,
        actFileCut,          actFileCopy,
        separator,           actFileDelete,
        separator,           actFileShowProperty,
    };
    mnuPopupTree = new QMenu(this);
    mnuPopupTree->setObjectName(QStringLiteral("mnuPopupTree"));
    fill(mnuPopupTree, onNodes);
    mnuPopupList1 = new QMenu(this);
    mnuPopupList1->setObjectName(QStringLiteral("mnuPopupList1"));
    fill(mnuPopupList1, onNodes);

    mnuPopupList2 = new QMenu(this);
    mnuPopupList2->setObjectName(QStringLiteral("mnuPopupList2"));
    fill(mnuPopupList2, {actCacheFind, actCacheSqueeze, separator, actFavoritesFromCache});
    mnuPopupList2->addSeparator();
    QMenu* styles = mnuPopupList2->addMenu(Utf8("表示(&V)"));
    fill(styles, {actListLargeIcon, actListSmallIcon, actListListIcon, actListDetailIcon});
    mnuPopupList2->addSeparator();
    QMenu* arrange = mnuPopupList2->addMenu(Utf8("アイコンの整列(&I)"));
    fill(arrange, {actListSortByName, actListSortByUrlName, actListSortByTitle, actListSortBySize,
                   actListSortByType, actListSortByDate, separator, actListArrangeIconAuto});
    fill(mnuPopupList2, {actListLineUp, separator, actCacheRefresh, separator, actFilePaste,
                         separator, actFileShowProperty});

    // The favorites' own menu comes with their commands.
    mnuPopupFavorites = new QMenu(this);
    mnuPopupFavorites->setObjectName(QStringLiteral("mnuPopupFavorites"));
    ListPopup_ = mnuPopupList2;

    tvwCache->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tvwCache, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        QTreeWidgetItem* item = tvwCache->itemAt(pos);
        PrepareTreeMenu(item != nullptr ? item : tvwCache->currentItem())
            ->popup(tvwCache->viewport()->mapToGlobal(pos));
    });
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(lvwCache->DetailsView()),
                                    static_cast<QAbstractItemView*>(lvwCache->IconView())}) {
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this, [this, view](const QPoint& pos) {
            PrepareListMenu()->popup(view->viewport()->mapToGlobal(pos));
        });
    }

    FocusConnection_ = connect(qApp, &QApplication::focusChanged, this,
                               [this](QWidget*, QWidget* now) { FocusChanged(now); });
    connect(lvwCache, &TCacheListView::selectionChanged, this, &TfrmMain::lvwCacheSelectItem);
    // A refill for another folder drops the selection without a selection
    // signal; the menu and the rules must not keep acting on rows gone.
    connect(lvwCache, &TCacheListView::contentsChanged, this, &TfrmMain::lvwCacheSelectItem);
    connect(lvwFavorites, &QTreeWidget::itemSelectionChanged, this,
            &TfrmMain::lvwFavoritesSelectItem);
    // The context node stays only while its item stays selected.
    connect(tvwCache, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (ContextPath_ && (current == nullptr || tvwCache->PathOf(current) != *ContextPath_))
            ContextPath_.reset();
    });
}

// Focus and selections -----------------------------------------------------------

void TfrmMain::FocusChanged(QWidget* now) {
    if (now == nullptr || now->window() != this)
        return;
    if (now == tvwCache) {
        Focus_ = TFocusView::Tree;
        tvwCacheEnter();
    } else if (now == lvwCache || lvwCache->isAncestorOf(now)) {
        Focus_ = TFocusView::List;
        lvwCacheEnter();
    } else if (now == lvwFavorites) {
        Focus_ = TFocusView::Favorites;
        lvwFavoritesEnter();
    }
}

TWebCacheTreeNode* TfrmMain::ContextNode() const {
    if (!ContextPath_)
        return nullptr;
    return tvwCache->NodeOf(tvwCache->FindItemByPath(*ContextPath_));
}

std::vector<TWebCacheTreeNode*> TfrmMain::Selection() const {
    if (Focus_ == TFocusView::Tree) {
        if (TWebCacheTreeNode* node = ContextNode())
            return {node};
    } else {
        std::vector<TWebCacheTreeNode*> rows = lvwCache->SelectedNodes();
        if (!rows.empty())
            return rows;
    }
    if (TWebCacheTreeNode* node = tvwCache->SelectedNode())
        return {node};
    return {};
}

int TfrmMain::TreeItemLevel(const QTreeWidgetItem* item) const {
    int level = 0;
    for (; item != nullptr && item->parent() != nullptr; item = item->parent())
        ++level;
    return level;
}

bool TfrmMain::CopyAllowedAtLevel(int level) const {
    // A favorite's site may be copied below its root; the whole cache only
    // from the hosts down (not the root, not a scheme folder).
    return CurrentFavorite_ != nullptr ? level > 0 : level > SchemeLevel_;
}

void TfrmMain::SetEnabled(std::initializer_list<QAction*> actions, bool enabled) {
    for (QAction* action : actions)
        action->setEnabled(enabled);
}

void TfrmMain::lvwFavoritesSelectItem() {
    const auto count = lvwFavorites->selectedItems().size();
    SetEnabled({actFavoritesUpdate, actFavoritesDelete, actFavoritesCopyFile, actFavoritesMoveFile},
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

void TfrmMain::lvwFavoritesEnter() {
    const auto count = lvwFavorites->selectedItems().size();
    SetEnabled({actCacheFind, actCacheSqueeze}, count == 1);
    SetEnabled({actFileDelete}, count >= 1);
    SetEnabled({actFileShowProperty, actFileCopy}, false);
}

void TfrmMain::tvwCacheEnter() {
    SetEnabled({actCacheFind, actCacheSqueeze, actFileDelete, actFileShowProperty, actFileCopy},
               true);
}

void TfrmMain::lvwCacheEnter() {
    ApplyListRowsRule(lvwCache->SelectedNodes());
    SetEnabled({actFileShowProperty}, true);
}

void TfrmMain::ApplyListRowsRule(const std::vector<TWebCacheTreeNode*>& rows) {
    // Find acts on a folder: none selected (the list's own) or one folder row.
    SetEnabled({actCacheFind, actCacheSqueeze},
               rows.empty() || (rows.size() == 1 && rows.front()->IsFolder));
    SetEnabled({actFileDelete, actFileCopy}, !rows.empty());
}

void TfrmMain::lvwCacheSelectItem() {
    if (Busy_)
        return; // the command runs the rules once it is over
    const std::vector<TWebCacheTreeNode*> rows = lvwCache->SelectedNodes();
    ListPopup_ = rows.empty() ? mnuPopupList2 : mnuPopupList1;
    ApplyListRowsRule(rows);
    // The list refills (and so deselects) whenever the tree's selection
    // moves; the tree's commands must not go grey under its focus.
    if (Focus_ == TFocusView::Tree)
        tvwCacheEnter();
    else if (Focus_ == TFocusView::Favorites)
        lvwFavoritesEnter();
}

QMenu* TfrmMain::PrepareTreeMenu(QTreeWidgetItem* item) {
    if (Focus_ != TFocusView::Tree) {
        Focus_ = TFocusView::Tree;
        tvwCacheEnter();
    }
    tvwCache->setFocus(Qt::PopupFocusReason);
    if (item != nullptr) {
        const std::string path = tvwCache->PathOf(item);
        tvwCache->setCurrentItem(item);
        ContextPath_ = path;
    }
    mnuPopupTreePopup();
    return mnuPopupTree;
}

QMenu* TfrmMain::PrepareListMenu() {
    if (Focus_ != TFocusView::List) {
        Focus_ = TFocusView::List;
        lvwCacheEnter();
    }
    lvwCache->CurrentView()->setFocus(Qt::PopupFocusReason);
    if (ListPopup_ == mnuPopupList1)
        mnuPopupList1Popup();
    else
        mnuPopupList2Popup();
    return ListPopup_;
}

void TfrmMain::mnuPopupTreePopup() {
    const bool copy = CopyAllowedAtLevel(TreeItemLevel(tvwCache->currentItem()));
    SetEnabled({actFavoritesFromCache, actFileCopyToDefaultFolder, actFileCopyToFolder}, copy);
    SetEnabled({actFileCut, actFileCopy, actFileDelete, actFileShowProperty},
               tvwCache->NodeOf(tvwCache->RootItem()) != nullptr);
}

void TfrmMain::mnuPopupList1Popup() {
    const bool copy =
        CurrentFavorite_ != nullptr || TreeItemLevel(tvwCache->currentItem()) >= SchemeLevel_;
    SetEnabled({actFileCopyToDefaultFolder, actFileCopyToFolder}, copy);
    const std::vector<TWebCacheTreeNode*> rows = lvwCache->SelectedNodes();
    SetEnabled({actFavoritesFromCache},
               copy && rows.size() == 1 &&
                   (rows.front()->IsFolder || IsHtmlEntry(rows.front()->Info)));
}

void TfrmMain::mnuPopupList2Popup() {
    SetEnabled({actFavoritesFromCache}, CopyAllowedAtLevel(TreeItemLevel(tvwCache->currentItem())));
}

// Commands -----------------------------------------------------------------------

void TfrmMain::actFileShowPropertyExecute() {
    if (Focus_ == TFocusView::Favorites)
        return;
    std::vector<TWebCacheTreeNode*> nodes = Selection();
    if (nodes.empty())
        return;
    // The window owns its list and frees itself when closed.
    auto* window = new TfrmProperty(this, std::move(nodes));
    window->show();
}

void TfrmMain::actFileDeleteExecute() {
    // Favorites are deleted by their own command, never cache entries in
    // their place.
    if (Focus_ == TFocusView::Favorites)
        return;
    DeleteSelection(true);
    ContextPath_.reset();
}

void TfrmMain::DeleteSelection(bool confirm) {
    if (Busy_)
        return;
    const std::vector<TWebCacheTreeNode*> nodes = Selection();
    if (nodes.empty())
        return;
    if (confirm && !Prompts().ConfirmDelete(nodes))
        return;
    TError error;
    RunFramed(DeletingText(), kDeleteEventsEvery,
              [&](TProgress& progress) { DeleteCacheNodes(Tree_, nodes, &progress, &error); });
    lvwCache->RefreshIfEmptied();
    QTreeWidgetItem* root = tvwCache->RootItem();
    if (root != nullptr && root->childCount() == 0)
        lvwCache->Refresh();
    UpdateStatusText();
    if (error)
        Prompts().ShowMessage(Utf8("削除"),
                              Utf8("キャッシュから削除できなかったエントリがあります。\n") +
                                  EscapeControls(QString::fromStdString(error.Text())),
                              QMessageBox::Warning, QMessageBox::Ok);
}

void TfrmMain::RunFramed(const QString& text, int eventsEvery,
                         const std::function<void(TProgress&)>& run) {
    // A list still to follow a key walk in the tree waits for the command;
    // a selection moved by the command is followed once it is over, not
    // from a tree half changed.
    const bool follow = tmrNodeChange->isActive();
    tmrNodeChange->stop();
    Busy_ = true;
    {
        stsPanel1->hide();
        TProgressFrame frame(this, prgProgress, stsPanel0, text, 0, eventsEvery,
                             [this] { stsPanel1->show(); });
        run(frame);
    }
    Busy_ = false;
    tvwCache->RebuildIfEmptied();
    if (FolderPending_)
        ShowSelectedFolder();
    lvwCacheSelectItem();
    UpdateStatusText();
    if (follow)
        tmrNodeChange->start();
}

void TfrmMain::CopyToFolder(const std::filesystem::path& destination) {
    if (Busy_)
        return;
    std::vector<TWebCacheTreeNode*> nodes;
    const TWebCacheTreeNode* prefixFolder = nullptr;
    if (Focus_ == TFocusView::Tree) {
        TWebCacheTreeNode* node = ContextNode();
        if (node == nullptr)
            node = tvwCache->SelectedNode();
        if (node == nullptr)
            return;
        nodes.push_back(node);
        prefixFolder = node->Parent();
    } else {
        nodes = lvwCache->SelectedNodes();
        prefixFolder = Tree_.FindNodeByUrl(lvwCache->CurrentFolder());
    }
    if (nodes.empty())
        return;
    // A folder typed by hand may be relative, which would land the copy
    // wherever the program happened to start.
    if (!destination.is_absolute()) {
        Prompts().ShowMessage(Utf8("フォルダを指定してコピー"),
                              Utf8("コピー先には絶対パスのフォルダを指定してください。\n") +
                                  EscapeControls(PathToQString(destination)),
                              QMessageBox::Warning, QMessageBox::Ok);
        return;
    }
    const TFavoriteItem& settings = Favorites_.DefaultItem();
    TGuiCopyPrompts prompts(Prompts());
    RunFramed(CopyToFolderText(), kCopyEventsEvery, [&](TProgress& progress) {
        TCopyEngine engine(Tree_, &prompts, &progress);
        // A stopped run has said why (or was cancelled by the user).
        TCopyOptions options;
        options.Destination = destination;
        options.PrefixFolder = prefixFolder;
        options.Method = CopyMethodFromNumber(settings.Method);
        options.Folder = FolderMethodFromNumber(settings.Folder);
        options.AllLinks = settings.AllLinks;
        (void)tarnhold::CopyToFolder(engine, nodes, options);
        CopySummary_ = CopySummaryText(engine);
    });
    // What was written, and what the copied pages link to that the cache
    // lacked, stays in the status bar for a while.
    statusBar()->showMessage(CopySummary_, kSummaryShownFor);
}

void TfrmMain::actFileCopyToDefaultFolderExecute() {
    const std::string& folder = Favorites_.DefaultItem().PathName;
    CopyToFolder(AnsiToPath(folder));
}

void TfrmMain::actFileCopyToFolderExecute() {
    std::filesystem::path folder;
    if (Prompts().AskCopyFolder(folder))
        CopyToFolder(folder);
}

void TfrmMain::actFileCopyExecute() {
    if (Focus_ == TFocusView::Favorites || Busy_)
        return;
    // The nodes: the list's selected rows in the folder it shows, or the
    // tree's selected folder below its parent; the root of the whole cache
    // stands for every folder below it.
    std::vector<TWebCacheTreeNode*> nodes;
    const TWebCacheTreeNode* prefixFolder = nullptr;
    if (Focus_ != TFocusView::Tree) {
        nodes = lvwCache->SelectedNodes();
        prefixFolder = Tree_.FindNodeByUrl(lvwCache->CurrentFolder());
    } else if (TWebCacheTreeNode* node = tvwCache->SelectedNode()) {
        if (node == Tree_.Root() && CurrentFavorite_ == nullptr) {
            for (int i = 0; i < node->Count(); ++i)
                nodes.push_back(node->Items(i));
        } else {
            nodes.push_back(node);
            prefixFolder = node->Parent();
        }
    }
    if (nodes.empty())
        return;

    // The copies go into a new folder; the folder of the last copy, which
    // the clipboard may still name, goes only once they are made.
    TError error;
    const std::filesystem::path temp = CreateTempFolder(&error);
    if (temp.empty()) {
        Prompts().ShowMessage(Utf8("コピー"),
                              Utf8("一時フォルダを作成できませんでした。\n") +
                                  EscapeControls(QString::fromStdString(error.Text())),
                              QMessageBox::Critical, QMessageBox::Ok);
        return;
    }
    TGuiCopyPrompts prompts(Prompts());
    bool copied = false;
    // Each node's copy lies below the folder where the engine put it, under
    // the name it gave it on disk.
    std::vector<std::filesystem::path> places;
    RunFramed(CopyToTempText(), kCopyEventsEvery, [&](TProgress& progress) {
        TCopyEngine engine(Tree_, &prompts, &progress);
        TCopyOptions where;
        where.Destination = temp;
        where.PrefixFolder = prefixFolder;
        where.Prefix = prefixFolder != nullptr ? prefixFolder->DirUrl() : std::string();
        where.Folder = TFolderMethod::BelowPrefix;
        copied = tarnhold::CopyToFolder(engine, nodes, where);
        for (const TWebCacheTreeNode* node : nodes)
            places.push_back(engine.LocalPathOf(where, node));
    });
    std::vector<std::filesystem::path> files;
    QList<QUrl> urls;
    for (std::filesystem::path& path : places) {
        if (!copied)
            break;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
            continue;
        urls.append(ToFileUrl(path));
        files.push_back(std::move(path));
    }
    if (urls.isEmpty()) {
        // The engine said why (or there was nothing to copy); the clipboard
        // and its files stay as they were.
        DeleteFolder(temp);
        return;
    }
    if (!TempFolder_.empty())
        DeleteFolder(TempFolder_);
    TempFolder_ = temp;
    ClipboardFiles_ = std::move(files);
    auto* data = new QMimeData;
    data->setUrls(urls);
    QByteArray gnome("copy");
    for (const QUrl& url : urls)
        gnome += '\n' + url.toEncoded();
    data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
    QApplication::clipboard()->setMimeData(data);
}

void TfrmMain::mnuDefExtNameClick() {
    if (Busy_ || !Prompts().EditDefaultExtensions(Tree_.ContentTypes()))
        return;
    if (TError error = Tree_.SaveContentTypes())
        Prompts().ShowMessage(windowTitle(),
                              Utf8("既定の拡張子を保存できませんでした。\n") +
                                  EscapeControls(QString::fromStdString(error.Text())),
                              QMessageBox::Warning, QMessageBox::Ok);
    actCacheRefresh->trigger();
}

} // namespace tarnhold::gui
