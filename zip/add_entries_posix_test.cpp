// Queuing and writing what a POSIX file system holds beyond Windows names: names with "*",
// "?", "\" and ":" or bytes that are not UTF-8, special files, symbolic links and modes.
// Skipped in the Windows build, whose names cannot hold these and which has no such files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "platform/fs.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "tests/support/zip_layout.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;
using zip::Variant;

// Writes the queued entries into memory and returns the layout, stored name → entry.
std::map<std::string, LaidOutEntry> WriteAll(zip::cZipEngine& z, Bytes& archive) {
  EXPECT_TRUE(z.CompressArchive(Variant::Ref(archive), {}, 6, -2)) << z.LastError();
  std::map<std::string, LaidOutEntry> byName;
  const auto layout = ReadZipLayout(archive);
  EXPECT_TRUE(layout);
  if (!layout) return byName;
  for (const LaidOutEntry& e : layout->entries) byName[ToString(e.central.name)] = e;
  return byName;
}

class PosixTree : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::kWindowsPaths) GTEST_SKIP() << "POSIX file systems only";
    z.SetEvents(&events);
  }
  std::string Root() const { return dir.Str(); }
  void File(const std::string& name, const std::string& text) {
    ASSERT_TRUE(WriteWholeFile(dir / name, ToBytes(text))) << name;
  }
  ScratchDir dir;
  zip::cZipEngine z;
  EventRecorder events;
};

TEST_F(PosixTree, WildcardCharactersInANameAreNoPattern) {
  // A folder that the pattern "what?.txt" would also match, beside the file itself.
  fs::create_directories(dir.Path() / "what1.txt");
  File("what?.txt", "seventeen bytes!!");
  File("star*", "star");
  ASSERT_TRUE(z.AddFile(Variant(dir / "what?.txt")));
  ASSERT_TRUE(z.AddFile(Variant(dir / "star*")));
  EXPECT_EQ(z.FileInfo(0).Array()[1].Number(), 0x20);
  EXPECT_EQ(z.FileInfo(0).Array()[3].Number(), 17);
  Bytes archive;
  auto entries = WriteAll(z, archive);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries["what?.txt"].central.size, 17u);
  EXPECT_EQ(entries["star*"].central.size, 4u);

  // A name ending in ":" is a file, not a standard handle.
  File("end:", "colon");
  zip::cZipEngine c;
  ASSERT_TRUE(c.AddFile(Variant(dir / "end:")));
  EXPECT_EQ(c.FileInfo(0).Array()[3].Number(), 5);
  Bytes second;
  EXPECT_EQ(WriteAll(c, second)["end:"].central.crc32, ReferenceCrc32(ToBytes("colon").data(), 5));
}

TEST_F(PosixTree, SpecialFilesAndDanglingLinksAreLeftOutWithAWarning) {
  File("a.txt", "a");
  const std::string fifo = dir / "pipe";
  ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
  fs::create_symlink("nowhere", dir.Path() / "dangling");
  ASSERT_TRUE(z.AddFromFolder(Root() + "/*.*", true));
  ASSERT_EQ(z.FileCount(), 1);
  EXPECT_EQ(z.FileInfo(0).Array()[0].Text(), "a.txt");
  EXPECT_TRUE(events.errors.empty());
  EXPECT_EQ(z.LastError(), "");
  const std::vector<std::pair<std::string, std::string>> want = {
      {dir / "dangling", "dangling symbolic link skipped"}, {fifo, "FIFO skipped"}};
  EXPECT_EQ(events.warnings, want);

  // Named directly, the FIFO is refused the same way and never opened (which would block).
  events.Clear();
  EXPECT_FALSE(z.AddFile(Variant(fifo)));
  EXPECT_EQ(z.FileCount(), 1);
  ASSERT_EQ(events.warnings.size(), 1u);
  EXPECT_EQ(events.warnings[0].second, "FIFO skipped");
  EXPECT_TRUE(events.errors.empty());
}

