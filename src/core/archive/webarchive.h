// Exporting cache entries as a web archive: one WARC/1.1 file (.warc.gz) of
// the responses as the browser received them, or a WACZ package (.wacz) that
// replay tools open: the WARC with its index (CDXJ), its list of pages and
// the package's description with a digest of every file.
#pragma once

#include "platform/error.h"
#include "tree/webcachetree.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarnhold {

enum class TArchiveFormat { Unknown, Warc, Wacz };

// The format a file name asks for: ".warc.gz" or ".wacz" (case ignored).
TArchiveFormat ArchiveFormatOf(const std::filesystem::path& file);

struct TArchiveOptions {
    // false: bodies as the browser stored them, Content-Encoding kept (the
    // archival form). true: bodies decoded, Content-Encoding dropped and
    // Content-Length set to the decoded length, for replay tools that cannot
    // decode every coding (br, zstd).
    bool Decoded = false;
    // The package's title (UTF-8); empty: one is made from the first node.
    std::string Title;
};

// An entry left out, or written otherwise than asked.
struct TArchiveProblem {
    std::string Url;  // in the cache's bytes
    std::string What; // UTF-8
};

// What an export wrote and what it left out.
struct TArchiveStats {
    int Responses = 0; // response records
    int Revisits = 0;  // revisit records: another copy of a URL with the same payload
    int Pages = 0;     // HTML pages listed (WACZ)
    int Skipped = 0;   // entries left out: their body could not be read, or is damaged
    // Decoded export: bodies whose coding could not be undone, written as
    // stored with their Content-Encoding.
    int StoredAsIs = 0;
    std::uint64_t PayloadBytes = 0; // body bytes written
    std::uint64_t FileBytes = 0;    // the size of the file written
    // Every entry left out or written as stored, in the order met.
    std::vector<TArchiveProblem> Problems;
};

// Called after each entry is written (node: the tree's node, or null for an
// older copy of a URL), with the entries done of the total and the bytes
// written so far. False cancels the export.
using TArchiveProgress =
    std::function<bool(int done, int total, const TWebCacheTreeNode* node, std::uint64_t bytes)>;

// Writes every file below (or at) the nodes, each once, to target in the
// format its name asks for, with the older copies the cache keeps of their
// URLs (as revisit records when their body is the same). A damaged entry is
// left out and named in stats.Problems; the rest is written. The file is
// written under a temporary name beside target and renamed to it when it is
// complete (replacing a file of that name); a failure or a cancel
// (ECANCELED) leaves nothing under either name.
[[nodiscard]] TError ExportWebArchive(TWebCacheTree& tree,
                                      const std::vector<TWebCacheTreeNode*>& nodes,
                                      const std::filesystem::path& target,
                                      const TArchiveOptions& options, TArchiveStats& stats,
                                      const TArchiveProgress& progress = {});

} // namespace tarnhold
