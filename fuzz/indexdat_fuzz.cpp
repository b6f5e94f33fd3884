// index.dat bytes from anywhere: enumerate every entry, then delete the
// first one from a copy on disk, and add one to the image when it is sound.
#include "cache/indexdatdeleter.h"
#include "cache/indexdatsource.h"
#include "mkcache/indexdatwriter.h"
#include "platform/files.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// One folder per process, reused by every input: memory-backed where the
// system has /dev/shm.
const std::filesystem::path& Scratch() {
    static const std::filesystem::path dir = [] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec))
            base = std::filesystem::temp_directory_path(ec);
        std::filesystem::path d = base / ("tarnhold-indexdat-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d, ec);
        std::atexit([] { std::filesystem::remove_all(Scratch()); });
        return d;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnhold;
    if (size > kIdxMaxFileSize)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path index = Scratch() / "index.dat";
    if (!WriteWholeFile(index, bytes))
        return 0;

    TIndexDatSource source(Scratch());
    TRawCacheEntry entry;
    std::string first;
    bool any = false;
    for (bool ok = source.First(entry); ok; ok = source.Next(entry)) {
        if (!any)
            first = entry.Url;
        any = true;
    }
    source.Close();
    if (any)
        (void)DeleteIndexDatEntry(index, first);

    TIndexDatWriter image;
    if (image.Load(bytes).Ok()) {
        TIndexDatNewEntry e;
        e.Url = "http://fuzz.test/added.html";
        e.FileName = "added[1].htm";
        e.Headers = "HTTP/1.1 200 OK\r\n\r\n";
        if (image.AddEntry(e).Ok() && !CheckIndexDatInvariants(image.Bytes()).Ok())
            std::abort(); // the writer broke the file
    }
    return 0;
}
