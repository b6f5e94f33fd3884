#include "favorites/favorites.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "support/testfiles.h"
#include "support/unprivileged.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnhold {
namespace {

class FavoritesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dir = CreateTempFolder();
        File = Dir / "favorites.dat";
    }
    void TearDown() override { DeleteFolder(Dir); }

    std::string Read() {
        std::string text;
        EXPECT_TRUE(ReadWholeFile(File, text));
        return text;
    }

    std::filesystem::path Dir;
    std::filesystem::path File;
};

// A view that keeps its rows as the list view would.
class TRecordingView : public TFavoritesView {
public:
    void ClearRows() override { Rows.clear(); }
    void AddRow(const TFavoriteItem* item) override { Rows.push_back(item); }
    bool UpdateRow(const TFavoriteItem* item) override {
        ++Updates;
        return std::find(Rows.begin(), Rows.end(), item) != Rows.end();
    }
    void DeleteRow(const TFavoriteItem* item) override {
        Rows.erase(std::remove(Rows.begin(), Rows.end(), item), Rows.end());
    }
    void SortRows(
        const std::function<int(const TFavoriteItem&, const TFavoriteItem&)>& compare) override {
        std::stable_sort(Rows.begin(), Rows.end(),
                         [&](auto* a, auto* b) { return compare(*a, *b) < 0; });
    }
    void SelectRow(const TFavoriteItem* item) override { Selected = item; }

    std::vector<std::string> Titles() const {
        std::vector<std::string> out;
        for (auto* r : Rows)
            out.push_back(r->Title);
        return out;
    }

    std::vector<const TFavoriteItem*> Rows;
    const TFavoriteItem* Selected = nullptr;
    int Updates = 0;
};

TEST_F(FavoritesTest, FreshInstallationHasOnlyTheDefaultFavorite) {
    TFavorites store;
    ASSERT_FALSE(store.SetFileName(File));
    EXPECT_EQ(store.Count(), 0);
    const TFavoriteItem& d = store.DefaultItem();
    EXPECT_EQ(d.PathName, PathToAnsi(GetDefaultSaveFolder()) + "/");
    EXPECT_EQ(d.Default, "index.html");
    EXPECT_EQ(d.Folder, 2);
    EXPECT_EQ(d.Method, 1);
    EXPECT_FALSE(d.Timer);
    EXPECT_TRUE(IsDateUnset(d.Date));
    EXPECT_FALSE(FileExists(File)) << "loading writes nothing";
}

TEST_F(FavoritesTest, SavesInOrderWithOneBasedPaddedSections) {
    TFavorites store;
    ASSERT_FALSE(store.SetFileName(File));
    auto item = std::make_unique<TFavoriteItem>();
    item->UrlName = "http://host/";
    item->Title = "\x93\xfa\x96\x7b"; // 日本
    item->Date = MakeSystemTime(2026, 12, 7, 7, 5, 9);
    TError error;
    store.AddItem(std::move(item), &error);
    ASSERT_FALSE(error) << error.Text();
    const std::string text = Read();
    const std::vector<std::string> order = {"[Favorites]",
                                            "Count=1",
                                            "[FavoriteDefault]",
                                            "UrlName=",
                                            "PathName=",
                                            "Default=index.html",
                                            "Title=",
                                            "Folder=2",
                                            "Method=1",
                                            "Timer=0",
                                            "[Favorite0001]",
                                            "UrlName=http://host/",
                                            "PathName=",
                                            "Default=",
                                            "Title=\x93\xfa\x96\x7b",
                                            "Folder=2",
                                            "Method=1",
                                            "Timer=0",
                                            "Date=2026/12/07 7:05:09"};
    std::size_t at = 0;
    for (const auto& piece : order) {
        std::size_t found = text.find(piece, at);
        ASSERT_NE(found, std::string::npos) << piece << " after " << at << " in\n" << text;
        at = found + piece.size();
    }
    EXPECT_EQ(text.find("Date=", text.find("[FavoriteDefault]")), text.rfind("Date="))
        << "the default favorite has no Date";
}

