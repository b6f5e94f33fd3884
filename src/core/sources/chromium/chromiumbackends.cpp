#include "sources/chromium/chromiumbackends.h"

#include "sources/chromium/chromiumblockfile.h"
#include "sources/chromium/chromiumcache.h"
#include "sources/chromium/chromiumsql.h"

namespace tarnhold {

namespace {

template <class TSource> std::unique_ptr<TCacheSource> Open(const std::filesystem::path& folder) {
    return std::make_unique<TSource>(folder);
}

// Every backend the program reads: how its folder is recognized and its
// reader made. The first that recognizes a folder reads it.
struct TBackend {
    TChromiumBackend Backend;
    bool (*Holds)(const std::filesystem::path& folder);
    std::unique_ptr<TCacheSource> (*Open)(const std::filesystem::path& folder);
};
const TBackend kBackends[] = {
    {TChromiumBackend::Simple, IsChromiumCacheFolder, Open<TChromiumCacheSource>},
    {TChromiumBackend::Blockfile, IsChromiumBlockfileFolder, Open<TChromiumBlockfileSource>},
    {TChromiumBackend::Sql, IsChromiumSqlCacheFolder, Open<TChromiumSqlSource>},
};

} // namespace

std::optional<TChromiumBackend> ChromiumBackendOf(const std::filesystem::path& folder) {
    for (const TBackend& b : kBackends)
        if (b.Holds(folder))
            return b.Backend;
    return std::nullopt;
}

std::unique_ptr<TCacheSource> OpenChromiumCache(const std::filesystem::path& folder) {
    for (const TBackend& b : kBackends)
        if (b.Holds(folder))
            return b.Open(folder);
    return kBackends[0].Open(folder);
}

} // namespace tarnhold
