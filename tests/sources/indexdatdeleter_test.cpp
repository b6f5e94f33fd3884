// Deleting entries from an index.dat on disk: against what WinINet's own
// DeleteUrlCacheEntry left, the failures that must leave everything as it
// was, and deleters running at the same time.
#include "sources/indexdat/indexdatdeleter.h"
#include "sources/indexdat/indexdatsource.h"
#include "support/cache_test_helpers.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

const fs::path kWine = test::CacheTestData() / "wine-ie-cache";

std::vector<std::string> ReadLines(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> FilesBelow(const fs::path& folder) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_regular_file() && e.path().filename() != "index.dat")
            files.push_back("./" + fs::relative(e.path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(IndexDatDeleter, LeavesWhatWinInetsDeletionLeft) {
    test::TTempDir tmp;
    const fs::path cache = tmp.Path() / "Content.IE5";
    test::CopyTree(kWine / "Content.IE5", cache);
    for (const auto& url : ReadLines(kWine / "after-delete/deleted-urls.txt")) {
        EXPECT_OK(DeleteIndexDatEntry(cache / "index.dat", url)) << url;
    }
    // Byte for byte: the same counts, bitmap bits and freed hash keys
    // (changed-bytes.txt), the records themselves left in place.
    EXPECT_EQ(test::ReadFileBytes(cache / "index.dat"),
              test::ReadFileBytes(kWine / "after-delete/index.dat"));
    EXPECT_EQ(FilesBelow(cache), ReadLines(kWine / "after-delete/files.txt"));
    test::ExpectMatchesOracle(cache, kWine / "after-delete/oracle.jsonl");
}

TEST(IndexDatDeleter, SourceDeletesOnDiskAndReportsFailure) {
    test::TTempDir tmp;
    const fs::path cache = tmp.Path() / "Content.IE5";
    test::CopyTree(kWine / "Content.IE5", cache);
    TIndexDatSource source(cache);
    EXPECT_TRUE(source.DeleteEntry("http://www.shop.test/FAQ.html").Ok());
    EXPECT_EQ(source.DeleteEntry("http://www.shop.test/FAQ.html").Code(), ENOENT);
    // Lookups are exact: the other letter case is another entry.
    EXPECT_FALSE(source.DeleteEntry("http://www.shop.test/Faq.html").Ok());
    const auto entries = test::ReadAll(source);
    EXPECT_EQ(entries.size(), 34u);
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const auto& e) {
        return e.Url == "http://www.shop.test/faq.html";
    }));
    EXPECT_TRUE(CheckIndexDatInvariants(test::ReadFileBytes(cache / "index.dat")).Ok());
}

// Wine files directory URLs under the hash of the URL with its "/"; the
// lookup with Internet Explorer's hash misses them and the next one finds
// them. A damaged key is still found by the walk over the table.
TEST(IndexDatDeleter, FindsRecordsUnderEitherHashOrNone) {
    test::TTempDir tmp;
    const fs::path cache = tmp.Path() / "Content.IE5";
    test::CopyTree(kWine / "Content.IE5", cache);
    std::string bytes = test::ReadFileBytes(cache / "index.dat");
    TIndexDatView view(bytes);
    TIndexDatItem item;
    ASSERT_TRUE(view.FindUrl("http://www.shop.test/robots.txt", item));
    PutU32(bytes, item.Position, 0x12345600); // wrong hash, still live
    test::WriteFileBytes(cache / "index.dat", bytes);

    for (const char* url : {"http://www.shop.test/", "http://news.example.test/",
                            "http://www.shop.test/robots.txt"}) {
        EXPECT_OK(DeleteIndexDatEntry(cache / "index.dat", url)) << url;
    }
    TIndexDatSource source(cache);
    EXPECT_EQ(test::ReadAll(source).size(), 32u);
    EXPECT_FALSE(fs::exists(cache / "9R3CCLX2/8AQQG5TO.htm"));
    EXPECT_FALSE(fs::exists(cache / "DZHPG5TO/robots[0].txt"));
}

