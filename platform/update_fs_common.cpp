// The parts of update_fs.h that need only the file API of file.h and fs.h.
#include "platform/error_code.h"
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
  if (!IsRegularFile(path)) return false;
  FileHandle file =
      CreateFileHandle(path, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
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
  const std::string temporary = path + ".new";
  {
    FileHandle file = CreateFileHandle(temporary, kGenericWrite, 0, kCreateAlways, 0x20);
    if (!file) return false;
    if (!WriteAll(file, text) || !FlushFile(file)) {
      file.Close();
      RemoveFile(temporary);
      return false;
    }
  }
  if (MoveFileReplace(temporary, path, true)) return true;
  RemoveFile(temporary);
  return false;
}

}  // namespace lum::platform
