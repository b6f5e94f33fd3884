// tarnhold-cli copy and delete: copying files, folders and sites out of the
// cache as the tree's copy command does, and deleting cache entries.
#include "clicache.h"
#include "clicopyterm.h"
#include "copy/copyengine.h"
#include "copy/copyreport.h"
#include "copy/deletenodes.h"
#include "platform/codepage.h"
#include "platform/filetime.h"
#include "text/displayformat.h"
#include "tree/webcachetree.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <istream>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnhold::cli {

namespace {

using TClock = std::chrono::steady_clock;

// The message of a stopped copy on the error stream.
void ReportFailure(const TCliContext& ctx, const TCopyFailure& failure) {
    ctx.Fail("copy: " + CopyFailureLine(ctx, failure));
}

// The overwrite question of --overwrite ask. Without a terminal to ask on,
// the first file that exists stops the copy (what was copied before it stays).
class TOverwritePrompts : public TTerminalPrompts {
public:
    using TTerminalPrompts::TTerminalPrompts;
    TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode& node,
                                  const std::filesystem::path& path) override {
        if (Context().InIsTerminal)
            return TTerminalPrompts::AskOverwrite(node, path);
        Progress().Clear();
        Context().Fail("copy: " + Context().ShowPath(path) +
                       " exists, and --overwrite ask needs a terminal to ask on; give "
                       "--overwrite all, none or newer");
        refused_ = true;
        return TOverwriteAnswer::Cancel;
    }
    // Whether the copy stopped at a question it could not ask.
    bool Refused() const { return refused_; }

private:
    bool refused_ = false;
};

int RunCopy(TCliContext& ctx, const TCliArgs& args) {
    if (!args.Has("to") || args.Value("to").empty())
        return UsageError(ctx, "where to? give --to DIR");
    const std::filesystem::path to = args.Value("to");
    const std::string folderArg = args.Has("folder") ? args.Value("folder") : "2";
    if (folderArg != "1" && folderArg != "2")
        return UsageError(ctx, "--folder takes 1 or 2");
    const std::string methodArg = args.Has("method") ? args.Value("method") : "1";
    if (methodArg != "1" && methodArg != "2" && methodArg != "3")
        return UsageError(ctx, "--method takes 1, 2 or 3");
    const std::string overwrite = args.Has("overwrite") ? args.Value("overwrite") : "ask";
    TOverwriteAnswer answer = TOverwriteAnswer::Yes;
    if (overwrite == "all")
        answer = TOverwriteAnswer::YesToAll;
    else if (overwrite == "none")
        answer = TOverwriteAnswer::NoToAll;
    else if (overwrite == "newer")
        answer = TOverwriteAnswer::Newer;
    else if (overwrite != "ask")
        return UsageError(ctx, "--overwrite takes ask, all, none or newer");
    std::filesystem::path reportFile;
    if (args.Has("report")) {
        reportFile = args.Value("report");
        if (reportFile.empty() || ReportFormatOf(reportFile) == TReportFormat::Unknown)
            return UsageError(ctx, "--report takes a file ending in .html, .htm or .csv");
    }
    const bool allLinks = !args.Has("reference-links");
    std::string defaultFile;
    if (args.Has("default-file")) {
        defaultFile = ctx.ArgToAnsi(args.Value("default-file"));
        if (defaultFile.empty() || defaultFile == "." || defaultFile == ".." ||
            defaultFile.find('/') != std::string::npos)
            return UsageError(ctx, "--default-file takes a file name");
    }

    auto tree = OpenReadableTree(ctx);
    if (!tree)
        return kExitFailure;
    if (!defaultFile.empty()) {
        tree->DefaultFileName = defaultFile;
        tree->RenameDuplicates(tree->Root());
    }
    std::vector<TWebCacheTreeNode*> nodes;
    if (!FindNodes(ctx, *tree, args.Operands, 1, nodes))
        return kExitFailure;
    nodes = Outermost(nodes);

    // One run per parent folder, in the order the operands name them: the
    // parent's URL is the copy prefix, as when the nodes are copied from the
    // tree. The overwrite answer holds for the whole command.
    std::vector<std::pair<const TWebCacheTreeNode*, std::vector<TWebCacheTreeNode*>>> runs;
    for (TWebCacheTreeNode* node : nodes) {
        auto run = std::find_if(runs.begin(), runs.end(),
                                [&](const auto& r) { return r.first == node->Parent(); });
        if (run == runs.end())
            runs.push_back({node->Parent(), {node}});
        else
            run->second.push_back(node);
    }

    TTerminalProgress progress(ctx, ::isatty(STDERR_FILENO) == 1);
    TOverwritePrompts prompts(ctx, progress);
    TCopyEngine engine(*tree, &prompts, &progress);
    progress.Attach(&engine);
    const auto start = TClock::now();
    bool done = true;
    TCopyOptions options;
    options.Destination = to;
    options.Method = CopyMethodFromNumber(methodArg[0] - '0');
    options.Folder = FolderMethodFromNumber(folderArg[0] - '0');
    options.AllLinks = allLinks;
    for (const auto& [parent, group] : runs) {
        options.PrefixFolder = parent;
        done = CopyToFolder(engine, group, options, &answer);
        if (!done)
            break;
    }
    progress.Clear();
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();

    const TCopyStats& s = engine.Stats();
    const int incomplete = engine.Report().IncompletePages();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", static_cast<double>(milliseconds) / 1000);
    const std::string human =
        std::string(done ? "copied " : "stopped after ") + std::to_string(s.Files) +
        (s.Files == 1 ? " file (" : " files (") + std::to_string(s.Bytes) + " bytes), " +
        std::to_string(s.Pages) + " pages rewritten, " + std::to_string(s.LinksOutside) + " of " +
        std::to_string(s.Links) + " links missing from the cache (on " +
        std::to_string(incomplete) + (incomplete == 1 ? " page), " : " pages), ") +
        std::to_string(s.Kept) + " kept, " + std::to_string(s.Skipped) + " without content, " +
        seconds;
    TListing listing(ctx,
                     {"done", "files", "bytes", "pages", "links", "links_outside", "kept",
                      "skipped", "collected", "pages_incomplete", "milliseconds", "destination"});
    auto count = [](int n) { return TValue::Count(static_cast<std::uint64_t>(n)); };
    listing.Row(human, [&] {
        return std::vector<TValue>{TValue::Bool(done),
                                   count(s.Files),
                                   TValue::Count(s.Bytes),
                                   count(s.Pages),
                                   count(s.Links),
                                   count(s.LinksOutside),
                                   count(s.Kept),
                                   count(s.Skipped),
                                   count(s.Collected),
                                   count(incomplete),
                                   TValue::Count(static_cast<std::uint64_t>(milliseconds)),
                                   TValue::Utf8(to.native())};
    });
    WarnAsIsFiles(ctx, s, "copy");
    bool reported = true;
    if (!reportFile.empty()) {
        // Written for a stopped copy too: it lists what was copied.
        TError error = WriteCopyReport(engine.Report(), reportFile, to.string());
        if (error) {
            ctx.Fail("copy: report not written: " + ctx.ShowUtf8(error.Text()));
            reported = false;
        }
    }
    if (done)
        return reported ? kExitOk : kExitFailure;
    if (engine.LastFailure().Error != 0)
        ReportFailure(ctx, engine.LastFailure());
    else if (!prompts.Refused())
        ctx.Fail("copy: cancelled");
    return kExitFailure;
}

