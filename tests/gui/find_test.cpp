// The find window driven as a user drives it, over the cache Wine's WinINet
// wrote (its entries held in memory, so that deletions leave the fixture
// alone), inside the main window that opens it.
#include "dragdrop/dragstarter.h"
#include "favorites/favorites.h"
#include "find/browse.h"
#include "find/find.h"
#include "find/findsettings.h"
#include "gui/gui_test_helpers.h"
#include "gui/mainwindowparts.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/mainwindow.h"
#include "platform/codepage.h"
#include "platform/filetime.h"
#include "sources/cachebody.h"
#include "sources/opencache.h"
#include "support/cache_test_helpers.h"
#include "support/cachetreefixture.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;

const fs::path kWine = TARNHOLD_TEST_DATA "/cache/wine-ie-cache/Content.IE5";

QString U(const char* text) {
    return QString::fromUtf8(text);
}

class TempFolder {
public:
    TempFolder() {
        char name[] = "/tmp/tarnhold-find-XXXXXX";
        Path = mkdtemp(name);
    }
    ~TempFolder() { fs::remove_all(Path); }
    fs::path Path;
};

// Message boxes recorded, the delete confirmation answered, files "opened"
// without starting anything.
class TFindPrompts : public test::TRecordingPrompts {
public:
    bool ConfirmDelete(const std::vector<TWebCacheTreeNode*>& nodes) override {
        Confirmed.push_back(nodes.size());
        return DeleteAnswer;
    }
    bool OpenFile(const fs::path& file) override {
        Opened.push_back(file);
        return true;
    }
    bool DeleteAnswer = true;
    std::vector<std::size_t> Confirmed;
    std::vector<fs::path> Opened;
};

std::unique_ptr<TWebCacheTree> WineTree() {
    TError error;
    auto source = OpenCacheSourceAt(kWine, TCacheKind::ckIndexDat, &error);
    EXPECT_TRUE(source) << error.Text();
    return testing::MakeTreeFromRaw(tarnhold::test::ReadAll(*source));
}

// The main window over a tree, started, and its find window shown (not
// modally, so that the test drives it) on the whole cache.
struct Fixture {
    explicit Fixture(std::unique_ptr<TWebCacheTree> tree = WineTree()) : Tree(std::move(tree)) {
        Window = std::make_unique<TfrmMain>(*Tree, Favorites, Home.Path);
        test::TMainWindowParts(*Window).Commands().SetPrompts(&Prompts);
        Window->Start();
        Find = &test::TMainWindowParts(*Window).Commands().FindWindow();
        // Thursday 10 January 2013, noon.
        Find->Today = [] { return MakeSystemTime(2013, 1, 10, 12); };
        Find->SetLocation(Tree.get(), "");
        Find->show();
    }
    ~Fixture() {
        Find = nullptr;
        Window.reset();
    }

    test::TMainWindowParts W() const { return test::TMainWindowParts(*Window); }
    template <typename T> T* Part(const char* name) const {
        T* part = Find->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(part, nullptr) << name;
        return part;
    }
    QAction* Action(const char* name) const { return Part<QAction>(name); }
    TCacheListModel& Model() const { return *Find->ResultList()->Model(); }

