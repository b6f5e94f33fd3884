#include "platform/appfolder.h"
#include "platform/files.h"
#include "support/memorycachesource.h"
#include "support/testfiles.h"
#include "tree/webcache.h"
#include "tree/webcachetree.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

TRawCacheEntry Raw(std::string url, std::uint32_t type = NORMAL_CACHE_ENTRY,
                   std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n") {
    TRawCacheEntry e;
    e.Url = std::move(url);
    e.EntryType = type;
    e.HeaderBlock = std::move(headers);
    e.Size = 100;
    // 2026-12-07 07:05:09 UTC
    SYSTEMTIME st{2026, 12, 1, 7, 7, 5, 9, 0};
    SystemTimeToFileTime(st, e.LastModified);
    return e;
}

std::vector<std::string> Urls(TWebCache& cache) {
    std::vector<std::string> urls;
    TWebCacheEntryInfo info;
    if (cache.FindFirst(info)) {
        do {
            urls.push_back(info.Url);
        } while (cache.FindNext(info));
    }
    cache.FindClose();
    return urls;
}

TEST(WebCacheEnumeration, EmptyCacheGivesNothing) {
    TWebCache none;
    TWebCacheEntryInfo info;
    EXPECT_FALSE(none.FindFirst(info));
    EXPECT_EQ(none.Count(), 0);
    EXPECT_FALSE(none.FindNext(info));

    TWebCache empty(std::make_unique<TMemoryCacheSource>());
    EXPECT_FALSE(empty.FindFirst(info));
    EXPECT_EQ(empty.Count(), 0);
    EXPECT_FALSE(empty.FindNext(info)) << "the failed FindFirst closed the enumeration";
}

TEST(WebCacheEnumeration, CookiesHistoryAndUnknownSchemesNeverReachCallers) {
    auto source = std::make_unique<TMemoryCacheSource>();
    source->Add(Raw("Cookie:user@host.test/", 0x00100001));
    source->Add(Raw("http://host.test/a.html"));
    source->Add(Raw("http://host.test/cookie-flagged.txt", COOKIE_CACHE_ENTRY | 1));
    source->Add(Raw("http://host.test/visited.html", URLHISTORY_CACHE_ENTRY | 1));
    source->Add(Raw("Visited: user@http://host.test/", 0x00200001));
    source->Add(Raw("HTTPS://host.test/b.html"));
    source->Add(Raw("ftp://files.test/x.csv"));
    source->Add(Raw("file:///D:/archive/offline.html"));
    source->Add(Raw("iecompat:something"));
    source->Add(Raw("no-scheme-at-all"));
    source->Add(Raw(":nothing"));
    TWebCache cache(std::move(source));
    std::vector<std::string> expected{"http://host.test/a.html", "HTTPS://host.test/b.html",
                                      "ftp://files.test/x.csv", "file:///D:/archive/offline.html"};
    EXPECT_EQ(Urls(cache), expected) << "the first entry was a cookie; FindFirst skips it";
    EXPECT_EQ(cache.Count(), 4);
}

TEST(WebCacheEnumeration, FindFirstRestartsAndFindNextAfterEndStaysFalse) {
    auto source = std::make_unique<TMemoryCacheSource>();
    source->Add(Raw("http://h/1"));
    source->Add(Raw("http://h/2"));
    TWebCache cache(std::move(source));
    TWebCacheEntryInfo info;
    ASSERT_TRUE(cache.FindFirst(info));
    ASSERT_TRUE(cache.FindNext(info));
    EXPECT_FALSE(cache.FindNext(info));
    EXPECT_FALSE(cache.FindNext(info));
    ASSERT_TRUE(cache.FindFirst(info));
    EXPECT_EQ(info.Url, "http://h/1");
    cache.FindClose();
    cache.FindClose();
    EXPECT_FALSE(cache.FindNext(info));
}

