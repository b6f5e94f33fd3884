#include "copy/copy_test_helpers.h"
#include "copy/rebuildpage.h"
#include "tree/crc32.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace tarnhold {
namespace {

using test::TCountingProgress;
using test::TSiteFixture;

constexpr const char* kPage = "http://h1/a/b/page.html";

struct TRewrite {
    std::string Out;
    int Result = 0;
};

// Rewrites the page cached as kPage (written with content) in a cache that
// also holds the documents of others.
TRewrite RewritePage(const std::string& content, const std::vector<std::string>& others = {},
                     TCopyMethod method = TCopyMethod::None, bool write = true) {
    TSiteFixture site;
    site.Add(kPage, content);
    for (const std::string& url : others)
        site.Add(url, "x", url.find(".gif") != std::string::npos ? "image/gif" : "text/html");
    auto tree = site.Tree();
    TLocalNameTable names(*tree);
    TPageRewriter rewriter(names);
    TWebCacheTreeNodeCopyList list;
    TWebCacheTreeNode* page = tree->FindNodeByUrl(kPage);
    EXPECT_NE(page, nullptr);
    (void)list.Add(page);
    TRewrite r;
    r.Result = rewriter.Rebuild(write, &r.Out, method, &list, page, "http://h1/a/");
    return r;
}

std::string Crc(std::string_view text) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", ComputeCrc32(text));
    return buf;
}

