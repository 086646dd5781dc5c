// Windows only: UTF-8 ↔ UTF-16 at the boundary of the W functions.
#pragma once

#include <windows.h>

#include <string>

namespace lum::platform::win32 {

// UTF-8 → UTF-16 (invalid sequences become U+FFFD).
inline std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  }
  return out;
}

// UTF-16 → UTF-8 (lone surrogates become U+FFFD).
inline std::string Narrow(const wchar_t* text, std::size_t count) {
  if (count == 0) return std::string();
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), out.data(), n, nullptr,
                          nullptr);
  }
  return out;
}
inline std::string Narrow(const std::wstring& text) {
  return Narrow(text.data(), text.size());
}

}  // namespace lum::platform::win32
