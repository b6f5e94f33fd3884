// The url, jcode and crc32 commands of tarnhold-cli, run as a user would.
#include "cli/cli_helpers.h"
#include "platform/codepage.h"
#include "support/testfiles.h"
#include "text/jconvert.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
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

TEST(CliText, LongFilesConvertAsAWhole) {
    // Files long enough to be read in blocks: the output is the conversion
    // of the whole text, whichever way the file is read, with characters
    // and escapes cut by the block ends.
    char name[] = "/tmp/trh-cli-jcodeXXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    const std::filesystem::path dir = name;
    auto repeated = [](const std::string& piece, std::size_t size) {
        std::string text;
        while (text.size() < size)
            text += piece;
        return text;
    };
    const std::string euc = ReadData("eucjp.txt");
    const std::string jis = ReadData("iso2022jp.txt");
    ASSERT_EQ(InCodeCheck(euc), jcEuc);
    ASSERT_EQ(InCodeCheck(jis), jcJisNew);
    struct Case {
        const char* Name;
        std::string Text;
        std::string Out;
    };
    std::vector<Case> cases = {
        {"EUC-JP", "a" + repeated(euc, 300000), {}},
        {"ISO-2022-JP", "ab" + repeated(jis, 300000), {}},
        // Undecided for longer than a block, then EUC-JP.
        {"EUC-JP after a long ASCII start", repeated("plain text\n", 200000) + euc, {}},
        // A half pair, an escape cut short at the end.
        {"ISO-2022-JP ending in half a pair", repeated(jis, 140000) + "\x1b$B\x30", {}},
        {"ISO-2022-JP ending in an escape", repeated(jis, 140000) + "\x1b$", {}},
        // UTF-8 (read as such) and text that is almost UTF-8, broken only
        // past the first blocks.
        {"UTF-8", repeated("x\xe6\x97\xa5\xe6\x9c\xac", 200000), {}},
        {"almost UTF-8", "\x1b$B" + repeated("x\xe6\x97\xa5", 200000) + "\xe6\x97", {}},
    };
    // What the command makes of a file it reads whole: UTF-8 is text with
    // bytes from 0x80 up that is valid UTF-8.
    for (Case& c : cases) {
        const bool high =
            std::any_of(c.Text.begin(), c.Text.end(), [](char b) { return (b & 0x80) != 0; });
        const bool utf8 = high && IsValidUtf8(c.Text);
        c.Out = utf8 ? Utf8ToAnsi(c.Text) : ConvertJCode(c.Text, jcSjis);
    }
    ASSERT_TRUE(cases[0].Out != cases[0].Text);
    ASSERT_TRUE(cases[1].Out != cases[1].Text);
    ASSERT_TRUE(cases[5].Out != cases[5].Text);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::filesystem::path file = dir / "text.txt";
        ASSERT_TRUE(WriteTestFile(file, c.Text));
        TCliResult r = RunCli({"--raw", "jcode", "convert", file.string()});
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_TRUE(r.Out == c.Out)
            << "output of " << r.Out.size() << " bytes, " << c.Out.size() << " wanted";
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

} // namespace
} // namespace tarnhold::test
