// Running programs from a test (see cli_run.h).
#include "tests/support/cli_run.h"

#include <cstdlib>
#include <filesystem>

#include "platform/fs.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace lum::test {

std::string ProgramBesideTest(const std::string& name) {
  namespace fs = std::filesystem;
  return (fs::read_symlink("/proc/self/exe").parent_path() / name).string();
}

CliResult RunCaptured(const std::string& command, const std::string& out, const std::string& err) {
  const int raw = std::system(command.c_str());
  // A wait status: the exit code in bits 8-15 when the low bits (a signal) are 0.
  CliResult r{(raw & 0x7F) == 0 ? (raw >> 8) & 0xFF : -1, {}, {}};
  r.out = ReadWholeText(out).value_or("");
  r.err = ReadWholeText(err).value_or("");
  return r;
}

CliResult RunProgramIn(const std::string& folder, const std::string& program,
                       const std::string& args, const std::string& before,
                       const std::string& output) {
  const std::string out = folder + "/stdout.txt", err = folder + "/stderr.txt";
  std::filesystem::remove(out);
  const std::string command = "cd " + Quote(folder) + " && " + before + Quote(program) + " " +
                              args + " 2>" + Quote(err) + " " +
                              (output.empty() ? ">" + Quote(out) : output);
  return RunCaptured(command, out, err);
}

bool HaveTool(const std::string& name) {
  if (platform::kWindowsPaths) return false;  // the peers are native programs
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

std::string Capture(const std::string& command) {
  ScratchDir dir;
  const std::string file = dir / "out.txt";
  if (std::system((command + " >" + Quote(file)).c_str()) != 0) return {};
  return ReadWholeText(file).value_or("");
}

}  // namespace lum::test
