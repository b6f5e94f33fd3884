// The background search over the cache tree:
//
// - NameSearch: a name-only search over a tree of 100,000 generated entries
//   (the synthetic cache of tarnhold-mkcache, held in memory), every hit
//   handed to the owner thread as the find window receives it.
// - ContentSearch: a content search for a Japanese word over 10,000 cached
//   pages, a third each in Shift-JIS, EUC-JP and ISO-2022-JP, about 8 KB each;
//   GrepCount runs `grep -r -c -F` for the word's Shift-JIS bytes over the
//   same files (LC_ALL=C, byte matching), which converts nothing.
// - AnyCaseSearch: a content search ignoring case for an English phrase over
//   a site of 2,000 pages (8-10 KB, no charset declared) and 2,000 images
//   (about 50 KB); GrepAnyCase runs `grep -r -c -F -i` over the same files.
//
// scripts/bench-search-copy runs them interleaved and prints the ratios.
//
//   find_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include "find/findthread.h"
#include "findpages.h"
#include "mkcache/syntheticcache.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/memorycachesource.h"
#include "support/testfiles.h"
#include "tree/webcachetree.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace tarnhold {
namespace {

std::unique_ptr<TWebCacheTree> BuildTree(std::vector<TRawCacheEntry> entries) {
    auto tree =
        std::make_unique<TWebCacheTree>(std::make_unique<TMemoryCacheSource>(std::move(entries)));
    tree->MimeTypesFile = std::string(TARNHOLD_SOURCE_DIR) + "/tests/data/cache/mime.types";
    tree->LoadContentTypes();
    tree->CountEntries();
    tree->Build();
    tree->SortAll();
    tree->RenameDuplicates(tree->Root());
    return tree;
}

// CPU seconds of this process so far, both threads (children not counted).
double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Children's CPU seconds so far (grep).
double ChildrenCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs one search to its end on the worker, hits delivered to this thread.
std::uint64_t RunSearch(TWebCacheTree& tree, std::unique_ptr<TFindData> data, int& hits) {
    data->StartNode = tree.Root();
    TFindThread search(std::move(data));
    hits = 0;
    search.OnFound = [&](TFindThread&, TWebCacheTreeNode*) { ++hits; };
    search.Start();
    search.WaitFor();
    return search.NodesTested();
}

void NameSearch(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    auto tree = BuildTree(SyntheticRawEntries(count));
    int hits = 0;
    std::uint64_t tested = 0;
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        auto data = std::make_unique<TFindData>();
        SetNames(*data, "page1;[a-c]x?.gif");
        tested = RunSearch(*tree, std::move(data), hits);
    }
    state.counters["nodes"] = static_cast<double>(tested);
    state.counters["hits"] = hits;
    // The worker runs at idle priority: on a busy machine the wall time is
    // mostly waiting; the CPU time both threads spent is the work.
    state.counters["cpu_ms"] =
        benchmark::Counter((ProcessCpuSeconds() - cpu) * 1000, benchmark::Counter::kAvgIterations);
}
BENCHMARK(NameSearch)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The word searched for, and 10,000 pages on disk, one in ten holding it.
struct TPages {
    std::filesystem::path Dir;
    std::string Word = bench::FindPagesWord();
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

void ContentSearch(benchmark::State& state) {
    TPages& pages = Pages();
    int hits = 0;
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        auto data = std::make_unique<TFindData>();
        data->Contains = AnsiToUtf8(pages.Word); // the search takes UTF-8
        RunSearch(*pages.Tree, std::move(data), hits);
    }
    state.counters["hits"] = hits;
    state.counters["cpu_ms"] =
        benchmark::Counter((ProcessCpuSeconds() - cpu) * 1000, benchmark::Counter::kAvgIterations);
}
BENCHMARK(ContentSearch)->Unit(benchmark::kMillisecond)->UseRealTime();

