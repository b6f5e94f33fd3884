// The main window driven as a user drives it, on caches held in memory and
// a data folder of its own per test.
#include "favorites/favorites.h"
#include "gui/mainwindowparts.h"
#include "mainwindow/aboutbox.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/screensettings.h"
#include "platform/codepage.h"
#include "platform/profile.h"
#include "support/cachetreefixture.h"
#include "text/displayformat.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <fstream>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;
using testing::TEntrySpec;

class TempFolder {
public:
    TempFolder() {
        char name[] = "/tmp/tarnhold-mainwindow-XXXXXX";
        Path = mkdtemp(name);
    }
    ~TempFolder() { fs::remove_all(Path); }
    fs::path Path;
};

std::vector<TEntrySpec> SiteEntries() {
    return {
        {"http://www.a.test/index.html", "text/html", 3, 1000},
        {"http://www.a.test/b.gif", "image/gif", 4, 2000},
        {"http://www.a.test/c.css", "text/css", 5, 3000},
        {"http://www.a.test/docs/one.html", "text/html", 6, 400},
        {"http://www.a.test/docs/deep/two.html", "text/html", 7, 500},
        {"http://www.b.test/x.html", "text/html", 8, 600},
        {"https://secure.c.test/y.html", "text/html", 9, 700},
    };
}

// A window over a fresh tree, started as the program starts it.
struct Fixture {
    explicit Fixture(const std::string& screenDat = {}, bool start = true) {
        if (!screenDat.empty())
            std::ofstream(Home.Path / "screen.dat") << screenDat;
        Tree = testing::MakeTree(SiteEntries());
        Window = std::make_unique<TfrmMain>(*Tree, Favorites, Home.Path);
        if (start)
            Window->Start();
    }
    ~Fixture() { Window.reset(); }

    test::TMainWindowParts W() const { return test::TMainWindowParts(*Window); }

    QString Utf8(const char* text) const { return QString::fromUtf8(text); }
    std::string CurrentPath() const { return W().Tree()->SelectedPath(); }
    void Select(const char* url) {
        W().Tree()->SelectPath(url);
        ASSERT_EQ(CurrentPath(), url);
    }

    TempFolder Home;
    std::unique_ptr<TWebCacheTree> Tree;
    TFavorites Favorites;
    std::unique_ptr<TfrmMain> Window;
};

TEST(MainWindowStart, WithoutScreenDatRefreshesAndShowsTheRoot) {
    Fixture f;
    const test::TMainWindowParts w = f.W();
    EXPECT_TRUE(w.Window().windowTitle().endsWith(QStringLiteral(" for MSIE")));
    EXPECT_EQ(w.Window().size(), QSize(963, 560));
    EXPECT_TRUE(w.Action("mnuToolBar")->isChecked());
    EXPECT_TRUE(w.ToolBar()->isVisible());
    EXPECT_TRUE(w.Action("actListDetailIcon")->isChecked());
    EXPECT_TRUE(w.Action("mnuRefreshAtStart")->isChecked());
    EXPECT_TRUE(w.Action("mnuEnableScheme")->isChecked());
    EXPECT_EQ(w.Commands().SchemeLevel(), 1);
    EXPECT_FALSE(w.ProgressVisible());
    EXPECT_TRUE(w.Window().isEnabled());
    // The refresh filled the tree; the root is selected and listed.
    QTreeWidgetItem* root = w.Tree()->RootItem();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->text(0), QStringLiteral("Web Cache"));
    EXPECT_EQ(root->childCount(), 2); // http:, https:
    EXPECT_EQ(f.CurrentPath(), "");
    EXPECT_EQ(w.List()->Model()->Count(), 2);
    EXPECT_EQ(w.StatusText(0), f.Utf8("2 個のオブジェクト"));
    EXPECT_EQ(w.FolderCaption()->text(), f.Utf8(" 開いているフォルダ: Web Cache"));
}

