#include "sources/chromium/chromiumcache.h"

#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <nettle/sha2.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
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
constexpr std::size_t kMaxNamedProblems = 50;
// The body is read in pieces of this size to check its checksum.
constexpr std::size_t kBodyPiece = 1u << 20;
// A refresh checks bodies up to this size, which the first reads of the
// file hold anyway; larger ones are checked when they are read.
constexpr std::uint64_t kBodyCheckedAtRefresh = 64 * 1024;
// How much of a key a problem line shows.
constexpr std::size_t kShownKey = 120;

std::uint32_t U32(std::string_view d, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(d[at + static_cast<std::size_t>(i)]);
    return v;
}

std::uint64_t U64(std::string_view d, std::size_t at) {
    return (static_cast<std::uint64_t>(U32(d, at + 4)) << 32) | U32(d, at);
}

TError Damaged(std::string reason) {
    return TError::Message(std::move(reason));
}

bool IsDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

TError ParseChromiumHead(std::string_view pickle, TChromiumEntry& entry) {
    if (pickle.size() < 4)
        return Damaged("the response head is too short");
    const std::uint32_t payloadSize = U32(pickle, 0);
    if (payloadSize > pickle.size() - 4)
        return Damaged("the response head claims more bytes than it has");
    std::string_view p = pickle.substr(4, payloadSize);
    std::size_t at = 0;
    auto need = [&](std::size_t n) { return n <= p.size() && at <= p.size() - n; };
    if (!need(4))
        return Damaged("the response head has no flags");
    const std::uint32_t flags = U32(p, at);
    at += 4;
    if ((flags & 0xff) < 3)
        return Damaged("the response head is of an older format (" + std::to_string(flags & 0xff) +
                       ")");
    std::uint32_t extra = 0;
    if ((flags & 0x80000000u) != 0) {
        if (!need(4))
            return Damaged("the response head ends early");
        extra = U32(p, at);
        at += 4;
    }
    if (!need(16))
        return Damaged("the response head ends early");
    at += 8; // the request time
    entry.ResponseTime = static_cast<std::int64_t>(U64(p, at));
    at += 8;
    if ((extra & 4) != 0) {
        if (!need(8))
            return Damaged("the response head ends early");
        at += 8; // the original response time
    }
    if (!need(4))
        return Damaged("the response head has no headers");
    const std::uint32_t length = U32(p, at);
    at += 4;
    if (length > 0x7fffffffu || !need(length))
        return Damaged("the response headers run past the head");
    std::string_view raw = p.substr(at, length);
    entry.Truncated = (flags & (1u << 12)) != 0;

    // NUL-separated lines: the status line, then the headers, then an empty
    // one. A line break inside a line would make two lines of it.
    entry.Head.clear();
    entry.Head.reserve(raw.size() + raw.size() / 16 + 2);
    std::size_t start = 0;
    bool first = true;
    while (start < raw.size()) {
        std::size_t end = raw.find('\0', start);
        if (end == std::string_view::npos)
            end = raw.size();
        std::string_view line = raw.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            break;
        for (char c : line)
            entry.Head += (c == '\r' || c == '\n') ? ' ' : c;
        entry.Head += "\r\n";
        if (first) {
            first = false;
            // "HTTP/1.1 200 OK"
            std::size_t sp = line.find(' ');
            if (sp != std::string_view::npos) {
                int code = 0;
                std::size_t i = sp + 1;
                for (int n = 0; n < 3 && i < line.size() && line[i] >= '0' && line[i] <= '9';
                     ++n, ++i)
                    code = code * 10 + (line[i] - '0');
                entry.Status = code >= 100 ? code : 0;
            }
        }
    }
    return {};
}

