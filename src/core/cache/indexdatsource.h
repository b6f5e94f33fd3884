// The cache source over an index.dat on disk: Internet Explorer's or Wine's
// URL cache container (index.dat and the cache folders beside it).
#pragma once

#include "cache/cachesource.h"
#include "cache/indexdat.h"
#include "cache/indexdatdeleter.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarnhold {

class TIndexDatSource : public TCacheSource {
public:
    // path: the index.dat itself, or the folder that holds it.
    explicit TIndexDatSource(std::filesystem::path path);

    // Reads the whole index (a snapshot: a browser may change the file
    // meanwhile) and delivers its entries in hash-table order, as WinINet's
    // enumeration does. Records that do not fit are passed over, and each
    // record is delivered once however many hash items point at it. Only a
    // regular file is read. A cache that stores its URLs as UTF-8 (Wine) has
    // them, and its header text, delivered as ANSI text like any other.
    bool First(TRawCacheEntry& entry) override;
    bool Next(TRawCacheEntry& entry) override;
    void Close() override;
    // Removes the entry from the file on disk (not from a running snapshot).
    TError Error() const override;
    TError DeleteEntry(std::string_view url) override;
    std::string Describe() const override;

    const std::filesystem::path& IndexFile() const { return indexFile_; }
    // Error().Code() (0 after a success); EBADMSG for a file that is no
    // index.dat. Error() has the text to show.
    int LastError() const { return error_.Code(); }
    // Live hash items of the last snapshot whose record could not be read or
    // was not the record's own (overlapping another, unallocated blocks).
    std::size_t SkippedRecords() const { return skipped_; }

    // How long DeleteEntry waits while another program holds the index's
    // lock (10 s unless set), and what it calls once when it starts waiting
    // (a front end shows a message).
    void SetLockWait(std::chrono::milliseconds wait, std::function<void()> onWaiting = {});

private:
    bool Deliver(TRawCacheEntry& entry);

    std::filesystem::path indexFile_;
    std::filesystem::path folder_;
    std::string indexName_;
    std::string data_;
    std::vector<TIndexDatItem> items_;
    std::size_t next_ = 0;
    std::size_t skipped_ = 0;
    bool open_ = false;
    // Whether the snapshot's URLs are UTF-8: decided at the first entry whose
    // URL or headers are not ASCII (before it, either answer reads the same).
    enum class TUtf8 { Unknown, Yes, No } utf8_ = TUtf8::Unknown;
    TError error_;
    TIndexDatDeleteOptions deleteOptions_;
};

// The full path of a record's cached file: container folder, cache folder of
// the record, file name. Empty when the record has no file, names a folder
// that does not exist in the table, a name that would leave the container
// (a "/" or a "." / ".." component), or the index itself (indexName in the
// container folder, in any letter case). Names are ANSI text in Internet
// Explorer's files and UTF-8 in Wine's; the one found on disk wins.
// The path's native bytes.
std::string IndexDatLocalPath(const TIndexDatView& view, const std::filesystem::path& folder,
                              const TIndexDatRecord& record,
                              std::string_view indexName = "index.dat");

// The index.dat for a path that names the file or its folder.
std::filesystem::path ResolveIndexDatPath(const std::filesystem::path& path);

} // namespace tarnhold
