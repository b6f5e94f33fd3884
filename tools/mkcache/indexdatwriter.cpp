#include "mkcache/indexdatwriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarnhold {

namespace {

// Internet Explorer grows the file 16 KiB at a time.
constexpr std::uint32_t kGrowBlocks = 0x80;
// Cache limits the browsers write into a fresh index.
constexpr std::uint64_t kMicrosoftCacheLimit = 0x03200000;
constexpr std::uint64_t kWineCacheLimit = 0x07FF5400;

std::size_t Align4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

void Fill(std::string& bytes, std::size_t offset, std::size_t size) {
    for (std::size_t i = 0; i + 4 <= size; i += 4)
        PutU32(bytes, offset + i, kIdxFillPattern);
}

std::size_t BlockOffset(std::uint32_t block) {
    return kIdxHeaderSize + std::size_t{block} * kIdxBlockSize;
}

} // namespace

TIndexDatWriter TIndexDatWriter::Create(TIndexDatSignature signature,
                                        const std::vector<std::string>& dirNames) {
    TIndexDatWriter image;
    std::string& b = image.bytes_;
    const std::uint32_t blocks = kGrowBlocks;
    b.assign(BlockOffset(blocks), '\0');
    const std::string_view sig = IndexDatSignatureBytes(signature);
    std::memcpy(b.data(), sig.data(), sig.size());
    PutU32(b, kIdxFileSizeOffset, static_cast<std::uint32_t>(b.size()));
    PutU32(b, kIdxTotalBlocksOffset, blocks);
    PutU64(b, kIdxCacheLimitOffset,
           signature == TIndexDatSignature::Wine ? kWineCacheLimit : kMicrosoftCacheLimit);
    const std::size_t dirs = std::min(dirNames.size(), kIdxMaxDirs);
    PutU32(b, kIdxDirCountOffset, static_cast<std::uint32_t>(dirs));
    for (std::size_t i = 0; i < dirs; ++i) {
        std::string name = dirNames[i].substr(0, kIdxDirNameSize);
        std::memcpy(b.data() + kIdxDirTableOffset + kIdxDirEntrySize * i + 4, name.data(),
                    name.size());
    }
    // The first HASH page goes before every record: libmsiecf looks for
    // records only from there on.
    std::uint32_t first = 0;
    image.Allocate(kIdxHashPageBlocks, kIdxHashPageBlocks, first);
    const std::size_t page = BlockOffset(first);
    PutU32(b, kIdxHashTableOffset, static_cast<std::uint32_t>(page));
    PutU32(b, page, kSigHash);
    PutU32(b, page + 4, kIdxHashPageBlocks);
    for (std::size_t i = 0; i < kIdxHashItemCount; ++i) {
        PutU32(b, page + kIdxHashItemsOffset + kIdxHashItemSize * i, kIdxHashNeverUsed);
        PutU32(b, page + kIdxHashItemsOffset + kIdxHashItemSize * i + 4, kIdxHashNeverUsed);
    }
    const std::size_t tail = kIdxHashItemsOffset + kIdxHashItemCount * kIdxHashItemSize;
    Fill(b, page + tail, kIdxHashPageSize - tail);
    return image;
}

TError TIndexDatWriter::Load(std::string bytes) {
    searchFrom_ = 0;
    fitFrom_.fill(0);
    return TIndexDatImage::Load(std::move(bytes));
}

void TIndexDatWriter::BlocksFreed(std::uint32_t first) {
    searchFrom_ = std::min(searchFrom_, first);
    for (auto& f : fitFrom_)
        f = std::min(f, first);
}

bool TIndexDatWriter::Grow() {
    const std::uint32_t total = TotalBlocks();
    if (total >= kIdxMaxBlocks)
        return false;
    const std::uint32_t grown = std::min(total + kGrowBlocks, kIdxMaxBlocks);
    bytes_.resize(BlockOffset(grown), '\0');
    PutU32(bytes_, kIdxFileSizeOffset, static_cast<std::uint32_t>(bytes_.size()));
    PutU32(bytes_, kIdxTotalBlocksOffset, grown);
    return true;
}

bool TIndexDatWriter::Allocate(std::uint32_t count, std::uint32_t align, std::uint32_t& first) {
    if (count == 0 || count > kIdxMaxBlocks)
        return false;
    for (;;) {
        const std::uint32_t total = TotalBlocks();
        std::uint32_t from = searchFrom_;
        if (align == 1 && count < fitFrom_.size())
            from = std::max(from, fitFrom_[count]);
        std::uint32_t b = (from + align - 1) / align * align;
        while (b < total && total - b >= count) {
            // Whole bytes of used blocks are passed over at once.
            if (b % 8 == 0 &&
                static_cast<unsigned char>(bytes_[kIdxBitmapOffset + b / 8]) == 0xFF) {
                b = (b + 8 + align - 1) / align * align;
                continue;
            }
            std::uint32_t k = 0;
            while (k < count && !BlockUsed(b + k))
                ++k;
            if (k == count) {
                SetBlocks(b, count, true);
                first = b;
                if (align == 1) {
                    for (std::size_t n = count; n < fitFrom_.size(); ++n)
                        fitFrom_[n] = std::max(fitFrom_[n], b);
                }
                if (align == 1 && b == searchFrom_) {
                    searchFrom_ = b + count;
                    while (searchFrom_ < total && BlockUsed(searchFrom_))
                        ++searchFrom_;
                }
                return true;
            }
            b = (b + k + 1 + align - 1) / align * align;
        }
        if (!Grow())
            return false;
    }
}

