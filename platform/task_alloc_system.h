// The system allocator behind the task allocator, one per platform (Windows: CoTaskMemAlloc,
// CoTaskMemRealloc, CoTaskMemFree; POSIX: malloc, realloc, free). task_alloc_common.cpp wraps
// it with the test hook; nothing else calls it.
#pragma once

#include <cstddef>

namespace lum::platform::detail {

// Allocates `size` bytes (at least 1); nullptr on failure.
void* SystemAlloc(std::size_t size);
// Resizes `block` (or allocates when it is nullptr) to `size` bytes (at least 1); nullptr on
// failure, leaving the block as it was.
void* SystemRealloc(void* block, std::size_t size);
// Releases a block of SystemAlloc / SystemRealloc; never nullptr.
void SystemFree(void* block);

}  // namespace lum::platform::detail
