// What tarnhold-cli writes: standard output through a buffer that remembers a
// failed write, text with its control characters escaped, and the rows of a
// listing in the display format, as JSON Lines or as TSV.
#pragma once

#include "platform/filetime.h"

#include <cstdint>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold::cli {

// A stream buffer over a file descriptor that keeps the errno value of the
// first failed write; once a write failed, the rest is dropped.
class TFdStreamBuf : public std::streambuf {
public:
    explicit TFdStreamBuf(int fd);
    ~TFdStreamBuf() override;
    TFdStreamBuf(const TFdStreamBuf&) = delete;
    TFdStreamBuf& operator=(const TFdStreamBuf&) = delete;

    // 0 while every write succeeded.
    int Error() const { return error_; }

protected:
    int_type overflow(int_type ch) override;
    int sync() override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;

private:
    bool Drain();
    int fd_;
    int error_ = 0;
    std::vector<char> buffer_;
};

// UTF-8 text made safe for a terminal: TAB, LF and CR as \t, \n and \r, other
// C0 controls, DEL and the C1 controls (U+0080-U+009F) as \xNN; bytes that
// are not UTF-8 as \xNN too. Everything else, backslashes included, stays.
std::string EscapeForTerminal(std::string_view utf8);
// The same for Shift-JIS bytes (--raw): C0 controls and DEL only, since the
// bytes 0x80-0x9F lead double-byte characters there.
std::string EscapeAnsiForTerminal(std::string_view ansi);
// A field of a TSV row: backslash, TAB, LF and CR as \\, \t, \n and \r, and
// the other controls as EscapeForTerminal writes them.
std::string EscapeTsvField(std::string_view utf8);
// A JSON string literal (quotes included) of UTF-8 text; controls (C1 too)
// as \u escapes, bytes that are not UTF-8 as U+FFFD.
std::string JsonString(std::string_view utf8);

// A local time as ISO 8601 with the zone's offset at that moment
// ("2012-10-28T16:19:02+09:00"); empty for a zero or impossible time.
std::string IsoTime(const SYSTEMTIME& local);

// One field of a listing row.
struct TValue {
    enum TKind { vkNull, vkText, vkNumber, vkBool };
    TKind Kind = vkNull;
    std::string Text; // UTF-8
    std::uint64_t Number = 0;
    bool Flag = false;

    static TValue Null() { return {}; }
    static TValue Utf8(std::string_view text);
    // ANSI (CP932) text, as the cache holds it.
    static TValue Ansi(std::string_view text);
    static TValue Count(std::uint64_t n);
    static TValue Bool(bool b);
    // ISO 8601, or null for a zero time.
    static TValue Time(const SYSTEMTIME& local);
};

enum class TOutputFormat { ofHuman, ofJson, ofTsv };

} // namespace tarnhold::cli
