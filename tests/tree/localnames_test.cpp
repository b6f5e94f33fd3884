#include "platform/appfolder.h"
#include "platform/files.h"
#include "support/cachetreefixture.h"
#include "support/testfiles.h"
#include "tree/recordfile.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tarnhold {
namespace {

using testing::ChildNames;
using testing::MakeTree;
using testing::Refresh;

std::string Crc(std::string_view text) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", ComputeCrc32(text));
    return buf;
}

struct NamingCase {
    const char* name;
    const char* url;
    const char* contentType;
    std::string expectedName; // the file node's Name after the refresh
    bool renamed;             // whether the rename list records the URL
};

TEST(LocalNames, NamingRuleByContentTypeAndQuery) {
    const NamingCase cases[] = {
        {"wrong extension", "http://h/page.cgi", "text/html", "page.html", true},
        {"no extension", "http://h/page", "text/html; charset=Shift_JIS", "page.html", true},
        {"registered extension kept", "http://h/page.htm", "TEXT/HTML", "page.htm", false},
        {"query string", "http://h/list.php?id=3", "text/html", "list~" + Crc("?id=3") + ".html",
         true},
        {"folder with query", "http://h/dir/?q=1", "text/html", Crc("?q=1") + ".html", true},
        {"parameters", "http://h/cart;sid=9", "text/html", "cart~" + Crc(";sid=9") + ".html", true},
        {"unknown type keeps extension", "http://h/data.cgi?x=1", "application/x-unknown",
         "data~" + Crc("?x=1") + ".cgi", true},
        {"text/plain keeps its name", "http://h/notes.cfg", "text/plain", "notes.cfg", false},
        {"text/plain with query is named", "http://h/t.cgi?a", "text/plain",
         "t~" + Crc("?a") + ".txt", true},
        {"folder URL stays empty", "http://h/folder/", "text/plain", "index.html", false},
        {"no content type", "http://h/x.bin", "", "x.bin", false},
        {"octet-stream keeps the URL's extension", "http://h/a-2x.png", "application/octet-stream",
         "a-2x.png", false},
        {"so does a download", "http://h/f.woff2", "application/force-download", "f.woff2", false},
        {"and binary/octet-stream", "http://h/doc.pdf", "Binary/Octet-Stream; x=1", "doc.pdf",
         false},
        {"x-download with a query", "http://h/get.zip?id=7", "application/x-download",
         "get~" + Crc("?id=7") + ".zip", true},
        {"unknown", "http://h/a.tar.gz", "application/unknown", "a.tar.gz", false},
        {"a generic type adds no guess", "http://h/blob", "application/octet-stream", "blob",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto tree = MakeTree({{c.url, c.contentType}});
        Refresh(*tree);
        TWebCacheTreeNode* folder = tree->FindFolderByUrl(c.url);
        ASSERT_NE(folder, nullptr);
        ASSERT_EQ(folder->Count(), 1);
        TWebCacheTreeNode* file = folder->Items(0);
        EXPECT_EQ(file->Name(), c.expectedName);
        EXPECT_EQ(file->Info().ExtraInfo, "") << "a named entry keeps no suffix";
        std::string value = tree->RenameItems().Lookup(c.url);
        if (c.renamed)
            EXPECT_EQ(value, file->Info().DirUrl + c.expectedName);
        else
            EXPECT_EQ(value, "");
    }
}

TEST(LocalNames, DuplicatesAreNumberedNewestFirstKeepingTheirCase) {
    auto tree = MakeTree({{"http://h/a.html", "text/html", 1},
                          {"http://h/A.HTML", "text/html", 5},
                          {"http://h/d/index.html", "text/html", 2},
                          {"http://h/d/Sub/", "text/html", 9},
                          {"http://h/d/sub/", "text/html", 1},
                          {"http://h/D/", "text/html", 4}});
    Refresh(*tree);
    TWebCacheTreeNode* h = tree->FindNodeByUrl("http://h/");
    EXPECT_EQ(ChildNames(h), (std::vector<std::string>{"A.HTML", "a~0001.html", "d"}));

    TWebCacheTreeNode* d = tree->FindNodeByUrl("http://h/d/");
    // Two directory URLs that differ in case (one file) and one real index.html.
    EXPECT_EQ(ChildNames(d), (std::vector<std::string>{"index.html", "index~0001.html", "Sub"}));
    EXPECT_EQ(d->Items(0)->Info().Url, "http://h/D/");
    EXPECT_EQ(d->Items(1)->Info().Url, "http://h/d/index.html");
    TWebCacheTreeNode* sub = tree->FindNodeByUrl("http://h/d/sub/");
    EXPECT_EQ(ChildNames(sub), (std::vector<std::string>{"index.html", "index~0001.html"}));
    EXPECT_EQ(sub->Items(0)->Info().Url, "http://h/d/Sub/");

    // A second pass with another default derives every name anew.
    tree->DefaultFileName = "default.htm";
    tree->RenameDuplicates(tree->Root());
    EXPECT_EQ(ChildNames(d), (std::vector<std::string>{"default.htm", "index.html", "Sub"}));
    EXPECT_EQ(ChildNames(sub), (std::vector<std::string>{"default.htm", "default~0001.htm"}));
    EXPECT_FALSE(tree->SortingSuspended());
}

TEST(LocalNames, NumberedNamesThatMovedInTheOrderAreStillNumbered) {
    // x.html (newer) and X.html become x.html and X~0001.html; a later pass
    // restores X.html, which must meet x.html again although x.htmlz sorts
    // between their numbered names.
    auto tree = MakeTree({{"http://h/x.html", "text/html", 9},
                          {"http://h/X.html", "text/html", 1},
                          {"http://h/x.htmlz", "text/plain", 5}});
    Refresh(*tree);
    TWebCacheTreeNode* h = tree->FindNodeByUrl("http://h/");
    EXPECT_EQ(ChildNames(h), (std::vector<std::string>{"x.html", "x.htmlz", "X~0001.html"}));
    tree->RenameDuplicates(tree->Root());
    EXPECT_EQ(ChildNames(h), (std::vector<std::string>{"x.html", "x.htmlz", "X~0001.html"}));
}

TEST(LocalNames, RenameListKeepsNamesAcrossRebuildsAndRuns) {
    auto dir = CreateTempFolder();
    auto listFile = dir / "data" / "renameList.dat";
    {
        auto tree = MakeTree({{"http://h/page.cgi", "text/html"}});
        tree->SetRenameListFile(listFile);
        Refresh(*tree);
        EXPECT_EQ(tree->FindNodeByUrl("http://h/page.html")->Info().Url, "http://h/page.cgi");
    } // the tree writes renameList.dat when it goes
    std::string data;
    ASSERT_TRUE(ReadWholeFile(listFile, data));
    EXPECT_EQ(data, "http://h/page.cgi\thttp://h/page.html\r\n");

    {
        // A later run whose table no longer knows the type names the URL as before.
        auto tree = MakeTree({{"http://h/page.cgi", "text/x-gone"}});
        tree->ContentTypes().Clear();
        tree->SetRenameListFile(listFile);
        Refresh(*tree);
        TWebCacheTreeNode* page = tree->FindNodeByUrl("http://h/page.html");
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->Info().FileName, "page.html");
    }
    DeleteFolder(dir);
}

