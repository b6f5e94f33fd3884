// Deleting one entry from an index.dat on disk, as WinINet's
// DeleteUrlCacheEntry does.
#pragma once

#include "platform/error.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <string_view>

namespace tarnhold {

struct TIndexDatDeleteOptions {
    // How long to wait while another program holds the index's lock.
    std::chrono::milliseconds LockWait{10000};
    // Called once when the lock is held elsewhere and the wait begins.
    std::function<void()> OnWaiting;
};

// Removes the entry with this URL from the index and deletes its cached file.
// The URL is matched as stored; in a cache that stores URLs as UTF-8 (Wine)
// the ANSI form the reader delivers for it matches as well.
//
// The index must be a regular file. It is locked exclusively (flock) for the
// whole operation, so that two deleters never interleave, and read afresh
// under the lock; a lock held elsewhere is waited for as long as options say.
// The change is made on a copy in memory and checked against the rules
// WinINet applies when it opens the file; a record whose blocks are not its
// own alone is not freed. Only then is the cached file deleted and the
// changed bytes written back in place: first the hash items (the entry is
// gone, the index still consistent), then the counts and the bitmap together
// in one write. Writing in place rather than renaming a new file over the old
// one keeps the file that other programs have open or mapped the one that
// changes.
//
// A cached file is only a regular file directly inside the cache folder or
// one of its cache sub-folders, reached without following a symbolic link,
// and never the index itself; a record naming anything else has no cached
// file. Something other than a regular file under that name (a folder, a
// link, a device) is not removed, and then nothing is changed.
//
// Errors: ENOENT no entry has this URL; EBADMSG the file is not an index.dat,
// breaks its rules already, or the record's blocks are not its own (then
// nothing is written); EBUSY the entry is locked by a client that used it
// within the last day; EAGAIN the lock stayed taken; others from the file
// system. Nothing is changed when the cached file cannot be deleted. A
// damaged index (one a reader has to recover records from) is refused with
// EBADMSG and the reason.
[[nodiscard]] TError DeleteIndexDatEntry(const std::filesystem::path& indexFile,
                                         std::string_view url,
                                         const TIndexDatDeleteOptions& options = {});

} // namespace tarnhold
