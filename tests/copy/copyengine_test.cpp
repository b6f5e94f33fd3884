#include "copy/copy_test_helpers.h"
#include "copy/copyengine.h"
#include "copy/deletenodes.h"
#include "platform/files.h"
#include "support/memoryprobe.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;
using test::FilesBelow;
using test::ReadFileBytes;
using test::TCountingProgress;
using test::TScriptedPrompts;
using test::TSiteFixture;
using test::WriteFileBytes;

// Copies everything below the folder of folderUrl as the tree's command does
// (prefix = the folder's parent).
bool CopyFolder(TCopyEngine& engine, TWebCacheTree& tree, const std::string& folderUrl,
                const fs::path& out, TCopyMethod method = TCopyMethod::None,
                TFolderMethod folder = TFolderMethod::WholePath,
                TOverwriteAnswer* answer = nullptr) {
    TWebCacheTreeNode* node = tree.FindFolderByUrl(folderUrl);
    EXPECT_NE(node, nullptr) << folderUrl;
    TCopyOptions options;
    options.Destination = out;
    options.PrefixFolder = node->Parent();
    options.Method = method;
    options.Folder = folder;
    return CopyToFolder(engine, {node}, options, answer);
}

std::int64_t MTime(const fs::path& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
    return st.st_mtim.tv_sec;
}

// 2026-11-<day> 12:00 UTC, as the fixture dates its entries.
std::int64_t EntryTime(int day) {
    return 1793534400 + static_cast<std::int64_t>(day - 1) * 86400; // 2026-11-01 12:00 UTC
}

TEST(CopyEngine, WritesFilesWhereTheirUrlsSayWithTheCacheTime) {
    TSiteFixture site;
    site.Add("http://h1/a/index.html", R"(<img src="img/p.gif"><a href="../b/q.html">)",
             "text/html", 3);
    site.Add("http://h1/a/img/p.gif", "GIF89a", "image/gif", 4);
    site.Add("http://h1/b/q.html", "<p>q</p>");
    auto tree = site.Tree();
    TCountingProgress progress;
    TCopyEngine engine(*tree, nullptr, &progress);

    ASSERT_TRUE(CopyFolder(engine, *tree, "http://h1/a/", site.Out()));
    EXPECT_EQ(FilesBelow(site.Out()),
              (std::vector<std::string>{"http$3a/h1/a/img/p.gif", "http$3a/h1/a/index.html"}));
    EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h1/a/img/p.gif"), "GIF89a");
    EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h1/a/index.html"),
              R"(<img src="img/p.gif"><a href="../b/q.html">)");
    EXPECT_EQ(MTime(site.Out() / "http$3a/h1/a/index.html"), EntryTime(3));
    EXPECT_EQ(MTime(site.Out() / "http$3a/h1/a/img/p.gif"), EntryTime(4));
    EXPECT_EQ(progress.Maximum, 2);
    EXPECT_EQ(progress.Position, 2);
    EXPECT_EQ(engine.Stats().Files, 2);
    EXPECT_EQ(engine.Stats().Pages, 1);
    EXPECT_EQ(engine.Stats().LinksOutside, 0);

    // Folder method 1: the copied folder itself lands in the destination.
    TCopyEngine below(*tree);
    ASSERT_TRUE(CopyFolder(below, *tree, "http://h1/a/", site.Out() / "m1", TCopyMethod::None,
                           TFolderMethod::BelowPrefix));
    EXPECT_EQ(FilesBelow(site.Out() / "m1"),
              (std::vector<std::string>{"a/img/p.gif", "a/index.html"}));
}

