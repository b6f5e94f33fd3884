// Internet Explorer's URL cache index, index.dat ("Client UrlCache MMF Ver
// 5.2"; Wine's WinINet writes the same layout under "WINE URLCache Ver
// 0.2012001").
//
// The file is a 16 KiB header ending in an allocation bitmap, then 128-byte
// blocks. Every object after the header occupies whole consecutive blocks
// and starts with a four-byte signature and its block count. URL records are
// found through a hash table of 4 KiB "HASH" pages chained by file offsets.
// All integers are little-endian.
//
// Nothing read from the file is trusted: every offset, length and count is
// checked against the bytes at hand before it is used, and a record that does
// not fit is passed over.
#pragma once

#include "platform/error.h"
#include "platform/filetime.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// Layout of the file.
constexpr std::size_t kIdxHeaderSize = 0x4000;
constexpr std::size_t kIdxBlockSize = 0x80;
constexpr std::size_t kIdxSignatureSize = 28;
constexpr std::size_t kIdxFileSizeOffset = 0x1C;
constexpr std::size_t kIdxHashTableOffset = 0x20;
constexpr std::size_t kIdxTotalBlocksOffset = 0x24;
constexpr std::size_t kIdxAllocatedBlocksOffset = 0x28;
constexpr std::size_t kIdxCacheLimitOffset = 0x30;
constexpr std::size_t kIdxCacheUsageOffset = 0x38;
constexpr std::size_t kIdxExemptUsageOffset = 0x40;
constexpr std::size_t kIdxDirCountOffset = 0x48;
constexpr std::size_t kIdxDirTableOffset = 0x4C;
constexpr std::size_t kIdxDirEntrySize = 12; // file count, 8-byte name without NUL
constexpr std::size_t kIdxDirNameSize = 8;
constexpr std::size_t kIdxMaxDirs = 32;
// Header data dword 0x16: file offset of the first LEAK record (a deleted
// record whose cached file could not be removed yet); each LEAK record holds
// the offset of the next at +0x2C.
constexpr std::size_t kIdxFirstLeakOffset = 0x224;
constexpr std::size_t kIdxBitmapOffset = 0x250;
constexpr std::size_t kIdxBitmapSize = 0x3DB0;
// The bitmap has one bit per block, which caps the file near 15.4 MiB.
constexpr std::uint32_t kIdxMaxBlocks = kIdxBitmapSize * 8;
constexpr std::size_t kIdxMaxFileSize = kIdxHeaderSize + std::size_t{kIdxMaxBlocks} * kIdxBlockSize;
// Wine throws away an index shorter than this.
constexpr std::size_t kIdxMinFileSize = 0x8000;

// HASH pages: 448 items of (key, record offset) in 64 sets of 7; a URL whose
// hash is h lives in set h & 0x3F on some page of the chain.
constexpr std::size_t kIdxHashPageSize = 0x1000;
constexpr std::uint32_t kIdxHashPageBlocks = 0x20;
constexpr std::size_t kIdxHashNextOffset = 0x08;
constexpr std::size_t kIdxHashSequenceOffset = 0x0C;
constexpr std::size_t kIdxHashItemsOffset = 0x10;
constexpr std::size_t kIdxHashItemSize = 8;
constexpr std::size_t kIdxHashItemCount = 448;
constexpr std::size_t kIdxHashSetCount = 64;
constexpr std::size_t kIdxHashSetSize = 7;
constexpr std::uint32_t kIdxHashKeyMask = 0xFFFFFFC0; // the low 6 bits are flags
constexpr std::uint32_t kIdxHashNeverUsed = 3;        // ends a lookup in its set
constexpr std::uint32_t kIdxHashDeleted = 1;          // skipped, may be reused
constexpr std::uint32_t kIdxHashLocked = 0x02;
constexpr std::uint32_t kIdxHashRedirect = 5; // low three bits of a REDR item

// URL records (offsets relative to the record).
constexpr std::size_t kUrlLastModifiedOffset = 0x08;
constexpr std::size_t kUrlLastAccessOffset = 0x10;
constexpr std::size_t kUrlExpiresOffset = 0x18; // DOS date/time
constexpr std::size_t kUrlSizeLowOffset = 0x20;
constexpr std::size_t kUrlSizeHighOffset = 0x24;
constexpr std::size_t kUrlGroupOffset = 0x28;
constexpr std::size_t kUrlExemptDeltaOffset = 0x2C;
constexpr std::size_t kUrlFixedSizeOffset = 0x30; // fixed part minus 8
constexpr std::size_t kUrlUrlOffset = 0x34;
constexpr std::size_t kUrlDirIndexOffset = 0x38;
constexpr std::size_t kUrlLayoutOffset = 0x3A;
constexpr std::size_t kUrlFileNameOffset = 0x3C;
constexpr std::size_t kUrlEntryTypeOffset = 0x40;
constexpr std::size_t kUrlHeaderOffset = 0x44;
constexpr std::size_t kUrlHeaderSizeOffset = 0x48;
constexpr std::size_t kUrlExtensionOffset = 0x4C;
constexpr std::size_t kUrlLastSyncOffset = 0x50; // DOS date/time
constexpr std::size_t kUrlHitRateOffset = 0x54;
constexpr std::size_t kUrlUseCountOffset = 0x58;
constexpr std::size_t kUrlFileTimeOffset = 0x5C; // DOS last-write time of the cached file
constexpr std::size_t kUrlUnknown60Offset = 0x60;
constexpr std::size_t kUrlUnused64Offset = 0x64;
constexpr std::size_t kUrlFixedSize = 0x68;
// Directory index of a file that lies in the container folder itself.
constexpr std::uint8_t kUrlNoSubDirectory = 0xFE;

