#include "cache/indexdatsource.h"

#include "cache/indexdatdeleter.h"
#include "platform/codepage.h"
#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnhold {

namespace {

bool IsAscii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

bool IsSafeComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos;
}

// A name from the index as a path component. Pure ASCII is the same either
// way; otherwise the spelling that exists on disk wins, else the one the
// writer of the file uses (Wine: UTF-8, Internet Explorer: the ANSI code page).
std::filesystem::path NameComponent(const std::filesystem::path& parent, std::string_view name,
                                    TIndexDatSignature signature) {
    if (IsAscii(name))
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

// The first bytes of the file, no more than the largest index can have: a
// path that names something else (a huge file, a device) costs nothing.
bool ReadIndexSnapshot(const std::filesystem::path& file, std::string& out, int& error) {
    out.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return false;
    }
    std::size_t want = kIdxMaxFileSize;
    if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) < want)
        want = static_cast<std::size_t>(st.st_size);
    out.resize(want);
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            ::close(fd);
            out.clear();
            return false;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(done);
    return true;
}

} // namespace

std::filesystem::path ResolveIndexDatPath(const std::filesystem::path& path) {
    if (DirectoryExists(path))
        return path / "index.dat";
    return path;
}

std::filesystem::path IndexDatLocalPath(const TIndexDatView& view,
                                        const std::filesystem::path& folder,
                                        const TIndexDatRecord& record) {
    if (!IsSafeComponent(record.FileName))
        return {};
    std::filesystem::path dir = folder;
    if (record.DirIndex != kUrlNoSubDirectory) {
        std::string_view dirName = view.DirName(record.DirIndex);
        if (dirName.empty())
            return {};
        dir /= NameComponent(folder, dirName, view.Signature());
    }
    return dir / NameComponent(dir, record.FileName, view.Signature());
}

TIndexDatSource::TIndexDatSource(std::filesystem::path path)
    : indexFile_(ResolveIndexDatPath(path)), folder_(indexFile_.parent_path()) {}

bool TIndexDatSource::First(TRawCacheEntry& entry) {
    Close();
    int error = 0;
    if (!ReadIndexSnapshot(indexFile_, data_, error)) {
        lastError_ = error;
        return false;
    }
    TIndexDatView view(data_);
    if (!view.Valid()) {
        data_.clear();
        lastError_ = EBADMSG;
        return false;
    }
    lastError_ = 0;
    skipped_ = 0;
    items_ = view.LiveUrlItems();
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
        TIndexDatRecord r;
        if (!view.DecodeUrlRecord(items_[next_++].RecordOffset, r)) {
            ++skipped_;
            continue;
        }
        entry.Url.assign(r.Url);
        entry.LocalFileName = IndexDatLocalPath(view, folder_, r).native();
        entry.EntryType = r.EntryType;
        entry.LastModified = r.LastModified;
        entry.Size = r.Size;
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
    next_ = 0;
}

TError TIndexDatSource::Error() const {
    if (lastError_ == 0)
        return {};
    if (lastError_ == EBADMSG)
        return TError::Message(indexFile_.string() +
                               ": not an Internet Explorer cache index (index.dat)");
    return TError::FromErrno(lastError_, indexFile_.string());
}

TError TIndexDatSource::DeleteEntry(std::string_view url) {
    int error = 0;
    bool ok = DeleteIndexDatEntry(indexFile_, url, &error);
    lastError_ = ok ? 0 : error;
    if (ok)
        return {};
    if (error == EBADMSG)
        return TError::Message(indexFile_.string() +
                               ": not an index.dat that can be changed safely (it breaks the "
                               "rules of the format)");
    return TError::FromErrno(error);
}

std::string TIndexDatSource::Describe() const {
    return indexFile_.string();
}

} // namespace tarnhold
