// Reading Zip64 entries: the extended-information extra field (id 1) of central headers,
// 64-bit sizes and offsets inside the engine, the saturated public members, and hostile
// fields refused with a message that names the entry and the field.
#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <memory>

#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "zip/extract_test_support.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

using zip::cZipEngine;
using zip::Variant;

constexpr std::uint32_t kMarker = 0xFFFFFFFF;

void PutLe64(Bytes& out, std::uint64_t value) {
  PutLe32(out, static_cast<std::uint32_t>(value));
  PutLe32(out, static_cast<std::uint32_t>(value >> 32));
}

// A Zip64 extra field (id 1) holding `values`, 8 bytes each. `declared` overrides its
// length field.
Bytes Zip64Extra(std::initializer_list<std::uint64_t> values, int declared = -1) {
  Bytes out;
  PutLe16(out, 1);
  PutLe16(out, declared >= 0 ? static_cast<std::uint32_t>(declared)
                             : static_cast<std::uint32_t>(values.size() * 8));
  for (std::uint64_t v : values) PutLe64(out, v);
  return out;
}

// Where the local header of the entry after `e` starts, `e` starting at `offset`.
std::uint64_t NextOffset(const ZipEntrySpec& e, std::uint64_t offset) {
  return offset + 30 + e.name.size() + e.extra.size() + e.stored.size();
}

double Field(const cZipEngine& z, int i, int k) {
  return z.FileInfo(i).Array()[k].Number();
}

// A stream target that keeps each entry's bytes under its name (the engine ends every
// entry with VfsSetEndOfFile(name)).
class CollectStream : public zip::IVfsStream {
 public:
  std::int32_t VfsSetFilePointer(std::int32_t&, std::int32_t&) override { return 0; }
  std::int32_t VfsReadFile(std::uint8_t*, std::int32_t&) override { return 0; }
  std::int32_t VfsWriteFile(const std::uint8_t* source, std::int32_t& size) override {
    m_current.insert(m_current.end(), source, source + size);
    return size;
  }
  void VfsSetEndOfFile(std::string& name) override {
    entries[name] = std::move(m_current);
    m_current.clear();
  }
  std::map<std::string, Bytes> entries;

 private:
  Bytes m_current;
};

TEST(ReadZip64, MarkedFieldsComeFromTheZip64FieldInItsOrder) {
  ZipBuilder b;
  b.AddStored("a.txt", "hello");
  b.AddDeflated("c.bin", ToBytes("deflated data"));
  b.AddStored("d.txt", "tail");
  auto& a = b.Entries()[0];
  auto& c = b.Entries()[1];
  auto& d = b.Entries()[2];
  // Every field marked; an unrelated extra field (extended time, 5 bytes) comes first.
  a.extra = {0x55, 0x54, 5, 0, 1, 2, 3, 4, 5};
  const Bytes z64 = Zip64Extra({5, 5, 0});
  a.extra.insert(a.extra.end(), z64.begin(), z64.end());
  a.size = a.compressedSize = kMarker;
  a.offset = kMarker;
  // Only the compressed size and the offset marked: the field starts with the compressed
  // size. A value for a field that is not marked is never looked for.
  const std::uint64_t cOffset = NextOffset(a, 0);
  c.extra = Zip64Extra({c.stored.size(), cOffset});
  c.compressedSize = kMarker;
  c.offset = kMarker;
  const std::uint64_t dOffset = NextOffset(c, cOffset);
  // A field that holds more than its markers need (a writer that always writes both sizes)
  // is read from its start all the same.
  d.extra = Zip64Extra({4, 4, 999, 7});
  d.size = kMarker;
  Opened o(b.Build());
  ASSERT_EQ(o.z.FileCount(), 3);
  EXPECT_EQ(Field(o.z, 0, 3), 5);
  EXPECT_EQ(Field(o.z, 0, 4), 5);
  EXPECT_EQ(Field(o.z, 0, 8), 0);
  EXPECT_EQ(Field(o.z, 1, 3), 13);
  EXPECT_EQ(Field(o.z, 1, 4), static_cast<double>(c.stored.size()));
  EXPECT_EQ(Field(o.z, 1, 8), static_cast<double>(cOffset));
  EXPECT_EQ(Field(o.z, 2, 3), 4);
  EXPECT_EQ(Field(o.z, 2, 8), static_cast<double>(dOffset));
  const zip::EntrySizes sizes = o.z.FileSizes(1);
  EXPECT_EQ(sizes.Size, 13);
  EXPECT_EQ(sizes.CompressedSize, static_cast<std::int64_t>(c.stored.size()));
  EXPECT_EQ(sizes.Offset, static_cast<std::int64_t>(cOffset));

  auto stream = std::make_shared<CollectStream>();
  ASSERT_TRUE(o.z.Extract(Variant(zip::StreamRef(stream)))) << o.z.LastError();
  EXPECT_EQ(o.z.LastError(), "");
  EXPECT_EQ(stream->entries["a.txt"], ToBytes("hello"));
  EXPECT_EQ(stream->entries["c.bin"], ToBytes("deflated data"));
  EXPECT_EQ(stream->entries["d.txt"], ToBytes("tail"));
}

