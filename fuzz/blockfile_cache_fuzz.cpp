// A whole Chromium blockfile cache from anywhere: the input lays out the
// folder's files as pieces, each "<file><offset><length><bytes>" (file: one
// byte, 0 the index, 1 to 4 data_0 to data_3, 5 f_000001, 6 f_000002; offset
// a little-endian u32, length a u16), the rest of every file zero. The
// source reads it with the block readers, bodies decoded within their
// bounds, the damage accounted for; then the first URL is deleted and the
// cache read again: a deletion either refuses or leaves a cache that reads.
#include "sources/cachebody.h"
#include "sources/chromium/chromiumblockfile.h"
#include "tree/webcache.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using namespace tarnhold;

// Files are kept small: the pieces may ask for any offset.
constexpr std::size_t kMaxFile = 1u << 23;
const char* const kNames[] = {"index",  "data_0",   "data_1",  "data_2",
                              "data_3", "f_000001", "f_000002"};

const std::filesystem::path& Scratch() {
    static const std::filesystem::path* dir = [] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec))
            base = std::filesystem::temp_directory_path(ec);
        return new std::filesystem::path(base /
                                         ("tarnhold-blockfile-fuzz-" + std::to_string(::getpid())));
    }();
    return *dir;
}

struct TCleanup {
    ~TCleanup() {
        std::error_code ec;
        std::filesystem::remove_all(Scratch(), ec);
    }
};

int ReadAll(TCacheSource& source, std::string* firstUrl) {
    int listed = 0;
    TRawCacheEntry raw;
    for (bool ok = source.First(raw); ok; ok = source.Next(raw)) {
        ++listed;
        if (firstUrl != nullptr && firstUrl->empty() && !raw.Recovered)
            *firstUrl = raw.Url;
        TWebCacheEntryInfo info;
        FillEntryInfo(raw, info);
        std::string body;
        if (ReadCacheBody(info, body, 1u << 20).Ok() && body.size() > (1u << 20))
            std::abort();
    }
    return listed;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TCleanup cleanup;
    std::string files[std::size(kNames)];
    for (std::size_t at = 0; at + 7 <= size;) {
        const std::size_t file = data[at] % std::size(kNames);
        const std::size_t offset = (data[at + 1] | data[at + 2] << 8 | data[at + 3] << 16 |
                                    static_cast<std::size_t>(data[at + 4]) << 24) %
                                   kMaxFile;
        const std::size_t length =
            std::min<std::size_t>(data[at + 5] | data[at + 6] << 8, size - at - 7);
        at += 7;
        std::string& f = files[file];
        if (f.size() < offset + length)
            f.resize(std::min(kMaxFile, offset + length), '\0');
        std::copy_n(data + at, std::min(length, f.size() - offset),
                    f.begin() + static_cast<std::ptrdiff_t>(offset));
        at += length;
    }
    const std::filesystem::path& dir = Scratch();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir);
    for (std::size_t i = 0; i < std::size(kNames); ++i)
        if (!files[i].empty())
            std::ofstream(dir / kNames[i], std::ios::binary) << files[i];

    TChromiumBlockfileSource source(dir);
    source.SetRecovered(true);
    std::string first;
    const int listed = ReadAll(source, &first);
    const TBlockfileCounts& c = source.Counts();
    const TReadReport report = source.ReadReport();
    // Damage is named; what is listed was counted.
    if (report.Damaged == report.Problems.empty() || listed > c.Entries + c.Deleted)
        std::abort();
    if (!first.empty() && source.DeleteEntry(first).Ok()) {
        TChromiumBlockfileSource again(dir);
        TRawCacheEntry raw;
        for (bool ok = again.First(raw); ok; ok = again.Next(raw)) {
            // A sound cache holds the URL no more.
            if (!report.Damaged && raw.Url == first)
                std::abort();
        }
    }
    return 0;
}
