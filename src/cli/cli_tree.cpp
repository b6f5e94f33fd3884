// Cache tree commands: the folder tree, the rows of one folder, the local
// name of one URL, and the overview that tarnhold-cli shows by default.
#include "clicache.h"
#include "platform/codepage.h"
#include "text/displayformat.h"
#include "text/urlutils.h"
#include "tree/cachelisting.h"
#include "tree/webcachetree.h"

#include <algorithm>
#include <ostream>
#include <vector>

namespace tarnhold::cli {

namespace {

// A folder of the tree listing: where it is, and the files below it.
struct TFolderLine {
    TWebCacheTreeNode* Node;
    int Level;
    int Files;
};

// Every folder below node (node itself excluded) in the tree's order, each
// with the files below it, counted in the same walk from the leaves up.
std::vector<TFolderLine> FoldersBelow(TWebCacheTreeNode* node) {
    std::vector<TFolderLine> folders;
    struct Frame {
        TWebCacheTreeNode* node;
        int next;
        int files;
        std::size_t line; // its place in folders; unused for node itself
    };
    const int baseLevel = node->Level();
    std::vector<Frame> stack{{node, 0, 0, 0}};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next >= top.node->Count()) {
            const Frame done = top;
            stack.pop_back();
            if (!stack.empty()) {
                folders[done.line].Files = done.files;
                stack.back().files += done.files;
            }
            continue;
        }
        TWebCacheTreeNode* child = top.node->Items(top.next++);
        if (!child->IsFolder) {
            ++top.files;
            continue;
        }
        folders.push_back({child, baseLevel + static_cast<int>(stack.size()), 0});
        stack.push_back({child, 0, 0, folders.size() - 1});
    }
    return folders;
}

// One row per folder below node (the root itself excluded), indented by
// level: name, files below it, total size, latest date, and the folder's URL
// as the list command takes it.
void WriteFolders(const TCliContext& ctx, TWebCacheTreeNode* node) {
    TListing listing(
        ctx, {"level", "name", "files", "size", "time", "url", "url_decoded", "local_path"});
    std::string line;
    for (const TFolderLine& folder : FoldersBelow(node)) {
        const TWebCacheTreeNode* child = folder.Node;
        const int level = folder.Level;
        const int files = folder.Files;
        line.assign(static_cast<std::size_t>(2 * (level - 1)), ' ');
        line += child->Name().empty() ? std::string("(empty)") : ctx.Show(child->Name());
        line += '\t';
        line += std::to_string(files);
        line += '\t';
        // Sizes and dates are printable ASCII: shown as they are.
        line += FormatSizeKB(child->Size());
        line += '\t';
        line += FormatDateTimeShort(child->LastModified());
        line += '\t';
        line += ctx.Show(child->DirUrl());
        listing.Row(line, [&] {
            return std::vector<TValue>{TValue::Count(static_cast<std::uint64_t>(level)),
                                       TValue::Ansi(child->Name()),
                                       TValue::Count(static_cast<std::uint64_t>(files)),
                                       TValue::Count(child->Size()),
                                       TValue::Time(child->LastModified()),
                                       TValue::Utf8(EncodeFolderUrl(child->DirUrl())),
                                       TValue::Ansi(child->DirUrl()),
                                       TValue::Utf8(CopyPathOf(*child))};
        });
    }
}

int RunTree(TCliContext& ctx, const TCliArgs&) {
    auto tree = OpenReadableTree(ctx);
    if (!tree)
        return kExitFailure;
    tree.get_deleter().LeaveAtExit = true; // the process ends after the listing
    WriteFolders(ctx, tree->Root());
    return kExitOk;
}

