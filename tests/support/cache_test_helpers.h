// Helpers of the cache tests: temporary folders, the WinINet oracle files,
// index.dat fixtures written by the writer.
#pragma once

#include "mkcache/indexdatwriter.h"
#include "sources/cachesource.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnhold::test {

// Success of a TError, or its text as the failure message.
inline ::testing::AssertionResult IsOk(const TError& error) {
    if (error.Ok())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "error " << error.Code() << ": " << error.Text();
}
#define EXPECT_OK(expr) EXPECT_TRUE(::tarnhold::test::IsOk(expr))
#define ASSERT_OK(expr) ASSERT_TRUE(::tarnhold::test::IsOk(expr))

// A fresh folder below the system's temporary folder, removed at the end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::filesystem::path CacheTestData();

// Data encoded as a server sends it: "gzip", "zlib" (deflate as named),
// "rawdeflate", "br" or "zstd".
std::string EncodeBody(std::string_view coding, std::string_view data);

// One object of a WinINet oracle file (one JSON object per line, flat):
// strings as bytes (\u0080-\u00ff stand for single bytes), numbers as their
// text, null as nullopt, arrays as their raw text.
using TOracleEntry = std::map<std::string, std::optional<std::string>>;
std::vector<TOracleEntry> ReadOracle(const std::filesystem::path& file);

// The oracle's Windows path of a cached file relative to the container
// ("LF9FM8KU/today[0].htm"); empty for null.
std::string OracleLocalFile(const TOracleEntry& entry);

std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);
// Copies a folder tree (writable copies).
void CopyTree(const std::filesystem::path& from, const std::filesystem::path& to);

// A small entry for writer-built fixtures.
TIndexDatNewEntry MakeEntry(const std::string& url, const std::string& fileName = {},
                            std::uint8_t dir = 0, std::uint64_t size = 0,
                            const std::string& headers = {});

// Marks blocks first .. first+count-1 used or free in an index's bitmap and
// sets the allocated count to match, so that the index keeps its rules.
void SetBlocksAllocated(std::string& index, std::uint32_t first, std::uint32_t count, bool used);
// The file offset of the first never-used hash item of the first page, or 0.
std::size_t FreeHashItem(const std::string& index);
// Points a further item of the hash table at a record (a damaged table);
// false when no item is free.
bool AddAliasItem(std::string& index, std::uint32_t recordOffset);

// Every entry of a source, First to the end.
std::vector<TRawCacheEntry> ReadAll(TCacheSource& source);
// Reads the container with TIndexDatSource and checks every raw field of
// every entry, in order, against a WinINet oracle file (gtest expectations).
void ExpectMatchesOracle(const std::filesystem::path& container,
                         const std::filesystem::path& oracleFile);

// Runs a program with arguments (no shell); returns its exit status and
// collects stdout and stderr.
int RunProgram(const std::vector<std::string>& argv, std::string* out = nullptr,
               std::string* err = nullptr, const std::string& input = {});

} // namespace tarnhold::test
