// The decoder's lookup tables against a straightforward model: a root of 9 bits and
// sub-tables of up to 7, each entry a bit count, a symbol and a sub-table, decoded level by
// level. The real tables use a wider root for literal/length sets that are not
// over-subscribed; every code set and every partial bit pattern must still decode to the
// same symbol, the same bit count, "more bits needed" or "no such code" as in the model.
#include "codec/inflate_huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "tests/support/test_support.h"

namespace lum::codec::inflate {
namespace {

class ModelTable {
 public:
  explicit ModelTable(const std::vector<int>& lengths) : m_lengths(lengths) {
    int count[16] = {}, longest = 0;
    for (int len : lengths) {
      if (len > 0) ++count[len];
      longest = std::max(longest, len);
    }
    std::uint32_t next[17] = {};
    for (int len = 2; len <= 15; ++len) next[len] = (next[len - 1] + count[len - 1]) << 1;
    for (int len : lengths) {
      std::uint32_t code = len > 0 ? next[len]++ : 0, reversed = 0;
      for (int b = 0; b < len; ++b) reversed |= ((code >> b) & 1u) << (len - 1 - b);
      m_reversed.push_back(reversed);
    }
    Build(0, 0, std::min(longest, 9));
  }

  DecodeResult Decode(std::uint32_t bits, int available, int& symbol, int& used) const {
    int level = 0;
    used = 0;
    for (;;) {
      const Level& l = m_levels[static_cast<std::size_t>(level)];
      const Entry& e = l.entries[(bits >> used) & ((1u << l.width) - 1u)];
      if (e.bits > available - used) return DecodeResult::kNeedMore;
      used += e.bits;
      if (e.symbol >= 0) {
        symbol = e.symbol;
        return DecodeResult::kSymbol;
      }
      if (e.sub < 0) return DecodeResult::kNoCode;
      level = e.sub;
    }
  }

 private:
  struct Entry {
    int bits = 0, symbol = -1, sub = -1;
  };
  struct Level {
    int width;
    std::vector<Entry> entries;
  };

  int Build(std::uint32_t prefix, int used, int width) {
    const int index = static_cast<int>(m_levels.size());
    m_levels.push_back({width, std::vector<Entry>(std::size_t{1} << width)});
    std::vector<Entry> entries(std::size_t{1} << width);
    for (std::size_t i = 0; i < m_lengths.size(); ++i) {
      const int len = m_lengths[i];
      if (len <= used || (m_reversed[i] & ((1u << used) - 1u)) != prefix) continue;
      for (std::uint32_t j = (m_reversed[i] >> used) & ((1u << width) - 1u); j < entries.size();
           j += 1u << (len - used)) {
        entries[j].symbol = static_cast<int>(i);
        entries[j].bits = std::max(entries[j].bits, len - used);
      }
    }
    for (std::uint32_t j = 0; j < entries.size(); ++j) {
      if (entries[j].bits <= width) continue;
      const int subWidth = std::min(entries[j].bits - width, 7);
      entries[j].symbol = -1;
      entries[j].bits = width;
      entries[j].sub = Build(prefix | (j << used), used + width, subWidth);
    }
    m_levels[static_cast<std::size_t>(index)].entries = entries;
    return index;
  }

