// The dynamic-Huffman encoder's entry points, match finder and parser.
//
// Match finder: hash chains over 4-byte prefixes (a head per hash, and per window position the
// previous position with the same hash), as zlib keeps them. Positions are offsets into the
// sliding input buffer, stored plus a base; the buffer slides by multiples of the window size,
// so a position's chain slot (position mod 32,768) stays the same and sliding only raises the
// base. A chain is walked up to the level's depth, and stops early at a match of the level's
// "nice" length; a link that does not lead to an older position within the window ends the
// walk. Level 1, which looks at two candidates, keeps them as a pair per hash in the same
// tables instead (FindInPair), so that both are read at once; the lazy levels also keep the
// latest position of each 3-byte hash, for short matches close by.
//
// Parsing: levels 1–3 take the longest match found at each position (greedy); levels 4–9
// look one position ahead and prefer a literal followed by a longer match (lazy), with deeper
// chains at the higher levels.
//
// Block boundaries: every 512 tokens the distribution of a few coarse symbol classes in the
// newest stretch is compared with the block's so far; a marked change closes the block before
// the stretch, so each block gets codes fitted to its own data.
#include "codec/dyn_deflate.h"

#include <bit>
#include <cstring>
#include <new>

#include "codec/crc32.h"
#include "codec/dyn_deflate_state.h"

