// What every command of tarnhold-cli shares, run as a script would run it:
// help, errors, exit codes, failed writes, URL forms, JSON Lines and TSV.
#include "cli/cli_helpers.h"
#include "mkcache/indexdatwriter.h"
#include "platform/codepage.h"
#include "platform/filetime.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <set>
#include <unistd.h>

namespace tarnhold::test {
namespace {

namespace fs = std::filesystem;

const std::string kCache = TARNHOLD_TEST_DATA "/cache/wine-ie-cache/Content.IE5";
const std::string kText = TARNHOLD_TEST_DATA "/text/";

// A folder that lives as long as the test.
class TScratch {
public:
    TScratch() {
        char name[] = "/tmp/trh-cli-testXXXXXX";
        path_ = ::mkdtemp(name) != nullptr ? fs::path(name) : fs::path();
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::size_t Columns(const std::string& utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

bool HasControlBytes(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\n' && b != '\t') || b == 0x7F;
    });
}

// The first date in text that is not in the rows' one style
// ("2012/10/28 7:19"): a long Japanese date or one with seconds. Empty when
// there is none.
std::string ForeignDate(const std::string& text) {
    static const std::regex kOther("[0-9]+年[0-9]+月[0-9]+日|[0-9]{4}/[0-9]{2}/[0-9]{2} "
                                   "[0-9]{1,2}:[0-9]{2}:[0-9]{2}");
    std::smatch found;
    return std::regex_search(text, found, kOther) ? found.str() : std::string();
}

struct TCommandCase {
    std::string Name;
    std::vector<std::string> Good; // succeeds and writes to standard output
    std::vector<std::string> Bad;  // wrong arguments
    bool Listing;
    int RowsPerRecord = 1; // human lines per JSON object
    int TotalLines = 0;    // human lines after the rows (a count)
};

std::vector<TCommandCase> CommandCases(const std::string& cacheCopy, const std::string& shortcuts) {
    const std::string copyTo = (fs::path(cacheCopy).parent_path() / "copy").string();
    return {
        {"caches", {"caches", "--cache", kCache}, {"caches", "extra"}, true},
        {"copy",
         {"copy", "http://www.shop.test/catalog/", "--to", copyTo, "--overwrite", "all"},
         {"copy", "http://www.shop.test/catalog/"},
         true},
        {"crc32", {"crc32", "?x=1"}, {"crc32"}, false},
        {"export",
         {"export", "http://www.shop.test/catalog/", "--to", copyTo + ".wacz"},
         {"export", "http://www.shop.test/catalog/"},
         true},
        {"delete",
         {"delete", "--yes", "http://www.shop.test/kb/", "--cache", cacheCopy},
         {"delete", "--cache", cacheCopy},
         false},
        {"delete-entry",
         {"delete-entry", "--yes", "http://www.shop.test/robots.txt", "--cache", cacheCopy},
         {"delete-entry", "--cache", cacheCopy},
         false},
        {"entries", {"entries"}, {"entries", "x"}, true},
        {"favorites", {"favorites", "import", shortcuts}, {"favorites", "frob"}, true},
        {"find", {"find", "--name", "faq;robots"}, {"find", "--days", "x"}, true, 1, 1},
        {"help", {"help", "tree"}, {"help", "tree", "list"}, false},
        {"jcode",
         {"jcode", "detect", kText + "sjis.txt", kText + "eucjp.txt"},
         {"jcode", "frob", "x"},
         true},
        {"list", {"list", "http://www.shop.test/"}, {"list"}, true},
        {"name",
         {"name", "http://www.shop.test/product.aspx?sku=A-1001&color=red"},
         {"name", "a", "b"},
         true,
         3},
        {"orphans", {"orphans", "--cache", cacheCopy}, {"orphans", "x"}, true},
        {"overview", {"overview"}, {"overview", "x"}, false},
        {"page", {"page", kText + "page-sjis.html"}, {"page", "--tokens"}, false},
        {"tree", {"tree"}, {"tree", "--all"}, true},
        {"url", {"url", "split", "http://h/a/b.html?q"}, {"url", "split", "notaurl"}, false},
    };
}

// The command names the global help lists.
std::set<std::string> HelpCommands() {
    std::set<std::string> names;
    bool inList = false;
    for (const auto& line : Lines(RunCli({"--help"}).Out)) {
        if (line == "commands:") {
            inList = true;
        } else if (inList && line.empty()) {
            break;
        } else if (inList && line.rfind("  ", 0) == 0) {
            names.insert(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    return names;
}

TEST(CliConventions, EveryCommandFollowsThem) {
    TScratch tmp;
    const fs::path copy = tmp.Path() / "Content.IE5";
    fs::copy(kCache, copy, fs::copy_options::recursive);
    std::ofstream(copy / "LF9FM8KU" / "stray[0].txt") << "no entry names this file";
    const fs::path shortcuts = tmp.Path() / "Favorites";
    fs::create_directories(shortcuts / "News");
    std::ofstream(shortcuts / "News" / "Paper.url")
        << "[InternetShortcut]\r\nURL=http://p.test/\r\n";
    std::ofstream(shortcuts / "Shop.url") << "[InternetShortcut]\r\nURL=http://s.test/\r\n";
    const TCliRunOptions withCache{{}, {{"TARNHOLD_CACHE", kCache}}, {}};
    const auto cases = CommandCases(copy.string(), shortcuts.string());

    for (const auto& line : Lines(RunCli({"--help"}).Out))
        EXPECT_LE(Columns(line), 80u) << line;
    std::set<std::string> tabled;
    for (const auto& c : cases)
        tabled.insert(c.Name);
    EXPECT_EQ(tabled, HelpCommands()) << "every command has a row in this table";

    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TCliResult help = RunCli({c.Name, "--help"});
        EXPECT_EQ(help.ExitCode, 0);
        EXPECT_EQ(help.Out.rfind("usage: tarnhold-cli " + c.Name, 0), 0u) << help.Out;
        EXPECT_NE(help.Out.find("example: tarnhold-cli"), std::string::npos);
        EXPECT_NE(help.Out.find("exit codes:"), std::string::npos);
        for (const auto& line : Lines(help.Out))
            EXPECT_LE(Columns(line), 80u) << line;
        EXPECT_EQ(RunCli({"-h", c.Name}).Out, help.Out) << "-h before the command too";

        TCliResult bad = RunCli(c.Bad, withCache);
        EXPECT_EQ(bad.ExitCode, 2) << bad.Err;
        EXPECT_EQ(bad.Out, "");
        const auto errLines = Lines(bad.Err);
        ASSERT_EQ(errLines.size(), 2u) << bad.Err;
        EXPECT_EQ(errLines[0].rfind("tarnhold-cli: " + c.Name + ": ", 0), 0u) << bad.Err;
        EXPECT_EQ(errLines[1].rfind("try 'tarnhold-cli --help'", 0), 0u);

        TCliResult good = RunCli(c.Good, withCache);
        EXPECT_EQ(good.ExitCode, 0) << good.Err;
        EXPECT_FALSE(good.Out.empty());
        EXPECT_FALSE(HasControlBytes(good.Out));
        EXPECT_EQ(ForeignDate(good.Out), "") << "one style of date in every row";

        std::vector<std::string> again = c.Good;
        if (c.Name == "delete-entry")
            again[2] = "http://www.shop.test/status.html"; // the first one is gone
        if (c.Name == "delete")
            again[2] = "http://news.example.test/sports/";
        TCliResult full = RunCli(again, {"/dev/full", withCache.Env, {}});
        EXPECT_EQ(full.ExitCode, 1) << full.Err;
        EXPECT_NE(full.Err.find("No space left on device"), std::string::npos) << full.Err;

        if (!c.Listing) {
            std::vector<std::string> json = c.Good;
            json.push_back("--json");
            EXPECT_EQ(RunCli(json, withCache).ExitCode, 2) << "--json is for listings";
            continue;
        }
        std::vector<std::string> json = c.Good, tsv = c.Good;
        json.push_back("--json");
        tsv.insert(tsv.begin(), "--tsv");
        TCliResult j = RunCli(json, withCache);
        TCliResult t = RunCli(tsv, withCache);
        ASSERT_EQ(j.ExitCode, 0) << j.Err;
        ASSERT_EQ(t.ExitCode, 0) << t.Err;
        const auto jsonLines = Lines(j.Out);
        const auto tsvLines = Lines(t.Out);
        ASSERT_FALSE(jsonLines.empty());
        EXPECT_EQ(jsonLines.size() * static_cast<std::size_t>(c.RowsPerRecord) +
                      static_cast<std::size_t>(c.TotalLines),
                  Lines(good.Out).size());
        std::size_t members = 0;
        for (const auto& line : jsonLines) {
            auto object = ParseJsonObject(line);
            ASSERT_TRUE(object.has_value()) << line;
            members = members == 0 ? object->size() : members;
            EXPECT_EQ(object->size(), members) << "every row has every field: " << line;
        }
        ASSERT_EQ(tsvLines.size(), jsonLines.size() + 1) << "a header and one row per object";
        const auto tabs = std::count(tsvLines[0].begin(), tsvLines[0].end(), '\t');
        EXPECT_EQ(static_cast<std::size_t>(tabs) + 1, members);
        for (const auto& line : tsvLines)
            EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), tabs) << line;
    }
}

TEST(CliConventions, ReadmeTableListsTheCommandsOfTheHelp) {
    std::ifstream in(TARNHOLD_SOURCE_DIR "/README.md");
    const std::string readme((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
    std::set<std::string> table;
    for (const auto& line : Lines(readme)) {
        if (line.rfind("| `", 0) != 0)
            continue;
        const std::string cell = line.substr(3, line.find('`', 3) - 3);
        table.insert(cell.substr(0, cell.find(' ')));
    }
    std::set<std::string> help = HelpCommands();
    EXPECT_EQ(table, help);
}

TEST(CliConventions, OptionsHelpVersionAndMistakes) {
    const TCliRunOptions env{{}, {{"TARNHOLD_CACHE", kCache}}, {}};
    struct TCase {
        const char* Name;
        std::vector<std::string> Args;
        int ExitCode;
        std::string Out; // expected start of standard output
        std::string Err; // expected part of standard error
    };
    const TCase cases[] = {
        {"version", {"--version"}, 0, "tarnhold-cli ", ""},
        {"-V", {"-V"}, 0, "tarnhold-cli ", ""},
        {"global help", {"--help"}, 0, "usage: tarnhold-cli", ""},
        {"help after options", {"--no-scheme", "--help"}, 0, "usage: tarnhold-cli", ""},
        {"global option after the command", {"tree", "--no-scheme"}, 0, "(empty)\t1\t", ""},
        {"global option with =", {"--cache=" + kCache, "tree"}, 0, "file:\t", ""},
        {"-- ends options", {"crc32", "--", "--help"}, 0, "", ""},
        {"a typo", {"frob"}, 2, "", "unknown command 'frob'; did you mean '"},
        {"a typo close to tree", {"tere"}, 2, "", "did you mean 'tree'?"},
        {"a typo close to list", {"lsit", "x"}, 2, "", "did you mean 'list'?"},
        {"unknown option", {"tree", "--frob"}, 2, "", "tree: unknown option --frob"},
        {"option of another command", {"tree", "--tokens"}, 2, "", "unknown option --tokens"},
        {"flag with a value", {"entries", "--all=1"}, 2, "", "--all takes no value"},
        {"--cache without a path", {"tree", "--cache"}, 2, "", "--cache needs PATH"},
        {"json and tsv", {"tree", "--json", "--tsv"}, 2, "", "exclude each other"},
        {"url split of no URL", {"url", "split", "notaurl"}, 2, "", "is no URL"},
        {"crc32 --help is help", {"crc32", "--help"}, 0, "usage: tarnhold-cli crc32", ""},
        {"help of an unknown command", {"help", "frob"}, 2, "", "unknown command 'frob'"},
    };
    for (const auto& c : cases) {
        TCliResult r = RunCli(c.Args, env);
        EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Name << "\n" << r.Err;
        EXPECT_EQ(r.Out.rfind(c.Out, 0), 0u) << c.Name << "\n" << r.Out;
        EXPECT_NE(r.Err.find(c.Err), std::string::npos) << c.Name << "\n" << r.Err;
    }
    const std::string sum = RunCli({"crc32", "--", "--help"}).Out;
    EXPECT_EQ(sum.size(), 9u) << "the checksum of the text --help: " << sum;
}

// The window answers --help and --version without a display, as the
// command-line program does.
TEST(CliConventions, WindowHelpAndVersionNeedNoDisplay) {
#ifndef TARNHOLD_WINDOW
    GTEST_SKIP() << "built without the window";
#else
    TCliRunOptions noDisplay;
    noDisplay.Program = TARNHOLD_WINDOW;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        noDisplay.Env[name] = std::nullopt;
    const TCliResult help = RunCli({"--help"}, noDisplay);
    EXPECT_EQ(help.ExitCode, 0) << help.Err;
    EXPECT_NE(help.Out.find("--cache <PATH>"), std::string::npos) << help.Out;
    const TCliResult version = RunCli({"--version"}, noDisplay);
    EXPECT_EQ(version.ExitCode, 0) << version.Err;
    EXPECT_EQ(version.Out, std::string("tarnhold ") + TARNHOLD_VERSION + "\n");
#endif
}

TEST(CliConventions, UnwritableDataFolderIsSaidOnce) {
    TScratch tmp;
    const fs::path file = tmp.Path() / "a-file";
    std::ofstream(file) << "x";
    TCliRunOptions env{{}, {{"TARNHOLD_CACHE", kCache}}, {}};
    env.Env["TARNHOLD_HOME"] = (file / "tarnhold").string();
    TCliResult r = RunCli({"tree"}, env);
    EXPECT_EQ(r.ExitCode, 0) << "reading still works";
    const auto warnings = Lines(r.Err);
    ASSERT_EQ(warnings.size(), 2u) << r.Err; // which cache, and the warning
    EXPECT_NE(warnings[1].find("warning: the data folder " + (file / "tarnhold").string()),
              std::string::npos)
        << r.Err;
    EXPECT_NE(warnings[1].find("Not a directory"), std::string::npos);
}

TEST(CliConventions, RawChangesTheOutputOnly) {
    EXPECT_EQ(RunCli({"--raw", "crc32", "あ"}).Out, RunCli({"crc32", "あ"}).Out);
    EXPECT_EQ(RunCli({"--raw", "url", "decode", "http://h/日本/%E8%AA%9E"}).Out,
              Utf8ToAnsi("http://h/日本/語\n"));
    EXPECT_EQ(RunCli({"url", "decode", "http://h/日本/%E8%AA%9E"}).Out, "http://h/日本/語\n");
}

TEST(CliConventions, BothUrlFormsNameTheSameThing) {
    const TCliRunOptions env{{}, {{"TARNHOLD_CACHE", kCache}}, {}};
    const std::string decoded = "http://www.shop.test/セール/";
    const std::string encoded = "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/";
    TCliResult reference = RunCli({"list", decoded}, env);
    ASSERT_EQ(reference.ExitCode, 0) << reference.Err;
    EXPECT_NE(reference.Out.find("商品一覧.html"), std::string::npos);
    for (const std::string& form :
         {encoded, encoded.substr(0, encoded.size() - 1), decoded.substr(0, decoded.size() - 1)}) {
        TCliResult r = RunCli({"list", form}, env);
        EXPECT_EQ(r.ExitCode, 0) << form << "\n" << r.Err;
        EXPECT_EQ(r.Out, reference.Out) << form;
    }
    TCliResult noScheme = RunCli({"--no-scheme", "list", "www.shop.test/セール"}, env);
    EXPECT_EQ(noScheme.Out, reference.Out) << noScheme.Err;
    TCliResult port = RunCli({"list", "http://www.shop.test:8443//console/"}, env);
    EXPECT_EQ(port.ExitCode, 0) << "the form the tree prints after a port";
    const std::string console = "name: index.html\n";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"name", "http://www.shop.test:8443//console/"},
             {"name", "http://www.shop.test:8443/console/"},
             {"--no-scheme", "name", "www.shop.test:8443/console/"},
             {"--no-scheme", "name", "http://www.shop.test:8443/console/"}}) {
        TCliResult r = RunCli(args, env);
        EXPECT_EQ(r.Out.rfind(console, 0), 0u) << args.back() << "\n" << r.Err;
    }

