// The update journal: a small text file beside the installation that says, before each
// step of a commit happens, what that step is, so that a run interrupted at any moment can
// be undone (or, once it is recorded as complete, finished) by the next run.
//
// One record per line:
//   S <zoom> <sound> <lock> <mode> <value> <prefix>   the user's settings as the run read them
//   F <relative folder>                               a folder is about to be created
//   B <relative file>                                 the installed file is about to be moved
//                                                     to the backup folder
//   P <relative file>                                 the staged file is about to be moved in
//   C                                                 every step is done and on disk
//   W                                                 the settings have been written back
//                                                     (the journal stayed after its run)
// Paths are relative to the application folder; "%", CR and LF in them are written as
// "%25", "%0D" and "%0A". A record is announced before its step, so a recorded step may not
// have happened; undoing looks at what is on disk, which makes every undo step safe to
// repeat.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/update_run_settings.h"

namespace lum::app {

struct JournalRecord {
  char kind = 0;  // 'F', 'B' or 'P'
  std::string relative;
};

struct Journal {
  std::optional<CarriedSettings> settings;
  std::vector<JournalRecord> steps;
  bool complete = false;
  // A run wrote the settings back while the journal stayed: the settings file holds the
  // user's values (and whatever the user changed since), so the next run reads them there.
  bool settingsWritten = false;
};

// The line of one record, with its line end.
std::string JournalLine(const JournalRecord& record);
std::string JournalSettingsLine(const CarriedSettings& settings);
inline constexpr const char* kJournalCompleteLine = "C\n";
inline constexpr const char* kJournalSettingsWrittenLine = "W\n";

// Reads a journal's text. Unknown or damaged lines (the last one may have been cut by a
// power loss) are skipped.
Journal ParseJournal(const std::string& text);

}  // namespace lum::app
