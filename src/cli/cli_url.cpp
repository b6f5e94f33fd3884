// tarnhold-cli url ...: the URL arithmetic the cache tree and the copies use.
#include "cli.h"
#include "text/urlutils.h"

#include <ostream>

namespace tarnhold::cli {
namespace {

int RunUrl(TCliContext& ctx, const std::vector<std::string>& args) {
    if (args.empty())
        return UsageError(ctx, "url", "url needs a subcommand");
    const std::string& sub = args[0];
    const std::size_t wanted = sub == "relative" ? 3 : 2;
    if (sub != "split" && sub != "decode" && sub != "relative" && sub != "localpath" &&
        sub != "siteroot")
        return UsageError(ctx, "url", "unknown url subcommand " + sub);
    if (args.size() != wanted)
        return UsageError(ctx, "url", "wrong number of arguments for url " + sub);

    const std::string url = ctx.ArgToAnsi(args[1]);
    if (sub == "split") {
        std::string dir, file, suffix;
        SplitURL(url, &dir, &file, &suffix);
        ctx.WriteLine(dir);
        ctx.WriteLine(file);
        ctx.WriteLine(suffix);
    } else if (sub == "decode") {
        ctx.WriteLine(DecodeURL(url));
    } else if (sub == "relative") {
        // The link as it is written into a copied page.
        ctx.WriteLine(EscapeLinkPath(MakeRelativeURL(url, ctx.ArgToAnsi(args[2]))));
    } else if (sub == "localpath") {
        ctx.WriteLine(URLToLocalPath(url));
    } else {
        ctx.WriteLine(GetSiteRootURL(url));
    }
    return kExitOk;
}

const TCliCommandRegistrar registrar({
    "url",
    "url split|decode|localpath|siteroot URL | url relative BASE TARGET",
    "split: directory, file name, suffix (one per line); decode: the decoded URL; "
    "localpath: the relative path a copy is written to; siteroot: scheme and host; "
    "relative: the link from BASE's page to TARGET as written into a copied page",
    RunUrl,
});

} // namespace
} // namespace tarnhold::cli
