#include "sources/cachebody.h"
#include "sources/cachelocation.h"
#include "sources/chromium/chromiumcache.h"
#include "support/cache_test_helpers.h"
#include "support/chromiumentrywriter.h"
#include "tree/webcache.h"
#include "tree/webcachetree.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <unistd.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;
using test::TChromiumEntrySpec;

const fs::path kBrowsers = fs::path(TARNHOLD_TEST_DATA) / "browsers";

struct TServed {
    std::string Status, ContentType, Encoding, SiteFile;
};

// What the test server answered, by URL (chromium-manifest.tsv).
std::map<std::string, TServed> ReadManifest() {
    std::map<std::string, TServed> served;
    std::istringstream lines(test::ReadFileBytes(kBrowsers / "chromium-manifest.tsv"));
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

TEST(ChromiumCache, RealCacheHoldsWhatTheSiteServed) {
    const auto served = ReadManifest();
    ASSERT_GE(served.size(), 8u);
    TWebCache cache(std::make_unique<TChromiumCacheSource>(kBrowsers / "chromium"));
    std::map<std::string, TWebCacheEntryInfo> read;
    TWebCacheEntryInfo info;
    for (bool ok = cache.FindFirst(info); ok; ok = cache.FindNext(info))
        read[info.Url] = info;
    ASSERT_OK(cache.Error());
    auto* source = static_cast<TChromiumCacheSource*>(cache.Source());
    EXPECT_EQ(source->Counts().Damaged, 0);
    // Every checksum the browser wrote fits: the key's hash and digest, the
    // head's and the body's CRC-32.
    EXPECT_EQ(source->Counts().Mismatched, 0);
    EXPECT_FALSE(source->ReadReport().Damaged) << source->ReadReport().Summary;

    for (const auto& [url, s] : served) {
        SCOPED_TRACE(url);
        auto it = read.find(url);
        ASSERT_NE(it, read.end());
        const TWebCacheEntryInfo& e = it->second;
        EXPECT_EQ(e.HeaderInfo.Lines(0).substr(0, 12), "HTTP/1.1 " + s.Status);
        EXPECT_EQ(e.HeaderInfo.Values("Content-Type"), s.ContentType);
        EXPECT_EQ(e.ContentEncoding, s.Encoding);
        if (s.Status == "301") {
            EXPECT_TRUE(e.LocalFileName.empty());
            EXPECT_EQ(e.HeaderInfo.Values("Location"), "/index.html");
            continue;
        }
        std::string body;
        TBodyRead read;
        ASSERT_OK(ReadCacheBody(e, body, kMinDecodedLimit, &read));
        EXPECT_FALSE(read.StoredAsIs);
        EXPECT_EQ(body, test::ReadFileBytes(kBrowsers / "site-chromium" / s.SiteFile));
    }
}

TEST(ChromiumCache, KeysGiveTheirUrls) {
    struct {
        const char* Key;
        const char* Url;
        bool Upload;
    } cases[] = {
        {"1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:8765/index.html",
         "http://127.0.0.1:8765/index.html", false},
        {"1/0/_dk_s_http://a.test http://b.test http://b.test/f.html", "http://b.test/f.html",
         false},
        {"1/0/_dk_https://a.test https://a.test https://a.test/q?x=1", "https://a.test/q?x=1",
         false},
        {"_dk_https://a.test https://a.test/old.css", "https://a.test/old.css", false},
        {"http://plain.test/page.html", "http://plain.test/page.html", false},
        {"1/12/_dk_http://a.test http://a.test http://a.test/post", "http://a.test/post", true},
        {"0/0/http://nocred.test/", "http://nocred.test/", false},
    };
    for (const auto& c : cases) {
        bool upload = !c.Upload;
        EXPECT_EQ(ChromiumKeyUrl(c.Key, &upload), c.Url) << c.Key;
        EXPECT_EQ(upload, c.Upload) << c.Key;
    }
}

std::string Le32(std::uint64_t v) {
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xff);
    return out;
}

