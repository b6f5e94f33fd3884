// The cache source over Firefox's disk cache ("cache2"): one file per entry
// in cache2/entries, the response body first and the entry's metadata (key,
// times, response head) at the end of the file. Every entry file is read
// itself; the index beside them may be stale or missing.
#pragma once

#include "sources/cachesource.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// Bob Jenkins' 32-bit "lookup2" hash, which Firefox keeps over each entry's
// metadata and (low 16 bits) over each 256 KiB chunk of its body.
std::uint32_t FirefoxHash(std::string_view data, std::uint32_t seed = 0);
// FirefoxHash (seed 0) of each piece of data into hashes (as many), two at
// a time side by side: in about half the time of one after the other.
void FirefoxHashEach(std::span<const std::string_view> data, std::span<std::uint32_t> hashes);

// How one entry file was read.
enum class TFirefoxEntryStatus {
    Ok,
    Encrypted, // stored encrypted at rest: nothing but the file name is readable
    Damaged,   // no metadata that fits the file
};

// What the metadata of one entry file says.
struct TFirefoxEntry {
    std::string Key;        // the whole key: "<tags>:<URL>"
    std::string Tags;       // the key's tags before the URL ("O^partitionKey=...,a,")
    std::string Url;        // the URL part of the key, bytes as stored
    bool Anonymous = false; // "a," tag: loaded without credentials
    bool Enhanced = false;  // "~" tag: not a plain GET of the URL (a POST, ...)
    std::uint32_t Version = 0;
    std::uint32_t FetchCount = 0;
    std::uint32_t LastFetched = 0;  // Unix seconds
    std::uint32_t LastModified = 0; // Unix seconds: when the entry was written
    std::uint32_t Frecency = 0;
    std::uint32_t Expiration = 0; // Unix seconds; 0xffffffff: never
    std::uint32_t Flags = 0;
    std::uint64_t DataLength = 0; // bytes before the metadata (body + alternative data)
    std::uint64_t BodyLength = 0; // the HTTP body: DataLength, or up to the alt-data
    bool HasAltData = false;      // an "alt-data" element cut the body short
    bool HashMismatch = false;    // the metadata's own hash does not fit it
    bool ChunkMismatch = false;   // a chunk's hash does not fit (found by the source)
    // The source checked the chunks (a small file, read whole); a larger
    // body is checked when it is read.
    bool ChunksChecked = false;
    std::string ResponseHead; // "HTTP/1.1 200 OK\r\nName: value\r\n..."
    // The hash of each 256 KiB chunk of the data as the metadata keeps it:
    // 16 bits each, big-endian.
    std::string ChunkHashes;
};

// Reads the metadata of an entry file from its tail: fileSize is the size of
// the whole file, tail its last bytes (at least the metadata and trailer, or
// the whole file). What the trailer asks for beyond tail is Damaged, and so
// is anything that does not fit. needTail receives how many tail bytes the
// metadata needs (0 when the trailer itself is unusable), so that a reader
// can read 8 bytes first and then exactly the metadata.
TFirefoxEntryStatus ParseFirefoxEntry(std::uint64_t fileSize, std::string_view tail,
                                      TFirefoxEntry& entry, std::size_t* needTail = nullptr);

// The first chunk of data (an entry file's bytes before its metadata, or
// the start of them) whose hash does not fit chunkHashes, counted from
// firstChunk; SIZE_MAX when all fit. data holds whole 256 KiB chunks but for
// the last one.
std::size_t FirstBadFirefoxChunk(std::string_view data, std::string_view chunkHashes,
                                 std::size_t firstChunk = 0);

// Splits a key into tags and URL. False when the key has no URL part.
bool SplitFirefoxKey(std::string_view key, TFirefoxEntry& entry);

// The value of header `name` in a response head (the first line with it,
// name compared ignoring case, blanks trimmed); empty when missing.
std::string FirefoxHeaderValue(std::string_view head, std::string_view name);

// An HTTP date in the form servers send ("Tue, 01 Dec 2026 10:00:00 GMT")
// as Unix seconds; false for anything else.
bool ParseHttpDate(std::string_view text, std::int64_t& seconds);

// What a refresh met, counted by kind.
struct TFirefoxCacheCounts {
    std::size_t Files = 0;        // entry files looked at
    std::size_t Entries = 0;      // delivered
    std::size_t Duplicates = 0;   // the same URL under another key, older: not delivered
    std::size_t Encrypted = 0;    // unreadable without Firefox's key: not delivered
    std::size_t AltData = 0;      // delivered with only the HTTP body (alternative data cut off)
    std::size_t NotPlainGet = 0;  // "~" keys (POST responses, ...): not delivered
    std::size_t NotWeb = 0;       // keys of other cache users (no http/https URL)
    std::size_t Damaged = 0;      // no readable metadata, or a damaged key (below): not delivered
    std::size_t HashMismatch = 0; // delivered, but the metadata's hash does not fit
    std::size_t Partial = 0;      // delivered, but the body is shorter than its Content-Length
    std::size_t Unreadable = 0;   // could not be opened or read (or not a regular file)
    // Delivered, but the hash of a chunk of the body does not fit.
    std::size_t ChunkMismatch = 0;
    // A key that names no plain web address is another cache user's, left
    // out, when the metadata's hash fits; when it does not, the key may be
    // what broke, and the file counts as damaged.
};

