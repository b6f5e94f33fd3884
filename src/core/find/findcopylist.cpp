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
    const auto at = std::lower_bound(
        items_.begin(), items_.end(), node,
        [](const TWebCacheTreeNode* item, const TWebCacheTreeNode* key) {
            return Compare(item, key) < 0;
        });
    if (at != items_.end() && !node->IsFolder && Compare(*at, node) == 0) {
        if (*at == node || !Later(node->Info.LastModified, (*at)->Info.LastModified))
            return false;
        *at = node;
        return true;
    }
    items_.insert(at, node);
    return true;
}

} // namespace tarnhold
