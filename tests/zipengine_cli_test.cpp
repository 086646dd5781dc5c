// The zipengine command run as a program: exit statuses, what it prints for each command,
// standard input as the archive, and the progress bar on a terminal (through script(1),
// which gives the program a pseudo-terminal). Native build only.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "platform/fs.h"
#include "tests/support/cli_run.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace lum::test {
namespace {

namespace fs = std::filesystem;

class ZipengineCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::kWindowsPaths) GTEST_SKIP() << "runs the native program";
    m_program = ProgramBesideTest("zipengine");
    if (!fs::exists(m_program)) GTEST_SKIP() << "zipengine is not built";
    ZipBuilder b;
    b.AddStored("a.txt", "alpha\n");
    b.AddDeflated("dir/b.bin", MakeData(DataKind::kBinary, 70000, 5), 40000);
    b.AddFolder("dir/empty/");
    b.comment = "note";
    WriteWholeFile(m_dir / "good.zip", b.Build());
    b.Entries()[0].crc32 ^= 1;
    WriteWholeFile(m_dir / "bad.zip", b.Build());
  }

  // Runs `args` (shell syntax) in the scratch folder.
  CliResult Zipengine(const std::string& args, const std::string& before = {}) {
    return RunProgramIn(m_dir.Str(), m_program, args, before);
  }

  ScratchDir m_dir;
  std::string m_program;
};

TEST_F(ZipengineCli, UsageErrorsExitWithOne) {
  for (const char* args : {"", "frobnicate x.zip", "extract", "list", "list a.zip b.zip",
                           "extract good.zip -d", "extract good.zip --bogus", "cat good.zip"}) {
    const CliResult r = Zipengine(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_FALSE(r.err.empty()) << args;
  }
  const CliResult help = Zipengine("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("EXIT STATUS"), std::string::npos);
  EXPECT_NE(help.out.find("zipengine extract ARCHIVE [-d DIR] [-q] [PATTERN...]"),
            std::string::npos);
}

TEST_F(ZipengineCli, ListShowsEntriesTotalsAndComment) {
  const CliResult r = Zipengine("list good.zip");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("         6           6  Stored  2018-01-01 13:26:20  "), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Defl"), std::string::npos);
  EXPECT_NE(r.out.find("dir/b.bin\n"), std::string::npos);
  EXPECT_NE(r.out.find("3 entries"), std::string::npos);
  EXPECT_NE(r.out.find("Comment: note"), std::string::npos);
}

TEST_F(ZipengineCli, EngineErrorsExitWithTwoAndNameTheEntry) {
  CliResult r = Zipengine("test bad.zip");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("zipengine: a.txt: CRC check failed"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("OK: dir/b.bin"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 error in bad.zip (2 of 3 entries passed)"), std::string::npos) << r.out;

  r = Zipengine("test good.zip");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("No errors detected in 3 entries"), std::string::npos);
  EXPECT_FALSE(fs::exists(m_dir.Path() / "a.txt"));  // test writes nothing

  r = Zipengine("list missing.zip");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("zipengine: [2] "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(missing.zip)"), std::string::npos) << r.err;

  WriteWholeFile(m_dir / "junk.zip", Bytes(100, 'j'));
  r = Zipengine("extract junk.zip");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "zipengine: Invalid archive. Missing end-of-central-directory record\n");
}

TEST_F(ZipengineCli, ExtractPatternsFolderAndQuiet) {
  CliResult r = Zipengine("extract good.zip -d out '*.bin'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(m_dir.List(), (std::vector<std::string>{"bad.zip", "good.zip", "out", "out/dir",
                                                    "out/dir/b.bin", "stderr.txt", "stdout.txt"}));
  EXPECT_NE(r.out.find("extracted: dir/b.bin"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 of 1 entries extracted to out"), std::string::npos) << r.out;

  r = Zipengine("extract -q ../good.zip a.txt 'dir/empty/'", "mkdir cwd && cd cwd && ");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadWholeFile(m_dir / "cwd/a.txt"), ToBytes("alpha\n"));
  EXPECT_TRUE(fs::is_directory(m_dir.Path() / "cwd/dir/empty"));
  EXPECT_FALSE(fs::exists(m_dir.Path() / "cwd/dir/b.bin"));

  r = Zipengine("extract -q bad.zip -d q");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "zipengine: a.txt: CRC check failed\n");

  r = Zipengine("extract good.zip -d none 'nothing*'");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no entry matches"), std::string::npos);
}

TEST_F(ZipengineCli, CatAndStandardInput) {
  CliResult r = Zipengine("cat good.zip dir/b.bin");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ToBytes(r.out), MakeData(DataKind::kBinary, 70000, 5));
  r = Zipengine("cat good.zip dir\\\\nothing");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("not in the archive"), std::string::npos);

  // A redirected file is opened through "stdin:" in place; a pipe is read into memory.
  r = Zipengine("cat - a.txt <good.zip");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "alpha\n");
  r = Zipengine("extract -q - -d piped", "cat good.zip | ");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadWholeFile(m_dir / "piped/dir/b.bin"), MakeData(DataKind::kBinary, 70000, 5));
}

