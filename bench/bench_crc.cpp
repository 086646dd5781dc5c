// The "crc32" group: CRC-32 throughput of the specified table form, each faster form and
// the fast path as dispatched, against zlib's crc32 and libdeflate_crc32, over the whole
// corpus in one call and in the 64 KiB pieces that extraction passes. The corpus is larger
// than any cache, so those rows also show memory bandwidth; the "(cache)" rows run over one
// 32 KiB piece again and again to show the forms' own speed.
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench.h"
#include "codec/crc32.h"
#include "codec/crc32_fast.h"

namespace lum::bench {
namespace {

constexpr int kRuns = 7;
constexpr std::size_t kPiece = 64 * 1024;
constexpr std::size_t kCachePiece = 32 * 1024;
constexpr int kCacheRepeats = 2048;

using CrcFn = std::uint32_t (*)(const std::uint8_t* data, std::size_t size);

codec::Crc32Table g_table;

std::uint32_t TableForm(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  codec::Crc32UpdateTable(g_table.pvCrc32Table(), p, n, c);
  return ~c;
}
std::uint32_t Slice8Form(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  codec::Crc32UpdateSlice8(p, n, c);
  return ~c;
}
std::uint32_t PclmulForm(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  codec::Crc32UpdatePclmul(p, n, c);
  return ~c;
}
std::uint32_t FastPath(const std::uint8_t* p, std::size_t n) {
  std::uint32_t c = 0xFFFFFFFFu;
  codec::Crc32UpdateFast(g_table.pvCrc32Table(), p, n, c);
  return ~c;
}
std::uint32_t Zlib(const std::uint8_t* p, std::size_t n) {
  return static_cast<std::uint32_t>(crc32_z(0, p, n));
}
std::uint32_t Libdeflate(const std::uint8_t* p, std::size_t n) {
  return libdeflate_crc32(0, p, n);
}

// The same functions continued over 64 KiB pieces (each takes and returns a finished CRC,
// which all these forms allow: complementing in and out cancels).
std::uint32_t InPieces(CrcFn fn, const std::uint8_t* p, std::size_t n) {
  std::uint32_t crc = 0;
  for (std::size_t pos = 0; pos < n; pos += kPiece) {
    std::size_t len = n - pos < kPiece ? n - pos : kPiece;
    if (fn == &Libdeflate) {
      crc = libdeflate_crc32(crc, p + pos, len);
    } else {
      std::uint32_t c = ~crc;
      codec::Crc32UpdateFast(g_table.pvCrc32Table(), p + pos, len, c);
      crc = ~c;
    }
  }
  return crc;
}

void Measure(const std::string& name, const std::vector<std::uint8_t>& data, std::uint32_t expect,
             const std::function<std::uint32_t()>& run, const std::string& note = "") {
  std::uint32_t got = 0;
  double secs = BestOf(kRuns, [&] { got = run(); });
  if (got != expect) {
    std::fprintf(stderr, "crc32: %s gives %08X, expected %08X\n", name.c_str(), got, expect);
    std::exit(1);
  }
  Sink(got);
  Report({"crc32", name, data.size() / secs / 1e9, "GB/s", "libdeflate_crc32", note});
}

// `fn` over the first 32 KiB of the corpus, kCacheRepeats times, as one data size.
void MeasureInCache(const std::string& name, CrcFn fn) {
  const std::vector<std::uint8_t>& all = CorpusAll();
  if (all.size() < kCachePiece) return;
  const std::uint32_t expect = Libdeflate(all.data(), kCachePiece);
  std::uint32_t bad = 0;
  double secs = BestOf(kRuns, [&] {
    for (int i = 0; i < kCacheRepeats; ++i) bad |= fn(all.data(), kCachePiece) ^ expect;
  });
  if (bad != 0) {
    std::fprintf(stderr, "crc32: %s gives a wrong CRC\n", name.c_str());
    std::exit(1);
  }
  Report({"crc32", name + " (cache)", kCachePiece * double{kCacheRepeats} / secs / 1e9, "GB/s",
          "libdeflate_crc32 (cache)", ""});
}

void RunCrc32() {
  const std::vector<std::uint8_t>& all = CorpusAll();
  const std::uint8_t* p = all.data();
  const std::size_t n = all.size();
  const std::uint32_t expect = Libdeflate(p, n);

  Measure("table form (slicing by 4, specified)", all, expect, [&] { return TableForm(p, n); });
  Measure("slicing by 8", all, expect, [&] { return Slice8Form(p, n); });
  if (codec::Crc32PclmulAvailable()) {
    Measure("pclmul folding", all, expect, [&] { return PclmulForm(p, n); });
  }
  Measure(
      "fast path", all, expect, [&] { return FastPath(p, n); }, codec::Crc32FastPathName());
  Measure(
      "fast path, 64 KiB pieces", all, expect, [&] { return InPieces(&FastPath, p, n); },
      codec::Crc32FastPathName());
  Measure("zlib crc32", all, expect, [&] { return Zlib(p, n); });
  Measure("libdeflate_crc32", all, expect, [&] { return Libdeflate(p, n); });
  Measure("libdeflate_crc32, 64 KiB pieces", all, expect,
          [&] { return InPieces(&Libdeflate, p, n); });

  MeasureInCache("table form", &TableForm);
  MeasureInCache("slicing by 8", &Slice8Form);
  if (codec::Crc32PclmulAvailable()) MeasureInCache("pclmul folding", &PclmulForm);
  MeasureInCache("zlib crc32", &Zlib);
  MeasureInCache("libdeflate_crc32", &Libdeflate);
}

}  // namespace

LUM_BENCH_GROUP("crc32", RunCrc32);

}  // namespace lum::bench
