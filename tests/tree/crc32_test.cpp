#include "tree/crc32.h"

#include <gtest/gtest.h>
#include <string>

namespace tarnhold {
namespace {

TEST(Crc32, CheckValues) {
    EXPECT_EQ(ComputeCrc32("abc"), 0x2c17398cu);
    EXPECT_EQ(ComputeCrc32("123456789"), 0x89a1897fu);
    EXPECT_EQ(ComputeCrc32(""), 0u);
}

TEST(Crc32, Table) {
    const TCrc32Table table = MakeCrc32Table();
    EXPECT_EQ(table[0], 0u);
    EXPECT_EQ(table[1], 0x04C11DB7u);
    EXPECT_EQ(table[255], 0xB1F740B4u);
}

TEST(Crc32, UpdatesInPieces) {
    const TCrc32Table table = MakeCrc32Table();
    const std::string text = "?id=3&page=\x82\xa0";
    std::uint32_t crc = ComputeCrc32(table, 0, text.data(), 4);
    crc = ComputeCrc32(table, crc, text.data() + 4, text.size() - 4);
    EXPECT_EQ(crc, ComputeCrc32(text));
}

} // namespace
} // namespace tarnhold
