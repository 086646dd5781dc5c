// The Deflate decoder's entry points are declared with the other codec routines in
// codec/codec_table.h (InflateCreate, InflateDestroy, Inflate) and reached through the
// entry table. This header adds what tests and benchmarks need beyond that.
#pragma once

#include <cstdint>

namespace lum::codec {

// Bytes of history a decoder keeps: the largest distance Deflate can express.
inline constexpr std::int32_t kInflateWindowSize = 32768;
// Smallest size of the output buffer a call starts with; it doubles whenever full. A call
// with a large input chunk starts with the first doubling of it that holds
// kInflateOutputPerInput bytes per input byte, but at most kInflateLargestInitialOutput.
inline constexpr std::int32_t kInflateInitialOutput = 32768;
inline constexpr std::int32_t kInflateOutputPerInput = 4;
inline constexpr std::int32_t kInflateLargestInitialOutput = 1 << 20;

namespace testing {
// Test hook: true makes every later pfnInflate call decode with the plain state machine
// only (no multi-symbol fast loop, no bulk copy of stored blocks). Both forms give the
// same output and result for every input and chunking; the hook lets tests prove it.
// Not thread-safe: set it between calls. Builds configured with LUM_CODEC_PLAIN_ONLY
// decode plainly whatever it says.
void SetInflatePlainOnly(bool plainOnly);
bool InflatePlainOnly();
// Test hook: true makes the fast loop run its portable form even where the CPU has the
// instructions of the faster form (x86 BMI2), so that tests reach both.
void SetInflatePortableLoop(bool portable);
bool InflatePortableLoop();
}  // namespace testing

}  // namespace lum::codec
