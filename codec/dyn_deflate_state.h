// Internals of the dynamic-Huffman encoder shared by its parser (dyn_deflate.cpp) and its
// block writer (dyn_deflate_block.cpp).
//
// Input is copied into one sliding buffer that holds the history (at least 32,768 bytes before
// the parse position, when there are that many), the bytes of the block being gathered, and
// input not parsed yet. A non-final call parses only up to kDynLookahead bytes before the end
// of what it has, so matches and the lazy look one byte ahead never stop short at a chunk
// boundary; the rest waits for the next call. The parser turns bytes into tokens (a literal,
// or a length and distance); a block is written when the data suggests a change of statistics,
// when it reaches kDynMaxBlockBytes, or at the end of the stream.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "codec/codec_table.h"

namespace lum::codec {

inline constexpr std::int32_t kDynWindow = 32768;
inline constexpr std::int32_t kDynMinMatch = 4;
inline constexpr std::int32_t kDynMaxMatch = 258;
inline constexpr std::int32_t kDynLookahead = kDynMaxMatch + 8;
inline constexpr std::int32_t kDynMaxBlockBytes = 1 << 17;
inline constexpr std::int32_t kDynBufferSize = 1 << 18;
inline constexpr std::int32_t kDynBufferSlack = 16;  // the 8-byte compares may read past the end
inline constexpr std::int32_t kDynTokenCapacity = kDynMaxBlockBytes + 4 * kDynMaxMatch;
inline constexpr int kDynHashBits = 15;
inline constexpr int kDynHash3Bits = 14;
// A match of 3 bytes is considered only within this distance, and taken only when the codes of
// the previous block make it cheaper than its three literals.
inline constexpr std::int32_t kDynMaxDistance3 = 4096;
inline constexpr int kDynObservationKinds = 20;
inline constexpr std::int32_t kDynFirstBuffer = 32768;  // output buffer of a call, doubled
// The match-finder tables hold buffer offsets plus DynDeflateState::base. When base passes
// this limit the tables are brought back down (Rebase in dyn_deflate.cpp).
inline constexpr std::int32_t kDynRebaseLimit = 1 << 30;

// A token: a literal byte (the value itself, below 0x10000) or a match (length << 16 |
// distance).
inline constexpr std::uint32_t DynLiteral(std::uint8_t b) {
  return b;
}
inline constexpr std::uint32_t DynMatch(std::int32_t length, std::int32_t distance) {
  return static_cast<std::uint32_t>(length) << 16 | static_cast<std::uint32_t>(distance);
}

static_assert(std::endian::native == std::endian::little, "the bit writer stores little-endian");

// Output of one call: a growing task-allocated buffer and a 64-bit accumulator. Room for a
// whole block is reserved before it is written, so writing bits never checks for room.
struct DynBitOut {
  std::uint8_t* buffer = nullptr;
  std::size_t length = 0;
  std::size_t capacity = 0;
  std::uint64_t bits = 0;
  int count = 0;
  bool failed = false;
  CodecReallocFn realloc = nullptr;

  // Makes room for `bytes` more bytes beyond those already written (and the pending bits),
  // doubling the buffer as often as needed. On failure the buffer stays and failed is set.
  bool Reserve(std::size_t bytes);
  void Put(std::uint32_t value, int n) {
    bits |= static_cast<std::uint64_t>(value) << count;
    count += n;
    if (count >= 32) {
      // One 8-byte store of which 4 bytes count; Reserve keeps 16 bytes of slack for it.
      std::memcpy(buffer + length, &bits, 8);
      length += 4;
      bits >>= 32;
      count -= 32;
    }
  }
  // Moves every complete byte of pending bits into the buffer (at most 7 bits stay).
  void FlushBytes() {
    while (count >= 8) {
      buffer[length++] = static_cast<std::uint8_t>(bits);
      bits >>= 8;
      count -= 8;
    }
  }
  // Pads with 0 bits up to the next byte boundary and flushes.
  void Align() {
    count = (count + 7) & ~7;
    FlushBytes();
  }
};

// Symbol lookup built from the entry table's code records.
struct DynSymbols {
  std::uint8_t lengthSlot[kDynMaxMatch + 1];  // length 3..258 → index of its length code
  std::uint8_t distanceSlot[512];             // as in the fixed encoder: d ≤ 256, then spans
  std::uint8_t lengthExtra[kLengthCodeCount];
  std::uint16_t lengthLowest[kLengthCodeCount];
  std::uint8_t distanceExtra[kDistanceCodeCount];
  std::uint16_t distanceLowest[kDistanceCodeCount];

  int Distance(std::int32_t d) const {
    return distanceSlot[d <= 256 ? d - 1 : 256 + ((d - 1) >> 7)];
  }
};

struct DynDeflateState {
  const CodecEntryTable* table;
  std::uint8_t* buffer;     // kDynBufferSize + kDynBufferSlack bytes
  std::uint32_t* tokens;    // kDynTokenCapacity tokens of the block being gathered
  std::int32_t avail;       // bytes held in buffer
  std::int32_t pos;         // next byte to parse
  std::int32_t nextInsert;  // next position to enter into the hash chains
  std::int32_t blockStart;  // first byte of the block being gathered
  std::int32_t tokenCount;
  // What the tables add to a buffer offset: a multiple of the window, at least two windows,
  // at most kDynRebaseLimit. Sliding the buffer only raises base, and a new stream makes
  // every older entry unreachable by raising base past the window instead of clearing the
  // tables.
  std::int32_t base;
  // Pending output bits (fewer than 8 between calls).
  std::uint64_t bits;
  int bitCount;
  // Block splitting: observations of the block so far and of the newest stretch of tokens,
  // which starts at token newStartToken and byte newStartByte.
  std::uint32_t blockObs[kDynObservationKinds];
  std::uint32_t newObs[kDynObservationKinds];
  std::uint32_t blockObsCount;
  std::uint32_t newObsCount;
  std::int32_t newStartToken;
  std::int32_t newStartByte;
  DynSymbols symbols;
  // Code lengths of the last block written (fixed-code lengths before the first; unused
  // symbols count 12 bits), as the price of literals and short matches.
  std::uint8_t litCost[288];
  std::uint8_t distCost[kDistanceCodeCount];
  std::int32_t head[1 << kDynHashBits];
  std::int32_t head3[1 << kDynHash3Bits];  // latest position of each 3-byte hash
  std::int32_t prev[kDynWindow];
};

// Writes tokens[0..tokenEnd) as one block (or several stored blocks) covering the bytes from
// blockStart to byteEnd, choosing whichever of stored, fixed and dynamic codes is smallest,
// then drops those tokens and moves blockStart to byteEnd. `final` sets the last-block bit.
void DynWriteBlock(DynDeflateState& s, DynBitOut& out, std::int32_t tokenEnd, std::int32_t byteEnd,
                   bool final);

}  // namespace lum::codec
