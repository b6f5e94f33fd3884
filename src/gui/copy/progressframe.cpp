#include "copy/progressframe.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>

namespace tarnhold::gui {

QString CopyToFolderText() {
    return QStringLiteral("フォルダへコピー中...");
}
QString CopyToLocalText() {
    return QStringLiteral("ローカルへコピー中...");
}
QString CopyToTempText() {
    return QStringLiteral("テンポラリへコピー中...");
}
QString DeletingText() {
    return QStringLiteral("削除中...");
}

TProgressFrame::TProgressFrame(QWidget* window, QProgressBar* bar, QLabel* panel,
                               const QString& text, int maximum, int processEvery,
                               std::function<void()> done)
    : window_(window), bar_(bar), panel_(panel), maximum_(maximum),
      processEvery_(processEvery > 0 ? processEvery : 1), done_(std::move(done)) {
    if (window_ != nullptr)
        window_->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::processEvents();
    if (bar_ != nullptr) {
        bar_->setRange(0, maximum_);
        bar_->setValue(0);
        bar_->show();
    }
    if (panel_ != nullptr) {
        panel_->setText(text);
        panel_->repaint();
    }
}

TProgressFrame::~TProgressFrame() {
    if (bar_ != nullptr)
        bar_->hide();
    QApplication::restoreOverrideCursor();
    if (window_ != nullptr)
        window_->setEnabled(true);
    if (done_)
        done_();
}

void TProgressFrame::SetMaximum(int maximum) {
    maximum_ = maximum;
    if (bar_ != nullptr)
        bar_->setMaximum(maximum_);
}

void TProgressFrame::RaiseMaximum() {
    SetMaximum(maximum_ + 1);
}

void TProgressFrame::Step(const TWebCacheTreeNode* /*node*/) {
    ++position_;
    if (bar_ != nullptr) {
        bar_->setValue(std::min(position_, bar_->maximum()));
        bar_->repaint();
    }
    if (position_ % processEvery_ == 0)
        QApplication::processEvents();
}

} // namespace tarnhold::gui
