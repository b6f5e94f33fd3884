#include "sources/firefox/firefoxcache.h"

#include "platform/files.h"
#include "platform/filetime.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace tarnhold {

namespace {

constexpr std::uint64_t kChunkSize = 256 * 1024;
constexpr std::uint32_t kEncryptedBit = 0x80000000U;
// The largest entry format this reader knows; versions 1 to 3 end with the
// bare offset word, 4 and later with [version][offset].
constexpr std::uint32_t kTrailerVersionMin = 4;
constexpr std::uint32_t kTrailerVersionMax = 4;
// Metadata beyond this is taken for damage: Firefox's own keys and heads are
// a few KiB, and a refresh must not read a whole hostile file.
constexpr std::uint64_t kMaxMetadata = 4 * 1024 * 1024;
// How much of an entry file's end the first read takes; a file up to kWhole
// (most are) is read whole at once, body and all.
constexpr std::uint64_t kFirstRead = 4096;
constexpr std::uint64_t kWhole = 64 * 1024;
// How much of a key a problem line shows.
constexpr std::size_t kShownKey = 120;

std::uint32_t GetBe32(std::string_view data, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data() + at);
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

constexpr std::size_t kEntryNameSize = 40;

bool IsEntryFileName(std::string_view name) {
    return name.size() == kEntryNameSize && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
           });
}

bool IsWebUrl(std::string_view url) {
    auto startsWith = [&](std::string_view prefix) {
        return url.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), url.begin(), [](char a, char b) {
                   return a == std::tolower(static_cast<unsigned char>(b));
               });
    };
    return startsWith("http://") || startsWith("https://");
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view TrimBlanks(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// The value of up to 19 decimal digits.
std::uint64_t DecimalValue(std::string_view digits) {
    std::uint64_t n = 0;
    for (const char c : digits)
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    return n;
}

// FirefoxHeaderValue without a copy.
std::string_view HeaderValue(std::string_view head, std::string_view name) {
    while (!head.empty()) {
        const std::size_t eol = head.find('\n');
        std::string_view line = head.substr(0, eol);
        head = eol == std::string_view::npos ? std::string_view{} : head.substr(eol + 1);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        if (SameIgnoringCase(TrimBlanks(line.substr(0, colon)), name))
            return TrimBlanks(line.substr(colon + 1));
    }
    return {};
}

// The HTTP body's length when an "alt-data" element ("1;<offset>,<type>")
// puts alternative data after it; false when the element does not fit.
bool AltDataOffset(std::string_view value, std::uint64_t dataLength, std::uint64_t& offset) {
    const std::size_t semi = value.find(';');
    if (semi == std::string_view::npos)
        return false;
    std::uint64_t n = 0;
    std::size_t i = semi + 1;
    const std::size_t digits = i;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        if (n > (dataLength + 1) * 10)
            return false; // far beyond the data: no need to read more digits
        n = n * 10 + static_cast<std::uint64_t>(value[i] - '0');
    }
    if (i == digits || n > dataLength)
        return false;
    offset = n;
    return true;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

} // namespace

bool ParseHttpDate(std::string_view text, std::int64_t& seconds) {
    // "Tue, 01 Dec 2026 10:00:00 GMT": the form servers send (RFC 9110).
    text = TrimBlanks(text);
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos || comma > 9)
        return false;
    text.remove_prefix(comma + 1);
    text = TrimBlanks(text);
    if (text.size() != 24 || text.substr(20) != " GMT")
        return false;
    auto number = [&](std::size_t at, std::size_t n, unsigned& out) {
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + static_cast<unsigned>(text[i] - '0');
        }
        return true;
    };
    static constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const std::size_t month = kMonths.find(text.substr(3, 3));
    unsigned day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (month == std::string_view::npos || month % 3 != 0 || text[2] != ' ' || text[6] != ' ' ||
        text[11] != ' ' || text[14] != ':' || text[17] != ':' || !number(0, 2, day) ||
        !number(7, 4, year) || !number(12, 2, hour) || !number(15, 2, minute) ||
        !number(18, 2, second) || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    seconds = DaysFromCivil(year, static_cast<unsigned>(month / 3 + 1), day) * 86400 + hour * 3600 +
              minute * 60 + second;
    return true;
}

