#include "sources/cachebody.h"
#include "sources/cachelocation.h"
#include "sources/chromium/chromiumcache.h"
#include "sources/chromium/chromiumsql.h"
#include "sources/opencache.h"
#include "support/cache_test_helpers.h"
#include "support/chromiumsqlwriter.h"
#include "tree/webcache.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;
using test::TChromiumSqlRow;

const fs::path kBrowsers = fs::path(TARNHOLD_TEST_DATA) / "browsers";
const fs::path kRealCache = kBrowsers / "chromium-sql" / "Cache_Data";

struct TServed {
    std::string Status, ContentType, Encoding, SiteFile;
};

// What the test server answered, by URL.
std::map<std::string, TServed> ReadManifest(const fs::path& file) {
    std::map<std::string, TServed> served;
    std::istringstream lines(test::ReadFileBytes(file));
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

// Every file of a folder with its bytes: what "never written" is checked by.
std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file())
            files[e.path().filename().string()] = test::ReadFileBytes(e.path());
    return files;
}

struct TRead {
    std::map<std::string, TRawCacheEntry> Entries; // by URL
    int Listed = 0;                                // entries given out, repeats too
    TReadReport Report;
    TError Error;
};

TRead ReadAll(TChromiumSqlSource& source) {
    TRead read;
    TRawCacheEntry raw;
    for (bool ok = source.First(raw); ok; ok = source.Next(raw)) {
        ++read.Listed;
        read.Entries[raw.Url] = raw;
    }
    read.Report = source.ReadReport();
    read.Error = source.Error();
    return read;
}

std::string Body(const TCachedBody& entry, TBodyRead* how = nullptr) {
    std::string body;
    TError error = ReadCacheBody(entry, body, kMinDecodedLimit, how);
    return error ? "<" + error.Text() + ">" : body;
}

TEST(ChromiumSql, RealCacheHoldsWhatTheSiteServed) {
    const auto served = ReadManifest(kBrowsers / "chromium-sql" / "manifest.tsv");
    ASSERT_GE(served.size(), 8u);
    const auto before = Contents(kRealCache);
    TWebCache cache(std::make_unique<TChromiumSqlSource>(kRealCache));
    std::map<std::string, TWebCacheEntryInfo> read;
    int listed = 0;
    TWebCacheEntryInfo info;
    for (bool ok = cache.FindFirst(info); ok; ok = cache.FindNext(info), ++listed)
        read[info.Url] = info;
    ASSERT_OK(cache.Error());
    auto* source = static_cast<TChromiumSqlSource*>(cache.Source());
    // Every checksum the browser wrote fits: the key's hash, the heads'.
    EXPECT_EQ(source->Counts().Mismatched, 0);
    EXPECT_EQ(source->Counts().Shards, 3);
    EXPECT_FALSE(source->ReadReport().Damaged) << source->ReadReport().Summary;
    EXPECT_FALSE(source->ReadCopy());
    // The browser's own download it was deleting (no head yet) is neither an
    // entry nor damage.
    EXPECT_EQ(source->Counts().Doomed, 1);
    EXPECT_EQ(read.size(), served.size());
    EXPECT_EQ(listed, static_cast<int>(served.size())); // each URL once

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
        if (s.SiteFile.empty())
            continue; // an error page of the server's own
        TBodyRead how;
        EXPECT_EQ(Body(e, &how), test::ReadFileBytes(kBrowsers / "site-chromium" / s.SiteFile));
        EXPECT_FALSE(how.StoredAsIs);
        EXPECT_FALSE(how.ChecksumFailed);
        EXPECT_EQ(fs::path(e.LocalFileName).parent_path(), kRealCache);
    }
    EXPECT_EQ(Contents(kRealCache), before);
}

TEST(ChromiumSql, ChecksumHasKnownValues) {
    const std::string key = "1/0/_dk_https://example.com https://example.com https://example.com/";
    const std::uint32_t hash = ChromiumKeyHash(key);
    EXPECT_EQ(hash, 0x518a7c3au);
    EXPECT_EQ(static_cast<std::int32_t>(ChromiumSqlChecksum("", hash)), -70138171);
    EXPECT_EQ(static_cast<std::int32_t>(ChromiumSqlChecksum("hello", hash)), 1802406200);
}

