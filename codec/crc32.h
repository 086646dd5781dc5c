// CRC-32 as ZIP uses it: reflected polynomial 0xEDB88320. The register is raw: its owner
// presets it to 0xFFFFFFFF and complements it after the last byte; the update routines do
// neither.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/codec_table.h"

namespace lum::codec {

// The 1024-entry table of four 256-entry sub-tables (slicing by four), built on first
// request and kept with its built flag for the owner's life.
class Crc32Table {
 public:
  // Address of entry 0; builds the table on the first call.
  const std::uint32_t* pvCrc32Table();

 private:
  std::uint32_t m_table[kCrc32TableSize];
  bool m_bBuilt = false;
};

// Fills `table` (1024 entries) as the table builder defines it.
void BuildCrc32Table(std::uint32_t* table);

// Updates `crc` over `count` bytes at `data` with the four-table form: bytes one at a
// time up to a 4-byte aligned address, then four at a time, then the remaining bytes.
void Crc32UpdateTable(const std::uint32_t* table, const std::uint8_t* data, std::size_t count,
                      std::uint32_t& crc);

// Updates `crc` with the fastest form this CPU offers (chosen once at run time); gives the
// same register as Crc32UpdateTable for every input, split and alignment.
void Crc32UpdateFast(const std::uint32_t* table, const std::uint8_t* data, std::size_t count,
                     std::uint32_t& crc);

// Name of the form Crc32UpdateFast uses on this CPU (for benchmarks and test output).
const char* Crc32FastPathName();

}  // namespace lum::codec
