#include "sources/indexdat/indexdat.h"

#include "platform/codepage.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

namespace tarnhold {

namespace {

constexpr std::string_view kMicrosoftSignature{"Client UrlCache MMF Ver 5.2\0", 28};
constexpr std::string_view kWineSignature{"WINE URLCache Ver 0.2012001\0", 28};
static_assert(kMicrosoftSignature.size() == kIdxSignatureSize);
static_assert(kWineSignature.size() == kIdxSignatureSize);
static_assert(kIdxHashItemsOffset + kIdxHashItemCount * kIdxHashItemSize == 0xE10);
static_assert(kIdxHashSetCount * kIdxHashSetSize == kIdxHashItemCount);
static_assert(kIdxBitmapOffset + kIdxBitmapSize == kIdxHeaderSize);
static_assert(kIdxMaxFileSize == 0x00F70000);

// The permutation WinINet's URL hash runs every byte through.
constexpr std::array<std::uint8_t, 256> kHashPad = {
    0x01, 0x0E, 0x6E, 0x19, 0x61, 0xAE, 0x84, 0x77, 0x8A, 0xAA, 0x7D, 0x76, 0x1B, 0xE9, 0x8C, 0x33,
    0x57, 0xC5, 0xB1, 0x6B, 0xEA, 0xA9, 0x38, 0x44, 0x1E, 0x07, 0xAD, 0x49, 0xBC, 0x28, 0x24, 0x41,
    0x31, 0xD5, 0x68, 0xBE, 0x39, 0xD3, 0x94, 0xDF, 0x30, 0x73, 0x0F, 0x02, 0x43, 0xBA, 0xD2, 0x1C,
    0x0C, 0xB5, 0x67, 0x46, 0x16, 0x3A, 0x4B, 0x4E, 0xB7, 0xA7, 0xEE, 0x9D, 0x7C, 0x93, 0xAC, 0x90,
    0xB0, 0xA1, 0x8D, 0x56, 0x3C, 0x42, 0x80, 0x53, 0x9C, 0xF1, 0x4F, 0x2E, 0xA8, 0xC6, 0x29, 0xFE,
    0xB2, 0x55, 0xFD, 0xED, 0xFA, 0x9A, 0x85, 0x58, 0x23, 0xCE, 0x5F, 0x74, 0xFC, 0xC0, 0x36, 0xDD,
    0x66, 0xDA, 0xFF, 0xF0, 0x52, 0x6A, 0x9E, 0xC9, 0x3D, 0x03, 0x59, 0x09, 0x2A, 0x9B, 0x9F, 0x5D,
    0xA6, 0x50, 0x32, 0x22, 0xAF, 0xC3, 0x64, 0x63, 0x1A, 0x96, 0x10, 0x91, 0x04, 0x21, 0x08, 0xBD,
    0x79, 0x40, 0x4D, 0x48, 0xD0, 0xF5, 0x82, 0x7A, 0x8F, 0x37, 0x69, 0x86, 0x1D, 0xA4, 0xB9, 0xC2,
    0xC1, 0xEF, 0x65, 0xF2, 0x05, 0xAB, 0x7E, 0x0B, 0x4A, 0x3B, 0x89, 0xE4, 0x6C, 0xBF, 0xE8, 0x8B,
    0x06, 0x18, 0x51, 0x14, 0x7F, 0x11, 0x5B, 0x5C, 0xFB, 0x97, 0xE1, 0xCF, 0x15, 0x62, 0x71, 0x70,
    0x54, 0xE2, 0x12, 0xD6, 0xC7, 0xBB, 0x0D, 0x20, 0x5E, 0xDC, 0xE0, 0xD4, 0xF7, 0xCC, 0xC4, 0x2B,
    0xF9, 0xEC, 0x2D, 0xF4, 0x6F, 0xB6, 0x99, 0x88, 0x81, 0x5A, 0xD9, 0xCA, 0x13, 0xA5, 0xE7, 0x47,
    0xE6, 0x8E, 0x60, 0xE3, 0x3E, 0xB3, 0xF6, 0x72, 0xA2, 0x35, 0xA0, 0xD7, 0xCD, 0xB4, 0x2F, 0x6D,
    0x2C, 0x26, 0x1F, 0x95, 0x87, 0x00, 0xD8, 0x34, 0x3F, 0x17, 0x25, 0x45, 0x27, 0x75, 0x92, 0xB8,
    0xA3, 0xC8, 0xDE, 0xEB, 0xF8, 0xF3, 0xDB, 0x0A, 0x98, 0x83, 0x7B, 0xE5, 0xCB, 0x4C, 0x78, 0xD1,
};

std::uint32_t HashUrl(std::string_view url, bool skipTrailingSlash) {
    // WinINet indexes the table with the first byte sign-extended, which only
    // matters for URLs starting with a byte >= 0x80 (none that a browser
    // stores); unsigned here, so such a hash is merely well defined.
    std::array<std::uint8_t, 4> state{};
    const unsigned c0 = url.empty() ? 0u : static_cast<unsigned char>(url[0]);
    for (unsigned i = 0; i < 4; ++i)
        state[i] = kHashPad[(c0 + i) & 0xFF];
    for (std::size_t p = 1; p < url.size(); ++p) {
        const auto c = static_cast<unsigned char>(url[p]);
        if (skipTrailingSlash && c == '/' && p == url.size() - 1)
            break;
        for (auto& s : state)
            s = kHashPad[s ^ c];
    }
    return state[0] | (std::uint32_t{state[1]} << 8) | (std::uint32_t{state[2]} << 16) |
           (std::uint32_t{state[3]} << 24);
}

// A NUL-terminated string at a record-relative offset, bounded by the record.
// Offset 0 means "none" and gives an empty string. Strings start after the
// fixed part (0x60 bytes in the oldest 5.2 layout).
bool RecordString(std::string_view record, std::uint32_t offset, std::string_view& out) {
    out = {};
    if (offset == 0)
        return true;
    if (offset < 0x60 || offset >= record.size())
        return false;
    std::string_view rest = record.substr(offset);
    std::size_t nul = rest.find('\0');
    if (nul == std::string_view::npos)
        return false;
    out = rest.substr(0, nul);
    return true;
}

bool IsBlockAligned(std::uint64_t offset) {
    return offset >= kIdxHeaderSize && (offset - kIdxHeaderSize) % kIdxBlockSize == 0;
}

std::size_t BlockOf(std::uint32_t offset) {
    return (offset - kIdxHeaderSize) / kIdxBlockSize;
}

std::string Hex(std::uint32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", value);
    return buf;
}

// One bit per block, with range queries a 64-bit word at a time.
class TBlockBits {
public:
    explicit TBlockBits(std::size_t count) : words_((count + 63) / 64) {}

