#include "platform/posix/profile_document.h"

#include <algorithm>

namespace lum::platform::detail {

namespace {

constexpr std::string_view kBlanks = " \t\v\f";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

// What one line holds once its blanks and anything from a NUL on are set aside.
struct Parsed {
  enum Kind { kOther, kSection, kKey } kind = kOther;
  std::string_view name;
  std::string_view value;
};

Parsed ParseLine(std::string_view body) {
  body = ProfileTrim(body.substr(0, body.find('\0')));
  Parsed parsed;
  if (body.empty()) return parsed;
  if (body.front() == '[') {
    const std::size_t close = body.rfind(']');
    if (close != std::string_view::npos && close > 0) {
      parsed.kind = Parsed::kSection;
      parsed.name = ProfileTrim(body.substr(1, close - 1));
      return parsed;
    }
  }
  const std::size_t equals = body.find('=');
  if (equals == std::string_view::npos) return parsed;
  parsed.kind = Parsed::kKey;
  parsed.name = ProfileTrim(body.substr(0, equals));
  parsed.value = body.substr(equals + 1);
  return parsed;
}

// Folds one character of `text` at `i` for comparison and advances `i`: ASCII letters and the
// two-byte UTF-8 forms of the Latin-1 capitals (U+00C0 to U+00DE, not U+00D7) to small letters.
unsigned FoldNext(std::string_view text, std::size_t& i) {
  const auto c = static_cast<unsigned char>(text[i++]);
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c == 0xC3 && i < text.size()) {
    const auto next = static_cast<unsigned char>(text[i]);
    if (next >= 0x80 && next <= 0xBF) {
      ++i;
      const unsigned lower = (next >= 0x80 && next <= 0x9E && next != 0x97) ? next + 32 : next;
      return 0xC300 | lower;
    }
  }
  return c;
}

}  // namespace

bool ProfileNamesEqual(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldNext(a, i) != FoldNext(b, j)) return false;
  }
  return i == a.size() && j == b.size();
}

