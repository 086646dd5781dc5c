// Files for the settings tests: the shared scratch folder and whole-file helpers, and whether
// the private-profile calls are the system's.
#pragma once

#include <filesystem>

#include "platform/profile.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

namespace lum::test {

using platform::kSystemProfileFunctions;

}  // namespace lum::test
