// tarnhold-cli favorites: the favorites store on favorites.dat in the data
// folder, and the import of the browser's Internet shortcuts.
#include "cli.h"
#include "cli_favorites_copy.h"
#include "favorites/bookmarks.h"
#include "favorites/favorites.h"
#include "favorites/shortcuts.h"
#include "platform/appfolder.h"
#include "platform/codepage.h"
#include "text/urlutils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <optional>
#include <set>

namespace tarnhold::cli {
namespace {

// A 1-based number of at most count; 0 when the text is not one.
int ParseIndex(std::string_view text, int count) {
    int n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n < 1 || n > count)
        return 0;
    return n;
}

bool IsNumber(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// Opens the store. False after saying why when the file cannot be used; a
// damaged one is read as far as it goes, with a warning, and the run fails.
bool OpenStore(const TCliContext& ctx, TFavorites& store) {
    const TError error = store.SetFileName(GetAppFolder() / "favorites.dat");
    if (!error)
        return true;
    if (error.Code() == EBADMSG) {
        ctx.Warn(ctx.ShowUtf8(error.Text()));
        ctx.DataLost = true;
        return true;
    }
    ctx.Fail(ctx.ShowUtf8(error.Text()));
    return false;
}

bool Saved(const TCliContext& ctx, const TError& error) {
    if (!error)
        return true;
    ctx.Fail("favorites.dat not saved: " + ctx.ShowUtf8(error.Text()));
    return false;
}

// The rows of favorites: N<TAB>TITLE<TAB>URL<TAB>DATE, N the position in
// the file (what remove takes).
class TFavoriteListing {
public:
    explicit TFavoriteListing(const TCliContext& ctx)
        : ctx_(ctx), listing_(ctx, {"number", "title", "url", "url_decoded", "time", "save_folder",
                                    "default_name", "folder_method", "copy_method", "timer"}) {}

    void Row(int number, const TFavoriteItem& item, std::string_view prefix = {}) {
        const std::string line = std::string(prefix) + std::to_string(number) + "\t" +
                                 ctx_.ShowUtf8(AnsiRefsToUtf8(item.Title)) + "\t" +
                                 ctx_.Show(item.UrlName) + "\t" +
                                 ctx_.Show(FavoriteDateColumn(item));
        listing_.Row(line, [&] {
            return std::vector<TValue>{TValue::Count(static_cast<std::uint64_t>(number)),
                                       TValue::Utf8(AnsiRefsToUtf8(item.Title)),
                                       TValue::Ansi(item.UrlName),
                                       TValue::Utf8(DecodeURLForDisplay(item.UrlName)),
                                       TValue::Time(item.Date),
                                       TValue::Ansi(item.PathName),
                                       TValue::Ansi(item.Default),
                                       TValue::Count(item.Folder),
                                       TValue::Count(item.Method),
                                       TValue::Bool(item.Timer)};
        });
    }

private:
    const TCliContext& ctx_;
    TListing listing_;
};

int List(TCliContext& ctx, const TCliArgs& args) {
    if (args.Operands.size() > 1)
        return UsageError(ctx, "list: too many arguments");
    int column = -1;
    if (args.Has("sort")) {
        const std::string key = args.Value("sort");
        column = key == "title" ? fsTitle : key == "url" ? fsUrl : key == "date" ? fsDate : -1;
        if (column < 0)
            return UsageError(ctx, "--sort takes title, url or date");
    }
    const int order = args.Has("desc") ? 1 : 0;
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
    TFavoriteListing listing(ctx);
    for (int i : rows)
        listing.Row(i + 1, *store.Items(i));
    return kExitOk;
}

int Add(TCliContext& ctx, const TCliArgs& args) {
    if (args.Operands.size() != 3)
        return UsageError(ctx, "add takes a title and a URL");
    const std::string title(AnsiTrim(TCliContext::ArgToAnsi(args.Operands[1])));
    const std::string url(AnsiTrim(TCliContext::ArgToAnsi(args.Operands[2])));
    if (title.empty() || url.empty())
        return UsageError(ctx, title.empty() ? "add: the title is empty" : "add: the URL is empty");
    TFavorites store;
    if (!OpenStore(ctx, store))
        return kExitFailure;
    TError error;
    const int index = store.AddNew(title, url, &error);
    if (!Saved(ctx, error))
        return kExitFailure;
    TFavoriteListing(ctx).Row(index + 1, *store.Items(index));
    return kExitOk;
}

int Remove(TCliContext& ctx, const TCliArgs& args) {
    if (args.Operands.size() != 2)
        return UsageError(ctx, "remove takes one number");
    TFavorites store;
    if (!OpenStore(ctx, store))
        return kExitFailure;
    const int n = ParseIndex(args.Operands[1], store.Count());
    if (n == 0) {
        ctx.Fail(ctx.ShowUtf8(args.Operands[1]) + ": no such favorite (there are " +
                 std::to_string(store.Count()) + ")");
        return kExitFailure;
    }
    const TFavoriteItem removed = *store.Items(n - 1);
    if (!Saved(ctx, store.DeleteItem(store.Items(n - 1))))
        return kExitFailure;
    TFavoriteListing(ctx).Row(n, removed, "removed ");
    return kExitOk;
}

// The rows of shortcuts: N<TAB>STATE<TAB>PATH<TAB>URL, N what import takes.
class TShortcutListing {
public:
    explicit TShortcutListing(const TCliContext& ctx)
        : ctx_(ctx), listing_(ctx, {"number", "state", "name", "url", "url_decoded", "file"}) {}

    void Row(int number, std::string_view state, const std::string& name, const TShortcutEntry& e) {
        const std::string line = std::to_string(number) + "\t" + std::string(state) + "\t" +
                                 ctx_.ShowUtf8(AnsiRefsToUtf8(name)) + "\t" + ctx_.Show(e.Url);
        listing_.Row(line, [&] {
            return std::vector<TValue>{TValue::Count(static_cast<std::uint64_t>(number)),
                                       TValue::Utf8(state),
                                       TValue::Utf8(AnsiRefsToUtf8(name)),
                                       e.Url.empty() ? TValue::Null() : TValue::Ansi(e.Url),
                                       e.Url.empty() ? TValue::Null()
                                                     : TValue::Utf8(DecodeURLForDisplay(e.Url)),
                                       TValue::Utf8(e.Path.native())};
        });
    }

private:
    const TCliContext& ctx_;
    TListing listing_;
};

const char* StateOf(const TShortcutEntry& e) {
    return e.Registered ? "registered" : e.Url.empty() ? "no-url" : "new";
}

// "folder/sub/caption" of every shortcut, in the order ListShortcuts gives.
void NamesOf(const std::vector<TShortcutEntry>& entries, const std::string& prefix,
             std::vector<std::string>& out) {
    for (const auto& e : entries) {
        if (e.IsFolder)
            NamesOf(e.Children, prefix + e.Caption + "/", out);
        else
            out.push_back(prefix + e.Caption);
    }
}

// The sources --from names: wine (the Wine prefixes' Favorites folders),
// chromium (the bookmarks of Chromium and its kin), firefox, or a path.
bool FindSources(const TCliContext& ctx, const std::string& from,
                 std::vector<TImportSource>& sources) {
    if (from == "wine") {
        for (const auto& folder : DefaultShortcutFolders())
            sources.push_back(
                {TImportKind::Shortcuts, folder, {}, folder.parent_path().filename().string()});
        if (sources.empty())
            ctx.Fail("no Favorites folder found in the Wine prefix; name one: "
                     "tarnhold-cli favorites import --from FOLDER");
    } else if (from == "chromium" || from == "firefox") {
        const TImportKind kind = from == "chromium" ? TImportKind::Chromium : TImportKind::Firefox;
        for (TImportSource& source : FindBookmarkFiles()) {
            if (source.Kind == kind)
                sources.push_back(std::move(source));
        }
        if (sources.empty())
            ctx.Fail("no " + std::string(from == "chromium" ? "Chromium" : "Firefox") +
                     " bookmarks found in this home; name the file: "
                     "tarnhold-cli favorites import --from PATH");
    } else if (std::optional<TImportSource> source = ImportSourceAt(from)) {
        sources.push_back(std::move(*source));
    } else {
        ctx.Fail(ctx.ShowUtf8(from) +
                 ": neither a folder of shortcuts nor a Bookmarks file nor a places.sqlite");
    }
    return !sources.empty();
}

int Import(TCliContext& ctx, const TCliArgs& args) {
    const bool all = args.Has("all");
    std::optional<std::string> from;
    if (args.Has("from"))
        from = args.Value("from");
    std::vector<std::string> numbers;
    for (std::size_t i = 1; i < args.Operands.size(); ++i) {
        const std::string& a = args.Operands[i];
        if (IsNumber(a))
            numbers.push_back(a);
        else if (!from && i == 1)
            from = a; // the folder as an operand, as before --from
        else
            return UsageError(ctx, "import: '" + EscapeForTerminal(a) +
                                       "' is no shortcut number (FOLDER comes first)");
    }
    if (all && !numbers.empty())
        return UsageError(ctx, "import takes --all or numbers, not both");
    std::vector<TImportSource> sources;
    if (!FindSources(ctx, from.value_or("wine"), sources))
        return kExitFailure;
    const TImportSource& source = sources.front();
    if (sources.size() > 1 || !from || *from == "wine" || *from == "chromium" ||
        *from == "firefox") {
        ctx.Fail("reading " + ctx.ShowUtf8(DescribeImportSource(source)));
        for (std::size_t i = 1; i < sources.size(); ++i)
            ctx.Fail("also found: " + ctx.ShowUtf8(DescribeImportSource(sources[i])) +
                     " (name it with --from to read it)");
    }
    TFavorites store;
    if (!OpenStore(ctx, store))
        return kExitFailure;
    TShortcutFolder tree = ReadImportSource(source, store);
    // What could not be read is named, and the run fails, but the rest is
    // listed or imported all the same.
    int rc = kExitOk;
    for (const auto& problem : tree.Problems) {
        ctx.Fail("cannot read " + ctx.Show(problem));
        rc = kExitFailure;
    }
    std::vector<TShortcutEntry*> shortcuts = ListShortcuts(tree.Items);
    std::vector<std::string> names;
    NamesOf(tree.Items, "", names);

    TShortcutListing listing(ctx);
    if (!all && numbers.empty()) {
        for (std::size_t i = 0; i < shortcuts.size(); ++i)
            listing.Row(static_cast<int>(i + 1), StateOf(*shortcuts[i]), names[i], *shortcuts[i]);
        return rc;
    }

    std::set<const TShortcutEntry*> chosen;
    for (const auto& text : numbers) {
        const int n = ParseIndex(text, static_cast<int>(shortcuts.size()));
        if (n == 0) {
            ctx.Fail(text + ": no such shortcut (there are " + std::to_string(shortcuts.size()) +
                     "); nothing imported");
            return kExitFailure;
        }
        const TShortcutEntry* e = shortcuts[static_cast<std::size_t>(n - 1)];
        if (e->Registered || e->Url.empty()) {
            ctx.Fail(text + ": " + (e->Registered ? "already a favorite" : "holds no URL") +
                     "; not imported");
            rc = kExitFailure;
            continue;
        }
        chosen.insert(e);
    }
    std::vector<const TShortcutEntry*> importable;
    for (const TShortcutEntry* e : shortcuts) {
        if (!e->Registered && !e->Url.empty() && (all || chosen.count(e) > 0))
            importable.push_back(e);
    }
    TError error;
    const int imported = ImportShortcuts(
        tree.Items, store, [&](const TShortcutEntry& e) { return all || chosen.count(&e) > 0; },
        &error);
    if (!Saved(ctx, error)) {
        ctx.Fail("nothing imported");
        return kExitFailure;
    }
    if (ctx.Format == TOutputFormat::ofHuman) {
        if (imported > 0)
            ctx.WriteLine("imported " + std::to_string(imported) +
                          (imported == 1 ? " favorite" : " favorites"));
        else
            ctx.WriteLine("nothing new to import");
        return rc;
    }
    // The shortcuts imported, in the order they were: the first ones taken.
    for (std::size_t i = 0; i < shortcuts.size(); ++i) {
        const auto at = std::find(importable.begin(), importable.end(), shortcuts[i]);
        if (at != importable.end() && at - importable.begin() < imported)
            listing.Row(static_cast<int>(i + 1), "imported", names[i], *shortcuts[i]);
    }
    return rc;
}

// Which sub-command each option of favorites belongs to.
struct TSubOption {
    const char* Option;
    const char* Sub;
};
constexpr TSubOption kSubOptions[] = {{"sort", "list"},   {"desc", "list"}, {"all", "import"},
                                      {"from", "import"}, {"yes", "copy"},  {"yes", "move"}};

int RunFavorites(TCliContext& ctx, const TCliArgs& args) {
    if (args.Operands.empty())
        return UsageError(ctx, "say what to do: list, add, remove, import, copy or move");
    const std::string& sub = args.Operands[0];
    for (const auto& o : kSubOptions) {
        if (!args.Has(o.Option))
            continue;
        bool allowed = false;
        std::string subs;
        for (const auto& other : kSubOptions) {
            if (std::string_view(other.Option) != o.Option)
                continue;
            allowed = allowed || sub == other.Sub;
            subs += (subs.empty() ? "" : " or ") + std::string(other.Sub);
        }
        if (!allowed)
            return UsageError(ctx, std::string("--") + o.Option + " is for favorites " + subs);
    }
    if (sub == "copy" || sub == "move")
        return RunFavoritesCopy(ctx, args, sub == "move");
    if (sub == "list")
        return List(ctx, args);
    if (sub == "add")
        return Add(ctx, args);
    if (sub == "remove")
        return Remove(ctx, args);
    if (sub == "import")
        return Import(ctx, args);
    return UsageError(ctx, "unknown sub-command '" + EscapeForTerminal(sub) +
                               "' (list, add, remove, import, copy or move)");
}

const TCliCommandRegistrar kFavorites({
    "favorites",
    "favorites list [--sort title|url|date] [--desc]\n"
    "favorites add TITLE URL\n"
    "favorites remove N\n"
    "favorites import [--from SOURCE] [--all | N...]\n"
    "favorites copy N... [--yes]\n"
    "favorites move N... [--yes]",
    "favorite sites: list, add, remove, import shortcuts, copy, move",
    "The store is favorites.dat in the data folder ($TARNHOLD_HOME, else\n"
    "$XDG_CONFIG_HOME/tarnhold, else ~/.config/tarnhold), shared with the window.\n"
    "list: one line per favorite: N<TAB>TITLE<TAB>URL<TAB>DATE, N its position\n"
    "  in the file (what remove takes), DATE when it was registered or last\n"
    "  copied (local time, \"2012/10/28 7:19\"). In file order, or as the\n"
    "  favorites list sorts: by title, URL or date (newest first); --desc\n"
    "  reverses.\n"
    "add: registers a site with the save folder and options of the default\n"
    "  favorite, dated now; prints its line.\n"
    "remove: deletes favorite N; prints \"removed \" and its line.\n"
    "import: the favorites of a source, one line each: N<TAB>STATE<TAB>NAME<TAB>URL,\n"
    "  STATE new, registered (its URL is a favorite already) or no-url. With\n"
    "  --all or numbers N, imports them as favorites titled with their names\n"
    "  and prints how many; a number that cannot be imported fails the run.\n"
    "  --from wine (the default): the Internet shortcuts (.url) of the Wine\n"
    "  prefix's Favorites folder; chromium: the bookmarks of Chromium (or Chrome,\n"
    "  Brave, Edge, Vivaldi, Opera), firefox: those of Firefox, of the first\n"
    "  profile found (the others are named on stderr); PATH: a folder of\n"
    "  shortcuts, a Bookmarks file, a places.sqlite (read from a private copy,\n"
    "  so a running Firefox does not matter) or a profile folder holding one.\n"
    "  Names keep every character: what favorites.dat's code page lacks is\n"
    "  kept as a character reference (&#128512;).\n"
    "A folder operand is taken as --from FOLDER; one that is a number is\n"
    "written ./N. A shortcut, folder or file that cannot be read is named on\n"
    "stderr and fails the run; the rest is still used.\n"
    "A damaged favorites.dat is read as far as it goes, named on stderr, and\n"
    "fails the run.\n"
    "fields (--json, --tsv) of favorites: number, title, url, url_decoded,\n"
    "time, save_folder, default_name, folder_method, copy_method, timer; of\n"
    "shortcuts: number, state, name, url, url_decoded, file (import with --all\n"
    "or N: the shortcuts imported, state \"imported\").\n" +
        std::string(kFavoritesCopyHelp) +
        "\n"
        "\n"
        "example: tarnhold-cli favorites import --from firefox --all\n",
    {{"sort", 0, "KEY", "list: order by title, url or date"},
     {"desc", 0, "", "list: the other way round"},
     {"all", 'a', "", "import: every new shortcut"},
     {"from", 0, "SOURCE", "import: wine, chromium, firefox or a PATH"},
     {"yes", 'y', "", "copy, move: answer every question with yes"}},
    true,
    0,
    -1,
    RunFavorites,
});

} // namespace
} // namespace tarnhold::cli
