// The match finder's chunk bookkeeping: pending bytes, history and renumbering.
#include "codec/deflate_match.h"

#include <algorithm>

namespace lum::codec {

void DeflateMatchFinder::Reset() {
  std::memset(m_head, 0, sizeof m_head);
  std::memset(m_prev, 0, sizeof m_prev);
  std::memset(m_history, 0, sizeof m_history);
  m_chunkPos = kBase;
  m_nextInsert = kBase;
  m_in = nullptr;
  m_size = 0;
}

void DeflateMatchFinder::BeginChunk(const std::uint8_t* input, std::int32_t size) {
  m_in = input;
  m_size = size;
  if (m_chunkPos >= kRenumberAt) Renumber(kBase);
  // Pending bytes (0–3 before the chunk) are inserted, oldest first, once the chunk completes
  // their 4 bytes; the rest wait for the next chunk.
  const std::uint32_t end = m_chunkPos + static_cast<std::uint32_t>(size);
  while (m_nextInsert < m_chunkPos && m_nextInsert + 4 <= end) {
    const std::int32_t s = static_cast<std::int32_t>(m_nextInsert - m_chunkPos);
    const std::uint32_t h = Hash(SourceWord(s));
    m_prev[m_nextInsert & (kDeflateWindow - 1)] = m_head[h];
    m_head[h] = m_nextInsert;
    ++m_nextInsert;
  }
}

void DeflateMatchFinder::EndChunk() {
  const std::int32_t n = m_size;
  if (n >= kDeflateWindow) {
    std::memcpy(m_history, m_in + n - kDeflateWindow, kDeflateWindow);
  } else if (n > 0) {
    std::memmove(m_history, m_history + n, static_cast<std::size_t>(kDeflateWindow - n));
    std::memcpy(m_history + kDeflateWindow - n, m_in, static_cast<std::size_t>(n));
  }
  m_chunkPos += static_cast<std::uint32_t>(n);
  // The parser inserted every offset with 4 bytes in the chunk; at most 3 bytes stay pending.
  if (m_nextInsert + 3 < m_chunkPos) m_nextInsert = m_chunkPos - 3;
  m_in = nullptr;
  m_size = 0;
}

void DeflateMatchFinder::Renumber(std::uint32_t chunkPos) {
  // Positions less than 32,768 before the chunk can still be reached from it or later; they
  // keep their distance to the chunk. With chunkPos ≥ 65,536 they all stay above 0.
  const std::uint32_t oldPos = m_chunkPos;
  const std::uint32_t shift = chunkPos - oldPos;  // modulo 2^32, either direction
  const auto move = [oldPos, shift](std::uint32_t p) {
    return p != 0 && oldPos - p <= static_cast<std::uint32_t>(kDeflateWindow) ? p + shift : 0u;
  };
  for (auto& p : m_head) p = move(p);
  for (auto& p : m_prev) p = move(p);
  // prev is indexed by position modulo 32,768: its entries move along with their positions.
  const std::uint32_t turn = shift & (kDeflateWindow - 1);
  if (turn != 0) std::rotate(m_prev, m_prev + (kDeflateWindow - turn), m_prev + kDeflateWindow);
  m_chunkPos = chunkPos;
  m_nextInsert += shift;
}

std::uint32_t DeflateMatchFinder::SourceWord(std::int32_t s) const {
  if (s >= 0) return Load32(m_in + s);
  if (s <= -4) return Load32(m_history + kDeflateWindow + s);
  std::uint32_t w = 0;
  for (int k = 0; k < 4; ++k) w |= static_cast<std::uint32_t>(SourceByte(s + k)) << (8 * k);
  return w;
}

std::int32_t DeflateMatchFinder::AgreeAcross(std::int32_t s, std::int32_t i, std::int32_t j,
                                             std::int32_t end) const {
  // The part of the source before the chunk comes from history, the rest from the chunk.
  if (s + j < 0) {
    const std::int32_t split = -s < end ? -s : end;
    const std::uint8_t* a = m_history + kDeflateWindow + s + j;
    const std::int32_t k = Agree(a, m_in + i + j, 0, split - j);
    if (k < split - j) return j + k;
    j = split;
  }
  if (j >= end) return j;
  return j + Agree(m_in + (s + j), m_in + i + j, 0, end - j);
}

}  // namespace lum::codec
