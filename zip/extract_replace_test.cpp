// Extract to a folder never replaces a good file with a bad one: every way an entry can fail
// is tried against a file already at its target, which must keep its bytes, with no file
// left beside it. Also what is already on disk at a target (links, FIFOs, the archive
// itself), folder entries that carry data, "." components, size checks and the optional
// restoring of times, permissions and links.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/fs.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "zip/extract.h"
#include "zip/extract_test_support.h"
#include "zip/names.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using zip::cZipEngine;
using zip::Variant;

const bool kWindows = platform::kWindowsPaths;
const Bytes kGood = ToBytes("the good file that is already installed");

// Every failure kind, as an entry "app.bin" that fails (added last, so that data claimed
// beyond its end overlaps no other entry), and the message the failure reports.
struct FailureCase {
  const char* kind;
  std::string message;
  std::function<void(ZipBuilder&)> make;
};

std::vector<FailureCase> FailureCases() {
  const Bytes data = MakeData(DataKind::kText, 150000, 7);
  return {
      {"CRC mismatch", "CRC check failed",
       [data](ZipBuilder& b) { b.AddStored("app.bin", data).stored[100] ^= 1; }},
      {"truncated data", "Error reading archive",
       [data](ZipBuilder& b) {
         auto& e = b.AddStored("app.bin", data);
         e.stored.resize(1000);  // the directory still claims every byte
       }},
      {"undecodable data", "Error decompressing",
       [data](ZipBuilder& b) {
         auto& e = b.AddDeflated("app.bin", data);
         e.stored[3] ^= 0xFF;  // a stored block whose NLEN is not the complement of LEN
       }},
      {"unknown method", "CRC check failed",
       [data](ZipBuilder& b) {
         auto& e = b.AddDeflated("app.bin", data);
         e.method = 14;  // copied raw, so the CRC check must refuse it
       }},
      {"encrypted entry", "Unsupported encryption",
       [data](ZipBuilder& b) { b.AddStored("app.bin", data).flags |= 1; }},
      {"compressed size 0 with a size", "CRC check failed",
       [data](ZipBuilder& b) {
         auto& e = b.AddStored("app.bin", data);
         e.stored.clear();
         e.compressedSize = 0;
       }},
      {"compressed size 0, forged CRC 0", "Size check failed",
       [data](ZipBuilder& b) {
         auto& e = b.AddStored("app.bin", data);
         e.stored.clear();
         e.compressedSize = 0;
         e.crc32 = 0;
       }},
      // A name without a trailing separator is a file, whatever its attributes say.
      {"folder attributes, no data, forged CRC", "CRC check failed",
       [data](ZipBuilder& b) {
         auto& e = b.AddStored("app.bin", data);
         e.stored.clear();
         e.compressedSize = 0;
         e.externalAttributes = 0x3B;  // folder and volume-label bits
       }},
      {"folder attribute, no data, forged size", "Size check failed",
       [data](ZipBuilder& b) {
         auto& e = b.AddStored("app.bin", data);
         e.stored.clear();
         e.compressedSize = 0;
         e.crc32 = 0;
         e.externalAttributes = 0x10;
       }},
      {"size larger than the data", "Size check failed",
       [data](ZipBuilder& b) { b.AddDeflated("app.bin", data).size += 1; }},
  };
}

TEST(ExtractReplace, EveryFailureKeepsTheExistingFile) {
  for (const FailureCase& c : FailureCases()) {
    SCOPED_TRACE(c.kind);
    ZipBuilder b;
    b.AddStored("before.txt", "before");
    c.make(b);
    Opened o(b.Build());
    ScratchDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "app.bin", kGood));
    EXPECT_TRUE(o.z.Extract(Variant(dir.Str())));
    ASSERT_FALSE(o.r.errors.empty());
    EXPECT_EQ(o.r.errors.back().description, c.message);
    EXPECT_FALSE(o.r.errors.back().cancelIn);  // continuable
    EXPECT_EQ(ReadWholeFile(dir / "app.bin"), kGood);
    EXPECT_EQ(ReadWholeFile(dir / "before.txt"), ToBytes("before"));
    EXPECT_EQ(dir.List(), (std::vector<std::string>{"app.bin", "before.txt"}));
    EXPECT_EQ(o.r.complete, (std::vector<std::int32_t>{0}));
  }
}

