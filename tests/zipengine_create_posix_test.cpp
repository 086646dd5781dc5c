// zipengine create over a POSIX tree holding every kind of name and file the engine must keep
// or leave out: what it stores (names, data, dates, modes) checked against the files and
// against what Python's zipfile and bsdtar read, a round trip through bsdtar's extraction,
// and the cases where an existing file must survive. Every run has a time limit, so a FIFO
// that is opened makes the test fail instead of hang.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/fs.h"
#include "tests/support/cli_run.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "tests/support/zip_layout.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;

// What the tree holds and what becomes of each item.
enum class Kind { kFile, kExecutable, kReadOnly, kFifo, kDangling, kFileLink, kFolderLink };
struct Item {
  std::string name;  // below tree/
  Kind kind;
  std::string content;  // data, or the link's target
  bool stored;          // an entry tree/<name> is expected (with the data the link reaches)
};

const std::vector<Item>& Items() {
  static const std::vector<Item> items = {
      {"plain.txt", Kind::kFile, "plain text\n", true},
      {"what?.txt", Kind::kFile, "17 bytes of text!", true},
      {"what1.txt/in.txt", Kind::kFile, "inside the folder", true},
      {"star*.md", Kind::kFile, "star", true},
      {"back\\slash.txt", Kind::kFile, "backslash", true},
      {"caf\xE9.txt", Kind::kFile, "latin-1 name", true},
      {"\xC3\xBC.txt", Kind::kFile, "utf-8 name", true},
      {"end:", Kind::kFile, "colon at the end", true},
      {"run.sh", Kind::kExecutable, "#!/bin/sh\necho hi\n", true},
      {"ro.txt", Kind::kReadOnly, "read only", true},
      {"pipe", Kind::kFifo, "", false},
      {"dangling", Kind::kDangling, "nowhere", false},
      {"flink", Kind::kFileLink, "plain.txt", true},
      {"dlink", Kind::kFolderLink, "what1.txt", false},
  };
  return items;
}

class CreatePosix : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::kWindowsPaths) GTEST_SKIP() << "runs the native program";
    m_program = ProgramBesideTest("zipengine");
    if (!fs::exists(m_program)) GTEST_SKIP() << "zipengine is not built";
    const fs::path tree = m_dir.Path() / "tree";
    fs::create_directories(tree / "what1.txt");
    for (const Item& item : Items()) {
      const fs::path path = tree / item.name;
      switch (item.kind) {
        case Kind::kFile:
        case Kind::kExecutable:
        case Kind::kReadOnly:
          ASSERT_TRUE(WriteWholeFile(path.string(), ToBytes(item.content))) << item.name;
          fs::permissions(path, fs::perms(item.kind == Kind::kExecutable ? 0755
                                          : item.kind == Kind::kReadOnly ? 0444
                                                                         : 0644));
          break;
        case Kind::kFifo:
          ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
          break;
        case Kind::kDangling:
        case Kind::kFileLink:
        case Kind::kFolderLink:
          fs::create_symlink(item.content, path);
          break;
      }
    }
  }

  // Runs zipengine with `args` in the scratch folder, for at most 30 seconds.
  CliResult Zipengine(const std::string& args) {
    return RunProgramIn(m_dir.Str(), m_program, args, "timeout 30 ");
  }

  // The file an item's data comes from (a link's target).
  std::string DataOf(const Item& item) const {
    if (item.kind != Kind::kFileLink) return item.content;
    for (const Item& other : Items()) {
      if (other.name == item.content) return other.content;
    }
    return {};
  }

  ScratchDir m_dir;
  std::string m_program;
};

// One line per entry from Python's zipfile: the name's bytes in hex, the host, the external
// attributes, the local date-time and the CRC-32 of the data it reads.
std::map<std::string, std::string> PythonView(const std::string& archive) {
  const std::string script =
      "import sys, zipfile, zlib\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in z.infolist():\n"
      "    raw = i.orig_filename.encode('utf-8' if i.flag_bits & 0x800 else 'cp437')\n"
      "    d = i.date_time\n"
      "    print(raw.hex(), i.create_system, i.external_attr >> 16, i.external_attr & 0xFFFF,"
      " '%04d%02d%02d%02d%02d%02d' % d, zlib.crc32(z.read(i)))\n";
  std::map<std::string, std::string> lines;
  std::istringstream in(Capture("python3 -c " + Quote(script) + " " + Quote(archive)));
  for (std::string line; std::getline(in, line);) {
    const std::size_t blank = line.find(' ');
    std::string hex = line.substr(0, blank), name;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
      name.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    lines[name] = line.substr(blank + 1);
  }
  return lines;
}

