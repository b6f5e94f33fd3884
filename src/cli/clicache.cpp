#include "clicache.h"

#include "cache/cachelocation.h"
#include "platform/appfolder.h"

#include <cerrno>
#include <ostream>

namespace tarnhold::cli {

std::unique_ptr<TIndexDatSource> OpenCacheSource(const TCliContext& ctx) {
    const TCacheLocation where = LocateCache(ctx.Cache, TARNHOLD_DEMO_CACHE);
    auto source = std::make_unique<TIndexDatSource>(where.Path);
    if (where.Origin != TCacheOrigin::coOption)
        *ctx.Err << "tarnhold-cli: reading " << source->IndexFile().string() << " ("
                 << where.Description << ")\n";
    return source;
}

bool CheckReadable(const TCliContext& ctx, const TIndexDatSource& source) {
    const int error = source.LastError();
    if (error == 0)
        return true;
    if (error == EBADMSG)
        *ctx.Err << "error: " << source.IndexFile().string()
                 << ": not an Internet Explorer cache index (index.dat)\n";
    else
        ctx.ReportError(source.IndexFile().string(), error);
    return false;
}

std::unique_ptr<TWebCacheTree> OpenCacheTree(const TCliContext& ctx, TIndexDatSource*& source) {
    auto owned = OpenCacheSource(ctx);
    source = owned.get();
    auto tree = std::make_unique<TWebCacheTree>(std::move(owned));
    const auto data = GetAppFolder();
    tree->SetRenameListFile(data / "renameList.dat");
    tree->SetContentTypeFile(data / "contentType.dat");
    tree->SetEnableScheme(ctx.EnableScheme);
    (void)tree->Refresh(); // CheckReadable reports a cache that could not be read
    return tree;
}

} // namespace tarnhold::cli
