#include "platform/codepage.h"
#include "support/cachetreefixture.h"
#include "tree/urlmatch.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

using testing::MakeTree;
using testing::Refresh;

// The cache as it holds the URLs: percent-encoded where the browser sent
// them so, a host under two schemes, a port, and two URLs that differ in
// case only.
std::unique_ptr<TWebCacheTree> ShopTree(bool enableScheme) {
    auto tree = MakeTree({{"http://www.shop.test/catalog/shoes/boots.html"},
                          {"http://www.shop.test/catalog/index.html"},
                          {"http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/list.html"},
                          {"http://www.shop.test/a%20b.html"},
                          {"http://www.shop.test/Case.html"},
                          {"http://www.shop.test/case.HTML"},
                          {"http://www.shop.test:8443/console/", "text/html"},
                          {"ftp://files.shop.test/pub/catalog/prices.csv", "text/csv"},
                          {"http://two.test/dir/p.html"},
                          {"https://two.test/dir/p.html"}},
                         enableScheme);
    Refresh(*tree);
    return tree;
}

TEST(UrlMatcher, LevelOfEachFormOfAUrl) {
    struct TCase {
        const char* Name;
        std::string Typed; // UTF-8, as on the command line
        std::string Cache; // as the cache holds it
        int Level;
    };
    const TCase cases[] = {
        {"as stored", "http://h/a%20b.html", "http://h/a%20b.html", 3},
        {"the bytes Wine stores", "http://h/セ.html", "http://h/セ.html", 3},
        {"decoded", "http://h/a b.html", "http://h/a%20b.html", 2},
        {"decoded Japanese", "http://h/セール/", "http://h/%E3%82%BB%E3%83%BC%E3%83%AB/", 2},
        {"encoded against decoded", "http://h/a%20b.html", "http://h/a b.html", 2},
        {"without the scheme", "h/a.html", "http://h/a.html", 2},
        {"the tree's form after a port", "http://h:8443//c/", "http://h:8443/c/", 2},
        {"ignoring case", "http://H/A.html", "http://h/a.html", 1},
        {"ignoring case when decoded", "http://h/A B.html", "http://h/a%20b.html", 1},
        {"another file", "http://h/b.html", "http://h/a.html", 0},
        {"another scheme when typed with one", "https://h/a.html", "http://h/a.html", 0},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(TUrlMatcher(c.Typed).Level(c.Cache), c.Level) << c.Name;
}

TEST(UrlMatcher, TheBestLevelWinsAndItsTiesAreKept) {
    TUrlMatcher matcher("http://h/a.html");
    matcher.Offer("http://H/A.HTML", 0);   // case
    matcher.Offer("http://h/a.html", 1);   // exact
    matcher.Offer("http://h/%61.html", 2); // decoded
    matcher.Offer("http://h/a.html", 1);   // offered twice, kept once
    EXPECT_EQ(matcher.Best(), std::vector<std::size_t>({1}));

    TUrlMatcher cases("http://h/a.html");
    cases.Offer("http://h/A.html", 0);
    cases.Offer("http://h/b.html", 1);
    cases.Offer("http://h/a.HTML", 2);
    EXPECT_EQ(cases.Best(), std::vector<std::size_t>({0, 2})) << "ambiguous";

    TUrlMatcher noGuess("http://h/a.html", 2);
    noGuess.Offer("http://h/A.html", 0);
    EXPECT_TRUE(noGuess.Best().empty()) << "case matters when deleting";
}

TEST(FindFolder, EveryFormOfAFolderUrl) {
    struct TCase {
        const char* Name;
        bool EnableScheme;
        std::string Typed;
        std::string DirUrl;        // UTF-8; empty: none
        std::size_t Ambiguous = 0; // candidates when none
    };
    const TCase cases[] = {
        {"as the tree prints it", true, "http://www.shop.test/catalog/",
         "http://www.shop.test/catalog/"},
        {"without the final /", true, "http://www.shop.test/catalog",
         "http://www.shop.test/catalog/"},
        {"decoded", true, "http://www.shop.test/セール/", "http://www.shop.test/セール/"},
        {"percent-encoded", true, "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB",
         "http://www.shop.test/セール/"},
        {"without the scheme", true, "www.shop.test/catalog", "http://www.shop.test/catalog/"},
        {"below another scheme", true, "files.shop.test/pub/catalog/",
         "ftp://files.shop.test/pub/catalog/"},
        {"a scheme's folder", true, "http://", "http://"},
        {"below two schemes", true, "two.test/dir/", "", 2},
        {"one of them named", true, "https://two.test/dir/", "https://two.test/dir/"},
        {"a file is no folder", true, "http://www.shop.test/catalog/index.html", ""},
        {"no such folder", true, "http://www.shop.test/nothing/", ""},
        {"no scheme level", false, "www.shop.test/catalog/", "www.shop.test/catalog/"},
        {"no scheme level, typed with one", false, "http://www.shop.test/catalog/",
         "www.shop.test/catalog/"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto tree = ShopTree(c.EnableScheme);
        std::vector<TWebCacheTreeNode*> ambiguous;
        const TWebCacheTreeNode* folder = FindFolder(*tree, c.Typed, &ambiguous);
        if (c.DirUrl.empty()) {
            EXPECT_EQ(folder, nullptr);
        } else {
            ASSERT_NE(folder, nullptr);
            EXPECT_EQ(AnsiToUtf8(folder->DirUrl()), c.DirUrl);
        }
        EXPECT_EQ(ambiguous.size(), c.Ambiguous);
    }
}

TEST(MatchFileNodes, TheFilesATypedUrlNames) {
    struct TCase {
        const char* Name;
        std::string Typed;
        int MinLevel;
        std::vector<std::string> Urls; // of the nodes found, as stored
    };
    const TCase cases[] = {
        {"as stored", "http://www.shop.test/a%20b.html", 1, {"http://www.shop.test/a%20b.html"}},
        {"decoded", "http://www.shop.test/a b.html", 1, {"http://www.shop.test/a%20b.html"}},
        {"decoded Japanese",
         "http://www.shop.test/セール/list.html",
         1,
         {"http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/list.html"}},
        {"without the scheme",
         "www.shop.test/catalog/index.html",
         1,
         {"http://www.shop.test/catalog/index.html"}},
        {"a folder's document",
         "http://www.shop.test:8443//console/",
         1,
         {"http://www.shop.test:8443/console/"}},
        {"the exact case wins",
         "http://www.shop.test/Case.html",
         1,
         {"http://www.shop.test/Case.html"}},
        {"ambiguous ignoring case",
         "http://www.shop.test/CASE.html",
         1,
         {"http://www.shop.test/Case.html", "http://www.shop.test/case.HTML"}},
        {"no guess about case", "http://www.shop.test/CASE.html", 2, {}},
        {"below two schemes",
         "two.test/dir/p.html",
         1,
         {"http://two.test/dir/p.html", "https://two.test/dir/p.html"}},
        {"a folder is no file", "http://www.shop.test/catalog/", 1, {}},
        {"nothing", "http://www.shop.test/none.html", 1, {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto tree = ShopTree(true);
        std::vector<std::string> urls;
        for (const TWebCacheTreeNode* node : MatchFileNodes(*tree, c.Typed, c.MinLevel))
            urls.push_back(node->Info().Url);
        EXPECT_EQ(urls, c.Urls);
    }
}

} // namespace
} // namespace tarnhold
