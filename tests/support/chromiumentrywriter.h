// Writes Chromium disk-cache entry files ("<16 hex>_0") for tests, benchmarks
// and fuzz corpora: header and key with its hash, the body, its end record
// with its checksum, the pickled response head with its checksum, the key's
// SHA-256 digest, the last end record, laid out as the browser writes them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tarnhold::test {

struct TChromiumEntrySpec {
    std::string Key = "1/0/_dk_http://h.test http://h.test http://h.test/";
    std::string Body;
    // Status line and headers, one per line (LF or CR LF); stored NUL-separated.
    std::string Head = "HTTP/1.1 200 OK\nContent-Type: text/html\n";
    // Microseconds since 1601-01-01 UTC (the browser's clock): 2026-12-07.
    std::int64_t ResponseTime = 13411756800000000;
    bool Truncated = false;
    bool KeySha256 = true; // the key's digest before the last end record, as browsers write now
    bool BodyCrc = true;   // the body's checksum in its end record
};

// The bytes of one entry file.
std::string ChromiumEntryBytes(const TChromiumEntrySpec& spec);
// The pickled response head (stream 0) of an entry, as every backend keeps it.
std::string ChromiumHeadPickle(const TChromiumEntrySpec& spec);
// An entry file name: the browser's is a hash of the key; any 16 hex digits
// do for the reader, so a counter's serve.
std::string ChromiumEntryName(std::size_t n);
// Writes <folder>/<ChromiumEntryName(n)>; returns its path.
std::filesystem::path WriteChromiumEntry(const std::filesystem::path& folder, std::size_t n,
                                         const TChromiumEntrySpec& spec);
// Writes the folder's "index" file that marks it as a Chromium cache.
void WriteChromiumIndex(const std::filesystem::path& folder);

} // namespace tarnhold::test
