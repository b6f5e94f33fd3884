// Chromium's disk cache on Linux (the "Simple" cache of Cache/Cache_Data):
// one file per entry, "<16 hex digits>_0", holding the key, the body (stream
// 1) and the response head (stream 0), each stream closed by an end record.
// The entry files are read directly, so a cache whose index lags behind (a
// browser still running, or killed) is read whole.
#pragma once

#include "sources/cachesource.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// Limits on what one entry file may claim, against hostile files.
constexpr std::size_t kChromiumMaxKey = 1u << 20;
constexpr std::size_t kChromiumMaxHead = 4u << 20;

// The checksums of an entry file that do not fit what they cover.
enum : unsigned {
    kChromiumKeyMismatch = 1,  // the key's SHA-256 or its 32-bit hash in the header
    kChromiumHeadMismatch = 2, // the CRC-32 of the response head
    kChromiumBodyMismatch = 4, // the CRC-32 of the body
};

// What an entry file holds, as far as the program needs it.
struct TChromiumEntry {
    std::string Key;              // the cache key, raw bytes
    std::string Url;              // the key without its partition prefix
    std::uint64_t BodyOffset = 0; // stream 1 within the file
    std::uint64_t BodyLength = 0;
    // Status line and header lines joined with CR LF, ending with one.
    std::string Head;
    int Status = 0;                // from the status line; 0 when unreadable
    std::int64_t ResponseTime = 0; // microseconds since 1601-01-01 UTC
    bool Truncated = false;        // the browser stored only part of the body
    bool Upload = false;           // the answer to a POST (upload id not 0)
    unsigned Mismatch = 0;         // kChromium*Mismatch: read all the same
    // The body's CRC-32 as its end record keeps it, when it keeps one; set
    // whether or not the body was checked against it while parsing.
    bool BodyHasCrc = false;
    bool BodyChecked = false;
    std::uint32_t BodyCrc = 0;
};

// Reads len bytes at offset of the entry file into out; false when it cannot.
using TReadAt = std::function<bool(std::uint64_t offset, std::size_t len, std::string& out)>;

// Parses an entry file of size bytes through readAt. Fails (EBADMSG, with the
// reason) when it is no entry file or is too damaged to read. Checks the key,
// the response head and, when it is no longer than checkBodyUpTo, the body
// against the checksums the file carries (a longer body is checked when it
// is read, see TBodyCheck); what does not fit is set in Mismatch and the
// entry read all the same.
[[nodiscard]] TError
ParseChromiumEntry(std::uint64_t size, const TReadAt& readAt, TChromiumEntry& entry,
                   std::uint64_t checkBodyUpTo = std::numeric_limits<std::uint64_t>::max());
// The same for a file held in memory.
[[nodiscard]] TError ParseChromiumEntry(std::string_view file, TChromiumEntry& entry);

// The 32-bit hash of the key an entry file's header carries (Paul Hsieh's
// SuperFastHash).
std::uint32_t ChromiumKeyHash(std::string_view key);
// The SHA-256 digest of a key (32 bytes), as the last end record's flag
// announces it before that record.
std::string ChromiumKeySha256(std::string_view key);
// What the Mismatch bits say, for people ("the body fails its checksum").
std::string ChromiumMismatchText(unsigned mismatch);

// Reads the pickled response info that every backend keeps as stream 0 of
// an entry: the times, the truncation flag, the status and the raw headers
// (into Head, Status, ResponseTime and Truncated). Fails with the reason
// when it is too damaged to read.
[[nodiscard]] TError ParseChromiumHead(std::string_view pickle, TChromiumEntry& entry);

// Gives out a parsed entry whose body lies in file at BodyOffset: the URL,
// the time, the head, the body's place and encoding (a redirect has no body).
void FillChromiumEntry(const TChromiumEntry& e, const std::filesystem::path& file,
                       TRawCacheEntry& entry);

// Why a browser holds the cache in folder now (a running Chromium's profile
// lock above it), or empty when none does.
std::string ChromiumCacheHeldBy(const std::filesystem::path& folder);

// The URL a key names: the key without its "1/0/" and "_dk_<sites> " prefixes.
std::string ChromiumKeyUrl(std::string_view key, bool* upload = nullptr);

// How a refresh went: the entry files seen and what became of them.
struct TChromiumCounts {
    int Files = 0;      // entry files ("_0") found
    int Entries = 0;    // entries given out (one per URL)
    int Shadowed = 0;   // older entries of a URL held under another partition key
    int Uploads = 0;    // answers to POST requests, left out
    int Truncated = 0;  // entries whose body the browser stored only in part
    int Damaged = 0;    // files passed over: no readable entry, or a key that names nothing
    int Mismatched = 0; // entries given out although a checksum does not fit
    // The first files of the three kinds above, in the order of their names,
    // with what is wrong ("<name>: <reason>").
    std::vector<std::string> Problems;
};

class TChromiumCacheSource : public TCacheSource, public TKeyedEntries {
public:
    // folder: the Cache_Data folder (the one that holds "index" and the
    // entry files).
    explicit TChromiumCacheSource(std::filesystem::path folder);

    bool First(TRawCacheEntry& entry) override;
    bool Next(TRawCacheEntry& entry) override;
    void Close() override;
    TError Error() const override { return error_; }
    // Removes every entry file of the URL (under any partition key) with its
    // stream and sparse files; the browser finds them gone and forgets the
    // entry. Refused (EBUSY, with the reason) while a browser holds the cache.
    [[nodiscard]] TError DeleteEntry(std::string_view url) override;
    std::string Describe() const override;
    // Damaged when an entry file could not be read, fails a checksum or holds
    // only part of its body; older copies and uploads are left out on
    // purpose, not lost.
    TReadReport ReadReport() const override;

    TCacheKind Kind() const override { return TCacheKind::ckChromium; }
    // A URL is held once per partition key (the site that loaded it).
    TKeyedEntries* Keys() override { return this; }

    // Also give out the entries that another partition key's newer entry of
    // the same URL hides (for a full listing).
    bool SetListShadowed(bool list) override {
        listShadowed_ = list;
        return true;
    }
    // The key of the entry the last First or Next gave, and whether a newer
    // entry of its URL hides it.
    std::string CurrentKey() const override;
    bool CurrentShadowed() const override;
    // The hidden entries, unless they are listed.
    std::vector<TKeyedCopy> UndeliveredCopies() const override;
    [[nodiscard]] TError ReadCopy(const TKeyedCopy& copy, TRawCacheEntry& entry) const override;
    // The counts of the last refresh.
    const TChromiumCounts& Counts() const { return counts_; }
    const std::filesystem::path& Folder() const { return folder_; }

    // Why a browser holds this cache now (a running Chromium's profile lock),
    // or empty when none does.
    std::string HeldBy() const;

private:
    struct TItem {
        std::string FileName; // "<hex>_0"
        TChromiumEntry Entry;
        bool Shadowed = false;
    };
    bool Scan();
    bool Advance(TRawCacheEntry& entry);

    std::filesystem::path folder_;
    TError error_;
    TChromiumCounts counts_;
    std::vector<TItem> items_;
    std::size_t next_ = 0;
    std::size_t current_ = SIZE_MAX;
    bool running_ = false;
    bool listShadowed_ = false;
    bool shadowedDelivered_ = false; // by the last enumeration
};

// Whether folder looks like a Chromium Simple cache: an "index" file that
// starts with the cache's magic number.
bool IsChromiumCacheFolder(const std::filesystem::path& folder);

} // namespace tarnhold
