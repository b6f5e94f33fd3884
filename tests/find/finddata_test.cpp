#include "find/filemask.h"
#include "find/finddata.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace tarnhold {
namespace {

TEST(FileMask, Table) {
    struct Case {
        const char* mask;
        const char* name;
        bool match;
    } cases[] = {
        {"*a*", "abc.html", true},
        {"*B*", "xb.gif", true},
        {"**", "anything", true},
        {"**", "", true},
        {"*.htm?*", "index.html", true},
        {"*.htm?*", "index.htm", false},
        {"*[a-c]x*", "bx", true},
        {"*[a-c]x*", "dx", false},
        {"*[!a-c]x*", "dx", true},
        {"*[!a-c]x*", "bx", false},
        {"*[A-C]*", "b", true},
        {"a*c", "abbbc", true},
        {"a*c", "abbbcd", false},
        {"*[abc*", "x[abcx", true}, // "[" without "]" stands for itself
        {"*[abc*", "xabcx", false},
        {"*[]*", "x", false}, // an empty set matches nothing
        {"*?*", "", false},
        // Shift-JIS: "?" takes a whole double-byte character; a match never
        // starts on a trail byte (0x83 0x5C is one character).
        {"\x83\x5c?", "\x83\x5c\x83\x41", true},
        {"?", "\x83\x41", true},
        {"??", "\x83\x41", false},
        {"*\\*", "\x83\x5c", false},
        {"*a*", "\x83\x41", false}, // 0x41 "A" here is a trail byte
        {"*[\x83\x40-\x83\x50]*", "x\x83\x41y", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TFileMask(c.mask).Matches(c.name), c.match) << c.mask << " / " << c.name;
}

TEST(FindCriteria, NamePieces) {
    struct Case {
        const char* name;
        const char* text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"two pieces", "a;B", {"a", "B"}},
        {"trimmed, pieces before ; lower-cased", "  X;Y  ", {"x", "Y"}},
        {"leading ;", ";a", {"", "a"}},
        {"doubled ;", "a;;b", {"", "a", "b"}},
        {"trailing ;", "a;", {"a"}},
        {"duplicates ignoring case", "A;a", {"a"}},
        {"empty", "   ", {}},
    };
    for (const auto& c : cases) {
        TFindData data;
        SetNames(data, c.text);
        EXPECT_EQ(data.Names, c.pieces) << c.name;
    }
}

TEST(FindCriteria, DateModes) {
    const SYSTEMTIME today = MakeSystemTime(2026, 3, 31, 15, 30);
    struct Case {
        const char* name;
        int mode, count;
        SYSTEMTIME first, second;
        bool filter;
        SYSTEMTIME begin, end;
    } cases[] = {
        {"all", dmAll, 0, {}, {}, false, {}, {}},
        {"between, swapped", dmBetween, 0, MakeSystemTime(2026, 2, 1, 23, 59),
         MakeSystemTime(2026, 1, 1, 1), true, MakeSystemTime(2026, 1, 1),
         MakeSystemTime(2026, 2, 1)},
        {"one month back clamps to Feb 28",
         dmMonths,
         1,
         {},
         {},
         true,
         MakeSystemTime(2026, 2, 28),
         MakeSystemTime(2026, 3, 31)},
        {"thirteen months back crosses a year",
         dmMonths,
         13,
         {},
         {},
         true,
         MakeSystemTime(2025, 2, 28),
         MakeSystemTime(2026, 3, 31)},
        {"leap February",
         dmMonths,
         25,
         {},
         {},
         true,
         MakeSystemTime(2024, 2, 29),
         MakeSystemTime(2026, 3, 31)},
        {"days back",
         dmDays,
         31,
         {},
         {},
         true,
         MakeSystemTime(2026, 2, 28),
         MakeSystemTime(2026, 3, 31)},
    };
    for (const auto& c : cases) {
        TFindData data;
        SetDateRange(data, c.mode, today, c.count, c.first, c.second);
        EXPECT_EQ(data.DateFilter, c.filter) << c.name;
        if (c.filter) {
            EXPECT_EQ(data.DateBegin, DayNumber(c.begin)) << c.name;
            EXPECT_EQ(data.DateEnd, DayNumber(c.end)) << c.name;
        }
    }
    EXPECT_EQ(DayNumber(SYSTEMTIME{}), -1);
    EXPECT_EQ(DayNumber(MakeSystemTime(2026, 2, 29)), -1);
}

TEST(FindCriteria, SizeInShownKilobytes) {
    struct Case {
        const char* name;
        int op;
        std::uint32_t first, second;
        bool filter;
        std::uint32_t min, max;
    } cases[] = {
        {"none", soNone, 5, 0, false, 0, 0},
        {"at most 100 KB", soAtMost, 100, 0, true, 0, 102400},
        {"at least 100 KB: all shown as 100KB", soAtLeast, 100, 0, true, 101377, 0xFFFFFFFF},
        {"at least 0", soAtLeast, 0, 0, true, 0, 0xFFFFFFFF},
        {"between, swapped", soBetween, 9, 2, true, 1025, 9216},
    };
    for (const auto& c : cases) {
        TFindData data;
        SetSizeRange(data, c.op, c.first, c.second);
        EXPECT_EQ(data.SizeFilter, c.filter) << c.name;
        if (c.filter) {
            EXPECT_EQ(data.SizeMin, c.min) << c.name;
            EXPECT_EQ(data.SizeMax, c.max) << c.name;
        }
    }
}

} // namespace
} // namespace tarnhold
