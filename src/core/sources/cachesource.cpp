#include "sources/cachesource.h"

#include "text/urlscheme.h"

#include <algorithm>

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

std::string EndReadSummary(std::string text, const std::vector<std::string>& problems,
                           std::size_t total, std::size_t entries) {
    const std::size_t shown = std::min<std::size_t>(problems.size(), 3);
    for (std::size_t i = 0; i < shown; ++i)
        text += (i == 0 ? " (" : "; ") + problems[i];
    if (total > shown)
        text += "; and " + std::to_string(total - shown) + " more";
    if (shown > 0)
        text += ")";
    return text + "; " + std::to_string(entries) + (entries == 1 ? " entry" : " entries") + " read";
}

} // namespace tarnhold
