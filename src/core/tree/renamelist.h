// The rename list: every cache URL whose local name differs from its URL's
// file name, with the local URL it was given, so that names stay the same
// across rebuilds and runs. Kept in "renameList.dat".
#pragma once

#include "platform/error.h"
#include "tree/recordfile.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarnhold {

struct TWebCacheRenameItem {
    std::string Key;   // the cache URL, in DecodeURL form
    std::string Value; // directory URL + local file name, in DecodeURL form
};

// Keys are unique ignoring case; the list order is the byte order of the
// lower-cased keys. Held in a hash table by the lower-cased key and put in
// order only when listed or saved: every entry of a rebuild is looked up, and
// a rebuild may add tens of thousands of items in no particular order.
class TWebCacheRenameItems {
public:
    // Normalises both; a value without "://" gets the key's scheme part. An
    // existing key (ignoring case) has its value replaced.
    void Add(std::string_view key, std::string_view value);
    // The value recorded for the URL, or empty.
    std::string Lookup(std::string_view url) const;
    void Clear() {
        modified_ = modified_ || !items_.empty();
        items_.clear();
    }
    int Count() const { return static_cast<int>(items_.size()); }
    // The items in list order.
    std::vector<const TWebCacheRenameItem*> Items() const;

    // Whether the list changed since it was last loaded or saved.
    bool Modified() const { return modified_; }

    // Replaces the list by the records of the file; damaged records are
    // passed over. The list is then unmodified.
    TRecordFileRead LoadFromFile(const std::filesystem::path& file);
    // Writes the list; on success it is unmodified.
    [[nodiscard]] TError SaveToFile(const std::filesystem::path& file);

private:
    std::unordered_map<std::string, TWebCacheRenameItem> items_; // by lower-cased key
    bool modified_ = false;
};

} // namespace tarnhold
