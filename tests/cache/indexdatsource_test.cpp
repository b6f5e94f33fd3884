// Reading index.dat files: a real cache written by Wine's WinINet, checked
// entry by entry against what WinINet's own enumeration returned for it, and
// damaged files.
#include "cache/indexdatsource.h"
#include "cache_test_helpers.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

using test::ExpectMatchesOracle;
using test::ReadAll;

TEST(IndexDatSource, WineCacheMatchesWinInetEnumeration) {
    ExpectMatchesOracle(test::CacheTestData() / "wine-ie-cache/Content.IE5",
                        test::CacheTestData() / "wine-ie-cache/oracle.jsonl");
}

TEST(IndexDatSource, OpensTheFileOrItsFolder) {
    const fs::path folder = test::CacheTestData() / "wine-ie-cache/Content.IE5";
    TIndexDatSource byFolder(folder), byFile(folder / "index.dat");
    EXPECT_EQ(byFolder.IndexFile(), folder / "index.dat");
    EXPECT_EQ(byFolder.Describe(), (folder / "index.dat").string());
    EXPECT_EQ(ReadAll(byFile).size(), 35u);
}

TEST(IndexDatSource, MissingFileFailsWithItsError) {
    TIndexDatSource source(fs::path("/nonexistent/index.dat"));
    TRawCacheEntry e;
    EXPECT_FALSE(source.First(e));
    EXPECT_EQ(source.Error().Code(), ENOENT);
    EXPECT_FALSE(source.Next(e));
    source.Close();
}

} // namespace
} // namespace tarnhold
