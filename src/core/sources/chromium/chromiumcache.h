// Chromium's disk cache on Linux (the "Simple" cache of Cache/Cache_Data):
// one file per entry, "<16 hex digits>_0", holding the key, the body (stream
// 1) and the response head (stream 0), each stream closed by an end record.
// The entry files are read directly, so a cache whose index lags behind (a
// browser still running, or killed) is read whole.
#pragma once

#include "sources/chromium/chromiumsource.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// Parses an entry file held in memory. Fails (EBADMSG, with the reason) when
// it is no entry file or is too damaged to read. Checks the key, the
// response head and the body against the checksums the file carries; what
// does not fit is set in Mismatch and the entry read all the same. (A refresh
// reads the files where they lie and checks a body longer than 64 KiB only
// when the body is read, see TBodyCheck.)
[[nodiscard]] TError ParseChromiumEntry(std::string_view file, TChromiumEntry& entry);

// The SHA-256 digest of a key (32 bytes), as the last end record's flag
// announces it before that record.
std::string ChromiumKeySha256(std::string_view key);

// How a refresh went: the entry files seen and what became of them.
struct TChromiumCounts : TChromiumReadCounts {
    int Files = 0; // entry files ("_0") found
};

class TChromiumCacheSource : public TChromiumSourceBase {
public:
    // folder: the Cache_Data folder (the one that holds "index" and the
    // entry files).
    explicit TChromiumCacheSource(std::filesystem::path folder);

    // Removes every entry file of the URL (under any partition key) with its
    // stream and sparse files; the browser finds them gone and forgets the
    // entry. Refused (EBUSY, with the reason) while a browser holds the cache.
    [[nodiscard]] TError DeleteEntry(std::string_view url) override;
    std::string Describe() const override;
    // Damaged when an entry file could not be read, fails a checksum or holds
    // only part of its body; older copies and uploads are left out on
    // purpose, not lost.
    TReadReport ReadReport() const override;
    // An older copy read again from its entry file, as it is now.
    [[nodiscard]] TError ReadCopy(const TKeyedCopy& copy, TRawCacheEntry& entry) const override;

    // The counts of the last refresh.
    const TChromiumCounts& Counts() const { return counts_; }

protected:
    bool Collect() override;
    TChromiumReadCounts& ReadCounts() override { return counts_; }
    std::string CopyFile(const TChromiumItem& item) const override { return PathOf(item.File); }

private:
    TChromiumCounts counts_;
};

// Whether folder looks like a Chromium Simple cache: an "index" file that
// starts with the cache's magic number.
bool IsChromiumCacheFolder(const std::filesystem::path& folder);

} // namespace tarnhold
