// The decoder's fast loop: whole literal/length symbols and matches of a Huffman block,
// decoded without checking for the end of the chunk.
//
// The loop runs only while at least kFastInputMargin bytes of input remain, so the 64-bit
// bit buffer can be refilled without a branch by one unaligned 8-byte load (leaving 56–63
// valid bits), and every decision is made on real input bits. An iteration refills once at
// its top and decodes up to three literals (33 bits: a literal found in the root is at most
// 11 bits), or up to two literals and a length code with its extra bits (22 + 15 + 5 bits);
// it refills again before the distance code and its extra bits (15 + 13 bits). The state
// machine would make the same decisions on the same bits in the same call, so the two
// cannot disagree about output or failure.
//
// Table entries carry everything an iteration needs (inflate_huffman.h): the bits to consume
// in the low byte, a literal flag, the base of a length or distance, and one "exceptional"
// flag for the rare rest, so the common path shifts by the entry and tests one bit per
// symbol. The next literal/length entry is looked
// up as soon as the bits of the current symbol are gone, before its byte is stored or its
// match copied, so the load overlaps the work; the refill at the top of the next iteration
// only adds bits above those the look-up used.
//
// Output goes straight into the call's buffer, grown ahead of need by doubling so that three
// literals or two literals and a whole match, plus the over-copy of the word copies, always
// fit. Matches are copied 16 or 8 bytes at a time when the distance allows, as a repeated
// byte for distance 1, and as a repeated pattern for distances 2–7; the copies may write
// up to kOverCopy bytes past the match, which later output overwrites. A match reaching
// before the call's first output byte reads the window, which the call refreshes once at
// its end.
#include <bit>
#include <cstring>

#include "codec/inflate_state.h"

