// The copy engine against cp -r of the same cached files, in the same run:
//
//   Site: a synthetic site of 1,000 pages (8-10 KB, 20-50 links each, to
//   pages of other folders and to images) and 1,000 images (about 90 KB),
//   about 100 MB, copied with its links rewritten (CopySite) and by
//   cp -rT of the folder that holds the cached files (CpSite); then both
//   again over the copy they made (CopySiteAgain, CpSiteAgain).
//   BigFolder: one folder of 50,000 small files, both ways.
//
// ExportSiteWacz writes the same site as a web archive (WACZ, bodies as
// received), against CopySite: the export is meant to be no slower.
//
// And the parts whose cost must not grow faster than n log n with a
// folder's size: adding to a copy list (CopyListAdd/N) and deleting half of
// one folder's files (DeleteHalfOfFolder/N).
//
//   copy_bench --benchmark_filter='Site|BigFolder'
//
// scripts/bench-search-copy runs the copies interleaved and prints the
// ratios. cpu_ms is the CPU time of the copy (the process's own, or cp's).
//
// The cached files go to a temporary folder made once per run.
#include "archive/webarchive.h"
#include "copy/copyengine.h"
#include "copy/deletenodes.h"
#include "support/cachetreefixture.h"
#include "tree/webcachetree.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

constexpr int kPages = 1000;
constexpr int kImages = 1000;
constexpr int kFolders = 20;
constexpr int kBigFolderFiles = 50000;

struct TCorpus {
    fs::path Root;
    std::vector<testing::TEntrySpec> Site;
    std::vector<testing::TEntrySpec> Big;

    TCorpus() {
        std::string pattern = (fs::temp_directory_path() / "TRHbench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        Root = pattern;
        fs::create_directories(Root / "site");
        fs::create_directories(Root / "big");
        std::uint64_t seed = 0x5eed;
        auto next = [&seed](std::uint64_t n) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            return (seed >> 33) % n;
        };
        for (int i = 0; i < kPages; ++i) {
            std::string page = "<html><head><title>page " + std::to_string(i) +
                               "</title><link rel=stylesheet href=\"/img/i0.gif\"></head><body>\n";
            const int links = 20 + static_cast<int>(next(31));
            for (int l = 0; l < links; ++l) {
                if (l % 3 == 0) {
                    page += "<img src=\"/img/i" + std::to_string(next(kImages)) + ".gif\">\n";
                } else {
                    const auto p = next(kPages);
                    page += "<p>Text before the link, as pages have. <a href=\"../d" +
                            std::to_string(p % kFolders) + "/p" + std::to_string(p) +
                            ".html\">page " + std::to_string(p) + "</a></p>\n";
                }
            }
            while (page.size() < 8000)
                page += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit.</p>\n";
            page += "</body></html>\n";
            Add(Site, Root / "site" / ("p" + std::to_string(i) + "[1].htm"),
                "http://www.bench.test/d" + std::to_string(i % kFolders) + "/p" +
                    std::to_string(i) + ".html",
                "text/html", page);
        }
        std::string image(90000, '\0');
        for (std::size_t b = 0; b < image.size(); ++b)
            image[b] = static_cast<char>(next(256));
        for (int i = 0; i < kImages; ++i) {
            image[0] = static_cast<char>(i);
            Add(Site, Root / "site" / ("i" + std::to_string(i) + "[1].gif"),
                "http://www.bench.test/img/i" + std::to_string(i) + ".gif", "image/gif", image);
        }
        for (int i = 0; i < kBigFolderFiles; ++i) {
            Add(Big, Root / "big" / ("f" + std::to_string(i) + "[1].txt"),
                "http://big.test/files/f" + std::to_string(i) + ".txt", "text/plain",
                "small file " + std::to_string(i) + "\n");
        }
    }
    ~TCorpus() {
        std::error_code ec;
        fs::remove_all(Root, ec);
    }

    static void Add(std::vector<testing::TEntrySpec>& list, const fs::path& file,
                    const std::string& url, const std::string& type, const std::string& content) {
        std::ofstream(file, std::ios::binary) << content;
        list.push_back({url, type, 1 + static_cast<int>(list.size() % 28), content.size(), file});
    }
};

TCorpus& Corpus() {
    static TCorpus corpus;
    return corpus;
}

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool CopyOnce(benchmark::State& state, TWebCacheTree& tree, const char* folderUrl,
              const fs::path& out) {
    TCopyEngine engine(tree);
    TWebCacheTreeNode* folder = tree.FindFolderByUrl(folderUrl);
    TOverwriteAnswer answer = TOverwriteAnswer::YesToAll;
    TCopyOptions options;
    options.Destination = out;
    options.PrefixFolder = folder->Parent();
    options.Method = TCopyMethod::SameSite;
    if (CopyToFolder(engine, {folder}, options, &answer))
        return true;
    state.SkipWithError(engine.LastFailure().Text.c_str());
    return false;
}

