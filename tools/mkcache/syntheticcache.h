// Generated caches for benchmarks and size tests: many hosts, nested
// folders, query strings, HTML pages, images and style sheets, with the
// headers a web server sends. The same number always gives the same entry.
#pragma once

#include "mkcache/cachebuilder.h"
#include "sources/cachesource.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tarnhold {

// Entry number i: its manifest fields and its content.
void MakeSyntheticEntry(std::size_t i, TManifestEntry& entry, std::string& content);

// Adds entries 0 .. count-1 to builder; with count 0, as many as one index
// holds. False with a message when fewer than count fit (the builder then
// holds what fitted, builder.Count()).
[[nodiscard]] TError AddSyntheticEntries(TCacheBuilder& builder, std::size_t count);

// Entries 0 .. count-1 as a cache source delivers them (for a cache held in
// memory), without their content: every entry names localFile as its
// cached copy and has the size its content would have.
std::vector<TRawCacheEntry>
SyntheticRawEntries(std::size_t count, const std::string& localFile = "/nonexistent/cache/file");

} // namespace tarnhold
