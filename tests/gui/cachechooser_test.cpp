// Choosing the cache the window shows, and what the window says about a
// cache it could not read whole.
#include "app/japanese.h"
#include "app/qtconvert.h"
#include "favorites/favorites.h"
#include "gui/mainwindowparts.h"
#include "gui_test_helpers.h"
#include "mainwindow/cachechooser.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/mainwindow.h"
#include "sources/cachelocation.h"
#include "sources/opencache.h"
#include "support/cachetreefixture.h"
#include "tree/recordfile.h"
#include "tree/webcachetree.h"

#include <QApplication>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;

const fs::path kData = TARNHOLD_TEST_DATA;
const fs::path kChromium = kData / "browsers" / "chromium";
const fs::path kFirefox = kData / "browsers" / "firefox";
const fs::path kWine = kData / "cache" / "wine-ie-cache";
const fs::path kWineIndex = kWine / "Content.IE5" / "index.dat";

class TempFolder {
public:
    TempFolder() {
        char name[] = "/tmp/tarnhold-chooser-XXXXXX";
        Path = mkdtemp(name);
    }
    ~TempFolder() { fs::remove_all(Path); }
    fs::path Path;
};

// Answers the chooser with Answer and records what it was offered.
class TChoosingPrompts : public test::TRecordingPrompts {
public:
    using TRecordingPrompts::TRecordingPrompts;
    bool ChooseCache(const std::vector<TFoundCache>& caches, const fs::path& current,
                     TFoundCache& chosen) override {
        Offered = caches;
        Current = current;
        ++Asked;
        if (!Choice)
            return false;
        chosen = *Choice;
        return true;
    }
    std::optional<TFoundCache> Choice;
    std::vector<TFoundCache> Offered;
    fs::path Current;
    int Asked = 0;
};

// A window over a small cache held in memory, as the demo cache is shown.
struct Fixture {
    Fixture() {
        Tree = testing::MakeTree({
            {"http://www.a.test/index.html", "text/html", 3, 1000},
            {"http://www.a.test/b.gif", "image/gif", 4, 2000},
        });
        Window = std::make_unique<TfrmMain>(*Tree, Favorites, Home.Path);
        W().Commands().SetPrompts(&Prompts);
        W().Commands().SetCurrentCache({"/demo/cache", "demo", TCacheKind::ckIndexDat});
        W().Commands().FindCaches = [] {
            return std::vector<TFoundCache>{
                {"/demo/cache", "demo", TCacheKind::ckIndexDat},
                {kChromium, "kept", TCacheKind::ckChromium},
            };
        };
        Window->Start();
    }
    ~Fixture() { Window.reset(); }

    test::TMainWindowParts W() const { return test::TMainWindowParts(*Window); }

    int ListRowsAt(const char* url) {
        W().Tree()->SelectPath(url);
        EXPECT_EQ(W().Tree()->SelectedPath(), url);
        return W().List()->Model()->Count();
    }

    TempFolder Home;
    std::unique_ptr<TWebCacheTree> Tree;
    TFavorites Favorites;
    TChoosingPrompts Prompts;
    std::unique_ptr<TfrmMain> Window;
};

