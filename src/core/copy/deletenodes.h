// Deleting cache entries: nodes of the cache tree with everything below them
// and, for every file among them, the entry in the browser's cache.
#pragma once

#include "copy/copyprompts.h"
#include "tree/webcachetree.h"

#include <vector>

namespace tarnhold {

// Deletes the nodes in list order through the tree (DeleteNodes): each
// file's cache entry goes through the cache source, OnNodeDeleted is raised
// for every removed node, and folders left empty go too (never the root).
// progress (optional) gets as maximum the files below the nodes (CountFiles)
// and one step per deleted file. The result is the number of files deleted;
// error (when given) says why the deletion stopped short (the first entry the
// cache would not give up: it and the nodes after it stay).
int DeleteCacheNodes(TWebCacheTree& tree, const std::vector<TWebCacheTreeNode*>& nodes,
                     TProgress* progress = nullptr, TError* error = nullptr);

} // namespace tarnhold
