#include "sources/chromium/chromiumblockfile.h"

#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace tarnhold {

namespace {

constexpr std::uint32_t kIndexMagic = 0xC103CAC3u;
constexpr std::uint32_t kBlockMagic = 0xC104CAC3u;
constexpr std::uint32_t kBlockVersion = 0x20000u;
constexpr std::size_t kIndexHeaderSize = 368;
constexpr std::uint32_t kDefaultTableLength = 0x10000;
// A table larger than the browser ever makes is read no further.
constexpr std::uint64_t kMaxTableLength = 1u << 24;
constexpr std::size_t kTablePiece = 1u << 16; // slots read at once
constexpr std::size_t kEntrySize = 256;
constexpr std::size_t kSelfHashed = 92;
constexpr std::size_t kInlineKeyAt = 96;
constexpr std::uint32_t kMaxBlockStream = 16384;
// The block files this reader opens: data_0 .. data_255 (the selector's range).
constexpr std::uint32_t kMaxBlockFiles = 256;
// The block files held in memory while reading (entries, rankings): their
// blocks are small and read many at a time.
constexpr std::uint32_t kMaxHeldBlockSize = 256;

std::uint16_t U16(std::string_view d, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(d[at]) |
                                      (static_cast<unsigned char>(d[at + 1]) << 8));
}

TError Damaged(std::string reason) {
    return TError::Message(std::move(reason));
}

bool PRead(int fd, std::uint64_t offset, std::size_t len, std::string& out) {
    out.resize(len);
    const ssize_t n = ReadAt(fd, out.data(), len, offset);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out.size() == len;
}

// Opens a file of the cache folder for reading: never through a link, only
// a regular file. -1 with errno set otherwise.
int OpenHere(int dirFd, const char* name, std::uint64_t& size) {
    const int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

std::string BlockFileName(std::uint32_t n) {
    return "data_" + std::to_string(n);
}

std::string ExternalFileName(std::uint32_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "f_%06x", n);
    return name;
}

std::uint64_t BlockfileOffsetOf(TBlockfileAddr a) {
    return kBlockFileHeaderSize + static_cast<std::uint64_t>(a.Start()) * a.BlockSize();
}

} // namespace

std::uint32_t TBlockfileAddr::BlockSize() const {
    switch (Type()) {
    case Rankings:
        return kBlockfileRankingsSize;
    case Block256:
        return 256;
    case Block1K:
        return 1024;
    case Block4K:
        return 4096;
    default:
        return 0;
    }
}

bool TBlockfileAddr::Sane() const {
    if (!Initialized())
        return false;
    if (IsExternal())
        return true;
    if (BlockSize() == 0 || (Value & 0x0C000000u) != 0)
        return false;
    return Start() % 4 + Blocks() <= 4;
}

std::string TBlockfileAddr::Describe() const {
    if (IsExternal())
        return ExternalFileName(FileNumber());
    char text[64];
    std::snprintf(text, sizeof text, "%s block %u (%u %s)", BlockFileName(File()).c_str(), Start(),
                  Blocks(), Blocks() == 1 ? "block" : "blocks");
    return text;
}

TError ParseBlockFileHeader(std::string_view header, std::uint32_t number, TBlockFileHeader& out) {
    out = {};
    if (header.size() < kBlockFileHeaderSize)
        return Damaged("shorter than a block file's header");
    if (ChromiumU32(header, 0) != kBlockMagic)
        return Damaged("no block file (wrong magic number)");
    out.Version = ChromiumU32(header, 4);
    out.ThisFile = static_cast<std::int16_t>(U16(header, 8));
    out.NextFile = static_cast<std::int16_t>(U16(header, 10));
    out.EntrySize = ChromiumU32(header, 12);
    out.NumEntries = ChromiumU32(header, 16);
    out.MaxEntries = ChromiumU32(header, 20);
    out.Updating = ChromiumU32(header, 56);
    if (out.Version != kBlockVersion)
        return Damaged("block file version " + std::to_string(out.Version >> 16) + "." +
                       std::to_string(out.Version & 0xffff) + " is not known");
    if (out.ThisFile < 0 || static_cast<std::uint32_t>(out.ThisFile) != number)
        return Damaged("the header names another file (data_" + std::to_string(out.ThisFile) + ")");
    if (out.EntrySize != 36 && out.EntrySize != 256 && out.EntrySize != 1024 &&
        out.EntrySize != 4096)
        return Damaged("no known block size (" + std::to_string(out.EntrySize) + ")");
    if (out.MaxEntries > kBlockFileMaxBlocks || out.MaxEntries % 4 != 0)
        return Damaged("room for " + std::to_string(out.MaxEntries) + " blocks claimed");
    return {};
}

TError ParseBlockfileEntry(std::string_view record, TBlockfileEntry& out) {
    out = {};
    if (record.size() < kEntrySize || record.size() % kEntrySize != 0 ||
        record.size() > 4 * kEntrySize)
        return Damaged("an entry record of " + std::to_string(record.size()) + " bytes");
    out.Hash = ChromiumU32(record, 0);
    out.Next.Value = ChromiumU32(record, 4);
    out.RankingsNode.Value = ChromiumU32(record, 8);
    out.ReuseCount = ChromiumU32(record, 12);
    out.State = ChromiumU32(record, 20);
    out.CreationTime = static_cast<std::int64_t>(ChromiumU64(record, 24));
    out.KeyLength = ChromiumU32(record, 32);
    out.LongKey.Value = ChromiumU32(record, 36);
    for (int i = 0; i < 4; ++i) {
        out.DataSize[i] = ChromiumU32(record, 40 + 4 * static_cast<std::size_t>(i));
        out.DataAddr[i].Value = ChromiumU32(record, 56 + 4 * static_cast<std::size_t>(i));
    }
    out.Flags = ChromiumU32(record, 72);
    const std::uint32_t selfHash = ChromiumU32(record, kSelfHashed);
    out.SelfHashMismatch =
        selfHash != 0 && selfHash != ChromiumKeyHash(record.substr(0, kSelfHashed));

    if (out.State > kBlockfileEntryDoomed)
        return Damaged("no known state (" + std::to_string(out.State) + ")");
    if (out.KeyLength == 0)
        return Damaged("no key");
    if (out.KeyLength > 0x7fffffffu)
        return Damaged("a key of " + std::to_string(out.KeyLength) + " bytes");
    if (out.RankingsNode.Type() != TBlockfileAddr::Rankings || !out.RankingsNode.Sane() ||
        out.RankingsNode.Blocks() != 1)
        return Damaged("no rankings node");
    if (out.Next.Value != 0 && (!out.Next.Sane() || out.Next.Type() != TBlockfileAddr::Block256))
        return Damaged("the next entry's address names no entry");
    const std::size_t blocks = record.size() / kEntrySize;
    if (out.KeyLength > kBlockfileMaxInlineKey) {
        if (blocks != 1)
            return Damaged("a key kept apart, in an entry of several blocks");
        if (!out.LongKey.Sane())
            return Damaged("the key's address names nothing");
        // A key up to 16 KiB lies in a block file, a longer one in a file of its own.
        if (out.LongKey.IsExternal() != (out.KeyLength >= kMaxBlockStream))
            return Damaged("the key's address is of the wrong kind for its length");
    } else {
        if (out.LongKey.Value != 0)
            return Damaged("a key both in the record and apart");
        const std::size_t needed =
            out.KeyLength < kEntrySize - kInlineKeyAt ? 1 : (out.KeyLength - 160) / kEntrySize + 2;
        if (needed != blocks)
            return Damaged("a key of " + std::to_string(out.KeyLength) + " bytes in " +
                           std::to_string(blocks) + " blocks");
        out.Key.assign(record.substr(kInlineKeyAt, out.KeyLength));
        if (record[kInlineKeyAt + out.KeyLength] != '\0')
            return Damaged("the key does not end where its length says");
    }
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t size = out.DataSize[i];
        const TBlockfileAddr a = out.DataAddr[i];
        auto stream = [i] { return "stream " + std::to_string(i); };
        if (size == 0) {
            if (a.Value != 0 && out.State == 0)
                return Damaged(stream() + " is empty but has an address");
            continue;
        }
        if (size > 0x7fffffffu)
            return Damaged(stream() + " claims " + std::to_string(size) + " bytes");
        if (!a.Sane() || a.Type() == TBlockfileAddr::Rankings)
            return Damaged(stream() + "'s address names nothing");
        if (a.IsExternal() != (size > kMaxBlockStream))
            return Damaged(stream() + "'s address is of the wrong kind for its size");
        if (!a.IsExternal() && size > static_cast<std::uint64_t>(a.Blocks()) * a.BlockSize())
            return Damaged(stream() + " is larger than its blocks");
    }
    return {};
}

