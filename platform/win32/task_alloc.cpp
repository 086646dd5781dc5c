#include "platform/task_alloc.h"

#include <objbase.h>

#include "platform/task_alloc_hook.h"

namespace lum::platform {

void* TaskMemAlloc(std::size_t size) {
  if (!detail::Hook().Permit()) return nullptr;
  void* p = CoTaskMemAlloc(size == 0 ? 1 : size);
  if (p) ++detail::Hook().outstanding;
  return p;
}

void* TaskMemRealloc(void* block, std::size_t size) {
  if (!detail::Hook().Permit()) return nullptr;
  void* p = CoTaskMemRealloc(block, size == 0 ? 1 : size);
  if (p && !block) ++detail::Hook().outstanding;
  return p;
}

void TaskMemFree(void* block) {
  if (!block) return;
  --detail::Hook().outstanding;
  CoTaskMemFree(block);
}

}  // namespace lum::platform