TEST(ChromiumCache, KeyHashHasKnownValues) {
    EXPECT_EQ(ChromiumKeyHash(""), 0u);
    EXPECT_EQ(ChromiumKeyHash("a"), 0x115ea782u);
    EXPECT_EQ(ChromiumKeyHash("abc"), 0xd2be198au);
    EXPECT_EQ(ChromiumKeyHash("hello world"), 0xa68c6882u);
    EXPECT_EQ(ChromiumKeyHash(
                  "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:8765/index.html"),
              0xcadf0a43u);
}

TEST(ChromiumCache, DamagedEntryFilesAreCountedNotRead) {
    TChromiumEntrySpec spec;
    spec.Body = "<html>body</html>";
    const std::string good = test::ChromiumEntryBytes(spec);
    auto patched = [&](std::size_t at, const std::string& bytes) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    const std::string huge = "\xff\xff\xff\x7f";
    const std::size_t eof0 = good.size() - 24;
    // The key's length as far as the file allows without its digest: the
    // header, the key and the two end records fit, the digest does not.
    const std::size_t size = good.size();
    struct {
        const char* Name;
        std::string Bytes;
    } cases[] = {
        {"empty", ""},
        {"cut in the key", good.substr(0, 40)},
        {"cut before its end record", good.substr(0, good.size() - 10)},
        {"wrong magic", patched(0, "XXXXXXXX")},
        {"unknown version", patched(8, std::string("\x07\0\0\0", 4))},
        {"key longer than the file", patched(12, huge)},
        {"head longer than the file", patched(eof0 + 16, huge)},
        {"no body end record", patched(24 + spec.Key.size() + spec.Body.size(), "XXXXXXXX")},
        {"key into the digest's place (31 bytes left)", patched(12, Le32(size - 103))},
        {"key into the digest's place (18 bytes left)", patched(12, Le32(size - 90))},
        {"key into the digest's place (1 byte left)", patched(12, Le32(size - 73))},
        {"key up to the digest, no room for the head", patched(12, Le32(size - 104))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TChromiumEntry entry;
        TError error = ParseChromiumEntry(c.Bytes, entry);
        EXPECT_EQ(error.Code(), EBADMSG);
        EXPECT_FALSE(error.Text().empty());
    }
    TChromiumEntry entry;
    ASSERT_OK(ParseChromiumEntry(good, entry));
    EXPECT_EQ(good.substr(entry.BodyOffset, entry.BodyLength), spec.Body);

    // In a folder: the good entry is read, the others are counted and named.
    test::TTempDir dir;
    test::WriteChromiumIndex(dir.Path());
    test::WriteChromiumEntry(dir.Path(), 1, spec);
    for (std::size_t i = 0; i < std::size(cases); ++i)
        test::WriteFileBytes(dir.Path() / test::ChromiumEntryName(10 + i), cases[i].Bytes);
    fs::create_directory(dir.Path() / test::ChromiumEntryName(99)); // no file at all
    fs::create_symlink(dir.Path() / test::ChromiumEntryName(1),
                       dir.Path() / test::ChromiumEntryName(98)); // never followed
    TChromiumCacheSource source(dir.Path());
    auto all = test::ReadAll(source);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].Url, "http://h.test/");
    EXPECT_EQ(all[0].Size, spec.Body.size());
    EXPECT_EQ(source.Counts().Damaged, static_cast<int>(std::size(cases)) + 2);
    EXPECT_EQ(source.Counts().Problems.size(), std::size(cases) + 2);
    EXPECT_NE(source.Describe().find("damaged"), std::string::npos);
    const TReadReport report = source.ReadReport();
    EXPECT_TRUE(report.Damaged);
    EXPECT_EQ(report.SkippedRecords, std::size(cases) + 2);
    EXPECT_EQ(report.Problems, source.Counts().Problems);
}

