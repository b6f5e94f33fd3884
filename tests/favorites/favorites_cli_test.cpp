// tarnhold-cli favorites over a data folder of the test's own.
#include "cli/cli_helpers.h"
#include "platform/appfolder.h"
#include "platform/files.h"
#include "support/testfiles.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace tarnhold::test {
namespace {

class FavoritesCli : public ::testing::Test {
protected:
    void SetUp() override {
        Home = CreateTempFolder();
        const char* old = std::getenv("TARNHOLD_HOME");
        OldHome = old != nullptr ? old : "";
        setenv("TARNHOLD_HOME", Home.c_str(), 1);
    }
    void TearDown() override {
        setenv("TARNHOLD_HOME", OldHome.c_str(), 1);
        DeleteFolder(Home);
    }
    std::filesystem::path Home;
    std::string OldHome;
};

TEST_F(FavoritesCli, AddListRemove) {
    ASSERT_EQ(RunCli({"favorites", "add", "日本", "http://jp.test/"}).ExitCode, 0);
    ASSERT_EQ(RunCli({"favorites", "add", "Alpha", "http://a.test/"}).ExitCode, 0);
    TCliResult list = RunCli({"favorites", "list", "--sort", "title"});
    ASSERT_EQ(list.ExitCode, 0) << list.Err;
    EXPECT_EQ(list.Out.rfind("2\tAlpha\thttp://a.test/\t", 0), 0u) << list.Out;
    EXPECT_NE(list.Out.find("\n1\t日本\thttp://jp.test/\t"), std::string::npos)
        << "numbers stay file positions";

    EXPECT_EQ(RunCli({"favorites", "remove", "3"}).ExitCode, 1);
    EXPECT_EQ(RunCli({"favorites", "remove", "1"}).ExitCode, 0);
    EXPECT_EQ(RunCli({"favorites", "list"}).Out.rfind("1\tAlpha\t", 0), 0u);
    EXPECT_EQ(RunCli({"favorites", "list", "--sort", "size"}).ExitCode, 2);
    EXPECT_EQ(RunCli({"favorites", "-h"}).ExitCode, 0);
}

TEST_F(FavoritesCli, DamagedCountIsReportedAndNothingOverwritten) {
    ASSERT_TRUE(WriteTestFile(Home / "favorites.dat",
                              "[Favorites]\r\nCount=-5\r\n"
                              "[Favorite0001]\r\nTitle=keep\r\nUrlName=http://keep.test/\r\n"));
    TCliResult list = RunCli({"favorites", "list"});
    EXPECT_EQ(list.ExitCode, 1);
    EXPECT_EQ(list.Out, "1\tkeep\thttp://keep.test/\t\n");
    EXPECT_NE(list.Err.find("Count \"-5\""), std::string::npos) << list.Err;

    TCliResult add = RunCli({"favorites", "add", "new", "http://new.test/"});
    EXPECT_EQ(add.ExitCode, 1) << "the file was damaged";
    EXPECT_EQ(add.Out.rfind("2\tnew\t", 0), 0u) << add.Out;
    TCliResult after = RunCli({"favorites", "list"});
    EXPECT_EQ(after.ExitCode, 0) << "the save mended it: " << after.Err;
    EXPECT_EQ(after.Out.rfind("1\tkeep\thttp://keep.test/\t\n2\tnew\t", 0), 0u) << after.Out;
}

TEST_F(FavoritesCli, ACopyFromADamagedFileSaysSoInItsExitCode) {
    const auto out = Home / "out";
    ASSERT_TRUE(WriteTestFile(Home / "favorites.dat",
                              "[Favorites]\r\nCount=0x10\r\n"
                              "[Favorite0001]\r\nTitle=essays\r\n"
                              "UrlName=http://www.yamabiko.test/essays/\r\nPathName=" +
                                  out.string() + "/\r\nFolder=1\r\nMethod=1\r\n"));
    TCliResult copy = RunCli({"--cache", TARNHOLD_DEMO_CACHE, "favorites", "copy", "1"});
    EXPECT_EQ(copy.ExitCode, 1) << copy.Out << copy.Err;
    EXPECT_NE(copy.Err.find("Count"), std::string::npos) << copy.Err;
    EXPECT_TRUE(FileExists(out / "kawa.html")) << "the favorite read is copied all the same";
}

TEST_F(FavoritesCli, ImportListsThenImportsByNumber) {
    const auto shortcuts = Home / "Favorites";
    ASSERT_TRUE(ForceDirectories(shortcuts / "News"));
    ASSERT_TRUE(WriteTestFile(shortcuts / "News" / "Paper.url",
                              "[InternetShortcut]\r\nURL=http://paper.test/\r\n"));
    ASSERT_TRUE(
        WriteTestFile(shortcuts / "Shop.url", "[InternetShortcut]\r\nURL=http://shop.test/\r\n"));
    ASSERT_EQ(RunCli({"favorites", "add", "shop", "HTTP://SHOP.TEST/"}).ExitCode, 0);

    TCliResult listed = RunCli({"favorites", "import", shortcuts.string()});
    ASSERT_EQ(listed.ExitCode, 0) << listed.Err;
    EXPECT_EQ(listed.Out, "1\tnew\tNews/Paper\thttp://paper.test/\n"
                          "2\tregistered\tShop\thttp://shop.test/\n");

    TCliResult refused = RunCli({"favorites", "import", shortcuts.string(), "2"});
    EXPECT_EQ(refused.ExitCode, 1) << "a registered shortcut cannot be chosen";
    TCliResult done = RunCli({"favorites", "import", shortcuts.string(), "1"});
    ASSERT_EQ(done.ExitCode, 0) << done.Err;
    EXPECT_EQ(done.Out, "imported 1 favorite\n");
    EXPECT_NE(RunCli({"favorites", "list"}).Out.find("2\tPaper\thttp://paper.test/\t"),
              std::string::npos);
}

TEST_F(FavoritesCli, ImportFromBookmarkFilesAndProfiles) {
    const std::string data = TARNHOLD_TEST_DATA "/favorites";
    ASSERT_EQ(RunCli({"favorites", "add", "shop", "http://www.shop.test/"}).ExitCode, 0);
    TCliResult listed = RunCli({"favorites", "import", "--from", data + "/chromium/Bookmarks"});
    ASSERT_EQ(listed.ExitCode, 0) << listed.Err;
    EXPECT_NE(listed.Out.find("4\tnew\tBookmarks bar/News 😀 ニュース\thttp://news.example.test/\n"),
              std::string::npos)
        << listed.Out;
    EXPECT_NE(listed.Out.find("5\tregistered\tBookmarks bar/Tarnhold テスト\t"), std::string::npos)
        << listed.Out;

    TCliResult done = RunCli({"favorites", "import", "--from", data + "/firefox", "--all"});
    ASSERT_EQ(done.ExitCode, 0) << done.Err;
    EXPECT_EQ(done.Out, "imported 5 favorites\n");
    const TCliResult list = RunCli({"favorites", "list", "--json"});
    EXPECT_NE(
        list.Out.find(
            "\"title\":\"Example 한국어\",\"url\":\"http://example.test/%ED%95%9C%EA%B5%AD\""),
        std::string::npos)
        << list.Out;

    // A home without browsers, and a path that is no source: said, and a failure.
    TCliRunOptions emptyHome;
    emptyHome.Env["HOME"] = Home.string();
    TCliResult none = RunCli({"favorites", "import", "--from", "firefox"}, emptyHome);
    EXPECT_EQ(none.ExitCode, 1);
    EXPECT_NE(none.Err.find("no Firefox bookmarks found"), std::string::npos) << none.Err;
    TCliResult wrong = RunCli({"favorites", "import", "--from", data + "/make-bookmarks.sh"});
    EXPECT_EQ(wrong.ExitCode, 1);
    EXPECT_NE(wrong.Err.find("neither a folder of shortcuts"), std::string::npos) << wrong.Err;
    EXPECT_EQ(RunCli({"favorites", "list", "--from", "wine"}).ExitCode, 2);
}

TEST_F(FavoritesCli, MistakesAreUsageErrorsThatChangeNothing) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
    } cases[] = {
        {"no sub-command", {"favorites"}},
        {"unknown sub-command", {"favorites", "frob"}},
        {"an option of list given to add", {"favorites", "add", "T", "http://t.test/", "--desc"}},
        {"an option of import given to list", {"favorites", "list", "--all"}},
        {"an unknown sort key", {"favorites", "list", "--sort", "size"}},
        {"add without a URL", {"favorites", "add", "T"}},
        {"add with an empty title", {"favorites", "add", " ", "http://t.test/"}},
        {"remove without a number", {"favorites", "remove"}},
        {"import with --all and numbers", {"favorites", "import", Home.string(), "1", "--all"}},
        {"import with a second folder", {"favorites", "import", Home.string(), "x"}},
    };
    for (const auto& c : cases) {
        TCliResult r = RunCli(c.args);
        EXPECT_EQ(r.ExitCode, 2) << c.name << "\n" << r.Err;
        EXPECT_EQ(r.Out, "") << c.name;
        EXPECT_EQ(Lines(r.Err).size(), 2u) << c.name << "\n" << r.Err;
        EXPECT_EQ(r.Err.rfind("tarnhold-cli: favorites: ", 0), 0u) << c.name << "\n" << r.Err;
    }
    EXPECT_FALSE(std::filesystem::exists(Home / "favorites.dat"));
}

