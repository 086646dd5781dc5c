// Folder searches on Windows: FindFirstFileW / FindNextFileW / FindClose.
#include <windows.h>

#include "platform/find.h"
#include "platform/win32/wide.h"

namespace lum::platform {

struct FindHandle::Impl {
  HANDLE search;
};

namespace {

FileTime FromFiletime(const FILETIME& ft) {
  return FileTime::FromParts(ft.dwLowDateTime, ft.dwHighDateTime);
}

void Convert(const WIN32_FIND_DATAW& w, FindData& out) {
  out.Attributes = w.dwFileAttributes;
  out.CreationTime = FromFiletime(w.ftCreationTime);
  out.LastAccessTime = FromFiletime(w.ftLastAccessTime);
  out.LastWriteTime = FromFiletime(w.ftLastWriteTime);
  out.SizeHigh = w.nFileSizeHigh;
  out.SizeLow = w.nFileSizeLow;
  // Both names end at their first NUL character.
  out.Name = win32::Narrow(w.cFileName, ::wcsnlen(w.cFileName, MAX_PATH));
  out.ShortName = win32::Narrow(w.cAlternateFileName, ::wcsnlen(w.cAlternateFileName, 14));
}

}  // namespace

void FindHandle::ImplDeleter::operator()(Impl* impl) const {
  ::FindClose(impl->search);
  delete impl;
}

FindHandle FindFirst(const std::string& pathAndMask, FindData& first) {
  first = FindData();
  WIN32_FIND_DATAW w;
  HANDLE h = ::FindFirstFileW(win32::Widen(pathAndMask).c_str(), &w);
  if (h == INVALID_HANDLE_VALUE) return FindHandle();
  FindHandle handle;
  handle.m_impl.reset(new FindHandle::Impl{h});
  Convert(w, first);
  return handle;
}

bool FindExact(const std::string& path, FindData& data) {
  // Windows names cannot hold "*" or "?", so the search is the lookup of the name itself.
  FindHandle search = FindFirst(path, data);
  return search.IsValid();
}

bool ReadLinkTarget(const std::string& /*path*/, std::string& target) {
  target.clear();
  ::SetLastError(ERROR_INVALID_FUNCTION);
  return false;
}

bool FindNext(FindHandle& search, FindData& next) {
  if (!search.m_impl) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  WIN32_FIND_DATAW w;
  if (!::FindNextFileW(search.m_impl->search, &w)) return false;
  Convert(w, next);
  return true;
}

}  // namespace lum::platform
