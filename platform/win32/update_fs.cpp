// Windows side of update_fs.h.
#include <windows.h>

#include "platform/fs.h"
#include "platform/update_fs.h"
#include "platform/win32/handle.h"
#include "platform/win32/wide.h"

namespace lum::platform {

bool FlushFile(const FileHandle& file) {
  return ::FlushFileBuffers(win32::Raw(file)) != FALSE;
}

bool FreeSpaceOf(const std::string& folder, std::uint64_t& bytes) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExW(win32::Widen(folder).c_str(), &available, nullptr, nullptr)) {
    return false;
  }
  bytes = available.QuadPart;
  return true;
}

bool RemoveFolder(const std::string& path) {
  return ::RemoveDirectoryW(win32::Widen(path).c_str()) != FALSE;
}

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(win32::Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

FileHandle OpenRegularFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(win32::Widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FileHandle();
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FileHandle();
  }
  return CreateFileHandle(path, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
}

bool CanReplaceFile(const std::string& path) {
  const FileHandle file =
      win32::Own(::CreateFileW(win32::Widen(path).c_str(), GENERIC_WRITE | DELETE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return true;
  const DWORD error = ::GetLastError();
  return error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION;
}

bool MoveFileInGroup(const std::string& source, const std::string& target) {
  return MoveFileReplace(source, target, true);
}

bool FlushVolumeOf(const std::string&) {
  return true;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace lum::platform
