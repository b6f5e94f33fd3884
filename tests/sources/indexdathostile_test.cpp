// Damaged and hostile index.dat files: whatever fits is read, nothing is
// read past, loops end, and nothing outside the cache folder is named.
#include "sources/indexdat/indexdatdeleter.h"
#include "sources/indexdat/indexdatsource.h"
#include "support/cache_test_helpers.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <set>

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
        // A lost table or item leaves the records whole: the scan of the
        // blocks finds them.
        {"hash table offset past the end",
         [](std::string& b) { PutU32(b, kIdxHashTableOffset, 0xFFFFF000); }, kEntries},
        {"hash page without signature", [](std::string& b) { PutU32(b, 0x4000, 0); }, kEntries},
        {"item offset past the end",
         [](std::string& b) { PutU32(b, FirstItem(b).Position + 4, 0xFFFFFF80); }, kEntries},
        {"item offset inside the header",
         [](std::string& b) { PutU32(b, FirstItem(b).Position + 4, 0x80); }, kEntries},
        {"item offset between blocks",
         [](std::string& b) {
             PutU32(b, FirstItem(b).Position + 4, FirstItem(b).RecordOffset + 4);
         },
         kEntries},
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

// What a snapshot hands on: the bytes of its strings.
std::size_t DeliveredBytes(const std::vector<TRawCacheEntry>& entries) {
    std::size_t bytes = 0;
    for (const auto& e : entries)
        bytes +=
            e.Url.size() + e.HeaderBlock.size() + e.LocalFileName.size() + e.FileExtension.size();
    return bytes;
}

// Four small entries and one whose header text is 200 KB.
struct TBigIndex {
    std::string Bytes;
    std::uint32_t Big = 0; // offset of the large record
    std::uint32_t BigBlocks = 0;
};

TBigIndex BigIndex() {
    auto image = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA"});
    for (int i = 0; i < 4; ++i) {
        EXPECT_OK(image.AddEntry(test::MakeEntry("http://host.test/p" + std::to_string(i),
                                                 "p[1].htm", 0, 10, "HTTP/1.1 200 OK\r\n\r\n")));
    }
    TBigIndex index;
    EXPECT_OK(image.AddEntry(test::MakeEntry("http://host.test/big", "big[1].htm", 0, 10,
                                             "X-Big: " + std::string(200000, 'h')),
                             &index.Big));
    index.Bytes = image.TakeBytes();
    index.BigBlocks = GetU32(index.Bytes, index.Big + 4);
    return index;
}

