// AddFile and AddFromFolder: what an entry is queued with, the walk's order, masks, target
// folder and empty folders, the entry table's growth, and the errors of both.
#include "zip/add_entries.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fs.h"
#include "tests/support/engine_events.h"
#include "tests/support/zip_builder.h"
#include "zip/names.h"
#include "zip/zip_engine.h"

namespace lum::test {

struct ZipEngineProbe {
  static std::size_t Slots(const zip::cZipEngine& z) { return z.m_uFiles.size(); }
  static const zip::EntryInfo& Entry(const zip::cZipEngine& z, std::int32_t i) {
    return z.m_uFiles.at(static_cast<std::size_t>(i));
  }
};

namespace {

using zip::cZipEngine;
using zip::Variant;
using P = ZipEngineProbe;
namespace fs = std::filesystem;

std::vector<std::string> Names(const cZipEngine& z) {
  std::vector<std::string> names;
  for (std::int32_t i = 0; i < z.FileCount(); ++i) names.push_back(P::Entry(z, i).FileName);
  return names;
}

double NowOle() {
  double now = 0;
  platform::SystemTimeToOleDate(platform::CurrentLocalTime(), now);
  return now;
}

TEST(AddFile, ByteArrayIsCopiedAndNamedBuffer) {
  cZipEngine z;
  Bytes data = ToBytes("original");
  ASSERT_TRUE(z.AddFile(Variant::Ref(data), {}, "note", "secret", 3, 7));
  data.assign(3, 'x');  // later changes do not reach the archive
  const zip::EntryInfo& e = P::Entry(z, 0);
  EXPECT_EQ(e.FileName, "[buffer]");
  EXPECT_EQ(e.Attributes, 0x20);
  EXPECT_EQ(e.Size, 8);
  EXPECT_EQ(e.Comment, "note");
  EXPECT_EQ(e.Level, 7);
  EXPECT_NEAR(e.LastModified, NowOle(), 5.0 / 86400);
  ASSERT_TRUE(e.DataSource.IsByteArray());
  EXPECT_FALSE(e.DataSource.IsByteArrayRef());
  EXPECT_EQ(ToString(e.DataSource.Bytes()), "original");
  EXPECT_TRUE(e.Extra.empty());
  EXPECT_EQ(z.LastError(), "");

  Bytes archive;
  ASSERT_TRUE(z.CompressArchive(Variant::Ref(archive)));
  cZipEngine r;
  ASSERT_TRUE(r.OpenArchive(Variant(archive)));
  Bytes content;
  ASSERT_TRUE(r.Extract(Variant::Ref(content)));
  EXPECT_EQ(ToString(content), "original");
}

TEST(AddFile, StreamsFilesAndFolders) {
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "a.txt", ToBytes("12345")));
  fs::create_directory(dir / "sub");
  // The file's last-write time, in local time to the second.
  platform::SystemTime fields;
  fields.Year = 2019;
  fields.Month = 6;
  fields.Day = 15;
  fields.Hour = 12;
  fields.Minute = 34;
  fields.Second = 56;
  fields.Milliseconds = 700;
  platform::FileTime local, utc;
  ASSERT_TRUE(platform::SystemTimeToFileTime(fields, local));
  ASSERT_TRUE(platform::LocalFileTimeToFileTime(local, utc));
  ASSERT_TRUE(platform::SetLastWriteTime(dir / "a.txt", utc));
  double expectedDate = 0;
  ASSERT_TRUE(platform::SystemTimeToOleDate(fields, expectedDate));
  auto stream = std::make_shared<MemoryStream>();
  stream->data = ToBytes("stream data");
  cZipEngine z;
  ASSERT_TRUE(z.AddFile(Variant(zip::StreamRef(stream))));
  ASSERT_TRUE(z.AddFile(Variant(dir / "a.txt")));
  ASSERT_TRUE(z.AddFile(Variant(dir / "a.txt"), "as\\folder\\"));  // a name ending in "\"
  ASSERT_TRUE(z.AddFile(Variant(dir / "sub")));                    // folder, no "\"
  ASSERT_TRUE(z.AddFile(Variant(dir / "sub" + std::string(1, platform::kPathSeparator))));
  EXPECT_EQ(Names(z),
            (std::vector<std::string>{"[stream]", "a.txt", "as\\folder\\", "sub", "sub\\"}));
  EXPECT_EQ(P::Entry(z, 0).Size, 11);
  ASSERT_TRUE(P::Entry(z, 0).DataSource.IsObject());
  EXPECT_EQ(P::Entry(z, 0).DataSource.Object(), stream);  // a reference, not a copy
  EXPECT_EQ(P::Entry(z, 1).Size, 5);
  EXPECT_EQ(P::Entry(z, 1).Attributes & 0x10, 0);
  EXPECT_EQ(P::Entry(z, 2).Attributes, 0x10);
  EXPECT_EQ(P::Entry(z, 2).Size, 0);
  EXPECT_NE(P::Entry(z, 3).Attributes & 0x10, 0);
  EXPECT_EQ(P::Entry(z, 3).Size, 0);
  EXPECT_EQ(P::Entry(z, 4).Attributes, 0x10);
  EXPECT_DOUBLE_EQ(P::Entry(z, 1).LastModified, expectedDate);

