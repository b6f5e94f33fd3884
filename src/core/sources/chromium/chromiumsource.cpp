#include "sources/chromium/chromiumsource.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits.h>
#include <unistd.h>
#include <unordered_map>

namespace tarnhold {

namespace {

// How much of a key a problem line shows.
constexpr std::size_t kShownKey = 120;
constexpr std::size_t kMaxNamedProblems = 50;

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
    const std::uint32_t payloadSize = ChromiumU32(pickle, 0);
    if (payloadSize > pickle.size() - 4)
        return Damaged("the response head claims more bytes than it has");
    std::string_view p = pickle.substr(4, payloadSize);
    std::size_t at = 0;
    auto need = [&](std::size_t n) { return n <= p.size() && at <= p.size() - n; };
    if (!need(4))
        return Damaged("the response head has no flags");
    const std::uint32_t flags = ChromiumU32(p, at);
    at += 4;
    if ((flags & 0xff) < 3)
        return Damaged("the response head is of an older format (" + std::to_string(flags & 0xff) +
                       ")");
    std::uint32_t extra = 0;
    if ((flags & 0x80000000u) != 0) {
        if (!need(4))
            return Damaged("the response head ends early");
        extra = ChromiumU32(p, at);
        at += 4;
    }
    if (!need(16))
        return Damaged("the response head ends early");
    at += 8; // the request time
    entry.ResponseTime = static_cast<std::int64_t>(ChromiumU64(p, at));
    at += 8;
    if ((extra & 4) != 0) {
        if (!need(8))
            return Damaged("the response head ends early");
        at += 8; // the original response time
    }
    if (!need(4))
        return Damaged("the response head has no headers");
    const std::uint32_t length = ChromiumU32(p, at);
    at += 4;
    if (length > 0x7fffffffu || !need(length))
        return Damaged("the response headers run past the head");
    std::string_view raw = p.substr(at, length);
    entry.Truncated = (flags & (1u << 12)) != 0;

    // NUL-separated lines: the status line, then the headers, then an empty
    // one. A line break inside a line would make two lines of it.
    entry.Head.clear();
    entry.Head.reserve(raw.size() + raw.size() / 16 + 2);
    // Line breaks inside a line are rare: looked for once.
    const bool breaks =
        raw.find('\r') != std::string_view::npos || raw.find('\n') != std::string_view::npos;
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
        const std::size_t at = entry.Head.size();
        entry.Head.append(line);
        if (breaks)
            std::replace_if(
                entry.Head.begin() + static_cast<std::ptrdiff_t>(at), entry.Head.end(),
                [](char c) { return c == '\r' || c == '\n'; }, ' ');
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
        if (const void* sp = ::memrchr(key.data(), ' ', key.size()))
            key.remove_prefix(static_cast<std::size_t>(static_cast<const char*>(sp) - key.data()) +
                              1);
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

namespace {

bool IsHeaderName(std::string_view line, std::size_t colon, std::string_view lowerName) {
    std::string_view name = line.substr(0, colon);
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    if (name.size() != lowerName.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lowerName[i])
            return false;
    }
    return true;
}

} // namespace

void FillChromiumEntry(const TChromiumEntry& e, std::string file, TRawCacheEntry& entry) {
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
        entry.LocalFileName = std::move(file);
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
            if (IsHeaderName(line, colon, "content-encoding")) {
                std::string_view value = line.substr(colon + 1);
                while (!value.empty() && value.front() == ' ')
                    value.remove_prefix(1);
                entry.ContentEncoding = std::string(value);
                break;
            }
        }
    }
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

std::string ChromiumShownKey(std::string_view key) {
    return std::string(key.substr(0, kShownKey)) + (key.size() > kShownKey ? "..." : "");
}

TChromiumKeyUse ChromiumKeyUse(const TChromiumEntry& e, std::string& why) {
    // An upload's key is left out only when it can be trusted; one that
    // fails its checksum may name anything.
    if (e.Upload && (e.Mismatch & kChromiumKeyMismatch) == 0)
        return TChromiumKeyUse::Upload;
    if (e.Upload) {
        why = "the key names the answer to a POST request";
        return TChromiumKeyUse::Damaged;
    }
    if (!IsAcceptedCacheEntry(NORMAL_CACHE_ENTRY, e.Url)) {
        why = "the key names no address that can be listed";
        return TChromiumKeyUse::Damaged;
    }
    return TChromiumKeyUse::List;
}

// ---------------------------------------------------------------------------

TChromiumSourceBase::TChromiumSourceBase(std::filesystem::path folder, bool keepsDeleted)
    : folder_(std::move(folder)), folderPrefix_((folder_ / "").native()),
      keepsDeleted_(keepsDeleted) {}

std::string TChromiumSourceBase::PathOf(std::string_view name) const {
    std::string path;
    path.reserve(folderPrefix_.size() + name.size());
    path += folderPrefix_;
    path += name;
    return path;
}

void TChromiumSourceBase::Problem(std::string text) {
    std::vector<std::string>& problems = ReadCounts().Problems;
    if (problems.size() < kMaxNamedProblems)
        problems.push_back(std::move(text));
}

bool TChromiumSourceBase::Newer(const TChromiumItem& a, const TChromiumItem& b) const {
    return a.Entry.ResponseTime > b.Entry.ResponseTime;
}

