// The window's start: from a new main window to one that shows the cache
// (the refresh, the folder tree filled, the first folder listed), over the
// largest index.dat the format allows (StartupIndexDat); and the list of one
// folder of 5,000 pages, whose titles are read from the cached files the
// first time (ListFolder5000/first) and come from the title cache after
// (ListFolder5000/again).
//
//   QT_QPA_PLATFORM=offscreen startup_bench --benchmark_repetitions=5
//
// StartupIndexDat reads the index named by $TARNHOLD_BENCH_INDEXDAT, or
// writes one into a temporary folder.
#include "favorites/favorites.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "mainwindow/mainwindow.h"
#include "mkcache/cachebuilder.h"
#include "mkcache/syntheticcache.h"
#include "platform/filetime.h"
#include "sources/indexdat/indexdatsource.h"
#include "syntheticsource.h"
#include "tree/webcachetree.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace tarnhold::gui {
namespace {

namespace fs = std::filesystem;

fs::path TempName(const char* what) {
    return fs::temp_directory_path() /
           (std::string("tarnhold-") + what + "-" + std::to_string(::getpid()));
}

// A cache written once per run, removed at the end.
class TBenchCache {
public:
    // fill adds the entries to the builder.
    template <typename Fill> TBenchCache(const char* what, bool files, Fill fill) {
        folder_ = TempName(what);
        owned_ = true;
        TCacheBuildOptions options;
        options.WriteFiles = files;
        TCacheBuilder builder(folder_, options);
        TError error = fill(builder);
        if (error.Ok())
            error = builder.Finish();
        if (error) {
            error_ = error.Text();
            folder_.clear();
        }
    }
    explicit TBenchCache(fs::path given) : folder_(std::move(given)) {}
    ~TBenchCache() {
        std::error_code ec;
        if (owned_)
            fs::remove_all(folder_, ec);
    }
    TBenchCache(const TBenchCache&) = delete;
    TBenchCache& operator=(const TBenchCache&) = delete;
    const fs::path& Folder() const { return folder_; }
    const std::string& Error() const { return error_; }

private:
    fs::path folder_;
    std::string error_;
    bool owned_ = false;
};

TBenchCache& LargestIndex() {
    static TBenchCache cache = [] {
        if (const char* given = std::getenv("TARNHOLD_BENCH_INDEXDAT"); given && *given)
            return TBenchCache(fs::path(given));
        return TBenchCache("startbench", false,
                           [](TCacheBuilder& builder) { return AddSyntheticEntries(builder, 0); });
    }();
    return cache;
}

TBenchCache& FolderOfPages() {
    static TBenchCache cache("listbench", true, [](TCacheBuilder& builder) {
        for (int i = 0; i < 5000; ++i) {
            TManifestEntry entry;
            const std::string n = std::to_string(i);
            entry.Url = "http://pages.test/folder/page" + n + ".html";
            entry.Extension = "htm";
            entry.LastModified = U64ToFileTime(130000000000000000ULL + i * 10000000ULL);
            entry.Headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
            std::string content =
                "<html><head><title>Page " + n + "</title></head><body><p>text</p></body></html>\n";
            if (TError error = builder.AddContent(entry, std::move(content)))
                return error;
        }
        return TError();
    });
    return cache;
}

// A data folder of the window's own, empty for every run.
struct TDataFolder {
    TDataFolder() : Path(TempName("startdata")) { fs::create_directories(Path); }
    ~TDataFolder() {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    fs::path Path;
};

// From a new main window over the cache makeSource gives to a window that
// shows it; the tree's and the window's destruction are not measured.
template <typename MakeSource> void RunStartups(benchmark::State& state, MakeSource makeSource) {
    int entries = 0;
    for (auto _ : state) {
        state.PauseTiming();
        TDataFolder data;
        auto tree = std::make_unique<TWebCacheTree>(makeSource());
        TFavorites favorites;
        state.ResumeTiming();
        {
            TfrmMain window(*tree, favorites, data.Path);
            window.Start();
            benchmark::DoNotOptimize(window.Commands().Views().List->Model()->Count());
            entries = tree->CountFiles(tree->Root());
            state.PauseTiming();
        }
        tree.reset();
        state.ResumeTiming();
    }
    state.counters["entries"] = entries;
}

void StartupIndexDat(benchmark::State& state) {
    TBenchCache& cache = LargestIndex();
    if (cache.Folder().empty()) {
        state.SkipWithError(("cannot write the index: " + cache.Error()).c_str());
        return;
    }
    RunStartups(state, [&] { return std::make_unique<TIndexDatSource>(cache.Folder()); });
}
BENCHMARK(StartupIndexDat)->Unit(benchmark::kMillisecond);

// Caches larger than one index.dat holds (a Chromium or Firefox cache),
// generated as they are read.
void StartupSynthetic(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    RunStartups(state, [count] { return std::make_unique<bench::TSyntheticCacheSource>(count); });
}
BENCHMARK(StartupSynthetic)->Arg(60000)->Unit(benchmark::kMillisecond);

// The folder tree's items made anew over a refreshed tree of the largest
// index.dat (what the window does after every refresh).
void TreeViewRebuild(benchmark::State& state) {
    TBenchCache& cache = LargestIndex();
    if (cache.Folder().empty()) {
        state.SkipWithError(("cannot write the index: " + cache.Error()).c_str());
        return;
    }
    TWebCacheTree tree(std::make_unique<TIndexDatSource>(cache.Folder()));
    (void)tree.Refresh();
    TCacheTreeView view;
    view.SetTree(&tree);
    for (auto _ : state) {
        view.Rebuild();
        benchmark::DoNotOptimize(view.RootItem());
    }
}
BENCHMARK(TreeViewRebuild)->Unit(benchmark::kMillisecond);

void ListFolder5000(benchmark::State& state) {
    TBenchCache& cache = FolderOfPages();
    if (cache.Folder().empty()) {
        state.SkipWithError(("cannot write the cache: " + cache.Error()).c_str());
        return;
    }
    const bool again = state.range(0) != 0;
    TWebCacheTree tree(std::make_unique<TIndexDatSource>(cache.Folder()));
    (void)tree.Refresh();
    for (auto _ : state) {
        state.PauseTiming();
        auto list = std::make_unique<TCacheListView>();
        list->SetTree(&tree);
        if (again)
            list->SetFolder("http://pages.test/folder/");
        list->SetFolder("http://pages.test/");
        state.ResumeTiming();
        list->SetFolder("http://pages.test/folder/");
        benchmark::DoNotOptimize(list->Model()->Count());
        state.PauseTiming();
        if (list->Model()->Count() != 5000)
            state.SkipWithError("the folder does not hold 5,000 rows");
        list.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(ListFolder5000)->ArgName("again")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarnhold::gui
