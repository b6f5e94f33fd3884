#include "clicache.h"

#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "sources/cachelocation.h"
#include "sources/indexdat/indexdatsource.h"
#include "sources/opencache.h"
#include "text/urlutils.h"
#include "tree/localpaths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace tarnhold::cli {

void TTreeCloser::operator()(TWebCacheTree* tree) const {
    // The local names given in this run are kept for the next one only if
    // the data folder takes them; say so once when it does not.
    static bool warned = false;
    if (TError error = tree->SaveDataFiles(); error && !warned && ctx != nullptr) {
        warned = true;
        ctx->Warn("the data folder " + ctx->ShowPath(GetAppFolder()) + " cannot be written (" +
                  ctx->ShowUtf8(TError::FromErrno(error.Code()).Text()) +
                  "); local names given now are not kept");
    } else if (!error && LeaveAtExit) {
        // Still reachable from here, so leak checkers do not count it.
        static auto* const left = new std::vector<TWebCacheTree*>;
        left->push_back(tree);
        return;
    }
    delete tree;
}

std::filesystem::path CachePathOf(const TFoundCache& cache) {
    return cache.Kind == TCacheKind::ckIndexDat ? ResolveIndexDatPath(cache.Folder) : cache.Folder;
}

const std::filesystem::path& DemoCache() {
    static const std::filesystem::path demo =
        FindDemoCache(TARNHOLD_INSTALLED_DEMO_CACHE, TARNHOLD_DEMO_CACHE);
    return demo;
}

std::unique_ptr<TCacheSource> OpenCacheSource(const TCliContext& ctx,
                                              std::filesystem::path* cachePath) {
    const TCacheLocation where = LocateCache(ctx.Cache, DemoCache());
    if (where.Error) {
        ctx.Fail(ctx.ShowUtf8(where.Error.Text()));
        return nullptr;
    }
    if (cachePath != nullptr)
        *cachePath = CacheIdentityPath(where.Path, where.Kind);
    TError error;
    auto source = OpenCacheSourceAt(where.Path, where.Kind, &error);
    if (!source) {
        ctx.Fail(ctx.ShowUtf8(error.Text()));
        return nullptr;
    }
    // Only a source that keeps deleted entries whole enough offers them.
    source->SetRecovered(ctx.Recovered);
    if (where.Origin != TCacheOrigin::coOption || where.Searched)
        ctx.Fail("reading " + ctx.ShowPath(CachePathOf({where.Path, {}, where.Kind})) + " (" +
                 ctx.ShowUtf8(where.Description) + ")");
    // A search below a large folder may find many: the first few are named,
    // the caches command lists them all.
    constexpr std::size_t kNamed = 8;
    for (std::size_t i = 0; i < where.Others.size() && i < kNamed; ++i)
        ctx.Fail("also found: " + ctx.ShowPath(CachePathOf(where.Others[i])) + " (" +
                 ctx.ShowUtf8(where.Others[i].Description) + "; read it with --cache)");
    if (where.Others.size() > kNamed)
        ctx.Fail("also found: " + std::to_string(where.Others.size() - kNamed) +
                 " more ('tarnhold-cli caches' lists them)");
    return source;
}

bool CheckReadable(const TCliContext& ctx, const TCacheSource& source) {
    const TError error = source.Error();
    const TReadReport report = source.ReadReport();
    if (error.Ok() && report.Damaged && !ctx.DataLost) {
        // Once per run: the rows read still follow.
        ctx.DataLost = true;
        ctx.Warn(ctx.ShowUtf8(report.Summary));
    }
    if (error.Ok())
        return true;
    ctx.Fail(ctx.ShowUtf8(error.Text()));
    return false;
}

std::string ShowSource(const TCliContext& ctx, const TCacheSource& source) {
    const std::filesystem::path index = source.IndexFile();
    return index.empty() ? ctx.ShowUtf8(source.Describe()) : ctx.ShowPath(index);
}

bool WaitForLock(const TCliContext& ctx, TCacheSource& source) {
    return source.SetLockWait(std::chrono::seconds(10), [&ctx] {
        *ctx.Err << "tarnhold-cli: another program (a browser?) holds the cache's lock; "
                    "waiting up to 10 seconds\n";
    });
}

TCliTree OpenReadableTree(const TCliContext& ctx) {
    std::filesystem::path cachePath;
    auto owned = OpenCacheSource(ctx, &cachePath);
    if (!owned)
        return nullptr;
    const TCacheSource& source = *owned;
    TCliTree tree(new TWebCacheTree(std::move(owned)), TTreeCloser{&ctx});
    const auto data = GetAppFolder();
    tree->SetRenameListFor(data, cachePath);
    tree->SetContentTypeFile(data / "contentType.dat");
    tree->SetEnableScheme(ctx.EnableScheme);
    (void)tree->Refresh(); // CheckReadable reports a cache that could not be read
    // A damaged data file is read as far as it goes and left as it is; say so
    // once, so the user knows why some local names may differ. The shared
    // rename list counts only while the cache takes its records from it.
    const std::filesystem::path types = data / "contentType.dat";
    for (const auto& [file, read] :
         {std::pair{&tree->RenameListFile(), &tree->RenameListRead()},
          std::pair{&tree->SharedRenameListFile(), &tree->SharedRenameListRead()},
          std::pair{&types, &tree->ContentTypeRead()}}) {
        // ENOTDIR: the data folder itself cannot be, said once already.
        if (read->Error && read->Error.Code() != ENOTDIR)
            *ctx.Err << "tarnhold-cli: warning: " << ctx.ShowUtf8(read->Error.Text())
                     << "; it is left as it is\n";
        else if (read->BadRecords > 0)
            *ctx.Err << "tarnhold-cli: warning: " << ctx.ShowPath(*file) << ": " << read->BadRecords
                     << (read->BadRecords == 1 ? " damaged record" : " damaged records")
                     << " passed over; the file is left as it is\n";
    }
    if (!CheckReadable(ctx, source))
        return nullptr;
    return tree;
}

