// The decoder's fast loop: whole literal/length symbols and matches of a Huffman block,
// decoded without checking for the end of the chunk.
//
// The loop runs only while at least kFastInputMargin bytes of input remain, so the 64-bit
// bit buffer can be refilled by one unaligned 8-byte load (leaving 56–63 valid bits) and
// every decision is made on real input bits: one iteration needs at most three literal codes
// (45 bits) or up to two literals, a length code and its extra bits (50 bits), then one more
// refill before the distance code and its extra bits (15 + 13 bits). The state machine would
// make the same decisions on the same bits in the same call, so the two cannot disagree
// about output or failure.
//
// Output goes straight into the call's buffer, grown ahead of need by doubling so that a
// whole match plus a word of over-copy always fits. Matches are copied 8 bytes at a time
// when the distance allows, as a run for distance 1, and byte by byte otherwise; a match
// reaching before the call's first output byte reads the window, which the call refreshes
// once at its end.
#include <bit>
#include <cstring>

#include "codec/inflate_state.h"

namespace lum::codec::inflate {
namespace {

constexpr std::int32_t kMaxMatch = 258;
// Output room kept free at the top of an iteration: two literals, a whole match and the
// over-copy of up to 15 bytes past its end.
constexpr std::int32_t kOutMargin = 2 + kMaxMatch + 16;

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// Looks up one symbol's entry, consuming its bits. The caller has at least 15 valid bits.
inline std::uint32_t DecodeEntry(const HuffTable& t, std::uint64_t& bits, std::uint32_t& count) {
  std::uint32_t e = t.entries[bits & t.mask];
  if (e & kEntrySubTable) {
    const std::uint32_t root = EntryBits(e);
    const std::uint32_t subMask = (1u << EntrySubWidth(e)) - 1u;
    e = t.entries[EntrySymbol(e) + ((bits >> root) & subMask)];
    bits >>= root;
    count -= root;
  }
  const std::uint32_t used = EntryBits(e);  // 0 for an empty entry
  bits >>= used;
  count -= used;
  return e;
}

}  // namespace

Step FastDecode(InflateCall& c) {
  InflateState& s = *c.s;
  const HuffTable& lit = *s.lit;
  const HuffTable& dist = *s.dist;
  const CodecCodeRecord* lengthCodes = s.table->pLengthCodes;
  const CodecCodeRecord* distanceCodes = s.table->pDistanceCodes;
  const std::uint8_t* window = s.window;
  const std::uint32_t windowPos = static_cast<std::uint32_t>(s.windowPos);

  const std::uint8_t* in = c.in;
  const std::uint8_t* const inLimit = c.inEnd - kFastInputMargin;
  std::uint64_t bits = s.bitBuf;
  std::uint32_t count = static_cast<std::uint32_t>(s.bitCount);
  std::uint8_t* out = c.out + c.outLen;
  std::uint8_t* outLimit = c.out + c.outCap - kOutMargin;
  Step result = Step::kContinue;

  auto refill = [&] {
    bits |= Load64(in) << count;
    in += (63 - count) >> 3;
    count |= 56;
  };

  while (in <= inLimit) {
    if (out > outLimit) {
      c.outLen = static_cast<std::int32_t>(out - c.out);
      if (!c.Reserve(kOutMargin)) return Step::kFail;
      out = c.out + c.outLen;
      outLimit = c.out + c.outCap - kOutMargin;
    }
    refill();
    std::uint32_t e = DecodeEntry(lit, bits, count);
    if (e & kEntryEmpty) return Step::kFail;
    std::uint32_t sym = EntrySymbol(e);
    if (sym < 256) {
      *out++ = static_cast<std::uint8_t>(sym);
      e = DecodeEntry(lit, bits, count);
      if (e & kEntryEmpty) return Step::kFail;
      sym = EntrySymbol(e);
      if (sym < 256) {
        *out++ = static_cast<std::uint8_t>(sym);
        e = DecodeEntry(lit, bits, count);  // 30 bits used so far: a third code still fits
        if (e & kEntryEmpty) return Step::kFail;
        sym = EntrySymbol(e);
        if (sym < 256) {
          *out++ = static_cast<std::uint8_t>(sym);
          continue;
        }
      }
    }
    if (sym == 256) {
      if (s.lit != s.fixedLit) FreeHuffTable(*s.table, s.lit);
      if (s.dist != s.fixedDist) FreeHuffTable(*s.table, s.dist);
      s.lit = nullptr;
      s.dist = nullptr;
      s.state = 1;
      break;
    }
    if (sym > 285) continue;

    const CodecCodeRecord& lrec = lengthCodes[sym - 257];
    const std::uint32_t length = static_cast<std::uint32_t>(lrec.lowest) +
                                 static_cast<std::uint32_t>(bits & ((1u << lrec.extraBits) - 1u));
    bits >>= lrec.extraBits;
    count -= lrec.extraBits;

    if (count < 28) refill();  // the second refill of an iteration; the margin covers it
    e = DecodeEntry(dist, bits, count);
    if (e & kEntryEmpty) return Step::kFail;
    sym = EntrySymbol(e);
    if (sym >= static_cast<std::uint32_t>(kDistanceCodeCount)) return Step::kFail;
    const CodecCodeRecord& drec = distanceCodes[sym];
    const std::uint32_t distance = static_cast<std::uint32_t>(drec.lowest) +
                                   static_cast<std::uint32_t>(bits & ((1u << drec.extraBits) - 1u));
    bits >>= drec.extraBits;
    count -= drec.extraBits;

    const std::size_t produced = static_cast<std::size_t>(out - c.out);
    if (distance > produced) {
      // Reaches into the window: byte by byte, each from the window or the output.
      for (std::uint32_t i = 0; i < length; ++i) {
        const std::int64_t q = static_cast<std::int64_t>(produced + i) - distance;
        out[i] =
            q >= 0 ? c.out[q]
                   : window[(windowPos + static_cast<std::uint32_t>(q)) & (kInflateWindowSize - 1)];
      }
      out += length;
    } else if (distance >= 8) {
      const std::uint8_t* src = out - distance;
      std::uint8_t* const end = out + length;
      std::memcpy(out, src, 8);  // most matches are short: two words without a test
      std::memcpy(out + 8, src + 8, 8);
      out += 16;
      src += 16;
      while (out < end) {
        std::memcpy(out, src, 8);
        out += 8;
        src += 8;
      }
      out = end;
    } else if (distance == 1) {
      std::memset(out, out[-1], length);
      out += length;
    } else {
      const std::uint8_t* src = out - distance;
      for (std::uint32_t i = 0; i < length; ++i) out[i] = src[i];
      out += length;
    }
  }

  // Hand back the whole bytes the bit buffer read ahead, so that the state machine finds
  // at most 31 bits and the rest of the chunk where it left off.
  std::uint32_t giveBack = count >> 3;
  const std::uint32_t readThisCall = static_cast<std::uint32_t>(in - c.inBegin);
  if (giveBack > readThisCall) giveBack = readThisCall;
  in -= giveBack;
  count -= giveBack * 8;
  bits &= (1ull << count) - 1u;
  s.bitBuf = bits;
  s.bitCount = static_cast<std::int32_t>(count);
  c.in = in;
  c.outLen = static_cast<std::int32_t>(out - c.out);
  return result;
}

}  // namespace lum::codec::inflate
