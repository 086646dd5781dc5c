// Pieces shared by the encoders' reference tests (the *_ref_test.cpp files, which link zlib
// and libdeflate): both libraries' raw inflate as independent decoders, and a test input that
// changes character several times inside one stream.
#pragma once

#include <libdeflate.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace lum::codec::reftest {

using Bytes = std::vector<std::uint8_t>;

// zlib's raw inflate; false unless the stream ends exactly at its last byte.
inline bool ZlibInflate(const Bytes& stream, Bytes& out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  int rc = Z_OK;
  std::uint8_t buf[65536];
  while (rc == Z_OK) {
    z.next_out = buf;
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    if (rc == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return ok;
}

// libdeflate's raw inflate into `size` bytes; false unless it uses the whole stream.
inline bool LibdeflateInflate(const Bytes& stream, std::size_t size, Bytes& out) {
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  out.assign(size, 0);
  std::size_t inUsed = 0;
  std::size_t outUsed = 0;
  const libdeflate_result rc = libdeflate_deflate_decompress_ex(
      d, stream.data(), stream.size(), out.data(), out.size(), &inUsed, &outUsed);
  libdeflate_free_decompressor(d);
  out.resize(outUsed);
  return rc == LIBDEFLATE_SUCCESS && inUsed == stream.size();
}

// A mix of every kind of generated data, so one stream changes character several times.
inline Bytes Mixed(std::size_t size, std::uint64_t seed) {
  Bytes out;
  test::Rng rng(seed);
  const auto kinds = test::AllDataKinds();
  while (out.size() < size) {
    const Bytes part = test::MakeData(kinds[rng.Next() % kinds.size()],
                                      static_cast<std::size_t>(rng.Range(1000, 90000)), rng.Next());
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(size);
  return out;
}

// Named test inputs: every kind of generated data at `size` bytes, the mix at `mixedSize`
// and the empty input.
inline std::vector<std::pair<std::string, Bytes>> NamedInputs(std::size_t size,
                                                              std::size_t mixedSize) {
  std::vector<std::pair<std::string, Bytes>> inputs;
  for (test::DataKind kind : test::AllDataKinds()) {
    inputs.emplace_back(test::DataKindName(kind), test::MakeData(kind, size, 31));
  }
  inputs.emplace_back("mixed", Mixed(mixedSize, 32));
  inputs.emplace_back("empty", Bytes{});
  return inputs;
}

}  // namespace lum::codec::reftest
