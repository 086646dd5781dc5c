// Running a built program of this project from a test, through the shell: where it lies,
// and its exit status and captured output.
#pragma once

#include <string>

namespace lum::test {

struct CliResult {
  int status;  // the exit code, -1 when a signal ended the program
  std::string out, err;
};

// The path of the program `name` in the folder of the running test program (native builds,
// read through /proc/self/exe).
std::string ProgramBesideTest(const std::string& name);

// Runs the shell `command`, which sends the program's standard output to the file `out` and
// its standard error to `err`, and returns the exit status with both files' text.
CliResult RunCaptured(const std::string& command, const std::string& out, const std::string& err);

// True when the shell finds the command `name`.
bool HaveTool(const std::string& name);

}  // namespace lum::test