TEST(LocalNames, DamagedRenameListKeepsTheRecordsAroundTheBadOnes) {
    auto dir = CreateTempFolder();
    auto file = dir / "renameList.dat";
    ASSERT_TRUE(WriteTestFile(file, "http://h/b.cgi\thttp://h/b.html\r\n"
                                    "http://h/A.cgi\thttp://h/a.html\r\n"
                                    "no tab here\r\n"
                                    "http://h/c.cgi\thttp://h/c.html\r\n"));
    TWebCacheRenameItems items;
    EXPECT_EQ(items.LoadFromFile(file).BadRecords, 1);
    ASSERT_EQ(items.Count(), 3);
    EXPECT_EQ(items.Items()[0]->Key, "http://h/A.cgi") << "sorted by the lower-cased key";
    EXPECT_EQ(items.Lookup("HTTP://H/a.cgi"), "http://h/a.html");
    EXPECT_EQ(items.Lookup("http://h/c.cgi"), "http://h/c.html");
    EXPECT_FALSE(items.Modified()) << "what was read is what the file holds";

    ASSERT_TRUE(WriteTestFile(file, "http://h/b.cgi\thttp://h/b.html\rX"));
    EXPECT_EQ(items.LoadFromFile(file).BadRecords, 2) << "a lone CR, then an unfinished line";
    EXPECT_EQ(items.Count(), 0);
    EXPECT_TRUE(items.LoadFromFile(dir / "missing.dat").Missing);

    // Values without a scheme take the key's; keys are kept decoded.
    items.Add("http://h/%7Euser/x.cgi", "h/~user/x.html");
    EXPECT_EQ(items.Lookup("http://h/~user/x.cgi"), "http://h/~user/x.html");
    items.Add("HTTP://H/~USER/X.CGI", "http://h/other.html");
    EXPECT_EQ(items.Count(), 1) << "keys are unique ignoring case";
    DeleteFolder(dir);
}

