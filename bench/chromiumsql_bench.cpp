// Refreshing from a Chromium SQL cache of 20,000 generated rows in three
// shards (bodies of 0.5 to 8 KiB, one URL in ten also under a second
// partition key) against the floor: a plain loop that reads the shard files
// whole. The ratio of the two is what the reader costs beyond the file
// system.
#include "sourcebench.h"
#include "sources/chromium/chromiumsql.h"
#include "support/chromiumsqlwriter.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace tarnhold;

constexpr std::size_t kRows = 20000;

struct TBenchCache {
    fs::path Folder;

    TBenchCache() {
        Folder = fs::temp_directory_path() /
                 ("tarnhold-chromiumsql-bench-" + std::to_string(::getpid())) / "Cache_Data";
        std::vector<test::TChromiumSqlRow> rows(kRows);
        for (std::size_t i = 0; i < kRows; ++i) {
            const std::size_t u = i % 10 == 9 ? i - 1 : i; // the same URL, another key
            const std::string url = "http://site" + std::to_string(u % 50) + ".test/dir" +
                                    std::to_string(u % 7) + "/page" + std::to_string(u) + ".html";
            test::TChromiumEntrySpec& spec = rows[i].Entry;
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
        test::WriteChromiumSqlCache(Folder, rows);
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

// The floor: read every shard whole.
void BM_PlainReadShards(benchmark::State& state) {
    const fs::path folder = Cache().Folder;
    std::vector<char> buffer(64 * 1024);
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const char* name : {"sqldb0", "sqldb1", "sqldb2"}) {
            const int fd = ::open((folder / name).c_str(), O_RDONLY | O_CLOEXEC);
            for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
                bytes += static_cast<std::uint64_t>(n);
            ::close(fd);
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_PlainReadShards)->Unit(benchmark::kMillisecond);

// One enumeration of the source: every row read and checked, the bodies'
// extents from their pieces, one entry per URL delivered.
void BM_ChromiumSqlEnumerate(benchmark::State& state) {
    bench::EnumerateSource<TChromiumSqlSource>(state, Cache().Folder);
}
BENCHMARK(BM_ChromiumSqlEnumerate)->Unit(benchmark::kMillisecond);

// What a refresh of the tree reads: the same pass through the cache layer.
void BM_ChromiumSqlThroughCache(benchmark::State& state) {
    bench::EnumerateThroughCache<TChromiumSqlSource>(state, Cache().Folder);
}
BENCHMARK(BM_ChromiumSqlThroughCache)->Unit(benchmark::kMillisecond);

} // namespace