TEST(MainWindowStart, ScreenDatEdgeCases) {
    struct Case {
        const char* name;
        const char* file;
        QRect bounds;     // empty: the default size
        bool toolBar;     // tool bar shown and checked
        int checkedStyle; // 0..3
        int schemeLevel;  // 1 with scheme folders
        int rootChildren; // top level of the tree
    };
    const Case cases[] = {
        {"only Width", "[General]\r\nWidth=700\r\n", QRect(0, 0, 700, 0), true, 3, 1, 2},
        {"ViewStyle 7 keeps details", "[Cache]\r\nViewStyle=7\r\n", {}, true, 3, 1, 2},
        {"ViewStyle 0 large icons", "[Cache]\r\nViewStyle=0\r\n", {}, true, 0, 1, 2},
        {"ToolBar 0", "[General]\r\nToolBar=0\r\n", {}, false, 3, 1, 2},
        {"EnableScheme 0", "[Option]\r\nEnableScheme=0\r\n", {}, true, 3, 0, 3},
        {"garbage", "[General]\r\nToolBar=yes\r\n[Cache]\r\nViewStyle=x\r\n", {}, true, 3, 1, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.file);
        const test::TMainWindowParts w = f.W();
        if (!c.bounds.isNull()) {
            EXPECT_EQ(w.Window().geometry().width(), c.bounds.width());
        } else {
            EXPECT_EQ(w.Window().size(), QSize(963, 560));
        }
        EXPECT_EQ(w.Action("mnuToolBar")->isChecked(), c.toolBar);
        EXPECT_EQ(w.ToolBar()->isVisible(), c.toolBar);
        QAction* styles[] = {w.Action("actListLargeIcon"), w.Action("actListSmallIcon"),
                             w.Action("actListListIcon"), w.Action("actListDetailIcon")};
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(styles[i]->isChecked(), i == c.checkedStyle) << i;
        EXPECT_EQ(w.Commands().SchemeLevel(), c.schemeLevel);
        EXPECT_EQ(f.Tree->EnableScheme(), c.schemeLevel == 1);
        EXPECT_EQ(w.Tree()->RootItem()->childCount(), c.rootChildren);
    }
}

TEST(MainWindowStart, WithoutRefreshAtStartTheTreeStaysEmpty) {
    Fixture f("[Cache]\r\nRefresh=0\r\n");
    EXPECT_FALSE(f.W().Action("mnuRefreshAtStart")->isChecked());
    EXPECT_EQ(f.Tree->Root()->Count(), 0);
    f.W().Action("actCacheRefresh")->trigger();
    EXPECT_EQ(f.Tree->Root()->Count(), 2);
    EXPECT_EQ(f.W().Tree()->RootItem()->childCount(), 2);
}

TEST(MainWindowSettings, CloseWritesEveryKeyInOrderAndTheNextStartReadsThem) {
    TempFolder home;
    {
        Fixture f;
        f.W().Action("actListSmallIcon")->trigger();
        f.W().Action("mnuStatusBar")->trigger();
        f.W().Action("actListSortBySize")->trigger();
        f.Window->close();
        const std::string text = TProfileFile(f.Home.Path / "screen.dat").Text();
        const char* order[] = {
            "[General]",    "Top=",        "Left=",          "Width=",      "Height=",
            "ToolBar=1",    "StatusBar=0", "FavoriteSplit=", "CacheSplit=", "[Favorites]",
            "Col01=",       "Col02=",      "Col03=",         "SortType=0",  "SortOrder=0",
            "[Cache]",      "Col01=",      "Col06=",         "SortType=2",  "SortOrder=0",
            "AutoArrange=", "ViewStyle=1", "Refresh=1",      "[Option]",    "EnableScheme=1"};
        std::size_t at = 0;
        for (const char* key : order) {
            const std::size_t next = text.find(key, at);
            ASSERT_NE(next, std::string::npos) << key << " after " << at << " in\n" << text;
            at = next;
        }
        fs::copy_file(f.Home.Path / "screen.dat", home.Path / "screen.dat");
    }
    const TScreenSettings s = ReadScreenSettings(home.Path / "screen.dat");
    EXPECT_EQ(s.ViewStyle, 1);
    EXPECT_FALSE(s.StatusBar);
    EXPECT_EQ(s.CacheSortType, 2);
    EXPECT_TRUE(s.HasBounds());
}

TEST(MainWindowSettings, AScreenDatThatCannotBeReadGivesDefaultsAndIsNotWrittenOver) {
    TempFolder home;
    const fs::path file = home.Path / "screen.dat";
    fs::create_directory(file); // exists, but no file to read
    const TScreenSettings s = ReadScreenSettings(file);
    EXPECT_FALSE(s.HasBounds());
    EXPECT_TRUE(s.ToolBar);
    EXPECT_EQ(s.ViewStyle, 3);
    EXPECT_EQ(s.CacheSortType, 5);
    EXPECT_FALSE(s.CacheSplit.has_value());
    EXPECT_FALSE(s.CacheColumns[0].has_value());
    EXPECT_TRUE(WriteScreenSettings(file, s));
    EXPECT_TRUE(fs::is_directory(file));
}

