// OpenArchive: the end-record search, the directory records, names and dates, and the
// archive-level failures, on memory, file and stream sources.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

#include "platform/fs.h"
#include "platform/time.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "zip/zip_engine.h"
#include "zip/zip_records.h"

// The largest single block asked of operator new while g_trackLargest is set: shows that an
// open does not allocate by a count the archive only claims.
namespace {
bool g_trackLargest = false;
std::size_t g_largestAllocation = 0;
}  // namespace

// GCC takes the free() of the inlined replacement for one of a block from the library's
// operator new; both ends are the replacements here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  if (g_trackLargest && size > g_largestAllocation) g_largestAllocation = size;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace lum::test {
namespace {

using zip::cZipEngine;
using zip::Variant;

std::string Name(const cZipEngine& z, int i) {
  return z.FileInfo(i).Array()[0].Text();
}
double Field(const cZipEngine& z, int i, int field) {
  return z.FileInfo(i).Array()[static_cast<std::size_t>(field)].Number();
}

Bytes TwoEntryArchive() {
  ZipBuilder b;
  b.AddStored("a.txt", "alpha");
  b.AddDeflated("dir/b.bin", Bytes(1000, 7));
  b.comment = "the comment";
  return b.Build();
}

TEST(OpenArchive, ListsEveryFieldInOrder) {
  ZipBuilder b;
  auto& e = b.AddDeflated("dir/b.bin", Bytes(1000, 7));
  e.externalAttributes = 0x21;
  e.comment = "entry note";
  e.extra = {0x55, 0x54, 1, 0, 9};
  e.flags = 0x0002;
  const std::uint32_t crc = e.crc32;
  const double storedSize = static_cast<double>(e.stored.size());
  EXPECT_EQ(crc, ReferenceCrc32(e.data.data(), e.data.size()));
  b.AddStored("second", "x");
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build()))) << z.LastError();
  EXPECT_EQ(z.LastError(), "");
  ASSERT_EQ(z.FileCount(), 2);
  const auto info = z.FileInfo(0).Array();
  ASSERT_EQ(info.size(), 10u);
  EXPECT_EQ(info[0].Text(), "dir\\b.bin");
  EXPECT_EQ(info[1].Number(), 0x21);
  EXPECT_EQ(info[2].Number(), crc);
  EXPECT_EQ(info[3].Number(), 1000);
  EXPECT_EQ(info[4].Number(), storedSize);
  EXPECT_EQ(info[5].Text(), "entry note");
  platform::SystemTime t;
  ASSERT_TRUE(platform::OleDateToSystemTime(info[6].Number(), t));
  EXPECT_EQ(std::vector<int>({t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second}),
            std::vector<int>({2018, 1, 1, 13, 26, 20}));
  EXPECT_EQ(info[7].Number(), 8);
  EXPECT_EQ(info[8].Number(), 0);
  EXPECT_EQ(info[9].Number(), 2);
  EXPECT_EQ(Field(z, 1, 8), 30 + 9 + 5 + storedSize);
  EXPECT_TRUE(z.FileInfo(2).IsEmpty());
  EXPECT_TRUE(z.FileInfo(-1).IsEmpty());
}

TEST(OpenArchive, DosDateAndTime) {
  namespace rec = zip::records;
  EXPECT_EQ(rec::pvFromDosDateTime(0, 0), 0.0);
  // Month 0, day 0, hour 24 and 2107-12-31 23:59:58 at the top of the range.
  EXPECT_EQ(rec::pvFromDosDateTime(0x4C01, 0), 0.0);
  EXPECT_EQ(rec::pvFromDosDateTime(0x4C20, 0), 0.0);
  EXPECT_EQ(rec::pvFromDosDateTime(0x4C21, 24 << 11), 0.0);
  platform::SystemTime t;
  ASSERT_TRUE(platform::OleDateToSystemTime(rec::pvFromDosDateTime(0xFF9F, 0xBF7D), t));
  EXPECT_EQ(std::vector<int>({t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second}),
            std::vector<int>({2107, 12, 31, 23, 59, 58}));
  // The writer's packing is the inverse.
  std::uint16_t date = 0, time = 0;
  rec::pvToDosDateTime(rec::pvFromDosDateTime(0x4C21, 0x6B4A), date, time);
  EXPECT_EQ(date, 0x4C21);
  EXPECT_EQ(time, 0x6B4A);
}

