// File existence as the update run asks for it.
#pragma once

#include <cstdint>
#include <string>

namespace lum::app {

// True when `path` names a file, or something the system holds open so that its attributes
// cannot be read (the sharing-violation error, 32). False for a missing path and a folder.
bool FileExists(const std::string& path);

// The decision of FileExists from one attribute query: its result (0xFFFFFFFF on failure)
// and the error code it left. The error code counts only when the query failed.
bool FileExistsFromQuery(std::uint32_t attributes, std::uint32_t lastError);

}  // namespace lum::app
