// The question before cache entries are deleted. Its wording follows what
// is to go: one folder, one file, or several nodes. Made for one deletion;
// its result is Accepted for yes, Rejected for no (Escape and the close box
// too).
#pragma once

#include <QDialog>
#include <vector>

class QLabel;
class QPushButton;

namespace tarnhold {
class TWebCacheTreeNode;
}

namespace tarnhold::gui {

class TfrmConfirmDelete : public QDialog {
    Q_OBJECT
public:
    // The nodes are not owned and only read here.
    TfrmConfirmDelete(QWidget* owner, const std::vector<TWebCacheTreeNode*>& nodes);

    QString MessageText() const;
    QPushButton* YesButton() const { return btnYes_; }
    QPushButton* NoButton() const { return btnNo_; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* imgIcon_;
    QLabel* txtMessage_;
    QPushButton* btnYes_;
    QPushButton* btnNo_;
};

} // namespace tarnhold::gui
