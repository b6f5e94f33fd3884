// The main window's commands on cache nodes, driven on the real window: the
// enabling rules as the focus, the selections and the context menus change,
// and deletion, copies, properties, the clipboard copy and the default
// extensions end to end. Every question is answered by TAnsweringPrompts,
// which records what it was asked.
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "copy/confirmdelete.h"
#include "copy/copy_test_helpers.h"
#include "copy/copyprompts.h"
#include "dragdrop/dragstarter.h"
#include "favorites/favorites.h"
#include "gui/mainwindowparts.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/property.h"
#include "platform/files.h"
#include "platform/filetime.h"
#include "support/cache_test_helpers.h"
#include "support/cachetreefixture.h"
#include "tree/contenttype.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QItemSelectionModel>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <set>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;
using tarnhold::test::FilesBelow;
using tarnhold::test::ReadFileBytes;
using tarnhold::test::TSiteFixture;
using tarnhold::test::TTempDir;
using tarnhold::test::WriteFileBytes;

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// Answers every dialog of the window from its fields and records what it
// was asked.
class TAnsweringPrompts : public TGuiPrompts {
public:
    TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode&, const fs::path& path) override {
        Overwrites.push_back(path);
        return next_ < OverwriteAnswers.size() ? OverwriteAnswers[next_++]
                                               : TOverwriteAnswer::Cancel;
    }
    bool AskCopyFolder(fs::path& folder) override {
        ++CopyFolderAsked;
        if (!CopyFolder)
            return false;
        folder = *CopyFolder;
        return true;
    }
    bool ConfirmDelete(const std::vector<TWebCacheTreeNode*>& nodes) override {
        // The wording the real dialog shows for the same list.
        TfrmConfirmDelete dialog(nullptr, nodes);
        DeleteTexts.push_back(dialog.MessageText());
        std::vector<std::string> urls;
        for (const TWebCacheTreeNode* node : nodes)
            urls.push_back(node->UrlText());
        DeleteAsked.push_back(urls);
        return DeleteAnswer;
    }
    bool EditDefaultExtensions(TContentType& table) override {
        ++ExtensionsAsked;
        if (EditTable)
            EditTable(table);
        return ExtensionsAnswer;
    }
    bool AskArchiveFile(fs::path& file, bool& decoded) override {
        ArchiveSuggested.push_back(file);
        if (!ArchiveFile)
            return false;
        file = *ArchiveFile;
        decoded = false;
        return true;
    }
    QMessageBox::StandardButton ShowMessage(const QString& caption, const QString& text,
                                            QMessageBox::Icon,
                                            QMessageBox::StandardButtons) override {
        Messages.push_back(caption + QLatin1Char('|') + text);
        return QMessageBox::Ok;
    }
    bool OpenFile(const fs::path& file) override {
        Opened.push_back(file);
        return true;
    }

    std::vector<TOverwriteAnswer> OverwriteAnswers;
    std::vector<fs::path> Overwrites;
    std::optional<fs::path> CopyFolder;
    int CopyFolderAsked = 0;
    std::optional<fs::path> ArchiveFile;
    std::vector<fs::path> ArchiveSuggested;
    bool DeleteAnswer = true;
    std::vector<std::vector<std::string>> DeleteAsked;
    std::vector<QString> DeleteTexts;
    std::function<void(TContentType&)> EditTable;
    bool ExtensionsAnswer = true;
    int ExtensionsAsked = 0;
    std::vector<QString> Messages;
    std::vector<fs::path> Opened;

private:
    std::size_t next_ = 0;
};

// root > http: > www.a.test > {docs > {deep > three.html, one.html,
// two.html}, index.html, b.gif}, www.b.test > {x.html, page.html}; https: >
// secure.c.test > y.html. Every entry has a real cached file.
void AddSite(TSiteFixture& site) {
    site.Add("http://www.a.test/index.html", "<p>index</p>", "text/html", 3);
    site.Add("http://www.a.test/b.gif", "GIF89a", "image/gif", 4);
    site.Add("http://www.a.test/docs/one.html", "<p>one</p>", "text/html", 5);
    site.Add("http://www.a.test/docs/two.html", "<p>two</p>", "text/html", 5);
    site.Add("http://www.a.test/docs/deep/three.html", "<p>three</p>", "text/html", 6);
    site.Add("http://www.b.test/x.html", "<p>x</p>", "text/html", 7);
    site.Add("http://www.b.test/page", "<p>page</p>", "text/html", 7);
    site.Add("https://secure.c.test/y.html", "<p>y</p>", "text/html", 8);
}

// A started window over the site, its own data folder and favorites, and
// the answering prompts.
struct Fixture {
    explicit Fixture(bool scheme = true, const std::function<void(TSiteFixture&)>& more = {}) {
        AddSite(Site);
        if (more)
            more(Site);
        if (!scheme)
            std::ofstream(Home.Path() / "screen.dat") << "[Option]\r\nEnableScheme=0\r\n";
        Tree = Site.Tree(scheme);
        Tree->SetContentTypeFile(Home.Path() / "contentType.dat");
        Window = std::make_unique<TfrmMain>(*Tree, Favorites, Home.Path());
        W().Commands().SetPrompts(&Prompts);
        // Qt keeps a hidden action disabled whatever it is set to; shown, the
        // commands that wait for their windows tell what the rules made of
        // them.
        for (QAction* action : {W().Action("actCacheFind"), W().Action("actCacheSqueeze"),
                                W().Action("actFavoritesFromCache"), W().Action("actFileCut")})
            action->setVisible(true);
        Window->Start();
    }
    ~Fixture() { Window.reset(); }

