#include "app/update_run.h"

#include <optional>

#include "app/number_text.h"
#include "app/update_commit.h"
#include "app/update_journal.h"

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

// Names for the log: the first few, then how many more.
std::string NameList(const std::vector<std::string>& names) {
  constexpr std::size_t kShown = 5;
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kShown; ++i) {
    text += (i ? ", " : "") + names[i];
  }
  if (names.size() > kShown) text += " and " + std::to_string(names.size() - kShown) + " more";
  return text;
}

}  // namespace

int UpdateRun::Run() {
  if (m_effects.CommandLineText() != kToken) return 0;
  m_effects.CreateObjects();

  const std::string folder = m_effects.ApplicationFolder();
  const std::string sep = m_effects.PathSeparator();
  const std::string iniPath = folder + sep + "Settings.ini";
  Log("token accepted");

  // Whatever an interrupted run left is completed or undone before anything else; its
  // journal holds the user's settings as that run read them, which the settings file may
  // no longer hold (a package can carry its own Settings.ini).
  std::optional<CarriedSettings> journalSettings;
  StagedCommit recovery(m_effects, UpdatePaths{folder, sep});
  switch (recovery.Recover(journalSettings)) {
    case StagedCommit::Recovery::kNone:
      break;
    case StagedCommit::Recovery::kCompleted:
      Log("an interrupted update was completed");
      break;
    case StagedCommit::Recovery::kUndone:
      Log("an interrupted update was undone: the installation is the one before it");
      break;
    case StagedCommit::Recovery::kStuck:
      m_bJournalStuck = true;
      Log("an interrupted update could not be undone (not restored: " +
          NameList(recovery.NotRestored()) + "); the next run tries again");
      break;
    case StagedCommit::Recovery::kUnreadable:
      m_bJournalStuck = true;
      Log("the journal of an interrupted update cannot be read; nothing is changed until a run "
          "can read it");
      break;
  }

  if (journalSettings) {
    m_settings = *journalSettings;
    Log("settings taken from the interrupted update's journal");
  } else if (m_effects.FileExists(iniPath)) {
    if (!ReadSettings(iniPath)) {
      m_effects.ShowError("Overflow");
      return 1;
    }
    Log("settings read from Settings.ini");
  } else {
    Log("no Settings.ini: settings start at 0");
  }
  StartLogging();

  // From here on a step that fails is skipped and the run goes on.
  const std::string package = folder + sep + "Lumetra.zip";
  if (m_effects.FileExists(package)) {
    ApplyPackage(folder, sep, package);
    m_effects.ShowProgress(UpdateStage::kFinished, 1, 1);
    m_effects.StartApplication(folder + sep + "Lumetra.exe");
    Log("application started");
  } else {
    Log("no package Lumetra.zip");
    m_effects.ShowError("Can't Find\r\n" + folder + sep + "Lumetra.zip");
  }
  const bool written = WriteSettings(iniPath);
  Log(written ? "settings written" : "settings could not all be written");
  // The journal is kept until the user's settings are back in the file. One that stays (an
  // undo still to finish, or a journal that cannot be removed) then says that they are, so
  // that the next run reads them from the file, with whatever the user changed meanwhile,
  // instead of the older values of the journal.
  const std::string journal = UpdatePaths{folder, sep}.JournalFile();
  if (m_effects.PathExists(journal) && (m_bJournalStuck || !m_effects.RemoveFile(journal)) &&
      written) {
    m_effects.AppendJournal(journal, kJournalSettingsWrittenLine);
  }
  return 0;
}

void UpdateRun::Log(const std::string& line) {
  if (m_bLogging)
    m_effects.Log(line);
  else
    m_pendingLog.push_back(line);
}

void UpdateRun::StartLogging() {
  m_bLogging = true;
  for (const std::string& line : m_pendingLog) m_effects.Log(line);
  m_pendingLog.clear();
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

  // An aside copy left by an interrupted run is the user's file: put it back first, and
  // never copy over it while it is the only copy.
  if (m_effects.FileExists(aside)) {
    if (m_effects.CopyFile(aside, kept) && m_effects.DeleteFile(aside)) {
      Log("PROJECTS/LastRun restored from the aside copy an interrupted run left");
    }
  }
  // The user's PROJECTS/LastRun must survive the update: if it exists but cannot be put
  // aside, leave the installation as it is rather than risk it.
  const bool keptExists = m_effects.FileExists(kept);
  if (!m_effects.FileExists(aside)) {
    const bool copiedAside = m_effects.CopyFile(kept, aside);
    if (keptExists && !copiedAside) {
      Log("package not applied: PROJECTS/LastRun cannot be copied aside");
      return;
    }
  }

  m_effects.RepaintWindow();
  if (m_bJournalStuck) {
    Log("package not applied: an interrupted update is still to be undone");
  } else {
    StageAndCommit(folder, sep, package);
  }

  // The aside copy (this run's, or one an earlier run left behind) is removed only once it
  // is back in place.
  if (m_effects.CopyFile(aside, kept)) m_effects.DeleteFile(aside);
}

