// ScratchDir: a fresh folder under the system's temporary folder for one test, removed with
// everything in it when the object goes away (read-only files and folders included).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace lum::test {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder itself.
  const std::filesystem::path& Path() const { return m_path; }
  std::string Str() const { return m_path.string(); }
  // `name` (a relative path) in the folder.
  std::filesystem::path Path(const std::string& name) const { return m_path / name; }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }
  // `name` in the folder as UTF-8 text, the form in which the program holds paths.
  std::string Text(const std::string& name) const;

  // Every file and folder below the folder, as relative generic paths, sorted.
  std::vector<std::string> List() const;

 private:
  std::filesystem::path m_path;
};

}  // namespace lum::test
