// The import dialog over a folder of Internet shortcuts and over the
// bookmark files Chromium and Firefox wrote: the marks and how they change,
// what an import adds and says, and the dialog's sources.
#include "app/qtconvert.h"
#include "favorites/bookmarks.h"
#include "favorites/importfavorites.h"
#include "gui/gui_test_helpers.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/testfiles.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(TARNHOLD_TEST_DATA) / "favorites";

using test::Lines;

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

struct Fixture {
    Fixture() : Dialog(Store, Prompts) {
        Dir = CreateTempFolder();
        Store.AddNew("known", "HTTP://Known.Test/");
    }
    ~Fixture() {
        Dialog.hide();
        DeleteFolder(Dir);
    }
    void Shortcut(const fs::path& relative, const std::string& url) {
        ASSERT_TRUE(ForceDirectories((Dir / relative).parent_path()));
        ASSERT_TRUE(WriteTestFile(Dir / relative, "[InternetShortcut]\r\nURL=" + url + "\r\n"));
    }
    void Show(std::vector<TImportSource> sources) {
        Dialog.SetSources(std::move(sources));
        Dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Dialog));
    }
    void ShowFolder() { Show({{TImportKind::Shortcuts, Dir, {}, {}}}); }
    // The item of a caption path ("News/Paper").
    QTreeWidgetItem* Item(const QString& path) const {
        const QStringList parts = path.split(QLatin1Char('/'));
        QTreeWidgetItem* item = nullptr;
        for (const QString& part : parts) {
            QTreeWidgetItem* found = nullptr;
            const int count =
                item != nullptr ? item->childCount() : Dialog.Tree()->topLevelItemCount();
            for (int i = 0; i < count && found == nullptr; ++i) {
                QTreeWidgetItem* child =
                    item != nullptr ? item->child(i) : Dialog.Tree()->topLevelItem(i);
                if (child->text(0) == part)
                    found = child;
            }
            EXPECT_NE(found, nullptr) << path.toStdString();
            if (found == nullptr)
                return nullptr;
            item = found;
        }
        return item;
    }
    int State(const char* path) const { return TfrmImportFavorites::StateOf(Item(Utf8(path))); }
    // "caption state" per entry in tree order, children indented.
    QStringList Describe() const {
        QStringList out;
        std::function<void(QTreeWidgetItem*, const QString&)> walk = [&](QTreeWidgetItem* item,
                                                                         const QString& indent) {
            out.append(indent + item->text(0) + QLatin1Char(' ') +
                       QString::number(TfrmImportFavorites::StateOf(item)));
            for (int i = 0; i < item->childCount(); ++i)
                walk(item->child(i), indent + QStringLiteral("  "));
        };
        for (int i = 0; i < Dialog.Tree()->topLevelItemCount(); ++i)
            walk(Dialog.Tree()->topLevelItem(i), QString());
        return out;
    }
    void Click(const char* path) {
        QTreeWidgetItem* item = Item(Utf8(path));
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(Dialog.Tree()->viewport(), Qt::LeftButton, {},
                          Dialog.Tree()->MarkRect(item).center());
    }
    void Import() { Dialog.findChild<QPushButton*>(QStringLiteral("btnImport"))->click(); }
    QString LastMessage() const {
        return Prompts.Messages.empty() ? QString() : Prompts.Messages.back().Text;
    }

    fs::path Dir;
    TFavorites Store; // no file
    test::TRecordingPrompts Prompts;
    TfrmImportFavorites Dialog;
};

TEST(ImportFavoritesShortcuts, TreeOrderAndMarksAsTheyAreRead) {
    Fixture f;
    f.Shortcut("Zeta.url", "http://zeta.test/");
    f.Shortcut("My Site.url", "http://my.test/");
    f.Shortcut("news/Paper.url", "http://paper.test/");
    f.Shortcut("news/Known.url", "http://known.test/"); // another letter case
    f.Shortcut("Aside/Empty/readme.txt", "");           // no shortcut at any depth
    f.Shortcut("Blue/Only.url", "http://KNOWN.test/");
    f.Shortcut("NoUrl.url", "");
    f.ShowFolder();
    EXPECT_EQ(f.Describe(), (Lines({"Blue 1", "  Only 4", "news 1", "  Known 4", "  Paper 1",
                                    "My Site 1", "NoUrl 1", "Zeta 1"})));
    EXPECT_EQ(f.Dialog.Tree()->currentItem(), f.Dialog.Tree()->topLevelItem(0));
    EXPECT_EQ(f.Item(QStringLiteral("news/Known"))->data(0, Qt::AccessibleDescriptionRole),
              Utf8("登録済み"));
}

