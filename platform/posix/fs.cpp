// Files and folders by path on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "platform/error_code.h"
#include "platform/fs.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/stat_util.h"

namespace lum::platform {

namespace {

// stat() of `path` (links followed); on failure sets the last error (an empty path is one
// not found) and returns false.
bool StatPath(const std::string& path, struct stat& st) {
  if (path.empty()) {
    SetLastErrorCode(kErrorPathNotFound);
    return false;
  }
  if (::stat(path.c_str(), &st) != 0) {
    posix::SetPathError(errno, path);
    return false;
  }
  return true;
}

}  // namespace

std::uint32_t FileAttributesOf(const std::string& path) {
  struct stat st;
  if (!StatPath(path, st)) return kInvalidFileAttributes;
  return posix::AttributesFromStat(path, st) & ~kAttributeReparsePoint;
}

bool MakeDirectory(const std::string& path) {
  if (path.empty()) {
    SetLastErrorCode(kErrorPathNotFound);
    return false;
  }
  if (::mkdir(path.c_str(), 0777) != 0) {
    const int err = errno;
    if (err == EEXIST)
      SetLastErrorCode(kErrorAlreadyExists);
    else
      posix::SetPathError(err, path);
    return false;
  }
  return true;
}

bool RemoveFile(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastErrorCode(kErrorAccessDenied);
    return false;
  }
  if (::unlink(path.c_str()) != 0) {
    posix::SetPathError(errno, path);
    return false;
  }
  return true;
}

namespace posix {

FileHandle OpenRegularForRead(const std::string& path, struct stat& st) {
  // Non-blocking, so that a pipe is refused below rather than waited on.
  FileHandle file = OpenFd(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (!file) {
    SetPathError(errno, path);
    return FileHandle();
  }
  if (::fstat(Fd(file), &st) != 0 || !S_ISREG(st.st_mode)) {
    SetLastErrorCode(kErrorAccessDenied);
    return FileHandle();
  }
  return file;
}

}  // namespace posix

bool CopyFileTo(const std::string& source, const std::string& target, bool failIfExists) {
  struct stat srcStat;
  const FileHandle in = posix::OpenRegularForRead(source, srcStat);
  if (!in) return false;
  struct stat dstStat;
  if (::stat(target.c_str(), &dstStat) == 0) {
    if (dstStat.st_dev == srcStat.st_dev && dstStat.st_ino == srcStat.st_ino) {
      // Truncating the target would destroy the source; Windows refuses with a sharing
      // violation because the source is open.
      SetLastErrorCode(kErrorSharingViolation);
      return false;
    }
    if (S_ISDIR(dstStat.st_mode)) {
      SetLastErrorCode(kErrorAccessDenied);
      return false;
    }
  }
  const int oflags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
  FileHandle out = posix::OpenFd(target.c_str(), oflags, srcStat.st_mode & 0777);
  if (!out) {
    posix::SetPathError(errno, target);
    return false;
  }
  std::vector<unsigned char> buffer(65536);
  int failure = 0;
  for (;;) {
    ssize_t n = ::read(posix::Fd(in), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      failure = errno;
      break;
    }
    if (n == 0) break;
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = ::write(posix::Fd(out), buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        failure = errno;
        break;
      }
      done += w;
    }
    if (failure) break;
  }
  if (!failure) {
    // CopyFile keeps the last-write time and the attributes.
    const timespec times[2] = {srcStat.st_atim, srcStat.st_mtim};
    ::futimens(posix::Fd(out), times);
    ::fchmod(posix::Fd(out), srcStat.st_mode & 07777);
  }
  if (!out.Close() && !failure) failure = errno;
  if (failure) {
    ::unlink(target.c_str());
    posix::SetErrnoError(failure);
    return false;
  }
  return true;
}

bool SetLastWriteTime(const std::string& path, const FileTime& utc) {
  const long long ticks = static_cast<long long>(utc.Ticks);
  const long long seconds = ticks / 10000000LL - posix::kEpochDelta1601;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(ticks % 10000000LL * 100);
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    posix::SetPathError(errno, path);
    return false;
  }
  return true;
}

bool SetAttributesOf(const std::string& path, std::uint32_t attributes) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    posix::SetPathError(errno, path);
    return false;
  }
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttributeReadOnly)
    mode &= ~static_cast<mode_t>(0222);
  else
    mode |= S_IWUSR;
  if (mode != (st.st_mode & 07777) && ::chmod(path.c_str(), mode) != 0) {
    posix::SetErrnoError(errno);
    return false;
  }
  return true;
}

