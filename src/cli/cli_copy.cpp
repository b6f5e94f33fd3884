// tarnhold-cli copy and delete: copying files, folders and sites out of the
// cache as the tree's copy command does, and deleting cache entries.
#include "cache/webcachetree.h"
#include "clicache.h"
#include "copy/copyengine.h"
#include "copy/deletenodes.h"
#include "platform/codepage.h"
#include "text/displayformat.h"

#include <chrono>
#include <cstdio>
#include <istream>
#include <ostream>
#include <unistd.h>

namespace tarnhold::cli {

namespace {

constexpr const char* kCopyUsage =
    "copy URL-OR-FOLDER... --to DIR [--folder 1|2] [--method 1|2|3]\n"
    "                  [--overwrite ask|all|none|newer] [--default-file NAME]";
constexpr const char* kDeleteUsage = "delete URL-OR-FOLDER... [--yes]";

bool IsHelp(const std::string& arg) {
    return arg == "-h" || arg == "--help";
}

// Texts of the core (ANSI, lines joined with CR LF) as terminal lines, with
// every other control character shown as "\xNN": a URL or name from the
// cache never moves the cursor or changes the terminal.
std::string ToTerminal(const TCliContext& ctx, std::string_view ansi) {
    std::string text;
    for (std::size_t i = 0; i < ansi.size(); ++i) {
        const auto c = static_cast<unsigned char>(ansi[i]);
        if (c == '\r' && i + 1 < ansi.size() && ansi[i + 1] == '\n') {
            text.push_back('\n');
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            text += buf;
        } else {
            text.push_back(static_cast<char>(c));
        }
    }
    return ctx.Raw ? text : AnsiToUtf8(text);
}

// A line of the answer typed at the terminal; false at the end of input.
bool ReadAnswer(const TCliContext& ctx, std::string& line) {
    line.clear();
    return static_cast<bool>(std::getline(*ctx.In, line));
}

// The nodes named on the command line: a cached file by its URL, or a folder
// by its URL (ending in "/"). False after saying which one is not there.
bool FindNodes(const TCliContext& ctx, TWebCacheTree& tree, const std::vector<std::string>& urls,
               std::vector<TWebCacheTreeNode*>& nodes) {
    for (const std::string& arg : urls) {
        const std::string url = ctx.ArgToAnsi(arg);
        TWebCacheTreeNode* node = tree.FindNodeByUrl(url);
        if (node == nullptr)
            node = tree.FindFolderByUrl(url);
        if (node == nullptr || node == tree.Root()) {
            *ctx.Err << "error: " << arg << ": no such file or folder in the cache\n";
            return false;
        }
        nodes.push_back(node);
    }
    return true;
}

// Progress on a terminal: files done of the total, bytes written, the file
// at hand; one line redrawn in place.
class TTerminalProgress : public TProgress {
public:
    TTerminalProgress(const TCliContext& ctx, bool shown) : ctx_(ctx), shown_(shown) {}
    void Attach(const TCopyEngine* engine) { engine_ = engine; }
    void SetMaximum(int maximum) override { maximum_ = maximum; }
    void RaiseMaximum() override { ++maximum_; }
    void Step(const TWebCacheTreeNode* node) override {
        ++position_;
        if (!shown_)
            return;
        std::string line =
            "\r" + std::to_string(position_) + "/" + std::to_string(maximum_) + " files";
        if (engine_ != nullptr)
            line += ", " + ToTerminal(ctx_, FormatSizeShort(engine_->Stats().Bytes));
        if (node != nullptr) {
            std::string url = ToTerminal(ctx_, node->Info.Url);
            if (url.size() > 60)
                url = "..." + url.substr(url.size() - 57);
            line += "  " + url;
        }
        line += "\x1b[K";
        *ctx_.Err << line << std::flush;
    }
    void Finish() {
        if (shown_ && position_ > 0)
            *ctx_.Err << "\r\x1b[K" << std::flush;
    }

private:
    const TCliContext& ctx_;
    bool shown_;
    const TCopyEngine* engine_ = nullptr;
    int maximum_ = 0;
    int position_ = 0;
};

// The overwrite question at the terminal, one key for each answer.
class TTerminalPrompts : public TCopyPrompts {
public:
    TTerminalPrompts(const TCliContext& ctx, TTerminalProgress& progress)
        : ctx_(ctx), progress_(progress) {}
    int AskOverwrite(const TWebCacheTreeNode& node, const std::filesystem::path& path) override {
        progress_.Finish();
        for (;;) {
            *ctx_.Err << ToTerminal(ctx_, PathToAnsi(path))
                      << " exists (cache: " << ToTerminal(ctx_, node.Info.Url) << ", "
                      << ToTerminal(ctx_, FormatDateTimeLong(node.Info.LastModified))
                      << ").\nOverwrite? [y]es, [a]ll, [n]o, [N]one, [w] where the cache is "
                         "newer, [c]ancel: "
                      << std::flush;
            std::string line;
            if (!ReadAnswer(ctx_, line))
                return kAnswerCancel;
            if (line == "y")
                return kAnswerYes;
            if (line == "a")
                return kAnswerYesToAll;
            if (line == "n")
                return kAnswerNo;
            if (line == "N")
                return kAnswerNoToAll;
            if (line == "w")
                return kAnswerNewer;
            if (line == "c")
                return kAnswerCancel;
        }
    }
    void ShowFailure(const TCopyFailure& failure) override {
        progress_.Finish();
        *ctx_.Err << "error: " << ToTerminal(ctx_, failure.Caption) << "\n"
                  << ToTerminal(ctx_, failure.Text) << "\n";
    }

private:
    const TCliContext& ctx_;
    TTerminalProgress& progress_;
};

int RunCopy(TCliContext& ctx, const std::vector<std::string>& args) {
    std::vector<std::string> urls;
    std::filesystem::path to;
    int folder = kFolderWholePath;
    int method = kMethodNone;
    std::string overwrite = "ask";
    std::optional<std::string> defaultFile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (IsHelp(a)) {
            *ctx.Out << "usage: tarnhold-cli " << kCopyUsage
                     << "\n\nCopies cached files, folders or sites to DIR, pages with their links\n"
                        "rewritten to the neighbouring copies.\n"
                        "  --folder 1      the named item's folder is DIR itself\n"
                        "  --folder 2      one folder per URL segment below DIR (default)\n"
                        "  --method 1|2|3  embedded files taken along: none (default), the\n"
                        "                  same site's, all the cache holds\n"
                        "  --overwrite     existing files: ask (default, needs a terminal),\n"
                        "                  all, none, newer (where the cache is newer)\n"
                        "  --default-file  the name of folder documents (index.html)\n";
            return kExitOk;
        } else if (a == "--to") {
            if (!value(v))
                return UsageError(ctx, "copy", "--to needs a folder");
            to = v;
        } else if (a == "--folder") {
            if (!value(v) || (v != "1" && v != "2"))
                return UsageError(ctx, "copy", "--folder takes 1 or 2");
            folder = v == "1" ? kFolderBelowPrefix : kFolderWholePath;
        } else if (a == "--method") {
            if (!value(v) || v.size() != 1 || v[0] < '1' || v[0] > '3')
                return UsageError(ctx, "copy", "--method takes 1, 2 or 3");
            method = v[0] - '0';
        } else if (a == "--overwrite") {
            if (!value(v) || (v != "ask" && v != "all" && v != "none" && v != "newer"))
                return UsageError(ctx, "copy", "--overwrite takes ask, all, none or newer");
            overwrite = v;
        } else if (a == "--default-file") {
            if (!value(v) || v.empty())
                return UsageError(ctx, "copy", "--default-file needs a name");
            defaultFile = ctx.ArgToAnsi(v);
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(ctx, "copy", "unknown option " + a);
        } else {
            urls.push_back(a);
        }
    }
    if (urls.empty())
        return UsageError(ctx, "copy", "what to copy?");
    if (to.empty())
        return UsageError(ctx, "copy", "where to? (--to DIR)");
    if (overwrite == "ask" && !::isatty(STDIN_FILENO)) {
        *ctx.Err << "tarnhold-cli: --overwrite ask needs a terminal to ask on; give --overwrite "
                    "all, none or newer\n";
        return kExitUsage;
    }