TChromiumSqlRow Row(const std::string& path, std::string body = "<html>page</html>") {
    TChromiumSqlRow row;
    row.Entry.Key = "1/0/_dk_http://h.test http://h.test http://h.test/" + path;
    row.Entry.Body = std::move(body);
    return row;
}

TEST(ChromiumSql, BodiesAreAssembledFromTheirPieces) {
    const std::string whole = "0123456789abcdefghij";
    struct TCase {
        const char* Name;
        std::vector<std::pair<std::int64_t, std::string>> Pieces;
        std::int64_t BodyEnd;
        std::string Body; // what is read
        bool Partial;
    } cases[] = {
        {"one piece", {{0, whole}}, 20, whole, false},
        {"two pieces", {{0, "0123456789"}, {10, "abcdefghij"}}, 20, whole, false},
        {"pieces written in another order",
         {{10, "abcdefghij"}, {0, "0123456789"}},
         20,
         whole,
         false},
        {"overlapping pieces", {{0, "0123456789ab"}, {10, "abcdefghij"}}, 20, whole, false},
        {"a gap: the bytes before it", {{0, "01234"}, {10, "abcdefghij"}}, 20, "01234", true},
        {"short of its end", {{0, "0123456789"}}, 20, "0123456789", true},
        {"no first piece", {{5, "56789"}}, 10, "", true},
        {"longer than its end", {{0, whole}}, 5, "01234", false},
        {"empty", {}, 0, "", false},
    };
    std::vector<TChromiumSqlRow> rows;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        TChromiumSqlRow row = Row("f" + std::to_string(i) + ".bin", "");
        row.Pieces = cases[i].Pieces;
        row.BodyEnd = cases[i].BodyEnd;
        rows.push_back(row);
    }
    test::TTempDir dir;
    test::WriteChromiumSqlCache(dir.Path(), rows);
    TChromiumSqlSource source(dir.Path());
    const TRead read = ReadAll(source);
    ASSERT_OK(read.Error);
    int partial = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].Name);
        const auto it = read.Entries.find("http://h.test/f" + std::to_string(i) + ".bin");
        ASSERT_NE(it, read.Entries.end());
        EXPECT_EQ(it->second.Size, cases[i].Body.size());
        TBodyRead how;
        EXPECT_EQ(Body(it->second, &how), cases[i].Body);
        EXPECT_FALSE(how.ChecksumFailed);
        partial += cases[i].Partial ? 1 : 0;
    }
    EXPECT_EQ(source.Counts().Partial, partial);
    EXPECT_TRUE(read.Report.Damaged);
}

TEST(ChromiumSql, FoundAndOpenedAsEveryChromiumCacheIs) {
    test::TTempDir tmp;
    const fs::path home = tmp.Path() / "home";
    const fs::path profile = home / ".cache/google-chrome/Default";
    const fs::path data = profile / "Cache/Cache_Data";
    fs::create_directories(data.parent_path());
    fs::copy(kRealCache, data);
    std::map<std::string, std::string> vars = {{"HOME", home.string()}};
    const TGetEnv env = [&vars](const char* name) -> const char* {
        auto it = vars.find(name);
        return it == vars.end() ? nullptr : it->second.c_str();
    };

    // The user's browsers, a profile or a folder above it named, a search.
    const auto browsers = FindBrowserCaches(env);
    ASSERT_EQ(browsers.size(), 1u);
    EXPECT_EQ(browsers[0].Folder, data);
    EXPECT_EQ(browsers[0].Kind, TCacheKind::ckChromium);
    for (const fs::path& named : {data, data.parent_path(), profile, tmp.Path()}) {
        SCOPED_TRACE(named);
        const TCacheLocation where = LocateCache(named, "/demo", env);
        ASSERT_OK(where.Error);
        EXPECT_EQ(where.Path, data);
        EXPECT_EQ(where.Kind, TCacheKind::ckChromium);
    }
    // Opened by its kind as its own backend.
    TError error;
    auto source = OpenCacheSourceAt(data, TCacheKind::ckChromium, &error);
    ASSERT_NE(source, nullptr) << error.Text();
    ASSERT_NE(dynamic_cast<TChromiumSqlSource*>(source.get()), nullptr) << source->Describe();
    EXPECT_TRUE(source->SetRecovered(true));
    EXPECT_NE(source->Keys(), nullptr);
    EXPECT_EQ(source->SetLockWait(std::chrono::seconds(1), {}), false);

    // Told apart from the Simple cache; shards without their index still are one.
    EXPECT_FALSE(IsChromiumSqlCacheFolder(kBrowsers / "chromium"));
    EXPECT_FALSE(IsChromiumCacheFolder(data));
    fs::remove(data / "index");
    EXPECT_TRUE(IsChromiumSqlCacheFolder(data));
}

