// Calendar arithmetic shared by both platforms: file times, calendar fields, DOS date and
// time words and OLE Automation dates. Day counts use the proleptic Gregorian calendar, as
// Windows file times do, through the days-from-civil conversion (days since 1970-01-01).
#include <cmath>
#include <cstdint>

#include "platform/time.h"

namespace lum::platform {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kTicksPerDay = kTicksPerSecond * 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDays1601To1970 = 134774;
// Days from 1899-12-30 to 1970-01-01.
constexpr std::int64_t kDays1899To1970 = 25569;

std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool IsLeap(unsigned y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidDate(unsigned y, unsigned m, unsigned d) {
  return m >= 1 && m <= 12 && d >= 1 && d <= DaysInMonth(y, m);
}

bool ValidClock(unsigned h, unsigned mi, unsigned s) {
  return h < 24 && mi < 60 && s < 60;
}

// Fills calendar fields from days since 1970 and seconds into the day.
void FieldsFromDays(std::int64_t days, std::int64_t secondOfDay, SystemTime& out) {
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  out.Year = static_cast<std::uint16_t>(y);
  out.Month = static_cast<std::uint16_t>(m);
  out.Day = static_cast<std::uint16_t>(d);
  // 1970-01-01 was a Thursday.
  out.DayOfWeek = static_cast<std::uint16_t>(((days % 7) + 11) % 7);
  out.Hour = static_cast<std::uint16_t>(secondOfDay / 3600);
  out.Minute = static_cast<std::uint16_t>(secondOfDay / 60 % 60);
  out.Second = static_cast<std::uint16_t>(secondOfDay % 60);
}

}  // namespace

bool SystemTimeToFileTime(const SystemTime& f, FileTime& result) {
  if (f.Year < 1601 || f.Year > 30827 || !ValidDate(f.Year, f.Month, f.Day) ||
      !ValidClock(f.Hour, f.Minute, f.Second) || f.Milliseconds > 999) {
    return false;
  }
  const std::int64_t days = DaysFromCivil(f.Year, f.Month, f.Day) + kDays1601To1970;
  const std::int64_t seconds = days * 86400 + f.Hour * 3600 + f.Minute * 60 + f.Second;
  result.Ticks =
      static_cast<std::uint64_t>(seconds * kTicksPerSecond + std::int64_t{f.Milliseconds} * 10000);
  return true;
}

bool FileTimeToSystemTime(const FileTime& time, SystemTime& result) {
  if (time.Ticks >= 0x8000000000000000ull) return false;
  const auto ticks = static_cast<std::int64_t>(time.Ticks);
  const std::int64_t days = ticks / kTicksPerDay;
  const std::int64_t rest = ticks % kTicksPerDay;
  FieldsFromDays(days - kDays1601To1970, rest / kTicksPerSecond, result);
  result.Milliseconds = static_cast<std::uint16_t>(rest % kTicksPerSecond / 10000);
  return true;
}

bool DosDateTimeToFileTime(std::uint16_t date, std::uint16_t time, FileTime& result) {
  result.Ticks = 0;
  SystemTime f;
  f.Year = static_cast<std::uint16_t>(1980 + (date >> 9));
  f.Month = (date >> 5) & 0x0F;
  f.Day = date & 0x1F;
  f.Hour = time >> 11;
  f.Minute = (time >> 5) & 0x3F;
  f.Second = static_cast<std::uint16_t>((time & 0x1F) * 2);
  return SystemTimeToFileTime(f, result);
}

bool FileTimeToDosDateTime(const FileTime& time, std::uint16_t& date, std::uint16_t& dosTime) {
  date = 0;
  dosTime = 0;
  SystemTime f;
  if (!FileTimeToSystemTime(time, f) || f.Year < 1980 || f.Year > 2107) return false;
  date = static_cast<std::uint16_t>(((f.Year - 1980) << 9) | (f.Month << 5) | f.Day);
  dosTime = static_cast<std::uint16_t>((f.Hour << 11) | (f.Minute << 5) | (f.Second / 2));
  return true;
}

bool SystemTimeToOleDate(const SystemTime& f, double& date) {
  if (f.Year < 100 || f.Year > 9999 || !ValidDate(f.Year, f.Month, f.Day) ||
      !ValidClock(f.Hour, f.Minute, f.Second)) {
    return false;
  }
  const double days = static_cast<double>(DaysFromCivil(f.Year, f.Month, f.Day) + kDays1899To1970);
  const double fraction = (f.Hour * 3600.0 + f.Minute * 60.0 + f.Second) / 86400.0;
  // Before the epoch the whole part counts backwards but the fraction still counts forwards.
  date = days >= 0 ? days + fraction : days - fraction;
  return true;
}

bool OleDateToSystemTime(double date, SystemTime& fields) {
  // The range of years 100–9999.
  if (!std::isfinite(date) || date < -657435.0 || date >= 2958466.0) return false;
  double whole = std::trunc(date);
  double fraction = std::fabs(date - whole);
  auto seconds = static_cast<std::int64_t>(std::llround(fraction * 86400.0));
  auto days = static_cast<std::int64_t>(whole);
  if (seconds >= 86400) {
    // Rounding reached midnight: the next day in calendar order.
    seconds -= 86400;
    days += 1;
  }
  if (days > 2958465) return false;
  FieldsFromDays(days - kDays1899To1970, seconds, fields);
  fields.Milliseconds = 0;
  return true;
}

}  // namespace lum::platform
