// Times: Windows file times, calendar fields, DOS date and time words, local-time
// conversions and the OLE Automation date used for LastModified.
//
// A file time counts 100-nanosecond intervals since 1 January 1601, 00:00 UTC. A "local
// file time" counts the same way in local time: the UTC file time shifted by the local
// offset. The calendar arithmetic (file time ↔ fields, DOS words, OLE dates) is the same code
// on every platform (time_common.cpp). The local-time conversions use the system: Windows
// its functions of the same names (which apply the zone's current bias), POSIX
// localtime_r/mktime with the offset in force at that instant (a local time in the hour
// skipped or repeated by a daylight-saving change is resolved as mktime resolves it).
#pragma once

#include <cstdint>

namespace lum::platform {

// FILETIME as one 64-bit count.
struct FileTime {
  std::uint64_t Ticks = 0;
  std::uint32_t Low() const { return static_cast<std::uint32_t>(Ticks); }
  std::uint32_t High() const { return static_cast<std::uint32_t>(Ticks >> 32); }
  static FileTime FromParts(std::uint32_t low, std::uint32_t high) {
    return FileTime{(static_cast<std::uint64_t>(high) << 32) | low};
  }
  friend bool operator==(const FileTime&, const FileTime&) = default;
};

// SYSTEMTIME: calendar fields. DayOfWeek (0 = Sunday) is filled by conversions to calendar
// fields and ignored by conversions from them.
struct SystemTime {
  std::uint16_t Year = 0;
  std::uint16_t Month = 0;  // 1–12
  std::uint16_t DayOfWeek = 0;
  std::uint16_t Day = 0;  // 1–31
  std::uint16_t Hour = 0;
  std::uint16_t Minute = 0;
  std::uint16_t Second = 0;
  std::uint16_t Milliseconds = 0;
};

// Calendar fields → file time (no zone shift). False when a field is out of range (year
// 1601–30827, a day that the month does not have, hour > 23, ...).
bool SystemTimeToFileTime(const SystemTime& fields, FileTime& result);
// File time → calendar fields (no zone shift). False for times of 0x8000000000000000 and
// above.
bool FileTimeToSystemTime(const FileTime& time, SystemTime& result);
// Local file time → UTC file time.
bool LocalFileTimeToFileTime(const FileTime& local, FileTime& utc);
// UTC file time → local file time.
bool FileTimeToLocalFileTime(const FileTime& utc, FileTime& local);

// DOS date and time words → file time, no zone shift (the words hold local time and so does
// the result). False, with the result 0, for an invalid date or time (month 0 or above 12, a
// day the month does not have, hour above 23, minute above 59, seconds field above 29).
bool DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time, FileTime& result);
// File time → DOS date and time words, seconds rounded down to even, no zone shift. False,
// with both words 0, for years outside 1980–2107.
bool FileTimeToDosDateTime(const FileTime& time, std::uint16_t& date, std::uint16_t& dosTime);

// The current local date and time (GetLocalTime).
SystemTime CurrentLocalTime();
// The current UTC time as a file time (GetSystemTimeAsFileTime).
FileTime CurrentFileTime();

// OLE Automation dates: days since 30 December 1899, 00:00, with the time of day as the
// fraction. For negative values the fraction still counts forward from the start of the day
// (−1.25 is 29 December 1899, 06:00), as the OLE date type defines it.
inline constexpr double kOleDateZero = 0.0;
// Calendar fields (milliseconds ignored) → OLE date. False when the fields are not a valid
// date and time or the year is outside 100–9999.
bool SystemTimeToOleDate(const SystemTime& fields, double& date);
// OLE date → calendar fields, rounded to the nearest second (Milliseconds 0, DayOfWeek set).
// False for values outside the years 100–9999 or that are not finite.
bool OleDateToSystemTime(double date, SystemTime& fields);

}  // namespace lum::platform
