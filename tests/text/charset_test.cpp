#include "text/charset.h"

#include <gtest/gtest.h>
#include <string>

namespace tarnhold {
namespace {

TEST(Charset, LabelsNameWhatBrowsersMakeOfThem) {
    struct TCase {
        const char* label;
        const char* encoding;
    } cases[] = {
        {"utf-8", "UTF-8"},
        {" UTF8 ", "UTF-8"},
        {"x-sjis", "Shift_JIS"},
        {"Windows-31J", "Shift_JIS"},
        {"shift-jis", "Shift_JIS"},
        {"euc-jp", "EUC-JP"},
        {"ISO-2022-JP", "ISO-2022-JP"},
        {"windows-1252", "windows-1252"},
        {"latin1", "windows-1252"},
        {"ISO-8859-1", "windows-1252"},
        {"us-ascii", "windows-1252"},
        {"iso-8859-15", "ISO-8859-15"},
        {"gb2312", "GBK"},
        {"big5-hkscs", "Big5"},
        {"ks_c_5601-1987", "EUC-KR"},
        {"utf-16", "UTF-16LE"},
        {"iso-2022-kr", "replacement"},
        {"nonsense", ""},
        {"", ""},
        {"utf-8\x01", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodingOfLabel(c.label), c.encoding) << c.label;
}

TEST(Charset, ContentTypeAndHeadGiveTheDeclaredCharset) {
    EXPECT_EQ(CharsetParameter("text/html; charset=utf-8"), "utf-8");
    EXPECT_EQ(CharsetParameter("text/html;charset=\"Shift_JIS\"; q=1"), "Shift_JIS");
    EXPECT_EQ(CharsetParameter("text/html; format=flowed; CHARSET = euc-jp "), "euc-jp");
    EXPECT_EQ(CharsetParameter("text/html"), "");
    EXPECT_EQ(CharsetParameter("text/html; charsets=utf-8"), "");
    const std::string head = "HTTP/1.1 200 OK\r\nServer: x\r\ncontent-type: text/html; "
                             "charset=windows-1252\r\nContent-Length: 3\r\n";
    EXPECT_EQ(HeaderValue(head, "Content-Type"), "text/html; charset=windows-1252");
    EXPECT_EQ(HeaderValue(head, "ETag"), "");
}

TEST(Charset, DetectionTellsUtf8FromTheJapaneseEncodings) {
    size_t bom = 0;
    EXPECT_EQ(EncodingOfBom("\xEF\xBB\xBFhi", &bom), "UTF-8");
    EXPECT_EQ(bom, 3u);
    EXPECT_EQ(DetectEncoding("\xFF\xFEh\0i"), "UTF-16LE");
    EXPECT_EQ(DetectEncoding("caf\xC3\xA9 \xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"), "UTF-8");
    // A sample that ends inside a character is still UTF-8.
    EXPECT_EQ(DetectEncoding("\xE3\x83\x86\xE3\x82"), "UTF-8");
    EXPECT_EQ(DetectEncoding("\x83\x65\x83\x58\x83\x67"), "Shift_JIS"); // テスト
    EXPECT_EQ(DetectEncoding("\xA5\xC6\xA1\xF0"), "EUC-JP");            // テ￥
    EXPECT_EQ(DetectEncoding("\x1B$B%F%9%H\x1B(B"), "ISO-2022-JP");
    EXPECT_EQ(DetectEncoding("plain ascii"), "windows-1252");
}

TEST(Charset, EveryEncodingDecodesToValidUtf8) {
    struct TCase {
        const char* name;
        std::string text;
        const char* encoding;
        std::string utf8;
    } cases[] = {
        {"Shift_JIS", "\x83\x65\x83\x58\x83\x67", "Shift_JIS", "テスト"},
        {"CP932 extension", "\x87\x40", "Shift_JIS", "①"},
        {"EUC-JP", "\xA5\xC6\xA5\xB9\xA5\xC8", "EUC-JP", "テスト"},
        {"ISO-2022-JP", "\x1B$B%F%9%H\x1B(B!", "ISO-2022-JP", "テスト!"},
        {"windows-1252", "Caf\xE9 \x93quoted\x94 \x80", "windows-1252", "Café “quoted” €"},
        {"ISO-8859-15", "\xA4", "ISO-8859-15", "€"},
        {"GBK", "\xD6\xD0\xCE\xC4", "GBK", "中文"},
        {"Big5", "\xA4\xA4\xA4\xE5", "Big5", "中文"},
        {"EUC-KR", "\xC7\xD1\xB1\xB9", "EUC-KR", "한국"},
        {"UTF-16LE", std::string("h\0\x42\x30", 4), "UTF-16LE", "hあ"},
        {"UTF-8 emoji", "\xF0\x9F\x98\x80", "UTF-8", "😀"},
        {"UTF-8 damaged",
         "a\xFF"
         "b\xE3\x81",
         "UTF-8",
         "a\xEF\xBF\xBD"
         "b\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"Shift_JIS cut pair", "a\x83", "Shift_JIS", "a\xEF\xBF\xBD"},
        {"unknown is windows-1252", "\xE9", "no-such", "é"},
        {"replacement", "anything", "replacement", "\xEF\xBF\xBD"},
        {"x-user-defined", "a\x80", "x-user-defined", "a\xEF\x9E\x80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeToUtf8(c.text, c.encoding), c.utf8) << c.name;
}

} // namespace
} // namespace tarnhold
