// A stand-in for Lumetra.exe in the updater's end-to-end tests: records that it was started
// by writing "started" and its arguments to started.txt beside itself.
//
// With `--hold FILE MILLISECONDS MARKER` it instead plays a program that keeps FILE open
// without sharing it (so that nobody can write, delete or replace it) for that long: it
// opens FILE, creates MARKER to say so, waits, and ends.
#include <fstream>
#include <string>

#include "platform/file.h"
#include "platform/fs.h"
#include "platform/shell.h"
#include "platform/update_fs.h"

int main(int argc, char** argv) {
  namespace platform = lum::platform;
  if (argc == 5 && std::string(argv[1]) == "--hold") {
    const platform::FileHandle held =
        platform::CreateFileHandle(argv[2], platform::kGenericRead, 0, platform::kOpenExisting, 0);
    if (!held) return 2;
    std::ofstream(argv[4]) << "held\n";
    platform::SleepMilliseconds(static_cast<std::uint32_t>(std::stoul(argv[3])));
    return 0;
  }
  std::ofstream out(platform::ApplicationFolder() + platform::kPathSeparator + "started.txt");
  out << "started";
  for (int i = 1; i < argc; ++i) out << ' ' << argv[i];
  out << '\n';
  return out ? 0 : 1;
}
