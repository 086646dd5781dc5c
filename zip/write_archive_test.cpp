// CompressArchive: the records as laid out, the data against the encoder's reference model,
// events, and every failure with its message, its kind and what is left of the output.
#include "zip/write_archive.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/fs.h"
#include "platform/task_alloc.h"
#include "platform/time.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/time_fields.h"
#include "tests/support/zip_builder.h"
#include "tests/support/zip_layout.h"
#include "zip/names.h"
#include "zip/zip_engine.h"

namespace lum::test {

struct ZipEngineProbe {
  static zip::EntryInfo& Entry(zip::cZipEngine& z, std::int32_t i) {
    return z.m_uFiles.at(static_cast<std::size_t>(i));
  }
  static const codec::CodecEntryTable& Codec(const zip::cZipEngine& z) { return z.m_uCodec; }
};

namespace {

using zip::cZipEngine;
using zip::Variant;
using P = ZipEngineProbe;
namespace fs = std::filesystem;

class WriteEvents : public EventRecorder {
 public:
  std::vector<std::int32_t> announced;
  std::function<void(std::int32_t, std::int32_t&, bool&, bool&)> onBeforeCompress;
  void BeforeCompress(std::int32_t i, std::int32_t& level, bool& skip, bool& cancel) override {
    announced.push_back(i);
    if (onBeforeCompress) onBeforeCompress(i, level, skip, cancel);
  }
};

Bytes Text(std::size_t size, std::uint64_t seed = 1) {
  return MakeData(DataKind::kText, size, seed);
}
Bytes Random(std::size_t size, std::uint64_t seed = 2) {
  return MakeData(DataKind::kRandom, size, seed);
}

std::uint32_t Crc(const Bytes& b) {
  return ReferenceCrc32(b.data(), b.size());
}

// Writes the engine's entries into a fresh byte array; the layout must read back.
ZipLayout WriteLayout(cZipEngine& z, Bytes& out, std::int32_t level = 6, std::int32_t utf8 = -2,
                      const std::string& comment = {}) {
  out.clear();
  EXPECT_TRUE(z.CompressArchive(Variant::Ref(out), comment, level, utf8)) << z.LastError();
  auto layout = ReadZipLayout(out);
  EXPECT_TRUE(layout.has_value());
  return layout.value_or(ZipLayout{});
}

double OleDate(int y, int mo, int d, int h, int mi, int s) {
  double ole = 0;
  EXPECT_TRUE(platform::SystemTimeToOleDate(TimeFields(y, mo, d, h, mi, s), ole));
  return ole;
}

// ---- Records ----

TEST(WriteRecords, EveryFieldOfLocalCentralAndEndRecords) {
  cZipEngine z;
  const Bytes text = Text(100000), noise = Random(3000);
  ASSERT_TRUE(z.AddFile(Variant(text), "dir\\text.txt", "about text"));
  ASSERT_TRUE(z.AddFile(Variant(noise), "noise.bin"));
  ASSERT_TRUE(z.AddFile(Variant(Bytes{}), "folder\\"));
  ASSERT_TRUE(z.AddFile(Variant(Bytes{}), "empty.txt"));
  for (int i = 0; i < 4; ++i) P::Entry(z, i).LastModified = OleDate(2018, 1, 1, 13, 26, 21);
  Bytes out;
  const ZipLayout l = WriteLayout(z, out, 6, -2, "the archive");
  ASSERT_EQ(l.entries.size(), 4u);
  EXPECT_EQ(l.diskEntries, 4);
  EXPECT_EQ(l.totalEntries, 4);
  EXPECT_EQ(l.disk, 0);
  EXPECT_EQ(l.directoryDisk, 0);
  EXPECT_EQ(ToString(l.comment), "the archive");
  EXPECT_EQ(l.directoryOffset + l.directorySize + 22 + 11, out.size());

  struct Want {
    const char* name;
    std::uint16_t method, version;
    std::uint32_t crc, size, attributes;
    const char* comment;
  };
  const Want want[] = {{"dir/text.txt", 8, 20, Crc(text), 100000, 0x20, "about text"},
                       {"noise.bin", 0, 10, Crc(noise), 3000, 0x20, ""},
                       {"folder/", 0, 20, 0, 0, 0x10, ""},
                       {"empty.txt", 0, 10, 0, 0, 0x20, ""}};
  std::uint32_t expectOffset = 0;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(want[i].name);
    const LaidOutEntry& e = l.entries[static_cast<std::size_t>(i)];
    const CentralHeaderFields& c = e.central;
    const LocalHeaderFields& h = e.local;
    EXPECT_EQ(c.versionMadeBy, 45);
    EXPECT_EQ(c.versionNeeded, 20);  // the highest of all entries, in every header
    EXPECT_EQ(h.versionNeeded, want[i].version);
    EXPECT_EQ(c.flags, 0);
    EXPECT_EQ(h.flags, 0);
    EXPECT_EQ(c.method, want[i].method);
    EXPECT_EQ(h.method, want[i].method);
    EXPECT_EQ(c.time, 0x6B4A);  // 13:26:20, seconds rounded down to even
    EXPECT_EQ(c.date, 0x4C21);  // 2018-01-01
    EXPECT_EQ(h.time, c.time);
    EXPECT_EQ(h.date, c.date);
    EXPECT_EQ(c.crc32, want[i].crc);
    EXPECT_EQ(h.crc32, want[i].crc);
    EXPECT_EQ(c.size, want[i].size);
    EXPECT_EQ(h.size, want[i].size);
    EXPECT_EQ(h.compressedSize, c.compressedSize);
    EXPECT_EQ(ToString(c.name), want[i].name);
    EXPECT_EQ(h.name, c.name);
    EXPECT_EQ(c.extraLength, 0);
    EXPECT_EQ(h.extraLength, 0);
    EXPECT_EQ(ToString(c.comment), want[i].comment);
    EXPECT_EQ(c.diskStart, 0);
    EXPECT_EQ(c.internalAttributes, 0);
    EXPECT_EQ(c.externalAttributes, want[i].attributes);
    EXPECT_EQ(c.localOffset, expectOffset);  // entries lie back to back
    expectOffset = static_cast<std::uint32_t>(h.dataStart) + c.compressedSize;
    // What FileInfo shows after the call is what was written.
    const zip::VariantArray info = z.FileInfo(i).Array();
    EXPECT_EQ(info[2].Number(), c.crc32);
    EXPECT_EQ(info[3].Number(), c.size);
    EXPECT_EQ(info[4].Number(), c.compressedSize);
    EXPECT_EQ(info[7].Number(), c.method);
    EXPECT_EQ(info[8].Number(), c.localOffset);
  }
  EXPECT_LT(l.entries[0].central.compressedSize, 100000u / 2);
  EXPECT_EQ(l.entries[1].data, noise);  // random data does not pay: stored
  EXPECT_EQ(expectOffset, l.directoryOffset);
}

TEST(WriteRecords, VersionNeededIsTenOnlyWhenEveryEntryIsStored) {
  cZipEngine z;
  ASSERT_TRUE(z.AddFile(Variant(Text(5000)), "a.txt"));
  ASSERT_TRUE(z.AddFile(Variant(Random(500)), "b.bin"));
  Bytes out;
  ZipLayout stored = WriteLayout(z, out, 0);
  for (const auto& e : stored.entries) {
    EXPECT_EQ(e.central.versionNeeded, 10);
    EXPECT_EQ(e.local.versionNeeded, 10);
    EXPECT_EQ(e.central.method, 0);
    EXPECT_EQ(e.central.size, e.central.compressedSize);
  }
  EXPECT_EQ(ToString(stored.entries[0].data), ToString(Text(5000)));
  // A negative level stores as well; one deflated entry raises every central header to 20.
  EXPECT_EQ(WriteLayout(z, out, -3).entries[0].central.method, 0);
  const ZipLayout mixed = WriteLayout(z, out, 6);
  EXPECT_EQ(mixed.entries[0].central.method, 8);
  EXPECT_EQ(mixed.entries[1].central.method, 0);
  EXPECT_EQ(mixed.entries[1].local.versionNeeded, 10);
  for (const auto& e : mixed.entries) EXPECT_EQ(e.central.versionNeeded, 20);
}

TEST(WriteRecords, Utf8FlagNamesAndComments) {
  const std::string ascii = "plain.txt", oem = "k\xC3\xA4se.txt" /* käse */,
                    euro = "\xE2\x82\xAC.txt" /* €, not in code page 437 */;
  cZipEngine z;
  ASSERT_TRUE(z.AddFile(Variant(Bytes{1}), ascii, "x"));
  ASSERT_TRUE(z.AddFile(Variant(Bytes{2}), oem, "\xC3\xA4"));
  ASSERT_TRUE(z.AddFile(Variant(Bytes{3}), euro, "\xC3\xA4"));
  ASSERT_TRUE(z.AddFile(Variant(Bytes{4}), ascii, euro));  // only the comment needs UTF-8
  Bytes out;
  const std::string archiveComment = "gr\xC3\xBC\xC3\x9F";  // grüß
  ZipLayout l = WriteLayout(z, out, 6, -2, archiveComment);
  EXPECT_EQ(l.entries[0].central.flags, 0);
  EXPECT_EQ(l.entries[1].central.flags, 0);
  EXPECT_EQ(l.entries[1].central.name, (Bytes{'k', 0x84, 's', 'e', '.', 't', 'x', 't'}));
  EXPECT_EQ(l.entries[1].central.comment, Bytes{0x84});
  EXPECT_EQ(l.entries[2].central.flags, 0x800);
  EXPECT_EQ(l.entries[2].local.flags, 0x800);
  EXPECT_EQ(ToString(l.entries[2].central.name), euro);
  EXPECT_EQ(ToString(l.entries[2].central.comment), "\xC3\xA4");  // with its name's code page
  EXPECT_EQ(l.comment, (Bytes{'g', 'r', 0x81, 0xE1}));            // always OEM

  l = WriteLayout(z, out, 6, -1, archiveComment);
  for (const auto& e : l.entries) EXPECT_EQ(e.central.flags, 0x800);
  EXPECT_EQ(ToString(l.entries[1].central.name), oem);
  EXPECT_EQ(l.comment, (Bytes{'g', 'r', 0x81, 0xE1}));

  l = WriteLayout(z, out, 6, 0);
  for (const auto& e : l.entries) EXPECT_EQ(e.central.flags, 0);
  EXPECT_EQ(ToString(l.entries[2].central.name), "?.txt");

  // Read back by the engine: the names come back as they were queued.
  cZipEngine r;
  l = WriteLayout(z, out, 6, -2);
  ASSERT_TRUE(r.OpenArchive(Variant(out)));
  EXPECT_EQ(r.FileInfo(1).Array()[0].Text(), oem);
  EXPECT_EQ(r.FileInfo(2).Array()[0].Text(), euro);
  EXPECT_EQ(r.FileInfo(2).Array()[5].Text(), "\xC3\xA4");
}

TEST(WriteRecords, DosTimesAreEvenAndZeroOutsideTheirRange) {
  cZipEngine z;
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(z.AddFile(Variant(Bytes{1}), "f" + std::to_string(i)));
  P::Entry(z, 0).LastModified = OleDate(2020, 5, 1, 10, 0, 59);
  P::Entry(z, 1).LastModified = OleDate(1975, 5, 1, 10, 0, 0);
  P::Entry(z, 2).LastModified = OleDate(2108, 1, 1, 0, 0, 0);
  P::Entry(z, 3).LastModified = OleDate(2107, 12, 31, 23, 59, 59);
  Bytes out;
  const ZipLayout l = WriteLayout(z, out);
  EXPECT_EQ(l.entries[0].central.time, (10 << 11) | (0 << 5) | 29);  // 10:00:58
  EXPECT_EQ(l.entries[0].central.date, ((2020 - 1980) << 9) | (5 << 5) | 1);
  EXPECT_EQ(l.entries[1].central.time, 0);
  EXPECT_EQ(l.entries[1].central.date, 0);
  EXPECT_EQ(l.entries[1].local.date, 0);
  EXPECT_EQ(l.entries[2].central.date, 0);
  EXPECT_EQ(l.entries[3].central.date, (127 << 9) | (12 << 5) | 31);
}

// The compressed data is exactly the encoder's output for the source read in 65,536-byte
// chunks with one read-ahead: the final flag is on the last chunk that holds data.
TEST(WriteRecords, DeflateDataIsTheReferenceEncodingOf64KiBChunks) {
  CodecFixture codec;
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{3}, std::size_t{65536}, std::size_t{2 * 65536 + 1234}}) {
    for (const int level : {1, 4, 5, 9}) {
      SCOPED_TRACE(std::to_string(size) + " bytes, level " + std::to_string(level));
      const Bytes data = Text(size, size + 7);
      cZipEngine z;
      ASSERT_TRUE(z.AddFile(Variant(data), "t.txt"));
      Bytes out;
      const ZipLayout l = WriteLayout(z, out, level);
      ASSERT_EQ(l.entries.size(), 1u);
      Bytes expected;
      for (const Bytes& part : ReferenceDeflateChunks(codec.table, data, FixedChunks(size, 65536),
                                                      ReferenceLevel(level))) {
        expected.insert(expected.end(), part.begin(), part.end());
      }
      if (expected.size() > size) {  // does not pay: stored
        EXPECT_EQ(l.entries[0].central.method, 0);
        EXPECT_EQ(l.entries[0].data, data);
      } else {
        EXPECT_EQ(l.entries[0].central.method, 8);
        EXPECT_TRUE(l.entries[0].data == expected);
      }
    }
  }
}

