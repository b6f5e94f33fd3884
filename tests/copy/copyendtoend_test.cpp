// Whole copies of real caches, checked the way a browser would use them: every
// link of every copied page that names a cached document must, opened from
// the disk, reach the file that the copy holds for that document.
#include "copy/copy_test_helpers.h"
#include "copy/copyengine.h"
#include "copy/cssrewrite.h"
#include "copy/srcset.h"
#include "platform/codepage.h"
#include "sources/cachebody.h"
#include "sources/indexdat/indexdat.h"
#include "sources/indexdat/indexdatsource.h"
#include "sources/opencache.h"
#include "text/htmltag.h"
#include "text/urlscheme.h"
#include "text/urlutils.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <sys/wait.h>

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
    return AnsiLowerCase(node->Info().HeaderInfo.Values("Content-Type")).find("text/html") !=
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
            exact_.emplace(n->Info().Url, n);
            folded_.emplace(AnsiLowerCase(DecodeURL(n->Info().Url)), n);
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

bool HasNonAscii(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; });
}

// A raw link of a UTF-8 page as the browser requests it: its bytes beyond
// ASCII percent-escaped.
std::string AsRequested(const std::string& link) {
    std::string out;
    for (char c : link) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", u);
            out += escape;
        }
    }
    return out;
}

// Walks every copied page beside its cached original and checks each link to
// a cached document; checked receives the number of links checked, rawUtf8
// how many of them were written in a UTF-8 page with characters beyond ASCII.
void CheckLinks(TWebCacheTree& tree, const TCopyEngine& engine, const TCopyOptions& options,
                int& checked, int* rawUtf8 = nullptr) {
    TOracle oracle(tree);
    checked = 0;
    for (TWebCacheTreeNode* page : FileNodes(tree)) {
        if (!page->Copied || !IsPage(page))
            continue;
        const fs::path local = engine.LocalPathOf(options, page);
        const std::string copy = test::ReadFileBytes(local);
        std::string original;
        (void)ReadCacheBody(page->Info(), original);
        std::string base = page->Info().Url;
        const bool utf8Page = IsValidUtf8(original);
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
                const bool raw = HasNonAscii(value) && utf8Page;
                if (raw)
                    target = AsRequested(target);
                target = target.substr(0, target.find('#'));
                TWebCacheTreeNode* node = oracle.Find(target);
                if (node == nullptr)
                    continue;
                ++checked;
                if (raw && rawUtf8 != nullptr)
                    ++*rawUtf8;
                ASSERT_LT(i, b.Count()) << local;
                std::string link = b.Elements(i).Value();
                link = link.substr(0, link.find('#'));
                const fs::path reached =
                    (local.parent_path() / test::PercentDecode(link)).lexically_normal();
                EXPECT_EQ(reached, engine.LocalPathOf(options, node).lexically_normal())
                    << "in " << page->Info().Url << ": " << value << " -> " << link;
                if (node->Copied && !node->Info().LocalFileName.empty()) {
                    EXPECT_TRUE(fs::is_regular_file(reached))
                        << "in " << page->Info().Url << ": " << value << " -> " << link;
                }
            }
        }
    }
}

struct TRun {
    const char* name;
    const char* folderUrl; // what is copied; empty: the whole cache
    TFolderMethod folder;
    TCopyMethod method;
};

const TRun kRuns[] = {
    {"whole cache, method 2", "", TFolderMethod::WholePath, TCopyMethod::SameSite},
    {"whole cache, method 3", "", TFolderMethod::WholePath, TCopyMethod::All},
    {"one site, whole paths, method 2", "http://www.yamabiko.test/", TFolderMethod::WholePath,
     TCopyMethod::SameSite},
    {"one site, below the prefix, method 3", "http://www.yamabiko.test/",
     TFolderMethod::BelowPrefix, TCopyMethod::All},
    {"one site, below the prefix, method 2", "http://www.shop.test/", TFolderMethod::BelowPrefix,
     TCopyMethod::SameSite},
    {"one site, whole paths, method 3", "http://www.shop.test/", TFolderMethod::WholePath,
     TCopyMethod::All},
};

void CopyAndCheck(const fs::path& container, int minimumLinks,
                  TCacheKind kind = TCacheKind::ckIndexDat, int minimumRawUtf8 = 0) {
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
        TOverwriteAnswer answer = TOverwriteAnswer::Yes;
        ASSERT_TRUE(engine.CopyNodes(options, answer, list))
            << run.name << ": " << (prompts.Failures.empty() ? "" : prompts.Failures[0].Text);
        int checked = 0, rawUtf8 = 0;
        CheckLinks(*tree, engine, options, checked, &rawUtf8);
        EXPECT_GE(checked, minimumLinks) << run.name;
        if (std::string_view(run.folderUrl).empty() ||
            std::string_view(run.folderUrl) == "http://www.shop.test/") {
            EXPECT_GE(rawUtf8, minimumRawUtf8) << run.name;
        }
        EXPECT_GT(engine.Stats().Pages, 0) << run.name;
    }
}

