// POSIX code pages: 437 for OEM from the built-in table, UTF-8 for ANSI.
#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace lum::platform {
namespace {

TEST(Cp437Test, TableCornersAndUnmappableCharacters) {
  const std::uint8_t bytes[] = {0x80, 0x9E, 0xB0, 0xE0, 0xFE, 0xFF, 0x7F, 0x00};
  std::string text;
  ASSERT_TRUE(MultiByteToUtf8(kCodePageOem, bytes, sizeof bytes, text));
  EXPECT_EQ(DecodeUtf8(text),
            (std::u32string{0x00C7, 0x20A7, 0x2591, 0x03B1, 0x25A0, 0x00A0, 0x7F, 0x00}));
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(Utf8ToMultiByte(kCodePageOem, "\xE2\x82\xAC\xC3\xA4\xF0\x9F\x98\x80", out));
  EXPECT_EQ(out, (std::vector<std::uint8_t>{'?', 0x84, '?'}));  // euro and emoji are not in 437
}

TEST(Cp437Test, AnsiIsUtf8AndOtherCodePagesAreUnavailable) {
  std::vector<std::uint8_t> out;
  ASSERT_TRUE(Utf8ToMultiByte(kCodePageAnsi, "\xE2\x82\xAC", out));
  EXPECT_EQ(out, (std::vector<std::uint8_t>{0xE2, 0x82, 0xAC}));
  std::string text = "x";
  const std::uint8_t b = 'a';
  EXPECT_FALSE(MultiByteToUtf8(1252, &b, 1, text));
  EXPECT_TRUE(text.empty());
}

}  // namespace
}  // namespace lum::platform
