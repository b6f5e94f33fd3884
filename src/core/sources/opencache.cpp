#include "sources/opencache.h"

#include "sources/chromium/chromiumbackends.h"
#include "sources/firefox/firefoxcache.h"
#include "sources/indexdat/indexdatsource.h"

namespace tarnhold {

std::unique_ptr<TCacheSource> OpenCacheSourceAt(const std::filesystem::path& path, TCacheKind kind,
                                                TError* error) {
    if (error != nullptr)
        *error = {};
    switch (kind) {
    case TCacheKind::ckChromium:
        return OpenChromiumCache(path);
    case TCacheKind::ckFirefox: {
        TError why;
        auto source = OpenFirefoxCache(path, &why);
        if (!source && error != nullptr)
            *error = std::move(why);
        return source;
    }
    case TCacheKind::ckIndexDat:
        break;
    }
    return std::make_unique<TIndexDatSource>(path);
}

} // namespace tarnhold
