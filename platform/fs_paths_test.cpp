// What is at a path (with and without following a link), resolved paths, new files beside a
// target, and times and modes applied through an open file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/file.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "platform/time.h"
#include "tests/support/scratch_dir.h"

namespace lum::platform {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

const bool kWindows = kWindowsPaths;

std::string Join(const std::string& folder, const std::string& name) {
  return folder + kPathSeparator + name;
}

bool Touch(const std::string& path) {
  FileHandle h = CreateFileHandle(path, kGenericWrite, 0, kCreateAlways, kAttributeArchive);
  std::uint32_t written = 0;
  return h.IsValid() && FileWrite(h, "data", 4, &written) && written == 4;
}

TEST(FsPathsTest, QueryPathTellsKindsAndIdentity) {
  ScratchDir dir;
  const std::string file = Join(dir.Str(), "f.txt");
  ASSERT_TRUE(Touch(file));
  const PathStatus f = QueryPath(file, false);
  EXPECT_EQ(f.kind, PathKind::kFile);
  EXPECT_EQ(QueryPath(dir.Str(), false).kind, PathKind::kFolder);
  EXPECT_EQ(QueryPath(Join(dir.Str(), "missing"), false).kind, PathKind::kMissing);
  EXPECT_EQ(QueryPath("", true).kind, PathKind::kMissing);
  // The same file by another spelling has the same identity; another file has not.
  const PathStatus again = QueryPath(Join(Join(dir.Str(), "."), "f.txt"), true);
  ASSERT_TRUE(f.identity.has_value());
  EXPECT_EQ(again.identity, f.identity);
  const std::string other = Join(dir.Str(), "g.txt");
  ASSERT_TRUE(Touch(other));
  EXPECT_NE(QueryPath(other, false).identity, f.identity);
  EXPECT_FALSE(QueryPath(Join(dir.Str(), "missing"), true).identity.has_value());
  if (kWindows) return;
  fs::create_symlink(file, Join(dir.Str(), "link"));
  EXPECT_EQ(QueryPath(Join(dir.Str(), "link"), false).kind, PathKind::kLink);
  EXPECT_EQ(QueryPath(Join(dir.Str(), "link"), true).identity, f.identity);
  EXPECT_EQ(ResolvedPath(Join(dir.Str(), "link")), ResolvedPath(file));
  EXPECT_EQ(ResolvedPath(Join(dir.Str(), "missing")), "");
}

TEST(FsPathsTest, IdentityOfAnOpenFileIsThatOfItsPath) {
  ScratchDir dir;
  const std::string file = Join(dir.Str(), "f.txt");
  const std::string other = Join(dir.Str(), "g.txt");
  ASSERT_TRUE(Touch(file));
  ASSERT_TRUE(Touch(other));
  const FileHandle open = CreateFileHandle(file, kGenericRead, kFileShareRead, kOpenExisting, 0);
  ASSERT_TRUE(open.IsValid());
  const auto id = IdentityOf(open);
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(id, QueryPath(file, true).identity);
  EXPECT_NE(id, QueryPath(other, true).identity);
  EXPECT_FALSE(IdentityOf(FileHandle()).has_value());
}

TEST(FsPathsTest, CreateFileBesideMakesDistinctNewFilesInTheTargetFolder) {
  ScratchDir dir;
  const std::string target = Join(dir.Str(), "target.bin");
  ASSERT_TRUE(Touch(target));
  std::string first, second;
  FileHandle a = CreateFileBeside(target, first);
  FileHandle b = CreateFileBeside(target, second);
  ASSERT_TRUE(a.IsValid());
  ASSERT_TRUE(b.IsValid());
  EXPECT_NE(first, second);
  EXPECT_EQ(fs::path(first).parent_path(), fs::path(target).parent_path());
  EXPECT_EQ(fs::file_size(first), 0u);
  a.Close();
  EXPECT_TRUE(MoveFileReplace(first, target, false));
  EXPECT_EQ(fs::file_size(target), 0u);
  std::string none;
  EXPECT_FALSE(CreateFileBeside(Join(Join(dir.Str(), "no"), "x"), none).IsValid());
  EXPECT_EQ(GetLastErrorCode(), kErrorPathNotFound);
  EXPECT_EQ(none, "");
}

TEST(FsPathsTest, TimeAndModeThroughAnOpenFile) {
  ScratchDir dir;
  const std::string path = Join(dir.Str(), "t.txt");
  {
    FileHandle h = CreateFileHandle(path, kGenericWrite, 0, kCreateAlways, kAttributeArchive);
    ASSERT_TRUE(h.IsValid());
    SystemTime t{};
    t.Year = 2001;
    t.Month = 2;
    t.Day = 3;
    t.Hour = 4;
    FileTime ft{};
    ASSERT_TRUE(SystemTimeToFileTime(t, ft));
    EXPECT_TRUE(SetLastWriteTimeOf(h, ft));
    EXPECT_TRUE(SetUnixModeOf(h, 0104751));
  }
  const auto written = fs::last_write_time(path);
  EXPECT_GT(fs::file_time_type::clock::now() - written, std::chrono::hours(24 * 365 * 20));
  if (kWindows) return;
  // Only the permission bits: never set-uid.
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0751));
  const std::string fresh = Join(dir.Str(), "fresh.txt");
  ASSERT_TRUE(Touch(fresh));
  EXPECT_EQ(static_cast<std::uint32_t>(fs::status(fresh).permissions()), NewFileMode());
}

}  // namespace
}  // namespace lum::platform
