// The operating system's message text for an error code (FormatMessage on Windows).
#pragma once

#include <cstdint>
#include <string>

namespace lum::platform {

// The system's text for `code`, UTF-8, exactly as the system gives it (Windows texts end in
// a carriage return and line feed). Empty when the system has no text for the code. On
// POSIX every code of error_code.h has the text Windows gives it (without the line end), so
// messages read the same on both builds; a code carrying kErrnoCodeFlag has the strerror
// text of that errno.
std::string SystemErrorText(std::uint32_t code);

// How `code` is shown between the brackets of an error text: the code in decimal, or on
// POSIX "errno N" for a passed-through errno value N (never the marked code itself).
std::string SystemErrorNumber(std::uint32_t code);

}  // namespace lum::platform
