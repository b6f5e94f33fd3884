// The tokenizer: how pages are cut into tokens and tags into attributes, and
// how a changed attribute goes back into its tag.
#include "platform/files.h"
#include "support/memoryprobe.h"
#include "text/htmltag.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarnhold {
namespace {

// Shift-JIS characters whose trail byte is "\" (0x5C) or "|" (0x7C).
const std::string kSo = "\x83\x5C";  // ソ
const std::string kHyo = "\x95\x5C"; // 表
const std::string kPo = "\x83\x7C";  // ポ
// ISO-2022-JP kanji whose bytes are markup: 竺 is "<3", ⊆ is "\"<", 唱 is ">'".
const std::string kJisIn = "\x1b$B";
const std::string kJisOut = "\x1b(B";

std::vector<std::string> TokenTexts(std::string_view data) {
    std::vector<std::string> texts;
    THTMLTag tag;
    std::size_t pos = 0;
    while (NextTag(data, pos, tag))
        texts.push_back(tag.Text());
    return texts;
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string all;
    for (const auto& p : parts)
        all += p;
    return all;
}

TEST(HtmlTokens, CutWhereMarkupSaysAndGiveThePageBack) {
    struct Case {
        const char* name;
        std::string page;
        std::vector<std::string> tokens;
    };
    const std::vector<Case> cases = {
        {"empty page", "", {}},
        {"text and tags", "a<b>c</b>", {"a", "<b>", "c", "</b>"}},
        {"quoted > does not end a tag", "<a title='a>b'>x", {"<a title='a>b'>", "x"}},
        {"> after a quote ends a tag with an open quote",
         "<a title='it's'>x",
         {"<a title='it's'>", "x"}},
        {"quote after the same quote does not open", "<a b='x''y>z", {"<a b='x''y>", "z"}},
        {"unterminated tag is the rest of the page",
         "x<a href='y>z</a>",
         {"x", "<a href='y>z</a>"}},
        {"comment is cut at its first >", "<!-- a > b -->c", {"<!-- a >", " b -->c"}},
        {"apostrophe in a comment runs to the next one",
         "<!-- it's --><p>x</p><a href='y'>z",
         {"<!-- it's --><p>x</p><a href='y'>", "z"}},
        {"JIS kanji holding < is text",
         "a" + kJisIn + "<3" + kJisOut + "b<p>",
         {"a" + kJisIn + "<3" + kJisOut + "b", "<p>"}},
        {"JIS kanji holding > and ' inside a tag",
         "<a t=" + kJisIn + ">'" + kJisOut + ">x",
         {"<a t=" + kJisIn + ">'" + kJisOut + ">", "x"}},
        {"kanji run left open is the rest of the page", kJisIn + "<3<p>", {kJisIn + "<3<p>"}},
        {"escape cut short at the end", "a\x1b$", {"a\x1b$"}},
        {"Shift-JIS text with 0x5C and 0x7C trail bytes",
         kSo + kPo + "<b>" + kHyo,
         {kSo + kPo, "<b>", kHyo}},
        {"lone <", "a<", {"a", "<"}},
        {"lone >", "a>b", {"a>b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto tokens = TokenTexts(c.page);
        EXPECT_EQ(tokens, c.tokens);
        EXPECT_EQ(Joined(tokens), c.page);
    }
}

TEST(HtmlTokens, KindAndName) {
    struct Case {
        const char* name;
        std::string text;
        THTMLTokenKind kind;
        std::string tagName;
    };
    const std::vector<Case> cases = {
        {"start tag keeps case", "<A HREF='x.html'>", tkTag, "A"},
        {"end tag", "</HEAD>", tkTag, "/HEAD"},
        {"doctype any case", "<!doctype html>", tkDoctype, "!doctype"},
        {"comment has no name", "<!-- x -->", tkComment, ""},
        {"comment without blank", "<!--x-->", tkComment, ""},
        {"processing instruction", "<?xml version='1.0'?>", tkTag, "?xml"},
        {"self-closing", "<br/>", tkTag, "br"},
        {"blank before the name", "< a>", tkTag, "a"},
        {"empty brackets", "<>", tkTag, ">"},
        {"< before a Japanese character is text", "<" + kSo + ">", tkText, ""},
        {"lone <", "<", tkText, ""},
        {"text", "abc", tkText, ""},
    };
    THTMLTag tag;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tag.SetText(c.text);
        EXPECT_EQ(tag.Kind(), c.kind);
        EXPECT_EQ(tag.Name(), c.tagName);
        EXPECT_EQ(tag.Text(), c.text);
        if (c.kind != tkTag && c.kind != tkDoctype) {
            EXPECT_EQ(tag.Count(), 0);
        }
    }
}

struct Attr {
    std::string name, equal, quote, value, text;
    bool operator==(const Attr&) const = default;
};

void PrintTo(const Attr& a, std::ostream* os) {
    *os << "{name '" << a.name << "' equal '" << a.equal << "' quote '" << a.quote << "' value '"
        << a.value << "' text '" << a.text << "'}";
}

std::vector<Attr> Attributes(const THTMLTag& tag) {
    std::vector<Attr> out;
    for (int i = 0; i < tag.Count(); ++i) {
        const auto& e = tag.Elements(i);
        out.push_back({e.Name(), e.Equal(), e.Quote(), e.Value(), e.Text()});
    }
    return out;
}

TEST(HtmlTokens, Attributes) {
    struct Case {
        const char* name;
        std::string tag;
        std::vector<Attr> attrs;
    };
    const std::vector<Case> cases = {
        {"quoted value", "<A HREF='x.html'>", {{"HREF", "=", "'", "x.html", "HREF='x.html'"}}},
        {"/> is not part of a value", "<img src=a.gif/>", {{"src", "=", "", "a.gif", "src=a.gif"}}},
        {"attribute without value",
         "<td nowrap width=5>",
         {{"nowrap", "", "", "", "nowrap"}, {"width", "=", "", "5", "width=5"}}},
        {"without value, last", "<input checked>", {{"checked", "", "", "", "checked"}}},
        {"without value before />", "<input checked/>", {{"checked", "", "", "", "checked"}}},
        {"blanks after =", "<a href= \"x\">", {{"href", "= ", "\"", "x", "href= \"x\""}}},
        {"blanks before = split the attribute",
         "<a href = 'x'>",
         {{"href", "", "", "", "href"}, {"", "= ", "'", "x", "= 'x'"}}},
        {"= without value", "<a href=>", {{"href", "", "", "", "href="}}},
        {"= and blanks without value", "<a href= >", {{"href", "", "", "", "href= "}}},
        {"value standing alone", "<a 'x y'>", {{"", "", "'", "x y", "'x y'"}}},
        {"doctype",
         "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">",
         {{"HTML", "", "", "", "HTML"},
          {"PUBLIC", "", "", "", "PUBLIC"},
          {"", "", "\"", "-//W3C//DTD HTML 4.01//EN", "\"-//W3C//DTD HTML 4.01//EN\""}}},
        {"apostrophe inside a quoted value",
         "<a title='it's'>",
         {{"title", "=", "'", "it", "title='it'"}, {"s'", "", "", "", "s'"}}},
        {"= and blank inside quotes",
         "<a title=\"a=b c\" x=1>",
         {{"title", "=", "\"", "a=b c", "title=\"a=b c\""}, {"x", "=", "", "1", "x=1"}}},
        {"several, mixed quotes",
         "<a b=\"1\" c='2' d=3>",
         {{"b", "=", "\"", "1", "b=\"1\""},
          {"c", "=", "'", "2", "c='2'"},
          {"d", "=", "", "3", "d=3"}}},
        {"lone quote as value", "<a b='>", {{"b", "=", "", "'", "b='"}}},
        {"value broken over lines",
         "<a href=\"a/\r\n   b.html\">",
         {{"href", "=", "\"", "a/ b.html", "href=\"a/\r\n   b.html\""}}},
        {"Shift-JIS name and value with 0x5C trail bytes",
         "<a " + kSo + "=\"" + kHyo + "\">",
         {{kSo, "=", "\"", kHyo, kSo + "=\"" + kHyo + "\""}}},
        {"unquoted Japanese value ends at its first Japanese byte",
         "<a title=" + kPo + " x=1>",
         {{"title", "", "", "", "title="}, {kPo, "", "", "", kPo}, {"x", "=", "", "1", "x=1"}}},
        {"JIS kanji with quote and < bytes in a value",
         "<a t=\"" + kJisIn + "\"<" + kJisOut + "\">",
         // (the trimming of the value takes the ESC that starts it)
         {{"t", "=", "\"", "$B\"<" + kJisOut, "t=\"" + kJisIn + "\"<" + kJisOut + "\""}}},
        {"names end at / without any =", "<a b/c>", {{"b", "", "", "", "b"}}},
        {"= later in the tag keeps / in a name",
         "<a b/c d=1>",
         {{"b/c", "", "", "", "b/c"}, {"d", "=", "", "1", "d=1"}}},
    };
    THTMLTag tag;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tag.SetText(c.tag);
        EXPECT_EQ(Attributes(tag), c.attrs);
        for (int i = 0; i < tag.Count(); ++i) {
            EXPECT_EQ(tag.Elements(i).Index(), i);
            EXPECT_EQ(tag.Text().substr(tag.ElementOffset(i), tag.Elements(i).Text().size()),
                      tag.Elements(i).Text());
        }
    }
}

TEST(HtmlTokens, NormalizeAttributeValue) {
    struct Case {
        const char* name;
        std::string in, out;
    };
    const std::vector<Case> cases = {
        {"line break and indent become one space", "a\r\n   b", "a b"},
        {"line break between letters goes", "a\r\nb", "ab"},
        {"trailing line break and blanks go", "a \r\n", "a"},
        {"lone CR", "a\rb", "ab"},
        {"tab after LF", "a\n\tb", "a b"},
        {"two line breaks", "a\n\n b", "a b"},
        {"only blanks after a break end the value", "a\n  \n", "a"},
        {"CR CR LF", "a\r\r\nb", "ab"},
        {"trim", " \t x \x01", "x"},
        {"leading break", "\n a", "a"},
        {"nothing", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NormalizeAttributeValue(c.in), c.out);
    }
}

TEST(HtmlTokens, ReadWord) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t from;
        std::string word;
        std::size_t pos;
    };
    const std::vector<Case> cases = {
        {"skips blanks", "  abc def", 0, "abc", 5},
        {"quoted word keeps blanks", "'a b'c", 0, "'a b'", 5},
        {"/> given back", "x/>", 0, "x", 1},
        {"just />", "/>", 0, "/", 1},
        {"just >", ">", 0, ">", 1},
        {"one > given back", "a>>", 0, "a>", 2},
        {"end reached", "   ", 0, "", 3},
        {"stops at a lead byte", " " + kSo + "x", 0, "", 1},
        {"kanji run read whole", kJisIn + ">'<3" + kJisOut + " z", 0, kJisIn + ">'<3" + kJisOut,
         10},
        {"kanji run cut short", kJisIn + "<", 0, kJisIn + "<", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t pos = c.from;
        EXPECT_EQ(std::string(ReadWord(pos, c.text)), c.word);
        EXPECT_EQ(pos, c.pos);
    }
}

