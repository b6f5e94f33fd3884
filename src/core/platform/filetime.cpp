#include "platform/filetime.h"

#include <chrono>

namespace tarnhold {

namespace {

constexpr std::int64_t kTicksPerDay = 864000000000LL;
// Days from 0000-03-01 (proleptic Gregorian) to 1601-01-01, as counted by
// DaysFromCivil below.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe);
}
constexpr std::int64_t kDays1601 = DaysFromCivil(1601, 1, 1);

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

bool IsLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Offset of local time from UTC, in seconds, at the UTC moment t.
std::int64_t ZoneOffsetAt(std::int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr)
        return 0;
    return tm.tm_gmtoff;
}

} // namespace

int CompareFileTime(const FILETIME& a, const FILETIME& b) {
    std::uint64_t x = FileTimeToU64(a), y = FileTimeToU64(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int CompareSystemTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    const std::uint16_t SYSTEMTIME::*fields[] = {
        &SYSTEMTIME::wYear,   &SYSTEMTIME::wMonth,  &SYSTEMTIME::wDay,         &SYSTEMTIME::wHour,
        &SYSTEMTIME::wMinute, &SYSTEMTIME::wSecond, &SYSTEMTIME::wMilliseconds};
    for (auto f : fields) {
        if (a.*f != b.*f)
            return a.*f < b.*f ? -1 : 1;
    }
    return 0;
}

bool FileTimeToLocalFileTime(const FILETIME& utc, FILETIME& local) {
    std::uint64_t ticks = FileTimeToU64(utc);
    std::int64_t unix = static_cast<std::int64_t>(ticks / kFileTimeTicksPerSecond) -
                        static_cast<std::int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
    std::int64_t offset = ZoneOffsetAt(unix) * static_cast<std::int64_t>(kFileTimeTicksPerSecond);
    if (offset < 0 && static_cast<std::uint64_t>(-offset) > ticks)
        return false;
    local = U64ToFileTime(ticks + static_cast<std::uint64_t>(offset));
    return true;
}

bool LocalFileTimeToFileTime(const FILETIME& local, FILETIME& utc) {
    std::uint64_t ticks = FileTimeToU64(local);
    std::int64_t asUnix = static_cast<std::int64_t>(ticks / kFileTimeTicksPerSecond) -
                          static_cast<std::int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
    // The offset depends on the UTC moment we are looking for; one correction
    // step settles it except inside the hour a clock change skips.
    std::int64_t offset = ZoneOffsetAt(asUnix);
    std::int64_t second = ZoneOffsetAt(asUnix - offset);
    if (second != offset)
        offset = second;
    std::int64_t delta = offset * static_cast<std::int64_t>(kFileTimeTicksPerSecond);
    if (delta > 0 && static_cast<std::uint64_t>(delta) > ticks)
        return false;
    utc = U64ToFileTime(ticks - static_cast<std::uint64_t>(delta));
    return true;
}

bool FileTimeToSystemTime(const FILETIME& ft, SYSTEMTIME& st) {
    std::uint64_t ticks = FileTimeToU64(ft);
    if (ticks >= 0x8000000000000000ULL)
        return false;
    std::int64_t days = static_cast<std::int64_t>(ticks / kTicksPerDay);
    std::uint64_t rest = ticks % kTicksPerDay;
    std::int64_t y;
    unsigned m, d;
    CivilFromDays(days + kDays1601, y, m, d);
    if (y > 30827)
        return false;
    st.wYear = static_cast<std::uint16_t>(y);
    st.wMonth = static_cast<std::uint16_t>(m);
    st.wDay = static_cast<std::uint16_t>(d);
    st.wDayOfWeek = static_cast<std::uint16_t>((days + 1) % 7); // 1601-01-01 was a Monday
    std::uint64_t ms = rest / 10000;
    st.wHour = static_cast<std::uint16_t>(ms / 3600000);
    st.wMinute = static_cast<std::uint16_t>(ms / 60000 % 60);
    st.wSecond = static_cast<std::uint16_t>(ms / 1000 % 60);
    st.wMilliseconds = static_cast<std::uint16_t>(ms % 1000);
    return true;
}

bool SystemTimeToFileTime(const SYSTEMTIME& st, FILETIME& ft) {
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59 || st.wMilliseconds > 999)
        return false;
    std::int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) - kDays1601;
    std::uint64_t ms =
        ((static_cast<std::uint64_t>(st.wHour) * 60 + st.wMinute) * 60 + st.wSecond) * 1000 +
        st.wMilliseconds;
    ft = U64ToFileTime(static_cast<std::uint64_t>(days) * kTicksPerDay + ms * 10000);
    return true;
}

FILETIME UnixTimeToFileTime(std::int64_t seconds, std::int64_t nanoseconds) {
    const std::int64_t epochSeconds =
        static_cast<std::int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
    if (seconds < -epochSeconds)
        return FILETIME{};
    std::uint64_t ticks =
        static_cast<std::uint64_t>(seconds + epochSeconds) * kFileTimeTicksPerSecond +
        static_cast<std::uint64_t>(nanoseconds / 100);
    return U64ToFileTime(ticks);
}

std::int64_t FileTimeToUnixSeconds(const FILETIME& ft) {
    return static_cast<std::int64_t>(FileTimeToU64(ft) / kFileTimeTicksPerSecond) -
           static_cast<std::int64_t>(kFileTimeUnixEpoch / kFileTimeTicksPerSecond);
}

FILETIME GetSystemTimeAsFileTime() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    return UnixTimeToFileTime(ns / 1000000000, ns % 1000000000);
}

} // namespace tarnhold