TEST_F(FavoritesTest, FiveSavedThenThreeKeepsOldSectionsAndReloadsThree) {
    {
        TFavorites store;
        ASSERT_FALSE(store.SetFileName(File));
        for (int i = 1; i <= 5; ++i)
            store.AddNew("t" + std::to_string(i), "http://h/" + std::to_string(i) + "/");
        ASSERT_FALSE(store.DeleteItem(store.Items(1)));
        ASSERT_FALSE(store.DeleteItem(store.Items(3)));
    }
    TProfileFile ini(File);
    EXPECT_EQ(ini.ReadInteger("Favorites", "Count", -1), 3);
    EXPECT_TRUE(ini.SectionExists("Favorite0004"));
    EXPECT_TRUE(ini.SectionExists("Favorite0005"));
    EXPECT_FALSE(ini.SectionExists("Favorite0000"));

    TFavorites again;
    ASSERT_FALSE(again.SetFileName(File));
    ASSERT_EQ(again.Count(), 3);
    EXPECT_EQ(again.Items(0)->Title, "t1");
    EXPECT_EQ(again.Items(1)->Title, "t3");
    EXPECT_EQ(again.Items(2)->Title, "t4");
    EXPECT_FALSE(IsDateUnset(again.Items(0)->Date)) << "AddNew dates the favorite";
}

TEST_F(FavoritesTest, DamagedValuesLoseNothingElse) {
    ASSERT_TRUE(WriteTestFile(File, "[Favorites]\r\nCount=3\r\n"
                                    "[FavoriteDefault]\r\nDefault=top.htm\r\nFolder=258\r\n"
                                    "[Favorite0001]\r\nTitle=a\r\nDate=yesterday\r\nMethod=x\r\n"
                                    "[Favorite0003]\r\nTitle=c\r\nDate=2026/02/30 1:00:00\r\n"));
    TFavorites store;
    ASSERT_FALSE(store.SetFileName(File));
    EXPECT_EQ(store.DefaultItem().Default, "top.htm");
    EXPECT_EQ(store.DefaultItem().Folder, 2) << "stored in 8 bits by truncation (258)";
    ASSERT_EQ(store.Count(), 3) << "a missing section below Count is a default favorite";
    EXPECT_EQ(store.Items(0)->Title, "a");
    EXPECT_TRUE(IsDateUnset(store.Items(0)->Date));
    EXPECT_EQ(store.Items(0)->Method, 1);
    EXPECT_EQ(store.Items(1)->Title, "");
    EXPECT_EQ(store.Items(1)->Folder, 2);
    EXPECT_TRUE(IsDateUnset(store.Items(2)->Date)) << "February 30th";
}

TEST_F(FavoritesTest, EveryLinkKindIsOnUnlessAFavoriteTurnsItOff) {
    // A file from before the setting existed reads it as on.
    ASSERT_TRUE(WriteTestFile(File, "[Favorites]\r\nCount=2\r\n"
                                    "[Favorite0001]\r\nTitle=a\r\n"
                                    "[Favorite0002]\r\nTitle=b\r\nAllLinks=0\r\n"));
    {
        TFavorites store;
        ASSERT_FALSE(store.SetFileName(File));
        EXPECT_TRUE(store.DefaultItem().AllLinks);
        EXPECT_TRUE(store.Items(0)->AllLinks);
        EXPECT_FALSE(store.Items(1)->AllLinks);
        store.DefaultItem().AllLinks = false;
        ASSERT_FALSE(store.Save());
    }
    TFavorites store;
    ASSERT_FALSE(store.SetFileName(File));
    EXPECT_FALSE(store.DefaultItem().AllLinks);
    EXPECT_TRUE(store.Items(0)->AllLinks);
    EXPECT_FALSE(store.Items(1)->AllLinks);
}

