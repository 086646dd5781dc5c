// Archives written by the engine at every level, from files, folders, byte arrays and
// streams, with OEM and UTF-8 names, comments, empty files and empty folders, checked by the
// other ZIP tools: Info-ZIP unzip, 7-Zip, Python's zipfile and bsdtar test them and extract
// them byte-identical, Python's view of every record field matches what was laid down, and
// the engine's own OpenArchive / Extract read back the same names, sizes, CRCs, times and
// attributes. Native build only; a missing tool skips its cases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/fs.h"
#include "platform/time.h"
#include "tests/support/cli_run.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "tests/support/zip_layout.h"
#include "zip/zip_engine.h"
#include "zip/zip_records.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using zip::cZipEngine;
using zip::Variant;

const std::string kOemName = "k\xC3\xA4se.txt";                // käse: in code page 437
const std::string kUtf8Name = "\xE6\x97\xA5\xE6\x9C\xAC.txt";  // 日本: not in it

// The source tree, and what each entry of the archive must hold (name with "/" → content;
// folders end in "/").
struct Fixture {
  ScratchDir dir;
  std::map<std::string, Bytes> expected;

  Fixture() {
    const fs::path root = dir.Path() / "src";
    auto file = [&](const std::string& rel, Bytes data) {
      fs::create_directories((root / rel).parent_path());
      WriteWholeFile((root / rel).string(), data);
      expected[rel] = std::move(data);
    };
    file("text.txt", MakeData(DataKind::kText, 150000, 1));
    file("random.bin", MakeData(DataKind::kRandom, 70000, 2));
    file("runs.bin", MakeData(DataKind::kRuns, 200000, 3));
    file("docs/readme with spaces.md", ToBytes("# readme\n"));
    file("docs/deep/deeper/tiny", ToBytes("x"));
    file("docs/empty", Bytes());
    file(kOemName, ToBytes("cheese"));
    file(kUtf8Name, ToBytes("nihon"));
    fs::create_directories(root / "empty_dir");
    expected["empty_dir/"] = {};
    expected["docs/deep/"] = {};  // holds only a folder: it counts as empty
    expected["mem/bytes.bin"] = MakeData(DataKind::kBinary, 90000, 4);
    expected["mem/stream.txt"] = MakeData(DataKind::kText, 1000, 5);
  }
  std::string Root() const { return dir / "src"; }

  // Queues everything: the folder walk, a byte array and a stream.
  void Queue(cZipEngine& z) const {
    ASSERT_TRUE(z.AddFromFolder(Root() + "/*.*", true, {}, true));
    ASSERT_TRUE(z.AddFile(Variant(expected.at("mem/bytes.bin")), "mem\\bytes.bin",
                          "entry comment \xC3\xA4"));
    auto stream = std::make_shared<MemoryStream>();
    stream->data = expected.at("mem/stream.txt");
    ASSERT_TRUE(z.AddFile(Variant(zip::StreamRef(stream)), "mem\\stream.txt"));
  }
};

// Every file below `folder` as name → content, folders as "name/".
std::map<std::string, Bytes> Tree(const fs::path& folder) {
  std::map<std::string, Bytes> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::u8string rel = fs::relative(e.path(), folder).generic_u8string();
    std::string name(rel.begin(), rel.end());
    if (e.is_directory()) {
      out[name + "/"] = {};
    } else {
      out[name] = ReadWholeFile(e.path().string()).value_or(Bytes{0xFF});
    }
  }
  return out;
}

// The parameter is the level, plus 10 for the dynamic-Huffman encoder.
class WriteInterop : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    fixture.Queue(engine);
    archive = fixture.dir / "out.zip";
    engine.SetDynamicHuffman(GetParam() >= 10);
    ASSERT_TRUE(
        engine.CompressArchive(Variant(archive), "archive comment \xC3\xBC", GetParam() % 10))
        << engine.LastError();
  }
  Fixture fixture;
  cZipEngine engine;
  std::string archive;
};