// The first size bytes of the Wine-written index.dat, as the only file of
// folder/Content.IE5.
fs::path TruncatedIndex(const fs::path& folder, std::uintmax_t size) {
    const fs::path cache = folder / "Content.IE5";
    fs::create_directories(cache);
    std::ifstream in(kWineIndex, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bytes.resize(std::min<std::size_t>(bytes.size(), size));
    std::ofstream(cache / "index.dat", std::ios::binary) << bytes;
    return cache;
}

TEST(CacheChooserWindow, ChoosingTheChromiumCacheRebuildsTreeAndList) {
    Fixture f;
    const test::TMainWindowParts w = f.W();
    EXPECT_GT(f.ListRowsAt("http://www.a.test/"), 0);

    f.Prompts.Choice = TFoundCache{kChromium, "kept", TCacheKind::ckChromium};
    w.Action("mnuChooseCache")->trigger();
    EXPECT_EQ(f.Prompts.Asked, 1);
    ASSERT_EQ(f.Prompts.Offered.size(), 2u);
    EXPECT_EQ(f.Prompts.Current, fs::path("/demo/cache"));

    EXPECT_EQ(w.Commands().CurrentCache().Folder, kChromium);
    EXPECT_EQ(w.Commands().CurrentCache().Kind, TCacheKind::ckChromium);
    EXPECT_EQ(f.Tree->FindFolderByUrl("http://www.a.test/"), nullptr);
    EXPECT_NE(f.Tree->FindFolderByUrl("http://127.0.0.1:8765/"), nullptr);
    EXPECT_GE(f.ListRowsAt("http://127.0.0.1:8765/"), 3);
    EXPECT_FALSE(w.ProgressVisible());
    EXPECT_TRUE(w.Window().isEnabled());
    EXPECT_TRUE(w.CacheProblemText().isEmpty());
    EXPECT_TRUE(f.Prompts.Messages.empty());

    // The chooser then starts at the Chromium cache; cancelling keeps it.
    f.Prompts.Choice.reset();
    w.Action("mnuChooseCache")->trigger();
    EXPECT_EQ(f.Prompts.Current, kChromium);
    EXPECT_NE(f.Tree->FindFolderByUrl("http://127.0.0.1:8765/"), nullptr);
}

TEST(CacheChooserWindow, ACacheThatCannotBeOpenedKeepsTheOldOneAndSaysWhy) {
    Fixture f;
    TempFolder empty;
    // A Firefox cache needs its entries folder.
    f.Prompts.Choice = TFoundCache{empty.Path, "empty", TCacheKind::ckFirefox};
    f.W().Action("mnuChooseCache")->trigger();
    ASSERT_EQ(f.Prompts.Messages.size(), 1u);
    EXPECT_EQ(f.Prompts.Messages[0].Icon, QMessageBox::Warning);
    EXPECT_EQ(f.W().Commands().CurrentCache().Folder, fs::path("/demo/cache"));
    EXPECT_GT(f.ListRowsAt("http://www.a.test/"), 0);
}

// The caption names the kind of the cache read: the one opened, never one
// that could not be.
TEST(CacheChooserWindow, TheCaptionNamesTheKindOfTheCacheRead) {
    Fixture f;
    const test::TMainWindowParts w = f.W();
    const std::string program = QApplication::applicationDisplayName().toStdString();
    const auto caption = [&] { return w.Window().windowTitle().toStdString(); };
    EXPECT_EQ(caption(), program + " for MSIE");
    TempFolder empty;
    const struct {
        const char* name;
        TFoundCache cache;
        bool opens;
        const char* caption;
    } cases[] = {
        {"Chromium", {kChromium, "chromium", TCacheKind::ckChromium}, true, " for Chromium"},
        {"Firefox that cannot be opened",
         {empty.Path, "empty", TCacheKind::ckFirefox},
         false,
         " for Chromium"},
        {"Firefox", {kFirefox / "cache2", "firefox", TCacheKind::ckFirefox}, true, " for Firefox"},
        {"index.dat", {kWine / "Content.IE5", "wine", TCacheKind::ckIndexDat}, true, " for MSIE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(w.Commands().OpenCache(c.cache), c.opens);
        EXPECT_EQ(caption(), program + c.caption);
    }
    // A browser's cache found at start but not readable still names its kind.
    w.Commands().SetCurrentCache({{}, {}, TCacheKind::ckFirefox});
    EXPECT_EQ(caption(), program + " for Firefox");
}

TEST(CacheChooserWindow, WhatADamagedCacheCouldNotReadIsInTheStatusBar) {
    const struct {
        const char* name;
        const char* folderName;
        std::uintmax_t size;
        bool damaged;
    } cases[] = {
        {"whole file", "whole", 1u << 30, false},
        {"cut at 20000 bytes", "cut", 20000, true},
        {"cut inside the header", "header", 100, true},
        {"cut, control character in the folder", "bad\x01name", 20000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        TempFolder copy;
        const fs::path cache = TruncatedIndex(copy.Path / c.folderName, c.size);
        ASSERT_TRUE(f.W().Commands().OpenCache({cache, "copy", TCacheKind::ckIndexDat}));
        const QString problem = f.W().CacheProblemText();
        EXPECT_EQ(!problem.isEmpty(), c.damaged) << problem.toStdString();
        if (c.damaged) {
            EXPECT_TRUE(problem.contains(QStringLiteral("damaged")) ||
                        problem.contains(QStringLiteral("index.dat")))
                << problem.toStdString();
        }
        for (QChar ch : problem)
            EXPECT_GE(ch.unicode(), 0x20) << problem.toStdString();
        if (std::string(c.folderName).find('\x01') != std::string::npos) {
            EXPECT_TRUE(problem.contains(QStringLiteral("bad\\x01name"))) << problem.toStdString();
        }
        // The next refresh says it again.
        f.W().Action("actCacheRefresh")->trigger();
        EXPECT_EQ(f.W().CacheProblemText(), problem);
    }
}

// The records of a rename list file, "key=value".
std::vector<std::string> Records(const fs::path& file) {
    std::vector<std::string> out;
    ReadRecordFile(file, [&](std::string_view k, std::string_view v) {
        out.push_back(std::string(k) + "=" + std::string(v));
    });
    return out;
}

TEST(CacheChooserWindow, EachCacheKeepsItsOwnRenameList) {
    Fixture f;
    // Names an earlier version gave, in the one list every cache shared.
    const fs::path shared = f.Home.Path / "renameList.dat";
    std::ofstream(shared, std::ios::binary)
        << "http://127.0.0.1:8765/search.html?q=tarnhold\thttp://127.0.0.1:8765/found.html\r\n"
           "http://www.shop.test/product.aspx?sku=A-1001&color=red\t"
           "http://www.shop.test/red-shoe.html\r\n"
           "http://elsewhere.test/x.cgi\thttp://elsewhere.test/x.html\r\n";
    const TFoundCache chromium{kChromium, "chromium", TCacheKind::ckChromium};
    ASSERT_TRUE(f.W().Commands().OpenCache(chromium));
    EXPECT_NE(f.Tree->FindNodeByUrl("http://127.0.0.1:8765/found.html"), nullptr);
    const fs::path chromiumList = f.Tree->RenameListFile();
    EXPECT_EQ(chromiumList.parent_path(), f.Home.Path / "renameLists");

    ASSERT_TRUE(
        f.W().Commands().OpenCache({kWine / "Content.IE5", "wine", TCacheKind::ckIndexDat}));
    EXPECT_NE(f.Tree->FindNodeByUrl("http://www.shop.test/red-shoe.html"), nullptr);
    EXPECT_NE(f.Tree->RenameListFile(), chromiumList);
    // The Chromium cache's list was saved when the window left it, with its
    // own names only.
    const std::vector<std::string> saved = Records(chromiumList);
    EXPECT_NE(std::find(saved.begin(), saved.end(),
                        "http://127.0.0.1:8765/search.html?q=tarnhold="
                        "http://127.0.0.1:8765/found.html"),
              saved.end());
    for (const std::string& record : saved)
        EXPECT_EQ(record.rfind("http://127.0.0.1:8765/", 0), 0u) << record;

    // Back to the Chromium cache: its own list, the shared one read no more.
    ASSERT_TRUE(f.W().Commands().OpenCache(chromium));
    EXPECT_EQ(f.Tree->RenameListFile(), chromiumList);
    EXPECT_FALSE(f.Tree->RenameListMigrating());
    EXPECT_EQ(Records(shared), (std::vector<std::string>{
                                   "http://elsewhere.test/x.cgi=http://elsewhere.test/x.html"}))
        << "the record no cache held stays";
}

TEST(CacheChooserWindow, ADamagedRenameListOfTheCacheOpenedIsInTheStatusBar) {
    Fixture f;
    const fs::path list = f.Home.Path / "renameLists" /
                          RenameListFileName(CacheIdentityPath(kChromium, TCacheKind::ckChromium));
    fs::create_directories(list.parent_path());
    std::ofstream(list, std::ios::binary)
        << "no tab\r\nhttp://x.test/a.cgi\thttp://x.test/a.html\r\n";
    ASSERT_TRUE(f.W().Commands().OpenCache({kChromium, "chromium", TCacheKind::ckChromium}));
    const QString problem = f.W().CacheProblemText();
    EXPECT_TRUE(problem.contains(QStringLiteral("renameLists/") + PathToQString(list.filename()) +
                                 QString::fromUtf8(": 壊れたレコード 1 件を読み飛ばしました")))
        << problem.toStdString();
    // Another cache, another list: the problem goes with the list.
    ASSERT_TRUE(
        f.W().Commands().OpenCache({kWine / "Content.IE5", "wine", TCacheKind::ckIndexDat}));
    EXPECT_FALSE(f.W().CacheProblemText().contains(QStringLiteral("renameLists/")))
        << f.W().CacheProblemText().toStdString();
}

TEST(CacheChooserDialog, ListsEveryCacheWithTheCurrentOneSelected) {
    test::TRecordingPrompts prompts;
    const std::vector<TFoundCache> caches = {
        {"/a/Content.IE5", "Wine", TCacheKind::ckIndexDat},
        {kChromium, "chromium", TCacheKind::ckChromium},
        {kFirefox, "firefox", TCacheKind::ckFirefox},
    };
    TfrmCacheChooser dialog(prompts, caches, kChromium / "", nullptr);
    ASSERT_EQ(dialog.lvwCaches->topLevelItemCount(), 3);
    const char* kinds[] = {"index.dat", "Chromium", "Firefox"};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(dialog.lvwCaches->topLevelItem(i)->text(1), QString::fromLatin1(kinds[i]));
    ASSERT_TRUE(dialog.Selected());
    EXPECT_EQ(dialog.Selected()->Folder, kChromium);
    EXPECT_TRUE(dialog.btnOK->isEnabled());

    TfrmCacheChooser none(prompts, {}, {}, nullptr);
    EXPECT_FALSE(none.Selected());
    EXPECT_FALSE(none.btnOK->isEnabled());
}

TEST(CacheChooserDialog, WhereACacheWasFoundIsSaidInJapanese) {
    struct TCase {
        const char* english;
        const char* japanese;
    } const cases[] = {
        {"the demo cache", "デモ用キャッシュ"},
        {"Chromium, profile Default", "Chromium (プロファイル Default)"},
        {"Google Chrome, profile Profile 1, the newest of 3 browser caches",
         "Google Chrome (プロファイル Profile 1)、3 個のブラウザキャッシュのうち最新"},
        {"the Wine prefix /home/u/.wine (user u)",
         "Wine プレフィックス /home/u/.wine (ユーザー u)"},
        {"the demo cache; no cache in the Wine prefix /w",
         "デモ用キャッシュ（Wine プレフィックス /w にはキャッシュなし）"},
        {"--cache, a Firefox cache found below it", "--cache、下にある Firefox のキャッシュ"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JapaneseWhere(c.english).toStdString(), c.japanese) << c.english;
}

TEST(CacheChooserDialog, AFolderPickedByHandIsTakenOnlyWhenItHoldsACache) {
    test::TRecordingPrompts prompts;
    TempFolder empty;
    const struct {
        const char* name;
        fs::path folder;
        std::optional<TCacheKind> kind;
    } cases[] = {
        {"Chromium cache", kChromium, TCacheKind::ckChromium},
        {"Wine cache folder above Content.IE5", kWine, TCacheKind::ckIndexDat},
        {"empty folder", empty.Path, std::nullopt},
        {"missing folder", empty.Path / "missing", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TfrmCacheChooser dialog(prompts, {{"/a/Content.IE5", "Wine", TCacheKind::ckIndexDat}}, {},
                                nullptr);
        prompts.Messages.clear();
        EXPECT_EQ(dialog.AcceptFolder(c.folder), c.kind.has_value());
        if (c.kind) {
            EXPECT_EQ(dialog.lvwCaches->topLevelItemCount(), 2);
            ASSERT_TRUE(dialog.Selected());
            EXPECT_EQ(dialog.Selected()->Kind, *c.kind);
            EXPECT_TRUE(prompts.Messages.empty());
            // Picking it again selects its row instead of adding another.
            EXPECT_TRUE(dialog.AcceptFolder(c.folder));
            EXPECT_EQ(dialog.lvwCaches->topLevelItemCount(), 2);
        } else {
            EXPECT_EQ(dialog.lvwCaches->topLevelItemCount(), 1);
            EXPECT_EQ(dialog.Selected()->Folder, fs::path("/a/Content.IE5"));
            ASSERT_EQ(prompts.Messages.size(), 1u);
            EXPECT_EQ(prompts.Messages[0].Icon, QMessageBox::Warning);
        }
    }
}

} // namespace
} // namespace tarnhold::gui
