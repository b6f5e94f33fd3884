#include "sources/indexdat/indexdatsource.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/indexdat/indexdatdeleter.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace tarnhold {

namespace {

bool IsSafeComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// A name from the index as a path component. Pure ASCII is the same either
// way; otherwise the spelling that exists on disk wins, else the one the
// writer of the file uses (Wine: UTF-8, Internet Explorer: the ANSI code page).
std::filesystem::path NameComponent(const std::filesystem::path& parent, std::string_view name,
                                    TIndexDatSignature signature) {
    if (IsAsciiText(name))
        return std::filesystem::path(std::string(name));
    std::filesystem::path raw(std::string{name});
    std::filesystem::path converted = AnsiToPath(name);
    if (raw == converted)
        return raw;
    const bool wine = signature == TIndexDatSignature::Wine;
    const auto& preferred = wine ? raw : converted;
    const auto& other = wine ? converted : raw;
    std::error_code ec;
    if (!std::filesystem::exists(parent / preferred, ec) &&
        std::filesystem::exists(parent / other, ec))
        return other;
    return preferred;
}

// The first bytes of the file, no more than the largest index can have; the
// file's own size goes to *fileSize. Only a regular file is read: a FIFO
// would block, a device never end.
TError ReadIndexSnapshot(const std::filesystem::path& file, std::string& out,
                         std::uint64_t* fileSize = nullptr) {
    out.clear();
    const TFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.Valid())
        return TError::FromErrno(errno, file.string());
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        if (S_ISDIR(st.st_mode))
            return TError::FromErrno(EISDIR, file.string());
        if (st.st_mode == 0)
            return TError::FromErrno(error, file.string());
        return TError::Message(file.string() +
                               ": not a regular file, so not an Internet Explorer cache index "
                               "(index.dat)");
    }
    if (fileSize != nullptr)
        *fileSize = static_cast<std::uint64_t>(st.st_size);
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(st.st_size, kIdxMaxFileSize));
    out.resize(want);
    const ssize_t n = ReadAt(fd.Get(), out.data(), out.size(), 0);
    if (n < 0) {
        const int error = errno;
        out.clear();
        return TError::FromErrno(error, file.string());
    }
    out.resize(static_cast<std::size_t>(n));
    return {};
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Whether the URLs of items from .. end are UTF-8: some are not ASCII, and
// all of those are valid UTF-8. Only the URL of each record is looked at (a
// record whose other strings do not fit is passed over later, which changes
// nothing here).
template <class TItems>
bool UrlsAreUtf8(const TIndexDatView& view, const TItems& items, std::size_t from) {
    const std::string_view data = view.Data();
    bool any = false;
    for (std::size_t i = from; i < items.size(); ++i) {
        const std::uint32_t offset = items[i].Offset;
        // Every queued record was checked to lie in the file.
        const std::size_t size = std::size_t{GetU32(data, offset + 4)} * kIdxBlockSize;
        const std::string_view record = data.substr(offset, size);
        const std::uint32_t at = GetU32(record, kUrlUrlOffset);
        if (at >= record.size())
            continue;
        std::string_view url = record.substr(at);
        url = url.substr(0, url.find('\0'));
        if (IsAsciiText(url))
            continue;
        if (!IsValidUtf8(url))
            return false;
        any = true;
    }
    return any;
}

// Which cached file a record names, as a key: folder index and name.
std::string FileKey(const TIndexDatRecord& r) {
    return std::to_string(r.DirIndex) + "/" + std::string(r.FileName);
}