TEST(HtmlTokens, FindDelimiter) {
    constexpr std::size_t none = std::string::npos;
    struct Case {
        const char* name;
        std::string text, delimiters;
        bool quotes;
        std::size_t found;
    };
    const std::vector<Case> cases = {
        {"quoted > skipped", "'a>'>", ">", true, 4},
        {"quotes ignored", "'a>'>", ">", false, 2},
        {"same quote twice does not reopen", "'a''b>", ">", true, 5},
        {"> after a quote inside a quote", "'a\">b'>", ">", true, 3},
        {"other quote inside a quote", "\"'\">", ">", true, 3},
        {"kanji bytes skipped", kJisIn + ">>" + kJisOut + ">", ">", true, 8},
        {"escape that is not a kanji switch", "\x1b$>", ">", true, 2},
        {"kanji run to the end", kJisIn + ">", ">", true, none},
        {"odd byte at the end of a run", kJisIn + ">>>", ">", true, none},
        {"none", "abc", "<>", true, none},
        {"first of several", "ab c=d", "= ", true, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FindDelimiter(0, c.text, c.delimiters, c.quotes), c.found);
    }
    EXPECT_FALSE(IsJISKanjiIn("\x1b$", 0));
    EXPECT_FALSE(IsJISKanjiOut("\x1b(", 0));
    EXPECT_TRUE(IsJISKanjiIn("\x1b$@", 0));
    EXPECT_TRUE(IsJISKanjiOut("\x1b(j", 0));
}

