// The cache commands of tarnhold-cli over copies of the Wine cache: entries,
// delete-entry and caches, and how the cache is found.
#include "cli/cli_helpers.h"
#include "support/chromiumentrywriter.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace tarnhold::test {
namespace {

namespace fs = std::filesystem;

const fs::path kCache = TARNHOLD_TEST_DATA "/cache/wine-ie-cache/Content.IE5";
const char kInetCache[] = "AppData/Local/Microsoft/Windows/INetCache/Content.IE5";

class TScratch {
public:
    TScratch() {
        char name[] = "/tmp/trh-cli-cacheXXXXXX";
        path_ = ::mkdtemp(name) != nullptr ? fs::path(name) : fs::path();
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }
    // A writable copy of the Wine cache at folder below the scratch folder.
    fs::path CopyCache(const fs::path& folder) const {
        fs::create_directories(path_ / folder);
        fs::copy(kCache, path_ / folder, fs::copy_options::recursive);
        return path_ / folder;
    }

private:
    fs::path path_;
};

std::size_t CountLines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(CliCache, EntriesKeepTheirColumns) {
    TCliResult r = RunCli({"--cache", kCache.string(), "entries"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Err, "") << "a cache named with --cache is not announced";
    EXPECT_EQ(CountLines(r.Out), 31u);
    EXPECT_NE(r.Out.find("http://www.shop.test/faq.html\t591\t2012/10/28 16:19\ttext/html\t" +
                         (kCache / "LF9FM8KU/faq[0].htm").string() + "\n"),
              std::string::npos)
        << r.Out;

    TCliResult all = RunCli({"entries", "--all", "--cache", kCache.string()});
    ASSERT_EQ(all.ExitCode, 0) << all.Err;
    EXPECT_EQ(CountLines(all.Out), 35u);
    EXPECT_NE(all.Out.find("cookie:root@www.shop.test/catalog/\t86\t"), std::string::npos);
    EXPECT_NE(all.Out.find("\t0x00100001\tskipped\n"), std::string::npos)
        << "the flags come last, so the columns stay where they are";
    EXPECT_NE(all.Out.find("faq[0].htm\t0x00000001\tok\n"), std::string::npos);
}

TEST(CliCache, DeleteEntryChecksAsksAndSaysWhatItRemoved) {
    TScratch tmp;
    const fs::path cache = tmp.CopyCache("Content.IE5");
    const std::string c = cache.string();
    const std::string faq = "http://www.shop.test/FAQ.html";
    const fs::path faqFile = cache / "DZHPG5TO/FAQ[0].htm";

    // Without a terminal to ask on, only --yes deletes.
    TCliResult piped = RunCli({"--cache", c, "delete-entry", faq});
    EXPECT_EQ(piped.ExitCode, 2);
    EXPECT_NE(piped.Err.find("--yes"), std::string::npos) << piped.Err;
    EXPECT_TRUE(fs::exists(faqFile));

    // An unknown URL is found out before anything is asked or deleted.
    TCliResult unknown =
        RunCli({"--cache", c, "delete-entry", faq, "http://nowhere.test/"}, {{}, {}, "y\n"});
    EXPECT_EQ(unknown.ExitCode, 1);
    EXPECT_NE(unknown.Err.find("http://nowhere.test/: no such entry"), std::string::npos)
        << unknown.Err;
    EXPECT_EQ(unknown.Err.find("[y/N]"), std::string::npos) << "not asked";
    EXPECT_TRUE(fs::exists(faqFile));

    // The question names the entry and its cached file; "n" keeps it.
    TCliResult declined = RunCli({"--cache", c, "delete-entry", faq}, {{}, {}, "n\n"});
    EXPECT_EQ(declined.ExitCode, 1);
    EXPECT_NE(declined.Err.find(faq + " (cached file " + faqFile.string() + ")"), std::string::npos)
        << declined.Err;
    EXPECT_TRUE(fs::exists(faqFile));

    TCliResult confirmed = RunCli({"--cache", c, "delete-entry", faq}, {{}, {}, "y\n"});
    EXPECT_EQ(confirmed.ExitCode, 0) << confirmed.Err;
    EXPECT_EQ(confirmed.Out, "deleted " + faq + " (cached file " + faqFile.string() + ")\n");
    EXPECT_FALSE(fs::exists(faqFile));

    // Several URLs, one typed decoded, one as stored.
    TCliResult two =
        RunCli({"delete-entry", "--yes", "--cache", c, "http://www.shop.test/セール/商品一覧.html",
                "http://www.shop.test/robots.txt"});
    EXPECT_EQ(two.ExitCode, 0) << two.Err;
    EXPECT_EQ(CountLines(two.Out), 2u) << two.Out;
    EXPECT_NE(two.Out.find("deleted http://www.shop.test/%E3%82%BB"), std::string::npos);

    // faq.html differs in case only: a deletion takes no such guess.
    TCliResult again = RunCli({"--cache", c, "delete-entry", "-y", faq});
    EXPECT_EQ(again.ExitCode, 1);
    EXPECT_NE(again.Err.find("no such entry"), std::string::npos) << again.Err;
    EXPECT_EQ(CountLines(RunCli({"--cache", c, "entries"}).Out), 28u);
}

TEST(CliCache, FindsCachesBelowAPrefixAndListsThem) {
    TScratch tmp;
    const fs::path prefix = tmp.Path() / "prefix";
    const fs::path amy = tmp.CopyCache(fs::path("prefix/drive_c/users/amy") / kInetCache);
    const fs::path bob = tmp.CopyCache(fs::path("prefix/drive_c/users/bob") / kInetCache);
    const TCliRunOptions asBob{{}, {{"USER", "bob"}, {"TARNHOLD_CACHE", std::nullopt}}, {}};

    TCliResult r = RunCli({"--cache", prefix.string(), "entries"}, asBob);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Err.find("reading " + (bob / "index.dat").string()), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("also found: " + (amy / "index.dat").string()), std::string::npos)
        << r.Err;
    EXPECT_EQ(CountLines(r.Out), 31u);

    TCliResult caches = RunCli({"caches", "--cache", prefix.string()}, asBob);
    ASSERT_EQ(caches.ExitCode, 0) << caches.Err;
    EXPECT_EQ(caches.Out.rfind((bob / "index.dat").string() + "\t31 entries\t", 0), 0u)
        << caches.Out;
    EXPECT_NE(caches.Out.find("\t(read)\n"), std::string::npos);
    EXPECT_NE(caches.Out.find((amy / "index.dat").string() + "\t31 entries\tuser amy"),
              std::string::npos)
        << caches.Out;

    // A Wine prefix in $WINEPREFIX, and one that does not exist.
    TCliRunOptions wine = asBob;
    wine.Env["WINEPREFIX"] = prefix.string();
    TCliResult fromWine = RunCli({"tree"}, wine);
    EXPECT_EQ(fromWine.ExitCode, 0) << fromWine.Err;
    EXPECT_NE(fromWine.Err.find("Wine prefix"), std::string::npos) << fromWine.Err;
    wine.Env["WINEPREFIX"] = (tmp.Path() / "gone").string();
    TCliResult gone = RunCli({"tree"}, wine);
    EXPECT_EQ(gone.ExitCode, 1);
    EXPECT_NE(gone.Err.find("WINEPREFIX"), std::string::npos) << gone.Err;
    EXPECT_EQ(gone.Out, "") << "no silent fall-back to the demo cache";

    TCliResult profile = RunCli({"--cache", (prefix / "drive_c/users/amy").string(), "tree"});
    EXPECT_EQ(profile.ExitCode, 0) << profile.Err;
    EXPECT_NE(profile.Err.find("reading " + (amy / "index.dat").string()), std::string::npos);
    TCliResult none = RunCli({"--cache", (tmp.Path() / "none").string(), "entries"});
    EXPECT_EQ(none.ExitCode, 1);
    EXPECT_NE(none.Err.find("No such file"), std::string::npos) << none.Err;
}

TEST(CliCache, ChromiumCacheIsListedWithKeysCopiedDecodedAndDeletedFrom) {
    TScratch tmp;
    const fs::path data = tmp.Path() / "chromium" / "Default" / "Cache" / "Cache_Data";
    fs::create_directories(data);
    fs::copy(TARNHOLD_TEST_DATA "/browsers/chromium", data, fs::copy_options::recursive);
    // An older copy of the top page under another site's key, and a page
    // whose gzip body is damaged.
    TChromiumEntrySpec older;
    older.Key = "1/0/_dk_http://other.test http://other.test http://127.0.0.1:8765/index.html";
    older.Body = "<html>older</html>";
    older.ResponseTime = 13000000000000000;
    WriteChromiumEntry(data, 1, older);
    TChromiumEntrySpec broken;
    broken.Key = "1/0/_dk_http://127.0.0.1 http://127.0.0.1 http://127.0.0.1:8765/broken.html";
    broken.Head = "HTTP/1.1 200 OK\nContent-Type: text/html\nContent-Encoding: gzip\n";
    broken.Body = "not gzip at all";
    WriteChromiumEntry(data, 2, broken);
    const std::string cache = data.parent_path().parent_path().string(); // the profile folder

    TCliResult caches = RunCli({"caches", "--cache", cache});
    ASSERT_EQ(caches.ExitCode, 0) << caches.Err;
    EXPECT_EQ(caches.Out, data.string() + "\t10 entries\t--cache [chromium]\t(read)\n");

    TCliResult entries = RunCli({"entries", "--cache", cache});
    ASSERT_EQ(entries.ExitCode, 0) << entries.Err;
    EXPECT_EQ(CountLines(entries.Out), 10u);
    EXPECT_EQ(entries.Out.find("older"), std::string::npos);
    TCliResult all = RunCli({"entries", "--all", "--cache", cache});
    ASSERT_EQ(all.ExitCode, 0) << all.Err;
    EXPECT_EQ(CountLines(all.Out), 11u);
    EXPECT_NE(all.Out.find("\tskipped\t1/0/_dk_http://other.test http://other.test "
                           "http://127.0.0.1:8765/index.html\n"),
              std::string::npos)
        << all.Out;

    const fs::path out = tmp.Path() / "out";
    TCliResult copy = RunCli({"copy", "http://127.0.0.1:8765/", "--to", out.string(), "--cache",
                              cache, "--overwrite", "all"});
    ASSERT_EQ(copy.ExitCode, 0) << copy.Err;
    EXPECT_NE(copy.Err.find("http://127.0.0.1:8765/broken.html: the body could not be decoded"),
              std::string::npos)
        << copy.Err;
    std::string zipped;
    for (const auto& e : fs::recursive_directory_iterator(out))
        if (e.path().filename() == "zipped.html")
            zipped = e.path().string();
    ASSERT_FALSE(zipped.empty());
    std::ifstream in(zipped, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("gzip line 59: the quick brown fox"), std::string::npos);

    TCliResult del =
        RunCli({"delete-entry", "--yes", "--cache", cache, "http://127.0.0.1:8765/index.html"});
    ASSERT_EQ(del.ExitCode, 0) << del.Err;
    EXPECT_FALSE(fs::exists(data / "b4aaafef0e99c80b_0"));
    EXPECT_FALSE(fs::exists(data / ChromiumEntryName(1)));
    TCliResult after = RunCli({"entries", "--cache", cache});
    EXPECT_EQ(CountLines(after.Out), 9u);
}

// Chrome's cache in a Wine prefix's Windows profile (the blockfile cache):
// found, listed with its keys, copied with decoded bodies, deleted from.
TEST(CliCache, ChromiumBlockfileCacheOfAWindowsProfile) {
    TScratch tmp;
    const fs::path prefix = tmp.Path() / "prefix";
    const fs::path data = prefix /
                          "drive_c/users/amy/AppData/Local/Google/Chrome/User Data/Default/"
                          "Cache/Cache_Data";
    fs::create_directories(data);
    fs::copy(TARNHOLD_TEST_DATA "/browsers/chromium-blockfile", data, fs::copy_options::recursive);
    const TCliRunOptions env{{},
                             {{"HOME", (tmp.Path() / "home").string()},
                              {"TARNHOLD_CACHE", std::nullopt},
                              {"WINEPREFIX", prefix.string()}},
                             {}};

    TCliResult caches = RunCli({"caches"}, env);
    ASSERT_EQ(caches.ExitCode, 0) << caches.Err;
    EXPECT_NE(caches.Out.find(data.string() + "\t14 entries\t"), std::string::npos) << caches.Out;
    EXPECT_NE(caches.Out.find("Google Chrome, profile Default, user amy"), std::string::npos)
        << caches.Out;

    TCliResult all = RunCli({"entries", "--all"}, env);
    ASSERT_EQ(all.ExitCode, 0) << all.Err;
    EXPECT_EQ(CountLines(all.Out), 14u);
    EXPECT_NE(all.Out.find("\tok\t1/0/_dk_http://127.0.0.1 http://127.0.0.1 "
                           "http://127.0.0.1:8765/index.html\n"),
              std::string::npos)
        << all.Out;

    const fs::path out = tmp.Path() / "out";
    TCliResult copy =
        RunCli({"copy", "http://127.0.0.1:8765/", "--to", out.string(), "--overwrite", "all"}, env);
    ASSERT_EQ(copy.ExitCode, 0) << copy.Err;
    std::string zipped;
    for (const auto& e : fs::recursive_directory_iterator(out))
        if (e.path().filename() == "zipped.html")
            zipped = e.path().string();
    ASSERT_FALSE(zipped.empty());
    std::ifstream in(zipped, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("gzip line 59: the quick brown fox"), std::string::npos);

    TCliResult del = RunCli({"delete-entry", "--yes", "http://127.0.0.1:8765/big.html"}, env);
    ASSERT_EQ(del.ExitCode, 0) << del.Err;
    EXPECT_FALSE(fs::exists(data / "f_000001"));
    TCliResult after = RunCli({"entries"}, env);
    EXPECT_EQ(CountLines(after.Out), 13u);
    EXPECT_EQ(after.Err.find("damaged"), std::string::npos) << after.Err;
}

// Nothing named, no Wine prefix: the user's browser caches come before the
// demo cache, the one written last first.
TEST(CliCache, ReadsTheNewestBrowserCacheBeforeTheDemo) {
    TScratch tmp;
    const fs::path home = tmp.Path() / "home";
    const fs::path chromium = home / ".cache/chromium/Default/Cache/Cache_Data";
    const fs::path firefox = home / ".mozilla/firefox/abc.default";
    fs::create_directories(chromium);
    fs::create_directories(firefox);
    fs::copy(TARNHOLD_TEST_DATA "/browsers/chromium", chromium, fs::copy_options::recursive);
    fs::copy(TARNHOLD_TEST_DATA "/browsers/firefox", firefox, fs::copy_options::recursive);
    const auto age = [](const fs::path& folder, int seconds) {
        const auto when = fs::file_time_type::clock::now() - std::chrono::seconds(seconds);
        for (const fs::path& p : {folder, folder / "index", folder / "entries",
                                  folder / "index-dir" / "the-real-index"}) {
            if (fs::exists(p))
                fs::last_write_time(p, when);
        }
    };
    age(chromium, 60);
    age(firefox / "cache2", 3600);
    const TCliRunOptions env{
        {},
        {{"HOME", home.string()}, {"TARNHOLD_CACHE", std::nullopt}, {"WINEPREFIX", std::nullopt}},
        {}};

    TCliResult r = RunCli({"entries"}, env);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Err.find("reading " + chromium.string() + " (Chromium, profile Default"),
              std::string::npos)
        << r.Err;
    EXPECT_NE(r.Err.find("also found: " + (firefox / "cache2").string()), std::string::npos)
        << r.Err;
    EXPECT_EQ(r.Err.find("demo"), std::string::npos) << r.Err;
    EXPECT_EQ(CountLines(r.Out), 9u);

