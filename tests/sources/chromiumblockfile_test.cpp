#include "sources/cachebody.h"
#include "sources/chromium/chromiumbackends.h"
#include "sources/chromium/chromiumblockfile.h"
#include "support/blockfilewriter.h"
#include "support/cache_test_helpers.h"
#include "tree/webcache.h"

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;
using test::TBlockfileEntrySpec;

const fs::path kBrowsers = fs::path(TARNHOLD_TEST_DATA) / "browsers";
const fs::path kRealCache = kBrowsers / "chromium-blockfile";

struct TServed {
    std::string Status, ContentType, Encoding, SiteFile;
};

std::map<std::string, TServed> ReadManifest() {
    std::map<std::string, TServed> served;
    std::istringstream lines(test::ReadFileBytes(kBrowsers / "chromium-blockfile-manifest.tsv"));
    std::string line;
    std::getline(lines, line); // the column names
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::size_t pos = 0;
        for (std::size_t tab; (tab = line.find('\t', pos)) != std::string::npos; pos = tab + 1)
            f.push_back(line.substr(pos, tab - pos));
        f.push_back(line.substr(pos));
        if (f.size() == 5)
            served[f[0]] = {f[1], f[2], f[3], f[4]};
    }
    return served;
}

// Every file of a folder with its bytes, to see that reading wrote nothing.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& f : fs::directory_iterator(folder))
        files[f.path().filename().string()] = test::ReadFileBytes(f.path());
    return files;
}

std::map<std::string, TWebCacheEntryInfo> ReadEntries(TWebCache& cache, int* listed = nullptr) {
    std::map<std::string, TWebCacheEntryInfo> read;
    TWebCacheEntryInfo info;
    int n = 0;
    for (bool ok = cache.FindFirst(info); ok; ok = cache.FindNext(info), ++n)
        read[info.Url] = info;
    if (listed != nullptr)
        *listed = n;
    return read;
}

TEST(ChromiumBlockfile, RealCacheHoldsWhatTheSiteServed) {
    const auto served = ReadManifest();
    ASSERT_GE(served.size(), 13u);
    ASSERT_EQ(ChromiumBackendOf(kRealCache), TChromiumBackend::Blockfile);
    TWebCache cache(OpenChromiumCache(kRealCache));
    int listed = 0;
    const auto read = ReadEntries(cache, &listed);
    ASSERT_OK(cache.Error());
    auto* source = dynamic_cast<TChromiumBlockfileSource*>(cache.Source());
    ASSERT_NE(source, nullptr);
    EXPECT_FALSE(source->ReadReport().Damaged) << source->ReadReport().Summary;
    EXPECT_EQ(source->Counts().Problems, std::vector<std::string>{});
    // Every URL once, nothing else.
    EXPECT_EQ(listed, static_cast<int>(served.size()));
    EXPECT_EQ(read.size(), served.size());

    for (const auto& [url, s] : served) {
        SCOPED_TRACE(url);
        auto it = read.find(url);
        ASSERT_NE(it, read.end());
        const TWebCacheEntryInfo& e = it->second;
        EXPECT_EQ(e.HeaderInfo.Lines(0).substr(0, 12), "HTTP/1.1 " + s.Status);
        EXPECT_EQ(e.ContentEncoding, s.Encoding);
        if (s.Status == "301") {
            EXPECT_EQ(e.HeaderInfo.Values("Content-Type"), s.ContentType);
            EXPECT_TRUE(e.LocalFileName.empty());
            EXPECT_EQ(e.HeaderInfo.Values("Location"), "/index.html");
            continue;
        }
        if (s.Status != "200")
            continue;
        EXPECT_EQ(e.HeaderInfo.Values("Content-Type"), s.ContentType);
        std::string body;
        TBodyRead how;
        ASSERT_OK(ReadCacheBody(e, body, kMinDecodedLimit, &how));
        EXPECT_FALSE(how.StoredAsIs);
        EXPECT_EQ(body, test::ReadFileBytes(kBrowsers / "site-chromium" / s.SiteFile));
    }
    // Bodies in each kind of place: 256-byte, 1 KiB and 4 KiB blocks, an
    // external file; keys of two blocks and kept apart.
    EXPECT_EQ(fs::path(read.at("http://127.0.0.1:8765/notes.html").LocalFileName).filename(),
              "data_2");
    EXPECT_EQ(fs::path(read.at("http://127.0.0.1:8765/long.html").LocalFileName).filename(),
              "data_3");
    EXPECT_EQ(fs::path(read.at("http://127.0.0.1:8765/big.html").LocalFileName).filename(),
              "f_000001");
    std::size_t longest = 0;
    for (const auto& [url, e] : read)
        longest = std::max(longest, url.size());
    EXPECT_GT(longest, 927u);
    // The browser's own structures agree with each other, as the checker of
    // deletions expects.
    EXPECT_EQ(test::BlockfileInconsistencies(kRealCache), std::vector<std::string>{});
}