TError ParseBlockfileRankings(std::string_view node, TBlockfileRankings& out) {
    out = {};
    if (node.size() < kBlockfileRankingsSize)
        return Damaged("a rankings node of " + std::to_string(node.size()) + " bytes");
    out.LastUsed = static_cast<std::int64_t>(ChromiumU64(node, 0));
    out.Next.Value = ChromiumU32(node, 16);
    out.Prev.Value = ChromiumU32(node, 20);
    out.Contents.Value = ChromiumU32(node, 24);
    out.Dirty = ChromiumU32(node, 28);
    const std::uint32_t selfHash = ChromiumU32(node, 32);
    out.SelfHashMismatch = selfHash != 0 && selfHash != ChromiumKeyHash(node.substr(0, 32));
    return {};
}

bool IsChromiumBlockfileFolder(const std::filesystem::path& folder) {
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    auto magic = [dirFd](const char* name, std::uint32_t& value) {
        std::uint64_t size = 0;
        const int fd = OpenHere(dirFd, name, size);
        if (fd < 0)
            return false;
        std::string head;
        const bool ok = PRead(fd, 0, 4, head);
        ::close(fd);
        value = ok ? ChromiumU32(head, 0) : 0;
        return true;
    };
    std::uint32_t index = 0, data = 0;
    const bool found = magic("index", index) &&
                       (index == kIndexMagic || (magic("data_1", data) && data == kBlockMagic));
    ::close(dirFd);
    return found;
}

// ---------------------------------------------------------------------------

// The files of the cache folder, each opened once, never through a link.
class TChromiumBlockfileSource::TFiles {
public:
    struct TBlockFile {
        bool Tried = false;
        int Fd = -1;
        std::uint64_t Size = 0;
        TBlockFileHeader Header;
        std::string Bitmap;       // the allocation bitmap of the header
        std::string Held;         // the whole file, for files of small blocks
        std::string Name;         // "data_<n>"
        std::string Problem;      // why the file cannot be read; empty when it can
        std::uint32_t Blocks = 0; // blocks present in full
    };

    TFiles(int dirFd, TChromiumBlockfileSource& source) : dirFd_(dirFd), source_(source) {}
    ~TFiles() {
        for (auto& [n, f] : files_) {
            if (f.Fd >= 0)
                ::close(f.Fd);
            if (f.Held.capacity() > 0)
                source_.spareHeld_.push_back(std::move(f.Held));
        }
        ::close(dirFd_);
    }
    TFiles(const TFiles&) = delete;
    TFiles& operator=(const TFiles&) = delete;

    int DirFd() const { return dirFd_; }