std::string ChromiumKeyUrl(std::string_view key, bool* upload) {
    if (upload != nullptr)
        *upload = false;
    // "<credentials>/<upload id>/" (current browsers)
    std::size_t s1 = key.find('/');
    if (s1 != std::string_view::npos && IsDigits(key.substr(0, s1))) {
        std::size_t s2 = key.find('/', s1 + 1);
        if (s2 != std::string_view::npos && IsDigits(key.substr(s1 + 1, s2 - s1 - 1))) {
            if (upload != nullptr)
                *upload = key.substr(s1 + 1, s2 - s1 - 1).find_first_not_of('0') !=
                          std::string_view::npos;
            key.remove_prefix(s2 + 1);
        }
    }
    // "_dk_<top-frame site> <frame site> <url>": a URL holds no space, so it
    // is what follows the last one.
    if (key.substr(0, 4) == "_dk_") {
        std::size_t sp = key.rfind(' ');
        if (sp != std::string_view::npos)
            key.remove_prefix(sp + 1);
    }
    return std::string(key);
}

std::uint32_t ChromiumKeyHash(std::string_view key) {
    // Paul Hsieh's SuperFastHash: 16-bit reads are little-endian, the last
    // odd bytes are taken as signed.
    const auto* p = reinterpret_cast<const unsigned char*>(key.data());
    std::size_t n = key.size();
    if (n == 0)
        return 0;
    auto get16 = [](const unsigned char* q) {
        return static_cast<std::uint32_t>(q[0]) | (static_cast<std::uint32_t>(q[1]) << 8);
    };
    auto signedByte = [](unsigned char c) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(c)));
    };
    std::uint32_t h = static_cast<std::uint32_t>(n);
    for (std::size_t groups = n / 4; groups > 0; --groups, p += 4) {
        h += get16(p);
        const std::uint32_t t = (get16(p + 2) << 11) ^ h;
        h = (h << 16) ^ t;
        h += h >> 11;
    }
    switch (n % 4) {
    case 3:
        h += get16(p);
        h ^= h << 16;
        h ^= signedByte(p[2]) << 18;
        h += h >> 11;
        break;
    case 2:
        h += get16(p);
        h ^= h << 11;
        h += h >> 17;
        break;
    case 1:
        h += signedByte(p[0]);
        h ^= h << 10;
        h += h >> 1;
        break;
    default:
        break;
    }
    h ^= h << 3;
    h += h >> 5;
    h ^= h << 4;
    h += h >> 17;
    h ^= h << 25;
    h += h >> 6;
    return h;
}

std::string ChromiumKeySha256(std::string_view key) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    sha256_update(&ctx, key.size(), reinterpret_cast<const std::uint8_t*>(key.data()));
    std::string digest(SHA256_DIGEST_SIZE, '\0');
    sha256_digest(&ctx, SHA256_DIGEST_SIZE, reinterpret_cast<std::uint8_t*>(digest.data()));
    return digest;
}

std::string ChromiumMismatchText(unsigned mismatch) {
    std::vector<std::string_view> parts;
    if ((mismatch & kChromiumKeyMismatch) != 0)
        parts.push_back("the key");
    if ((mismatch & kChromiumHeadMismatch) != 0)
        parts.push_back("the response head");
    if ((mismatch & kChromiumBodyMismatch) != 0)
        parts.push_back("the body");
    if (parts.empty())
        return {};
    if (parts.size() == 1)
        return std::string(parts[0]) + " fails its checksum";
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        text += i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ";
        text += parts[i];
    }
    return text + " fail their checksums";
}

