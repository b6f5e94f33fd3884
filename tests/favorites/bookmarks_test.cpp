// The browsers' bookmarks as the import reads them: the files Chromium and
// Firefox wrote (tests/data/favorites/, made by make-bookmarks.sh), files
// that are damaged or no files at all, and a Firefox that holds its database
// open while it is read.
#include "favorites/bookmarks.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/testfiles.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(TARNHOLD_TEST_DATA) / "favorites";

// "caption <url>" for shortcuts, "caption/" for folders, children indented;
// captions as the window shows them.
void Describe(const std::vector<TShortcutEntry>& entries, const std::string& indent,
              std::vector<std::string>& out) {
    for (const auto& e : entries) {
        out.push_back(indent + AnsiRefsToUtf8(e.Caption) + (e.IsFolder ? "/" : " <" + e.Url + ">") +
                      (e.Registered ? " (registered)" : ""));
        Describe(e.Children, indent + "  ", out);
    }
}

std::vector<std::string> Describe(const TShortcutFolder& folder) {
    std::vector<std::string> out;
    Describe(folder.Items, "", out);
    return out;
}

class BookmarksTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = CreateTempFolder();
        // Registered in another letter case than the browsers wrote it.
        Store.AddNew("known", "HTTP://WWW.SHOP.TEST/FAQ.HTML");
    }
    void TearDown() override { DeleteFolder(Dir); }
    fs::path Dir;
    TFavorites Store; // no file
};

// Both browsers were given the same bookmarks: a bar (toolbar) with two
// bookmarks and a folder holding two more, an empty folder and a folder one
// deeper; and one in the other bookmarks.
std::vector<std::string> Expected(const std::string& bar, const std::string& other) {
    return {
        bar + "/",
        "  買い物/",
        "    深い/",
        "      Basket <https://checkout.shop.test/basket.html>",
        "    FAQ <http://www.shop.test/faq.html> (registered)",
        "    セール 商品一覧 "
        "<http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/"
        "%E5%95%86%E5%93%81%E4%B8%80%E8%A6%A7.html>",
        "  News 😀 ニュース <http://news.example.test/>",
        "  Tarnhold テスト <http://www.shop.test/>",
        other + "/",
        "  Example 한국어 <http://example.test/%ED%95%9C%EA%B5%AD>",
    };
}

TEST_F(BookmarksTest, WhatEachBrowserWroteReadsAsOneTree) {
    const struct {
        const char* name;
        TShortcutFolder read;
        std::vector<std::string> expected;
    } cases[] = {
        {"chromium", ReadChromiumBookmarks(kData / "chromium" / "Bookmarks", Store),
         Expected("Bookmarks bar", "Other bookmarks")},
        {"firefox", ReadFirefoxBookmarks(kData / "firefox" / "places.sqlite", Store),
         Expected("Bookmarks Toolbar", "Other Bookmarks")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.read.Problems.empty()) << c.read.Problems.front();
        EXPECT_EQ(Describe(c.read), c.expected);
    }
}

TEST_F(BookmarksTest, ImportedTitlesSurviveTheFileWithEveryCharacter) {
    const fs::path file = Dir / "favorites.dat";
    {
        TFavorites store;
        ASSERT_FALSE(store.SetFileName(file));
        TShortcutFolder read = ReadChromiumBookmarks(kData / "chromium" / "Bookmarks", store);
        EXPECT_EQ(ImportShortcuts(read.Items, store, [](const TShortcutEntry&) { return true; }),
                  6);
    }
    // favorites.dat stays in the code page; what it lacks is a reference.
    std::string text;
    ASSERT_TRUE(ReadWholeFile(file, text));
    EXPECT_NE(text.find("Title=News &#128512; " + Utf8ToAnsi("ニュース") + "\r\n"),
              std::string::npos);
    TFavorites again;
    ASSERT_FALSE(again.SetFileName(file));
    std::vector<std::string> titles;
    for (int i = 0; i < again.Count(); ++i)
        titles.push_back(AnsiRefsToUtf8(again.Items(i)->Title));
    EXPECT_EQ(titles,
              (std::vector<std::string>{"Basket", "FAQ", "セール 商品一覧", "News 😀 ニュース",
                                        "Tarnhold テスト", "Example 한국어"}));
}

