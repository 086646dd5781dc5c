// Files, searches and folders through the platform layer, with the Win32 results and
// error codes on both platforms.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/error_code.h"
#include "platform/error_text.h"
#include "platform/file.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace lum::platform {
namespace {

using test::ScratchDir;

FileHandle OpenRead(const std::string& path) {
  return CreateFileHandle(path, kGenericRead, kFileShareRead | kFileShareWrite, kOpenExisting, 0);
}
FileHandle OpenWrite(const std::string& path) {
  return CreateFileHandle(path, kGenericWrite, kFileShareRead, kCreateAlways, kAttributeArchive);
}

TEST(FileTest, WriteSeekTruncateAndReadBack) {
  ScratchDir dir;
  const std::string path = dir / "a.bin";
  {
    FileHandle f = OpenWrite(path);
    ASSERT_TRUE(f);
    std::uint32_t n = 0;
    ASSERT_TRUE(FileWrite(f, "hello world", 11, &n));
    EXPECT_EQ(n, 11u);
    EXPECT_EQ(FileSeek(f, -5, kFileEnd), 6u);
    ASSERT_TRUE(FileWrite(f, "there", 5, &n));
    EXPECT_EQ(FileSeek(f, 5, kFileBegin), 5u);
    EXPECT_EQ(FileSeek(f, 0, kFileCurrent), 5u);
    ASSERT_TRUE(FileSetEnd(f));
  }
  EXPECT_EQ(test::ReadWholeText(path), "hello");
  // Truncated again by the next create.
  { ASSERT_TRUE(OpenWrite(path)); }
  EXPECT_EQ(test::ReadWholeText(path), "");

  test::WriteWholeFile(path, "abcdef");
  FileHandle f = OpenRead(path);
  ASSERT_TRUE(f);
  char buf[16] = {};
  std::uint32_t n = 0;
  EXPECT_EQ(FileSeek(f, 2, kFileBegin), 2u);
  ASSERT_TRUE(FileRead(f, buf, sizeof buf, &n));
  EXPECT_EQ(std::string(buf, n), "cdef");
  ASSERT_TRUE(FileRead(f, buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);  // the end
  // Two handles on one file: reads share read and write.
  FileHandle second = OpenRead(path);
  EXPECT_TRUE(second);
}

TEST(FileTest, FailuresCarryWindowsCodes) {
  ScratchDir dir;
  EXPECT_FALSE(OpenRead(dir / "missing.bin"));
  EXPECT_EQ(GetLastErrorCode(), kErrorFileNotFound);
  EXPECT_FALSE(OpenRead(dir / "no/such/folder.bin"));
  EXPECT_EQ(GetLastErrorCode(), kErrorPathNotFound);
  EXPECT_FALSE(OpenRead(dir.Str()));  // a folder is not a file
  EXPECT_EQ(GetLastErrorCode(), kErrorAccessDenied);

  test::WriteWholeFile(dir / "x", "12345");
  FileHandle f = OpenRead(dir / "x");
  ASSERT_TRUE(f);
  EXPECT_EQ(FileSeek(f, -1, kFileBegin), kInvalidSetFilePointer);
  EXPECT_EQ(GetLastErrorCode(), kErrorNegativeSeek);
  std::uint32_t n = 7;
  EXPECT_FALSE(FileWrite(f, "z", 1, &n));  // opened for reading only
  EXPECT_EQ(n, 0u);
  EXPECT_NE(GetLastErrorCode(), kErrorSuccess);
  EXPECT_EQ(test::ReadWholeText(dir / "x"), "12345");
}

TEST(FileTest, StandardHandleCopiesLeaveTheProcessStreamsOpen) {
  {
    FileHandle out = OpenStdHandle(kStdOutputHandle);
    ASSERT_TRUE(out);
    std::uint32_t n = 1;
    EXPECT_TRUE(FileWrite(out, "", 0, &n));
  }  // closed here
  FileHandle again = OpenStdHandle(kStdOutputHandle);
  ASSERT_TRUE(again);
  std::uint32_t n = 1;
  EXPECT_TRUE(FileWrite(again, "", 0, &n));
  EXPECT_FALSE(OpenStdHandle(-13));
}

std::vector<std::string> Names(const std::string& pattern) {
  std::vector<std::string> names;
  FindData data;
  FindHandle search = FindFirst(pattern, data);
  if (!search) return names;
  do {
    if (data.Name != "." && data.Name != "..") names.push_back(data.Name);
  } while (FindNext(search, data));
  EXPECT_EQ(GetLastErrorCode(), kErrorNoMoreFiles);
  std::sort(names.begin(), names.end());
  return names;
}

TEST(FindTest, MasksSelectNamesAsWindowsDoes) {
  ScratchDir dir;
  test::WriteWholeFile(dir / "README", "r");
  test::WriteWholeFile(dir / "a.txt", "aaa");
  test::WriteWholeFile(dir / "b.txt", "");
  test::WriteWholeFile(dir / "c.dat", "");
  ASSERT_TRUE(MakeDirectory(dir / "sub"));

  using V = std::vector<std::string>;
  EXPECT_EQ(Names(dir / "*.*"), (V{"README", "a.txt", "b.txt", "c.dat", "sub"}));
  EXPECT_EQ(Names(dir / "*"), (V{"README", "a.txt", "b.txt", "c.dat", "sub"}));
  EXPECT_EQ(Names(dir / "*.txt"), (V{"a.txt", "b.txt"}));
  EXPECT_EQ(Names(dir / "?.dat"), (V{"c.dat"}));

  FindData data;
  EXPECT_FALSE(FindFirst(dir / "*.zip", data));
  EXPECT_EQ(GetLastErrorCode(), kErrorFileNotFound);
  EXPECT_FALSE(FindFirst(dir / "nofolder/*.*", data));
  EXPECT_EQ(GetLastErrorCode(), kErrorPathNotFound);
  EXPECT_FALSE(FindFirst(dir / "missing.txt", data));
  EXPECT_EQ(GetLastErrorCode(), kErrorFileNotFound);
}

TEST(FindTest, RecordsDescribeFilesAndFolders) {
  ScratchDir dir;
  test::WriteWholeFile(dir / "a.txt", "12345");
  ASSERT_TRUE(MakeDirectory(dir / "sub"));
  FindData data;
  {
    FindHandle search = FindFirst(dir / "a.txt", data);  // no wildcard: the file itself
    ASSERT_TRUE(search);
  }
  EXPECT_EQ(data.Name, "a.txt");
  EXPECT_EQ(data.SizeLow, 5u);
  EXPECT_EQ(data.SizeHigh, 0u);
  EXPECT_TRUE(data.Attributes & kAttributeArchive);
  EXPECT_FALSE(data.Attributes & kAttributeDirectory);
  EXPECT_GT(data.LastWriteTime.Ticks, 0u);
  {
    FindHandle search = FindFirst(dir / "sub", data);
    ASSERT_TRUE(search);
  }
  EXPECT_TRUE(data.Attributes & kAttributeDirectory);

  // A moved search keeps going; the moved-from one is closed.
  FindHandle a = FindFirst(dir / "*", data);
  ASSERT_TRUE(a);
  FindHandle b = std::move(a);
  EXPECT_FALSE(a);
  EXPECT_TRUE(FindNext(b, data));
  // Assigning a new search over an open one ends the old one and takes the new one's place.
  b = FindFirst(dir / "a.txt", data);
  ASSERT_TRUE(b);
  EXPECT_EQ(data.Name, "a.txt");
  EXPECT_FALSE(FindNext(b, data));
  EXPECT_EQ(GetLastErrorCode(), kErrorNoMoreFiles);
  b.Close();
  EXPECT_FALSE(b);
}

TEST(FsTest, AttributesFoldersAndDeletion) {
  ScratchDir dir;
  EXPECT_EQ(FileAttributesOf(dir / "missing"), kInvalidFileAttributes);
  EXPECT_TRUE(FileAttributesOf(dir.Str()) & kAttributeDirectory);

  ASSERT_TRUE(MakeDirectory(dir / "f"));
  EXPECT_FALSE(MakeDirectory(dir / "f"));
  EXPECT_EQ(GetLastErrorCode(), kErrorAlreadyExists);
  EXPECT_FALSE(MakeDirectory(dir / "x/y"));
  EXPECT_EQ(GetLastErrorCode(), kErrorPathNotFound);

  test::WriteWholeFile(dir / "f/file", "1");
  const std::uint32_t attributes = FileAttributesOf(dir / "f/file");
  EXPECT_TRUE(attributes & kAttributeArchive);
  EXPECT_FALSE(attributes & kAttributeDirectory);

  EXPECT_FALSE(RemoveFile(dir / "f"));  // a folder
  EXPECT_EQ(GetLastErrorCode(), kErrorAccessDenied);
  ASSERT_TRUE(RemoveFile(dir / "f/file"));
  EXPECT_EQ(FileAttributesOf(dir / "f/file"), kInvalidFileAttributes);
  EXPECT_FALSE(RemoveFile(dir / "f/file"));
  EXPECT_EQ(GetLastErrorCode(), kErrorFileNotFound);
}

TEST(FsTest, CopyKeepsContentAndTimeAndNeverDestroysTheSource) {
  ScratchDir dir;
  const std::string src = dir / "LastRun", dst = dir / "copy";
  test::WriteWholeFile(src, std::string(100000, 'x') + "end");
  FileTime old;
  old.Ticks = 132000000000000000ull;  // 2019
  ASSERT_TRUE(SetLastWriteTime(src, old));

  ASSERT_TRUE(CopyFileTo(src, dst, false));
  EXPECT_EQ(test::ReadWholeText(dst), test::ReadWholeText(src));
  FindData data;
  { ASSERT_TRUE(FindFirst(dst, data)); }
  EXPECT_EQ(data.LastWriteTime.Ticks / 10000000, old.Ticks / 10000000);

  test::WriteWholeFile(dst, "other");
  EXPECT_FALSE(CopyFileTo(src, dst, true));
  EXPECT_EQ(GetLastErrorCode(), kErrorFileExists);
  EXPECT_EQ(test::ReadWholeText(dst), "other");
  ASSERT_TRUE(CopyFileTo(src, dst, false));  // replaces
  EXPECT_EQ(test::ReadWholeText(dst).value_or("").size(), 100003u);

  EXPECT_FALSE(CopyFileTo(src, src, false));
  EXPECT_EQ(test::ReadWholeText(src).value_or("").size(), 100003u);
  EXPECT_FALSE(CopyFileTo(dir / "missing", dst, false));
  EXPECT_EQ(GetLastErrorCode(), kErrorFileNotFound);
}

TEST(FsTest, MoveReplacesAWholeFileAndNeverAFolder) {
  for (const bool durable : {false, true}) {
    ScratchDir dir;
    const std::string src = dir / "new.tmp", dst = dir / "installed";
    test::WriteWholeFile(src, "new bytes");
    test::WriteWholeFile(dst, "old");
    ASSERT_TRUE(MoveFileReplace(src, dst, durable));
    EXPECT_EQ(test::ReadWholeText(dst), "new bytes");
    EXPECT_EQ(FileAttributesOf(src), kInvalidFileAttributes) << "the source name is gone";

    ASSERT_TRUE(MoveFileReplace(dst, dir / "fresh", durable)) << "no file at the target";
    EXPECT_EQ(test::ReadWholeText(dir / "fresh"), "new bytes");

    EXPECT_FALSE(MoveFileReplace(dir / "missing", dst, durable));
    EXPECT_EQ(GetLastErrorCode(), kErrorFileNotFound);

    const std::string folder = dir / "folder";
    ASSERT_TRUE(MakeDirectory(folder));
    EXPECT_FALSE(MoveFileReplace(dir / "fresh", folder, durable));
    EXPECT_EQ(test::ReadWholeText(dir / "fresh"), "new bytes") << "a failed move keeps the source";
    EXPECT_NE(FileAttributesOf(folder) & kAttributeDirectory, 0u);
  }
}

TEST(FsTest, ReadOnlyAttributeIsAppliedAndCleared) {
  ScratchDir dir;
  const std::string path = dir / "ro";
  test::WriteWholeFile(path, "1");
  ASSERT_TRUE(SetAttributesOf(path, kAttributeReadOnly));
  EXPECT_TRUE(FileAttributesOf(path) & kAttributeReadOnly);
  FindData data;
  { ASSERT_TRUE(FindFirst(path, data)); }
  EXPECT_TRUE(data.Attributes & kAttributeReadOnly);
  ASSERT_TRUE(SetAttributesOf(path, kAttributeArchive));
  EXPECT_FALSE(FileAttributesOf(path) & kAttributeReadOnly);
}

TEST(ErrorTextTest, SystemHasTextsForTheCodesWeReport) {
  for (std::uint32_t code : {kErrorFileNotFound, kErrorPathNotFound, kErrorAccessDenied,
                             kErrorBrokenPipe, kErrorDiskFull}) {
    EXPECT_FALSE(SystemErrorText(code).empty()) << code;
  }
  EXPECT_TRUE(SystemErrorText(0x1FFFFFF0u).empty());
}

}  // namespace
}  // namespace lum::platform
