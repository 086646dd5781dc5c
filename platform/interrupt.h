// Removing a half-written file when the program is interrupted.
//
// A program that writes a new file beside its target and moves it into place only when it is
// complete must not leave the half-written file behind when the user stops it. While a
// RemoveOnInterrupt is alive, an interrupt of the program removes that file, and the program
// then ends as the interrupt ends it. Interrupts: POSIX SIGINT, SIGTERM and SIGHUP (one the
// program ignores stays ignored); Windows Ctrl+C, Ctrl+Break, closing the console, logoff and
// shutdown.
//
// POSIX removes the file in the signal handler, which may unlink a file that is still open,
// then puts back the signal's earlier action and raises it again, so that the process ends
// killed by that signal. Windows cannot delete a file that its writer holds open without
// sharing delete access: the control handler asks the program to stop (InterruptRequested
// turns true), cancels the blocking reads and writes of the thread that started the watch
// (so that one waiting on a pipe gets back to its checks, with a failed read), and gives it
// up to 10 seconds (3 when the console is closed, at logoff or shutdown, which Windows cuts
// short) to close the file and call EndInterrupted; after that it deletes what it can and
// lets Windows end the program.
#pragma once

#include <string>

namespace lum::platform {

// Watches one file at a time; a second watch replaces the first. Not copied or moved.
class RemoveOnInterrupt {
 public:
  // From now on an interrupt removes the file at `path` (as given; the program must not
  // change its current folder meanwhile).
  explicit RemoveOnInterrupt(const std::string& path);
  // Stops watching. An interrupt arriving afterwards removes nothing.
  ~RemoveOnInterrupt();
  RemoveOnInterrupt(const RemoveOnInterrupt&) = delete;
  RemoveOnInterrupt& operator=(const RemoveOnInterrupt&) = delete;
};

// True once an interrupt came while a file was watched and the program is expected to stop
// its work, remove the file and call EndInterrupted (Windows). Always false on POSIX, where
// the interrupt has ended the process by then.
bool InterruptRequested();

// Ends the process as the interrupt that InterruptRequested reported would have ended it:
// Windows exit code STATUS_CONTROL_C_EXIT (0xC000013A); POSIX raises SIGINT with its default
// action.
[[noreturn]] void EndInterrupted();

namespace testing {
// Runs the Windows control handler for Ctrl+C as Windows would, on the calling thread, but
// waiting only `waitMs` for the program before it deletes the watched file itself; returns
// whether the handler took the event (false: nothing was watched). POSIX: false.
bool RunInterruptHandler(unsigned waitMs);
}  // namespace testing

}  // namespace lum::platform