TEST(HtmlTagChange, SettersRebuildTheAttributeInItsPlace) {
    struct Change {
        const char* name;
        std::string tag;
        int index;
        void (*apply)(THTMLEllement&);
        std::string result;
    };
    const std::vector<Change> cases = {
        {"value", "<A HREF='x.html' target=_top>", 0,
         [](THTMLEllement& e) { e.SetValue("../y.html"); }, "<A HREF='../y.html' target=_top>"},
        {"value not quoted anew", "<a  href=x.html >", 0,
         [](THTMLEllement& e) { e.SetValue("a b.html"); }, "<a  href=a b.html >"},
        {"name", "<a HREF=\"x\">", 0, [](THTMLEllement& e) { e.SetName("src"); }, "<a src=\"x\">"},
        {"quote", "<a href=x>", 0, [](THTMLEllement& e) { e.SetQuote("\""); }, "<a href=\"x\">"},
        {"value on an attribute without =", "<td nowrap width=5>", 0,
         [](THTMLEllement& e) { e.SetValue("x"); }, "<td nowrap width=5>"},
        {"blanks after = kept", "<img src=  'a.gif' alt=a>", 0,
         [](THTMLEllement& e) { e.SetValue("b.gif"); }, "<img src=  'b.gif' alt=a>"},
        {"broken value written whole", "<a href=\"a/\r\n b\">", 0,
         [](THTMLEllement& e) { e.SetValue("c"); }, "<a href=\"c\">"},
        // The same text inside another attribute stays as it is.
        {"same text inside an earlier value", "<img alt=\"src=a.gif\" src=a.gif>", 1,
         [](THTMLEllement& e) { e.SetValue("b.gif"); }, "<img alt=\"src=a.gif\" src=b.gif>"},
        {"same text ending a longer name", "<a data-href=x href=x>", 1,
         [](THTMLEllement& e) { e.SetValue("y"); }, "<a data-href=x href=y>"},
        {"same text later in the tag", "<a href=x data-href=x>", 0,
         [](THTMLEllement& e) { e.SetValue("y"); }, "<a href=y data-href=x>"},
        {"Shift-JIS bytes before the attribute", "<a title=\"" + kSo + kPo + "\" href=x>", 1,
         [](THTMLEllement& e) { e.SetValue("y"); }, "<a title=\"" + kSo + kPo + "\" href=y>"},
    };
    THTMLTag tag;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tag.SetText(c.tag);
        ASSERT_LT(c.index, tag.Count());
        c.apply(tag.Elements(c.index));
        EXPECT_EQ(tag.Text(), c.result);
    }
}