TEST_P(WriteInterop, OtherToolsTestAndExtractIt) {
  struct Tool {
    const char* program;
    std::string test;
    std::string extract;  // %A archive, %D folder
  };
  const std::string py = "python3 -c " + Quote(
                                             "import sys, zipfile\n"
                                             "z = zipfile.ZipFile(sys.argv[1])\n"
                                             "sys.exit(1 if z.testzip() else 0)\n");
  const std::vector<Tool> tools = {
      {"unzip", "unzip -tq %A", "unzip -q %A -d %D"},
      {"7z", "7z t %A", "7z x -y -o%D %A"},
      {"python3", py + " %A", "python3 -m zipfile -e %A %D"},
      {"bsdtar", "bsdtar -tf %A", "bsdtar -xf %A -C %D"},
  };
  auto fill = [&](std::string c, const std::string& folder) {
    for (std::size_t at; (at = c.find("%A")) != std::string::npos;)
      c.replace(at, 2, Quote(archive));
    for (std::size_t at; (at = c.find("%D")) != std::string::npos;) c.replace(at, 2, Quote(folder));
    return c;
  };
  int ran = 0;
  for (const Tool& t : tools) {
    if (!HaveTool(t.program)) continue;
    ++ran;
    SCOPED_TRACE(t.program);
    EXPECT_EQ(Shell(fill(t.test, "")), 0);
    const std::string out = fixture.dir / (std::string("x_") + t.program);
    fs::create_directories(out);
    EXPECT_EQ(Shell(fill(t.extract, out)), 0);
    const auto got = Tree(out);
    for (const auto& [name, data] : fixture.expected) {
      // Info-ZIP unzip 6.0 turns every name of an archive made on a FAT or NTFS host
      // (version made by, upper byte 0) from code page 437 into its own character set, even
      // names flagged as UTF-8; what it makes of non-ASCII names is checked by the others.
      if (std::string(t.program) == "unzip" && (name == kOemName || name == kUtf8Name)) continue;
      // 7-Zip and bsdtar take names without the UTF-8 flag in the locale's character set.
      if (name == kOemName && std::string(t.program) != "python3") continue;
      const auto found = got.find(name);
      ASSERT_NE(found, got.end()) << name;
      EXPECT_TRUE(found->second == data) << name;
    }
  }
  if (ran == 0) GTEST_SKIP() << "no ZIP tool installed";
}

