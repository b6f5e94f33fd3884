// The dialog that edits favorites: one favorite (its title, URL, save folder,
// default file name and copy options), several at once (only what they share
// is shown; what is left empty stays as each had it), or the default favorite
// that new favorites start from. It is made once and reused; EditItem or
// EditItems sets the mode before each showing. Items change only when
// "登録(&E)" passes its checks: a cancel leaves them untouched.
#pragma once

#include "favorites/favorites.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tarnhold::gui {

class TGuiPrompts;

// The modes of the dialog.
enum class TEditMode { Single, Default, Multiple };

class TfrmEditFavorite : public QDialog {
    Q_OBJECT
public:
    // The check messages go through prompts.
    explicit TfrmEditFavorite(TGuiPrompts& prompts, QWidget* parent = nullptr);

    // One favorite, or the default favorite when isDefault (no title, no URL).
    void EditItem(TFavoriteItem* item, bool isDefault);
    // Several favorites: the boxes and groups show a value only where every
    // item has it.
    void EditItems(std::vector<TFavoriteItem*> items);
    TEditMode Mode() const { return Mode_; }

    // Picks a folder: (owner, title, start folder) -> the folder, or empty
    // when the user cancelled. The desktop's folder dialog by default.
    using TFolderPicker =
        std::function<QString(QWidget* owner, const QString& title, const QString& start)>;
    void SetFolderPicker(TFolderPicker picker) { Picker_ = std::move(picker); }

    // "登録(&E)": checks the boxes in order, tells the first problem and
    // stays open; otherwise writes the items and closes with OK.
    void btnOkClick();
    // "参照(&B)...": a folder for the save folder box.
    void btnBrowseClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The radio groups: the index checked, -1 for none.
    static int Checked(const QButtonGroup* group);
    static void Check(QButtonGroup* group, int index);
    // Whether the check passed; if not, says why and focuses box.
    bool Require(QLineEdit* box, const char* message);
    void ShowFields(bool titleAndUrl);

    TGuiPrompts& Prompts_;
    TEditMode Mode_ = TEditMode::Single;
    TFavoriteItem* Item_ = nullptr;
    std::vector<TFavoriteItem*> Items_;
    TFolderPicker Picker_;

    QLabel* lblTitle;
    QLineEdit* edtTitle;
    QLabel* lblUrl;
    QLineEdit* edtUrl;
    QLineEdit* edtPath;
    QPushButton* btnBrowse;
    QLineEdit* edtDefault;
    QGroupBox* rgpFolder;
    QButtonGroup* grpFolder;
    QGroupBox* rgpMethod;
    QButtonGroup* grpMethod;
    QGroupBox* rgpTimer;
    QButtonGroup* grpTimer;
    QCheckBox* chkAllLinks;
    QPushButton* btnOk;
    QPushButton* btnCancel;
};

} // namespace tarnhold::gui