std::uint32_t TIndexDatWriter::FreeBlocks() const {
    const std::uint32_t total = TotalBlocks();
    std::uint32_t used = 0;
    for (std::uint32_t b = 0; b < total; ++b)
        used += BlockUsed(b) ? 1 : 0;
    return kIdxMaxBlocks - used;
}

std::uint32_t TIndexDatWriter::Hash(std::string_view url) const {
    // Wine files with Wine's hash, so that Wine itself finds what we add.
    return Signature() == TIndexDatSignature::Wine ? WineUrlCacheHash(url) : UrlCacheHash(url);
}

std::size_t TIndexDatWriter::FreeHashItem(std::uint32_t hash) {
    const std::size_t set = hash & 0x3F;
    const std::vector<std::uint32_t> pages = View().HashPages();
    for (std::uint32_t page : pages) {
        for (std::size_t j = 0; j < kIdxHashSetSize; ++j) {
            const std::size_t pos =
                page + kIdxHashItemsOffset + kIdxHashItemSize * (kIdxHashSetSize * set + j);
            const std::uint32_t key = GetU32(bytes_, pos);
            // A deleted item comes before any never-used one in its set.
            if (key == kIdxHashDeleted || key == kIdxHashNeverUsed)
                return pos;
        }
    }
    std::uint32_t first = 0;
    if (!Allocate(kIdxHashPageBlocks, kIdxHashPageBlocks, first))
        return 0;
    const std::size_t page = BlockOffset(first);
    PutU32(bytes_, page, kSigHash);
    PutU32(bytes_, page + 4, kIdxHashPageBlocks);
    PutU32(bytes_, page + kIdxHashNextOffset, 0);
    PutU32(bytes_, page + kIdxHashSequenceOffset, static_cast<std::uint32_t>(pages.size()));
    for (std::size_t i = 0; i < kIdxHashItemCount; ++i) {
        PutU32(bytes_, page + kIdxHashItemsOffset + kIdxHashItemSize * i, kIdxHashNeverUsed);
        PutU32(bytes_, page + kIdxHashItemsOffset + kIdxHashItemSize * i + 4, kIdxHashNeverUsed);
    }
    const std::size_t tail = kIdxHashItemsOffset + kIdxHashItemCount * kIdxHashItemSize;
    Fill(bytes_, page + tail, kIdxHashPageSize - tail);
    if (pages.empty())
        PutU32(bytes_, kIdxHashTableOffset, static_cast<std::uint32_t>(page));
    else
        PutU32(bytes_, pages.back() + kIdxHashNextOffset, static_cast<std::uint32_t>(page));
    return page + kIdxHashItemsOffset + kIdxHashItemSize * (kIdxHashSetSize * set);
}

