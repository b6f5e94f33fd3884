#include "copy/copytofolder.h"

#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnhold::gui {

TfrmCopyToFolder::TfrmCopyToFolder(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmCopyToFolder"));
    setWindowTitle(QStringLiteral("フォルダを指定してコピー"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* label = new QLabel(QStringLiteral("コピー先フォルダ"), this);
    edtFolder_ = new QLineEdit(this);
    edtFolder_->setObjectName(QStringLiteral("edtFolder"));
    edtFolder_->setMinimumWidth(360);
    label->setBuddy(edtFolder_);
    btnBrowse_ = new QPushButton(QStringLiteral("参照(&B)..."), this);
    btnBrowse_->setObjectName(QStringLiteral("btnBrowse"));
    btnBrowse_->setAutoDefault(false);
    btnOk_ = new QPushButton(QStringLiteral("コピー実行(&P)"), this);
    btnOk_->setObjectName(QStringLiteral("btnOk"));
    btnOk_->setDefault(true);
    btnCancel_ = new QPushButton(QStringLiteral("キャンセル(&C)"), this);
    btnCancel_->setObjectName(QStringLiteral("btnCancel"));
    btnCancel_->setAutoDefault(false);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(edtFolder_, 1);
    folderRow->addWidget(btnBrowse_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk_);
    buttons->addWidget(btnCancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(folderRow);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(btnBrowse_, &QPushButton::clicked, this, &TfrmCopyToFolder::btnBrowseClick);
    connect(btnOk_, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(edtFolder_, &QLineEdit::textChanged, this, [this] { UpdateOk(); });
    UpdateOk();

    picker_ = [](QWidget* owner, const QString& prompt, const QString& start) {
        return QFileDialog::getExistingDirectory(owner, prompt, start, QFileDialog::ShowDirsOnly);
    };
}

QString TfrmCopyToFolder::GetFolderName() const {
    return edtFolder_->text();
}

void TfrmCopyToFolder::SetFolderName(const QString& folder) {
    edtFolder_->setText(folder);
}

void TfrmCopyToFolder::btnBrowseClick() {
    QString start = edtFolder_->text();
    while (start.size() > 1 && start.endsWith(QLatin1Char('/')))
        start.chop(1);
    QString folder = picker_(this, QStringLiteral("コピー先フォルダを選択してください"), start);
    if (folder.isEmpty())
        return; // cancelled: the text stays as it was
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    edtFolder_->setText(folder);
}

void TfrmCopyToFolder::UpdateOk() {
    // A copy goes to a folder named in full: an empty or relative text would
    // land wherever the program happens to run.
    const QString text = edtFolder_->text();
    btnOk_->setEnabled(!text.isEmpty() && QDir::isAbsolutePath(text));
}

void TfrmCopyToFolder::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    edtFolder_->setFocus();
    edtFolder_->selectAll();
}

} // namespace tarnhold::gui
