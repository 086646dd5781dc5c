// Archives made on the spot by other ZIP tools (Info-ZIP zip, Python's zipfile, 7-Zip,
// bsdtar), listed and extracted by the engine: every entry must have the name, sizes, CRC
// and time that Python's zipfile reads from the same archive, and every file must come out
// byte-identical to its source. Native build only; a missing tool skips its cases.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/fs.h"
#include "tests/support/cli_run.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "zip/names.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using zip::cZipEngine;
using zip::Variant;

// A source tree with the usual kinds of content.
void MakeTree(const fs::path& root) {
  fs::create_directories(root / "docs" / "deep" / "deeper");
  fs::create_directories(root / "empty_dir");
  WriteWholeFile((root / "text.txt").string(), MakeData(DataKind::kText, 150000, 1));
  WriteWholeFile((root / "random.bin").string(), MakeData(DataKind::kRandom, 200000, 2));
  WriteWholeFile((root / "runs.bin").string(), MakeData(DataKind::kRuns, 300000, 3));
  WriteWholeFile((root / "docs" / "readme with spaces.md").string(), ToBytes("# readme\n"));
  WriteWholeFile((root / "docs" / "deep" / "deeper" / "tiny").string(), ToBytes("x"));
  WriteWholeFile((root / "docs" / "empty").string(), Bytes());
}

// What Python's zipfile reads from an archive, one line per entry:
// name, size, compressed size, CRC, date and time, comment.
std::vector<std::string> PythonListing(const std::string& archive) {
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in z.infolist():\n"
      "    d = i.date_time\n"
      "    print('%s|%d|%d|%08x|%04d-%02d-%02d %02d:%02d:%02d|%s' % (i.filename, i.file_size,\n"
      "          i.compress_size, i.CRC, d[0], d[1], d[2], d[3], d[4], d[5],\n"
      "          i.comment.decode('utf-8' if i.flag_bits & 0x800 else 'cp437')))\n";
  std::istringstream lines(Capture("python3 -c " + Quote(script) + " " + Quote(archive)));
  std::vector<std::string> out;
  for (std::string line; std::getline(lines, line);) out.push_back(line);
  return out;
}

std::vector<std::string> EngineListing(const cZipEngine& z) {
  std::vector<std::string> out;
  for (std::int32_t i = 0; i < z.FileCount(); ++i) {
    const auto f = z.FileInfo(i).Array();
    std::string name = f[0].Text();
    for (char& c : name) c = c == '\\' ? '/' : c;
    platform::SystemTime t;
    char date[32] = "invalid";
    if (platform::OleDateToSystemTime(f[6].Number(), t)) {
      std::snprintf(date, sizeof date, "%04u-%02u-%02u %02u:%02u:%02u", t.Year % 10000u,
                    t.Month % 100u, t.Day % 100u, t.Hour % 100u, t.Minute % 100u, t.Second % 100u);
    }
    char line[64];
    std::snprintf(line, sizeof line, "|%.0f|%.0f|%08x|%s|", f[3].Number(), f[4].Number(),
                  static_cast<unsigned>(f[2].Number()), date);
    out.push_back(name + line + f[5].Text());
  }
  return out;
}

// Opens `archive`, checks the listing against Python's, extracts it and compares every file
// found under `expectRoot` in the source tree with the extracted one.
void CheckArchive(const std::string& label, const std::string& archive, const fs::path& source,
                  const std::string& expectComment = {}) {
  SCOPED_TRACE(label);
  cZipEngine z;
  EventRecorder r;
  z.SetEvents(&r);
  ASSERT_TRUE(z.OpenArchive(Variant(archive))) << z.LastError();
  EXPECT_EQ(EngineListing(z), PythonListing(archive));
  if (!expectComment.empty()) {
    EXPECT_EQ(z.Comment(), expectComment);
  }
  ScratchDir out;
  EXPECT_TRUE(z.Extract(Variant(out.Str())));
  EXPECT_EQ(z.LastError(), "");
  EXPECT_TRUE(r.errors.empty());
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(source)) {
    if (!e.is_regular_file()) continue;
    const fs::path rel = fs::relative(e.path(), source.parent_path());
    EXPECT_EQ(ReadWholeFile((out.Path() / rel).string()), ReadWholeFile(e.path().string())) << rel;
    ++files;
  }
  EXPECT_GT(files, 0u);
}

class Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 is needed to read the reference listing";
    MakeTree(m_dir.Path() / "tree");
  }
  std::string In(const std::string& command) {
    return "cd " + Quote(m_dir.Str()) + " && " + command + " >/dev/null 2>&1";
  }
  ScratchDir m_dir;
};

TEST_F(Interop, InfoZipEveryLevelFoldersCommentAndNoFolderEntries) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip not installed";
  for (int level = 0; level <= 9; ++level) {
    const std::string name = "l" + std::to_string(level) + ".zip";
    ASSERT_EQ(std::system(In("echo 'level comment' | zip -q -r -z -" + std::to_string(level) + " " +
                             name + " tree")
                              .c_str()),
              0);
    CheckArchive("zip -" + std::to_string(level), m_dir / name, m_dir.Path() / "tree",
                 "level comment");
  }
  ASSERT_EQ(std::system(In("zip -q -r -D nodirs.zip tree").c_str()), 0);
  CheckArchive("zip -D", m_dir / "nodirs.zip", m_dir.Path() / "tree");
  // With folder entries the empty folder comes out too.
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(m_dir / "l6.zip")));
  ScratchDir out;
  ASSERT_TRUE(z.Extract(Variant(out.Str())));
  EXPECT_TRUE(fs::is_directory(out.Path() / "tree" / "empty_dir"));
}

TEST_F(Interop, PythonZipfileNamesAndComments) {
  const std::string script =
      "import sys, zipfile\n"
      "src = sys.argv[1]\n"
      "for method, name in ((zipfile.ZIP_STORED, 'stored.zip'), "
      "(zipfile.ZIP_DEFLATED, 'deflated.zip')):\n"
      "    with zipfile.ZipFile(name, 'w', method) as z:\n"
      "        z.comment = b'archive note'\n"
      "        for path, arc in ((src + '/text.txt', 'tree/text.txt'),\n"
      "                          (src + '/random.bin', 'tree/random.bin'),\n"
      "                          (src + '/runs.bin', 'tree/runs.bin')):\n"
      "            z.write(path, arc)\n"
      "        i = zipfile.ZipInfo('tree/gr\\u00fc\\u00dfe \\u65e5\\u672c.txt', (2020, 2, 29, 23, "
      "59, 58))\n"
      "        i.comment = 'entry \\u00e9t\\u00e9'.encode('utf-8')\n"
      "        i.flag_bits |= 0x800\n"
      "        z.writestr(i, b'utf-8 name', method)\n"
      "        i = zipfile.ZipInfo('tree/caf# #.txt', (1980, 1, 1, 0, 0, 0))\n"
      "        i.comment = b'oem \\x82'\n"
      "        z.writestr(i, b'oem name', method)\n"
      "    # zipfile writes non-ASCII names as UTF-8 only; put code page 437 bytes in place\n"
      "    # of the ASCII stand-ins, with flag bit 11 left clear.\n"
      "    data = open(name, 'rb').read().replace(b'caf# #', b'caf\\x82 \\x8e')\n"
      "    open(name, 'wb').write(data)\n";
  ASSERT_EQ(std::system(In("python3 -c " + Quote(script) + " tree").c_str()), 0);
  for (const char* name : {"stored.zip", "deflated.zip"}) {
    SCOPED_TRACE(name);
    cZipEngine z;
    ASSERT_TRUE(z.OpenArchive(Variant(m_dir / name))) << z.LastError();
    EXPECT_EQ(EngineListing(z), PythonListing(m_dir / name));
    EXPECT_EQ(z.Comment(), "archive note");
    ASSERT_EQ(z.FileCount(), 5);
    EXPECT_EQ(z.FileInfo(3).Array()[0].Text(),
              "tree\\gr\xC3\xBC\xC3\x9F"
              "e \xE6\x97\xA5\xE6\x9C\xAC.txt");
    EXPECT_EQ(static_cast<int>(z.FileInfo(4).Array()[9].Number()) & 0x800, 0);
    EXPECT_EQ(z.FileInfo(4).Array()[0].Text(), "tree\\caf\xC3\xA9 \xC3\x84.txt");
    EXPECT_EQ(z.FileInfo(4).Array()[5].Text(), "oem \xC3\xA9");
    ScratchDir out;
    ASSERT_TRUE(z.Extract(Variant(out.Str())));
    EXPECT_EQ(z.LastError(), "");
    for (const char* f : {"text.txt", "random.bin", "runs.bin"}) {
      EXPECT_EQ(ReadWholeFile(out / (std::string("tree/") + f)),
                ReadWholeFile(m_dir / (std::string("tree/") + f)));
    }
    EXPECT_EQ(ReadWholeFile(out / "tree/caf\xC3\xA9 \xC3\x84.txt"), ToBytes("oem name"));
  }
}