namespace {

// Reads exactly size bytes at offset; false on a short read or an error
// (errno set, or 0 for a file that is shorter than it said).
bool ReadExactly(int fd, char* out, std::size_t size, std::uint64_t offset) {
    const ssize_t n = ReadAt(fd, out, size, offset);
    if (n >= 0 && static_cast<std::size_t>(n) < size)
        errno = 0;
    return n >= 0 && static_cast<std::size_t>(n) == size;
}

enum class TReadResult { Ok, Encrypted, Damaged, Unreadable };

// The buffers of ReadEntryFile, reused from file to file.
struct TReadBuffers {
    std::string Tail;
    bool Whole = false; // Tail holds the whole file
};

// Checks the body of an entry file read whole into buffers: the data is at
// hand. A larger file's body is checked when it is read (TBodyCheck), not at
// every refresh.
void CheckWholeBody(TFirefoxEntry& entry, const TReadBuffers& buffers) {
    entry.ChunkMismatch =
        FirstBadFirefoxChunk(std::string_view(buffers.Tail).substr(0, entry.DataLength),
                             entry.ChunkHashes) != SIZE_MAX;
    entry.ChunksChecked = true;
}

// Opens an entry file below the entries folder (never through a link) and
// reads its metadata; with checkBody also its data, for the chunk hashes.
// Unreadable sets code to the errno (0: the file changed while it was read).
TReadResult ReadEntryFile(int dirFd, const char* name, TFirefoxEntry& entry, std::string& why,
                          TReadBuffers& buffers, bool checkBody, int* code = nullptr) {
    buffers.Whole = false;
    auto unreadable = [&](int error, std::string text) {
        if (code != nullptr)
            *code = error;
        why = std::move(text);
        return TReadResult::Unreadable;
    };
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return unreadable(errno, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        return unreadable(error, error == EINVAL ? "not a regular file" : std::strerror(error));
    }
    auto shortRead = [&] {
        const int error = errno;
        ::close(fd);
        return unreadable(error,
                          error != 0 ? std::strerror(error) : "the file shrank while it was read");
    };
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    std::string& tail = buffers.Tail;
    // Most metadata fits in the first read; more is read only when asked for.
    tail.resize(static_cast<std::size_t>(fileSize <= kWhole ? fileSize : kFirstRead));
    if (!ReadExactly(fd, tail.data(), tail.size(), fileSize - tail.size()))
        return shortRead();
    std::size_t need = 0;
    TFirefoxEntryStatus status = ParseFirefoxEntry(fileSize, tail, entry, &need);
    if (status == TFirefoxEntryStatus::Damaged && need > tail.size() && need <= fileSize) {
        tail.resize(need);
        if (!ReadExactly(fd, tail.data(), need, fileSize - need))
            return shortRead();
        status = ParseFirefoxEntry(fileSize, tail, entry, &need);
    }
    if (status == TFirefoxEntryStatus::Encrypted) {
        ::close(fd);
        return TReadResult::Encrypted;
    }
    if (status != TFirefoxEntryStatus::Ok) {
        ::close(fd);
        why = "damaged entry file (its metadata does not fit)";
        return TReadResult::Damaged;
    }
    buffers.Whole = tail.size() == fileSize;
    if (checkBody && buffers.Whole)
        CheckWholeBody(entry, buffers);
    ::close(fd);
    return TReadResult::Ok;
}

// Whether the process a "lock" link names ("<address>:+<pid>") runs.
bool LockLinkProcessRuns(std::string_view target) {
    const std::size_t plus = target.rfind(":+");
    if (plus == std::string_view::npos || plus + 2 >= target.size())
        return false;
    long pid = 0;
    for (std::size_t i = plus + 2; i < target.size(); ++i) {
        if (target[i] < '0' || target[i] > '9' || pid > 100000000)
            return false;
        pid = pid * 10 + (target[i] - '0');
    }
    if (pid <= 0)
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// Gives out a read entry whose body starts its file, as the rest of the
// program takes entries.
void FillFirefoxRaw(TFirefoxEntry& e, std::string file, TRawCacheEntry& entry) {
    entry.Clear();
    entry.Url = std::move(e.Url);
    entry.LocalFileName = std::move(file);
    entry.EntryType = NORMAL_CACHE_ENTRY;
    // The document's own time, as Internet Explorer keeps it; without one,
    // when Firefox stored the entry.
    std::int64_t seconds = 0;
    if (ParseHttpDate(HeaderValue(e.ResponseHead, "Last-Modified"), seconds))
        entry.LastModified = UnixTimeToFileTime(seconds);
    else if (e.LastModified != 0)
        entry.LastModified = UnixTimeToFileTime(e.LastModified);
    entry.Size = e.BodyLength;
    entry.BodyOffset = 0;
    entry.BodyLength = static_cast<std::int64_t>(e.BodyLength);
    if (!e.ChunksChecked && e.DataLength > 0)
        entry.BodyCheck = {TBodyCheck::FirefoxChunks, 0, e.DataLength + 4, e.DataLength};
    entry.ContentEncoding = HeaderValue(e.ResponseHead, "Content-Encoding");
    std::transform(entry.ContentEncoding.begin(), entry.ContentEncoding.end(),
                   entry.ContentEncoding.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    entry.HeaderBlock = std::move(e.ResponseHead);
}

} // namespace

namespace {

// Bob Jenkins' lookup2, as its state and steps, so that two hashes can run
// side by side.
struct TLookup2 {
    std::uint32_t a = 0x9e3779b9U, b = 0x9e3779b9U, c = 0;
    const unsigned char* k = nullptr;
    std::size_t left = 0; // bytes not yet taken
    std::size_t size = 0;

    TLookup2() = default;
    TLookup2(std::string_view data, std::uint32_t seed)
        : c(seed), k(reinterpret_cast<const unsigned char*>(data.data())), left(data.size()),
          size(data.size()) {}

    static std::uint32_t Le(const unsigned char* p) {
        return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
               (std::uint32_t{p[3]} << 24);
    }
    [[gnu::always_inline]] static void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
        a -= b;
        a -= c;
        a ^= (c >> 13);
        b -= c;
        b -= a;
        b ^= (a << 8);
        c -= a;
        c -= b;
        c ^= (b >> 13);
        a -= b;
        a -= c;
        a ^= (c >> 12);
        b -= c;
        b -= a;
        b ^= (a << 16);
        c -= a;
        c -= b;
        c ^= (b >> 5);
        a -= b;
        a -= c;
        a ^= (c >> 3);
        b -= c;
        b -= a;
        b ^= (a << 10);
        c -= a;
        c -= b;
        c ^= (b >> 15);
    }
    // Takes one block of 12 bytes; left >= 12.
    [[gnu::always_inline]] void Block() {
        a += Le(k);
        b += Le(k + 4);
        c += Le(k + 8);
        Mix(a, b, c);
        k += 12;
        left -= 12;
    }
    std::uint32_t Finish() {
        while (left >= 12)
            Block();
        c += static_cast<std::uint32_t>(size);
        switch (left) {
        case 11:
            c += std::uint32_t{k[10]} << 24;
            [[fallthrough]];
        case 10:
            c += std::uint32_t{k[9]} << 16;
            [[fallthrough]];
        case 9:
            c += std::uint32_t{k[8]} << 8;
            [[fallthrough]];
        case 8:
            b += std::uint32_t{k[7]} << 24;
            [[fallthrough]];
        case 7:
            b += std::uint32_t{k[6]} << 16;
            [[fallthrough]];
        case 6:
            b += std::uint32_t{k[5]} << 8;
            [[fallthrough]];
        case 5:
            b += k[4];
            [[fallthrough]];
        case 4:
            a += std::uint32_t{k[3]} << 24;
            [[fallthrough]];
        case 3:
            a += std::uint32_t{k[2]} << 16;
            [[fallthrough]];
        case 2:
            a += std::uint32_t{k[1]} << 8;
            [[fallthrough]];
        case 1:
            a += k[0];
            break;
        default:
            break;
        }
        Mix(a, b, c);
        return c;
    }
};

} // namespace

std::uint32_t FirefoxHash(std::string_view data, std::uint32_t seed) {
    return TLookup2(data, seed).Finish();
}

void FirefoxHashEach(std::span<const std::string_view> data, std::span<std::uint32_t> hashes) {
    // Each block of a hash waits for the block before it; two hashes
    // interleaved keep the processor busy while they wait. A lane that is
    // done takes up the next piece.
    TLookup2 lane[2];
    std::size_t at[2] = {};
    bool busy[2] = {};
    std::size_t next = 0;
    auto start = [&](int l) {
        busy[l] = next < data.size();
        if (busy[l]) {
            lane[l] = TLookup2(data[next], 0);
            at[l] = next++;
        }
    };
    start(0);
    start(1);
    while (busy[0] && busy[1]) {
        for (std::size_t blocks = std::min(lane[0].left, lane[1].left) / 12; blocks > 0; --blocks) {
            lane[0].Block();
            lane[1].Block();
        }
        for (int l = 0; l < 2; ++l) {
            if (lane[l].left < 12) {
                hashes[at[l]] = lane[l].Finish();
                start(l);
            }
        }
    }
    for (int l = 0; l < 2; ++l) {
        if (busy[l])
            hashes[at[l]] = lane[l].Finish();
    }
}

std::size_t FirstBadFirefoxChunk(std::string_view data, std::string_view chunkHashes,
                                 std::size_t firstChunk) {
    for (std::size_t i = 0; i * kChunkSize < data.size(); ++i) {
        const std::size_t at = 2 * (firstChunk + i);
        if (at + 2 > chunkHashes.size())
            return firstChunk + i;
        const auto stored =
            static_cast<std::uint16_t>((static_cast<unsigned char>(chunkHashes[at]) << 8) |
                                       static_cast<unsigned char>(chunkHashes[at + 1]));
        if (static_cast<std::uint16_t>(FirefoxHash(data.substr(i * kChunkSize, kChunkSize))) !=
            stored)
            return firstChunk + i;
    }
    return SIZE_MAX;
}

bool SplitFirefoxKey(std::string_view key, TFirefoxEntry& entry) {
    entry.Anonymous = false;
    entry.Enhanced = false;
    std::size_t i = 0;
    while (i < key.size()) {
        const char tag = key[i];
        if (tag == ':') {
            entry.Tags.assign(key.substr(0, i));
            entry.Url.assign(key.substr(i + 1));
            return true;
        }
        // The tag's value runs to the next single ',' (",," is a comma in it).
        std::size_t j = i + 1;
        while (j < key.size()) {
            if (key[j] == ',') {
                if (j + 1 < key.size() && key[j + 1] == ',') {
                    j += 2;
                    continue;
                }
                break;
            }
            ++j;
        }
        if (j >= key.size())
            return false; // a tag without its closing ',': no URL follows
        if (tag == 'a')
            entry.Anonymous = true;
        else if (tag == '~')
            entry.Enhanced = true;
        i = j + 1;
    }
    return false;
}

std::string FirefoxHeaderValue(std::string_view head, std::string_view name) {
    return std::string(HeaderValue(head, name));
}

TFirefoxEntryStatus ParseFirefoxEntry(std::uint64_t fileSize, std::string_view tail,
                                      TFirefoxEntry& entry, std::size_t* needTail) {
    entry = TFirefoxEntry{};
    if (needTail != nullptr)
        *needTail = 0;
    if (tail.size() > fileSize || fileSize < 4 || tail.size() < 4)
        return TFirefoxEntryStatus::Damaged;
    // The trailer: [version][offset] from version 4 on, the bare offset before.
    std::uint32_t offsetWord = GetBe32(tail, tail.size() - 4);
    std::uint64_t trailer = 4;
    bool encrypted = false;
    if (tail.size() >= 8) {
        const std::uint32_t version = GetBe32(tail, tail.size() - 8);
        if (version >= kTrailerVersionMin && version <= kTrailerVersionMax) {
            trailer = 8;
            encrypted = (offsetWord & kEncryptedBit) != 0;
            offsetWord &= ~kEncryptedBit;
        }
    } else if (fileSize >= 8) {
        if (needTail != nullptr)
            *needTail = 8;
        return TFirefoxEntryStatus::Damaged;
    }
    if (encrypted)
        return TFirefoxEntryStatus::Encrypted;
    const std::uint64_t dataLength = offsetWord;
    if (dataLength + trailer > fileSize)
        return TFirefoxEntryStatus::Damaged;
    const std::uint64_t metaSize = fileSize - trailer - dataLength;
    if (metaSize > kMaxMetadata)
        return TFirefoxEntryStatus::Damaged;
    if (tail.size() < metaSize + trailer) {
        if (needTail != nullptr)
            *needTail = static_cast<std::size_t>(metaSize + trailer);
        return TFirefoxEntryStatus::Damaged;
    }
    const std::string_view meta = tail.substr(tail.size() - trailer - metaSize, metaSize);
    const std::uint64_t chunks = (dataLength + kChunkSize - 1) / kChunkSize;
    const std::uint64_t hashesEnd = 4 + 2 * chunks;
    if (hashesEnd + 28 > metaSize)
        return TFirefoxEntryStatus::Damaged;
    const std::uint32_t version = GetBe32(meta, hashesEnd);
    const std::uint64_t headerSize = version >= 2 ? 32 : 28;
    if (version == 0 || hashesEnd + headerSize > metaSize)
        return TFirefoxEntryStatus::Damaged;
    const std::size_t h = static_cast<std::size_t>(hashesEnd);
    entry.Version = version;
    entry.FetchCount = GetBe32(meta, h + 4);
    entry.LastFetched = GetBe32(meta, h + 8);
    entry.LastModified = GetBe32(meta, h + 12);
    entry.Frecency = GetBe32(meta, h + 16);
    entry.Expiration = GetBe32(meta, h + 20);
    const std::uint64_t keySize = GetBe32(meta, h + 24);
    entry.Flags = version >= 2 ? GetBe32(meta, h + 28) : 0;
    const std::uint64_t keyAt = hashesEnd + headerSize;
    if (keySize >= metaSize - keyAt || meta[keyAt + keySize] != '\0')
        return TFirefoxEntryStatus::Damaged;
    entry.Key.assign(
        meta.substr(static_cast<std::size_t>(keyAt), static_cast<std::size_t>(keySize)));
    entry.DataLength = dataLength;
    entry.BodyLength = dataLength;
    entry.HashMismatch = FirefoxHash(meta.substr(4)) != GetBe32(meta, 0);
    entry.ChunkHashes.assign(meta.substr(4, static_cast<std::size_t>(2 * chunks)));

    // The elements: name NUL value NUL, up to the trailer.
    std::string_view elements = meta.substr(static_cast<std::size_t>(keyAt + keySize + 1));
    if (!elements.empty() && elements.back() != '\0')
        return TFirefoxEntryStatus::Damaged;
    while (!elements.empty()) {
        const std::size_t nameEnd = elements.find('\0');
        const std::size_t valueEnd = elements.find('\0', nameEnd + 1);
        if (valueEnd == std::string_view::npos)
            return TFirefoxEntryStatus::Damaged; // a name without its value
        const std::string_view name = elements.substr(0, nameEnd);
        const std::string_view value = elements.substr(nameEnd + 1, valueEnd - nameEnd - 1);
        elements.remove_prefix(valueEnd + 1);
        if (SameIgnoringCase(name, "response-head")) {
            if (entry.ResponseHead.empty())
                entry.ResponseHead.assign(value);
        } else if (SameIgnoringCase(name, "alt-data")) {
            std::uint64_t offset = 0;
            if (!AltDataOffset(value, dataLength, offset))
                return TFirefoxEntryStatus::Damaged;
            entry.HasAltData = true;
            entry.BodyLength = offset;
        }
    }
    if (!SplitFirefoxKey(entry.Key, entry))
        entry.Url.clear(); // not the key of a web entry: the caller decides
    return TFirefoxEntryStatus::Ok;
}

TFirefoxCacheSource::TFirefoxCacheSource(std::filesystem::path cache2)
    : cache2_(std::move(cache2)), entries_(cache2_ / "entries") {}

void TFirefoxCacheSource::Problem(std::string_view fileName, std::string_view what) {
    if (problems_.size() < kMaxProblems)
        problems_.push_back(std::string(fileName) + ": " + std::string(what));
}

void TFirefoxCacheSource::Scan() {
    found_.clear();
    keyed_.clear();
    problems_.clear();
    counts_ = {};
    const int dirFd = ::open(entries_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0) {
        error_ = TError::FromErrno(errno, entries_.string());
        return;
    }
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        error_ = TError::FromErrno(errno, entries_.string());
        ::close(dirFd);
        return;
    }
    // One pass over the folder; the names kept in place, sorted as strings.
    std::vector<TFileName> names;
    errno = 0;
    while (const dirent* d = ::readdir(dir)) {
        if (IsEntryFileName(d->d_name))
            std::memcpy(names.emplace_back().data(), d->d_name, kEntryNameSize);
        errno = 0;
    }
    if (errno != 0)
        error_ = TError::FromErrno(errno, entries_.string());
    std::sort(names.begin(), names.end(), [](const TFileName& a, const TFileName& b) {
        return std::memcmp(a.data(), b.data(), kEntryNameSize) < 0;
    });

