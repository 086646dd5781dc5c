// Compression levels of the archive writer and the encoder parameters each one stands for.
//
// Level 0 stores an entry without the codec; levels 1–4 parse greedily and 5–9 lazily, each
// step gathering more match candidates and comparing them over more bytes. The values are
// part of the archive format this program writes: changing one changes the bytes of every
// archive written at that level.
#pragma once

#include <cstdint>

#include "codec/codec_table.h"

namespace lum::codec {

// Encoder parameters of one level, as they go into a CodecBlock.
struct DeflateLevel {
  std::int32_t bGreedy;         // non-zero: greedy parsing; zero: lazy parsing
  std::int32_t lMaxCandidates;  // most match candidates gathered per position
  std::int32_t lCompareLength;  // bytes over which candidates are compared with each other
};

inline constexpr int kDeflateMinLevel = 1;
inline constexpr int kDeflateMaxLevel = 9;

// Parameters of levels 1 to 9, indexed by level − 1.
inline constexpr DeflateLevel kDeflateLevels[kDeflateMaxLevel] = {
    {1, 2, 8},   {1, 6, 10},   {1, 12, 14},  {1, 24, 24},      {0, 8, 30},
    {0, 16, 65}, {0, 32, 130}, {0, 64, 200}, {0, 1000, 32768},
};

// Parameters of `level`, limited to 1–9 (level 0, stored, does not reach the encoder).
constexpr DeflateLevel DeflateLevelParams(int level) {
  if (level < kDeflateMinLevel) level = kDeflateMinLevel;
  if (level > kDeflateMaxLevel) level = kDeflateMaxLevel;
  return kDeflateLevels[level - 1];
}

// Fills the encoder fields bGreedy, lMaxCandidates and lCompareLength of `block` for `level`
// (limited to 1–9 as above); the other fields are left as they are.
constexpr void ApplyDeflateLevel(CodecBlock& block, int level) {
  const DeflateLevel p = DeflateLevelParams(level);
  block.bGreedy = p.bGreedy;
  block.lMaxCandidates = p.lMaxCandidates;
  block.lCompareLength = p.lCompareLength;
}

}  // namespace lum::codec
