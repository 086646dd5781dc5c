// The last-error code on POSIX: a per-thread value set from errno by the platform calls.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/error_code.h"
#include "platform/error_text.h"
#include "platform/posix/errno_map.h"

namespace lum::platform {
namespace {

thread_local std::uint32_t t_lastError = 0;

struct Mapping {
  int err;
  std::uint32_t code;
};

// errno → code; the first row for an errno decides its code. Rows after the first for a
// code only serve the reverse direction.
constexpr Mapping kMappings[] = {
    {ENOENT, 2},
    {ENOTDIR, 3},
    {EMFILE, 4},
    {ENFILE, 4},
    {EACCES, 5},
    {EPERM, 5},
    {EISDIR, 5},
    {EBADF, 6},
    {ENOMEM, 8},
    {EXDEV, 17},
    {EROFS, 19},
    {ETXTBSY, 32},
    {EEXIST, 80},
    {EINVAL, 87},
    {EPIPE, 109},
    {ENOSPC, 112},
    {EDQUOT, 112},
    {ENOTEMPTY, 145},
    {EBUSY, 170},
    {ENAMETOOLONG, 206},
    {EFBIG, 223},
    {EIO, 1117},
    {ELOOP, 1921},
    // Reverse only: codes the platform layer produces without an errno of their own.
    {ENOENT, 3},
    {EEXIST, 183},
    {EINVAL, 131},
};

// The Windows message texts of the codes the POSIX layer produces (FormatMessage's text
// without its line end).
struct CodeText {
  std::uint32_t code;
  const char* text;
};
constexpr CodeText kTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {17, "The system cannot move the file to a different disk drive."},
    {18, "There are no more files."},
    {19, "The media is write protected."},
    {32, "The process cannot access the file because it is being used by another process."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {223, "The file size exceeds the limit allowed and cannot be saved."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1921, "The name of the file cannot be resolved by the system."},
};

}  // namespace

std::uint32_t GetLastErrorCode() {
  return t_lastError;
}
void SetLastErrorCode(std::uint32_t code) {
  t_lastError = code;
}

namespace posix {

std::uint32_t CodeFromErrno(int err) {
  if (err == 0) return 0;
  for (const Mapping& m : kMappings) {
    if (m.err == err) return m.code;
  }
  return kErrnoCodeFlag | static_cast<std::uint32_t>(err);
}

void SetErrnoError(int err) {
  t_lastError = CodeFromErrno(err);
}

void SetPathError(int err, const std::string& path) {
  if (err == ENOENT) {
    std::string parent = path;
    while (!parent.empty() && parent.back() == '/') parent.pop_back();
    const auto slash = parent.rfind('/');
    parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
    struct stat st;
    if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      t_lastError = kErrorPathNotFound;
      return;
    }
  }
  SetErrnoError(err);
}

int ErrnoFromCode(std::uint32_t code) {
  if (code & kErrnoCodeFlag) return static_cast<int>(code & ~kErrnoCodeFlag);
  for (const Mapping& m : kMappings) {
    if (m.code == code) return m.err;
  }
  return 0;
}

}  // namespace posix

std::string SystemErrorText(std::uint32_t code) {
  if (code & kErrnoCodeFlag) return std::strerror(static_cast<int>(code & ~kErrnoCodeFlag));
  for (const CodeText& t : kTexts) {
    if (t.code == code) return t.text;
  }
  return std::string();
}

std::string SystemErrorNumber(std::uint32_t code) {
  if (code & kErrnoCodeFlag) return "errno " + std::to_string(code & ~kErrnoCodeFlag);
  return std::to_string(static_cast<std::int32_t>(code));
}

}  // namespace lum::platform