    test::TMainWindowParts W() const { return test::TMainWindowParts(*Window); }
    QTreeWidgetItem* Item(const char* path) {
        QTreeWidgetItem* item = W().Tree()->FindItemByPath(path);
        EXPECT_NE(item, nullptr) << path;
        return item;
    }
    void Select(const char* path) {
        QTreeWidgetItem* item = W().Tree()->FindItemByPath(path);
        ASSERT_NE(item, nullptr) << path;
        W().Tree()->setCurrentItem(item);
        ASSERT_EQ(W().Tree()->SelectedPath(), path);
        ASSERT_EQ(W().List()->CurrentFolder(), path);
    }
    // Gives widget the keyboard focus as a click would; the window must be
    // the active one for the focus to move under the offscreen platform.
    void Focus(QWidget* widget) {
        Window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
        widget->setFocus(Qt::MouseFocusReason);
        QApplication::processEvents();
    }
    void FocusList() { Focus(W().List()->CurrentView()); }
    // An entry whose cached file is gone (its copy fails), read in.
    void AddEntryWithoutFile(const char* url) {
        testing::SourceOf(*Tree).Add(testing::MakeRawEntry({url, "image/gif"}));
        W().Action("actCacheRefresh")->trigger();
    }
    // Selects exactly the list rows of these display names.
    void SelectRows(const std::vector<std::string>& names) {
        TCacheListModel* model = W().List()->Model();
        QItemSelectionModel* selection = W().List()->SelectionModel();
        selection->clearSelection();
        for (const std::string& name : names) {
            int row = 0;
            while (row < model->Count() && model->NodeAt(row)->DisplayName() != name)
                ++row;
            ASSERT_LT(row, model->Count()) << name;
            selection->select(model->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    // Adds count favorites of www.a.test and selects the first selected of
    // them.
    void AddFavorites(int count, int selected) {
        for (int i = 0; i < count; ++i)
            Favorites.AddNew("Site " + std::to_string(i), "http://www.a.test/");
        for (int i = 0; i < W().Favorites()->topLevelItemCount(); ++i)
            W().Favorites()->topLevelItem(i)->setSelected(i < selected);
    }
    std::size_t EntryCount() { return testing::SourceOf(*Tree).Entries().size(); }

    TSiteFixture Site;
    TTempDir Home;
    TTempDir Out;
    std::unique_ptr<TWebCacheTree> Tree;
    TFavorites Favorites;
    TAnsweringPrompts Prompts;
    std::unique_ptr<TfrmMain> Window;
};

// The enabled state of the commands the rules set, as one comparable value.
struct TEnabled {
    bool Find, Delete, Copy, Property;
    bool operator==(const TEnabled&) const = default;
};
std::ostream& operator<<(std::ostream& out, const TEnabled& e) {
    return out << "find " << e.Find << " delete " << e.Delete << " copy " << e.Copy << " property "
               << e.Property;
}
TEnabled EnabledOf(const test::TMainWindowParts& w) {
    return {w.Action("actCacheFind")->isEnabled(), w.Action("actFileDelete")->isEnabled(),
            w.Action("actFileCopy")->isEnabled(), w.Action("actFileShowProperty")->isEnabled()};
}

// The list shows the tree's selected folder, one row per child of its node.
void ExpectViewsInStep(const test::TMainWindowParts& w) {
    EXPECT_EQ(w.List()->CurrentFolder(), w.Tree()->SelectedPath());
    const TWebCacheTreeNode* folder = w.Tree()->SelectedNode();
    const int children = folder != nullptr ? folder->Count() : 0;
    ASSERT_EQ(w.List()->Model()->Count(), children);
    for (int row = 0; row < children; ++row)
        EXPECT_EQ(w.List()->Model()->NodeAt(row)->Parent(), folder) << row;
}

// Enabling rules ------------------------------------------------------------------

TEST(MainCommandsEnabling, FocusOnEachView) {
    const struct {
        const char* name;
        int view; // 0 tree, 1 list, 2 favorites
        int selectedFavorites;
        TEnabled enabled;
    } cases[] = {
        {"tree", 0, 0, {true, true, true, true}},
        {"list without rows selected", 1, 0, {true, false, false, true}},
        {"favorites, none selected", 2, 0, {false, false, false, false}},
        {"favorites, one selected", 2, 1, {true, true, false, false}},
        {"favorites, two selected", 2, 2, {false, true, false, false}},
    };
    const TFocusView views[] = {TFocusView::Tree, TFocusView::List, TFocusView::Favorites};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.AddFavorites(2, c.selectedFavorites);
        f.Select("http://www.a.test/");
        QWidget* widgets[] = {f.W().Tree(), f.W().List()->CurrentView(), f.W().Favorites()};
        f.Focus(widgets[c.view]);
        EXPECT_EQ(f.W().Commands().FocusedView(), views[c.view]);
        EXPECT_EQ(EnabledOf(f.W()), c.enabled);
        // The tool bar's twins follow.
        EXPECT_EQ(f.W().Action("actFileDelete2")->isEnabled(), c.enabled.Delete);
        EXPECT_EQ(f.W().Action("actFileCopy2")->isEnabled(), c.enabled.Copy);
        EXPECT_EQ(f.W().Action("actCacheFind2")->isEnabled(), c.enabled.Find);
    }
}

TEST(MainCommandsEnabling, ListSelectionShapesAndTheirMenus) {
    // The list shows www.a.test: docs, index.html, b.gif.
    const struct {
        const char* name;
        std::vector<std::string> rows;
        TEnabled enabled;
        bool withSelectionMenu;
        bool registerOffered;
    } cases[] = {
        {"none", {}, {true, false, false, true}, false, true},
        {"one folder row", {"docs"}, {true, true, true, true}, true, true},
        {"one page row", {"index.html"}, {false, true, true, true}, true, true},
        {"one picture row", {"b.gif"}, {false, true, true, true}, true, false},
        {"two rows", {"docs", "index.html"}, {false, true, true, true}, true, false},
    };
    Fixture f;
    f.Select("http://www.a.test/");
    f.FocusList();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        f.SelectRows(c.rows);
        EXPECT_EQ(EnabledOf(f.W()), c.enabled);
        QMenu* menu =
            c.withSelectionMenu ? f.W().Menu("mnuPopupList1") : f.W().Menu("mnuPopupList2");
        EXPECT_EQ(f.W().Commands().ListPopupMenu(), menu);
        EXPECT_EQ(f.W().Commands().PrepareListMenu(), menu);
        EXPECT_EQ(f.W().Action("actFavoritesFromCache")->isEnabled(), c.registerOffered);
        if (c.withSelectionMenu) {
            EXPECT_TRUE(f.W().Action("actFileCopyToFolder")->isEnabled());
            EXPECT_TRUE(f.W().Action("actFileCopyToDefaultFolder")->isEnabled());
        }
    }
    // A selection made while the tree has the focus leaves the tree's
    // commands alone.
    f.Focus(f.W().Tree());
    f.SelectRows({"index.html"});
    EXPECT_EQ(EnabledOf(f.W()), (TEnabled{true, true, true, true}));
    EXPECT_EQ(f.W().Commands().ListPopupMenu(), f.W().Menu("mnuPopupList1"));
}

TEST(MainCommandsEnabling, RowsGoneTakeTheirCommandsAlong) {
    // However the selected rows go, the list's rules and its menu follow:
    // a Delete key still enabled would offer the folder the list shows.
    const struct {
        const char* name;
        std::function<void(const test::TMainWindowParts&)> act;
    } cases[] = {
        {"deleted", [](const test::TMainWindowParts& w) { w.Action("actFileDelete")->trigger(); }},
        {"the tree moved up",
         [](const test::TMainWindowParts& w) { w.Action("actTreeUpLevel")->trigger(); }},
        {"refreshed",
         [](const test::TMainWindowParts& w) { w.Action("actCacheRefresh")->trigger(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.Select("http://www.a.test/docs/");
        f.FocusList();
        f.SelectRows({"one.html"});
        ASSERT_EQ(f.W().Commands().ListPopupMenu(), f.W().Menu("mnuPopupList1"));
        c.act(f.W());
        EXPECT_TRUE(f.W().List()->SelectedNodes().empty());
        EXPECT_EQ(f.W().Commands().ListPopupMenu(), f.W().Menu("mnuPopupList2"));
        EXPECT_EQ(f.W().Commands().FocusedView(), TFocusView::List);
        EXPECT_EQ(EnabledOf(f.W()), (TEnabled{true, false, false, true}));
    }
}

TEST(MainCommandsEnabling, ListMenusFollowTheTreeLevel) {
    // Copying rows needs the tree at the scheme level or below; registering
    // with no row selected needs the tree below it.
    const struct {
        const char* name;
        bool scheme;
        const char* folder;
        const char* row;
        bool copyRows;
        bool registerWithoutRows;
    } cases[] = {
        {"root with schemes", true, "", "http:", false, false},
        {"scheme folder", true, "http://", "www.a.test", true, false},
        {"host with schemes", true, "http://www.a.test/", "docs", true, true},
        {"root without schemes", false, "", "www.a.test", true, false},
        {"host without schemes", false, "www.a.test/", "docs", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.scheme);
        f.Select(c.folder);
        f.FocusList();
        f.SelectRows({});
        f.W().Commands().PrepareListMenu();
        EXPECT_EQ(f.W().Action("actFavoritesFromCache")->isEnabled(), c.registerWithoutRows);
        f.SelectRows({c.row});
        ASSERT_EQ(f.W().Commands().PrepareListMenu(), f.W().Menu("mnuPopupList1"));
        EXPECT_EQ(f.W().Action("actFileCopyToFolder")->isEnabled(), c.copyRows);
        EXPECT_EQ(f.W().Action("actFileCopyToDefaultFolder")->isEnabled(), c.copyRows);
        EXPECT_EQ(f.W().Action("actFavoritesFromCache")->isEnabled(), c.copyRows);
    }
}

TEST(MainCommandsEnabling, TreeMenuOnEachLevel) {
    const struct {
        const char* name;
        bool scheme;
        const char* favorite; // the favorite open, or none
        std::function<QTreeWidgetItem*(const test::TMainWindowParts&)> item;
        bool copy;
        bool nodeCommands; // cut, copy, delete, property
    } cases[] = {
        {"root", true, nullptr,
         [](const test::TMainWindowParts& w) { return w.Tree()->RootItem(); }, false, true},
        {"scheme folder", true, nullptr,
         [](const test::TMainWindowParts& w) { return w.Tree()->RootItem()->child(0); }, false,
         true},
        {"host", true, nullptr,
         [](const test::TMainWindowParts& w) {
             return w.Tree()->FindItemByPath("http://www.a.test/");
         },
         true, true},
        {"below a host", true, nullptr,
         [](const test::TMainWindowParts& w) {
             return w.Tree()->FindItemByPath("http://www.a.test/docs/");
         },
         true, true},
        {"root without schemes", false, nullptr,
         [](const test::TMainWindowParts& w) { return w.Tree()->RootItem(); }, false, true},
        {"host without schemes", false, nullptr,
         [](const test::TMainWindowParts& w) { return w.Tree()->FindItemByPath("www.a.test/"); },
         true, true},
        {"below a host without schemes", false, nullptr,
         [](const test::TMainWindowParts& w) {
             return w.Tree()->FindItemByPath("www.a.test/docs/");
         },
         true, true},
        {"favorite's root", true, "http://www.a.test/",
         [](const test::TMainWindowParts& w) { return w.Tree()->RootItem(); }, false, true},
        {"below a favorite's root", true, "http://www.a.test/",
         [](const test::TMainWindowParts& w) { return w.Tree()->RootItem()->child(0); }, true,
         true},
        {"favorite not in the cache", true, "http://gone.test/",
         [](const test::TMainWindowParts& w) { return w.Tree()->RootItem(); }, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.scheme);
        TFavoriteItem site = TFavorites::MakeDefaultItem();
        site.Title = "Site";
        site.UrlName = c.favorite != nullptr ? c.favorite : "";
        if (c.favorite != nullptr)
            f.W().Commands().OpenFavorite(&site);
        QTreeWidgetItem* item = c.item(f.W());
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(f.W().Commands().PrepareTreeMenu(item), f.W().Menu("mnuPopupTree"));
        EXPECT_EQ(f.W().Commands().FocusedView(), TFocusView::Tree);
        EXPECT_EQ(f.W().Tree()->currentItem(), item);
        EXPECT_EQ(f.W().Commands().ContextNode(), f.W().Tree()->NodeOf(item));
        EXPECT_EQ(f.W().Action("actFileCopyToFolder")->isEnabled(), c.copy);
        EXPECT_EQ(f.W().Action("actFileCopyToDefaultFolder")->isEnabled(), c.copy);
        EXPECT_EQ(f.W().Action("actFavoritesFromCache")->isEnabled(), c.copy);
        for (QAction* action : {f.W().Action("actFileCut"), f.W().Action("actFileCopy"),
                                f.W().Action("actFileDelete"), f.W().Action("actFileShowProperty")})
            EXPECT_EQ(action->isEnabled(), c.nodeCommands) << action->objectName().toStdString();
        f.W().Commands().OpenFavorite(nullptr);
    }
}

// A menu's items: action names, "-" for a separator, a sub-menu's title in
// brackets.
std::vector<std::string> MenuItems(const QMenu* menu) {
    std::vector<std::string> items;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            items.push_back("-");
        else if (action->menu() != nullptr)
            items.push_back("[" + action->text().toStdString() + "]");
        else
            items.push_back(action->objectName().toStdString());
    }
    return items;
}

TEST(MainCommandsMenus, ContextMenusInOrder) {
    Fixture f;
    const std::vector<std::string> onNodes = {"actCacheFind",
                                              "actCacheSqueeze",
                                              "-",
                                              "actFavoritesFromCache",
                                              "-",
                                              "actFileCopyToDefaultFolder",
                                              "actFileCopyToFolder",
                                              "actFileSaveArchive",
                                              "-",
                                              "actFileCut",
                                              "actFileCopy",
                                              "-",
                                              "actFileDelete",
                                              "-",
                                              "actFileShowProperty"};
    EXPECT_EQ(MenuItems(f.W().Menu("mnuPopupTree")), onNodes);
    EXPECT_EQ(MenuItems(f.W().Menu("mnuPopupList1")), onNodes);
    EXPECT_EQ(MenuItems(f.W().Menu("mnuPopupList2")),
              (std::vector<std::string>{
                  "actCacheFind", "actCacheSqueeze", "-", "actFavoritesFromCache", "-",
                  "[表示(&V)]", "-", "[アイコンの整列(&I)]", "actListLineUp", "-",
                  "actCacheRefresh", "-", "actFilePaste", "-", "actFileShowProperty"}));
}

TEST(MainCommandsEnabling, TheSchemeSwitchMovesTheCopyLevel) {
    // Turned off in the running window, hosts come to level 1 and may be
    // copied there; turned on again, level 1 holds the scheme folders.
    Fixture f;
    f.W().Action("mnuEnableScheme")->trigger();
    ASSERT_EQ(f.W().Commands().SchemeLevel(), 0);
    f.W().Commands().PrepareTreeMenu(f.Item("www.a.test/"));
    EXPECT_TRUE(f.W().Action("actFileCopyToFolder")->isEnabled());
    f.W().Action("mnuEnableScheme")->trigger();
    ASSERT_EQ(f.W().Commands().SchemeLevel(), 1);
    f.W().Commands().PrepareTreeMenu(f.W().Tree()->RootItem()->child(0));
    EXPECT_FALSE(f.W().Action("actFileCopyToFolder")->isEnabled());
}

// Delete ------------------------------------------------------------------------

TEST(MainCommandsDelete, ConfirmedAndRefused) {
    // The list shows docs: deep, one.html, two.html (or the tree's context
    // node is used when no row is named).
    const struct {
        const char* name;
        const char* contextPath; // tree menu on this item, else the list rows
        std::vector<std::string> rows;
        const char* message;
        std::vector<std::string> gone;
        std::vector<std::string> kept;
        std::size_t entriesLeft;
    } cases[] = {
        {"one folder from the tree",
         "http://www.a.test/docs/deep/",
         {},
         "フォルダ 'deep' とフォルダ内のすべてのファイルを削除してもよろしいですか？",
         {"http://www.a.test/docs/deep/three.html", "http://www.a.test/docs/deep/"},
         {"http://www.a.test/docs/one.html"},
         7},
        {"one file from the list",
         nullptr,
         {"one.html"},
         "'one.html' を削除してもよろしいですか？",
         {"http://www.a.test/docs/one.html"},
         {"http://www.a.test/docs/two.html", "http://www.a.test/docs/deep/"},
         7},
        {"everything of a folder: it goes, its host stays",
         nullptr,
         {"deep", "one.html", "two.html"},
         "これらの 3 個のファイルを削除してもよろしいですか？",
         {"http://www.a.test/docs/", "http://www.a.test/docs/two.html"},
         {"http://www.a.test/", "http://www.a.test/index.html"},
         5},
    };
    for (const bool yes : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (yes ? ", yes" : ", no"));
            Fixture f;
            f.Prompts.DeleteAnswer = yes;
            f.Select("http://www.a.test/docs/");
            if (c.contextPath != nullptr) {
                f.W().Commands().PrepareTreeMenu(f.Item(c.contextPath));
            } else {
                f.FocusList();
                f.SelectRows(c.rows);
            }
            const int rowsBefore = f.W().List()->Model()->Count();
            // The menu's command for the tree, the key in the list.
            if (c.contextPath != nullptr)
                f.W().Action("actFileDelete")->trigger();
            else
                QTest::keyClick(f.W().List()->CurrentView(), Qt::Key_Delete);
            ASSERT_EQ(f.Prompts.DeleteTexts.size(), 1u);
            EXPECT_EQ(f.Prompts.DeleteTexts[0], Utf8(c.message));
            EXPECT_EQ(f.Prompts.DeleteAsked[0].size(), c.rows.empty() ? 1u : c.rows.size());
            for (const std::string& url : c.gone) {
                EXPECT_EQ(f.Tree->FindNodeByUrl(url) == nullptr, yes) << url;
                if (url.back() == '/') {
                    EXPECT_EQ(f.W().Tree()->FindItemByPath(url) == nullptr, yes) << url;
                }
            }
            for (const std::string& url : c.kept)
                EXPECT_NE(f.Tree->FindNodeByUrl(url), nullptr) << url;
            EXPECT_EQ(f.EntryCount(), yes ? c.entriesLeft : 8u);
            if (!yes) {
                EXPECT_EQ(f.W().List()->Model()->Count(), rowsBefore);
            } else if (c.contextPath == nullptr && c.rows.size() == 1) {
                EXPECT_EQ(f.W().List()->Model()->Count(), rowsBefore - 1);
            }
            EXPECT_EQ(f.W().Commands().ContextNode(), nullptr);
            ExpectViewsInStep(f.W());
            // The status texts are counted once the deletion is over.
            if (yes) {
                EXPECT_EQ(f.W().StatusText(0),
                          Utf8("%1 個のオブジェクト").arg(f.W().List()->Model()->Count()));
            }
            EXPECT_FALSE(f.W().ProgressVisible());
            EXPECT_TRUE(f.W().Window().isEnabled());
            EXPECT_TRUE(f.Prompts.Messages.empty());
        }
    }
}

TEST(MainCommandsDelete, EverythingLeavesTheRootAndAnEmptyList) {
    Fixture f;
    f.W().Commands().PrepareTreeMenu(f.W().Tree()->RootItem());
    f.W().Action("actFileDelete")->trigger();
    ASSERT_EQ(f.Prompts.DeleteTexts.size(), 1u);
    EXPECT_EQ(
        f.Prompts.DeleteTexts[0],
        Utf8("フォルダ 'Web Cache' とフォルダ内のすべてのファイルを削除してもよろしいですか？"));
    QTreeWidgetItem* root = f.W().Tree()->RootItem();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->childCount(), 0);
    EXPECT_EQ(f.Tree->Root()->Count(), 0);
    EXPECT_EQ(f.W().List()->Model()->Count(), 0);
    EXPECT_EQ(f.EntryCount(), 0u);
    EXPECT_EQ(f.W().StatusText(0), Utf8("0 個のオブジェクト"));
    EXPECT_FALSE(f.W().ProgressVisible());
    EXPECT_TRUE(f.W().Window().isEnabled());
}

