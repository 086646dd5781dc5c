// Folder searches with a mask: FindFirstFileW / FindNextFileW / FindClose.
//
// The mask is the last component of the search path: "*" any run of characters, "?" one
// character, and "*.*" every name. A search path without a wildcard finds the file or folder
// itself. POSIX lists the folder with opendir/readdir and takes each record from lstat;
// matching is case-sensitive there, and the records come sorted by name (byte order) so
// that walks are repeatable. "." and ".." are reported as Windows reports them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/time.h"

namespace lum::platform {

// File attribute bits (FILE_ATTRIBUTE_*).
inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeHidden = 0x02;
inline constexpr std::uint32_t kAttributeSystem = 0x04;
inline constexpr std::uint32_t kAttributeVolumeLabel = 0x08;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;
inline constexpr std::uint32_t kAttributeNormal = 0x80;
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;

// Unix file-type bits of FindData::UnixMode (st_mode).
inline constexpr std::uint32_t kUnixTypeMask = 0170000;
inline constexpr std::uint32_t kUnixRegular = 0100000;
inline constexpr std::uint32_t kUnixDirectory = 0040000;
inline constexpr std::uint32_t kUnixLink = 0120000;

// WIN32_FIND_DATAW with UTF-8 names. POSIX: attributes 0x10 for folders, 0x20 for anything
// else, plus 0x01 when it has no write permission for anyone and 0x400 for a symbolic link.
// A link that resolves is described by what it points to (size, times, mode, and 0x10 when
// that is a folder) plus 0x400; a dangling link by itself (UnixMode type 0120000).
// CreationTime is the status change time; ShortName is empty.
struct FindData {
  std::uint32_t Attributes = 0;
  FileTime CreationTime;
  FileTime LastAccessTime;
  FileTime LastWriteTime;
  std::uint32_t SizeHigh = 0;
  std::uint32_t SizeLow = 0;
  std::string Name;
  std::string ShortName;
  // POSIX: st_mode (file type and permission bits) of what the record describes; 0 on
  // Windows, where the attributes say all there is.
  std::uint32_t UnixMode = 0;
};

// True when `data` describes something that is neither a file, a folder nor a symbolic link
// (a FIFO, a socket, a device): reading it could block or never end. Always false on Windows.
inline bool IsSpecialFile(const FindData& data) {
  const std::uint32_t type = data.UnixMode & kUnixTypeMask;
  return data.UnixMode != 0 && type != kUnixRegular && type != kUnixDirectory && type != kUnixLink;
}
// True for a symbolic link whose target does not exist (POSIX only).
inline bool IsDanglingLink(const FindData& data) {
  return (data.UnixMode & kUnixTypeMask) == kUnixLink;
}

// An open search. Move-only; the destructor closes it (FindClose).
class FindHandle {
 public:
  bool IsValid() const { return m_impl != nullptr; }
  explicit operator bool() const { return IsValid(); }
  void Close() { m_impl.reset(); }

  struct Impl;  // the platform's search state
  // Ends the search and releases its state; each platform defines it.
  struct ImplDeleter {
    void operator()(Impl* impl) const;
  };

 private:
  friend FindHandle FindFirst(const std::string&, FindData&);
  friend bool FindNext(FindHandle&, FindData&);
  std::unique_ptr<Impl, ImplDeleter> m_impl;
};

// Starts a search for `pathAndMask` (UTF-8) and stores the first record. On failure the
// handle is invalid and the last error says why: 2 when nothing matches, 3 when the folder
// does not exist, or another code.
FindHandle FindFirst(const std::string& pathAndMask, FindData& first);
// Stores the next record; false with last error 18 (no more files) at the end.
bool FindNext(FindHandle& search, FindData& next);

// Describes `path` itself (UTF-8; a folder path without a trailing separator), its last
// component taken as a name even when it holds "*" or "?". Windows: FindFirstFileW, whose
// names cannot hold wildcards. Returns false with the last error set (2 missing, 3 folder
// missing).
bool FindExact(const std::string& path, FindData& data);

// The target text of the symbolic link `path` (POSIX readlink). False with the last error set
// when `path` is not a link; always false on Windows (error 1, not supported).
bool ReadLinkTarget(const std::string& path, std::string& target);

}  // namespace lum::platform
