#include "app/qtconvert.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "support/cache_test_helpers.h"
#include "support/cachetreefixture.h"
#include "text/displayformat.h"

#include <QItemSelectionModel>
#include <QListView>
#include <QTreeView>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

using testing::MakeTree;
using testing::TEntrySpec;

// A row as the tests name it: a folder by its name and "/", a file by the
// name the cache knows it by (its local name may carry a checksum).
std::string Label(const TCacheListModel& model, int row) {
    const TWebCacheTreeNode* node = model.NodeAt(row);
    if (node->IsFolder)
        return node->DisplayName() + "/";
    return UrlNameOf(*node);
}

std::vector<std::string> Labels(const TCacheListModel& model) {
    std::vector<std::string> labels;
    for (int row = 0; row < model.rowCount(); ++row)
        labels.push_back(Label(model, row));
    return labels;
}

int RowOf(const TCacheListModel& model, const std::string& label) {
    for (int row = 0; row < model.rowCount(); ++row) {
        if (Label(model, row) == label)
            return row;
    }
    return -1;
}

// page1's title: a UTF-8 page's, with characters no Japanese code page has.
const QString kAlpha = QString::fromUtf8("Alpha \U0001F600 \uD55C\uAD6D");

QString Cell(const TCacheListModel& model, int row, int column) {
    return model.data(model.index(row, column), Qt::DisplayRole).toString();
}

struct TListViewTest : ::testing::Test {
    void SetUp() override {
        const auto page = [&](const char* name, const std::string& html) {
            const std::filesystem::path file = dir.Path() / name;
            test::WriteFileBytes(file, html);
            return file;
        };
        std::vector<TEntrySpec> entries = {
            {"http://h1/a/page1.html", "text/html", 3, 2000,
             page("p1.htm", "<html><head><meta charset=\"utf-8\"><title>Alpha \U0001F600 "
                            "\uD55C\uAD6D</title></head></html>")},
            {"http://h1/a/page2.html", "text/html", 5, 100, page("p2.htm", "<html><body>x")},
            {"http://h1/a/pic.gif", "image/gif", 2, 500, page("g.gif", "<title>Not read</title>")},
            {"http://h1/a/list.php?id=3", "text/html; charset=Shift_JIS", 4, 300,
             page("l.htm", "<html><head><title>Zeta</title></head>")},
            {"http://h1/a/b/c.html", "text/html", 9, 10},
            {"http://h1/a/d/e.html", "text/html", 1, 20},
            {"http://h2/other.html", "text/html", 1, 30},
        };
        tree = MakeTree(entries);
        testing::Refresh(*tree);
        list.SetTree(tree.get());
        list.SetFolder("http://h1/a/");
    }
    void TearDown() override { list.SetTree(nullptr); }

    test::TTempDir dir;
    std::unique_ptr<TWebCacheTree> tree;
    TCacheListView list;
    const TCacheListModel& model() const { return *list.Model(); }
};

