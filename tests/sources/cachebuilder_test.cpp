// Caches written by the writer: read back identically by our reader and by
// libmsiecf's msiecfexport, deletions seen the same way by both, freed blocks
// reused, and the size limit of one index.
#include "mkcache/cachebuilder.h"
#include "mkcache/syntheticcache.h"
#include "platform/codepage.h"
#include "sources/indexdat/indexdatdeleter.h"
#include "sources/indexdat/indexdatsource.h"
#include "support/cache_test_helpers.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

const char* const kMsiecfexport = "/usr/bin/msiecfexport";

struct TExport {
    int Items = -1;
    std::vector<std::string> Urls, FileNames;
    std::string Stderr;
};

// msiecfexport's listing (it exits 0 even when items fail, so its stderr
// counts as much as its output).
TExport Export(const fs::path& index) {
    TExport ex;
    std::string out;
    const int rc =
        test::RunProgram({kMsiecfexport, "-c", "windows-932", index.string()}, &out, &ex.Stderr);
    EXPECT_EQ(rc, 0) << ex.Stderr;
    std::smatch m;
    if (std::regex_search(out, m, std::regex("Number of items: (\\d+)")))
        ex.Items = std::stoi(m[1]);
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Location\t", 0) == 0)
            ex.Urls.push_back(line.substr(line.find(": ") + 2));
        else if (line.rfind("Filename\t", 0) == 0)
            ex.FileNames.push_back(line.substr(line.find(": ") + 2));
    }
    return ex;
}

struct TBuilt {
    std::vector<TManifestEntry> Entries;
    std::vector<std::string> Urls; // of entries that must arrive
};

// A cache of every kind of entry the browsers store, plus nine URLs that
// share one hash set, so that the table needs a second page.
std::vector<TManifestEntry> FixtureEntries(const fs::path& contentDir) {
    std::vector<TManifestEntry> entries;
    auto add = [&](std::string url, std::string content, std::string headers,
                   std::uint32_t type = NORMAL_CACHE_ENTRY, const char* ext = "htm") {
        TManifestEntry e;
        e.Url = std::move(url);
        e.EntryType = type;
        e.Headers = std::move(headers);
        e.Extension = ext;
        ParseUtcTime("2013-04-20T09:12:40Z", e.LastModified);
        if (!content.empty()) {
            e.Content = contentDir / ("c" + std::to_string(entries.size()));
            test::WriteFileBytes(e.Content, content);
        }
        entries.push_back(std::move(e));
    };
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n~U:tarou\r\n";
    add("Cookie:tarou@www.example.test/", "id=1\n", "", COOKIE_CACHE_ENTRY | NORMAL_CACHE_ENTRY,
        "txt");
    add("http://www.example.test/", "<html>top</html>", ok);
    add("http://www.example.test/big.html", "<html>big</html>",
        "HTTP/1.1 200 OK\r\nX-Padding: " + std::string(6000, 'p') + "\r\n\r\n~U:tarou\r\n");
    add("http://www.example.test/list.asp?page=1&sort=new", "<html>list</html>", ok);
    add("http://www.example.test/redirect.asp", "",
        "HTTP/1.1 302 Found\r\nLocation: /\r\n\r\n~U:tarou\r\n");
    add("http://www.example.test/saved.html", "<html>saved</html>", ok,
        NORMAL_CACHE_ENTRY | STICKY_CACHE_ENTRY);
    // A Shift_JIS path: the cached file's name is ANSI text in the index.
    add("http://www.example.test/" + Utf8ToAnsi("日本語") + ".html", "<html>jp</html>", ok);
    add("ftp://files.example.test/pub/a.txt", "text", "", NORMAL_CACHE_ENTRY, "txt");
    entries.back().LastModified = FILETIME{}; // zero time
    for (int i = 0, found = 0; found < 9; ++i) {
        const std::string url = "http://set.example.test/p" + std::to_string(i) + ".html";
        if ((UrlCacheHash(url) & 0x3F) == 17) {
            add(url, "<html>" + url + "</html>", ok);
            ++found;
        }
    }
    return entries;
}

