// The decoder's state record and the per-call context shared by the state machine
// (inflate.cpp) and the fast loop (inflate_fast.cpp).
#pragma once

#include <cstdint>

#include "codec/codec_table.h"
#include "codec/inflate.h"
#include "codec/inflate_huffman.h"

namespace lum::codec::inflate {

// The state machine's states; the fast loop runs inside kLiteralLength and leaves in it or
// in kBlockHeader.
enum State : std::int32_t {
  kFresh = 0,
  kBlockHeader = 1,
  kDynamicCounts = 2,
  kCodeLengthCode = 3,
  kCodeLengths = 4,
  kRepeat = 5,
  kLiteralLength = 6,
  kLengthBits = 7,
  kDistance = 8,
  kDistanceBits = 9,
  kStoredLength = 10,
  kStoredCheck = 11,
  kStoredBytes = 12,
};

// Bytes after the window that the fast loop's match copies may read (and ignore).
inline constexpr std::int32_t kWindowPadding = 32;

// The record behind a decoder handle, allocated from the entry table's allocator.
struct InflateState {
  const CodecEntryTable* table;  // allocator and constant tables for the handle's life
  HuffTable* fixedLit;
  HuffTable* fixedDist;
  HuffTable* lit;              // literal/length table in use: fixed, dynamic or 0
  HuffTable* dist;             // distance table in use: fixed, dynamic or 0
  HuffTable* codeLen;          // code-length table while a dynamic header is read
  std::int32_t state;          // a State
  std::int32_t codeBase;       // base value of the length or distance code being completed
  std::int32_t codeExtraBits;  // and the number of its extra bits
  std::int32_t hlit;
  std::int32_t hdist;
  std::int32_t hclen;
  std::int32_t index;
  std::int32_t repeatBits;
  std::int32_t repeatBase;
  std::int32_t length;
  std::int32_t repeatValue;
  std::int32_t storedLeft;
  std::int32_t failed;  // a call failed; the handle only refuses from then on
  std::uint8_t codeLenLengths[20];
  std::uint8_t lengths[320];
  std::uint64_t bitBuf;   // input bits not yet used, least significant first
  std::int32_t bitCount;  // valid bits in bitBuf; between calls at most 31
  // The last 32 KiB of output in order, oldest first, so that the byte `d` back from the
  // start of a call is window[kInflateWindowSize − d]; before any output, zeros. The
  // padding lets the fast loop's copies read a little past the end.
  std::uint8_t window[kInflateWindowSize + kWindowPadding];
};

enum class Step { kContinue, kNeedMore, kFail };

// Releases the literal/length and distance tables in use unless they are the fixed ones.
inline void ReleaseBlockTables(InflateState& s) {
  if (s.lit != s.fixedLit) FreeHuffTable(*s.table, s.lit);
  if (s.dist != s.fixedDist) FreeHuffTable(*s.table, s.dist);
  s.lit = nullptr;
  s.dist = nullptr;
}

// One pfnInflate call. The window is left as it was at the start of the call while the
// call runs: a copy reaching before the call's first output byte reads it, everything later
// comes from the output buffer itself, and the window is refreshed from the output's tail
// once, at the end of a successful call.
struct InflateCall {
  InflateState* s;
  const std::uint8_t* inBegin;  // the call's input chunk
  const std::uint8_t* in;
  const std::uint8_t* inEnd;
  std::uint8_t* out;
  std::int32_t outLen;
  std::int32_t outCap;

  // Makes room for `extra` more output bytes, doubling the buffer as often as needed.
  // False when the allocator fails or the size would not fit a signed 32-bit length; the
  // buffer is then still the old one, owned by the call.
  bool Reserve(std::int32_t extra) {
    if (outCap - outLen >= extra) return true;
    std::int64_t cap = outCap;
    while (cap - outLen < extra) cap *= 2;
    if (cap > INT32_MAX) return false;
    void* grown = s->table->pfnRealloc(out, static_cast<std::size_t>(cap));
    if (grown == nullptr) return false;
    out = static_cast<std::uint8_t*>(grown);
    outCap = static_cast<std::int32_t>(cap);
    return true;
  }

  // The byte `distance` back from the end of the output (1 ≤ distance ≤ 32768).
  std::uint8_t History(std::int32_t distance) const {
    std::int32_t q = outLen - distance;
    if (q >= 0) return out[q];
    return s->window[kInflateWindowSize + q];
  }
};

// Decodes literal/length and distance codes of the current block in whole symbols while at
// least kFastInputMargin input bytes and a full match of output room remain. Entered in
// kLiteralLength with the bit buffer holding 24–31 bits; leaves in kLiteralLength or kBlockHeader
// (end of block) with at most 31 bits buffered, every consumed byte accounted for, or returns kFail
// on a pattern with no code or a distance code of 30 or 31 (or an allocation failure).
Step FastDecode(InflateCall& c);
inline constexpr std::int32_t kFastInputMargin = 16;

}  // namespace lum::codec::inflate
