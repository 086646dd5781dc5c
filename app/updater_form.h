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

#include "app/update_run.h"
#include "app/updater_view.h"
#include "platform/progress_window.h"
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

 private:
  int m_argc;
  char** m_argv;
  UpdaterView m_view;
  platform::ProgressWindow m_window;
  std::unique_ptr<zip::cZipEngine> ZIP;
  std::unique_ptr<settings::clsIniFile> m_oIni;
  bool m_bRunning = false;
};

}  // namespace lum::app