  std::vector<int> m_lengths;
  std::vector<std::uint32_t> m_reversed;
  std::vector<Level> m_levels;
};

// The literal/length symbol an entry stands for.
int SymbolOf(const CodecEntryTable& table, std::uint32_t e) {
  if (e & (kEntryLiteral | kEntryExceptional)) return static_cast<int>(EntryValue(e));
  for (int i = 0; i < kLengthCodeCount; ++i) {
    if (table.pLengthCodes[i].lowest == static_cast<std::int32_t>(EntryValue(e)) &&
        table.pLengthCodes[i].extraBits == static_cast<std::int32_t>(EntryExtraBits(e))) {
      return 257 + i;
    }
  }
  return -2;
}

// A random code over `n` symbols: a complete tree grown by splitting leaves up to 15 bits,
// then leaves dropped (incomplete sets) or extra codes added (over-subscribed sets).
std::vector<int> RandomLengths(test::Rng& rng, int n, int shape) {
  std::vector<int> leaves = {0};
  const int target = static_cast<int>(rng.Range(1, static_cast<std::uint32_t>(n)));
  while (static_cast<int>(leaves.size()) < target) {
    // Splitting the deepest leaves more often gives long codes and sub-tables.
    std::size_t k = rng.Next() % leaves.size();
    if (rng.Next() % 2)
      k = static_cast<std::size_t>(std::max_element(leaves.begin(), leaves.end()) - leaves.begin());
    if (leaves[k] >= 15)
      k = static_cast<std::size_t>(std::min_element(leaves.begin(), leaves.end()) - leaves.begin());
    if (leaves[k] >= 15) break;
    ++leaves[k];
    leaves.push_back(leaves[k]);
  }
  if (leaves.size() == 1) leaves[0] = 1;  // one code of one bit: incomplete
  if (shape == 1) {
    for (std::size_t drop = rng.Range(1, 4); drop > 0 && leaves.size() > 1; --drop) {
      leaves.erase(leaves.begin() + static_cast<std::ptrdiff_t>(rng.Next() % leaves.size()));
    }
  } else if (shape == 2) {
    for (std::size_t add = rng.Range(1, 4); add > 0; --add) {
      leaves.push_back(static_cast<int>(rng.Range(1, 15)));
    }
  }
  std::vector<int> lengths(static_cast<std::size_t>(n), 0);
  std::vector<int> symbols(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) symbols[static_cast<std::size_t>(i)] = i;
  for (std::size_t i = 0; i < leaves.size() && i < symbols.size(); ++i) {
    std::swap(symbols[i], symbols[i + rng.Next() % (symbols.size() - i)]);
    lengths[static_cast<std::size_t>(symbols[i])] = leaves[i];
  }
  return lengths;
}

TEST(InflateTables, EveryShapeOfCodeSetDecodesLikeTheNineBitModel) {
  test::CodecFixture f;
  test::Rng rng(2024);
  int wideTables = 0, subTables = 0;
  for (int round = 0; round < 600; ++round) {
    const int shape = round % 3;  // complete, incomplete, over-subscribed
    const int n = static_cast<int>(rng.Range(257, 288));
    const std::vector<int> lengths = RandomLengths(rng, n, shape);
    std::vector<std::uint8_t> bytes(lengths.begin(), lengths.end());
    HuffTable* t = BuildHuffTable(f.table, bytes.data(), n, HuffKind::kLiteralLength);
    ASSERT_NE(t, nullptr);
    ModelTable model(lengths);
    wideTables += t->width > 9;
    subTables += *std::max_element(lengths.begin(), lengths.end()) > static_cast<int>(t->width);
    for (int probe = 0; probe < 400; ++probe) {
      const std::uint32_t pattern = rng.Next() & 0xFFFFu;
      for (int available = 0; available <= 16; ++available) {
        const std::uint32_t bits = pattern & ((1u << available) - 1u);
        int wantSymbol = -1, wantUsed = 0, used = 0;
        std::uint32_t entry = 0;
        const DecodeResult want = model.Decode(bits, available, wantSymbol, wantUsed);
        const DecodeResult got = DecodeSymbol(*t, bits, available, entry, used);
        ASSERT_EQ(static_cast<int>(got), static_cast<int>(want))
            << "round " << round << " pattern " << pattern << " available " << available;
        if (got == DecodeResult::kSymbol) {
          ASSERT_EQ(SymbolOf(f.table, entry), wantSymbol) << "round " << round;
          ASSERT_EQ(used, wantUsed) << "round " << round;
        }
      }
    }
    FreeHuffTable(f.table, t);
  }
  // The rounds covered both root widths and long codes in sub-tables.
  EXPECT_GT(wideTables, 100);
  EXPECT_GT(subTables, 100);
}

}  // namespace
}  // namespace lum::codec::inflate
