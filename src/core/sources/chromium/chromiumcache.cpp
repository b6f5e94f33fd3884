#include "sources/chromium/chromiumcache.h"

#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <nettle/sha2.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace tarnhold {

namespace {

constexpr std::uint64_t kInitialMagic = 0xfcfb6d1ba7725c30ULL;
constexpr std::uint64_t kFinalMagic = 0xf4fa6f45970d41d8ULL;
constexpr std::uint32_t kEntryVersion = 5;
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kEofSize = 24;
constexpr std::uint32_t kEofHasCrc = 1;
constexpr std::uint32_t kEofHasKeySha256 = 2;
constexpr std::size_t kKeySha256Size = 32;
// Microseconds from 1601-01-01 (the browser's clock) are FILETIME's 100 ns
// units divided by ten.
constexpr std::int64_t kMaxTime = std::numeric_limits<std::int64_t>::max() / 10;
// The body is read in pieces of this size to check its checksum.
constexpr std::size_t kBodyPiece = 1u << 20;
// A refresh checks bodies up to this size, which the first reads of the
// file hold anyway; larger ones are checked when they are read.
constexpr std::uint64_t kBodyCheckedAtRefresh = 64 * 1024;

TError Damaged(std::string reason) {
    return TError::Message(std::move(reason));
}

} // namespace

std::string ChromiumKeySha256(std::string_view key) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, key.size(), reinterpret_cast<const std::uint8_t*>(key.data()));
    std::string digest(SHA256_DIGEST_SIZE, '\0');
    sha256_digest(&ctx, SHA256_DIGEST_SIZE, reinterpret_cast<std::uint8_t*>(digest.data()));
    return digest;
}