TEST(ImportFavoritesShortcuts, MarksGoDownAndUp) {
    Fixture f;
    f.Shortcut("news/Paper.url", "http://paper.test/");
    f.Shortcut("news/Radio.url", "http://radio.test/");
    f.Shortcut("news/Known.url", "http://known.test/");
    f.Shortcut("news/deep/Tv.url", "http://tv.test/");
    f.Shortcut("Blue/Only.url", "http://known.test/");
    f.ShowFolder();

    // Checking a folder checks everything below but the blue ones.
    f.Click("news");
    EXPECT_EQ(f.Describe(), (Lines({"Blue 1", "  Only 4", "news 2", "  deep 2", "    Tv 2",
                                    "  Known 4", "  Paper 2", "  Radio 2"})));
    // Unchecking one turns its folder grey; unchecking the deep one too.
    f.Click("news/Paper");
    EXPECT_EQ(f.State("news"), isPartly);
    f.Click("news/deep/Tv");
    EXPECT_EQ(f.State("news/deep"), isNone);
    EXPECT_EQ(f.State("news"), isPartly);
    f.Click("news/Radio");
    EXPECT_EQ(f.State("news"), isNone) << "all changeable entries unchecked";
    // A grey folder clicked becomes unchecked with all below; clicked again, all checked.
    f.Click("news/Radio");
    f.Click("news");
    EXPECT_EQ(f.State("news"), isNone);
    EXPECT_EQ(f.State("news/Radio"), isNone);
    // A folder whose shortcuts are all blue stays an empty box and changes nothing.
    f.Click("Blue");
    EXPECT_EQ(f.State("Blue"), isNone);
    EXPECT_EQ(f.State("Blue/Only"), isRegistered);
    // A blue shortcut does not change.
    f.Click("news/Known");
    EXPECT_EQ(f.State("news/Known"), isRegistered);
}

TEST(ImportFavoritesShortcuts, OnlyTheMarkOrSpaceToggles) {
    Fixture f;
    f.Shortcut("Paper.url", "http://paper.test/");
    f.ShowFolder();
    QTreeWidgetItem* item = f.Item(QStringLiteral("Paper"));
    QTreeWidget* tree = f.Dialog.Tree();
    // A click on the caption selects, it does not toggle.
    const QRect row = tree->visualItemRect(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      QPoint(row.right() - 2, row.center().y()));
    EXPECT_EQ(TfrmImportFavorites::StateOf(item), isNone);
    tree->setFocus();
    tree->setCurrentItem(item);
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(TfrmImportFavorites::StateOf(item), isChosen);
    QTest::keyClick(tree, Qt::Key_Space);
    EXPECT_EQ(TfrmImportFavorites::StateOf(item), isNone);
}

TEST(ImportFavoritesShortcuts, ImportTwiceWhileTheDialogStaysOpen) {
    Fixture f;
    f.Shortcut("My Site.url", "http://my.test/");
    f.Shortcut("news/Paper.url", "http://paper.test/");
    f.Shortcut("news/Empty.url", "");
    f.ShowFolder();
    f.Click("news");
    f.Click("My Site");
    f.Import();
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_EQ(f.Prompts.Messages[0].Caption, Utf8("インポート"));
    EXPECT_EQ(f.Prompts.Messages[0].Icon, QMessageBox::Information);
    EXPECT_EQ(f.LastMessage(), Utf8("2 個のお気に入りがインポートされました。"));
    EXPECT_TRUE(f.Dialog.isVisible());
    ASSERT_EQ(f.Store.Count(), 3);
    EXPECT_EQ(f.Store.Items(1)->Title, "Paper") << "folders first, in tree order";
    EXPECT_EQ(f.Store.Items(2)->Title, "My Site");
    EXPECT_EQ(f.Store.Items(2)->UrlName, "http://my.test/");
    EXPECT_EQ(f.State("My Site"), isRegistered);
    EXPECT_EQ(f.State("news/Paper"), isRegistered);
    EXPECT_EQ(f.State("news/Empty"), isChosen) << "a shortcut without URL is never imported";

    f.Import();
    EXPECT_EQ(f.LastMessage(), Utf8("インポートするお気に入りが1つも選択されていません。"));
    EXPECT_EQ(f.Prompts.Messages.back().Icon, QMessageBox::Warning);
    EXPECT_EQ(f.Store.Count(), 3);
}

