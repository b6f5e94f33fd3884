#include "app/qtconvert.h"
#include "copy/confirmdelete.h"
#include "copy/copyprompts.h"
#include "gui/gui_test_helpers.h"
#include "support/cachetreefixture.h"

#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

std::unique_ptr<TWebCacheTree> DeleteTree() {
    auto tree = testing::MakeTree({
        {"http://h1/a/x.html"},
        {"http://h1/a/"},
        {"http://h1/b/y.gif", "image/gif"},
    });
    testing::Refresh(*tree);
    return tree;
}

TEST(ConfirmDelete, WordingFollowsTheSelection) {
    auto tree = DeleteTree();
    TWebCacheTreeNode* a = tree->FindFolderByUrl("http://h1/a/");
    TWebCacheTreeNode* b = tree->FindFolderByUrl("http://h1/b/");
    TWebCacheTreeNode* x = tree->FindNodeByUrl("http://h1/a/x.html");
    TWebCacheTreeNode* index = tree->FindNodeByUrl("http://h1/a/index.html");
    ASSERT_TRUE(a && b && x && index);
    const struct {
        const char* name;
        std::vector<TWebCacheTreeNode*> nodes;
        QString caption;
        QString message;
    } cases[] = {
        {"one folder",
         {a},
         QStringLiteral("フォルダの削除の確認"),
         QStringLiteral("フォルダ 'a' とフォルダ内のすべてのファイルを削除してもよろしいですか？")},
        {"one file",
         {x},
         QStringLiteral("ファイルの削除の確認"),
         QStringLiteral("'x.html' を削除してもよろしいですか？")},
        {"a file without a name",
         {index},
         QStringLiteral("ファイルの削除の確認"),
         QStringLiteral("'index.html' を削除してもよろしいですか？")},
        {"two folders and a file count as three",
         {a, b, x},
         QStringLiteral("複数ファイルの削除の確認"),
         QStringLiteral("これらの 3 個のファイルを削除してもよろしいですか？")},
        {"the root is a folder",
         {tree->Root()},
         QStringLiteral("フォルダの削除の確認"),
         QStringLiteral(
             "フォルダ 'Web Cache' とフォルダ内のすべてのファイルを削除してもよろしいですか？")},
    };
    for (const auto& c : cases) {
        TfrmConfirmDelete dialog(nullptr, c.nodes);
        EXPECT_EQ(dialog.windowTitle(), c.caption) << c.name;
        EXPECT_EQ(dialog.MessageText(), c.message) << c.name;
    }
}

TEST(ConfirmDelete, AnswersYesOnlyForYes) {
    auto tree = DeleteTree();
    const std::vector<TWebCacheTreeNode*> nodes{tree->FindFolderByUrl("http://h1/a/")};
    const struct {
        const char* name;
        QString button; // empty: a key
        int key;
        int answer;
    } cases[] = {
        {"yes", QStringLiteral("btnYes"), 0, QDialog::Accepted},
        {"no", QStringLiteral("btnNo"), 0, QDialog::Rejected},
        {"enter takes the default, yes", QString(), Qt::Key_Return, QDialog::Accepted},
        {"escape", QString(), Qt::Key_Escape, QDialog::Rejected},
        {"close box", QString(), 0, QDialog::Rejected},
    };
    for (const auto& c : cases) {
        TfrmConfirmDelete dialog(nullptr, nodes);
        if (c.key != 0)
            test::KeyToNextDialog(c.key);
        else
            test::AnswerNextDialog(c.button);
        EXPECT_EQ(dialog.exec(), c.answer) << c.name;
    }
}

TEST(ConfirmDelete, ThroughThePrompts) {
    auto tree = DeleteTree();
    TGuiPrompts prompts;
    test::AnswerNextDialog(QStringLiteral("btnYes"));
    EXPECT_TRUE(prompts.ConfirmDelete({tree->FindFolderByUrl("http://h1/a/")}));
    test::AnswerNextDialog(QStringLiteral("btnNo"));
    EXPECT_FALSE(prompts.ConfirmDelete({tree->FindFolderByUrl("http://h1/a/")}));
}

TEST(ConfirmDelete, ALongNameIsShortenedButKeptWhole) {
    const std::string name(3000, 'n');
    auto tree = testing::MakeTree({{"http://h1/" + name + ".html"}});
    testing::Refresh(*tree);
    TWebCacheTreeNode* file = tree->Root()->Items(0)->Items(0)->Items(0);
    TfrmConfirmDelete dialog(nullptr, {file});
    const QString shown = DisplayText(file->DisplayName());
    ASSERT_GT(shown.size(), 200);
    EXPECT_TRUE(dialog.MessageText().contains(shown));
    EXPECT_LE(dialog.sizeHint().width(), 600);
}

} // namespace
} // namespace tarnhold::gui
