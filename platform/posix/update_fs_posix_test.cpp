#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/update_fs.h"
#include "tests/support/scratch_dir.h"

namespace lum::platform {
namespace {

// A pipe is never opened for reading, which would wait for a writer that never comes.
TEST(UpdateFsPosixTest, PipeIsNeverOpened) {
  test::ScratchDir dir;
  const std::string path = dir / "pipe";
  ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
  std::string text;
  EXPECT_FALSE(IsRegularFile(path));
  EXPECT_FALSE(ReadWholeFile(path, text));
  EXPECT_FALSE(AppendToFile(path, "x", true));
}

}  // namespace
}  // namespace lum::platform
