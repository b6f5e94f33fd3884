// The find window's share of a search: the same searches run on the core
// alone (hits counted on the owner thread) and in the window (hits put into
// its list, the list painted), on Qt's offscreen platform:
//
// - Name*: a name search over a tree of 100,000 generated entries; "Few"
//   matches a few hundred names, "Every" (no criteria) makes every node a hit.
// - Content*: a content search for a Japanese word over 10,000 cached pages,
//   a third each in Shift-JIS, EUC-JP and ISO-2022-JP, one in ten holding it.
//
// The goal: the window adds no more than a fifth to the core's time.
//
//   findwindow_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "find/find.h"
#include "find/findthread.h"
#include "findpages.h"
#include "mainwindow/cachelistview.h"
#include "mkcache/syntheticcache.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/cachetreefixture.h"
#include "support/testfiles.h"
#include "tree/webcachetree.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <benchmark/benchmark.h>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace tarnhold {
namespace {

std::unique_ptr<TWebCacheTree> BuildTree(std::vector<TRawCacheEntry> entries) {
    auto tree = testing::MakeTreeFromRaw(std::move(entries));
    testing::Refresh(*tree);
    return tree;
}

TWebCacheTree& Synthetic() {
    static std::unique_ptr<TWebCacheTree> tree = BuildTree(SyntheticRawEntries(100000));
    return *tree;
}

// 10,000 pages on disk, one in ten holding the word.
struct TPages {
    std::filesystem::path Dir;
    std::unique_ptr<TWebCacheTree> Tree;

    TPages() {
        Dir = CreateTempFolder();
        Tree = BuildTree(bench::WriteFindPages(Dir));
    }
    ~TPages() { DeleteFolder(Dir); }
};

TPages& Pages() {
    static TPages pages;
    return pages;
}

const char* const kFewNames = "page1;[a-c]x?.gif";

// CPU seconds of this process so far, both threads: the worker runs at idle
// priority, so on a busy machine the wall time is mostly waiting.
double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The core alone: hits handed to this thread and counted.
void RunCore(benchmark::State& state, TWebCacheTree& tree, const std::string& names,
             const std::string& contains) {
    int hits = 0;
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        auto data = std::make_unique<TFindData>();
        SetNames(*data, names);
        data->Contains = contains;
        data->StartNode = tree.Root();
        TFindThread search(std::move(data));
        hits = 0;
        search.OnFound = [&](TFindThread&, TWebCacheTreeNode*) { ++hits; };
        search.Start();
        search.WaitFor();
    }
    state.counters["hits"] = hits;
    state.counters["cpu_ms"] =
        benchmark::Counter((ProcessCpuSeconds() - cpu) * 1000, benchmark::Counter::kAvgIterations);
}

// The window: from the start button to the last hit in the list, painted.
void RunWindow(benchmark::State& state, TWebCacheTree& tree, const char* names,
               const char* contains) {
    const std::filesystem::path home = CreateTempFolder();
    gui::TfrmFind find(nullptr, home / "find.dat");
    find.SetLocation(&tree, "");
    find.show();
    QApplication::processEvents();
    find.findChild<QLineEdit*>(QStringLiteral("edtName"))->setText(QString::fromUtf8(names));
    find.findChild<QLineEdit*>(QStringLiteral("edtContains"))->setText(QString::fromUtf8(contains));
    int hits = 0;
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        find.StartSearch();
        while (find.Searching())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        find.ResultList()->CurrentView()->viewport()->repaint();
        hits = find.HitCount();
    }
    state.counters["hits"] = hits;
    state.counters["batches"] = find.Batches();
    state.counters["cpu_ms"] =
        benchmark::Counter((ProcessCpuSeconds() - cpu) * 1000, benchmark::Counter::kAvgIterations);
    find.close();
    DeleteFolder(home);
}

void NameFewCore(benchmark::State& state) {
    RunCore(state, Synthetic(), kFewNames, "");
}
void NameFewWindow(benchmark::State& state) {
    RunWindow(state, Synthetic(), kFewNames, "");
}
void NameEveryCore(benchmark::State& state) {
    RunCore(state, Synthetic(), "", "");
}
void NameEveryWindow(benchmark::State& state) {
    RunWindow(state, Synthetic(), "", "");
}
void ContentCore(benchmark::State& state) {
    RunCore(state, *Pages().Tree, "", "東京都");
}
void ContentWindow(benchmark::State& state) {
    RunWindow(state, *Pages().Tree, "", "東京都");
}

BENCHMARK(NameFewCore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(NameFewWindow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(NameEveryCore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(NameEveryWindow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ContentCore)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ContentWindow)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace tarnhold
