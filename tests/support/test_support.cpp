#include "tests/support/test_support.h"

namespace lum::test {

std::vector<DataKind> AllDataKinds() {
  return {DataKind::kText, DataKind::kBinary, DataKind::kRuns, DataKind::kRandom,
          DataKind::kLongRepeats};
}

const char* DataKindName(DataKind kind) {
  switch (kind) {
    case DataKind::kText:
      return "text";
    case DataKind::kBinary:
      return "binary";
    case DataKind::kRuns:
      return "runs";
    case DataKind::kRandom:
      return "random";
    case DataKind::kLongRepeats:
      return "long_repeats";
  }
  return "?";
}

std::vector<std::uint8_t> MakeData(DataKind kind, std::size_t size, std::uint64_t seed) {
  Rng rng(seed);
  std::vector<std::uint8_t> out;
  out.reserve(size);
  static const char* const kWords[] = {"the ",    "archive ", "entry ",   "of ",       "and ",
                                       "update ", "window ",  "a ",       "folder ",   "settings ",
                                       "is ",     "to ",      "Lumetra ", "progress ", "with ",
                                       "file.\n", "data, "};
  switch (kind) {
    case DataKind::kText:
      while (out.size() < size) {
        const char* w = kWords[rng.Next() % (sizeof(kWords) / sizeof(kWords[0]))];
        for (; *w && out.size() < size; ++w) out.push_back(static_cast<std::uint8_t>(*w));
      }
      break;
    case DataKind::kBinary:  // structured records: small counters, flags, some noise
      for (std::uint32_t i = 0; out.size() < size; ++i) {
        std::uint8_t rec[16] = {static_cast<std::uint8_t>(i),
                                static_cast<std::uint8_t>(i >> 8),
                                0,
                                0,
                                0x7F,
                                0x45,
                                0x4C,
                                0x46,
                                static_cast<std::uint8_t>(rng.Next() & 7)};
        for (int k = 9; k < 16; ++k) rec[k] = (rng.Next() % 4 == 0) ? rng.Next() & 0xFF : 0;
        for (int k = 0; k < 16 && out.size() < size; ++k) out.push_back(rec[k]);
      }
      break;
    case DataKind::kRuns:
      while (out.size() < size) {
        std::uint8_t b = static_cast<std::uint8_t>(rng.Next() % 4);
        std::size_t n = rng.Range(1, 600);
        for (std::size_t k = 0; k < n && out.size() < size; ++k) out.push_back(b);
      }
      break;
    case DataKind::kRandom:
      while (out.size() < size) out.push_back(static_cast<std::uint8_t>(rng.Next()));
      break;
    case DataKind::kLongRepeats: {  // a random block repeated at distances near 32 KiB
      std::vector<std::uint8_t> block(32768 - 7);
      for (auto& b : block) b = static_cast<std::uint8_t>(rng.Next());
      while (out.size() < size) {
        for (std::size_t k = 0; k < block.size() && out.size() < size; ++k) out.push_back(block[k]);
        if (rng.Next() % 3 == 0) block[rng.Next() % block.size()] ^= 0x5A;
      }
      break;
    }
  }
  return out;
}

std::uint32_t ReferenceCrc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    c ^= data[i];
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return ~c;
}

}  // namespace lum::test
