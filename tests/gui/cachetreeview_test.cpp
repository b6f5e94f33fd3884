#include "app/qtconvert.h"
#include "mainwindow/cachetreeview.h"
#include "support/cachetreefixture.h"

#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

using testing::MakeTree;
using testing::TEntrySpec;

std::vector<TEntrySpec> Site() {
    return {
        {"http://h1/a/b/x.html"},         {"http://h1/a/y.html"},  {"http://h1/a/c/d/z.html"},
        {"http://h2/p.gif", "image/gif"}, {"https://h3/q/r.html"},
    };
}

// The texts of an item's children, opened as a user opens a folder (a
// folder's items are made when it is first opened).
std::vector<std::string> ChildTexts(QTreeWidgetItem* item) {
    if (item != nullptr && item->treeWidget() != nullptr)
        item->treeWidget()->expandItem(item);
    std::vector<std::string> texts;
    for (int i = 0; item && i < item->childCount(); ++i)
        texts.push_back(item->child(i)->text(0).toStdString());
    return texts;
}

struct TTreeViewTest : ::testing::Test {
    void Build(bool enableScheme, std::vector<TEntrySpec> entries = Site()) {
        view.SetTree(nullptr); // before the tree it observes goes
        tree = MakeTree(entries, enableScheme);
        testing::Refresh(*tree);
        view.SetTree(tree.get());
    }
    void TearDown() override { view.SetTree(nullptr); }
    std::unique_ptr<TWebCacheTree> tree;
    TCacheTreeView view;
};

TEST_F(TTreeViewTest, ShowsEveryFolderAndNoFile) {
    Build(true);
    QTreeWidgetItem* root = view.RootItem();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QStringLiteral("Web Cache"));
    EXPECT_TRUE(root->isExpanded());
    EXPECT_EQ(ChildTexts(root), (std::vector<std::string>{"http:", "https:"}));
    EXPECT_EQ(ChildTexts(root->child(0)), (std::vector<std::string>{"h1", "h2"}));
    EXPECT_EQ(ChildTexts(root->child(0)->child(0)), (std::vector<std::string>{"a"}));
    EXPECT_EQ(ChildTexts(root->child(0)->child(0)->child(0)), (std::vector<std::string>{"b", "c"}));
    // Folders whose folders are not made yet show that they can be opened;
    // an opened folder without folders does not.
    QTreeWidgetItem* h1 = root->child(0)->child(0);
    EXPECT_EQ(h1->child(0)->child(1)->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(h1->child(0)->child(1)->childCount(), 0);
    EXPECT_EQ(ChildTexts(h1->child(0)->child(1)), (std::vector<std::string>{"d"}));
    EXPECT_EQ(ChildTexts(h1->child(0)->child(1)->child(0)), (std::vector<std::string>{}));
    EXPECT_EQ(h1->child(0)->child(1)->child(0)->childIndicatorPolicy(),
              QTreeWidgetItem::DontShowIndicatorWhenChildless);
    EXPECT_EQ(view.currentItem(), root);
    EXPECT_FALSE(root->icon(0).isNull());
    EXPECT_FALSE(root->child(0)->icon(0).isNull());
    // A lookup makes the items on its way without opening anything.
    view.Rebuild();
    QTreeWidgetItem* d = view.FindItemByPath("http://h1/a/c/d/");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(view.PathOf(d), "http://h1/a/c/d/");
    EXPECT_FALSE(d->parent()->isExpanded());
}

TEST_F(TTreeViewTest, PathsFollowTheSchemeSetting) {
    const struct {
        const char* name;
        bool scheme;
        const char* path;
    } cases[] = {
        {"scheme on", true, "http://h1/a/c/"},
        {"scheme off", false, "h1/a/c/"},
    };
    for (const auto& c : cases) {
        Build(c.scheme);
        QTreeWidgetItem* item = view.FindItemByPath(c.path);
        ASSERT_NE(item, nullptr) << c.name;
        EXPECT_EQ(item->text(0), QStringLiteral("c")) << c.name;
        EXPECT_EQ(view.PathOf(item), c.path) << c.name;
        EXPECT_EQ(view.NodeOf(item), tree->FindNodeByUrl(c.path)) << c.name;
        EXPECT_EQ(view.PathOf(view.RootItem()), "") << c.name;
        EXPECT_EQ(view.FindItemByPath("http://h1/zz/"), nullptr) << c.name;
        // Case does not matter, and text after the last '/' is ignored.
        EXPECT_EQ(view.FindItemByPath(c.scheme ? "HTTP://H1/A/C/x.html" : "H1/A/C/x.html"), item)
            << c.name;
    }
}

TEST_F(TTreeViewTest, RebuildKeepsTheSelection) {
    Build(true);
    view.setCurrentItem(view.FindItemByPath("http://h1/a/c/d/"));
    testing::Refresh(*tree);
    // The refresh replaced every node: the view holds none of them any more.
    EXPECT_EQ(view.topLevelItemCount(), 0);
    view.Rebuild();
    EXPECT_EQ(view.SelectedPath(), "http://h1/a/c/d/");
    EXPECT_EQ(view.SelectedNode(), tree->FindNodeByUrl("http://h1/a/c/d/"));

    // A folder that is gone after the refresh leaves the root selected.
    ASSERT_TRUE(testing::SourceOf(*tree).DeleteEntry("http://h1/a/c/d/z.html").Ok());
    testing::Refresh(*tree);
    view.Rebuild();
    EXPECT_EQ(view.currentItem(), view.RootItem());
}

