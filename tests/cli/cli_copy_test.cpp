// tarnhold-cli copy and delete over a copy of the cache Wine's WinINet wrote.
#include "cli/cli_helpers.h"
#include "support/chromiumentrywriter.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarnhold::test {
namespace {

namespace fs = std::filesystem;

const fs::path kCache = TARNHOLD_TEST_DATA "/cache/wine-ie-cache/Content.IE5";
const std::string kShop = "http$3a/www.shop.test";

struct TScratch {
    TScratch() {
        std::string pattern = (fs::temp_directory_path() / "tarnhold-cli-XXXXXX").string();
        EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
        Path = pattern;
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    fs::path Path;
};

std::string Read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TCliResult Copy(std::vector<std::string> args, const TCliRunOptions& options = {}) {
    args.insert(args.begin(), {"--cache", kCache.string(), "copy"});
    return RunCli(args, options);
}

// The files below a folder, as paths relative to it.
std::vector<std::string> FilesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file())
            files.push_back(fs::relative(e.path(), root).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The number before text in the summary line ("... 3 of 40 links ...").
int NumberBefore(const std::string& line, const std::string& text) {
    std::size_t end = line.find(text);
    if (end == std::string::npos)
        return -1;
    std::size_t start = line.rfind(' ', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    return std::atoi(line.substr(start, end - start).c_str());
}

TEST(CliCopy, WritesTheReportOfMissingLinksAsCsvOrHtml) {
    TScratch out;
    const fs::path csv = out.Path / "report.csv";
    const fs::path html = out.Path / "report.html";
    TCliResult r = Copy({"http://www.shop.test/", "--to", (out.Path / "site").string(), "--method",
                         "3", "--overwrite", "all", "--report", csv.string()});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    ASSERT_TRUE(Has(r.Out, " links missing from the cache (on ")) << r.Out;
    const int missing = NumberBefore(r.Out, " of ");
    const std::vector<std::string> rows = Lines(Read(csv));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], "page,page_copy,link,points_to,count\r");
    int counted = 0;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].rfind("\"http://", 0), 0u) << rows[i];
        counted += std::atoi(rows[i].substr(rows[i].rfind(',') + 1).c_str());
    }
    EXPECT_EQ(counted, missing) << "the report lists what the summary counts";

    r = Copy({"http://www.shop.test/", "--to", (out.Path / "site").string(), "--overwrite", "all",
              "--report", html.string(), "--reference-links"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(Read(html).rfind("<!DOCTYPE html>", 0), 0u);

    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
    };
    const std::vector<Case> cases = {
        {"unknown report type", {"--report", (out.Path / "r.txt").string()}, 2},
        {"report in a folder that is not there",
         {"--report", (out.Path / "no/such/r.csv").string()},
         1},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"http://www.shop.test/", "--to",
                                         (out.Path / "site").string(), "--overwrite", "all"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        r = Copy(args);
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.name << ": " << r.Err;
    }
}

