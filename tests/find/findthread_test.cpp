#include "find/findthread.h"
#include "platform/appfolder.h"
#include "platform/files.h"
#include "support/cachetreefixture.h"
#include "support/memoryprobe.h"
#include "support/testfiles.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;
using testing::MakeTree;
using testing::Refresh;

// 日本語 in the three codes of Japanese web pages.
const std::string kSjis = "\x93\xfa\x96\x7b\x8c\xea";
const std::string kEuc = "\xc6\xfc\xcb\xdc\xb8\xec";
const std::string kJis = "\x1b$BF|K\\8l\x1b(B";
// What is searched for: the word as typed, in UTF-8.
const std::string kWord = "日本語";

class FindTest : public ::testing::Test {
protected:
    void SetUp() override { Dir = CreateTempFolder(); }
    void TearDown() override { DeleteFolder(Dir); }

    std::string File(const std::string& name, const std::string& content) {
        EXPECT_TRUE(WriteTestFile(Dir / name, content));
        return (Dir / name).string();
    }

    // A small site: files in three folders, pages in the three codes.
    std::unique_ptr<TWebCacheTree> MakeSite() {
        auto tree = MakeTree({
            {"http://host/Abc.html", "text/html", 5, 2000,
             File("abc", "<title>" + kSjis + "</title>Hello World")},
            {"http://host/dir/xb.gif", "image/gif", 6, 100, File("xb", "GIF89a\x01\x02")},
            {"http://host/dir/euc.html", "text/html", 7, 300, File("euc", "<p>" + kEuc + "</p>")},
            {"http://host/dir/sub/jis.html", "text/html", 8, 50000,
             File("jis", "<p>" + kJis + "</p>")},
            {"http://other/q.txt", "text/plain", 9, 10, File("q", "hello")},
        });
        Refresh(*tree);
        return tree;
    }

    struct TRun {
        std::vector<std::string> Hits; // folder URL + display name ("/" for folders)
        std::vector<std::string> Folders;
        int Terminated = 0;
    };

    static TRun Search(std::unique_ptr<TFindData> data) {
        TRun run;
        TFindThread search(std::move(data));
        search.OnFound = [&](TFindThread& sender, TWebCacheTreeNode* node) {
            EXPECT_EQ(sender.FoundNode(), node);
            run.Hits.push_back(node->IsFolder ? node->DirUrl()
                                              : node->DirUrl() + node->DisplayName());
        };
        search.OnFolder = [&](TFindThread&, const std::string& url) { run.Folders.push_back(url); };
        search.OnTerminate = [&](TFindThread&) { ++run.Terminated; };
        search.Start();
        search.WaitFor();
        return run;
    }

    fs::path Dir;
};

TEST_F(FindTest, NoCriteriaFindsEveryNodeBelowTheHostLevel) {
    auto tree = MakeSite();
    auto data = std::make_unique<TFindData>();
    data->StartNode = tree->Root();
    TRun run = Search(std::move(data));
    EXPECT_EQ(run.Hits,
              (std::vector<std::string>{"http://host/", "http://other/", "http://host/Abc.html",
                                        "http://host/dir/", "http://host/dir/euc.html",
                                        "http://host/dir/sub/", "http://host/dir/xb.gif",
                                        "http://host/dir/sub/jis.html", "http://other/q.txt"}))
        << "children before grandchildren; the root and the scheme folders are never hits";
    EXPECT_EQ(run.Terminated, 1);
    EXPECT_EQ(run.Folders.front(), "") << "the root is visited first";
    EXPECT_EQ(run.Folders.size(), 11u) << "every node below the start, files included, and it";
}

