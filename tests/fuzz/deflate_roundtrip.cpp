// Fuzz target for the Deflate encoder. The input chooses the parameters (a level from the
// table, or free values for the candidate count and compare length), the chunking and the
// data. Every stream must decode to the data with zlib's raw inflate and with our own decoder,
// the CRC register must match, and for small data the bytes of every call must equal the
// literal model's.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/deflate_levels.h"
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
