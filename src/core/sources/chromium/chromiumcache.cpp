#include "sources/chromium/chromiumcache.h"

#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <limits>
#include <memory>
#include <nettle/sha2.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

void KeySha256(std::string_view key, std::uint8_t (&digest)[SHA256_DIGEST_SIZE]) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, key.size(), reinterpret_cast<const std::uint8_t*>(key.data()));
    sha256_digest(&ctx, SHA256_DIGEST_SIZE, digest);
}

std::uint32_t Crc32(std::uint32_t crc, std::string_view data) {
    return libdeflate_crc32(crc, data.data(), data.size());
}

// The parser over an entry file's bytes, whoever holds them. read(offset,
// len, view) points view at len bytes of the file from offset; the view holds
// until the next call. Whatever the parser keeps it copies out first.
template <class Read>
TError ParseEntry(std::uint64_t size, Read& read, TChromiumEntry& entry,
                  std::uint64_t checkBodyUpTo) {
    entry = TChromiumEntry{};
    if (size < kHeaderSize + 2 * kEofSize)
        return Damaged("too short for an entry file");
    std::string_view view;
    if (!read(0, kHeaderSize, view))
        return Damaged("the header cannot be read");
    if (ChromiumU64(view, 0) != kInitialMagic)
        return Damaged("no entry file (wrong magic number)");
    if (ChromiumU32(view, 8) != kEntryVersion)
        return Damaged("entry file version " + std::to_string(ChromiumU32(view, 8)) +
                       " is not known");
    const std::uint32_t keyLength = ChromiumU32(view, 12);
    const std::uint32_t keyHash = ChromiumU32(view, 16);
    if (keyLength > kChromiumMaxKey || keyLength > size - kHeaderSize - 2 * kEofSize)
        return Damaged("the key is longer than the file allows");
    if (!read(kHeaderSize, keyLength, view))
        return Damaged("the key cannot be read");
    entry.Key.assign(view);

    if (!read(size - kEofSize, kEofSize, view))
        return Damaged("the end record cannot be read");
    if (ChromiumU64(view, 0) != kFinalMagic)
        return Damaged("no end record (the entry was not written to the end)");
    const std::uint32_t flags0 = ChromiumU32(view, 8);
    const std::uint32_t crc0 = ChromiumU32(view, 12);
    const std::uint64_t headSize = ChromiumU32(view, 16);
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
    if (!read(eof1At, kEofSize, view) || ChromiumU64(view, 0) != kFinalMagic)
        return Damaged("the body's end record is missing");
    const std::uint32_t flags1 = ChromiumU32(view, 8);
    const std::uint32_t crc1 = ChromiumU32(view, 12);
    if (!read(headAt, static_cast<std::size_t>(headSize), view))
        return Damaged("the response head cannot be read");
    if ((flags0 & kEofHasCrc) != 0 && Crc32(0, view) != crc0)
        entry.Mismatch |= kChromiumHeadMismatch;
    entry.BodyOffset = kHeaderSize + keyLength;
    entry.BodyLength = eof1At - entry.BodyOffset;
    if (TError e = ParseChromiumHead(view, entry)) {
        if ((entry.Mismatch & kChromiumHeadMismatch) != 0)
            return Damaged(e.Text() + " (and fails its checksum)");
        return e;
    }

    // The key: its hash in the header, and its digest when the file has one.
    if (keyHash != ChromiumKeyHash(entry.Key))
        entry.Mismatch |= kChromiumKeyMismatch;
    if (sha != 0) {
        if (!read(size - kEofSize - sha, kKeySha256Size, view))
            return Damaged("the key's digest cannot be read");
        std::uint8_t digest[SHA256_DIGEST_SIZE];
        KeySha256(entry.Key, digest);
        if (std::memcmp(view.data(), digest, sizeof digest) != 0)
            entry.Mismatch |= kChromiumKeyMismatch;
    }
    // The body, when its end record carries its checksum; a large one only
    // when it is read.
    entry.BodyHasCrc = (flags1 & kEofHasCrc) != 0;
    entry.BodyCrc = crc1;
    entry.BodyChecked = entry.BodyHasCrc && entry.BodyLength <= checkBodyUpTo;
    if (entry.BodyChecked) {
        std::uint32_t crc = 0;
        for (std::uint64_t done = 0; done < entry.BodyLength;) {
            const auto n = static_cast<std::size_t>(
                std::min<std::uint64_t>(kBodyPiece, entry.BodyLength - done));
            if (!read(entry.BodyOffset + done, n, view))
                return Damaged("the body cannot be read");
            crc = Crc32(crc, view);
            done += n;
        }
        if (crc != crc1)
            entry.Mismatch |= kChromiumBodyMismatch;
    }
    entry.Url = ChromiumKeyUrl(entry.Key, &entry.Upload);
    return {};
}

} // namespace

