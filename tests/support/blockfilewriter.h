// Writes Chromium blockfile caches for tests, benchmarks and fuzz corpora:
// the index with its hash table and recently-used lists, block files data_0
// to data_3 with their bitmaps and counts, external f_ files, laid out as the
// browser lays them out; and checks that a cache's structures agree with
// each other (after a deletion).
#pragma once

#include "support/chromiumentrywriter.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnhold::test {

struct TBlockfileEntrySpec : TChromiumEntrySpec {
    std::uint32_t State = 0; // 1 evicted (streams dropped), 2 doomed
    std::uint32_t ReuseCount = 0;
    std::uint32_t Dirty = 0; // the rankings node's mark of an open entry
    std::uint32_t Flags = 0; // 1 sparse parent, 2 sparse child
    bool InIndex = true;     // linked into its hash chain (doomed ones are not)
    std::string Metadata;    // stream 2
};

struct TBlockfileLayout {
    std::uint32_t TableLength = 0x10000;
    std::uint32_t Version = 0x30000;
};

// Writes the cache of these entries into folder (which must exist): every
// entry's record, rankings node, key and streams in the files their sizes
// choose, bitmaps, counts and lists as the browser keeps them. Returns the
// address of each entry's record, for tests that damage it.
std::vector<std::uint32_t> WriteBlockfileCache(const std::filesystem::path& folder,
                                               const std::vector<TBlockfileEntrySpec>& entries,
                                               const TBlockfileLayout& layout = {});

// The byte offset of a block address in its data_N file.
std::uint64_t BlockfileOffset(std::uint32_t address);

// What does not agree in the cache in folder: chains, lists, bitmaps, the
// block files' and the index's counts, free blocks left non-zero, external
// files no entry names. Empty for a consistent cache.
std::vector<std::string> BlockfileInconsistencies(const std::filesystem::path& folder);

} // namespace tarnhold::test
