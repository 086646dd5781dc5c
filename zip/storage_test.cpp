// The storage layer over every kind of handle: files, memory by reference and by copy, and
// a caller's stream object, plus the growth, folder-creation and error rules.
#include "zip/storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/fs.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"
#include "zip/names.h"
#include "zip/zip_error.h"

namespace lum::zip {
namespace {

using test::ScratchDir;

const std::uint8_t* Bytes(const char* s) {
  return reinterpret_cast<const std::uint8_t*>(s);
}

// A stream object kept in memory that records the calls the storage layer makes.
class RecordingStream : public IVfsStream {
 public:
  std::int32_t VfsSetFilePointer(std::int32_t& distance, std::int32_t& method) override {
    calls.push_back("seek(" + std::to_string(distance) + "," + std::to_string(method) + ")");
    std::int64_t base = method == 0   ? 0
                        : method == 1 ? pos
                                      : static_cast<std::int64_t>(data.size());
    pos = std::max<std::int64_t>(0, base + distance);
    return static_cast<std::int32_t>(pos);
  }
  std::int32_t VfsReadFile(std::uint8_t* destination, std::int32_t& size) override {
    calls.push_back("read");
    const std::int64_t n =
        std::clamp<std::int64_t>(static_cast<std::int64_t>(data.size()) - pos, 0, size);
    std::memcpy(destination, data.data() + pos, static_cast<std::size_t>(n));
    pos += n;
    return static_cast<std::int32_t>(n);
  }
  std::int32_t VfsWriteFile(const std::uint8_t* source, std::int32_t& size) override {
    calls.push_back("write");
    if (data.size() < static_cast<std::size_t>(pos + size)) data.resize(pos + size);
    std::memcpy(data.data() + pos, source, static_cast<std::size_t>(size));
    pos += size;
    return size;
  }
  void VfsSetEndOfFile(std::string& name) override {
    calls.push_back("eof(" + name + ")");
    data.resize(static_cast<std::size_t>(pos));
  }
  std::vector<std::uint8_t> data;
  std::int64_t pos = 0;
  std::vector<std::string> calls;
};

// One kind of storage: makes the write target and, afterwards, a source over what was written.
struct Backend {
  virtual ~Backend() = default;
  virtual Variant Target() = 0;
  virtual Variant Source() = 0;
  virtual std::string Contents() = 0;
};

struct FileBackend : Backend {
  ScratchDir dir;
  std::string path = dir / "sub/file.bin";
  Variant Target() override { return Variant(path); }
  Variant Source() override { return Variant(path); }
  std::string Contents() override { return test::ReadWholeText(path).value_or(""); }
};
struct MemoryRefBackend : Backend {
  ByteArray array;
  Variant Target() override { return Variant::Ref(array); }
  Variant Source() override { return Variant::Ref(array); }
  std::string Contents() override { return std::string(array.begin(), array.end()); }
};
struct MemoryCopyBackend : MemoryRefBackend {
  Variant Source() override { return Variant(ByteArray(array)); }  // the handle's own copy
};
struct StreamBackend : Backend {
  std::shared_ptr<RecordingStream> stream = std::make_shared<RecordingStream>();
  Variant Target() override { return Variant(StreamRef(stream)); }
  Variant Source() override { return Variant(StreamRef(stream)); }
  std::string Contents() override { return std::string(stream->data.begin(), stream->data.end()); }
};

class StorageKinds : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    switch (GetParam()) {
      case 0:
        backend = std::make_unique<FileBackend>();
        break;
      case 1:
        backend = std::make_unique<MemoryRefBackend>();
        break;
      case 2:
        backend = std::make_unique<MemoryCopyBackend>();
        break;
      default:
        backend = std::make_unique<StreamBackend>();
        break;
    }
  }
  std::unique_ptr<Backend> backend;
};

