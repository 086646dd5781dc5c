// POSIX side of the shell operations: see platform/shell.h for the mapping.
#include "platform/shell.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/file.h"
#include "platform/posix/descriptor.h"

namespace lum::platform {

bool InitCommonControlsEx(const CommonControlsInit&) {
  return true;
}
void InitCommonControls() {}

Library Library::Load(const char*) {
  return Library();
}
void Library::Free() {
  m_handle = 0;
}

std::string ApplicationFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return "";
  std::string path(buffer, static_cast<std::size_t>(length));
  const std::size_t cut = path.rfind('/');
  if (cut == std::string::npos) return "";
  if (cut == 0) return "/";
  return path.substr(0, cut);
}

std::string CommandLineText(int argc, char** argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

void ShowMessageBox(void*, const std::string& text, const std::string& caption, MessageIcon) {
  // The terminal ends lines with LF alone.
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    shown += text[i];
  }
  std::fflush(stdout);
  std::cerr << caption << ": " << shown << std::endl;
  if (isatty(STDIN_FILENO)) {
    std::cerr << "(press Enter)" << std::flush;
    std::string line;
    std::getline(std::cin, line);
  }
}

namespace {

// Starts argv as a grandchild so that it is neither waited for nor left as a zombie, with
// standard input from /dev/null. Returns true when the program could be started.
bool StartDetached(const char* const argv[]) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  FileHandle reportRead = FileHandle::FromNative(ends[0]);
  FileHandle reportWrite = FileHandle::FromNative(ends[1]);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    // The child and grandchild end with _exit or exec: no destructor runs here.
    reportRead.Close();
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
    execvp(argv[0], const_cast<char* const*>(argv));
    const int error = errno;
    (void)!write(posix::Fd(reportWrite), &error, sizeof error);
    _exit(127);
  }
  reportWrite.Close();
  int status = 0;
  waitpid(child, &status, 0);
  // The pipe closes on a successful exec; a failed one writes its errno first.
  int error = 0;
  const ssize_t got = read(posix::Fd(reportRead), &error, sizeof error);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && got == 0;
}

}  // namespace

std::intptr_t ShellOpen(void*, const std::string& file, int) {
  struct stat info;
  if (stat(file.c_str(), &info) != 0) return 0;
  const bool executable = S_ISREG(info.st_mode) && access(file.c_str(), X_OK) == 0;
  if (executable) {
    const char* argv[] = {file.c_str(), nullptr};
    return StartDetached(argv) ? 42 : 0;
  }
  const char* argv[] = {"xdg-open", file.c_str(), nullptr};
  return StartDetached(argv) ? 42 : 0;
}

void EndProgram(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace lum::platform
