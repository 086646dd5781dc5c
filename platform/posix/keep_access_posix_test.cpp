// A replacement written beside a file takes that file's permission bits, owner and group.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/error_code.h"
#include "platform/fs.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace lum::platform {
namespace {

namespace fs = std::filesystem;

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

TEST(KeepAccessOfTest, TheReplacementTakesThePermissionBitsWithoutSetIdBits) {
  test::ScratchDir dir;
  const std::string old = dir / "old.zip", fresh = dir / ".new.tmp";
  for (const unsigned mode : {0640u, 0444u, 0700u, 04755u, 02770u}) {
    SCOPED_TRACE(mode);
    ASSERT_TRUE(test::WriteWholeFile(old, "old"));
    ASSERT_TRUE(test::WriteWholeFile(fresh, "new"));
    ASSERT_EQ(::chmod(old.c_str(), mode), 0);
    ASSERT_EQ(::chmod(fresh.c_str(), 0644), 0);
    ASSERT_TRUE(KeepAccessOf(old, fresh));
    EXPECT_EQ(StatOf(fresh).st_mode & 07777, mode & 0777);
    EXPECT_EQ(test::ReadWholeText(fresh), "new");
    ASSERT_EQ(::chmod(old.c_str(), 0600), 0);
    fs::remove(fresh);
  }
  // Through a link to the old file, the file's bits count.
  ASSERT_TRUE(test::WriteWholeFile(fresh, "new"));
  ASSERT_EQ(::chmod(old.c_str(), 0604), 0);
  fs::create_symlink("old.zip", dir.Path() / "link.zip");
  ASSERT_TRUE(KeepAccessOf(dir / "link.zip", fresh));
  EXPECT_EQ(StatOf(fresh).st_mode & 0777, 0604u);
}

TEST(KeepAccessOfTest, NothingToKeepOrARefusedReplacement) {
  test::ScratchDir dir;
  const std::string fresh = dir / ".new.tmp";
  ASSERT_TRUE(test::WriteWholeFile(fresh, "new"));
  ASSERT_EQ(::chmod(fresh.c_str(), 0620), 0);
  // No old file, or a folder there: the mode the file was created with stays.
  EXPECT_TRUE(KeepAccessOf(dir / "missing.zip", fresh));
  EXPECT_TRUE(KeepAccessOf(dir.Str(), fresh));
  EXPECT_EQ(StatOf(fresh).st_mode & 0777, 0620u);
  // A link in place of the replacement is never followed.
  ASSERT_TRUE(test::WriteWholeFile(dir / "old.zip", "old"));
  ASSERT_EQ(::chmod((dir / "old.zip").c_str(), 0600), 0);
  fs::create_symlink(".new.tmp", dir.Path() / "swapped");
  EXPECT_FALSE(KeepAccessOf(dir / "old.zip", dir / "swapped"));
  EXPECT_EQ(GetLastErrorCode(), kErrorAccessDenied);
  EXPECT_EQ(StatOf(fresh).st_mode & 0777, 0620u);
}

TEST(KeepAccessOfTest, OwnerAndGroupAreKeptWhereTheProcessMay) {
  test::ScratchDir dir;
  const std::string old = dir / "old.zip", fresh = dir / ".new.tmp";
  ASSERT_TRUE(test::WriteWholeFile(old, "old"));
  ASSERT_TRUE(test::WriteWholeFile(fresh, "new"));
  ASSERT_EQ(::chmod(old.c_str(), 0640), 0);
  if (::geteuid() != 0) {
    // Only the group can follow, and only to a group of the process's own.
    ASSERT_TRUE(KeepAccessOf(old, fresh));
    EXPECT_EQ(StatOf(fresh).st_uid, ::geteuid());
    EXPECT_EQ(StatOf(fresh).st_gid, StatOf(old).st_gid);
    GTEST_SKIP() << "giving a file away needs root";
  }
  ASSERT_EQ(::chown(old.c_str(), 4321, 8765), 0);
  ASSERT_TRUE(KeepAccessOf(old, fresh));
  EXPECT_EQ(StatOf(fresh).st_uid, 4321u);
  EXPECT_EQ(StatOf(fresh).st_gid, 8765u);
  EXPECT_EQ(StatOf(fresh).st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace lum::platform
