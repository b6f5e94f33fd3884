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
        {"Japanese text in Shift-JIS, EUC-JP and UTF-8 pages",
         {"--contains", "ニュース"},
         0,
         "index.html\thttp://news.example.test/\t今日のニュース\t2KB\ttext/html\t2012/12/30 22:16\n"
         "index.html\thttp://news.example.test/economy/\t経済ニュース\t1KB\ttext/html\t2013/01/05 "
         "22:50\n"
         "商品一覧.html\thttp://www.shop.test/セール/\t秋のセール商品一覧\t2KB\ttext/html\t"
         "2012/11/15 18:01\n"
         "3 hits\n",
         false},
        {"one folder, its own files, types",
         {"--in", "http://img.shop.test/static/", "--no-subfolders", "--ext", "CSS"},
         0,
         "main.css\thttp://img.shop.test/static/\t\t1KB\ttext/css\t2012/12/15 20:51\n1 hit\n",
         false},
        {"a folder hit: its location is the folder above it",
         {"--name", "セール", "--in", "http://www.shop.test", "--no-subfolders"},
         0,
         "セール/\thttp://www.shop.test/\t\t\tfolder\t2012/11/15 18:01\n1 hit\n",
         false},
        {"the folder percent-encoded, without its final /",
         {"--in", "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB"},
         0,
         "商品一覧.html\thttp://www.shop.test/セール/\t秋のセール商品一覧\t2KB\ttext/html\t"
         "2012/11/15 18:01\n1 hit\n",
         false},
        {"dates with dashes, the end day included to its last minute",
         {"--date-from", "2012-12-15", "--date-to", "2012-12-15", "--ext", ".css,.js"},
         0,
         "main.css\thttp://img.shop.test/static/\t\t1KB\ttext/css\t2012/12/15 20:51\n1 hit\n",
         false},
        {"Web Cache is the whole tree",
         {"--in", "Web Cache", "--name", "main.css"},
         0,
         "1 hit\n",
         true},
        {"no hit", {"--name", "no-such-name"}, 0, "0 hits\n", false},
        {"unknown folder", {"--in", "http://nowhere.test/"}, 1, "", false},
        // (A page without a date of its own, dated by its cached file, is
        // left out: a checkout gives that file the time of the checkout.)
        {"from a date on, the other end open",
         {"--date-from", "2013/01/14", "--ext", ".html", "--in", "http://news.example.test/"},
         0,
         "index.html\thttp://news.example.test/culture/books/\t新刊案内\t1KB\ttext/html\t"
         "2013/01/14 23:41\n1 hit\n",
         true},
        {"up to a date, the other end open",
         {"--date-to", "2012-10-25", "--ext", ".html"},
         0,
         "model-x.html\thttp://www.shop.test/catalog/shoes/running/\tRunner X\t1KB\ttext/"
         "html\t2012/10/25 16:02\n2 hits\n",
         true},
        {"the folder without its scheme",
         {"--in", "www.shop.test/セール"},
         0,
         "商品一覧.html\thttp://www.shop.test/セール/\t秋のセール商品一覧\t2KB\ttext/html\t"
         "2012/11/15 18:01\n1 hit\n",
         false},
        {"date ranges and periods exclude each other",
         {"--date-from", "2012/12/15", "--days", "3"},
         2,
         "",
         false},
        {"not a date", {"--date-from", "15.12.2012", "--date-to", "2012/12/16"}, 2, "", false},
        {"no such day", {"--date-from", "2012/02/30", "--date-to", "2012/12/16"}, 2, "", false},
        {"two date modes", {"--days", "3", "--months", "1"}, 2, "", false},
        {"not a number", {"--days", "3d"}, 2, "", false},
        {"a negative size", {"--size-min", "-1"}, 2, "", false},
        {"a size past 4 GB", {"--size-max", "4194305"}, 2, "", false},
        {"an empty text to look for", {"--contains", " "}, 2, "", false},
        {"no operands", {"faq"}, 2, "", false},
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

// For scripts: every field named, sizes in bytes, ISO times; the number of
// hits apart from the rows.
TEST(FindCli, ScriptRowsCarryBytesTimesAndBothUrls) {
    TCliResult r = RunCli({"--cache", kCache, "find", "--json", "--in",
                           "http://www.shop.test/セール/", "--no-subfolders"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    const auto lines = Lines(r.Out);
    ASSERT_EQ(lines.size(), 1u) << r.Out;
    auto row = ParseJsonObject(lines[0]);
    ASSERT_TRUE(row.has_value()) << lines[0];
    EXPECT_EQ((*row)["kind"], "file");
    EXPECT_EQ((*row)["name"], "商品一覧.html");
    EXPECT_EQ((*row)["location"], "http://www.shop.test/セール/");
    EXPECT_EQ((*row)["title"], "秋のセール商品一覧");
    EXPECT_EQ((*row)["size"], "1035");
    EXPECT_EQ((*row)["time"], "2012-11-15T18:01:08+09:00");
    EXPECT_EQ((*row)["url"], "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/"
                             "%E5%95%86%E5%93%81%E4%B8%80%E8%A6%A7.html");
    EXPECT_EQ((*row)["url_decoded"], "http://www.shop.test/セール/商品一覧.html");
    EXPECT_EQ((*row)["local_path"], "http$3a/www.shop.test/セール/商品一覧.html");
    EXPECT_NE(r.Err.find("1 hit"), std::string::npos) << r.Err;

    TCliResult folder = RunCli({"--cache", kCache, "find", "--tsv", "--name", "セール"});
    ASSERT_EQ(folder.ExitCode, 0) << folder.Err;
    EXPECT_EQ(folder.Out,
              "kind\tname\tlocation\ttitle\tsize\tcontent_type\ttime\turl\turl_decoded\t"
              "local_path\tcached_file\n"
              "folder\tセール\thttp://www.shop.test/\t\t1035\t\t2012-11-15T18:01:08+09:00\t"
              "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/\thttp://www.shop.test/セール/\t"
              "http$3a/www.shop.test/セール/\t\n");
}

} // namespace
} // namespace tarnhold::test

namespace tarnhold::test {
namespace {

// Today's browsers' caches: pages in UTF-8 (declared in the header, by META
// or not at all) and one in Shift-JIS; a word is found in each.
TEST(FindCli, ContainedTextInTheBrowsersCaches) {
    struct TCase {
        const char* cache;
        const char* word;
        const char* hit; // a piece of the hit's row
        int hits;
    } const cases[] = {
        {"browsers/chromium", "テスト", "index.html\t", 1},
        {"browsers/chromium", "TARNHOLD", "index.html\t", 1},
        {"browsers/firefox", "ホーム", "Tarnhold テスト", 1},
        {"browsers/firefox", "検索結果", "検索結果", 1},
    };
    for (const auto& c : cases) {
        TCliResult r = RunCli({"--cache", std::string(TARNHOLD_TEST_DATA "/") + c.cache, "find",
                               "--contains", c.word});
        EXPECT_EQ(r.ExitCode, 0) << c.cache << " " << c.word << ": " << r.Err;
        EXPECT_NE(r.Out.find(c.hit), std::string::npos)
            << c.cache << " " << c.word << ": " << r.Out;
        EXPECT_NE(r.Out.find(std::to_string(c.hits) + (c.hits == 1 ? " hit\n" : " hits\n")),
                  std::string::npos)
            << c.cache << " " << c.word << ": " << r.Out;
    }
}

} // namespace
} // namespace tarnhold::test
