// POSIX side of update_fs.h: fsync, statvfs, rmdir, syncfs.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/error_code.h"
#include "platform/fs.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/errno_map.h"
#include "platform/update_fs.h"

namespace lum::platform {

bool FlushFile(const FileHandle& file) {
  if (::fsync(posix::Fd(file)) != 0) {
    posix::SetErrnoError(errno);
    return false;
  }
  return true;
}

bool FreeSpaceOf(const std::string& folder, std::uint64_t& bytes) {
  struct statvfs vfs;
  if (::statvfs(folder.c_str(), &vfs) != 0) {
    posix::SetPathError(errno, folder);
    return false;
  }
  bytes = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return true;
}

bool RemoveFolder(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) {
    posix::SetPathError(errno, path);
    return false;
  }
  return true;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    posix::SetPathError(errno, path);
    return false;
  }
  return S_ISREG(st.st_mode);
}

FileHandle OpenRegularFile(const std::string& path) {
  struct stat st;
  return posix::OpenRegularForRead(path, st);
}

bool CanReplaceFile(const std::string&) {
  return true;
}

bool MoveFileInGroup(const std::string& source, const std::string& target) {
  return MoveFileReplace(source, target, false);
}

bool FlushVolumeOf(const std::string& folder) {
  const FileHandle file = posix::OpenFd(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!file) {
    posix::SetPathError(errno, folder);
    return false;
  }
  if (::syncfs(posix::Fd(file)) != 0) {
    posix::SetErrnoError(errno);
    return false;
  }
  return true;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  timespec wait{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace lum::platform
