#include "find/browse.h"

#include "app/qtconvert.h"
#include "mainwindow/cachetreeview.h"
#include "tree/webcachetree.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnhold::gui {

namespace {

const char kWholeCache[] = "Web Cache";

} // namespace

TfrmBrowse::TfrmBrowse(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("frmBrowse"));
    setWindowTitle(QString::fromUtf8("フォルダの参照"));
    auto* layout = new QVBoxLayout(this);
    auto* txtPrompt = new QLabel(QString::fromUtf8("検索を開始するフォルダを選んでください。"));
    txtPrompt->setObjectName(QStringLiteral("txtPrompt"));
    tvwFolders = new TCacheTreeView;
    tvwFolders->setObjectName(QStringLiteral("tvwFolders"));
    tvwFolders->setHeaderHidden(true);
    tvwFolders->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvwFolders->setAccessibleName(txtPrompt->text());
    txtPrompt->setBuddy(tvwFolders);
    auto* buttons = new QDialogButtonBox;
    QPushButton* btnOk = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    QPushButton* btnCancel =
        buttons->addButton(QString::fromUtf8("キャンセル"), QDialogButtonBox::RejectRole);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(txtPrompt);
    layout->addWidget(tvwFolders, 1);
    layout->addWidget(buttons);
    resize(320, 360);
}

void TfrmBrowse::Prepare(TWebCacheTree& tree, const QString& location) {
    tvwFolders->SetTree(&tree);
    // A refresh of the cache emptied the tree since the last showing.
    tvwFolders->RebuildIfEmptied();
    if (tvwFolders->RootItem() == nullptr)
        tvwFolders->Rebuild();
    QTreeWidgetItem* root = tvwFolders->RootItem();
    if (root != nullptr) {
        tvwFolders->collapseAll();
        root->setExpanded(true);
        const QString text = location.trimmed();
        if (text.isEmpty() || text == QLatin1String(kWholeCache)) {
            tvwFolders->setCurrentItem(root);
        } else {
            tvwFolders->setCurrentItem(root);
            tvwFolders->SelectPath(ToAnsi(text));
        }
        if (QTreeWidgetItem* current = tvwFolders->currentItem())
            tvwFolders->scrollToItem(current);
    }
    tvwFolders->setFocus();
}

bool TfrmBrowse::Execute(TWebCacheTree& tree, const QString& location, QString& result) {
    Prepare(tree, location);
    if (exec() != QDialog::Accepted)
        return false;
    result = Result();
    return true;
}

QString TfrmBrowse::Result() const {
    const TWebCacheTreeNode* node = tvwFolders->SelectedNode();
    const std::string url = node != nullptr ? node->DirUrl() : std::string();
    if (url.empty())
        return QString::fromLatin1(kWholeCache);
    return ToQString(url);
}

} // namespace tarnhold::gui
