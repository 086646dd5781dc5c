// Fuzz target for the Deflate encoder. The input chooses the parameters (a level from the
// table, or free values for the candidate count and compare length), the chunking and the
// data. Every stream must decode to the data with zlib's raw inflate and with our own decoder,
// the CRC register must match, and for small data the bytes of every call must equal the
// literal model's.
#include <zlib.h>

#include <cstdint>
#include <vector>

#include "codec/deflate_levels.h"
#include "tests/fuzz/roundtrip_checks.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/test_support.h"

using lum::fuzz::Bytes;
using lum::fuzz::Check;
using lum::fuzz::CodecInflate;
using lum::fuzz::ZlibInflate;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  static lum::test::CodecFixture fixture;
  // Byte 0: level 1–9, or (≥ 0xF0) free parameters from bytes 1–3. Byte 1–3: chunking seed
  // and the largest chunk.
  lum::test::DeflateParams params;
  if (data[0] >= 0xF0) {
    params = {(data[0] & 1) != 0, 1 + (data[1] | (data[2] & 3) << 8),
              static_cast<std::int32_t>(data[3]) * (data[2] >> 2) + 1};
  } else {
    const lum::codec::DeflateLevel p = lum::codec::DeflateLevelParams(1 + data[0] % 9);
    params = {p.bGreedy != 0, p.lMaxCandidates, p.lCompareLength};
  }
  std::int32_t maxChunk = data[3] < 0x80 ? 65536 : 1 + (data[3] & 0x7F) * (data[2] + 1);
  // At most a few hundred calls, however small the chunks.
  if (maxChunk < static_cast<std::int32_t>(size / 128) + 1)
    maxChunk = static_cast<std::int32_t>(size / 128) + 1;
  const std::uint64_t seed = data[1] | static_cast<std::uint64_t>(data[2]) << 8;
  const Bytes input(data + 4, data + size);
  const std::vector<std::int32_t> chunks =
      lum::test::RandomChunks(input.size(), 0, maxChunk, seed, (data[3] & 1) != 0);

  const lum::test::CodecDeflateRun run =
      lum::test::CodecDeflateChunks(fixture.table, input, chunks, params);
  Check(run.ok);
  const Bytes stream = run.Joined();
  Check(ZlibInflate(stream) == input);
  Check(CodecInflate(fixture.table, stream) == input);
  Check(~run.crc == lum::test::ReferenceCrc32(input.data(), input.size()));
  if (input.size() <= 4096) {
    Check(lum::test::ReferenceDeflateChunks(fixture.table, input, chunks, params) == run.outputs);
  }
  return 0;
}