struct TFailureCase {
    const char* name;
    int error;
    std::function<void(const fs::path& cache, std::string& index)> damage;
    const char* url;
};

TEST(IndexDatDeleter, FailuresChangeNothing) {
    const TFailureCase cases[] = {
        {"unknown URL", ENOENT, [](const fs::path&, std::string&) {},
         "http://www.shop.test/gift-cards.html"},
        {"allocated count off by one", EBADMSG,
         [](const fs::path&, std::string& index) {
             PutU32(index, kIdxAllocatedBlocksOffset, GetU32(index, kIdxAllocatedBlocksOffset) + 1);
         },
         "http://www.shop.test/faq.html"},
        {"truncated index", EBADMSG,
         [](const fs::path&, std::string& index) { index.resize(index.size() - 0x80); },
         "http://www.shop.test/faq.html"},
        {"locked by a client just now", EBUSY,
         [](const fs::path&, std::string& index) {
             TIndexDatItem item;
             ASSERT_TRUE(TIndexDatView(index).FindUrl("http://www.shop.test/faq.html", item));
             PutU32(index, item.RecordOffset + kUrlUseCountOffset, 1);
             PutU64(index, item.RecordOffset + kUrlLastAccessOffset,
                    FileTimeToU64(GetSystemTimeAsFileTime()));
         },
         "http://www.shop.test/faq.html"},
        {"cached file cannot be removed", EISDIR,
         [](const fs::path& cache, std::string&) {
             fs::remove(cache / "LF9FM8KU/faq[0].htm");
             fs::create_directory(cache / "LF9FM8KU/faq[0].htm");
             test::WriteFileBytes(cache / "LF9FM8KU/faq[0].htm/keep", "x");
         },
         "http://www.shop.test/faq.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TTempDir tmp;
        const fs::path cache = tmp.Path() / "Content.IE5";
        test::CopyTree(kWine / "Content.IE5", cache);
        std::string index = test::ReadFileBytes(cache / "index.dat");
        c.damage(cache, index);
        test::WriteFileBytes(cache / "index.dat", index);
        const auto filesBefore = FilesBelow(cache);
        EXPECT_EQ(DeleteIndexDatEntry(cache / "index.dat", c.url).Code(), c.error);
        EXPECT_EQ(test::ReadFileBytes(cache / "index.dat"), index);
        EXPECT_EQ(FilesBelow(cache), filesBefore);
    }
}

TEST(IndexDatDeleter, StaleLockIsIgnored) {
    test::TTempDir tmp;
    const fs::path cache = tmp.Path() / "Content.IE5";
    test::CopyTree(kWine / "Content.IE5", cache);
    std::string index = test::ReadFileBytes(cache / "index.dat");
    TIndexDatItem item;
    ASSERT_TRUE(TIndexDatView(index).FindUrl("http://www.shop.test/faq.html", item));
    PutU32(index, item.RecordOffset + kUrlUseCountOffset, 1); // accessed in 2026, long ago
    PutU64(index, item.RecordOffset + kUrlLastAccessOffset, FileTimeToU64(UnixTimeToFileTime(0)));
    test::WriteFileBytes(cache / "index.dat", index);
    EXPECT_OK(DeleteIndexDatEntry(cache / "index.dat", "http://www.shop.test/faq.html"));
}

// Deleters in several threads (each with its own descriptor, so flock
// excludes them from each other) must not lose each other's changes.
TEST(IndexDatDeleter, ConcurrentDeletersDoNotInterleave) {
    test::TTempDir tmp;
    const fs::path cache = tmp.Path() / "cache";
    fs::create_directories(cache / "AAAAAAAA");
    auto image = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA"});
    constexpr int kThreads = 4, kPerThread = 40;
    for (int i = 0; i < kThreads * kPerThread; ++i) {
        const std::string name = "page" + std::to_string(i) + "[1].htm";
        test::WriteFileBytes(cache / "AAAAAAAA" / name, "<html></html>");
        ASSERT_OK(image.AddEntry(test::MakeEntry("http://host.test/page" + std::to_string(i), name,
                                                 0, 13, "HTTP/1.1 200 OK\r\n\r\n")));
    }
    test::WriteFileBytes(cache / "index.dat", image.Bytes());

    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kPerThread; ++k) {
                const int i = k * kThreads + t;
                if (!DeleteIndexDatEntry(cache / "index.dat",
                                         "http://host.test/page" + std::to_string(i))
                         .Ok())
                    ++failures;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    const std::string after = test::ReadFileBytes(cache / "index.dat");
    EXPECT_TRUE(CheckIndexDatInvariants(after).Ok());
    EXPECT_EQ(GetU32(after, kIdxAllocatedBlocksOffset), kIdxHashPageBlocks);
    EXPECT_EQ(GetU32(after, kIdxDirTableOffset), 0u);
    EXPECT_EQ(GetU64(after, kIdxCacheUsageOffset), 0u);
    TIndexDatSource source(cache);
    EXPECT_TRUE(test::ReadAll(source).empty());
    EXPECT_TRUE(fs::is_empty(cache / "AAAAAAAA"));
}

// A cache of one entry, "http://host.test/page", whose cached file is
// AAAAAAAA/page.htm unless the test says otherwise, and a file outside it.
struct TOneEntryCache {
    test::TTempDir Tmp;
    fs::path Cache = Tmp.Path() / "cache";
    fs::path Outside = Tmp.Path() / "outside";

    explicit TOneEntryCache(const std::string& fileName = "page.htm", std::uint8_t dir = 0) {
        fs::create_directories(Cache / "AAAAAAAA");
        fs::create_directories(Outside);
        test::WriteFileBytes(Outside / "page.htm", "keep me");
        test::WriteFileBytes(Cache / "AAAAAAAA/page.htm", "<html></html>");
        auto image = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA"});
        EXPECT_OK(image.AddEntry(test::MakeEntry("http://host.test/page", fileName, dir, 13)));
        test::WriteFileBytes(Index(), image.Bytes());
    }
    fs::path Index() const { return Cache / "index.dat"; }
};

// A cached file is only a regular file directly in a folder of the cache,
// reached without a symbolic link, and never the index: a record naming
// anything else loses its entry but deletes nothing, and something that is
// not a regular file under a cached file's name stops the deletion.
TEST(IndexDatDeleter, DeletesOnlyRegularFilesInsideTheCache) {
    struct TCase {
        const char* name;
        std::string fileName;
        std::uint8_t dir;
        std::function<void(const TOneEntryCache&)> prepare;
        int error; // 0: the entry goes
    };
    const TCase cases[] = {
        {"the index named as the cached file", "index.dat", kUrlNoSubDirectory,
         [](const TOneEntryCache&) {}, 0},
        {"the index named in other letter case", "INDEX.DAT", kUrlNoSubDirectory,
         [](const TOneEntryCache&) {}, 0},
        {"a hard link to the index in a cache folder", "page.htm", 0,
         [](const TOneEntryCache& c) {
             fs::remove(c.Cache / "AAAAAAAA/page.htm");
             fs::create_hard_link(c.Index(), c.Cache / "AAAAAAAA/page.htm");
         },
         0},
        {"the cache folder is a link to a folder outside", "page.htm", 0,
         [](const TOneEntryCache& c) {
             fs::remove_all(c.Cache / "AAAAAAAA");
             fs::create_directory_symlink(c.Outside, c.Cache / "AAAAAAAA");
         },
         ELOOP},
        {"the cached file is a link to a file outside", "page.htm", 0,
         [](const TOneEntryCache& c) {
             fs::remove(c.Cache / "AAAAAAAA/page.htm");
             fs::create_symlink(c.Outside / "page.htm", c.Cache / "AAAAAAAA/page.htm");
         },
         ELOOP},
        {"the cached file is a FIFO", "page.htm", 0,
         [](const TOneEntryCache& c) {
             fs::remove(c.Cache / "AAAAAAAA/page.htm");
             ASSERT_EQ(::mkfifo((c.Cache / "AAAAAAAA/page.htm").c_str(), 0600), 0);
         },
         EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TOneEntryCache cache(c.fileName, c.dir);
        c.prepare(cache);
        const std::string before = test::ReadFileBytes(cache.Index());
        const TError error = DeleteIndexDatEntry(cache.Index(), "http://host.test/page");
        EXPECT_EQ(error.Code(), c.error) << error.Text();
        EXPECT_EQ(test::ReadFileBytes(cache.Outside / "page.htm"), "keep me");
        ASSERT_TRUE(fs::is_regular_file(cache.Index()));
        const std::string after = test::ReadFileBytes(cache.Index());
        EXPECT_OK(CheckIndexDatInvariants(after));
        if (c.error != 0) {
            EXPECT_EQ(after, before);
            EXPECT_TRUE(fs::exists(fs::symlink_status(cache.Cache / "AAAAAAAA/page.htm")));
        } else {
            TIndexDatSource source(cache.Cache);
            EXPECT_TRUE(test::ReadAll(source).empty());
        }
    }
}

// The reader names no cached file for a record that names the index.
TEST(IndexDatDeleter, TheIndexIsNoCachedFile) {
    TOneEntryCache cache("Index.Dat", kUrlNoSubDirectory);
    TIndexDatSource source(cache.Cache);
    const auto entries = test::ReadAll(source);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].LocalFileName, "");
}

