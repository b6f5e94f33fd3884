// Whole copies of real caches, checked the way a browser would use them: every
// link of every copied page that names a cached document must, opened from
// the disk, reach the file that the copy holds for that document.
#include "cache/cachebody.h"
#include "cache/indexdatsource.h"
#include "cache/opencache.h"
#include "copy/copy_test_helpers.h"
#include "copy/copyengine.h"
#include "platform/codepage.h"
#include "text/htmltag.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"

#include <gtest/gtest.h>
#include <map>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<TWebCacheTree> TreeOver(const fs::path& container,
                                        TCacheKind kind = TCacheKind::ckIndexDat) {
    auto tree = std::make_unique<TWebCacheTree>(OpenCacheSourceAt(container, kind));
    tree->MimeTypesFile = std::string(TARNHOLD_TEST_DATA) + "/cache/mime.types";
    tree->LoadContentTypes();
    testing::Refresh(*tree);
    return tree;
}

bool IsPage(const TWebCacheTreeNode* node) {
    return AnsiLowerCase(node->Info.HeaderInfo.Values("Content-Type")).find("text/html") !=
           std::string::npos;
}

std::vector<TWebCacheTreeNode*> FileNodes(TWebCacheTree& tree) {
    std::vector<TWebCacheTreeNode*> files;
    std::vector<TWebCacheTreeNode*> pending{tree.Root()};
    while (!pending.empty()) {
        TWebCacheTreeNode* n = pending.back();
        pending.pop_back();
        for (int i = 0; i < n->Count(); ++i)
            (n->Items(i)->IsFolder ? pending : files).push_back(n->Items(i));
    }
    return files;
}

// The test's own idea of which document a URL names: the same URL, or one
// that differs only in escapes and the case of ASCII letters.
class TOracle {
public:
    explicit TOracle(TWebCacheTree& tree) {
        for (TWebCacheTreeNode* n : FileNodes(tree)) {
            exact_.emplace(n->Info.Url, n);
            folded_.emplace(AnsiLowerCase(DecodeURL(n->Info.Url)), n);
        }
    }
    TWebCacheTreeNode* Find(const std::string& url) const {
        if (auto it = exact_.find(url); it != exact_.end())
            return it->second;
        if (auto it = folded_.find(AnsiLowerCase(DecodeURL(url))); it != folded_.end())
            return it->second;
        return nullptr;
    }

private:
    std::map<std::string, TWebCacheTreeNode*> exact_;
    std::map<std::string, TWebCacheTreeNode*> folded_;
};

std::string DecodeEntities(std::string text) {
    text = AnsiReplaceAll(text, "&lt;", "<");
    text = AnsiReplaceAll(text, "&gt;", ">");
    text = AnsiReplaceAll(text, "&quot;", "\"");
    return AnsiReplaceAll(text, "&amp;", "&");
}

// Walks every copied page beside its cached original and checks each link to
// a cached document; checked receives the number of links checked.
void CheckLinks(TWebCacheTree& tree, const TCopyEngine& engine, const TCopyOptions& options,
                int& checked) {
    TOracle oracle(tree);
    checked = 0;
    for (TWebCacheTreeNode* page : FileNodes(tree)) {
        if (!page->Copied || !IsPage(page))
            continue;
        const fs::path local = engine.LocalPathOf(options, page);
        const std::string copy = test::ReadFileBytes(local);
        std::string original;
        (void)ReadCacheBody(page->Info, original);
        std::string base = page->Info.Url;
        THTMLTag a, b;
        std::size_t pa = 0, pb = 0;
        while (NextTag(original, pa, a)) {
            ASSERT_TRUE(NextTag(copy, pb, b)) << local;
            if (a.Kind() != tkTag)
                continue;
            const std::string tagName = AnsiLowerCase(a.Name());
            for (int i = 0; i < a.Count(); ++i) {
                const std::string name = AnsiLowerCase(a.Elements(i).Name());
                if (name != "href" && name != "src" && name != "background")
                    continue;
                const std::string value = a.Elements(i).Value();
                if (tagName == "base") {
                    base = CombineUrl(base, DecodeEntities(value));
                    continue;
                }
                std::string target = CombineUrl(base, DecodeEntities(value));
                if (value.empty() || value[0] == '#' || target.empty())
                    continue;
                target = target.substr(0, target.find('#'));
                TWebCacheTreeNode* node = oracle.Find(target);
                if (node == nullptr)
                    continue;
                ++checked;
                ASSERT_LT(i, b.Count()) << local;
                std::string link = b.Elements(i).Value();
                link = link.substr(0, link.find('#'));
                const fs::path reached =
                    (local.parent_path() / test::PercentDecode(link)).lexically_normal();
                EXPECT_EQ(reached, engine.LocalPathOf(options, node).lexically_normal())
                    << "in " << page->Info.Url << ": " << value << " -> " << link;
                if (node->Copied && !node->Info.LocalFileName.empty()) {
                    EXPECT_TRUE(fs::is_regular_file(reached))
                        << "in " << page->Info.Url << ": " << value << " -> " << link;
                }
            }
        }
    }
}

struct TRun {
    const char* name;
    const char* folderUrl; // what is copied; empty: the whole cache
    int folder;
    int method;
};

const TRun kRuns[] = {
    {"whole cache, method 2", "", kFolderWholePath, kMethodSameSite},
    {"whole cache, method 3", "", kFolderWholePath, kMethodAll},
    {"one site, whole paths, method 2", "http://www.yamabiko.test/", kFolderWholePath,
     kMethodSameSite},
    {"one site, below the prefix, method 3", "http://www.yamabiko.test/", kFolderBelowPrefix,
     kMethodAll},
    {"one site, below the prefix, method 2", "http://www.shop.test/", kFolderBelowPrefix,
     kMethodSameSite},
    {"one site, whole paths, method 3", "http://www.shop.test/", kFolderWholePath, kMethodAll},
};

