// The progress display of zipengine's subcommands: a bar on standard error when it is a
// terminal (about six redraws a second: bytes, entries, rate and time left; cleared before
// anything else is printed), one plain line per finished entry otherwise, and nothing but
// errors when quiet. What an entry's bytes are and when it is finished is the subcommand's
// to say: it derives from this class, handles the engine's events and reports through
// ShowEntryBytes and EntryFinished.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/zipengine.h"

namespace lum::tools {

class ProgressDisplay : public ErrorPrinter {
 public:
  enum class Mode { kQuiet, kBar, kLines };

  // Totals are the bytes and the number of entries that will be worked; `lines` receives the
  // plain lines.
  ProgressDisplay(const zip::cZipEngine& engine, Mode mode, std::int64_t totalBytes,
                  std::int32_t totalEntries, std::FILE* lines);
  // kBar when standard error is a terminal, else kLines; kQuiet when `quiet`.
  static Mode ChooseMode(bool quiet);

  // Clears the bar and flushes standard output before the error is printed.
  void Error(std::int32_t FileIdx, std::string& Source, std::string& Description,
             bool& Cancel) override;

  // Removes the bar, so that the final line stands alone.
  virtual void Finish();

  // Entries finished as worked, and the bytes of every finished entry.
  std::int32_t EntriesDone() const { return m_entriesDone; }
  std::int64_t BytesDone() const { return m_bytesDone; }
  double Seconds() const;

 protected:
  // `bytes` of the current entry are done so far; redraws the bar.
  void ShowEntryBytes(std::int64_t bytes);
  // The current entry is over: its `bytes` count as done, and when `worked` it counts as an
  // entry done and `line` (built only in line mode, see ShowsLines) is printed.
  void EntryFinished(std::int64_t bytes, bool worked, const std::string& line = {});
  bool ShowsLines() const { return m_mode == Mode::kLines; }
  bool Quiet() const { return m_mode == Mode::kQuiet; }
  // Redraws the bar (at most about six times a second).
  void Draw();
  void Clear();

 private:
  Mode m_mode;
  std::FILE* m_lines;
  std::int64_t m_totalBytes;
  std::int32_t m_totalEntries;
  std::int64_t m_bytesDone = 0;   // bytes of finished entries
  std::int64_t m_entryBytes = 0;  // bytes of the current entry so far
  std::int32_t m_entriesDone = 0;
  std::size_t m_drawnWidth = 0;  // characters of the bar on screen now
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace lum::tools
