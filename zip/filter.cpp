// The extraction filter and its wildcard matcher.
//
// The pattern is first parsed into elements that each match exactly one character (a
// literal, "?", "#" or a character list) or a run ("*"). The match then walks text and
// pattern together and remembers only the most recent star: when a later element fails, that
// star takes one more character and matching resumes behind it. Because every other element
// has a fixed width, retrying from the last star alone is enough, so a pattern with many
// stars costs at most (text length × pattern length) steps instead of exponential
// backtracking.
#include "zip/filter.h"

#include <vector>

#include "platform/codepage.h"
#include "zip/names.h"
#include "zip/zip_engine.h"
#include "zip/zip_error.h"

namespace lum::zip {
namespace {

struct Element {
  enum Type { kLiteral, kAny, kDigit, kList, kStar };
  explicit Element(Type t, char32_t c = 0) : type(t), literal(c) {}
  Type type;
  char32_t literal;
  bool negated = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;  // of a list

  bool Matches(char32_t c) const {
    switch (type) {
      case kLiteral:
        return c == literal;
      case kAny:
        return true;
      case kDigit:
        return c >= '0' && c <= '9';
      case kList: {
        bool inList = false;
        for (const auto& r : ranges) {
          if (c >= r.first && c <= r.second) {
            inList = true;
            break;
          }
        }
        return inList != negated;
      }
      case kStar:
        return false;
    }
    return false;
  }
};

std::vector<Element> ParsePattern(const std::u32string& p) {
  std::vector<Element> out;
  for (std::size_t i = 0; i < p.size(); ++i) {
    const char32_t c = p[i];
    if (c == '*') {
      if (out.empty() || out.back().type != Element::kStar) out.emplace_back(Element::kStar);
    } else if (c == '?') {
      out.emplace_back(Element::kAny);
    } else if (c == '#') {
      out.emplace_back(Element::kDigit);
    } else if (c == '[') {
      const std::size_t close = p.find(']', i + 1);
      if (close == std::u32string::npos) {
        out.emplace_back(Element::kLiteral, c);  // an unclosed "[" stands for itself
        continue;
      }
      std::size_t j = i + 1;
      if (close == j) {  // "[]" matches the empty string
        i = close;
        continue;
      }
      Element list(Element::kList);
      if (p[j] == '!') {
        list.negated = true;
        ++j;
      }
      while (j < close) {
        // "a-z" is a range; a "-" at the start or end of the list stands for itself.
        if (j + 2 < close && p[j + 1] == '-') {
          list.ranges.push_back({p[j], p[j + 2]});  // a reversed range holds nothing
          j += 3;
        } else {
          list.ranges.push_back({p[j], p[j]});
          ++j;
        }
      }
      out.push_back(std::move(list));
      i = close;
    } else {
      out.emplace_back(Element::kLiteral, c);
    }
  }
  return out;
}

bool MatchElements(const std::u32string& text, const std::vector<Element>& pattern) {
  std::size_t t = 0, p = 0;
  std::size_t starP = std::string::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p].type == Element::kStar) {
      starP = p++;
      starT = t;
    } else if (p < pattern.size() && pattern[p].Matches(text[t])) {
      ++t;
      ++p;
    } else if (starP != std::string::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p].type == Element::kStar) ++p;
  return p == pattern.size();
}

}  // namespace

bool pvWildcardMatch(const std::string& text, const std::string& pattern) {
  return MatchElements(platform::DecodeUtf8(text), ParsePattern(platform::DecodeUtf8(pattern)));
}

std::string pvPrepareFilterPattern(const std::string& filter) {
  std::string pattern = filter;
  for (char& ch : pattern) {
    if (ch == '/') ch = '\\';
  }
  if (pattern == "*.*") return "*";
  std::string out;
  out.reserve(pattern.size());
  for (char ch : pattern) {
    if (ch == '[')
      out += "[[]";
    else
      out.push_back(ch);
  }
  return out;
}

ExtractFilter::ExtractFilter(const Variant& filter) {
  if (filter.IsMissing()) {
    m_kind = Kind::kAll;
  } else if (filter.IsText()) {
    m_kind = Kind::kPattern;
    m_pattern = pvPrepareFilterPattern(filter.Text());
  } else if (filter.IsArray() || filter.IsByteArray()) {
    m_kind = Kind::kArray;
    m_array = filter.IsByteArrayRef() ? Variant(ByteArray(filter.Bytes())) : filter;
  } else if (filter.IsNumber()) {
    m_kind = Kind::kNumber;
    m_number = filter.Number();
  } else if (filter.IsBool()) {
    m_kind = Kind::kNumber;
    m_number = filter.Bool() ? -1 : 0;
  } else if (filter.IsEmpty()) {
    m_kind = Kind::kNumber;
    m_number = 0;
  } else {
    pvRaise("Updater", "Invalid filter");
  }
}

bool ExtractFilter::Selects(std::int32_t index, const std::string& fileName) const {
  switch (m_kind) {
    case Kind::kAll:
      return true;
    case Kind::kPattern: {
      if (pvWildcardMatch(fileName, m_pattern)) return true;
      const auto slash = fileName.rfind('\\');
      const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
      return pvWildcardMatch(base, m_pattern);
    }
    case Kind::kArray: {
      const Variant item = pvArrayItem(m_array, index);
      return (item.IsBool() && item.Bool()) || (item.IsNumber() && item.Number() == -1);
    }
    case Kind::kNumber:
      return m_number == index;
  }
  return false;
}

std::vector<bool> cZipEngine::FilterSelection(const Variant& Filter) const {
  std::vector<bool> selected;
  try {
    const ExtractFilter filter(Filter);
    selected.reserve(static_cast<std::size_t>(m_lFileCount));
    for (std::int32_t i = 0; i < m_lFileCount; ++i) {
      selected.push_back(filter.Selects(i, m_uFiles[static_cast<std::size_t>(i)].FileName));
    }
  } catch (const ZipError&) {
    selected.clear();
  }
  return selected;
}

}  // namespace lum::zip
