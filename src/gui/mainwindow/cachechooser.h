// The dialog that chooses which cache the window shows: every cache found on
// the machine, the one shown now selected, and a folder picked by hand.
#pragma once

#include "sources/cachelocation.h"

#include <QDialog>
#include <QString>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class QPushButton;
class QTreeWidget;

namespace tarnhold::gui {

class TGuiPrompts;

// "index.dat", "Chromium" or "Firefox", as the chooser names the kinds.
QString CacheKindCaption(TCacheKind kind);

// The cache a folder picked by hand holds: a browser's cache (or the folder
// that leads to one), else the first index.dat cache at or below it. Nothing
// when the folder holds no cache the program reads.
std::optional<TFoundCache> RecogniseCacheFolder(const std::filesystem::path& folder,
                                                const std::string& currentUser);

// The same cache folder, however it was spelled.
bool SameCacheFolder(const std::filesystem::path& a, const std::filesystem::path& b);

class TfrmCacheChooser : public QDialog {
    Q_OBJECT
public:
    // current: the folder of the cache shown now (empty for none).
    TfrmCacheChooser(TGuiPrompts& prompts, const std::vector<TFoundCache>& caches,
                     const std::filesystem::path& current, QWidget* parent = nullptr);

    // The cache of the selected row.
    std::optional<TFoundCache> Selected() const;
    // Adds a cache (or finds its row) and selects it.
    void AddAndSelect(const TFoundCache& cache);
    // What "参照..." does once the folder is picked: the cache it holds is
    // added and selected, else the user is told. True when it was a cache.
    bool AcceptFolder(const std::filesystem::path& folder);

    QTreeWidget* lvwCaches = nullptr;
    QPushButton* btnBrowse = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void AddRow(const TFoundCache& cache, bool current);
    void btnBrowseClick();
    void UpdateButtons();

    TGuiPrompts& prompts_;
    std::vector<TFoundCache> caches_;
};

} // namespace tarnhold::gui
