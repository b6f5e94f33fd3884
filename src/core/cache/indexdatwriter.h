// Building and editing index.dat files in memory: a new, empty index; URL
// records added the way WinINet adds them (first-fit blocks, a hash item in
// the URL's set, a new HASH page when the set is full on every page); and
// records removed the way WinINet's deletion removes them. Every change keeps
// the rules that WinINet checks when it opens the file (CheckIndexDatInvariants).
#pragma once

#include "cache/indexdat.h"

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

class TIndexDatImage {
public:
    // A new index with its first HASH page and these cache folders (at most
    // 32 names of 8 characters).
    static TIndexDatImage Create(TIndexDatSignature signature,
                                 const std::vector<std::string>& dirNames);

    TIndexDatImage() = default;
    // Takes the bytes of an existing index. False (and an empty image) when
    // they break the rules of CheckIndexDatInvariants; why says which.
    bool Load(std::string bytes, std::string* why = nullptr);

    const std::string& Bytes() const { return bytes_; }
    std::string TakeBytes() { return std::move(bytes_); }
    TIndexDatView View() const { return TIndexDatView(bytes_); }
    TIndexDatSignature Signature() const { return View().Signature(); }

    // Adds a URL record and its hash item, growing the file by 16 KiB when
    // no run of free blocks is long enough. The cache folder's file count and
    // the cache usage count the entry. False when the URL is there already
    // (EEXIST), the folder index is out of range (EINVAL) or the file would
    // pass the size the allocation bitmap can describe (ENOSPC); the image is
    // unchanged then. offset gets the record's file offset.
    bool AddEntry(const TIndexDatNewEntry& entry, int* error = nullptr,
                  std::uint32_t* offset = nullptr);

    // Removes the record of a live item as WinINet does: the hash key becomes
    // 1 (the offset stays), the record's blocks are cleared in the bitmap and
    // taken off the allocated count, its cache folder's file count and the
    // cache (or exempt) usage go down. The record bytes stay as they were.
    // False when the item does not point at a URL record inside the file.
    bool RemoveItem(const TIndexDatItem& item);

    // Blocks the bitmap can still hand out, growth included.
    std::uint32_t FreeBlocks() const;

private:
    std::uint32_t TotalBlocks() const;
    bool BlockUsed(std::uint32_t block) const;
    void SetBlocks(std::uint32_t first, std::uint32_t count, bool used);
    // First fit; align is 1 or 32 (page-sized entries). Grows the file when
    // needed. False when even the largest file has no room.
    bool Allocate(std::uint32_t count, std::uint32_t align, std::uint32_t& first);
    bool Grow();
    // The position of the item to use for a URL of this hash, adding a HASH
    // page when the set is full everywhere. 0 when no page can be added.
    std::size_t FreeHashItem(std::uint32_t hash);
    std::uint32_t Hash(std::string_view url) const;

    std::string bytes_;
    std::uint32_t searchFrom_ = 0; // no free block below this one
    // fitFrom_[n]: no run of n free blocks starts below this block (runs of
    // up to 64 blocks; bulk writing would otherwise rescan every small hole).
    std::array<std::uint32_t, 65> fitFrom_{};
};

} // namespace tarnhold