TEST(ExtractReplace, FailureOfANewFileLeavesNothing) {
  for (const FailureCase& c : FailureCases()) {
    SCOPED_TRACE(c.kind);
    ZipBuilder b;
    c.make(b);
    Opened o(b.Build());
    ScratchDir dir;
    EXPECT_FALSE(o.z.Extract(Variant(dir.Str())));
    EXPECT_EQ(o.z.LastError(), c.message);
    EXPECT_TRUE(dir.List().empty());
  }
}

TEST(ExtractReplace, EncryptedEntryCreatesNoOutput) {
  ZipBuilder b;
  b.AddStored("sub/secret.txt", "x").flags |= 1;
  Opened o(b.Build());
  ScratchDir dir;
  EXPECT_FALSE(o.z.Extract(Variant(dir.Str())));
  EXPECT_EQ(o.z.LastError(), "Unsupported encryption");
  EXPECT_EQ(o.r.progress, (std::vector<RecordedProgress>{{0, 0, 1}}));
  EXPECT_TRUE(dir.List().empty());  // not even the folder
}

TEST(ExtractReplace, CancelInProgressKeepsTheExistingFile) {
  ZipBuilder b;
  b.AddDeflated("app.bin", MakeData(DataKind::kText, 300000, 8));
  Opened o(b.Build());
  o.r.onProgress = [](std::int32_t, std::int32_t current, std::int32_t, bool& cancel) {
    if (current > 0) cancel = true;  // after the first chunk was written
  };
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "app.bin", kGood));
  EXPECT_FALSE(o.z.Extract(Variant(dir.Str())));
  EXPECT_EQ(o.z.LastError(), "User cancelled");
  EXPECT_EQ(ReadWholeFile(dir / "app.bin"), kGood);
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"app.bin"}));
}

TEST(ExtractReplace, GoodEntryReplacesAndEmptyEntryEmpties) {
  ZipBuilder b;
  b.AddDeflated("app.bin", ToBytes("new"));
  b.AddStored("empty", Bytes());
  Opened o(b.Build());
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "app.bin", kGood));
  ASSERT_TRUE(WriteWholeFile(dir / "empty", kGood));
  ASSERT_TRUE(o.z.Extract(Variant(dir.Str()))) << o.z.LastError();
  EXPECT_EQ(ReadWholeFile(dir / "app.bin"), ToBytes("new"));
  EXPECT_EQ(ReadWholeFile(dir / "empty"), Bytes());
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"app.bin", "empty"}));
}

TEST(ExtractReplace, SizeAndEmptyCrcChecksHoldForEveryTarget) {
  ZipBuilder b;
  auto& forged = b.AddStored("forged-empty", Bytes());
  forged.crc32 = 0x12345678;
  auto& nodata = b.AddStored("no-data", ToBytes("abc"));
  nodata.stored.clear();
  nodata.compressedSize = 0;
  nodata.crc32 = 0;
  b.AddStored("short", ToBytes("abc")).size = 2;
  Opened o(b.Build());
  auto stream = std::make_shared<MemoryStream>();
  EXPECT_FALSE(o.z.Extract(Variant(zip::StreamRef(stream))));
  ASSERT_EQ(o.r.errors.size(), 3u);
  EXPECT_EQ(o.r.errors[0].description, "CRC check failed");
  EXPECT_EQ(o.r.errors[1].description, "Size check failed");
  EXPECT_EQ(o.r.errors[2].description, "Size check failed");
  o.r.Clear();
  Bytes target;
  EXPECT_FALSE(o.z.Extract(Variant::Ref(target), Variant(0)));
  EXPECT_EQ(o.z.LastError(), "CRC check failed");
}

