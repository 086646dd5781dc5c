// Files and folders by path on Windows.
#include <windows.h>

#include "platform/fs.h"
#include "platform/win32/wide.h"

namespace lum::platform {

std::uint32_t FileAttributesOf(const std::string& path) {
  return ::GetFileAttributesW(win32::Widen(path).c_str());
}

bool FileIdOf(const std::string& path, FileId& id) {
  // No access rights are needed to read a file's identity; backup semantics open folders.
  HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = ::GetFileInformationByHandle(h, &info);
  const DWORD error = ::GetLastError();
  ::CloseHandle(h);
  if (!ok) {
    ::SetLastError(error);
    return false;
  }
  id.Volume = info.dwVolumeSerialNumber;
  id.Index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

bool MakeDirectory(const std::string& path) {
  return ::CreateDirectoryW(win32::Widen(path).c_str(), nullptr) != FALSE;
}

bool RemoveFile(const std::string& path) {
  return ::DeleteFileW(win32::Widen(path).c_str()) != FALSE;
}

bool CopyFileTo(const std::string& source, const std::string& target, bool failIfExists) {
  return ::CopyFileW(win32::Widen(source).c_str(), win32::Widen(target).c_str(),
                     failIfExists ? TRUE : FALSE) != FALSE;
}

bool SetLastWriteTime(const std::string& path, const FileTime& utc) {
  // Backup semantics let the same call open a folder.
  HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME ft;
  ft.dwLowDateTime = utc.Low();
  ft.dwHighDateTime = utc.High();
  const BOOL ok = ::SetFileTime(h, nullptr, nullptr, &ft);
  const DWORD error = ::GetLastError();
  ::CloseHandle(h);
  if (!ok) ::SetLastError(error);
  return ok != FALSE;
}

bool SetAttributesOf(const std::string& path, std::uint32_t attributes) {
  return ::SetFileAttributesW(win32::Widen(path).c_str(), attributes) != FALSE;
}

bool MoveFileReplace(const std::string& source, const std::string& target, bool durable) {
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
  return ::MoveFileExW(win32::Widen(source).c_str(), win32::Widen(target).c_str(), flags) != FALSE;
}

}  // namespace lum::platform