// again: each copy goes over the one before it, every file overwritten.
void CopyWithEngine(benchmark::State& state, const std::vector<testing::TEntrySpec>& specs,
                    const char* folderUrl, bool again = false) {
    auto tree = testing::MakeTree(specs);
    testing::Refresh(*tree);
    const fs::path out = Corpus().Root / "out";
    fs::remove_all(out);
    if (again && !CopyOnce(state, *tree, folderUrl, out))
        return;
    double cpu = 0;
    for (auto _ : state) {
        if (!again) {
            state.PauseTiming();
            fs::remove_all(out);
            state.ResumeTiming();
        }
        const double start = CpuSeconds(RUSAGE_SELF);
        if (!CopyOnce(state, *tree, folderUrl, out))
            break;
        cpu += CpuSeconds(RUSAGE_SELF) - start;
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu * 1000, benchmark::Counter::kAvgIterations);
    fs::remove_all(out);
}

void ExportSiteWacz(benchmark::State& state) {
    auto tree = testing::MakeTree(Corpus().Site);
    testing::Refresh(*tree);
    const fs::path out = Corpus().Root / "site.wacz";
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(out);
        state.ResumeTiming();
        TArchiveStats stats;
        TWebCacheTreeNode* folder = tree->FindFolderByUrl("http://www.bench.test/");
        if (TError error = ExportWebArchive(*tree, {folder}, out, {}, stats))
            state.SkipWithError(error.Text().c_str());
    }
    fs::remove(out);
}

void CopyWithCp(benchmark::State& state, const char* folder, bool again = false) {
    const fs::path out = Corpus().Root / "out";
    fs::remove_all(out);
    const std::string command =
        "cp -rT '" + (Corpus().Root / folder).string() + "' '" + out.string() + "'";
    if (again && std::system(command.c_str()) != 0)
        state.SkipWithError("cp -rT failed");
    double cpu = 0;
    for (auto _ : state) {
        if (!again) {
            state.PauseTiming();
            fs::remove_all(out);
            state.ResumeTiming();
        }
        // The shell's share is counted too; it is small beside the copy.
        const double start = CpuSeconds(RUSAGE_CHILDREN);
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("cp -rT failed");
        cpu += CpuSeconds(RUSAGE_CHILDREN) - start;
    }
    state.counters["cpu_ms"] = benchmark::Counter(cpu * 1000, benchmark::Counter::kAvgIterations);
    fs::remove_all(out);
}

void CopySite(benchmark::State& state) {
    CopyWithEngine(state, Corpus().Site, "http://www.bench.test/");
}
void CpSite(benchmark::State& state) {
    CopyWithCp(state, "site");
}
void CopySiteAgain(benchmark::State& state) {
    CopyWithEngine(state, Corpus().Site, "http://www.bench.test/", true);
}
void CpSiteAgain(benchmark::State& state) {
    CopyWithCp(state, "site", true);
}
void CopyBigFolder(benchmark::State& state) {
    CopyWithEngine(state, Corpus().Big, "http://big.test/");
}
void CpBigFolder(benchmark::State& state) {
    CopyWithCp(state, "big");
}

BENCHMARK(CopySite)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(ExportSiteWacz)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(CpSite)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(CopySiteAgain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(CpSiteAgain)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(CopyBigFolder)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(CpBigFolder)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

std::vector<testing::TEntrySpec> OneFolder(std::int64_t n) {
    std::vector<testing::TEntrySpec> specs;
    for (std::int64_t i = 0; i < n; ++i)
        specs.push_back({"http://h/f/x" + std::to_string(i * 7919 % n) + ".txt", "text/plain"});
    return specs;
}

void CopyListAdd(benchmark::State& state) {
    auto tree = testing::MakeTree(OneFolder(state.range(0)));
    testing::Refresh(*tree);
    TWebCacheTreeNode* folder = tree->FindFolderByUrl("http://h/f/");
    for (auto _ : state) {
        TWebCacheTreeNodeCopyList list;
        AddFilesBelow(list, folder);
        benchmark::DoNotOptimize(list.Items(0));
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(CopyListAdd)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity(benchmark::oNLogN);

// Entries from a list; deleting one costs nothing, so that what is measured
// is the tree.
class TListSource : public TCacheSource {
public:
    explicit TListSource(const std::vector<testing::TEntrySpec>& specs) : specs_(specs) {}
    bool First(TRawCacheEntry& entry) override {
        next_ = 0;
        return Next(entry);
    }
    bool Next(TRawCacheEntry& entry) override {
        if (next_ >= specs_.size())
            return false;
        entry = testing::MakeRawEntry(specs_[next_++]);
        return true;
    }
    void Close() override {}
    TError Error() const override { return {}; }
    TError DeleteEntry(std::string_view) override { return {}; }
    std::string Describe() const override { return "(list)"; }
    TCacheKind Kind() const override { return TCacheKind::ckIndexDat; }

private:
    const std::vector<testing::TEntrySpec>& specs_;
    std::size_t next_ = 0;
};

void DeleteHalfOfFolder(benchmark::State& state) {
    const auto specs = OneFolder(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto tree = std::make_unique<TWebCacheTree>(std::make_unique<TListSource>(specs));
        testing::Refresh(*tree);
        TWebCacheTreeNode* folder = tree->FindFolderByUrl("http://h/f/");
        std::vector<TWebCacheTreeNode*> nodes;
        for (int i = 0; i < folder->Count(); i += 2)
            nodes.push_back(folder->Items(i));
        state.ResumeTiming();
        benchmark::DoNotOptimize(DeleteCacheNodes(*tree, nodes));
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(DeleteHalfOfFolder)
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 16)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oNLogN);

} // namespace
} // namespace tarnhold