TEST_F(FavoritesCli, ScriptRowsNameEveryField) {
    ASSERT_EQ(RunCli({"favorites", "add", "日本", "http://jp.test/%E6%97%A5/"}).ExitCode, 0);
    TCliResult r = RunCli({"favorites", "list", "--json"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    auto row = ParseJsonObject(Lines(r.Out).at(0));
    ASSERT_TRUE(row.has_value()) << r.Out;
    EXPECT_EQ((*row)["number"], "1");
    EXPECT_EQ((*row)["title"], "日本");
    EXPECT_EQ((*row)["url"], "http://jp.test/%E6%97%A5/");
    EXPECT_EQ((*row)["url_decoded"], "http://jp.test/日/");
    EXPECT_EQ((*row)["time"].size(), 25u) << "ISO 8601 with the zone: " << (*row)["time"];
    EXPECT_EQ((*row)["time"].substr(19), "+09:00");
    EXPECT_EQ((*row)["default_name"], "index.html");
    EXPECT_EQ((*row)["folder_method"], "2");
    EXPECT_EQ((*row)["copy_method"], "1");
    EXPECT_EQ((*row)["timer"], "false");

    TCliResult removed = RunCli({"favorites", "remove", "1"});
    EXPECT_EQ(removed.ExitCode, 0) << removed.Err;
    EXPECT_EQ(removed.Out.rfind("removed 1\t日本\thttp://jp.test/%E6%97%A5/\t", 0), 0u)
        << removed.Out;
    EXPECT_EQ(RunCli({"favorites", "list"}).Out, "");
}

TEST_F(FavoritesCli, ImportNamesWhatItCannotRead) {
    const auto shortcuts = Home / "Favorites";
    ASSERT_TRUE(ForceDirectories(shortcuts));
    ASSERT_TRUE(
        WriteTestFile(shortcuts / "Good.url", "[InternetShortcut]\r\nURL=http://good.test/\r\n"));
    ASSERT_TRUE(
        WriteTestFile(shortcuts / "Huge.url", "[InternetShortcut]\r\nURL=http://huge.test/\r\n" +
                                                  std::string(70 * 1024, ';')));
    TCliResult listed = RunCli({"favorites", "import", shortcuts.string()});
    EXPECT_EQ(listed.ExitCode, 1) << "something could not be read";
    EXPECT_EQ(listed.Out, "1\tnew\tGood\thttp://good.test/\n2\tno-url\tHuge\t\n");
    EXPECT_NE(listed.Err.find("Huge.url"), std::string::npos) << listed.Err;

    TCliResult all = RunCli({"favorites", "import", shortcuts.string(), "--all", "--json"});
    EXPECT_EQ(all.ExitCode, 1) << all.Err;
    const auto rows = Lines(all.Out);
    ASSERT_EQ(rows.size(), 1u) << all.Out;
    auto row = ParseJsonObject(rows[0]);
    ASSERT_TRUE(row.has_value()) << rows[0];
    EXPECT_EQ((*row)["state"], "imported");
    EXPECT_EQ((*row)["name"], "Good");
    EXPECT_EQ((*row)["file"], (shortcuts / "Good.url").string());

    TCliResult missing = RunCli({"favorites", "import", (Home / "nowhere").string()});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_EQ(missing.Out, "");
    EXPECT_NE(missing.Err.find("nowhere"), std::string::npos) << missing.Err;
}

TEST_F(FavoritesCli, CopyAndMoveASiteOutOfTheCache) {
    // A cache of the test's own, since a move deletes from it; the save
    // folder of a new favorite is ~/Tarnhold.
    const auto cache = Home / "cache";
    std::filesystem::copy(TARNHOLD_TEST_DATA "/cache/wine-ie-cache/Content.IE5", cache,
                          std::filesystem::copy_options::recursive);
    const TCliRunOptions env{{}, {{"HOME", Home.string()}, {"TARNHOLD_CACHE", cache.string()}}, {}};
    ASSERT_EQ(RunCli({"favorites", "add", "shop", "http://www.shop.test/"}, env).ExitCode, 0);
    const auto site = Home / "Tarnhold" / "http$3a" / "www.shop.test";

    TCliResult refused = RunCli({"favorites", "move", "1"}, env);
    EXPECT_EQ(refused.ExitCode, 2) << "no terminal to ask on";
    EXPECT_FALSE(std::filesystem::exists(site));

    TCliResult copied = RunCli({"favorites", "copy", "1", "--yes", "--json"}, env);
    ASSERT_EQ(copied.ExitCode, 0) << copied.Err;
    auto row = ParseJsonObject(Lines(copied.Out).at(0));
    ASSERT_TRUE(row) << copied.Out;
    EXPECT_EQ((*row)["state"], "copied");
    EXPECT_TRUE(FileExists(site / "FAQ.html"));
    EXPECT_TRUE(FileExists(site / "faq~0001.html")) << "a URL differing only in case is copied too";

    TCliResult moved = RunCli({"favorites", "move", "1", "--yes"}, env);
    ASSERT_EQ(moved.ExitCode, 0) << moved.Err;
    const std::string entries = RunCli({"entries"}, env).Out;
    EXPECT_EQ(entries.find("http://www.shop.test/"), std::string::npos) << entries;
    EXPECT_NE(entries.find("http://news.example.test/"), std::string::npos)
        << "other sites stay in the cache";
    EXPECT_EQ(RunCli({"favorites", "copy", "7", "--yes"}, env).ExitCode, 2);
}

} // namespace
} // namespace tarnhold::test