TEST_F(TListViewTest, FillsTheRowsOfTheFolder) {
    EXPECT_EQ(Labels(model()), (std::vector<std::string>{"b/", "d/", "list.php?id=3", "page1.html",
                                                         "page2.html", "pic.gif"}));
    const int php = RowOf(model(), "list.php?id=3");
    const int page1 = RowOf(model(), "page1.html");
    const int page2 = RowOf(model(), "page2.html");
    const int pic = RowOf(model(), "pic.gif");
    const int b = RowOf(model(), "b/");

    // The local name (with its checksum) under 名前, the cache's under URL名.
    EXPECT_TRUE(Cell(model(), php, lcName).startsWith(QStringLiteral("list~")));
    EXPECT_TRUE(Cell(model(), php, lcName).endsWith(QStringLiteral(".html")));
    EXPECT_EQ(Cell(model(), php, lcUrlName), QStringLiteral("list.php?id=3"));

    // Titles of HTML pages only; a page without one shows none.
    EXPECT_EQ(Cell(model(), page1, lcTitle), kAlpha);
    EXPECT_EQ(Cell(model(), php, lcTitle), QStringLiteral("Zeta"));
    EXPECT_EQ(Cell(model(), page2, lcTitle), QString());
    EXPECT_EQ(Cell(model(), pic, lcTitle), QString());

    EXPECT_EQ(Cell(model(), page1, lcSize), QStringLiteral("2KB"));
    EXPECT_EQ(Cell(model(), page2, lcSize), QStringLiteral("1KB"));
    EXPECT_EQ(Cell(model(), b, lcSize), QString());
    EXPECT_EQ(
        model().data(model().index(page1, lcSize), Qt::TextAlignmentRole).value<Qt::Alignment>() &
            Qt::AlignRight,
        Qt::AlignRight);

    EXPECT_EQ(Cell(model(), b, lcType), ToQString(model().FolderTypeName()));
    EXPECT_EQ(Cell(model(), page1, lcType), Cell(model(), page2, lcType));
    EXPECT_TRUE(Cell(model(), pic, lcType).contains(QStringLiteral("GIF")));
    EXPECT_NE(Cell(model(), pic, lcType), Cell(model(), page1, lcType));

    EXPECT_EQ(Cell(model(), page1, lcDate),
              ToQString(FormatDateTimeShort(model().NodeAt(page1)->LastModified())));
    EXPECT_FALSE(Cell(model(), b, lcDate).isEmpty());
    for (int row = 0; row < model().rowCount(); ++row)
        EXPECT_FALSE(model().IconOf(row).isNull()) << Label(model(), row);

    // The first row has the focus without being selected.
    EXPECT_EQ(list.SelectionModel()->currentIndex().row(), 0);
    EXPECT_TRUE(list.SelectedRows().empty());
}

TEST_F(TListViewTest, SortsByEveryColumnBothWays) {
    const struct {
        const char* name;
        int column;
        std::vector<std::string> ascending;
    } cases[] = {
        {"名前", lcName, {"b/", "d/", "list.php?id=3", "page1.html", "page2.html", "pic.gif"}},
        {"URL名", lcUrlName, {"b/", "d/", "list.php?id=3", "page1.html", "page2.html", "pic.gif"}},
        {"タイトル: untitled first, by name",
         lcTitle,
         {"b/", "d/", "page2.html", "pic.gif", "page1.html", "list.php?id=3"}},
        {"サイズ", lcSize, {"b/", "d/", "page2.html", "list.php?id=3", "pic.gif", "page1.html"}},
        {"種類", lcType, {"b/", "d/", "pic.gif", "list.php?id=3", "page1.html", "page2.html"}},
        {"更新日時: newest first",
         lcDate,
         {"b/", "d/", "page2.html", "list.php?id=3", "page1.html", "pic.gif"}},
    };
    for (const auto& c : cases) {
        list.SetSort(1, lsName); // start from elsewhere: the click sorts ascending
        if (c.column == lcName)
            list.SetSort(0, lsUrlName);
        list.ColumnClicked(c.column);
        EXPECT_EQ(list.SortType(), SortKeyOfColumn(c.column)) << c.name;
        EXPECT_EQ(list.SortOrder(), 0) << c.name;
        EXPECT_EQ(Labels(model()), c.ascending) << c.name;
        // The same column again turns everything round: folders last.
        list.ColumnClicked(c.column);
        EXPECT_EQ(list.SortOrder(), 1) << c.name;
        std::vector<std::string> descending(c.ascending.rbegin(), c.ascending.rend());
        EXPECT_EQ(Labels(model()), descending) << c.name;
        // A refill keeps the order.
        list.Refresh();
        EXPECT_EQ(Labels(model()), descending) << c.name;
    }
}

