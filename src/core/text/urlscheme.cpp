#include "text/urlscheme.h"

#include "platform/codepage.h"

#include <array>
#include <utility>

namespace tarnhold {

TUrlScheme CrackUrlScheme(std::string_view url) {
    static constexpr std::array<std::pair<std::string_view, TUrlScheme>, 11> kSchemes{{
        {"ftp", usFtp},
        {"gopher", usGopher},
        {"http", usHttp},
        {"https", usHttps},
        {"file", usFile},
        {"news", usNews},
        {"mailto", usMailto},
        {"socks", usSocks},
        {"javascript", usJavascript},
        {"vbscript", usVbscript},
        {"res", usRes},
    }};
    std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return usUnknown;
    std::string_view scheme = url.substr(0, colon);
    for (const auto& [name, value] : kSchemes) {
        if (AnsiSameText(scheme, name))
            return value;
    }
    return usUnknown;
}

} // namespace tarnhold
