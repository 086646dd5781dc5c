// Files and folders by path on Windows.
#include <windows.h>

#include "platform/fs.h"
#include "platform/win32/handle.h"
#include "platform/win32/wide.h"

namespace lum::platform {

std::uint32_t FileAttributesOf(const std::string& path) {
  return ::GetFileAttributesW(win32::Widen(path).c_str());
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
  FileHandle file =
      win32::Own(::CreateFileW(win32::Widen(path).c_str(), FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) return false;
  FILETIME ft;
  ft.dwLowDateTime = utc.Low();
  ft.dwHighDateTime = utc.High();
  const BOOL ok = ::SetFileTime(win32::Raw(file), nullptr, nullptr, &ft);
  const DWORD error = ::GetLastError();
  file.Close();
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

namespace lum::platform {

PathStatus QueryPath(const std::string& path, bool followLink) {
  PathStatus status;
  const std::wstring wide = win32::Widen(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (path.empty() || attributes == INVALID_FILE_ATTRIBUTES) return status;
  const FileHandle file = win32::OpenForQuery(wide, followLink);
  BY_HANDLE_FILE_INFORMATION info{};
  DWORD found = attributes;
  if (file && ::GetFileInformationByHandle(win32::Raw(file), &info)) {
    found = info.dwFileAttributes;
    status.identity = FileId{info.dwVolumeSerialNumber,
                             (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  }
  if (!followLink && (found & FILE_ATTRIBUTE_REPARSE_POINT)) {
    status.kind = PathKind::kLink;
  } else if (found & FILE_ATTRIBUTE_DIRECTORY) {
    status.kind = PathKind::kFolder;
  } else if (found & FILE_ATTRIBUTE_DEVICE) {
    status.kind = PathKind::kOther;
  } else {
    status.kind = PathKind::kFile;
    status.readOnly = (found & FILE_ATTRIBUTE_READONLY) != 0;
  }
  return status;
}

std::optional<FileId> IdentityOf(const FileHandle& file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file || !::GetFileInformationByHandle(win32::Raw(file), &info)) return std::nullopt;
  return FileId{info.dwVolumeSerialNumber,
                (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

std::string ResolvedPath(const std::string& path) {
  FileHandle file = win32::OpenForQuery(win32::Widen(path), true);
  if (!file) return {};
  std::wstring buffer(1024, L'\0');
  DWORD n = ::GetFinalPathNameByHandleW(win32::Raw(file), buffer.data(),
                                        static_cast<DWORD>(buffer.size()), 0);
  if (n >= buffer.size()) {
    buffer.resize(n + 1);
    n = ::GetFinalPathNameByHandleW(win32::Raw(file), buffer.data(),
                                    static_cast<DWORD>(buffer.size()), 0);
  }
  const DWORD error = ::GetLastError();
  file.Close();
  if (n == 0 || n >= buffer.size()) {
    ::SetLastError(error);
    return {};
  }
  buffer.resize(n);
  // "\\?\C:\x" → "C:\x"; "\\?\UNC\server\share" → "\\server\share".
  if (buffer.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    buffer = L"\\" + buffer.substr(7);
  } else if (buffer.rfind(L"\\\\?\\", 0) == 0) {
    buffer = buffer.substr(4);
  }
  return win32::Narrow(buffer);
}

FileHandle CreateFileBeside(const std::string& target, std::string& tempPath) {
  static unsigned counter = 0;
  const auto slash = target.find_last_of("\\/");
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    wsprintfA(name, ".lum%05x%04x.tmp", ::GetCurrentProcessId() & 0xFFFFF, ++counter & 0xFFFF);
    tempPath = folder + name;
    FileHandle file =
        win32::Own(::CreateFileW(win32::Widen(tempPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, nullptr));
    if (file) return file;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      tempPath.clear();
      ::SetLastError(error);
      return FileHandle();
    }
  }
  tempPath.clear();
  ::SetLastError(ERROR_FILE_EXISTS);
  return FileHandle();
}

bool SetLastWriteTimeOf(const FileHandle& file, const FileTime& utc) {
  FILETIME ft;
  ft.dwLowDateTime = utc.Low();
  ft.dwHighDateTime = utc.High();
  return ::SetFileTime(win32::Raw(file), nullptr, nullptr, &ft) != FALSE;
}

bool SetUnixModeOf(const FileHandle&, std::uint32_t) {
  return true;
}

bool KeepAccessOf(const std::string&, const std::string&) {
  return true;
}

std::uint32_t NewFileMode() {
  return 0666;
}

bool MakeSymbolicLink(const std::string&, const std::string&) {
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

}  // namespace lum::platform
