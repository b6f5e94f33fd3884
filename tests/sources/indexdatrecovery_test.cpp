// Damaged copies of the Wine-written cache: what survives is read, what was
// wrong is reported, deleted entries and orphan files are found, and a
// damaged index is never written.
#include "sources/indexdat/indexdat.h"
#include "sources/indexdat/indexdatdeleter.h"
#include "sources/indexdat/indexdatsource.h"
#include "support/cache_test_helpers.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

using test::ReadAll;
using test::ReadFileBytes;
using test::WriteFileBytes;

const fs::path kContainer = test::CacheTestData() / "wine-ie-cache/Content.IE5";
const fs::path kAfterDelete = test::CacheTestData() / "wine-ie-cache/after-delete/index.dat";

// A writable copy of the container whose index is made from the original.
fs::path CopyContainer(const test::TTempDir& dir, const std::string& index) {
    const fs::path container = dir.Path() / "Content.IE5";
    test::CopyTree(kContainer, container);
    WriteFileBytes(container / "index.dat", index);
    return container;
}

// URL -> cached file of every entry.
std::map<std::string, std::string> ByUrl(const std::vector<TRawCacheEntry>& entries) {
    std::map<std::string, std::string> out;
    for (const auto& e : entries)
        out[e.Url] = e.LocalFileName;
    return out;
}

// The sound read of a container, with the end offset of each entry's record
// (entries come in hash-table order, as LiveUrlItems gives the records).
struct TSound {
    std::vector<TRawCacheEntry> Entries;
    std::vector<std::size_t> RecordEnds;
};

TSound ReadSound(const fs::path& container) {
    TSound sound;
    TIndexDatSource source(container);
    sound.Entries = ReadAll(source);
    const std::string bytes = ReadFileBytes(container / "index.dat");
    const TIndexDatView view(bytes);
    for (const auto& item : view.LiveUrlItems())
        sound.RecordEnds.push_back(item.RecordOffset +
                                   std::size_t{GetU32(bytes, item.RecordOffset + 4)} * 128);
    return sound;
}

// Every record wholly before the cut is read, named as in the sound file;
// none after it; and the report says how much is missing.
TEST(IndexDatRecovery, TruncatedFileYieldsEveryRecordBeforeTheCut) {
    const std::string original = ReadFileBytes(kContainer / "index.dat");
    const TSound sound = ReadSound(kContainer);
    ASSERT_EQ(sound.Entries.size(), sound.RecordEnds.size());
    for (std::size_t cut : {20000u, 20480u, 22100u, 27264u, 30000u, 40000u, 49000u}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        test::TTempDir dir;
        const fs::path container = CopyContainer(dir, original.substr(0, cut));
        TIndexDatSource source(container);
        const auto entries = ReadAll(source);
        EXPECT_TRUE(source.Error().Ok()) << source.Error().Text();
        std::map<std::string, std::string> expected;
        for (std::size_t i = 0; i < sound.Entries.size(); ++i) {
            if (sound.RecordEnds[i] <= cut)
                expected[sound.Entries[i].Url] = sound.Entries[i].LocalFileName;
        }
        std::map<std::string, std::string> got;
        for (const auto& e : entries)
            got[e.Url] = e.LocalFileName;
        // The same names, below the copy's folder instead of the original's.
        for (auto& [url, file] : expected) {
            if (!file.empty())
                file = (container / fs::path(file).lexically_relative(kContainer)).string();
        }
        EXPECT_EQ(got, expected);
        const TReadReport report = source.ReadReport();
        EXPECT_TRUE(report.Damaged);
        EXPECT_EQ(report.MissingBytes, original.size() - cut);
        EXPECT_NE(report.Summary.find("damaged"), std::string::npos) << report.Summary;
    }
}