// A copy of the real cache, damaged in one way.
struct TDamage {
    const char* Name;
    std::function<void(const fs::path&)> Do;
    std::string Problem;    // a line of the report holds this
    bool SomeLost;          // entries of the real cache are missing
    std::string BadBodyUrl; // a body that fails its checksum when read
};

TEST(ChromiumSql, DamageIsReadAsFarAsItGoesAndNeverWritten) {
    const auto served = ReadManifest(kBrowsers / "chromium-sql" / "manifest.tsv");
    const std::string port = served.begin()->first.substr(0, served.begin()->first.find('/', 8));
    const std::string garbage(300, '\xa5');
    const TDamage cases[] = {
        {"truncated shard",
         [](const fs::path& d) { fs::resize_file(d / "sqldb1", 8192); },
         "sqldb1",
         true,
         {}},
        {"missing shard",
         [](const fs::path& d) { fs::remove(d / "sqldb2"); },
         "sqldb2: missing",
         true,
         {}},
        {"garbage in a head",
         [&](const fs::path& d) {
             test::ExecSql(d / "sqldb0", "UPDATE resources SET head=x'" + std::string(600, 'a') +
                                             "' WHERE cache_key LIKE '%sjis.html'");
         },
         "sqldb0 row 1: ",
         true,
         {}},
        {"a head that fails its checksum",
         [](const fs::path& d) {
             test::ExecSql(d / "sqldb2", "UPDATE resources SET check_sum=check_sum+1 "
                                         "WHERE cache_key LIKE '%index.html'");
         },
         "the response head fails its checksum",
         false,
         {}},
        {"a body piece that fails its checksum",
         [](const fs::path& d) {
             test::ExecSql(d / "sqldb2", "UPDATE blobs SET blob=zeroblob(length(blob)) "
                                         "WHERE res_id=(SELECT res_id FROM resources WHERE "
                                         "cache_key LIKE '%img/logo.png')");
         },
         "", false, port + "/img/logo.png"},
        {"no index: the shards there are read",
         [](const fs::path& d) { fs::remove(d / "index"); },
         "",
         false,
         {}},
        {"a view in place of a table",
         [](const fs::path& d) {
             test::ExecSql(d / "sqldb1", "ALTER TABLE resources RENAME TO r2;"
                                         "CREATE VIEW resources AS SELECT * FROM r2");
         },
         "sqldb1: not read: resources is no table",
         true,
         {}},
        {"an unknown layout",
         [](const fs::path& d) {
             test::ExecSql(d / "sqldb0", "ALTER TABLE resources RENAME COLUMN head TO head2");
         },
         "no column head",
         true,
         {}},
    };
    (void)garbage;
    for (const TDamage& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        const fs::path data = dir.Path() / "Cache_Data";
        fs::copy(kRealCache, data);
        c.Do(data);
        const auto before = Contents(data);
        TChromiumSqlSource source(data);
        const TRead read = ReadAll(source);
        ASSERT_OK(read.Error);
        bool named = c.Problem.empty();
        for (const std::string& p : read.Report.Problems)
            named = named || p.find(c.Problem) != std::string::npos;
        EXPECT_TRUE(named) << read.Report.Summary;
        EXPECT_EQ(read.Report.Damaged, !c.Problem.empty());
        EXPECT_EQ(read.Report.Summary.empty(), !read.Report.Damaged);
        // What is left is read whole.
        int found = 0;
        for (const auto& [url, s] : served) {
            const auto it = read.Entries.find(url);
            if (it == read.Entries.end())
                continue;
            ++found;
            if (s.Status != "200")
                continue;
            TBodyRead how;
            const std::string body = Body(it->second, &how);
            if (url == c.BadBodyUrl) {
                EXPECT_TRUE(how.ChecksumFailed);
                EXPECT_EQ(body, std::string(body.size(), '\0'));
            } else {
                EXPECT_FALSE(how.ChecksumFailed) << url;
                EXPECT_EQ(body, test::ReadFileBytes(kBrowsers / "site-chromium" / s.SiteFile))
                    << url;
            }
        }
        EXPECT_GT(found, 0);
        EXPECT_EQ(found < static_cast<int>(served.size()), c.SomeLost);
        EXPECT_EQ(Contents(data), before);
    }
}

