// The parts of update_fs.h that need only the file API of file.h, find.h and fs.h.
#include "platform/error_code.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "platform/update_fs.h"

namespace lum::platform {

namespace {

bool WriteAll(const FileHandle& file, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const std::size_t left = text.size() - done;
    const std::uint32_t chunk = left > (1u << 20) ? (1u << 20) : static_cast<std::uint32_t>(left);
    std::uint32_t written = 0;
    if (!FileWrite(file, text.data() + done, chunk, &written) || written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& text) {
  text.clear();
  const FileHandle file = OpenRegularFile(path);
  if (!file) return false;
  char buffer[65536];
  for (;;) {
    std::uint32_t read = 0;
    if (!FileRead(file, buffer, sizeof buffer, &read)) return false;
    if (read == 0) return true;
    text.append(buffer, read);
  }
}

bool AppendToFile(const std::string& path, const std::string& text, bool durable) {
  if (FileAttributesOf(path) != kInvalidFileAttributes && !IsRegularFile(path)) {
    SetLastErrorCode(kErrorAccessDenied);
    return false;
  }
  FileHandle file = CreateFileHandle(path, kGenericWrite, kFileShareRead, kOpenAlways, 0x20);
  if (!file) return false;
  SetLastErrorCode(kErrorSuccess);
  if (FileSeek(file, 0, kFileEnd) == kInvalidSetFilePointer &&
      GetLastErrorCode() != kErrorSuccess) {
    return false;
  }
  if (!WriteAll(file, text)) return false;
  return !durable || FlushFile(file);
}

bool ReplaceFileContent(const std::string& path, const std::string& text) {
  // Through a link, the file it points to is replaced.
  std::string target = ResolvedPath(path);
  if (target.empty()) target = path;
  FindData existing;
  const bool keepMode = kUnixFileModes && FindExact(target, existing);
  std::string temporary;
  FileHandle file = CreateFileBeside(target, temporary);
  if (!file) return false;
  const std::uint32_t mode = existing.UnixMode & 0777;
  const bool written = (!keepMode || mode == NewFileMode() || SetUnixModeOf(file, mode)) &&
                       WriteAll(file, text) && FlushFile(file);
  if (written && file.Close() && MoveFileReplace(temporary, target, true)) return true;
  // The first failure is the one reported, not a failure of the clean-up.
  const std::uint32_t error = GetLastErrorCode();
  file.Close();
  RemoveFile(temporary);
  SetLastErrorCode(error);
  return false;
}

}  // namespace lum::platform
