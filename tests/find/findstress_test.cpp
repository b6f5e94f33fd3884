// The search over a 100,000-entry cache while its owner changes the tree
// under it: deletions and refreshes stop it first, no hit is handed over
// after the stop, and a search run to its end finds every node. Run under
// the tsan preset, this is where a race between the worker and the owner
// would show.
#include "copy/deletenodes.h"
#include "find/findthread.h"
#include "mkcache/syntheticcache.h"
#include "support/cachetreefixture.h"

#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace tarnhold {
namespace {

constexpr std::size_t kEntries = 100000;

// Every node a search from the root with no criteria reports: all below the
// first level.
std::size_t NodesBelowFirstLevel(const TWebCacheTreeNode* root) {
    std::size_t count = 0;
    std::vector<const TWebCacheTreeNode*> stack{root};
    while (!stack.empty()) {
        const TWebCacheTreeNode* node = stack.back();
        stack.pop_back();
        for (int i = 0; i < node->Count(); ++i) {
            const TWebCacheTreeNode* child = node->Items(i);
            if (!child->IsFolder || child->Level() > 1)
                ++count;
            if (child->IsFolder)
                stack.push_back(child);
        }
    }
    return count;
}

// The first folder below root (depth first) with at least files files.
TWebCacheTreeNode* FolderWithFiles(TWebCacheTreeNode* root, int files) {
    std::vector<TWebCacheTreeNode*> stack{root};
    while (!stack.empty()) {
        TWebCacheTreeNode* node = stack.back();
        stack.pop_back();
        int own = 0;
        for (int i = 0; i < node->Count(); ++i) {
            if (node->Items(i)->IsFolder)
                stack.push_back(node->Items(i));
            else
                ++own;
        }
        if (own >= files)
            return node;
    }
    return nullptr;
}

struct TSearch {
    explicit TSearch(TWebCacheTree& tree) {
        auto data = std::make_unique<TFindData>();
        data->StartNode = tree.Root();
        Thread = std::make_unique<TFindThread>(std::move(data));
        Thread->OnFound = [this](TFindThread&, TWebCacheTreeNode* node) {
            EXPECT_FALSE(Stopped) << "a hit after the stop";
            Hits.insert(node);
        };
        Thread->OnFolder = [this](TFindThread&, const std::string& url) {
            std::lock_guard<std::mutex> lock(FolderMutex);
            Folder = url;
        };
        Thread->OnTerminate = [this](TFindThread&) { ++Terminated; };
        StopHook = StopBeforeChanges(tree, *Thread);
        // Subscribed after the hook: runs once the search has stopped.
        Watch = tree.OnChanging.Subscribe([this](TWebCacheTree&) {
            if (Thread->Terminated())
                Stopped = true;
        });
        Thread->Start();
    }
    std::unique_ptr<TFindThread> Thread;
    TSubscription StopHook;
    TSubscription Watch;
    std::unordered_set<const TWebCacheTreeNode*> Hits;
    std::mutex FolderMutex;
    std::string Folder;
    bool Stopped = false;
    int Terminated = 0;
};

TEST(FindStress, ChangesOfTheTreeStopTheSearchFirst) {
    auto tree = testing::MakeTreeFromRaw(SyntheticRawEntries(kEntries));
    testing::Refresh(*tree);
    for (int round = 0; round < 4; ++round) {
        TSearch search(*tree);
        // Take a few batches, as a window does between its events.
        for (int i = 0; i < 5; ++i)
            search.Thread->ProcessMessages(std::chrono::milliseconds(2), 256);
        // Every hit handed over so far is a node of the tree.
        for (const TWebCacheTreeNode* hit : search.Hits)
            ASSERT_EQ(tree->FindNodeByUrl(hit->UrlText()), hit);
        if (round == 2) {
            ASSERT_TRUE(tree->Refresh().Ok());
        } else {
            TWebCacheTreeNode* folder = FolderWithFiles(tree->Root(), 3);
            ASSERT_NE(folder, nullptr);
            std::vector<TWebCacheTreeNode*> files;
            for (int i = 0; i < folder->Count() && files.size() < 3; ++i) {
                if (!folder->Items(i)->IsFolder)
                    files.push_back(folder->Items(i));
            }
            EXPECT_EQ(DeleteCacheNodes(*tree, files), 3);
        }
        EXPECT_TRUE(search.Stopped) << round;
        EXPECT_EQ(search.Terminated, 1) << round;
        EXPECT_FALSE(search.Thread->ProcessMessages()); // nothing waits any more
    }
    // Left alone, a search reports every node once.
    TSearch search(*tree);
    search.Thread->WaitFor();
    EXPECT_EQ(search.Terminated, 1);
    EXPECT_EQ(search.Hits.size(), NodesBelowFirstLevel(tree->Root()));
}

} // namespace
} // namespace tarnhold
