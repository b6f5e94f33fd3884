// Refreshing from the largest index.dat the format allows (some 41,000
// generated entries, 15.4 MiB): Count, then a full FindFirst/FindNext pass,
// as the cache tree does before and during a rebuild.
//
// The index is generated once per run into a temporary folder (records only,
// no cached files), or taken from $TARNHOLD_BENCH_INDEXDAT (e.g. one written
// by "tarnhold-mkcache --synthetic max --no-files DIR"), which lets a memory
// measurement leave the writer out.
#include "mkcache/cachebuilder.h"
#include "mkcache/syntheticcache.h"
#include "platform/files.h"
#include "sources/indexdat/indexdatsource.h"
#include "support/testfiles.h"
#include "tree/webcache.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace tarnhold;

struct TBenchCache {
    fs::path Folder;
    bool Owned = false;

    TBenchCache() {
        if (const char* given = std::getenv("TARNHOLD_BENCH_INDEXDAT"); given && *given) {
            Folder = given;
            return;
        }
        Folder = fs::temp_directory_path() / ("tarnhold-bench-" + std::to_string(::getpid()));
        Owned = true;
        TCacheBuildOptions options;
        options.WriteFiles = false;
        TCacheBuilder builder(Folder, options);
        TError error = AddSyntheticEntries(builder, 0);
        if (error.Ok())
            error = builder.Finish();
        if (error)
            throw std::runtime_error(error.Text());
    }
    ~TBenchCache() {
        if (Owned) {
            std::error_code ec;
            fs::remove_all(Folder, ec);
        }
    }
};

const TBenchCache& Cache() {
    static TBenchCache cache;
    return cache;
}

void BM_IndexDatCount(benchmark::State& state) {
    TWebCache cache(std::make_unique<TIndexDatSource>(Cache().Folder));
    int count = 0;
    for (auto _ : state) {
        count = cache.Count();
        benchmark::DoNotOptimize(count);
    }
    state.counters["entries"] = count;
}
BENCHMARK(BM_IndexDatCount)->Unit(benchmark::kMillisecond);

// What one refresh costs the cache layer: Count for the progress bar, then
// the pass that builds the tree.
void BM_IndexDatCountAndEnumerate(benchmark::State& state) {
    TWebCache cache(std::make_unique<TIndexDatSource>(Cache().Folder));
    int count = 0;
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        count = cache.Count();
        TWebCacheEntryInfo e;
        for (bool ok = cache.FindFirst(e); ok; ok = cache.FindNext(e))
            bytes += e.Url.size() + e.HeaderInfo.Text().size();
        cache.FindClose();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["entries"] = count;
}
BENCHMARK(BM_IndexDatCountAndEnumerate)->Unit(benchmark::kMillisecond);

// The raw source alone, without conversion to entry records.
void BM_IndexDatRawPass(benchmark::State& state) {
    TIndexDatSource source(Cache().Folder);
    int count = 0;
    for (auto _ : state) {
        count = 0;
        TRawCacheEntry e;
        for (bool ok = source.First(e); ok; ok = source.Next(e))
            ++count;
        source.Close();
    }
    state.counters["entries"] = count;
}
BENCHMARK(BM_IndexDatRawPass)->Unit(benchmark::kMillisecond);

// The same file with its hash table gone (the header points nowhere): every
// entry is found by the scan of the blocks instead.
struct TDamagedCache {
    fs::path Folder;
    TDamagedCache() {
        Folder =
            fs::temp_directory_path() / ("tarnhold-bench-damaged-" + std::to_string(::getpid()));
        fs::create_directories(Folder);
        std::string bytes;
        if (!ReadWholeFile(ResolveIndexDatPath(Cache().Folder), bytes) || bytes.size() < 0x4000)
            throw std::runtime_error("cannot read the benchmark's index");
        PutU32(bytes, kIdxHashTableOffset, 0);
        if (!WriteTestFile(Folder / "index.dat", bytes))
            throw std::runtime_error("cannot write the damaged index");
    }
    ~TDamagedCache() {
        std::error_code ec;
        fs::remove_all(Folder, ec);
    }
};

void RawPass(benchmark::State& state, const fs::path& folder, bool recovered) {
    TIndexDatSource source(folder);
    source.SetRecovered(recovered);
    int count = 0;
    for (auto _ : state) {
        count = 0;
        TRawCacheEntry e;
        for (bool ok = source.First(e); ok; ok = source.Next(e))
            ++count;
        source.Close();
    }
    state.counters["entries"] = count;
}

void BM_IndexDatRawPassRecovered(benchmark::State& state) {
    RawPass(state, Cache().Folder, true);
}
BENCHMARK(BM_IndexDatRawPassRecovered)->Unit(benchmark::kMillisecond);

// The worst a scan meets: the largest file, every block the start of a
// candidate record that runs to the end of the file and whose URL never
// ends. Each try must cost a few steps, not a read to the end.
void BM_IndexDatScanHostile(benchmark::State& state) {
    std::string bytes(kIdxMaxFileSize, 'a');
    std::copy_n(IndexDatSignatureBytes(TIndexDatSignature::Microsoft).data(), kIdxSignatureSize,
                bytes.begin());
    PutU32(bytes, kIdxFileSizeOffset, static_cast<std::uint32_t>(bytes.size()));
    PutU32(bytes, kIdxHashTableOffset, 0);
    std::fill(bytes.begin() + kIdxBitmapOffset, bytes.begin() + kIdxHeaderSize, '\xFF');
    for (std::uint32_t b = 0; b < kIdxMaxBlocks; ++b) {
        const std::size_t at = kIdxHeaderSize + std::size_t{b} * kIdxBlockSize;
        PutU32(bytes, at, kSigUrl);
        PutU32(bytes, at + 4, kIdxMaxBlocks - b);
        PutU32(bytes, at + kUrlUrlOffset, kUrlFixedSize);
    }
    const TIndexDatView view(bytes);
    std::size_t found = 0;
    for (auto _ : state) {
        const TIndexDatScan scan = view.ScanRecords({});
        found = scan.Lost.size() + scan.Deleted.size();
        benchmark::DoNotOptimize(found);
    }
    state.counters["found"] = static_cast<double>(found);
}
BENCHMARK(BM_IndexDatScanHostile)->Unit(benchmark::kMillisecond);

void BM_IndexDatRawPassNoHashTable(benchmark::State& state) {
    static TDamagedCache damaged;
    RawPass(state, damaged.Folder, false);
}
BENCHMARK(BM_IndexDatRawPassNoHashTable)->Unit(benchmark::kMillisecond);

} // namespace
