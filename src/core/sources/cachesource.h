// Where cache entries come from: the raw fields of every entry, in the order
// the cache itself enumerates them, and deletion by URL. Each kind of cache
// has its source (index.dat, Chromium's and Firefox's disk caches); tests and
// benchmarks use an in-memory one. What a source can do beyond reading is
// asked through this interface, never by its class.
#pragma once

#include "platform/error.h"
#include "platform/filetime.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// Which browser's cache a source reads or a folder holds.
enum class TCacheKind { ckIndexDat, ckChromium, ckFirefox };
// "index.dat", "chromium" or "firefox", for listings.
const char* CacheKindName(TCacheKind kind);

// Entry-type flags that matter to the program.
constexpr std::uint32_t NORMAL_CACHE_ENTRY = 0x00000001;
constexpr std::uint32_t STICKY_CACHE_ENTRY = 0x00000004;
constexpr std::uint32_t COOKIE_CACHE_ENTRY = 0x00100000;
constexpr std::uint32_t URLHISTORY_CACHE_ENTRY = 0x00200000;

// How the stored bytes of a body can be checked once they are read whole: a
// browser keeps checksums of its bodies, which are worth reading a large
// body for only when it is read anyway (a copy, opening it), not at every
// refresh.
struct TBodyCheck {
    enum TKind : std::uint8_t {
        None,
        Crc32,         // Chromium: zlib's CRC-32 of the whole stored body is Crc
        FirefoxChunks, // Firefox: a 16-bit hash per 256 KiB chunk, big-endian, at HashesAt
    };
    TKind Kind = None;
    std::uint32_t Crc = 0;
    // FirefoxChunks: where in the file the chunks' hashes lie, and how many
    // bytes from the body's start they cover.
    std::uint64_t HashesAt = 0;
    std::uint64_t Covered = 0;
};

// Keeps stored bodies that lie in no slice of a file (the rows of a
// database) and reads them for the body reader.
class TBodyStore {
public:
    virtual ~TBodyStore() = default;
    // Hands the stored bytes of the body key names to take, in order and in
    // pieces, from the start until length bytes are given or take returns
    // false. checksumFailed is set when the bytes read do not fit the
    // checksums the cache keeps for them. Fails when the body cannot be read
    // (take may have had part of it then). May be called from any thread.
    [[nodiscard]] virtual TError ReadBody(std::uint64_t key, std::uint64_t length,
                                          const std::function<bool(std::string_view)>& take,
                                          bool& checksumFailed) const = 0;
};

// Where an entry's body lies and how it is stored: all that the body reader
// (cachebody.h) needs of an entry, whoever holds it.
struct TCachedBody {
    // Full path of the cached copy (the path's native bytes); empty when none.
    // Kept as a string: a std::filesystem::path holds its parsed components
    // too, several hundred bytes for a cache path, once per entry.
    std::string LocalFileName;
    // Where the body lies inside LocalFileName when that file holds more than
    // the body (a browser's entry file): BodyLength bytes from BodyOffset.
    // BodyLength < 0: the whole file is the body.
    std::uint64_t BodyOffset = 0;
    std::int64_t BodyLength = -1;
    // The stored body's Content-Encoding ("gzip", "br", ...); empty: as is.
    std::string ContentEncoding;
    // What the body can be checked against when it is read.
    TBodyCheck BodyCheck;
    // Set when the body lies in a store instead: BodyLength bytes that the
    // store reads by StoreKey (LocalFileName then names the file the store
    // keeps them in, for people).
    std::shared_ptr<const TBodyStore> Store;
    std::uint64_t StoreKey = 0;
};

struct TRawCacheEntry : TCachedBody {
    std::string Url;             // source URL, bytes as stored
    std::uint32_t EntryType = 0; // cache entry type flags
    FILETIME LastModified;       // UTC; zero when unknown
    std::uint64_t Size = 0;      // size of the cached copy
    std::string HeaderBlock;     // response headers, up to the first NUL
    std::string FileExtension;   // as recorded; may be empty
    // A deleted entry recovered from what the cache left behind; its cached
    // file is empty when the file is gone.
    bool Recovered = false;

    void Clear() { *this = TRawCacheEntry{}; }
};

// Whether an entry is a web document the program shows: not a cookie nor a
// history record, and of a URL scheme it knows.
bool IsAcceptedCacheEntry(std::uint32_t entryType, std::string_view url);