    TCliResult byEncoded =
        RunCli({"name", encoded + "%E5%95%86%E5%93%81%E4%B8%80%E8%A6%A7.html"}, env);
    TCliResult byDecoded = RunCli({"name", decoded + "商品一覧.html"}, env);
    EXPECT_EQ(byEncoded.ExitCode, 0) << byEncoded.Err;
    EXPECT_EQ(byDecoded.Out, byEncoded.Out) << byDecoded.Err;
    EXPECT_NE(byDecoded.Out.find("name: 商品一覧.html\n"), std::string::npos);
}

// Every command that takes a URL finds it with or without its scheme,
// whether or not the tree has a scheme level.
TEST(CliConventions, UrlsWithOrWithoutTheScheme) {
    TScratch tmp;
    const TCliRunOptions env{{}, {{"TARNHOLD_CACHE", kCache}}, {}};
    const std::string copyTo = (tmp.Path() / "copy").string();
    struct TCase {
        const char* Name;
        std::vector<std::string> Args;
        std::string Out; // a part of standard output
    };
    const TCase cases[] = {
        {"list", {"list", "www.shop.test/catalog"}, "shoes/\t"},
        {"list, the final /", {"list", "www.shop.test/catalog/"}, "shoes/\t"},
        {"list, percent-encoded",
         {"list", "www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB"},
         "商品一覧"},
        {"list, without a scheme level",
         {"--no-scheme", "list", "http://www.shop.test/catalog/"},
         "shoes/\t"},
        {"list of another scheme", {"list", "files.shop.test/pub/catalog/"}, "prices.csv\t"},
        {"name", {"name", "www.shop.test/FAQ.html"}, "name: FAQ.html\n"},
        {"find --in", {"find", "--in", "www.shop.test/catalog", "--ext", "html"}, "2 hits\n"},
        {"copy a folder", {"copy", "www.shop.test/catalog/", "--to", copyTo}, "copied 2 files"},
        {"copy a file",
         {"copy", "www.shop.test/robots.txt", "--to", copyTo, "--overwrite", "all"},
         "copied 1 file"},
    };
    for (const auto& c : cases) {
        const TCliResult r = RunCli(c.Args, env);
        EXPECT_EQ(r.ExitCode, 0) << c.Name << "\n" << r.Err;
        EXPECT_NE(r.Out.find(c.Out), std::string::npos) << c.Name << "\n" << r.Out;
    }

    // A host under two schemes: the URL without one is ambiguous.
    const fs::path folder = tmp.Path() / "Content.IE5";
    fs::create_directories(folder / "AAAAAAAA");
    std::ofstream(folder / "AAAAAAAA" / "p[1].htm") << "<p>x</p>";
    auto image = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA"});
    for (const char* url : {"http://two.test/dir/p.html", "https://two.test/dir/p.html"}) {
        TIndexDatNewEntry e;
        e.Url = url;
        e.FileName = "p[1].htm";
        e.Size = 8;
        e.Headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
        e.LastModified = UnixTimeToFileTime(1350888300);
        ASSERT_TRUE(image.AddEntry(e).Ok()) << url;
    }
    std::ofstream(folder / "index.dat", std::ios::binary) << image.Bytes();
    const TCliRunOptions two{{}, {{"TARNHOLD_CACHE", folder.string()}}, {}};
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"list", "two.test/dir/"}, {"find", "--in", "two.test/dir"}}) {
        const TCliResult r = RunCli(args, two);
        EXPECT_EQ(r.ExitCode, 1) << args[0];
        EXPECT_NE(r.Err.find(args.back() + ": ambiguous"), std::string::npos) << r.Err;
        EXPECT_NE(r.Err.find("\n  https://two.test/dir/\n"), std::string::npos) << r.Err;
    }
    EXPECT_EQ(RunCli({"list", "https://two.test/dir/"}, two).ExitCode, 0);
}

