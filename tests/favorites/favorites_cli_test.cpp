// tarnhold-cli favorites over a data folder of the test's own.
#include "cli/cli_helpers.h"
#include "platform/appfolder.h"
#include "platform/files.h"

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

TEST_F(FavoritesCli, ImportListsThenImportsByNumber) {
    const auto shortcuts = Home / "Favorites";
    ASSERT_TRUE(ForceDirectories(shortcuts / "News"));
    ASSERT_TRUE(WriteWholeFile(shortcuts / "News" / "Paper.url",
                               "[InternetShortcut]\r\nURL=http://paper.test/\r\n"));
    ASSERT_TRUE(
        WriteWholeFile(shortcuts / "Shop.url", "[InternetShortcut]\r\nURL=http://shop.test/\r\n"));
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

} // namespace
} // namespace tarnhold::test