TEST(OpenArchive, EndRecordSearchLimits) {
  // Comments of every length the 16-bit field can hold, from memory and from a stream.
  for (std::size_t length :
       {std::size_t{0}, std::size_t{10000}, std::size_t{10001}, std::size_t{65535}}) {
    ZipBuilder b;
    b.AddStored("a", "1");
    b.comment.assign(length, 'c');
    cZipEngine z;
    ASSERT_TRUE(z.OpenArchive(Variant(b.Build()))) << length << z.LastError();
    EXPECT_EQ(z.Comment(), b.comment);
    auto stream = std::make_shared<MemoryStream>();
    stream->data = b.Build();
    ASSERT_TRUE(z.OpenArchive(Variant(zip::StreamRef(stream)))) << length;
    EXPECT_EQ(z.Comment(), b.comment);
  }
  {
    // A comment length that runs past the end of the file.
    ZipBuilder b;
    b.AddStored("a", "1");
    b.comment = "short";
    b.commentLength = 6;
    cZipEngine z;
    EXPECT_FALSE(z.OpenArchive(Variant(b.Build())));
    EXPECT_EQ(z.LastError(), "Invalid archive. Missing end-of-central-directory record");
  }
  for (std::size_t size : {0, 1, 21}) {
    cZipEngine z;
    EXPECT_FALSE(z.OpenArchive(Variant(Bytes(size, 0x50))));
    EXPECT_EQ(z.LastError(), "Invalid archive. Missing end-of-central-directory record");
  }
}

TEST(OpenArchive, FalseEndRecordInsideComment) {
  // A comment holding an end-record signature whose length field does not reach the end
  // is skipped; one whose length field does is taken (the search takes the nearest).
  ZipBuilder real;
  real.AddStored("real", "r");
  Bytes fake = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 99, 0};
  real.comment = ToString(fake) + "tail";
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(real.Build())));
  EXPECT_EQ(z.FileCount(), 1);
  EXPECT_EQ(Name(z, 0), "real");

  PatchLe16(fake, 20, 4);  // now it reaches exactly to the end: an empty archive
  real.comment = ToString(fake) + "tail";
  ASSERT_TRUE(z.OpenArchive(Variant(real.Build())));
  EXPECT_EQ(z.FileCount(), 0);
  EXPECT_EQ(z.Comment(), "tail");
}

TEST(OpenArchive, EmptyArchiveAndPrefix) {
  ZipBuilder empty;
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(empty.Build())));
  EXPECT_EQ(z.FileCount(), 0);
  // A stub before the archive: offsets count from the start of the whole file.
  ZipBuilder b;
  b.prefix = Bytes(5000, 'M');
  b.AddStored("x", "y");
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build())));
  EXPECT_EQ(Field(z, 0, 8), 5000);
}

TEST(OpenArchive, TrailingDataAfterTheEndRecord) {
  ZipBuilder b;
  b.AddStored("a.txt", "alpha");
  b.comment = "note";
  b.trailer = ToBytes("appended by a signing tool\n");
  const Bytes archive = b.Build();
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(archive))) << z.LastError();
  EXPECT_EQ(Name(z, 0), "a.txt");
  EXPECT_EQ(z.Comment(), "note");
  auto stream = std::make_shared<MemoryStream>();
  stream->data = archive;
  ASSERT_TRUE(z.OpenArchive(Variant(zip::StreamRef(stream))));
  EXPECT_EQ(z.Comment(), "note");
  Bytes out;
  EXPECT_TRUE(z.Extract(Variant::Ref(out))) << z.LastError();
  EXPECT_EQ(out, ToBytes("alpha"));
}

