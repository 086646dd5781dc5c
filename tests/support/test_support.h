// Helpers shared by the tests: deterministic data generators and a codec entry table
// whose allocator can be made to fail.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/codec_init.h"
#include "codec/codec_table.h"

namespace lum::test {

// A small deterministic generator (splitmix64) so that every run sees the same data.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : m_state(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [lo, hi].
  std::uint64_t Range(std::uint64_t lo, std::uint64_t hi) { return lo + Next() % (hi - lo + 1); }

 private:
  std::uint64_t m_state;
};

// Kinds of generated data that exercise compressors differently.
enum class DataKind { kText, kBinary, kRuns, kRandom, kLongRepeats };
std::vector<std::uint8_t> MakeData(DataKind kind, std::size_t size, std::uint64_t seed);
std::vector<DataKind> AllDataKinds();
const char* DataKindName(DataKind kind);

// An entry table filled as an archive object fills it, with its own CRC table.
struct CodecFixture {
  codec::Crc32Table crcTable;
  codec::CodecEntryTable table{};
  CodecFixture() { codec::pvCodecInit(table, crcTable); }
  codec::CodecWord TableWord() const { return codec::Word(&table); }
};

// CRC-32 of a whole buffer (preset and complement applied), by the bitwise definition.
std::uint32_t ReferenceCrc32(const std::uint8_t* data, std::size_t size);

}  // namespace lum::test
