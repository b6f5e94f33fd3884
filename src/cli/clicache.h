// Opening the cache the commands work on: --cache, $TARNHOLD_CACHE, a Wine
// prefix's Internet Explorer cache, or the demo cache the build writes.
#pragma once

#include "cache/indexdatsource.h"
#include "cache/webcachetree.h"
#include "cli.h"

#include <memory>

namespace tarnhold::cli {

// The source over the located cache; says on stderr which cache it is unless
// the user named it with --cache.
std::unique_ptr<TIndexDatSource> OpenCacheSource(const TCliContext& ctx);

// A source whose last read failed: false after reporting it.
bool CheckReadable(const TCliContext& ctx, const TIndexDatSource& source);

// A cache tree over the located cache, sharing the rename list and the
// content-type table of the data folder with the window, refreshed as the
// window does. source receives the
// tree's source, for CheckReadable.
std::unique_ptr<TWebCacheTree> OpenCacheTree(const TCliContext& ctx, TIndexDatSource*& source);

} // namespace tarnhold::cli