TEST(OpenArchive, StubWhoseOffsetsWereNotAdjusted) {
  // Offsets count from the start of the archive proper, not from the start of the file.
  ZipBuilder plain;
  plain.AddStored("x.txt", "first");
  plain.AddDeflated("y.txt", ToBytes("second"));
  Bytes file(3000, 'M');
  const Bytes inner = plain.Build();
  file.insert(file.end(), inner.begin(), inner.end());
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(file))) << z.LastError();
  EXPECT_EQ(Field(z, 0, 8), 3000);
  Bytes out;
  EXPECT_TRUE(z.Extract(Variant::Ref(out), Variant(1))) << z.LastError();
  EXPECT_EQ(out, ToBytes("second"));
  // A local-header offset wrong on its own stays that entry's error.
  ZipBuilder broken = plain;
  broken.Entries()[0].offset = 60000;
  file.resize(3000);
  const Bytes inner2 = broken.Build();
  file.insert(file.end(), inner2.begin(), inner2.end());
  ASSERT_TRUE(z.OpenArchive(Variant(file)));
  EventRecorder r;
  z.SetEvents(&r);
  Bytes t;
  EXPECT_TRUE(z.Extract(Variant::Ref(t)));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].description, "Invalid local header. Entry 1 has invalid signature");
}

TEST(OpenArchive, CountsOf32768AndMoreAreUnsigned) {
  ZipBuilder b;
  for (int i = 0; i < 40000; ++i) b.AddStored("f" + std::to_string(i), "");
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build()))) << z.LastError();
  EXPECT_EQ(z.FileCount(), 40000);
  EXPECT_EQ(Name(z, 39999), "f39999");
}

// Rewrites an archive built without a comment so that its directory is found through a
// Zip64 end record: the record and its locator go before the classic end record, whose
// count, size and offset then hold the Zip64 markers. `count` is what the record claims;
// `locatorTarget` (when not negative) replaces where the locator says the record is, and
// `directoryOffset` (when not 0) the directory's offset in the record.
Bytes WithZip64End(const Bytes& archive, std::uint64_t count, std::int64_t locatorTarget = -1,
                   std::uint64_t directoryOffset = 0) {
  const std::size_t endAt = archive.size() - 22;
  const std::uint32_t dirSize = zip::records::Get32(archive.data() + endAt + 12);
  const std::uint32_t dirOffset = zip::records::Get32(archive.data() + endAt + 16);
  Bytes out(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(endAt));
  const auto put64 = [&out](std::uint64_t v) {
    PutLe32(out, static_cast<std::uint32_t>(v));
    PutLe32(out, static_cast<std::uint32_t>(v >> 32));
  };
  const std::uint64_t recordAt = out.size();
  PutLe32(out, 0x06064B50);
  put64(44);
  PutLe16(out, 45);
  PutLe16(out, 45);
  PutLe32(out, 0);
  PutLe32(out, 0);
  put64(count);
  put64(count);
  put64(dirSize);
  put64(directoryOffset ? directoryOffset : dirOffset);
  PutLe32(out, 0x07064B50);
  PutLe32(out, 0);
  put64(locatorTarget < 0 ? recordAt : static_cast<std::uint64_t>(locatorTarget));
  PutLe32(out, 1);
  out.insert(out.end(), archive.begin() + static_cast<std::ptrdiff_t>(endAt), archive.end());
  const std::size_t newEnd = out.size() - 22;
  PatchLe16(out, newEnd + 8, 0xFFFF);
  PatchLe16(out, newEnd + 10, 0xFFFF);
  PatchLe32(out, newEnd + 12, 0xFFFFFFFF);
  PatchLe32(out, newEnd + 16, 0xFFFFFFFF);
  return out;
}

TEST(OpenArchive, CountsPast65535ComeFromTheZip64EndRecord) {
  ZipBuilder b;
  for (int i = 0; i < 70000; ++i) b.AddStored("f" + std::to_string(i), "");
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(WithZip64End(b.Build(), 70000)))) << z.LastError();
  EXPECT_EQ(z.FileCount(), 70000);
  EXPECT_EQ(Name(z, 69999), "f69999");
}

