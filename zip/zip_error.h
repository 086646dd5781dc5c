// The engine's one internal error type. Private procedures raise it; only the public
// operations of cZipEngine catch it and report it through pvSetError, so it never leaves
// the engine.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace lum::zip {

// The error number every raised engine error carries.
inline constexpr std::int32_t kZipErrorNumber = static_cast<std::int32_t>(0x80040000u);

struct ZipError {
  std::int32_t Number = kZipErrorNumber;
  std::string Source;       // the raising procedure, e.g. "pvVfsOpen"; may be empty
  std::string Description;  // the message reported as LastError
};

// Raises a ZipError with the engine's error number.
[[noreturn]] inline void pvRaise(std::string source, std::string description) {
  throw ZipError{kZipErrorNumber, std::move(source), std::move(description)};
}

}  // namespace lum::zip
