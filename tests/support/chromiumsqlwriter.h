// Writes Chromium SQL disk caches for tests and benchmarks: the "index"
// marker and the shards sqldb0..N with the browser's tables, each row in the
// shard its key's hash picks, with the checksums and counts the browser keeps.
#pragma once

#include "support/chromiumentrywriter.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tarnhold::test {

struct TChromiumSqlRow {
    TChromiumEntrySpec Entry; // key, head, body and time
    bool Doomed = false;
    bool NullHead = false;
    // Stored instead of the pickled head when set.
    std::string RawHead;
    // The body's pieces (offset, bytes); empty: Entry.Body as one piece at 0
    // (none for an empty body).
    std::vector<std::pair<std::int64_t, std::string>> Pieces;
    std::int64_t BodyEnd = -1; // -1: the size of Entry.Body
};

// Writes folder/index ("SQLCacheTruncate<shards>") and folder/sqldb0.. with
// their empty journals.
void WriteChromiumSqlCache(const std::filesystem::path& folder,
                           const std::vector<TChromiumSqlRow>& rows, int shards = 3);

// Runs sql on a shard (for tests that change one as damage would).
void ExecSql(const std::filesystem::path& shard, const std::string& sql);
// Runs sql on a shard within a transaction that never ends, as a browser
// killed half way leaves it: the changes written to the shard, the journal
// beside it holding what they replaced.
void LeaveMidTransaction(const std::filesystem::path& shard, const std::string& sql);
// The first column of the first row sql gives, as text ("" when none).
std::string QuerySql(const std::filesystem::path& shard, const std::string& sql);

} // namespace tarnhold::test
