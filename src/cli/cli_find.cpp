// tarnhold-cli find: the search of the find window over the cache tree, run
// on its worker thread; hits are printed as they come.
#include "clicache.h"
#include "favorites/favorites.h"
#include "find/findthread.h"
#include "platform/codepage.h"
#include "text/displayformat.h"
#include "text/urlutils.h"
#include "tree/cachelisting.h"

#include <charconv>
#include <optional>
#include <ostream>

namespace tarnhold::cli {
namespace {

std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max) {
    std::uint32_t n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n > max)
        return std::nullopt;
    return n;
}

// YYYY/MM/DD or YYYY-MM-DD, a date of the calendar.
std::optional<SYSTEMTIME> ParseDate(std::string text) {
    for (char& c : text)
        c = c == '-' ? '/' : c;
    if (text.find_first_not_of("0123456789/") != std::string::npos)
        return std::nullopt;
    SYSTEMTIME t = TextToDate(text);
    if (IsDateUnset(t))
        return std::nullopt;
    return t;
}

// The extensions of --ext: ".html,gif, .CSS" -> ".html", ".gif", ".css"; an
// empty piece stands for files without an extension.
void AddExtensions(TFindData& data, std::string_view ansi) {
    data.TypeFilter = true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = ansi.find(',', start);
        std::string ext = AnsiLowerCase(AnsiTrim(ansi.substr(start, comma - start)));
        if (!ext.empty() && ext[0] != '.')
            ext.insert(0, ".");
        data.AddExtension(ext);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
}

// The criteria from the options; a usage error's message when they make none.
std::optional<std::string> MakeCriteria(const TCliArgs& args, TFindData& data) {
    if (args.Has("name"))
        SetNames(data, TCliContext::ArgToAnsi(args.Value("name")));
    if (args.Has("contains")) {
        data.Contains = std::string(AnsiTrim(args.Value("contains")));
        if (data.Contains.empty())
            return "--contains needs a text";
    }
    data.MatchAnyCase = !args.Has("case");
    data.SubFolders = !args.Has("no-subfolders");
    if (args.Has("ext"))
        AddExtensions(data, TCliContext::ArgToAnsi(args.Value("ext")));

    std::optional<SYSTEMTIME> from, to;
    std::optional<std::uint32_t> months, days, sizeMin, sizeMax;
    struct TNumber {
        const char* Name;
        std::optional<std::uint32_t>* Value;
        std::uint32_t Max;
    };
    // Sizes up to the 4 GB an entry's size can hold; dates back to year 1.
    const TNumber numbers[] = {{"months", &months, 12 * 2000},
                               {"days", &days, 366 * 2000},
                               {"size-min", &sizeMin, 4194304},
                               {"size-max", &sizeMax, 4194304}};
    for (const auto& n : numbers) {
        if (!args.Has(n.Name))
            continue;
        *n.Value = ParseNumber(args.Value(n.Name), n.Max);
        if (!*n.Value)
            return "--" + std::string(n.Name) + " takes a number from 0 to " +
                   std::to_string(n.Max) + ", not '" + EscapeForTerminal(args.Value(n.Name)) + "'";
    }
    for (auto [name, value] : {std::pair{"date-from", &from}, std::pair{"date-to", &to}}) {
        if (!args.Has(name))
            continue;
        *value = ParseDate(args.Value(name));
        if (!*value)
            return "--" + std::string(name) + " takes a date YYYY/MM/DD, not '" +
                   EscapeForTerminal(args.Value(name)) + "'";
    }
    const int modes = (from || to ? 1 : 0) + (months ? 1 : 0) + (days ? 1 : 0);
    if (modes > 1)
        return std::string("give --date-from and --date-to (either alone leaves that end "
                           "open), or --months, or --days");
    const SYSTEMTIME today = CurrentLocalTime();
    if (from || to) {
        // An open end reaches as far as a date can.
        SetDateRange(data, dmBetween, today, 0, from.value_or(MakeSystemTime(1, 1, 1)),
                     to.value_or(MakeSystemTime(9999, 12, 31)));
    } else if (months)
        SetDateRange(data, dmMonths, today, static_cast<int>(*months));
    else if (days)
        SetDateRange(data, dmDays, today, static_cast<int>(*days));

    if (sizeMin && sizeMax)
        SetSizeRange(data, soBetween, *sizeMin, *sizeMax);
    else if (sizeMin)
        SetSizeRange(data, soAtLeast, *sizeMin);
    else if (sizeMax)
        SetSizeRange(data, soAtMost, *sizeMax);
    return std::nullopt;
}

