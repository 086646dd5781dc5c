#include "app/update_commit.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace lum::app {

namespace {

// Steps announced together in one flushed journal write: enough to keep the flushes few,
// few enough that an interrupted group undoes quickly.
constexpr std::size_t kStepsPerGroup = 128;

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// Counts the units of one stage and tells the sink at the start, at every 32nd unit (as
// the window follows every 32nd entry while staging) and at the last one.
class StageCounter {
 public:
  StageCounter(ProgressSink* sink, UpdateStage stage, std::size_t total)
      : m_sink(sink), m_stage(stage), m_total(total) {
    Show();
  }
  void Step() {
    ++m_done;
    if (m_done % 32 == 0 || m_done == m_total) Show();
  }

 private:
  void Show() {
    if (m_sink) m_sink->ShowProgress(m_stage, m_done, m_total);
  }
  ProgressSink* m_sink;
  UpdateStage m_stage;
  std::size_t m_total;
  std::size_t m_done = 0;
};

std::string FirstComponent(const std::string& relative, const std::string& sep) {
  return relative.substr(0, relative.find(sep));
}

}  // namespace

bool IsProtectedPath(const std::string& relative, const std::string& sep) {
  const std::string first = FirstComponent(relative, sep);
  for (const char* name : {"LastRun", "~UpdateStage", "~UpdateBackup", "~Update.journal",
                           "~Update.journal.new", "Updater.log"}) {
    if (SameName(first, name)) return true;
  }
  const std::string kept = "PROJECTS" + sep + "LastRun";
  return SameName(relative.substr(0, kept.size()), kept) &&
         (relative.size() == kept.size() || relative.compare(kept.size(), sep.size(), sep) == 0);
}

bool StagedCommit::Announce(const std::vector<JournalRecord>& records) {
  std::string text;
  for (const JournalRecord& record : records) text += JournalLine(record);
  return m_files.AppendJournal(m_paths.JournalFile(), text);
}

bool StagedCommit::Perform(const JournalRecord& record) {
  const std::string target = m_paths.Installed(record.relative);
  switch (record.kind) {
    case 'F':
      return m_files.MakeFolder(target);
    case 'B':
      return m_files.MoveReplace(target, m_paths.Backed(record.relative));
    case 'P':
      if (!m_files.MoveReplace(m_paths.Staged(record.relative), target)) return false;
      ++m_placed;
      return true;
  }
  return false;
}

StagedCommit::Outcome StagedCommit::Commit(const std::vector<TreeEntry>& staged,
                                           const CarriedSettings& settings, std::string& why) {
  m_placed = 0;
  // The plan: folders the installation lacks, then each file with a backup step when it
  // replaces an installed one. Backup folders are made before anything is announced.
  std::vector<JournalRecord> folders;
  std::vector<JournalRecord> files;
  std::vector<std::string> backupFolders;
  for (const TreeEntry& entry : staged) {
    const std::string target = m_paths.Installed(entry.relative);
    if (entry.folder) {
      if (!m_files.PathExists(target))
        folders.push_back({'F', entry.relative});
      else if (m_files.IsFolder(target))
        backupFolders.push_back(entry.relative);
      continue;
    }
    if (m_files.PathExists(target)) {
      if (m_files.IsFolder(target)) {
        why = entry.relative + " is a folder in the installation";
        return Outcome::kRolledBack;
      }
      files.push_back({'B', entry.relative});
    }
    files.push_back({'P', entry.relative});
  }
  // The backup folder mirrors the installed folders that may receive backups.
  bool made = m_files.MakeFolder(m_paths.Backup());
  for (std::size_t i = 0; made && i < backupFolders.size(); ++i) {
    made = m_files.MakeFolder(m_paths.Backed(backupFolders[i]));
  }
  if (!made) {
    why = "the backup folder cannot be created";
    RemoveWorkFolders();
    return Outcome::kRolledBack;
  }
  if (!m_files.StartJournal(m_paths.JournalFile(), JournalSettingsLine(settings))) {
    why = "the journal cannot be written";
    RemoveWorkFolders();
    return Outcome::kRolledBack;
  }

  std::vector<JournalRecord> announced;
  StageCounter moving(m_progress, UpdateStage::kMoving, folders.size() + files.size());
  auto run = [&](const std::vector<JournalRecord>& steps, std::size_t from,
                 std::size_t to) -> bool {
    const std::vector<JournalRecord> group(steps.begin() + static_cast<std::ptrdiff_t>(from),
                                           steps.begin() + static_cast<std::ptrdiff_t>(to));
    announced.insert(announced.end(), group.begin(), group.end());
    if (!Announce(group)) {
      why = "the journal cannot be written";
      return false;
    }
    for (const JournalRecord& record : group) {
      if (!Perform(record)) {
        why = (record.kind == 'F'   ? "folder " + record.relative + " cannot be created"
               : record.kind == 'B' ? record.relative + " cannot be moved to the backup"
                                    : record.relative + " cannot be moved into place");
        return false;
      }
      moving.Step();
    }
    return true;
  };
  if (!folders.empty() && !run(folders, 0, folders.size())) {
    return RollBack(announced, why, why);
  }
  for (std::size_t from = 0; from < files.size();) {
    std::size_t to = std::min(files.size(), from + kStepsPerGroup);
    // A file's backup and placement belong to the same group.
    if (to < files.size() && files[to].kind == 'P' && files[to - 1].kind == 'B') ++to;
    if (!run(files, from, to)) return RollBack(announced, why, why);
    from = to;
  }
  if (!m_files.FlushVolume(m_paths.folder)) {
    return RollBack(announced, why, "the changes cannot be flushed to disk");
  }
  if (!m_files.AppendJournal(m_paths.JournalFile(), kJournalCompleteLine)) {
    return RollBack(announced, why, "the journal cannot be written");
  }
  if (m_progress) m_progress->ShowProgress(UpdateStage::kFlushing, 1, 1);
  RemoveWorkFolders(m_progress);
  return Outcome::kCommitted;
}

