#include "mainwindow/cachechooser.h"

#include "app/japanese.h"
#include "app/prompts.h"
#include "app/qtconvert.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdlib>
#include <system_error>

namespace tarnhold::gui {

namespace {

enum { ccPath, ccKind, ccWhere };

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

std::filesystem::path Normal(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    if (ec)
        absolute = path;
    std::filesystem::path normal = absolute.lexically_normal();
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path())
        normal = normal.parent_path();
    return normal;
}

} // namespace

QString CacheKindCaption(TCacheKind kind) {
    switch (kind) {
    case TCacheKind::ckChromium:
        return QStringLiteral("Chromium");
    case TCacheKind::ckFirefox:
        return QStringLiteral("Firefox");
    case TCacheKind::ckIndexDat:
        break;
    }
    return QStringLiteral("index.dat");
}

std::optional<TFoundCache> RecogniseCacheFolder(const std::filesystem::path& folder,
                                                const std::string& currentUser) {
    std::filesystem::path cacheFolder;
    if (const auto kind = DetectBrowserCache(folder, &cacheFolder))
        return TFoundCache{cacheFolder, "選んだフォルダ", *kind};
    std::vector<TFoundCache> below = FindCachesBelow(folder, currentUser);
    if (below.empty())
        return std::nullopt;
    TFoundCache found = std::move(below.front());
    found.Description = "選んだフォルダ";
    return found;
}

bool SameCacheFolder(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (a.empty() || b.empty())
        return false;
    return Normal(a) == Normal(b);
}

TfrmCacheChooser::TfrmCacheChooser(TGuiPrompts& prompts, const std::vector<TFoundCache>& caches,
                                   const std::filesystem::path& current, QWidget* parent)
    : QDialog(parent), prompts_(prompts) {
    setObjectName(QStringLiteral("frmCacheChooser"));
    setWindowTitle(Utf8("キャッシュの選択"));
    resize(720, 320);

    auto* prompt = new QLabel(Utf8("表示するキャッシュを選んでください。"));
    lvwCaches = new QTreeWidget;
    lvwCaches->setObjectName(QStringLiteral("lvwCaches"));
    lvwCaches->setRootIsDecorated(false);
    lvwCaches->setUniformRowHeights(true);
    lvwCaches->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwCaches->setHeaderLabels({Utf8("フォルダ"), Utf8("種類"), Utf8("見つけた場所")});
    lvwCaches->setColumnWidth(ccPath, 360);
    lvwCaches->setColumnWidth(ccKind, 80);
    lvwCaches->header()->setStretchLastSection(true);
    lvwCaches->setTextElideMode(Qt::ElideMiddle);

    btnBrowse = new QPushButton(Utf8("参照(&B)..."));
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    auto* buttons = new QDialogButtonBox;
    btnOK = buttons->addButton(QDialogButtonBox::Ok);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnCancel = buttons->addButton(QDialogButtonBox::Cancel);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(btnBrowse);
    bottom->addStretch(1);
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(lvwCaches, 1);
    layout->addLayout(bottom);

    bool marked = false;
    for (const TFoundCache& cache : caches) {
        const bool isCurrent = !marked && SameCacheFolder(cache.Folder, current);
        marked = marked || isCurrent;
        AddRow(cache, isCurrent);
    }
    if (!marked && lvwCaches->topLevelItemCount() > 0)
        lvwCaches->setCurrentItem(lvwCaches->topLevelItem(0));

    connect(btnBrowse, &QPushButton::clicked, this, &TfrmCacheChooser::btnBrowseClick);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(lvwCaches, &QTreeWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(lvwCaches, &QTreeWidget::currentItemChanged, this, &TfrmCacheChooser::UpdateButtons);
    UpdateButtons();
}

void TfrmCacheChooser::AddRow(const TFoundCache& cache, bool current) {
    const int index = static_cast<int>(caches_.size());
    caches_.push_back(cache);
    auto* row = new QTreeWidgetItem(lvwCaches);
    row->setData(ccPath, Qt::UserRole, index);
    const QString path = EscapeControls(PathToQString(cache.Folder));
    row->setText(ccPath, path);
    row->setToolTip(ccPath, path);
    row->setText(ccKind, CacheKindCaption(cache.Kind));
    QString where = EscapeControls(JapaneseWhere(cache.Description));
    if (current)
        where = Utf8("表示中 - ") + where;
    row->setText(ccWhere, where);
    row->setToolTip(ccWhere, where);
    if (current) {
        QFont bold = row->font(ccPath);
        bold.setBold(true);
        for (int column = ccPath; column <= ccWhere; ++column)
            row->setFont(column, bold);
        lvwCaches->setCurrentItem(row);
    }
}

std::optional<TFoundCache> TfrmCacheChooser::Selected() const {
    const QTreeWidgetItem* row = lvwCaches->currentItem();
    if (row == nullptr)
        return std::nullopt;
    const int index = row->data(ccPath, Qt::UserRole).toInt();
    if (index < 0 || index >= static_cast<int>(caches_.size()))
        return std::nullopt;
    return caches_[static_cast<std::size_t>(index)];
}

void TfrmCacheChooser::AddAndSelect(const TFoundCache& cache) {
    for (int i = 0; i < lvwCaches->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = lvwCaches->topLevelItem(i);
        const auto index = static_cast<std::size_t>(row->data(ccPath, Qt::UserRole).toInt());
        if (caches_[index].Kind == cache.Kind &&
            SameCacheFolder(caches_[index].Folder, cache.Folder)) {
            lvwCaches->setCurrentItem(row);
            return;
        }
    }
    AddRow(cache, false);
    lvwCaches->setCurrentItem(lvwCaches->topLevelItem(lvwCaches->topLevelItemCount() - 1));
}

bool TfrmCacheChooser::AcceptFolder(const std::filesystem::path& folder) {
    const char* user = std::getenv("USER");
    if (const auto cache = RecogniseCacheFolder(folder, user != nullptr ? user : "")) {
        AddAndSelect(*cache);
        return true;
    }
    prompts_.ShowMessage(windowTitle(),
                         Utf8("このフォルダにはキャッシュがありません。\n") +
                             EscapeControls(PathToQString(folder)) +
                             Utf8("\nindex.dat、Chromium のキャッシュ (Cache_Data)、Firefox "
                                  "のキャッシュ (cache2) のどれかを含むフォルダを選んでください。"),
                         QMessageBox::Warning, QMessageBox::Ok);
    return false;
}

void TfrmCacheChooser::btnBrowseClick() {
    QString start;
    if (const auto selected = Selected())
        start = PathToQString(selected->Folder);
    const QString folder =
        QFileDialog::getExistingDirectory(this, Utf8("キャッシュのフォルダを選択"), start);
    if (!folder.isEmpty())
        AcceptFolder(ToPath(folder));
}

void TfrmCacheChooser::UpdateButtons() {
    btnOK->setEnabled(lvwCaches->currentItem() != nullptr);
}

} // namespace tarnhold::gui
