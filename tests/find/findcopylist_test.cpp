// The hits a flat copy carries: files before folders, one file per name.
#include "find/findcopylist.h"
#include "support/cachetreefixture.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

using testing::TEntrySpec;

std::vector<std::string> Names(const TFindCopyList& list) {
    std::vector<std::string> names;
    for (const TWebCacheTreeNode* node : list.Nodes())
        names.push_back((node->IsFolder ? "folder " : "") + node->DirUrl() +
                        (node->IsFolder ? "" : node->DisplayName()));
    return names;
}

class FindCopyList : public ::testing::Test {
protected:
    void SetUp() override {
        tree = testing::MakeTree({
            {"http://a.test/x/a.gif", "image/gif", 3},
            {"http://b.test/y/A.GIF", "image/gif", 9},
            {"http://c.test/z/a.gif", "image/gif", 5},
            {"http://a.test/x/b.html", "text/html", 1},
            {"http://a.test/img/p.png", "image/png", 1},
            {"http://b.test/img/q.png", "image/png", 1},
        });
        testing::Refresh(*tree);
    }
    TWebCacheTreeNode* Node(const char* url) {
        TWebCacheTreeNode* node = tree->FindNodeByUrl(url);
        EXPECT_NE(node, nullptr) << url;
        return node;
    }
    std::unique_ptr<TWebCacheTree> tree;
};

TEST_F(FindCopyList, EqualFileNamesKeepTheNewest) {
    TFindCopyList list;
    EXPECT_TRUE(list.Add(Node("http://a.test/x/a.gif")));  // day 3
    EXPECT_TRUE(list.Add(Node("http://b.test/y/A.GIF")));  // day 9 replaces it
    EXPECT_FALSE(list.Add(Node("http://c.test/z/a.gif"))); // day 5 is older
    EXPECT_FALSE(list.Add(Node("http://b.test/y/A.GIF"))); // the same node again
    EXPECT_EQ(Names(list), (std::vector<std::string>{"http://b.test/y/A.GIF"}));
}

TEST_F(FindCopyList, FilesBeforeFoldersByNameAndFoldersAllKept) {
    TFindCopyList list;
    list.Add(Node("http://b.test/img/"));
    list.Add(Node("http://a.test/x/b.html"));
    list.Add(Node("http://a.test/img/"));
    list.Add(Node("http://a.test/x/"));
    list.Add(Node("http://c.test/z/a.gif"));
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"http://c.test/z/a.gif", "http://a.test/x/b.html",
                                        "folder http://b.test/img/", "folder http://a.test/img/",
                                        "folder http://a.test/x/"}));
    EXPECT_FALSE(list.Add(nullptr));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
} // namespace tarnhold
