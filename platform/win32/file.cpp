// Files and standard handles on Windows: the file API itself.
#include <windows.h>

#include "platform/file.h"
#include "platform/win32/handle.h"
#include "platform/win32/wide.h"

namespace lum::platform {
namespace {

HANDLE Native(const FileHandle& file) {
  return win32::Raw(file);
}

}  // namespace

bool FileHandle::Close() {
  bool closed = true;
  if (m_native != kInvalid) {
    closed = ::CloseHandle(reinterpret_cast<HANDLE>(m_native)) != FALSE;
    m_native = kInvalid;
  }
  m_kind = 0;
  return closed;
}

FileHandle CreateFileHandle(const std::string& path, std::uint32_t access, std::uint32_t shareMode,
                            std::uint32_t disposition, std::uint32_t flags) {
  return win32::Own(::CreateFileW(win32::Widen(path).c_str(), access, shareMode, nullptr,
                                  disposition, flags, nullptr));
}

FileHandle OpenStdHandle(std::int32_t which) {
  HANDLE h = ::GetStdHandle(static_cast<DWORD>(which));
  if (h == INVALID_HANDLE_VALUE) return FileHandle();
  if (h == nullptr) {
    // A program without a console has no such stream.
    ::SetLastError(ERROR_INVALID_HANDLE);
    return FileHandle();
  }
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return FileHandle();
  }
  return win32::Own(copy);
}

bool FileRead(const FileHandle& file, void* destination, std::uint32_t size, std::uint32_t* read) {
  DWORD n = 0;
  const BOOL ok = ::ReadFile(Native(file), destination, size, &n, nullptr);
  *read = n;
  return ok != FALSE;
}

bool FileWrite(const FileHandle& file, const void* source, std::uint32_t size,
               std::uint32_t* written) {
  DWORD n = 0;
  const BOOL ok = ::WriteFile(Native(file), source, size, &n, nullptr);
  *written = n;
  return ok != FALSE;
}

std::uint32_t FileSeek(const FileHandle& file, std::int32_t distance, std::uint32_t method) {
  return ::SetFilePointer(Native(file), distance, nullptr, method);
}

bool FileSeek64(const FileHandle& file, std::int64_t distance, std::uint32_t method,
                std::int64_t& position) {
  LARGE_INTEGER move, result;
  move.QuadPart = distance;
  if (!::SetFilePointerEx(Native(file), move, &result, method)) return false;
  position = result.QuadPart;
  return true;
}

bool FileSetEnd(const FileHandle& file) {
  return ::SetEndOfFile(Native(file)) != FALSE;
}

}  // namespace lum::platform
