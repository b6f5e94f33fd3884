// The one naming of local copies: the names on disk, the paths of documents
// the cache holds or not, and the links between them.
#include "platform/codepage.h"
#include "support/cachetreefixture.h"
#include "text/urlutils.h"
#include "tree/localpaths.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarnhold {
namespace {

using testing::MakeTree;
using testing::Refresh;

// CP932 characters whose trail byte is "\" (0x5C) or "|" (0x7C).
const std::string kHyo = "\x95\x5c"; // 表
const std::string kPo = "\x83\x7c";  // ポ

std::string Crc(std::string_view text) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08x", ComputeCrc32(text));
    return buf;
}

// The path below the save folder as text.
std::string PathOf(const TLocalNameTable& names, std::string_view url) {
    return JoinLocalPath(names.WouldBePath(url));
}

// The link from the copy of the page at base to the copy of target.
std::string LinkBetween(const TLocalNameTable& names, std::string_view base,
                        std::string_view target) {
    TLocalPath folder = names.WouldBePath(base);
    folder.pop_back();
    return MakeLocalLink(folder, names.WouldBePath(target));
}

// What every component of a local path must be.
void ExpectSafe(const TLocalPath& path, const std::string& what) {
    ASSERT_FALSE(path.empty()) << what;
    for (const std::string& part : path) {
        EXPECT_FALSE(part.empty()) << what;
        EXPECT_NE(part, ".") << what;
        EXPECT_NE(part, "..") << what;
        EXPECT_EQ(part.find('/'), std::string::npos) << what;
        EXPECT_EQ(part.find('\0'), std::string::npos) << what;
        EXPECT_LE(part.size(), kMaxNameBytes) << what;
    }
}

TEST(LocalPaths, DiskNamesAndTheirLinkSegments) {
    const struct {
        std::string name; // ANSI, as a URL gives it
        std::string disk; // UTF-8 on disk
        std::string link; // as one segment of a link
    } cases[] = {
        {"\\", "$5c", "$5c"},
        {":", "$3a", "$3a"},
        {"*", "$2a", "$2a"},
        {"?", "$3f", "$3f"},
        {"\"", "$22", "$22"},
        {"<", "$3c", "$3c"},
        {">", "$3e", "$3e"},
        {"|", "$7c", "$7c"},
        {"/", "$2f", "$2f"},
        {"", "$2f", "$2f"}, // what a doubled "/" leaves
        {".", "$2e", "$2e"},
        {"..", "$2e$2e", "$2e$2e"},
        {"http:", "http$3a", "http$3a"},
        {"a b#c%d", "a b#c%d", "a%20b%23c%25d"},
        {"a&b'c", "a&b'c", "a%26b%27c"},
        {"\x1b[2J", "$1b[2J", "$1b[2J"},
        // Trail bytes 0x5C and 0x7C are no characters of their own.
        {kHyo + kPo, "\xE8\xA1\xA8\xE3\x83\x9D", "%E8%A1%A8%E3%83%9D"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DiskName(c.name), c.disk) << c.name;
        EXPECT_EQ(EscapeLinkSegment(DiskName(c.name)), c.link) << c.name;
    }
    const std::string longName = DiskName(std::string(300, 'L') + ".html");
    EXPECT_EQ(longName.size(), kMaxNameBytes);
    EXPECT_EQ(longName.substr(longName.size() - 5), ".html") << "the extension stays";
    EXPECT_NE(longName, DiskName(std::string(301, 'L') + ".html")) << "long names stay apart";
}

