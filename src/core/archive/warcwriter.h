// Writing web archives: WARC/1.1 records, each its own gzip member so that
// readers can seek to any of them, onto an output that counts what it wrote;
// and the pieces a record is made of (digests, dates, the target URI, the
// HTTP head as it goes into the record, the SURT key of the index).
#pragma once

#include "platform/error.h"
#include "platform/filetime.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

// Where archive bytes go: a file, or an entry of a ZIP file.
class TArchiveOutput {
public:
    virtual ~TArchiveOutput() = default;
    // False when the bytes could not be written (Error() says why).
    virtual bool Write(std::string_view data) = 0;
    virtual TError Error() const = 0;
};

// SHA-1 and SHA-256 over bytes fed in pieces.
class TSha1 {
public:
    TSha1();
    ~TSha1();
    TSha1(const TSha1&) = delete;
    TSha1& operator=(const TSha1&) = delete;
    void Update(std::string_view data);
    // The 20-byte digest; the hash starts again.
    std::string Digest();
    void Reset();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;
    void Update(std::string_view data);
    // The 32-byte digest; the hash starts again.
    std::string Digest();

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

// RFC 4648 base32 (upper case, padded), as WARC digests write SHA-1.
std::string Base32(std::string_view bytes);
// Lower-case hexadecimal.
std::string HexText(std::string_view bytes);
// "sha1:<base32>" of a 20-byte digest.
std::string WarcSha1(std::string_view digest);

// A new record ID: "<urn:uuid:...>" with a random (version 4) UUID.
std::string NewWarcRecordId();
// "2026-12-07T10:00:00Z" (WARC-Date) and "20261207100000" (index keys) of a
// UTC time.
std::string WarcDate(const FILETIME& utc);
std::string WarcTimestamp(const FILETIME& utc);

// A URL as a WARC field takes it: every byte outside printable ASCII, the
// blank and the characters no URI holds ("<>\"\\^`{|}") percent-encoded;
// what is already a percent escape stays. A URL from a cache is in the bytes
// the browser requested, so this is the URI it sent.
std::string EncodeTargetUri(std::string_view url);

// The SURT key of a URI as web archive indexes sort by it: lower case, the
// scheme and a leading "www." dropped, the host's labels reversed and joined
// by ",", the port, ")", the path and the query with its parameters sorted
// ("http://www.Example.com:8080/a?b=2&a=1" -> "com,example:8080)/a?a=1&b=2").
std::string SurtKey(std::string_view uri);

// The stored response head of an entry split into its status line and
// header lines, as a record's HTTP head is made from it.
struct THttpHead {
    std::string StatusLine; // "HTTP/1.1 200 OK"
    int Status = 200;
    std::vector<std::pair<std::string, std::string>> Fields; // name, value
    // The value of the first field of that name (ignoring case), or empty.
    std::string Value(std::string_view name) const;
    bool Has(std::string_view name) const;
    void Remove(std::string_view name);
    void Set(std::string_view name, std::string_view value);
    // Status line and fields joined by CR LF, ended by an empty line.
    std::string Text() const;
};

// Reads a stored head (lines separated by CR LF, CR or LF). A missing or
// unreadable status line becomes "HTTP/1.1 200 OK"; lines that are no field
// ("name: value" with a name of token characters) are left out, and control
// characters in values become blanks, so that every reader parses the head.
THttpHead ParseStoredHead(std::string_view stored);

// The media type of a Content-Type value, lower case, without parameters.
std::string MediaTypeOf(std::string_view contentType);

// Writes WARC records, each compressed as one gzip member, to an output, and
// knows where each lies (offset and length in the compressed file).
class TWarcWriter {
public:
    explicit TWarcWriter(TArchiveOutput& out);
    ~TWarcWriter();
    TWarcWriter(const TWarcWriter&) = delete;
    TWarcWriter& operator=(const TWarcWriter&) = delete;

    // Starts a record: fields are its named fields but for WARC-Date,
    // WARC-Record-ID and Content-Length, which come first and are given
    // (blockLength: the block's exact length). store: the block is already
    // compressed (an image, a gzip body), so it is stored in the member, not
    // compressed again.
    bool Begin(std::string_view type, std::string_view recordId, std::string_view date,
               const std::vector<std::pair<std::string, std::string>>& fields,
               std::uint64_t blockLength, bool store);
    // The block, in pieces; exactly blockLength bytes in all.
    bool Block(std::string_view piece);
    // Ends the record; false when the block was not as long as announced or
    // the output failed.
    bool End();

    // Where the last finished record starts and how long it is, compressed.
    std::uint64_t RecordOffset() const { return recordOffset_; }
    std::uint64_t RecordLength() const { return recordLength_; }
    // Bytes written in all, and their SHA-256 (ends the hash).
    std::uint64_t Written() const { return written_; }
    std::string Sha256() { return sha256_.Digest(); }
    TError Error() const;

private:
    bool Deflate(std::string_view data, int flush);

    TArchiveOutput& out_;
    struct TZ;
    std::unique_ptr<TZ> z_;
    std::string buffer_;
    TSha256 sha256_;
    std::uint64_t written_ = 0;
    std::uint64_t recordOffset_ = 0;
    std::uint64_t recordLength_ = 0;
    std::uint64_t blockLeft_ = 0;
    bool open_ = false;
    TError error_;
};

} // namespace tarnhold
