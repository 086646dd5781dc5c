// Code pages on Windows: MultiByteToWideChar / WideCharToMultiByte with no flags and no
// default character, then UTF-16 ↔ UTF-8 for the program's text.
#include <windows.h>

#include "platform/codepage.h"
#include "platform/win32/wide.h"

namespace lum::platform {

bool MultiByteToUtf8(std::int32_t codePage, const std::uint8_t* bytes, std::size_t count,
                     std::string& text) {
  text.clear();
  if (count == 0) return true;
  const auto* src = reinterpret_cast<const char*>(bytes);
  const int n = ::MultiByteToWideChar(static_cast<UINT>(codePage), 0, src, static_cast<int>(count),
                                      nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(static_cast<UINT>(codePage), 0, src, static_cast<int>(count), wide.data(),
                        n);
  text = win32::Narrow(wide);
  return true;
}

bool Utf8ToMultiByte(std::int32_t codePage, const std::string& text,
                     std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  if (text.empty()) return true;
  const std::wstring wide = win32::Widen(text);
  const int n = ::WideCharToMultiByte(static_cast<UINT>(codePage), 0, wide.data(),
                                      static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  bytes.resize(static_cast<std::size_t>(n));
  ::WideCharToMultiByte(static_cast<UINT>(codePage), 0, wide.data(), static_cast<int>(wide.size()),
                        reinterpret_cast<char*>(bytes.data()), n, nullptr, nullptr);
  return true;
}

}  // namespace lum::platform
