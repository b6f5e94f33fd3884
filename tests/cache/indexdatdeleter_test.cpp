// Deleting entries from an index.dat on disk: against what WinINet's own
// DeleteUrlCacheEntry left, the failures that must leave everything as it
// was, and deleters running at the same time.
#include "cache/indexdatdeleter.h"
#include "cache/indexdatsource.h"
#include "cache_test_helpers.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

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

} // namespace
} // namespace tarnhold
