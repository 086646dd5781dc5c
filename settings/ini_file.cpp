#include "settings/ini_file.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "platform/profile.h"

namespace lum::settings {

namespace {

constexpr std::uint32_t kValueBuffer = 255;
constexpr std::uint32_t kListBuffer = 8192;

// The file-side (ANSI) form of the object's text, held for the length of one call.
struct Ansi {
  explicit Ansi(std::string_view utf8) : text(platform::ProfileTextFromUtf8(utf8)) {}
  const char* c_str() const { return text.c_str(); }
  std::string text;
};

// One read: the first n bytes of a buffer of `size`, n being the call's result, back in UTF-8.
std::string Read(const std::string& section, const std::string* key, const std::string& fallback,
                 std::uint32_t size, const std::string& path) {
  const Ansi ansiPath(path), ansiDefault(fallback);
  const Ansi ansiSection(section), ansiKey(key ? *key : std::string());
  std::string buffer(size, '\0');
  const std::uint32_t count =
      platform::ProfileGetString(ansiSection.c_str(), key ? ansiKey.c_str() : nullptr,
                                 ansiDefault.c_str(), buffer.data(), size, ansiPath.c_str());
  buffer.resize(std::min(count, size));
  return platform::ProfileTextToUtf8(buffer);
}

std::int32_t Write(const std::string& section, const std::string* key, const std::string* text,
                   const std::string& path) {
  const Ansi ansiPath(path), ansiSection(section);
  const Ansi ansiKey(key ? *key : std::string()), ansiText(text ? *text : std::string());
  return platform::ProfileWriteString(ansiSection.c_str(), key ? ansiKey.c_str() : nullptr,
                                      text ? ansiText.c_str() : nullptr, ansiPath.c_str());
}

// Splits a NUL-separated list; text after the last NUL is not a name.
void SplitList(const std::string& list, bool keepEmpty, std::vector<std::string>& names,
               std::int32_t& count) {
  names.clear();
  count = 0;
  std::size_t start = 0;
  for (std::size_t nul = list.find('\0'); nul != std::string::npos; nul = list.find('\0', start)) {
    if (keepEmpty || nul > start) {
      names.push_back(list.substr(start, nul - start));
      ++count;
    }
    start = nul + 1;
  }
}

}  // namespace

std::string clsIniFile::Value() const {
  return Read(m_sSection, &m_sKey, m_sDefault, kValueBuffer, m_sPath);
}

void clsIniFile::Value(std::string_view sValue) {
  std::string text(sValue);
  std::replace(text.begin(), text.end(), ',', '.');
  std::erase(text, '\0');
  m_lLastReturnCode = Write(m_sSection, &m_sKey, &text, m_sPath);
}

void clsIniFile::DeleteKey() {
  m_lLastReturnCode = Write(m_sSection, &m_sKey, nullptr, m_sPath);
}

void clsIniFile::DeleteSection() {
  m_lLastReturnCode = Write(m_sSection, nullptr, nullptr, m_sPath);
}

std::string clsIniFile::INISection() const {
  return Read(m_sSection, nullptr, m_sDefault, kListBuffer, m_sPath);
}

void clsIniFile::INISection(std::string_view sSection) {
  const std::string text(sSection);
  m_lLastReturnCode = Write(m_sSection, nullptr, &text, m_sPath);
}

std::string clsIniFile::Sections() const {
  const Ansi ansiPath(m_sPath), ansiDefault(m_sDefault);
  std::string buffer(kListBuffer, '\0');
  const std::uint32_t count = platform::ProfileGetString(
      nullptr, nullptr, ansiDefault.c_str(), buffer.data(), kListBuffer, ansiPath.c_str());
  buffer.resize(std::min(count, kListBuffer));
  return platform::ProfileTextToUtf8(buffer);
}

void clsIniFile::GetKeyList(std::vector<std::string>& names, std::int32_t& count) const {
  SplitList(INISection(), true, names, count);
}

void clsIniFile::GetSectionList(std::vector<std::string>& names, std::int32_t& count) const {
  SplitList(Sections(), false, names, count);
}

std::int32_t clsIniFile::ToLong(std::string_view text, std::int32_t fallback) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Digits with an optional period and exponent, nothing else (no "inf", "nan" or hex).
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) ||
                        (text.front() == '.' && text.size() > 1 &&
                         std::isdigit(static_cast<unsigned char>(text[1]))))) {
    return fallback;
  }
  double number = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), number, std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size()) return fallback;
  // Round to nearest, halves to even, before the range check, as a 32-bit conversion does.
  const double rounded = std::nearbyint(negative ? -number : number);
  if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return fallback;
  return static_cast<std::int32_t>(rounded);
}

}  // namespace lum::settings
