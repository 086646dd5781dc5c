// Extract: targets (folder, byte array, stream), events and their cadence, filters, and the
// continuable and fatal errors, on archives written field by field.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "platform/fs.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "zip/extract_test_support.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

using zip::cZipEngine;
using zip::Variant;

const bool kWindows = platform::kWindowsPaths;

Bytes Pattern(std::size_t size, std::uint64_t seed) {
  return MakeData(DataKind::kBinary, size, seed);
}

TEST(Extract, FolderTargetWritesEveryKindOfEntry) {
  ZipBuilder b;
  const Bytes big = Pattern(300000, 1);
  b.AddStored("top.txt", "hello");
  b.AddDeflated("dir/sub/big.bin", big);
  b.AddFolder("empty/");
  b.AddStored("dir/zero", Bytes());
  Opened o(b.Build());
  ScratchDir dir;
  ASSERT_TRUE(o.z.Extract(Variant(dir.Str()))) << o.z.LastError();
  EXPECT_EQ(o.z.LastError(), "");
  EXPECT_TRUE(o.r.errors.empty());
  EXPECT_EQ(ReadWholeFile(dir / "top.txt"), ToBytes("hello"));
  EXPECT_EQ(ReadWholeFile(dir / "dir/sub/big.bin"), big);
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "empty"));
  EXPECT_EQ(ReadWholeFile(dir / "dir/zero"), Bytes());
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"dir", "dir/sub", "dir/sub/big.bin", "dir/zero",
                                                  "empty", "top.txt"}));
  EXPECT_EQ(o.r.complete, (std::vector<std::int32_t>{0, 1, 2, 3}));
  const std::string sep(1, platform::kPathSeparator);
  EXPECT_EQ(o.r.completeFiles[1], dir.Str() + sep + "dir" + sep + "sub" + sep + "big.bin");
  // Folder and empty file: one Progress(i, 1, 1) each.
  EXPECT_EQ(o.r.progress[o.r.progress.size() - 2], (RecordedProgress{2, 1, 1}));
  EXPECT_EQ(o.r.progress.back(), (RecordedProgress{3, 1, 1}));
}

TEST(Extract, ProgressCountsStoredBytesPerChunk) {
  ZipBuilder b;
  // 4 stored Deflate blocks of 5 header bytes: exactly 200000 stored bytes.
  b.AddDeflated("d", Pattern(199980, 2), 49995);
  ASSERT_EQ(b.Entries()[0].compressedSize, 200000u);
  Opened o(b.Build());
  Bytes target;
  ASSERT_TRUE(o.z.Extract(Variant::Ref(target))) << o.z.LastError();
  EXPECT_EQ(target, b.Entries()[0].data);
  std::vector<std::int32_t> currents;
  for (const auto& p : o.r.progress) {
    EXPECT_EQ(p.total, 200000);
    currents.push_back(p.current);
  }
  EXPECT_EQ(currents, (std::vector<std::int32_t>{0, 65536, 131072, 196608, 200000}));
}

TEST(Extract, OverwritesALongerFileExactly) {
  ZipBuilder b;
  b.AddStored("f", "short");
  b.AddStored("g", Bytes());
  Opened o(b.Build());
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "f", Bytes(100000, 'x')));
  ASSERT_TRUE(WriteWholeFile(dir / "g", Bytes(100, 'x')));
  ASSERT_TRUE(o.z.Extract(Variant(dir.Str())));
  EXPECT_EQ(ReadWholeFile(dir / "f"), ToBytes("short"));
  EXPECT_EQ(ReadWholeFile(dir / "g"), Bytes());
}

