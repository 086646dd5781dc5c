// The Deflate encoder's handle. The routines themselves (DeflateCreate, DeflateDestroy,
// Deflate) are declared with the other codec routines in codec_table.h and reached through
// slots 0–2 of the entry table.
#pragma once

#include <cstdint>

#include "codec/codec_table.h"
#include "codec/deflate_bits.h"
#include "codec/deflate_match.h"

namespace lum::codec {

// What an encoder handle points to: the entry table it was made with (its allocator and
// constant tables serve the handle's whole life), the match finder and the bit writer, each
// allocated with the table's pfnAlloc.
struct DeflateState {
  const CodecEntryTable* table;
  DeflateMatchFinder* finder;
  DeflateBitWriter* writer;
};

// lMaxCandidates limited to the 1–1,000 candidates a position can gather.
constexpr std::int32_t DeflateClampCandidates(std::int32_t maxCandidates) {
  return maxCandidates < 1
             ? 1
             : (maxCandidates > kDeflateMaxCandidates ? kDeflateMaxCandidates : maxCandidates);
}

}  // namespace lum::codec
