// "find.dat": how the find window looked when it was last used. Read key by
// key with a default for each, written in one fixed order (Width,
// IgnoreCase, Col01 ... Col06, SortType, SortOrder, AutoArrange, ViewStyle),
// keeping every other line of the file.
#pragma once

#include "platform/error.h"

#include <array>
#include <filesystem>
#include <optional>

namespace tarnhold::gui {

struct TFindSettings {
    // [General]
    int Width = 581;
    // The check mark of "大文字と小文字の区別(&I)".
    bool IgnoreCase = false;
    // [List]. Widths absent from the file leave the list's own widths,
    // which fit the texts in the window's font.
    std::array<std::optional<int>, 6> Columns;
    int SortType = 5;
    int SortOrder = 0;
    bool AutoArrange = false;
    // 0 large icons, 1 small icons, 2 list, 3 details; other values leave
    // the list as it is.
    int ViewStyle = 3;
};

// The settings in file; a missing key, a value that is not a number and a
// file that is missing or cannot be read give the defaults.
TFindSettings ReadFindSettings(const std::filesystem::path& file);

// Writes every key in the order above. The error says why the file could not
// be written (a file that could not be read is never written over).
[[nodiscard]] TError WriteFindSettings(const std::filesystem::path& file,
                                       const TFindSettings& settings);

} // namespace tarnhold::gui
