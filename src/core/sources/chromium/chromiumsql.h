// Chromium's SQL disk cache: a Cache_Data folder with a short text "index"
// ("SQLCache...") and shards "sqldb0".."sqldbN", each a SQLite database whose
// table resources holds one row per entry (the key and the response head,
// stream 0 as every Chromium backend keeps it) and whose table blobs holds
// the body in pieces. The shards are read without taking the browser's locks
// and never written, except by a deletion; a shard the browser may be
// writing, or one left mid-transaction, is read from a private copy.
#pragma once

#include "sources/chromium/chromiumsource.h"

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
// Damaged: rows passed over (no readable head, or a key that names
// nothing); Problems: the first shards and rows of the kinds counted, with
// what is wrong ("sqldb1: ..." or "sqldb1 row 7: ...").
struct TChromiumSqlCounts : TChromiumReadCounts {
    int Shards = 0;     // shard files read (in part or whole)
    int BadShards = 0;  // shards missing or not readable as a cache
    int Rows = 0;       // rows of resources read
    int Doomed = 0;     // rows the browser was deleting (recoverable when whole)
    int Partial = 0;    // bodies missing bytes (cut at the first gap)
    int Unreadable = 0; // shards that stopped before their end
};

class TChromiumSqlSource : public TChromiumSourceBase {
public:
    // folder: the Cache_Data folder (the one that holds "index" and the
    // shards).
    explicit TChromiumSqlSource(std::filesystem::path folder);
    ~TChromiumSqlSource() override;

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

    using TChromiumSourceBase::ReadCopy;
    const TChromiumSqlCounts& Counts() const { return counts_; }
    // Whether the last refresh read a private copy of the shards.
    bool ReadCopy() const;

protected:
    bool Collect() override;
    TChromiumReadCounts& ReadCounts() override { return counts_; }
    // Its body read from its rows, when it is asked for.
    void Fill(const TChromiumItem& item, TRawCacheEntry& entry) const override;
    // The shard that holds it.
    std::string CopyFile(const TChromiumItem& item) const override;
    // The newer response, else the row made later.
    bool Newer(const TChromiumItem& a, const TChromiumItem& b) const override;

private:
    class TStore;

    TChromiumSqlCounts counts_;
    std::shared_ptr<TStore> store_;
};

// Whether folder looks like a Chromium SQL cache: an "index" that starts with
// "SQLCache", or a first shard "sqldb0" that is a SQLite database.
bool IsChromiumSqlCacheFolder(const std::filesystem::path& folder);

} // namespace tarnhold
