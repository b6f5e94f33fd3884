#include "platform/filetime.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace tarnhold {
namespace {

// Switches the process time zone for one test and back.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        const char* old = std::getenv("TZ");
        Had_ = old != nullptr;
        if (Had_)
            Old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneGuard() {
        if (Had_)
            ::setenv("TZ", Old_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool Had_ = false;
    std::string Old_;
};

TEST(FileTime, SystemTimeRoundTrips) {
    const SYSTEMTIME cases[] = {
        MakeSystemTime(1601, 1, 1),
        MakeSystemTime(1970, 1, 1),
        MakeSystemTime(2000, 2, 29, 23, 59, 59, 999),
        MakeSystemTime(2026, 12, 7, 7, 5, 9, 123),
        MakeSystemTime(30827, 12, 31, 23, 59, 59, 999),
    };
    for (const auto& t : cases) {
        FILETIME ft;
        ASSERT_TRUE(SystemTimeToFileTime(t, ft)) << t.wYear;
        SYSTEMTIME back;
        ASSERT_TRUE(FileTimeToSystemTime(ft, back));
        EXPECT_EQ(CompareSystemTime(back, t), 0) << t.wYear << "-" << t.wMonth << "-" << t.wDay;
    }
}

TEST(FileTime, KnownValues) {
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(MakeSystemTime(1970, 1, 1), ft));
    EXPECT_EQ(FileTimeToU64(ft), kFileTimeUnixEpoch);
    EXPECT_EQ(FileTimeToUnixSeconds(ft), 0);
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(FILETIME{}, st));
    EXPECT_EQ(st.wYear, 1601);
    EXPECT_EQ(st.wDayOfWeek, 1) << "1601-01-01 was a Monday";
    ASSERT_TRUE(FileTimeToSystemTime(UnixTimeToFileTime(1700000000), st));
    EXPECT_EQ(CompareSystemTime(st, MakeSystemTime(2023, 11, 14, 22, 13, 20)), 0);
    EXPECT_EQ(st.wDayOfWeek, 2) << "a Tuesday";
    EXPECT_EQ(FileTimeToU64(UnixTimeToFileTime(-20000000000LL)), 0u) << "before 1601";
}

TEST(FileTime, RejectsFieldsOutOfRange) {
    const SYSTEMTIME bad[] = {
        MakeSystemTime(1600, 12, 31),         MakeSystemTime(2023, 2, 29),
        MakeSystemTime(2023, 13, 1),          MakeSystemTime(2023, 0, 1),
        MakeSystemTime(2023, 1, 0),           MakeSystemTime(2023, 4, 31),
        MakeSystemTime(2023, 1, 1, 24),       MakeSystemTime(2023, 1, 1, 0, 60),
        MakeSystemTime(2023, 1, 1, 0, 0, 60), MakeSystemTime(2023, 1, 1, 0, 0, 0, 1000),
    };
    for (const auto& t : bad) {
        FILETIME ft;
        EXPECT_FALSE(SystemTimeToFileTime(t, ft)) << t.wYear << "-" << t.wMonth << "-" << t.wDay;
    }
    SYSTEMTIME st;
    EXPECT_FALSE(FileTimeToSystemTime(U64ToFileTime(0x8000000000000000ULL), st));
}

TEST(FileTime, Ordering) {
    EXPECT_LT(CompareFileTime(U64ToFileTime(1), U64ToFileTime(2)), 0);
    EXPECT_EQ(CompareFileTime(U64ToFileTime(0x100000000ULL), U64ToFileTime(0x100000000ULL)), 0);
    EXPECT_GT(CompareFileTime(U64ToFileTime(0x100000000ULL), U64ToFileTime(0xFFFFFFFFULL)), 0);
    EXPECT_LT(CompareSystemTime(MakeSystemTime(2023, 1, 1, 0, 0, 0, 1),
                                MakeSystemTime(2023, 1, 1, 0, 0, 1)),
              0);
}

struct TLocalCase {
    const char* Zone;
    SYSTEMTIME Utc;
    SYSTEMTIME Local;
};

TEST(FileTime, LocalTimeFollowsTheZone) {
    const TLocalCase cases[] = {
        {"Asia/Tokyo", MakeSystemTime(2026, 12, 6, 22, 5, 9), MakeSystemTime(2026, 12, 7, 7, 5, 9)},
        {"Asia/Tokyo", MakeSystemTime(2026, 7, 1, 0, 0, 0), MakeSystemTime(2026, 7, 1, 9, 0, 0)},
        // New York: standard time in winter, daylight saving time in summer.
        {"America/New_York", MakeSystemTime(2026, 1, 15, 12, 0, 0),
         MakeSystemTime(2026, 1, 15, 7, 0, 0)},
        {"America/New_York", MakeSystemTime(2026, 7, 15, 12, 0, 0),
         MakeSystemTime(2026, 7, 15, 8, 0, 0)},
        {"UTC", MakeSystemTime(2026, 7, 15, 12, 0, 0), MakeSystemTime(2026, 7, 15, 12, 0, 0)},
    };
    for (const auto& c : cases) {
        ZoneGuard zone(c.Zone);
        FILETIME utc, local, back;
        ASSERT_TRUE(SystemTimeToFileTime(c.Utc, utc));
        ASSERT_TRUE(FileTimeToLocalFileTime(utc, local));
        SYSTEMTIME st;
        ASSERT_TRUE(FileTimeToSystemTime(local, st));
        EXPECT_EQ(CompareSystemTime(st, c.Local), 0) << c.Zone << " hour " << st.wHour;
        ASSERT_TRUE(LocalFileTimeToFileTime(local, back));
        EXPECT_EQ(CompareFileTime(back, utc), 0) << c.Zone;
    }
}

TEST(FileTime, CurrentTimeIsNow) {
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::int64_t got = FileTimeToUnixSeconds(GetSystemTimeAsFileTime());
    EXPECT_LE(std::llabs(got - now), 5);
}

} // namespace
} // namespace tarnhold
