// The scanners of srcset values and style sheets, and the copy report's
// files: what a page or sheet may hold, read as a browser reads it.
#include "copy/copyreport.h"
#include "copy/cssrewrite.h"
#include "copy/srcset.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

std::vector<std::string> SrcsetTexts(std::string_view value) {
    std::vector<std::string> urls;
    for (const TTextSpan& span : SrcsetUrls(value))
        urls.emplace_back(value.substr(span.Offset, span.Length));
    return urls;
}

TEST(Srcset, FindsEachCandidateUrl) {
    struct Case {
        const char* name;
        std::string value;
        std::vector<std::string> urls;
    };
    const std::vector<Case> cases = {
        {"one url", "a.png", {"a.png"}},
        {"width descriptors", "a.png 480w, b.png 800w", {"a.png", "b.png"}},
        {"no blank after comma", "a.png 1x,b.png 2x", {"a.png", "b.png"}},
        {"line breaks between candidates", "\n  a.png 1x,\n  b.png 2x\n", {"a.png", "b.png"}},
        {"commas at the end of a url end the candidate", "a.png,, b.png 2x", {"a.png", "b.png"}},
        {"a comma inside a url is part of it", "a.png,b.png", {"a.png,b.png"}},
        {"data url keeps its comma",
         "data:image/png;base64,AAA= 1x, b.png 2x",
         {"data:image/png;base64,AAA=", "b.png"}},
        {"url with a comma inside", "a,b.png 1x", {"a,b.png"}},
        {"parenthesised descriptor with a comma", "a.png (x, y), b.png", {"a.png", "b.png"}},
        {"entities stay as written", "a.png?x=1&amp;y=2 1x", {"a.png?x=1&amp;y=2"}},
        {"empty", "", {}},
        {"only commas", " , ,", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SrcsetTexts(c.value), c.urls) << c.name;
}

struct TFound {
    std::string Written;
    std::string Value;
    TCssLinkKind Kind;
    bool operator==(const TFound&) const = default;
};

std::vector<TFound> Links(std::string_view css, bool sjis = false) {
    std::vector<TFound> found;
    for (const TCssLink& link : FindCssLinks(css, sjis))
        found.push_back(
            {std::string(css.substr(link.Span.Offset, link.Span.Length)), link.Value, link.Kind});
    return found;
}

constexpr auto U = TCssLinkKind::Url;
constexpr auto I = TCssLinkKind::Import;

TEST(CssLinks, FindsUrlsAndImportsAsABrowserReadsThem) {
    struct Case {
        const char* name;
        std::string css;
        std::vector<TFound> links;
    };
    const std::vector<Case> cases = {
        {"unquoted", "a{background:url(i.png)}", {{"i.png", "i.png", U}}},
        {"double quotes", "a{background:url(\"i.png\")}", {{"i.png", "i.png", U}}},
        {"single quotes", "a{background:url('i.png')}", {{"i.png", "i.png", U}}},
        {"blanks inside the parentheses", "a{b:url(  i.png  )}", {{"i.png", "i.png", U}}},
        {"capitals", "a{b:URL(i.png)}", {{"i.png", "i.png", U}}},
        {"minified, two in a row",
         "a{b:url(x.png)}b{c:url(y.png) no-repeat}",
         {{"x.png", "x.png", U}, {"y.png", "y.png", U}}},
        {"escaped parenthesis", "a{b:url(a\\(1\\).png)}", {{"a\\(1\\).png", "a(1).png", U}}},
        {"hex escape with its blank", "a{b:url(\\41 b.png)}", {{"\\41 b.png", "Ab.png", U}}},
        {"escaped quote in a string", "a{b:url(\"a\\\"b.png\")}", {{"a\\\"b.png", "a\"b.png", U}}},
        {"import with a string", "@import \"s.css\";", {{"s.css", "s.css", I}}},
        {"import with url and media", "@import url(s.css) screen;", {{"s.css", "s.css", I}}},
        {"import in capitals, single quotes", "@IMPORT 's.css';", {{"s.css", "s.css", I}}},
        {"string after an import is no link",
         "@import 'a.css'; a{content:'b.css'}",
         {{"a.css", "a.css", I}}},
        {"plain strings are no links", "a{content:\"x.png\";font-family:'f'}", {}},
        {"comments hide links", "/* url(x.png) */a{b:url(y.png)}", {{"y.png", "y.png", U}}},
        {"url inside a string is text", "a{content:\"url(x.png)\"}", {}},
        {"a name ending in url is no url", "a{b:myurl(x.png)}", {}},
        {"unquoted with a quote is dropped",
         "a{b:url(x'y.png)}c{d:url(z.png)}",
         {{"z.png", "z.png", U}}},
        {"unquoted with a blank inside is dropped", "a{b:url(x y.png)}", {}},
        {"empty url", "a{b:url()}", {}},
        {"image-set strings",
         "a{b:image-set(\"a.png\" 1x, url(b.png) 2x)}",
         {{"a.png", "a.png", U}, {"b.png", "b.png", U}}},
        {"font sources",
         "@font-face{src:url(f.woff2) format(\"woff2\"),url('f.woff')}",
         {{"f.woff2", "f.woff2", U}, {"f.woff", "f.woff", U}}},
        {"string cut by a line break is no link", "@import \"a.css\n\";", {}},
        {"cut off by the end", "a{b:url(x.png", {{"x.png", "x.png", U}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Links(c.css), c.links) << c.name;
}

TEST(CssLinks, ShiftJisTrailBytesAreNoBackslashes) {
    // 0x95 0x5C is one character whose second byte is "\".
    const std::string css = "a{b:url(\x95\x5C.png)}c{d:url(\"\x95\x5C\")}";
    const std::vector<TFound> sjis = {{"\x95\x5C.png", "\x95\x5C.png", U},
                                      {"\x95\x5C", "\x95\x5C", U}};
    EXPECT_EQ(Links(css, true), sjis);
    // Read as bytes, the "\" escapes the "." and the quote.
    EXPECT_NE(Links(css, false), sjis);
}

TEST(CssLinks, CharsetOfASheet) {
    struct Case {
        const char* name;
        std::string css;
        std::string contentType;
        TCssCharset charset;
    };
    const std::vector<Case> cases = {
        {"nothing said", "a{}", "text/css", TCssCharset::Undeclared},
        {"@charset Shift_JIS", "@charset \"Shift_JIS\";a{}", "text/css", TCssCharset::ShiftJis},
        {"@charset UTF-8", "@charset \"utf-8\";", "text/css", TCssCharset::Bytes},
        {"header wins over @charset", "@charset \"Shift_JIS\";", "text/css; charset=utf-8",
         TCssCharset::Bytes},
        {"header windows-31j", "a{}", "text/css;charset=\"Windows-31J\"", TCssCharset::ShiftJis},
        {"byte order mark wins", "\xEF\xBB\xBF@charset \"Shift_JIS\";", "text/css",
         TCssCharset::Bytes},
        {"UTF-16 is not scanned", "\xFF\xFE@\0c\0", "text/css", TCssCharset::Unsupported},
        {"@charset UTF-16", "@charset \"UTF-16LE\";", "text/css", TCssCharset::Unsupported},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StylesheetCharset(c.css, c.contentType), c.charset) << c.name;
    EXPECT_TRUE(LooksShiftJis("a{b:url(\x95\x5C\x82\xa0\x82\xa2.png)}"));
    EXPECT_FALSE(LooksShiftJis("a{b:url(\xe8\xa1\xa8.png)}")) << "valid UTF-8";
}

TEST(CssLinks, SafeLinkCannotBreakItsQuotesOrAttribute) {
    EXPECT_EQ(CssSafeLink("../a/b.png"), "../a/b.png");
    EXPECT_EQ(CssSafeLink("a b\"c'd(e)f\\g<h>&i\n"), "a%20b%22c%27d%28e%29f%5Cg%3Ch%3E%26i%0A");
}

TCopyReport HostileReport() {
    TCopyReport report;
    report.BeginPage("http://h/a.html", "http$3a/h/a.html");
    report.AddMissing("x.png?a=1&amp;b=\"<2>\"", "x~1.png");
    report.AddMissing("=HYPERLINK(\"http://evil\")", "%3DHYPERLINK");
    report.AddMissing("x.png?a=1&amp;b=\"<2>\"", "x~1.png");
    report.EndPage();
    report.BeginPage("http://h/ok.html", "http$3a/h/ok.html");
    report.EndPage();
    report.BeginPage("http://h/b.html", "http$3a/h/b.html");
    report.AddMissing("line\nbreak,comma", "line");
    report.EndPage();
    return report;
}

TEST(CopyReport, CountsPagesAndLinks) {
    const TCopyReport report = HostileReport();
    ASSERT_EQ(report.Pages().size(), 2u) << "a page without missing links is not listed";
    EXPECT_EQ(report.MissingLinks(), 4);
    EXPECT_EQ(report.IncompletePages(), 2);
    EXPECT_EQ(report.Pages()[0].Links[0].Count, 2) << "the same link twice is counted";

    // A page read again replaces what its first read found.
    TCopyReport again = HostileReport();
    again.BeginPage("http://h/a.html", "http$3a/h/a.html");
    again.AddMissing("y.png", "y.png");
    again.EndPage();
    EXPECT_EQ(again.MissingLinks(), 2);
}

TEST(CopyReport, HtmlAndCsvEscapeWhatThePagesHold) {
    const TCopyReport report = HostileReport();
    const std::string html = ReportHtml(report, "/tmp/<out>");
    EXPECT_EQ(html.find("<2>"), std::string::npos);
    EXPECT_NE(html.find("x.png?a=1&amp;amp;b=&quot;&lt;2&gt;&quot;"), std::string::npos) << html;
    EXPECT_NE(html.find("/tmp/&lt;out&gt;"), std::string::npos);
    EXPECT_NE(html.find("line\\x0Abreak"), std::string::npos) << "controls shown escaped";
    EXPECT_NE(html.find("4 links to documents the cache did not hold, on 2 pages"),
              std::string::npos);

    const std::string csv = ReportCsv(report);
    EXPECT_EQ(csv,
              "page,page_copy,link,points_to,count\r\n"
              "\"http://h/a.html\",\"http$3a/h/a.html\",\"x.png?a=1&amp;b=\"\"<2>\"\"\","
              "\"x~1.png\",2\r\n"
              "\"http://h/a.html\",\"http$3a/h/a.html\",\"'=HYPERLINK(\"\"http://evil\"\")\","
              "\"%3DHYPERLINK\",1\r\n"
              "\"http://h/b.html\",\"http$3a/h/b.html\",\"line\\x0Abreak,comma\",\"line\",1\r\n");
    EXPECT_EQ(ReportFormatOf("r.CSV"), TReportFormat::Csv);
    EXPECT_EQ(ReportFormatOf("r.htm"), TReportFormat::Html);
    EXPECT_EQ(ReportFormatOf("r.txt"), TReportFormat::Unknown);
}

} // namespace
} // namespace tarnhold
