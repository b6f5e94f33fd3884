#include "favorites/shortcuts.h"
#include "platform/appfolder.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "support/testfiles.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

class ShortcutsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = CreateTempFolder();
        Store.AddNew("known", "HTTP://Known.test/");
    }
    void TearDown() override { DeleteFolder(Dir); }

    void Shortcut(const fs::path& relative, const std::string& url) {
        ASSERT_TRUE(ForceDirectories((Dir / relative).parent_path()));
        ASSERT_TRUE(WriteTestFile(Dir / relative, "[DEFAULT]\r\nBASEURL=" + url +
                                                      "\r\n[InternetShortcut]\r\nURL=" + url +
                                                      "\r\nIconIndex=0\r\n"));
    }

    // "caption" for shortcuts, "caption/" for folders, children indented.
    static void Describe(const std::vector<TShortcutEntry>& entries, std::string indent,
                         std::vector<std::string>& out) {
        for (const auto& e : entries) {
            out.push_back(indent + e.Caption + (e.IsFolder ? "/" : "") +
                          (e.Registered ? " (registered)" : ""));
            Describe(e.Children, indent + "  ", out);
        }
    }

    fs::path Dir;
    TFavorites Store; // no file: nothing is written
};

TEST_F(ShortcutsTest, TreeOrderFoldersFirstEmptyFoldersDropped) {
    Shortcut("zeta.url", "http://z.test/");
    Shortcut("My Site.url", "http://my.test/");
    Shortcut("Known.URL", "http://known.test/");
    Shortcut("b/inner.url", "http://inner.test/");
    Shortcut("A/deep/x.url", "http://x.test/");
    ASSERT_TRUE(ForceDirectories(Dir / "empty/also-empty"));
    ASSERT_TRUE(ForceDirectories(Dir / "c"));
    ASSERT_TRUE(WriteTestFile(Dir / "c/readme.txt", "not a shortcut"));
    ASSERT_TRUE(WriteTestFile(Dir / "nourl.url", "[InternetShortcut]\r\n"));

    TShortcutFolder folder = ReadShortcutFolder(Dir, Store);
    std::vector<std::string> lines;
    Describe(folder.Items, "", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"A/", "  deep/", "    x", "b/", "  inner",
                                               "Known (registered)", "My Site", "nourl", "zeta"}));
    EXPECT_TRUE(folder.Problems.empty());

    std::vector<TShortcutEntry*> all = ListShortcuts(folder.Items);
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[3]->Caption, "My Site");
    EXPECT_EQ(all[3]->Url, "http://my.test/");
    EXPECT_EQ(all[4]->Url, "") << "a shortcut without URL is listed but has none";

    // Everything chosen: the registered one and the one without URL are left.
    int imported = ImportShortcuts(folder.Items, Store, [](const TShortcutEntry&) { return true; });
    EXPECT_EQ(imported, 4);
    EXPECT_EQ(Store.Count(), 5);
    EXPECT_EQ(Store.Items(1)->Title, "x") << "folders before their contents, in tree order";
    EXPECT_EQ(Store.Items(3)->Title, "My Site");
    EXPECT_TRUE(all[3]->Registered);
    EXPECT_EQ(ImportShortcuts(folder.Items, Store, [](const TShortcutEntry&) { return true; }), 0)
        << "a second import finds nothing left to choose";
}

// A view that notes, as each row comes, how many favorites the file holds.
class TFileWatchingView : public TFavoritesView {
public:
    explicit TFileWatchingView(fs::path file) : File(std::move(file)) {}
    void ClearRows() override {}
    void AddRow(const TFavoriteItem*) override {
        Counts.push_back(TProfileFile(File).ReadInteger("Favorites", "Count", -1));
    }
    bool UpdateRow(const TFavoriteItem*) override { return true; }
    void DeleteRow(const TFavoriteItem*) override {}
    void SortRows(const std::function<int(const TFavoriteItem&, const TFavoriteItem&)>&) override {}
    void SelectRow(const TFavoriteItem*) override {}

    fs::path File;
    std::vector<int> Counts;
};

TEST_F(ShortcutsTest, AnImportWritesTheStoreOnce) {
    for (int i = 0; i < 20; ++i)
        Shortcut("s" + std::to_string(i) + ".url", "http://s" + std::to_string(i) + ".test/");
    const fs::path file = Dir / "data" / "favorites.dat";
    TFavorites store;
    ASSERT_FALSE(store.SetFileName(file));
    TError error;
    store.AddNew("first", "http://first.test/", &error);
    ASSERT_FALSE(error) << error.Text();
    TShortcutFolder folder = ReadShortcutFolder(Dir, store);
    TFileWatchingView view(file);
    store.SetView(&view);
    view.Counts.clear();

    EXPECT_EQ(ImportShortcuts(
                  folder.Items, store, [](const TShortcutEntry&) { return true; }, &error),
              20);
    EXPECT_FALSE(error) << error.Text();
    EXPECT_EQ(view.Counts, std::vector<int>(20, 1))
        << "the file is not written shortcut by shortcut";
    TFavorites again;
    ASSERT_FALSE(again.SetFileName(file));
    EXPECT_EQ(again.Count(), 21) << "but once, at the end";
}

TEST_F(ShortcutsTest, HostileEntriesAreReportedNotFollowed) {
    Shortcut("ok.url", "http://ok.test/");
    // A link back up would loop; a FIFO would block; a huge file is no shortcut.
    fs::create_directory_symlink(Dir, Dir / "loop");
    ASSERT_EQ(mkfifo((Dir / "pipe.url").c_str(), 0600), 0);
    ASSERT_TRUE(WriteTestFile(Dir / "huge.url", std::string(100000, 'x')));

    TShortcutFolder folder = ReadShortcutFolder(Dir, Store);
    std::vector<std::string> lines;
    Describe(folder.Items, "", lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"huge", "ok", "pipe"}));
    EXPECT_EQ(folder.Problems.size(), 2u) << "the FIFO and the huge file";

    TShortcutFolder missing = ReadShortcutFolder(Dir / "nowhere", Store);
    EXPECT_TRUE(missing.Items.empty());
    EXPECT_EQ(missing.Problems.size(), 1u);
}

TEST_F(ShortcutsTest, WinePrefixesOfferTheirProfiles) {
    const fs::path prefix = Dir / "prefix", home = Dir / "home";
    ASSERT_TRUE(ForceDirectories(prefix / "drive_c/users/bob/Favorites"));
    ASSERT_TRUE(ForceDirectories(prefix / "drive_c/users/Public")); // no Favorites
    ASSERT_TRUE(ForceDirectories(home / ".wine/drive_c/windows/profiles/ann/Favorites"));
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    const auto found = DefaultShortcutFolders();
    unsetenv("WINEPREFIX");
    setenv("HOME", savedHome.c_str(), 1);
    EXPECT_EQ(found,
              (std::vector<fs::path>{prefix / "drive_c/users/bob/Favorites",
                                     home / ".wine/drive_c/windows/profiles/ann/Favorites"}));
}

} // namespace
} // namespace tarnhold
