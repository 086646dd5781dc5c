#include "platform/update_fs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "platform/error_code.h"
#include "platform/fs.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace lum::platform {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

TEST(UpdateFsTest, AppendReadAndReplaceWholeFiles) {
  ScratchDir dir;
  const std::string path = dir / "journal";
  std::string text;
  EXPECT_FALSE(ReadWholeFile(path, text));
  ASSERT_TRUE(AppendToFile(path, "one\n", true));
  ASSERT_TRUE(AppendToFile(path, std::string(70000, 'x') + "\n", false));
  ASSERT_TRUE(ReadWholeFile(path, text));
  EXPECT_EQ(text, "one\n" + std::string(70000, 'x') + "\n");

  ASSERT_TRUE(ReplaceFileContent(path, "fresh\n"));
  ASSERT_TRUE(ReadWholeFile(path, text));
  EXPECT_EQ(text, "fresh\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
  // Into a folder that does not exist: refused, nothing made.
  EXPECT_FALSE(ReplaceFileContent(dir / "missing/journal", "x"));
  EXPECT_EQ(GetLastErrorCode(), kErrorPathNotFound);

  // A folder is neither read nor appended to, and stays a folder.
  ASSERT_TRUE(MakeDirectory(dir / "folder"));
  EXPECT_FALSE(ReadWholeFile(dir / "folder", text));
  EXPECT_EQ(GetLastErrorCode(), kErrorAccessDenied);
  EXPECT_FALSE(ReplaceFileContent(dir / "folder", "x"));
  EXPECT_TRUE(QueryPath(dir / "folder", false).kind == PathKind::kFolder);
  EXPECT_FALSE(AppendToFile(dir / "folder", "x", false));
  EXPECT_FALSE(IsRegularFile(dir / "folder"));
  EXPECT_TRUE(IsRegularFile(path));
}

TEST(UpdateFsTest, FoldersSpaceMovesAndProbes) {
  ScratchDir dir;
  ASSERT_TRUE(MakeDirectory(dir / "a"));
  test::WriteWholeFile(dir / "a/f", "data");
  EXPECT_FALSE(RemoveFolder(dir / "a"));  // not empty
  EXPECT_TRUE(CanReplaceFile(dir / "a/f"));
  EXPECT_TRUE(CanReplaceFile(dir / "missing"));

  test::WriteWholeFile(dir / "g", "new");
  ASSERT_TRUE(MoveFileInGroup(dir / "g", dir / "a/f"));
  EXPECT_TRUE(FlushVolumeOf(dir.Str()));
  EXPECT_EQ(test::ReadWholeText(dir / "a/f"), "new");
  EXPECT_EQ(FileAttributesOf(dir / "g"), kInvalidFileAttributes);

  ASSERT_TRUE(RemoveFile(dir / "a/f"));
  EXPECT_TRUE(RemoveFolder(dir / "a"));
  EXPECT_FALSE(RemoveFolder(dir / "a"));

  std::uint64_t free = 0;
  ASSERT_TRUE(FreeSpaceOf(dir.Str(), free));
  EXPECT_GT(free, 0u);
  EXPECT_FALSE(FreeSpaceOf(dir / "missing/deeper", free));
}

}  // namespace
}  // namespace lum::platform
