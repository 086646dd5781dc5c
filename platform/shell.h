// The updater's dealings with the desktop shell: initialising the common controls, loading
// and releasing a library, the application folder, the command-line argument text, the
// message box, starting a program with the verb "open", and ending the process.
//
// POSIX: common controls and libraries do nothing; the application folder is the folder of
// /proc/self/exe; the command-line text is the one argument given (anything else never
// equals a one-word token); the message box is written to standard error; "open" starts an
// executable file as a detached process and hands any other file to xdg-open.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace lum::platform {

// The common-controls initialisation record: its size and the classes to register.
struct CommonControlsInit {
  std::uint32_t size = 8;
  std::uint32_t classes = 0x4000;  // the standard control classes
};

// Calls InitCommonControlsEx, looked up at run time in the common-controls library. Returns
// false only when it could not be called at all (the library lacks it); its own result is
// not reported. POSIX: returns true.
bool InitCommonControlsEx(const CommonControlsInit& init);
// The older initialisation without arguments. POSIX: nothing.
void InitCommonControls();

// A loaded library (LoadLibraryA / FreeLibrary), released when destroyed. Move-only.
class Library {
 public:
  Library() = default;
  // Loads `name`; Handle() is 0 when it could not be loaded. POSIX: always 0.
  static Library Load(const char* name);
  ~Library() { Free(); }
  Library(Library&& other) noexcept : m_handle(std::exchange(other.m_handle, 0)) {}
  Library& operator=(Library&& other) noexcept {
    if (this != &other) {
      Free();
      m_handle = std::exchange(other.m_handle, 0);
    }
    return *this;
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  std::uintptr_t Handle() const { return m_handle; }
  // Releases the library if one is loaded.
  void Free();

 private:
  std::uintptr_t m_handle = 0;
};

// The folder of the running executable, without a trailing separator except at a root
// ("C:\" on Windows, "/" on POSIX). Empty when it cannot be determined.
std::string ApplicationFolder();

// The command-line argument text. Windows: the process's command line after the program
// path and the blanks that separate it, as it stands (trailing blanks kept). POSIX: the
// only argument when exactly one is given; otherwise the arguments joined by blanks.
std::string CommandLineText(int argc, char** argv);

// Message box with a single OK button; waits until it is closed. `owner` is the owning
// window's native handle or nullptr. POSIX: "caption: text" on standard error, then waits
// for Enter only when standard input is a terminal.
enum class MessageIcon { kNone, kCritical };
void ShowMessageBox(void* owner, const std::string& text, const std::string& caption,
                    MessageIcon icon);

// ShellExecuteA(owner, "open", file, no parameters, no folder, show). Does not wait; the
// result is returned for callers that look (Windows: > 32 on success), 0 on failure.
std::intptr_t ShellOpen(void* owner, const std::string& file, int show);

// Ends the process at once with `status`, after flushing the standard streams.
[[noreturn]] void EndProgram(int status);

}  // namespace lum::platform
