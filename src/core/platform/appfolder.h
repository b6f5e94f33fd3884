// The program's data folder and temporary folders.
#pragma once

#include "platform/error.h"

#include <filesystem>

namespace tarnhold {

// Where screen.dat, favorites.dat, find.dat, the rename lists and contentType.dat
// live: $TARNHOLD_HOME when set, else $XDG_CONFIG_HOME/tarnhold, else
// ~/.config/tarnhold. Not created here; writers create it on first write.
std::filesystem::path GetAppFolder();

// The default save folder of the default favorite: ~/Tarnhold.
std::filesystem::path GetDefaultSaveFolder();

// A new empty folder "TRHxxxxxx" under $TMPDIR (default /tmp), private to
// this user. On failure an empty path, and error (when given) says why: there
// is no fixed fall-back name, which anyone could have made beforehand.
std::filesystem::path CreateTempFolder(TError* error = nullptr);

// Removes the folder with everything in it; errors are ignored.
void DeleteFolder(const std::filesystem::path& dir);

} // namespace tarnhold
