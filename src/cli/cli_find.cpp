// tarnhold-cli find ...: the search of the find window over the cache tree,
// run on its worker thread; hits are printed as they come.
#include "cli.h"
#include "clicache.h"
#include "favorites/favorites.h"
#include "find/findthread.h"
#include "platform/codepage.h"
#include "text/displayformat.h"
#include "text/htmlparser.h"

#include <charconv>
#include <optional>
#include <ostream>

namespace tarnhold::cli {
namespace {

constexpr const char* kUsage =
    "find [--name PATTERNS] [--contains TEXT] [--case] [--in FOLDER-URL] [--no-subfolders]\n"
    "            [--date-from D --date-to D | --months N | --days N] [--ext .html,.gif]\n"
    "            [--size-min KB] [--size-max KB]";

constexpr const char* kHelp =
    "Searches the cache tree below a folder (default: all of it, \"Web Cache\") and prints\n"
    "each hit as it is found: name, folder, title, size, type, date; then the number of hits.\n"
    "  --name PATTERNS   pieces separated by \";\", each matched anywhere in the name\n"
    "                    (\"*\", \"?\", \"[a-z]\", \"[!a-z]\" as in file masks; case ignored)\n"
    "  --contains TEXT   files whose content holds TEXT (pages in EUC-JP or JIS are\n"
    "                    converted first); case ignored unless --case\n"
    "  --in FOLDER-URL   where to start, e.g. http://host/dir/ (as tree and list show it)\n"
    "  --no-subfolders   only the folder's own files and folders\n"
    "  --date-from D --date-to D   modified between two dates (YYYY/MM/DD), inclusive\n"
    "  --months N, --days N        modified within the last N months or days\n"
    "  --ext LIST        only files with these extensions (\"\" for none), never folders\n"
    "  --size-min KB, --size-max KB   file size in kilobytes as shown (rounded up)";

int Help(TCliContext& ctx) {
    *ctx.Out << "usage: tarnhold-cli " << kUsage << "\n\n" << kHelp << "\n";
    return kExitOk;
}

std::optional<std::uint32_t> ParseNumber(std::string_view text, std::uint32_t max) {
    std::uint32_t n = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n > max)
        return std::nullopt;
    return n;
}

// YYYY/MM/DD or YYYY-MM-DD.
std::optional<SYSTEMTIME> ParseDate(std::string text) {
    for (char& c : text)
        c = c == '-' ? '/' : c;
    SYSTEMTIME t = TextToDate(text);
    if (IsDateUnset(t) || text.find(' ') != std::string::npos)
        return std::nullopt;
    return t;
}

// The find window's row of a hit: name, folder, title, size, type, date.
std::string Row(THTMLParser& parser, const TWebCacheTreeNode* node) {
    std::string title, type;
    if (node->IsFolder) {
        type = "folder";
    } else {
        type = EntryContentType(node->Info);
        if (type.find("text/html") != std::string::npos &&
            parser.LoadFromFile(node->Info.LocalFileName))
            title = parser.Title();
    }
    std::string name = node->IsFolder ? node->DisplayName() + "/" : node->DisplayName();
    return name + "\t" + node->DirUrl() + "\t" + title + "\t" + FormatSizeKB(node->Info.Size) +
           "\t" + type + "\t" + FormatDateTimeShort(node->Info.LastModified);
}

int RunFind(TCliContext& ctx, const std::vector<std::string>& args) {
    auto data = std::make_unique<TFindData>();
    std::string location;
    std::optional<SYSTEMTIME> dateFrom, dateTo;
    std::optional<std::uint32_t> months, days, sizeMin, sizeMax;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> const std::string* {
            return i + 1 < args.size() ? &args[++i] : nullptr;
        };
        if (a == "-h" || a == "--help")
            return Help(ctx);
        if (a == "--case") {
            data->MatchAnyCase = false;
        } else if (a == "--no-subfolders") {
            data->SubFolders = false;
        } else if (a == "--name" || a == "--contains" || a == "--in" || a == "--ext" ||
                   a == "--date-from" || a == "--date-to" || a == "--months" || a == "--days" ||
                   a == "--size-min" || a == "--size-max") {
            const std::string* v = value();
            if (v == nullptr)
                return UsageError(ctx, "find", a + " needs a value");
            const std::string ansi = ctx.ArgToAnsi(*v);
            bool ok = true;
            if (a == "--name") {
                SetNames(*data, ansi);
            } else if (a == "--contains") {
                data->Contains = std::string(AnsiTrim(ansi));
            } else if (a == "--in") {
                location = std::string(AnsiTrim(ansi));
            } else if (a == "--ext") {
                data->TypeFilter = true;
                std::size_t start = 0;
                for (;;) {
                    const std::size_t comma = ansi.find(',', start);
                    std::string ext = AnsiLowerCase(
                        AnsiTrim(std::string_view(ansi).substr(start, comma - start)));
                    if (!ext.empty() && ext[0] != '.')
                        ext.insert(0, ".");
                    data->AddExtension(ext);
                    if (comma == std::string::npos)
                        break;
                    start = comma + 1;
                }
            } else if (a == "--date-from") {
                ok = (dateFrom = ParseDate(*v)).has_value();
            } else if (a == "--date-to") {
                ok = (dateTo = ParseDate(*v)).has_value();
            } else if (a == "--months") {
                ok = (months = ParseNumber(*v, 100000)).has_value();
            } else if (a == "--days") {
                ok = (days = ParseNumber(*v, 10000000)).has_value();
            } else if (a == "--size-min") {
                ok = (sizeMin = ParseNumber(*v, 4194304)).has_value();
            } else {
                ok = (sizeMax = ParseNumber(*v, 4194304)).has_value();
            }
            if (!ok)
                return UsageError(ctx, "find", "bad value for " + a + ": " + *v);
        } else {
            return UsageError(ctx, "find", "unknown find argument " + a);
        }
    }
    const int dateModes = (dateFrom || dateTo ? 1 : 0) + (months ? 1 : 0) + (days ? 1 : 0);
    if (dateModes > 1 || dateFrom.has_value() != dateTo.has_value())
        return UsageError(ctx, "find",
                          "give --date-from with --date-to, or --months, or --days, not several");
    const SYSTEMTIME today = CurrentLocalTime();
    if (dateFrom)
        SetDateRange(*data, dmBetween, today, 0, *dateFrom, *dateTo);
    else if (months)
        SetDateRange(*data, dmMonths, today, static_cast<int>(*months));
    else if (days)
        SetDateRange(*data, dmDays, today, static_cast<int>(*days));
    if (sizeMin && sizeMax)
        SetSizeRange(*data, soBetween, *sizeMin, *sizeMax);
    else if (sizeMin)
        SetSizeRange(*data, soAtLeast, *sizeMin);
    else if (sizeMax)
        SetSizeRange(*data, soAtMost, *sizeMax);

