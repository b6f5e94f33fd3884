// A cache source over entries held in memory: for tests, benchmarks and
// caches assembled by the program itself.
#pragma once

#include "sources/cachesource.h"

#include <string>
#include <vector>

namespace tarnhold {

class TMemoryCacheSource : public TCacheSource {
public:
    TMemoryCacheSource() = default;
    explicit TMemoryCacheSource(std::vector<TRawCacheEntry> entries);

    void Add(TRawCacheEntry entry) { entries_.push_back(std::move(entry)); }
    // Deleting an entry with this URL fails with this errno value.
    void FailDeletion(std::string url, int error) {
        failUrl_ = std::move(url);
        failError_ = error;
    }
    // How many enumerations were started.
    int Enumerations() const { return enumerations_; }
    const std::vector<TRawCacheEntry>& Entries() const { return entries_; }

    bool First(TRawCacheEntry& entry) override;
    bool Next(TRawCacheEntry& entry) override;
    void Close() override;
    // Removes the first entry with exactly this URL. The cached copy, if any,
    // is left alone: the entries here do not own files.
    TError Error() const override { return {}; }
    TError DeleteEntry(std::string_view url) override;
    std::string Describe() const override { return "(memory)"; }
    // The kind of cache it stands for: an index.dat unless set.
    TCacheKind Kind() const override { return kind_; }
    void SetKind(TCacheKind kind) { kind_ = kind; }

private:
    std::vector<TRawCacheEntry> entries_;
    std::size_t next_ = 0;
    bool open_ = false;
    int enumerations_ = 0;
    std::string failUrl_;
    int failError_ = 0;
    TCacheKind kind_ = TCacheKind::ckIndexDat;
};

} // namespace tarnhold
