// Chromium writes its disk cache with one of several backends, each its own
// layout of the Cache_Data folder: the Simple cache (Linux, Android), the
// blockfile cache (Windows), the SQL cache (SQLite shards, newer builds).
// Which one a folder holds is told by its files,
// never by the system it came from.
#pragma once

#include "sources/cachesource.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace tarnhold {

enum class TChromiumBackend { Simple, Blockfile, Sql };

// The backend whose cache folder holds (its index read without following a
// link), or nothing when it holds no Chromium cache.
std::optional<TChromiumBackend> ChromiumBackendOf(const std::filesystem::path& folder);

// Whether folder holds a Chromium cache of any backend.
inline bool IsAnyChromiumCacheFolder(const std::filesystem::path& folder) {
    return ChromiumBackendOf(folder).has_value();
}

// The source that reads the Chromium cache in folder, by its backend; the
// Simple cache's reader when the folder holds none it knows (reading it then
// says why).
std::unique_ptr<TCacheSource> OpenChromiumCache(const std::filesystem::path& folder);

} // namespace tarnhold