TEST_F(TTreeViewTest, FavoriteSiteAsRootKeepsSelectionWithoutSchemes) {
    Build(false);
    view.SetRoot("\x83\x65\x83\x58\x83\x67", "http://h1/a/index.html");
    QTreeWidgetItem* root = view.RootItem();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QStringLiteral("テスト"));
    EXPECT_EQ(view.NodeOf(root), tree->FindNodeByUrl("h1/a/"));
    EXPECT_EQ(ChildTexts(root), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(view.PathOf(root), "h1/a/");

    QTreeWidgetItem* d = view.FindItemByPath("h1/a/c/d/");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(view.PathOf(d), "h1/a/c/d/");
    view.setCurrentItem(d);
    testing::Refresh(*tree);
    view.Rebuild();
    EXPECT_EQ(view.SelectedPath(), "h1/a/c/d/");
    // Paths outside the root folder have no item.
    EXPECT_EQ(view.FindItemByPath("h2/"), nullptr);

    // Only the caption changes: the items stay.
    view.SetRoot("Other", "http://h1/a/");
    EXPECT_EQ(view.RootItem()->text(0), QStringLiteral("Other"));
    EXPECT_EQ(view.SelectedPath(), "h1/a/c/d/");

    // A root folder the cache does not hold: a lone root item.
    view.SetRoot("Gone", "http://nowhere/");
    EXPECT_EQ(view.NodeOf(view.RootItem()), nullptr);
    EXPECT_EQ(view.RootItem()->childCount(), 0);

    view.SetRoot("Web Cache", "");
    EXPECT_EQ(view.RootItem()->text(0), QStringLiteral("Web Cache"));
    EXPECT_EQ(ChildTexts(view.RootItem()), (std::vector<std::string>{"h1", "h2", "h3"}));
}

TEST_F(TTreeViewTest, SchemeSwitchKeepsTheSelection) {
    const struct {
        const char* name;
        const char* rootUrl;
        const char* withScheme;
        const char* without;
    } cases[] = {
        {"whole cache", "", "https://h3/q/", "h3/q/"},
        {"favorite's site", "http://h1/a/", "http://h1/a/c/d/", "h1/a/c/d/"},
    };
    for (const auto& c : cases) {
        Build(true);
        view.SetRoot("Site", c.rootUrl);
        view.setCurrentItem(view.FindItemByPath(c.withScheme));
        ASSERT_EQ(view.SelectedPath(), c.withScheme) << c.name;
        tree->SetEnableScheme(false);
        testing::Refresh(*tree);
        view.Rebuild();
        EXPECT_EQ(view.SelectedPath(), c.without) << c.name;
        tree->SetEnableScheme(true);
        testing::Refresh(*tree);
        view.Rebuild();
        EXPECT_EQ(view.SelectedPath(), c.withScheme) << c.name;
        view.SetRoot("Web Cache", "");
    }
}

TEST_F(TTreeViewTest, SelectPathDescendsFromTheRoot) {
    Build(true);
    view.SelectPath("http://h1/a/b/");
    EXPECT_EQ(view.SelectedPath(), "http://h1/a/b/");
    view.SelectPath("http://h1/missing/");
    EXPECT_EQ(view.SelectedPath(), "http://h1/a/b/");
}

TEST_F(TTreeViewTest, DeletedFoldersLeaveWithThePrunedOnesAbove) {
    // The window removes the items of deleted folders by their paths; the
    // view also hears of every removal from the tree itself. Both ways must
    // leave the same items.
    TSubscription deletedHook;
    for (bool byPath : {true, false}) {
        Build(true);
        if (byPath) {
            deletedHook = tree->OnNodeDeleted.Subscribe([&](TWebCacheTree&, std::string_view url) {
                if (!url.empty() && url.back() == '/')
                    view.RemovePath(url);
            });
        }
        view.setCurrentItem(view.FindItemByPath("http://h1/a/c/d/"));
        ASSERT_TRUE(tree->DeleteNode(tree->FindNodeByUrl("http://h1/a/c/d/z.html")).Ok());
        // d and c held nothing else; a keeps y.html and b.
        EXPECT_EQ(view.FindItemByPath("http://h1/a/c/d/"), nullptr) << byPath;
        EXPECT_EQ(view.FindItemByPath("http://h1/a/c/"), nullptr) << byPath;
        QTreeWidgetItem* a = view.FindItemByPath("http://h1/a/");
        ASSERT_NE(a, nullptr) << byPath;
        EXPECT_EQ(ChildTexts(a), (std::vector<std::string>{"b"})) << byPath;
        EXPECT_NE(view.currentItem(), nullptr) << byPath;

        // The whole host goes, and with it the items below it.
        ASSERT_TRUE(tree->DeleteNode(tree->FindNodeByUrl("http://h1/")).Ok());
        EXPECT_EQ(ChildTexts(view.FindItemByPath("http://")), (std::vector<std::string>{"h2"}))
            << byPath;
        deletedHook.Reset();
    }
}

TEST_F(TTreeViewTest, RemovingTheRootPathEmptiesTheRoot) {
    Build(true);
    view.RemovePath("");
    ASSERT_NE(view.RootItem(), nullptr);
    EXPECT_EQ(view.RootItem()->childCount(), 0);
}

} // namespace
} // namespace tarnhold::gui
