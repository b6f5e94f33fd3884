// What the readers of Chromium's cache backends (the Simple cache, the
// blockfile cache, the SQL cache) share: the entry as every backend keeps it
// (a key, the pickled response head of stream 0, a body), and one
// enumeration over it. A backend's reader only reads its files and hands
// each entry it finds to TChromiumSourceBase::Keep; the base picks the newest
// copy of each URL, delivers them (and the older and deleted copies when
// asked), and words the damage report.
#pragma once

#include "sources/cachesource.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnhold {

// The caches' little-endian fields; the caller sees that the bytes are there.
inline std::uint32_t ChromiumU32(std::string_view d, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(d.data() + at);
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}
inline std::uint64_t ChromiumU64(std::string_view d, std::size_t at) {
    return ChromiumU32(d, at) | (std::uint64_t{ChromiumU32(d, at + 4)} << 32);
}

// Limits on what one entry may claim, against hostile files.
constexpr std::size_t kChromiumMaxKey = 1u << 20;
constexpr std::size_t kChromiumMaxHead = 4u << 20;

// The checksums of an entry that do not fit what they cover.
enum : unsigned {
    kChromiumKeyMismatch = 1,  // the key's SHA-256 or its 32-bit hash
    kChromiumHeadMismatch = 2, // the CRC-32 of the response head
    kChromiumBodyMismatch = 4, // the CRC-32 of the body
};

// What an entry holds, as far as the program needs it.
struct TChromiumEntry {
    std::string Key;              // the cache key, raw bytes
    std::string Url;              // the key without its partition prefix
    std::uint64_t BodyOffset = 0; // stream 1 within the file that holds it
    std::uint64_t BodyLength = 0;
    // Status line and header lines joined with CR LF, ending with one.
    std::string Head;
    int Status = 0;                // from the status line; 0 when unreadable
    std::int64_t ResponseTime = 0; // microseconds since 1601-01-01 UTC
    bool Truncated = false;        // the browser stored only part of the body
    bool Upload = false;           // the answer to a POST (upload id not 0)
    unsigned Mismatch = 0;         // kChromium*Mismatch: read all the same
    // The body's CRC-32 as its end record keeps it, when it keeps one; set
    // whether or not the body was checked against it while parsing.
    bool BodyHasCrc = false;
    bool BodyChecked = false;
    std::uint32_t BodyCrc = 0;
};

// Reads the pickled response info that every backend keeps as stream 0 of
// an entry: the times, the truncation flag, the status and the raw headers
// (into Head, Status, ResponseTime and Truncated). Fails with the reason
// when it is too damaged to read.
[[nodiscard]] TError ParseChromiumHead(std::string_view pickle, TChromiumEntry& entry);

// Gives out a parsed entry whose body lies in file (the path's native
// bytes) at BodyOffset: the URL, the time, the head, the body's place and
// encoding (a redirect has no body).
void FillChromiumEntry(const TChromiumEntry& e, std::string file, TRawCacheEntry& entry);

// The URL a key names: the key without its "1/0/" and "_dk_<sites> " prefixes.
std::string ChromiumKeyUrl(std::string_view key, bool* upload = nullptr);

// The 32-bit hash of a key (Paul Hsieh's SuperFastHash), which the Simple
// cache's entry files, the blockfile cache's records and the SQL cache's
// rows carry.
std::uint32_t ChromiumKeyHash(std::string_view key);

// What the Mismatch bits say, for people ("the body fails its checksum").
std::string ChromiumMismatchText(unsigned mismatch);

// A key as problem lines show it: its first 120 bytes.
std::string ChromiumShownKey(std::string_view key);

// What a parsed entry's key allows: listing it, leaving it out as the
// answer to a POST request (a sound key naming one), or passing it over as
// damaged (why says why).
enum class TChromiumKeyUse { List, Upload, Damaged };
TChromiumKeyUse ChromiumKeyUse(const TChromiumEntry& e, std::string& why);

// Why a browser holds the cache in folder now (a running Chromium's profile
// lock above it), or empty when none does.
std::string ChromiumCacheHeldBy(const std::filesystem::path& folder);

// What every backend's refresh counts; each backend's counts add their own.
struct TChromiumReadCounts {
    int Entries = 0;    // entries given out (one per URL, not counting deleted ones)
    int Shadowed = 0;   // older entries of a URL held under another partition key
    int Uploads = 0;    // answers to POST requests, left out
    int Damaged = 0;    // entries passed over: no readable entry, or a key that names nothing
    int Mismatched = 0; // entries given out although a checksum does not fit
    int Truncated = 0;  // entries whose body the browser stored only in part
    // The first problems, with where they are ("<where>: <what>").
    std::vector<std::string> Problems;
};

