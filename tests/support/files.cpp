// Whole files for tests (see files.h).
#include "tests/support/files.h"

#include <fstream>
#include <iterator>

namespace lum::test {

bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) return false;
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

bool WriteWholeFile(const std::filesystem::path& path, const Bytes& bytes) {
  return WriteWholeFile(
      path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::optional<std::string> ReadWholeText(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::optional<Bytes> ReadWholeFile(const std::filesystem::path& path) {
  std::optional<std::string> text = ReadWholeText(path);
  if (!text) return std::nullopt;
  return Bytes(text->begin(), text->end());
}

}  // namespace lum::test
