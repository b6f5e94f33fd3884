#include "copy/copyengine.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "sources/cachebody.h"
#include "text/displayformat.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarnhold {

namespace {

// The messages, in the code page's bytes.
constexpr const char* kCaptionCreateFolder = "\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xcc\x8d\xec"
                                             "\x90\xac"; // フォルダの作成
constexpr const char* kCaptionCopy = "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x83\x52\x83\x73"
                                     "\x81\x5b"; // ファイルのコピー
// フォルダの作成に失敗しました。
constexpr const char* kTextCreateFolder = "\x83\x74\x83\x48\x83\x8b\x83\x5f\x82\xcc\x8d\xec\x90"
                                          "\xac\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5"
                                          "\x82\xbd\x81\x42";
// ファイルのコピーに失敗しました。
constexpr const char* kTextCopy = "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x83\x52\x83\x73\x81"
                                  "\x5b\x82\xc9\x8e\xb8\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd"
                                  "\x81\x42";
// ファイルの更新日時の変更に失敗しました。
constexpr const char* kTextFileTime = "\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcc\x8d\x58\x90\x56"
                                      "\x93\xfa\x8e\x9e\x82\xcc\x95\xcf\x8d\x58\x82\xc9\x8e\xb8"
                                      "\x94\x73\x82\xb5\x82\xdc\x82\xb5\x82\xbd\x81\x42";
constexpr const char* kLabelFolder = "\x83\x74\x83\x48\x83\x8b\x83\x5f\x81\x46"; // フォルダ：
constexpr const char* kLabelCache =
    "\x83\x4c\x83\x83\x83\x62\x83\x56\x83\x85\x81\x46"; // キャッシュ：
constexpr const char* kLabelLocal = "\x83\x8d\x81\x5b\x83\x4a\x83\x8b\x81\x46"; // ローカル：
constexpr const char* kLabelError = "\x83\x47\x83\x89\x81\x5b\x81\x46";         // エラー：

bool IsHtml(const TWebCacheEntryInfo& entry) {
    return AnsiLowerCase(entry.HeaderInfo.Values("Content-Type")).find("text/html") !=
           std::string::npos;
}

bool IsStylesheet(const TWebCacheEntryInfo& entry) {
    return AnsiLowerCase(entry.HeaderInfo.Values("Content-Type")).find("text/css") !=
           std::string::npos;
}

// Copies the rest of in to out: in the kernel where it can, else through a
// buffer. bytes receives the count copied.
bool CopyData(int in, int out, std::uint64_t& bytes) {
    bool kernel = true;
    for (;;) {
        if (kernel) {
            ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0) {
                bytes += static_cast<std::uint64_t>(n);
                continue;
            }
            if (n == 0)
                return true;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
                return false;
            kernel = false;
        }
        char buf[65536];
        const ssize_t n = ReadAt(in, buf, sizeof buf, kAtPosition);
        if (n < 0)
            return false;
        if (!WriteAllToFd(out, std::string_view(buf, static_cast<std::size_t>(n))))
            return false;
        bytes += static_cast<std::uint64_t>(n);
        if (static_cast<std::size_t>(n) < sizeof buf)
            return true;
    }
}

// The cache entry's last-modified time (a local time) as the UTC time of a
// file; false for a time that names no moment (an empty record).
bool EntryFileTime(const TWebCacheEntryInfo& entry, FILETIME& utc) {
    FILETIME local;
    return SystemTimeToFileTime(entry.LastModified, local) && LocalFileTimeToFileTime(local, utc);
}

