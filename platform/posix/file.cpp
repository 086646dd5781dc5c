// Files and standard handles on POSIX, with the results of the Win32 file API.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "platform/file.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/errno_map.h"

// Positions and sizes of files past 2 GiB need a 64-bit off_t; a 32-bit build gets one from
// _FILE_OFFSET_BITS=64, which the build defines for every POSIX target.
static_assert(sizeof(off_t) == 8, "build with _FILE_OFFSET_BITS=64");

namespace lum::platform {
namespace {

using posix::Fd;

bool IsPipeOrSocket(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

// write() to a pipe whose reader has gone raises SIGPIPE, which would end the process where
// Windows returns an error. The signal is blocked for this thread during the write and a
// pending one is consumed, so the write reports EPIPE instead.
ssize_t WriteWithoutSigpipe(int fd, const void* data, std::size_t size) {
  sigset_t pipeOnly, old;
  sigemptyset(&pipeOnly);
  sigaddset(&pipeOnly, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
  ssize_t n = ::write(fd, data, size);
  const int err = errno;
  if (n < 0 && err == EPIPE && !wasPending) {
    const timespec zero{0, 0};
    while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = err;
  return n;
}

}  // namespace

bool FileHandle::Close() {
  bool closed = true;
  if (m_native != kInvalid) {
    closed = ::close(static_cast<int>(m_native)) == 0;
    m_native = kInvalid;
  }
  m_kind = 0;
  return closed;
}

FileHandle CreateFileHandle(const std::string& path, std::uint32_t access,
                            std::uint32_t /*shareMode*/, std::uint32_t disposition,
                            std::uint32_t flags) {
  int oflags = O_CLOEXEC;
  const bool read = (access & kGenericRead) != 0;
  const bool write = (access & kGenericWrite) != 0;
  oflags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case kCreateNew:
      oflags |= O_CREAT | O_EXCL;
      break;
    case kCreateAlways:
      oflags |= O_CREAT | O_TRUNC;
      break;
    case kOpenExisting:
      break;
    case kOpenAlways:
      oflags |= O_CREAT;
      break;
    case kTruncateExisting:
      oflags |= O_TRUNC;
      break;
    default:
      SetLastErrorCode(kErrorInvalidParameter);
      return FileHandle();
  }
  if (path.empty()) {
    SetLastErrorCode(kErrorPathNotFound);
    return FileHandle();
  }
  // Windows gives new files the read-only attribute when asked; here that is no write bits.
  const mode_t mode = (flags & 0x01) ? 0444 : 0666;
  FileHandle file = posix::OpenFd(path.c_str(), oflags, mode);
  if (!file) {
    posix::SetPathError(errno, path);
    return FileHandle();
  }
  struct stat st;
  if (::fstat(Fd(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    // CreateFileW refuses a folder unless asked for backup semantics.
    SetLastErrorCode(kErrorAccessDenied);
    return FileHandle();
  }
  return file;
}

FileHandle OpenStdHandle(std::int32_t which) {
  int fd;
  switch (which) {
    case kStdInputHandle:
      fd = 0;
      break;
    case kStdOutputHandle:
      fd = 1;
      break;
    case kStdErrorHandle:
      fd = 2;
      break;
    default:
      SetLastErrorCode(kErrorInvalidParameter);
      return FileHandle();
  }
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  if (copy < 0) {
    posix::SetErrnoError(errno);
    return FileHandle();
  }
  return FileHandle::FromNative(copy);
}

bool FileRead(const FileHandle& file, void* destination, std::uint32_t size, std::uint32_t* read) {
  *read = 0;
  if (!file.IsValid()) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  ssize_t n;
  do {
    n = ::read(Fd(file), destination, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    posix::SetErrnoError(errno);
    return false;
  }
  *read = static_cast<std::uint32_t>(n);
  return true;
}

bool FileWrite(const FileHandle& file, const void* source, std::uint32_t size,
               std::uint32_t* written) {
  *written = 0;
  if (!file.IsValid()) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  const int fd = Fd(file);
  // Whether the descriptor is a pipe is asked once per handle, not once per write.
  constexpr int kRegular = 1, kPipe = 2;
  if (file.Kind() == 0) file.SetKind(IsPipeOrSocket(fd) ? kPipe : kRegular);
  const bool pipe = file.Kind() == kPipe;
  const auto* p = static_cast<const unsigned char*>(source);
  std::uint32_t done = 0;
  // Windows writes the whole block or fails; POSIX may write part of it, so go on.
  while (done < size) {
    ssize_t n =
        pipe ? WriteWithoutSigpipe(fd, p + done, size - done) : ::write(fd, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      posix::SetErrnoError(errno);
      *written = done;
      return false;
    }
    done += static_cast<std::uint32_t>(n);
  }
  *written = done;
  return true;
}

bool FileSeek64(const FileHandle& file, std::int64_t distance, std::uint32_t method,
                std::int64_t& position) {
  if (!file.IsValid()) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  int whence;
  switch (method) {
    case kFileBegin:
      whence = SEEK_SET;
      break;
    case kFileCurrent:
      whence = SEEK_CUR;
      break;
    case kFileEnd:
      whence = SEEK_END;
      break;
    default:
      SetLastErrorCode(kErrorInvalidParameter);
      return false;
  }
  const off_t result = ::lseek(Fd(file), static_cast<off_t>(distance), whence);
  if (result < 0) {
    // lseek refuses a position before the start with EINVAL; Windows names that case.
    SetLastErrorCode(errno == EINVAL ? kErrorNegativeSeek : posix::CodeFromErrno(errno));
    return false;
  }
  position = static_cast<std::int64_t>(result);
  return true;
}

std::uint32_t FileSeek(const FileHandle& file, std::int32_t distance, std::uint32_t method) {
  std::int64_t position = 0;
  if (!FileSeek64(file, distance, method, position)) return kInvalidSetFilePointer;
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(position));
}

bool FileSetEnd(const FileHandle& file) {
  if (!file.IsValid()) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  const off_t here = ::lseek(Fd(file), 0, SEEK_CUR);
  if (here < 0 || ::ftruncate(Fd(file), here) != 0) {
    posix::SetErrnoError(errno);
    return false;
  }
  return true;
}

}  // namespace lum::platform
