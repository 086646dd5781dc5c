// An interrupt while a file is watched removes it and still ends the process by the signal;
// an ignored or earlier-handled signal keeps its action. Each case runs in a child process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/file.h"
#include "platform/interrupt.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace lum::platform {
namespace {

namespace fs = std::filesystem;

// Runs `child` in a forked process (which ends with status 0 if `child` returns) and returns
// the wait status.
template <class Child>
int InChild(Child child) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    child();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

extern "C" void ExitSeven(int) {
  ::_exit(7);
}

TEST(RemoveOnInterruptTest, EachSignalRemovesTheOpenFileAndEndsTheProcessByIt) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    test::ScratchDir dir;
    const std::string part = dir / ".part.tmp";
    const std::string kept = dir / "archive.zip";
    ASSERT_TRUE(test::WriteWholeFile(part, "half"));
    ASSERT_TRUE(test::WriteWholeFile(kept, "old archive"));
    const int status = InChild([&] {
      // Held open for writing, as the writer holds it.
      const FileHandle open =
          CreateFileHandle(part, kGenericWrite, kFileShareRead, kOpenExisting, 0);
      const RemoveOnInterrupt watch(part);
      ::raise(signal);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_FALSE(fs::exists(part));
    EXPECT_EQ(test::ReadWholeText(kept), "old archive");
  }
}

TEST(RemoveOnInterruptTest, EarlierActionsStayAndNothingIsRemovedOnceTheWatchEnds) {
  test::ScratchDir dir;
  const std::string part = dir / ".part.tmp";
  ASSERT_TRUE(test::WriteWholeFile(part, "half"));
  // Ignored before: still ignored, and the file stays.
  int status = InChild([&] {
    ::signal(SIGINT, SIG_IGN);
    const RemoveOnInterrupt watch(part);
    ::raise(SIGINT);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(fs::exists(part));
  // The watch ended: the program's own handler runs, nothing is removed.
  status = InChild([&] {
    ::signal(SIGHUP, ExitSeven);
    { const RemoveOnInterrupt watch(part); }
    ::raise(SIGHUP);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
  EXPECT_TRUE(fs::exists(part));
  // Watched with a handler of the program's own: the file goes, then that handler runs.
  status = InChild([&] {
    ::signal(SIGTERM, ExitSeven);
    const RemoveOnInterrupt watch(part);
    ::raise(SIGTERM);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
  EXPECT_FALSE(fs::exists(part));
  EXPECT_FALSE(InterruptRequested());
}

}  // namespace
}  // namespace lum::platform
