// The task allocator: the one allocator through which the codec's output buffers
// change hands between the codec and its caller.
//
// Windows: CoTaskMemAlloc / CoTaskMemRealloc / CoTaskMemFree.  POSIX: malloc / realloc / free.
// All three have C linkage-compatible signatures so that their addresses can be stored in
// the codec entry table.
#pragma once

#include <cstddef>

namespace lum::platform {

// Allocates `size` bytes; returns nullptr on failure.
void* TaskMemAlloc(std::size_t size);
// Resizes a block from TaskMemAlloc (or nullptr); returns nullptr on failure and then
// leaves the old block untouched and still owned by the caller.
void* TaskMemRealloc(void* block, std::size_t size);
// Releases a block from TaskMemAlloc / TaskMemRealloc; nullptr is allowed.
void TaskMemFree(void* block);

// Test hooks. The counters are shared by every thread and updated atomically, so engines may
// allocate on several threads at once.
namespace testing {
// The next `calls` allocations (TaskMemAlloc and TaskMemRealloc together) succeed, every later
// one fails, until called again. A negative value disables failures.
void FailTaskAllocAfter(long calls);
// Number of TaskMemAlloc/TaskMemRealloc calls since the last FailTaskAllocAfter.
long TaskAllocCalls();
// Blocks currently allocated and not yet freed (for leak checks in tests).
long TaskAllocOutstanding();
}  // namespace testing

}  // namespace lum::platform