TEST(HtmlTagChange, LaterAttributesFollowLengthChanges) {
    THTMLTag tag;
    tag.SetText("<a href=x src=x background=x>");
    tag.Elements(0).SetValue("longer/x.html");
    tag.Elements(2).SetValue("b");
    tag.Elements(1).SetValue("");
    EXPECT_EQ(tag.Text(), "<a href=longer/x.html src= background=b>");
    tag.Elements(2).SetValue("x");
    EXPECT_EQ(tag.Text(), "<a href=longer/x.html src= background=x>");
}

TEST(HtmlTagChange, ChangeIsReported) {
    THTMLEllement e;
    e.SetText("href='a'");
    std::vector<std::string> seen;
    e.SetOnChange([&](THTMLEllement& sender, int index, const std::string& oldText,
                      const std::string& newText) {
        EXPECT_EQ(&sender, &e);
        seen.push_back(std::to_string(index) + ":" + oldText + ">" + newText);
    });
    e.SetValue("a"); // unchanged: no report
    e.SetValue("b");
    e.SetQuote("\"");
    EXPECT_EQ(seen, (std::vector<std::string>{"-1:href='a'>href='b'", "-1:href='b'>href=\"b\""}));
}

TEST(HtmlTagChange, DeleteElementRemovesItsOwnText) {
    struct Case {
        const char* name;
        std::string tag;
        int index;
        std::string result;
        int count;
    };
    const std::vector<Case> cases = {
        {"blanks around stay", "<a href=\"x\" target=_blank>", 1, "<a href=\"x\" >", 1},
        {"same text in an earlier value", "<img alt=\"src=a.gif\" src=a.gif>", 1,
         "<img alt=\"src=a.gif\" >", 1},
        {"first", "<a x=1 y=2>", 0, "<a  y=2>", 1},
        {"index out of range", "<a x=1>", 1, "<a x=1>", 1},
        {"negative index", "<a x=1>", -1, "<a x=1>", 1},
    };
    THTMLTag tag;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tag.SetText(c.tag);
        tag.DeleteElement(c.index);
        EXPECT_EQ(tag.Text(), c.result);
        EXPECT_EQ(tag.Count(), c.count);
    }

    // Later attributes move down a place, keep their Index and still change in
    // their own place.
    tag.SetText("<a x=1 y=1 z=1>");
    tag.DeleteElement(0);
    ASSERT_EQ(tag.Count(), 2);
    EXPECT_EQ(tag.Elements(0).Name(), "y");
    EXPECT_EQ(tag.Elements(0).Index(), 1);
    tag.Elements(1).SetValue("2");
    EXPECT_EQ(tag.Text(), "<a  y=1 z=2>");
}

