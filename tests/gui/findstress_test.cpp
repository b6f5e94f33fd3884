// The find window searching a 100,000-entry cache while the main window
// deletes entries and refreshes: the search stops before each change, the
// hit list keeps only nodes that exist, and the window goes on handling its
// events while hits pour in. That is measured in this test's own event loop
// as the longest stretch of work the window's thread did between two turns
// of it (the thread's processor time, so that a machine busy with other
// work does not count as the window's).
#include "favorites/favorites.h"
#include "find/find.h"
#include "gui/gui_test_helpers.h"
#include "gui/mainwindowparts.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/mainwindow.h"
#include "mkcache/syntheticcache.h"
#include "support/cachetreefixture.h"
#include "tree/webcachetree.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kEntries = 100000;

// This thread's processor time, in milliseconds.
qint64 ThreadMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The most processor time this thread spent between two ticks of a 10 ms
// timer while the find window searches and the test itself is not busy.
class TResponsiveness : public QObject {
public:
    explicit TResponsiveness(const TfrmFind& find) : find_(find) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
        timer_.start();
    }
    // The test's own work between the turns does not count.
    void Pause() { paused_ = true; }
    void Resume() {
        paused_ = false;
        last_ = -1;
    }
    qint64 LongestGap() const { return longest_; }
    int Ticks() const { return ticks_; }

private:
    void Tick() {
        const qint64 now = ThreadMilliseconds();
        if (paused_ || !find_.Searching()) {
            last_ = -1;
            return;
        }
        if (last_ >= 0) {
            longest_ = std::max(longest_, now - last_);
            ++ticks_;
        }
        last_ = now;
    }
    const TfrmFind& find_;
    QTimer timer_;
    qint64 last_ = -1;
    qint64 longest_ = 0;
    int ticks_ = 0;
    bool paused_ = false;
};

// Every row's node is a node of the tree.
void ExpectRowsInTree(const TCacheListModel& model, TWebCacheTree& tree) {
    for (int row = 0; row < model.Count(); ++row) {
        TWebCacheTreeNode* node = model.NodeAt(row);
        ASSERT_NE(node, nullptr) << row;
        ASSERT_EQ(tree.FindNodeByUrl(node->UrlText()), node) << row;
    }
}

TEST(FindStress, SearchWhileTheMainWindowDeletesAndRefreshes) {
    char name[] = "/tmp/tarnhold-findstress-XXXXXX";
    const fs::path home = mkdtemp(name);
    auto tree = testing::MakeTreeFromRaw(SyntheticRawEntries(kEntries));
    TFavorites favorites;
    test::TRecordingPrompts prompts;
    auto window = std::make_unique<TfrmMain>(*tree, favorites, home);
    test::TMainWindowParts w(*window);
    w.Commands().SetPrompts(&prompts);
    window->Start();
    TfrmFind& find = w.Commands().FindWindow();
    find.SetLocation(tree.get(), "");
    find.show();
    const TCacheListModel& hits = *find.ResultList()->Model();
    TResponsiveness loop(find);

    for (int round = 0; round < 4; ++round) {
        loop.Pause();
        ASSERT_TRUE(find.StartSearch()) << round;
        loop.Resume();
        // Let some hits in, then change the tree from the main window.
        ASSERT_TRUE(QTest::qWaitFor([&] { return hits.Count() > 2000 * (round + 1); }, 120000))
            << round;
        loop.Pause();
        ASSERT_TRUE(find.Searching()) << round;
        if (round == 2) {
            w.Action("actCacheRefresh")->trigger();
            EXPECT_FALSE(find.Searching());
            EXPECT_EQ(hits.Count(), 0); // the nodes went with the refresh
        } else {
            // A folder with files, shown in the main list; every other row.
            TWebCacheTreeNode* folder = nullptr;
            for (int row = hits.Count() - 1; row >= 0 && folder == nullptr; --row) {
                TWebCacheTreeNode* parent = hits.NodeAt(row)->Parent();
                if (parent->Count() >= 4 && parent->Level() > 1)
                    folder = parent;
            }
            ASSERT_NE(folder, nullptr);
            w.Tree()->SelectPath(folder->DirUrl());
            w.Commands().ShowSelectedFolder();
            const int rows = w.List()->Model()->Count();
            ASSERT_GT(rows, 0);
            QItemSelectionModel* selection = w.List()->SelectionModel();
            selection->clearSelection();
            for (int row = 0; row < rows; row += 2)
                selection->select(w.List()->Model()->index(row, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
            w.Commands().DeleteSelection(false);
            // The hits found before the stop are listed; none of a deleted
            // entry.
            EXPECT_FALSE(find.Searching());
            EXPECT_LT(w.List()->Model()->Count(), rows);
            EXPECT_GT(hits.Count(), 0);
            ExpectRowsInTree(hits, *tree);
            EXPECT_EQ(find.StatusText(),
                      QString::fromUtf8("%1 個のファイルが見つかりました。").arg(hits.Count()));
        }
        loop.Resume();
    }

    // Run to the end: every node below the first level, once.
    loop.Pause();
    ASSERT_TRUE(find.StartSearch());
    loop.Resume();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !find.Searching(); }, 600000));
    loop.Pause();
    std::size_t expected = 0;
    std::vector<const TWebCacheTreeNode*> stack{tree->Root()};
    while (!stack.empty()) {
        const TWebCacheTreeNode* node = stack.back();
        stack.pop_back();
        for (int i = 0; i < node->Count(); ++i) {
            const TWebCacheTreeNode* child = node->Items(i);
            expected += !child->IsFolder || child->Level() > 1 ? 1 : 0;
            if (child->IsFolder)
                stack.push_back(child);
        }
    }
    EXPECT_EQ(static_cast<std::size_t>(hits.Count()), expected);
    EXPECT_EQ(find.HitCount(), hits.Count());
    ExpectRowsInTree(hits, *tree);
    // The window let its events through while the hits came: at least
    // every 100 ms, and it put them into the list in many batches.
    EXPECT_GT(loop.Ticks(), 10);
    EXPECT_LE(loop.LongestGap(), 100);
    EXPECT_GT(find.Batches(), 1);
    RecordProperty("longest_work_ms", static_cast<int>(loop.LongestGap()));
    std::printf("longest work between event loop turns: %lld ms over %d turns\n",
                static_cast<long long>(loop.LongestGap()), loop.Ticks());

    window.reset();
    fs::remove_all(home);
}

} // namespace
} // namespace tarnhold::gui
