// Damaged and hostile index.dat files: whatever fits is read, nothing is
// read past, loops end, and nothing outside the cache folder is named.
#include "cache/indexdatdeleter.h"
#include "cache/indexdatsource.h"
#include "cache_test_helpers.h"

#include <functional>
#include <gtest/gtest.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

constexpr int kEntries = 12;

// An index of twelve entries (records of two blocks, hash page at 0x4000).
std::string GoodIndex() {
    auto image = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA", "BBBBBBBB"});
    for (int i = 0; i < kEntries; ++i) {
        EXPECT_OK(image.AddEntry(test::MakeEntry("http://host.test/p" + std::to_string(i),
                                                 "p" + std::to_string(i) + "[1].htm", i % 2, 10,
                                                 "HTTP/1.1 200 OK\r\n\r\n")));
    }
    return image.TakeBytes();
}

// The first live item and its record.
TIndexDatItem FirstItem(const std::string& index) {
    auto items = TIndexDatView(index).LiveUrlItems();
    EXPECT_FALSE(items.empty());
    return items.empty() ? TIndexDatItem{} : items.front();
}

struct THostileCase {
    const char* name;
    std::function<void(std::string&)> damage;
    int entries;       // delivered afterwards
    bool opens = true; // First succeeds or reports an empty cache
};

TEST(IndexDatHostile, ReadsWhatFitsAndNothingElse) {
    const THostileCase cases[] = {
        {"intact", [](std::string&) {}, kEntries},
        {"empty file", [](std::string& b) { b.clear(); }, 0, false},
        {"truncated inside the header", [](std::string& b) { b.resize(0x3FFF); }, 0, false},
        {"header only", [](std::string& b) { b.resize(0x4000); }, 0},
        {"truncated inside the hash page", [](std::string& b) { b.resize(0x4800); }, 0},
        {"truncated inside a record",
         [](std::string& b) { b.resize(FirstItem(b).RecordOffset + 0x80); }, -1},
        {"zeroed header", [](std::string& b) { std::fill(b.begin(), b.begin() + 0x4000, 0); }, 0,
         false},
        {"hash chain loops to itself",
         [](std::string& b) { PutU32(b, 0x4000 + kIdxHashNextOffset, 0x4000); }, kEntries},
        {"hash table offset past the end",
         [](std::string& b) { PutU32(b, kIdxHashTableOffset, 0xFFFFF000); }, 0},
        {"hash page without signature", [](std::string& b) { PutU32(b, 0x4000, 0); }, 0},
        {"item offset past the end",
         [](std::string& b) { PutU32(b, FirstItem(b).Position + 4, 0xFFFFFF80); }, kEntries - 1},
        {"item offset inside the header",
         [](std::string& b) { PutU32(b, FirstItem(b).Position + 4, 0x80); }, kEntries - 1},
        {"item offset between blocks",
         [](std::string& b) {
             PutU32(b, FirstItem(b).Position + 4, FirstItem(b).RecordOffset + 4);
         },
         kEntries - 1},
        {"huge block count",
         [](std::string& b) { PutU32(b, FirstItem(b).RecordOffset + 4, 0xFFFFFFFF); },
         kEntries - 1},
        {"zero block count", [](std::string& b) { PutU32(b, FirstItem(b).RecordOffset + 4, 0); },
         kEntries - 1},
        {"URL offset past the record",
         [](std::string& b) { PutU32(b, FirstItem(b).RecordOffset + kUrlUrlOffset, 0x100); },
         kEntries - 1},
        {"URL without NUL in its record",
         [](std::string& b) {
             const auto rec = FirstItem(b).RecordOffset;
             std::fill(b.begin() + rec + 0x68, b.begin() + rec + 0x100, 'a');
         },
         kEntries - 1},
        {"huge header size",
         [](std::string& b) {
             PutU32(b, FirstItem(b).RecordOffset + kUrlHeaderSizeOffset, 0xFFFFFFF0);
         },
         kEntries - 1},
        {"huge directory count", [](std::string& b) { PutU32(b, kIdxDirCountOffset, 0xFFFFFFFF); },
         kEntries},
        {"huge allocated count",
         [](std::string& b) { PutU32(b, kIdxAllocatedBlocksOffset, 0xFFFFFFFF); }, kEntries},
        {"huge file size field", [](std::string& b) { PutU32(b, kIdxFileSizeOffset, 0xFFFFFFFF); },
         kEntries},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = GoodIndex();
        c.damage(bytes);
        test::TTempDir tmp;
        test::WriteFileBytes(tmp.Path() / "index.dat", bytes);
        TIndexDatSource source(tmp.Path());
        const auto entries = test::ReadAll(source);
        if (c.entries >= 0) {
            EXPECT_EQ(static_cast<int>(entries.size()), c.entries);
        } else {
            EXPECT_LT(entries.size(), static_cast<std::size_t>(kEntries));
        }
        EXPECT_EQ(source.Error().Ok(), c.opens) << source.Error().Text();
        for (const auto& e : entries) {
            EXPECT_TRUE(e.Url.starts_with("http://host.test/p")) << e.Url;
            EXPECT_EQ(e.HeaderBlock, "HTTP/1.1 200 OK\r\n\r\n");
        }
        // Deleting from it either works and keeps the rules, or changes nothing.
        if (!entries.empty()) {
            const bool deleted = DeleteIndexDatEntry(tmp.Path() / "index.dat", entries[0].Url).Ok();
            const std::string after = test::ReadFileBytes(tmp.Path() / "index.dat");
            if (deleted)
                EXPECT_TRUE(CheckIndexDatInvariants(after).Ok());
            else
                EXPECT_EQ(after, bytes);
        }
    }
}

