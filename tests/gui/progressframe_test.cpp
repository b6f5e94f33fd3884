#include "copy/progressframe.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QWidget>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

TEST(ProgressFrame, DisablesTheWindowWhileTheWorkRuns) {
    QWidget window;
    auto* bar = new QProgressBar(&window);
    auto* panel = new QLabel(QStringLiteral("3 個のオブジェクト"), &window);
    bar->hide();
    window.show();
    bool done = false;
    {
        TProgressFrame frame(&window, bar, panel, DeletingText(), 2, 100, [&] { done = true; });
        EXPECT_FALSE(window.isEnabled());
        EXPECT_TRUE(bar->isVisible());
        EXPECT_EQ(panel->text(), QStringLiteral("削除中..."));
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
        frame.Step(nullptr);
        frame.RaiseMaximum(); // a copy found one more file
        frame.Step(nullptr);
        frame.Step(nullptr);
        EXPECT_EQ(bar->maximum(), 3);
        EXPECT_EQ(bar->value(), 3);
        EXPECT_FALSE(done);
    }
    EXPECT_TRUE(window.isEnabled());
    EXPECT_FALSE(bar->isVisible());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(done);
}

} // namespace
} // namespace tarnhold::gui