    // Starts the search with the criteria set and waits for its end.
    bool Run() {
        if (!Find->StartSearch())
            return false;
        EXPECT_TRUE(QTest::qWaitFor([this] { return !Find->Searching(); }, 60000));
        return true;
    }
    // "name  folder" of every file hit, sorted.
    std::vector<std::string> FileHits() const {
        std::vector<std::string> hits;
        for (int row = 0; row < Model().Count(); ++row) {
            const TWebCacheTreeNode* node = Model().NodeAt(row);
            if (!node->IsFolder)
                hits.push_back(AnsiToUtf8(node->DisplayName()) + "  " + AnsiToUtf8(node->DirUrl()));
        }
        std::sort(hits.begin(), hits.end());
        return hits;
    }
    int RowOf(const char* name) const {
        for (int row = 0; row < Model().Count(); ++row) {
            if (Model().NodeAt(row)->DisplayName() == Utf8ToAnsi(name))
                return row;
        }
        ADD_FAILURE() << "no hit " << name;
        return -1;
    }
    void SelectRows(std::initializer_list<const char*> names) {
        QItemSelectionModel* selection = Find->ResultList()->SelectionModel();
        selection->clearSelection();
        for (const char* name : names)
            selection->select(Model().index(RowOf(name), 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QString Cell(int row, int column) const {
        return Model().data(Model().index(row, column), Qt::DisplayRole).toString();
    }
    // Unchecks every type but these (the page 種類 fills the list).
    void OnlyTypes(std::initializer_list<const char*> extensions) {
        Part<QTabWidget>("pgcFind")->setCurrentIndex(2);
        auto* types = Part<QTreeWidget>("lvwType");
        Part<QPushButton>("btnTypeNone")->click();
        for (const char* ext : extensions) {
            const auto items = types->findItems(QString::fromUtf8(ext), Qt::MatchExactly, 0);
            ASSERT_EQ(items.size(), 1) << ext;
            items.front()->setCheckState(0, Qt::Checked);
        }
    }

    TempFolder Home;
    std::unique_ptr<TWebCacheTree> Tree;
    TFavorites Favorites;
    TFindPrompts Prompts;
    std::unique_ptr<TfrmMain> Window;
    TfrmFind* Find = nullptr;
};

TEST(FindWindow, ShownWithItsDefaults) {
    Fixture f;
    EXPECT_EQ(f.Find->windowTitle(), U("検索: 条件 = すべてのファイル"));
    EXPECT_EQ(f.Part<QLineEdit>("edtLocation")->text(), QStringLiteral("Web Cache"));
    EXPECT_TRUE(f.Part<QCheckBox>("chkSubFolders")->isChecked());
    EXPECT_TRUE(f.Part<QRadioButton>("rdoAll")->isChecked());
    EXPECT_FALSE(f.Part<QDateEdit>("dtpBegin")->isEnabled());
    EXPECT_EQ(f.Part<QDateEdit>("dtpEnd")->date(), QDate(2013, 1, 10));
    EXPECT_EQ(f.Part<QSpinBox>("edtMonths")->value(), 1);
    EXPECT_FALSE(f.Part<QSpinBox>("edtMonths")->isEnabled());
    EXPECT_TRUE(f.Part<QSpinBox>("edtSize1")->text().isEmpty());
    EXPECT_FALSE(f.Part<QSpinBox>("edtSize2")->isEnabled());
    EXPECT_FALSE(f.Part<QPushButton>("btnStop")->isEnabled());
    EXPECT_FALSE(f.Action("actFileDelete")->isEnabled());
    EXPECT_FALSE(f.Find->ResultsShown());
    EXPECT_GE(f.Find->width(), kFindMinWidth);
    EXPECT_GE(f.Find->height(), kFindHeightCriteria);
    // The date modes and the operator switch their controls.
    f.Part<QRadioButton>("rdoMonths")->setChecked(true);
    EXPECT_TRUE(f.Part<QSpinBox>("edtMonths")->isEnabled());
    EXPECT_FALSE(f.Part<QDateEdit>("dtpBegin")->isEnabled());
    f.Part<QRadioButton>("rdoBetween")->setChecked(true);
    EXPECT_TRUE(f.Part<QDateEdit>("dtpBegin")->isEnabled());
    EXPECT_FALSE(f.Part<QSpinBox>("edtMonths")->isEnabled());
    f.Part<QComboBox>("cmbOperator")->setCurrentIndex(3);
    EXPECT_TRUE(f.Part<QSpinBox>("edtSize2")->isEnabled());
    f.Part<QComboBox>("cmbOperator")->setCurrentIndex(1);
    EXPECT_FALSE(f.Part<QSpinBox>("edtSize2")->isEnabled());
    // Every control can be reached by name from the keyboard.
    for (const char* name : {"edtName", "edtContains", "edtLocation", "lvwType", "edtSize1",
                             "cmbOperator", "edtSize2", "dtpBegin", "edtDays"}) {
        auto* w = f.Part<QWidget>(name);
        EXPECT_FALSE(w->accessibleName().isEmpty()) << name;
        EXPECT_NE(w->focusPolicy(), Qt::NoFocus) << name;
    }
}

TEST(FindWindow, NameSearchListsHitsWithTheirFolders) {
    Fixture f;
    f.Part<QLineEdit>("edtName")->setText(QStringLiteral("  faq  "));
    ASSERT_TRUE(f.Run());
    EXPECT_EQ(f.Part<QLineEdit>("edtName")->text(), QStringLiteral("faq")); // trimmed in place
    EXPECT_EQ(f.FileHits(), (std::vector<std::string>{"FAQ.html  http://www.shop.test/",
                                                      "faq~0001.html  http://www.shop.test/"}));
    EXPECT_EQ(f.Model().Count(), 2);
    EXPECT_EQ(f.Find->HitCount(), 2);
    EXPECT_EQ(f.Find->StatusText(), U("2 個のファイルが見つかりました。"));
    EXPECT_EQ(f.Find->windowTitle(), U("検索: 条件 = faq というファイル名"));
    EXPECT_EQ(f.Cell(f.RowOf("FAQ.html"), lcUrlName), QStringLiteral("http://www.shop.test/"));
    EXPECT_EQ(f.Cell(f.RowOf("FAQ.html"), lcTitle), QStringLiteral("FAQ (OLD)"));
    EXPECT_EQ(f.Model().headerData(lcUrlName, Qt::Horizontal, Qt::DisplayRole).toString(),
              U("フォルダ"));
    EXPECT_EQ(f.Model().headerData(lcDate, Qt::Horizontal, Qt::DisplayRole).toString(),
              U("更新日"));
    EXPECT_TRUE(f.Find->ResultsShown());
    EXPECT_TRUE(f.Find->ResultList()->isVisible());
    EXPECT_GT(f.Find->height(), kFindHeightCriteria);
    EXPECT_TRUE(f.Part<QPushButton>("btnStart")->isEnabled());
    EXPECT_FALSE(f.Part<QPushButton>("btnStop")->isEnabled());
    EXPECT_TRUE(f.Part<QLineEdit>("edtName")->isEnabled());
    // A folder hit shows the folder above it.
    f.Part<QLineEdit>("edtName")->setText(U("セール"));
    ASSERT_TRUE(f.Run());
    ASSERT_EQ(f.Model().Count(), 1);
    EXPECT_TRUE(f.Model().NodeAt(0)->IsFolder);
    EXPECT_EQ(f.Cell(0, lcUrlName), QStringLiteral("http://www.shop.test/"));
}

TEST(FindWindow, ContainedTextInEveryJapaneseEncoding) {
    Fixture f;
    // Shift-JIS, EUC-JP and UTF-8 pages all hold the word.
    f.Part<QLineEdit>("edtContains")->setText(U("ニュース"));
    ASSERT_TRUE(f.Run());
    EXPECT_EQ(f.FileHits(),
              (std::vector<std::string>{"index.html  http://news.example.test/",
                                        "index.html  http://news.example.test/economy/",
                                        "商品一覧.html  http://www.shop.test/セール/"}));
    EXPECT_EQ(f.Model().Count(), 3); // a containing text is never a folder's
    EXPECT_EQ(f.Find->windowTitle(), U("検索: 条件 = ニュース を含む"));
    // ISO-2022-JP, without a charset in the page or its headers.
    f.Part<QLineEdit>("edtContains")->setText(U("旅の随筆"));
    ASSERT_TRUE(f.Run());
    EXPECT_EQ(f.FileHits(),
              (std::vector<std::string>{"index.html  http://news.example.test/culture/books/"}));
    // The case option: distinguished, the capital letters must match.
    f.Part<QLineEdit>("edtContains")->setText(QStringLiteral("faq (old)"));
    f.Action("mnuIgnoreCase")->setChecked(true);
    ASSERT_TRUE(f.Run());
    EXPECT_EQ(f.Model().Count(), 0);
    f.Action("mnuIgnoreCase")->setChecked(false);
    ASSERT_TRUE(f.Run());
    EXPECT_EQ(f.FileHits(), (std::vector<std::string>{"FAQ.html  http://www.shop.test/"}));
}

TEST(FindWindow, DateModesWithAFixedClock) {
    Fixture f;
    // Mode 1: one day, with a type criterion (which no folder passes).
    f.Part<QRadioButton>("rdoBetween")->setChecked(true);
    f.Part<QDateEdit>("dtpBegin")->setDate(QDate(2012, 12, 15));
    f.Part<QDateEdit>("dtpEnd")->setDate(QDate(2012, 12, 15));
    f.OnlyTypes({".css", ".js"});
    ASSERT_TRUE(f.Run());
    EXPECT_EQ(f.FileHits(), (std::vector<std::string>{"main.css  http://img.shop.test/static/"}));
    EXPECT_EQ(f.Model().Count(), 1);
    f.Part<QPushButton>("btnTypeAll")->click();

    // Mode 3: the last five days up to today, both ends included; folders
    // pass by their newest file.
    f.Part<QRadioButton>("rdoDays")->setChecked(true);
    f.Part<QSpinBox>("edtDays")->setValue(5);
    ASSERT_TRUE(f.Run());
    EXPECT_EQ(f.FileHits(),
              (std::vector<std::string>{"index.html  http://news.example.test/economy/",
                                        "index.html  http://news.example.test/economy/market/"}));
    for (int row = 0; row < f.Model().Count(); ++row) {
        const SYSTEMTIME& date = f.Model().NodeAt(row)->LastModified();
        EXPECT_TRUE(date.wYear == 2013 && date.wMonth == 1 && date.wDay >= 5 && date.wDay <= 10)
            << AnsiToUtf8(f.Model().NodeAt(row)->DisplayName());
    }

    // Mode 2: one calendar month back, 10 December to 10 January.
    f.Part<QRadioButton>("rdoMonths")->setChecked(true);
    f.Part<QSpinBox>("edtMonths")->setValue(1);
    ASSERT_TRUE(f.Run());
    const std::vector<std::string> month = f.FileHits();
    EXPECT_EQ(month.size(), 10u);
    EXPECT_NE(std::find(month.begin(), month.end(), "wishlist.html  http://www.shop.test/saved/"),
              month.end()); // 12 December
    EXPECT_EQ(std::find(month.begin(), month.end(), "index.html  http://www.shop.test/old-shop/"),
              month.end()); // 9 December
}

TEST(FindWindow, SizeRanges) {
    Fixture f;
    auto* op = f.Part<QComboBox>("cmbOperator");
    auto* first = f.Part<QSpinBox>("edtSize1");
    auto* second = f.Part<QSpinBox>("edtSize2");
    op->setCurrentIndex(2); // 以上 3 KB: shown as 3KB or more
    first->setValue(3);
    f.OnlyTypes({".html"}); // files only
    ASSERT_TRUE(f.Run());
    EXPECT_EQ(f.FileHits(), (std::vector<std::string>{"index.html  http://www.shop.test/"}));
    op->setCurrentIndex(3); // から: 0 to 0 KB, either order
    first->setValue(0);
    second->setValue(0);
    ASSERT_TRUE(f.Run());
    EXPECT_EQ(f.FileHits(),
              (std::vector<std::string>{"index.html  http://www.shop.test/old-shop/"}));
}

TEST(FindWindow, StartChecksAndTheirPages) {
    Fixture f;
    auto* pages = f.Part<QTabWidget>("pgcFind");
    // A location that is not there and no type checked: both messages.
    f.Part<QLineEdit>("edtLocation")->setText(QStringLiteral("http://nowhere.test/"));
    f.OnlyTypes({});
    // Only one of the two checks fails at a time, too.
    EXPECT_FALSE(f.Find->StartSearch());
    ASSERT_EQ(f.Prompts.Messages.size(), 2u);
    EXPECT_EQ(f.Prompts.Messages[0].Caption, U("検索開始エラー"));
    EXPECT_EQ(f.Prompts.Messages[0].Text, U("探す場所が存在しません。"));
    EXPECT_EQ(f.Prompts.Messages[0].Icon, QMessageBox::Warning);
    EXPECT_EQ(f.Prompts.Messages[1].Text, U("種類が選択されていません。"));
    EXPECT_EQ(pages->currentIndex(), 2);
    EXPECT_FALSE(f.Find->Searching());
    EXPECT_FALSE(f.Find->ResultsShown());

    f.Prompts.Messages.clear();
    f.Part<QPushButton>("btnTypeAll")->click();
    EXPECT_FALSE(f.Find->StartSearch());
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_EQ(f.Prompts.Messages[0].Text, U("探す場所が存在しません。"));
    EXPECT_EQ(pages->currentIndex(), 0);

    // The size is asked for only once the other checks pass.
    struct Case {
        const char* name;
        int op;
        int first; // -1: empty
        int second;
        bool message;
    } cases[] = {
        {"から, second empty", 3, 5, -1, true},
        {"から, first empty", 3, -1, 5, true},
        {"以下, first empty", 1, -1, 5, true},
        {"以上, first empty", 2, -1, -1, true},
        {"以下 0", 1, 0, -1, false},
        {"blank operator, boxes empty", 0, -1, -1, false},
    };
    f.Part<QLineEdit>("edtLocation")->setText(QStringLiteral("http://www.shop.test/"));
    for (const Case& c : cases) {
        f.Prompts.Messages.clear();
        pages->setCurrentIndex(0);
        f.Part<QComboBox>("cmbOperator")->setCurrentIndex(c.op);
        f.Part<QSpinBox>("edtSize1")->setValue(c.first);
        f.Part<QSpinBox>("edtSize2")->setValue(c.second);
        EXPECT_EQ(f.Run(), !c.message) << c.name;
        if (c.message) {
            ASSERT_EQ(f.Prompts.Messages.size(), 1u) << c.name;
            EXPECT_EQ(f.Prompts.Messages[0].Text, U("サイズが入力されていません。")) << c.name;
            EXPECT_EQ(pages->currentIndex(), 3) << c.name;
        } else {
            EXPECT_TRUE(f.Prompts.Messages.empty()) << c.name;
        }
    }
}

TEST(FindWindow, CaptionSummarisesTheQuery) {
    Fixture f;
    struct Case {
        const char* contains;
        const char* name;
        const char* caption;
    } cases[] = {
        {"abc", "*.html", "検索: 条件 = abc を含む、*.html というファイル名"},
        {"", "*.gif;*.png", "検索: 条件 = *.gif;*.png というファイル名"},
        {"abc", "", "検索: 条件 = abc を含む"},
        {"", "", "検索: 条件 = すべてのファイル"},
    };
    for (const Case& c : cases) {
        f.Part<QLineEdit>("edtContains")->setText(U(c.contains));
        f.Part<QLineEdit>("edtName")->setText(U(c.name));
        ASSERT_TRUE(f.Run());
        EXPECT_EQ(f.Find->windowTitle(), U(c.caption));
    }
    // A new query asks first, with the window's caption.
    f.Prompts.Answer = QMessageBox::Cancel;
    f.Part<QPushButton>("btnNew")->click();
    EXPECT_TRUE(f.Find->ResultsShown());
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_EQ(f.Prompts.Messages[0].Caption, U("検索: 条件 = すべてのファイル"));
    EXPECT_EQ(f.Prompts.Messages[0].Text, U("現在の検索をクリアします。"));
    f.Prompts.Answer = QMessageBox::Ok;
    f.Part<QPushButton>("btnNew")->click();
    EXPECT_FALSE(f.Find->ResultsShown());
    EXPECT_EQ(f.Model().Count(), 0);
    EXPECT_FALSE(f.Find->ResultList()->isVisible());
}

TEST(FindWindow, DigitOnlyBoxes) {
    Fixture f;
    auto* size = f.Part<QSpinBox>("edtSize1");
    f.Part<QTabWidget>("pgcFind")->setCurrentIndex(3);
    size->setFocus();
    QTest::keyClicks(size, QStringLiteral("1a2-"));
    EXPECT_EQ(size->text(), QStringLiteral("12"));
    EXPECT_EQ(f.Find->Beeps(), 2);
    // The editing keys still work.
    QTest::keyClick(size, Qt::Key_Backspace);
    EXPECT_EQ(size->text(), QStringLiteral("1"));
    EXPECT_EQ(f.Find->Beeps(), 2);
}

// Many entries: a search that runs long enough to be stopped.
std::unique_ptr<TWebCacheTree> ManyEntries(int count) {
    std::vector<testing::TEntrySpec> entries;
    for (int i = 0; i < count; ++i)
        entries.push_back({"http://h" + std::to_string(i % 50) + ".test/d" + std::to_string(i % 7) +
                               "/p" + std::to_string(i) + ".html",
                           "text/html", 1 + i % 28, 100});
    auto tree = testing::MakeTree(entries);
    return tree;
}

TEST(FindWindow, StopAndCloseEndTheSearch) {
    Fixture f(ManyEntries(20000));
    ASSERT_TRUE(f.Find->StartSearch());
    EXPECT_TRUE(f.Part<QPushButton>("btnStop")->isEnabled());
    EXPECT_FALSE(f.Part<QLineEdit>("edtName")->isEnabled());
    EXPECT_EQ(f.Find->StatusText(), U("検索中..."));
    f.Part<QPushButton>("btnStop")->click();
    EXPECT_FALSE(f.Find->Searching());
    EXPECT_TRUE(f.Part<QPushButton>("btnStart")->isEnabled());
    EXPECT_TRUE(f.Part<QLineEdit>("edtName")->isEnabled());
    EXPECT_EQ(f.Find->StatusText(), U("%1 個のファイルが見つかりました。").arg(f.Find->HitCount()));
    EXPECT_EQ(f.Model().Count(), f.Find->HitCount());
    const int stopped = f.Model().Count();
    QTest::qWait(100); // nothing arrives after the stop
    EXPECT_EQ(f.Model().Count(), stopped);

    ASSERT_TRUE(f.Find->StartSearch());
    f.Find->close();
    EXPECT_FALSE(f.Find->Searching());
    EXPECT_FALSE(f.Find->isVisible());
}

TEST(FindWindow, DeletingHitsTakesThemFromBothWindows) {
    Fixture f;
    f.W().Tree()->SelectPath("http://www.shop.test/");
    f.W().Commands().ShowSelectedFolder();
    const int mainRows = f.W().List()->Model()->Count();
    f.Part<QLineEdit>("edtName")->setText(QStringLiteral("faq;robots"));
    ASSERT_TRUE(f.Run());
    ASSERT_EQ(f.Model().Count(), 3);
    f.SelectRows({"FAQ.html", "robots.txt"});
    EXPECT_TRUE(f.Action("actFileDelete")->isEnabled());
    f.Prompts.DeleteAnswer = false;
    f.Action("actFileDelete")->trigger();
    EXPECT_EQ(f.Model().Count(), 3); // "no" keeps them
    f.Prompts.DeleteAnswer = true;
    f.Action("actFileDelete")->trigger();
    EXPECT_EQ(f.Prompts.Confirmed, (std::vector<std::size_t>{2, 2}));
    EXPECT_EQ(f.FileHits(), (std::vector<std::string>{"faq~0001.html  http://www.shop.test/"}));
    EXPECT_EQ(f.Find->StatusText(), U("1 個のファイルが見つかりました。"));
    EXPECT_EQ(f.Tree->FindNodeByUrl("http://www.shop.test/robots.txt"), nullptr);
    EXPECT_EQ(f.W().List()->Model()->Count(), mainRows - 2);
    EXPECT_EQ(f.W().StatusText(0), U("%1 個のオブジェクト").arg(mainRows - 2));
}

TEST(FindWindow, HitsOutliveAResetOfTheirFolder) {
    // Deleting every other file of a large folder resets the tree's rows;
    // the hits that stay are still listed, the others gone.
    std::vector<testing::TEntrySpec> entries;
    for (int i = 0; i < 40; ++i)
        entries.push_back({"http://big.test/f" + std::to_string(100 + i) + ".gif", "image/gif"});
    Fixture f(testing::MakeTree(entries));
    f.Part<QLineEdit>("edtName")->setText(QStringLiteral("f1"));
    ASSERT_TRUE(f.Run());
    ASSERT_EQ(f.Model().Count(), 40);
    f.W().Tree()->SelectPath("http://big.test/");
    f.W().Commands().ShowSelectedFolder();
    QItemSelectionModel* selection = f.W().List()->SelectionModel();
    for (int row = 0; row < f.W().List()->Model()->Count(); row += 2)
        selection->select(f.W().List()->Model()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    f.W().Commands().DeleteSelection(false);
    ASSERT_EQ(f.W().List()->Model()->Count(), 20);
    ASSERT_EQ(f.Model().Count(), 20);
    for (int row = 0; row < f.Model().Count(); ++row) {
        TWebCacheTreeNode* node = f.Model().NodeAt(row);
        EXPECT_EQ(f.Tree->FindNodeByUrl(node->UrlText()), node);
    }
    EXPECT_EQ(f.Find->StatusText(), U("20 個のファイルが見つかりました。"));
    // A refresh replaces every node: the hits go.
    f.W().Action("actCacheRefresh")->trigger();
    EXPECT_EQ(f.Model().Count(), 0);
}

TEST(FindWindow, OpeningHits) {
    Fixture f;
    f.Part<QLineEdit>("edtName")->setText(QStringLiteral("robots;kb"));
    ASSERT_TRUE(f.Run());
    f.SelectRows({"robots.txt"});
    emit f.Find->ResultList()->nodeActivated(f.Model().NodeAt(f.RowOf("robots.txt")));
    ASSERT_EQ(f.Prompts.Opened.size(), 1u);
    EXPECT_EQ(f.Prompts.Opened[0].filename(), "robots.txt");
    EXPECT_EQ(tarnhold::test::ReadFileBytes(f.Prompts.Opened[0]).size(), 94u);
    f.SelectRows({"kb"});
    const int beeps = f.Find->Beeps();
    emit f.Find->ResultList()->nodeActivated(f.Model().NodeAt(f.RowOf("kb")));
    EXPECT_EQ(f.Prompts.Opened.size(), 1u);
    EXPECT_EQ(f.Find->Beeps(), beeps + 1);
}

TEST(FindWindow, ListCommandsOnTheHits) {
    Fixture f;
    f.Part<QLineEdit>("edtName")->setText(QStringLiteral("faq;robots;kb"));
    ASSERT_TRUE(f.Run());
    ASSERT_EQ(f.Model().Count(), 4);
    // Rows stay in the order found until sorted; a column click sorts, a
    // second click on it turns the order round.
    auto* header = f.Find->ResultList()->DetailsView()->header();
    emit header->sectionClicked(lcSize);
    EXPECT_EQ(f.Find->ResultList()->SortType(), lsSize);
    EXPECT_EQ(f.Find->ResultList()->SortOrder(), 0);
    EXPECT_TRUE(f.Model().NodeAt(0)->IsFolder); // folders first
    EXPECT_EQ(f.Model().NodeAt(1)->DisplayName(), "robots.txt");
    emit header->sectionClicked(lcSize);
    EXPECT_EQ(f.Find->ResultList()->SortOrder(), 1);
    f.Action("actListSortByFolder")->trigger();
    EXPECT_EQ(f.Find->ResultList()->SortType(), lsUrlName);
    EXPECT_EQ(f.Find->ResultList()->SortOrder(), 0);
    // Select all, invert, and what the selection enables.
    f.Action("actListSelectAll")->trigger();
    EXPECT_EQ(f.Find->SelectedHits().size(), 4u);
    EXPECT_TRUE(f.Action("actFileCopy")->isEnabled());
    EXPECT_TRUE(f.Action("actFileShowProperty")->isEnabled());
    f.Action("actListItemChange")->trigger();
    EXPECT_TRUE(f.Find->SelectedHits().empty());
    EXPECT_FALSE(f.Action("actFileDelete")->isEnabled());
    f.SelectRows({"kb", "robots.txt"});
    f.Action("actListItemChange")->trigger();
    EXPECT_EQ(f.Find->SelectedHits().size(), 2u);
    // The view styles check themselves and switch line-up.
    f.Action("actListLargeIcon")->trigger();
    EXPECT_EQ(f.Find->ResultList()->ViewStyle(), vsIcon);
    EXPECT_TRUE(f.Action("actListLineUp")->isEnabled());
    EXPECT_FALSE(f.Action("actListDetailIcon")->isChecked());
    f.Action("actListDetailIcon")->trigger();
    EXPECT_FALSE(f.Action("actListLineUp")->isEnabled());
    // Properties of the selected hits, in a window of their own.
    f.Action("actFileShowProperty")->trigger();
    QWidget* property = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->objectName() == QStringLiteral("frmProperty") && top->isVisible())
            property = top;
    }
    ASSERT_NE(property, nullptr);
    property->close();
}

TEST(FindWindow, CopyingHitsIntoOneFolder) {
    Fixture f;
    f.Part<QLineEdit>("edtName")->setText(QStringLiteral("robots;kb;main.css"));
    ASSERT_TRUE(f.Run());
    f.SelectRows({"kb", "robots.txt", "main.css"});
    f.Action("actFileCopy")->trigger();
    const fs::path temp = f.Find->TempFolder();
    ASSERT_FALSE(temp.empty());
    // Files first, then folders, side by side.
    std::vector<std::string> names;
    for (const fs::path& file : f.Find->ClipboardFiles()) {
        EXPECT_EQ(file.parent_path(), temp);
        names.push_back(file.filename().string());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"main.css", "robots.txt", "kb"}));
    EXPECT_TRUE(fs::is_regular_file(temp / "kb" / "article.htm"));
    EXPECT_EQ(QApplication::clipboard()->mimeData()->urls().size(), 3);
    const fs::path first = temp;
    f.Action("actFileCopy")->trigger();
    EXPECT_FALSE(fs::exists(first)); // the last copy's folder goes
}