TError ParseChromiumEntry(std::uint64_t size, const TReadAt& readAt, TChromiumEntry& entry,
                          std::uint64_t checkBodyUpTo) {
    entry = TChromiumEntry{};
    if (size < kHeaderSize + 2 * kEofSize)
        return Damaged("too short for an entry file");
    std::string header;
    if (!readAt(0, kHeaderSize, header) || header.size() != kHeaderSize)
        return Damaged("the header cannot be read");
    if (U64(header, 0) != kInitialMagic)
        return Damaged("no entry file (wrong magic number)");
    if (U32(header, 8) != kEntryVersion)
        return Damaged("entry file version " + std::to_string(U32(header, 8)) + " is not known");
    const std::uint32_t keyLength = U32(header, 12);
    if (keyLength > kChromiumMaxKey || keyLength > size - kHeaderSize - 2 * kEofSize)
        return Damaged("the key is longer than the file allows");
    if (!readAt(kHeaderSize, keyLength, entry.Key) || entry.Key.size() != keyLength)
        return Damaged("the key cannot be read");

    std::string eof;
    if (!readAt(size - kEofSize, kEofSize, eof) || eof.size() != kEofSize)
        return Damaged("the end record cannot be read");
    if (U64(eof, 0) != kFinalMagic)
        return Damaged("no end record (the entry was not written to the end)");
    const std::uint32_t flags0 = U32(eof, 8);
    const std::uint32_t crc0 = U32(eof, 12);
    const std::uint64_t headSize = U32(eof, 16);
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
    if (!readAt(eof1At, kEofSize, eof1) || eof1.size() != kEofSize || U64(eof1, 0) != kFinalMagic)
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
    if (U32(header, 16) != ChromiumKeyHash(entry.Key))
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
    entry.BodyHasCrc = (U32(eof1, 8) & kEofHasCrc) != 0;
    entry.BodyCrc = U32(eof1, 12);
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
        if (crc != U32(eof1, 12))
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
    : folder_(std::move(folder)) {}

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

bool TChromiumCacheSource::Scan() {
    items_.clear();
    counts_ = TChromiumCounts{};
    error_ = {};
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
    auto problem = [&](const std::string& name, const std::string& why) {
        if (counts_.Problems.size() < kMaxNamedProblems)
            counts_.Problems.push_back(name + ": " + why);
    };
    auto damaged = [&](const std::string& name, const std::string& why) {
        ++counts_.Damaged;
        problem(name, why);
    };
    items_.reserve(names.size());
    for (const std::string& name : names) {
        ++counts_.Files;
        // Never through a link: the entry files are the cache's own.
        int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            damaged(name, std::strerror(errno));
            continue;
        }
        struct stat st {};
        TItem item;
        const TChromiumEntry& e = item.Entry;
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
        } else if (e.Upload && (e.Mismatch & kChromiumKeyMismatch) == 0) {
            ++counts_.Uploads;
        } else if (e.Upload || !IsAcceptedCacheEntry(NORMAL_CACHE_ENTRY, e.Url)) {
            // A key that names nothing to list: damaged unless it is sound
            // and names an upload.
            std::string why = e.Upload ? "the key names the answer to a POST request"
                                       : "the key names no address that can be listed";
            why += " (" + e.Key.substr(0, kShownKey) + (e.Key.size() > kShownKey ? "...)" : ")");
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
                problem(name, ChromiumMismatchText(e.Mismatch) + ": read as it is");
            }
            if (e.Truncated) {
                ++counts_.Truncated;
                problem(name, "the body is stored only in part");
            }
            item.FileName = name;
            items_.push_back(std::move(item));
        }
        ::close(fd);
    }
    ::closedir(dir); // closes dirFd

    // One entry per URL: the newest; the others are hidden behind it.
    std::unordered_map<std::string_view, std::size_t> newest;
    newest.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        auto [it, inserted] = newest.try_emplace(items_[i].Entry.Url, i);
        if (inserted)
            continue;
        TItem& kept = items_[it->second];
        if (items_[i].Entry.ResponseTime > kept.Entry.ResponseTime) {
            kept.Shadowed = true;
            it->second = i;
        } else {
            items_[i].Shadowed = true;
        }
        ++counts_.Shadowed;
    }
    counts_.Entries = static_cast<int>(items_.size()) - counts_.Shadowed;
    return true;
}

