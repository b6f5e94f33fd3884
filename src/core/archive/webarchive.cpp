#include "archive/webarchive.h"

#include "archive/warcwriter.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/cachebody.h"
#include "sources/firefox/firefoxcache.h"
#include "tree/cachelisting.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <zip.h>

namespace tarnhold {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWarcName = "data.warc.gz";
constexpr const char* kRevisitProfile =
    "http://netpreserve.org/warc/1.1/revisit/identical-payload-digest";
// A body is held in memory up to this size; a larger one goes to a
// temporary file beside the target.
constexpr std::size_t kPayloadInMemory = 8u << 20;
constexpr std::size_t kPiece = 256 * 1024;

// ---------------------------------------------------------------------------
// Outputs

// A file open for writing, written through a buffer.
class TFdOutput : public TArchiveOutput {
public:
    explicit TFdOutput(int fd) : fd_(fd) { buffer_.reserve(kPiece); }
    bool Write(std::string_view data) override {
        if (error_)
            return false;
        if (buffer_.size() + data.size() > kPiece && !Flush())
            return false;
        if (data.size() >= kPiece)
            return Put(data);
        buffer_.append(data);
        return true;
    }
    bool Flush() {
        if (buffer_.empty())
            return !error_;
        const bool ok = Put(buffer_);
        buffer_.clear();
        return ok;
    }
    TError Error() const override { return error_; }

private:
    bool Put(std::string_view data) {
        if (!WriteAllToFd(fd_, data)) {
            error_ = TError::FromErrno(errno != 0 ? errno : EIO);
            return false;
        }
        return true;
    }
    int fd_;
    std::string buffer_;
    TError error_;
};

// minizip writes through these, onto the file we opened: it never opens a
// path of its own.
struct TZipFile {
    int Fd = -1;
    int Errno = 0;
};

voidpf ZipOpen(voidpf opaque, const void*, int) {
    return opaque;
}
uLong ZipRead(voidpf, voidpf, void*, uLong) {
    return 0;
}
uLong ZipWrite(voidpf, voidpf stream, const void* buf, uLong size) {
    auto* f = static_cast<TZipFile*>(stream);
    if (!WriteAllToFd(f->Fd, std::string_view(static_cast<const char*>(buf), size))) {
        f->Errno = errno != 0 ? errno : EIO;
        return 0;
    }
    return size;
}
ZPOS64_T ZipTell(voidpf, voidpf stream) {
    auto* f = static_cast<TZipFile*>(stream);
    const off_t at = ::lseek(f->Fd, 0, SEEK_CUR);
    return at < 0 ? static_cast<ZPOS64_T>(-1) : static_cast<ZPOS64_T>(at);
}
long ZipSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* f = static_cast<TZipFile*>(stream);
    const int whence = origin == ZLIB_FILEFUNC_SEEK_SET   ? SEEK_SET
                       : origin == ZLIB_FILEFUNC_SEEK_END ? SEEK_END
                                                          : SEEK_CUR;
    return ::lseek(f->Fd, static_cast<off_t>(offset), whence) < 0 ? -1 : 0;
}
int ZipClose(voidpf, voidpf) {
    return 0; // the file is ours to close
}
int ZipError(voidpf, voidpf stream) {
    return static_cast<TZipFile*>(stream)->Errno;
}

// A ZIP file whose entries are stored, not compressed: the WARC is
// compressed already, and replay tools read it by ranges.
class TZipWriter {
public:
    TZipWriter(int fd, const FILETIME& now) {
        file_.Fd = fd;
        zlib_filefunc64_def funcs{};
        funcs.zopen64_file = ZipOpen;
        funcs.zread_file = ZipRead;
        funcs.zwrite_file = ZipWrite;
        funcs.ztell64_file = ZipTell;
        funcs.zseek64_file = ZipSeek;
        funcs.zclose_file = ZipClose;
        funcs.zerror_file = ZipError;
        funcs.opaque = &file_;
        zip_ = zipOpen2_64("", APPEND_STATUS_CREATE, nullptr, &funcs);
        FILETIME local{};
        SYSTEMTIME st{};
        if (FileTimeToLocalFileTime(now, local) && FileTimeToSystemTime(local, st)) {
            info_.tmz_date.tm_year = st.wYear;
            info_.tmz_date.tm_mon = st.wMonth - 1u;
            info_.tmz_date.tm_mday = st.wDay;
            info_.tmz_date.tm_hour = st.wHour;
            info_.tmz_date.tm_min = st.wMinute;
            info_.tmz_date.tm_sec = st.wSecond;
        }
    }
    ~TZipWriter() {
        if (zip_ != nullptr)
            zipClose(zip_, nullptr);
    }
    TZipWriter(const TZipWriter&) = delete;
    TZipWriter& operator=(const TZipWriter&) = delete;

