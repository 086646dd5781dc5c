// Number conversions of the update run: reading a setting's text as a number, rounding it to
// a 32-bit integer, and writing a floating-point value back as text.
//
// The settings file holds numbers written by the application's own Basic-style routines, so
// these read and write the same forms: reading takes the number a text begins with (invariant form,
// blanks skipped anywhere, &H and &O prefixes) and gives 0 for anything else; rounding goes to the
// even neighbour on halves; floating-point values are written with at most 15 significant digits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lum::app {

// The number with which `text` begins, or 0 when it does not begin with one.
//
// - Blanks, tabs and line feeds are skipped wherever they stand
//   (" 1 2" reads as 12).
// - Decimal form: optional sign, digits with an optional period as decimal point, and an
//   optional exponent (E or e, optional sign, digits). Reading stops at the first character
//   that cannot continue the number ("12abc" is 12, "1.2.3" is 1.2, "1e" is 1).
// - "&H" / "&O" (any letter case) introduce hexadecimal / octal digits; the value is the
//   plain unsigned value of those digits ("&H10" is 16, "&HFFFF" is 65535).
// Returns nullopt when the number lies outside the range of a double (an overflow); a number
// too small to represent reads as 0.
std::optional<double> ReadAsNumber(std::string_view text);

// Rounds `value` to the nearest integer, a half going to the even neighbour (2.5 gives 2,
// 3.5 gives 4). Returns nullopt when the rounded value does not fit a signed 32-bit integer.
std::optional<std::int32_t> RoundToInt32(double value);

// The shortest decimal text of `value` with at most 15 significant digits, a period as
// decimal point, no trailing zeros and no decimal point for integral values ("1", "0.5",
// "0.333333333333333"). Values from 1E+15 up and below 1E-04 use the exponent form "1E+15",
// "1E-05". Zero (also negative zero) is "0".
std::string DoubleToText(double value);

// The decimal text of a 32-bit integer, with "-" when negative.
std::string Int32ToText(std::int32_t value);

}  // namespace lum::app
