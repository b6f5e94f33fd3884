// Which cache the program reads: the --cache option, else $TARNHOLD_CACHE,
// else the Internet Explorer cache of a Wine prefix, else the demo cache; and
// every cache that can be found on the machine.
#pragma once

#include "platform/error.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnhold {

using TGetEnv = std::function<const char*(const char*)>;

enum class TCacheOrigin { coOption, coEnvironment, coWinePrefix, coDemo };

// Which browser's cache a folder holds.
enum class TCacheKind { ckIndexDat, ckChromium, ckFirefox };
// "index.dat", "chromium" or "firefox", for listings.
const char* CacheKindName(TCacheKind kind);

// A cache found by looking below a folder.
struct TFoundCache {
    // The folder that holds its index.dat; for Chromium its Cache_Data
    // folder, for Firefox its cache2 folder.
    std::filesystem::path Folder;
    std::string Description; // where it was found, for messages (UTF-8)
    TCacheKind Kind = TCacheKind::ckIndexDat;
};

struct TCacheLocation {
    std::filesystem::path Path; // an index.dat or the folder that holds it
    TCacheOrigin Origin = TCacheOrigin::coDemo;
    std::string Description; // where it came from, for messages (UTF-8)
    // True when Path was found by looking below the folder the user named
    // (or below a Wine prefix) rather than named itself.
    bool Searched = false;
    // Further caches found in the same place, not read.
    std::vector<TFoundCache> Others;
    // Set when the place named holds no cache or does not exist where that
    // is an error ($WINEPREFIX naming no folder); Path is then empty.
    TError Error;
    // The kind of cache Path holds; for a browser's cache Path is its folder
    // (Cache_Data, cache2).
    TCacheKind Kind = TCacheKind::ckIndexDat;
};

// The browser cache a folder holds or leads to: a Chromium Cache_Data folder
// (also named by the Cache folder above it or the profile folder above
// that), a Firefox cache2 folder (also named by the profile folder that holds
// it). The cache's own folder goes to *folder. Nothing when the folder holds
// neither (an index.dat cache, or none).
std::optional<TCacheKind> DetectBrowserCache(const std::filesystem::path& path,
                                             std::filesystem::path* folder = nullptr);

// The browsers' caches of the user whose home is $HOME: Chromium and the
// browsers built on it (Google Chrome, Brave, Edge, Vivaldi, Opera) under
// ~/.cache, Firefox under ~/.cache/mozilla and ~/.mozilla, and both as snap
// (~/snap/<name>/common/.cache/...) and flatpak (~/.var/app/<id>/cache/...)
// packages. Each profile's cache once; a bounded number of folders is looked
// into.
std::vector<TFoundCache> FindBrowserCaches(const TGetEnv& getEnv = ::getenv);

// The caches below folder, in the order they are taken: the folder itself
// when it holds index.dat; its Content.IE5 (the folder above it named);
// a user's profile (AppData/Local/Microsoft/Windows/INetCache/Content.IE5,
// AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5,
// Local Settings/Temporary Internet Files/Content.IE5); a folder of profiles
// (users, Users, Documents and Settings), a drive or drive_c, and a Wine
// prefix (drive_c/users/<user>/...). Among users, currentUser comes first,
// the others in name order. Only folders are looked into, never more than a
// few hundred profiles.
std::vector<TFoundCache> FindCachesBelow(const std::filesystem::path& folder,
                                         const std::string& currentUser);

// option: the --cache PATH given: an index.dat or its folder is taken as it
// is (a path that does not exist too, so that reading it says why); a folder
// above one is searched with FindCachesBelow. Otherwise $TARNHOLD_CACHE the
// same way when set and not empty; otherwise the caches of the Wine prefix
// ($WINEPREFIX, which must then be a folder, else ~/.wine); otherwise
// demoCache.
TCacheLocation LocateCache(const std::optional<std::filesystem::path>& option,
                           const std::filesystem::path& demoCache,
                           const TGetEnv& getEnv = ::getenv);

// Every cache on the machine the program knows to look for: the one
// $TARNHOLD_CACHE names, those of $WINEPREFIX, ~/.wine and the prefixes in
// ~/.local/share/wineprefixes, the demo cache, then the browsers' caches
// (FindBrowserCaches); each once, in that order.
std::vector<TFoundCache> FindAllCaches(const std::filesystem::path& demoCache,
                                       const TGetEnv& getEnv = ::getenv);

} // namespace tarnhold
