// The "deflate" group: encoding speed in MB/s of input and the size of the output, at levels
// 1, 3, 6 and 9. Our encoder is called through the entry table in 65,536-byte chunks, as the
// archive writer calls it, with the CRC register updated; zlib's raw deflate streams the same
// chunks at the same level, with the default strategy and with Z_FIXED (fixed Huffman codes
// only, the closest to our block format); libdeflate compresses the whole buffer at once at
// levels 1, 6, 9 and 12. Level 9 and libdeflate 9 and 12 run on a subset (the first 2 MiB
// of every corpus file), since level 9 compares up to 1,000 candidates per position.
//
// Rows of one level take turns round by round. The ratio column compares each of our rows with zlib
// Z_FIXED at the same level; the note gives the output size as a share of the input.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench.h"
#include "bench/deflate_refs.h"
#include "codec/codec_init.h"
#include "codec/deflate_levels.h"

namespace lum::bench {
namespace {

constexpr std::size_t kChunk = 65536;
constexpr std::size_t kSubsetPerFile = 2 * 1024 * 1024;

// Our encoder through the entry table; returns the compressed size.
std::size_t Lum(Codec& c, const std::vector<std::uint8_t>& data, int level) {
  const codec::CodecWord h = c.table.pfnDeflateCreate(codec::Word(&c.table), 0, 0, 0);
  std::uint32_t crc = 0xFFFFFFFFu;
  std::size_t total = 0;
  std::size_t pos = 0;
  do {
    codec::CodecBlock b{};
    b.pInput = data.data() + pos;
    b.lInputSize = static_cast<std::int32_t>(std::min(kChunk, data.size() - pos));
    pos += static_cast<std::size_t>(b.lInputSize);
    b.bFinal = pos == data.size();
    codec::ApplyDeflateLevel(b, level);
    if (c.table.pfnDeflate(h, codec::Word(&b), codec::Word(&crc), level) != 1) {
      std::fprintf(stderr, "deflate failed\n");
      std::exit(1);
    }
    total += static_cast<std::size_t>(b.lOutputSize);
    c.table.pfnFree(b.pOutput);
  } while (pos < data.size());
  c.table.pfnDeflateDestroy(h, 0, 0, 0);
  Sink(crc);
  return total;
}

std::string Percent(std::size_t out, std::size_t in) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "output %.2f %% of input", 100.0 * out / in);
  return buf;
}

void Measure(const std::vector<std::uint8_t>& data, const std::string& label, int level, int runs) {
  // The three encoders take turns, one run each per round, and each keeps its best run, so
  // that they share a busy machine evenly.
  const double mb = static_cast<double>(data.size()) / 1e6;
  Codec c;
  std::size_t sizes[3] = {};
  double best[3] = {1e30, 1e30, 1e30};
  for (int round = 0; round < runs; ++round) {
    best[0] = std::min(
        best[0], BestOf(1, [&] { sizes[0] = ZlibDeflatedSize(data, level, Z_FIXED, kChunk); }));
    best[1] = std::min(best[1], BestOf(1, [&] {
                         sizes[1] = ZlibDeflatedSize(data, level, Z_DEFAULT_STRATEGY, kChunk);
                       }));
    best[2] = std::min(best[2], BestOf(1, [&] { sizes[2] = Lum(c, data, level); }));
  }
  const std::string lv = " L" + std::to_string(level) + ": " + label;
  const std::string fixedRow = "zlib Z_FIXED" + lv;
  Report({"deflate", fixedRow, mb / best[0], "MB/s", "", Percent(sizes[0], data.size())});
  Report(
      {"deflate", "zlib default" + lv, mb / best[1], "MB/s", "", Percent(sizes[1], data.size())});
  Report({"deflate", "lum deflate" + lv, mb / best[2], "MB/s", fixedRow,
          Percent(sizes[2], data.size())});
}

void MeasureLibdeflate(const std::vector<std::uint8_t>& data, const std::string& label, int level,
                       int runs) {
  const double mb = static_cast<double>(data.size()) / 1e6;
  std::vector<std::uint8_t> out(data.size() + data.size() / 8 + 1024);
  std::size_t size = 0;
  const double t = BestOf(runs, [&] { size = LibdeflateDeflatedSize(data, level, out); });
  Report({"deflate", "libdeflate L" + std::to_string(level) + ": " + label, mb / t, "MB/s", "",
          Percent(size, data.size())});
}

void Run() {
  const std::vector<std::uint8_t>& all = CorpusAll();
  std::vector<std::uint8_t> subset;
  for (const auto& f : Corpus()) {
    subset.insert(
        subset.end(), f.data.begin(),
        f.data.begin() + static_cast<std::ptrdiff_t>(std::min(kSubsetPerFile, f.data.size())));
  }
  const int runs = std::getenv("LUM_BENCH_QUICK") ? 1 : 3;
  for (int level : {1, 3, 6}) Measure(all, "corpus", level, runs);
  for (int level : {1, 6}) MeasureLibdeflate(all, "corpus", level, runs);
  Measure(subset, "subset", 9, 1);
  Measure(subset, "subset", 6, runs);  // for comparing level 9 with 6 on the same bytes
  for (int level : {9, 12}) MeasureLibdeflate(subset, "subset", level, 1);
}

}  // namespace

LUM_BENCH_GROUP("deflate", Run);

}  // namespace lum::bench
