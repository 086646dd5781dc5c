// Local-time conversions and the clock on POSIX, through localtime_r and mktime. The
// offset applied is the one in force at the instant converted.
#include <sys/time.h>

#include <ctime>

#include "platform/posix/stat_util.h"
#include "platform/time.h"

namespace lum::platform {
namespace {

constexpr long long kTicksPerSecond = 10000000LL;

}  // namespace

bool FileTimeToLocalFileTime(const FileTime& utc, FileTime& local) {
  const long long ticks = static_cast<long long>(utc.Ticks);
  if (ticks < 0) return false;
  const time_t seconds = static_cast<time_t>(ticks / kTicksPerSecond - posix::kEpochDelta1601);
  tm fields{};
  if (!::localtime_r(&seconds, &fields)) return false;
  const long long shifted = ticks + static_cast<long long>(fields.tm_gmtoff) * kTicksPerSecond;
  if (shifted < 0) return false;
  local.Ticks = static_cast<std::uint64_t>(shifted);
  return true;
}

bool LocalFileTimeToFileTime(const FileTime& local, FileTime& utc) {
  SystemTime f;
  if (!FileTimeToSystemTime(local, f)) return false;
  tm fields{};
  fields.tm_year = f.Year - 1900;
  fields.tm_mon = f.Month - 1;
  fields.tm_mday = f.Day;
  fields.tm_hour = f.Hour;
  fields.tm_min = f.Minute;
  fields.tm_sec = f.Second;
  fields.tm_isdst = -1;
  const time_t seconds = ::mktime(&fields);
  if (seconds == static_cast<time_t>(-1) && !(f.Year == 1969 || f.Year == 1970)) return false;
  const long long ticks =
      (static_cast<long long>(seconds) + posix::kEpochDelta1601) * kTicksPerSecond +
      static_cast<long long>(local.Ticks % kTicksPerSecond);
  if (ticks < 0) return false;
  utc.Ticks = static_cast<std::uint64_t>(ticks);
  return true;
}

SystemTime CurrentLocalTime() {
  FileTime local;
  SystemTime fields;
  if (FileTimeToLocalFileTime(CurrentFileTime(), local)) FileTimeToSystemTime(local, fields);
  return fields;
}

FileTime CurrentFileTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return posix::FileTimeFromTimespec(now);
}

}  // namespace lum::platform
