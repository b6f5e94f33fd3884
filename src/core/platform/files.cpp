#include "platform/files.h"

#include "platform/error.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhold {

namespace {

void SetError(int* error, int value) {
    if (error != nullptr)
        *error = value;
}

// A name beside the target that no other writer uses at the same time.
fs::path TemporarySibling(const fs::path& file) {
    static thread_local unsigned counter = 0;
    return fs::path(file.native() + ".tmp" + std::to_string(::getpid()) + "-" +
                    std::to_string(++counter));
}

} // namespace

bool WriteAllToFd(int fd, std::string_view data) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

void TFd::Reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd)
        ::close(fd_);
    fd_ = fd;
}

int TFd::Close() noexcept {
    if (fd_ < 0)
        return 0;
    const int result = ::close(Release());
    return result == 0 ? 0 : errno;
}

ssize_t ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = offset == kAtPosition ? ::read(fd, out + done, size - done)
                                                : ::pread(fd, out + done, size - done,
                                                          static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool ReadWholeFile(const fs::path& file, std::string& out, int* error) {
    out.clear();
    TFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        SetError(error, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || S_ISDIR(st.st_mode)) {
        SetError(error, S_ISDIR(st.st_mode) ? EISDIR : errno);
        return false;
    }
    if (st.st_size > 0)
        out.reserve(static_cast<std::size_t>(st.st_size));
    // A pipe or a terminal is read from its position as it comes.
    const bool seekable = S_ISREG(st.st_mode);
    char buf[65536];
    for (;;) {
        const ssize_t n = ReadAt(fd.Get(), buf, sizeof buf, seekable ? out.size() : kAtPosition);
        if (n < 0) {
            SetError(error, errno);
            out.clear();
            return false;
        }
        out.append(buf, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < sizeof buf)
            return true;
    }
}

TError ReadRegularFile(const fs::path& file, std::string& out, std::size_t limit,
                       const std::function<bool(std::string_view)>& enough) {
    out.clear();
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    TFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid())
        return TError::FromErrno(errno, file.string());
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0)
        return TError::FromErrno(errno, file.string());
    if (!S_ISREG(st.st_mode))
        return TError::Message(file.string() + ": not a regular file",
                               S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    if (st.st_size > 0)
        out.reserve(std::min(limit, static_cast<std::size_t>(st.st_size)));
    char buf[16384];
    while (out.size() < limit) {
        const std::size_t want = std::min(sizeof buf, limit - out.size());
        const ssize_t n = ReadAt(fd.Get(), buf, want, out.size());
        if (n < 0) {
            const int error = errno;
            out.clear();
            return TError::FromErrno(error, file.string());
        }
        out.append(buf, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < want || (enough && enough(out)))
            break;
    }
    return {};
}

bool WriteFileAtomic(const fs::path& file, std::string_view data, int* error) {
    fs::path temp = TemporarySibling(file);
    // The new file is never readable by more than the old one, not even
    // before its mode is set (the umask may have taken bits away).
    struct stat old {};
    const bool replaces = ::lstat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const mode_t mode = replaces ? (old.st_mode & 0777) : 0666;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        SetError(error, errno);
        return false;
    }
    // Some file systems have no modes to set: the file is written all the same.
    if (replaces)
        (void)::fchmod(fd, mode);
    bool ok = WriteAllToFd(fd, data) && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temp.c_str(), file.c_str()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        SetError(error, saved);
    }
    return ok;
}

TError ResolveFileLinks(const fs::path& file, fs::path& target) {
    constexpr int kMaxLinks = 40;
    target = file;
    for (int links = 0;; ++links) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0) {
            if (errno == ENOENT)
                return {}; // made by the write (its folder must exist)
            return TError::FromErrno(errno, target.string());
        }
        if (S_ISREG(st.st_mode))
            return {};
        if (!S_ISLNK(st.st_mode))
            return TError::Message(target.string() + ": not a regular file",
                                   S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        if (links == kMaxLinks)
            return TError::FromErrno(ELOOP, file.string());
        std::string text(4096, '\0');
        for (;;) {
            const ssize_t n = ::readlink(target.c_str(), text.data(), text.size());
            if (n < 0)
                return TError::FromErrno(errno, target.string());
            if (static_cast<std::size_t>(n) < text.size()) {
                text.resize(static_cast<std::size_t>(n));
                break;
            }
            if (text.size() >= 65536)
                return TError::FromErrno(ENAMETOOLONG, target.string());
            text.resize(text.size() * 2);
        }
        const fs::path next(text);
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
}

bool DeleteFileIfExists(const fs::path& file, int* error) {
    if (::unlink(file.c_str()) == 0 || errno == ENOENT)
        return true;
    SetError(error, errno);
    return false;
}

bool FileExists(const fs::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const fs::path& dir) {
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const fs::path& dir, int* error) {
    if (dir.empty())
        return true;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (DirectoryExists(dir))
        return true;
    SetError(error, ec ? ec.value() : ENOTDIR);
    return false;
}

bool GetFileTimeUtc(const fs::path& file, FILETIME& utc, int* error) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        SetError(error, errno);
        return false;
    }
    utc = UnixTimeToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    return true;
}

bool SetFileTimeUtc(const fs::path& file, const FILETIME& utc, int* error) {
    std::uint64_t ticks = FileTimeToU64(utc);
    std::int64_t seconds = FileTimeToUnixSeconds(utc);
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // leave the access time
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>((ticks % kFileTimeTicksPerSecond) * 100);
    if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) {
        SetError(error, errno);
        return false;
    }
    return true;
}

bool GetFileLastWriteTime(const fs::path& file, FILETIME& local) {
    local = FILETIME{};
    FILETIME utc;
    if (!GetFileTimeUtc(file, utc))
        return false;
    return FileTimeToLocalFileTime(utc, local);
}

} // namespace tarnhold
