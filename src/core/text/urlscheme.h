// The URL schemes the program treats as web documents, and URL combination:
// the small parts of the system's URL services the program needs.
#pragma once

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

// Resolves a reference against a base URL (RFC 3986, section 5.2) keeping
// every byte it is given: nothing is escaped, unescaped or case-folded. Empty
// when the two cannot be combined (neither has a scheme).
std::string CombineUrl(std::string_view base, std::string_view relative);

} // namespace tarnhold