void BuildCache(const fs::path& folder, const std::vector<TManifestEntry>& entries,
                TCacheBuildOptions options = {}) {
    TCacheBuilder builder(folder, options);
    for (const auto& e : entries)
        ASSERT_OK(builder.Add(e)) << e.Url;
    ASSERT_OK(builder.Finish());
}

void ExpectReadBack(const fs::path& folder, const std::vector<TManifestEntry>& entries) {
    TIndexDatSource source(folder);
    auto read = test::ReadAll(source);
    ASSERT_EQ(read.size(), entries.size());
    for (const auto& want : entries) {
        SCOPED_TRACE(want.Url);
        auto it = std::find_if(read.begin(), read.end(),
                               [&](const TRawCacheEntry& r) { return r.Url == want.Url; });
        ASSERT_NE(it, read.end());
        EXPECT_EQ(it->EntryType, want.EntryType);
        EXPECT_EQ(FileTimeToU64(it->LastModified), FileTimeToU64(want.LastModified));
        EXPECT_EQ(it->HeaderBlock, want.Headers);
        EXPECT_EQ(it->FileExtension, want.Extension);
        if (want.Content.empty()) {
            EXPECT_TRUE(it->LocalFileName.empty());
            EXPECT_EQ(it->Size, 0u);
        } else {
            EXPECT_EQ(test::ReadFileBytes(it->LocalFileName), test::ReadFileBytes(want.Content));
            EXPECT_EQ(it->Size, fs::file_size(want.Content));
            EXPECT_TRUE(it->LocalFileName.starts_with(folder.string()));
        }
    }
}

TEST(CacheBuilder, ReadBackByOurReaderAndByMsiecfexport) {
    test::TTempDir tmp;
    fs::create_directories(tmp.Path() / "content");
    const auto entries = FixtureEntries(tmp.Path() / "content");
    const fs::path cache = tmp.Path() / "Content.IE5";
    BuildCache(cache, entries);
    const std::string bytes = test::ReadFileBytes(cache / "index.dat");
    EXPECT_TRUE(CheckIndexDatInvariants(bytes).Ok());
    EXPECT_EQ(TIndexDatView(bytes).HashPages().size(), 2u);
    ExpectReadBack(cache, entries);
    EXPECT_TRUE(fs::exists(cache / fs::directory_iterator(cache)->path().filename()));

    if (!fs::exists(kMsiecfexport))
        GTEST_SKIP() << "msiecfexport (libmsiecf-utils) is not installed";
    const TExport ex = Export(cache / "index.dat");
    EXPECT_EQ(ex.Stderr, "");
    EXPECT_EQ(ex.Items, static_cast<int>(entries.size()));
    TIndexDatSource source(cache);
    std::vector<std::string> ourUrls, ourNames;
    for (const auto& e : test::ReadAll(source)) {
        ourUrls.push_back(AnsiToUtf8(e.Url)); // msiecfexport decodes code page 932
        if (!e.LocalFileName.empty())
            ourNames.push_back(fs::path(e.LocalFileName).filename().string());
    }
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(sorted(ex.Urls), sorted(ourUrls));
    EXPECT_EQ(sorted(ex.FileNames), sorted(ourNames));
}