    // The block file data_<n>, opened and checked on first use; its Problem
    // says why it cannot be read.
    TBlockFile& Block(std::uint32_t n) {
        TBlockFile& f = files_[n];
        if (f.Tried)
            return f;
        f.Tried = true;
        f.Name = BlockFileName(n);
        const std::string& name = f.Name;
        f.Fd = OpenHere(dirFd_, name.c_str(), f.Size);
        if (f.Fd < 0) {
            f.Problem = errno == ENOENT ? "missing" : std::strerror(errno);
            Note(name + ": " + f.Problem);
            return f;
        }
        std::string header;
        if (!PRead(f.Fd, 0, kBlockFileHeaderSize, header)) {
            f.Problem = "shorter than a block file's header";
        } else if (TError e = ParseBlockFileHeader(header, n, f.Header)) {
            f.Problem = e.Text();
        }
        if (!f.Problem.empty()) {
            Note(name + ": " + f.Problem);
            return f;
        }
        f.Bitmap = header.substr(80);
        const std::uint64_t room = f.Size - kBlockFileHeaderSize;
        f.Blocks = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(f.Header.MaxEntries, room / f.Header.EntrySize));
        if (f.Blocks < f.Header.MaxEntries) {
            Note(name + ": cut short: " + std::to_string(f.Blocks) + " of " +
                 std::to_string(f.Header.MaxEntries) + " blocks present");
            ++cutFiles_;
        }
        if (f.Header.EntrySize <= kMaxHeldBlockSize) {
            // Into the buffer the last refresh held a file in, when there is one.
            auto& spare = source_.spareHeld_;
            if (!spare.empty()) {
                f.Held = std::move(spare.back());
                spare.pop_back();
            }
            if (!PRead(f.Fd, kBlockFileHeaderSize,
                       static_cast<std::size_t>(f.Blocks) * f.Header.EntrySize, f.Held))
                f.Held.clear(); // read block by block instead
        }
        return f;
    }

    bool Allocated(const TBlockFile& f, std::uint32_t block) const {
        return block / 8 < f.Bitmap.size() &&
               (static_cast<unsigned char>(f.Bitmap[block / 8]) >> (block % 8) & 1) != 0;
    }

    // The bytes of a block address, all of its blocks: where the file is
    // held, a view of it, else read into scratch. False with the reason.
    bool ReadBlocks(TBlockfileAddr a, std::string_view& out, std::string& scratch,
                    std::string& why) {
        if (!a.Sane() || a.IsExternal()) {
            why = "the address " + Hex(a.Value) + " names no blocks";
            return false;
        }
        TBlockFile& f = Block(a.File());
        if (!f.Problem.empty()) {
            why = BlockFileName(a.File()) + " is " +
                  (f.Problem == "missing" ? "missing" : "unreadable (" + f.Problem + ")");
            return false;
        }
        if (f.Header.EntrySize != a.BlockSize()) {
            why = a.Describe() + ": the file holds blocks of another size";
            return false;
        }
        if (a.Start() + a.Blocks() > f.Blocks) {
            why = a.Describe() + ": beyond the file's end";
            return false;
        }
        const std::size_t len = static_cast<std::size_t>(a.Blocks()) * f.Header.EntrySize;
        const std::size_t at = static_cast<std::size_t>(a.Start()) * f.Header.EntrySize;
        if (!f.Held.empty()) {
            out = std::string_view(f.Held).substr(at, len);
            return true;
        }
        if (!PRead(f.Fd, kBlockFileHeaderSize + at, len, scratch)) {
            why = a.Describe() + ": cannot be read";
            return false;
        }
        out = scratch;
        return true;
    }

    // Where a stream of size bytes at a lies: its file, its offset there,
    // and how much of it the file holds. False with the reason when nothing
    // of it can be read.
    bool Locate(TBlockfileAddr a, std::uint32_t size, std::string& file, std::uint64_t& offset,
                std::uint64_t& present, std::string& why) {
        if (a.IsExternal()) {
            file = ExternalFileName(a.FileNumber());
            offset = 0;
            std::uint64_t fileSize = 0;
            const int fd = OpenHere(dirFd_, file.c_str(), fileSize);
            if (fd < 0) {
                why = file + " is " + (errno == ENOENT ? "missing" : std::strerror(errno));
                return false;
            }
            ::close(fd);
            present = std::min<std::uint64_t>(size, fileSize);
            if (present < size)
                why = file + " holds " + std::to_string(present) + " of its " +
                      std::to_string(size) + " bytes";
            return true;
        }
        if (!a.Sane()) {
            why = "the address " + Hex(a.Value) + " names nothing";
            return false;
        }
        TBlockFile& f = Block(a.File());
        file = f.Name;
        if (!f.Problem.empty()) {
            why = file + " is " +
                  (f.Problem == "missing" ? "missing" : "unreadable (" + f.Problem + ")");
            return false;
        }
        if (f.Header.EntrySize != a.BlockSize()) {
            why = a.Describe() + ": the file holds blocks of another size";
            return false;
        }
        offset = kBlockFileHeaderSize + static_cast<std::uint64_t>(a.Start()) * f.Header.EntrySize;
        if (a.Start() + a.Blocks() > f.Header.MaxEntries) {
            why = a.Describe() + ": beyond the file's blocks";
            return false;
        }
        present = f.Size > offset ? std::min<std::uint64_t>(size, f.Size - offset) : 0;
        if (present == 0) {
            why = a.Describe() + ": beyond the end of the file";
            return false;
        }
        if (present < size)
            why = a.Describe() + ": the file ends after " + std::to_string(present) + " of " +
                  std::to_string(size) + " bytes";
        return true;
    }

    // A stream read whole (a response head, a key), as ReadBlocks reads:
    // false with the reason when any of it is missing.
    bool ReadStream(TBlockfileAddr a, std::uint32_t size, std::string_view& out,
                    std::string& scratch, std::string& why) {
        if (a.IsExternal()) {
            const std::string file = ExternalFileName(a.FileNumber());
            std::uint64_t fileSize = 0;
            const int fd = OpenHere(dirFd_, file.c_str(), fileSize);
            if (fd < 0) {
                why = file + " is " + (errno == ENOENT ? "missing" : std::strerror(errno));
                return false;
            }
            const bool whole = fileSize >= size;
            const bool ok = whole && PRead(fd, 0, size, scratch);
            ::close(fd);
            if (!whole)
                why = file + " holds " + std::to_string(fileSize) + " of its " +
                      std::to_string(size) + " bytes";
            else if (!ok)
                why = file + ": cannot be read";
            out = scratch;
            return ok;
        }
        std::string file;
        std::uint64_t offset = 0, present = 0;
        if (!Locate(a, size, file, offset, present, why) || present < size)
            return false;
        TBlockFile& f = Block(a.File());
        if (!f.Held.empty()) {
            out = std::string_view(f.Held).substr(
                static_cast<std::size_t>(offset - kBlockFileHeaderSize), size);
            return true;
        }
        if (!PRead(f.Fd, offset, size, scratch)) {
            why = a.Describe() + ": cannot be read";
            return false;
        }
        out = scratch;
        return true;
    }

    static std::string Hex(std::uint32_t v) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08x", v);
        return text;
    }

    int CutFiles() const { return cutFiles_; }
    const std::map<std::uint32_t, TBlockFile>& All() const { return files_; }

private:
    void Note(std::string problem) {
        source_.Problem(std::move(problem));
        ++fileProblems_;
    }
    int dirFd_;
    TChromiumBlockfileSource& source_;
    std::map<std::uint32_t, TBlockFile> files_;
    int fileProblems_ = 0;
    int cutFiles_ = 0;

public:
    int FileProblems() const { return fileProblems_; }
};

TChromiumBlockfileSource::TChromiumBlockfileSource(std::filesystem::path folder)
    : TChromiumSourceBase(std::move(folder), true) {}

TChromiumBlockfileSource::~TChromiumBlockfileSource() = default;

namespace {

// What the index's header says.
struct TIndexHeader {
    bool Sound = false;
    std::uint32_t Version = 0;
    std::uint32_t NumEntries = 0;
    std::uint64_t TableLength = 0; // slots read
    bool Crashed = false;
};

} // namespace

