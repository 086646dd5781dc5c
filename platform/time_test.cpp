// Calendar arithmetic, DOS words, OLE dates and local-time round trips.
#include "platform/time.h"

#include <gtest/gtest.h>

#include "tests/support/time_fields.h"

namespace lum::platform {
namespace {

using test::TimeFields;

void ExpectFields(const SystemTime& t, int y, int mo, int d, int h, int mi, int s) {
  EXPECT_EQ(t.Year, y);
  EXPECT_EQ(t.Month, mo);
  EXPECT_EQ(t.Day, d);
  EXPECT_EQ(t.Hour, h);
  EXPECT_EQ(t.Minute, mi);
  EXPECT_EQ(t.Second, s);
}

TEST(FileTimeTest, KnownInstantsAndValidation) {
  FileTime ft;
  ASSERT_TRUE(SystemTimeToFileTime(TimeFields(1970, 1, 1), ft));
  EXPECT_EQ(ft.Ticks, 116444736000000000ull);
  ASSERT_TRUE(SystemTimeToFileTime(TimeFields(1601, 1, 1), ft));
  EXPECT_EQ(ft.Ticks, 0u);
  SystemTime back;
  ASSERT_TRUE(FileTimeToSystemTime(FileTime{116444736000000000ull + 10000000ull * 86399}, back));
  ExpectFields(back, 1970, 1, 1, 23, 59, 59);
  EXPECT_EQ(back.DayOfWeek, 4);  // a Thursday

  EXPECT_TRUE(SystemTimeToFileTime(TimeFields(2000, 2, 29), ft));  // divisible by 400
  EXPECT_TRUE(SystemTimeToFileTime(TimeFields(2024, 2, 29), ft));
  EXPECT_FALSE(SystemTimeToFileTime(TimeFields(1900, 2, 29), ft));  // century, not a leap year
  EXPECT_FALSE(SystemTimeToFileTime(TimeFields(2100, 2, 29), ft));
  EXPECT_FALSE(SystemTimeToFileTime(TimeFields(2023, 4, 31), ft));
  EXPECT_FALSE(SystemTimeToFileTime(TimeFields(2023, 13, 1), ft));
  EXPECT_FALSE(SystemTimeToFileTime(TimeFields(2023, 1, 1, 24), ft));
  EXPECT_FALSE(SystemTimeToFileTime(TimeFields(1600, 12, 31), ft));
  EXPECT_FALSE(FileTimeToSystemTime(FileTime{0x8000000000000000ull}, back));
}

TEST(FileTimeTest, EveryDayOfFourHundredYearsRoundTrips) {
  // One full Gregorian cycle, so every leap-year rule is crossed.
  FileTime ft;
  ASSERT_TRUE(SystemTimeToFileTime(TimeFields(1900, 1, 1, 12, 34, 56), ft));
  for (int day = 0; day < 146097; ++day) {
    SystemTime t;
    ASSERT_TRUE(FileTimeToSystemTime(ft, t));
    FileTime again;
    ASSERT_TRUE(SystemTimeToFileTime(t, again));
    ASSERT_EQ(again.Ticks, ft.Ticks) << t.Year << "-" << t.Month << "-" << t.Day;
    ft.Ticks += 864000000000ull;
  }
  SystemTime end;
  ASSERT_TRUE(FileTimeToSystemTime(ft, end));
  ExpectFields(end, 2300, 1, 1, 12, 34, 56);
}

TEST(DosTimeTest, DecodesPackedWordsAndRefusesInvalidOnes) {
  FileTime ft;
  SystemTime t;
  ASSERT_TRUE(DosDateTimeToFileTime(0x4C21, 0x6B4A, ft));
  ASSERT_TRUE(FileTimeToSystemTime(ft, t));
  ExpectFields(t, 2018, 1, 1, 13, 26, 20);

  EXPECT_FALSE(DosDateTimeToFileTime(0, 0, ft));  // month 0, day 0
  EXPECT_EQ(ft.Ticks, 0u);
  EXPECT_FALSE(DosDateTimeToFileTime((1 << 5) | 0, 0, ft));         // day 0
  EXPECT_FALSE(DosDateTimeToFileTime((13 << 5) | 1, 0, ft));        // month 13
  EXPECT_FALSE(DosDateTimeToFileTime((2 << 5) | 30, 0, ft));        // 30 February 1980
  EXPECT_FALSE(DosDateTimeToFileTime((1 << 5) | 1, 24 << 11, ft));  // hour 24
  EXPECT_FALSE(DosDateTimeToFileTime((1 << 5) | 1, 30, ft));        // 60 seconds
  EXPECT_TRUE(DosDateTimeToFileTime((2 << 5) | 29, 0, ft));         // 1980 is a leap year
}

TEST(DosTimeTest, EncodesEvenSecondsAndRefusesYearsOutsideItsRange) {
  FileTime ft;
  std::uint16_t date = 1, time = 1;
  ASSERT_TRUE(SystemTimeToFileTime(TimeFields(2018, 1, 1, 10, 0, 59), ft));
  ASSERT_TRUE(FileTimeToDosDateTime(ft, date, time));
  EXPECT_EQ(date, 0x4C21);
  EXPECT_EQ(time, (10 << 11) | 29);  // 10:00:58

  ASSERT_TRUE(SystemTimeToFileTime(TimeFields(1979, 12, 31, 23, 59, 59), ft));
  EXPECT_FALSE(FileTimeToDosDateTime(ft, date, time));
  EXPECT_EQ(date, 0);
  EXPECT_EQ(time, 0);
  ASSERT_TRUE(SystemTimeToFileTime(TimeFields(2108, 1, 1), ft));
  date = time = 1;
  EXPECT_FALSE(FileTimeToDosDateTime(ft, date, time));
  EXPECT_EQ(date, 0);
  EXPECT_EQ(time, 0);
  ASSERT_TRUE(SystemTimeToFileTime(TimeFields(2107, 12, 31, 23, 59, 58), ft));
  EXPECT_TRUE(FileTimeToDosDateTime(ft, date, time));
  EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
}

TEST(DosTimeTest, LeapDaysAndMonthEndsRoundTrip) {
  for (int y : {1980, 1999, 2000, 2024, 2100, 2107}) {
    for (int m = 1; m <= 12; ++m) {
      for (int d : {1, 28, 29, 30, 31}) {
        FileTime ft;
        if (!SystemTimeToFileTime(TimeFields(y, m, d, 23, 59, 58), ft)) continue;
        std::uint16_t date, time;
        ASSERT_TRUE(FileTimeToDosDateTime(ft, date, time));
        FileTime back;
        ASSERT_TRUE(DosDateTimeToFileTime(date, time, back));
        EXPECT_EQ(back.Ticks, ft.Ticks) << y << "-" << m << "-" << d;
      }
    }
  }
}

TEST(OleDateTest, KnownValues) {
  double d = -99;
  ASSERT_TRUE(SystemTimeToOleDate(TimeFields(1899, 12, 30), d));
  EXPECT_EQ(d, 0.0);
  ASSERT_TRUE(SystemTimeToOleDate(TimeFields(1900, 1, 1, 12), d));
  EXPECT_EQ(d, 2.5);
  ASSERT_TRUE(SystemTimeToOleDate(TimeFields(1899, 12, 29, 6), d));
  EXPECT_EQ(d, -1.25);  // the fraction counts forward even before the epoch
  ASSERT_TRUE(SystemTimeToOleDate(TimeFields(2018, 1, 1), d));
  EXPECT_EQ(d, 43101.0);
  EXPECT_FALSE(SystemTimeToOleDate(TimeFields(2023, 2, 29), d));
  EXPECT_FALSE(SystemTimeToOleDate(TimeFields(99, 12, 31), d));

  SystemTime t;
  ASSERT_TRUE(OleDateToSystemTime(-1.25, t));
  ExpectFields(t, 1899, 12, 29, 6, 0, 0);
  ASSERT_TRUE(OleDateToSystemTime(-0.5, t));
  ExpectFields(t, 1899, 12, 30, 12, 0, 0);
  // 23:59:59.9 rounds to midnight of the next day.
  ASSERT_TRUE(OleDateToSystemTime(43101.0 + 86399.9 / 86400.0, t));
  ExpectFields(t, 2018, 1, 2, 0, 0, 0);
  EXPECT_FALSE(OleDateToSystemTime(1.0 / 0.0, t));
  EXPECT_FALSE(OleDateToSystemTime(3e6, t));
}

TEST(OleDateTest, SecondsRoundTripAcrossLeapYears) {
  for (int y : {1600, 1899, 1900, 1904, 2000, 2024, 2100}) {
    for (int m : {2, 3}) {
      for (int d : {28, 29, 1}) {
        SystemTime in = TimeFields(y, m, d, 23, 59, 59);
        double ole;
        if (!SystemTimeToOleDate(in, ole)) continue;
        SystemTime out;
        ASSERT_TRUE(OleDateToSystemTime(ole, out));
        ExpectFields(out, y, m, d, 23, 59, 59);
      }
    }
  }
}

TEST(LocalTimeTest, UtcToLocalAndBackIsIdentityAwayFromRepeatedHours) {
  // Noon on a spread of days through several years, both sides of every DST change.
  FileTime ft;
  ASSERT_TRUE(SystemTimeToFileTime(TimeFields(2023, 1, 1, 12), ft));
  for (int day = 0; day < 3 * 365; day += 3) {
    FileTime local, back;
    ASSERT_TRUE(FileTimeToLocalFileTime(ft, local));
    ASSERT_TRUE(LocalFileTimeToFileTime(local, back));
    EXPECT_EQ(back.Ticks, ft.Ticks) << day;
    // No zone on earth is more than 14 hours away from UTC.
    const auto diff = static_cast<std::int64_t>(local.Ticks - ft.Ticks);
    EXPECT_LE(std::llabs(diff), 14LL * 3600 * 10000000);
    ft.Ticks += 3 * 864000000000ull;
  }
}

TEST(LocalTimeTest, CurrentTimesAgree) {
  const SystemTime now = CurrentLocalTime();
  FileTime local, utc;
  ASSERT_TRUE(SystemTimeToFileTime(now, local));
  ASSERT_TRUE(LocalFileTimeToFileTime(local, utc));
  const auto diff = static_cast<std::int64_t>(CurrentFileTime().Ticks - utc.Ticks);
  EXPECT_LT(std::llabs(diff), 60LL * 10000000);
}

}  // namespace
}  // namespace lum::platform
