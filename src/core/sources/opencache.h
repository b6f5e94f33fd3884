// Opening the right source for a cache: Internet Explorer's index.dat,
// Chromium's disk cache or Firefox's cache2.
#pragma once

#include "platform/error.h"
#include "sources/cachelocation.h"
#include "sources/cachesource.h"

#include <filesystem>
#include <memory>

namespace tarnhold {

// The source that reads the cache at path: an index.dat or the folder that
// holds it, a Chromium Cache_Data folder or a Firefox cache2 folder, as kind
// says. Null, with the reason in *error, when the source cannot be made (a
// Firefox folder without its entries); reading tells of any other failure.
std::unique_ptr<TCacheSource> OpenCacheSourceAt(const std::filesystem::path& path, TCacheKind kind,
                                                TError* error = nullptr);

// The path that names the cache at path (as OpenCacheSourceAt takes it) for
// what the program keeps about it, its rename list: the index.dat file itself
// (named by the file or by its folder), the folder of a browser's cache.
// Absolute, with links resolved as far as the path exists and without "."
// and ".." or a final '/', so that every way of naming one cache gives one
// path.
std::filesystem::path CacheIdentityPath(const std::filesystem::path& path, TCacheKind kind);

} // namespace tarnhold
