// tarnhold-cli copy and delete over a copy of the cache Wine's WinINet wrote.
#include "cli/cli_helpers.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace tarnhold::test {
namespace {

namespace fs = std::filesystem;

const fs::path kCache = TARNHOLD_TEST_DATA "/cache/wine-ie-cache/Content.IE5";

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

TEST(CliCopy, CopiesASiteWithItsImagesAndSaysWhatItDid) {
    TScratch out;
    TCliResult r = RunCli({"--cache", kCache.string(), "copy", "http://www.shop.test/catalog/",
                           "--to", out.Path.string(), "--method", "3", "--overwrite", "all"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind("copied 3 files (", 0), 0u) << r.Out;
    EXPECT_NE(r.Out.find("2 pages rewritten"), std::string::npos) << r.Out;
    const fs::path page = out.Path / "http$3a/www.shop.test/catalog/shoes/running/model-x.html";
    EXPECT_NE(Read(page).find(R"(src="../../../../img.shop.test/products/shoe-01.png")"),
              std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(out.Path / "http$3a/img.shop.test/products/shoe-01.png"));

    // Folder method 1: the named folder lands in the destination itself.
    TScratch below;
    r = RunCli({"--cache", kCache.string(), "copy", "http://www.shop.test/catalog/", "--to",
                below.Path.string(), "--folder", "1", "--overwrite", "none"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_TRUE(fs::is_regular_file(below.Path / "catalog/full-headers.html"));

    // Again with "none": everything stays.
    r = RunCli({"--cache", kCache.string(), "copy", "http://www.shop.test/catalog/", "--to",
                below.Path.string(), "--folder", "1", "--overwrite", "none"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("2 kept"), std::string::npos) << r.Out;
}

TEST(CliCopy, RefusesWhatItCannotDo) {
    TScratch out;
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {"ask without a terminal",
         {"copy", "http://www.shop.test/", "--to", out.Path.string()},
         2,
         "needs a terminal"},
        {"no destination", {"copy", "http://www.shop.test/"}, 2, "--to"},
        {"bad method",
         {"copy", "http://www.shop.test/", "--to", out.Path.string(), "--method", "4"},
         2,
         "--method"},
        {"not in the cache",
         {"copy", "http://nowhere.test/", "--to", out.Path.string(), "--overwrite", "all"},
         1,
         "no such file or folder"},
        {"delete without a terminal", {"delete", "http://www.shop.test/"}, 2, "--yes"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--cache", kCache.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        TCliResult r = RunCli(args);
        EXPECT_EQ(r.ExitCode, c.exitCode) << c.name << ": " << r.Err;
        EXPECT_NE(r.Err.find(c.says), std::string::npos) << c.name << ": " << r.Err;
    }
    EXPECT_TRUE(fs::is_empty(out.Path));
}

TEST(CliCopy, StoppedRunExitsWithTheErrorText) {
    TScratch out;
    // A file where the copy needs a folder.
    std::ofstream(out.Path / "http$3a") << "in the way";
    TCliResult r = RunCli({"--cache", kCache.string(), "copy", "http://www.shop.test/robots.txt",
                           "--to", out.Path.string(), "--overwrite", "all"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_NE(r.Err.find("フォルダの作成に失敗しました。"), std::string::npos) << r.Err;
    EXPECT_NE(r.Out.find("stopped after 0 files"), std::string::npos) << r.Out;
}

TEST(CliDelete, DeletesNodesAndTheirCacheEntries) {
    TScratch dir;
    fs::copy(kCache, dir.Path / "c", fs::copy_options::recursive);
    const std::string cache = (dir.Path / "c").string();
    TCliResult r = RunCli({"--cache", cache, "delete", "http://www.shop.test/catalog/", "--yes"});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("removed http://www.shop.test/catalog/full-headers.html\n"),
              std::string::npos);
    EXPECT_NE(r.Out.find("removed http://www.shop.test/catalog/\n"), std::string::npos);
    EXPECT_NE(r.Out.find("2 cached files deleted"), std::string::npos) << r.Out;
    TCliResult after = RunCli({"--cache", cache, "list", "http://www.shop.test/catalog/"});
    EXPECT_EQ(after.ExitCode, 1) << "the entries are gone from index.dat";
}

} // namespace
} // namespace tarnhold::test