    std::vector<TFound> all;
    all.reserve(names.size());
    // What one entry file gave: counted, and kept when it is to be listed.
    struct TRead {
        TFound Found;
        TReadResult Result = TReadResult::Ok;
        std::string Why;
    };
    auto take = [&](TRead& read) {
        TFound& found = read.Found;
        const std::string_view fileName(found.FileName.data(), kEntryNameSize);
        switch (read.Result) {
        case TReadResult::Unreadable:
            ++counts_.Unreadable;
            Problem(fileName, read.Why);
            return;
        case TReadResult::Damaged:
            ++counts_.Damaged;
            Problem(fileName, read.Why);
            return;
        case TReadResult::Encrypted:
            ++counts_.Encrypted;
            return;
        case TReadResult::Ok:
            break;
        }
        TFirefoxEntry& e = found.Entry;
        // Keys of other cache users and of POST answers are left out, when
        // the metadata is sound; otherwise the key may be what broke.
        const bool web = IsWebUrl(e.Url);
        if (e.HashMismatch && (!web || e.Enhanced)) {
            ++counts_.Damaged;
            Problem(fileName, std::string("the metadata's hash does not fit and its key names ") +
                                  (web ? "no plain GET request" : "no web address") + " (" +
                                  (e.Key.empty() ? "an empty key" : e.Key.substr(0, kShownKey)) +
                                  (e.Key.size() > kShownKey ? "...)" : ")"));
            return;
        }
        if (!web) {
            ++counts_.NotWeb;
            return;
        }
        if (e.Enhanced) {
            ++counts_.NotPlainGet;
            return;
        }
        if (e.HashMismatch) {
            ++counts_.HashMismatch;
            Problem(fileName, "the metadata's hash does not fit (torn write?): read as it is");
        }
        if (e.ChunkMismatch) {
            ++counts_.ChunkMismatch;
            Problem(fileName, "the hash of the body does not fit: read as it is");
        }
        if (e.HasAltData)
            ++counts_.AltData;
        // The stored body is the bytes as sent, so Content-Length counts them.
        const std::string_view length = HeaderValue(e.ResponseHead, "Content-Length");
        if (!length.empty() && length.size() <= 18 &&
            std::all_of(length.begin(), length.end(),
                        [](char c) { return c >= '0' && c <= '9'; }) &&
            DecimalValue(length) > e.BodyLength) {
            ++counts_.Partial;
            Problem(fileName, "only " + std::to_string(e.BodyLength) + " of " +
                                  std::string(length) +
                                  " bytes of the body stored (an interrupted download)");
        }
        all.push_back(std::move(found));
    };
    // The files are read in batches; the bodies of those read whole are
    // checked here, hashed two at a time side by side, before the batch is
    // taken in the order of the file names.
    constexpr std::size_t kBatch = 16;
    std::vector<TReadBuffers> buffers(kBatch);
    std::vector<TRead> batch;
    batch.reserve(kBatch);
    std::vector<std::string_view> bodies;
    std::vector<std::uint32_t> hashes;
    std::vector<TFirefoxEntry*> hashed;
    auto flush = [&] {
        bodies.clear();
        hashed.clear();
        for (std::size_t i = 0; i < batch.size(); ++i) {
            TFirefoxEntry& e = batch[i].Found.Entry;
            if (batch[i].Result != TReadResult::Ok || !buffers[i].Whole)
                continue;
            if (e.DataLength == 0 || e.DataLength > kChunkSize) {
                CheckWholeBody(e, buffers[i]);
                continue;
            }
            bodies.push_back(std::string_view(buffers[i].Tail).substr(0, e.DataLength));
            hashed.push_back(&e);
        }
        hashes.resize(bodies.size());
        FirefoxHashEach(bodies, hashes);
        for (std::size_t i = 0; i < hashed.size(); ++i) {
            const std::string_view stored = hashed[i]->ChunkHashes;
            hashed[i]->ChunkMismatch =
                stored.size() < 2 ||
                static_cast<std::uint16_t>(hashes[i]) !=
                    static_cast<std::uint16_t>((static_cast<unsigned char>(stored[0]) << 8) |
                                               static_cast<unsigned char>(stored[1]));
            hashed[i]->ChunksChecked = true;
        }
        for (TRead& read : batch)
            take(read);
        batch.clear();
    };
    char name[kEntryNameSize + 1] = {};
    for (const TFileName& n : names) {
        std::memcpy(name, n.data(), kEntryNameSize);
        ++counts_.Files;
        TRead& read = batch.emplace_back();
        read.Found.FileName = n;
        TReadBuffers& into = buffers[batch.size() - 1];
        read.Result = ReadEntryFile(dirFd, name, read.Found.Entry, read.Why, into, false);
        // Only a file read whole is kept to the end of the batch; the large
        // metadata of another is let go at once.
        if (!into.Whole && into.Tail.capacity() > kWhole)
            std::string().swap(into.Tail);
        if (batch.size() == kBatch)
            flush();
    }
    flush();
    ::closedir(dir); // closes dirFd

