// One rename list per cache: where each cache's list lies in the data
// folder, how the list all caches once shared hands each cache its records,
// and that a cache's list never takes another cache's names.
#include "platform/appfolder.h"
#include "platform/files.h"
#include "sources/opencache.h"
#include "support/cachetreefixture.h"
#include "support/memorycachesource.h"
#include "support/testfiles.h"
#include "tree/recordfile.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;
using testing::MakeRawEntry;
using testing::MakeTree;
using testing::Refresh;

// The records of a list file, "key=value", in file order; none when missing.
std::vector<std::string> Records(const fs::path& file) {
    std::vector<std::string> out;
    ReadRecordFile(file, [&](std::string_view k, std::string_view v) {
        out.push_back(std::string(k) + "=" + std::string(v));
    });
    return out;
}

std::string ReadText(const fs::path& file) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(file, text)) << file;
    return text;
}

// A data folder in a fresh temporary folder, with the caches' paths.
struct DataFolder {
    DataFolder() : Root(CreateTempFolder()), Data(Root / "data") { fs::create_directory(Data); }
    ~DataFolder() { DeleteFolder(Root); }
    fs::path ListOf(const fs::path& cache) const {
        return Data / kRenameListFolder / RenameListFileName(cache);
    }
    fs::path Shared() const { return Data / kSharedRenameListFile; }
    // A tree over the entries reading the list of cache, refreshed.
    std::unique_ptr<TWebCacheTree> Open(const fs::path& cache,
                                        const std::vector<testing::TEntrySpec>& entries) const {
        auto tree = MakeTree(entries);
        tree->SetRenameListFor(Data, cache);
        Refresh(*tree);
        return tree;
    }
    fs::path Root;
    fs::path Data;
};

const fs::path kCacheA = "/caches/a/Content.IE5/index.dat";
const fs::path kCacheB = "/caches/b/Cache_Data";

// Lookups find every item however the list grew (added one by one, moved in
// from another list, after a clear), ignoring case and percent-escapes, and
// find nothing for a URL the list does not hold.
TEST(RenameLists, LookupsFindWhatTheListHoldsAsItGrows) {
    TWebCacheRenameItems list, other;
    auto url = [](int i) {
        return "http://h" + std::to_string(i % 97) + ".test/p" + std::to_string(i);
    };
    for (int i = 0; i < 5000; ++i) {
        (i % 3 == 0 ? other : list).Add(url(i), "http://h.test/n" + std::to_string(i));
        if (i % 500 == 0) {
            for (int j = 0; j <= i; ++j) {
                if (j % 3 != 0) {
                    ASSERT_EQ(list.Lookup(url(j)), "http://h.test/n" + std::to_string(j)) << j;
                }
            }
        }
    }
    for (int i = 0; i < 5000; i += 3)
        ASSERT_EQ(other.MoveTo(url(i), list), "http://h.test/n" + std::to_string(i)) << i;
    EXPECT_EQ(other.Count(), 0);
    EXPECT_EQ(list.Count(), 5000);
    int found = 0;
    for (int i = 0; i < 5000; ++i)
        found += list.Lookup(url(i)) == "http://h.test/n" + std::to_string(i) ? 1 : 0;
    EXPECT_EQ(found, 5000);
    EXPECT_EQ(list.Lookup("HTTP://H7.TEST/P7"), "http://h.test/n7");
    EXPECT_EQ(list.Lookup("http://h7.test/%70%37"), "http://h.test/n7");
    for (int i = 5000; i < 6000; ++i)
        EXPECT_EQ(list.Lookup(url(i)), "") << i;
    EXPECT_EQ(other.Lookup(url(3)), "");
    list.Clear();
    EXPECT_EQ(list.Lookup(url(1)), "");
    list.Add(url(1), "http://h.test/again");
    EXPECT_EQ(list.Lookup(url(1)), "http://h.test/again");
}