TEST(ChromiumSql, HostileCountsAndOffsetsStayBounded) {
    // A body that claims a huge end and pieces far away: only what is stored
    // is read, as far as it goes without a gap.
    TChromiumSqlRow far = Row("far.bin", "");
    far.Pieces = {{0, "abc"}, {std::int64_t{1} << 60, "xyz"}};
    far.BodyEnd = std::int64_t{1} << 62;
    TChromiumSqlRow negative = Row("negative.bin", "");
    negative.Pieces = {{-5, "abcdefgh"}};
    negative.BodyEnd = 3;
    TChromiumSqlRow garbageHead = Row("garbage.html");
    garbageHead.RawHead = std::string("\xff\xff\xff\x7f", 4) + std::string(64, 'x');
    test::TTempDir dir;
    test::WriteChromiumSqlCache(dir.Path(), {far, negative, garbageHead, Row("ok.html")});
    TChromiumSqlSource source(dir.Path());
    const TRead read = ReadAll(source);
    ASSERT_OK(read.Error);
    ASSERT_EQ(read.Entries.count("http://h.test/far.bin"), 1u);
    EXPECT_EQ(Body(read.Entries.at("http://h.test/far.bin")), "abc");
    ASSERT_EQ(read.Entries.count("http://h.test/negative.bin"), 1u);
    EXPECT_EQ(Body(read.Entries.at("http://h.test/negative.bin")), "");
    EXPECT_EQ(read.Entries.count("http://h.test/garbage.html"), 0u);
    EXPECT_EQ(Body(read.Entries.at("http://h.test/ok.html")), "<html>page</html>");
    EXPECT_EQ(source.Counts().Damaged, 1);
    EXPECT_EQ(source.Counts().Partial, 2);
}

TEST(ChromiumSql, RowsBeingDeletedComeBackOnlyWhenRecovered) {
    TChromiumSqlRow gone = Row("gone.html", "<html>gone</html>");
    gone.Doomed = true;
    TChromiumSqlRow replaced = Row("page.html", "<html>old</html>");
    replaced.Doomed = true;
    TChromiumSqlRow unfinished = Row("unfinished.html");
    unfinished.Doomed = true;
    unfinished.NullHead = true;
    test::TTempDir dir;
    test::WriteChromiumSqlCache(dir.Path(),
                                {gone, replaced, unfinished, Row("page.html", "<html>new</html>")});
    for (const bool recovered : {false, true}) {
        SCOPED_TRACE(recovered ? "recovered" : "live only");
        TChromiumSqlSource source(dir.Path());
        EXPECT_TRUE(source.SetRecovered(recovered));
        const TRead read = ReadAll(source);
        ASSERT_OK(read.Error);
        EXPECT_FALSE(read.Report.Damaged) << read.Report.Summary;
        EXPECT_EQ(read.Report.DeletedRecords, 1u);
        EXPECT_EQ(read.Listed, recovered ? 2 : 1);
        EXPECT_EQ(Body(read.Entries.at("http://h.test/page.html")), "<html>new</html>");
        EXPECT_FALSE(read.Entries.at("http://h.test/page.html").Recovered);
        EXPECT_EQ(read.Entries.count("http://h.test/gone.html"), recovered ? 1u : 0u);
        if (recovered) {
            EXPECT_TRUE(read.Entries.at("http://h.test/gone.html").Recovered);
            EXPECT_EQ(Body(read.Entries.at("http://h.test/gone.html")), "<html>gone</html>");
        }
    }
}

