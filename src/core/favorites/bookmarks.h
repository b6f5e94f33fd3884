// Where favorites can be imported from, and reading them: the Favorites
// folders of Windows profiles (Internet shortcut files, shortcuts.h), the
// bookmarks of Chromium and the browsers built on it (each profile's
// "Bookmarks", a JSON file) and those of Firefox (each profile's
// "places.sqlite", read from a private copy so that a running Firefox
// neither blocks the read nor is blocked by it).
//
// Every source is read into the same tree of folders and shortcuts: a
// bookmark folder is a folder, a bookmark a shortcut captioned with its
// title. The import's rules hold for all of them: folders first, then by
// caption ignoring case; folders without a shortcut left out; a URL that is
// a favorite already is marked registered. Names come as Unicode and are
// kept as ANSI with character references for what the code page lacks
// (Utf8ToAnsiRefs); URLs beyond ASCII are percent-encoded as UTF-8, as a
// browser requests them.
#pragma once

#include "favorites/favorites.h"
#include "favorites/shortcuts.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnhold {

enum class TImportKind : std::uint8_t {
    Shortcuts, // a folder of .url files
    Chromium,  // a Bookmarks file
    Firefox,   // a places.sqlite file
};

struct TImportSource {
    TImportKind Kind = TImportKind::Shortcuts;
    // The folder of shortcuts, or the bookmark file.
    std::filesystem::path Path;
    // The browser's name ("Chromium", "Google Chrome", "Firefox"); empty for
    // shortcuts.
    std::string Browser;
    // The browser's profile folder name, or the Windows user of a Favorites
    // folder.
    std::string Profile;
};

// "Chromium, profile Default (/home/u/.config/chromium/Default/Bookmarks)":
// the source as the command line names it (UTF-8).
std::string DescribeImportSource(const TImportSource& source);

// The bookmark files of the user whose home is $HOME: Chromium's kin under
// ~/.config/<browser>/<profile>/Bookmarks (the default profile first), and
// Firefox's under ~/.mozilla/firefox/<profile>/places.sqlite, also as snap
// and flatpak packages. Only regular files; a bounded number of folders is
// looked into.
std::vector<TImportSource>
FindBookmarkFiles(const std::function<const char*(const char*)>& getEnv = ::getenv);

// The Favorites folders of Windows profiles on the disks mounted below the
// folders given (Users/<user>/Favorites on each disk's top, as /mnt/c or
// /media/<user>/<disk> hold them).
std::vector<TImportSource>
FindWindowsDiskFavorites(const std::vector<std::filesystem::path>& mounts);

// Every source of this machine, in this order: the Favorites folders of the
// Wine prefixes (DefaultShortcutFolders), those of mounted Windows disks
// (/mnt, /media/$USER, /media, /run/media/$USER), then the browsers'
// bookmarks (FindBookmarkFiles).
std::vector<TImportSource>
FindImportSources(const std::function<const char*(const char*)>& getEnv = ::getenv);

// The source a path the user named stands for: a folder of shortcuts; a
// Chromium "Bookmarks" file or a profile folder holding one; a Firefox
// "places.sqlite" or a profile folder holding one. Nothing when the path is
// none of these (a missing path is nothing too).
std::optional<TImportSource> ImportSourceAt(const std::filesystem::path& path);

// Reads a source; what could not be read is in Problems ("path: reason"),
// the rest is there all the same.
TShortcutFolder ReadImportSource(const TImportSource& source, const TFavorites& store);
TShortcutFolder ReadChromiumBookmarks(const std::filesystem::path& file, const TFavorites& store);
TShortcutFolder ReadFirefoxBookmarks(const std::filesystem::path& file, const TFavorites& store);

// A bookmark's URL (UTF-8) as a favorite keeps it: ASCII as it is, every
// byte beyond ASCII and every control character as "%XX".
std::string BookmarkUrlToAnsi(std::string_view url);

} // namespace tarnhold
