// The dynamic-Huffman encoder's streams decoded by zlib and libdeflate (both check code
// completeness and the code-length runs strictly): every level, the archive writer's
// 65,536-byte chunks and irregular ones from 1 byte up, every kind of data and a mix that
// changes character inside one stream. Also: the level order holds on real data.
#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <string>
#include <utility>

#include "codec/dyn_deflate.h"
#include "codec/dyn_deflate_test_support.h"
#include "codec/ref_test_support.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/test_support.h"

namespace lum::codec {
namespace {

using Bytes = std::vector<std::uint8_t>;
using reftest::LibdeflateInflate;
using reftest::Mixed;
using reftest::ZlibInflate;

// The encoder's whole stream for `data` in the chunk sizes `chunks`; `crc` gets its register.
Bytes Compress(const CodecEntryTable& table, const Bytes& data,
               const std::vector<std::int32_t>& chunks, int level, std::uint32_t& crc) {
  dyntest::Encoded run = dyntest::Compress(table, data, chunks, level);
  EXPECT_TRUE(run.ok);
  crc = run.crc;
  return std::move(run.stream);
}

TEST(DynDeflateReference, ZlibAndLibdeflateDecodeEveryLevelAndChunking) {
  test::CodecFixture f;
  std::vector<std::pair<std::string, Bytes>> inputs = reftest::NamedInputs(200000, 500000);
  inputs.emplace_back("one byte", Bytes{0xFF});
  std::uint64_t seed = 40;
  for (const auto& [name, data] : inputs) {
    for (int level = 1; level <= 9; ++level) {
      for (int chunking = 0; chunking < 3; ++chunking) {
        SCOPED_TRACE(testing::Message()
                     << name << ", level " << level << ", chunking " << chunking);
        const auto chunks = chunking == 0   ? test::FixedChunks(data.size(), 65536)
                            : chunking == 1 ? test::RandomChunks(data.size(), 0, 40000, ++seed)
                                            : test::RandomChunks(data.size(), 1, 300, ++seed, true);
        std::uint32_t crc = 0;
        const Bytes stream = Compress(f.table, data, chunks, level, crc);
        Bytes viaZlib;
        ASSERT_TRUE(ZlibInflate(stream, viaZlib));
        EXPECT_TRUE(viaZlib == data);
        Bytes viaLibdeflate;
        ASSERT_TRUE(LibdeflateInflate(stream, data.size(), viaLibdeflate));
        EXPECT_TRUE(viaLibdeflate == data);
        const std::uint32_t zlibCrc = static_cast<std::uint32_t>(
            crc32(crc32(0, nullptr, 0), data.data(), static_cast<uInt>(data.size())));
        EXPECT_EQ(~crc, zlibCrc);
      }
    }
  }
}

TEST(DynDeflateReference, HigherLevelsAreNotLargerAndBeatZlibsDefault) {
  test::CodecFixture f;
  const Bytes data = Mixed(1500000, 8);
  std::uint32_t crc = 0;
  std::size_t sizes[10] = {};
  for (int level : {1, 6, 9}) {
    sizes[level] =
        Compress(f.table, data, test::FixedChunks(data.size(), 65536), level, crc).size();
  }
  EXPECT_LE(sizes[6], sizes[1]);
  EXPECT_LE(sizes[9], sizes[6]);
  uLongf zsize = compressBound(static_cast<uLong>(data.size()));
  Bytes z(zsize);
  ASSERT_EQ(compress2(z.data(), &zsize, data.data(), static_cast<uLong>(data.size()), 6), Z_OK);
  // zlib's size includes a 6-byte wrapper.
  EXPECT_LE(sizes[6], zsize - 6);
}

}  // namespace
}  // namespace lum::codec
