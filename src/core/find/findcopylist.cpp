#include "find/findcopylist.h"

#include "platform/codepage.h"
#include "platform/filetime.h"

#include <algorithm>

namespace tarnhold {

namespace {

// Files first, then by name ignoring case.
int Compare(const TWebCacheTreeNode* a, const TWebCacheTreeNode* b) {
    if (a->IsFolder != b->IsFolder)
        return a->IsFolder ? 1 : -1;
    return AnsiCompareText(a->DisplayName(), b->DisplayName());
}

bool Later(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return CompareSystemTime(a, b) > 0;
}

} // namespace

bool TFindCopyList::Add(TWebCacheTreeNode* node) {
    if (node == nullptr)
        return false;
    const auto less = [](const TWebCacheTreeNode* a, const TWebCacheTreeNode* b) {
        return Compare(a, b) < 0;
    };
    if (node->IsFolder) {
        // Folders of one name each go below their own name: all stay, in
        // the order added.
        if (std::find(items_.begin(), items_.end(), node) != items_.end())
            return false;
        items_.insert(std::upper_bound(items_.begin(), items_.end(), node, less), node);
        return true;
    }
    const auto at = std::lower_bound(items_.begin(), items_.end(), node, less);
    if (at != items_.end() && Compare(*at, node) == 0) {
        if (*at == node || !Later(node->LastModified(), (*at)->LastModified()))
            return false;
        *at = node;
        return true;
    }
    items_.insert(at, node);
    return true;
}

} // namespace tarnhold
