// Reading a page's head: the declared or detected character set, and the
// title converted to UTF-8 and cleaned.
#include "platform/codepage.h"
#include "platform/files.h"
#include "support/testfiles.h"
#include "text/htmlparser.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarnhold {
namespace {

namespace fs = std::filesystem;

std::string DataFile(const char* name) {
    return std::string(TARNHOLD_TEST_DATA) + "/text/" + name;
}

// A folder of its own for each test, removed afterwards.
class PageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarnhold-page-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path Write(const std::string& name, std::string_view content) {
        fs::path file = dir_ / name;
        EXPECT_TRUE(WriteTestFile(file, content));
        return file;
    }

    fs::path dir_;
};

TEST(PageCharset, DeclaredNames) {
    struct Case {
        const char* name;
        std::uint8_t code;
    };
    const std::vector<Case> cases = {
        {"x-sjis", csShiftJIS},
        {"Shift_JIS", csShiftJIS},
        {"SHIFT-JIS", csShiftJIS},
        {"windows-31j", csShiftJIS},
        {"sjis", csShiftJIS},
        {"iso-2022-jp", csJIS},
        {"ISO_2022_JP", csJIS},
        {"euc-jp", csEUCJP},
        {"X-EUC-JP", csEUCJP},
        {"x_euc_japan", csEUCJP},
        {"utf-8", csUTF8},
        {"UTF_8", csUTF8},
        {"utf8", csUTF8},
        {"us-ascii", csLatin1},
        {"ISO-8859-1", csLatin1},
        {"windows-1252", csLatin1},
        {"latin1", csLatin1},
        {"big5", csDeclared},
        {"iso-8859-15", csDeclared},
        {"", csNone},
        {"UTF-8;X=Y", csNone},
        {"no-such-set", csNone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CharsetCodeOfName(c.name), c.code);
    }
}

