// The progress display of extract and test: a bar on standard error when it is a terminal
// (about six redraws a second: bytes, entries, rate and time left; cleared before anything
// else is printed), one plain line per finished entry otherwise, and nothing but errors
// when quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "tools/zipengine.h"

namespace lum::tools {

class ProgressDisplay : public ErrorPrinter {
 public:
  enum class Mode { kQuiet, kBar, kLines };

  // `verb` starts each plain line ("extracted", "OK"); totals are the stored bytes and the
  // number of the entries that will be worked.
  ProgressDisplay(const zip::cZipEngine& engine, Mode mode, std::string verb,
                  std::int64_t totalBytes, std::int32_t totalEntries);
  // kBar when standard error is a terminal, else kLines; kQuiet when `quiet`.
  static Mode ChooseMode(bool quiet);

  void Progress(std::int32_t FileIdx, std::int32_t Current, std::int32_t Total,
                bool& Cancel) override;
  void ExtractComplete(std::int32_t FileIdx, zip::Variant& File) override;
  void Error(std::int32_t FileIdx, std::string& Source, std::string& Description,
             bool& Cancel) override;

  // Removes the bar, so that the final line stands alone.
  void Finish();

  std::int32_t EntriesDone() const { return m_entriesDone; }
  std::int64_t BytesDone() const { return m_bytesDone; }
  double Seconds() const;

 private:
  void Draw(bool force);
  void Clear();

  Mode m_mode;
  std::string m_verb;
  std::int64_t m_totalBytes;
  std::int32_t m_totalEntries;
  std::int64_t m_bytesDone = 0;   // stored bytes of finished entries
  std::int64_t m_entryBytes = 0;  // stored bytes of the current entry so far
  std::int32_t m_entriesDone = 0;
  std::size_t m_drawnWidth = 0;  // characters of the bar on screen now
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace lum::tools