TEST(CliConventions, ExactCaseWinsAndAmbiguityIsSaid) {
    const TCliRunOptions env{{}, {{"TARNHOLD_CACHE", kCache}}, {}};
    TCliResult upper = RunCli({"name", "http://www.shop.test/FAQ.html"}, env);
    TCliResult lower = RunCli({"name", "http://www.shop.test/faq.html"}, env);
    EXPECT_EQ(upper.Out.rfind("name: FAQ.html\n", 0), 0u) << upper.Out;
    EXPECT_EQ(lower.Out.rfind("name: faq~0001.html\n", 0), 0u) << lower.Out;
    TCliResult mixed = RunCli({"name", "http://www.shop.test/Faq.html"}, env);
    EXPECT_EQ(mixed.ExitCode, 1);
    EXPECT_NE(mixed.Err.find("ambiguous"), std::string::npos) << mixed.Err;
    EXPECT_NE(mixed.Err.find("http://www.shop.test/FAQ.html"), std::string::npos);
    TCliResult single = RunCli({"name", "HTTP://WWW.SHOP.TEST/ROBOTS.TXT"}, env);
    EXPECT_EQ(single.ExitCode, 0) << "one match ignoring case is taken\n" << single.Err;
}

TEST(CliConventions, ScriptFormatsCarryBytesIsoTimesAndBothUrls) {
    const TCliRunOptions env{{}, {{"TARNHOLD_CACHE", kCache}}, {}};
    TCliResult r = RunCli({"--json", "list", "http://www.shop.test/セール/"}, env);
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    auto row = ParseJsonObject(Lines(r.Out).at(0));
    ASSERT_TRUE(row.has_value()) << r.Out;
    EXPECT_EQ((*row)["kind"], "file");
    EXPECT_EQ((*row)["local_name"], "商品一覧.html");
    EXPECT_EQ((*row)["size"], "1035");
    EXPECT_EQ((*row)["time"], "2012-11-15T18:01:08+09:00") << "local time with the zone";
    EXPECT_EQ((*row)["url"], "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/"
                             "%E5%95%86%E5%93%81%E4%B8%80%E8%A6%A7.html");
    EXPECT_EQ((*row)["url_decoded"], "http://www.shop.test/セール/商品一覧.html");
    EXPECT_EQ((*row)["local_path"], "http$3a/www.shop.test/セール/商品一覧.html");

    // entries: the same columns with and without --all.
    TCliResult plain = RunCli({"entries", "--tsv"}, env);
    TCliResult all = RunCli({"entries", "--all", "--tsv"}, env);
    EXPECT_EQ(Lines(plain.Out).at(0), Lines(all.Out).at(0));
    EXPECT_EQ(Lines(plain.Out).at(0),
              "url\turl_decoded\tsize\ttime\tcontent_type\tcached_file\ttype_flags\tlisted\t"
              "recovered");

    TCliResult tree = RunCli({"tree", "--tsv"}, env);
    EXPECT_NE(tree.Out.find("\n3\tセール\t1\t1035\t2012-11-15T18:01:08+09:00\t"
                            "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/\t"
                            "http://www.shop.test/セール/\t"),
              std::string::npos)
        << "no indentation in the name field\n"
        << tree.Out;
}

