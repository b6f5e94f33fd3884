// The favorite commands of the main window, driven as a user drives them on
// the window over the cache Wine's WinINet wrote (a copy per test, since a
// move deletes from it): registering from the cache views, editing one and
// several favorites, deleting the one shown, copying and moving a site to
// its save folder, the local and the internet page, the favorites list's
// header, menus and double click.
#include "app/prompts.h"
#include "app/qtconvert.h"
#include "favorites/favorites.h"
#include "favorites/favoritespanel.h"
#include "gui/gui_test_helpers.h"
#include "gui/mainwindowparts.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/mainwindow.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/filetime.h"
#include "sources/opencache.h"
#include "support/cache_test_helpers.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;
using tarnhold::test::TTempDir;

const fs::path kWineCache =
    fs::path(TARNHOLD_TEST_DATA) / "cache" / "wine-ie-cache" / "Content.IE5";

using test::Lines;

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

class TPrompts : public test::TRecordingPrompts {
public:
    bool OpenFile(const fs::path& file) override {
        Opened.push_back(file);
        return true;
    }
    bool OpenUrl(const QUrl& url) override {
        Urls.push_back(url);
        return true;
    }
    TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode&, const fs::path&) override {
        return TOverwriteAnswer::Yes;
    }
    bool AskArchiveFile(fs::path& file, bool& decoded) override {
        if (ArchiveFile.empty())
            return false;
        file = ArchiveFile;
        decoded = false;
        return true;
    }
    fs::path ArchiveFile;
    std::vector<fs::path> Opened;
    std::vector<QUrl> Urls;
};

// A started window over a copy of the Wine cache, its own data folder and
// favorites.dat.
struct Fixture {
    explicit Fixture(const std::string& favoritesDat = {}) {
        if (!favoritesDat.empty()) {
            EXPECT_TRUE(WriteFileAtomic(Home.Path() / "favorites.dat", favoritesDat));
        }
        fs::copy(kWineCache, Cache.Path() / "Content.IE5", fs::copy_options::recursive);
        TError error;
        auto source =
            OpenCacheSourceAt(Cache.Path() / "Content.IE5", TCacheKind::ckIndexDat, &error);
        EXPECT_TRUE(source) << error.Text();
        Tree = std::make_unique<TWebCacheTree>(std::move(source));
        Tree->SetRenameListFile(Home.Path() / "renameList.dat");
        Tree->SetContentTypeFile(Home.Path() / "contentType.dat");
        EXPECT_FALSE(Favorites.SetFileName(Home.Path() / "favorites.dat"));
        Window = std::make_unique<TfrmMain>(*Tree, Favorites, Home.Path());
        W().Commands().SetPrompts(&Prompts);
        Window->Start();
    }
    ~Fixture() { Window.reset(); }