TEST(CliCopy, CopiesASiteWithItsImagesAndSaysWhatItDid) {
    TScratch out;
    TCliResult r = Copy({"http://www.shop.test/catalog/", "--to", out.Path.string(), "--method",
                         "3", "--overwrite", "all"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind("copied 3 files (", 0), 0u) << r.Out;
    EXPECT_TRUE(Has(r.Out, "2 pages rewritten")) << r.Out;
    EXPECT_EQ(Lines(r.Out).size(), 1u) << "one summary line";
    const fs::path page = out.Path / kShop / "catalog/shoes/running/model-x.html";
    EXPECT_TRUE(Has(Read(page), R"(src="../../../../img.shop.test/products/shoe-01.png")"));
    EXPECT_TRUE(fs::is_regular_file(out.Path / "http$3a/img.shop.test/products/shoe-01.png"));

    // Folder method 1: the named folder lands in the destination itself.
    TScratch below;
    r = Copy({"http://www.shop.test/catalog/", "--to", below.Path.string(), "--folder", "1",
              "--overwrite", "none"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(fs::is_regular_file(below.Path / "catalog/full-headers.html"));

    // Again with "none": everything stays.
    r = Copy({"http://www.shop.test/catalog/", "--to", below.Path.string(), "--folder", "1",
              "--overwrite", "none"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "copied 0 files")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "2 kept")) << r.Out;

    TCliResult json = Copy({"http://www.shop.test/catalog/", "--to", below.Path.string(),
                            "--folder", "1", "--overwrite", "all", "--json"});
    ASSERT_EQ(Lines(json.Out).size(), 1u) << json.Out;
    auto summary = ParseJsonObject(Lines(json.Out)[0]);
    ASSERT_TRUE(summary.has_value()) << json.Out;
    EXPECT_EQ((*summary)["done"], "true");
    EXPECT_EQ((*summary)["files"], "2");
    EXPECT_EQ((*summary)["pages"], "2");
    EXPECT_EQ((*summary)["destination"], below.Path.string());
}

// The same copy whatever form the operands take: the folder as tree prints
// it or percent-encoded, with and without its final "/", a file by its
// stored or decoded URL, and without the scheme under --no-scheme.
TEST(CliCopy, ADamagedBodyIsCopiedNamedAndEndsWithExitOne) {
    // A Chromium entry whose large body fails its checksum: the refresh,
    // which checks only small bodies, lists it as sound; the copy reads it
    // whole and finds it out.
    TScratch scratch;
    const fs::path cache = scratch.Path / "Cache_Data";
    fs::create_directories(cache);
    WriteChromiumIndex(cache);
    TChromiumEntrySpec big;
    big.Key = "1/0/_dk_http://h.test http://h.test http://h.test/big.png";
    big.Head = "HTTP/1.1 200 OK\nContent-Type: image/png\n";
    big.Body.assign(300000, 'p');
    std::string bytes = ChromiumEntryBytes(big);
    ASSERT_GT(bytes.size(), 24 + big.Key.size() + 200000);
    bytes[24 + big.Key.size() + 200000] = 'q';
    std::ofstream(cache / ChromiumEntryName(1), std::ios::binary) << bytes;

    EXPECT_EQ(RunCli({"--cache", cache.string(), "entries"}).ExitCode, 0);
    const fs::path out = scratch.Path / "out";
    TCliResult r = RunCli({"--cache", cache.string(), "copy", "http://h.test/", "--to",
                           out.string(), "--folder", "1"});
    EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Err, "big.png: does not fit the checksum the cache keeps for it")) << r.Err;
    EXPECT_EQ(fs::file_size(out / "h.test" / "big.png"), 300000u) << "copied as the cache holds it";
}

TEST(CliCopy, NameSaysWhereCopyWrites) {
    // The file:/// entry lies below a folder with an empty name ("$2f").
    TScratch tmp;
    const TCliRunOptions env{{}, {{"TARNHOLD_CACHE", kCache.string()}}, {}};
    for (const std::string url :
         {"file:///D:/archive/offline.html", "http://www.shop.test/faq.html",
          "http://www.shop.test/FAQ.html"}) {
        TCliResult name = RunCli({"name", "--json", url}, env);
        ASSERT_EQ(name.ExitCode, 0) << name.Err;
        auto row = ParseJsonObject(Lines(name.Out).at(0));
        ASSERT_TRUE(row) << name.Out;
        const fs::path out = tmp.Path / std::to_string(url.size());
        TCliResult copy = RunCli({"copy", url, "--to", out.string(), "--overwrite", "all"}, env);
        ASSERT_EQ(copy.ExitCode, 0) << copy.Err;
        EXPECT_TRUE(fs::is_regular_file(out / (*row)["local_path"]))
            << url << ": " << (*row)["local_path"];
    }
}

