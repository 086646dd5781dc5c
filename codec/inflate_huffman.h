// Huffman lookup tables of the Deflate decoder.
//
// A table is one block from the entry table's allocator: a small header followed by the
// root level (2^width entries, width = min(longest code, 9)) and, right after it, the
// sub-tables of up to 7 bits that codes longer than the root need. Every Deflate code
// (at most 15 bits) is therefore found in at most two look-ups.
//
// Each entry is one 32-bit word that serves both decoders. The state machine reads the
// code's bit count and its value; the fast loop shifts the bit buffer by the entry's low
// byte as it is and reads the flags, so that a literal, or a length or distance with its
// extra bits, comes out of one look-up:
//   bits 0–5    bits the fast loop consumes: the code's bits at this level plus, for a
//               length or distance code, its extra bits (a sub-table pointer: the root width)
//   bits 8–11   the code's bits at this level (a sub-table pointer: the sub-table's width)
//   bit 12      a literal (literal/length symbol below 256)
//   bit 13      exceptional: neither a literal nor a length nor a distance below 30 (end of
//               block, symbols 286 and 287, distance codes 30 and 31, no code, a pointer)
//   bit 14      sub-table pointer
//   bit 15      no code has this bit pattern
//   bits 16–31  the value: a literal's byte, a length or distance code's base value, a
//               pointer's sub-table offset in `entries`, otherwise the symbol itself
//
// The tables follow the canonical code assignment of RFC 1951 section 3.2.2 for any set of
// lengths, including incomplete sets (unused patterns stay empty and fail only when they
// occur) and over-subscribed ones (later symbols overwrite earlier ones, as the builder
// visits symbols in ascending order).
//
// The root is 9 bits wide (or the longest code, if shorter), with sub-tables of up to 7
// bits. A literal/length set that is not over-subscribed gets an 11-bit root instead, so
// that nearly every literal of a dynamic block is found in one look-up. That changes no
// result: in such a set the codes are prefix-free and the used patterns are the lowest ones
// in canonical order, so a bit pattern (completed with zeros where bits are missing) either
// starts with exactly one code, whatever the table's shape, or with none. Only an
// over-subscribed set, where codes overlap, decodes differently with another shape, and it
// keeps the 9-bit root.
#pragma once

#include <cstdint>

#include "codec/codec_table.h"

namespace lum::codec::inflate {

inline constexpr std::uint32_t kEntryLiteral = 1u << 12;
inline constexpr std::uint32_t kEntryExceptional = 1u << 13;
inline constexpr std::uint32_t kEntrySubTable = 1u << 14;
inline constexpr std::uint32_t kEntryEmpty = 1u << 15;
inline constexpr int kEntryValueShift = 16;
inline constexpr int kRootBits = 9;
inline constexpr int kWideRootBits = 11;
inline constexpr int kSubBits = 7;
inline constexpr int kMaxCodeBits = 15;

// What a table's symbols stand for, which decides the fields of its entries.
enum class HuffKind { kCodeLengths, kLiteralLength, kDistance };

struct HuffTable {
  std::uint32_t mask;      // root index mask: 2^width − 1
  std::uint32_t width;     // root width in bits
  std::uint32_t* entries;  // root entries, then the sub-tables
};

// Bits the fast loop consumes for the entry (code and extra bits).
inline std::uint32_t EntryConsumed(std::uint32_t e) {
  return e & 0x3Fu;
}
// The code's bits at the entry's level.
inline std::uint32_t EntryCodeBits(std::uint32_t e) {
  return (e >> 8) & 0xFu;
}
// Extra bits that follow a length or distance code.
inline std::uint32_t EntryExtraBits(std::uint32_t e) {
  return EntryConsumed(e) - EntryCodeBits(e);
}
inline std::uint32_t EntrySubWidth(std::uint32_t e) {
  return (e >> 8) & 0xFu;
}
inline std::uint32_t EntryValue(std::uint32_t e) {
  return e >> kEntryValueShift;
}

// Builds the lookup table of the `n` code lengths (n ≤ 288, each 0–15) with `table`'s
// allocator; length and distance entries take their base and extra bits from `table`'s
// code records. Returns 0 when the allocation fails.
HuffTable* BuildHuffTable(const CodecEntryTable& table, const std::uint8_t* lengths, int n,
                          HuffKind kind);

// Releases a table from BuildHuffTable; 0 is allowed.
void FreeHuffTable(const CodecEntryTable& table, HuffTable* t);

enum class DecodeResult { kSymbol, kNeedMore, kNoCode };

// Decodes one code from the low end of `bits`, of which `available` are valid. On kSymbol
// `entry` holds its final entry and `used` the number of code bits it took (extra bits not
// included); nothing is consumed here. kNeedMore: the bits so far are a prefix of a longer
// code. kNoCode: the pattern, completed with zeros where bits are missing, has no code in
// this set.
DecodeResult DecodeSymbol(const HuffTable& t, std::uint64_t bits, int available,
                          std::uint32_t& entry, int& used);

}  // namespace lum::codec::inflate
