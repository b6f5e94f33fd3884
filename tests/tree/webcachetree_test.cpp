#include "platform/appfolder.h"
#include "platform/files.h"
#include "support/cachetreefixture.h"
#include "support/testfiles.h"
#include "tree/cachelisting.h"
#include "tree/localpaths.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

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
    EXPECT_EQ(http->DirUrl(), "http://");
    EXPECT_EQ(http->Items(0)->DirUrl(), "http://host/");

    auto off = MakeTree(
        {{"http://host/x.html", "text/html", 1}, {"https://host/x.html", "text/html", 2}}, false);
    Refresh(*off);
    ASSERT_EQ(ChildNames(off->Root()), std::vector<std::string>{"host"});
    TWebCacheTreeNode* host = off->Root()->Items(0);
    EXPECT_EQ(host->DirUrl(), "host/");
    // Both files land in one folder; the newer (https, day 2) keeps the name.
    ASSERT_EQ(host->Count(), 2);
    EXPECT_EQ(host->Items(0)->Name(), "x.html");
    EXPECT_EQ(host->Items(0)->Info().Url, "https://host/x.html");
    EXPECT_EQ(host->Items(1)->Name(), "x~0001.html");
    EXPECT_EQ(host->Items(1)->Info().DirUrl, "host/") << "stored directories carry no scheme";
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
    TWebCacheTreeNode* port = tree->FindNodeByUrl("http://host:8080/");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->DirUrl(), "http://host:8080/") << "only the scheme's folder ends in //";
    TWebCacheTreeNode* x = tree->FindNodeByUrl("http://host:8080/x.html");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->UrlText(), "http://host:8080/x.html");
    EXPECT_EQ(x->DirUrl(), port->DirUrl()) << "a file's folder URL is its folder's";
    EXPECT_EQ(tree->Root()->Items(0)->DirUrl(), "http://");
    std::vector<std::string> deleted;
    TSubscription hook = tree->OnNodeDeleted.Subscribe(
        [&](TWebCacheTree&, std::string_view u) { deleted.emplace_back(u); });
    ASSERT_TRUE(tree->DeleteNode(x).Ok());
    EXPECT_EQ(deleted, (std::vector<std::string>{"http://host:8080/x.html", "http://host:8080/"}));

    TWebCacheTreeNode* a = tree->FindFolderByUrl("http://HOST/a/whatever.html");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Name(), "A");
    EXPECT_EQ(a->Count(), 2);

    TWebCacheTreeNode* dirFile = tree->FindNodeByUrl("http://host/dir/index.html");
    ASSERT_NE(dirFile, nullptr) << "a folder URL is a file shown as the default name";
    EXPECT_FALSE(dirFile->IsFolder);
    EXPECT_EQ(dirFile->Info().FileName, "");
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
    TWebCacheTreeNode* a = tree->FindNodeByUrl("file:///C:/x/a.html");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Parent()->DirUrl(), "file:///C:/x/") << "a drive is no scheme";
    EXPECT_EQ(a->Parent()->DirUrl(), a->Info().DirUrl);
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
    EXPECT_EQ(h->Size(), 1320u);
    EXPECT_EQ(h->LastModified().wDay, 9);
    EXPECT_EQ(tree->Root()->Size(), 1320u);
    EXPECT_EQ(tree->FindNodeByUrl("http://h/b/")->Size(), 1020u);
    EXPECT_EQ(tree->CountFiles(tree->Root()), 3);
    EXPECT_EQ(tree->CountFiles(h->Items(0)), 1);
    EXPECT_EQ(h->Items(1)->Level(), 3);
}

