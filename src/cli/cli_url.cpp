// tarnhold-cli url ...: the URL arithmetic the cache tree and the copies use.
#include "cli.h"
#include "text/urlutils.h"

#include <ostream>

namespace tarnhold::cli {
namespace {

// Whether text reads as an absolute URL: a scheme ("http:", "file:") first.
bool LooksLikeUrl(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = text[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!letter && !(i > 0 && other))
            return false;
    }
    return true;
}

int RunUrl(TCliContext& ctx, const TCliArgs& args) {
    const std::string& sub = args.Operands[0];
    const std::size_t wanted = sub == "relative" ? 3 : 2;
    if (sub != "split" && sub != "decode" && sub != "relative" && sub != "localpath" &&
        sub != "siteroot")
        return UsageError(ctx, "unknown subcommand '" + EscapeForTerminal(sub) + "'");
    if (args.Operands.size() != wanted)
        return UsageError(ctx, sub + (wanted == 3 ? " takes BASE and TARGET" : " takes one URL"));
    // decode and localpath take any text; the others need the URL's parts.
    const bool needsUrl = sub == "split" || sub == "siteroot" || sub == "relative";
    for (std::size_t i = 1; i < wanted && needsUrl; ++i) {
        if (!LooksLikeUrl(args.Operands[i]))
            return UsageError(ctx, "'" + EscapeForTerminal(args.Operands[i]) +
                                       "' is no URL (scheme://host/path)");
    }

    const std::string url = ctx.ArgToAnsi(args.Operands[1]);
    if (sub == "split") {
        std::string dir, file, suffix;
        SplitURL(url, &dir, &file, &suffix);
        ctx.WriteLine(ctx.Show(dir));
        ctx.WriteLine(ctx.Show(file));
        ctx.WriteLine(ctx.Show(suffix));
    } else if (sub == "decode") {
        ctx.WriteLine(ctx.Show(DecodeURL(url)));
    } else if (sub == "relative") {
        // The link as it is written into a copied page.
        ctx.WriteLine(
            ctx.Show(EscapeLinkPath(MakeRelativeURL(url, ctx.ArgToAnsi(args.Operands[2])))));
    } else if (sub == "localpath") {
        ctx.WriteLine(ctx.Show(URLToLocalPath(url)));
    } else {
        ctx.WriteLine(ctx.Show(GetSiteRootURL(url)));
    }
    return kExitOk;
}

const TCliCommandRegistrar registrar({
    "url",
    "url split|decode|localpath|siteroot URL\n"
    "url relative BASE TARGET",
    "the URL arithmetic behind local names and rewritten links",
    "split      three lines: the directory and the file name (both decoded) and\n"
    "           the suffix (query, parameters; kept as written)\n"
    "decode     the URL decoded as rename-list keys are: directory, name, suffix\n"
    "localpath  the relative path below the save folder a copy is written to\n"
    "siteroot   scheme and host (\"http://h/\")\n"
    "relative   the link from BASE's page to TARGET as written into a copied\n"
    "           page\n"
    "\n"
    "URL, BASE and TARGET are UTF-8, decoded or percent-encoded; split,\n"
    "siteroot and relative take absolute URLs (scheme://host/path) only.\n"
    "\n"
    "example: tarnhold-cli url localpath 'http://h/a b/c.cgi?x=1'\n",
    {},
    false,
    1,
    3,
    RunUrl,
});

} // namespace
} // namespace tarnhold::cli