// The names bsdtar lists, its escapes ("\\", "\ooo") undone.
std::vector<std::string> BsdtarNames(const std::string& archive) {
  const std::string listing = Capture("bsdtar -tf " + Quote(archive));
  if (listing.empty()) return {"?"};
  std::vector<std::string> names;
  std::istringstream in(listing);
  for (std::string line; std::getline(in, line);) {
    std::string name;
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '\\') {
        name.push_back('\\');
        ++i;
      } else if (line[i] == '\\' && i + 3 < line.size()) {
        name.push_back(static_cast<char>(std::stoi(line.substr(i + 1, 3), nullptr, 8)));
        i += 3;
      } else {
        name.push_back(line[i]);
      }
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string LocalStamp(const fs::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "?";
  std::time_t t = st.st_mtime & ~std::time_t{1};  // DOS times are even
  std::tm local{};
  ::localtime_r(&t, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &local);
  return text;
}

TEST_F(CreatePosix, EveryNameAndKindAsPythonAndBsdtarReadIt) {
  const CliResult r = Zipengine("create out.zip -r tree");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* warning :
       {"zipengine: warning: tree/pipe: FIFO skipped",
        "zipengine: warning: tree/dangling: dangling symbolic link skipped",
        "zipengine: warning: tree/dlink: symbolic link to a folder already added, not followed"}) {
    EXPECT_NE(r.err.find(warning), std::string::npos) << warning << "\n" << r.err;
  }
  const auto layout = ReadZipLayout(ReadWholeFile(m_dir / "out.zip").value());
  ASSERT_TRUE(layout);
  std::map<std::string, const LaidOutEntry*> stored;
  for (const LaidOutEntry& e : layout->entries) stored[ToString(e.central.name)] = &e;
  const bool python = HaveTool("python3"), bsdtar = HaveTool("bsdtar");
  const auto py = python ? PythonView(m_dir / "out.zip") : std::map<std::string, std::string>();
  std::vector<std::string> expectedNames;
  for (const Item& item : Items()) {
    SCOPED_TRACE(item.name);
    // A UTF-8 name that code page 437 holds is stored in it (the UTF-8 rule), others as bytes.
    const std::string name = "tree/" + (item.name == "\xC3\xBC.txt" ? "\x81.txt" : item.name);
    ASSERT_EQ(stored.count(name), item.stored ? 1u : 0u);
    if (!item.stored) continue;
    expectedNames.push_back(name);
    const LaidOutEntry& e = *stored[name];
    const Bytes data = ToBytes(DataOf(item));
    EXPECT_EQ(e.central.crc32, ReferenceCrc32(data.data(), data.size()));
    EXPECT_EQ(e.central.size, data.size());
    EXPECT_EQ(e.central.flags & 0x800, 0);
    const bool unixHost = item.kind == Kind::kExecutable || item.name == "back\\slash.txt" ||
                          item.name == "caf\xE9.txt";
    EXPECT_EQ(e.central.versionMadeBy >> 8, unixHost ? 3 : 0);
    const std::uint32_t attributes = item.kind == Kind::kReadOnly ? 0x21 : 0x20;
    EXPECT_EQ(e.central.externalAttributes & 0xFFFF, attributes);
    if (item.kind == Kind::kExecutable) {
      EXPECT_EQ(e.central.externalAttributes >> 16, 0100755u);
    }
    if (!python) continue;
    ASSERT_TRUE(py.count(name));
    std::ostringstream want;
    want << (unixHost ? 3 : 0) << ' ' << (e.central.externalAttributes >> 16) << ' ' << attributes
         << ' ' << LocalStamp(m_dir.Path() / "tree" / item.name) << ' '
         << ReferenceCrc32(data.data(), data.size());
    EXPECT_EQ(py.at(name), want.str());
  }
  EXPECT_EQ(stored.size(), expectedNames.size());
  if (bsdtar) {
    // bsdtar lists the names' bytes as they are (the code-page-437 one included).
    std::sort(expectedNames.begin(), expectedNames.end());
    EXPECT_EQ(BsdtarNames(m_dir / "out.zip"), expectedNames);
  }
}

