// The cache source over an index.dat on disk: Internet Explorer's or Wine's
// URL cache container (index.dat and the cache folders beside it).
#pragma once

#include "sources/cachesource.h"
#include "sources/indexdat/indexdat.h"
#include "sources/indexdat/indexdatdeleter.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
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
    //
    // A damaged index (shorter than its header says, a broken hash chain,
    // items pointing outside the file, records that do not fit) is read
    // further by scanning its blocks: the records found there follow those
    // of the hash table, as ordinary entries. ReadReport says what was wrong.
    // With SetRecovered, deleted entries whose records survive in free blocks
    // follow at the end, marked Recovered, unless a live entry has the URL.
    bool First(TRawCacheEntry& entry) override;
    bool Next(TRawCacheEntry& entry) override;
    void Close() override;
    // Removes the entry from the file on disk (not from a running snapshot).
    TError Error() const override;
    TError DeleteEntry(std::string_view url) override;
    std::string Describe() const override;
    TReadReport ReadReport() const override { return report_; }

    TCacheKind Kind() const override { return TCacheKind::ckIndexDat; }
    std::filesystem::path IndexFile() const override { return indexFile_; }
    // Whether enumerations deliver the deleted entries found in free blocks.
    bool SetRecovered(bool on) override {
        recovered_ = on;
        return true;
    }
    bool Recovered() const { return recovered_; }

    // Error().Code() (0 after a success); EBADMSG for a file that is no
    // index.dat. Error() has the text to show.
    int LastError() const { return error_.Code(); }
    // Live hash items of the last snapshot whose record could not be read or
    // was not the record's own (overlapping another, unallocated blocks).
    std::size_t SkippedRecords() const { return skipped_; }

    // How long DeleteEntry waits while another program holds the index's
    // lock (10 s unless set), and what it calls once when it starts waiting
    // (a front end shows a message).
    bool SetLockWait(std::chrono::milliseconds wait, std::function<void()> onWaiting) override;

private:
    bool Deliver(TRawCacheEntry& entry);

    enum class TKind : std::uint8_t { Live, Lost, Deleted };
    struct TQueued {
        std::uint32_t Offset;
        TKind Kind;
    };

    std::filesystem::path indexFile_;
    std::filesystem::path folder_;
    std::string indexName_;
    std::string data_;
    std::vector<TQueued> items_;
    // Cached files that live records name ("folder index/name"): a deleted
    // entry does not get a file that a live one uses now.
    std::set<std::string> liveFiles_;
    std::size_t next_ = 0;
    std::size_t skipped_ = 0;
    bool open_ = false;
    bool recovered_ = false;
    TReadReport report_;
    // URLs of the deleted entries delivered by the last enumeration: they
    // are no longer in the index, so there is nothing to delete.
    std::set<std::string> deletedUrls_;
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

// A file in a cache folder that no record of the index names (live or
// deleted): what a browser downloaded and then lost track of.
struct TCacheOrphan {
    std::filesystem::path Container; // the folder of the index
    std::string Folder;              // the cache folder's name (native bytes)
    std::string Name;                // the file's name (native bytes)
    std::uint64_t Size = 0;
    FILETIME LastWrite; // UTC
    std::filesystem::path Path() const { return Container / Folder / Name; }
};

// The orphans of an index, by folder and name. Only the cache folders of the
// index's folder table are looked in, each a real folder beside the index
// (not a link), and only regular files count. Records are those the hash
// table names and those a scan of the blocks finds, deleted ones included,
// so a damaged index yields no more orphans than a sound one.
[[nodiscard]] TError FindIndexDatOrphans(const std::filesystem::path& indexFile,
                                         std::vector<TCacheOrphan>& orphans);

// Copies an orphan to toFolder/<its cache folder>/<its name>, keeping its
// time. Folders are made as needed; no link is followed below toFolder and
// an existing file is never replaced (EEXIST). A failed copy leaves nothing.
[[nodiscard]] TError CopyCacheOrphan(const TCacheOrphan& orphan,
                                     const std::filesystem::path& toFolder);

// The index.dat for a path that names the file or its folder.
std::filesystem::path ResolveIndexDatPath(const std::filesystem::path& path);

} // namespace tarnhold