TEST_F(FavoritesTest, HugeCountIsBoundedByTheFile) {
    ASSERT_TRUE(WriteTestFile(File, "[Favorites]\r\nCount=2000000000\r\n"));
    TFavorites store;
    TError error = store.SetFileName(File);
    EXPECT_TRUE(error);
    EXPECT_LE(store.Count(), 40);
}

TEST_F(FavoritesTest, DamagedCountReadsEverySectionAndWritesOverNone) {
    const std::string one = "[Favorite0001]\r\nTitle=one\r\nUrlName=http://one.test/\r\n";
    const std::string three = "[Favorite0003]\r\nTitle=three\r\n";
    // Enough bytes that the file's size alone does not give a huge Count away.
    const std::string padding = ";" + std::string(200000, 'x') + "\r\n";
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> titles;
        bool damaged;
    } cases[] = {
        {"negative", "[Favorites]\r\nCount=-5\r\n" + one, {"one"}, true},
        {"hexadecimal", "[Favorites]\r\nCount=0x10\r\n" + one + three, {"one", "three"}, true},
        {"twenty digits", "[Favorites]\r\nCount=12345678901234567890\r\n" + one, {"one"}, true},
        {"empty", "[Favorites]\r\nCount=\r\n" + one, {"one"}, true},
        {"no Count", three + one, {"one", "three"}, true},
        {"beyond the sections in a large file",
         "[Favorites]\r\nCount=150000\r\n" + one + padding,
         {"one"},
         true},
        {"a section numbered beyond the file's size",
         "[Favorites]\r\nCount=150000\r\n" + one + "[Favorite150000]\r\nTitle=far\r\n",
         {"one", "far"},
         true},
        // Sound files: the sections past Count are deleted favorites.
        {"zero with old sections", "[Favorites]\r\nCount=0\r\n" + one, {}, false},
        {"a gap below Count",
         "[Favorites]\r\nCount=3\r\n" + one + three,
         {"one", "", "three"},
         false},
        {"no file content", "", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteTestFile(File, c.text));
        std::vector<std::string> titles;
        {
            TFavorites store;
            const TError error = store.SetFileName(File);
            EXPECT_EQ(error.Code(), c.damaged ? EBADMSG : 0) << error.Text();
            if (c.damaged) {
                EXPECT_NE(error.Text().find("Count"), std::string::npos) << error.Text();
            }
            for (int i = 0; i < store.Count(); ++i)
                titles.push_back(store.Items(i)->Title);
            EXPECT_EQ(titles, c.titles);
            TError saved;
            store.AddNew("new", "http://new.test/", &saved);
            ASSERT_FALSE(saved) << saved.Text();
        }
        // What was read is still there, the new favorite after it.
        TFavorites again;
        const TError error = again.SetFileName(File);
        EXPECT_FALSE(error) << error.Text();
        titles.push_back("new");
        std::vector<std::string> reread;
        for (int i = 0; i < again.Count(); ++i)
            reread.push_back(again.Items(i)->Title);
        EXPECT_EQ(reread, titles);
    }
}

