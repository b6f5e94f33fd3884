// "screen.dat": how the main window looked when it was last closed. Read key
// by key with a default for each key, written in one fixed order, so that a
// file written by hand or by an older version still gives a usable window.
#pragma once

#include "platform/error.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>

namespace tarnhold::gui {

// The key of a list's column width in the window's settings files: "Col01",
// "Col02", ... for columns 0, 1, ...
std::string ListColumnKey(std::size_t index);

struct TScreenSettings {
    // [General]. The bounds are applied only when one of them is not 0.
    int Top = 0;
    int Left = 0;
    int Width = 0;
    int Height = 0;
    bool ToolBar = true;
    bool StatusBar = true;
    // Absent from the file: a third of the client area, which is known only
    // once the window is shown.
    std::optional<int> FavoriteSplit;
    std::optional<int> CacheSplit;
    // [Favorites]. Column widths absent from the file leave the window's
    // own widths, which fit the texts in the window's font.
    std::array<std::optional<int>, 3> FavoriteColumns;
    int FavoriteSortType = 0;
    int FavoriteSortOrder = 0;
    // [Cache]
    std::array<std::optional<int>, 6> CacheColumns;
    int CacheSortType = 5;
    int CacheSortOrder = 0;
    bool AutoArrange = false;
    // 0 large icons, 1 small icons, 2 list, 3 details; other values leave
    // the list as it is.
    int ViewStyle = 3;
    bool Refresh = true;
    // [Option]
    bool EnableScheme = true;

    bool HasBounds() const { return Top != 0 || Left != 0 || Width != 0 || Height != 0; }
};

// The settings in file; every key that is missing or not a number gives its
// default, and so does a file that is missing or cannot be read.
TScreenSettings ReadScreenSettings(const std::filesystem::path& file);

// Writes every key, in the order General, Favorites, Cache, Option, keeping
// other lines of the file. The error says why the file could not be written.
[[nodiscard]] TError WriteScreenSettings(const std::filesystem::path& file,
                                         const TScreenSettings& settings);

} // namespace tarnhold::gui
