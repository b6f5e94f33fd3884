// Building cache trees over in-memory caches for the tests.
#pragma once

#include "support/memorycachesource.h"
#include "tree/webcachetree.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarnhold::testing {

struct TEntrySpec {
    std::string Url;
    std::string ContentType = "text/html";
    int Day = 1; // last-modified: 2026-11-<Day> 12:00:00 UTC
    std::uint64_t Size = 100;
    std::filesystem::path LocalFile = "/nonexistent/cache/file";
};

TRawCacheEntry MakeRawEntry(const TEntrySpec& spec);

// A tree over those entries, with the test media-types table loaded and no
// data files (nothing is written when it goes).
std::unique_ptr<TWebCacheTree> MakeTree(const std::vector<TEntrySpec>& entries,
                                        bool enableScheme = true);
// The same over raw entries as given.
std::unique_ptr<TWebCacheTree> MakeTreeFromRaw(std::vector<TRawCacheEntry> entries,
                                               bool enableScheme = true);

// The tree's refresh; a cache that cannot be read ends the test program.
void Refresh(TWebCacheTree& tree);

// The source under a tree made by MakeTree.
TMemoryCacheSource& SourceOf(TWebCacheTree& tree);

// "name" of every child of a folder, in order.
std::vector<std::string> ChildNames(const TWebCacheTreeNode* folder);

} // namespace tarnhold::testing