// A refresh reads one file after the other into the same buffers: each file
// is read as if it were alone, whatever the file before it held (a small
// file read whole, a large one by its two ends, a key or head that lies
// beyond them, a file that ends early).
TEST(ChromiumCache, EachEntryFileIsReadAsIfAlone) {
    auto bytes = [](std::size_t n, std::size_t bodySize, std::size_t keyPad = 0,
                    std::size_t headPad = 0) {
        TChromiumEntrySpec spec;
        spec.Key = "1/0/_dk_http://h.test http://h.test http://h.test/" + std::to_string(n) +
                   std::string(keyPad, 'k');
        spec.Body.assign(bodySize, static_cast<char>('a' + n % 26));
        spec.Head += "X-Pad: " + std::string(headPad, 'p') + "\n";
        return test::ChromiumEntryBytes(spec);
    };
    auto flipped = [](std::string b, std::size_t at) {
        b[at] = static_cast<char>(b[at] ^ 0x20);
        return b;
    };
    const std::size_t bodyAt =
        24 + std::string("1/0/_dk_http://h.test http://h.test http://h.test/").size();
    struct {
        std::string Bytes;
        const char* Problem; // empty: read without a word
    } files[] = {
        {bytes(0, 200000), ""}, // large: its two ends only
        {flipped(bytes(1, 3000), bodyAt + 1000), "the body fails its checksum"},
        {bytes(2, 100000, 6000), ""},                             // a key beyond the start
        {flipped(bytes(3, 90000, 0, 10000), bodyAt + 50000), ""}, // checked when read
        {bytes(4, 300), ""},
        {bytes(5, 70000).substr(0, 65000), "no end record"},
        {flipped(bytes(6, 80000, 0, 12000), 80000 + bodyAt + 24 + 100),
         "the response head fails its checksum"}, // a head beyond the end
        {bytes(7, 40), ""},
        {bytes(8, 0).substr(0, 60), "too short"},
        {flipped(bytes(9, 65000 - bodyAt - 200), bodyAt + 5), "the body fails its checksum"},
    };
    test::TTempDir dir;
    test::WriteChromiumIndex(dir.Path());
    std::map<std::string, std::string> expected; // by file name, in the order read
    for (std::size_t i = 0; i < std::size(files); ++i) {
        const std::string name = test::ChromiumEntryName(i);
        test::WriteFileBytes(dir.Path() / name, files[i].Bytes);
        expected[name] = files[i].Problem;
    }
    TChromiumCacheSource source(dir.Path());
    const auto all = test::ReadAll(source);
    std::vector<std::string> problems;
    int mismatched = 0, damaged = 0;
    for (const auto& [name, problem] : expected) {
        if (problem.empty())
            continue;
        problems.push_back(name + ": " + problem);
        (problem.find("checksum") != std::string::npos ? mismatched : damaged) += 1;
    }
    const auto& got = source.Counts().Problems;
    ASSERT_EQ(got.size(), problems.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i].rfind(problems[i], 0), 0u) << got[i] << " / " << problems[i];
    EXPECT_EQ(source.Counts().Mismatched, mismatched);
    EXPECT_EQ(source.Counts().Damaged, damaged);
    EXPECT_EQ(all.size(), std::size(files) - static_cast<std::size_t>(damaged));
    // What was listed is what the file holds, read alone from memory.
    for (const TRawCacheEntry& e : all) {
        const std::string file = fs::path(e.LocalFileName).filename().string();
        TChromiumEntry alone;
        ASSERT_OK(ParseChromiumEntry(test::ReadFileBytes(dir.Path() / file), alone));
        EXPECT_EQ(e.Url, alone.Url);
        EXPECT_EQ(e.HeaderBlock, alone.Head);
        EXPECT_EQ(e.BodyOffset, alone.BodyOffset);
        EXPECT_EQ(static_cast<std::uint64_t>(e.BodyLength), alone.BodyLength);
    }
}