void FillChromiumEntry(const TChromiumEntry& e, const std::filesystem::path& file,
                       TRawCacheEntry& entry) {
    entry.Clear();
    entry.Url = e.Url;
    entry.EntryType = NORMAL_CACHE_ENTRY;
    const std::uint64_t ticks = static_cast<std::uint64_t>(e.ResponseTime) * 10;
    entry.LastModified.dwLowDateTime = static_cast<std::uint32_t>(ticks);
    entry.LastModified.dwHighDateTime = static_cast<std::uint32_t>(ticks >> 32);
    entry.HeaderBlock = e.Head;
    // A redirect's body is no document.
    const bool redirect = e.Status >= 300 && e.Status < 400;
    if (!redirect) {
        entry.LocalFileName = file.string();
        entry.Size = e.BodyLength;
        entry.BodyOffset = e.BodyOffset;
        entry.BodyLength = static_cast<std::int64_t>(e.BodyLength);
        if (e.BodyHasCrc && !e.BodyChecked)
            entry.BodyCheck = {TBodyCheck::Crc32, e.BodyCrc, 0, 0};
        // The value of the Content-Encoding header, if any.
        std::string_view head = e.Head;
        for (std::size_t pos = 0; pos < head.size();) {
            std::size_t end = head.find("\r\n", pos);
            if (end == std::string_view::npos)
                end = head.size();
            std::string_view line = head.substr(pos, end - pos);
            pos = end + 2;
            std::size_t colon = line.find(':');
            if (colon == std::string_view::npos)
                continue;
            std::string name(line.substr(0, colon));
            for (char& c : name)
                c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            while (!name.empty() && name.back() == ' ')
                name.pop_back();
            if (name == "content-encoding") {
                std::string_view value = line.substr(colon + 1);
                while (!value.empty() && value.front() == ' ')
                    value.remove_prefix(1);
                entry.ContentEncoding = std::string(value);
                break;
            }
        }
    }
}

bool TChromiumCacheSource::Advance(TRawCacheEntry& entry) {
    while (running_ && next_ < items_.size()) {
        const std::size_t i = next_++;
        if (items_[i].Shadowed && !listShadowed_)
            continue;
        current_ = i;
        FillChromiumEntry(items_[i].Entry, folder_ / items_[i].FileName, entry);
        return true;
    }
    running_ = false;
    current_ = SIZE_MAX;
    return false;
}

bool TChromiumCacheSource::First(TRawCacheEntry& entry) {
    running_ = Scan();
    next_ = 0;
    shadowedDelivered_ = listShadowed_;
    return Advance(entry);
}

bool TChromiumCacheSource::Next(TRawCacheEntry& entry) {
    return Advance(entry);
}

void TChromiumCacheSource::Close() {
    running_ = false;
    current_ = SIZE_MAX;
}

std::string TChromiumCacheSource::CurrentKey() const {
    return current_ < items_.size() ? items_[current_].Entry.Key : std::string();
}

bool TChromiumCacheSource::CurrentShadowed() const {
    return current_ < items_.size() && items_[current_].Shadowed;
}

std::vector<TKeyedCopy> TChromiumCacheSource::UndeliveredCopies() const {
    std::vector<TKeyedCopy> copies;
    if (shadowedDelivered_)
        return copies;
    for (const TItem& item : items_) {
        if (item.Shadowed)
            copies.push_back({item.Entry.Url, item.Entry.Key, (folder_ / item.FileName).native()});
    }
    return copies;
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
    FillChromiumEntry(e, file, entry);
    return {};
}

std::string TChromiumCacheSource::Describe() const {
    std::string text = folder_.string() + " (Chromium cache";
    if (counts_.Shadowed > 0)
        text += ", " + std::to_string(counts_.Shadowed) + " older copies under other sites";
    if (counts_.Damaged > 0)
        text += ", " + std::to_string(counts_.Damaged) + " damaged entry files";
    if (counts_.Mismatched > 0)
        text += ", " + std::to_string(counts_.Mismatched) + " entries failing a checksum";
    return text + ")";
}

