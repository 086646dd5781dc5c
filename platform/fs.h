// Files and folders by path: attributes, folder creation, deletion, copying, last-write time.
// All paths are UTF-8; failures return false (or 0xFFFFFFFF) and set the last-error code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file.h"
#include "platform/time.h"

namespace lum::platform {

// True in the Windows build, where file-system paths follow the Windows rules: "\" and "/"
// both separate, names such as CON or NUL stand for devices, and trailing dots and blanks of a
// name are dropped. False on POSIX, where "/" alone separates and every other byte belongs to
// the name. Code that behaves differently on the two asks this, never the separator.
#ifdef _WIN32
inline constexpr bool kWindowsPaths = true;
#else
inline constexpr bool kWindowsPaths = false;
#endif
// The separator of file-system paths: "\" on Windows, "/" on POSIX.
inline constexpr char kPathSeparator = kWindowsPaths ? '\\' : '/';
// True for a separator of file-system paths: "\" and "/" on Windows (both are accepted by its
// file API), "/" alone on POSIX (where "\" is an ordinary character of a file name).
constexpr bool IsPathSeparator(char c) {
  return c == kPathSeparator || c == '/';
}

// GetFileAttributesW's failure value.
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;

// The attributes of `path` (see find.h for the bits), or 0xFFFFFFFF when it does not exist
// or cannot be examined. POSIX uses stat, so a link reports what it points to.
std::uint32_t FileAttributesOf(const std::string& path);

// Creates one folder (CreateDirectoryW; POSIX mode 0777 less the umask). Fails with 183
// when something of that name exists, 3 when the parent folder is missing.
bool MakeDirectory(const std::string& path);

// Deletes a file (DeleteFileW). Fails with 2 when it is missing, 5 for a folder.
bool RemoveFile(const std::string& path);

// Copies a file with its contents, last-write time and read-only attribute (CopyFileW).
// With failIfExists an existing target fails with 80; otherwise it is replaced. Copying a
// file onto itself fails with 32 and leaves it untouched. A partly written target is
// deleted when the copy fails.
bool CopyFileTo(const std::string& source, const std::string& target, bool failIfExists);

// Sets the last-write time of a file or folder (SetFileTime with the last-write time only).
bool SetLastWriteTime(const std::string& path, const FileTime& utc);

// Sets the attributes of a file or folder (SetFileAttributesW). POSIX applies only the
// read-only bit: set, it removes every write permission; clear, it gives the owner write
// permission back.
bool SetAttributesOf(const std::string& path, std::uint32_t attributes);

// Moves the file `source` to `target`, replacing a file there in one step (MoveFileExW with
// MOVEFILE_REPLACE_EXISTING; POSIX rename). Both must be on the same volume. A reader of
// `target` sees either the old file or the new one, never a mix. With `durable` the move is
// on disk when the call returns (MOVEFILE_WRITE_THROUGH; POSIX fsync of the source's data
// before the rename and of the target's folder after it), so a power loss cannot undo it.
// A folder at `target` is never replaced: fails with 5.
bool MoveFileReplace(const std::string& source, const std::string& target, bool durable);

// The identity of a file or folder, equal for every name of it (hard links, symbolic links,
// "." and ".." forms): POSIX device and inode, Windows volume serial number and file index.
struct FileId {
  std::uint64_t Volume = 0;
  std::uint64_t Index = 0;
  bool operator==(const FileId&) const = default;
};

// What is at a path, and which file it is.
enum class PathKind { kMissing, kFile, kFolder, kLink, kOther };
struct PathStatus {
  PathKind kind = PathKind::kMissing;
  bool readOnly = false;  // a file this process may not write (Windows: the attribute)
  // Which file it is; nothing when that could not be read (always so for kMissing; on Windows
  // also when the file cannot be opened to ask).
  std::optional<FileId> identity;
};

// What is at `path`, and its identity. With `followLink` false a symbolic link (Windows: a
// reparse point) at its end is reported as kLink, not as what it points to. kOther is a FIFO,
// socket or device. A path that cannot be examined reads as kMissing.
PathStatus QueryPath(const std::string& path, bool followLink);

// The identity of the open file `file`, as QueryPath gives it for a path naming that file
// (fstat; GetFileInformationByHandle): how a standard handle redirected to a file is told
// apart. Nothing when it cannot be read.
std::optional<FileId> IdentityOf(const FileHandle& file);

// `path` with every link resolved and no "." or ".." left (realpath;
// GetFinalPathNameByHandleW). Empty, with the last-error code set, when it does not exist.
std::string ResolvedPath(const std::string& path);

// Creates a new empty file with a name of its own in the folder of `target` (exclusive
// create, write access), for writing a replacement of `target` beside it; `tempPath` gets
// its path. Fails like CreateFileHandle (3 when the folder is missing).
FileHandle CreateFileBeside(const std::string& target, std::string& tempPath);

// True where files carry Unix permission bits and symbolic links can be made freely.
#ifdef _WIN32
inline constexpr bool kUnixFileModes = false;
#else
inline constexpr bool kUnixFileModes = true;
#endif

// Sets the last-write time of an open file (SetFileTime; futimens), which must have been
// opened for writing. Later writes change it again.
bool SetLastWriteTimeOf(const FileHandle& file, const FileTime& utc);

// Sets the permission bits of an open file (fchmod), never set-uid, set-gid or sticky.
// Windows: nothing to do, true.
bool SetUnixModeOf(const FileHandle& file, std::uint32_t mode);

// Gives the file `replacement`, written to be moved over `existing`, the access `existing`
// has: its permission bits (never set-uid, set-gid or sticky) and, as far as the process
// may, its owner and group (POSIX fchown, then fchmod; a link at `existing` is followed, a
// link at `replacement` is refused with 5). When `existing` is not a file, `replacement`
// keeps the mode it was created with. Windows: nothing to do (a replacement takes the
// folder's inherited security), true. False, with the last-error code set, when the
// permission bits could not be set.
bool KeepAccessOf(const std::string& existing, const std::string& replacement);

// The permission bits a file created by CreateFileHandle (or CreateFileBeside) gets: 0666
// less the process's umask, read once (POSIX); 0666 on Windows. Callers skip SetUnixModeOf
// when a mode equals it.
std::uint32_t NewFileMode();

// Makes a symbolic link at `linkPath` (which must not exist) holding `target`. Windows:
// fails with 50 (not supported).
bool MakeSymbolicLink(const std::string& linkPath, const std::string& target);

}  // namespace lum::platform
