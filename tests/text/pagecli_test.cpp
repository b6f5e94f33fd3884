// tarnhold-cli page: charset and title of a page, and its tokens.
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/testfiles.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnhold {
namespace {

struct TRun {
    int exitCode = -1;
    std::string out;
};

// Runs tarnhold-cli with the arguments (a shell command line) and collects its
// standard output (and standard error when asked).
TRun RunCli(const std::string& args, bool withErrors = false) {
    std::string command =
        std::string("'") + TARNHOLD_CLI + "' " + args + (withErrors ? " 2>&1" : " 2>/dev/null");
    TRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        run.out.append(buf, n);
    int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string DataFile(const char* name) {
    return std::string("'") + TARNHOLD_TEST_DATA + "/text/" + name + "'";
}

TEST(PageCli, CharsetAndTitle) {
    TRun run = RunCli("page " + DataFile("page-sjis.html"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "charset: 2 SHIFT_JIS\ntitle: ソフト表示 & 予定表 (c) 能登\n");

    run = RunCli("page " + DataFile("page-eucjp.html"));
    EXPECT_EQ(run.out, "charset: 4 EUC-JP\ntitle: 日記のページ 第二版\n");

    // --raw gives the title's Shift-JIS bytes.
    run = RunCli("--raw page " + DataFile("page-jis.html"));
    EXPECT_EQ(run.out, "charset: 3 ISO-2022-JP\ntitle: " + Utf8ToAnsi("竺唱の歌 <第一集>") + "\n");
}

TEST(PageCli, Tokens) {
    std::filesystem::path file = std::filesystem::temp_directory_path() /
                                 ("tarnhold-pagecli-" + std::to_string(::getpid()) + ".html");
    ASSERT_TRUE(WriteTestFile(file, "<!DOCTYPE html>\r\n<A HREF='x.html' nowrap = \"y\"\n"
                                    "target=_top>\x83\x5C<!-- c --><a 'v'>"));
    TRun run = RunCli("page --tokens '" + file.string() + "'");
    std::filesystem::remove(file);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "0\tdoctype\t!DOCTYPE\thtml\n"
                       "15\ttext\t\"\\r\\n\"\n"
                       "17\ttag\tA\tHREF='x.html'\tnowrap\t=\"y\"\ttarget=_top\n"
                       "59\ttext\t\"ソ\"\n"
                       "61\tcomment\t\"<!-- c -->\"\n"
                       "71\ttag\ta\t'v'\n");
}

TEST(PageCli, Failures) {
    TRun run = RunCli("page /nonexistent/page.html", true);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("/nonexistent/page.html"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(std::strerror(ENOENT)), std::string::npos) << run.out;

    EXPECT_EQ(RunCli("page").exitCode, 2);
    EXPECT_EQ(RunCli("page --bogus x").exitCode, 2);
    EXPECT_EQ(RunCli("page a b").exitCode, 2);
}

} // namespace
} // namespace tarnhold
