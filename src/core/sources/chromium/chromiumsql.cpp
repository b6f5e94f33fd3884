#include "sources/chromium/chromiumsql.h"

#include "platform/appfolder.h"
#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <zlib.h>

namespace tarnhold {

namespace {

constexpr std::string_view kIndexMagic = "SQLCache";
constexpr std::string_view kSqliteMagic{"SQLite format 3\0", 16};
// Chromium keeps at most 255 shards; a few more names are looked at so
// that a copy with stray shards is read whole.
constexpr int kMaxShards = 256;
constexpr std::size_t kPiece = 64 * 1024;
// A body is named to the body reader by its shard and its row.
constexpr int kShardShift = 56;
constexpr std::uint64_t kResIdMask = (std::uint64_t{1} << kShardShift) - 1;
// Microseconds from 1601-01-01 (the browser's clock) are FILETIME's 100 ns
// units divided by ten.
constexpr std::int64_t kMaxTime = std::numeric_limits<std::int64_t>::max() / 10;

std::string ShardName(int shard) {
    return "sqldb" + std::to_string(shard);
}

// The size of a regular file in folder (never through a link); -1 when it
// is not there, -2 when it is something else.
std::int64_t RegularSize(const std::filesystem::path& file, struct stat* out = nullptr) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode))
        return -2;
    if (out != nullptr)
        *out = st;
    return static_cast<std::int64_t>(st.st_size);
}

// Reads at most max bytes from the start of a regular file, never through a
// link.
bool ReadStart(const std::filesystem::path& file, std::size_t max, std::string& out) {
    out.clear();
    const TFd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.Valid())
        return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    out.resize(max);
    const ssize_t n = ReadAt(fd.Get(), out.data(), max, 0);
    out.resize(n >= 0 ? static_cast<std::size_t>(n) : 0);
    return n >= 0;
}

// A file name as a SQLite URI path: every byte that is not plainly safe is
// escaped.
std::string UriPath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Copies a regular file (never through a link) to a new file; false, with
// errno's value in *error, when it cannot. Tried again while the file
// changes under the copy, as a browser's shard may.
bool CopyRegularFile(const std::filesystem::path& from, const std::filesystem::path& to,
                     int* error) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (in < 0) {
            *error = errno;
            return false;
        }
        const int out =
            ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        struct stat before {
        }, after{};
        bool ok = out >= 0 && ::fstat(in, &before) == 0 && S_ISREG(before.st_mode);
        *error = out < 0 ? errno : ok ? 0 : EINVAL;
        std::vector<char> buffer(kPiece);
        while (ok) {
            const ssize_t n = ReadAt(in, buffer.data(), buffer.size(), kAtPosition);
            if (n < 0) {
                ok = false;
                *error = errno;
                break;
            }
            ok = WriteAllToFd(out, std::string_view(buffer.data(), static_cast<std::size_t>(n)));
            if (!ok)
                *error = errno != 0 ? errno : EIO;
            if (static_cast<std::size_t>(n) < buffer.size())
                break; // the end of the file
        }
        const bool steady = ok && ::fstat(in, &after) == 0 && after.st_size == before.st_size &&
                            after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
                            after.st_mtim.tv_nsec == before.st_mtim.tv_nsec;
        ::close(in);
        if (out >= 0 && ::close(out) != 0 && ok) {
            ok = false;
            *error = errno;
        }
        if (!ok)
            return false;
        if (steady)
            return true;
    }
    return true; // still changing: the copy is read as it is, its checksums tell
}

} // namespace

std::uint32_t ChromiumSqlChecksum(std::string_view data, std::uint32_t keyHash) {
    uLong crc = ::crc32(0, nullptr, 0);
    for (std::size_t at = 0; at < data.size(); at += kPiece) {
        const std::size_t n = std::min(kPiece, data.size() - at);
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(data.data() + at), static_cast<uInt>(n));
    }
    const unsigned char be[4] = {
        static_cast<unsigned char>(keyHash >> 24), static_cast<unsigned char>(keyHash >> 16),
        static_cast<unsigned char>(keyHash >> 8), static_cast<unsigned char>(keyHash)};
    return static_cast<std::uint32_t>(::crc32(crc, be, 4));
}

