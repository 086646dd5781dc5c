// Helpers for the decoder's tests: a bit writer that builds Deflate streams by hand, a tiny
// fixed-Huffman LZ77 encoder for realistic streams without a reference library, and a
// driver that feeds a stream through the entry table in chunks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "codec/codec_table.h"
#include "codec/inflate.h"
#include "tests/support/test_support.h"

namespace lum::codec::inflate_test {

// Writes Deflate bits: header fields least significant bit first, Huffman codes most
// significant bit first.
class BitWriter {
 public:
  void Bits(std::uint32_t value, int n) {
    for (int i = 0; i < n; ++i) Bit((value >> i) & 1u);
  }
  void Code(std::uint32_t code, int n) {
    for (int i = n - 1; i >= 0; --i) Bit((code >> i) & 1u);
  }
  void AlignByte() {
    while (m_count != 0) Bit(0);
  }
  void Byte(std::uint8_t b) { Bits(b, 8); }
  std::vector<std::uint8_t> Finish() {
    std::vector<std::uint8_t> out = m_bytes;
    if (m_count != 0) out.push_back(m_cur);
    return out;
  }

  // Block pieces.
  void Header(bool final, int type) {
    Bits(final ? 1 : 0, 1);
    Bits(static_cast<std::uint32_t>(type), 2);
  }
  void Stored(bool final, const std::vector<std::uint8_t>& data, std::uint16_t nlenXor = 0) {
    Header(final, 0);
    AlignByte();
    const auto len = static_cast<std::uint16_t>(data.size());
    Bits(len, 16);
    Bits(static_cast<std::uint16_t>(~len ^ nlenXor), 16);
    for (std::uint8_t b : data) Byte(b);
  }
  void FixedLiteral(int sym) {
    if (sym < 144)
      Code(0x30 + sym, 8);
    else if (sym < 256)
      Code(0x190 + sym - 144, 9);
    else if (sym < 280)
      Code(sym - 256, 7);
    else
      Code(0xC0 + sym - 280, 8);
  }
  // A length and distance pair in the fixed code; distance code `dcode` raw when >= 0.
  void FixedMatch(int length, int distance) {
    int li = 0;
    while (kLengthCodes[li].highest < length) ++li;
    FixedLiteral(257 + li);
    Bits(static_cast<std::uint32_t>(length - kLengthCodes[li].lowest), kLengthCodes[li].extraBits);
    int di = 0;
    while (kDistanceCodes[di].highest < distance) ++di;
    Code(static_cast<std::uint32_t>(di), 5);
    Bits(static_cast<std::uint32_t>(distance - kDistanceCodes[di].lowest),
         kDistanceCodes[di].extraBits);
  }

 private:
  void Bit(std::uint32_t b) {
    m_cur |= static_cast<std::uint8_t>(b << m_count);
    if (++m_count == 8) {
      m_bytes.push_back(m_cur);
      m_cur = 0;
      m_count = 0;
    }
  }
  std::vector<std::uint8_t> m_bytes;
  std::uint8_t m_cur = 0;
  int m_count = 0;
};

// Canonical codes (RFC 1951 section 3.2.2) of a complete or incomplete set of lengths.
inline std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int count[16] = {};
  for (int l : lengths) ++count[l];
  count[0] = 0;
  std::uint32_t next[16] = {};
  for (int l = 2; l < 16; ++l) next[l] = (next[l - 1] + count[l - 1]) << 1;
  std::vector<std::uint32_t> codes(lengths.size());
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    if (lengths[i] > 0) codes[i] = next[lengths[i]]++;
  }
  return codes;
}

// A dynamic block: writes the header for `lit` (HLIT entries) and `dist` (HDIST) code
// lengths, sending every length as a plain code-length symbol (all 19 code-length symbols
// get length 5). Then `Lit`/`Dist` write symbols of the block's codes.
class DynamicBlock {
 public:
  DynamicBlock(BitWriter& w, bool final, std::vector<int> lit, std::vector<int> dist)
      : m_w(w), m_lit(std::move(lit)), m_dist(std::move(dist)) {
    m_litCodes = CanonicalCodes(m_lit);
    m_distCodes = CanonicalCodes(m_dist);
    w.Header(final, 2);
    w.Bits(static_cast<std::uint32_t>(m_lit.size() - 257), 5);
    w.Bits(static_cast<std::uint32_t>(m_dist.size() - 1), 5);
    w.Bits(15, 4);                              // HCLEN = 19
    for (int i = 0; i < 19; ++i) w.Bits(5, 3);  // code-length symbol s has code s
    for (int l : m_lit) w.Code(static_cast<std::uint32_t>(l), 5);
    for (int l : m_dist) w.Code(static_cast<std::uint32_t>(l), 5);
  }
  void Lit(int sym) { m_w.Code(m_litCodes[sym], m_lit[sym]); }
  void Dist(int sym) { m_w.Code(m_distCodes[sym], m_dist[sym]); }

 private:
  BitWriter& m_w;
  std::vector<int> m_lit, m_dist;
  std::vector<std::uint32_t> m_litCodes, m_distCodes;
};

