// Local-time conversions under a zone with daylight saving (Europe/Berlin): the offset used is
// the one in force at the instant converted.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/time.h"
#include "tests/support/time_fields.h"

namespace lum::platform {
namespace {

class BerlinTime : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("TZ")) m_old = old, m_hadOld = true;
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
  }
  void TearDown() override {
    if (m_hadOld)
      ::setenv("TZ", m_old.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  static FileTime At(int y, int mo, int d, int h, int mi) {
    FileTime ft;
    EXPECT_TRUE(SystemTimeToFileTime(test::TimeFields(y, mo, d, h, mi), ft));
    return ft;
  }
  static constexpr std::uint64_t kHour = 36000000000ull;

 private:
  std::string m_old;
  bool m_hadOld = false;
};

TEST_F(BerlinTime, OffsetFollowsTheInstantAcrossBothChanges) {
  struct Case {
    FileTime utc;
    FileTime local;
  } cases[] = {
      {At(2024, 1, 15, 12, 0), At(2024, 1, 15, 13, 0)},
      {At(2024, 7, 1, 12, 0), At(2024, 7, 1, 14, 0)},
      // Spring forward on 31 March 2024 at 01:00 UTC.
      {At(2024, 3, 31, 0, 59), At(2024, 3, 31, 1, 59)},
      {At(2024, 3, 31, 1, 0), At(2024, 3, 31, 3, 0)},
      // Fall back on 27 October 2024 at 01:00 UTC.
      {At(2024, 10, 27, 0, 30), At(2024, 10, 27, 2, 30)},
      {At(2024, 10, 27, 1, 30), At(2024, 10, 27, 2, 30)},
      {At(2024, 10, 27, 2, 0), At(2024, 10, 27, 3, 0)},
      // Leap day in summer time.
      {At(2024, 2, 29, 23, 30), At(2024, 3, 1, 0, 30)},
  };
  for (const Case& c : cases) {
    FileTime local;
    ASSERT_TRUE(FileTimeToLocalFileTime(c.utc, local));
    EXPECT_EQ(local.Ticks, c.local.Ticks);
  }
  // Back from local time wherever the local time is unambiguous.
  for (const Case& c : {cases[0], cases[1], cases[2], cases[3], cases[6], cases[7]}) {
    FileTime utc;
    ASSERT_TRUE(LocalFileTimeToFileTime(c.local, utc));
    EXPECT_EQ(utc.Ticks, c.utc.Ticks);
  }
}

TEST_F(BerlinTime, RepeatedHourResolvesToOneOfItsInstants) {
  FileTime utc;
  ASSERT_TRUE(LocalFileTimeToFileTime(At(2024, 10, 27, 2, 30), utc));
  EXPECT_TRUE(utc.Ticks == At(2024, 10, 27, 0, 30).Ticks ||
              utc.Ticks == At(2024, 10, 27, 1, 30).Ticks);
}

TEST_F(BerlinTime, DosWordsCarryLocalTimeUnshifted) {
  // A DOS time is local time: 2018-01-01 13:26:20 stays 13:26:20 through the words.
  FileTime local;
  ASSERT_TRUE(DosDateTimeToFileTime(0x4C21, 0x6B4A, local));
  FileTime utc;
  ASSERT_TRUE(LocalFileTimeToFileTime(local, utc));
  EXPECT_EQ(local.Ticks - utc.Ticks, kHour);
}

}  // namespace
}  // namespace lum::platform