bool IsRegularFileHere(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

std::filesystem::path ResolveIndexDatPath(const std::filesystem::path& path) {
    if (DirectoryExists(path))
        return path / "index.dat";
    return path;
}

std::string IndexDatLocalPath(const TIndexDatView& view, const std::filesystem::path& folder,
                              const TIndexDatRecord& record, std::string_view indexName) {
    if (!IsSafeComponent(record.FileName))
        return {};
    if (record.DirIndex == kUrlNoSubDirectory && SameNameIgnoringCase(record.FileName, indexName))
        return {}; // the index is no cached file
    // Joined as text: a refresh makes one path per entry, and a
    // std::filesystem::path would parse its components at every step.
    std::string path = folder.native();
    auto append = [&](std::string_view name) {
        if (!path.empty() && path.back() != '/')
            path.push_back('/');
        if (IsAsciiText(name))
            path.append(name);
        else
            path.append(
                NameComponent(std::filesystem::path(path), name, view.Signature()).native());
    };
    if (record.DirIndex != kUrlNoSubDirectory) {
        std::string_view dirName = view.DirName(record.DirIndex);
        if (dirName.empty())
            return {};
        append(dirName);
    }
    append(record.FileName);
    return path;
}

TIndexDatSource::TIndexDatSource(std::filesystem::path path)
    : indexFile_(ResolveIndexDatPath(path)), folder_(indexFile_.parent_path()),
      indexName_(indexFile_.filename().native()) {}

bool TIndexDatSource::SetLockWait(std::chrono::milliseconds wait, std::function<void()> onWaiting) {
    deleteOptions_.LockWait = wait;
    deleteOptions_.OnWaiting = std::move(onWaiting);
    return true;
}

bool TIndexDatSource::First(TRawCacheEntry& entry) {
    Close();
    skipped_ = 0;
    utf8_ = TUtf8::Unknown;
    report_ = {};
    deletedUrls_.clear();
    std::uint64_t fileSize = 0;
    if (TError error = ReadIndexSnapshot(indexFile_, data_, &fileSize)) {
        error_ = std::move(error);
        return false;
    }
    TIndexDatView view(data_);
    if (!view.Valid()) {
        const bool cut = GetIndexDatSignature(data_) != TIndexDatSignature::None;
        const std::size_t length = data_.size();
        data_.clear();
        if (cut) {
            report_.Damaged = true;
            report_.MissingBytes = kIdxHeaderSize - length;
            error_ = TError::Message(indexFile_.string() + ": the file ends at byte " +
                                     std::to_string(length) + ", inside its " +
                                     std::to_string(kIdxHeaderSize) +
                                     "-byte header; no entry can be read");
        } else {
            error_ = TError::Message(indexFile_.string() +
                                     ": not an Internet Explorer cache index (index.dat)");
        }
        report_.Summary = error_.Text();
        return false;
    }
    error_ = {};

    // The hash table's records first, each decoded once here so that the
    // report is whole before the first entry is delivered.
    std::size_t rejected = 0;
    const std::vector<TIndexDatItem> live = view.LiveUrlItems(&rejected);
    for (const TIndexDatItem& item : live) {
        TIndexDatRecord r;
        if (!view.DecodeUrlRecord(item.RecordOffset, r)) {
            ++rejected;
            continue;
        }
        items_.push_back({item.RecordOffset, TKind::Live});
    }
    const TIndexDatDamage damage = view.AssessDamage(rejected, fileSize);
    skipped_ = rejected;

    // Then what a scan of the blocks finds: live records the table lost
    // (entries like any other when the index is damaged, else recovered
    // ones), and deleted records in free blocks. A URL is delivered once:
    // the live entry wins over an older, deleted one.
    const TIndexDatScan scan = view.ScanRecords(live);
    // Only now: a sound cache without deleted records needs neither set,
    // and the files of live entries matter only when deleted ones follow.
    std::unordered_set<std::string_view> urls;
    const bool files = recovered_ && (!scan.Deleted.empty() || !damage.Damaged());
    if (!scan.Lost.empty() || !scan.Deleted.empty()) {
        urls.reserve(items_.size() + scan.Lost.size() + scan.Deleted.size());
        for (const TQueued& queued : items_) {
            TIndexDatRecord r;
            (void)view.DecodeUrlRecord(queued.Offset, r); // decoded above
            urls.insert(r.Url);
            if (files)
                liveFiles_.insert(FileKey(r));
        }
    }
    std::size_t lost = 0, deleted = 0;
    for (std::uint32_t offset : scan.Lost) {
        TIndexDatRecord r;
        if (!view.DecodeUrlRecord(offset, r) || !urls.insert(r.Url).second)
            continue;
        if (damage.Damaged()) {
            items_.push_back({offset, TKind::Lost});
            if (files)
                liveFiles_.insert(FileKey(r));
            ++lost;
        } else {
            if (recovered_)
                items_.push_back({offset, TKind::Deleted});
            ++deleted;
        }
    }
    for (std::uint32_t offset : scan.Deleted) {
        TIndexDatRecord r;
        if (!view.DecodeDeletedRecord(offset, r) || !urls.insert(r.Url).second)
            continue;
        if (recovered_)
            items_.push_back({offset, TKind::Deleted});
        ++deleted;
    }

    report_.Damaged = damage.Damaged();
    report_.MissingBytes = damage.MissingBytes;
    report_.SkippedRecords = rejected;
    report_.BadReferences = damage.BadItems;
    report_.RecoveredRecords = lost;
    report_.DeletedRecords = deleted;
    if (damage.Damaged()) {
        std::string summary = indexFile_.string() + ": damaged: ";
        for (std::size_t i = 0; i < damage.Problems.size(); ++i)
            summary += (i > 0 ? "; " : "") + damage.Problems[i];
        const std::size_t read = items_.size() - (recovered_ ? deleted : 0);
        summary += "; " + Plural(read, "entry", "entries") + " read";
        if (lost > 0)
            summary += ", " + std::to_string(lost) + " of them found by scanning its blocks";
        report_.Summary = std::move(summary);
    }
    open_ = true;
    return Deliver(entry);
}

bool TIndexDatSource::Next(TRawCacheEntry& entry) {
    if (!open_)
        return false;
    return Deliver(entry);
}

bool TIndexDatSource::Deliver(TRawCacheEntry& entry) {
    TIndexDatView view(data_);
    while (next_ < items_.size()) {
        const TQueued queued = items_[next_++];
        const bool deleted = queued.Kind == TKind::Deleted;
        TIndexDatRecord r;
        if (deleted ? !view.DecodeDeletedRecord(queued.Offset, r)
                    : !view.DecodeUrlRecord(queued.Offset, r)) {
            ++skipped_;
            continue;
        }
        const bool asciiUrl = IsAsciiText(r.Url);
        const bool asciiHeaders = IsAsciiText(r.Headers);
        // Every URL before this entry was ASCII: the URLs from here on decide.
        if (utf8_ == TUtf8::Unknown && (!asciiUrl || !asciiHeaders))
            utf8_ = UrlsAreUtf8(view, items_, next_ - 1) ? TUtf8::Yes : TUtf8::No;
        const bool convert = utf8_ == TUtf8::Yes;
        if (convert && !asciiUrl)
            entry.Url = CacheUtf8ToAnsi(r.Url);
        else
            entry.Url.assign(r.Url);
        entry.LocalFileName = IndexDatLocalPath(view, folder_, r, indexName_);
        entry.Recovered = deleted;
        if (deleted) {
            // Only a file that is still there and that no live entry uses now.
            if (liveFiles_.count(FileKey(r)) > 0 || !IsRegularFileHere(entry.LocalFileName))
                entry.LocalFileName.clear();
            deletedUrls_.insert(entry.Url);
        }
        entry.EntryType = r.EntryType;
        entry.LastModified = r.LastModified;
        entry.Size = r.Size;
        if (convert && !asciiHeaders && IsValidUtf8(r.Headers))
            entry.HeaderBlock = Utf8ToAnsi(r.Headers);
        else
            entry.HeaderBlock.assign(r.Headers);
        entry.FileExtension.assign(r.Extension);
        return true;
    }
    return false;
}

void TIndexDatSource::Close() {
    open_ = false;
    data_.clear();
    data_.shrink_to_fit();
    items_.clear();
    items_.shrink_to_fit();
    liveFiles_.clear();
    next_ = 0;
}

TError TIndexDatSource::Error() const {
    return error_;
}

TError TIndexDatSource::DeleteEntry(std::string_view url) {
    if (deletedUrls_.count(std::string(url)) > 0)
        return TError::Message(AnsiToUtf8(url) +
                                   ": a deleted entry recovered from the index's free blocks; "
                                   "it is no longer in the index, so nothing is deleted",
                               EPERM);
    return DeleteIndexDatEntry(indexFile_, url, deleteOptions_);
}

std::string TIndexDatSource::Describe() const {
    return indexFile_.string();
}

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

TError FindIndexDatOrphans(const std::filesystem::path& indexFile,
                           std::vector<TCacheOrphan>& orphans) {
    orphans.clear();
    const std::filesystem::path index = ResolveIndexDatPath(indexFile);
    const std::filesystem::path container = index.parent_path();
    std::string data;
    if (TError error = ReadIndexSnapshot(index, data))
        return error;
    const TIndexDatView view(data);
    if (!view.Valid())
        return TError::Message(index.string() +
                               ": not an Internet Explorer cache index (index.dat)");

    const std::string indexName = index.filename().native();
    std::set<std::string> named;
    auto name = [&](std::uint32_t offset, bool deleted) {
        TIndexDatRecord r;
        if (deleted ? view.DecodeDeletedRecord(offset, r) : view.DecodeUrlRecord(offset, r)) {
            std::string path = IndexDatLocalPath(view, container, r, indexName);
            if (!path.empty())
                named.insert(std::move(path));
        }
    };
    const std::vector<TIndexDatItem> live = view.LiveUrlItems();
    for (const TIndexDatItem& item : live)
        name(item.RecordOffset, false);
    const TIndexDatScan scan = view.ScanRecords(live);
    for (std::uint32_t offset : scan.Lost)
        name(offset, false);
    for (std::uint32_t offset : scan.Deleted)
        name(offset, true);

    TFd top(::open(container.empty() ? "." : container.c_str(), kDirFlags & ~O_NOFOLLOW));
    if (top.Get() < 0)
        return TError::FromErrno(errno, container.string());
    std::set<std::string> folders;
    for (std::size_t i = 0; i < view.DirCount(); ++i) {
        const std::string_view folder = view.DirName(i);
        if (!folder.empty())
            folders.insert(std::string(folder));
    }
    for (const std::string& folder : folders) {
        const int fd = ::openat(top.Get(), folder.c_str(), kDirFlags);
        if (fd < 0)
            continue; // gone, or a link: nothing of the cache
        DIR* dir = ::fdopendir(fd);
        if (dir == nullptr) {
            ::close(fd);
            continue;
        }
        std::vector<TCacheOrphan> found;
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view file = e->d_name;
            if (file == "." || file == "..")
                continue;
            struct stat st {};
            if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(st.st_mode))
                continue;
            TCacheOrphan orphan;
            orphan.Container = container;
            orphan.Folder = folder;
            orphan.Name = std::string(file);
            if (named.count(orphan.Path().native()) > 0)
                continue;
            orphan.Size = static_cast<std::uint64_t>(st.st_size);
            orphan.LastWrite = UnixTimeToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
            found.push_back(std::move(orphan));
        }
        ::closedir(dir);
        std::sort(found.begin(), found.end(),
                  [](const TCacheOrphan& a, const TCacheOrphan& b) { return a.Name < b.Name; });
        for (auto& orphan : found)
            orphans.push_back(std::move(orphan));
    }
    return {};
}

