// The calling thread's last-error code, in Windows error-code terms on every platform.
//
// Windows: GetLastError / SetLastError.
// POSIX: each platform call that fails stores the Windows code of its errno, from the one
// table kCodes in platform/posix/error_code.cpp (ENOENT is 2, or 3 when the folder on the
// path is missing, as Windows tells the two apart). Every code of that table has its Windows
// text on POSIX too (SystemErrorText), so a message names the same condition on both builds.
// An errno outside the table is passed through as 0x20000000 | errno: bit 29 marks
// application-defined codes in the Windows scheme, so it can never be mistaken for a system
// code; SystemErrorText renders it with strerror and SystemErrorNumber as "errno N". Reading
// from a pipe whose writer has closed is simply the end of data on POSIX (no error), so 109
// only arises from writes there.
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