TEST(Extract, ContinuableErrorsLetLaterEntriesThrough) {
  ZipBuilder b;
  b.AddStored("crc", "data").crc32 ^= 1;                  // 0: CRC mismatch
  b.AddStored("enc", "data").flags = 1;                   // 1: encrypted
  b.AddStored("m12", "data").method = 12;                 // 2: copied, CRC decides
  b.AddStored("lh", "data").localSignature = 0x04034B51;  // 3: bad local header
  b.AddDeflated("bad", Bytes(10, 1));                     // 4: broken Deflate
  b.AddStored("short", "data").offset = 0x7FFFFFF0;       // 5: local header past end
  b.AddStored("ok", "fine");                              // 6
  auto& z64 = b.AddStored("zip64", "data");               // 7: Zip64 markers, no field
  z64.size = 0xFFFFFFFF;
  z64.compressedSize = 0xFFFFFFFF;
  auto& z64b = b.AddStored("neg", "data");  // 8: a 2 GiB Size the data does not have
  z64b.size = 0x80000000;
  b.Entries()[4].stored = {0x01, 0x05, 0x00, 0x00, 0x00};  // stored block, LEN/NLEN differ
  b.Entries()[4].compressedSize = 5;
  Opened o(b.Build());
  ScratchDir dir;
  EXPECT_TRUE(o.z.Extract(Variant(dir.Str())));
  std::vector<std::string> got;
  for (const auto& e : o.r.errors) {
    got.push_back(std::to_string(e.fileIdx) + " " + e.description);
    EXPECT_FALSE(e.cancelIn) << e.description;
  }
  EXPECT_EQ(got, (std::vector<std::string>{
                     "0 CRC check failed",
                     "1 Unsupported encryption",
                     "2 Unsupported compression method 12",
                     "3 Invalid local header. Entry 4 has invalid signature",
                     "4 Error decompressing",
                     "5 Invalid local header. Entry 6 has invalid signature",
                     "7 Invalid archive. Entry 8 has no Zip64 value for its size",
                     "8 Size check failed",
                 }));
  EXPECT_EQ(o.r.errors[0].source, "cZipEngine.Extract\r\nUpdater");
  EXPECT_EQ(o.r.errors[2].source, "cZipEngine.Extract");  // reported directly
  EXPECT_EQ(o.z.LastError(), "Size check failed");
  EXPECT_EQ(o.r.complete, (std::vector<std::int32_t>{2, 6}));
  EXPECT_EQ(ReadWholeFile(dir / "m12"), ToBytes("data"));
  EXPECT_EQ(o.z.FileInfo(2).Array()[7].Number(), 0);  // recorded as stored from now on
  // The encrypted entry raised one Progress(1, 0, 4) and nothing else.
  std::vector<RecordedProgress> ofEntry1;
  for (const auto& p : o.r.progress) {
    if (p.fileIdx == 1) ofEntry1.push_back(p);
  }
  EXPECT_EQ(ofEntry1, (std::vector<RecordedProgress>{{1, 0, 4}}));
  // Nothing at all of a Zip64 entry without its values, not even an empty file, and nothing
  // of an entry that failed its size check.
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "zip64"));
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "neg"));
}

TEST(Extract, CancelFromErrorProgressAndBeforeExtract) {
  ZipBuilder b;
  b.AddStored("bad", "x").crc32 = 0;
  b.AddStored("good", "y");
  {
    Opened o(b.Build());
    o.r.cancelOnError = true;
    Bytes t;
    EXPECT_FALSE(o.z.Extract(Variant::Ref(t)));
    EXPECT_EQ(o.z.LastError(), "CRC check failed");
    EXPECT_EQ(o.r.before, (std::vector<std::int32_t>{0}));
  }
  {
    Opened o(b.Build());
    o.r.onProgress = [](std::int32_t i, std::int32_t, std::int32_t, bool& cancel) {
      if (i == 1) cancel = true;
    };
    Bytes t;
    EXPECT_FALSE(o.z.Extract(Variant::Ref(t)));
    EXPECT_EQ(o.z.LastError(), "User cancelled");
    EXPECT_EQ(o.r.errors.size(), 1u);  // only the CRC failure of entry 0
  }
  {
    Opened o(b.Build());
    o.r.onBefore = [](std::int32_t, Variant&, bool&, bool& cancel) { cancel = true; };
    Bytes t;
    EXPECT_FALSE(o.z.Extract(Variant::Ref(t)));
    EXPECT_EQ(o.z.LastError(), "User cancelled");
    EXPECT_TRUE(o.r.errors.empty());
    EXPECT_TRUE(o.r.progress.empty());
  }
}

TEST(Extract, BeforeExtractSkipsAndRedirects) {
  ZipBuilder b;
  b.AddStored("a", "A");
  b.AddStored("b", "B");
  b.AddStored("c", "C");
  Opened o(b.Build());
  ScratchDir dir;
  const std::string elsewhere = dir / "moved/here.txt";
  o.r.onBefore = [&](std::int32_t i, Variant& file, bool& skip, bool&) {
    if (i == 0) skip = true;
    if (i == 1) file = Variant(elsewhere);
  };
  ASSERT_TRUE(o.z.Extract(Variant(dir / "out")));
  EXPECT_EQ(dir.List(), (std::vector<std::string>{"moved", "moved/here.txt", "out", "out/c"}));
  EXPECT_EQ(ReadWholeFile(elsewhere), ToBytes("B"));
  EXPECT_EQ(o.r.complete, (std::vector<std::int32_t>{1, 2}));
  EXPECT_EQ(o.r.completeFiles[0], elsewhere);
  for (const auto& p : o.r.progress) EXPECT_NE(p.fileIdx, 0);
}

