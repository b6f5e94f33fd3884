#include "text/urlutils.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarnhold {
namespace {

// CP932 characters whose trail byte is "\" (0x5C) or "|" (0x7C).
const std::string kHyo = "\x95\x5c"; // 表
const std::string kSo = "\x83\x5c";  // ソ
const std::string kPo = "\x83\x7c";  // ポ

struct TDecodeCase {
    const char* Name;
    std::string In;
    std::string Out;
};

TEST(DecodeURLString, Cases) {
    const TDecodeCase cases[] = {
        {"no percent: unchanged", "a+b c", "a+b c"},
        {"no percent: Shift-JIS bytes stay", kHyo + kPo, kHyo + kPo},
        {"hex pair", "a%41%62", "aAb"},
        {"upper and lower hex", "%4a%4A", "JJ"},
        {"plus is not special", "a+%20b", "a+ b"},
        {"UTF-8 to ANSI", "%E3%81%82", "\x82\xa0"},
        {"with a percent, raw bytes are read as UTF-8", kHyo + "%20", "?\\ "},
        {"pair decoding to zero ends the text", "a%zzb", "a"},
        {"%00 ends the text", "ab%00cd", "ab"},
        {"one bad digit counts as 0", "%4z", "@"},
        {"percent at the end is kept", "ab%", "ab%"},
        {"percent with one character is kept", "ab%4", "ab%4"},
        {"four-byte UTF-8 gives one replacement", "x%F0%9F%98%80y", "x?y"},
        {"UTF-8 cut short by the end", "x%E3%81", "x?"},
        {"lead byte at the very end", "x%C3", "x?"},
        {"stray continuation byte", "%80", "?"},
        {"overlong slash is a slash", "%C0%AF", "/"},
        {"overlong dot is a dot", "%C0%AE%C0%AE", ".."},
        {"unmappable character becomes ?", "%C3%A9", "?"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeURLString(c.In), c.Out) << c.Name;
}

TEST(DecodeUTF8Text, ReadsWithoutChecks) {
    // A two-byte lead takes the next byte whatever it is.
    EXPECT_EQ(DecodeUTF8Text("\xC3"
                             "A"),
              "?"); // U+00C1 is not in CP932
    EXPECT_EQ(DecodeUTF8Text("\xE3\x81\x82\xE3\x81\x84"), "\x82\xa0\x82\xa2");
    EXPECT_EQ(DecodeUTF8Text("abc"), "abc");
    EXPECT_EQ(DecodeUTF8Text(""), "");
    EXPECT_EQ(DecodeUTF8Text("\xFF"), "?");
    // Four-byte sequence cut short: stops at the end.
    EXPECT_EQ(DecodeUTF8Text("a\xF0\x9F\x98"), "a?");
}

struct TSplitCase {
    const char* Url;
    const char* Dir;
    const char* File;
    const char* Suffix;
};

TEST(SplitURL, Table) {
    const TSplitCase cases[] = {
        {"http://h1/a/b.html", "http://h1/a/", "b.html", ""},
        {"http://h1/a/", "http://h1/a/", "", ""},
        {"h1/cgi/list;p=1?q=2", "h1/cgi/", "list", ";p=1?q=2"},
        {"h1/cgi/x=1/y.html", "h1/cgi/", "", "x=1/y.html"},
        {"h1/a/b.html#top", "h1/a/", "b.html#top", ""},
        {"page.html", "", "page.html", ""},
        {"h1/a/b.cgi?x=1#f", "h1/a/", "b.cgi", "?x=1#f"},
        {"h1/a/$x/y", "h1/a/", "", "$x/y"},
        {"=x/y", "=x/", "y", ""}, // "=" first: nothing moves
        {"h1/a=b", "h1/", "", "a=b"},
        {"h1/a%20b/c%41.html?q=%20", "h1/a b/", "cA.html", "?q=%20"},
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        std::string dir = "x", file = "x", suffix = "x";
        SplitURL(c.Url, &dir, &file, &suffix);
        EXPECT_EQ(dir, c.Dir) << c.Url;
        EXPECT_EQ(file, c.File) << c.Url;
        EXPECT_EQ(suffix, c.Suffix) << c.Url;
    }
}

TEST(SplitURL, MissingOutArgumentsAreSkipped) {
    std::string file;
    SplitURL("h1/a/b.html?x", nullptr, &file, nullptr);
    EXPECT_EQ(file, "b.html");
}

TEST(SplitURL, SlashAsTrailByteDoesNotSplit) {
    // 0x81 0x2F is no valid character, but a lead byte still takes the next byte.
    std::string dir, file;
    SplitURL("h1/\x81/x", &dir, &file, nullptr);
    EXPECT_EQ(dir, "h1/");
    EXPECT_EQ(file, "\x81/x");
}

TEST(DecodeURL, GluesPiecesBack) {
    EXPECT_EQ(DecodeURL("http://h1/a%20b/c.cgi?q=%20"), "http://h1/a b/c.cgi?q=%20");
    EXPECT_EQ(DecodeURL("h1/x=%41/y"), "h1/x=%41/y");
}

struct TRelativeCase {
    const char* Name;
    const char* Base;
    std::string Target;
    std::string Link;
};

TEST(MakeRelativeURL, States) {
    const TRelativeCase cases[] = {
        {"A same folder", "h1/a/b/page.html", "h1/a/b/x.html", "x.html"},
        {"A below", "h1/a/b/page.html", "h1/a/b/c/x.html", "c/x.html"},
        {"B one up", "h1/a/b/page.html", "h1/a/x.html", "../x.html"},
        {"B two up", "h1/a/b/page.html", "h1/x.html", "../../x.html"},
        {"C sibling", "h1/a/b/page.html", "h1/a/z/x.html", "../z/x.html"},
        {"C other host", "h1/a/b/page.html", "h2/a/x.html", "../../../h2/a/x.html"},
        {"A case ignored", "h1/a/b/page.html", "H1/A/B/x.html", "x.html"},
        {"C keeps the target's case", "h1/a/b/page.html", "h1/a/Z/X.html", "../Z/X.html"},
        {"base directory same as page", "h1/a/b/", "h1/a/x.html", "../x.html"},
        {"scheme: other host", "http://h1/a/p.html", "http://h2/x.html", "../../h2/x.html"},
        {"scheme: other scheme names the scheme folder", "http://h1/p.html", "https://h1/x.html",
         "../../https$3a/h1/x.html"},
        {"base without slash: whole target as local path", "page.html", "http://h/x.html",
         "http$3a/h/x.html"},
        {"suffix as named on disk", "h1/a/p.html", "h1/a/list?x=1", "list$3fx=1"},
        {"fragment kept", "h1/a/p.html", "h1/b/x.html#top", "../b/x.html#top"},
        {"decoded target", "h1/a/p.html", "h1/a/b%20c/d%41.html", "b c/dA.html"},
        {"folder names as on disk", "h1/a/p.html", "h1/a/b:c/x.html", "b$3ac/x.html"},
        {"dot folders as on disk", "h1/a/p.html", "h1/a/%2e%2e/x.html", "$2e$2e/x.html"},
        {"dot file as on disk", "h1/a/p.html", "h1/a/..", "$2e$2e"},
        {"dot file with fragment", "h1/a/p.html", "h1/a/..#f", "$2e$2e#f"},
        {"empty segment as on disk", "h1/a/p.html", "h1/a///x.html", "$2f/x.html"},
        {"hash in a folder is no fragment", "h1/a/p.html", "h1/a/b%23c/.#x", "b%23c/$2e#x"},
        {"trail byte 0x5C in a folder", "h1/a/p.html", "h1/" + kHyo + "/x.html",
         "../" + kHyo + "/x.html"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MakeRelativeURL(c.Base, c.Target), c.Link) << c.Name;
}

struct TEscapeCase {
    std::string In;
    std::string File;
    std::string Link;
};

TEST(Escape, Tables) {
    const TEscapeCase cases[] = {
        {"\\", "$5c", "%5c"},
        {"/", "$2f", "/"},
        {":", "$3a", "%3a"},
        {"*", "$2a", "%2a"},
        {"?", "$3f", "%3f"},
        {"\"", "$22", "%22"},
        {"<", "$3c", "%3c"},
        {">", "$3e", "%3e"},
        {"|", "$7c", "%7c"},
        {"$%", "$%", "$%"},
        {"a/b:c", "a$2fb$3ac", "a/b%3ac"},
        {"../a:b?c", "..$2fa$3ab$3fc", "../a%3ab%3fc"},
        // Trail bytes 0x5C and 0x7C are not characters of their own.
        {kHyo + kPo, kHyo + kPo, kHyo + kPo},
        {"\\" + kSo + "\\", "$5c" + kSo + "$5c", "%5c" + kSo + "%5c"},
        {"|" + kPo + "|", "$7c" + kPo + "$7c", "%7c" + kPo + "%7c"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeFileName(c.In), c.File) << c.In;
        EXPECT_EQ(EscapeLinkPath(c.In), c.Link) << c.In;
    }
}

TEST(EscapeFileName, NamesThatAreNotSafeOnDisk) {
    EXPECT_EQ(EscapeFileName("."), "$2e");
    EXPECT_EQ(EscapeFileName(".."), "$2e$2e");
    EXPECT_EQ(EscapeFileName("..."), "...");
    EXPECT_EQ(EscapeFileName(std::string("a\0b", 3)), "a$00b");
    // A "/" behind a lead byte stays one byte on disk: escaped all the same.
    EXPECT_EQ(EscapeFileName("\x81/"), "\x81$2f");
    EXPECT_EQ(LocalFolderName(""), "$2f");
    EXPECT_EQ(LocalFolderName("http:"), "http$3a");
}

struct TLocalPathCase {
    const char* Name;
    std::string Url;
    std::string Path;
};

TEST(URLToLocalPath, Examples) {
    const TLocalPathCase cases[] = {
        {"escape decoded", "http://h1/a%20b/", "http$3a/h1/a b/"},
        {"plain directory", "h1/a/", "h1/a/"},
        {"plain file name", "index.html", "index.html"},
        {"scheme colon", "http://h1/a/", "http$3a/h1/a/"},
        {"file and suffix escaped like folders", "h1/a/b:c.cgi?x=1", "h1/a/b$3ac.cgi$3fx=1"},
        {"every Windows character in a file name", "http://h/a:b*c?.html",
         "http$3a/h/a$3ab$2ac$3f.html"},
        {"quotes, angles, bar, backslash", "h1/\"<>|\\.txt", "h1/$22$3c$3e$7c$5c.txt"},
        {"suffix segments", "h1/x=1/y.html", "h1/x=1/y.html"},
        {"folder characters escaped", "h1/a*b|c/", "h1/a$2ab$7cc/"},
        {"trail byte 0x5C", "h1/" + kHyo + "\\/", "h1/" + kHyo + "$5c/"},
        {"empty", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(URLToLocalPath(c.Url), c.Path) << c.Name;
}

TEST(URLToLocalPath, UnsafeURLsStayInside) {
    const TLocalPathCase cases[] = {
        {"raw dot-dot folders", "h1/../../etc/passwd", "h1/$2e$2e/$2e$2e/etc/passwd"},
        {"escaped dot-dot", "h1/%2e%2e/%2E%2E/x", "h1/$2e$2e/$2e$2e/x"},
        {"overlong UTF-8 dots", "h1/%C0%AE%C0%AE/x", "h1/$2e$2e/x"},
        {"dot folder", "h1/./x", "h1/$2e/x"},
        {"dot-dot file name", "h1/..", "h1/$2e$2e"},
        {"dot-dot alone", "..", "$2e$2e"},
        {"dot alone", ".", "$2e"},
        {"dot-dot from percent", "%2e%2e", "$2e$2e"},
        {"leading slash", "/etc/passwd", "$2f/etc/passwd"},
        {"leading double slash", "//etc/passwd", "$2f/etc/passwd"},
        {"triple slash", "h1///x", "h1/$2f/x"},
        {"encoded slashes in the file name", "%2fetc%2fpasswd", "$2f/etc/passwd"},
        {"encoded dot-dot path in the file name", "a%2f..%2f..%2fx", "a/$2e$2e/$2e$2e/x"},
        {"dot-dot in the suffix", "h1/x=1/../../y", "h1/x=1/$2e$2e/$2e$2e/y"},
        {"empty piece in the suffix", "h1/x=1///y", "h1/x=1/$2f/y"},
        {"suffix after a query", "h1/a?/../../x", "h1/a$3f/$2e$2e/$2e$2e/x"},
        {"zero byte in a name", std::string("h1/..\0/x", 8), "h1/..$00/x"},
        {"slash behind a lead byte", "h1/\x81/../x", "h1/\x81$2f../x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(URLToLocalPath(c.Url), c.Path) << c.Name;
}

// Resolves a relative link, as a browser would against the page's folder on
// disk, into the path below the save folder it names; "" if it climbs above.
std::string ResolveOnDisk(const std::string& pageFolder, const std::string& link) {
    std::vector<std::string> parts;
    auto push = [&](std::string_view text) {
        std::size_t start = 0;
        for (;;) {
            std::size_t p = text.find('/', start);
            parts.emplace_back(text.substr(start, p == std::string::npos ? p : p - start));
            if (p == std::string::npos)
                break;
            start = p + 1;
        }
    };
    push(pageFolder);
    parts.pop_back(); // the folder ends in "/"
    std::string decoded;
    for (std::size_t i = 0; i < link.size(); ++i) {
        if (link[i] == '%' && i + 2 < link.size()) {
            decoded.push_back(static_cast<char>(std::stoi(link.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            decoded.push_back(link[i]);
        }
    }
    std::vector<std::string> linkParts;
    std::swap(parts, linkParts);
    push(decoded);
    std::swap(parts, linkParts);
    for (const auto& p : linkParts) {
        if (p == "..") {
            if (parts.empty())
                return "";
            parts.pop_back();
        } else {
            parts.push_back(p);
        }
    }
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i)
        out += (i ? "/" : "") + parts[i];
    return out;
}

TEST(MakeRelativeURL, EncodedBaseFoldersAsOnDisk) {
    const TRelativeCase cases[] = {
        {"encoded slash: same folder", "http://h/a%2Fb/p.html", "http://h/a%2Fb/q.html", "q.html"},
        {"encoded slash: up out of both", "http://h/a%2Fb/p.html", "http://h/x.html",
         "../../x.html"},
        {"encoded base, plain target", "http://h/%61/p.html", "http://h/a/q.html", "q.html"},
        {"encoded dot-dot base", "http://h/%2e%2e/p.html", "http://h/x.html", "../x.html"},
        {"query in the base is no folder", "http://h/p.php?u=/a/b", "http://h/x.html", "x.html"},
        {"colon folder matches its disk name", "http://h/a:b/p.html", "http://h/a%3Ab/q.html",
         "q.html"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MakeRelativeURL(c.Base, c.Target), c.Link) << c.Name;
}

TEST(MakeRelativeURL, LinksFindTheNamesWrittenOnDisk) {
    for (const std::string base : {"http://h1/a/b/page.html", "http://h1/a/b%2Fc/page.html",
                                   "http://h1/%E6%97%A5/page.html", "http://h1/a/%2e%2e/page.html",
                                   "http://h1/a%25b/page.html", "http://h1/a//b/page.html"}) {
        const std::string pageFolder = URLToLocalPath(GetURLDirectory(base));
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
        };
        for (const auto& t : targets) {
            const std::string link = EscapeLinkPath(MakeRelativeURL(base, t));
            EXPECT_EQ(ResolveOnDisk(pageFolder, link), URLToLocalPath(t))
                << base << ": " << t << " -> " << link;
        }
    }
}

struct TPiecesCase {
    const char* Url;
    const char* SiteRoot;
    const char* Directory;
    const char* Parent;
    const char* FolderName;
    const char* FileName;
};

TEST(UrlPieces, Table) {
    const TPiecesCase cases[] = {
        {"http://h1/a/b/c.html", "http://h1/", "http://h1/a/b/", "http://h1/a/", "b", "c.html"},
        {"http://h1/", "http://h1/", "http://h1/", "http://", "h1", ""},
        {"http://h1", "", "http://", "http:/", "", "h1"},
        {"h1", "", "", "", "", "h1"},
        {"h1/a", "", "h1/", "", "h1", "a"},
        {"h1/a/", "h1/a/", "h1/a/", "h1/", "a", ""},
        {"", "", "", "", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetSiteRootURL(c.Url), c.SiteRoot) << c.Url;
        EXPECT_EQ(GetURLDirectory(c.Url), c.Directory) << c.Url;
        EXPECT_EQ(GetParentURL(c.Url), c.Parent) << c.Url;
        EXPECT_EQ(GetURLFolderName(c.Url), c.FolderName) << c.Url;
        EXPECT_EQ(GetURLFileName(c.Url), c.FileName) << c.Url;
    }
}

TEST(UrlPieces, TrailByteSlashIsNoSeparator) {
    const std::string url = "h1/a/\x81/";
    EXPECT_EQ(GetURLDirectory(url), "h1/a/");
    EXPECT_EQ(GetURLFileName(url), "\x81/");
}

} // namespace
} // namespace tarnhold