TEST(WriteTargets, ByteArrayStreamAndFileGetTheSameArchive) {
  cZipEngine z;
  ASSERT_TRUE(z.AddFile(Variant(Text(70000)), "a.txt"));
  ASSERT_TRUE(z.AddFile(Variant(Random(100)), "b.bin"));
  Bytes array;
  ASSERT_TRUE(z.CompressArchive(Variant::Ref(array), "c"));
  ASSERT_TRUE(ReadZipLayout(array).has_value());  // trimmed to the archive: the end is the end

  auto stream = std::make_shared<MemoryStream>();
  stream->data.assign(1000000, 0xEE);  // longer than the archive: its end is set by the call
  ASSERT_TRUE(z.CompressArchive(Variant(zip::StreamRef(stream)), "c"));
  EXPECT_EQ(stream->endNames, std::vector<std::string>{"[output_archive]"});
  EXPECT_TRUE(std::equal(array.begin(), array.end(), stream->data.begin()));

  ScratchDir dir;
  const std::string path = dir / "new/folder/out.zip";  // missing folders are made
  ASSERT_TRUE(z.CompressArchive(Variant(path), "c")) << z.LastError();
  EXPECT_EQ(ReadWholeFile(path), array);

  // A byte array passed by value cannot be filled.
  WriteEvents events;
  z.SetEvents(&events);
  Bytes copy;
  EXPECT_FALSE(z.CompressArchive(Variant(copy)));
  EXPECT_EQ(z.LastError(), "Invalid byte array");
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0].source, "cZipEngine.CompressArchive\r\npvVfsCreate");
}

