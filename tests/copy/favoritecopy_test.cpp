#include "copy/copy_test_helpers.h"
#include "copy/favoritecopy.h"
#include "favorites/favorites.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;
using test::FilesBelow;
using test::ReadFileBytes;
using test::TCountingProgress;
using test::TScriptedPrompts;
using test::TSiteFixture;
using test::WriteFileBytes;

// A store on favorites.dat in the fixture's folder, its favorites undated.
class TStore {
public:
    explicit TStore(const TSiteFixture& site) : file_(site.Root() / "favorites.dat") {
        EXPECT_FALSE(store_.SetFileName(file_));
    }
    TFavoriteItem* Add(const std::string& url, const fs::path& saveTo,
                       const std::string& defaultFile = "index.html",
                       std::uint8_t folder = fdWholeUrl) {
        auto item = std::make_unique<TFavoriteItem>();
        item->UrlName = url;
        item->Title = url;
        item->PathName = saveTo.empty() ? std::string() : saveTo.string() + "/";
        item->Default = defaultFile;
        item->Folder = folder;
        TFavoriteItem* raw = item.get();
        TError error;
        store_.AddItem(std::move(item), &error);
        EXPECT_FALSE(error);
        return raw;
    }
    TFavorites& Store() { return store_; }
    // Whether favorite n (1-based) has a date in the file as saved.
    bool SavedDated(int n) const {
        TFavorites reread;
        EXPECT_FALSE(reread.SetFileName(file_));
        return !IsDateUnset(reread.Items(n - 1)->Date);
    }

private:
    fs::path file_;
    TFavorites store_;
};

TEST(FavoriteCopy, CopiesEachFavoriteIntoItsOwnFolderAndDatesIt) {
    TSiteFixture site;
    site.Add("http://h1/a/index.html", R"(<img src="p.gif">)");
    site.Add("http://h1/a/p.gif", "GIF89a", "image/gif");
    site.Add("http://h1/b/other.html", "not below the favorite");
    site.Add("http://h2/q.txt", "q", "text/plain");
    auto tree = site.Tree();
    TStore store(site);
    TFavoriteItem* a = store.Add("http://h1/a/", site.Out() / "one", "index.html", fdBelowUrl);
    TFavoriteItem* b = store.Add("http://h2/q.txt", site.Out() / "two");

    TCountingProgress progress;
    TScriptedPrompts prompts;
    TCopyEngine engine(*tree, &prompts, &progress);
    const TFavoriteCopyResult r = CopyFavoritesToLocal(*tree, engine, store.Store(), {a, b});
    EXPECT_TRUE(r.Done);
    EXPECT_EQ(r.Copied, 2);
    EXPECT_EQ(r.Stop, TFavoriteCopyStop::None);
    EXPECT_EQ(FilesBelow(site.Out() / "one"), (std::vector<std::string>{"index.html", "p.gif"}))
        << "folder method 1: the favorite's folder is the save folder";
    EXPECT_EQ(FilesBelow(site.Out() / "two"), std::vector<std::string>{"http$3a/h2/q.txt"})
        << "a favorite naming a file copies the whole folder that holds it";
    EXPECT_EQ(progress.Maximum, 3);
    EXPECT_EQ(progress.Position, 3);
    EXPECT_TRUE(store.SavedDated(1));
    EXPECT_TRUE(store.SavedDated(2));
    EXPECT_EQ(testing::SourceOf(*tree).Entries().size(), 4u) << "a copy deletes nothing";
}

