#include "text/jconvert.h"

#include <gtest/gtest.h>
#include <string>

namespace tarnhold {
namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s.push_back(static_cast<char>(b));
    return s;
}

struct TCodeCase {
    const char* Name;
    std::string Text;
    int Code;
};

TEST(InCodeCheck, Rules) {
    const std::string esc = "\x1b";
    const TCodeCase cases[] = {
        {"empty", "", jcAscii},
        {"one byte is never examined", "\x82", jcAscii},
        {"one control byte", std::string(1, '\0'), jcAscii},
        {"plain ASCII", "abc", jcAscii},
        {"last byte never examined alone", "ab\x82", jcAscii},
        // a: escapes
        {"a: ESC $ B", esc + "$B" + "\x82\xa0", jcJisNew},
        {"a: ESC $ @", esc + "$@abc", jcJisOld},
        {"a: ESC ( B decides nothing", esc + "(Babc", jcAscii},
        {"a: ESC $ A decides nothing", esc + "$Aabc", jcAscii},
        {"a: ESC $ at the end", "x" + esc + "$", jcAscii},
        {"a: escape bytes are skipped", esc + "$\x82z", jcAscii},
        // b: control bytes beyond the strict part, and 0xFF
        {"b: 0xFF",
         "ab\xff"
         "c",
         jcBinary},
        {"b: 0x07", Bytes({'a', 0x07, 'b'}), jcBinary},
        {"c: 0x08 and 0x7F are text", Bytes({0x08, 0x7f, 'a'}), jcAscii},
        // d: Shift-JIS-only lead bytes
        {"d: 0x81", Bytes({0x81, 0x40}), jcSjis},
        {"d: 0x8D", Bytes({0x8d, 0x40}), jcSjis},
        {"d: 0x8F", Bytes({0x8f, 0x40}), jcSjis},
        {"d: 0x9F", Bytes({0x9f, 0x40}), jcSjis},
        // e: 0x8E
        {"e: 0x8E 0x40", Bytes({0x8e, 0x40, 'x'}), jcSjis},
        {"e: 0x8E 0x80", Bytes({0x8e, 0x80, 'x'}), jcSjis},
        {"e: 0x8E 0xA0", Bytes({0x8e, 0xa0, 'x'}), jcSjis},
        {"e: 0x8E 0xE0", Bytes({0x8e, 0xe0, 'x'}), jcSjis},
        {"e: 0x8E 0xFC", Bytes({0x8e, 0xfc, 'x'}), jcSjis},
        {"e: 0x8E 0xA1", Bytes({0x8e, 0xa1, 'x'}), jcEucOrSjis},
        {"e: 0x8E 0xDF", Bytes({0x8e, 0xdf, 'x'}), jcEucOrSjis},
        {"e: 0x8E 0x7F", Bytes({0x8e, 0x7f, 'x'}), jcAscii},
        {"e: 0x8E 0xFD", Bytes({0x8e, 0xfd, 'x'}), jcAscii},
        // f: 0xA1-0xDF
        {"f: then 0xF0", Bytes({0xa1, 0xf0}), jcEuc},
        {"f: then 0xFE", Bytes({0xdf, 0xfe}), jcEuc},
        {"f: then 0xA1", Bytes({0xb0, 0xa1}), jcEucOrSjis},
        {"f: then 0x9F", Bytes({0xb0, 0x9f}), jcSjis},
        {"f: then ASCII", Bytes({0xb1, 'a'}), jcSjis},
        {"f: then 0xA0", Bytes({0xb0, 0xa0, 'x'}), jcAscii},
        {"f: then 0xFF", Bytes({0xb0, 0xff}), jcAscii},
        {"f: look-ahead finds 0x81", Bytes({0xb0, 0xe0, 0xa1, 0x81}), jcSjis},
        {"f: look-ahead finds 0x9C", Bytes({0xb0, 0xe0, 0x9c}), jcSjis},
        {"f: look-ahead 0x9D decides nothing", Bytes({0xb0, 0xe0, 0x9d}), jcEucOrSjis},
        {"f: look-ahead 0x8E decides nothing", Bytes({0xb0, 0xe0, 0x8e}), jcEucOrSjis},
        {"f: look-ahead finds 0xFD", Bytes({0xb0, 0xe0, 0xfd}), jcEuc},
        {"f: look-ahead starts at the second byte", Bytes({0xb0, 0xe5, 'x'}), jcEucOrSjis},
        // The look-ahead stops at a byte below 0x40; the scan goes on after it.
        {"f: look-ahead stops at a blank", Bytes({0xb0, 0xe0, ' ', 0x82, 'x'}), jcSjis},
        {"f: last byte after the look-ahead not examined", Bytes({0xb0, 0xe0, ' ', 0x82}),
         jcEucOrSjis},
        // g: 0xF0-0xFE
        {"g: 0xF0", Bytes({0xf0, 'x'}), jcEuc},
        {"g: 0xFE", Bytes({0xfe, 'x'}), jcEuc},
        // h: 0xE0-0xEF
        {"h: then 0x40", Bytes({0xe0, 0x40}), jcSjis},
        {"h: then 0xA0", Bytes({0xef, 0xa0}), jcSjis},
        {"h: then 0xFD", Bytes({0xe0, 0xfd}), jcEuc},
        {"h: then 0xA1", Bytes({0xe0, 0xa1}), jcEucOrSjis},
        {"h: then 0xFC", Bytes({0xe0, 0xfc}), jcEucOrSjis},
        {"h: then 0x3F", Bytes({0xe0, 0x3f, 'x'}), jcAscii},
        // i: 0x80 and 0xA0
        {"i: 0x80", Bytes({0x80, 'a', 'b'}), jcAscii},
        {"i: 0xA0", Bytes({0xa0, 'a', 'b'}), jcAscii},
        // 6 lets the scan go on; a later decisive byte wins.
        {"undecided stays", Bytes({0xb0, 0xa1, 'a', 'b'}), jcEucOrSjis},
        {"later 0xF5 gives EUC", Bytes({0xb0, 0xa1, 'a', 0xf5, 'x'}), jcEuc},
        {"later 0x82 gives Shift-JIS", Bytes({0xb0, 0xa1, 'a', 0x82, 'x'}), jcSjis},
        {"a decision ends the scan", Bytes({0x82, 0xa0, 0xf5, 'x'}), jcSjis},
    };
    for (const auto& c : cases)
        EXPECT_EQ(InCodeCheck(c.Text), c.Code) << c.Name;
}

