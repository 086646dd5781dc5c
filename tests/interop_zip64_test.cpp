// Zip64 archives read by the engine: made on the spot by Python's zipfile (Zip64 fields in
// every central and local header), by 7-Zip and by the engine's own writer (a 5 GiB entry),
// and an archive past 4 GiB of several entries built around a sparse hole. Every entry must
// list with its full sizes and come out with its bytes; zipengine lists and tests them.
//
// The multi-GiB cases read gigabytes and take seconds each, so they run only with
// LUM_LARGE_TESTS=1 set, natively (see docs/benchmarks.md, "Zip64").
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/fs.h"
#include "tests/support/cli_run.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using zip::cZipEngine;
using zip::Variant;

bool Native() {
  return !platform::kWindowsPaths;
}

bool LargeTests() {
  return std::getenv("LUM_LARGE_TESTS") != nullptr;
}

// A stream target that checks every byte is zero and counts them per entry.
class ZeroCountStream : public zip::IVfsStream {
 public:
  std::int32_t VfsSetFilePointer(std::int32_t&, std::int32_t&) override { return 0; }
  std::int32_t VfsReadFile(std::uint8_t*, std::int32_t&) override { return 0; }
  std::int32_t VfsWriteFile(const std::uint8_t* source, std::int32_t& size) override {
    for (std::int32_t i = 0; i < size; ++i) nonZero += source[i] != 0;
    current += size;
    return size;
  }
  void VfsSetEndOfFile(std::string& name) override {
    counts.emplace_back(name, current);
    current = 0;
  }
  std::int64_t current = 0;
  std::int64_t nonZero = 0;
  std::vector<std::pair<std::string, std::int64_t>> counts;
};

// A sparse file of `size` zero bytes; false where the file system cannot make one.
bool SparseZeros(const std::string& path, std::uint64_t size) {
  { std::ofstream f(path, std::ios::binary); }
  std::error_code ec;
  fs::resize_file(path, size, ec);
  return !ec;
}

// Runs zipengine with `args` in `dir`, its output captured there.
CliResult RunZipEngine(const ScratchDir& dir, const std::string& args) {
  return RunProgramIn(dir.Str(), ProgramBesideTest("zipengine"), args);
}

// Python's zipfile writes Zip64 only past 2 GiB; with its limits set to 0 it writes the Zip64
// field into every local and central header of a non-empty entry (both sizes, and the offset
// of every entry but the first) and a Zip64 end record.
TEST(InteropZip64, PythonZip64FieldsInEveryHeader) {
  if (!Native() || !HaveTool("python3")) GTEST_SKIP() << "python3 is needed";
  ScratchDir dir;
  const Bytes text = MakeData(DataKind::kText, 150000, 1);
  const Bytes random = MakeData(DataKind::kRandom, 70000, 2);
  ASSERT_TRUE(WriteWholeFile(dir / "text.txt", text));
  ASSERT_TRUE(WriteWholeFile(dir / "random.bin", random));
  const std::string writer =
      "import sys, zipfile\n"
      "zipfile.ZIP64_LIMIT = 0\n"
      "zipfile.ZIP_FILECOUNT_LIMIT = 0\n"
      "with zipfile.ZipFile('py.zip', 'w') as z:\n"
      "    for name, method in (('text.txt', zipfile.ZIP_DEFLATED),\n"
      "                         ('random.bin', zipfile.ZIP_STORED), ('empty', "
      "zipfile.ZIP_DEFLATED)):\n"
      "        info = zipfile.ZipInfo(name, (2021, 6, 1, 12, 0, 0))\n"
      "        info.compress_type = method\n"
      "        with z.open(info, 'w', force_zip64=True) as f:\n"
      "            if name != 'empty':\n"
      "                f.write(open(name, 'rb').read())\n"
      "    z.mkdir('folder')\n";
  ASSERT_EQ(std::system(("cd " + Quote(dir.Str()) + " && python3 -c " + Quote(writer)).c_str()), 0);
  const Bytes archive = ReadWholeFile(dir / "py.zip").value_or(Bytes());
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(dir / "py.zip"))) << z.LastError();
  ASSERT_EQ(z.FileCount(), 4);
  // The central headers really carry the markers.
  const Bytes field = {1, 0, 24, 0};  // id 1 with both sizes and the offset
  EXPECT_NE(std::search(archive.begin(), archive.end(), field.begin(), field.end()), archive.end());
  EXPECT_EQ(z.FileSizes(0).Size, 150000);
  EXPECT_EQ(z.FileSizes(1).Size, 70000);
  EXPECT_EQ(z.FileSizes(1).CompressedSize, 70000);
  EXPECT_GT(z.FileSizes(1).Offset, 0);
  EXPECT_EQ(z.FileInfo(1).Array()[8].Number(), static_cast<double>(z.FileSizes(1).Offset));
  ScratchDir out;
  ASSERT_TRUE(z.Extract(Variant(out.Str()))) << z.LastError();
  EXPECT_EQ(z.LastError(), "");
  EXPECT_EQ(ReadWholeFile(out / "text.txt"), text);
  EXPECT_EQ(ReadWholeFile(out / "random.bin"), random);
  EXPECT_EQ(ReadWholeFile(out / "empty"), Bytes());
  EXPECT_TRUE(fs::is_directory(out.Path() / "folder"));
}

