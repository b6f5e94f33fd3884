// The default-extension dialog: every content type of the table with its
// default extension; the user picks or types another one. Changes go into
// the table at once; the dialog's result is Accepted when something changed
// (the cache tree is then rebuilt so that new names follow), Rejected
// otherwise.
#pragma once

#include <QDialog>
#include <QHash>
#include <QIcon>

class QComboBox;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tarnhold {
class TContentType;
}

namespace tarnhold::gui {

class TGuiPrompts;

class TfrmDefExtName : public QDialog {
    Q_OBJECT
public:
    // prompts shows the check message (not owned).
    explicit TfrmDefExtName(TGuiPrompts& prompts, QWidget* parent = nullptr);

    // Fills the rows from table, which must outlive the dialog's use.
    void Fill(TContentType& table);

    bool Changed() const { return changed_; }
    // Whether the row shows the mark of a type with several extensions.
    static bool HasSeveralMark(const QTreeWidgetItem* row);

    QTreeWidget* ContentTypeList() const { return lvwContentType_; }
    QComboBox* ExtNameBox() const { return cbxExtName_; }
    QPushButton* ChangeButton() const { return btnChange_; }
    QPushButton* CloseButton() const { return btnClose_; }

public slots:
    void btnChangeClick();
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void lvwContentTypeSelectItem();
    void UpdateRow(QTreeWidgetItem* row, int index);
    QIcon ExtensionIcon(const std::string& ext);

    TGuiPrompts& prompts_;
    TContentType* table_ = nullptr;
    bool changed_ = false;
    QTreeWidget* lvwContentType_;
    QComboBox* cbxExtName_;
    QPushButton* btnChange_;
    QPushButton* btnClose_;
    QIcon severalMark_;
    // Icons by lower-cased extension, kept across openings.
    QHash<QString, QIcon> icons_;
};

} // namespace tarnhold::gui
