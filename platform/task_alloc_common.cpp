// The task allocator over the platform's system allocator, with the allocation-failure test
// hook. The hook's counters are atomic: engines on several threads allocate at the same time,
// and a count that loses updates would make the hook fail the wrong call.
#include <atomic>

#include "platform/task_alloc.h"
#include "platform/task_alloc_system.h"

namespace lum::platform {
namespace {

struct Hook {
  std::atomic<long> failAfter{-1};  // negative: never fail
  std::atomic<long> calls{0};
  std::atomic<long> outstanding{0};

  // Counts one allocation attempt; false when the hook says it must fail.
  bool Permit() {
    const long call = calls.fetch_add(1, std::memory_order_relaxed) + 1;
    const long limit = failAfter.load(std::memory_order_relaxed);
    return limit < 0 || call <= limit;
  }
};

Hook& TheHook() {
  static Hook hook;
  return hook;
}

}  // namespace

void* TaskMemAlloc(std::size_t size) {
  Hook& hook = TheHook();
  if (!hook.Permit()) return nullptr;
  void* p = detail::SystemAlloc(size == 0 ? 1 : size);
  if (p) hook.outstanding.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void* TaskMemRealloc(void* block, std::size_t size) {
  Hook& hook = TheHook();
  if (!hook.Permit()) return nullptr;
  void* p = detail::SystemRealloc(block, size == 0 ? 1 : size);
  if (p && !block) hook.outstanding.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void TaskMemFree(void* block) {
  if (!block) return;
  TheHook().outstanding.fetch_sub(1, std::memory_order_relaxed);
  detail::SystemFree(block);
}

namespace testing {

void FailTaskAllocAfter(long calls) {
  Hook& hook = TheHook();
  hook.failAfter.store(calls, std::memory_order_relaxed);
  hook.calls.store(0, std::memory_order_relaxed);
}

long TaskAllocCalls() {
  return TheHook().calls.load(std::memory_order_relaxed);
}

long TaskAllocOutstanding() {
  return TheHook().outstanding.load(std::memory_order_relaxed);
}

}  // namespace testing

}  // namespace lum::platform
