// The cache source over an index.dat on disk: Internet Explorer's or Wine's
// URL cache container (index.dat and the cache folders beside it).
#pragma once

#include "cache/cachesource.h"
#include "cache/indexdat.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarnhold {

class TIndexDatSource : public TCacheSource {
public:
    // path: the index.dat itself, or the folder that holds it.
    explicit TIndexDatSource(std::filesystem::path path);

    // Reads the whole index (a snapshot: a browser may change the file
    // meanwhile) and delivers its entries in hash-table order, as WinINet's
    // enumeration does. Records that do not fit are passed over.
    bool First(TRawCacheEntry& entry) override;
    bool Next(TRawCacheEntry& entry) override;
    void Close() override;
    // Removes the entry from the file on disk (not from a running snapshot).
    TError Error() const override;
    TError DeleteEntry(std::string_view url) override;
    std::string Describe() const override;

    const std::filesystem::path& IndexFile() const { return indexFile_; }
    // The errno value of the last failed First or DeleteEntry (0 after a
    // success); EBADMSG for a file that is no index.dat.
    int LastError() const { return lastError_; }
    // Live hash items of the last snapshot whose record could not be read.
    std::size_t SkippedRecords() const { return skipped_; }

private:
    bool Deliver(TRawCacheEntry& entry);

    std::filesystem::path indexFile_;
    std::filesystem::path folder_;
    std::string data_;
    std::vector<TIndexDatItem> items_;
    std::size_t next_ = 0;
    std::size_t skipped_ = 0;
    bool open_ = false;
    int lastError_ = 0;
};

// The full path of a record's cached file: container folder, cache folder of
// the record, file name. Empty when the record has no file, names a folder
// that does not exist in the table, or a name that would leave the container
// (a "/" or a "." / ".." component). Names are ANSI text in Internet
// Explorer's files and UTF-8 in Wine's; the one found on disk wins.
std::filesystem::path IndexDatLocalPath(const TIndexDatView& view,
                                        const std::filesystem::path& folder,
                                        const TIndexDatRecord& record);

// The index.dat for a path that names the file or its folder.
std::filesystem::path ResolveIndexDatPath(const std::filesystem::path& path);

} // namespace tarnhold