TEST(CopyEndToEnd, DemoCache) {
    CopyAndCheck(TARNHOLD_DEMO_CACHE, 5);
}

TEST(CopyEndToEnd, WineWrittenCache) {
    // The shop's sale list, a UTF-8 page, links to itself by its raw name.
    CopyAndCheck(fs::path(TARNHOLD_TEST_DATA) / "cache/wine-ie-cache/Content.IE5", 5,
                 TCacheKind::ckIndexDat, 1);
}

TEST(CopyEndToEnd, ChromiumCache) {
    // Bodies inside entry files, two of them encoded: the copy holds them
    // decoded, and the links between the pages reach them.
    CopyAndCheck(fs::path(TARNHOLD_TEST_DATA) / "browsers/chromium", 8, TCacheKind::ckChromium);
}

TEST(CopyEndToEnd, ChromiumSqlCache) {
    // Bodies assembled from the rows of a database, two of them encoded.
    CopyAndCheck(fs::path(TARNHOLD_TEST_DATA) / "browsers/chromium-sql/Cache_Data", 8,
                 TCacheKind::ckChromium);
}

TEST(CopyEndToEnd, ChromiumBlockfileCache) {
    // Bodies in blocks of each size and in an external file.
    CopyAndCheck(fs::path(TARNHOLD_TEST_DATA) / "browsers/chromium-blockfile", 10,
                 TCacheKind::ckChromium);
}