TEST(HtmlTagChange, EveryAttributeOfAHugeTagChangesInOnePass) {
    // A megabyte tag of 250,000 attributes, every value changed and every
    // third attribute deleted: the text is put together once, not moved
    // along for every change.
    std::string text = "<img";
    std::string want = "<img";
    constexpr int kAttributes = 250000;
    for (int i = 0; i < kAttributes; ++i) {
        text += " a=1";
        want += i % 3 == 0 ? " " : " a=22";
    }
    text += ">";
    want += ">";
    EXPECT_TRUE(testing::FinishesWithin(4, [&] {
        THTMLTag tag;
        tag.SetText(text);
        if (tag.Count() != kAttributes)
            return false;
        for (int i = 0; i < kAttributes; ++i)
            tag.Elements(i).SetValue("22");
        int n = 0;
        tag.DeleteElements([&](const THTMLEllement&) { return n++ % 3 == 0; });
        return tag.Text() == want && tag.Count() == kAttributes - (kAttributes + 2) / 3;
    }));
    // Deleted one by one they leave the same text.
    THTMLTag tag;
    tag.SetText("<a x=1 y=2 z=3 w=4>");
    tag.Elements(1).SetValue("22");
    tag.DeleteElement(2);
    tag.DeleteElement(0);
    EXPECT_EQ(tag.Text(), "<a  y=22  w=4>");
    EXPECT_EQ(tag.ElementOffset(1), std::string("<a  y=22  ").size());
}

TEST(HtmlTagChange, TagReusedForTheNextToken) {
    THTMLTag tag;
    tag.SetText("<a href=x>");
    tag.Elements(0).SetValue("y");
    tag.SetText("<a href=x>");
    EXPECT_EQ(tag.Text(), "<a href=x>");
    ASSERT_EQ(tag.Count(), 1);
    EXPECT_EQ(tag.Elements(0).Value(), "x");
    tag.SetText("text");
    EXPECT_EQ(tag.Kind(), tkText);
    EXPECT_EQ(tag.Count(), 0);
}

TEST(HtmlTagChange, AttributesOfAnEarlierTokenLeaveNoTrace) {
    // Attributes are kept from token to token and parsed when first asked
    // for; whatever was done with them before, a new token's are its own.
    THTMLTag tag;
    tag.SetText("<img src=\"a.gif\" alt='x y' width=5 border>");
    ASSERT_EQ(tag.Count(), 4);
    // A later attribute changed before an earlier one is looked at.
    tag.Elements(2).SetValue("10");
    EXPECT_EQ(tag.Elements(0).Value(), "a.gif");
    EXPECT_EQ(tag.Elements(0).Quote(), "\"");
    EXPECT_EQ(tag.Elements(1).Value(), "x y");
    tag.DeleteElement(1);
    EXPECT_EQ(tag.Text(), "<img src=\"a.gif\"  width=10 border>");

    tag.SetText("<a name=top>");
    ASSERT_EQ(tag.Count(), 1);
    const THTMLEllement& name = tag.Elements(0);
    EXPECT_EQ(name.Name(), "name");
    EXPECT_EQ(name.Value(), "top");
    EXPECT_EQ(name.Quote(), "");
    EXPECT_EQ(name.Equal(), "=");
    EXPECT_EQ(name.Index(), 0);

    // An attribute deleted without being looked at, then more attributes
    // than before.
    tag.SetText("<p a=1 b=2>");
    tag.DeleteElements([](const THTMLEllement& e) { return e.Name() == "a"; });
    EXPECT_EQ(tag.Text(), "<p  b=2>");
    tag.SetText("<td nowrap width=\"5\" x=1 y=2 z>");
    ASSERT_EQ(tag.Count(), 5);
    const char* const names[] = {"nowrap", "width", "x", "y", "z"};
    const char* const values[] = {"", "5", "1", "2", ""};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tag.Elements(i).Name(), names[i]) << i;
        EXPECT_EQ(tag.Elements(i).Value(), values[i]) << i;
        EXPECT_EQ(tag.Elements(i).Index(), i);
    }
    tag.Elements(4).SetName("Z");
    EXPECT_EQ(tag.Text(), "<td nowrap width=\"5\" x=1 y=2 Z>");
}

