#include "sources/cachesource.h"

#include "text/urlscheme.h"

namespace tarnhold {

const char* CacheKindName(TCacheKind kind) {
    switch (kind) {
    case TCacheKind::ckChromium:
        return "chromium";
    case TCacheKind::ckFirefox:
        return "firefox";
    case TCacheKind::ckIndexDat:
        break;
    }
    return "index.dat";
}

bool IsAcceptedCacheEntry(std::uint32_t entryType, std::string_view url) {
    if ((entryType & (COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY)) != 0)
        return false;
    return CrackUrlScheme(url) != usUnknown;
}

} // namespace tarnhold