TEST(FavoriteCopy, AMoveStopsAtTheFirstFailure) {
    struct Case {
        const char* name;
        bool copyFails;   // the second favorite's cached file is missing
        bool deleteFails; // the cache keeps the second favorite's entry
        TFavoriteCopyStop stop;
        bool secondDated;
        std::vector<std::string> entriesLeft;
    };
    const Case cases[] = {
        {"the copy fails",
         true,
         false,
         TFavoriteCopyStop::Copy,
         false,
         {"http://h2/x.txt", "http://h3/z.txt"}},
        {"the deletion fails",
         false,
         true,
         TFavoriteCopyStop::Delete,
         true,
         {"http://h2/x.txt", "http://h3/z.txt"}},
    };
    for (const Case& c : cases) {
        TSiteFixture site;
        site.Add("http://h1/w.txt", "w", "text/plain");
        if (c.copyFails)
            site.AddMissing("http://h2/x.txt", "text/plain");
        else
            site.Add("http://h2/x.txt", "x", "text/plain");
        site.Add("http://h3/z.txt", "z", "text/plain");
        auto tree = site.Tree();
        if (c.deleteFails)
            testing::SourceOf(*tree).FailDeletion("http://h2/x.txt", EACCES);
        TStore store(site);
        std::vector<TFavoriteItem*> favorites = {store.Add("http://h1/", site.Out()),
                                                 store.Add("http://h2/", site.Out()),
                                                 store.Add("http://h3/", site.Out())};
        TScriptedPrompts prompts;
        TCopyEngine engine(*tree, &prompts);
        const TFavoriteCopyResult r =
            CopyFavoritesToLocal(*tree, engine, store.Store(), favorites, {.Move = true});

        EXPECT_FALSE(r.Done) << c.name;
        EXPECT_EQ(r.Stop, c.stop) << c.name;
        EXPECT_EQ(r.Stopped, favorites[1]) << c.name;
        EXPECT_EQ(r.FilesDeleted, 1) << c.name;
        std::vector<std::string> left;
        for (const TRawCacheEntry& e : testing::SourceOf(*tree).Entries())
            left.push_back(e.Url);
        EXPECT_EQ(left, c.entriesLeft) << c.name;
        EXPECT_EQ(tree->FindFolderByUrl("http://h1/"), nullptr) << c.name;
        EXPECT_NE(tree->FindNodeByUrl("http://h2/x.txt"), nullptr) << c.name;
        EXPECT_NE(tree->FindNodeByUrl("http://h3/z.txt"), nullptr) << c.name;
        EXPECT_FALSE(fs::exists(site.Out() / "http$3a/h3")) << c.name << ": third not copied";
        EXPECT_TRUE(store.SavedDated(1)) << c.name;
        EXPECT_EQ(store.SavedDated(2), c.secondDated) << c.name;
        EXPECT_FALSE(store.SavedDated(3)) << c.name;
        if (c.stop == TFavoriteCopyStop::Copy)
            EXPECT_EQ(prompts.Failures.size(), 1u) << c.name;
        else
            EXPECT_EQ(r.DeleteError.Code(), EACCES) << c.name;
    }
}

TEST(FavoriteCopy, EachFavoriteNamesFolderDocumentsWithItsDefault) {
    TSiteFixture site;
    site.Add("http://h1/", "home", "text/plain");
    site.Add("http://h1/s/", "sub", "text/plain");
    auto tree = site.Tree();
    TStore store(site);
    TFavoriteItem* htm = store.Add("http://h1/", site.Out() / "htm", "index.htm", fdBelowUrl);
    TFavoriteItem* unnamed = store.Add("http://h1/", site.Out() / "unnamed", "", fdBelowUrl);

    TCopyEngine engine(*tree);
    ASSERT_TRUE(CopyFavoritesToLocal(*tree, engine, store.Store(), {unnamed, htm}).Done);
    EXPECT_EQ(FilesBelow(site.Out() / "htm"),
              (std::vector<std::string>{"index.htm", "s/index.htm"}));
    EXPECT_EQ(FilesBelow(site.Out() / "unnamed"),
              (std::vector<std::string>{"index.html", "s/index.html"}))
        << "no default of its own: the name in force";
    EXPECT_EQ(tree->DefaultFileName, "index.html");
    EXPECT_EQ(tree->FindFolderByUrl("http://h1/s/")->Items(0)->DisplayName(), "index.html")
        << "restored";

    // The favorite the views show already has its name in force: no switch.
    tree->DefaultFileName = "default.htm";
    tree->RenameDuplicates(tree->Root());
    TCopyEngine shown(*tree);
    ASSERT_TRUE(CopyFavoritesToLocal(*tree, shown, store.Store(), {htm}, {.Current = htm}).Done);
    EXPECT_TRUE(fs::exists(site.Out() / "htm/default.htm"));
    EXPECT_EQ(tree->DefaultFileName, "default.htm");
}

TEST(FavoriteCopy, OneOverwriteAnswerHoldsForEveryFavorite) {
    struct Case {
        const char* name;
        TOverwriteAnswer answer;
        const char* content; // of both existing files afterwards
    };
    const Case cases[] = {
        {"yes to all", TOverwriteAnswer::YesToAll, "new"},
        {"no to all", TOverwriteAnswer::NoToAll, "old"},
    };
    for (const Case& c : cases) {
        TSiteFixture site;
        site.Add("http://h1/f.txt", "new", "text/plain");
        site.Add("http://h2/g.txt", "new", "text/plain");
        site.Add("http://h2/fresh.txt", "fresh", "text/plain");
        auto tree = site.Tree();
        TStore store(site);
        TFavoriteItem* one = store.Add("http://h1/", site.Out());
        TFavoriteItem* two = store.Add("http://h2/", site.Out());
        fs::create_directories(site.Out() / "http$3a/h1");
        fs::create_directories(site.Out() / "http$3a/h2");
        WriteFileBytes(site.Out() / "http$3a/h1/f.txt", "old");
        WriteFileBytes(site.Out() / "http$3a/h2/g.txt", "old");

        TScriptedPrompts prompts({c.answer});
        TCopyEngine engine(*tree, &prompts);
        EXPECT_TRUE(CopyFavoritesToLocal(*tree, engine, store.Store(), {one, two}).Done) << c.name;
        EXPECT_EQ(prompts.Asked.size(), 1u) << c.name << ": asked once for both favorites";
        EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h1/f.txt"), c.content) << c.name;
        EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h2/g.txt"), c.content) << c.name;
        EXPECT_EQ(ReadFileBytes(site.Out() / "http$3a/h2/fresh.txt"), "fresh") << c.name;
    }
}

