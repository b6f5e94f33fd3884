// Firefox cache2 entry files from anywhere: the parser reads them from the
// whole file and from the tail it asks for, with the same result, and what it
// keeps is bounded by the input; a source over a folder holding the file
// delivers at most one entry within the same bounds, accounts for the file
// (delivered, left out on purpose or named as damage), and deletes it.
#include "platform/files.h"
#include "sources/firefox/firefoxcache.h"
#include "support/testfiles.h"
#include "tree/webcache.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using namespace tarnhold;

// Kept for the whole run (never destroyed, so the exit handler can use it).
const std::filesystem::path& Scratch() {
    static const std::filesystem::path* dir = [] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec))
            base = std::filesystem::temp_directory_path(ec);
        auto* d = new std::filesystem::path(
            base / ("tarnhold-firefox-fuzz-" + std::to_string(::getpid())) / "cache2");
        std::filesystem::create_directories(*d / "entries", ec);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(Scratch().parent_path(), ignored);
        });
        return d;
    }();
    return *dir;
}

[[noreturn]] void Fail(const char* what, std::size_t got, std::size_t limit) {
    std::fprintf(stderr, "firefox entry fuzz: %s: %zu, limit %zu\n", what, got, limit);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TFirefoxEntry whole;
    const TFirefoxEntryStatus status = ParseFirefoxEntry(size, bytes, whole);
    if (status == TFirefoxEntryStatus::Ok) {
        const std::size_t kept =
            whole.Key.size() + whole.Tags.size() + whole.Url.size() + whole.ResponseHead.size();
        if (kept > 3 * size)
            Fail("parsed bytes", kept, 3 * size);
        if (whole.BodyLength > whole.DataLength || whole.DataLength > size)
            Fail("body length", static_cast<std::size_t>(whole.BodyLength), size);
    }
    // From the last 8 bytes, then the tail asked for: the same answer.
    std::size_t need = 0;
    TFirefoxEntry part;
    TFirefoxEntryStatus partStatus =
        ParseFirefoxEntry(size, bytes.substr(size - std::min<std::size_t>(size, 8)), part, &need);
    if (partStatus == TFirefoxEntryStatus::Damaged && need > 8) {
        if (need > size)
            Fail("tail asked for", need, size);
        partStatus = ParseFirefoxEntry(size, bytes.substr(size - need), part, &need);
    }
    if (partStatus != status || part.Key != whole.Key || part.BodyLength != whole.BodyLength ||
        part.ResponseHead != whole.ResponseHead)
        std::abort();

    const std::filesystem::path file = Scratch() / "entries" / std::string(40, 'A');
    if (!WriteTestFile(file, bytes))
        return 0;
    TFirefoxCacheSource source(Scratch());
    TRawCacheEntry entry;
    std::size_t entries = 0;
    std::string url;
    for (bool ok = source.First(entry); ok; ok = source.Next(entry)) {
        ++entries;
        url = entry.Url;
        if (entry.Url.size() + entry.HeaderBlock.size() > 2 * size)
            Fail("delivered bytes", entry.Url.size() + entry.HeaderBlock.size(), 2 * size);
        if (entry.Size > size)
            Fail("size", static_cast<std::size_t>(entry.Size), size);
        if (!IsAcceptedCacheEntry(entry.EntryType, entry.Url))
            Fail("entries the cache would drop", 1, 0);
    }
    source.Close();
    const auto& c = source.Counts();
    if (entries > 1 || c.Files != 1)
        Fail("entries", entries, 1);
    // Delivered, left out on purpose or counted as damage: never dropped unsaid.
    const std::size_t accounted = c.Entries + c.Duplicates + c.Encrypted + c.NotPlainGet +
                                  c.NotWeb + c.Damaged + c.Unreadable;
    if (accounted != 1)
        Fail("files accounted for", accounted, 1);
    const TReadReport report = source.ReadReport();
    if (report.Damaged == report.Problems.empty())
        Fail("problems named", report.Problems.size(), report.Damaged ? 1 : 0);
    if (entries == 1 && !source.DeleteEntry(url).Ok())
        std::abort();
    std::error_code ec;
    std::filesystem::remove(file, ec);
    return 0;
}
