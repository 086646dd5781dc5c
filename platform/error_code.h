// The calling thread's last-error code, in Windows error-code terms on every platform.
//
// Windows: GetLastError / SetLastError.
// POSIX: each platform call that fails stores a code mapped from errno:
//
//   errno                      code  Win32 name
//   ENOENT                        2  ERROR_FILE_NOT_FOUND (3 when a parent folder is missing)
//   ENOTDIR                       3  ERROR_PATH_NOT_FOUND
//   EMFILE, ENFILE                4  ERROR_TOO_MANY_OPEN_FILES
//   EACCES, EPERM, EISDIR         5  ERROR_ACCESS_DENIED
//   EBADF                         6  ERROR_INVALID_HANDLE
//   ENOMEM                        8  ERROR_NOT_ENOUGH_MEMORY
//   EXDEV                        17  ERROR_NOT_SAME_DEVICE
//   EROFS                        19  ERROR_WRITE_PROTECT
//   ETXTBSY                      32  ERROR_SHARING_VIOLATION
//   EEXIST                       80  ERROR_FILE_EXISTS (183 ERROR_ALREADY_EXISTS for folders)
//   EINVAL                       87  ERROR_INVALID_PARAMETER
//   EPIPE                       109  ERROR_BROKEN_PIPE
//   ENOSPC, EDQUOT              112  ERROR_DISK_FULL
//   ENOTEMPTY                   145  ERROR_DIR_NOT_EMPTY
//   EBUSY                       170  ERROR_BUSY
//   ENAMETOOLONG                206  ERROR_FILENAME_EXCED_RANGE
//   EFBIG                       223  ERROR_FILE_TOO_LARGE
//   EIO                        1117  ERROR_IO_DEVICE
//   ELOOP                      1921  ERROR_CANT_RESOLVE_FILENAME
//   (seek before the start)     131  ERROR_NEGATIVE_SEEK
//   any other errno     0x20000000 | errno
//
// Every code above has its Windows text on POSIX too (SystemErrorText), so a message names
// the same condition on both builds. Bit 29 marks application-defined codes in the Windows
// scheme, so a passed-through errno can never be mistaken for a system code; SystemErrorText
// renders it with strerror and SystemErrorNumber as "errno N". Reading from
// a pipe whose writer has closed is simply the end of data on POSIX (no error), so 109 only
// arises from writes there.
#pragma once

#include <cstdint>

namespace lum::platform {

// Win32 error codes that the program tests for or produces itself.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorBrokenPipe = 109;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorNegativeSeek = 131;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFileTooLarge = 223;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
// POSIX only: the marker of a passed-through errno value.
inline constexpr std::uint32_t kErrnoCodeFlag = 0x20000000u;

// The calling thread's last-error code (GetLastError).
std::uint32_t GetLastErrorCode();
// Sets the calling thread's last-error code (SetLastError).
void SetLastErrorCode(std::uint32_t code);

}  // namespace lum::platform
