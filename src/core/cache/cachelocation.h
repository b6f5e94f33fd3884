// Which cache the program reads: the --cache option, else $TARNHOLD_CACHE,
// else the Internet Explorer cache of a Wine prefix, else the demo cache.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tarnhold {

enum class TCacheOrigin { coOption, coEnvironment, coWinePrefix, coDemo };

struct TCacheLocation {
    std::filesystem::path Path; // an index.dat or the folder that holds it
    TCacheOrigin Origin = TCacheOrigin::coDemo;
    std::string Description; // where it came from, for messages (UTF-8)
};

using TGetEnv = std::function<const char*(const char*)>;

// option: the --cache PATH given, taken as it is. Otherwise $TARNHOLD_CACHE
// when set and not empty; otherwise the first Content.IE5/index.dat of the
// Wine prefix ($WINEPREFIX, else ~/.wine) below drive_c/users/<user>/ (the
// current user first, then the others in name order) in
// AppData/Local/Microsoft/Windows/INetCache/ (current Wine),
// AppData/Local/Microsoft/Windows/Temporary Internet Files/ or
// Local Settings/Temporary Internet Files/ (older Wine); otherwise demoCache.
TCacheLocation LocateCache(const std::optional<std::filesystem::path>& option,
                           const std::filesystem::path& demoCache,
                           const TGetEnv& getEnv = ::getenv);

} // namespace tarnhold
