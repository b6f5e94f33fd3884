// CRC-32 of query strings (local names of URLs with a query): polynomial
// 0x04C11DB7, most significant bit first, no reflection, no final XOR.
// Check values: "abc" -> 2c17398c, "123456789" -> 89a1897f.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarnhold {

using TCrc32Table = std::array<std::uint32_t, 256>;

TCrc32Table MakeCrc32Table();
std::uint32_t ComputeCrc32(const TCrc32Table& table, std::uint32_t crc, const void* data,
                           std::size_t length);
// With a table built once for the process; start value 0.
std::uint32_t ComputeCrc32(std::string_view data);

} // namespace tarnhold
