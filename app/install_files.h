// The file operations through which an update changes the installation: the staged
// commit, its rollback and the completion of an interrupted one use nothing else, so the
// real program and the tests (with an in-memory folder that can fail any operation) run the
// same code. All paths are UTF-8, formed by plain appending with the platform's separator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lum::app {

// One file or folder found under a folder, by its path relative to that folder.
struct TreeEntry {
  std::string relative;
  bool folder = false;
};

class InstallFiles {
 public:
  virtual ~InstallFiles() = default;

  // Everything under `folder`, every folder listed before what it holds. False when the
  // folder cannot be listed (a missing folder lists as empty and true).
  virtual bool ListTree(const std::string& folder, std::vector<TreeEntry>& entries) = 0;
  // Whether something (file or folder) exists at `path`, and whether it is a folder.
  virtual bool PathExists(const std::string& path) = 0;
  virtual bool IsFolder(const std::string& path) = 0;
  // Creates one folder; its parent must exist.
  virtual bool MakeFolder(const std::string& path) = 0;
  // Removes an empty folder.
  virtual bool RemoveFolder(const std::string& path) = 0;
  // Deletes a file.
  virtual bool RemoveFile(const std::string& path) = 0;
  // Moves a file over another in one step (same volume), as one of a group that
  // FlushVolume makes durable.
  virtual bool MoveReplace(const std::string& source, const std::string& target) = 0;
  // Puts every change made so far on the volume of `folder` on disk.
  virtual bool FlushVolume(const std::string& folder) = 0;

  // The journal: `text` becomes its whole content in one durable step (old or new content
  // after any interruption), or is appended to it and flushed before the call returns.
  virtual bool StartJournal(const std::string& path, const std::string& text) = 0;
  virtual bool AppendJournal(const std::string& path, const std::string& text) = 0;
  // The journal's content; false when there is none.
  virtual bool ReadJournal(const std::string& path, std::string& text) = 0;

  // Free bytes for this user on the volume of `folder`; false when unknown.
  virtual bool FreeSpace(const std::string& folder, std::uint64_t& bytes) = 0;
  // False while another process holds the file so that it cannot be replaced.
  virtual bool CanReplace(const std::string& path) = 0;
  // Waits about `milliseconds` while the window stays responsive.
  virtual void Wait(std::uint32_t milliseconds) = 0;
};

}  // namespace lum::app
