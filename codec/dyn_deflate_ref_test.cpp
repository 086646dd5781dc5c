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
#include "tests/support/deflate_reference.h"
#include "tests/support/test_support.h"

namespace lum::codec {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool ZlibInflate(const Bytes& stream, Bytes& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  int rc = Z_OK;
  std::uint8_t buf[65536];
  while (rc == Z_OK) {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}

bool LibdeflateInflate(const Bytes& stream, std::size_t size, Bytes& out) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  out.assign(size, 0);
  std::size_t inUsed = 0;
  std::size_t outUsed = 0;
  const libdeflate_result rc = libdeflate_deflate_decompress_ex(
      d, stream.data(), stream.size(), out.data(), out.size(), &inUsed, &outUsed);
  libdeflate_free_decompressor(d);
  out.resize(outUsed);
  return rc == LIBDEFLATE_SUCCESS && inUsed == stream.size();
}

Bytes Compress(const CodecEntryTable& table, const Bytes& data,
               const std::vector<std::int32_t>& chunks, int level, std::uint32_t& crc) {
  Bytes stream;
  const CodecWord h = DynDeflateCreate(Word(&table), 0, 0, 0);
  EXPECT_NE(h, 0);
  std::size_t at = 0;
  crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    CodecBlock b{};
    b.pInput = data.data() + at;
    b.lInputSize = chunks[i];
    b.bFinal = i + 1 == chunks.size() ? 1 : 0;
    at += static_cast<std::size_t>(chunks[i]);
    EXPECT_EQ(DynDeflate(h, Word(&b), Word(&crc), level), 1);
    stream.insert(stream.end(), b.pOutput, b.pOutput + b.lOutputSize);
    table.pfnFree(b.pOutput);
  }
  DynDeflateDestroy(h, 0, 0, 0);
  return stream;
}

Bytes Mixed(std::size_t size, std::uint64_t seed) {
  Bytes out;
  test::Rng rng(seed);
  const auto kinds = test::AllDataKinds();
  while (out.size() < size) {
    const Bytes part = test::MakeData(kinds[rng.Next() % kinds.size()],
                                      static_cast<std::size_t>(rng.Range(1000, 90000)), rng.Next());
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(size);
  return out;
}

TEST(DynDeflateReference, ZlibAndLibdeflateDecodeEveryLevelAndChunking) {
  test::CodecFixture f;
  std::vector<std::pair<std::string, Bytes>> inputs;
  for (test::DataKind kind : test::AllDataKinds()) {
    inputs.emplace_back(test::DataKindName(kind), test::MakeData(kind, 200000, 31));
  }
  inputs.emplace_back("mixed", Mixed(500000, 32));
  inputs.emplace_back("empty", Bytes{});
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
