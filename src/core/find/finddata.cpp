#include "find/finddata.h"

#include "platform/codepage.h"
#include "platform/sortedlist.h"

#include <algorithm>
#include <chrono>

namespace tarnhold {

namespace {

void AddSorted(std::vector<std::string>& list, std::string_view text) {
    const auto at = FindInSortedList(list, text, [](std::string_view key, const std::string& item) {
        return AnsiCompareText(key, item);
    });
    if (at >= 0)
        return;
    list.insert(list.begin() + (-at - 1), std::string(text));
}

std::int64_t DaysOf(int year, unsigned month, unsigned day) {
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year(year), std::chrono::month(month),
                             std::chrono::day(day)};
    return sys_days(ymd).time_since_epoch().count();
}

unsigned LastDayOf(int year, unsigned month) {
    using namespace std::chrono;
    return static_cast<unsigned>(
        year_month_day_last(std::chrono::year(year), month_day_last(std::chrono::month(month)))
            .day());
}

// Kilobytes in bytes, clamped to 32 bits.
std::uint32_t KBToBytes(std::uint64_t kb) {
    const std::uint64_t bytes = kb * 1024;
    return bytes > 0xFFFFFFFFULL ? 0xFFFFFFFFU : static_cast<std::uint32_t>(bytes);
}

std::uint32_t LowestBytesShownAs(std::uint32_t kb) {
    return kb == 0 ? 0 : KBToBytes(kb - 1) + 1;
}

} // namespace

void TFindData::AddName(std::string_view piece) {
    AddSorted(Names, piece);
}

void TFindData::AddExtension(std::string_view extension) {
    AddSorted(Extensions, extension);
}

bool TFindData::HasExtension(std::string_view extension) const {
    return FindInSortedList(Extensions, extension,
                            [](std::string_view key, const std::string& item) {
                                return AnsiCompareText(key, item);
                            }) >= 0;
}

void SetNames(TFindData& data, std::string_view text) {
    data.Names.clear();
    text = AnsiTrim(text);
    std::size_t start = 0;
    for (std::size_t semi; (semi = text.find(';', start)) != std::string_view::npos;
         start = semi + 1)
        data.AddName(AnsiLowerCase(text.substr(start, semi - start)));
    if (start < text.size())
        data.AddName(text.substr(start));
}

std::int64_t DayNumber(const SYSTEMTIME& time) {
    if (time.wYear == 0 || time.wMonth < 1 || time.wMonth > 12 || time.wDay < 1 ||
        time.wDay > LastDayOf(time.wYear, time.wMonth))
        return -1;
    return DaysOf(time.wYear, time.wMonth, time.wDay);
}

void SetDateRange(TFindData& data, int mode, const SYSTEMTIME& today, int count,
                  const SYSTEMTIME& first, const SYSTEMTIME& second) {
    count = std::max(count, 0);
    const std::int64_t now = DayNumber(today);
    data.DateFilter = true;
    switch (mode) {
    case dmBetween: {
        const std::int64_t a = DayNumber(first), b = DayNumber(second);
        data.DateBegin = std::min(a, b);
        data.DateEnd = std::max(a, b);
        break;
    }
    case dmMonths: {
        // Months counted from year 0; far enough back stops at year 1.
        std::int64_t months = static_cast<std::int64_t>(today.wYear) * 12 + (today.wMonth - 1) -
                              static_cast<std::int64_t>(count);
        months = std::max<std::int64_t>(months, 12);
        const int year = static_cast<int>(months / 12);
        const unsigned month = static_cast<unsigned>(months % 12) + 1;
        const unsigned day = std::min<unsigned>(today.wDay, LastDayOf(year, month));
        data.DateBegin = DaysOf(year, month, day);
        data.DateEnd = now;
        break;
    }
    case dmDays:
        data.DateBegin = now - count;
        data.DateEnd = now;
        break;
    default:
        data.DateFilter = false;
        break;
    }
}

void SetSizeRange(TFindData& data, int op, std::uint32_t firstKB, std::uint32_t secondKB) {
    data.SizeFilter = true;
    switch (op) {
    case soAtMost:
        data.SizeMin = 0;
        data.SizeMax = KBToBytes(firstKB);
        break;
    case soAtLeast:
        data.SizeMin = LowestBytesShownAs(firstKB);
        data.SizeMax = 0xFFFFFFFFU;
        break;
    case soBetween:
        if (secondKB < firstKB)
            std::swap(firstKB, secondKB);
        data.SizeMin = LowestBytesShownAs(firstKB);
        data.SizeMax = KBToBytes(secondKB);
        break;
    default:
        data.SizeFilter = false;
        break;
    }
}

} // namespace tarnhold
