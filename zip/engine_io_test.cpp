// The engine's public face for programs around it: failures reported by a caller's stream
// object, the selection a filter makes, and folder creation. (Standard handles as streams
// are run through the zipengine program, tests/zipengine_*_test.cpp.)
#include "zip/engine_io.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "tests/support/engine_events.h"
#include "tests/support/files.h"
#include "tests/support/zip_builder.h"
#include "zip/extract_test_support.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

using zip::cZipEngine;
using zip::Variant;
using zip::VariantArray;
using zip::VfsStreamError;

// A memory stream whose read or write number `failAt` (counted from 1) fails once.
class FailingStream : public MemoryStream {
 public:
  enum class Member { kRead, kWrite };
  FailingStream(Member member, int failAt) : m_member(member), m_failAt(failAt) {}
  std::int32_t VfsReadFile(std::uint8_t* destination, std::int32_t& size) override {
    if (m_member == Member::kRead) Count("VfsReadFile", "read failed");
    return MemoryStream::VfsReadFile(destination, size);
  }
  std::int32_t VfsWriteFile(const std::uint8_t* source, std::int32_t& size) override {
    if (m_member == Member::kWrite) Count("VfsWriteFile", "disk gone");
    return MemoryStream::VfsWriteFile(source, size);
  }

 private:
  void Count(const char* source, const char* description) {
    if (++m_calls == m_failAt) throw VfsStreamError{source, description};
  }
  Member m_member;
  int m_failAt;
  int m_calls = 0;
};

Bytes TwoEntries() {
  ZipBuilder b;
  b.AddStored("a.txt", "alpha");
  b.AddStored("b.txt", "beta");
  return b.Build();
}

TEST(StreamFailure, OpeningReportsTheStreamsSourceAndDescription) {
  auto stream = std::make_shared<FailingStream>(FailingStream::Member::kRead, 1);
  stream->data = TwoEntries();
  cZipEngine z;
  EventRecorder r;
  z.SetEvents(&r);
  EXPECT_FALSE(z.OpenArchive(Variant(zip::StreamRef(stream))));
  EXPECT_EQ(z.LastError(), "read failed");
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].source, "cZipEngine.OpenArchive\r\nVfsReadFile");
  EXPECT_EQ(r.errors[0].fileIdx, -1);
  EXPECT_EQ(z.FileCount(), 0);
}

TEST(StreamFailure, AnEntrysFailureIsContinuableWhenExtracting) {
  Opened o(TwoEntries());
  auto target = std::make_shared<FailingStream>(FailingStream::Member::kWrite, 1);
  EXPECT_TRUE(o.z.Extract(Variant(zip::StreamRef(target))));
  ASSERT_EQ(o.r.errors.size(), 1u);
  EXPECT_EQ(o.r.errors[0].fileIdx, 0);
  EXPECT_EQ(o.r.errors[0].description, "disk gone");
  EXPECT_EQ(o.r.errors[0].source, "cZipEngine.Extract\r\nVfsWriteFile");
  EXPECT_FALSE(o.r.errors[0].cancelIn);
  EXPECT_EQ(o.r.complete, (std::vector<std::int32_t>{1}));
  EXPECT_EQ(ToString(target->data), "beta");
}

TEST(StreamFailure, AnEntryLeftOutOfAStreamArchiveLosesNothingElse) {
  cZipEngine z;
  EventRecorder r;
  z.SetEvents(&r);
  ASSERT_TRUE(z.AddFile(Variant(ToBytes("first entry")), "one.txt"));
  ASSERT_TRUE(z.AddFile(Variant(ToBytes("second entry")), "two.txt"));
  // The first write is the first entry's local header.
  auto target = std::make_shared<FailingStream>(FailingStream::Member::kWrite, 1);
  z.CompressArchive(Variant(zip::StreamRef(target)), {}, 6);
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].fileIdx, 0);
  EXPECT_EQ(r.errors[0].description, "disk gone");
  EXPECT_FALSE(r.errors[0].cancelIn);
  cZipEngine back;
  ASSERT_TRUE(back.OpenArchive(Variant(target->data))) << back.LastError();
  ASSERT_EQ(back.FileCount(), 1);
  EXPECT_EQ(back.FileInfo(0).Array()[0].Text(), "two.txt");
}

TEST(StreamFailure, OtherExceptionsStopTheOperation) {
  class Throwing : public MemoryStream {
    std::int32_t VfsWriteFile(const std::uint8_t*, std::int32_t&) override {
      throw std::runtime_error("unexpected");
    }
  };
  Opened o(TwoEntries());
  EXPECT_FALSE(o.z.Extract(Variant(zip::StreamRef(std::make_shared<Throwing>()))));
  ASSERT_EQ(o.r.errors.size(), 1u);
  EXPECT_TRUE(o.r.errors[0].cancelIn);  // fatal: the second entry is not tried
  EXPECT_EQ(o.z.LastError(), "unexpected");
  EXPECT_TRUE(o.r.complete.empty());
}

// Every filter kind selects exactly the entries Extract then works.
TEST(FilterSelection, MatchesWhatExtractWorks) {
  ZipBuilder b;
  b.AddStored("top.txt", "1");
  b.AddStored("dir/a.txt", "2");
  b.AddStored("dir/b.bin", "3");
  b.AddStored("[x].txt", "4");
  Opened o(b.Build());
  const std::vector<Variant> filters = {
      Variant::MissingArg(), Variant("*.txt"),
      Variant("dir/*"),      Variant("a.txt"),
      Variant("[x].txt"),    Variant(2),
      Variant(true),         Variant(VariantArray{Variant(false), Variant(true)}),
      Variant("nothing")};
  for (const Variant& filter : filters) {
    SCOPED_TRACE(filter.ToText());
    const std::vector<bool> selected = o.z.FilterSelection(filter);
    ASSERT_EQ(selected.size(), 4u);
    o.r.Clear();
    Bytes sink;
    o.z.Extract(Variant::Ref(sink), filter);
    std::vector<bool> worked(4, false);
    for (std::int32_t i : o.r.before) worked[static_cast<std::size_t>(i)] = true;
    EXPECT_EQ(selected, worked);
  }
  EXPECT_EQ(o.z.FilterSelection(Variant("*.txt")), (std::vector<bool>{true, true, false, true}));
  EXPECT_TRUE(
      o.z.FilterSelection(Variant(zip::StreamRef(std::make_shared<MemoryStream>()))).empty());
  EXPECT_TRUE(cZipEngine().FilterSelection(Variant::MissingArg()).empty());  // no entries
}

TEST(MakeFolderPath, MakesMissingParentsAndRefusesAFileInTheWay) {
  ScratchDir dir;
  std::string message;
  EXPECT_TRUE(zip::MakeFolderPath(dir / "a/b/c", message)) << message;
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "a" / "b" / "c"));
  EXPECT_TRUE(zip::MakeFolderPath(dir / "a/b", message));  // already there
  ASSERT_TRUE(WriteWholeFile(dir / "file", "x"));
  EXPECT_FALSE(zip::MakeFolderPath(dir / "file/sub", message));
  EXPECT_EQ(message, "File already exists (" + (dir / "file") + ")");
  EXPECT_EQ(ReadWholeText(dir / "file"), "x");
}

}  // namespace
}  // namespace lum::test