TEST_F(FindTest, CriteriaTable) {
    auto tree = MakeSite();
    // A page modified in the last minute of the last day of the range.
    TWebCacheTreeNode* late = tree->FindNodeByUrl("http://host/dir/xb.gif");
    ASSERT_NE(late, nullptr);
    late->MutableInfo()->LastModified = MakeSystemTime(2026, 11, 10, 23, 59, 59);
    TWebCacheTreeNode* undated = tree->FindNodeByUrl("http://other/q.txt");
    undated->MutableInfo()->LastModified = SYSTEMTIME{};
    tree->UpdateFolderTotals(tree->Root());

    struct Case {
        const char* name;
        std::function<void(TFindData&)> set;
        std::vector<std::string> hits;
    } cases[] = {
        {"names a;B ignore case",
         [](TFindData& d) { SetNames(d, "a;B"); },
         {"http://host/Abc.html", "http://host/dir/xb.gif", "http://host/dir/sub/"}},
        {"a leading ; matches every name",
         [](TFindData& d) { SetNames(d, ";zzz"); },
         {"http://host/", "http://other/", "http://host/Abc.html", "http://host/dir/",
          "http://host/dir/euc.html", "http://host/dir/xb.gif", "http://host/dir/sub/",
          "http://host/dir/sub/jis.html", "http://other/q.txt"}},
        {"type: never a folder",
         [](TFindData& d) {
             d.TypeFilter = true;
             d.AddExtension(".html");
         },
         {"http://host/Abc.html", "http://host/dir/euc.html", "http://host/dir/sub/jis.html"}},
        {"content: never a folder, any case",
         [](TFindData& d) { d.Contains = "HELLO"; },
         {"http://host/Abc.html", "http://other/q.txt"}},
        {"content with case",
         [](TFindData& d) {
             d.Contains = "hello";
             d.MatchAnyCase = false;
         },
         {"http://other/q.txt"}},
        {"Japanese in Shift-JIS, EUC-JP and JIS pages",
         [](TFindData& d) { d.Contains = kWord; },
         {"http://host/Abc.html", "http://host/dir/euc.html", "http://host/dir/sub/jis.html"}},
        {"date end inclusive to 23:59; zero date fails",
         [](TFindData& d) {
             SetDateRange(d, dmBetween, {}, 0, MakeSystemTime(2026, 11, 9),
                          MakeSystemTime(2026, 11, 10));
         },
         {"http://host/dir/xb.gif", "http://host/dir/", "http://host/"}},
        {"size in KB as shown",
         [](TFindData& d) { SetSizeRange(d, soBetween, 1, 2); },
         {"http://host/Abc.html", "http://host/dir/xb.gif", "http://host/dir/euc.html",
          "http://other/q.txt", "http://host/", "http://host/dir/", "http://host/dir/sub/",
          "http://other/"}},
        {"without subfolders",
         [&](TFindData& d) {
             d.StartNode = tree->FindNodeByUrl("http://host/dir/");
             d.SubFolders = false;
         },
         {"http://host/dir/euc.html", "http://host/dir/xb.gif", "http://host/dir/sub/"}},
    };
    for (auto& c : cases) {
        auto data = std::make_unique<TFindData>();
        data->StartNode = tree->Root();
        c.set(*data);
        TRun run = Search(std::move(data));
        std::sort(run.Hits.begin(), run.Hits.end());
        std::sort(c.hits.begin(), c.hits.end());
        EXPECT_EQ(run.Hits, c.hits) << c.name;
    }
}