TEST(ChromiumSql, KeysEveryCopyOfAUrl) {
    const std::string url = "http://shared.test/logo.png";
    std::vector<TChromiumSqlRow> rows;
    const std::pair<const char*, std::int64_t> sites[] = {
        {"http://a.test", 13411756800000000},
        {"http://b.test", 13411756900000000}, // the newest
        {"http://c.test", 13411756850000000},
    };
    for (const auto& [site, time] : sites) {
        TChromiumSqlRow row;
        row.Entry.Key = std::string("1/0/_dk_") + site + " " + site + " " + url;
        row.Entry.ResponseTime = time;
        row.Entry.Body = site;
        rows.push_back(row);
    }
    test::TTempDir dir;
    test::WriteChromiumSqlCache(dir.Path(), rows);
    TChromiumSqlSource source(dir.Path());
    TKeyedEntries* keys = source.Keys();
    ASSERT_NE(keys, nullptr);
    for (const bool list : {false, true}) {
        SCOPED_TRACE(list ? "older copies listed" : "newest only");
        keys->SetListShadowed(list);
        std::map<std::string, bool> delivered; // key -> shadowed
        TRawCacheEntry raw;
        for (bool ok = source.First(raw); ok; ok = source.Next(raw)) {
            delivered[keys->CurrentKey()] = keys->CurrentShadowed();
            if (!keys->CurrentShadowed()) {
                EXPECT_EQ(Body(raw), "http://b.test");
            }
        }
        EXPECT_EQ(delivered.size(), list ? 3u : 1u);
        EXPECT_EQ(delivered.count("1/0/_dk_http://b.test http://b.test " + url), 1u);
        EXPECT_EQ(keys->UndeliveredCopies().size(), list ? 0u : 2u);
        EXPECT_EQ(source.Counts().Shadowed, 2);
    }
}

// The browser's lock on the profile above the cache, naming a live process.
void LockProfile(const fs::path& profile) {
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    fs::create_symlink(std::string(host) + "-" + std::to_string(::getpid()),
                       profile / "SingletonLock");
}