TEST(ExtractReplace, ArchiveHoldingItsOwnNameKeepsItsBytes) {
  ScratchDir dir;
  ZipBuilder b;
  b.AddStored("first.txt", "1");
  b.AddStored("Lumetra.zip", "not the archive");
  b.AddStored("last.txt", "3");
  const Bytes archive = b.Build();
  const std::string path = dir / "Lumetra.zip";
  ASSERT_TRUE(WriteWholeFile(path, archive));
  EventRecorder r;
  cZipEngine z;
  z.SetEvents(&r);
  ASSERT_TRUE(z.OpenArchive(Variant(path)));
  EXPECT_TRUE(z.Extract(Variant(dir.Str())));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].description,
            "Invalid entry name. Entry 2 would replace the archive being read");
  EXPECT_FALSE(r.errors[0].cancelIn);
  EXPECT_EQ(ReadWholeFile(path), archive);
  EXPECT_EQ(ReadWholeFile(dir / "last.txt"), ToBytes("3"));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"Lumetra.zip", "first.txt", "last.txt"}));
}

TEST(ExtractReplace, FolderAndReadOnlyTargetsAreRefusedAsBefore) {
  ZipBuilder b;
  b.AddStored("taken", "x");
  Opened o(b.Build());
  ScratchDir dir;
  fs::create_directory(dir.Path() / "taken");
  EXPECT_FALSE(o.z.Extract(Variant(dir.Str())));
  EXPECT_EQ(o.r.errors.at(0).source, "cZipEngine.Extract\r\npvVfsCreate");
  EXPECT_EQ(o.z.LastError(), zip::pvSystemErrorMessage(5, dir / "taken"));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"taken"}));
}

TEST(ExtractReplace, FolderEntriesWithDataAndDotComponents) {
  ZipBuilder b;
  // jar and Python write folder entries as Deflate holding an empty stream (2 bytes).
  auto& meta = b.AddDeflated("META-INF/", Bytes());
  meta.externalAttributes = 0;
  b.AddDeflated("META-INF/MANIFEST.MF", ToBytes("Manifest-Version: 1.0\n"));
  b.AddStored("x/./y.txt", "y");
  b.AddStored("./top.txt", "t");
  b.AddFolder("./");
  Opened o(b.Build());
  EXPECT_EQ(o.z.FileInfo(2).Array()[0].Text(), "x\\.\\y.txt");  // listed as stored
  ScratchDir dir;
  ASSERT_TRUE(o.z.Extract(Variant(dir.Str())));
  EXPECT_TRUE(o.r.errors.empty()) << o.r.errors[0].description;
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"META-INF", "META-INF/MANIFEST.MF", "top.txt",
                                                  "x", "x/y.txt"}));
  const std::string sep(1, platform::kPathSeparator);
  EXPECT_EQ(o.r.completeFiles[2], dir.Str() + sep + "x" + sep + "y.txt");
}

TEST(ExtractReplace, OverlappingEntriesAreRefused) {
  // Two directory records sharing one local header and its data: the shape of a zip bomb.
  ZipBuilder b;
  b.AddStored("one.txt", MakeData(DataKind::kText, 5000, 9));
  auto& second = b.AddStored("two.txt", MakeData(DataKind::kText, 5000, 9));
  second.offset = 0;
  b.AddStored("alone.txt", "fine");
  Opened o(b.Build());
  ScratchDir dir;
  EXPECT_TRUE(o.z.Extract(Variant(dir.Str())));
  ASSERT_EQ(o.r.errors.size(), 2u);
  EXPECT_EQ(o.r.errors[0].description, "Invalid archive. Entry 1 overlaps another entry");
  EXPECT_EQ(o.r.errors[1].description, "Invalid archive. Entry 2 overlaps another entry");
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"alone.txt"}));
}

