// Windows side of the shell operations: common controls, libraries, the application folder,
// the command-line text, the message box, ShellExecuteA and ending the process.
#include "platform/shell.h"

#include <windows.h>
// after windows.h, which they rely on
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "platform/win32/wide.h"

namespace lum::platform {

namespace {

// UTF-8 → the ANSI code page, for the A functions.
std::string ToAnsi(const std::string& text) {
  const std::wstring wide = win32::Widen(text);
  if (wide.empty()) return std::string();
  const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                          nullptr, nullptr);
  }
  return out;
}

}  // namespace

bool InitCommonControlsEx(const CommonControlsInit& init) {
  // Looked up at run time: a common-controls library without the extended call must not
  // keep the program from starting.
  using InitExFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  HMODULE comctl = ::GetModuleHandleW(L"comctl32.dll");
  if (comctl == nullptr) comctl = ::LoadLibraryW(L"comctl32.dll");
  if (comctl == nullptr) return false;
  const FARPROC found = ::GetProcAddress(comctl, "InitCommonControlsEx");
  if (found == nullptr) return false;
  // Through a generic function pointer: GetProcAddress's type says nothing about the export.
  const auto initEx = reinterpret_cast<InitExFunction>(reinterpret_cast<void (*)()>(found));
  INITCOMMONCONTROLSEX record;
  record.dwSize = init.size;
  record.dwICC = init.classes;
  initEx(&record);
  return true;
}

void InitCommonControls() {
  ::InitCommonControls();
}

Library Library::Load(const char* name) {
  Library library;
  library.m_handle = reinterpret_cast<std::uintptr_t>(::LoadLibraryA(name));
  return library;
}

void Library::Free() {
  if (m_handle != 0) ::FreeLibrary(reinterpret_cast<HMODULE>(m_handle));
  m_handle = 0;
}

std::string ApplicationFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::string();
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t cut = path.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return std::string();
  std::wstring folder = path.substr(0, cut);
  if (folder.size() == 2 && folder[1] == L':') folder += L'\\';  // the root of a drive
  return win32::Narrow(folder);
}

std::string CommandLineText(int, char**) {
  const wchar_t* p = ::GetCommandLineW();
  if (p == nullptr) return std::string();
  // Skip the program path (quoted or not), then the blanks that separate the arguments.
  if (*p == L'"') {
    ++p;
    while (*p != L'\0' && *p != L'"') ++p;
    if (*p == L'"') ++p;
  } else {
    while (*p != L'\0' && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return win32::Narrow(std::wstring(p));
}

void ShowMessageBox(void* owner, const std::string& text, const std::string& caption,
                    MessageIcon icon) {
  UINT type = MB_OK;
  if (icon == MessageIcon::kCritical) type |= MB_ICONERROR;
  ::MessageBoxW(static_cast<HWND>(owner), win32::Widen(text).c_str(), win32::Widen(caption).c_str(),
                type);
}

std::intptr_t ShellOpen(void* owner, const std::string& file, int show) {
  // Some file types are opened through COM; the shell expects an apartment.
  static const HRESULT com =
      ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  (void)com;
  const std::string ansi = ToAnsi(file);
  const HINSTANCE result =
      ::ShellExecuteA(static_cast<HWND>(owner), "open", ansi.c_str(), nullptr, nullptr, show);
  return reinterpret_cast<std::intptr_t>(result);
}

void EndProgram(int status) {
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(status));
}

}  // namespace lum::platform
