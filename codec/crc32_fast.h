// The faster CRC-32 forms behind Crc32UpdateFast, and the hook through which tests and
// benchmarks pick one. Every form updates a raw register exactly as Crc32UpdateTable does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lum::codec {

// The register-update forms, slowest first.
enum class Crc32Path {
  kTable,     // the four-table form of crc32.cpp
  kSlicing8,  // eight tables, eight bytes per step; any CPU
  kPclmul,    // carry-less multiplication folding; x86 with PCLMULQDQ and SSE4.1
};

// Eight 256-entry tables: entry [k][n] is the register after byte n followed by k zero
// bytes, starting from 0. Tables 0 to 3 equal the four sub-tables of the four-table form.
extern const std::array<std::array<std::uint32_t, 256>, 8> kCrc32Slice8;

// Slicing by eight: whole 8-byte words through the eight tables, the rest a byte at a time.
void Crc32UpdateSlice8(const std::uint8_t* data, std::size_t count, std::uint32_t& crc);

// True when this build and this CPU can run the folding form.
bool Crc32PclmulAvailable();

// Folding with PCLMULQDQ; call only when Crc32PclmulAvailable() is true. Short inputs and
// the last partial block go through Crc32UpdateSlice8.
void Crc32UpdatePclmul(const std::uint8_t* data, std::size_t count, std::uint32_t& crc);

namespace testing {

// Makes Crc32UpdateFast use `path` from now on, for every thread. Returns false, changing
// nothing, when this CPU or build cannot run it.
bool SetCrc32Path(Crc32Path path);

// Restores the form chosen for this CPU.
void ResetCrc32Path();

// The form Crc32UpdateFast uses now.
Crc32Path ActiveCrc32Path();

}  // namespace testing

}  // namespace lum::codec