// cat writes in order after what standard output already holds, and a failed write names
// the entry and standard output.
TEST_F(ZipengineCli, CatAppendsToStandardOutputAndReportsAFailedWrite) {
  const std::string out = m_dir / "stdout.txt", err = m_dir / "stderr.txt";
  CliResult r = RunCaptured("cd " + Quote(m_dir.Str()) + " && { echo head; " + Quote(m_program) +
                                " cat good.zip a.txt; } >" + Quote(out) + " 2>" + Quote(err),
                            out, err);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "head\nalpha\n");
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  r = RunCaptured("cd " + Quote(m_dir.Str()) + " && " + Quote(m_program) +
                      " cat good.zip a.txt >/dev/full 2>" + Quote(err),
                  out, err);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("zipengine: a.txt: [", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(" (stdout:)\n"), std::string::npos) << r.err;
}

TEST_F(ZipengineCli, CatShowsEntriesUnsafeForAFolder) {
  ZipBuilder b;
  b.AddStored("../escape.txt", "shown, never written\n");
  WriteWholeFile(m_dir / "unsafe.zip", b.Build());
  CliResult r = Zipengine("cat unsafe.zip ../escape.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "shown, never written\n");
  r = Zipengine("extract -q unsafe.zip -d out");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unsafe path"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(m_dir.Path() / "escape.txt"));
}

TEST_F(ZipengineCli, ExtractRestoresTimesAndModesUnlessAskedNotTo) {
  ZipBuilder b;
  auto& e = b.AddStored("run.sh", "#!/bin/sh\n");
  e.versionMadeBy = 0x031E;  // made on Unix
  e.externalAttributes = (0100750u << 16) | 0x20;
  WriteWholeFile(m_dir / "unix.zip", b.Build());
  ASSERT_EQ(Zipengine("extract -q unix.zip -d restored").status, 0);
  ASSERT_EQ(Zipengine("extract -q -T unix.zip -d plain").status, 0);
  const auto age = [&](const char* folder) {
    return fs::file_time_type::clock::now() - fs::last_write_time(m_dir.Path() / folder / "run.sh");
  };
  EXPECT_GT(age("restored"), std::chrono::hours(24 * 365));  // 2018-01-01
  EXPECT_LT(age("plain"), std::chrono::hours(1));
  EXPECT_EQ(fs::status(m_dir.Path() / "restored/run.sh").permissions(), fs::perms(0750));
  EXPECT_EQ(fs::status(m_dir.Path() / "plain/run.sh").permissions() & fs::perms::owner_exec,
            fs::perms::none);
}

TEST_F(ZipengineCli, ProgressBarOnlyOnATerminal) {
  if (!HaveTool("script")) GTEST_SKIP() << "no script(1)";
  ZipBuilder b;
  for (int i = 0; i < 40; ++i)
    b.AddStored("f" + std::to_string(i), MakeData(DataKind::kRandom, 300000, i));
  WriteWholeFile(m_dir / "many.zip", b.Build());
  // script runs the command on a pseudo-terminal and copies everything it shows.
  const std::string command = "cd '" + m_dir.Str() + "' && script -qec \"'" + m_program +
                              "' extract many.zip -d t\" /dev/null >screen.txt 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
  const std::string screen = ToString(ReadWholeFile(m_dir / "screen.txt").value_or(Bytes()));
  const std::size_t bar = screen.find("\r[");
  ASSERT_NE(bar, std::string::npos) << screen;
  EXPECT_NE(screen.find(" entries  ", bar), std::string::npos);
  EXPECT_NE(screen.find("/40 entries"), std::string::npos);
  // The bar is wiped (carriage return, blanks, carriage return) before the final line.
  const std::size_t final = screen.find("40 of 40 entries extracted to t");
  ASSERT_NE(final, std::string::npos) << screen;
  EXPECT_EQ(screen.substr(final - 2, 2), " \r");
  EXPECT_EQ(screen.find("extracted: "), std::string::npos);  // no per-entry lines on a terminal

  // Not a terminal: one plain line per entry, nothing on standard error.
  const CliResult plain = Zipengine("extract many.zip -d p");
  EXPECT_EQ(plain.err, "");
  EXPECT_NE(plain.out.find("extracted: f39"), std::string::npos);
}

}  // namespace
}  // namespace lum::test
