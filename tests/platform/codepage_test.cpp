#include "platform/codepage.h"

#include <gtest/gtest.h>
#include <string>

namespace tarnhold {
namespace {

constexpr std::size_t npos = std::string::npos;

const std::string kSo = "\x83\x5c"; // ソ: trail byte "\"
const std::string kPo = "\x83\x7c"; // ポ: trail byte "|"
const std::string kA = "\x83\x41";  // ア: trail byte "A"

TEST(Codepage, LeadBytes) {
    EXPECT_FALSE(IsLeadByte('\x80'));
    EXPECT_TRUE(IsLeadByte('\x81'));
    EXPECT_TRUE(IsLeadByte('\x9f'));
    EXPECT_FALSE(IsLeadByte('\xa0'));
    EXPECT_FALSE(IsLeadByte('\xdf'));
    EXPECT_TRUE(IsLeadByte('\xe0'));
    EXPECT_TRUE(IsLeadByte('\xfc'));
    EXPECT_FALSE(IsLeadByte('\xfd'));
    const std::string s = "a" + kSo + "b";
    EXPECT_TRUE(IsCharStart(s, 1));
    EXPECT_FALSE(IsCharStart(s, 2));
    EXPECT_TRUE(IsCharStart(s, 3));
    EXPECT_TRUE(IsCharStart(s, 4));
}

struct TFindCase {
    const char* Name;
    std::string Text;
    std::string Pattern;
    std::size_t First;
    std::size_t Last;
};

TEST(Codepage, Utf8SequencesAreWellFormedOrNone) {
    const struct {
        const char* name;
        std::string text;
        std::size_t length;
        char32_t codePoint;
    } cases[] = {
        {"ASCII", "a", 1, U'a'},
        {"two bytes", "\xC3\xA9", 2, 0xE9},
        {"three bytes", "\xE6\x97\xA5", 3, 0x65E5},
        {"four bytes", "\xF0\x9F\x98\x80", 4, 0x1F600},
        {"highest", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
        {"overlong two", "\xC0\xAF", 0, 0},
        {"overlong three", "\xE0\x80\xAF", 0, 0},
        {"overlong four", "\xF0\x80\x80\xAF", 0, 0},
        {"surrogate", "\xED\xA0\x80", 0, 0},
        {"past U+10FFFF", "\xF4\x90\x80\x80", 0, 0},
        {"stray trail byte", "\x80", 0, 0},
        {"cut short", "\xE6\x97", 0, 0},
        {"trail byte missing", "\xE6\x41\xA5", 0, 0},
        {"Shift_JIS", "\x93\xFA", 0, 0},
    };
    for (const auto& c : cases) {
        char32_t cp = 0;
        EXPECT_EQ(Utf8SequenceLength(c.text, 0, &cp), c.length) << c.name;
        if (c.length != 0) {
            EXPECT_EQ(cp, c.codePoint) << c.name;
        }
        EXPECT_EQ(IsValidUtf8(c.text), c.length == c.text.size()) << c.name;
        EXPECT_EQ(IsValidUtf8("ok " + c.text + " ok"), c.length == c.text.size()) << c.name;
    }
    EXPECT_EQ(Utf8SequenceLength("a\xC3\xA9", 1), 2u);
    EXPECT_TRUE(IsValidUtf8(""));
}

TEST(Codepage, FindSkipsTrailBytes) {
    const TFindCase cases[] = {
        {"plain", "a\\b\\c", "\\", 1, 3},
        {"trail 0x5C is no match", kSo + kSo, "\\", npos, npos},
        {"trail 0x5C around real ones", "\\" + kSo + "\\", "\\", 0, 3},
        {"trail 0x7C", kPo + "|", "|", 2, 2},
        {"pattern across characters", kSo + "\\x", "\\x", 2, 2},
        {"pattern starting at a trail byte", kSo + "x", "\\x", npos, npos},
        {"multi-byte pattern", "a" + kSo + "b" + kSo, kSo, 1, 4},
        {"absent", "abc", "d", npos, npos},
        {"empty text", "", "a", npos, npos},
        {"pattern longer than text", "a", "ab", npos, npos},
        {"lead byte at the end", "a\\\x83", "\\", 1, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AnsiFind(c.Text, c.Pattern), c.First) << c.Name;
        EXPECT_EQ(AnsiFindLast(c.Text, c.Pattern), c.Last) << c.Name;
    }
    EXPECT_EQ(AnsiFind("a/b/c", "/", 2), 3u);
    EXPECT_EQ(AnsiFind("", "", 1), npos);
    EXPECT_EQ(AnsiFind("", ""), 0u);
    EXPECT_EQ(AnsiFindFirstOf(kSo + "|\\", "\\|"), 2u);
    EXPECT_EQ(AnsiFindFirstOf("abc", "\\|"), npos);
    EXPECT_TRUE(AnsiContains("x" + kPo + "|", "|"));
    EXPECT_FALSE(AnsiContains(kPo, "|"));
}

struct TReplaceCase {
    const char* Name;
    std::string Text;
    std::string Pattern;
    std::string Replacement;
    std::string Result;
};

TEST(Codepage, ReplaceAllIsOnePass) {
    const TReplaceCase cases[] = {
        {"one pass", "///", "//", "/", "//"},
        {"non-overlapping", "aaaa", "aa", "b", "bb"},
        {"inserted text not searched again", "ab", "a", "aa", "aab"},
        {"trail bytes untouched", kSo + "\\" + kSo, "\\", "$5c", kSo + "$5c" + kSo},
        {"trail 0x7C untouched", kPo + "|", "|", "$7c", kPo + "$7c"},
        {"scheme slashes", "http://h/a//b", "//", "/", "http:/h/a/b"},
        {"empty pattern", "abc", "", "x", "abc"},
        {"nothing found", "abc", "z", "y", "abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AnsiReplaceAll(c.Text, c.Pattern, c.Replacement), c.Result) << c.Name;
}

// The tree's own "//" to "/" gives what AnsiReplaceAll gives, also where a
// Shift-JIS lead byte takes a '/' as its second byte; the output's storage is
// reused from one call to the next.
TEST(Codepage, CollapseDoubleSlashesIsReplaceAll) {
    const std::string pieces[] = {"/", "//", "a", "http:", "\x81", "\x83\x5c", "\xe0", "x.y"};
    std::string out = "left over from before";
    int checked = 0;
    for (const std::string& a : pieces)
        for (const std::string& b : pieces)
            for (const std::string& c : pieces)
                for (const std::string& d : pieces) {
                    const std::string text = a + b + c + d;
                    CollapseDoubleSlashes(text, out);
                    ASSERT_EQ(out, AnsiReplaceAll(text, "//", "/"))
                        << ::testing::PrintToString(text);
                    ++checked;
                }
    EXPECT_EQ(checked, 8 * 8 * 8 * 8);
    CollapseDoubleSlashes("", out);
    EXPECT_EQ(out, "");
}

TEST(Codepage, CaseMappingTouchesAsciiOnly) {
    EXPECT_EQ(AnsiLowerCase("ABC" + kA + "XyZ"), "abc" + kA + "xyz");
    EXPECT_EQ(AnsiUpperCase("abc" + std::string("\x83\x61") + "z"), "ABC\x83\x61Z");
    EXPECT_EQ(AnsiLowerCase("\xc4"), "\xc4"); // a half-width katakana byte stays
}

TEST(Codepage, Comparisons) {
    EXPECT_LT(AnsiCompareStr("a", "b"), 0);
    EXPECT_GT(AnsiCompareStr("b", "a"), 0);
    EXPECT_LT(AnsiCompareStr("B", "a"), 0) << "case-sensitive byte order";
    EXPECT_LT(AnsiCompareStr("a", "\x82\xa0"), 0) << "bytes compare unsigned";
    EXPECT_LT(AnsiCompareStr("ab", "abc"), 0);
    EXPECT_EQ(AnsiCompareStr("", ""), 0);
    EXPECT_EQ(AnsiCompareText("Index.HTML", "index.html"), 0);
    EXPECT_GT(AnsiCompareText("b", "A"), 0);
    EXPECT_NE(AnsiCompareText(kA, "\x83\x61"), 0) << "trail bytes keep their case";
    EXPECT_TRUE(AnsiSameText("HTTP://H1/", "http://h1/"));
    EXPECT_FALSE(AnsiSameText("a", "ab"));
}

TEST(Codepage, Trim) {
    EXPECT_EQ(AnsiTrim("  a b\t\r\n"), "a b");
    EXPECT_EQ(AnsiTrim(" \t "), "");
}

TEST(Codepage, Conversions) {
    const std::string ansi = "\x93\xfa\x96\x7b" + kSo + "abc"; // 日本ソabc
    const std::string utf8 = "日本ソabc";
    EXPECT_EQ(AnsiToUtf8(ansi), utf8);
    EXPECT_EQ(Utf8ToAnsi(utf8), ansi);
    EXPECT_EQ(AnsiToUtf16(ansi), u"日本ソabc");
    EXPECT_EQ(Utf16ToAnsi(u"日本ソabc"), ansi);
    EXPECT_EQ(Utf16ToAnsi(u"plain"), "plain");
    // Characters the code page lacks become "?"; a surrogate pair is one.
    EXPECT_EQ(Utf8ToAnsi("é😀x"), "??x");
    EXPECT_EQ(Utf16ToAnsi(u"é😀x"), "??x");
    EXPECT_EQ(Utf16ToAnsi(std::u16string(1, char16_t(0xD800)) + u"x"), "?x");
    // Bytes that do not decode as CP932 become U+FFFD.
    EXPECT_EQ(AnsiToUtf8("a\x81"), "a\xEF\xBF\xBD");
    EXPECT_EQ(AnsiToUtf8("\xa0"), "\xEF\xBF\xBD");
    EXPECT_EQ(AnsiToUtf8("\xb1"), "ｱ");
}

TEST(Codepage, ReferencesKeepWhatTheCodePageLacks) {
    struct Case {
        const char* name;
        std::string utf8;
        std::string ansi;
    };
    const Case cases[] = {
        {"plain", "Site", "Site"},
        {"Japanese stays ANSI", "日本ソabc", "\x93\xfa\x96\x7b" + kSo + "abc"},
        {"emoji", "A😀B", "A&#128512;B"},
        {"accent and Hangul", "é한", "&#233;&#54620;"},
        {"an ampersand alone stays", "Q&A & more", "Q&A & more"},
        {"a text that looks like a reference", "&#65; &#x41;", "&#38;#65; &#38;#x41;"},
        {"ampersand at the end", "a&", "a&"},
        // CP932 takes the wave dash in but gives a fullwidth tilde back.
        {"one-way mapping", "〜", "&#12316;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf8ToAnsiRefs(c.utf8), c.ansi);
        EXPECT_EQ(AnsiRefsToUtf8(c.ansi), c.utf8);
    }
    // Bytes that are not UTF-8 become "?".
    EXPECT_EQ(Utf8ToAnsiRefs("a\xff"
                             "b"),
              "a?b");
    // What is no reference of a character stays as it is.
    for (const char* text : {"&#0;", "&#55296;", "&#1114112;", "&#;", "&#12", "&#12345678;"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(AnsiRefsToUtf8(text), text);
    }
    EXPECT_EQ(AnsiRefsToUtf8("\x93\xfa&#128512;\x96\x7b"), "日😀本");
}

TEST(Codepage, PathsKeepUndecodableBytes) {
    EXPECT_EQ(AnsiToPath("\x93\xfa\x96\x7b.html").native(), "日本.html");
    // Two names that do not decode stay apart.
    EXPECT_EQ(AnsiToPath("a\x81").native(), "a\x81");
    EXPECT_NE(AnsiToPath("a\x81").native(), AnsiToPath("a\x82").native());
    EXPECT_EQ(PathToAnsi(AnsiToPath("\x93\xfa\x96\x7b")), "\x93\xfa\x96\x7b");
    EXPECT_EQ(PathToAnsi(AnsiToPath("a\x81")), "a\x81");
}

} // namespace
} // namespace tarnhold
