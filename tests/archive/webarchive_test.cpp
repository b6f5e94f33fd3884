// Web archive export: the record pieces as units, and whole exports read
// back by readers that share no code with the writer: the tests' own
// checker (warccheck.py: every digest, every length, every index offset),
// warcio's indexer, and ReplayWeb.page in headless Chromium.
#include "archive/warcwriter.h"
#include "archive/webarchive.h"
#include "cli/cli_helpers.h"
#include "sources/chromium/chromiumcache.h"
#include "sources/firefox/firefoxcache.h"
#include "support/cache_test_helpers.h"
#include "support/chromiumentrywriter.h"
#include "support/firefoxentrywriter.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/wait.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;
using test::TChromiumEntrySpec;

const fs::path kBrowsers = fs::path(TARNHOLD_TEST_DATA) / "browsers";
const fs::path kChecker = fs::path(TARNHOLD_SOURCE_DIR) / "tests/archive/warccheck.py";

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct TRun {
    int Exit = -1;
    std::string Out;
};

// Runs a shell command; standard error goes to the test's own.
TRun RunShell(const std::string& command) {
    TRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        run.Out.append(buf, n);
    const int status = ::pclose(pipe);
    run.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Sha1Hex(std::string_view data) {
    TSha1 sha;
    sha.Update(data);
    return HexText(sha.Digest());
}

// What the checker read: the records (by type and URI, in order) and the
// pages, each one flat JSON object.
struct TChecked {
    int Exit = -1;
    std::vector<std::map<std::string, std::string>> Records;
    std::vector<std::map<std::string, std::string>> Pages;
    // The records of one type and URI, in the file's order.
    std::vector<std::map<std::string, std::string>> Of(const std::string& type,
                                                       const std::string& uri) const {
        std::vector<std::map<std::string, std::string>> found;
        for (const auto& r : Records) {
            if (r.at("type") == type && r.count("uri") > 0 && r.at("uri") == uri)
                found.push_back(r);
        }
        return found;
    }
};

TChecked Check(const fs::path& file, const fs::path& extractTo = {}) {
    TChecked checked;
    std::string command = "python3 " + Quote(kChecker.string()) + " " + Quote(file.string());
    if (!extractTo.empty())
        command += " --extract " + Quote(extractTo.string());
    const TRun run = RunShell(command);
    checked.Exit = run.Exit;
    for (const std::string& line : test::Lines(run.Out)) {
        auto object = test::ParseJsonObject(line);
        if (!object)
            continue;
        (object->at("kind") == "page" ? checked.Pages : checked.Records).push_back(*object);
    }
    return checked;
}

// ---------------------------------------------------------------------------
// Units

TEST(WarcPieces, Base32AndDigestsHaveKnownValues) {
    EXPECT_EQ(Base32(""), "");
    EXPECT_EQ(Base32("f"), "MY======");
    EXPECT_EQ(Base32("foob"), "MZXW6YQ=");
    EXPECT_EQ(Base32("foobar"), "MZXW6YTBOI======");
    TSha1 sha1;
    EXPECT_EQ(WarcSha1(sha1.Digest()), "sha1:3I42H3S6NNFQ2MSVX7XZKYAYSCX5QBYJ");
    TSha256 sha256;
    sha256.Update("abc");
    EXPECT_EQ(HexText(sha256.Digest()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(WarcPieces, TargetUrisArePercentEncodedAscii) {
    const struct {
        const char* Name;
        std::string Url;
        std::string Uri;
    } cases[] = {
        {"plain", "http://h.test/a/b.html?x=1&y=2", "http://h.test/a/b.html?x=1&y=2"},
        {"escapes kept", "http://h.test/%E6%97%A5.html", "http://h.test/%E6%97%A5.html"},
        {"UTF-8 path", "http://h.test/\xE6\x97\xA5/a b.html", "http://h.test/%E6%97%A5/a%20b.html"},
        {"Shift-JIS bytes", "http://h.test/\x93\xfa.htm", "http://h.test/%93%FA.htm"},
        {"control characters", std::string("http://h.test/a\r\nWARC-Type: x\x01"),
         "http://h.test/a%0D%0AWARC-Type:%20x%01"},
        {"a lone percent", "http://h.test/100%/x%4", "http://h.test/100%25/x%254"},
        {"characters no URI holds", "http://h.test/<\"{|}>^`\\",
         "http://h.test/%3C%22%7B%7C%7D%3E%5E%60%5C"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeTargetUri(c.Url), c.Uri) << c.Name;
}

TEST(WarcPieces, SurtKeysSortAsArchivesDo) {
    const struct {
        const char* Uri;
        const char* Key;
    } cases[] = {
        {"http://www.Example.com/A/b.html", "com,example)/a/b.html"},
        {"https://www2.example.com", "com,example)/"},
        {"http://example.com:8080/x?b=2&a=1&c", "com,example:8080)/x?a=1&b=2&c"},
        {"http://example.com:80/", "com,example)/"},
        {"http://127.0.0.1:8765/img/logo.png", "1,0,0,127:8765)/img/logo.png"},
        {"http://user@h.test/#frag", "test,h)/"},
        {"ftp://h.test/x", "ftp://h.test/x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SurtKey(c.Uri), c.Key) << c.Uri;
}

TEST(WarcPieces, StoredHeadsBecomeHeadsEveryReaderParses) {
    const struct {
        const char* Name;
        std::string Stored;
        std::string Text;
        int Status;
    } cases[] = {
        {"as stored", "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n",
         "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n\r\n", 404},
        {"LF only and blanks", "HTTP/1.0 200 OK\nA:  b  \n\nC:d\n",
         "HTTP/1.0 200 OK\r\nA: b\r\nC: d\r\n\r\n", 200},
        {"no status line", "Content-Type: image/png\r\n",
         "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n\r\n", 200},
        {"HTTP/2 without reason", "HTTP/2 301\r\nLocation: /x\r\n",
         "HTTP/1.1 301 -\r\nLocation: /x\r\n\r\n", 301},
        {"lines that are no fields",
         "HTTP/1.1 200 OK\r\nno colon\r\n: empty\r\nbad name: v\r\nX: a\x01z\r\n",
         "HTTP/1.1 200 OK\r\nX: a z\r\n\r\n", 200},
        {"a status line that is none", "HTTP/1.1 abc\r\nX: 1\r\n",
         "HTTP/1.1 200 OK\r\nX: 1\r\n\r\n", 200},
    };
    for (const auto& c : cases) {
        const THttpHead head = ParseStoredHead(c.Stored);
        EXPECT_EQ(head.Text(), c.Text) << c.Name;
        EXPECT_EQ(head.Status, c.Status) << c.Name;
    }
}

// ---------------------------------------------------------------------------
// Exports read back

// A Chromium cache of every case the export must get right.
class TEdgeCache {
public:
    TEdgeCache() {
        test::WriteChromiumIndex(dir_.Path());
        std::size_t n = 0;
        auto add = [&](const std::string& url, const std::string& head, const std::string& body,
                       const std::string& site = "http://h.test", std::int64_t time = 0) {
            TChromiumEntrySpec spec;
            spec.Key = "1/0/_dk_" + site + " " + site + " " + url;
            spec.Head = head;
            spec.Body = body;
            if (time != 0)
                spec.ResponseTime = time;
            return test::WriteChromiumEntry(dir_.Path(), ++n, spec);
        };
        add("http://h.test/index.html",
            "HTTP/1.1 200 OK\nContent-Type: text/html; charset=utf-8\nTransfer-Encoding: chunked\n",
            kPage);
        add("http://h.test/gz.html",
            "HTTP/1.1 200 OK\nContent-Type: text/html\nContent-Encoding: gzip\nContent-Length: " +
                std::to_string(Gz().size()) + "\n",
            Gz());
        add("http://h.test/br.css",
            "HTTP/1.1 200 OK\nContent-Type: text/css\nContent-Encoding: br\n", Br());
        add("http://h.test/old.html", "HTTP/1.1 301 Moved Permanently\nLocation: /index.html\n",
            "");
        add("http://h.test/\xE6\x97\xA5\xE6\x9C\xAC/page.html?q=1&a=%E3%83%86",
            "HTTP/1.1 200 OK\nContent-Type: text/html\n", "<head><title>query</title></head>");
        add("http://h.test/empty.txt", "HTTP/1.1 200 OK\nContent-Type: text/plain\n", "");
        // One image loaded by two sites: the same bytes twice, and a third
        // copy that changed.
        add("http://h.test/shared.png", "HTTP/1.1 200 OK\nContent-Type: image/png\n", kImage,
            "http://h.test", 13411756800000000);
        add("http://h.test/shared.png", "HTTP/1.1 200 OK\nContent-Type: image/png\n", kImage,
            "http://a.test", 13411756700000000);
        add("http://h.test/shared.png", "HTTP/1.1 200 OK\nContent-Type: image/png\n", "other",
            "http://b.test", 13411756600000000);
        // A body too large to be checked at a refresh, damaged afterwards:
        // its checksum fails when the export reads it.
        const fs::path damaged = add("http://h.test/damaged.bin",
                                     "HTTP/1.1 200 OK\nContent-Type: application/octet-stream\n",
                                     std::string(200000, 'd'));
        std::string bytes = test::ReadFileBytes(damaged);
        const std::size_t at = bytes.find(std::string(1000, 'd'));
        bytes[at + 500] = 'X';
        test::WriteFileBytes(damaged, bytes);
    }
    const fs::path& Path() const { return dir_.Path(); }

    static constexpr const char* kPage =
        "<html><head><title>Top</title></head><body>top</body></html>";
    static constexpr const char* kCss = "body { color: red; }\n";
    static constexpr const char* kImage = "\x89PNG not really an image";
    static std::string GzPlain() {
        return "<head><title>gzip</title></head>" + std::string(300, 'g');
    }
    static std::string Gz() { return test::EncodeBody("gzip", GzPlain()); }
    static std::string Br() { return test::EncodeBody("br", kCss); }

private:
    test::TTempDir dir_;
};

std::unique_ptr<TWebCacheTree> ChromiumTree(const fs::path& folder) {
    auto tree = std::make_unique<TWebCacheTree>(std::make_unique<TChromiumCacheSource>(folder));
    (void)tree->Refresh();
    return tree;
}

TEST(WebArchiveExport, EveryCaseIsWrittenAsReadersExpectInBothBodyModes) {
    TEdgeCache cache;
    test::TTempDir out;
    for (bool decoded : {false, true}) {
        SCOPED_TRACE(decoded ? "decoded" : "as received");
        auto tree = ChromiumTree(cache.Path());
        TWebCacheTreeNode* site = tree->FindFolderByUrl("http://h.test/");
        ASSERT_NE(site, nullptr);
        const fs::path file = out.Path() / (decoded ? "decoded.wacz" : "received.wacz");
        TArchiveOptions options;
        options.Decoded = decoded;
        TArchiveStats stats;
        ASSERT_OK(ExportWebArchive(*tree, {site}, file, options, stats));
        EXPECT_EQ(stats.Responses, 8);
        EXPECT_EQ(stats.Revisits, 1);
        EXPECT_EQ(stats.Skipped, 1);
        ASSERT_EQ(stats.Problems.size(), 1u);
        EXPECT_EQ(stats.Problems[0].Url, "http://h.test/damaged.bin");

        const fs::path extracted = out.Path() / (decoded ? "decoded" : "received");
        const TChecked c = Check(file, extracted);
        ASSERT_EQ(c.Exit, 0) << "the checker found problems (on standard error)";

        auto one = [&](const std::string& uri) {
            const auto found = c.Of("response", uri);
            EXPECT_EQ(found.size(), 1u) << uri;
            return found.empty() ? std::map<std::string, std::string>{} : found[0];
        };
        auto page = one("http://h.test/index.html");
        EXPECT_EQ(page["payload_sha1"], Sha1Hex(TEdgeCache::kPage));
        EXPECT_EQ(page["content_length"], std::to_string(std::string(TEdgeCache::kPage).size()))
            << "a de-chunked body gets its length";

        auto gz = one("http://h.test/gz.html");
        auto br = one("http://h.test/br.css");
        if (decoded) {
            EXPECT_EQ(gz["payload_sha1"], Sha1Hex(TEdgeCache::GzPlain()));
            EXPECT_EQ(gz["content_encoding"], "");
            EXPECT_EQ(gz["content_length"], std::to_string(TEdgeCache::GzPlain().size()));
            EXPECT_EQ(br["payload_sha1"], Sha1Hex(TEdgeCache::kCss));
            EXPECT_EQ(br["content_encoding"], "");
        } else {
            EXPECT_EQ(gz["payload_sha1"], Sha1Hex(TEdgeCache::Gz()));
            EXPECT_EQ(gz["content_encoding"], "gzip");
            EXPECT_EQ(gz["content_length"], std::to_string(TEdgeCache::Gz().size()));
            EXPECT_EQ(br["payload_sha1"], Sha1Hex(TEdgeCache::Br()));
            EXPECT_EQ(br["content_encoding"], "br");
        }
        auto redirect = one("http://h.test/old.html");
        EXPECT_EQ(redirect["status"], "301");
        EXPECT_EQ(redirect["location"], "/index.html");
        EXPECT_EQ(redirect["payload_length"], "0");
        EXPECT_EQ(one("http://h.test/empty.txt")["payload_length"], "0");
        EXPECT_EQ(one("http://h.test/%E6%97%A5%E6%9C%AC/page.html?q=1&a=%E3%83%86")["status"],
                  "200");

        // The newest copy, the same bytes again as a revisit of it, the
        // changed copy as a response of its own.
        const auto shared = c.Of("response", "http://h.test/shared.png");
        const auto revisit = c.Of("revisit", "http://h.test/shared.png");
        ASSERT_EQ(shared.size(), 2u);
        ASSERT_EQ(revisit.size(), 1u);
        EXPECT_EQ(shared[0].at("payload_sha1"), Sha1Hex(TEdgeCache::kImage));
        EXPECT_EQ(shared[1].at("payload_sha1"), Sha1Hex("other"));
        EXPECT_EQ(revisit[0].at("refers_to_uri"), "http://h.test/shared.png");
        EXPECT_EQ(revisit[0].at("refers_to_date"), shared[0].at("date"));
        EXPECT_TRUE(c.Of("response", "http://h.test/damaged.bin").empty());

        std::set<std::string> pages;
        for (const auto& p : c.Pages)
            pages.insert(p.at("url") + " " + p.at("title"));
        EXPECT_EQ(pages, (std::set<std::string>{
                             "http://h.test/index.html Top", "http://h.test/gz.html gzip",
                             "http://h.test/%E6%97%A5%E6%9C%AC/page.html?q=1&a=%E3%83%86 query"}));

        // warcio reads every record of the WARC and indexes it as the
        // package's own index does.
        const TRun warcio = RunShell(
            "node " + Quote(std::string(TARNHOLD_NPM_DIR) + "/node_modules/warcio/dist/cli.js") +
            " cdx-index " + Quote((extracted / "archive/data.warc.gz").string()));
        ASSERT_EQ(warcio.Exit, 0);
        const std::string ours = test::ReadFileBytes(extracted / "indexes/index.cdx");
        std::set<std::string> theirs, mine;
        auto fields = [](const std::string& line) {
            const std::size_t space = line.find(' ', line.find(' ') + 1);
            auto json = test::ParseJsonObject(line.substr(space + 1));
            if (!json)
                return "unreadable: " + line;
            return line.substr(0, space) + " " + (*json)["url"] + " " + (*json)["offset"] + " " +
                   (*json)["length"] + " " + (*json)["status"];
        };
        for (const std::string& line : test::Lines(warcio.Out))
            theirs.insert(fields(line));
        for (const std::string& line : test::Lines(ours))
            mine.insert(fields(line));
        EXPECT_EQ(theirs, mine);
        EXPECT_EQ(mine.size(), 9u) << "8 responses and a revisit";
    }
}

TEST(WebArchiveExport, AWarcFileIsReadRecordByRecord) {
    TEdgeCache cache;
    test::TTempDir out;
    auto tree = ChromiumTree(cache.Path());
    const fs::path file = out.Path() / "site.warc.gz";
    TArchiveStats stats;
    ASSERT_OK(
        ExportWebArchive(*tree, {tree->FindNodeByUrl("http://h.test/gz.html")}, file, {}, stats));
    EXPECT_EQ(stats.Responses, 1);
    const TChecked c = Check(file);
    ASSERT_EQ(c.Exit, 0);
    ASSERT_EQ(c.Records.size(), 2u);
    EXPECT_EQ(c.Records[0].at("type"), "warcinfo");
    EXPECT_NE(c.Records[0].at("fields").find("software: Tarnhold"), std::string::npos);
    const TRun warcio = RunShell(
        "node " + Quote(std::string(TARNHOLD_NPM_DIR) + "/node_modules/warcio/dist/cli.js") +
        " index " + Quote(file.string()));
    ASSERT_EQ(warcio.Exit, 0);
    EXPECT_EQ(test::Lines(warcio.Out).size(), 2u);
}

TEST(WebArchiveExport, ABodyLargerThanMemoryHoldsIsWrittenWhole) {
    // A few kilobytes of gzip that decode to more than is held in memory:
    // the body goes through a temporary file.
    test::TTempDir cache, out;
    test::WriteChromiumIndex(cache.Path());
    const std::string plain(9u << 20, 'z');
    TChromiumEntrySpec spec;
    spec.Key = "1/0/_dk_http://h.test http://h.test http://h.test/big.txt";
    spec.Head = "HTTP/1.1 200 OK\nContent-Type: text/plain\nContent-Encoding: gzip\n";
    spec.Body = test::EncodeBody("gzip", plain);
    test::WriteChromiumEntry(cache.Path(), 1, spec);
    auto tree = ChromiumTree(cache.Path());
    const fs::path file = out.Path() / "big.warc.gz";
    TArchiveOptions options;
    options.Decoded = true;
    TArchiveStats stats;
    ASSERT_OK(ExportWebArchive(*tree, {tree->FindNodeByUrl("http://h.test/big.txt")}, file, options,
                               stats));
    EXPECT_EQ(stats.PayloadBytes, plain.size());
    const TChecked c = Check(file);
    ASSERT_EQ(c.Exit, 0);
    const auto big = c.Of("response", "http://h.test/big.txt");
    ASSERT_EQ(big.size(), 1u);
    EXPECT_EQ(big[0].at("payload_sha1"), Sha1Hex(plain));
    EXPECT_EQ(big[0].at("content_length"), std::to_string(plain.size()));
    EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 1);
}

TEST(WebArchiveExport, FirefoxCopiesOfAUrlAreRevisitsOrResponses) {
    // Firefox keeps one entry per key; the older ones are read from their
    // files when the export asks for them.
    test::TTempDir cache, out;
    const fs::path cache2 = cache.Path() / "cache2";
    fs::create_directories(cache2 / "entries");
    const struct {
        const char* Key;
        const char* Body;
        std::uint32_t Written;
    } copies[] = {
        {"O^partitionKey=%28http%2Ch.test%29,:http://h.test/logo.gif", "GIF89a same", 1796650900},
        {"O^partitionKey=%28http%2Ca.test%29,:http://h.test/logo.gif", "GIF89a same", 1796650800},
        {"a,:http://h.test/logo.gif", "GIF89a changed", 1796650700},
    };
    std::size_t n = 0;
    for (const auto& c : copies) {
        test::TFirefoxEntrySpec spec;
        spec.Key = c.Key;
        spec.Body = c.Body;
        spec.ResponseHead = "HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\n";
        spec.LastModified = c.Written;
        test::WriteFirefoxEntry(cache2, ++n, spec);
    }
    auto tree = std::make_unique<TWebCacheTree>(std::make_unique<TFirefoxCacheSource>(cache2));
    ASSERT_OK(tree->Refresh());
    const fs::path file = out.Path() / "logo.warc.gz";
    TArchiveStats stats;
    ASSERT_OK(
        ExportWebArchive(*tree, {tree->FindNodeByUrl("http://h.test/logo.gif")}, file, {}, stats));
    EXPECT_EQ(stats.Responses, 2);
    EXPECT_EQ(stats.Revisits, 1);
    const TChecked c = Check(file);
    ASSERT_EQ(c.Exit, 0);
    const auto responses = c.Of("response", "http://h.test/logo.gif");
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(responses[0].at("payload_sha1"), Sha1Hex("GIF89a same"));
    EXPECT_EQ(responses[1].at("payload_sha1"), Sha1Hex("GIF89a changed"));
    EXPECT_EQ(c.Of("revisit", "http://h.test/logo.gif").size(), 1u);
}

TEST(WebArchiveExport, AFailedOrCancelledExportLeavesNothing) {
    TEdgeCache cache;
    test::TTempDir out;
    auto tree = ChromiumTree(cache.Path());
    std::vector<TWebCacheTreeNode*> site{tree->FindFolderByUrl("http://h.test/")};
    const fs::path target = out.Path() / "site.wacz";
    test::WriteFileBytes(target, "the file that was there");
    TArchiveStats stats;
    int calls = 0;
    TError error = ExportWebArchive(
        *tree, site, target, {}, stats,
        [&](int, int, const TWebCacheTreeNode*, std::uint64_t) { return ++calls < 3; });
    EXPECT_EQ(error.Code(), ECANCELED);
    EXPECT_EQ(test::ReadFileBytes(target), "the file that was there");
    EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 1)
        << "no temporary file is left";
    // A folder that is not there: nothing to write into.
    error = ExportWebArchive(*tree, site, out.Path() / "missing/site.warc.gz", {}, stats);
    EXPECT_EQ(error.Code(), ENOENT);
    // A name of no archive format.
    error = ExportWebArchive(*tree, site, out.Path() / "site.zip", {}, stats);
    EXPECT_EQ(error.Code(), EINVAL);
    EXPECT_EQ(std::distance(fs::directory_iterator(out.Path()), fs::directory_iterator()), 1);
}

// ---------------------------------------------------------------------------
// The command line on the real browsers' caches

TEST(WebArchiveCli, RealCachesExportAndReplay) {
    test::TTempDir out;
    const struct {
        const char* Name;
        fs::path Cache;
        std::set<std::string> Titles; // some of the pages' titles
    } caches[] = {
        {"chromium",
         kBrowsers / "chromium",
         {"Brotli page", "Zipped page",
          "\xE3\x82\xB7\xE3\x83\x95\xE3\x83\x88JIS\xE3\x81\xAE\xE3\x83\x9A\xE3\x83\xBC\xE3\x82"
          "\xB8"}},
        {"firefox", kBrowsers / "firefox", {}},
    };
    for (const auto& c : caches) {
        SCOPED_TRACE(c.Name);
        const fs::path file = out.Path() / (std::string(c.Name) + ".wacz");
        const test::TCliResult r =
            test::RunCli({"--cache", c.Cache.string(), "export", "http://127.0.0.1:8765/", "--to",
                          file.string(), "--json"});
        ASSERT_EQ(r.ExitCode, 0) << r.Err;
        auto summary = test::ParseJsonObject(test::Lines(r.Out).at(0));
        ASSERT_TRUE(summary);
        EXPECT_EQ((*summary)["skipped"], "0");
        EXPECT_EQ((*summary)["file_bytes"], std::to_string(fs::file_size(file)));
        const TChecked checked = Check(file);
        ASSERT_EQ(checked.Exit, 0);
        std::set<std::string> titles;
        for (const auto& p : checked.Pages)
            titles.insert(p.at("title"));
        for (const std::string& t : c.Titles)
            EXPECT_EQ(titles.count(t), 1u) << t;
        EXPECT_EQ(std::to_string(checked.Pages.size()), (*summary)["pages"]);

        const TRun replay = RunShell(
            "python3 " + Quote(std::string(TARNHOLD_SOURCE_DIR) + "/tests/archive/replaycheck.py") +
            " " + Quote(std::string(TARNHOLD_NPM_DIR) + "/replaywebpage") + " " +
            Quote(file.string()) + " http://127.0.0.1:8765/index.html");
        if (replay.Exit == 77) {
            std::printf("replay in ReplayWeb.page skipped: no chromium installed\n");
            continue;
        }
        EXPECT_EQ(replay.Exit, 0) << replay.Out;
    }
}

TEST(WebArchiveCli, UsageAndFailuresAreSaid) {
    test::TTempDir out;
    const std::string cache = (kBrowsers / "chromium").string();
    const struct {
        const char* Name;
        std::vector<std::string> Args;
        int Exit;
        const char* Err;
    } cases[] = {
        {"no --to", {"export", "http://127.0.0.1:8765/"}, 2, "give --to"},
        {"no archive name",
         {"export", "http://127.0.0.1:8765/", "--to", "x.zip"},
         2,
         ".warc.gz or .wacz"},
        {"nothing named",
         {"export", "http://nowhere.test/", "--to", (out.Path() / "x.wacz").string()},
         1,
         "nowhere.test"},
        {"no folder to write in",
         {"export", "http://127.0.0.1:8765/", "--to", (out.Path() / "no/x.wacz").string()},
         1,
         "nothing written"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--cache", cache};
        args.insert(args.end(), c.Args.begin(), c.Args.end());
        const test::TCliResult r = test::RunCli(args);
        EXPECT_EQ(r.ExitCode, c.Exit) << c.Name << ": " << r.Err;
        EXPECT_NE(r.Err.find(c.Err), std::string::npos) << c.Name << ": " << r.Err;
    }
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

} // namespace
} // namespace tarnhold
