#include "sources/cachebody.h"
#include "support/cache_test_helpers.h"

#include <algorithm>
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

TEST(CacheBody, DecodesWhateverSizeOfPiecesTheDataComesIn) {
    // Streams are decoded as the file's pieces arrive: a piece may end
    // anywhere, also inside the two bytes that tell a zlib stream from raw
    // deflate and between two gzip members.
    const std::string page = SamplePage();
    const std::string twoMembers = EncodeBody("gzip", page) + EncodeBody("gzip", "<p>more</p>");
    struct {
        const char* Name;
        const char* Header;
        std::string Data;
        std::string Want;
    } cases[] = {
        {"gzip", "gzip", EncodeBody("gzip", page), page},
        {"two gzip members", "gzip", twoMembers, page + "<p>more</p>"},
        {"a member and zeros after it", "gzip", EncodeBody("gzip", page) + std::string(9, '\0'),
         page},
        {"zlib", "deflate", EncodeBody("zlib", page), page},
        {"raw deflate", "deflate", EncodeBody("rawdeflate", page), page},
        {"br", "br", EncodeBody("br", page), page},
        {"two zstd frames", "zstd", EncodeBody("zstd", page) + EncodeBody("zstd", "!"), page + "!"},
        {"stacked", "gzip, zstd, br",
         EncodeBody("br", EncodeBody("zstd", EncodeBody("gzip", page))), page},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{1000},
                                  std::size_t{1} << 16}) {
            std::string out;
            EXPECT_TRUE(DecodeContent(c.Header, c.Data, out, ~std::uint64_t{0}, piece))
                << c.Name << ", pieces of " << piece;
            EXPECT_EQ(out, c.Want) << c.Name << ", pieces of " << piece;
        }
    }
}

// Counts what a streamed read delivers, without keeping it.
struct TCountingSink : TBodySink {
    bool Write(std::string_view piece) override {
        Bytes += piece.size();
        Largest = std::max(Largest, piece.size());
        return true;
    }
    bool Restart() override {
        BeforeRestart = Bytes;
        Bytes = 0;
        ++Restarts;
        return true;
    }
    std::uint64_t Bytes = 0;
    std::uint64_t BeforeRestart = 0;
    std::size_t Largest = 0;
    int Restarts = 0;
};

TEST(CacheBody, StackedAndHugeBombsAreReadAsStoredInBoundedMemory) {
    // Bombs made from a few bytes: encodings of zeros stacked on each other,
    // and gzip members of zeros one after the other, which deflate's own
    // ratio lets through and only the limit on the decoded size stops.
    const std::string zeros(64u << 20, '\0');
    const std::string gz = EncodeBody("gzip", zeros);
    std::string members;
    const std::string member = EncodeBody("gzip", std::string(16u << 20, '\0'));
    while (members.size() / member.size() * (16u << 20) <= kMaxDecodedBody)
        members += member;
    struct {
        const char* Name;
        const char* Header;
        std::string Stored;
    } cases[] = {
        {"gzip, gzip", "gzip, gzip", EncodeBody("gzip", gz)},
        {"gzip, br", "gzip, br", EncodeBody("br", gz)},
        {"gzip, gzip, br", "gzip, gzip, br", EncodeBody("br", EncodeBody("gzip", gz))},
        {"zstd", "zstd", EncodeBody("zstd", zeros)},
        {"gzip past the largest body", "gzip", members},
    };
    test::TTempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_FALSE(c.Stored.empty());
        const std::string file = (dir.Path() / "bomb").string();
        test::WriteFileBytes(file, "HEAD" + c.Stored);
        TCachedBody entry;
        entry.LocalFileName = file;
        entry.BodyOffset = 4;
        entry.BodyLength = static_cast<std::int64_t>(c.Stored.size());
        entry.ContentEncoding = c.Header;

        TCountingSink sink;
        TBodyRead read;
        ASSERT_OK(StreamCacheBody(entry, sink, &read));
        EXPECT_TRUE(read.StoredAsIs);
        EXPECT_TRUE(read.OverLimit);
        EXPECT_TRUE(read.Complete);
        EXPECT_EQ(sink.Bytes, c.Stored.size()) << "what is stored, after the decoded start";
        EXPECT_EQ(read.Bytes, c.Stored.size());
        EXPECT_EQ(sink.Restarts, 1);
        EXPECT_LE(sink.BeforeRestart, DecodedLimitFor(c.Stored.size()));
        EXPECT_LE(sink.Largest, std::size_t{64} << 10) << "delivered in pieces, never whole";

        std::string out;
        if (c.Stored != members) { // decoding a gigabyte once is enough
            EXPECT_FALSE(DecodeContent(c.Header, c.Stored, out));
        }
        ASSERT_OK(ReadCacheBody(entry, out, 1000, &read));
        EXPECT_EQ(out, std::string(1000, '\0')) << "its start, when only that is asked for";
        EXPECT_FALSE(read.StoredAsIs);
    }
    EXPECT_EQ(DecodedLimitFor(0), kMinDecodedLimit);
    EXPECT_EQ(DecodedLimitFor(1u << 15), kDecodedRatioLimit << 15);
    EXPECT_EQ(DecodedLimitFor(~std::uint64_t{0}), kMaxDecodedBody);
}

TEST(CacheBody, StopsADecompressionBomb) {
    // 32 MiB of zeros shrink to a few hundred bytes with brotli and zstd: far
    // past the ratio limit (deflate cannot go past it by its own design).
    const std::string zeros(64u << 20, '\0');
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

    TCachedBody entry;
    entry.LocalFileName = file;
    entry.BodyOffset = 6;
    entry.BodyLength = static_cast<std::int64_t>(gz.size());
    entry.ContentEncoding = "gzip";
    EXPECT_FALSE(IsPlainCacheBody(entry));

    std::string out;
    TBodyRead read;
    ASSERT_OK(ReadCacheBody(entry, out, kMinDecodedLimit, &read));
    EXPECT_FALSE(read.StoredAsIs);
    EXPECT_EQ(out, page);

    // Not encoded: the slice as it is, up to the limit.
    entry.ContentEncoding.clear();
    ASSERT_OK(ReadCacheBody(entry, out, 4, &read));
    EXPECT_EQ(out, gz.substr(0, 4));

    // Damaged: as stored, and the caller is told.
    entry.ContentEncoding = "br";
    ASSERT_OK(ReadCacheBody(entry, out, kMinDecodedLimit, &read));
    EXPECT_TRUE(read.StoredAsIs);
    EXPECT_FALSE(read.OverLimit);
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
    TCachedBody entry;
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
