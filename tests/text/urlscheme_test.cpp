#include "text/urlscheme.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

TEST(UrlScheme, RecognisedSchemesOnly) {
    EXPECT_EQ(CrackUrlScheme("http://h/"), usHttp);
    EXPECT_EQ(CrackUrlScheme("HTTPS://h/"), usHttps);
    EXPECT_EQ(CrackUrlScheme("ftp://h/x"), usFtp);
    EXPECT_EQ(CrackUrlScheme("file:///C:/x"), usFile);
    EXPECT_EQ(CrackUrlScheme("mailto:a@b"), usMailto);
    EXPECT_EQ(CrackUrlScheme("Cookie:user@host/"), usUnknown);
    EXPECT_EQ(CrackUrlScheme("Visited: user@http://h/"), usUnknown);
    EXPECT_EQ(CrackUrlScheme("www.host.test/index.html"), usUnknown);
    EXPECT_EQ(CrackUrlScheme(""), usUnknown);
}

TEST(UrlScheme, TheSchemePartAsTheTreeSplitsIt) {
    const struct {
        const char* url;
        std::size_t length;
        const char* rest;
    } cases[] = {
        {"http://h/a", 7, "h/a"},
        {"HTTPS://h/", 8, "h/"},
        {"file:///C:/x", 7, "/C:/x"},
        {"h/a/", 0, "h/a/"},
        {"mailto:a@b", 0, "mailto:a@b"},
        {"Visited: u@http://h/", 18, "h/"}, // the first "://", wherever it stands
        {"://h", 3, "h"},
        {"", 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SchemePrefixLength(c.url), c.length) << c.url;
        EXPECT_EQ(WithoutScheme(c.url), c.rest) << c.url;
    }
}

TEST(UrlScheme, ScriptsAndMailNameNoDocument) {
    const struct {
        const char* value;
        bool script;
    } cases[] = {
        {"javascript:void(0)", true}, {"JavaScript:x()", true}, {"mailto:a@b", true},
        {"MAILTO:a@b", true},         {"javascript", false},    {"mail:a@b", false},
        {" javascript:x", false},     {"page.html", false},     {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsScriptOrMail(c.value), c.script) << c.value;
}

struct CombineCase {
    const char* relative;
    const char* expected;
};

TEST(CombineUrl, ReferenceResolutionExamples) {
    // The normal and abnormal examples of RFC 3986, section 5.4.
    const char* base = "http://a/b/c/d;p?q";
    const CombineCase cases[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "http://g"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q#s"},
        {"g#s", "http://a/b/c/g#s"},
        {";x", "http://a/b/c/;x"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/../y", "http://a/b/c/y"},
        {"g?y/./x", "http://a/b/c/g?y/./x"},
        {"g#s/../x", "http://a/b/c/g#s/../x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CombineUrl(base, c.relative), c.expected) << c.relative;
}

TEST(CombineUrl, KeepsEveryByteAndFailsWithoutScheme) {
    EXPECT_EQ(CombineUrl("http://H/A/b.html", "C%7e d/\x83\x5c.html"),
              "http://H/A/C%7e d/\x83\x5c.html");
    EXPECT_EQ(CombineUrl("http://h", "x.html"), "http://h/x.html");
    EXPECT_EQ(CombineUrl("h/a/b.html", "x.html"), "");
    EXPECT_EQ(CombineUrl("h/a/b.html", "http://h/x"), "http://h/x");
    EXPECT_EQ(CombineUrl("http://h/a/", "javascript:void(0)"), "javascript:void(0)");
}

} // namespace
} // namespace tarnhold
