// Placeholder fast path: the table form. Replaced by a CPU-specific form.
#include "codec/crc32.h"

namespace lum::codec {

void Crc32UpdateFast(const std::uint32_t* table, const std::uint8_t* data, std::size_t count,
                     std::uint32_t& crc) {
  Crc32UpdateTable(table, data, count, crc);
}

const char* Crc32FastPathName() { return "table"; }

}  // namespace lum::codec