TEST(CacheTreeBuild, FoldersHoldTotalsButNoEntry) {
    auto tree = MakeTree({{"http://h/d/big1.bin", "application/octet-stream", 4, 0xFFFFFFF0u},
                          {"http://h/d/big2.bin", "application/octet-stream", 6, 0xFFFFFFF0u},
                          {"http://h/d/small.html", "text/html", 2, 16}});
    Refresh(*tree);
    TWebCacheTreeNode* d = tree->FindNodeByUrl("http://h/d/");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->MutableInfo(), nullptr);
    EXPECT_TRUE(d->Info().Url.empty());
    EXPECT_TRUE(d->Info().HeaderInfo.Text().empty());
    EXPECT_EQ(d->Info().Size, 0u) << "the entry folders share holds nothing";
    EXPECT_EQ(d->Size(), 2 * std::uint64_t{0xFFFFFFF0u} + 16) << "a total may pass 4 GiB";
    EXPECT_EQ(d->LastModified().wDay, 6);
    EXPECT_EQ(tree->Root()->Size(), d->Size());

    // A file's entry changes through MutableInfo; the totals follow on the
    // next update, and other folders' shared entry stays empty.
    TWebCacheTreeNode* small = tree->FindNodeByUrl("http://h/d/small.html");
    ASSERT_NE(small->MutableInfo(), nullptr);
    EXPECT_EQ(&small->Info(), small->MutableInfo());
    small->MutableInfo()->Size = 1000;
    small->MutableInfo()->LastModified.wDay = 20;
    EXPECT_EQ(small->Size(), 1000u);
    tree->UpdateFolderTotals(tree->Root());
    EXPECT_EQ(d->Size(), 2 * std::uint64_t{0xFFFFFFF0u} + 1000);
    EXPECT_EQ(d->LastModified().wDay, 20);
    EXPECT_EQ(tree->FindNodeByUrl("http://h/")->Info().Size, 0u);

    // A file has no children to find; a folder's lower-case name follows
    // its renames both ways.
    EXPECT_EQ(small->Count(), 0);
    EXPECT_EQ(small->FindChild("small.html"), nullptr);
    EXPECT_EQ(small->FindFolderChild(""), nullptr);
    d->SetName("Docs");
    EXPECT_EQ(d->LowerName(), "docs");
    EXPECT_EQ(tree->FindNodeByUrl("http://h/DOCS/small.html"), small);
    d->SetName("d");
    EXPECT_EQ(d->LowerName(), "d");
    EXPECT_EQ(tree->FindNodeByUrl("http://h/docs/small.html"), nullptr);
    EXPECT_EQ(tree->FindNodeByUrl("http://h/D/small.html"), small);

    // A folder added by hand has no entry either; a file added by hand
    // carries the entry it was given.
    TWebCacheTreeNode* added = tree->AddNode(d, "sub", nullptr);
    EXPECT_TRUE(added->IsFolder);
    EXPECT_EQ(added->MutableInfo(), nullptr);
    auto entry = std::make_unique<TWebCacheEntryInfoEx>();
    entry->Url = "http://h/d/sub/n.html";
    entry->Size = 7;
    TWebCacheTreeNode* file = tree->AddNode(added, "n.html", std::move(entry));
    EXPECT_FALSE(file->IsFolder);
    EXPECT_EQ(file->Info().Url, "http://h/d/sub/n.html");
    tree->UpdateFolderTotals(tree->Root());
    EXPECT_EQ(added->Size(), 7u);
    ASSERT_TRUE(tree->DeleteNode(file).Ok());
    EXPECT_EQ(tree->FindNodeByUrl("http://h/d/sub/"), nullptr) << "the emptied folder went";
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
    EXPECT_EQ(f->FindChild("FILE77.HTML")->Info().Url, "http://h/f/file77.html");
    EXPECT_EQ(f->FindChild("nothing"), nullptr);
    // Renaming invalidates the lookup of the old name.
    f->FindChild("file5.html")->SetName("renamed.html");
    EXPECT_EQ(f->FindChild("file5.html"), nullptr);
    EXPECT_NE(f->FindChild("RENAMED.html"), nullptr);

    // Every child stays found as the folder grows to four times its size
    // (the build already grew the index child by child, unsorted).
    {
        std::vector<TWebCacheTreeNode*> added;
        for (int i = 0; i < 600; ++i) {
            auto entry = std::make_unique<TWebCacheEntryInfoEx>();
            entry->Url = "http://h/f/More" + std::to_string(i);
            added.push_back(tree->AddNode(f, "More" + std::to_string(i), std::move(entry)));
        }
        for (int i = 0; i < 600; ++i)
            EXPECT_EQ(f->FindChild("MORE" + std::to_string(i)), added[static_cast<std::size_t>(i)]);
    }
    for (int i = 0; i < 200; ++i) {
        TWebCacheTreeNode* file = f->FindChild("File" + std::to_string(i) + ".HTML");
        if (i == 5) {
            EXPECT_EQ(file, nullptr);
            continue;
        }
        ASSERT_NE(file, nullptr) << i;
        EXPECT_EQ(file->Info().Url, "http://h/f/file" + std::to_string(i) + ".html");
    }
    EXPECT_EQ(f->FindChild("Sub"), sub) << "the first of a name is still the one found";
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

TEST(CacheTreeEvents, EverySubscriberHearsAndEachLeavesOnItsOwn) {
    auto tree = MakeTree({{"http://h/a.html"}, {"http://h/b.html"}, {"http://h/c.html"}});
    Refresh(*tree);
    std::vector<std::string> heard;
    int changes = 0;
    TSubscription stop = tree->OnChanging.Subscribe([&](TWebCacheTree&) { ++changes; });
    TSubscription counting = tree->OnChanging.Subscribe([&](TWebCacheTree&) { ++changes; });
    TSubscription first = tree->OnNodeDeleted.Subscribe(
        [&](TWebCacheTree&, std::string_view u) { heard.push_back("1 " + std::string(u)); });
    TSubscription second;
    second = tree->OnNodeDeleted.Subscribe([&](TWebCacheTree&, std::string_view u) {
        heard.push_back("2 " + std::string(u));
        first.Reset(); // leaves while the event is raised: not called again
    });
    ASSERT_TRUE(tree->DeleteByUrl("http://h/a.html").Ok());
    ASSERT_TRUE(tree->DeleteByUrl("http://h/b.html").Ok());
    EXPECT_EQ(heard, (std::vector<std::string>{"1 http://h/a.html", "2 http://h/a.html",
                                               "2 http://h/b.html"}));
    EXPECT_EQ(changes, 4) << "both hooks, once for each outermost change";
    counting.Reset();
    tree->SortAll();
    EXPECT_EQ(changes, 5);
    tree.reset(); // a handle may outlive its event
    EXPECT_FALSE(second.Active());
    second.Reset();
}

