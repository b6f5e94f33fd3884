// What a source can do beyond reading, asked through the interface every
// source shares: the front ends never tell sources apart by their class.
#include "sources/opencache.h"
#include "support/cache_test_helpers.h"
#include "support/chromiumentrywriter.h"

#include <gtest/gtest.h>
#include <map>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

const fs::path kData = TARNHOLD_TEST_DATA;

TEST(CacheSource, EverySourceSaysWhatItCanDo) {
    struct TCase {
        const char* Name;
        fs::path Path;
        TCacheKind Kind;
        fs::path IndexFile; // empty: a folder of entry files
        bool Recovers;      // deleted entries on request
        bool WaitsForLock;  // a deletion waits while another program holds the cache
        bool Keyed;         // one URL under several keys
    };
    const fs::path wine = kData / "cache/wine-ie-cache/Content.IE5";
    const TCase cases[] = {
        {"index.dat", wine, TCacheKind::ckIndexDat, wine / "index.dat", true, true, false},
        {"chromium", kData / "browsers/chromium", TCacheKind::ckChromium, {}, false, false, true},
        {"firefox",
         kData / "browsers/firefox/cache2",
         TCacheKind::ckFirefox,
         {},
         false,
         false,
         true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TError error;
        auto source = OpenCacheSourceAt(c.Path, c.Kind, &error);
        ASSERT_NE(source, nullptr) << error.Text();
        EXPECT_EQ(source->Kind(), c.Kind);
        EXPECT_EQ(source->IndexFile(), c.IndexFile);
        EXPECT_EQ(source->SetRecovered(true), c.Recovers);
        EXPECT_EQ(source->SetLockWait(std::chrono::seconds(1), {}), c.WaitsForLock);
        EXPECT_EQ(source->Keys() != nullptr, c.Keyed);
    }
}

// Chromium reads every copy of a URL: the older ones are delivered on
// request, else named after the enumeration.
TEST(CacheSource, ChromiumKeysEveryCopyOfAUrl) {
    test::TTempDir dir;
    test::WriteChromiumIndex(dir.Path());
    const std::string url = "http://shared.test/logo.png";
    const std::pair<const char*, std::int64_t> sites[] = {
        {"http://a.test", 13411756800000000},
        {"http://b.test", 13411756900000000}, // the newest
        {"http://c.test", 13411756850000000},
    };
    std::map<std::string, std::string> files; // key -> entry file
    for (std::size_t i = 0; i < std::size(sites); ++i) {
        test::TChromiumEntrySpec spec;
        spec.Key = std::string("1/0/_dk_") + sites[i].first + " " + sites[i].first + " " + url;
        spec.ResponseTime = sites[i].second;
        files[spec.Key] = test::WriteChromiumEntry(dir.Path(), i + 1, spec).native();
    }
    const std::string newest = "1/0/_dk_http://b.test http://b.test " + url;
    auto source = OpenCacheSourceAt(dir.Path(), TCacheKind::ckChromium);
    ASSERT_NE(source, nullptr);
    TKeyedEntries* keys = source->Keys();
    ASSERT_NE(keys, nullptr);

    for (const bool list : {false, true}) {
        SCOPED_TRACE(list ? "older copies listed" : "newest only");
        EXPECT_TRUE(keys->SetListShadowed(list));
        std::map<std::string, bool> delivered; // key -> shadowed
        TRawCacheEntry raw;
        for (bool ok = source->First(raw); ok; ok = source->Next(raw)) {
            EXPECT_EQ(raw.Url, url);
            delivered[keys->CurrentKey()] = keys->CurrentShadowed();
        }
        source->Close();
        EXPECT_EQ(keys->CurrentKey(), "") << "none runs";
        std::map<std::string, std::string> undelivered;
        for (const TKeyedCopy& copy : keys->UndeliveredCopies()) {
            EXPECT_EQ(copy.Url, url);
            undelivered[copy.Key] = copy.FileName;
        }
        if (list) {
            EXPECT_EQ(delivered.size(), 3u);
            for (const auto& [key, shadowed] : delivered)
                EXPECT_EQ(shadowed, key != newest) << key;
            EXPECT_TRUE(undelivered.empty());
        } else {
            EXPECT_EQ(delivered, (std::map<std::string, bool>{{newest, false}}));
            std::map<std::string, std::string> older = files;
            older.erase(newest);
            EXPECT_EQ(undelivered, older);
        }
    }
}

// Firefox reads the older copies' keys only: they are named after the
// enumeration, with their entry files.
TEST(CacheSource, FirefoxKeysEveryCopyOfAUrl) {
    const fs::path cache2 = kData / "browsers/firefox/cache2";
    auto source = OpenCacheSourceAt(cache2, TCacheKind::ckFirefox);
    ASSERT_NE(source, nullptr);
    TKeyedEntries* keys = source->Keys();
    ASSERT_NE(keys, nullptr);
    EXPECT_FALSE(keys->SetListShadowed(true)) << "older copies are not read";
    std::map<std::string, std::string> delivered; // URL -> key
    TRawCacheEntry raw;
    for (bool ok = source->First(raw); ok; ok = source->Next(raw)) {
        const std::string key = keys->CurrentKey();
        EXPECT_FALSE(keys->CurrentShadowed());
        // A key ends in its URL, after the tags.
        ASSERT_GE(key.size(), raw.Url.size());
        EXPECT_EQ(key.substr(key.size() - raw.Url.size()), raw.Url) << key;
        EXPECT_TRUE(delivered.emplace(raw.Url, key).second) << "once per URL: " << raw.Url;
    }
    EXPECT_EQ(keys->CurrentKey(), "") << "past the end";
    source->Close();
    // The fixture holds one image under two keys (a page's and an anonymous
    // load's); the newer is delivered.
    const std::vector<TKeyedCopy> older = keys->UndeliveredCopies();
    ASSERT_EQ(older.size(), 1u);
    EXPECT_EQ(older[0].Url, "http://localhost:8765/img/shared.png");
    EXPECT_NE(older[0].Key, delivered[older[0].Url]);
    EXPECT_EQ(fs::path(older[0].FileName).parent_path(), cache2 / "entries");
    EXPECT_TRUE(fs::is_regular_file(older[0].FileName));
}

} // namespace
} // namespace tarnhold
