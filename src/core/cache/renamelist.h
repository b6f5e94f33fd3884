// The rename list: every cache URL whose local name differs from its URL's
// file name, with the local URL it was given, so that names stay the same
// across rebuilds and runs. Kept in "renameList.dat".
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnhold {

struct TWebCacheRenameItem {
    std::string Key;   // the cache URL, in DecodeURL form
    std::string Value; // directory URL + local file name, in DecodeURL form
};

// Sorted by the lower-cased Key in byte order; keys are unique ignoring case.
class TWebCacheRenameItems {
public:
    // Normalises both; a value without "://" gets the key's scheme part. An
    // existing key (ignoring case) has its value replaced.
    int Add(std::string_view key, std::string_view value);
    // The value recorded for the URL, or empty.
    std::string Lookup(std::string_view url) const;
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    const TWebCacheRenameItem& Items(int index) const {
        return items_[static_cast<std::size_t>(index)].item;
    }

    // Replaces the list by the records of the file; stops at the first damaged
    // record, keeping what came before. False when the file cannot be read
    // (the list is then empty).
    bool LoadFromFile(const std::filesystem::path& file);
    bool SaveToFile(const std::filesystem::path& file) const;

private:
    struct Entry {
        std::string lowerKey;
        TWebCacheRenameItem item;
    };
    int Find(std::string_view lowerKey) const;

    std::vector<Entry> items_;
};

} // namespace tarnhold