TEST(Extract, ByteArrayTargetAndFilters) {
  ZipBuilder b;
  b.AddStored("README", "readme");
  b.AddStored("dir/a.txt", "dir-a");
  b.AddStored("a.txt", "top-a");
  b.AddStored("[1].txt", "bracket");
  b.AddStored("1.txt", "one");
  Opened o(b.Build());
  auto selected = [&](const Variant& filter) {
    o.r.Clear();
    Bytes t = ToBytes("previous content that is longer");
    o.z.Extract(Variant::Ref(t), filter);
    return std::make_pair(o.r.complete, ToString(t));
  };
  using V = std::vector<std::int32_t>;
  EXPECT_EQ(selected(Variant("*.*")).first, (V{0, 1, 2, 3, 4}));
  EXPECT_EQ(selected(Variant("a.txt")).first, (V{1, 2}));
  EXPECT_EQ(selected(Variant("dir/*.txt")), std::make_pair(V{1}, std::string("dir-a")));
  EXPECT_EQ(selected(Variant("[1].txt")), std::make_pair(V{3}, std::string("bracket")));
  EXPECT_EQ(selected(Variant(4)), std::make_pair(V{4}, std::string("one")));
  EXPECT_EQ(selected(Variant(zip::VariantArray{false, true})),
            std::make_pair(V{1}, std::string("dir-a")));
  // A filter that selects nothing: false with an empty LastError.
  Bytes t;
  EXPECT_FALSE(o.z.Extract(Variant::Ref(t), Variant("nothing")));
  EXPECT_EQ(o.z.LastError(), "");
  // A byte array given as a copy cannot be written into.
  EXPECT_FALSE(o.z.Extract(Variant(Bytes()), Variant(0)));
  EXPECT_EQ(o.z.LastError(), "Invalid byte array");
}

TEST(Extract, ForgedSizeCannotForceAHugeByteArray) {
  ZipBuilder b;
  auto& stored = b.AddStored("s", "tiny");
  stored.size = 0x7FFFFFF0;
  auto& deflated = b.AddDeflated("d", ToBytes("tiny too"));
  deflated.size = 0x7FFFFFF0;
  Opened o(b.Build());
  Bytes t;
  std::vector<std::size_t> sizes;
  o.r.onProgress = [&](std::int32_t, std::int32_t, std::int32_t, bool&) {
    sizes.push_back(t.size());
  };
  o.z.Extract(Variant::Ref(t));
  ASSERT_FALSE(sizes.empty());
  for (std::size_t s : sizes) EXPECT_LE(s, 1032u * 13 + 258) << s;
  // The length is what was written; the decoded count must then equal Size, so neither
  // entry completes.
  EXPECT_TRUE(o.r.complete.empty());
  ASSERT_EQ(o.r.errors.size(), 2u);
  EXPECT_EQ(o.r.errors[1].description, "Size check failed");
  EXPECT_EQ(ToString(t), "tiny too");
}

TEST(Extract, ForgedCompressedSizeIsBoundedByTheArchive) {
  ZipBuilder b;
  auto& e = b.AddDeflated("d", ToBytes("tiny"));
  e.size = 0x7FFFFFF0;
  e.compressedSize = 0x7FFFFF00;
  auto& n = b.AddDeflated("n", ToBytes("negative offset"));  // read from the start of memory
  n.size = 0x7FFFFFF0;
  n.compressedSize = 0x7FFFFF00;
  n.offset = 0x80000000;
  const Bytes archive = b.Build();
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "a.zip", archive));
  auto stream = std::make_shared<MemoryStream>();
  stream->data = archive;
  for (const Variant& source :
       {Variant(archive), Variant(dir / "a.zip"), Variant(zip::StreamRef(stream))}) {
    cZipEngine z;
    EventRecorder r;
    z.SetEvents(&r);
    ASSERT_TRUE(z.OpenArchive(source));
    Bytes t;
    std::size_t largest = 0;
    r.onProgress = [&](std::int32_t, std::int32_t, std::int32_t, bool&) {
      largest = std::max(largest, t.size());
    };
    // Each entry fails: the decoder reads on into the directory's bytes, the data runs out,
    // or (a file) the negative offset cannot be sought.
    EXPECT_FALSE(z.Extract(Variant::Ref(t)));
    EXPECT_EQ(r.errors.size(), 2u);
    EXPECT_GT(largest, 0u);
    EXPECT_LE(largest, 1032 * archive.size() + 258);
  }
}

