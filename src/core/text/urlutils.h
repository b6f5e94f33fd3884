// URL and path arithmetic: how cache URLs are taken apart and turned into
// local folders and relative links. All text is ANSI (CP932) bytes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarnhold {

// Percent-decodes; if any "%" was present, the decoded bytes are read as UTF-8
// and converted to ANSI. A "%xx" pair that decodes to 0 ends the text.
std::string DecodeURLString(std::string_view text);
// UTF-8 bytes to ANSI text, with the tolerant reading the cache needs (no
// continuation-byte checks; stray bytes become U+0080-U+00FF).
std::string DecodeUTF8Text(std::string_view utf8);

// Cuts a URL into directory, file name (both percent-decoded) and suffix
// (query, parameters, or a tail of segments starting at one holding "=" or
// "$"; kept byte for byte). A null out argument is not filled.
void SplitURL(std::string_view url, std::string* directory, std::string* fileName,
              std::string* suffix);
// Directory + file name + suffix after SplitURL: the normal form of rename-list keys.
std::string DecodeURL(std::string_view url);

// The relative link from base's directory to target (unescaped; callers pass
// it through EscapeLinkPath).
std::string MakeRelativeURL(std::string_view base, std::string_view target);

// Names on disk ("$5c" form) and relative links ("%5c" form).
std::string EscapeFileName(std::string_view name);
std::string EscapeLinkPath(std::string_view link);

// A URL or URL directory as a relative local path joined with "/". Never
// absolute, and no component is "." or "..".
std::string URLToLocalPath(std::string_view url);

std::string GetSiteRootURL(std::string_view url);
std::string GetURLDirectory(std::string_view url);
std::string GetParentURL(std::string_view url);
std::string GetURLFolderName(std::string_view url);
std::string GetURLFileName(std::string_view url);

} // namespace tarnhold