// Greedy LZ77 with the fixed code, one block per 16 KiB of input (the last one final), so
// that matches cross block boundaries and reach up to 32 KiB back.
inline std::vector<std::uint8_t> FixedDeflate(const std::vector<std::uint8_t>& data) {
  BitWriter w;
  std::vector<std::int64_t> head(1 << 15, -1);
  std::size_t i = 0;
  do {
    const std::size_t blockEnd = std::min(data.size(), i + 16384);
    w.Header(blockEnd == data.size(), 1);
    while (i < blockEnd) {
      int bestLen = 0;
      std::size_t bestDist = 0;
      if (i + 3 <= data.size()) {
        std::uint32_t h = ((data[i] << 10) ^ (data[i + 1] << 5) ^ data[i + 2]) & 0x7FFF;
        std::int64_t cand = head[h];
        head[h] = static_cast<std::int64_t>(i);
        if (cand >= 0 && i - static_cast<std::size_t>(cand) <= 32768) {
          int len = 0;
          while (len < 258 && i + len < data.size() && data[cand + len] == data[i + len]) ++len;
          if (len >= 3) {
            bestLen = len;
            bestDist = i - static_cast<std::size_t>(cand);
          }
        }
      }
      if (bestLen >= 3) {
        w.FixedMatch(bestLen, static_cast<int>(bestDist));
        i += static_cast<std::size_t>(bestLen);
      } else {
        w.FixedLiteral(data[i++]);
      }
    }
    w.FixedLiteral(256);
  } while (i < data.size());
  return w.Finish();
}

// Result of feeding a whole stream through one handle.
struct Decoded {
  bool ok = true;       // every call succeeded
  int failedCall = -1;  // index of the first failing call
  std::vector<std::uint8_t> out;
  std::vector<std::int32_t> callSizes;  // lOutputSize of each successful call
  std::uint32_t crc = 0xFFFFFFFFu;      // the register as the calls left it
};

// Feeds `data` through a new handle of `f`'s table in chunks whose sizes `next` picks,
// stopping at the first failing call. Checks the per-call contract on the way.
inline Decoded DecodeChunked(test::CodecFixture& f, const std::vector<std::uint8_t>& data,
                             const std::function<std::size_t()>& next) {
  Decoded d;
  const CodecWord h = f.table.pfnInflateCreate(f.TableWord(), 0, 0, 0);
  EXPECT_NE(h, 0);
  if (h == 0) return {false, 0, {}, {}, 0};
  std::size_t pos = 0;
  int call = 0;
  do {
    const std::size_t n = std::min(next(), data.size() - pos);
    CodecBlock b{};
    b.pInput = data.data() + pos;
    b.lInputSize = static_cast<std::int32_t>(n);
    b.pOutput = reinterpret_cast<std::uint8_t*>(1);  // must be overwritten
    const CodecWord r = f.table.pfnInflate(h, Word(&b), Word(&d.crc), 0);
    if (r != 1) {
      EXPECT_EQ(r, 0);
      EXPECT_EQ(b.pOutput, nullptr);
      EXPECT_EQ(b.lOutputSize, 0);
      d.ok = false;
      d.failedCall = call;
      break;
    }
    EXPECT_NE(b.pOutput, nullptr);
    d.out.insert(d.out.end(), b.pOutput, b.pOutput + b.lOutputSize);
    d.callSizes.push_back(b.lOutputSize);
    f.table.pfnFree(b.pOutput);
    pos += n;
    ++call;
  } while (pos < data.size());
  f.table.pfnInflateDestroy(h, 0, 0, 0);
  return d;
}

inline Decoded DecodeWhole(test::CodecFixture& f, const std::vector<std::uint8_t>& data) {
  return DecodeChunked(f, data, [&] { return std::max<std::size_t>(data.size(), 1); });
}

// Random chunk sizes from 1 to `maxChunk`, deterministic per seed.
inline std::function<std::size_t()> RandomChunks(std::uint64_t seed, std::size_t maxChunk) {
  auto rng = std::make_shared<test::Rng>(seed);
  return [rng, maxChunk] {
    // Mostly small or mostly large, so both ends of the range are exercised.
    std::size_t top = (rng->Next() & 1) ? maxChunk : std::min<std::size_t>(maxChunk, 64);
    return static_cast<std::size_t>(rng->Range(1, top));
  };
}

// Runs `fn` with the plain state machine forced, restoring the fast path afterwards.
template <typename Fn>
auto WithPlainOnly(Fn fn) {
  testing::SetInflatePlainOnly(true);
  auto r = fn();
  testing::SetInflatePlainOnly(false);
  return r;
}

// Chooses the decoder's paths for its lifetime (plain machine, portable fast loop) and
// restores the defaults when it ends, also when a failed assertion leaves the test early.
class DecoderPaths {
 public:
  DecoderPaths(bool plainOnly, bool portableLoop) {
    testing::SetInflatePlainOnly(plainOnly);
    testing::SetInflatePortableLoop(portableLoop);
  }
  ~DecoderPaths() {
    testing::SetInflatePlainOnly(false);
    testing::SetInflatePortableLoop(false);
  }
  DecoderPaths(const DecoderPaths&) = delete;
  DecoderPaths& operator=(const DecoderPaths&) = delete;
};

}  // namespace lum::codec::inflate_test