bool TChromiumBlockfileSource::Collect() {
    counts_ = TBlockfileCounts{};
    fileProblems_ = 0;
    int dirFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        error_ = TError::FromErrno(errno, folder_.string());
        return false;
    }
    auto problem = [&](std::string text) { Problem(std::move(text)); };
    TFiles files(dirFd, *this);

    // The index: its header, then the table read a piece at a time.
    std::uint64_t indexSize = 0;
    const int indexFd = OpenHere(dirFd, "index", indexSize);
    TIndexHeader index;
    if (indexFd < 0) {
        const int code = errno;
        if (!files.Block(1).Problem.empty()) {
            error_ = TError::FromErrno(code, (folder_ / "index").string());
            return false;
        }
        counts_.IndexDamaged = true;
        problem(std::string("index: ") + std::strerror(code) +
                "; the entries were looked for in the block files");
    } else {
        std::string header;
        if (!PRead(indexFd, 0, kIndexHeaderSize, header)) {
            counts_.IndexDamaged = true;
            problem("index: shorter than its header");
        } else {
            index.Version = ChromiumU32(header, 4);
            index.NumEntries = ChromiumU32(header, 8);
            std::uint64_t tableLength = ChromiumU32(header, 28);
            if (tableLength == 0)
                tableLength = kDefaultTableLength;
            index.Crashed = ChromiumU32(header, 32) != 0;
            const std::uint64_t room = (indexSize - kIndexHeaderSize) / 4;
            std::string why;
            if (ChromiumU32(header, 0) != kIndexMagic)
                why = "the header is damaged (no blockfile magic number)";
            else if (index.Version != 0x20000 && index.Version != 0x20001 &&
                     index.Version != 0x30000)
                why = "version " + std::to_string(index.Version >> 16) + "." +
                      std::to_string(index.Version & 0xffff) + " is not known";
            else if (tableLength % kDefaultTableLength != 0)
                why = "the table's length (" + std::to_string(tableLength) +
                      ") is none the browser uses";
            else if (tableLength > room)
                why = "the table is cut short (" + std::to_string(room) + " of " +
                      std::to_string(tableLength) + " slots)";
            else if (ChromiumU32(header, 56) != 0)
                why = "the browser found it corrupt";
            if (why.empty()) {
                index.Sound = true;
                index.TableLength = tableLength;
            } else {
                counts_.IndexDamaged = true;
                index.TableLength = room;
                problem("index: " + why + "; the table was read as far as the file goes");
            }
            if (index.TableLength > kMaxTableLength) {
                problem("index: only the first " + std::to_string(kMaxTableLength) + " of " +
                        std::to_string(index.TableLength) + " slots were read");
                index.TableLength = kMaxTableLength;
            }
        }
    }

    // Entries, each read once by its address.
    // The blocks of 256 bytes known to hold a record or a stream, per file:
    // an address that leads to them again closes a loop, and the scan for
    // records the index did not reach passes them over.
    std::vector<std::vector<bool>> known(kMaxBlockFiles);
    auto isKnown = [&](TBlockfileAddr a) {
        const std::vector<bool>& k = known[a.File()];
        for (std::uint32_t b = a.Start(); b < a.Start() + a.Blocks(); ++b)
            if (b < k.size() && k[b])
                return true;
        return false;
    };
    auto markKnown = [&](TBlockfileAddr a) {
        if (!a.Sane() || a.Type() != TBlockfileAddr::Block256)
            return;
        std::vector<bool>& k = known[a.File()];
        if (k.size() < a.Start() + a.Blocks())
            k.resize(std::max<std::size_t>(a.Start() + a.Blocks(), 2 * k.size()), false);
        for (std::uint32_t b = a.Start(); b < a.Start() + a.Blocks(); ++b)
            k[b] = true;
    };
    bool chainsDamaged = false;

    // Reads the entry at a and, when it can be listed, keeps it. reached:
    // through the index (else found in the block files).
    // Buffers for what is read of files that are not held.
    std::string recordScratch, keyScratch, headScratch, nodeScratch;
    auto take = [&](TBlockfileAddr a, const TBlockfileEntry& e, std::string& key, bool reached) {
        for (int i = 0; i < 4; ++i)
            if (e.DataSize[i] != 0)
                markKnown(e.DataAddr[i]);
        if (e.LongKey.Value != 0)
            markKnown(e.LongKey);
        auto where = [a] { return a.Describe(); };
        const bool live = e.State == 0 && (reached || counts_.IndexDamaged || chainsDamaged);
        if ((e.Flags & 3) != 0 || key.compare(0, 6, "Range_") == 0) {
            ++counts_.Ranges;
            return;
        }
        TChromiumItem item;
        TChromiumEntry& c = item.Entry;
        c.Key = std::move(key);
        c.Url = ChromiumKeyUrl(c.Key, &c.Upload);
        item.Id = a.Value;
        std::string unlisted;
        switch (ChromiumKeyUse(c, unlisted)) {
        case TChromiumKeyUse::Upload:
            ++counts_.Uploads;
            return;
        case TChromiumKeyUse::Damaged:
            ++counts_.Damaged;
            problem(where() + ": " + unlisted + " (" + ChromiumShownKey(c.Key) + ")");
            return;
        case TChromiumKeyUse::List:
            break;
        }
        // The response head, then the body.
        std::vector<std::string> lacks;
        bool headRead = false;
        if (e.DataSize[0] == 0) {
            lacks.push_back("no response head");
        } else {
            std::string_view pickle;
            std::string why;
            if (e.DataSize[0] > kChromiumMaxHead)
                lacks.push_back("a response head of " + std::to_string(e.DataSize[0]) + " bytes");
            else if (!files.ReadStream(e.DataAddr[0], e.DataSize[0], pickle, headScratch, why))
                lacks.push_back("the response head: " + why);
            else if (TError error = ParseChromiumHead(pickle, c))
                lacks.push_back(error.Text());
            else
                headRead = true;
        }
        bool bodyWhole = true;
        if (e.DataSize[1] > 0) {
            std::string file, why;
            std::uint64_t offset = 0, present = 0;
            if (files.Locate(e.DataAddr[1], e.DataSize[1], file, offset, present, why)) {
                item.File = std::move(file);
                c.BodyOffset = offset;
                c.BodyLength = present;
            }
            if (present < e.DataSize[1]) {
                bodyWhole = false;
                lacks.push_back("the body: " + why);
            }
        } else {
            // An empty body: an empty slice of the index.
            item.File = "index";
        }
        // When it was last used, and whether it was open.
        const bool whole = headRead && bodyWhole;
        std::string_view node;
        std::string why;
        TBlockfileRankings r;
        if (files.ReadBlocks(e.RankingsNode, node, nodeScratch, why) &&
            ParseBlockfileRankings(node, r).Ok()) {
            if (r.Dirty != 0 && e.State == 0)
                lacks.push_back("it was open when the cache was copied (possibly incomplete)");
            if (c.ResponseTime <= 0)
                c.ResponseTime = r.LastUsed;
        }
        if (c.ResponseTime <= 0)
            c.ResponseTime = e.CreationTime;
        if (!live) {
            // Deleted by the browser: given out only when whole.
            if (!whole) {
                ++counts_.Evicted;
                return;
            }
            item.Deleted = true;
            ++counts_.Deleted;
            Keep(std::move(item));
            return;
        }
        if (!reached)
            ++counts_.Unindexed;
        if (!lacks.empty()) {
            ++counts_.Partial;
            std::string text = where() + " (" + ChromiumShownKey(c.Url) + "): ";
            for (std::size_t i = 0; i < lacks.size(); ++i)
                text += (i == 0 ? "" : "; ") + lacks[i];
            problem(text);
        }
        if (c.Truncated) {
            ++counts_.Truncated;
            problem(where() + " (" + ChromiumShownKey(c.Url) +
                    "): the body is stored only in part");
        }
        if (!reached)
            problem(where() + " (" + ChromiumShownKey(c.Url) +
                    "): found in the block files, not through the index");
        Keep(std::move(item));
    };

    // Loads the entry record at a with its key; false with the reason.
    auto load = [&](TBlockfileAddr a, TBlockfileEntry& e, std::string& key, std::string& why,
                    std::string& mismatch) {
        std::string_view record;
        if (!files.ReadBlocks(a, record, recordScratch, why))
            return false;
        if (TError error = ParseBlockfileEntry(record, e)) {
            why = error.Text();
            return false;
        }
        key = std::move(e.Key);
        if (e.LongKey.Value != 0) {
            std::string_view stored;
            if (!files.ReadStream(e.LongKey, e.KeyLength, stored, keyScratch, why)) {
                why = "the key: " + why;
                return false;
            }
            key.assign(stored);
        }
        const bool keyFits = ChromiumKeyHash(key) == e.Hash;
        if (!keyFits && e.SelfHashMismatch) {
            why = "the record is torn (neither its checksum nor its key's hash fits)";
            return false;
        }
        if (!keyFits || e.SelfHashMismatch)
            mismatch =
                keyFits ? "the record's checksum does not fit" : "the key's hash does not fit";
        return true;
    };

    if (indexFd >= 0 && index.TableLength > 0) {
        const bool masked = (index.TableLength & (index.TableLength - 1)) == 0;
        std::string piece;
        for (std::uint64_t first = 0; first < index.TableLength; first += kTablePiece) {
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(kTablePiece, index.TableLength - first));
            if (!PRead(indexFd, kIndexHeaderSize + first * 4, n * 4, piece)) {
                counts_.IndexDamaged = true;
                problem("index: the table cannot be read past slot " + std::to_string(first));
                break;
            }
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint64_t slot = first + i;
                TBlockfileAddr a{ChromiumU32(piece, i * 4)};
                for (TBlockfileAddr prev{}; a.Value != 0;) {
                    auto from = [&] {
                        return prev.Value == 0 ? "index slot " + std::to_string(slot)
                                               : prev.Describe();
                    };
                    if (!a.Sane() || a.Type() != TBlockfileAddr::Block256) {
                        ++counts_.BadAddresses;
                        chainsDamaged = true;
                        problem(from() + ": names no entry (" + TFiles::Hex(a.Value) + ")");
                        break;
                    }
                    if (isKnown(a)) {
                        ++counts_.BadAddresses;
                        chainsDamaged = true;
                        problem(from() + ": the chain of slot " + std::to_string(slot) +
                                " leads back to " + a.Describe());
                        break;
                    }
                    markKnown(a);
                    TBlockfileEntry e;
                    std::string key, why, mismatch;
                    if (!load(a, e, key, why, mismatch)) {
                        ++counts_.Damaged;
                        chainsDamaged = true;
                        // A block that cannot be read names its place itself.
                        const std::string place = a.Describe();
                        problem(why.compare(0, place.size(), place) == 0 ? why
                                                                         : place + ": " + why);
                        break;
                    }
                    if (masked && mismatch.empty() && (e.Hash & (index.TableLength - 1)) != slot)
                        mismatch =
                            "in slot " + std::to_string(slot) + ", not in the slot of its hash";
                    if (!mismatch.empty()) {
                        ++counts_.Mismatched;
                        problem(a.Describe() + ": " + mismatch + ": read as it is");
                    }
                    take(a, e, key, true);
                    prev = a;
                    a = e.Next;
                }
            }
        }
    }
    if (indexFd >= 0)
        ::close(indexFd);

    // The entry records the index did not reach: lost to damage, or deleted.
    // Entries live in the files of 256-byte blocks, data_1 and the files it
    // runs on into.
    std::unordered_set<std::uint32_t> scannedFiles;
    for (std::uint32_t n = 1; n < kMaxBlockFiles && scannedFiles.insert(n).second;) {
        const TFiles::TBlockFile& f = files.Block(n);
        if (!f.Problem.empty() || f.Header.EntrySize != kEntrySize)
            break;
        const std::vector<bool>& k = known[n];
        std::string_view first;
        std::string firstScratch, why;
        for (std::uint32_t block = 0; block < f.Blocks; ++block) {
            if ((block < k.size() && k[block]) || !files.Allocated(f, block))
                continue;
            TBlockfileAddr one{0xA0000000u | (n << 16) | block};
            if (!files.ReadBlocks(one, first, firstScratch, why) || ChromiumU32(first, 32) == 0)
                continue;
            // The record's length follows from its key's.
            const std::uint32_t keyLength = ChromiumU32(first, 32);
            const std::uint32_t blocks =
                keyLength < kEntrySize - kInlineKeyAt || keyLength > kBlockfileMaxInlineKey
                    ? 1
                    : (keyLength - 160) / kEntrySize + 2;
            if (block % 4 + blocks > 4)
                continue;
            TBlockfileAddr a{one.Value | ((blocks - 1) << 24)};
            if (isKnown(a))
                continue;
            TBlockfileEntry e;
            std::string key;
            // Only a record whose checksum and key's hash both fit is taken
            // for an entry.
            std::string mismatch;
            if (!load(a, e, key, why, mismatch) || !mismatch.empty())
                continue;
            markKnown(a);
            take(a, e, key, false);
        }
        if (f.Header.NextFile <= 0)
            break;
        n = static_cast<std::uint32_t>(f.Header.NextFile);
    }
    counts_.Crashed = index.Crashed;
    if (index.Crashed)
        problem("index: the browser did not close the cache (copied while it ran, or it crashed)");

    fileProblems_ = files.FileProblems();
    return true;
}

