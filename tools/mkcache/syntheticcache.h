// Generated caches for benchmarks and size tests: many hosts, nested
// folders, query strings, HTML pages, images and style sheets, with the
// headers a web server sends. The same number always gives the same entry.
#pragma once

#include "mkcache/cachebuilder.h"

#include <cstddef>
#include <string>

namespace tarnhold {

// Entry number i: its manifest fields and its content.
void MakeSyntheticEntry(std::size_t i, TManifestEntry& entry, std::string& content);

// Adds entries 0 .. count-1 to builder; with count 0, as many as one index
// holds. False with a message when fewer than count fit (the builder then
// holds what fitted, builder.Count()).
[[nodiscard]] TError AddSyntheticEntries(TCacheBuilder& builder, std::size_t count);

} // namespace tarnhold