TEST(WebCacheEnumeration, CountingLeavesARunningEnumerationWhereItStood) {
    auto source = std::make_unique<TMemoryCacheSource>();
    source->Add(Raw("http://h/1"));
    source->Add(Raw("Cookie:user@h/", COOKIE_CACHE_ENTRY | 1)); // read, not delivered
    source->Add(Raw("http://h/2"));
    source->Add(Raw("http://h/3"));
    TWebCache cache(std::move(source));
    TWebCacheEntryInfo info;
    ASSERT_TRUE(cache.FindFirst(info));
    ASSERT_TRUE(cache.FindNext(info));
    EXPECT_EQ(info.Url, "http://h/2");
    EXPECT_EQ(cache.Count(), 3);
    ASSERT_TRUE(cache.FindNext(info)) << "counting ended the enumeration";
    EXPECT_EQ(info.Url, "http://h/3");
    EXPECT_EQ(cache.Count(), 3);
    EXPECT_FALSE(cache.FindNext(info)) << "an enumeration at its end stays there";
}

TEST(WebCacheRecord, FieldsAreConvertedToLocalTimeAndLowSize) {
    auto source = std::make_unique<TMemoryCacheSource>();
    TRawCacheEntry e = Raw("http://h/a.html");
    e.Size = 0x100000005ULL; // above 4 GiB: only the low 32 bits are kept
    e.FileExtension = "html";
    e.LocalFileName = "/nonexistent/a[1].htm";
    std::string big(9000, 'x');
    e.HeaderBlock = "HTTP/1.1 200 OK\r\nX-Big: " + big + "\r\nContent-Type: text/html\r\n";
    source->Add(e);
    TWebCache cache(std::move(source));
    TWebCacheEntryInfo info;
    ASSERT_TRUE(cache.FindFirst(info));
    EXPECT_EQ(info.Size, 5u);
    EXPECT_EQ(info.FileExtension, "html");
    EXPECT_EQ(info.LocalFileName, "/nonexistent/a[1].htm");
    // TZ=Asia/Tokyo: 07:05:09 UTC is 16:05:09 local.
    EXPECT_EQ(info.LastModified.wYear, 2026);
    EXPECT_EQ(info.LastModified.wHour, 16);
    EXPECT_EQ(info.LastModified.wMinute, 5);
    EXPECT_EQ(info.LastModified.wSecond, 9);
    EXPECT_EQ(info.HeaderInfo.Values("x-big"), big) << "a big header block arrives whole";
    EXPECT_EQ(info.HeaderInfo.Values("Content-Type"), "text/html");
}

TEST(WebCacheRecord, ZeroTimeFallsBackToTheCachedFileInLocalTime) {
    auto dir = CreateTempFolder();
    auto file = dir / "status[0].htm";
    ASSERT_TRUE(WriteTestFile(file, "<html></html>"));
    SYSTEMTIME st{2020, 2, 0, 29, 23, 30, 0, 0}; // UTC
    FILETIME utc;
    ASSERT_TRUE(SystemTimeToFileTime(st, utc));
    ASSERT_TRUE(SetFileTimeUtc(file, utc));

    auto source = std::make_unique<TMemoryCacheSource>();
    TRawCacheEntry e = Raw("http://h/status.html");
    e.LastModified = FILETIME{};
    e.LocalFileName = file;
    source->Add(e);
    TRawCacheEntry missing = Raw("http://h/missing.html");
    missing.LastModified = FILETIME{};
    missing.LocalFileName = dir / "missing";
    source->Add(missing);
    TWebCache cache(std::move(source));

    TWebCacheEntryInfo info;
    ASSERT_TRUE(cache.FindFirst(info));
    EXPECT_EQ(info.LastModified.wYear, 2020);
    EXPECT_EQ(info.LastModified.wMonth, 3);
    EXPECT_EQ(info.LastModified.wDay, 1);
    EXPECT_EQ(info.LastModified.wHour, 8);
    ASSERT_TRUE(cache.FindNext(info));
    EXPECT_EQ(info.LastModified.wYear, 1601) << "no file, no time: the start of the scale";
    EXPECT_EQ(info.LastModified.wMonth, 1);
    EXPECT_EQ(info.LastModified.wDay, 1);
    DeleteFolder(dir);
}

