// The hits a copy of the find window carries into one flat temporary folder:
// files before folders, each group by DisplayName ignoring case. A file whose
// name (ignoring case) is there already takes its place only when it is
// newer, so that each file name is written once; folders of equal names are
// all kept (their contents go below them).
#pragma once

#include "tree/webcachetree.h"

#include <vector>

namespace tarnhold {

class TFindCopyList {
public:
    // Adds node at its place (see above). False when it was dropped for an
    // equal name.
    bool Add(TWebCacheTreeNode* node);
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    TWebCacheTreeNode* Items(int index) const { return items_[static_cast<std::size_t>(index)]; }
    const std::vector<TWebCacheTreeNode*>& Nodes() const { return items_; }

private:
    std::vector<TWebCacheTreeNode*> items_;
};

} // namespace tarnhold