TEST(WriteTargets, QueuedEntriesStayAndAreWrittenAgain) {
  cZipEngine z;
  ASSERT_TRUE(z.AddFile(Variant(Text(1000)), "a.txt"));
  Bytes first, second;
  ASSERT_TRUE(z.CompressArchive(Variant::Ref(first)));
  ASSERT_TRUE(z.CompressArchive(Variant::Ref(second)));
  EXPECT_EQ(first, second);
  EXPECT_EQ(z.FileCount(), 1);
}

// ---- Events ----

TEST(WriteEventsTest, ProgressPerChunkAndAgainFromZeroWhenStored) {
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(Text(150000)), "t.txt"));
  ASSERT_TRUE(z.AddFile(Variant(Random(70000)), "r.bin"));
  ASSERT_TRUE(z.AddFile(Variant(Bytes{}), "d\\"));
  Bytes out;
  ASSERT_TRUE(z.CompressArchive(Variant::Ref(out)));
  const std::vector<RecordedProgress> want = {
      {0, 65536, 150000}, {0, 131072, 150000}, {0, 150000, 150000},  // deflated
      {1, 65536, 70000},  {1, 70000, 70000},                         // deflate pass
      {1, 0, 70000},      {1, 65536, 70000},   {1, 70000, 70000},    // stored pass
  };
  EXPECT_EQ(events.progress, want);  // the folder raises none
  EXPECT_EQ(events.announced, (std::vector<std::int32_t>{0, 1, 2}));
  EXPECT_TRUE(events.errors.empty());
}