TEST(InCodeCheck, StrictPartOfTheText) {
    ASSERT_EQ(STRICT_CHECK_LEN, 512);
    std::string text(600, 'a');
    text[10] = '\x82';
    text[11] = '\xa0';
    text[512] = '\0'; // byte 513: beyond the strict part
    EXPECT_EQ(InCodeCheck(text), jcSjis);
    text[512] = 'a';
    text[99] = '\0'; // byte 100
    EXPECT_EQ(InCodeCheck(text), jcBinary);
    // Byte 512 is still inside the strict part.
    text[99] = 'a';
    text[511] = '\0';
    EXPECT_EQ(InCodeCheck(text), jcBinary);
    // Beyond it, the main scan still calls a control byte or 0xFF not text.
    text[511] = 'a';
    text[550] = '\xff';
    EXPECT_EQ(InCodeCheck(text), jcSjis); // the Shift-JIS pair came first
    text[10] = text[11] = 'a';
    EXPECT_EQ(InCodeCheck(text), jcBinary);
}

TEST(InCodeCheck, JisEscapeWinsWhateverFollows) {
    EXPECT_EQ(InCodeCheck("\x1b$B\xf5\xa1\x82\xa0"), jcJisNew);
}

TEST(ToSjis, Arithmetic) {
    EXPECT_EQ(ToSjis(0x30, 0x21), Bytes({0x88, 0x9f})); // 亜
    EXPECT_EQ(ToSjis(0x24, 0x22), Bytes({0x82, 0xa0})); // あ
    EXPECT_EQ(ToSjis(0x21, 0x21), Bytes({0x81, 0x40})); // ideographic space
    EXPECT_EQ(ToSjis(0x25, 0x60), Bytes({0x83, 0x80})); // odd row, cell >= 0x60
    EXPECT_EQ(ToSjis(0x7e, 0x7e), Bytes({0xef, 0xfc})); // last cell
    EXPECT_EQ(ToSjis(0x5f, 0x21), Bytes({0xe0, 0x40})); // first row above 0x5E
}

