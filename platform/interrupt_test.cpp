// The Windows control handler's side of RemoveOnInterrupt, run as Windows would run it on a
// thread of its own: it asks the program to stop and, when the program does not come back
// in time, deletes the watched file itself. (POSIX signals: posix/interrupt_posix_test.cpp.)
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "platform/file.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "platform/interrupt.h"
#include "tests/support/scratch_dir.h"

namespace lum::platform {
namespace {

namespace fs = std::filesystem;

TEST(InterruptTest, ControlHandlerAsksToStopAndRemovesTheFileWhenLeftWaiting) {
  test::ScratchDir dir;
  const std::string part = dir / ".part.tmp";
  ASSERT_TRUE(CreateFileHandle(part, kGenericWrite, 0, kCreateAlways, kAttributeArchive).IsValid());
  // Nothing watched: the handler leaves the event to Windows.
  EXPECT_FALSE(testing::RunInterruptHandler(0));
  EXPECT_FALSE(InterruptRequested());
  if (!kWindowsPaths) GTEST_SKIP() << "signals end a POSIX program at once";
  {
    const RemoveOnInterrupt watch(part);
    bool took = false;
    std::thread control([&] { took = testing::RunInterruptHandler(300); });
    while (!InterruptRequested()) std::this_thread::yield();
    EXPECT_TRUE(fs::exists(part));  // still waiting for the program
    control.join();
    EXPECT_TRUE(took);
    EXPECT_FALSE(fs::exists(part));
  }
  // After the watch, another file is left alone.
  ASSERT_TRUE(CreateFileHandle(part, kGenericWrite, 0, kCreateAlways, kAttributeArchive).IsValid());
  EXPECT_FALSE(testing::RunInterruptHandler(0));
  EXPECT_TRUE(fs::exists(part));
}

}  // namespace
}  // namespace lum::platform
