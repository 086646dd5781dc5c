// The encoder's output side: the fixed-Huffman codes of RFC 1951 section 3.2.6 as ready-made
// bit patterns, and the bit writer that packs them into the call's output buffer.
//
// Deflate puts Huffman codes into the stream most significant bit first and everything else
// least significant bit first. Each table entry below therefore holds the code already
// reversed, followed by its extra bits, so that writing a literal or a whole match piece is
// one OR into a 64-bit accumulator. The tables are built per handle from the entry table's
// code records (found by binary search, as the records define the ranges) so the encoder uses
// only the constant tables it was handed.
//
// Between calls at most 7 bits stay pending; they live in the handle's bit-writer record. Within
// a call the accumulator is a local 64-bit value that is flushed once 32 or more bits are
// pending, with one unaligned 8-byte store while the buffer has room and byte by byte near its
// end, where the buffer doubles only when it is full and a byte must be appended.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "codec/codec_table.h"

namespace lum::codec {

static_assert(std::endian::native == std::endian::little, "the encoder stores bytes little-endian");

// A code ready for the bit stream: `count` bits of `bits`, first bit in the lowest position.
struct DeflateCode {
  std::uint32_t bits;
  std::uint32_t count;
};

inline constexpr int kDeflateMinMatch = 3;
inline constexpr int kDeflateMaxMatch = 258;
inline constexpr int kDeflateFirstBuffer = 32768;  // output buffer of a call, doubled when full

// Fixed-Huffman codes of one handle, built from its entry table by BuildDeflateCodeTables.
struct DeflateCodeTables {
  DeflateCode literal[256];
  DeflateCode length[kDeflateMaxMatch + 1];  // [piece]: length code and extra bits, 3..258
  // Distance code of distance d: distanceSlot[d − 1] for d ≤ 256, otherwise
  // distanceSlot[256 + ((d − 1) >> 7)]; every code above 256 covers whole 128-aligned spans.
  std::uint8_t distanceSlot[512];
  DeflateCode distanceCode[kDistanceCodeCount];  // reversed 5-bit code; count includes extras
  std::int32_t distanceLowest[kDistanceCodeCount];

  // Code and extra bits of distance `d` (1–32,768).
  DeflateCode Distance(std::int32_t d) const {
    const unsigned slot = distanceSlot[d <= 256 ? d - 1 : 256 + ((d - 1) >> 7)];
    const DeflateCode c = distanceCode[slot];
    return {c.bits | static_cast<std::uint32_t>(d - distanceLowest[slot]) << 5, c.count};
  }
};

// Index of the record of `records` (ascending, `count` of them) whose lowest..highest range
// holds `value`, by binary search; −1 when none does.
int FindCodeRecord(const CodecCodeRecord* records, int count, std::int32_t value);

// Fills `codes` from the table's length codes, distance codes and bit-reversal table.
void BuildDeflateCodeTables(const CodecEntryTable& table, DeflateCodeTables& codes);

// The bit writer of one handle: the fields that live between calls (accumulator and bit
// count) and those set anew by each call (buffer, length, capacity), then the handle's codes.
struct DeflateBitWriter {
  std::uint8_t* buffer;
  std::int32_t length;
  std::int32_t capacity;
  std::uint32_t accumulator;  // pending bits, least significant first
  std::int32_t bitCount;      // 0–7 between calls
  DeflateCodeTables codes;
};

// Packs codes into a growing task-allocated buffer during one call. When growing fails the
// sink keeps the buffer it has, drops every later byte and reports Failed(); the call then
// releases the buffer and fails.
class DeflateBitSink {
 public:
  DeflateBitSink(std::uint8_t* buffer, std::int32_t capacity, CodecReallocFn realloc,
                 std::uint32_t bits, std::int32_t count)
      : m_buffer(buffer),
        m_capacity(capacity),
        m_realloc(realloc),
        m_acc(bits),
        m_count(static_cast<std::uint32_t>(count)) {}

  // Appends `count` bits (at most 31) of `bits`.
  void Put(std::uint32_t bits, std::uint32_t count) {
    m_acc |= static_cast<std::uint64_t>(bits) << m_count;
    m_count += count;
    if (m_count >= 32) Flush();
  }
  void Put(DeflateCode c) { Put(c.bits, c.count); }

  // Moves every complete byte into the buffer; at most 7 bits stay pending.
  void Flush() {
    if (m_capacity - m_length >= 8) {
      std::memcpy(m_buffer + m_length, &m_acc, 8);
      const std::uint32_t bytes = m_count >> 3;
      m_length += static_cast<std::int32_t>(bytes);
      m_acc >>= bytes * 8;
      m_count &= 7;
    } else {
      FlushSlow();
    }
  }

  // Zero bits up to the next byte boundary, then Flush.
  void AlignToByte() {
    m_count = (m_count + 7) & ~7u;
    Flush();
  }

  bool Failed() const { return m_failed; }
  std::uint8_t* Buffer() const { return m_buffer; }
  std::int32_t Length() const { return m_length; }
  std::uint32_t PendingBits() const { return static_cast<std::uint32_t>(m_acc); }
  std::int32_t PendingCount() const { return static_cast<std::int32_t>(m_count); }

 private:
  void FlushSlow();

  std::uint8_t* m_buffer;
  std::int32_t m_length = 0;
  std::int32_t m_capacity;
  CodecReallocFn m_realloc;
  std::uint64_t m_acc;
  std::uint32_t m_count;
  bool m_failed = false;
};

// Writes literal byte `c`.
inline void PutLiteral(DeflateBitSink& out, const DeflateCodeTables& codes, std::uint8_t c) {
  out.Put(codes.literal[c]);
}

// Writes the match (distance d, length L ≥ 3) as pieces of at most 258: a piece is 258 while
// more than 260 remain, L − 3 for 259 and 260 (so no remainder falls below 3), else all of L.
// Every piece repeats the distance.
inline void PutMatch(DeflateBitSink& out, const DeflateCodeTables& codes, std::int32_t d,
                     std::int32_t L) {
  const DeflateCode dist = codes.Distance(d);
  while (L > 0) {
    const std::int32_t piece = L > 260 ? 258 : (L >= 259 ? L - 3 : L);
    const DeflateCode len = codes.length[piece];
    out.Put(len.bits | dist.bits << len.count, len.count + dist.count);
    L -= piece;
  }
}

}  // namespace lum::codec
