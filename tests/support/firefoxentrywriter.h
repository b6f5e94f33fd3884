// Writes Firefox cache2 entry files for tests, benchmarks and fuzz corpora:
// body, metadata with its hashes, and the version-4 trailer, as Firefox
// writes them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tarnhold::test {

struct TFirefoxEntrySpec {
    std::string Key = ":http://h.test/";
    std::string Body;
    std::string ResponseHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
    std::vector<std::pair<std::string, std::string>> MoreElements; // after the head
    std::uint32_t FetchCount = 1;
    std::uint32_t LastFetched = 1796650602;
    std::uint32_t LastModified = 1796650602;
    std::uint32_t Expiration = 0xffffffff;
    bool Encrypted = false; // sets the trailer's flag only
};

// The bytes of one entry file.
std::string FirefoxEntryBytes(const TFirefoxEntrySpec& spec);
// The entry file's name in cache2/entries: the key's SHA-1 would be
// Firefox's; any 40 hex digits do for the reader, so a counter's serve.
std::string FirefoxEntryName(std::size_t n);
// Writes cache2/entries/<FirefoxEntryName(n)>; returns its path.
std::filesystem::path WriteFirefoxEntry(const std::filesystem::path& cache2, std::size_t n,
                                        const TFirefoxEntrySpec& spec);

} // namespace tarnhold::test
