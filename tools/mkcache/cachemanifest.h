// The manifest of a cache to write: plain text, one block per entry. The
// format is described at the top of samples/cache.manifest and in
// docs/mkcache.md.
//
//   # comment
//   entry http://www.example.test/index.html
//     file      site/www/index.html        (relative to the manifest's folder)
//     type      NORMAL | STICKY             (names or hex, joined with |)
//     modified  2012-10-22T06:45:00Z        (UTC, or 0 for none)
//     ext       htm
//     header    HTTP/1.1 200 OK             (one line, CR LF appended)
//     header                                (an empty line)
//     headers   ~U:user\r\n                 (escaped text, appended as it is)
//
// Values may use the escapes \\ \r \n \t \xHH.
#pragma once

#include "platform/error.h"
#include "platform/filetime.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

struct TManifestEntry {
    int Line = 0; // where the entry starts, for messages
    std::string Url;
    std::filesystem::path Content; // the content file; empty for none
    std::string FileName;          // the cached file's name; empty = made from the URL
    int DirIndex = -1;             // cache folder; -1 = the writer chooses
    std::uint32_t EntryType = 0x00000001;
    FILETIME LastModified;            // UTC; zero = none
    std::optional<FILETIME> Accessed; // download time; default: the modified time
    FILETIME Expires;
    std::string Headers;
    std::string Extension;             // without the dot; empty = none
    std::optional<std::uint64_t> Size; // default: the content file's size
};

// Parses a manifest. Relative content paths are taken from baseDir. On a
// syntax error, the error (EINVAL) says "line N: what".
[[nodiscard]] TError ParseCacheManifest(std::string_view text, const std::filesystem::path& baseDir,
                                        std::vector<TManifestEntry>& entries);

// "2012-10-22T06:45:00Z" (or with a space for T, Z optional) as a UTC
// FILETIME; "0" is the zero time.
bool ParseUtcTime(std::string_view text, FILETIME& ft);
// "NORMAL | STICKY", "0x41", ... as entry-type flags.
bool ParseEntryType(std::string_view text, std::uint32_t& type);
// Resolves \\ \r \n \t \xHH; false for a malformed escape.
bool UnescapeManifestText(std::string_view text, std::string& out);

} // namespace tarnhold
