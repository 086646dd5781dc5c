// Code lengths: an ordinary Huffman tree built with two queues over the used symbols sorted
// by frequency (leaves in one queue, merged nodes in the other, both ascending), so the tree
// costs O(n log n) for the sort and O(n) after it. When the tree is deeper than the limit,
// the lengths are repaired on the histogram of lengths: every code over the limit is cut to
// it, codes one step above the limit are lengthened until the Kraft sum fits again, and
// any slack left is given back by shortening the longest codes. The lengths are then handed
// out again in frequency order, longest to the rarest symbols.
#include "codec/dyn_huffman.h"

#include <algorithm>
#include <array>

namespace lum::codec {

namespace {

// Every byte with its bits in reverse order.
constexpr std::array<std::uint8_t, 256> kReversedBytes = [] {
  std::array<std::uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v) {
    int r = 0;
    for (int b = 0; b < 8; ++b) r |= ((v >> b) & 1) << (7 - b);
    t[static_cast<std::size_t>(v)] = static_cast<std::uint8_t>(r);
  }
  return t;
}();

}  // namespace

void BuildCodeLengths(const std::uint32_t* freq, int count, int limit, std::uint8_t* lengths) {
  // Symbols in use, ordered by frequency and, among equal frequencies, by symbol: sorted as
  // one key each, which needs no merge buffer as a stable sort would.
  std::uint64_t keys[kDynMaxSymbols];
  int n = 0;
  for (int s = 0; s < count; ++s) {
    lengths[s] = 0;
    if (freq[s] != 0) keys[n++] = std::uint64_t{freq[s]} << 9 | static_cast<std::uint64_t>(s);
  }
  if (n < 2) {
    const int first = n == 1 ? static_cast<int>(keys[0] & 0x1FF) : 0;
    lengths[first] = 1;
    lengths[first == 0 ? 1 : 0] = 1;
    return;
  }
  std::sort(keys, keys + n);
  int used[kDynMaxSymbols];
  for (int i = 0; i < n; ++i) used[i] = static_cast<int>(keys[i] & 0x1FF);

  // Nodes 0..n-1 are the leaves in ascending frequency, n..2n-2 the merged nodes in the
  // order they are made (which is ascending too).
  std::uint64_t weight[2 * kDynMaxSymbols];
  int parent[2 * kDynMaxSymbols];
  for (int i = 0; i < n; ++i) weight[i] = freq[used[i]];
  int leaf = 0;
  int inner = n;
  int next = n;
  auto take = [&]() {
    if (leaf < n && (inner >= next || weight[leaf] <= weight[inner])) return leaf++;
    return inner++;
  };
  while (next < 2 * n - 1) {
    const int a = take();
    const int b = take();
    weight[next] = weight[a] + weight[b];
    parent[a] = next;
    parent[b] = next;
    ++next;
  }
  int depth[2 * kDynMaxSymbols];
  depth[2 * n - 2] = 0;
  int histogram[kDynMaxSymbols + 1] = {};
  for (int i = 2 * n - 3; i >= 0; --i) {
    depth[i] = depth[parent[i]] + 1;
    if (i < n) ++histogram[std::min(depth[i], limit)];
  }

  // Kraft sum in units of 2^-limit; a complete code sums to exactly 2^limit.
  const std::uint32_t full = 1u << limit;
  std::uint32_t kraft = 0;
  for (int len = 1; len <= limit; ++len)
    kraft += static_cast<std::uint32_t>(histogram[len]) * (full >> len);
  while (kraft > full) {
    int len = limit - 1;
    while (histogram[len] == 0) --len;
    --histogram[len];
    ++histogram[len + 1];
    kraft -= full >> (len + 1);
  }
  while (kraft < full) {
    int len = limit;
    while (histogram[len] == 0 || (full >> len) > full - kraft) --len;
    --histogram[len];
    ++histogram[len - 1];
    kraft += full >> len;
  }

  // Rarest symbols first get the longest codes.
  int i = 0;
  for (int len = limit; len >= 1; --len) {
    for (int k = 0; k < histogram[len]; ++k) lengths[used[i++]] = static_cast<std::uint8_t>(len);
  }
}

void BuildCanonicalCodes(const std::uint8_t* lengths, int count, std::uint16_t* codes) {
  int histogram[16] = {};
  for (int s = 0; s < count; ++s) ++histogram[lengths[s]];
  histogram[0] = 0;
  std::uint32_t next[16] = {};
  std::uint32_t code = 0;
  for (int len = 1; len < 16; ++len) {
    code = (code + static_cast<std::uint32_t>(histogram[len - 1])) << 1;
    next[len] = code;
  }
  for (int s = 0; s < count; ++s) {
    const int len = lengths[s];
    codes[s] = 0;
    if (len == 0) continue;
    const std::uint32_t c = next[len]++;
    const std::uint32_t reversed =
        static_cast<std::uint32_t>(kReversedBytes[c & 0xFF]) << 8 | kReversedBytes[c >> 8 & 0xFF];
    codes[s] = static_cast<std::uint16_t>(reversed >> (16 - len));
  }
}

}  // namespace lum::codec
