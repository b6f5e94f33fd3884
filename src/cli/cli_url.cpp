// tarnhold-cli url ...: the URL arithmetic the cache tree and the copies use.
#include "cli.h"
#include "copy/rebuildpage.h"
#include "text/urlutils.h"
#include "tree/localpaths.h"
#include "tree/webcachetree.h"

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
    // Named as the copy names documents that the cache does not hold: the
    // tree is empty, so nothing is renamed or numbered.
    TWebCacheTree tree;
    tree.SetEnableScheme(ctx.EnableScheme);
    const TLocalNameTable names(tree);
    if (sub == "split") {
        std::string dir, file, suffix;
        SplitURL(url, &dir, &file, &suffix);
        ctx.WriteLine(ctx.Show(dir));
        ctx.WriteLine(ctx.Show(file));
        ctx.WriteLine(ctx.Show(suffix));
    } else if (sub == "decode") {
        ctx.WriteLine(ctx.Show(DecodeURL(url)));
    } else if (sub == "relative") {
        // The link as it is written into a copied page (the value as it
        // stands when the copy leaves it alone).
        const std::string target = ctx.ArgToAnsi(args.Operands[2]);
        TPageRewriter rewriter(names);
        std::string link;
        ctx.WriteLine(rewriter.LinkFromPage(url, target, link) ? ctx.Show(link) : ctx.Show(target));
    } else if (sub == "localpath") {
        // A fragment names a place in the document, not another file.
        ctx.WriteLine(ctx.ShowUtf8(JoinLocalPath(names.WouldBePath(url.substr(0, url.find('#'))))));
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
    "localpath  the relative path below the save folder that a copy keeping the\n"
    "           whole URL path writes the document to\n"
    "siteroot   scheme and host (\"http://h/\")\n"
    "relative   the link from BASE's page to TARGET as written into a copied\n"
    "           page\n"
    "\n"
    "URL, BASE and TARGET are UTF-8, decoded or percent-encoded; split,\n"
    "siteroot and relative take absolute URLs (scheme://host/path) only.\n"
    "localpath and relative name documents as a copy names those that the\n"
    "cache does not hold (name shows what a cached URL is copied to).\n"
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