TEST(CliCopy, EveryFormOfANameCopiesTheSameFiles) {
    const std::string sale = "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/";
    const std::string page = "%E5%95%86%E5%93%81%E4%B8%80%E8%A6%A7.html";
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> files;
    };
    const std::vector<std::string> salePage = {kShop + "/セール/商品一覧.html"};
    const Case cases[] = {
        {"encoded folder", {sale}, salePage},
        {"decoded folder", {"http://www.shop.test/セール/"}, salePage},
        {"without the final /", {"http://www.shop.test/セール"}, salePage},
        {"encoded file", {sale + page}, salePage},
        {"decoded file", {"http://www.shop.test/セール/商品一覧.html"}, salePage},
        {"without the scheme",
         {"--no-scheme", "www.shop.test/セール/"},
         {"www.shop.test/セール/商品一覧.html"}},
        {"a port as the tree prints it",
         {"http://www.shop.test:8443//console/"},
         {"http$3a/www.shop.test$3a8443/console/index.html"}},
        {"a folder named twice, and a file below it",
         {"http://www.shop.test/catalog/", "http://www.shop.test/catalog/full-headers.html",
          "http://www.shop.test/catalog/"},
         {kShop + "/catalog/full-headers.html", kShop + "/catalog/shoes/running/model-x.html"}},
    };
    for (const Case& c : cases) {
        TScratch out;
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--to", out.Path.string(), "--overwrite", "none"});
        TCliResult r = Copy(args);
        EXPECT_EQ(r.ExitCode, 0) << c.name << ": " << r.Err;
        EXPECT_EQ(FilesBelow(out.Path), c.files) << c.name;
        EXPECT_TRUE(Has(r.Out, ", 0 kept")) << c.name << ": no file was written twice\n" << r.Out;
    }
}