  // Folder entries are written without data; the stream is read from its start.
  Bytes archive;
  ASSERT_TRUE(z.CompressArchive(Variant::Ref(archive)));
  cZipEngine r;
  ASSERT_TRUE(r.OpenArchive(Variant(archive)));
  EXPECT_EQ(r.FileInfo(0).Array()[3].Number(), 11);
  EXPECT_EQ(r.FileInfo(3).Array()[4].Number(), 0);
}

TEST(AddFile, MissingSourceQueuesNothingAndReportsOnce) {
  ScratchDir dir;
  cZipEngine z;
  EventRecorder events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(ToBytes("x")), "first"));
  const std::string missing = dir / "missing.txt";
  EXPECT_FALSE(z.AddFile(Variant(missing), "name"));
  EXPECT_EQ(z.FileCount(), 1);
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0].source, "cZipEngine.AddFile\r\npvVfsOpen");
  EXPECT_EQ(events.errors[0].description, zip::pvSystemErrorMessage(2, missing));
  EXPECT_TRUE(events.errors[0].cancelIn);
  EXPECT_EQ(z.LastError(), events.errors[0].description);
  // The next success clears LastError, and fills the slot the failure had prepared.
  ASSERT_TRUE(z.AddFile(Variant(ToBytes("y")), "second"));
  EXPECT_EQ(z.LastError(), "");
  EXPECT_EQ(Names(z), (std::vector<std::string>{"first", "second"}));
}

TEST(AddFile, TableGrowsByDoublingAndKeepsItsEntries) {
  cZipEngine z;
  std::vector<std::size_t> slots;
  for (int i = 0; i < 13; ++i) {
    ASSERT_TRUE(z.AddFile(Variant(Bytes{}), std::to_string(i)));
    slots.push_back(P::Slots(z));
  }
  // Three slots (0–2), then indices 0 to twice the last index: 5, 9, 17.
  EXPECT_EQ(slots, (std::vector<std::size_t>{3, 3, 3, 5, 5, 9, 9, 9, 9, 17, 17, 17, 17}));
  for (int i = 0; i < 13; ++i) EXPECT_EQ(P::Entry(z, i).FileName, std::to_string(i));
}

TEST(AddFile, DefaultNames) {
  const std::string sep(1, platform::kPathSeparator);
  EXPECT_EQ(zip::pvDefaultEntryName("[buffer]"), "[buffer]");
  EXPECT_EQ(zip::pvDefaultEntryName("C:\\data\\a.txt"), "a.txt");
  EXPECT_EQ(zip::pvDefaultEntryName("a.txt"), "a.txt");
  EXPECT_EQ(zip::pvDefaultEntryName("x" + sep + "dir" + sep), "dir\\");
  EXPECT_EQ(zip::pvDefaultEntryName("stdin:"), "stdin:");
}

// The folder tree used by the walk tests:
//   src/b.txt  src/a.txt  src/c.bin
//   src/a/b.txt  src/a/deep/x.txt
//   src/only_sub/inner/          (only a subfolder)
//   src/empty/
class FolderWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* f : {"b.txt", "a.txt", "c.bin", "a/b.txt", "a/deep/x.txt"}) {
      fs::create_directories((root.Path() / f).parent_path());
      ASSERT_TRUE(WriteWholeFile((root.Path() / f).string(), ToBytes(f)));
    }
    fs::create_directories(root.Path() / "only_sub" / "inner");
    fs::create_directories(root.Path() / "empty");
  }
  std::string Mask(const std::string& mask) const {
    return root.Str() + platform::kPathSeparator + mask;
  }
  ScratchDir root;
};

TEST_F(FolderWalk, BreadthFirstWithMaskAndTargetFolder) {
  cZipEngine z;
  EXPECT_TRUE(z.AddFromFolder(Mask("*.txt"), true, "pkg"));
  // Files of a folder before those of its subfolders; names sorted within a folder.
  EXPECT_EQ(Names(z), (std::vector<std::string>{"pkg\\a.txt", "pkg\\b.txt", "pkg\\a\\b.txt",
                                                "pkg\\a\\deep\\x.txt"}));
  EXPECT_EQ(P::Entry(z, 3).DataSource.Text(), zip::pvNativePathJoin(root.Str(), "a\\deep\\x.txt"));
  EXPECT_EQ(z.LastError(), "");
}

