// Calendar fields for tests that make dates and times.
#pragma once

#include <cstdint>

#include "platform/time.h"

namespace lum::test {

// The date y-mo-d and time h:mi:s as SystemTime fields (milliseconds and weekday 0).
inline platform::SystemTime TimeFields(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  platform::SystemTime t;
  t.Year = static_cast<std::uint16_t>(y);
  t.Month = static_cast<std::uint16_t>(mo);
  t.Day = static_cast<std::uint16_t>(d);
  t.Hour = static_cast<std::uint16_t>(h);
  t.Minute = static_cast<std::uint16_t>(mi);
  t.Second = static_cast<std::uint16_t>(s);
  return t;
}

}  // namespace lum::test
