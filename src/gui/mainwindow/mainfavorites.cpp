// The main window's favorite commands: new, edit, delete, the default
// favorite, the import, registering a cache folder or page, copying or
// moving a favorite's site to its save folder, showing its local copy or its
// page on the internet, and the favorites list's own menu, header and double
// click.
#include "app/japanese.h"
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "copy/copyengine.h"
#include "copy/favoritecopy.h"
#include "favorites/bookmarks.h"
#include "favorites/editfavorite.h"
#include "favorites/favorites.h"
#include "favorites/favoritespanel.h"
#include "favorites/importfavorites.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "mainwindow/mainstatusbar.h"
#include "platform/codepage.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"
#include "tree/cachelisting.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QUrl>
#include <algorithm>
#include <system_error>

namespace tarnhold::gui {

namespace {

constexpr int kCopyEventsEvery = 10;
constexpr int kSummaryShownFor = 20000; // ms

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// The URL a cache node stands for, as a favorite keeps it: a file's own
// URL; a folder's URL text, with the scheme its files were cached under
// when the tree keeps schemes together (its folders then have none).
std::string NodeUrl(const TWebCacheTree& tree, const TWebCacheTreeNode* node) {
    if (!node->IsFolder)
        return node->Info().Url;
    std::string url = node->DirUrl();
    if (tree.EnableScheme())
        return url;
    for (const TWebCacheTreeNode* below = node; below != nullptr && below->IsFolder;) {
        const TWebCacheTreeNode* next = nullptr;
        for (int i = 0; i < below->Count() && next == nullptr; ++i) {
            if (!below->Items(i)->IsFolder)
                return std::string(below->Items(i)->Info().Url.substr(
                           0, SchemePrefixLength(below->Items(i)->Info().Url))) +
                       url;
            next = below->Items(i);
        }
        below = next;
    }
    return url;
}

} // namespace

void TMainCommands::ConnectFavoriteActions() {
    connect(actFavoritesNew, &QAction::triggered, this, &TMainCommands::actFavoritesNewExecute);
    actFavoritesUpdate->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Return));
    connect(actFavoritesUpdate, &QAction::triggered, this,
            &TMainCommands::actFavoritesUpdateExecute);
    // The Delete key is the general delete's, which hands it on here while
    // the favorites list has the focus; the menus only show it.
    actFavoritesDelete->setShortcut(QKeySequence(Qt::Key_Delete));
    actFavoritesDelete->setShortcutContext(Qt::WidgetShortcut);
    connect(actFavoritesDelete, &QAction::triggered, this,
            &TMainCommands::actFavoritesDeleteExecute);
    connect(actFavoritesSetupDefault, &QAction::triggered, this,
            &TMainCommands::actFavoritesSetupDefaultExecute);
    connect(actFavoritesImport, &QAction::triggered, this,
            &TMainCommands::actFavoritesImportExecute);
    connect(actFavoritesFromCache, &QAction::triggered, this,
            &TMainCommands::actFavoritesFromCacheExecute);
    connect(actFavoritesCopyFile, &QAction::triggered, this,
            [this] { CopyFavoritesToLocal(false); });
    connect(actFavoritesMoveFile, &QAction::triggered, this,
            [this] { CopyFavoritesToLocal(true); });
    connect(actFavoritesSaveArchive, &QAction::triggered, this,
            &TMainCommands::actFavoritesSaveArchiveExecute);
    connect(actFavoritesDisplayLocal, &QAction::triggered, this,
            &TMainCommands::actFavoritesDisplayLocalExecute);
    connect(actFavoritesDisplayInternet, &QAction::triggered, this,
            &TMainCommands::actFavoritesDisplayInternetExecute);
}

