#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>

#include "platform/update_fs.h"
#include "tests/support/files.h"
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

// Replacing through a symbolic link replaces the file it points to, which keeps its
// permissions; the link stays a link and nothing is left beside.
TEST(UpdateFsPosixTest, ReplaceKeepsTheLinkAndThePermissions) {
  namespace fs = std::filesystem;
  test::ScratchDir dir;
  const std::string real = dir / "real.txt";
  const std::string link = dir / "link.txt";
  ASSERT_TRUE(test::WriteWholeFile(real, "old"));
  fs::permissions(real, fs::perms(0640));
  fs::create_symlink(real, link);
  ASSERT_TRUE(ReplaceFileContent(link, "new"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(test::ReadWholeText(real), "new");
  EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace lum::platform
