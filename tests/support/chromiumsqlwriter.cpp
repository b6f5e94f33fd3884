#include "support/chromiumsqlwriter.h"

#include "sources/chromium/chromiumcache.h"
#include "sources/chromium/chromiumsql.h"

#include <fstream>
#include <sqlite3.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnhold::test {

namespace {

class TWriter {
public:
    explicit TWriter(const std::filesystem::path& file) {
        if (sqlite3_open(file.c_str(), &db_) != SQLITE_OK)
            throw std::runtime_error("cannot open " + file.string());
    }
    ~TWriter() { sqlite3_close(db_); }
    void Exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            std::string text = message != nullptr ? message : "?";
            sqlite3_free(message);
            throw std::runtime_error(sql + ": " + text);
        }
    }
    sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

struct TStmt {
    TStmt(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string(sql) + ": " + sqlite3_errmsg(db));
    }
    ~TStmt() { sqlite3_finalize(s); }
    void Blob(int i, const std::string& v) {
        sqlite3_bind_blob(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void Text(int i, const std::string& v) {
        sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void Int(int i, std::int64_t v) { sqlite3_bind_int64(s, i, v); }
    void Run() {
        if (sqlite3_step(s) != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(sqlite3_db_handle(s)));
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
    sqlite3_stmt* s = nullptr;
};

// The browser's tables, as it creates them.
const char* const kSchema =
    "CREATE TABLE resources(res_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,"
    "last_used INTEGER NOT NULL,hints INTEGER NOT NULL,body_end INTEGER NOT NULL,"
    "bytes_usage INTEGER NOT NULL,doomed INTEGER NOT NULL,check_sum INTEGER NOT NULL,"
    "cache_key_hash INTEGER NOT NULL,cache_key TEXT NOT NULL,head BLOB);"
    "CREATE TABLE blobs(blob_id INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT,"
    "res_id INTEGER NOT NULL,start INTEGER NOT NULL,end INTEGER NOT NULL,"
    "check_sum INTEGER NOT NULL,blob BLOB NOT NULL);"
    "CREATE INDEX index_resources_cache_key_hash_doomed ON resources(cache_key_hash, doomed);"
    "CREATE INDEX index_live_resources_last_used_bytes_usage ON resources(last_used, "
    "bytes_usage) WHERE doomed=0;"
    "CREATE INDEX index_live_resources_hints ON resources(hints) WHERE hints!=0 AND doomed=0;"
    "CREATE UNIQUE INDEX index_blobs_res_id_start ON blobs(res_id, start);"
    "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
    "INSERT INTO meta VALUES('mmap_status','-1'),('version','8'),"
    "('last_compatible_version','8'),('SharedCacheEnabled','0');";

} // namespace

void WriteChromiumSqlCache(const std::filesystem::path& folder,
                           const std::vector<TChromiumSqlRow>& rows, int shards) {
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "index", std::ios::binary) << "SQLCacheTruncate" << shards;
    for (int n = 0; n < shards; ++n) {
        const std::filesystem::path file = folder / ("sqldb" + std::to_string(n));
        std::filesystem::remove(file);
        std::ofstream(folder / ("sqldb" + std::to_string(n) + "-journal"), std::ios::binary);
        TWriter db(file);
        db.Exec("PRAGMA page_size=4096; PRAGMA auto_vacuum=INCREMENTAL;"
                "PRAGMA journal_mode=TRUNCATE; PRAGMA synchronous=OFF;");
        db.Exec(kSchema);
        db.Exec("BEGIN");
        TStmt res(db.get(), "INSERT INTO resources(last_used,hints,body_end,bytes_usage,doomed,"
                            "check_sum,cache_key_hash,cache_key,head) VALUES(?,0,?,?,?,?,?,?,?)");
        TStmt blob(db.get(), "INSERT INTO blobs(res_id,start,end,check_sum,blob) "
                             "VALUES(?,?,?,?,?)");
        std::int64_t live = 0, total = 0;
        for (const TChromiumSqlRow& row : rows) {
            const std::uint32_t hash = ChromiumKeyHash(row.Entry.Key);
            if (static_cast<int>(hash % static_cast<std::uint32_t>(shards)) != n)
                continue;
            const std::string head = !row.RawHead.empty() ? row.RawHead
                                     : row.NullHead       ? std::string()
                                                          : ChromiumHeadPickle(row.Entry);
            auto pieces = row.Pieces;
            if (pieces.empty() && !row.Entry.Body.empty())
                pieces.emplace_back(0, row.Entry.Body);
            const std::int64_t bodyEnd =
                row.BodyEnd >= 0 ? row.BodyEnd : static_cast<std::int64_t>(row.Entry.Body.size());
            std::int64_t stored = 0;
            for (const auto& piece : pieces)
                stored += static_cast<std::int64_t>(piece.second.size());
            const std::int64_t usage =
                static_cast<std::int64_t>(row.Entry.Key.size() + head.size()) + stored;
            res.Int(1, row.Entry.ResponseTime);
            res.Int(2, bodyEnd);
            res.Int(3, usage);
            res.Int(4, row.Doomed ? 1 : 0);
            res.Int(5, static_cast<std::int32_t>(ChromiumSqlChecksum(head, hash)));
            res.Int(6, static_cast<std::int32_t>(hash));
            res.Text(7, row.Entry.Key);
            if (!row.NullHead)
                res.Blob(8, head);
            res.Run();
            const std::int64_t id = sqlite3_last_insert_rowid(db.get());
            for (const auto& [start, bytes] : pieces) {
                blob.Int(1, id);
                blob.Int(2, start);
                blob.Int(3, start + static_cast<std::int64_t>(bytes.size()));
                blob.Int(4, static_cast<std::int32_t>(ChromiumSqlChecksum(bytes, hash)));
                blob.Blob(5, bytes);
                blob.Run();
            }
            if (!row.Doomed) {
                ++live;
                total += usage;
            }
        }
        db.Exec("INSERT INTO meta VALUES('EntryCount','" + std::to_string(live) +
                "'),('TotalSize','" + std::to_string(total) + "');");
        db.Exec("COMMIT");
    }
}

void ExecSql(const std::filesystem::path& shard, const std::string& sql) {
    TWriter db(shard);
    db.Exec("PRAGMA journal_mode=TRUNCATE;");
    db.Exec(sql);
}

void LeaveMidTransaction(const std::filesystem::path& shard, const std::string& sql) {
    // In a child that ends without closing the database: nothing rolls back.
    const pid_t child = ::fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        const bool ok = sqlite3_open(shard.c_str(), &db) == SQLITE_OK &&
                        sqlite3_exec(db, ("PRAGMA journal_mode=TRUNCATE; BEGIN; " + sql).c_str(),
                                     nullptr, nullptr, nullptr) == SQLITE_OK &&
                        sqlite3_db_cacheflush(db) == SQLITE_OK;
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        throw std::runtime_error("cannot leave " + shard.string() + " mid-transaction");
}

std::string QuerySql(const std::filesystem::path& shard, const std::string& sql) {
    TWriter db(shard);
    TStmt s(db.get(), sql.c_str());
    if (sqlite3_step(s.s) != SQLITE_ROW)
        return {};
    const unsigned char* text = sqlite3_column_text(s.s, 0);
    return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

} // namespace tarnhold::test