TEST(MainWindowAbout, VersionLine) {
    const struct {
        const char* version;
        const char* shown;
    } cases[] = {{"0.1.0", "Version 0.1.0"}, {"", "Version (未定義)"}};
    for (const auto& c : cases) {
        TfrmAbout about(QString::fromUtf8(c.version));
        EXPECT_EQ(about.VersionText(), QString::fromUtf8(c.shown)) << c.version;
        EXPECT_EQ(about.windowTitle(), QString::fromUtf8("バージョン情報"));
    }
}

TEST(MainWindowCommands, ViewStylesCheckOneAndEnableArrangingForIcons) {
    Fixture f;
    const test::TMainWindowParts w = f.W();
    QAction* styles[] = {w.Action("actListLargeIcon"), w.Action("actListSmallIcon"),
                         w.Action("actListListIcon"), w.Action("actListDetailIcon")};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        styles[i]->trigger();
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(styles[j]->isChecked(), i == j);
        EXPECT_EQ(w.List()->ViewStyle(), i);
        EXPECT_EQ(w.Action("actListArrangeIconAuto")->isEnabled(), i < 2);
        EXPECT_EQ(w.Action("actListLineUp")->isEnabled(), i < 2);
    }
    // The tool bar's button runs through the cycle from details.
    for (int expected : {0, 1, 2, 3, 0}) {
        w.Action("actListRoolIcon")->trigger();
        EXPECT_EQ(w.List()->ViewStyle(), expected);
        EXPECT_TRUE(styles[expected]->isChecked());
    }
}

TEST(MainWindowCommands, UpFolderRowsAndSortCommands) {
    Fixture f;
    const test::TMainWindowParts w = f.W();
    f.Select("http://www.a.test/docs/");
    w.Action("actTreeUpLevel")->trigger();
    EXPECT_EQ(f.CurrentPath(), "http://www.a.test/");
    EXPECT_EQ(w.List()->CurrentFolder(), "http://www.a.test/");

    // The sort commands set the key, ascending.
    const std::pair<QAction*, int> sorts[] = {
        {w.Action("actListSortByUrlName"), 0}, {w.Action("actListSortByTitle"), 1},
        {w.Action("actListSortBySize"), 2},    {w.Action("actListSortByType"), 3},
        {w.Action("actListSortByDate"), 4},    {w.Action("actListSortByName"), 5}};
    for (const auto& [action, key] : sorts) {
        action->trigger();
        EXPECT_EQ(w.List()->SortType(), key);
        EXPECT_EQ(w.List()->SortOrder(), 0);
    }

    // A folder row opened from the list selects its tree item.
    w.List()->SelectAll();
    w.Commands().lvwCacheDblClick(); // folders first: "docs"
    EXPECT_EQ(f.CurrentPath(), "http://www.a.test/docs/");
}

TEST(MainWindowCommands, SelectAllAndInvertSelection) {
    Fixture f;
    const test::TMainWindowParts w = f.W();
    f.Select("http://www.a.test/");
    const int rows = w.List()->Model()->Count();
    ASSERT_EQ(rows, 4); // docs/, index.html, b.gif, c.css
    w.Action("actListSelectAll")->trigger();
    EXPECT_EQ(static_cast<int>(w.List()->SelectedNodes().size()), rows);
    EXPECT_EQ(w.StatusText(0), f.Utf8("4 個のオブジェクトを選択"));
    w.Action("actListItemChange")->trigger();
    EXPECT_TRUE(w.List()->SelectedNodes().empty());
    EXPECT_EQ(w.StatusText(0), f.Utf8("4 個のオブジェクト"));
}

TEST(MainWindowStatus, ThreeSelectedFilesAndNone) {
    Fixture f;
    const test::TMainWindowParts w = f.W();
    f.Select("http://www.a.test/");
    // The three files of 1000, 2000 and 3000 bytes, without the folder row.
    QItemSelectionModel* selection = w.List()->SelectionModel();
    TCacheListModel* model = w.List()->Model();
    for (int row = 0; row < model->Count(); ++row) {
        if (!model->NodeAt(row)->IsFolder)
            selection->select(model->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    EXPECT_EQ(w.StatusText(0), f.Utf8("3 個のオブジェクトを選択"));
    EXPECT_EQ(w.StatusText(1), QString::fromStdString(AnsiToUtf8(FormatSizeShort(6000))));
    selection->clearSelection();
    EXPECT_EQ(w.StatusText(0), f.Utf8("4 個のオブジェクト"));
    EXPECT_EQ(w.StatusText(1), QString::fromStdString(AnsiToUtf8(FormatSizeShort(6000))));
}

TEST(MainWindowTree, HeldKeyWalksTheTreeWithoutRefillingTheListUntilThePause) {
    Fixture f;
    const test::TMainWindowParts w = f.W();
    f.Select("http://www.a.test/");
    w.Tree()->expandAll();
    w.Tree()->setFocus();
    // Key presses without a release: the key is held.
    QTest::keyPress(w.Tree(), Qt::Key_Down);
    QTest::keyPress(w.Tree(), Qt::Key_Down);
    EXPECT_EQ(f.CurrentPath(), "http://www.a.test/docs/deep/");
    EXPECT_EQ(w.List()->CurrentFolder(), "http://www.a.test/");
    EXPECT_TRUE(w.NodeChangeTimer()->isActive());
    EXPECT_EQ(w.NodeChangeTimer()->interval(), 1000);
    // The pause: the timer's tick shows the folder then selected.
    QTest::keyRelease(w.Tree(), Qt::Key_Down);
    EXPECT_EQ(w.List()->CurrentFolder(), "http://www.a.test/");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.NodeChangeTimer()->isActive(); }, 3000));
    EXPECT_EQ(w.List()->CurrentFolder(), "http://www.a.test/docs/deep/");
    EXPECT_EQ(w.FolderCaption()->text(), f.Utf8(" 開いているフォルダ: deep"));
    // Without a held key the list follows at once.
    w.Action("actTreeUpLevel")->trigger();
    EXPECT_EQ(w.List()->CurrentFolder(), "http://www.a.test/docs/");
}

