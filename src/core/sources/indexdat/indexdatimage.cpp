#include "sources/indexdat/indexdatimage.h"

#include <algorithm>
#include <cerrno>

namespace tarnhold {

namespace {

void SubtractClamped(std::string& bytes, std::size_t offset, std::uint64_t amount) {
    const std::uint64_t value = GetU64(bytes, offset);
    PutU64(bytes, offset, value > amount ? value - amount : 0);
}

} // namespace

TError TIndexDatImage::Load(std::string bytes) {
    bytes_.clear();
    if (TError error = CheckIndexDatInvariants(bytes))
        return error;
    bytes_ = std::move(bytes);
    return {};
}

std::uint32_t TIndexDatImage::TotalBlocks() const {
    return GetU32(bytes_, kIdxTotalBlocksOffset);
}

bool TIndexDatImage::BlockUsed(std::uint32_t block) const {
    const auto byte = static_cast<unsigned char>(bytes_[kIdxBitmapOffset + block / 8]);
    return (byte >> (block % 8)) & 1;
}

void TIndexDatImage::SetBlocks(std::uint32_t first, std::uint32_t count, bool used) {
    std::uint32_t changed = 0;
    for (std::uint32_t b = first; b < first + count; ++b) {
        char& byte = bytes_[kIdxBitmapOffset + b / 8];
        const auto mask = static_cast<unsigned char>(1u << (b % 8));
        const bool was = (static_cast<unsigned char>(byte) & mask) != 0;
        if (was == used)
            continue;
        byte = static_cast<char>(used ? (byte | mask) : (byte & ~mask));
        ++changed;
    }
    const std::uint32_t allocated = GetU32(bytes_, kIdxAllocatedBlocksOffset);
    PutU32(bytes_, kIdxAllocatedBlocksOffset,
           used ? allocated + changed : allocated - std::min(allocated, changed));
    if (!used)
        BlocksFreed(first);
}

TError TIndexDatImage::RemoveRecord(std::uint32_t rec) {
    const TIndexDatView view = View();
    if (!view.Valid())
        return TError::Message("no index is loaded", EINVAL);
    if (rec < kIdxHeaderSize || rec > bytes_.size() || bytes_.size() - rec < kIdxBlockSize ||
        GetU32(bytes_, rec) != kSigUrl)
        return TError::Message("no URL record at this offset", ENOENT);
    const std::vector<std::size_t> items = view.ItemsOfRecord(rec);
    if (items.empty())
        return TError::Message("no hash item points at the record", ENOENT);
    // Freeing blocks that belong to someone else would let the next writer
    // put a record over a hash page or a live entry.
    if (TError error = view.CheckRecordBlocks(rec))
        return error;
    const std::uint32_t blocks = GetU32(bytes_, rec + 4);
    const auto first = static_cast<std::uint32_t>((rec - kIdxHeaderSize) / kIdxBlockSize);

    const auto dir = static_cast<std::uint8_t>(bytes_[rec + kUrlDirIndexOffset]);
    if (dir < view.DirCount()) {
        const std::size_t at = kIdxDirTableOffset + kIdxDirEntrySize * dir;
        const std::uint32_t files = GetU32(bytes_, at);
        if (files > 0)
            PutU32(bytes_, at, files - 1);
    }
    const std::uint64_t size = GetU64(bytes_, rec + kUrlSizeLowOffset);
    const bool sticky = (GetU32(bytes_, rec + kUrlEntryTypeOffset) & 0x00000004) != 0;
    SubtractClamped(bytes_, sticky ? kIdxExemptUsageOffset : kIdxCacheUsageOffset, size);
    SetBlocks(first, blocks, false);
    // 1, never 3: a 3 would end lookups in this set and hide the URLs stored
    // after it. The offsets are left as they were.
    for (std::size_t pos : items)
        PutU32(bytes_, pos, kIdxHashDeleted);
    return {};
}

} // namespace tarnhold