// What the last enumeration could not read. Empty for a sound cache.
struct TReadReport {
    bool Damaged = false;             // something could not be read as the cache says
    std::uint64_t MissingBytes = 0;   // bytes the cache's header promises that are not there
    std::size_t SkippedRecords = 0;   // records passed over: out of the file or inconsistent
    std::size_t BadReferences = 0;    // references (hash items) pointing outside or at nothing
    std::size_t RecoveredRecords = 0; // live entries found by scanning instead of the index
    std::size_t DeletedRecords = 0;   // deleted entries found (delivered only when asked)
    std::string Summary;              // one line for people; empty when there is nothing to say
    // The first files or records concerned, one line each ("<name>: <what>");
    // the summary names the first few of them.
    std::vector<std::string> Problems;
};

// Ends a damage summary the same way for every reader: the first three of
// problems in brackets ("(a; b; c; and N more)", N counting total, the
// problems there are, beyond those shown), then "; E entries read".
std::string EndReadSummary(std::string text, const std::vector<std::string>& problems,
                           std::size_t total, std::size_t entries);

// An older copy of a URL that an enumeration knew of but did not deliver:
// known by its key and its entry file only.
struct TKeyedCopy {
    std::string Url;
    std::string Key;
    std::string FileName; // the entry file (the path's native bytes)
};

// What a browser's cache adds to its entries: one URL may be held under
// several keys (one per site that loaded it). An enumeration delivers the
// newest copy of each URL; the others are older copies.
class TKeyedEntries {
public:
    virtual ~TKeyedEntries() = default;
    // Whether enumerations also deliver the older copies (for a full
    // listing), each marked by CurrentShadowed. False when the source cannot
    // read them: UndeliveredCopies names them after the enumeration instead.
    virtual bool SetListShadowed(bool list) = 0;
    // The key of the entry the last First or Next delivered (empty when none
    // runs), and whether a newer entry of its URL hides it.
    virtual std::string CurrentKey() const = 0;
    virtual bool CurrentShadowed() const = 0;
    // The older copies the last enumeration did not deliver, in the cache's
    // order.
    virtual std::vector<TKeyedCopy> UndeliveredCopies() const = 0;
    // Reads one of those copies as an entry (its head, time and where its
    // body lies), from its entry file as it is now. Fails with the reason
    // when the file can no longer be read as an entry of copy.Url.
    [[nodiscard]] virtual TError ReadCopy(const TKeyedCopy& copy, TRawCacheEntry& entry) const = 0;
};

class TCacheSource {
public:
    virtual ~TCacheSource() = default;

    // Starts a new enumeration over the whole cache (a fresh snapshot) and
    // fills the first entry. False when the cache holds none or cannot be
    // read: Error() tells the two apart.
    virtual bool First(TRawCacheEntry& entry) = 0;
    // The next entry of the running enumeration; false at the end, on an
    // error, or when none runs.
    virtual bool Next(TRawCacheEntry& entry) = 0;
    // Ends the running enumeration; harmless when none runs.
    virtual void Close() = 0;
    // Why the last First or Next stopped short; Ok when the cache could be
    // read (an empty cache is no failure).
    virtual TError Error() const = 0;
    // Removes the entry with this URL (and its cached copy). ENOENT when no
    // entry has that URL; the entry stays on any failure.
    [[nodiscard]] virtual TError DeleteEntry(std::string_view url) = 0;
    // What the source reads, for messages ("/path/to/index.dat").
    virtual std::string Describe() const = 0;
    // What the last enumeration could not read (see TReadReport).
    virtual TReadReport ReadReport() const { return {}; }

    // What the source can do beyond reading. Each query is answered by every
    // source; the defaults are those of a source that cannot.

    // The kind of cache the source reads.
    virtual TCacheKind Kind() const = 0;
    // The one file that indexes the cache, when the cache is that file and
    // the folders beside it (an index.dat); empty for a cache that is a
    // folder of entry files.
    virtual std::filesystem::path IndexFile() const { return {}; }
    // Asks enumerations to deliver also (or no longer) the deleted entries
    // the cache still holds, after the others and marked Recovered. False
    // when the source keeps none it could deliver.
    virtual bool SetRecovered(bool on) {
        (void)on;
        return false;
    }
    // How long DeleteEntry waits while another program holds the cache's
    // lock, and what it calls once when it starts waiting (a front end shows
    // a message). False when the source takes no lock it could wait for: a
    // browser's cache refuses a deletion at once (EBUSY) while the browser
    // holds it.
    virtual bool SetLockWait(std::chrono::milliseconds wait, std::function<void()> onWaiting) {
        (void)wait;
        (void)onWaiting;
        return false;
    }
    // The keys of a cache that may hold one URL under several; none when
    // every URL is held once.
    virtual TKeyedEntries* Keys() { return nullptr; }
};

} // namespace tarnhold