TEST(RenameLists, TwoCachesKeepSeparateLists) {
    DataFolder d;
    {
        auto a = d.Open(kCacheA, {{"http://a.test/page.cgi"}});
        auto b = d.Open(kCacheB, {{"http://b.test/list.php"}});
        EXPECT_NE(a->RenameListFile(), b->RenameListFile());
        EXPECT_EQ(a->RenameListFile().parent_path(), d.Data / "renameLists");
    }
    EXPECT_EQ(Records(d.ListOf(kCacheA)),
              (std::vector<std::string>{"http://a.test/page.cgi=http://a.test/page.html"}));
    EXPECT_EQ(Records(d.ListOf(kCacheB)),
              (std::vector<std::string>{"http://b.test/list.php=http://b.test/list.html"}));
    EXPECT_FALSE(FileExists(d.Shared())) << "no shared list is made";

    // One tree switching caches, as the window does: the list in use is
    // saved before the next is taken, and neither takes the other's names.
    {
        auto tree = d.Open(kCacheA, {{"http://a.test/page.cgi"}, {"http://a.test/new.asp"}});
        tree->Cache().SetSource(std::make_unique<TMemoryCacheSource>(std::vector<TRawCacheEntry>{
            MakeRawEntry({"http://b.test/list.php"}), MakeRawEntry({"http://b.test/more.jsp"})}));
        tree->SetRenameListFor(d.Data, kCacheB);
        EXPECT_EQ(Records(d.ListOf(kCacheA)).size(), 2u) << "saved on leaving";
        EXPECT_EQ(tree->RenameItems().Lookup("http://a.test/new.asp"), "");
        Refresh(*tree);
        EXPECT_EQ(tree->RenameItems().Count(), 2);
    }
    EXPECT_EQ(Records(d.ListOf(kCacheA)),
              (std::vector<std::string>{"http://a.test/new.asp=http://a.test/new.html",
                                        "http://a.test/page.cgi=http://a.test/page.html"}));
    EXPECT_EQ(Records(d.ListOf(kCacheB)),
              (std::vector<std::string>{"http://b.test/list.php=http://b.test/list.html",
                                        "http://b.test/more.jsp=http://b.test/more.html"}));
}

TEST(RenameLists, TheSharedListHandsEachCacheItsRecordsAndKeepsTheRest) {
    DataFolder d;
    // Names given in earlier runs, kept although today's rule would differ.
    ASSERT_TRUE(WriteTestFile(d.Shared(), "http://a.test/page.cgi\thttp://a.test/kept-a.html\r\n"
                                          "http://b.test/list.php\thttp://b.test/kept-b.html\r\n"
                                          "http://gone.test/x.cgi\thttp://gone.test/x.html\r\n"));
    {
        auto a = d.Open(kCacheA, {{"http://A.TEST/page.cgi"}, {"http://a.test/new.asp"}});
        EXPECT_TRUE(a->RenameListMigrating());
        EXPECT_NE(a->FindNodeByUrl("http://A.TEST/kept-a.html"), nullptr)
            << "the name the shared list gave, found ignoring case";
        ASSERT_TRUE(a->SaveDataFiles().Ok());
        EXPECT_FALSE(a->RenameListMigrating());
    }
    EXPECT_EQ(Records(d.ListOf(kCacheA)),
              (std::vector<std::string>{"http://a.test/new.asp=http://a.test/new.html",
                                        "http://a.test/page.cgi=http://a.test/kept-a.html"}));
    EXPECT_EQ(Records(d.Shared()),
              (std::vector<std::string>{"http://b.test/list.php=http://b.test/kept-b.html",
                                        "http://gone.test/x.cgi=http://gone.test/x.html"}))
        << "the other caches' records stay for them";

    // A cache that has its own list reads the shared one no more.
    {
        auto a = d.Open(kCacheA, {{"http://b.test/list.php"}});
        EXPECT_FALSE(a->RenameListMigrating());
        EXPECT_EQ(a->FindNodeByUrl("http://b.test/kept-b.html"), nullptr);
    }
    EXPECT_EQ(Records(d.Shared()).size(), 2u);

    // A cache whose entries need no new name still gets its list, empty, so
    // that the shared list is read for it only once.
    const fs::path plain = "/caches/plain";
    d.Open(plain, {{"http://p.test/index.html"}});
    ASSERT_TRUE(FileExists(d.ListOf(plain)));
    EXPECT_EQ(ReadText(d.ListOf(plain)), "");

    // The last records of the shared list find their caches: it goes.
    d.Open(kCacheB, {{"http://b.test/list.php"}});
    d.Open("/caches/c", {{"http://gone.test/x.cgi"}});
    EXPECT_FALSE(fs::exists(d.Shared()));
    EXPECT_EQ(Records(d.ListOf(kCacheB)),
              (std::vector<std::string>{"http://b.test/list.php=http://b.test/kept-b.html"}));
}