// The rows of one folder in the list view's order: local name, URL name,
// title, size, date, and for scripts the URLs, content type and paths.
void WriteRows(const TCliContext& ctx, TWebCacheTreeNode* folder) {
    TListing listing(ctx, {"kind", "local_name", "url_name", "title", "size", "time", "url",
                           "url_decoded", "content_type", "local_path", "cached_file"});
    TTitleCache titles;
    for (const TFolderRow& folderRow : ListFolder(*folder, titles)) {
        const TWebCacheTreeNode* row = folderRow.Node;
        std::string line = ctx.Show(row->DisplayName());
        if (row->IsFolder) {
            line += "/\t\t\t\t" + ctx.Show(FormatDateTimeShort(row->LastModified()));
            listing.Row(line, [&] {
                return std::vector<TValue>{TValue::Utf8("folder"),
                                           TValue::Ansi(row->DisplayName()),
                                           TValue::Null(),
                                           TValue::Null(),
                                           TValue::Count(row->Size()),
                                           TValue::Time(row->LastModified()),
                                           TValue::Utf8(EncodeFolderUrl(row->DirUrl())),
                                           TValue::Ansi(row->DirUrl()),
                                           TValue::Null(),
                                           TValue::Utf8(CopyPathOf(*row)),
                                           TValue::Null()};
            });
            continue;
        }
        const std::string& title = folderRow.Title;
        const std::string type = EntryContentType(row->Info());
        const std::string& urlName = folderRow.UrlName;
        line += "\t" + ctx.Show(urlName) + "\t" + ctx.ShowUtf8(title) + "\t" +
                ctx.Show(FormatSizeKB(row->Size())) + "\t" +
                ctx.Show(FormatDateTimeShort(row->LastModified()));
        const std::string local = CopyPathOf(*row);
        listing.Row(line, [&] {
            return std::vector<TValue>{TValue::Utf8("file"),
                                       TValue::Ansi(row->DisplayName()),
                                       TValue::Ansi(urlName),
                                       TValue::Utf8(title),
                                       TValue::Count(row->Size()),
                                       TValue::Time(row->LastModified()),
                                       TValue::Ansi(row->Info().Url),
                                       TValue::Utf8(DecodeURLForDisplay(row->Info().Url)),
                                       TValue::Ansi(type),
                                       TValue::Utf8(local),
                                       TValue::Utf8(row->Info().LocalFileName)};
        });
    }
}

int RunList(TCliContext& ctx, const TCliArgs& args) {
    auto tree = OpenReadableTree(ctx);
    if (!tree)
        return kExitFailure;
    std::vector<TWebCacheTreeNode*> ambiguous;
    TWebCacheTreeNode* folder = FindFolder(*tree, args.Operands[0], &ambiguous);
    if (folder == nullptr) {
        ReportNoFolder(ctx, args.Operands[0], ambiguous);
        return kExitFailure;
    }
    WriteRows(ctx, folder);
    return kExitOk;
}

// The file node of a cache URL typed by the user (MatchFileNodes); none
// after saying why.
TWebCacheTreeNode* FindEntryNode(const TCliContext& ctx, TWebCacheTree& tree,
                                 std::string_view typedUtf8) {
    const std::vector<TWebCacheTreeNode*> found = MatchFileNodes(tree, typedUtf8);
    if (found.size() == 1)
        return found[0];
    ReportNoMatch(ctx, typedUtf8, "entry", found);
    return nullptr;
}

int RunName(TCliContext& ctx, const TCliArgs& args) {
    auto tree = OpenReadableTree(ctx);
    if (!tree)
        return kExitFailure;
    TWebCacheTreeNode* node = FindEntryNode(ctx, *tree, args.Operands[0]);
    if (node == nullptr)
        return kExitFailure;
    // The copy engine's path with the whole URL path kept (folder method 2).
    const std::string local = CopyPathOf(*node);
    const std::string renamed = tree->RenameItems().Lookup(node->Info().Url);
    const std::string human =
        "name: " + ctx.Show(node->DisplayName()) + "\nlocal path: " + ctx.ShowUtf8(local) +
        "\nrename list: " + (renamed.empty() ? std::string("no") : "yes, " + ctx.Show(renamed));
    TListing listing(ctx, {"url", "url_decoded", "local_name", "local_path", "renamed",
                           "renamed_to", "cached_file"});
    listing.Row(human, [&] {
        return std::vector<TValue>{TValue::Ansi(node->Info().Url),
                                   TValue::Utf8(DecodeURLForDisplay(node->Info().Url)),
                                   TValue::Ansi(node->DisplayName()),
                                   TValue::Utf8(local),
                                   TValue::Bool(!renamed.empty()),
                                   renamed.empty() ? TValue::Null() : TValue::Ansi(renamed),
                                   TValue::Utf8(node->Info().LocalFileName)};
    });
    return kExitOk;
}

// The names of every command, wrapped to 80 columns after the prefix.
std::string CommandList(std::string_view prefix) {
    std::string out(prefix);
    std::size_t column = out.size();
    bool first = true;
    for (const TCliCommand* c : RegisteredCommands()) {
        if (c->Name == "overview")
            continue;
        std::string word = (first ? "" : ", ") + c->Name;
        if (column + word.size() > 78) {
            out += ",\n     ";
            column = 5;
            word = c->Name;
        }
        out += word;
        column += word.size();
        first = false;
    }
    return out;
}

