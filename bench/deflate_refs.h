// The pieces the encoder and decoder benchmark groups share: our codec's entry table, and the
// sizes zlib and libdeflate produce for the same input (the reference rows).
#pragma once

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/codec_init.h"

namespace lum::bench {

// The entry table, set up once per measurement.
struct Codec {
  codec::Crc32Table crcTable;
  codec::CodecEntryTable table{};
  Codec() { codec::pvCodecInit(table, crcTable); }
};

// zlib's raw deflate fed `chunk` bytes at a time at `level` with `strategy`; the output's size.
inline std::size_t ZlibDeflatedSize(const std::vector<std::uint8_t>& data, int level, int strategy,
                                    std::size_t chunk) {
  static std::vector<std::uint8_t> buf(256 * 1024);
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
  std::size_t total = 0;
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min(chunk, data.size() - pos);
    z.next_in = const_cast<Bytef*>(data.data() + pos);
    z.avail_in = static_cast<uInt>(n);
    pos += n;
    const int flush = pos == data.size() ? Z_FINISH : Z_NO_FLUSH;
    do {
      z.next_out = buf.data();
      z.avail_out = static_cast<uInt>(buf.size());
      deflate(&z, flush);
      total += buf.size() - z.avail_out;
    } while (z.avail_out == 0);
  } while (pos < data.size());
  deflateEnd(&z);
  return total;
}

// libdeflate's raw deflate of the whole buffer at once into `out`; the output's size.
inline std::size_t LibdeflateDeflatedSize(const std::vector<std::uint8_t>& data, int level,
                                          std::vector<std::uint8_t>& out) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  const std::size_t n =
      libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size());
  libdeflate_free_compressor(c);
  return n;
}

}  // namespace lum::bench
