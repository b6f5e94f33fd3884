// The main window's status bar: panel 0 says what is selected (or what a
// long run is doing), panel 1 their size; during a long run the progress
// bar takes the place of panel 1. At the right a warning says why the cache
// could not be read, or not all of it.
#pragma once

#include <QStatusBar>
#include <QString>
#include <functional>

class QLabel;
class QProgressBar;

namespace tarnhold {
class TProgress;
}

namespace tarnhold::gui {

class TMainStatusBar : public QStatusBar {
    Q_OBJECT
public:
    // Made with the window as parent, so that it takes the window's font.
    explicit TMainStatusBar(QWidget* parent);

    // A panel's text (0 or 1), repainted at once.
    void SetText(int panel, const QString& text);
    QString Text(int panel) const;

    // The progress bar in place of panel 1: an undetermined run until
    // SetProgressRange gives it a maximum.
    void BeginProgress();
    void SetProgressRange(int maximum);
    void SetProgress(int value);
    void EndProgress();
    bool ProgressVisible() const;
    // Runs a long command with window disabled, text in panel 0 and its
    // steps counted by the progress bar; pending events are handled every
    // eventsEvery steps. Panel 1 comes back when it is over.
    void RunFramed(QWidget* window, const QString& text, int eventsEvery,
                   const std::function<void(TProgress&)>& run);

    // The warning beside the panels (empty: none), its control characters
    // already escaped.
    void ShowProblem(const QString& text);
    QString ProblemText() const;

private:
    QLabel* stsPanel0 = nullptr;
    QLabel* stsPanel1 = nullptr;
    QLabel* stsProblem = nullptr;
    QProgressBar* prgProgress = nullptr;
};

} // namespace tarnhold::gui
