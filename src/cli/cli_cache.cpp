// Cache commands: list the entries of the cache, delete some, list the caches
// found on the machine.
#include "clicache.h"
#include "platform/codepage.h"
#include "sources/cachelocation.h"
#include "sources/indexdat/indexdatsource.h"
#include "sources/opencache.h"
#include "text/displayformat.h"
#include "text/urlutils.h"
#include "tree/webcache.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>

namespace tarnhold::cli {

namespace {

// Times in rows as every listing shows them ("2012/10/28 7:19").
std::string FormatTime(const TCliContext& ctx, const SYSTEMTIME& st) {
    return ctx.Show(FormatDateTimeShort(st));
}

int RunEntries(TCliContext& ctx, const TCliArgs& args) {
    const bool all = args.Has("all");
    auto source = OpenCacheSource(ctx);
    if (!source)
        return kExitFailure;
    // A browser's cache may hold a URL under several keys (one per site that
    // loaded it): --all shows the keys, and the older copies too.
    TKeyedEntries* keys = source->Keys();
    const bool keyed = all && keys != nullptr;
    if (keys != nullptr)
        keys->SetListShadowed(all);
    std::vector<std::string> columns{"url",        "url_decoded",  "size",
                                     "time",       "content_type", "cached_file",
                                     "type_flags", "listed",       "recovered"};
    if (keyed)
        columns.emplace_back("key");
    TListing listing(ctx, columns);
    TRawCacheEntry raw;
    for (bool ok = source->First(raw); ok; ok = source->Next(raw)) {
        bool accepted = IsAcceptedCacheEntry(raw.EntryType, raw.Url);
        std::string key;
        if (keyed) {
            key = keys->CurrentKey();
            accepted = accepted && !keys->CurrentShadowed();
        }
        if (!accepted && !all)
            continue;
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%08X", raw.EntryType);
        TWebCacheEntryInfo e;
        FillEntryInfo(raw, e);
        const std::string type = e.HeaderInfo.Values("Content-Type");
        std::string human = ctx.Show(e.Url) + "\t" + std::to_string(e.Size) + "\t" +
                            FormatTime(ctx, e.LastModified) + "\t" + ctx.Show(type) + "\t" +
                            ctx.ShowUtf8(e.LocalFileName);
        if (all)
            human += std::string("\t") + flags + (accepted ? "\tok" : "\tskipped");
        if (raw.Recovered)
            human += "\trecovered";
        if (keyed)
            human += "\t" + ctx.Show(key);
        listing.Row(human, [&] {
            std::vector<TValue> row{
                TValue::Ansi(e.Url),        TValue::Utf8(DecodeURLForDisplay(e.Url)),
                TValue::Count(e.Size),      TValue::Time(e.LastModified),
                TValue::Ansi(type),         TValue::Utf8(e.LocalFileName),
                TValue::Utf8(flags),        TValue::Bool(accepted),
                TValue::Bool(raw.Recovered)};
            if (keyed)
                row.push_back(TValue::Ansi(key));
            return row;
        });
    }
    source->Close();
    if (keyed) {
        // The older copies the source cannot read are known by key only.
        for (const TKeyedCopy& copy : keys->UndeliveredCopies()) {
            listing.Row(ctx.Show(copy.Url) + "\t\t\t\t" + ctx.ShowUtf8(copy.FileName) +
                            "\t\tskipped\t" + ctx.Show(copy.Key),
                        [&] {
                            return std::vector<TValue>{
                                TValue::Ansi(copy.Url), TValue::Utf8(DecodeURLForDisplay(copy.Url)),
                                TValue::Null(),         TValue::Null(),
                                TValue::Null(),         TValue::Utf8(copy.FileName),
                                TValue::Null(),         TValue::Bool(false),
                                TValue::Bool(false),    TValue::Ansi(copy.Key)};
                        });
        }
    }
    return CheckReadable(ctx, *source) ? kExitOk : kExitFailure;
}

struct TTarget {
    std::string Url;       // as the cache holds it
    std::string LocalFile; // its cached file, or empty
};

std::string DescribeTarget(const TCliContext& ctx, const TTarget& t) {
    return ctx.Show(t.Url) + (t.LocalFile.empty()
                                  ? std::string(" (no cached file)")
                                  : " (cached file " + ctx.ShowUtf8(t.LocalFile) + ")");
}

// The entries the arguments name, each found once; false after saying which
// argument names none or several.
bool FindTargets(const TCliContext& ctx, TCacheSource& source, const std::vector<std::string>& urls,
                 std::vector<TTarget>& targets) {
    std::vector<TTarget> entries;
    TRawCacheEntry raw;
    for (bool ok = source.First(raw); ok; ok = source.Next(raw))
        entries.push_back({raw.Url, raw.LocalFileName});
    source.Close();
    if (!CheckReadable(ctx, source))
        return false;
    bool found = true;
    for (const auto& url : urls) {
        TUrlMatcher matcher(url, 2); // nothing is deleted on a guess about case
        for (std::size_t i = 0; i < entries.size(); ++i)
            matcher.Offer(entries[i].Url, i);
        if (matcher.Best().empty()) {
            ctx.Fail(ctx.ShowUtf8(url) + ": no such entry in the cache");
            found = false;
        } else if (matcher.Best().size() > 1) {
            ctx.Fail(ctx.ShowUtf8(url) + ": ambiguous; the cache holds:");
            for (std::size_t i : matcher.Best())
                *ctx.Err << "  " << ctx.Show(entries[i].Url) << "\n";
            found = false;
        } else {
            const TTarget& t = entries[matcher.Best()[0]];
            bool twice = false;
            for (const auto& done : targets)
                twice = twice || done.Url == t.Url;
            if (!twice)
                targets.push_back(t);
        }
    }
    return found;
}

bool Confirm(const TCliContext& ctx, const TCacheSource& source,
             const std::vector<TTarget>& targets) {
    *ctx.Err << "Delete from " << ShowSource(ctx, source) << ":\n";
    for (const auto& t : targets)
        *ctx.Err << "  " << DescribeTarget(ctx, t) << "\n";
    *ctx.Err << (targets.size() == 1 ? "Delete this entry? [y/N] "
                                     : "Delete these entries? [y/N] ");
    ctx.Err->flush();
    std::string answer;
    if (ctx.In == nullptr || !std::getline(*ctx.In, answer))
        return false;
    const std::string_view a = AnsiTrim(answer);
    return a == "y" || a == "Y" || AnsiSameText(a, "yes");
}

int RunDeleteEntry(TCliContext& ctx, const TCliArgs& args) {
    const bool yes = args.Has("yes");
    if (!yes && !ctx.InIsTerminal)
        return UsageError(ctx, "standard input is no terminal to ask on; give --yes to delete "
                               "without asking");
    auto owned = OpenCacheSource(ctx);
    if (!owned)
        return kExitFailure;
    TCacheSource& source = *owned;
    std::vector<TTarget> targets;
    if (!FindTargets(ctx, source, args.Operands, targets)) {
        ctx.Fail("nothing deleted");
        return kExitFailure;
    }
    if (!yes && !Confirm(ctx, source, targets)) {
        ctx.Fail("nothing deleted");
        return kExitFailure;
    }
    // A browser's cache refuses at once while the browser holds it, saying
    // why; an index.dat's lock is waited for.
    const bool waits = WaitForLock(ctx, source);
    TWebCache cache(std::move(owned));
    for (const auto& t : targets) {
        const TError result = cache.DeleteEntry(t.Url);
        if (result) {
            if (result.Code() == EBUSY && !waits)
                ctx.Fail(ctx.Show(t.Url) + ": not deleted: " + ctx.ShowUtf8(result.Text()));
            else if (result.Code() == EBUSY)
                ctx.Fail(ctx.Show(t.Url) + ": the entry is in use by a browser; not deleted");
            else
                ctx.Fail("cannot delete " + ctx.Show(t.Url) + ": " + ctx.ShowUtf8(result.Text()));
            return kExitFailure;
        }
        ctx.WriteLine("deleted " + DescribeTarget(ctx, t));
    }
    return kExitOk;
}

int RunOrphans(TCliContext& ctx, const TCliArgs& args) {
    auto source = OpenCacheSource(ctx);
    if (!source)
        return kExitFailure;
    // A browser's entry files are their own records: only index.dat's cache
    // folders can hold files that no record names.
    if (source->Kind() != TCacheKind::ckIndexDat) {
        ctx.Fail("orphans: " + ctx.ShowUtf8(source->Describe()) +
                 " is not an index.dat cache; its entry files name themselves");
        return kExitFailure;
    }
    // The read says what is damaged, as for any command over the cache.
    TRawCacheEntry raw;
    for (bool ok = source->First(raw); ok; ok = source->Next(raw)) {
    }
    source->Close();
    if (!CheckReadable(ctx, *source))
        return kExitFailure;
    std::vector<TCacheOrphan> orphans;
    if (TError error = FindIndexDatOrphans(source->IndexFile(), orphans)) {
        ctx.Fail(ctx.ShowUtf8(error.Text()));
        return kExitFailure;
    }
    const bool copy = args.Has("to");
    const std::filesystem::path to =
        copy ? std::filesystem::path(args.Value("to")) : std::filesystem::path();
    TListing listing(ctx, {"folder", "name", "size", "time", "path", "copied_to"});
    int rc = kExitOk;
    std::size_t copied = 0;
    for (const TCacheOrphan& orphan : orphans) {
        std::string copiedTo;
        if (copy) {
            if (TError error = CopyCacheOrphan(orphan, to)) {
                ctx.Fail("cannot copy " + ctx.ShowPath(orphan.Path()) + ": " +
                         ctx.ShowUtf8(error.Text()));
                rc = kExitFailure;
            } else {
                copiedTo = (to / orphan.Folder / orphan.Name).native();
                ++copied;
            }
        }
        SYSTEMTIME local;
        FILETIME lt;
        const bool timed =
            FileTimeToLocalFileTime(orphan.LastWrite, lt) && FileTimeToSystemTime(lt, local);
        if (!timed)
            local = SYSTEMTIME{};
        std::string human = ctx.ShowUtf8(orphan.Folder) + "\t" + ctx.ShowUtf8(orphan.Name) + "\t" +
                            std::to_string(orphan.Size) + "\t" + FormatTime(ctx, local) + "\t" +
                            ctx.ShowPath(orphan.Path());
        if (!copiedTo.empty())
            human += "\tcopied to " + ctx.ShowUtf8(copiedTo);
        listing.Row(human, [&] {
            return std::vector<TValue>{TValue::Utf8(orphan.Folder),
                                       TValue::Utf8(orphan.Name),
                                       TValue::Count(orphan.Size),
                                       TValue::Time(local),
                                       TValue::Utf8(orphan.Path().native()),
                                       copiedTo.empty() ? TValue::Null() : TValue::Utf8(copiedTo)};
        });
    }
    if (copy && ctx.Format == TOutputFormat::ofHuman)
        *ctx.Err << "tarnhold-cli: " << copied << (copied == 1 ? " file" : " files")
                 << " copied to " << ctx.ShowPath(to) << "\n";
    return rc;
}

int RunCaches(TCliContext& ctx, const TCliArgs&) {
    const std::vector<TFoundCache> found = ListCaches(ctx);
    const TCacheLocation read = LocateCache(ctx.Cache, DemoCache());
    const std::filesystem::path readIndex =
        read.Error ? std::filesystem::path() : CachePathOf({read.Path, {}, read.Kind});
    TListing listing(ctx, {"index", "entries", "found_by", "read", "error", "kind"});
    int rc = kExitOk;
    for (const auto& f : found) {
        const std::filesystem::path index = CachePathOf(f);
        TError openError;
        auto source = OpenCacheSourceAt(f.Folder, f.Kind, &openError);
        if (source)
            source->SetRecovered(ctx.Recovered);
        TWebCache cache(std::move(source));
        const bool opened = cache.Source() != nullptr;
        const int count = opened ? cache.Count() : 0;
        // A damaged cache is read as far as it goes: its count stands, and
        // what was wrong takes the error's place.
        const TReadReport report = opened ? cache.Source()->ReadReport() : TReadReport{};
        const TError readError = opened ? cache.Error() : openError;
        const TError error =
            !readError.Ok() || !report.Damaged ? readError : TError::Message(report.Summary);
        const bool counted = readError.Ok();
        const bool isRead = index == readIndex;
        std::string human = ctx.ShowPath(index) + "\t";
        human += counted ? std::to_string(count) + " entries" : std::string("unreadable");
        human += "\t" + ctx.ShowUtf8(f.Description);
        if (f.Kind != TCacheKind::ckIndexDat)
            human += std::string(" [") + CacheKindName(f.Kind) + "]";
        human += isRead ? "\t(read)" : "";
        if (error) {
            human += "\t" + ctx.ShowUtf8(error.Text());
            rc = kExitFailure;
        }
        listing.Row(human, [&] {
            return std::vector<TValue>{TValue::Utf8(index.native()),
                                       !counted ? TValue::Null()
                                                : TValue::Count(static_cast<std::uint64_t>(count)),
                                       TValue::Utf8(f.Description),
                                       TValue::Bool(isRead),
                                       error ? TValue::Utf8(error.Text()) : TValue::Null(),
                                       TValue::Utf8(CacheKindName(f.Kind))};
        });
    }
    if (found.empty() && ctx.Cache) {
        if (read.Error)
            ctx.Fail(ctx.ShowUtf8(read.Error.Text()));
        return kExitFailure;
    }
    return rc;
}

const TCliCommandRegistrar kEntries({
    "entries",
    "entries [--all] [--recovered]",
    "every cache entry: URL, size, time, Content-Type, cached file",
    "One line per entry, in the order the index holds them:\n"
    "URL<TAB>SIZE<TAB>TIME<TAB>CONTENT-TYPE<TAB>CACHED-FILE, the URL as stored,\n"
    "the size in bytes, TIME the entry's last-modified time in local time (else\n"
    "the time its file was written: the download). With --all also cookies,\n"
    "history and unknown schemes, each line ending in <TAB>FLAGS<TAB>ok|skipped\n"
    "(the entry type flags; skipped: not shown in the tree). With --recovered\n"
    "also the deleted entries whose records survive, after the others, each\n"
    "line ending in <TAB>recovered (no cached file when it is gone). For a\n"
    "Chromium or Firefox cache --all also lists the older copies of a URL that\n"
    "other sites' keys hold (skipped), and ends each line with <TAB>KEY.\n"
    "fields (--json, --tsv; always all of them): url, url_decoded, size (bytes),\n"
    "time (ISO 8601), content_type, cached_file, type_flags, listed, recovered;\n"
    "key with --all on a browser's cache.\n"
    "\n"
    "example: tarnhold-cli entries --all --tsv > entries.tsv\n",
    {{"all", 'a', "", "also the entries the tree leaves out, with type flags"}},
    true,
    0,
    0,
    RunEntries,
});

const TCliCommandRegistrar kOrphans({
    "orphans",
    "orphans [--to DIR]",
    "cached files that no entry names, and copying them out",
    "One line per file in the cache folders that no record of the index names,\n"
    "deleted records that survive included: FOLDER<TAB>NAME<TAB>SIZE<TAB>TIME\n"
    "<TAB>PATH, TIME the file's last write in local time. With --to DIR each\n"
    "is copied to DIR/FOLDER/NAME (folders made, nothing overwritten, no link\n"
    "followed) and the line ends in <TAB>copied to PATH; a file that cannot be\n"
    "copied is named on stderr and the exit code is 1.\n"
    "fields (--json, --tsv): folder, name, size (bytes), time (ISO 8601), path,\n"
    "copied_to (null when not copied).\n"
    "\n"
    "example: tarnhold-cli orphans --to ~/rescued\n",
    {{"to", 't', "DIR", "copy them into DIR, one folder per cache folder"}},
    true,
    0,
    0,
    RunOrphans,
});

const TCliCommandRegistrar kDeleteEntry({
    "delete-entry",
    "delete-entry [--yes] URL...",
    "remove entries and their cached files from the cache",
    "Each URL is looked up first, as stored or decoded (case counts); if one\n"
    "names no entry or several, nothing is deleted (exit code 1). Then the\n"
    "entries and their cached files are named and the question is asked on\n"
    "the terminal; without a terminal only --yes deletes (else exit code 2).\n"
    "Prints one line per entry removed: \"deleted URL (cached file PATH)\".\n"
    "Stops at the first entry that cannot be removed, with the reason.\n"
    "\n"
    "example: tarnhold-cli delete-entry --yes http://host/old.html\n",
    {{"yes", 'y', "", "delete without asking"}},
    false,
    1,
    -1,
    RunDeleteEntry,
});

const TCliCommandRegistrar kCaches({
    "caches",
    "caches",
    "every cache found on the machine, with its entry count",
    "One line per cache: INDEX<TAB>N entries<TAB>WHERE FOUND, \"(read)\" after\n"
    "the one the other commands read. Looks where the commands do, in their\n"
    "order: $TARNHOLD_CACHE, $WINEPREFIX, ~/.wine and ~/.local/share/wineprefixes,\n"
    "then the caches of Chromium and the browsers built on it (~/.cache/chromium,\n"
    "google-chrome, Brave, Edge, Vivaldi, Opera) and of Firefox (~/.cache/mozilla,\n"
    "~/.mozilla), snap and flatpak ones too, the one written last first, then\n"
    "the demo cache; a browser's cache is its folder, its kind in brackets after\n"
    "WHERE FOUND. With --cache PATH, below PATH only (PATH may name a browser's\n"
    "cache folder or its profile, or a folder that holds caches deeper down;\n"
    "see tarnhold-cli --help). A cache that cannot be read is listed with the\n"
    "reason, a damaged one with its count and what was wrong (and the exit code\n"
    "is 1).\n"
    "fields (--json, --tsv): index, entries, found_by, read, error, kind\n"
    "(index.dat, chromium, firefox).\n"
    "\n"
    "example: tarnhold-cli caches --cache ~/.wine\n",
    {},
    true,
    0,
    0,
    RunCaches,
});

} // namespace

} // namespace tarnhold::cli
