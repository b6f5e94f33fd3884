#include "support/memorycachesource.h"

#include <algorithm>
#include <cerrno>

namespace tarnhold {

TMemoryCacheSource::TMemoryCacheSource(std::vector<TRawCacheEntry> entries)
    : entries_(std::move(entries)) {}

bool TMemoryCacheSource::First(TRawCacheEntry& entry) {
    open_ = true;
    next_ = 0;
    ++enumerations_;
    return Next(entry);
}

bool TMemoryCacheSource::Next(TRawCacheEntry& entry) {
    if (!open_ || next_ >= entries_.size())
        return false;
    entry = entries_[next_++];
    return true;
}

void TMemoryCacheSource::Close() {
    open_ = false;
    next_ = 0;
}

TError TMemoryCacheSource::DeleteEntry(std::string_view url) {
    if (failError_ != 0 && url == failUrl_)
        return TError::FromErrno(failError_);
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [&](const TRawCacheEntry& e) { return e.Url == url; });
    if (it == entries_.end())
        return TError::FromErrno(ENOENT);
    std::size_t index = static_cast<std::size_t>(it - entries_.begin());
    entries_.erase(it);
    if (open_ && index < next_)
        --next_;
    return {};
}

} // namespace tarnhold
