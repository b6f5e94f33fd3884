// The one way the program reads the body of a cached entry: the whole cached
// file, or the slice of a browser's entry file that holds the body, decoded
// from the Content-Encoding it was stored with.
#pragma once

#include "cache/webcacheentry.h"
#include "platform/error.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

namespace tarnhold {

// At most this many decoded bytes come out of each stored byte (a little more
// than deflate's best ratio), with kMinDecodedLimit as the floor: a body that
// would grow further is taken as damaged or hostile and kept as stored.
constexpr std::uint64_t kDecodedRatioLimit = 1100;
constexpr std::uint64_t kMinDecodedLimit = 16u << 20;

// True when the entry's body can be read as the whole cached file, as is: no
// slice of a larger file, no encoding to undo.
bool IsPlainCacheBody(const TWebCacheEntryInfo& entry);

// Reads the entry's body into out: at most limit bytes of the decoded body
// (a longer body is cut there, which is no failure). Only regular files are
// read. A body whose encoding is unknown or fails to decode comes back as
// stored, and *storedAsIs (when given) tells the caller so it can warn; it is
// false otherwise. enough, when given, is asked after each piece of a plain
// body and ends the read when it says so. Fails when the file cannot be read
// or no longer holds the slice the entry names.
[[nodiscard]] TError ReadCacheBody(const TWebCacheEntryInfo& entry, std::string& out,
                                   std::uint64_t limit = std::numeric_limits<std::uint64_t>::max(),
                                   bool* storedAsIs = nullptr,
                                   const std::function<bool(std::string_view)>& enough = {});

// Undoes the Content-Encoding list encoding (the codings named last were
// applied last) on data into out, writing at most limit bytes (more is cut,
// which is no failure). Knows gzip, x-gzip, deflate (zlib or raw), br and
// zstd; "identity" and empty names are skipped. False, with out empty, when
// a coding is unknown, the data is damaged, or it would grow past the ratio
// limit above.
bool DecodeContent(std::string_view encoding, std::string_view data, std::string& out,
                   std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());

} // namespace tarnhold
