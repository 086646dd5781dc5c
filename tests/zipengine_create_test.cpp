// zipengine create run as a program: what it writes, its exit statuses, standard output as
// the archive, and the cases where it must not write or must not read the archive itself.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/fs.h"
#include "tests/support/cli_run.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"
#include "tests/support/zip_layout.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;

class ZipengineCreate : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::kWindowsPaths) GTEST_SKIP() << "runs the native program";
    m_program = ProgramBesideTest("zipengine");
    if (!fs::exists(m_program)) GTEST_SKIP() << "zipengine is not built";
    fs::create_directories(m_dir.Path() / "src" / "sub" / "deep");
    fs::create_directories(m_dir.Path() / "src" / "hollow");
    WriteWholeFile(m_dir / "src/text.txt", MakeData(DataKind::kText, 100000, 1));
    WriteWholeFile(m_dir / "src/sub/deep/r.bin", MakeData(DataKind::kRandom, 5000, 2));
    WriteWholeFile(m_dir / "single.txt", ToBytes("single\n"));
  }

  // Runs zipengine with `args` (shell syntax) in the scratch folder; `after` follows it in
  // the pipeline (for example "| cat >file").
  CliResult Zipengine(const std::string& args, const std::string& after = {}) {
    return RunProgramIn(m_dir.Str(), m_program, args, {}, after);
  }

  std::vector<std::string> Names(const std::string& archive) {
    zip::cZipEngine z;
    std::vector<std::string> names;
    if (!z.OpenArchive(zip::Variant(m_dir / archive))) return {"(not an archive)"};
    for (std::int32_t i = 0; i < z.FileCount(); ++i)
      names.push_back(z.FileInfo(i).Array()[0].Text());
    return names;
  }

  ScratchDir m_dir;
  std::string m_program;
};

TEST_F(ZipengineCreate, FoldersFilesLevelCommentAndUtf8Mode) {
  const CliResult r = Zipengine("create out.zip -r -e -L 9 -u always -c 'a note' src single.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("added: src/text.txt (deflated)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("5 entries written to out.zip"), std::string::npos) << r.out;
  // src/sub holds only a folder, so it counts as empty.
  EXPECT_EQ(Names("out.zip"),
            (std::vector<std::string>{"src\\text.txt", "src\\hollow\\", "src\\sub\\",
                                      "src\\sub\\deep\\r.bin", "single.txt"}));
  const auto layout = ReadZipLayout(ReadWholeFile(m_dir / "out.zip").value());
  ASSERT_TRUE(layout);
  EXPECT_EQ(ToString(layout->comment), "a note");
  for (const auto& e : layout->entries) EXPECT_EQ(e.central.flags, 0x800);

  // Quiet, level 0, without -e and -r: a folder stands for itself alone.
  const CliResult q = Zipengine("create -q stored.zip -L 0 -u never src/sub single.txt");
  EXPECT_EQ(q.status, 0) << q.err;
  EXPECT_EQ(q.out, "");
  EXPECT_EQ(Names("stored.zip"), (std::vector<std::string>{"src\\sub\\", "single.txt"}));
}

// Dynamic Huffman codes by default; --fixed-huffman writes the engine's default data. The
// entry data is compared with what the engine writes for the same bytes either way.
TEST_F(ZipengineCreate, DynamicCodesByDefaultAndFixedOnRequest) {
  const Bytes text = ReadWholeFile(m_dir / "src/text.txt").value();
  for (const int level : {1, 6, 9}) {
    SCOPED_TRACE(level);
    const std::string l = " -L " + std::to_string(level);
    ASSERT_EQ(Zipengine("create -q dyn.zip" + l + " src/text.txt").status, 0);
    ASSERT_EQ(Zipengine("create -q fixed.zip --fixed-huffman" + l + " src/text.txt").status, 0);
    const auto dyn = ReadZipLayout(ReadWholeFile(m_dir / "dyn.zip").value());
    const auto fixed = ReadZipLayout(ReadWholeFile(m_dir / "fixed.zip").value());
    ASSERT_TRUE(dyn && fixed);
    for (const bool dynamic : {false, true}) {
      zip::cZipEngine z;
      z.SetDynamicHuffman(dynamic);
      ASSERT_TRUE(z.AddFile(zip::Variant(text), "src\\text.txt"));
      Bytes memory;
      ASSERT_TRUE(z.CompressArchive(zip::Variant::Ref(memory), {}, level));
      const auto expected = ReadZipLayout(memory);
      ASSERT_TRUE(expected);
      EXPECT_TRUE((dynamic ? dyn : fixed)->entries.at(0).data == expected->entries.at(0).data);
    }
    EXPECT_LT(dyn->entries.at(0).data.size(), fixed->entries.at(0).data.size());
  }
}