namespace lum::codec::inflate {
namespace {

constexpr std::int32_t kMaxMatch = 258;
constexpr std::int32_t kOverCopy = 32;
// Output room kept free at the top of an iteration: two literals, a whole match and the
// over-copy past its end.
constexpr std::int32_t kOutMargin = 2 + kMaxMatch + kOverCopy;

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

inline void Copy8(std::uint8_t* dst, const std::uint8_t* src) {
  std::memcpy(dst, src, 8);
}

inline void Copy16(std::uint8_t* dst, const std::uint8_t* src) {
  std::memcpy(dst, src, 16);
}

// Appends `length` bytes from `distance` back, where the whole distance lies inside this
// call's output. May write up to kOverCopy bytes past the match.
inline void CopyMatch(std::uint8_t* out, std::uint32_t distance, std::uint32_t length) {
  std::uint8_t* const end = out + length;
  if (distance >= 16) {
    const std::uint8_t* src = out - distance;
    // Most matches are short: two copies without a test.
    Copy16(out, src);
    Copy16(out + 16, src + 16);
    out += 32;
    src += 32;
    while (out < end) {
      Copy16(out, src);
      out += 16;
      src += 16;
    }
  } else if (distance >= 8) {
    const std::uint8_t* src = out - distance;
    Copy8(out, src);
    Copy8(out + 8, src + 8);
    out += 16;
    src += 16;
    while (out < end) {
      Copy8(out, src);
      out += 8;
      src += 8;
    }
  } else if (distance == 1) {
    const std::uint64_t v = out[-1] * 0x0101010101010101ull;
    do {
      std::memcpy(out, &v, 8);
      out += 8;
    } while (out < end);
  } else {
    // A pattern of period d = distance: its first 8 bytes one by one, then whole words from
    // `stride` back, a multiple of d of at least 8, so every word is read after it is written.
    static constexpr std::uint8_t kStride[8] = {0, 0, 8, 9, 8, 10, 12, 14};
    const std::uint8_t* src = out - distance;
    for (int i = 0; i < 8; ++i) out[i] = src[i];
    const std::uint32_t stride = kStride[distance];
    for (out += 8; out < end; out += 8) Copy8(out, out - stride);
  }
}

// Appends a match that reaches before the call's first output byte: its first bytes come
// from the window as it was when the call began, the rest from the start of the output.
// May write up to kOverCopy bytes past the match.
inline void CopyFromWindow(const std::uint8_t* window, const std::uint8_t* outStart,
                           std::uint8_t* out, std::uint32_t distance, std::uint32_t length) {
  const std::uint32_t back = distance - static_cast<std::uint32_t>(out - outStart);
  const std::uint8_t* src = window + kInflateWindowSize - back;
  if (length <= back) {
    // Wholly inside the window, which does not overlap the output: word copies that may
    // read into the window's padding.
    std::uint8_t* const end = out + length;
    Copy16(out, src);
    Copy16(out + 16, src + 16);
    for (out += 32, src += 32; out < end; out += 16, src += 16) Copy16(out, src);
    return;
  }
  std::memcpy(out, src, back);
  for (std::uint32_t i = back; i < length; ++i) out[i] = outStart[i - back];
}

// The loop itself, compiled twice: for any x86 (or other) CPU, and with BMI2's shifts that
// take their count from any register and leave the flags alone, chosen once at run time.
[[gnu::always_inline]] inline Step FastDecodeLoop(InflateCall& c) {
  InflateState& s = *c.s;
  // Everything the loop touches lives in locals: stores through the byte pointer `out`
  // could alias any memory, and would otherwise force reloads of the handle's fields.
  const std::uint32_t* const litEntries = s.lit->entries;
  const std::uint32_t litMask = s.lit->mask;
  const std::uint32_t* const distEntries = s.dist->entries;
  const std::uint32_t distMask = s.dist->mask;
  const std::uint8_t* const window = s.window;

  const std::uint8_t* in = c.in;
  const std::uint8_t* const inLimit = c.inEnd - kFastInputMargin;
  std::uint64_t bits = s.bitBuf;
  // The number of valid bits is the low byte of `count`: consuming subtracts a whole table
  // entry, whose low byte is the bit count, and the bytes above collect borrows that no
  // one reads.
  std::uint32_t count = static_cast<std::uint32_t>(s.bitCount);
  std::uint8_t* outStart = c.out;
  std::uint8_t* out = outStart + c.outLen;
  std::uint8_t* outLimit = outStart + c.outCap - kOutMargin;

  auto refill = [&] {
    bits |= Load64(in) << (count & 63);
    in += 7 - ((count >> 3) & 7);
    count |= 56;
  };
  // Removes the bits of entry `e`: its code and, for a length or distance, its extra bits.
  auto consume = [&](std::uint32_t e) {
    bits >>= (e & 63);
    count -= e;
  };
  // The base value of a length or distance entry plus its extra bits, read from `before`,
  // the bit buffer as it was before the entry was consumed.
  auto baseAndExtra = [](std::uint32_t e, std::uint64_t before) {
    const std::uint64_t codeAndExtra = before & ~(~std::uint64_t{0} << (e & 63));
    // The code's bits are bits 8–11 of the entry; bits 12 and 13 are flags that a length
    // or distance entry never has, so the six bits a 64-bit shift reads are the count.
    return EntryValue(e) + static_cast<std::uint32_t>(codeAndExtra >> ((e >> 8) & 63));
  };

  // The entry of the next literal/length code; always looked up with at least the root
  // width of valid bits (on entry there are 24), so a refill never changes it.
  std::uint32_t e = litEntries[bits & litMask];
  while (in <= inLimit) {
    if (out > outLimit) {
      c.outLen = static_cast<std::int32_t>(out - outStart);
      if (!c.Reserve(kOutMargin)) return Step::kFail;
      outStart = c.out;
      out = outStart + c.outLen;
      outLimit = outStart + c.outCap - kOutMargin;
    }
    refill();
    std::uint64_t before = bits;
    consume(e);
    if (e & kEntryLiteral) {
      // Up to three literals of at most 11 bits each, then possibly a length code with its
      // extra bits (at most 16 bits): 49 of the 56 bits the refill guarantees.
      out[0] = static_cast<std::uint8_t>(EntryValue(e));
      e = litEntries[bits & litMask];
      if (e & kEntryLiteral) {
        consume(e);
        out[1] = static_cast<std::uint8_t>(EntryValue(e));
        e = litEntries[bits & litMask];
        if (e & kEntryLiteral) {
          consume(e);
          out[2] = static_cast<std::uint8_t>(EntryValue(e));
          e = litEntries[bits & litMask];
          out += 3;
          continue;
        }
        out += 2;
      } else {
        out += 1;
      }
      before = bits;
      consume(e);
    }

    if (e & kEntryExceptional) {
      if (e & kEntrySubTable) {
        // The root width is consumed; the rest of the code is in the sub-table.
        e = litEntries[EntryValue(e) + (bits & ((1u << EntrySubWidth(e)) - 1u))];
        before = bits;
        consume(e);
        if (e & kEntryLiteral) {
          *out++ = static_cast<std::uint8_t>(EntryValue(e));
          e = litEntries[bits & litMask];
          continue;
        }
      }
      if (e & kEntryExceptional) {
        if (e & kEntryEmpty) return Step::kFail;
        if (EntryValue(e) == 256) {
          ReleaseBlockTables(s);
          s.state = kBlockHeader;
          break;
        }
        e = litEntries[bits & litMask];  // symbols 286 and 287 do nothing
        continue;
      }
    }

    // A length code, consumed with its extra bits.
    const std::uint32_t length = baseAndExtra(e, before);

    refill();  // the second refill of an iteration; the input margin covers it
    e = distEntries[bits & distMask];
    before = bits;
    consume(e);
    if (e & kEntryExceptional) {
      if (!(e & kEntrySubTable)) return Step::kFail;  // no such code, or distance code 30/31
      e = distEntries[EntryValue(e) + (bits & ((1u << EntrySubWidth(e)) - 1u))];
      before = bits;
      consume(e);
      if (e & kEntryExceptional) return Step::kFail;
    }
    const std::uint32_t distance = baseAndExtra(e, before);
    e = litEntries[bits & litMask];  // at least 28 bits are left

    if (distance > static_cast<std::uint32_t>(out - outStart)) {
      CopyFromWindow(window, outStart, out, distance, length);
    } else {
      CopyMatch(out, distance, length);
    }
    out += length;
  }

  // Hand back the whole bytes the bit buffer read ahead, so that the state machine finds
  // at most 31 bits and the rest of the chunk where it left off.
  count &= 0xFFu;
  std::uint32_t giveBack = count >> 3;
  const std::uint32_t readThisCall = static_cast<std::uint32_t>(in - c.inBegin);
  if (giveBack > readThisCall) giveBack = readThisCall;
  in -= giveBack;
  count -= giveBack * 8;
  bits &= (1ull << count) - 1u;
  s.bitBuf = bits;
  s.bitCount = static_cast<std::int32_t>(count);
  c.in = in;
  c.outLen = static_cast<std::int32_t>(out - outStart);
  return Step::kContinue;
}

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
Step FastDecodePortable(InflateCall& c) {
  return FastDecodeLoop(c);
}

[[gnu::target("bmi2")]] Step FastDecodeBmi2(InflateCall& c) {
  return FastDecodeLoop(c);
}

bool CpuHasBmi2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi2");
}
#endif

}  // namespace

Step FastDecode(InflateCall& c) {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
  static const bool bmi2 = CpuHasBmi2();
  if (bmi2 && !testing::InflatePortableLoop()) return FastDecodeBmi2(c);
  return FastDecodePortable(c);
#else
  return FastDecodeLoop(c);
#endif
}

}  // namespace lum::codec::inflate
