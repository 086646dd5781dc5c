// The update run: carries six user settings across an update, preserves PROJECTS/LastRun,
// extracts Lumetra.zip over the application folder, starts Lumetra.exe and writes the
// settings back.
//
// The run itself decides only what happens in which order. Every effect on the outside
// world (files, the settings file, the archive engine, the window, starting a program, the
// message box) goes through UpdateEffects, so the real program and the tests drive the same
// sequence: fUpdater implements it with real files, the unit tests with an in-memory fake.
//
// Two choices go beyond the plain sequence:
// - A setting whose number does not fit its type (a 32-bit integer, or a double for "Zoom")
//   is reported with the message box "Overflow" and ends the run with status 1 before the
//   package is touched and before anything is written.
// - The package is applied as a whole or not at all: it is verified and extracted into a
//   staging folder, then committed with a journal (see update_commit.h). A package that
//   fails verification, a file that stays locked, or any failure of the commit leaves the
//   installation exactly as it was; the run then goes on as after a package that cannot be
//   opened. A run first completes or undoes whatever an interrupted run left.
// - PROJECTS/LastRun and its aside copy are never replaced by the package, and an aside copy
//   left by an interrupted run is the user's file: it is restored, never overwritten.
// - The progress bar covers the whole run (see update_progress.h): checking and staging the
//   package, then the commit, and it is full when the application is started.
// - Each step is written to the update log (Updater.log), once the settings have been read.
// - PROJECTS/LastRun is never lost: when it exists and cannot be copied aside, nothing is
//   extracted and the copy/delete shuffle is skipped (the installation stays as it was, the
//   application is still started and the settings still written); and the aside copy is
//   deleted only once it has been copied back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/install_files.h"
#include "app/update_progress.h"

#include "app/update_run_settings.h"

namespace lum::app {

// One entry of the opened package as its directory lists it.
struct PackageEntry {
  std::string name;
  std::int32_t size = 0;
  std::int32_t compressedSize = 0;
  std::int32_t method = 0;
  std::int32_t flags = 0;
};

// The platform effects of the run. Paths are UTF-8 text formed by plain appending.
// ShowProgress (ProgressSink) moves the window's bar through the commit; the archive
// object's Progress events move it while the package is checked and staged.
class UpdateEffects : public InstallFiles, public ProgressSink {
 public:
  virtual ~UpdateEffects() = default;

  // The command-line argument text, compared with the token as it is.
  virtual std::string CommandLineText() = 0;
  // The folder of the updater's executable, without a trailing separator except at a root.
  virtual std::string ApplicationFolder() = 0;
  // The separator of file-system paths ("\\" on Windows, "/" on POSIX).
  virtual std::string PathSeparator() = 0;
  // Creates the archive object and the INI file object (called once the token matched).
  virtual void CreateObjects() = 0;

  // True for an existing file (or one held open by the system); false for a missing path
  // and for a folder.
  virtual bool FileExists(const std::string& path) = 0;
  // Reads `key` in `section` of the INI file at `path`; empty text when missing.
  virtual std::string ReadSetting(const std::string& path, const std::string& section,
                                  const std::string& key) = 0;
  // Writes `key` in `section` of the INI file at `path`; false when the write failed.
  virtual bool WriteSetting(const std::string& path, const std::string& section,
                            const std::string& key, const std::string& value) = 0;
  // Copies a file, replacing an existing destination. False on failure.
  virtual bool CopyFile(const std::string& source, const std::string& destination) = 0;
  // Deletes a file. False on failure.
  virtual bool DeleteFile(const std::string& path) = 0;

  // Repaints the window at once.
  virtual void RepaintWindow() = 0;
  // True for a regular file (not a pipe or device, which the archive object would wait on).
  virtual bool IsPlainFile(const std::string& path) = 0;
  // The archive object's OpenArchive and Extract (every entry, no password).
  virtual bool OpenArchive(const std::string& archiveFile) = 0;
  virtual bool Extract(const std::string& targetFolder) = 0;
  // The entries of the opened package.
  virtual std::vector<PackageEntry> PackageEntries() = 0;
  // The first error the archive object reported during the last Extract ("" for none).
  virtual std::string ExtractError() = 0;
  // The archive object's LastError.
  virtual std::string ArchiveError() = 0;
  // Appends one line (without its line end) to the update log.
  virtual void Log(const std::string& line) = 0;
  // Starts `file` with the verb "open", owned by the window, shown in its current size and
  // position; does not wait and reports nothing.
  virtual void StartApplication(const std::string& file) = 0;
  // Shows a message box with a critical-error icon, one OK button and the caption "Updater",
  // and waits until it is closed.
  virtual void ShowError(const std::string& text) = 0;
};

class UpdateRun {
 public:
  static constexpr const char* kToken = "TOVLEX";

  explicit UpdateRun(UpdateEffects& effects) : m_effects(effects) {}

  // Performs the whole run and returns the program's exit status: 0 on every path (a wrong
  // token, a missing package, any failure of a file step) except a setting that overflows
  // its type, which gives 1.
  int Run();

  // How long the commit waits for a locked file, in steps of kLockPollMilliseconds.
  static constexpr std::uint32_t kLockWaitMilliseconds = 30000;
  static constexpr std::uint32_t kLockPollMilliseconds = 250;

  // The settings as read (or as they stayed when Settings.ini was missing).
  const CarriedSettings& Settings() const { return m_settings; }

 private:
  bool ReadSettings(const std::string& iniPath);
  void ApplyPackage(const std::string& folder, const std::string& sep, const std::string& package);
  // Verifies, stages and commits the package; logs why when it is not applied.
  void StageAndCommit(const std::string& folder, const std::string& sep,
                      const std::string& package);
  // Waits until every installed file that `staged` replaces can be replaced; false when
  // one stays locked.
  bool WaitForLockedFiles(const std::string& folder, const std::string& sep,
                          const std::vector<TreeEntry>& staged, std::string& locked);
  bool WriteSettings(const std::string& iniPath);
  // Log lines wait until the settings have been read, so that a run that ends on an
  // overflow writes nothing.
  void Log(const std::string& line);
  void StartLogging();

  bool m_bLogging = false;
  std::vector<std::string> m_pendingLog;
  bool m_bJournalStuck = false;

  UpdateEffects& m_effects;
  CarriedSettings m_settings;
};

}  // namespace lum::app
