// Chromium's "blockfile" disk cache, the one Chrome and Edge write on
// Windows (and Chromium anywhere when told to): a Cache_Data folder with an
// "index" (a hash table of entry addresses), block files "data_0" to
// "data_3" (and overflow files) holding entry records, their rankings nodes
// and small streams in blocks of 36, 256, 1024 and 4096 bytes, and external
// files "f_XXXXXX" for streams over 16 KiB. Every entry is reached through
// the table and its chains, each address checked before it is read; the
// block files are scanned for entries the table does not reach (a damaged
// index, deleted entries). Keys, response heads (stream 0) and bodies
// (stream 1) are those of the Simple cache.
#pragma once

#include "sources/chromium/chromiumsource.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// A cache address: which file and which blocks of it.
struct TBlockfileAddr {
    enum TType : std::uint32_t {
        External = 0, // an "f_XXXXXX" file of its own
        Rankings = 1, // 36-byte blocks
        Block256 = 2,
        Block1K = 3,
        Block4K = 4,
    };
    std::uint32_t Value = 0;

    bool Initialized() const { return (Value & 0x80000000u) != 0; }
    std::uint32_t Type() const { return (Value >> 28) & 7; }
    bool IsExternal() const { return Type() == External; }
    // External files: the number in the file's name.
    std::uint32_t FileNumber() const { return Value & 0x0fffffffu; }
    // Block files: the N of data_N, the first block and how many.
    std::uint32_t File() const { return (Value >> 16) & 0xff; }
    std::uint32_t Start() const { return Value & 0xffff; }
    std::uint32_t Blocks() const { return ((Value >> 24) & 3) + 1; }
    // The block size of a block file's type (0 for an external file or a
    // type no cache writes).
    std::uint32_t BlockSize() const;
    // Whether the address can name anything: initialized, of a known type,
    // reserved bits clear, and its blocks within one group of four.
    bool Sane() const;
    // "data_1 block 6 (1 block)", "f_000001", for messages.
    std::string Describe() const;
};

// The header of a block file (the first 8 KiB).
struct TBlockFileHeader {
    std::uint32_t Version = 0;
    std::int16_t ThisFile = 0;
    std::int16_t NextFile = 0;
    std::uint32_t EntrySize = 0;  // block size
    std::uint32_t NumEntries = 0; // allocations in use
    std::uint32_t MaxEntries = 0; // blocks the file has room for
    std::uint32_t Updating = 0;   // set while the browser changed the header
};
constexpr std::size_t kBlockFileHeaderSize = 8192;
constexpr std::uint32_t kBlockFileMaxBlocks = 64896;
// Reads a block file's header; fails with the reason when it is none, or
// not the file number says, or its fields do not hold together.
[[nodiscard]] TError ParseBlockFileHeader(std::string_view header, std::uint32_t number,
                                          TBlockFileHeader& out);

// An entry record (EntryStore) as far as a reader needs it.
struct TBlockfileEntry {
    std::uint32_t Hash = 0;
    TBlockfileAddr Next;
    TBlockfileAddr RankingsNode;
    std::uint32_t ReuseCount = 0;
    std::uint32_t State = 0; // 0 in use, 1 evicted, 2 doomed
    std::int64_t CreationTime = 0;
    std::uint32_t KeyLength = 0;
    TBlockfileAddr LongKey;
    std::uint32_t DataSize[4] = {};
    TBlockfileAddr DataAddr[4];
    std::uint32_t Flags = 0; // 1: has sparse children; 2: is one
    // The key when the record holds it (else it lies at LongKey).
    std::string Key;
    // The record's own checksum is set and does not fit its first bytes.
    bool SelfHashMismatch = false;
};
constexpr std::uint32_t kBlockfileEntryEvicted = 1;
constexpr std::uint32_t kBlockfileEntryDoomed = 2;
constexpr std::uint32_t kBlockfileMaxInlineKey = 4 * 256 - 96 - 1;

// Reads an entry record from the blocks of its address (256 bytes each);
// fails with the reason when its fields contradict each other or the
// blocks (a key longer than they hold, a stream address of the wrong kind
// for its size). The key's hash is not checked here (the key may lie
// elsewhere), the record's own checksum only noted.
[[nodiscard]] TError ParseBlockfileEntry(std::string_view record, TBlockfileEntry& out);

// A rankings node: when the entry was used, and whether it was open.
struct TBlockfileRankings {
    std::int64_t LastUsed = 0;
    TBlockfileAddr Next, Prev, Contents;
    std::uint32_t Dirty = 0;
    bool SelfHashMismatch = false;
};
constexpr std::size_t kBlockfileRankingsSize = 36;
[[nodiscard]] TError ParseBlockfileRankings(std::string_view node, TBlockfileRankings& out);

// Whether folder looks like a blockfile cache: an "index" file that starts
// with the blockfile magic number, or (its header lost) an index beside a
// "data_1" block file.
bool IsChromiumBlockfileFolder(const std::filesystem::path& folder);

// How a refresh went. Damaged: entry records passed over; Mismatched:
// entries read although a checksum or their slot does not fit.
struct TBlockfileCounts : TChromiumReadCounts {
    int Ranges = 0;            // pieces of media stored in ranges, left out
    int Evicted = 0;           // entries whose content the browser dropped, only the URL left
    int Deleted = 0;           // whole entries the browser deleted, given out on request
    int Unindexed = 0;         // live entries the index does not reach, found in the block files
    int Partial = 0;           // entries given out without part of their content
    int BadAddresses = 0;      // addresses in the index or its chains that name nothing readable
    bool IndexDamaged = false; // the index's header cannot be trusted
    bool Crashed = false;      // the browser did not close the cache
};

class TChromiumBlockfileSource : public TChromiumSourceBase {
public:
    // folder: the Cache_Data folder (the one that holds "index" and the
    // block files).
    explicit TChromiumBlockfileSource(std::filesystem::path folder);
    ~TChromiumBlockfileSource() override;

    // Removes every entry of the URL (under any partition key) as the
    // browser removes one: out of its hash chain and its recently-used
    // list, its blocks zeroed and freed, its external files deleted, the
    // index's counts lowered. Refused (EBUSY) while a browser holds the
    // cache, and (EBADMSG, with the reason) when the cache is not sound
    // enough for it to stay usable afterwards.
    [[nodiscard]] TError DeleteEntry(std::string_view url) override;
    std::string Describe() const override;
    TReadReport ReadReport() const override;

    const TBlockfileCounts& Counts() const { return counts_; }

protected:
    bool Collect() override;
    TChromiumReadCounts& ReadCounts() override { return counts_; }
    // The block file that holds its record.
    std::string CopyFile(const TChromiumItem& item) const override;

private:
    class TFiles;

    TBlockfileCounts counts_;
    int fileProblems_ = 0; // block files missing, cut short or unreadable
    // The buffers the last refresh held block files in, for the next one.
    std::vector<std::string> spareHeld_;
};

} // namespace tarnhold