// The question before a deletion: what goes (a folder with the number of
// its files, a file with its cached file), answered on the terminal.
bool ConfirmDelete(const TCliContext& ctx, const TWebCacheTree& tree,
                   const std::vector<TWebCacheTreeNode*>& nodes) {
    int files = 0;
    *ctx.Err << "Delete from the cache:\n";
    for (const TWebCacheTreeNode* node : nodes) {
        if (node->IsFolder) {
            const int below = tree.CountFiles(node);
            files += below;
            *ctx.Err << "  " << ctx.Show(node->DirUrl()) << " (folder, " << below
                     << (below == 1 ? " cached file)\n" : " cached files)\n");
        } else {
            ++files;
            *ctx.Err << "  " << ctx.Show(node->Info().Url)
                     << (node->Info().LocalFileName.empty()
                             ? std::string(" (no cached file)")
                             : " (cached file " + ctx.ShowUtf8(node->Info().LocalFileName) + ")")
                     << "\n";
        }
    }
    *ctx.Err << "Delete "
             << (files == 1 ? "this entry" : "these " + std::to_string(files) + " entries")
             << "? [y/N] " << std::flush;
    std::string answer;
    if (ctx.In == nullptr || !std::getline(*ctx.In, answer))
        return false;
    const std::string_view a = AnsiTrim(answer);
    return AnsiSameText(a, "y") || AnsiSameText(a, "yes");
}