struct TConvertCase {
    const char* Name;
    std::string In;
    std::string Out;
};

TEST(jis2sjis, Cases) {
    const std::string kanjiIn = "\x1b$B";
    const std::string asciiIn = "\x1b(B";
    const TConvertCase cases[] = {
        {"one kanji", kanjiIn + "\x30\x21" + asciiIn, Bytes({0x88, 0x9f})},
        {"text around", "a" + kanjiIn + "\x24\x22\x30\x21" + asciiIn + "b",
         "a" + Bytes({0x82, 0xa0, 0x88, 0x9f}) + "b"},
        {"two escapes in a row", kanjiIn + asciiIn, ""},
        {"old JIS escape", "\x1b$@\x30\x21", Bytes({0x88, 0x9f})},
        {"katakana escape copies plainly", "\x1b(I\x31", "\x31"},
        {"unknown escape keeps the mode", kanjiIn + "\x1b*X\x30\x21", Bytes({0x88, 0x9f})},
        {"half pair at the end is dropped", kanjiIn + "\x30\x21\x30", Bytes({0x88, 0x9f})},
        {"escape cut short", "ab\x1b$", "ab"},
        {"lone ESC at the end", "ab\x1b", "ab"},
        {"no escape: unchanged", "plain \x82\xa0", "plain \x82\xa0"},
        {"CR LF inside kanji mode is a pair", kanjiIn + "\r\n", ToSjis('\r', '\n')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jis2sjis(c.In), c.Out) << c.Name;
}

TEST(euc2sjis, Cases) {
    const TConvertCase cases[] = {
        {"kanji", Bytes({0xb0, 0xa1}), Bytes({0x88, 0x9f})},
        {"hiragana with ASCII", "a" + Bytes({0xa4, 0xa2}) + "b", "a" + Bytes({0x82, 0xa0}) + "b"},
        {"single shift", Bytes({0x8e, 0xb1}), Bytes({0xb1})},
        {"0x80 and 0xFF copied", Bytes({0x80, 0xff}), Bytes({0x80, 0xff})},
        {"0x8F taken as a pair", Bytes({0x8f, 0xb0, 0xa1}), ToSjis(0x0f, 0x30)},
        {"lead byte at the end is dropped", "a" + Bytes({0xb0}), "a"},
        {"single shift at the end is dropped", "a" + Bytes({0x8e}), "a"},
        {"empty", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(euc2sjis(c.In), c.Out) << c.Name;
}

TEST(TSjisStream, BlocksCutAnywhereGiveTheWholeConversion) {
    const std::string kanjiIn = "\x1b$B";
    const std::string asciiIn = "\x1b(B";
    const std::string jis = "ab" + kanjiIn + "\x30\x21\x24\x22" + asciiIn + "c\x82" + kanjiIn +
                            "\x30\x21\x1b" + "\x30" + asciiIn + "\x1b*Xd" + kanjiIn + "\x24";
    const std::string euc = "a" + Bytes({0xb0, 0xa1, 0x8e, 0xb1, 0x80, 0xff, 0xa4, 0xa2}) +
                            "0123456789abcdef" + Bytes({0x8f, 0xb0, 0xa1, 0xb0});
    struct Case {
        int Source;
        const std::string& Text;
        std::string Whole;
    };
    const Case cases[] = {{jcJisNew, jis, jis2sjis(jis)},
                          {jcJisOld, jis, jis2sjis(jis)},
                          {jcEuc, euc, euc2sjis(euc)},
                          {jcSjis, euc, euc}};
    // The whole conversions as the rules give them: the unknown escape
    // "ESC 0 ESC" swallows the ESC of "ESC ( B", so "(B" is a pair, and so
    // on to the end, where the half pair is dropped.
    EXPECT_EQ(cases[0].Whole, "ab" + Bytes({0x88, 0x9f, 0x82, 0xa0}) + "c\x82" +
                                  Bytes({0x88, 0x9f, 0x84, 0xc0, 0xe2, 0x99, 0x82, 0xc0}));
    EXPECT_EQ(cases[2].Whole, "a" + Bytes({0x88, 0x9f, 0xb1, 0x80, 0xff, 0x82, 0xa0}) +
                                  "0123456789abcdef" + Bytes({0x78, 0x4f, 0x81, 0x4f}));
    for (const Case& c : cases) {
        const std::string_view text = c.Text;
        // Every pair of cuts: three blocks, some empty.
        for (std::size_t a = 0; a <= text.size(); ++a) {
            for (std::size_t b = a; b <= text.size(); ++b) {
                TSjisStream stream(c.Source);
                std::string out;
                stream.Convert(text.substr(0, a), out);
                stream.Convert(text.substr(a, b - a), out);
                stream.Convert(text.substr(b), out);
                stream.Finish();
                ASSERT_EQ(out, c.Whole) << "source " << c.Source << " cuts " << a << ", " << b;
            }
        }
    }
    // After Finish the stream starts afresh: nothing held, single bytes.
    TSjisStream stream(jcJisNew);
    std::string out;
    stream.Convert(kanjiIn + "\x30", out);
    stream.Finish();
    stream.Convert("\x21z", out);
    EXPECT_EQ(out, "\x21z");
}

TEST(ConvertJCode, ToShiftJis) {
    const std::string euc = "EUC " + Bytes({0xb0, 0xa1, 0xa4, 0xa2, 0xf5, 0xa1}) + " text";
    ASSERT_EQ(InCodeCheck(euc), jcEuc);
    EXPECT_EQ(ConvertJCode(euc, jcSjis), euc2sjis(euc));

    const std::string jis = "\x1b$B\x30\x21\x1b(B!";
    EXPECT_EQ(ConvertJCode(jis, jcSjis), Bytes({0x88, 0x9f}) + "!");

    const std::string undecided = Bytes({0xb0, 0xa1, 'a', 'b'});
    EXPECT_EQ(ConvertJCode(undecided, jcSjis), undecided);
    const std::string sjis = Bytes({0x82, 0xa0, 'a'});
    EXPECT_EQ(ConvertJCode(sjis, jcSjis), sjis);
    EXPECT_EQ(ConvertJCode("abc", jcSjis), "abc");
    const std::string binary = std::string("a\0b", 3) + Bytes({0xb0, 0xa1});
    EXPECT_EQ(ConvertJCode(binary, jcSjis), binary);
    // Other targets are not converted to.
    EXPECT_EQ(ConvertJCode(euc, jcJisNew), euc);
}

TEST(JCodeName, EveryCode) {
    for (int code = jcAscii; code <= jcEucOrSjis; ++code)
        EXPECT_STRNE(JCodeName(code), "unknown") << code;
    EXPECT_STREQ(JCodeName(5), "Shift-JIS");
    EXPECT_STREQ(JCodeName(7), "unknown");
}

} // namespace
} // namespace tarnhold
