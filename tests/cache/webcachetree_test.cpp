#include "platform/appfolder.h"
#include "platform/files.h"
#include "support/cachetreefixture.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

using testing::ChildNames;
using testing::MakeTree;
using testing::Refresh;
using testing::SourceOf;

TEST(CacheTreeBuild, SchemeFoldersComeAndGoWithEnableScheme) {
    auto on =
        MakeTree({{"http://host/x.html", "text/html", 1}, {"https://host/x.html", "text/html", 2}});
    Refresh(*on);
    EXPECT_EQ(ChildNames(on->Root()), (std::vector<std::string>{"http:", "https:"}));
    TWebCacheTreeNode* http = on->Root()->Items(0);
    ASSERT_EQ(http->Count(), 1);
    EXPECT_EQ(http->Info.DirUrl, "http://");
    EXPECT_EQ(http->Items(0)->Info.DirUrl, "http://host/");

    auto off = MakeTree(
        {{"http://host/x.html", "text/html", 1}, {"https://host/x.html", "text/html", 2}}, false);
    Refresh(*off);
    ASSERT_EQ(ChildNames(off->Root()), std::vector<std::string>{"host"});
    TWebCacheTreeNode* host = off->Root()->Items(0);
    EXPECT_EQ(host->Info.DirUrl, "host/");
    // Both files land in one folder; the newer (https, day 2) keeps the name.
    ASSERT_EQ(host->Count(), 2);
    EXPECT_EQ(host->Items(0)->Name(), "x.html");
    EXPECT_EQ(host->Items(0)->Info.Url, "https://host/x.html");
    EXPECT_EQ(host->Items(1)->Name(), "x~0001.html");
    EXPECT_EQ(host->Items(1)->Info.DirUrl, "host/") << "stored directories carry no scheme";
}

TEST(CacheTreeBuild, FolderUrlsPortsAndCaseMergedSegments) {
    auto tree = MakeTree({{"http://host:8080/x.html"},
                          {"http://Host/A/one.html", "text/html", 1},
                          {"http://host/a/two.html", "text/html", 2},
                          {"http://host/dir/", "text/html", 3}});
    Refresh(*tree);
    TWebCacheTreeNode* http = tree->Root()->Items(0);
    EXPECT_EQ(ChildNames(http), (std::vector<std::string>{"Host", "host:8080"}))
        << "segments differing only in case share the folder of the first entry";
    TWebCacheTreeNode* port = tree->FindNodeByUrl("http://host:8080//");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->Info.DirUrl, "http://host:8080//");
    EXPECT_EQ(tree->FindNodeByUrl("http://host:8080//x.html")->Name(), "x.html");

    TWebCacheTreeNode* a = tree->FindFolderByUrl("http://HOST/a/whatever.html");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Name(), "A");
    EXPECT_EQ(a->Count(), 2);

    TWebCacheTreeNode* dirFile = tree->FindNodeByUrl("http://host/dir/index.html");
    ASSERT_NE(dirFile, nullptr) << "a folder URL is a file shown as the default name";
    EXPECT_FALSE(dirFile->IsFolder);
    EXPECT_EQ(dirFile->Info.FileName, "");
    EXPECT_EQ(dirFile->DisplayName(), "index.html");
    EXPECT_EQ(tree->FindNodeByUrl("http://host/dir/"), dirFile->Parent());
    EXPECT_EQ(tree->FindNodeByUrl("http://host/missing/x.html"), nullptr);
    EXPECT_EQ(tree->FindFolderByUrl("http://nohost/x.html"), nullptr);
    EXPECT_EQ(tree->FindFolderByUrl("x.html"), tree->Root());
}

TEST(CacheTreeBuild, UrlsWithoutSlashAndFileUrls) {
    auto tree = MakeTree({{"mailto:someone@host.test", ""}, {"file:///C:/x/a.html"}});
    Refresh(*tree);
    EXPECT_EQ(ChildNames(tree->Root()),
              (std::vector<std::string>{"file:", "mailto:someone@host.test"}));
    TWebCacheTreeNode* a = tree->FindNodeByUrl("file:///C://x/a.html");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Parent()->Info.DirUrl, "file:///C://x/");
    EXPECT_EQ(a->Parent()->Parent()->Parent()->Name(), "") << "an empty segment is a folder too";
}

TEST(CacheTreeBuild, AFileNamedLikeAFolderIsNeverAFolder) {
    // "http://h" is a file named h in the scheme folder; the folder h that
    // "http://h/x.html" needs stands beside it, whichever came first.
    auto tree = MakeTree({{"http://h", "text/plain", 1}, {"http://h/x.html", "text/html", 2}});
    Refresh(*tree);
    TWebCacheTreeNode* http = tree->Root()->Items(0);
    ASSERT_EQ(http->Count(), 2);
    EXPECT_EQ(tree->CountFiles(tree->Root()), 2);
    TWebCacheTreeNode* x = tree->FindNodeByUrl("http://h/x.html");
    ASSERT_NE(x, nullptr);
    EXPECT_TRUE(x->Parent()->IsFolder);
    EXPECT_EQ(tree->FindFolderByUrl("http://h/y.html"), x->Parent());
    EXPECT_NE(http->Items(0)->IsFolder, http->Items(1)->IsFolder) << "one file, one folder";
}