TEST(CacheTreeEvents, TheRevisionMovesWithEveryNodeAddedOrFreed) {
    auto tree = MakeTree({{"http://h/a.html"}, {"http://h/b.html"}});
    Refresh(*tree);
    std::uint64_t revision = tree->Revision();
    const std::uint64_t generation = tree->Generation();
    auto moved = [&] {
        const bool changed = tree->Revision() != revision;
        revision = tree->Revision();
        return changed;
    };
    tree->SortAll();
    tree->RenameDuplicates(tree->Root());
    EXPECT_FALSE(moved()) << "sorting and naming keep every node";
    ASSERT_TRUE(tree->DeleteByUrl("http://h/a.html").Ok());
    EXPECT_TRUE(moved()) << "a deletion frees a node";
    EXPECT_EQ(tree->Generation(), generation) << "the views keep what was not deleted";
    (void)tree->AddNode(tree->Root(), "x", nullptr);
    EXPECT_TRUE(moved());
    tree->Build();
    EXPECT_TRUE(moved());
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
    TSubscription deletedHook = tree->OnNodeDeleted.Subscribe(
        [&](TWebCacheTree&, std::string_view u) { events.emplace_back(u); });
    EXPECT_TRUE(tree->DeleteNode(x).Ok());
    EXPECT_EQ(events.size(), 1u + 60u) << "the file and the folders of levels 5 to 64";
    ASSERT_NE(tree->FindNodeByUrl("http://h/d/d/y.html"), nullptr);
    EXPECT_EQ(tree->FindNodeByUrl("http://h/d/d/")->Count(), 1);
}

TEST(CacheTreeDelete, PrunesEmptiedFoldersWithEventsInOrder) {
    auto tree = MakeTree({{"http://host/b/c/only.html", "text/html", 1, 50},
                          {"http://other/keep.html", "text/html", 1, 7}});
    Refresh(*tree);
    std::vector<std::string> events;
    TSubscription deletedHook = tree->OnNodeDeleted.Subscribe(
        [&](TWebCacheTree&, std::string_view u) { events.emplace_back(u); });
    EXPECT_TRUE(tree->DeleteByUrl("http://host/b/c/only.html").Ok());
    EXPECT_EQ(events, (std::vector<std::string>{"http://host/b/c/only.html", "http://host/b/c/",
                                                "http://host/b/", "http://host/"}));
    EXPECT_EQ(tree->FindNodeByUrl("http://host/"), nullptr);
    ASSERT_NE(tree->FindNodeByUrl("http://other/keep.html"), nullptr);
    EXPECT_EQ(SourceOf(*tree).Entries().size(), 1u) << "the cache entry went with the node";
    EXPECT_EQ(tree->DeleteByUrl("http://host/b/c/only.html").Code(), ENOENT);

    // The last file of the scheme folder takes the scheme folder with it.
    events.clear();
    EXPECT_TRUE(tree->DeleteByUrl("http://other/keep.html").Ok());
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
    EXPECT_TRUE(tree->DeleteNode(tree->FindNodeByUrl("http://h/a/x.html")).Ok());
    EXPECT_EQ(a->Size(), 30u);
    EXPECT_EQ(h->Size(), 130u) << "folders above the parent keep their totals";
    tree->UpdateFolderTotals(tree->Root());
    EXPECT_EQ(h->Size(), 30u);
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
    TSubscription deletedHook = tree->OnNodeDeleted.Subscribe(
        [&](TWebCacheTree&, std::string_view u) { events.emplace_back(u); });
    EXPECT_TRUE(tree->DeleteNode(tree->Root()).Ok());
    EXPECT_EQ(tree->Root()->Count(), 0);
    EXPECT_TRUE(SourceOf(*tree).Entries().empty());
    EXPECT_EQ(events,
              (std::vector<std::string>{"ftp://c/3.csv", "ftp://c/", "ftp://", "http://a/1.html",
                                        "http://a/", "http://b/2.html", "http://b/", "http://"}));
}

