// The system's table of extensions and media types (/etc/mime.types), the
// source of the extension-to-type associations on this platform.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnhold {

// Where the table normally is.
constexpr const char* kSystemMimeTypesFile = "/etc/mime.types";

// (extension with its leading '.', media type) for every extension of every
// line, one pair per extension: where an extension is listed for several
// types, its first line wins, as one extension key has one type. Sorted by
// the byte order of the extensions. A missing or unreadable file gives an
// empty list.
std::vector<std::pair<std::string, std::string>>
ReadMimeTypesFile(const std::filesystem::path& file);
// The same over the text of such a file.
std::vector<std::pair<std::string, std::string>> ParseMimeTypes(std::string_view text);

} // namespace tarnhold
