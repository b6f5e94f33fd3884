// Which cache is read: option, environment, Wine prefix, demo cache.
#include "cache/cachelocation.h"
#include "cache_test_helpers.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

struct TEnv {
    std::map<std::string, std::string> vars;
    TGetEnv Get() const {
        return [this](const char* name) -> const char* {
            auto it = vars.find(name);
            return it == vars.end() ? nullptr : it->second.c_str();
        };
    }
};

void MakeIndex(const fs::path& folder) {
    fs::create_directories(folder);
    test::WriteFileBytes(folder / "index.dat", "x");
}

const char kInetCache[] = "AppData/Local/Microsoft/Windows/INetCache/Content.IE5";

TEST(CacheLocation, OptionThenEnvironmentThenWineThenDemo) {
    test::TTempDir tmp;
    const fs::path home = tmp.Path() / "home";
    const fs::path users = home / ".wine/drive_c/users";
    TEnv env;
    env.vars["HOME"] = home.string();
    env.vars["USER"] = "zed";
    const fs::path demo = "/demo";

    auto where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coDemo);
    EXPECT_EQ(where.Path, demo);
    EXPECT_TRUE(where.Error.Ok());

    // Older Wine layouts, another user first in name order.
    MakeIndex(users / "amy/Local Settings/Temporary Internet Files/Content.IE5");
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coWinePrefix);
    EXPECT_EQ(where.Path, users / "amy/Local Settings/Temporary Internet Files/Content.IE5");
    EXPECT_NE(where.Description.find("amy"), std::string::npos);
    EXPECT_TRUE(where.Others.empty());

    // The current user's cache wins, current layout before older ones; the
    // others are named.
    MakeIndex(users / "zed/AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5");
    MakeIndex(users / "zed" / kInetCache);
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Path, users / "zed" / kInetCache);
    ASSERT_EQ(where.Others.size(), 2u);
    EXPECT_EQ(where.Others[1].Folder,
              users / "amy/Local Settings/Temporary Internet Files/Content.IE5");

    // $WINEPREFIX replaces ~/.wine; one without a cache leaves the demo cache
    // and says so, one that does not exist is an error.
    fs::create_directories(tmp.Path() / "empty-prefix");
    env.vars["WINEPREFIX"] = (tmp.Path() / "empty-prefix").string();
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coDemo);
    EXPECT_NE(where.Description.find("empty-prefix"), std::string::npos);
    env.vars["WINEPREFIX"] = (tmp.Path() / "no-such-prefix").string();
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_FALSE(where.Error.Ok());
    EXPECT_NE(where.Error.Text().find("no-such-prefix"), std::string::npos);
    EXPECT_TRUE(where.Path.empty());

    env.vars["TARNHOLD_CACHE"] = "/from/env";
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coEnvironment);
    EXPECT_EQ(where.Path, fs::path("/from/env"));

    where = LocateCache(fs::path("/from/option"), demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coOption);
    EXPECT_EQ(where.Path, fs::path("/from/option"));
}

TEST(CacheLocation, NamedFolderIsSearchedBelow) {
    test::TTempDir tmp;
    const fs::path prefix = tmp.Path() / "prefix";
    const fs::path amy = prefix / "drive_c/users/amy" / kInetCache;
    const fs::path bob = prefix / "drive_c/users/bob" / kInetCache;
    const fs::path disk = tmp.Path() / "disk";
    const fs::path xp =
        disk / "Documents and Settings/Me/Local Settings/Temporary Internet Files/Content.IE5";
    MakeIndex(amy);
    MakeIndex(bob);
    MakeIndex(xp);
    fs::create_directories(tmp.Path() / "nothing/here");
    TEnv env;
    env.vars["USER"] = "bob";

    struct TCase {
        const char* Name;
        fs::path Named;
        fs::path Read; // empty: an error
        bool Searched;
        std::size_t Others;
    };
    const TCase cases[] = {
        {"the index itself", amy / "index.dat", amy / "index.dat", false, 0},
        {"the folder of the index", amy, amy, false, 0},
        {"the folder above Content.IE5", amy.parent_path(), amy, true, 0},
        {"a user's profile", prefix / "drive_c/users/amy", amy, true, 0},
        {"a folder of profiles, current user first", prefix / "drive_c/users", bob, true, 1},
        {"drive_c", prefix / "drive_c", bob, true, 1},
        {"a Wine prefix", prefix, bob, true, 1},
        {"a Windows disk", disk, xp, true, 0},
        {"a path that does not exist is read (and fails)", tmp.Path() / "none", tmp.Path() / "none",
         false, 0},
        {"a folder without a cache", tmp.Path() / "nothing", {}, true, 0},
    };
    for (const auto& c : cases) {
        const TCacheLocation where = LocateCache(c.Named, "/demo", env.Get());
        EXPECT_EQ(where.Path, c.Read) << c.Name;
        EXPECT_EQ(where.Searched, c.Searched) << c.Name;
        EXPECT_EQ(where.Others.size(), c.Others) << c.Name;
        EXPECT_EQ(where.Error.Ok(), !c.Read.empty()) << c.Name;
        EXPECT_EQ(where.Origin, TCacheOrigin::coOption) << c.Name;
    }
}

TEST(CacheLocation, AllCachesOnceEach) {
    test::TTempDir tmp;
    const fs::path home = tmp.Path() / "home";
    const fs::path demo = tmp.Path() / "demo";
    MakeIndex(home / ".wine/drive_c/users/amy" / kInetCache);
    MakeIndex(home / ".local/share/wineprefixes/office/drive_c/users/amy" / kInetCache);
    MakeIndex(demo);
    TEnv env;
    env.vars["HOME"] = home.string();
    env.vars["WINEPREFIX"] = (home / ".wine").string(); // the same prefix twice
    const auto all = FindAllCaches(demo, env.Get());
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Folder, home / ".wine/drive_c/users/amy" / kInetCache);
    EXPECT_NE(all[0].Description.find("$WINEPREFIX"), std::string::npos);
    EXPECT_NE(all[1].Description.find("office"), std::string::npos);
    EXPECT_EQ(all[2].Folder, demo);
}

} // namespace
} // namespace tarnhold
