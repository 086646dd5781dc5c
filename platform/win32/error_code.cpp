// The last-error code and system error texts on Windows.
#include <windows.h>

#include "platform/error_code.h"
#include "platform/error_text.h"
#include "platform/win32/wide.h"

namespace lum::platform {

std::uint32_t GetLastErrorCode() {
  return ::GetLastError();
}
void SetLastErrorCode(std::uint32_t code) {
  ::SetLastError(code);
}

std::string SystemErrorText(std::uint32_t code) {
  // The system message table, inserts ignored, default language, a 2000-character buffer.
  wchar_t buffer[2000];
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buffer, 2000, nullptr);
  return win32::Narrow(buffer, n);
}

std::string SystemErrorNumber(std::uint32_t code) {
  return std::to_string(static_cast<std::int32_t>(code));
}

}  // namespace lum::platform
