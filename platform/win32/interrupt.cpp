// Removing a half-written file on Ctrl+C, Ctrl+Break, closing the console, logoff or
// shutdown.
//
// Windows runs a console control handler on a thread of its own while the program goes on.
// The file being written is open without delete sharing, so the handler cannot remove it: it
// raises the request flag, which the program polls between pieces of work, and waits for the
// program to close and remove the file and end itself through EndInterrupted. Meanwhile it
// cancels the watching thread's blocking reads and writes (a source that is a pipe may never
// deliver), so that the thread gets back to its checks. A program that does not come back in
// time is ended by Windows after the handler has tried the deletion itself.
#include <windows.h>

#include <atomic>

#include "platform/interrupt.h"
#include "platform/win32/wide.h"

namespace lum::platform {
namespace {

// The watched path, set before g_watching turns true and left alone while it is.
std::wstring g_path;
std::atomic<bool> g_watching{false};
std::atomic<bool> g_requested{false};
bool g_installed = false;
// The thread that watches (the one writing the file), for CancelSynchronousIo.
HANDLE g_thread = nullptr;

BOOL HandleControl(DWORD event, DWORD waitMs) {
  if (!g_watching.load()) return FALSE;
  g_requested.store(true);
  // Ctrl+C and Ctrl+Break leave the program as long as it needs; closing the console,
  // logoff and shutdown end it after about five seconds whatever the handler does.
  const bool cutShort = event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT;
  const DWORD limit = cutShort && waitMs > 3000 ? 3000 : waitMs;
  for (DWORD waited = 0;; waited += 50) {
    if (g_thread != nullptr) ::CancelSynchronousIo(g_thread);
    if (waited >= limit || !g_watching.load()) break;
    ::Sleep(50);
  }
  if (g_watching.load()) ::DeleteFileW(g_path.c_str());
  return FALSE;
}

BOOL WINAPI OnControl(DWORD event) {
  return HandleControl(event, 10000);
}

}  // namespace

RemoveOnInterrupt::RemoveOnInterrupt(const std::string& path) {
  g_watching.store(false);
  g_path = win32::Widen(path);
  if (!g_installed) g_installed = ::SetConsoleCtrlHandler(OnControl, TRUE) != FALSE;
  if (g_thread != nullptr) ::CloseHandle(g_thread);
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                         &g_thread, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    g_thread = nullptr;
  }
  g_watching.store(!path.empty());
}

RemoveOnInterrupt::~RemoveOnInterrupt() {
  g_watching.store(false);
}

bool InterruptRequested() {
  return g_requested.load();
}

void EndInterrupted() {
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

namespace testing {
bool RunInterruptHandler(unsigned waitMs) {
  const bool watching = g_watching.load();
  HandleControl(CTRL_C_EVENT, waitMs);
  return watching;
}
}  // namespace testing

}  // namespace lum::platform
