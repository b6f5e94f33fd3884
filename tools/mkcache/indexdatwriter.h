// Writing index.dat files in memory, for tarnhold-mkcache, the tests, the
// benchmarks and the fuzzers (the program itself only removes entries): a
// new, empty index, and URL records added the way WinINet adds them
// (first-fit blocks, a hash item in the URL's set, a new HASH page when the
// set is full on every page). Every change keeps the rules that WinINet
// checks when it opens the file (CheckIndexDatInvariants).
#pragma once

#include "sources/indexdat/indexdatimage.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

struct TIndexDatNewEntry {
    std::string Url;
    std::string FileName; // name in its cache folder; empty for an entry without a file
    std::uint8_t DirIndex = 0;
    std::uint32_t EntryType = 0x00000001;
    FILETIME LastModified; // UTC, zero when unknown
    FILETIME LastAccess;   // UTC
    std::uint32_t ExpiresDos = 0;
    std::uint32_t LastSyncDos = 0;
    std::uint32_t FileTimeDos = 0; // DOS last-write time of the cached file
    std::uint64_t Size = 0;
    std::string Headers;   // stored with a NUL after it, which the size leaves out
    std::string Extension; // without the dot; empty for none
    std::uint32_t ExemptDelta = 0;
    std::uint32_t HitRate = 1;
};

class TIndexDatWriter : public TIndexDatImage {
public:
    // A new index with its first HASH page and these cache folders (at most
    // 32 names of 8 characters).
    static TIndexDatWriter Create(TIndexDatSignature signature,
                                  const std::vector<std::string>& dirNames);

    TIndexDatWriter() = default;
    // Takes the bytes of an existing index to add to.
    [[nodiscard]] TError Load(std::string bytes);

    // Adds a URL record and its hash item, growing the file by 16 KiB when
    // no run of free blocks is long enough. The cache folder's file count and
    // the cache usage count the entry. Fails when the URL is there already
    // (EEXIST), the folder index is out of range (EINVAL) or the file would
    // pass the size the allocation bitmap can describe (ENOSPC); the image is
    // unchanged then. offset gets the record's file offset.
    [[nodiscard]] TError AddEntry(const TIndexDatNewEntry& entry, std::uint32_t* offset = nullptr);

    // Blocks the bitmap can still hand out, growth included.
    std::uint32_t FreeBlocks() const;

private:
    void BlocksFreed(std::uint32_t first) override;
    // First fit; align is 1 or 32 (page-sized entries). Grows the file when
    // needed. False when even the largest file has no room.
    bool Allocate(std::uint32_t count, std::uint32_t align, std::uint32_t& first);
    bool Grow();
    // The position of the item to use for a URL of this hash, adding a HASH
    // page when the set is full everywhere. 0 when no page can be added.
    std::size_t FreeHashItem(std::uint32_t hash);
    std::uint32_t Hash(std::string_view url) const;

    std::uint32_t searchFrom_ = 0; // no free block below this one
    // fitFrom_[n]: no run of n free blocks starts below this block (runs of
    // up to 64 blocks; bulk writing would otherwise rescan every small hole).
    std::array<std::uint32_t, 65> fitFrom_{};
};

} // namespace tarnhold