namespace lum::codec {

namespace {

struct DynLevel {
  std::int32_t chain;        // most chain links followed per search
  std::int32_t nice;         // a match this long ends the search
  std::int32_t lazy;         // matches shorter than this are checked against the next position;
                             // 0 = greedy
  std::int32_t good;         // with a match this long in hand, the lazy search walks a quarter
  std::int32_t insertLimit;  // positions inside a longer match are not entered in the chains
  bool lookTwo;              // the lazy search also tries two positions ahead
};

constexpr DynLevel kDynLevels[9] = {
    {2, 16, 0, 0, 8, false},       {4, 24, 0, 0, 16, false},      {8, 32, 0, 0, 258, false},
    {12, 40, 8, 8, 258, false},    {24, 64, 16, 12, 258, false},  {40, 128, 24, 12, 258, false},
    {64, 144, 64, 16, 258, false}, {96, 160, 128, 24, 258, true}, {160, 192, 258, 32, 258, true},
};

constexpr std::int32_t kObservationStretch = 512;
constexpr std::int32_t kPrefetchDistance = 8;
constexpr std::int32_t kMinBlockObservations = 4096;

std::uint32_t Load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

std::uint32_t Hash(const std::uint8_t* p) {
  return (Load32(p) * 0x9E3779B1u) >> (32 - kDynHashBits);
}

// Number of equal bytes at a and b, up to limit.
std::int32_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::int32_t start,
                         std::int32_t limit) {
  std::int32_t n = start;
  while (n + 8 <= limit) {
    const std::uint64_t x = Load64(a + n) ^ Load64(b + n);
    if (x != 0) return n + (std::countr_zero(x) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

std::uint32_t Hash3(const std::uint8_t* p) {
  return ((Load32(p) & 0xFFFFFFu) * 0x9E3779B1u) >> (32 - kDynHash3Bits);
}

// The parser's working copy of the state's hot fields. A store into the tables or the tokens
// could change the state's own fields as far as the compiler knows, so fields read through
// the state would be read again after every store; copies in locals stay in registers. The
// copy is written back (Save) before anything that reads the state and read again (Load)
// after anything that changes it.
struct Cursor {
  std::uint8_t* buffer;
  std::int32_t* head;
  std::int32_t* head3;
  std::int32_t* prev;
  std::uint32_t* tokens;
  DynCounts* counts;
  std::int32_t base;
  std::int32_t avail;
  std::int32_t pos;
  std::int32_t nextInsert;
  std::int32_t blockStart;
  std::int32_t tokenCount;
  std::uint32_t stretchTokens;

  explicit Cursor(DynDeflateState& s)
      : buffer(s.buffer),
        head(s.head),
        head3(s.head3),
        prev(s.prev),
        tokens(s.tokens),
        counts(&s.newCounts),
        base(s.base),
        avail(s.avail),
        pos(s.pos),
        nextInsert(s.nextInsert) {
    Load(s);
  }
  void Save(DynDeflateState& s) const {
    s.pos = pos;
    s.nextInsert = nextInsert;
    s.tokenCount = tokenCount;
    s.newCounts.tokens = stretchTokens;
  }
  void Load(const DynDeflateState& s) {
    blockStart = s.blockStart;
    tokenCount = s.tokenCount;
    stretchTokens = s.newCounts.tokens;
  }
};

// How a level keeps its match candidates.
enum class Finder {
  kChain,      // hash chains: a head per hash, a link per window position
  kPair,       // the two latest positions of each hash: head[h] and prev[h]
  kLazyChain,  // hash chains and the 3-byte table, for the lazy levels
};

// Enters position p into the chains (and, for lazy levels, the 3-byte table).
template <Finder kFinder>
[[gnu::always_inline]] inline void Insert(Cursor& c, std::int32_t p) {
  if constexpr (kFinder == Finder::kLazyChain) {
    c.head3[Hash3(c.buffer + p)] = p + c.base;
  }
  const std::uint32_t h = Hash(c.buffer + p);
  if constexpr (kFinder == Finder::kPair) {
    c.prev[h] = c.head[h];
  } else {
    c.prev[p & (kDynWindow - 1)] = c.head[h];
  }
  c.head[h] = p + c.base;
}

// Enters every position before `upTo` that has 4 known bytes into the chains.
template <Finder kFinder>
[[gnu::always_inline]] inline void InsertUpTo(Cursor& c, std::int32_t upTo) {
  std::int32_t last = c.avail - kDynMinMatch + 1;
  if (last > upTo) last = upTo;
  for (std::int32_t p = c.nextInsert; p < last; ++p) Insert<kFinder>(c, p);
  if (c.nextInsert < upTo) c.nextInsert = upTo;
}

struct Match {
  std::int32_t length;
  std::int32_t distance;
};

// The longest match at `pos` among the two latest positions with its hash (a greedy level of
// chain depth 2 at most), entering pos in their place. Both candidates are read at once
// instead of one through the other's link, and the first is compared before the second, so
// the match is the one a chain walk of the same depth finds.
[[gnu::always_inline]] inline Match FindInPair(Cursor& c, std::int32_t pos, std::int32_t maxLength,
                                               const DynLevel& lv) {
  const std::uint8_t* here = c.buffer + pos;
  const std::int32_t base = c.base;
  const std::uint32_t h = Hash(here);
  const std::int32_t latest = c.head[h];
  const std::int32_t before = c.prev[h];
  if (maxLength > kPrefetchDistance + 4) {
    const std::uint32_t ahead = Hash(here + kPrefetchDistance);
    __builtin_prefetch(&c.head[ahead], 1);
    __builtin_prefetch(&c.prev[ahead], 1);
  }
  c.prev[h] = latest;
  c.head[h] = pos + base;
  c.nextInsert = pos + 1;
  Match m{0, 0};
  const std::int32_t oldest = pos > kDynWindow ? pos - kDynWindow : 0;
  const std::uint32_t first4 = Load32(here);
  std::int32_t best = kDynMinMatch - 1;
  const std::int32_t cand = latest - base;
  if (cand < oldest) return m;
  if (Load32(c.buffer + cand) == first4) {
    best = MatchLength(c.buffer + cand, here, 4, maxLength);
    m = {best, pos - cand};
    if (best >= lv.nice || best >= maxLength) return m;
  }
  const std::int32_t older = before - base;
  if (lv.chain < 2 || older >= cand || older < oldest) return m;
  const std::uint8_t* there = c.buffer + older;
  const std::int32_t tail = best - 3;
  if (((Load32(there + tail) ^ Load32(here + tail)) | (Load32(there) ^ first4)) == 0) {
    const std::int32_t len = MatchLength(there, here, 4, maxLength);
    if (len > best) m = {len, pos - older};
  }
  return m;
}

// The longest match at `pos` longer than `better` (0 when none), entering pos into its chain.
template <Finder kFinder>
[[gnu::always_inline]] inline Match FindMatch(Cursor& c, const DynDeflateState& s, std::int32_t pos,
                                              std::int32_t better, const DynLevel& lv) {
  InsertUpTo<kFinder>(c, pos);
  Match m{0, 0};
  std::int32_t maxLength = c.avail - pos;
  if (maxLength < kDynMinMatch) return m;
  if (maxLength > kDynMaxMatch) maxLength = kDynMaxMatch;
  const std::uint8_t* here = c.buffer + pos;
  const std::int32_t base = c.base;
  if constexpr (kFinder == Finder::kPair) return FindInPair(c, pos, maxLength, lv);
  constexpr bool kLazy = kFinder == Finder::kLazyChain;
  const std::uint32_t h = Hash(here);
  const std::int32_t latest = c.head[h];
  std::int32_t cand = latest - base;
  c.prev[pos & (kDynWindow - 1)] = latest;
  c.head[h] = pos + base;
  c.nextInsert = pos + 1;
  std::int32_t cand3 = -1;
  if constexpr (kLazy) {
    const std::uint32_t h3 = Hash3(here);
    cand3 = c.head3[h3] - base;
    c.head3[h3] = pos + base;
    // The heads are read at scattered places; the head a position a few bytes on will read
    // is fetched now, while this one is searched. (The 3-byte table is small enough to stay
    // in the cache.)
    if (maxLength > kPrefetchDistance + 4) {
      __builtin_prefetch(&c.head[Hash(here + kPrefetchDistance)], 1);
    }
  }

  std::int32_t best = better < kDynMinMatch - 1 ? kDynMinMatch - 1 : better;
  if (best >= maxLength) return m;
  std::int32_t chain = lv.chain;
  if (lv.good != 0 && better >= lv.good) {
    chain >>= 2;
  } else if (better > 0) {
    chain >>= 1;
  }
  // Positions before the buffer (slid out, or of an earlier stream) are out of reach.
  const std::int32_t oldest = pos > kDynWindow ? pos - kDynWindow : 0;
  const std::uint32_t first4 = Load32(here);
  while (cand >= oldest && chain-- > 0) {
    const std::uint8_t* there = c.buffer + cand;
    // A candidate must match the first 4 bytes and, to beat the best, the 4 bytes ending one
    // past its length (for a best of 3, the same 4 bytes): one test for both.
    const std::int32_t tail = best - 3;
    if (((Load32(there + tail) ^ Load32(here + tail)) | (Load32(there) ^ first4)) == 0) {
      const std::int32_t len = MatchLength(there, here, 4, maxLength);
      if (len > best) {
        best = len;
        m = {len, pos - cand};
        if (len >= lv.nice || len >= maxLength) break;
      }
    }
    const std::int32_t older = c.prev[cand & (kDynWindow - 1)] - base;
    if (older >= cand) break;
    cand = older;
  }
  // No match of 4: the latest position with the same first 3 bytes, when near enough.
  if (kLazy && best < kDynMinMatch && better < 3 && cand3 >= 0 && pos - cand3 <= kDynMaxDistance3 &&
      ((Load32(c.buffer + cand3) ^ first4) & 0xFFFFFFu) == 0) {
    const std::int32_t d = pos - cand3;
    const int ds = s.symbols.Distance(d);
    const int matchCost = s.litCost[257] + s.distCost[ds] + s.symbols.distanceExtra[ds];
    const int literalCost = s.litCost[here[0]] + s.litCost[here[1]] + s.litCost[here[2]];
    if (matchCost < literalCost) m = {3, d};
  }
  return m;
}

// The observations of a run of tokens: 16 classes of literals (by their high 4 bits) and 4 of
// matches (short or long, near or far).
void Observe(const DynCounts& c, std::uint32_t* obs) {
  for (int k = 0; k < 16; ++k) {
    std::uint32_t sum = 0;
    for (int b = 0; b < 16; ++b) sum += c.lit[k * 16 + b];
    obs[k] = sum;
  }
  for (int k = 0; k < 4; ++k) obs[16 + k] = c.matchKind[k];
}

// Whether the newest stretch of observations differs enough from the block's to start a new
// block before it: the L1 distance of the two distributions (0 to 2) against a fixed threshold
// of about 0.39. A stretch of 512 tokens drawn from the block's own distribution stays well
// below it; text turning into binary data or into long repeats goes well above.
bool StretchDiffers(const DynDeflateState& s, const std::uint32_t* newObs) {
  std::uint64_t delta = 0;
  const std::uint64_t nb = s.blockCounts.tokens;
  const std::uint64_t nn = s.newCounts.tokens;
  for (int i = 0; i < kDynObservationKinds; ++i) {
    const std::uint64_t a = newObs[i] * nb;
    const std::uint64_t b = s.blockObs[i] * nn;
    delta += a > b ? a - b : b - a;
  }
  // delta / (nb × nn) is the L1 distance, 0 to 2.
  return delta * 1024 > nb * nn * 400;
}

void ResetObservations(DynDeflateState& s) {
  std::memset(&s.blockCounts, 0, sizeof s.blockCounts);
  std::memset(&s.newCounts, 0, sizeof s.newCounts);
  std::memset(s.blockObs, 0, sizeof s.blockObs);
  s.newStartToken = s.tokenCount;
  s.newStartByte = s.pos;
}

// At the end of a stretch of observations: ends the block before the stretch when its
// statistics differ from the block's, otherwise adds the stretch to the block's.
[[gnu::noinline]] void EndStretch(DynDeflateState& s, DynBitOut& out) {
  std::uint32_t newObs[kDynObservationKinds];
  Observe(s.newCounts, newObs);
  if (s.blockCounts.tokens >= kMinBlockObservations && StretchDiffers(s, newObs)) {
    DynWriteBlock(s, out, s.newStartToken, s.newStartByte, s.blockCounts, false);
    s.blockCounts = s.newCounts;
    std::memcpy(s.blockObs, newObs, sizeof s.blockObs);
  } else {
    s.blockCounts.Add(s.newCounts);
    for (int i = 0; i < kDynObservationKinds; ++i) s.blockObs[i] += newObs[i];
  }
  std::memset(&s.newCounts, 0, sizeof s.newCounts);
  s.newStartToken = s.tokenCount;
  s.newStartByte = s.pos;
}

// Writes every token gathered as one block ending at s.pos (the last one when `final`), and
// starts the next block's observations.
void EndBlock(DynDeflateState& s, DynBitOut& out, bool final) {
  s.blockCounts.Add(s.newCounts);
  DynWriteBlock(s, out, s.tokenCount, s.pos, s.blockCounts, final);
  ResetObservations(s);
}

// Records one token covering the bytes up to `next`.
[[gnu::always_inline]] inline void AddToken(Cursor& c, DynDeflateState& s, DynBitOut& out,
                                            std::uint32_t token, std::int32_t next) {
  c.pos = next;
  c.tokens[c.tokenCount++] = token;
  if (++c.stretchTokens == kObservationStretch) {
    c.Save(s);
    EndStretch(s, out);
    c.Load(s);
  }
}

[[gnu::always_inline]] inline void AddLiteral(Cursor& c, DynDeflateState& s, DynBitOut& out,
                                              std::int32_t at) {
  const std::uint8_t b = c.buffer[at];
  ++c.counts->lit[b];
  AddToken(c, s, out, b, at + 1);
}

[[gnu::always_inline]] inline void AddMatch(Cursor& c, DynDeflateState& s, DynBitOut& out,
                                            std::int32_t at, const Match& m) {
  const DynSymbols& sym = s.symbols;
  const int ls = sym.lengthSlot[m.length];
  const int ds = sym.Distance(m.distance);
  const std::uint32_t token = static_cast<std::uint32_t>(257 + ls) |
                              static_cast<std::uint32_t>(m.length - sym.lengthLowest[ls]) << 9 |
                              static_cast<std::uint32_t>(ds) << 14 |
                              static_cast<std::uint32_t>(m.distance - sym.distanceLowest[ds]) << 19;
  DynCounts& n = *c.counts;
  ++n.lit[257 + ls];
  ++n.dist[ds];
  n.extraBits += sym.lengthExtra[ls] + sym.distanceExtra[ds];
  ++n.matchKind[(m.length >= 9 ? 2 : 0) + (m.distance >= 512 ? 1 : 0)];
  AddToken(c, s, out, token, at + m.length);
}

// Parses from s.pos up to `end` (a match may run past it, up to s.avail).
template <Finder kFinder>
void ParseWith(DynDeflateState& s, DynBitOut& out, std::int32_t end, const DynLevel lv) {
  constexpr bool kLazy = kFinder == Finder::kLazyChain;
  Cursor c(s);
  while (c.pos < end) {
    if (c.pos - c.blockStart >= kDynMaxBlockBytes) {
      c.Save(s);
      EndBlock(s, out, false);
      c.Load(s);
    }
    const std::int32_t at = c.pos;
    Match m = FindMatch<kFinder>(c, s, at, 0, lv);
    if (m.length == 0) {
      AddLiteral(c, s, out, at);
      continue;
    }
    std::int32_t start = at;
    while (kLazy && m.length < lv.lazy && start + 1 < end) {
      const Match next = FindMatch<kFinder>(c, s, start + 1, m.length, lv);
      if (next.length > m.length) {
        AddLiteral(c, s, out, start);
        ++start;
        m = next;
        continue;
      }
      if (!lv.lookTwo || start + 2 >= end) break;
      // Two literals pay for themselves only against a match at least two bytes longer.
      const Match further = FindMatch<kFinder>(c, s, start + 2, m.length + 1, lv);
      if (further.length <= m.length + 1) break;
      AddLiteral(c, s, out, start);
      AddLiteral(c, s, out, start + 1);
      start += 2;
      m = further;
    }
    AddMatch(c, s, out, start, m);
    if (m.length > lv.insertLimit) c.nextInsert = c.pos;
  }
  c.Save(s);
}

void Parse(DynDeflateState& s, DynBitOut& out, std::int32_t end, const DynLevel& lv) {
  if (lv.lazy != 0) {
    ParseWith<Finder::kLazyChain>(s, out, end, lv);
  } else if (lv.chain <= 2) {
    ParseWith<Finder::kPair>(s, out, end, lv);
  } else {
    ParseWith<Finder::kChain>(s, out, end, lv);
  }
}

// Lowers every table entry by base − 2 × window and base with them, so that positions keep
// their distances to each other; entries that would fall below 0 were out of reach and
// become 0, still out of reach. Needed once per gigabyte of input or of new streams.
void Rebase(DynDeflateState& s) {
  const std::int32_t drop = s.base - 2 * kDynWindow;
  for (std::int32_t& h : s.head) h = h > drop ? h - drop : 0;
  for (std::int32_t& h : s.head3) h = h > drop ? h - drop : 0;
  for (std::int32_t& p : s.prev) p = p > drop ? p - drop : 0;
  s.base -= drop;
}

// Makes room in the buffer for more input: slides it down by a multiple of the window size,
// keeping the block being gathered and 32,768 bytes of history before the parse position.
void Slide(DynDeflateState& s) {
  std::int32_t keep = s.pos - kDynWindow;
  if (keep > s.blockStart) keep = s.blockStart;
  keep &= ~(kDynWindow - 1);
  if (keep <= 0) return;
  std::memmove(s.buffer, s.buffer + keep, static_cast<std::size_t>(s.avail - keep));
  s.avail -= keep;
  s.pos -= keep;
  s.nextInsert -= keep;
  s.blockStart -= keep;
  s.newStartByte -= keep;
  s.base += keep;
  if (s.base > kDynRebaseLimit) Rebase(s);
}

void BuildSymbols(const CodecEntryTable& table, DynSymbols& sym) {
  for (int i = 0; i < kLengthCodeCount; ++i) {
    const CodecCodeRecord& r = table.pLengthCodes[i];
    sym.lengthExtra[i] = static_cast<std::uint8_t>(r.extraBits);
    sym.lengthLowest[i] = static_cast<std::uint16_t>(r.lowest);
    for (std::int32_t v = r.lowest; v <= r.highest && v <= kDynMaxMatch; ++v) {
      sym.lengthSlot[v] = static_cast<std::uint8_t>(i);
    }
  }
  // Length 258 belongs to the last code alone (RFC 1951): the records' ranges say so.
  for (int i = 0; i < kDistanceCodeCount; ++i) {
    const CodecCodeRecord& r = table.pDistanceCodes[i];
    sym.distanceExtra[i] = static_cast<std::uint8_t>(r.extraBits);
    sym.distanceLowest[i] = static_cast<std::uint16_t>(r.lowest);
    // Above 256 every code covers whole spans of 128 distances, one slot per span.
    for (std::int32_t d = r.lowest; d <= r.highest; d += d <= 256 ? 1 : 128) {
      if (d <= 256) {
        sym.distanceSlot[d - 1] = static_cast<std::uint8_t>(i);
      } else {
        sym.distanceSlot[256 + ((d - 1) >> 7)] = static_cast<std::uint8_t>(i);
      }
    }
  }
}

// Prices the literals of a stream's first block from the bytes it starts with, so that a
// 3-byte match is taken only where it is cheaper than the literals it replaces under codes
// like the ones that block will get (text made of few letters codes them in 4 to 5 bits,
// binary data in 8). A byte that does not occur is priced as rare.
void PriceLiteralsFrom(DynDeflateState& s, const std::uint8_t* data, std::int32_t size) {
  if (size < 64) return;
  // About a thousand bytes spread over the first 64 KiB are enough for 1-bit steps.
  const std::int32_t span = size < 65536 ? size : 65536;
  const std::int32_t step = span / 1024 + 1;
  std::uint32_t count[256] = {};
  std::uint32_t samples = 0;
  for (std::int32_t i = 0; i < span; i += step, ++samples) ++count[data[i]];
  const int total = std::bit_width(samples);
  for (int b = 0; b < 256; ++b) {
    int cost = count[b] == 0 ? 12 : total - std::bit_width(count[b]) + 1;
    if (cost > 12) cost = 12;
    s.litCost[b] = static_cast<std::uint8_t>(cost);
  }
}

// Everything of a new stream except the match-finder tables.
void StartStream(DynDeflateState& s) {
  s.avail = 0;
  s.pos = 0;
  s.nextInsert = 0;
  s.blockStart = 0;
  s.tokenCount = 0;
  s.bits = 0;
  s.bitCount = 0;
  ResetObservations(s);
  // Before the first block: literals at 6 bits (typical of text, which is where 3-byte
  // matches are found), lengths at 7 and distances at 5 as in the fixed code.
  std::memset(s.litCost, 6, 256);
  std::memset(s.litCost + 256, 7, sizeof s.litCost - 256);
  std::memset(s.distCost, 5, sizeof s.distCost);
}

// Every table entry 0: with base at two windows, 0 is out of reach of every position.
void ClearTables(DynDeflateState& s) {
  std::memset(s.head, 0, sizeof s.head);
  std::memset(s.head3, 0, sizeof s.head3);
  std::memset(s.prev, 0, sizeof s.prev);
  s.base = 2 * kDynWindow;
}

}  // namespace

CodecWord DynDeflateCreate(CodecWord tableWord, CodecWord, CodecWord, CodecWord) {
  const auto* table = reinterpret_cast<const CodecEntryTable*>(tableWord);
  if (table == nullptr) return 0;
  void* state = table->pfnAlloc(sizeof(DynDeflateState));
  void* buffer = state ? table->pfnAlloc(kDynBufferSize + kDynBufferSlack) : nullptr;
  void* tokens = buffer ? table->pfnAlloc(sizeof(std::uint32_t) * kDynTokenCapacity) : nullptr;
  if (tokens == nullptr) {
    table->pfnFree(buffer);
    table->pfnFree(state);
    return 0;
  }
  auto* s = new (state) DynDeflateState;
  s->table = table;
  s->buffer = static_cast<std::uint8_t*>(buffer);
  s->tokens = static_cast<std::uint32_t*>(tokens);
  // Nothing reads past the data held; the slack after the buffer is cleared all the same.
  std::memset(s->buffer + kDynBufferSize, 0, kDynBufferSlack);
  BuildSymbols(*table, s->symbols);
  ClearTables(*s);
  StartStream(*s);
  return Word(s);
}

CodecWord DynDeflateReset(CodecWord handle, CodecWord, CodecWord, CodecWord) {
  auto* s = reinterpret_cast<DynDeflateState*>(handle);
  if (s == nullptr) return 0;
  // Every entry of the tables lies before base + avail. Raising base by avail rounded up to
  // the window, plus one window, puts all of them more than a window behind position 0.
  const std::int32_t step = ((s->avail + kDynWindow - 1) & ~(kDynWindow - 1)) + kDynWindow;
  if (s->base > kDynRebaseLimit - step) {
    ClearTables(*s);
  } else {
    s->base += step;
  }
  StartStream(*s);
  return 1;
}

CodecWord DynDeflateDestroy(CodecWord handle, CodecWord, CodecWord, CodecWord) {
  auto* s = reinterpret_cast<DynDeflateState*>(handle);
  if (s == nullptr) return 0;
  const CodecFreeFn release = s->table->pfnFree;
  release(s->tokens);
  release(s->buffer);
  release(s);
  return 0;
}

CodecWord DynDeflate(CodecWord handle, CodecWord blockWord, CodecWord crcWord, CodecWord level) {
  auto* s = reinterpret_cast<DynDeflateState*>(handle);
  auto* block = reinterpret_cast<CodecBlock*>(blockWord);
  if (s == nullptr || block == nullptr) return 0;
  block->pOutput = nullptr;
  block->lOutputSize = 0;
  std::int32_t remaining = block->lInputSize;
  if (remaining < 0 || (remaining > 0 && block->pInput == nullptr)) return 0;

  const CodecEntryTable& table = *s->table;
  DynBitOut out;
  out.buffer = static_cast<std::uint8_t*>(table.pfnAlloc(kDynFirstBuffer));
  if (out.buffer == nullptr) return 0;
  out.capacity = kDynFirstBuffer;
  out.realloc = table.pfnRealloc;
  out.bits = s->bits;
  out.count = s->bitCount;

  const std::uint8_t* in = block->pInput;
  if (crcWord != 0 && remaining > 0) {
    Crc32UpdateFast(table.pCrc32Table, in, static_cast<std::size_t>(remaining),
                    *reinterpret_cast<std::uint32_t*>(crcWord));
  }
  const DynLevel& lv = kDynLevels[level < 1 ? 0 : level > 9 ? 8 : level - 1];
  const bool final = block->bFinal != 0;
  if (lv.lazy != 0 && s->pos == 0 && s->avail == 0) PriceLiteralsFrom(*s, in, remaining);
  for (;;) {
    if (remaining > 0 && s->avail == kDynBufferSize) Slide(*s);
    std::int32_t take = kDynBufferSize - s->avail;
    if (take > remaining) take = remaining;
    // An empty chunk may come without an address.
    if (take > 0) std::memcpy(s->buffer + s->avail, in, static_cast<std::size_t>(take));
    s->avail += take;
    if (take > 0) in += take;
    remaining -= take;
    const bool last = final && remaining == 0;
    Parse(*s, out, last ? s->avail : s->avail - kDynLookahead, lv);
    if (remaining == 0) break;
  }
  if (final) {
    EndBlock(*s, out, true);
    if (out.Reserve(8)) out.Align();
  } else if (out.Reserve(8)) {
    out.FlushBytes();
  }
  if (out.failed) {
    table.pfnFree(out.buffer);
    return 0;
  }
  s->bits = out.bits;
  s->bitCount = out.count;
  block->pOutput = out.buffer;
  block->lOutputSize = static_cast<std::int32_t>(out.length);
  return 1;
}

}  // namespace lum::codec
