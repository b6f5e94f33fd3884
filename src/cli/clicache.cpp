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
#include <cstring>
#include <ostream>
#include <unistd.h>

namespace tarnhold::cli {

void TTreeCloser::operator()(TWebCacheTree* tree) const {
    // The local names given in this run are kept for the next one only if
    // the data folder takes them; say so once when it does not.
    static bool warned = false;
    if (TError error = tree->SaveDataFiles(); error && !warned && ctx != nullptr) {
        warned = true;
        ctx->Warn("the data folder " + ctx->ShowPath(tree->RenameListFile().parent_path()) +
                  " cannot be written (" + ctx->ShowUtf8(TError::FromErrno(error.Code()).Text()) +
                  "); local names given now are not kept");
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

std::unique_ptr<TCacheSource> OpenCacheSource(const TCliContext& ctx) {
    const TCacheLocation where = LocateCache(ctx.Cache, DemoCache());
    if (where.Error) {
        ctx.Fail(ctx.ShowUtf8(where.Error.Text()));
        return nullptr;
    }
    TError error;
    auto source = OpenCacheSourceAt(where.Path, where.Kind, &error);
    if (!source) {
        ctx.Fail(ctx.ShowUtf8(error.Text()));
        return nullptr;
    }
    // Only index.dat keeps deleted entries whole enough to offer.
    if (auto* indexDat = dynamic_cast<TIndexDatSource*>(source.get()))
        indexDat->SetRecovered(ctx.Recovered);
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

TCliTree OpenCacheTree(const TCliContext& ctx, TCacheSource*& source) {
    auto owned = OpenCacheSource(ctx);
    source = owned.get();
    if (!owned)
        return nullptr;
    TCliTree tree(new TWebCacheTree(std::move(owned)), TTreeCloser{&ctx});
    const auto data = GetAppFolder();
    tree->SetRenameListFile(data / "renameList.dat");
    tree->SetContentTypeFile(data / "contentType.dat");
    tree->SetEnableScheme(ctx.EnableScheme);
    (void)tree->Refresh(); // CheckReadable reports a cache that could not be read
    // A damaged data file is read as far as it goes and left as it is; say so
    // once, so the user knows why some local names may differ.
    for (const auto& [name, read] : {std::pair{"renameList.dat", &tree->RenameListRead()},
                                     std::pair{"contentType.dat", &tree->ContentTypeRead()}}) {
        // ENOTDIR: the data folder itself cannot be, said once already.
        if (read->Error && read->Error.Code() != ENOTDIR)
            *ctx.Err << "tarnhold-cli: warning: " << ctx.ShowUtf8(read->Error.Text())
                     << "; it is left as it is\n";
        else if (read->BadRecords > 0)
            *ctx.Err << "tarnhold-cli: warning: " << ctx.ShowPath(data / name) << ": "
                     << read->BadRecords
                     << (read->BadRecords == 1 ? " damaged record" : " damaged records")
                     << " passed over; the file is left as it is\n";
    }
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

namespace {

// The folder URL a form names in the tree (with or without its final "/"), or
// none.
TWebCacheTreeNode* FolderAt(const TWebCacheTree& tree, const std::string& form) {
    for (const std::string& url : {form, form + "/"}) {
        TWebCacheTreeNode* node = tree.FindNodeByUrl(url);
        if (node != nullptr && node->IsFolder)
            return node;
    }
    return nullptr;
}

// The URLs a typed one stands for in the tree (ANSI): as typed and decoded;
// and when it was typed without a scheme where the tree has a folder per
// scheme, both forms below each scheme the tree holds, scheme by scheme.
std::vector<std::vector<std::string>> UrlForms(const TWebCacheTree& tree,
                                               std::string_view typedUtf8) {
    const std::string ansi = Utf8ToAnsi(typedUtf8);
    const std::string decoded = DecodeURLString(ansi);
    std::vector<std::vector<std::string>> forms{{ansi, decoded}};
    if (!tree.EnableScheme() || ansi.find("://") != std::string::npos)
        return forms;
    const TWebCacheTreeNode* root = tree.Root();
    for (int i = 0; i < root->Count(); ++i) {
        const TWebCacheTreeNode* scheme = root->Items(i);
        if (scheme->IsFolder)
            forms.push_back({scheme->DirUrl() + ansi, scheme->DirUrl() + decoded});
    }
    return forms;
}

} // namespace

TWebCacheTreeNode* FindFolder(TWebCacheTree& tree, std::string_view typedUtf8,
                              std::vector<TWebCacheTreeNode*>* ambiguous) {
    // The first form that names a folder wins; among schemes, one must.
    const std::vector<std::vector<std::string>> groups = UrlForms(tree, typedUtf8);
    std::vector<TWebCacheTreeNode*> found;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        for (const std::string& form : groups[g]) {
            if (TWebCacheTreeNode* node = FolderAt(tree, form)) {
                if (g == 0)
                    return node;
                found.push_back(node);
                break;
            }
        }
    }
    if (found.size() == 1)
        return found[0];
    if (ambiguous != nullptr)
        *ambiguous = std::move(found);
    return nullptr;
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
    std::string path;
    for (const std::string& name : NodeLocalPath(&node)) {
        if (!path.empty())
            path += '/';
        path += name;
    }
    if (node.IsFolder && !path.empty())
        path += '/';
    return path;
}

} // namespace tarnhold::cli

#include "platform/codepage.h"
#include "text/urlutils.h"

namespace tarnhold::cli {

namespace {

// A URL as the tree arranges it: decoded, without its scheme when asked
// (the tree's --no-scheme form), every run of "/" as one (the tree prints a
// host with a port as "host:port//").
std::string NormalUrl(std::string_view url, bool dropScheme) {
    std::string text = DecodeURL(url);
    if (dropScheme) {
        const std::size_t scheme = text.find("://");
        if (scheme != std::string::npos)
            text.erase(0, scheme + 3);
    }
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '/' || out.empty() || out.back() != '/')
            out += c;
    }
    return out;
}

} // namespace

TUrlMatcher::TUrlMatcher(std::string_view typedUtf8, int minLevel)
    : utf8_(typedUtf8), ansi_(Utf8ToAnsi(typedUtf8)),
      dropScheme_(ansi_.find("://") == std::string::npos), decoded_(NormalUrl(ansi_, dropScheme_)),
      minLevel_(minLevel) {}

int TUrlMatcher::Level(std::string_view cacheUrl) const {
    // The bytes as typed count too: Wine writes URLs as UTF-8.
    if (cacheUrl == ansi_ || cacheUrl == utf8_)
        return 3;
    const std::string decoded = NormalUrl(cacheUrl, dropScheme_);
    if (decoded == decoded_)
        return 2;
    if (AnsiSameText(cacheUrl, ansi_) || AnsiSameText(decoded, decoded_))
        return 1;
    return 0;
}

void TUrlMatcher::Offer(std::string_view cacheUrl, std::size_t item) {
    const int level = Level(cacheUrl);
    if (level < minLevel_ || level < bestLevel_)
        return;
    if (level > bestLevel_) {
        bestLevel_ = level;
        best_.clear();
    }
    if (std::find(best_.begin(), best_.end(), item) == best_.end())
        best_.push_back(item);
}

std::vector<TWebCacheTreeNode*> MatchFileNodes(TWebCacheTree& tree, std::string_view typedUtf8,
                                               int minLevel) {
    const std::string ansi = Utf8ToAnsi(typedUtf8);
    TUrlMatcher matcher(typedUtf8, minLevel);
    std::vector<TWebCacheTreeNode*> nodes;
    std::vector<std::string> urls;
    for (const std::vector<std::string>& group : UrlForms(tree, typedUtf8))
        urls.insert(urls.end(), group.begin(), group.end());
    urls.push_back(DecodeURL(ansi));
    urls.push_back(tree.RenameItems().Lookup(ansi));
    for (const std::string& url : urls) {
        TWebCacheTreeNode* folder = url.empty() ? nullptr : tree.FindFolderByUrl(url);
        if (folder == nullptr)
            continue;
        for (int i = 0; i < folder->Count(); ++i) {
            TWebCacheTreeNode* node = folder->Items(i);
            if (node->IsFolder || std::find(nodes.begin(), nodes.end(), node) != nodes.end())
                continue;
            nodes.push_back(node);
            matcher.Offer(node->Info.Url, nodes.size() - 1);
        }
    }
    std::vector<TWebCacheTreeNode*> best;
    for (std::size_t i : matcher.Best())
        best.push_back(nodes[i]);
    return best;
}

void ReportNoMatch(const TCliContext& ctx, std::string_view typedUtf8, std::string_view what,
                   const std::vector<TWebCacheTreeNode*>& candidates) {
    if (candidates.size() < 2) {
        ctx.Fail(ctx.ShowUtf8(typedUtf8) + ": no such " + std::string(what) + " in the cache");
        return;
    }
    ctx.Fail(ctx.ShowUtf8(typedUtf8) + ": ambiguous; the cache holds:");
    for (const TWebCacheTreeNode* node : candidates)
        *ctx.Err << "  " << ctx.Show(node->Info.Url) << "\n";
}

} // namespace tarnhold::cli
