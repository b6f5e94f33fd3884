// Every question the window puts to its user and every message box it shows
// goes through TGuiPrompts. The default implementation shows the real
// dialogs; tests (and anything else that must run without a person) derive
// from it and answer in code. TGuiCopyPrompts is the copy engine's view of
// the same questions.
#pragma once

#include "copy/copyprompts.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <filesystem>
#include <vector>

class QWidget;

namespace tarnhold {
class TContentType;
class TWebCacheTreeNode;
struct TFoundCache;
} // namespace tarnhold

namespace tarnhold::gui {

class TfrmConfirmOverwrite;
class TfrmCopyToFolder;
class TfrmDefExtName;

class TGuiPrompts {
public:
    // owner: the window the dialogs belong to (may be null).
    explicit TGuiPrompts(QWidget* owner = nullptr);
    virtual ~TGuiPrompts();
    TGuiPrompts(const TGuiPrompts&) = delete;
    TGuiPrompts& operator=(const TGuiPrompts&) = delete;

    QWidget* Owner() const { return owner_; }

    // A file of a copy exists at path: what to do with it.
    virtual TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode& node,
                                          const std::filesystem::path& path);
    // The copy-to-folder dialog; true with the folder when the user chose
    // to copy. The dialog keeps the last folder for the next question.
    virtual bool AskCopyFolder(std::filesystem::path& folder);
    // The save dialog of a web archive ("WACZ (*.wacz)", "WARC (*.warc.gz)"),
    // starting at file; true with the file chosen (its name ending in the
    // format's extension) and whether bodies are to be decoded.
    virtual bool AskArchiveFile(std::filesystem::path& file, bool& decoded);
    // The delete confirmation for nodes; true when the user said yes.
    virtual bool ConfirmDelete(const std::vector<TWebCacheTreeNode*>& nodes);
    // The default-extension dialog over table; true when a default changed
    // (the tree must then be rebuilt for the names to follow).
    virtual bool EditDefaultExtensions(TContentType& table);
    // The cache chooser over caches, the one in folder current selected;
    // true with the cache to show in chosen when the user chose one.
    virtual bool ChooseCache(const std::vector<TFoundCache>& caches,
                             const std::filesystem::path& current, TFoundCache& chosen);
    // Opens a file with the desktop's application for it; false when none
    // would take it.
    virtual bool OpenFile(const std::filesystem::path& file);
    // Opens a web page (http, https or ftp) in the desktop's browser;
    // false when none would take it.
    virtual bool OpenUrl(const QUrl& url);
    // A message box owned by the window; the button that closed it.
    virtual QMessageBox::StandardButton ShowMessage(const QString& caption, const QString& text,
                                                    QMessageBox::Icon icon,
                                                    QMessageBox::StandardButtons buttons);

    // The single instances, made on first use (the copy-to-folder dialog
    // remembers its folder for as long as the prompts live).
    TfrmConfirmOverwrite& ConfirmOverwriteDialog();
    TfrmCopyToFolder& CopyToFolderDialog();
    TfrmDefExtName& DefExtNameDialog();

private:
    QPointer<QWidget> owner_;
    // Parented to the owner when there is one (which may free them first),
    // freed here otherwise.
    QPointer<TfrmConfirmOverwrite> overwrite_;
    QPointer<TfrmCopyToFolder> copyToFolder_;
    QPointer<TfrmDefExtName> defExtName_;
};

// A message text made by the core (ANSI, lines joined with CR LF) as a
// message box shows it: each line converted with its control characters
// escaped, the lines joined with "\n".
QString MessageText(std::string_view ansi);

// The copy engine's questions and failures, put through a TGuiPrompts: the
// overwrite dialog, and failures in a message box with the error icon and an
// OK button.
class TGuiCopyPrompts : public TCopyPrompts {
public:
    explicit TGuiCopyPrompts(TGuiPrompts& prompts) : prompts_(prompts) {}
    TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode& node,
                                  const std::filesystem::path& path) override;
    void ShowFailure(const TCopyFailure& failure) override;

private:
    TGuiPrompts& prompts_;
};

} // namespace tarnhold::gui