TEST_F(Interop, SevenZipEveryLevel) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z not installed";
  for (int level : {1, 3, 5, 7, 9}) {
    const std::string name = "7z" + std::to_string(level) + ".zip";
    ASSERT_EQ(
        std::system(In("7z a -tzip -mx" + std::to_string(level) + " " + name + " tree").c_str()),
        0);
    CheckArchive("7z -mx" + std::to_string(level), m_dir / name, m_dir.Path() / "tree");
  }
}

TEST_F(Interop, Bsdtar) {
  if (!HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar not installed";
  ASSERT_EQ(std::system(In("bsdtar --format zip -cf bsd.zip tree").c_str()), 0);
  CheckArchive("bsdtar deflate", m_dir / "bsd.zip", m_dir.Path() / "tree");
  ASSERT_EQ(
      std::system(
          In("bsdtar --format zip --options zip:compression=store -cf bsd0.zip tree").c_str()),
      0);
  CheckArchive("bsdtar store", m_dir / "bsd0.zip", m_dir.Path() / "tree");
}

TEST_F(Interop, UnzipAgreesWithWhatTheEngineExtracts) {
  // The other direction of trust: an archive written field by field is accepted by unzip's
  // own test, so the builder used by the hostile tests writes valid records.
  if (!HaveTool("unzip")) GTEST_SKIP() << "unzip not installed";
  ZipBuilder b;
  b.AddStored("a.txt", "alpha");
  b.AddDeflated("d/b.bin", MakeData(DataKind::kBinary, 100000, 9), 30000);
  b.AddFolder("e/");
  b.comment = "built";
  ASSERT_TRUE(WriteWholeFile(m_dir / "built.zip", b.Build()));
  EXPECT_EQ(std::system(In("unzip -tq built.zip").c_str()), 0);
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(m_dir / "built.zip")));
  EXPECT_EQ(EngineListing(z), PythonListing(m_dir / "built.zip"));
}

// Extracts `archive` with the engine and with `peer` (a shell command run in the output
// folder, "ARCHIVE" standing for the archive's path) and compares the two trees file by
// file. The engine must report no error.
void ExtractLikePeer(const std::string& label, const std::string& archive,
                     const std::string& peer) {
  SCOPED_TRACE(label);
  ScratchDir mine, theirs;
  cZipEngine z;
  EventRecorder r;
  z.SetEvents(&r);
  ASSERT_TRUE(z.OpenArchive(Variant(archive))) << z.LastError();
  EXPECT_TRUE(z.Extract(Variant(mine.Str())));
  EXPECT_TRUE(r.errors.empty()) << r.errors[0].description;
  std::string command = peer;
  command.replace(command.find("ARCHIVE"), 7, Quote(archive));
  std::system(("cd " + Quote(theirs.Str()) + " && " + command + " >/dev/null 2>&1").c_str());
  ASSERT_FALSE(theirs.List().empty());
  EXPECT_EQ(mine.List(), theirs.List());
  for (const std::string& name : theirs.List()) {
    if (fs::is_regular_file(theirs.Path() / name)) {
      EXPECT_EQ(ReadWholeFile(mine / name), ReadWholeFile(theirs / name)) << name;
    }
  }
}

constexpr char kPythonExtract[] =
    "python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall()' ARCHIVE";
constexpr char kUnzipExtract[] = "unzip -qo ARCHIVE";

