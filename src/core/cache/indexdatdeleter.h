// Deleting one entry from an index.dat on disk, as WinINet's
// DeleteUrlCacheEntry does.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarnhold {

// Removes the entry with this URL (exact bytes) from the index and deletes its
// cached file.
//
// The index is locked exclusively (flock) for the whole operation, so that
// two deleters never interleave, and read afresh under the lock. The change
// is made on a copy in memory and checked against the rules WinINet applies
// when it opens the file; only then is the cached file deleted and the
// changed bytes written back in place: first the hash item (the entry is
// gone, the index still consistent), then the counts and the bitmap together
// in one write. Writing in place rather than renaming a new file over the old
// one keeps the file that other programs have open or mapped the one that
// changes.
//
// error (errno values): ENOENT no entry has this URL; EBADMSG the file is not
// an index.dat or breaks its rules already (then nothing is written); EBUSY
// the entry is locked by a client that used it within the last day; others
// from the file system. Nothing is changed when the cached file cannot be
// deleted.
bool DeleteIndexDatEntry(const std::filesystem::path& indexFile, std::string_view url,
                         int* error = nullptr);

} // namespace tarnhold