    test::TMainWindowParts W() const { return test::TMainWindowParts(*Window); }
    QTreeWidget* Panel() const { return W().Favorites(); }
    void Focus(QWidget* widget) {
        Window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
        widget->setFocus(Qt::MouseFocusReason);
        QApplication::processEvents();
    }
    // A favorite of the store, its save folder below Out.
    TFavoriteItem* Add(const char* title, const char* url, std::uint8_t folder = fdWholeUrl) {
        TFavoriteItem item = Favorites.DefaultItem();
        item.Title = title;
        item.UrlName = url;
        item.PathName = PathToAnsi(Out.Path()) + "/";
        item.Folder = folder;
        Favorites.AddItem(std::make_unique<TFavoriteItem>(item));
        return Favorites.Items(Favorites.Count() - 1);
    }
    // Selects exactly the rows of these favorites, the first one focused.
    void SelectFavorites(const std::vector<const TFavoriteItem*>& items) {
        Panel()->clearSelection();
        for (int i = 0; i < Panel()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = Panel()->topLevelItem(i);
            if (TFavoritesPanel::ItemOf(row) == items.front())
                Panel()->setCurrentItem(row);
        }
        for (int i = 0; i < Panel()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = Panel()->topLevelItem(i);
            row->setSelected(std::find(items.begin(), items.end(), TFavoritesPanel::ItemOf(row)) !=
                             items.end());
        }
    }
    QStringList RowTitles() const {
        QStringList titles;
        for (int i = 0; i < Panel()->topLevelItemCount(); ++i)
            titles.append(Panel()->topLevelItem(i)->text(0));
        return titles;
    }
    // Runs the action; the editor that it opens gets edit, then 登録.
    void Edit(const char* action, std::function<void(QDialog*)> edit) {
        test::OnNextDialog([edit](QWidget* dialog) {
            edit(static_cast<QDialog*>(dialog));
            dialog->findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
            // A check that failed leaves it open: closed, as a user cancels.
            if (dialog->isVisible())
                dialog->findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
        });
        W().Action(action)->trigger();
    }
    static QLineEdit* Box(QDialog* dialog, const char* name) {
        return dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    std::string SavedFile() const {
        std::string text;
        ReadWholeFile(Home.Path() / "favorites.dat", text);
        return text;
    }

    TTempDir Cache, Home, Out;
    std::unique_ptr<TWebCacheTree> Tree;
    TFavorites Favorites;
    TPrompts Prompts;
    std::unique_ptr<TfrmMain> Window;
};

TEST(MainFavoritesMenus, TheMenuAndTheListsMenuInOrderEnabledBySelection) {
    Fixture f;
    QMenu* menu = nullptr;
    for (QAction* a : f.Window->menuBar()->actions()) {
        if (a->text() == Utf8("お気に入り(&A)"))
            menu = a->menu();
    }
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->menuAction()->isEnabled());
    const QStringList order = Lines(
        {"ローカルページの表示(&V)", "インターネットページの表示(&N)", "", "ローカルへコピー(&C)",
         "ローカルへ移動(&M)", "WARC/WACZ として保存(&W)...", "", "新規(&N)...", "", "修正(&U)...",
         "削除(&D)", "", "デフォルト設定(&S)...", "", "インポート(&I)..."});
    for (QMenu* m : {menu, f.W().Menu("mnuPopupFavorites")}) {
        QStringList texts;
        for (QAction* a : m->actions())
            texts.append(a->isSeparator() ? QString() : a->text());
        EXPECT_EQ(texts, order);
    }
    EXPECT_EQ(f.W().Action("actFavoritesUpdate")->shortcut(),
              QKeySequence(Qt::ALT | Qt::Key_Return));
    EXPECT_EQ(f.W().Action("actFavoritesDelete")->shortcut(), QKeySequence(Qt::Key_Delete));

    TFavoriteItem* a = f.Add("A", "http://www.shop.test/");
    TFavoriteItem* b = f.Add("B", "http://news.example.test/");
    struct Case {
        const char* name;
        std::vector<const TFavoriteItem*> rows;
        bool many, one;
    };
    for (const Case& c : {Case{"none", {}, false, false}, Case{"one", {a}, true, true},
                          Case{"two", {a, b}, true, false}}) {
        SCOPED_TRACE(c.name);
        if (c.rows.empty())
            f.Panel()->clearSelection();
        else
            f.SelectFavorites(c.rows);
        for (const char* name : {"actFavoritesUpdate", "actFavoritesDelete", "actFavoritesCopyFile",
                                 "actFavoritesMoveFile", "actFavoritesSaveArchive"})
            EXPECT_EQ(f.W().Action(name)->isEnabled(), c.many) << name;
        for (const char* name : {"actFavoritesDisplayLocal", "actFavoritesDisplayInternet"})
            EXPECT_EQ(f.W().Action(name)->isEnabled(), c.one) << name;
        for (const char* name :
             {"actFavoritesNew", "actFavoritesSetupDefault", "actFavoritesImport"})
            EXPECT_TRUE(f.W().Action(name)->isEnabled()) << name;
    }
}

