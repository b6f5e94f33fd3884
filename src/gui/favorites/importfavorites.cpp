#include "favorites/importfavorites.h"

#include "app/japanese.h"
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "mainwindow/filetypeinfo.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

namespace tarnhold::gui {

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

constexpr int kMark = 16; // the mark's width and height
constexpr int kGap = 2;   // between the mark and the entry's own icon
constexpr int kEntryRole = Qt::UserRole;
constexpr int kStateRole = Qt::UserRole + 1;

// An empty box, with a check of color when it is valid.
QPixmap MarkPixmap(const QColor& check) {
    QPixmap pixmap(kMark, kMark);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, 1.5, kMark - 3, kMark - 3));
    if (check.isValid()) {
        p.setPen(QPen(check, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF points[] = {{4, 8.5}, {7, 11.5}, {12.5, 4.5}};
        p.drawPolyline(points, 3);
    }
    return pixmap;
}

// What a screen reader says of a mark.
const char* StateName(int state) {
    switch (state) {
    case isChosen:
        return "選択";
    case isPartly:
        return "一部選択";
    case isRegistered:
        return "登録済み";
    default:
        return "未選択";
    }
}

TShortcutEntry* EntryOf(const QTreeWidgetItem* item) {
    return reinterpret_cast<TShortcutEntry*>(item->data(0, kEntryRole).value<quintptr>());
}

} // namespace

// TImportTree ------------------------------------------------------------------

QRect TImportTree::MarkRect(QTreeWidgetItem* item) const {
    const QRect row = visualItemRect(item);
    // The decoration starts after the item's margin; the mark is its left part.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return QRect(row.left() + margin, row.top() + (row.height() - kMark) / 2, kMark, kMark);
}

void TImportTree::mousePressEvent(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    QTreeWidget::mousePressEvent(event);
    // A little slack either side: the mark is small.
    if (item != nullptr && event->button() == Qt::LeftButton &&
        MarkRect(item).adjusted(-2, -1, 2, 1).contains(event->position().toPoint()))
        emit toggleRequested(item);
}

