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
// The 3-byte table is written at every position of the lazy levels, so it is kept small enough
// to stay in the first-level cache (2 KiB): a 64 KiB one cost those levels 13 % of their time
// on small text files, for 0.1 % of output on the corpus. Its matches only reach back
// kDynMaxDistance3 bytes, where few 3-byte strings compete for a slot.
inline constexpr int kDynHash3Bits = 9;
// A match of 3 bytes is considered only within this distance, and taken only when the codes of
// the previous block make it cheaper than its three literals.
inline constexpr std::int32_t kDynMaxDistance3 = 4096;
inline constexpr int kDynObservationKinds = 20;
inline constexpr std::int32_t kDynFirstBuffer = 32768;  // output buffer of a call, doubled
// The match-finder tables hold buffer offsets plus DynDeflateState::base. When base passes
// this limit the tables are brought back down (Rebase in dyn_deflate.cpp).
inline constexpr std::int32_t kDynRebaseLimit = 1 << 30;

// A token: a literal byte (its value, below 256), or a match stored with its symbols already
// looked up, so that neither counting nor writing a block looks them up again: bits 0–8 hold
// the literal/length symbol (257–285), bits 9–13 the value of the length's extra bits, bits
// 14–18 the distance code and bits 19–31 the value of the distance's extra bits.
inline constexpr std::uint32_t kDynFirstMatchToken = 256;
inline constexpr int kDynLitLenSymbols = 286;

// Symbol counts of a run of tokens, kept while parsing: what a block's codes are built from and
// what the block-splitting observations are drawn from.
struct DynCounts {
  std::uint32_t lit[kDynLitLenSymbols];
  std::uint32_t dist[kDistanceCodeCount];
  // Matches by observation class: length of 9 or more (2) plus distance of 512 or more (1).
  std::uint32_t matchKind[4];
  std::uint64_t extraBits;  // extra bits of every length and distance
  std::uint32_t tokens;

  void Add(const DynCounts& other) {
    for (int i = 0; i < kDynLitLenSymbols; ++i) lit[i] += other.lit[i];
    for (int i = 0; i < kDistanceCodeCount; ++i) dist[i] += other.dist[i];
    for (int i = 0; i < 4; ++i) matchKind[i] += other.matchKind[i];
    extraBits += other.extraBits;
    tokens += other.tokens;
  }
};

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
  // Counts of the block so far without its newest stretch of tokens, and of that stretch, which
  // starts at token newStartToken and byte newStartByte; the block's observations for block
  // splitting.
  DynCounts blockCounts;
  DynCounts newCounts;
  std::uint32_t blockObs[kDynObservationKinds];
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
// then drops those tokens and moves blockStart to byteEnd. `counts` are the symbol counts of
// those tokens. `final` sets the last-block bit.
void DynWriteBlock(DynDeflateState& s, DynBitOut& out, std::int32_t tokenEnd, std::int32_t byteEnd,
                   const DynCounts& counts, bool final);

}  // namespace lum::codec
