// The URL schemes the program treats as web documents, and URL combination:
// the small parts of the system's URL services the program needs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnhold {

enum TUrlScheme : int {
    usUnknown = -1,
    usFtp = 1,
    usGopher,
    usHttp,
    usHttps,
    usFile,
    usNews,
    usMailto,
    usSocks,
    usJavascript,
    usVbscript,
    usRes,
};

// The scheme of a URL ("http:", case ignored), or usUnknown when the URL has
// none or one the program does not recognise.
TUrlScheme CrackUrlScheme(std::string_view url);

// The length of a URL's "scheme://", as the tree's folders split it off: the
// text through the first "://" (wherever it stands), 0 when there is none.
std::size_t SchemePrefixLength(std::string_view url);
// The URL without that "scheme://" (the whole URL when it holds none).
std::string_view WithoutScheme(std::string_view url);

// Whether a link's value is a script or a mail address ("javascript:",
// "mailto:", case ignored), which names no document and stays as written.
bool IsScriptOrMail(std::string_view value);

// Resolves a reference against a base URL (RFC 3986, section 5.2) keeping
// every byte it is given: nothing is escaped, unescaped or case-folded. Empty
// when the two cannot be combined (neither has a scheme).
std::string CombineUrl(std::string_view base, std::string_view relative);

} // namespace tarnhold