void UpdateRun::StageAndCommit(const std::string& folder, const std::string& sep,
                               const std::string& package) {
  const UpdatePaths paths{folder, sep};
  StagedCommit commit(m_effects, paths, &m_effects);
  auto notApplied = [&](const std::string& why) {
    Log("package not applied: " + why + "; the installation is unchanged");
    commit.RemoveWorkFolders();
  };

  if (!m_effects.IsPlainFile(package)) {
    notApplied("it is not a regular file");
    return;
  }
  if (!m_effects.OpenArchive(package)) {
    notApplied("it cannot be opened (" + m_effects.ArchiveError() + ")");
    return;
  }
  // Everything the directory says is checked before a byte is written.
  const std::vector<PackageEntry> entries = m_effects.PackageEntries();
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PackageEntry& e = entries[i];
    const std::string which = "entry " + std::to_string(i + 1) + " (" + e.name + ")";
    if (e.size < 0 || e.compressedSize < 0) return notApplied(which + " has an unsupported size");
    if (e.method != 0 && e.method != 8) return notApplied(which + " uses an unsupported method");
    if ((e.flags & 1) != 0) return notApplied(which + " is encrypted");
    total += static_cast<std::uint64_t>(e.size);
  }
  // Staging needs the whole uncompressed package, plus the space files take beyond their
  // bytes and room for the journal and the log.
  const std::uint64_t needed = total + entries.size() * 4096u + (1u << 20);
  std::uint64_t free = 0;
  if (m_effects.FreeSpace(folder, free) && free < needed) {
    return notApplied("not enough free space (" + std::to_string(needed) + " bytes needed, " +
                      std::to_string(free) + " free)");
  }

  commit.RemoveWorkFolders();
  if (!m_effects.MakeFolder(paths.Staging())) {
    return notApplied("the staging folder cannot be created");
  }
  const bool extracted = m_effects.Extract(paths.Staging());
  const std::string error = m_effects.ExtractError();
  if (!error.empty() || (!extracted && !entries.empty())) {
    return notApplied("it failed verification (" +
                      (error.empty() ? m_effects.ArchiveError() : error) + ")");
  }
  Log("package verified: " + std::to_string(entries.size()) + " entries, " + std::to_string(total) +
      " bytes");

  std::vector<TreeEntry> listed;
  if (!m_effects.ListTree(paths.Staging(), listed)) {
    return notApplied("the staging folder cannot be listed");
  }
  std::vector<TreeEntry> staged;
  for (const TreeEntry& entry : listed) {
    if (!IsProtectedPath(entry.relative, sep)) staged.push_back(entry);
  }
  Log("staged " + std::to_string(staged.size()) + " files and folders");

  std::string locked;
  if (!WaitForLockedFiles(folder, sep, staged, locked)) {
    return notApplied(locked + " stayed in use by another program");
  }

  std::string why;
  switch (commit.Commit(staged, m_settings, why)) {
    case StagedCommit::Outcome::kCommitted:
      Log("committed: " + std::to_string(commit.Placed()) + " files in place");
      break;
    case StagedCommit::Outcome::kRolledBack:
      Log("rolled back: " + why + "; the installation is unchanged");
      commit.RemoveWorkFolders();
      break;
    case StagedCommit::Outcome::kStuck:
      m_bJournalStuck = true;
      Log("rollback incomplete after: " + why +
          "; not restored: " + NameList(commit.NotRestored()) + "; the next run finishes it");
      break;
  }
}

bool UpdateRun::WaitForLockedFiles(const std::string& folder, const std::string& sep,
                                   const std::vector<TreeEntry>& staged, std::string& locked) {
  std::uint32_t waited = 0;
  for (const TreeEntry& entry : staged) {
    if (entry.folder) continue;
    const std::string target = folder + sep + entry.relative;
    while (!m_effects.CanReplace(target)) {
      if (waited >= kLockWaitMilliseconds) {
        locked = entry.relative;
        return false;
      }
      m_effects.Wait(kLockPollMilliseconds);
      waited += kLockPollMilliseconds;
    }
  }
  return true;
}

bool UpdateRun::WriteSettings(const std::string& iniPath) {
  bool written =
      m_effects.WriteSetting(iniPath, "Display", "Zoom", DoubleToText(m_settings.m_dZoom));
  for (const IntSetting& setting : kWriteOrder) {
    written = m_effects.WriteSetting(iniPath, setting.section, setting.key,
                                     Int32ToText(m_settings.*setting.member)) &&
              written;
  }
  return m_effects.WriteSetting(iniPath, "Shortcut", "Ask", "0") && written;
}

}  // namespace lum::app
