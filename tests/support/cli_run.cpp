// Running a built program from a test (see cli_run.h).
#include "tests/support/cli_run.h"

#include <cstdlib>
#include <filesystem>

#include "tests/support/zip_builder.h"

namespace lum::test {

std::string ProgramBesideTest(const std::string& name) {
  namespace fs = std::filesystem;
  return (fs::read_symlink("/proc/self/exe").parent_path() / name).string();
}

CliResult RunCaptured(const std::string& command, const std::string& out, const std::string& err) {
  const int raw = std::system(command.c_str());
  // A wait status: the exit code in bits 8-15 when the low bits (a signal) are 0.
  CliResult r{(raw & 0x7F) == 0 ? (raw >> 8) & 0xFF : -1, {}, {}};
  r.out = ToString(ReadWholeFile(out).value_or(Bytes()));
  r.err = ToString(ReadWholeFile(err).value_or(Bytes()));
  return r;
}

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace lum::test