TEST(ReadZip64, ValuesPast2GiBAreSaturatedInFileInfoAndWholeInFileSizes) {
  ZipBuilder b;
  auto& e = b.AddStored("big", "data");
  e.extra = Zip64Extra({std::uint64_t{5} << 30});
  e.size = kMarker;
  e.compressedSize = 0x90000000;  // between 2 and 4 GiB: no marker, read unsigned
  auto& m = b.AddStored("missing", "data");
  m.size = kMarker;  // no Zip64 field at all
  b.AddStored("small", "data");
  Opened o(b.Build());
  EXPECT_EQ(Field(o.z, 0, 3), 0x7FFFFFFF);
  EXPECT_EQ(Field(o.z, 0, 4), 0x7FFFFFFF);
  EXPECT_EQ(Field(o.z, 1, 3), 0x7FFFFFFF);
  EXPECT_EQ(o.z.FileSizes(0).Size, std::int64_t{5} << 30);
  EXPECT_EQ(o.z.FileSizes(0).CompressedSize, 0x90000000);
  EXPECT_EQ(o.z.FileSizes(1).Size, -1);
  EXPECT_EQ(o.z.FileSizes(1).CompressedSize, 4);
  EXPECT_EQ(o.z.FileSizes(2).Size, 4);
  EXPECT_EQ(o.z.FileSizes(3).Size, -1);
  EXPECT_EQ(o.z.FileSizes(-1).Offset, -1);
}