TEST(WebCacheDelete, DeletesThroughTheSource) {
    auto source = std::make_unique<TMemoryCacheSource>();
    source->Add(Raw("http://h/1"));
    source->Add(Raw("http://h/2"));
    TWebCache cache(std::move(source));
    EXPECT_TRUE(cache.DeleteEntry("http://h/1").Ok());
    EXPECT_EQ(cache.DeleteEntry("http://h/1").Code(), ENOENT);
    EXPECT_FALSE(cache.DeleteEntry("").Ok());
    EXPECT_EQ(Urls(cache), std::vector<std::string>{"http://h/2"});
    TWebCache none;
    EXPECT_FALSE(none.DeleteEntry("http://h/2").Ok());
}

TEST(WebCacheHeaderInfo, ValuesMatchNamesIgnoringCaseAtTheFirstColon) {
    TWebCacheHeaderInfo h;
    h.SetText("HTTP/1.1 200 OK\r\n Content-Type\t: text/html; charset=Shift_JIS \r\n"
              "Location: http://h/x:y\r\nContent-Type: second\r\n\r\n~U:user\r\n");
    EXPECT_EQ(h.Values("content-type"), "text/html; charset=Shift_JIS");
    EXPECT_EQ(h.Values("LOCATION"), "http://h/x:y");
    EXPECT_EQ(h.Values("HTTP/1.1 200 OK"), "") << "a line without ':' has no name";
    EXPECT_EQ(h.Values("Missing"), "");
    EXPECT_EQ(h.Values("~U"), "user");
    EXPECT_EQ(h.ValueView("Location"), "http://h/x:y");

    // The content type an entry is named by: the first Content-Type cut at
    // ';', trimmed, ASCII lower-cased (a Shift-JIS second byte kept).
    TWebCacheEntryInfo entry;
    entry.HeaderInfo = h;
    EXPECT_EQ(EntryContentType(entry), "text/html");
    const std::pair<const char*, const char*> types[] = {
        {"Content-Type:  IMAGE/GIF ", "image/gif"},
        {"Content-Type: Text/Plain;charset=x", "text/plain"},
        {"Content-Type: ;x", ""},
        {"Content-Type:", ""},
        {"Content-Type: A\x83\x41"
         "B ; q",
         "a\x83\x41"
         "b"},
        {"Content-Type: x\x81 ;", "x\x81"},
        {"X: y", ""},
    };
    for (const auto& [text, type] : types) {
        entry.HeaderInfo.SetText(text);
        EXPECT_EQ(EntryContentType(entry), type) << text;
    }
}

TEST(WebCacheHeaderInfo, SetValuesReplacesTheFirstMatchOrAppends) {
    TWebCacheHeaderInfo h;
    h.SetText("HTTP/1.1 200 OK\r\n  content-TYPE : a\r\nContent-Type: b");
    h.SetValues("Content-Type", "text/plain");
    EXPECT_EQ(h.Text(), "HTTP/1.1 200 OK\r\ncontent-TYPE: text/plain\r\nContent-Type: b");
    h.SetValues("X-New", "1");
    EXPECT_EQ(h.Lines(3), "X-New: 1");
    EXPECT_EQ(h.Count(), 4);

    TWebCacheHeaderInfo empty;
    empty.SetValues("Content-Type", "text/html");
    EXPECT_EQ(empty.Text(), "Content-Type: text/html");
}

TEST(WebCacheHeaderInfo, TextSplitsAtEveryKindOfLineBreak) {
    TWebCacheHeaderInfo h;
    h.SetText("a\rb\nc\r\nd\r\n");
    EXPECT_EQ(h.Count(), 4);
    EXPECT_EQ(h.Text(), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(h.Lines(2), "c");
    EXPECT_EQ(h.Lines(4), "");
    h.SetLines(0, "A");
    EXPECT_EQ(h.Text(), "A\r\nb\r\nc\r\nd");
    h.SetText("x\r\n\r\ny");
    EXPECT_EQ(h.Count(), 3) << "an empty line between headers stays a line";
    h.SetText("");
    EXPECT_EQ(h.Count(), 0);
}

} // namespace
} // namespace tarnhold
