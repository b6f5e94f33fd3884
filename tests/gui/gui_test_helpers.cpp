#include "gui/gui_test_helpers.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace tarnhold::gui::test {

QStringList Lines(std::initializer_list<const char*> lines) {
    QStringList out;
    for (const char* line : lines)
        out.append(QString::fromUtf8(line));
    return out;
}
namespace {

// Runs act on the modal dialog as soon as one is shown; gives up after a
// few seconds so that a test never hangs on a dialog that did not come.
void WhenModal(std::function<void(QWidget*)> act, int tries = 500) {
    QTimer::singleShot(10, qApp, [act = std::move(act), tries]() mutable {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || !dialog->isVisible()) {
            if (tries > 0)
                WhenModal(std::move(act), tries - 1);
            return;
        }
        act(dialog);
    });
}

} // namespace

void OnNextDialog(std::function<void(QWidget*)> act) {
    WhenModal(std::move(act));
}

void AnswerNextDialog(const QString& buttonName) {
    WhenModal([buttonName](QWidget* dialog) {
        if (buttonName.isEmpty()) {
            dialog->close();
            return;
        }
        if (auto* button = dialog->findChild<QPushButton*>(buttonName))
            button->click();
        else
            dialog->close();
    });
}

void KeyToNextDialog(int key) {
    WhenModal([key](QWidget* dialog) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(dialog, &press);
    });
}

} // namespace tarnhold::gui::test