TEST(MainWindowFavorites, ASiteAsRootAndBackToTheWholeCache) {
    for (const bool scheme : {true, false}) {
        SCOPED_TRACE(scheme);
        Fixture f(scheme ? "" : "[Option]\r\nEnableScheme=0\r\n");
        const test::TMainWindowParts w = f.W();
        TFavoriteItem site = TFavorites::MakeDefaultItem();
        site.Title = "Site A";
        site.UrlName = "http://www.a.test/index.html";
        site.Default = scheme ? "default.htm" : "";
        w.Commands().OpenFavorite(&site);
        EXPECT_EQ(w.Commands().CurrentFavorite(), &site);
        // A favorite without a default file name keeps the pages of folder
        // URLs named.
        EXPECT_EQ(f.Tree->DefaultFileName, scheme ? "default.htm" : "index.html");
        QTreeWidgetItem* root = w.Tree()->RootItem();
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->text(0), QStringLiteral("Site A"));
        EXPECT_EQ(root->childCount(), 1); // docs
        // The selection survives a refresh of the site.
        w.Tree()->setCurrentItem(root->child(0));
        const std::string docs = scheme ? "http://www.a.test/docs/" : "www.a.test/docs/";
        EXPECT_EQ(f.CurrentPath(), docs);
        w.Action("actCacheRefresh")->trigger();
        EXPECT_EQ(f.CurrentPath(), docs);
        EXPECT_EQ(w.List()->CurrentFolder(), docs);

        w.Commands().OpenFavorite(nullptr);
        EXPECT_EQ(w.Commands().CurrentFavorite(), nullptr);
        EXPECT_EQ(w.Tree()->RootItem()->text(0), QStringLiteral("Web Cache"));
        EXPECT_EQ(f.Tree->DefaultFileName, "index.html");
    }
}

TEST(MainWindowFavorites, ASiteMissingFromTheCacheShowsALoneRoot) {
    Fixture f;
    TFavoriteItem site = TFavorites::MakeDefaultItem();
    site.Title = "Gone";
    site.UrlName = "http://gone.test/";
    f.W().Commands().OpenFavorite(&site);
    EXPECT_EQ(f.W().Tree()->RootItem()->text(0), QStringLiteral("Gone"));
    EXPECT_EQ(f.W().Tree()->RootItem()->childCount(), 0);
    EXPECT_EQ(f.W().List()->Model()->Count(), 0);
}

TEST(MainWindowCache, WithoutACacheARootAloneAndWhyStayAcrossRefreshes) {
    TempFolder home;
    TWebCacheTree tree; // no source: no cache could be found
    TFavorites favorites;
    TfrmMain window(tree, favorites, home.Path);
    const test::TMainWindowParts w(window);
    const QString why = QStringLiteral("/nowhere/index.dat: No such file or directory");
    w.Commands().SetCacheProblem(why);
    w.Window().Start();
    ASSERT_NE(w.Tree()->RootItem(), nullptr);
    EXPECT_EQ(w.Tree()->RootItem()->childCount(), 0);
    EXPECT_EQ(w.List()->Model()->Count(), 0);
    EXPECT_EQ(w.CacheProblemText(), why);
    w.Action("actCacheRefresh")->trigger();
    EXPECT_EQ(w.CacheProblemText(), why);
    EXPECT_TRUE(w.Window().isEnabled());
}

} // namespace
} // namespace tarnhold::gui
