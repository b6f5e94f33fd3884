// Reading index.dat files: a real cache written by Wine's WinINet, checked
// entry by entry against what WinINet's own enumeration returned for it, and
// damaged files.
#include "cache/indexdatsource.h"
#include "cache_test_helpers.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

std::vector<TRawCacheEntry> ReadAll(TCacheSource& source) {
    std::vector<TRawCacheEntry> out;
    TRawCacheEntry e;
    for (bool ok = source.First(e); ok; ok = source.Next(e))
        out.push_back(e);
    source.Close();
    return out;
}

std::string StripNuls(std::string s) {
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

void ExpectMatchesOracle(const fs::path& container, const fs::path& oracleFile) {
    TIndexDatSource source(container);
    const auto entries = ReadAll(source);
    const auto oracle = test::ReadOracle(oracleFile);
    ASSERT_EQ(entries.size(), oracle.size());
    for (std::size_t i = 0; i < oracle.size(); ++i) {
        const auto& o = oracle[i];
        const auto& e = entries[i];
        const std::string url = *o.at("url");
        SCOPED_TRACE("entry " + std::to_string(i + 1) + " " + url);
        EXPECT_EQ(e.Url, url);
        const std::string local = test::OracleLocalFile(o);
        EXPECT_EQ(e.LocalFileName, local.empty() ? fs::path() : container / local);
        EXPECT_EQ(e.EntryType, std::stoul(*o.at("type"), nullptr, 16));
        EXPECT_EQ(e.LastModified.dwHighDateTime,
                  std::stoul(*o.at("last_modified_hi"), nullptr, 16));
        EXPECT_EQ(e.LastModified.dwLowDateTime, std::stoul(*o.at("last_modified_lo"), nullptr, 16));
        EXPECT_EQ(e.Size, std::stoull(*o.at("size_low")) + (std::stoull(*o.at("size_high")) << 32));
        EXPECT_EQ(e.HeaderBlock, StripNuls(o.at("headers").value_or("")));
        EXPECT_EQ(e.FileExtension, o.at("ext").value_or(""));
        if (!e.LocalFileName.empty()) {
            EXPECT_TRUE(fs::exists(e.LocalFileName));
        }
    }
}

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
    EXPECT_EQ(source.LastError(), ENOENT);
    EXPECT_FALSE(source.Next(e));
    source.Close();
}

} // namespace
} // namespace tarnhold