// Each operand is copied from the folder that holds it: with folder method 1
// two operands of different sites both land in the destination.
TEST(CliCopy, OperandsOfDifferentFoldersEachStartFromTheirOwn) {
    TScratch out;
    TCliResult r = Copy({"http://www.shop.test/kb/article.htm", "http://news.example.test/sports/",
                         "--to", out.Path.string(), "--folder", "1", "--overwrite", "all"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(FilesBelow(out.Path), (std::vector<std::string>{"article.htm", "sports/index.html"}));
}

TEST(CliCopy, DefaultFileNamesFolderDocuments) {
    TScratch out;
    TCliResult r = Copy({"http://www.shop.test:8443/console/", "--to", out.Path.string(),
                         "--folder", "1", "--default-file", "start.html", "--overwrite", "all"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(FilesBelow(out.Path), (std::vector<std::string>{"console/start.html"}));
}

TEST(CliCopy, RefusesWhatItCannotDo) {
    TScratch out;
    const std::string to = out.Path.string();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {"no destination", {"copy", "http://www.shop.test/"}, 2, "--to"},
        {"bad method",
         {"copy", "http://www.shop.test/", "--to", to, "--method", "4"},
         2,
         "--method"},
        {"bad folder method",
         {"copy", "http://www.shop.test/", "--to", to, "--folder", "0"},
         2,
         "--folder"},
        {"bad overwrite",
         {"copy", "http://www.shop.test/", "--to", to, "--overwrite", "yes"},
         2,
         "--overwrite takes"},
        {"a path as default file",
         {"copy", "http://www.shop.test/", "--to", to, "--overwrite", "all", "--default-file",
          "../x.html"},
         2,
         "--default-file"},
        {"not in the cache",
         {"copy", "http://nowhere.test/", "--to", to, "--overwrite", "all"},
         1,
         "no such file or folder"},
        {"one of two not in the cache",
         {"copy", "http://www.shop.test/", "http://nowhere.test/", "--to", to, "--overwrite",
          "all"},
         1,
         "http://nowhere.test/: no such file or folder"},
        {"ambiguous case",
         {"copy", "http://www.shop.test/Faq.html", "--to", to, "--overwrite", "all"},
         1,
         "ambiguous"},
        {"delete without a terminal", {"delete", "http://www.shop.test/"}, 2, "--yes"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--cache", kCache.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        TCliResult r = RunCli(args);
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.name << ": " << r.Err;
        EXPECT_TRUE(Has(r.Err, c.says)) << c.name << ": " << r.Err;
    }
    EXPECT_TRUE(fs::is_empty(out.Path)) << "nothing is copied before every operand is found";
}

TEST(CliCopy, StoppedRunExitsWithTheErrorText) {
    TScratch out;
    // A file where the copy needs a folder.
    std::ofstream(out.Path / "http$3a") << "in the way";
    TCliResult r =
        Copy({"http://www.shop.test/robots.txt", "--to", out.Path.string(), "--overwrite", "all"});
    EXPECT_EQ(r.ExitCode, 1);
    // In the command line's own words, with the system's text.
    EXPECT_TRUE(Has(r.Err, "copy: could not create the folder ")) << r.Err;
    EXPECT_TRUE(Has(r.Err, "www.shop.test: Not a directory\n")) << r.Err;
    EXPECT_FALSE(Has(r.Err, "フォルダ")) << "the command line speaks English\n" << r.Err;
    EXPECT_TRUE(Has(r.Out, "stopped after 0 files")) << r.Out;
}

// --overwrite ask without a terminal: nothing to ask into a new folder; the
// first file that exists stops the copy with the reason.
TEST(CliCopy, AsksOnlyWhenAFileExists) {
    TScratch out;
    const std::string to = (out.Path / "new").string();
    const std::vector<std::string> catalog = {"http://www.shop.test/catalog/", "--to", to};
    TCliResult fresh = Copy(catalog);
    EXPECT_EQ(fresh.ExitCode, 0) << fresh.Err;
    EXPECT_TRUE(Has(fresh.Out, "copied 2 files")) << fresh.Out;

    const fs::path page = fs::path(to) / kShop / "catalog/full-headers.html";
    std::ofstream(page) << "mine";
    TCliResult again = Copy(catalog);
    EXPECT_EQ(again.ExitCode, 1) << again.Err;
    EXPECT_TRUE(Has(again.Err, page.string() + " exists, and --overwrite ask needs a terminal"))
        << again.Err;
    EXPECT_FALSE(Has(again.Err, "cancelled")) << again.Err;
    EXPECT_TRUE(Has(again.Out, "stopped after 0 files")) << again.Out;
    EXPECT_EQ(Read(page), "mine");
}

// The overwrite question on a terminal: what each typed answer does.
TEST(CliCopy, AsksOnATerminalBeforeOverwriting) {
    TScratch out;
    const std::string to = out.Path.string();
    const std::vector<std::string> catalog = {"http://www.shop.test/catalog/", "--to", to};
    ASSERT_EQ(Copy({"http://www.shop.test/catalog/", "--to", to, "--overwrite", "all"}).ExitCode,
              0);
    const fs::path page = out.Path / kShop / "catalog/full-headers.html";
    struct Case {
        const char* name;
        std::string typed;
        int exitCode;
        const char* out; // part of the summary
        bool replaced;   // the page that is newer than the cache's
    };
    // The page comes first, the other file (as old as the cache's) second.
    const Case cases[] = {
        {"yes, then no", "y\nn\n", 0, "copied 1 file (", true},
        {"keep all", "k\n", 0, "copied 0 files", false},
        {"all", "a\n", 0, "copied 2 files", true},
        {"a word, after one not understood", "what\nnone\n", 0, "2 kept", false},
        {"where the cache is newer: neither", "w\n", 0, "copied 0 files", false},
        {"cancel", "c\n", 1, "stopped after 0 files", false},
        {"end of input", "\x04", 1, "stopped after 0 files", false},
    };
    for (const Case& c : cases) {
        std::ofstream(page) << "mine"; // newer than the cache entry
        TCliResult r = Copy(catalog, {{}, {}, c.typed});
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.name << "\n" << r.Err;
        EXPECT_TRUE(Has(r.Out, c.out)) << c.name << "\n" << r.Out;
        EXPECT_TRUE(Has(r.Err, "exists (")) << c.name << "\n" << r.Err;
        EXPECT_FALSE(Has(r.Err, "年")) << "dates as the rows show them\n" << r.Err;
        EXPECT_TRUE(Has(r.Err, "[c]ancel")) << c.name;
        EXPECT_EQ(Read(page) != "mine", c.replaced) << c.name;
    }
}

TEST(CliCopy, ShowsProgressOnATerminalOnly) {
    TScratch out;
    const std::vector<std::string> args = {"http://www.shop.test/catalog/", "--to",
                                           out.Path.string(), "--overwrite", "all"};
    TCliResult terminal = Copy(args, {{}, {}, std::string()});
    EXPECT_EQ(terminal.ExitCode, 0) << terminal.Err;
    EXPECT_TRUE(Has(terminal.Err, "/2 files")) << terminal.Err;
    EXPECT_EQ(terminal.Out.rfind("copied 2 files (", 0), 0u) << terminal.Out;
    TCliResult pipe = Copy(args);
    EXPECT_FALSE(Has(pipe.Err, "files")) << pipe.Err;
    EXPECT_EQ(pipe.Out.rfind("copied 2 files (", 0), 0u) << pipe.Out;
}

// favorites copy counts the sites it copied; one the cache lacks is said and
// fails the run.
TEST(CliFavoritesCopy, CountsOnlyTheSitesCopied) {
    TScratch tmp;
    const TCliRunOptions env{{},
                             {{"HOME", tmp.Path.string()},
                              {"TARNHOLD_HOME", (tmp.Path / "data").string()},
                              {"TARNHOLD_CACHE", kCache.string()}},
                             {}};
    for (const char* url :
         {"http://www.shop.test/", "http://news.example.test/", "http://nowhere.test/"})
        ASSERT_EQ(RunCli({"favorites", "add", "site", url}, env).ExitCode, 0);

    const TCliResult some = RunCli({"favorites", "copy", "1", "2", "3", "--yes"}, env);
    EXPECT_EQ(some.ExitCode, 1) << some.Err;
    EXPECT_TRUE(Has(some.Out, "\n2 of 3 favorites copied (1 not in the cache): ")) << some.Out;
    EXPECT_TRUE(Has(some.Out, "not-cached\t3\t")) << some.Out;
    EXPECT_TRUE(Has(some.Err, "favorite 3: http://nowhere.test/ is not in the cache")) << some.Err;
    EXPECT_TRUE(fs::exists(tmp.Path / "Tarnhold" / kShop / "FAQ.html"));

    const TCliResult all = RunCli({"favorites", "copy", "2", "1", "--yes"}, env);
    EXPECT_EQ(all.ExitCode, 0) << all.Err;
    EXPECT_TRUE(Has(all.Out, "\n2 of 2 favorites copied: ")) << all.Out;
}

TEST(CliDelete, DeletesNodesAndTheirCacheEntries) {
    TScratch dir;
    fs::copy(kCache, dir.Path / "c", fs::copy_options::recursive);
    const std::string cache = (dir.Path / "c").string();
    TCliResult r = RunCli({"--cache", cache, "delete", "http://www.shop.test/catalog/", "--yes"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(Has(r.Out, "removed http://www.shop.test/catalog/full-headers.html\n"));
    EXPECT_TRUE(Has(r.Out, "removed http://www.shop.test/catalog/\n"));
    EXPECT_TRUE(Has(r.Out, "2 cached files deleted")) << r.Out;
    TCliResult after = RunCli({"--cache", cache, "list", "http://www.shop.test/catalog/"});
    EXPECT_EQ(after.ExitCode, 1) << "the entries are gone from index.dat";
    TCliResult entries = RunCli({"--cache", cache, "entries"});
    EXPECT_FALSE(Has(entries.Out, "catalog/shoes")) << entries.Out;
    EXPECT_TRUE(Has(entries.Out, "http://www.shop.test/robots.txt")) << "the rest stays";
}

TEST(CliDelete, AsksOnATerminalAndTakesNoGuesses) {
    TScratch dir;
    fs::copy(kCache, dir.Path / "c", fs::copy_options::recursive);
    const std::string cache = (dir.Path / "c").string();
    auto entries = [&] { return Lines(RunCli({"--cache", cache, "entries"}).Out).size(); };
    const std::size_t all = entries();
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string typed;
        int exitCode;
        const char* says; // on the terminal or standard error
        std::size_t gone;
    };
    const Case cases[] = {
        {"no", {"http://www.shop.test/robots.txt"}, "n\n", 1, "robots[0].txt", 0},
        {"end of input", {"http://www.shop.test/kb/"}, "\x04", 1, "(folder, 1 cached file)", 0},
        {"a case-only match is no match",
         {"http://www.shop.test/ROBOTS.TXT"},
         "y\n",
         1,
         "case counts: http://www.shop.test/robots.txt",
         0},
        {"one missing, nothing deleted",
         {"http://www.shop.test/robots.txt", "http://nowhere.test/x"},
         "y\n",
         1,
         "nothing deleted",
         0},
        {"yes",
         {"http://www.shop.test/robots.txt", "http://news.example.test/culture/"},
         "y\n",
         0,
         "Delete these 3 entries?",
         3},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--cache", cache, "delete"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        TCliResult r = RunCli(args, {{}, {}, c.typed});
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.name << "\n" << r.Err;
        EXPECT_TRUE(Has(r.Err, c.says)) << c.name << "\n" << r.Err;
        EXPECT_EQ(entries(), all - c.gone) << c.name;
    }
}

} // namespace
} // namespace tarnhold::test
