// The "inflate" group: decoding speed in MB/s of output. The decoder is called through the
// entry table with 64 KiB input chunks, as extraction calls it (each call's buffer freed
// by the caller), against zlib's inflate streaming the same 64 KiB chunks into a 256 KiB
// buffer and libdeflate's whole-buffer decompressor. Streams are raw Deflate made by zlib
// at level 6 with the default strategy and with Z_FIXED, over the whole corpus and, for
// level 6, per corpus file.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench.h"
#include "bench/deflate_refs.h"
#include "codec/codec_init.h"
#include "codec/inflate.h"

namespace lum::bench {
namespace {

constexpr int kRuns = 7;
constexpr std::size_t kChunk = 64 * 1024;

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& data, int strategy) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, strategy);
  std::vector<std::uint8_t> out(deflateBound(&z, data.size()));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Decodes `stream` through the entry table; returns the number of output bytes.
std::size_t Lum(Codec& c, const std::vector<std::uint8_t>& stream, bool withCrc) {
  const codec::CodecWord h = c.table.pfnInflateCreate(codec::Word(&c.table), 0, 0, 0);
  std::uint32_t crc = 0xFFFFFFFFu;
  std::size_t total = 0;
  for (std::size_t pos = 0; pos < stream.size(); pos += kChunk) {
    codec::CodecBlock b{};
    b.pInput = stream.data() + pos;
    b.lInputSize = static_cast<std::int32_t>(std::min(kChunk, stream.size() - pos));
    if (c.table.pfnInflate(h, codec::Word(&b), withCrc ? codec::Word(&crc) : 0, 0) != 1) {
      std::fprintf(stderr, "inflate failed\n");
      std::exit(1);
    }
    total += static_cast<std::size_t>(b.lOutputSize);
    c.table.pfnFree(b.pOutput);
  }
  c.table.pfnInflateDestroy(h, 0, 0, 0);
  Sink(crc);
  return total;
}

std::size_t Zlib(const std::vector<std::uint8_t>& stream) {
  static std::vector<std::uint8_t> buf(256 * 1024);
  z_stream z{};
  inflateInit2(&z, -15);
  std::size_t total = 0;
  for (std::size_t pos = 0; pos < stream.size(); pos += kChunk) {
    z.next_in = const_cast<Bytef*>(stream.data() + pos);
    z.avail_in = static_cast<uInt>(std::min(kChunk, stream.size() - pos));
    do {
      z.next_out = buf.data();
      z.avail_out = static_cast<uInt>(buf.size());
      int r = inflate(&z, Z_NO_FLUSH);
      total += buf.size() - z.avail_out;
      if (r == Z_STREAM_END) break;
    } while (z.avail_out == 0);
  }
  inflateEnd(&z);
  return total;
}

std::size_t Libdeflate(const std::vector<std::uint8_t>& stream, std::vector<std::uint8_t>& out) {
  static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  std::size_t n = 0;
  libdeflate_deflate_decompress(d, stream.data(), stream.size(), out.data(), out.size(), &n);
  return n;
}

void Measure(const std::string& label, const std::vector<std::uint8_t>& data, int strategy,
             bool withPlain) {
  const std::vector<std::uint8_t> stream = Compress(data, strategy);
  const double mb = static_cast<double>(data.size()) / 1e6;
  std::vector<std::uint8_t> out(data.size());
  Codec c;
  auto check = [&](std::size_t n, const char* who) {
    if (n != data.size()) {
      std::fprintf(stderr, "%s produced %zu of %zu bytes\n", who, n, data.size());
      std::exit(1);
    }
  };
  const std::string zlibRow = "zlib inflate, 64 KiB chunks: " + label;
  // The decoders run in turns, one pass each per round, so that a busy machine slows them
  // alike; each keeps its fastest pass.
  double best[5] = {1e30, 1e30, 1e30, 1e30, 1e30};
  for (int r = 0; r < kRuns; ++r) {
    best[0] = std::min(best[0], BestOf(1, [&] { check(Zlib(stream), "zlib"); }));
    best[1] = std::min(best[1], BestOf(1, [&] { check(Libdeflate(stream, out), "libdeflate"); }));
    best[2] = std::min(best[2], BestOf(1, [&] { check(Lum(c, stream, false), "lum"); }));
    best[3] = std::min(best[3], BestOf(1, [&] { check(Lum(c, stream, true), "lum"); }));
    if (withPlain && r < 2) {
      codec::testing::SetInflatePlainOnly(true);
      best[4] = std::min(best[4], BestOf(1, [&] { check(Lum(c, stream, false), "lum plain"); }));
      codec::testing::SetInflatePlainOnly(false);
    }
  }
  char note[48];
  std::snprintf(note, sizeof note, "%.2f× libdeflate", best[1] / best[2]);
  Report({"inflate", zlibRow, mb / best[0], "MB/s", "", ""});
  Report({"inflate", "libdeflate whole buffer: " + label, mb / best[1], "MB/s", "", ""});
  Report({"inflate", "lum inflate, 64 KiB chunks: " + label, mb / best[2], "MB/s", zlibRow, note});
  Report({"inflate", "lum inflate + CRC-32: " + label, mb / best[3], "MB/s", zlibRow, ""});
  if (withPlain) {
    Report(
        {"inflate", "lum plain state machine only: " + label, mb / best[4], "MB/s", zlibRow, ""});
  }
}

void Run() {
  Measure("corpus, zlib -6", CorpusAll(), Z_DEFAULT_STRATEGY, true);
  Measure("corpus, zlib -6 Z_FIXED", CorpusAll(), Z_FIXED, false);
  for (const auto& f : Corpus()) Measure(f.name + ", zlib -6", f.data, Z_DEFAULT_STRATEGY, false);
}

}  // namespace

LUM_BENCH_GROUP("inflate", Run);

}  // namespace lum::bench
