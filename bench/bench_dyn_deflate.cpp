// The "dyndeflate" group: the dynamic-Huffman encoder against zlib and libdeflate at levels
// 1, 6 and 9, on the whole corpus. Our encoder gets the corpus in 65,536-byte chunks with the
// CRC register updated, as the archive writer calls it; zlib's raw deflate streams the same
// chunks at the same level; libdeflate compresses the whole buffer at once (its best case).
// The ratio column is our speed over libdeflate's; the note gives each output's size and,
// for our rows, that size as a share of libdeflate's and of zlib's.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench.h"
#include "bench/deflate_refs.h"
#include "codec/codec_init.h"
#include "codec/dyn_deflate.h"

namespace lum::bench {
namespace {

constexpr std::size_t kChunk = 65536;

std::size_t Dyn(Codec& c, const std::vector<std::uint8_t>& data, int level) {
  const codec::CodecWord h = codec::DynDeflateCreate(codec::Word(&c.table), 0, 0, 0);
  std::uint32_t crc = 0xFFFFFFFFu;
  std::size_t total = 0;
  std::size_t pos = 0;
  do {
    codec::CodecBlock b{};
    b.pInput = data.data() + pos;
    b.lInputSize = static_cast<std::int32_t>(std::min(kChunk, data.size() - pos));
    pos += static_cast<std::size_t>(b.lInputSize);
    b.bFinal = pos == data.size();
    if (codec::DynDeflate(h, codec::Word(&b), codec::Word(&crc), level) != 1) {
      std::fprintf(stderr, "dynamic deflate failed\n");
      std::exit(1);
    }
    total += static_cast<std::size_t>(b.lOutputSize);
    c.table.pfnFree(b.pOutput);
  } while (pos < data.size());
  codec::DynDeflateDestroy(h, 0, 0, 0);
  Sink(crc);
  return total;
}

std::string Note(std::size_t size, std::size_t ref1, std::size_t ref2) {
  char buf[96];
  if (ref1 == 0) {
    std::snprintf(buf, sizeof buf, "%zu bytes", size);
  } else {
    std::snprintf(buf, sizeof buf, "%zu bytes, %.4f x libdeflate, %.4f x zlib", size,
                  static_cast<double>(size) / static_cast<double>(ref1),
                  static_cast<double>(size) / static_cast<double>(ref2));
  }
  return buf;
}

void Measure(const std::vector<std::uint8_t>& data, int level, int runs) {
  const double mb = static_cast<double>(data.size()) / 1e6;
  Codec c;
  std::vector<std::uint8_t> out(data.size() + data.size() / 8 + 1024);
  std::size_t sizes[3] = {};
  double best[3] = {1e30, 1e30, 1e30};
  for (int round = 0; round < runs; ++round) {
    best[0] =
        std::min(best[0], BestOf(1, [&] { sizes[0] = LibdeflateDeflatedSize(data, level, out); }));
    best[1] = std::min(best[1], BestOf(1, [&] {
                         sizes[1] = ZlibDeflatedSize(data, level, Z_DEFAULT_STRATEGY, kChunk);
                       }));
    best[2] = std::min(best[2], BestOf(1, [&] { sizes[2] = Dyn(c, data, level); }));
  }
  const std::string lv = " L" + std::to_string(level) + ": corpus";
  const std::string libRow = "libdeflate" + lv;
  Report({"dyndeflate", libRow, mb / best[0], "MB/s", "", Note(sizes[0], 0, 0)});
  Report({"dyndeflate", "zlib default" + lv, mb / best[1], "MB/s", "", Note(sizes[1], 0, 0)});
  Report({"dyndeflate", "lum dynamic" + lv, mb / best[2], "MB/s", libRow,
          Note(sizes[2], sizes[0], sizes[1])});
}

void Run() {
  const int runs = std::getenv("LUM_BENCH_QUICK") ? 1 : 3;
  for (int level : {1, 6, 9}) Measure(CorpusAll(), level, level == 9 ? 1 : runs);
}

}  // namespace

LUM_BENCH_GROUP("dyndeflate", Run);

}  // namespace lum::bench
