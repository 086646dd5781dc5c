// Private-profile files on Windows: the system's own functions, called directly.
#include "platform/profile.h"

#include "platform/profile_check.h"

#include <windows.h>

#include <string>

namespace lum::platform {

std::uint32_t ProfileGetString(const char* section, const char* key, const char* defaultText,
                               char* buffer, std::uint32_t size, const char* path) {
  if (!buffer || size == 0) return 0;
  return ::GetPrivateProfileStringA(section, key, defaultText, buffer, size, path);
}

std::int32_t ProfileWriteString(const char* section, const char* key, const char* text,
                                const char* path) {
  // The system function would write a line break or a key with "=" as it is, and the file would
  // then read back other keys or sections than were written.
  if (!detail::ProfileWriteIsStorable(section, key, text)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return ::WritePrivateProfileStringA(section, key, text, path) ? 1 : 0;
}

namespace {

// One code page to another through UTF-16; `from` text may hold NUL characters.
std::string Recode(std::string_view from, UINT fromPage, UINT toPage) {
  if (from.empty()) return {};
  const int length = static_cast<int>(from.size());
  const int wideLength = ::MultiByteToWideChar(fromPage, 0, from.data(), length, nullptr, 0);
  if (wideLength <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  ::MultiByteToWideChar(fromPage, 0, from.data(), length, wide.data(), wideLength);
  const int toLength =
      ::WideCharToMultiByte(toPage, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (toLength <= 0) return {};
  std::string to(static_cast<std::size_t>(toLength), '\0');
  ::WideCharToMultiByte(toPage, 0, wide.data(), wideLength, to.data(), toLength, nullptr, nullptr);
  return to;
}

}  // namespace

std::string ProfileTextFromUtf8(std::string_view utf8) {
  return Recode(utf8, CP_UTF8, CP_ACP);
}

std::string ProfileTextToUtf8(std::string_view ansi) {
  return Recode(ansi, CP_ACP, CP_UTF8);
}

}  // namespace lum::platform