TEST_F(FavoritesTest, SavesThroughALinkAndKeepsTheMode) {
    ASSERT_TRUE(ForceDirectories(Dir / "dotfiles"));
    const auto real = Dir / "dotfiles" / "favorites.dat";
    ASSERT_TRUE(WriteTestFile(real, "[Favorites]\r\nCount=0\r\n"));
    ASSERT_EQ(::chmod(real.c_str(), 0604), 0); // no mode a umask makes of 0666
    std::filesystem::create_symlink("dotfiles/favorites.dat", File);
    {
        TFavorites store;
        ASSERT_FALSE(store.SetFileName(File));
        TError error;
        store.AddNew("a", "http://a.test/", &error);
        ASSERT_FALSE(error) << error.Text();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(File));
    EXPECT_EQ(TProfileFile(real).ReadString("Favorite0001", "Title", ""), "a");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_F(FavoritesTest, FileThatIsNoRegularFileIsRefusedAndKept) {
    // A FIFO would block the store for good, a device never end.
    ASSERT_EQ(::mkfifo((Dir / "fifo").c_str(), 0600), 0);
    for (const char* target : {"fifo", "/dev/zero"}) {
        SCOPED_TRACE(target);
        std::filesystem::remove(File);
        std::filesystem::create_symlink(target, File);
        TFavorites store;
        const TError error = store.SetFileName(File);
        EXPECT_TRUE(error);
        EXPECT_NE(error.Text().find("not a regular file"), std::string::npos) << error.Text();
        EXPECT_EQ(store.Count(), 0);
        TError saved;
        store.AddNew("a", "http://a.test/", &saved);
        EXPECT_TRUE(saved) << "never replaced";
        EXPECT_TRUE(std::filesystem::is_symlink(File));
    }
    EXPECT_EQ(std::filesystem::status(Dir / "fifo").type(), std::filesystem::file_type::fifo);
}

TEST(FavoritesFile, UnreadableFileIsNeverOverwritten) {
    // Each failed step has its own result, so a failure says which it was.
    const int result = testing::RunUnprivileged([] {
        const auto dir = CreateTempFolder();
        if (dir.empty())
            return 90;
        const auto file = dir / "favorites.dat";
        const std::string text = "[Favorites]\r\nCount=1\r\n[Favorite0001]\r\nTitle=keep\r\n";
        if (!WriteTestFile(file, text) || ::chmod(file.c_str(), 0) != 0)
            return 91;
        int step = 0;
        {
            TFavorites store;
            if (!store.SetFileName(file))
                step = 1; // the unreadable file is reported
            TError error;
            store.AddNew("new", "http://new/", &error);
            if (step == 0 && !error)
                step = 2; // a failed save is reported
        }
        std::string after;
        if (step == 0 &&
            (::chmod(file.c_str(), 0644) != 0 || !ReadWholeFile(file, after) || after != text))
            step = 3; // the file was changed
        DeleteFolder(dir);
        return step;
    });
    EXPECT_EQ(result, 0) << "1: not reported, 2: save not refused, 3: file changed, "
                            "9x/100: set-up";
}

TEST(FavoriteDates, TextRoundTrip) {
    struct Case {
        const char* name;
        const char* text;
        SYSTEMTIME expected;
    } cases[] = {
        {"written form", "2026/12/07 7:05:09", MakeSystemTime(2026, 12, 7, 7, 5, 9)},
        {"without seconds", "2026/12/07 17:05", MakeSystemTime(2026, 12, 7, 17, 5, 0)},
        {"date only", "2026/1/2", MakeSystemTime(2026, 1, 2)},
        {"two-digit year", "01/12/07 0:00:00", MakeSystemTime(2001, 12, 7)},
        {"empty", "", SYSTEMTIME{}},
        {"not a date", "7 Dec 2026", SYSTEMTIME{}},
        {"month 13", "2026/13/01 0:00:00", SYSTEMTIME{}},
        {"trailing junk", "2026/12/07 7:05:09x", SYSTEMTIME{}},
        {"hour 24", "2026/12/07 24:00:00", SYSTEMTIME{}},
    };
    for (const auto& c : cases) {
        SYSTEMTIME t = TextToDate(c.text);
        EXPECT_EQ(CompareSystemTime(t, c.expected), 0) << c.name;
    }
    EXPECT_EQ(TextToDate("2026/12/07 7:05:09").wDayOfWeek, 1) << "a Monday";
    EXPECT_EQ(DateToText(MakeSystemTime(2026, 12, 7, 7, 5, 9)), "2026/12/07 7:05:09");
    EXPECT_EQ(DateToText(SYSTEMTIME{}), "");
}

TEST(FavoriteSorting, ColumnsOrdersAndTies) {
    TFavoriteItem a, b, c;
    a.Title = "Alpha";
    a.UrlName = "http://z/";
    a.Date = MakeSystemTime(2026, 1, 1);
    b.Title = "alpha";
    b.UrlName = "http://Y/";
    b.Date = MakeSystemTime(2026, 6, 1);
    c.Title = "beta";
    c.UrlName = "http://x/";
    // c has no date: the oldest.
    struct Case {
        const char* name;
        int column, order;
        std::vector<const TFavoriteItem*> expected;
    } cases[] = {
        {"title, same title by URL ignoring case", fsTitle, 0, {&b, &a, &c}},
        {"title descending", fsTitle, 1, {&c, &a, &b}},
        {"URL", fsUrl, 0, {&c, &b, &a}},
        {"date: newest first", fsDate, 0, {&b, &a, &c}},
        {"date reversed", fsDate, 1, {&c, &a, &b}},
    };
    for (const auto& k : cases) {
        std::vector<const TFavoriteItem*> rows{&c, &a, &b};
        std::stable_sort(rows.begin(), rows.end(), [&](auto* x, auto* y) {
            return CompareFavorites(*x, *y, k.column, k.order) < 0;
        });
        EXPECT_EQ(rows, k.expected) << k.name;
    }
    EXPECT_EQ(CompareFavorites(a, c, 7, 0), 0) << "unknown column";
}

TEST_F(FavoritesTest, ViewFollowsTheStore) {
    TFavorites store;
    ASSERT_FALSE(store.SetFileName(File));
    store.AddNew("b", "http://b/");
    TRecordingView view;
    store.SetView(&view);
    EXPECT_EQ(view.Titles(), std::vector<std::string>{"b"});
    store.AddNew("a", "http://a/");
    EXPECT_EQ(view.Titles(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(view.Selected, store.Items(1)) << "the new row is selected";

    store.SetSortType(fsUrl);
    store.SetSortOrder(1);
    EXPECT_EQ(view.Titles(), (std::vector<std::string>{"b", "a"}));
    store.SetSortType(fsTitle);
    EXPECT_EQ(store.SortOrder(), 0) << "another column starts ascending";
    EXPECT_EQ(view.Titles(), (std::vector<std::string>{"a", "b"}));

    store.Items(0)->Title = "z";
    ASSERT_FALSE(store.UpdateItem(store.Items(0)));
    EXPECT_EQ(view.Titles(), (std::vector<std::string>{"a", "z"}));
    ASSERT_FALSE(store.DeleteItem(store.Items(1)));
    EXPECT_EQ(view.Titles(), std::vector<std::string>{"z"});

    store.DefaultItem().Date = MakeSystemTime(2026, 1, 1);
    ASSERT_FALSE(store.ResetDefaultDate());
    EXPECT_TRUE(IsDateUnset(store.DefaultItem().Date));
    EXPECT_EQ(TProfileFile(File).ReadString("FavoriteDefault", "Date", "none"), "none");
}

TEST_F(FavoritesTest, AnUpdateSavesOnceAtItsEnd) {
    TFavorites store;
    ASSERT_FALSE(store.SetFileName(File));
    TRecordingView view;
    store.SetView(&view);
    store.BeginUpdate();
    store.AddNew("b", "http://b/");
    store.AddNew("a", "http://a/");
    store.BeginUpdate();
    store.AddNew("c", "http://c/");
    EXPECT_FALSE(store.EndUpdate());
    EXPECT_FALSE(FileExists(File)) << "not before the last EndUpdate";
    EXPECT_EQ(view.Titles(), (std::vector<std::string>{"b", "a", "c"})) << "shown, not sorted";
    EXPECT_FALSE(store.EndUpdate());
    EXPECT_EQ(view.Titles(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(view.Selected, store.Items(2)) << "the last one added";
    TFavorites again;
    ASSERT_FALSE(again.SetFileName(File));
    EXPECT_EQ(again.Count(), 3);
}

} // namespace
} // namespace tarnhold