// The find window's row of a hit, one per node: name, location (a file's
// folder URL, a folder's parent's), title, size, type, date.
class THitListing {
public:
    explicit THitListing(const TCliContext& ctx)
        : ctx_(ctx), listing_(ctx, {"kind", "name", "location", "title", "size", "content_type",
                                    "time", "url", "url_decoded", "local_path", "cached_file"}) {}

    void Row(const TWebCacheTreeNode& node) {
        const TWebCacheTreeNode* parent = node.Parent();
        const std::string location =
            node.IsFolder ? (parent != nullptr ? parent->DirUrl() : std::string()) : node.DirUrl();
        if (node.IsFolder) {
            const std::string url = node.DirUrl();
            const std::string line = ctx_.Show(node.DisplayName()) + "/\t" + ctx_.Show(location) +
                                     "\t\t\tfolder\t" +
                                     ctx_.Show(FormatDateTimeShort(node.LastModified()));
            listing_.Row(line, [&] {
                return std::vector<TValue>{TValue::Utf8("folder"),
                                           TValue::Ansi(node.DisplayName()),
                                           TValue::Ansi(location),
                                           TValue::Null(),
                                           TValue::Count(node.Size()),
                                           TValue::Null(),
                                           TValue::Time(node.LastModified()),
                                           TValue::Utf8(EncodeFolderUrl(url)),
                                           TValue::Ansi(url),
                                           TValue::Utf8(CopyPathOf(node)),
                                           TValue::Null()};
            });
            return;
        }
        const std::string& title = titles_.Title(node);
        const std::string type = EntryContentType(node.Info());
        const std::string line = ctx_.Show(node.DisplayName()) + "\t" + ctx_.Show(location) + "\t" +
                                 ctx_.ShowUtf8(title) + "\t" +
                                 ctx_.Show(FormatSizeKB(node.Size())) + "\t" + ctx_.Show(type) +
                                 "\t" + ctx_.Show(FormatDateTimeShort(node.LastModified()));
        listing_.Row(line, [&] {
            return std::vector<TValue>{TValue::Utf8("file"),
                                       TValue::Ansi(node.DisplayName()),
                                       TValue::Ansi(location),
                                       TValue::Utf8(title),
                                       TValue::Count(node.Size()),
                                       TValue::Ansi(type),
                                       TValue::Time(node.LastModified()),
                                       TValue::Ansi(node.Info().Url),
                                       TValue::Utf8(DecodeURLForDisplay(node.Info().Url)),
                                       TValue::Utf8(CopyPathOf(node)),
                                       TValue::Utf8(node.Info().LocalFileName)};
        });
    }

private:
    const TCliContext& ctx_;
    TListing listing_;
    TTitleCache titles_;
};

