// tarnhold-cli favorites ...: the favorites store on favorites.dat in the data
// folder, and the import of the browser's Internet shortcuts.
#include "cli.h"
#include "favorites/favorites.h"
#include "favorites/shortcuts.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>
#include <ostream>
#include <set>

namespace tarnhold::cli {
namespace {

constexpr const char* kUsage = "favorites list [--sort title|url|date] [--desc]\n"
                               "       favorites add TITLE URL\n"
                               "       favorites remove N\n"
                               "       favorites import [FOLDER] [--all | N...]";

constexpr const char* kHelp =
    "list: the favorites, numbered in file order (N), with title, URL and date;\n"
    "  --sort orders them as the favorites list does (date: newest first), --desc reverses.\n"
    "add: registers a site with the default favorite's save folder and options, dated now.\n"
    "remove: deletes favorite N.\n"
    "import: the Internet shortcuts (.url) below FOLDER (default: the Favorites folder of the\n"
    "  Wine prefix), numbered, with their state (new, registered, no-url); --all or the\n"
    "  numbers N import them as favorites titled with their file names.\n"
    "The store is favorites.dat in the data folder ($TARNHOLD_HOME, else\n"
    "$XDG_CONFIG_HOME/tarnhold or ~/.config/tarnhold).";

int Help(TCliContext& ctx) {
    *ctx.Out << "usage: tarnhold-cli " << kUsage << "\n\n" << kHelp << "\n";
    return kExitOk;
}

// A 1-based number of at most count; 0 when the text is not one.
int ParseIndex(std::string_view text, int count) {
    int n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1 || n > count)
        return 0;
    return n;
}

// Opens the store. False after saying why when the file cannot be used; a
// damaged one is read as far as it goes, with a warning.
bool OpenStore(TCliContext& ctx, TFavorites& store) {
    const auto file = GetAppFolder() / "favorites.dat";
    TError error = store.SetFileName(file);
    if (!error)
        return true;
    if (error.Code() == EBADMSG) {
        *ctx.Err << "warning: " << AnsiToUtf8(error.Text()) << '\n';
        return true;
    }
    *ctx.Err << "error: " << AnsiToUtf8(error.Text()) << '\n';
    return false;
}

bool Saved(TCliContext& ctx, const TError& error) {
    if (!error)
        return true;
    *ctx.Err << "error: favorites.dat not saved: " << AnsiToUtf8(error.Text()) << '\n';
    return false;
}

int List(TCliContext& ctx, const std::vector<std::string>& args) {
    int column = -1, order = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--desc") {
            order = 1;
        } else if (args[i] == "--sort" && i + 1 < args.size()) {
            const std::string& key = args[++i];
            column = key == "title" ? fsTitle : key == "url" ? fsUrl : key == "date" ? fsDate : -2;
            if (column == -2)
                return UsageError(ctx, "favorites", "--sort takes title, url or date");
        } else {
            return UsageError(ctx, "favorites", "unknown list option " + args[i]);
        }
    }
    TFavorites store;
    if (!OpenStore(ctx, store))
        return kExitFailure;
    std::vector<int> rows;
    for (int i = 0; i < store.Count(); ++i)
        rows.push_back(i);
    if (column >= 0) {
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
            return CompareFavorites(*store.Items(a), *store.Items(b), column, order) < 0;
        });
    } else if (order == 1) {
        std::reverse(rows.begin(), rows.end());
    }
    for (int i : rows) {
        const TFavoriteItem& item = *store.Items(i);
        ctx.WriteLine(std::to_string(i + 1) + "\t" + item.Title + "\t" + item.UrlName + "\t" +
                      FavoriteDateColumn(item));
    }
    return kExitOk;
}

int Add(TCliContext& ctx, const std::vector<std::string>& args) {
    if (args.size() != 2)
        return UsageError(ctx, "favorites", "add takes a title and a URL");
    TFavorites store;
    if (!OpenStore(ctx, store))
        return kExitFailure;
    TError error;
    const int index = store.AddNew(ctx.ArgToAnsi(args[0]), ctx.ArgToAnsi(args[1]), &error);
    if (!Saved(ctx, error))
        return kExitFailure;
    ctx.WriteLine(std::to_string(index + 1) + "\t" + store.Items(index)->Title + "\t" +
                  store.Items(index)->UrlName + "\t" + FavoriteDateColumn(*store.Items(index)));
    return kExitOk;
}

int Remove(TCliContext& ctx, const std::vector<std::string>& args) {
    if (args.size() != 1)
        return UsageError(ctx, "favorites", "remove takes one number");
    TFavorites store;
    if (!OpenStore(ctx, store))
        return kExitFailure;
    const int n = ParseIndex(args[0], store.Count());
    if (n == 0) {
        *ctx.Err << "error: " << args[0] << ": no such favorite (there are " << store.Count()
                 << ")\n";
        return kExitFailure;
    }
    return Saved(ctx, store.DeleteItem(store.Items(n - 1))) ? kExitOk : kExitFailure;
}