TEST_F(PosixTree, LinksAreFollowedOnceAndLoopsEnd) {
  fs::create_directories(dir.Path() / "root/a");
  fs::create_directories(dir.Path() / "other");
  File("root/a/f.txt", "file data");
  File("other/o.txt", "outside");
  fs::create_symlink("a/f.txt", dir.Path() / "root/flink");
  fs::create_symlink("a", dir.Path() / "root/alink");           // a folder found anyway
  fs::create_symlink(".", dir.Path() / "root/a/self");          // loops back to a
  fs::create_symlink("../..", dir.Path() / "root/a/up");        // back above the root
  fs::create_symlink("../other", dir.Path() / "root/outside");  // followed once
  ASSERT_TRUE(z.AddFromFolder(dir / "root/*.*", true));
  std::map<std::string, double> sizes;
  for (std::int32_t i = 0; i < z.FileCount(); ++i) {
    sizes[z.FileInfo(i).Array()[0].Text()] = z.FileInfo(i).Array()[3].Number();
  }
  // "up" reaches the scratch folder once; below it, root and other are already taken.
  const std::map<std::string, double> want = {{"flink", 9}, {"a\\f.txt", 9}, {"outside\\o.txt", 7}};
  EXPECT_EQ(sizes, want);
  std::map<std::string, std::string> warned;
  for (const auto& [path, why] : events.warnings) warned[path] = why;
  EXPECT_EQ(warned.size(), 4u);
  EXPECT_EQ(warned[dir / "root/alink"], "symbolic link to a folder already added, not followed");
  EXPECT_EQ(warned[dir / "root/a/self"], "symbolic link to a folder already added, not followed");
  EXPECT_EQ(warned[dir / "root/a/up/root"],
            "folder reached again through a symbolic link, skipped");
  EXPECT_EQ(warned[dir / "root/a/up/other"],
            "folder reached again through a symbolic link, skipped")
      << "other was reached through root/outside first";
  EXPECT_TRUE(events.errors.empty());

  // The link to a file stores the file's data.
  Bytes archive;
  auto entries = WriteAll(z, archive);
  EXPECT_EQ(entries["flink"].central.crc32, ReferenceCrc32(ToBytes("file data").data(), 9));
  EXPECT_EQ(entries["flink"].central.versionMadeBy >> 8, 0);
}

TEST_F(PosixTree, StoreLinksKeepsEveryLinkAsALink) {
  fs::create_directories(dir.Path() / "a");
  File("a/f.txt", "file data");
  fs::create_symlink("a/f.txt", dir.Path() / "flink");
  fs::create_symlink("a", dir.Path() / "alink");
  fs::create_symlink("nowhere", dir.Path() / "dangling");
  z.SetStoreLinks(true);
  ASSERT_TRUE(z.AddFromFolder(Root() + "/*.*", true));
  EXPECT_TRUE(events.warnings.empty());
  Bytes archive;
  auto entries = WriteAll(z, archive);
  ASSERT_EQ(entries.size(), 4u);
  for (const auto& [name, target] : std::map<std::string, std::string>{
           {"flink", "a/f.txt"}, {"alink", "a"}, {"dangling", "nowhere"}}) {
    SCOPED_TRACE(name);
    const LaidOutEntry& e = entries[name];
    EXPECT_EQ(e.central.versionMadeBy >> 8, 3);
    EXPECT_EQ(e.central.externalAttributes >> 16, 0120777u);
    EXPECT_EQ(e.central.size, target.size());
    EXPECT_EQ(e.central.crc32, ReferenceCrc32(ToBytes(target).data(), target.size()));
  }
  EXPECT_EQ(entries["a/f.txt"].central.versionMadeBy >> 8, 0);
}

TEST_F(PosixTree, NamesAreStoredByteForByte) {
  File("back\\slash.txt", "b");
  File("caf\xE9.txt", "c");
  File("\xC3\xBC.txt", "u");
  File("plain.txt", "p");
  ASSERT_TRUE(z.AddFromFolder(Root() + "/*.*"));
  for (const std::int32_t useUtf8 : {-2, -1}) {
    SCOPED_TRACE(useUtf8);
    Bytes archive;
    ASSERT_TRUE(z.CompressArchive(Variant::Ref(archive), {}, 6, useUtf8));
    const auto layout = ReadZipLayout(archive);
    ASSERT_TRUE(layout);
    std::map<std::string, const LaidOutEntry*> byName;
    for (const LaidOutEntry& e : layout->entries) byName[ToString(e.central.name)] = &e;
    ASSERT_TRUE(byName.count("back\\slash.txt"));
    ASSERT_TRUE(byName.count("caf\xE9.txt"));
    ASSERT_TRUE(byName.count("plain.txt"));
    // Names other tools would misread from an MS-DOS host say Unix; bytes that are not
    // UTF-8 never carry the UTF-8 flag, whatever the setting.
    EXPECT_EQ(byName["back\\slash.txt"]->central.versionMadeBy >> 8, 3);
    EXPECT_EQ(byName["caf\xE9.txt"]->central.versionMadeBy >> 8, 3);
    EXPECT_EQ(byName["caf\xE9.txt"]->central.flags & 0x800, 0);
    EXPECT_EQ(byName["caf\xE9.txt"]->local.name, ToBytes("caf\xE9.txt"));
    EXPECT_EQ(byName["plain.txt"]->central.versionMadeBy >> 8, 0);
    EXPECT_EQ(byName["plain.txt"]->central.externalAttributes, 0x20u);
    // A UTF-8 name follows the UTF-8 rule as before: code page 437 when it fits, unless UTF-8
    // is asked for.
    const std::string u = useUtf8 == -1 ? "\xC3\xBC.txt" : "\x81.txt";
    ASSERT_TRUE(byName.count(u));
    EXPECT_EQ(byName[u]->central.flags & 0x800, useUtf8 == -1 ? 0x800 : 0);
  }
}