TEST(WriteEventsTest, BeforeCompressChangesTheLevelOrSkips) {
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  const Bytes text = Text(20000);
  ASSERT_TRUE(z.AddFile(Variant(text), "a.txt"));
  ASSERT_TRUE(z.AddFile(Variant(text), "b.txt", {}, {}, 0, 9));  // its own level
  ASSERT_TRUE(z.AddFile(Variant(text), "c.txt"));
  std::vector<std::int32_t> levelsSeen;
  events.onBeforeCompress = [&](std::int32_t i, std::int32_t& level, bool& skip, bool&) {
    levelsSeen.push_back(level);
    if (i == 0) level = 0;
    if (i == 1) skip = true;
  };
  Bytes out;
  const ZipLayout l = WriteLayout(z, out, 4);
  EXPECT_EQ(levelsSeen, (std::vector<std::int32_t>{4, 9, 4}));
  ASSERT_EQ(l.entries.size(), 2u);
  EXPECT_EQ(l.entries[0].central.method, 0);  // level changed to 0: stored
  EXPECT_EQ(ToString(l.entries[1].central.name), "c.txt");
  // The skipped entry takes no room: the two local headers lie back to back.
  EXPECT_EQ(l.entries[1].central.localOffset, l.entries[0].local.dataStart + 20000);
  EXPECT_EQ(z.FileInfo(1).Array()[8].Number(), -1);
  EXPECT_TRUE(events.errors.empty());
}

TEST(WriteEventsTest, CancelFromBeforeCompressOrProgressLeavesNoArchive) {
  ScratchDir dir;
  for (const bool fromProgress : {false, true}) {
    SCOPED_TRACE(fromProgress ? "Progress" : "BeforeCompress");
    cZipEngine z;
    WriteEvents events;
    z.SetEvents(&events);
    ASSERT_TRUE(z.AddFile(Variant(Text(200000)), "a.txt"));
    ASSERT_TRUE(z.AddFile(Variant(Text(200000)), "b.txt"));
    if (fromProgress) {
      events.onProgress = [](std::int32_t i, std::int32_t, std::int32_t, bool& cancel) {
        if (i == 1) cancel = true;
      };
    } else {
      events.onBeforeCompress = [](std::int32_t i, std::int32_t&, bool&, bool& cancel) {
        if (i == 1) cancel = true;
      };
    }
    const std::string path = dir / "cancelled.zip";
    EXPECT_FALSE(z.CompressArchive(Variant(path)));
    EXPECT_EQ(z.LastError(), "User cancelled");
    EXPECT_TRUE(events.errors.empty());
    // The first entry had been written; the named file is cut to nothing all the same.
    EXPECT_EQ(fs::file_size(path), 0u);
    cZipEngine reader;
    EXPECT_FALSE(reader.OpenArchive(Variant(path)));
  }
}

// ---- Failures ----

TEST(WriteFailures, NoEntriesOrEverySkippedIsAnEmptyArchive) {
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  Bytes target = {1, 2, 3};
  EXPECT_FALSE(z.CompressArchive(Variant::Ref(target)));
  EXPECT_EQ(z.LastError(), "Empty archive");
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0].source, "cZipEngine.CompressArchive\r\nUpdater");
  EXPECT_TRUE(events.errors[0].cancelIn);  // fatal
  EXPECT_EQ(events.errors[0].fileIdx, -1);
  EXPECT_EQ(target, (Bytes{1, 2, 3}));  // nothing was written

  ASSERT_TRUE(z.AddFile(Variant(Text(100)), "a.txt"));
  events.onBeforeCompress = [](std::int32_t, std::int32_t&, bool& skip, bool&) { skip = true; };
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "old.zip", Text(5000)));
  EXPECT_FALSE(z.CompressArchive(Variant(dir / "old.zip")));
  EXPECT_EQ(z.LastError(), "Empty archive");
  EXPECT_EQ(fs::file_size(dir / "old.zip"), 0u);
}