TEST(MainCommandsDelete, WithTheFavoritesFocusedNoCacheEntryGoes) {
    Fixture f;
    f.AddFavorites(1, 1);
    f.Select("http://www.a.test/docs/");
    f.FocusList();
    f.SelectRows({"one.html"});
    f.Focus(f.W().Favorites());
    ASSERT_EQ(f.W().Commands().FocusedView(), TFocusView::Favorites);
    ASSERT_TRUE(f.W().Action("actFileDelete")->isEnabled());
    QTest::keyClick(f.W().Favorites(), Qt::Key_Delete);
    f.W().Action("actFileDelete")->trigger();
    EXPECT_TRUE(f.Prompts.DeleteAsked.empty());
    EXPECT_EQ(f.EntryCount(), 8u);
    EXPECT_NE(f.Tree->FindNodeByUrl("http://www.a.test/docs/one.html"), nullptr);
}

TEST(MainCommandsDelete, TheRootOfAnOpenFavorite) {
    // The favorite's folder is the tree view's root: it goes with its
    // site, the views stay usable and the rest of the cache stays.
    Fixture f;
    TFavoriteItem site = TFavorites::MakeDefaultItem();
    site.Title = "Site";
    site.UrlName = "http://www.a.test/";
    f.W().Commands().OpenFavorite(&site);
    f.W().Commands().PrepareTreeMenu(f.W().Tree()->RootItem());
    f.W().Action("actFileDelete")->trigger();
    ASSERT_EQ(f.Prompts.DeleteAsked.size(), 1u);
    EXPECT_EQ(f.Prompts.DeleteAsked[0], std::vector<std::string>{"http://www.a.test/"});
    EXPECT_EQ(f.Tree->FindFolderByUrl("http://www.a.test/"), nullptr);
    EXPECT_EQ(f.EntryCount(), 3u);
    ASSERT_NE(f.W().Tree()->RootItem(), nullptr);
    EXPECT_EQ(f.W().Tree()->RootItem()->childCount(), 0);
    EXPECT_EQ(f.W().List()->Model()->Count(), 0);
    EXPECT_TRUE(f.W().Window().isEnabled());
    // Back to the whole cache, the other hosts are there.
    f.W().Commands().OpenFavorite(nullptr);
    f.Select("http://");
    ExpectViewsInStep(f.W());
    EXPECT_EQ(f.W().List()->Model()->Count(), 1); // www.b.test
}

