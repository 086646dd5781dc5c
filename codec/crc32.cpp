// CRC-32: the table builder and the four-table register update, and the codec's
// slot-6 routine.
//
// The table form works one aligned 32-bit word per step: x = crc ^ word, and the four
// sub-tables give the contribution of each of x's bytes after 3, 2, 1 and 0 further byte
// shifts. Faster forms live in crc32_fast.cpp and must give the same register.
#include "codec/crc32.h"

#include <cstring>

namespace lum::codec {

void BuildCrc32Table(std::uint32_t* table) {
  for (int i = 0; i < kCrc32TableSize; ++i) {
    std::uint32_t a = i < 256 ? 0u : table[i - 256];
    std::uint32_t b = i < 256 ? static_cast<std::uint32_t>(i) : 0u;
    for (int k = 0; k < 8; ++k) {
      a = ((a ^ b) & 1u) ? (a >> 1) ^ 0xEDB88320u : a >> 1;
      b >>= 1;
    }
    table[i] = a;
  }
}

const std::uint32_t* Crc32Table::pvCrc32Table() {
  if (!m_bBuilt) {
    BuildCrc32Table(m_table);
    m_bBuilt = true;
  }
  return m_table;
}

void Crc32UpdateTable(const std::uint32_t* table, const std::uint8_t* p, std::size_t count,
                      std::uint32_t& crc) {
  const std::uint32_t* t0 = table;
  const std::uint32_t* t1 = table + 256;
  const std::uint32_t* t2 = table + 512;
  const std::uint32_t* t3 = table + 768;
  const std::uint8_t* e = p + count;
  std::uint32_t c = crc;
  while (p != e && (reinterpret_cast<std::uintptr_t>(p) & 3u) != 0) {
    c = t0[(c ^ *p++) & 0xFFu] ^ (c >> 8);
  }
  while (e - p >= 4) {
    std::uint32_t w = p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
                      (std::uint32_t{p[3]} << 24);
    std::uint32_t x = c ^ w;
    c = t3[x & 0xFFu] ^ t2[(x >> 8) & 0xFFu] ^ t1[(x >> 16) & 0xFFu] ^ t0[x >> 24];
    p += 4;
  }
  while (p != e) c = t0[(c ^ *p++) & 0xFFu] ^ (c >> 8);
  crc = c;
}

CodecWord Crc32Update(CodecWord table, CodecWord data, CodecWord count, CodecWord crc) {
  const auto* t = reinterpret_cast<const CodecEntryTable*>(table);
  Crc32UpdateFast(t->pCrc32Table, reinterpret_cast<const std::uint8_t*>(data),
                  static_cast<std::size_t>(count), *reinterpret_cast<std::uint32_t*>(crc));
  return 0;
}

}  // namespace lum::codec
