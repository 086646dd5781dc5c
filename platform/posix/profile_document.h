// An INI file held as its lines, for the POSIX private-profile calls.
//
// The document keeps every line's bytes and line end as read, so that an edit changes only the
// lines it must and the rest of the file is written back byte for byte. Reading rules follow the
// Windows private-profile functions:
//
// - A line is split at CR LF, LF or CR. Blanks (space, tab, VT, FF) around a line are ignored, and
//   a line is read only up to its first NUL character.
// - "[name]" starts a section: the name lies between the "[" and the last "]" of the line, blanks
//   around it ignored. Lines before the first section form the section with the empty name.
// - "key=value" is a key: the name is the text before the first "=", the value the text after it,
//   both without the blanks around them. A line without "=" is neither key nor section.
// - Names compare without regard to case (ASCII letters and the Latin-1 letters in UTF-8).
// - The first matching section wins, and within it the first matching key.
// - Key lists leave out keys whose names start with ";" (comments); section lists leave out
//   sections with an empty name.
// - A UTF-8 byte-order mark at the start of the file is kept and otherwise ignored.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lum::platform::detail {

class ProfileDocument {
 public:
  // Splits `bytes` into lines; never fails.
  explicit ProfileDocument(std::string bytes);

  // The value of the first matching key, unquoted and without surrounding blanks.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // The key names of the first matching section; nothing when the section does not exist.
  std::optional<std::vector<std::string>> KeyNames(std::string_view section) const;
  std::vector<std::string> SectionNames() const;

  // Sets the first matching key, or adds it after the section's last line that is not blank, or
  // adds the section at the end of the file. New lines end in CR LF.
  void Set(std::string_view section, std::string_view key, std::string_view text);
  // Remove the first matching key / section; return false when there was nothing to remove.
  bool RemoveKey(std::string_view section, std::string_view key);
  bool RemoveSection(std::string_view section);

  std::string Bytes() const;

 private:
  struct Line {
    std::string body;  // without the line end
    std::string end;   // "\r\n", "\n", "\r" or "" for a last line without one
  };
  // Lines [begin, end) of one section; header is the index of its "[name]" line, or none for the
  // lines before the first section.
  struct Region {
    std::size_t begin, end;
    std::optional<std::size_t> header;
  };

  std::optional<Region> FindRegion(std::string_view section) const;
  std::optional<std::size_t> FindKey(const Region& region, std::string_view key) const;
  void Insert(std::size_t index, std::string body);

  std::string m_bom;
  std::vector<Line> m_lines;
};

// Whether two names are the same without regard to case.
bool ProfileNamesEqual(std::string_view a, std::string_view b);
// `text` without the blanks at both ends.
std::string_view ProfileTrim(std::string_view text);
// A value as read: blanks at both ends dropped, then one pair of matching quotes.
std::string_view ProfileUnquote(std::string_view text);

}  // namespace lum::platform::detail