TEST(CopyEngine, EmbeddedFilesFoundOnTheWayAreCopiedInTheSameRun) {
    TSiteFixture site;
    // The page sorts after the image it embeds: the walk must start again.
    site.Add("http://h1/z/page.html", R"(<img src="/a/i.gif"><img src="http://h2/j.gif">)");
    site.Add("http://h1/a/i.gif", "i", "image/gif");
    site.Add("http://h2/j.gif", "j", "image/gif");
    struct Case {
        const char* name;
        TCopyMethod method;
        std::vector<std::string> files;
    };
    const Case cases[] = {
        {"method 1", TCopyMethod::None, {"http$3a/h1/z/page.html"}},
        {"method 2", TCopyMethod::SameSite, {"http$3a/h1/a/i.gif", "http$3a/h1/z/page.html"}},
        {"method 3",
         TCopyMethod::All,
         {"http$3a/h1/a/i.gif", "http$3a/h1/z/page.html", "http$3a/h2/j.gif"}},
    };
    for (const Case& c : cases) {
        auto tree = site.Tree();
        TCountingProgress progress;
        TCopyEngine engine(*tree, nullptr, &progress);
        fs::path out = site.Out() / std::to_string(static_cast<int>(c.method));
        ASSERT_TRUE(CopyFolder(engine, *tree, "http://h1/z/", out, c.method)) << c.name;
        EXPECT_EQ(FilesBelow(out), c.files) << c.name;
        EXPECT_EQ(progress.Maximum, static_cast<int>(c.files.size())) << c.name;
        EXPECT_EQ(progress.Position, progress.Maximum) << c.name;
    }
}

TEST(CopyEngine, MethodsByTheirStoredNumbers) {
    // favorites.dat and the command line number them.
    EXPECT_EQ(CopyMethodFromNumber(1), TCopyMethod::None);
    EXPECT_EQ(CopyMethodFromNumber(2), TCopyMethod::SameSite);
    EXPECT_EQ(CopyMethodFromNumber(3), TCopyMethod::All);
    EXPECT_EQ(CopyMethodFromNumber(0), TCopyMethod::None)
        << "an unknown number takes nothing along";
    EXPECT_EQ(CopyMethodFromNumber(99), TCopyMethod::None);
    EXPECT_EQ(FolderMethodFromNumber(1), TFolderMethod::BelowPrefix);
    EXPECT_EQ(FolderMethodFromNumber(2), TFolderMethod::WholePath);
    EXPECT_EQ(FolderMethodFromNumber(0), TFolderMethod::WholePath);
}

TEST(CopyEngine, OverwriteAnswers) {
    // The local file exists with a time of day 5; entries of day 3 (older),
    // day 5 (same) and day 7 (newer).
    struct Case {
        const char* name;
        int day;
        std::vector<TOverwriteAnswer> script; // answers given when asked
        TOverwriteAnswer answerBefore;        // the command's answer when the file comes
        bool overwritten;
        TOverwriteAnswer answerAfter;
        bool stopped;
    };
    const Case cases[] = {
        {"yes",
         3,
         {TOverwriteAnswer::Yes},
         TOverwriteAnswer::Yes,
         true,
         TOverwriteAnswer::Yes,
         false},
        {"no",
         7,
         {TOverwriteAnswer::No},
         TOverwriteAnswer::Yes,
         false,
         TOverwriteAnswer::No,
         false},
        {"yes to all",
         3,
         {TOverwriteAnswer::YesToAll},
         TOverwriteAnswer::Yes,
         true,
         TOverwriteAnswer::YesToAll,
         false},
        {"no to all",
         7,
         {TOverwriteAnswer::NoToAll},
         TOverwriteAnswer::Yes,
         false,
         TOverwriteAnswer::NoToAll,
         false},
        {"newer: older entry stays",
         3,
         {TOverwriteAnswer::Newer},
         TOverwriteAnswer::Yes,
         false,
         TOverwriteAnswer::Newer,
         false},
        {"newer: same time stays",
         5,
         {},
         TOverwriteAnswer::Newer,
         false,
         TOverwriteAnswer::Newer,
         false},
        {"newer: newer entry overwrites",
         7,
         {},
         TOverwriteAnswer::Newer,
         true,
         TOverwriteAnswer::Newer,
         false},
        {"all given before: not asked",
         3,
         {},
         TOverwriteAnswer::YesToAll,
         true,
         TOverwriteAnswer::YesToAll,
         false},
        {"none given before: not asked",
         7,
         {},
         TOverwriteAnswer::NoToAll,
         false,
         TOverwriteAnswer::NoToAll,
         false},
        {"cancel stops, file stays",
         7,
         {TOverwriteAnswer::Cancel},
         TOverwriteAnswer::Yes,
         false,
         TOverwriteAnswer::Cancel,
         true},
    };
    for (const Case& c : cases) {
        TSiteFixture site;
        site.Add("http://h/f.txt", "new", "text/plain", c.day);
        auto tree = site.Tree();
        const fs::path local = site.Out() / "http$3a/h/f.txt";
        fs::create_directories(local.parent_path());
        WriteFileBytes(local, "old");
        FILETIME day5;
        SYSTEMTIME st{2026, 11, 0, 5, 12, 0, 0, 0};
        ASSERT_TRUE(SystemTimeToFileTime(st, day5));
        ASSERT_TRUE(SetFileTimeUtc(local, day5));

        TScriptedPrompts prompts(c.script);
        TCopyEngine engine(*tree, &prompts);
        TOverwriteAnswer answer = c.answerBefore;
        bool done = CopyFolder(engine, *tree, "http://h/", site.Out(), TCopyMethod::None,
                               TFolderMethod::WholePath, &answer);
        EXPECT_EQ(done, !c.stopped) << c.name;
        EXPECT_EQ(prompts.Asked.size(), c.script.size()) << c.name;
        EXPECT_EQ(ReadFileBytes(local), c.overwritten ? "new" : "old") << c.name;
        EXPECT_EQ(answer, c.answerAfter) << c.name;
        EXPECT_EQ(FilesBelow(site.Out()), std::vector<std::string>{"http$3a/h/f.txt"})
            << c.name << ": no temporary file left";
        EXPECT_TRUE(prompts.Failures.empty()) << c.name;
    }
}

TEST(CopyEngine, NoToAllKeepsExistingFilesAndStillCopiesNewOnes) {
    TSiteFixture site;
    site.Add("http://h/1.txt", "new1", "text/plain");
    site.Add("http://h/2.txt", "new2", "text/plain");
    site.Add("http://h/3.txt", "new3", "text/plain");
    auto tree = site.Tree();
    fs::create_directories(site.Out() / "http$3a/h");
    WriteFileBytes(site.Out() / "http$3a/h/1.txt", "old1");
    WriteFileBytes(site.Out() / "http$3a/h/3.txt", "old3");
    TScriptedPrompts prompts({TOverwriteAnswer::NoToAll});
    TCopyEngine engine(*tree, &prompts);
    ASSERT_TRUE(CopyFolder(engine, *tree, "http://h/", site.Out()));
    EXPECT_EQ(prompts.Asked.size(), 1u);
    EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h/1.txt"), "old1");
    EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h/2.txt"), "new2");
    EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h/3.txt"), "old3");
    EXPECT_EQ(engine.Stats().Kept, 2);
}

TEST(CopyEngine, APageThatStaysIsStillScannedForItsImages) {
    TSiteFixture site;
    site.Add("http://h/p/page.html", R"(<img src="/i/x.gif">)");
    site.Add("http://h/i/x.gif", "x", "image/gif");
    auto tree = site.Tree();
    const fs::path page = site.Out() / "http$3a/h/p/page.html";
    fs::create_directories(page.parent_path());
    WriteFileBytes(page, "mine");
    TScriptedPrompts prompts({TOverwriteAnswer::No});
    TCopyEngine engine(*tree, &prompts);
    ASSERT_TRUE(CopyFolder(engine, *tree, "http://h/p/", site.Out(), TCopyMethod::SameSite));
    EXPECT_EQ(ReadFileBytes(page), "mine");
    EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h/i/x.gif"), "x");
}

TEST(CopyEngine, MissingCacheFile) {
    TSiteFixture site;
    site.AddMissing("http://h/a.html", "text/html");
    site.AddMissing("http://h/b.gif", "image/gif");
    auto tree = site.Tree();
    TScriptedPrompts prompts;
    TCopyEngine engine(*tree, &prompts);
    EXPECT_FALSE(CopyFolder(engine, *tree, "http://h/", site.Out()));
    // The page (first in order) stops the run as the image would.
    EXPECT_EQ(FilesBelow(site.Out()), std::vector<std::string>{});
    ASSERT_EQ(prompts.Failures.size(), 1u);
    const TCopyFailure& f = prompts.Failures[0];
    EXPECT_EQ(f.Kind, TCopyFailureKind::CopyFile);
    EXPECT_EQ(f.Error, ENOENT);
    EXPECT_EQ(f.LocalPath, site.Out() / "http$3a/h/a.html");
    const std::string last =
        std::string("\r\n\x83\x47\x83\x89\x81\x5b\x81\x46") + std::strerror(ENOENT);
    EXPECT_EQ(f.Text.substr(f.Text.size() - last.size()), last) << "the system's text last";
    EXPECT_NE(f.Text.find(f.CacheFile), std::string::npos);
    EXPECT_EQ(engine.Stats().Files, 0);
}

TEST(CopyEngine, APageThatCannotBeReadFailsAndLeavesTheOldCopy) {
    // Pages and stylesheets go through the rewriter; one whose cached body
    // cannot be read is a failed file, as any other file is, and the copy
    // made before stays as it was.
    struct {
        const char* Name;
        const char* Type;
        int Error;
    } cases[] = {
        {"evicted page", "text/html", ENOENT},      {"FIFO", "text/html", EINVAL},
        {"link to /dev/zero", "text/html", EINVAL}, {"slice past the end", "text/html", EIO},
        {"evicted stylesheet", "text/css", ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TSiteFixture site;
        const std::string name = std::string(c.Type) == "text/css" ? "s.css" : "p.html";
        const std::string url = "http://h/" + name;
        const fs::path cached = site.Root() / "cache" / "odd";
        if (std::string_view(c.Name) == "FIFO") {
            ASSERT_EQ(::mkfifo(cached.c_str(), 0600), 0);
            site.AddFile(url, cached, c.Type);
        } else if (std::string_view(c.Name) == "link to /dev/zero") {
            fs::create_symlink("/dev/zero", cached);
            site.AddFile(url, cached, c.Type);
        } else if (std::string_view(c.Name) == "slice past the end") {
            site.AddStored(url, "HEAD<html></html>", c.Type, "", 4, 100);
        } else {
            site.AddMissing(url, c.Type);
        }
        auto tree = site.Tree();
        const fs::path local = site.Out() / "http$3a/h" / name;
        fs::create_directories(local.parent_path());
        WriteFileBytes(local, "the good copy");
        TScriptedPrompts prompts({TOverwriteAnswer::Yes});
        TCopyEngine engine(*tree, &prompts);
        EXPECT_FALSE(CopyFolder(engine, *tree, "http://h/", site.Out()));
        EXPECT_EQ(ReadFileBytes(local), "the good copy");
        EXPECT_EQ(FilesBelow(site.Out()), std::vector<std::string>{"http$3a/h/" + name})
            << "no temporary file left behind";
        ASSERT_EQ(prompts.Failures.size(), 1u);
        EXPECT_EQ(prompts.Failures[0].Error, c.Error);
        EXPECT_EQ(engine.Stats().Files, 0);
    }
}

TEST(CopyEngine, BombsAreCopiedAsStoredAndNamed) {
    // Stacked encodings of zeros: a few hundred bytes that would decode to
    // 32 MiB and more. Written as stored, as they come, and named.
    const std::string gz = test::EncodeBody("gzip", std::string(64u << 20, '\0'));
    const std::string bomb = test::EncodeBody("gzip", gz);
    TSiteFixture site;
    site.AddStored("http://h/bomb.png", bomb, "image/png", "gzip, gzip");
    site.AddStored("http://h/bomb.html", "HEAD" + bomb, "text/html", "gzip, gzip", 4,
                   static_cast<std::int64_t>(bomb.size()));
    site.AddStored("http://h/fine.txt", test::EncodeBody("br", "fine"), "text/plain", "br");
    auto tree = site.Tree();
    TCopyEngine engine(*tree);
    ASSERT_TRUE(CopyFolder(engine, *tree, "http://h/", site.Out()));
    EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h/bomb.png"), bomb);
    EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h/fine.txt"), "fine");
    const TCopyStats& s = engine.Stats();
    EXPECT_EQ(s.Files, 3);
    ASSERT_EQ(s.AsIs, 2);
    std::vector<std::string> named;
    for (const TAsIsFile& f : s.AsIsFiles) {
        EXPECT_EQ(f.Kind, TAsIsKind::OverLimit) << f.Url;
        named.push_back(f.Url);
    }
    std::sort(named.begin(), named.end());
    EXPECT_EQ(named, (std::vector<std::string>{"http://h/bomb.html", "http://h/bomb.png"}));
    EXPECT_EQ(engine.Report().AsIsFiles().size(), 2u);
    EXPECT_NE(ReportHtml(engine.Report(), "out").find("bomb.png"), std::string::npos);
}

TEST(CopyEngine, APageTooLargeToRewriteIsCopiedAsItIsInBoundedMemory) {
    // A sparse page of 200 MB: its start links somewhere, the rest is
    // zeros. Copied byte for byte, named, and never held whole.
    TSiteFixture site;
    const fs::path cached = site.Root() / "cache" / "huge.htm";
    const std::string start = R"(<a href="../elsewhere.html">x</a>)";
    WriteFileBytes(cached, start);
    const std::uint64_t size = 200u << 20;
    ASSERT_EQ(::truncate(cached.c_str(), static_cast<off_t>(size)), 0);
    site.AddFile("http://h/a/huge.html", cached, "text/html");
    site.Add("http://h/a/small.html", start);
    auto tree = site.Tree();
    TCopyEngine engine(*tree);
    const std::int64_t growth = testing::PeakGrowthOf([&] {
        return CopyFolder(engine, *tree, "http://h/a/", site.Out()) && engine.Stats().Files == 2;
    });
    ASSERT_GE(growth, 0) << "the copy failed";
    EXPECT_LT(growth, std::int64_t{160} << 20) << "a page is never read whole";

    // The same copy in this process, for its outcome.
    const fs::path out = site.Out() / "again";
    ASSERT_TRUE(CopyFolder(engine, *tree, "http://h/a/", out));
    const fs::path copy = out / "http$3a/h/a/huge.html";
    EXPECT_EQ(fs::file_size(copy), size);
    EXPECT_EQ(ReadFileBytes(copy).substr(0, start.size()), start) << "its links unchanged";
    EXPECT_EQ(ReadFileBytes(out / "http$3a/h/a/small.html"),
              R"(<a href="../elsewhere.html">x</a>)");
    ASSERT_EQ(engine.Stats().AsIsFiles.size(), 1u);
    EXPECT_EQ(engine.Stats().AsIsFiles[0].Url, "http://h/a/huge.html");
    EXPECT_EQ(engine.Stats().AsIsFiles[0].Kind, TAsIsKind::TooLarge);
    EXPECT_EQ(engine.Stats().Pages, 1) << "only the small page was rewritten";
}

TEST(CopyEngine, FailedOverwriteLeavesTheOldFile) {
    TSiteFixture site;
    site.AddMissing("http://h/b.gif", "image/gif");
    auto tree = site.Tree();
    const fs::path local = site.Out() / "http$3a/h/b.gif";
    fs::create_directories(local.parent_path());
    WriteFileBytes(local, "precious");
    TScriptedPrompts prompts({TOverwriteAnswer::Yes});
    TCopyEngine engine(*tree, &prompts);
    EXPECT_FALSE(CopyFolder(engine, *tree, "http://h/", site.Out()));
    EXPECT_EQ(ReadFileBytes(local), "precious");
    EXPECT_EQ(FilesBelow(site.Out()), std::vector<std::string>{"http$3a/h/b.gif"});
}

TEST(CopyEngine, OverwritingKeepsAnOldCopyOfTheSameBytesAndReplacesAnyOther) {
    TSiteFixture site;
    site.Add("http://h/a.html", R"(<img src="b.gif">)", "text/html", 3);
    site.Add("http://h/b.gif", "GIF89a same", "image/gif", 4);
    site.Add("http://h/c.gif", "GIF89a c", "image/gif", 5);
    site.Add("http://h/d.gif", "GIF89a d", "image/gif", 6);
    site.Add("http://h/e.gif", "GIF89a e", "image/gif", 7);
    auto tree = site.Tree();
    const fs::path dir = site.Out() / "http$3a/h";
    auto inode = [](const fs::path& file) {
        struct stat st {};
        EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
        return st.st_ino;
    };
    auto age = [](const fs::path& file) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0) << file;
    };
    std::uint64_t firstBytes = 0;
    {
        TCopyEngine first(*tree);
        TOverwriteAnswer answer = TOverwriteAnswer::YesToAll;
        ASSERT_TRUE(CopyFolder(first, *tree, "http://h/", site.Out(), TCopyMethod::None,
                               TFolderMethod::WholePath, &answer));
        firstBytes = first.Stats().Bytes;
    }
    const auto pageInode = inode(dir / "a.html");
    const auto sameInode = inode(dir / "b.gif");
    age(dir / "a.html");
    age(dir / "b.gif");
    WriteFileBytes(dir / "c.gif", "GIF89a C"); // same size, other bytes
    fs::permissions(dir / "d.gif", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(::link((dir / "e.gif").c_str(), (site.Out() / "e-link").c_str()), 0);
    age(dir / "e.gif");
    for (const char* name : {"a.html", "b.gif", "c.gif", "d.gif", "e.gif"})
        tree->FindNodeByUrl(std::string("http://h/") + name)->Copied = false;

    TCopyEngine again(*tree);
    TOverwriteAnswer answer = TOverwriteAnswer::YesToAll;
    ASSERT_TRUE(CopyFolder(again, *tree, "http://h/", site.Out(), TCopyMethod::None,
                           TFolderMethod::WholePath, &answer));
    EXPECT_EQ(again.Stats().Files, 5);
    EXPECT_EQ(again.Stats().Pages, 1);
    EXPECT_EQ(again.Stats().Bytes, firstBytes);
    EXPECT_EQ(firstBytes, 17u + 11 + 8 + 8 + 8);
    // The same bytes: the old files stay, with the entry's time.
    EXPECT_EQ(inode(dir / "a.html"), pageInode);
    EXPECT_EQ(inode(dir / "b.gif"), sameInode);
    EXPECT_EQ(MTime(dir / "a.html"), EntryTime(3));
    EXPECT_EQ(MTime(dir / "b.gif"), EntryTime(4));
    // Other bytes, other permissions, another name for the file: replaced,
    // as a new file; the other name keeps the old file as it was.
    EXPECT_EQ(ReadFileBytes(dir / "c.gif"), "GIF89a c");
    EXPECT_EQ(MTime(dir / "c.gif"), EntryTime(5));
    EXPECT_EQ(fs::status(dir / "d.gif").permissions(), fs::status(dir / "c.gif").permissions());
    EXPECT_EQ(MTime(dir / "e.gif"), EntryTime(7));
    EXPECT_EQ(MTime(site.Out() / "e-link"), 1000000000);
    EXPECT_NE(inode(dir / "e.gif"), inode(site.Out() / "e-link"));
}

TEST(CopyEngine, HostileUrlsNeverLeaveTheDestination) {
    TSiteFixture site;
    const std::string longName(300, 'n');
    const std::string longMulti = [] {
        std::string s;
        for (int i = 0; i < 120; ++i)
            s += "%E5%95%86"; // 360 bytes on disk
        return s;
    }();
    const std::vector<std::string> urls = {
        "http://h/../../up1.txt",
        "http://h/%2e%2e/%2e%2e/up2.txt",
        "http://h/..%2f..%2fup3.txt",
        "http://h//abs.txt",
        "http://h/a///b/c.txt",
        "http:///etc/up4.txt",
        "http://h/%2f%2fetc/up5.txt",
        "http://h/" + longName + ".txt",
        "http://h/" + longName + "/x.txt",
        "http://h/" + longMulti + ".txt",
        "http://h/%00nul.txt",
        "http://h/.",
        "http://h/..",
        "http://h/%2E%2E",
        "http://h/%0a%1b[31mred.txt",
    };
    for (const std::string& url : urls)
        site.Add(url, url, "text/plain");
    auto tree = site.Tree();
    TScriptedPrompts prompts;
    TCopyEngine engine(*tree, &prompts);
    TWebCacheTreeNodeCopyList list;
    AddFilesBelow(list, tree->Root());
    TCopyOptions options;
    options.Destination = site.Out();
    TOverwriteAnswer answer = TOverwriteAnswer::Yes;
    EXPECT_TRUE(engine.CopyNodes(options, answer, list))
        << (prompts.Failures.empty() ? "" : prompts.Failures[0].Text);
    // Only the cache folder and the copy are in the test's folder.
    std::vector<std::string> top;
    for (const auto& e : fs::directory_iterator(site.Root()))
        top.push_back(e.path().filename().string());
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"cache", "out"}));
    const auto files = FilesBelow(site.Out());
    EXPECT_EQ(files.size(), urls.size());
    EXPECT_NE(std::find(files.begin(), files.end(), "http$3a/h/$0a$1b[31mred.txt"), files.end())
        << ::testing::PrintToString(files);
    for (const std::string& f : files) {
        for (const auto& part : fs::path(f)) {
            EXPECT_LE(part.native().size(), kMaxNameBytes) << f;
            EXPECT_NE(part.native(), "..") << f;
            for (char c : part.native())
                EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << f;
        }
    }
}