    bool Ok() const { return zip_ != nullptr && file_.Errno == 0; }
    bool Open(const char* name, bool large) {
        return zip_ != nullptr && zipOpenNewFileInZip64(zip_, name, &info_, nullptr, 0, nullptr, 0,
                                                        nullptr, 0, 0, large ? 1 : 0) == ZIP_OK;
    }
    bool Write(std::string_view data) {
        while (!data.empty()) {
            const std::size_t n = std::min<std::size_t>(data.size(), 1u << 30);
            if (zipWriteInFileInZip(zip_, data.data(), static_cast<unsigned>(n)) != ZIP_OK)
                return false;
            data.remove_prefix(n);
        }
        return true;
    }
    bool CloseEntry() { return zipCloseFileInZip(zip_) == ZIP_OK; }
    bool Add(const char* name, std::string_view data) {
        return Open(name, false) && Write(data) && CloseEntry();
    }
    bool Finish() {
        const int rc = zipClose(zip_, nullptr);
        zip_ = nullptr;
        return rc == ZIP_OK && file_.Errno == 0;
    }
    TError Error(std::string_view what) const {
        return TError::FromErrno(file_.Errno != 0 ? file_.Errno : EIO, what);
    }

private:
    TZipFile file_;
    zipFile zip_ = nullptr;
    zip_fileinfo info_{};
};

class TZipEntryOutput : public TArchiveOutput {
public:
    explicit TZipEntryOutput(TZipWriter& zip) : zip_(zip) {}
    bool Write(std::string_view data) override {
        if (!zip_.Write(data)) {
            failed_ = true;
            return false;
        }
        return true;
    }
    TError Error() const override {
        return failed_ ? zip_.Error("the archive could not be written") : TError();
    }

private:
    TZipWriter& zip_;
    bool failed_ = false;
};

// ---------------------------------------------------------------------------
// Bodies

// A body as it is read, held in memory up to kPayloadInMemory and beyond
// that in an unnamed temporary file, with its SHA-1.
class TPayload : public TBodySink {
public:
    explicit TPayload(fs::path folder) : folder_(std::move(folder)) {}
    TPayload(const TPayload&) = delete;
    TPayload& operator=(const TPayload&) = delete;

    void Clear() {
        memory_.clear();
        size_ = 0;
        sha1_.Reset();
        inFile_ = false;
        error_ = {};
    }
    bool Write(std::string_view piece) override {
        sha1_.Update(piece);
        size_ += piece.size();
        if (!inFile_ && memory_.size() + piece.size() <= kPayloadInMemory) {
            memory_.append(piece);
            return true;
        }
        if (!inFile_) {
            if (!OpenFile())
                return false;
            inFile_ = true;
            if (!WriteAllToFd(fd_.Get(), memory_))
                return Failed();
            memory_.clear();
            memory_.shrink_to_fit();
        }
        return WriteAllToFd(fd_.Get(), piece) || Failed();
    }
    bool Restart() override {
        Clear();
        return true;
    }
    std::uint64_t Size() const { return size_; }
    std::string Sha1() { return sha1_.Digest(); }
    const TError& WriteError() const { return error_; }
    // The body in pieces, to f; false when f refuses one or the file cannot
    // be read back.
    template <class F> bool Each(F&& f) {
        if (!inFile_)
            return f(std::string_view(memory_));
        std::string piece(kPiece, '\0');
        for (std::uint64_t at = 0; at < size_;) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size_ - at));
            const ssize_t n = ReadAt(fd_.Get(), piece.data(), want, at);
            if (n <= 0) {
                error_ = TError::FromErrno(n < 0 ? errno : EIO, "a temporary file");
                return false;
            }
            if (!f(std::string_view(piece.data(), static_cast<std::size_t>(n))))
                return false;
            at += static_cast<std::uint64_t>(n);
        }
        return true;
    }