TReadReport TChromiumCacheSource::ReadReport() const {
    const TChromiumCounts& c = counts_;
    TReadReport report;
    report.SkippedRecords = static_cast<std::size_t>(c.Damaged);
    report.Damaged = c.Damaged > 0 || c.Mismatched > 0 || c.Truncated > 0;
    if (!report.Damaged)
        return report;
    report.Problems = c.Problems;
    std::string text = folder_.string() + ": damaged:";
    const char* sep = " ";
    const std::pair<int, std::string> parts[] = {
        {c.Damaged, " of " + std::to_string(c.Files) + " entry files could not be read"},
        {c.Mismatched, " read despite a checksum that does not fit"},
        {c.Truncated, " with only part of the body stored"},
    };
    for (const auto& [count, what] : parts) {
        if (count == 0)
            continue;
        text += sep + std::to_string(count) + what;
        sep = ", ";
    }
    // The first files by name; Problems holds more.
    const std::size_t total = static_cast<std::size_t>(c.Damaged + c.Mismatched + c.Truncated);
    const std::size_t shown = std::min<std::size_t>(c.Problems.size(), 3);
    for (std::size_t i = 0; i < shown; ++i)
        text += (i == 0 ? " (" : "; ") + c.Problems[i];
    if (total > shown)
        text += "; and " + std::to_string(total - shown) + " more";
    if (shown > 0)
        text += ")";
    report.Summary = text + "; " + std::to_string(c.Entries) +
                     (c.Entries == 1 ? " entry" : " entries") + " read";
    return report;
}

namespace {

// A profile lock "<host>-<pid>" that names a process alive on this machine.
std::string LiveLock(const std::filesystem::path& lock) {
    char target[PATH_MAX];
    ssize_t n = ::readlink(lock.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    std::string text(target, static_cast<std::size_t>(n));
    std::size_t dash = text.rfind('-');
    if (dash == std::string::npos || !IsDigits(text.substr(dash + 1)) || text.size() - dash > 10)
        return {};
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || text.substr(0, dash) != host)
        return "Chromium on " + text.substr(0, dash) + " holds " + lock.string();
    const pid_t pid = static_cast<pid_t>(std::stol(text.substr(dash + 1)));
    if (pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM))
        return "Chromium (process " + std::to_string(pid) + ") is running with this cache (" +
               lock.string() + ")";
    return {};
}

} // namespace

std::string ChromiumCacheHeldBy(const std::filesystem::path& folder) {
    // The profile's lock sits in the folder of profiles: above the cache
    // when the cache lives in it, or for ~/.cache/<browser>/<profile>/Cache
    // in ~/.config/<browser>.
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::absolute(folder, ec);
    std::vector<std::filesystem::path> candidates;
    for (std::filesystem::path p = dir; p.has_relative_path(); p = p.parent_path()) {
        candidates.push_back(p / "SingletonLock");
        if (p.parent_path().filename() == ".cache") {
            candidates.push_back(p.parent_path().parent_path() / ".config" / p.filename() /
                                 "SingletonLock");
        }
        if (p.parent_path() == p)
            break;
    }
    for (const auto& lock : candidates)
        if (std::string why = LiveLock(lock); !why.empty())
            return why;
    return {};
}

TError TChromiumCacheSource::DeleteEntry(std::string_view url) {
    if (std::string why = HeldBy(); !why.empty())
        return TError::Message("the cache is in use: " + why + "; close the browser first", EBUSY);
    if (items_.empty())
        (void)Scan();
    std::vector<std::string> files;
    for (const TItem& item : items_)
        if (item.Entry.Url == url)
            files.push_back(item.FileName);
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
    if (!result) {
        items_.erase(std::remove_if(items_.begin(), items_.end(),
                                    [&](const TItem& item) { return item.Entry.Url == url; }),
                     items_.end());
        running_ = false;
    }
    return result;
}

std::string TChromiumCacheSource::HeldBy() const {
    return ChromiumCacheHeldBy(folder_);
}

bool IsChromiumCacheFolder(const std::filesystem::path& folder) {
    int fd = ::open((folder / "index").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    std::string head;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && FdReader(fd)(0, 8, head) &&
              U64(head, 0) == kInitialMagic;
    ::close(fd);
    return ok;
}

} // namespace tarnhold