TEST(CacheTreeBuild, FolderTotalsAndSortOrder) {
    auto tree = MakeTree({{"http://h/b/deep/x.html", "text/html", 5, 1000},
                          {"http://h/b/y.html", "text/html", 9, 20},
                          {"http://h/a.html", "text/html", 3, 300}});
    Refresh(*tree);
    TWebCacheTreeNode* h = tree->FindNodeByUrl("http://h/");
    EXPECT_EQ(ChildNames(h), (std::vector<std::string>{"a.html", "b"}))
        << "folders and files are not separated";
    EXPECT_EQ(h->Info.Size, 1320u);
    EXPECT_EQ(h->Info.LastModified.wDay, 9);
    EXPECT_EQ(tree->Root()->Info.Size, 1320u);
    EXPECT_EQ(tree->FindNodeByUrl("http://h/b/")->Info.Size, 1020u);
    EXPECT_EQ(tree->CountFiles(tree->Root()), 3);
    EXPECT_EQ(tree->CountFiles(h->Items(0)), 1);
    EXPECT_EQ(h->Items(1)->Level(), 3);
}

TEST(CacheTreeBuild, LargeFolderLookupsKeepFirstMatch) {
    std::vector<testing::TEntrySpec> specs;
    for (int i = 0; i < 200; ++i)
        specs.push_back({"http://h/f/file" + std::to_string(i) + ".html"});
    specs.push_back({"http://h/f/SUB/x.html", "text/html", 1});
    specs.push_back({"http://h/f/sub/y.html", "text/html", 2});
    auto tree = MakeTree(specs);
    Refresh(*tree);
    TWebCacheTreeNode* f = tree->FindNodeByUrl("http://h/f/");
    ASSERT_EQ(f->Count(), 201);
    TWebCacheTreeNode* sub = f->FindChild("Sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->Name(), "SUB");
    EXPECT_EQ(sub->Count(), 2);
    EXPECT_EQ(f->FindChild("FILE77.HTML")->Info.Url, "http://h/f/file77.html");
    EXPECT_EQ(f->FindChild("nothing"), nullptr);
    // Renaming invalidates the lookup of the old name.
    f->FindChild("file5.html")->SetName("renamed.html");
    EXPECT_EQ(f->FindChild("file5.html"), nullptr);
    EXPECT_NE(f->FindChild("RENAMED.html"), nullptr);
}

TEST(CacheTreeBuild, GenerationChangesWithEveryRebuild) {
    auto tree = MakeTree({{"http://h/a.html"}});
    std::uint64_t before = tree->Generation();
    tree->Build();
    std::uint64_t built = tree->Generation();
    EXPECT_NE(built, before);
    tree->Clear();
    EXPECT_NE(tree->Generation(), built);
}

TEST(CacheTreeBuild, DeepNestingFromAHostileCacheIsCut) {
    std::string url = "http://h/";
    for (int i = 0; i < 200000; ++i)
        url += "d/";
    auto tree = MakeTree({{url + "x.html"}, {"http://h/d/d/y.html"}});
    Refresh(*tree);
    EXPECT_EQ(tree->CountFiles(tree->Root()), 2);
    TWebCacheTreeNode* x = tree->FindNodeByUrl(url + "x.html");
    ASSERT_NE(x, nullptr) << "lookups pass over the same segments as the build";
    EXPECT_EQ(x->Level(), 65);
    std::vector<std::string> events;
    tree->OnNodeDeleted = [&](TWebCacheTree&, std::string_view u) { events.emplace_back(u); };
    tree->DeleteNode(x);
    EXPECT_EQ(events.size(), 1u + 60u) << "the file and the folders of levels 5 to 64";
    ASSERT_NE(tree->FindNodeByUrl("http://h/d/d/y.html"), nullptr);
    EXPECT_EQ(tree->FindNodeByUrl("http://h/d/d/")->Count(), 1);
}

TEST(CacheTreeDelete, PrunesEmptiedFoldersWithEventsInOrder) {
    auto tree = MakeTree({{"http://host/b/c/only.html", "text/html", 1, 50},
                          {"http://other/keep.html", "text/html", 1, 7}});
    Refresh(*tree);
    std::vector<std::string> events;
    tree->OnNodeDeleted = [&](TWebCacheTree&, std::string_view u) { events.emplace_back(u); };
    EXPECT_TRUE(tree->DeleteByUrl("http://host/b/c/only.html"));
    EXPECT_EQ(events, (std::vector<std::string>{"http://host/b/c/only.html", "http://host/b/c/",
                                                "http://host/b/", "http://host/"}));
    EXPECT_EQ(tree->FindNodeByUrl("http://host/"), nullptr);
    ASSERT_NE(tree->FindNodeByUrl("http://other/keep.html"), nullptr);
    EXPECT_EQ(SourceOf(*tree).Entries().size(), 1u) << "the cache entry went with the node";
    EXPECT_FALSE(tree->DeleteByUrl("http://host/b/c/only.html"));

    // The last file of the scheme folder takes the scheme folder with it.
    events.clear();
    tree->DeleteByUrl("http://other/keep.html");
    EXPECT_EQ(events.back(), "http://");
    EXPECT_EQ(tree->Root()->Count(), 0);
    EXPECT_EQ(tree->Root()->Name(), "Web Cache");
}

TEST(CacheTreeDelete, SizeIsSubtractedAtTheParentOnly) {
    auto tree = MakeTree(
        {{"http://h/a/x.html", "text/html", 1, 100}, {"http://h/a/y.html", "text/html", 1, 30}});
    Refresh(*tree);
    TWebCacheTreeNode* a = tree->FindNodeByUrl("http://h/a/");
    TWebCacheTreeNode* h = tree->FindNodeByUrl("http://h/");
    tree->DeleteNode(tree->FindNodeByUrl("http://h/a/x.html"));
    EXPECT_EQ(a->Info.Size, 30u);
    EXPECT_EQ(h->Info.Size, 130u) << "folders above the parent keep their totals";
    tree->UpdateFolderTotals(tree->Root());
    EXPECT_EQ(h->Info.Size, 30u);
}

TEST(CacheTreeDelete, DeletingTheRootEmptiesTheCacheButClearDoesNot) {
    std::vector<testing::TEntrySpec> specs{
        {"http://a/1.html"}, {"http://b/2.html"}, {"ftp://c/3.csv", "text/csv"}};
    auto tree = MakeTree(specs);
    Refresh(*tree);
    tree->Clear();
    EXPECT_EQ(tree->Root()->Count(), 0);
    EXPECT_EQ(SourceOf(*tree).Entries().size(), 3u);

    Refresh(*tree);
    std::vector<std::string> events;
    tree->OnNodeDeleted = [&](TWebCacheTree&, std::string_view u) { events.emplace_back(u); };
    tree->DeleteNode(tree->Root());
    EXPECT_EQ(tree->Root()->Count(), 0);
    EXPECT_TRUE(SourceOf(*tree).Entries().empty());
    EXPECT_EQ(events,
              (std::vector<std::string>{"ftp://c/3.csv", "ftp://c/", "ftp://", "http://a/1.html",
                                        "http://a/", "http://b/2.html", "http://b/", "http://"}));
}

TEST(CacheTreeCopyList, SortedByUrlIgnoringCaseWithoutDuplicates) {
    auto tree = MakeTree({{"http://h/B.html"}, {"http://h/a.html"}, {"http://h/c.html"}});
    Refresh(*tree);
    TWebCacheTreeNodeCopyList list;
    TWebCacheTreeNode* b = tree->FindNodeByUrl("http://h/B.html");
    TWebCacheTreeNode* a = tree->FindNodeByUrl("http://h/a.html");
    b->Copied = true;
    EXPECT_TRUE(list.Add(b));
    EXPECT_FALSE(b->Copied) << "entering the list clears the mark";
    EXPECT_TRUE(list.Add(a));
    b->Copied = true;
    EXPECT_FALSE(list.Add(b));
    EXPECT_TRUE(b->Copied) << "an entry already there is left alone";
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(1), b);
    EXPECT_TRUE(list.Contains(a));
    EXPECT_FALSE(list.Contains(tree->FindNodeByUrl("http://h/c.html")));
}