// A name that would leave the cache folder is no cached file: it is neither
// delivered nor deleted.
TEST(IndexDatHostile, NamesNeverLeaveTheCacheFolder) {
    test::TTempDir tmp;
    const fs::path cache = tmp.Path() / "cache";
    fs::create_directories(cache / "AAAAAAAA");
    test::WriteFileBytes(tmp.Path() / "victim", "keep me");
    auto image = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA", ".."});
    ASSERT_OK(image.AddEntry(test::MakeEntry("http://a.test/1", "../../victim", 0)));
    ASSERT_OK(image.AddEntry(test::MakeEntry("http://a.test/2", "..", 0)));
    ASSERT_OK(image.AddEntry(test::MakeEntry("http://a.test/3", "victim", 1)));
    ASSERT_OK(image.AddEntry(test::MakeEntry("http://a.test/4", "victim", 0)));
    std::string bytes = image.TakeBytes();
    TIndexDatItem item;
    ASSERT_TRUE(TIndexDatView(bytes).FindUrl("http://a.test/4", item));
    bytes[item.RecordOffset + kUrlDirIndexOffset] = 7; // no such folder
    test::WriteFileBytes(cache / "index.dat", bytes);

    TIndexDatSource source(cache);
    const auto entries = test::ReadAll(source);
    ASSERT_EQ(entries.size(), 4u);
    for (const auto& e : entries) {
        EXPECT_TRUE(e.LocalFileName.empty()) << e.Url << " " << e.LocalFileName;
        EXPECT_OK(DeleteIndexDatEntry(cache / "index.dat", e.Url)) << e.Url;
    }
    EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "victim"), "keep me");
}

TEST(IndexDatHostile, EdgeCachesOfTheReader) {
    test::TTempDir tmp;
    // An empty cache: nothing, and no error.
    test::WriteFileBytes(tmp.Path() / "index.dat",
                         TIndexDatWriter::Create(TIndexDatSignature::Wine, {"AAAAAAAA"}).Bytes());
    TIndexDatSource source(tmp.Path());
    TRawCacheEntry e;
    EXPECT_FALSE(source.First(e));
    EXPECT_OK(source.Error());
    // Signatures of other versions are not read.
    std::string other = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {}).TakeBytes();
    other[26] = '1'; // "... Ver 5.1"
    test::WriteFileBytes(tmp.Path() / "index.dat", other);
    EXPECT_FALSE(source.First(e));
    EXPECT_EQ(source.Error().Code(), EBADMSG);
    // A device that never ends is read only as far as an index can reach.
    TIndexDatSource zero(fs::path("/dev/zero"));
    EXPECT_FALSE(zero.First(e));
    EXPECT_EQ(zero.Error().Code(), EBADMSG);
}

} // namespace
} // namespace tarnhold