// One entry a refresh found.
struct TChromiumItem {
    TChromiumEntry Entry;
    // The file of the cache folder the entry's body lies in, by its name
    // (the Simple cache's entry file, the blockfile cache's block or
    // external file); empty when that file is gone. The SQL cache keeps
    // its bodies in rows instead.
    std::string File;
    std::uint64_t Id = 0;  // where the backend keeps it (a record's address, a row)
    int Shard = 0;         // the SQL cache's shard
    bool Deleted = false;  // deleted by the browser: given out only with the recovered entries
    bool Shadowed = false; // a newer entry of its URL hides it
};

class TChromiumSourceBase : public TCacheSource, public TKeyedEntries {
public:
    bool First(TRawCacheEntry& entry) override;
    bool Next(TRawCacheEntry& entry) override;
    void Close() override;
    TError Error() const override { return error_; }
    TCacheKind Kind() const override { return TCacheKind::ckChromium; }
    // A URL is held once per partition key (the site that loaded it).
    TKeyedEntries* Keys() override { return this; }
    // Also give out the entries the browser deleted that are still whole,
    // where the backend keeps them (not the Simple cache, which removes
    // their files).
    bool SetRecovered(bool on) override {
        recovered_ = on && keepsDeleted_;
        return keepsDeleted_;
    }

    // Also give out the entries that another partition key's newer entry of
    // the same URL hides (for a full listing).
    bool SetListShadowed(bool list) override {
        listShadowed_ = list;
        return true;
    }
    // The key of the entry the last First or Next gave, and whether a newer
    // entry of its URL hides it.
    std::string CurrentKey() const override;
    bool CurrentShadowed() const override;
    // The hidden entries, unless they were listed.
    std::vector<TKeyedCopy> UndeliveredCopies() const override;
    // A hidden entry as the last enumeration read it; its body is read
    // where it lies when it is asked for.
    [[nodiscard]] TError ReadCopy(const TKeyedCopy& copy, TRawCacheEntry& entry) const override;

    const std::filesystem::path& Folder() const { return folder_; }
    // Why a browser holds this cache now (a running Chromium's profile
    // lock), or empty when none does.
    std::string HeldBy() const;

protected:
    // keepsDeleted: the backend keeps entries the browser deleted.
    TChromiumSourceBase(std::filesystem::path folder, bool keepsDeleted);

    // Reads the cache afresh, its counts first set to nothing, and hands
    // every entry it finds to Keep. False, with error_ set, when the cache
    // cannot be read at all.
    virtual bool Collect() = 0;
    virtual TChromiumReadCounts& ReadCounts() = 0;
    const TChromiumReadCounts& ReadCounts() const {
        return const_cast<TChromiumSourceBase*>(this)->ReadCounts();
    }
    // Gives out an entry: by default its body in the file it names (none
    // when that is gone), marked recovered when the browser deleted it.
    virtual void Fill(const TChromiumItem& item, TRawCacheEntry& entry) const;
    // The file an older copy is known by, for UndeliveredCopies.
    virtual std::string CopyFile(const TChromiumItem& item) const = 0;
    // Whether a is a newer copy of its URL than b; by default by their
    // response times, the one found first kept on a tie.
    virtual bool Newer(const TChromiumItem& a, const TChromiumItem& b) const;

    // Reads the cache afresh (Collect) and picks the entry each URL is given
    // out by: its newest live copy; a deleted copy only where no live entry
    // holds its URL, the newest of them.
    bool Refresh();
    void Keep(TChromiumItem&& item) { items_.push_back(std::move(item)); }
    // Notes a problem for the report, up to a limit.
    void Problem(std::string text);
    // After a deletion: the URL's entries are gone, the enumeration ends.
    void Forget(std::string_view url);
    // The path of a file of the cache folder, as folder_ / name spells it.
    std::string PathOf(std::string_view name) const;
    // URLs that only deleted entries hold (found by the last refresh).
    std::size_t DeletedUrls() const { return deletedUrls_; }

    // "<folder> (<kind>, N older copies under other sites, <parts>)".
    std::string DescribeAs(std::string_view kind,
                           const std::vector<std::pair<int, std::string>>& parts) const;
    // Fills the report's summary and problems: "<folder>: damaged: <parts>
    // (<the first three problems>; and N more); E entries read", where N
    // is problems less those shown.
    void Summarize(TReadReport& report, const std::vector<std::string>& parts,
                   std::size_t problems) const;
    // Adds "<count><what>" to parts when count is not 0.
    static void AddCount(std::vector<std::string>& parts, int count, std::string_view what);

    std::filesystem::path folder_;
    TError error_;
    std::vector<TChromiumItem> items_;

private:
    bool Advance(TRawCacheEntry& entry);

    std::string folderPrefix_; // folder_'s bytes as a path of a file in it starts
    bool keepsDeleted_;
    bool recovered_ = false;
    std::size_t next_ = 0;
    std::size_t current_ = SIZE_MAX;
    std::size_t deletedUrls_ = 0;
    bool running_ = false;
    bool listShadowed_ = false;
    bool shadowedDelivered_ = false; // by the last enumeration
};

} // namespace tarnhold
