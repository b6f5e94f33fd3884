// Chromium blockfile records from anywhere: an entry record of one to four
// blocks, a rankings node, a block file's header and an address. What the
// readers keep is bounded by the input, and what they accept holds together.
#include "sources/chromium/chromiumblockfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace tarnhold;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TBlockfileEntry e;
    if (ParseBlockfileEntry(bytes, e).Ok()) {
        if (size % 256 != 0 || size == 0 || size > 1024 || e.Key.size() > size ||
            e.KeyLength == 0 || e.State > 2 ||
            (e.LongKey.Value == 0) != (e.Key.size() == e.KeyLength))
            std::abort();
        for (int i = 0; i < 4; ++i) {
            const TBlockfileAddr a = e.DataAddr[i];
            if (e.DataSize[i] == 0)
                continue;
            // A stream in blocks fits them; a larger one lies in a file of its own.
            if (!a.Sane() || (!a.IsExternal() && e.DataSize[i] > a.Blocks() * a.BlockSize()) ||
                a.IsExternal() != (e.DataSize[i] > 16384))
                std::abort();
        }
    }
    TBlockfileRankings r;
    (void)ParseBlockfileRankings(bytes, r);
    TBlockFileHeader h;
    if (ParseBlockFileHeader(bytes, size > 8 ? data[8] : 0, h).Ok() &&
        (h.MaxEntries > kBlockFileMaxBlocks || h.EntrySize == 0))
        std::abort();
    if (size >= 4) {
        TBlockfileAddr a{static_cast<std::uint32_t>(data[0] | data[1] << 8 | data[2] << 16 |
                                                    static_cast<std::uint32_t>(data[3]) << 24)};
        if (a.Describe().size() > 64 || (a.Sane() && !a.IsExternal() && a.BlockSize() == 0))
            std::abort();
    }
    return 0;
}
