// The operating system's message text for an error code (FormatMessage on Windows).
#pragma once

#include <cstdint>
#include <string>

namespace lum::platform {

// The system's text for `code`, UTF-8, exactly as the system gives it (Windows texts end in
// a carriage return and line feed; POSIX texts come from strerror and have none). Empty
// when the system has no text for the code. On POSIX the codes of error_code.h map back to
// their errno value; a code carrying kErrnoCodeFlag is that errno itself.
std::string SystemErrorText(std::uint32_t code);

}  // namespace lum::platform
