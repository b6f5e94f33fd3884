// The cache tree commands of tarnhold-cli over the cache Wine's WinINet wrote.
#include "cli/cli_helpers.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdlib.h>

namespace tarnhold::test {
namespace {

// Times are shown in local time; the tests run with TZ=Asia/Tokyo.
const std::string kCache = TARNHOLD_TEST_DATA "/cache/wine-ie-cache/Content.IE5";

bool HasLine(const std::string& out, const std::string& line) {
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

TEST(CliTree, TreeShowsFoldersWithCountsAndUrls) {
    TCliResult r = RunCli({"--cache", kCache, "tree"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Err, "") << "a cache named with --cache is not announced";
    EXPECT_NE(r.Out.find(
                  "\n  www.shop.test:8443\t1\t1KB\t2012/12/27 21:59\thttp://www.shop.test:8443/\n"),
              std::string::npos);
    EXPECT_NE(r.Out.find("\n    セール\t1\t"), std::string::npos) << "decoded and shown as UTF-8";
    EXPECT_EQ(r.Out.rfind("http:\t28\t", 0), std::string::npos) << "file: sorts first";

    TCliResult off = RunCli({"--no-scheme", "--cache", kCache, "tree"});
    ASSERT_EQ(off.ExitCode, 0);
    EXPECT_EQ(off.Out.find("http:"), std::string::npos);
    EXPECT_NE(off.Out.find("\nwww.shop.test\t"), std::string::npos);
}

TEST(CliTree, ListShowsFoldersFirstThenLocalNamesWithTitles) {
    TCliResult r = RunCli({"--cache", kCache, "list", "http://www.shop.test/"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind("catalog/\t\t\t\t2012/11/30 19:26\n", 0), 0u);
    EXPECT_TRUE(HasLine(r.Out, "FAQ.html\tFAQ.html\tFAQ (OLD)\t1KB\t2012/10/31 16:36"));
    EXPECT_TRUE(HasLine(r.Out, "faq~0001.html\tfaq.html\tFAQ\t1KB\t2012/10/28 16:19"))
        << "the older of two names that differ in case is numbered";
    EXPECT_TRUE(HasLine(r.Out, "product~9b0aeca9.html\tproduct.aspx?sku=A-1001&color=red\tRunner "
                               "X - red\t1KB\t2012/11/03 16:53"));
    EXPECT_TRUE(HasLine(r.Out, "robots.txt\trobots.txt\t\t1KB\t2012/11/18 18:18"));

    TCliResult missing = RunCli({"--cache", kCache, "list", "http://nowhere.test/"});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Err.find("no such folder"), std::string::npos);
    EXPECT_EQ(RunCli({"--cache", kCache, "list"}).ExitCode, 2);
}

TEST(CliTree, NameGivesTheLocalNameAndPath) {
    TCliResult r = RunCli(
        {"--cache", kCache, "name", "http://www.shop.test/product.aspx?sku=A-1001&color=red"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "name: product~9b0aeca9.html\n"
                     "local path: http$3a/www.shop.test/product~9b0aeca9.html\n"
                     "rename list: yes, http://www.shop.test/product~9b0aeca9.html\n");

    TCliResult folder = RunCli({"--cache", kCache, "name", "http://www.shop.test:8443/console/"});
    ASSERT_EQ(folder.ExitCode, 0) << folder.Err;
    EXPECT_EQ(folder.Out, "name: index.html\n"
                          "local path: http$3a/www.shop.test$3a8443/console/index.html\n"
                          "rename list: no\n");

    EXPECT_EQ(RunCli({"--cache", kCache, "name", "http://www.shop.test/nothing"}).ExitCode, 1);
}

TEST(CliTree, OverviewAndUnreadableCache) {
    TCliResult r = RunCli({"--cache", kCache, "overview"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind("Tarnhold ", 0), 0u);
    EXPECT_NE(r.Out.find("31 files"), std::string::npos);

    TCliResult bad = RunCli({"--cache", TARNHOLD_TEST_DATA "/cache/no-such-cache", "tree"});
    EXPECT_EQ(bad.ExitCode, 1);
    EXPECT_NE(bad.Err.find("No such file or directory"), std::string::npos);
}

} // namespace
} // namespace tarnhold::test

namespace tarnhold::test {
namespace {

// Each cache keeps its rename list in the data folder's renameLists; the
// records of the list all caches once shared move there on the first run,
// and the damage of that list is said while it is read.
TEST(CliTree, EachCacheKeepsItsOwnRenameList) {
    char name[] = "/tmp/tarnhold-renamelists-XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    const std::filesystem::path home = name;
    const std::string shared = "http://www.shop.test/product.aspx?sku=A-1001&color=red\t"
                               "http://www.shop.test/red.html\r\n"
                               "no tab\r\n"
                               "http://elsewhere.test/x.cgi\thttp://elsewhere.test/x.html\r\n";
    std::ofstream(home / "renameList.dat", std::ios::binary) << shared;
    const TCliRunOptions env{{}, {{"TARNHOLD_HOME", home.string()}}, {}};
    const std::vector<std::string> args = {
        "--cache", kCache, "name", "http://www.shop.test/product.aspx?sku=A-1001&color=red"};
    const std::string expected = "name: red.html\n"
                                 "local path: http$3a/www.shop.test/red.html\n"
                                 "rename list: yes, http://www.shop.test/red.html\n";

    TCliResult first = RunCli(args, env);
    ASSERT_EQ(first.ExitCode, 0) << first.Err;
    EXPECT_EQ(first.Out, expected);
    EXPECT_EQ(first.Err, "tarnhold-cli: warning: " + (home / "renameList.dat").string() +
                             ": 1 damaged record passed over; the file is left as it is\n");
    std::vector<std::filesystem::path> lists;
    for (const auto& entry : std::filesystem::directory_iterator(home / "renameLists"))
        lists.push_back(entry.path());
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].filename().string().rfind("wine-ie-cache_Content.IE5_index.dat-", 0), 0u)
        << lists[0];

    // The next run reads the cache's own list only, and names it the same.
    TCliResult second = RunCli(args, env);
    ASSERT_EQ(second.ExitCode, 0) << second.Err;
    EXPECT_EQ(second.Out, expected);
    EXPECT_EQ(second.Err, "");
    std::ifstream in(home / "renameList.dat", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), shared)
        << "a damaged list is never saved over";
    std::filesystem::remove_all(home);
}

} // namespace
} // namespace tarnhold::test