private:
    bool OpenFile() {
        if (fd_.Valid())
            return (::ftruncate(fd_.Get(), 0) == 0 && ::lseek(fd_.Get(), 0, SEEK_SET) == 0) ||
                   Failed();
        fd_.Reset(::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
        if (!fd_.Valid()) {
            std::string pattern = (folder_ / ".tarnhold-body-XXXXXX").native();
            fd_.Reset(::mkostemp(pattern.data(), O_CLOEXEC));
            if (fd_.Valid())
                ::unlink(pattern.c_str());
        }
        return fd_.Valid() || Failed();
    }
    bool Failed() {
        error_ = TError::FromErrno(errno != 0 ? errno : EIO, "a temporary file");
        return false;
    }

    fs::path folder_;
    std::string memory_;
    std::uint64_t size_ = 0;
    TSha1 sha1_;
    TFd fd_;
    bool inFile_ = false;
    TError error_;
};

// Bodies that compress no further: they are stored in their gzip member.
bool IsCompressed(std::string_view mediaType) {
    if (mediaType.substr(0, 6) == "image/")
        return mediaType != "image/svg+xml" && mediaType != "image/bmp" &&
               mediaType != "image/x-icon" && mediaType != "image/vnd.microsoft.icon";
    return mediaType.substr(0, 6) == "video/" || mediaType.substr(0, 6) == "audio/" ||
           mediaType == "font/woff" || mediaType == "font/woff2" ||
           mediaType == "application/zip" || mediaType == "application/gzip" ||
           mediaType == "application/x-gzip" || mediaType == "application/pdf" ||
           mediaType == "application/wasm";
}

// Text for a warcinfo field: UTF-8 as it is; control characters and bytes
// that are no UTF-8 as "%XX".
std::string FieldText(std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = Utf8SequenceLength(s, i);
        if (c >= 0x20 && c != 0x7f && c != '%' && n > 0) {
            out.append(s.substr(i, n));
            i += n - 1;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// A JSON string of UTF-8 text (what is no UTF-8 becomes U+FFFD).
std::string JsonString(std::string_view s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7f) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (const std::size_t n = Utf8SequenceLength(s, i); n > 0) {
            out.append(s.substr(i, n));
            i += n - 1;
        } else {
            out += "\xEF\xBF\xBD";
        }
    }
    return out + "\"";
}

FILETIME LocalToUtc(const SYSTEMTIME& local) {
    FILETIME ft{}, utc{};
    if (!SystemTimeToFileTime(local, ft) || !LocalFileTimeToFileTime(ft, utc))
        return {};
    return utc;
}

// One entry to write: a node of the tree, or an older copy of its URL.
struct TItem {
    const TWebCacheTreeNode* Node = nullptr;
    std::string Url;
    std::string StoredHead;
    const TCachedBody* Body = nullptr;
    FILETIME Time{}; // UTC; zero when unknown
};

// What a revisit of a written response refers to.
struct TWritten {
    std::string RecordId;
    std::string Date;
};

struct TIndexLine {
    std::string Key; // "<SURT> <timestamp>"
    std::string Json;
};

class TExport {
public:
    TExport(TWebCacheTree& tree, const TArchiveOptions& options, TArchiveStats& stats,
            const fs::path& folder, TWarcWriter& warc, const FILETIME& now)
        : tree_(tree), options_(options), stats_(stats), warc_(warc), payload_(folder), now_(now) {
        const TCacheSource* source = tree.Cache().Source();
        kind_ = source != nullptr ? source->Kind() : TCacheKind::ckIndexDat;
        warcinfoId_ = NewWarcRecordId();
    }

    bool WriteWarcinfo() {
        const TCacheSource* source = tree_.Cache().Source();
        std::string fields = "software: Tarnhold " TARNHOLD_VERSION "\r\n"
                             "format: WARC File Format 1.1\r\n"
                             "conformsTo: http://iipc.github.io/warc-specifications/"
                             "specifications/warc-format/warc-1.1/\r\n";
        if (source != nullptr) {
            fields += "description: the ";
            fields += CacheKindName(source->Kind());
            fields += " cache at " + FieldText(source->Describe()) + "\r\n";
            fields += "cache-kind: ";
            fields += CacheKindName(source->Kind());
            fields += "\r\ncache-location: " + FieldText(source->Describe()) + "\r\n";
        }
        fields += std::string("bodies: ") + (options_.Decoded ? "decoded" : "as received") + "\r\n";
        fields += "exported: " + WarcDate(now_) + "\r\n";
        TSha1 block;
        block.Update(fields);
        return warc_.Begin("warcinfo", warcinfoId_, WarcDate(now_),
                           {{"WARC-Filename", kWarcName},
                            {"Content-Type", "application/warc-fields"},
                            {"WARC-Block-Digest", WarcSha1(block.Digest())}},
                           fields.size(), false) &&
               warc_.Block(fields) && warc_.End();
    }

