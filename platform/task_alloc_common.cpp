#include "platform/task_alloc.h"
#include "platform/task_alloc_hook.h"

namespace lum::platform::testing {

void FailTaskAllocAfter(long calls) {
  detail::Hook().failAfter = calls;
  detail::Hook().calls = 0;
}

long TaskAllocCalls() { return detail::Hook().calls; }
long TaskAllocOutstanding() { return detail::Hook().outstanding; }

}  // namespace lum::platform::testing
