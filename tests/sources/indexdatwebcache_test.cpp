// TWebCache over the index.dat source: the Wine cache as callers see it,
// against WinINet's own enumeration with the filter applied.
#include "platform/files.h"
#include "sources/indexdat/indexdatsource.h"
#include "support/cache_test_helpers.h"
#include "tree/webcache.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

TEST(IndexDatWebCache, DeliversTheWebDocumentsOfTheOracleInLocalTime) {
    const fs::path container = test::CacheTestData() / "wine-ie-cache/Content.IE5";
    std::vector<test::TOracleEntry> expected;
    for (auto& o : test::ReadOracle(test::CacheTestData() / "wine-ie-cache/oracle.jsonl")) {
        const auto type = std::stoul(*o.at("type"), nullptr, 16);
        if ((type & (COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY)) == 0)
            expected.push_back(o);
    }
    ASSERT_EQ(expected.size(), 31u); // cookie: and visited: URLs, and two by their flags only

    TWebCache cache(std::make_unique<TIndexDatSource>(container));
    EXPECT_EQ(cache.Count(), 31);
    TWebCacheEntryInfo e;
    std::size_t i = 0;
    int zeroTimes = 0;
    for (bool ok = cache.FindFirst(e); ok; ok = cache.FindNext(e), ++i) {
        ASSERT_LT(i, expected.size());
        const auto& o = expected[i];
        SCOPED_TRACE(*o.at("url"));
        EXPECT_EQ(e.Url, *o.at("url"));
        const std::string local = test::OracleLocalFile(o);
        EXPECT_EQ(e.LocalFileName, local.empty() ? fs::path() : container / local);
        EXPECT_EQ(e.Size, std::stoul(*o.at("size_low")));
        EXPECT_EQ(e.FileExtension, o.at("ext").value_or(""));
        FILETIME utc{
            static_cast<std::uint32_t>(std::stoul(*o.at("last_modified_lo"), nullptr, 16)),
            static_cast<std::uint32_t>(std::stoul(*o.at("last_modified_hi"), nullptr, 16))};
        FILETIME localTime{};
        if (IsZeroFileTime(utc)) {
            ++zeroTimes; // the cached file's last-write time stands in
            ASSERT_TRUE(GetFileLastWriteTime(e.LocalFileName, localTime));
        } else {
            ASSERT_TRUE(FileTimeToLocalFileTime(utc, localTime));
        }
        SYSTEMTIME st;
        ASSERT_TRUE(FileTimeToSystemTime(localTime, st));
        EXPECT_EQ(CompareSystemTime(e.LastModified, st), 0);
        TWebCacheHeaderInfo headers;
        headers.SetText(o.at("headers").value_or(""));
        EXPECT_EQ(e.HeaderInfo.Values("content-type"), headers.Values("Content-Type"));
    }
    cache.FindClose();
    EXPECT_EQ(i, expected.size());
    EXPECT_EQ(zeroTimes, 1);
}

TEST(IndexDatWebCache, BigHeaderBlockArrivesWhole) {
    TWebCache cache(
        std::make_unique<TIndexDatSource>(test::CacheTestData() / "wine-ie-cache/Content.IE5"));
    TWebCacheEntryInfo e;
    bool found = false;
    for (bool ok = cache.FindFirst(e); ok; ok = cache.FindNext(e)) {
        if (e.Url == "http://www.shop.test/catalog/full-headers.html") {
            found = true;
            EXPECT_EQ(e.HeaderInfo.Text().size() + 2, 6860u); // the final CR LF splits off
            EXPECT_EQ(e.HeaderInfo.Values("Content-Type"), "text/html");
        }
    }
    EXPECT_TRUE(found);
}

} // namespace
} // namespace tarnhold
