// The progress display of zipengine (see zipengine_progress.h).
#include "tools/zipengine_progress.h"

#include <algorithm>
#include <cstdio>

#include "platform/console.h"
#include "platform/file.h"

namespace lum::tools {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(160);  // about 6 a second

std::string FormatDuration(double seconds) {
  const auto total = static_cast<long long>(seconds + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

}  // namespace

ProgressDisplay::ProgressDisplay(const zip::cZipEngine& engine, Mode mode, std::int64_t totalBytes,
                                 std::int32_t totalEntries, std::FILE* lines)
    : ErrorPrinter(engine),
      m_mode(mode),
      m_lines(lines),
      m_totalBytes(totalBytes),
      m_totalEntries(totalEntries),
      m_start(std::chrono::steady_clock::now()),
      m_lastDraw(m_start - kRedrawInterval) {}

ProgressDisplay::Mode ProgressDisplay::ChooseMode(bool quiet) {
  if (quiet) return Mode::kQuiet;
  return platform::IsTerminal(platform::kStdErrorHandle) ? Mode::kBar : Mode::kLines;
}

double ProgressDisplay::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void ProgressDisplay::ShowEntryBytes(std::int64_t bytes) {
  m_entryBytes = bytes;
  Draw();
}

void ProgressDisplay::EntryFinished(std::int64_t bytes, bool worked, const std::string& line) {
  m_bytesDone += bytes;
  m_entryBytes = 0;
  if (!worked) return;
  ++m_entriesDone;
  if (m_mode == Mode::kLines) std::fprintf(m_lines, "%s\n", line.c_str());
}

void ProgressDisplay::Error(std::int32_t FileIdx, std::string& Source, std::string& Description,
                            bool& Cancel) {
  Clear();
  std::fflush(stdout);
  ErrorPrinter::Error(FileIdx, Source, Description, Cancel);
}

void ProgressDisplay::Finish() {
  Clear();
}

void ProgressDisplay::Clear() {
  if (m_drawnWidth == 0) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_drawnWidth), "");
  std::fflush(stderr);
  m_drawnWidth = 0;
}

void ProgressDisplay::Draw() {
  if (m_mode != Mode::kBar) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - m_lastDraw < kRedrawInterval) return;
  m_lastDraw = now;
  const double done = static_cast<double>(std::min(m_bytesDone + m_entryBytes, m_totalBytes));
  const double fraction = m_totalBytes > 0 ? done / static_cast<double>(m_totalBytes) : 1.0;
  const double seconds = Seconds();
  const double rate = seconds > 0 ? done / seconds : 0;
  std::string tail = " " + std::to_string(static_cast<int>(fraction * 100)) + "% " +
                     FormatBytes(done) + "/" + FormatBytes(static_cast<double>(m_totalBytes)) +
                     "  " + std::to_string(m_entriesDone) + "/" + std::to_string(m_totalEntries) +
                     " entries  " + FormatBytes(rate) + "/s";
  if (rate > 0 && fraction < 1.0) {
    tail += "  " + FormatDuration((static_cast<double>(m_totalBytes) - done) / rate) + " left";
  }
  int width = platform::TerminalWidth(platform::kStdErrorHandle);
  if (width <= 0) width = 80;
  const int barWidth = std::clamp(width - 1 - static_cast<int>(tail.size()) - 2, 0, 40);
  std::string line;
  if (barWidth >= 10) {
    const int filled = static_cast<int>(fraction * barWidth);
    line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(barWidth - filled), '.') + "]";
  }
  line += tail;
  if (line.size() > static_cast<std::size_t>(width - 1)) line.resize(width - 1);
  const std::size_t previous = m_drawnWidth;
  std::fprintf(stderr, "\r%s", line.c_str());
  if (previous > line.size()) {
    std::fprintf(stderr, "%*s", static_cast<int>(previous - line.size()), "");
  }
  std::fflush(stderr);
  m_drawnWidth = std::max(previous, line.size());
}

}  // namespace lum::tools
