// Fuzz target for the dynamic-Huffman encoder. The first bytes choose the level and the
// chunking (from 1 byte up to 65,536); the rest is the data. Every stream must decode to the
// data with zlib's raw inflate and with our own decoder, and the CRC register must match.
// One handle is also kept from input to input and reset before each: its stream must be the
// new handle's byte for byte, whatever the inputs before it left in its tables and buffer.
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "codec/dyn_deflate_test_support.h"
#include "tests/fuzz/roundtrip_checks.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/test_support.h"

using lum::fuzz::Bytes;
using lum::fuzz::Check;
using lum::fuzz::CodecInflate;
using lum::fuzz::ZlibInflate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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

  const lum::codec::dyntest::Encoded run =
      lum::codec::dyntest::Compress(fixture.table, input, chunks, level);
  Check(run.ok);
  static const lum::codec::CodecWord kept =
      lum::codec::DynDeflateCreate(lum::codec::Word(&fixture.table), 0, 0, 0);
  Check(lum::codec::DynDeflateReset(kept, 0, 0, 0) == 1);
  const lum::codec::dyntest::Encoded again =
      lum::codec::dyntest::CompressWith(fixture.table, kept, input, chunks, level);
  Check(again.ok && again.stream == run.stream && again.crc == run.crc);
  const Bytes& stream = run.stream;
  const std::uint32_t crc = run.crc;
  Check(ZlibInflate(stream) == input);
  Check(CodecInflate(fixture.table, stream) == input);
  Check(~crc == static_cast<std::uint32_t>(
                    crc32(crc32(0, nullptr, 0), input.data(), static_cast<uInt>(input.size()))));
  return 0;
}
