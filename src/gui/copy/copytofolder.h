// The dialog that asks where a copy goes: a folder typed in or picked with
// the desktop's folder browser. It is made once and shown again and again,
// so it offers the last folder the next time.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLineEdit;
class QPushButton;

namespace tarnhold::gui {

class TfrmCopyToFolder : public QDialog {
    Q_OBJECT
public:
    explicit TfrmCopyToFolder(QWidget* parent = nullptr);

    // The folder text as it stands (ends with "/" when it came from the
    // folder browser).
    QString GetFolderName() const;
    void SetFolderName(const QString& folder);

    // Picks a folder: (owner, prompt, start folder) -> the folder, or empty
    // when the user cancelled. The desktop's folder browser by default;
    // tests put their own here.
    using TFolderPicker =
        std::function<QString(QWidget* owner, const QString& prompt, const QString& start)>;
    void SetFolderPicker(TFolderPicker picker) { picker_ = std::move(picker); }

    QLineEdit* FolderEdit() const { return edtFolder_; }
    QPushButton* BrowseButton() const { return btnBrowse_; }
    QPushButton* OkButton() const { return btnOk_; }
    QPushButton* CancelButton() const { return btnCancel_; }

public slots:
    void btnBrowseClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void UpdateOk();

    QLineEdit* edtFolder_;
    QPushButton* btnBrowse_;
    QPushButton* btnOk_;
    QPushButton* btnCancel_;
    TFolderPicker picker_;
};

} // namespace tarnhold::gui