    age(chromium, 7200);
    TCliResult newer = RunCli({"caches"}, env);
    ASSERT_EQ(newer.ExitCode, 0) << newer.Err;
    EXPECT_EQ(newer.Out.rfind((firefox / "cache2").string() + "\t", 0), 0u) << newer.Out;
    EXPECT_NE(newer.Out.find("[firefox]\t(read)\n"), std::string::npos) << newer.Out;
    EXPECT_NE(newer.Out.find("\tthe demo cache\n"), std::string::npos) << "listed last";
}

// An installed program reads the demo cache installed beside it, whether or
// not the build tree is still there.
TEST(CliCache, InstalledProgramReadsItsOwnDemoCache) {
    TScratch tmp;
    const fs::path prefix = tmp.Path() / "usr";
    fs::create_directories(prefix / "bin");
    fs::copy_file(TARNHOLD_CLI, prefix / "bin/tarnhold-cli");
    const fs::path demo = tmp.CopyCache("usr/share/tarnhold/demo-cache");
    TCliRunOptions env{{},
                       {{"HOME", (tmp.Path() / "home").string()},
                        {"TARNHOLD_CACHE", std::nullopt},
                        {"WINEPREFIX", std::nullopt}},
                       {}};
    env.Program = (prefix / "bin/tarnhold-cli").string();
    TCliResult r = RunCli({"entries"}, env);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Err,
              "tarnhold-cli: reading " + (demo / "index.dat").string() + " (the demo cache)\n");
    EXPECT_EQ(CountLines(r.Out), 31u) << "the installed one, not the build's";
}