void TMainCommands::AttachFavorites() {
    TFavoritesPanel* panel = Views_.Favorites;
    panel->Bind(Favorites_);
    // The whole cache names folder URLs with the default favorite's file name.
    if (!Favorites_.DefaultItem().Default.empty())
        Tree_.DefaultFileName = Favorites_.DefaultItem().Default;
    connect(panel, &TFavoritesPanel::favoriteActivated, this, &TMainCommands::OpenFavorite);
    panel->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(panel, &QWidget::customContextMenuRequested, this, [this, panel](const QPoint& pos) {
        mnuPopupFavoritesPopup();
        mnuPopupFavorites->popup(panel->viewport()->mapToGlobal(pos));
    });
    panel->header()->setSectionsClickable(true);
    connect(panel->header(), &QHeaderView::sectionClicked, this,
            &TMainCommands::lvwFavoritesColumnClick);
}

void TMainCommands::mnuPopupFavoritesPopup() {
    // The enabling rules of the selection hold as they are.
}

void TMainCommands::lvwFavoritesColumnClick(int column) {
    if (column != Favorites_.SortType())
        Favorites_.SetSortType(static_cast<std::uint8_t>(column));
    else
        Favorites_.SetSortOrder(Favorites_.SortOrder() == 0 ? 1 : 0);
}

TfrmEditFavorite& TMainCommands::EditDialog() {
    if (EditDialog_ == nullptr)
        EditDialog_ = new TfrmEditFavorite(Prompts(), Window_);
    return *EditDialog_;
}

bool TMainCommands::RunEditDialog() {
    TfrmEditFavorite& dialog = EditDialog();
    dialog.setEnabled(true);
    return dialog.exec() == QDialog::Accepted;
}

std::vector<TFavoriteItem*> TMainCommands::SelectedFavoriteItems() const {
    std::vector<TFavoriteItem*> items;
    for (const TFavoriteItem* shown : Views_.Favorites->SelectedFavorites()) {
        const int index = Favorites_.IndexOf(shown);
        if (index >= 0)
            items.push_back(Favorites_.Items(index));
    }
    return items;
}

void TMainCommands::ReportSaveError(const TError& error) {
    if (!error)
        return;
    Prompts().ShowMessage(Caption(),
                          Utf8("お気に入りを保存できませんでした。\n") + ErrorText(error),
                          QMessageBox::Warning, QMessageBox::Ok);
}

void TMainCommands::AddFavorite(std::unique_ptr<TFavoriteItem> item) {
    TfrmEditFavorite& dialog = EditDialog();
    dialog.EditItem(item.get(), false);
    if (!RunEditDialog())
        return; // a new item that is cancelled is dropped
    TError error;
    Favorites_.AddItem(std::move(item), &error);
    ReportSaveError(error);
}

void TMainCommands::actFavoritesNewExecute() {
    if (Busy_)
        return;
    AddFavorite(std::make_unique<TFavoriteItem>(Favorites_.DefaultItem()));
}

void TMainCommands::actFavoritesUpdateExecute() {
    if (Busy_)
        return;
    std::vector<TFavoriteItem*> items = SelectedFavoriteItems();
    if (items.empty())
        return;
    // The focused row first, then the others in row order.
    if (QTreeWidgetItem* current = Views_.Favorites->currentItem();
        current != nullptr && current->isSelected()) {
        const auto at = std::find(items.begin(), items.end(), TFavoritesPanel::ItemOf(current));
        if (at != items.end())
            std::rotate(items.begin(), at, at + 1);
    }
    TfrmEditFavorite& dialog = EditDialog();
    if (items.size() == 1)
        dialog.EditItem(items.front(), false);
    else
        dialog.EditItems(items);
    if (!RunEditDialog())
        return;
    TError first;
    for (TFavoriteItem* item : items) {
        TError error = Favorites_.UpdateItem(item);
        if (error && !first)
            first = std::move(error);
    }
    ReportSaveError(first);
    RefreshOpenFavorite(items.front());
}

void TMainCommands::RefreshOpenFavorite(const TFavoriteItem* edited) {
    if (CurrentFavorite_ == nullptr || CurrentFavorite_ != edited)
        return;
    const TFavoriteItem& item = *edited;
    std::string directory;
    SplitURL(item.UrlName, &directory, nullptr, nullptr);
    const auto rename = [&] {
        Tree_.DefaultFileName =
            item.Default.empty() ? TFavorites::MakeDefaultItem().Default : item.Default;
        if (TWebCacheTreeNode* folder = Tree_.FindFolderByUrl(item.UrlName))
            Tree_.RenameDuplicates(folder);
    };
    if (!AnsiSameText(directory, Views_.Tree->RootUrl())) {
        rename();
        Views_.Tree->SetRoot(item.Title, item.UrlName);
    } else if (item.Default != Tree_.DefaultFileName) {
        rename();
        Views_.List->Refresh();
    } else if (item.Title != Views_.Tree->RootCaption()) {
        Views_.Tree->SetRootCaption(item.Title);
    }
    UpdateStatusText();
}

