// Texts for display: sizes, dates and times, system error texts. All results
// are ANSI (CP932) text; the Japanese formats are fixed here, not taken from
// the process locale.
#pragma once

#include "platform/filetime.h"

#include <cstdint>
#include <string>

namespace tarnhold {

// "999 バイト" up to 999 bytes; above, the size in KB, MB, GB, TB, PB or EB
// with three significant digits ("0.98KB", "10.0KB", "999KB", "1.00MB").
std::string FormatSizeShort(std::uint64_t size);
// Whole kilobytes rounded up, with thousands separators: "4,883KB".
std::string FormatSizeKB(std::uint64_t size);
// "2026/12/07 7:05". A date or time with fields out of range gives an empty
// part ("2026/12/07 " or " 7:05").
std::string FormatDateTimeShort(const SYSTEMTIME& time);
// "2026年12月7日 7:05:09".
std::string FormatDateTimeLong(const SYSTEMTIME& time);
// The system's text for an errno value, in the current locale; empty for a
// value the system does not know.
std::string GetSystemErrorText(int error);

} // namespace tarnhold
