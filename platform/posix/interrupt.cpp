// Removing a half-written file on SIGINT, SIGTERM or SIGHUP.
//
// The handler may only make async-signal-safe calls, so the path lives in a fixed buffer and
// the handler uses unlink, sigaction and raise alone. The buffer and the flag change only
// while the three signals are blocked, so the handler never sees half a path.
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "platform/interrupt.h"

namespace lum::platform {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

// A path the kernel accepted is shorter than PATH_MAX, terminator included.
char g_path[PATH_MAX];
volatile sig_atomic_t g_watching = 0;
struct sigaction g_previous[kSignalCount];
bool g_installed[kSignalCount] = {};

void OnInterrupt(int signal) {
  if (g_watching) ::unlink(g_path);
  for (int i = 0; i < kSignalCount; ++i) {
    if (kSignals[i] == signal) ::sigaction(signal, &g_previous[i], nullptr);
  }
  // Blocked while this handler runs; delivered with the earlier action when it returns.
  ::raise(signal);
}

// Blocks the three signals for its lifetime.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kSignals) sigaddset(&set, s);
    ::sigprocmask(SIG_BLOCK, &set, &m_old);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &m_old, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t m_old;
};

}  // namespace

RemoveOnInterrupt::RemoveOnInterrupt(const std::string& path) {
  SignalsHeld held;
  g_watching = 0;
  if (path.empty() || path.size() >= sizeof g_path) return;
  std::memcpy(g_path, path.c_str(), path.size() + 1);
  for (int i = 0; i < kSignalCount; ++i) {
    struct sigaction current;
    if (::sigaction(kSignals[i], nullptr, &current) != 0) continue;
    // Ignored (nohup, a background job): it stays ignored.
    if (current.sa_handler == SIG_IGN || current.sa_handler == OnInterrupt) continue;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals) sigaddset(&action.sa_mask, s);
    if (::sigaction(kSignals[i], &action, &g_previous[i]) == 0) g_installed[i] = true;
  }
  g_watching = 1;
}

RemoveOnInterrupt::~RemoveOnInterrupt() {
  SignalsHeld held;
  g_watching = 0;
  for (int i = 0; i < kSignalCount; ++i) {
    if (g_installed[i]) ::sigaction(kSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
}

bool InterruptRequested() {
  return false;
}

void EndInterrupted() {
  ::signal(SIGINT, SIG_DFL);
  ::raise(SIGINT);
  ::_exit(128 + SIGINT);
}

namespace testing {
bool RunInterruptHandler(unsigned) {
  return false;
}
}  // namespace testing

}  // namespace lum::platform