TEST_F(PosixTree, ExecutableModesAreKeptAndOthersStayWindowsAttributes) {
  File("run.sh", "#!/bin/sh\n");
  File("data.txt", "d");
  fs::permissions(dir.Path() / "run.sh", fs::perms(0755));
  fs::permissions(dir.Path() / "data.txt", fs::perms(0644));
  ASSERT_TRUE(z.AddFromFolder(Root() + "/*.*"));
  Bytes archive;
  auto entries = WriteAll(z, archive);
  EXPECT_EQ(entries["run.sh"].central.versionMadeBy, (3 << 8) | 45);
  EXPECT_EQ(entries["run.sh"].central.externalAttributes, (0100755u << 16) | 0x20);
  EXPECT_EQ(entries["data.txt"].central.versionMadeBy, 45);
  EXPECT_EQ(entries["data.txt"].central.externalAttributes, 0x20u);
}

TEST_F(PosixTree, AddFileAsStoresTheGivenNameExactly) {
  File("in", "x");
  ASSERT_TRUE(z.AddFileAs(dir / "in", "dir/we\\ird name"));
  EXPECT_EQ(z.FileInfo(0).Array()[0].Text(), "dir\\we\\ird name");
  ASSERT_TRUE(z.AddFileAs(Root(), "top/"));
  EXPECT_EQ(z.FileInfo(1).Array()[1].Number(), 0x10);
  Bytes archive;
  auto entries = WriteAll(z, archive);
  EXPECT_EQ(entries.count("dir/we\\ird name"), 1u);
  EXPECT_EQ(entries.count("top/"), 1u);
  EXPECT_FALSE(z.AddFileAs(dir / "missing", "m"));
  EXPECT_EQ(events.errors.size(), 1u);
}

TEST_F(PosixTree, AddFolderAsKeepsABackslashInTheFolderNameAsACharacter) {
  fs::create_directories(dir.Path() / "a\\b/sub");
  fs::create_directories(dir.Path() / "a\\b/empty");
  fs::create_directories(dir.Path() / "a\\b/x\\y");
  File("a\\b/f.txt", "f");
  File("a\\b/sub/g.txt", "g");
  File("a\\b/x\\y/h.txt", "h");
  ASSERT_TRUE(z.AddFolderAs(dir / "a\\b", "top/a\\b/", true, true));
  Bytes archive;
  std::vector<std::string> names;
  for (const auto& [name, e] : WriteAll(z, archive)) {
    names.push_back(name);
    // Every name holds a literal "\": made on Unix, never with the UTF-8 flag.
    EXPECT_EQ(e.central.versionMadeBy >> 8, 3) << name;
    EXPECT_EQ(ToString(e.local.name), name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"top/a\\b/empty/", "top/a\\b/f.txt",
                                             "top/a\\b/sub/g.txt", "top/a\\b/x\\y/h.txt"}));
  EXPECT_TRUE(events.errors.empty());

  // Without -r only the folder's own files; an empty stored folder puts them at the top.
  zip::cZipEngine flat;
  ASSERT_TRUE(flat.AddFolderAs(dir / "a\\b", "", false, false));
  Bytes second;
  std::vector<std::string> top;
  for (const auto& [name, e] : WriteAll(flat, second)) top.push_back(name);
  EXPECT_EQ(top, std::vector<std::string>{"f.txt"});
}

}  // namespace
}  // namespace lum::test