TEST(MainCommandsDelete, AnEntryTheCacheRefusesStopsTheDeletionAndIsReported) {
    Fixture f;
    testing::SourceOf(*f.Tree).FailDeletion("http://www.a.test/docs/two.html", EACCES);
    f.Select("http://www.a.test/docs/");
    f.FocusList();
    f.SelectRows({"deep", "one.html", "two.html"});
    f.W().Action("actFileDelete")->trigger();
    // The ones before it go; it stays in the tree as in the cache.
    EXPECT_EQ(f.Tree->FindNodeByUrl("http://www.a.test/docs/one.html"), nullptr);
    EXPECT_NE(f.Tree->FindNodeByUrl("http://www.a.test/docs/two.html"), nullptr);
    EXPECT_EQ(f.EntryCount(), 6u);
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_TRUE(f.Prompts.Messages[0].startsWith(Utf8("削除|")));
    EXPECT_TRUE(f.Prompts.Messages[0].contains(Utf8("アクセスが拒否されました")));
    ExpectViewsInStep(f.W());
    EXPECT_TRUE(f.W().Window().isEnabled());
    EXPECT_FALSE(f.W().ProgressVisible());
}

// Copy to a folder --------------------------------------------------------------

const std::vector<std::string> kDocsCopy = {"http$3a/www.a.test/docs/deep/three.html",
                                            "http$3a/www.a.test/docs/one.html",
                                            "http$3a/www.a.test/docs/two.html"};

TEST(MainCommandsCopyToFolder, FromTheTreeAndFromListRows) {
    // The default favorite's folder method lays the copies out: by their
    // whole URLs, or below the folder the copy starts from.
    const struct {
        const char* name;
        std::vector<std::string> rows;     // none: the tree's menu on docs
        std::optional<std::string> folder; // below the output; none: cancelled
        std::vector<std::string> files;    // below the output
        std::uint8_t method = fdWholeUrl;
    } cases[] = {
        {"tree context node", {}, "", kDocsCopy},
        {"list rows",
         {"deep", "two.html"},
         "",
         {"http$3a/www.a.test/docs/deep/three.html", "http$3a/www.a.test/docs/two.html"}},
        {"a folder not there yet",
         {},
         "new/sub",
         {"new/sub/http$3a/www.a.test/docs/deep/three.html",
          "new/sub/http$3a/www.a.test/docs/one.html", "new/sub/http$3a/www.a.test/docs/two.html"}},
        {"the dialog cancelled", {}, std::nullopt, {}},
        {"below the folder: the tree's folder itself",
         {},
         "",
         {"docs/deep/three.html", "docs/one.html", "docs/two.html"},
         fdBelowUrl},
        {"below the folder: the list's rows directly",
         {"deep", "two.html"},
         "",
         {"deep/three.html", "two.html"},
         fdBelowUrl},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        if (c.folder)
            f.Prompts.CopyFolder = f.Out.Path() / *c.folder;
        f.Favorites.DefaultItem().Folder = c.method;
        f.Select("http://www.a.test/docs/");
        if (c.rows.empty()) {
            f.W().Commands().PrepareTreeMenu(f.Item("http://www.a.test/docs/"));
        } else {
            f.FocusList();
            f.SelectRows(c.rows);
        }
        f.W().Action("actFileCopyToFolder")->trigger();
        EXPECT_EQ(f.Prompts.CopyFolderAsked, 1);
        EXPECT_EQ(FilesBelow(f.Out.Path()), c.files);
        EXPECT_TRUE(f.Prompts.Messages.empty());
        EXPECT_FALSE(f.W().ProgressVisible());
        EXPECT_TRUE(f.W().Window().isEnabled());
    }
}