TEST(LocalNames, ItemsTheFileCannotHoldAreLeftOutWhenSaving) {
    auto dir = CreateTempFolder();
    auto file = dir / "renameList.dat";
    TWebCacheRenameItems items;
    items.Add("http://h/a%0Ab.cgi", "http://h/x.html"); // decodes to a line break
    items.Add("http://h/ok.cgi", "http://h/ok.html");
    ASSERT_TRUE(items.SaveToFile(file).Ok());
    TWebCacheRenameItems again;
    ASSERT_TRUE(again.LoadFromFile(file).Whole());
    EXPECT_EQ(again.Count(), 1);
    EXPECT_EQ(again.Lookup("http://h/ok.cgi"), "http://h/ok.html")
        << "the records after it survive";
    DeleteFolder(dir);
}

} // namespace
} // namespace tarnhold

namespace tarnhold {
namespace {

using testing::MakeTree;
using testing::Refresh;

struct RecordCase {
    const char* name;
    const char* data;
    std::vector<std::string> records; // "key=value"
    int bad;
};

TEST(RecordFiles, DamagedLinesArePassedOverAndTheRestIsRead) {
    const RecordCase cases[] = {
        {"whole", "a\t1\r\nb\t2\r\n", {"a=1", "b=2"}, 0},
        {"line without TAB", "a\t1\r\nno tab\r\nb\t2\r\n", {"a=1", "b=2"}, 1},
        {"line break before the TAB", "x\ny\t1\r\n", {"y=1"}, 1},
        {"lone CR ends its record", "a\t1\rb\t2\r\n", {"b=2"}, 1},
        {"empty line", "\r\na\t1\r\n", {"a=1"}, 1},
        {"unfinished last record", "a\t1\r\nb\t2", {"a=1"}, 1},
        {"unfinished last line", "a\t1\r\nb", {"a=1"}, 1},
        {"LF in a value is kept", "a\t1\n2\r\n", {"a=1\n2"}, 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> got;
        int bad = ParseRecordFile(c.data, [&](std::string_view k, std::string_view v) {
            got.push_back(std::string(k) + "=" + std::string(v));
        });
        EXPECT_EQ(got, c.records) << c.name;
        EXPECT_EQ(bad, c.bad) << c.name;
    }
}

// The inode of a file: a save replaces the file, so a new inode means it was
// written.
ino_t InodeOf(const std::filesystem::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(DataFiles, ADamagedRenameListIsUsedButNeverSavedOver) {
    auto dir = CreateTempFolder();
    auto file = dir / "renameList.dat";
    const std::string damaged = "http://h/a.cgi\thttp://h/a-local.html\r\n"
                                "a line without its TAB\r\n"
                                "http://h/c.cgi\thttp://h/c-local.html\r\n";
    ASSERT_TRUE(WriteTestFile(file, damaged));
    {
        // new.cgi gets a new name, which the damaged file cannot take.
        auto tree = MakeTree({{"http://h/c.cgi"}, {"http://h/new.cgi"}});
        tree->SetRenameListFile(file);
        EXPECT_EQ(tree->RenameListRead().BadRecords, 1);
        Refresh(*tree);
        EXPECT_NE(tree->FindNodeByUrl("http://h/c-local.html"), nullptr)
            << "a record after the damaged line names its entry";
        TError error = tree->SaveDataFiles();
        EXPECT_EQ(error.Code(), EBADMSG);
        EXPECT_NE(error.Text().find(file.string()), std::string::npos) << error.Text();
    }
    std::string after;
    ASSERT_TRUE(ReadWholeFile(file, after));
    EXPECT_EQ(after, damaged) << "the destructor left the file alone too";
    DeleteFolder(dir);
}

TEST(DataFiles, WrittenOnlyWhenWhatTheyHoldChanged) {
    auto dir = CreateTempFolder();
    auto renames = dir / "renameList.dat";
    auto types = dir / "contentType.dat";
    // Out of the list's order: a save would sort it.
    ASSERT_TRUE(WriteTestFile(renames, "http://h/b.cgi\thttp://h/b.html\r\n"
                                       "http://h/a.cgi\thttp://h/a.html\r\n"));
    auto run = [&](std::vector<testing::TEntrySpec> entries) {
        auto tree = MakeTree(entries);
        tree->SetRenameListFile(renames);
        tree->SetContentTypeFile(types);
        Refresh(*tree);
        return tree->SaveDataFiles();
    };
    // The first run writes the content-type table, which had no file yet.
    ASSERT_TRUE(run({{"http://h/a.cgi"}, {"http://h/x.html"}}).Ok());
    ASSERT_TRUE(FileExists(types));
    const ino_t renameInode = InodeOf(renames);
    const ino_t typeInode = InodeOf(types);

    // Nothing new: neither file is written, by SaveDataFiles or the destructor.
    ASSERT_TRUE(run({{"http://h/a.cgi"}, {"http://h/b.cgi"}, {"http://h/x.html"}}).Ok());
    EXPECT_EQ(InodeOf(renames), renameInode);
    EXPECT_EQ(InodeOf(types), typeInode);

    // A new name is kept.
    ASSERT_TRUE(run({{"http://h/new.cgi"}}).Ok());
    EXPECT_NE(InodeOf(renames), renameInode);
    EXPECT_EQ(InodeOf(types), typeInode);
    TWebCacheRenameItems items;
    ASSERT_TRUE(items.LoadFromFile(renames).Whole());
    EXPECT_EQ(items.Count(), 3);

    // Without a rename list and without new names, none is made.
    auto none = dir / "none" / "renameList.dat";
    {
        auto tree = MakeTree({{"http://h/x.html"}});
        tree->SetRenameListFile(none);
        Refresh(*tree);
    }
    EXPECT_FALSE(FileExists(none));
    DeleteFolder(dir);
}

TEST(DataFiles, ALinkedDataFileIsWrittenWhereItLeads) {
    // A rename list kept in another folder through a link stays there, and
    // the link stays a link.
    auto dir = CreateTempFolder();
    std::filesystem::create_directories(dir / "elsewhere");
    auto real = dir / "elsewhere" / "renames.dat";
    ASSERT_TRUE(WriteTestFile(real, ""));
    std::filesystem::create_symlink("elsewhere/renames.dat", dir / "renameList.dat");
    {
        auto tree = MakeTree({{"http://h/a.cgi"}});
        tree->SetRenameListFile(dir / "renameList.dat");
        Refresh(*tree);
        ASSERT_TRUE(tree->SaveDataFiles().Ok());
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "renameList.dat"));
    TWebCacheRenameItems items;
    ASSERT_TRUE(items.LoadFromFile(real).Whole());
    EXPECT_EQ(items.Count(), 1);
    DeleteFolder(dir);
}

TEST(DataFiles, FailuresAreReportedAndUnreadableFilesKept) {
    auto dir = CreateTempFolder();
    ASSERT_TRUE(WriteTestFile(dir / "blocker", "a file where the data folder should be"));
    {
        auto tree = MakeTree({{"http://h/new.cgi"}});
        tree->SetRenameListFile(dir / "blocker" / "renameList.dat");
        Refresh(*tree);
        TError error = tree->SaveDataFiles();
        EXPECT_FALSE(error.Ok());
        EXPECT_NE(error.Text().find("blocker"), std::string::npos) << error.Text();
    }
    // A FIFO is neither waited on nor replaced.
    auto fifo = dir / "renameList.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    {
        auto tree = MakeTree({{"http://h/new.cgi"}});
        tree->SetRenameListFile(fifo);
        EXPECT_FALSE(tree->RenameListRead().Error.Ok());
        Refresh(*tree);
        EXPECT_FALSE(tree->SaveDataFiles().Ok());
    }
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    DeleteFolder(dir);
}

} // namespace
} // namespace tarnhold
