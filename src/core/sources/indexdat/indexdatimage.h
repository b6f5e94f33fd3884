// An index.dat in memory, for changing it: loaded only when it keeps the
// rules WinINet checks when it opens the file (CheckIndexDatInvariants), and
// changed only in ways that keep them.
#pragma once

#include "platform/error.h"
#include "sources/indexdat/indexdat.h"

#include <cstdint>
#include <string>

namespace tarnhold {

class TIndexDatImage {
public:
    TIndexDatImage() = default;
    virtual ~TIndexDatImage() = default;
    TIndexDatImage(const TIndexDatImage&) = default;
    TIndexDatImage& operator=(const TIndexDatImage&) = default;
    TIndexDatImage(TIndexDatImage&&) = default;
    TIndexDatImage& operator=(TIndexDatImage&&) = default;

    // Takes the bytes of an existing index. Fails (leaving an empty image)
    // when they break the rules; the error names the rule.
    [[nodiscard]] TError Load(std::string bytes);

    const std::string& Bytes() const { return bytes_; }
    std::string TakeBytes() { return std::move(bytes_); }
    TIndexDatView View() const { return TIndexDatView(bytes_); }
    TIndexDatSignature Signature() const { return View().Signature(); }

    // Removes the URL record at offset as WinINet does: every live hash item
    // that points at it gets key 1 (its offset stays), the record's blocks
    // are cleared in the bitmap and taken off the allocated count, its cache
    // folder's file count and the cache (or exempt) usage go down once. The
    // record bytes stay as they were. Refused, with nothing changed, when the
    // offset holds no URL record, no live item points at it, or its blocks
    // are not its own alone (CheckRecordBlocks).
    [[nodiscard]] TError RemoveRecord(std::uint32_t offset);

protected:
    std::uint32_t TotalBlocks() const;
    bool BlockUsed(std::uint32_t block) const;
    // Sets or clears the bits of blocks first .. first+count-1 and keeps the
    // allocated count in step.
    void SetBlocks(std::uint32_t first, std::uint32_t count, bool used);
    // Blocks from first on were freed (a writer may look for room there again).
    virtual void BlocksFreed(std::uint32_t /*first*/) {}

    std::string bytes_;
};

} // namespace tarnhold