constexpr std::uint32_t kIdxFillPattern = 0xDEADBEEF;

// Four-byte record signatures as little-endian dwords.
constexpr std::uint32_t kSigUrl = 0x204C5255;  // "URL "
constexpr std::uint32_t kSigRedr = 0x52444552; // "REDR"
constexpr std::uint32_t kSigLeak = 0x4B41454C; // "LEAK"
constexpr std::uint32_t kSigHash = 0x48534148; // "HASH"

enum class TIndexDatSignature { None, Microsoft, Wine };

// The 28 signature bytes, NUL included.
std::string_view IndexDatSignatureBytes(TIndexDatSignature signature);
TIndexDatSignature GetIndexDatSignature(std::string_view data);

// The URL hash of Internet Explorer's index: the bytes as stored, one trailing
// "/" left out.
std::uint32_t UrlCacheHash(std::string_view url);
// Wine's variant hashes a trailing "/" as well.
std::uint32_t WineUrlCacheHash(std::string_view url);

// Little-endian access. Get returns 0 for bytes outside data; Put requires
// the bytes to exist. Inline: a refresh reads some ten fields per entry.
inline std::uint32_t GetU32(std::string_view data, std::size_t offset) {
    if (offset > data.size() || data.size() - offset < 4)
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data() + offset);
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}
inline std::uint64_t GetU64(std::string_view data, std::size_t offset) {
    if (offset > data.size() || data.size() - offset < 8)
        return 0;
    return GetU32(data, offset) | (std::uint64_t{GetU32(data, offset + 4)} << 32);
}
void PutU32(std::string& data, std::size_t offset, std::uint32_t value);
void PutU64(std::string& data, std::size_t offset, std::uint64_t value);

// DOS date (low word) and time (high word) <-> FILETIME; 0 stands for none.
std::uint32_t FileTimeToDosDateTime(const FILETIME& ft);
FILETIME DosDateTimeToFileTime(std::uint32_t dos);

// One decoded URL record. The string views point into the data it was read
// from.
struct TIndexDatRecord {
    std::uint32_t Offset = 0; // file offset
    std::uint32_t Blocks = 0;
    std::string_view Url;
    std::string_view FileName;  // empty when the entry has no cached file
    std::string_view Headers;   // header block up to its first NUL
    std::string_view Extension; // empty when none is recorded
    FILETIME LastModified;
    FILETIME LastAccess;
    std::uint64_t Size = 0;
    std::uint32_t EntryType = 0;
    std::uint8_t DirIndex = 0;
    std::uint32_t UseCount = 0;
};

// A live hash item that points at a URL record.
struct TIndexDatItem {
    std::size_t Position = 0; // file offset of the item (its key dword)
    std::uint32_t Key = 0;
    std::uint32_t RecordOffset = 0;
};

// What is wrong with an index.dat, as far as reading it goes.
struct TIndexDatDamage {
    std::vector<std::string> Problems; // one short phrase each
    std::uint64_t MissingBytes = 0;    // bytes the header promises that the file lacks
    std::size_t BadItems = 0;          // hash items pointing outside the file or at no record
    std::size_t RejectedItems = 0;     // items whose record could not be taken
    bool Damaged() const { return !Problems.empty(); }
};

// The records a scan of the data area finds besides those of the hash table.
struct TIndexDatScan {
    // URL records in allocated blocks, or named by a hash item, that the
    // table did not deliver: live entries the index lost track of. File order.
    std::vector<std::uint32_t> Lost;
    // URL and LEAK records in free blocks: deleted entries. File order.
    std::vector<std::uint32_t> Deleted;
};

// Whether a URL read from a record is text: not empty, no control characters.
bool IsUrlText(std::string_view url);

// Read-only view of the bytes of an index.dat. Cheap to make; holds no copy.
class TIndexDatView {
public:
    explicit TIndexDatView(std::string_view data);