TEST(IndexDatRecovery, FileCutInsideItsHeaderIsAnErrorThatSaysSo) {
    const std::string original = ReadFileBytes(kContainer / "index.dat");
    test::TTempDir dir;
    const fs::path container = CopyContainer(dir, original.substr(0, 5000));
    TIndexDatSource source(container);
    EXPECT_TRUE(ReadAll(source).empty());
    EXPECT_FALSE(source.Error().Ok());
    EXPECT_NE(source.Error().Text().find("ends at byte 5000"), std::string::npos);
    EXPECT_TRUE(source.ReadReport().Damaged);
}

// Damage that leaves every record whole: all 35 entries are read, named as
// before, and the damage is reported.
TEST(IndexDatRecovery, BrokenTableOrHeaderStillYieldsEveryEntry) {
    const std::string original = ReadFileBytes(kContainer / "index.dat");
    const std::uint32_t page = GetU32(original, kIdxHashTableOffset);
    struct TCase {
        const char* name;
        std::function<void(std::string&)> damage;
        const char* reason; // part of the summary
    };
    const TCase cases[] = {
        {"zeroed hash page",
         [&](std::string& b) { std::fill_n(b.begin() + page, kIdxHashPageSize, '\0'); },
         "no HASH page"},
        {"hash chain that loops",
         [&](std::string& b) { PutU32(b, page + kIdxHashNextOffset, page); }, "loop"},
        {"hash items zeroed",
         [&](std::string& b) {
             std::fill_n(b.begin() + page + kIdxHashItemsOffset,
                         kIdxHashItemCount * kIdxHashItemSize, '\0');
         },
         "hash items point"},
        {"header says the file is longer",
         [](std::string& b) { PutU32(b, kIdxFileSizeOffset, 0x100000); }, "its header says"},
        {"header says the file is shorter",
         [](std::string& b) { PutU32(b, kIdxFileSizeOffset, 0x8000); }, "the file has"},
        {"block count lies", [](std::string& b) { PutU32(b, kIdxTotalBlocksOffset, 0x10000); },
         "block count"},
        {"allocation bitmap zeroed",
         [](std::string& b) { std::fill_n(b.begin() + kIdxBitmapOffset, kIdxBitmapSize, '\0'); },
         "could not be read"},
    };
    const auto expected = ByUrl(ReadSound(kContainer).Entries);
    ASSERT_EQ(expected.size(), 35u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = original;
        c.damage(bytes);
        test::TTempDir dir;
        const fs::path container = CopyContainer(dir, bytes);
        TIndexDatSource source(container);
        auto got = ByUrl(ReadAll(source));
        for (auto& [url, file] : got) {
            if (!file.empty())
                file = (kContainer / fs::path(file).lexically_relative(container)).string();
        }
        EXPECT_EQ(got, expected);
        const TReadReport report = source.ReadReport();
        EXPECT_TRUE(report.Damaged);
        EXPECT_NE(report.Summary.find(c.reason), std::string::npos) << report.Summary;
        // Never written while damaged, with the reason.
        const TError refused =
            DeleteIndexDatEntry(container / "index.dat", expected.begin()->first);
        EXPECT_FALSE(refused.Ok());
        EXPECT_NE(refused.Text().find("damaged"), std::string::npos) << refused.Text();
        EXPECT_EQ(ReadFileBytes(container / "index.dat"), bytes);
    }
}

TEST(IndexDatRecovery, SoundFileReportsNothing) {
    TIndexDatSource source(kContainer);
    EXPECT_EQ(ReadAll(source).size(), 35u);
    const TReadReport report = source.ReadReport();
    EXPECT_FALSE(report.Damaged);
    EXPECT_EQ(report.Summary, "");
    EXPECT_EQ(report.DeletedRecords, 0u);
}

