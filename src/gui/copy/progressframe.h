// The frame a long command of the window runs in (copy, delete): the window
// is disabled and shows the busy cursor, the status bar's progress bar gets
// the command's maximum and the first panel names the work ("...中...").
// Pending events are processed once at the start and then every few steps,
// which keeps the window painted while no input reaches it. Everything is
// put back when the frame goes.
#pragma once

#include "copy/copyprompts.h"

#include <QPointer>
#include <QString>
#include <functional>

class QLabel;
class QProgressBar;
class QWidget;

namespace tarnhold::gui {

// The texts of the first status panel while a command runs.
QString CopyToFolderText(); // "フォルダへコピー中..."
QString CopyToLocalText();  // "ローカルへコピー中..."
QString CopyToTempText();   // "テンポラリへコピー中..."
QString DeletingText();     // "削除中..."

class TProgressFrame : public TProgress {
public:
    // window is disabled for the frame's life; bar and panel (either may be
    // null) show the progress and the text. Events are processed every
    // processEvery steps (10 for a copy, 100 for a deletion). done runs
    // last, after everything is put back (the window rewrites its status
    // texts there).
    TProgressFrame(QWidget* window, QProgressBar* bar, QLabel* panel, const QString& text,
                   int maximum, int processEvery, std::function<void()> done = {});
    ~TProgressFrame() override;
    TProgressFrame(const TProgressFrame&) = delete;
    TProgressFrame& operator=(const TProgressFrame&) = delete;

    void SetMaximum(int maximum) override;
    void RaiseMaximum() override;
    void Step(const TWebCacheTreeNode* node) override;

    int Maximum() const { return maximum_; }
    int Position() const { return position_; }

private:
    QPointer<QWidget> window_;
    QPointer<QProgressBar> bar_;
    QPointer<QLabel> panel_;
    int maximum_ = 0;
    int position_ = 0;
    int processEvery_;
    std::function<void()> done_;
};

} // namespace tarnhold::gui
