// Input sizes for tests whose run time comes from sheer volume. Under an instruction-set
// emulator (scripts/i686-wine.sh sets LUM_TEST_EMULATED=1 when it runs the i686 programs under
// qemu) code runs about 15 times slower, so such tests use a smaller input there; every kind of
// case still runs.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace lum::test {

inline bool EmulatedRun() {
  const char* value = std::getenv("LUM_TEST_EMULATED");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

// `full` normally, `emulated` under emulation.
inline std::size_t EmulationSized(std::size_t full, std::size_t emulated) {
  return EmulatedRun() ? emulated : full;
}

}  // namespace lum::test