void TImportTree::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && currentItem() != nullptr) {
        emit toggleRequested(currentItem());
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

// TfrmImportFavorites ----------------------------------------------------------

TfrmImportFavorites::TfrmImportFavorites(TFavorites& store, TGuiPrompts& prompts, QWidget* parent)
    : QDialog(parent), Store_(store), Prompts_(prompts) {
    setObjectName(QStringLiteral("frmImportFavorites"));
    setWindowTitle(Utf8("お気に入りのインポート"));
    resize(520, 440);

    Marks_[0] = Marks_[isNone] = MarkPixmap(QColor());
    Marks_[isChosen] = MarkPixmap(QColor(0xD0, 0x10, 0x10));
    Marks_[isPartly] = MarkPixmap(QColor(0x90, 0x90, 0x90));
    Marks_[isRegistered] = MarkPixmap(QColor(0x10, 0x40, 0xD0));
    FolderIcon_ = GetFolderTypeInfo(false).Icon;
    ShortcutIcon_ = GetFileTypeInfoByExt("x.url").Icon;

    auto* lblSource = new QLabel(Utf8("読み込み元(&S) :"), this);
    cmbSource = new QComboBox(this);
    cmbSource->setObjectName(QStringLiteral("cmbSource"));
    cmbSource->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cmbSource->setMinimumContentsLength(40);
    lblSource->setBuddy(cmbSource);
    cmbSource->setAccessibleName(Utf8("読み込み元"));

    auto* lblTree = new QLabel(Utf8("インポートするお気に入り(&L) :"), this);
    tvwFavorites = new TImportTree(this);
    tvwFavorites->setObjectName(QStringLiteral("tvwFavorites"));
    tvwFavorites->setHeaderHidden(true);
    tvwFavorites->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tvwFavorites->setIconSize(QSize(kMark + kGap + 16, 16));
    lblTree->setBuddy(tvwFavorites);
    tvwFavorites->setAccessibleName(Utf8("インポートするお気に入り"));

    txtProblems = new QLabel(this);
    txtProblems->setObjectName(QStringLiteral("txtProblems"));
    txtProblems->setTextFormat(Qt::PlainText);
    txtProblems->setWordWrap(true);
    txtProblems->setVisible(false);

    btnImport = new QPushButton(Utf8("インポート(&I)"), this);
    btnImport->setObjectName(QStringLiteral("btnImport"));
    btnImport->setDefault(true);
    btnClose = new QPushButton(Utf8("閉じる(&C)"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setAutoDefault(false);

    auto* source = new QHBoxLayout;
    source->addWidget(lblSource);
    source->addWidget(cmbSource, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnImport);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(source);
    layout->addWidget(lblTree);
    layout->addWidget(tvwFavorites, 1);
    layout->addWidget(txtProblems);
    layout->addLayout(buttons);

    connect(cmbSource, &QComboBox::currentIndexChanged, this, [this] {
        if (isVisible())
            Fill();
    });
    connect(tvwFavorites, &TImportTree::toggleRequested, this, &TfrmImportFavorites::Toggle);
    connect(btnImport, &QPushButton::clicked, this, &TfrmImportFavorites::btnImportClick);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
}

QString TfrmImportFavorites::SourceCaption(const TImportSource& source) {
    const QString path = EscapeControls(PathToQString(source.Path));
    const QString profile = EscapeControls(QString::fromStdString(source.Profile));
    switch (source.Kind) {
    case TImportKind::Chromium:
    case TImportKind::Firefox:
        return Utf8("%1 のブックマーク (プロファイル %2) - %3")
            .arg(QString::fromStdString(source.Browser), profile, path);
    case TImportKind::Shortcuts:
        break;
    }
    return profile.isEmpty() ? Utf8("お気に入りフォルダ - %1").arg(path)
                             : Utf8("%1 のお気に入りフォルダ - %2").arg(profile, path);
}

void TfrmImportFavorites::SetSources(std::vector<TImportSource> sources) {
    Sources_ = std::move(sources);
    const QSignalBlocker blocker(cmbSource);
    cmbSource->clear();
    for (const TImportSource& source : Sources_)
        cmbSource->addItem(SourceCaption(source));
    cmbSource->setCurrentIndex(Sources_.empty() ? -1 : 0);
    if (isVisible())
        Fill();
}

QIcon TfrmImportFavorites::IconFor(int state, bool folder) const {
    QPixmap pixmap(kMark + kGap + 16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.drawPixmap(0, 0, Marks_[state]);
    p.drawPixmap(kMark + kGap, 0, (folder ? FolderIcon_ : ShortcutIcon_).pixmap(16, 16));
    p.end();
    return QIcon(pixmap);
}

int TfrmImportFavorites::StateOf(const QTreeWidgetItem* item) {
    return item->data(0, kStateRole).toInt();
}

void TfrmImportFavorites::SetState(QTreeWidgetItem* item, int state) {
    item->setData(0, kStateRole, state);
    const bool folder = item->childCount() > 0;
    item->setIcon(0, IconFor(state, folder));
    item->setData(0, Qt::AccessibleDescriptionRole, Utf8(StateName(state)));
}

void TfrmImportFavorites::AddItems(QTreeWidgetItem* parent, std::vector<TShortcutEntry>& entries) {
    for (TShortcutEntry& entry : entries) {
        auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem;
        item->setText(0, FavoriteText(entry.Caption));
        item->setData(0, kEntryRole, QVariant::fromValue(reinterpret_cast<quintptr>(&entry)));
        if (!entry.IsFolder && !entry.Url.empty())
            item->setToolTip(0, DisplayText(entry.Url));
        if (parent == nullptr)
            tvwFavorites->addTopLevelItem(item);
        AddItems(item, entry.Children);
        SetState(item, entry.Registered ? isRegistered : isNone);
        if (entry.IsFolder)
            UpdateFolder(item);
    }
}

void TfrmImportFavorites::Fill() {
    tvwFavorites->clear();
    Read_ = TShortcutFolder{};
    const int index = cmbSource->currentIndex();
    if (index >= 0 && index < static_cast<int>(Sources_.size())) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        Read_ = ReadImportSource(Sources_[static_cast<std::size_t>(index)], Store_);
        QApplication::restoreOverrideCursor();
    }
    AddItems(nullptr, Read_.Items);
    // Every entry in sight, so that each mark can be seen and clicked.
    tvwFavorites->expandAll();
    if (tvwFavorites->topLevelItemCount() > 0)
        tvwFavorites->setCurrentItem(tvwFavorites->topLevelItem(0));
    // What could not be read is said below the tree.
    QStringList problems;
    for (const std::string& problem : Read_.Problems)
        problems.append(EscapeControls(JapaneseText(ToQString(problem).toStdString())));
    txtProblems->setText(problems.isEmpty()
                             ? QString()
                             : Utf8("読めなかったもの:\n") + problems.join(QLatin1Char('\n')));
    txtProblems->setVisible(!problems.isEmpty());
}

void TfrmImportFavorites::UpdateFolder(QTreeWidgetItem* folder) {
    int common = 0; // the state every changeable entry shares; -1 when they differ
    bool changeable = false;
    for (int i = 0; i < folder->childCount(); ++i) {
        const int state = StateOf(folder->child(i));
        if (state == isRegistered)
            continue;
        if (!changeable) {
            changeable = true;
            common = state;
        } else if (state != common) {
            common = -1;
        }
    }
    SetState(folder, !changeable ? isNone : common < 0 ? isPartly : common);
}

void TfrmImportFavorites::UpdateAncestors(QTreeWidgetItem* item) {
    for (QTreeWidgetItem* up = item->parent(); up != nullptr; up = up->parent())
        UpdateFolder(up);
}

namespace {

bool AllRegistered(const QTreeWidgetItem* folder) {
    for (int i = 0; i < folder->childCount(); ++i) {
        if (TfrmImportFavorites::StateOf(folder->child(i)) != isRegistered)
            return false;
    }
    return folder->childCount() > 0;
}

} // namespace

void TfrmImportFavorites::SetDescendants(QTreeWidgetItem* item, int state) {
    for (int i = 0; i < item->childCount(); ++i) {
        QTreeWidgetItem* child = item->child(i);
        if (StateOf(child) == isRegistered)
            continue;
        SetState(child, state);
        SetDescendants(child, state);
    }
    // A folder whose entries are all registered has nothing to choose.
    if (AllRegistered(item))
        SetState(item, isNone);
}

void TfrmImportFavorites::Toggle(QTreeWidgetItem* item) {
    if (item == nullptr || StateOf(item) == isRegistered)
        return;
    SetState(item, StateOf(item) == isNone ? isChosen : isNone);
    SetDescendants(item, StateOf(item));
    UpdateAncestors(item);
}

void TfrmImportFavorites::btnImportClick() {
    // The chosen entries in tree order, each folder before its contents.
    std::vector<QTreeWidgetItem*> chosen;
    std::function<void(QTreeWidgetItem*)> visit = [&](QTreeWidgetItem* item) {
        const TShortcutEntry* entry = EntryOf(item);
        if (!entry->IsFolder && !entry->Url.empty() && StateOf(item) == isChosen)
            chosen.push_back(item);
        for (int i = 0; i < item->childCount(); ++i)
            visit(item->child(i));
    };
    for (int i = 0; i < tvwFavorites->topLevelItemCount(); ++i)
        visit(tvwFavorites->topLevelItem(i));
    std::vector<const TShortcutEntry*> entries;
    for (QTreeWidgetItem* item : chosen)
        entries.push_back(EntryOf(item));
    TError error;
    const int count = ImportShortcuts(
        Read_.Items, Store_,
        [&](const TShortcutEntry& e) {
            return std::find(entries.begin(), entries.end(), &e) != entries.end();
        },
        &error);
    for (QTreeWidgetItem* item : chosen) {
        if (EntryOf(item)->Registered) {
            SetState(item, isRegistered);
            UpdateAncestors(item);
        }
    }
    if (error)
        Prompts_.ShowMessage(Utf8("インポート"),
                             Utf8("お気に入りを保存できませんでした。\n") + ErrorText(error),
                             QMessageBox::Warning, QMessageBox::Ok);
    if (count > 0)
        Prompts_.ShowMessage(Utf8("インポート"),
                             Utf8("%1 個のお気に入りがインポートされました。").arg(count),
                             QMessageBox::Information, QMessageBox::Ok);
    else
        Prompts_.ShowMessage(Utf8("インポート"),
                             Utf8("インポートするお気に入りが1つも選択されていません。"),
                             QMessageBox::Warning, QMessageBox::Ok);
}

void TfrmImportFavorites::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Fill();
    tvwFavorites->setFocus();
}

void TfrmImportFavorites::hideEvent(QHideEvent* event) {
    // The entries are read afresh at every showing.
    tvwFavorites->clear();
    Read_ = TShortcutFolder{};
    QDialog::hideEvent(event);
}

} // namespace tarnhold::gui