TEST_P(StorageKinds, WriteSeekTrimThenReadBack) {
  {
    VfsHandle out = pvVfsCreate(backend->Target());
    EXPECT_EQ(pvVfsWrite(out, Bytes("hello world"), 11), 11);
    EXPECT_EQ(pvVfsSeek(out, 6, 0), 6);
    EXPECT_EQ(pvVfsWrite(out, Bytes("there"), 5), 5);
    EXPECT_EQ(pvVfsSeek(out, -6, 1), 5);
    pvVfsSetEof(out, "entry.txt");
    pvVfsClose(out);
    pvVfsClose(out);  // twice is harmless
  }
  EXPECT_EQ(backend->Contents(), "hello");

  VfsHandle in = pvVfsOpen(backend->Source());
  EXPECT_EQ(in.FindData.SizeLow, 5u);
  EXPECT_TRUE(in.FindData.Attributes & platform::kAttributeArchive);
  EXPECT_GT(in.FindData.LastWriteTime.Ticks, 0u);
  std::uint8_t buf[16] = {};
  EXPECT_EQ(pvVfsRead(in, buf, 3), 3);
  EXPECT_EQ(std::string(buf, buf + 3), "hel");
  EXPECT_EQ(pvVfsRead(in, buf, 16), 2);  // only what is left
  EXPECT_EQ(pvVfsRead(in, buf, 16), 0);  // the end
  EXPECT_EQ(pvVfsSeek(in, -4, 2), 1);
  EXPECT_EQ(pvVfsRead(in, buf, 2), 2);
  EXPECT_EQ(std::string(buf, buf + 2), "el");
  pvVfsClose(in);
}

TEST_P(StorageKinds, MovedHandleKeepsWorking) {
  VfsHandle out = pvVfsCreate(backend->Target());
  pvVfsWrite(out, Bytes("ab"), 2);
  VfsHandle moved = std::move(out);
  pvVfsWrite(moved, Bytes("cd"), 2);
  pvVfsSetEof(moved, "x");
  pvVfsClose(moved);
  EXPECT_EQ(backend->Contents(), "abcd");
}

std::string KindName(const ::testing::TestParamInfo<int>& info) {
  static const char* const kNames[] = {"File", "MemoryRef", "MemoryCopy", "Stream"};
  return kNames[info.param];
}
INSTANTIATE_TEST_SUITE_P(AllKinds, StorageKinds, ::testing::Values(0, 1, 2, 3), KindName);

TEST(MemoryStorageTest, GrowthSizes) {
  EXPECT_EQ(pvVfsGrowSize(5), 8192);
  EXPECT_EQ(pvVfsGrowSize(8191), 8192);
  EXPECT_EQ(pvVfsGrowSize(8192), 16384);
  EXPECT_EQ(pvVfsGrowSize(10000), 16384);
  EXPECT_EQ(pvVfsGrowSize(16777215), 16777216);
  EXPECT_EQ(pvVfsGrowSize(16777216), 33554432);
  EXPECT_EQ(pvVfsGrowSize(16777217), 33554432);
  EXPECT_EQ(pvVfsGrowSize(40000000), 50331648);
  EXPECT_EQ(pvVfsGrowSize(0x7F000001), 0x7FFFFFFF);
}

TEST(MemoryStorageTest, WritesGrowTheCallersArrayAndTheEndTrimsIt) {
  ByteArray array;
  VfsHandle out = pvVfsCreate(Variant::Ref(array));
  pvVfsWrite(out, Bytes("12345"), 5);
  EXPECT_EQ(array.size(), 8192u);
  EXPECT_EQ(pvVfsSeek(out, 0, 2), 8192);  // the end is the allocated size until trimmed
  EXPECT_EQ(pvVfsSeek(out, 5, 0), 5);
  pvVfsSetEof(out, "");
  EXPECT_EQ(array, (ByteArray{'1', '2', '3', '4', '5'}));

  // Past the end: the gap reads as zeros.
  EXPECT_EQ(pvVfsSeek(out, 20000, 0), 20000);
  pvVfsWrite(out, Bytes("z"), 1);
  EXPECT_EQ(array.size(), 32768u);
  pvVfsSetEof(out, "");
  ASSERT_EQ(array.size(), 20001u);
  EXPECT_TRUE(std::all_of(array.begin() + 5, array.begin() + 20000, [](auto b) { return b == 0; }));
  EXPECT_EQ(array.back(), 'z');

  // 16 MiB steps beyond 16 MiB.
  EXPECT_EQ(pvVfsSeek(out, 40000000 - 1, 0), 39999999);
  pvVfsWrite(out, Bytes("y"), 1);
  EXPECT_EQ(array.size(), 50331648u);

  // The end at offset 0 leaves the caller's array without storage.
  pvVfsSeek(out, 0, 0);
  pvVfsSetEof(out, "");
  EXPECT_TRUE(array.empty());
  EXPECT_EQ(array.capacity(), 0u);
  pvVfsClose(out);
}