TEST(CacheTreeDelete, FreedPlacesAreReusedWithoutDisturbingTheRest) {
    // Deletions one by one, in a batch and of whole folders, each followed
    // by new nodes that take the freed places: what stays keeps its names,
    // entries and totals, and the new nodes are found as any other.
    std::vector<testing::TEntrySpec> specs;
    for (int i = 0; i < 40; ++i)
        specs.push_back({"http://Host/Dir/File" + std::to_string(i) + ".html", "text/html", 1,
                         static_cast<std::uint64_t>(i + 1)});
    specs.push_back({"http://other/sub/keep.html", "text/html", 2, 1000});
    auto tree = MakeTree(specs);
    Refresh(*tree);
    TWebCacheTreeNode* dir = tree->FindFolderByUrl("http://host/dir/x");
    ASSERT_NE(dir, nullptr);
    ASSERT_EQ(dir->Count(), 40);
    EXPECT_EQ(dir->Name(), "Dir");
    EXPECT_EQ(dir->LowerName(), "dir");

    ASSERT_TRUE(tree->DeleteByUrl("http://host/dir/file7.html").Ok());
    std::vector<TWebCacheTreeNode*> batch;
    for (int i = 0; i < 40; i += 3)
        if (i != 7)
            batch.push_back(
                tree->FindNodeByUrl("http://host/dir/file" + std::to_string(i) + ".html"));
    ASSERT_TRUE(tree->DeleteNodes(batch).Ok());
    const int left = 40 - 1 - static_cast<int>(batch.size());
    ASSERT_EQ(dir->Count(), left);

    std::vector<TWebCacheTreeNode*> added;
    for (int i = 0; i < 30; ++i) {
        auto entry = std::make_unique<TWebCacheEntryInfoEx>();
        entry->Url = "http://Host/Dir/New" + std::to_string(i) + ".HTML";
        entry->Size = 5;
        added.push_back(tree->AddNode(dir, "New" + std::to_string(i) + ".HTML", std::move(entry)));
    }
    ASSERT_EQ(dir->Count(), left + 30);
    for (int i = 0; i < 30; ++i) {
        const std::string name = "new" + std::to_string(i) + ".html";
        EXPECT_EQ(dir->FindChild(name), added[static_cast<std::size_t>(i)]) << name;
        EXPECT_EQ(added[static_cast<std::size_t>(i)]->LowerName(), name);
        EXPECT_EQ(added[static_cast<std::size_t>(i)]->Info().Url,
                  "http://Host/Dir/New" + std::to_string(i) + ".HTML");
    }
    for (int i = 0; i < 40; ++i) {
        const bool gone = i == 7 || i % 3 == 0;
        TWebCacheTreeNode* node =
            tree->FindNodeByUrl("http://host/dir/file" + std::to_string(i) + ".html");
        EXPECT_EQ(node == nullptr, gone) << i;
        if (node != nullptr) {
            EXPECT_EQ(node->Size(), static_cast<std::uint64_t>(i + 1));
            EXPECT_EQ(node->Name(), "File" + std::to_string(i) + ".html");
            EXPECT_EQ(node->Parent(), dir);
        }
    }

    // A renamed node is found by its new name only, in either case.
    TWebCacheTreeNode* renamed = added[0];
    renamed->SetName("renamed.html");
    EXPECT_EQ(renamed->LowerName(), "renamed.html");
    EXPECT_EQ(dir->FindChild("RENAMED.html"), renamed);
    EXPECT_EQ(dir->FindChild("new0.html"), nullptr);

    // A whole folder goes, and its places serve the next refresh.
    ASSERT_TRUE(tree->DeleteNode(dir).Ok());
    EXPECT_EQ(tree->FindNodeByUrl("http://host/"), nullptr);
    TWebCacheTreeNode* keep = tree->FindNodeByUrl("http://other/sub/keep.html");
    ASSERT_NE(keep, nullptr);
    EXPECT_EQ(keep->Size(), 1000u);
    EXPECT_EQ(tree->FindNodeByUrl("http://other/")->Size(), 1000u);
    Refresh(*tree);
    EXPECT_EQ(tree->CountFiles(tree->Root()), 1) << "the cache kept only the entry not deleted";
    tree->Clear();
    EXPECT_EQ(tree->Root()->Count(), 0);
    Refresh(*tree);
    EXPECT_EQ(tree->FindNodeByUrl("http://other/sub/keep.html")->Size(), 1000u);
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

TEST(CacheTreeCopyList, UrlsThatDifferOnlyInCaseAreTwoDocuments) {
    auto tree = MakeTree({{"http://h/faq.html"}, {"http://h/FAQ.html"}});
    Refresh(*tree);
    TWebCacheTreeNode* folder = tree->FindNodeByUrl("http://h/");
    ASSERT_EQ(folder->Count(), 2);
    TWebCacheTreeNodeCopyList list;
    EXPECT_TRUE(list.Add(folder->Items(0)));
    EXPECT_TRUE(list.Add(folder->Items(1)));
    EXPECT_FALSE(list.Add(folder->Items(0)));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0)->Info().Url, "http://h/FAQ.html") << "ties in order of the exact URL";
    EXPECT_EQ(list.Items(1)->Info().Url, "http://h/faq.html");
}