    // A known signature and a whole header.
    bool Valid() const { return signature_ != TIndexDatSignature::None; }
    TIndexDatSignature Signature() const { return signature_; }
    std::string_view Data() const { return data_; }

    // Number of cache sub-directories, at most 32.
    std::size_t DirCount() const;
    std::uint32_t DirFileCount(std::size_t index) const;
    // The 8-character folder name; empty when it is not a usable single path
    // component.
    std::string_view DirName(std::size_t index) const;

    // File offsets of the HASH pages in chain order. The walk ends at the
    // first page that does not fit, lacks its signature, carries the wrong
    // sequence number or was visited already; broken (when given) then
    // says where and why, and stays empty when the chain ends as it should.
    std::vector<std::uint32_t> HashPages(std::string* broken = nullptr) const;

    // Every item with bit 0 of its key clear whose target is a URL record, in
    // the order WinINet enumerates them: pages in chain order, items in order.
    // Each record is taken once, and only where all its blocks lie in the
    // file, are allocated in the bitmap and belong to no HASH page and no
    // record taken before it: records never share bytes, so what is read of
    // them stays within the size of the file. rejected (when given) counts
    // the items left out for that, not those that merely repeat a record.
    std::vector<TIndexDatItem> LiveUrlItems(std::size_t* rejected = nullptr) const;

    // Every item with bit 0 of its key clear that points at this offset
    // (normally one; a damaged table may hold more).
    std::vector<std::size_t> ItemsOfRecord(std::uint32_t offset) const;

    // Whether the blocks of the record at offset are its own, so that freeing
    // them takes nothing from anyone: inside the data area, all allocated,
    // and shared with no HASH page, no record another live item points at
    // and no record of the LEAK chain. The failure says which rule broke.
    TError CheckRecordBlocks(std::uint32_t offset) const;

    // Decodes the URL record at a file offset. False when it is not a URL
    // record that fits in the file, or a string of it does not fit in the
    // record.
    bool DecodeUrlRecord(std::uint32_t offset, TIndexDatRecord& record) const;
    // The same for a record that may also be a LEAK record (a deleted entry
    // whose cached file could not be removed); its compact form, which holds
    // no URL, does not decode.
    bool DecodeDeletedRecord(std::uint32_t offset, TIndexDatRecord& record) const;

    // What is wrong with the file, judged from its header, its hash table
    // and the items that could not be taken (rejectedItems, as counted by
    // LiveUrlItems, plus the records among them that do not decode).
    // fileLength is the size of the file on disk when the view holds only its
    // first bytes (a file larger than an index can be); by default the view's.
    TIndexDatDamage AssessDamage(std::size_t rejectedItems,
                                 std::optional<std::uint64_t> fileLength = std::nullopt) const;

    // The records the hash table does not lead to, found by looking at the
    // start of every block that no HASH page and no record of live (as
    // LiveUrlItems gives them) covers: first the allocated blocks, then the
    // free ones. Only records that are whole and consistent count (their
    // blocks inside the file and shared with nothing taken before, their
    // strings inside them, a URL that is text). Time and memory grow with
    // the file's size only.
    TIndexDatScan ScanRecords(const std::vector<TIndexDatItem>& live) const;

    // The live item of the URL record for url: through the hash table with
    // Internet Explorer's hash, then Wine's, then by a walk over every live
    // item. False when no record carries the URL.
    bool FindUrl(std::string_view url, TIndexDatItem& item) const;
    // The lookup WinINet does: only the set of this hash, on every page.
    bool FindUrlByHash(std::string_view url, std::uint32_t hash, TIndexDatItem& item) const;

private:
    bool DecodeRecord(std::uint32_t offset, TIndexDatRecord& record, bool orLeak) const;

    std::string_view data_;
    TIndexDatSignature signature_ = TIndexDatSignature::None;
};

// Whether the file keeps the rules WinINet checks when it opens an index (it
// throws the whole container folder away when one fails): length at least
// 32 KiB, the file size field and the block count agree with the length, the
// allocated-block count equals the set bits of the bitmap, and the bitmap is
// zero past the block count. Also: a known signature, the HASH table starts
// inside the file, and at most 32 directories. The failure names the rule
// (EBADMSG).
[[nodiscard]] TError CheckIndexDatInvariants(std::string_view data);

// Wine stores URLs that are not ASCII as raw UTF-8 (Internet Explorer
// %-escapes them). A cache whose URLs are UTF-8 has at least one URL with a
// byte >= 0x80, and every such URL is valid UTF-8 (IsValidUtf8).
bool IsAsciiText(std::string_view text);
// UTF-8 text from such a cache as the program's ANSI text (code page 932):
// every character the code page holds (and gives back unchanged) is
// converted, any other is %-escaped byte by byte, as a browser sends it, so
// two URLs never become one and no "?" appears that was not there.
std::string CacheUtf8ToAnsi(std::string_view utf8);

} // namespace tarnhold
