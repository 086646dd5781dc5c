// Fuzz target: the decoder against zlib's raw inflate.
//
// Input: one byte choosing the chunking seed, then a raw Deflate stream. The stream is fed
// to a handle in chunks of pseudo-random sizes; whenever zlib decodes the whole input
// without error, the concatenated output must start with zlib's output (zlib stops at the
// final block, this decoder reads on; a stream cut short may leave zlib one match ahead)
// and the CRC register must match the output. Every
// call must honour the contract: 1 with a buffer, or 0 with pOutput = 0 and no output.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/codec_table.h"
#include "tests/support/test_support.h"

namespace {

enum class Verdict { kError, kComplete, kCutShort };

// zlib's raw inflate over the whole input: kComplete when the final block ends within it
// with every byte used, kCutShort when the input runs out first.
Verdict ZlibRaw(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return Verdict::kError;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  std::uint8_t buf[16384];
  int r = Z_OK;
  Verdict v = Verdict::kError;
  while (out.size() < (8u << 20)) {
    z.next_out = buf;
    z.avail_out = sizeof(buf);
    r = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof(buf) - z.avail_out));
    if (r == Z_STREAM_END) {
      v = z.avail_in == 0 ? Verdict::kComplete : Verdict::kError;
      break;
    }
    if (r != Z_OK && r != Z_BUF_ERROR) break;
    if (z.avail_in == 0 && z.avail_out != 0) {
      v = Verdict::kCutShort;
      break;
    }
  }
  inflateEnd(&z);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lum::codec;
  if (size < 1) return 0;
  static lum::test::CodecFixture fixture;
  const CodecEntryTable& t = fixture.table;
  lum::test::Rng rng(data[0]);
  const std::uint8_t* stream = data + 1;
  const std::size_t n = size - 1;

  const CodecWord h = t.pfnInflateCreate(fixture.TableWord(), 0, 0, 0);
  if (h == 0) std::abort();
  std::vector<std::uint8_t> out;
  std::uint32_t crc = 0xFFFFFFFFu;
  bool ok = true;
  std::size_t pos = 0;
  do {
    std::size_t chunk = (rng.Next() % 4 == 0) ? rng.Range(1, 16) : rng.Range(1, 65536);
    chunk = std::min(chunk, n - pos);
    CodecBlock b{};
    b.pInput = stream + pos;
    b.lInputSize = static_cast<std::int32_t>(chunk);
    if (t.pfnInflate(h, Word(&b), Word(&crc), 0) != 1) {
      if (b.pOutput != nullptr || b.lOutputSize != 0) std::abort();
      ok = false;
      break;
    }
    if (b.pOutput == nullptr || b.lOutputSize < 0) std::abort();
    out.insert(out.end(), b.pOutput, b.pOutput + b.lOutputSize);
    t.pfnFree(b.pOutput);
    pos += chunk;
  } while (pos < n);
  t.pfnInflateDestroy(h, 0, 0, 0);

  if (ok && ~crc != lum::test::ReferenceCrc32(out.data(), out.size())) std::abort();
  std::vector<std::uint8_t> ref;
  const Verdict v = ZlibRaw(stream, n, ref);
  if (v == Verdict::kError) return 0;
  // zlib finishing the stream is a verdict: we must accept it too. A stream cut short is
  // not: zlib has not checked what it has not read, and this decoder may fail earlier on a
  // pattern that no further bits could make valid (say, a code set with no codes at all).
  if (v == Verdict::kComplete && !ok) std::abort();
  if (!ok) return 0;
  if (v == Verdict::kComplete) {
    // Same bytes; this decoder reads on after the final block, but padding adds nothing.
    if (out.size() != ref.size()) std::abort();
  } else {
    // Cut short: a match whose last bit ends the input waits for the next chunk here (its
    // action needs no further bits), so zlib may be ahead by at most one match.
    if (out.size() > ref.size() || ref.size() - out.size() > 258) std::abort();
  }
  if (!out.empty() && std::memcmp(out.data(), ref.data(), out.size()) != 0) std::abort();
  return 0;
}