std::vector<TFoundCache> ListCaches(const TCliContext& ctx) {
    if (ctx.Cache) {
        const TCacheLocation where = LocateCache(ctx.Cache, DemoCache());
        if (where.Error)
            return {};
        std::vector<TFoundCache> found{{where.Path, where.Description, where.Kind}};
        found.insert(found.end(), where.Others.begin(), where.Others.end());
        return found;
    }
    return FindAllCaches(DemoCache());
}

void ReportNoFolder(const TCliContext& ctx, std::string_view typedUtf8,
                    const std::vector<TWebCacheTreeNode*>& candidates) {
    if (candidates.size() < 2) {
        ctx.Fail(ctx.ShowUtf8(typedUtf8) +
                 ": no such folder in the cache (write it as the tree shows it, e.g. "
                 "http://host/dir/ or host/dir/)");
        return;
    }
    ctx.Fail(ctx.ShowUtf8(typedUtf8) + ": ambiguous; the cache holds:");
    for (const TWebCacheTreeNode* node : candidates)
        *ctx.Err << "  " << ctx.Show(node->DirUrl()) << "\n";
}

void ReportNoMatch(const TCliContext& ctx, std::string_view typedUtf8, std::string_view what,
                   const std::vector<TWebCacheTreeNode*>& candidates) {
    if (candidates.size() < 2) {
        ctx.Fail(ctx.ShowUtf8(typedUtf8) + ": no such " + std::string(what) + " in the cache");
        return;
    }
    ctx.Fail(ctx.ShowUtf8(typedUtf8) + ": ambiguous; the cache holds:");
    for (const TWebCacheTreeNode* node : candidates)
        *ctx.Err << "  " << ctx.Show(node->Info().Url) << "\n";
}

std::string EncodeFolderUrl(std::string_view ansi) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char ch : AnsiToUtf8(ansi)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F ||
            std::string_view("\"#%<>?\\^`{|}").find(ch) != std::string_view::npos) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

std::string CopyPathOf(const TWebCacheTreeNode& node) {
    std::string path = JoinLocalPath(NodeLocalPath(&node));
    if (node.IsFolder && !path.empty())
        path += '/';
    return path;
}

// The nodes the operands name, each once: a folder by its URL as the tree
// prints it (a URL ending in "/" names the folder even where a document is
// cached under it), else the cached file of that URL, else the folder
// without its final "/". minLevel as TUrlMatcher takes it. False after saying
// which operand names nothing (or several files); the root is never named.
bool FindNodes(const TCliContext& ctx, TWebCacheTree& tree,
               const std::vector<std::string>& operands, int minLevel,
               std::vector<TWebCacheTreeNode*>& nodes) {
    bool found = true;
    for (const std::string& typed : operands) {
        TWebCacheTreeNode* node = nullptr;
        std::vector<TWebCacheTreeNode*> files;
        std::vector<TWebCacheTreeNode*> folders; // below several schemes
        if (!typed.empty() && typed.back() == '/')
            node = FindFolder(tree, typed, &folders);
        if (node == nullptr && folders.empty()) {
            files = MatchFileNodes(tree, typed, minLevel);
            if (files.size() == 1)
                node = files[0];
            else if (files.empty())
                node = FindFolder(tree, typed, &folders);
        }
        if (node == nullptr && folders.size() > 1) {
            ReportNoFolder(ctx, typed, folders);
            found = false;
            continue;
        }
        if (node == tree.Root())
            node = nullptr;
        if (node == nullptr && files.empty() && minLevel > 1) {
            // Say what a match ignoring case would have found.
            const std::vector<TWebCacheTreeNode*> near = MatchFileNodes(tree, typed, 1);
            std::string also;
            for (const TWebCacheTreeNode* n : near)
                also += (also.empty() ? "" : ", ") + ctx.Show(n->Info().Url);
            if (!also.empty()) {
                ctx.Fail(ctx.ShowUtf8(typed) + ": no such file in the cache (case counts: " + also +
                         ")");
                found = false;
                continue;
            }
        }
        if (node == nullptr) {
            ReportNoMatch(ctx, typed, "file or folder", files);
            found = false;
        } else if (std::find(nodes.begin(), nodes.end(), node) == nodes.end()) {
            nodes.push_back(node);
        }
    }
    return found;
}

// The nodes without those that lie below another of them (they go with it).
std::vector<TWebCacheTreeNode*> Outermost(const std::vector<TWebCacheTreeNode*>& nodes) {
    const std::unordered_set<const TWebCacheTreeNode*> named(nodes.begin(), nodes.end());
    std::vector<TWebCacheTreeNode*> outer;
    for (TWebCacheTreeNode* node : nodes) {
        bool inside = false;
        for (const TWebCacheTreeNode* p = node->Parent(); p != nullptr && !inside; p = p->Parent())
            inside = named.count(p) > 0;
        if (!inside)
            outer.push_back(node);
    }
    return outer;
}

} // namespace tarnhold::cli
