// Lookup tables for the decoder's Huffman codes: canonical codes (RFC 1951 section 3.2.2),
// bit-reversed so that they match the low end of the bit buffer, indexed by a root level
// of up to 9 bits (11 for literal/length sets that are not over-subscribed) and sub-tables
// of up to 7 bits for the longer codes.
//
// The root is built first in a scratch array; that tells how many sub-tables the longer
// codes need, so the whole table then takes a single allocation.
#include "codec/inflate_huffman.h"

#include <algorithm>
#include <cstring>

namespace lum::codec::inflate {
namespace {

constexpr int kMaxSymbols = 288;

// The low `bits` bits of `code` (bits ≤ 16) in reverse order.
std::uint32_t ReverseBits(std::uint32_t code, int bits) {
  code = ((code & 0x5555u) << 1) | ((code >> 1) & 0x5555u);
  code = ((code & 0x3333u) << 2) | ((code >> 2) & 0x3333u);
  code = ((code & 0x0F0Fu) << 4) | ((code >> 4) & 0x0F0Fu);
  code = ((code & 0x00FFu) << 8) | ((code >> 8) & 0x00FFu);
  return code >> (16 - bits);
}

// One level under construction: the largest bit count and the last symbol of each entry.
struct Level {
  std::uint8_t bits[1 << kRootBits];
  std::int16_t symbol[1 << kRootBits];