namespace {

// fsync of the file or folder at `path`; false with errno set when it cannot be opened or
// flushed.
bool SyncPath(const std::string& path, bool folder) {
  FileHandle file =
      posix::OpenFd(path.c_str(), (folder ? O_RDONLY | O_DIRECTORY : O_RDONLY) | O_CLOEXEC);
  if (!file) return false;
  const bool ok = ::fsync(posix::Fd(file)) == 0;
  const int err = errno;
  file.Close();
  errno = err;
  return ok;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool MoveFileReplace(const std::string& source, const std::string& target, bool durable) {
  struct stat st;
  if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastErrorCode(kErrorAccessDenied);
    return false;
  }
  if (durable && !SyncPath(source, false)) {
    posix::SetPathError(errno, source);
    return false;
  }
  if (::rename(source.c_str(), target.c_str()) != 0) {
    posix::SetPathError(errno, target);
    return false;
  }
  if (durable && !SyncPath(FolderOf(target), true)) {
    posix::SetErrnoError(errno);
    return false;
  }
  return true;
}

}  // namespace lum::platform

namespace lum::platform {

PathStatus QueryPath(const std::string& path, bool followLink) {
  PathStatus status;
  struct stat st;
  const int rc = followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
  if (path.empty() || rc != 0) return status;
  status.identity =
      FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  if (S_ISREG(st.st_mode)) {
    status.kind = PathKind::kFile;
    status.readOnly = ::access(path.c_str(), W_OK) != 0;
  } else if (S_ISDIR(st.st_mode)) {
    status.kind = PathKind::kFolder;
  } else if (S_ISLNK(st.st_mode)) {
    status.kind = PathKind::kLink;
  } else {
    status.kind = PathKind::kOther;
  }
  return status;
}

std::optional<FileId> IdentityOf(const FileHandle& file) {
  struct stat st;
  if (!file.IsValid() || ::fstat(posix::Fd(file), &st) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::string ResolvedPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) {
    posix::SetPathError(errno, path);
    return {};
  }
  std::string out(resolved);
  std::free(resolved);
  return out;
}

FileHandle CreateFileBeside(const std::string& target, std::string& tempPath) {
  static unsigned counter = 0;
  const auto slash = target.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, ".lum%05x%04x.tmp",
                  static_cast<unsigned>(::getpid()) & 0xFFFFF, ++counter & 0xFFFF);
    tempPath = folder + name;
    FileHandle file =
        posix::OpenFd(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file) return file;
    if (errno != EEXIST) {
      posix::SetPathError(errno, tempPath);
      tempPath.clear();
      return FileHandle();
    }
  }
  tempPath.clear();
  SetLastErrorCode(kErrorFileExists);
  return FileHandle();
}

bool SetLastWriteTimeOf(const FileHandle& file, const FileTime& utc) {
  const long long ticks = static_cast<long long>(utc.Ticks);
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(ticks / 10000000LL - posix::kEpochDelta1601);
  times[1].tv_nsec = static_cast<long>(ticks % 10000000LL * 100);
  if (::futimens(posix::Fd(file), times) != 0) {
    posix::SetErrnoError(errno);
    return false;
  }
  return true;
}

bool SetUnixModeOf(const FileHandle& file, std::uint32_t mode) {
  if (::fchmod(posix::Fd(file), static_cast<mode_t>(mode & 0777)) != 0) {
    posix::SetErrnoError(errno);
    return false;
  }
  return true;
}

bool KeepAccessOf(const std::string& existing, const std::string& replacement) {
  struct stat old;
  if (::stat(existing.c_str(), &old) != 0 || !S_ISREG(old.st_mode)) return true;
  // Owner and mode are changed through a descriptor, so they reach the file that was
  // checked; reading access is enough for that.
  const FileHandle file =
      posix::OpenFd(replacement.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (!file) {
    posix::SetPathError(errno == ELOOP ? EACCES : errno, replacement);
    return false;
  }
  const int fd = posix::Fd(file);
  struct stat now;
  if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
    SetLastErrorCode(kErrorAccessDenied);
    return false;
  }
  // Owner and group first (a change of owner clears set-id bits, and the mode comes after).
  // Only a privileged process may give the file away; any other may still keep the group
  // when it belongs to it, and otherwise the file stays the process's own.
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0 && now.st_gid != old.st_gid) {
    (void)::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
  }
  if ((now.st_mode & 07777) != (old.st_mode & 0777) &&
      ::fchmod(fd, static_cast<mode_t>(old.st_mode & 0777)) != 0) {
    posix::SetErrnoError(errno);
    return false;
  }
  return true;
}

std::uint32_t NewFileMode() {
  // umask can only be read by setting it; done once, before anything else could race it in
  // this single-threaded program.
  static const std::uint32_t mode = [] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666u & ~static_cast<std::uint32_t>(mask);
  }();
  return mode;
}

bool MakeSymbolicLink(const std::string& linkPath, const std::string& target) {
  if (::symlink(target.c_str(), linkPath.c_str()) != 0) {
    posix::SetPathError(errno, linkPath);
    return false;
  }
  return true;
}

}  // namespace lum::platform
