// The copy engine: writes cached documents out as ordinary files below a
// destination folder, in folders that mirror their URLs. Pages go through the
// link rewriter; everything else is copied byte for byte. Each file gets the
// cache entry's last-modified time. A file that replaces an existing one is
// written beside it under a temporary name and renamed over it only when
// complete, so a failed or cancelled overwrite leaves the old file as it was.
// Nothing is ever written outside the destination: every name comes from
// the one naming of localpaths.h, and no symbolic link below the destination
// is followed.
#pragma once

#include "copy/copyprompts.h"
#include "copy/copyreport.h"
#include "copy/rebuildpage.h"
#include "tree/localpaths.h"
#include "tree/webcachetree.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarnhold {

// Folder methods: where below the destination a file lands. favorites.dat
// and the command line number them 1 and 2 (FolderMethodFromNumber).
enum class TFolderMethod : std::uint8_t {
    BelowPrefix, // the folder of the copy prefix is the destination
    WholePath,   // one folder per segment of the whole URL
};
// The folder method a stored or typed number stands for: 1 BelowPrefix, any
// other WholePath.
TFolderMethod FolderMethodFromNumber(int number);

struct TCopyOptions {
    std::filesystem::path Destination;
    // The URL the copy starts from (a folder URL of the tree); CopyToFolder
    // takes PrefixFolder's URL when it is left empty.
    std::string Prefix;
    // The tree folder that Prefix names, when the caller has it; otherwise it
    // is looked up from Prefix.
    const TWebCacheTreeNode* PrefixFolder = nullptr;
    TCopyMethod Method = TCopyMethod::None;
    TFolderMethod Folder = TFolderMethod::WholePath;
    // false: failures end the run without ShowFailure, and the overwrite
    // answer becomes Newer.
    bool Interactive = true;
    // Every kind of link (srcset, style sheets, ...) rewritten and collected;
    // false: only href, src and background (TPageRewriter::SetAllLinks).
    bool AllLinks = true;
};

class TCopyEngine {
public:
    // prompts and progress may be null: then every existing file is answered
    // TOverwriteAnswer::Cancel, and nothing is reported.
    explicit TCopyEngine(TWebCacheTree& tree, TCopyPrompts* prompts = nullptr,
                         TProgress* progress = nullptr);
    ~TCopyEngine();
    TCopyEngine(const TCopyEngine&) = delete;
    TCopyEngine& operator=(const TCopyEngine&) = delete;

    // Copies every node of list, which may grow on the way (embedded files).
    // answer is the overwrite answer, kept by the caller for the whole
    // command (start with Yes). True when the walk reached the end of the
    // list; false when a failure or a Cancel stopped it (the failure is then
    // in LastFailure, its Error 0 for a cancel).
    [[nodiscard]] bool CopyNodes(const TCopyOptions& options, TOverwriteAnswer& answer,
                                 TWebCacheTreeNodeCopyList& list);

    const TCopyStats& Stats() const { return stats_; }
    // The links of the copied pages whose targets the cache did not hold.
    const TCopyReport& Report() const { return report_; }
    const TCopyFailure& LastFailure() const { return failure_; }
    const TLocalNameTable& Names() const { return names_; }
    TProgress* Progress() const { return progress_; }

    // Where node's copy lies below the destination, for options.
    std::filesystem::path LocalPathOf(const TCopyOptions& options,
                                      const TWebCacheTreeNode* node) const;

private:
    class TFolderCursor;
    bool Fail(const TCopyOptions& options, TCopyFailureKind kind, const std::string& cacheFile,
              const std::filesystem::path& local, int error);
    // The components of the folder the destination stands for (empty for
    // TFolderMethod::WholePath).
    TLocalPath Placement(const TCopyOptions& options) const;

    TWebCacheTree& tree_;
    TCopyPrompts* prompts_;
    TProgress* progress_;
    TLocalNameTable names_;
    TCopyStats stats_;
    TCopyReport report_;
    TCopyFailure failure_;
};

// Adds node to the list if it is a file, or else every file below it.
void AddFilesBelow(TWebCacheTreeNodeCopyList& list, TWebCacheTreeNode* node);

// Copies every file below each of nodes as options say. options.PrefixFolder
// is the folder that holds the nodes (the copy prefix is its URL; with
// TFolderMethod::BelowPrefix it becomes the destination). The engine's
// progress maximum is set to the number of files first. A new overwrite
// answer (Yes) is used unless answer is given. False when the run was
// stopped.
[[nodiscard]] bool CopyToFolder(TCopyEngine& engine, const std::vector<TWebCacheTreeNode*>& nodes,
                                const TCopyOptions& options, TOverwriteAnswer* answer = nullptr);

// The messages of a stopped copy (ANSI): caption and text with the system's
// error text in the last line.
std::string CopyFailureCaption(TCopyFailureKind kind);
std::string CopyFailureText(TCopyFailureKind kind, const std::string& cacheFile,
                            const std::string& local, int error);

} // namespace tarnhold
