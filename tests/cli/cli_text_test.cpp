// The url, jcode and crc32 commands of tarnhold-cli, run as a user would.
#include "cli/cli_helpers.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace tarnhold::test {
namespace {

const std::string kData = TARNHOLD_TEST_DATA "/text/";

std::string ReadData(const std::string& name) {
    std::ifstream in(kData + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TCliCase {
    const char* Name;
    std::vector<std::string> Args;
    int ExitCode;
    std::string Out;
};

TEST(CliText, Commands) {
    const TCliCase cases[] = {
        {"url split",
         {"url", "split", "http://h1/a%20b/c.cgi?x=1"},
         0,
         "http://h1/a b/\nc.cgi\n?x=1\n"},
        {"url decode", {"url", "decode", "http://h/%E6%97%A5%E6%9C%AC/"}, 0, "http://h/日本/\n"},
        {"url relative",
         {"url", "relative", "http://h1/a/b/p.html", "http://h2/x:y.html"},
         0,
         "../../../h2/x$3ay.html\n"},
        {"url localpath",
         {"url", "localpath", "http://h1/../%2e%2e/x"},
         0,
         "http$3a/h1/$2e$2e/$2e$2e/x\n"},
        {"url localpath names a query as a copy does",
         {"url", "localpath", "http://h/a b/c.cgi?x=1"},
         0,
         "http$3a/h/a b/c~5b906e6e.cgi\n"},
        {"url relative names a query as a copy does",
         {"url", "relative", "http://h1/a/b/p.html", "http://h1/a/list.cgi?x=1#top"},
         0,
         "../list~5b906e6e.cgi#top\n"},
        {"url relative to a folder links its document",
         {"url", "relative", "http://h1/a/b/p.html", "http://h1/a/b%20c/"},
         0,
         "../b%20c/index.html\n"},
        {"url relative leaves a mail address",
         {"url", "relative", "http://h1/a/b/p.html", "mailto:x@y"},
         0,
         "mailto:x@y\n"},
        {"url decode shows controls escaped",
         {"url", "decode", "http://h/%1B[2J%07"},
         0,
         "http://h/\\x1b[2J\\x07\n"},
        {"url siteroot", {"url", "siteroot", "http://h1/a/b.html"}, 0, "http://h1/\n"},
        {"raw output", {"--raw", "url", "decode", "%E6%97%A5"}, 0, "\x93\xfa\n"},
        {"crc32", {"crc32", "abc"}, 0, "2c17398c\n"},
        {"crc32 of UTF-8 text goes by its ANSI bytes", {"crc32", "あ"}, 0, "d3511099\n"},
        {"jcode detect",
         {"jcode", "detect", kData + "eucjp.txt", kData + "sjis.txt"},
         0,
         kData + "eucjp.txt: EUC-JP\n" + kData + "sjis.txt: Shift-JIS\n"},
        {"url without subcommand", {"url"}, 2, ""},
        {"url unknown subcommand", {"url", "explode", "x"}, 2, ""},
        {"url relative needs two", {"url", "relative", "x"}, 2, ""},
        {"crc32 without text", {"crc32"}, 2, ""},
        {"jcode without files", {"jcode", "detect"}, 2, ""},
        {"jcode convert of two files", {"jcode", "convert", "a", "b"}, 2, ""},
        {"unreadable file", {"jcode", "convert", kData + "no-such-file"}, 1, ""},
    };
    for (const auto& c : cases) {
        TCliResult r = RunCli(c.Args);
        EXPECT_EQ(r.ExitCode, c.ExitCode) << c.Name << "\n" << r.Err;
        EXPECT_EQ(r.Out, c.Out) << c.Name;
        if (c.ExitCode == 2) {
            EXPECT_NE(r.Err.find("try 'tarnhold-cli --help'"), std::string::npos) << c.Name;
        }
    }
}

TEST(CliText, UnreadableFileNamesTheError) {
    TCliResult r = RunCli({"jcode", "detect", kData + "no-such-file", kData + "sjis.txt"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("no-such-file"), std::string::npos);
    EXPECT_NE(r.Err.find("No such file or directory"), std::string::npos);
    EXPECT_EQ(r.Out, kData + "sjis.txt: Shift-JIS\n") << "the other files are still done";
}

TEST(CliText, ConvertWritesShiftJisBytes) {
    const std::string sjis = ReadData("sjis.txt");
    ASSERT_FALSE(sjis.empty());
    for (const char* name : {"eucjp.txt", "iso2022jp.txt", "sjis.txt"}) {
        TCliResult r = RunCli({"--raw", "jcode", "convert", kData + name});
        EXPECT_EQ(r.ExitCode, 0) << name;
        EXPECT_EQ(r.Out, sjis) << name;
    }
}

} // namespace
} // namespace tarnhold::test