TEST(CacheTreeTitles, TitleOfThePageAUrlNames) {
    auto dir = CreateTempFolder();
    // "\xC6\xFC\xCB\xDC" is 日本 in EUC-JP; the title comes back in UTF-8.
    ASSERT_TRUE(WriteTestFile(dir / "euc.htm", "<html><head><title>\xC6\xFC\xCB\xDC &amp; "
                                               "Co</title></head><body>\xA4\xA2</body></html>"));
    ASSERT_TRUE(WriteTestFile(dir / "plain.txt", "<head><title>not a page</title></head>"));
    auto tree = MakeTree({{"http://h/a/", "text/html; charset=EUC-JP", 1, 100, dir / "euc.htm"},
                          {"http://h/notes.txt", "text/plain", 1, 100, dir / "plain.txt"},
                          {"http://h/gone.html", "text/html", 1, 100, dir / "missing.htm"}});
    Refresh(*tree);
    EXPECT_EQ(tree->GetTitle("http://h/a/"), "日本 & Co");
    EXPECT_EQ(tree->GetTitle("http://h/a/index.html"), "日本 & Co");
    EXPECT_EQ(tree->GetTitle("http://h/notes.txt"), "") << "only HTML pages have titles";
    EXPECT_EQ(tree->GetTitle("http://h/gone.html"), "") << "an unreadable copy has none";
    EXPECT_EQ(tree->GetTitle("http://h/a/"), "日本 & Co");
    EXPECT_EQ(tree->GetTitle("http://nowhere/"), "");
    DeleteFolder(dir);
}

} // namespace
} // namespace tarnhold

namespace tarnhold {
namespace {

using testing::MakeTree;
using testing::Refresh;
using testing::SourceOf;

// Writes down what a view would hear, with each parent as its folder URL.
class TRecordingObserver : public TWebCacheTreeObserver {
public:
    std::vector<std::string> events;
    void NodesAboutToBeRemoved(TWebCacheTreeNode* parent, int first, int last) override {
        events.push_back("remove? " + Where(parent, first, last));
    }
    void NodesRemoved(TWebCacheTreeNode* parent, int first, int last) override {
        events.push_back("removed " + Where(parent, first, last));
    }
    void NodesAboutToBeInserted(TWebCacheTreeNode* parent, int first, int last) override {
        events.push_back("insert? " + Where(parent, first, last));
    }
    void NodesInserted(TWebCacheTreeNode* parent, int first, int last) override {
        events.push_back("inserted " + Where(parent, first, last));
    }
    void LayoutAboutToChange() override { events.push_back("layout?"); }
    void LayoutChanged() override { events.push_back("layout"); }
    void TreeAboutToBeReset() override { events.push_back("reset?"); }
    void TreeReset() override { events.push_back("reset"); }

private:
    static std::string Where(TWebCacheTreeNode* parent, int first, int last) {
        return parent->DirUrl() + " " + std::to_string(first) + ".." + std::to_string(last);
    }
};

TEST(CacheTreeDelete, AFailedCacheDeletionKeepsItsNodeAndSaysWhy) {
    auto tree = MakeTree({{"http://h/d/1.html", "text/html", 1, 10},
                          {"http://h/d/2.html", "text/html", 1, 20},
                          {"http://h/d/3.html", "text/html", 1, 40}});
    Refresh(*tree);
    SourceOf(*tree).FailDeletion("http://h/d/2.html", EACCES);
    TRecordingObserver observer;
    tree->AddObserver(&observer);
    std::vector<std::string> deleted;
    TSubscription deletedHook = tree->OnNodeDeleted.Subscribe(
        [&](TWebCacheTree&, std::string_view u) { deleted.emplace_back(u); });

    TError error = tree->DeleteByUrl("http://h/d/2.html");
    EXPECT_EQ(error.Code(), EACCES);
    EXPECT_NE(error.Text().find("Permission denied"), std::string::npos) << error.Text();
    EXPECT_NE(error.Text().find("http://h/d/2.html"), std::string::npos) << error.Text();
    EXPECT_NE(tree->FindNodeByUrl("http://h/d/2.html"), nullptr);
    EXPECT_TRUE(deleted.empty());
    EXPECT_TRUE(observer.events.empty());

    // A folder: the files before the failing one go, the rest and the folder stay.
    error = tree->DeleteNode(tree->FindNodeByUrl("http://h/d/"));
    EXPECT_EQ(error.Code(), EACCES);
    EXPECT_EQ(deleted, std::vector<std::string>{"http://h/d/1.html"});
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"remove? http://h/d/ 0..0", "removed http://h/d/ 0..0"}));
    TWebCacheTreeNode* d = tree->FindNodeByUrl("http://h/d/");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(testing::ChildNames(d), (std::vector<std::string>{"2.html", "3.html"}));
    EXPECT_EQ(d->Size(), 60u);
    EXPECT_EQ(SourceOf(*tree).Entries().size(), 2u);

    // Once the cache lets go, the rest goes with the emptied folders.
    SourceOf(*tree).FailDeletion("", 0);
    deleted.clear();
    observer.events.clear();
    EXPECT_TRUE(tree->DeleteNode(d).Ok());
    EXPECT_EQ(deleted, (std::vector<std::string>{"http://h/d/2.html", "http://h/d/3.html",
                                                 "http://h/d/", "http://h/", "http://"}));
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"remove? http://h/d/ 0..1", "removed http://h/d/ 0..1",
                                        "remove? http://h/ 0..0", "removed http://h/ 0..0",
                                        "remove? http:// 0..0", "removed http:// 0..0",
                                        "remove?  0..0", "removed  0..0"}));
    EXPECT_EQ(tree->Root()->Count(), 0);
    tree->RemoveObserver(&observer);
}