std::string TChromiumBlockfileSource::CopyFile(const TChromiumItem& item) const {
    return PathOf(BlockFileName(TBlockfileAddr{static_cast<std::uint32_t>(item.Id)}.File()));
}

std::string TChromiumBlockfileSource::Describe() const {
    return DescribeAs("Chromium blockfile cache", {{counts_.Damaged, " damaged entries"},
                                                   {counts_.Partial, " entries read in part"}});
}

TReadReport TChromiumBlockfileSource::ReadReport() const {
    const TBlockfileCounts& c = counts_;
    TReadReport report;
    report.SkippedRecords = static_cast<std::size_t>(c.Damaged);
    report.BadReferences = static_cast<std::size_t>(c.BadAddresses);
    report.RecoveredRecords = static_cast<std::size_t>(c.Unindexed);
    report.DeletedRecords = static_cast<std::size_t>(c.Deleted);
    report.Damaged = c.IndexDamaged || c.Crashed || fileProblems_ > 0 || c.Damaged > 0 ||
                     c.BadAddresses > 0 || c.Mismatched > 0 || c.Partial > 0 || c.Truncated > 0 ||
                     c.Unindexed > 0;
    if (!report.Damaged)
        return report;
    std::vector<std::string> parts;
    if (c.IndexDamaged)
        parts.emplace_back("the index's header cannot be trusted");
    if (c.Crashed)
        parts.emplace_back("the browser did not close it");
    AddCount(parts, fileProblems_, " block files missing or unreadable");
    AddCount(parts, c.BadAddresses, " addresses in the index name nothing readable");
    AddCount(parts, c.Damaged, " entry records could not be read");
    AddCount(parts, c.Mismatched, " read despite a checksum that does not fit");
    AddCount(parts, c.Partial, " entries read in part");
    AddCount(parts, c.Truncated, " with only part of the body stored");
    AddCount(parts, c.Unindexed, " entries found in the block files, not through the index");
    Summarize(report, parts, c.Problems.size());
    return report;
}