// Wine deleted two entries: their records stay whole in free blocks. They
// come back, marked, named as before, only when asked for; one whose file is
// gone has none.
TEST(IndexDatRecovery, DeletedEntriesComeBackWhenAsked) {
    test::TTempDir dir;
    const fs::path container = CopyContainer(dir, ReadFileBytes(kAfterDelete));
    fs::remove(container / "H7V2JOO9/full-headers[0].htm");
    const auto before = ByUrl(ReadSound(container).Entries);

    TIndexDatSource plain(container);
    const auto live = ReadAll(plain);
    EXPECT_EQ(live.size(), 33u);
    EXPECT_FALSE(plain.ReadReport().Damaged);
    EXPECT_EQ(plain.ReadReport().DeletedRecords, 2u);
    EXPECT_TRUE(std::none_of(live.begin(), live.end(), [](auto& e) { return e.Recovered; }));

    TIndexDatSource source(container);
    source.SetRecovered(true);
    const auto all = ReadAll(source);
    ASSERT_EQ(all.size(), 35u);
    EXPECT_FALSE(source.ReadReport().Damaged);
    std::map<std::string, std::string> recovered;
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].Recovered, i >= 33) << all[i].Url;
        if (all[i].Recovered)
            recovered[all[i].Url] = all[i].LocalFileName;
    }
    const std::map<std::string, std::string> expected = {
        {"http://www.shop.test/FAQ.html", (container / "DZHPG5TO/FAQ[0].htm").string()},
        {"http://www.shop.test/catalog/full-headers.html", ""},
    };
    EXPECT_EQ(recovered, expected);
    EXPECT_EQ(before.size(), 33u);

    // Nothing to delete: the entry is gone from the index already.
    const TError refused = source.DeleteEntry("http://www.shop.test/FAQ.html");
    EXPECT_EQ(refused.Code(), EPERM);
    EXPECT_TRUE(fs::exists(container / "DZHPG5TO/FAQ[0].htm"));
}

// A deleted record whose blocks now belong to a live one is not taken: its
// bytes are no longer its own.
TEST(IndexDatRecovery, DeletedRecordOverlappingALiveOneIsLeftOut) {
    std::string bytes = ReadFileBytes(kAfterDelete);
    const TIndexDatView view(bytes);
    const auto live = view.LiveUrlItems();
    const TIndexDatScan scan = view.ScanRecords(live);
    ASSERT_EQ(scan.Deleted.size(), 2u);
    // The first deleted record grows over the live record after it.
    const std::uint32_t deleted = scan.Deleted[0];
    std::uint32_t next = 0;
    for (const auto& item : live) {
        if (item.RecordOffset > deleted && (next == 0 || item.RecordOffset < next))
            next = item.RecordOffset;
    }
    ASSERT_NE(next, 0u);
    PutU32(bytes, deleted + 4, (next - deleted) / 128 + 1);
    const TIndexDatView changed(bytes);
    const TIndexDatScan again = changed.ScanRecords(changed.LiveUrlItems());
    EXPECT_EQ(again.Deleted, std::vector<std::uint32_t>{scan.Deleted[1]});
}

TEST(IndexDatRecovery, OrphanFilesAreListedAndCopied) {
    test::TTempDir dir;
    const fs::path container = CopyContainer(dir, ReadFileBytes(kAfterDelete));
    WriteFileBytes(container / "DZHPG5TO/stray.bin", "lost bytes");
    fs::create_symlink("/etc/hostname", container / "DZHPG5TO/link.htm");
    fs::create_directory(container / "H7V2JOO9/sub");

    std::vector<TCacheOrphan> orphans;
    ASSERT_OK(FindIndexDatOrphans(container / "index.dat", orphans));
    ASSERT_EQ(orphans.size(), 1u) << "deleted records still name their files";
    EXPECT_EQ(orphans[0].Folder, "DZHPG5TO");
    EXPECT_EQ(orphans[0].Name, "stray.bin");
    EXPECT_EQ(orphans[0].Size, 10u);

    const fs::path to = dir.Path() / "rescued";
    ASSERT_OK(CopyCacheOrphan(orphans[0], to));
    EXPECT_EQ(ReadFileBytes(to / "DZHPG5TO/stray.bin"), "lost bytes");
    EXPECT_EQ(CopyCacheOrphan(orphans[0], to).Code(), EEXIST) << "never overwritten";

    // A folder of the target that is a link is not followed.
    const fs::path trap = dir.Path() / "trap";
    fs::create_directories(trap);
    fs::create_directories(dir.Path() / "other");
    fs::create_symlink(trap, dir.Path() / "other/DZHPG5TO");
    EXPECT_FALSE(CopyCacheOrphan(orphans[0], dir.Path() / "other").Ok());
    EXPECT_TRUE(fs::is_empty(trap));
}