// FindDelimiter as its rules read, one byte at a time, to hold the searches
// that skip runs of plain bytes to.
std::size_t FindDelimiterByRule(std::size_t pos, std::string_view text, std::string_view delimiters,
                                bool honourQuotes) {
    bool kanji = false;
    char quote = 0;
    char prev = 0;
    auto isQuote = [](char c) { return c == '"' || c == '\''; };
    while (pos < text.size()) {
        const char c = text[pos];
        if (kanji) {
            if (IsJISKanjiOut(text, pos)) {
                kanji = false;
                prev = text[pos + 2];
                pos += 3;
            } else {
                prev = pos + 1 < text.size() ? text[pos + 1] : 0;
                pos += 2;
            }
            continue;
        }
        if (IsJISKanjiIn(text, pos)) {
            kanji = true;
            prev = text[pos + 2];
            pos += 3;
            continue;
        }
        if (honourQuotes && isQuote(c)) {
            if (quote != 0) {
                if (c == quote)
                    quote = 0;
            } else if (prev != c) {
                quote = c;
            }
        } else if ((quote == 0 || (c == '>' && isQuote(prev))) &&
                   delimiters.find(c) != std::string_view::npos) {
            return pos;
        }
        prev = c;
        ++pos;
    }
    return std::string::npos;
}

TEST(HtmlTokens, SearchesAgreeWithTheRulesOnAnyBytes) {
    // Text of markup bytes, blanks, JIS escapes and kanji, and long plain
    // runs (searched 16 bytes at a time), cut every way a small generator
    // makes.
    const std::string pieces[] = {"<",
                                  ">",
                                  "\"",
                                  "'",
                                  "=",
                                  " ",
                                  "\t",
                                  "\r\n",
                                  "/",
                                  "a",
                                  "\x82\xa0",
                                  kJisIn,
                                  kJisOut,
                                  "\x1b",
                                  "\x1b$",
                                  "$B",
                                  "abcdefghijklmnopqrstuvwxyz0123",
                                  std::string(40, 'x')};
    std::uint32_t state = 12345;
    auto next = [&] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    const char* const sets[] = {">", "<", "=", "= \r\n\t", " \r\n\t/>"};
    int checked = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t count = next() % 24;
        for (std::size_t i = 0; i < count; ++i)
            text += pieces[next() % std::size(pieces)];
        for (const char* set : sets) {
            for (bool quotes : {false, true}) {
                const std::size_t start = text.empty() ? 0 : next() % text.size();
                ASSERT_EQ(FindDelimiter(start, text, set, quotes),
                          FindDelimiterByRule(start, text, set, quotes))
                    << "text " << ::testing::PrintToString(text) << " set "
                    << ::testing::PrintToString(std::string(set)) << " quotes " << quotes
                    << " from " << start;
                ++checked;
            }
        }
        // Tokens run from "<" through the ">" the rules find, text up to
        // the next "<" they find; together they are the text.
        std::size_t pos = 0;
        THTMLTag tag;
        std::string joined;
        while (pos < text.size()) {
            const std::size_t at = pos;
            ASSERT_TRUE(NextTag(text, pos, tag));
            const std::size_t end = text[at] == '<' ? FindDelimiterByRule(at, text, ">", true)
                                                    : FindDelimiterByRule(at, text, "<", false);
            const std::size_t want =
                end == std::string::npos ? text.size() : end + (text[at] == '<' ? 1 : 0);
            ASSERT_EQ(pos, want) << ::testing::PrintToString(text);
            joined += tag.Text();
        }
        ASSERT_EQ(joined, text);
    }
    EXPECT_EQ(checked, 3000 * 10);
}