// However the table and the records are twisted, a snapshot hands on each
// record once and no more bytes than a small multiple of the file.
TEST(IndexDatHostile, DeliversEachRecordOnceAndBoundedBytes) {
    struct TCase {
        const char* name;
        std::function<void(TBigIndex&)> damage;
        int entries; // -1: any number
    };
    const TCase cases[] = {
        {"intact", [](TBigIndex&) {}, 5},
        {"every free hash item points at the large record",
         [](TBigIndex& x) {
             while (test::AddAliasItem(x.Bytes, x.Big)) {
             }
         },
         5},
        {"records nested in the large record's blocks share its text",
         [](TBigIndex& x) {
             // Each nested record's URL and headers point at the second half
             // of the large record's header text.
             const std::uint32_t tail = x.Big + (x.BigBlocks / 2 + 1) * 0x80;
             const std::uint32_t textEnd = x.Big + 0x80 + 200007;
             for (std::uint32_t k = 8; k < x.BigBlocks / 2; ++k) {
                 const std::uint32_t rec = x.Big + k * 0x80;
                 PutU32(x.Bytes, rec, kSigUrl);
                 PutU32(x.Bytes, rec + 4, x.BigBlocks - k);
                 PutU32(x.Bytes, rec + kUrlUrlOffset, tail - rec);
                 PutU32(x.Bytes, rec + kUrlFileNameOffset, 0);
                 PutU32(x.Bytes, rec + kUrlExtensionOffset, 0);
                 PutU32(x.Bytes, rec + kUrlHeaderOffset, tail - rec);
                 PutU32(x.Bytes, rec + kUrlHeaderSizeOffset, textEnd - tail);
                 if (!test::AddAliasItem(x.Bytes, rec))
                     break;
             }
         },
         -1},
        // Its item still names it and it is whole: read by the scan.
        {"the bitmap calls the large record's blocks free",
         [](TBigIndex& x) {
             test::SetBlocksAllocated(x.Bytes, (x.Big - 0x4000) / 0x80, x.BigBlocks, false);
         },
         5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBigIndex index = BigIndex();
        c.damage(index);
        test::TTempDir tmp;
        test::WriteFileBytes(tmp.Path() / "index.dat", index.Bytes);
        TIndexDatSource source(tmp.Path());
        const auto entries = test::ReadAll(source);
        EXPECT_OK(source.Error());
        if (c.entries >= 0) {
            EXPECT_EQ(static_cast<int>(entries.size()), c.entries);
        }
        std::set<std::string> urls;
        for (const auto& e : entries)
            EXPECT_TRUE(urls.insert(e.Url).second) << "twice: " << e.Url.substr(0, 40);
        EXPECT_LE(DeliveredBytes(entries), 2 * index.Bytes.size());
    }
}

// Offsets of the URL records in file order.
std::vector<std::uint32_t> RecordOffsets(const std::string& index) {
    std::vector<std::uint32_t> offsets;
    for (const auto& item : TIndexDatView(index).LiveUrlItems())
        offsets.push_back(item.RecordOffset);
    std::sort(offsets.begin(), offsets.end());
    return offsets;
}

std::string UrlAt(const std::string& index, std::uint32_t offset) {
    TIndexDatRecord r;
    EXPECT_TRUE(TIndexDatView(index).DecodeUrlRecord(offset, r));
    return std::string(r.Url);
}

// Records of two blocks each and a second hash page after them (nine URLs
// share one set of the table).
std::string TwoPageIndex() {
    auto image = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA"});
    int added = 0;
    for (int i = 0; added < 9; ++i) {
        const std::string url = "http://set.test/" + std::to_string(i);
        if ((UrlCacheHash(url) & 0x3F) != 5)
            continue;
        EXPECT_OK(image.AddEntry(test::MakeEntry(url, "s[1].htm", 0, 10, "HTTP/1.1 200 OK\r\n")));
        ++added;
    }
    EXPECT_EQ(image.View().HashPages().size(), 2u);
    return image.TakeBytes();
}

// The deleter frees a record's blocks only when they are its own: else the
// next writer (Internet Explorer, Wine, tarnhold-mkcache --append) would
// put new records over a hash page or a live entry.
TEST(IndexDatHostile, DeleterFreesOnlyTheRecordsOwnBlocks) {
    struct TCase {
        const char* name;
        // Damages the index and returns the offset of the record to delete.
        std::function<std::uint32_t(std::string&)> damage;
        const char* reason; // in the error text
        int error = EBADMSG;
    };
    const TCase cases[] = {
        {"block count runs over the next record",
         [](std::string& b) {
             const auto recs = RecordOffsets(b);
             PutU32(b, recs[0] + 4, 4);
             return recs[0];
         },
         "overlaps the record"},
        {"block count runs into the next hash page",
         [](std::string& b) {
             const auto pages = TIndexDatView(b).HashPages();
             const auto recs = RecordOffsets(b);
             std::uint32_t last = 0;
             for (auto r : recs) {
                 if (r < pages[1])
                     last = r;
             }
             const std::uint32_t blocks = (pages[1] - last) / 0x80 + 1;
             PutU32(b, last + 4, blocks);
             test::SetBlocksAllocated(b, (last - 0x4000) / 0x80, blocks, true);
             return last;
         },
         "hash table page"},
        {"the bitmap calls the blocks free",
         [](std::string& b) {
             const auto recs = RecordOffsets(b);
             test::SetBlocksAllocated(b, (recs[1] - 0x4000) / 0x80, 2, false);
             return recs[1];
         },
         "not allocated"},
        {"block count runs past the data area",
         [](std::string& b) {
             const auto recs = RecordOffsets(b);
             PutU32(b, recs.back() + 4, 0x10000);
             return recs.back();
         },
         "damaged"}, // a record that does not fit is no entry, and the index is damaged
        {"block count runs over a deleted record of the LEAK chain",
         [](std::string& b) {
             const auto recs = RecordOffsets(b);
             TIndexDatItem item;
             EXPECT_TRUE(TIndexDatView(b).FindUrl(UrlAt(b, recs[3]), item));
             PutU32(b, item.Position, kIdxHashDeleted);
             PutU32(b, recs[3], kSigLeak);
             PutU32(b, recs[3] + kUrlExemptDeltaOffset, 0);
             PutU32(b, kIdxFirstLeakOffset, recs[3]);
             PutU32(b, recs[2] + 4, 4);
             return recs[2];
         },
         "deleted record"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = TwoPageIndex();
        const std::string original = bytes;
        const std::uint32_t victim = c.damage(bytes);
        const std::string url = UrlAt(original, victim);
        ASSERT_OK(CheckIndexDatInvariants(bytes));
        test::TTempDir tmp;
        test::WriteFileBytes(tmp.Path() / "index.dat", bytes);
        const TError error = DeleteIndexDatEntry(tmp.Path() / "index.dat", url);
        EXPECT_EQ(error.Code(), c.error) << error.Text();
        EXPECT_NE(error.Text().find(c.reason), std::string::npos) << error.Text();
        EXPECT_EQ(test::ReadFileBytes(tmp.Path() / "index.dat"), bytes);
    }
}

// Two hash items for one record: listed once; one deletion removes both and
// lowers the counts once.
TEST(IndexDatHostile, AliasedItemsAreOneEntry) {
    test::TTempDir tmp;
    auto image = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA"});
    std::uint32_t aliased = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_OK(image.AddEntry(test::MakeEntry("http://host.test/p" + std::to_string(i),
                                                 "p" + std::to_string(i) + ".htm", 0, 100),
                                 i == 1 ? &aliased : nullptr));
    }
    std::string bytes = image.TakeBytes();
    ASSERT_TRUE(test::AddAliasItem(bytes, aliased));
    ASSERT_TRUE(test::AddAliasItem(bytes, aliased));
    const fs::path index = tmp.Path() / "index.dat";
    test::WriteFileBytes(index, bytes);

    TIndexDatSource source(tmp.Path());
    EXPECT_EQ(test::ReadAll(source).size(), 3u);
    EXPECT_OK(DeleteIndexDatEntry(index, "http://host.test/p1"));
    const auto left = test::ReadAll(source);
    ASSERT_EQ(left.size(), 2u);
    for (const auto& e : left)
        EXPECT_NE(e.Url, "http://host.test/p1");
    EXPECT_EQ(DeleteIndexDatEntry(index, "http://host.test/p1").Code(), ENOENT);
    const std::string after = test::ReadFileBytes(index);
    EXPECT_OK(CheckIndexDatInvariants(after));
    EXPECT_EQ(GetU32(after, kIdxDirTableOffset), 2u);
    EXPECT_EQ(GetU64(after, kIdxCacheUsageOffset), 200u);
}

} // namespace
} // namespace tarnhold
