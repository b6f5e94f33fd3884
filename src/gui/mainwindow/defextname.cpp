#include "mainwindow/defextname.h"

#include "app/prompts.h"
#include "app/qtconvert.h"
#include "mainwindow/filetypeinfo.h"
#include "tree/contenttype.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tarnhold::gui {
namespace {

constexpr int kItemRole = Qt::UserRole;        // index of the row's item in the table
constexpr int kSeveralRole = Qt::UserRole + 1; // the row shows the mark

} // namespace

TfrmDefExtName::TfrmDefExtName(TGuiPrompts& prompts, QWidget* parent)
    : QDialog(parent), prompts_(prompts) {
    setObjectName(QStringLiteral("frmDefExtName"));
    setWindowTitle(QStringLiteral("デフォルト拡張子設定"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    lvwContentType_ = new QTreeWidget(this);
    lvwContentType_->setObjectName(QStringLiteral("lvwContentType"));
    lvwContentType_->setRootIsDecorated(false);
    lvwContentType_->setUniformRowHeights(true);
    lvwContentType_->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwContentType_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwContentType_->setHeaderLabels(
        {QStringLiteral("ContentType"), QStringLiteral("デフォルト拡張子")});
    // Wide enough for the longer media types in the desktop's font.
    lvwContentType_->setColumnWidth(0, 240);
    lvwContentType_->setColumnWidth(1, 100);
    lvwContentType_->setMinimumSize(370, 300);
    lvwContentType_->setIconSize(QSize(16, 16));

    cbxExtName_ = new QComboBox(this);
    cbxExtName_->setObjectName(QStringLiteral("cbxExtName"));
    cbxExtName_->setEditable(true);
    cbxExtName_->setInsertPolicy(QComboBox::NoInsert);
    // A default extension is written into contentType.dat between a TAB and
    // a line end: no control character may come into it.
    cbxExtName_->lineEdit()->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[^\\x00-\\x1f\\x7f]*")), cbxExtName_));

    btnChange_ = new QPushButton(QStringLiteral("変更(&U)..."), this);
    btnChange_->setObjectName(QStringLiteral("btnChange"));
    btnChange_->setAutoDefault(false);
    btnClose_ = new QPushButton(QStringLiteral("閉じる(&C)"), this);
    btnClose_->setObjectName(QStringLiteral("btnClose"));
    btnClose_->setAutoDefault(false);

    auto* listLabel = new QLabel(QStringLiteral("登録されている拡張子："), this);
    listLabel->setBuddy(lvwContentType_);
    auto* extLabel = new QLabel(QStringLiteral("デフォルト拡張子："), this);
    extLabel->setBuddy(cbxExtName_);

    auto* extRow = new QHBoxLayout;
    extRow->addWidget(cbxExtName_, 1);
    extRow->addWidget(btnChange_);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(btnClose_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(listLabel);
    layout->addWidget(lvwContentType_, 1);
    layout->addWidget(extLabel);
    layout->addLayout(extRow);
    layout->addSpacing(6);
    layout->addLayout(closeRow);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    severalMark_ = style()->standardIcon(QStyle::SP_FileDialogListView);

    connect(lvwContentType_, &QTreeWidget::itemSelectionChanged, this,
            &TfrmDefExtName::lvwContentTypeSelectItem);
    connect(btnChange_, &QPushButton::clicked, this, &TfrmDefExtName::btnChangeClick);
    connect(btnClose_, &QPushButton::clicked, this, &TfrmDefExtName::reject);
    lvwContentTypeSelectItem();
}

QIcon TfrmDefExtName::ExtensionIcon(const std::string& ext) {
    const QString key = ToQString(ext).toLower();
    auto it = icons_.find(key);
    if (it == icons_.end())
        it = icons_.insert(key, GetFileTypeInfoByExt(ext).Icon);
    return *it;
}

void TfrmDefExtName::UpdateRow(QTreeWidgetItem* row, int index) {
    const TContentTypeItem& item = table_->Items(index);
    const bool several = item.Extensions.size() > 1;
    row->setText(1, DisplayText(item.DefaultExtension));
    row->setIcon(0, ExtensionIcon(item.DefaultExtension));
    row->setIcon(1, several ? severalMark_ : QIcon());
    row->setData(1, kSeveralRole, several);
}

void TfrmDefExtName::Fill(TContentType& table) {
    table_ = &table;
    lvwContentType_->setSortingEnabled(false);
    lvwContentType_->clear();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(table.Count());
    for (int i = 0; i < table.Count(); ++i) {
        auto* row = new QTreeWidgetItem;
        row->setText(0, DisplayText(table.Items(i).ContentType));
        row->setData(0, kItemRole, i);
        UpdateRow(row, i);
        rows.append(row);
    }
    lvwContentType_->addTopLevelItems(rows);
    lvwContentType_->sortItems(0, Qt::AscendingOrder);
}

bool TfrmDefExtName::HasSeveralMark(const QTreeWidgetItem* row) {
    return row != nullptr && row->data(1, kSeveralRole).toBool();
}

void TfrmDefExtName::showEvent(QShowEvent* event) {
    changed_ = false;
    if (lvwContentType_->topLevelItemCount() > 0)
        lvwContentType_->setCurrentItem(lvwContentType_->topLevelItem(0));
    QDialog::showEvent(event);
}

void TfrmDefExtName::lvwContentTypeSelectItem() {
    QTreeWidgetItem* row = lvwContentType_->currentItem();
    const bool selected = row != nullptr && row->isSelected() && table_ != nullptr;
    cbxExtName_->setEnabled(selected);
    btnChange_->setEnabled(selected);
    if (!selected)
        return;
    const TContentTypeItem& item = table_->Items(row->data(0, kItemRole).toInt());
    cbxExtName_->clear();
    for (const std::string& ext : item.Extensions)
        cbxExtName_->addItem(DisplayText(ext));
    cbxExtName_->setEditText(DisplayText(item.DefaultExtension));
}

void TfrmDefExtName::btnChangeClick() {
    QTreeWidgetItem* row = lvwContentType_->currentItem();
    if (row == nullptr || !row->isSelected() || table_ == nullptr)
        return;
    const QString text = cbxExtName_->currentText();
    if (text.isEmpty() || !text.startsWith(QLatin1Char('.'))) {
        prompts_.ShowMessage(QStringLiteral("拡張子チェック"),
                             QStringLiteral("拡張子の最初の文字は、'.' でなければなりません。"),
                             QMessageBox::Warning, QMessageBox::Ok);
        cbxExtName_->setFocus();
        return;
    }
    const int index = row->data(0, kItemRole).toInt();
    TContentTypeItem& item = table_->Items(index);
    // An extension of the list is shown with its control characters
    // escaped; choosing it means the extension itself.
    std::string ext = ToAnsi(text);
    for (const std::string& known : item.Extensions)
        if (DisplayText(known) == text)
            ext = known;
    if (ext == item.DefaultExtension)
        return;
    item.SetDefaultExtension(ext);
    UpdateRow(row, index);
    changed_ = true;
}

void TfrmDefExtName::reject() {
    // Closing, however it is done, tells whether something changed.
    done(changed_ ? QDialog::Accepted : QDialog::Rejected);
}

} // namespace tarnhold::gui