TEST(OpenArchive, HostileZip64EndRecordsAreRefusedClearly) {
  ZipBuilder b;
  b.AddStored("a.txt", "alpha");
  b.AddStored("b.txt", "beta");
  const Bytes plain = b.Build();
  {
    // A locator pointing at itself still finds the record right before it.
    const Bytes selfPointing =
        WithZip64End(plain, 2, static_cast<std::int64_t>(plain.size() - 22 + 56));
    cZipEngine z;
    ASSERT_TRUE(z.OpenArchive(Variant(selfPointing))) << z.LastError();
    EXPECT_EQ(z.FileCount(), 2);
  }
  struct Case {
    const char* what;
    Bytes archive;
    const char* message;
  };
  // Where the locator points nowhere useful and nothing stands right before it either.
  const auto withoutRecord = [&plain](std::int64_t target) {
    Bytes out = WithZip64End(plain, 2, target);
    PatchLe32(out, plain.size() - 22, 0);  // the record's signature
    return out;
  };
  const Case cases[] = {
      {"count of 2^63", WithZip64End(plain, 0x8000000000000000ull),
       "Invalid archive. Zip64 end record out of range"},
      {"count of 2^40", WithZip64End(plain, 1ull << 40),
       "Invalid archive. Entry count out of range"},
      {"record past the end", withoutRecord(1ll << 62),
       "Invalid archive. Zip64 end record out of range"},
      {"record at the largest position", withoutRecord(0x7FFFFFFFFFFFFFFFll),
       "Invalid archive. Zip64 end record out of range"},
      {"locator at itself", withoutRecord(static_cast<std::int64_t>(plain.size() - 22 + 56)),
       "Invalid archive. Zip64 end record out of range"},
      {"directory after the record", WithZip64End(plain, 2, -1, 1ull << 33),
       "Invalid archive. Zip64 end record out of range"},
  };
  for (const Case& c : cases) {
    cZipEngine z;
    EventRecorder r;
    z.SetEvents(&r);
    EXPECT_FALSE(z.OpenArchive(Variant(c.archive))) << c.what;
    EXPECT_EQ(z.FileCount(), 0) << c.what;
    ASSERT_FALSE(r.errors.empty()) << c.what;
    EXPECT_EQ(r.errors.back().description, c.message) << c.what;
  }
}

TEST(OpenArchive, NamesByFlagBit11AndSanitised) {
  const std::string utf8 = "gr\xC3\xBC\xC3\x9F/\xC3\xA4.txt";  // grüß/ä.txt
  ZipBuilder b;
  b.AddStored(utf8, "1").flags = 0x0800;
  b.AddStored(utf8, "2");                // the same bytes read as code page 437
  b.AddStored("\x84\x94\x81.txt", "3");  // äöü in code page 437
  b.AddStored("dir/sub/a:b.txt", "4");
  b.AddStored("a/b\\c:d*e.txt", "5");
  b.AddStored("\t", "6");
  b.AddFolder("dir/");
  b.AddStored("C:\\x<y>|\"?.txt", "8");
  auto& c = b.AddStored("c", "9");
  c.comment = "\xC3\xA9t\xC3\xA9";  // été, as UTF-8 with bit 11
  c.flags = 0x0800;
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build())));
  EXPECT_EQ(Name(z, 0), "gr\xC3\xBC\xC3\x9F\\\xC3\xA4.txt");
  // Windows then passes names through its ANSI code page, which lacks the box-drawing
  // characters; POSIX's ANSI is UTF-8 and keeps them.
  if (!platform::kWindowsPaths) {
    EXPECT_EQ(Name(z, 1),
              "gr\xE2\x94\x9C\xE2\x95\x9D\xE2\x94\x9C\xC6\x92\\\xE2\x94\x9C\xC3\xB1.txt");
  }
  EXPECT_EQ(Name(z, 2), "\xC3\xA4\xC3\xB6\xC3\xBC.txt");
  EXPECT_EQ(Name(z, 3), "dir\\sub\\a_b.txt");
  EXPECT_EQ(Name(z, 4), "a\\b\\c_d_e.txt");
  EXPECT_EQ(Name(z, 5), "_");
  EXPECT_EQ(Name(z, 6), "dir\\");
  EXPECT_EQ(Name(z, 7), "C_\\x_y____.txt");
  EXPECT_EQ(z.FileInfo(8).Array()[5].Text(), "\xC3\xA9t\xC3\xA9");
}

