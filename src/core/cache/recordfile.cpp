#include "cache/recordfile.h"

#include "platform/files.h"

namespace tarnhold {

bool IsWritableRecord(std::string_view first, std::string_view second) {
    return first.find_first_of("\t\r\n") == std::string_view::npos &&
           second.find('\r') == std::string_view::npos;
}

void ParseRecordFile(std::string_view data,
                     const std::function<void(std::string_view, std::string_view)>& onRecord) {
    std::size_t pos = 0;
    while (pos < data.size()) {
        // A line break before the TAB means a record without one.
        std::size_t tab = data.find_first_of("\t\r\n", pos);
        if (tab == std::string_view::npos || data[tab] != '\t')
            return;
        std::size_t cr = data.find('\r', tab + 1);
        if (cr == std::string_view::npos || cr + 1 >= data.size() || data[cr + 1] != '\n')
            return;
        onRecord(data.substr(pos, tab - pos), data.substr(tab + 1, cr - tab - 1));
        pos = cr + 2;
    }
}

bool ReadRecordFile(const std::filesystem::path& file,
                    const std::function<void(std::string_view, std::string_view)>& onRecord) {
    std::string data;
    if (!ReadWholeFile(file, data))
        return false;
    ParseRecordFile(data, onRecord);
    return true;
}

bool WriteRecordFile(const std::filesystem::path& file,
                     const std::vector<std::pair<std::string_view, std::string_view>>& records) {
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
    if (file.has_parent_path() && !ForceDirectories(file.parent_path()))
        return false;
    return WriteFileAtomic(file, data);
}

} // namespace tarnhold