    // One entry per URL: the newest written, then the most recently used;
    // on a tie the first file name.
    std::unordered_map<std::string_view, std::size_t> newest;
    newest.reserve(all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        auto [it, added] = newest.try_emplace(all[i].Entry.Url, i);
        if (added)
            continue;
        const TFirefoxEntry& held = all[it->second].Entry;
        const TFirefoxEntry& e = all[i].Entry;
        if (std::tie(e.LastModified, e.LastFetched) > std::tie(held.LastModified, held.LastFetched))
            it->second = i;
    }
    std::vector<bool> deliver(all.size(), false);
    for (const auto& [url, i] : newest)
        deliver[i] = true;
    keyed_.reserve(all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const TFirefoxEntry& e = all[i].Entry;
        keyed_.push_back({std::string(all[i].FileName.data(), kEntryNameSize), e.Key, e.Url,
                          e.LastModified, deliver[i]});
        if (!deliver[i])
            ++counts_.Duplicates;
    }
    newest.clear();
    found_.reserve(all.size() - counts_.Duplicates);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (deliver[i])
            found_.push_back(std::move(all[i]));
    }
    counts_.Entries = found_.size();
}

bool TFirefoxCacheSource::First(TRawCacheEntry& entry) {
    Close();
    error_ = {};
    Scan();
    if (error_ && found_.empty())
        return false;
    open_ = true;
    return Deliver(entry);
}

