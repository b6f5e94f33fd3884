// index.dat bytes from anywhere: enumerate every entry (damaged files read
// by scanning their blocks, deleted entries recovered) and refresh a cache
// tree over them, both within bounds set by the input's size; list the
// files no record names; delete the
// first entry from a copy on disk and every record (up to a limit) from
// images in memory, each time checking that nothing but the record's own
// blocks was freed; and add one entry to the image when it is sound.
#include "mkcache/indexdatwriter.h"
#include "platform/files.h"
#include "sources/indexdat/indexdatdeleter.h"
#include "sources/indexdat/indexdatimage.h"
#include "sources/indexdat/indexdatsource.h"
#include "support/testfiles.h"
#include "tree/webcachetree.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

namespace {

using namespace tarnhold;

// Records share no block and every string lies in its record, so URL,
// header block and extension each come to at most the file's size.
constexpr std::size_t kDeliveredPerInputByte = 3;
// A node's strings: its name, URL, folder URL, local names, headers.
constexpr std::size_t kTreeBytesPerInputByte = 16;
constexpr std::size_t kTreeBytesPerNode = 256;
// Folders below the host are cut at this depth by the tree.
constexpr std::size_t kNodesPerEntry = 64 + 3;
// Records removed one at a time from images in memory.
constexpr std::size_t kRemovals = 16;

// One folder per process, reused by every input: memory-backed where the
// system has /dev/shm.
const std::filesystem::path& Scratch() {
    static const std::filesystem::path dir = [] {
        std::error_code ec;
        std::filesystem::path base = "/dev/shm";
        if (!std::filesystem::is_directory(base, ec))
            base = std::filesystem::temp_directory_path(ec);
        std::filesystem::path d = base / ("tarnhold-indexdat-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(d, ec);
        std::atexit([] { std::filesystem::remove_all(Scratch()); });
        return d;
    }();
    return dir;
}

[[noreturn]] void Fail(const char* what, std::size_t got, std::size_t limit) {
    std::fprintf(stderr, "indexdat fuzz: %s: %zu, limit %zu\n", what, got, limit);
    std::abort();
}

std::size_t TreeBytes(const TWebCacheTreeNode* node, std::size_t& nodes) {
    ++nodes;
    const auto& i = node->Info();
    std::size_t bytes = node->Name().size() + i.Url.size() + i.LocalFileName.size() +
                        i.HeaderInfo.Text().size() + i.FileExtension.size() + i.DirUrl.size() +
                        i.FileName.size() + i.ExtraInfo.size();
    for (int k = 0; k < node->Count(); ++k)
        bytes += TreeBytes(node->Items(k), nodes);
    return bytes;
}

std::set<std::uint32_t> LiveRecords(const TIndexDatView& view) {
    std::set<std::uint32_t> records;
    for (const auto& item : view.LiveUrlItems())
        records.insert(item.RecordOffset);
    return records;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kIdxMaxFileSize)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path index = Scratch() / "index.dat";
    if (!WriteTestFile(index, bytes))
        return 0;

    // The snapshot: what it delivers is bounded by the input.
    TIndexDatSource source(Scratch());
    source.SetRecovered(true);
    TRawCacheEntry entry;
    std::string first;
    std::size_t entries = 0, delivered = 0, paths = 0;
    for (bool ok = source.First(entry); ok; ok = source.Next(entry)) {
        if (entries++ == 0)
            first = entry.Url;
        delivered += entry.Url.size() + entry.HeaderBlock.size() + entry.FileExtension.size();
        paths += entry.LocalFileName.size();
    }
    source.Close();
    const TReadReport report = source.ReadReport();
    if (report.Summary.size() > 4096)
        Fail("summary bytes", report.Summary.size(), 4096);
    if (entries > size / kIdxBlockSize)
        Fail("entries", entries, size / kIdxBlockSize);
    if (delivered > kDeliveredPerInputByte * size)
        Fail("delivered bytes", delivered, kDeliveredPerInputByte * size);
    const std::size_t pathLimit = size + entries * (Scratch().native().size() + 16);
    if (paths > pathLimit)
        Fail("path bytes", paths, pathLimit);

    // A refresh of the tree over it: nodes and their strings stay bounded.
    {
        auto treeSource = std::make_unique<TIndexDatSource>(Scratch());
        treeSource->SetRecovered(true);
        TWebCacheTree tree(std::move(treeSource));
        tree.MimeTypesFile = "/nonexistent"; // the built-in table only
        tree.LoadContentTypes();
        tree.CountEntries();
        tree.Build();
        tree.SortAll();
        tree.RenameDuplicates(tree.Root());
        std::size_t nodes = 0;
        const std::size_t treeBytes = TreeBytes(tree.Root(), nodes);
        if (nodes > 2 + entries * kNodesPerEntry)
            Fail("tree nodes", nodes, 2 + entries * kNodesPerEntry);
        const std::size_t limit = kTreeBytesPerInputByte * size + kTreeBytesPerNode * nodes;
        if (treeBytes > limit)
            Fail("tree bytes", treeBytes, limit);
    }

    // The scratch folder holds no cache folders: no file is an orphan.
    std::vector<TCacheOrphan> orphans;
    if (FindIndexDatOrphans(index, orphans).Ok() && !orphans.empty())
        std::abort();

    // Deleting from a copy on disk: done and sound, or nothing changed.
    if (entries > 0) {
        const bool deleted = DeleteIndexDatEntry(index, first).Ok();
        std::string after;
        ReadWholeFile(index, after);
        if (deleted ? !CheckIndexDatInvariants(after).Ok() : after != bytes)
            std::abort();
    }

    // Removing records from images: only the removed record goes; every
    // other live record keeps its blocks.
    TIndexDatImage sound;
    if (sound.Load(bytes).Ok()) {
        const std::set<std::uint32_t> live = LiveRecords(sound.View());
        std::size_t tried = 0;
        for (std::uint32_t record : live) {
            if (tried++ == kRemovals)
                break;
            TIndexDatImage image = sound;
            if (!image.RemoveRecord(record).Ok())
                continue;
            if (!CheckIndexDatInvariants(image.Bytes()).Ok())
                std::abort();
            std::set<std::uint32_t> expected = live;
            expected.erase(record);
            if (LiveRecords(image.View()) != expected)
                std::abort(); // blocks of another record were freed
        }
    }

    TIndexDatWriter writer;
    if (writer.Load(bytes).Ok()) {
        TIndexDatNewEntry e;
        e.Url = "http://fuzz.test/added.html";
        e.FileName = "added[1].htm";
        e.Headers = "HTTP/1.1 200 OK\r\n\r\n";
        if (writer.AddEntry(e).Ok() && !CheckIndexDatInvariants(writer.Bytes()).Ok())
            std::abort(); // the writer broke the file
    }
    return 0;
}