TEST(OpenArchive, NamelessEntryIsContinuable) {
  ZipBuilder b;
  b.AddStored("one", "1");
  b.AddStored("two", "2");
  b.AddStored("", "3");
  EventRecorder r;
  cZipEngine z;
  z.SetEvents(&r);
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build())));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].description, "Invalid archive. Entry 3 has no filename");
  EXPECT_EQ(r.errors[0].source, "cZipEngine.OpenArchive");
  EXPECT_EQ(r.errors[0].fileIdx, 2);
  EXPECT_FALSE(r.errors[0].cancelIn);
  EXPECT_EQ(Name(z, 2), "[entry 3]");
  // LastError keeps the continuable report even though the open succeeded.
  EXPECT_EQ(z.LastError(), "Invalid archive. Entry 3 has no filename");

  // Cancelled from the handler: the open fails and the old table stays.
  r.cancelOnError = true;
  b.Entries()[0].name = "changed";
  EXPECT_FALSE(z.OpenArchive(Variant(b.Build())));
  EXPECT_EQ(Name(z, 0), "one");
}

TEST(OpenArchive, FailureKeepsThePreviousArchive) {
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(TwoEntryArchive())));
  struct Bad {
    const char* what;
    Bytes archive;
    std::string message;
  };
  std::vector<Bad> bad;
  {
    ZipBuilder b;
    b.AddStored("a", "1");
    b.AddStored("b", "2").centralSignature = 0x02014B51;
    bad.push_back({"signature", b.Build(), "Invalid archive. Entry 2 has invalid signature"});
  }
  {
    ZipBuilder b;
    b.AddStored("a", "1");
    b.diskEntries = 3;  // the directory ends after two records
    bad.push_back({"short directory", b.Build(), "Invalid archive. Entry 2 is truncated"});
  }
  {
    ZipBuilder b;
    b.AddStored("a", "1");
    b.diskEntries = 0x8000;
    bad.push_back({"count", b.Build(), "Invalid archive. Entry count out of range"});
  }
  {
    ZipBuilder b;
    b.AddStored("a", "1").commentLength = 500;  // runs into the end record and past it
    bad.push_back({"comment length", b.Build(), "Invalid archive. Entry 1 is truncated"});
  }
  {
    ZipBuilder b;
    b.AddStored("a", "1");
    b.directoryOffset = 0x7FFFFF00;
    bad.push_back({"offset past end", b.Build(), "Invalid archive. Entry 1 is truncated"});
  }
  EventRecorder r;
  z.SetEvents(&r);
  for (const Bad& c : bad) {
    r.Clear();
    EXPECT_FALSE(z.OpenArchive(Variant(c.archive))) << c.what;
    EXPECT_EQ(z.LastError(), c.message) << c.what;
    ASSERT_EQ(r.errors.size(), 1u) << c.what;
    EXPECT_TRUE(r.errors[0].cancelIn) << c.what;
    EXPECT_EQ(z.FileCount(), 2) << c.what;
    EXPECT_EQ(Name(z, 1), "dir\\b.bin") << c.what;
    EXPECT_EQ(z.Comment(), "the comment") << c.what;
  }
  // The wrong signature is reported directly, the others are raised.
  EXPECT_EQ(r.errors.size(), 1u);
}

