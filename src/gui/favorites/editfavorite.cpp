#include "favorites/editfavorite.h"

#include "app/prompts.h"
#include "app/qtconvert.h"
#include "platform/codepage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <optional>

namespace tarnhold::gui {

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// A group box of radio buttons, numbered from 0 in the order given, each
// named after the group and its number ("rgpFolder0").
QGroupBox* RadioGroup(QWidget* parent, const char* name, const char* caption,
                      std::initializer_list<const char*> buttons, QButtonGroup*& group) {
    auto* box = new QGroupBox(Utf8(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    group = new QButtonGroup(box);
    auto* layout = new QVBoxLayout(box);
    int index = 0;
    for (const char* text : buttons) {
        auto* button = new QRadioButton(Utf8(text), box);
        button->setObjectName(QString::fromLatin1(name) + QString::number(index));
        group->addButton(button, index++);
        layout->addWidget(button);
    }
    layout->addStretch(1);
    return box;
}

// The value all items share, or nothing when one differs.
template <typename Get>
auto Shared(const std::vector<TFavoriteItem*>& items, Get get)
    -> std::optional<decltype(get(*items.front()))> {
    if (items.empty())
        return std::nullopt;
    const auto first = get(*items.front());
    for (const TFavoriteItem* item : items) {
        if (!(get(*item) == first))
            return std::nullopt;
    }
    return first;
}

// The save folder as the box shows it, and back (ANSI, ending in "/").
QString FolderText(std::string_view ansi) {
    return PathToQString(AnsiToPath(ansi));
}
std::string FolderAnsi(const QString& text) {
    return PathToAnsi(ToPath(text));
}

} // namespace

TfrmEditFavorite::TfrmEditFavorite(TGuiPrompts& prompts, QWidget* parent)
    : QDialog(parent), Prompts_(prompts) {
    setObjectName(QStringLiteral("frmEditFavorite"));
    setWindowTitle(Utf8("お気に入りの設定"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto edit = [this](const char* name) {
        auto* box = new QLineEdit(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setMinimumWidth(380);
        return box;
    };
    auto label = [this](const char* text, QWidget* buddy) {
        auto* l = new QLabel(Utf8(text), this);
        l->setBuddy(buddy);
        // Screen readers and tests find a box by the label that names it.
        buddy->setAccessibleName(l->text().remove(QLatin1Char('&')));
        return l;
    };
    edtTitle = edit("edtTitle");
    lblTitle = label("タイトル(&T) :", edtTitle);
    edtUrl = edit("edtUrl");
    lblUrl = label("&URL :", edtUrl);
    edtPath = edit("edtPath");
    QLabel* lblPath = label("保存先(&P) :", edtPath);
    btnBrowse = new QPushButton(Utf8("参照(&B)..."), this);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    btnBrowse->setAutoDefault(false);
    edtDefault = edit("edtDefault");
    QLabel* lblDefault = label("デフォルトのファイル名(&D) :", edtDefault);

    rgpFolder = RadioGroup(this, "rgpFolder", "フォルダの作成方法(&F)",
                           {"URL以下を作成", "URLの最初から作成"}, grpFolder);
    rgpMethod = RadioGroup(this, "rgpMethod", "参照ファイルのコピー方法(&M)",
                           {"URL以下", "同一ドメイン内", "すべて"}, grpMethod);
    rgpTimer = RadioGroup(this, "rgpTimer", "スケジュール設定(&S)", {"有効", "無効"}, grpTimer);
    // The schedule is kept with the favorite but never acted on.
    rgpTimer->setVisible(false);
    // Whether copies rewrite every kind of link (srcset, style sheets) or
    // only href, src and background; kept per favorite.
    chkAllLinks = new QCheckBox(Utf8("srcset やスタイルシートのリンクも書き換える(&L)"), this);
    chkAllLinks->setObjectName(QStringLiteral("chkAllLinks"));

    btnOk = new QPushButton(Utf8("登録(&E)"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnCancel = new QPushButton(Utf8("キャンセル(&C)"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);

    auto* grid = new QGridLayout;
    grid->addWidget(lblTitle, 0, 0);
    grid->addWidget(edtTitle, 0, 1, 1, 2);
    grid->addWidget(lblUrl, 1, 0);
    grid->addWidget(edtUrl, 1, 1, 1, 2);
    grid->addWidget(lblPath, 2, 0);
    grid->addWidget(edtPath, 2, 1);
    grid->addWidget(btnBrowse, 2, 2);
    grid->addWidget(lblDefault, 3, 0);
    grid->addWidget(edtDefault, 3, 1, 1, 2);
    auto* groups = new QHBoxLayout;
    groups->addWidget(rgpFolder);
    groups->addWidget(rgpMethod);
    groups->addWidget(rgpTimer);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(groups);
    layout->addWidget(chkAllLinks);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Tab follows the boxes as they stand, then the groups and the buttons.
    setTabOrder(edtTitle, edtUrl);
    setTabOrder(edtUrl, edtPath);
    setTabOrder(edtPath, btnBrowse);
    setTabOrder(btnBrowse, edtDefault);
    setTabOrder(edtDefault, grpFolder->button(0));

    // Folder method 1 copies only what lies below the URL, so it goes only
    // with copy method 1; a wider copy method needs the whole URL path.
    connect(grpFolder, &QButtonGroup::idClicked, this, [this](int id) {
        if (id == 0)
            Check(grpMethod, 0);
    });
    connect(grpMethod, &QButtonGroup::idClicked, this, [this](int id) {
        if (id != 0)
            Check(grpFolder, 1);
    });
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmEditFavorite::btnBrowseClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmEditFavorite::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    Picker_ = [](QWidget* owner, const QString& title, const QString& start) {
        return QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    };
}

int TfrmEditFavorite::Checked(const QButtonGroup* group) {
    return group->checkedId();
}

void TfrmEditFavorite::Check(QButtonGroup* group, int index) {
    if (index >= 0 && group->button(index) != nullptr) {
        group->button(index)->setChecked(true);
        return;
    }
    // An exclusive group keeps one button checked; none is shown by
    // lifting that for a moment.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons())
        button->setChecked(false);
    group->setExclusive(true);
}

void TfrmEditFavorite::ShowFields(bool titleAndUrl) {
    for (QWidget* w : {static_cast<QWidget*>(lblTitle), static_cast<QWidget*>(edtTitle),
                       static_cast<QWidget*>(lblUrl), static_cast<QWidget*>(edtUrl)})
        w->setVisible(titleAndUrl);
}

void TfrmEditFavorite::EditItem(TFavoriteItem* item, bool isDefault) {
    Items_.clear();
    Item_ = item;
    Mode_ = isDefault ? TEditMode::Default : TEditMode::Single;
    setWindowTitle(Utf8(isDefault ? "デフォルトのお気に入りの設定" : "お気に入りの設定"));
    ShowFields(!isDefault);
    edtTitle->setText(FavoriteToQString(item->Title));
    edtUrl->setText(ToQString(item->UrlName));
    edtPath->setText(FolderText(item->PathName));
    edtDefault->setText(ToQString(item->Default));
    Check(grpFolder, item->Folder - 1);
    Check(grpMethod, item->Method - 1);
    Check(grpTimer, item->Timer ? 0 : 1);
    chkAllLinks->setTristate(false);
    chkAllLinks->setChecked(item->AllLinks);
}

void TfrmEditFavorite::EditItems(std::vector<TFavoriteItem*> items) {
    Items_ = std::move(items);
    Item_ = nullptr;
    Mode_ = TEditMode::Multiple;
    setWindowTitle(Utf8("お気に入りの設定"));
    ShowFields(false);
    edtTitle->clear();
    edtUrl->clear();
    const auto path = Shared(Items_, [](const TFavoriteItem& i) { return i.PathName; });
    edtPath->setText(path ? FolderText(*path) : QString());
    const auto name = Shared(Items_, [](const TFavoriteItem& i) { return i.Default; });
    edtDefault->setText(name ? ToQString(*name) : QString());
    const auto folder = Shared(Items_, [](const TFavoriteItem& i) { return int(i.Folder); });
    Check(grpFolder, folder ? *folder - 1 : -1);
    const auto method = Shared(Items_, [](const TFavoriteItem& i) { return int(i.Method); });
    Check(grpMethod, method ? *method - 1 : -1);
    const auto timer = Shared(Items_, [](const TFavoriteItem& i) { return i.Timer; });
    Check(grpTimer, timer ? (*timer ? 0 : 1) : -1);
    // Partly checked: each keeps its own.
    const auto all = Shared(Items_, [](const TFavoriteItem& i) { return i.AllLinks; });
    chkAllLinks->setTristate(!all.has_value());
    chkAllLinks->setCheckState(!all ? Qt::PartiallyChecked : *all ? Qt::Checked : Qt::Unchecked);
}

bool TfrmEditFavorite::Require(QLineEdit* box, const char* message) {
    Prompts_.ShowMessage(Utf8("項目チェック"), Utf8(message), QMessageBox::Warning,
                         QMessageBox::Ok);
    box->setFocus();
    return false;
}

void TfrmEditFavorite::btnOkClick() {
    const bool single = Mode_ == TEditMode::Single;
    const bool multiple = Mode_ == TEditMode::Multiple;
    if (single && edtTitle->text().isEmpty())
        return (void)Require(edtTitle, "タイトルが入力されていません。");
    if (single && edtUrl->text().isEmpty())
        return (void)Require(edtUrl, "URLが入力されていません。");
    if (!multiple && edtPath->text().isEmpty())
        return (void)Require(edtPath, "保存先が入力されていません。");
    if (!multiple && edtDefault->text().isEmpty())
        return (void)Require(edtDefault, "デフォルトのファイル名が入力されていません。");
    // A relative folder would put the copies wherever the program happens to
    // run; a file name with a "/" would put them into a folder of its own.
    if (!edtPath->text().isEmpty() && !QDir::isAbsolutePath(edtPath->text()))
        return (void)Require(edtPath, "保存先には絶対パスのフォルダを指定してください。");
    if (edtDefault->text().contains(QLatin1Char('/')))
        return (void)Require(edtDefault, "デフォルトのファイル名に \"/\" は使えません。");
    if (!edtPath->text().isEmpty() && !edtPath->text().endsWith(QLatin1Char('/')))
        edtPath->setText(edtPath->text() + QLatin1Char('/'));

    const std::string path = FolderAnsi(edtPath->text());
    const std::string name = ToAnsi(edtDefault->text());
    const int folder = Checked(grpFolder);
    const int method = Checked(grpMethod);
    const int timer = Checked(grpTimer);
    const Qt::CheckState allLinks = chkAllLinks->checkState();
    if (!multiple) {
        TFavoriteItem& item = *Item_;
        if (single) {
            item.Title = ToFavoriteAnsi(edtTitle->text());
            item.UrlName = ToAnsi(edtUrl->text());
        }
        item.PathName = path;
        item.Default = name;
        // A group without a choice (a value the file held that is none of
        // its buttons) keeps the item's value.
        if (folder >= 0)
            item.Folder = static_cast<std::uint8_t>(folder + 1);
        if (method >= 0)
            item.Method = static_cast<std::uint8_t>(method + 1);
        if (timer >= 0)
            item.Timer = timer == 0;
        item.AllLinks = allLinks == Qt::Checked;
        if (!single)
            item.Date = SYSTEMTIME{};
        else if (item.Date.wYear == 0)
            item.Date = CurrentLocalTime();
    } else {
        for (TFavoriteItem* item : Items_) {
            if (!path.empty())
                item->PathName = path;
            if (!name.empty())
                item->Default = name;
            if (folder >= 0)
                item->Folder = static_cast<std::uint8_t>(folder + 1);
            if (method >= 0)
                item->Method = static_cast<std::uint8_t>(method + 1);
            if (timer >= 0)
                item->Timer = timer == 0;
            if (allLinks != Qt::PartiallyChecked)
                item->AllLinks = allLinks == Qt::Checked;
            if (item->Date.wYear == 0)
                item->Date = CurrentLocalTime();
        }
    }
    accept();
}

void TfrmEditFavorite::btnBrowseClick() {
    QString start = edtPath->text();
    while (start.size() > 1 && start.endsWith(QLatin1Char('/')))
        start.chop(1);
    QString folder = Picker_(this, Utf8("保存先フォルダを選択してください"), start);
    if (folder.isEmpty())
        return; // cancelled: the box stays as it was
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    edtPath->setText(folder);
}

void TfrmEditFavorite::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    QLineEdit* first = Mode_ == TEditMode::Single ? edtTitle : edtPath;
    first->setFocus();
    first->selectAll();
}

} // namespace tarnhold::gui