// An index that is no regular file is refused at once: a FIFO would block
// every reader, a device never end.
TEST(IndexDatDeleter, RefusesAnIndexThatIsNoRegularFile) {
    test::TTempDir tmp;
    ASSERT_EQ(::mkfifo((tmp.Path() / "index.dat").c_str(), 0600), 0);
    for (const fs::path& index : {tmp.Path() / "index.dat", fs::path("/dev/null")}) {
        SCOPED_TRACE(index.string());
        TIndexDatSource source(index);
        TRawCacheEntry e;
        EXPECT_FALSE(source.First(e));
        EXPECT_EQ(source.Error().Code(), EBADMSG);
        EXPECT_EQ(DeleteIndexDatEntry(index, "http://host.test/").Code(), EBADMSG);
    }
    EXPECT_EQ(DeleteIndexDatEntry(tmp.Path(), "http://host.test/").Code(), EISDIR);
    TIndexDatSource fifo(tmp.Path());
    TRawCacheEntry e;
    EXPECT_FALSE(fifo.First(e));
    EXPECT_NE(fifo.Error().Text().find("not a regular file"), std::string::npos)
        << fifo.Error().Text();
}

// While another program holds the lock, the deleter says it waits, waits a
// bounded time and gives up with the reason, changing nothing; a lock given
// up in time lets it go on.
TEST(IndexDatDeleter, WaitsForTheLockABoundedTime) {
    TOneEntryCache cache;
    const std::string before = test::ReadFileBytes(cache.Index());
    const int holder = ::open(cache.Index().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    TIndexDatSource source(cache.Cache);
    int waits = 0;
    source.SetLockWait(std::chrono::milliseconds(200), [&] { ++waits; });
    const TError error = source.DeleteEntry("http://host.test/page");
    EXPECT_EQ(error.Code(), EWOULDBLOCK);
    EXPECT_NE(error.Text().find("lock"), std::string::npos) << error.Text();
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(test::ReadFileBytes(cache.Index()), before);

    source.SetLockWait(std::chrono::seconds(20), [&] { ++waits; });
    std::thread release([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ::close(holder);
    });
    EXPECT_OK(source.DeleteEntry("http://host.test/page"));
    release.join();
    EXPECT_EQ(waits, 2);
    EXPECT_FALSE(fs::exists(cache.Cache / "AAAAAAAA/page.htm"));
}

} // namespace
} // namespace tarnhold
