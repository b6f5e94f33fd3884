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

enum class TCacheOrigin { coOption, coEnvironment, coWinePrefix, coDemo };

// A cache found by looking below a folder.
struct TFoundCache {
    std::filesystem::path Folder; // the folder that holds its index.dat
    std::string Description;      // where it was found, for messages (UTF-8)
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
};

using TGetEnv = std::function<const char*(const char*)>;

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
// ~/.local/share/wineprefixes, and the demo cache; each once, in that order.
std::vector<TFoundCache> FindAllCaches(const std::filesystem::path& demoCache,
                                       const TGetEnv& getEnv = ::getenv);

} // namespace tarnhold