TEST(ImportFavoritesBookmarks, EachBrowsersBookmarksWithTheirTitles) {
    Fixture f;
    f.Store.AddNew("shop", "http://www.shop.test/");
    f.Show({{TImportKind::Chromium, kData / "chromium" / "Bookmarks", "Chromium", "Default"},
            {TImportKind::Firefox, kData / "firefox" / "places.sqlite", "Firefox", "x.default"}});
    auto* sources = f.Dialog.findChild<QComboBox*>(QStringLiteral("cmbSource"));
    ASSERT_EQ(sources->count(), 2);
    EXPECT_EQ(sources->itemText(0), Utf8("Chromium のブックマーク (プロファイル Default) - ") +
                                        PathToQString(kData / "chromium" / "Bookmarks"));
    const QStringList expected = Lines({
        "BAR 1",
        "  買い物 1",
        "    深い 1",
        "      Basket 1",
        "    FAQ 1",
        "    セール 商品一覧 1",
        "  News 😀 ニュース 1",
        "  Tarnhold テスト 4",
        "OTHER 1",
        "  Example 한국어 1",
    });
    const struct {
        int source;
        const char* bar;
        const char* other;
    } cases[] = {{0, "Bookmarks bar", "Other bookmarks"},
                 {1, "Bookmarks Toolbar", "Other Bookmarks"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bar);
        sources->setCurrentIndex(c.source);
        QStringList want = expected;
        want[0] = QString::fromUtf8(c.bar) + QStringLiteral(" 1");
        want[8] = QString::fromUtf8(c.other) + QStringLiteral(" 1");
        EXPECT_EQ(f.Describe(), want);
    }
    // Everything of Firefox's: the blue one stays as it is.
    f.Click("Bookmarks Toolbar");
    f.Click("Other Bookmarks");
    f.Import();
    EXPECT_EQ(f.LastMessage(), Utf8("5 個のお気に入りがインポートされました。"));
    QStringList titles;
    for (int i = 2; i < f.Store.Count(); ++i)
        titles.append(FavoriteToQString(f.Store.Items(i)->Title) + QStringLiteral(" ") +
                      ToQString(f.Store.Items(i)->UrlName));
    EXPECT_EQ(titles, (Lines({
                          "Basket https://checkout.shop.test/basket.html",
                          "FAQ http://www.shop.test/faq.html",
                          "セール 商品一覧 "
                          "http://www.shop.test/%E3%82%BB%E3%83%BC%E3%83%AB/"
                          "%E5%95%86%E5%93%81%E4%B8%80%E8%A6%A7.html",
                          "News 😀 ニュース http://news.example.test/",
                          "Example 한국어 http://example.test/%ED%95%9C%EA%B5%AD",
                      })))
        << "five new, in tree order";
    // Chromium's, read again, shows them blue.
    sources->setCurrentIndex(0);
    EXPECT_EQ(f.State("Bookmarks bar/News 😀 ニュース"), isRegistered);
    EXPECT_EQ(f.State("Other bookmarks"), isNone);
}

TEST(ImportFavoritesBookmarks, WhatCannotBeReadIsSaid) {
    Fixture f;
    f.Show({{TImportKind::Chromium, f.Dir / "missing", "Chromium", "Default"}});
    auto* problems = f.Dialog.findChild<QLabel*>(QStringLiteral("txtProblems"));
    EXPECT_TRUE(problems->isVisible());
    EXPECT_TRUE(problems->text().contains(QStringLiteral("missing")))
        << problems->text().toStdString();
    EXPECT_EQ(f.Dialog.Tree()->topLevelItemCount(), 0);
    f.Import();
    EXPECT_EQ(f.LastMessage(), Utf8("インポートするお気に入りが1つも選択されていません。"));
}

TEST(ImportFavoritesDialog, ControlsAreNamedAndReachable) {
    Fixture f;
    f.ShowFolder();
    EXPECT_EQ(f.Dialog.windowTitle(), Utf8("お気に入りのインポート"));
    auto* sources = f.Dialog.findChild<QComboBox*>(QStringLiteral("cmbSource"));
    EXPECT_EQ(sources->accessibleName(), Utf8("読み込み元"));
    EXPECT_EQ(f.Dialog.Tree()->accessibleName(), Utf8("インポートするお気に入り"));
    for (QWidget* w : std::initializer_list<QWidget*>{
             sources, f.Dialog.Tree(),
             f.Dialog.findChild<QPushButton*>(QStringLiteral("btnImport")),
             f.Dialog.findChild<QPushButton*>(QStringLiteral("btnClose"))})
        EXPECT_TRUE(w->focusPolicy() & Qt::TabFocus) << w->objectName().toStdString();
    EXPECT_TRUE(f.Dialog.findChild<QPushButton*>(QStringLiteral("btnImport"))->isDefault());
    // Closing forgets the entries; the next showing reads afresh.
    f.Dialog.hide();
    EXPECT_EQ(f.Dialog.Tree()->topLevelItemCount(), 0);
}

} // namespace
} // namespace tarnhold::gui