TEST(ChromiumSql, ACacheInUseIsReadFromACopy) {
    struct {
        const char* Name;
        bool Lock;
        bool Journal;
    } cases[] = {
        {"a browser holds it", true, false},
        {"left mid-transaction", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        const fs::path data = dir.Path() / "Default" / "Cache" / "Cache_Data";
        fs::create_directories(data.parent_path());
        fs::copy(kRealCache, data);
        if (c.Lock)
            LockProfile(dir.Path());
        if (c.Journal) {
            // Killed half way through deleting every body piece.
            test::LeaveMidTransaction(data / "sqldb2", "DELETE FROM blobs");
            ASSERT_GT(fs::file_size(data / "sqldb2-journal"), 0u);
        }
        const auto before = Contents(data);
        TChromiumSqlSource source(data);
        const TRead read = ReadAll(source);
        ASSERT_OK(read.Error);
        EXPECT_TRUE(source.ReadCopy());
        EXPECT_GE(read.Entries.size(), 9u);
        EXPECT_EQ(Body(read.Entries.at("http://127.0.0.1:8766/index.html")),
                  test::ReadFileBytes(kBrowsers / "site-chromium/index.html"));
        EXPECT_EQ(Contents(data), before);
    }
}

TEST(ChromiumSql, ABodyIsNotReadFromAShardThatChanged) {
    test::TTempDir dir;
    test::WriteChromiumSqlCache(dir.Path(), {Row("a.html"), Row("b.html"), Row("c.html")});
    TChromiumSqlSource source(dir.Path());
    const TRead read = ReadAll(source);
    ASSERT_EQ(read.Entries.size(), 3u);
    // Another program rewrites a shard with other bodies.
    test::WriteChromiumSqlCache(dir.Path(),
                                {Row("a.html", "x"), Row("b.html", "y"), Row("c.html", "z")});
    int refused = 0;
    for (const auto& [url, entry] : read.Entries) {
        const std::string body = Body(entry);
        EXPECT_TRUE(body == "<html>page</html>" || body.find("changed") != std::string::npos)
            << body;
        refused += body.find("changed") != std::string::npos ? 1 : 0;
    }
    EXPECT_GT(refused, 0);
}

// The counts the browser keeps of a shard agree with its rows.
void ExpectCountsKept(const fs::path& shard) {
    EXPECT_EQ(test::QuerySql(shard, "SELECT value FROM meta WHERE key='EntryCount'"),
              test::QuerySql(shard, "SELECT count(*) FROM resources WHERE doomed=0"));
    EXPECT_EQ(
        test::QuerySql(shard, "SELECT value FROM meta WHERE key='TotalSize'"),
        test::QuerySql(shard, "SELECT coalesce(sum(bytes_usage),0) FROM resources WHERE doomed=0"));
    EXPECT_EQ(test::QuerySql(shard, "PRAGMA integrity_check"), "ok");
}

TEST(ChromiumSql, DeletionRemovesTheRowsAndKeepsTheCounts) {
    test::TTempDir dir;
    const fs::path data = dir.Path() / "Cache_Data";
    fs::copy(kRealCache, data);
    const std::string index = test::ReadFileBytes(data / "index");
    TChromiumSqlSource source(data);
    TRead read = ReadAll(source);
    const TRawCacheEntry css = read.Entries.at("http://127.0.0.1:8766/css/style.css");
    const TRawCacheEntry page = read.Entries.at("http://127.0.0.1:8766/index.html");
    ASSERT_OK(source.DeleteEntry("http://127.0.0.1:8766/css/style.css"));
    EXPECT_EQ(source.DeleteEntry("http://127.0.0.1:8766/css/style.css").Code(), ENOENT);
    // The shard that held it: no row, no piece; its counts follow.
    EXPECT_EQ(test::QuerySql(data / "sqldb1", "SELECT count(*) FROM resources WHERE cache_key "
                                              "LIKE '%style.css'"),
              "0");
    EXPECT_EQ(test::QuerySql(data / "sqldb1", "SELECT count(*) FROM blobs WHERE res_id=2"), "0");
    EXPECT_EQ(test::QuerySql(data / "sqldb1", "SELECT value FROM meta WHERE key='EntryCount'"),
              "2");
    for (const char* shard : {"sqldb0", "sqldb1", "sqldb2"}) {
        SCOPED_TRACE(shard);
        ExpectCountsKept(data / shard);
        // As the browser keeps it: an empty journal beside it.
        EXPECT_EQ(fs::file_size(data / (std::string(shard) + "-journal")), 0u);
    }
    EXPECT_EQ(test::ReadFileBytes(data / "index"), index);
    // The entries read before are still read; the deleted one is not there.
    EXPECT_EQ(Body(page), test::ReadFileBytes(kBrowsers / "site-chromium/index.html"));
    EXPECT_NE(Body(css).find("gone"), std::string::npos);
    read = ReadAll(source);
    EXPECT_EQ(read.Entries.count("http://127.0.0.1:8766/css/style.css"), 0u);
    EXPECT_EQ(read.Entries.size(), 8u);
    EXPECT_FALSE(read.Report.Damaged) << read.Report.Summary;
}

TEST(ChromiumSql, DeletionIsRefusedWhenItIsNotSafe) {
    struct TCase {
        const char* Name;
        std::function<void(const fs::path& profile, const fs::path& data)> Do;
        int Code;
        std::string Why;
    } cases[] = {
        {"a browser holds the cache", [](const fs::path& p, const fs::path&) { LockProfile(p); },
         EBUSY, "in use"},
        {"left mid-transaction",
         [](const fs::path&, const fs::path& d) {
             test::LeaveMidTransaction(d / "sqldb2", "DELETE FROM blobs");
         },
         EPERM, "mid-transaction"},
        {"no entry count",
         [](const fs::path&, const fs::path& d) {
             test::ExecSql(d / "sqldb2", "DELETE FROM meta WHERE key='EntryCount'");
         },
         EPERM, "entry count"},
        {"a layout it does not know",
         [](const fs::path&, const fs::path& d) {
             test::ExecSql(d / "sqldb2", "ALTER TABLE resources RENAME COLUMN bytes_usage TO b");
         },
         EPERM, "layout"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        test::TTempDir dir;
        const fs::path data = dir.Path() / "Default" / "Cache" / "Cache_Data";
        fs::create_directories(data.parent_path());
        fs::copy(kRealCache, data);
        TChromiumSqlSource source(data);
        (void)ReadAll(source);
        c.Do(dir.Path(), data);
        const auto before = Contents(data);
        const TError error = source.DeleteEntry("http://127.0.0.1:8766/index.html");
        EXPECT_EQ(error.Code(), c.Code) << error.Text();
        EXPECT_NE(error.Text().find(c.Why), std::string::npos) << error.Text();
        EXPECT_EQ(Contents(data), before);
    }
}

// The small site served on a free port of 127.0.0.1 while it lives; every
// answer is written to a log.
class TSiteServer {
public:
    explicit TSiteServer(const fs::path& log) : log_(log) {
        int out[2];
        if (::pipe(out) != 0)
            return;
        const std::string script = (kBrowsers / "site-chromium-server.py").string();
        const std::string site = (kBrowsers / "site-chromium").string();
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::execlp("python3", "python3", script.c_str(), site.c_str(), "0", log.c_str(),
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        char line[64] = {};
        std::size_t got = 0;
        while (got < sizeof line - 1 && ::read(out[0], line + got, 1) == 1 && line[got] != '\n')
            ++got;
        ::close(out[0]);
        if (std::sscanf(line, "ready %d", &port_) != 1)
            port_ = 0;
    }
    ~TSiteServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    int Port() const { return port_; }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
    }
    // The URLs asked for since the last call.
    std::vector<std::string> Asked() {
        std::vector<std::string> urls;
        std::istringstream lines(test::ReadFileBytes(log_));
        std::string line;
        std::getline(lines, line);
        for (std::size_t n = 0; std::getline(lines, line); ++n)
            if (n >= seen_)
                urls.push_back(line.substr(0, line.find('\t')));
        seen_ += urls.size();
        return urls;
    }

private:
    fs::path log_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::size_t seen_ = 0;
};

bool HasChromium() {
    return std::system("command -v chromium >/dev/null 2>&1") == 0 &&
           std::system("command -v python3 >/dev/null 2>&1") == 0;
}

// Loads the pages in headless Chromium with the SQL cache in cacheDir.
void Browse(const fs::path& dir, const std::vector<std::string>& urls) {
    for (const std::string& url : urls) {
        const std::string command =
            "chromium --headless=new --no-sandbox --disable-gpu --no-first-run "
            "--enable-features=DiskCacheBackendExperiment:backend/sql "
            "--user-data-dir='" +
            (dir / "profile").string() + "' --disk-cache-dir='" + (dir / "cache").string() +
            "' --virtual-time-budget=2000 --dump-dom '" + url + "' >/dev/null 2>&1";
        (void)std::system(command.c_str());
    }
}

TEST(ChromiumSql, TheBrowserStillReadsTheCacheAfterADeletion) {
    if (!HasChromium())
        GTEST_SKIP() << "chromium or python3 is not installed: the browser cannot check the "
                        "cache after a deletion";
    test::TTempDir dir;
    TSiteServer server(dir.Path() / "log.tsv");
    ASSERT_NE(server.Port(), 0) << "the site server did not start";
    const std::vector<std::string> pages = {server.Url("index.html"), server.Url("sjis.html")};
    Browse(dir.Path(), pages);
    std::vector<std::string> asked = server.Asked();
    const fs::path data = dir.Path() / "cache" / "Default" / "Cache" / "Cache_Data";
    ASSERT_TRUE(IsChromiumSqlCacheFolder(data)) << "chromium wrote no SQL cache";
    for (const char* path : {"index.html", "css/style.css", "img/logo.png", "sjis.html"})
        ASSERT_NE(std::find(asked.begin(), asked.end(), server.Url(path)), asked.end()) << path;

    TChromiumSqlSource source(data);
    TRead read = ReadAll(source);
    ASSERT_EQ(read.Entries.count(server.Url("css/style.css")), 1u);
    ASSERT_OK(source.DeleteEntry(server.Url("css/style.css")));
    for (const char* shard : {"sqldb0", "sqldb1", "sqldb2"}) {
        SCOPED_TRACE(shard);
        ExpectCountsKept(data / shard);
    }

    // The browser loads the pages again: the deleted file from the site, the
    // others from its cache, which it kept.
    Browse(dir.Path(), pages);
    asked = server.Asked();
    EXPECT_NE(std::find(asked.begin(), asked.end(), server.Url("css/style.css")), asked.end());
    for (const char* path : {"index.html", "img/logo.png", "sjis.html"})
        EXPECT_EQ(std::find(asked.begin(), asked.end(), server.Url(path)), asked.end()) << path;
    read = ReadAll(source);
    EXPECT_EQ(read.Entries.count(server.Url("css/style.css")), 1u);
    EXPECT_EQ(read.Entries.count(server.Url("index.html")), 1u);
    EXPECT_FALSE(read.Report.Damaged) << read.Report.Summary;
}

} // namespace
} // namespace tarnhold