TEST(CliConventions, JcodeNamesCodesAndKnowsUtf8) {
    TCliResult r = RunCli({"jcode", "detect", kText + "sjis.txt", kText + "eucjp.txt",
                           kText + "iso2022jp.txt", kText + "page-utf8.html"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, kText + "sjis.txt: Shift-JIS\n" + kText + "eucjp.txt: EUC-JP\n" + kText +
                         "iso2022jp.txt: ISO-2022-JP\n" + kText + "page-utf8.html: UTF-8\n");
    // convert: UTF-8 on standard output, Shift-JIS bytes with --raw.
    std::ifstream in(kText + "sjis.txt", std::ios::binary);
    const std::string sjis((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(RunCli({"jcode", "convert", kText + "eucjp.txt"}).Out, AnsiToUtf8(sjis));
    EXPECT_EQ(RunCli({"--raw", "jcode", "convert", kText + "eucjp.txt"}).Out, sjis);
    TCliResult full = RunCli({"jcode", "convert", kText + "eucjp.txt"}, {"/dev/full", {}, {}});
    EXPECT_EQ(full.ExitCode, 1);
    EXPECT_NE(full.Err.find("No space left on device"), std::string::npos) << full.Err;
}

// A cache whose URLs, headers and folder names hold control characters.
TEST(CliConventions, ControlCharactersFromTheCacheAreShownEscaped) {
    TScratch tmp;
    const fs::path folder = tmp.Path() / "Content.IE5";
    fs::create_directories(folder / "AAAAAAAA");
    {
        std::ofstream page(folder / "AAAAAAAA" / "p[1].htm", std::ios::binary);
        page << "<html><head><title>bell\a and \x1b[31mred</title></head></html>";
    }
    auto image = TIndexDatWriter::Create(TIndexDatSignature::Microsoft, {"AAAAAAAA"});
    const char* urls[] = {"http://evil.test/%1B%5B2J/p.html", "http://evil.test/a\x1b]0;x\a.html",
                          "http://evil.test/%0Aforged\tline/q.html"};
    for (const char* url : urls) {
        TIndexDatNewEntry e;
        e.Url = url;
        e.FileName = "p[1].htm";
        e.Size = 40;
        e.Headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\x1b[0m\r\n\r\n";
        e.LastModified = UnixTimeToFileTime(1350888300);
        ASSERT_TRUE(image.AddEntry(e).Ok()) << url;
    }
    {
        std::ofstream index(folder / "index.dat", std::ios::binary);
        index << image.Bytes();
    }
    const TCliRunOptions env{{}, {{"TARNHOLD_CACHE", folder.string()}}, {}};
    const std::vector<std::vector<std::string>> runs = {
        {"tree"},
        {"entries"},
        {"entries", "--tsv"},
        {"find"},
        {"find", "--tsv", "--contains", "red"},
        {"list", "http://evil.test/%1B%5B2J/"},
        {"list", "http://evil.test/"},
        {"name", "http://evil.test/%1B%5B2J/p.html"},
        {"overview"},
    };
    for (const auto& args : runs) {
        TCliResult r = RunCli(args, env);
        EXPECT_EQ(r.ExitCode, 0) << args[0] << " " << r.Err;
        EXPECT_FALSE(HasControlBytes(r.Out)) << args[0] << "\n" << r.Out;
        EXPECT_FALSE(HasControlBytes(r.Err)) << args[0] << "\n" << r.Err;
    }
    TCliResult entries = RunCli({"entries"}, env);
    EXPECT_EQ(Lines(entries.Out).size(), 3u) << "a line break in a URL forges no line";
    EXPECT_NE(entries.Out.find("http://evil.test/a\\x1b]0;x\\x07.html\t"), std::string::npos)
        << entries.Out;
    TCliResult list = RunCli({"list", "http://evil.test/%1B%5B2J/"}, env);
    EXPECT_NE(list.Out.find("bell\\x07 and \\x1b[31mred"), std::string::npos) << list.Out;
    TCliResult json = RunCli({"entries", "--json"}, env);
    for (const auto& line : Lines(json.Out)) {
        auto row = ParseJsonObject(line);
        ASSERT_TRUE(row.has_value()) << line;
        EXPECT_EQ((*row)["content_type"], "text/html\x1b[0m") << "JSON keeps the text, escaped";
    }
}

} // namespace
} // namespace tarnhold::test
