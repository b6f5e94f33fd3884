// Helpers of the window's tests: answering the dialog that is about to run
// modally, and prompts that record the message boxes instead of showing
// them.
#pragma once

#include "app/prompts.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <initializer_list>
#include <vector>

namespace tarnhold::gui::test {

// UTF-8 lines as a QStringList, for comparing rows and captions.
QStringList Lines(std::initializer_list<const char*> lines);

// Runs act on the next modal dialog once it is shown.
void OnNextDialog(std::function<void(QWidget*)> act);
// Once the next modal dialog runs, clicks its button of that object name;
// with an empty name, closes the dialog through its close box.
void AnswerNextDialog(const QString& buttonName);
// Once the next modal dialog runs, sends it this key.
void KeyToNextDialog(int key);

struct TShownMessage {
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon;
    QMessageBox::StandardButtons Buttons;
};

// The real dialogs, but message boxes are recorded and answered with
// Answer.
class TRecordingPrompts : public TGuiPrompts {
public:
    using TGuiPrompts::TGuiPrompts;
    QMessageBox::StandardButton ShowMessage(const QString& caption, const QString& text,
                                            QMessageBox::Icon icon,
                                            QMessageBox::StandardButtons buttons) override {
        Messages.push_back({caption, text, icon, buttons});
        return Answer;
    }
    std::vector<TShownMessage> Messages;
    QMessageBox::StandardButton Answer = QMessageBox::Ok;
};

} // namespace tarnhold::gui::test