TEST(FavoriteCopy, AMoveNeverTakesMoreThanTheFavoritesSite) {
    TSiteFixture site;
    site.Add("http://h1/a/1.txt", "1", "text/plain");
    site.Add("http://h1/a/b/2.txt", "2", "text/plain");
    site.Add("http://h2/3.txt", "3", "text/plain");
    site.Add("http://h4/4.txt", "4", "text/plain");
    auto tree = site.Tree();
    TStore store(site);
    std::vector<TFavoriteItem*> favorites = {
        store.Add("http://h1/a/", site.Out()),
        store.Add("http://h1/a/b/", site.Out()), // went with the first
        store.Add("", site.Out()),               // would be the whole cache
        store.Add("http://", site.Out()),        // would be every http site
        store.Add("http:/", site.Out()),         // so would this
        store.Add("http://h2", site.Out()),      // the host's folder
    };
    TCopyEngine engine(*tree);
    const TFavoriteCopyResult r =
        CopyFavoritesToLocal(*tree, engine, store.Store(), favorites, {.Move = true});
    EXPECT_TRUE(r.Done);
    EXPECT_EQ(r.FilesDeleted, 3);
    EXPECT_EQ(r.NotCached, (std::vector<const TFavoriteItem*>{favorites[1], favorites[2],
                                                              favorites[3], favorites[4]}));
    ASSERT_EQ(testing::SourceOf(*tree).Entries().size(), 1u);
    EXPECT_EQ(testing::SourceOf(*tree).Entries()[0].Url, "http://h4/4.txt");
    EXPECT_EQ(FilesBelow(site.Out()),
              (std::vector<std::string>{"http$3a/h1/a/1.txt", "http$3a/h1/a/b/2.txt",
                                        "http$3a/h2/3.txt"}));
}

TEST(FavoriteCopy, AMoveOfOneSiteLeavesNoStaleLinkTargetsForTheNext) {
    // The second favorite's page links into the first one's folder, which
    // the move has taken out of the cache (and its nodes out of memory): the
    // link must be read as one the cache lacks, not through the freed nodes.
    TSiteFixture site;
    site.Add("http://h/blog/post.html", R"(<a href="../index.html">home</a>)");
    site.Add("http://h/index.html", R"(<a href="blog/post.html">post</a>)");
    auto tree = site.Tree();
    TStore store(site);
    TFavoriteItem* blog = store.Add("http://h/blog/", site.Out() / "blog", "index.html");
    TFavoriteItem* home = store.Add("http://h/", site.Out() / "home", "index.html");
    TCopyEngine engine(*tree);
    const TFavoriteCopyResult r =
        CopyFavoritesToLocal(*tree, engine, store.Store(), {blog, home}, {.Move = true});
    ASSERT_TRUE(r.Done);
    EXPECT_EQ(r.FilesDeleted, 2);
    EXPECT_EQ(engine.Stats().Links, 2);
    EXPECT_EQ(engine.Stats().LinksOutside, 1) << "the post was gone when the home page was copied";
    EXPECT_EQ(ReadFileBytes(site.Out() / "home/http$3a/h/index.html"),
              R"(<a href="blog/post.html">post</a>)");
}

TEST(FavoriteCopy, AFavoriteWithoutSaveFolderStopsTheRun) {
    TSiteFixture site;
    site.Add("http://h1/f.txt", "f", "text/plain");
    auto tree = site.Tree();
    TStore store(site);
    TFavoriteItem* nowhere = store.Add("http://h1/", fs::path());
    TCopyEngine engine(*tree);
    const TFavoriteCopyResult r =
        CopyFavoritesToLocal(*tree, engine, store.Store(), {nowhere}, {.Move = true});
    EXPECT_FALSE(r.Done);
    EXPECT_EQ(r.Stop, TFavoriteCopyStop::NoSaveFolder);
    EXPECT_EQ(testing::SourceOf(*tree).Entries().size(), 1u);
    EXPECT_FALSE(store.SavedDated(1));
}

} // namespace
} // namespace tarnhold
