// CRC-32 by carry-less multiplication folding (x86 PCLMULQDQ).
//
// In the reflected bit order ZIP uses, 16 bytes loaded little-endian into an XMM register
// are a polynomial of degree < 128 whose bit k is the coefficient of x^(127-k): the first
// bit of the data is the highest power. A register X followed D bits later by a block B
// stands for X·x^D + B, and the CRC only needs that value modulo the generator P. Writing
// X = L·x^64 + H (L = low quadword, the earlier half; H = high quadword):
//
//     X·x^D + B  ≡  L·(x^(D+64) mod P) + H·(x^D mod P) + B      (mod P)
//
// Each product is a quadword times a constant of degree at most 32, which fits in 128 bits,
// so two PCLMULQDQs and two XORs fold X forward over D bits onto B. The loop keeps several
// independent registers, each folded forward over all of them at once, so that the
// multiplier's latency is hidden; at the end they are folded onto each other, then over
// the remaining whole blocks. The register that is left has the same CRC as everything
// it absorbed, so the slicing form run from register 0 over its 16 bytes, and then over the
// last 0 to 15 bytes, gives the result. The caller's register enters by being XORed
// into the first four data bytes: a register c before a message M gives the same result
// as register 0 before M with c added to its first 32 bits.
//
// Multiplying two reflected 64-bit values puts the product one place lower than the
// register's bit numbering expects, so each constant is stored as (x^(E-1) mod P), reflected,
// in the upper half of its quadword: the extra factor x comes from that placement.
#include "codec/crc32_fast.h"

#if (defined(__x86_64__) || defined(__i386__)) && !defined(LUM_CODEC_PLAIN_ONLY)
#define LUM_CRC32_HAVE_PCLMUL 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace lum::codec {

#if defined(LUM_CRC32_HAVE_PCLMUL)
namespace {

// x^e mod P in the reflected register form (bit t holds the coefficient of x^(31-t)).
constexpr std::uint32_t XPowModP(unsigned e) {
  std::uint32_t r = 0x80000000u;  // x^0
  for (; e != 0; --e) r = (r & 1u) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
  return r;
}

// The multiplier for a quadword that is to be moved forward by e bits.
constexpr long long FoldConstant(unsigned e) {
  return static_cast<long long>(std::uint64_t{XPowModP(e - 1)} << 32);
}

constexpr int kLanes = 8;                     // independent registers in the main loop
constexpr unsigned kLaneBits = 128 * kLanes;  // distance each one moves per step

static_assert(XPowModP(32) == 0xEDB88320u);  // x^32 ≡ P − x^32

#if defined(__i386__)
// 32-bit Windows only guarantees a 4-byte aligned stack on entry; the vector spills need 16.
#define LUM_CRC32_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define LUM_CRC32_ALIGN_STACK
#endif

#define LUM_CRC32_TARGET __attribute__((target("pclmul,sse4.1")))

LUM_CRC32_TARGET inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
  __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);  // low quadword × x^(D+64) constant
  __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);  // high quadword × x^D constant
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

LUM_CRC32_TARGET inline __m128i Load(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

LUM_CRC32_TARGET LUM_CRC32_ALIGN_STACK void FoldBlocks(const std::uint8_t* p, std::size_t count,
                                                       std::uint32_t& crc) {
  const __m128i kLane = _mm_set_epi64x(FoldConstant(kLaneBits), FoldConstant(kLaneBits + 64));
  const __m128i kOne = _mm_set_epi64x(FoldConstant(128), FoldConstant(128 + 64));

  // The lane loops are unrolled so that the lanes live in registers, not in memory (held in
  // memory they cost about 15 %).
  __m128i x[kLanes];
#pragma GCC unroll 8
  for (int i = 0; i < kLanes; ++i) x[i] = Load(p + 16 * i);
  x[0] = _mm_xor_si128(x[0], _mm_cvtsi32_si128(static_cast<int>(crc)));
  p += 16 * kLanes;
  count -= 16 * kLanes;

  for (; count >= 16 * kLanes; count -= 16 * kLanes, p += 16 * kLanes) {
#pragma GCC unroll 8
    for (int i = 0; i < kLanes; ++i) x[i] = Fold(x[i], kLane, Load(p + 16 * i));
  }
  __m128i acc = x[0];
#pragma GCC unroll 8
  for (int i = 1; i < kLanes; ++i) acc = Fold(acc, kOne, x[i]);
  for (; count >= 16; count -= 16, p += 16) acc = Fold(acc, kOne, Load(p));

  std::uint8_t folded[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(folded), acc);
  std::uint32_t c = 0;
  Crc32UpdateSlice8(folded, 16, c);
  Crc32UpdateSlice8(p, count, c);
  crc = c;
}

bool DetectPclmul() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  return (c & bit_PCLMUL) != 0 && (c & bit_SSE4_1) != 0;
}

}  // namespace

bool Crc32PclmulAvailable() {
  static const bool available = DetectPclmul();
  return available;
}

void Crc32UpdatePclmul(const std::uint8_t* data, std::size_t count, std::uint32_t& crc) {
  // Below a few lanes' worth the set-up and the final 16-byte pass cost more than they save.
  if (count < 16 * kLanes * 2) {
    Crc32UpdateSlice8(data, count, crc);
    return;
  }
  FoldBlocks(data, count, crc);
}

#else  // no PCLMULQDQ in this build

bool Crc32PclmulAvailable() {
  return false;
}

void Crc32UpdatePclmul(const std::uint8_t* data, std::size_t count, std::uint32_t& crc) {
  Crc32UpdateSlice8(data, count, crc);
}

#endif

}  // namespace lum::codec
