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

// The Windows codes of the POSIX layer: each with FormatMessage's text (without its line end)
// and the errno values that map to it. This is the one errno -> code table; an errno that no
// row names is passed through as kErrnoCodeFlag | errno. Rows without an errno are codes the
// layer sets itself: 3 also for ENOENT when the folder on the path is missing (SetPathError),
// 131 for a seek before the start, 183 for MakeDirectory onto an existing name, 18 at the end
// of a search.
struct CodeRow {
  std::uint32_t code;
  const char* text;
  int errnos[3];  // 0 ends the list
};
constexpr CodeRow kCodes[] = {
    {0, "The operation completed successfully.", {}},
    {1, "Incorrect function.", {}},
    {2, "The system cannot find the file specified.", {ENOENT}},
    {3, "The system cannot find the path specified.", {ENOTDIR}},
    {4, "The system cannot open the file.", {EMFILE, ENFILE}},
    {5, "Access is denied.", {EACCES, EPERM, EISDIR}},
    {6, "The handle is invalid.", {EBADF}},
    {8, "Not enough memory resources are available to process this command.", {ENOMEM}},
    {17, "The system cannot move the file to a different disk drive.", {EXDEV}},
    {18, "There are no more files.", {}},
    {19, "The media is write protected.", {EROFS}},
    {32,
     "The process cannot access the file because it is being used by another process.",
     {ETXTBSY}},
    {80, "The file exists.", {EEXIST}},
    {87, "The parameter is incorrect.", {EINVAL}},
    {109, "The pipe has been ended.", {EPIPE}},
    {112, "There is not enough space on the disk.", {ENOSPC, EDQUOT}},
    {131, "An attempt was made to move the file pointer before the beginning of the file.", {}},
    {145, "The directory is not empty.", {ENOTEMPTY}},
    {170, "The requested resource is in use.", {EBUSY}},
    {183, "Cannot create a file when that file already exists.", {}},
    {206, "The filename or extension is too long.", {ENAMETOOLONG}},
    {223, "The file size exceeds the limit allowed and cannot be saved.", {EFBIG}},
    {1117, "The request could not be performed because of an I/O device error.", {EIO}},
    {1921, "The name of the file cannot be resolved by the system.", {ELOOP}},
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
  for (const CodeRow& row : kCodes) {
    for (int mapped : row.errnos) {
      if (mapped == err) return row.code;
    }
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

}  // namespace posix

std::string SystemErrorText(std::uint32_t code) {
  if (code & kErrnoCodeFlag) return std::strerror(static_cast<int>(code & ~kErrnoCodeFlag));
  for (const CodeRow& row : kCodes) {
    if (row.code == code) return row.text;
  }
  return std::string();
}

std::string SystemErrorNumber(std::uint32_t code) {
  if (code & kErrnoCodeFlag) return "errno " + std::to_string(code & ~kErrnoCodeFlag);
  return std::to_string(static_cast<std::int32_t>(code));
}

}  // namespace lum::platform
