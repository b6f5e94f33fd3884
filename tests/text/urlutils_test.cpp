#include "platform/codepage.h"
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

TEST(DecodeURLForDisplay, EveryCharacterOfAUtf8PathOtherwiseAsDecodeURL) {
    // Hangul and an emoji: characters Shift-JIS lacks, so DecodeURL has "?".
    EXPECT_EQ(DecodeURLForDisplay("http://example.test/%ED%95%9C%EA%B5%AD/%F0%9F%98%80.html"),
              "http://example.test/\uD55C\uAD6D/\U0001F600.html");
    // The suffix stays as it was written; a decoded NUL ends a part.
    EXPECT_EQ(DecodeURLForDisplay("http://h1/a%20b/c.cgi?q=%20"), "http://h1/a b/c.cgi?q=%20");
    EXPECT_EQ(DecodeURLForDisplay("http://h1/a%00b/c"), "http://h1/ac");
    // Parts that are not UTF-8 once decoded, or hold no escape (a Shift-JIS
    // name as Internet Explorer keeps it), read as DecodeURL reads them.
    for (const char* url :
         {"http://h1/%82%A0/x.html", "http://h1/\x82\xA0/x.html", "http://h1/docs/index.html"})
        EXPECT_EQ(DecodeURLForDisplay(url), AnsiToUtf8(DecodeURL(url))) << url;
}

struct TEscapeCase {
    std::string In;
    std::string File;
};

TEST(EscapeFileName, Table) {
    const TEscapeCase cases[] = {
        {"\\", "$5c"},
        {"/", "$2f"},
        {":", "$3a"},
        {"*", "$2a"},
        {"?", "$3f"},
        {"\"", "$22"},
        {"<", "$3c"},
        {">", "$3e"},
        {"|", "$7c"},
        {"$%", "$%"},
        {"a/b:c", "a$2fb$3ac"},
        {"../a:b?c", "..$2fa$3ab$3fc"},
        // Trail bytes 0x5C and 0x7C are not characters of their own.
        {kHyo + kPo, kHyo + kPo},
        {"\\" + kSo + "\\", "$5c" + kSo + "$5c"},
        {"|" + kPo + "|", "$7c" + kPo + "$7c"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeFileName(c.In), c.File) << c.In;
}

TEST(EscapeFileName, NamesThatAreNotSafeOnDisk) {
    EXPECT_EQ(EscapeFileName("."), "$2e");
    EXPECT_EQ(EscapeFileName(".."), "$2e$2e");
    EXPECT_EQ(EscapeFileName("..."), "...");
    EXPECT_EQ(EscapeFileName(std::string("a\0b", 3)), "a$00b");
    // A "/" behind a lead byte stays one byte on disk: escaped all the same.
    EXPECT_EQ(EscapeFileName("\x81/"), "\x81$2f");
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
