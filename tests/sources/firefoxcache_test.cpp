// Reading Firefox's disk cache: a real cache2 folder that firefox-esr wrote
// while it loaded a small site (tests/data/browsers/make-firefox-cache.sh),
// compared with what the site served, and synthetic entry files, damaged and
// hostile ones among them.
#include "sources/cachebody.h"
#include "sources/firefox/firefoxcache.h"
#include "support/cache_test_helpers.h"
#include "support/firefoxentrywriter.h"
#include "tree/webcache.h"
#include "tree/webcachetree.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::ReadFileBytes;
using test::TFirefoxEntrySpec;
using test::TTempDir;
using test::WriteFirefoxEntry;

fs::path BrowserData() {
    return fs::path(TARNHOLD_TEST_DATA) / "browsers";
}

struct TServed {
    std::string Status, ContentType, Encoding, SiteFile;
};

std::map<std::string, TServed> ReadManifest() {
    std::map<std::string, TServed> out;
    std::istringstream in(ReadFileBytes(BrowserData() / "firefox/manifest.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::size_t at = 0;
        for (std::size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
            f.push_back(line.substr(at, tab - at));
        f.push_back(line.substr(at));
        if (f.size() == 5)
            out[f[0]] = {f[1], f[2], f[3], f[4]};
    }
    return out;
}

std::string Body(const TRawCacheEntry& e) {
    return ReadFileBytes(e.LocalFileName).substr(0, e.Size);
}

TEST(FirefoxHash, KnownValues) {
    EXPECT_EQ(FirefoxHash(""), 0xbd49d10dU);
    EXPECT_EQ(FirefoxHash("abc"), 0x251e4793U);
}

// Hashes taken two at a time side by side are each piece's own hash,
// whichever of two pieces is longer, up to the last block and its odd bytes.
TEST(FirefoxHash, HashesSideBySideAreEachPiecesOwn) {
    std::string data(70000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 % 251);
    const std::string_view all(data);
    const std::size_t sizes[] = {0, 1, 11, 12, 13, 23, 24, 25, 100, 4097, 65535, 70000};
    std::vector<std::string_view> pieces;
    for (const std::size_t x : sizes) {
        for (const std::size_t y : sizes) {
            pieces.push_back(all.substr(0, x));
            pieces.push_back(all.substr(all.size() - y));
        }
    }
    pieces.push_back(all.substr(3, 5000)); // an odd one at the end
    std::vector<std::uint32_t> hashes(pieces.size());
    FirefoxHashEach(pieces, hashes);
    for (std::size_t i = 0; i < pieces.size(); ++i)
        EXPECT_EQ(hashes[i], FirefoxHash(pieces[i])) << i << ": " << pieces[i].size() << " bytes";
    // One piece, or none.
    FirefoxHashEach(std::span(pieces).first(1), std::span(hashes).first(1));
    EXPECT_EQ(hashes[0], FirefoxHash(pieces[0]));
    FirefoxHashEach({}, {});
}

// Every entry Firefox stored is one the site served, with its status,
// type and body; the image fetched under two partitions comes once.
TEST(FirefoxCacheSource, RealCacheMatchesWhatTheSiteServed) {
    const auto served = ReadManifest();
    ASSERT_FALSE(served.empty());
    TFirefoxCacheSource source(BrowserData() / "firefox/cache2");
    const auto entries = ReadAll(source);
    EXPECT_OK(source.Error());
    const TFirefoxCacheCounts& c = source.Counts();
    EXPECT_EQ(c.Files, 14u);
    EXPECT_EQ(c.Entries, 13u);
    EXPECT_EQ(c.Duplicates, 1u);
    EXPECT_EQ(c.Damaged + c.HashMismatch + c.Unreadable + c.Encrypted + c.Partial, 0u);
    EXPECT_TRUE(source.Problems().empty());
    ASSERT_EQ(entries.size(), 13u);

    std::map<std::string, int> seen;
    for (const auto& e : entries) {
        SCOPED_TRACE(e.Url);
        ++seen[e.Url];
        ASSERT_TRUE(served.count(e.Url));
        const TServed& s = served.at(e.Url);
        EXPECT_EQ(e.HeaderBlock.rfind("HTTP/1.1 " + s.Status + " ", 0), 0u);
        EXPECT_EQ(FirefoxHeaderValue(e.HeaderBlock, "content-type"), s.ContentType);
        EXPECT_EQ(FirefoxHeaderValue(e.HeaderBlock, "Content-Encoding"), s.Encoding);
        EXPECT_EQ(e.EntryType, NORMAL_CACHE_ENTRY);
        // The time is the document's Last-Modified, which the site sends alike.
        EXPECT_EQ(FileTimeToU64(e.LastModified), FileTimeToU64(UnixTimeToFileTime(1796119200)));
        EXPECT_EQ(e.ContentEncoding, s.Encoding);
        EXPECT_EQ(e.BodyOffset, 0u);
        EXPECT_EQ(e.BodyLength, static_cast<std::int64_t>(e.Size));
        // The body as the program reads it: decoded, byte for byte the site's.
        TWebCacheEntryInfo info;
        FillEntryInfo(e, info);
        std::string body;
        TBodyRead read;
        EXPECT_OK(ReadCacheBody(info, body, std::numeric_limits<std::uint64_t>::max(), &read));
        EXPECT_FALSE(read.StoredAsIs);
        EXPECT_EQ(body, ReadFileBytes(BrowserData() / "site-firefox" / s.SiteFile));
        if (!s.Encoding.empty()) {
            EXPECT_NE(Body(e), body); // stored encoded
        }
    }
    for (const auto& [url, n] : seen)
        EXPECT_EQ(n, 1) << url;
    // Not in cache2: Firefox keeps no disk entry for the redirect.
    EXPECT_EQ(seen.size() + 1, served.size());

    // The shared image of the localhost partition is the newer one; the
    // anonymous load under 127.0.0.1's partition is kept with its key.
    const std::string shared = "http://localhost:8765/img/shared.png";
    std::vector<TFirefoxKeyedEntry> keyed;
    for (const auto& k : source.KeyedEntries())
        if (k.Url == shared)
            keyed.push_back(k);
    ASSERT_EQ(keyed.size(), 2u);
    for (const auto& k : keyed) {
        const bool anonymous = k.Key.find(",a,:") != std::string::npos;
        EXPECT_EQ(k.Delivered, !anonymous) << k.Key;
    }
}

TEST(FirefoxCacheSource, RefreshesATree) {
    TWebCacheTree tree(std::make_unique<TFirefoxCacheSource>(BrowserData() / "firefox/cache2"));
    tree.MimeTypesFile = "/nonexistent";
    tree.LoadContentTypes();
    EXPECT_EQ(tree.CountEntries(), 13);
    tree.Build();
    EXPECT_GE(tree.Root()->Count(), 1);
}

TEST(HttpDate, ReadsTheFormServersSend) {
    struct TCase {
        const char* text;
        bool ok;
        std::int64_t seconds;
    };
    const TCase cases[] = {
        {"Tue, 01 Dec 2026 10:00:00 GMT", true, 1796119200},
        {"  Thu, 01 Jan 1970 00:00:00 GMT ", true, 0},
        {"Tue, 29 Feb 2000 23:59:59 GMT", true, 951868799},
        {"Tue, 01 Dec 2026 10:00:00 UTC", false, 0},
        {"Tue, 01 Dek 2026 10:00:00 GMT", false, 0},
        {"Tuesday, 01-Dec-26 10:00:00 GMT", false, 0},
        {"Tue, 01 Dec 2026 25:00:00 GMT", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::int64_t seconds = -1;
        ASSERT_EQ(ParseHttpDate(c.text, seconds), c.ok);
        if (c.ok) {
            EXPECT_EQ(seconds, c.seconds);
        }
    }
}

TEST(FirefoxKey, SplitsTagsFromTheUrl) {
    struct TCase {
        const char* name;
        std::string key;
        bool ok;
        std::string tags, url;
        bool anonymous, enhanced;
    };
    const TCase cases[] = {
        {"no tags", ":http://h.test/a", true, "", "http://h.test/a", false, false},
        {"partition", "O^partitionKey=%28http%2Clocalhost%29,:http://h.test/", true,
         "O^partitionKey=%28http%2Clocalhost%29,", "http://h.test/", false, false},
        {"anonymous", "O^partitionKey=%28http%2C127.0.0.1%29,a,:http://h.test/p.png", true,
         "O^partitionKey=%28http%2C127.0.0.1%29,a,", "http://h.test/p.png", true, false},
        {"doubled comma in a value", "O^firstPartyDomain=x,,a,:http://h.test/", true,
         "O^firstPartyDomain=x,,a,", "http://h.test/", false, false},
        {"post id", "~1699,:http://h.test/form", true, "~1699,", "http://h.test/form", false, true},
        {"colon inside a value", "O^k=a:b,:http://h.test/", true, "O^k=a:b,", "http://h.test/",
         false, false},
        {"no url", "O^partitionKey=x", false, "", "", false, false},
        {"empty", "", false, "", "", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TFirefoxEntry e;
        ASSERT_EQ(SplitFirefoxKey(c.key, e), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(e.Tags, c.tags);
        EXPECT_EQ(e.Url, c.url);
        EXPECT_EQ(e.Anonymous, c.anonymous);
        EXPECT_EQ(e.Enhanced, c.enhanced);
    }
}

std::string Be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

// Entry files as they come and as they break: what the parser makes of
// each, read from the whole file.
TEST(FirefoxEntry, ParsesSoundAndDamagedFiles) {
    TFirefoxEntrySpec plain;
    plain.Key = "O^partitionKey=%28http%2Ch.test%29,:http://h.test/a.html";
    plain.Body = "<html>body</html>";
    const std::string sound = test::FirefoxEntryBytes(plain);
    const std::size_t bodyLength = plain.Body.size();
    auto edited = [&](auto edit) {
        std::string b = sound;
        edit(b);
        return b;
    };
    TFirefoxEntrySpec alt = plain;
    alt.MoreElements = {{"alt-data", "1;6,javascript/moz-script-bytecode"}};
    TFirefoxEntrySpec badAlt = plain;
    badAlt.MoreElements = {{"alt-data", "1;999,x"}};
    TFirefoxEntrySpec encrypted = plain;
    encrypted.Encrypted = true;
    TFirefoxEntrySpec big = plain;
    big.Body.assign(600000, 'x'); // three chunk hashes
    const std::string head = "HTTP/1.1 200 OK";
    const std::size_t headAt = sound.find(head);

    struct TCase {
        const char* name;
        std::string bytes;
        TFirefoxEntryStatus status;
        std::uint64_t body = 0;
        bool hashMismatch = false;
    };
    const TCase cases[] = {
        {"sound", sound, TFirefoxEntryStatus::Ok, bodyLength},
        {"three chunks", test::FirefoxEntryBytes(big), TFirefoxEntryStatus::Ok, 600000},
        {"alternative data cut off", test::FirefoxEntryBytes(alt), TFirefoxEntryStatus::Ok, 6},
        {"alt-data beyond the data", test::FirefoxEntryBytes(badAlt), TFirefoxEntryStatus::Damaged},
        {"encrypted", test::FirefoxEntryBytes(encrypted), TFirefoxEntryStatus::Encrypted},
        {"changed head", edited([&](std::string& b) { b[headAt + 9] = '3'; }),
         TFirefoxEntryStatus::Ok, bodyLength, true},
        {"older trailer (offset only)",
         edited([&](std::string& b) { b.resize(b.size() - 8), b += Be32(bodyLength); }),
         TFirefoxEntryStatus::Ok, bodyLength},
        {"offset beyond the file",
         edited([&](std::string& b) { b.replace(b.size() - 4, 4, Be32(0x7ffffff0)); }),
         TFirefoxEntryStatus::Damaged},
        {"offset into the metadata",
         edited([&](std::string& b) { b.replace(b.size() - 4, 4, Be32(bodyLength + 20)); }),
         TFirefoxEntryStatus::Damaged},
        {"key longer than the metadata",
         edited([&](std::string& b) { b.replace(bodyLength + 4 + 2 + 24, 4, Be32(1u << 30)); }),
         TFirefoxEntryStatus::Damaged},
        {"element name without its value",
         edited([&](std::string& b) { b.insert(b.size() - 8, std::string("tail\0", 5)); }),
         TFirefoxEntryStatus::Damaged},
        {"elements not ended", edited([&](std::string& b) { b[b.size() - 9] = 'x'; }),
         TFirefoxEntryStatus::Damaged},
        {"cut short", sound.substr(0, sound.size() - 3), TFirefoxEntryStatus::Damaged},
        {"tiny", "abc", TFirefoxEntryStatus::Damaged},
        {"empty", "", TFirefoxEntryStatus::Damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TFirefoxEntry e;
        ASSERT_EQ(ParseFirefoxEntry(c.bytes.size(), c.bytes, e), c.status);
        if (c.status != TFirefoxEntryStatus::Ok)
            continue;
        EXPECT_EQ(e.BodyLength, c.body);
        EXPECT_EQ(e.HashMismatch, c.hashMismatch);
        EXPECT_EQ(e.Url, "http://h.test/a.html");
        EXPECT_EQ(e.LastModified, plain.LastModified);
        EXPECT_EQ(e.ResponseHead.rfind("HTTP/1.1 ", 0), 0u);
    }
}

// A reader that has only the last bytes is told how many it needs.
TEST(FirefoxEntry, AsksForTheMetadataItNeeds) {
    TFirefoxEntrySpec spec;
    spec.Body.assign(5000, 'b');
    const std::string bytes = test::FirefoxEntryBytes(spec);
    TFirefoxEntry e;
    std::size_t need = 0;
    EXPECT_EQ(
        ParseFirefoxEntry(bytes.size(), std::string_view(bytes).substr(bytes.size() - 8), e, &need),
        TFirefoxEntryStatus::Damaged);
    EXPECT_EQ(need, bytes.size() - 5000);
    EXPECT_EQ(ParseFirefoxEntry(bytes.size(), std::string_view(bytes).substr(5000), e, &need),
              TFirefoxEntryStatus::Ok);
}

// A folder of synthetic entries: what is delivered and what is counted.
TEST(FirefoxCacheSource, CountsWhatItDoesNotDeliver) {
    TTempDir tmp;
    const fs::path cache2 = tmp.Path() / "cache2";
    TFirefoxEntrySpec page;
    page.Key = ":http://h.test/page.html";
    page.Body = "page";
    WriteFirefoxEntry(cache2, 1, page);
    TFirefoxEntrySpec older = page;
    older.Key = "O^partitionKey=%28http%2Co.test%29,:http://h.test/page.html";
    older.LastModified -= 100;
    older.Body = "older page";
    WriteFirefoxEntry(cache2, 2, older);
    TFirefoxEntrySpec post = page;
    post.Key = "~17,:http://h.test/form";
    WriteFirefoxEntry(cache2, 3, post);
    TFirefoxEntrySpec other = page;
    other.Key = "predictor-origin:http://h.test/";
    WriteFirefoxEntry(cache2, 4, other);
    TFirefoxEntrySpec secret = page;
    secret.Encrypted = true;
    WriteFirefoxEntry(cache2, 5, secret);
    TFirefoxEntrySpec gz = page;
    gz.Key = ":https://h.test/gz.html";
    gz.ResponseHead += "Content-Encoding: gzip\r\n";
    WriteFirefoxEntry(cache2, 6, gz);
    TFirefoxEntrySpec cut = page;
    cut.Key = ":http://h.test/cut.png";
    cut.ResponseHead += "Content-Length: 5\r\n";
    WriteFirefoxEntry(cache2, 10, cut);
    test::WriteFileBytes(cache2 / "entries" / test::FirefoxEntryName(7), "garbage");
    // Not entry files: a link out of the folder, a FIFO, names of other files.
    fs::create_symlink(WriteFirefoxEntry(tmp.Path() / "outside", 8, page),
                       cache2 / "entries" / test::FirefoxEntryName(8));
    ASSERT_EQ(::mkfifo((cache2 / "entries" / test::FirefoxEntryName(9)).c_str(), 0600), 0);
    test::WriteFileBytes(cache2 / "entries" / "README", "not an entry");
    test::WriteFileBytes(cache2 / "index", "stale index");

    TFirefoxCacheSource source(cache2);
    const auto entries = ReadAll(source);
    EXPECT_OK(source.Error());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Url, "http://h.test/page.html");
    EXPECT_EQ(Body(entries[0]), "page");
    // No Last-Modified: when Firefox stored the entry.
    EXPECT_EQ(FileTimeToU64(entries[0].LastModified),
              FileTimeToU64(UnixTimeToFileTime(page.LastModified)));
    EXPECT_EQ(entries[1].Url, "https://h.test/gz.html");
    EXPECT_EQ(entries[2].Url, "http://h.test/cut.png");
    const TFirefoxCacheCounts& c = source.Counts();
    EXPECT_EQ(c.Files, 10u);
    EXPECT_EQ(c.Entries, 3u);
    EXPECT_EQ(c.Partial, 1u);
    EXPECT_EQ(c.Duplicates, 1u);
    EXPECT_EQ(c.NotPlainGet, 1u);
    EXPECT_EQ(c.NotWeb, 1u);
    EXPECT_EQ(c.Encrypted, 1u);
    EXPECT_EQ(c.Damaged, 1u);
    EXPECT_EQ(c.Unreadable, 2u);
    EXPECT_EQ(source.Problems().size(), 4u);
    EXPECT_EQ(source.KeyedEntries().size(), 4u);
}

TEST(FirefoxCacheSource, ReadReportSaysWhatWasLostNotWhatWasLeftOut) {
    TFirefoxEntrySpec page;
    page.Key = ":http://h.test/page.html";
    page.Body = "page";
    TFirefoxEntrySpec older = page;
    older.Key = "O^partitionKey=%28http%2Co.test%29,:http://h.test/page.html";
    older.LastModified -= 100;
    TFirefoxEntrySpec secret = page;
    secret.Key = ":http://h.test/secret.html";
    secret.Encrypted = true;
    TFirefoxEntrySpec post = page;
    post.Key = "~17,:http://h.test/form";
    TFirefoxEntrySpec cut = page;
    cut.Key = ":http://h.test/cut.png";
    cut.ResponseHead += "Content-Length: 5000\r\n";
    const std::string sound = test::FirefoxEntryBytes(page);
    struct {
        const char* Name;
        std::vector<std::string> Files; // entry files 1, 2, ...
        bool Damaged;
        std::size_t Skipped;
        std::vector<std::string> SummaryHas;
    } cases[] = {
        {"sound", {sound}, false, 0, {}},
        {"older copy, encrypted, POST: left out, not lost",
         {sound, test::FirefoxEntryBytes(older), test::FirefoxEntryBytes(secret),
          test::FirefoxEntryBytes(post)},
         false,
         0,
         {}},
        {"an entry file cut short",
         {sound, sound.substr(0, sound.size() - 30)},
         true,
         1,
         {"damaged: 1 of 2 entry files could not be read", "(" + test::FirefoxEntryName(2) + ": ",
          "; 1 entry read"}},
        {"a body stored in part",
         {sound, test::FirefoxEntryBytes(cut)},
         true,
         0,
         {"1 with only part of the body stored", test::FirefoxEntryName(2), "; 2 entries read"}},
        {"garbage and a cut body",
         {"garbage", test::FirefoxEntryBytes(cut)},
         true,
         1,
         {"1 of 2 entry files could not be read, 1 with only part"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir tmp;
        const fs::path cache2 = tmp.Path() / "cache2";
        fs::create_directories(cache2 / "entries");
        for (std::size_t i = 0; i < c.Files.size(); ++i)
            test::WriteFileBytes(cache2 / "entries" / test::FirefoxEntryName(i + 1), c.Files[i]);
        TFirefoxCacheSource source(cache2);
        (void)ReadAll(source);
        const TReadReport report = source.ReadReport();
        EXPECT_EQ(report.Damaged, c.Damaged);
        EXPECT_EQ(report.SkippedRecords, c.Skipped);
        EXPECT_EQ(report.Summary.empty(), !c.Damaged) << report.Summary;
        EXPECT_EQ(report.Summary.find('\n'), std::string::npos) << report.Summary;
        for (const std::string& part : c.SummaryHas)
            EXPECT_NE(report.Summary.find(part), std::string::npos) << report.Summary;
    }
}

// A byte changed under a hash: the entry is listed as it is and the change
// reported, in any chunk of the body; a key damaged out of the web's
// schemes is passed over, counted and named.
TEST(FirefoxCacheSource, HashesThatDoNotFitAreReported) {
    TFirefoxEntrySpec page;
    page.Key = "O^partitionKey=%28http%2Ch.test%29,:http://h.test/index.html";
    page.Body = "<html>the site's page</html>";
    const std::string sound = test::FirefoxEntryBytes(page);
    TFirefoxEntrySpec big = page; // six chunks, a file read in pieces
    big.Body.assign(1400000, 'b');
    const std::string bigSound = test::FirefoxEntryBytes(big);
    auto flipped = [](std::string bytes, std::size_t at, char bit) {
        bytes[at] = static_cast<char>(bytes[at] ^ bit);
        return bytes;
    };
    const std::size_t keyUrl = sound.find(":http://") + 1;
    // A refresh checks the body of a file it reads whole; a larger body is
    // checked when it is read whole (a copy), and said to be damaged then.
    struct {
        const char* Name;
        std::string Bytes;
        bool Listed;
        std::size_t Skipped;
        std::string SummaryHas;
        bool FailsWhenRead;
    } cases[] = {
        {"sound", sound, true, 0, "", false},
        {"sound, six chunks", bigSound, true, 0, "", false},
        {"a byte of the body", flipped(sound, 9, 0x01), true, 0,
         "1 read despite a body hash that does not fit (" + test::FirefoxEntryName(1) +
             ": the hash of the body does not fit: read as it is)",
         false},
        {"a byte of the first chunk", flipped(bigSound, 7, 0x01), true, 0, "", true},
        {"a byte of the second chunk", flipped(bigSound, 300000, 0x01), true, 0, "", true},
        {"a byte of the last chunk", flipped(bigSound, 1399999, 0x01), true, 0, "", true},
        {"a byte of the head", flipped(sound, sound.find("text/html"), 0x01), true, 0,
         "1 read despite a metadata hash that does not fit", false},
        {"http becomes hutp", flipped(sound, keyUrl + 1, 0x01), false, 1,
         "1 of 1 entry files could not be read (" + test::FirefoxEntryName(1) +
             ": the metadata's hash does not fit and its key names no web address "
             "(O^partitionKey=%28http%2Ch.test%29,:hutp://h.test/index.html))",
         false},
        {"the key turns into a POST's", flipped(sound, 0 + sound.find("O^partition"), 0x31), false,
         1, "its key names no plain GET request", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir tmp;
        const fs::path cache2 = tmp.Path() / "cache2";
        fs::create_directories(cache2 / "entries");
        test::WriteFileBytes(cache2 / "entries" / test::FirefoxEntryName(1), c.Bytes);
        TWebCacheTree tree(std::make_unique<TFirefoxCacheSource>(cache2));
        tree.MimeTypesFile = "/nonexistent";
        tree.LoadContentTypes();
        EXPECT_OK(tree.Refresh());
        EXPECT_EQ(tree.FindNodeByUrl("http://h.test/index.html") != nullptr, c.Listed);
        const TReadReport report = tree.Cache().Source()->ReadReport();
        EXPECT_EQ(report.Damaged, !c.SummaryHas.empty());
        EXPECT_EQ(report.SkippedRecords, c.Skipped);
        EXPECT_NE(report.Summary.find(c.SummaryHas), std::string::npos) << report.Summary;
        EXPECT_EQ(report.Problems.size(), c.SummaryHas.empty() ? 0u : 1u);
        if (const TWebCacheTreeNode* node = tree.FindNodeByUrl("http://h.test/index.html")) {
            std::string body;
            TBodyRead read;
            ASSERT_OK(ReadCacheBody(node->Info(), body, ~std::uint64_t{0}, &read));
            EXPECT_EQ(read.ChecksumFailed, c.FailsWhenRead);
            EXPECT_EQ(body.size(), c.Bytes == sound || c.Bytes.size() < 100000 ? page.Body.size()
                                                                               : big.Body.size());
            // Read in part, a body gives no verdict.
            ASSERT_OK(ReadCacheBody(node->Info(), body, 1000, &read));
            EXPECT_FALSE(read.ChecksumFailed);
        }
    }
    // The chunk hashes on their own.
    std::string data(600000, 'd');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 % 251);
    std::string hashes;
    for (std::size_t at = 0; at < data.size(); at += 262144) {
        const auto h = static_cast<std::uint16_t>(FirefoxHash(data.substr(at, 262144)));
        hashes += {static_cast<char>(h >> 8), static_cast<char>(h)};
    }
    EXPECT_EQ(FirstBadFirefoxChunk(data, hashes), SIZE_MAX);
    EXPECT_EQ(FirstBadFirefoxChunk(data, hashes.substr(0, 4)), 2u);
    EXPECT_EQ(FirstBadFirefoxChunk(std::string_view(data).substr(262144), hashes, 1), SIZE_MAX);
    EXPECT_EQ(FirstBadFirefoxChunk(std::string_view(data).substr(262144), hashes, 0), 0u);
}

// A refresh reads entry files in batches and checks the bodies of those it
// reads whole two at a time: a changed byte is found wherever its file
// falls, next to files read in part, without a body or not readable at
// all, and the problems come in the order of the file names.
TEST(FirefoxCacheSource, BodiesCheckedSideBySideAreEachReported) {
    TTempDir tmp;
    const fs::path cache2 = tmp.Path() / "cache2";
    fs::create_directories(cache2 / "entries");
    std::vector<std::string> reported;
    std::size_t changed = 0, damaged = 0, large = 0;
    constexpr std::size_t kFiles = 41; // more than two batches
    for (std::size_t n = 0; n < kFiles; ++n) {
        TFirefoxEntrySpec spec;
        spec.Key = ":http://h.test/" + std::to_string(n);
        // Sizes from none to the largest file read whole, and larger.
        const std::size_t size = n % 9 == 4 ? 0 : n % 7 == 3 ? 300000 : (n * 7919) % 64000;
        spec.Body.assign(size, static_cast<char>('a' + n % 26));
        std::string bytes = test::FirefoxEntryBytes(spec);
        const bool change = size > 0 && (n % 3 == 0 || n % 5 == 0);
        if (change)
            bytes[size / 2] = static_cast<char>(bytes[size / 2] ^ 0x01);
        if (n % 11 == 6)
            bytes = "not an entry file";
        test::WriteFileBytes(cache2 / "entries" / test::FirefoxEntryName(n), bytes);
        const bool isDamaged = n % 11 == 6, isLarge = !isDamaged && size == 300000;
        damaged += isDamaged ? 1 : 0;
        large += isLarge ? 1 : 0;
        // A large body is checked when it is read, not now.
        if (isDamaged || (change && !isLarge)) {
            reported.push_back(test::FirefoxEntryName(n));
            changed += isDamaged ? 0 : 1;
        }
    }
    ASSERT_GT(changed, 10u);
    ASSERT_GT(large, 2u);
    TFirefoxCacheSource source(cache2);
    const auto all = ReadAll(source);
    EXPECT_EQ(all.size(), kFiles - damaged);
    EXPECT_EQ(source.Counts().ChunkMismatch, changed);
    EXPECT_EQ(source.Counts().Damaged, damaged);
    ASSERT_EQ(source.Problems().size(), reported.size());
    for (std::size_t i = 0; i < reported.size(); ++i)
        EXPECT_EQ(source.Problems()[i].substr(0, 40), reported[i]) << source.Problems()[i];
    // A body not checked now is checked when it is read.
    std::size_t unchecked = 0;
    for (const TRawCacheEntry& e : all)
        unchecked += e.BodyCheck.Kind == TBodyCheck::FirefoxChunks ? 1 : 0;
    EXPECT_EQ(unchecked, large);
}

TEST(FirefoxCacheSource, MissingFolderIsAnError) {
    TFirefoxCacheSource source("/nonexistent/cache2");
    TRawCacheEntry e;
    EXPECT_FALSE(source.First(e));
    EXPECT_EQ(source.Error().Code(), ENOENT);
}

TEST(FirefoxCacheSource, OpensTheFolderItIsGiven) {
    TTempDir tmp;
    const fs::path cache2 = tmp.Path() / "profile/cache2";
    WriteFirefoxEntry(cache2, 1, {});
    for (const fs::path& p : {cache2, cache2 / "entries", cache2.parent_path()}) {
        TError error;
        auto source = OpenFirefoxCache(p, &error);
        ASSERT_TRUE(source) << p;
        EXPECT_OK(error);
        EXPECT_EQ(source->Describe(), cache2.string());
    }
    TError error;
    EXPECT_FALSE(OpenFirefoxCache(tmp.Path(), &error));
    EXPECT_EQ(error.Code(), ENOENT);
}

TEST(FirefoxProfile, CacheFolderMapsToItsProfile) {
    const auto folders = FirefoxProfileFolders("/home/u/.cache/mozilla/firefox/abc.default/cache2");
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0], fs::path("/home/u/.cache/mozilla/firefox/abc.default"));
    EXPECT_EQ(folders[1], fs::path("/home/u/.mozilla/firefox/abc.default"));
    EXPECT_EQ(FirefoxProfileFolders("/tmp/p/cache2"), std::vector<fs::path>{"/tmp/p"});
}

// Deleting removes every file of the URL, and is refused while Firefox
// holds the profile.
TEST(FirefoxCacheSource, DeletesEveryCopyOfAUrl) {
    TTempDir tmp;
    const fs::path cache2 = tmp.Path() / "cache2";
    TFirefoxEntrySpec a;
    a.Key = ":http://h.test/a.html";
    TFirefoxEntrySpec a2 = a;
    a2.Key = "a,:http://h.test/a.html";
    TFirefoxEntrySpec b;
    b.Key = ":http://h.test/b.html";
    const fs::path fa = WriteFirefoxEntry(cache2, 1, a);
    const fs::path fa2 = WriteFirefoxEntry(cache2, 2, a2);
    const fs::path fb = WriteFirefoxEntry(cache2, 3, b);

    TFirefoxCacheSource fresh(cache2); // no refresh yet: the files are read
    EXPECT_EQ(fresh.DeleteEntry("http://h.test/nothing").Code(), ENOENT);
    TFirefoxCacheSource source(cache2);
    EXPECT_EQ(ReadAll(source).size(), 2u);
    EXPECT_OK(source.DeleteEntry("http://h.test/a.html"));
    EXPECT_FALSE(fs::exists(fa));
    EXPECT_FALSE(fs::exists(fa2));
    EXPECT_TRUE(fs::exists(fb));
    EXPECT_EQ(source.DeleteEntry("http://h.test/a.html").Code(), ENOENT);

    // A stale lock link (no such process) does not hold the profile.
    fs::create_symlink("127.0.1.1:+999999999", tmp.Path() / "lock");
    EXPECT_EQ(source.ProfileLockHolder(), "");
    fs::remove(tmp.Path() / "lock");
    fs::create_symlink("127.0.1.1:+" + std::to_string(::getpid()), tmp.Path() / "lock");
    EXPECT_EQ(source.DeleteEntry("http://h.test/b.html").Code(), EBUSY);
    EXPECT_TRUE(fs::exists(fb));
    fs::remove(tmp.Path() / "lock");

    // .parentlock locked by another process.
    const fs::path parentLock = tmp.Path() / ".parentlock";
    test::WriteFileBytes(parentLock, "");
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::open(parentLock.c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        ::fcntl(fd, F_SETLK, &fl);
        char c = 0;
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    const TError refused = source.DeleteEntry("http://h.test/b.html");
    (void)!::write(release[1], &c, 1);
    ::waitpid(child, nullptr, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        ::close(fd);
    EXPECT_EQ(refused.Code(), EBUSY);
    EXPECT_NE(refused.Text().find(".parentlock"), std::string::npos);
    EXPECT_TRUE(fs::exists(fb));
    EXPECT_OK(source.DeleteEntry("http://h.test/b.html"));
    EXPECT_FALSE(fs::exists(fb));
}

// A file of the URL that cannot be read now may still hold it: it stays and
// the deletion fails, so that the tree keeps the entry. Only a file that is
// gone is deleted already.
TEST(FirefoxCacheSource, DeletionFailsOnAFileItCannotRead) {
    struct {
        const char* Name;
        std::function<void(const fs::path&)> Change; // done to the entry file after the refresh
        bool Fails;
    } cases[] = {
        {"replaced by garbage", [](const fs::path& f) { test::WriteFileBytes(f, "garbage"); },
         true},
        {"replaced by a FIFO",
         [](const fs::path& f) {
             fs::remove(f);
             ASSERT_EQ(::mkfifo(f.c_str(), 0600), 0);
         },
         true},
        {"replaced by a folder",
         [](const fs::path& f) {
             fs::remove(f);
             fs::create_directory(f);
         },
         true},
        {"gone", [](const fs::path& f) { fs::remove(f); }, false},
        {"another entry's now",
         [](const fs::path& f) {
             TFirefoxEntrySpec other;
             other.Key = ":http://h.test/other.html";
             test::WriteFileBytes(f, test::FirefoxEntryBytes(other));
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir tmp;
        const fs::path cache2 = tmp.Path() / "cache2";
        TFirefoxEntrySpec a;
        a.Key = ":http://h.test/a.html";
        const fs::path file = WriteFirefoxEntry(cache2, 1, a);
        TFirefoxEntrySpec b;
        b.Key = ":http://h.test/b.html";
        WriteFirefoxEntry(cache2, 2, b);
        TWebCacheTree tree(std::make_unique<TFirefoxCacheSource>(cache2));
        tree.MimeTypesFile = "/nonexistent";
        tree.LoadContentTypes();
        ASSERT_OK(tree.Refresh());
        ASSERT_NE(tree.FindNodeByUrl("http://h.test/a.html"), nullptr);
        c.Change(file);

        const TError error = tree.DeleteByUrl("http://h.test/a.html");
        EXPECT_EQ(!error.Ok(), c.Fails) << error.Text();
        EXPECT_EQ(tree.FindNodeByUrl("http://h.test/a.html") != nullptr, c.Fails);
        EXPECT_EQ(fs::exists(fs::symlink_status(file)), c.Name != std::string("gone"));
        if (c.Fails) {
            EXPECT_NE(error.Code(), ENOENT);
            EXPECT_NE(error.Text().find(test::FirefoxEntryName(1)), std::string::npos)
                << error.Text();
            // Still the URL's: a second try fails alike.
            EXPECT_NE(tree.Cache().DeleteEntry("http://h.test/a.html").Code(), ENOENT);
        }
        EXPECT_NE(tree.FindNodeByUrl("http://h.test/b.html"), nullptr);
    }
}

} // namespace
} // namespace tarnhold