TEST(Extract, StreamTargetAndStreamSource) {
  ZipBuilder b;
  b.AddStored("dir/one", "1111");
  b.AddDeflated("two", ToBytes("22"));
  b.AddStored("empty", Bytes());
  auto source = std::make_shared<MemoryStream>();
  source->data = b.Build();
  EventRecorder r;
  cZipEngine z;
  z.SetEvents(&r);
  ASSERT_TRUE(z.OpenArchive(Variant(zip::StreamRef(source))));
  auto target = std::make_shared<MemoryStream>();
  ASSERT_TRUE(z.Extract(Variant(zip::StreamRef(target)))) << z.LastError();
  EXPECT_EQ(target->endNames, (std::vector<std::string>{"dir\\one", "two", "empty"}));
  // Every entry gets a handle of its own, rewound before its first write, so each entry
  // starts at the stream's beginning.
  EXPECT_EQ(ToString(target->data), "2211");
  EXPECT_EQ(target->calls,
            (std::vector<std::string>{"seek 0 0", "write 4", "end dir\\one", "seek 0 0", "write 2",
                                      "end two", "end empty"}));
}

TEST(Extract, ErrorsAtSetupAreFatal) {
  EventRecorder r;
  cZipEngine z;
  z.SetEvents(&r);
  ScratchDir dir;
  EXPECT_FALSE(z.Extract(Variant(dir.Str())));
  EXPECT_EQ(z.LastError(), "Archive not opened");
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_TRUE(r.errors[0].cancelIn);

  // The archive file disappears between OpenArchive and Extract.
  ZipBuilder b;
  b.AddStored("a", "1");
  ASSERT_TRUE(WriteWholeFile(dir / "a.zip", b.Build()));
  ASSERT_TRUE(z.OpenArchive(Variant(dir / "a.zip")));
  std::filesystem::remove(dir.Path() / "a.zip");
  r.Clear();
  EXPECT_FALSE(z.Extract(Variant(dir / "out")));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].source, "cZipEngine.Extract\r\npvVfsOpen");
  EXPECT_EQ(r.errors[0].fileIdx, -1);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "out"));
}

TEST(Extract, OutputInTheWayOfAFolder) {
  ZipBuilder b;
  b.AddStored("file/inner.txt", "x");
  b.AddStored("after", "y");
  Opened o(b.Build());
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "file", Bytes(3, 'f')));
  EXPECT_TRUE(o.z.Extract(Variant(dir.Str())));
  ASSERT_EQ(o.r.errors.size(), 1u);
  EXPECT_EQ(o.r.errors[0].description, "File already exists (" + (dir / "file") + ")");
  EXPECT_EQ(ReadWholeFile(dir / "after"), ToBytes("y"));
}

TEST(Extract, TruncatedDataAndEveryCutOfTheArchive) {
  ZipBuilder b;
  b.AddStored("s", Pattern(3000, 3));
  b.AddDeflated("d", Pattern(3000, 4), 1000);
  const Bytes archive = b.Build();
  {
    // The directory claims more stored bytes than the archive holds.
    ZipBuilder c = b;
    c.Entries()[0].compressedSize = 0x10000000;
    Opened o(c.Build());
    Bytes t;
    o.z.Extract(Variant::Ref(t), Variant(0));
    EXPECT_EQ(o.z.LastError(), "Error reading archive");
  }
  // Cut k bytes out just before the directory: offsets and data no longer agree. Every
  // variant either extracts correct data or reports an error; none crashes or lies.
  const std::size_t directory = archive.size() - 22 - 2 * 47;
  for (std::size_t k = 1; k < directory; k += 7) {
    Bytes cut = archive;
    cut.erase(cut.begin() + static_cast<std::ptrdiff_t>(directory - k),
              cut.begin() + static_cast<std::ptrdiff_t>(directory));
    PatchLe32(cut, cut.size() - 6, static_cast<std::uint32_t>(directory - k));
    cZipEngine z;
    ASSERT_TRUE(z.OpenArchive(Variant(cut))) << k;
    EventRecorder r;
    z.SetEvents(&r);
    Bytes t;
    z.Extract(Variant::Ref(t), Variant(1));
    EXPECT_FALSE(r.errors.empty()) << k;
  }
}

TEST(Extract, FolderEntryWithoutFolderAttribute) {
  ZipBuilder b;
  b.AddStored("plain/", Bytes()).externalAttributes = 0;
  Opened o(b.Build());
  ScratchDir dir;
  EXPECT_TRUE(o.z.Extract(Variant(dir.Str())));
  EXPECT_TRUE(o.r.errors.empty());
  EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "plain"));
}

}  // namespace
}  // namespace lum::test