// One entry of the last refresh with its key, delivered or not.
struct TFirefoxKeyedEntry {
    std::string FileName; // in cache2/entries
    std::string Key;
    std::string Url;
    std::uint32_t LastModified = 0;
    bool Delivered = false; // false: an older copy of a delivered URL
};

class TFirefoxCacheSource : public TCacheSource, public TKeyedEntries {
public:
    // cache2: the cache2 folder (the one that holds entries/).
    explicit TFirefoxCacheSource(std::filesystem::path cache2);

    // Reads every entry file (metadata only) and delivers one entry per URL,
    // the newest, in the order of the file names. Files that cannot be read
    // are counted (Counts(), Problems()), not delivered.
    bool First(TRawCacheEntry& entry) override;
    bool Next(TRawCacheEntry& entry) override;
    void Close() override;
    TError Error() const override;
    // Removes the entry files of every key with this URL, so that no older
    // copy shows up at the next refresh. Refused (EBUSY) while a running
    // Firefox holds the profile. Firefox's index may then name files that
    // are gone: Firefox treats those as misses and mends its index itself.
    TError DeleteEntry(std::string_view url) override;
    std::string Describe() const override;
    // Damaged when an entry file could not be read whole: damaged, unreadable,
    // a metadata or body hash that does not fit or a body stored only in
    // part. Older copies, encrypted entries and other users' keys are left
    // out on purpose, not lost.
    TReadReport ReadReport() const override;
    TCacheKind Kind() const override { return TCacheKind::ckFirefox; }
    // A URL is held once per key (its origin attributes, the site that
    // loaded it).
    TKeyedEntries* Keys() override { return this; }

    // The older copies of a URL are never delivered (only their keys are
    // read): false, and UndeliveredCopies names them.
    bool SetListShadowed(bool list) override {
        (void)list;
        return false;
    }
    std::string CurrentKey() const override;
    bool CurrentShadowed() const override { return false; }
    std::vector<TKeyedCopy> UndeliveredCopies() const override;
    [[nodiscard]] TError ReadCopy(const TKeyedCopy& copy, TRawCacheEntry& entry) const override;

    const std::filesystem::path& Cache2Folder() const { return cache2_; }
    // Counts of the last refresh (First).
    const TFirefoxCacheCounts& Counts() const { return counts_; }
    // The first problems of the last refresh, one line each
    // ("<file name>: <what>"); at most kMaxProblems.
    const std::vector<std::string>& Problems() const { return problems_; }
    static constexpr std::size_t kMaxProblems = 100;
    // Every web entry of the last refresh with its key, the older copies of
    // a URL included, in the order of the file names.
    const std::vector<TFirefoxKeyedEntry>& KeyedEntries() const { return keyed_; }
    // Why Firefox is seen to hold the profile this cache belongs to; empty
    // when it does not.
    std::string ProfileLockHolder() const;

private:
    // An entry file's name: 40 hexadecimal digits.
    using TFileName = std::array<char, 40>;
    struct TFound {
        TFileName FileName;
        TFirefoxEntry Entry;
    };
    void Scan();
    void Problem(std::string_view fileName, std::string_view what);
    bool Deliver(TRawCacheEntry& entry);

    std::filesystem::path cache2_;
    std::filesystem::path entries_;
    std::vector<TFound> found_; // delivered entries of the running enumeration
    std::size_t next_ = 0;
    std::size_t current_ = SIZE_MAX; // the entry delivered last
    bool open_ = false;
    TError error_;
    TFirefoxCacheCounts counts_;
    std::vector<std::string> problems_;
    std::vector<TFirefoxKeyedEntry> keyed_;
};

// The source over a cache2 folder; also accepted: its entries/ folder or the
// folder that holds cache2. Null, with the reason in *error, when the path
// holds no cache2/entries folder.
std::unique_ptr<TCacheSource> OpenFirefoxCache(const std::filesystem::path& cache2Dir,
                                               TError* error);

// The Firefox profile folder a cache2 folder belongs to: the folder that
// holds it, or for ".cache/mozilla/firefox/<name>/cache2" the profile
// ".mozilla/firefox/<name>" beside .cache (Linux keeps the disk cache apart
// from the profile).
std::vector<std::filesystem::path> FirefoxProfileFolders(const std::filesystem::path& cache2);

// Why Firefox holds this profile folder (its "lock" link names a running
// process, or ".parentlock" carries a lock); empty when it does not.
std::string FirefoxProfileLockHolder(const std::filesystem::path& profile);

} // namespace tarnhold
