#include "app/number_text.h"

#include <gtest/gtest.h>

#include <limits>

namespace lum::app {
namespace {

double Read(const char* text) {
  const auto value = ReadAsNumber(text);
  EXPECT_TRUE(value.has_value()) << text;
  return value.value_or(-12345);
}

TEST(ReadAsNumber, TakesTheNumberTheTextBeginsWith) {
  EXPECT_EQ(Read("0.5"), 0.5);
  EXPECT_EQ(Read("360"), 360);
  EXPECT_EQ(Read("-1"), -1);
  EXPECT_EQ(Read("+7"), 7);
  EXPECT_EQ(Read(".25"), 0.25);
  EXPECT_EQ(Read("5."), 5);
  EXPECT_EQ(Read("12abc"), 12);
  EXPECT_EQ(Read("1.2.3"), 1.2);
  EXPECT_EQ(Read("2,5"), 2);  // only the period is a decimal point
  EXPECT_EQ(Read("1e3"), 1000);
  EXPECT_EQ(Read("1E-2"), 0.01);
  EXPECT_EQ(Read("1e"), 1);
  EXPECT_EQ(Read("1e+"), 1);
  EXPECT_EQ(Read("1e-x"), 1);
}

TEST(ReadAsNumber, NonNumbersReadAsZero) {
  EXPECT_EQ(Read(""), 0);
  EXPECT_EQ(Read("abc"), 0);
  EXPECT_EQ(Read("-"), 0);
  EXPECT_EQ(Read("."), 0);
  EXPECT_EQ(Read("e5"), 0);
  EXPECT_EQ(Read("&"), 0);
  EXPECT_EQ(Read("&X10"), 0);
  EXPECT_EQ(Read("&H"), 0);
  EXPECT_EQ(Read("\r5"), 0);  // a carriage return is not skipped
}

TEST(ReadAsNumber, SkipsBlanksTabsAndLineFeedsAnywhere) {
  EXPECT_EQ(Read(" 1 2"), 12);
  EXPECT_EQ(Read("\t- 3 . 5\n"), -3.5);
  EXPECT_EQ(Read("1 e 2"), 100);
  EXPECT_EQ(Read("& h 1 f"), 31);
}

TEST(ReadAsNumber, HexadecimalAndOctalPrefixes) {
  EXPECT_EQ(Read("&H10"), 16);
  EXPECT_EQ(Read("&hff"), 255);
  EXPECT_EQ(Read("&HFFFF"), 65535);
  EXPECT_EQ(Read("&O17"), 15);
  EXPECT_EQ(Read("&o78"), 7);  // 8 is not an octal digit
  EXPECT_EQ(Read("&H1G"), 1);
}

TEST(ReadAsNumber, OverflowIsReportedUnderflowIsZero) {
  EXPECT_FALSE(ReadAsNumber("1e400").has_value());
  EXPECT_FALSE(ReadAsNumber("-1e309").has_value());
  EXPECT_FALSE(ReadAsNumber("0.001e312").has_value());
  EXPECT_EQ(Read("1e308"), 1e308);
  EXPECT_EQ(Read("1e-400"), 0);
  EXPECT_EQ(Read("123e-500"), 0);
  EXPECT_EQ(Read("0e999999"), 0);
}

TEST(RoundToInt32, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundToInt32(2.5), 2);
  EXPECT_EQ(RoundToInt32(3.5), 4);
  EXPECT_EQ(RoundToInt32(0.5), 0);
  EXPECT_EQ(RoundToInt32(1.5), 2);
  EXPECT_EQ(RoundToInt32(-2.5), -2);
  EXPECT_EQ(RoundToInt32(-3.5), -4);
  EXPECT_EQ(RoundToInt32(2.4999), 2);
  EXPECT_EQ(RoundToInt32(2.5001), 3);
  EXPECT_EQ(RoundToInt32(-0.4), 0);
}

TEST(RoundToInt32, DetectsValuesOutsideTheRange) {
  EXPECT_EQ(RoundToInt32(2147483647.0), 2147483647);
  EXPECT_EQ(RoundToInt32(2147483647.4), 2147483647);
  EXPECT_FALSE(RoundToInt32(2147483647.5).has_value());  // rounds to 2^31
  EXPECT_FALSE(RoundToInt32(2147483648.0).has_value());
  EXPECT_EQ(RoundToInt32(-2147483648.0), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(RoundToInt32(-2147483648.5), std::numeric_limits<std::int32_t>::min());
  EXPECT_FALSE(RoundToInt32(-2147483648.6).has_value());
  EXPECT_FALSE(RoundToInt32(1e300).has_value());
}

TEST(DoubleToText, ShortestTextWithFifteenSignificantDigits) {
  EXPECT_EQ(DoubleToText(1), "1");
  EXPECT_EQ(DoubleToText(0.5), "0.5");
  EXPECT_EQ(DoubleToText(-0.0), "0");
  EXPECT_EQ(DoubleToText(1.25), "1.25");
  EXPECT_EQ(DoubleToText(-2), "-2");
  EXPECT_EQ(DoubleToText(0.1 + 0.2), "0.3");
  EXPECT_EQ(DoubleToText(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(DoubleToText(123456789012345), "123456789012345");
  EXPECT_EQ(DoubleToText(1e15), "1E+15");
  EXPECT_EQ(DoubleToText(0.0001), "0.0001");
  EXPECT_EQ(DoubleToText(0.00001), "1E-05");
  EXPECT_EQ(DoubleToText(1234567890123456789.0), "1.23456789012346E+18");
}

TEST(Int32ToText, DecimalWithLeadingMinus) {
  EXPECT_EQ(Int32ToText(0), "0");
  EXPECT_EQ(Int32ToText(-1), "-1");
  EXPECT_EQ(Int32ToText(std::numeric_limits<std::int32_t>::min()), "-2147483648");
}

}  // namespace
}  // namespace lum::app
