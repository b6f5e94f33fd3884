// tarnhold-cli favorites copy|move N...: each favorite's cached site is copied
// into its save folder with its folder and copy methods and its default file
// name; a move then deletes the site from the cache.
#include "cli_favorites_copy.h"

#include "clicache.h"
#include "clicopyterm.h"
#include "copy/copyengine.h"
#include "copy/favoritecopy.h"
#include "favorites/favorites.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "text/displayformat.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <istream>
#include <ostream>
#include <unistd.h>

namespace tarnhold::cli {

const char* const kFavoritesCopyUsage = "favorites copy N... [--yes]\n"
                                        "       favorites move N... [--yes]";

const char* const kFavoritesCopyHelp =
    "copy: copies the cached site of each favorite N (numbers as list shows them)\n"
    "  into its save folder, with its folder and copy methods and its default file\n"
    "  name, and dates the favorite. An existing local file is asked about on the\n"
    "  terminal (one answer may hold for all); without a terminal it stops the\n"
    "  run unless --yes overwrites it.\n"
    "move: the same, and each favorite's site is deleted from the cache once its\n"
    "  copy is complete. Asks first; without a terminal only --yes moves.\n"
    "  The first favorite that fails stops the run: its cache entries and those\n"
    "  of the favorites after it stay.\n"
    "  One row per favorite: N, title, URL, save folder and its state (copied,\n"
    "  moved, not-cached, failed, not-done); fields (--json, --tsv): number,\n"
    "  title, url, save_folder, state. Then \"C of N favorites copied\", C\n"
    "  counting those copied; exit code 1 when one failed or was not cached.";

namespace {

bool ReadLine(const TCliContext& ctx, std::string& line) {
    line.clear();
    return ctx.In != nullptr && static_cast<bool>(std::getline(*ctx.In, line));
}

// The overwrite question of the copy command, answered by --yes, and refused
// without a terminal; a failure is said at once, since the run goes on to
// report each favorite.
class TFavoritesPrompts : public TTerminalPrompts {
public:
    TFavoritesPrompts(const TCliContext& ctx, TTerminalProgress& progress, bool yes)
        : TTerminalPrompts(ctx, progress), yes_(yes) {}
    TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode& node,
                                  const std::filesystem::path& path) override {
        if (yes_)
            return TOverwriteAnswer::YesToAll;
        if (!Context().InIsTerminal) {
            Progress().Clear();
            Context().Fail(Context().ShowPath(path) +
                           " exists, and there is no terminal to ask whether to overwrite it; "
                           "give --yes to overwrite");
            return TOverwriteAnswer::Cancel;
        }
        return TTerminalPrompts::AskOverwrite(node, path);
    }
    void ShowFailure(const TCopyFailure& failure) override {
        Progress().Clear();
        Context().Fail(CopyFailureLine(Context(), failure));
    }

private:
    bool yes_;
};

// The favorites the numbers name, each once, in the order given. False
// after saying which number is wrong.
bool SelectFavorites(TCliContext& ctx, const TFavorites& store,
                     const std::vector<std::string>& numbers,
                     std::vector<TFavoriteItem*>& selected) {
    for (const std::string& text : numbers) {
        int n = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > store.Count()) {
            ctx.Fail("no favorite " + ctx.ShowUtf8(text) + " (there are " +
                     std::to_string(store.Count()) + ")");
            return false;
        }
        TFavoriteItem* item = store.Items(n - 1);
        if (std::find(selected.begin(), selected.end(), item) == selected.end())
            selected.push_back(item);
    }
    return true;
}

std::string Describe(const TCliContext& ctx, const TFavorites& store, const TFavoriteItem* item) {
    return std::to_string(store.IndexOf(item) + 1) + "\t" +
           ctx.ShowUtf8(AnsiRefsToUtf8(item->Title)) + "\t" + ctx.Show(item->UrlName) + "\t" +
           ctx.Show(item->PathName);
}

bool ConfirmMove(TCliContext& ctx, const TWebCacheTree& tree, const TFavorites& store,
                 const std::vector<TFavoriteItem*>& selected) {
    *ctx.Err << "Move to the save folder and delete from the cache:\n";
    for (const TFavoriteItem* item : selected) {
        const TWebCacheTreeNode* folder = FavoriteFolder(tree, *item);
        *ctx.Err << "  " << Describe(ctx, store, item) << "\t"
                 << (folder != nullptr ? std::to_string(tree.CountFiles(folder)) + " cached files"
                                       : std::string("not in the cache"))
                 << "\n";
    }
    *ctx.Err << (selected.size() == 1 ? "Move this site? [y/N] " : "Move these sites? [y/N] ")
             << std::flush;
    std::string answer;
    if (!ReadLine(ctx, answer))
        return false;
    const std::string_view a = AnsiTrim(answer);
    return a == "y" || a == "Y" || AnsiSameText(a, "yes");
}

} // namespace

