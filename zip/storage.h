// The storage layer: every byte the archive engine reads or writes passes through a
// VfsHandle, which hides whether the bytes live in a named file (or a standard handle
// "stdin:", "stdout:", "stderr:"), in a memory buffer ("[buffer]") or in a caller's stream
// object ("[stream]").
//
// The handle is a record the caller owns and passes to every operation. Files open lazily at
// the first read, write or seek. Memory handles work on the caller's own std::vector when the
// source variant refers to it (read in place, grown and trimmed in place as a write target),
// otherwise on a copy. Stream handles are rewound once, before their first read or write,
// unless a seek came first.
//
// Failures raise ZipError with the operation's name as source ("pvVfsOpen", "pvVfsCreate",
// "pvVfsRead", "pvVfsWrite", "pvVfsSeek", "pvVfsSetEof") and, for system errors, the
// description "[code] text (name)". A folder that cannot be made raises with no source and
// pvMkDir's message. A failure a stream object reports (VfsStreamError) is raised with the
// stream's source and description; other exceptions of a stream pass through unchanged.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"
#include "platform/find.h"
#include "platform/time.h"
#include "zip/variant.h"

namespace lum::zip {

enum class VfsKind { kFile, kMemory, kStream };

// How far a handle's first access went.
enum class VfsAccess : std::int8_t {
  kNone,   // no file opened, no stream positioned yet
  kTried,  // the file's last open failed, or the stream has been positioned
  kOpen,   // the file is open (the handle is in File)
};

// A storage handle. Move-only (it may own an operating-system handle); destroying it closes
// what it holds, so an operation that leaves by an error loses no handle even before its
// pvVfsClose runs.
struct VfsHandle {
  VfsHandle() = default;
  VfsHandle(VfsHandle&&) = default;
  VfsHandle& operator=(VfsHandle&&) = default;
  VfsHandle(const VfsHandle&) = delete;
  VfsHandle& operator=(const VfsHandle&) = delete;
  ~VfsHandle() = default;

  VfsAccess Access = VfsAccess::kNone;
  platform::FileHandle File;
  VfsKind Kind = VfsKind::kFile;
  StreamRef oStream;
  // Memory: the handle's own copy, or the caller's array when CallerBuffer is set.
  ByteArray OwnBuffer;
  ByteArray* CallerBuffer = nullptr;
  std::int32_t lBufferSize = 0;  // bytes in the buffer (after writes: its allocated size)
  std::int64_t lBufferPos = 0;   // current offset from the start of the buffer
  // Metadata of a source opened for reading; zero for handles made by pvVfsCreate.
  platform::FindData FindData;
  // The path, "[buffer]" or "[stream]"; used in error texts and to recognise standard handles.
  std::string sName;

  // The buffer of a memory handle (the caller's or the own copy); null for other kinds.
  ByteArray* Buffer() {
    if (Kind != VfsKind::kMemory) return nullptr;
    return CallerBuffer ? CallerBuffer : &OwnBuffer;
  }
};

// Opens a source for reading: a byte array (by reference or a copy), a stream object, or
// text naming a file, a folder ending in "\" (or the native separator), or a standard handle.
// A path is looked up by its exact name ("*" and "?" are no pattern).
// Fills FindData (attributes, times, size); for a byte array, a stream or a standard handle
// the attributes are 0x20 and the last-write time is now. Opens no file yet. Raises
// "pvVfsOpen" when the path is not found.
VfsHandle pvVfsOpen(const Variant& source);

// Makes a handle for writing: a byte array that refers to the caller's array (anything else
// raises "Invalid byte array"), a stream object, or a path. A path's missing parent folders
// are created; a path ending in a separator names a folder and opens nothing; otherwise the
// file is created or truncated now. Raises "pvVfsCreate" when the file cannot be created.
VfsHandle pvVfsCreate(const Variant& target);

// Reads up to `size` bytes into `destination`; returns the count read (0 at the end). A size
// of 0 only opens a file that is not open yet.
std::int32_t pvVfsRead(VfsHandle& handle, std::uint8_t* destination, std::int32_t size);

// Writes `size` bytes from `source`; returns the count written. A memory buffer grows to
// pvVfsGrowSize(needed); pvVfsSetEof trims it.
std::int32_t pvVfsWrite(VfsHandle& handle, const std::uint8_t* source, std::int32_t size);

// Moves the position by `distance` from the start (0), the current position (1) or the end
// (2); returns the new position. A memory handle takes any other method as "offset 0"
// (result 0), and a position before the start as position 0.
std::int32_t pvVfsSeek(VfsHandle& handle, std::int32_t distance, std::int32_t method);

// pvVfsSeek with 64-bit positions, for archives past 4 GiB. A file moves anywhere the file
// system allows. Memory and stream handles stay 32-bit: a distance outside the signed 32-bit
// range raises "pvVfsSeek" (invalid parameter) instead of being cut, and the result is
// theirs.
std::int64_t pvVfsSeek64(VfsHandle& handle, std::int64_t distance, std::int32_t method);

// Ends the output at the current position: a memory buffer is trimmed to it, a stream is
// told `name` through VfsSetEndOfFile, a file is cut there; a standard handle is left alone.
void pvVfsSetEof(VfsHandle& handle, const std::string& name);

// Closes what the handle holds: drops the buffer (the caller's array is left as it is),
// closes the file, releases the stream. Closing twice is harmless.
void pvVfsClose(VfsHandle& handle);

// The standard-handle selector (-10, -11, -12) that `name` stands for when its lower-case
// form is "stdin:", "stdout:" or "stderr:"; 0 for any other name (a file whose name merely
// ends in ":" is a file).
std::int32_t pvStdHandleOf(const std::string& name);

// Opens `name` like CreateFileW, or, when its lower-case form is "stdin:", "stdout:" or
// "stderr:", the process's standard handle (the other arguments are then ignored).
platform::FileHandle pvCreateFile(const std::string& name, std::uint32_t access,
                                  std::uint32_t shareMode, std::uint32_t disposition,
                                  std::uint32_t flags);

// Creates the folder `path` and its missing parents. On failure returns false and sets
// `message` to "File already exists (path)" when something that is not a folder is in the
// way, else to the system error text and " (path)".
bool pvMkDir(const std::string& path, std::string& message);

// A local date-time (an OLE date) as a UTC file time, to whole seconds.
platform::FileTime pvToFileTime(double localDate);

// The size a memory buffer grows to when `needed` bytes are required: above 16 MiB the next
// multiple of 16 MiB, otherwise the smallest power of two above `needed` but at least 8192;
// never above 0x7FFFFFFF.
std::int32_t pvVfsGrowSize(std::int64_t needed);

}  // namespace lum::zip