TEST_P(WriteInterop, EngineReadsBackNamesSizesCrcsTimesAndAttributes) {
  cZipEngine r;
  ASSERT_TRUE(r.OpenArchive(Variant(archive)));
  EXPECT_EQ(r.Comment(), "archive comment \xC3\xBC");
  ASSERT_EQ(r.FileCount(), static_cast<std::int32_t>(fixture.expected.size()));
  for (std::int32_t i = 0; i < r.FileCount(); ++i) {
    const auto w = engine.FileInfo(i).Array();
    const auto f = r.FileInfo(i).Array();
    SCOPED_TRACE(w[0].Text());
    EXPECT_EQ(f[0].Text(), w[0].Text());
    std::string name = f[0].Text();
    for (char& c : name) c = c == '\\' ? '/' : c;
    const Bytes& data = fixture.expected.at(name);
    const bool folder = !name.empty() && name.back() == '/';
    EXPECT_EQ(f[1].Number(), folder ? 0x10 : 0x20);
    EXPECT_EQ(f[2].Number(), ReferenceCrc32(data.data(), data.size()));
    EXPECT_EQ(f[3].Number(), static_cast<double>(data.size()));
    EXPECT_EQ(f[4].Number(), w[4].Number());
    EXPECT_EQ(f[5].Text(), w[5].Text());
    // The time written is the source's, to even seconds.
    std::uint16_t date = 0, time = 0;
    zip::records::pvToDosDateTime(w[6].Number(), date, time);
    EXPECT_EQ(f[6].Number(), zip::records::pvFromDosDateTime(date, time));
    EXPECT_NEAR(f[6].Number(), w[6].Number(), 2.0 / 86400);
  }
  ScratchDir out;
  ASSERT_TRUE(r.Extract(Variant(out.Str()))) << r.LastError();
  const auto got = Tree(out.Path());
  for (const auto& [name, data] : fixture.expected) {
    ASSERT_TRUE(got.count(name)) << name;
    EXPECT_TRUE(got.at(name) == data) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, WriteInterop, ::testing::Range(0, 10),
                         [](const auto& info) { return "Level" + std::to_string(info.param); });
INSTANTIATE_TEST_SUITE_P(DynamicHuffmanLevels, WriteInterop, ::testing::Range(11, 20),
                         [](const auto& info) {
                           return "Level" + std::to_string(info.param - 10);
                         });

// Python's zipfile reads every field of every record as the writer laid it down.
TEST(WriteInteropRecords, PythonSeesTheFieldsThatWereWritten) {
  if (!HaveTool("python3")) GTEST_SKIP() << "no python3";
  Fixture fixture;
  cZipEngine z;
  fixture.Queue(z);
  const std::string archive = fixture.dir / "fields.zip";
  ASSERT_TRUE(z.CompressArchive(Variant(archive), "c", 6, -2));
  const std::string script =
      "import sys, struct, zipfile\n"
      "data = open(sys.argv[1], 'rb').read()\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in z.infolist():\n"
      "    h = struct.unpack('<IHHHHHIIIHH', data[i.header_offset:i.header_offset + 30])\n"
      "    d = i.date_time\n"
      "    dos = ((d[0] - 1980) << 25) | (d[1] << 21) | (d[2] << 16) | (d[3] << 11) |"
      " (d[4] << 5) | (d[5] // 2)\n"
      "    print(i.create_version, i.create_system, i.extract_version, i.flag_bits,"
      " i.compress_type, dos, i.CRC, i.compress_size, i.file_size, len(i.extra),"
      " i.internal_attr, i.external_attr, i.header_offset, *h[1:])\n";
  std::istringstream lines(Capture("python3 -c " + Quote(script) + " " + Quote(archive)));
  const auto layout = ReadZipLayout(ReadWholeFile(archive).value());
  ASSERT_TRUE(layout);
  std::size_t n = 0;
  for (std::string line; std::getline(lines, line); ++n) {
    ASSERT_LT(n, layout->entries.size());
    const CentralHeaderFields& c = layout->entries[n].central;
    const LocalHeaderFields& l = layout->entries[n].local;
    std::ostringstream want;
    want << 45 << ' ' << 0 << ' ' << c.versionNeeded << ' ' << c.flags << ' ' << c.method << ' '
         << ((std::uint32_t{c.date} << 16) | c.time) << ' ' << c.crc32 << ' ' << c.compressedSize
         << ' ' << c.size << ' ' << 0 << ' ' << 0 << ' ' << c.externalAttributes << ' '
         << c.localOffset << ' ' << l.versionNeeded << ' ' << l.flags << ' ' << l.method << ' '
         << l.time << ' ' << l.date << ' ' << l.crc32 << ' ' << l.compressedSize << ' ' << l.size
         << ' ' << l.nameLength << ' ' << 0;
    EXPECT_EQ(line, want.str()) << ToString(c.name);
    // The local header agrees with the central one, and the name flag is the UTF-8 rule's.
    EXPECT_EQ(l.crc32, c.crc32);
    EXPECT_EQ(l.method, c.method);
    EXPECT_EQ(c.flags, ToString(c.name) == kUtf8Name ? 0x800 : 0);
  }
  EXPECT_EQ(n, layout->entries.size());
}

}  // namespace
}  // namespace lum::test
