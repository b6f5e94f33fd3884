#include "platform/codepage.h"
#include "text/displayformat.h"

#include <cerrno>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace tarnhold {
namespace {

struct TSizeCase {
    std::uint64_t Size;
    const char* Text; // UTF-8
};

TEST(FormatSizeShort, Boundaries) {
    const TSizeCase cases[] = {
        {0, "0 バイト"},
        {999, "999 バイト"},
        {1000, "0.98KB"},
        {1023, "1.00KB"},
        {1536, "1.50KB"},
        {10188, "9.95KB"},
        {10240, "10.0KB"},
        {102297, "99.9KB"},
        {102400, "100KB"},
        {999 * 1024, "999KB"},
        {999 * 1024 + 1, "0.98MB"},
        {1048575, "1.00MB"},
        {1073741824, "1.00GB"},
        {4294967295u, "4.00GB"},
        // Beyond 32 bits the same rules go on.
        {4294967296u, "4.00GB"},
        {5ull << 40, "5.00TB"},
        {3ull << 50, "3.00PB"},
        {UINT64_MAX, "16.0EB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AnsiToUtf8(FormatSizeShort(c.Size)), c.Text) << c.Size;
}

TEST(FormatSizeShort, BytesTextIsShiftJis) {
    EXPECT_EQ(FormatSizeShort(5), "5" + Utf8ToAnsi(" バイト"));
}

TEST(FormatSizeKB, RoundsUp) {
    const TSizeCase cases[] = {
        {0, "0KB"},
        {1, "1KB"},
        {1024, "1KB"},
        {1025, "2KB"},
        {1536, "2KB"},
        {1024 * 999, "999KB"},
        {1024 * 1000, "1,000KB"},
        {5000000, "4,883KB"},
        {4294967295u, "4,194,304KB"},
        {4294967296u + 1, "4,194,305KB"},
        {UINT64_MAX, "18,014,398,509,481,984KB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatSizeKB(c.Size), c.Text) << c.Size;
}

TEST(FormatDateTime, JapaneseForms) {
    EXPECT_EQ(FormatDateTimeShort(MakeSystemTime(2026, 12, 7, 7, 5, 9)), "2026/12/07 7:05");
    EXPECT_EQ(FormatDateTimeShort(MakeSystemTime(1999, 1, 31, 23, 59, 59)), "1999/01/31 23:59");
    // The ends of the accepted years: the fields keep their width past four digits.
    EXPECT_EQ(FormatDateTimeShort(MakeSystemTime(1601, 1, 1, 0, 0, 0)), "1601/01/01 0:00");
    EXPECT_EQ(FormatDateTimeShort(MakeSystemTime(30827, 10, 9, 10, 10, 0)), "30827/10/09 10:10");
    EXPECT_EQ(AnsiToUtf8(FormatDateTimeLong(MakeSystemTime(2026, 12, 7, 7, 5, 9))),
              "2026年12月7日 7:05:09");
    EXPECT_EQ(AnsiToUtf8(FormatDateTimeLong(MakeSystemTime(2024, 2, 29, 0, 0, 0))),
              "2024年2月29日 0:00:00");
}

TEST(FormatDateTime, FieldsOutOfRangeLeaveThePartEmpty) {
    EXPECT_EQ(FormatDateTimeShort(SYSTEMTIME{}), " 0:00");
    EXPECT_EQ(FormatDateTimeShort(MakeSystemTime(2023, 2, 29, 1, 2, 3)), " 1:02");
    EXPECT_EQ(FormatDateTimeShort(MakeSystemTime(2023, 2, 28, 24, 0, 0)), "2023/02/28 ");
    EXPECT_EQ(FormatDateTimeLong(MakeSystemTime(2023, 13, 1, 1, 60, 0)), " ");
}

TEST(GetSystemErrorText, KnownAndUnknown) {
    EXPECT_FALSE(GetSystemErrorText(ENOENT).empty());
    EXPECT_EQ(GetSystemErrorText(ENOENT), GetSystemErrorText(ENOENT));
    EXPECT_NE(GetSystemErrorText(ENOENT), GetSystemErrorText(EACCES));
    EXPECT_EQ(GetSystemErrorText(99999), "");
    EXPECT_EQ(GetSystemErrorText(-1), "");
}

} // namespace
} // namespace tarnhold
