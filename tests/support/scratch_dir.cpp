// A scratch folder for one test (see scratch_dir.h).
#include "tests/support/scratch_dir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <system_error>

namespace lum::test {

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  const auto base = std::filesystem::temp_directory_path();
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  // Test programs run in parallel: a name another one took is passed over.
  for (int attempt = 0;; ++attempt) {
    m_path = base / ("lum_test_" + std::to_string(stamp % 1000000007) + "_" +
                     std::to_string(counter++) + "_" + std::to_string(attempt));
    std::error_code ec;
    if (std::filesystem::create_directory(m_path, ec)) break;
  }
}

ScratchDir::~ScratchDir() {
  namespace fs = std::filesystem;
  std::error_code ignored;
  // Tests make files and folders read-only; owner rights back first, so all can go.
  for (const auto& entry : fs::recursive_directory_iterator(m_path, ignored)) {
    if (!entry.is_symlink(ignored)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(m_path, ignored);
}

std::string ScratchDir::Text(const std::string& name) const {
  const auto text = Path(name).u8string();
  return std::string(text.begin(), text.end());
}

std::vector<std::string> ScratchDir::List() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::recursive_directory_iterator(m_path)) {
    names.push_back(std::filesystem::relative(e.path(), m_path).generic_string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace lum::test