namespace {

// ---------------------------------------------------------------------------
// SQLite, held safely.

class TStmt {
public:
    TStmt() = default;
    TStmt(sqlite3* db, const std::string& sql) { Prepare(db, sql); }
    TStmt(const TStmt&) = delete;
    TStmt& operator=(const TStmt&) = delete;
    ~TStmt() { Finalize(); }
    // Prepares sql for db, in place of what was prepared before.
    void Prepare(sqlite3* db, const std::string& sql) {
        Finalize();
        if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size() + 1), &stmt_,
                               nullptr) != SQLITE_OK)
            Finalize();
    }
    void Finalize() {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
    explicit operator bool() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }
    int Step() { return sqlite3_step(stmt_); }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    void Bind(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
    void Bind(int i, std::string_view v) {
        sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    bool IsNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
    std::int64_t Int(int i) const { return sqlite3_column_int64(stmt_, i); }
    // The column's bytes as stored (text or blob alike).
    std::string_view Bytes(int i) const {
        const void* p = sqlite3_column_blob(stmt_, i);
        const int n = sqlite3_column_bytes(stmt_, i);
        return p != nullptr && n > 0
                   ? std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n))
                   : std::string_view();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// A connection with a bound on the work a hostile file can make it do: at
// most a number of virtual-machine steps in proportion to the file's size
// per statement run.
class TDb {
public:
    TDb() = default;
    TDb(const TDb&) = delete;
    TDb& operator=(const TDb&) = delete;
    ~TDb() { Close(); }

    // uri: a "file:" URI. Fails with SQLite's reason.
    TError Open(const std::string& uri, int flags, std::uint64_t fileSize) {
        Close();
        budget_ = 4096 + fileSize / 8; // progress calls of 1,000 steps each
        if (sqlite3_open_v2(uri.c_str(), &db_, flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            TError error = TError::Message(db_ != nullptr ? sqlite3_errmsg(db_)
                                                          : "the database cannot be opened");
            Close();
            return error;
        }
        sqlite3_extended_result_codes(db_, 1);
        // Nothing the file says is run: no functions from its schema, no
        // writes to its schema.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
        sqlite3_progress_handler(db_, 1000, &TDb::Progress, this);
        return {};
    }
    void Close() {
        if (db_ != nullptr)
            sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    sqlite3* get() const { return db_; }
    explicit operator bool() const { return db_ != nullptr; }
    // Starts the budget of a statement's run.
    void Fresh() { used_ = 0; }
    std::string Why() const {
        if (used_ > budget_)
            return "it takes too long to read (damaged or hostile)";
        return db_ != nullptr ? sqlite3_errmsg(db_) : "not open";
    }
    bool Exec(const char* sql) {
        Fresh();
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    // The type of the schema object name ("table", "view", ...); empty when
    // there is none.
    std::string ObjectType(std::string_view name) {
        TStmt s(db_, "SELECT type FROM sqlite_master WHERE name=?1");
        if (!s)
            return {};
        s.Bind(1, name);
        Fresh();
        return s.Step() == SQLITE_ROW ? std::string(s.Bytes(0)) : std::string();
    }
    // The names of a table's columns.
    std::unordered_set<std::string> Columns(std::string_view table) {
        std::unordered_set<std::string> names;
        TStmt s(db_, "SELECT name FROM pragma_table_info(?1)");
        if (!s)
            return names;
        s.Bind(1, table);
        Fresh();
        while (s.Step() == SQLITE_ROW)
            names.emplace(s.Bytes(0));
        return names;
    }

private:
    static int Progress(void* self) {
        auto* db = static_cast<TDb*>(self);
        return ++db->used_ > db->budget_ ? 1 : 0;
    }
    sqlite3* db_ = nullptr;
    std::uint64_t budget_ = 0;
    std::uint64_t used_ = 0;
};

// What a shard's tables hold, as far as the program reads them.
struct TLayout {
    bool Known = false; // resources and blobs, with the columns the reader needs
    std::string Why;    // when not
    bool Doomed = false, BodyEnd = false, CheckSum = false, KeyHash = false, LastUsed = false;
    bool BlobCheckSum = false;
};

TLayout ReadLayout(TDb& db) {
    TLayout layout;
    for (const char* table : {"resources", "blobs"}) {
        const std::string type = db.ObjectType(table);
        if (type != "table") {
            layout.Why = type.empty() ? std::string("it has no table ") + table
                                      : std::string(table) + " is no table";
            return layout;
        }
    }
    const auto res = db.Columns("resources");
    const auto blobs = db.Columns("blobs");
    for (const char* need : {"res_id", "cache_key", "head"}) {
        if (res.count(need) == 0) {
            layout.Why = std::string("its entries have no column ") + need +
                         " (a layout this program does not know)";
            return layout;
        }
    }
    for (const char* need : {"res_id", "start", "end", "blob"}) {
        if (blobs.count(need) == 0) {
            layout.Why = std::string("its bodies have no column ") + need +
                         " (a layout this program does not know)";
            return layout;
        }
    }
    layout.Known = true;
    layout.Doomed = res.count("doomed") > 0;
    layout.BodyEnd = res.count("body_end") > 0;
    layout.CheckSum = res.count("check_sum") > 0;
    layout.KeyHash = res.count("cache_key_hash") > 0;
    layout.LastUsed = res.count("last_used") > 0;
    layout.BlobCheckSum = blobs.count("check_sum") > 0;
    return layout;
}

// The identity of a file, to tell whether it changed since it was read.
struct TFileId {
    dev_t Dev = 0;
    ino_t Ino = 0;
    off_t Size = 0;
    timespec Mtime{};
    bool operator==(const TFileId& o) const {
        return Dev == o.Dev && Ino == o.Ino && Size == o.Size && Mtime.tv_sec == o.Mtime.tv_sec &&
               Mtime.tv_nsec == o.Mtime.tv_nsec;
    }
};

bool IdOf(const std::filesystem::path& file, TFileId& id) {
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    id = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// The shards of one refresh, kept open for reading bodies as long as an
// entry of that refresh lives.

class TChromiumSqlSource::TStore : public TBodyStore {
public:
    struct TShard {
        std::filesystem::path Original; // the shard in the cache
        std::string Uri;                // what is opened: the shard or a private copy
        int Flags = SQLITE_OPEN_READONLY;
        std::uint64_t Size = 0;
        bool Copy = false;
        TFileId Id; // of the original, when it is read itself
        TLayout Layout;
        TDb Db;
        // What reading a body asks, prepared once: the entry's key (and its
        // hash), and its pieces.
        TStmt Key, Pieces;
        std::mutex Lock;

        void Close() {
            Key.Finalize();
            Pieces.Finalize();
            Db.Close();
        }
    };

    ~TStore() override {
        for (auto& shard : shards_)
            if (shard)
                shard->Close();
        DeleteFolder(copies_);
    }

    std::vector<std::unique_ptr<TShard>>& Shards() { return shards_; }
    const std::filesystem::path& Copies() const { return copies_; }
    // The private folder for copies, made on first use.
    TError CopyFolder(std::filesystem::path& folder) {
        if (copies_.empty()) {
            TError error;
            copies_ = CreateTempFolder(&error);
            if (copies_.empty())
                return error;
        }
        folder = copies_;
        return {};
    }
    bool AnyCopy() const {
        return std::any_of(shards_.begin(), shards_.end(),
                           [](const auto& s) { return s && s->Copy; });
    }
    // After the program changed the shard itself: read it afresh.
    void Changed(int shard) {
        if (shard < 0 || static_cast<std::size_t>(shard) >= shards_.size() || !shards_[shard])
            return;
        TShard& s = *shards_[shard];
        std::lock_guard<std::mutex> lock(s.Lock);
        if (s.Copy)
            return; // the copy still holds what the tree shows
        s.Close();
        (void)IdOf(s.Original, s.Id);
        struct stat st {};
        if (::lstat(s.Original.c_str(), &st) == 0)
            s.Size = static_cast<std::uint64_t>(st.st_size);
    }

    TError ReadBody(std::uint64_t key, std::uint64_t length,
                    const std::function<bool(std::string_view)>& take,
                    bool& checksumFailed) const override;

private:
    std::vector<std::unique_ptr<TShard>> shards_;
    std::filesystem::path copies_;
};

TError TChromiumSqlSource::TStore::ReadBody(std::uint64_t key, std::uint64_t length,
                                            const std::function<bool(std::string_view)>& take,
                                            bool& checksumFailed) const {
    checksumFailed = false;
    const auto shardNo = static_cast<std::size_t>(key >> kShardShift);
    const auto resId = static_cast<std::int64_t>(key & kResIdMask);
    if (shardNo >= shards_.size() || !shards_[shardNo])
        return TError::Message("no such shard", EIO);
    TShard& s = *shards_[shardNo];
    const std::string name = s.Original.string();
    std::lock_guard<std::mutex> lock(s.Lock);
    if (!s.Copy) {
        TFileId now;
        if (!IdOf(s.Original, now) || !(now == s.Id))
            return TError::Message(name + ": the cache changed since it was read; read it again",
                                   EIO);
    }
    if (!s.Db) {
        if (TError error = s.Db.Open(s.Uri, s.Flags, s.Size))
            return TError::Message(name + ": " + error.Text(), EIO);
    }
    TDb& db = s.Db;
    auto failed = [&](const char* what) {
        return TError::Message(name + ": " + what + ": " + db.Why(), EIO);
    };

    // The hash the checksums are bound to: the row's own, else the key's.
    // A statement of the shard's, prepared on first use, set to run for the row.
    auto ready = [&](TStmt& stmt, const std::string& sql) {
        if (!stmt)
            stmt.Prepare(db.get(), sql);
        if (!stmt)
            return false;
        stmt.Reset();
        stmt.Bind(1, resId);
        db.Fresh();
        return true;
    };
    std::uint32_t hash = 0;
    {
        TStmt& row = s.Key;
        if (!ready(row, std::string("SELECT cache_key") +
                            (s.Layout.KeyHash ? ", cache_key_hash" : "") +
                            " FROM resources WHERE res_id=?1"))
            return failed("the entry cannot be read");
        const bool found = row.Step() == SQLITE_ROW;
        if (found)
            hash = s.Layout.KeyHash && !row.IsNull(1) ? static_cast<std::uint32_t>(row.Int(1))
                                                      : ChromiumKeyHash(row.Bytes(0));
        row.Reset();
        if (!found)
            return TError::Message(name + ": the entry is gone; read the cache again", EIO);
    }
    struct TPiece {
        std::int64_t RowId, Start, Length;
        bool HasSum;
        std::uint32_t Sum;
    };
    std::vector<TPiece> pieces;
    {
        TStmt& list = s.Pieces;
        if (!ready(list, std::string("SELECT rowid, start, length(blob), ") +
                             (s.Layout.BlobCheckSum ? "check_sum" : "NULL") +
                             " FROM blobs WHERE res_id=?1 ORDER BY start"))
            return failed("the body cannot be read");
        int rc;
        while ((rc = list.Step()) == SQLITE_ROW)
            pieces.push_back({list.Int(0), list.Int(1), list.Int(2), !list.IsNull(3),
                              static_cast<std::uint32_t>(list.Int(3))});
        TError error = rc == SQLITE_DONE ? TError{} : failed("the body cannot be read");
        list.Reset();
        if (error)
            return error;
    }

    std::uint64_t pos = 0;
    std::vector<char> buffer(kPiece);
    for (const TPiece& p : pieces) {
        if (pos >= length)
            break;
        if (p.Start < 0 || static_cast<std::uint64_t>(p.Start) > pos)
            break; // a gap: the body that can be read ends here
        const auto start = static_cast<std::uint64_t>(p.Start);
        const auto size = static_cast<std::uint64_t>(std::max<std::int64_t>(p.Length, 0));
        if (start + size <= pos)
            continue; // all of it given already
        sqlite3_blob* blob = nullptr;
        db.Fresh();
        if (sqlite3_blob_open(db.get(), "main", "blobs", "blob", p.RowId, 0, &blob) != SQLITE_OK) {
            sqlite3_blob_close(blob);
            return failed("a piece of the body cannot be read");
        }
        uLong crc = ::crc32(0, nullptr, 0);
        const auto total = static_cast<std::uint64_t>(sqlite3_blob_bytes(blob));
        bool stopped = false;
        for (std::uint64_t at = 0; at < total;) {
            const auto n = static_cast<int>(std::min<std::uint64_t>(kPiece, total - at));
            if (sqlite3_blob_read(blob, buffer.data(), n, static_cast<int>(at)) != SQLITE_OK) {
                sqlite3_blob_close(blob);
                return failed("a piece of the body cannot be read");
            }
            crc = ::crc32(crc, reinterpret_cast<const Bytef*>(buffer.data()), static_cast<uInt>(n));
            // The part of this read that lies in [pos, length).
            const std::uint64_t from = std::max(start + at, pos);
            const std::uint64_t to = std::min(start + at + static_cast<std::uint64_t>(n), length);
            if (!stopped && from < to) {
                const std::string_view part(buffer.data() + (from - start - at),
                                            static_cast<std::size_t>(to - from));
                pos = to;
                stopped = !take(part);
            }
            // A reader that stopped before the body's end learns nothing of
            // its checksums; one that took it all, all they say.
            if (stopped && pos < length) {
                sqlite3_blob_close(blob);
                return {};
            }
            at += static_cast<std::uint64_t>(n);
        }
        sqlite3_blob_close(blob);
        if (p.HasSum) {
            const unsigned char be[4] = {
                static_cast<unsigned char>(hash >> 24), static_cast<unsigned char>(hash >> 16),
                static_cast<unsigned char>(hash >> 8), static_cast<unsigned char>(hash)};
            crc = ::crc32(crc, be, 4);
            if (static_cast<std::uint32_t>(crc) != p.Sum)
                checksumFailed = true;
        }
    }
    if (pos < length)
        return TError::Message(name + ": the body is shorter than when the cache was read", EIO);
    return {};
}

// ---------------------------------------------------------------------------

TChromiumSqlSource::TChromiumSqlSource(std::filesystem::path folder)
    : TChromiumSourceBase(std::move(folder), true) {}

TChromiumSqlSource::~TChromiumSqlSource() = default;

namespace {

// The shard numbers to read: those the index names, and those the folder
// holds.
std::vector<int> ShardNumbers(const std::filesystem::path& folder, int& fromIndex,
                              std::string& indexProblem) {
    fromIndex = -1;
    std::string index;
    if (!ReadStart(folder / "index", 64, index)) {
        indexProblem = "index: missing or unreadable; the shards found are read";
    } else if (index.substr(0, kIndexMagic.size()) != kIndexMagic) {
        indexProblem = "index: not a SQL cache's index; the shards found are read";
    } else {
        std::size_t digits = index.size();
        while (digits > kIndexMagic.size() && index[digits - 1] >= '0' &&
               index[digits - 1] <= '9' && index.size() - digits < 3)
            --digits;
        if (digits < index.size())
            fromIndex = std::stoi(index.substr(digits));
        if (fromIndex > kMaxShards - 1)
            fromIndex = -1;
    }
    std::vector<bool> present(kMaxShards, false);
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* d = ::readdir(dir)) {
            std::string_view name = d->d_name;
            if (name.substr(0, 5) != "sqldb" || name.size() < 6 || name.size() > 8)
                continue;
            std::string_view num = name.substr(5);
            if (!std::all_of(num.begin(), num.end(), [](char c) { return c >= '0' && c <= '9'; }))
                continue;
            if (num.size() > 1 && num[0] == '0')
                continue;
            const int n = std::stoi(std::string(num));
            if (n < kMaxShards)
                present[static_cast<std::size_t>(n)] = true;
        }
        ::closedir(dir);
    }
    std::vector<int> shards;
    for (int i = 0; i < kMaxShards; ++i)
        if (i < fromIndex || present[static_cast<std::size_t>(i)])
            shards.push_back(i);
    return shards;
}

} // namespace

bool TChromiumSqlSource::Collect() {
    counts_ = TChromiumSqlCounts{};
    store_ = std::make_shared<TStore>();
    auto problem = [&](std::string text) { Problem(std::move(text)); };

    struct stat folderStat {};
    if (::stat(folder_.c_str(), &folderStat) != 0) {
        error_ = TError::FromErrno(errno, folder_.string());
        return false;
    }
    if (!S_ISDIR(folderStat.st_mode)) {
        error_ = TError::FromErrno(ENOTDIR, folder_.string());
        return false;
    }
    int fromIndex = -1;
    std::string indexProblem;
    const std::vector<int> numbers = ShardNumbers(folder_, fromIndex, indexProblem);
    if (!indexProblem.empty())
        problem(indexProblem);
    if (numbers.empty()) {
        error_ =
            TError::Message(folder_.string() + ": no shard (sqldb0...) of a SQL cache", ENOENT);
        return false;
    }
    // A browser that holds the cache may write while it is read: its shards
    // are read from a copy then.
    const bool held = !ChromiumCacheHeldBy(folder_).empty();

    auto& shards = store_->Shards();
    shards.resize(static_cast<std::size_t>(numbers.back() + 1));
    for (int number : numbers) {
        const std::string name = ShardName(number);
        const std::filesystem::path file = folder_ / name;
        auto bad = [&](const std::string& why) {
            ++counts_.BadShards;
            problem(name + ": " + why);
        };
        struct stat st {};
        const std::int64_t size = RegularSize(file, &st);
        if (size < 0) {
            bad(size == -1 ? "missing: its entries are lost" : "not a regular file");
            continue;
        }
        auto shard = std::make_unique<TStore::TShard>();
        shard->Original = file;
        shard->Size = static_cast<std::uint64_t>(size);
        // A journal or log left beside the shard: it was left mid-transaction,
        // and SQLite finishes that on a copy opened for writing.
        const std::int64_t journal = RegularSize(folder_ / (name + "-journal"));
        const std::int64_t wal = RegularSize(folder_ / (name + "-wal"));
        const bool recover = journal > 0 || wal > 0;
        if (held || recover) {
            std::filesystem::path copies;
            if (TError error = store_->CopyFolder(copies)) {
                bad("cannot be copied to be read: " + error.Text());
                continue;
            }
            const std::filesystem::path copy = copies / name;
            int code = 0;
            bool copied = CopyRegularFile(file, copy, &code);
            for (const char* suffix : {"-journal", "-wal"}) {
                if (copied && RegularSize(folder_ / (name + suffix)) > 0)
                    copied =
                        CopyRegularFile(folder_ / (name + suffix), copies / (name + suffix), &code);
            }
            if (!copied) {
                bad(std::string("cannot be copied to be read: ") + std::strerror(code));
                continue;
            }
            shard->Copy = true;
            shard->Uri = "file:" + UriPath(copy.string());
            if (recover) {
                shard->Flags = SQLITE_OPEN_READWRITE;
                problem(name +
                        ": left mid-transaction; read as the last whole transaction left it");
            } else {
                shard->Uri += "?immutable=1";
            }
        } else {
            shard->Id = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
            shard->Uri = "file:" + UriPath(file.string()) + "?immutable=1";
        }
        if (TError error = shard->Db.Open(shard->Uri, shard->Flags, shard->Size)) {
            bad("cannot be opened: " + error.Text());
            continue;
        }
        shard->Layout = ReadLayout(shard->Db);
        if (!shard->Layout.Known) {
            bad("not read: " + (shard->Layout.Why.empty() ? shard->Db.Why() : shard->Layout.Why));
            continue;
        }
        ++counts_.Shards;
        shards[static_cast<std::size_t>(number)] = std::move(shard);
    }
    if (counts_.Shards == 0 && counts_.BadShards > 0) {
        // Nothing could be read: the first reason says why.
        error_ = TError::Message(
            folder_.string() + ": " +
                (counts_.Problems.empty() ? "no shard can be read" : counts_.Problems.back()),
            EBADMSG);
        return false;
    }

    // Every shard's rows: the body's extent from its pieces, then the entries.
    for (std::size_t number = 0; number < shards.size(); ++number) {
        if (!shards[number])
            continue;
        TStore::TShard& shard = *shards[number];
        TDb& db = shard.Db;
        const TLayout& layout = shard.Layout;
        const std::string name = ShardName(static_cast<int>(number));
        struct TExtent {
            std::uint64_t Contiguous = 0; // bytes from the start without a gap
            bool Gap = false;
            bool BadPiece = false;
        };
        // By res_id, as the pieces come.
        std::vector<std::pair<std::int64_t, TExtent>> extents;
        bool extentsWhole = true;
        {
            TStmt s(db.get(), "SELECT res_id, start, \"end\", length(blob) FROM blobs "
                              "ORDER BY res_id, start");
            db.Fresh();
            int rc = s ? SQLITE_ROW : SQLITE_ERROR;
            while (s && (rc = s.Step()) == SQLITE_ROW) {
                const std::int64_t resId = s.Int(0);
                if (extents.empty() || extents.back().first != resId)
                    extents.emplace_back(resId, TExtent{});
                TExtent& e = extents.back().second;
                const std::int64_t start = s.Int(1), end = s.Int(2), len = s.Int(3);
                if (start < 0 || len < 0) {
                    e.BadPiece = true;
                    e.Gap = true;
                    continue;
                }
                if (end - start != len)
                    e.BadPiece = true;
                if (e.Gap)
                    continue;
                if (static_cast<std::uint64_t>(start) > e.Contiguous) {
                    e.Gap = true;
                    continue;
                }
                e.Contiguous = std::max(e.Contiguous, static_cast<std::uint64_t>(start) +
                                                          static_cast<std::uint64_t>(len));
            }
            if (rc != SQLITE_DONE) {
                extentsWhole = false;
                ++counts_.Unreadable;
                problem(name + ": the body pieces stop early: " + db.Why());
            }
        }

        // The columns, in the order selected.
        enum { kResId, kKey, kHead, kDoomed, kBodyEnd, kCheckSum, kHash, kLastUsed };
        std::string sql = "SELECT res_id, cache_key, head";
        sql += layout.Doomed ? ", doomed" : ", 0";
        sql += layout.BodyEnd ? ", body_end" : ", NULL";
        sql += layout.CheckSum ? ", check_sum" : ", NULL";
        sql += layout.KeyHash ? ", cache_key_hash" : ", NULL";
        sql += layout.LastUsed ? ", last_used" : ", NULL";
        sql += " FROM resources ORDER BY res_id";
        TStmt s(db.get(), sql);
        db.Fresh();
        int rc = s ? SQLITE_ROW : SQLITE_ERROR;
        while (s && (rc = s.Step()) == SQLITE_ROW) {
            ++counts_.Rows;
            TChromiumItem item;
            const std::int64_t resId = s.Int(kResId);
            item.Id = static_cast<std::uint64_t>(resId);
            item.Shard = static_cast<int>(number);
            item.Deleted = s.Int(kDoomed) != 0;
            TChromiumEntry& e = item.Entry;
            e.Key = std::string(s.Bytes(kKey));
            auto where = [&] { return name + " row " + std::to_string(resId); };
            auto damaged = [&](const std::string& why) {
                ++counts_.Damaged;
                problem(where() + ": " + why);
            };
            if (item.Deleted)
                ++counts_.Doomed;
            if (resId < 0 || item.Id > kResIdMask) {
                damaged("an entry number out of range");
                continue;
            }
            if (s.IsNull(kHead)) {
                // Made but never given its headers; one being deleted is no loss.
                if (!item.Deleted)
                    damaged("no response head (the entry was never finished)");
                continue;
            }
            const std::string_view head = s.Bytes(kHead);
            const std::uint32_t keyHash = ChromiumKeyHash(e.Key);
            const std::uint32_t boundHash =
                s.IsNull(kHash) ? keyHash : static_cast<std::uint32_t>(s.Int(kHash));
            if (!s.IsNull(kHash) && boundHash != keyHash)
                e.Mismatch |= kChromiumKeyMismatch;
            if (!s.IsNull(kCheckSum) && ChromiumSqlChecksum(head, boundHash) !=
                                            static_cast<std::uint32_t>(s.Int(kCheckSum)))
                e.Mismatch |= kChromiumHeadMismatch;
            if (TError error = ParseChromiumHead(head, e)) {
                if (!item.Deleted)
                    damaged(error.Text() + ((e.Mismatch & kChromiumHeadMismatch) != 0
                                                ? " (and fails its checksum)"
                                                : ""));
                continue;
            }
            e.Url = ChromiumKeyUrl(e.Key, &e.Upload);
            if (e.Key.empty()) {
                damaged("the key is empty");
                continue;
            }
            std::string unlisted;
            if (const TChromiumKeyUse use = ChromiumKeyUse(e, unlisted);
                use == TChromiumKeyUse::Upload) {
                if (!item.Deleted)
                    ++counts_.Uploads;
                continue;
            } else if (use == TChromiumKeyUse::Damaged) {
                damaged(unlisted + " (" + ChromiumShownKey(e.Key) + ")");
                continue;
            }
            if (e.ResponseTime <= 0 || e.ResponseTime > kMaxTime)
                e.ResponseTime = s.IsNull(kLastUsed)
                                     ? 0
                                     : std::clamp<std::int64_t>(s.Int(kLastUsed), 0, kMaxTime);

            // The body: the bytes from its start up to the first gap.
            const auto ext = std::lower_bound(extents.begin(), extents.end(), resId,
                                              [](const std::pair<std::int64_t, TExtent>& x,
                                                 std::int64_t id) { return x.first < id; });
            const TExtent extent =
                ext != extents.end() && ext->first == resId ? ext->second : TExtent{};
            const std::int64_t bodyEnd = s.IsNull(kBodyEnd) ? -1 : s.Int(kBodyEnd);
            std::uint64_t body = extent.Contiguous;
            if (bodyEnd >= 0)
                body = std::min(body, static_cast<std::uint64_t>(bodyEnd));
            if (!item.Deleted) {
                if (extent.BadPiece || e.Mismatch != 0) {
                    ++counts_.Mismatched;
                    std::string why = extent.BadPiece && e.Mismatch == 0
                                          ? "a body piece's size does not fit its place"
                                          : ChromiumMismatchText(e.Mismatch);
                    problem(where() + ": " + why + ": read as it is");
                }
                if (bodyEnd >= 0 && body < static_cast<std::uint64_t>(bodyEnd) &&
                    !(e.Status >= 300 && e.Status < 400)) {
                    ++counts_.Partial;
                    const std::uint64_t missing = static_cast<std::uint64_t>(bodyEnd) - body;
                    problem(where() + ": " + std::to_string(missing) + " of " +
                            std::to_string(bodyEnd) + " body bytes are missing" +
                            (extentsWhole ? "" : " or unreadable") + "; the first " +
                            std::to_string(body) + " are read");
                }
                if (e.Truncated) {
                    ++counts_.Truncated;
                    problem(where() + ": the body is stored only in part");
                }
            }
            e.BodyOffset = 0;
            e.BodyLength = body;
            Keep(std::move(item));
        }
        if (rc != SQLITE_DONE) {
            ++counts_.Unreadable;
            problem(name + ": the entries stop early: " + db.Why());
        }
    }
    return true;
}

bool TChromiumSqlSource::Newer(const TChromiumItem& a, const TChromiumItem& b) const {
    return a.Entry.ResponseTime != b.Entry.ResponseTime
               ? a.Entry.ResponseTime > b.Entry.ResponseTime
               : a.Id > b.Id;
}

void TChromiumSqlSource::Fill(const TChromiumItem& item, TRawCacheEntry& entry) const {
    FillChromiumEntry(item.Entry, PathOf(ShardName(item.Shard)), entry);
    entry.Recovered = item.Deleted;
    if (!entry.LocalFileName.empty()) {
        entry.Store = store_;
        entry.StoreKey = (static_cast<std::uint64_t>(item.Shard) << kShardShift) | item.Id;
    }
}

bool TChromiumSqlSource::ReadCopy() const {
    return store_ && store_->AnyCopy();
}

std::string TChromiumSqlSource::CopyFile(const TChromiumItem& item) const {
    return PathOf(ShardName(item.Shard));
}

std::string TChromiumSqlSource::Describe() const {
    return DescribeAs("Chromium SQL cache", {{counts_.BadShards, " shards missing or unreadable"},
                                             {counts_.Damaged, " damaged entries"},
                                             {counts_.Mismatched, " entries failing a checksum"}});
}

TReadReport TChromiumSqlSource::ReadReport() const {
    const TChromiumSqlCounts& c = counts_;
    TReadReport report;
    report.SkippedRecords = static_cast<std::size_t>(c.Damaged);
    report.DeletedRecords = DeletedUrls();
    report.Damaged = c.BadShards > 0 || c.Unreadable > 0 || c.Damaged > 0 || c.Mismatched > 0 ||
                     c.Partial > 0 || c.Truncated > 0;
    if (!report.Damaged)
        return report;
    std::vector<std::string> parts;
    AddCount(parts, c.BadShards, " shards missing or unreadable");
    AddCount(parts, c.Unreadable, " shards read only in part");
    AddCount(parts, c.Damaged, " of " + std::to_string(c.Rows) + " entries could not be read");
    AddCount(parts, c.Mismatched, " read despite a checksum that does not fit");
    AddCount(parts, c.Partial, " with body bytes missing");
    AddCount(parts, c.Truncated, " with only part of the body stored");
    Summarize(report, parts, c.Problems.size());
    return report;
}

// ---------------------------------------------------------------------------
// Deletion.

namespace {

// One shard changed by a deletion: opened for writing only for that.
struct TShardChange {
    int Shard = 0;
    std::vector<std::pair<std::int64_t, std::string>> Rows; // res_id, key
    TDb Db;
    bool Begun = false;
};

TError Refused(const std::string& why, int code = EPERM) {
    return TError::Message("the cache cannot be changed safely: " + why, code);
}

std::optional<std::int64_t> MetaValue(TDb& db, const char* key) {
    TStmt s(db.get(), "SELECT value FROM meta WHERE key=?1");
    if (!s)
        return std::nullopt;
    s.Bind(1, key);
    db.Fresh();
    if (s.Step() != SQLITE_ROW)
        return std::nullopt;
    const std::string text(s.Bytes(0));
    if (text.empty() || text.size() > 19 ||
        !std::all_of(text.begin() + (text[0] == '-' ? 1 : 0), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; }) ||
        text == "-")
        return std::nullopt;
    return std::stoll(text);
}

// Opens a shard to change it, after checking that it can be.
TError BeginChange(const std::filesystem::path& folder, TShardChange& change) {
    const std::string name = ShardName(change.Shard);
    const std::filesystem::path file = folder / name;
    struct stat st {};
    if (RegularSize(file, &st) < 0)
        return Refused(name + " is missing or not a regular file");
    for (const char* suffix : {"-journal", "-wal"}) {
        if (RegularSize(folder / (name + suffix)) > 0)
            return Refused(name + " was left mid-transaction (its " + std::string(suffix + 1) +
                           " is not empty); let the browser open the cache once first");
    }
    std::string header;
    if (!ReadStart(file, 100, header) || header.size() < 100 ||
        header.substr(0, kSqliteMagic.size()) != kSqliteMagic)
        return Refused(name + " is no SQLite database");
    if (header[18] != 1 || header[19] != 1)
        return Refused(name + " keeps a write-ahead log, which this program does not change");
    if (TError error = change.Db.Open("file:" + UriPath(file.string()), SQLITE_OPEN_READWRITE,
                                      static_cast<std::uint64_t>(st.st_size)))
        return Refused(name + " cannot be opened: " + error.Text());
    TDb& db = change.Db;
    sqlite3_busy_timeout(db.get(), 0);
    // As the browser keeps it: a journal emptied after each change, freed
    // bytes overwritten.
    if (!db.Exec("PRAGMA journal_mode=TRUNCATE") || !db.Exec("PRAGMA secure_delete=ON"))
        return Refused(name + ": " + db.Why());
    if (!db.Exec("BEGIN IMMEDIATE")) {
        const int code = sqlite3_extended_errcode(db.get());
        if ((code & 0xff) == SQLITE_BUSY || (code & 0xff) == SQLITE_LOCKED)
            return TError::Message("the cache is in use: " + name + " is locked by another program",
                                   EBUSY);
        return Refused(name + ": " + db.Why());
    }
    change.Begun = true;
    if (db.ObjectType("resources") != "table" || db.ObjectType("blobs") != "table" ||
        db.ObjectType("meta") != "table")
        return Refused(name + " lacks a table the browser keeps");
    const auto res = db.Columns("resources");
    for (const char* need : {"res_id", "cache_key", "doomed", "bytes_usage"})
        if (res.count(need) == 0)
            return Refused(name + " is of a layout this program does not know");
    if (db.Columns("blobs").count("res_id") == 0)
        return Refused(name + " is of a layout this program does not know");
    if (!MetaValue(db, "EntryCount") || !MetaValue(db, "TotalSize"))
        return Refused(name + " keeps no readable entry count and total size");
    return {};
}

// Deletes the rows within the open transaction and keeps the shard's counts.
TError ApplyChange(TShardChange& change) {
    const std::string name = ShardName(change.Shard);
    TDb& db = change.Db;
    std::int64_t liveRows = 0, liveBytes = 0;
    TStmt find(db.get(), "SELECT doomed, bytes_usage FROM resources WHERE res_id=?1 AND "
                         "cache_key=?2");
    TStmt blobs(db.get(), "DELETE FROM blobs WHERE res_id=?1");
    TStmt row(db.get(), "DELETE FROM resources WHERE res_id=?1");
    if (!find || !blobs || !row)
        return Refused(name + ": " + db.Why());
    for (const auto& [resId, key] : change.Rows) {
        find.Reset();
        find.Bind(1, resId);
        find.Bind(2, key);
        db.Fresh();
        if (find.Step() != SQLITE_ROW)
            return Refused(name + " changed since it was read; read the cache again");
        if (find.Int(0) == 0) {
            ++liveRows;
            liveBytes += find.Int(1);
        }
        find.Reset();
        blobs.Reset();
        blobs.Bind(1, resId);
        row.Reset();
        row.Bind(1, resId);
        db.Fresh();
        if (blobs.Step() != SQLITE_DONE || row.Step() != SQLITE_DONE)
            return Refused(name + ": " + db.Why());
    }
    if (liveRows > 0) {
        TStmt meta(db.get(), "UPDATE meta SET value=?2 WHERE key=?1");
        const std::pair<const char*, std::int64_t> counts[] = {{"EntryCount", liveRows},
                                                               {"TotalSize", liveBytes}};
        for (const auto& [key, less] : counts) {
            const std::int64_t value = std::max<std::int64_t>(*MetaValue(db, key) - less, 0);
            meta.Reset();
            meta.Bind(1, key);
            meta.Bind(2, value);
            db.Fresh();
            if (!meta || meta.Step() != SQLITE_DONE)
                return Refused(name + ": " + db.Why());
        }
    }
    return {};
}

} // namespace

TError TChromiumSqlSource::DeleteEntry(std::string_view url) {
    if (std::string why = ChromiumCacheHeldBy(folder_); !why.empty())
        return TError::Message("the cache is in use: " + why + "; close the browser first", EBUSY);
    if (items_.empty())
        (void)Refresh();
    std::vector<std::unique_ptr<TShardChange>> changes;
    for (const TChromiumItem& item : items_) {
        if (item.Entry.Url != url)
            continue;
        auto it = std::find_if(changes.begin(), changes.end(),
                               [&](const auto& c) { return c->Shard == item.Shard; });
        if (it == changes.end()) {
            changes.push_back(std::make_unique<TShardChange>());
            changes.back()->Shard = item.Shard;
            it = changes.end() - 1;
        }
        (*it)->Rows.emplace_back(static_cast<std::int64_t>(item.Id), item.Entry.Key);
    }
    if (changes.empty())
        return TError::FromErrno(ENOENT, std::string(url));
    // Every shard is opened and checked before any is changed.
    TError result;
    for (auto& change : changes) {
        if ((result = BeginChange(folder_, *change)))
            break;
    }
    for (auto& change : changes) {
        if (result)
            break;
        result = ApplyChange(*change);
    }
    for (auto& change : changes) {
        if (!change->Begun)
            continue;
        if (!result && !change->Db.Exec("COMMIT"))
            result = Refused(ShardName(change->Shard) + ": " + change->Db.Why(), EIO);
        if (result)
            (void)change->Db.Exec("ROLLBACK");
        change->Db.Close();
        if (store_)
            store_->Changed(change->Shard);
    }
    if (!result)
        Forget(url);
    return result;
}

bool IsChromiumSqlCacheFolder(const std::filesystem::path& folder) {
    std::string start;
    if (ReadStart(folder / "index", kIndexMagic.size(), start) && start == kIndexMagic)
        return true;
    return ReadStart(folder / "sqldb0", kSqliteMagic.size(), start) && start == kSqliteMagic &&
           RegularSize(folder / "index") < 0;
}

} // namespace tarnhold