    // Writes one entry: a response, or a revisit when an earlier copy of its
    // URL had the same payload. False when the archive could not be written
    // (a damaged entry is left out and counted, and returns true).
    bool Write(const TItem& item) {
        const std::string uri = EncodeTargetUri(item.Url);
        THttpHead head = ParseStoredHead(item.StoredHead);
        payload_.Clear();
        bool encoded = false; // the payload keeps a coding the head names
        if (item.Body != nullptr && !item.Body->LocalFileName.empty()) {
            TCachedBody body = *item.Body;
            const bool stored = !body.ContentEncoding.empty();
            if (!options_.Decoded)
                body.ContentEncoding.clear(); // the stored bytes as they are
            TBodyRead read;
            TError error = StreamCacheBody(body, payload_, &read);
            if (payload_.WriteError()) {
                failure_ = payload_.WriteError();
                return false;
            }
            if (error)
                return Skip(item.Url, error.Text());
            if (read.ChecksumFailed)
                return Skip(item.Url, "the body fails the checksum the cache keeps for it");
            encoded = stored && (!options_.Decoded || read.StoredAsIs);
            if (options_.Decoded && stored && read.StoredAsIs) {
                ++stats_.StoredAsIs;
                Note(item.Url, "its coding (" + FieldText(item.Body->ContentEncoding) +
                                   ") could not be undone: written as stored");
            }
        }
        const std::uint64_t size = payload_.Size();
        const std::string length = std::to_string(size);
        // The record's head says what its payload is: no chunking (the cache
        // holds the body de-chunked), the coding only when the bytes keep it,
        // and their length when the stored head named another.
        bool changed = head.Has("Transfer-Encoding");
        head.Remove("Transfer-Encoding");
        if (!encoded && head.Has("Content-Encoding")) {
            head.Remove("Content-Encoding");
            changed = true;
        }
        if (changed || (head.Has("Content-Length") && head.Value("Content-Length") != length))
            head.Set("Content-Length", length);
        const std::string headText = head.Text();

        const std::string digest = WarcSha1(payload_.Sha1());
        std::string date = WarcDate(RecordTime(item, head));
        // A URL may come more than once (a browser keeps one copy per site
        // that loaded it): a copy whose payload was written already is a
        // revisit of that response.
        const std::string seenKey = digest + " " + uri;
        const auto seen = written_.find(seenKey);
        const TWritten* same = seen != written_.end() ? &seen->second : nullptr;
        const std::string id = NewWarcRecordId();
        const std::string mediaType = MediaTypeOf(head.Value("Content-Type"));
        std::vector<std::pair<std::string, std::string>> fields{
            {"WARC-Target-URI", uri},
            {"WARC-Warcinfo-ID", warcinfoId_},
            {"Content-Type", "application/http; msgtype=response"}};
        bool ok = false;
        if (same != nullptr) {
            TSha1 block;
            block.Update(headText);
            fields.emplace_back("WARC-Profile", kRevisitProfile);
            fields.emplace_back("WARC-Refers-To", same->RecordId);
            fields.emplace_back("WARC-Refers-To-Target-URI", uri);
            fields.emplace_back("WARC-Refers-To-Date", same->Date);
            fields.emplace_back("WARC-Payload-Digest", digest);
            fields.emplace_back("WARC-Block-Digest", WarcSha1(block.Digest()));
            ok = warc_.Begin("revisit", id, date, fields, headText.size(), false) &&
                 warc_.Block(headText) && warc_.End();
            ++stats_.Revisits;
        } else {
            TSha1 block;
            block.Update(headText);
            if (!payload_.Each([&](std::string_view piece) {
                    block.Update(piece);
                    return true;
                })) {
                failure_ = payload_.WriteError();
                return false;
            }
            fields.emplace_back("WARC-Payload-Digest", digest);
            fields.emplace_back("WARC-Block-Digest", WarcSha1(block.Digest()));
            const bool store = size >= 512 && (encoded || IsCompressed(mediaType));
            ok = warc_.Begin("response", id, date, fields, headText.size() + size, store) &&
                 warc_.Block(headText) &&
                 payload_.Each([&](std::string_view piece) { return warc_.Block(piece); }) &&
                 warc_.End();
            if (!ok && payload_.WriteError()) {
                failure_ = payload_.WriteError();
                return false;
            }
            ++stats_.Responses;
            stats_.PayloadBytes += size;
        }
        if (!ok)
            return false;
        if (same == nullptr)
            written_.emplace(seenKey, TWritten{id, date});
        const std::string ts = WarcTimestamp(RecordTime(item, head));
        std::string json =
            "{\"url\": " + JsonString(uri) + ", \"mime\": " +
            JsonString(same != nullptr ? "warc/revisit" : (mediaType.empty() ? "unk" : mediaType)) +
            ", \"status\": \"" + std::to_string(head.Status) + "\", \"digest\": \"" + digest +
            "\", \"length\": \"" + std::to_string(warc_.RecordLength()) + "\", \"offset\": \"" +
            std::to_string(warc_.RecordOffset()) + "\", \"filename\": \"" + kWarcName + "\"}";
        index_.push_back({SurtKey(uri) + " " + ts, std::move(json)});
        // The pages a replay lists: the tree's HTML documents that were
        // answered with one.
        if (same == nullptr && item.Node != nullptr && head.Status >= 200 && head.Status < 300 &&
            IsHtmlEntry(item.Node->Info())) {
            const std::string title = ReadPageTitle(item.Node->Info()); // UTF-8
            pages_ += "{\"id\": \"" + id.substr(10, 36) + "\", \"url\": " + JsonString(uri) +
                      ", \"ts\": \"" + date + "\"";
            if (!title.empty())
                pages_ += ", \"title\": " + JsonString(title);
            pages_ += "}\n";
            ++stats_.Pages;
            if (firstPage_.empty()) {
                firstPage_ = uri;
                firstPageDate_ = date;
            }
        }
        return true;
    }

