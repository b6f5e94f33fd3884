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

    // Older Wine layouts, another user first in name order.
    MakeIndex(users / "amy/Local Settings/Temporary Internet Files/Content.IE5");
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coWinePrefix);
    EXPECT_EQ(where.Path, users / "amy/Local Settings/Temporary Internet Files/Content.IE5");
    EXPECT_NE(where.Description.find("amy"), std::string::npos);

    // The current user's cache wins, current layout before older ones.
    MakeIndex(users / "zed/AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5");
    MakeIndex(users / "zed/AppData/Local/Microsoft/Windows/INetCache/Content.IE5");
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Path, users / "zed/AppData/Local/Microsoft/Windows/INetCache/Content.IE5");

    // $WINEPREFIX replaces ~/.wine.
    env.vars["WINEPREFIX"] = (tmp.Path() / "empty-prefix").string();
    EXPECT_EQ(LocateCache(std::nullopt, demo, env.Get()).Origin, TCacheOrigin::coDemo);

    env.vars["TARNHOLD_CACHE"] = "/from/env";
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coEnvironment);
    EXPECT_EQ(where.Path, fs::path("/from/env"));

    where = LocateCache(fs::path("/from/option"), demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coOption);
    EXPECT_EQ(where.Path, fs::path("/from/option"));
}

// The command line over a copy of the Wine cache.
TEST(CliCache, EntriesAndDeleteEntry) {
    test::TTempDir tmp;
    const fs::path cache = tmp.Path() / "Content.IE5";
    test::CopyTree(test::CacheTestData() / "wine-ie-cache/Content.IE5", cache);
    const std::string cli = TARNHOLD_CLI;
    std::string out, err;

    ASSERT_EQ(test::RunProgram({cli, "--cache", cache.string(), "entries"}, &out, &err), 0) << err;
    EXPECT_EQ(err, ""); // named by --cache: nothing said about where it came from
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 31);
    EXPECT_NE(out.find("http://www.shop.test/faq.html\t591\t2012/10/28 16:19:02\ttext/html\t" +
                       (cache / "LF9FM8KU/faq[0].htm").string() + "\n"),
              std::string::npos)
        << out;

    ASSERT_EQ(test::RunProgram({cli, "--cache", cache.string(), "entries", "--all"}, &out), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 35);
    EXPECT_NE(out.find("0x00100001\tskipped\tcookie:root@www.shop.test/catalog/\t86\t"),
              std::string::npos);

    // Declined, then confirmed, then gone.
    const std::string url = "http://www.shop.test/FAQ.html";
    EXPECT_EQ(
        test::RunProgram({cli, "--cache", cache.string(), "delete-entry", url}, &out, &err, "n\n"),
        1);
    EXPECT_TRUE(fs::exists(cache / "DZHPG5TO/FAQ[0].htm"));
    EXPECT_EQ(
        test::RunProgram({cli, "--cache", cache.string(), "delete-entry", url}, &out, &err, "y\n"),
        0)
        << err;
    EXPECT_FALSE(fs::exists(cache / "DZHPG5TO/FAQ[0].htm"));
    EXPECT_EQ(test::RunProgram({cli, "--cache", cache.string(), "delete-entry", "--yes", url}, &out,
                               &err),
              1);
    EXPECT_NE(err.find("no such entry"), std::string::npos) << err;

    // Without --cache: $TARNHOLD_CACHE, and stderr says so.
    ::setenv("TARNHOLD_CACHE", cache.string().c_str(), 1);
    EXPECT_EQ(test::RunProgram({cli, "entries"}, &out, &err), 0);
    ::unsetenv("TARNHOLD_CACHE");
    EXPECT_NE(err.find("$TARNHOLD_CACHE"), std::string::npos) << err;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 30);

    EXPECT_EQ(
        test::RunProgram({cli, "--cache", (tmp.Path() / "none").string(), "entries"}, &out, &err),
        1);
    EXPECT_NE(err.find("No such file"), std::string::npos) << err;
}

} // namespace
} // namespace tarnhold
