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

std::filesystem::path CacheIdentityPath(const std::filesystem::path& path, TCacheKind kind) {
    if (path.empty())
        return {};
    const std::filesystem::path named =
        kind == TCacheKind::ckIndexDat ? ResolveIndexDatPath(path) : path;
    std::error_code error;
    std::filesystem::path identity = std::filesystem::absolute(named, error);
    if (error)
        identity = named;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(identity, error);
    identity = error ? identity.lexically_normal() : resolved.lexically_normal();
    if (!identity.has_filename() && identity.has_relative_path())
        identity = identity.parent_path();
    return identity;
}

} // namespace tarnhold