    TIndexDatSource* source = nullptr;
    auto tree = OpenCacheTree(ctx, source);
    if (!CheckReadable(ctx, *source))
        return kExitFailure;
    if (defaultFile) {
        tree->DefaultFileName = *defaultFile;
        tree->RenameDuplicates(tree->Root());
    }
    std::vector<TWebCacheTreeNode*> nodes;
    if (!FindNodes(ctx, *tree, urls, nodes))
        return kExitFailure;

    TTerminalProgress progress(ctx, ::isatty(STDERR_FILENO) != 0);
    TTerminalPrompts prompts(ctx, progress);
    TCopyEngine engine(*tree, &prompts, &progress);
    progress.Attach(&engine);
    int answer = overwrite == "all"     ? kAnswerYesToAll
                 : overwrite == "none"  ? kAnswerNoToAll
                 : overwrite == "newer" ? kAnswerNewer
                                        : kAnswerYes;
    const auto start = std::chrono::steady_clock::now();
    const bool done =
        CopyToFolder(engine, nodes, nodes.front()->Parent(), to, method, folder, &answer);
    progress.Finish();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const TCopyStats& s = engine.Stats();
    char time[32];
    std::snprintf(time, sizeof time, "%.2f s", seconds);
    *ctx.Out << (done ? "copied " : "stopped after ") << s.Files << " files (" << s.Bytes
             << " bytes), " << s.Pages << " pages rewritten, " << s.LinksOutside << " of "
             << s.Links << " links outside the cache, " << s.Kept << " kept, " << s.Skipped
             << " without content, " << time << "\n";
    if (!done && engine.LastFailure().Error == 0)
        *ctx.Err << "tarnhold-cli: copy cancelled\n";
    return done ? kExitOk : kExitFailure;
}

int RunDelete(TCliContext& ctx, const std::vector<std::string>& args) {
    std::vector<std::string> urls;
    bool yes = false;
    for (const std::string& a : args) {
        if (IsHelp(a)) {
            *ctx.Out << "usage: tarnhold-cli " << kDeleteUsage
                     << "\n\nDeletes cached files and folders (with everything below them) from "
                        "the cache.\n"
                        "  --yes   do not ask (needed without a terminal)\n";
            return kExitOk;
        } else if (a == "--yes" || a == "-y") {
            yes = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError(ctx, "delete", "unknown option " + a);
        } else {
            urls.push_back(a);
        }
    }
    if (urls.empty())
        return UsageError(ctx, "delete", "what to delete?");
    if (!yes && !::isatty(STDIN_FILENO)) {
        *ctx.Err << "tarnhold-cli: delete asks before it deletes, and there is no terminal to ask "
                    "on; give --yes\n";
        return kExitUsage;
    }

    TIndexDatSource* source = nullptr;
    auto tree = OpenCacheTree(ctx, source);
    if (!CheckReadable(ctx, *source))
        return kExitFailure;
    std::vector<TWebCacheTreeNode*> nodes;
    if (!FindNodes(ctx, *tree, urls, nodes))
        return kExitFailure;

    if (!yes) {
        int files = 0;
        for (const TWebCacheTreeNode* n : nodes)
            files += tree->CountFiles(n);
        if (nodes.size() == 1)
            *ctx.Err << "Delete " << (nodes[0]->IsFolder ? "the folder " : "")
                     << ToTerminal(ctx, nodes[0]->DisplayName());
        else
            *ctx.Err << "Delete these " << nodes.size() << " items";
        *ctx.Err << " (" << files << " cached files)? [y/N] " << std::flush;
        std::string line;
        if (!ReadAnswer(ctx, line) || (line != "y" && line != "yes")) {
            *ctx.Err << "nothing deleted\n";
            return kExitOk;
        }
    }
    tree->OnNodeDeleted = [&](TWebCacheTree&, std::string_view url) {
        *ctx.Out << "removed " << ToTerminal(ctx, url) << "\n";
    };
    const int deleted = DeleteCacheNodes(*tree, nodes);
    *ctx.Out << deleted << " cached files deleted\n";
    if (source->LastError() != 0) {
        ctx.ReportError(source->IndexFile().string(), source->LastError());
        return kExitFailure;
    }
    return kExitOk;
}

const TCliCommandRegistrar kCopy({
    "copy",
    kCopyUsage,
    "copy cached files, folders or sites to a folder, links rewritten",
    RunCopy,
});

const TCliCommandRegistrar kDelete({
    "delete",
    kDeleteUsage,
    "delete cached files and folders from the cache",
    RunDelete,
});

} // namespace

} // namespace tarnhold::cli
