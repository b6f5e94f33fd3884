#include "sources/indexdat/indexdatdeleter.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/indexdat/indexdat.h"
#include "sources/indexdat/indexdatimage.h"
#include "sources/indexdat/indexdatsource.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tarnhold {

namespace {

// A lock older than this is left over from a client that is gone (Wine's rule).
constexpr std::uint64_t kStaleLockTicks = 24ULL * 3600 * kFileTimeTicksPerSecond;

// Opens the index for writing, if it is a regular file (a FIFO or a device
// would block or never end), and takes its lock, waiting for a holder
// elsewhere as long as the options allow. Closing the descriptor releases
// the lock.
TError OpenLocked(const std::filesystem::path& file, const TIndexDatDeleteOptions& options, int& fd,
                  struct stat& st) {
    fd = ::open(file.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return TError::FromErrno(errno, file.string());
    if (::fstat(fd, &st) != 0)
        return TError::FromErrno(errno, file.string());
    if (!S_ISREG(st.st_mode))
        return TError::Message(file.string() + ": not a regular file, so no index.dat");
    const auto start = std::chrono::steady_clock::now();
    bool waiting = false;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return {};
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return TError::FromErrno(errno, file.string());
        const auto waited = std::chrono::steady_clock::now() - start;
        if (waited >= options.LockWait) {
            const auto seconds =
                std::chrono::duration_cast<std::chrono::milliseconds>(options.LockWait).count() /
                1000.0;
            char buf[32];
            std::snprintf(buf, sizeof buf, "%g", seconds);
            return TError::FromErrno(EWOULDBLOCK, file.string() +
                                                      ": another program holds its lock; gave "
                                                      "up waiting after " +
                                                      buf + " s");
        }
        if (!waiting && options.OnWaiting)
            options.OnWaiting();
        waiting = true;
        const auto left = options.LockWait - waited;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50)));
    }
}

bool ReadAll(int fd, std::string& out, int& error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = errno;
        return false;
    }
    // Anything longer than the largest index is no index; no need to read it.
    if (st.st_size < 0 || static_cast<std::uint64_t>(st.st_size) > kIdxMaxFileSize) {
        error = EBADMSG;
        return false;
    }
    out.assign(static_cast<std::size_t>(st.st_size), '\0');
    const ssize_t n = ReadAt(fd, out.data(), out.size(), 0);
    if (n < 0 || static_cast<std::size_t>(n) < out.size()) {
        error = n < 0 ? errno : EIO;
        return false;
    }
    return true;
}

bool WriteAt(int fd, std::string_view bytes, std::size_t offset, int& error) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                             static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The live item of the entry a caller names. The URL as stored first; in a
// cache that stores UTF-8 (Wine), the reader delivers the ANSI form, so that
// form is tried as UTF-8 and, failing that, compared with every UTF-8 URL
// as the reader converts it.
bool FindEntry(const TIndexDatView& view, std::string_view url, TIndexDatItem& item) {
    if (view.FindUrl(url, item))
        return true;
    if (!IsAsciiText(url)) {
        const std::string utf8 = AnsiToUtf8(url);
        if (utf8 != url && view.FindUrl(utf8, item))
            return true;
    } else if (url.find('%') == std::string_view::npos) {
        return false; // the conversion gives ASCII only by %-escaping
    }
    for (const auto& live : view.LiveUrlItems()) {
        TIndexDatRecord r;
        if (view.DecodeUrlRecord(live.RecordOffset, r) && !IsAsciiText(r.Url) &&
            IsValidUtf8(r.Url) && CacheUtf8ToAnsi(r.Url) == url) {
            item = live;
            return true;
        }
    }
    return false;
}

