// Running programs from a test through the shell: built programs of this project (where they
// lie, their exit status and captured output) and the other tools the interop tests compare
// with.
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

// Runs `program` with `args` (shell syntax) in `folder`, capturing its standard output and
// error in files there. `before` comes first in the command line (such as "cat a.zip | "),
// and `output`, when given, replaces the capture of standard output (such as "| cat >file" or
// ">/dev/full"; the captured text is then empty).
CliResult RunProgramIn(const std::string& folder, const std::string& program,
                       const std::string& args, const std::string& before = {},
                       const std::string& output = {});

// True when the shell finds the command `name`. Always false in the Windows build, whose
// tests cannot run the native tools.
bool HaveTool(const std::string& name);

// `text` as one shell word: in single quotes, each single quote written as '\''.
std::string Quote(const std::string& text);

// Runs the shell `command` with its output and errors discarded; the system() status.
int Shell(const std::string& command);

// The standard output of the shell `command`; empty when it fails.
std::string Capture(const std::string& command);

}  // namespace lum::test