// Sources that are gone, or are a folder, when the archive is written: each entry is left
// out with its storage error unless the Error handler cancels.
TEST(WriteFailures, UnreadableSourcesAreLeftOutOrCancelTheArchive) {
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "handler cancels" : "handler continues");
    ScratchDir dir;
    const std::string gone = dir / "gone.txt", folder = dir / "folder.txt",
                      later = dir / "later.txt", kept = dir / "kept.txt";
    for (const auto& p : {gone, folder, later, kept}) ASSERT_TRUE(WriteWholeFile(p, Text(3000)));
    cZipEngine z;
    WriteEvents events;
    events.cancelOnError = cancel;
    z.SetEvents(&events);
    for (const auto& p : {kept, gone, folder, later}) ASSERT_TRUE(z.AddFile(Variant(p)));
    fs::remove(gone);
    fs::remove(folder);
    fs::create_directory(folder);
    // `later` vanishes while the archive is being written, after the first entry.
    events.onBeforeCompress = [&](std::int32_t i, std::int32_t&, bool&, bool&) {
      if (i == 1) fs::remove(later);
    };
    const std::string out = dir / "out.zip";
    const bool result = z.CompressArchive(Variant(out));
    if (cancel) {
      EXPECT_FALSE(result);
      ASSERT_EQ(events.errors.size(), 1u);
      EXPECT_EQ(fs::file_size(out), 0u);
      continue;
    }
    EXPECT_TRUE(result);
    ASSERT_EQ(events.errors.size(), 3u);
    const std::string missing = zip::pvSystemErrorMessage(2, gone);
    EXPECT_EQ(events.errors[0].description, missing);
    EXPECT_EQ(events.errors[0].source, "cZipEngine.CompressArchive\r\npvVfsOpen");
    EXPECT_EQ(events.errors[0].fileIdx, 1);
    EXPECT_FALSE(events.errors[0].cancelIn);  // continuable
    EXPECT_EQ(events.errors[1].description, zip::pvSystemErrorMessage(5, folder));
    EXPECT_EQ(events.errors[1].source, "cZipEngine.CompressArchive\r\npvVfsRead");
    EXPECT_EQ(events.errors[2].description, zip::pvSystemErrorMessage(2, later));
    EXPECT_EQ(z.LastError(), events.errors[2].description);  // kept after a true result
    for (int i = 1; i < 4; ++i) EXPECT_EQ(z.FileInfo(i).Array()[8].Number(), -1);
    const auto bytes = ReadWholeFile(out);
    ASSERT_TRUE(bytes);
    const auto l = ReadZipLayout(*bytes);
    ASSERT_TRUE(l);
    ASSERT_EQ(l->entries.size(), 1u);
    EXPECT_EQ(l->entries[0].central.crc32, Crc(Text(3000)));
  }
}

TEST(WriteFailures, EntriesOfAnOpenedArchiveHaveNoSource) {
  ZipBuilder b;
  b.AddStored("a.txt", "aaa");
  b.AddStored("b.txt", "bbb");
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build())));
  Bytes out;
  EXPECT_FALSE(z.CompressArchive(Variant::Ref(out)));
  ASSERT_EQ(events.errors.size(), 3u);
  EXPECT_EQ(events.errors[0].source, "cZipEngine.CompressArchive\r\npvVfsOpen");
  EXPECT_FALSE(events.errors[0].cancelIn);
  EXPECT_EQ(z.LastError(), "Empty archive");
}

TEST(WriteFailures, OutputThatCannotBeCreated) {
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "file", Bytes{1}));
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(Text(100)), "a.txt"));
  const std::string parent = dir / "file";
  EXPECT_FALSE(z.CompressArchive(Variant(parent + "/sub/out.zip")));
  EXPECT_EQ(z.LastError(), "File already exists (" + parent + ")");
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0].source, "cZipEngine.CompressArchive\r\nUpdater");
  EXPECT_TRUE(events.errors[0].cancelIn);
  EXPECT_EQ(ReadWholeFile(parent), Bytes{1});
}

// A stream that accepts a limited number of bytes, then writes nothing (a full medium). Its
// end is set where the writer says the archive ends.
class FullStream : public MemoryStream {
 public:
  explicit FullStream(std::size_t room) : m_room(room) {}
  void VfsSetEndOfFile(std::string& name) override {
    data.resize(pos_());
    MemoryStream::VfsSetEndOfFile(name);
  }
  std::int32_t VfsWriteFile(const std::uint8_t* source, std::int32_t& size) override {
    std::int32_t n = static_cast<std::int32_t>(
        std::min<std::size_t>(static_cast<std::size_t>(size), m_room - std::min(m_room, pos_())));
    return MemoryStream::VfsWriteFile(source, n);
  }

 private:
  std::size_t pos_() const { return static_cast<std::size_t>(pos); }
  std::size_t m_room;
};

TEST(WriteFailures, WritesThatDoNotFitAreErrors) {
  const Bytes text = Text(50000);
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(Bytes(100, 'a')), "small.txt"));
  ASSERT_TRUE(z.AddFile(Variant(text), "big.txt", {}, {}, 0, 0));
  ASSERT_TRUE(z.AddFile(Variant(Bytes(100, 'b')), "small2.txt"));
  // Room for the small entries and the directory, not for the big one: it is left out.
  auto stream = std::make_shared<FullStream>(2000);
  ASSERT_TRUE(z.CompressArchive(Variant(zip::StreamRef(stream))));
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0].fileIdx, 1);
  EXPECT_EQ(events.errors[0].source, "cZipEngine.CompressArchive\r\npvVfsWrite");
  EXPECT_EQ(events.errors[0].description, zip::pvSystemErrorMessage(112, "[stream]"));
  const auto l = ReadZipLayout(stream->data);
  ASSERT_TRUE(l);
  ASSERT_EQ(l->entries.size(), 2u);
  EXPECT_EQ(ToString(l->entries[1].central.name), "small2.txt");

  // No room for the directory: fatal.
  events.Clear();
  stream = std::make_shared<FullStream>(130);
  EXPECT_FALSE(z.CompressArchive(Variant(zip::StreamRef(stream))));
  ASSERT_FALSE(events.errors.empty());
  EXPECT_TRUE(events.errors.back().cancelIn);
}

