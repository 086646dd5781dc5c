// The encoder's two parsers: how one chunk becomes literals and matches.
#pragma once

#include <cstdint>

#include "codec/deflate_bits.h"
#include "codec/deflate_match.h"

namespace lum::codec {

// Search parameters of a chunk, already limited to what the match finder accepts.
struct DeflateSearch {
  std::int32_t maxCandidates;  // 1–1,000
  std::int32_t compareLength;
};

// Codes the chunk `in`/`n` (already begun on `finder`) into `out`, inserting every offset
// with 4 bytes left into the finder.
//
// Greedy: at each offset take the match there if there is one, else a literal.
void DeflateParseGreedy(DeflateMatchFinder& finder, DeflateBitSink& out,
                        const DeflateCodeTables& codes, const std::uint8_t* in, std::int32_t n,
                        DeflateSearch search);

// Lazy: a match found is deferred by one byte; it is replaced only by a match at the next
// offset that is at least two bytes longer (its first byte then goes out as a literal).
void DeflateParseLazy(DeflateMatchFinder& finder, DeflateBitSink& out,
                      const DeflateCodeTables& codes, const std::uint8_t* in, std::int32_t n,
                      DeflateSearch search);

}  // namespace lum::codec