    // The allocation bitmap of the header, for the first count blocks.
    static TBlockBits Allocation(std::string_view data, std::size_t count) {
        TBlockBits bits(count);
        // Bit b of the bitmap is bit b % 8 of byte b / 8: little-endian words.
        for (std::size_t w = 0; w < bits.words_.size(); ++w) {
            std::uint64_t word = 0;
            for (std::size_t k = 0; k < 8; ++k) {
                const auto byte = static_cast<unsigned char>(data[kIdxBitmapOffset + 8 * w + k]);
                word |= std::uint64_t{byte} << (8 * k);
            }
            bits.words_[w] = word;
        }
        // Bits past count stay clear.
        if (count % 64 != 0 && !bits.words_.empty())
            bits.words_.back() &= (std::uint64_t{1} << (count % 64)) - 1;
        return bits;
    }

    // Whether a bit of [first, first + n) has this value.
    bool Any(std::size_t first, std::size_t n, bool value) const {
        const std::size_t end = first + n;
        for (std::size_t b = first; b < end;) {
            std::uint64_t word = words_[b / 64];
            if (!value)
                word = ~word;
            const std::size_t bit = b % 64;
            const std::size_t span = std::min<std::size_t>(64 - bit, end - b);
            word >>= bit;
            if (span < 64)
                word &= (std::uint64_t{1} << span) - 1;
            if (word != 0)
                return true;
            b += span;
        }
        return false;
    }
    bool Get(std::size_t b) const { return (words_[b / 64] >> (b % 64)) & 1; }
    void Set(std::size_t first, std::size_t n) {
        for (std::size_t b = first; b < first + n; ++b)
            words_[b / 64] |= std::uint64_t{1} << (b % 64);
    }

private:
    std::vector<std::uint64_t> words_;
};

// Blocks that lie in the data and the bitmap can describe.
std::size_t DataBlocks(std::string_view data) {
    if (data.size() < kIdxHeaderSize)
        return 0;
    return std::min<std::size_t>((data.size() - kIdxHeaderSize) / kIdxBlockSize, kIdxMaxBlocks);
}

} // namespace

bool IsAsciiText(std::string_view text) {
    // Eight bytes at a time: every URL and header block of a refresh passes here.
    std::size_t i = 0;
    for (; text.size() - i >= 8; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        if ((word & 0x8080808080808080ULL) != 0)
            return false;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    }
    return true;
}

std::string CacheUtf8ToAnsi(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t n = Utf8SequenceLength(utf8, i);
        if (n == 1) {
            out.push_back(utf8[i++]);
            continue;
        }
        if (n == 0)
            n = 1; // not UTF-8: escaped like a character the code page lacks
        const std::string_view ch = utf8.substr(i, n);
        std::string ansi = n > 1 ? Utf8ToAnsi(ch) : std::string();
        if (!ansi.empty() && ansi != "?" && AnsiToUtf8(ansi) == ch) {
            out += ansi;
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            for (char c : ch) {
                const auto u = static_cast<unsigned char>(c);
                out.push_back('%');
                out.push_back(kHex[u >> 4]);
                out.push_back(kHex[u & 15]);
            }
        }
        i += n;
    }
    return out;
}