TEST(ChromiumBlockfile, DamagedCachesAreReadAsFarAsTheyGoAndNeverWritten) {
    const std::string data1 = test::ReadFileBytes(kRealCache / "data_1");
    const std::string index = test::ReadFileBytes(kRealCache / "index");
    // The first two entries the table names.
    auto firstTwoEntries = [&](std::uint32_t& a, std::uint32_t& b) {
        a = b = 0;
        for (std::size_t at = 368; at + 4 <= index.size(); at += 4) {
            std::uint32_t v = 0;
            for (int i = 3; i >= 0; --i)
                v = (v << 8) | static_cast<unsigned char>(index[at + static_cast<std::size_t>(i)]);
            if (v == 0)
                continue;
            (a == 0 ? a : b) = v;
            if (b != 0)
                return;
        }
    };
    struct TCase {
        const char* Name;
        std::function<void(const fs::path&)> Damage;
        int MinimumRead;   // entries still read
        const char* Named; // in the problems
    } cases[] = {
        {"data_1 cut short",
         [&](const fs::path& d) { fs::resize_file(d / "data_1", 8192 + 40 * 256); }, 5,
         "data_1: cut short"},
        {"a missing external file", [](const fs::path& d) { fs::remove(d / "f_000001"); }, 14,
         "f_000001 is missing"},
        {"a chain that loops",
         [&](const fs::path& d) {
             std::uint32_t a = 0, b = 0;
             firstTwoEntries(a, b);
             std::string bytes = data1;
             // b's next is a, a's next is b (their checksums kept: torn
             // records would be refused, a loop must be caught by itself).
             auto link = [&](std::uint32_t from, std::uint32_t to) {
                 const std::size_t at = test::BlockfileOffset(from);
                 for (int i = 0; i < 4; ++i)
                     bytes[at + 4 + static_cast<std::size_t>(i)] =
                         static_cast<char>((to >> (8 * i)) & 0xff);
                 const std::uint32_t self = ChromiumKeyHash(std::string_view(bytes).substr(at, 92));
                 for (int i = 0; i < 4; ++i)
                     bytes[at + 92 + static_cast<std::size_t>(i)] =
                         static_cast<char>((self >> (8 * i)) & 0xff);
             };
             link(a, b);
             link(b, a);
             test::WriteFileBytes(d / "data_1", bytes);
         },
         14, "leads back to"},
        {"the index's header zeroed",
         [&](const fs::path& d) {
             std::string bytes = index;
             std::fill(bytes.begin(), bytes.begin() + 368, '\0');
             test::WriteFileBytes(d / "index", bytes);
         },
         14, "index: the header is damaged"},
        // The key kept apart lies in data_2: that entry is lost.
        {"data_2 missing", [](const fs::path& d) { fs::remove(d / "data_2"); }, 13,
         "data_2 is missing"},
        {"data_0 missing (times and open marks only)",
         [](const fs::path& d) { fs::remove(d / "data_0"); }, 14, "data_0: missing"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        const fs::path folder = dir.Path() / "Cache_Data";
        test::CopyTree(kRealCache, folder);
        c.Damage(folder);
        const auto before = Snapshot(folder);
        EXPECT_TRUE(IsAnyChromiumCacheFolder(folder));
        TWebCache cache(std::make_unique<TChromiumBlockfileSource>(folder));
        int listed = 0;
        const auto read = ReadEntries(cache, &listed);
        EXPECT_OK(cache.Error());
        EXPECT_GE(listed, c.MinimumRead);
        const TReadReport report = cache.Source()->ReadReport();
        EXPECT_TRUE(report.Damaged);
        std::string problems;
        for (const auto& p : report.Problems)
            problems += p + "\n";
        EXPECT_NE(problems.find(c.Named), std::string::npos) << problems;
        EXPECT_NE(report.Summary.find("damaged"), std::string::npos);
        // Every body that is listed can be read or says why; nothing written.
        for (const auto& [url, e] : read) {
            std::string body;
            (void)ReadCacheBody(e, body, kMinDecodedLimit);
        }
        EXPECT_EQ(Snapshot(folder), before);
    }
}

TEST(ChromiumBlockfile, MissingBodyFilesGiveThePartialEntry) {
    test::TTempDir dir;
    test::CopyTree(kRealCache, dir.Path());
    fs::remove(dir.Path() / "f_000001");
    test::WriteFileBytes(dir.Path() / "data_3",
                         test::ReadFileBytes(dir.Path() / "data_3").substr(0, 8192 + 5000));
    TChromiumBlockfileSource source(dir.Path());
    std::map<std::string, TRawCacheEntry> read;
    for (auto& e : test::ReadAll(source))
        read[e.Url] = e;
    const TRawCacheEntry& big = read.at("http://127.0.0.1:8765/big.html");
    EXPECT_TRUE(big.LocalFileName.empty());
    EXPECT_NE(big.HeaderBlock.find("200 OK"), std::string::npos);
    // 5000 of long.html's 9082 bytes remain.
    const TRawCacheEntry& longer = read.at("http://127.0.0.1:8765/long.html");
    EXPECT_EQ(longer.BodyLength, 5000);
    EXPECT_EQ(source.Counts().Partial, 2);
    EXPECT_EQ(source.Counts().Entries, 14);
}

TBlockfileEntrySpec Entry(const std::string& url, const std::string& body, std::int64_t at = 0) {
    TBlockfileEntrySpec e;
    e.Key = "1/0/_dk_http://h.test http://h.test " + url;
    e.Body = body;
    e.ResponseTime += at;
    return e;
}

TEST(ChromiumBlockfile, DeletedEntriesComeBackOnlyWhenAskedAndWhole) {
    std::vector<TBlockfileEntrySpec> entries = {
        Entry("http://h.test/live.html", "live"),
        Entry("http://h.test/doomed.html", "doomed body"),
        Entry("http://h.test/evicted.html", "gone"),
        Entry("http://h.test/live.html", "an older doomed copy", -1000),
        Entry("http://h.test/reused.html", "reused"),
        Entry("http://h.test/open.html", "open"),
        // Deleted twice: the newer copy is the one that comes back.
        Entry("http://h.test/twice.html", "older", -5000),
        Entry("http://h.test/twice.html", "the newer copy"),
    };
    entries[6].Key = "1/0/_dk_http://o.test http://o.test http://h.test/twice.html";
    for (std::size_t i : {6, 7}) {
        entries[i].State = 2;
        entries[i].InIndex = false;
    }
    entries[1].State = 2;
    entries[1].InIndex = false;
    entries[2].State = 1;
    entries[3].State = 2;
    entries[3].InIndex = false;
    entries[3].Key = "1/0/_dk_http://o.test http://o.test http://h.test/live.html";
    entries[4].ReuseCount = 3;
    entries[5].Dirty = 7;
    // A key of 17,000 bytes lies in a file of its own.
    TBlockfileEntrySpec huge = Entry("http://h.test/q?" + std::string(17000, 'k'), "huge");
    entries.push_back(huge);
    test::TTempDir dir;
    test::WriteBlockfileCache(dir.Path(), entries);
    EXPECT_EQ(test::BlockfileInconsistencies(dir.Path()), std::vector<std::string>{});

    for (bool recovered : {false, true}) {
        SCOPED_TRACE(recovered);
        TChromiumBlockfileSource source(dir.Path());
        EXPECT_TRUE(source.SetRecovered(recovered));
        std::map<std::string, TRawCacheEntry> read;
        for (auto& e : test::ReadAll(source)) {
            EXPECT_EQ(read.count(e.Url), 0u) << e.Url;
            read[e.Url] = e;
        }
        EXPECT_EQ(read.size(), recovered ? 6u : 4u);
        EXPECT_EQ(read.count("http://h.test/evicted.html"), 0u);
        EXPECT_EQ(read.count("http://h.test/doomed.html"), recovered ? 1u : 0u);
        if (recovered) {
            EXPECT_TRUE(read.at("http://h.test/doomed.html").Recovered);
            EXPECT_EQ(read.at("http://h.test/twice.html").Size, 14u);
        }
        EXPECT_FALSE(read.at("http://h.test/live.html").Recovered);
        EXPECT_EQ(read.at("http://h.test/live.html").Size, 4u);
        EXPECT_EQ(read.at("http://h.test/q?" + std::string(17000, 'k')).Size, 4u);
        const TBlockfileCounts& c = source.Counts();
        EXPECT_EQ(c.Entries, 4);
        EXPECT_EQ(c.Evicted, 1);
        EXPECT_EQ(c.Deleted, 4);
        // The entry open when the cache was copied: read, named as possibly incomplete.
        EXPECT_EQ(c.Partial, 1);
        const TReadReport report = source.ReadReport();
        EXPECT_TRUE(report.Damaged);
        EXPECT_EQ(report.DeletedRecords, 4u);
        ASSERT_EQ(report.Problems.size(), 1u);
        EXPECT_NE(report.Problems[0].find("possibly incomplete"), std::string::npos);
    }
}

// Records whose fields contradict each other or their blocks are refused
// with the reason.
TEST(ChromiumBlockfile, EntryRecordsThatCannotBeTrueAreRefused) {
    test::TTempDir dir;
    const auto addresses = test::WriteBlockfileCache(dir.Path(), {Entry("http://h.test/", "x")});
    const std::string data1 = test::ReadFileBytes(dir.Path() / "data_1");
    const std::string good = data1.substr(test::BlockfileOffset(addresses[0]), 256);
    auto with = [&](std::size_t at, std::uint32_t v) {
        std::string r = good;
        for (int i = 0; i < 4; ++i)
            r[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xff);
        return r;
    };
    const std::uint32_t keyLength =
        static_cast<std::uint32_t>(Entry("http://h.test/", "").Key.size());
    struct {
        const char* Name;
        std::string Record;
    } cases[] = {
        {"too short", good.substr(0, 200)},
        {"not whole blocks", good + "x"},
        {"five blocks", std::string(5 * 256, '\0')},
        {"unknown state", with(20, 3)},
        {"no key", with(32, 0)},
        {"a key longer than the record", with(32, 200)},
        {"a key beyond any record", with(32, 0x80000000u)},
        {"no rankings node", with(8, 0)},
        {"a rankings node of 2 blocks", with(8, 0x91000003u)},
        {"a next entry in data_0", with(4, 0x90000003u)},
        {"a next entry across a group of four", with(4, 0xa1010003u)},
        {"a long key named for a short key", with(36, 0xa0010007u)},
        {"the key's end is not where its length says", with(32, keyLength - 1)},
        {"a body larger than its blocks", with(44, 300)},
        {"a large body in a block file", with(44, 20000)},
        {"a small body in an external file", with(60, 0x80000005u)},
        {"a body of a reserved type", with(60, 0xd0010010u)},
        {"a stream address without a size", with(64, 0xa0010010u)},
    };
    for (const auto& c : cases) {
        TBlockfileEntry e;
        TError error = ParseBlockfileEntry(c.Record, e);
        EXPECT_EQ(error.Code(), EBADMSG) << c.Name;
        EXPECT_FALSE(error.Text().empty()) << c.Name;
    }
    TBlockfileEntry e;
    ASSERT_OK(ParseBlockfileEntry(good, e));
    EXPECT_FALSE(e.SelfHashMismatch);
    EXPECT_EQ(e.Key, Entry("http://h.test/", "").Key);
    ASSERT_OK(ParseBlockfileEntry(with(12, 5), e));
    EXPECT_TRUE(e.SelfHashMismatch);
}

TEST(ChromiumBlockfile, AddressesAreDecoded) {
    struct {
        std::uint32_t Value;
        const char* Text;
        bool Sane;
    } cases[] = {
        {0xa0010006u, "data_1 block 6 (1 block)", true},
        {0xa1010010u, "data_1 block 16 (2 blocks)", true},
        {0xa2010008u, "data_1 block 8 (3 blocks)", true},
        {0x90000003u, "data_0 block 3 (1 block)", true},
        {0x80000001u, "f_000001", true},
        {0xc2030000u, "data_3 block 0 (3 blocks)", true},
        {0x20010006u, "data_1 block 6 (1 block)", false},  // not initialized
        {0xd0010006u, "data_1 block 6 (1 block)", false},  // type 5
        {0xa4010006u, "data_1 block 6 (1 block)", false},  // reserved bits
        {0xa2010003u, "data_1 block 3 (3 blocks)", false}, // across a group of four
    };
    for (const auto& c : cases) {
        TBlockfileAddr a{c.Value};
        EXPECT_EQ(a.Describe(), c.Text);
        EXPECT_EQ(a.Sane(), c.Sane) << c.Text;
    }
}

TEST(ChromiumBlockfile, HostileIndexesCostNoMoreThanTheirFiles) {
    test::TTempDir dir;
    test::WriteBlockfileCache(dir.Path(),
                              {Entry("http://h.test/a", "a"), Entry("http://h.test/b", "b")});
    std::string index = test::ReadFileBytes(dir.Path() / "index");
    // A table length beyond the file, every slot naming the same entry, and
    // slots naming blocks far beyond data_1 and files that do not exist.
    index[28] = '\xff';
    index[29] = '\xff';
    index[30] = '\xff';
    index[31] = '\x7f';
    std::uint32_t first = 0;
    for (std::size_t at = 368; at + 4 <= index.size() && first == 0; at += 4)
        for (int i = 3; i >= 0; --i)
            first =
                (first << 8) | static_cast<unsigned char>(index[at + static_cast<std::size_t>(i)]);
    auto put = [&](std::size_t slot, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            index[368 + 4 * slot + static_cast<std::size_t>(i)] =
                static_cast<char>((v >> (8 * i)) & 0xff);
    };
    for (std::size_t slot = 0; slot < 1000; ++slot)
        put(slot, first);
    put(1000, 0xa001fff0u);
    put(1001, 0xa0070000u);
    put(1002, 0xa0ff0000u);
    put(1003, 0xb0010000u);
    test::WriteFileBytes(dir.Path() / "index", index);
    TChromiumBlockfileSource source(dir.Path());
    const auto all = test::ReadAll(source);
    EXPECT_EQ(all.size(), 2u);
    const TBlockfileCounts& c = source.Counts();
    EXPECT_TRUE(c.IndexDamaged);
    EXPECT_GE(c.BadAddresses, 999);
    EXPECT_TRUE(source.ReadReport().Damaged);
    EXPECT_LE(c.Problems.size(), 50u);
}

} // namespace
} // namespace tarnhold

