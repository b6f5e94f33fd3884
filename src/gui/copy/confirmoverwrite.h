// The question before a copy replaces a file that is already there: the
// file on disk and the cached one side by side (icon, size, time), and six
// answers. Its result is the answer (OverwriteResult); closing the window
// or Escape answers Cancel.
#pragma once

#include "copy/copyprompts.h"

#include <QDialog>
#include <filesystem>

class QLabel;
class QPushButton;

namespace tarnhold {
class TWebCacheTreeNode;
}

namespace tarnhold::gui {

// The dialog's result for an answer (apart from QDialog's Rejected and
// Accepted), and the answer a result stands for: Cancel for a result that no
// button gives (the dialog ended some other way).
int OverwriteResult(TOverwriteAnswer answer);
TOverwriteAnswer OverwriteAnswerOf(int result);

class TfrmConfirmOverwrite : public QDialog {
    Q_OBJECT
public:
    explicit TfrmConfirmOverwrite(QWidget* parent = nullptr);

    // Fills the dialog for the cached node whose copy would replace the file
    // at localPath.
    void Prepare(const TWebCacheTreeNode& node, const std::filesystem::path& localPath);

    // The button that gives answer, or null.
    QPushButton* ButtonFor(TOverwriteAnswer answer) const;

    // What Prepare showed, for tests and screenshots.
    QString TitleText() const;
    QString ExistingSizeText() const;
    QString ExistingTimeText() const;
    QString CacheSizeText() const;
    QString CacheTimeText() const;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* imgWarning_;
    QLabel* txtTitle_;
    QLabel* imgExisting_;
    QLabel* txtExistingSize_;
    QLabel* txtExistingTime_;
    QLabel* imgCache_;
    QLabel* txtCacheSize_;
    QLabel* txtCacheTime_;
    struct TButton {
        QPushButton* button;
        TOverwriteAnswer answer;
    };
    TButton buttons_[6];
};

} // namespace tarnhold::gui