TEST(CopyEngine, NeverFollowsALinkBelowTheDestination) {
    TSiteFixture site;
    site.Add("http://h/x.txt", "x", "text/plain");
    auto tree = site.Tree();
    fs::create_directories(site.Out());
    fs::create_directories(site.Root() / "elsewhere");
    fs::create_directory_symlink(site.Root() / "elsewhere", site.Out() / "http$3a");
    TScriptedPrompts prompts;
    TCopyEngine engine(*tree, &prompts);
    EXPECT_FALSE(CopyFolder(engine, *tree, "http://h/", site.Out()));
    ASSERT_EQ(prompts.Failures.size(), 1u);
    EXPECT_EQ(prompts.Failures[0].Kind, TCopyFailureKind::CreateFolder);
    EXPECT_TRUE(fs::is_empty(site.Root() / "elsewhere"));
}

TEST(CopyEngine, NonInteractiveRunsOverwriteOnlyNewerAndShowNothing) {
    TSiteFixture site;
    site.Add("http://h/f.txt", "new", "text/plain", 3);
    site.AddMissing("http://h/g.txt", "text/plain");
    auto tree = site.Tree();
    const fs::path local = site.Out() / "http$3a/h/f.txt";
    fs::create_directories(local.parent_path());
    WriteFileBytes(local, "old"); // written now: newer than the entry
    TScriptedPrompts prompts;
    TCopyEngine engine(*tree, &prompts);
    TWebCacheTreeNodeCopyList list;
    AddFilesBelow(list, tree->Root());
    TCopyOptions options;
    options.Destination = site.Out();
    options.Interactive = false;
    TOverwriteAnswer answer = TOverwriteAnswer::Yes;
    EXPECT_FALSE(engine.CopyNodes(options, answer, list));
    EXPECT_EQ(answer, TOverwriteAnswer::Newer);
    EXPECT_TRUE(prompts.Asked.empty());
    EXPECT_TRUE(prompts.Failures.empty());
    EXPECT_EQ(engine.LastFailure().Error, ENOENT);
    EXPECT_EQ(ReadFileBytes(local), "old");
}

