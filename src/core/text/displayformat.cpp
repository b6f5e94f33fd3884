#include "text/displayformat.h"

#include "platform/codepage.h"
#include "platform/error.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

namespace tarnhold {

namespace {

// The Japanese pieces of the formats, as CP932 bytes.
constexpr std::string_view kBytes = " \x83\x6f\x83\x43\x83\x67"; // " バイト"
constexpr std::string_view kYear = "\x94\x4e";                   // 年
constexpr std::string_view kMonth = "\x8c\x8e";                  // 月
constexpr std::string_view kDay = "\x93\xfa";                    // 日

template <typename... Args> std::string Printf(const char* format, Args... args) {
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, format, args...);
    return std::string(buf, n < 0 ? 0 : static_cast<std::size_t>(n));
}

bool IsLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// The ranges the system's date formatting accepts.
bool IsValidDate(const SYSTEMTIME& t) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1)
        return false;
    unsigned days = t.wMonth == 2 && IsLeap(t.wYear) ? 29 : kDays[t.wMonth - 1];
    return t.wDay <= days;
}

bool IsValidTime(const SYSTEMTIME& t) {
    return t.wHour < 24 && t.wMinute < 60 && t.wSecond < 60 && t.wMilliseconds < 1000;
}

// The decimal digits of value appended, at least width of them (zeros in
// front), as "%0*u" writes them; the listings call this per row, so without
// the format parser.
void AppendDecimal(std::string& out, unsigned value, std::size_t width = 1) {
    char buf[16];
    char* p = buf + sizeof buf;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (std::size_t n = static_cast<std::size_t>(buf + sizeof buf - p); n < width; ++n)
        out.push_back('0');
    out.append(p, buf + sizeof buf);
}

} // namespace

std::string FormatSizeShort(std::uint64_t size) {
    if (size <= 999)
        return Printf("%d", static_cast<int>(size)) + std::string(kBytes);
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double v = static_cast<double>(size) / 1024;
    std::size_t unit = 0;
    // 2^64 bytes are 16 EB, so the index never passes the last unit.
    while (v > 999 && unit + 1 < std::size(kUnits)) {
        v /= 1024;
        ++unit;
    }
    if (v <= 9.99)
        return Printf("%4.2lf%s", v, kUnits[unit]);
    if (v <= 99.9)
        return Printf("%4.1lf%s", v, kUnits[unit]);
    return Printf("%3.0lf%s", v, kUnits[unit]);
}

std::string FormatSizeKB(std::uint64_t size) {
    // Rounded up without the overflow that (size + 1023) >> 10 has at the top.
    std::uint64_t kb = (size >> 10) + ((size & 1023) != 0 ? 1 : 0);
    char buf[40]; // 2^54 has 17 digits, with 5 commas
    char* p = buf + sizeof buf;
    *--p = 'B';
    *--p = 'K';
    int digits = 0;
    do {
        if (digits > 0 && digits % 3 == 0)
            *--p = ',';
        *--p = static_cast<char>('0' + kb % 10);
        kb /= 10;
        ++digits;
    } while (kb != 0);
    return std::string(p, buf + sizeof buf);
}

std::string FormatDateTimeShort(const SYSTEMTIME& time) {
    std::string out;
    out.reserve(16);
    if (IsValidDate(time)) {
        AppendDecimal(out, time.wYear);
        out.push_back('/');
        AppendDecimal(out, time.wMonth, 2);
        out.push_back('/');
        AppendDecimal(out, time.wDay, 2);
    }
    out.push_back(' ');
    if (IsValidTime(time)) {
        AppendDecimal(out, time.wHour);
        out.push_back(':');
        AppendDecimal(out, time.wMinute, 2);
    }
    return out;
}

std::string FormatDateTimeLong(const SYSTEMTIME& time) {
    std::string date;
    if (IsValidDate(time)) {
        date = Printf("%d", time.wYear);
        date += kYear;
        date += Printf("%d", time.wMonth);
        date += kMonth;
        date += Printf("%d", time.wDay);
        date += kDay;
    }
    std::string clock =
        IsValidTime(time) ? Printf("%d:%02d:%02d", time.wHour, time.wMinute, time.wSecond) : "";
    return date + " " + clock;
}

std::string GetSystemErrorText(int error) {
    if (strerrorname_np(error) == nullptr)
        return {};
    return Utf8ToAnsi(TError::FromErrno(error).Text());
}

} // namespace tarnhold