// Each case: entry 1 is hostile, entry 2 is fine. The open lists both; extraction refuses
// entry 1 with its message (continuable, nothing written) and still extracts entry 2.
TEST(ReadZip64, HostileFieldsAreRefusedNamingTheEntryAndTheField) {
  struct Case {
    const char* what;
    Bytes extra;
    std::uint32_t size, compressedSize, offset;
    const char* message;
  };
  const std::uint64_t huge = std::uint64_t{1} << 63;
  const Case cases[] = {
      {"size marker without the field",
       {},
       kMarker,
       4,
       0,
       "Invalid archive. Entry 1 has no Zip64 value for its size"},
      {"field too short for the compressed size", Zip64Extra({4}), kMarker, kMarker, 0,
       "Invalid archive. Entry 1 has no Zip64 value for its compressed size"},
      {"field longer than the extra field holds", Zip64Extra({4}, 16), kMarker, kMarker, 0,
       "Invalid archive. Entry 1 has no Zip64 value for its compressed size"},
      {"offset marker, field of another id", Bytes{2, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 4, 4,
       kMarker, "Invalid archive. Entry 1 has no Zip64 value for its local header offset"},
      {"size of 2^63", Zip64Extra({huge}), kMarker, 4, 0,
       "Invalid archive. Entry 1 has its Zip64 size out of range"},
      {"size of 2^64 - 1", Zip64Extra({~std::uint64_t{0}}), kMarker, 4, 0,
       "Invalid archive. Entry 1 has its Zip64 size out of range"},
      {"offset of 2^63", Zip64Extra({huge}), 4, 4, kMarker,
       "Invalid archive. Entry 1 has its Zip64 local header offset out of range"},
      {"offset past the end", Zip64Extra({std::uint64_t{1} << 40}), 4, 4, kMarker,
       "Invalid archive. Entry 1 has its Zip64 local header offset out of range"},
      {"data past the end", Zip64Extra({std::uint64_t{1} << 33}), 4, kMarker, 0,
       "Invalid archive. Entry 1 has its Zip64 compressed size out of range"},
      {"data of 2^63 - 1", Zip64Extra({huge - 1}), 4, kMarker, 0,
       "Invalid archive. Entry 1 has its Zip64 compressed size out of range"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ZipBuilder b;
    auto& e = b.AddStored("bad", "data");
    e.extra = c.extra;
    e.size = c.size;
    e.compressedSize = c.compressedSize;
    e.offset = c.offset;
    b.AddStored("good", "fine");
    const Bytes archive = b.Build();
    ScratchDir dir;
    ASSERT_TRUE(WriteWholeFile(dir / "a.zip", archive));
    for (const Variant& source : {Variant(archive), Variant(dir / "a.zip")}) {
      cZipEngine z;
      EventRecorder r;
      z.SetEvents(&r);
      ASSERT_TRUE(z.OpenArchive(source)) << z.LastError();
      EXPECT_GE(Field(z, 0, 3), 0);
      EXPECT_GE(Field(z, 0, 4), 0);
      EXPECT_GE(Field(z, 0, 8), 0);
      ScratchDir out;
      EXPECT_TRUE(z.Extract(Variant(out.Str())));
      ASSERT_EQ(r.errors.size(), 1u);
      EXPECT_EQ(r.errors[0].fileIdx, 0);
      EXPECT_EQ(r.errors[0].description, c.message);
      EXPECT_FALSE(r.errors[0].cancelIn);
      EXPECT_FALSE(std::filesystem::exists(out.Path() / "bad"));
      EXPECT_EQ(ReadWholeFile(out / "good"), ToBytes("fine"));
      Bytes target;
      EXPECT_FALSE(z.Extract(Variant::Ref(target), Variant(0)));
      EXPECT_EQ(z.LastError(), c.message);
    }
  }
}

// A Zip64 offset is moved by the length of data before the archive, as a classic one is.
TEST(ReadZip64, OffsetsFromTheZip64FieldCountAPrefix) {
  ZipBuilder b;
  b.prefix = Bytes(1000, 'S');
  auto& e = b.AddStored("a", "after the stub");
  e.extra = Zip64Extra({0});
  e.offset = kMarker;
  b.directoryOffset = 30 + 1 + 12 + 14;  // as if the stub were not there
  Opened o(b.Build());
  EXPECT_EQ(o.z.FileSizes(0).Offset, 1000);
  Bytes target;
  ASSERT_TRUE(o.z.Extract(Variant::Ref(target))) << o.z.LastError();
  EXPECT_EQ(target, ToBytes("after the stub"));
}

// 70,000 entries: the writer puts the count into the Zip64 end record, the reader takes it
// from there and every entry comes out with its own bytes.
TEST(ReadZip64, SeventyThousandEntriesRoundTrip) {
  const int count = 70000;
  cZipEngine w;
  for (int i = 0; i < count; ++i) {
    ASSERT_TRUE(w.AddFile(Variant(ToBytes("entry " + std::to_string(i))), "e" + std::to_string(i)));
  }
  Bytes archive;
  ASSERT_TRUE(w.CompressArchive(Variant::Ref(archive), {}, 6)) << w.LastError();
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(archive))) << z.LastError();
  ASSERT_EQ(z.FileCount(), count);
  auto stream = std::make_shared<CollectStream>();
  ASSERT_TRUE(z.Extract(Variant(zip::StreamRef(stream))));
  EXPECT_EQ(z.LastError(), "");
  ASSERT_EQ(stream->entries.size(), static_cast<std::size_t>(count));
  for (int i = 0; i < count; i += 997) {
    EXPECT_EQ(stream->entries["e" + std::to_string(i)], ToBytes("entry " + std::to_string(i)));
  }
  EXPECT_EQ(stream->entries["e" + std::to_string(count - 1)],
            ToBytes("entry " + std::to_string(count - 1)));
}

}  // namespace
}  // namespace lum::test
