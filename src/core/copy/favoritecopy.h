// Copying and moving favorite sites to their local folders: for each
// favorite the files below its cache folder are copied into its save folder,
// laid out by its folder method, with embedded files chosen by its copy
// method and folder URLs named with its default file name. A move deletes the
// favorite's cache folder once its copy is complete. The first favorite that
// fails or is cancelled stops the run: nothing of it or of the ones after it
// is deleted.
//
// Runs on the thread that owns the tree and the store (the window thread).
#pragma once

#include "copy/copyengine.h"
#include "favorites/favorites.h"
#include "platform/error.h"
#include "tree/webcachetree.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnhold {

struct TFavoriteCopyOptions {
    bool Move = false;
    // The favorite whose site the views show, or null. When it is the only
    // favorite copied, the tree's default file name is already its own and
    // is left alone; otherwise each favorite's Default is switched in while
    // it is copied, and afterwards the old default file name is restored
    // (names renumbered below this favorite's folder, or the whole tree).
    const TFavoriteItem* Current = nullptr;
};

// Why a run stopped before its end.
enum class TFavoriteCopyStop : std::uint8_t {
    None,         // every favorite was done
    Copy,         // the copy failed or was cancelled: the engine's LastFailure
                  // (Error 0 for a cancel)
    Delete,       // a move could not delete every cache entry: DeleteError
    NoSaveFolder, // the favorite has no save folder (empty PathName)
};

struct TFavoriteCopyResult {
    bool Done = false; // every favorite was copied (and moved)
    TFavoriteCopyStop Stop = TFavoriteCopyStop::None;
    // The favorite that stopped the run, or null.
    const TFavoriteItem* Stopped = nullptr;
    int Copied = 0;       // favorites whose copy completed
    int FilesDeleted = 0; // cache files a move deleted
    // Favorites whose site the cache does not hold: nothing was copied for
    // them (their Date is stamped all the same, as for an empty copy).
    std::vector<const TFavoriteItem*> NotCached;
    TError DeleteError;
    // The first failure to save the store after a Date was stamped; the run
    // goes on (the copies are made), the dates stay changed in memory.
    TError SaveError;
};

// The cache folder that holds a favorite's site: the folder of its URL (a URL
// naming only a host stands for the host's folder), or null when the cache
// holds none. Never the root nor a scheme's folder, which hold other sites.
TWebCacheTreeNode* FavoriteFolder(const TWebCacheTree& tree, const TFavoriteItem& favorite);

// The files of all favorites' sites, for the progress maximum.
int CountFavoriteFiles(const TWebCacheTree& tree, const std::vector<TFavoriteItem*>& favorites);

// Where the copy of a favorite's page lies (or would lie): below its save
// folder, laid out by its folder method, the file the copy engine writes
// for its URL (a folder URL names its default file, the favorite's Default).
// Named as the tree names it where the cache holds it, as a copy would name
// it where it does not (after a move). Empty without a save folder.
std::filesystem::path FavoriteLocalPage(TWebCacheTree& tree, const TFavoriteItem& favorite);

// Copies (or moves) the favorites in the given order. engine must work on
// tree; its prompts answer the overwrite question, and one answer is shared
// by every favorite of the run (a "to all" answer holds for the later ones).
// The engine's progress gets the files of all favorites as its maximum. After
// each favorite's complete copy its Date becomes the current local time and
// the store saves it (UpdateItem).
[[nodiscard]] TFavoriteCopyResult CopyFavoritesToLocal(TWebCacheTree& tree, TCopyEngine& engine,
                                                       TFavorites& store,
                                                       const std::vector<TFavoriteItem*>& favorites,
                                                       const TFavoriteCopyOptions& options = {});

} // namespace tarnhold
