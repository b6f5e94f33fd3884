// Stored bodies from anywhere, under any stack of codings: the first byte
// picks the Content-Encoding, the second the size of the pieces the data
// arrives in. What is decoded stays within the limit of the stored size, and
// does not depend on where the pieces end.
#include "sources/cachebody.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr const char* kEncodings[] = {
    "gzip",
    "deflate",
    "br",
    "zstd",
    "gzip, gzip",
    "gzip, br",
    "br, gzip",
    "zstd, gzip",
    "gzip, zstd, br",
    "x-gzip, identity",
    "deflate, br",
    "gzip, gzip, br",
    "unknown",
    "",
    "gzip,,br",
    "zstd, zstd",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnhold;
    if (size < 2 || size > (1u << 20))
        return 0;
    const char* encoding = kEncodings[data[0] % (sizeof kEncodings / sizeof kEncodings[0])];
    const std::size_t piece = 1 + data[1] % 97;
    const std::string_view stored(reinterpret_cast<const char*>(data) + 2, size - 2);

    std::string whole, pieces;
    const bool decoded = DecodeContent(encoding, stored, whole);
    if (whole.size() > DecodedLimitFor(stored.size()))
        std::abort();
    if (DecodeContent(encoding, stored, pieces, ~std::uint64_t{0}, piece) != decoded ||
        pieces != whole)
        std::abort();
    // Asked for its start only, a body gives just that.
    std::string start;
    if (DecodeContent(encoding, stored, start, 100) && start.size() > 100)
        std::abort();
    if (decoded && start != whole.substr(0, 100))
        std::abort();
    return 0;
}
