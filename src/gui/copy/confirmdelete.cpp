#include "copy/confirmdelete.h"

#include "app/dialogplace.h"
#include "app/qtconvert.h"
#include "copy/copyprompts.h"
#include "tree/webcachetree.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tarnhold::gui {

TfrmConfirmDelete::TfrmConfirmDelete(QWidget* owner, const std::vector<TWebCacheTreeNode*>& nodes)
    : QDialog(owner) {
    setObjectName(QStringLiteral("frmConfirmDelete"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    imgIcon_ = new QLabel(this);
    imgIcon_->setFixedSize(32, 32);
    txtMessage_ = new QLabel(this);
    txtMessage_->setObjectName(QStringLiteral("txtMessage"));
    txtMessage_->setTextFormat(Qt::PlainText);
    txtMessage_->setWordWrap(true);
    txtMessage_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    txtMessage_->setFixedSize(401, 65);
    btnYes_ = new QPushButton(QStringLiteral("はい(&Y)"), this);
    btnYes_->setObjectName(QStringLiteral("btnYes"));
    btnYes_->setDefault(true);
    btnNo_ = new QPushButton(QStringLiteral("いいえ(&N)"), this);
    btnNo_->setObjectName(QStringLiteral("btnNo"));
    btnNo_->setAutoDefault(false);
    connect(btnYes_, &QPushButton::clicked, this, [this] { done(Accepted); });
    connect(btnNo_, &QPushButton::clicked, this, [this] { done(Rejected); });

    auto* top = new QHBoxLayout;
    top->addWidget(imgIcon_, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addWidget(txtMessage_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnYes_);
    buttons->addWidget(btnNo_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // A name too long for the label is shortened in its middle (a name
    // without blanks would not wrap); the whole message is the tool tip.
    QString caption;
    QString message;
    QString fullMessage;
    if (nodes.size() == 1) {
        const TWebCacheTreeNode* node = nodes.front();
        const QString pattern =
            node->IsFolder
                ? QStringLiteral(
                      "フォルダ '%1' とフォルダ内のすべてのファイルを削除してもよろしいですか？")
                : QStringLiteral("'%1' を削除してもよろしいですか？");
        caption = node->IsFolder ? QStringLiteral("フォルダの削除の確認")
                                 : QStringLiteral("ファイルの削除の確認");
        const QString name = DisplayText(node->DisplayName());
        fullMessage = pattern.arg(name);
        message = pattern.arg(txtMessage_->fontMetrics().elidedText(name, Qt::ElideMiddle, 360));
    } else {
        // The count is of the nodes chosen, folders included.
        caption = QStringLiteral("複数ファイルの削除の確認");
        message = QStringLiteral("これらの %1 個のファイルを削除してもよろしいですか？")
                      .arg(static_cast<qulonglong>(nodes.size()));
        fullMessage = message;
    }
    setWindowTitle(caption);
    txtMessage_->setProperty("fullText", fullMessage);
    if (fullMessage != message)
        txtMessage_->setToolTip(fullMessage);
    txtMessage_->setText(message);
}

QString TfrmConfirmDelete::MessageText() const {
    return txtMessage_->property("fullText").toString();
}

void TfrmConfirmDelete::reject() {
    done(Rejected);
}

void TfrmConfirmDelete::showEvent(QShowEvent* event) {
    const QIcon trash = QIcon::fromTheme(QStringLiteral("user-trash-full"),
                                         style()->standardIcon(QStyle::SP_TrashIcon));
    imgIcon_->setPixmap(trash.pixmap(32, 32));
    QDialog::showEvent(event);
    CenterOnScreen(*this);
}

} // namespace tarnhold::gui