TEST(CacheTreeDelete, BatchDeletionStopsAtAFailureAndTellsObservers) {
    auto tree = MakeTree({{"http://h/d/1.html", "text/html", 1, 1},
                          {"http://h/d/2.html", "text/html", 1, 2},
                          {"http://h/d/3.html", "text/html", 1, 4},
                          {"http://h/d/4.html", "text/html", 1, 8},
                          {"http://h/e/5.html", "text/html", 1, 16}});
    Refresh(*tree);
    TRecordingObserver observer;
    tree->AddObserver(&observer);
    std::vector<std::string> deleted;
    TSubscription deletedHook = tree->OnNodeDeleted.Subscribe(
        [&](TWebCacheTree&, std::string_view u) { deleted.emplace_back(u); });
    auto node = [&](const char* url) { return tree->FindNodeByUrl(url); };

    // Rows 0, 1 and 3 of one folder: two runs told from the back, sizes taken off.
    EXPECT_TRUE(tree->DeleteNodes({node("http://h/d/4.html"), node("http://h/d/1.html"),
                                   node("http://h/d/2.html"), node("http://h/d/1.html")})
                    .Ok());
    EXPECT_EQ(deleted, (std::vector<std::string>{"http://h/d/4.html", "http://h/d/1.html",
                                                 "http://h/d/2.html"}));
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"remove? http://h/d/ 3..3", "removed http://h/d/ 3..3",
                                        "remove? http://h/d/ 0..1", "removed http://h/d/ 0..1"}));
    EXPECT_EQ(testing::ChildNames(node("http://h/d/")), std::vector<std::string>{"3.html"});
    EXPECT_EQ(node("http://h/d/")->Size(), 4u);

    // A failure stops the batch: what went before it is gone, it and the rest stay.
    SourceOf(*tree).FailDeletion("http://h/d/3.html", EACCES);
    deleted.clear();
    observer.events.clear();
    TError error = tree->DeleteNodes({node("http://h/e/5.html"), node("http://h/d/3.html")});
    EXPECT_EQ(error.Code(), EACCES);
    EXPECT_EQ(deleted, (std::vector<std::string>{"http://h/e/5.html", "http://h/e/"}));
    EXPECT_EQ(node("http://h/e/"), nullptr) << "the emptied folder went";
    EXPECT_NE(node("http://h/d/3.html"), nullptr);
    EXPECT_EQ(SourceOf(*tree).Entries().size(), 1u);
    tree->RemoveObserver(&observer);
}

TEST(CacheTreeDelete, ScatteredRowsOfALargeFolderGoInOneReset) {
    std::vector<testing::TEntrySpec> specs;
    for (int i = 0; i < 40; ++i)
        specs.push_back({"http://h/f" + std::to_string(100 + i) + ".html"});
    auto tree = MakeTree(specs);
    Refresh(*tree);
    TWebCacheTreeNode* folder = tree->FindNodeByUrl("http://h/");
    std::vector<TWebCacheTreeNode*> every2nd;
    for (int i = 0; i < folder->Count(); i += 2)
        every2nd.push_back(folder->Items(i));
    TRecordingObserver observer;
    tree->AddObserver(&observer);
    EXPECT_TRUE(tree->DeleteNodes(every2nd).Ok());
    EXPECT_EQ(observer.events, (std::vector<std::string>{"reset?", "reset"}));
    ASSERT_EQ(folder->Count(), 20);
    for (int i = 0; i < folder->Count(); ++i)
        EXPECT_EQ(folder->Items(i)->Name(), "f" + std::to_string(101 + 2 * i) + ".html");
    EXPECT_EQ(tree->FindNodeByUrl("http://h/f100.html"), nullptr);
    EXPECT_NE(tree->FindNodeByUrl("http://h/f139.html"), nullptr) << "lookups see the new rows";
    EXPECT_EQ(folder->Size(), 20u * 100u);
    tree->RemoveObserver(&observer);
}

