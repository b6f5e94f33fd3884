// Pictures of the two views on the demo cache, for a person to look at:
// written only when TARNHOLD_SCREENSHOT_DIR names a folder.
#include "app/qtconvert.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "sources/indexdat/indexdatsource.h"

#include <QApplication>
#include <QFont>
#include <QSplitter>
#include <QTreeView>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

TEST(Screenshot, ViewsOnTheDemoCache) {
    const QString folder = qEnvironmentVariable("TARNHOLD_SCREENSHOT_DIR");
    if (folder.isEmpty())
        GTEST_SKIP() << "TARNHOLD_SCREENSHOT_DIR is not set";
    QApplication::setFont(QFont(QStringLiteral("Noto Sans CJK JP"), 9));
    TWebCacheTree tree(std::make_unique<TIndexDatSource>(
        std::filesystem::path(TARNHOLD_DEMO_CACHE) / "index.dat"));
    ASSERT_TRUE(tree.Refresh().Ok());

    QSplitter window;
    auto* treeView = new TCacheTreeView(&window);
    auto* listView = new TCacheListView(&window);
    window.addWidget(treeView);
    window.addWidget(listView);
    window.setSizes({220, 940});
    window.resize(1160, 420);
    QObject::connect(treeView, &QTreeWidget::currentItemChanged,
                     [&] { listView->SetFolder(treeView->SelectedPath()); });
    treeView->SetTree(&tree);
    listView->SetTree(&tree);
    // The folder with the most rows.
    QTreeWidgetItem* best = treeView->RootItem();
    int most = -1;
    for (QTreeWidgetItemIterator it(treeView); *it; ++it) {
        const TWebCacheTreeNode* node = treeView->NodeOf(*it);
        if (node && node->Count() > most) {
            most = node->Count();
            best = *it;
        }
    }
    treeView->setCurrentItem(best);
    window.show();
    std::fprintf(stderr, "icon theme: '%s' %s\n", qPrintable(QIcon::themeName()),
                 qPrintable(QIcon::themeSearchPaths().join(QLatin1Char(':'))));
    QApplication::processEvents();
    EXPECT_TRUE(window.grab().save(folder + QStringLiteral("/views-details.png")));
    listView->SetViewStyle(vsIcon);
    QApplication::processEvents();
    EXPECT_TRUE(window.grab().save(folder + QStringLiteral("/views-large-icons.png")));
    listView->SetViewStyle(vsList);
    QApplication::processEvents();
    EXPECT_TRUE(window.grab().save(folder + QStringLiteral("/views-list.png")));
    listView->SetTree(nullptr);
    treeView->SetTree(nullptr);
}

} // namespace
} // namespace tarnhold::gui
