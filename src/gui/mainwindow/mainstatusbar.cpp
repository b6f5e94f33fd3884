#include "mainwindow/mainstatusbar.h"

#include "copy/progressframe.h"

#include <QLabel>
#include <QProgressBar>

namespace tarnhold::gui {

TMainStatusBar::TMainStatusBar(QWidget* parent) : QStatusBar(parent) {
    setObjectName(QStringLiteral("stbMain"));
    // As a main window makes its own status bar.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setSizeGripEnabled(true);
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
    prgProgress->setMaximumHeight(sizeHint().height());
    prgProgress->setTextVisible(false);
    prgProgress->hide();
    stsProblem = new QLabel;
    stsProblem->setObjectName(QStringLiteral("stsProblem"));
    stsProblem->setTextFormat(Qt::PlainText);
    stsProblem->hide();
    addWidget(stsPanel0);
    addWidget(stsPanel1, 1);
    // While a long run goes, the progress bar takes the place of panel 1.
    addWidget(prgProgress, 1);
    addPermanentWidget(stsProblem);
}

void TMainStatusBar::SetText(int panel, const QString& text) {
    QLabel* label = panel == 0 ? stsPanel0 : stsPanel1;
    label->setText(text);
    label->repaint();
}

QString TMainStatusBar::Text(int panel) const {
    return panel == 0 ? stsPanel0->text() : stsPanel1->text();
}

void TMainStatusBar::BeginProgress() {
    prgProgress->setRange(0, 0);
    stsPanel1->hide();
    prgProgress->show();
}

void TMainStatusBar::SetProgressRange(int maximum) {
    prgProgress->setRange(0, maximum);
}

void TMainStatusBar::SetProgress(int value) {
    prgProgress->setValue(value);
}

void TMainStatusBar::EndProgress() {
    prgProgress->hide();
    stsPanel1->show();
}

bool TMainStatusBar::ProgressVisible() const {
    return prgProgress->isVisible();
}

void TMainStatusBar::RunFramed(QWidget* window, const QString& text, int eventsEvery,
                               const std::function<void(TProgress&)>& run) {
    stsPanel1->hide();
    TProgressFrame frame(window, prgProgress, stsPanel0, text, 0, eventsEvery,
                         [this] { stsPanel1->show(); });
    run(frame);
}

void TMainStatusBar::ShowProblem(const QString& text) {
    stsProblem->setText(text.isEmpty() ? QString() : QStringLiteral("⚠ ") + text);
    stsProblem->setToolTip(text);
    stsProblem->setVisible(!text.isEmpty());
}

QString TMainStatusBar::ProblemText() const {
    return stsProblem->toolTip();
}

} // namespace tarnhold::gui
