// Opening a cached file with the desktop's application for it. The body is
// written to a folder of the program's own under the name a copy gives the
// node (so the application sees the right extension, and a browser's cache,
// which keeps bodies inside its entry files, perhaps encoded, opens the same
// way); the folder goes with the opener. The launch itself goes through the
// prompts' OpenFile, which tests answer without starting anything.
#pragma once

#include <QString>
#include <filesystem>

namespace tarnhold {
class TWebCacheTreeNode;
}

namespace tarnhold::gui {

class TGuiPrompts;

class TCacheFileOpener {
public:
    TCacheFileOpener() = default;
    ~TCacheFileOpener();
    TCacheFileOpener(const TCacheFileOpener&) = delete;
    TCacheFileOpener& operator=(const TCacheFileOpener&) = delete;

    // Opens file node's body; a failure is told through prompts, in a
    // message box with caption. False when nothing was opened.
    bool Open(const TWebCacheTreeNode& node, TGuiPrompts& prompts, const QString& caption);
    // The file handed to the desktop last (empty before).
    const std::filesystem::path& LastFile() const { return last_; }

private:
    std::filesystem::path folder_;
    int count_ = 0;
    std::filesystem::path last_;
};

} // namespace tarnhold::gui
