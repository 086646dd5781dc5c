// Fuzz target for the dynamic-Huffman encoder. The first bytes choose the level and the
// chunking (from 1 byte up to 65,536); the rest is the data. Every stream must decode to the
// data with zlib's raw inflate and with our own decoder, and the CRC register must match.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/dyn_deflate.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Check(bool ok) {
  if (!ok) std::abort();
}

Bytes ZlibInflate(const Bytes& stream) {
  z_stream z{};
  Check(inflateInit2(&z, -15) == Z_OK);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  Bytes out;
  std::uint8_t buf[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
  }
  Check(rc == Z_STREAM_END && z.avail_in == 0);
  inflateEnd(&z);
  return out;
}

Bytes CodecInflate(const lum::codec::CodecEntryTable& table, const Bytes& stream) {
  using lum::codec::Word;
  const lum::codec::CodecWord handle = table.pfnInflateCreate(Word(&table), 0, 0, 0);
  Check(handle != 0);
  lum::codec::CodecBlock block{};
  block.pInput = stream.data();
  block.lInputSize = static_cast<std::int32_t>(stream.size());
  Check(table.pfnInflate(handle, Word(&block), 0, 0) == 1 && block.pOutput != nullptr);
  Bytes out(block.pOutput, block.pOutput + block.lOutputSize);
  table.pfnFree(block.pOutput);
  table.pfnInflateDestroy(handle, 0, 0, 0);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using lum::codec::Word;
  if (size < 3) return 0;
  static lum::test::CodecFixture fixture;
  // Byte 0: level 1–9. Bytes 1–2: chunking seed and the largest chunk.
  const int level = 1 + data[0] % 9;
  std::int32_t maxChunk = data[2] < 0x80 ? 65536 : 1 + (data[2] & 0x7F) * (data[1] + 1);
  if (maxChunk < static_cast<std::int32_t>(size / 256) + 1) {
    maxChunk = static_cast<std::int32_t>(size / 256) + 1;
  }
  const Bytes input(data + 3, data + size);
  const std::vector<std::int32_t> chunks =
      lum::test::RandomChunks(input.size(), 0, maxChunk, data[1], (data[2] & 1) != 0);

  const lum::codec::CodecWord h = lum::codec::DynDeflateCreate(fixture.TableWord(), 0, 0, 0);
  Check(h != 0);
  Bytes stream;
  std::uint32_t crc = 0xFFFFFFFFu;
  std::size_t at = 0;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    lum::codec::CodecBlock b{};
    b.pInput = input.data() + at;
    b.lInputSize = chunks[i];
    b.bFinal = i + 1 == chunks.size() ? 1 : 0;
    at += static_cast<std::size_t>(chunks[i]);
    Check(lum::codec::DynDeflate(h, Word(&b), Word(&crc), level) == 1 && b.pOutput != nullptr);
    stream.insert(stream.end(), b.pOutput, b.pOutput + b.lOutputSize);
    fixture.table.pfnFree(b.pOutput);
  }
  lum::codec::DynDeflateDestroy(h, 0, 0, 0);
  Check(ZlibInflate(stream) == input);
  Check(CodecInflate(fixture.table, stream) == input);
  Check(~crc == static_cast<std::uint32_t>(
                    crc32(crc32(0, nullptr, 0), input.data(), static_cast<uInt>(input.size()))));
  return 0;
}
