#include "cache/indexdatsource.h"

#include "cache/indexdatdeleter.h"
#include "platform/codepage.h"
#include "platform/files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The first bytes of the file, no more than the largest index can have.
// Only a regular file is read: a FIFO would block, a device never end.
TError ReadIndexSnapshot(const std::filesystem::path& file, std::string& out) {
    out.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return TError::FromErrno(errno, file.string());
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        ::close(fd);
        if (S_ISDIR(st.st_mode))
            return TError::FromErrno(EISDIR, file.string());
        if (st.st_mode == 0)
            return TError::FromErrno(error, file.string());
        return TError::Message(file.string() +
                               ": not a regular file, so not an Internet Explorer cache index "
                               "(index.dat)");
    }
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(st.st_size, kIdxMaxFileSize));
    out.resize(want);
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            out.clear();
            return TError::FromErrno(error, file.string());
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(done);
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
bool UrlsAreUtf8(const TIndexDatView& view, const std::vector<TIndexDatItem>& items,
                 std::size_t from) {
    const std::string_view data = view.Data();
    bool any = false;
    for (std::size_t i = from; i < items.size(); ++i) {
        const TIndexDatItem& item = items[i];
        // LiveUrlItems checked that the record lies in the file.
        const std::size_t size = std::size_t{GetU32(data, item.RecordOffset + 4)} * kIdxBlockSize;
        const std::string_view record = data.substr(item.RecordOffset, size);
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

void TIndexDatSource::SetLockWait(std::chrono::milliseconds wait, std::function<void()> onWaiting) {
    deleteOptions_.LockWait = wait;
    deleteOptions_.OnWaiting = std::move(onWaiting);
}

bool TIndexDatSource::First(TRawCacheEntry& entry) {
    Close();
    skipped_ = 0;
    utf8_ = TUtf8::Unknown;
    if (TError error = ReadIndexSnapshot(indexFile_, data_)) {
        error_ = std::move(error);
        return false;
    }
    TIndexDatView view(data_);
    if (!view.Valid()) {
        data_.clear();
        error_ = TError::Message(indexFile_.string() +
                                 ": not an Internet Explorer cache index (index.dat)");
        return false;
    }
    error_ = {};
    items_ = view.LiveUrlItems(&skipped_);
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
    next_ = 0;
}

TError TIndexDatSource::Error() const {
    return error_;
}

TError TIndexDatSource::DeleteEntry(std::string_view url) {
    return DeleteIndexDatEntry(indexFile_, url, deleteOptions_);
}

std::string TIndexDatSource::Describe() const {
    return indexFile_.string();
}

} // namespace tarnhold
