// The encoder's match finder: 4-byte hash chains over the last 32,768 bytes, and the search
// that picks one match among the gathered candidates.
//
// The search result is defined by a procedure: gather up to lMaxCandidates positions of the
// hash chain whose first 4 bytes equal the 4 bytes at the current position (nearest first;
// chain entries that fail this test do not count), narrow that list byte by byte while two or
// more candidates agree, up to the compare length, then extend the first survivor as far as
// the chunk allows. That procedure has a closed form, which is what this search computes:
//
//   let a(k) be how far candidate k agrees with the input (at most the bytes left, r), and
//   limit = max(4, min(lCompareLength, r)); the match is the nearest candidate with the
//   largest min(a(k), limit), and its length is the full a(k).
//
// So the walk keeps only the best candidate so far, compares 8 bytes per step, skips a
// candidate whose byte at the best length already differs, and stops as soon as one reaches
// `limit` (a later candidate could only tie, and ties go to the nearer one). The lazy parser
// also passes the length a match must beat to matter, which raises the starting bar. The
// tests compare this against a literal rendering of the procedure.
//
// Representation. Positions are 32-bit stream positions plus a base of 65,536, so 0 means "no
// position" and is always more than 32,768 behind. head[h] is the newest position with hash h
// and prev[p mod 32,768] the next older one; a walk stops at the first position more than
// 32,768 behind. That visits exactly the positions inserted with hash h among the last 32,768
// insertions, newest first, the same as a doubly linked chain that evicts the oldest entry,
// without the eviction work. Before positions run out of 32 bits they are renumbered.
//
// History. Every stream byte is inserted once at least 3 bytes follow it, so between calls
// the 0–3 newest bytes are pending; they are inserted at the start of the next call once the
// new chunk supplies their remaining bytes. `history` holds the 32,768 bytes that precede the
// current chunk, oldest first; a candidate whose source starts before the chunk is read from
// there and continues in the chunk itself. Nothing is read from history that the stream has
// not written (a candidate was inserted, so its bytes exist); it is cleared anyway so that the
// encoder never depends on uninitialised memory.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace lum::codec {

inline constexpr std::int32_t kDeflateWindow = 32768;
inline constexpr std::int32_t kDeflateHashSize = 65536;
inline constexpr std::int32_t kDeflateMaxCandidates = 1000;

// A match: distance 1–32,768 and length; length 0 means none.
struct DeflateMatch {
  std::int32_t distance;
  std::int32_t length;
};

class DeflateMatchFinder {
 public:
  // Empty history: no positions, history bytes 0. Call once on fresh memory.
  void Reset();

  // Starts a chunk of `size` bytes at `input` (kept until EndChunk, never copied): renumbers
  // positions when needed, then inserts the pending bytes whose 4 bytes are now known.
  void BeginChunk(const std::uint8_t* input, std::int32_t size);
  // Ends the chunk: its bytes join the history; those with fewer than 3 bytes after them stay
  // pending. Every position i ≤ size − 4 of the chunk must have been inserted.
  void EndChunk();

  static std::uint32_t Hash(std::uint32_t word) { return (word * 0x1E35A7BDu) >> 16; }
  static std::uint32_t Load32(const std::uint8_t* p) {
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
  }
  // Hash of the 4 bytes at chunk offset i (i ≤ size − 4).
  std::uint32_t HashAt(std::int32_t i) const { return Hash(Load32(m_in + i)); }

  // Inserts chunk offset i (i ≤ size − 4) whose hash is h.
  void Insert(std::int32_t i, std::uint32_t h) {
    const std::uint32_t p = m_chunkPos + static_cast<std::uint32_t>(i);
    m_prev[p & (kDeflateWindow - 1)] = m_head[h];
    m_head[h] = p;
  }
  // Inserts the offsets from..to−1 that have 4 bytes in the chunk; later ones become pending.
  void InsertRange(std::int32_t from, std::int32_t to) {
    if (to > m_size - 3) to = m_size - 3;
    for (std::int32_t i = from; i < to; ++i) Insert(i, HashAt(i));
  }

  // The match at chunk offset i (with at least 4 bytes left; h = HashAt(i)), from at most
  // `maxCandidates` (1–1,000) candidates compared over `compareLength` bytes. With `beat` > 0
  // only a match longer than `beat` is of interest: the result then is either that exact
  // match or none.
  inline DeflateMatch Find(std::int32_t i, std::uint32_t h, std::int32_t maxCandidates,
                           std::int32_t compareLength, std::int32_t beat) const;

