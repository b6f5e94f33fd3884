// tarnhold-cli over damaged caches, deleted entries and orphan files: the rows
// read still printed, the damage said on stderr with exit code 1, deleted
// entries only with --recovered, orphans listed and copied.
#include "cli/cli_helpers.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

namespace tarnhold::test {
namespace {

namespace fs = std::filesystem;

const fs::path kWine = TARNHOLD_TEST_DATA "/cache/wine-ie-cache";

class TScratch {
public:
    TScratch() {
        char name[] = "/tmp/trh-cli-recoveryXXXXXX";
        path_ = ::mkdtemp(name) != nullptr ? fs::path(name) : fs::path();
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }
    // A copy of the Wine cache whose index is the given one, cut to size
    // bytes when size is given.
    fs::path Cache(const fs::path& index, std::size_t size = 0) const {
        const fs::path cache = path_ / "Content.IE5";
        fs::copy(kWine / "Content.IE5", cache, fs::copy_options::recursive);
        fs::copy_file(index, cache / "index.dat", fs::copy_options::overwrite_existing);
        if (size > 0)
            fs::resize_file(cache / "index.dat", size);
        return cache;
    }

private:
    fs::path path_;
};

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CliRecovery, DamagedCacheKeepsItsRowsAndFails) {
    TScratch tmp;
    const fs::path cache = tmp.Cache(kWine / "Content.IE5/index.dat", 30000);
    struct TCase {
        const char* name;
        std::vector<std::string> args;
    };
    // Every command over the cache or its tree says it the same way.
    const std::string copyTo = (tmp.Path() / "copy").string();
    const TCase cases[] = {
        {"entries", {"entries"}},
        {"entries as JSON", {"entries", "--json"}},
        {"overview", {}},
        {"tree", {"tree"}},
        {"list", {"list", "http://www.shop.test/"}},
        {"name", {"name", "http://www.shop.test/robots.txt"}},
        {"find", {"find", "--name", "*.txt"}},
        {"copy", {"copy", "http://www.shop.test/robots.txt", "--to", copyTo}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"--cache", cache.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const TCliResult r = RunCli(args);
        EXPECT_EQ(r.ExitCode, 1);
        EXPECT_FALSE(r.Out.empty()) << "the rows read are still printed";
        EXPECT_NE(r.Err.find("damaged: the file ends at byte 30000"), std::string::npos) << r.Err;
        EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << "said once: " << r.Err;
    }
    const TCliResult caches = RunCli({"--cache", cache.string(), "caches"});
    EXPECT_EQ(caches.ExitCode, 1);
    EXPECT_NE(caches.Out.find("\t13 entries\t"), std::string::npos) << caches.Out;
    EXPECT_NE(caches.Out.find("damaged: the file ends at byte 30000"), std::string::npos);

    const TCliResult entries = RunCli({"--cache", cache.string(), "entries"});
    EXPECT_EQ(Lines(entries.Out).size(), 13u) << entries.Out;

    const TCliResult refused =
        RunCli({"--cache", cache.string(), "delete-entry", "--yes", "http://www.shop.test/"});
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_NE(refused.Err.find("never written"), std::string::npos) << refused.Err;
}

TEST(CliRecovery, HugeIndexGivesItsOwnSize) {
    // 10 GB of holes after a sound index: only the part an index can hold is
    // read, and the size said is the file's.
    TScratch tmp;
    const fs::path cache = tmp.Cache(kWine / "Content.IE5/index.dat");
    const std::uint64_t huge = std::uint64_t{10} << 30;
    fs::resize_file(cache / "index.dat", huge);
    const TCliResult r = RunCli({"--cache", cache.string(), "entries"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(Lines(r.Out).size(), 31u) << "the entries are still read";
    EXPECT_NE(r.Err.find("the file has " + std::to_string(huge)), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("only its first 16187392 bytes are read"), std::string::npos) << r.Err;
}

TEST(CliRecovery, DamagedBrowserCachesKeepTheirRowsAndFail) {
    const fs::path browsers = TARNHOLD_TEST_DATA "/browsers";
    struct TCase {
        const char* name;
        fs::path kept;      // the sound cache
        fs::path cacheArg;  // below the copy: what --cache names
        fs::path entryFile; // below the copy: the file cut short
    };
    const TCase cases[] = {
        {"Chromium", browsers / "chromium", ".", "8432ff26b88aad8b_0"},
        {"Firefox", browsers / "firefox", "cache2",
         "cache2/entries/9E1148B520849E4F6BCCB7EA0C48898438ACE3CE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TScratch tmp;
        const fs::path copy = tmp.Path() / "cache";
        fs::copy(c.kept, copy, fs::copy_options::recursive);
        const std::string cache = (copy / c.cacheArg).lexically_normal().string();
        const TCliResult sound = RunCli({"--cache", cache, "entries"});
        ASSERT_EQ(sound.ExitCode, 0) << sound.Err;
        EXPECT_EQ(sound.Err, "");

        fs::resize_file(copy / c.entryFile, fs::file_size(copy / c.entryFile) / 2);
        for (const char* command : {"entries", "tree"}) {
            SCOPED_TRACE(command);
            const TCliResult r = RunCli({"--cache", cache, command});
            EXPECT_EQ(r.ExitCode, 1);
            EXPECT_FALSE(r.Out.empty()) << "the rows read are still printed";
            EXPECT_NE(r.Err.find("damaged: 1 of "), std::string::npos) << r.Err;
            EXPECT_NE(r.Err.find(c.entryFile.filename().string()), std::string::npos) << r.Err;
            EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << "said once: " << r.Err;
            if (std::string(command) == "entries") {
                EXPECT_EQ(Lines(r.Out).size() + 1, Lines(sound.Out).size()) << r.Out;
            }
        }
    }
}

TEST(CliRecovery, DeletedEntriesOnlyWithRecovered) {
    TScratch tmp;
    const fs::path cache = tmp.Cache(kWine / "after-delete/index.dat");
    fs::remove(cache / "H7V2JOO9/full-headers[0].htm");
    const std::string faq = "http://www.shop.test/FAQ.html";
    const std::string gone = "http://www.shop.test/catalog/full-headers.html";

    const TCliResult plain = RunCli({"--cache", cache.string(), "entries", "--json"});
    ASSERT_EQ(plain.ExitCode, 0) << plain.Err;
    EXPECT_EQ(Lines(plain.Out).size(), 29u);
    EXPECT_EQ(plain.Out.find(faq), std::string::npos);

    const TCliResult all = RunCli({"entries", "--recovered", "--json", "--cache", cache.string()});
    ASSERT_EQ(all.ExitCode, 0) << all.Err;
    const auto lines = Lines(all.Out);
    ASSERT_EQ(lines.size(), 31u);
    std::map<std::string, std::string> recovered; // URL -> cached file
    for (const auto& line : lines) {
        const auto object = ParseJsonObject(line);
        ASSERT_TRUE(object) << line;
        if (object->at("recovered") == "true")
            recovered[object->at("url")] = object->at("cached_file");
        else
            EXPECT_EQ(object->at("recovered"), "false");
    }
    EXPECT_EQ(recovered, (std::map<std::string, std::string>{
                             {faq, (cache / "DZHPG5TO/FAQ[0].htm").string()}, {gone, ""}}));

    // Copied like any other file; the one whose file is gone is not.
    const fs::path to = tmp.Path() / "out";
    const TCliResult copy = RunCli({"--recovered", "--cache", cache.string(), "copy", faq, gone,
                                    "--to", to.string(), "--overwrite", "all"});
    EXPECT_EQ(copy.ExitCode, 0) << copy.Err;
    const fs::path site = to / "http$3a/www.shop.test";
    EXPECT_NE(ReadText(site / "FAQ.html").find("<title>FAQ (OLD)</title>"), std::string::npos)
        << "the recovered page, its links rewritten";
    EXPECT_FALSE(fs::exists(site / "catalog/full-headers.html"));
    // Without --recovered the name finds only the live page that differs in
    // case.
    const fs::path live = tmp.Path() / "live";
    const TCliResult without =
        RunCli({"--cache", cache.string(), "copy", faq, "--to", live.string()});
    EXPECT_EQ(without.ExitCode, 0) << without.Err;
    EXPECT_FALSE(fs::exists(live / "http$3a/www.shop.test/FAQ.html"))
        << "not in the tree without --recovered";
    EXPECT_TRUE(fs::exists(live / "http$3a/www.shop.test/faq.html"));
}

TEST(CliRecovery, OrphansAreListedAndCopied) {
    TScratch tmp;
    const fs::path cache = tmp.Cache(kWine / "Content.IE5/index.dat");
    std::ofstream(cache / "LF9FM8KU/stray[0].htm") << "<p>lost</p>";
    const TCliResult list = RunCli({"--cache", cache.string(), "orphans"});
    ASSERT_EQ(list.ExitCode, 0) << list.Err;
    ASSERT_EQ(Lines(list.Out).size(), 1u) << list.Out;
    EXPECT_EQ(list.Out.rfind("LF9FM8KU\tstray[0].htm\t11\t", 0), 0u) << list.Out;

    const fs::path to = tmp.Path() / "rescued";
    const TCliResult copy =
        RunCli({"--cache", cache.string(), "orphans", "--to", to.string(), "--json"});
    ASSERT_EQ(copy.ExitCode, 0) << copy.Err;
    const auto object = ParseJsonObject(Lines(copy.Out).at(0));
    ASSERT_TRUE(object);
    EXPECT_EQ(object->at("copied_to"), (to / "LF9FM8KU/stray[0].htm").string());
    EXPECT_EQ(ReadText(to / "LF9FM8KU/stray[0].htm"), "<p>lost</p>");
    const TCliResult again = RunCli({"--cache", cache.string(), "orphans", "--to", to.string()});
    EXPECT_EQ(again.ExitCode, 1) << "an existing file is not overwritten";
    EXPECT_NE(again.Err.find("File exists"), std::string::npos) << again.Err;
}

} // namespace
} // namespace tarnhold::test
