// File-system operations that a staged update needs beyond fs.h: free space on a volume,
// flushing a file or a whole volume to disk, removing an empty folder, probing whether a
// file can be replaced now, moves that are made durable in groups, and small whole-file
// reads and appends that never block on a special file.
//
// Failures return false and set the last-error code, as in fs.h.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace lum::platform {

// Flushes the file's data and size to disk (FlushFileBuffers; POSIX fsync).
bool FlushFile(const FileHandle& file);

// The bytes that the calling user may still write on the volume holding `folder`
// (GetDiskFreeSpaceExW; POSIX statvfs f_bavail × f_frsize).
bool FreeSpaceOf(const std::string& folder, std::uint64_t& bytes);

// Removes an empty folder (RemoveDirectoryW; POSIX rmdir). Fails when it holds anything.
bool RemoveFolder(const std::string& path);

// True when `path` is a regular file (not a folder, pipe, device or socket).
bool IsRegularFile(const std::string& path);

// False when another process holds the file open so that it cannot be replaced now
// (Windows: opening it for writing and deleting fails with a sharing or lock violation).
// True otherwise, including for a missing file. POSIX has no mandatory share modes and
// rename replaces a file that is open, so it is always true there.
bool CanReplaceFile(const std::string& path);

// Moves `source` over `target` (same volume) as one of many moves that the caller makes
// durable together: Windows moves with write-through at once; POSIX renames and relies on a
// later FlushVolumeOf, which costs one flush for the whole group instead of two per file.
bool MoveFileInGroup(const std::string& source, const std::string& target);

// Writes every pending change of the volume holding `folder` to disk (POSIX syncfs).
// Windows: nothing to do (MoveFileInGroup writes through), returns true.
bool FlushVolumeOf(const std::string& folder);

// Opens the regular file at `path` for reading, shared with readers and writers. Anything
// else (a folder, a pipe, a device) is refused with 5 without waiting on it; a missing file
// fails with 2 (3 when its folder is missing).
FileHandle OpenRegularFile(const std::string& path);

// Reads the whole regular file at `path` into `text`. False with the last error set for a
// missing file (2 or 3) and for anything that is not a regular file (5), which is never read
// (a pipe would block).
bool ReadWholeFile(const std::string& path, std::string& text);

// Appends `text` to the file at `path`, creating it when missing. With `durable` the file's
// data is flushed to disk before the call returns. A special file is refused (error 5).
bool AppendToFile(const std::string& path, const std::string& text, bool durable);

// Writes `text` as the whole new content of `path` through a new file beside it
// (CreateFileBeside) that is flushed and then moved over `path` durably, so a reader sees the
// old or the new content and a crash leaves one of them. When `path` is a symbolic link the
// file it points to is replaced and the link stays; the new file keeps the Unix permission
// bits of the one it replaces. On failure nothing is left beside and `path` is unchanged.
bool ReplaceFileContent(const std::string& path, const std::string& text);

// Pauses the calling thread for `milliseconds`.
void SleepMilliseconds(std::uint32_t milliseconds);

}  // namespace lum::platform