    // The index, sorted by SURT key and time, one CDXJ line per record.
    std::string IndexText() {
        std::stable_sort(index_.begin(), index_.end(),
                         [](const TIndexLine& a, const TIndexLine& b) { return a.Key < b.Key; });
        std::string text;
        for (const TIndexLine& line : index_)
            text += line.Key + " " + line.Json + "\n";
        return text;
    }
    std::string PagesText() const {
        return "{\"format\": \"json-pages-1.0\", \"id\": \"pages\", \"title\": \"All Pages\"}\n" +
               pages_;
    }
    const std::string& FirstPage() const { return firstPage_; }
    const std::string& FirstPageDate() const { return firstPageDate_; }
    const TError& Failure() const { return failure_; }

private:
    // When the browser stored the entry: a Chromium entry's own time is
    // that; other caches keep the document's time, and the response's Date
    // (when the server answered) is closer. Else the entry's time, else now.
    FILETIME RecordTime(const TItem& item, const THttpHead& head) const {
        if (kind_ != TCacheKind::ckChromium) {
            std::int64_t seconds = 0;
            if (ParseHttpDate(head.Value("Date"), seconds))
                return UnixTimeToFileTime(seconds);
        }
        return IsZeroFileTime(item.Time) ? now_ : item.Time;
    }
    bool Skip(std::string_view url, std::string_view why) {
        ++stats_.Skipped;
        Note(url, why);
        return true;
    }
    void Note(std::string_view url, std::string_view why) {
        stats_.Problems.push_back({std::string(url), std::string(why)});
    }

    TWebCacheTree& tree_;
    const TArchiveOptions& options_;
    TArchiveStats& stats_;
    TWarcWriter& warc_;
    TPayload payload_;
    FILETIME now_;
    TCacheKind kind_;
    std::string warcinfoId_;
    // The responses written, by payload digest and URI.
    std::unordered_map<std::string, TWritten> written_;
    std::vector<TIndexLine> index_;
    std::string pages_;
    std::string firstPage_;
    std::string firstPageDate_;
    TError failure_;
};

