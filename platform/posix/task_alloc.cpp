// The task allocator's system side on POSIX: the C heap.
#include <cstdlib>

#include "platform/task_alloc_system.h"

namespace lum::platform::detail {

void* SystemAlloc(std::size_t size) {
  return std::malloc(size);
}

void* SystemRealloc(void* block, std::size_t size) {
  return std::realloc(block, size);
}

void SystemFree(void* block) {
  std::free(block);
}

}  // namespace lum::platform::detail
