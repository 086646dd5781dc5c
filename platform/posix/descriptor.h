// POSIX only: file descriptors in their owner, FileHandle.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <string>

#include "platform/file.h"

namespace lum::platform::posix {

// The descriptor that `file` owns (-1 when it owns none).
inline int Fd(const FileHandle& file) {
  return static_cast<int>(file.Native());
}

// open(2), retried when a signal interrupts it, as an owned descriptor: invalid on failure,
// with errno set.
inline FileHandle OpenFd(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? FileHandle() : FileHandle::FromNative(fd);
}

// Opens the regular file `path` for reading and stores its status in `st`. Anything else (a
// folder, a pipe, a device) is refused with 5 without waiting on it; a failed open sets the
// last error from errno. Invalid on failure.
FileHandle OpenRegularForRead(const std::string& path, struct stat& st);

}  // namespace lum::platform::posix