void CopyAndCheck(const fs::path& container, int minimumLinks,
                  TCacheKind kind = TCacheKind::ckIndexDat) {
    for (const TRun& run : kRuns) {
        auto tree = TreeOver(container, kind);
        test::TTempDir out;
        test::TScriptedPrompts prompts;
        TCopyEngine engine(*tree, &prompts);
        TWebCacheTreeNode* start =
            *run.folderUrl ? tree->FindFolderByUrl(run.folderUrl) : tree->Root();
        if (start == nullptr)
            continue; // the site is in the other cache
        TCopyOptions options;
        options.Destination = out.Path();
        options.PrefixFolder = start->Parent() != nullptr ? start->Parent() : start;
        options.Prefix = options.PrefixFolder->DirUrl();
        options.Folder = run.folder;
        options.Method = run.method;
        TWebCacheTreeNodeCopyList list;
        AddFilesBelow(list, start);
        int answer = kAnswerYes;
        ASSERT_TRUE(engine.CopyNodes(options, answer, list))
            << run.name << ": " << (prompts.Failures.empty() ? "" : prompts.Failures[0].Text);
        int checked = 0;
        CheckLinks(*tree, engine, options, checked);
        EXPECT_GE(checked, minimumLinks) << run.name;
        EXPECT_GT(engine.Stats().Pages, 0) << run.name;
    }
}

TEST(CopyEndToEnd, DemoCache) {
    CopyAndCheck(TARNHOLD_DEMO_CACHE, 5);
}

TEST(CopyEndToEnd, WineWrittenCache) {
    CopyAndCheck(fs::path(TARNHOLD_TEST_DATA) / "cache/wine-ie-cache/Content.IE5", 5);
}

TEST(CopyEndToEnd, ChromiumCache) {
    // Bodies inside entry files, two of them encoded: the copy holds them
    // decoded, and the links between the pages reach them.
    CopyAndCheck(fs::path(TARNHOLD_TEST_DATA) / "browsers/chromium", 8, TCacheKind::ckChromium);
}

TEST(CopyEndToEnd, NamesThatNeedCareStillResolve) {
    test::TSiteFixture site;
    // Links across hosts, ports and schemes, to a numbered duplicate, to a
    // name beyond ASCII, to a file beside a folder of the same name, through
    // doubled slashes, an escaped "%" and a name too long for the disk.
    site.Add("http://h/index.html",
             "<a href=\"http://h:8080/p.html\"><a href=\"https://h/s.html\">"
             "<a href=\"ftp://f/pub/x.txt\"><a href=\"page.cgi\"><a href=\"page.html\">"
             "<a href=\"\x8f\xa4/\x95\x69.html\"><a href=\"/a\"><a href=\"a/b.html\">"
             "<a href=\"/d///e/f.html\"><a href=\"100%2525.html\"><img src=\"//h/i.gif\">"
             "<a href=\"/q.cgi?x=1&amp;y=2\"><a href=\"/sp%20ace.html\">"
             "<a href=\"/" +
                 std::string(300, 'L') + ".html\">",
             "text/html", 5);
    site.Add("http://h:8080/p.html", "p");
    site.Add("https://h/s.html", "s");
    site.Add("ftp://f/pub/x.txt", "x", "text/plain");
    site.Add("http://h/page.html", "newer", "text/html", 9);
    site.Add("http://h/page.cgi", "older", "text/html", 2); // named page.html as well
    site.Add("http://h/%E5%95%86/%E5%93%81.html", "u");
    site.Add("http://h/a", "file beside folder", "application/x-unknown");
    site.Add("http://h/a/b.html", "b");
    site.Add("http://h/d///e/f.html", "f");
    site.Add("http://h/100%2525.html", "pct");
    site.Add("http://h/i.gif", "i", "image/gif");
    site.Add("http://h/q.cgi?x=1&y=2", "q");
    site.Add("http://h/sp%20ace.html", "sp");
    site.Add("http://h/" + std::string(300, 'L') + ".html", "long name, shortened");
    for (int folder : {kFolderWholePath, kFolderBelowPrefix}) {
        auto tree = site.Tree();
        TWebCacheTreeNode* a = tree->FindNodeByUrl("http://h/a~0001");
        ASSERT_NE(a, nullptr) << "the file beside the folder is numbered";
        EXPECT_FALSE(a->IsFolder);
        test::TTempDir out;
        test::TScriptedPrompts prompts;
        TCopyEngine engine(*tree, &prompts);
        TCopyOptions options;
        options.Destination = out.Path();
        options.PrefixFolder = tree->Root();
        options.Folder = folder;
        options.Method = kMethodAll;
        TWebCacheTreeNodeCopyList list;
        AddFilesBelow(list, tree->Root());
        int answer = kAnswerYes;
        ASSERT_TRUE(engine.CopyNodes(options, answer, list));
        int checked = 0;
        CheckLinks(*tree, engine, options, checked);
        EXPECT_EQ(checked, 14);
        EXPECT_EQ(test::ReadFileBytes(out.Path() / "http$3a/h/a~0001"), "file beside folder");
        EXPECT_EQ(test::ReadFileBytes(out.Path() / "http$3a/h/a/b.html"), "b");
        EXPECT_EQ(test::ReadFileBytes(out.Path() / "http$3a/h/page~0001.html"), "older");
        EXPECT_EQ(test::ReadFileBytes(out.Path() / "http$3a/h/\xe5\x95\x86/\xe5\x93\x81.html"),
                  "u");
    }
}

} // namespace
} // namespace tarnhold