TEST(RenameLists, ASharedListThatCannotBeReadWholeIsNeverSavedOver) {
    DataFolder d;
    const std::string damaged = "http://a.test/page.cgi\thttp://a.test/kept-a.html\r\n"
                                "a line without its TAB\r\n"
                                "http://b.test/list.php\thttp://b.test/kept-b.html\r\n";
    ASSERT_TRUE(WriteTestFile(d.Shared(), damaged));
    {
        auto a = d.Open(kCacheA, {{"http://a.test/page.cgi"}});
        EXPECT_EQ(a->SharedRenameListRead().BadRecords, 1);
        EXPECT_NE(a->FindNodeByUrl("http://a.test/kept-a.html"), nullptr);
        EXPECT_TRUE(a->SaveDataFiles().Ok()) << "nothing is lost: nothing to report";
    }
    EXPECT_EQ(Records(d.ListOf(kCacheA)),
              (std::vector<std::string>{"http://a.test/page.cgi=http://a.test/kept-a.html"}));
    EXPECT_EQ(ReadText(d.Shared()), damaged) << "the moved record is in both";

    // One that cannot be read at all is left too, and tried again by a cache
    // that has no list yet.
    fs::remove(d.Shared());
    fs::create_directories(d.Shared());
    {
        auto b = d.Open(kCacheB, {{"http://b.test/index.html"}});
        EXPECT_FALSE(b->SharedRenameListRead().Error.Ok());
        EXPECT_FALSE(b->RenameListMigrating());
    }
    EXPECT_FALSE(fs::exists(d.ListOf(kCacheB))) << "no list without a name to keep";
    EXPECT_TRUE(fs::is_directory(d.Shared()));
}

// A source whose reading stops short after its entries.
class TShortSource : public TMemoryCacheSource {
public:
    using TMemoryCacheSource::TMemoryCacheSource;
    TError Error() const override { return TError::FromErrno(EIO, "cache"); }
};

TEST(RenameLists, ACacheReadInPartTakesWhatItReadAndStaysOpenToTheRest) {
    DataFolder d;
    const std::string shared = "http://a.test/page.cgi\thttp://a.test/kept-a.html\r\n"
                               "http://a.test/later.cgi\thttp://a.test/kept-later.html\r\n";
    ASSERT_TRUE(WriteTestFile(d.Shared(), shared));
    {
        auto tree = std::make_unique<TWebCacheTree>(std::make_unique<TShortSource>(
            std::vector<TRawCacheEntry>{MakeRawEntry({"http://a.test/index.html"})}));
        tree->SetRenameListFor(d.Data, kCacheA);
        EXPECT_FALSE(tree->Refresh().Ok());
    }
    EXPECT_FALSE(fs::exists(d.ListOf(kCacheA))) << "not written empty after a short read";
    EXPECT_EQ(ReadText(d.Shared()), shared);
    {
        auto tree = d.Open(kCacheA, {{"http://a.test/later.cgi"}});
        EXPECT_NE(tree->FindNodeByUrl("http://a.test/kept-later.html"), nullptr);
    }
    EXPECT_EQ(Records(d.Shared()),
              (std::vector<std::string>{"http://a.test/page.cgi=http://a.test/kept-a.html"}));
}

