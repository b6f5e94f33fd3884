#include "cache/cachebody.h"
#include "cache_test_helpers.h"

#include <gtest/gtest.h>

namespace tarnhold {
namespace {

using test::EncodeBody;

std::string SamplePage() {
    std::string page = "<html><head><title>T</title></head><body>";
    for (int i = 0; i < 400; ++i)
        page += "<p>line " + std::to_string(i) + " \x82\xa0\x82\xa2</p>\n";
    return page + "</body></html>";
}

struct TDecodeCase {
    const char* Name;
    const char* Header;  // the Content-Encoding as stored
    const char* Encoded; // how the body is encoded, innermost first ("" = none)
};

TEST(CacheBody, DecodesEveryCodingServersSend) {
    const std::string page = SamplePage();
    const TDecodeCase cases[] = {
        {"gzip", "gzip", "gzip"},
        {"x-gzip and case", " X-Gzip ", "gzip"},
        {"deflate as zlib", "deflate", "zlib"},
        {"deflate sent raw", "deflate", "rawdeflate"},
        {"brotli", "br", "br"},
        {"zstd", "zstd", "zstd"},
        {"identity", "identity", ""},
        {"two codings, last applied last", "gzip, br", "gzip,br"},
    };
    for (const TDecodeCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string data = page;
        std::string_view encoded = c.Encoded;
        while (!encoded.empty()) {
            std::size_t comma = encoded.find(',');
            data = EncodeBody(encoded.substr(0, comma), data);
            encoded = comma == std::string_view::npos ? "" : encoded.substr(comma + 1);
        }
        std::string out;
        ASSERT_TRUE(DecodeContent(c.Header, data, out));
        EXPECT_EQ(out, page);
        // A limit cuts the decoded body, and that is no failure.
        ASSERT_TRUE(DecodeContent(c.Header, data, out, 100));
        EXPECT_EQ(out, page.substr(0, 100));
    }
}

TEST(CacheBody, RefusesWhatItCannotDecode) {
    const std::string page = SamplePage();
    const std::string gz = EncodeBody("gzip", page);
    struct {
        const char* Name;
        const char* Header;
        std::string Data;
    } cases[] = {
        {"unknown coding", "dcb", gz},
        {"cut gzip", "gzip", gz.substr(0, gz.size() / 2)},
        {"garbage as br", "br", "not brotli at all"},
        {"garbage as zstd", "zstd", "\x28\xb5\x2f\xfd garbage"},
        {"cut zstd", "zstd", EncodeBody("zstd", page).substr(0, 20)},
        {"gzip named br", "br", gz},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string out = "left over";
        EXPECT_FALSE(DecodeContent(c.Header, c.Data, out));
        EXPECT_TRUE(out.empty());
    }
}

TEST(CacheBody, StopsADecompressionBomb) {
    // 32 MiB of zeros shrink to a few hundred bytes with brotli and zstd: far
    // past the ratio limit (deflate cannot go past it by its own design).
    const std::string zeros(32u << 20, '\0');
    for (const char* coding : {"br", "zstd"}) {
        SCOPED_TRACE(coding);
        std::string bomb = EncodeBody(coding, zeros);
        ASSERT_LT(bomb.size() * kDecodedRatioLimit, zeros.size());
        ASSERT_LT(kMinDecodedLimit, zeros.size());
        std::string out;
        EXPECT_FALSE(DecodeContent(coding, bomb, out));
        // Asked for its start only, it gives that.
        EXPECT_TRUE(DecodeContent(coding, bomb, out, 1000));
        EXPECT_EQ(out, std::string(1000, '\0'));
    }
}

TEST(CacheBody, ReadsTheSliceOfAnEntryFileAndDecodesIt) {
    test::TTempDir dir;
    const std::string page = SamplePage();
    const std::string gz = EncodeBody("gzip", page);
    const std::string file = (dir.Path() / "entry_0").string();
    test::WriteFileBytes(file, "HEADER" + gz + "TRAILER");

    TWebCacheEntryInfo entry;
    entry.LocalFileName = file;
    entry.BodyOffset = 6;
    entry.BodyLength = static_cast<std::int64_t>(gz.size());
    entry.ContentEncoding = "gzip";
    EXPECT_FALSE(IsPlainCacheBody(entry));

    std::string out;
    bool asStored = true;
    ASSERT_OK(ReadCacheBody(entry, out, kMinDecodedLimit, &asStored));
    EXPECT_FALSE(asStored);
    EXPECT_EQ(out, page);

    // Not encoded: the slice as it is, up to the limit.
    entry.ContentEncoding.clear();
    ASSERT_OK(ReadCacheBody(entry, out, 4, &asStored));
    EXPECT_EQ(out, gz.substr(0, 4));

    // Damaged: as stored, and the caller is told.
    entry.ContentEncoding = "br";
    ASSERT_OK(ReadCacheBody(entry, out, kMinDecodedLimit, &asStored));
    EXPECT_TRUE(asStored);
    EXPECT_EQ(out, gz);

    // A slice past the end of the file (the file changed) is an error.
    entry.BodyLength = static_cast<std::int64_t>(gz.size()) + 100;
    EXPECT_FALSE(ReadCacheBody(entry, out).Ok());
    EXPECT_TRUE(out.empty());
}

TEST(CacheBody, WholeFilesAndWhatIsNotOne) {
    test::TTempDir dir;
    const std::string file = (dir.Path() / "page.htm").string();
    test::WriteFileBytes(file, "<html>plain</html>");
    TWebCacheEntryInfo entry;
    entry.LocalFileName = file;
    EXPECT_TRUE(IsPlainCacheBody(entry));
    std::string out;
    ASSERT_OK(ReadCacheBody(entry, out));
    EXPECT_EQ(out, "<html>plain</html>");

    // A whole file stored gzip (an index.dat entry saved encoded).
    test::WriteFileBytes(file, EncodeBody("gzip", "<html>zipped</html>"));
    entry.ContentEncoding = "gzip";
    ASSERT_OK(ReadCacheBody(entry, out));
    EXPECT_EQ(out, "<html>zipped</html>");

    entry.LocalFileName = dir.Path().string(); // a folder is no body
    entry.BodyLength = 3;
    EXPECT_EQ(ReadCacheBody(entry, out).Code(), EISDIR);
    entry.LocalFileName.clear();
    EXPECT_FALSE(ReadCacheBody(entry, out).Ok());
}

} // namespace
} // namespace tarnhold
