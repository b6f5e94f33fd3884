// The favorite editor in its three modes: what it shows, the checks of
// 登録 with their messages, what it writes to one, several or the default
// favorite, the coupling of its radio groups, the folder browser, and that
// a cancel changes nothing.
#include "app/qtconvert.h"
#include "favorites/editfavorite.h"
#include "favorites/favorites.h"
#include "gui/gui_test_helpers.h"
#include "platform/codepage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

struct Fixture {
    Fixture() : Dialog(Prompts) {}
    ~Fixture() { Dialog.hide(); }

    QLineEdit* Edit(const char* name) const {
        auto* edit = Dialog.findChild<QLineEdit*>(QString::fromLatin1(name));
        EXPECT_NE(edit, nullptr) << name;
        return edit;
    }
    QRadioButton* Radio(const char* name) const {
        auto* radio = Dialog.findChild<QRadioButton*>(QString::fromLatin1(name));
        EXPECT_NE(radio, nullptr) << name;
        return radio;
    }
    // The index checked in a radio group ("rgpFolder"), -1 for none.
    int Checked(const char* group) const {
        for (int i = 0; i < 3; ++i) {
            auto* radio =
                Dialog.findChild<QRadioButton*>(QString::fromLatin1(group) + QString::number(i));
            if (radio != nullptr && radio->isChecked())
                return i;
        }
        return -1;
    }
    void Register() { Dialog.findChild<QPushButton*>(QStringLiteral("btnOk"))->click(); }
    // The messages shown so far, their texts only.
    std::vector<QString> Messages() const {
        std::vector<QString> texts;
        for (const test::TShownMessage& m : Prompts.Messages) {
            EXPECT_EQ(m.Caption, Utf8("項目チェック"));
            EXPECT_EQ(m.Icon, QMessageBox::Warning);
            texts.push_back(m.Text);
        }
        return texts;
    }

    test::TRecordingPrompts Prompts;
    mutable TfrmEditFavorite Dialog;
};

TFavoriteItem Item(const char* title, const char* path, std::uint8_t folder = fdWholeUrl,
                   std::uint8_t method = mtBelowUrl) {
    TFavoriteItem item;
    item.Title = title;
    item.UrlName = std::string("http://") + title + ".test/";
    item.PathName = path;
    item.Default = "index.html";
    item.Folder = folder;
    item.Method = method;
    return item;
}

TEST(EditFavoriteModes, CaptionsFieldsAndFocus) {
    TFavoriteItem one = Item("one", "/save/one/");
    TFavoriteItem two = Item("two", "/save/two/");
    struct Case {
        const char* name;
        std::function<void(TfrmEditFavorite&)> set;
        const char* caption;
        bool titleShown;
        const char* focused;
        TEditMode mode;
    };
    const Case cases[] = {
        {"single", [&](TfrmEditFavorite& d) { d.EditItem(&one, false); }, "お気に入りの設定", true,
         "edtTitle", TEditMode::Single},
        {"default", [&](TfrmEditFavorite& d) { d.EditItem(&one, true); },
         "デフォルトのお気に入りの設定", false, "edtPath", TEditMode::Default},
        {"multiple",
         [&](TfrmEditFavorite& d) {
             d.EditItems({&one, &two});
         },
         "お気に入りの設定", false, "edtPath", TEditMode::Multiple},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        c.set(f.Dialog);
        f.Dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f.Dialog));
        EXPECT_EQ(f.Dialog.Mode(), c.mode);
        EXPECT_EQ(f.Dialog.windowTitle(), Utf8(c.caption));
        EXPECT_EQ(f.Edit("edtTitle")->isVisible(), c.titleShown);
        EXPECT_EQ(f.Edit("edtUrl")->isVisible(), c.titleShown);
        QLineEdit* focused = f.Edit(c.focused);
        EXPECT_EQ(QApplication::focusWidget(), focused);
        EXPECT_EQ(focused->selectedText(), focused->text());
        // The schedule is kept, never shown.
        EXPECT_FALSE(f.Dialog.findChild<QGroupBox*>(QStringLiteral("rgpTimer"))->isVisible());
    }
}

TEST(EditFavoriteModes, EveryControlHasItsLabelsNameAndTakesTheKeyboard) {
    Fixture f;
    TFavoriteItem item = Item("one", "/save/");
    f.Dialog.EditItem(&item, false);
    const struct {
        const char* edit;
        const char* label;
    } boxes[] = {{"edtTitle", "タイトル(&T) :"},
                 {"edtUrl", "&URL :"},
                 {"edtPath", "保存先(&P) :"},
                 {"edtDefault", "デフォルトのファイル名(&D) :"}};
    for (const auto& b : boxes) {
        SCOPED_TRACE(b.edit);
        QLineEdit* edit = f.Edit(b.edit);
        QLabel* label = nullptr;
        for (QLabel* l : f.Dialog.findChildren<QLabel*>()) {
            if (l->buddy() == edit)
                label = l;
        }
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), Utf8(b.label));
        EXPECT_EQ(edit->accessibleName(), QString(Utf8(b.label)).remove(QLatin1Char('&')));
        EXPECT_TRUE(edit->focusPolicy() & Qt::TabFocus);
    }
    for (QAbstractButton* button : f.Dialog.findChildren<QAbstractButton*>()) {
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_FALSE(button->text().isEmpty());
        EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus);
    }
}