// A cache deeper than the usual places below the folder named is found; a
// folder with none says how far it looked.
TEST(CliCache, FindsACacheDeeperBelowTheFolderNamed) {
    TScratch tmp;
    const fs::path cache = tmp.CopyCache("copied/Local/Microsoft/Windows/INetCache/Content.IE5");
    TCliResult r = RunCli({"--cache", (tmp.Path() / "copied").string(), "entries"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Err.find("reading " + (cache / "index.dat").string() +
                         " (--cache, an Internet Explorer cache found below it)"),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(CountLines(r.Out), 31u);

    // Many found: the first few are named, the rest counted.
    tmp.CopyCache("many/c00/x");
    for (int i = 1; i <= 10; ++i) {
        const fs::path other = tmp.Path() / "many" / ("c" + std::to_string(100 + i)) / "x";
        fs::create_directories(other);
        std::ofstream(other / "index.dat") << "not read";
    }
    TCliResult many = RunCli({"--cache", (tmp.Path() / "many").string(), "tree"});
    EXPECT_EQ(many.ExitCode, 0) << many.Err;
    EXPECT_EQ(std::count(many.Err.begin(), many.Err.end(), '\n'), 10) << many.Err;
    EXPECT_NE(many.Err.find("also found: 2 more ('tarnhold-cli caches' lists them)\n"),
              std::string::npos)
        << many.Err;

    fs::create_directories(tmp.Path() / "empty/a");
    TCliResult none = RunCli({"--cache", (tmp.Path() / "empty").string(), "tree"});
    EXPECT_EQ(none.ExitCode, 1);
    EXPECT_NE(none.Err.find("no cache found: looked for Internet Explorer's index.dat"),
              std::string::npos)
        << none.Err;
    EXPECT_NE(none.Err.find("up to 8 levels below it (2 folders looked into"), std::string::npos)
        << none.Err;
}

} // namespace
} // namespace tarnhold::test
