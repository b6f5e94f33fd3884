// FILETIME and SYSTEMTIME as the program uses them.
//
// FILETIME counts 100-ns ticks since 1601-01-01 00:00 UTC (or, for a "local
// file time", the same count in local time). SYSTEMTIME holds the eight
// 16-bit fields of a calendar time. Local time follows the process time zone
// (TZ, localtime_r), at the moment being converted.
#pragma once

#include <cstdint>
#include <ctime>

namespace tarnhold {

struct FILETIME {
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;
};

struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

// A calendar time from its fields (day of week left 0); no range check.
constexpr SYSTEMTIME MakeSystemTime(int year, int month, int day, int hour = 0, int minute = 0,
                                    int second = 0, int milliseconds = 0) {
    SYSTEMTIME t;
    t.wYear = static_cast<std::uint16_t>(year);
    t.wMonth = static_cast<std::uint16_t>(month);
    t.wDay = static_cast<std::uint16_t>(day);
    t.wHour = static_cast<std::uint16_t>(hour);
    t.wMinute = static_cast<std::uint16_t>(minute);
    t.wSecond = static_cast<std::uint16_t>(second);
    t.wMilliseconds = static_cast<std::uint16_t>(milliseconds);
    return t;
}

// 100-ns ticks between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;
constexpr std::uint64_t kFileTimeTicksPerSecond = 10000000ULL;

constexpr std::uint64_t FileTimeToU64(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
constexpr FILETIME U64ToFileTime(std::uint64_t v) {
    return FILETIME{static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32)};
}
constexpr bool IsZeroFileTime(const FILETIME& ft) {
    return ft.dwLowDateTime == 0 && ft.dwHighDateTime == 0;
}
int CompareFileTime(const FILETIME& a, const FILETIME& b);
// Orders two SYSTEMTIMEs by their calendar fields (day of week ignored).
int CompareSystemTime(const SYSTEMTIME& a, const SYSTEMTIME& b);

// UTC <-> local file time, with the zone offset in force at that moment.
bool FileTimeToLocalFileTime(const FILETIME& utc, FILETIME& local);
bool LocalFileTimeToFileTime(const FILETIME& local, FILETIME& utc);

// Calendar fields of a file time (no zone conversion). Fails for times past
// year 30827, as Windows does.
bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& st);
// Fails for fields out of range (month 1-12, day valid for the month, hour
// < 24, minute and second < 60, milliseconds < 1000, year 1601-30827).
bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME& ft);

// Unix time (seconds, with nanoseconds) <-> FILETIME (UTC). Times before 1601
// clamp to 0.
FILETIME UnixTimeToFileTime(std::int64_t seconds, std::int64_t nanoseconds = 0);
std::int64_t FileTimeToUnixSeconds(const FILETIME& ft);

// The current time as a UTC FILETIME.
FILETIME GetSystemTimeAsFileTime();

} // namespace tarnhold
