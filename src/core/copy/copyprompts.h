// What the copy engine and the deletion ask of the one who drives them: the
// window, the command line or a test. They report progress, ask whether an
// existing file may be overwritten and show failures through these small
// interfaces; nothing in the core talks to a user directly.
#pragma once

#include "platform/error.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace tarnhold {

class TWebCacheTreeNode;

// Answers of the overwrite question. The answer lives for one command: the
// "to all" answers and Newer hold for every later file of the command.
enum class TOverwriteAnswer : std::uint8_t {
    Yes,      // overwrite this file, ask again next time
    No,       // keep this file, ask again next time
    YesToAll, // overwrite this and every later file
    NoToAll,  // keep this and every later file
    Newer,    // overwrite where the cache entry is newer
    Cancel,   // stop the run
};

// Progress of a long operation: a bar with a maximum that may grow while the
// work runs.
class TProgress {
public:
    virtual ~TProgress() = default;
    virtual void SetMaximum(int maximum) { (void)maximum; }
    // The maximum grew by one (a copy found one more file to copy).
    virtual void RaiseMaximum() {}
    // One more item done; node is the item, when there is one.
    virtual void Step(const TWebCacheTreeNode* node) { (void)node; }
};

enum class TCopyFailureKind : std::uint8_t {
    CreateFolder, // a folder of the copy could not be made
    CopyFile,     // a file could not be copied or a page rewritten
    SetFileTime,  // the copy's last-write time could not be set
};

// A failure that stopped a copy, with the message the user is shown.
struct TCopyFailure {
    TCopyFailureKind Kind = TCopyFailureKind::CopyFile;
    std::string Caption; // ANSI
    // ANSI, lines joined with CR LF; the last line is "エラー：" and the
    // system's text for the error.
    std::string Text;
    std::string CacheFile;           // the cached copy (empty for a folder)
    std::filesystem::path LocalPath; // the file or folder of the copy
    int Error = 0;                   // errno value
};

// The questions of a copy.
class TCopyPrompts {
public:
    virtual ~TCopyPrompts() = default;
    // A file of the copy already exists at path: what to do with it.
    virtual TOverwriteAnswer AskOverwrite(const TWebCacheTreeNode& node,
                                          const std::filesystem::path& path) = 0;
    // Shown for a failure in an interactive run, before the run stops.
    virtual void ShowFailure(const TCopyFailure& failure) { (void)failure; }
};

} // namespace tarnhold