TEST_F(Interop, ShapesThePeersOpen) {
  const std::string script =
      "import zipfile\n"
      "def jar(name):\n"
      "    with zipfile.ZipFile(name, 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "        z.writestr(zipfile.ZipInfo('META-INF/'), b'', zipfile.ZIP_DEFLATED)\n"
      "        z.writestr('META-INF/MANIFEST.MF', b'Manifest-Version: 1.0\\r\\n')\n"
      "        z.writestr('x/./y.txt', b'dot component')\n"
      "        z.writestr('app/main.txt', b'main ' * 1000)\n"
      "jar('jar.zip')\n"
      "with zipfile.ZipFile('comment.zip', 'w', zipfile.ZIP_DEFLATED) as z:\n"
      "    z.writestr('c.txt', b'long comment')\n"
      "    z.comment = b'#' * 65535\n"
      "with zipfile.ZipFile('many.zip', 'w', zipfile.ZIP_STORED) as z:\n"
      "    for i in range(40000):\n"
      "        z.writestr('m/%05d.txt' % i, b'%d' % i)\n"
      "stub = b'MZ' + b'\\0' * 4094\n"
      "inner = open('jar.zip', 'rb').read()\n"
      "open('sfx_plain.zip', 'wb').write(stub + inner)\n"
      "open('trailing.zip', 'wb').write(inner + b'garbage after the end record')\n";
  ASSERT_EQ(std::system(In("python3 -c " + Quote(script)).c_str()), 0);
  // A stub whose offsets were adjusted, as zip -A does.
  ASSERT_EQ(
      std::system(In("cp sfx_plain.zip sfx_adjusted.zip && zip -qA sfx_adjusted.zip").c_str()), 0);
  const bool unzip = HaveTool("unzip");
  for (const char* name : {"jar.zip", "comment.zip", "many.zip", "sfx_plain.zip",
                           "sfx_adjusted.zip", "trailing.zip"}) {
    // Python does not drop "." components: unzip is the reference where it is there.
    ExtractLikePeer(name, m_dir / name, unzip ? kUnzipExtract : kPythonExtract);
  }
  cZipEngine z;
  ASSERT_TRUE(z.OpenArchive(Variant(m_dir / "many.zip")));
  EXPECT_EQ(z.FileCount(), 40000);
  ASSERT_TRUE(z.OpenArchive(Variant(m_dir / "sfx_plain.zip")));
  EXPECT_EQ(EngineListing(z), PythonListing(m_dir / "sfx_adjusted.zip"));
}

TEST_F(Interop, OverlappingAndForgedEntriesAreRefusedAsPeersRefuseThem) {
  // Two records sharing one entry's data, and an empty entry whose CRC is not 0.
  ZipBuilder bomb;
  bomb.AddStored("a.txt", MakeData(DataKind::kText, 4000, 1));
  bomb.AddStored("b.txt", MakeData(DataKind::kText, 4000, 1)).offset = 0;
  ASSERT_TRUE(WriteWholeFile(m_dir / "bomb.zip", bomb.Build()));
  ZipBuilder forged;
  forged.AddStored("empty.txt", Bytes()).crc32 = 0xDEADBEEF;
  ASSERT_TRUE(WriteWholeFile(m_dir / "forged.zip", forged.Build()));
  for (const char* name : {"bomb.zip", "forged.zip"}) {
    SCOPED_TRACE(name);
    // Python's zipfile refuses both when reading the data.
    const std::string read =
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "for n in z.namelist(): z.read(n)\n";
    EXPECT_NE(std::system(In("python3 -c " + Quote(read) + " " + name).c_str()), 0);
    cZipEngine z;
    EventRecorder r;
    z.SetEvents(&r);
    ASSERT_TRUE(z.OpenArchive(Variant(m_dir / name)));
    ScratchDir out;
    EXPECT_FALSE(z.Extract(Variant(out.Str())));
    EXPECT_FALSE(r.errors.empty());
    EXPECT_TRUE(out.List().empty());
  }
}

TEST_F(Interop, FullDiskKeepsTheExistingFile) {
  // A small file system of its own; needs the right to mount one (root in CI).
  ScratchDir disk;
  if (std::system(
          ("mount -t tmpfs -o size=256k tmpfs " + Quote(disk.Str()) + " 2>/dev/null").c_str()) !=
      0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { std::system(("umount " + Quote(path) + " 2>/dev/null").c_str()); }
  } unmount{disk.Str()};
  const Bytes good = MakeData(DataKind::kText, 20000, 4);
  ASSERT_TRUE(WriteWholeFile(disk / "app.bin", good));
  ZipBuilder b;
  b.AddDeflated("app.bin", MakeData(DataKind::kRandom, 600000, 5));
  cZipEngine z;
  EventRecorder r;
  z.SetEvents(&r);
  ASSERT_TRUE(z.OpenArchive(Variant(b.Build())));
  EXPECT_FALSE(z.Extract(Variant(disk.Str())));
  EXPECT_EQ(z.LastError(), zip::pvSystemErrorMessage(112, disk / "app.bin"));
  EXPECT_EQ(ReadWholeFile(disk / "app.bin"), good);
  EXPECT_EQ(disk.List(), (std::vector<std::string>{"app.bin"}));
}

}  // namespace
}  // namespace lum::test
