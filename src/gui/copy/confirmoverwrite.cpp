#include "copy/confirmoverwrite.h"

#include "app/dialogplace.h"
#include "app/qtconvert.h"
#include "copy/copyprompts.h"
#include "mainwindow/filetypeinfo.h"
#include "platform/filetime.h"
#include "text/displayformat.h"
#include "tree/webcachetree.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <sys/stat.h>

namespace tarnhold::gui {
namespace {

constexpr int kIconSize = 32;
// The widest the title line may become: a long name is shortened in its
// middle (the whole title is the line's tool tip).
constexpr int kTitleWidth = 420;

QPixmap LargeIcon(const QIcon& icon) {
    return icon.pixmap(kIconSize, kIconSize);
}

// A name on disk as the type lookup takes it (ANSI).
std::string AnsiFileName(const std::filesystem::path& path) {
    return ToAnsi(PathToQString(path.filename()));
}

} // namespace

int OverwriteResult(TOverwriteAnswer answer) {
    return QDialog::Accepted + 1 + static_cast<int>(answer);
}

TOverwriteAnswer OverwriteAnswerOf(int result) {
    for (TOverwriteAnswer answer :
         {TOverwriteAnswer::Yes, TOverwriteAnswer::No, TOverwriteAnswer::YesToAll,
          TOverwriteAnswer::NoToAll, TOverwriteAnswer::Newer}) {
        if (result == OverwriteResult(answer))
            return answer;
    }
    return TOverwriteAnswer::Cancel;
}

TfrmConfirmOverwrite::TfrmConfirmOverwrite(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmConfirmOverwrite"));
    setWindowTitle(QStringLiteral("ファイルの上書きの確認"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    imgWarning_ = new QLabel(this);
    imgWarning_->setFixedSize(kIconSize, kIconSize);
    txtTitle_ = new QLabel(this);
    txtTitle_->setTextFormat(Qt::PlainText);

    auto fileRow = [this](QLabel*& image, QLabel*& size, QLabel*& time) {
        image = new QLabel(this);
        image->setFixedSize(kIconSize, kIconSize);
        size = new QLabel(this);
        time = new QLabel(this);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(0);
        texts->addWidget(size);
        texts->addWidget(time);
        auto* row = new QHBoxLayout;
        row->addSpacing(16);
        row->addWidget(image, 0, Qt::AlignTop);
        row->addSpacing(8);
        row->addLayout(texts, 1);
        return row;
    };

    auto* texts = new QVBoxLayout;
    texts->addWidget(txtTitle_);
    texts->addSpacing(6);
    texts->addWidget(new QLabel(QStringLiteral("現在のファイル"), this));
    texts->addLayout(fileRow(imgExisting_, txtExistingSize_, txtExistingTime_));
    texts->addSpacing(6);
    texts->addWidget(new QLabel(QStringLiteral("に次の新しいファイルを上書きしますか？"), this));
    texts->addLayout(fileRow(imgCache_, txtCacheSize_, txtCacheTime_));

    auto* top = new QHBoxLayout;
    top->addWidget(imgWarning_, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addLayout(texts, 1);

    struct TSpec {
        const char* name;
        QString caption;
        TOverwriteAnswer answer;
    };
    const TSpec specs[6] = {
        {"btnYes", QStringLiteral("はい(&Y)"), TOverwriteAnswer::Yes},
        {"btnYesToAll", QStringLiteral("すべて上書き(&A)"), TOverwriteAnswer::YesToAll},
        {"btnNo", QStringLiteral("いいえ(&N)"), TOverwriteAnswer::No},
        {"btnCancel", QStringLiteral("キャンセル(&C)"), TOverwriteAnswer::Cancel},
        {"btnNewer", QStringLiteral("新しい日付のファイルをすべて上書き"), TOverwriteAnswer::Newer},
        {"btnNoToAll", QStringLiteral("すべていいえ"), TOverwriteAnswer::NoToAll},
    };
    auto* row1 = new QHBoxLayout;
    auto* row2 = new QHBoxLayout;
    row1->addStretch(1);
    row2->addStretch(1);
    for (int i = 0; i < 6; ++i) {
        auto* button = new QPushButton(specs[i].caption, this);
        button->setObjectName(QString::fromLatin1(specs[i].name));
        // No button answers Enter: every answer is a deliberate choice.
        button->setAutoDefault(false);
        button->setDefault(false);
        const TOverwriteAnswer answer = specs[i].answer;
        connect(button, &QPushButton::clicked, this,
                [this, answer] { done(OverwriteResult(answer)); });
        (i < 4 ? row1 : row2)->addWidget(button);
        buttons_[i] = {button, answer};
    }

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(10);
    layout->addLayout(row1);
    layout->addLayout(row2);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmConfirmOverwrite::Prepare(const TWebCacheTreeNode& node,
                                   const std::filesystem::path& localPath) {
    // The file there. Only a regular file has a size and time worth showing;
    // the times of both files are shown in local time, so they compare.
    imgExisting_->setPixmap(LargeIcon(GetFileTypeInfoByExt(AnsiFileName(localPath)).Icon));
    txtExistingSize_->clear();
    txtExistingTime_->clear();
    struct stat st {};
    if (::lstat(localPath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        FILETIME local{};
        SYSTEMTIME time{};
        txtExistingSize_->setText(
            ToQString(FormatSizeShort(static_cast<std::uint64_t>(st.st_size))));
        if (FileTimeToLocalFileTime(UnixTimeToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec),
                                    local) &&
            FileTimeToSystemTime(local, time))
            txtExistingTime_->setText(ToQString(FormatDateTimeLong(time)));
    }

    // The cached file.
    imgCache_->setPixmap(LargeIcon(GetFileTypeInfoByExt(node.DisplayName()).Icon));
    txtCacheSize_->setText(ToQString(FormatSizeShort(node.Size())));
    txtCacheTime_->setText(ToQString(FormatDateTimeLong(node.LastModified())));

    const QString title = QStringLiteral("このフォルダには既に '%1' ファイルが存在します。")
                              .arg(DisplayText(node.DisplayName()));
    txtTitle_->setToolTip(title);
    txtTitle_->setProperty("fullText", title);
    txtTitle_->setText(txtTitle_->fontMetrics().elidedText(title, Qt::ElideMiddle, kTitleWidth));
}

QPushButton* TfrmConfirmOverwrite::ButtonFor(TOverwriteAnswer answer) const {
    for (const TButton& b : buttons_)
        if (b.answer == answer)
            return b.button;
    return nullptr;
}

QString TfrmConfirmOverwrite::TitleText() const {
    return txtTitle_->property("fullText").toString();
}
QString TfrmConfirmOverwrite::ExistingSizeText() const {
    return txtExistingSize_->text();
}
QString TfrmConfirmOverwrite::ExistingTimeText() const {
    return txtExistingTime_->text();
}
QString TfrmConfirmOverwrite::CacheSizeText() const {
    return txtCacheSize_->text();
}
QString TfrmConfirmOverwrite::CacheTimeText() const {
    return txtCacheTime_->text();
}

void TfrmConfirmOverwrite::reject() {
    // The close box and Escape stop the copy, as "キャンセル(&C)" does.
    done(OverwriteResult(TOverwriteAnswer::Cancel));
}

void TfrmConfirmOverwrite::showEvent(QShowEvent* event) {
    imgWarning_->setPixmap(LargeIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning)));
    QDialog::showEvent(event);
    CenterOnScreen(*this);
}

} // namespace tarnhold::gui
