// Code-page conversions and the UTF-8 helpers.
#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace lum::platform {
namespace {

TEST(Utf8Test, InvalidSequencesBecomeReplacementCharacters) {
  struct Case {
    std::string bytes;
    std::u32string expected;
  } cases[] = {
      {"A\xC3\xA4", U"A\u00E4"},
      {"\xF0\x9F\x98\x80", U"\U0001F600"},
      {"\xFF", U"\uFFFD"},
      {"\xC3", U"\uFFFD"},                                // truncated
      {"\xE2\x82", U"\uFFFD"},                            // truncated three-byte form: one subpart
      {"\xC0\xAF", U"\uFFFD\uFFFD"},                      // overlong "/"
      {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},            // a surrogate
      {"\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"a\x80z", U"a\uFFFDz"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeUtf8(c.bytes), c.expected) << c.bytes;
  std::string encoded;
  for (char32_t c : std::u32string(U"\u00E4\U0001F600\xD800\x110000")) AppendUtf8(encoded, c);
  EXPECT_EQ(encoded, "\xC3\xA4\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(SanitizeUtf8("ok\xEF\xBF\xBD\xFF", 6), "ok\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(CodePageTest, Utf8DecodesAndInvalidBytesAreReplaced) {
  std::string text;
  const std::uint8_t good[] = {0x41, 0xC3, 0xA4};
  ASSERT_TRUE(MultiByteToUtf8(kCodePageUtf8, good, sizeof good, text));
  EXPECT_EQ(text, "A\xC3\xA4");
  const std::uint8_t bad[] = {0x41, 0xFF, 0x42};
  ASSERT_TRUE(MultiByteToUtf8(kCodePageUtf8, bad, sizeof bad, text));
  EXPECT_EQ(text,
            "A\xEF\xBF\xBD"
            "B");
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(Utf8ToMultiByte(kCodePageUtf8, "\xC3\xA4", bytes));
  EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0xC3, 0xA4}));
}

TEST(CodePageTest, EveryOemByteRoundTrips) {
  // Whatever the OEM code page is (437 on POSIX, the system's on Windows), each of its 256
  // bytes decodes to one character that encodes back to the same byte.
  for (int b = 0; b < 256; ++b) {
    const std::uint8_t byte = static_cast<std::uint8_t>(b);
    std::string text;
    ASSERT_TRUE(MultiByteToUtf8(kCodePageOem, &byte, 1, text));
    ASSERT_EQ(DecodeUtf8(text).size(), 1u) << b;
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(Utf8ToMultiByte(kCodePageOem, text, back));
    ASSERT_EQ(back, std::vector<std::uint8_t>{byte}) << b;
  }
}

TEST(CodePageTest, OemCommonLettersAndAsciiAsSuch) {
  const std::uint8_t name[] = {'R', 0x81, 'c', 'k', 0xE1, '.', 't', 'x', 't'};
  std::string text;
  ASSERT_TRUE(MultiByteToUtf8(kCodePageOem, name, sizeof name, text));
  EXPECT_EQ(text,
            "R\xC3\xBC"
            "ck\xC3\x9F.txt");  // "Rück" + "ß.txt" in 437 and 850 alike
}

}  // namespace
}  // namespace lum::platform
