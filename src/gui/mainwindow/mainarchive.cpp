// Saving what the views select as a web archive (WARC or WACZ), in the
// frame the copies run in.
#include "app/japanese.h"
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "archive/webarchive.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "mainwindow/mainstatusbar.h"

#include <QDir>
#include <QMessageBox>

namespace tarnhold::gui {

namespace {

constexpr int kArchiveEventsEvery = 10;
constexpr int kArchiveSummaryShownFor = 20000; // ms

} // namespace

void TMainCommands::actFileSaveArchiveExecute() {
    if (Focus_ == TFocusView::Favorites || Busy_)
        return;
    // What the copy commands take: the tree's folder, or the list's rows.
    std::vector<TWebCacheTreeNode*> nodes;
    if (Focus_ == TFocusView::Tree) {
        TWebCacheTreeNode* node = ContextNode();
        if (node == nullptr)
            node = Views_.Tree->SelectedNode();
        if (node != nullptr)
            nodes.push_back(node);
    } else {
        nodes = Views_.List->SelectedNodes();
    }
    if (nodes.empty())
        return;
    SaveArchive(nodes);
}

void TMainCommands::SaveArchive(const std::vector<TWebCacheTreeNode*>& nodes) {
    if (Busy_)
        return;
    std::filesystem::path file =
        ArchiveFile_.empty() ? ToPath(QDir::homePath()) / "site.wacz" : ArchiveFile_;
    bool decoded = false;
    if (!Prompts().AskArchiveFile(file, decoded))
        return;
    ArchiveFile_ = file;
    TArchiveOptions options;
    options.Decoded = decoded;
    TArchiveStats stats;
    TError error;
    RunFramed(QString::fromUtf8("WARC/WACZ へ保存中..."), kArchiveEventsEvery,
              [&](TProgress& progress) {
                  int stepped = 0;
                  int maximum = -1;
                  error = ExportWebArchive(
                      Tree_, nodes, file, options, stats,
                      [&](int done, int total, const TWebCacheTreeNode* node, std::uint64_t) {
                          if (maximum != total)
                              progress.SetMaximum(maximum = total);
                          for (; stepped < done; ++stepped)
                              progress.Step(node);
                          return true;
                      });
              });
    const QString caption = QString::fromUtf8("WARC/WACZ として保存");
    if (error) {
        Prompts().ShowMessage(caption,
                              QString::fromUtf8("Web アーカイブを保存できませんでした。\n") +
                                  ErrorText(error),
                              QMessageBox::Warning, QMessageBox::Ok);
        return;
    }
    QString summary = QString::fromUtf8("%1 件を %2 に保存しました")
                          .arg(stats.Responses + stats.Revisits)
                          .arg(EscapeControls(PathToQString(file)));
    if (stats.Skipped > 0)
        summary += QString::fromUtf8("（読めない %1 件は除外）").arg(stats.Skipped);
    Views_.Status->showMessage(summary, kArchiveSummaryShownFor);
    if (stats.Skipped > 0) {
        QString text = QString::fromUtf8("次のエントリは読めなかったため保存していません:\n");
        int shown = 0;
        for (const TArchiveProblem& problem : stats.Problems) {
            if (++shown > 20)
                break;
            text += DisplayText(problem.Url) + QStringLiteral(": ") +
                    EscapeControls(JapaneseText(problem.What)) + QStringLiteral("\n");
        }
        Prompts().ShowMessage(caption, text, QMessageBox::Warning, QMessageBox::Ok);
    }
}

} // namespace tarnhold::gui
