// The extraction filter and the wildcard matcher behind it.
//
// The filter is built once per Extract call from its Filter argument:
//   missing        every entry is selected;
//   text           a wildcard pattern: "/" becomes "\", "*.*" means "*", and every "[" is
//                  made literal; an entry is selected when its whole FileName matches, or
//                  else the part after its last "\";
//   array          entry i is selected when element i is the Boolean true (or the number −1);
//   other value    entry i is selected when the value equals i (an empty value is 0, a
//                  Boolean −1 or 0).
// A stream object cannot be compared with a number: building the filter raises
// "Invalid filter", reported by Extract as its own error.
#pragma once

#include <cstdint>
#include <string>

#include "zip/variant.h"

namespace lum::zip {

class ExtractFilter {
 public:
  // Prepares the filter. Raises ZipError (source "Updater") for a stream object.
  explicit ExtractFilter(const Variant& filter);

  // True when entry `index`, named `fileName` (its FileName, "\" separators), is selected.
  bool Selects(std::int32_t index, const std::string& fileName) const;

  // The prepared pattern of a text filter (empty for other kinds).
  const std::string& Pattern() const { return m_pattern; }

 private:
  enum class Kind { kAll, kPattern, kArray, kNumber };
  Kind m_kind = Kind::kAll;
  std::string m_pattern;
  Variant m_array;
  double m_number = 0;
};

// A text filter as a pattern: "/" → "\", then "*.*" → "*", otherwise every "[" → "[[]".
std::string pvPrepareFilterPattern(const std::string& filter);

// Wildcard match of the whole `text` against `pattern`, case-sensitive by Unicode code point
// (both are UTF-8): "?" any one character, "*" any run including none, "#" one digit 0–9,
// "[list]" one character of the list (a-z is a range; "[!list]" one character not in it),
// anything else itself. An unclosed "[" matches itself; "[]" matches nothing (zero width).
// Time is at most proportional to the product of the lengths, however many stars.
bool pvWildcardMatch(const std::string& text, const std::string& pattern);

}  // namespace lum::zip
