#include "cache/cachelocation.h"

#include "platform/files.h"

#include <algorithm>
#include <vector>

namespace tarnhold {

namespace fs = std::filesystem;

namespace {

const char* const kWineCacheFolders[] = {
    "AppData/Local/Microsoft/Windows/INetCache/Content.IE5",
    "AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5",
    "Local Settings/Temporary Internet Files/Content.IE5",
};

std::string Env(const TGetEnv& getEnv, const char* name) {
    const char* v = getEnv(name);
    return v != nullptr ? std::string(v) : std::string();
}

} // namespace

TCacheLocation LocateCache(const std::optional<fs::path>& option, const fs::path& demoCache,
                           const TGetEnv& getEnv) {
    if (option)
        return {*option, TCacheOrigin::coOption, "--cache"};
    if (std::string env = Env(getEnv, "TARNHOLD_CACHE"); !env.empty())
        return {fs::path(env), TCacheOrigin::coEnvironment, "$TARNHOLD_CACHE"};

    fs::path prefix;
    if (std::string wine = Env(getEnv, "WINEPREFIX"); !wine.empty())
        prefix = wine;
    else if (std::string home = Env(getEnv, "HOME"); !home.empty())
        prefix = fs::path(home) / ".wine";
    if (!prefix.empty()) {
        const fs::path users = prefix / "drive_c" / "users";
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(users, ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        const std::string me = Env(getEnv, "USER");
        if (auto it = std::find(names.begin(), names.end(), me); it != names.end())
            std::rotate(names.begin(), it, it + 1);
        for (const auto& user : names) {
            for (const char* sub : kWineCacheFolders) {
                const fs::path folder = users / user / sub;
                if (FileExists(folder / "index.dat"))
                    return {folder, TCacheOrigin::coWinePrefix,
                            "the Wine prefix " + prefix.string() + " (user " + user + ")"};
            }
        }
    }
    return {demoCache, TCacheOrigin::coDemo, "the demo cache"};
}

} // namespace tarnhold
