#include "tree/recordfile.h"

#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhold {

bool IsWritableRecord(std::string_view first, std::string_view second) {
    return first.find_first_of("\t\r\n") == std::string_view::npos &&
           second.find('\r') == std::string_view::npos;
}

int ParseRecordFile(std::string_view data, const TRecordHandler& onRecord) {
    int bad = 0;
    std::size_t pos = 0;
    while (pos < data.size()) {
        // A line break before the TAB means a line without one.
        std::size_t tab = data.find_first_of("\t\r\n", pos);
        if (tab == std::string_view::npos) {
            ++bad; // an unfinished last line
            break;
        }
        if (data[tab] != '\t') {
            ++bad;
            std::size_t lf = data.find('\n', tab);
            if (lf == std::string_view::npos)
                break;
            pos = lf + 1;
            continue;
        }
        std::size_t cr = data.find('\r', tab + 1);
        if (cr == std::string_view::npos) {
            ++bad; // an unfinished last record
            break;
        }
        if (cr + 1 >= data.size() || data[cr + 1] != '\n') {
            ++bad;
            pos = cr + 1;
            continue;
        }
        onRecord(data.substr(pos, tab - pos), data.substr(tab + 1, cr - tab - 1));
        pos = cr + 2;
    }
    return bad;
}

TRecordFileRead ReadRecordFile(const std::filesystem::path& file, const TRecordHandler& onRecord,
                               std::string* text) {
    TRecordFileRead result;
    std::string data;
    TError error = ReadRegularFile(file, data, std::numeric_limits<std::size_t>::max());
    if (error) {
        if (error.Code() == ENOENT)
            result.Missing = true;
        else
            result.Error = std::move(error);
        return result;
    }
    result.BadRecords = ParseRecordFile(data, onRecord);
    if (text != nullptr)
        *text = std::move(data);
    return result;
}

std::string
FormatRecords(const std::vector<std::pair<std::string_view, std::string_view>>& records) {
    std::string data;
    for (const auto& [first, second] : records) {
        // Such a record would break itself and every one after it on the next
        // reading; it is left out. (A decoded URL can hold a line break, from
        // "%0A" or a bad escape.)
        if (!IsWritableRecord(first, second))
            continue;
        data.append(first).push_back('\t');
        data.append(second).append("\r\n");
    }
    return data;
}

TError WriteRecordFile(const std::filesystem::path& file, std::string_view text) {
    int error = 0;
    if (file.has_parent_path() && !ForceDirectories(file.parent_path(), &error))
        return TError::FromErrno(error, file.parent_path().string());
    // A data file kept elsewhere through a link stays there, the link a link.
    std::filesystem::path target;
    if (TError resolved = ResolveFileLinks(file, target))
        return resolved;
    if (!WriteFileAtomic(target, text, &error))
        return TError::FromErrno(error, target.string());
    return {};
}

} // namespace tarnhold
