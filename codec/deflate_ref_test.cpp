// The encoder's streams decoded by zlib and libdeflate: every level, the archive writer's
// 65,536-byte chunks and irregular ones, inputs large enough to fill the window many times.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include "codec/deflate_levels.h"
#include "codec/ref_test_support.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/test_support.h"

namespace lum::codec {
namespace {

using Bytes = std::vector<std::uint8_t>;
using reftest::LibdeflateInflate;
using reftest::Mixed;
using reftest::ZlibInflate;

test::DeflateParams Level(int level) {
  const DeflateLevel p = DeflateLevelParams(level);
  return {p.bGreedy != 0, p.lMaxCandidates, p.lCompareLength};
}

TEST(DeflateZlib, EveryLevelAndChunkingDecodesToTheInput) {
  test::CodecFixture f;
  const std::vector<std::pair<std::string, Bytes>> inputs = reftest::NamedInputs(200000, 400000);
  std::uint64_t seed = 40;
  for (const auto& [name, data] : inputs) {
    for (int level = 1; level <= 9; ++level) {
      for (bool writerChunks : {true, false}) {
        SCOPED_TRACE(testing::Message() << name << ", level " << level << ", "
                                        << (writerChunks ? "65536" : "random") << " chunks");
        const auto chunks = writerChunks ? test::FixedChunks(data.size(), 65536)
                                         : test::RandomChunks(data.size(), 0, 40000, ++seed);
        const test::CodecDeflateRun run =
            test::CodecDeflateChunks(f.table, data, chunks, Level(level));
        ASSERT_TRUE(run.ok);
        const Bytes stream = run.Joined();
        Bytes viaZlib;
        ASSERT_TRUE(ZlibInflate(stream, viaZlib));
        EXPECT_TRUE(viaZlib == data);
        Bytes viaLibdeflate;
        ASSERT_TRUE(LibdeflateInflate(stream, data.size(), viaLibdeflate));
        EXPECT_TRUE(viaLibdeflate == data);
        const std::uint32_t zlibCrc = static_cast<std::uint32_t>(
            crc32(crc32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
        EXPECT_EQ(~run.crc, zlibCrc);
      }
    }
  }
}

TEST(DeflateZlib, IncompressibleInputGrowsByAtMostTheLiteralCost) {
  test::CodecFixture f;
  const Bytes data = test::MakeData(test::DataKind::kRandom, 5 * 65536 + 123, 77);
  const test::CodecDeflateRun run =
      test::CodecDeflateChunks(f.table, data, test::FixedChunks(data.size(), 65536), Level(6));
  ASSERT_TRUE(run.ok);
  // 9 bits per byte at worst, plus 10 bits of block framing per call and the final padding.
  EXPECT_LE(run.Joined().size(), (9 * data.size() + 10 * run.outputs.size() + 7) / 8);
  Bytes back;
  ASSERT_TRUE(ZlibInflate(run.Joined(), back));
  EXPECT_TRUE(back == data);
}

}  // namespace
}  // namespace lum::codec
