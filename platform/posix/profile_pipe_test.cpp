// The private-profile functions never open a pipe that stands where the file should be: the
// read would wait for a writer that never comes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/profile.h"
#include "tests/support/scratch_dir.h"

namespace lum::platform {
namespace {

TEST(ProfilePipeTest, PipeInPlaceOfTheFileNeverBlocks) {
  test::ScratchDir dir;
  const std::string path = dir / "Settings.ini";
  ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
  char buffer[64];
  EXPECT_EQ(ProfileGetString("S", "K", "<default>", buffer, sizeof buffer, path.c_str()), 9u);
  EXPECT_STREQ(buffer, "<default>");
  EXPECT_EQ(ProfileWriteString("S", "K", "1", path.c_str()), 0);
  EXPECT_TRUE(std::filesystem::is_fifo(path));
}

}  // namespace
}  // namespace lum::platform
