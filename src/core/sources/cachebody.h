// The one way the program reads the body of a cached entry: the whole cached
// file, or the slice of a browser's entry file that holds the body, decoded
// from the Content-Encoding it was stored with. Bodies are read and decoded
// as a stream, in pieces, so that no body, however large, is held whole
// unless the caller asks for that.
#pragma once

#include "platform/error.h"
#include "sources/cachesource.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <string_view>

namespace tarnhold {

// The most a stored body may decode to, for the whole stack of codings
// together (and for every stage of it): kDecodedRatioLimit decoded bytes per
// stored byte, never less than kMinDecodedLimit and never more than
// kMaxDecodedBody. Deflate alone reaches about 1,030 to 1; a body that would
// grow further (a stack of codings, brotli or zstd of nothing but zeros), or
// beyond kMaxDecodedBody, is taken as damaged or hostile and read as stored.
constexpr std::uint64_t kDecodedRatioLimit = 1100;
constexpr std::uint64_t kMinDecodedLimit = 16u << 20;
constexpr std::uint64_t kMaxDecodedBody = std::uint64_t{1} << 30;
// A Content-Encoding list longer than this is not decoded.
constexpr std::size_t kMaxCodings = 8;

std::uint64_t DecodedLimitFor(std::uint64_t storedSize);

// True when the entry's body can be read as the whole cached file, as is: no
// slice of a larger file, no encoding to undo.
bool IsPlainCacheBody(const TCachedBody& entry);

// Receives a body piece by piece, in order.
class TBodySink {
public:
    virtual ~TBodySink() = default;
    // False ends the read early: the sink has what it wants, or could not
    // take the piece (it keeps its own reason).
    virtual bool Write(std::string_view piece) = 0;
    // What Write received so far is void: a body whose decoding failed part
    // way is delivered again from its start, as stored. False when the sink
    // cannot start again; the read then fails.
    virtual bool Restart() = 0;
};

// What a streamed read delivered.
struct TBodyRead {
    // The encoding could not be undone (unknown, damaged, or past the
    // limits above): the stored bytes were delivered instead.
    bool StoredAsIs = false;
    // Of those: the decoded body would have passed DecodedLimitFor.
    bool OverLimit = false;
    // The whole body reached the sink (it did not stop the read).
    bool Complete = false;
    // The stored bytes, read to their end, do not fit the checksum the cache
    // keeps for them (the entry's BodyCheck): the body is damaged. Known only
    // when every stored byte was read.
    bool ChecksumFailed = false;
    // Bytes delivered since the last restart.
    std::uint64_t Bytes = 0;
};

// Streams the entry's body, decoded, to sink. Only regular files are read,
// and no more of them than the entry (or, for a whole file, its size when
// opened) says. Fails when the file cannot be read or no longer holds the
// slice the entry names; the sink may have received part of the body then.
[[nodiscard]] TError StreamCacheBody(const TCachedBody& entry, TBodySink& sink,
                                     TBodyRead* read = nullptr);

// Writes the entry's body, decoded, to the file open for writing at fd, as
// it is read (a body that must start again, as stored, starts the file
// again). 0, or the errno value of what went wrong; read (when given) says
// what was written.
int WriteCacheBody(const TCachedBody& entry, int fd, TBodyRead* read = nullptr);
// The same into a new file (never one that exists, never through a link);
// the file is removed again when the body cannot be written whole.
[[nodiscard]] TError WriteCacheBodyFile(const TCachedBody& entry,
                                        const std::filesystem::path& file);

// Reads the entry's body into out: at most limit bytes of the decoded body
// (a longer body is cut there, which is no failure). A body whose encoding
// cannot be undone comes back as stored, and read (when given) tells the
// caller so it can warn. enough, when given, is
// asked with all that was read so far after each piece and ends the read
// when it says so. Fails as StreamCacheBody does, with out empty.
[[nodiscard]] TError ReadCacheBody(const TCachedBody& entry, std::string& out,
                                   std::uint64_t limit = std::numeric_limits<std::uint64_t>::max(),
                                   TBodyRead* read = nullptr,
                                   const std::function<bool(std::string_view)>& enough = {});

// Undoes the Content-Encoding list encoding (the codings named last were
// applied last) on data into out, writing at most limit bytes (more is cut,
// which is no failure). Knows gzip, x-gzip, deflate (zlib or raw), br and
// zstd; "identity" and empty names are skipped. False, with out empty, when
// a coding is unknown, the data is damaged, or it would grow past
// DecodedLimitFor(data.size()). The data reaches the decoders in pieces of
// piece bytes, as a file's would (tests and fuzzing vary it).
bool DecodeContent(std::string_view encoding, std::string_view data, std::string& out,
                   std::uint64_t limit = std::numeric_limits<std::uint64_t>::max(),
                   std::size_t piece = 64 * 1024);

} // namespace tarnhold
