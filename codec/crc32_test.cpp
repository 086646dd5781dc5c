#include "codec/crc32.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace lum::codec {
namespace {

TEST(Crc32Table, KnownEntries) {
  Crc32Table t;
  const std::uint32_t* table = t.pvCrc32Table();
  EXPECT_EQ(table, t.pvCrc32Table());  // built once, same address
  EXPECT_EQ(table[1], 0x77073096u);
  EXPECT_EQ(table[255], 0x2D02EF8Du);
  EXPECT_EQ(table[256 + 1], 0x191B3141u);
  EXPECT_EQ(table[768 + 255], 0xDE0506F1u);
}

TEST(Crc32Slot, CheckValuesThroughEntryTable) {
  test::CodecFixture f;
  auto crcOf = [&](const char* s, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    f.table.pfnCrc32Update(f.TableWord(), Word(s), static_cast<CodecWord>(n), Word(&c));
    return ~c;
  };
  EXPECT_EQ(crcOf("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(crcOf("abc", 3), 0x352441C2u);
}

}  // namespace
}  // namespace lum::codec