// The files at or below the nodes, each once, in the tree's order.
std::vector<const TWebCacheTreeNode*> FilesOf(const std::vector<TWebCacheTreeNode*>& nodes) {
    std::vector<const TWebCacheTreeNode*> files;
    std::unordered_set<const TWebCacheTreeNode*> seen;
    std::vector<const TWebCacheTreeNode*> stack;
    for (const TWebCacheTreeNode* node : nodes) {
        stack.push_back(node);
        while (!stack.empty()) {
            const TWebCacheTreeNode* n = stack.back();
            stack.pop_back();
            if (!seen.insert(n).second)
                continue;
            if (!n->IsFolder) {
                files.push_back(n);
                continue;
            }
            for (int i = n->Count() - 1; i >= 0; --i)
                stack.push_back(n->Items(i));
        }
    }
    return files;
}

// A new file beside target, open for writing: never an existing file, never
// through a link.
int CreateTemporary(const fs::path& target, std::string& name) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    name = (folder / ("." + target.filename().native() + ".XXXXXX")).native();
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        // As a new file is made: readable by whom the umask lets.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    return fd;
}

std::string Resource(std::string_view name, std::string_view path, std::string_view data) {
    TSha256 sha;
    sha.Update(data);
    return "{\"name\": \"" + std::string(name) + "\", \"path\": \"" + std::string(path) +
           "\", \"hash\": \"sha256:" + HexText(sha.Digest()) +
           "\", \"bytes\": " + std::to_string(data.size()) + "}";
}

} // namespace