// grep over dir for word, counting its own CPU time.
void RunGrep(benchmark::State& state, const std::string& dir, const std::string& word,
             bool anyCase) {
    std::vector<char*> argv = {const_cast<char*>("grep"), const_cast<char*>("-r"),
                               const_cast<char*>("-c"), const_cast<char*>("-F")};
    if (anyCase)
        argv.push_back(const_cast<char*>("-i"));
    argv.insert(argv.end(), {const_cast<char*>("-e"), const_cast<char*>(word.c_str()),
                             const_cast<char*>(dir.c_str()), nullptr});
    std::vector<std::string> env = {"LC_ALL=C", "PATH=/usr/bin:/bin"};
    std::vector<char*> envp = {env[0].data(), env[1].data(), nullptr};
    const double cpu = ChildrenCpuSeconds();
    for (auto _ : state) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        if (posix_spawnp(&pid, "grep", &actions, nullptr, argv.data(), envp.data()) != 0) {
            state.SkipWithError("grep could not be started");
            break;
        }
        posix_spawn_file_actions_destroy(&actions);
        int status = 0;
        waitpid(pid, &status, 0);
    }
    state.counters["cpu_ms"] =
        benchmark::Counter((ChildrenCpuSeconds() - cpu) * 1000, benchmark::Counter::kAvgIterations);
}

void GrepCount(benchmark::State& state) {
    RunGrep(state, Pages().Dir.string(), Pages().Word, false);
}
BENCHMARK(GrepCount)->Unit(benchmark::kMillisecond)->UseRealTime();

// A site in English, its pages and images side by side in one cache folder.
struct TSite {
    std::filesystem::path Dir;
    std::string Phrase = "Tarnhold RESCUE";
    std::unique_ptr<TWebCacheTree> Tree;

    TSite() {
        Dir = CreateTempFolder();
        std::uint64_t seed = 0x5eed;
        auto next = [&seed](std::uint64_t n) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            return (seed >> 33) % n;
        };
        std::vector<TRawCacheEntry> entries;
        auto add = [&](const std::string& name, const std::string& url, const char* type,
                       const std::string& content) {
            const auto file = Dir / name;
            WriteTestFile(file, content);
            TRawCacheEntry e;
            e.Url = url;
            e.EntryType = 1;
            e.LastModified = U64ToFileTime(133000000000000000ULL);
            e.HeaderBlock = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + type + "\r\n\r\n";
            e.Size = content.size();
            e.LocalFileName = file.string();
            entries.push_back(std::move(e));
        };
        for (int i = 0; i < 2000; ++i) {
            std::string page =
                "<html><head><title>Page " + std::to_string(i) + "</title></head><body>\n";
            const std::size_t size = 8000 + next(2000);
            while (page.size() < size) {
                page += "<p>Lorem ipsum dolor sit amet, <a href=\"p" + std::to_string(next(2000)) +
                        ".html\">consectetur</a> adipiscing "
                        "elit, sed do eiusmod tempor incididunt ut labore.</p>\n";
                if (i % 10 == 3 && page.size() > size / 2 &&
                    page.find("arnhold") == std::string::npos)
                    page += "<p>The TARNHOLD rescue of a site.</p>\n";
            }
            page += "</body></html>\n";
            add("p" + std::to_string(i) + "[1].htm",
                "http://www.site.test/d" + std::to_string(i % 20) + "/p" + std::to_string(i) +
                    ".html",
                "text/html", page);
        }
        std::string image(50000, '\0');
        for (char& b : image)
            b = static_cast<char>(next(256));
        for (int i = 0; i < 2000; ++i) {
            image[0] = static_cast<char>(i);
            add("i" + std::to_string(i) + "[1].gif",
                "http://www.site.test/img/i" + std::to_string(i) + ".gif", "image/gif", image);
        }
        Tree = BuildTree(std::move(entries));
    }
    ~TSite() { DeleteFolder(Dir); }
};

TSite& Site() {
    static TSite site;
    return site;
}

void AnyCaseSearch(benchmark::State& state) {
    TSite& site = Site();
    int hits = 0;
    const double cpu = ProcessCpuSeconds();
    for (auto _ : state) {
        auto data = std::make_unique<TFindData>();
        data->Contains = site.Phrase;
        data->MatchAnyCase = true;
        RunSearch(*site.Tree, std::move(data), hits);
    }
    state.counters["hits"] = hits;
    state.counters["cpu_ms"] =
        benchmark::Counter((ProcessCpuSeconds() - cpu) * 1000, benchmark::Counter::kAvgIterations);
}
BENCHMARK(AnyCaseSearch)->Unit(benchmark::kMillisecond)->UseRealTime();

void GrepAnyCase(benchmark::State& state) {
    RunGrep(state, Site().Dir.string(), Site().Phrase, true);
}
BENCHMARK(GrepAnyCase)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
} // namespace tarnhold