// A stream that cannot seek answers −1; that is said as such, not taken for a position past
// 2 GiB.
TEST(WriteFailures, AStreamThatCannotSeekSaysSo) {
  struct NoSeek : lum::test::MemoryStream {
    std::int32_t VfsSetFilePointer(std::int32_t&, std::int32_t&) override { return -1; }
  };
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(Bytes(100, 'a')), "a.txt"));
  EXPECT_FALSE(z.CompressArchive(Variant(zip::StreamRef(std::make_shared<NoSeek>()))));
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0].source, "cZipEngine.CompressArchive\r\npvVfsSeek");
  EXPECT_EQ(events.errors[0].description, "Output cannot seek ([stream])");
}

TEST(WriteFailures, FullFileSystem) {
  if (platform::kWindowsPaths || !fs::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full";
  }
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(Text(100000)), "a.txt"));
  EXPECT_FALSE(z.CompressArchive(Variant("/dev/full")));
  ASSERT_EQ(events.errors.size(), 2u);
  EXPECT_EQ(events.errors[0].description, zip::pvSystemErrorMessage(112, "/dev/full"));
  EXPECT_EQ(events.errors[0].source, "cZipEngine.CompressArchive\r\npvVfsWrite");
  EXPECT_EQ(z.LastError(), "Empty archive");
}

TEST(WriteFailures, CodecAllocationFailures) {
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(Text(1000)), "a.txt"));
  ASSERT_TRUE(z.AddFile(Variant(Text(1000)), "b.txt", {}, {}, 0, 0));  // stored: no codec
  const long before = platform::testing::TaskAllocOutstanding();
  for (const long allowed : {0L, 3L}) {
    events.Clear();
    platform::testing::FailTaskAllocAfter(allowed);
    Bytes out;
    const bool result = z.CompressArchive(Variant::Ref(out));
    platform::testing::FailTaskAllocAfter(-1);
    EXPECT_TRUE(result);
    ASSERT_EQ(events.errors.size(), 1u);
    EXPECT_EQ(events.errors[0].description,
              allowed == 0 ? "Cannot init deflate compressor" : "Error compressing");
    EXPECT_EQ(events.errors[0].source, "cZipEngine.CompressArchive\r\nUpdater");
    EXPECT_EQ(ReadZipLayout(out)->entries.size(), 1u);
    EXPECT_EQ(platform::testing::TaskAllocOutstanding(), before);
  }
}

TEST(WriteFailures, FieldsTooLargeFor16Bits) {
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(Bytes{1}), std::string(32768, 'n')));
  ASSERT_TRUE(z.AddFile(Variant(Bytes{1}), "c.txt", std::string(32768, 'c')));
  ASSERT_TRUE(z.AddFile(Variant(Bytes{1}), std::string(32767, 'k')));
  Bytes out;
  ASSERT_TRUE(z.CompressArchive(Variant::Ref(out)));
  ASSERT_EQ(events.errors.size(), 2u);
  for (const auto& e : events.errors) {
    EXPECT_EQ(e.description, "Value too large for a 16-bit field");
    EXPECT_FALSE(e.cancelIn);
  }
  EXPECT_EQ(ReadZipLayout(out)->entries.at(0).central.nameLength, 32767);

  events.Clear();
  EXPECT_FALSE(z.CompressArchive(Variant::Ref(out), std::string(32768, 'x')));
  EXPECT_EQ(z.LastError(), "Value too large for a 16-bit field");
  EXPECT_TRUE(events.errors.back().cancelIn);
}

// ---- Zip64 where sizes, offsets or counts outgrow the classic fields ----

std::uint64_t Get64(const Bytes& b, std::size_t at) {
  std::uint64_t v = 0;
  for (int k = 7; k >= 0; --k) v = (v << 8) | b.at(at + static_cast<std::size_t>(k));
  return v;
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16) |
         static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

// Counts the central headers from `offset` on, each walked by its three lengths.
std::size_t CountCentralHeaders(const Bytes& b, std::size_t offset) {
  std::size_t n = 0;
  while (offset + 46 <= b.size() && Get32(b, offset) == 0x02014B50) {
    offset += 46 + (b[offset + 28] | b[offset + 29] << 8) + (b[offset + 30] | b[offset + 31] << 8) +
              (b[offset + 32] | b[offset + 33] << 8);
    ++n;
  }
  return n;
}