TArchiveFormat ArchiveFormatOf(const fs::path& file) {
    const std::string name = AnsiLowerCase(file.filename().native());
    auto ends = [&](std::string_view suffix) {
        return name.size() > suffix.size() &&
               name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (ends(".warc.gz"))
        return TArchiveFormat::Warc;
    if (ends(".wacz"))
        return TArchiveFormat::Wacz;
    return TArchiveFormat::Unknown;
}

TError ExportWebArchive(TWebCacheTree& tree, const std::vector<TWebCacheTreeNode*>& nodes,
                        const fs::path& target, const TArchiveOptions& options,
                        TArchiveStats& stats, const TArchiveProgress& progress) {
    stats = {};
    const TArchiveFormat format = ArchiveFormatOf(target);
    if (format == TArchiveFormat::Unknown)
        return TError::Message(target.string() + ": the name ends neither in .warc.gz nor in .wacz",
                               EINVAL);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::vector<const TWebCacheTreeNode*> files = FilesOf(nodes);

    // The older copies of these URLs that a browser keeps under other keys.
    std::unordered_map<std::string, std::vector<TKeyedCopy>> copies;
    TKeyedEntries* keys =
        tree.Cache().Source() != nullptr ? tree.Cache().Source()->Keys() : nullptr;
    int total = static_cast<int>(files.size());
    if (keys != nullptr) {
        std::unordered_set<std::string_view> urls;
        for (const TWebCacheTreeNode* f : files)
            urls.insert(f->Info().Url);
        for (TKeyedCopy& copy : keys->UndeliveredCopies()) {
            if (urls.count(copy.Url) > 0) {
                copies[copy.Url].push_back(std::move(copy));
                ++total;
            }
        }
    }

    std::string tempName;
    const int fd = CreateTemporary(target, tempName);
    if (fd < 0)
        return TError::FromErrno(errno, folder.string());
    const FILETIME now = GetSystemTimeAsFileTime();
    TError error;
    {
        std::unique_ptr<TZipWriter> zip;
        std::unique_ptr<TArchiveOutput> out;
        if (format == TArchiveFormat::Wacz) {
            zip = std::make_unique<TZipWriter>(fd, now);
            // ZIP64 only where a file may pass 4 GiB: readers take it, but
            // a small archive has no need of it.
            std::uint64_t estimate = 0;
            for (const TWebCacheTreeNode* f : files)
                estimate += f->Info().BodyLength > 0
                                ? static_cast<std::uint64_t>(f->Info().BodyLength)
                                : f->Size();
            if (!copies.empty())
                estimate *= 2;
            if (!zip->Ok() || !zip->Open("archive/data.warc.gz", estimate > (2ull << 30)))
                error = zip->Error("the archive could not be started");
            out = std::make_unique<TZipEntryOutput>(*zip);
        } else {
            out = std::make_unique<TFdOutput>(fd);
        }
        TWarcWriter warc(*out);
        TExport exporter(tree, options, stats, folder, warc, now);
        auto written = [&](bool ok) {
            if (!ok && !error)
                error = exporter.Failure() ? exporter.Failure() : warc.Error();
            if (!ok && !error)
                error = TError::Message("the archive could not be written", EIO);
            return ok;
        };
        int done = 0;
        auto step = [&](const TWebCacheTreeNode* node) {
            ++done;
            if (progress && !progress(done, total, node, warc.Written())) {
                error = TError::Message("cancelled", ECANCELED);
                return false;
            }
            return true;
        };
        bool ok = !error && written(exporter.WriteWarcinfo());
        for (std::size_t i = 0; ok && i < files.size(); ++i) {
            const TWebCacheTreeNode* node = files[i];
            TItem item;
            item.Node = node;
            item.Url = node->Info().Url;
            item.StoredHead = node->Info().HeaderInfo.Text();
            item.Body = &node->Info();
            item.Time = LocalToUtc(node->LastModified());
            ok = written(exporter.Write(item)) && step(node);
            auto more = copies.find(node->Info().Url);
            if (!ok || more == copies.end())
                continue;
            for (const TKeyedCopy& copy : more->second) {
                TRawCacheEntry raw;
                if (TError read = keys->ReadCopy(copy, raw)) {
                    ++stats.Skipped;
                    stats.Problems.push_back(
                        {copy.Url, "an older copy (" + FieldText(copy.Key) + "): " + read.Text()});
                } else {
                    TItem older;
                    older.Url = raw.Url;
                    older.StoredHead = raw.HeaderBlock;
                    older.Body = &raw;
                    older.Time = raw.LastModified;
                    ok = written(exporter.Write(older));
                }
                ok = ok && step(nullptr);
                if (!ok)
                    break;
            }
            copies.erase(more);
        }
        if (ok && format == TArchiveFormat::Wacz) {
            if (!zip->CloseEntry()) {
                error = zip->Error("the archive could not be written");
            } else {
                const std::uint64_t warcBytes = warc.Written();
                const std::string warcHash = HexText(warc.Sha256());
                const std::string index = exporter.IndexText();
                const std::string pages = exporter.PagesText();
                std::string title = options.Title;
                if (title.empty() && !nodes.empty())
                    title = AnsiToUtf8(nodes.front()->IsFolder ? nodes.front()->DirUrl()
                                                               : nodes.front()->Info().Url);
                std::string package =
                    "{\n  \"profile\": \"data-package\",\n  \"wacz_version\": \"1.1.1\",\n"
                    "  \"software\": \"Tarnhold " TARNHOLD_VERSION "\",\n  \"created\": \"" +
                    WarcDate(now) + "\",\n  \"title\": " + JsonString(title) + ",\n";
                if (!exporter.FirstPage().empty())
                    package += "  \"mainPageURL\": " + JsonString(exporter.FirstPage()) +
                               ",\n  \"mainPageDate\": \"" + exporter.FirstPageDate() + "\",\n";
                package += "  \"resources\": [\n    {\"name\": \"" + std::string(kWarcName) +
                           "\", \"path\": \"archive/" + kWarcName +
                           "\", \"hash\": \"sha256:" + warcHash +
                           "\", \"bytes\": " + std::to_string(warcBytes) + "},\n    " +
                           Resource("index.cdx", "indexes/index.cdx", index) + ",\n    " +
                           Resource("pages.jsonl", "pages/pages.jsonl", pages) + "\n  ]\n}\n";
                TSha256 sha;
                sha.Update(package);
                const std::string digest =
                    "{\"path\": \"datapackage.json\", \"hash\": \"sha256:" + HexText(sha.Digest()) +
                    "\"}\n";
                if (!zip->Add("indexes/index.cdx", index) ||
                    !zip->Add("pages/pages.jsonl", pages) ||
                    !zip->Add("datapackage.json", package) ||
                    !zip->Add("datapackage-digest.json", digest) || !zip->Finish())
                    error = zip->Error("the archive could not be written");
            }
        } else if (ok) {
            if (!static_cast<TFdOutput&>(*out).Flush())
                error = out->Error();
        }
        stats.FileBytes = format == TArchiveFormat::Warc ? warc.Written() : 0;
    }
    if (!error) {
        struct stat st {};
        if (::fstat(fd, &st) == 0)
            stats.FileBytes = static_cast<std::uint64_t>(st.st_size);
    }
    if (::close(fd) != 0 && !error)
        error = TError::FromErrno(errno, tempName);
    if (!error && ::rename(tempName.c_str(), target.c_str()) != 0)
        error = TError::FromErrno(errno, target.string());
    if (error)
        ::unlink(tempName.c_str());
    return error;
}

} // namespace tarnhold
