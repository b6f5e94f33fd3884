#include "app/prompts.h"

#include "app/qtconvert.h"
#include "copy/confirmdelete.h"
#include "copy/confirmoverwrite.h"
#include "copy/copytofolder.h"
#include "mainwindow/cachechooser.h"
#include "mainwindow/defextname.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QStringList>
#include <QWidget>

namespace tarnhold::gui {

namespace {

// A dialog is asked while its owner is disabled by a running command (the
// overwrite question during a copy); a dialog made before that inherited the
// disabled state and would take no input. A window may be enabled on its
// own, so every dialog is before it is shown.
int Exec(QDialog& dialog) {
    dialog.setEnabled(true);
    return dialog.exec();
}

} // namespace

TGuiPrompts::TGuiPrompts(QWidget* owner) : owner_(owner) {}

TGuiPrompts::~TGuiPrompts() {
    if (owner_ != nullptr)
        return; // the owner frees its dialogs
    delete overwrite_.data();
    delete copyToFolder_.data();
    delete defExtName_.data();
}

TfrmConfirmOverwrite& TGuiPrompts::ConfirmOverwriteDialog() {
    if (overwrite_ == nullptr)
        overwrite_ = new TfrmConfirmOverwrite(owner_);
    return *overwrite_;
}

TfrmCopyToFolder& TGuiPrompts::CopyToFolderDialog() {
    if (copyToFolder_ == nullptr)
        copyToFolder_ = new TfrmCopyToFolder(owner_);
    return *copyToFolder_;
}

TfrmDefExtName& TGuiPrompts::DefExtNameDialog() {
    if (defExtName_ == nullptr)
        defExtName_ = new TfrmDefExtName(*this, owner_);
    return *defExtName_;
}

TOverwriteAnswer TGuiPrompts::AskOverwrite(const TWebCacheTreeNode& node,
                                           const std::filesystem::path& path) {
    TfrmConfirmOverwrite& dialog = ConfirmOverwriteDialog();
    dialog.Prepare(node, path);
    // A dialog ended some other way (the program quitting under it) stops
    // the copy.
    return OverwriteAnswerOf(Exec(dialog));
}

bool TGuiPrompts::AskCopyFolder(std::filesystem::path& folder) {
    TfrmCopyToFolder& dialog = CopyToFolderDialog();
    if (Exec(dialog) != QDialog::Accepted)
        return false;
    folder = ToPath(dialog.GetFolderName());
    return true;
}

bool TGuiPrompts::AskArchiveFile(std::filesystem::path& file, bool& decoded) {
    const QString wacz = QString::fromUtf8("WACZ (*.wacz)");
    const QString warc = QString::fromUtf8("WARC (*.warc.gz)");
    const QString decodedWarc = QString::fromUtf8("WARC, 本文を展開 (*.warc.gz)");
    QString filter;
    QString name = QFileDialog::getSaveFileName(
        owner_, QString::fromUtf8("WARC/WACZ として保存"), PathToQString(file),
        wacz + QStringLiteral(";;") + warc + QStringLiteral(";;") + decodedWarc, &filter);
    if (name.isEmpty())
        return false;
    // The name takes the extension of the format chosen when it has none.
    const bool asWacz = filter == wacz;
    const QString extension = asWacz ? QStringLiteral(".wacz") : QStringLiteral(".warc.gz");
    if (!name.endsWith(QStringLiteral(".wacz"), Qt::CaseInsensitive) &&
        !name.endsWith(QStringLiteral(".warc.gz"), Qt::CaseInsensitive))
        name += extension;
    file = ToPath(name);
    decoded = filter == decodedWarc;
    return true;
}

bool TGuiPrompts::ConfirmDelete(const std::vector<TWebCacheTreeNode*>& nodes) {
    TfrmConfirmDelete dialog(owner_, nodes);
    return Exec(dialog) == QDialog::Accepted;
}

bool TGuiPrompts::EditDefaultExtensions(TContentType& table) {
    TfrmDefExtName& dialog = DefExtNameDialog();
    dialog.Fill(table);
    return Exec(dialog) == QDialog::Accepted;
}

bool TGuiPrompts::ChooseCache(const std::vector<TFoundCache>& caches,
                              const std::filesystem::path& current, TFoundCache& chosen) {
    TfrmCacheChooser dialog(*this, caches, current, owner_);
    if (Exec(dialog) != QDialog::Accepted)
        return false;
    const auto selected = dialog.Selected();
    if (!selected)
        return false;
    chosen = *selected;
    return true;
}

bool TGuiPrompts::OpenFile(const std::filesystem::path& file) {
    return QDesktopServices::openUrl(ToFileUrl(file));
}

bool TGuiPrompts::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

QMessageBox::StandardButton TGuiPrompts::ShowMessage(const QString& caption, const QString& text,
                                                     QMessageBox::Icon icon,
                                                     QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, caption, text, buttons, owner_);
    return static_cast<QMessageBox::StandardButton>(Exec(box));
}

QString MessageText(std::string_view ansi) {
    QStringList lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = ansi.find("\r\n", start);
        lines.append(DisplayText(ansi.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start)));
        if (end == std::string_view::npos)
            break;
        start = end + 2;
    }
    return lines.join(QLatin1Char('\n'));
}

TOverwriteAnswer TGuiCopyPrompts::AskOverwrite(const TWebCacheTreeNode& node,
                                               const std::filesystem::path& path) {
    return prompts_.AskOverwrite(node, path);
}

void TGuiCopyPrompts::ShowFailure(const TCopyFailure& failure) {
    prompts_.ShowMessage(ToQString(failure.Caption), MessageText(failure.Text),
                         QMessageBox::Critical, QMessageBox::Ok);
}

} // namespace tarnhold::gui
