// Standard streams on POSIX: isatty, TIOCGWINSZ and fstat.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/console.h"
#include "platform/file.h"

namespace lum::platform {
namespace {

int Fd(std::int32_t which) {
  switch (which) {
    case kStdInputHandle:
      return 0;
    case kStdOutputHandle:
      return 1;
    case kStdErrorHandle:
      return 2;
    default:
      return -1;
  }
}

}  // namespace

bool IsTerminal(std::int32_t which) {
  const int fd = Fd(which);
  return fd >= 0 && ::isatty(fd) == 1;
}

int TerminalWidth(std::int32_t which) {
  const int fd = Fd(which);
  struct winsize size {};
  if (fd < 0 || ::ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

bool IsSeekable(std::int32_t which) {
  const int fd = Fd(which);
  struct stat st {};
  return fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

void PrepareStandardStreams() {
  ::signal(SIGPIPE, SIG_IGN);
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) {
      const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
      }
    }
  }
}

}  // namespace lum::platform
