// The settings the update run carries across an update.
#pragma once

#include <cstdint>

namespace lum::app {

// The six values with their values before the run.
struct CarriedSettings {
  double m_dZoom = 0;
  std::int32_t m_lSoundEnabled = 0;
  std::int32_t m_lLockImageZoom = 0;
  std::int32_t m_lResizeMode = 0;
  std::int32_t m_lResizeValue = 0;
  std::int32_t m_lPrefixMode = 0;
  bool operator==(const CarriedSettings&) const = default;
};

}  // namespace lum::app