int RunDelete(TCliContext& ctx, const TCliArgs& args) {
    const bool yes = args.Has("yes");
    if (!yes && !ctx.InIsTerminal)
        return UsageError(ctx, "standard input is no terminal to ask on; give --yes to delete "
                               "without asking");
    auto tree = OpenReadableTree(ctx);
    if (!tree)
        return kExitFailure;
    std::vector<TWebCacheTreeNode*> nodes;
    // Nothing is deleted on a guess about case.
    if (!FindNodes(ctx, *tree, args.Operands, 2, nodes)) {
        ctx.Fail("delete: nothing deleted");
        return kExitFailure;
    }
    nodes = Outermost(nodes);
    if (!yes && !ConfirmDelete(ctx, *tree, nodes)) {
        ctx.Fail("delete: nothing deleted");
        return kExitFailure;
    }
    WaitForLock(ctx, *tree->Cache().Source());
    TSubscription removed =
        tree->OnNodeDeleted.Subscribe([&ctx](TWebCacheTree&, std::string_view url) {
            ctx.WriteLine("removed " + ctx.Show(url));
        });
    TError error;
    const int deleted = DeleteCacheNodes(*tree, nodes, nullptr, &error);
    removed.Reset();
    ctx.WriteLine(std::to_string(deleted) +
                  (deleted == 1 ? " cached file deleted" : " cached files deleted"));
    if (error.Ok())
        return kExitOk;
    if (error.Code() == EBUSY)
        ctx.Fail("delete: an entry is in use by a browser; it and the ones after it stay: " +
                 ctx.ShowUtf8(error.Text()));
    else
        ctx.Fail("delete: stopped; the rest stays: " + ctx.ShowUtf8(error.Text()));
    return kExitFailure;
}

const TCliCommandRegistrar kCopy({
    "copy",
    "copy URL-OR-FOLDER... --to DIR [OPTIONS]",
    "copy cached files, folders or sites to a folder, links rewritten",
    "Each operand is a cached file's URL (as stored or decoded) or a folder's\n"
    "URL as tree prints it (ending in \"/\" it names the folder, even where a\n"
    "page is cached under that URL). A folder is copied with everything below\n"
    "it; pages get their links rewritten to the copies beside them. The copy\n"
    "starts from the folder that holds the operand, as the window's copy from\n"
    "the tree does: with --folder 2 (the default) a file lands in\n"
    "DIR/http$3a/HOST/PATH, with --folder 1 the operand itself lands in DIR.\n"
    "--method 2 or 3 also copies the images and frames that the pages embed\n"
    "from elsewhere on the same site, or from anywhere in the cache.\n"
    "Pages get href, src and background rewritten, and also srcset candidates,\n"
    "poster, object data, data-src and data-srcset, style attributes, <style>\n"
    "blocks and the <link> of stylesheets, icons and preloads; stylesheets get\n"
    "their url() and @import rewritten. --reference-links rewrites only href,\n"
    "src and background and copies stylesheets unchanged.\n"
    "--report FILE writes the links whose targets the cache did not hold, page\n"
    "by page, as HTML (FILE ending in .html or .htm) or CSV (.csv).\n"
    "--overwrite ask (the default) asks for each file that exists, on the\n"
    "terminal: [y]es, [n]o, [a]ll, [k]eep all, [w]here the cache is newer,\n"
    "[c]ancel. Without a terminal the first file that exists stops the copy\n"
    "(exit code 1); into a new folder nothing is asked.\n"
    "On a terminal a progress line is shown on standard error. At the end one\n"
    "line: \"copied N files (B bytes), P pages rewritten, O of L links missing\n"
    "from the cache (on I pages), K kept, S without content, T s\"; \"stopped\n"
    "after\" when a failure or a cancel stopped it (exit code 1, the reason on\n"
    "standard error; exit code 1 too when the report cannot be written).\n"
    "fields (--json, --tsv): done, files, bytes, pages, links, links_outside,\n"
    "kept, skipped, collected, pages_incomplete, milliseconds, destination.\n"
    "\n"
    "example: tarnhold-cli copy http://www.example.com/ --to ~/sites --method 2\n",
    {{"to", 0, "DIR", "the folder to copy to (made when missing)"},
     {"folder", 0, "1|2", "2: the whole URL path below DIR; 1: the operand in DIR"},
     {"method", 0, "1|2|3", "embedded files too: 1 none, 2 the same site's, 3 all"},
     {"overwrite", 0, "HOW", "files that exist: ask, all, none or newer"},
     {"default-file", 0, "NAME", "the name of folder documents (index.html)"},
     {"reference-links", 0, "", "rewrite only href, src and background"},
     {"report", 0, "FILE", "write the missing links to FILE (.html or .csv)"}},
    true,
    1,
    -1,
    RunCopy,
});

const TCliCommandRegistrar kDelete({
    "delete",
    "delete URL-OR-FOLDER... [--yes]",
    "delete cached files and folders with their cache entries",
    "Each operand is a cached file's URL (as stored or decoded; case counts) or\n"
    "a folder's URL as tree prints it; a folder goes with everything below it.\n"
    "If one names nothing, nothing is deleted (exit code 1). Then what goes is\n"
    "named and the question is asked on the terminal; without a terminal only\n"
    "--yes deletes (else exit code 2). Prints \"removed URL\" for each file and\n"
    "folder removed and \"N cached files deleted\". Stops at the first entry\n"
    "the cache will not give up (exit code 1): it and the ones after it stay.\n"
    "\n"
    "example: tarnhold-cli delete --yes http://www.example.com/old/\n",
    {{"yes", 'y', "", "delete without asking"}},
    false,
    1,
    -1,
    RunDelete,
});

} // namespace

} // namespace tarnhold::cli
