#include "sources/cachesource.h"

#include "text/urlscheme.h"

namespace tarnhold {

bool IsAcceptedCacheEntry(std::uint32_t entryType, std::string_view url) {
    if ((entryType & (COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY)) != 0)
        return false;
    return CrackUrlScheme(url) != usUnknown;
}

} // namespace tarnhold
