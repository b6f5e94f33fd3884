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

namespace {

// Reads what is left of fd into out (which holds nothing yet) and closes it.
bool ReadRest(int fd, std::string& out, int* error) {
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            SetError(error, errno);
            ::close(fd);
            out.clear();
            return false;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

} // namespace

bool ReadWholeFile(const fs::path& file, std::string& out, int* error) {
    out.clear();
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetError(error, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        SetError(error, S_ISDIR(st.st_mode) ? EISDIR : errno);
        ::close(fd);
        return false;
    }
    if (st.st_size > 0)
        out.reserve(static_cast<std::size_t>(st.st_size));
    return ReadRest(fd, out, error);
}

TError ReadRegularFile(const fs::path& file, std::string& out, std::size_t limit,
                       const std::function<bool(std::string_view)>& enough) {
    out.clear();
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return TError::FromErrno(errno, file.string());
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        return TError::FromErrno(error, file.string());
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return TError::Message(file.string() + ": not a regular file",
                               S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    }
    if (st.st_size > 0)
        out.reserve(std::min(limit, static_cast<std::size_t>(st.st_size)));
    char buf[16384];
    while (out.size() < limit) {
        std::size_t want = std::min(sizeof buf, limit - out.size());
        ssize_t n = ::read(fd, buf, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int error = errno;
            ::close(fd);
            out.clear();
            return TError::FromErrno(error, file.string());
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
        if (enough && enough(out))
            break;
    }
    ::close(fd);
    return {};
}

bool WriteWholeFile(const fs::path& file, std::string_view data, int* error) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        SetError(error, errno);
        return false;
    }
    bool ok = WriteAllToFd(fd, data);
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok)
        SetError(error, saved);
    return ok;
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

bool CopyFileOverwrite(const fs::path& from, const fs::path& to, int* error) {
    fs::path temp = TemporarySibling(to);
    std::error_code ec;
    if (!fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec)) {
        fs::remove(temp, ec);
        SetError(error, ec ? ec.value() : EIO);
        return false;
    }
    if (::rename(temp.c_str(), to.c_str()) != 0) {
        SetError(error, errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
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