TError TIndexDatWriter::AddEntry(const TIndexDatNewEntry& entry, std::uint32_t* offset) {
    const TIndexDatView view = View();
    if (!view.Valid())
        return TError::FromErrno(EINVAL, "no index to add to");
    if (entry.DirIndex != kUrlNoSubDirectory && entry.DirIndex >= view.DirCount())
        return TError::FromErrno(EINVAL,
                                 entry.Url + ": no cache folder " + std::to_string(entry.DirIndex));
    const std::uint32_t hash = Hash(entry.Url);
    TIndexDatItem existing;
    if (view.FindUrlByHash(entry.Url, hash, existing))
        return TError::FromErrno(EEXIST, entry.Url);

    // Strings follow the fixed part, each on a four-byte boundary.
    std::size_t end = kUrlFixedSize;
    auto place = [&end](std::size_t length) {
        const std::size_t at = end;
        end = Align4(at + length + 1);
        return at;
    };
    const std::size_t urlAt = place(entry.Url.size());
    const std::size_t nameAt = entry.FileName.empty() ? 0 : place(entry.FileName.size());
    const std::size_t headerAt = entry.Headers.empty() ? 0 : place(entry.Headers.size());
    const std::size_t extAt = entry.Extension.empty() ? 0 : place(entry.Extension.size());
    const std::uint64_t blocks64 = (end + kIdxBlockSize - 1) / kIdxBlockSize;
    if (blocks64 > kIdxMaxBlocks)
        return TError::FromErrno(ENOSPC, entry.Url);
    const auto blocks = static_cast<std::uint32_t>(blocks64);

    // A failed attempt can only have grown the file and taken the record's
    // blocks: a new hash page is linked in only once it is allocated.
    const std::size_t length = bytes_.size();
    const std::uint32_t total = TotalBlocks();
    const std::uint32_t searchFrom = searchFrom_;
    const auto fitFrom = fitFrom_;
    std::uint32_t first = 0;
    bool allocated = false;
    auto rollBack = [&] {
        if (allocated)
            SetBlocks(first, blocks, false);
        bytes_.resize(length);
        PutU32(bytes_, kIdxFileSizeOffset, static_cast<std::uint32_t>(length));
        PutU32(bytes_, kIdxTotalBlocksOffset, total);
        searchFrom_ = searchFrom;
        fitFrom_ = fitFrom;
        return TError::FromErrno(ENOSPC, "the index.dat is full");
    };

    if (!Allocate(blocks, 1, first))
        return rollBack();
    allocated = true;
    const std::size_t item = FreeHashItem(hash);
    if (item == 0)
        return rollBack();

    const std::size_t rec = BlockOffset(first);
    const std::size_t size = std::size_t{blocks} * kIdxBlockSize;
    Fill(bytes_, rec, size);
    auto putString = [&](std::size_t at, const std::string& s) {
        std::memcpy(bytes_.data() + rec + at, s.data(), s.size());
        bytes_[rec + at + s.size()] = '\0';
    };
    PutU32(bytes_, rec, kSigUrl);
    PutU32(bytes_, rec + 4, blocks);
    PutU64(bytes_, rec + kUrlLastModifiedOffset, FileTimeToU64(entry.LastModified));
    PutU64(bytes_, rec + kUrlLastAccessOffset, FileTimeToU64(entry.LastAccess));
    PutU32(bytes_, rec + kUrlExpiresOffset, entry.ExpiresDos);
    PutU32(bytes_, rec + 0x1C, 0);
    PutU64(bytes_, rec + kUrlSizeLowOffset, entry.Size);
    PutU32(bytes_, rec + kUrlGroupOffset, 0);
    PutU32(bytes_, rec + kUrlExemptDeltaOffset, entry.ExemptDelta);
    PutU32(bytes_, rec + kUrlFixedSizeOffset, kUrlFixedSize - 8);
    PutU32(bytes_, rec + kUrlUrlOffset, static_cast<std::uint32_t>(urlAt));
    bytes_[rec + kUrlDirIndexOffset] = static_cast<char>(entry.DirIndex);
    bytes_[rec + kUrlDirIndexOffset + 1] = 0; // sync count
    bytes_[rec + kUrlLayoutOffset] = 0x10;    // the 0x68-byte layout
    bytes_[rec + kUrlLayoutOffset + 1] = 0x10;
    PutU32(bytes_, rec + kUrlFileNameOffset, static_cast<std::uint32_t>(nameAt));
    PutU32(bytes_, rec + kUrlEntryTypeOffset, entry.EntryType);
    PutU32(bytes_, rec + kUrlHeaderOffset, static_cast<std::uint32_t>(headerAt));
    PutU32(bytes_, rec + kUrlHeaderSizeOffset, static_cast<std::uint32_t>(entry.Headers.size()));
    PutU32(bytes_, rec + kUrlExtensionOffset, static_cast<std::uint32_t>(extAt));
    PutU32(bytes_, rec + kUrlLastSyncOffset, entry.LastSyncDos);
    PutU32(bytes_, rec + kUrlHitRateOffset, entry.HitRate);
    PutU32(bytes_, rec + kUrlUseCountOffset, 0);
    PutU32(bytes_, rec + kUrlFileTimeOffset, entry.FileTimeDos);
    PutU32(bytes_, rec + kUrlUnknown60Offset, 0);
    // Internet Explorer leaves the fill pattern in the last dword, Wine zeroes it.
    if (Signature() == TIndexDatSignature::Wine)
        PutU32(bytes_, rec + kUrlUnused64Offset, 0);
    putString(urlAt, entry.Url);
    if (nameAt != 0)
        putString(nameAt, entry.FileName);
    if (headerAt != 0)
        putString(headerAt, entry.Headers);
    if (extAt != 0)
        putString(extAt, entry.Extension);

    PutU32(bytes_, item, (hash & kIdxHashKeyMask));
    PutU32(bytes_, item + 4, static_cast<std::uint32_t>(rec));

    if (entry.DirIndex < View().DirCount()) {
        const std::size_t at = kIdxDirTableOffset + kIdxDirEntrySize * entry.DirIndex;
        PutU32(bytes_, at, GetU32(bytes_, at) + 1);
    }
    const std::size_t usage =
        (entry.EntryType & 0x00000004) != 0 ? kIdxExemptUsageOffset : kIdxCacheUsageOffset;
    PutU64(bytes_, usage, GetU64(bytes_, usage) + entry.Size);
    if (offset != nullptr)
        *offset = static_cast<std::uint32_t>(rec);
    return {};
}

} // namespace tarnhold
