// Files and standard handles with the semantics of the Win32 file API: CreateFileW,
// GetStdHandle, ReadFile, WriteFile, SetFilePointer (32-bit distance, no high part),
// SetEndOfFile and CloseHandle. The storage layer of the archive engine is written against
// these results, so both implementations give the same ones.
//
// Failures return false (or an invalid handle, or 0xFFFFFFFF from a seek) and set the
// calling thread's last-error code, read with GetLastErrorCode(); see error_code.h for the
// codes and how POSIX errno values map onto them.
//
// Names differ from the Win32 ones on purpose: several Win32 names are macros in
// <windows.h> (CreateFile → CreateFileW), which would rename these functions in some
// translation units and not in others.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error_code.h"

namespace lum::platform {

// Access rights, share modes, dispositions and flags, with their Win32 values.
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kFileShareRead = 1;
inline constexpr std::uint32_t kFileShareWrite = 2;
inline constexpr std::uint32_t kCreateNew = 1;
inline constexpr std::uint32_t kCreateAlways = 2;
inline constexpr std::uint32_t kOpenExisting = 3;
inline constexpr std::uint32_t kOpenAlways = 4;
inline constexpr std::uint32_t kTruncateExisting = 5;

// Seek methods of FileSeek.
inline constexpr std::uint32_t kFileBegin = 0;
inline constexpr std::uint32_t kFileCurrent = 1;
inline constexpr std::uint32_t kFileEnd = 2;
// FileSeek's failure result (INVALID_SET_FILE_POINTER).
inline constexpr std::uint32_t kInvalidSetFilePointer = 0xFFFFFFFFu;

// The standard-handle selectors of GetStdHandle.
inline constexpr std::int32_t kStdInputHandle = -10;
inline constexpr std::int32_t kStdOutputHandle = -11;
inline constexpr std::int32_t kStdErrorHandle = -12;

// An open operating-system file handle (a Windows HANDLE or a POSIX file descriptor).
// Move-only; the destructor closes it. A default-constructed handle is invalid.
class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept : m_native(other.m_native), m_kind(other.m_kind) {
    other.m_native = kInvalid;
    other.m_kind = 0;
  }
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      m_native = other.m_native;
      m_kind = other.m_kind;
      other.m_native = kInvalid;
      other.m_kind = 0;
    }
    return *this;
  }

  bool IsValid() const { return m_native != kInvalid; }
  explicit operator bool() const { return IsValid(); }
  // Closes the handle (CloseHandle / close); a closed or invalid handle is left alone. False
  // when the system reports a failure of the close itself (POSIX: an error of delayed writes).
  bool Close();

  // The raw value, for the platform implementation only: a HANDLE cast to intptr_t on
  // Windows, a file descriptor on POSIX.
  std::intptr_t Native() const { return m_native; }
  static FileHandle FromNative(std::intptr_t native) {
    FileHandle h;
    h.m_native = native;
    return h;
  }
  // What the platform learnt about the handle once, for the platform implementation only
  // (POSIX: whether it is a pipe or socket, so that writes need not ask every time); 0 when
  // nothing is known yet.
  int Kind() const { return m_kind; }
  void SetKind(int kind) const { m_kind = kind; }

 private:
  static constexpr std::intptr_t kInvalid = -1;
  std::intptr_t m_native = kInvalid;
  mutable int m_kind = 0;
};

// Opens or creates `path` (UTF-8) like CreateFileW with no security attributes and no
// template. `flags` carries FILE_ATTRIBUTE_* values for new files (0x20 archive,
// 0x01 read-only). Returns an invalid handle on failure (last error set), for example 2
// when the file is missing, 3 when a parent folder is missing, 5 for a folder or no access.
// POSIX: sharing is not enforced (POSIX has no mandatory share modes); a folder is refused
// with 5 as CreateFileW refuses it.
FileHandle CreateFileHandle(const std::string& path, std::uint32_t access, std::uint32_t shareMode,
                            std::uint32_t disposition, std::uint32_t flags);

// The process's standard input, output or error (selector -10, -11, -12) as a handle of its
// own: closing it never closes the process's stream (Windows: DuplicateHandle of
// GetStdHandle; POSIX: dup of 0, 1, 2). Invalid when the process has no such stream.
FileHandle OpenStdHandle(std::int32_t which);

// Reads up to `size` bytes. On success stores the count read (0 at the end of a file, and
// on POSIX at the end of a pipe whose writer closed it) and returns true. On failure
// returns false with the last error set; Windows reports a closed pipe as error 109.
bool FileRead(const FileHandle& file, void* destination, std::uint32_t size, std::uint32_t* read);

// Writes `size` bytes; stores the count written. Returns false with the last error set on
// failure (109 when the reading side of a pipe has gone; POSIX never raises SIGPIPE here).
bool FileWrite(const FileHandle& file, const void* source, std::uint32_t size,
               std::uint32_t* written);

// Moves the file position by the signed 32-bit `distance` from the start (0), the current
// position (1) or the end (2), like SetFilePointer without a high part. Returns the new
// position's low 32 bits, or 0xFFFFFFFF with the last error set (131 for a position before
// the start, 87 for a bad method).
std::uint32_t FileSeek(const FileHandle& file, std::int32_t distance, std::uint32_t method);

// FileSeek with a 64-bit distance and result, like SetFilePointerEx: stores the new position
// in `position`. Returns false with the last error set (131, 87) on failure.
bool FileSeek64(const FileHandle& file, std::int64_t distance, std::uint32_t method,
                std::int64_t& position);

// Cuts (or extends) the file at the current position, like SetEndOfFile.
bool FileSetEnd(const FileHandle& file);

}  // namespace lum::platform
