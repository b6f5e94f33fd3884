// The rename list: every cache URL whose local name differs from its URL's
// file name, with the local URL it was given, so that names stay the same
// across rebuilds and runs. Each cache has its own, kept in the data folder's
// "renameLists" folder under a name made from the cache's location; the one
// "renameList.dat" that every cache once shared hands each cache its records
// the first time that cache is read (see TWebCacheTree::SetRenameListFile).
#pragma once

#include "platform/error.h"
#include "tree/recordfile.h"

#include <cstdint>
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
    // Moves the item Lookup would find for the URL into to (replacing an item
    // of the same key there) and returns its value; empty, moving nothing,
    // when this list holds none. Both lists are then modified.
    std::string MoveTo(std::string_view url, TWebCacheRenameItems& to);
    void Clear() {
        modified_ = modified_ || !items_.empty();
        items_.clear();
        filter_.clear();
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
    // The key Lookup looks for: the URL normalised and lower-cased, in a
    // buffer that is reused (one per thread).
    static const std::string& LookupKey(std::string_view url);
    // Notes a lower-cased key that the table now holds.
    void Note(const std::string& lower);
    // False when the table surely holds no such key: most URLs of a refresh
    // have no item, and a look at one bit costs less than the table's.
    bool MayHold(const std::string& lower) const;

    std::unordered_map<std::string, TWebCacheRenameItem> items_; // by lower-cased key
    // One bit per hash of the keys held (or held once: a key taken out
    // keeps its bit), at least 16 bits per key; empty when none is held.
    std::vector<std::uint64_t> filter_;
    bool modified_ = false;
};

// The folder of the data folder that holds the lists of the caches, and the
// list every cache shared before each had its own.
inline constexpr const char* kRenameListFolder = "renameLists";
inline constexpr const char* kSharedRenameListFile = "renameList.dat";

// The file name of the rename list of the cache that cachePath names (as
// CacheIdentityPath gives it): a readable part, "-", the first 16 hex digits
// of the SHA-256 of the path's bytes, ".dat". The readable part is the end of
// the path, its last components joined by '_', at most 40 bytes, every byte
// but ASCII letters, digits, '.', '-' and '_' written as '_', and never
// starting with '.' or '-' ("cache" when nothing is left). So the name is
// short and plain whatever the path holds, and two paths share a name only
// when their hashes meet.
std::string RenameListFileName(const std::filesystem::path& cachePath);

} // namespace tarnhold