TEST_F(CreatePosix, RoundTripThroughBsdtarKeepsBytesModesTimesAndLinks) {
  if (!HaveTool("bsdtar")) GTEST_SKIP() << "no bsdtar";
  const CliResult r = Zipengine("create -q -y rt.zip -r tree");
  ASSERT_EQ(r.status, 0) << r.err;
  fs::create_directories(m_dir.Path() / "x");
  ASSERT_EQ(Shell("cd " + Quote(m_dir.Str() + "/x") + " && bsdtar -xpf ../rt.zip"), 0);
  for (const Item& item : Items()) {
    SCOPED_TRACE(item.name);
    if (item.kind == Kind::kFifo || item.name == "\xC3\xBC.txt") continue;  // left out; renamed
    const fs::path original = m_dir.Path() / "tree" / item.name;
    const fs::path copy = m_dir.Path() / "x/tree" / item.name;
    if (item.kind == Kind::kDangling || item.kind == Kind::kFileLink ||
        item.kind == Kind::kFolderLink) {
      ASSERT_TRUE(fs::is_symlink(copy));
      EXPECT_EQ(fs::read_symlink(copy), fs::read_symlink(original));
      continue;
    }
    ASSERT_TRUE(fs::is_regular_file(copy));
    EXPECT_EQ(ReadWholeFile(copy.string()), ReadWholeFile(original.string()));
    EXPECT_EQ(LocalStamp(copy), LocalStamp(original));
    const auto exec = fs::perms::owner_exec;
    EXPECT_EQ((fs::status(copy).permissions() & exec) != fs::perms::none,
              item.kind == Kind::kExecutable);
  }
}

TEST_F(CreatePosix, AnExistingOutputSurvivesEveryFailure) {
  ASSERT_TRUE(WriteWholeFile(m_dir / "notes.txt", ToBytes("my notes\n")));
  // The output named as its own source: nothing else to add, nothing written.
  CliResult r = Zipengine("create notes.txt notes.txt");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("notes.txt: not added, it is the archive being written"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadWholeFile(m_dir / "notes.txt"), ToBytes("my notes\n"));
  // Only a dangling link, or only a FIFO: nothing to add.
  r = Zipengine("create notes.txt tree/dangling tree/pipe");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(ReadWholeFile(m_dir / "notes.txt"), ToBytes("my notes\n"));
  // No temporary file is left beside the output.
  for (const auto& e : fs::directory_iterator(m_dir.Path())) {
    EXPECT_EQ(e.path().extension() == ".tmp", false) << e.path();
  }
}

TEST_F(CreatePosix, TheOutputUnderAnotherNameIsNeverRead) {
  ASSERT_EQ(Zipengine("create -q old.zip tree/plain.txt").status, 0);
  fs::create_hard_link(m_dir.Path() / "old.zip", m_dir.Path() / "tree/hard.zip");
  fs::create_symlink("../old.zip", m_dir.Path() / "tree/soft.zip");
  const CliResult r = Zipengine("create old.zip -r tree");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("tree/hard.zip: not added"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("tree/soft.zip: not added"), std::string::npos) << r.err;
  const auto layout = ReadZipLayout(ReadWholeFile(m_dir / "old.zip").value());
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->entries.size(), 11u);  // the stored items of the tree, nothing else
  // The hard link still names the old archive: the new one was moved into place, not
  // written through it.
  const auto old = ReadZipLayout(ReadWholeFile(m_dir / "tree/hard.zip").value());
  ASSERT_TRUE(old);
  EXPECT_EQ(old->entries.size(), 1u);
}

TEST_F(CreatePosix, StandardOutputRedirectedIntoTheTreeIsNeverRead) {
  const CliResult r =
      RunProgramIn(m_dir.Str(), m_program, "create - -r tree", "timeout 30 ", "> tree/out.zip");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("tree/out.zip: not added, it is the archive being written"),
            std::string::npos)
      << r.err;
  const auto layout = ReadZipLayout(ReadWholeFile(m_dir / "tree/out.zip").value());
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->entries.size(), 11u);  // the stored items of the tree, nothing else
  for (const auto& e : layout->entries) EXPECT_NE(ToString(e.central.name), "tree/out.zip");
  // Appended to a file of the tree that is not empty: the same.
  ASSERT_TRUE(WriteWholeFile(m_dir / "tree/log.bin", ToBytes("before ")));
  const CliResult again =
      RunProgramIn(m_dir.Str(), m_program, "create - -r tree", "timeout 30 ", ">> tree/log.bin");
  EXPECT_NE(again.err.find("tree/log.bin: not added"), std::string::npos) << again.err;
}

