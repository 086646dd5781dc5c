// The task allocator's system side on Windows: the COM task memory allocator.
#include <objbase.h>

#include "platform/task_alloc_system.h"

namespace lum::platform::detail {

void* SystemAlloc(std::size_t size) {
  return ::CoTaskMemAlloc(size);
}

void* SystemRealloc(void* block, std::size_t size) {
  return ::CoTaskMemRealloc(block, size);
}

void SystemFree(void* block) {
  ::CoTaskMemFree(block);
}

}  // namespace lum::platform::detail
