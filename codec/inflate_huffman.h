// Huffman lookup tables of the Deflate decoder.
//
// A table is one block from the entry table's allocator: a small header followed by the
// root level (2^width entries, width = min(longest code, 9)) and, right after it, the
// sub-tables of up to 7 bits that codes longer than the root need. Every Deflate code
// (at most 15 bits) is therefore found in at most two look-ups.
//
// Each entry is one 32-bit word that serves both decoders. The state machine reads the
// symbol and the bit count; the fast loop reads the flags and, for length and distance
// codes, the base value and extra-bit count copied from the entry table's code records,
// so that a length or distance comes out of one look-up:
//   bits 0–3    bits used at this level (a sub-table pointer: the root width)
//   bits 4–7    extra bits after a length or distance code (a pointer: the sub-table width)
//   bit 8       a literal (literal/length symbol below 256)
//   bit 9       exceptional: neither a literal nor a length nor a distance below 30 (end of
//               block, symbols 286 and 287, distance codes 30 and 31, no code, a pointer)
//   bit 10      sub-table pointer: bits 16–31 are the sub-table's offset in `entries`
//   bit 11      no code has this bit pattern (symbol −1, no sub-table)
//   bits 12–20  the symbol (distance tables: bits 12–16)
//   bits 23–31  the base length of a length code (literal/length tables)
//   bits 17–31  the base distance of a distance code (distance tables)
//
// The tables follow the canonical code assignment of RFC 1951 section 3.2.2 for any set of
// lengths, including incomplete sets (unused patterns stay empty and fail only when they
// occur) and over-subscribed ones (later symbols overwrite earlier ones, as the builder
// visits symbols in ascending order).
#pragma once

#include <cstdint>

#include "codec/codec_table.h"

namespace lum::codec::inflate {

inline constexpr std::uint32_t kEntryLiteral = 1u << 8;
inline constexpr std::uint32_t kEntryExceptional = 1u << 9;
inline constexpr std::uint32_t kEntrySubTable = 1u << 10;
inline constexpr std::uint32_t kEntryEmpty = 1u << 11;
inline constexpr int kEntrySymbolShift = 12;
inline constexpr int kEntryLengthShift = 23;
inline constexpr int kEntryDistanceShift = 17;
inline constexpr int kRootBits = 9;
inline constexpr int kSubBits = 7;
inline constexpr int kMaxCodeBits = 15;

// What a table's symbols stand for, which decides the fields of its entries.
enum class HuffKind { kCodeLengths, kLiteralLength, kDistance };

struct HuffTable {
  std::uint32_t mask;        // root index mask: 2^width − 1
  std::uint32_t width;       // root width in bits
  std::uint32_t symbolMask;  // of the symbol field: 0x1FF, or 0x1F for distances
  std::uint32_t* entries;    // root entries, then the sub-tables
};

inline std::uint32_t EntryBits(std::uint32_t e) {
  return e & 0xFu;
}
inline std::uint32_t EntryExtraBits(std::uint32_t e) {
  return (e >> 4) & 0xFu;
}
inline std::uint32_t EntrySubWidth(std::uint32_t e) {
  return (e >> 4) & 0xFu;
}
inline std::uint32_t EntrySubOffset(std::uint32_t e) {
  return e >> 16;
}

// Builds the lookup table of the `n` code lengths (n ≤ 288, each 0–15) with `table`'s
// allocator; length and distance entries take their base and extra bits from `table`'s
// code records. Returns 0 when the allocation fails.
HuffTable* BuildHuffTable(const CodecEntryTable& table, const std::uint8_t* lengths, int n,
                          HuffKind kind);

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