StagedCommit::Outcome StagedCommit::RollBack(const std::vector<JournalRecord>& steps,
                                             std::string& why, const std::string& reason) {
  why = reason;
  m_placed = 0;
  if (!Undo(steps)) return Outcome::kStuck;
  RemoveWorkFolders();
  return Outcome::kRolledBack;
}

bool StagedCommit::Undo(const std::vector<JournalRecord>& steps) {
  for (int attempt = 1;; ++attempt) {
    if (UndoOnce(steps)) return true;
    if (attempt == kUndoAttempts) return false;
    m_files.Wait(kUndoRetryMilliseconds);
  }
}

bool StagedCommit::UndoOnce(const std::vector<JournalRecord>& steps) {
  m_notRestored.clear();
  std::set<std::string> backedUp;
  for (const JournalRecord& record : steps) {
    if (record.kind == 'B') backedUp.insert(record.relative);
  }
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    const std::string target = m_paths.Installed(it->relative);
    bool restored = true;
    switch (it->kind) {
      case 'P':
        // A file new to the installation was placed when it left the staging folder.
        if (!backedUp.count(it->relative) && !m_files.PathExists(m_paths.Staged(it->relative)) &&
            m_files.PathExists(target) && !m_files.IsFolder(target)) {
          restored = m_files.RemoveFile(target);
        }
        break;
      case 'B':
        // The installed file is in the backup once it left its place; moving it back also
        // replaces the staged file that may have taken its place.
        if (m_files.PathExists(m_paths.Backed(it->relative))) {
          restored = m_files.MoveReplace(m_paths.Backed(it->relative), target);
        }
        break;
      case 'F':
        if (m_files.IsFolder(target)) restored = m_files.RemoveFolder(target);
        break;
    }
    if (!restored) m_notRestored.push_back(it->relative);
  }
  return m_notRestored.empty();
}

StagedCommit::Recovery StagedCommit::Recover(std::optional<CarriedSettings>& settings) {
  std::string text;
  if (!m_files.ReadJournal(m_paths.JournalFile(), text)) {
    if (m_files.PathExists(m_paths.JournalFile())) return Recovery::kUnreadable;
    RemoveWorkFolders();  // left by a run stopped while it staged
    return Recovery::kNone;
  }
  const Journal journal = ParseJournal(text);
  if (!journal.settingsWritten) settings = journal.settings;
  if (journal.complete) {
    RemoveWorkFolders();
    return Recovery::kCompleted;
  }
  if (!Undo(journal.steps)) return Recovery::kStuck;
  RemoveWorkFolders();
  return Recovery::kUndone;
}

bool StagedCommit::RemoveWorkFolders(ProgressSink* progress) {
  // Both folders are listed before anything is removed, so the clean-up knows its total.
  struct Work {
    std::string root;
    std::vector<TreeEntry> entries;
    bool present = false;
  };
  Work work[] = {{m_paths.Staging(), {}, false}, {m_paths.Backup(), {}, false}};
  bool removed = true;
  std::size_t total = 0;
  for (Work& w : work) {
    if (!m_files.PathExists(w.root)) continue;
    if (!m_files.ListTree(w.root, w.entries)) {
      removed = false;  // what cannot be listed is left whole
      continue;
    }
    w.present = true;
    total += w.entries.size() + 1;
  }
  StageCounter counter(progress, UpdateStage::kCleaningUp, total);
  for (const Work& w : work) {
    if (!w.present) continue;
    for (auto it = w.entries.rbegin(); it != w.entries.rend(); ++it) {
      const std::string path = w.root + m_paths.sep + it->relative;
      removed = (it->folder ? m_files.RemoveFolder(path) : m_files.RemoveFile(path)) && removed;
      counter.Step();
    }
    removed = m_files.RemoveFolder(w.root) && removed;
    counter.Step();
  }
  return removed;
}

}  // namespace lum::app
