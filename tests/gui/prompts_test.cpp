#include "app/prompts.h"
#include "copy/confirmoverwrite.h"
#include "copy/copy_test_helpers.h"
#include "copy/copyengine.h"
#include "copy/copytofolder.h"
#include "gui/gui_test_helpers.h"
#include "platform/files.h"
#include "support/cache_test_helpers.h"

#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;
using tarnhold::test::ReadFileBytes;
using tarnhold::test::TSiteFixture;
using tarnhold::test::WriteFileBytes;

// Answers every overwrite question by clicking the real dialog's button.
class TClickingPrompts : public test::TRecordingPrompts {
public:
    explicit TClickingPrompts(std::vector<QString> buttons) : buttons_(std::move(buttons)) {}
    TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode& node, const fs::path& path) override {
        Asked.push_back(path);
        test::AnswerNextDialog(next_ < buttons_.size() ? buttons_[next_++] : QString());
        return TGuiPrompts::AskOverwrite(node, path);
    }
    std::vector<fs::path> Asked;

private:
    std::vector<QString> buttons_;
    std::size_t next_ = 0;
};

void SetDay(const fs::path& file, int day) {
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(MakeSystemTime(2026, 11, day, 12), ft));
    ASSERT_TRUE(SetFileTimeUtc(file, ft));
}

TEST(GuiCopyPrompts, CopyWithEachOverwriteAnswer) {
    // Two files exist where the copy goes; the cached ones are of day 5.
    // The answer to the first question decides about the second as well
    // where it is a "to all" answer.
    const struct {
        const char* name;
        std::vector<QString> buttons;
        int localDay; // of the files there
        std::size_t asked;
        const char* first;
        const char* second;
        bool done;
    } cases[] = {
        {"yes, then no",
         {QStringLiteral("btnYes"), QStringLiteral("btnNo")},
         3,
         2,
         "new1",
         "old2",
         true},
        {"no, then yes",
         {QStringLiteral("btnNo"), QStringLiteral("btnYes")},
         3,
         2,
         "old1",
         "new2",
         true},
        {"yes to all", {QStringLiteral("btnYesToAll")}, 7, 1, "new1", "new2", true},
        {"no to all", {QStringLiteral("btnNoToAll")}, 3, 1, "old1", "old2", true},
        {"newer: older files there are replaced",
         {QStringLiteral("btnNewer")},
         3,
         1,
         "new1",
         "new2",
         true},
        {"newer: newer files there stay", {QStringLiteral("btnNewer")}, 7, 1, "old1", "old2", true},
        {"cancel stops the copy", {QStringLiteral("btnCancel")}, 3, 1, "old1", "old2", false},
        {"the close box stops it too", {QString()}, 3, 1, "old1", "old2", false},
    };
    for (const auto& c : cases) {
        TSiteFixture site;
        site.Add("http://h/1.txt", "new1", "text/plain", 5);
        site.Add("http://h/2.txt", "new2", "text/plain", 5);
        site.Add("http://h/3.txt", "new3", "text/plain", 5);
        auto tree = site.Tree();
        const fs::path folder = site.Out() / "http$3a/h";
        fs::create_directories(folder);
        WriteFileBytes(folder / "1.txt", "old1");
        WriteFileBytes(folder / "2.txt", "old2");
        SetDay(folder / "1.txt", c.localDay);
        SetDay(folder / "2.txt", c.localDay);

        TClickingPrompts prompts(c.buttons);
        TGuiCopyPrompts copyPrompts(prompts);
        TCopyEngine engine(*tree, &copyPrompts);
        TWebCacheTreeNode* host = tree->FindFolderByUrl("http://h/");
        TCopyOptions options;
        options.Destination = site.Out();
        options.PrefixFolder = host->Parent();
        const bool done = CopyToFolder(engine, {host}, options);
        EXPECT_EQ(done, c.done) << c.name;
        EXPECT_EQ(prompts.Asked.size(), c.asked) << c.name;
        EXPECT_EQ(ReadFileBytes(folder / "1.txt"), c.first) << c.name;
        EXPECT_EQ(ReadFileBytes(folder / "2.txt"), c.second) << c.name;
        EXPECT_EQ(fs::exists(folder / "3.txt"), c.done) << c.name;
        EXPECT_TRUE(prompts.Messages.empty()) << c.name;
    }
}