TError ParseChromiumEntry(std::uint64_t size, const TReadAt& readAt, TChromiumEntry& entry,
                          std::uint64_t checkBodyUpTo) {
    entry = TChromiumEntry{};
    if (size < kHeaderSize + 2 * kEofSize)
        return Damaged("too short for an entry file");
    std::string header;
    if (!readAt(0, kHeaderSize, header) || header.size() != kHeaderSize)
        return Damaged("the header cannot be read");
    if (ChromiumU64(header, 0) != kInitialMagic)
        return Damaged("no entry file (wrong magic number)");
    if (ChromiumU32(header, 8) != kEntryVersion)
        return Damaged("entry file version " + std::to_string(ChromiumU32(header, 8)) +
                       " is not known");
    const std::uint32_t keyLength = ChromiumU32(header, 12);
    if (keyLength > kChromiumMaxKey || keyLength > size - kHeaderSize - 2 * kEofSize)
        return Damaged("the key is longer than the file allows");
    if (!readAt(kHeaderSize, keyLength, entry.Key) || entry.Key.size() != keyLength)
        return Damaged("the key cannot be read");

    std::string eof;
    if (!readAt(size - kEofSize, kEofSize, eof) || eof.size() != kEofSize)
        return Damaged("the end record cannot be read");
    if (ChromiumU64(eof, 0) != kFinalMagic)
        return Damaged("no end record (the entry was not written to the end)");
    const std::uint32_t flags0 = ChromiumU32(eof, 8);
    const std::uint32_t crc0 = ChromiumU32(eof, 12);
    const std::uint64_t headSize = ChromiumU32(eof, 16);
    const std::uint64_t sha = (flags0 & kEofHasKeySha256) != 0 ? kKeySha256Size : 0;
    // [header][key][body][eof 1][head][sha?][eof 0]: each part is taken from
    // what the others leave, never subtracted past zero.
    std::uint64_t left = size - kHeaderSize - keyLength - 2 * kEofSize;
    if (sha > left)
        return Damaged("the key is longer than the file allows");
    left -= sha;
    if (headSize > kChromiumMaxHead || headSize > left)
        return Damaged("the response head is longer than the file allows");
    const std::uint64_t headAt = size - kEofSize - sha - headSize;
    const std::uint64_t eof1At = headAt - kEofSize;
    std::string eof1;
    if (!readAt(eof1At, kEofSize, eof1) || eof1.size() != kEofSize ||
        ChromiumU64(eof1, 0) != kFinalMagic)
        return Damaged("the body's end record is missing");
    std::string head;
    if (!readAt(headAt, static_cast<std::size_t>(headSize), head) || head.size() != headSize)
        return Damaged("the response head cannot be read");
    if ((flags0 & kEofHasCrc) != 0 && ::crc32(0, reinterpret_cast<const Bytef*>(head.data()),
                                              static_cast<uInt>(head.size())) != crc0)
        entry.Mismatch |= kChromiumHeadMismatch;
    entry.BodyOffset = kHeaderSize + keyLength;
    entry.BodyLength = eof1At - entry.BodyOffset;
    if (TError e = ParseChromiumHead(head, entry)) {
        if ((entry.Mismatch & kChromiumHeadMismatch) != 0)
            return Damaged(e.Text() + " (and fails its checksum)");
        return e;
    }

    // The key: its hash in the header, and its digest when the file has one.
    if (ChromiumU32(header, 16) != ChromiumKeyHash(entry.Key))
        entry.Mismatch |= kChromiumKeyMismatch;
    if (sha != 0) {
        std::string digest;
        if (!readAt(size - kEofSize - sha, kKeySha256Size, digest) ||
            digest.size() != kKeySha256Size)
            return Damaged("the key's digest cannot be read");
        if (digest != ChromiumKeySha256(entry.Key))
            entry.Mismatch |= kChromiumKeyMismatch;
    }
    // The body, when its end record carries its checksum; a large one only
    // when it is read.
    entry.BodyHasCrc = (ChromiumU32(eof1, 8) & kEofHasCrc) != 0;
    entry.BodyCrc = ChromiumU32(eof1, 12);
    entry.BodyChecked = entry.BodyHasCrc && entry.BodyLength <= checkBodyUpTo;
    if (entry.BodyChecked) {
        uLong crc = ::crc32(0, nullptr, 0);
        std::string piece;
        for (std::uint64_t done = 0; done < entry.BodyLength;) {
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(kBodyPiece, entry.BodyLength - done));
            if (!readAt(entry.BodyOffset + done, n, piece) || piece.size() != n)
                return Damaged("the body cannot be read");
            crc = ::crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(n));
            done += n;
        }
        if (crc != ChromiumU32(eof1, 12))
            entry.Mismatch |= kChromiumBodyMismatch;
    }
    entry.Url = ChromiumKeyUrl(entry.Key, &entry.Upload);
    return {};
}

TError ParseChromiumEntry(std::string_view file, TChromiumEntry& entry) {
    return ParseChromiumEntry(
        file.size(),
        [file](std::uint64_t offset, std::size_t len, std::string& out) {
            if (offset > file.size() || len > file.size() - offset)
                return false;
            out.assign(file.substr(static_cast<std::size_t>(offset), len));
            return true;
        },
        entry);
}

// ---------------------------------------------------------------------------

TChromiumCacheSource::TChromiumCacheSource(std::filesystem::path folder)
    : TChromiumSourceBase(std::move(folder), false) {}

