#include "support/cache_test_helpers.h"

#include "sources/indexdat/indexdatsource.h"

#include <bit>
#include <brotli/encode.h>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

namespace tarnhold::test {

namespace fs = std::filesystem;

TTempDir::TTempDir() {
    std::string pattern = (fs::temp_directory_path() / "tarnhold-cache-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TTempDir::~TTempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string EncodeBody(std::string_view coding, std::string_view data) {
    if (coding == "br") {
        std::string out(BrotliEncoderMaxCompressedSize(data.size()) + 64, '\0');
        std::size_t size = out.size();
        if (!BrotliEncoderCompress(5, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_GENERIC, data.size(),
                                   reinterpret_cast<const std::uint8_t*>(data.data()), &size,
                                   reinterpret_cast<std::uint8_t*>(out.data())))
            return {};
        out.resize(size);
        return out;
    }
    if (coding == "zstd") {
        std::string out(ZSTD_compressBound(data.size()), '\0');
        std::size_t size = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3);
        if (ZSTD_isError(size))
            return {};
        out.resize(size);
        return out;
    }
    int bits = coding == "gzip" ? 15 + 16 : coding == "rawdeflate" ? -15 : 15;
    z_stream zs{};
    if (deflateInit2(&zs, 9, Z_DEFLATED, bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&zs, static_cast<uLong>(data.size())) + 64, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    int ret = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return ret == Z_STREAM_END ? out : std::string{};
}

fs::path CacheTestData() {
    return fs::path(TARNHOLD_TEST_DATA) / "cache";
}

namespace {

struct TJsonReader {
    std::string_view s;
    std::size_t i = 0;

    void Skip() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
            ++i;
    }
    std::string String() {
        std::string out;
        ++i; // opening quote
        while (i < s.size() && s[i] != '"') {
            char c = s[i++];
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            char e = s[i++];
            switch (e) {
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case 'b':
                out.push_back('\b');
                break;
            case 'f':
                out.push_back('\f');
                break;
            case 'u': {
                unsigned v = std::stoul(std::string(s.substr(i, 4)), nullptr, 16);
                i += 4;
                if (v > 0xFF)
                    throw std::runtime_error("oracle: character above U+00FF");
                out.push_back(static_cast<char>(v));
                break;
            }
            default:
                out.push_back(e);
                break;
            }
        }
        ++i; // closing quote
        return out;
    }
    std::optional<std::string> Value() {
        Skip();
        if (s[i] == '"')
            return String();
        if (s.substr(i, 4) == "null") {
            i += 4;
            return std::nullopt;
        }
        std::size_t start = i;
        int depth = 0;
        while (i < s.size()) {
            char c = s[i];
            if (c == '[')
                ++depth;
            else if (c == ']')
                --depth;
            else if (c == '"') {
                String();
                continue;
            } else if ((c == ',' || c == '}') && depth == 0)
                break;
            ++i;
        }
        return std::string(s.substr(start, i - start));
    }
};

} // namespace

std::vector<TOracleEntry> ReadOracle(const fs::path& file) {
    std::vector<TOracleEntry> entries;
    std::ifstream in(file, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty())
            continue;
        TJsonReader r{line};
        TOracleEntry entry;
        r.Skip();
        ++r.i; // {
        for (;;) {
            r.Skip();
            if (r.s[r.i] == '}')
                break;
            std::string key = r.String();
            r.Skip();
            ++r.i; // :
            entry[key] = r.Value();
            r.Skip();
            if (r.s[r.i] == ',')
                ++r.i;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::string OracleLocalFile(const TOracleEntry& entry) {
    const auto& v = entry.at("local_file");
    if (!v)
        return {};
    const std::string marker = "\\Content.IE5\\";
    std::string rest = v->substr(v->find(marker) + marker.size());
    for (char& c : rest) {
        if (c == '\\')
            c = '/';
    }
    return rest;
}

std::string ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void CopyTree(const fs::path& from, const fs::path& to) {
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    for (const auto& e : fs::recursive_directory_iterator(to))
        fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
}

TIndexDatNewEntry MakeEntry(const std::string& url, const std::string& fileName, std::uint8_t dir,
                            std::uint64_t size, const std::string& headers) {
    TIndexDatNewEntry e;
    e.Url = url;
    e.FileName = fileName;
    e.DirIndex = dir;
    e.Size = size;
    e.Headers = headers;
    e.LastModified = UnixTimeToFileTime(1350888300); // 2012-10-22 06:45:00 UTC
    e.LastAccess = UnixTimeToFileTime(1367316000);
    return e;
}

void SetBlocksAllocated(std::string& index, std::uint32_t first, std::uint32_t count, bool used) {
    for (std::uint32_t b = first; b < first + count; ++b) {
        auto& byte = reinterpret_cast<unsigned char&>(index[kIdxBitmapOffset + b / 8]);
        const auto mask = static_cast<unsigned char>(1u << (b % 8));
        byte = static_cast<unsigned char>(used ? (byte | mask) : (byte & ~mask));
    }
    std::uint32_t allocated = 0;
    for (std::size_t i = 0; i < kIdxBitmapSize; ++i)
        allocated += static_cast<std::uint32_t>(
            std::popcount(static_cast<unsigned char>(index[kIdxBitmapOffset + i])));
    PutU32(index, kIdxAllocatedBlocksOffset, allocated);
}

std::size_t FreeHashItem(const std::string& index) {
    const auto pages = TIndexDatView(index).HashPages();
    if (pages.empty())
        return 0;
    for (std::size_t i = 0; i < kIdxHashItemCount; ++i) {
        const std::size_t pos = pages[0] + kIdxHashItemsOffset + kIdxHashItemSize * i;
        if (GetU32(index, pos) == kIdxHashNeverUsed)
            return pos;
    }
    return 0;
}

bool AddAliasItem(std::string& index, std::uint32_t recordOffset) {
    const std::size_t pos = FreeHashItem(index);
    if (pos == 0)
        return false;
    PutU32(index, pos, 0x12345600);
    PutU32(index, pos + 4, recordOffset);
    return true;
}

std::vector<TRawCacheEntry> ReadAll(TCacheSource& source) {
    std::vector<TRawCacheEntry> out;
    TRawCacheEntry e;
    for (bool ok = source.First(e); ok; ok = source.Next(e))
        out.push_back(e);
    source.Close();
    return out;
}

namespace {

std::string StripNuls(std::string s) {
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

} // namespace

void ExpectMatchesOracle(const fs::path& container, const fs::path& oracleFile) {
    TIndexDatSource source(container);
    const auto entries = ReadAll(source);
    const auto oracle = ReadOracle(oracleFile);
    ASSERT_EQ(entries.size(), oracle.size());
    for (std::size_t i = 0; i < oracle.size(); ++i) {
        const auto& o = oracle[i];
        const auto& e = entries[i];
        const std::string url = *o.at("url");
        SCOPED_TRACE("entry " + std::to_string(i + 1) + " " + url);
        EXPECT_EQ(e.Url, url);
        const std::string local = OracleLocalFile(o);
        EXPECT_EQ(e.LocalFileName, local.empty() ? fs::path() : container / local);
        EXPECT_EQ(e.EntryType, std::stoul(*o.at("type"), nullptr, 16));
        EXPECT_EQ(e.LastModified.dwHighDateTime,
                  std::stoul(*o.at("last_modified_hi"), nullptr, 16));
        EXPECT_EQ(e.LastModified.dwLowDateTime, std::stoul(*o.at("last_modified_lo"), nullptr, 16));
        EXPECT_EQ(e.Size, std::stoull(*o.at("size_low")) + (std::stoull(*o.at("size_high")) << 32));
        EXPECT_EQ(e.HeaderBlock, StripNuls(o.at("headers").value_or("")));
        EXPECT_EQ(e.FileExtension, o.at("ext").value_or(""));
        if (!e.LocalFileName.empty()) {
            EXPECT_TRUE(fs::exists(e.LocalFileName));
        }
    }
}

int RunProgram(const std::vector<std::string>& argv, std::string* out, std::string* err,
               const std::string& input) {
    TTempDir io;
    const fs::path inFile = io.Path() / "in", outFile = io.Path() / "out",
                   errFile = io.Path() / "err";
    WriteFileBytes(inFile, input);
    pid_t pid = ::fork();
    if (pid == 0) {
        int in = ::open(inFile.c_str(), O_RDONLY);
        int o = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (out != nullptr)
        *out = ReadFileBytes(outFile);
    if (err != nullptr)
        *err = ReadFileBytes(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace tarnhold::test
