// Refreshing from a Chromium blockfile cache of 20,000 generated entries
// (bodies of 0.5 to 8 KiB in blocks of 1 KiB and 4 KiB, one URL in ten also
// under a second partition key) against the floor: a plain loop that reads
// the bytes an enumeration needs (the index, the rankings nodes and the
// entry records with their response heads, the headers of the block files
// that hold the bodies) whole. The ratio of the two is what the reader costs
// beyond reading: checking every record, node and key, parsing every head,
// giving out every entry.
#include "sourcebench.h"
#include "sources/chromium/chromiumblockfile.h"
#include "support/blockfilewriter.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace tarnhold;

constexpr std::size_t kEntries = 20000;

struct TBenchCache {
    fs::path Folder;

    TBenchCache() {
        Folder = fs::temp_directory_path() /
                 ("tarnhold-blockfile-bench-" + std::to_string(::getpid())) / "Cache_Data";
        fs::create_directories(Folder);
        std::vector<test::TBlockfileEntrySpec> entries(kEntries);
        for (std::size_t i = 0; i < kEntries; ++i) {
            test::TBlockfileEntrySpec& spec = entries[i];
            const std::size_t u = i % 10 == 9 ? i - 1 : i; // the same URL, another key
            const std::string url = "http://site" + std::to_string(u % 50) + ".test/dir" +
                                    std::to_string(u % 7) + "/page" + std::to_string(u) + ".html";
            spec.Key = i % 10 == 9 ? "1/0/_dk_http://other.test http://other.test " + url
                                   : "1/0/_dk_http://site.test http://site.test " + url;
            spec.Body.assign(500 + (i * 7919) % 7700, static_cast<char>('a' + i % 26));
            spec.Head = "HTTP/1.1 200 OK\nContent-Type: text/html; charset=utf-8\n"
                        "Content-Length: " +
                        std::to_string(spec.Body.size()) +
                        "\nLast-Modified: Tue, 01 Dec 2026 10:00:00 GMT\n"
                        "Cache-Control: max-age=86400\n";
            spec.ResponseTime = 13411756800000000 + static_cast<std::int64_t>(i) * 1000000;
        }
        test::WriteBlockfileCache(Folder, entries);
    }
    ~TBenchCache() {
        std::error_code ec;
        fs::remove_all(Folder.parent_path(), ec);
    }
};

const TBenchCache& Cache() {
    static TBenchCache cache;
    return cache;
}

// The floor: what an enumeration must read. The index, data_0 (every
// rankings node) and data_1 (every entry record and response head) whole,
// and the headers of data_2 and data_3, whose blocks hold the bodies: the
// bodies are only located, not read.
void BM_PlainReadLoop(benchmark::State& state) {
    std::vector<char> buffer(1 << 20);
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const char* name : {"index", "data_0", "data_1", "data_2", "data_3"}) {
            const int fd = ::open((Cache().Folder / name).c_str(), O_RDONLY | O_CLOEXEC);
            const bool header = name[0] == 'd' && name[5] > '1';
            for (ssize_t n; (n = ::read(fd, buffer.data(), header ? 8192 : buffer.size())) > 0;) {
                bytes += static_cast<std::uint64_t>(n);
                if (header)
                    break;
            }
            ::close(fd);
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PlainReadLoop)->Unit(benchmark::kMillisecond);

// One enumeration of the source: the table, every chain and entry record,
// its node and its response head read, one entry per URL delivered.
void BM_BlockfileEnumerate(benchmark::State& state) {
    bench::EnumerateSource<TChromiumBlockfileSource>(state, Cache().Folder);
}
BENCHMARK(BM_BlockfileEnumerate)->Unit(benchmark::kMillisecond);

// What a refresh of the tree reads: the same pass through the cache layer.
void BM_BlockfileThroughCache(benchmark::State& state) {
    bench::EnumerateThroughCache<TChromiumBlockfileSource>(state, Cache().Folder);
}
BENCHMARK(BM_BlockfileThroughCache)->Unit(benchmark::kMillisecond);

} // namespace
