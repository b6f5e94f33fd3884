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

} // namespace tarnhold