TEST_F(FolderWalk, NotRecursiveTakesOneFolder) {
  cZipEngine z;
  EXPECT_TRUE(z.AddFromFolder(Mask("*.*")));
  EXPECT_EQ(Names(z), (std::vector<std::string>{"a.txt", "b.txt", "c.bin"}));
}

TEST_F(FolderWalk, EmptyFoldersGetEntries) {
  cZipEngine z;
  EXPECT_TRUE(z.AddFromFolder(Mask("*.*"), true, {}, true));
  EXPECT_EQ(Names(z),
            (std::vector<std::string>{"a.txt", "b.txt", "c.bin", "a\\b.txt", "empty\\",
                                      "only_sub\\", "a\\deep\\x.txt", "only_sub\\inner\\"}));
  EXPECT_EQ(P::Entry(z, 4).Attributes, 0x10);
  // The root gets an entry only under a target folder, here when the mask finds nothing.
  cZipEngine t;
  EXPECT_TRUE(t.AddFromFolder(Mask("*.none"), false, "pkg\\", true));
  EXPECT_EQ(Names(t), std::vector<std::string>{"pkg\\"});
}

TEST_F(FolderWalk, AddFolderAsQueuesWhatAddFromFolderQueuesUnderTheSameFolder) {
  cZipEngine walked, named;
  EXPECT_TRUE(walked.AddFromFolder(Mask("*.*"), true, "pkg\\top", true));
  EXPECT_TRUE(named.AddFolderAs(root.Str(), "pkg/top/", true, true));
  ASSERT_EQ(Names(named), Names(walked));
  for (std::int32_t i = 0; i < named.FileCount(); ++i) {
    EXPECT_EQ(P::Entry(named, i).DataSource.Text(), P::Entry(walked, i).DataSource.Text());
    EXPECT_EQ(P::Entry(named, i).ArchiveName, "");
  }
  // Windows: "\" in the stored folder separates, as "/" does.
  cZipEngine back;
  EXPECT_TRUE(back.AddFolderAs(root.Str() + platform::kPathSeparator, "pkg\\top", false, false));
  if (platform::kWindowsPaths) {
    EXPECT_EQ(Names(back),
              (std::vector<std::string>{"pkg\\top\\a.txt", "pkg\\top\\b.txt", "pkg\\top\\c.bin"}));
  } else {
    EXPECT_EQ(P::Entry(back, 0).ArchiveName, "pkg\\top/a.txt");
  }
}

TEST_F(FolderWalk, NothingMatchingIsNoError) {
  cZipEngine z;
  EventRecorder events;
  z.SetEvents(&events);
  EXPECT_FALSE(z.AddFromFolder(Mask("*.none"), true));
  EXPECT_FALSE(z.AddFromFolder(Mask("")));  // ends in a separator: only the folder itself
  EXPECT_EQ(z.FileCount(), 0);
  EXPECT_EQ(z.LastError(), "");
  EXPECT_TRUE(events.errors.empty());
}

TEST_F(FolderWalk, MissingFolderEndsTheWalk) {
  cZipEngine z;
  EventRecorder events;
  z.SetEvents(&events);
  const std::string search = zip::pvNativePathJoin(root / "missing", "*.*");
  EXPECT_FALSE(z.AddFromFolder(search));
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0].source, "cZipEngine.AddFromFolder\r\npvEnumFiles");
  EXPECT_EQ(events.errors[0].description, zip::pvSystemErrorMessage(3, search));
}

TEST_F(FolderWalk, EnumFilesFiltersByAttribute) {
  EXPECT_EQ(zip::pvEnumFiles(root.Str(), "*.txt", -0x10),
            (std::vector<std::string>{zip::pvNativePathJoin(root.Str(), "a.txt"),
                                      zip::pvNativePathJoin(root.Str(), "b.txt")}));
  EXPECT_TRUE(zip::pvEnumFiles(root.Str(), "*.*", 0).empty());      // a filter of 0 passes nothing
  EXPECT_EQ(zip::pvEnumFiles(root.Str(), "*.*", 0x10).size(), 3u);  // a, empty, only_sub
  EXPECT_EQ(zip::pvEnumFiles(root.Str(), "*.*", -0x10).size(), 3u);
}

TEST_F(FolderWalk, CurrentFolderWhenNoneIsGiven) {
  const fs::path before = fs::current_path();
  fs::current_path(root.Path() / "a");
  cZipEngine z;
  const bool queued = z.AddFromFolder("*.txt");
  fs::current_path(before);
  EXPECT_TRUE(queued);
  ASSERT_EQ(Names(z), std::vector<std::string>{"b.txt"});
  // Queued with its full path, so a later change of folder does not matter.
  Bytes archive;
  EXPECT_TRUE(z.CompressArchive(Variant::Ref(archive)));
}

}  // namespace
}  // namespace lum::test
