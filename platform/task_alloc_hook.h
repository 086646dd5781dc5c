// Shared bookkeeping of the allocation-failure test hook; used by both implementations.
#pragma once

namespace lum::platform::detail {

struct TaskAllocHook {
  long failAfter = -1;  // negative: never fail
  long calls = 0;
  long outstanding = 0;

  // Counts one allocation attempt; false when the hook says it must fail.
  bool Permit() {
    ++calls;
    return failAfter < 0 || calls <= failAfter;
  }
};

inline TaskAllocHook& Hook() {
  static TaskAllocHook hook;
  return hook;
}

}  // namespace lum::platform::detail
