// Chromium entry-file bytes from anywhere: parse them in memory, and read
// them as the only entry file of a cache folder, body decoded as its headers
// say; what comes out is bounded by the input's size, and the file is listed,
// left out as an upload or named as damage.
#include "sources/cachebody.h"
#include "sources/chromium/chromiumcache.h"
#include "tree/webcache.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

using namespace tarnhold;

// One folder per process, reused by every input.
const std::filesystem::path& Scratch() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        std::filesystem::path d = base / ("tarnhold-chromium-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

struct TCleanup {
    ~TCleanup() {
        std::error_code ec;
        std::filesystem::remove_all(Scratch(), ec);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TCleanup cleanup;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    TChromiumEntry entry;
    if (ParseChromiumEntry(bytes, entry).Ok()) {
        // The body lies inside the file, whatever its fields claim.
        if (entry.BodyOffset > size || entry.BodyLength > size - entry.BodyOffset ||
            entry.Key.size() > size || entry.Head.size() > 2 * size + 2)
            std::abort();
    }

    const std::filesystem::path& dir = Scratch();
    std::ofstream(dir / "0123456789abcdef_0", std::ios::binary | std::ios::trunc) << bytes;
    auto owned = std::make_unique<TChromiumCacheSource>(dir);
    const TChromiumCacheSource& source = *owned;
    TWebCache cache(std::move(owned));
    TWebCacheEntryInfo info;
    int listed = 0;
    for (bool ok = cache.FindFirst(info); ok; ok = cache.FindNext(info)) {
        ++listed;
        std::string body;
        if (ReadCacheBody(info, body, 1u << 20).Ok() && body.size() > (1u << 20))
            std::abort();
        // Whole, within the ratio limit of what is stored.
        if (ReadCacheBody(info, body).Ok() &&
            body.size() > std::max<std::size_t>(kMinDecodedLimit, size * kDecodedRatioLimit))
            std::abort();
    }
    // The file is listed, left out as an upload, or named in the report as
    // damaged: never dropped unsaid.
    const TChromiumCounts& c = source.Counts();
    const TReadReport report = source.ReadReport();
    if (c.Files != 1 || listed + c.Uploads + c.Damaged != 1 ||
        report.Damaged != (c.Damaged + c.Mismatched + c.Truncated > 0) ||
        report.Damaged == report.Problems.empty())
        std::abort();
    return 0;
}