TEST(CacheTreeRefresh, ReadsTheCacheOnceAndReportsEachStep) {
    auto tree = MakeTree({{"http://h/a.html"}, {"http://h/b.cgi?x=1"}, {"http://g/"}});
    TRecordingObserver observer;
    tree->AddObserver(&observer);
    std::vector<std::string> steps;
    int entries = 0;
    tree->OnEntry = [&](TWebCacheTree&, const TWebCacheEntryInfo&) { ++entries; };
    const TError error = tree->Refresh([&](TRefreshStage stage, int done, int total) {
        steps.push_back(std::to_string(static_cast<int>(stage)) + ":" + std::to_string(done) + "/" +
                        std::to_string(total));
    });
    EXPECT_TRUE(error.Ok());
    EXPECT_EQ(SourceOf(*tree).Enumerations(), 1) << "no separate counting pass";
    EXPECT_EQ(entries, 3);
    EXPECT_EQ(steps, (std::vector<std::string>{"0:1/0", "0:2/0", "0:3/0", "1:0/3", "1:1/3", "1:2/3",
                                               "1:3/3", "2:0/1", "2:1/1", "3:0/1", "3:1/1"}));
    EXPECT_EQ(observer.events, (std::vector<std::string>{"reset?", "reset"}))
        << "one reset for the whole refresh";
    EXPECT_EQ(tree->CountFiles(tree->Root()), 3);

    // Changes that keep the nodes are layout changes; a new node is an insertion.
    observer.events.clear();
    tree->DefaultFileName = "default.htm";
    tree->RenameDuplicates(tree->Root());
    EXPECT_EQ(observer.events, (std::vector<std::string>{"layout?", "layout"}));
    observer.events.clear();
    tree->AddNode(tree->FindNodeByUrl("http://h/"), "new", nullptr);
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"insert? http://h/ 2..2", "inserted http://h/ 2..2",
                                        "layout?", "layout"}));
    tree->RemoveObserver(&observer);
}

TEST(CacheTreeBuild, LongHostsAndDeepFoldersCostInProportionToTheCache) {
    // Every entry holds a long host and many folders. Folders that stored their
    // whole URL would hold about depth times the URL bytes the cache holds.
    std::vector<testing::TEntrySpec> specs;
    std::size_t cacheBytes = 0;
    for (int i = 0; i < 40; ++i) {
        std::string url = "http://" + std::string(4000, static_cast<char>('a' + i % 26)) +
                          std::to_string(i) + ".test/";
        for (int d = 0; d < 60; ++d)
            url += "d/";
        url += "x.html";
        cacheBytes += url.size();
        specs.push_back({url});
    }
    auto tree = MakeTree(specs);
    Refresh(*tree);
    ASSERT_EQ(tree->CountFiles(tree->Root()), 40);
    std::size_t held = 0;
    std::vector<const TWebCacheTreeNode*> pending{tree->Root()};
    while (!pending.empty()) {
        const TWebCacheTreeNode* node = pending.back();
        pending.pop_back();
        held += node->Name().size() + node->Info().Url.size() + node->Info().DirUrl.size() +
                node->Info().FileName.size() + node->Info().ExtraInfo.size();
        for (int i = 0; i < node->Count(); ++i)
            pending.push_back(node->Items(i));
    }
    EXPECT_LT(held, 4 * cacheBytes);
    // The folder URL text is still there for whoever asks.
    const TWebCacheTreeNode* file = tree->FindNodeByUrl(specs[7].Url);
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->Parent()->DirUrl() == file->Info().DirUrl);
    EXPECT_TRUE(file->UrlText() == specs[7].Url);
}

} // namespace
} // namespace tarnhold