int RunOverview(TCliContext& ctx, const TCliArgs&) {
    auto tree = OpenReadableTree(ctx);
    if (!tree)
        return kExitFailure;
    ctx.WriteLine(std::string("Tarnhold ") + TARNHOLD_VERSION + ": " +
                  ShowSource(ctx, *tree->Cache().Source()));
    const int files = tree->CountFiles(tree->Root());
    ctx.WriteLine(std::to_string(files) + " files, " +
                  ctx.Show(FormatSizeShort(tree->Root()->Size())) + ", latest " +
                  ctx.Show(FormatDateTimeShort(tree->Root()->LastModified())));
    ctx.WriteLine("");
    tree.get_deleter().LeaveAtExit = true; // the process ends after the listing
    WriteFolders(ctx, tree->Root());
    ctx.WriteLine("");
    ctx.WriteLine(CommandList("More: tarnhold-cli --help, tarnhold-cli COMMAND --help; ") + ".");
    return kExitOk;
}

int RunHelp(TCliContext& ctx, const TCliArgs& args) {
    if (args.Operands.empty()) {
        PrintUsage(*ctx.Out);
        return kExitOk;
    }
    const TCliCommand* command = FindCommand(args.Operands[0]);
    if (command == nullptr)
        return UsageError(ctx, "unknown command '" + EscapeForTerminal(args.Operands[0]) + "'");
    PrintCommandHelp(*ctx.Out, *command);
    return kExitOk;
}

const char kDateNote[] =
    "DATE is the display format of the list (\"2012/10/28 7:19\", local time):\n"
    "a file's last-modified time, else the time its file was written (the\n"
    "download); a folder's the latest of the files below it. SIZE: whole KB\n"
    "rounded up. In --json and --tsv sizes are bytes and times ISO 8601 with\n"
    "the zone.\n";

const TCliCommandRegistrar kTree({
    "tree",
    "tree",
    "the folders of the cache with file counts, size, date and URL",
    std::string("One line per folder, indented two blanks a level:\n"
                "NAME<TAB>FILES<TAB>SIZE<TAB>DATE<TAB>FOLDER-URL; FILES counts every file\n"
                "below the folder, FOLDER-URL is what list takes.\n") +
        kDateNote +
        "fields (--json, --tsv): level, name, files, size, time, url (encoded),\n"
        "url_decoded, local_path (below the save folder).\n"
        "\n"
        "example: tarnhold-cli --no-scheme tree\n",
    {},
    true,
    0,
    0,
    RunTree,
});

const TCliCommandRegistrar kList({
    "list",
    "list FOLDER-URL",
    "the rows of one folder as the window shows them",
    std::string("FOLDER-URL as tree prints it or percent-encoded, with or without the\n"
                "scheme and the final \"/\". One line per row, folders first, then by\n"
                "name: LOCAL-NAME<TAB>URL-NAME<TAB>TITLE<TAB>SIZE<TAB>DATE (a folder:\n"
                "NAME/ and its date).\n") +
        kDateNote +
        "fields (--json, --tsv): kind, local_name, url_name, title, size, time, url,\n"
        "url_decoded, content_type, local_path, cached_file.\n"
        "\n"
        "example: tarnhold-cli list http://www.example.com/docs/\n",
    {},
    true,
    1,
    1,
    RunList,
});

const TCliCommandRegistrar kName({
    "name",
    "name URL",
    "the local name and path a cached URL is copied to",
    "URL as stored or decoded; an exact match wins over one ignoring case.\n"
    "Prints three lines: \"name: LOCAL-NAME\", \"local path: PATH\" (below the\n"
    "save folder, the whole URL path kept) and \"rename list: no\" or\n"
    "\"rename list: yes, LOCAL-URL\".\n"
    "fields (--json, --tsv): url, url_decoded, local_name, local_path, renamed,\n"
    "renamed_to, cached_file.\n"
    "\n"
    "example: tarnhold-cli name 'http://host/cart.cgi?id=7'\n",
    {},
    true,
    1,
    1,
    RunName,
});

const TCliCommandRegistrar kOverview({
    "overview",
    "overview",
    "the cache read, its size and folder tree (the default)",
    "What tarnhold-cli shows without a command: the index read, the number of\n"
    "files, their total size and the latest date, then the tree as tree\n"
    "prints it.\n"
    "\n"
    "example: tarnhold-cli --cache /mnt/win/Users/me\n",
    {},
    false,
    0,
    0,
    RunOverview,
});

const TCliCommandRegistrar kHelp({
    "help",
    "help [COMMAND]",
    "the help of the program, or of one command",
    "The same as tarnhold-cli --help, or tarnhold-cli COMMAND --help.\n"
    "\n"
    "example: tarnhold-cli help list\n",
    {},
    false,
    0,
    1,
    RunHelp,
});

} // namespace

} // namespace tarnhold::cli