// The permissions a file made by the copy gets: 0666 less the process's
// umask, read from /proc without changing it; 0 when it cannot be read.
mode_t NewFileMode() {
    static const mode_t mode = [] {
        const TFd fd(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
        if (!fd.Valid())
            return mode_t{0};
        char text[4096];
        const ssize_t n = ReadAt(fd.Get(), text, sizeof text - 1, kAtPosition);
        if (n <= 0)
            return mode_t{0};
        text[n] = '\0';
        const char* line = std::strstr(text, "\nUmask:");
        if (line == nullptr)
            return mode_t{0};
        char* end = nullptr;
        const unsigned long umask = std::strtoul(line + 7, &end, 8);
        if (end == line + 7 || umask > 0777)
            return mode_t{0};
        return static_cast<mode_t>(0666 & ~umask);
    }();
    return mode;
}

// What a copy over an old one would hold: the rewritten page, or the
// stored bytes of a plain cache file (read from in).
struct TNewContent {
    const std::string* Page = nullptr;
    int In = -1;
};

// Whether the old copy at name in dir (as old describes it) already holds
// the new content byte for byte, and would be left as a new file would be:
// a regular file of this user, with one name, the permissions a new file
// gets, and the same size. Then oldFd receives it, open for reading; it is
// not replaced, and so never lost, whatever happens after.
bool SameAsOldCopy(int dir, const std::string& name, const struct stat& old,
                   const TNewContent& content, std::uint64_t size, TFd& oldFd) {
    const mode_t mode = NewFileMode();
    if (!S_ISREG(old.st_mode) || old.st_nlink != 1 || old.st_uid != ::geteuid() || mode == 0 ||
        (old.st_mode & 07777) != mode || static_cast<std::uint64_t>(old.st_size) != size)
        return false;
    TFd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat now {};
    if (!fd.Valid() || ::fstat(fd.Get(), &now) != 0 || now.st_ino != old.st_ino ||
        now.st_dev != old.st_dev || !S_ISREG(now.st_mode) || now.st_size != old.st_size)
        return false;
    constexpr std::size_t kBlock = 128 * 1024;
    thread_local std::vector<char> mine(kBlock);
    thread_local std::vector<char> theirs(kBlock);
    std::uint64_t at = 0;
    // One byte past the size is asked for too: a file that grew differs.
    for (;;) {
        const ssize_t got = ReadAt(fd.Get(), mine.data(), kBlock, at);
        if (got < 0)
            return false;
        const auto n = static_cast<std::size_t>(got);
        if (content.Page != nullptr) {
            const std::size_t left = content.Page->size() - std::min<std::uint64_t>(at, size);
            if (n > left || std::memcmp(mine.data(), content.Page->data() + at, n) != 0)
                return false;
        } else {
            const ssize_t want = ReadAt(content.In, theirs.data(), n == 0 ? 1 : n, at);
            if (want < 0 || static_cast<std::size_t>(want) != n ||
                std::memcmp(mine.data(), theirs.data(), n) != 0)
                return false;
        }
        at += n;
        if (n < kBlock)
            break;
    }
    char extra = 0;
    if (at != size || (content.Page == nullptr && ReadAt(content.In, &extra, 1, at) != 0))
        return false;
    oldFd = std::move(fd);
    return true;
}

// Sets the time of the old copy kept in place, as a new file's would be:
// the entry's time, or now when it has none.
bool SetOldCopyTime(int fd, const TWebCacheEntryInfo& entry, int& error) {
    FILETIME utc;
    struct timespec times[2];
    const struct timespec* set = nullptr;
    if (EntryFileTime(entry, utc)) {
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(FileTimeToUnixSeconds(utc));
        times[1].tv_nsec = static_cast<long>((FileTimeToU64(utc) % kFileTimeTicksPerSecond) * 100);
        set = times;
    }
    if (::futimens(fd, set) != 0) {
        error = errno;
        return false;
    }
    return true;
}

// A file being written in a folder under a name of its own, renamed over the
// final name only when complete; removed if it never gets there.
class TTempFile {
public:
    TTempFile(int dir) : dir_(dir) {}
    ~TTempFile() {
        fd_.Reset();
        if (!name_.empty())
            ::unlinkat(dir_, name_.c_str(), 0);
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    bool Create(int& error) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = ".tarnhold-" + std::to_string(::getpid()) + "-" +
                               std::to_string(++counter) + ".tmp";
            fd_.Reset(::openat(dir_, name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (fd_.Valid()) {
                name_ = std::move(name);
                return true;
            }
            if (errno != EEXIST) {
                error = errno;
                return false;
            }
        }
        error = EEXIST;
        return false;
    }
    int Fd() const { return fd_.Get(); }
    bool SetTime(const FILETIME& utc, int& error) {
        std::int64_t seconds = FileTimeToUnixSeconds(utc);
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = static_cast<time_t>(seconds);
        times[1].tv_nsec = static_cast<long>((FileTimeToU64(utc) % kFileTimeTicksPerSecond) * 100);
        if (::futimens(fd_.Get(), times) != 0) {
            error = errno;
            return false;
        }
        return true;
    }
    // Closes the file and gives it its final name.
    bool Commit(const std::string& finalName, int& error) {
        if (const int closed = fd_.Close(); closed != 0) {
            error = closed;
            return false;
        }
        if (::renameat(dir_, name_.c_str(), dir_, finalName.c_str()) != 0) {
            error = errno;
            return false;
        }
        name_.clear();
        return true;
    }

private:
    int dir_;
    TFd fd_;
    std::string name_;
};

} // namespace

std::string CopyFailureCaption(TCopyFailureKind kind) {
    return kind == TCopyFailureKind::CreateFolder ? kCaptionCreateFolder : kCaptionCopy;
}

std::string CopyFailureText(TCopyFailureKind kind, const std::string& cacheFile,
                            const std::string& local, int error) {
    std::string text;
    if (kind == TCopyFailureKind::CreateFolder) {
        text = std::string(kTextCreateFolder) + "\r\n\r\n" + kLabelFolder + local;
    } else {
        text = std::string(kind == TCopyFailureKind::CopyFile ? kTextCopy : kTextFileTime) +
               "\r\n\r\n" + kLabelCache + cacheFile + "\r\n" + kLabelLocal + local;
    }
    return text + "\r\n" + kLabelError + GetSystemErrorText(error);
}

// The open folders on the way from the destination to the current one: a
// file in the same folder as the last one costs no new look-up, and each
// folder is opened below the one above it without following a link, so no
// name in the cache can lead the copy out of the destination.
class TCopyEngine::TFolderCursor {
public:
    TFolderCursor() = default;
    TFolderCursor(const TFolderCursor&) = delete;
    TFolderCursor& operator=(const TFolderCursor&) = delete;

    // The destination itself is the user's choice: made where missing, and
    // reached however its path leads.
    bool OpenDestination(const std::filesystem::path& dest, int& error) {
        if (!ForceDirectories(dest, &error))
            return false;
        TFd fd(::open(dest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd.Valid()) {
            error = errno;
            return false;
        }
        fds_.push_back(std::move(fd));
        return true;
    }

    // Opens (making it where missing) the folder of path's components, the
    // last one excluded; its descriptor, or -1 with error set.
    int Enter(const TLocalPath& path, int& error) {
        const std::size_t folders = path.empty() ? 0 : path.size() - 1;
        std::size_t keep = 0;
        while (keep < names_.size() && keep < folders && names_[keep] == path[keep])
            ++keep;
        while (names_.size() > keep) {
            fds_.pop_back();
            names_.pop_back();
        }
        for (std::size_t i = keep; i < folders; ++i) {
            const int parent = fds_.back().Get();
            const char* name = path[i].c_str();
            int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT) {
                if (::mkdirat(parent, name, 0777) != 0 && errno != EEXIST) {
                    error = errno;
                    return -1;
                }
                fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }
            if (fd < 0) {
                error = errno;
                return -1;
            }
            fds_.emplace_back(fd);
            names_.push_back(path[i]);
        }
        return fds_.back().Get();
    }

private:
    std::vector<TFd> fds_; // the destination, then one per entered folder
    std::vector<std::string> names_;
};

TCopyEngine::TCopyEngine(TWebCacheTree& tree, TCopyPrompts* prompts, TProgress* progress)
    : tree_(tree), prompts_(prompts), progress_(progress), names_(tree) {}

TCopyEngine::~TCopyEngine() = default;

bool TCopyEngine::Fail(const TCopyOptions& options, TCopyFailureKind kind,
                       const std::string& cacheFile, const std::filesystem::path& local,
                       int error) {
    failure_.Kind = kind;
    failure_.Caption = CopyFailureCaption(kind);
    failure_.Text = CopyFailureText(kind, cacheFile, PathToAnsi(local), error);
    failure_.CacheFile = cacheFile;
    failure_.LocalPath = local;
    failure_.Error = error;
    if (options.Interactive && prompts_ != nullptr)
        prompts_->ShowFailure(failure_);
    return false;
}

TLocalPath TCopyEngine::Placement(const TCopyOptions& options) const {
    if (options.Folder != TFolderMethod::BelowPrefix)
        return {};
    const TWebCacheTreeNode* prefixFolder = options.PrefixFolder != nullptr
                                                ? options.PrefixFolder
                                                : tree_.FindFolderByUrl(options.Prefix);
    return prefixFolder != nullptr ? NodeLocalPath(prefixFolder) : TLocalPath();
}

std::filesystem::path TCopyEngine::LocalPathOf(const TCopyOptions& options,
                                               const TWebCacheTreeNode* node) const {
    std::filesystem::path out = options.Destination;
    for (const std::string& part : PlaceBelow(NodeLocalPath(node), Placement(options)))
        out /= part;
    return out;
}

bool TCopyEngine::CopyNodes(const TCopyOptions& options, TOverwriteAnswer& answer,
                            TWebCacheTreeNodeCopyList& list) {
    failure_ = TCopyFailure{};
    if (!options.Interactive)
        answer = TOverwriteAnswer::Newer;
    // With folder method 1 the destination stands for the prefix's folder;
    // a file from elsewhere (an embedded file of another site) keeps its
    // whole path, below the destination all the same, and links follow.
    const TLocalPath placement = Placement(options);

    TFolderCursor cursor;
    int error = 0;
    if (!cursor.OpenDestination(options.Destination, error))
        return Fail(options, TCopyFailureKind::CreateFolder, {}, options.Destination, error);

    TPageRewriter rewriter(names_, progress_, &stats_);
    rewriter.SetPlacement(placement);
    rewriter.SetAllLinks(options.AllLinks);
    rewriter.SetReport(&report_);
    std::string page;
    for (int i = 0; i < list.Count(); ++i) {
        TWebCacheTreeNode* node = list.Items(i);
        if (node->Copied || node->IsFolder)
            continue;
        if (progress_ != nullptr)
            progress_->Step(node);

        if (node->Info().LocalFileName.empty()) {
            // The cache holds a record but no document (a redirect): there
            // is nothing to copy, and nothing to stop for.
            ++stats_.Skipped;
            node->Copied = true;
            continue;
        }
        const TLocalPath path = PlaceBelow(NodeLocalPath(node), placement);
        std::filesystem::path local = options.Destination;
        for (const std::string& part : path)
            local /= part;
        const std::string& cacheFile = node->Info().LocalFileName;
        const int dir = cursor.Enter(path, error);
        if (dir < 0)
            return Fail(options, TCopyFailureKind::CreateFolder, {}, local.parent_path(), error);
        const std::string& name = path.back();

        bool copy = true;
        struct stat existing {};
        const bool exists = ::fstatat(dir, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
        if (exists) {
            if (answer == TOverwriteAnswer::Yes || answer == TOverwriteAnswer::No)
                answer = prompts_ != nullptr ? prompts_->AskOverwrite(*node, local)
                                             : TOverwriteAnswer::Cancel;
            if (answer == TOverwriteAnswer::Cancel) {
                failure_ = TCopyFailure{};
                return false;
            }
            if (answer == TOverwriteAnswer::No || answer == TOverwriteAnswer::NoToAll) {
                copy = false;
            } else if (answer == TOverwriteAnswer::Newer) {
                FILETIME entryLocal{};
                (void)SystemTimeToFileTime(node->LastModified(), entryLocal);
                FILETIME fileLocal{};
                (void)FileTimeToLocalFileTime(
                    UnixTimeToFileTime(existing.st_mtim.tv_sec, existing.st_mtim.tv_nsec),
                    fileLocal);
                copy = CompareFileTime(entryLocal, fileLocal) > 0;
            }
        }

        int code = 0;
        std::uint64_t bytes = 0;
        const bool html = IsHtml(node->Info());
        // With every link kind, stylesheets are rewritten as pages are.
        const bool sheet = !html && options.AllLinks && IsStylesheet(node->Info());
        bool rewritten = false;
        if (html || sheet) {
            page.clear();
            int result =
                html ? rewriter.Rebuild(copy, &page, options.Method, &list, node, options.Prefix)
                     : rewriter.RebuildStylesheet(copy, &page, options.Method, &list, node,
                                                  options.Prefix);
            // A page that cannot be read is a failed file: the copy that
            // may be there stays as it was.
            if (result > 0)
                return Fail(options, TCopyFailureKind::CopyFile, cacheFile, local, result);
            if (result == kRebuildAdded)
                i = -1; // nodes were added, perhaps before this one: walk again from the top
            if (result == kRebuildTooLarge)
                NoteAsIs(&stats_, &report_, node->Info().Url, TAsIsKind::TooLarge);
            else
                rewritten = true;
            bytes = page.size();
        }
        // Over an old copy that already holds these bytes, only the time is
        // set: the file is neither rewritten nor replaced. A plain file is
        // opened once for both the comparison and the copy.
        TFd in;
        struct stat inStat {};
        const bool plain = !rewritten && IsPlainCacheBody(node->Info());
        if (copy && exists && (rewritten || plain)) {
            TNewContent content;
            std::uint64_t size = page.size();
            if (rewritten) {
                content.Page = &page;
            } else {
                in.Reset(::open(cacheFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
                if (in.Valid() && ::fstat(in.Get(), &inStat) == 0 && S_ISREG(inStat.st_mode)) {
                    content.In = in.Get();
                    size = static_cast<std::uint64_t>(inStat.st_size);
                } else {
                    in.Reset(); // opened again below, where its failure is told
                }
            }
            TFd oldCopy;
            if ((content.Page != nullptr || content.In >= 0) &&
                SameAsOldCopy(dir, name, existing, content, size, oldCopy)) {
                if (!SetOldCopyTime(oldCopy.Get(), node->Info(), code))
                    return Fail(options, TCopyFailureKind::SetFileTime, cacheFile, local, code);
                ++stats_.Files;
                stats_.Bytes += rewritten ? bytes : size;
                if (html && rewritten)
                    ++stats_.Pages;
                node->Copied = true;
                continue;
            }
        }
        if (copy) {
            TTempFile temp(dir);
            if (!temp.Create(code)) {
                // code is set
            } else if (rewritten) {
                if (!WriteAllToFd(temp.Fd(), page))
                    code = errno;
            } else if (!IsPlainCacheBody(node->Info())) {
                // A slice of a browser's entry file, or an encoded body:
                // written decoded, as it is read.
                TBodyRead read;
                code = WriteCacheBody(node->Info(), temp.Fd(), &read);
                if (code == 0 && read.StoredAsIs && !html && !sheet)
                    NoteAsIs(&stats_, &report_, node->Info().Url,
                             read.OverLimit ? TAsIsKind::OverLimit : TAsIsKind::Undecodable);
                if (code == 0 && read.ChecksumFailed && !html && !sheet)
                    NoteAsIs(&stats_, &report_, node->Info().Url, TAsIsKind::Damaged);
                bytes = read.Bytes;
            } else if (in.Valid()) {
                // Compared above: copied from its start.
                if (::lseek(in.Get(), 0, SEEK_SET) != 0 || !CopyData(in.Get(), temp.Fd(), bytes))
                    code = errno != 0 ? errno : EIO;
            } else {
                in.Reset(::open(cacheFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
                struct stat st {};
                if (!in.Valid()) {
                    code = errno;
                } else if (::fstat(in.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
                    code = S_ISDIR(st.st_mode) ? EISDIR : EINVAL; // only regular files are read
                } else if (!CopyData(in.Get(), temp.Fd(), bytes)) {
                    code = errno != 0 ? errno : EIO;
                }
            }
            if (code != 0)
                return Fail(options, TCopyFailureKind::CopyFile, cacheFile, local, code);
            FILETIME utc;
            if (EntryFileTime(node->Info(), utc) && !temp.SetTime(utc, code))
                return Fail(options, TCopyFailureKind::SetFileTime, cacheFile, local, code);
            if (!temp.Commit(name, code))
                return Fail(options, TCopyFailureKind::CopyFile, cacheFile, local, code);
            ++stats_.Files;
            stats_.Bytes += bytes;
            if (html && rewritten)
                ++stats_.Pages;
        } else {
            ++stats_.Kept;
        }
        node->Copied = true;
    }
    return true;
}

void AddFilesBelow(TWebCacheTreeNodeCopyList& list, TWebCacheTreeNode* node) {
    if (node == nullptr)
        return;
    std::vector<TWebCacheTreeNode*> pending{node};
    while (!pending.empty()) {
        TWebCacheTreeNode* n = pending.back();
        pending.pop_back();
        if (!n->IsFolder) {
            (void)list.Add(n);
            continue;
        }
        for (int i = n->Count() - 1; i >= 0; --i)
            pending.push_back(n->Items(i));
    }
}

bool CopyToFolder(TCopyEngine& engine, const std::vector<TWebCacheTreeNode*>& nodes,
                  const TCopyOptions& options, TOverwriteAnswer* answer) {
    TWebCacheTreeNodeCopyList list;
    for (TWebCacheTreeNode* node : nodes)
        AddFilesBelow(list, node);
    if (engine.Progress() != nullptr)
        engine.Progress()->SetMaximum(list.Count());
    TCopyOptions run = options;
    if (run.Prefix.empty() && run.PrefixFolder != nullptr)
        run.Prefix = run.PrefixFolder->DirUrl();
    TOverwriteAnswer own = TOverwriteAnswer::Yes;
    return engine.CopyNodes(run, answer != nullptr ? *answer : own, list);
}

TFolderMethod FolderMethodFromNumber(int number) {
    return number == 1 ? TFolderMethod::BelowPrefix : TFolderMethod::WholePath;
}

} // namespace tarnhold
