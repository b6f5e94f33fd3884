// Filling the window's file list with a folder of 5,000 HTML pages: the first
// time (every title read from its page, types asked once per extension) and
// again (titles from the title cache); the folder tree of caches of 10,000
// and 100,000 entries; and the window deleting all 5,000 rows of the folder
// selected in its list (each row leaves the list as its entry goes). Under
// the offscreen platform.
//
//   QT_QPA_PLATFORM=offscreen listview_bench --benchmark_repetitions=5
#include "favorites/favorites.h"
#include "mainwindow/cachelistview.h"
#include "mainwindow/cachetreeview.h"
#include "mainwindow/maincommands.h"
#include "mainwindow/mainwindow.h"
#include "support/memorycachesource.h"
#include "tree/webcachetree.h"

#include <QTreeWidgetItemIterator>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace tarnhold {
namespace {

constexpr int kPages = 5000;

// A folder of pages, each a small HTML file with a Japanese title, removed
// when the program ends.
class TPageFolder {
public:
    TPageFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "listbenchXXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            std::abort();
        path_ = pattern;
        for (int i = 0; i < kPages; ++i) {
            std::ofstream out(path_ / ("p" + std::to_string(i) + ".htm"), std::ios::binary);
            // "\x83\x79\x81\x5b\x83\x57" is ページ in Shift-JIS.
            out << "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                   "charset=Shift_JIS\"><title>\x83\x79\x81\x5b\x83\x57 "
                << i << "</title></head><body><p>" << std::string(2000, 'x')
                << "</p></body></html>";
        }
    }
    ~TPageFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::unique_ptr<TWebCacheTree> MakePageTree(const TPageFolder& pages) {
    auto source = std::make_unique<TMemoryCacheSource>();
    for (int i = 0; i < kPages; ++i) {
        TRawCacheEntry e;
        e.Url = "http://big.test/pages/page" + std::to_string(i) + (i % 10 == 0 ? ".htm" : ".html");
        e.EntryType = NORMAL_CACHE_ENTRY;
        e.Size = 2100 + static_cast<std::uint64_t>(i);
        e.LastModified =
            U64ToFileTime(133000000000000000ULL + static_cast<std::uint64_t>(i) * 10000000ULL);
        e.LocalFileName = (pages.Path() / ("p" + std::to_string(i) + ".htm")).string();
        e.FileExtension = "htm";
        e.HeaderBlock = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n~U:bench\r\n";
        source->Add(std::move(e));
    }
    auto tree = std::make_unique<TWebCacheTree>(std::move(source));
    if (TError error = tree->Refresh()) {
        std::fprintf(stderr, "refresh failed: %s\n", error.Text().c_str());
        std::abort();
    }
    return tree;
}

const TPageFolder& Pages() {
    static const TPageFolder pages;
    return pages;
}

// A new list each time: titles are read from the pages.
void BM_ListFolderFirstFill(benchmark::State& state) {
    auto tree = MakePageTree(Pages());
    for (auto _ : state) {
        gui::TCacheListView list;
        list.SetTree(tree.get());
        list.SetFolder("http://big.test/pages/");
        benchmark::DoNotOptimize(list.Model()->rowCount());
        if (list.Model()->rowCount() != kPages)
            state.SkipWithError("wrong row count");
        list.SetTree(nullptr);
    }
}
BENCHMARK(BM_ListFolderFirstFill)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same list again: titles come from the title cache.
void BM_ListFolderRefill(benchmark::State& state) {
    auto tree = MakePageTree(Pages());
    gui::TCacheListView list;
    list.SetTree(tree.get());
    list.SetFolder("http://big.test/pages/");
    for (auto _ : state) {
        list.SetFolder("http://big.test/pages/");
        benchmark::DoNotOptimize(list.Model()->rowCount());
    }
    list.SetTree(nullptr);
}
BENCHMARK(BM_ListFolderRefill)->Unit(benchmark::kMillisecond)->UseRealTime();

// Sorting the filled list by title, both ways.
void BM_ListFolderSortByTitle(benchmark::State& state) {
    auto tree = MakePageTree(Pages());
    gui::TCacheListView list;
    list.SetTree(tree.get());
    list.SetFolder("http://big.test/pages/");
    int order = 0;
    for (auto _ : state) {
        list.SetSort(order, lsTitle);
        order = 1 - order;
    }
    list.SetTree(nullptr);
}
BENCHMARK(BM_ListFolderSortByTitle)->Unit(benchmark::kMillisecond)->UseRealTime();

// Sites of a few hosts with folders two and three deep, as a real cache has
// them: about one folder per five entries.
std::unique_ptr<TWebCacheTree> MakeSiteTree(int entries) {
    auto source = std::make_unique<TMemoryCacheSource>();
    for (int i = 0; i < entries; ++i) {
        TRawCacheEntry e;
        const int hosts = entries / 100 + 1;
        e.Url = "http://www.site" + std::to_string(i % hosts) + ".test/sec" +
                std::to_string(i / hosts % 7) + "/sub" + std::to_string(i / hosts / 7 % 13) +
                "/page" + std::to_string(i) + ".html";
        e.EntryType = NORMAL_CACHE_ENTRY;
        e.Size = 1000;
        e.LastModified = U64ToFileTime(133000000000000000ULL);
        e.LocalFileName = "/nonexistent/cache/file.htm";
        e.HeaderBlock = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n~U:bench\r\n";
        source->Add(std::move(e));
    }
    auto tree = std::make_unique<TWebCacheTree>(std::move(source));
    if (TError error = tree->Refresh())
        std::abort();
    return tree;
}

// Refilling the folder tree, keeping a selection three levels down.
void BM_TreeViewRebuild(benchmark::State& state) {
    auto tree = MakeSiteTree(static_cast<int>(state.range(0)));
    gui::TCacheTreeView view;
    view.SetTree(tree.get());
    view.setCurrentItem(view.FindItemByPath("http://www.site1.test/sec1/"));
    for (auto _ : state)
        view.Rebuild();
    int items = 0;
    for (QTreeWidgetItemIterator it(&view); *it; ++it)
        ++items;
    state.counters["items"] = items;
    view.SetTree(nullptr);
}
BENCHMARK(BM_TreeViewRebuild)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Select all in the list, then delete without the question: the rows leave
// the list one by one as the deletion reports each file.
void BM_WindowDeletesAllRows(benchmark::State& state) {
    std::error_code ec;
    const std::filesystem::path data = std::filesystem::temp_directory_path() / "deletebench-data";
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::create_directories(data, ec);
        auto tree = MakePageTree(Pages());
        TFavorites favorites;
        auto window = std::make_unique<gui::TfrmMain>(*tree, favorites, data);
        gui::TMainCommands& commands = window->Commands();
        commands.Views().Tree->Rebuild();
        commands.Views().Tree->SelectPath("http://big.test/pages/");
        commands.PrepareListMenu(); // the list has the focus
        commands.Views().List->SelectAll();
        if (commands.Selection().size() != static_cast<std::size_t>(kPages))
            state.SkipWithError("wrong selection");
        state.ResumeTiming();
        commands.DeleteSelection(false);
        state.PauseTiming();
        if (commands.Views().List->Model()->rowCount() != 0 || tree->Root()->Count() != 0)
            state.SkipWithError("rows left");
        window.reset();
        tree.reset();
        std::filesystem::remove_all(data, ec);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowDeletesAllRows)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
} // namespace tarnhold
