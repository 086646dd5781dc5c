// Files for the settings tests: the shared scratch folder and whole-file helpers, whether the
// private-profile calls are the system's, and making a file read-only.
#pragma once

#include <filesystem>

#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace lum::test {

// Set by the build: 1 when the private-profile calls are the operating system's own.
inline constexpr bool kSystemProfileFunctions = LUM_SYSTEM_PROFILE_FUNCTIONS != 0;

inline void MakeReadOnly(const std::filesystem::path& path) {
  using std::filesystem::perms;
  std::filesystem::permissions(path, perms::owner_write | perms::group_write | perms::others_write,
                               std::filesystem::perm_options::remove);
}

}  // namespace lum::test
