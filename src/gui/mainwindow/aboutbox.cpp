#include "mainwindow/aboutbox.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tarnhold::gui {

TfrmAbout::TfrmAbout(const QString& version, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("バージョン情報"));
    setObjectName(QStringLiteral("frmAbout"));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("imgIcon"));
    icon->setPixmap(QApplication::windowIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);

    auto* title = new QLabel(QApplication::applicationDisplayName(), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont big = title->font();
    big.setPointSize(big.pointSize() + 3);
    big.setBold(true);
    title->setFont(big);

    lblVersion = new QLabel(QStringLiteral("Version ") +
                                (version.isEmpty() ? QStringLiteral("(未定義)") : version),
                            this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));

    auto* texts = new QVBoxLayout;
    texts->addWidget(title);
    texts->addWidget(lblVersion);
    texts->addStretch();

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(texts, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    setMinimumWidth(280);
}

QString TfrmAbout::VersionText() const {
    return lblVersion->text();
}

} // namespace tarnhold::gui