TEST(CacheBuilder, DeletedEntriesVanishForBothReadersAndTheirBlocksAreReused) {
    test::TTempDir tmp;
    fs::create_directories(tmp.Path() / "content");
    auto entries = FixtureEntries(tmp.Path() / "content");
    const fs::path cache = tmp.Path() / "Content.IE5";
    BuildCache(cache, entries);

    // One from the second hash page, a file-less one, the big one.
    const std::vector<std::string> doomed = {entries.back().Url,
                                             "http://www.example.test/redirect.asp",
                                             "http://www.example.test/big.html"};
    std::vector<fs::path> doomedFiles;
    {
        TIndexDatSource source(cache);
        for (const auto& e : test::ReadAll(source)) {
            if (std::find(doomed.begin(), doomed.end(), e.Url) != doomed.end() &&
                !e.LocalFileName.empty())
                doomedFiles.push_back(e.LocalFileName);
        }
    }
    ASSERT_EQ(doomedFiles.size(), 2u);
    const std::string before = test::ReadFileBytes(cache / "index.dat");
    std::vector<std::uint32_t> freedOffsets;
    for (const auto& url : doomed) {
        TIndexDatItem item;
        ASSERT_TRUE(TIndexDatView(before).FindUrl(url, item));
        freedOffsets.push_back(item.RecordOffset);
        ASSERT_OK(DeleteIndexDatEntry(cache / "index.dat", url)) << url;
    }
    std::erase_if(entries, [&](const TManifestEntry& e) {
        return std::find(doomed.begin(), doomed.end(), e.Url) != doomed.end();
    });
    for (const auto& f : doomedFiles)
        EXPECT_FALSE(fs::exists(f)) << f;
    const std::string after = test::ReadFileBytes(cache / "index.dat");
    EXPECT_TRUE(CheckIndexDatInvariants(after).Ok());
    EXPECT_EQ(after.size(), before.size());
    ExpectReadBack(cache, entries);

    if (fs::exists(kMsiecfexport)) {
        const TExport ex = Export(cache / "index.dat");
        EXPECT_EQ(ex.Stderr, "");
        EXPECT_EQ(ex.Items, static_cast<int>(entries.size()));
        for (const auto& url : doomed)
            EXPECT_EQ(std::count(ex.Urls.begin(), ex.Urls.end(), url), 0) << url;
    }

    // The writer fills the first freed run again, and the freed hash item.
    TCacheBuilder builder(cache);
    ASSERT_OK(builder.OpenExisting());
    TManifestEntry added;
    added.Url = "http://www.example.test/new.html";
    ASSERT_OK(builder.AddContent(added, "<html>new</html>"));
    ASSERT_OK(builder.Finish());
    const std::string reused = test::ReadFileBytes(cache / "index.dat");
    EXPECT_EQ(reused.size(), before.size());
    TIndexDatItem item;
    ASSERT_TRUE(TIndexDatView(reused).FindUrl(added.Url, item));
    EXPECT_EQ(item.RecordOffset, *std::min_element(freedOffsets.begin(), freedOffsets.end()));
    EXPECT_TRUE(CheckIndexDatInvariants(reused).Ok());
}

TEST(CacheBuilder, WineSignatureUsesWinesHashAndNames) {
    test::TTempDir tmp;
    TCacheBuildOptions options;
    options.Signature = TIndexDatSignature::Wine;
    TCacheBuilder builder(tmp.Path(), options);
    TManifestEntry e;
    e.Url = "http://www.example.test/dir/";
    e.Extension = "htm";
    ASSERT_OK(builder.AddContent(e, "x"));
    e.Url = "http://www.example.test/faq.html";
    ASSERT_OK(builder.AddContent(e, "y"));
    ASSERT_OK(builder.Finish());
    const std::string bytes = test::ReadFileBytes(tmp.Path() / "index.dat");
    TIndexDatView view(bytes);
    EXPECT_EQ(view.Signature(), TIndexDatSignature::Wine);
    for (const auto& item : view.LiveUrlItems()) {
        TIndexDatRecord r;
        ASSERT_TRUE(view.DecodeUrlRecord(item.RecordOffset, r));
        EXPECT_EQ(item.Key, WineUrlCacheHash(r.Url) & kIdxHashKeyMask);
        if (r.Url.ends_with("faq.html")) {
            EXPECT_EQ(r.FileName, "faq[0].htm");
        } else {
            EXPECT_EQ(r.FileName.size(), 12u); // random 8 characters + ".htm"
        }
    }
}

