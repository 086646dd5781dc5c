// Huffman lookup tables of the Deflate decoder.
//
// A table is one block from the entry table's allocator: a small header followed by the
// root level (2^width entries, width = min(longest code, 9)) and, right after it, the
// sub-tables of up to 7 bits that codes longer than the root need. Every Deflate code
// (at most 15 bits) is therefore found in at most two look-ups.
//
// Each entry is one 32-bit word:
//   bits 0–7   bits used at this level (for a sub-table entry: the root width)
//   bits 8–11  width of the sub-table (sub-table entries only)
//   bit 12     sub-table entry: bits 16–31 are the sub-table's offset in `entries`
//   bit 13     no code has this bit pattern (symbol −1, no sub-table)
//   bits 16–31 the symbol, for an entry with neither flag
//
// The tables follow the canonical code assignment of RFC 1951 section 3.2.2 for any set of
// lengths, including incomplete sets (unused patterns stay empty and fail only when they
// occur) and over-subscribed ones (later symbols overwrite earlier ones, as the builder
// visits symbols in ascending order).
#pragma once

#include <cstdint>

#include "codec/codec_table.h"

namespace lum::codec::inflate {

inline constexpr std::uint32_t kEntryBitsMask = 0xFFu;
inline constexpr std::uint32_t kEntrySubTable = 1u << 12;
inline constexpr std::uint32_t kEntryEmpty = 1u << 13;
inline constexpr int kRootBits = 9;
inline constexpr int kSubBits = 7;
inline constexpr int kMaxCodeBits = 15;

struct HuffTable {
  std::uint32_t mask;      // root index mask: 2^width − 1
  std::uint32_t width;     // root width in bits
  std::uint32_t* entries;  // root entries, then the sub-tables
};

inline std::uint32_t EntrySymbol(std::uint32_t e) {
  return e >> 16;
}
inline std::uint32_t EntryBits(std::uint32_t e) {
  return e & kEntryBitsMask;
}
inline std::uint32_t EntrySubWidth(std::uint32_t e) {
  return (e >> 8) & 0xFu;
}

// Builds the lookup table of the `n` code lengths (n ≤ 288, each 0–15) with `table`'s
// allocator. Returns 0 when the allocation fails.
HuffTable* BuildHuffTable(const CodecEntryTable& table, const std::uint8_t* lengths, int n);

// Releases a table from BuildHuffTable; 0 is allowed.
void FreeHuffTable(const CodecEntryTable& table, HuffTable* t);

enum class DecodeResult { kSymbol, kNeedMore, kNoCode };

// Decodes one symbol from the low end of `bits`, of which `available` are valid. On
// kSymbol `symbol` holds it and `used` the number of bits it took; nothing is consumed
// here. kNeedMore: the bits so far are a prefix of a longer code. kNoCode: the pattern,
// completed with zeros where bits are missing, has no code in this set.
DecodeResult DecodeSymbol(const HuffTable& t, std::uint64_t bits, int available, int& symbol,
                          int& used);

}  // namespace lum::codec::inflate