bool TFirefoxCacheSource::Next(TRawCacheEntry& entry) {
    if (!open_)
        return false;
    return Deliver(entry);
}

bool TFirefoxCacheSource::Deliver(TRawCacheEntry& entry) {
    if (next_ >= found_.size()) {
        current_ = SIZE_MAX;
        return false;
    }
    // What the tree has taken is not kept twice: the entry given out before
    // this one is needed no more (its key and URL stay in keyed_).
    if (current_ < found_.size()) {
        TFirefoxEntry& done = found_[current_].Entry;
        std::string().swap(done.Key);
        std::string().swap(done.Tags);
        std::string().swap(done.ChunkHashes);
    }
    current_ = next_;
    TFound& f = found_[next_++];
    std::string path;
    path.reserve(entries_.native().size() + 1 + kEntryNameSize);
    path += entries_.native();
    path += '/';
    path.append(f.FileName.data(), kEntryNameSize);
    FillFirefoxRaw(f.Entry, std::move(path), entry);
    return true;
}

void TFirefoxCacheSource::Close() {
    open_ = false;
    found_.clear();
    found_.shrink_to_fit();
    next_ = 0;
    current_ = SIZE_MAX;
}

std::string TFirefoxCacheSource::CurrentKey() const {
    return current_ < found_.size() ? found_[current_].Entry.Key : std::string();
}

