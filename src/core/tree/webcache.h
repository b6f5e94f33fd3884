// Access to the browser cache: enumeration of the entries that are web
// documents (cookies, history and unknown schemes are left out), converted to
// TWebCacheEntryInfo records, and deletion of single entries.
#pragma once

#include "sources/cachesource.h"
#include "tree/webcacheentry.h"

#include <cstddef>
#include <memory>
#include <string_view>

namespace tarnhold {

class TWebCache {
public:
    // Without a source the cache is empty.
    explicit TWebCache(std::unique_ptr<TCacheSource> source = nullptr);
    virtual ~TWebCache();
    TWebCache(const TWebCache&) = delete;
    TWebCache& operator=(const TWebCache&) = delete;

    // Closes any running enumeration and fills entry with the first accepted
    // entry; false (enumeration closed) when there is none.
    bool FindFirst(TWebCacheEntryInfo& entry);
    // The next accepted entry; false at the end. Does not close.
    bool FindNext(TWebCacheEntryInfo& entry);
    void FindClose();
    // The number of entries FindFirst/FindNext deliver. A running
    // enumeration goes on where it stood.
    virtual int Count();
    // Removes one entry through the source; ENOENT without a source.
    [[nodiscard]] TError DeleteEntry(std::string_view url);
    // Why the source's last enumeration stopped short (Ok for an empty cache).
    TError Error() const;

    TCacheSource* Source() const { return source_.get(); }
    void SetSource(std::unique_ptr<TCacheSource> source);

private:
    bool Fetch(bool first, TWebCacheEntryInfo& entry);

    std::unique_ptr<TCacheSource> source_;
    bool enumerating_ = false;
    std::size_t position_ = 0; // raw entries the running enumeration has taken
    TRawCacheEntry raw_;
};

// Fills a record from raw fields: local time (zero time falls back to the
// cached file's last-write time), low 32 bits of the size, headers.
void FillEntryInfo(const TRawCacheEntry& raw, TWebCacheEntryInfo& entry);
void FillEntryInfo(TRawCacheEntry&& raw, TWebCacheEntryInfo& entry);

} // namespace tarnhold
