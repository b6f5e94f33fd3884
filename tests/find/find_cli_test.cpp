// tarnhold-cli find over the cache Wine's WinINet wrote.
#include "cli/cli_helpers.h"

#include <gtest/gtest.h>

namespace tarnhold::test {
namespace {

// Times are shown in local time; the tests run with TZ=Asia/Tokyo.
const std::string kCache = TARNHOLD_TEST_DATA "/cache/wine-ie-cache/Content.IE5";

TEST(FindCli, Table) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string out; // the whole output, or a piece of it when partOnly
        bool partOnly;
    } cases[] = {
        {"name pieces, rows as the find window shows them",
         {"--name", "faq"},
         0,
         "FAQ.html\thttp://www.shop.test/\tFAQ (OLD)\t1KB\ttext/html\t2012/10/31 16:36\n"
         "faq~0001.html\thttp://www.shop.test/\tFAQ\t1KB\ttext/html\t2012/10/28 16:19\n"
         "2 hits\n",
         false},
        {"Japanese text in Shift-JIS and EUC-JP pages",
         {"--contains", "ニュース"},
         0,
         "index.html\thttp://news.example.test/\t今日のニュース\t2KB\ttext/html\t2012/12/30 22:16\n"
         "index.html\thttp://news.example.test/economy/\t経済ニュース\t1KB\ttext/html\t2013/01/05 "
         "22:50\n"
         "2 hits\n",
         false},
        {"one folder, its own files, types",
         {"--in", "http://img.shop.test/static/", "--no-subfolders", "--ext", "CSS"},
         0,
         "main.css\thttp://img.shop.test/static/\t\t1KB\ttext/css\t2012/12/15 20:51\n1 hit\n",
         false},
        {"no hit", {"--name", "no-such-name"}, 0, "0 hits\n", false},
        {"unknown folder", {"--in", "http://nowhere.test/"}, 1, "", false},
        {"date range needs both ends", {"--date-from", "2012/12/15"}, 2, "", false},
        {"not a date", {"--date-from", "15.12.2012", "--date-to", "2012/12/16"}, 2, "", false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--cache", kCache, "find"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        TCliResult r = RunCli(args);
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.name << "\n" << r.Err;
        if (c.partOnly)
            EXPECT_NE(r.Out.find(c.out), std::string::npos) << c.name << "\n" << r.Out;
        else
            EXPECT_EQ(r.Out, c.out) << c.name;
    }
}

} // namespace
} // namespace tarnhold::test