TEST(MemoryStorageTest, SeeksAndReadsStayInsideTheBuffer) {
  ByteArray array{'a', 'b', 'c'};
  VfsHandle in = pvVfsOpen(Variant::Ref(array));
  EXPECT_EQ(pvVfsSeek(in, 2, 0), 2);
  EXPECT_EQ(pvVfsSeek(in, 1, 3), 0);  // unknown method: offset 0
  std::uint8_t b = 0;
  EXPECT_EQ(pvVfsRead(in, &b, 1), 1);
  EXPECT_EQ(b, 'a');
  EXPECT_EQ(pvVfsSeek(in, -10, 1), 0);  // before the start: position 0
  EXPECT_EQ(pvVfsSeek(in, 10, 0), 10);
  EXPECT_EQ(pvVfsRead(in, &b, 1), 0);

  // The caller shrinks the array behind the handle's back: reads never pass its end.
  pvVfsSeek(in, 1, 0);
  array.resize(1);
  EXPECT_EQ(pvVfsRead(in, &b, 1), 0);

  pvVfsClose(in);
  EXPECT_EQ(array.size(), 1u);  // closing leaves the caller's array alone
  pvVfsSeek(in, 0, 0);
  EXPECT_EQ(pvVfsRead(in, &b, 1), 0);  // nothing is read after close
}

TEST(MemoryStorageTest, RefusesCopiesAsTargetsAndPositionsBeyond2GiB) {
  try {
    pvVfsCreate(Variant(ByteArray{1, 2}));
    FAIL() << "no error";
  } catch (const ZipError& e) {
    EXPECT_EQ(e.Source, "pvVfsCreate");
    EXPECT_EQ(e.Description, "Invalid byte array");
  }
  ByteArray array;
  VfsHandle out = pvVfsCreate(Variant::Ref(array));
  pvVfsSeek(out, 0x7FFFFFFF, 0);
  try {
    pvVfsWrite(out, Bytes("x"), 1);
    FAIL() << "no error";
  } catch (const ZipError& e) {
    EXPECT_EQ(e.Source, "pvVfsWrite");
    EXPECT_NE(e.Description.find("([buffer])"), std::string::npos) << e.Description;
  }
  EXPECT_TRUE(array.empty());
}

TEST(StreamStorageTest, RewindsOnceBeforeTheFirstReadOrWrite) {
  auto stream = std::make_shared<RecordingStream>();
  stream->data = {'a', 'b', 'c', 'd'};
  {
    VfsHandle in = pvVfsOpen(Variant(StreamRef(stream)));
    EXPECT_EQ(in.FindData.SizeLow, 4u);
    std::uint8_t buf[2];
    pvVfsRead(in, buf, 2);
    pvVfsRead(in, buf, 2);
    EXPECT_EQ(stream->calls, (std::vector<std::string>{"seek(0,2)", "seek(0,0)", "read", "read"}));
    pvVfsClose(in);
  }
  stream->calls.clear();
  {
    // A seek first: no rewind, the read happens where the seek left the stream.
    VfsHandle in = pvVfsOpen(Variant(StreamRef(stream)));
    EXPECT_EQ(pvVfsSeek(in, -1, 2), 3);
    std::uint8_t b = 0;
    EXPECT_EQ(pvVfsRead(in, &b, 1), 1);
    EXPECT_EQ(b, 'd');
    EXPECT_EQ(stream->calls, (std::vector<std::string>{"seek(0,2)", "seek(-1,2)", "read"}));
  }
  stream->calls.clear();
  {
    VfsHandle out = pvVfsCreate(Variant(StreamRef(stream)));
    pvVfsWrite(out, Bytes("x"), 1);
    pvVfsSetEof(out, "[output_archive]");
    EXPECT_EQ(stream->calls,
              (std::vector<std::string>{"seek(0,0)", "write", "eof([output_archive])"}));
  }
  EXPECT_EQ(stream->data, ByteArray{'x'});
}