void TMainCommands::actFavoritesDeleteExecute() {
    if (Busy_)
        return;
    const std::vector<TFavoriteItem*> items = SelectedFavoriteItems();
    if (items.empty())
        return;
    const QString text =
        items.size() == 1
            ? Utf8("'%1' を削除してもよろしいですか？").arg(FavoriteText(items.front()->Title))
            : Utf8("これら %1 のお気に入りを削除してもよろしいですか？").arg(items.size());
    if (Prompts().ShowMessage(Utf8("お気に入りの削除の確認"), text, QMessageBox::Question,
                              QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
        return;
    // The tree view goes back to the whole cache before the favorite it
    // shows is gone.
    if (std::find(items.begin(), items.end(), CurrentFavorite_) != items.end())
        OpenFavorite(nullptr);
    TError first;
    for (TFavoriteItem* item : items) {
        TError error = Favorites_.DeleteItem(item);
        if (error && !first)
            first = std::move(error);
    }
    ReportSaveError(first);
}

void TMainCommands::actFavoritesSetupDefaultExecute() {
    if (Busy_)
        return;
    TfrmEditFavorite& dialog = EditDialog();
    dialog.EditItem(&Favorites_.DefaultItem(), true);
    if (!RunEditDialog())
        return;
    ReportSaveError(Favorites_.ResetDefaultDate());
    // The whole cache names its folder URLs with the default's file name.
    if (CurrentFavorite_ == nullptr && Tree_.DefaultFileName != Favorites_.DefaultItem().Default) {
        Tree_.DefaultFileName = Favorites_.DefaultItem().Default;
        Tree_.RenameDuplicates(Tree_.Root());
        Views_.List->Refresh();
        UpdateStatusText();
    }
}

void TMainCommands::actFavoritesImportExecute() {
    if (Busy_)
        return;
    if (ImportDialog_ == nullptr)
        ImportDialog_ = new TfrmImportFavorites(Favorites_, Prompts(), Window_);
    ImportDialog_->SetSources(FindImportSources());
    ImportDialog_->setEnabled(true);
    ImportDialog_->exec();
}

void TMainCommands::actFavoritesFromCacheExecute() {
    if (Busy_)
        return;
    const TWebCacheTreeNode* node = nullptr;
    if (Focus_ == TFocusView::Tree) {
        node = ContextNode();
        if (node == nullptr)
            node = Views_.Tree->SelectedNode();
        ContextPath_.reset();
    } else {
        const std::vector<TWebCacheTreeNode*> rows = Views_.List->SelectedNodes();
        node = !rows.empty() ? rows.front() : Tree_.FindNodeByUrl(Views_.List->CurrentFolder());
    }
    if (node == nullptr || node == Tree_.Root())
        return;
    auto item = std::make_unique<TFavoriteItem>(Favorites_.DefaultItem());
    item->UrlName = NodeUrl(Tree_, node);
    // The page's title in any character set, kept in favorites.dat with
    // references for what the code page lacks.
    const std::string title =
        node->IsFolder ? Tree_.GetTitle(node->DirUrl())
                       : (IsHtmlEntry(node->Info()) ? ReadPageTitle(node->Info()) : std::string());
    item->Title = Utf8ToAnsiRefs(title);
    AddFavorite(std::move(item));
}

void TMainCommands::CopyFavoritesToLocal(bool move) {
    if (Busy_)
        return;
    const std::vector<TFavoriteItem*> items = SelectedFavoriteItems();
    if (items.empty())
        return;
    TGuiCopyPrompts prompts(Prompts());
    TFavoriteCopyResult result;
    QString summary;
    TFavoriteCopyOptions options;
    options.Move = move;
    options.Current = CurrentFavorite_;
    RunFramed(Utf8("ローカルへコピー中..."), kCopyEventsEvery, [&](TProgress& progress) {
        TCopyEngine engine(Tree_, &prompts, &progress);
        result = tarnhold::CopyFavoritesToLocal(Tree_, engine, Favorites_, items, options);
        summary = CopySummaryText(engine);
    });
    // The copy may have moved the views' names: the list shows them anew.
    Views_.List->Refresh();
    UpdateStatusText();
    CopySummary_ = summary;
    const QString caption = Utf8(move ? "ローカルへ移動" : "ローカルへコピー");
    switch (result.Stop) {
    case TFavoriteCopyStop::None:
        break;
    case TFavoriteCopyStop::Copy:
        // A failure was told by the copy; a cancel is said here.
        summary = Utf8("'%1' のコピーを中止しました。").arg(FavoriteText(result.Stopped->Title)) +
                  QStringLiteral(" ") + summary;
        break;
    case TFavoriteCopyStop::NoSaveFolder:
        Prompts().ShowMessage(caption,
                              Utf8("'%1' には保存先が設定されていないため、コピーを中止しました。")
                                  .arg(FavoriteText(result.Stopped->Title)),
                              QMessageBox::Warning, QMessageBox::Ok);
        break;
    case TFavoriteCopyStop::Delete:
        Prompts().ShowMessage(
            caption,
            Utf8("'%1' はコピーしましたが、キャッシュから削除できなかったエントリがあります。\n")
                    .arg(FavoriteText(result.Stopped->Title)) +
                ErrorText(result.DeleteError),
            QMessageBox::Warning, QMessageBox::Ok);
        break;
    }
    if (!result.NotCached.empty()) {
        QStringList titles;
        for (const TFavoriteItem* item : result.NotCached)
            titles.append(FavoriteText(item->Title));
        summary += Utf8("。キャッシュにないお気に入り: ") + titles.join(Utf8("、"));
    }
    ReportSaveError(result.SaveError);
    Views_.Status->showMessage(summary, kSummaryShownFor);
}

void TMainCommands::actFavoritesSaveArchiveExecute() {
    std::vector<TWebCacheTreeNode*> nodes;
    for (const TFavoriteItem* item : SelectedFavoriteItems()) {
        if (TWebCacheTreeNode* folder = FavoriteFolder(Tree_, *item))
            nodes.push_back(folder);
    }
    if (nodes.empty()) {
        Prompts().ShowMessage(Utf8("WARC/WACZ として保存"),
                              Utf8("選択したお気に入りのサイトはキャッシュにありません。"),
                              QMessageBox::Information, QMessageBox::Ok);
        return;
    }
    SaveArchive(nodes);
}

void TMainCommands::actFavoritesDisplayLocalExecute() {
    const std::vector<TFavoriteItem*> items = SelectedFavoriteItems();
    if (items.size() != 1)
        return;
    const std::filesystem::path page = FavoriteLocalPage(Tree_, *items.front());
    // Only a file the copy made: nothing is said when there is none.
    std::error_code ec;
    if (page.empty() ||
        !std::filesystem::is_regular_file(std::filesystem::symlink_status(page, ec)))
        return;
    Prompts().OpenFile(page);
}

void TMainCommands::actFavoritesDisplayInternetExecute() {
    const std::vector<TFavoriteItem*> items = SelectedFavoriteItems();
    if (items.size() != 1)
        return;
    // Only web pages go to the browser: a favorite written by hand could
    // name a program or a script.
    const QUrl url(ToQString(items.front()->UrlName), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QStringLiteral("http") && scheme != QStringLiteral("https") &&
         scheme != QStringLiteral("ftp"))) {
        Prompts().ShowMessage(Caption(),
                              Utf8("このお気に入りの URL はブラウザで開けません。\n") +
                                  DisplayText(items.front()->UrlName),
                              QMessageBox::Information, QMessageBox::Ok);
        return;
    }
    Prompts().OpenUrl(url);
}

} // namespace tarnhold::gui