TEST(InteropZip64, PythonSeventyThousandEntries) {
  if (!Native() || !HaveTool("python3")) GTEST_SKIP() << "python3 is needed";
  ScratchDir dir;
  const std::string writer =
      "import zipfile\n"
      "with zipfile.ZipFile('many.zip', 'w') as z:\n"
      "    for i in range(70000):\n"
      "        z.writestr('d%d/f%d' % (i // 1000, i), b'%d' % i)\n";
  ASSERT_EQ(std::system(("cd " + Quote(dir.Str()) + " && python3 -c " + Quote(writer)).c_str()), 0);
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(dir / "many.zip"))) << z.LastError();
  ASSERT_EQ(z.FileCount(), 70000);
  EXPECT_EQ(z.FileInfo(69999).Array()[0].Text(), "d69\\f69999");
  auto stream = std::make_shared<ZeroCountStream>();
  ASSERT_TRUE(z.Extract(Variant(zip::StreamRef(stream))));
  EXPECT_EQ(z.LastError(), "");
  ASSERT_EQ(stream->counts.size(), 70000u);
  EXPECT_EQ(stream->counts[69999].second, 5);
}

// zipengine lists the full size of an entry past 4 GiB (its directory alone: no data).
TEST(InteropZip64, ZipengineListsFullSizes) {
  if (!Native()) GTEST_SKIP() << "runs the native program";
  ZipBuilder b;
  auto& e = b.AddStored("big.bin", "data");
  Bytes extra;
  PutLe16(extra, 1);
  PutLe16(extra, 8);
  PutLe32(extra, 0x40000000);
  PutLe32(extra, 1);  // 5 GiB
  e.extra = extra;
  e.size = 0xFFFFFFFF;
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "a.zip", b.Build()));
  const CliResult r = RunZipEngine(dir, "list " + Quote(dir / "a.zip"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("5368709120  "), std::string::npos) << r.out;
}

// ---- Multi-GiB archives (LUM_LARGE_TESTS=1) ----

// Opens `archive`, expects `sizes` as the entries' full sizes (FileInfo saturated), and
// extracts every entry into a stream that finds only zeros, as many as the size says.
void ExpectZeroEntries(const std::string& archive, const std::vector<std::int64_t>& sizes) {
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(archive))) << z.LastError();
  ASSERT_EQ(z.FileCount(), static_cast<std::int32_t>(sizes.size()));
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    EXPECT_EQ(z.FileSizes(static_cast<std::int32_t>(i)).Size, sizes[i]) << i;
    EXPECT_EQ(z.FileInfo(static_cast<std::int32_t>(i)).Array()[3].Number(),
              static_cast<double>(std::min<std::int64_t>(sizes[i], 0x7FFFFFFF)));
  }
  auto stream = std::make_shared<ZeroCountStream>();
  EventRecorder r;
  z.SetEvents(&r);
  ASSERT_TRUE(z.Extract(Variant(zip::StreamRef(stream)))) << z.LastError();
  EXPECT_EQ(z.LastError(), "");
  ASSERT_EQ(stream->counts.size(), sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ(stream->counts[i].second, sizes[i]);
  EXPECT_EQ(stream->nonZero, 0);
  // Progress never wraps: saturated past 2 GiB, never negative, never above its total.
  for (const auto& p : r.progress) {
    EXPECT_GE(p.current, 0);
    EXPECT_LE(p.current, p.total);
  }
}