TEST(EditFavoriteRegister, ChecksInOrderWithTheirMessages) {
    struct Case {
        const char* name;
        bool isDefault;
        const char* title;
        const char* url;
        const char* path;
        const char* file;
        const char* message; // nullptr: registered
        const char* focused;
    };
    const Case cases[] = {
        {"no title", false, "", "", "", "", "タイトルが入力されていません。", "edtTitle"},
        {"no URL", false, "T", "", "", "", "URLが入力されていません。", "edtUrl"},
        {"no save folder", false, "T", "http://t/", "", "", "保存先が入力されていません。",
         "edtPath"},
        {"no file name", false, "T", "http://t/", "/s", "",
         "デフォルトのファイル名が入力されていません。", "edtDefault"},
        {"a relative folder", false, "T", "http://t/", "save", "i.html",
         "保存先には絶対パスのフォルダを指定してください。", "edtPath"},
        {"a file name with a folder", false, "T", "http://t/", "/s", "a/i.html",
         "デフォルトのファイル名に \"/\" は使えません。", "edtDefault"},
        {"all there", false, "T", "http://t/", "/s", "i.html", nullptr, nullptr},
        {"default without title or URL", true, "", "", "/s", "i.html", nullptr, nullptr},
        {"default without save folder", true, "", "", "", "i.html", "保存先が入力されていません。",
         "edtPath"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        TFavoriteItem item;
        f.Dialog.EditItem(&item, c.isDefault);
        f.Dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&f.Dialog));
        f.Edit("edtTitle")->setText(Utf8(c.title));
        f.Edit("edtUrl")->setText(Utf8(c.url));
        f.Edit("edtPath")->setText(Utf8(c.path));
        f.Edit("edtDefault")->setText(Utf8(c.file));
        f.Register();
        if (c.message == nullptr) {
            EXPECT_TRUE(f.Messages().empty());
            EXPECT_EQ(f.Dialog.result(), QDialog::Accepted);
            EXPECT_EQ(item.PathName, "/s/") << "the save folder ends in /";
            continue;
        }
        EXPECT_EQ(f.Messages(), std::vector<QString>{Utf8(c.message)});
        EXPECT_TRUE(f.Dialog.isVisible()) << "stays open";
        EXPECT_EQ(QApplication::focusWidget(), f.Edit(c.focused));
        EXPECT_TRUE(item.Title.empty() && item.PathName.empty()) << "nothing written";
    }
}

TEST(EditFavoriteRegister, OneFavoriteTakesEveryBoxAndIsDatedOnce) {
    Fixture f;
    TFavoriteItem item = Item("old", "/save/", fdBelowUrl, mtBelowUrl);
    item.AllLinks = false;
    f.Dialog.EditItem(&item, false);
    EXPECT_EQ(f.Checked("rgpFolder"), 0);
    EXPECT_EQ(f.Checked("rgpMethod"), 0);
    EXPECT_EQ(f.Checked("rgpTimer"), 1);
    f.Edit("edtTitle")->setText(Utf8("サイト 😀"));
    f.Edit("edtUrl")->setText(QStringLiteral("http://new.test/a/"));
    f.Edit("edtPath")->setText(QStringLiteral("/home/u/サイト/"));
    f.Edit("edtDefault")->setText(QStringLiteral("default.htm"));
    f.Radio("rgpMethod2")->click(); // すべて: the whole URL path with it
    f.Dialog.findChild<QCheckBox*>(QStringLiteral("chkAllLinks"))->setChecked(true);
    f.Register();
    EXPECT_EQ(f.Dialog.result(), QDialog::Accepted);
    EXPECT_EQ(FavoriteToQString(item.Title), Utf8("サイト 😀"));
    EXPECT_EQ(item.Title, Utf8ToAnsi("サイト ") + "&#128512;");
    EXPECT_EQ(item.UrlName, "http://new.test/a/");
    EXPECT_EQ(AnsiToPath(item.PathName), std::filesystem::path("/home/u/サイト/"));
    EXPECT_EQ(item.Default, "default.htm");
    EXPECT_EQ(item.Folder, fdWholeUrl);
    EXPECT_EQ(item.Method, mtAll);
    EXPECT_TRUE(item.AllLinks);
    EXPECT_NE(item.Date.wYear, 0) << "a new favorite is dated now";

    // Registered again, it keeps its date; the default favorite has none.
    const SYSTEMTIME dated = item.Date;
    item.Date.wYear = 2001;
    f.Dialog.EditItem(&item, false);
    f.Register();
    EXPECT_EQ(item.Date.wYear, 2001);
    TFavoriteItem defaults = Item("d", "/d/");
    defaults.Date = dated;
    f.Dialog.EditItem(&defaults, true);
    f.Register();
    EXPECT_TRUE(IsDateUnset(defaults.Date));
}