TEST(GuiCopyPrompts, AFailureIsShownWithTheSystemText) {
    TSiteFixture site;
    site.AddMissing("http://h/gone.gif", "image/gif");
    auto tree = site.Tree();
    test::TRecordingPrompts prompts;
    TGuiCopyPrompts copyPrompts(prompts);
    TCopyEngine engine(*tree, &copyPrompts);
    TWebCacheTreeNode* host = tree->FindFolderByUrl("http://h/");
    TCopyOptions options;
    options.Destination = site.Out();
    options.PrefixFolder = host->Parent();
    EXPECT_FALSE(CopyToFolder(engine, {host}, options));
    ASSERT_EQ(prompts.Messages.size(), 1u);
    const test::TShownMessage& m = prompts.Messages.front();
    EXPECT_EQ(m.Caption, QStringLiteral("ファイルのコピー"));
    EXPECT_EQ(m.Icon, QMessageBox::Critical);
    EXPECT_EQ(m.Buttons, QMessageBox::Ok);
    const QStringList lines = m.Text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 5);
    EXPECT_EQ(lines[0], QStringLiteral("ファイルのコピーに失敗しました。"));
    EXPECT_EQ(lines[1], QString());
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("キャッシュ：")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("ローカル：")));
    EXPECT_EQ(lines[4], QStringLiteral("エラー：") + QString::fromLocal8Bit(std::strerror(ENOENT)));
}

TEST(GuiPrompts, DialogsTakeInputWhileTheirOwnerIsDisabled) {
    // A running copy disables the window; the overwrite dialog, made
    // before, and a message box made during it must still be answerable.
    TSiteFixture site;
    site.Add("http://h/1.txt", "new1", "text/plain");
    auto tree = site.Tree();
    QWidget owner;
    TGuiPrompts prompts(&owner);
    TfrmConfirmOverwrite& made = prompts.ConfirmOverwriteDialog();
    owner.setEnabled(false);
    EXPECT_FALSE(made.isEnabled());

    bool enabled = false;
    test::OnNextDialog([&](QWidget* dialog) {
        enabled = dialog->isEnabled();
        if (!enabled)
            dialog->close(); // a person could not have answered
        dialog->findChild<QPushButton*>(QStringLiteral("btnYes"))->click();
    });
    const TWebCacheTreeNode* file = tree->FindNodeByUrl("http://h/1.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(prompts.AskOverwrite(*file, site.Out() / "1.txt"), TOverwriteAnswer::Yes);
    EXPECT_TRUE(enabled);

    enabled = false;
    test::OnNextDialog([&](QWidget* dialog) {
        enabled = dialog->isEnabled();
        dialog->close();
    });
    prompts.ShowMessage(QStringLiteral("c"), QStringLiteral("t"), QMessageBox::Critical,
                        QMessageBox::Ok);
    EXPECT_TRUE(enabled);
}

TEST(GuiPrompts, MessageTextSplitsLinesAndEscapesTheRest) {
    EXPECT_EQ(MessageText("a\r\n\r\nb"), QStringLiteral("a\n\nb"));
    EXPECT_EQ(MessageText("x\ny\x1b"), QStringLiteral("x\\x0ay\\x1b"));
    EXPECT_EQ(MessageText(""), QString());
}

TEST(CopyToFolder, FolderChoice) {
    TGuiPrompts prompts;
    TfrmCopyToFolder& dialog = prompts.CopyToFolderDialog();
    QString startedAt;
    QString picked;
    dialog.SetFolderPicker([&](QWidget*, const QString&, const QString& start) {
        startedAt = start;
        return picked;
    });
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("フォルダを指定してコピー"));

    // The browser starts at the folder of the text; a pick ends with "/";
    // cancelling it leaves the text.
    dialog.SetFolderName(QStringLiteral("/srv/old/"));
    picked = QStringLiteral("/srv/new");
    dialog.BrowseButton()->click();
    EXPECT_EQ(startedAt, QStringLiteral("/srv/old"));
    EXPECT_EQ(dialog.GetFolderName(), QStringLiteral("/srv/new/"));
    picked.clear();
    dialog.BrowseButton()->click();
    EXPECT_EQ(dialog.GetFolderName(), QStringLiteral("/srv/new/"));

    // Only a folder named in full can be copied to.
    const struct {
        QString text;
        bool ok;
    } texts[] = {
        {QString(), false},
        {QStringLiteral("relative/dir"), false},
        {QStringLiteral("/srv/typed"), true},
    };
    for (const auto& t : texts) {
        dialog.SetFolderName(t.text);
        EXPECT_EQ(dialog.OkButton()->isEnabled(), t.ok) << t.text.toStdString();
    }

    // OK hands the folder over and keeps it for the next time; cancel does
    // not hand it over.
    fs::path folder;
    test::AnswerNextDialog(QStringLiteral("btnOk"));
    ASSERT_TRUE(prompts.AskCopyFolder(folder));
    EXPECT_EQ(folder, fs::path("/srv/typed"));
    test::OnNextDialog([](QWidget* widget) {
        auto* d = qobject_cast<TfrmCopyToFolder*>(widget);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->GetFolderName(), QStringLiteral("/srv/typed"));
        EXPECT_TRUE(d->FolderEdit()->hasSelectedText());
        d->CancelButton()->click();
    });
    folder.clear();
    EXPECT_FALSE(prompts.AskCopyFolder(folder));
    EXPECT_TRUE(folder.empty());
}

} // namespace
} // namespace tarnhold::gui