const char* StateOf(const TShortcutEntry& e) {
    return e.Registered ? "registered" : e.Url.empty() ? "no-url" : "new";
}

// "folder/sub/caption" of every shortcut, in tree order.
void PathsOf(const std::vector<TShortcutEntry>& entries, const std::string& prefix,
             std::vector<std::string>& out) {
    for (const auto& e : entries) {
        if (e.IsFolder)
            PathsOf(e.Children, prefix + e.Caption + "/", out);
        else
            out.push_back(prefix + e.Caption);
    }
}

int Import(TCliContext& ctx, const std::vector<std::string>& args) {
    std::optional<std::filesystem::path> folder;
    bool all = false;
    std::vector<std::string> numbers;
    for (const auto& a : args) {
        if (a == "--all")
            all = true;
        else if (!a.empty() && a.find_first_not_of("0123456789") == std::string::npos)
            numbers.push_back(a);
        else if (!folder && (a.empty() || a[0] != '-'))
            folder = std::filesystem::path(a);
        else
            return UsageError(ctx, "favorites", "unknown import argument " + a);
    }
    if (all && !numbers.empty())
        return UsageError(ctx, "favorites", "import takes --all or numbers, not both");
    if (!folder) {
        const auto found = DefaultShortcutFolders();
        if (found.empty()) {
            *ctx.Err << "error: no Favorites folder found in the Wine prefix; name one: "
                        "tarnhold-cli favorites import FOLDER\n";
            return kExitFailure;
        }
        folder = found.front();
        *ctx.Err << "tarnhold-cli: reading " << folder->string() << '\n';
    }
    TFavorites store;
    if (!OpenStore(ctx, store))
        return kExitFailure;
    TShortcutFolder tree = ReadShortcutFolder(*folder, store);
    for (const auto& problem : tree.Problems)
        *ctx.Err << "warning: " << AnsiToUtf8(problem) << '\n';
    std::vector<TShortcutEntry*> shortcuts = ListShortcuts(tree.Items);
    std::vector<std::string> paths;
    PathsOf(tree.Items, "", paths);

    if (!all && numbers.empty()) {
        for (std::size_t i = 0; i < shortcuts.size(); ++i)
            ctx.WriteLine(std::to_string(i + 1) + "\t" + StateOf(*shortcuts[i]) + "\t" + paths[i] +
                          "\t" + shortcuts[i]->Url);
        return kExitOk;
    }

    std::set<const TShortcutEntry*> chosen;
    int rc = kExitOk;
    for (const auto& text : numbers) {
        const int n = ParseIndex(text, static_cast<int>(shortcuts.size()));
        if (n == 0) {
            *ctx.Err << "error: " << text << ": no such shortcut (there are " << shortcuts.size()
                     << ")\n";
            return kExitFailure;
        }
        const TShortcutEntry* e = shortcuts[static_cast<std::size_t>(n - 1)];
        if (e->Registered || e->Url.empty()) {
            *ctx.Err << "warning: " << n << ": "
                     << (e->Registered ? "already a favorite" : "no URL") << ", not imported\n";
            continue;
        }
        chosen.insert(e);
    }
    TError error;
    const int imported = ImportShortcuts(
        tree.Items, store, [&](const TShortcutEntry& e) { return all || chosen.count(&e) > 0; },
        &error);
    if (!Saved(ctx, error))
        rc = kExitFailure;
    if (imported > 0) {
        *ctx.Out << "imported " << imported << " favorite" << (imported == 1 ? "" : "s") << '\n';
    } else if (all) {
        *ctx.Out << "nothing new to import\n";
    } else {
        *ctx.Err << "nothing chosen to import\n";
        if (rc == kExitOk)
            rc = kExitFailure;
    }
    return rc;
}

int RunFavorites(TCliContext& ctx, const std::vector<std::string>& args) {
    if (args.empty())
        return UsageError(ctx, "favorites", "favorites needs a subcommand");
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const auto& a : args) {
        if (a == "-h" || a == "--help")
            return Help(ctx);
    }
    if (args[0] == "list")
        return List(ctx, rest);
    if (args[0] == "add")
        return Add(ctx, rest);
    if (args[0] == "remove")
        return Remove(ctx, rest);
    if (args[0] == "import")
        return Import(ctx, rest);
    return UsageError(ctx, "favorites", "unknown subcommand " + args[0]);
}

const TCliCommandRegistrar registrar({
    "favorites",
    kUsage,
    "the favorite sites on favorites.dat: list, add, remove, import the browser's shortcuts "
    "(favorites -h for more)",
    RunFavorites,
});

} // namespace
} // namespace tarnhold::cli
