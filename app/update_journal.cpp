#include "app/update_journal.h"

#include <sstream>

#include "app/number_text.h"

namespace lum::app {

namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%')
      out += "%25";
    else if (c == '\r')
      out += "%0D";
    else if (c == '\n')
      out += "%0A";
    else
      out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const std::string code = text.substr(i + 1, 2);
      if (code == "25" || code == "0D" || code == "0A") {
        out += code == "25" ? '%' : code == "0D" ? '\r' : '\n';
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::optional<CarriedSettings> ParseSettings(const std::string& text) {
  std::istringstream in(text);
  std::string fields[6];
  for (std::string& field : fields) {
    if (!(in >> field)) return std::nullopt;
  }
  CarriedSettings settings;
  const std::optional<double> zoom = ReadAsNumber(fields[0]);
  if (!zoom) return std::nullopt;
  settings.m_dZoom = *zoom;
  std::int32_t CarriedSettings::*members[] = {
      &CarriedSettings::m_lSoundEnabled, &CarriedSettings::m_lLockImageZoom,
      &CarriedSettings::m_lResizeMode,   &CarriedSettings::m_lResizeValue,
      &CarriedSettings::m_lPrefixMode,
  };
  for (int i = 0; i < 5; ++i) {
    const std::optional<double> number = ReadAsNumber(fields[i + 1]);
    const std::optional<std::int32_t> value = number ? RoundToInt32(*number) : std::nullopt;
    if (!value) return std::nullopt;
    settings.*members[i] = *value;
  }
  return settings;
}

}  // namespace

std::string JournalLine(const JournalRecord& record) {
  return std::string(1, record.kind) + " " + Escape(record.relative) + "\n";
}

std::string JournalSettingsLine(const CarriedSettings& s) {
  return "S " + DoubleToText(s.m_dZoom) + " " + Int32ToText(s.m_lSoundEnabled) + " " +
         Int32ToText(s.m_lLockImageZoom) + " " + Int32ToText(s.m_lResizeMode) + " " +
         Int32ToText(s.m_lResizeValue) + " " + Int32ToText(s.m_lPrefixMode) + "\n";
}

Journal ParseJournal(const std::string& text) {
  Journal journal;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find('\n', from);
    // A line without its line end was cut while being written: its step never started.
    if (end == std::string::npos) break;
    const std::string line = text.substr(from, end - from);
    from = end + 1;
    if (line == "C") {
      journal.complete = true;
    } else if (line == "W") {
      journal.settingsWritten = true;
    } else if (line.size() > 2 && line[1] == ' ') {
      const char kind = line[0];
      if (kind == 'S') {
        if (auto settings = ParseSettings(line.substr(2))) journal.settings = settings;
      } else if (kind == 'F' || kind == 'B' || kind == 'P') {
        journal.steps.push_back({kind, Unescape(line.substr(2))});
      }
    }
  }
  return journal;
}

}  // namespace lum::app
