// Cache commands: list the entries of the cache, delete one.
#include "cache/webcache.h"
#include "clicache.h"
#include "platform/codepage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <istream>
#include <ostream>

namespace tarnhold::cli {

namespace {

struct TOpenedCache {
    TIndexDatSource* Source = nullptr; // owned by Cache
    TWebCache Cache;
};

void OpenCache(const TCliContext& ctx, TOpenedCache& opened) {
    auto source = OpenCacheSource(ctx);
    opened.Source = source.get();
    opened.Cache.SetSource(std::move(source));
}

std::string FormatTime(const SYSTEMTIME& st) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04u/%02u/%02u %02u:%02u:%02u", st.wYear, st.wMonth, st.wDay,
                  st.wHour, st.wMinute, st.wSecond);
    return buf;
}

void WriteEntry(const TCliContext& ctx, const TWebCacheEntryInfo& e) {
    ctx.WriteText(e.Url);
    ctx.WriteUtf8("\t" + std::to_string(e.Size) + "\t" + FormatTime(e.LastModified) + "\t");
    ctx.WriteText(e.HeaderInfo.Values("Content-Type"));
    ctx.WriteUtf8("\t" + e.LocalFileName + "\n");
}

int RunEntries(TCliContext& ctx, const std::vector<std::string>& args) {
    bool all = false;
    for (const auto& a : args) {
        if (a == "--all")
            all = true;
        else
            return UsageError(ctx, "entries", "unknown argument " + a);
    }
    TOpenedCache opened;
    OpenCache(ctx, opened);
    if (!all) {
        TWebCacheEntryInfo e;
        for (bool ok = opened.Cache.FindFirst(e); ok; ok = opened.Cache.FindNext(e))
            WriteEntry(ctx, e);
        opened.Cache.FindClose();
        return CheckReadable(ctx, *opened.Source) ? kExitOk : kExitFailure;
    }
    // Every entry the index holds, with its type flags and whether callers
    // see it.
    TIndexDatSource& source = *opened.Source;
    TRawCacheEntry raw;
    for (bool ok = source.First(raw); ok; ok = source.Next(raw)) {
        char flags[16];
        std::snprintf(flags, sizeof flags, "0x%08X", raw.EntryType);
        const bool accepted = IsAcceptedCacheEntry(raw.EntryType, raw.Url);
        ctx.WriteUtf8(std::string(flags) + (accepted ? "\tok\t" : "\tskipped\t"));
        TWebCacheEntryInfo e;
        FillEntryInfo(raw, e);
        WriteEntry(ctx, e);
    }
    source.Close();
    return CheckReadable(ctx, source) ? kExitOk : kExitFailure;
}

bool Confirm(const TCliContext& ctx, const std::string& urlUtf8, const TIndexDatSource& source) {
    *ctx.Err << "Delete " << urlUtf8 << " from " << source.IndexFile().string() << "? [y/N] ";
    ctx.Err->flush();
    std::string answer;
    if (ctx.In == nullptr || !std::getline(*ctx.In, answer))
        return false;
    const std::string_view a = AnsiTrim(answer);
    return a == "y" || a == "Y" || AnsiSameText(a, "yes");
}

int RunDeleteEntry(TCliContext& ctx, const std::vector<std::string>& args) {
    bool yes = false;
    std::optional<std::string> url;
    for (const auto& a : args) {
        if (a == "--yes" || a == "-y")
            yes = true;
        else if (!url && (a.empty() || a[0] != '-'))
            url = a;
        else
            return UsageError(ctx, "delete-entry", "unknown argument " + a);
    }
    if (!url)
        return UsageError(ctx, "delete-entry", "which URL?");
    TOpenedCache opened;
    OpenCache(ctx, opened);
    if (!yes && !Confirm(ctx, *url, *opened.Source)) {
        *ctx.Err << "nothing deleted\n";
        return kExitFailure;
    }
    // The argument arrives as UTF-8 (or ANSI with --raw); the index holds
    // ANSI in Internet Explorer's files and UTF-8 in Wine's: try both.
    const std::string ansi = ctx.ArgToAnsi(*url);
    TError result = opened.Cache.DeleteEntry(ansi);
    if (result.Code() == ENOENT && ansi != *url)
        result = opened.Cache.DeleteEntry(*url);
    if (result.Ok())
        return kExitOk;
    const int error = result.Code();
    if (error == ENOENT)
        *ctx.Err << "error: " << *url << ": no such entry in the cache\n";
    else if (error == EBADMSG)
        *ctx.Err << "error: " << opened.Source->IndexFile().string()
                 << ": not an index.dat that can be changed safely (it breaks the rules of the "
                    "format); nothing deleted\n";
    else if (error == EBUSY)
        *ctx.Err << "error: " << *url << ": the entry is in use by a browser; nothing deleted\n";
    else
        ctx.ReportError("cannot delete " + *url, error);
    return kExitFailure;
}

const TCliCommandRegistrar kEntries({
    "entries",
    "entries [--all]",
    "list the cache entries: URL, size, local time, Content-Type, cached file (--all: with the "
    "entries left out, and type flags)",
    RunEntries,
});

const TCliCommandRegistrar kDeleteEntry({
    "delete-entry",
    "delete-entry [--yes] URL",
    "delete one entry and its cached file from the cache (asks first unless --yes)",
    RunDeleteEntry,
});

} // namespace

} // namespace tarnhold::cli