TEST(CacheTreeTitles, TitleOfThePageAUrlNames) {
    auto dir = CreateTempFolder();
    // "\xC6\xFC\xCB\xDC" is 日本 in EUC-JP; the title comes back in Shift-JIS.
    ASSERT_TRUE(WriteWholeFile(dir / "euc.htm", "<html><head><title>\xC6\xFC\xCB\xDC &amp; "
                                                "Co</title></head><body>\xA4\xA2</body></html>"));
    ASSERT_TRUE(WriteWholeFile(dir / "plain.txt", "<head><title>not a page</title></head>"));
    auto tree = MakeTree({{"http://h/a/", "text/html; charset=EUC-JP", 1, 100, dir / "euc.htm"},
                          {"http://h/notes.txt", "text/plain", 1, 100, dir / "plain.txt"},
                          {"http://h/gone.html", "text/html", 1, 100, dir / "missing.htm"}});
    Refresh(*tree);
    EXPECT_EQ(tree->GetTitle("http://h/a/"), "\x93\xFA\x96\x7B & Co");
    EXPECT_EQ(tree->GetTitle("http://h/a/index.html"), "\x93\xFA\x96\x7B & Co");
    EXPECT_EQ(tree->GetTitle("http://h/notes.txt"), "") << "only HTML pages have titles";
    EXPECT_EQ(tree->GetTitle("http://h/gone.html"), "") << "an unreadable copy has none";
    EXPECT_EQ(tree->GetTitle("http://h/a/"), "\x93\xFA\x96\x7B & Co");
    EXPECT_EQ(tree->GetTitle("http://nowhere/"), "");
    DeleteFolder(dir);
}

} // namespace
} // namespace tarnhold
