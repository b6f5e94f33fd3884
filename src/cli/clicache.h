// Opening the cache the commands work on: --cache, $TARNHOLD_CACHE, a Wine
// prefix's Internet Explorer cache, the user's Chromium or Firefox cache, or
// the demo cache the build writes; and the tree every command that needs it
// opens the same way.
#pragma once

#include "cli.h"
#include "sources/cachelocation.h"
#include "sources/cachesource.h"
#include "tree/urlmatch.h"
#include "tree/webcachetree.h"

#include <memory>
#include <string_view>
#include <vector>

namespace tarnhold::cli {

// The demo cache this program reads when it finds no other: the one
// installed with it, else the build's (FindDemoCache); empty when neither
// is there.
const std::filesystem::path& DemoCache();

// The source over the located cache, or none after saying why. Says on
// stderr which cache it is unless the user named it itself with --cache, and
// which others were found beside it. With --recovered it delivers the deleted
// entries it still holds (an index.dat's).
// cachePath, when given, receives the path that names the cache for its
// rename list (CacheIdentityPath).
std::unique_ptr<TCacheSource> OpenCacheSource(const TCliContext& ctx,
                                              std::filesystem::path* cachePath = nullptr);

// A source whose last read failed: false after reporting it. A read that
// needed recovery is said once (what was wrong) and marks the run as one
// that lost data (ctx.DataLost: it ends with kExitFailure after its output),
// but counts as readable.
bool CheckReadable(const TCliContext& ctx, const TCacheSource& source);

// The cache a source reads, for messages: an index.dat's path, else what the
// source says of itself.
std::string ShowSource(const TCliContext& ctx, const TCacheSource& source);

// Lets deletions wait up to 10 seconds for the cache's lock while another
// program holds it, saying so when they start waiting. False when the source
// takes no lock it could wait for (a browser's cache refuses at once).
bool WaitForLock(const TCliContext& ctx, TCacheSource& source);

// The file or folder a found cache is read from, for listings: its index.dat,
// or the browser cache's folder.
std::filesystem::path CachePathOf(const TFoundCache& cache);

// When the command is done with it, the tree saves the data files and warns
// once when the data folder cannot be written.
struct TTreeCloser {
    const TCliContext* ctx = nullptr;
    // Set by a command whose process ends right after its output: once the
    // data files are saved, the tree is left for the end of the process to
    // take back instead of being freed node by node (a large share of the
    // run on a big cache). A failed save takes the usual way.
    bool LeaveAtExit = false;
    void operator()(TWebCacheTree* tree) const;
};
using TCliTree = std::unique_ptr<TWebCacheTree, TTreeCloser>;

// What every command that needs the cache tree starts with: the tree over
// the located cache (OpenCacheSource), sharing the cache's rename list and
// the content-type table of the data folder with the window, refreshed as the
// window does (read, build, sort, name duplicates), its read checked
// (CheckReadable: damage is said once and fails the run after its output).
// None, after saying why, when no cache could be located or read: the
// command then ends with kExitFailure. Its source is Cache().Source().
TCliTree OpenReadableTree(const TCliContext& ctx);

// The caches found on the machine (or below --cache), each with where it was
// found; the first is the one the commands read.
std::vector<TFoundCache> ListCaches(const TCliContext& ctx);

// Says on the error stream that typed names no folder, or (with the
// candidates FindFolder gave) that it is ambiguous.
void ReportNoFolder(const TCliContext& ctx, std::string_view typedUtf8,
                    const std::vector<TWebCacheTreeNode*>& candidates);

// Says on the error stream that typed names nothing, or (with the
// candidates MatchFileNodes gave) that it is ambiguous.
void ReportNoMatch(const TCliContext& ctx, std::string_view typedUtf8, std::string_view what,
                   const std::vector<TWebCacheTreeNode*>& candidates);

// A folder URL of the tree (decoded ANSI) percent-encoded as UTF-8, the form
// a browser's address bar and the cache itself use.
std::string EncodeFolderUrl(std::string_view ansi);

// The path below the save folder (UTF-8, "/" between names) that a copy
// keeping the whole URL path (folder method 2) writes a node to, as the copy
// engine names it; a folder's ends in "/".
std::string CopyPathOf(const TWebCacheTreeNode& node);

// The nodes the operands name, each once: a folder by its URL as the tree
// prints it (a URL ending in "/" names the folder even where a document is
// cached under it), else the cached file of that URL, else the folder
// without its final "/". minLevel as TUrlMatcher takes it. False after saying
// which operand names nothing (or several files); the root is never named.
bool FindNodes(const TCliContext& ctx, TWebCacheTree& tree,
               const std::vector<std::string>& operands, int minLevel,
               std::vector<TWebCacheTreeNode*>& nodes);

// The nodes without those that lie below another of them (they go with it).
std::vector<TWebCacheTreeNode*> Outermost(const std::vector<TWebCacheTreeNode*>& nodes);

} // namespace tarnhold::cli
