// Checks shared by the encoder fuzz targets: a failed check aborts (which the fuzzer reports),
// and a stream is decoded both by zlib's raw inflate and by our own decoder.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codec/codec_table.h"

namespace lum::fuzz {

using Bytes = std::vector<std::uint8_t>;

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// zlib's raw inflate; the stream must end exactly at its last byte.
inline Bytes ZlibInflate(const Bytes& stream) {
  z_stream z{};
  Check(inflateInit2(&z, -15) == Z_OK);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  Bytes out;
  std::uint8_t buf[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
  }
  Check(rc == Z_STREAM_END && z.avail_in == 0);
  inflateEnd(&z);
  return out;
}

// Our decoder, the whole stream in one call.
inline Bytes CodecInflate(const codec::CodecEntryTable& table, const Bytes& stream) {
  using codec::Word;
  const codec::CodecWord handle = table.pfnInflateCreate(Word(&table), 0, 0, 0);
  Check(handle != 0);
  codec::CodecBlock block{};
  block.pInput = stream.data();
  block.lInputSize = static_cast<std::int32_t>(stream.size());
  Check(table.pfnInflate(handle, Word(&block), 0, 0) == 1 && block.pOutput != nullptr);
  Bytes out(block.pOutput, block.pOutput + block.lOutputSize);
  table.pfnFree(block.pOutput);
  table.pfnInflateDestroy(handle, 0, 0, 0);
  return out;
}

}  // namespace lum::fuzz