TEST(WriteZip64, EntryCountsOf65535AndMoreUseTheZip64EndRecord) {
  for (const int count : {65534, 70000}) {
    cZipEngine z;
    for (int i = 0; i < count; ++i) ASSERT_TRUE(z.AddFile(Variant(Bytes{}), std::to_string(i)));
    Bytes out;
    ASSERT_TRUE(z.CompressArchive(Variant::Ref(out), {}, 0)) << z.LastError();
    const std::size_t end = out.size() - 22;
    ASSERT_EQ(Get32(out, end), 0x06054B50u);
    const std::uint32_t directory = Get32(out, end + 16);
    EXPECT_EQ(CountCentralHeaders(out, directory), static_cast<std::size_t>(count));
    if (count < 0xFFFF) {
      // Exactly as before: the classic end record right after the directory.
      EXPECT_EQ(out[end + 8] | out[end + 9] << 8, count);
      EXPECT_EQ(directory + Get32(out, end + 12), end);
      continue;
    }
    EXPECT_EQ(out[end + 8] | out[end + 9] << 8, 0xFFFF);
    EXPECT_EQ(out[end + 10] | out[end + 11] << 8, 0xFFFF);
    const std::size_t locator = end - 20;
    ASSERT_EQ(Get32(out, locator), 0x07064B50u);
    EXPECT_EQ(Get32(out, locator + 16), 1u);
    const std::uint64_t record = Get64(out, locator + 8);
    ASSERT_EQ(record, locator - 56);
    ASSERT_EQ(Get32(out, record), 0x06064B50u);
    EXPECT_EQ(Get64(out, record + 4), 44u);
    EXPECT_EQ(Get64(out, record + 24), static_cast<std::uint64_t>(count));
    EXPECT_EQ(Get64(out, record + 32), static_cast<std::uint64_t>(count));
    EXPECT_EQ(Get64(out, record + 48), directory);
    EXPECT_EQ(Get64(out, record + 40), record - directory);
  }
}

// A 5 GiB entry (a sparse file of zeros) written to a file: the Zip64 field in the local
// header, filled in by the rewrite after the data, and in the central header; the public
// sizes show the saturated value. Writes about 23 MB and takes seconds, so it runs only with
// LUM_LARGE_TESTS set (natively; see docs/benchmarks.md).
TEST(WriteZip64Large, EntryOf5GiBGetsZip64Fields) {
  if (std::getenv("LUM_LARGE_TESTS") == nullptr) GTEST_SKIP() << "set LUM_LARGE_TESTS";
  ScratchDir dir;
  const std::string big = dir / "big.bin";
  { std::ofstream f(big, std::ios::binary); }
  const std::uint64_t size = std::uint64_t{5} << 30;
  std::error_code ec;
  fs::resize_file(big, size, ec);
  if (ec) GTEST_SKIP() << "no sparse file: " << ec.message();
  cZipEngine z;
  ASSERT_TRUE(z.AddFile(Variant(big), "big.bin"));
  ASSERT_TRUE(z.AddFile(Variant(Text(100)), "after.txt"));
  ASSERT_TRUE(z.CompressArchive(Variant(dir / "out.zip"), {}, 1)) << z.LastError();
  EXPECT_EQ(P::Entry(z, 0).Size, 0x7FFFFFFF);
  const Bytes out = ReadWholeFile(dir / "out.zip").value_or(Bytes(100));
  // Local header: both sizes marked, the field holds them.
  EXPECT_EQ(Get32(out, 18), 0xFFFFFFFFu);
  EXPECT_EQ(Get32(out, 22), 0xFFFFFFFFu);
  EXPECT_EQ(out[4], 45);
  ASSERT_EQ(out[28] | out[29] << 8, 20);
  EXPECT_EQ(out[30 + 7] | out[30 + 8] << 8, 1);  // after the 7-byte name
  EXPECT_EQ(Get64(out, 30 + 7 + 4), size);
  const std::uint64_t compressed = Get64(out, 30 + 7 + 12);
  EXPECT_LT(compressed, 0xFFFFFFFFu);
  // Central header: only the uncompressed size goes into the field.
  const std::size_t end = out.size() - 22;
  const std::uint32_t directory = Get32(out, end + 16);
  EXPECT_EQ(Get32(out, directory + 24), 0xFFFFFFFFu);
  EXPECT_EQ(Get32(out, directory + 20), compressed);
  ASSERT_EQ(out[directory + 30] | out[directory + 31] << 8, 12);
  EXPECT_EQ(Get64(out, directory + 46 + 7 + 4), size);
  EXPECT_EQ(CountCentralHeaders(out, directory), 2u);
}

// A source of unknown size (a stream, like a pipe) that yields `total` zero bytes.
class ZeroStream : public zip::IVfsStream {
 public:
  explicit ZeroStream(std::int64_t total) : m_left(total) {}
  std::int32_t VfsSetFilePointer(std::int32_t&, std::int32_t&) override { return 0; }
  std::int32_t VfsReadFile(std::uint8_t* destination, std::int32_t& size) override {
    const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(size, m_left));
    std::memset(destination, 0, static_cast<std::size_t>(std::max(n, 0)));
    m_left -= n;
    return n;
  }
  std::int32_t VfsWriteFile(const std::uint8_t*, std::int32_t&) override { return 0; }
  void VfsSetEndOfFile(std::string&) override {}

 private:
  std::int64_t m_left;
};

