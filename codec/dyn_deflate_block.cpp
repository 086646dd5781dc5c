// Writing one block of the dynamic-Huffman encoder.
//
// The block's symbol counts give its dynamic codes (length-limited Huffman codes for the
// literal/length and the distance alphabets) and the exact size in bits of the three ways to
// write it: dynamic codes with their header, the fixed codes of RFC 1951 section 3.2.6, or
// stored blocks of at most 65,535 bytes each. The smallest one is written.
//
// The dynamic header sends the code lengths run-length coded (RFC 1951 section 3.2.7). The
// literal/length lengths and the distance lengths are coded as two separate sequences: a run
// never continues from one into the other, and a repeat code (16) never repeats a length of
// the other alphabet, so decoders that check the boundary strictly accept every header.
#include <algorithm>
#include <array>
#include <cstring>

#include "codec/dyn_deflate_state.h"
#include "codec/dyn_huffman.h"

namespace lum::codec {

namespace {

constexpr int kLitLenSymbols = kDynLitLenSymbols;
constexpr int kCodeLengthSymbols = 19;

// One symbol of the code-length code and the value of its extra bits.
struct LengthRun {
  std::uint8_t symbol;
  std::uint8_t extra;
};

// Appends the run-length coding of lengths[0..n) to runs (starting at runs[k]); returns the
// new count. Zeros use 17 (3–10) and 18 (11–138); other lengths are sent once and then
// repeated with 16 (3–6 copies of the previous length).
int RunLengths(const std::uint8_t* lengths, int n, LengthRun* runs, int k) {
  int i = 0;
  while (i < n) {
    const std::uint8_t v = lengths[i];
    int run = 1;
    while (i + run < n && lengths[i + run] == v) ++run;
    i += run;
    if (v == 0) {
      while (run >= 11) {
        const int r = run < 138 ? run : 138;
        runs[k++] = {18, static_cast<std::uint8_t>(r - 11)};
        run -= r;
      }
      if (run >= 3) {
        runs[k++] = {17, static_cast<std::uint8_t>(run - 3)};
        run = 0;
      }
    } else {
      runs[k++] = {v, 0};
      --run;
      while (run >= 3) {
        const int r = run < 6 ? run : 6;
        runs[k++] = {16, static_cast<std::uint8_t>(r - 3)};
        run -= r;
      }
    }
    for (; run > 0; --run) runs[k++] = {v, 0};
  }
  return k;
}

constexpr std::uint8_t FixedLength(int symbol) {
  return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
}

// The fixed code's literal/length lengths (RFC 1951 section 3.2.6).
constexpr std::array<std::uint8_t, 288> kFixedLengths = [] {
  std::array<std::uint8_t, 288> t{};
  for (int i = 0; i < 288; ++i) t[static_cast<std::size_t>(i)] = FixedLength(i);
  return t;
}();

// The Huffman codes a block is written with.
struct BlockCodes {
  std::uint8_t litLen[288];
  std::uint16_t litCode[288];
  std::uint8_t distLen[kDistanceCodeCount];
  std::uint16_t distCode[kDistanceCodeCount];
};

// The bit buffer lives in locals here: stores through the output's byte pointer could change
// any field of `out` as far as the compiler knows, which would reload them after every store.
// After each token every complete byte is stored at once (one 8-byte store; the buffer keeps
// 16 bytes of slack), so at most 7 bits wait and a match's two codes with their extra bits
// (at most 48 bits) always fit.
// The fixed codes of RFC 1951 section 3.2.6, built once.
const BlockCodes& FixedCodes() {
  static const BlockCodes codes = [] {
    BlockCodes f{};
    std::memcpy(f.litLen, kFixedLengths.data(), sizeof f.litLen);
    for (int i = 0; i < kDistanceCodeCount; ++i) f.distLen[i] = 5;
    BuildCanonicalCodes(f.litLen, 288, f.litCode);
    BuildCanonicalCodes(f.distLen, kDistanceCodeCount, f.distCode);
    return f;
  }();
  return codes;
}

void WriteTokens(DynDeflateState& s, DynBitOut& out, const BlockCodes& c, std::int32_t end) {
  const DynSymbols& sym = s.symbols;
  const std::uint32_t* tokens = s.tokens;
  out.FlushBytes();
  std::uint8_t* at = out.buffer + out.length;
  std::uint64_t bits = out.bits;
  int count = out.count;
  for (std::int32_t i = 0; i < end; ++i) {
    const std::uint32_t t = tokens[i];
    if (t < kDynFirstMatchToken) {
      bits |= std::uint64_t{c.litCode[t]} << count;
      count += c.litLen[t];
    } else {
      // Each code goes out with its extra bits in one piece: at most 15 + 5 and 15 + 13 bits.
      const std::uint32_t ls = (t & 0x1FF) - 257;
      const int lengthBits = c.litLen[257 + ls];
      bits |= std::uint64_t{c.litCode[257 + ls] | (t >> 9 & 0x1F) << lengthBits} << count;
      count += lengthBits + sym.lengthExtra[ls];
      const std::uint32_t ds = t >> 14 & 0x1F;
      const int distanceBits = c.distLen[ds];
      bits |= std::uint64_t{c.distCode[ds] | (t >> 19) << distanceBits} << count;
      count += distanceBits + sym.distanceExtra[ds];
    }
    std::memcpy(at, &bits, 8);
    at += count >> 3;
    bits >>= count & ~7;
    count &= 7;
  }
  out.length = static_cast<std::size_t>(at - out.buffer);
  out.bits = bits;
  out.count = count;
  out.Put(c.litCode[256], c.litLen[256]);
}

void WriteStored(DynBitOut& out, const std::uint8_t* data, std::int32_t size, bool final) {
  do {
    const std::int32_t piece = size < 65535 ? size : 65535;
    size -= piece;
    out.Put(final && size == 0 ? 1u : 0u, 3);
    out.Align();
    out.Put(static_cast<std::uint32_t>(piece), 16);
    out.Put(static_cast<std::uint32_t>(~piece & 0xFFFF), 16);
    out.FlushBytes();
    std::memcpy(out.buffer + out.length, data, static_cast<std::size_t>(piece));
    out.length += static_cast<std::size_t>(piece);
    data += piece;
  } while (size > 0);
}

}  // namespace

bool DynBitOut::Reserve(std::size_t bytes) {
  const std::size_t need = length + bytes + 16;
  if (need <= capacity) return true;
  std::size_t grown = capacity;
  while (grown < need) grown *= 2;
  void* moved = realloc(buffer, grown);
  if (moved == nullptr) {
    failed = true;
    return false;
  }
  buffer = static_cast<std::uint8_t*>(moved);
  capacity = grown;
  return true;
}

void DynWriteBlock(DynDeflateState& s, DynBitOut& out, std::int32_t tokenEnd, std::int32_t byteEnd,
                   const DynCounts& counts, bool final) {
  std::uint32_t litFreq[288] = {};
  std::memcpy(litFreq, counts.lit, sizeof counts.lit);
  litFreq[256] = 1;
  const std::uint32_t* distFreq = counts.dist;
  const std::uint64_t extraBits = counts.extraBits;

  BlockCodes c;
  BuildCodeLengths(litFreq, kLitLenSymbols, 15, c.litLen);
  BuildCodeLengths(distFreq, kDistanceCodeCount, 15, c.distLen);
  int hlit = kLitLenSymbols;
  while (hlit > 257 && c.litLen[hlit - 1] == 0) --hlit;
  int hdist = kDistanceCodeCount;
  while (hdist > 1 && c.distLen[hdist - 1] == 0) --hdist;
  LengthRun runs[kLitLenSymbols + kDistanceCodeCount];
  const int runCount = RunLengths(c.distLen, hdist, runs, RunLengths(c.litLen, hlit, runs, 0));
  std::uint32_t clFreq[kCodeLengthSymbols] = {};
  for (int i = 0; i < runCount; ++i) ++clFreq[runs[i].symbol];
  std::uint8_t clLen[kCodeLengthSymbols];
  BuildCodeLengths(clFreq, kCodeLengthSymbols, 7, clLen);
  const std::uint8_t* order = s.table->pCodeLengthOrder;
  int hclen = kCodeLengthSymbols;
  while (hclen > 4 && clLen[order[hclen - 1]] == 0) --hclen;

  std::uint64_t dynamicBits = 3 + 5 + 5 + 4 + 3 * static_cast<std::uint64_t>(hclen) +
                              2 * clFreq[16] + 3 * clFreq[17] + 7 * clFreq[18] + extraBits;
  std::uint64_t fixedBits = 3 + extraBits;
  for (int i = 0; i < kCodeLengthSymbols; ++i) dynamicBits += std::uint64_t{clFreq[i]} * clLen[i];
  for (int i = 0; i < kLitLenSymbols; ++i) {
    dynamicBits += std::uint64_t{litFreq[i]} * c.litLen[i];
    fixedBits += std::uint64_t{litFreq[i]} * kFixedLengths[static_cast<std::size_t>(i)];
  }
  for (int i = 0; i < kDistanceCodeCount; ++i) {
    dynamicBits += std::uint64_t{distFreq[i]} * c.distLen[i];
    fixedBits += std::uint64_t{distFreq[i]} * 5;
  }
  const std::int32_t bytes = byteEnd - s.blockStart;
  const std::uint64_t pieces = bytes == 0 ? 1 : (static_cast<std::uint64_t>(bytes) + 65534) / 65535;
  const std::uint64_t storedBits = pieces * 35 +
                                   static_cast<std::uint64_t>((8 - (out.count + 3) % 8) % 8) +
                                   (pieces - 1) * 5 + 8 * static_cast<std::uint64_t>(bytes);

  const std::uint64_t best = std::min(storedBits, std::min(fixedBits, dynamicBits));
  const BlockCodes* written = &c;  // the codes the next block's 3-byte matches are priced by
  if (out.Reserve(best / 8 + 16)) {
    const std::uint32_t last = final ? 1u : 0u;
    if (best == storedBits && best < fixedBits && best < dynamicBits) {
      WriteStored(out, s.buffer + s.blockStart, bytes, final);
    } else if (fixedBits <= dynamicBits) {
      written = &FixedCodes();
      out.Put(last | 2u, 3);
      WriteTokens(s, out, *written, tokenEnd);
    } else {
      BuildCanonicalCodes(c.litLen, kLitLenSymbols, c.litCode);
      BuildCanonicalCodes(c.distLen, kDistanceCodeCount, c.distCode);
      std::uint16_t clCode[kCodeLengthSymbols];
      BuildCanonicalCodes(clLen, kCodeLengthSymbols, clCode);
      out.Put(last | 4u, 3);
      out.Put(static_cast<std::uint32_t>(hlit - 257), 5);
      out.Put(static_cast<std::uint32_t>(hdist - 1), 5);
      out.Put(static_cast<std::uint32_t>(hclen - 4), 4);
      for (int i = 0; i < hclen; ++i) out.Put(clLen[order[i]], 3);
      static constexpr std::uint8_t kRunExtraBits[3] = {2, 3, 7};
      for (int i = 0; i < runCount; ++i) {
        const int symbol = runs[i].symbol;
        out.Put(clCode[symbol], clLen[symbol]);
        if (symbol >= 16) out.Put(runs[i].extra, kRunExtraBits[symbol - 16]);
      }
      WriteTokens(s, out, c, tokenEnd);
    }
  }

  if (best != storedBits || best >= fixedBits || best >= dynamicBits) {
    const BlockCodes& w = *written;
    for (int i = 0; i < kLitLenSymbols; ++i) s.litCost[i] = w.litLen[i] != 0 ? w.litLen[i] : 12;
    for (int i = 0; i < kDistanceCodeCount; ++i)
      s.distCost[i] = w.distLen[i] != 0 ? w.distLen[i] : 12;
  }
  std::memmove(s.tokens, s.tokens + tokenEnd,
               static_cast<std::size_t>(s.tokenCount - tokenEnd) * sizeof(std::uint32_t));
  s.tokenCount -= tokenEnd;
  s.blockStart = byteEnd;
}

}  // namespace lum::codec
