// Writing a whole cache container (index.dat and its cache folders with the
// cached files) the way Internet Explorer lays one out: the demo cache, test
// fixtures and benchmark caches.
#pragma once

#include "mkcache/cachemanifest.h"
#include "mkcache/indexdatwriter.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

namespace tarnhold {

struct TCacheBuildOptions {
    TIndexDatSignature Signature = TIndexDatSignature::Microsoft;
    bool WriteFiles = true;   // false: records only, no cached files (benchmarks)
    std::size_t DirCount = 4; // cache folders of a new index, 1-32
};

class TCacheBuilder {
public:
    // A new cache in folder. Nothing is written before Finish.
    explicit TCacheBuilder(std::filesystem::path folder, TCacheBuildOptions options = {});

    // Adds to the index.dat that is in folder already, reusing the blocks
    // and hash items its deletions freed. False when it cannot be read or
    // breaks the rules of the format.
    [[nodiscard]] TError OpenExisting();

    // Adds an entry whose content is a file (or none). The cached file's name
    // is made as Internet Explorer makes it ("<name>[N].<ext>", N counting up
    // from 1, from 0 in Wine's files, in a cache folder chosen in turn) unless
    // the entry names it. Fails with the reason when the entry cannot be
    // added: ENOSPC when the index is full, EEXIST for a URL it holds already.
    [[nodiscard]] TError Add(const TManifestEntry& entry);
    // The same with the content given as bytes.
    [[nodiscard]] TError AddContent(const TManifestEntry& entry, std::string content);

    std::size_t Count() const { return count_; }
    const TIndexDatWriter& Image() const { return image_; }

    // Creates the folders, writes the cached files (with their download time
    // as last-write time) and then index.dat.
    [[nodiscard]] TError Finish();

private:
    struct TPending {
        std::filesystem::path Target;
        std::filesystem::path From; // copy this file, or write Bytes
        std::string Bytes;
        FILETIME Time;
    };

    TError AddImpl(const TManifestEntry& entry, const std::filesystem::path* from,
                   std::string* content, std::uint64_t contentSize);
    std::string MakeFileName(const TManifestEntry& entry, std::size_t dir);
    std::string RandomName(std::size_t length);

    std::filesystem::path folder_;
    TCacheBuildOptions options_;
    TIndexDatWriter image_;
    std::vector<std::string> dirNames_;
    std::vector<std::unordered_set<std::string>> usedNames_; // lower-cased, per cache folder
    std::vector<TPending> pending_;
    std::size_t nextDir_ = 0;
    std::size_t count_ = 0;
    std::uint64_t random_ = 0x7461726E686F6C64ULL;
};

// The file name an entry's URL suggests, as Internet Explorer derives it: the
// last path segment without query and fragment, characters that Windows
// forbids in names replaced by "_". Empty for a URL that ends in "/".
std::string UrlBaseName(std::string_view url);

} // namespace tarnhold
