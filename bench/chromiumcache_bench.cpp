// Refreshing from a Chromium Cache_Data folder of 20,000 generated entry files
// (bodies of 0.5 to 8 KiB, one URL in ten also under a second partition key)
// against the floor: a plain loop that opens and reads every entry file.
// The ratio of the two is what the reader costs beyond the file system.
#include "sourcebench.h"
#include "sources/chromium/chromiumcache.h"
#include "support/chromiumentrywriter.h"

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace tarnhold;

constexpr std::size_t kEntries = 20000;

struct TBenchCache {
    fs::path Folder;

    TBenchCache() {
        Folder = fs::temp_directory_path() /
                 ("tarnhold-chromium-bench-" + std::to_string(::getpid())) / "Cache_Data";
        fs::create_directories(Folder);
        test::WriteChromiumIndex(Folder);
        test::TChromiumEntrySpec spec;
        for (std::size_t i = 0; i < kEntries; ++i) {
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
            test::WriteChromiumEntry(Folder, i, spec);
        }
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

// The floor: list the folder, open and read every file whole.
void BM_PlainReadLoop(benchmark::State& state) {
    const fs::path entries = Cache().Folder;
    std::vector<char> buffer(64 * 1024);
    std::size_t files = 0;
    for (auto _ : state) {
        files = 0;
        std::uint64_t bytes = 0;
        DIR* dir = ::opendir(entries.c_str());
        while (const dirent* d = ::readdir(dir)) {
            if (d->d_name[0] == '.' || std::string_view(d->d_name) == "index")
                continue;
            const int fd = ::openat(::dirfd(dir), d->d_name, O_RDONLY | O_CLOEXEC);
            for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
                bytes += static_cast<std::uint64_t>(n);
            ::close(fd);
            ++files;
        }
        ::closedir(dir);
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["files"] = static_cast<double>(files);
}
BENCHMARK(BM_PlainReadLoop)->Unit(benchmark::kMillisecond);

// One enumeration of the source: every entry file's metadata read, one
// entry per URL delivered.
void BM_ChromiumEnumerate(benchmark::State& state) {
    bench::EnumerateSource<TChromiumCacheSource>(state, Cache().Folder);
}
BENCHMARK(BM_ChromiumEnumerate)->Unit(benchmark::kMillisecond);

// What a refresh of the tree reads: the same pass through the cache layer.
void BM_ChromiumThroughCache(benchmark::State& state) {
    bench::EnumerateThroughCache<TChromiumCacheSource>(state, Cache().Folder);
}
BENCHMARK(BM_ChromiumThroughCache)->Unit(benchmark::kMillisecond);

} // namespace