int RunFavoritesCopy(TCliContext& ctx, const TCliArgs& args, bool move) {
    std::vector<std::string> numbers = args.Operands;
    if (!numbers.empty() && (numbers.front() == "copy" || numbers.front() == "move"))
        numbers.erase(numbers.begin());
    const char* command = move ? "favorites move" : "favorites copy";
    if (numbers.empty())
        return UsageError(ctx, std::string(command) + " needs the numbers of favorites");
    const bool yes = args.Has("yes");
    if (move && !yes && !ctx.InIsTerminal)
        return UsageError(ctx, "standard input is no terminal to ask on; give --yes to move "
                               "without asking");

    TFavorites store;
    const std::filesystem::path file = GetAppFolder() / "favorites.dat";
    if (TError error = store.SetFileName(file)) {
        if (error.Code() != EBADMSG) {
            ctx.Fail(ctx.ShowUtf8(error.Text()));
            return kExitFailure;
        }
        ctx.Warn(ctx.ShowUtf8(error.Text()));
        ctx.DataLost = true; // a damaged favorites.dat ends the run with exit 1
    }
    std::vector<TFavoriteItem*> selected;
    if (!SelectFavorites(ctx, store, numbers, selected))
        return kExitUsage;

    auto tree = OpenReadableTree(ctx);
    if (!tree)
        return kExitFailure;
    if (move && !yes && !ConfirmMove(ctx, *tree, store, selected)) {
        ctx.Fail("nothing moved");
        return kExitFailure;
    }

    TTerminalProgress progress(ctx, ::isatty(STDERR_FILENO) == 1);
    TFavoritesPrompts prompts(ctx, progress, yes);
    TCopyEngine engine(*tree, &prompts, &progress);
    const auto start = std::chrono::steady_clock::now();
    TFavoriteCopyOptions options;
    options.Move = move;
    const TFavoriteCopyResult result =
        CopyFavoritesToLocal(*tree, engine, store, selected, options);
    progress.Clear();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    TListing listing(ctx, {"number", "title", "url", "save_folder", "state"});
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const TFavoriteItem* item = selected[i];
        const bool done = static_cast<int>(i) < result.Copied;
        const bool notCached = std::find(result.NotCached.begin(), result.NotCached.end(), item) !=
                               result.NotCached.end();
        std::string state = "not-done";
        if (item == result.Stopped && result.Stop != TFavoriteCopyStop::Delete)
            state = "failed";
        else if (done && notCached)
            state = "not-cached";
        else if (done)
            state = move && item != result.Stopped ? "moved" : "copied";
        listing.Row(state + "\t" + Describe(ctx, store, item), [&] {
            return std::vector<TValue>{
                TValue::Count(static_cast<std::uint64_t>(store.IndexOf(item) + 1)),
                TValue::Utf8(AnsiRefsToUtf8(item->Title)), TValue::Ansi(item->UrlName),
                TValue::Ansi(item->PathName), TValue::Utf8(state)};
        });
    }

    switch (result.Stop) {
    case TFavoriteCopyStop::None:
        break;
    case TFavoriteCopyStop::Copy:
        if (engine.LastFailure().Error == 0)
            ctx.Fail("copy cancelled");
        break;
    case TFavoriteCopyStop::Delete:
        ctx.Fail("copied, but not every cached file could be deleted: " +
                 ctx.ShowUtf8(result.DeleteError.Text()));
        break;
    case TFavoriteCopyStop::NoSaveFolder:
        ctx.Fail("favorite " + std::to_string(store.IndexOf(result.Stopped) + 1) +
                 " has no save folder");
        break;
    }
    if (result.Stop != TFavoriteCopyStop::None && result.Stopped != selected.back())
        ctx.Fail("the favorites after it were left alone");
    if (result.SaveError)
        ctx.Fail("favorites.dat not saved: " + ctx.ShowUtf8(result.SaveError.Text()));
    // A favorite whose site the cache does not hold was not copied: said,
    // left out of the count, and the run fails.
    for (const TFavoriteItem* item : result.NotCached)
        ctx.Fail("favorite " + std::to_string(store.IndexOf(item) + 1) + ": " +
                 ctx.Show(item->UrlName) + " is not in the cache; nothing copied");
    int copied = 0;
    for (int i = 0; i < result.Copied && i < static_cast<int>(selected.size()); ++i)
        copied += std::find(result.NotCached.begin(), result.NotCached.end(), selected[i]) ==
                          result.NotCached.end()
                      ? 1
                      : 0;

    WarnAsIsFiles(ctx, engine.Stats(), move ? "favorites move" : "favorites copy");
    if (ctx.Format == TOutputFormat::ofHuman) {
        const TCopyStats& s = engine.Stats();
        char time[32];
        std::snprintf(time, sizeof time, "%.2f s", seconds);
        *ctx.Out << copied << " of " << selected.size() << " favorites "
                 << (move ? "moved" : "copied");
        if (!result.NotCached.empty())
            *ctx.Out << " (" << result.NotCached.size() << " not in the cache)";
        *ctx.Out << ": " << s.Files << " files (" << s.Bytes << " bytes), " << s.Pages
                 << " pages rewritten, " << s.Kept << " kept";
        if (move)
            *ctx.Out << ", " << result.FilesDeleted << " cached files deleted";
        *ctx.Out << ", " << time << "\n";
    }
    return result.Done && !result.SaveError && result.NotCached.empty() ? kExitOk : kExitFailure;
}

} // namespace tarnhold::cli