TEST(LocalPaths, WouldBePathNamesAsTheCopyDoes) {
    auto tree = MakeTree({{"http://h1/Docs/page.html", "text/html"}});
    Refresh(*tree);
    const TLocalNameTable names(*tree);
    const struct {
        const char* name;
        std::string url;
        std::string path;
    } cases[] = {
        {"plain", "http://h1/a/b.html", "http$3a/h1/a/b.html"},
        {"escapes decoded", "http://h1/a%20b/c%41.html", "http$3a/h1/a b/cA.html"},
        {"folder document", "http://h1/a/", "http$3a/h1/a/index.html"},
        {"a suffix names the file by its checksum", "http://h1/a/list.cgi?x=1",
         "http$3a/h1/a/list~" + Crc("?x=1") + ".cgi"},
        {"a folder's suffix", "http://h1/a/?q=1", "http$3a/h1/a/index~" + Crc("?q=1") + ".html"},
        {"folders named as the tree names them", "http://H1/DOCS/x.html", "http$3a/h1/Docs/x.html"},
        {"every Windows character", "http://h/a:b*c.html", "http$3a/h/a$3ab$2ac.html"},
        {"quotes, angles, bar, backslash", "http://h/\"<>|\\.txt", "http$3a/h/$22$3c$3e$7c$5c.txt"},
        {"trail byte 0x5C in a folder", "http://h/" + kHyo + "/x.html",
         "http$3a/h/\xE8\xA1\xA8/x.html"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PathOf(names, c.url), c.path) << c.name;
}

TEST(LocalPaths, HostileUrlsStayInside) {
    auto tree = MakeTree({});
    const TLocalNameTable names(*tree);
    const struct {
        const char* name;
        std::string url;
        std::string path;
    } cases[] = {
        {"raw dot-dot folders", "http://h1/../../etc/passwd",
         "http$3a/h1/$2e$2e/$2e$2e/etc/passwd"},
        {"escaped dot-dot", "http://h1/%2e%2e/%2E%2E/x", "http$3a/h1/$2e$2e/$2e$2e/x"},
        {"overlong UTF-8 dots", "http://h1/%C0%AE%C0%AE/x", "http$3a/h1/$2e$2e/x"},
        {"dot folder", "http://h1/./x", "http$3a/h1/$2e/x"},
        {"dot-dot file name", "http://h1/..", "http$3a/h1/$2e$2e"},
        {"triple slash", "http://h1///x", "http$3a/h1/$2f/x"},
        {"encoded slashes in the file name", "http://h1/%2fetc%2fpasswd",
         "http$3a/h1/$2fetc$2fpasswd"},
        {"dot-dot in the suffix", "http://h1/x?/../../y", "http$3a/h1/x~" + Crc("?/../../y")},
        {"zero byte in a name", std::string("http://h1/..\0/x", 15), "http$3a/h1/..$00/x"},
        {"slash behind a lead byte", "http://h1/\x81/../x", "http$3a/h1/\x81$2f../x"},
    };
    for (const auto& c : cases) {
        const TLocalPath path = names.WouldBePath(c.url);
        ExpectSafe(path, c.name);
        EXPECT_EQ(JoinLocalPath(path), AnsiToPath(c.path).native()) << c.name;
    }
    // Folders below the depth limit are passed over, as the tree passes
    // them over.
    std::string deep = "http://h/";
    for (int i = 0; i < 3 * kMaxFolderDepth; ++i)
        deep += "d/";
    EXPECT_EQ(names.WouldBePath(deep + "x.html").size(),
              static_cast<std::size_t>(kMaxFolderDepth) + 1);
}

TEST(LocalPaths, LinksBetweenCopies) {
    auto tree = MakeTree({{"http://h1/a/b/page.html", "text/html"}});
    Refresh(*tree);
    const TLocalNameTable names(*tree);
    const struct {
        const char* name;
        const char* base;
        std::string target;
        std::string link;
    } cases[] = {
        {"same folder", "http://h1/a/b/page.html", "http://h1/a/b/x.html", "x.html"},
        {"below", "http://h1/a/b/page.html", "http://h1/a/b/c/x.html", "c/x.html"},
        {"one up", "http://h1/a/b/page.html", "http://h1/a/x.html", "../x.html"},
        {"two up", "http://h1/a/b/page.html", "http://h1/x.html", "../../x.html"},
        {"sibling", "http://h1/a/b/page.html", "http://h1/a/z/x.html", "../z/x.html"},
        {"other host", "http://h1/a/b/page.html", "http://h2/a/x.html", "../../../h2/a/x.html"},
        {"case of the tree's folders ignored", "http://h1/a/b/page.html", "http://H1/A/B/x.html",
         "x.html"},
        {"keeps the target's case elsewhere", "http://h1/a/b/page.html", "http://h1/a/Z/X.html",
         "../Z/X.html"},
        {"other scheme names the scheme folder", "http://h1/p.html", "https://h1/x.html",
         "../../https$3a/h1/x.html"},
        {"suffix as named on disk", "http://h1/a/p.html", "http://h1/a/list?x=1",
         "list~" + Crc("?x=1")},
        {"decoded target, escaped link", "http://h1/a/p.html", "http://h1/a/b%20c/d%41.html",
         "b%20c/dA.html"},
        {"folder names as on disk", "http://h1/a/p.html", "http://h1/a/b:c/x.html", "b$3ac/x.html"},
        {"empty segment as on disk", "http://h1/a/p.html", "http://h1/a///x.html", "$2f/x.html"},
        {"hash in a folder is no fragment", "http://h1/a/p.html", "http://h1/a/b%23c/x.html",
         "b%23c/x.html"},
        {"an encoded slash in the base parts its folders", "http://h/a%2Fb/p.html",
         "http://h/x.html", "../../x.html"},
        {"query in the base is no folder", "http://h/p.php?u=/a/b", "http://h/x.html", "x.html"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LinkBetween(names, c.base, c.target), c.link) << c.name;
}

// Resolves a relative link, as a browser would against the page's folder on
// disk, into the path below the save folder it names; "" if it climbs above.
std::string ResolveOnDisk(const TLocalPath& pageFolder, const std::string& link) {
    std::vector<std::string> parts = pageFolder;
    std::string decoded;
    for (std::size_t i = 0; i < link.size(); ++i) {
        if (link[i] == '%' && i + 2 < link.size()) {
            decoded.push_back(static_cast<char>(std::stoi(link.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            decoded.push_back(link[i]);
        }
    }
    for (std::size_t start = 0;;) {
        const std::size_t p = decoded.find('/', start);
        const std::string part = decoded.substr(start, p == std::string::npos ? p : p - start);
        if (part == "..") {
            if (parts.empty())
                return "";
            parts.pop_back();
        } else if (part != ".") {
            parts.push_back(part);
        }
        if (p == std::string::npos)
            break;
        start = p + 1;
    }
    return JoinLocalPath(parts);
}

TEST(LocalPaths, LinksFindTheNamesWrittenOnDisk) {
    auto tree = MakeTree({});
    const TLocalNameTable names(*tree);
    for (const std::string base : {"http://h1/a/b/page.html", "http://h1/a/b%2Fc/page.html",
                                   "http://h1/%E6%97%A5/page.html", "http://h1/a/%2e%2e/page.html",
                                   "http://h1/a%25b/page.html", "http://h1/a//b/page.html"}) {
        TLocalPath pageFolder = names.WouldBePath(base);
        pageFolder.pop_back();
        const std::string targets[] = {
            "http://h1/a/b/x.html",
            "http://h1/a/b/c/d/x.html",
            "http://h1/x.html",
            "http://h2/a/x.html",
            "https://h1/a/x.html",
            "ftp://h3/x.txt",
            "http://h1/a/%2e%2e/x.html",
            "http://h1/a/../../x.html",
            "http://h1/a/./x.html",
            "http://h1/a/..",
            "http://h1/a///x.html",
            "http://h1/a/b:c*d/e|f.html",
            "http://h1/a/%3f%22/q%3f.html",
            "http://h1/a/x=1/../y",
            "http://h1/a/x%23y/z.html",
            "http://h1/" + kHyo + "\\/" + kPo + ".html",
            "http://h1/a/b%2Fc/x.html",
            "http://h1/%E6%97%A5/x.html",
            "http://h1/a:b*c?.html",
            "http://h1/a/list?x=1",
            "http://h1/a%20b/c%25d&e'f.html",
        };
        for (const auto& t : targets) {
            const TLocalPath target = names.WouldBePath(t);
            const std::string link = MakeLocalLink(pageFolder, target);
            EXPECT_EQ(ResolveOnDisk(pageFolder, link), JoinLocalPath(target))
                << base << ": " << t << " -> " << link;
        }
    }
}

TEST(LocalPaths, CachedDocumentsAreFoundByTheirUrl) {
    auto tree = MakeTree({{"http://h/a/list.php?id=3", "text/html"},
                          {"http://h/dir/", "text/html"},
                          {"http://h/A%20B.html", "text/html"}});
    Refresh(*tree);
    const TLocalNameTable names(*tree);
    const TWebCacheTreeNode* list = names.Find("http://h/a/list.php?id=3");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(JoinLocalPath(NodeLocalPath(list)), "http$3a/h/a/list~" + Crc("?id=3") + ".html")
        << "the copy's path carries the tree's name, not the URL's";
    EXPECT_EQ(names.Find("http://h/dir"), names.Find("http://h/dir/"))
        << "a folder's URL gives its own document";
    EXPECT_EQ(names.Find("http://h/a b.html"), names.Find("http://h/A%20B.html"))
        << "escapes and case folded";
    EXPECT_EQ(names.Find("http://h/none.html"), nullptr);
    EXPECT_EQ(PlaceBelow(NodeLocalPath(list), {"http$3a", "h"}),
              (TLocalPath{"a", "list~" + Crc("?id=3") + ".html"}));
    EXPECT_EQ(PlaceBelow(NodeLocalPath(list), {"http$3a", "other"}), NodeLocalPath(list))
        << "a path from elsewhere keeps every folder";
}

} // namespace
} // namespace tarnhold