// Deletes the record's cached file: a regular file directly inside the
// cache folder or one of its cache sub-folders, reached by a walk that
// follows no symbolic link, and never the index itself. A record that names
// nothing of that kind has no cached file; a missing file is fine.
TError DeleteCachedFile(const TIndexDatView& view, const std::filesystem::path& indexFile,
                        const TIndexDatRecord& record, const struct stat& index) {
    const std::filesystem::path folder = indexFile.parent_path();
    const std::filesystem::path local =
        IndexDatLocalPath(view, folder, record, indexFile.filename().native());
    if (local.empty())
        return {};
    const std::filesystem::path relative =
        folder.empty() ? local : local.lexically_relative(folder);
    TFd top(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (top.Get() < 0)
        return TError::FromErrno(errno, folder.string());
    // The cache sub-folder, if any: opened without following a link.
    const std::filesystem::path subName = relative.parent_path();
    TFd sub(subName.empty() ? -1
                            : ::openat(top.Get(), subName.c_str(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!subName.empty() && sub.Get() < 0) {
        if (errno == ENOENT)
            return {};
        if (errno == ELOOP || errno == ENOTDIR)
            return TError::Message((folder / subName).string() +
                                       ": the cache folder is a symbolic link or no folder; "
                                       "nothing outside the cache is touched",
                                   ELOOP);
        return TError::FromErrno(errno, (folder / subName).string());
    }
    const int dir = subName.empty() ? top.Get() : sub.Get();
    const std::filesystem::path name = relative.filename();
    struct stat st {};
    if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? TError{} : TError::FromErrno(errno, local.string());
    if (st.st_dev == index.st_dev && st.st_ino == index.st_ino)
        return {}; // the index itself is nobody's cached file
    if (S_ISDIR(st.st_mode))
        return TError::FromErrno(EISDIR, local.string());
    if (S_ISLNK(st.st_mode))
        return TError::Message(local.string() + ": a symbolic link, not a cached file", ELOOP);
    if (!S_ISREG(st.st_mode))
        return TError::Message(local.string() + ": not a regular file, so no cached file", EINVAL);
    if (::unlinkat(dir, name.c_str(), 0) != 0 && errno != ENOENT)
        return TError::FromErrno(errno, local.string());
    return {};
}

} // namespace

TError DeleteIndexDatEntry(const std::filesystem::path& indexFile, std::string_view url,
                           const TIndexDatDeleteOptions& options) {
    const std::string where = indexFile.string();
    int fd = -1;
    struct stat st {};
    TError opened = OpenLocked(indexFile, options, fd, st);
    TFd file(fd);
    if (opened)
        return opened;
    std::string before;
    int e = 0;
    if (!ReadAll(file.Get(), before, e))
        return e == EBADMSG ? TError::Message(where + ": too large for an index.dat")
                            : TError::FromErrno(e, where);
    // An index that breaks the rules already is not touched: it is not ours
    // to judge which of its counts is the wrong one.
    if (TError broken = CheckIndexDatInvariants(before))
        return TError::Message(where + ": the index is damaged (" + broken.Text() +
                               "); it is only read, never written; nothing changed");

    const TIndexDatView view(before);
    // Nor is one that a reader had to recover: what it lost may still be
    // referred to from the parts that look sound. Said after what is wrong
    // with the entry itself, which is the more useful reason.
    std::size_t rejected = 0;
    for (const auto& live : view.LiveUrlItems(&rejected)) {
        TIndexDatRecord r;
        rejected += view.DecodeUrlRecord(live.RecordOffset, r) ? 0 : 1;
    }
    const TIndexDatDamage damage = view.AssessDamage(rejected);
    auto damaged = [&] {
        return TError::Message(where + ": the index is damaged (" + damage.Problems.front() +
                               "); it is only read, never written; nothing changed");
    };

    TIndexDatItem item;
    TIndexDatRecord record;
    if (!FindEntry(view, url, item) || !view.DecodeUrlRecord(item.RecordOffset, record))
        return damage.Damaged() ? damaged() : TError::FromErrno(ENOENT, AnsiToUtf8(url));
    if ((item.Key & kIdxHashLocked) != 0 || record.UseCount != 0) {
        const std::uint64_t now = FileTimeToU64(GetSystemTimeAsFileTime());
        const std::uint64_t access = FileTimeToU64(record.LastAccess);
        if (access <= now && now - access < kStaleLockTicks)
            return TError::FromErrno(EBUSY, AnsiToUtf8(url));
    }

    TIndexDatImage image;
    if (TError loaded = image.Load(before))
        return TError::Message(where + ": " + loaded.Text());
    if (TError removed = image.RemoveRecord(item.RecordOffset))
        return TError::Message(where + ": " + removed.Text() + "; nothing changed", removed.Code());
    if (damage.Damaged())
        return damaged();

    const std::string& after = image.Bytes();
    if (after.size() != before.size() || CheckIndexDatInvariants(after))
        return TError::Message(where + ": the change would break the index; nothing changed");

    // The cached file goes first, as in WinINet: when that fails, nothing has
    // changed.
    if (TError failed = DeleteCachedFile(view, indexFile, record, st))
        return failed;

    // Changed bytes outside the header (the hash items) first: after that
    // write alone the entry is gone and the index still keeps every rule
    // (its blocks merely stay allocated). Then the header span from the
    // first to the last changed byte (counts and bitmap) in one write.
    std::size_t headFirst = kIdxHeaderSize, headLast = 0;
    for (std::size_t i = 0; i < kIdxHeaderSize; ++i) {
        if (before[i] != after[i]) {
            headFirst = std::min(headFirst, i);
            headLast = i;
        }
    }
    for (std::size_t i = kIdxHeaderSize; i < after.size();) {
        if (before[i] == after[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < after.size() && before[j] != after[j])
            ++j;
        if (!WriteAt(file.Get(), std::string_view(after).substr(i, j - i), i, e))
            return TError::FromErrno(e, where);
        i = j;
    }
    if (headFirst <= headLast &&
        !WriteAt(file.Get(), std::string_view(after).substr(headFirst, headLast - headFirst + 1),
                 headFirst, e))
        return TError::FromErrno(e, where);
    if (::fdatasync(file.Get()) != 0)
        return TError::FromErrno(errno, where);
    return {};
}

} // namespace tarnhold