TEST(StreamStorageTest, NullStreamIsAClearErrorAndNotAFileName) {
  VfsHandle in = pvVfsOpen(Variant(StreamRef()));
  EXPECT_EQ(in.sName, "[stream]");
  EXPECT_EQ(in.FindData.SizeLow, 0u);
  std::uint8_t b;
  try {
    pvVfsRead(in, &b, 1);
    FAIL() << "no error";
  } catch (const ZipError& e) {
    EXPECT_EQ(e.Source, "pvVfsRead");
    EXPECT_EQ(e.Description, pvGetErrorText(6) + " ([stream])");
  }
}

// Runs `action` and returns the error it raises.
template <typename F>
ZipError Raised(F action) {
  try {
    action();
  } catch (const ZipError& e) {
    return e;
  }
  ADD_FAILURE() << "no error";
  return ZipError{};
}

TEST(FileStorageTest, MissingSourceFailsAtOpenNamingTheFile) {
  ScratchDir dir;
  const std::string path = dir / "missing.zip";
  const ZipError e = Raised([&] { pvVfsOpen(Variant(path)); });
  EXPECT_EQ(e.Source, "pvVfsOpen");
  EXPECT_EQ(e.Number, kZipErrorNumber);
  EXPECT_EQ(e.Description, pvGetErrorText(2) + " (" + path + ")");
}

TEST(FileStorageTest, FolderPathReportsTheFolderAndReadingItFails) {
  ScratchDir dir;
  ASSERT_TRUE(platform::MakeDirectory(dir / "f"));
  VfsHandle h = pvVfsOpen(Variant((dir / "f") + platform::kPathSeparator));
  EXPECT_TRUE(h.FindData.Attributes & platform::kAttributeDirectory);
  EXPECT_EQ(h.Access, VfsAccess::kNone);  // nothing opened yet
  const ZipError e = Raised([&] { pvVfsRead(h, nullptr, 0); });
  EXPECT_EQ(e.Source, "pvVfsRead");
  EXPECT_EQ(h.Access, VfsAccess::kTried);
}

TEST(FileStorageTest, CreateMakesParentFoldersOrOnlyFolders) {
  ScratchDir dir;
  {
    VfsHandle out = pvVfsCreate(Variant(dir / "a/b/c.zip"));
    EXPECT_EQ(out.Access, VfsAccess::kOpen);  // created at once
  }
  EXPECT_TRUE(platform::FileAttributesOf(dir / "a/b") & platform::kAttributeDirectory);
  EXPECT_NE(platform::FileAttributesOf(dir / "a/b/c.zip"), platform::kInvalidFileAttributes);

  VfsHandle folder = pvVfsCreate(Variant((dir / "x/y") + platform::kPathSeparator));
  EXPECT_EQ(folder.Access, VfsAccess::kNone);  // a folder: nothing opened
  EXPECT_TRUE(platform::FileAttributesOf(dir / "x/y") & platform::kAttributeDirectory);
}

TEST(FileStorageTest, ParentThatIsAFileIsReportedAndNothingIsWritten) {
  ScratchDir dir;
  test::WriteWholeFile(dir / "blocker", "keep");
  const ZipError e = Raised([&] { pvVfsCreate(Variant(dir / "blocker/sub/out.bin")); });
  EXPECT_EQ(e.Source, "");
  EXPECT_EQ(e.Description, "File already exists (" + (dir / "blocker") + ")");
  EXPECT_EQ(test::ReadWholeText(dir / "blocker"), "keep");
}

