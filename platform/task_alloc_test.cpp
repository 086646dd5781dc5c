// The task allocator's test hook counts exactly while several threads allocate at once.
#include "platform/task_alloc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace lum::platform {
namespace {

constexpr long kRounds = 20000;

// Runs `work` on two threads at once and waits for both. Each thread starts its work only when
// the other is ready, so that the two overlap rather than run one after the other.
template <class Work>
void OnTwoThreads(Work work) {
  std::atomic<int> ready{0};
  auto start = [&] {
    ready.fetch_add(1);
    while (ready.load() < 2) std::this_thread::yield();
    work();
  };
  std::thread first(start);
  std::thread second(start);
  first.join();
  second.join();
}

TEST(TaskAllocTest, TwoThreadsAreCountedExactly) {
  testing::FailTaskAllocAfter(-1);
  const long outstanding = testing::TaskAllocOutstanding();
  OnTwoThreads([] {
    for (long i = 0; i < kRounds; ++i) {
      void* block = TaskMemAlloc(static_cast<std::size_t>(16 + i % 64));
      ASSERT_NE(block, nullptr);
      void* grown = TaskMemRealloc(block, 256);
      ASSERT_NE(grown, nullptr);
      TaskMemFree(grown);
    }
  });
  EXPECT_EQ(testing::TaskAllocCalls(), 2 * 2 * kRounds);
  EXPECT_EQ(testing::TaskAllocOutstanding(), outstanding);
}

TEST(TaskAllocTest, FailureHookGrantsExactlyItsCallsAcrossThreads) {
  const long outstanding = testing::TaskAllocOutstanding();
  const long granted = kRounds / 2;
  testing::FailTaskAllocAfter(granted);
  std::atomic<long> succeeded{0};
  OnTwoThreads([&succeeded] {
    for (long i = 0; i < kRounds; ++i) {
      void* block = TaskMemAlloc(32);
      if (block == nullptr) continue;
      succeeded.fetch_add(1);
      TaskMemFree(block);
    }
  });
  testing::FailTaskAllocAfter(-1);
  EXPECT_EQ(succeeded.load(), granted);
  EXPECT_EQ(testing::TaskAllocOutstanding(), outstanding);
  // A failed realloc leaves the block with its owner.
  void* block = TaskMemAlloc(8);
  ASSERT_NE(block, nullptr);
  testing::FailTaskAllocAfter(0);
  EXPECT_EQ(TaskMemRealloc(block, 1 << 20), nullptr);
  testing::FailTaskAllocAfter(-1);
  TaskMemFree(block);
  EXPECT_EQ(testing::TaskAllocOutstanding(), outstanding);
}

}  // namespace
}  // namespace lum::platform
