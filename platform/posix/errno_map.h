// POSIX only: errno values as Windows error codes. The table is kCodes in
// platform/posix/error_code.cpp.
#pragma once

#include <cstdint>
#include <string>

namespace lum::platform::posix {

// The Windows code for an errno value.
std::uint32_t CodeFromErrno(int err);
// Sets the last-error code from errno value `err`.
void SetErrnoError(int err);
// As SetErrnoError, but ENOENT on `path` becomes 3 (path not found) when the folder that
// would hold `path` does not exist, as Windows tells the two apart.
void SetPathError(int err, const std::string& path);

}  // namespace lum::platform::posix