TEST(CopyEndToEnd, FirefoxCache) {
    // Two hosts, entries under partition keys, encoded bodies and a query
    // string: each page's links reach the files the copy holds.
    CopyAndCheck(fs::path(TARNHOLD_TEST_DATA) / "browsers/firefox/cache2", 15,
                 TCacheKind::ckFirefox);
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
    for (TFolderMethod folder : {TFolderMethod::WholePath, TFolderMethod::BelowPrefix}) {
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
        options.Method = TCopyMethod::All;
        TWebCacheTreeNodeCopyList list;
        AddFilesBelow(list, tree->Root());
        TOverwriteAnswer answer = TOverwriteAnswer::Yes;
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

// The links beyond href, src and background, paired between a cached page
// or sheet and its copy: each one that names a cached document must reach
// the file the copy holds for it.
class TAllLinksCheck {
public:
    TAllLinksCheck(TWebCacheTree& tree, const TCopyEngine& engine, const TCopyOptions& options)
        : tree_(tree), engine_(engine), options_(options), oracle_(tree) {}

    int Checked = 0;

    void Run() {
        for (TWebCacheTreeNode* node : FileNodes(tree_)) {
            if (!node->Copied || node->Info().LocalFileName.empty())
                continue;
            const std::string type = AnsiLowerCase(node->Info().HeaderInfo.Values("Content-Type"));
            std::string original;
            (void)ReadCacheBody(node->Info(), original, std::numeric_limits<std::uint64_t>::max());
            const fs::path local = engine_.LocalPathOf(options_, node);
            const std::string copy = test::ReadFileBytes(local);
            if (type.find("text/html") != std::string::npos)
                Page(node, original, copy, local);
            else if (type.find("text/css") != std::string::npos)
                Css(node->Info().Url, original, copy, local, false);
        }
    }

private:
    void Reach(const std::string& where, const std::string& base, const std::string& value,
               const std::string& link, const fs::path& local) {
        std::string target = CombineUrl(base, DecodeEntities(value));
        if (value.empty() || value[0] == '#' || target.empty())
            return;
        target = target.substr(0, target.find('#'));
        TWebCacheTreeNode* node = oracle_.Find(target);
        if (node == nullptr)
            return;
        ++Checked;
        const fs::path reached =
            (local.parent_path() / test::PercentDecode(link.substr(0, link.find('#'))))
                .lexically_normal();
        EXPECT_EQ(reached, engine_.LocalPathOf(options_, node).lexically_normal())
            << "in " << where << ": " << value << " -> " << link;
        if (node->Copied) {
            EXPECT_TRUE(fs::is_regular_file(reached))
                << "in " << where << ": " << value << " -> " << link;
        }
    }

    void Css(const std::string& url, std::string_view original, std::string_view copy,
             const fs::path& local, bool attribute) {
        const std::string a =
            attribute ? DecodeEntities(std::string(original)) : std::string(original);
        const std::string b = attribute ? DecodeEntities(std::string(copy)) : std::string(copy);
        const std::vector<TCssLink> from = FindCssLinks(a, false);
        const std::vector<TCssLink> to = FindCssLinks(b, false);
        ASSERT_EQ(from.size(), to.size()) << url << ": " << b;
        for (std::size_t i = 0; i < from.size(); ++i)
            Reach(url, url, from[i].Value, to[i].Value, local);
    }

    void Page(TWebCacheTreeNode* page, const std::string& original, const std::string& copy,
              const fs::path& local) {
        const std::string& url = page->Info().Url;
        THTMLTag a, b;
        std::size_t pa = 0, pb = 0;
        bool style = false;
        while (NextTag(original, pa, a)) {
            ASSERT_TRUE(NextTag(copy, pb, b)) << local;
            if (a.Kind() == tkText && style)
                Css(url, a.Text(), b.Text(), local, false);
            style = a.Kind() == tkTag && AnsiLowerCase(a.Name()) == "style";
            if (a.Kind() != tkTag)
                continue;
            ASSERT_EQ(a.Count(), b.Count()) << local;
            for (int i = 0; i < a.Count(); ++i) {
                const std::string name = AnsiLowerCase(a.Elements(i).Name());
                const std::string va = a.Elements(i).Value();
                const std::string vb = b.Elements(i).Value();
                if (name == "srcset" || name == "imagesrcset" || name == "data-srcset") {
                    const std::vector<TTextSpan> sa = SrcsetUrls(va);
                    const std::vector<TTextSpan> sb = SrcsetUrls(vb);
                    ASSERT_EQ(sa.size(), sb.size()) << vb;
                    for (std::size_t k = 0; k < sa.size(); ++k)
                        Reach(url, url, va.substr(sa[k].Offset, sa[k].Length),
                              vb.substr(sb[k].Offset, sb[k].Length), local);
                } else if (name == "poster" || name == "data-src" || name == "data") {
                    Reach(url, url, va, vb, local);
                } else if (name == "style") {
                    Css(url, va, vb, local, true);
                }
            }
        }
    }

    TWebCacheTree& tree_;
    const TCopyEngine& engine_;
    const TCopyOptions& options_;
    TOracle oracle_;
};

// A site of today's pages: responsive images, lazy loading, inline and
// linked styles, a stylesheet that imports one from another host.
void AddModernSite(test::TSiteFixture& site) {
    site.Add("http://h/index.html",
             "<html><head><link rel=\"stylesheet\" href=\"/css/site.css\">"
             "<link rel=\"icon\" href=\"/favicon.ico\">"
             "<style>body{background:url(img/bg.png)}</style></head><body>"
             "<picture><source srcset=\"img/a.png 1x, img/a@2x.png 2x\" type=\"image/png\">"
             "<img src=\"img/a.png\" srcset=\"img/a.png 480w,\n img/a@2x.png 960w\"></picture>"
             "<img data-src=\"/img/lazy.png\" data-srcset=\"/img/lazy.png 1x\">"
             "<video poster=\"img/poster.png\"><source src=\"v/clip.mp4\"></video>"
             "<div style=\"background-image:url(&quot;img/bg.png&quot;)\"></div>"
             "<a href=\"sub/page.html\">sub</a></body></html>");
    site.Add("http://h/sub/page.html", "<img srcset=\"../img/a.png, http://cdn/pic.png 2x\">"
                                       "<div style='background:url(\"/img/bg.png\")'></div>");
    site.Add("http://h/css/site.css",
             "@import url(http://cdn/lib/base.css);\nbody{background:url(../img/bg.png)}",
             "text/css");
    site.Add("http://cdn/lib/base.css",
             "@import 'more.css';@font-face{font-family:f;src:url(font/f.woff2) format('woff2')}",
             "text/css");
    site.Add("http://cdn/lib/more.css", "p{background:url(\"../pic.png\")}", "text/css");
    site.Add("http://cdn/lib/font/f.woff2", "w", "font/woff2");
    site.Add("http://cdn/pic.png", "p", "image/png");
    for (const char* image : {"img/a.png", "img/a@2x.png", "img/bg.png", "img/lazy.png",
                              "img/poster.png", "favicon.ico"})
        site.Add(std::string("http://h/") + image, "i", "image/png");
    site.Add("http://h/v/clip.mp4", "m", "video/mp4");
}

TEST(CopyEndToEnd, EveryKindOfLinkReachesItsFile) {
    test::TSiteFixture site;
    AddModernSite(site);
    for (TFolderMethod folder : {TFolderMethod::WholePath, TFolderMethod::BelowPrefix}) {
        auto tree = site.Tree();
        test::TTempDir out;
        TCopyEngine engine(*tree);
        TWebCacheTreeNode* start = tree->FindFolderByUrl("http://h/");
        ASSERT_NE(start, nullptr);
        TCopyOptions options;
        options.Destination = out.Path();
        options.PrefixFolder = start;
        options.Prefix = start->DirUrl();
        options.Folder = folder;
        options.Method = TCopyMethod::All;
        TWebCacheTreeNodeCopyList list;
        AddFilesBelow(list, start);
        TOverwriteAnswer answer = TOverwriteAnswer::YesToAll;
        ASSERT_TRUE(engine.CopyNodes(options, answer, list));
        EXPECT_TRUE(tree->FindNodeByUrl("http://cdn/lib/more.css")->Copied)
            << "a sheet imported by a sheet from another host is collected";
        EXPECT_EQ(engine.Report().MissingLinks(), 0);
        int checked = 0;
        CheckLinks(*tree, engine, options, checked);
        TAllLinksCheck all(*tree, engine, options);
        all.Run();
        EXPECT_GE(all.Checked, 17) << "folder method " << static_cast<int>(folder);
    }
}

// What headless Chromium could not load of the pages copied below folder
// ("PAGE<TAB>URL<TAB>ERROR" lines); skipped is set where no Chromium is
// installed.
std::string BrowserFailures(const fs::path& folder, bool& skipped) {
    const std::string command = "python3 '" + std::string(TARNHOLD_SOURCE_DIR) +
                                "/tests/browser/browsercheck.py' '" + folder.string() +
                                "' 2>/dev/null";
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        skipped = true;
        return {};
    }
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;)
        output.append(buf, n);
    const int status = ::pclose(pipe);
    skipped = WIFEXITED(status) && (WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 127);
    return output;
}