namespace tarnhold {
namespace {

// Keys whose hashes fall into the same slot of a table of 0x10000, so that
// they share a chain.
std::vector<std::string> CollidingUrls(std::size_t count) {
    std::vector<std::string> urls;
    std::map<std::uint32_t, std::vector<std::string>> bySlot;
    for (int i = 0;; ++i) {
        const std::string url = "http://h.test/p" + std::to_string(i);
        auto& same = bySlot[ChromiumKeyHash(Entry(url, "").Key) & 0xffff];
        same.push_back(url);
        if (same.size() == count)
            return same;
    }
}

TEST(ChromiumBlockfile, DeletionLeavesEveryStructureConsistent) {
    const auto chain = CollidingUrls(3);
    std::vector<TBlockfileEntrySpec> entries = {
        Entry(chain[0], "first of a chain"),
        Entry(chain[1], "middle of a chain"),
        Entry(chain[2], "last of a chain"),
        Entry("http://h.test/notes.html", std::string(2500, 'n')),
        Entry("http://h.test/long.html", std::string(9000, 'l')),
        Entry("http://h.test/big.html", std::string(40000, 'b')),
        Entry("http://h.test/q?" + std::string(2000, 'k'), "a key in blocks of its own"),
        Entry("http://h.test/q?" + std::string(17000, 'x'), "a key in a file of its own"),
        Entry("http://h.test/reused.html", "alone on its list"),
        Entry("http://h.test/twice.html", "under one site"),
        Entry("http://h.test/last.html", "the tail of list 0"),
    };
    entries[8].ReuseCount = 2;
    TBlockfileEntrySpec other = Entry("http://h.test/twice.html", "under another site", 5);
    other.Key = "1/0/_dk_http://o.test http://o.test http://h.test/twice.html";
    entries.insert(entries.begin() + 10, other);
    std::vector<std::string> urls;
    for (const auto& e : entries)
        urls.push_back(ChromiumKeyUrl(e.Key));

    // Each case deletes one URL from a fresh cache; the first entry is the
    // head of list 0, the last its tail.
    const std::vector<std::size_t> cases = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11};
    for (std::size_t victim : cases) {
        const std::string& url = urls[victim];
        SCOPED_TRACE(url.substr(0, 60));
        test::TTempDir dir;
        test::WriteBlockfileCache(dir.Path(), entries);
        TChromiumBlockfileSource source(dir.Path());
        ASSERT_EQ(test::ReadAll(source).size(), entries.size() - 1);
        ASSERT_OK(source.DeleteEntry(url));
        EXPECT_EQ(test::BlockfileInconsistencies(dir.Path()), std::vector<std::string>{});
        // The others are read as before, bodies and all.
        TChromiumBlockfileSource after(dir.Path());
        std::map<std::string, TRawCacheEntry> read;
        for (auto& e : test::ReadAll(after))
            read[e.Url] = e;
        EXPECT_FALSE(after.ReadReport().Damaged) << after.ReadReport().Summary;
        EXPECT_EQ(read.count(url), 0u);
        EXPECT_EQ(read.size(), entries.size() - 2);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (urls[i] == url || read.count(urls[i]) == 0)
                continue;
            std::string body;
            TWebCacheEntryInfo info;
            FillEntryInfo(read.at(urls[i]), info);
            ASSERT_OK(ReadCacheBody(info, body, kMinDecodedLimit));
            if (urls[i] != urls[9]) {
                EXPECT_EQ(body, entries[i].Body) << urls[i].substr(0, 60);
            }
        }
        EXPECT_EQ(source.DeleteEntry(url).Code(), ENOENT);
    }
    // Both copies of a URL go.
    test::TTempDir dir;
    test::WriteBlockfileCache(dir.Path(), entries);
    TChromiumBlockfileSource source(dir.Path());
    ASSERT_OK(source.DeleteEntry(urls[9]));
    EXPECT_EQ(test::BlockfileInconsistencies(dir.Path()), std::vector<std::string>{});
    source.SetListShadowed(true);
    EXPECT_EQ(test::ReadAll(source).size(), entries.size() - 2);
    // Every entry, one after the other: an empty, consistent cache.
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (i != 9 && i != 10) {
            ASSERT_OK(source.DeleteEntry(urls[i]));
        }
    EXPECT_EQ(test::BlockfileInconsistencies(dir.Path()), std::vector<std::string>{});
    EXPECT_TRUE(test::ReadAll(source).empty());
    for (const auto& f : fs::directory_iterator(dir.Path()))
        EXPECT_NE(f.path().filename().string().substr(0, 2), "f_");
}

