// Differential tests of the decoder against streams made by zlib and libdeflate, and
// against zlib's own raw inflate on damaged streams.
#include <libdeflate.h>
#include <zlib.h>

#include "codec/inflate_test_util.h"

namespace lum::codec {
namespace {

using inflate_test::DecodeChunked;
using inflate_test::Decoded;
using inflate_test::RandomChunks;

std::vector<std::uint8_t> ZlibRaw(const std::vector<std::uint8_t>& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
  std::vector<std::uint8_t> out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::vector<std::uint8_t> LibdeflateRaw(const std::vector<std::uint8_t>& data, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::vector<std::uint8_t> out(libdeflate_deflate_compress_bound(c, data.size()) + 16);
  out.resize(libdeflate_deflate_compress(c, data.data(), data.size(), out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
}

// zlib's verdict on a raw stream fed whole: true and `out` when it decodes every byte
// without error (ending with the final block exactly at the end of the input, or cut
// short). zlib stops at the final block where this decoder reads on, so a stream that
// zlib ends early is not a verdict on the rest.
bool ZlibInflate(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  std::uint8_t buf[65536];
  int r = Z_OK;
  out.clear();
  while (r == Z_OK) {
    z.next_out = buf;
    z.avail_out = sizeof(buf);
    r = inflate(&z, Z_NO_FLUSH);
    out.insert(out.end(), buf, buf + (sizeof(buf) - z.avail_out));
    if (r == Z_BUF_ERROR && z.avail_in == 0) r = Z_STREAM_END;  // ran out of input
    if (r == Z_OK && z.avail_out != 0 && z.avail_in == 0) r = Z_STREAM_END;
  }
  const bool all = z.avail_in == 0;
  inflateEnd(&z);
  return r == Z_STREAM_END && all;
}

// Decodes `stream` with random chunking, with the fast loop (in the form the CPU runs and
// in its portable form) and with the plain machine, and checks each against `data`.
void ExpectRoundTrip(const std::vector<std::uint8_t>& data, const std::vector<std::uint8_t>& stream,
                     std::uint64_t seed, const std::string& what) {
  SCOPED_TRACE(what);
  test::CodecFixture f;
  const std::uint32_t want = test::ReferenceCrc32(data.data(), data.size());
  struct Mode {
    const char* name;
    bool plain, portable;
  };
  for (Mode mode :
       {Mode{"fast", false, false}, Mode{"portable", false, true}, Mode{"plain", true, false}}) {
    const inflate_test::DecoderPaths paths(mode.plain, mode.portable);
    for (std::size_t maxChunk : {std::size_t{65536}, std::size_t{700}}) {
      Decoded d = DecodeChunked(f, stream, RandomChunks(seed + maxChunk, maxChunk));
      ASSERT_TRUE(d.ok) << mode.name;
      ASSERT_EQ(d.out.size(), data.size()) << mode.name;
      ASSERT_TRUE(d.out == data) << mode.name;
      EXPECT_EQ(~d.crc, want);
    }
  }
}

std::vector<std::vector<std::uint8_t>> Inputs() {
  std::vector<std::vector<std::uint8_t>> inputs = {{}, {0x41}};
  std::uint64_t seed = 11;
  for (test::DataKind k : test::AllDataKinds()) {
    inputs.push_back(test::MakeData(k, 200 * 1024, seed++));
    inputs.push_back(test::MakeData(k, 3000, seed++));
  }
  return inputs;
}

TEST(InflateReference, ZlibEveryLevelAndStrategy) {
  const auto inputs = Inputs();
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : strategies) {
        if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;  // stored either way
        // Every combination on the small inputs, a spread on the large ones.
        if (inputs[i].size() > 100000 && (level + strategy + static_cast<int>(i)) % 4 != 0) {
          continue;
        }
        ExpectRoundTrip(inputs[i], ZlibRaw(inputs[i], level, strategy), i * 100 + level,
                        "zlib input " + std::to_string(i) + " level " + std::to_string(level) +
                            " strategy " + std::to_string(strategy));
      }
    }
  }
}

TEST(InflateReference, LibdeflateEveryLevel) {
  const auto inputs = Inputs();
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    for (int level = 1; level <= 12; ++level) {
      if (inputs[i].size() > 100000 && (level + static_cast<int>(i)) % 3 != 0) continue;
      ExpectRoundTrip(inputs[i], LibdeflateRaw(inputs[i], level), i * 7 + level,
                      "libdeflate input " + std::to_string(i) + " level " + std::to_string(level));
    }
  }
}

// Damaged streams: wherever zlib decodes the bytes without error, so must we (the same
// bytes, the stream being cut where zlib stops); where we fail, fast and plain agree.
TEST(InflateReference, BitFlipsAgreeWithZlib) {
  test::CodecFixture f;
  test::Rng rng(77);
  const auto data = test::MakeData(test::DataKind::kText, 20000, 5);
  const auto streams = {ZlibRaw(data, 6, Z_DEFAULT_STRATEGY), ZlibRaw(data, 6, Z_FIXED),
                        LibdeflateRaw(data, 9)};
  int zlibAccepted = 0;
  for (const auto& good : streams) {
    for (int trial = 0; trial < 300; ++trial) {
      auto bad = good;
      const int flips = 1 + static_cast<int>(rng.Next() % 3);
      for (int k = 0; k < flips; ++k) {
        bad[rng.Next() % bad.size()] ^= static_cast<std::uint8_t>(1u << (rng.Next() % 8));
      }
      std::vector<std::uint8_t> ref;
      const bool zok = ZlibInflate(bad, ref);
      const Decoded fast = DecodeChunked(f, bad, RandomChunks(trial, 4096));
      const Decoded plain = inflate_test::WithPlainOnly(
          [&] { return DecodeChunked(f, bad, RandomChunks(trial, 4096)); });
      ASSERT_EQ(fast.ok, plain.ok) << trial;
      ASSERT_EQ(fast.failedCall, plain.failedCall) << trial;
      ASSERT_TRUE(fast.out == plain.out) << trial;
      if (zok) {
        ++zlibAccepted;
        // The same bytes, except that for a stream cut short right after a match zlib has
        // already copied it, where this decoder waits for the next chunk to do so.
        const std::size_t common = std::min(ref.size(), fast.out.size());
        ASSERT_TRUE(std::equal(ref.begin(), ref.begin() + common, fast.out.begin())) << trial;
        ASSERT_LE(fast.out.size(), ref.size()) << trial;
        ASSERT_LE(ref.size() - fast.out.size(), 258u) << trial;
      }
    }
  }
  EXPECT_GT(zlibAccepted, 0);
}

}  // namespace
}  // namespace lum::codec