TEST(RenameLists, ARenamedNameSurvivesARestartWhicheverWayTheCacheIsNamed) {
    DataFolder d;
    const fs::path caches = d.Root / "caches";
    fs::create_directories(caches / "real" / "Content.IE5");
    ASSERT_TRUE(WriteTestFile(caches / "real" / "Content.IE5" / "index.dat", ""));
    fs::create_directory_symlink("real", caches / "link");
    const fs::path byFolder =
        CacheIdentityPath(caches / "real" / "Content.IE5", TCacheKind::ckIndexDat);
    EXPECT_EQ(byFolder, caches / "real" / "Content.IE5" / "index.dat");
    {
        auto tree = d.Open(byFolder, {{"http://h/page.cgi"}});
        EXPECT_NE(tree->FindNodeByUrl("http://h/page.html"), nullptr);
    }
    // Another run names the cache through a link, its file and "..", and its
    // table no longer knows the type: the name is the one given before.
    for (const fs::path& named : {caches / "link" / "Content.IE5" / "index.dat",
                                  caches / "real" / ".." / "link" / "Content.IE5" / ""}) {
        SCOPED_TRACE(named.string());
        const fs::path identity = CacheIdentityPath(named, TCacheKind::ckIndexDat);
        EXPECT_EQ(identity, byFolder);
        auto tree = MakeTree({{"http://h/page.cgi", "text/x-gone"}});
        tree->ContentTypes().Clear();
        tree->SetRenameListFor(d.Data, identity);
        Refresh(*tree);
        EXPECT_NE(tree->FindNodeByUrl("http://h/page.html"), nullptr);
    }
    // A browser's cache is its folder, with or without a final '/'.
    EXPECT_EQ(CacheIdentityPath(caches / "real" / "", TCacheKind::ckChromium), caches / "real");
    EXPECT_EQ(CacheIdentityPath(caches / "link", TCacheKind::ckFirefox), caches / "real");
    EXPECT_TRUE(CacheIdentityPath("relative/none", TCacheKind::ckChromium).is_absolute());
}

TEST(RenameLists, FileNamesArePlainAndShortWhateverThePath) {
    const std::string longPart(5000, 'x');
    const std::vector<fs::path> paths = {
        "/home/u/.cache/chromium/Default/Cache/Cache_Data",
        "/home/u/.cache/chromium/Default/Cache/Cache_Datb",
        "/",
        "",
        "/caches/\x01\x1b[31m/\n/index.dat",
        "/caches/日本語/キャッシュ",
        "/caches/\xff\xfe/-rf",
        "/caches/../..",
        "/a/" + longPart,
        "/a/" + longPart + "/b",
        "/.hidden",
    };
    std::set<std::string> names;
    for (const fs::path& path : paths) {
        SCOPED_TRACE(path.string());
        const std::string name = RenameListFileName(path);
        EXPECT_EQ(name, RenameListFileName(path)) << "the same path, the same name";
        EXPECT_LE(name.size(), 40u + 1 + 16 + 4);
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                         "0123456789._-"),
                  std::string::npos);
        EXPECT_NE(name.front(), '.');
        EXPECT_NE(name.front(), '-');
        EXPECT_EQ(name.substr(name.size() - 4), ".dat");
        names.insert(name);
    }
    EXPECT_EQ(names.size(), paths.size()) << "every path its own name";
    EXPECT_EQ(RenameListFileName("/home/u/.cache/chromium/Default/Cache/Cache_Data")
                  .rfind("cache_chromium_Default_Cache_Cache_Data-", 0),
              0u)
        << "the end of the path, readable";
    EXPECT_EQ(RenameListFileName("/").rfind("cache-", 0), 0u);
}

} // namespace
} // namespace tarnhold
