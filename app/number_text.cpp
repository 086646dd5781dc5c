#include "app/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace lum::app {

namespace {

bool IsSkipped(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int HexDigit(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "&H..." or "&O...": the digits after the prefix up to the first one of the wrong base.
std::optional<double> ReadPrefixed(const std::string& s) {
  if (s.size() < 2) return 0.0;
  const char kind = s[1];
  int base = 0;
  if (kind == 'H' || kind == 'h') base = 16;
  if (kind == 'O' || kind == 'o') base = 8;
  if (base == 0) return 0.0;
  double value = 0;
  for (std::size_t i = 2; i < s.size(); ++i) {
    const int digit = HexDigit(s[i]);
    if (digit < 0 || digit >= base) break;
    value = value * base + digit;
  }
  if (std::isinf(value)) return std::nullopt;
  return value;
}

}  // namespace

std::optional<double> ReadAsNumber(std::string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    if (!IsSkipped(c)) s.push_back(c);
  }
  if (!s.empty() && s[0] == '&') return ReadPrefixed(s);

  // Collect the longest prefix that forms a decimal number, in a form from_chars accepts
  // (no leading "+"), and remember where the first significant digit stands so that an
  // out-of-range result can be told apart as overflow or underflow.
  std::string number;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') number.push_back('-');
    ++i;
  }
  long long leadExponent = 0;  // decimal exponent of the first nonzero digit
  bool sawNonZero = false;
  std::size_t intDigits = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (s[i] != '0' && !sawNonZero) sawNonZero = true;
    if (sawNonZero) ++leadExponent;
    number.push_back(s[i++]);
    ++intDigits;
  }
  if (sawNonZero) --leadExponent;
  std::size_t fracDigits = 0;
  if (i < s.size() && s[i] == '.') {
    number.push_back(s[i++]);
    while (i < s.size() && IsDigit(s[i])) {
      ++fracDigits;
      if (!sawNonZero && s[i] != '0') {
        sawNonZero = true;
        leadExponent = -static_cast<long long>(fracDigits);
      }
      number.push_back(s[i++]);
    }
  }
  if (intDigits + fracDigits == 0) return 0.0;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    std::size_t j = i + 1;
    bool negative = false;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) negative = s[j++] == '-';
    if (j < s.size() && IsDigit(s[j])) {
      long long exponent = 0;
      number.push_back('e');
      if (negative) number.push_back('-');
      while (j < s.size() && IsDigit(s[j])) {
        if (exponent < 100000000) exponent = exponent * 10 + (s[j] - '0');
        number.push_back(s[j++]);
      }
      leadExponent += negative ? -exponent : exponent;
    }
  }
  if (!sawNonZero) return 0.0;

  double value = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    if (leadExponent > 0) return std::nullopt;
    return 0.0;
  }
  if (result.ec != std::errc() || std::isinf(value)) return std::nullopt;
  return value;
}

std::optional<std::int32_t> RoundToInt32(double value) {
  if (std::isnan(value)) return std::nullopt;
  double rounded = std::floor(value);
  const double fraction = value - rounded;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(rounded, 2.0) != 0)) rounded += 1;
  if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(rounded);
}

std::string DoubleToText(double value) {
  if (value == 0) return "0";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  return buffer;
}

std::string Int32ToText(std::int32_t value) {
  return std::to_string(value);
}

}  // namespace lum::app
