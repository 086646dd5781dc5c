// Windows only: kernel handles in their owner, FileHandle (CloseHandle when it goes away).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace lum::platform::win32 {

// The handle that `file` owns (INVALID_HANDLE_VALUE when it owns none).
inline HANDLE Raw(const FileHandle& file) {
  return reinterpret_cast<HANDLE>(file.Native());
}

// Takes ownership of `handle`; INVALID_HANDLE_VALUE gives an invalid FileHandle.
inline FileHandle Own(HANDLE handle) {
  return FileHandle::FromNative(reinterpret_cast<std::intptr_t>(handle));
}

// CreateFileW with no access rights and backup semantics, which opens a file or a folder just
// to ask about it; with `followLink` false a link at the end of `path` is opened itself.
inline FileHandle OpenForQuery(const std::wstring& path, bool followLink) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return Own(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, flags, nullptr));
}

}  // namespace lum::platform::win32
