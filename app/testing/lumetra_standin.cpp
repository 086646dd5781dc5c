// A stand-in for Lumetra.exe in the updater's end-to-end tests: records that it was started
// by writing "started" and its arguments to started.txt beside itself.
#include <fstream>
#include <string>

#include "platform/fs.h"
#include "platform/shell.h"

int main(int argc, char** argv) {
  std::ofstream out(lum::platform::ApplicationFolder() + lum::platform::kPathSeparator +
                    "started.txt");
  out << "started";
  for (int i = 1; i < argc; ++i) out << ' ' << argv[i];
  out << '\n';
  return out ? 0 : 1;
}