TEST(HtmlTokens, SamplePagesComeBackWhole) {
    for (const char* name : {"page-sjis.html", "page-eucjp.html", "page-jis.html", "page-utf8.html",
                             "page-noheadend.html"}) {
        SCOPED_TRACE(name);
        std::string page;
        ASSERT_TRUE(ReadWholeFile(std::string(TARNHOLD_TEST_DATA) + "/text/" + name, page));
        auto tokens = TokenTexts(page);
        EXPECT_GT(tokens.size(), 10u);
        EXPECT_EQ(Joined(tokens), page);
    }
}

// A walk that views the page reads the same tokens and attributes as one
// that copies them, and a token changed or copied out no longer needs the
// page.
TEST(HtmlTokens, TokensViewingThePageMatchCopiedOnes) {
    const std::string page = "<html><a href=\"x.html\" title='t'>link</a>text &amp; more" + kJisIn +
                             "\x3c\x33" + kJisOut + "<img src=y.gif alt=\"a>b\"><!-- c --><p";
    THTMLTag copied, viewed;
    std::size_t a = 0, b = 0;
    std::string written;
    while (NextTag(page, a, copied)) {
        ASSERT_TRUE(NextTagInPlace(page, b, viewed));
        ASSERT_EQ(a, b);
        EXPECT_EQ(viewed.Kind(), copied.Kind());
        EXPECT_EQ(viewed.Name(), copied.Name());
        ASSERT_EQ(viewed.Count(), copied.Count());
        for (int i = 0; i < copied.Count(); ++i)
            EXPECT_EQ(viewed.Elements(i).Text(), copied.Elements(i).Text());
        EXPECT_EQ(viewed.TextView(), copied.Text());
        written.append(viewed.TextView());
    }
    EXPECT_FALSE(NextTagInPlace(page, b, viewed));
    EXPECT_EQ(written, page);

    // Changed and put together: the new text is the tag's own, the page is
    // not touched.
    THTMLTag changed;
    std::string scratch = "<a href=\"x.html\" id=k>";
    std::size_t pos = 0;
    ASSERT_TRUE(NextTagInPlace(scratch, pos, changed));
    changed.Elements(0).SetValue("local/x.html");
    EXPECT_EQ(changed.TextView(), "<a href=\"local/x.html\" id=k>");
    scratch.assign(scratch.size(), '#');
    EXPECT_EQ(changed.TextView(), "<a href=\"local/x.html\" id=k>");
    EXPECT_EQ(scratch, std::string(scratch.size(), '#'));

    // Copied out with Text(): it stays when the page is overwritten, and its
    // attributes are still read from the right places.
    THTMLTag kept;
    scratch = "<img alt=q src=z.png>";
    pos = 0;
    ASSERT_TRUE(NextTagInPlace(scratch, pos, kept));
    const std::string text = kept.Text();
    scratch.assign(scratch.size(), '#');
    EXPECT_EQ(kept.Text(), text);
    EXPECT_EQ(kept.Elements(1).Value(), "z.png");
    kept.DeleteElement(0);
    EXPECT_EQ(kept.TextView(), "<img  src=z.png>");
    // SetText after a viewed token reads the new text even when equal.
    kept.SetText("<b>");
    EXPECT_EQ(kept.Name(), "b");
}

TEST(HtmlTokens, LongTagOfValuelessAttributes) {
    // Every attribute without a value looks for an "=" further on; a tag of
    // many such attributes must still be read in one go.
    std::string text = "<a";
    for (int i = 0; i < 20000; ++i)
        text += " n" + std::to_string(i);
    text += " last=1>";
    THTMLTag tag;
    tag.SetText(text);
    ASSERT_EQ(tag.Count(), 20001);
    EXPECT_EQ(tag.Elements(20000).Value(), "1");
    EXPECT_EQ(tag.Elements(19999).Name(), "n19999");
}

} // namespace
} // namespace tarnhold
