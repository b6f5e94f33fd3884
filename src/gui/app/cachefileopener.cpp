#include "app/cachefileopener.h"

#include "app/japanese.h"
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "platform/appfolder.h"
#include "platform/files.h"
#include "sources/cachebody.h"
#include "tree/localpaths.h"
#include "tree/webcachetree.h"

#include <string>

namespace tarnhold::gui {

TCacheFileOpener::~TCacheFileOpener() {
    if (!folder_.empty())
        DeleteFolder(folder_);
}

bool TCacheFileOpener::Open(const TWebCacheTreeNode& node, TGuiPrompts& prompts,
                            const QString& caption) {
    auto fail = [&](const QString& why) {
        prompts.ShowMessage(
            caption, QString::fromUtf8("キャッシュファイルを開けません。\n") + EscapeControls(why),
            QMessageBox::Warning, QMessageBox::Ok);
        return false;
    };
    if (node.IsFolder)
        return false;
    TError error;
    if (folder_.empty()) {
        folder_ = CreateTempFolder(&error);
        if (folder_.empty())
            return fail(JapaneseText(error.Text()));
    }
    // One folder per file opened, so that each keeps its own name while its
    // application may still have it open.
    const std::filesystem::path dir = folder_ / std::to_string(++count_);
    int code = 0;
    if (!ForceDirectories(dir, &code))
        return fail(JapaneseText(TError::FromErrno(code, dir.string()).Text()));
    const std::filesystem::path file = dir / DiskName(node.DisplayName());
    // Only the body, read as a regular file: a cache from another machine
    // may name anything.
    if ((error = WriteCacheBodyFile(node.Info(), file)))
        return fail(JapaneseText(error.Text()));
    last_ = file;
    if (!prompts.OpenFile(file)) {
        prompts.ShowMessage(
            caption,
            QString::fromUtf8("このファイルを開くアプリケーションが見つかりません。\n") +
                EscapeControls(PathToQString(file)),
            QMessageBox::Warning, QMessageBox::Ok);
        return false;
    }
    return true;
}

} // namespace tarnhold::gui