TEST(ChromiumBlockfile, DeletionThatCannotBeMadeSafeIsRefused) {
    struct TCase {
        const char* Name;
        std::function<void(std::vector<TBlockfileEntrySpec>&)> Entries;
        std::function<void(const fs::path&)> Damage;
        const char* Why;
    } cases[] = {
        {"the browser did not close the cache",
         {},
         [](const fs::path& d) {
             std::string index = test::ReadFileBytes(d / "index");
             index[32] = 1;
             test::WriteFileBytes(d / "index", index);
         },
         "did not close"},
        {"the entry was open", [](auto& e) { e[0].Dirty = 3; }, {}, "was open"},
        {"media in ranges", [](auto& e) { e[0].Flags = 1; }, {}, "ranges"},
        {"a block file in the middle of a change",
         {},
         [](const fs::path& d) {
             std::string data = test::ReadFileBytes(d / "data_1");
             data[56] = 1;
             test::WriteFileBytes(d / "data_1", data);
         },
         "middle of a change"},
        {"a table the browser would not accept",
         {},
         [](const fs::path& d) {
             std::string index = test::ReadFileBytes(d / "index");
             index[28] = 1;
             test::WriteFileBytes(d / "index", index);
         },
         "table"},
        {"the entry's blocks marked free",
         {},
         [](const fs::path& d) {
             std::string data = test::ReadFileBytes(d / "data_1");
             data[80] = 0;
             test::WriteFileBytes(d / "data_1", data);
         },
         "not allocated"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<TBlockfileEntrySpec> entries = {Entry("http://h.test/a.html", "a"),
                                                    Entry("http://h.test/b.html", "b")};
        if (c.Entries)
            c.Entries(entries);
        test::TTempDir dir;
        test::WriteBlockfileCache(dir.Path(), entries);
        if (c.Damage)
            c.Damage(dir.Path());
        const auto before = Snapshot(dir.Path());
        TChromiumBlockfileSource source(dir.Path());
        TError error = source.DeleteEntry("http://h.test/a.html");
        EXPECT_EQ(error.Code(), EBADMSG);
        EXPECT_NE(error.Text().find(c.Why), std::string::npos) << error.Text();
        EXPECT_EQ(Snapshot(dir.Path()), before);
    }
}

// A copy of the real cache, an entry deleted from it: what the browser wrote
// and what is left agree.
TEST(ChromiumBlockfile, DeletionFromTheRealCache) {
    test::TTempDir dir;
    test::CopyTree(kRealCache, dir.Path());
    TChromiumBlockfileSource source(dir.Path());
    const std::size_t before = test::ReadAll(source).size();
    for (const char* url : {"http://127.0.0.1:8765/sjis.html", "http://127.0.0.1:8765/big.html",
                            "http://127.0.0.1:8765/long.html"})
        ASSERT_OK(source.DeleteEntry(url));
    EXPECT_EQ(test::BlockfileInconsistencies(dir.Path()), std::vector<std::string>{});
    EXPECT_EQ(test::ReadAll(source).size(), before - 3);
    EXPECT_FALSE(fs::exists(dir.Path() / "f_000001"));
    EXPECT_FALSE(source.ReadReport().Damaged);
}

// Lets headless Chromium load pages with the cache below diskCacheDir; the
// URLs its server was asked for, or skipped set where it cannot run.
std::vector<std::string> ChromiumRequests(const fs::path& diskCacheDir,
                                          const std::vector<std::string>& pages, bool& skipped,
                                          std::string& why) {
    std::string command =
        "python3 '" + std::string(TARNHOLD_SOURCE_DIR) + "/tests/browser/chromiumreopen.py' '" +
        (kBrowsers / "site-chromium").string() + "' '" + diskCacheDir.string() + "'";
    for (const auto& page : pages)
        command += " '" + page + "'";
    command += " 2>&1";
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        skipped = true;
        why = "python3 cannot be started";
        return {};
    }
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        output.append(buf, n);
    const int status = ::pclose(pipe);
    skipped = !WIFEXITED(status) || WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 127;
    why = output;
    std::vector<std::string> urls;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("http://", 0) == 0)
            urls.push_back(line);
    return urls;
}