namespace {

bool IsEntryFileName(std::string_view name) {
    if (name.size() != 18 || name.substr(16) != "_0")
        return false;
    return std::all_of(name.begin(), name.begin() + 16,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Reads through pread from an open file.
TReadAt FdReader(int fd) {
    return [fd](std::uint64_t offset, std::size_t len, std::string& out) {
        out.resize(len);
        return ReadAt(fd, out.data(), len, offset) == static_cast<ssize_t>(len);
    };
}

// Reads an entry file for the parser with as few system calls as it can:
// a small file (most are) in one read, a larger one as its start and its end
// (where the key and the response head lie), each read once; what lies
// elsewhere (the body, for its checksum) is read where it is.
class TChunkReader {
public:
    TChunkReader(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    bool operator()(std::uint64_t offset, std::size_t len, std::string& out) {
        if (offset > size_ || len > size_ - offset)
            return false;
        if (size_ <= kWhole) {
            if (!Load(start_, startLoaded_, 0, static_cast<std::size_t>(size_)))
                return false;
            out.assign(start_, static_cast<std::size_t>(offset), len);
            return true;
        }
        if (offset + len <= kStart) {
            if (!Load(start_, startLoaded_, 0, kStart))
                return false;
            out.assign(start_, static_cast<std::size_t>(offset), len);
            return true;
        }
        const std::uint64_t endAt = size_ - kEnd;
        if (offset >= endAt) {
            if (!Load(end_, endLoaded_, endAt, kEnd))
                return false;
            out.assign(end_, static_cast<std::size_t>(offset - endAt), len);
            return true;
        }
        return FdReader(fd_)(offset, len, out);
    }

private:
    static constexpr std::uint64_t kWhole = 64 * 1024;
    static constexpr std::size_t kStart = 4 * 1024;
    static constexpr std::size_t kEnd = 8 * 1024;
    bool Load(std::string& buffer, bool& loaded, std::uint64_t at, std::size_t len) {
        if (!loaded)
            loaded = FdReader(fd_)(at, len, buffer);
        return loaded;
    }
    int fd_;
    std::uint64_t size_;
    std::string start_, end_;
    bool startLoaded_ = false, endLoaded_ = false;
};

} // namespace

bool TChromiumCacheSource::Collect() {
    counts_ = TChromiumCounts{};
    int dirFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        error_ = TError::FromErrno(errno, folder_.string());
        return false;
    }
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        error_ = TError::FromErrno(errno, folder_.string());
        ::close(dirFd);
        return false;
    }
    std::vector<std::string> names;
    errno = 0;
    while (dirent* d = ::readdir(dir)) {
        if (IsEntryFileName(d->d_name))
            names.emplace_back(d->d_name);
        errno = 0;
    }
    if (errno != 0)
        error_ = TError::FromErrno(errno, folder_.string());
    std::sort(names.begin(), names.end());
    auto damaged = [&](const std::string& name, const std::string& why) {
        ++counts_.Damaged;
        Problem(name + ": " + why);
    };
    items_.reserve(names.size());
    for (std::string& name : names) {
        ++counts_.Files;
        // Never through a link: the entry files are the cache's own.
        int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            damaged(name, std::strerror(errno));
            continue;
        }
        struct stat st {};
        TChromiumItem item;
        const TChromiumEntry& e = item.Entry;
        std::string why;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            damaged(name, "not a regular file");
        } else if (TError error =
                       ParseChromiumEntry(static_cast<std::uint64_t>(st.st_size),
                                          TChunkReader(fd, static_cast<std::uint64_t>(st.st_size)),
                                          item.Entry, kBodyCheckedAtRefresh)) {
            damaged(name, error.Text());
        } else if (e.Key.empty()) {
            damaged(name, "the key is empty" + (e.Mismatch != 0
                                                    ? " (" + ChromiumMismatchText(e.Mismatch) + ")"
                                                    : std::string()));
        } else if (const TChromiumKeyUse use = ChromiumKeyUse(e, why);
                   use == TChromiumKeyUse::Upload) {
            ++counts_.Uploads;
        } else if (use == TChromiumKeyUse::Damaged) {
            // A key that names nothing to list: damaged unless it is sound
            // and names an upload.
            why += " (" + ChromiumShownKey(e.Key) + ")";
            if (e.Mismatch != 0)
                why += " and " + ChromiumMismatchText(e.Mismatch);
            damaged(name, why);
        } else {
            if (e.ResponseTime <= 0 || e.ResponseTime > kMaxTime) {
                // No time of its own: the file's last change stands in.
                item.Entry.ResponseTime =
                    (static_cast<std::int64_t>(st.st_mtim.tv_sec) + 11644473600LL) * 1000000 +
                    st.st_mtim.tv_nsec / 1000;
            }
            if (e.Mismatch != 0) {
                ++counts_.Mismatched;
                Problem(name + ": " + ChromiumMismatchText(e.Mismatch) + ": read as it is");
            }
            if (e.Truncated) {
                ++counts_.Truncated;
                Problem(name + ": the body is stored only in part");
            }
            item.File = std::move(name);
            Keep(std::move(item));
        }
        ::close(fd);
    }
    ::closedir(dir); // closes dirFd
    return true;
}