// msiecfexport (libmsiecf) reads Internet Explorer's signature only: the
// copies get it. Every URL record it finds, live or recovered, is read too.
TEST(IndexDatRecovery, FindsEveryRecordMsiecfexportFinds) {
    std::string found;
    if (test::RunProgram({"/bin/sh", "-c", "command -v msiecfexport"}, &found) != 0)
        GTEST_SKIP() << "msiecfexport is not installed (scripts/setup installs it)";
    std::string base = ReadFileBytes(kAfterDelete);
    std::copy_n(IndexDatSignatureBytes(TIndexDatSignature::Microsoft).data(), kIdxSignatureSize,
                base.begin());
    const std::uint32_t page = GetU32(base, kIdxHashTableOffset);
    struct TCase {
        const char* name;
        std::function<void(std::string&)> damage;
    };
    auto cutAndPad = [](std::size_t cut) {
        return [cut](std::string& b) { std::fill(b.begin() + cut, b.end(), '\0'); };
    };
    const TCase cases[] = {
        {"deleted entries only", [](std::string&) {}},
        {"cut at 24000, zero-filled", cutAndPad(24000)},
        {"cut at 30000, zero-filled", cutAndPad(30000)},
        {"cut at 40000, zero-filled", cutAndPad(40000)},
        {"bitmap zeroed",
         [](std::string& b) { std::fill_n(b.begin() + kIdxBitmapOffset, kIdxBitmapSize, '\0'); }},
        {"hash items zeroed",
         [&](std::string& b) {
             std::fill_n(b.begin() + page + kIdxHashItemsOffset,
                         kIdxHashItemCount * kIdxHashItemSize, '\0');
         }},
        {"block count lies", [](std::string& b) { PutU32(b, kIdxTotalBlocksOffset, 0x10000); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = base;
        c.damage(bytes);
        test::TTempDir dir;
        const fs::path container = CopyContainer(dir, bytes);
        std::string report, err;
        // Bounded: it does not stop on every damaged table by itself.
        const int rc =
            test::RunProgram({"/bin/sh", "-c", "exec timeout 20 msiecfexport -m all \"$1\"", "sh",
                              (container / "index.dat").string()},
                             &report, &err);
        if (rc != 0) {
            ADD_FAILURE() << "msiecfexport failed (" << rc << "): " << err;
            continue;
        }
        // Its URL records' locations (ASCII; it shows others in its own code page).
        std::multiset<std::string> theirs;
        std::size_t theirCount = 0;
        std::istringstream lines(report);
        std::string line;
        bool url = false;
        while (std::getline(lines, line)) {
            if (line.rfind("Record type", 0) == 0)
                url = line.find(": URL") != std::string::npos;
            if (!url || line.rfind("Location", 0) != 0)
                continue;
            ++theirCount;
            const std::string location = line.substr(line.find(": ") + 2);
            if (std::all_of(location.begin(), location.end(),
                            [](char ch) { return static_cast<unsigned char>(ch) < 0x80; }))
                theirs.insert(location);
        }
        EXPECT_GT(theirCount, 0u);

        TIndexDatSource source(container);
        source.SetRecovered(true);
        std::set<std::string> ours;
        for (const auto& e : ReadAll(source))
            ours.insert(e.Url);
        EXPECT_GE(ours.size(), theirCount);
        for (const auto& location : theirs)
            EXPECT_EQ(ours.count(location), 1u) << location;
    }
}

} // namespace
} // namespace tarnhold