  void Clear(int size) {
    std::memset(bits, 0, static_cast<std::size_t>(size));
    std::fill(symbol, symbol + size, std::int16_t{-1});
  }
  // Places symbol `s`, whose code has `extra` bits beyond this level's prefix, at every
  // entry its code covers.
  void Place(int size, std::uint32_t start, int extra, int s) {
    std::uint32_t step = extra >= 31 ? 0xFFFFFFFFu : (1u << extra);
    for (std::uint32_t j = start; j < static_cast<std::uint32_t>(size); j += step) {
      symbol[j] = static_cast<std::int16_t>(s);
      bits[j] = std::max(bits[j], static_cast<std::uint8_t>(extra));
      if (step >= static_cast<std::uint32_t>(size)) break;
    }
  }
  // The finished entry, from the fields every code of symbol s shares (`payload[s]`) and
  // the code's bits at this level, which count both as code bits and as consumed bits.
  std::uint32_t Entry(int j, const std::uint32_t* payload) const {
    if (symbol[j] < 0) return kEntryEmpty | kEntryExceptional;
    return payload[symbol[j]] + bits[j] + (static_cast<std::uint32_t>(bits[j]) << 8);
  }
};

// Everything of symbol s's entries but the code's bit count: flags, value and extra bits.
std::uint32_t Payload(const CodecEntryTable& table, HuffKind kind, int s) {
  const std::uint32_t symbol = static_cast<std::uint32_t>(s) << kEntryValueShift;
  switch (kind) {
    case HuffKind::kCodeLengths:
      return symbol;
    case HuffKind::kLiteralLength: {
      if (s < 256) return symbol | kEntryLiteral;
      if (s == 256 || s >= 257 + kLengthCodeCount) return symbol | kEntryExceptional;
      const CodecCodeRecord& rec = table.pLengthCodes[s - 257];
      return static_cast<std::uint32_t>(rec.extraBits) |
             (static_cast<std::uint32_t>(rec.lowest) << kEntryValueShift);
    }
    case HuffKind::kDistance: {
      if (s >= kDistanceCodeCount) return symbol | kEntryExceptional;
      const CodecCodeRecord& rec = table.pDistanceCodes[s];
      return static_cast<std::uint32_t>(rec.extraBits) |
             (static_cast<std::uint32_t>(rec.lowest) << kEntryValueShift);
    }
  }
  return symbol;
}

// Allocates a table of `total` entries with a root of `width` bits; 0 when that fails.
HuffTable* AllocateTable(const CodecEntryTable& table, int width, int total) {
  const std::size_t bytes = sizeof(HuffTable) + static_cast<std::size_t>(total) * 4u;
  auto* t = static_cast<HuffTable*>(table.pfnAlloc(bytes));
  if (t == nullptr) return nullptr;
  t->mask = (1u << width) - 1u;
  t->width = static_cast<std::uint32_t>(width);
  t->entries = reinterpret_cast<std::uint32_t*>(t + 1);
  return t;
}

std::uint32_t PointerEntry(int width, int subWidth, int offset) {
  return static_cast<std::uint32_t>(width) | kEntrySubTable | kEntryExceptional |
         (static_cast<std::uint32_t>(subWidth) << 8) |
         (static_cast<std::uint32_t>(offset) << kEntryValueShift);
}

// A set whose codes do not overlap (complete or incomplete): every entry is covered by at
// most one code, so each code's entries are written directly, and only an incomplete set
// needs its unused patterns marked first.
HuffTable* BuildPrefixFree(const CodecEntryTable& table, const std::uint8_t* lengths, int n,
                           HuffKind kind, const std::uint32_t* reversed, int longest, int width,
                           bool complete) {
  const int rootSize = 1 << width;
  // Per root entry covering longer codes: the longest of them, and its sub-table's offset.
  std::uint8_t slotLongest[1 << kWideRootBits];
  std::uint16_t subOffset[1 << kWideRootBits];
  int total = rootSize;
  if (longest > width) {
    std::memset(slotLongest, 0, static_cast<std::size_t>(rootSize));
    for (int i = 0; i < n; ++i) {
      if (lengths[i] <= width) continue;
      std::uint8_t& slot = slotLongest[reversed[i] & (rootSize - 1u)];
      slot = std::max(slot, lengths[i]);
    }
    for (int j = 0; j < rootSize; ++j) {
      if (slotLongest[j] > width) {
        subOffset[j] = static_cast<std::uint16_t>(total);
        total += 1 << (slotLongest[j] - width);  // at most 6 bits: one sub-table level
      }
    }
  }
  HuffTable* t = AllocateTable(table, width, total);
  if (t == nullptr) return nullptr;
  std::uint32_t* const entries = t->entries;
  if (!complete) std::fill(entries, entries + total, kEntryEmpty | kEntryExceptional);
  if (longest > width) {
    for (int j = 0; j < rootSize; ++j) {
      if (slotLongest[j] > width) {
        entries[j] = PointerEntry(width, slotLongest[j] - width, subOffset[j]);
      }
    }
  }
  for (int i = 0; i < n; ++i) {
    const std::uint32_t len = lengths[i];
    if (len == 0) continue;
    if (len <= static_cast<std::uint32_t>(width)) {
      const std::uint32_t e = Payload(table, kind, i) + len + (len << 8);
      for (std::uint32_t j = reversed[i]; j < static_cast<std::uint32_t>(rootSize);
           j += 1u << len) {
        entries[j] = e;
      }
    } else {
      const std::uint32_t slot = reversed[i] & (rootSize - 1u);
      const std::uint32_t subLen = len - static_cast<std::uint32_t>(width);
      const std::uint32_t e = Payload(table, kind, i) + subLen + (subLen << 8);
      std::uint32_t* const sub = entries + subOffset[slot];
      const std::uint32_t subSize = 1u << (slotLongest[slot] - width);
      for (std::uint32_t k = reversed[i] >> width; k < subSize; k += 1u << subLen) sub[k] = e;
    }
  }
  return t;
}

// A set whose codes overlap (over-subscribed): built level by level as the format's early
// decoders did, later symbols overwriting earlier ones and every entry keeping the largest
// bit count placed on it, with a root of 9 bits.
HuffTable* BuildOverlapping(const CodecEntryTable& table, const std::uint8_t* lengths, int n,
                            HuffKind kind, const std::uint32_t* reversed, int longest, int width) {
  const int rootSize = 1 << width;
  // The codes longer than the root, chained in ascending symbol order per root entry:
  // firstLong[j] and nextLong[s], −1 ending a chain.
  std::int16_t firstLong[1 << kRootBits];
  std::int16_t lastLong[1 << kRootBits];
  std::int16_t nextLong[kMaxSymbols];
  if (longest > width) std::fill(firstLong, firstLong + rootSize, std::int16_t{-1});
  for (int i = 0; i < n; ++i) {
    if (lengths[i] <= width) continue;
    const std::uint32_t j = reversed[i] & (rootSize - 1u);
    nextLong[i] = -1;
    if (firstLong[j] < 0) {
      firstLong[j] = static_cast<std::int16_t>(i);
    } else {
      nextLong[lastLong[j]] = static_cast<std::int16_t>(i);
    }
    lastLong[j] = static_cast<std::int16_t>(i);
  }

  Level root;
  root.Clear(rootSize);
  for (int i = 0; i < n; ++i) {
    if (lengths[i] > 0) root.Place(rootSize, reversed[i] & (rootSize - 1u), lengths[i], i);
  }

  int total = rootSize;
  for (int j = 0; j < rootSize; ++j) {
    if (root.bits[j] > width) total += 1 << std::min(root.bits[j] - width, kSubBits);
  }
  HuffTable* t = AllocateTable(table, width, total);
  if (t == nullptr) return nullptr;

  std::uint32_t payload[kMaxSymbols];
  for (int i = 0; i < n; ++i) payload[i] = Payload(table, kind, i);

  int offset = rootSize;
  Level sub;
  for (int j = 0; j < rootSize; ++j) {
    if (root.bits[j] <= width) {
      t->entries[j] = root.Entry(j, payload);
      continue;
    }
    const int subWidth = std::min(root.bits[j] - width, kSubBits);
    const int subSize = 1 << subWidth;
    sub.Clear(subSize);
    for (int s = firstLong[j]; s >= 0; s = nextLong[s]) {
      sub.Place(subSize, (reversed[s] >> width) & (subSize - 1u), lengths[s] - width, s);
    }
    for (int k = 0; k < subSize; ++k) t->entries[offset + k] = sub.Entry(k, payload);
    t->entries[j] = PointerEntry(width, subWidth, offset);
    offset += subSize;
  }
  return t;
}

}  // namespace

HuffTable* BuildHuffTable(const CodecEntryTable& table, const std::uint8_t* lengths, int n,
                          HuffKind kind) {
  n = std::min(n, kMaxSymbols);
  int count[kMaxCodeBits + 1] = {};
  int longest = 0;
  std::uint32_t kraft = 0;  // code space used, in units of a 15-bit code
  for (int i = 0; i < n; ++i) {
    if (lengths[i] > 0) {
      ++count[lengths[i]];
      longest = std::max(longest, static_cast<int>(lengths[i]));
      kraft += 1u << (kMaxCodeBits - lengths[i]);
    }
  }
  const bool overSubscribed = kraft > (1u << kMaxCodeBits);
  const int rootBits =
      kind == HuffKind::kLiteralLength && !overSubscribed ? kWideRootBits : kRootBits;
  std::uint32_t next[kMaxCodeBits + 2] = {};
  for (int len = 2; len <= kMaxCodeBits; ++len) next[len] = (next[len - 1] + count[len - 1]) << 1;

  std::uint32_t reversed[kMaxSymbols] = {};
  for (int i = 0; i < n; ++i) {
    const int len = lengths[i];
    // An over-subscribed set runs past 2^len codes; only the code's own bits count.
    if (len > 0) reversed[i] = ReverseBits(next[len]++ & ((1u << len) - 1u), len);
  }
  const int width = std::min(longest, rootBits);
  if (overSubscribed) return BuildOverlapping(table, lengths, n, kind, reversed, longest, width);
  return BuildPrefixFree(table, lengths, n, kind, reversed, longest, width,
                         kraft == (1u << kMaxCodeBits));
}

void FreeHuffTable(const CodecEntryTable& table, HuffTable* t) {
  if (t != nullptr) table.pfnFree(t);
}

DecodeResult DecodeSymbol(const HuffTable& t, std::uint64_t bits, int available,
                          std::uint32_t& entry, int& used) {
  std::uint32_t e = t.entries[bits & t.mask];
  int base = 0;
  if (e & kEntrySubTable) {
    base = static_cast<int>(t.width);
    if (base > available) return DecodeResult::kNeedMore;
    const std::uint32_t* subTable = t.entries + EntryValue(e);
    e = subTable[(bits >> base) & ((1u << EntrySubWidth(e)) - 1u)];
  }
  const int left = available - base;
  // An unused pattern fails even when some of its bits are the zeros above the input: the
  // canonical order hands out codes from the smallest pattern up, so if the zero completion
  // has no code, no completion has.
  if (e & kEntryEmpty) return DecodeResult::kNoCode;
  if (static_cast<int>(EntryCodeBits(e)) > left) return DecodeResult::kNeedMore;
  entry = e;
  used = base + static_cast<int>(EntryCodeBits(e));
  return DecodeResult::kSymbol;
}

}  // namespace lum::codec::inflate