TEST(DeleteCacheNodes, PrunesEmptiedFoldersAndCountsFiles) {
    TSiteFixture site;
    site.Add("http://h/a/b/1.html", "1");
    site.Add("http://h/a/b/2.html", "2");
    site.Add("http://h/a/3.html", "3");
    site.Add("http://g/4.html", "4");
    auto tree = site.Tree();
    std::vector<std::string> events;
    TSubscription deletedHook = tree->OnNodeDeleted.Subscribe(
        [&](TWebCacheTree&, std::string_view url) { events.emplace_back(url); });
    TCountingProgress progress;
    std::vector<TWebCacheTreeNode*> nodes = {tree->FindFolderByUrl("http://h/a/b/"),
                                             tree->FindNodeByUrl("http://h/a/3.html"),
                                             tree->FindNodeByUrl("http://h/a/b/1.html")};
    EXPECT_EQ(DeleteCacheNodes(*tree, nodes, &progress), 3);
    EXPECT_EQ(progress.Position, 3);
    EXPECT_EQ(progress.Maximum, 3) << "a node below another listed one counts once";
    EXPECT_EQ(events, (std::vector<std::string>{"http://h/a/b/1.html", "http://h/a/b/2.html",
                                                "http://h/a/b/", "http://h/a/3.html", "http://h/a/",
                                                "http://h/"}));
    EXPECT_EQ(tree->FindFolderByUrl("http://h/x"), nullptr);
    EXPECT_NE(tree->FindNodeByUrl("http://g/4.html"), nullptr);
    ASSERT_EQ(testing::SourceOf(*tree).Entries().size(), 1u);
    EXPECT_EQ(testing::SourceOf(*tree).Entries()[0].Url, "http://g/4.html");
}

} // namespace
} // namespace tarnhold