TEST(EditFavoriteRegister, SeveralFavoritesShowAndChangeOnlyWhatTheyShare) {
    Fixture f;
    TFavoriteItem a = Item("a", "/save/a/"), b = Item("b", "/save/b/"), c = Item("c", "/save/c/");
    b.Date = CurrentLocalTime();
    b.Date.wYear = 2010;
    c.Method = mtSameDomain;
    f.Dialog.EditItems({&a, &b, &c});
    // Save folders differ: empty; file names agree: shown; methods differ: none.
    EXPECT_EQ(f.Edit("edtPath")->text(), QString());
    EXPECT_EQ(f.Edit("edtDefault")->text(), QStringLiteral("index.html"));
    EXPECT_EQ(f.Checked("rgpFolder"), 1);
    EXPECT_EQ(f.Checked("rgpMethod"), -1);
    EXPECT_EQ(f.Dialog.findChild<QCheckBox*>(QStringLiteral("chkAllLinks"))->checkState(),
              Qt::Checked);

    // Registered with the empty boxes: each keeps its own.
    f.Register();
    EXPECT_EQ(f.Dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(f.Messages().empty()) << "no title, URL or folder is asked for";
    EXPECT_EQ(a.PathName, "/save/a/");
    EXPECT_EQ(b.PathName, "/save/b/");
    EXPECT_EQ(c.Method, mtSameDomain);
    EXPECT_EQ(a.Method, mtBelowUrl);
    EXPECT_NE(a.Date.wYear, 0) << "an unset date becomes now";
    EXPECT_EQ(b.Date.wYear, 2010) << "a set one stays";

    // A folder typed replaces all three, a method chosen sets all three.
    f.Dialog.EditItems({&a, &b, &c});
    f.Edit("edtPath")->setText(QStringLiteral("/all"));
    f.Radio("rgpMethod1")->click();
    f.Register();
    for (const TFavoriteItem* item : {&a, &b, &c}) {
        EXPECT_EQ(item->PathName, "/all/") << item->Title;
        EXPECT_EQ(item->Method, mtSameDomain) << item->Title;
        EXPECT_EQ(item->Title.size(), 1u) << "titles are not touched";
    }
}

TEST(EditFavoriteRadios, TheGroupsKeepFolderOneWithMethodOne) {
    Fixture f;
    TFavoriteItem item = Item("x", "/s/", fdBelowUrl, mtBelowUrl);
    f.Dialog.EditItem(&item, false);
    f.Radio("rgpMethod1")->click(); // 同一ドメイン内
    EXPECT_EQ(f.Checked("rgpFolder"), 1) << "URLの最初から作成";
    f.Radio("rgpMethod0")->click();
    EXPECT_EQ(f.Checked("rgpFolder"), 1) << "URL以下 leaves the folder group";
    f.Radio("rgpMethod2")->click();
    f.Radio("rgpFolder0")->click(); // URL以下を作成
    EXPECT_EQ(f.Checked("rgpMethod"), 0) << "URL以下";
}

TEST(EditFavoriteBrowse, PicksAFolderStartingAtTheOneInTheBox) {
    Fixture f;
    TFavoriteItem item = Item("x", "/home/u/site/");
    f.Dialog.EditItem(&item, false);
    QString title, start;
    QString answer = QStringLiteral("/home/u/other");
    f.Dialog.SetFolderPicker([&](QWidget*, const QString& t, const QString& s) {
        title = t;
        start = s;
        return answer;
    });
    f.Dialog.btnBrowseClick();
    EXPECT_EQ(title, Utf8("保存先フォルダを選択してください"));
    EXPECT_EQ(start, QStringLiteral("/home/u/site"));
    EXPECT_EQ(f.Edit("edtPath")->text(), QStringLiteral("/home/u/other/"));
    answer.clear(); // cancelled
    f.Dialog.btnBrowseClick();
    EXPECT_EQ(f.Edit("edtPath")->text(), QStringLiteral("/home/u/other/"));
}

TEST(EditFavoriteCancel, ChangesNothing) {
    Fixture f;
    TFavoriteItem item = Item("keep", "/keep/");
    TFavoriteItem other = Item("other", "/other/");
    const TFavoriteItem before = item;
    test::AnswerNextDialog(QStringLiteral("btnCancel"));
    f.Dialog.EditItems({&item, &other});
    f.Dialog.findChild<QLineEdit*>(QStringLiteral("edtPath"))->setText(QStringLiteral("/x/"));
    EXPECT_EQ(f.Dialog.exec(), QDialog::Rejected);
    EXPECT_EQ(item.PathName, before.PathName);
    EXPECT_TRUE(IsDateUnset(item.Date));
}

} // namespace
} // namespace tarnhold::gui