TError CopyCacheOrphan(const TCacheOrphan& orphan, const std::filesystem::path& toFolder) {
    const std::filesystem::path source = orphan.Path();
    const std::filesystem::path target = toFolder / orphan.Folder / orphan.Name;
    if (!IsSafeComponent(orphan.Folder) || !IsSafeComponent(orphan.Name))
        return TError::Message(source.string() + ": not a name inside a cache folder", EINVAL);
    TFd container(
        ::open(orphan.Container.empty() ? "." : orphan.Container.c_str(), kDirFlags & ~O_NOFOLLOW));
    if (container.Get() < 0)
        return TError::FromErrno(errno, orphan.Container.string());
    TFd folder(::openat(container.Get(), orphan.Folder.c_str(), kDirFlags));
    if (folder.Get() < 0)
        return TError::FromErrno(errno, (orphan.Container / orphan.Folder).string());
    TFd in(::openat(folder.Get(), orphan.Name.c_str(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (in.Get() < 0)
        return TError::FromErrno(errno, source.string());
    struct stat st {};
    if (::fstat(in.Get(), &st) != 0)
        return TError::FromErrno(errno, source.string());
    if (!S_ISREG(st.st_mode))
        return TError::Message(source.string() + ": not a regular file", EINVAL);

    int error = 0;
    if (!ForceDirectories(toFolder, &error))
        return TError::FromErrno(error, toFolder.string());
    TFd top(::open(toFolder.c_str(), kDirFlags & ~O_NOFOLLOW));
    if (top.Get() < 0)
        return TError::FromErrno(errno, toFolder.string());
    if (::mkdirat(top.Get(), orphan.Folder.c_str(), 0777) != 0 && errno != EEXIST)
        return TError::FromErrno(errno, (toFolder / orphan.Folder).string());
    TFd sub(::openat(top.Get(), orphan.Folder.c_str(), kDirFlags));
    if (sub.Get() < 0)
        return TError::FromErrno(errno == ELOOP ? ENOTDIR : errno,
                                 (toFolder / orphan.Folder).string());
    TFd out(::openat(sub.Get(), orphan.Name.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (out.Get() < 0)
        return TError::FromErrno(errno, target.string());
    auto fail = [&](int code) {
        ::unlinkat(sub.Get(), orphan.Name.c_str(), 0);
        return TError::FromErrno(code, target.string());
    };
    char buffer[65536];
    for (std::uint64_t done = 0;;) {
        const ssize_t n = ReadAt(in.Get(), buffer, sizeof buffer, done);
        if (n < 0)
            return fail(errno);
        if (!WriteAllToFd(out.Get(), std::string_view(buffer, static_cast<std::size_t>(n))))
            return fail(errno != 0 ? errno : EIO);
        done += static_cast<std::uint64_t>(n);
        if (static_cast<std::size_t>(n) < sizeof buffer)
            break;
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(out.Get(), times) != 0 || ::fsync(out.Get()) != 0)
        return fail(errno);
    return {};
}

} // namespace tarnhold
