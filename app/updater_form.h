// fUpdater: the updater's only window. It owns the window model and the native window,
// the archive object ZIP (whose Progress event it answers) and the INI file object m_oIni,
// and it is the real-world side of the update run: every UpdateEffects member acts on real
// files, the real settings file, the real archive engine and the shell.
//
// Life: Show loads the window (the green bar starts empty) and shows it; its first
// activation performs the update run, which ends the program on every path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/update_run.h"
#include "app/updater_view.h"
#include "platform/progress_window.h"
#include "platform/update_fs.h"
#include "settings/ini_file.h"
#include "zip/zip_engine.h"
#include "zip/zip_events.h"

namespace lum::app {

class fUpdater final : public UpdateEffects,
                       public platform::ProgressWindowEvents,
                       public zip::cZipEngineEvents {
 public:
  // `argc`/`argv` are the program's, for the command-line text.
  fUpdater(int argc, char** argv);
  ~fUpdater() override;

  // Loads and shows the window without waiting. False when the window could not be
  // created, with the system's error code and text.
  bool Show(std::uint32_t& error, std::string& errorText);

  // Progress handler: every 32nd entry sets the bar's caption and width, repaints and lets
  // the window system process pending messages. Never cancels.
  void ZIP_Progress(std::int32_t FileIdx, std::int32_t Current, std::int32_t Total, bool& Cancel);

  // platform::ProgressWindowEvents
  void Load() override;
  void Activate() override;
  void QueryUnload(bool& cancel) override;

  // zip::cZipEngineEvents
  void Progress(std::int32_t FileIdx, std::int32_t Current, std::int32_t Total,
                bool& Cancel) override {
    ZIP_Progress(FileIdx, Current, Total, Cancel);
  }
  // The first error of an extraction is kept for the run and stops it: a package with one
  // bad entry is not applied at all.
  void Error(std::int32_t FileIdx, std::string& Source, std::string& Description,
             bool& Cancel) override;

  // UpdateEffects
  std::string CommandLineText() override;
  std::string ApplicationFolder() override;
  std::string PathSeparator() override;
  void CreateObjects() override;
  bool FileExists(const std::string& path) override;
  std::string ReadSetting(const std::string& path, const std::string& section,
                          const std::string& key) override;
  bool WriteSetting(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) override;
  bool CopyFile(const std::string& source, const std::string& destination) override;
  bool DeleteFile(const std::string& path) override;
  void RepaintWindow() override;
  bool OpenArchive(const std::string& archiveFile) override;
  bool Extract(const std::string& targetFolder) override;
  void StartApplication(const std::string& file) override;
  void ShowError(const std::string& text) override;
  std::vector<PackageEntry> PackageEntries() override;
  bool IsPlainFile(const std::string& path) override { return platform::IsRegularFile(path); }
  std::string ExtractError() override;
  std::string ArchiveError() override { return ZIP ? ZIP->LastError() : std::string(); }
  void Log(const std::string& line) override;
  // The bar through the commit and at the end of the run; repaints and processes pending
  // messages when it moved.
  void ShowProgress(UpdateStage stage, std::size_t done, std::size_t total) override;

  // InstallFiles
  bool ListTree(const std::string& folder, std::vector<TreeEntry>& entries) override;
  bool PathExists(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  bool MakeFolder(const std::string& path) override;
  bool RemoveFolder(const std::string& path) override;
  bool RemoveFile(const std::string& path) override;
  bool MoveReplace(const std::string& source, const std::string& target) override;
  bool FlushVolume(const std::string& folder) override;
  bool StartJournal(const std::string& path, const std::string& text) override;
  bool AppendJournal(const std::string& path, const std::string& text) override;
  bool ReadJournal(const std::string& path, std::string& text) override;
  bool FreeSpace(const std::string& folder, std::uint64_t& bytes) override;
  bool CanReplace(const std::string& path) override;
  void Wait(std::uint32_t milliseconds) override;

 private:
  int m_argc;
  char** m_argv;
  UpdaterView m_view;
  platform::ProgressWindow m_window;
  std::unique_ptr<zip::cZipEngine> ZIP;
  std::unique_ptr<settings::clsIniFile> m_oIni;
  bool m_bRunning = false;
  std::string m_sExtractError;
  std::string m_sExtractTarget;
  std::vector<std::string> m_folderEntries;  // folder entries reported during Extract
  bool m_bLogChecked = false;
};

}  // namespace lum::app