TEST(PageCharset, DeclarationInTheHead) {
    struct Case {
        const char* name;
        std::string page;
        std::uint8_t code;
        std::string charset;
    };
    auto meta = [](std::string attributes) {
        return "<html><head><title>t</title>\r\n<META " + attributes + ">\r\n</head><body>x</body>";
    };
    const std::vector<Case> cases = {
        {"x-sjis", meta("http-equiv='Content-Type' content='text/html; charset=x-sjis'"),
         csShiftJIS, "X-SJIS"},
        {"underscore kept in the name",
         meta("HTTP-EQUIV=\"content-type\" CONTENT=\"text/html; "
              "charset=Shift_JIS\""),
         csShiftJIS, "SHIFT_JIS"},
        {"euc-jp", meta("http-equiv=Content-Type content=\"text/html;charset=euc-jp\""), csEUCJP,
         "EUC-JP"},
        {"unknown name", meta("http-equiv='Content-Type' content='text/html; charset=big5'"),
         csDeclared, "BIG5"},
        {"blanks removed", meta("http-equiv='Content-Type' content='text/html; charset = utf-8'"),
         csUTF8, "UTF-8"},
        {"parameter after the name",
         meta("http-equiv='Content-Type' content='text/html; charset=utf-8; x=y'"), csUTF8,
         "UTF-8"},
        {"content before http-equiv",
         meta("content='text/html; charset=euc-jp' http-equiv='Content-Type'"), csEUCJP, "EUC-JP"},
        {"HTML5 charset attribute", meta("charset=\"utf-8\""), csUTF8, "UTF-8"},
        {"windows-1252 is Latin", meta("charset=windows-1252"), csLatin1, "WINDOWS-1252"},
        {"unknown name passed over",
         "<head><meta charset=klingon><meta charset=euc-jp><title>t</title></head>", csEUCJP,
         "EUC-JP"},
        {"other http-equiv", meta("http-equiv='refresh' content='0; charset=euc-jp'"), csLatin1,
         "ISO-8859-1"},
        {"no charset in content", meta("http-equiv='Content-Type' content='text/html'"), csLatin1,
         "ISO-8859-1"},
        {"first usable declaration wins",
         "<head><meta http-equiv=refresh content=5><meta http-equiv=Content-Type "
         "content='text/html; charset=EUC-JP'><meta http-equiv=Content-Type "
         "content='text/html; charset=UTF-8'></head>",
         csEUCJP, "EUC-JP"},
        {"declaration after /HEAD",
         "<head></head><meta http-equiv=Content-Type "
         "content='text/html; charset=EUC-JP'>",
         csLatin1, "ISO-8859-1"},
        {"page without HEAD", "<meta http-equiv=Content-Type content='text/html; charset=EUC-JP'>",
         csLatin1, "ISO-8859-1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        THTMLParser parser;
        parser.LoadFromText(c.page);
        EXPECT_EQ(parser.CharsetCode(), c.code);
        EXPECT_EQ(parser.Charset(), c.charset);
        EXPECT_EQ(parser.Data(), c.page);
        EXPECT_TRUE(parser.FileName().empty());
    }
}

TEST(PageCharset, HeadTokens) {
    THTMLParser parser;
    parser.LoadFromText("<html><HEAD>\n<title>x</title>\n</Head><body>");
    std::vector<std::string> texts;
    for (int i = 0; i < parser.Count(); ++i)
        texts.push_back(parser.Tags(i).Text());
    EXPECT_EQ(texts, (std::vector<std::string>{"\n", "<title>", "x", "</title>", "\n"}));
    EXPECT_EQ(parser.Title(), "x");

    // Without /HEAD everything after HEAD belongs to the head.
    parser.LoadFromText("<head><title>a</title><body>b");
    EXPECT_EQ(parser.Count(), 5);
}

TEST_F(PageFiles, TitleCleaning) {
    struct Case {
        const char* name;
        std::string head;
        std::string title;
    };
    const std::vector<Case> cases = {
        {"indented line break becomes a space", "<title>Top\r\n  Page</title>", "Top Page"},
        {"bare line break goes", "<title>Top\r\nPage</title>", "TopPage"},
        {"blanks trimmed", "<title>\r\n  Top  \r\n</title>", "Top"},
        {"ampersand", "<title>A &amp; B</title>", "A & B"},
        {"numeric references", "<title>&#169; 2003 &#12354;&#x1F600;&#X41</title>", "© 2003 あ😀A"},
        {"references to no character", "<title>&#0;&#xD800;&#1114112;&#150;</title>",
         "\uFFFD\uFFFD\uFFFD–"},
        {"no digits, no reference", "<title>&#; &#x;</title>", "&#; &#x;"},
        {"the seven entities", "<title>&nbsp;&copy;&quot;&reg;&gt;&lt;&amp;</title>",
         " (c)\"(R)><&"}, // trimmed before the entities are replaced
        {"&amp; last", "<title>&amp;lt;b&amp;gt;</title>", "&lt;b&gt;"},
        {"entities are case-sensitive", "<title>&AMP; &Amp;</title>", "&AMP; &Amp;"},
        {"other entities stay", "<title>&hellip;&yen;</title>", "&hellip;&yen;"},
        {"first TITLE counts", "<title>one</title><title>two</title>", "one"},
        {"empty TITLE gives none", "<title></title>", ""},
        {"comment right after TITLE", "<title><!-- x -->T</title>", ""},
        {"empty TITLE then another", "<title></title><title>two</title>", "two"},
        {"TITLE holding a tag", "<title>A <b>B</b></title>", "A"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path file = Write("t" + std::to_string(n++) + ".html",
                              "<html><head>" + c.head + "</head><body>x</body></html>");
        THTMLParser parser;
        ASSERT_TRUE(parser.LoadFromFile(file));
        EXPECT_EQ(parser.Title(), c.title);
        EXPECT_EQ(parser.CharsetCode(), csLatin1);
        EXPECT_EQ(parser.Charset(), "ISO-8859-1");
    }
}

TEST_F(PageFiles, TitleNeedsAHead) {
    THTMLParser parser;
    ASSERT_TRUE(parser.LoadFromFile(Write("a.html", "<html><title>T</title><body>x")));
    EXPECT_EQ(parser.Title(), "");
    EXPECT_EQ(parser.Count(), 0);
}

TEST(PageTitle, SamplePagesInEveryEncoding) {
    struct Case {
        const char* file;
        std::uint8_t code;
        std::string charset;
        std::string titleUtf8;
    };
    const std::vector<Case> cases = {
        {"page-sjis.html", csShiftJIS, "SHIFT_JIS", "ソフト表示 & 予定表 (c) 能登"},
        {"page-eucjp.html", csEUCJP, "EUC-JP", "日記のページ 第二版"},
        {"page-jis.html", csJIS, "ISO-2022-JP", "竺唱の歌 <第一集>"},
        {"page-utf8.html", csUTF8, "UTF-8", "ユニコードの頁 \"試験\""},
        // Its META has content before http-equiv.
        {"page-noheadend.html", csEUCJP, "EUC-JP", "終わりのない頭"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        THTMLParser parser;
        ASSERT_TRUE(parser.LoadFromFile(DataFile(c.file)));
        EXPECT_EQ(parser.CharsetCode(), c.code);
        EXPECT_EQ(parser.Charset(), c.charset);
        EXPECT_EQ(parser.Title(), c.titleUtf8);
        EXPECT_EQ(parser.FileName(), fs::path(DataFile(c.file)));
        std::string whole;
        ASSERT_TRUE(ReadWholeFile(DataFile(c.file), whole));
        EXPECT_EQ(parser.Data(), whole);
    }
}

// Pages as today's web writes them: the title comes out exactly, in UTF-8,
// whatever the page is in and however that is said.
TEST(PageTitle, EveryCharacterSetAndEveryWayOfSayingIt) {
    struct Case {
        const char* file;
        const char* header; // the charset the server sent, if any
        const char* encoding;
        std::uint8_t code;
        std::string title;
    };
    const std::vector<Case> cases = {
        {"utf8-meta.html", "", "UTF-8", csUTF8, "Tarnhold テスト: top 😀 한국어"},
        {"utf8-header.html", "utf-8", "UTF-8", csUTF8, "Served as UTF-8 only — café"},
        {"utf8-bom.html", "", "UTF-8", csUTF8, "BOM only — 日本語"},
        {"utf8-detected.html", "", "UTF-8", csUTF8, "Nothing declared — ナビ"},
        {"windows-1252.html", "", "windows-1252", csLatin1, "Café “Crème brûlée” – €5"},
        // The server's word counts before the page's.
        {"windows-1252.html", "utf-8", "UTF-8", csUTF8,
         "Caf\uFFFD \uFFFDCr\uFFFDme br\uFFFDl\uFFFDe\uFFFD \uFFFD \uFFFD5"},
        {"iso-8859-15.html", "", "ISO-8859-15", csDeclared, "Œuvre à 10 €"},
        {"gbk.html", "", "GBK", csDeclared, "中文网页标题"},
        {"big5.html", "", "Big5", csDeclared, "繁體中文標題"},
        {"euc-kr.html", "", "EUC-KR", csDeclared, "한국어 제목"},
        {"shift_jis.html", "", "Shift_JIS", csShiftJIS, "シフトJISの題名①"},
        {"euc-jp.html", "", "EUC-JP", csEUCJP, "EUCの題名"},
        {"iso-2022-jp.html", "", "ISO-2022-JP", csJIS, "JISの題名"},
        {"sjis-detected.html", "", "Shift_JIS", csShiftJIS, "宣言のないシフトJIS"},
        {"entities.html", "", "UTF-8", csUTF8, "A & B あ 😀 (c)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.header);
        std::string page;
        ASSERT_TRUE(ReadWholeFile(DataFile((std::string("charsets/") + c.file).c_str()), page));
        THTMLParser parser;
        parser.SetHeaderCharset(c.header);
        parser.LoadFromText(page);
        EXPECT_EQ(parser.Encoding(), c.encoding);
        EXPECT_EQ(parser.CharsetCode(), c.code);
        EXPECT_EQ(parser.Title(), c.title);
    }
}

TEST_F(PageFiles, LoadingTwiceReadsOnce) {
    fs::path file = Write("p.html", "<head><title>old</title></head>");
    THTMLParser parser;
    ASSERT_TRUE(parser.LoadFromFile(file));
    Write("p.html", "<head><title>new</title></head>");
    ASSERT_TRUE(parser.LoadFromFile(file));
    EXPECT_EQ(parser.Title(), "old");

    // Another name reads again; coming back reads the file as it is now.
    ASSERT_TRUE(parser.LoadFromFile(Write("q.html", "<head><title>q</title></head>")));
    EXPECT_EQ(parser.Title(), "q");
    ASSERT_TRUE(parser.LoadFromFile(file));
    EXPECT_EQ(parser.Title(), "new");
}

TEST_F(PageFiles, UnreadableFileLeavesTheParserCleared) {
    THTMLParser parser;
    ASSERT_TRUE(parser.LoadFromFile(DataFile("page-sjis.html")));
    int error = 0;
    EXPECT_FALSE(parser.LoadFromFile(dir_ / "missing.html", &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_TRUE(parser.FileName().empty());
    EXPECT_TRUE(parser.Data().empty());
    EXPECT_TRUE(parser.Title().empty());
    EXPECT_TRUE(parser.Charset().empty());
    EXPECT_EQ(parser.CharsetCode(), csNone);
    EXPECT_EQ(parser.Count(), 0);
    THTMLTag tag;
    std::size_t pos = 0;
    EXPECT_FALSE(parser.FirstTag(pos, tag));

    // A folder is not a page either.
    EXPECT_FALSE(parser.LoadFromFile(dir_, &error));
    EXPECT_TRUE(parser.FileName().empty());
}

TEST_F(PageFiles, EmptyFileIsLatin1WithoutTitle) {
    THTMLParser parser;
    ASSERT_TRUE(parser.LoadFromFile(Write("empty.html", "")));
    EXPECT_EQ(parser.CharsetCode(), csLatin1);
    EXPECT_EQ(parser.Charset(), "ISO-8859-1");
    EXPECT_EQ(parser.Title(), "");
}

TEST_F(PageFiles, UndecidedCodeReadsTheTitleAsShiftJis) {
    // "\xA4\xA2\xA4\xA4" reads as EUC-JP and as Shift-JIS alike.
    THTMLParser parser;
    ASSERT_TRUE(
        parser.LoadFromFile(Write("u.html", "<head><title>\xA4\xA2\xA4\xA4</title></head>")));
    EXPECT_EQ(parser.CharsetCode(), csNone);
    EXPECT_EQ(parser.Charset(), "");
    EXPECT_EQ(parser.Title(), "､｢､､");
}

TEST(PageTitle, LoadFromTextCleansTheTitleToo) {
    THTMLParser parser;
    std::string page = "<head><title>A &amp;\r\n B</title></head>";
    parser.LoadFromText(page);
    EXPECT_EQ(parser.Title(), "A & B");
    // The same text again changes nothing.
    parser.LoadFromText(page);
    EXPECT_EQ(parser.Count(), 3);
}

TEST(PageTitle, WalkOverData) {
    THTMLParser parser;
    parser.LoadFromText("<p>a<a href=x>b</a>");
    THTMLTag tag;
    std::size_t pos = 99;
    std::string joined;
    for (bool more = parser.FirstTag(pos, tag); more; more = parser.NextTag(pos, tag))
        joined += tag.Text();
    EXPECT_EQ(joined, parser.Data());
    EXPECT_EQ(pos, parser.Data().size());
}

} // namespace
} // namespace tarnhold
