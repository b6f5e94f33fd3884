// The cache tree commands of tarnhold-cli over the cache Wine's WinINet wrote.
#include "cli/cli_helpers.h"

#include <gtest/gtest.h>

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