TEST(ExtractReplace, OverlapTakesAtLeastTheHeaderAndTheStoredData) {
  // {Offset, CompressedSize}: 0+30+10 ends where the next starts (they only touch); the
  // third spans the fourth and the fifth, out of order; a negative offset is left alone, and
  // so is a claim past the end of the 5000-byte archive (its reading fails on its own).
  const std::vector<std::pair<std::int32_t, std::int32_t>> layout = {
      {0, 10}, {40, 0}, {100, 1000}, {1129, 5}, {500, 0}, {-1, 50}, {2000, 0}, {30, 4971}};
  std::vector<zip::EntryInfo> entries(layout.size());
  for (std::size_t i = 0; i < layout.size(); ++i) {
    entries[i].Offset = layout[i].first;
    entries[i].CompressedSize = layout[i].second;
  }
  const auto count = static_cast<std::int32_t>(entries.size());
  EXPECT_EQ(zip::pvOverlappingEntries(entries, count, 5000),
            (std::vector<bool>{false, false, true, true, true, false, false, false}));
  // With the size unknown the last claim counts: it covers everything from offset 30 on.
  EXPECT_EQ(zip::pvOverlappingEntries(entries, count, -1),
            (std::vector<bool>{true, true, true, true, true, false, true, true}));
}

// ---- What is already on disk (POSIX: links and FIFOs need no privileges there) ----

TEST(ExtractReplace, LinkAtTheTargetIsReplacedNotFollowed) {
  if (kWindows) GTEST_SKIP() << "symbolic links need privileges on Windows";
  ScratchDir outside, dir;
  ASSERT_TRUE(WriteWholeFile(outside / "file", kGood));
  fs::create_symlink(outside.Path() / "file", dir.Path() / "same.txt");
  fs::create_directory_symlink(outside.Path(), dir.Path() / "dirlink");
  ZipBuilder b;
  b.AddStored("same.txt", "entry");
  b.AddStored("dirlink", "file over a folder link");
  Opened o(b.Build());
  ASSERT_TRUE(o.z.Extract(Variant(dir.Str())));
  EXPECT_TRUE(o.r.errors.empty());
  EXPECT_FALSE(fs::is_symlink(dir.Path() / "same.txt"));
  EXPECT_EQ(ReadWholeFile(dir / "same.txt"), ToBytes("entry"));
  EXPECT_EQ(ReadWholeFile(dir / "dirlink"), ToBytes("file over a folder link"));
  EXPECT_EQ(outside.List(), (std::vector<std::string>{"file"}));
  EXPECT_EQ(ReadWholeFile(outside / "file"), kGood);
}

TEST(ExtractReplace, FolderLinkLeadingOutsideIsUnsafe) {
  if (kWindows) GTEST_SKIP() << "symbolic links need privileges on Windows";
  ScratchDir outside, dir;
  fs::create_directory_symlink(outside.Path(), dir.Path() / "out");
  fs::create_directory(dir.Path() / "real");
  fs::create_directory_symlink(dir.Path() / "real", dir.Path() / "in");
  fs::create_directory_symlink("../nowhere", dir.Path() / "dangling");
  ZipBuilder b;
  b.AddStored("out/new.txt", "escaped");
  b.AddStored("out/deeper/new.txt", "escaped");
  b.AddStored("in/ok.txt", "inside");
  b.AddStored("dangling/x.txt", "x");
  Opened o(b.Build());
  EXPECT_TRUE(o.z.Extract(Variant(dir.Str())));
  ASSERT_EQ(o.r.errors.size(), 3u);
  for (const auto& e : o.r.errors) {
    EXPECT_EQ(e.description,
              "Invalid entry name. Entry " + std::to_string(e.fileIdx + 1) + " has an unsafe path");
  }
  EXPECT_TRUE(outside.List().empty());
  EXPECT_EQ(ReadWholeFile(dir / "real/ok.txt"), ToBytes("inside"));
}

TEST(ExtractReplace, FifoAtTheTargetIsReplacedWithoutBlocking) {
  if (kWindows) GTEST_SKIP() << "no FIFOs on Windows";
  ScratchDir dir;
  ASSERT_EQ(std::system(("mkfifo '" + (dir / "pipe") + "'").c_str()), 0);
  ZipBuilder b;
  b.AddStored("pipe", "data");
  Opened o(b.Build());
  ASSERT_TRUE(o.z.Extract(Variant(dir.Str()))) << o.z.LastError();
  EXPECT_TRUE(fs::is_regular_file(dir.Path() / "pipe"));
  EXPECT_EQ(ReadWholeFile(dir / "pipe"), ToBytes("data"));
}

