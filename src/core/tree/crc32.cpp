#include "tree/crc32.h"

namespace tarnhold {

TCrc32Table MakeCrc32Table() {
    TCrc32Table table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t v = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 0x80000000u) != 0 ? (v << 1) ^ 0x04C11DB7u : v << 1;
        table[i] = v;
    }
    return table;
}

std::uint32_t ComputeCrc32(const TCrc32Table& table, std::uint32_t crc, const void* data,
                           std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < length; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ p[i]) & 0xFF];
    return crc;
}

std::uint32_t ComputeCrc32(std::string_view data) {
    static const TCrc32Table table = MakeCrc32Table();
    return ComputeCrc32(table, 0, data.data(), data.size());
}

} // namespace tarnhold