std::string ChromiumKeySha256(std::string_view key) {
    std::uint8_t digest[SHA256_DIGEST_SIZE];
    KeySha256(key, digest);
    return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

TError ParseChromiumEntry(std::string_view file, TChromiumEntry& entry) {
    auto read = [file](std::uint64_t offset, std::size_t len, std::string_view& view) {
        if (offset > file.size() || len > file.size() - offset)
            return false;
        view = file.substr(static_cast<std::size_t>(offset), len);
        return true;
    };
    return ParseEntry(file.size(), read, entry, std::numeric_limits<std::uint64_t>::max());
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

// Buffers for reading entry files, reused from file to file.
class TEntryBuffers {
public:
    // At least size bytes, their contents left as they are.
    char* Window() { return window_.get(); }
    char* Scratch(std::size_t size) {
        if (size > scratchSize_) {
            scratch_.reset(new char[size]);
            scratchSize_ = size;
        }
        return scratch_.get();
    }
    static constexpr std::size_t kWindow = 64 * 1024;

private:
    std::unique_ptr<char[]> window_{new char[kWindow]};
    std::unique_ptr<char[]> scratch_;
    std::size_t scratchSize_ = 0;
};

// Reads an entry file for the parser with as few system calls as it can:
// a small file (most are) in one read, a larger one as its start and its end
// (where the key and the response head lie), each read once; what lies
// elsewhere (a body checked while parsing, a key or head too long for the
// ends) is read where it is.
class TEntryFileReader {
public:
    TEntryFileReader(int fd, std::uint64_t size, TEntryBuffers& buffers)
        : fd_(fd), size_(size), buffers_(buffers) {}
    bool operator()(std::uint64_t offset, std::size_t len, std::string_view& view) {
        if (offset > size_ || len > size_ - offset)
            return false;
        char* window = buffers_.Window();
        if (size_ <= kWhole) {
            if (!Load(wholeLoaded_, window, 0, static_cast<std::size_t>(size_)))
                return false;
            view = std::string_view(window + offset, len);
            return true;
        }
        if (offset + len <= kStart) {
            if (!Load(startLoaded_, window, 0, kStart))
                return false;
            view = std::string_view(window + offset, len);
            return true;
        }
        const std::uint64_t endAt = size_ - kEnd;
        if (offset >= endAt) {
            if (!Load(endLoaded_, window + kStart, endAt, kEnd))
                return false;
            view = std::string_view(window + kStart + (offset - endAt), len);
            return true;
        }
        char* scratch = buffers_.Scratch(len);
        if (ReadAt(fd_, scratch, len, offset) != static_cast<ssize_t>(len))
            return false;
        view = std::string_view(scratch, len);
        return true;
    }

private:
    static constexpr std::uint64_t kWhole = TEntryBuffers::kWindow;
    static constexpr std::size_t kStart = 4 * 1024;
    static constexpr std::size_t kEnd = 8 * 1024;
    static_assert(kStart + kEnd <= TEntryBuffers::kWindow);
    bool Load(bool& loaded, char* to, std::uint64_t at, std::size_t len) {
        if (!loaded)
            loaded = ReadAt(fd_, to, len, at) == static_cast<ssize_t>(len);
        return loaded;
    }
    int fd_;
    std::uint64_t size_;
    TEntryBuffers& buffers_;
    bool wholeLoaded_ = false, startLoaded_ = false, endLoaded_ = false;
};

// Parses an open entry file of st's size.
TError ParseEntryFile(int fd, const struct stat& st, TEntryBuffers& buffers,
                      TChromiumEntry& entry) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    TEntryFileReader read(fd, size, buffers);
    return ParseEntry(size, read, entry, kBodyCheckedAtRefresh);
}

// "<16 hex digits>_0" and back: the names sort as their numbers do.
constexpr std::size_t kEntryNameSize = 18;
bool EntryFileNumber(std::string_view name, std::uint64_t& number) {
    if (!IsEntryFileName(name))
        return false;
    number = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        const char c = name[i];
        number = (number << 4) | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    return true;
}
void EntryFileName(std::uint64_t number, char (&name)[kEntryNameSize + 1]) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (int i = 15; i >= 0; --i, number >>= 4)
        name[i] = kDigits[number & 0xf];
    name[16] = '_';
    name[17] = '0';
    name[18] = '\0';
}

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
    // One pass over the folder: the entry files by their numbers, in the
    // order of their names.
    std::vector<std::uint64_t> numbers;
    errno = 0;
    while (dirent* d = ::readdir(dir)) {
        if (std::uint64_t number = 0; EntryFileNumber(d->d_name, number))
            numbers.push_back(number);
        errno = 0;
    }
    if (errno != 0)
        error_ = TError::FromErrno(errno, folder_.string());
    std::sort(numbers.begin(), numbers.end());
    char name[kEntryNameSize + 1];
    auto damaged = [&](const std::string& why) {
        ++counts_.Damaged;
        Problem(name + (": " + why));
    };
    TEntryBuffers buffers;
    items_.reserve(numbers.size());
    for (const std::uint64_t number : numbers) {
        EntryFileName(number, name);
        ++counts_.Files;
        // Never through a link: the entry files are the cache's own.
        int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            damaged(std::strerror(errno));
            continue;
        }
        struct stat st {};
        TChromiumItem item;
        const TChromiumEntry& e = item.Entry;
        std::string why;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            damaged("not a regular file");
        } else if (TError error = ParseEntryFile(fd, st, buffers, item.Entry)) {
            damaged(error.Text());
        } else if (e.Key.empty()) {
            damaged("the key is empty" + (e.Mismatch != 0
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
            damaged(why);
        } else {
            if (e.ResponseTime <= 0 || e.ResponseTime > kMaxTime) {
                // No time of its own: the file's last change stands in.
                item.Entry.ResponseTime =
                    (static_cast<std::int64_t>(st.st_mtim.tv_sec) + 11644473600LL) * 1000000 +
                    st.st_mtim.tv_nsec / 1000;
            }
            if (e.Mismatch != 0) {
                ++counts_.Mismatched;
                Problem(name + (": " + ChromiumMismatchText(e.Mismatch)) + ": read as it is");
            }
            if (e.Truncated) {
                ++counts_.Truncated;
                Problem(std::string(name) + ": the body is stored only in part");
            }
            item.File.assign(name, kEntryNameSize);
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
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = TError::Message(copy.FileName + ": not a regular file", EINVAL);
    } else {
        TEntryBuffers buffers;
        error = ParseEntryFile(fd, st, buffers, e);
    }
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
    char head[8];
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              ReadAt(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
              ChromiumU64(std::string_view(head, sizeof head), 0) == kInitialMagic;
    ::close(fd);
    return ok;
}

} // namespace tarnhold
