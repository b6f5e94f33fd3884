// The program's data folder and temporary folders.
#pragma once

#include <filesystem>

namespace tarnhold {

// Where screen.dat, favorites.dat, find.dat, renameList.dat and contentType.dat
// live: $TARNHOLD_HOME when set, else $XDG_CONFIG_HOME/tarnhold, else
// ~/.config/tarnhold. Not created here; writers create it on first write.
std::filesystem::path GetAppFolder();

// The default save folder of the default favorite: ~/Tarnhold.
std::filesystem::path GetDefaultSaveFolder();

// A new empty folder "TRHxxxxxx" under $TMPDIR (default /tmp). On failure the
// path names a folder that does not exist; the copies into it then fail and are
// reported where they happen.
std::filesystem::path CreateTempFolder();

// Removes the folder with everything in it; errors are ignored.
void DeleteFolder(const std::filesystem::path& dir);

} // namespace tarnhold
