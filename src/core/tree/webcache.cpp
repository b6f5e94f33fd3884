#include "tree/webcache.h"

#include "platform/files.h"
#include "text/urlscheme.h"

namespace tarnhold {

namespace {

SYSTEMTIME LocalEntryTime(const TRawCacheEntry& raw) {
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
    return st;
}

} // namespace

void FillEntryInfo(const TRawCacheEntry& raw, TWebCacheEntryInfo& entry) {
    TRawCacheEntry copy = raw;
    FillEntryInfo(std::move(copy), entry);
}

void FillEntryInfo(TRawCacheEntry&& raw, TWebCacheEntryInfo& entry) {
    entry.LastModified = LocalEntryTime(raw);
    entry.Size = static_cast<std::uint32_t>(raw.Size); // the low 32 bits only
    entry.Url = std::move(raw.Url);
    entry.LocalFileName = std::move(raw.LocalFileName);
    entry.FileExtension = std::move(raw.FileExtension);
    entry.HeaderInfo.SetText(std::move(raw.HeaderBlock));
    entry.BodyOffset = raw.BodyOffset;
    entry.BodyLength = raw.BodyLength;
    entry.ContentEncoding = std::move(raw.ContentEncoding);
    entry.BodyCheck = raw.BodyCheck;
    entry.Store = std::move(raw.Store);
    entry.StoreKey = raw.StoreKey;
    entry.Recovered = raw.Recovered;
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
        ++position_;
        if (IsAcceptedCacheEntry(raw_.EntryType, raw_.Url)) {
            FillEntryInfo(std::move(raw_), entry); // raw_ is refilled by the next fetch
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
    position_ = 0;
    raw_.Clear();
}

int TWebCache::Count() {
    // The entries FindFirst/FindNext would deliver, without converting them.
    if (!source_)
        return 0;
    // A source runs one enumeration at a time: a running one is taken up
    // again where it stood once the count is done.
    const bool resume = enumerating_;
    const std::size_t position = position_;
    int count = 0;
    TRawCacheEntry raw;
    for (bool got = source_->First(raw); got; got = source_->Next(raw))
        count += IsAcceptedCacheEntry(raw.EntryType, raw.Url) ? 1 : 0;
    source_->Close();
    if (resume) {
        bool got = position > 0 && source_->First(raw);
        for (std::size_t skipped = 1; got && skipped < position; ++skipped)
            got = source_->Next(raw);
        if (!got)
            enumerating_ = false; // the cache changed under the enumeration
    }
    return count;
}

TError TWebCache::DeleteEntry(std::string_view url) {
    if (source_ == nullptr)
        return TError::FromErrno(ENOENT);
    return source_->DeleteEntry(url);
}

TError TWebCache::Error() const {
    return source_ == nullptr ? TError{} : source_->Error();
}

} // namespace tarnhold
