// Opening the cache the commands work on: --cache, $TARNHOLD_CACHE, a Wine
// prefix's Internet Explorer cache, or the demo cache the build writes.
#pragma once

#include "cli.h"
#include "sources/cachelocation.h"
#include "sources/indexdat/indexdatsource.h"
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
// which others were found beside it.
std::unique_ptr<TCacheSource> OpenCacheSource(const TCliContext& ctx);

// A source whose last read failed: false after reporting it. A read that
// needed recovery is said once (what was wrong) and marks the run as one
// that lost data (ctx.DataLost), but counts as readable.
bool CheckReadable(const TCliContext& ctx, const TCacheSource& source);

// The file or folder a found cache is read from, for listings: its index.dat,
// or the browser cache's folder.
std::filesystem::path CachePathOf(const TFoundCache& cache);

// A cache tree over the located cache, sharing the rename list and the
// content-type table of the data folder with the window, refreshed as the
// window does (Refresh: read, build, sort, name duplicates). source receives the
// tree's source, for CheckReadable. None (after saying why) when no cache
// could be located.
// When the command is done with it, the tree saves the data files and warns
// once when the data folder cannot be written.
struct TTreeCloser {
    const TCliContext* ctx = nullptr;
    void operator()(TWebCacheTree* tree) const;
};
using TCliTree = std::unique_ptr<TWebCacheTree, TTreeCloser>;
TCliTree OpenCacheTree(const TCliContext& ctx, TCacheSource*& source);

// The caches found on the machine (or below --cache), each with where it was
// found; the first is the one the commands read.
std::vector<TFoundCache> ListCaches(const TCliContext& ctx);

// The folder a URL typed by the user names: as the tree prints it or
// percent-encoded, with or without the scheme and the trailing "/". Typed
// without a scheme it may lie below any scheme of the tree. None when the
// tree has no such folder, or when it lies below several schemes (those go
// to *ambiguous).
TWebCacheTreeNode* FindFolder(TWebCacheTree& tree, std::string_view typedUtf8,
                              std::vector<TWebCacheTreeNode*>* ambiguous = nullptr);

// Says on the error stream that typed names no folder, or (with the
// candidates FindFolder gave) that it is ambiguous.
void ReportNoFolder(const TCliContext& ctx, std::string_view typedUtf8,
                    const std::vector<TWebCacheTreeNode*>& candidates);

// A folder URL of the tree (decoded ANSI) percent-encoded as UTF-8, the form
// a browser's address bar and the cache itself use.
std::string EncodeFolderUrl(std::string_view ansi);

// The path below the save folder (UTF-8, "/" between names) that a copy
// keeping the whole URL path (folder method 2) writes a node to, as the copy
// engine names it; a folder's ends in "/".
std::string CopyPathOf(const TWebCacheTreeNode& node);

} // namespace tarnhold::cli

namespace tarnhold::cli {

// Finding what the user named among the cache's URLs. A URL may be typed as
// the cache holds it (percent-encoded) or decoded, as UTF-8, and in the forms
// the tree prints (without the scheme, "host:port//"). The exact form
// wins over one that matches only when both are decoded, and that over a
// match ignoring case; several at the best level make the name ambiguous.
class TUrlMatcher {
public:
    // minLevel 2 leaves out matches that ignore case (for deleting).
    explicit TUrlMatcher(std::string_view typedUtf8, int minLevel = 1);
    // 3 exact, 2 the same when decoded, 1 the same ignoring case, 0 none.
    int Level(std::string_view cacheUrl) const;
    // Offers one candidate; keeps those at the best level so far.
    void Offer(std::string_view cacheUrl, std::size_t item);
    const std::vector<std::size_t>& Best() const { return best_; }

private:
    std::string utf8_;
    std::string ansi_;
    bool dropScheme_; // typed without a scheme, as --no-scheme shows URLs
    std::string decoded_;
    int minLevel_;
    int bestLevel_ = 0;
    std::vector<std::size_t> best_;
};

// Finding the tree's nodes that the user named.

// The file nodes a cache URL typed by the user may name: among the files of
// the URL's folder (or of its local name's), those whose entry has that URL,
// at the best level of TUrlMatcher (minLevel as there). One node, none, or
// several when the name is ambiguous.
std::vector<TWebCacheTreeNode*> MatchFileNodes(TWebCacheTree& tree, std::string_view typedUtf8,
                                               int minLevel = 1);

// Says on the error stream that typed names nothing, or (with the
// candidates) that it is ambiguous.
void ReportNoMatch(const TCliContext& ctx, std::string_view typedUtf8, std::string_view what,
                   const std::vector<TWebCacheTreeNode*>& candidates);

} // namespace tarnhold::cli
