#include "codec/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/crc32_fast.h"
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

TEST(Crc32Table, SlicingTablesExtendTheBuiltTable) {
  Crc32Table t;
  const std::uint32_t* table = t.pvCrc32Table();
  for (int k = 0; k < 4; ++k) {
    for (int n = 0; n < 256; ++n)
      ASSERT_EQ(kCrc32Slice8[k][n], table[256 * k + n]) << k << "," << n;
  }
  // Table k is byte n followed by k zero bytes: check the last one that way.
  for (int n = 0; n < 256; n += 17) {
    std::uint8_t bytes[8] = {static_cast<std::uint8_t>(n)};
    std::uint32_t c = 0;
    Crc32UpdateTable(table, bytes, 8, c);
    EXPECT_EQ(kCrc32Slice8[7][n], c) << n;
  }
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

// Every test below runs once per register-update form, forced through the test hook, and
// compares against the four-table form.
class Crc32PathTest : public ::testing::TestWithParam<Crc32Path> {
 protected:
  void SetUp() override {
    if (!testing::SetCrc32Path(GetParam())) GTEST_SKIP() << "form not available on this CPU";
    m_table = m_crcTable.pvCrc32Table();
  }
  void TearDown() override { testing::ResetCrc32Path(); }

  std::uint32_t Fast(const std::uint8_t* p, std::size_t n, std::uint32_t c) {
    Crc32UpdateFast(m_table, p, n, c);
    return c;
  }
  std::uint32_t Table(const std::uint8_t* p, std::size_t n, std::uint32_t c) {
    Crc32UpdateTable(m_table, p, n, c);
    return c;
  }

  Crc32Table m_crcTable;
  const std::uint32_t* m_table = nullptr;
};

std::string PathName(const ::testing::TestParamInfo<Crc32Path>& info) {
  switch (info.param) {
    case Crc32Path::kTable:
      return "Table";
    case Crc32Path::kSlicing8:
      return "Slicing8";
    case Crc32Path::kPclmul:
      return "Pclmul";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(AllForms, Crc32PathTest,
                         ::testing::Values(Crc32Path::kTable, Crc32Path::kSlicing8,
                                           Crc32Path::kPclmul),
                         PathName);

TEST_P(Crc32PathTest, HookSelectsTheForm) {
  EXPECT_EQ(testing::ActiveCrc32Path(), GetParam());
}

TEST_P(Crc32PathTest, CheckValuesEmptyInputAndPieces) {
  auto bytes = [](const char* s) { return reinterpret_cast<const std::uint8_t*>(s); };
  EXPECT_EQ(~Fast(bytes("123456789"), 9, 0xFFFFFFFFu), 0xCBF43926u);
  EXPECT_EQ(~Fast(bytes("abc"), 3, 0xFFFFFFFFu), 0x352441C2u);
  for (std::uint32_t c : {0u, 0xFFFFFFFFu, 0x12345678u}) EXPECT_EQ(Fast(nullptr, 0, c), c);

  // "abc" as 1 + 2 and 2 + 1 bytes, at every alignment of the buffer.
  alignas(16) std::uint8_t buf[32];
  for (int align = 0; align < 16; ++align) {
    std::memcpy(buf + align, "abc", 3);
    for (std::size_t first : {1u, 2u}) {
      std::uint32_t c = Fast(buf + align, first, 0xFFFFFFFFu);
      c = Fast(buf + align + first, 3 - first, c);
      EXPECT_EQ(~c, 0x352441C2u) << "align " << align << " first " << first;
    }
  }
}

TEST_P(Crc32PathTest, EveryLengthAndAlignmentMatchesTableForm) {
  test::Rng rng(0xC3C3'0001);
  std::vector<std::uint8_t> data = test::MakeData(test::DataKind::kRandom, 5000 + 16, 7);
  for (std::size_t len = 0; len <= 5000; len += (len < 600 ? 1 : rng.Range(1, 37))) {
    for (std::size_t align = 0; align < 16; ++align) {
      std::uint32_t seed = static_cast<std::uint32_t>(rng.Next());
      ASSERT_EQ(Fast(data.data() + align, len, seed), Table(data.data() + align, len, seed))
          << "length " << len << " align " << align;
    }
  }
}

TEST_P(Crc32PathTest, RandomSplitsGiveTheWholeBufferRegister) {
  test::Rng rng(0xC3C3'0002);
  for (test::DataKind kind : test::AllDataKinds()) {
    std::vector<std::uint8_t> data = test::MakeData(kind, 200000, rng.Next());
    const std::uint32_t whole = ~Table(data.data(), data.size(), 0xFFFFFFFFu);
    for (int round = 0; round < 20; ++round) {
      std::uint32_t c = 0xFFFFFFFFu;
      std::size_t pos = 0;
      while (pos < data.size()) {
        // Mostly small pieces, some large enough for the wide loops.
        std::size_t piece = rng.Range(0, 3) == 0 ? rng.Range(0, 20000) : rng.Range(0, 300);
        piece = std::min(piece, data.size() - pos);
        c = Fast(data.data() + pos, piece, c);
        pos += piece;
      }
      ASSERT_EQ(~c, whole) << test::DataKindName(kind) << " round " << round;
    }
  }
}

TEST_P(Crc32PathTest, LargeBuffersMatchBitwiseDefinition) {
  for (std::size_t size : {std::size_t{1} << 20, (std::size_t{3} << 20) + 13}) {
    std::vector<std::uint8_t> data = test::MakeData(test::DataKind::kBinary, size, size);
    EXPECT_EQ(~Fast(data.data(), size, 0xFFFFFFFFu), test::ReferenceCrc32(data.data(), size));
    EXPECT_EQ(~Fast(data.data() + 3, size - 3, 0xFFFFFFFFu),
              test::ReferenceCrc32(data.data() + 3, size - 3));
  }
  // All ones and all zeros stress the folding constants differently from random data.
  for (std::uint8_t fill : {std::uint8_t{0}, std::uint8_t{0xFF}}) {
    std::vector<std::uint8_t> data(70000, fill);
    EXPECT_EQ(~Fast(data.data(), data.size(), 0xFFFFFFFFu),
              test::ReferenceCrc32(data.data(), data.size()));
  }
}

TEST_P(Crc32PathTest, EntryTableSlotUsesTheSameRegister) {
  test::CodecFixture f;
  std::vector<std::uint8_t> data = test::MakeData(test::DataKind::kText, 65536 + 5, 11);
  std::uint32_t c = 0xFFFFFFFFu;
  f.table.pfnCrc32Update(f.TableWord(), Word(data.data() + 1), 65536, Word(&c));
  EXPECT_EQ(c, Table(data.data() + 1, 65536, 0xFFFFFFFFu));
}

TEST(Crc32Dispatch, ChosenFormMatchesTheCpu) {
  testing::ResetCrc32Path();
  Crc32Path expected = Crc32PclmulAvailable() ? Crc32Path::kPclmul : Crc32Path::kSlicing8;
  EXPECT_EQ(testing::ActiveCrc32Path(), expected);
  EXPECT_STREQ(Crc32FastPathName(),
               expected == Crc32Path::kPclmul ? "pclmul folding" : "slicing-by-8");
  EXPECT_EQ(testing::SetCrc32Path(Crc32Path::kPclmul), Crc32PclmulAvailable());
  testing::ResetCrc32Path();
}

}  // namespace
}  // namespace lum::codec
