// Cache tree commands: the folder tree, the rows of one folder, the local
// name of one URL, and the overview that tarnhold-cli shows by default.
#include "cache/cachelisting.h"
#include "cache/webcachetree.h"
#include "clicache.h"
#include "platform/codepage.h"
#include "text/displayformat.h"
#include "text/urlutils.h"

#include <algorithm>
#include <ostream>
#include <vector>

namespace tarnhold::cli {

namespace {

// The refreshed tree of the located cache, or none (after saying why) when
// the cache cannot be read.
std::unique_ptr<TWebCacheTree> OpenReadableTree(const TCliContext& ctx, TIndexDatSource*& source) {
    auto tree = OpenCacheTree(ctx, source);
    if (!CheckReadable(ctx, *source))
        return nullptr;
    return tree;
}

// One line per folder below node (the root itself excluded), indented by
// level: name, files below it, total size, latest date, and the folder's URL
// as the list command takes it.
void WriteFolders(const TCliContext& ctx, TWebCacheTree& tree, TWebCacheTreeNode* node,
                  int maxLevel) {
    struct Frame {
        TWebCacheTreeNode* node;
        int next;
    };
    std::vector<Frame> stack{{node, 0}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next >= top.node->Count()) {
            stack.pop_back();
            continue;
        }
        TWebCacheTreeNode* child = top.node->Items(top.next++);
        if (!child->IsFolder)
            continue;
        const int level = child->Level();
        std::string line(static_cast<std::size_t>(2 * (level - 1)), ' ');
        line += child->Name().empty() ? std::string("(empty)") : child->Name();
        line += "\t" + std::to_string(tree.CountFiles(child)) + "\t" +
                FormatSizeKB(child->Info.Size) + "\t" +
                FormatDateTimeShort(child->Info.LastModified) + "\t" + child->DirUrl();
        ctx.WriteLine(line);
        if (maxLevel == 0 || level < maxLevel)
            stack.push_back({child, 0});
    }
}

int RunTree(TCliContext& ctx, const std::vector<std::string>& args) {
    if (!args.empty())
        return UsageError(ctx, "tree", "tree takes no arguments");
    TIndexDatSource* source = nullptr;
    auto tree = OpenReadableTree(ctx, source);
    if (!tree)
        return kExitFailure;
    WriteFolders(ctx, *tree, tree->Root(), 0);
    return kExitOk;
}

int RunList(TCliContext& ctx, const std::vector<std::string>& args) {
    if (args.size() != 1)
        return UsageError(ctx, "list", "which folder?");
    TIndexDatSource* source = nullptr;
    auto tree = OpenReadableTree(ctx, source);
    if (!tree)
        return kExitFailure;
    std::string folderUrl = ctx.ArgToAnsi(args[0]);
    TWebCacheTreeNode* folder = tree->FindNodeByUrl(folderUrl);
    if (folder == nullptr || !folder->IsFolder) {
        *ctx.Err << "error: " << args[0] << ": no such folder in the cache (folders are written "
                 << "as the tree shows them, e.g. http://host/dir/)\n";
        return kExitFailure;
    }
    TTitleCache titles;
    for (const TFolderRow& row : ListFolder(*folder, titles)) {
        std::string line = row.Node->DisplayName();
        if (row.Node->IsFolder)
            line += "/\t\t\t\t";
        else
            line += "\t" + row.UrlName + "\t" + row.Title + "\t" +
                    FormatSizeKB(row.Node->Info.Size) + "\t";
        line += FormatDateTimeShort(row.Node->Info.LastModified);
        ctx.WriteLine(line);
    }
    return kExitOk;
}

// The file node of a cache URL: in the folder of the URL (or of its local
// name), the file whose entry has exactly that URL, else one ignoring case.
TWebCacheTreeNode* FindEntryNode(TWebCacheTree& tree, std::string_view url) {
    TWebCacheTreeNode* match = nullptr;
    for (TWebCacheTreeNode* folder :
         {tree.FindFolderByUrl(url), tree.FindFolderByUrl(tree.RenameItems().Lookup(url))}) {
        if (folder == nullptr)
            continue;
        for (int i = 0; i < folder->Count(); ++i) {
            TWebCacheTreeNode* node = folder->Items(i);
            if (node->IsFolder)
                continue;
            if (node->Info.Url == url)
                return node;
            if (match == nullptr && AnsiSameText(node->Info.Url, url))
                match = node;
        }
    }
    return match;
}

int RunName(TCliContext& ctx, const std::vector<std::string>& args) {
    if (args.size() != 1)
        return UsageError(ctx, "name", "which URL?");
    TIndexDatSource* source = nullptr;
    auto tree = OpenReadableTree(ctx, source);
    if (!tree)
        return kExitFailure;
    const std::string url = ctx.ArgToAnsi(args[0]);
    TWebCacheTreeNode* node = FindEntryNode(*tree, url);
    if (node == nullptr) {
        *ctx.Err << "error: " << args[0] << ": no such entry in the cache\n";
        return kExitFailure;
    }
    ctx.WriteLine("name: " + node->DisplayName());
    ctx.WriteLine("local path: " + LocalCopyPath(*node));
    std::string renamed = tree->RenameItems().Lookup(url);
    ctx.WriteLine(std::string("rename list: ") + (renamed.empty() ? "no" : "yes, " + renamed));
    return kExitOk;
}

int RunOverview(TCliContext& ctx, const std::vector<std::string>& args) {
    if (!args.empty())
        return UsageError(ctx, "overview", "overview takes no arguments");
    TIndexDatSource* source = nullptr;
    auto tree = OpenReadableTree(ctx, source);
    if (!tree)
        return kExitFailure;
    *ctx.Out << "Tarnhold " << TARNHOLD_VERSION << ": " << source->IndexFile().string() << "\n";
    const int files = tree->CountFiles(tree->Root());
    ctx.WriteLine(std::to_string(files) + " files, " + FormatSizeShort(tree->Root()->Info.Size) +
                  ", latest " + FormatDateTimeLong(tree->Root()->Info.LastModified));
    *ctx.Out << "\n";
    WriteFolders(ctx, *tree, tree->Root(), 0);
    *ctx.Out << "\nMore: tarnhold-cli --help (tree, list FOLDER-URL, name URL, entries, page FILE, "
                "url ..., jcode ...)\n";
    return kExitOk;
}

const TCliCommandRegistrar kTree({
    "tree",
    "tree",
    "the folder tree of the cache: folders indented by level, files below each, total size, "
    "latest date",
    RunTree,
});

const TCliCommandRegistrar kList({
    "list",
    "list FOLDER-URL",
    "the files and folders of one folder (e.g. http://host/dir/): name, URL name, title, size, "
    "date",
    RunList,
});

const TCliCommandRegistrar kName({
    "name",
    "name URL",
    "the local name and local path the entry of a cache URL gets, and whether the rename list "
    "holds it",
    RunName,
});

const TCliCommandRegistrar kOverview({
    "overview",
    "overview",
    "what tarnhold-cli shows without a command: the cache read, its size and its folder tree",
    RunOverview,
});

} // namespace

} // namespace tarnhold::cli
