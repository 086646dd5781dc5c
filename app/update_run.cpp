#include "app/update_run.h"

#include <optional>

#include "app/number_text.h"

namespace lum::app {

namespace {

// A 32-bit setting: its section, key, the member it fills and the value for empty text.
struct IntSetting {
  const char* section;
  const char* key;
  std::int32_t CarriedSettings::*member;
  std::int32_t whenEmpty;
};

// Reading order after "Zoom".
constexpr IntSetting kReadOrder[] = {
    {"Sound", "Enabled", &CarriedSettings::m_lSoundEnabled, -1},
    {"Display", "LockImageZoom", &CarriedSettings::m_lLockImageZoom, -1},
    {"Resize", "Mode", &CarriedSettings::m_lResizeMode, 2},
    {"Resize", "Value", &CarriedSettings::m_lResizeValue, 360},
    {"Prefix", "Mode", &CarriedSettings::m_lPrefixMode, 0},
};

// Writing order after "Zoom"; "Ask" under "Shortcut" follows them.
constexpr IntSetting kWriteOrder[] = {
    kReadOrder[1], kReadOrder[0], kReadOrder[2], kReadOrder[3], kReadOrder[4],
};

}  // namespace

int UpdateRun::Run() {
  if (m_effects.CommandLineText() != kToken) return 0;
  m_effects.CreateObjects();

  const std::string folder = m_effects.ApplicationFolder();
  const std::string sep = m_effects.PathSeparator();
  const std::string iniPath = folder + sep + "Settings.ini";
  if (m_effects.FileExists(iniPath) && !ReadSettings(iniPath)) {
    m_effects.ShowError("Overflow");
    return 1;
  }

  // From here on a step that fails is skipped and the run goes on.
  const std::string package = folder + sep + "Lumetra.zip";
  if (m_effects.FileExists(package)) {
    ApplyPackage(folder, sep, package);
    m_effects.StartApplication(folder + sep + "Lumetra.exe");
  } else {
    m_effects.ShowError("Can't Find\r\n" + folder + sep + "Lumetra.zip");
  }
  WriteSettings(iniPath);
  return 0;
}

bool UpdateRun::ReadSettings(const std::string& iniPath) {
  const std::optional<double> zoom =
      ReadAsNumber(m_effects.ReadSetting(iniPath, "Display", "Zoom"));
  if (!zoom) return false;
  m_settings.m_dZoom = *zoom == 0 ? 1.0 : *zoom;

  for (const IntSetting& setting : kReadOrder) {
    const std::string text = m_effects.ReadSetting(iniPath, setting.section, setting.key);
    if (text.empty()) {
      m_settings.*setting.member = setting.whenEmpty;
      continue;
    }
    const std::optional<double> number = ReadAsNumber(text);
    if (!number) return false;
    const std::optional<std::int32_t> rounded = RoundToInt32(*number);
    if (!rounded) return false;
    m_settings.*setting.member = *rounded;
  }
  return true;
}

void UpdateRun::ApplyPackage(const std::string& folder, const std::string& sep,
                             const std::string& package) {
  const std::string kept = folder + sep + "PROJECTS" + sep + "LastRun";
  const std::string aside = folder + sep + "LastRun";

  // The user's PROJECTS/LastRun must survive the update: if it exists but cannot be put
  // aside, leave the installation as it is rather than let the package replace it.
  const bool keptExists = m_effects.FileExists(kept);
  const bool copiedAside = m_effects.CopyFile(kept, aside);
  if (keptExists && !copiedAside) return;

  m_effects.RepaintWindow();
  m_effects.OpenArchive(package);
  m_effects.Extract(folder);

  m_effects.DeleteFile(kept);
  // The aside copy (this run's, or one an earlier run left behind) is removed only once it
  // is back in place.
  if (m_effects.CopyFile(aside, kept)) m_effects.DeleteFile(aside);
}

void UpdateRun::WriteSettings(const std::string& iniPath) {
  m_effects.WriteSetting(iniPath, "Display", "Zoom", DoubleToText(m_settings.m_dZoom));
  for (const IntSetting& setting : kWriteOrder) {
    m_effects.WriteSetting(iniPath, setting.section, setting.key,
                           Int32ToText(m_settings.*setting.member));
  }
  m_effects.WriteSetting(iniPath, "Shortcut", "Ask", "0");
}

}  // namespace lum::app
