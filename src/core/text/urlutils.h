// URL arithmetic: how cache URLs are taken apart, decoded and escaped. All
// text is ANSI (CP932) bytes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tarnhold {

// The value of a hexadecimal digit ("0"-"9", "a"-"f", "A"-"F"); -1 for any
// other character.
int HexDigitValue(char c);

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
// DecodeURL for people to read, as UTF-8: a part whose escapes decode to
// UTF-8 keeps every character of it (those Shift-JIS lacks too, which
// DecodeURL turns into "?"); other parts read as DecodeURL reads them.
std::string DecodeURLForDisplay(std::string_view url);

// A name on disk ("$5c" form: every character a Windows name cannot hold,
// "?" included; "." and ".." become "$2e" and "$2e$2e", a NUL or stray "/"
// byte "$00" and "$2f"). The names and links of local copies are made from it
// in tree/localpaths.h.
std::string EscapeFileName(std::string_view name);

// A link as written in a page with its entities "&lt;", "&gt;", "&quot;" and
// "&amp;" replaced, in that order (exact case, every occurrence).
std::string DecodeLinkEntities(std::string_view link);

// Scheme and host with a trailing "/" ("http://h1/"), or empty without two "/".
std::string GetSiteRootURL(std::string_view url);
// The URL through its last "/" (empty without one).
std::string GetURLDirectory(std::string_view url);
// The directory above the URL's directory ("http://h1/a/b/c.html" -> "http://h1/a/").
std::string GetParentURL(std::string_view url);
// The name of the URL's last directory ("http://h1/a/b/c.html" -> "b").
std::string GetURLFolderName(std::string_view url);
// What follows the last "/" (empty for a URL ending in "/").
std::string GetURLFileName(std::string_view url);

} // namespace tarnhold
