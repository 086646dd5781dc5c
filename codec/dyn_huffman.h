// Huffman code construction for the dynamic-block encoder: code lengths limited to a maximum
// (15 bits for literals/lengths and distances, 7 for the code-length code) and the canonical
// codes that RFC 1951 section 3.2.2 derives from them.
//
// The lengths always form a complete prefix code: every decoder, including those that reject
// incomplete codes, accepts them. With fewer than two symbols in use there is no such code of
// one symbol, so two symbols get one bit each (the used one and the lowest other).
#pragma once

#include <cstdint>

namespace lum::codec {

inline constexpr int kDynMaxSymbols = 288;

// Writes into lengths[0..count) the code length of each symbol for the frequencies
// freq[0..count): 0 for unused symbols, 1..limit for the rest. count ≤ kDynMaxSymbols and
// 2^limit ≥ count.
void BuildCodeLengths(const std::uint32_t* freq, int count, int limit, std::uint8_t* lengths);

// Writes the canonical code of every symbol with a non-zero length into codes[], with its
// bits reversed so that it goes into a least-significant-first bit stream as one value.
void BuildCanonicalCodes(const std::uint8_t* lengths, int count, std::uint16_t* codes);

}  // namespace lum::codec
