#include "cache/webcache.h"

#include "platform/files.h"
#include "text/urlscheme.h"

namespace tarnhold {

bool IsAcceptedCacheEntry(std::uint32_t entryType, std::string_view url) {
    if ((entryType & (COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY)) != 0)
        return false;
    return CrackUrlScheme(url) != usUnknown;
}

void FillEntryInfo(const TRawCacheEntry& raw, TWebCacheEntryInfo& entry) {
    FILETIME local{};
    if (IsZeroFileTime(raw.LastModified)) {
        // No time in the cache: the cached copy's last-write time stands in.
        // If that cannot be read either, the time stays zero (1601-01-01).
        GetFileLastWriteTime(raw.LocalFileName, local);
    } else if (!FileTimeToLocalFileTime(raw.LastModified, local)) {
        local = FILETIME{};
    }
    SYSTEMTIME st{};
    if (!FileTimeToSystemTime(local, st))
        FileTimeToSystemTime(FILETIME{}, st);
    entry.LastModified = st;
    entry.Url = raw.Url;
    entry.LocalFileName = raw.LocalFileName;
    entry.FileExtension = raw.FileExtension;
    entry.Size = static_cast<std::uint32_t>(raw.Size);
    entry.HeaderInfo.SetText(raw.HeaderBlock);
}

TWebCache::TWebCache(std::unique_ptr<TCacheSource> source) : source_(std::move(source)) {}

TWebCache::~TWebCache() {
    FindClose();
}

void TWebCache::SetSource(std::unique_ptr<TCacheSource> source) {
    FindClose();
    source_ = std::move(source);
}

bool TWebCache::Fetch(bool first, TWebCacheEntryInfo& entry) {
    bool got = first ? source_->First(raw_) : source_->Next(raw_);
    while (got) {
        if (IsAcceptedCacheEntry(raw_.EntryType, raw_.Url)) {
            FillEntryInfo(raw_, entry);
            return true;
        }
        got = source_->Next(raw_);
    }
    return false;
}

bool TWebCache::FindFirst(TWebCacheEntryInfo& entry) {
    FindClose();
    if (!source_)
        return false;
    enumerating_ = true;
    if (Fetch(true, entry))
        return true;
    FindClose();
    return false;
}

bool TWebCache::FindNext(TWebCacheEntryInfo& entry) {
    if (!enumerating_ || !source_)
        return false;
    return Fetch(false, entry);
}

void TWebCache::FindClose() {
    if (enumerating_ && source_)
        source_->Close();
    enumerating_ = false;
    raw_.Clear();
}

int TWebCache::Count() {
    TWebCacheEntryInfo entry;
    int count = 0;
    if (FindFirst(entry)) {
        do {
            ++count;
        } while (FindNext(entry));
    }
    FindClose();
    return count;
}

bool TWebCache::DeleteEntry(std::string_view url) {
    return source_ != nullptr && source_->DeleteEntry(url);
}

} // namespace tarnhold
