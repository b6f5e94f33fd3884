#include "dragdrop/tempcopies.h"

#include "app/japanese.h"
#include "app/prompts.h"
#include "platform/appfolder.h"

#include <system_error>

namespace tarnhold::gui {

TTempCopies::~TTempCopies() {
    if (!folder_.empty())
        DeleteFolder(folder_);
}

std::filesystem::path TTempCopies::NewFolder(TGuiPrompts& prompts) {
    TError error;
    std::filesystem::path folder = CreateTempFolder(&error);
    if (folder.empty())
        prompts.ShowMessage(QString::fromUtf8("コピー"),
                            QString::fromUtf8("一時フォルダを作成できませんでした。\n") +
                                ErrorText(error),
                            QMessageBox::Critical, QMessageBox::Ok);
    return folder;
}

std::optional<std::vector<std::filesystem::path>>
TTempCopies::Keep(const std::filesystem::path& folder, std::vector<std::filesystem::path> places,
                  bool copied) {
    std::vector<std::filesystem::path> files;
    for (std::filesystem::path& path : places) {
        if (!copied)
            break;
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(path, ec)))
            files.push_back(std::move(path));
    }
    if (files.empty()) {
        DeleteFolder(folder);
        return std::nullopt;
    }
    if (!folder_.empty())
        DeleteFolder(folder_);
    folder_ = folder;
    files_ = files;
    return files;
}

} // namespace tarnhold::gui
