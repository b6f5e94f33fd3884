// Which cache is read: option, environment, Wine prefix, demo cache.
#include "sources/cachelocation.h"
#include "sources/opencache.h"
#include "support/blockfilewriter.h"
#include "support/cache_test_helpers.h"
#include "support/chromiumentrywriter.h"

#include <algorithm>
#include <chrono>
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

// A Chromium cache (its index) or a Firefox cache2 folder (with entries).
void MakeBrowserCache(const fs::path& folder, TCacheKind kind) {
    fs::create_directories(folder);
    if (kind == TCacheKind::ckChromium)
        test::WriteChromiumIndex(folder);
    else
        fs::create_directories(folder / "entries");
}

// Marks a cache as last written seconds ago.
void Age(const fs::path& folder, int seconds) {
    const auto when = fs::file_time_type::clock::now() - std::chrono::seconds(seconds);
    for (const fs::path& p : {folder, folder / "index", folder / "entries"}) {
        if (fs::exists(p))
            fs::last_write_time(p, when);
    }
}

TEST(CacheLocation, CachesDeeperThanTheUsualPlacesAreFound) {
    test::TTempDir tmp;
    const fs::path top = tmp.Path() / "top";
    const fs::path inet = top / "ie/INetCache/Content.IE5";
    const fs::path local = top / "local/Local/Microsoft/Windows/INetCache/Content.IE5";
    const fs::path chromium = top / "backup/home/.cache/chromium/Default/Cache/Cache_Data";
    const fs::path firefox = top / "ff/x/y/profile.default/cache2";
    const fs::path deep = top / "deep/1/2/3/4/5/6/7/8/9";
    MakeIndex(inet);
    MakeIndex(local);
    MakeBrowserCache(chromium, TCacheKind::ckChromium);
    MakeBrowserCache(firefox, TCacheKind::ckFirefox);
    MakeIndex(deep); // nine levels below deep
    // A cache behind a link is not looked into.
    MakeIndex(tmp.Path() / "elsewhere/INetCache/Content.IE5");
    fs::create_directories(top / "linked");
    fs::create_directory_symlink(tmp.Path() / "elsewhere", top / "linked/away");
    fs::create_directories(top / "empty/a/b");
    TEnv env;

    struct TCase {
        const char* Name;
        fs::path Named;
        fs::path Read; // empty: none found
        TCacheKind Kind;
    };
    const TCase cases[] = {
        {"INetCache below the folder named", top / "ie", inet, TCacheKind::ckIndexDat},
        {"a copied Local folder", top / "local", local, TCacheKind::ckIndexDat},
        {"a Chromium cache six levels down", top / "backup", chromium, TCacheKind::ckChromium},
        {"a Firefox cache", top / "ff", firefox, TCacheKind::ckFirefox},
        {"eight levels down at most", top / "deep", {}, TCacheKind::ckIndexDat},
        {"not through a link", top / "linked", {}, TCacheKind::ckIndexDat},
        {"no cache at all", top / "empty", {}, TCacheKind::ckIndexDat},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const TCacheLocation where = LocateCache(c.Named, "/demo", env.Get());
        EXPECT_EQ(where.Path, c.Read);
        if (c.Read.empty()) {
            // The message says what was looked for, and how far.
            EXPECT_NE(where.Error.Text().find("Chromium's and Firefox's caches"), std::string::npos)
                << where.Error.Text();
            EXPECT_NE(where.Error.Text().find("up to 8 levels below it"), std::string::npos);
            EXPECT_NE(where.Error.Text().find("links not followed"), std::string::npos);
            continue;
        }
        EXPECT_TRUE(where.Error.Ok()) << where.Error.Text();
        EXPECT_EQ(where.Kind, c.Kind);
        EXPECT_TRUE(where.Searched);
    }
    // Every one found, nearest first.
    TCacheSearch search;
    const auto all = FindCachesBelow(top, "", &search);
    std::vector<fs::path> folders;
    for (const auto& f : all)
        folders.push_back(f.Folder);
    EXPECT_EQ(folders, (std::vector<fs::path>{inet, firefox, local, chromium}));
    EXPECT_FALSE(search.Stopped);
    EXPECT_EQ(search.Unreadable, 0u);

    TCacheSearch none;
    EXPECT_TRUE(FindCachesBelow(top / "empty", "", &none).empty());
    EXPECT_EQ(none.Folders, 3u) << "empty, a and b";
}

TEST(CacheLocation, BrowserCachesComeBeforeTheDemoTheNewestFirst) {
    test::TTempDir tmp;
    const fs::path home = tmp.Path() / "home";
    const fs::path demo = tmp.Path() / "demo";
    MakeIndex(demo);
    const fs::path chromium = home / ".cache/chromium/Default/Cache/Cache_Data";
    const fs::path firefox = home / ".mozilla/firefox/abc.default/cache2";
    MakeBrowserCache(chromium, TCacheKind::ckChromium);
    MakeBrowserCache(firefox, TCacheKind::ckFirefox);
    TEnv env;
    env.vars["HOME"] = home.string();

    Age(chromium, 3600);
    Age(firefox, 60);
    TCacheLocation where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coBrowser);
    EXPECT_EQ(where.Path, firefox);
    EXPECT_EQ(where.Kind, TCacheKind::ckFirefox);
    EXPECT_NE(where.Description.find("the newest of 2 browser caches"), std::string::npos)
        << where.Description;
    ASSERT_EQ(where.Others.size(), 1u);
    EXPECT_EQ(where.Others[0].Folder, chromium);

    Age(firefox, 7200);
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Path, chromium);
    EXPECT_EQ(where.Kind, TCacheKind::ckChromium);

    // Listed in the order they are taken: browsers, then the demo cache.
    const auto all = FindAllCaches(demo, env.Get());
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].Folder, chromium);
    EXPECT_EQ(all[1].Folder, firefox);
    EXPECT_EQ(all[2].Folder, demo);

    // A Wine prefix's cache still comes first.
    MakeIndex(home / ".wine/drive_c/users/amy" / kInetCache);
    where = LocateCache(std::nullopt, demo, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coWinePrefix);
}

