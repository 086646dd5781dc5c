// Test helper: a fresh folder under the system's temporary folder, removed with everything
// in it when the object goes away. Paths are UTF-8 with the platform's separator.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/fs.h"

namespace lum::test {

class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    m_path = std::filesystem::temp_directory_path() /
             ("lum_test_" + std::to_string(stamp) + "_" + std::to_string(counter++));
    std::filesystem::create_directories(m_path);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder itself, without a trailing separator.
  std::string Path() const { return m_path.string(); }
  // `relative` (with "/" separators) under the folder, in native form.
  std::string operator/(const std::string& relative) const {
    std::string out = Path();
    out += platform::kPathSeparator;
    for (char c : relative) out += c == '/' ? platform::kPathSeparator : c;
    return out;
  }

  static void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
  }
  static std::string ReadText(const std::string& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path m_path;
};

}  // namespace lum::test