TEST(InteropZip64Large, OwnWriterEntryOf5GiB) {
  if (!LargeTests() || !Native()) GTEST_SKIP() << "set LUM_LARGE_TESTS (native)";
  ScratchDir dir;
  const std::uint64_t size = std::uint64_t{5} << 30;
  if (!SparseZeros(dir / "big.bin", size)) GTEST_SKIP() << "no sparse file";
  cZipEngine w;
  ASSERT_TRUE(w.AddFile(Variant(dir / "big.bin"), "big.bin"));
  ASSERT_TRUE(w.AddFile(Variant(Bytes(1000, 0)), "small.bin"));
  ASSERT_TRUE(w.CompressArchive(Variant(dir / "out.zip"), {}, 1)) << w.LastError();
  fs::remove(dir / "big.bin");
  ExpectZeroEntries(dir / "out.zip", {static_cast<std::int64_t>(size), 1000});
  const CliResult r = RunZipEngine(dir, "test -q " + Quote(dir / "out.zip"));
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(InteropZip64Large, SevenZipEntryOf5GiB) {
  if (!LargeTests() || !Native()) GTEST_SKIP() << "set LUM_LARGE_TESTS (native)";
  if (!HaveTool("7z")) GTEST_SKIP() << "7z not installed";
  ScratchDir dir;
  const std::uint64_t size = std::uint64_t{5} << 30;
  if (!SparseZeros(dir / "big.bin", size)) GTEST_SKIP() << "no sparse file";
  ASSERT_EQ(std::system(("cd " + Quote(dir.Str()) +
                         " && 7z a -tzip -mx=1 -mmt=2 7z.zip big.bin >/dev/null 2>&1")
                            .c_str()),
            0);
  fs::remove(dir / "big.bin");
  ExpectZeroEntries(dir / "7z.zip", {static_cast<std::int64_t>(size)});
}

// An archive of 4.5 GiB: a small entry, a stored entry of 4.5 GiB of zeros (a hole in a
// sparse file, so nothing is written for it), and a small entry whose local header lies
// past 4 GiB; its offset and the directory's are Zip64 values.
TEST(InteropZip64Large, ArchivePast4GiBOfSeveralEntries) {
  if (!LargeTests() || !Native()) GTEST_SKIP() << "set LUM_LARGE_TESTS (native)";
  ScratchDir dir;
  const std::uint64_t hole = (std::uint64_t{9} << 29);  // 4.5 GiB
  // CRC-32 of the hole, 1 MiB of zeros at a time.
  cZipEngine z;
  const Bytes zeros(1 << 20, 0);
  std::int32_t crc = -1;
  for (std::uint64_t done = 0; done < hole; done += zeros.size()) {
    z.CalcCrc32Ptr(zeros.data(), static_cast<std::int32_t>(zeros.size()), crc);
  }
  const std::uint32_t holeCrc = ~static_cast<std::uint32_t>(crc);

  ZipBuilder b;
  b.AddStored("first.txt", "first");
  auto& big = b.AddStored("hole.bin", Bytes());
  Bytes extra;
  PutLe16(extra, 1);
  PutLe16(extra, 16);
  PutLe32(extra, static_cast<std::uint32_t>(hole));
  PutLe32(extra, static_cast<std::uint32_t>(hole >> 32));
  PutLe32(extra, static_cast<std::uint32_t>(hole));
  PutLe32(extra, static_cast<std::uint32_t>(hole >> 32));
  big.extra = extra;
  big.size = big.compressedSize = 0xFFFFFFFF;
  big.crc32 = holeCrc;
  b.AddStored("last.txt", "after 4 GiB");
  // Built without the hole's data, then the hole is opened up in the file: everything
  // after the hole entry's local header moves by `hole` bytes.
  const Bytes small = b.Build();
  // Where the records are: the n-th signature `sig` at or after `from`.
  const auto find = [&](std::uint32_t sig, int n, std::size_t from = 0) {
    Bytes pattern;
    PutLe32(pattern, sig);
    auto at = small.begin() + static_cast<std::ptrdiff_t>(from);
    for (int k = 0; k <= n; ++k) {
      if (k > 0) ++at;
      at = std::search(at, small.end(), pattern.begin(), pattern.end());
    }
    return static_cast<std::size_t>(at - small.begin());
  };
  const std::size_t lastAt = find(0x04034B50, 2);  // last.txt's header, before the move
  const std::size_t holeAt = lastAt;               // the hole goes right before it
  const std::size_t directoryAt = find(0x02014B50, 0);
  ASSERT_LT(directoryAt, small.size());
  // Central directory with the moved offset of last.txt as a Zip64 value.
  Bytes directory(small.begin() + static_cast<std::ptrdiff_t>(directoryAt), small.end() - 22);
  const std::size_t lastCentral = find(0x02014B50, 2) - directoryAt;
  PatchLe32(directory, lastCentral + 42, 0xFFFFFFFF);
  PatchLe16(directory, lastCentral + 30, 12);
  Bytes lastExtra;
  PutLe16(lastExtra, 1);
  PutLe16(lastExtra, 8);
  const std::uint64_t lastOffset = lastAt + hole;
  PutLe32(lastExtra, static_cast<std::uint32_t>(lastOffset));
  PutLe32(lastExtra, static_cast<std::uint32_t>(lastOffset >> 32));
  directory.insert(directory.begin() + static_cast<std::ptrdiff_t>(lastCentral + 46 + 8),
                   lastExtra.begin(), lastExtra.end());
  const std::uint64_t directoryOffset = directoryAt + hole;
  Bytes tail = directory;
  const std::uint64_t recordAt = directoryOffset + directory.size();
  PutLe32(tail, 0x06064B50);
  PutLe32(tail, 44);
  PutLe32(tail, 0);
  PutLe32(tail, 45 | 45 << 16);
  PutLe32(tail, 0);
  PutLe32(tail, 0);
  for (std::uint64_t v : {std::uint64_t{3}, std::uint64_t{3},
                          static_cast<std::uint64_t>(directory.size()), directoryOffset}) {
    PutLe32(tail, static_cast<std::uint32_t>(v));
    PutLe32(tail, static_cast<std::uint32_t>(v >> 32));
  }
  PutLe32(tail, 0x07064B50);
  PutLe32(tail, 0);
  PutLe32(tail, static_cast<std::uint32_t>(recordAt));
  PutLe32(tail, static_cast<std::uint32_t>(recordAt >> 32));
  PutLe32(tail, 1);
  PutLe32(tail, 0x06054B50);
  PutLe32(tail, 0);
  PutLe16(tail, 3);
  PutLe16(tail, 3);
  PutLe32(tail, static_cast<std::uint32_t>(directory.size()));
  PutLe32(tail, 0xFFFFFFFF);
  PutLe16(tail, 0);
  {
    std::ofstream f(dir / "big.zip", std::ios::binary);
    f.write(reinterpret_cast<const char*>(small.data()), static_cast<std::streamsize>(holeAt));
    f.seekp(static_cast<std::streamoff>(holeAt + hole));
    f.write(reinterpret_cast<const char*>(small.data() + lastAt),
            static_cast<std::streamsize>(directoryAt - lastAt));
    f.write(reinterpret_cast<const char*>(tail.data()), static_cast<std::streamsize>(tail.size()));
    ASSERT_TRUE(f.good());
  }
  cZipEngine r;
  ASSERT_TRUE(r.OpenArchive(Variant(dir / "big.zip"))) << r.LastError();
  ASSERT_EQ(r.FileCount(), 3);
  EXPECT_EQ(r.FileSizes(2).Offset, static_cast<std::int64_t>(lastOffset));
  EXPECT_EQ(r.FileInfo(2).Array()[8].Number(), 0x7FFFFFFF);
  ScratchDir out;
  ASSERT_TRUE(r.Extract(Variant(out.Str()), Variant("*.txt"))) << r.LastError();
  EXPECT_EQ(r.LastError(), "");
  EXPECT_EQ(ReadWholeFile(out / "first.txt"), ToBytes("first"));
  EXPECT_EQ(ReadWholeFile(out / "last.txt"), ToBytes("after 4 GiB"));
  auto stream = std::make_shared<ZeroCountStream>();
  ASSERT_TRUE(r.Extract(Variant(zip::StreamRef(stream)), Variant(1))) << r.LastError();
  EXPECT_EQ(r.LastError(), "");
  ASSERT_EQ(stream->counts.size(), 1u);
  EXPECT_EQ(stream->counts[0].second, static_cast<std::int64_t>(hole));
  EXPECT_EQ(stream->nonZero, 0);
  // Python's zipfile reads the same directory.
  if (HaveTool("python3")) {
    const CliResult p =
        RunProgramIn(dir.Str(), "python3",
                     "-c \"import sys, zipfile; print([(i.filename, i.file_size, i.header_offset) "
                     "for i in zipfile.ZipFile(sys.argv[1]).infolist()])\" " +
                         Quote(dir / "big.zip"));
    EXPECT_EQ(p.out, "[('first.txt', 5, 0), ('hole.bin', " + std::to_string(hole) + ", 44), " +
                         "('last.txt', 11, " + std::to_string(lastOffset) + ")]\n");
  }
  const CliResult t = RunZipEngine(dir, "test -q " + Quote(dir / "big.zip"));
  EXPECT_EQ(t.status, 0) << t.err;
}

}  // namespace
}  // namespace lum::test