TEST(MainCommandsSaveArchive, TheTreesFolderAndTheListsRowsBecomeOneArchive) {
    const struct {
        const char* name;
        std::vector<std::string> rows;   // none: the tree's menu on docs
        std::optional<std::string> file; // none: the dialog cancelled
        const char* magic;               // how the file starts
    } cases[] = {
        {"tree folder as WACZ", {}, "docs.wacz", "PK"},
        {"list rows as WARC", {"deep", "two.html"}, "rows.warc.gz", "\x1f\x8b"},
        {"cancelled", {}, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        if (c.file)
            f.Prompts.ArchiveFile = f.Out.Path() / *c.file;
        f.Select("http://www.a.test/docs/");
        if (c.rows.empty()) {
            f.W().Commands().PrepareTreeMenu(f.Item("http://www.a.test/docs/"));
        } else {
            f.FocusList();
            f.SelectRows(c.rows);
        }
        ASSERT_TRUE(f.W().Action("actFileSaveArchive")->isEnabled());
        f.W().Action("actFileSaveArchive")->trigger();
        EXPECT_EQ(f.Prompts.ArchiveSuggested.size(), 1u);
        EXPECT_TRUE(f.Prompts.Messages.empty()) << f.Prompts.Messages.front().toStdString();
        EXPECT_FALSE(f.W().ProgressVisible());
        EXPECT_TRUE(f.W().Window().isEnabled());
        if (!c.file) {
            EXPECT_TRUE(FilesBelow(f.Out.Path()).empty());
            continue;
        }
        // Written whole under the name chosen, nothing else beside it.
        EXPECT_EQ(FilesBelow(f.Out.Path()), std::vector<std::string>{*c.file});
        const std::string bytes = ReadFileBytes(f.Out.Path() / *c.file);
        EXPECT_EQ(bytes.substr(0, std::string(c.magic).size()), c.magic);
        if (std::string(c.magic) == "PK") {
            // The package's index (stored as it is) names the deepest page.
            EXPECT_NE(bytes.find("three.html"), std::string::npos);
        }
    }
}

TEST(MainCommandsCopyToFolder, EachOverwriteAnswer) {
    // The second copy of docs finds its three files there, marked "old";
    // one.html there is older than its cache entry, the other two newer.
    const struct {
        const char* name;
        std::vector<TOverwriteAnswer> answers;
        std::size_t asked;
        // Which were rewritten: by the position of their question, or by name.
        std::set<std::size_t> rewrittenAsked;
        std::set<std::string> rewrittenNames;
    } cases[] = {
        {"yes to each",
         {TOverwriteAnswer::Yes, TOverwriteAnswer::Yes, TOverwriteAnswer::Yes},
         3,
         {0, 1, 2},
         {}},
        {"no to each",
         {TOverwriteAnswer::No, TOverwriteAnswer::No, TOverwriteAnswer::No},
         3,
         {},
         {}},
        {"yes, then no to all", {TOverwriteAnswer::Yes, TOverwriteAnswer::NoToAll}, 2, {0}, {}},
        {"yes to all", {TOverwriteAnswer::YesToAll}, 1, {}, {"one.html", "two.html", "three.html"}},
        {"no to all", {TOverwriteAnswer::NoToAll}, 1, {}, {}},
        {"newer", {TOverwriteAnswer::Newer}, 1, {}, {"one.html"}},
        {"cancel", {TOverwriteAnswer::Cancel}, 1, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.Prompts.CopyFolder = f.Out.Path();
        f.W().Commands().PrepareTreeMenu(f.Item("http://www.a.test/docs/"));
        f.W().Action("actFileCopyToFolder")->trigger();
        ASSERT_EQ(FilesBelow(f.Out.Path()), kDocsCopy);
        for (const std::string& file : kDocsCopy) {
            const fs::path path = f.Out.Path() / file;
            WriteFileBytes(path, "old");
            FILETIME time;
            const int day = path.filename() == "one.html" ? 1 : 20;
            ASSERT_TRUE(SystemTimeToFileTime(MakeSystemTime(2026, 11, day, 12), time));
            ASSERT_TRUE(SetFileTimeUtc(path, time));
        }
        f.Prompts.OverwriteAnswers = c.answers;
        f.W().Action("actFileCopyToFolder")->trigger();
        ASSERT_EQ(f.Prompts.Overwrites.size(), c.asked);
        std::set<fs::path> expected;
        for (std::size_t i : c.rewrittenAsked)
            expected.insert(f.Prompts.Overwrites.at(i));
        for (const std::string& file : kDocsCopy) {
            const fs::path path = f.Out.Path() / file;
            if (c.rewrittenNames.count(path.filename().string()))
                expected.insert(path);
            EXPECT_EQ(ReadFileBytes(path) != "old", expected.count(path) == 1) << file;
        }
        EXPECT_TRUE(f.Prompts.Messages.empty());
        EXPECT_TRUE(f.W().Window().isEnabled());
    }
}

TEST(MainCommandsCopyToFolder, TheOutcomeStaysInTheStatusBar) {
    // A page that links to an image the cache lacks: the summary counts
    // the files written and the link missing.
    Fixture f;
    testing::SourceOf(*f.Tree).Add(testing::MakeRawEntry(
        {"http://www.a.test/docs/links.html", "text/html", 5, 50, f.Site.Root() / "links"}));
    WriteFileBytes(f.Site.Root() / "links", "<img src=\"gone.gif\"><a href=\"one.html\">");
    f.W().Action("actCacheRefresh")->trigger();
    f.Prompts.CopyFolder = f.Out.Path();
    f.Select("http://www.a.test/docs/");
    f.FocusList();
    f.SelectRows({"links.html", "one.html"});
    f.W().Action("actFileCopyToFolder")->trigger();
    EXPECT_EQ(f.W().Commands().CopySummary(),
              Utf8("コピー: 2 個のファイルを書き込み。キャッシュにないリンク 1 個 (1 ページ)"));
    EXPECT_EQ(f.W().Window().statusBar()->currentMessage(), f.W().Commands().CopySummary());

    // Again: both files are there and kept.
    f.Prompts.OverwriteAnswers = {TOverwriteAnswer::NoToAll};
    f.W().Action("actFileCopyToFolder")->trigger();
    EXPECT_TRUE(f.W().Commands().CopySummary().startsWith(
        Utf8("コピー: 0 個のファイルを書き込み、2 個はそのまま")));
}

TEST(MainCommandsCopyToFolder, ARelativeFolderIsRefused) {
    Fixture f;
    const fs::path relative = "tarnhold-relative-copy";
    f.Prompts.CopyFolder = relative;
    f.W().Commands().PrepareTreeMenu(f.Item("http://www.a.test/docs/"));
    f.W().Action("actFileCopyToFolder")->trigger();
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_TRUE(f.Prompts.Messages[0].startsWith(Utf8("フォルダを指定してコピー|")));
    EXPECT_TRUE(f.Prompts.Messages[0].endsWith(QStringLiteral("tarnhold-relative-copy")));
    EXPECT_FALSE(fs::exists(relative));
}

TEST(MainCommandsCopyToFolder, TheDefaultFolderIsTheDefaultFavoritesFolder) {
    {
        Fixture f;
        f.Favorites.DefaultItem().PathName = f.Out.Path().string() + "/";
        f.W().Commands().PrepareTreeMenu(f.Item("http://www.a.test/docs/"));
        f.W().Action("actFileCopyToDefaultFolder")->trigger();
        EXPECT_EQ(f.Prompts.CopyFolderAsked, 0);
        EXPECT_EQ(FilesBelow(f.Out.Path()), kDocsCopy);
    }
    {
        SCOPED_TRACE("no default folder");
        Fixture f;
        f.Favorites.DefaultItem().PathName.clear();
        f.W().Commands().PrepareTreeMenu(f.Item("http://www.a.test/docs/"));
        f.W().Action("actFileCopyToDefaultFolder")->trigger();
        EXPECT_EQ(f.Prompts.Messages.size(), 1u);
    }
}

// Properties --------------------------------------------------------------------

TEST(MainCommandsProperty, OneWindowPerCommandWithTheSelection) {
    // A folder's size is the total of the files below it.
    const struct {
        const char* name;
        const char* contextPath; // tree menu on this item, else the list rows
        std::vector<std::string> rows;
        const char* nameText;
        const char* typeText; // null: not checked
        const char* size;     // the end of the size text
    } cases[] = {
        {"one file", nullptr, {"index.html"}, "index.html", nullptr, "(12 バイト)"},
        {"one folder", "http://www.a.test/docs/", {}, "docs", nullptr, "(32 バイト)"},
        {"the root", "", {}, "Web Cache", nullptr, "(77 バイト)"},
        {"mixed rows",
         nullptr,
         {"docs", "index.html", "b.gif"},
         "ファイル数: 2、フォルダ数: 1",
         "複数の種類",
         "(50 バイト)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.Select("http://www.a.test/");
        if (c.contextPath != nullptr) {
            f.W().Commands().PrepareTreeMenu(f.Item(c.contextPath));
        } else {
            f.FocusList();
            f.SelectRows(c.rows);
        }
        f.W().Action("actFileShowProperty")->trigger();
        const QList<TfrmProperty*> windows = f.W().Window().findChildren<TfrmProperty*>();
        ASSERT_EQ(windows.size(), 1);
        TfrmProperty& property = *windows.front();
        EXPECT_TRUE(property.isVisible());
        EXPECT_FALSE(property.isModal());
        EXPECT_EQ(property.NodeCount(), c.rows.empty() ? 1u : c.rows.size());
        EXPECT_EQ(property.NameText(), Utf8(c.nameText));
        if (c.typeText != nullptr) {
            EXPECT_EQ(property.TypeText(), Utf8(c.typeText));
        }
        EXPECT_TRUE(property.SizeText().endsWith(Utf8(c.size)))
            << property.SizeText().toStdString();
    }
}

TEST(MainCommandsProperty, NothingWithTheFavoritesFocused) {
    Fixture f;
    f.AddFavorites(1, 1);
    f.Focus(f.W().Favorites());
    f.W().Action("actFileShowProperty")->trigger();
    EXPECT_TRUE(f.W().Window().findChildren<TfrmProperty*>().isEmpty());
}

// Clipboard ---------------------------------------------------------------------

TEST(MainCommandsClipboard, RowsAreCopiedToAFreshTemporaryFolder) {
    Fixture f;
    f.Select("http://www.a.test/docs/");
    f.FocusList();
    f.SelectRows({"deep", "one.html"});
    QTest::keySequence(f.W().List()->CurrentView(), QKeySequence(Qt::CTRL | Qt::Key_C));
    const fs::path first = f.W().Commands().TempFolder();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(FilesBelow(first), (std::vector<std::string>{"deep/three.html", "one.html"}));
    const std::vector<fs::path> files = {first / "deep", first / "one.html"};
    EXPECT_EQ(f.W().Commands().ClipboardFiles(), files);
    const QMimeData* data = QApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), (QList<QUrl>{ToFileUrl(files[0]), ToFileUrl(files[1])}));

    // The next copy replaces the folder.
    f.SelectRows({"two.html"});
    f.W().Action("actFileCopy")->trigger();
    const fs::path second = f.W().Commands().TempFolder();
    ASSERT_FALSE(second.empty());
    EXPECT_NE(second, first);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(FilesBelow(second), std::vector<std::string>{"two.html"});
    EXPECT_EQ(f.W().Commands().ClipboardFiles(), std::vector<fs::path>{second / "two.html"});

    // With the favorites focused nothing changes.
    f.AddFavorites(1, 1);
    f.Focus(f.W().Favorites());
    f.W().Action("actFileCopy")->trigger();
    EXPECT_EQ(f.W().Commands().TempFolder(), second);
    EXPECT_TRUE(fs::exists(second / "two.html"));
}

TEST(MainCommandsClipboard, EachViewOfTheTree) {
    // What lands in the temporary folder and what goes on the clipboard:
    // every node below its own name there.
    const struct {
        const char* name;
        bool scheme;
        const char* favorite;
        const char* folder;            // selected in the tree
        std::vector<std::string> rows; // selected in the list; none: the tree focused
        std::vector<std::string> files;
        std::vector<std::string> clipboard;
    } cases[] = {
        {"a folder of the tree",
         true,
         nullptr,
         "http://www.a.test/docs/",
         {},
         {"docs/deep/three.html", "docs/one.html", "docs/two.html"},
         {"docs"}},
        {"rows without schemes",
         false,
         nullptr,
         "www.a.test/docs/",
         {"one.html", "two.html"},
         {"one.html", "two.html"},
         {"one.html", "two.html"}},
        {"rows of a favorite",
         true,
         "http://www.a.test/",
         "http://www.a.test/docs/",
         {"deep"},
         {"deep/three.html"},
         {"deep"}},
        {"the favorite's root",
         true,
         "http://www.a.test/",
         "http://www.a.test/",
         {},
         {"www.a.test/b.gif", "www.a.test/docs/deep/three.html", "www.a.test/docs/one.html",
          "www.a.test/docs/two.html", "www.a.test/index.html"},
         {"www.a.test"}},
        {"the whole cache",
         true,
         nullptr,
         "",
         {},
         {"http$3a/www.a.test/b.gif", "http$3a/www.a.test/docs/deep/three.html",
          "http$3a/www.a.test/docs/one.html", "http$3a/www.a.test/docs/two.html",
          "http$3a/www.a.test/index.html", "http$3a/www.b.test/page.html",
          "http$3a/www.b.test/x.html", "https$3a/secure.c.test/y.html"},
         {"http$3a", "https$3a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f(c.scheme);
        TFavoriteItem site = TFavorites::MakeDefaultItem();
        site.Title = "Site";
        site.UrlName = c.favorite != nullptr ? c.favorite : "";
        if (c.favorite != nullptr)
            f.W().Commands().OpenFavorite(&site);
        f.Select(c.folder);
        QWidget* view = f.W().Tree();
        if (!c.rows.empty()) {
            view = f.W().List()->CurrentView();
            f.SelectRows(c.rows);
        }
        f.Focus(view);
        QTest::keySequence(view, QKeySequence(Qt::CTRL | Qt::Key_C));
        const fs::path temp = f.W().Commands().TempFolder();
        ASSERT_FALSE(temp.empty());
        EXPECT_EQ(FilesBelow(temp), c.files);
        std::vector<fs::path> clipboard;
        for (const std::string& name : c.clipboard)
            clipboard.push_back(temp / name);
        EXPECT_EQ(f.W().Commands().ClipboardFiles(), clipboard);
        EXPECT_TRUE(f.Prompts.Messages.empty());
        f.W().Commands().OpenFavorite(nullptr);
    }
}

TEST(MainCommandsClipboard, AFailedCopyLeavesTheClipboardAndTheFolderGoesWithTheWindow) {
    Fixture f;
    f.AddEntryWithoutFile("http://www.a.test/docs/gone.gif");
    f.Select("http://www.a.test/docs/");
    f.FocusList();
    QApplication::clipboard()->setText(QStringLiteral("before"));
    f.SelectRows({"gone.gif"});
    f.W().Action("actFileCopy")->trigger();
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_TRUE(f.Prompts.Messages[0].startsWith(Utf8("ファイルのコピー|")));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("before"));
    EXPECT_TRUE(f.W().Commands().ClipboardFiles().empty());
    EXPECT_TRUE(f.W().Commands().TempFolder().empty());
    EXPECT_FALSE(f.W().ProgressVisible());
    EXPECT_TRUE(f.W().Window().isEnabled());

    f.SelectRows({"one.html"});
    f.W().Action("actFileCopy")->trigger();
    const fs::path temp = f.W().Commands().TempFolder();
    ASSERT_TRUE(fs::exists(temp / "one.html"));
    const std::vector<fs::path> copied = f.W().Commands().ClipboardFiles();
    const QList<QUrl> urls = QApplication::clipboard()->mimeData()->urls();
    ASSERT_EQ(urls.size(), 1);

    // A failure after a copy: what the clipboard names stays on disk.
    f.SelectRows({"gone.gif"});
    f.W().Action("actFileCopy")->trigger();
    EXPECT_EQ(f.Prompts.Messages.size(), 2u);
    EXPECT_EQ(f.W().Commands().TempFolder(), temp);
    EXPECT_EQ(f.W().Commands().ClipboardFiles(), copied);
    EXPECT_EQ(QApplication::clipboard()->mimeData()->urls(), urls);
    EXPECT_TRUE(fs::exists(temp / "one.html"));
    f.Window.reset();
    EXPECT_FALSE(fs::exists(temp));
}

// Drags --------------------------------------------------------------------------

// Presses button on view at from, moves to to with it held and lets go.
void DragOver(QAbstractItemView* view, QPoint from, QPoint to,
              Qt::MouseButton button = Qt::LeftButton) {
    QWidget* port = view->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, from, port->mapToGlobal(from), button, button,
                      Qt::NoModifier);
    QApplication::sendEvent(port, &press);
    QMouseEvent move(QEvent::MouseMove, to, port->mapToGlobal(to), Qt::NoButton, button,
                     Qt::NoModifier);
    QApplication::sendEvent(port, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, port->mapToGlobal(to), button, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(port, &release);
}

QPoint RowPoint(QAbstractItemView* view, const std::string& name, TCacheListModel* model) {
    for (int row = 0; row < model->Count(); ++row)
        if (model->NodeAt(row)->DisplayName() == name)
            return view->visualRect(model->index(row, 0)).center();
    ADD_FAILURE() << name;
    return {};
}

TEST(MainCommandsDrag, TheCopyIsMadeWhenTheTargetAsksAndOnlyOnce) {
    Fixture f;
    f.Select("http://www.a.test/docs/");
    f.FocusList();
    f.SelectRows({"deep", "one.html"});
    QAbstractItemView* view = f.W().List()->CurrentView();
    const QPoint from = RowPoint(view, "one.html", f.W().List()->Model());

    // A drag that ends without a drop copies nothing.
    int drags = 0;
    f.W().Commands().DragHook = [&](QMimeData* data) {
        ++drags;
        EXPECT_TRUE(f.W().Commands().Dragging());
        EXPECT_TRUE(data->hasUrls());
        EXPECT_TRUE(data->formats().contains(QStringLiteral("x-special/gnome-copied-files")));
    };
    // Less than the drag distance is a click.
    DragOver(view, from, from + QPoint(TDragStarter::Distance() - 1, 0));
    EXPECT_EQ(drags, 0);
    f.SelectRows({"deep", "one.html"});
    DragOver(view, from, from + QPoint(0, TDragStarter::Distance()));
    EXPECT_EQ(drags, 1);
    EXPECT_FALSE(f.W().Commands().Dragging());
    EXPECT_TRUE(f.W().Commands().TempFolder().empty());

    // The drop target asks (twice, in two forms): one copy, the paths the
    // copy wrote, the same ones a clipboard copy gives.
    QList<QUrl> urls;
    fs::path temp;
    f.W().Commands().DragHook = [&](QMimeData* data) {
        urls = data->urls();
        temp = f.W().Commands().TempFolder();
        EXPECT_FALSE(data->data(QStringLiteral("x-special/gnome-copied-files")).isEmpty());
        EXPECT_EQ(f.W().Commands().TempFolder(), temp);
    };
    f.SelectRows({"deep", "one.html"});
    DragOver(view, from, from + QPoint(20, 20), Qt::RightButton);
    ASSERT_FALSE(temp.empty());
    EXPECT_EQ(urls, (QList<QUrl>{ToFileUrl(temp / "deep"), ToFileUrl(temp / "one.html")}));
    EXPECT_EQ(FilesBelow(temp), (std::vector<std::string>{"deep/three.html", "one.html"}));
    EXPECT_TRUE(f.Prompts.Messages.empty());

    // The next drag's folder replaces it once it is made.
    const fs::path first = temp;
    f.SelectRows({"two.html"});
    DragOver(view, RowPoint(view, "two.html", f.W().List()->Model()), from + QPoint(30, 30));
    EXPECT_NE(temp, first);
    EXPECT_FALSE(fs::exists(first));
    EXPECT_EQ(urls, QList<QUrl>{ToFileUrl(temp / "two.html")});
}

TEST(MainCommandsDrag, ATreeDragStartsOnlyOnTheSelectedItem) {
    Fixture f;
    f.Select("http://www.a.test/docs/");
    f.Focus(f.W().Tree());
    QList<QUrl> urls;
    int drags = 0;
    f.W().Commands().DragHook = [&](QMimeData* data) {
        ++drags;
        urls = data->urls();
    };
    QTreeWidget* tree = f.W().Tree();
    const QPoint other = tree->visualItemRect(f.Item("http://www.b.test/")).center();
    DragOver(tree, other, other + QPoint(0, 20));
    EXPECT_EQ(drags, 0);
    f.Select("http://www.a.test/docs/");
    const QPoint selected = tree->visualItemRect(f.Item("http://www.a.test/docs/")).center();
    DragOver(tree, selected, selected + QPoint(20, 0));
    EXPECT_EQ(drags, 1);
    const fs::path temp = f.W().Commands().TempFolder();
    EXPECT_EQ(urls, QList<QUrl>{ToFileUrl(temp / "docs")});
    EXPECT_EQ(FilesBelow(temp),
              (std::vector<std::string>{"docs/deep/three.html", "docs/one.html", "docs/two.html"}));
}

TEST(MainCommandsDrag, AFailedCopyGivesTheTargetNothing) {
    Fixture f;
    f.AddEntryWithoutFile("http://www.a.test/docs/gone.gif");
    f.Select("http://www.a.test/docs/");
    f.FocusList();
    f.SelectRows({"gone.gif"});
    QAbstractItemView* view = f.W().List()->CurrentView();
    bool asked = false;
    f.W().Commands().DragHook = [&](QMimeData* data) {
        asked = true;
        EXPECT_TRUE(data->urls().isEmpty());
        EXPECT_TRUE(data->data(QStringLiteral("text/uri-list")).isEmpty());
    };
    const QPoint from = RowPoint(view, "gone.gif", f.W().List()->Model());
    DragOver(view, from, from + QPoint(20, 20));
    EXPECT_TRUE(asked);
    // Said once, not once per request.
    EXPECT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_TRUE(f.W().Commands().TempFolder().empty());
}

TEST(MainCommandsDrag, TenThousandFilesAreCopiedWhileTheWindowKeepsUp) {
    constexpr int kFiles = 10000;
    Fixture f(true, [](TSiteFixture& site) {
        for (int i = 0; i < kFiles; ++i)
            site.Add("http://www.big.test/f/" + std::to_string(i) + ".txt", "x", "text/plain", 5);
    });
    f.Select("http://www.big.test/f/");
    f.Focus(f.W().Tree());
    QList<QUrl> urls;
    int turns = 0; // turns of the event loop while the copy ran
    f.W().Commands().DragHook = [&](QMimeData* data) {
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { ++turns; });
        tick.start(0);
        urls = data->urls();
    };
    QTreeWidget* tree = f.W().Tree();
    const QPoint at = tree->visualItemRect(f.Item("http://www.big.test/f/")).center();
    DragOver(tree, at, at + QPoint(20, 20));
    const fs::path temp = f.W().Commands().TempFolder();
    ASSERT_EQ(urls, QList<QUrl>{ToFileUrl(temp / "f")});
    EXPECT_EQ(FilesBelow(temp).size(), static_cast<std::size_t>(kFiles));
    // The progress frame lets events through every few files.
    EXPECT_GT(turns, kFiles / 100);
    EXPECT_TRUE(f.Prompts.Messages.empty());
}

TEST(MainCommandsDrag, NothingIsDroppedOntoTheViewsInAnyStyle) {
    Fixture f;
    f.Select("http://www.a.test/docs/");
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/etc/hostname"))});
    for (const char* style : {"actListLargeIcon", "actListSmallIcon", "actListListIcon",
                              "actListDetailIcon", "actListLargeIcon"}) {
        SCOPED_TRACE(style);
        f.W().Action(style)->trigger();
        if (std::string_view(style) == "actListLargeIcon")
            f.W().Action("actListArrangeIconAuto")->trigger(); // icons that snap, then not
        std::vector<QAbstractItemView*> views = {f.W().Tree(), f.W().List()->DetailsView(),
                                                 f.W().List()->IconView()};
        for (QAbstractItemView* view : views) {
            EXPECT_FALSE(view->viewport()->acceptDrops());
            EXPECT_FALSE(view->acceptDrops());
            EXPECT_FALSE(view->dragEnabled());
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &files,
                                  Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(view->viewport(), &enter);
            EXPECT_FALSE(enter.isAccepted());
        }
    }
}

TEST(MainCommandsClipboard, NamesThatNeedEscapingOrNumbering) {
    // Each selected row's copy is put on the clipboard under the name the
    // copy gave it, whatever its URL held.
    Fixture f;
    TTempDir files;
    std::string longName; // 86 Japanese characters: too long for a name on disk in UTF-8
    for (int i = 0; i < 86; ++i)
        longName += "\x82\xa0";
    const std::string urls[] = {
        "http://www.a.test/odd/we:ird.gif",    "http://www.a.test/odd/q.cgi?x=1",
        "http://www.a.test/odd/sp%20ace.gif",  "http://www.a.test/odd/back\\s.gif",
        "http://www.a.test/odd/UP.GIF",        "http://www.a.test/odd/up.gif",
        "http://www.a.test/odd/sub:dir/x.gif", "http://www.a.test/odd/" + longName + ".gif",
        "http://www.a.test/odd/esc\x1b.gif"};
    for (const std::string& url : urls) {
        const fs::path file = files.Path() / std::to_string(f.EntryCount());
        WriteFileBytes(file, "GIF89a");
        testing::SourceOf(*f.Tree).Add(testing::MakeRawEntry({url, "image/gif", 3, 6, file}));
    }
    f.W().Action("actCacheRefresh")->trigger();
    f.Select("http://www.a.test/odd/");
    f.FocusList();
    f.W().Action("actListSelectAll")->trigger();
    const std::size_t rows = f.W().List()->SelectedNodes().size();
    ASSERT_EQ(rows, 9u);
    f.W().Action("actFileCopy")->trigger();
    EXPECT_TRUE(f.Prompts.Messages.empty());
    ASSERT_EQ(f.W().Commands().ClipboardFiles().size(), rows);
    for (const fs::path& path : f.W().Commands().ClipboardFiles())
        EXPECT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(QApplication::clipboard()->mimeData()->urls().size(), static_cast<int>(rows));
}

// Opening a cached file ----------------------------------------------------------

TEST(MainCommandsOpen, ABrowsersEntryOpensAsItsDecodedBodyUnderItsLocalName) {
    Fixture f;
    // A browser's entry file: a header, the body gzipped, a trailer.
    const std::string page = "<p>from a browser's cache</p>";
    const std::string gz = tarnhold::test::EncodeBody("gzip", page);
    const fs::path entryFile = f.Out.Path() / "0123abcd_0";
    WriteFileBytes(entryFile, "HEAD" + gz + "TAIL");
    TRawCacheEntry raw = testing::MakeRawEntry(
        {"http://www.a.test/docs/news.php?id=1", "text/html", 3, gz.size(), entryFile});
    raw.BodyOffset = 4;
    raw.BodyLength = static_cast<std::int64_t>(gz.size());
    raw.ContentEncoding = "gzip";
    testing::SourceOf(*f.Tree).Add(raw);
    f.W().Action("actCacheRefresh")->trigger();
    f.Select("http://www.a.test/docs/");
    f.FocusList();

    std::string name; // news~<crc>.html
    const TWebCacheTreeNode* docs = f.Tree->FindFolderByUrl("http://www.a.test/docs/");
    for (int i = 0; i < docs->Count(); ++i)
        if (docs->Items(i)->Info().Url == "http://www.a.test/docs/news.php?id=1")
            name = docs->Items(i)->DisplayName();
    ASSERT_EQ(name.substr(0, 5), "news~");
    for (int twice = 0; twice < 2; ++twice) {
        f.SelectRows({name});
        f.W().Commands().lvwCacheDblClick();
    }
    ASSERT_EQ(f.Prompts.Opened.size(), 2u);
    EXPECT_TRUE(f.Prompts.Messages.empty());
    for (const fs::path& opened : f.Prompts.Opened) {
        EXPECT_EQ(opened.filename().string(), name);
        EXPECT_EQ(ReadFileBytes(opened), page) << "the body, decoded, not the entry file";
    }
    EXPECT_NE(f.Prompts.Opened[0], f.Prompts.Opened[1]) << "each opening has its own file";

    // A whole cached file opens as it is.
    f.SelectRows({"one.html"});
    f.W().Commands().lvwCacheDblClick();
    ASSERT_EQ(f.Prompts.Opened.size(), 3u);
    EXPECT_EQ(
        f.Prompts.Opened[2],
        fs::path(f.Tree->FindNodeByUrl("http://www.a.test/docs/one.html")->Info().LocalFileName));

    // The written bodies go with the window.
    const fs::path written = f.Prompts.Opened[0];
    f.Window.reset();
    EXPECT_FALSE(fs::exists(written));
}

// Default extensions -------------------------------------------------------------

TEST(MainCommandsDefaultExtensions, AChangeNamesNewEntriesAfterTheRefresh) {
    // "page" was named by the default extension of text/html when the tree
    // was first built and keeps that name (the rename list remembers it);
    // "later" comes into the cache afterwards and is named by the new one.
    const struct {
        const char* name;
        bool changed;
        std::vector<std::string> names;
    } cases[] = {
        {"changed", true, {"later.htm", "page.html", "x.html"}},
        {"unchanged: no refresh", false, {"page.html", "x.html"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        auto names = [&f] {
            return testing::ChildNames(f.Tree->FindFolderByUrl("http://www.b.test/"));
        };
        ASSERT_EQ(names(), (std::vector<std::string>{"page.html", "x.html"}));
        testing::SourceOf(*f.Tree).Add(testing::MakeRawEntry({"http://www.b.test/later"}));
        f.Prompts.ExtensionsAnswer = c.changed;
        f.Prompts.EditTable = [](TContentType& table) {
            table.Items(table.IndexOf("text/html")).SetDefaultExtension(".htm");
        };
        f.Select("http://www.b.test/");
        f.W().Action("mnuDefExtName")->trigger();
        EXPECT_EQ(f.Prompts.ExtensionsAsked, 1);
        EXPECT_EQ(names(), c.names);
        EXPECT_EQ(fs::exists(f.Home.Path() / "contentType.dat"), c.changed);
        EXPECT_EQ(f.W().List()->Model()->Count(), static_cast<int>(c.names.size()));
        EXPECT_TRUE(f.Prompts.Messages.empty());
    }
}

TEST(MainCommandsDefaultExtensions, ATableThatCannotBeSavedIsReportedAndStillApplied) {
    Fixture f;
    // A file where the folder of the table should be.
    WriteFileBytes(f.Home.Path() / "file", "");
    f.Tree->SetContentTypeFile(f.Home.Path() / "file" / "contentType.dat");
    testing::SourceOf(*f.Tree).Add(testing::MakeRawEntry({"http://www.b.test/later"}));
    f.Prompts.EditTable = [](TContentType& table) {
        table.Items(table.IndexOf("text/html")).SetDefaultExtension(".htm");
    };
    f.W().Action("mnuDefExtName")->trigger();
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_TRUE(f.Prompts.Messages[0].contains(Utf8("既定の拡張子を保存できませんでした。")));
    EXPECT_NE(f.Tree->FindNodeByUrl("http://www.b.test/later.htm"), nullptr);
}

// Up ----------------------------------------------------------------------------

TEST(MainCommandsUp, SelectsTheParentAndStopsAtTheRoot) {
    Fixture f;
    f.Select("http://www.a.test/docs/deep/");
    const char* expected[] = {"http://www.a.test/docs/", "http://www.a.test/", "http://", "", ""};
    for (const char* path : expected) {
        f.W().Action("actTreeUpLevel")->trigger();
        EXPECT_EQ(f.W().Tree()->SelectedPath(), path);
        EXPECT_EQ(f.W().List()->CurrentFolder(), path);
    }
}

TEST(MainCommandsUp, AListStillToFollowTheTreeFollowsAfterACopy) {
    // A key held in the tree leaves the list to follow after a pause; a
    // copy run in that pause must not leave it behind for good.
    const struct {
        const char* name;
        std::function<void(const test::TMainWindowParts&)> act;
    } cases[] = {
        {"clipboard", [](const test::TMainWindowParts& w) { w.Action("actFileCopy")->trigger(); }},
        {"to a folder",
         [](const test::TMainWindowParts& w) { w.Action("actFileCopyToFolder")->trigger(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.Prompts.CopyFolder = f.Out.Path();
        f.Select("http://www.a.test/");
        f.W().Tree()->expandAll();
        f.Focus(f.W().Tree());
        QTest::keyPress(f.W().Tree(), Qt::Key_Down);
        QTest::keyPress(f.W().Tree(), Qt::Key_Down);
        QTest::keyRelease(f.W().Tree(), Qt::Key_Down);
        ASSERT_EQ(f.W().Tree()->SelectedPath(), "http://www.a.test/docs/deep/");
        ASSERT_EQ(f.W().List()->CurrentFolder(), "http://www.a.test/");
        c.act(f.W());
        EXPECT_TRUE(f.Prompts.Messages.empty());
        // The list catches up after the pause.
        EXPECT_TRUE(QTest::qWaitFor(
            [&f] { return f.W().List()->CurrentFolder() == "http://www.a.test/docs/deep/"; },
            3000));
    }
}

} // namespace
} // namespace tarnhold::gui
