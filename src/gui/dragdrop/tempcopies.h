// The copies a window hands to other programs by a drag or the clipboard:
// one temporary folder at a time, replaced by the next only once that one is
// ready (the clipboard may still name the old files until then), removed
// with the window.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

namespace tarnhold::gui {

class TGuiPrompts;

class TTempCopies {
public:
    TTempCopies() = default;
    ~TTempCopies();
    TTempCopies(const TTempCopies&) = delete;
    TTempCopies& operator=(const TTempCopies&) = delete;

    // A new empty folder for the next copies; empty, after telling prompts
    // why, when none can be made.
    static std::filesystem::path NewFolder(TGuiPrompts& prompts);
    // The copies made in folder: of places (the paths the copy engine gave
    // the copied nodes) those that exist, when the copy succeeded. They
    // replace the last ones. Nullopt, and folder removed, when there are
    // none (the copy said why).
    std::optional<std::vector<std::filesystem::path>>
    Keep(const std::filesystem::path& folder, std::vector<std::filesystem::path> places,
         bool copied);

    // The folder and the files of the last copies kept (empty for none).
    const std::filesystem::path& Folder() const { return folder_; }
    const std::vector<std::filesystem::path>& Files() const { return files_; }

private:
    std::filesystem::path folder_;
    std::vector<std::filesystem::path> files_;
};

} // namespace tarnhold::gui