TEST(MainFavoritesRegister, AHostFromTheTreesMenuAndAPageFromTheList) {
    Fixture f;
    QTreeWidgetItem* host = f.W().Tree()->FindItemByPath("http://www.shop.test/");
    ASSERT_NE(host, nullptr);
    f.W().Commands().PrepareTreeMenu(host);
    ASSERT_TRUE(f.W().Action("actFavoritesFromCache")->isEnabled());
    QString shownTitle, shownUrl;
    f.Edit("actFavoritesFromCache", [&](QDialog* d) {
        shownTitle = f.Box(d, "edtTitle")->text();
        shownUrl = f.Box(d, "edtUrl")->text();
    });
    EXPECT_EQ(shownTitle, QStringLiteral("Shop Test - home")) << "the title of its page";
    EXPECT_EQ(shownUrl, QStringLiteral("http://www.shop.test/"));
    ASSERT_EQ(f.Favorites.Count(), 1);
    EXPECT_EQ(f.RowTitles(), QStringList{QStringLiteral("Shop Test - home")});
    EXPECT_NE(f.SavedFile().find("Title=Shop Test - home"), std::string::npos);

    // A page of the list: its own URL (the list names it faq~0001.html).
    f.W().Tree()->SelectPath("http://www.shop.test/");
    f.Focus(f.W().List()->CurrentView());
    TCacheListModel* model = f.W().List()->Model();
    int row = 0;
    while (row < model->Count() && model->NodeAt(row)->DisplayName() != "faq~0001.html")
        ++row;
    ASSERT_LT(row, model->Count());
    f.W().List()->SelectionModel()->select(
        model->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    f.W().Commands().PrepareListMenu();
    ASSERT_TRUE(f.W().Action("actFavoritesFromCache")->isEnabled());
    f.Edit("actFavoritesFromCache", [&](QDialog* d) {
        shownTitle = f.Box(d, "edtTitle")->text();
        shownUrl = f.Box(d, "edtUrl")->text();
    });
    EXPECT_EQ(shownTitle, QStringLiteral("FAQ"));
    EXPECT_EQ(shownUrl, QStringLiteral("http://www.shop.test/faq.html"));
    EXPECT_EQ(f.Favorites.Count(), 2);
}

TEST(MainFavoritesEdit, TheChecksOfRegisterKeepTheNewFavoriteOut) {
    Fixture f;
    f.Edit("actFavoritesNew", [&](QDialog* d) {
        f.Box(d, "edtUrl")->setText(QStringLiteral("http://www.shop.test/"));
    });
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_EQ(f.Prompts.Messages[0].Caption, Utf8("項目チェック"));
    EXPECT_EQ(f.Prompts.Messages[0].Text, Utf8("タイトルが入力されていません。"));
    EXPECT_EQ(f.Favorites.Count(), 0) << "a cancelled new favorite is dropped";
}

TEST(MainFavoritesEdit, OneThenThreeAndTheTreeFollowsTheOpenOne) {
    Fixture f;
    TFavoriteItem* shop = f.Add("Shop", "http://www.shop.test/");
    TFavoriteItem* news = f.Add("News", "http://news.example.test/");
    TFavoriteItem* img = f.Add("Img", "http://img.shop.test/");
    f.W().Commands().OpenFavorite(shop);
    EXPECT_EQ(f.W().Tree()->RootItem()->text(0), QStringLiteral("Shop"));

    // One: the title changes, the tree's root follows.
    f.SelectFavorites({shop});
    f.Edit("actFavoritesUpdate",
           [&](QDialog* d) { f.Box(d, "edtTitle")->setText(Utf8("ショップ 😀")); });
    EXPECT_EQ(FavoriteToQString(shop->Title), Utf8("ショップ 😀"));
    EXPECT_EQ(f.W().Tree()->RootItem()->text(0), Utf8("ショップ 😀"));
    EXPECT_TRUE(f.RowTitles().contains(Utf8("ショップ 😀")));
    // Its URL changes: the tree shows the new site.
    f.Edit("actFavoritesUpdate", [&](QDialog* d) {
        f.Box(d, "edtUrl")->setText(QStringLiteral("http://news.example.test/culture/"));
    });
    EXPECT_EQ(f.W().Tree()->RootUrl(), "http://news.example.test/culture/");
    EXPECT_NE(f.W().Tree()->FindItemByPath("http://news.example.test/culture/books/"), nullptr);

    // Three: the editor shows what they share; a folder typed goes to all.
    f.SelectFavorites({news, shop, img});
    QString caption;
    bool titleShown = true;
    f.Edit("actFavoritesUpdate", [&](QDialog* d) {
        caption = d->windowTitle();
        titleShown = f.Box(d, "edtTitle")->isVisible();
        EXPECT_EQ(f.Box(d, "edtPath")->text(), PathToQString(f.Out.Path()) + QLatin1Char('/'));
        f.Box(d, "edtPath")->setText(QStringLiteral("/srv/sites"));
        d->findChild<QRadioButton*>(QStringLiteral("rgpMethod2"))->click();
    });
    EXPECT_EQ(caption, Utf8("お気に入りの設定"));
    EXPECT_FALSE(titleShown);
    for (const TFavoriteItem* item : {shop, news, img}) {
        EXPECT_EQ(item->PathName, "/srv/sites/") << item->UrlName;
        EXPECT_EQ(item->Method, mtAll);
        EXPECT_EQ(item->Folder, fdWholeUrl);
    }
    // Saved, every character kept.
    TFavorites again;
    ASSERT_FALSE(again.SetFileName(f.Home.Path() / "favorites.dat"));
    ASSERT_EQ(again.Count(), 3);
    EXPECT_EQ(FavoriteToQString(again.Items(0)->Title), Utf8("ショップ 😀"));
    EXPECT_EQ(again.Items(2)->PathName, "/srv/sites/");
}

TEST(MainFavoritesDelete, TheOpenFavoriteGoesAndTheWholeCacheComesBack) {
    Fixture f;
    TFavoriteItem* shop = f.Add("Shop", "http://www.shop.test/");
    TFavoriteItem* news = f.Add("News", "http://news.example.test/");
    TFavoriteItem* img = f.Add("Img", "http://img.shop.test/");
    f.W().Commands().OpenFavorite(shop);
    f.SelectFavorites({shop});
    f.Focus(f.Panel());
    ASSERT_EQ(f.W().Commands().FocusedView(), TFocusView::Favorites);

    // Refused: nothing goes.
    f.Prompts.Answer = QMessageBox::No;
    QTest::keyClick(f.Panel(), Qt::Key_Delete);
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_EQ(f.Prompts.Messages[0].Caption, Utf8("お気に入りの削除の確認"));
    EXPECT_EQ(f.Prompts.Messages[0].Text, Utf8("'Shop' を削除してもよろしいですか？"));
    EXPECT_EQ(f.Prompts.Messages[0].Buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(f.Favorites.Count(), 3);

    // The Delete key, through the general delete: the favorite, never the cache.
    f.Prompts.Answer = QMessageBox::Yes;
    const int before = f.Tree->Root()->Count();
    QTest::keyClick(f.Panel(), Qt::Key_Delete);
    EXPECT_EQ(f.Favorites.Count(), 2);
    EXPECT_EQ(f.W().Commands().CurrentFavorite(), nullptr);
    EXPECT_EQ(f.W().Tree()->RootItem()->text(0), QStringLiteral("Web Cache"));
    EXPECT_EQ(f.Tree->Root()->Count(), before);
    EXPECT_NE(f.Tree->FindFolderByUrl("http://www.shop.test/"), nullptr);

    // Two at once.
    f.SelectFavorites({news, img});
    f.W().Action("actFavoritesDelete")->trigger();
    EXPECT_EQ(f.Prompts.Messages.back().Text,
              Utf8("これら 2 のお気に入りを削除してもよろしいですか？"));
    EXPECT_EQ(f.Favorites.Count(), 0);
    EXPECT_EQ(f.SavedFile().find("Count=0") != std::string::npos, true);
}

TEST(MainFavoritesDefault, TheWholeCacheNamesFolderPagesWithTheDefaultFavoritesName) {
    Fixture f("[FavoriteDefault]\r\nDefault=top.htm\r\n");
    EXPECT_EQ(f.Tree->DefaultFileName, "top.htm");
    EXPECT_NE(f.Tree->FindNodeByUrl("http://news.example.test/top.htm"), nullptr);
    // Set up anew, the names follow at once.
    f.Edit("actFavoritesSetupDefault",
           [&](QDialog* d) { f.Box(d, "edtDefault")->setText(QStringLiteral("home.html")); });
    EXPECT_EQ(f.Tree->DefaultFileName, "home.html");
    EXPECT_EQ(f.Favorites.DefaultItem().Default, "home.html");
    EXPECT_NE(f.SavedFile().find("Default=home.html"), std::string::npos);
    EXPECT_TRUE(IsDateUnset(f.Favorites.DefaultItem().Date));
}

TEST(MainFavoritesOpen, ADoubleClickOnNoRowShowsTheWholeCache) {
    Fixture f;
    f.Add("News", "http://news.example.test/");
    QTreeWidgetItem* row = f.Panel()->topLevelItem(0);
    const QRect rect = f.Panel()->visualItemRect(row);
    QTest::mouseDClick(f.Panel()->viewport(), Qt::LeftButton, {}, rect.center());
    EXPECT_EQ(f.W().Tree()->RootItem()->text(0), QStringLiteral("News"));
    EXPECT_NE(f.W().Commands().CurrentFavorite(), nullptr);
    QTest::mouseDClick(f.Panel()->viewport(), Qt::LeftButton, {},
                       QPoint(rect.center().x(), rect.bottom() + 3 * rect.height()));
    EXPECT_EQ(f.W().Commands().CurrentFavorite(), nullptr);
    EXPECT_EQ(f.W().Tree()->RootItem()->text(0), QStringLiteral("Web Cache"));
}

TEST(MainFavoritesCopy, EachFolderMethodPutsTheSiteInItsSaveFolderAndTheLocalPageOpens) {
    const struct {
        const char* name;
        std::uint8_t folder;
        fs::path page;  // the local page, below Out
        fs::path other; // another page of the site
    } cases[] = {
        {"below the URL", fdBelowUrl, "index.html", "culture/books/index.html"},
        {"the whole URL", fdWholeUrl, "http$3a/news.example.test/index.html",
         "http$3a/news.example.test/culture/books/index.html"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        TFavoriteItem* news = f.Add("News", "http://news.example.test/", c.folder);
        f.SelectFavorites({news});
        // Before any copy there is no local page: nothing opens, nothing is said.
        f.W().Action("actFavoritesDisplayLocal")->trigger();
        EXPECT_TRUE(f.Prompts.Opened.empty());
        EXPECT_TRUE(f.Prompts.Messages.empty());

        f.W().Action("actFavoritesCopyFile")->trigger();
        EXPECT_TRUE(f.Prompts.Messages.empty()) << f.Prompts.Messages[0].Text.toStdString();
        EXPECT_TRUE(fs::is_regular_file(f.Out.Path() / c.page));
        EXPECT_TRUE(fs::is_regular_file(f.Out.Path() / c.other));
        EXPECT_FALSE(IsDateUnset(news->Date)) << "the copy is dated";
        EXPECT_FALSE(f.Panel()->topLevelItem(0)->text(2).isEmpty());
        EXPECT_NE(f.Tree->FindFolderByUrl("http://news.example.test/"), nullptr) << "a copy";
        EXPECT_FALSE(f.W().ProgressVisible());
        EXPECT_TRUE(f.Window->isEnabled());

        f.W().Action("actFavoritesDisplayLocal")->trigger();
        ASSERT_EQ(f.Prompts.Opened.size(), 1u);
        EXPECT_EQ(f.Prompts.Opened[0], f.Out.Path() / c.page);
    }
}

TEST(MainFavoritesCopy, AMoveLeavesTheSiteOnlyInItsSaveFolder) {
    Fixture f;
    TFavoriteItem* news = f.Add("News", "http://news.example.test/", fdBelowUrl);
    f.W().Commands().OpenFavorite(news);
    f.SelectFavorites({news});
    f.W().Action("actFavoritesMoveFile")->trigger();
    EXPECT_TRUE(fs::is_regular_file(f.Out.Path() / "economy" / "market" / "index.html"));
    EXPECT_EQ(f.Tree->FindFolderByUrl("http://news.example.test/"), nullptr);
    EXPECT_EQ(f.W().Tree()->RootItem()->childCount(), 0) << "the open site is gone from the view";
    // Gone from the cache file too: read afresh, the host is not there.
    f.W().Action("actCacheRefresh")->trigger();
    EXPECT_EQ(f.Tree->FindFolderByUrl("http://news.example.test/"), nullptr);
    EXPECT_NE(f.Tree->FindFolderByUrl("http://www.shop.test/"), nullptr);
    // The local page is still there to be shown.
    f.W().Action("actFavoritesDisplayLocal")->trigger();
    ASSERT_EQ(f.Prompts.Opened.size(), 1u);
    EXPECT_EQ(f.Prompts.Opened[0], f.Out.Path() / "index.html");
}

TEST(MainFavoritesCopy, AFavoriteWithoutSaveFolderStopsTheRunAndSaysWhy) {
    Fixture f;
    TFavoriteItem* news = f.Add("News", "http://news.example.test/");
    news->PathName.clear();
    f.SelectFavorites({news});
    f.W().Action("actFavoritesMoveFile")->trigger();
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_TRUE(f.Prompts.Messages[0].Text.contains(Utf8("保存先が設定されていない")));
    EXPECT_NE(f.Tree->FindFolderByUrl("http://news.example.test/"), nullptr) << "nothing moved";
}

TEST(MainFavoritesArchive, TheSitesOfTheSelectedFavoritesBecomeOneArchive) {
    Fixture f;
    TFavoriteItem* news = f.Add("News", "http://news.example.test/");
    TFavoriteItem* img = f.Add("Img", "http://img.shop.test/");
    TFavoriteItem* gone = f.Add("Gone", "http://gone.test/");
    f.Prompts.ArchiveFile = f.Out.Path() / "sites.warc.gz";
    // A site the cache does not hold has nothing to save, and says so.
    f.SelectFavorites({gone});
    f.W().Action("actFavoritesSaveArchive")->trigger();
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_FALSE(fs::exists(f.Prompts.ArchiveFile));

    f.SelectFavorites({news, img, gone});
    f.W().Action("actFavoritesSaveArchive")->trigger();
    EXPECT_EQ(f.Prompts.Messages.size(), 1u) << f.Prompts.Messages.back().Text.toStdString();
    EXPECT_TRUE(fs::is_regular_file(f.Prompts.ArchiveFile));
    // The six files the tree holds of the news site, three of the images' host.
    const QString shown = f.Window->statusBar()->currentMessage();
    EXPECT_TRUE(shown.startsWith(Utf8("9 件を "))) << shown.toStdString();
}

TEST(MainFavoritesInternet, OnlyWebPagesGoToTheBrowser) {
    Fixture f;
    const struct {
        const char* url;
        bool opened;
    } cases[] = {{"http://news.example.test/", true},
                 {"https://checkout.shop.test/basket.html", true},
                 {"ftp://files.shop.test/pub/", true},
                 {"javascript:alert(1)", false},
                 {"file:///etc/passwd", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        f.Prompts.Urls.clear();
        f.Prompts.Messages.clear();
        f.SelectFavorites({f.Add("x", c.url)});
        f.W().Action("actFavoritesDisplayInternet")->trigger();
        EXPECT_EQ(f.Prompts.Urls.size(), c.opened ? 1u : 0u);
        if (c.opened)
            EXPECT_EQ(f.Prompts.Urls[0].toString(), QString::fromUtf8(c.url));
        else
            EXPECT_EQ(f.Prompts.Messages.size(), 1u);
    }
}

TEST(MainFavoritesList, HeaderClicksSortByColumnAndToggleTheOrder) {
    Fixture f;
    TFavoriteItem* b = f.Add("beta", "http://a.test/");
    TFavoriteItem* a = f.Add("Alpha", "http://c.test/");
    TFavoriteItem* c = f.Add("gamma", "http://b.test/");
    a->Date = MakeSystemTime(2020, 1, 1, 0, 0, 0);
    b->Date = MakeSystemTime(2022, 1, 1, 0, 0, 0);
    c->Date = MakeSystemTime(2021, 1, 1, 0, 0, 0);
    QHeaderView* header = f.Panel()->header();
    auto click = [&](int column) {
        QTest::mouseClick(
            header->viewport(), Qt::LeftButton, {},
            QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    };
    EXPECT_EQ(f.RowTitles(), (Lines({"Alpha", "beta", "gamma"})));
    click(1);
    EXPECT_EQ(f.Favorites.SortType(), fsUrl);
    EXPECT_EQ(f.RowTitles(), (Lines({"beta", "gamma", "Alpha"})));
    click(1);
    EXPECT_EQ(f.Favorites.SortOrder(), 1);
    EXPECT_EQ(f.RowTitles(), (Lines({"Alpha", "gamma", "beta"})));
    click(2);
    EXPECT_EQ(f.Favorites.SortOrder(), 0) << "another column starts ascending";
    EXPECT_EQ(f.RowTitles(), (Lines({"beta", "gamma", "Alpha"}))) << "the newest first";
    EXPECT_EQ(header->sortIndicatorSection(), 2);
    // The window keeps the sort for the next start.
    f.Window->close();
    EXPECT_NE(f.SavedFile().size(), 0u);
    std::string screen;
    ReadWholeFile(f.Home.Path() / "screen.dat", screen);
    EXPECT_NE(screen.find("[Favorites]"), std::string::npos);
    EXPECT_NE(screen.find("SortType=2"), std::string::npos) << screen;
}

} // namespace
} // namespace tarnhold::gui
