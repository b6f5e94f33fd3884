// Reading index.dat files: a real cache written by Wine's WinINet, checked
// entry by entry against what WinINet's own enumeration returned for it, and
// damaged files.
#include "sources/indexdat/indexdatdeleter.h"
#include "sources/indexdat/indexdatsource.h"
#include "support/cache_test_helpers.h"

#include <algorithm>
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

// Wine writes URLs that are not ASCII as raw UTF-8. They arrive as ANSI text
// like every other URL (a UTF-8 trail byte 0x9E before "/" would otherwise
// swallow the "/" as a double-byte character), and deleting by that text
// finds them.
TEST(IndexDatSource, Utf8UrlsArriveAsAnsiText) {
    const std::string nihongoUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"; // three kanji
    const std::string nihongoAnsi = "\x93\xFA\x96\x7B\x8C\xEA";
    struct TCase {
        const char* name;
        TIndexDatSignature signature;
        std::string url;
        std::string expected;
        std::string header, expectedHeader;
    };
    const TCase cases[] = {
        {"Wine, kanji folder", TIndexDatSignature::Wine, "http://h.test/" + nihongoUtf8 + "/p.html",
         "http://h.test/" + nihongoAnsi + "/p.html", "X-Title: " + nihongoUtf8,
         "X-Title: " + nihongoAnsi},
        {"Internet Explorer's signature, UTF-8 all the same", TIndexDatSignature::Microsoft,
         "http://h.test/" + nihongoUtf8 + ".html", "http://h.test/" + nihongoAnsi + ".html",
         "X-A: b", "X-A: b"},
        {"a character the code page lacks is %-escaped", TIndexDatSignature::Wine,
         "http://h.test/caf\xC3\xA9.html", "http://h.test/caf%C3%A9.html", "", ""},
        {"ANSI bytes that are no UTF-8 stay", TIndexDatSignature::Microsoft,
         "http://h.test/" + nihongoAnsi + ".html", "http://h.test/" + nihongoAnsi + ".html", "",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TTempDir tmp;
        auto image = TIndexDatWriter::Create(c.signature, {"AAAAAAAA"});
        ASSERT_OK(image.AddEntry(test::MakeEntry(c.url, "p.htm", 0, 1, c.header)));
        ASSERT_OK(image.AddEntry(test::MakeEntry("http://h.test/plain.html", "q.htm", 0, 1)));
        test::WriteFileBytes(tmp.Path() / "index.dat", image.Bytes());

        TIndexDatSource source(tmp.Path());
        auto entries = ReadAll(source);
        ASSERT_EQ(entries.size(), 2u);
        auto it = std::find_if(entries.begin(), entries.end(),
                               [](const auto& e) { return e.Url != "http://h.test/plain.html"; });
        ASSERT_NE(it, entries.end());
        EXPECT_EQ(it->Url, c.expected);
        EXPECT_EQ(it->HeaderBlock, c.expectedHeader);

        EXPECT_OK(source.DeleteEntry(c.expected));
        entries = ReadAll(source);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].Url, "http://h.test/plain.html");
    }
}

} // namespace
} // namespace tarnhold