TEST(CacheLocation, DemoCacheBesideTheInstalledProgramThenTheBuilds) {
    test::TTempDir tmp;
    const fs::path program = tmp.Path() / "usr/bin/tarnhold-cli";
    const fs::path installed = tmp.Path() / "usr/share/tarnhold/demo-cache";
    const fs::path built = tmp.Path() / "build/generated/demo-cache";
    const fs::path relative = "../share/tarnhold/demo-cache";

    EXPECT_EQ(FindDemoCache(relative, built, program), fs::path()) << "neither is there";
    MakeIndex(built);
    EXPECT_EQ(FindDemoCache(relative, built, program), built);
    MakeIndex(installed);
    EXPECT_EQ(FindDemoCache(relative, built, program), installed);
    fs::remove_all(tmp.Path() / "build");
    EXPECT_EQ(FindDemoCache(relative, built, program), installed) << "the build tree gone";

    // No demo cache and nothing else: an error that says what to do.
    TEnv env;
    env.vars["HOME"] = (tmp.Path() / "home").string();
    const TCacheLocation none = LocateCache(std::nullopt, fs::path(), env.Get());
    EXPECT_FALSE(none.Error.Ok());
    EXPECT_TRUE(none.Path.empty());
    EXPECT_NE(none.Error.Text().find("--cache PATH"), std::string::npos) << none.Error.Text();
}

} // namespace
} // namespace tarnhold

namespace tarnhold {
namespace {

// The Chromium family's caches in the Windows profiles of a Wine prefix or
// a mounted Windows disk: each browser's profiles, the blockfile cache that
// Windows builds write, found whatever its backend.
TEST(CacheLocation, ChromiumCachesOfWindowsProfilesAreFound) {
    test::TTempDir tmp;
    const fs::path home = tmp.Path() / "home";
    const fs::path prefix = home / "prefix";
    const fs::path amy = prefix / "drive_c/users/amy";
    const fs::path chrome = amy / "AppData/Local/Google/Chrome/User Data/Default/Cache/Cache_Data";
    const fs::path chrome2 =
        amy / "AppData/Local/Google/Chrome/User Data/Profile 2/Cache/Cache_Data";
    const fs::path disk = tmp.Path() / "mnt/windows";
    const fs::path edge =
        disk / "Users/bob/AppData/Local/Microsoft/Edge/User Data/Default/Cache/Cache_Data";
    const fs::path oldBrave =
        disk / "Users/bob/AppData/Local/BraveSoftware/Brave-Browser/User Data/Default/Cache";
    const fs::path opera =
        disk / "Users/bob/AppData/Local/Opera Software/Opera Stable/Cache/Cache_Data";
    const fs::path notCache =
        disk / "Users/bob/AppData/Local/Vivaldi/User Data/Default/Cache/Cache_Data";
    for (const fs::path& f : {chrome, chrome2, edge, oldBrave, opera}) {
        fs::create_directories(f);
        test::WriteBlockfileCache(f, {});
    }
    fs::create_directories(notCache); // no index: no cache
    TEnv env;
    env.vars["HOME"] = home.string();
    env.vars["WINEPREFIX"] = prefix.string();

    TCacheLocation where = LocateCache(std::nullopt, {}, env.Get());
    EXPECT_EQ(where.Origin, TCacheOrigin::coWinePrefix);
    EXPECT_EQ(where.Path, chrome);
    EXPECT_EQ(where.Kind, TCacheKind::ckChromium);
    EXPECT_NE(where.Description.find("Google Chrome, profile Default, user amy"), std::string::npos)
        << where.Description;
    ASSERT_EQ(where.Others.size(), 1u);
    EXPECT_EQ(where.Others[0].Folder, chrome2);
    EXPECT_EQ(where.Others[0].Kind, TCacheKind::ckChromium);

    const auto found = FindCachesBelow(disk, "");
    std::vector<fs::path> folders;
    for (const auto& f : found) {
        folders.push_back(f.Folder);
        EXPECT_EQ(f.Kind, TCacheKind::ckChromium);
    }
    EXPECT_EQ(folders, (std::vector<fs::path>{edge, oldBrave, opera}));

    where = LocateCache(disk, {}, env.Get());
    EXPECT_EQ(where.Path, edge);
    EXPECT_EQ(where.Kind, TCacheKind::ckChromium);
    EXPECT_EQ(where.Others.size(), 2u);

    // A profile named: its cache; the source made for it reads the blockfile cache.
    fs::path folder;
    EXPECT_EQ(DetectBrowserCache(chrome.parent_path().parent_path(), &folder),
              TCacheKind::ckChromium);
    EXPECT_EQ(folder, chrome);
    TError error;
    auto source = OpenCacheSourceAt(chrome, TCacheKind::ckChromium, &error);
    ASSERT_NE(source, nullptr);
    EXPECT_NE(source->Describe().find("blockfile"), std::string::npos);

    const auto all = FindAllCaches({}, env.Get());
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].Folder, chrome);
    EXPECT_EQ(all[0].Kind, TCacheKind::ckChromium);
}

} // namespace
} // namespace tarnhold
