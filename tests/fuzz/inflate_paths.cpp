// Fuzz target: the decoder's fast loop against its plain state machine.
//
// Input: one byte choosing the chunking seed (and, by its lowest bit, the fast loop's portable
// form instead of the one the CPU runs), then arbitrary bytes taken as a raw Deflate stream.
// Two handles decode the same chunks, one with the plain machine forced; every call must give
// the same result, the same bytes and the same CRC register.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/codec_table.h"
#include "codec/inflate.h"
#include "tests/support/test_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lum::codec;
  if (size < 1) return 0;
  static lum::test::CodecFixture fixture;
  const CodecEntryTable& t = fixture.table;
  lum::test::Rng rng(data[0]);
  const std::uint8_t* stream = data + 1;
  const std::size_t n = size - 1;

  const CodecWord fast = t.pfnInflateCreate(fixture.TableWord(), 0, 0, 0);
  const CodecWord plain = t.pfnInflateCreate(fixture.TableWord(), 0, 0, 0);
  if (fast == 0 || plain == 0) std::abort();
  std::uint32_t crcFast = 0xFFFFFFFFu, crcPlain = 0xFFFFFFFFu;
  std::size_t pos = 0;
  do {
    // Tiny chunks now and then (each call costs an output buffer), mostly larger ones.
    const int kind = static_cast<int>(rng.Next() % 8);
    std::size_t chunk = kind == 0  ? rng.Range(1, 8)
                        : kind < 4 ? rng.Range(1, 300)
                                   : rng.Range(1, 65536);
    chunk = std::min(chunk, n - pos);
    CodecBlock a{}, b{};
    a.pInput = b.pInput = stream + pos;
    a.lInputSize = b.lInputSize = static_cast<std::int32_t>(chunk);
    testing::SetInflatePlainOnly(false);
    testing::SetInflatePortableLoop((data[0] & 1) != 0);
    const CodecWord ra = t.pfnInflate(fast, Word(&a), Word(&crcFast), 0);
    testing::SetInflatePlainOnly(true);
    const CodecWord rb = t.pfnInflate(plain, Word(&b), Word(&crcPlain), 0);
    testing::SetInflatePlainOnly(false);
    if (ra != rb || a.lOutputSize != b.lOutputSize || crcFast != crcPlain) std::abort();
    if (ra == 1 &&
        std::memcmp(a.pOutput, b.pOutput, static_cast<std::size_t>(a.lOutputSize)) != 0) {
      std::abort();
    }
    t.pfnFree(a.pOutput);
    t.pfnFree(b.pOutput);
    if (ra == 0) break;
    pos += chunk;
  } while (pos < n);
  t.pfnInflateDestroy(fast, 0, 0, 0);
  t.pfnInflateDestroy(plain, 0, 0, 0);
  return 0;
}