TEST_F(TListViewTest, SortingKeepsTheSelectedRows) {
    list.SelectionModel()->select(model().index(RowOf(model(), "pic.gif"), 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list.SetSort(1, lsSize);
    const std::vector<TWebCacheTreeNode*> selected = list.SelectedNodes();
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(UrlNameOf(*selected[0]), "pic.gif");
}

TEST_F(TListViewTest, ViewStylesShowTheSameRowsAndSelection) {
    list.SelectionModel()->select(model().index(RowOf(model(), "page1.html"), 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const struct {
        const char* name;
        int style;
        QListView::ViewMode mode;
    } cases[] = {
        {"large icons", vsIcon, QListView::IconMode},
        {"small icons", vsSmallIcon, QListView::ListMode},
        {"list", vsList, QListView::ListMode},
        {"details", vsReport, QListView::ListMode},
    };
    for (const auto& c : cases) {
        list.SetViewStyle(c.style);
        EXPECT_EQ(list.ViewStyle(), c.style) << c.name;
        QAbstractItemView* view = list.CurrentView();
        EXPECT_EQ(list.currentWidget(), view) << c.name;
        EXPECT_EQ(view->model(), list.Model()) << c.name;
        EXPECT_EQ(view->selectionModel(), list.SelectionModel()) << c.name;
        if (c.style != vsReport) {
            EXPECT_EQ(list.IconView()->viewMode(), c.mode) << c.name;
        }
        const std::vector<TWebCacheTreeNode*> selected = list.SelectedNodes();
        ASSERT_EQ(selected.size(), 1u) << c.name;
        EXPECT_EQ(UrlNameOf(*selected[0]), "page1.html") << c.name;
    }
    list.SetViewStyle(7);
    EXPECT_EQ(list.ViewStyle(), vsReport);
}

TEST_F(TListViewTest, SelectionStatisticsAndStatusTexts) {
    auto [count0, size0] = StatusTexts(list.Statistics());
    EXPECT_EQ(count0, QStringLiteral("6 個のオブジェクト"));
    EXPECT_EQ(size0, ToQString(FormatSizeShort(2000 + 100 + 500 + 300)));

    // Three files, selected in the icon view (first column only).
    list.SetViewStyle(vsIcon);
    for (const char* label : {"page1.html", "pic.gif", "list.php?id=3"})
        list.SelectionModel()->select(model().index(RowOf(model(), label), 0),
                                      QItemSelectionModel::Select);
    TListStatistics stats = list.Statistics();
    EXPECT_EQ(stats.SelectedCount, 3);
    EXPECT_EQ(stats.SelectedBytes, 2800u);
    auto [count, size] = StatusTexts(stats);
    EXPECT_EQ(count, QStringLiteral("3 個のオブジェクトを選択"));
    EXPECT_EQ(size, QStringLiteral("2.73KB"));

    list.InvertSelection();
    stats = list.Statistics();
    EXPECT_EQ(stats.SelectedCount, 3); // b/, d/, page2.html
    EXPECT_EQ(stats.SelectedBytes, 100u);
    list.SelectAll();
    EXPECT_EQ(list.Statistics().SelectedCount, 6);
}

TEST_F(TListViewTest, RowsOfDeletedNodesGo) {
    // The window removes rows by the URL texts the tree reports; the list
    // also hears of every removal itself. Either way the same rows remain.
    TSubscription deletedHook;
    for (bool byUrl : {true, false}) {
        list.SetTree(nullptr);
        SetUp();
        std::vector<bool> removed;
        if (byUrl) {
            deletedHook = tree->OnNodeDeleted.Subscribe([&](TWebCacheTree&, std::string_view url) {
                removed.push_back(list.RemoveRowByUrl(url));
            });
        }
        ASSERT_TRUE(tree->DeleteNode(tree->FindNodeByUrl("http://h1/a/page2.html")).Ok());
        ASSERT_TRUE(tree->DeleteNode(tree->FindNodeByUrl("http://h1/a/b/")).Ok());
        // Another folder's file leaves the list alone.
        ASSERT_TRUE(tree->DeleteNode(tree->FindNodeByUrl("http://h2/other.html")).Ok());
        EXPECT_EQ(Labels(model()),
                  (std::vector<std::string>{"d/", "list.php?id=3", "page1.html", "pic.gif"}))
            << byUrl;
        if (byUrl) {
            // page2.html; c.html (another folder), b/; other.html, h2/ (elsewhere).
            EXPECT_EQ(removed, (std::vector<bool>{true, false, true, false, false}));
        }
        deletedHook.Reset();
    }
}

TEST_F(TListViewTest, TitlesNeverOutliveTheirBuild) {
    EXPECT_EQ(Cell(model(), RowOf(model(), "page1.html"), lcTitle), kAlpha);
    test::WriteFileBytes(dir.Path() / "p1.htm", "<html><head><title>Beta</title></head>");
    list.Refresh(); // same build: the title was read once
    EXPECT_EQ(Cell(model(), RowOf(model(), "page1.html"), lcTitle), kAlpha);
    testing::Refresh(*tree);
    EXPECT_EQ(model().rowCount(), 0); // the rows went with their nodes
    list.Refresh();
    EXPECT_EQ(Cell(model(), RowOf(model(), "page1.html"), lcTitle), QStringLiteral("Beta"));
}

TEST_F(TListViewTest, FindWindowRowsShowTheirLocation) {
    TCacheListView found;
    found.SetTree(tree.get());
    found.Clear();
    found.AddNodeRow(tree->FindNodeByUrl("http://h1/a/page1.html"));
    found.AddNodeRow(tree->FindNodeByUrl("http://h1/a/b/"));
    found.AddNodeRow(tree->FindNodeByUrl("http://h2/other.html"));
    found.Sort();
    const TCacheListModel& m = *found.Model();
    ASSERT_EQ(m.rowCount(), 3);
    EXPECT_EQ(Cell(m, 0, lcName), QStringLiteral("b"));
    EXPECT_EQ(Cell(m, 0, lcUrlName), QStringLiteral("http://h1/a/"));
    EXPECT_EQ(Cell(m, 1, lcName), QStringLiteral("other.html"));
    EXPECT_EQ(Cell(m, 1, lcUrlName), QStringLiteral("http://h2/"));
    EXPECT_EQ(Cell(m, 2, lcTitle), kAlpha);
    ASSERT_TRUE(tree->DeleteNode(tree->FindNodeByUrl("http://h2/other.html")).Ok());
    EXPECT_EQ(m.rowCount(), 2);
    found.SetTree(nullptr);
}

TEST_F(TListViewTest, FollowsTheTreeView) {
    TCacheTreeView tv;
    tv.SetTree(tree.get());
    QObject::connect(&tv, &QTreeWidget::currentItemChanged,
                     [&] { list.SetFolder(tv.SelectedPath()); });
    tv.setCurrentItem(tv.FindItemByPath("http://h1/a/d/"));
    EXPECT_EQ(Labels(model()), (std::vector<std::string>{"e.html"}));
    tv.setCurrentItem(tv.FindItemByPath("http://h1/a/"));
    EXPECT_EQ(model().rowCount(), 6);
    // A folder that does not exist shows nothing.
    list.SetFolder("http://nowhere/");
    EXPECT_EQ(model().rowCount(), 0);
    tv.SetTree(nullptr);
}

} // namespace
} // namespace tarnhold::gui

namespace tarnhold::gui {
namespace {

// Deleting many scattered files of a folder replaces the folder's list in
// one reset; both views empty themselves and come back as they were.
TEST(ViewsAfterScatteredDeletion, ComeBackWithTheSameFolder) {
    std::vector<TEntrySpec> entries;
    for (int i = 0; i < 20; ++i)
        entries.push_back({"http://h1/many/f" + std::to_string(100 + i) + ".html"});
    auto tree = MakeTree(entries);
    testing::Refresh(*tree);
    TCacheTreeView folders;
    TCacheListView list;
    folders.SetTree(tree.get());
    list.SetTree(tree.get());
    folders.SelectPath("http://h1/many/");
    list.SetFolder(folders.SelectedPath());
    ASSERT_EQ(list.Model()->rowCount(), 20);

    std::vector<TWebCacheTreeNode*> gone;
    for (int i = 0; i < 20; i += 2)
        gone.push_back(list.Model()->NodeAt(i));
    ASSERT_TRUE(tree->DeleteNodes(gone).Ok());
    folders.RebuildIfEmptied();
    list.RefreshIfEmptied();
    EXPECT_EQ(folders.SelectedPath(), "http://h1/many/");
    ASSERT_EQ(list.Model()->rowCount(), 10);
    for (int row = 0; row < 10; ++row)
        EXPECT_EQ(UrlNameOf(*list.Model()->NodeAt(row)),
                  "f" + std::to_string(101 + 2 * row) + ".html");
    list.SetTree(nullptr);
    folders.SetTree(nullptr);
}

} // namespace
} // namespace tarnhold::gui