namespace tarnhold {
namespace {

using testing::MakeTree;
using testing::Refresh;

TEST(CacheTreeTitles, ReadFromTheHeadOfRegularFilesOnly) {
    auto dir = CreateTempFolder();
    // A 3 GiB page (sparse, so it costs no disk) whose title comes first.
    const std::string head = "<html><head><title>Big &amp; sparse</title></head><body>";
    ASSERT_TRUE(WriteTestFile(dir / "big.htm", head));
    std::filesystem::resize_file(dir / "big.htm", 3ull << 30);
    ASSERT_EQ(::mkfifo((dir / "fifo.htm").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.htm");
    // The declaration after the title still decides its conversion (EUC-JP).
    ASSERT_TRUE(WriteTestFile(dir / "late-meta.htm",
                              "<head><title>\xC6\xFC\xCB\xDC</title><meta http-equiv="
                              "\"Content-Type\" content=\"text/html; charset=EUC-JP\"></head>"));
    ASSERT_TRUE(WriteTestFile(dir / "far.htm", "<head><!--" + std::string(70000, 'x') +
                                                   "--><title>too far</title></head>"));
    struct Case {
        const char* file;
        const char* title;
    } const cases[] = {
        {"big.htm", "Big & sparse"}, {"fifo.htm", ""}, {"zero.htm", ""},
        {"late-meta.htm", "日本"},   {"far.htm", ""},  {"missing.htm", ""},
    };
    std::vector<testing::TEntrySpec> specs;
    for (const auto& c : cases)
        specs.push_back({std::string("http://h/") + c.file, "text/html", 1, 100, dir / c.file});
    auto tree = MakeTree(specs);
    Refresh(*tree);
    for (const auto& c : cases)
        EXPECT_EQ(tree->GetTitle(std::string("http://h/") + c.file), c.title) << c.file;
    DeleteFolder(dir);
}

TEST(CacheTreeTitles, ATitleIsReadOncePerGeneration) {
    auto dir = CreateTempFolder();
    auto page = dir / "p.htm";
    ASSERT_TRUE(WriteTestFile(page, "<head><title>First</title></head>"));
    auto tree = MakeTree({{"http://h/p.html", "text/html", 1, 100, page},
                          {"http://h/s.css", "text/css", 1, 100, page}});
    Refresh(*tree);
    TTitleCache titles;
    TWebCacheTreeNode* p = tree->FindNodeByUrl("http://h/p.html");
    EXPECT_EQ(titles.Title(*p), "First");
    EXPECT_EQ(titles.Title(*tree->FindNodeByUrl("http://h/s.css")), "") << "not a page";
    ASSERT_TRUE(WriteTestFile(page, "<head><title>Second</title></head>"));
    EXPECT_EQ(titles.Title(*p), "First") << "read once";
    EXPECT_EQ(titles.Count(), 1u);
    Refresh(*tree);
    EXPECT_EQ(titles.Title(*tree->FindNodeByUrl("http://h/p.html")), "Second")
        << "a rebuild makes new nodes";
    DeleteFolder(dir);
}

TEST(CacheListing, RowsInTheListOrderOfEachKey) {
    auto dir = CreateTempFolder();
    ASSERT_TRUE(WriteTestFile(dir / "b.htm", "<head><title>Alpha</title></head>"));
    ASSERT_TRUE(WriteTestFile(dir / "c.htm", "<head><title>beta</title></head>"));
    auto tree = MakeTree({
        {"http://h/B.html", "text/html", 3, 300, dir / "b.htm"},
        {"http://h/c.php?id=1", "text/html", 1, 100, dir / "c.htm"},
        {"http://h/a.gif", "image/gif", 2, 200},
        {"http://h/z/x.html", "text/html", 5},
        {"http://h/y/x.html", "text/html", 4},
    });
    Refresh(*tree);
    const TWebCacheTreeNode* h = tree->FindNodeByUrl("http://h/");
    TTitleCache titles;
    auto typeOf = [](const TWebCacheTreeNode& n) {
        return n.IsFolder ? std::string("Folder") : std::string(ExtractFileExt(n.Name()));
    };
    const std::string c = "c~" + [] {
        char buf[9];
        std::snprintf(buf, sizeof buf, "%08x", ComputeCrc32(std::string_view("?id=1")));
        return std::string(buf);
    }() + ".html";
    struct Case {
        const char* name;
        int key;
        int order;
        std::vector<std::string> rows;
    } const cases[] = {
        {"name", lsName, 0, {"y", "z", "a.gif", "B.html", c}},
        {"name, descending", lsName, 1, {c, "B.html", "a.gif", "z", "y"}},
        {"URL name", lsUrlName, 0, {"y", "z", "a.gif", "B.html", c}},
        {"title: untitled first", lsTitle, 0, {"y", "z", "a.gif", "B.html", c}},
        {"size", lsSize, 0, {"y", "z", c, "a.gif", "B.html"}},
        {"type", lsType, 0, {"y", "z", "a.gif", "B.html", c}},
        {"date: newest first", lsDate, 0, {"z", "y", "B.html", "a.gif", c}},
    };
    for (const auto& cs : cases) {
        std::vector<std::string> names;
        for (const TFolderRow& row : ListFolder(*h, titles, cs.key, cs.order, typeOf))
            names.push_back(row.Node->DisplayName());
        EXPECT_EQ(names, cs.rows) << cs.name;
    }
    auto rows = ListFolder(*h, titles);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[3].Title, "Alpha");
    EXPECT_EQ(rows[4].UrlName, "c.php?id=1");
    EXPECT_EQ(rows[4].Title, "beta");
    EXPECT_EQ(rows[0].UrlName, "") << "folders have no URL name";
    EXPECT_EQ(JoinLocalPath(NodeLocalPath(rows[4].Node)), "http$3a/h/" + c);
    EXPECT_EQ(JoinLocalPath(NodeLocalPath(rows[0].Node)), "http$3a/h/y");
    DeleteFolder(dir);
}

} // namespace
} // namespace tarnhold