std::vector<TKeyedCopy> TFirefoxCacheSource::UndeliveredCopies() const {
    std::vector<TKeyedCopy> copies;
    for (const TFirefoxKeyedEntry& k : keyed_) {
        if (!k.Delivered)
            copies.push_back({k.Url, k.Key, (entries_ / k.FileName).native()});
    }
    return copies;
}

TError TFirefoxCacheSource::ReadCopy(const TKeyedCopy& copy, TRawCacheEntry& entry) const {
    // Only a file of this cache's entries folder, never through a link.
    const std::filesystem::path file(copy.FileName);
    const std::string name = file.filename().native();
    if (file.parent_path() != entries_ || !IsEntryFileName(name))
        return TError::Message(copy.FileName + ": no entry file of this cache", EINVAL);
    const int dirFd = ::open(entries_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return TError::FromErrno(errno, entries_.string());
    TFirefoxEntry e;
    std::string why;
    TReadBuffers buffers;
    int code = 0;
    const TReadResult read = ReadEntryFile(dirFd, name.c_str(), e, why, buffers, true, &code);
    ::close(dirFd);
    if (read == TReadResult::Unreadable)
        return TError::Message(copy.FileName + ": " + why, code != 0 ? code : EIO);
    if (read != TReadResult::Ok)
        return TError::Message(copy.FileName + ": " +
                               (read == TReadResult::Encrypted ? "stored encrypted" : why));
    if (e.Url != copy.Url || e.Key != copy.Key)
        return TError::Message(copy.FileName + ": the file holds another entry now");
    if (e.ChunkMismatch)
        return TError::Message(copy.FileName + ": the hash of the body does not fit");
    FillFirefoxRaw(e, copy.FileName, entry);
    return {};
}

TError TFirefoxCacheSource::Error() const {
    return error_;
}

std::string TFirefoxCacheSource::Describe() const {
    return cache2_.string();
}

TReadReport TFirefoxCacheSource::ReadReport() const {
    const TFirefoxCacheCounts& c = counts_;
    TReadReport report;
    report.SkippedRecords = c.Damaged + c.Unreadable;
    report.Damaged =
        report.SkippedRecords > 0 || c.HashMismatch > 0 || c.ChunkMismatch > 0 || c.Partial > 0;
    if (!report.Damaged)
        return report;
    report.Problems = problems_;
    std::string text = entries_.string() + ": damaged:";
    const char* sep = " ";
    const std::pair<std::size_t, std::string> parts[] = {
        {report.SkippedRecords,
         " of " + std::to_string(c.Files) + " entry files could not be read"},
        {c.HashMismatch, " read despite a metadata hash that does not fit"},
        {c.ChunkMismatch, " read despite a body hash that does not fit"},
        {c.Partial, " with only part of the body stored"},
    };
    for (const auto& [count, what] : parts) {
        if (count == 0)
            continue;
        text += sep + std::to_string(count) + what;
        sep = ", ";
    }
    // The first files by name; Problems() holds more.
    const std::size_t total = report.SkippedRecords + c.HashMismatch + c.ChunkMismatch + c.Partial;
    report.Summary = EndReadSummary(std::move(text), problems_, total, c.Entries);
    return report;
}

std::string TFirefoxCacheSource::ProfileLockHolder() const {
    for (const auto& profile : FirefoxProfileFolders(cache2_)) {
        std::string holder = FirefoxProfileLockHolder(profile);
        if (!holder.empty())
            return holder;
    }
    return {};
}

TError TFirefoxCacheSource::DeleteEntry(std::string_view url) {
    if (std::string holder = ProfileLockHolder(); !holder.empty())
        return TError::FromErrno(EBUSY, holder);
    const int dirFd = ::open(entries_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return TError::FromErrno(errno, entries_.string());
    // The files of the last refresh first; without one, every file is read.
    std::vector<std::string> names;
    if (!keyed_.empty()) {
        for (const auto& k : keyed_) {
            if (k.Url == url)
                names.push_back(k.FileName);
        }
    } else if (DIR* dir = ::opendir(entries_.c_str())) {
        while (const dirent* d = ::readdir(dir)) {
            if (IsEntryFileName(d->d_name))
                names.emplace_back(d->d_name);
        }
        ::closedir(dir);
    }
    const bool listed = !keyed_.empty();
    std::size_t removed = 0;
    std::vector<std::string> gone; // removed now or before
    TReadBuffers buffers;
    TError failure;
    for (const std::string& name : names) {
        // The file is read again: it may have been replaced since.
        TFirefoxEntry e;
        std::string why;
        int code = 0;
        const TReadResult read = ReadEntryFile(dirFd, name.c_str(), e, why, buffers, false, &code);
        if (read == TReadResult::Unreadable && code == ENOENT) {
            gone.push_back(name);
            continue;
        }
        if (read == TReadResult::Unreadable || (read == TReadResult::Damaged && listed)) {
            // Whether it holds the URL cannot be told: it stays, and so
            // does the entry. A file read as the URL's at the last refresh
            // counts; of the others only those that cannot be opened or read
            // (damaged ones name no URL).
            if (!failure)
                failure = TError::Message((entries_ / name).string() + ": " + why +
                                              "; the entry file is left as it is",
                                          code != 0 ? code : EIO);
            continue;
        }
        if (read != TReadResult::Ok || e.Url != url || e.Enhanced)
            continue; // another entry's now
        if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
            if (errno == ENOENT)
                gone.push_back(name);
            else if (!failure)
                failure = TError::FromErrno(errno, (entries_ / name).string());
            continue;
        }
        gone.push_back(name);
        ++removed;
    }
    ::close(dirFd);
    // What stays is still the URL's at the next try.
    std::erase_if(keyed_, [&](const TFirefoxKeyedEntry& k) {
        return std::find(gone.begin(), gone.end(), k.FileName) != gone.end();
    });
    if (failure && (listed || removed == 0))
        return failure;
    if (removed == 0)
        return TError::FromErrno(ENOENT, std::string(url));
    return {};
}

std::vector<std::filesystem::path> FirefoxProfileFolders(const std::filesystem::path& cache2) {
    std::vector<std::filesystem::path> out;
    const std::filesystem::path folder = cache2.lexically_normal().parent_path();
    if (folder.empty())
        return out;
    out.push_back(folder);
    // <home>/.cache/mozilla/firefox/<name>/cache2 -> <home>/.mozilla/firefox/<name>
    std::vector<std::filesystem::path> parts(folder.begin(), folder.end());
    for (std::size_t i = 0; i + 3 < parts.size(); ++i) {
        if (parts[i] == ".cache" && parts[i + 1] == "mozilla") {
            // ".cache" goes, "mozilla" becomes ".mozilla".
            std::filesystem::path mapped;
            for (std::size_t j = 0; j < parts.size(); ++j) {
                if (j == i)
                    continue;
                mapped /= j == i + 1 ? std::filesystem::path(".mozilla") : parts[j];
            }
            out.push_back(mapped);
            break;
        }
    }
    return out;
}

std::string FirefoxProfileLockHolder(const std::filesystem::path& profile) {
    // "lock": a link whose target names the host and process that hold it.
    const std::filesystem::path link = profile / "lock";
    char target[512];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && LockLinkProcessRuns(std::string_view(target, static_cast<std::size_t>(n))))
        return "Firefox is running with this profile (" + link.string() + ")";
    // ".parentlock": a file a running Firefox keeps locked.
    const std::filesystem::path parent = profile / ".parentlock";
    const int fd =
        ::open(parent.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st {};
    std::string holder;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK)
            holder = "Firefox is running with this profile (" + parent.string() + " is locked)";
    }
    ::close(fd);
    return holder;
}

std::unique_ptr<TCacheSource> OpenFirefoxCache(const std::filesystem::path& cache2Dir,
                                               TError* error) {
    auto isDir = [](const std::filesystem::path& p) {
        std::error_code ec;
        return std::filesystem::is_directory(p, ec);
    };
    std::filesystem::path dir = cache2Dir;
    if (dir.filename() == "entries" && !isDir(dir / "entries"))
        dir = dir.parent_path();
    else if (!isDir(dir / "entries") && isDir(dir / "cache2" / "entries"))
        dir /= "cache2";
    if (!isDir(dir / "entries")) {
        if (error != nullptr)
            *error = TError::FromErrno(ENOENT, cache2Dir.string() +
                                                   ": no Firefox disk cache (cache2/entries)");
        return nullptr;
    }
    if (error != nullptr)
        *error = {};
    return std::make_unique<TFirefoxCacheSource>(dir);
}

} // namespace tarnhold
