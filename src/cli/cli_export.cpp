// tarnhold-cli export: cached files, folders and sites written as a web
// archive (WARC or WACZ) that replay tools open.
#include "archive/webarchive.h"
#include "clicache.h"
#include "clicopyterm.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ostream>
#include <unistd.h>

namespace tarnhold::cli {

namespace {

using TClock = std::chrono::steady_clock;

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) {
    gInterrupted = 1;
}

// Ctrl+C while the archive is written stops it cleanly: the half-written
// file is removed rather than left beside the target.
class TInterruptGuard {
public:
    TInterruptGuard() {
        gInterrupted = 0;
        struct sigaction action {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &oldInt_);
        ::sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~TInterruptGuard() {
        ::sigaction(SIGINT, &oldInt_, nullptr);
        ::sigaction(SIGTERM, &oldTerm_, nullptr);
    }
    TInterruptGuard(const TInterruptGuard&) = delete;
    TInterruptGuard& operator=(const TInterruptGuard&) = delete;

private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

int RunExport(TCliContext& ctx, const TCliArgs& args) {
    if (!args.Has("to") || args.Value("to").empty())
        return UsageError(ctx, "where to? give --to FILE.warc.gz or --to FILE.wacz");
    const std::filesystem::path to = args.Value("to");
    if (ArchiveFormatOf(to) == TArchiveFormat::Unknown)
        return UsageError(ctx, "--to takes a file ending in .warc.gz or .wacz");
    TArchiveOptions options;
    options.Decoded = args.Has("decoded");
    if (args.Has("title"))
        options.Title = args.Value("title");

    auto tree = OpenReadableTree(ctx);
    if (!tree)
        return kExitFailure;
    std::vector<TWebCacheTreeNode*> nodes;
    if (!FindNodes(ctx, *tree, args.Operands, 1, nodes))
        return kExitFailure;
    nodes = Outermost(nodes);

    const bool shown = ::isatty(STDERR_FILENO) == 1;
    bool drawn = false;
    TClock::time_point last;
    auto clear = [&] {
        if (drawn)
            *ctx.Err << "\r\x1b[K" << std::flush;
        drawn = false;
    };
    const TArchiveProgress progress = [&](int done, int total, const TWebCacheTreeNode* node,
                                          std::uint64_t bytes) {
        if (gInterrupted != 0)
            return false;
        if (!shown)
            return true;
        const auto now = TClock::now();
        if (drawn && now - last < std::chrono::milliseconds(100))
            return true;
        last = now;
        drawn = true;
        std::string line = "\r" + std::to_string(done) + "/" + std::to_string(total) +
                           " entries, " + std::to_string(bytes) + " bytes";
        if (node != nullptr)
            line += "  " + Tail(ctx.Show(node->Info().Url), 48);
        *ctx.Err << line << "\x1b[K" << std::flush;
        return true;
    };

    TArchiveStats stats;
    const auto start = TClock::now();
    TError error;
    {
        TInterruptGuard guard;
        error = ExportWebArchive(*tree, nodes, to, options, stats, progress);
    }
    clear();
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - start).count();

    for (const TArchiveProblem& problem : stats.Problems)
        ctx.Warn("export: " + ctx.Show(problem.Url) + ": " + ctx.ShowUtf8(problem.What));
    if (stats.Skipped > 0)
        ctx.DataLost = true;
    if (error) {
        if (error.Code() == ECANCELED)
            ctx.Fail("export: cancelled; nothing written");
        else
            ctx.Fail("export: nothing written: " + ctx.ShowUtf8(error.Text()));
        return kExitFailure;
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", static_cast<double>(milliseconds) / 1000);
    const std::string human =
        "exported " + std::to_string(stats.Responses) +
        (stats.Responses == 1 ? " response, " : " responses, ") + std::to_string(stats.Revisits) +
        (stats.Revisits == 1 ? " revisit, " : " revisits, ") + std::to_string(stats.Pages) +
        (stats.Pages == 1 ? " page, " : " pages, ") + std::to_string(stats.Skipped) + " skipped (" +
        std::to_string(stats.PayloadBytes) + " bytes of bodies) to " + ctx.ShowPath(to) + " (" +
        std::to_string(stats.FileBytes) + " bytes), " + seconds;
    TListing listing(ctx, {"responses", "revisits", "pages", "skipped", "stored_as_is",
                           "payload_bytes", "file_bytes", "milliseconds", "destination"});
    auto count = [](int n) { return TValue::Count(static_cast<std::uint64_t>(n)); };
    listing.Row(human, [&] {
        return std::vector<TValue>{count(stats.Responses),
                                   count(stats.Revisits),
                                   count(stats.Pages),
                                   count(stats.Skipped),
                                   count(stats.StoredAsIs),
                                   TValue::Count(stats.PayloadBytes),
                                   TValue::Count(stats.FileBytes),
                                   TValue::Count(static_cast<std::uint64_t>(milliseconds)),
                                   TValue::Utf8(to.native())};
    });
    return kExitOk;
}

const TCliCommandRegistrar kExport({
    "export",
    "export URL-OR-FOLDER... --to FILE [--decoded]",
    "cached files, folders or sites as a web archive (WARC, WACZ)",
    "Each operand is a cached file's URL (as stored or decoded) or a folder's\n"
    "URL as tree prints it (ending in \"/\" it names the folder); a folder is\n"
    "written with everything below it. FILE ending in .warc.gz gets one WARC\n"
    "1.1 file: a warcinfo record, then a response record per cached file (its\n"
    "URL, the time the browser stored it, the status line and headers it\n"
    "received, the body), each record its own gzip member. A URL the browser\n"
    "keeps more than once (one copy per site that loaded it) gets a record per\n"
    "copy: a revisit record when its body is the same. FILE ending in .wacz\n"
    "gets a WACZ package for ReplayWeb.page and the like: the WARC, its CDXJ\n"
    "index, the list of HTML pages with their titles, and datapackage.json.\n"
    "Bodies are written as the browser received them (Content-Encoding kept);\n"
    "--decoded writes them decoded, for replay tools that cannot decode br or\n"
    "zstd. The file is written under a temporary name beside FILE and renamed\n"
    "when complete, replacing FILE; a failure or Ctrl+C leaves nothing.\n"
    "An entry whose body cannot be read or fails its checksum is named on\n"
    "standard error and left out; the rest is written (exit code 1).\n"
    "On a terminal a progress line is shown on standard error. At the end one\n"
    "line: \"exported N responses, R revisits, P pages, S skipped (B bytes of\n"
    "bodies) to FILE (F bytes), T s\".\n"
    "fields (--json, --tsv): responses, revisits, pages, skipped, stored_as_is,\n"
    "payload_bytes, file_bytes, milliseconds, destination.\n"
    "\n"
    "example: tarnhold-cli export http://www.example.com/ --to example.wacz\n",
    {{"to", 0, "FILE", "the archive to write: FILE.warc.gz or FILE.wacz"},
     {"decoded", 0, "", "write bodies decoded, without Content-Encoding"},
     {"title", 0, "TEXT", "the WACZ package's title (default: the first operand)"}},
    true,
    1,
    -1,
    RunExport,
});

} // namespace

} // namespace tarnhold::cli