// The sizes of a source of unknown size outgrow a local header without the Zip64 field: flag
// bit 3 and a data descriptor with 64-bit sizes after the data. Smaller stream sources keep
// the classic local header (the stream source tests above).
TEST(WriteZip64Large, StreamSourcePast4GiBGetsA64BitDataDescriptor) {
  if (std::getenv("LUM_LARGE_TESTS") == nullptr) GTEST_SKIP() << "set LUM_LARGE_TESTS";
  ScratchDir dir;
  const std::int64_t size = (std::int64_t{1} << 32) + 5;
  cZipEngine z;
  ASSERT_TRUE(z.AddFile(Variant(zip::StreamRef(std::make_shared<ZeroStream>(size))), "pipe.bin"));
  ASSERT_TRUE(z.CompressArchive(Variant(dir / "out.zip"), {}, 1)) << z.LastError();
  const Bytes out = ReadWholeFile(dir / "out.zip").value_or(Bytes(100));
  EXPECT_EQ(out[6] & 8, 8);
  EXPECT_EQ(Get32(out, 14), 0u);  // CRC and sizes in the descriptor
  EXPECT_EQ(Get32(out, 18), 0u);
  EXPECT_EQ(out[28] | out[29] << 8, 0);
  const std::size_t end = out.size() - 22;
  const std::uint32_t directory = Get32(out, end + 16);
  const std::uint32_t compressed = Get32(out, directory + 20);
  const std::size_t descriptor = 30 + 8 + compressed;
  ASSERT_EQ(descriptor + 24, directory);
  EXPECT_EQ(Get32(out, descriptor), 0x08074B50u);
  EXPECT_EQ(Get32(out, descriptor + 4), Get32(out, directory + 16));
  EXPECT_EQ(Get64(out, descriptor + 8), compressed);
  EXPECT_EQ(Get64(out, descriptor + 16), static_cast<std::uint64_t>(size));
  EXPECT_EQ(out[directory + 8] & 8, 8);
  EXPECT_EQ(Get64(out, directory + 46 + 8 + 4), static_cast<std::uint64_t>(size));
}

// ---- Memory and stream targets: nothing written past their 32-bit positions ----

TEST(WriteZip64, SourceOf2GiBIsLeftOutOfAMemoryTarget) {
  ScratchDir dir;
  const std::string big = dir / "big.bin";
  { std::ofstream f(big, std::ios::binary); }
  std::error_code ec;
  fs::resize_file(big, (std::uintmax_t{1} << 31) + 1, ec);  // sparse: no disk space used
  if (ec) GTEST_SKIP() << "no sparse file: " << ec.message();
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(big)));
  ASSERT_TRUE(z.AddFile(Variant(Text(100)), "small.txt"));
  // The public size shows the saturated value, never a wrapped negative one.
  EXPECT_EQ(z.FileInfo(0).Array()[3].Number(), 2147483647.0);
  Bytes out;
  EXPECT_TRUE(z.CompressArchive(Variant::Ref(out)));
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0].description, "Unsupported entry size. Entry 1 needs Zip64");
  EXPECT_FALSE(events.errors[0].cancelIn);
  EXPECT_TRUE(events.progress.size() <= 2u);  // refused before any of its data was read
  EXPECT_EQ(ReadZipLayout(out)->entries.size(), 1u);
}

// A stream target whose positions start just below 2 GiB: an entry that would end past
// 0x7FFFFFFF is refused, and the entries before and after it are written.
class HighStream : public MemoryStream {
 public:
  static constexpr std::int32_t kBase = 0x7FFF0000;
  std::int32_t VfsSetFilePointer(std::int32_t& distance, std::int32_t& method) override {
    std::int32_t d = method == 0 ? distance - kBase : distance;
    return MemoryStream::VfsSetFilePointer(d, method) + kBase;
  }
};

TEST(WriteZip64, OffsetsPast2GiBAreRefused) {
  cZipEngine z;
  WriteEvents events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(Random(1000)), "first.bin"));
  ASSERT_TRUE(z.AddFile(Variant(Random(70000)), "too_far.bin"));
  ASSERT_TRUE(z.AddFile(Variant(Random(1000)), "last.bin"));
  auto stream = std::make_shared<HighStream>();
  EXPECT_TRUE(z.CompressArchive(Variant(zip::StreamRef(stream))));
  ASSERT_EQ(events.errors.size(), 1u);
  EXPECT_EQ(events.errors[0].description, "Unsupported entry size. Entry 2 needs Zip64");
  EXPECT_EQ(events.errors[0].fileIdx, 1);
  EXPECT_EQ(z.FileInfo(2).Array()[8].Number(), HighStream::kBase + 30 + 9 + 1000);
  EXPECT_LT(stream->data.size(), 4000u);  // the refused data was overwritten and cut off
}

// A stored ZIP file as the last entry written ends a partial output with an end record of its
// own; other tools would then read the inner archive as the whole. A failed write to a named
// file therefore leaves an empty file.
TEST(WriteFailures, APartialOutputNeverPassesForAnArchive) {
  cZipEngine inner;
  ASSERT_TRUE(inner.AddFile(Variant(Text(1000)), "inner.txt"));
  Bytes innerZip;
  ASSERT_TRUE(inner.CompressArchive(Variant::Ref(innerZip), {}, 0));

  ScratchDir dir;
  cZipEngine z;
  WriteEvents events;
  events.cancelOnError = true;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(innerZip), "inner.zip", {}, {}, 0, 0));
  ASSERT_TRUE(WriteWholeFile(dir / "vanishing.txt", Bytes{1}));
  ASSERT_TRUE(z.AddFile(Variant(dir / "vanishing.txt")));
  fs::remove(dir / "vanishing.txt");
  EXPECT_FALSE(z.CompressArchive(Variant(dir / "out.zip")));
  EXPECT_EQ(fs::file_size(dir / "out.zip"), 0u);
}

}  // namespace
}  // namespace lum::test
