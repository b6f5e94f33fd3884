// Chromium's SQL disk cache: a Cache_Data folder with a short text "index"
// ("SQLCache...") and shards "sqldb0".."sqldbN", each a SQLite database whose
// table resources holds one row per entry (the key and the response head,
// stream 0 as every Chromium backend keeps it) and whose table blobs holds
// the body in pieces. The shards are read without taking the browser's locks
// and never written, except by a deletion; a shard the browser may be
// writing, or one left mid-transaction, is read from a private copy.
#pragma once

#include "sources/cachesource.h"
#include "sources/chromium/chromiumcache.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// The checksum the SQL cache keeps of a response head or a body piece: the
// CRC-32 of the bytes followed by the key's 32-bit hash, big-endian.
std::uint32_t ChromiumSqlChecksum(std::string_view data, std::uint32_t keyHash);

// How a refresh went: the shards and rows seen and what became of them.
struct TChromiumSqlCounts {
    int Shards = 0;     // shard files read (in part or whole)
    int BadShards = 0;  // shards missing or not readable as a cache
    int Rows = 0;       // rows of resources read
    int Entries = 0;    // entries given out (one per URL, not counting deleted ones)
    int Shadowed = 0;   // older rows of a URL held under another partition key
    int Uploads = 0;    // answers to POST requests, left out
    int Doomed = 0;     // rows the browser was deleting (recoverable when whole)
    int Damaged = 0;    // rows passed over: no readable head, or a key that names nothing
    int Mismatched = 0; // rows given out although a checksum does not fit
    int Partial = 0;    // bodies missing bytes (cut at the first gap)
    int Truncated = 0;  // bodies the browser stored only in part
    int Unreadable = 0; // shards that stopped before their end
    // The first shards and rows of the kinds above, with what is wrong
    // ("sqldb1: ..." or "sqldb1 row 7: ...").
    std::vector<std::string> Problems;
};

class TChromiumSqlSource : public TCacheSource, public TKeyedEntries {
public:
    // folder: the Cache_Data folder (the one that holds "index" and the
    // shards).
    explicit TChromiumSqlSource(std::filesystem::path folder);
    ~TChromiumSqlSource() override;

    bool First(TRawCacheEntry& entry) override;
    bool Next(TRawCacheEntry& entry) override;
    void Close() override;
    TError Error() const override { return error_; }
    // Removes every row of the URL (under any partition key, live or being
    // deleted) with its body pieces, one transaction per shard, and keeps the
    // shard's entry count and total size as the browser keeps them. Refused
    // (EBUSY) while a browser holds the cache, and with the reason when a
    // shard cannot be changed safely (left mid-transaction, of a layout the
    // program does not know).
    [[nodiscard]] TError DeleteEntry(std::string_view url) override;
    std::string Describe() const override;
    // Damaged when a shard is missing or stops early, a row cannot be read,
    // fails a checksum, or holds only part of its body.
    TReadReport ReadReport() const override;

    TCacheKind Kind() const override { return TCacheKind::ckChromium; }
    // Rows the browser was deleting, whole, of URLs no live row holds.
    bool SetRecovered(bool on) override {
        recovered_ = on;
        return true;
    }
    TKeyedEntries* Keys() override { return this; }

    bool SetListShadowed(bool list) override {
        listShadowed_ = list;
        return true;
    }
    std::string CurrentKey() const override;
    bool CurrentShadowed() const override;
    std::vector<TKeyedCopy> UndeliveredCopies() const override;
    [[nodiscard]] TError ReadCopy(const TKeyedCopy& copy, TRawCacheEntry& entry) const override;

    const TChromiumSqlCounts& Counts() const { return counts_; }
    const std::filesystem::path& Folder() const { return folder_; }
    // Whether the last refresh read a private copy of the shards.
    bool ReadCopy() const;

private:
    struct TItem {
        TChromiumEntry Entry;
        std::int64_t ResId = 0;
        std::uint64_t Body = 0; // bytes of the body that can be read
        int Shard = 0;
        bool Doomed = false;
        bool Shadowed = false;
    };
    class TStore;
    bool Scan();
    bool Advance(TRawCacheEntry& entry);
    void Fill(const TItem& item, TRawCacheEntry& entry) const;

    std::filesystem::path folder_;
    TError error_;
    TChromiumSqlCounts counts_;
    std::vector<TItem> items_;
    std::shared_ptr<TStore> store_;
    std::size_t next_ = 0;
    std::size_t current_ = SIZE_MAX;
    bool running_ = false;
    bool recovered_ = false;
    bool listShadowed_ = false;
    bool shadowedDelivered_ = false;
    std::size_t deletedRecords_ = 0; // URLs only rows being deleted hold
};

// Whether folder looks like a Chromium SQL cache: an "index" that starts with
// "SQLCache", or a first shard "sqldb0" that is a SQLite database.
bool IsChromiumSqlCacheFolder(const std::filesystem::path& folder);

} // namespace tarnhold
