// POSIX only: file metadata in Windows terms.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <string>

#include "platform/find.h"
#include "platform/time.h"

namespace lum::platform::posix {

// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr long long kEpochDelta1601 = 11644473600LL;

inline FileTime FileTimeFromTimespec(const timespec& ts) {
  const long long ticks =
      (static_cast<long long>(ts.tv_sec) + kEpochDelta1601) * 10000000LL + ts.tv_nsec / 100;
  return FileTime{ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks)};
}

// The attributes of `path` whose status is `st` (from stat or lstat).
std::uint32_t AttributesFromStat(const std::string& path, const struct stat& st);

// Fills a find record (all but the names) from `st`.
void FillFindData(const std::string& path, const struct stat& st, FindData& data);

// Fills a find record (all but the names) for `path`: lstat, and for a link that resolves
// the status of its target with the link bit (0x400) added. False with the last error set
// when `path` cannot be examined.
bool DescribePath(const std::string& path, FindData& data);

}  // namespace lum::platform::posix
