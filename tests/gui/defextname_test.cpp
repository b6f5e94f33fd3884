#include "app/qtconvert.h"
#include "gui/gui_test_helpers.h"
#include "mainwindow/defextname.h"
#include "tree/contenttype.h"

#include <QComboBox>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

TContentType Table() {
    TContentType table;
    table.Add("text/html", ".htm");
    table.Add("text/html", ".html");
    table.Add("image/gif", ".gif");
    table.Add("application/x-zip", ".zip");
    return table;
}

QTreeWidgetItem* Row(TfrmDefExtName& dialog, const QString& type) {
    const auto found = dialog.ContentTypeList()->findItems(type, Qt::MatchExactly, 0);
    return found.isEmpty() ? nullptr : found.front();
}

TEST(DefExtName, RowsShowEachTypeWithItsDefault) {
    TContentType table = Table();
    test::TRecordingPrompts prompts;
    TfrmDefExtName dialog(prompts);
    dialog.Fill(table);
    QTreeWidget* list = dialog.ContentTypeList();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    const struct {
        QString type;
        QString ext;
        bool several;
    } rows[] = {
        {QStringLiteral("application/x-zip"), QStringLiteral(".zip"), false},
        {QStringLiteral("image/gif"), QStringLiteral(".gif"), false},
        {QStringLiteral("text/html"), QStringLiteral(".html"), true},
    };
    for (int i = 0; i < 3; ++i) {
        QTreeWidgetItem* row = list->topLevelItem(i);
        EXPECT_EQ(row->text(0), rows[i].type) << i;
        EXPECT_EQ(row->text(1), rows[i].ext) << i;
        EXPECT_EQ(TfrmDefExtName::HasSeveralMark(row), rows[i].several) << i;
    }

    // Showing selects the first row and offers its extensions.
    dialog.show();
    EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
    EXPECT_TRUE(dialog.ExtNameBox()->isEnabled());
    EXPECT_TRUE(dialog.ChangeButton()->isEnabled());
    list->setCurrentItem(Row(dialog, QStringLiteral("text/html")));
    EXPECT_EQ(dialog.ExtNameBox()->count(), 2);
    EXPECT_EQ(dialog.ExtNameBox()->itemText(0), QStringLiteral(".htm"));
    EXPECT_EQ(dialog.ExtNameBox()->currentText(), QStringLiteral(".html"));

    list->clearSelection();
    EXPECT_FALSE(dialog.ExtNameBox()->isEnabled());
    EXPECT_FALSE(dialog.ChangeButton()->isEnabled());
    dialog.close();
}

TEST(DefExtName, AnExtensionMustBeginWithADot) {
    const QString bad[] = {QString(), QStringLiteral("jpg"), QStringLiteral(" .jpg")};
    for (const QString& text : bad) {
        TContentType table = Table();
        test::TRecordingPrompts prompts;
        TfrmDefExtName dialog(prompts);
        dialog.Fill(table);
        dialog.show();
        dialog.ExtNameBox()->setEditText(text);
        dialog.ChangeButton()->click();
        ASSERT_EQ(prompts.Messages.size(), 1u) << text.toStdString();
        const test::TShownMessage& m = prompts.Messages.front();
        EXPECT_EQ(m.Caption, QStringLiteral("拡張子チェック"));
        EXPECT_EQ(m.Text, QStringLiteral("拡張子の最初の文字は、'.' でなければなりません。"));
        EXPECT_EQ(m.Icon, QMessageBox::Warning);
        EXPECT_EQ(m.Buttons, QMessageBox::Ok);
        EXPECT_EQ(table.Items(table.IndexOf("application/x-zip")).DefaultExtension, ".zip");
        dialog.CloseButton()->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << text.toStdString();
    }
}

TEST(DefExtName, ResultSaysWhetherADefaultChanged) {
    const struct {
        const char* name;
        QString type;
        QString text;
        std::string defaultAfter;
        std::vector<std::string> extensionsAfter;
        bool several;
        int result;
    } cases[] = {
        {"unchanged",
         QStringLiteral("text/html"),
         QStringLiteral(".html"),
         ".html",
         {".htm", ".html"},
         true,
         QDialog::Rejected},
        {"another of the list",
         QStringLiteral("text/html"),
         QStringLiteral(".htm"),
         ".htm",
         {".htm", ".html"},
         true,
         QDialog::Accepted},
        {"a new one joins the list",
         QStringLiteral("image/gif"),
         QStringLiteral(".giff"),
         ".giff",
         {".gif", ".giff"},
         true,
         QDialog::Accepted},
    };
    for (const auto& c : cases) {
        TContentType table = Table();
        test::TRecordingPrompts prompts;
        TfrmDefExtName dialog(prompts);
        dialog.Fill(table);
        dialog.show();
        QTreeWidgetItem* row = Row(dialog, c.type);
        dialog.ContentTypeList()->setCurrentItem(row);
        dialog.ExtNameBox()->setEditText(c.text);
        dialog.ChangeButton()->click();
        const TContentTypeItem& item = table.Items(table.IndexOf(ToAnsi(c.type)));
        EXPECT_EQ(item.DefaultExtension, c.defaultAfter) << c.name;
        EXPECT_EQ(item.Extensions, c.extensionsAfter) << c.name;
        EXPECT_EQ(row->text(1), ToQString(c.defaultAfter)) << c.name;
        EXPECT_EQ(TfrmDefExtName::HasSeveralMark(row), c.several) << c.name;
        EXPECT_TRUE(prompts.Messages.empty()) << c.name;
        dialog.CloseButton()->click();
        EXPECT_EQ(dialog.result(), c.result) << c.name;
    }
}

TEST(DefExtName, ThroughThePromptsAChangeAsksForARebuild) {
    TContentType table = Table();
    test::TRecordingPrompts prompts;
    test::OnNextDialog([](QWidget* widget) {
        auto* dialog = qobject_cast<TfrmDefExtName*>(widget);
        ASSERT_NE(dialog, nullptr);
        dialog->ExtNameBox()->setEditText(QStringLiteral(".zipx"));
        dialog->ChangeButton()->click();
        dialog->CloseButton()->click();
    });
    EXPECT_TRUE(prompts.EditDefaultExtensions(table));
    EXPECT_EQ(table.Items(table.IndexOf("application/x-zip")).DefaultExtension, ".zipx");
    // The next opening starts with nothing changed.
    test::AnswerNextDialog(QStringLiteral("btnClose"));
    EXPECT_FALSE(prompts.EditDefaultExtensions(table));
}

TEST(DefExtName, ControlCharactersCannotBeTyped) {
    TContentType table = Table();
    test::TRecordingPrompts prompts;
    TfrmDefExtName dialog(prompts);
    dialog.Fill(table);
    dialog.show();
    int pos = 0;
    QString text = QStringLiteral(".a\tb");
    EXPECT_EQ(dialog.ExtNameBox()->validator()->validate(text, pos), QValidator::Invalid);
    text = QStringLiteral(".jpeg");
    EXPECT_EQ(dialog.ExtNameBox()->validator()->validate(text, pos), QValidator::Acceptable);
    dialog.close();
}

} // namespace
} // namespace tarnhold::gui