TEST_F(FindTest, FileContainsTable) {
    const std::string fifo = (Dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::string path;
        std::string text;
        bool anyCase;
        bool found;
    } cases[] = {
        {"Shift-JIS", File("s", "x" + kSjis + "y"), kWord, true, true},
        {"EUC-JP converted", File("e", "x" + kEuc + "y"), kWord, true, true},
        {"ISO-2022-JP converted", File("j", "x" + kJis + "y"), kWord, false, true},
        {"not text: searched as it is", File("b1", std::string("\0\1", 2) + kSjis), kWord, true,
         true},
        {"not text: EUC bytes stay EUC", File("b2", std::string("\0\1", 2) + kEuc), kWord, true,
         false},
        {"UTF-8 undeclared", File("u1", "<p>x" + kWord + "y</p>"), kWord, true, true},
        {"UTF-8 declared", File("u2", "<meta charset=utf-8><p>テスト</p>"), "テスト", true, true},
        // ASCII right after a character whose last byte a Shift-JIS reading
        // would take for a lead byte.
        {"ASCII after a curly quote", File("u3", "say \u201ccoroutine\u201d"), "coroutine", true,
         true},
        {"ASCII after hiragana", File("u4", "\u3042coroutine"), "COROUTINE", true, true},
        {"emoji", File("u5", "<p>fun \U0001F600 here</p>"), "\U0001F600", false, true},
        {"Hangul", File("u6", "<p>\uD55C\uAD6D\uC5B4</p>"), "\uAD6D", false, true},
        {"never inside a UTF-8 character", File("u7", "\u3042\u3044"), "\x81\x82\xE3", false,
         false},
        {"UTF-8 text in a Shift-JIS page", File("u8", "x" + kSjis + "y"), "\U0001F600", true,
         false},
        {"windows-1252 declared",
         File("w1", "<meta charset=windows-1252><p>Cr\xE8"
                    "me br\xFB"
                    "l\xE9"
                    "e</p>"),
         "Crème brûlée", false, true},
        {"GBK declared", File("g1", "<meta charset=gb2312><p>\xD6\xD0\xCE\xC4</p>"), "中文", false,
         true},
        {"declared in capitals", File("g2", "<META CharSet=GB2312><p>\xD6\xD0\xCE\xC4</p>"), "中文",
         false, true},
        {"7-bit ISO-2022-JP after a window of ASCII",
         File("j2", std::string(kContentWindow, 'a') + "\x1b$BF|K\\8l\x1b(B"), kWord, false, true},
        {"never from a trail byte", File("t", "\x83\x41"), "A", true, false},
        {"ASCII any case", File("a", "Hello"), "hELLO", true, true},
        {"ASCII with case", File("a2", "Hello"), "hELLO", false, false},
        {"empty file", File("empty", ""), "", true, false},
        {"missing file", (Dir / "missing").string(), "x", true, false},
        {"a folder", Dir.string(), "x", true, false},
        {"a FIFO is not read", fifo, "x", true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileContains(c.path, c.text, c.anyCase), c.found) << c.name;
}

TEST_F(FindTest, FileContainsReadsInWindowsAndFindsTextAcrossTheirSeams) {
    // The text lies across the end of the first window, a few bytes either
    // way; each code's characters must be cut whole, and ISO-2022-JP's
    // kanji mode carried into the next window.
    struct Code {
        const char* name;
        std::string start; // before the padding
        std::string pad;   // one character of padding
        std::string word;  // the text as stored
        std::string end;
    } codes[] = {
        {"Shift-JIS", "", "\x82\xa0", kSjis, ""},
        {"EUC-JP", "", "\xa4\xa2", kEuc, ""},
        {"ISO-2022-JP in kanji mode", "\x1b$B", "$\"", "F|K\\8l", "\x1b(B"},
        {"UTF-8", "", "\u3042", kWord, ""},
        {"UTF-8, four-byte padding", "", "\U0001F600", kWord, ""},
    };
    for (const Code& c : codes) {
        for (int shift = -6; shift <= 6; ++shift) {
            std::string content = c.start;
            while (content.size() + c.pad.size() + 2 <= kContentWindow + shift)
                content += c.pad;
            content += c.word + c.end;
            EXPECT_TRUE(FileContains(File("seam", content), kWord, false))
                << c.name << ", shift " << shift;
        }
    }
    // Katakana "ア" is 0x83 0x41: no window cut may leave its trail byte
    // looking like the letter A.
    std::string katakana;
    while (katakana.size() < 3 * kContentWindow)
        katakana += "\x83\x41";
    EXPECT_FALSE(FileContains(File("kana", katakana), "A", true));
    EXPECT_TRUE(FileContains(File("kana2", katakana + "A"), "a", true));
}

TEST_F(FindTest, FileContainsIgnoresTheCaseOfLettersOnlyWhereTheyAreCharacters) {
    // "アb" in Shift-JIS is 0x83 0x41 0x62: the trail byte 0x41 is no letter.
    const std::string kanaB = "\u30a2b";
    const std::string sjisPage = kSjis + "\x82\xa0";
    struct Case {
        const char* name;
        std::string content;
        std::string text;
        bool found;
    } cases[] = {
        {"letter after a kana", sjisPage + "\x83\x41" + "B", kanaB, true},
        {"trail byte keeps its case", sjisPage + "\x83\x61" + "b", kanaB, false},
        {"a trail byte is no letter of the text", sjisPage + "\x83\x41\x42", "ab", false},
        {"mixed case, UTF-8", "<p>\u00fcn\u00efCODE x</p>", "\u00fcn\u00efcode X", true},
        {"all letters, every case", "<p>tArNhOlD rEsCuE</p>", "TARNHOLD rescue", true},
        {"a near miss at every anchor", "tarnholD rescuX tarnhold rescu", "TARNHOLD RESCUE", false},
        {"at the very start and end", "Rescue", "rESCUE", true},
        {"longer than the content", "resc", "rescue", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileContains(File("case", c.content), c.text, true), c.found) << c.name;

    // Across the end of the first window, in ASCII and in Shift-JIS pages.
    for (const std::string& pad : {std::string("x"), std::string("\x82\xa0")}) {
        for (int shift = -20; shift <= 20; ++shift) {
            std::string content = pad == "x" ? "" : kSjis;
            while (content.size() + pad.size() + 8 <= kContentWindow + shift)
                content += pad;
            content += "TarnHOLD Rescue";
            EXPECT_TRUE(FileContains(File("seam", content), "tarnhold RESCUE", true))
                << "padding " << pad.size() << ", shift " << shift;
            content.back() = 'X';
            EXPECT_FALSE(FileContains(File("seam", content), "tarnhold RESCUE", true))
                << "padding " << pad.size() << ", shift " << shift;
        }
    }
}

TEST_F(FindTest, FileContainsSearchesAHugeFileInBoundedMemory) {
    const std::string path = File("huge", "");
    const off_t size = off_t{256} << 20;
    ASSERT_EQ(::truncate(path.c_str(), size), 0);
    {
        std::FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, static_cast<long>(size), SEEK_SET);
        std::fputs("needle", f);
        std::fclose(f);
    }
    const std::int64_t growth =
        testing::PeakGrowthOf([&] { return FileContains(path, "NEEDLE", true); });
    ASSERT_GE(growth, 0) << "the text at the very end was not found";
    EXPECT_LT(growth, std::int64_t{64} << 20);
}

TEST_F(FindTest, StoppedSearchReportsNothingMore) {
    auto tree = MakeSite();
    auto data = std::make_unique<TFindData>();
    data->StartNode = tree->Root();
    TFindThread search(std::move(data));
    int hits = 0, terminated = 0;
    search.OnFound = [&](TFindThread& sender, TWebCacheTreeNode*) {
        ++hits;
        sender.Stop(); // from inside the handler, while the worker waits for it
    };
    search.OnTerminate = [&](TFindThread&) { ++terminated; };
    search.Start();
    search.WaitFor();
    EXPECT_EQ(hits, 1);
    EXPECT_EQ(terminated, 1) << "the end is still reported, once";
    EXPECT_FALSE(search.ProcessMessages());
}

TEST_F(FindTest, StopBeforeStartEndsAtOnce) {
    auto tree = MakeSite();
    auto data = std::make_unique<TFindData>();
    data->StartNode = tree->Root();
    TFindThread search(std::move(data));
    int found = 0, terminated = 0;
    search.OnFound = [&](TFindThread&, TWebCacheTreeNode*) { ++found; };
    search.OnTerminate = [&](TFindThread&) { ++terminated; };
    search.Stop();
    search.Start();
    search.WaitFor(); // returns: nothing runs
    EXPECT_EQ(found, 0);
    EXPECT_EQ(terminated, 1);
}

TEST_F(FindTest, StartFolderWithoutChildren) {
    auto tree = MakeTree({});
    Refresh(*tree);
    auto data = std::make_unique<TFindData>();
    data->StartNode = tree->Root();
    TRun run = Search(std::move(data));
    EXPECT_TRUE(run.Hits.empty());
    EXPECT_EQ(run.Folders.size(), 1u);
    EXPECT_EQ(run.Terminated, 1);
}

// A larger tree for the rebuild tests: 40 hosts of 50 files each.
std::unique_ptr<TWebCacheTree> MakeBigTree() {
    std::vector<testing::TEntrySpec> specs;
    for (int h = 0; h < 40; ++h)
        for (int f = 0; f < 50; ++f)
            specs.push_back({"http://h" + std::to_string(h) + ".test/d" + std::to_string(f % 5) +
                             "/p" + std::to_string(f) + ".html"});
    auto tree = MakeTree(specs);
    Refresh(*tree);
    return tree;
}

TEST(FindDuringRebuild, RebuildFromTheOwnerStopsTheSearchFirst) {
    auto tree = MakeBigTree();
    auto data = std::make_unique<TFindData>();
    data->StartNode = tree->Root();
    TFindThread search(std::move(data));
    std::atomic<int> folders{0};
    int hits = 0, terminated = 0;
    search.OnFound = [&](TFindThread&, TWebCacheTreeNode* node) {
        ++hits;
        EXPECT_FALSE(node->Name().empty());
    };
    search.OnFolder = [&](TFindThread&, const std::string&) { ++folders; };
    search.OnTerminate = [&](TFindThread&) { ++terminated; };
    TSubscription stopHook = StopBeforeChanges(*tree, search);
    search.Start();
    // Take some hits, then rebuild while the worker is in the middle of the tree.
    for (int i = 0; i < 20; ++i)
        search.ProcessMessages(std::chrono::milliseconds(100));
    const int before = hits;
    Refresh(*tree);
    EXPECT_TRUE(search.Terminated());
    EXPECT_EQ(terminated, 1);
    search.WaitFor();
    EXPECT_EQ(hits, before) << "no hit from the old tree after the rebuild";
    stopHook.Reset();
}

TEST(FindDuringRebuild, RebuildFromInsideAHitHandler) {
    auto tree = MakeBigTree();
    auto data = std::make_unique<TFindData>();
    data->StartNode = tree->Root();
    TFindThread search(std::move(data));
    int hits = 0;
    search.OnFound = [&](TFindThread&, TWebCacheTreeNode*) {
        if (++hits == 10)
            Refresh(*tree); // the worker waits for this handler meanwhile
    };
    TSubscription stopHook = StopBeforeChanges(*tree, search);
    search.Start();
    search.WaitFor();
    EXPECT_EQ(hits, 10);
    stopHook.Reset();
}

TEST(FindDuringRebuild, WorkerWithoutHitHandlerNeverWaits) {
    // Without OnFound the worker never stops for the owner: the rebuild
    // meets it in the middle of its walk.
    auto tree = MakeBigTree();
    for (int round = 0; round < 5; ++round) {
        auto data = std::make_unique<TFindData>();
        data->StartNode = tree->Root();
        SetNames(*data, "p1");
        TFindThread search(std::move(data));
        std::atomic<int> folders{0};
        search.OnFolder = [&](TFindThread&, const std::string& url) {
            folders += url.empty() ? 0 : 1;
        };
        TSubscription stopHook = StopBeforeChanges(*tree, search);
        search.Start();
        std::this_thread::sleep_for(std::chrono::microseconds(200 * round));
        Refresh(*tree);
        EXPECT_TRUE(search.Terminated());
        stopHook.Reset();
    }
}

} // namespace
} // namespace tarnhold
