#include "copy/deletenodes.h"

#include <unordered_set>
#include <utility>

namespace tarnhold {

int DeleteCacheNodes(TWebCacheTree& tree, const std::vector<TWebCacheTreeNode*>& nodes,
                     TProgress* progress, TError* error) {
    // A node listed twice, or below another listed node, is counted once.
    std::unordered_set<const TWebCacheTreeNode*> listed(nodes.begin(), nodes.end());
    std::unordered_set<const TWebCacheTreeNode*> counted;
    int total = 0;
    for (const TWebCacheTreeNode* node : nodes) {
        if (node == nullptr || !counted.insert(node).second)
            continue;
        bool inside = false;
        for (const TWebCacheTreeNode* p = node->Parent(); p != nullptr && !inside; p = p->Parent())
            inside = listed.count(p) > 0;
        if (!inside)
            total += tree.CountFiles(node);
    }
    if (progress != nullptr)
        progress->SetMaximum(total);

    // Files are told from folders by the URL the event carries: a folder's
    // ends in "/".
    int deleted = 0;
    TSubscription counter = tree.OnNodeDeleted.Subscribe([&](TWebCacheTree&, std::string_view url) {
        if (url.empty() || url.back() != '/') {
            ++deleted;
            if (progress != nullptr)
                progress->Step(nullptr);
        }
    });
    TError result = tree.DeleteNodes(nodes);
    if (error != nullptr)
        *error = std::move(result);
    return deleted;
}

} // namespace tarnhold