TEST(CacheBuilder, RefusesMoreEntriesThanOneIndexHolds) {
    test::TTempDir tmp;
    TCacheBuildOptions options;
    options.WriteFiles = false;
    TCacheBuilder builder(tmp.Path() / "too-many", options);
    const TError error = AddSyntheticEntries(builder, 100000);
    EXPECT_EQ(error.Code(), ENOSPC);
    EXPECT_GT(builder.Count(), 40000u);
    EXPECT_NE(error.Text().find("at most " + std::to_string(builder.Count()) + " "),
              std::string::npos)
        << error.Text();
    // The entry that did not fit left no trace; the index is full and sound.
    EXPECT_EQ(builder.Image().Bytes().size(), kIdxMaxFileSize);
    EXPECT_TRUE(CheckIndexDatInvariants(builder.Image().Bytes()).Ok());
    EXPECT_EQ(TIndexDatView(builder.Image().Bytes()).LiveUrlItems().size(), builder.Count());
    EXPECT_FALSE(fs::exists(tmp.Path() / "too-many"));
}

TEST(CacheBuilder, ManifestErrorsNameTheirLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"file a.html\n", "line 1: \"file\" before the first entry"},
        {"entry http://a.test/\n  type NORMAL | BOGUS\n", "line 2: unknown entry type"},
        {"entry http://a.test/\n\n  modified 2013-13-01T00:00:00Z\n", "line 3: time must be"},
        {"entry http://a.test/\n  headers bad\\q\n", "line 2: bad escape"},
        {"entry http://a.test/\n  colour red\n", "line 2: unknown key"},
    };
    for (const auto& c : cases) {
        std::vector<TManifestEntry> entries;
        const TError error = ParseCacheManifest(c.text, "/base", entries);
        EXPECT_EQ(error.Code(), EINVAL) << c.text;
        EXPECT_EQ(error.Text().rfind(c.error, 0), 0u) << error.Text();
    }
    std::vector<TManifestEntry> entries;
    ASSERT_OK(ParseCacheManifest("# c\nentry http://a.test/x?y=1\n file site/x.html\n type "
                                 "STICKY|0x40\n ext .htm\n header HTTP/1.1 200 OK\n header\n "
                                 "headers ~U:a\\r\\n\\x41\n",
                                 "/base", entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Content, fs::path("/base/site/x.html"));
    EXPECT_EQ(entries[0].EntryType, 0x44u);
    EXPECT_EQ(entries[0].Extension, "htm");
    EXPECT_EQ(entries[0].Headers, "HTTP/1.1 200 OK\r\n\r\n~U:a\r\nA");
}

// The build's own tool on the demo manifest: a cache both readers agree on.
TEST(CacheBuilder, DemoManifestThroughTheTool) {
    test::TTempDir tmp;
    std::string out, err;
    ASSERT_EQ(test::RunProgram({TARNHOLD_MKCACHE,
                                std::string(TARNHOLD_SOURCE_DIR) + "/samples/cache.manifest",
                                (tmp.Path() / "demo").string()},
                               &out, &err),
              0)
        << err;
    TIndexDatSource source(tmp.Path() / "demo");
    const auto entries = test::ReadAll(source);
    EXPECT_EQ(entries.size(), 15u);
    // Writing over an existing cache is refused.
    EXPECT_EQ(test::RunProgram({TARNHOLD_MKCACHE,
                                std::string(TARNHOLD_SOURCE_DIR) + "/samples/cache.manifest",
                                (tmp.Path() / "demo").string()},
                               &out, &err),
              1);
    if (fs::exists(kMsiecfexport)) {
        const TExport ex = Export(tmp.Path() / "demo/index.dat");
        EXPECT_EQ(ex.Items, 15);
        EXPECT_EQ(ex.Stderr, "");
    }
}

} // namespace
} // namespace tarnhold