    TIndexDatSource* source = nullptr;
    auto tree = OpenCacheTree(ctx, source);
    if (!CheckReadable(ctx, *source))
        return kExitFailure;
    data->StartNode = location.empty() || location == "Web Cache" ? tree->Root()
                                                                  : tree->FindFolderByUrl(location);
    if (data->StartNode == nullptr) {
        *ctx.Err << "error: " << AnsiToUtf8(location)
                 << ": no such folder in the cache (folders are written as the tree shows them, "
                    "e.g. http://host/dir/)\n";
        return kExitFailure;
    }

    // This thread owns the tree and prints; the worker only reads the tree.
    TFindThread search(std::move(data));
    THTMLParser parser;
    int hits = 0;
    search.OnFound = [&](TFindThread&, TWebCacheTreeNode* node) {
        ++hits;
        ctx.WriteLine(Row(parser, node));
    };
    StopBeforeChanges(*tree, search);
    search.Start();
    search.WaitFor();
    tree->OnChanging = nullptr;
    ctx.WriteLine(std::to_string(hits) + (hits == 1 ? " hit" : " hits"));
    return kExitOk;
}

const TCliCommandRegistrar registrar({
    "find",
    kUsage,
    "searches the cache by name, content, folder, date, type and size; prints each hit "
    "(find -h for more)",
    RunFind,
});

} // namespace
} // namespace tarnhold::cli
