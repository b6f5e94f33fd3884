// The record files of the data folder (renameList.dat, contentType.dat): one
// record per line, two fields separated by one TAB, each line ended by CR LF,
// ANSI text, no header.
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnhold {

using TRecordHandler = std::function<void(std::string_view, std::string_view)>;

// How reading a record file went. A file that is missing is no failure (it is
// made when there is something to keep); a file that exists but could not be
// read, or held records that could not be read, must not be saved over: the
// user's records would be lost.
struct TRecordFileRead {
    bool Missing = false;
    TError Error{};     // the file exists but could not be read
    int BadRecords = 0; // records passed over
    bool Whole() const { return Error.Ok() && BadRecords == 0; }
};

// Calls onRecord for each record from the start of data and returns the
// number of damaged records passed over. A line without a TAB is passed over
// up to its LF; a CR not followed by LF ends its record, and reading goes on
// after the CR; an unfinished record at the end is passed over.
int ParseRecordFile(std::string_view data, const TRecordHandler& onRecord);

// Reads the file (a regular file only) and parses it as above. When text is
// given it receives the bytes read.
TRecordFileRead ReadRecordFile(const std::filesystem::path& file, const TRecordHandler& onRecord,
                               std::string* text = nullptr);

// Whether a record can be written so that it reads back the same: the first
// field without TAB, CR or LF, the second without CR.
bool IsWritableRecord(std::string_view first, std::string_view second);

// "<first>\t<second>\r\n" for every writable record; the others are left out.
std::string
FormatRecords(const std::vector<std::pair<std::string_view, std::string_view>>& records);

// Writes text to the file, creating the folder if needed. The old file is
// replaced only once the new one is complete.
[[nodiscard]] TError WriteRecordFile(const std::filesystem::path& file, std::string_view text);

} // namespace tarnhold