TError TChromiumCacheSource::ReadCopy(const TKeyedCopy& copy, TRawCacheEntry& entry) const {
    // Only a file of this cache's folder, never through a link.
    const std::filesystem::path file(copy.FileName);
    if (file.parent_path() != folder_ || !IsEntryFileName(file.filename().native()))
        return TError::Message(copy.FileName + ": no entry file of this cache", EINVAL);
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return TError::FromErrno(errno, copy.FileName);
    struct stat st {};
    TChromiumEntry e;
    TError error;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        error = TError::Message(copy.FileName + ": not a regular file", EINVAL);
    else
        error = ParseChromiumEntry(static_cast<std::uint64_t>(st.st_size),
                                   TChunkReader(fd, static_cast<std::uint64_t>(st.st_size)), e,
                                   kBodyCheckedAtRefresh);
    ::close(fd);
    if (error)
        return TError::Message(copy.FileName + ": " + error.Text(), error.Code());
    if (e.Key != copy.Key || e.Url != copy.Url)
        return TError::Message(copy.FileName + ": the file holds another entry now");
    if (e.Mismatch != 0)
        return TError::Message(copy.FileName + ": " + ChromiumMismatchText(e.Mismatch));
    FillChromiumEntry(e, file.native(), entry);
    return {};
}

std::string TChromiumCacheSource::Describe() const {
    return DescribeAs("Chromium cache", {{counts_.Damaged, " damaged entry files"},
                                         {counts_.Mismatched, " entries failing a checksum"}});
}

TReadReport TChromiumCacheSource::ReadReport() const {
    const TChromiumCounts& c = counts_;
    TReadReport report;
    report.SkippedRecords = static_cast<std::size_t>(c.Damaged);
    report.Damaged = c.Damaged > 0 || c.Mismatched > 0 || c.Truncated > 0;
    if (!report.Damaged)
        return report;
    std::vector<std::string> parts;
    AddCount(parts, c.Damaged, " of " + std::to_string(c.Files) + " entry files could not be read");
    AddCount(parts, c.Mismatched, " read despite a checksum that does not fit");
    AddCount(parts, c.Truncated, " with only part of the body stored");
    // Every problem counted, though Problems keeps only the first.
    Summarize(report, parts, static_cast<std::size_t>(c.Damaged + c.Mismatched + c.Truncated));
    return report;
}

TError TChromiumCacheSource::DeleteEntry(std::string_view url) {
    if (std::string why = HeldBy(); !why.empty())
        return TError::Message("the cache is in use: " + why + "; close the browser first", EBUSY);
    if (items_.empty())
        (void)Refresh();
    std::vector<std::string> files;
    for (const TChromiumItem& item : items_)
        if (item.Entry.Url == url)
            files.push_back(item.File);
    if (files.empty())
        return TError::FromErrno(ENOENT, std::string(url));
    int dirFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return TError::FromErrno(errno, folder_.string());
    TError result;
    for (const std::string& name : files) {
        const std::string stem = name.substr(0, 16);
        // The stream and sparse files first: an entry file without them is
        // still a whole entry, never the other way round.
        for (const std::string& other : {stem + "_1", stem + "_s"}) {
            if (::unlinkat(dirFd, other.c_str(), 0) != 0 && errno != ENOENT && !result)
                result = TError::FromErrno(errno, (folder_ / other).string());
        }
        if (::unlinkat(dirFd, name.c_str(), 0) != 0 && !result)
            result = TError::FromErrno(errno, (folder_ / name).string());
    }
    ::close(dirFd);
    if (!result)
        Forget(url);
    return result;
}

bool IsChromiumCacheFolder(const std::filesystem::path& folder) {
    int fd = ::open((folder / "index").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    std::string head;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && FdReader(fd)(0, 8, head) &&
              ChromiumU64(head, 0) == kInitialMagic;
    ::close(fd);
    return ok;
}

} // namespace tarnhold
