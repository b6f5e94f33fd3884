#include "cache/cachebody.h"
#include "cache/cachelocation.h"
#include "cache/chromiumcache.h"
#include "cache/webcache.h"
#include "cache_test_helpers.h"
#include "support/chromiumentrywriter.h"

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
        {"head fails its checksum", patched(eof0 + 12, "\x01\x02\x03\x04")},
        {"no body end record", patched(24 + spec.Key.size() + spec.Body.size(), "XXXXXXXX")},
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
    EXPECT_EQ(source.Counts().Damaged, static_cast<int>(std::size(cases)) + 2);
    EXPECT_EQ(source.Counts().DamagedFiles.size(), std::size(cases) + 2);
    EXPECT_NE(source.Describe().find("damaged"), std::string::npos);
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
         {"bodies stored only in part: 1 (first: " + test::ChromiumEntryName(2) + ")",
          "; 2 entries read"}},
        {"both",
         {"", test::ChromiumEntryBytes(spec("http://a.test", "/c", true))},
         true,
         1,
         {"1 of 2 entry files", "; bodies stored only in part: 1"}},
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
