#include "mainwindow/property.h"

#include "app/qtconvert.h"
#include "mainwindow/filetypeinfo.h"
#include "platform/codepage.h"
#include "text/displayformat.h"
#include "tree/webcachetree.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tarnhold::gui {
namespace {

constexpr int kClientWidth = 416;
constexpr int kClientHeight = 384;
constexpr int kIconSize = 32;
// The width of the value column; longer values are shortened in the middle
// and shown whole in their tool tip.
constexpr int kValueWidth = 290;
constexpr int kNameWidth = 320;

void SetValue(QLabel* label, const QString& text, int width) {
    label->setProperty("fullText", text);
    const QString shown = label->fontMetrics().elidedText(text, Qt::ElideMiddle, width);
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : text);
}

QString FullText(const QLabel* label) {
    return label->property("fullText").toString();
}

// "%s (%s バイト)": the short size and the byte count.
QString SizeValue(std::uint64_t size) {
    return QStringLiteral("%1 (%2 バイト)")
        .arg(ToQString(FormatSizeShort(size)), ToQString(FormatThousands(size)));
}

QFrame* Separator(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* Caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLabel* Value(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

QPlainTextEdit* Memo(QWidget* parent) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setReadOnly(true);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Borderless on the page's own background, as a label would be.
    memo->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    return memo;
}

// Lines of ANSI text for a memo: each with its control characters escaped.
QString MemoLines(const TWebCacheHeaderInfo& headers) {
    QStringList lines;
    const int count = headers.Count();
    for (int i = 0; i < count; ++i)
        lines.append(DisplayText(headers.Lines(i)));
    return lines.join(QLatin1Char('\n'));
}

// The file-name part of a cached file's path.
std::string BaseName(const std::string& file) {
    const std::size_t slash = file.find_last_of("/\\");
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

} // namespace

std::string LocationText(const TWebCacheTreeNode* node) {
    if (node == nullptr)
        return {};
    if (node->Parent() == nullptr)
        return node->Name();
    std::vector<const TWebCacheTreeNode*> path;
    for (const TWebCacheTreeNode* n = node; n->Parent() != nullptr; n = n->Parent())
        path.push_back(n);
    std::string text;
    for (auto it = path.rbegin(); it != path.rend(); ++it) {
        text += (*it)->DisplayName();
        text += IsSchemeFolder(*it) ? "//" : "/";
    }
    return text;
}

std::string FormatThousands(std::uint64_t value) {
    std::string digits = std::to_string(value);
    std::string text;
    const std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

TfrmProperty::TfrmProperty(QWidget* owner, std::vector<TWebCacheTreeNode*> nodes)
    : QDialog(owner), nodes_(std::move(nodes)), nodeCount_(nodes_.size()) {
    if (!nodes_.empty() && nodes_.front() != nullptr) {
        treeChanging_ =
            nodes_.front()->Tree()->OnChanging.Subscribe([this](TWebCacheTree&) { Fill(); });
    }
    setObjectName(QStringLiteral("frmProperty"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    tabs_ = new QTabWidget(this);
    auto* page = new QWidget;
    tabs_->addTab(page, QStringLiteral("全般"));

    imgIcon_ = new QLabel(page);
    imgIcon_->setFixedSize(kIconSize, kIconSize);
    txtName_ = Value(page);
    txtName_->setObjectName(QStringLiteral("txtName"));
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(imgIcon_);
    nameRow->addSpacing(16);
    nameRow->addWidget(txtName_, 1);

    auto* general = new QGridLayout;
    general->setColumnMinimumWidth(0, 80);
    general->setColumnStretch(1, 1);
    txtType_ = Value(page);
    txtLocation_ = Value(page);
    txtSize_ = Value(page);
    general->addWidget(Caption(QStringLiteral("種類:"), page), 0, 0);
    general->addWidget(txtType_, 0, 1);
    general->addWidget(Caption(QStringLiteral("場所:"), page), 1, 0);
    general->addWidget(txtLocation_, 1, 1);
    general->addWidget(Caption(QStringLiteral("サイズ:"), page), 2, 0);
    general->addWidget(txtSize_, 2, 1);

    pnlDetails_ = new QWidget(page);
    auto* details = new QGridLayout(pnlDetails_);
    details->setContentsMargins(0, 0, 0, 0);
    details->setColumnMinimumWidth(0, 80);
    details->setColumnStretch(1, 1);
    txtCacheName_ = Value(pnlDetails_);
    memUrl_ = Memo(pnlDetails_);
    memUrl_->setFixedHeight(2 * memUrl_->fontMetrics().lineSpacing() + 6);
    txtDate_ = Value(pnlDetails_);
    memHeaders_ = Memo(pnlDetails_);
    memHeaders_->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* address = new QVBoxLayout;
    address->setSpacing(0);
    address->addWidget(Caption(QStringLiteral("アドレス:"), pnlDetails_));
    address->addWidget(Caption(QStringLiteral("(URL)"), pnlDetails_));
    address->addStretch(1);
    details->addWidget(Caption(QStringLiteral("キャッシュ名:"), pnlDetails_), 0, 0);
    details->addWidget(txtCacheName_, 0, 1);
    details->addLayout(address, 1, 0);
    details->addWidget(memUrl_, 1, 1);
    details->addWidget(Caption(QStringLiteral("更新日時:"), pnlDetails_), 2, 0);
    details->addWidget(txtDate_, 2, 1);
    details->addWidget(Caption(QStringLiteral("ヘッダー:"), pnlDetails_), 3, 0);
    details->addWidget(memHeaders_, 3, 1);
    details->setRowStretch(3, 1);

    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->addLayout(nameRow);
    pageLayout->addWidget(Separator(page));
    pageLayout->addLayout(general);
    pageLayout->addWidget(Separator(page));
    pageLayout->addWidget(pnlDetails_, 1);
    pageLayout->addStretch(0);

    btnClose_ = new QPushButton(QStringLiteral("閉じる"), this);
    btnClose_->setObjectName(QStringLiteral("btnClose"));
    btnClose_->setDefault(true);
    connect(btnClose_, &QPushButton::clicked, this, &QDialog::close);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnClose_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    layout->addLayout(buttons);

    SetIcon(style()->standardIcon(QStyle::SP_FileDialogInfoView));
    builtInIcon_ = true;
}

void TfrmProperty::SetIcon(const QIcon& icon) {
    imgIcon_->setPixmap(icon.pixmap(kIconSize, kIconSize));
    builtInIcon_ = false;
}

void TfrmProperty::Fill() {
    if (filled_)
        return;
    filled_ = true;
    if (nodes_.size() == 1)
        FillOne(*nodes_.front());
    else
        FillSeveral();
    nodes_.clear();
    treeChanging_.Reset();
}

void TfrmProperty::FillOne(const TWebCacheTreeNode& node) {
    const QString name = DisplayText(node.DisplayName());
    SetValue(txtName_, name, kNameWidth);
    TFileTypeInfo type;
    if (node.IsFolder) {
        type = GetFolderTypeInfo(false);
        // The root stands for the browser's whole cache.
        SetIcon(node.Parent() == nullptr ? BrowserIcon() : type.Icon);
    } else {
        type = GetFileTypeInfoByExt(node.DisplayName());
        SetIcon(type.Icon);
    }
    SetValue(txtType_, DisplayText(type.TypeName), kValueWidth);
    SetValue(txtLocation_, DisplayText(LocationText(node.Parent())), kValueWidth);
    SetValue(txtSize_, SizeValue(node.Size()), kValueWidth);
    // A folder's record holds only its totals: no cached file, URL or headers.
    SetValue(txtCacheName_, DisplayText(BaseName(node.Info().LocalFileName)), kValueWidth);
    memUrl_->setPlainText(DisplayText(node.Info().Url));
    SetValue(txtDate_, ToQString(FormatDateTimeLong(node.LastModified())), kValueWidth);
    memHeaders_->setPlainText(MemoLines(node.Info().HeaderInfo));
    pnlDetails_->setVisible(true);
    setWindowTitle(name + QStringLiteral("のプロパティ"));
}

void TfrmProperty::FillSeveral() {
    int files = 0;
    int folders = 0;
    std::uint64_t total = 0;
    bool sameLocation = true;
    bool sameKind = true;
    std::string location;
    std::string extension; // of the first file's cached copy
    bool firstIsFolder = false;
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        const TWebCacheTreeNode* node = nodes_[i];
        if (node->IsFolder)
            ++folders;
        else
            ++files;
        total += node->Size();
        const std::string here = node->IsFolder
                                     ? (node->Parent() != nullptr ? node->Parent()->DirUrl() : "")
                                     : node->Info().DirUrl;
        const std::string ext(node->IsFolder ? std::string_view()
                                             : TypeExtension(node->Info().LocalFileName));
        if (i == 0) {
            location = here;
            firstIsFolder = node->IsFolder;
            extension = ext;
            continue;
        }
        if (sameLocation && !AnsiSameText(location, here))
            sameLocation = false;
        if (node->IsFolder != firstIsFolder || (!node->IsFolder && !AnsiSameText(extension, ext)))
            sameKind = false;
    }

    SetValue(txtName_, QStringLiteral("ファイル数: %1、フォルダ数: %2").arg(files).arg(folders),
             kNameWidth);
    if (sameLocation && !nodes_.empty())
        SetValue(txtLocation_,
                 QStringLiteral("すべて ") + DisplayText(LocationText(nodes_.back()->Parent())),
                 kValueWidth);
    else
        SetValue(txtLocation_, QStringLiteral("複数のフォルダ"), kValueWidth);
    SetValue(txtSize_, SizeValue(total), kValueWidth);
    pnlDetails_->setVisible(false);

    if (sameKind && !nodes_.empty()) {
        const TFileTypeInfo type =
            firstIsFolder ? GetFolderTypeInfo(false) : GetFileTypeInfoByExt(extension);
        SetIcon(type.Icon);
        SetValue(txtType_, QStringLiteral("すべて ") + DisplayText(type.TypeName), kValueWidth);
    } else {
        SetValue(txtType_, QStringLiteral("複数の種類"), kValueWidth);
    }
    const QString first = nodes_.empty() ? QString() : DisplayText(nodes_.front()->DisplayName());
    setWindowTitle(first + QStringLiteral(", ...のプロパティ"));
}

void TfrmProperty::showEvent(QShowEvent* event) {
    if (!filled_)
        Fill();
    QDialog::showEvent(event);
}

QString TfrmProperty::NameText() const {
    return FullText(txtName_);
}
QString TfrmProperty::TypeText() const {
    return FullText(txtType_);
}
QString TfrmProperty::LocationValue() const {
    return FullText(txtLocation_);
}
QString TfrmProperty::SizeText() const {
    return FullText(txtSize_);
}
QString TfrmProperty::CacheNameText() const {
    return FullText(txtCacheName_);
}
QString TfrmProperty::UrlText() const {
    return memUrl_->toPlainText();
}
QString TfrmProperty::DateText() const {
    return FullText(txtDate_);
}
QString TfrmProperty::HeadersText() const {
    return memHeaders_->toPlainText();
}
bool TfrmProperty::DetailsShown() const {
    return !pnlDetails_->isHidden();
}
QImage TfrmProperty::IconImage() const {
    return imgIcon_->pixmap().toImage();
}

} // namespace tarnhold::gui