// The browser itself opens the cache after a deletion: the entries left are
// served from it (its server is not asked for them), the deleted ones are
// fetched again and stored.
TEST(ChromiumBlockfile, ChromiumKeepsTheCacheAfterADeletion) {
    test::TTempDir dir;
    const fs::path data = dir.Path() / "dc" / "Default" / "Cache" / "Cache_Data";
    fs::create_directories(data.parent_path());
    test::CopyTree(kRealCache, data);
    TChromiumBlockfileSource source(data);
    const std::string site = "http://127.0.0.1:8765/";
    for (const char* page : {"sjis.html", "big.html"})
        ASSERT_OK(source.DeleteEntry(site + page));
    ASSERT_EQ(test::BlockfileInconsistencies(data), std::vector<std::string>{});

    bool skipped = false;
    std::string why;
    const auto requests = ChromiumRequests(
        dir.Path() / "dc", {"index.html", "sjis.html", "big.html", "notes.html", "long.html"},
        skipped, why);
    if (skipped)
        GTEST_SKIP() << "Chromium cannot be run here: " << why;
    std::set<std::string> asked(requests.begin(), requests.end());
    asked.erase(site + "favicon.ico"); // not found, so never fresh
    EXPECT_EQ(asked, (std::set<std::string>{site + "sjis.html", site + "big.html"})) << why;

    TChromiumBlockfileSource after(data);
    std::map<std::string, TRawCacheEntry> read;
    for (auto& e : test::ReadAll(after))
        read[e.Url] = e;
    EXPECT_FALSE(after.ReadReport().Damaged) << after.ReadReport().Summary;
    EXPECT_EQ(read.size(), ReadManifest().size());
    EXPECT_EQ(read.count(site + "sjis.html"), 1u);
    EXPECT_EQ(test::BlockfileInconsistencies(data), std::vector<std::string>{});
}

} // namespace
} // namespace tarnhold
