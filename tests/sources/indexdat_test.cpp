// The format primitives: the URL hash against values taken from real files,
// DOS times, and the consistency rules.
#include "mkcache/indexdatwriter.h"
#include "platform/codepage.h"
#include "sources/indexdat/indexdat.h"
#include "support/cache_test_helpers.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

struct THashCase {
    const char* name;
    const char* url;
    std::uint32_t ie;   // Internet Explorer's hash
    std::uint32_t wine; // Wine's (the trailing "/" hashed as well)
};

TEST(UrlCacheHash, MatchesKeysStoredByBrowsers) {
    const THashCase cases[] = {
        {"plain", "http://www.bing.com/favicon.ico", 0x0C86201E, 0x0C86201E},
        {"https", "https://ieonline.microsoft.com/favicon.ico", 0xE0EEBF00, 0xE0EEBF00},
        {"query", "http://go.microsoft.com/fwlink/?LinkId=299196", 0x1AB98AC2, 0x1AB98AC2},
        {"trailing slash", "http://pricelist.skype.com/destinations/1.0/US/EUR/en/xml/", 0xCADEA6C8,
         0x00C83734},
        {"trailing slash 2", "https://apps.skype.com/home/", 0x95A625E4, 0xE0377DCA},
        {"host only with slash", "http://example.com/", 0x20A8D3BB, 0},
        {"host only", "http://example.com", 0x20A8D3BB, 0x20A8D3BB},
        {"cookie", "Cookie:tester@example.com/", 0x3252B37A, 0},
        {"empty", "", 0x196E0E01, 0x196E0E01},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UrlCacheHash(c.url), c.ie) << c.name;
        if (c.wine != 0) {
            EXPECT_EQ(WineUrlCacheHash(c.url), c.wine) << c.name;
        }
    }
}

// Every live key in the Wine-written fixture is Wine's hash of its URL.
TEST(UrlCacheHash, WineFixtureKeysUseWinesHash) {
    std::string data =
        test::ReadFileBytes(test::CacheTestData() / "wine-ie-cache/Content.IE5/index.dat");
    TIndexDatView view(data);
    ASSERT_TRUE(view.Valid());
    auto items = view.LiveUrlItems();
    ASSERT_EQ(items.size(), 35u);
    int slashUrls = 0;
    for (const auto& item : items) {
        TIndexDatRecord r;
        ASSERT_TRUE(view.DecodeUrlRecord(item.RecordOffset, r));
        EXPECT_EQ(item.Key & kIdxHashKeyMask, WineUrlCacheHash(r.Url) & kIdxHashKeyMask) << r.Url;
        if (r.Url.ends_with('/')) {
            ++slashUrls;
            EXPECT_NE(UrlCacheHash(r.Url), WineUrlCacheHash(r.Url)) << r.Url;
        }
    }
    EXPECT_EQ(slashUrls, 4);
}

TEST(DosDateTime, RoundTripsToTwoSeconds) {
    const FILETIME ft = UnixTimeToFileTime(1350888301); // 2012-10-22 06:45:01 UTC
    const std::uint32_t dos = FileTimeToDosDateTime(ft);
    EXPECT_EQ(dos & 0xFFFF, ((2012u - 1980) << 9) | (10u << 5) | 22u);
    EXPECT_EQ(dos >> 16, (6u << 11) | (45u << 5) | 0u);
    EXPECT_EQ(FileTimeToUnixSeconds(DosDateTimeToFileTime(dos)), 1350888300);
    EXPECT_EQ(FileTimeToDosDateTime(FILETIME{}), 0u);
    EXPECT_EQ(FileTimeToDosDateTime(UnixTimeToFileTime(0)), 0u); // before 1980
}

TEST(IndexDatInvariants, NameTheBrokenRule) {
    const std::string good =
        TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA"}).TakeBytes();
    ASSERT_TRUE(CheckIndexDatInvariants(good).Ok());
    struct TCase {
        const char* name;
        std::size_t offset;
        std::uint32_t value;
    };
    const TCase cases[] = {
        {"file size field", kIdxFileSizeOffset, 0x9000},
        {"block count", kIdxTotalBlocksOffset, 0x100},
        {"allocated count", kIdxAllocatedBlocksOffset, 33},
        {"bit past the last block", kIdxBitmapOffset + 0x80 / 8, 1},
        {"directory count", kIdxDirCountOffset, 33},
        {"hash table", kIdxHashTableOffset, 0x4080},
        {"signature", 0, 0x41414141},
    };
    for (const auto& c : cases) {
        std::string bad = good;
        PutU32(bad, c.offset, c.value);
        const TError why = CheckIndexDatInvariants(bad);
        EXPECT_EQ(why.Code(), EBADMSG) << c.name;
        EXPECT_FALSE(why.Text().empty()) << c.name;
    }
    EXPECT_FALSE(CheckIndexDatInvariants(good.substr(0, 0x4000)).Ok());
}

// Wine's UTF-8 URLs as the program's text: only well-formed UTF-8 counts
// (an overlong "/" must not pass as one), and what code page 932 cannot
// hold is %-escaped rather than replaced by "?", which would start a query.
TEST(CacheUtf8, ConvertsOnlyWellFormedText) {
    const struct {
        const char* name;
        std::string text;
        bool valid;
        std::string ansi;
    } cases[] = {
        {"ASCII", "http://a.test/x?y", true, "http://a.test/x?y"},
        {"kanji before a slash", "a\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E/b", true,
         "a\x93\xFA\x96\x7B\x8C\xEA/b"},
        {"a letter code page 932 lacks", "caf\xC3\xA9", true, "caf%C3%A9"},
        {"overlong slash", "x\xC0\xAFy", false, "x%C0%AFy"},
        {"surrogate", "\xED\xA0\x80", false, "%ED%A0%80"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false, "%F4%90%80%80"},
        {"cut short", "a\xE6\x97", false, "a%E6%97"},
        {"Shift_JIS bytes", "\x93\xFA", false, "%93%FA"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.name;
        EXPECT_EQ(CacheUtf8ToAnsi(c.text), c.ansi) << c.name;
    }
}

} // namespace
} // namespace tarnhold