// ---- Restoring metadata ----

// An entry made on Unix with `mode` in the high word of its attributes.
ZipEntrySpec& UnixEntry(ZipBuilder& b, const std::string& name, const std::string& data,
                        std::uint32_t mode) {
  auto& e = b.AddStored(name, data);
  e.versionMadeBy = 0x031E;
  e.externalAttributes = (mode << 16) | 0x20;
  return e;
}

TEST(ExtractReplace, RestoreMetadataAppliesTimeAndMode) {
  ZipBuilder b;
  UnixEntry(b, "tool.sh", "#!/bin/sh\n", 0104755);  // set-uid is never applied
  UnixEntry(b, "private.txt", "p", 0100600);
  for (bool restore : {false, true}) {
    SCOPED_TRACE(restore);
    Opened o(b.Build());
    EXPECT_FALSE(o.z.RestoreMetadata());
    o.z.SetRestoreMetadata(restore);
    ScratchDir dir;
    ASSERT_TRUE(o.z.Extract(Variant(dir.Str()))) << o.z.LastError();
    const auto written = fs::last_write_time(dir.Path() / "tool.sh");
    const auto age = fs::file_time_type::clock::now() - written;
    // 2018-01-01 is years ago; a fresh file is seconds old.
    EXPECT_EQ(age > std::chrono::hours(24 * 365), restore);
    if (kWindows) continue;
    const auto perms = fs::status(dir.Path() / "tool.sh").permissions();
    const auto priv = fs::status(dir.Path() / "private.txt").permissions();
    if (restore) {
      EXPECT_EQ(perms, fs::perms(0755));
      EXPECT_EQ(priv, fs::perms(0600));
    } else {
      EXPECT_EQ(perms & fs::perms::owner_exec, fs::perms::none);
    }
  }
}

TEST(ExtractReplace, RestoreMetadataMakesOnlyLinksThatStayInside) {
  ZipBuilder b;
  UnixEntry(b, "lib/real.so", "library", 0100644);
  UnixEntry(b, "lib/short.so", "real.so", 0120777);
  UnixEntry(b, "up.txt", "lib/../lib/real.so", 0120777);
  UnixEntry(b, "lib/escape", "../../outside", 0120777);
  UnixEntry(b, "abs", "/etc/passwd", 0120777);
  Opened o(b.Build());
  o.z.SetRestoreMetadata(true);
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "abs", kGood));
  ASSERT_TRUE(o.z.Extract(Variant(dir.Str()))) << o.z.LastError();
  EXPECT_TRUE(o.r.errors.empty());
  if (kWindows) {
    EXPECT_EQ(ReadWholeFile(dir / "lib/short.so"), ToBytes("real.so"));
    return;
  }
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "lib/short.so"));
  EXPECT_EQ(ReadWholeFile(dir / "lib/short.so"), ToBytes("library"));
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "up.txt"));
  // Links that would leave the folder are files holding the link's text.
  EXPECT_FALSE(fs::is_symlink(dir.Path() / "lib/escape"));
  EXPECT_EQ(ReadWholeFile(dir / "lib/escape"), ToBytes("../../outside"));
  EXPECT_FALSE(fs::is_symlink(dir.Path() / "abs"));
  EXPECT_EQ(ReadWholeFile(dir / "abs"), ToBytes("/etc/passwd"));
}

TEST(ExtractReplace, LinkTextWithoutRestoreIsAFile) {
  ZipBuilder b;
  UnixEntry(b, "link", "target", 0120777);
  Opened o(b.Build());
  ScratchDir dir;
  ASSERT_TRUE(o.z.Extract(Variant(dir.Str())));
  EXPECT_FALSE(fs::is_symlink(dir.Path() / "link"));
  EXPECT_EQ(ReadWholeFile(dir / "link"), ToBytes("target"));
}

}  // namespace
}  // namespace lum::test