TEST(CopyEndToEnd, ABrowserLoadsEveryCachedDocumentOfTheCopy) {
    test::TSiteFixture site;
    AddModernSite(site);
    // A link to what the cache lacks fails in the browser too; it is the
    // only one that may.
    site.Add("http://h/lacking.html", "<img src=\"img/not-cached.png\">");
    for (bool allLinks : {true, false}) {
        auto tree = site.Tree();
        test::TTempDir out;
        TCopyEngine engine(*tree);
        TOverwriteAnswer answer = TOverwriteAnswer::YesToAll;
        TCopyOptions options;
        options.Destination = out.Path();
        options.PrefixFolder = tree->Root();
        options.Method = TCopyMethod::All;
        options.AllLinks = allLinks;
        ASSERT_TRUE(CopyToFolder(engine, {tree->FindFolderByUrl("http://h/")}, options, &answer));
        bool skipped = false;
        const std::string failures = BrowserFailures(out.Path(), skipped);
        if (skipped)
            GTEST_SKIP() << "Chromium is not installed (scripts/setup installs it)";
        std::vector<std::string> lines;
        for (std::size_t p = 0, e; p < failures.size(); p = e + 1) {
            e = failures.find('\n', p);
            if (e == std::string::npos)
                e = failures.size();
            if (e > p)
                lines.push_back(failures.substr(p, e - p));
        }
        if (allLinks) {
            ASSERT_EQ(lines.size(), 1u) << failures;
            EXPECT_NE(lines[0].find("not-cached.png"), std::string::npos) << failures;
        } else {
            // Only href, src and background: the browser misses what srcset,
            // style and the stylesheets name.
            EXPECT_GT(lines.size(), 1u) << failures;
        }
    }
}

TEST(CopyEndToEnd, ABrowserLoadsTheSiteCopiedFromChromiumsSqlCache) {
    auto tree = TreeOver(fs::path(TARNHOLD_TEST_DATA) / "browsers/chromium-sql/Cache_Data",
                         TCacheKind::ckChromium);
    test::TTempDir out;
    TCopyEngine engine(*tree);
    TOverwriteAnswer answer = TOverwriteAnswer::YesToAll;
    TCopyOptions options;
    options.Destination = out.Path();
    options.PrefixFolder = tree->Root();
    options.Method = TCopyMethod::All;
    ASSERT_TRUE(
        CopyToFolder(engine, {tree->FindFolderByUrl("http://127.0.0.1:8766/")}, options, &answer));
    bool skipped = false;
    const std::string failures = BrowserFailures(out.Path(), skipped);
    if (skipped)
        GTEST_SKIP() << "Chromium is not installed (scripts/setup installs it)";
    EXPECT_EQ(failures, "");
}

} // namespace
} // namespace tarnhold