  // Renumbers every position so that the current chunk starts at `chunkPos` (at least 65,536
  // and below 2^31); positions still in reach move along, older ones become "none". The
  // history and every later result stay the same. BeginChunk renumbers to 65,536 before
  // positions could overflow.
  void Renumber(std::uint32_t chunkPos);

 private:
  static constexpr std::uint32_t kBase = 2 * kDeflateWindow;
  static constexpr std::uint32_t kRenumberAt = 0x80000000u;

  // How many bytes agree from offset j up to `end` between a[...] and b[...].
  static std::int32_t Agree(const std::uint8_t* a, const std::uint8_t* b, std::int32_t j,
                            std::int32_t end) {
    while (j + 8 <= end) {
      std::uint64_t x, y;
      std::memcpy(&x, a + j, 8);
      std::memcpy(&y, b + j, 8);
      if (x != y) return j + (std::countr_zero(x ^ y) >> 3);
      j += 8;
    }
    while (j < end && a[j] == b[j]) ++j;
    return j;
  }
  // Byte at chunk offset s, which may lie up to 32,768 before the chunk.
  std::uint8_t SourceByte(std::int32_t s) const {
    return s < 0 ? m_history[kDeflateWindow + s] : m_in[s];
  }
  std::uint32_t SourceWord(std::int32_t s) const;
  // Agreement from offset j up to `end` of the source starting at s < 0 with the input at i.
  std::int32_t AgreeAcross(std::int32_t s, std::int32_t i, std::int32_t j, std::int32_t end) const;

  std::uint32_t m_head[kDeflateHashSize];
  std::uint32_t m_prev[kDeflateWindow];
  std::uint8_t m_history[kDeflateWindow];
  std::uint32_t m_chunkPos;    // position of the current chunk's first byte
  std::uint32_t m_nextInsert;  // position of the first byte not yet inserted
  const std::uint8_t* m_in;
  std::int32_t m_size;
};

inline DeflateMatch DeflateMatchFinder::Find(std::int32_t i, std::uint32_t h,
                                             std::int32_t maxCandidates, std::int32_t compareLength,
                                             std::int32_t beat) const {
  const std::uint8_t* in = m_in;
  const std::int32_t r = m_size - i;
  std::int32_t limit = compareLength < r ? compareLength : r;
  if (limit < 4) limit = 4;
  // `best` is the agreement a candidate must exceed. For a lazy caller only a result longer
  // than `beat` matters: below `limit` that means agreeing on more than `beat` bytes, and at
  // `limit` the nearest candidate that gets there wins whatever its full length.
  std::int32_t best = 3;
  if (beat > 0) best = beat < limit ? beat : limit - 1;
  std::int32_t bestDistance = 0;
  const std::uint32_t cur = m_chunkPos + static_cast<std::uint32_t>(i);
  const std::uint32_t key = Load32(in + i);
  std::int32_t found = 0;
  for (std::uint32_t p = m_head[h];; p = m_prev[p & (kDeflateWindow - 1)]) {
    const std::uint32_t d = cur - p;
    if (d > static_cast<std::uint32_t>(kDeflateWindow)) break;
    const std::int32_t s = i - static_cast<std::int32_t>(d);
    std::int32_t len = 0;  // stays 0 when the candidate cannot beat `best`
    if (s >= 0) {
      const std::uint8_t* src = in + s;
      if (Load32(src) != key) continue;
      ++found;
      if (src[best] == in[i + best]) len = Agree(src, in + i, 4, limit);
    } else {
      if (SourceWord(s) != key) continue;
      ++found;
      if (SourceByte(s + best) == in[i + best]) len = AgreeAcross(s, i, 4, limit);
    }
    if (len > best) {
      best = len;
      bestDistance = static_cast<std::int32_t>(d);
      if (len >= limit) break;
    }
    if (found >= maxCandidates) break;
  }
  if (bestDistance == 0) return {0, 0};
  if (best == limit && limit < r) {
    const std::int32_t s = i - bestDistance;
    best = s >= 0 ? Agree(in + s, in + i, limit, r) : AgreeAcross(s, i, limit, r);
  }
  return {bestDistance, best};
}

}  // namespace lum::codec
