// The main window's commands on cache nodes and on the views: properties,
// deletion, copies to a folder and to the clipboard, opening a cached file,
// the view styles, sorting and selecting, the default extensions, the scheme
// option, the help and the about box.
#include "mainwindow/maincommands.h"

#include "app/japanese.h"
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "copy/copyengine.h"
#include "copy/deletenodes.h"
#include "copy/progressframe.h"
#include "dragdrop/dropsource.h"
#include "favorites/favorites.h"
#include "find/find.h"
#include "mainwindow/aboutbox.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/mainstatusbar.h"
#include "mainwindow/property.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/cachebody.h"
#include "tree/localpaths.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <system_error>

namespace tarnhold::gui {

namespace {

// A copy lets pending events through every this many files, a deletion
// every this many.
constexpr int kCopyEventsEvery = 10;
constexpr int kDeleteEventsEvery = 100;

// How long the status bar shows the outcome of a copy.
constexpr int kSummaryShownFor = 20000; // ms

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

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

TMainCommands::TMainCommands(TWebCacheTree& tree, TFavorites& favorites, QWidget* window)
    : QObject(window), Tree_(tree), Favorites_(favorites), Window_(window) {
    setObjectName(QStringLiteral("cmdMain"));
    CreateActions();
    CreateFindCommand();
    CreatePopupMenus();
}

TMainCommands::~TMainCommands() {
    delete FindWindow_; // writes find.dat; its search ends first
    disconnect(FocusConnection_);
    if (!OpenedFolder_.empty())
        DeleteFolder(OpenedFolder_);
    NodeDeleted_.Reset();
}

void TMainCommands::SetPrompts(TGuiPrompts* prompts) {
    Prompts_ = prompts;
}

TGuiPrompts& TMainCommands::Prompts() {
    if (Prompts_ != nullptr)
        return *Prompts_;
    if (!OwnPrompts_)
        OwnPrompts_ = std::make_unique<TGuiPrompts>(Window_);
    return *OwnPrompts_;
}

QString TMainCommands::Caption() const {
    return Window_->windowTitle();
}

// Settings -----------------------------------------------------------------------

void TMainCommands::ApplySettings(const TScreenSettings& s) {
    actListArrangeIconAuto->setChecked(s.AutoArrange);
    Views_.List->SetAutoArrange(s.AutoArrange);
    if (s.ViewStyle >= 0 && s.ViewStyle <= 3)
        SetViewStyle(s.ViewStyle);
    mnuRefreshAtStart->setChecked(s.Refresh);
    mnuEnableScheme->setChecked(s.EnableScheme);
    Tree_.SetEnableScheme(s.EnableScheme);
    SchemeLevel_ = s.EnableScheme ? 1 : 0;
}

void TMainCommands::StoreSettings(TScreenSettings& s) const {
    s.AutoArrange = actListArrangeIconAuto->isChecked();
    s.ViewStyle = actListLargeIcon->isChecked()   ? 0
                  : actListSmallIcon->isChecked() ? 1
                  : actListListIcon->isChecked()  ? 2
                                                  : 3;
    s.Refresh = mnuRefreshAtStart->isChecked();
    s.EnableScheme = mnuEnableScheme->isChecked();
}

bool TMainCommands::RefreshAtStart() const {
    return mnuRefreshAtStart->isChecked();
}

void TMainCommands::WindowShown() {
    lvwFavoritesSelectItem();
}

// The list's view ---------------------------------------------------------------

void TMainCommands::SetViewStyle(int style) {
    Views_.List->SetViewStyle(style);
    QAction* checked[] = {actListLargeIcon, actListSmallIcon, actListListIcon, actListDetailIcon};
    checked[style]->setChecked(true);
    const bool icons = style == 0 || style == 1;
    actListArrangeIconAuto->setEnabled(icons);
    actListLineUp->setEnabled(icons);
}

void TMainCommands::actListLineUpExecute() {
    Views_.List->LineUp();
}

void TMainCommands::actListRoolIconExecute() {
    // large -> small -> list -> details -> large
    const int next = actListLargeIcon->isChecked()   ? 1
                     : actListSmallIcon->isChecked() ? 2
                     : actListListIcon->isChecked()  ? 3
                                                     : 0;
    SetViewStyle(next);
}

void TMainCommands::SortBy(int key) {
    Views_.List->SetSort(0, key);
}

void TMainCommands::actListArrangeIconAutoExecute() {
    Views_.List->SetAutoArrange(actListArrangeIconAuto->isChecked());
}

void TMainCommands::actListSelectAllExecute() {
    Views_.List->SelectAll();
    Views_.List->CurrentView()->setFocus();
}

void TMainCommands::actListItemChangeExecute() {
    Views_.List->InvertSelection();
    Views_.List->CurrentView()->setFocus();
}

void TMainCommands::actTreeUpLevelExecute() {
    QTreeWidgetItem* item = Views_.Tree->currentItem();
    if (item != nullptr && item->parent() != nullptr)
        Views_.Tree->setCurrentItem(item->parent());
}

// Opening a row ------------------------------------------------------------------

void TMainCommands::lvwCacheDblClick() {
    const std::vector<TWebCacheTreeNode*> selected = Views_.List->SelectedNodes();
    if (selected.empty())
        return;
    const TWebCacheTreeNode* node = selected.front();
    if (node->IsFolder) {
        QTreeWidgetItem* current = Views_.Tree->currentItem();
        if (current == nullptr)
            return;
        const QString name = DisplayText(node->DisplayName());
        Views_.Tree->Populate(current);
        for (int i = 0; i < current->childCount(); ++i) {
            if (current->child(i)->text(0).compare(name, Qt::CaseInsensitive) == 0) {
                Views_.Tree->setCurrentItem(current->child(i));
                return;
            }
        }
        return;
    }
    // Only a regular file is handed to the desktop: a cache from another
    // machine may name anything.
    std::filesystem::path file(node->Info().LocalFileName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(file, ec))) {
        Prompts().ShowMessage(Caption(),
                              Utf8("キャッシュファイルを開けません。\n") +
                                  EscapeControls(PathToQString(file)) +
                                  Utf8("\nファイルがありません。"),
                              QMessageBox::Warning, QMessageBox::Ok);
        return;
    }
    if (!IsPlainCacheBody(node->Info())) {
        // A browser keeps the body inside its entry file, perhaps encoded:
        // the body goes to a file of its own under the name a copy gives it.
        TError error = WriteOpenedBody(*node, file);
        if (error) {
            Prompts().ShowMessage(Caption(),
                                  Utf8("キャッシュファイルを開けません。\n") + ErrorText(error),
                                  QMessageBox::Warning, QMessageBox::Ok);
            return;
        }
    }
    if (!Prompts().OpenFile(file))
        Prompts().ShowMessage(Caption(),
                              Utf8("このファイルを開くアプリケーションが見つかりません。\n") +
                                  EscapeControls(PathToQString(file)),
                              QMessageBox::Warning, QMessageBox::Ok);
}

TError TMainCommands::WriteOpenedBody(const TWebCacheTreeNode& node, std::filesystem::path& file) {
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
    return WriteCacheBodyFile(node.Info(), file);
}

// Property and delete ------------------------------------------------------------

void TMainCommands::actFileShowPropertyExecute() {
    if (Focus_ == TFocusView::Favorites)
        return;
    std::vector<TWebCacheTreeNode*> nodes = Selection();
    if (nodes.empty())
        return;
    // The window owns its list and frees itself when closed.
    auto* window = new TfrmProperty(Window_, std::move(nodes));
    window->show();
}

void TMainCommands::actFileDeleteExecute() {
    // Favorites are deleted by their own command, never cache entries in
    // their place.
    if (Focus_ == TFocusView::Favorites) {
        if (actFavoritesDelete->isEnabled())
            actFavoritesDelete->trigger();
        return;
    }
    DeleteSelection(true);
    ContextPath_.reset();
}

void TMainCommands::DeleteSelection(bool confirm) {
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
    Views_.List->RefreshIfEmptied();
    QTreeWidgetItem* root = Views_.Tree->RootItem();
    if (root != nullptr && root->childCount() == 0)
        Views_.List->Refresh();
    UpdateStatusText();
    if (error)
        Prompts().ShowMessage(Utf8("削除"),
                              Utf8("キャッシュから削除できなかったエントリがあります。\n") +
                                  ErrorText(error),
                              QMessageBox::Warning, QMessageBox::Ok);
}

void TMainCommands::RunFramed(const QString& text, int eventsEvery,
                              const std::function<void(TProgress&)>& run) {
    // A list still to follow a key walk in the tree waits for the command;
    // a selection moved by the command is followed once it is over, not
    // from a tree half changed.
    const bool follow = tmrNodeChange->isActive();
    tmrNodeChange->stop();
    Busy_ = true;
    Views_.Status->RunFramed(Window_, text, eventsEvery, run);
    Busy_ = false;
    Views_.Tree->RebuildIfEmptied();
    if (FolderPending_)
        ShowSelectedFolder();
    lvwCacheSelectItem();
    UpdateStatusText();
    if (follow)
        tmrNodeChange->start();
}

// Copies -------------------------------------------------------------------------

void TMainCommands::CopyToFolder(const std::filesystem::path& destination) {
    if (Busy_)
        return;
    std::vector<TWebCacheTreeNode*> nodes;
    const TWebCacheTreeNode* prefixFolder = nullptr;
    if (Focus_ == TFocusView::Tree) {
        TWebCacheTreeNode* node = ContextNode();
        if (node == nullptr)
            node = Views_.Tree->SelectedNode();
        if (node == nullptr)
            return;
        nodes.push_back(node);
        prefixFolder = node->Parent();
    } else {
        nodes = Views_.List->SelectedNodes();
        prefixFolder = Tree_.FindNodeByUrl(Views_.List->CurrentFolder());
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
    Views_.Status->showMessage(CopySummary_, kSummaryShownFor);
}

void TMainCommands::actFileCopyToDefaultFolderExecute() {
    const std::string& folder = Favorites_.DefaultItem().PathName;
    CopyToFolder(AnsiToPath(folder));
}

void TMainCommands::actFileCopyToFolderExecute() {
    std::filesystem::path folder;
    if (Prompts().AskCopyFolder(folder))
        CopyToFolder(folder);
}

void TMainCommands::actFileCopyExecute() {
    if (Focus_ == TFocusView::Favorites || Busy_)
        return;
    const TDragNodes nodes = CollectDragNodes();
    if (nodes.Nodes.empty())
        return;
    // A failed copy leaves the clipboard and its files as they were.
    if (const auto files = CopyToTemp(nodes))
        QApplication::clipboard()->setMimeData(FileListMimeData(*files));
}

// Options and help ---------------------------------------------------------------

void TMainCommands::mnuDefExtNameClick() {
    if (Busy_ || !Prompts().EditDefaultExtensions(Tree_.ContentTypes()))
        return;
    if (TError error = Tree_.SaveContentTypes())
        Prompts().ShowMessage(Caption(),
                              Utf8("既定の拡張子を保存できませんでした。\n") + ErrorText(error),
                              QMessageBox::Warning, QMessageBox::Ok);
    actCacheRefresh->trigger();
}

void TMainCommands::mnuEnableSchemeClick() {
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

void TMainCommands::mnuHelpContentsClick() {
    const std::filesystem::path index = HelpIndexFile();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(index, ec) ||
        !QDesktopServices::openUrl(ToFileUrl(index)))
        Prompts().ShowMessage(Caption(),
                              Utf8("ヘルプを開けませんでした。\n") + PathToQString(index),
                              QMessageBox::Information, QMessageBox::Ok);
}

void TMainCommands::mnuAboutClick() {
    TfrmAbout about(QStringLiteral(TARNHOLD_VERSION), Window_);
    about.exec();
}

} // namespace tarnhold::gui
