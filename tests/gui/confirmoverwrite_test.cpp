#include "copy/confirmoverwrite.h"
#include "copy/copyprompts.h"
#include "gui/gui_test_helpers.h"
#include "platform/files.h"
#include "support/cache_test_helpers.h"
#include "support/cachetreefixture.h"

#include <QPushButton>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;
using tarnhold::test::TTempDir;

struct TOverwriteFixture {
    TOverwriteFixture() {
        tree = testing::MakeTree({{"http://h1/a/page.html", "text/html", 3, 1234567}});
        testing::Refresh(*tree);
        node = tree->FindNodeByUrl("http://h1/a/page.html");
        local = dir.Path() / "page.html";
        tarnhold::test::WriteFileBytes(local, "0123456789");
        // 2026-11-05 03:04:05 UTC, 12:04:05 in Tokyo.
        (void)SetFileTimeUtc(local, UnixTimeToFileTime(1793847845));
    }
    TTempDir dir;
    std::unique_ptr<TWebCacheTree> tree;
    TWebCacheTreeNode* node = nullptr;
    fs::path local;
};

TEST(ConfirmOverwrite, EachButtonGivesItsAnswer) {
    const struct {
        const char* button;
        TOverwriteAnswer answer;
    } cases[] = {
        {"btnYes", TOverwriteAnswer::Yes},     {"btnYesToAll", TOverwriteAnswer::YesToAll},
        {"btnNo", TOverwriteAnswer::No},       {"btnCancel", TOverwriteAnswer::Cancel},
        {"btnNewer", TOverwriteAnswer::Newer}, {"btnNoToAll", TOverwriteAnswer::NoToAll},
        {"", TOverwriteAnswer::Cancel}, // the close box
    };
    TOverwriteFixture f;
    TfrmConfirmOverwrite dialog;
    for (const auto& c : cases) {
        dialog.Prepare(*f.node, f.local);
        test::AnswerNextDialog(QString::fromLatin1(c.button));
        EXPECT_EQ(OverwriteAnswerOf(dialog.exec()), c.answer) << c.button;
        if (c.button[0] != '\0') {
            EXPECT_EQ(dialog.ButtonFor(c.answer)->objectName(), QString::fromLatin1(c.button));
        }
    }
}

TEST(ConfirmOverwrite, EnterAnswersNothingAndEscapeCancels) {
    TOverwriteFixture f;
    TfrmConfirmOverwrite dialog;
    for (QPushButton* button : dialog.findChildren<QPushButton*>())
        EXPECT_FALSE(button->isDefault() || button->autoDefault())
            << button->objectName().toStdString();
    dialog.Prepare(*f.node, f.local);
    test::KeyToNextDialog(Qt::Key_Escape);
    EXPECT_EQ(OverwriteAnswerOf(dialog.exec()), TOverwriteAnswer::Cancel);
}

TEST(ConfirmOverwrite, ShowsBothFiles) {
    TOverwriteFixture f;
    TfrmConfirmOverwrite dialog;
    dialog.Prepare(*f.node, f.local);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("ファイルの上書きの確認"));
    EXPECT_EQ(dialog.TitleText(),
              QStringLiteral("このフォルダには既に 'page.html' ファイルが存在します。"));
    EXPECT_EQ(dialog.ExistingSizeText(), QStringLiteral("10 バイト"));
    EXPECT_EQ(dialog.ExistingTimeText(), QStringLiteral("2026年11月5日 12:04:05"));
    EXPECT_EQ(dialog.CacheSizeText(), QStringLiteral("1.18MB"));
    // The cache's 2026-11-03 12:00 UTC, in Tokyo.
    EXPECT_EQ(dialog.CacheTimeText(), QStringLiteral("2026年11月3日 21:00:00"));

    // What is there and cannot be read as a file shows no size or time.
    fs::remove(f.local);
    fs::create_directory(f.local);
    dialog.Prepare(*f.node, f.local);
    EXPECT_EQ(dialog.ExistingSizeText(), QString());
    EXPECT_EQ(dialog.ExistingTimeText(), QString());
}

TEST(ConfirmOverwrite, NamesAreShownEscaped) {
    auto tree = testing::MakeTree({{"http://h1/a\x1b[2J.html", "text/html"}});
    testing::Refresh(*tree);
    TWebCacheTreeNode* node = tree->Root()->Items(0)->Items(0)->Items(0);
    TfrmConfirmOverwrite dialog;
    dialog.Prepare(*node, "/nonexistent/x.html");
    EXPECT_FALSE(dialog.TitleText().contains(QChar(0x1b)));
    EXPECT_TRUE(dialog.TitleText().contains(QStringLiteral("\\x1b")));
}

} // namespace
} // namespace tarnhold::gui
