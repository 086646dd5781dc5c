// Standard streams on Windows: GetFileType and the console screen buffer.
#include <windows.h>

#include "platform/console.h"

namespace lum::platform {
namespace {

HANDLE Std(std::int32_t which) {
  return ::GetStdHandle(static_cast<DWORD>(which));
}

}  // namespace

bool IsTerminal(std::int32_t which) {
  DWORD mode = 0;
  const HANDLE h = Std(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_CHAR &&
         ::GetConsoleMode(h, &mode) != 0;
}

int TerminalWidth(std::int32_t which) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(Std(which), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool IsSeekable(std::int32_t which) {
  const HANDLE h = Std(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_DISK;
}

void PrepareStandardStreams() {}

}  // namespace lum::platform