TEST_F(CreatePosix, AReplacedArchiveKeepsItsPermissionsAndANewOneTakesTheUmask) {
  auto modeOf = [&](const std::string& name) {
    struct stat st {};
    ::stat((m_dir / name).c_str(), &st);
    return st.st_mode & 07777;
  };
  ASSERT_EQ(Zipengine("create -q old.zip tree/plain.txt").status, 0);
  ASSERT_EQ(::chmod((m_dir / "old.zip").c_str(), 0604), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown((m_dir / "old.zip").c_str(), 4321, 8765), 0);
  }
  const std::string umask = "umask 077 && timeout 30 ";
  CliResult r = RunProgramIn(m_dir.Str(), m_program, "create -q old.zip -r tree", umask);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(modeOf("old.zip"), 0604u);
  struct stat st {};
  ASSERT_EQ(::stat((m_dir / "old.zip").c_str(), &st), 0);
  EXPECT_EQ(ReadZipLayout(ReadWholeFile(m_dir / "old.zip").value())->entries.size(), 11u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 8765u);
  }
  // A read-only archive is replaced the same way and stays read-only.
  ASSERT_EQ(::chmod((m_dir / "old.zip").c_str(), 0444), 0);
  r = RunProgramIn(m_dir.Str(), m_program, "create -q old.zip tree/plain.txt", umask);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(modeOf("old.zip"), 0444u);
  EXPECT_EQ(ReadZipLayout(ReadWholeFile(m_dir / "old.zip").value())->entries.size(), 1u);
  // A new archive: 0666 less the umask, as before.
  r = RunProgramIn(m_dir.Str(), m_program, "create -q new.zip tree/plain.txt", umask);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(modeOf("new.zip"), 0600u);
}

TEST_F(CreatePosix, AFolderWithABackslashInItsNameKeepsItUnderR) {
  fs::create_directories(m_dir.Path() / "a\\b/sub\\dir");
  fs::create_directories(m_dir.Path() / "a\\b/empty");
  ASSERT_TRUE(WriteWholeFile(m_dir / "a\\b/f", ToBytes("x\n")));
  ASSERT_TRUE(WriteWholeFile(m_dir / "a\\b/sub\\dir/g", ToBytes("g")));
  const CliResult r = Zipengine("create -q o.zip -r -e 'a\\b'");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto layout = ReadZipLayout(ReadWholeFile(m_dir / "o.zip").value());
  ASSERT_TRUE(layout);
  std::vector<std::string> names;
  for (const auto& e : layout->entries) names.push_back(ToString(e.central.name));
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"a\\b/empty/", "a\\b/f", "a\\b/sub\\dir/g"}));
  if (HaveTool("bsdtar")) {
    EXPECT_EQ(BsdtarNames(m_dir / "o.zip"), names);
  }
}

TEST_F(CreatePosix, LeadingSlashAndDotDotAreRemovedWithOneWarning) {
  const std::string absolute = m_dir / "tree/plain.txt";
  const CliResult r = Zipengine("create names.zip tree/../tree/plain.txt '" + absolute + "' ../" +
                                m_dir.Path().filename().string() + "/tree/end:");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string warning = "leading \"/\" and \"..\" components removed";
  ASSERT_NE(r.err.find(warning), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(warning), r.err.rfind(warning)) << "one warning";
  const auto layout = ReadZipLayout(ReadWholeFile(m_dir / "names.zip").value());
  ASSERT_TRUE(layout);
  std::vector<std::string> names;
  for (const auto& e : layout->entries) names.push_back(ToString(e.central.name));
  const std::string stripped = absolute.substr(1);
  EXPECT_EQ(names, (std::vector<std::string>{"tree/tree/plain.txt", stripped,
                                             m_dir.Path().filename().string() + "/tree/end:"}));
  for (const std::string& name : names) {
    EXPECT_EQ(name.find(".."), std::string::npos);
    EXPECT_NE(name[0], '/');
  }
}

TEST_F(CreatePosix, SummaryCountsOnlyWhatWasWritten) {
  const CliResult r = Zipengine("create sum.zip tree/plain.txt 'tree/what?.txt' tree/pipe");
  ASSERT_EQ(r.status, 0) << r.err;
  // 11 + 17 bytes; the FIFO added nothing.
  EXPECT_NE(r.out.find("2 entries written to sum.zip (28 B in"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace lum::test