TEST(FindWindow, DraggingHitsCopiesThemWhenTheTargetAsks) {
    Fixture f;
    f.Part<QLineEdit>("edtName")->setText(QStringLiteral("index.html"));
    ASSERT_TRUE(f.Run());
    ASSERT_GE(f.Model().Count(), 2);
    // The index.html files of several folders: one file is dragged, the
    // newest.
    QItemSelectionModel* selection = f.Find->ResultList()->SelectionModel();
    const TWebCacheTreeNode* newest = nullptr;
    auto selectFiles = [&] {
        selection->clearSelection();
        for (int row = 0; row < f.Model().Count(); ++row) {
            const TWebCacheTreeNode* node = f.Model().NodeAt(row);
            if (node->IsFolder || node->DisplayName() != "index.html")
                continue;
            selection->select(f.Model().index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
            if (newest == nullptr ||
                CompareSystemTime(node->LastModified(), newest->LastModified()) > 0)
                newest = node;
        }
    };
    selectFiles();
    ASSERT_GE(selection->selectedRows().size(), 2);
    QAbstractItemView* view = f.Find->ResultList()->CurrentView();
    const QPoint from = view->visualRect(selection->selectedRows().front()).center();
    QList<QUrl> urls;
    int drags = 0;
    f.Find->DragHook = [&](QMimeData* data) {
        ++drags;
        EXPECT_TRUE(f.Find->TempFolder().empty()) << "copied before the target asked";
        urls = data->urls();
    };
    QWidget* port = view->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, from, port->mapToGlobal(from), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(port, &press);
    selectFiles(); // the press selected its row alone
    const QPoint to = from + QPoint(0, 2 * TDragStarter::Distance());
    QMouseEvent move(QEvent::MouseMove, to, port->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(port, &move);
    ASSERT_EQ(drags, 1);
    const fs::path temp = f.Find->TempFolder();
    ASSERT_EQ(urls, QList<QUrl>{QUrl::fromLocalFile(
                        QString::fromStdString((temp / "index.html").string()))});
    // The newest page's own words (its links may be rewritten).
    std::string cached;
    ASSERT_FALSE(ReadCacheBody(newest->Info(), cached, kMinDecodedLimit));
    const std::size_t open = cached.find("<title>");
    ASSERT_NE(open, std::string::npos);
    const std::string title = cached.substr(open, cached.find("</title>") - open);
    EXPECT_NE(tarnhold::test::ReadFileBytes(temp / "index.html").find(title), std::string::npos)
        << title;
    // Nothing is dropped onto the hit list.
    EXPECT_FALSE(view->viewport()->acceptDrops());
}

TEST(FindWindow, BrowseDialogSelectsAndReturnsFolders) {
    Fixture f;
    TfrmBrowse& browse = f.Find->BrowseDialogMade();
    browse.Prepare(*f.Tree, QStringLiteral("http://www.shop.test/kb/"));
    EXPECT_EQ(browse.TreeView()->SelectedPath(), "http://www.shop.test/kb/");
    EXPECT_EQ(browse.Result(), QStringLiteral("http://www.shop.test/kb/"));
    QTreeWidgetItem* root = browse.TreeView()->RootItem();
    browse.Prepare(*f.Tree, QStringLiteral("Web Cache"));
    EXPECT_EQ(browse.TreeView()->RootItem(), root); // filled once, reused
    EXPECT_EQ(browse.TreeView()->currentItem(), root);
    EXPECT_EQ(browse.Result(), QStringLiteral("Web Cache"));
    // Through the button: OK puts the choice into the location box.
    f.Part<QLineEdit>("edtLocation")->setText(QStringLiteral("http://img.shop.test/static/"));
    test::AnswerNextDialog(QStringLiteral("btnOk"));
    f.Part<QPushButton>("btnBrowse")->click();
    EXPECT_EQ(f.Part<QLineEdit>("edtLocation")->text(),
              QStringLiteral("http://img.shop.test/static/"));
    test::AnswerNextDialog(QStringLiteral("btnCancel"));
    f.Part<QPushButton>("btnBrowse")->click();
    EXPECT_EQ(f.Part<QLineEdit>("edtLocation")->text(),
              QStringLiteral("http://img.shop.test/static/"));
    // A folder deleted from the cache leaves the dialog's tree.
    ASSERT_TRUE(f.Tree->DeleteByUrl("http://www.shop.test/kb/").Ok());
    browse.Prepare(*f.Tree, QStringLiteral("Web Cache"));
    EXPECT_EQ(browse.TreeView()->FindItemByPath("http://www.shop.test/kb/"), nullptr);
}

TEST(FindWindow, FindDatWrittenAndReadBack) {
    TempFolder home;
    const fs::path file = home.Path / "find.dat";
    {
        TfrmFind find(nullptr, file);
        find.resize(700, find.height());
        find.findChild<QAction*>(QStringLiteral("mnuIgnoreCase"))->setChecked(true);
        find.ResultList()->SetColumnWidth(1, 123);
        find.ResultList()->SetSort(1, lsSize);
        find.findChild<QAction*>(QStringLiteral("actListListIcon"))->trigger();
    }
    const std::string text = tarnhold::test::ReadFileBytes(file);
    EXPECT_EQ(text.substr(0, text.find("Col01")), "[General]\r\nWidth=700\r\nIgnoreCase=1\r\n"
                                                  "[List]\r\n");
    const TFindSettings s = ReadFindSettings(file);
    EXPECT_EQ(s.Width, 700);
    EXPECT_TRUE(s.IgnoreCase);
    EXPECT_EQ(s.Columns[1], 123);
    EXPECT_EQ(s.SortType, lsSize);
    EXPECT_EQ(s.SortOrder, 1);
    EXPECT_EQ(s.ViewStyle, vsList);
    EXPECT_LT(text.find("SortType"), text.find("SortOrder"));
    EXPECT_LT(text.find("AutoArrange"), text.find("ViewStyle"));

    TfrmFind again(nullptr, file);
    EXPECT_EQ(again.width(), 700);
    EXPECT_TRUE(again.findChild<QAction*>(QStringLiteral("mnuIgnoreCase"))->isChecked());
    EXPECT_EQ(again.ResultList()->ColumnWidth(1), 123);
    EXPECT_EQ(again.ResultList()->SortType(), lsSize);
    EXPECT_EQ(again.ResultList()->ViewStyle(), vsList);

    // Defaults, and a width below the least.
    std::ofstream(home.Path / "odd.dat") << "[General]\r\nWidth=300\r\n[List]\r\nViewStyle=9\r\n";
    TfrmFind odd(nullptr, home.Path / "odd.dat");
    EXPECT_EQ(odd.width(), kFindMinWidth);
    EXPECT_EQ(odd.ResultList()->ViewStyle(), vsReport);
    EXPECT_EQ(odd.ResultList()->SortType(), lsName);
}

TEST(FindWindow, MainWindowOpensItForTheSelectedFolder) {
    Fixture f;
    f.Find->hide();
    EXPECT_TRUE(f.W().Action("actCacheFind")->isVisible());
    EXPECT_EQ(f.W().Action("actCacheFind")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    f.W().Tree()->setFocus();
    f.W().Tree()->SelectPath("http://www.shop.test/kb/");
    QString location;
    test::OnNextDialog([&](QWidget* dialog) {
        location = dialog->findChild<QLineEdit*>(QStringLiteral("edtLocation"))->text();
        dialog->close();
    });
    f.W().Action("actCacheFind")->trigger();
    EXPECT_EQ(location, QStringLiteral("http://www.shop.test/kb/"));
    // The root stands for the whole cache.
    f.W().Tree()->setCurrentItem(f.W().Tree()->RootItem());
    test::OnNextDialog([&](QWidget* dialog) {
        location = dialog->findChild<QLineEdit*>(QStringLiteral("edtLocation"))->text();
        dialog->close();
    });
    f.W().Action("actCacheFind")->trigger();
    EXPECT_EQ(location, QStringLiteral("Web Cache"));
}

} // namespace
} // namespace tarnhold::gui