TEST_F(BookmarksTest, ARunningFirefoxNeitherBlocksNorIsBlocked) {
    // A writer holds the database open with its latest change still in the
    // write-ahead log, as a running Firefox does.
    const fs::path places = Dir / "places.sqlite";
    fs::copy_file(kData / "firefox" / "places.sqlite", places);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(places.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                           "BEGIN; INSERT INTO moz_places(url, guid) "
                           "VALUES('http://fresh.test/', 'freshplace01');"
                           "INSERT INTO moz_bookmarks(type, fk, parent, position, title, guid) "
                           "SELECT 1, id, 3, 99, 'Fresh', 'freshbmark01' FROM moz_places "
                           "WHERE guid='freshplace01'; COMMIT;"
                           "BEGIN EXCLUSIVE;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    ASSERT_TRUE(FileExists(places.string() + "-wal"));
    const TShortcutFolder read = ReadFirefoxBookmarks(places, Store);
    EXPECT_TRUE(read.Problems.empty()) << read.Problems.front();
    const std::vector<std::string> tree = Describe(read);
    EXPECT_NE(std::find(tree.begin(), tree.end(), "  Fresh <http://fresh.test/>"), tree.end());
    // The writer goes on undisturbed.
    EXPECT_EQ(sqlite3_exec(db,
                           "UPDATE moz_bookmarks SET title='Fresher' WHERE guid='freshbmark01';"
                           "COMMIT;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
    // Nothing of the private copy is left beside the original.
    for (const auto& entry : fs::directory_iterator(Dir))
        EXPECT_EQ(entry.path().filename().string().rfind("places.sqlite", 0), 0u) << entry.path();
}

TEST_F(BookmarksTest, DamagedAndHostileFilesSayWhyAndKeepWhatTheyCan) {
    ASSERT_TRUE(WriteTestFile(Dir / "garbage.json", "{\"roots\": [1, 2"));
    ASSERT_TRUE(WriteTestFile(Dir / "noroots.json", "{\"version\": 1}"));
    ASSERT_TRUE(WriteTestFile(Dir / "notsqlite.sqlite", "SQLite format 3\0garbage"));
    // Folders nested far deeper than any user's, and a name with a line
    // break that would break the row that shows it.
    std::string deep = R"({"roots":{"other":{"name":"Other","type":"folder","children":[)";
    for (int i = 0; i < 200; ++i)
        deep += R"({"type":"folder","name":"d","children":[)";
    for (int i = 0; i < 200; ++i)
        deep += "]}";
    deep += R"(,{"type":"url","name":"two\nlines","url":"http://x.test/a b"},)"
            R"({"type":"url","name":"no url"},{"type":"url","url":7},"junk"]}}})";
    ASSERT_TRUE(WriteTestFile(Dir / "deep.json", deep));
    ASSERT_EQ(::mkfifo((Dir / "fifo").c_str(), 0600), 0);
    fs::create_symlink(kData / "firefox" / "places.sqlite", Dir / "link.sqlite");

    const struct {
        const char* name;
        TShortcutFolder read;
        std::vector<std::string> tree;
        const char* problem;
    } cases[] = {
        {"cut short", ReadChromiumBookmarks(Dir / "garbage.json", Store), {}, "not their JSON"},
        {"no roots", ReadChromiumBookmarks(Dir / "noroots.json", Store), {}, "not their JSON"},
        {"missing", ReadChromiumBookmarks(Dir / "none.json", Store), {}, "none.json: "},
        {"a FIFO", ReadChromiumBookmarks(Dir / "fifo", Store), {}, "fifo: "},
        {"too deep",
         ReadChromiumBookmarks(Dir / "deep.json", Store),
         {"Other/", "  two lines <http://x.test/a%20b>"},
         "nested too deep"},
        {"no SQLite", ReadFirefoxBookmarks(Dir / "notsqlite.sqlite", Store), {}, "notsqlite"},
        {"a FIFO for Firefox", ReadFirefoxBookmarks(Dir / "fifo", Store), {}, "fifo: "},
        {"a link for Firefox", ReadFirefoxBookmarks(Dir / "link.sqlite", Store), {}, "link.sqlite"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Describe(c.read), c.tree);
        ASSERT_EQ(c.read.Problems.size(), 1u);
        EXPECT_NE(c.read.Problems[0].find(c.problem), std::string::npos) << c.read.Problems[0];
    }
}

TEST_F(BookmarksTest, APathIsToldApartByWhatItHolds) {
    ASSERT_TRUE(ForceDirectories(Dir / "profile"));
    fs::copy_file(kData / "chromium" / "Bookmarks", Dir / "profile" / "Bookmarks");
    ASSERT_TRUE(ForceDirectories(Dir / "ff.default"));
    fs::copy_file(kData / "firefox" / "places.sqlite", Dir / "ff.default" / "places.sqlite");
    ASSERT_TRUE(ForceDirectories(Dir / "Favorites"));
    ASSERT_TRUE(WriteTestFile(Dir / "text.txt", "hello"));
    const struct {
        const char* name;
        fs::path path;
        std::optional<TImportKind> kind;
        fs::path read;
    } cases[] = {
        {"a Bookmarks file", Dir / "profile" / "Bookmarks", TImportKind::Chromium,
         Dir / "profile" / "Bookmarks"},
        {"a Chromium profile", Dir / "profile", TImportKind::Chromium,
         Dir / "profile" / "Bookmarks"},
        {"places.sqlite", Dir / "ff.default" / "places.sqlite", TImportKind::Firefox,
         Dir / "ff.default" / "places.sqlite"},
        {"a Firefox profile", Dir / "ff.default", TImportKind::Firefox,
         Dir / "ff.default" / "places.sqlite"},
        {"a folder of shortcuts", Dir / "Favorites", TImportKind::Shortcuts, Dir / "Favorites"},
        {"some other file", Dir / "text.txt", std::nullopt, {}},
        {"nothing there", Dir / "none", std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<TImportSource> source = ImportSourceAt(c.path);
        ASSERT_EQ(source.has_value(), c.kind.has_value());
        if (source) {
            EXPECT_EQ(source->Kind, *c.kind);
            EXPECT_EQ(source->Path, c.read);
        }
    }
}

TEST_F(BookmarksTest, TheBrowsersOfAHomeAreFound) {
    const fs::path home = Dir / "home";
    for (const char* profile : {".config/chromium/Profile 1", ".config/chromium/Default",
                                ".config/google-chrome/Default", ".config/vivaldi/Default"})
        ASSERT_TRUE(ForceDirectories(home / profile));
    for (const char* profile : {".config/chromium/Profile 1", ".config/chromium/Default",
                                ".config/google-chrome/Default"})
        fs::copy_file(kData / "chromium" / "Bookmarks", home / profile / "Bookmarks");
    // A link is not taken for a file of the profile's own.
    fs::create_symlink(kData / "chromium" / "Bookmarks",
                       home / ".config/vivaldi/Default/Bookmarks");
    ASSERT_TRUE(ForceDirectories(home / ".mozilla/firefox/abc.default-release"));
    fs::copy_file(kData / "firefox" / "places.sqlite",
                  home / ".mozilla/firefox/abc.default-release/places.sqlite");
    const std::string h = home.string();
    const auto sources = FindBookmarkFiles([&](const char* name) -> const char* {
        return std::string_view(name) == "HOME" ? h.c_str() : nullptr;
    });
    std::vector<std::string> found;
    for (const TImportSource& s : sources)
        found.push_back(DescribeImportSource(s));
    EXPECT_EQ(found, (std::vector<std::string>{
                         "Chromium bookmarks, profile Default (" + h +
                             "/.config/chromium/Default/Bookmarks)",
                         "Chromium bookmarks, profile Profile 1 (" + h +
                             "/.config/chromium/Profile 1/Bookmarks)",
                         "Google Chrome bookmarks, profile Default (" + h +
                             "/.config/google-chrome/Default/Bookmarks)",
                         "Firefox bookmarks, profile abc.default-release (" + h +
                             "/.mozilla/firefox/abc.default-release/places.sqlite)"}));

    // Windows disks: the Favorites of every user of every disk.
    ASSERT_TRUE(ForceDirectories(Dir / "mnt" / "c" / "Users" / "taro" / "Favorites"));
    ASSERT_TRUE(ForceDirectories(Dir / "mnt" / "c" / "Users" / "Public"));
    ASSERT_TRUE(ForceDirectories(Dir / "mnt" / "d"));
    const auto disks = FindWindowsDiskFavorites({Dir / "mnt", Dir / "none"});
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0].Path, Dir / "mnt" / "c" / "Users" / "taro" / "Favorites");
    EXPECT_EQ(disks[0].Profile, "taro");
}

TEST(BookmarkUrls, BeyondAsciiIsPercentEncoded) {
    EXPECT_EQ(BookmarkUrlToAnsi("http://a.test/x?q=1#f"), "http://a.test/x?q=1#f");
    EXPECT_EQ(BookmarkUrlToAnsi("http://a.test/한 x"), "http://a.test/%ED%95%9C%20x");
    EXPECT_EQ(BookmarkUrlToAnsi(std::string("http://a.test/\r\n\x7f", 17)),
              "http://a.test/%0D%0A%7F");
}

} // namespace
} // namespace tarnhold