TEST(OpenArchive, ClaimedCountDoesNotSizeTheTable) {
  // 32767 entries claimed (below the counts checked against the directory's size), one there.
  ZipBuilder b;
  b.AddStored("a", "1");
  b.diskEntries = 0x7FFF;
  const Bytes archive = b.Build();
  cZipEngine z;
  g_largestAllocation = 0;
  g_trackLargest = true;
  const bool opened = z.OpenArchive(Variant(archive));
  g_trackLargest = false;
  EXPECT_FALSE(opened);
  EXPECT_EQ(z.LastError(), "Invalid archive. Entry 2 is truncated");
  // A table made for the claimed count takes 32767 entries of far more than 8 bytes each.
  EXPECT_LT(g_largestAllocation, std::size_t{0x7FFF} * 8);
  EXPECT_GE(g_largestAllocation, archive.size());  // the end-record search reads it whole

  // A real directory still fills the table past its first reservation.
  ZipBuilder many;
  for (int i = 0; i < 1500; ++i) many.AddStored("f" + std::to_string(i), "x");
  ASSERT_TRUE(z.OpenArchive(Variant(many.Build())));
  EXPECT_EQ(z.FileCount(), 1500);
  EXPECT_EQ(Name(z, 1499), "f1499");
}

TEST(OpenArchive, ArchiveCommentIsOem) {
  ZipBuilder b;
  b.comment = "caf\x82";  // é in code page 437
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build())));
  EXPECT_EQ(z.Comment(), "caf\xC3\xA9");
}

// Sizes never show negative: a Zip64 marker without its field shows saturated, like every
// value past 2 GiB. The method stays a signed 16-bit field.
TEST(OpenArchive, Zip64MarkersAreListedSaturated) {
  ZipBuilder b;
  auto& e = b.AddStored("big", "data");
  e.size = 0xFFFFFFFF;
  e.compressedSize = 0xFFFFFFFF;
  e.method = 0xFFFF;
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build())));
  EXPECT_EQ(Field(z, 0, 3), 0x7FFFFFFF);
  EXPECT_EQ(Field(z, 0, 4), 0x7FFFFFFF);
  EXPECT_EQ(Field(z, 0, 7), -1);
}

TEST(OpenArchive, FileStreamAndMissingSources) {
  ScratchDir dir;
  const Bytes archive = TwoEntryArchive();
  ASSERT_TRUE(WriteWholeFile(dir / "t.zip", archive));
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(dir / "t.zip"))) << z.LastError();
  EXPECT_EQ(z.FileCount(), 2);

  auto stream = std::make_shared<MemoryStream>();
  stream->data = archive;
  ASSERT_TRUE(z.OpenArchive(Variant(zip::StreamRef(stream))));
  EXPECT_EQ(Name(z, 1), "dir\\b.bin");
  // The size is asked twice, then the search seeks before reading: no rewind.
  ASSERT_GE(stream->calls.size(), 4u);
  EXPECT_EQ(stream->calls[0], "seek 0 2");
  EXPECT_EQ(stream->calls[1], "seek 0 2");
  EXPECT_EQ(stream->calls[2], "seek " + std::to_string(archive.size() - 22) + " 0");
  EXPECT_EQ(stream->calls[3], "read 22");

  EventRecorder r;
  z.SetEvents(&r);
  EXPECT_FALSE(z.OpenArchive(Variant(dir / "missing.zip")));
  ASSERT_EQ(r.errors.size(), 1u);
  EXPECT_EQ(r.errors[0].source, "cZipEngine.OpenArchive\r\npvVfsOpen");
  EXPECT_EQ(z.LastError().rfind("[2] ", 0), 0u) << z.LastError();
  EXPECT_NE(z.LastError().find("(" + (dir / "missing.zip") + ")"), std::string::npos);
  EXPECT_EQ(z.FileCount(), 2);
}

TEST(OpenArchive, EveryTruncationFailsCleanly) {
  const Bytes archive = TwoEntryArchive();
  for (std::size_t n = 0; n < archive.size(); ++n) {
    cZipEngine z;
    const Bytes cut(archive.begin(), archive.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(z.OpenArchive(Variant(cut))) << n;
    EXPECT_FALSE(z.LastError().empty()) << n;
    EXPECT_EQ(z.FileCount(), 0) << n;
  }
}

}  // namespace
}  // namespace lum::test