bool TChromiumSourceBase::Refresh() {
    items_.clear();
    error_ = {};
    deletedUrls_ = 0;
    if (!Collect())
        return false;

    // Live entries first, then the deleted ones, each in the order found.
    std::stable_partition(items_.begin(), items_.end(),
                          [](const TChromiumItem& i) { return !i.Deleted; });
    TChromiumReadCounts& counts = ReadCounts();
    std::unordered_map<std::string_view, std::size_t> newest, newestDeleted;
    newest.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        TChromiumItem& item = items_[i];
        if (item.Deleted && newest.count(item.Entry.Url) > 0) {
            item.Shadowed = true;
            continue;
        }
        auto& kept = item.Deleted ? newestDeleted : newest;
        auto [it, inserted] = kept.try_emplace(item.Entry.Url, i);
        if (inserted)
            continue;
        if (Newer(item, items_[it->second])) {
            items_[it->second].Shadowed = true;
            it->second = i;
        } else {
            item.Shadowed = true;
        }
        if (!item.Deleted)
            ++counts.Shadowed;
    }
    counts.Entries = static_cast<int>(newest.size());
    deletedUrls_ = newestDeleted.size();
    return true;
}

void TChromiumSourceBase::Fill(const TChromiumItem& item, TRawCacheEntry& entry) const {
    FillChromiumEntry(item.Entry, PathOf(item.File), entry);
    if (item.File.empty()) {
        // The body's file is gone.
        entry.LocalFileName.clear();
        entry.BodyOffset = 0;
        entry.BodyLength = -1;
        entry.Size = 0;
    }
    entry.Recovered = item.Deleted;
}

bool TChromiumSourceBase::Advance(TRawCacheEntry& entry) {
    while (running_ && next_ < items_.size()) {
        const std::size_t i = next_++;
        const TChromiumItem& item = items_[i];
        if (item.Deleted ? !recovered_ || item.Shadowed : item.Shadowed && !listShadowed_)
            continue;
        current_ = i;
        Fill(item, entry);
        // The reader has the head now; only a hidden copy is read again
        // (ReadCopy), so a given-out entry's head is not kept twice while
        // the tree is built from it.
        if (!item.Shadowed)
            std::string().swap(items_[i].Entry.Head);
        return true;
    }
    running_ = false;
    current_ = SIZE_MAX;
    return false;
}

bool TChromiumSourceBase::First(TRawCacheEntry& entry) {
    running_ = Refresh();
    next_ = 0;
    shadowedDelivered_ = listShadowed_;
    return Advance(entry);
}

bool TChromiumSourceBase::Next(TRawCacheEntry& entry) {
    return Advance(entry);
}

void TChromiumSourceBase::Close() {
    running_ = false;
    current_ = SIZE_MAX;
}

std::string TChromiumSourceBase::CurrentKey() const {
    return current_ < items_.size() ? items_[current_].Entry.Key : std::string();
}

bool TChromiumSourceBase::CurrentShadowed() const {
    return current_ < items_.size() && items_[current_].Shadowed && !items_[current_].Deleted;
}

std::vector<TKeyedCopy> TChromiumSourceBase::UndeliveredCopies() const {
    std::vector<TKeyedCopy> copies;
    if (shadowedDelivered_)
        return copies;
    for (const TChromiumItem& item : items_)
        if (item.Shadowed && !item.Deleted)
            copies.push_back({item.Entry.Url, item.Entry.Key, CopyFile(item)});
    return copies;
}

TError TChromiumSourceBase::ReadCopy(const TKeyedCopy& copy, TRawCacheEntry& entry) const {
    for (const TChromiumItem& item : items_) {
        if (item.Shadowed && !item.Deleted && item.Entry.Key == copy.Key &&
            item.Entry.Url == copy.Url) {
            Fill(item, entry);
            return {};
        }
    }
    return TError::Message(copy.Url + ": no such copy in the cache now", ENOENT);
}

void TChromiumSourceBase::Forget(std::string_view url) {
    items_.erase(std::remove_if(items_.begin(), items_.end(),
                                [&](const TChromiumItem& item) { return item.Entry.Url == url; }),
                 items_.end());
    running_ = false;
}

std::string TChromiumSourceBase::HeldBy() const {
    return ChromiumCacheHeldBy(folder_);
}

std::string
TChromiumSourceBase::DescribeAs(std::string_view kind,
                                const std::vector<std::pair<int, std::string>>& parts) const {
    std::string text = folder_.string() + " (" + std::string(kind);
    const int shadowed = ReadCounts().Shadowed;
    if (shadowed > 0)
        text += ", " + std::to_string(shadowed) + " older copies under other sites";
    for (const auto& [count, what] : parts)
        if (count > 0)
            text += ", " + std::to_string(count) + what;
    return text + ")";
}

void TChromiumSourceBase::AddCount(std::vector<std::string>& parts, int count,
                                   std::string_view what) {
    if (count != 0)
        parts.push_back(std::to_string(count) + std::string(what));
}

void TChromiumSourceBase::Summarize(TReadReport& report, const std::vector<std::string>& parts,
                                    std::size_t problems) const {
    const TChromiumReadCounts& c = ReadCounts();
    report.Problems = c.Problems;
    std::string text = folder_.string() + ": damaged:";
    const char* sep = " ";
    for (const std::string& part : parts) {
        text += sep + part;
        sep = ", ";
    }
    // The first problems; Problems holds more.
    report.Summary =
        EndReadSummary(std::move(text), c.Problems, problems, static_cast<std::size_t>(c.Entries));
}

} // namespace tarnhold
