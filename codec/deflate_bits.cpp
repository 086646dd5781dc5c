// Building the fixed-Huffman code tables of a handle, and the bit writer's slow path.
#include <climits>

#include "codec/deflate_bits.h"

namespace lum::codec {

namespace {

// A Huffman code of `length` bits (at most 9), reversed so that its most significant bit
// goes out first.
std::uint32_t Reversed(const std::uint8_t* bitReverse, std::uint32_t code, int length) {
  if (length == 9) return static_cast<std::uint32_t>(bitReverse[code & 0xFF]) << 1 | (code >> 8);
  return static_cast<std::uint32_t>(bitReverse[code]) >> (8 - length);
}

}  // namespace

int FindCodeRecord(const CodecCodeRecord* records, int count, std::int32_t value) {
  int lo = 0;
  int hi = count - 1;
  while (lo <= hi) {
    const int mid = (lo + hi) / 2;
    if (value < records[mid].lowest) {
      hi = mid - 1;
    } else if (value > records[mid].highest) {
      lo = mid + 1;
    } else {
      return mid;
    }
  }
  return -1;
}

void BuildDeflateCodeTables(const CodecEntryTable& table, DeflateCodeTables& codes) {
  const std::uint8_t* rev = table.pBitReverse;
  for (std::uint32_t c = 0; c < 256; ++c) {
    codes.literal[c] = c <= 143 ? DeflateCode{Reversed(rev, 0x30 + c, 8), 8}
                                : DeflateCode{Reversed(rev, 0x100 + c, 9), 9};
  }

  codes.length[0] = codes.length[1] = codes.length[2] = DeflateCode{0, 0};
  for (std::int32_t piece = kDeflateMinMatch; piece <= kDeflateMaxMatch; ++piece) {
    const CodecCodeRecord& r =
        table.pLengthCodes[FindCodeRecord(table.pLengthCodes, kLengthCodeCount, piece)];
    // Symbols 256–279 have the 7-bit codes 0–23 (256, the end of a block, is code 0), symbols
    // 280–287 the 8-bit codes 0xC0–0xC7.
    const std::uint32_t symbol = r.code;
    const DeflateCode code = symbol <= 279 ? DeflateCode{Reversed(rev, symbol - 256, 7), 7}
                                           : DeflateCode{Reversed(rev, 0xC0 + symbol - 280, 8), 8};
    codes.length[piece] = {code.bits | static_cast<std::uint32_t>(piece - r.lowest) << code.count,
                           code.count + r.extraBits};
  }

  for (int k = 0; k < kDistanceCodeCount; ++k) {
    const CodecCodeRecord& r = table.pDistanceCodes[k];
    codes.distanceCode[k] = {Reversed(rev, r.code, 5), 5u + r.extraBits};
    codes.distanceLowest[k] = r.lowest;
  }
  const auto slotOf = [&](std::int32_t d) {
    return static_cast<std::uint8_t>(FindCodeRecord(table.pDistanceCodes, kDistanceCodeCount, d));
  };
  for (std::int32_t d = 1; d <= 256; ++d) codes.distanceSlot[d - 1] = slotOf(d);
  codes.distanceSlot[256] = codes.distanceSlot[257] = 0;  // never used: d − 1 ≥ 256 gives ≥ 2
  for (std::int32_t k = 2; k < 256; ++k) codes.distanceSlot[256 + k] = slotOf(k * 128 + 1);
}

void DeflateBitSink::FlushSlow() {
  while (m_count >= 8) {
    if (!m_failed && m_length == m_capacity) {
      void* grown = m_capacity <= INT32_MAX / 2
                        ? m_realloc(m_buffer, static_cast<std::size_t>(m_capacity) * 2)
                        : nullptr;
      if (grown) {
        m_buffer = static_cast<std::uint8_t*>(grown);
        m_capacity *= 2;
      } else {
        m_failed = true;  // keep the old buffer for the caller to release
      }
    }
    if (!m_failed) m_buffer[m_length++] = static_cast<std::uint8_t>(m_acc);
    m_acc >>= 8;
    m_count -= 8;
  }
}

}  // namespace lum::codec
