// The refresh of the cache tree (reading the cache, building, sorting,
// numbering duplicate names): over the largest index.dat the format allows
// (RefreshIndexDat), and over generated in-memory caches of 10,000 to
// 1,000,000 entries, one of whose hosts has 50,000 files in one folder
// (Refresh/N), since other browsers' caches hold far more than one index.dat.
//
//   webcachetree_bench --benchmark_filter=Refresh/100000
//
// RefreshIndexDat writes its index into a temporary folder, or reads the one
// named by $TARNHOLD_BENCH_INDEXDAT.
#include "mkcache/cachebuilder.h"
#include "mkcache/syntheticcache.h"
#include "sources/cachesource.h"
#include "sources/indexdat/indexdatsource.h"
#include "syntheticsource.h"
#include "tree/webcachetree.h"

#include <benchmark/benchmark.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <malloc.h>
#include <string>
#include <unistd.h>

namespace tarnhold {
namespace {

// One refresh as the window runs it, over a new tree each time (the old
// tree's destruction is not measured).
template <typename MakeSource> int RunRefreshes(benchmark::State& state, MakeSource makeSource) {
    int entries = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto tree = std::make_unique<TWebCacheTree>(makeSource());
        tree->LoadContentTypes();
        state.ResumeTiming();
        if (TError error = tree->Refresh()) {
            state.SkipWithError(error.Text().c_str());
            break;
        }
        state.PauseTiming();
        entries = tree->CountFiles(tree->Root());
        tree.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * entries);
    return entries;
}

void Refresh(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    RunRefreshes(state, [count] { return std::make_unique<bench::TSyntheticCacheSource>(count); });
}
BENCHMARK(Refresh)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// A damaged or hostile cache: 1,300 entries, each under its own 12 KB host
// and 62 folders. The counter heap_MB is what the tree holds afterwards (the
// cache's URLs come to 16 MB).
class TLongHostSource : public TCacheSource {
public:
    bool First(TRawCacheEntry& entry) override {
        next_ = 0;
        return Next(entry);
    }
    bool Next(TRawCacheEntry& e) override {
        if (next_ >= 1300)
            return false;
        e = TRawCacheEntry{};
        e.Url = "http://" + std::string(12000, static_cast<char>('a' + next_ % 26)) +
                std::to_string(next_) + ".test/";
        for (int d = 0; d < 62; ++d)
            e.Url += "d/";
        e.Url += "x.html";
        e.EntryType = NORMAL_CACHE_ENTRY;
        e.Size = 1000;
        e.HeaderBlock = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
        ++next_;
        return true;
    }
    void Close() override {}
    TError Error() const override { return {}; }
    TError DeleteEntry(std::string_view) override { return TError::FromErrno(EROFS); }
    std::string Describe() const override { return "(long hosts)"; }
    TCacheKind Kind() const override { return TCacheKind::ckIndexDat; }

private:
    std::size_t next_ = 0;
};

void RefreshLongHosts(benchmark::State& state) {
    double heap = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = mallinfo2().uordblks;
        auto tree = std::make_unique<TWebCacheTree>(std::make_unique<TLongHostSource>());
        tree->LoadContentTypes();
        state.ResumeTiming();
        if (TError error = tree->Refresh()) {
            state.SkipWithError(error.Text().c_str());
            break;
        }
        state.PauseTiming();
        heap = static_cast<double>(mallinfo2().uordblks - before) / 1e6;
        tree.reset();
        state.ResumeTiming();
    }
    state.counters["heap_MB"] = heap;
}
BENCHMARK(RefreshLongHosts)->Unit(benchmark::kMillisecond);

// The largest index.dat: generated records only, no cached files.
class TBenchIndexDat {
public:
    TBenchIndexDat() {
        if (const char* given = std::getenv("TARNHOLD_BENCH_INDEXDAT"); given && *given) {
            folder_ = given;
            return;
        }
        folder_ = std::filesystem::temp_directory_path() /
                  ("tarnhold-treebench-" + std::to_string(::getpid()));
        owned_ = true;
        TCacheBuildOptions options;
        options.WriteFiles = false;
        TCacheBuilder builder(folder_, options);
        TError error = AddSyntheticEntries(builder, 0);
        if (error.Ok())
            error = builder.Finish();
        error_ = error.Text();
        if (error)
            folder_.clear();
    }
    ~TBenchIndexDat() {
        std::error_code ec;
        if (owned_)
            std::filesystem::remove_all(folder_, ec);
    }
    TBenchIndexDat(const TBenchIndexDat&) = delete;
    TBenchIndexDat& operator=(const TBenchIndexDat&) = delete;
    const std::filesystem::path& Folder() const { return folder_; }
    const std::string& Error() const { return error_; }

private:
    std::filesystem::path folder_;
    std::string error_;
    bool owned_ = false;
};

void RefreshIndexDat(benchmark::State& state) {
    static TBenchIndexDat cache;
    if (cache.Folder().empty()) {
        state.SkipWithError(("cannot write the index: " + cache.Error()).c_str());
        return;
    }
    int entries =
        RunRefreshes(state, [] { return std::make_unique<TIndexDatSource>(cache.Folder()); });
    state.counters["entries"] = entries;
}
BENCHMARK(RefreshIndexDat)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarnhold
