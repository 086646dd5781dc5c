// Whole files for tests: exact bytes written and read back, with no translation of line ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lum::test {

using Bytes = std::vector<std::uint8_t>;

// Makes `path` hold exactly `bytes` (created or replaced); false when it cannot be written.
bool WriteWholeFile(const std::filesystem::path& path, const Bytes& bytes);
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// Every byte of `path`; nothing when it cannot be opened (missing, a folder on some systems).
std::optional<Bytes> ReadWholeFile(const std::filesystem::path& path);
// The same bytes as a string.
std::optional<std::string> ReadWholeText(const std::filesystem::path& path);

// Removes every write permission of `path` (on Windows: sets the read-only attribute).
inline void MakeReadOnly(const std::filesystem::path& path) {
  using std::filesystem::perms;
  std::filesystem::permissions(path, perms::owner_write | perms::group_write | perms::others_write,
                               std::filesystem::perm_options::remove);
}

}  // namespace lum::test
