// The refresh of the tree from the cache, the choice of the cache it reads,
// the favorite whose site the tree shows, and how the list and the status
// bar follow the tree's selection.
#include "app/japanese.h"
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "favorites/favorites.h"
#include "mainwindow/cachechooser.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "mainwindow/mainstatusbar.h"
#include "sources/opencache.h"
#include "tree/webcachetree.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

namespace tarnhold::gui {

namespace {

// Pending events are handled once per this many entries of a long run: often
// enough to repaint, seldom enough not to cost the run its speed.
constexpr int kEventsEvery = 100;

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

// The refresh ----------------------------------------------------------------

void TMainCommands::RefreshCache() {
    TMainStatusBar& status = *Views_.Status;
    tmrNodeChange->stop();
    Busy_ = true;
    Window_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QCoreApplication::processEvents();
    status.SetText(0, Utf8("初期化中..."));
    status.BeginProgress();
    TRefreshStage shown = TRefreshStage::Reading;
    const TError error = Tree_.Refresh([&](TRefreshStage stage, int done, int total) {
        if (stage != shown) {
            shown = stage;
            switch (stage) {
            case TRefreshStage::Reading:
                break;
            case TRefreshStage::Building:
                status.SetText(0, Utf8("キャッシュ情報の更新中..."));
                status.SetProgressRange(std::max(total, 1));
                break;
            case TRefreshStage::Sorting:
                status.SetText(0, Utf8("キャッシュ情報のソート中..."));
                break;
            case TRefreshStage::Naming:
                status.SetText(0, Utf8("重複ファイル名の変更中..."));
                break;
            }
        }
        // The bar moves in steps of the event turns: setting it for every
        // entry costs more than placing the entry.
        if (stage == TRefreshStage::Building && (done % kEventsEvery == 0 || done == total))
            status.SetProgress(done);
        if ((stage == TRefreshStage::Reading || stage == TRefreshStage::Building) &&
            done % kEventsEvery == 0)
            QCoreApplication::processEvents();
    });
    status.EndProgress();
    QApplication::restoreOverrideCursor();
    Window_->setEnabled(true);
    Busy_ = false;
    QString problem = WithListProblem(error ? JapaneseText(error.Text()) : BaseProblem_);
    // What the cache could not read is said even when the rest was read.
    if (const TCacheSource* source = Tree_.Cache().Source()) {
        const TReadReport report = source->ReadReport();
        if (report.Damaged && !report.Summary.empty()) {
            const QString summary = ReadReportText(report);
            if (problem.isEmpty())
                problem = summary;
            else if (!problem.contains(summary))
                problem += QStringLiteral(" / ") + summary;
        }
    }
    status.ShowProblem(EscapeControls(problem));
}

void TMainCommands::actCacheRefreshExecute() {
    RefreshCache();
    Views_.Tree->Rebuild();
}

// The cache read -------------------------------------------------------------

void TMainCommands::SetCurrentCache(const TFoundCache& cache) {
    CurrentCache_ = cache;
    emit cacheChanged(CurrentCache_);
}

bool TMainCommands::OpenCache(const TFoundCache& cache) {
    if (Busy_)
        return false;
    TError error;
    std::unique_ptr<TCacheSource> source = OpenCacheSourceAt(cache.Folder, cache.Kind, &error);
    if (!source) {
        Prompts().ShowMessage(Caption(),
                              Utf8("キャッシュを開けません。\n") +
                                  EscapeControls(PathToQString(cache.Folder)) +
                                  QStringLiteral("\n") + ErrorText(error),
                              QMessageBox::Warning, QMessageBox::Ok);
        return false;
    }
    // The local names given so far belong to the cache read until now, the
    // default extensions to the data folder: both are saved first, and the
    // tree then takes the rename list of the new cache.
    if (TError saved = Tree_.SaveDataFiles())
        Prompts().ShowMessage(Caption(),
                              Utf8("データファイルを保存できませんでした。\n") + ErrorText(saved),
                              QMessageBox::Warning, QMessageBox::Ok);
    // Without a cache before, the problem shown was that; it is gone now.
    if (CurrentCache_.Folder.empty())
        BaseProblem_.clear();
    Tree_.SetRenameListFor(DataFolder_, CacheIdentityPath(cache.Folder, cache.Kind));
    Tree_.Cache().SetSource(std::move(source));
    SetCurrentCache(cache);
    RefreshCache();
    Views_.Tree->Rebuild();
    return true;
}

void TMainCommands::ChooseCache() {
    if (Busy_)
        return;
    const std::vector<TFoundCache> caches = FindCaches ? FindCaches() : std::vector<TFoundCache>{};
    TFoundCache chosen;
    if (!Prompts().ChooseCache(caches, CurrentCache_.Folder, chosen))
        return;
    OpenCache(chosen);
}

void TMainCommands::SetCacheProblem(const QString& text) {
    BaseProblem_ = text;
    Views_.Status->ShowProblem(EscapeControls(WithListProblem(text)));
}

QString TMainCommands::WithListProblem(const QString& problem) const {
    const QString list = RenameListProblem(Tree_);
    if (list.isEmpty() || problem.contains(list))
        return problem;
    return problem.isEmpty() ? list : problem + QStringLiteral(" / ") + list;
}

// Tree and list ----------------------------------------------------------------

bool TMainCommands::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Views_.Tree) {
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
    return QObject::eventFilter(watched, event);
}

void TMainCommands::tvwCacheChange() {
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

void TMainCommands::tmrNodeChangeTimer() {
    tmrNodeChange->stop();
    ShowSelectedFolder();
}

void TMainCommands::ShowSelectedFolder() {
    FolderPending_ = false;
    QTreeWidgetItem* item = Views_.Tree->currentItem();
    if (item == nullptr)
        return;
    Views_.FolderCaption->setText(Utf8(" 開いているフォルダ: ") + item->text(0));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Views_.List->SetFolder(Views_.Tree->SelectedPath());
    QApplication::restoreOverrideCursor();
    UpdateStatusText();
}

void TMainCommands::UpdateStatusText() {
    // Every row a deletion takes from the list changes its selection; the
    // texts are counted once when the command is over, not once per row.
    if (Busy_)
        return;
    // The counts and sizes come from the list itself, so they can never
    // drift from the rows and the selection it shows.
    const auto [count, size] = StatusTexts(Views_.List->Statistics());
    Views_.Status->SetText(0, count);
    Views_.Status->SetText(1, size);
}

void TMainCommands::OnNodeDeleted(std::string_view url) {
    const std::string text(url);
    Views_.List->RemoveRowByUrl(text);
    if (!text.empty() && text.back() == '/')
        Views_.Tree->RemovePath(text);
}

// Favorites ----------------------------------------------------------------------

void TMainCommands::OpenFavorite(const TFavoriteItem* favorite) {
    if (favorite == CurrentFavorite_)
        return;
    CurrentFavorite_ = favorite;
    Tree_.DefaultFileName =
        favorite != nullptr ? favorite->Default : Favorites_.DefaultItem().Default;
    // A favorite written by hand may name no default file: the pages of
    // folder URLs would then have no name to show or to be copied under.
    if (Tree_.DefaultFileName.empty())
        Tree_.DefaultFileName = TFavorites::MakeDefaultItem().Default;
    Views_.Status->SetText(0, Utf8("重複ファイル名の変更中..."));
    if (favorite != nullptr) {
        if (TWebCacheTreeNode* folder = Tree_.FindFolderByUrl(favorite->UrlName))
            Tree_.RenameDuplicates(folder);
        Views_.Tree->SetRoot(favorite->Title, favorite->UrlName);
    } else {
        Tree_.RenameDuplicates(Tree_.Root());
        Views_.Tree->SetRoot("Web Cache", "");
    }
    UpdateStatusText();
}

} // namespace tarnhold::gui