namespace {

void Put32(std::string& d, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        d[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

bool PWrite(int fd, std::uint64_t offset, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Removes entries from a blockfile cache as the browser removes one it
// dooms: every structure left consistent by itself, since the cache keeps
// no journal. Everything an entry's removal touches is read and checked
// before the first byte is written; what does not hold is refused.
class TBlockfileEditor {
public:
    explicit TBlockfileEditor(std::filesystem::path folder) : folder_(std::move(folder)) {}
    ~TBlockfileEditor() {
        for (auto& [n, f] : files_)
            if (f.Fd >= 0)
                ::close(f.Fd);
        if (indexFd_ >= 0)
            ::close(indexFd_);
        if (dirFd_ >= 0)
            ::close(dirFd_);
    }
    TBlockfileEditor(const TBlockfileEditor&) = delete;
    TBlockfileEditor& operator=(const TBlockfileEditor&) = delete;

    // Opens the index and checks that the cache is one the browser keeps.
    TError Open();
    // Removes the first entry in use whose key names url; *found is false
    // when none does.
    TError DeleteFirst(std::string_view url, bool& found);

private:
    struct TFile {
        int Fd = -1;
        std::string Header; // the 8 KiB header
        std::string Held;   // data_0 whole (the rankings nodes)
        std::uint64_t Size = 0;
        TBlockFileHeader Parsed;
    };
    struct TTarget {
        std::uint64_t Slot = 0;
        std::uint32_t Address = 0, Prev = 0; // Prev: the entry before it in its chain
        TBlockfileEntry Entry;
        std::string PrevRecord; // the record of Prev
    };
    TError Fail(std::string why) const {
        return TError::Message(folder_.string() + ": cannot delete safely: " + why);
    }
    TError File(std::uint32_t n, TFile*& out);
    TError ReadRecord(std::uint32_t address, std::string& out);
    TError Node(std::uint32_t address, std::string& out);
    TError Remove(const TTarget& t);
    bool Allocated(const TFile& f, TBlockfileAddr a) const;

    std::filesystem::path folder_;
    int dirFd_ = -1;
    int indexFd_ = -1;
    std::string header_; // the index's header
    std::uint32_t version_ = 0;
    std::uint64_t tableLength_ = 0;
    std::map<std::uint32_t, TFile> files_;
};

TError TBlockfileEditor::Open() {
    dirFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0)
        return TError::FromErrno(errno, folder_.string());
    indexFd_ = ::openat(dirFd_, "index", O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (indexFd_ < 0 || ::fstat(indexFd_, &st) != 0 || !S_ISREG(st.st_mode))
        return TError::FromErrno(indexFd_ < 0 ? errno : EINVAL, (folder_ / "index").string());
    if (!PRead(indexFd_, 0, kIndexHeaderSize, header_))
        return Fail("the index is shorter than its header");
    version_ = ChromiumU32(header_, 4);
    tableLength_ = ChromiumU32(header_, 28) == 0 ? kDefaultTableLength : ChromiumU32(header_, 28);
    if (ChromiumU32(header_, 0) != kIndexMagic)
        return Fail("the index's header is damaged");
    if (version_ != 0x20000 && version_ != 0x20001 && version_ != 0x30000)
        return Fail("index version " + std::to_string(version_ >> 16) + "." +
                    std::to_string(version_ & 0xffff) + " is not known");
    if (tableLength_ % kDefaultTableLength != 0 || tableLength_ > kMaxTableLength ||
        static_cast<std::uint64_t>(st.st_size) < kIndexHeaderSize + 4 * tableLength_)
        return Fail("the index's table does not fit its file");
    if (ChromiumU32(header_, 56) != 0)
        return Fail("the browser found the cache corrupt and will discard it");
    if (ChromiumU32(header_, 32) != 0)
        return Fail("the browser did not close the cache (it runs, or it crashed): open it in "
                    "the browser once and close it");
    if (ChromiumU32(header_, 256 + 72) != 0)
        return Fail("a change of the browser's recently-used lists was left unfinished");
    return {};
}

TError TBlockfileEditor::File(std::uint32_t n, TFile*& out) {
    auto [it, inserted] = files_.try_emplace(n);
    TFile& f = it->second;
    out = &f;
    if (!inserted)
        return f.Fd >= 0 ? TError{} : Fail(BlockFileName(n) + " cannot be opened");
    const std::string name = BlockFileName(n);
    f.Fd = ::openat(dirFd_, name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    struct stat st {};
    if (f.Fd < 0 || ::fstat(f.Fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int code = f.Fd < 0 ? errno : EINVAL;
        if (f.Fd >= 0)
            ::close(f.Fd);
        f.Fd = -1;
        return Fail(name + ": " + std::strerror(code));
    }
    f.Size = static_cast<std::uint64_t>(st.st_size);
    if (!PRead(f.Fd, 0, kBlockFileHeaderSize, f.Header))
        return Fail(name + " is shorter than its header");
    if (TError e = ParseBlockFileHeader(f.Header, n, f.Parsed))
        return Fail(name + ": " + e.Text());
    if (f.Parsed.Updating != 0)
        return Fail(name + " was left in the middle of a change");
    if (f.Size !=
        kBlockFileHeaderSize + static_cast<std::uint64_t>(f.Parsed.MaxEntries) * f.Parsed.EntrySize)
        return Fail(name + "'s length does not fit its header");
    if (n == 0 && !PRead(f.Fd, kBlockFileHeaderSize, f.Size - kBlockFileHeaderSize, f.Held))
        return Fail(name + " cannot be read");
    return {};
}

bool TBlockfileEditor::Allocated(const TFile& f, TBlockfileAddr a) const {
    if (a.Start() + a.Blocks() > f.Parsed.MaxEntries || f.Parsed.EntrySize != a.BlockSize())
        return false;
    for (std::uint32_t b = a.Start(); b < a.Start() + a.Blocks(); ++b)
        if ((static_cast<unsigned char>(f.Header[80 + b / 8]) >> (b % 8) & 1) == 0)
            return false;
    return true;
}

TError TBlockfileEditor::ReadRecord(std::uint32_t address, std::string& out) {
    TBlockfileAddr a{address};
    TFile* f = nullptr;
    if (!a.Sane() || a.Type() != TBlockfileAddr::Block256)
        return Fail("an address in the index names no entry (" +
                    TBlockfileAddr{address}.Describe() + ")");
    if (TError e = File(a.File(), f))
        return e;
    if (!Allocated(*f, a))
        return Fail(a.Describe() + " is not allocated");
    if (!PRead(f->Fd, BlockfileOffsetOf(a), a.Blocks() * kEntrySize, out))
        return Fail(a.Describe() + " cannot be read");
    return {};
}

TError TBlockfileEditor::Node(std::uint32_t address, std::string& out) {
    TBlockfileAddr a{address};
    TFile* f = nullptr;
    if (!a.Sane() || a.Type() != TBlockfileAddr::Rankings || a.Blocks() != 1 || a.File() != 0)
        return Fail("a rankings node's address names nothing (" + a.Describe() + ")");
    if (TError e = File(0, f))
        return e;
    if (!Allocated(*f, a))
        return Fail(a.Describe() + " is not allocated");
    out = f->Held.substr(static_cast<std::size_t>(a.Start()) * kBlockfileRankingsSize,
                         kBlockfileRankingsSize);
    return {};
}

TError TBlockfileEditor::DeleteFirst(std::string_view url, bool& found) {
    found = false;
    std::string piece, record, key;
    for (std::uint64_t first = 0; first < tableLength_; first += kTablePiece) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kTablePiece, tableLength_ - first));
        if (!PRead(indexFd_, kIndexHeaderSize + first * 4, n * 4, piece))
            return Fail("the index's table cannot be read");
        for (std::size_t i = 0; i < n; ++i) {
            TTarget t;
            t.Slot = first + i;
            std::unordered_set<std::uint32_t> chain;
            std::string prevRecord;
            for (std::uint32_t a = ChromiumU32(piece, i * 4), prev = 0; a != 0;) {
                if (!chain.insert(a).second)
                    return Fail("the chain of slot " + std::to_string(t.Slot) + " loops");
                if (TError e = ReadRecord(a, record))
                    return e;
                TBlockfileEntry e;
                if (TError error = ParseBlockfileEntry(record, e))
                    return Fail(TBlockfileAddr{a}.Describe() + ": " + error.Text());
                key = e.Key;
                if (e.LongKey.Value != 0) {
                    // A key kept apart is read only when its hash could be the one.
                    key.clear();
                }
                bool match = false;
                if (e.State == 0) {
                    if (e.LongKey.Value == 0) {
                        match = ChromiumKeyUrl(key) == url;
                    } else if (e.LongKey.IsExternal()) {
                        std::uint64_t size = 0;
                        const std::string name = ExternalFileName(e.LongKey.FileNumber());
                        const int fd = OpenHere(dirFd_, name.c_str(), size);
                        match = fd >= 0 && size >= e.KeyLength && PRead(fd, 0, e.KeyLength, key) &&
                                ChromiumKeyUrl(key) == url;
                        if (fd >= 0)
                            ::close(fd);
                    } else {
                        TFile* f = nullptr;
                        TBlockfileAddr k = e.LongKey;
                        match = File(k.File(), f).Ok() && Allocated(*f, k) &&
                                e.KeyLength <= k.Blocks() * k.BlockSize() &&
                                PRead(f->Fd, BlockfileOffsetOf(k), e.KeyLength, key) &&
                                ChromiumKeyUrl(key) == url;
                    }
                }
                if (match) {
                    if (e.SelfHashMismatch || ChromiumKeyHash(key) != e.Hash)
                        return Fail(TBlockfileAddr{a}.Describe() + " fails its checksums");
                    if ((e.Flags & 3) != 0)
                        return Fail("the entry is stored in ranges (media), which this program "
                                    "does not remove");
                    t.Address = a;
                    t.Prev = prev;
                    t.Entry = e;
                    t.PrevRecord = prevRecord;
                    found = true;
                    return Remove(t);
                }
                prevRecord = record;
                prev = a;
                a = e.Next.Value;
            }
        }
    }
    return {};
}

TError TBlockfileEditor::Remove(const TTarget& t) {
    const TBlockfileEntry& e = t.Entry;
    const std::string where = TBlockfileAddr{t.Address}.Describe();
    // The rankings node, and its place in its list.
    std::string node;
    if (TError error = Node(e.RankingsNode.Value, node))
        return error;
    TBlockfileRankings r;
    (void)ParseBlockfileRankings(node, r);
    if (r.SelfHashMismatch || r.Contents.Value != t.Address)
        return Fail(where + ": its rankings node does not name it");
    if (r.Dirty != 0)
        return Fail(where + " was open in the browser when it stopped");
    TFile* data0 = nullptr;
    if (TError error = File(0, data0))
        return error;
    const std::size_t maxNodes = data0->Held.size() / kBlockfileRankingsSize;
    auto nodeAt = [&](std::uint32_t a) -> std::string_view {
        TBlockfileAddr n{a};
        if (!n.Sane() || n.Type() != TBlockfileAddr::Rankings || n.File() != 0 ||
            n.Start() >= maxNodes)
            return {};
        return std::string_view(data0->Held)
            .substr(static_cast<std::size_t>(n.Start()) * kBlockfileRankingsSize,
                    kBlockfileRankingsSize);
    };
    const std::uint32_t self = e.RankingsNode.Value;
    int list = -1;
    for (int l = 0; l < 5 && list < 0; ++l) {
        std::uint32_t n = ChromiumU32(header_, 256 + 32 + 4 * static_cast<std::size_t>(l));
        for (std::size_t steps = 0, prev = n; n != 0 && steps <= maxNodes; ++steps) {
            const std::string_view at = nodeAt(n);
            if (at.empty() || ChromiumU32(at, 20) != prev)
                return Fail("recently-used list " + std::to_string(l) + " is broken");
            if (n == self) {
                list = l;
                break;
            }
            if (ChromiumU32(at, 16) == n)
                break;
            prev = n;
            n = ChromiumU32(at, 16);
        }
    }
    if (list < 0)
        return Fail(where + " is on none of the recently-used lists");
    const std::size_t headAt = 256 + 32 + 4 * static_cast<std::size_t>(list);
    const std::size_t tailAt = 256 + 52 + 4 * static_cast<std::size_t>(list);
    const bool isHead = ChromiumU32(header_, headAt) == self,
               isTail = ChromiumU32(header_, tailAt) == self;
    if (isHead != (r.Prev.Value == self) || isTail != (r.Next.Value == self))
        return Fail(where + ": its rankings node's links do not fit its list");

    // Every piece of storage to free, checked before anything is written.
    std::vector<TBlockfileAddr> blocks;
    std::vector<std::string> externals;
    std::uint64_t bytes = e.KeyLength;
    auto storage = [&](TBlockfileAddr a) -> TError {
        if (a.IsExternal()) {
            externals.push_back(ExternalFileName(a.FileNumber()));
            return {};
        }
        TFile* f = nullptr;
        if (TError error = File(a.File(), f))
            return error;
        if (!Allocated(*f, a))
            return Fail(a.Describe() + " (of " + where + ") is not allocated");
        for (const TBlockfileAddr& other : blocks)
            if (other.File() == a.File() && other.Start() < a.Start() + a.Blocks() &&
                a.Start() < other.Start() + other.Blocks())
                return Fail(where + " names the same blocks twice");
        blocks.push_back(a);
        return {};
    };
    for (int i = 0; i < 4; ++i) {
        bytes += e.DataSize[i];
        if (e.DataSize[i] != 0)
            if (TError error = storage(e.DataAddr[i]))
                return error;
    }
    if (e.LongKey.Value != 0)
        if (TError error = storage(e.LongKey))
            return error;
    if (TError error = storage(TBlockfileAddr{t.Address}))
        return error;
    if (TError error = storage(e.RankingsNode))
        return error;

    // 1. Out of its hash chain.
    if (t.Prev != 0) {
        std::string prev = t.PrevRecord;
        Put32(prev, 4, e.Next.Value);
        Put32(prev, kSelfHashed, ChromiumKeyHash(std::string_view(prev).substr(0, kSelfHashed)));
        TFile* f = nullptr;
        TBlockfileAddr p{t.Prev};
        if (TError error = File(p.File(), f))
            return error;
        if (!PWrite(f->Fd, BlockfileOffsetOf(p), std::string_view(prev).substr(0, kEntrySize)))
            return TError::FromErrno(errno, (folder_ / BlockFileName(p.File())).string());
    } else {
        std::string slot(4, '\0');
        Put32(slot, 0, e.Next.Value);
        if (!PWrite(indexFd_, kIndexHeaderSize + 4 * t.Slot, slot))
            return TError::FromErrno(errno, (folder_ / "index").string());
    }

    // 2. Out of its list: the head points back to itself, the tail onward.
    auto rewrite = [&](std::uint32_t a, std::size_t field, std::uint32_t value) -> TError {
        const std::size_t at =
            static_cast<std::size_t>(TBlockfileAddr{a}.Start()) * kBlockfileRankingsSize;
        Put32(data0->Held, at + field, value);
        Put32(data0->Held, at + 32, ChromiumKeyHash(std::string_view(data0->Held).substr(at, 32)));
        if (!PWrite(data0->Fd, kBlockFileHeaderSize + at,
                    std::string_view(data0->Held).substr(at, kBlockfileRankingsSize)))
            return TError::FromErrno(errno, (folder_ / "data_0").string());
        return {};
    };
    const std::uint32_t next = r.Next.Value, prev = r.Prev.Value;
    if (isHead && isTail) {
        Put32(header_, headAt, 0);
        Put32(header_, tailAt, 0);
    } else if (isHead) {
        Put32(header_, headAt, next);
        if (TError error = rewrite(next, 20, next))
            return error;
    } else if (isTail) {
        Put32(header_, tailAt, prev);
        if (TError error = rewrite(prev, 16, prev))
            return error;
    } else {
        if (TError error = rewrite(prev, 16, next))
            return error;
        if (TError error = rewrite(next, 20, prev))
            return error;
    }
    const std::size_t sizeAt = 256 + 12 + 4 * static_cast<std::size_t>(list);
    if (version_ != 0x20000 && ChromiumU32(header_, sizeAt) > 0)
        Put32(header_, sizeAt, ChromiumU32(header_, sizeAt) - 1);

    // 3. Its storage freed: blocks zeroed, then their bits cleared, the
    // header marked as changing meanwhile.
    for (const TBlockfileAddr& a : blocks) {
        TFile* f = nullptr;
        if (TError error = File(a.File(), f))
            return error;
        const std::string path = (folder_ / BlockFileName(a.File())).string();
        const std::size_t len = static_cast<std::size_t>(a.Blocks()) * f->Parsed.EntrySize;
        if (!PWrite(f->Fd, BlockfileOffsetOf(a), std::string(len, '\0')))
            return TError::FromErrno(errno, path);
        if (a.File() == 0)
            std::fill_n(data0->Held.begin() +
                            static_cast<std::ptrdiff_t>(a.Start()) * kBlockfileRankingsSize,
                        kBlockfileRankingsSize, '\0');
        Put32(f->Header, 56, 1);
        if (!PWrite(f->Fd, 56, std::string_view(f->Header).substr(56, 4)))
            return TError::FromErrno(errno, path);
        for (std::uint32_t b = a.Start(); b < a.Start() + a.Blocks(); ++b)
            f->Header[80 + b / 8] = static_cast<char>(f->Header[80 + b / 8] & ~(1 << (b % 8)));
        if (ChromiumU32(f->Header, 16) > 0)
            Put32(f->Header, 16, ChromiumU32(f->Header, 16) - 1);
        // The free runs per length: per group of four blocks, the run at its end.
        std::uint32_t empty[4] = {};
        for (std::uint32_t g = 0; g < f->Parsed.MaxEntries / 4; ++g) {
            const unsigned nibble =
                (static_cast<unsigned char>(f->Header[80 + g / 2]) >> (4 * (g % 2))) & 0xf;
            const int run = nibble == 0 ? 4 : nibble == 1 ? 3 : nibble < 4 ? 2 : nibble < 8 ? 1 : 0;
            if (run > 0)
                ++empty[run - 1];
        }
        for (std::size_t i = 0; i < 4; ++i) {
            Put32(f->Header, 24 + 4 * i, empty[i]);
            Put32(f->Header, 40 + 4 * i, 0);
        }
        Put32(f->Header, 56, 0);
        if (!PWrite(f->Fd, 0, f->Header))
            return TError::FromErrno(errno, path);
    }
    for (const std::string& name : externals)
        if (::unlinkat(dirFd_, name.c_str(), 0) != 0 && errno != ENOENT)
            return TError::FromErrno(errno, (folder_ / name).string());

    // 4. The index's counts.
    if (ChromiumU32(header_, 8) > 0)
        Put32(header_, 8, ChromiumU32(header_, 8) - 1);
    if (version_ == 0x30000) {
        const std::uint64_t total = ChromiumU64(header_, 48);
        const std::uint64_t left = total > bytes ? total - bytes : 0;
        Put32(header_, 48, static_cast<std::uint32_t>(left));
        Put32(header_, 52, static_cast<std::uint32_t>(left >> 32));
    } else {
        const std::uint32_t total = ChromiumU32(header_, 12);
        Put32(header_, 12, total > bytes ? static_cast<std::uint32_t>(total - bytes) : 0);
    }
    Put32(header_, 256 + 72, 0);
    Put32(header_, 256 + 76, 0);
    Put32(header_, 256 + 80, 0);
    if (!PWrite(indexFd_, 0, header_))
        return TError::FromErrno(errno, (folder_ / "index").string());
    return {};
}

} // namespace

TError TChromiumBlockfileSource::DeleteEntry(std::string_view url) {
    if (std::string why = HeldBy(); !why.empty())
        return TError::Message("the cache is in use: " + why + "; close the browser first", EBUSY);
    TBlockfileEditor editor(folder_);
    if (TError error = editor.Open())
        return error;
    int deleted = 0;
    // Every entry of the URL, one at a time: each removal changes the chains.
    for (bool found = true; found;) {
        if (TError error = editor.DeleteFirst(url, found))
            return error;
        deleted += found ? 1 : 0;
    }
    if (deleted == 0)
        return TError::FromErrno(ENOENT, std::string(url));
    Forget(url);
    return {};
}

} // namespace tarnhold
