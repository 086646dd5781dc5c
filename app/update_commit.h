// The staged commit of an update: moving a verified, fully extracted package from the
// staging folder into the installation so that any failure or interruption leaves the
// installation exactly as it was or exactly as the package makes it.
//
// Each installed file that the package replaces is first moved into the backup folder,
// then the staged file is moved into its place; every such move is a rename on the same
// volume. Before each group of steps the journal announces them and is flushed to disk.
// When every step is done, the volume is flushed and the journal records completion; only
// then are the backups dropped. A failure before that point moves every backup back and
// removes what was added; a run that finds an unfinished journal does the same first.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/install_files.h"
#include "app/update_journal.h"
#include "app/update_progress.h"
#include "app/update_run_settings.h"

namespace lum::app {

// Where the update keeps its work inside the application folder.
struct UpdatePaths {
  std::string folder;  // the application folder
  std::string sep;     // the separator of file-system paths

  std::string Staging() const { return folder + sep + "~UpdateStage"; }
  std::string Backup() const { return folder + sep + "~UpdateBackup"; }
  std::string JournalFile() const { return folder + sep + "~Update.journal"; }
  std::string Installed(const std::string& relative) const { return folder + sep + relative; }
  std::string Staged(const std::string& relative) const { return Staging() + sep + relative; }
  std::string Backed(const std::string& relative) const { return Backup() + sep + relative; }
};

// True for a path (relative to the application folder) that no package may replace: the
// user's PROJECTS/LastRun, its aside copy LastRun, the update's own work folders, journal
// and log. Compared without regard to ASCII letter case, as Windows compares names.
bool IsProtectedPath(const std::string& relative, const std::string& sep);

class StagedCommit {
 public:
  enum class Outcome {
    kCommitted,   // the installation is the new one
    kRolledBack,  // the installation is the old one
    kStuck,       // undoing failed; the journal stays for the next run to finish the undo
  };

  // `progress`, when given, is told how far a Commit has got: the moving, flushing and
  // clean-up stages, at every 32nd unit and at the end of each.
  StagedCommit(InstallFiles& files, UpdatePaths paths, ProgressSink* progress = nullptr)
      : m_files(files), m_paths(std::move(paths)), m_progress(progress) {}

  // Moves every staged file and folder of `staged` (as listed under the staging folder)
  // into the installation, journaled, with `settings` recorded first so that a later run
  // can still write the user's values back. `why` says what failed when the outcome is not
  // kCommitted. Protected paths must already be left out of `staged`.
  Outcome Commit(const std::vector<TreeEntry>& staged, const CarriedSettings& settings,
                 std::string& why);

  // Finds a journal left by an interrupted run and completes it (when it recorded
  // completion) or undoes it; removes leftover staging and backup folders. `settings`
  // receives the user's values recorded in the journal, unless the journal says they were
  // written back to the settings file since. A journal that is there but cannot be read
  // leaves everything as it is (kUnreadable): the backups may be the only copy of the
  // installation's files.
  enum class Recovery { kNone, kCompleted, kUndone, kStuck, kUnreadable };
  Recovery Recover(std::optional<CarriedSettings>& settings);

  // Undoing is tried a few times, waiting in between, before it counts as failed: a file
  // that a virus scanner or the closing application holds is usually let go of soon.
  static constexpr int kUndoAttempts = 3;
  static constexpr std::uint32_t kUndoRetryMilliseconds = 500;
  // What the last undo (of a Commit that failed, or of Recover) could not put back, by
  // path relative to the application folder, last step first.
  const std::vector<std::string>& NotRestored() const { return m_notRestored; }

  // Removes the staging and backup folders with everything in them.
  bool RemoveWorkFolders() { return RemoveWorkFolders(nullptr); }

  // The number of files moved into place by the last Commit.
  std::size_t Placed() const { return m_placed; }

 private:
  bool Announce(const std::vector<JournalRecord>& records);
  bool Perform(const JournalRecord& record);
  // Undoes the announced steps, last first; true when all of them are undone. Tries
  // kUndoAttempts times.
  bool Undo(const std::vector<JournalRecord>& steps);
  bool UndoOnce(const std::vector<JournalRecord>& steps);
  Outcome RollBack(const std::vector<JournalRecord>& steps, std::string& why,
                   const std::string& reason);
  // `progress`, when given, is told of every removal (kCleaningUp).
  bool RemoveWorkFolders(ProgressSink* progress);

  InstallFiles& m_files;
  UpdatePaths m_paths;
  ProgressSink* m_progress;
  std::size_t m_placed = 0;
  std::vector<std::string> m_notRestored;
};

}  // namespace lum::app