std::string_view IndexDatSignatureBytes(TIndexDatSignature signature) {
    switch (signature) {
    case TIndexDatSignature::Microsoft:
        return kMicrosoftSignature;
    case TIndexDatSignature::Wine:
        return kWineSignature;
    case TIndexDatSignature::None:
        break;
    }
    return {};
}

TIndexDatSignature GetIndexDatSignature(std::string_view data) {
    if (data.size() < kIdxSignatureSize)
        return TIndexDatSignature::None;
    std::string_view sig = data.substr(0, kIdxSignatureSize);
    if (sig == kMicrosoftSignature)
        return TIndexDatSignature::Microsoft;
    if (sig == kWineSignature)
        return TIndexDatSignature::Wine;
    return TIndexDatSignature::None;
}

std::uint32_t UrlCacheHash(std::string_view url) {
    return HashUrl(url, true);
}
std::uint32_t WineUrlCacheHash(std::string_view url) {
    return HashUrl(url, false);
}

void PutU32(std::string& data, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        data[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

void PutU64(std::string& data, std::size_t offset, std::uint64_t value) {
    PutU32(data, offset, static_cast<std::uint32_t>(value));
    PutU32(data, offset + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t FileTimeToDosDateTime(const FILETIME& ft) {
    SYSTEMTIME st;
    if (IsZeroFileTime(ft) || !FileTimeToSystemTime(ft, st) || st.wYear < 1980 ||
        st.wYear > 1980 + 127)
        return 0;
    const std::uint32_t date = ((st.wYear - 1980u) << 9) | (st.wMonth << 5) | st.wDay;
    const std::uint32_t time = (st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2u);
    return date | (time << 16);
}

FILETIME DosDateTimeToFileTime(std::uint32_t dos) {
    if (dos == 0)
        return {};
    SYSTEMTIME st;
    const std::uint32_t date = dos & 0xFFFF;
    const std::uint32_t time = dos >> 16;
    st.wYear = static_cast<std::uint16_t>(1980 + (date >> 9));
    st.wMonth = static_cast<std::uint16_t>((date >> 5) & 15);
    st.wDay = static_cast<std::uint16_t>(date & 31);
    st.wHour = static_cast<std::uint16_t>(time >> 11);
    st.wMinute = static_cast<std::uint16_t>((time >> 5) & 63);
    st.wSecond = static_cast<std::uint16_t>((time & 31) * 2);
    FILETIME ft;
    if (!SystemTimeToFileTime(st, ft))
        return {};
    return ft;
}

// ---------------------------------------------------------------------------

TIndexDatView::TIndexDatView(std::string_view data) : data_(data) {
    if (data.size() >= kIdxHeaderSize)
        signature_ = GetIndexDatSignature(data);
}

std::size_t TIndexDatView::DirCount() const {
    if (!Valid())
        return 0;
    return std::min<std::size_t>(GetU32(data_, kIdxDirCountOffset), kIdxMaxDirs);
}

std::uint32_t TIndexDatView::DirFileCount(std::size_t index) const {
    if (index >= DirCount())
        return 0;
    return GetU32(data_, kIdxDirTableOffset + kIdxDirEntrySize * index);
}

std::string_view TIndexDatView::DirName(std::size_t index) const {
    if (index >= DirCount())
        return {};
    std::string_view name =
        data_.substr(kIdxDirTableOffset + kIdxDirEntrySize * index + 4, kIdxDirNameSize);
    name = name.substr(0, name.find('\0'));
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos)
        return {};
    return name;
}

std::vector<std::uint32_t> TIndexDatView::HashPages(std::string* broken) const {
    std::vector<std::uint32_t> pages;
    if (broken != nullptr)
        broken->clear();
    if (!Valid())
        return pages;
    const std::size_t maxPages = (data_.size() - kIdxHeaderSize) / kIdxHashPageSize;
    std::uint32_t offset = GetU32(data_, kIdxHashTableOffset);
    auto fail = [&](const std::string& why) {
        if (broken != nullptr)
            *broken = "the hash table " +
                      (pages.empty() ? std::string("at ") + Hex(offset)
                                     : "chain after page " + std::to_string(pages.size()) +
                                           " points at " + Hex(offset)) +
                      ", " + why;
    };
    if (offset == 0)
        fail("no hash table");
    while (offset != 0) {
        if (pages.size() >= maxPages) {
            fail("more pages than the file holds");
            break;
        }
        if (!IsBlockAligned(offset)) {
            fail("not at a block");
            break;
        }
        if (offset > data_.size() || data_.size() - offset < kIdxHashPageSize) {
            fail("past the end of the file");
            break;
        }
        if (GetU32(data_, offset) != kSigHash) {
            fail("no HASH page there");
            break;
        }
        // A page that comes round again fails the sequence check: its number
        // was already matched against an earlier position of the chain.
        if (GetU32(data_, offset + kIdxHashSequenceOffset) != pages.size()) {
            fail(std::find(pages.begin(), pages.end(), offset) != pages.end()
                     ? "a page of the chain again (a loop)"
                     : "a page out of sequence");
            break;
        }
        pages.push_back(offset);
        offset = GetU32(data_, offset + kIdxHashNextOffset);
    }
    return pages;
}

std::vector<TIndexDatItem> TIndexDatView::LiveUrlItems(std::size_t* rejected) const {
    std::vector<TIndexDatItem> items;
    std::size_t dropped = 0;
    const std::vector<std::uint32_t> pages = HashPages();
    const std::size_t blocks = DataBlocks(data_);
    if (!pages.empty()) {
        const TBlockBits allocated = TBlockBits::Allocation(data_, blocks);
        TBlockBits claimed(blocks), starts(blocks);
        for (std::uint32_t page : pages) {
            if (BlockOf(page) + kIdxHashPageBlocks <= blocks)
                claimed.Set(BlockOf(page), kIdxHashPageBlocks);
        }
        for (std::uint32_t page : pages) {
            for (std::size_t i = 0; i < kIdxHashItemCount; ++i) {
                const std::size_t pos = page + kIdxHashItemsOffset + kIdxHashItemSize * i;
                const std::uint32_t key = GetU32(data_, pos);
                if ((key & 1) != 0)
                    continue;
                const std::uint32_t target = GetU32(data_, pos + 4);
                if (!IsBlockAligned(target) || BlockOf(target) >= blocks ||
                    GetU32(data_, target) != kSigUrl)
                    continue;
                const std::size_t first = BlockOf(target);
                if (starts.Get(first))
                    continue; // the record is taken already: one entry per record
                const std::uint32_t count = GetU32(data_, target + 4);
                if (count == 0 || count > blocks - first || claimed.Any(first, count, true) ||
                    allocated.Any(first, count, false)) {
                    ++dropped;
                    continue;
                }
                claimed.Set(first, count);
                starts.Set(first, 1);
                items.push_back({pos, key, target});
            }
        }
    }
    if (rejected != nullptr)
        *rejected = dropped;
    return items;
}

std::vector<std::size_t> TIndexDatView::ItemsOfRecord(std::uint32_t offset) const {
    std::vector<std::size_t> positions;
    for (std::uint32_t page : HashPages()) {
        for (std::size_t i = 0; i < kIdxHashItemCount; ++i) {
            const std::size_t pos = page + kIdxHashItemsOffset + kIdxHashItemSize * i;
            if ((GetU32(data_, pos) & 1) == 0 && GetU32(data_, pos + 4) == offset)
                positions.push_back(pos);
        }
    }
    return positions;
}

TError TIndexDatView::CheckRecordBlocks(std::uint32_t offset) const {
    const std::string where = "the record at " + Hex(offset);
    const std::size_t total =
        std::min<std::size_t>(GetU32(data_, kIdxTotalBlocksOffset), DataBlocks(data_));
    if (!Valid() || !IsBlockAligned(offset) || BlockOf(offset) >= total)
        return TError::Message(where + " lies outside the data area");
    const std::size_t first = BlockOf(offset);
    const std::uint32_t count = GetU32(data_, offset + 4);
    if (count == 0 || count > total - first)
        return TError::Message(where + " runs past the data area");
    const TBlockBits allocated = TBlockBits::Allocation(data_, total);
    if (allocated.Any(first, count, false))
        return TError::Message(where + " covers blocks that are not allocated");
    auto overlaps = [&](std::uint32_t other, std::uint64_t otherBlocks) {
        const std::size_t b = BlockOf(other);
        return b < first + count && first < b + otherBlocks;
    };
    const std::vector<std::uint32_t> pages = HashPages();
    for (std::uint32_t page : pages) {
        if (overlaps(page, kIdxHashPageBlocks))
            return TError::Message(where + " runs into the hash table page at " + Hex(page));
    }
    // Another record: its extent as its own header gives it, bounded by the
    // file.
    auto otherRecord = [&](std::uint32_t other) -> std::uint64_t {
        if (other == offset || !IsBlockAligned(other) || BlockOf(other) >= total)
            return 0;
        const std::uint32_t sig = GetU32(data_, other);
        if (sig != kSigUrl && sig != kSigRedr && sig != kSigLeak)
            return 0;
        return std::min<std::uint64_t>(GetU32(data_, other + 4), total - BlockOf(other));
    };
    for (std::uint32_t page : pages) {
        for (std::size_t i = 0; i < kIdxHashItemCount; ++i) {
            const std::size_t pos = page + kIdxHashItemsOffset + kIdxHashItemSize * i;
            const std::uint32_t key = GetU32(data_, pos);
            if ((key & 1) != 0 && (key & 7) != kIdxHashRedirect)
                continue;
            const std::uint32_t other = GetU32(data_, pos + 4);
            if (overlaps(other, otherRecord(other)))
                return TError::Message(where + " overlaps the record at " + Hex(other));
        }
    }
    // The LEAK chain: records whose cached file still waits to be removed.
    std::vector<bool> seen(total, false);
    for (std::uint32_t leak = GetU32(data_, kIdxFirstLeakOffset);
         IsBlockAligned(leak) && BlockOf(leak) < total && !seen[BlockOf(leak)] &&
         GetU32(data_, leak) == kSigLeak;
         leak = GetU32(data_, leak + kUrlExemptDeltaOffset)) {
        seen[BlockOf(leak)] = true;
        if (overlaps(leak, otherRecord(leak)))
            return TError::Message(where + " overlaps the deleted record at " + Hex(leak));
    }
    return {};
}

bool TIndexDatView::DecodeUrlRecord(std::uint32_t offset, TIndexDatRecord& r) const {
    return DecodeRecord(offset, r, false);
}

bool TIndexDatView::DecodeDeletedRecord(std::uint32_t offset, TIndexDatRecord& r) const {
    return DecodeRecord(offset, r, true);
}

bool TIndexDatView::DecodeRecord(std::uint32_t offset, TIndexDatRecord& r, bool orLeak) const {
    r = TIndexDatRecord{};
    if (!Valid() || !IsBlockAligned(offset) || offset > data_.size() ||
        data_.size() - offset < kIdxBlockSize)
        return false;
    const std::uint32_t signature = GetU32(data_, offset);
    if (signature != kSigUrl && (!orLeak || signature != kSigLeak))
        return false;
    const std::uint32_t blocks = GetU32(data_, offset + 4);
    const std::uint64_t size = std::uint64_t{blocks} * kIdxBlockSize;
    if (blocks == 0 || size > data_.size() - offset)
        return false;
    const std::string_view rec = data_.substr(offset, static_cast<std::size_t>(size));

    r.Offset = offset;
    r.Blocks = blocks;
    if (!RecordString(rec, GetU32(rec, kUrlUrlOffset), r.Url) || GetU32(rec, kUrlUrlOffset) == 0)
        return false;
    if (!RecordString(rec, GetU32(rec, kUrlFileNameOffset), r.FileName) ||
        !RecordString(rec, GetU32(rec, kUrlExtensionOffset), r.Extension))
        return false;
    const std::uint32_t headerOffset = GetU32(rec, kUrlHeaderOffset);
    const std::uint32_t headerSize = GetU32(rec, kUrlHeaderSizeOffset);
    if (headerOffset != 0 && headerSize != 0) {
        if (headerOffset < 0x60 || headerOffset > rec.size() ||
            headerSize > rec.size() - headerOffset)
            return false;
        std::string_view h = rec.substr(headerOffset, headerSize);
        r.Headers = h.substr(0, h.find('\0'));
    }
    r.LastModified = U64ToFileTime(GetU64(rec, kUrlLastModifiedOffset));
    r.LastAccess = U64ToFileTime(GetU64(rec, kUrlLastAccessOffset));
    r.Size = GetU64(rec, kUrlSizeLowOffset);
    r.EntryType = GetU32(rec, kUrlEntryTypeOffset);
    r.DirIndex = static_cast<std::uint8_t>(rec[kUrlDirIndexOffset]);
    r.UseCount = GetU32(rec, kUrlUseCountOffset);
    return true;
}

bool TIndexDatView::FindUrlByHash(std::string_view url, std::uint32_t hash,
                                  TIndexDatItem& item) const {
    if (!Valid())
        return false;
    const std::size_t set = hash & 0x3F;
    const std::uint32_t want = hash & kIdxHashKeyMask;
    for (std::uint32_t page : HashPages()) {
        for (std::size_t j = 0; j < kIdxHashSetSize; ++j) {
            const std::size_t pos =
                page + kIdxHashItemsOffset + kIdxHashItemSize * (kIdxHashSetSize * set + j);
            const std::uint32_t key = GetU32(data_, pos);
            if (key == kIdxHashNeverUsed)
                return false; // nothing was ever stored past this item
            if ((key & 1) != 0 || (key & kIdxHashKeyMask) != want)
                continue;
            TIndexDatRecord r;
            const std::uint32_t target = GetU32(data_, pos + 4);
            if (DecodeUrlRecord(target, r) && r.Url == url) {
                item = {pos, key, target};
                return true;
            }
        }
    }
    return false;
}

bool TIndexDatView::FindUrl(std::string_view url, TIndexDatItem& item) const {
    if (!Valid())
        return false;
    const std::uint32_t ie = UrlCacheHash(url);
    if (FindUrlByHash(url, ie, item))
        return true;
    const std::uint32_t wine = WineUrlCacheHash(url);
    if (wine != ie && FindUrlByHash(url, wine, item))
        return true;
    // A record filed under a key of another hash (or a damaged key) is still
    // enumerated, so it must be deletable too.
    for (const auto& live : LiveUrlItems()) {
        TIndexDatRecord r;
        if (DecodeUrlRecord(live.RecordOffset, r) && r.Url == url) {
            item = live;
            return true;
        }
    }
    return false;
}

bool IsUrlText(std::string_view url) {
    if (url.empty())
        return false;
    for (char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

TIndexDatDamage TIndexDatView::AssessDamage(std::size_t rejectedItems,
                                            std::optional<std::uint64_t> fileLength) const {
    TIndexDatDamage damage;
    if (!Valid())
        return damage;
    const std::uint64_t length = data_.size();
    const std::uint64_t onDisk = std::max<std::uint64_t>(fileLength.value_or(length), length);
    const std::uint32_t fileSize = GetU32(data_, kIdxFileSizeOffset);
    if (fileSize > onDisk) {
        damage.MissingBytes = fileSize - onDisk;
        damage.Problems.push_back("the file ends at byte " + std::to_string(onDisk) +
                                  ", its header says " + std::to_string(fileSize));
    } else if (fileSize < onDisk) {
        damage.Problems.push_back("its header gives the size as " + std::to_string(fileSize) +
                                  " bytes, the file has " + std::to_string(onDisk));
    }
    if (onDisk > length)
        damage.Problems.push_back("only its first " + std::to_string(length) +
                                  " bytes are read, as much as an index can hold");
    const std::uint64_t blocks = GetU32(data_, kIdxTotalBlocksOffset);
    const std::uint64_t blockEnd = kIdxHeaderSize + blocks * kIdxBlockSize;
    if (blocks > kIdxMaxBlocks)
        damage.Problems.push_back("its header counts more blocks than an index can have");
    else if (blockEnd != fileSize && blockEnd != length)
        damage.Problems.push_back("its header's block count gives " + std::to_string(blockEnd) +
                                  " bytes");
    std::string broken;
    const std::vector<std::uint32_t> pages = HashPages(&broken);
    if (!broken.empty())
        damage.Problems.push_back(broken);
    for (std::uint32_t page : pages) {
        for (std::size_t i = 0; i < kIdxHashItemCount; ++i) {
            const std::size_t pos = page + kIdxHashItemsOffset + kIdxHashItemSize * i;
            if ((GetU32(data_, pos) & 1) != 0)
                continue;
            const std::uint32_t target = GetU32(data_, pos + 4);
            if (!IsBlockAligned(target) || target > length || length - target < kIdxBlockSize ||
                GetU32(data_, target) != kSigUrl)
                ++damage.BadItems;
        }
    }
    if (damage.BadItems > 0)
        damage.Problems.push_back(
            std::to_string(damage.BadItems) +
            (damage.BadItems == 1 ? " hash item points" : " hash items point") +
            " outside the file or at no record");
    damage.RejectedItems = rejectedItems;
    if (rejectedItems > 0)
        damage.Problems.push_back(std::to_string(rejectedItems) +
                                  (rejectedItems == 1 ? " record" : " records") +
                                  " of the hash table could not be read");
    return damage;
}

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;

bool IsNotUrlByte(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c < 0x20 || c == 0x7F;
}

// Where the next byte of a kind lies, from any position of the data area, in
// at most one block's worth of steps: a scan tries a candidate record at
// every block, and without this each try could read to the end of the file.
template <class TMatch> class TNextByte {
public:
    TNextByte(std::string_view data, std::size_t blocks, TMatch match)
        : data_(data), match_(match), next_(blocks + 1, kNone) {
        for (std::size_t k = blocks; k-- > 0;) {
            const std::size_t start = kIdxHeaderSize + k * kIdxBlockSize;
            next_[k] = next_[k + 1];
            for (std::size_t i = 0; i < kIdxBlockSize; ++i) {
                if (match_(data_[start + i])) {
                    next_[k] = static_cast<std::uint32_t>(start + i);
                    break;
                }
            }
        }
    }
    // The first matching position in [from, end), or kNone.
    std::uint32_t Find(std::size_t from, std::size_t end) const {
        const std::size_t boundary =
            kIdxHeaderSize + ((from - kIdxHeaderSize) / kIdxBlockSize + 1) * kIdxBlockSize;
        std::size_t p = from;
        for (; p < std::min(boundary, end); ++p) {
            if (match_(data_[p]))
                return static_cast<std::uint32_t>(p);
        }
        if (p >= end)
            return kNone;
        const std::uint32_t found = next_[(p - kIdxHeaderSize) / kIdxBlockSize];
        return found < end ? found : kNone;
    }

private:
    std::string_view data_;
    TMatch match_;
    std::vector<std::uint32_t> next_;
};

// For each block, the first block at or after it that is taken (blocks + 1
// when none): whether a candidate's blocks are free is then one look.
std::vector<std::uint32_t> NextTaken(const TBlockBits& taken, std::size_t blocks) {
    std::vector<std::uint32_t> next(blocks + 1, static_cast<std::uint32_t>(blocks));
    for (std::size_t k = blocks; k-- > 0;)
        next[k] = taken.Get(k) ? static_cast<std::uint32_t>(k) : next[k + 1];
    return next;
}

} // namespace

TIndexDatScan TIndexDatView::ScanRecords(const std::vector<TIndexDatItem>& live) const {
    TIndexDatScan scan;
    if (!Valid())
        return scan;
    const std::size_t blocks = DataBlocks(data_);
    const TBlockBits allocated = TBlockBits::Allocation(data_, blocks);
    TBlockBits claimed(blocks), named(blocks);
    const std::vector<std::uint32_t> pages = HashPages();
    for (std::uint32_t page : pages) {
        if (BlockOf(page) + kIdxHashPageBlocks <= blocks)
            claimed.Set(BlockOf(page), kIdxHashPageBlocks);
        for (std::size_t i = 0; i < kIdxHashItemCount; ++i) {
            const std::size_t pos = page + kIdxHashItemsOffset + kIdxHashItemSize * i;
            const std::uint32_t target = GetU32(data_, pos + 4);
            if ((GetU32(data_, pos) & 1) == 0 && IsBlockAligned(target) && BlockOf(target) < blocks)
                named.Set(BlockOf(target), 1);
        }
    }
    for (const TIndexDatItem& item : live) // LiveUrlItems checked their extent
        claimed.Set(BlockOf(item.RecordOffset), GetU32(data_, item.RecordOffset + 4));

    const TNextByte nul(data_, blocks, [](char ch) { return ch == '\0'; });
    const TNextByte notUrl(data_, blocks, [](char ch) { return IsNotUrlByte(ch); });
    // Whether the record at offset decodes with a URL that is text, in a few
    // steps: the same rules as DecodeRecord, its strings found through the
    // indexes.
    auto plausible = [&](std::uint32_t offset, std::size_t count) {
        const std::size_t size = count * kIdxBlockSize, end = offset + size;
        auto string = [&](std::uint32_t at, bool required) {
            if (at == 0)
                return !required;
            return at >= 0x60 && at < size && nul.Find(offset + at, end) != kNone;
        };
        const std::uint32_t url = GetU32(data_, offset + kUrlUrlOffset);
        if (!string(url, true) || nul.Find(offset + url, end) == offset + url ||
            notUrl.Find(offset + url, end) != nul.Find(offset + url, end))
            return false;
        if (!string(GetU32(data_, offset + kUrlFileNameOffset), false) ||
            !string(GetU32(data_, offset + kUrlExtensionOffset), false))
            return false;
        const std::uint32_t header = GetU32(data_, offset + kUrlHeaderOffset);
        const std::uint32_t headerSize = GetU32(data_, offset + kUrlHeaderSizeOffset);
        return header == 0 || headerSize == 0 ||
               (header >= 0x60 && header <= size && headerSize <= size - header);
    };

    // The extent of the object at block b, 0 when none starts there or it
    // does not fit beside what is taken.
    std::vector<std::uint32_t> nextTaken = NextTaken(claimed, blocks);
    auto extent = [&](std::size_t b, std::uint32_t signature) -> std::size_t {
        const std::uint32_t count = GetU32(data_, kIdxHeaderSize + b * kIdxBlockSize + 4);
        if (signature == kSigHash && count != kIdxHashPageBlocks)
            return 0;
        if (count == 0 || count > blocks - b || nextTaken[b] < b + count)
            return 0;
        return count;
    };
    // Allocated blocks: live records the table lost; other objects there are
    // passed over whole, so nothing inside them is taken for a record. Taken
    // blocks only grow behind the position, so nextTaken stays true ahead.
    for (std::size_t b = 0; b < blocks;) {
        const auto offset = static_cast<std::uint32_t>(kIdxHeaderSize + b * kIdxBlockSize);
        const std::uint32_t signature = GetU32(data_, offset);
        const bool object = signature == kSigUrl || signature == kSigLeak ||
                            signature == kSigRedr || signature == kSigHash;
        const bool inUse = allocated.Get(b) || named.Get(b);
        const std::size_t count = object && inUse ? extent(b, signature) : 0;
        if (count == 0) {
            ++b;
            continue;
        }
        TIndexDatRecord r;
        if (signature == kSigUrl) {
            if (!plausible(offset, count) || !DecodeUrlRecord(offset, r) || !IsUrlText(r.Url)) {
                ++b;
                continue;
            }
            scan.Lost.push_back(offset);
        }
        claimed.Set(b, count);
        b += count;
    }
    // Free blocks: records of deleted entries, where nothing newer has been
    // written over them.
    nextTaken = NextTaken(claimed, blocks);
    for (std::size_t b = 0; b < blocks;) {
        const auto offset = static_cast<std::uint32_t>(kIdxHeaderSize + b * kIdxBlockSize);
        const std::uint32_t signature = GetU32(data_, offset);
        std::size_t count = 0;
        TIndexDatRecord r;
        if (signature == kSigUrl || signature == kSigLeak)
            count = extent(b, signature);
        if (count == 0 || !plausible(offset, count) || !DecodeDeletedRecord(offset, r) ||
            !IsUrlText(r.Url)) {
            ++b;
            continue;
        }
        scan.Deleted.push_back(offset);
        claimed.Set(b, count);
        b += count;
    }
    return scan;
}

TError CheckIndexDatInvariants(std::string_view data) {
    auto fail = [](const char* reason) { return TError::Message(reason); };
    if (data.size() < kIdxHeaderSize || GetIndexDatSignature(data) == TIndexDatSignature::None)
        return fail("no index.dat signature");
    if (data.size() < kIdxMinFileSize)
        return fail("file shorter than 32 KiB");
    if (GetU32(data, kIdxFileSizeOffset) != data.size())
        return fail("file size field differs from the file length");
    const std::uint32_t blocks = GetU32(data, kIdxTotalBlocksOffset);
    if (blocks > kIdxMaxBlocks ||
        kIdxHeaderSize + std::uint64_t{blocks} * kIdxBlockSize != data.size())
        return fail("block count does not match the file length");
    const auto* bitmap = reinterpret_cast<const unsigned char*>(data.data() + kIdxBitmapOffset);
    std::uint64_t used = 0;
    for (std::size_t i = 0; i < kIdxBitmapSize; ++i) {
        const unsigned byte = bitmap[i];
        if (i * 8 >= blocks) {
            if (byte != 0)
                return fail("allocation bits set past the last block");
            continue;
        }
        unsigned bits = byte;
        if (blocks - i * 8 < 8)
            bits &= (1u << (blocks - i * 8)) - 1;
        if (bits != byte)
            return fail("allocation bits set past the last block");
        used += static_cast<unsigned>(std::popcount(bits));
    }
    if (used != GetU32(data, kIdxAllocatedBlocksOffset))
        return fail("allocated-block count differs from the bitmap");
    if (GetU32(data, kIdxDirCountOffset) > kIdxMaxDirs)
        return fail("more than 32 cache folders");
    const std::uint32_t hash = GetU32(data, kIdxHashTableOffset);
    if (!IsBlockAligned(hash) || hash > data.size() || data.size() - hash < kIdxHashPageSize ||
        GetU32(data, hash) != kSigHash)
        return fail("no hash table");
    return {};
}

} // namespace tarnhold
