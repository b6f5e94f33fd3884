// Files and folders. Every function reports failure by its result and, where
// asked, the errno value (for GetSystemErrorText); none throws.
#pragma once

#include "platform/error.h"
#include "platform/filetime.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tarnhold {

namespace fs = std::filesystem;

// A file descriptor that is closed with its owner.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) noexcept : fd_(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : fd_(other.Release()) {}
    TFd& operator=(TFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Hands the descriptor over without closing it.
    int Release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor held (if any) and holds fd instead.
    void Reset(int fd = -1) noexcept;
    // Closes the descriptor now: 0, or the errno value of a failed close
    // (a write the kernel could not complete may only show here).
    int Close() noexcept;

private:
    int fd_ = -1;
};

// ReadAt's offset for reading from the descriptor's own position (read
// instead of pread): a pipe or a terminal has no offsets.
inline constexpr std::uint64_t kAtPosition = std::numeric_limits<std::uint64_t>::max();

// Reads up to size bytes into buffer, from offset (or from the descriptor's
// position for kAtPosition), going on after interruptions and short reads
// until size bytes are in or the file ends; never more than size. The count
// read, short only at the end of the file, or -1 with errno set.
[[nodiscard]] ssize_t ReadAt(int fd, void* buffer, std::size_t size, std::uint64_t offset);

// Reads the whole file into out. On failure out is empty.
bool ReadWholeFile(const fs::path& file, std::string& out, int* error = nullptr);
// Reads at most limit bytes of a regular file into out, in pieces, stopping
// early once enough(out) says so. Anything else (a folder, a FIFO, a device)
// is refused without being read or waited on, so that a file from a cache
// that is a link to /dev/zero or a pipe can neither exhaust memory nor hang
// the reader.
[[nodiscard]] TError ReadRegularFile(const fs::path& file, std::string& out,
                                     std::size_t limit = std::numeric_limits<std::size_t>::max(),
                                     const std::function<bool(std::string_view)>& enough = {});
// Writes all of data to fd, going on after interruptions; false (errno set)
// on a failed write.
bool WriteAllToFd(int fd, std::string_view data);
// Writes data to a new file beside the target, flushes it and renames it over
// the target, so that a crash mid-write leaves either the old or the new file,
// never a truncated one. A regular file that is replaced keeps its permission
// bits. A symbolic link at the name is replaced, not followed; to write
// through one, resolve it first (ResolveFileLinks).
bool WriteFileAtomic(const fs::path& file, std::string_view data, int* error = nullptr);
// Where a file that is to be replaced really lies: the file itself, or the end
// of the chain of symbolic links at its name (a relative link read from the
// link's folder), so that the link stays a link. The end need not exist yet.
// Refused: a loop or a chain of more than 40 links (ELOOP), and an end that
// is not a regular file (a folder, a device, a FIFO).
[[nodiscard]] TError ResolveFileLinks(const fs::path& file, fs::path& target);
bool DeleteFileIfExists(const fs::path& file, int* error = nullptr);

bool FileExists(const fs::path& file);     // a regular file (or link to one)
bool DirectoryExists(const fs::path& dir); // a folder (or link to one)
// Creates the folder with all missing parents; true if it exists afterwards.
bool ForceDirectories(const fs::path& dir, int* error = nullptr);

// Last-write time (mtime) as a UTC FILETIME.
bool GetFileTimeUtc(const fs::path& file, FILETIME& utc, int* error = nullptr);
bool SetFileTimeUtc(const fs::path& file, const FILETIME& utc, int* error = nullptr);

// The file's last-write time converted to local file time. The output is set to
// zero first; false if the file cannot be examined.
bool GetFileLastWriteTime(const fs::path& file, FILETIME& local);

} // namespace tarnhold
