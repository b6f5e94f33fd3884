#include "cache/indexdatdeleter.h"

#include "cache/indexdat.h"
#include "cache/indexdatsource.h"
#include "cache/indexdatwriter.h"
#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhold {

namespace {

// A lock older than this is left over from a client that is gone (Wine's rule).
constexpr std::uint64_t kStaleLockTicks = 24ULL * 3600 * kFileTimeTicksPerSecond;

class TLockedFile {
public:
    explicit TLockedFile(const std::filesystem::path& file) {
        fd_ = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~TLockedFile() {
        if (fd_ >= 0)
            ::close(fd_); // releases the lock
    }
    TLockedFile(const TLockedFile&) = delete;
    TLockedFile& operator=(const TLockedFile&) = delete;

    int Fd() const { return fd_; }
    int Error() const { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

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
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
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

bool Fail(int* error, int value) {
    if (error != nullptr)
        *error = value;
    return false;
}

} // namespace

bool DeleteIndexDatEntry(const std::filesystem::path& indexFile, std::string_view url, int* error) {
    TLockedFile file(indexFile);
    if (file.Fd() < 0)
        return Fail(error, file.Error());
    std::string before;
    int e = 0;
    if (!ReadAll(file.Fd(), before, e))
        return Fail(error, e);
    // An index that breaks the rules already is not touched: it is not ours
    // to judge which of its counts is the wrong one.
    if (!CheckIndexDatInvariants(before))
        return Fail(error, EBADMSG);

    const TIndexDatView view(before);
    TIndexDatItem item;
    TIndexDatRecord record;
    if (!view.FindUrl(url, item) || !view.DecodeUrlRecord(item.RecordOffset, record))
        return Fail(error, ENOENT);
    if ((item.Key & kIdxHashLocked) != 0 || record.UseCount != 0) {
        const std::uint64_t now = FileTimeToU64(GetSystemTimeAsFileTime());
        const std::uint64_t access = FileTimeToU64(record.LastAccess);
        if (access <= now && now - access < kStaleLockTicks)
            return Fail(error, EBUSY);
    }

    TIndexDatImage image;
    if (!image.Load(before) || !image.RemoveItem(item))
        return Fail(error, EBADMSG);
    const std::string& after = image.Bytes();
    if (after.size() != before.size() || !CheckIndexDatInvariants(after))
        return Fail(error, EBADMSG);

    // The cached file goes first, as in WinINet: when that fails, nothing has
    // changed. One that is missing already is fine.
    const std::filesystem::path local = IndexDatLocalPath(view, indexFile.parent_path(), record);
    if (!local.empty()) {
        int fileError = 0;
        if (!DeleteFileIfExists(local, &fileError))
            return Fail(error, fileError != 0 ? fileError : EIO);
    }

    // Changed bytes outside the header (the hash item) first: after that
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
        if (!WriteAt(file.Fd(), std::string_view(after).substr(i, j - i), i, e))
            return Fail(error, e);
        i = j;
    }
    if (headFirst <= headLast &&
        !WriteAt(file.Fd(), std::string_view(after).substr(headFirst, headLast - headFirst + 1),
                 headFirst, e))
        return Fail(error, e);
    if (::fdatasync(file.Fd()) != 0)
        return Fail(error, errno);
    return true;
}

} // namespace tarnhold