// A byte changed under a checksum: the entry is listed as it is and the
// change reported, whichever part it hit.
// Takes a body without keeping it.
struct TCountingBody : TBodySink {
    bool Write(std::string_view piece) override {
        Bytes += piece.size();
        return true;
    }
    bool Restart() override {
        Bytes = 0;
        return true;
    }
    std::uint64_t Bytes = 0;
};

TEST(ChromiumCache, ChecksumsThatDoNotFitAreReportedAndTheEntryListed) {
    TChromiumEntrySpec spec;
    spec.Key = "1/0/_dk_http://h.test http://h.test http://h.test/index.html";
    spec.Body = "<html>the site's page</html>";
    const std::string good = test::ChromiumEntryBytes(spec);
    const std::size_t keyAt = 24, bodyAt = keyAt + spec.Key.size();
    const std::size_t headAt = bodyAt + spec.Body.size() + 24;
    auto edited = [](std::string bytes, std::size_t at, char c) {
        bytes[at] = c;
        return bytes;
    };
    auto flipped = [](std::string bytes, std::size_t at) {
        bytes[at] = static_cast<char>(bytes[at] ^ 0x10);
        return bytes;
    };
    const std::size_t hostAt = keyAt + spec.Key.rfind(' ') + 8; // "http://h.test/..."
    TChromiumEntrySpec old = spec; // before browsers wrote the key's digest
    old.KeySha256 = false;
    const std::string oldGood = test::ChromiumEntryBytes(old);
    TChromiumEntrySpec unsure = spec; // a body written out of order: no checksum
    unsure.BodyCrc = false;
    TChromiumEntrySpec big = spec; // a body read in several pieces
    big.Body.assign(2500000, 'b');
    std::string bigFlipped = test::ChromiumEntryBytes(big);
    bigFlipped[bodyAt + 2100000] = 'c';
    struct {
        const char* Name;
        std::string Bytes;
        unsigned Mismatch;
        const char* Url;
    } cases[] = {
        {"sound", good, 0, "http://h.test/index.html"},
        {"a byte of the body", edited(good, bodyAt + 9, 'T'), kChromiumBodyMismatch,
         "http://h.test/index.html"},
        {"a byte of the body past the first megabyte", bigFlipped, kChromiumBodyMismatch,
         "http://h.test/index.html"},
        {"a byte of the key", edited(good, keyAt + spec.Key.size() - 6, 'z'), kChromiumKeyMismatch,
         "http://h.test/indez.html"},
        {"a byte of the key, no digest", edited(oldGood, keyAt + spec.Key.size() - 6, 'z'),
         kChromiumKeyMismatch, "http://h.test/indez.html"},
        {"the key's hash in the header", flipped(good, 17), kChromiumKeyMismatch,
         "http://h.test/index.html"},
        {"the key's digest", flipped(good, good.size() - 24 - 32), kChromiumKeyMismatch,
         "http://h.test/index.html"},
        {"a byte of the head", edited(good, good.find("text/html", headAt) + 8, 'm'),
         kChromiumHeadMismatch, "http://h.test/index.html"},
        {"body and key", edited(edited(good, bodyAt, 'X'), hostAt, 'H'),
         kChromiumKeyMismatch | kChromiumBodyMismatch, "http://H.test/index.html"},
        {"no digest, sound", oldGood, 0, "http://h.test/index.html"},
        {"no body checksum to check", edited(test::ChromiumEntryBytes(unsure), bodyAt, 'X'), 0,
         "http://h.test/index.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TChromiumEntry entry;
        ASSERT_OK(ParseChromiumEntry(c.Bytes, entry));
        EXPECT_EQ(entry.Mismatch, c.Mismatch);
        EXPECT_EQ(entry.Url, c.Url);

        test::TTempDir dir;
        test::WriteChromiumIndex(dir.Path());
        test::WriteFileBytes(dir.Path() / test::ChromiumEntryName(1), c.Bytes);
        TWebCache cache(std::make_unique<TChromiumCacheSource>(dir.Path()));
        TWebCacheEntryInfo info;
        ASSERT_TRUE(cache.FindFirst(info));
        EXPECT_EQ(info.Url, c.Url);
        EXPECT_FALSE(cache.FindNext(info));
        // A refresh checks small bodies; a large one is checked when it is
        // read whole (a copy), and said to be damaged then.
        const bool large = c.Bytes.size() > 64 * 1024;
        const unsigned atRefresh = large ? c.Mismatch & ~kChromiumBodyMismatch : c.Mismatch;
        TCountingBody body;
        TBodyRead read;
        ASSERT_OK(StreamCacheBody(info, body, &read));
        EXPECT_EQ(read.ChecksumFailed, large && (c.Mismatch & kChromiumBodyMismatch) != 0);
        const TReadReport report = cache.Source()->ReadReport();
        EXPECT_EQ(report.Damaged, atRefresh != 0);
        EXPECT_EQ(report.SkippedRecords, 0u);
        if (atRefresh == 0)
            continue;
        const std::string why = ChromiumMismatchText(atRefresh);
        EXPECT_NE(why.find("checksum"), std::string::npos) << why;
        EXPECT_NE(report.Summary.find("1 read despite a checksum that does not fit"),
                  std::string::npos)
            << report.Summary;
        EXPECT_NE(report.Summary.find(test::ChromiumEntryName(1) + ": " + why), std::string::npos)
            << report.Summary;
        ASSERT_EQ(report.Problems.size(), 1u);
    }
    EXPECT_EQ(ChromiumMismatchText(kChromiumBodyMismatch), "the body fails its checksum");
    EXPECT_EQ(
        ChromiumMismatchText(kChromiumKeyMismatch | kChromiumHeadMismatch | kChromiumBodyMismatch),
        "the key, the response head and the body fail their checksums");
}

// An entry file whose key names nothing the tree can hold is passed over,
// counted and named, never dropped in silence.
TEST(ChromiumCache, EntriesWhoseKeyNamesNothingAreNamed) {
    auto bytes = [](const std::string& key) {
        TChromiumEntrySpec spec;
        spec.Key = key;
        spec.Body = "body";
        return test::ChromiumEntryBytes(spec);
    };
    std::string damagedUpload = bytes("1/0/_dk_http://a.test http://a.test http://a.test/p");
    damagedUpload[24 + 2] = '7'; // "1/7/": an upload id, and the key's checksum fails
    struct {
        const char* Name;
        std::string Bytes;
        const char* Why;
    } cases[] = {
        {"an empty key", bytes(""), "the key is empty"},
        {"no listable scheme", bytes("1/0/_dk_http://a.test http://a.test hutp://a.test/"),
         "names no address that can be listed (1/0/_dk_http://a.test http://a.test "
         "hutp://a.test/)"},
        {"the key of an upload that fails its checksum", damagedUpload,
         "the answer to a POST request"},
        {"a long key is cut in the report", bytes(std::string(300, 'k')), "kkk...)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        test::WriteChromiumIndex(dir.Path());
        test::WriteChromiumEntry(dir.Path(), 1, {});
        test::WriteFileBytes(dir.Path() / test::ChromiumEntryName(2), c.Bytes);
        TWebCacheTree tree(std::make_unique<TChromiumCacheSource>(dir.Path()));
        tree.MimeTypesFile = "/nonexistent";
        tree.LoadContentTypes();
        EXPECT_OK(tree.Refresh());
        EXPECT_EQ(tree.CountEntries(), 1);
        const TReadReport report = tree.Cache().Source()->ReadReport();
        EXPECT_TRUE(report.Damaged);
        EXPECT_EQ(report.SkippedRecords, 1u);
        EXPECT_NE(report.Summary.find("1 of 2 entry files could not be read"), std::string::npos)
            << report.Summary;
        EXPECT_NE(report.Summary.find(test::ChromiumEntryName(2) + ": "), std::string::npos)
            << report.Summary;
        EXPECT_NE(report.Summary.find(c.Why), std::string::npos) << report.Summary;
        EXPECT_LT(report.Summary.size(), 400u);
    }
}

TEST(ChromiumCache, ReadReportSaysWhatWasLostNotWhatWasLeftOut) {
    auto spec = [](const std::string& site, const std::string& path, bool truncated = false) {
        TChromiumEntrySpec s;
        s.Key = "1/0/_dk_" + site + " " + site + " " + site + path;
        s.Body = "body of " + path;
        s.Truncated = truncated;
        return s;
    };
    const std::string good = test::ChromiumEntryBytes(spec("http://a.test", "/"));
    TChromiumEntrySpec post = spec("http://a.test", "/post");
    post.Key = "1/12/_dk_http://a.test http://a.test http://a.test/post";
    struct {
        const char* Name;
        std::vector<std::string> Files; // written as entry files 1, 2, ...
        bool Damaged;
        std::size_t Skipped;
        std::vector<std::string> SummaryHas;
    } cases[] = {
        {"sound", {good, test::ChromiumEntryBytes(spec("http://a.test", "/b"))}, false, 0, {}},
        {"older copy under another site and an upload: left out, not lost",
         {good, test::ChromiumEntryBytes(spec("http://b.test", "/")),
          test::ChromiumEntryBytes(post)},
         false,
         0,
         {}},
        {"an entry file cut short",
         {good, good.substr(0, good.size() - 10)},
         true,
         1,
         {"damaged: 1 of 2 entry files could not be read", test::ChromiumEntryName(2) + ": ",
          "; 1 entry read"}},
        {"a body stored in part",
         {good, test::ChromiumEntryBytes(spec("http://a.test", "/big.png", true))},
         true,
         0,
         {"damaged: 1 with only part of the body stored (" + test::ChromiumEntryName(2) +
              ": the body is stored only in part)",
          "; 2 entries read"}},
        {"both",
         {"", test::ChromiumEntryBytes(spec("http://a.test", "/c", true))},
         true,
         1,
         {"1 of 2 entry files could not be read, 1 with only part"}},
        {"more than the summary names",
         {"", "", "", "", "", good},
         true,
         5,
         {"5 of 6 entry files could not be read (", ": too short for an entry file; ",
          "; and 2 more); 1 entry read"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        test::WriteChromiumIndex(dir.Path());
        for (std::size_t i = 0; i < c.Files.size(); ++i)
            test::WriteFileBytes(dir.Path() / test::ChromiumEntryName(i + 1), c.Files[i]);
        TChromiumCacheSource source(dir.Path());
        (void)test::ReadAll(source);
        const TReadReport report = source.ReadReport();
        EXPECT_EQ(report.Damaged, c.Damaged);
        EXPECT_EQ(report.SkippedRecords, c.Skipped);
        EXPECT_EQ(report.Summary.empty(), !c.Damaged) << report.Summary;
        EXPECT_EQ(report.Summary.find('\n'), std::string::npos) << report.Summary;
        for (const std::string& part : c.SummaryHas)
            EXPECT_NE(report.Summary.find(part), std::string::npos) << report.Summary;
    }
}

TEST(ChromiumCache, OneEntryPerUrlTheNewestAndTheOthersOnRequest) {
    test::TTempDir dir;
    test::WriteChromiumIndex(dir.Path());
    auto put = [&](std::size_t n, const std::string& site, std::int64_t time, std::string body) {
        TChromiumEntrySpec spec;
        spec.Key = "1/0/_dk_" + site + " " + site + " http://shared.test/logo.png";
        spec.ResponseTime = time;
        spec.Body = std::move(body);
        test::WriteChromiumEntry(dir.Path(), n, spec);
    };
    put(1, "http://a.test", 13411756800000000, "old");
    put(2, "http://b.test", 13411756900000000, "newest");
    put(3, "http://c.test", 13411756850000000, "middle");
    TChromiumCacheSource source(dir.Path());
    auto shown = test::ReadAll(source);
    ASSERT_EQ(shown.size(), 1u);
    TWebCacheEntryInfo info;
    FillEntryInfo(shown[0], info);
    std::string body;
    ASSERT_OK(ReadCacheBody(info, body));
    EXPECT_EQ(body, "newest");
    EXPECT_EQ(source.Counts().Shadowed, 2);

    source.SetListShadowed(true);
    std::vector<std::pair<std::string, bool>> keys;
    TRawCacheEntry raw;
    for (bool ok = source.First(raw); ok; ok = source.Next(raw))
        keys.emplace_back(source.CurrentKey(), source.CurrentShadowed());
    ASSERT_EQ(keys.size(), 3u);
    int hidden = 0;
    for (const auto& [key, shadowed] : keys) {
        hidden += shadowed ? 1 : 0;
        EXPECT_EQ(!shadowed, key.find("b.test") != std::string::npos) << key;
    }
    EXPECT_EQ(hidden, 2);
}

TEST(ChromiumCache, DeletionRemovesEveryFileOfTheUrlUnlessTheBrowserRuns) {
    test::TTempDir dir;
    const fs::path data = dir.Path() / "Default" / "Cache" / "Cache_Data";
    fs::create_directories(data);
    test::WriteChromiumIndex(data);
    TChromiumEntrySpec gone, kept;
    gone.Key = "1/0/_dk_http://a.test http://a.test http://a.test/gone.html";
    kept.Key = "1/0/_dk_http://a.test http://a.test http://a.test/kept.html";
    const fs::path goneFile = test::WriteChromiumEntry(data, 1, gone);
    gone.Key = "1/0/_dk_http://b.test http://b.test http://a.test/gone.html";
    const fs::path goneFile2 = test::WriteChromiumEntry(data, 2, gone);
    const fs::path keptFile = test::WriteChromiumEntry(data, 3, kept);
    const std::string stem = goneFile.filename().string().substr(0, 16);
    test::WriteFileBytes(data / (stem + "_1"), "stream 2");
    test::WriteFileBytes(data / (stem + "_s"), "sparse");

    TChromiumCacheSource source(data);
    ASSERT_EQ(test::ReadAll(source).size(), 2u);

    // A running browser's profile lock (this process stands in for it).
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    fs::create_symlink(std::string(host) + "-" + std::to_string(::getpid()),
                       dir.Path() / "SingletonLock");
    TError busy = source.DeleteEntry("http://a.test/gone.html");
    EXPECT_EQ(busy.Code(), EBUSY);
    EXPECT_NE(busy.Text().find("SingletonLock"), std::string::npos) << busy.Text();
    EXPECT_TRUE(fs::exists(goneFile));

    // A lock left by a browser that is gone holds nothing.
    fs::remove(dir.Path() / "SingletonLock");
    fs::create_symlink(std::string(host) + "-999999999", dir.Path() / "SingletonLock");
    ASSERT_OK(source.DeleteEntry("http://a.test/gone.html"));
    EXPECT_FALSE(fs::exists(goneFile));
    EXPECT_FALSE(fs::exists(goneFile2));
    EXPECT_FALSE(fs::exists(data / (stem + "_1")));
    EXPECT_FALSE(fs::exists(data / (stem + "_s")));
    EXPECT_TRUE(fs::exists(keptFile));
    EXPECT_TRUE(fs::exists(data / "index"));
    EXPECT_EQ(source.DeleteEntry("http://a.test/gone.html").Code(), ENOENT);
    auto left = test::ReadAll(source);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].Url, "http://a.test/kept.html");
}

TEST(ChromiumCache, BrowserCachesAreFoundInTheirPlaces) {
    test::TTempDir home;
    const fs::path h = home.Path();
    struct {
        const char* Folder; // below home
        TCacheKind Kind;
    } places[] = {
        {".cache/chromium/Default/Cache/Cache_Data", TCacheKind::ckChromium},
        {".cache/chromium/Profile 1/Cache/Cache_Data", TCacheKind::ckChromium},
        {".cache/google-chrome/Default/Cache/Cache_Data", TCacheKind::ckChromium},
        {".cache/BraveSoftware/Brave-Browser/Default/Cache/Cache_Data", TCacheKind::ckChromium},
        {"snap/chromium/common/.cache/chromium/Default/Cache/Cache_Data", TCacheKind::ckChromium},
        {".var/app/org.chromium.Chromium/cache/chromium/Default/Cache/Cache_Data",
         TCacheKind::ckChromium},
        {".cache/mozilla/firefox/abc.default-esr/cache2", TCacheKind::ckFirefox},
        {".mozilla/firefox/def.default/cache2", TCacheKind::ckFirefox},
        {"snap/firefox/common/.cache/mozilla/firefox/x.default/cache2", TCacheKind::ckFirefox},
        {".var/app/org.mozilla.firefox/.mozilla/firefox/y.default/cache2", TCacheKind::ckFirefox},
    };
    for (const auto& p : places) {
        fs::create_directories(h / p.Folder);
        if (p.Kind == TCacheKind::ckChromium)
            test::WriteChromiumIndex(h / p.Folder);
        else
            fs::create_directories(h / p.Folder / "entries");
    }
    // Not caches: a Cache_Data without the cache's index, a cache2 without entries.
    fs::create_directories(h / ".cache/chromium/Broken/Cache/Cache_Data");
    fs::create_directories(h / ".cache/mozilla/firefox/empty.default/cache2");

    const std::string homeText = h.string();
    auto env = [&](const char* name) -> const char* {
        return std::string_view(name) == "HOME" ? homeText.c_str() : nullptr;
    };
    const std::vector<TFoundCache> found = FindBrowserCaches(env);
    ASSERT_EQ(found.size(), std::size(places));
    for (const auto& p : places) {
        SCOPED_TRACE(p.Folder);
        auto it = std::find_if(found.begin(), found.end(),
                               [&](const TFoundCache& f) { return f.Folder == h / p.Folder; });
        ASSERT_NE(it, found.end());
        EXPECT_EQ(it->Kind, p.Kind);
    }
    // The default profile comes before the others.
    EXPECT_EQ(found[0].Folder, h / places[0].Folder);

    // A browser's cache named by itself or by a folder above it.
    struct {
        fs::path Named;
        fs::path Read;
        TCacheKind Kind;
    } named[] = {
        {h / places[0].Folder, h / places[0].Folder, TCacheKind::ckChromium},
        {h / ".cache/chromium/Default/Cache", h / places[0].Folder, TCacheKind::ckChromium},
        {h / ".cache/chromium/Default", h / places[0].Folder, TCacheKind::ckChromium},
        {h / ".mozilla/firefox/def.default", h / places[7].Folder, TCacheKind::ckFirefox},
    };
    for (const auto& n : named) {
        SCOPED_TRACE(n.Named);
        fs::path folder;
        auto kind = DetectBrowserCache(n.Named, &folder);
        ASSERT_TRUE(kind.has_value());
        EXPECT_EQ(*kind, n.Kind);
        EXPECT_EQ(folder, n.Read);
        TCacheLocation where = LocateCache(n.Named, "/nowhere", env);
        EXPECT_EQ(where.Kind, n.Kind);
        EXPECT_EQ(where.Path, n.Read);
    }
    EXPECT_FALSE(DetectBrowserCache(h / ".cache/chromium/Broken").has_value());
}

} // namespace
} // namespace tarnhold
