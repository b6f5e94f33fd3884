#include "clioutput.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace tarnhold::cli {

TFdStreamBuf::TFdStreamBuf(int fd) : fd_(fd), buffer_(64 * 1024) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
}

TFdStreamBuf::~TFdStreamBuf() {
    Drain();
}

bool TFdStreamBuf::Drain() {
    const char* p = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    while (left > 0 && error_ == 0) {
        const ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return error_ == 0;
}

TFdStreamBuf::int_type TFdStreamBuf::overflow(int_type ch) {
    if (!Drain())
        return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return traits_type::not_eof(ch);
}

int TFdStreamBuf::sync() {
    return Drain() ? 0 : -1;
}

std::streamsize TFdStreamBuf::xsputn(const char* s, std::streamsize n) {
    if (error_ != 0)
        return 0;
    std::streamsize done = 0;
    while (done < n) {
        std::streamsize room = epptr() - pptr();
        if (room == 0) {
            if (!Drain())
                return done;
            room = epptr() - pptr();
        }
        const std::streamsize take = std::min(room, n - done);
        traits_type::copy(pptr(), s + done, static_cast<std::size_t>(take));
        pbump(static_cast<int>(take));
        done += take;
    }
    return done;
}

namespace {

bool IsControl(char32_t cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F);
}

void AppendHex(std::string& out, const char* format, unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, value);
    out += buf;
}

// Escapes controls and stray bytes; backslash itself only when asked.
std::string EscapeUtf8(std::string_view text, bool escapeBackslash) {
    // Most text is printable ASCII and stays as it is.
    const bool plain = std::all_of(text.begin(), text.end(), [escapeBackslash](char c) {
        return c >= 0x20 && c < 0x7F && (c != '\\' || !escapeBackslash);
    });
    if (plain)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = Utf8SequenceLength(text, i, &cp);
        if (len == 0) {
            AppendHex(out, "\\x%02x", static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (cp == '\t')
            out += "\\t";
        else if (cp == '\n')
            out += "\\n";
        else if (cp == '\r')
            out += "\\r";
        else if (cp == '\\' && escapeBackslash)
            out += "\\\\";
        else if (IsControl(cp))
            AppendHex(out, "\\x%02x", static_cast<unsigned>(cp));
        else
            out.append(text.substr(i, len));
        i += len;
    }
    return out;
}

} // namespace

std::string EscapeForTerminal(std::string_view utf8) {
    return EscapeUtf8(utf8, false);
}

std::string EscapeAnsiForTerminal(std::string_view ansi) {
    std::string out;
    out.reserve(ansi.size());
    for (char ch : ansi) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7F)
            AppendHex(out, "\\x%02x", c);
        else
            out += ch;
    }
    return out;
}

std::string EscapeTsvField(std::string_view utf8) {
    return EscapeUtf8(utf8, true);
}

std::string JsonString(std::string_view utf8) {
    std::string out = "\"";
    out.reserve(utf8.size() + 2);
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        const std::size_t len = Utf8SequenceLength(utf8, i, &cp);
        if (len == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD
            ++i;
            continue;
        }
        if (cp == '"')
            out += "\\\"";
        else if (cp == '\\')
            out += "\\\\";
        else if (cp == '\n')
            out += "\\n";
        else if (cp == '\r')
            out += "\\r";
        else if (cp == '\t')
            out += "\\t";
        else if (IsControl(cp))
            AppendHex(out, "\\u%04x", static_cast<unsigned>(cp));
        else
            out.append(utf8.substr(i, len));
        i += len;
    }
    out += '"';
    return out;
}

std::string IsoTime(const SYSTEMTIME& local) {
    if (local.wYear == 0 || local.wMonth < 1 || local.wMonth > 12 || local.wDay < 1 ||
        local.wDay > 31 || local.wHour > 23 || local.wMinute > 59 || local.wSecond > 60)
        return {};
    std::tm tm{};
    tm.tm_year = local.wYear - 1900;
    tm.tm_mon = local.wMonth - 1;
    tm.tm_mday = local.wDay;
    tm.tm_hour = local.wHour;
    tm.tm_min = local.wMinute;
    tm.tm_sec = local.wSecond;
    tm.tm_isdst = -1;
    if (std::mktime(&tm) == static_cast<std::time_t>(-1) && errno == EOVERFLOW)
        return {};
    const long offset = tm.tm_gmtoff;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u%c%02ld:%02ld", local.wYear,
                  local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                  offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return buf;
}

TValue TValue::Utf8(std::string_view text) {
    TValue v;
    v.Kind = vkText;
    v.Text = text;
    return v;
}

TValue TValue::Ansi(std::string_view text) {
    return Utf8(AnsiToUtf8(text));
}

TValue TValue::Count(std::uint64_t n) {
    TValue v;
    v.Kind = vkNumber;
    v.Number = n;
    return v;
}

TValue TValue::Bool(bool b) {
    TValue v;
    v.Kind = vkBool;
    v.Flag = b;
    return v;
}

TValue TValue::Time(const SYSTEMTIME& local) {
    std::string iso = IsoTime(local);
    return iso.empty() ? Null() : Utf8(iso);
}

} // namespace tarnhold::cli