std::string_view ProfileTrim(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string_view ProfileUnquote(std::string_view text) {
  text = ProfileTrim(text);
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

ProfileDocument::ProfileDocument(std::string bytes) {
  std::string_view rest = bytes;
  if (rest.substr(0, kBom.size()) == kBom) {
    m_bom = kBom;
    rest.remove_prefix(kBom.size());
  }
  while (!rest.empty()) {
    const std::size_t stop = std::min(rest.find_first_of("\r\n"), rest.size());
    std::size_t endLength = 0;
    if (stop < rest.size()) {
      endLength = (rest[stop] == '\r' && stop + 1 < rest.size() && rest[stop + 1] == '\n') ? 2 : 1;
    }
    m_lines.push_back(
        {std::string(rest.substr(0, stop)), std::string(rest.substr(stop, endLength))});
    rest.remove_prefix(stop + endLength);
  }
}

std::optional<ProfileDocument::Region> ProfileDocument::FindRegion(std::string_view section) const {
  section = ProfileTrim(section);
  const auto nextHeader = [this](std::size_t from) {
    while (from < m_lines.size() && ParseLine(m_lines[from].body).kind != Parsed::kSection) ++from;
    return from;
  };
  // The lines before the first section are the section with the empty name; it always exists
  // and comes first, so a later "[]" is never found.
  if (section.empty()) return Region{0, nextHeader(0), std::nullopt};
  for (std::size_t i = nextHeader(0); i < m_lines.size(); i = nextHeader(i + 1)) {
    if (ProfileNamesEqual(ParseLine(m_lines[i].body).name, section)) {
      return Region{i + 1, nextHeader(i + 1), i};
    }
  }
  return std::nullopt;
}

std::optional<std::size_t> ProfileDocument::FindKey(const Region& region,
                                                    std::string_view key) const {
  key = ProfileTrim(key);
  for (std::size_t i = region.begin; i < region.end; ++i) {
    const Parsed parsed = ParseLine(m_lines[i].body);
    if (parsed.kind == Parsed::kKey && ProfileNamesEqual(parsed.name, key)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> ProfileDocument::Find(std::string_view section,
                                                 std::string_view key) const {
  const auto region = FindRegion(section);
  if (!region) return std::nullopt;
  const auto line = FindKey(*region, key);
  if (!line) return std::nullopt;
  return std::string(ProfileUnquote(ParseLine(m_lines[*line].body).value));
}

std::optional<std::vector<std::string>> ProfileDocument::KeyNames(std::string_view section) const {
  const auto region = FindRegion(section);
  if (!region) return std::nullopt;
  std::vector<std::string> names;
  for (std::size_t i = region->begin; i < region->end; ++i) {
    const Parsed parsed = ParseLine(m_lines[i].body);
    if (parsed.kind == Parsed::kKey && !parsed.name.starts_with(';')) {
      names.emplace_back(parsed.name);
    }
  }
  return names;
}

std::vector<std::string> ProfileDocument::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& line : m_lines) {
    const Parsed parsed = ParseLine(line.body);
    if (parsed.kind == Parsed::kSection && !parsed.name.empty()) names.emplace_back(parsed.name);
  }
  return names;
}

void ProfileDocument::Insert(std::size_t index, std::string body) {
  // The line before the new one needs a line end of its own if it was the file's last line.
  if (index > 0 && m_lines[index - 1].end.empty()) m_lines[index - 1].end = "\r\n";
  m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(index), {std::move(body), "\r\n"});
}

void ProfileDocument::Set(std::string_view section, std::string_view key, std::string_view text) {
  key = ProfileTrim(key);
  // Leading blanks of a value would be dropped when it is read; trailing ones are kept.
  const std::size_t first = text.find_first_not_of(kBlanks);
  text = first == std::string_view::npos ? std::string_view() : text.substr(first);

  const auto region = FindRegion(section);
  if (!region) {
    Insert(m_lines.size(), "[" + std::string(ProfileTrim(section)) + "]");
    Insert(m_lines.size(), std::string(key) + "=" + std::string(text));
    return;
  }
  if (const auto line = FindKey(*region, key)) {
    // Keep the name as the file spells it.
    const std::string name(ParseLine(m_lines[*line].body).name);
    m_lines[*line].body = name + "=" + std::string(text);
    return;
  }
  std::size_t after = region->header ? *region->header + 1 : region->begin;
  for (std::size_t i = region->begin; i < region->end; ++i) {
    if (!ProfileTrim(m_lines[i].body).empty()) after = i + 1;
  }
  Insert(after, std::string(key) + "=" + std::string(text));
}

bool ProfileDocument::RemoveKey(std::string_view section, std::string_view key) {
  const auto region = FindRegion(section);
  if (!region) return false;
  const auto line = FindKey(*region, key);
  if (!line) return false;
  m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(*line));
  return true;
}

bool ProfileDocument::RemoveSection(std::string_view section) {
  const auto region = FindRegion(section);
  if (!region) return false;
  if (!region->header) {
    // The lines before the first section have no header; only their keys go, comments stay.
    const auto before = m_lines.size();
    const auto stop = m_lines.begin() + static_cast<std::ptrdiff_t>(region->end);
    m_lines.erase(
        std::remove_if(m_lines.begin(), stop,
                       [](const Line& line) { return ParseLine(line.body).kind == Parsed::kKey; }),
        stop);
    return m_lines.size() != before;
  }
  m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(*region->header),
                m_lines.begin() + static_cast<std::ptrdiff_t>(region->end));
  return true;
}

std::string ProfileDocument::Bytes() const {
  std::string bytes = m_bom;
  for (const Line& line : m_lines) bytes += line.body + line.end;
  return bytes;
}

}  // namespace lum::platform::detail
