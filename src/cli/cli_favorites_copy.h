// tarnhold-cli favorites copy|move N...: copying favorite sites from the cache
// to their save folders, and moving them out of the cache.
#pragma once

#include "cli.h"

namespace tarnhold::cli {

// The lines of the favorites command's help about copy and move.
extern const char* const kFavoritesCopyUsage;
extern const char* const kFavoritesCopyHelp;

// args.Operands: the sub-command word ("copy" or "move") and the favorite
// numbers (1-based, in file order, as "favorites list" shows them). The
// option "yes" answers every question with yes. The exit code.
int RunFavoritesCopy(TCliContext& ctx, const TCliArgs& args, bool move);

} // namespace tarnhold::cli
