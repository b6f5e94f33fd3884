// The criteria of a search through the cache tree, and how the find window's
// controls (and the CLI's options) turn into them.
#pragma once

#include "platform/filetime.h"
#include "tree/webcachetree.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

struct TFindData {
    // Name pieces; a node's name must match "*" + piece + "*" for one of
    // them. Sorted ignoring case, no two equal ignoring case. Empty: no name
    // criterion.
    std::vector<std::string> Names;
    bool MatchAnyCase = true; // the content test ignores case
    std::string Contains;     // UTF-8; empty: no content criterion
    // The folder whose descendants are searched (not owned; the tree must
    // not change while a search runs, see TFindThread).
    TWebCacheTreeNode* StartNode = nullptr;
    bool SubFolders = true;
    // Inclusive range of whole days (DayNumber) for the last-modified date.
    bool DateFilter = false;
    std::int64_t DateBegin = 0;
    std::int64_t DateEnd = 0;
    // Accepted extensions, lower case with the dot ("" for none). Sorted,
    // no duplicates.
    bool TypeFilter = false;
    std::vector<std::string> Extensions;
    // Inclusive range of a file's size in bytes.
    bool SizeFilter = false;
    std::uint32_t SizeMin = 0;
    std::uint32_t SizeMax = 0;

    // Adds to the sorted lists unless an equal text (ignoring case) is there.
    void AddName(std::string_view piece);
    void AddExtension(std::string_view extension);
    bool HasExtension(std::string_view extension) const;
};

// The name box: the text, trimmed, split at each ";". Every piece that ends
// at a ";" is lower-cased and added, an empty one included (its pattern "**"
// matches every name); the rest after the last ";" is added as typed unless
// it is empty.
void SetNames(TFindData& data, std::string_view text);

// The date of a calendar time as a count of whole days, or -1 when its date
// fields are not a date (an unset, all-zero time).
std::int64_t DayNumber(const SYSTEMTIME& time);

// The date modes of the find window.
enum : int {
    dmAll = 0,     // no date criterion
    dmBetween = 1, // between two dates, in either order
    dmMonths = 2,  // the last count calendar months up to today
    dmDays = 3,    // the last count days up to today
};
// Sets DateFilter, DateBegin and DateEnd for a mode. Moving back by months
// keeps the day of the month, clamped to the last day of a shorter month.
// Negative counts count as 0.
void SetDateRange(TFindData& data, int mode, const SYSTEMTIME& today, int count = 0,
                  const SYSTEMTIME& first = {}, const SYSTEMTIME& second = {});

// The size operators of the find window.
enum : int {
    soNone = 0,    // no size criterion
    soAtMost = 1,  // "以下": at most first KB
    soAtLeast = 2, // "以上": at least first KB
    soBetween = 3, // "から": first to second KB, in either order
};
// The numbers are the kilobytes the window shows beside its "KB" labels, and
// sizes are shown rounded up to whole kilobytes; so "at most 100 KB" takes
// every file shown as up to "100KB" (<= 102,400 bytes) and "at least 100 KB"
// every file shown as "100KB" or more (> 99 * 1024 bytes).
void SetSizeRange(TFindData& data, int op, std::uint32_t firstKB, std::uint32_t secondKB = 0);

} // namespace tarnhold