// Worker threads change the time, not the archive: every thread count writes the same bytes,
// and a count outside 1 to 99 is a usage error that writes nothing.
TEST_F(ZipengineCreate, ThreadCountsWriteTheSameArchive) {
  for (int i = 0; i < 40; ++i) {
    WriteWholeFile(
        m_dir.Path() / "src" / ("f" + std::to_string(i) + ".txt"),
        MakeData(i % 3 == 0 ? DataKind::kBinary : DataKind::kText,
                 static_cast<std::size_t>(1000 + 997 * i), static_cast<std::uint64_t>(i)));
  }
  for (const int level : {1, 6, 9}) {
    SCOPED_TRACE(level);
    const std::string l = " -L " + std::to_string(level) + " -r src";
    ASSERT_EQ(Zipengine("create -q one.zip --threads 1" + l).status, 0);
    const Bytes one = ReadWholeFile(m_dir / "one.zip").value();
    for (const char* threads : {"2", "8", ""}) {
      const std::string option = *threads != 0 ? std::string(" --threads ") + threads : "";
      ASSERT_EQ(Zipengine("create -q many.zip" + option + l).status, 0) << threads;
      EXPECT_TRUE(ReadWholeFile(m_dir / "many.zip").value() == one) << threads;
      fs::remove(m_dir / "many.zip");
    }
    fs::remove(m_dir / "one.zip");
  }
  for (const char* bad : {"0", "100", "-1", "x", ""}) {
    const CliResult r = Zipengine(std::string("create bad.zip --threads '") + bad + "' src");
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_NE(r.err.find("--threads needs a count from 1 to 99"), std::string::npos) << bad;
  }
  EXPECT_FALSE(fs::exists(m_dir / "bad.zip"));
}

TEST_F(ZipengineCreate, UsageErrorsExitWithOne) {
  for (const char* args :
       {"create", "create out.zip", "create out.zip -L 10 src", "create out.zip -L",
        "create out.zip -u sometimes src", "create out.zip --bogus src", "create out.zip -c"}) {
    const CliResult r = Zipengine(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.err.find("Try 'zipengine --help'"), std::string::npos) << args;
  }
  EXPECT_FALSE(fs::exists(m_dir / "out.zip"));
}

TEST_F(ZipengineCreate, NothingToAddLeavesAnExistingArchiveAlone) {
  ASSERT_EQ(Zipengine("create -q old.zip single.txt").status, 0);
  const Bytes before = ReadWholeFile(m_dir / "old.zip").value();
  const CliResult r = Zipengine("create old.zip missing.txt");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("zipengine: [2] "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("nothing to add; old.zip was not written"), std::string::npos) << r.err;
  EXPECT_EQ(ReadWholeFile(m_dir / "old.zip"), before);

  // One source missing among others: the others are written, the status still says so.
  const CliResult some = Zipengine("create -q some.zip missing.txt single.txt");
  EXPECT_EQ(some.status, 2);
  EXPECT_EQ(Names("some.zip"), std::vector<std::string>{"single.txt"});
}

TEST_F(ZipengineCreate, StandardOutputPipeAndFile) {
  const std::string piped = m_dir / "piped.zip", redirected = m_dir / "redirected.zip";
  CliResult r = Zipengine("create - -r src", "| cat >'" + piped + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("written to standard output"), std::string::npos) << r.err;
  // A redirected file is written in place and cut where the archive ends, also when it was
  // longer before and when a stored fallback went back over its own Deflate data.
  WriteWholeFile(redirected, Bytes(300000, 'x'));
  r = Zipengine("create -q - -r src", "1<>'" + redirected + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadWholeFile(piped), ReadWholeFile(redirected));
  EXPECT_EQ(Names("piped.zip").size(), 2u);
}

TEST_F(ZipengineCreate, AFailedWriteToStandardOutputIsReported) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const CliResult r = Zipengine("create -q - single.txt", ">/dev/full");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("zipengine: [", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" (stdout:)\n"), std::string::npos) << r.err;
}

TEST_F(ZipengineCreate, TheArchiveItselfIsNotAdded) {
  ASSERT_EQ(Zipengine("create -q src/self.zip -r src").status, 0);
  // Now it exists inside the folder being added.
  const CliResult r = Zipengine("create src/self.zip -r src");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("src/self.zip: not added, it is the archive being written"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(Names("src/self.zip"),
            (std::vector<std::string>{"src\\text.txt", "src\\sub\\deep\\r.bin"}));
}

}  // namespace
}  // namespace lum::test