TEST(RebuildPage, RewritesEachKindOfLinkAsTheCopyLiesOnDisk) {
    struct Case {
        const char* name;
        std::string in;
        std::string out;
    };
    const std::vector<std::string> cached = {"http://h1/a/b/x.html", "http://h1/a/c/y.html",
                                             "http://h1/a/b/c/", "http://h2/img/p.gif",
                                             "http://h1/a/b/%E5%95%86.html"};
    const std::vector<Case> cases = {
        {"same folder", R"(<a href="x.html">)", R"(<a href="x.html">)"},
        {"up and down", R"(<a href="../c/y.html">)", R"(<a href="../c/y.html">)"},
        {"folder gets its default file", R"(<a href="http://h1/a/b/c/">)",
         R"(<a href="c/index.html">)"},
        {"folder named without its slash", R"(<a href="c">)", R"(<a href="c/index.html">)"},
        {"query becomes a checksum name", R"(<a href="/cgi/list.cgi?q=1">)",
         "<a href=\"../../cgi/list~" + Crc("?q=1") + ".cgi\">"},
        {"other host", R"(<img src="http://h2/img/p.gif">)",
         R"(<img src="../../../h2/img/p.gif">)"},
        {"names keep capitals, values change", R"(<A HREF="X.HTML">)", R"(<A HREF="x.html">)"},
        {"fragment kept", R"(<a href="x.html#part">)", R"(<a href="x.html#part">)"},
        {"anchor in the page itself", R"(<a href="#top">)", R"(<a href="#top">)"},
        {"empty value", R"(<a href="">)", R"(<a href="">)"},
        {"mail in any case", R"(<a href="MAILTO:me@h1">)", R"(<a href="MAILTO:me@h1">)"},
        {"script in any case", R"~(<a href="JavaScript:go()">)~",
         R"~(<a href="JavaScript:go()">)~"},
        {"data address", R"(<img src="data:image/gif;base64,R0l">)",
         R"(<img src="data:image/gif;base64,R0l">)"},
        {"Shift-JIS link to a UTF-8 escaped URL", "<a href=\"\x8f\xa4.html\">",
         "<a href=\"%E5%95%86.html\">"},
        {"climbing above the host stays on the site", R"(<a href="../../../../../etc/pw">)",
         R"(<a href="../../etc/pw">)"},
        {"entities decoded before mapping", R"(<a href="x.html?a=1&amp;b=2">)",
         "<a href=\"x~" + Crc("?a=1&b=2") + ".html\">"},
        {"refresh, marker in capitals",
         R"(<meta HTTP-EQUIV="Refresh" content="5;URL=/a/b/x.html">)",
         R"(<meta HTTP-EQUIV="Refresh" content="5;URL=x.html">)"},
        {"refresh to another folder", R"(<meta http-equiv="refresh" content="0;url=/a/c/y.html">)",
         R"(<meta http-equiv="refresh" content="0;url=../c/y.html">)"},
        {"refresh with a blank before url stays",
         R"(<meta http-equiv="refresh" content="0; url=/a/c/y.html">)",
         R"(<meta http-equiv="refresh" content="0; url=/a/c/y.html">)"},
        {"refresh with content first is no refresh",
         R"(<meta content="0;url=/a/c/y.html" http-equiv="refresh">)",
         R"(<meta content="0;url=/a/c/y.html" http-equiv="refresh">)"},
        {"refresh to a script stays",
         R"~(<meta http-equiv="refresh" content="0;url=javascript:x()">)~",
         R"~(<meta http-equiv="refresh" content="0;url=javascript:x()">)~"},
        {"base tag loses its href, later links follow it",
         R"(<base target="_top" href="http://h1/a/c/"><a href="y.html">)",
         R"(<base target="_top" ><a href="../c/y.html">)"},
        {"base to a script changes nothing", R"(<base href="javascript:x"><a href="x.html">)",
         R"(<base href="javascript:x"><a href="x.html">)"},
    };
    for (const Case& c : cases) {
        TRewrite r = RewritePage(c.in, cached);
        EXPECT_EQ(r.Out, c.out) << c.name;
        EXPECT_EQ(r.Result, kRebuildDone) << c.name;
    }
}

TEST(RebuildPage, WithoutSchemeFoldersEveryWebSchemeMeetsTheSameCopy) {
    TSiteFixture site;
    site.Add(kPage, R"(<a href="https://h1/a/b/x.html"><img src="http://h2/p.gif"><a href="/">)");
    site.Add("http://h1/a/b/x.html", "x");
    site.Add("http://h2/p.gif", "p", "image/gif");
    auto tree = site.Tree(false);
    TLocalNameTable names(*tree);
    TPageRewriter rewriter(names);
    TWebCacheTreeNodeCopyList list;
    TWebCacheTreeNode* page = tree->FindNodeByUrl(kPage);
    ASSERT_NE(page, nullptr);
    std::string out;
    EXPECT_EQ(rewriter.Rebuild(true, &out, TCopyMethod::All, &list, page, "h1/a/"), kRebuildAdded);
    EXPECT_EQ(out, R"(<a href="x.html"><img src="../../../h2/p.gif"><a href="../../index.html">)");
    EXPECT_TRUE(list.Contains(tree->FindNodeByUrl("http://h2/p.gif")));
}

TEST(RebuildPage, LinksFromAPageNameTheFilesTheCopyWrites) {
    TSiteFixture site;
    site.Add("http://h/a.cgi?x=1&y=2", "a");
    site.Add("http://h/dir/", "d");
    site.Add("http://h/sub/page.html", "p");
    auto tree = site.Tree();
    TLocalNameTable names(*tree);
    TPageRewriter rewriter(names);
    const std::string local = tree->FindFolderByUrl("http://h/x")->Items(0)->Name();
    const struct {
        const char* name;
        const char* value;
        std::string link; // empty: the value stays
    } cases[] = {
        {"the name the file got", "../a.cgi?x=1&amp;y=2", "../" + local},
        {"a folder's own document", "/dir", "../dir/index.html"},
        {"fragment kept", "page.html#top", "page.html#top"},
        {"a document the cache lacks", "http://other/x.php?id=7",
         "../../other/x~" + Crc("?id=7") + ".php"},
        {"a colon in the suffix", "q?a:b", "q~" + Crc("?a:b")},
        {"a script stays", "mailto:someone@h", ""},
        {"a fragment alone stays", "#top", ""},
    };
    for (const auto& c : cases) {
        std::string link;
        EXPECT_EQ(rewriter.LinkFromPage("http://h/sub/page.html", c.value, link), !c.link.empty())
            << c.name;
        if (!c.link.empty()) {
            EXPECT_EQ(link, c.link) << c.name;
        }
    }
}

TEST(RebuildPage, LinksFromAPageWithoutSchemeFoldersTakeHttpsAsHttp) {
    TSiteFixture site;
    site.Add("https://h/x.html", "x");
    site.Add("http://h/y/z.html", "z");
    auto tree = site.Tree(false);
    TLocalNameTable names(*tree);
    TPageRewriter rewriter(names);
    std::string link;
    ASSERT_TRUE(rewriter.LinkFromPage("http://h/y/z.html", "https://h/x.html", link));
    EXPECT_EQ(link, "../x.html");
    ASSERT_TRUE(rewriter.LinkFromPage("https://h/y/z.html", "https://other/x.html", link));
    EXPECT_EQ(link, "../../other/x.html");
}

TEST(RebuildPage, PageWithoutLinksIsCopiedByteForByte) {
    const char raw[] = "\x80\xff\xfe<p>\x82</p>\0z<!-- <a href=x> -->\r\n<p";
    const std::string page(raw, sizeof raw - 1);
    EXPECT_EQ(RewritePage(page).Out, page);
    EXPECT_EQ(RewritePage("").Out, "");
}

TEST(RebuildPage, CollectsEmbeddedFilesByMethod) {
    const std::vector<std::string> cached = {"http://h1/img/a.gif", "http://h2/img/b.gif",
                                             "http://h1/a/b/c/"};
    const std::string page = R"(<img src="/img/a.gif"><img src="http://h2/img/b.gif">)"
                             R"(<body background="c/"><a href="/other.html">)"
                             R"(<link href="/img/a.gif">)";
    struct Case {
        const char* name;
        TCopyMethod method;
        bool write;
        int result;
        int listed; // nodes in the list afterwards, the page included
    };
    const Case cases[] = {
        {"nothing with method 1", TCopyMethod::None, true, kRebuildDone, 1},
        {"same site with method 2", TCopyMethod::SameSite, true, kRebuildAdded, 3},
        {"all with method 3", TCopyMethod::All, true, kRebuildAdded, 4},
        {"a scan collects as well", TCopyMethod::All, false, kRebuildAdded, 4},
    };
    for (const Case& c : cases) {
        TSiteFixture site;
        site.Add(kPage, page);
        for (const std::string& url : cached)
            site.Add(url, "x", "image/gif");
        site.Add("http://h1/other.html", "o");
        auto tree = site.Tree();
        ASSERT_NE(tree->FindNodeByUrl("http://h1/other.html"), nullptr);
        TLocalNameTable names(*tree);
        TCountingProgress progress;
        TPageRewriter rewriter(names, &progress);
        TWebCacheTreeNodeCopyList list;
        (void)list.Add(tree->FindNodeByUrl(kPage));
        std::string out;
        EXPECT_EQ(rewriter.Rebuild(c.write, &out, c.method, &list, tree->FindNodeByUrl(kPage),
                                   "http://h1/a/"),
                  c.result)
            << c.name;
        EXPECT_EQ(list.Count(), c.listed) << c.name;
        EXPECT_EQ(progress.Maximum, c.listed - 1) << c.name << ": one step per collected file";
        EXPECT_FALSE(list.Contains(tree->FindNodeByUrl("http://h1/other.html")))
            << c.name << ": an href is never collected";
        if (c.method == TCopyMethod::SameSite) {
            EXPECT_NE(out.find(R"(src="../../../h2/img/b.gif")"), std::string::npos)
                << "not collected, still rewritten";
        }
        if (c.method == TCopyMethod::All) {
            EXPECT_TRUE(list.Contains(tree->FindNodeByUrl("http://h1/a/b/c/index.html")))
                << "a folder's default file is collected";
            // Again: everything is in the list already.
            EXPECT_EQ(rewriter.Rebuild(c.write, &out, c.method, &list, tree->FindNodeByUrl(kPage),
                                       "http://h1/a/"),
                      kRebuildDone);
        }
    }
}

TEST(RebuildPage, WrittenFileReplacesTheOldOneOnlyWhenComplete) {
    TSiteFixture site;
    site.Add(kPage, R"(<a href="x.html">)");
    auto tree = site.Tree();
    TLocalNameTable names(*tree);
    std::filesystem::create_directories(site.Out());
    const auto out = site.Out() / "page.html";
    test::WriteFileBytes(out, "old");
    EXPECT_EQ(
        RebuildPage(names, true, out, TCopyMethod::None, nullptr, tree->FindNodeByUrl(kPage), ""),
        kRebuildDone);
    EXPECT_EQ(test::ReadFileBytes(out), R"(<a href="x.html">)");
    EXPECT_EQ(test::FilesBelow(site.Out()), std::vector<std::string>{"page.html"});
    // Into a folder that is not there: an error code, nothing written.
    EXPECT_GT(RebuildPage(names, true, site.Out() / "none" / "p.html", TCopyMethod::None, nullptr,
                          tree->FindNodeByUrl(kPage), ""),
              0);
}

} // namespace
} // namespace tarnhold
