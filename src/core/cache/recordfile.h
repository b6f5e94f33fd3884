// The record files of the data folder (renameList.dat, contentType.dat): one
// record per line, two fields separated by one TAB, each line ended by CR LF,
// ANSI text, no header.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnhold {

// Calls onRecord for each record from the start of data. Reading stops,
// keeping what was read, at the end of the data or at the first record
// without a TAB, without a CR, or with a CR not followed by LF.
void ParseRecordFile(std::string_view data,
                     const std::function<void(std::string_view, std::string_view)>& onRecord);

// Reads the file and parses it as above; false (nothing delivered) when the
// file cannot be read.
bool ReadRecordFile(const std::filesystem::path& file,
                    const std::function<void(std::string_view, std::string_view)>& onRecord);

// Whether a record can be written so that it reads back the same: the first
// field without TAB, CR or LF, the second without CR.
bool IsWritableRecord(std::string_view first, std::string_view second);

// Writes "<first>\t<second>\r\n" for every writable record (the others are
// left out), creating the folder if needed. The old file is replaced
// only once the new one is complete. False when the file cannot be written.
bool WriteRecordFile(const std::filesystem::path& file,
                     const std::vector<std::pair<std::string_view, std::string_view>>& records);

} // namespace tarnhold