int RunFind(TCliContext& ctx, const TCliArgs& args) {
    auto data = std::make_unique<TFindData>();
    if (auto message = MakeCriteria(args, *data))
        return UsageError(ctx, *message);

    auto tree = OpenReadableTree(ctx);
    if (!tree)
        return kExitFailure;
    const std::string location = std::string(AnsiTrim(args.Value("in")));
    std::vector<TWebCacheTreeNode*> ambiguous;
    data->StartNode = location.empty() || location == "Web Cache"
                          ? tree->Root()
                          : FindFolder(*tree, location, &ambiguous);
    if (data->StartNode == nullptr) {
        ReportNoFolder(ctx, location, ambiguous);
        return kExitFailure;
    }

    // This thread owns the tree and prints; the worker only reads the tree,
    // which nothing changes until the search has ended.
    TFindThread search(std::move(data));
    THitListing hits(ctx);
    std::uint64_t count = 0;
    search.OnFound = [&](TFindThread& sender, TWebCacheTreeNode* node) {
        ++count;
        hits.Row(*node);
        if (!*ctx.Out) // no one reads the rest: stop walking
            sender.Terminate();
    };
    TSubscription stopHook = StopBeforeChanges(*tree, search);
    search.Start();
    search.WaitFor();
    stopHook.Reset();
    const std::string total = std::to_string(count) + (count == 1 ? " hit" : " hits");
    // Script formats hold rows only; the total goes beside them.
    if (ctx.Format == TOutputFormat::ofHuman)
        ctx.WriteLine(total);
    else
        ctx.Fail(total);
    return kExitOk;
}

const TCliCommandRegistrar kFind({
    "find",
    "find [--name PATTERNS] [--contains TEXT] [OPTION...]",
    "searches the cache as the find window does; prints each hit",
    "Searches the cache tree below FOLDER-URL (default: all of it, \"Web Cache\")\n"
    "and prints each hit as it is found, then the number of hits (\"2 hits\"):\n"
    "NAME<TAB>LOCATION<TAB>TITLE<TAB>SIZE<TAB>TYPE<TAB>DATE; a folder as NAME/,\n"
    "its LOCATION the folder above it, its TYPE \"folder\". Every criterion given\n"
    "must hold; without any, everything is a hit. Folders are hits only without\n"
    "--contains and --ext.\n"
    "PATTERNS: pieces split at \";\", each matched anywhere in the name, case\n"
    "ignored; \"*\", \"?\", \"[a-z]\" and \"[!a-z]\" as in file masks (\"*.jpg;*.png\").\n"
    "FOLDER-URL as tree prints it or percent-encoded, with or without the scheme\n"
    "and the final \"/\".\n"
    "DATE and the dates of the criteria are the last-modified time (else the\n"
    "download time), local time, shown \"2012/10/28 7:19\"; SIZE and the size\n"
    "criteria are whole KB rounded up, as the list shows them. In --json and\n"
    "--tsv sizes are bytes and times ISO 8601 with the zone, and the number of\n"
    "hits goes to stderr.\n"
    "fields (--json, --tsv): kind, name, location, title, size, content_type,\n"
    "time, url, url_decoded, local_path, cached_file.\n"
    "\n"
    "example: tarnhold-cli find --name '*.jpg;*.png' --months 3\n",
    {{"name", 'n', "PATTERNS", "names holding one of the pieces (see above)"},
     {"contains", 'c', "TEXT", "files holding TEXT (in any Japanese code), case ignored"},
     {"case", 0, "", "--contains minds the case of letters"},
     {"in", 0, "FOLDER-URL", "the folder to search (\"Web Cache\": all)"},
     {"no-subfolders", 0, "", "only the folder's own files and folders"},
     {"date-from", 0, "D", "modified on or after D (YYYY/MM/DD)"},
     {"date-to", 0, "D", "modified on or before D"},
     {"months", 0, "N", "modified within the last N months"},
     {"days", 0, "N", "modified within the last N days"},
     {"ext", 0, "LIST", "files with these extensions: .html,.gif (\"\": none)"},
     {"size-min", 0, "KB", "files of at least KB kilobytes"},
     {"size-max", 0, "KB", "files of at most KB kilobytes"}},
    true,
    0,
    0,
    RunFind,
});

} // namespace
} // namespace tarnhold::cli