TEST(FileStorageTest, OperatingSystemFailuresNameTheOperationAndTheFile) {
  ScratchDir dir;
  const std::string path = dir / "w.bin";
  VfsHandle out = pvVfsCreate(Variant(path));
  pvVfsWrite(out, Bytes("abc"), 3);
  ZipError e = Raised([&] { pvVfsSeek(out, -10, 1); });
  EXPECT_EQ(e.Source, "pvVfsSeek");
  EXPECT_EQ(e.Description, pvGetErrorText(131) + " (" + path + ")");
  std::uint8_t b;
  e = Raised([&] { pvVfsRead(out, &b, 1); });  // the handle was opened for writing
  EXPECT_EQ(e.Source, "pvVfsRead");
  EXPECT_EQ(e.Description.rfind("[", 0), 0u);
  EXPECT_NE(e.Description.find(" (" + path + ")"), std::string::npos);
  pvVfsClose(out);
  EXPECT_EQ(out.Access, VfsAccess::kNone);

  // A folder cannot be created as a file.
  ASSERT_TRUE(platform::MakeDirectory(dir / "d"));
  e = Raised([&] { pvVfsCreate(Variant(dir / "d")); });
  EXPECT_EQ(e.Source, "pvVfsCreate");
  EXPECT_EQ(e.Description, pvGetErrorText(5) + " (" + (dir / "d") + ")");
}

TEST(FileStorageTest, LazyOpenAndReopenAfterClose) {
  ScratchDir dir;
  const std::string path = dir / "r.bin";
  test::WriteWholeFile(path, "data");
  VfsHandle in = pvVfsOpen(Variant(path));
  EXPECT_EQ(in.Access, VfsAccess::kNone);
  EXPECT_EQ(pvVfsSeek(in, 0, 2), 4);  // a seek opens it for reading
  EXPECT_EQ(in.Access, VfsAccess::kOpen);
  pvVfsClose(in);
  EXPECT_EQ(in.Access, VfsAccess::kNone);
  std::uint8_t buf[4];
  EXPECT_EQ(pvVfsRead(in, buf, 4), 4);  // opens again from the start
  pvVfsClose(in);
}

TEST(StandardHandleTest, NamesInAnyCaseAndNoEndOfFile) {
  VfsHandle h = pvVfsOpen(Variant("STDOUT:"));
  EXPECT_EQ(h.FindData.Attributes, platform::kAttributeArchive);
  EXPECT_EQ(h.FindData.SizeLow, 0u);
  EXPECT_EQ(pvVfsWrite(h, nullptr, 0), 0);  // opens the standard output
  EXPECT_EQ(h.Access, VfsAccess::kOpen);
  pvVfsSetEof(h, "x");  // nothing to do for a standard handle
  pvVfsClose(h);
  EXPECT_TRUE(pvCreateFile("Stderr:", 0, 0, 0, 0));
  // Closing never closed the process's own stream.
  platform::FileHandle out = pvCreateFile("stdout:", 0, 0, 0, 0);
  std::uint32_t n = 1;
  EXPECT_TRUE(platform::FileWrite(out, "", 0, &n));
}

// Only the three names are standard handles; any other name ending in ":" is a path.
TEST(StandardHandleTest, OnlyTheThreeNamesAreStandardHandles) {
  EXPECT_EQ(pvStdHandleOf("stdin:"), platform::kStdInputHandle);
  EXPECT_EQ(pvStdHandleOf("StdOut:"), platform::kStdOutputHandle);
  EXPECT_EQ(pvStdHandleOf("STDERR:"), platform::kStdErrorHandle);
  for (const char* name : {"", ":", "x:", "stdout", "stdout::", "dir/stdout:", "C:"}) {
    EXPECT_EQ(pvStdHandleOf(name), 0) << name;
  }
  // A missing file whose name ends in ":" is missing, not standard input.
  EXPECT_THROW(pvVfsOpen(Variant(std::string("no-such-file:"))), ZipError);
}

TEST(ToFileTimeTest, LocalDateBecomesUtcOfTheSameLocalFields) {
  const double date = 43101.0 + (13 * 3600 + 26 * 60 + 20) / 86400.0;  // 2018-01-01 13:26:20
  const platform::FileTime utc = pvToFileTime(date);
  platform::FileTime local;
  ASSERT_TRUE(platform::FileTimeToLocalFileTime(utc, local));
  platform::SystemTime t;
  ASSERT_TRUE(platform::FileTimeToSystemTime(local, t));
  EXPECT_EQ(t.Year, 2018);
  EXPECT_EQ(t.Day, 1);
  EXPECT_EQ(t.Hour, 13);
  EXPECT_EQ(t.Minute, 26);
  EXPECT_EQ(t.Second, 20);
  EXPECT_EQ(pvToFileTime(1e300).Ticks, 0u);
}

}  // namespace
}  // namespace lum::zip
