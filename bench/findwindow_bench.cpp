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
#include <iconv.h>
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

std::string Convert(const char* to, const std::string& sjis) {
    iconv_t cd = iconv_open(to, "CP932");
    std::string out(sjis.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(sjis.data());
    std::size_t inLeft = sjis.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv(cd, nullptr, nullptr, &o, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// 10,000 pages on disk, one in ten holding the word.
struct TPages {
    std::filesystem::path Dir;
    std::unique_ptr<TWebCacheTree> Tree;

    TPages() {
        Dir = CreateTempFolder();
        const std::string sentence =
            Utf8ToAnsi("今日の天気は晴れのち曇り、午後から所により雨が降るでしょう。経済ニュース、"
                       "市場の動き、スポーツの結果をお届けします。");
        const std::string marked = Utf8ToAnsi("大阪府と東京都の知事選挙。");
        std::vector<TRawCacheEntry> entries;
        for (int i = 0; i < 10000; ++i) {
            std::string page =
                "<html><head><title>page " + std::to_string(i) + "</title></head><body>\n";
            const int paragraphs = 40 + i % 40;
            for (int p = 0; p < paragraphs; ++p) {
                page += "<p class=\"text\">";
                page += i % 10 == 3 && p == paragraphs / 2 ? marked : sentence;
                page += "</p>\n";
            }
            page += "</body></html>\n";
            const char* code = i % 3 == 0 ? nullptr : i % 3 == 1 ? "EUC-JP" : "ISO-2022-JP";
            if (code != nullptr)
                page = Convert(code, page);
            const auto dir = Dir / std::to_string(i % 100);
            ForceDirectories(dir);
            const auto file = dir / ("p" + std::to_string(i) + ".htm");
            WriteTestFile(file, page);
            TRawCacheEntry e;
            e.Url = "http://site" + std::to_string(i % 20) + ".test/d" + std::to_string(i % 7) +
                    "/p" + std::to_string(i) + ".html";
            e.EntryType = 1;
            e.LastModified = U64ToFileTime(133000000000000000ULL);
            e.HeaderBlock = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
            e.Size = page.size();
            e.LocalFileName = file.string();
            entries.push_back(std::move(e));
        }
        Tree = BuildTree(std::move(entries));
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

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
