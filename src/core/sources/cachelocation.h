// Which cache the program reads: the --cache option, else $TARNHOLD_CACHE,
// else the Internet Explorer cache of a Wine prefix, else the user's browser
// caches (the newest first), else the demo cache; and every cache that can be
// found on the machine.
#pragma once

#include "platform/error.h"
#include "sources/cachesource.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnhold {

using TGetEnv = std::function<const char*(const char*)>;

enum class TCacheOrigin { coOption, coEnvironment, coWinePrefix, coBrowser, coDemo };

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

// How far a search below a folder goes when the usual places hold no cache.
constexpr int kMaxSearchDepth = 8;
constexpr std::size_t kMaxSearchFolders = 20000;

// What a search below a folder looked into, for the message when it found
// nothing.
struct TCacheSearch {
    std::size_t Folders = 0;    // folders looked into
    std::size_t Unreadable = 0; // folders whose list could not be read
    bool Stopped = false;       // kMaxSearchFolders ended it
};

// "no cache found: looked for ... (N folders looked into ...)".
std::string DescribeFruitlessSearch(const TCacheSearch& search);

// The caches below folder, in the order they are taken: the folder itself
// when it holds index.dat; its Content.IE5 (the folder above it named);
// a user's profile (AppData/Local/Microsoft/Windows/INetCache/Content.IE5,
// AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5,
// Local Settings/Temporary Internet Files/Content.IE5); a folder of profiles
// (users, Users, Documents and Settings), a drive or drive_c, and a Wine
// prefix (drive_c/users/<user>/...). Among users, currentUser comes first,
// the others in name order. Only folders are looked into, never more than a
// few hundred profiles.
// When none of these places holds one, the folders below are searched, up to
// kMaxSearchDepth levels and kMaxSearchFolders folders, nearest first, never
// through a link: every folder that holds an index.dat, a Chromium cache
// (its index) or a Firefox cache (cache2 with its entries) is taken. *search
// says what was looked into.
std::vector<TFoundCache> FindCachesBelow(const std::filesystem::path& folder,
                                         const std::string& currentUser,
                                         TCacheSearch* search = nullptr);

// option: the --cache PATH given: an index.dat or its folder is taken as it
// is (a path that does not exist too, so that reading it says why); a
// browser's cache or a folder that leads to one (DetectBrowserCache) is
// taken; a folder above one is searched with FindCachesBelow. Otherwise
// $TARNHOLD_CACHE the same way when set and not empty; otherwise the caches
// of the Wine prefix ($WINEPREFIX, which must then be a folder, else
// ~/.wine); otherwise the user's browser caches (FindBrowserCaches), the one
// written last first, the others named in Others; otherwise demoCache (as
// FindDemoCache gives it: empty, there is none, which is an error).
TCacheLocation LocateCache(const std::optional<std::filesystem::path>& option,
                           const std::filesystem::path& demoCache,
                           const TGetEnv& getEnv = ::getenv);

// Every cache on the machine the program knows to look for: the one
// $TARNHOLD_CACHE names, those of $WINEPREFIX, ~/.wine and the prefixes in
// ~/.local/share/wineprefixes, the browsers' caches (FindBrowserCaches, the
// one written last first), then the demo cache; each once, in that order.
std::vector<TFoundCache> FindAllCaches(const std::filesystem::path& demoCache,
                                       const TGetEnv& getEnv = ::getenv);

// The demo cache: the one installed with the program (installed, relative to
// the folder of program; by default the running program), else the one the
// build wrote (built). Empty when neither holds an index.dat.
std::filesystem::path FindDemoCache(const std::filesystem::path& installed,
                                    const std::filesystem::path& built,
                                    std::filesystem::path program = {});

} // namespace tarnhold
