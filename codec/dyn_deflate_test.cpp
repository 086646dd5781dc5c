// The dynamic-Huffman encoder: round trips through our decoder at every level and chunking,
// the shape of the codes it builds (checked by a strict decoder written here), the choice of
// block type, and allocation failures.
#include "codec/dyn_deflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/dyn_deflate_test_support.h"
#include "codec/dyn_huffman.h"
#include "platform/task_alloc.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/test_support.h"

namespace lum::codec {
namespace {

using Bytes = std::vector<std::uint8_t>;

using dyntest::Compress;
using dyntest::CompressAtLevels;
using dyntest::Encoded;

Bytes CodecInflate(const CodecEntryTable& table, const Bytes& stream, bool& ok) {
  const CodecWord h = table.pfnInflateCreate(Word(&table), 0, 0, 0);
  CodecBlock b{};
  b.pInput = stream.data();
  b.lInputSize = static_cast<std::int32_t>(stream.size());
  ok = table.pfnInflate(h, Word(&b), 0, 0) == 1 && b.pOutput != nullptr;
  Bytes out;
  if (ok) out.assign(b.pOutput, b.pOutput + b.lOutputSize);
  table.pfnFree(b.pOutput);
  table.pfnInflateDestroy(h, 0, 0, 0);
  return out;
}

// A decoder that checks every rule the encoder promises: complete codes (or the RFC's single
// code), lengths within 15 and 7, code-length runs that stay inside the literal/length or the
// distance part, no distance before the data's start, and the final block ending the stream.
class StrictDecoder {
 public:
  explicit StrictDecoder(const Bytes& in) : m_in(in) {}

  std::string Decode(Bytes& out) {
    bool final = false;
    while (!final) {
      final = Bits(1) != 0;
      const int type = static_cast<int>(Bits(2));
      ++blockTypes[type];
      std::string err;
      if (type == 0) {
        err = Stored(out);
      } else if (type == 1) {
        std::vector<int> lit(288), dist(30, 5);
        for (int i = 0; i < 288; ++i) lit[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        err = Data(lit, dist, out);
      } else if (type == 2) {
        err = Dynamic(out);
      } else {
        err = "reserved block type";
      }
      if (!err.empty()) return err;
      if (m_pos > m_in.size() * 8) return "read past the end";
    }
    if ((m_pos + 7) / 8 != m_in.size()) return "bytes after the final block";
    return {};
  }
  int blockTypes[4] = {};

 private:
  std::uint32_t Bits(int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++m_pos) {
      const std::size_t byte = m_pos / 8;
      if (byte < m_in.size() && ((m_in[byte] >> (m_pos % 8)) & 1)) v |= 1u << i;
    }
    return v;
  }

  // "" when the lengths form a complete code, or one code of length 1 among unused symbols.
  static std::string CheckCode(const std::vector<int>& len, int limit, const char* what) {
    std::uint64_t kraft = 0;
    int used = 0;
    for (int l : len) {
      if (l > limit) return std::string(what) + ": length over the limit";
      if (l > 0) {
        kraft += 1ull << (limit - l);
        ++used;
      }
    }
    if (kraft == (1ull << limit)) return {};
    if (used == 1 && kraft == (1ull << (limit - 1))) return {};
    return std::string(what) + (kraft > (1ull << limit) ? ": oversubscribed" : ": incomplete");
  }

  // Canonical decoding table of one code (RFC 1951 section 3.2.2).
  struct Code {
    explicit Code(const std::vector<int>& len) {
      for (int l : len) ++count[l];
      count[0] = 0;
      int offset[16] = {};
      for (int l = 1; l < 16; ++l) offset[l] = offset[l - 1] + count[l - 1];
      symbols.resize(len.size());
      for (std::size_t s = 0; s < len.size(); ++s) {
        if (len[s] != 0) symbols[static_cast<std::size_t>(offset[len[s]]++)] = static_cast<int>(s);
      }
    }
    int count[16] = {};
    std::vector<int> symbols;
  };

  int Symbol(const Code& c) {
    int code = 0;
    int first = 0;
    int index = 0;
    for (int l = 1; l < 16; ++l) {
      code |= static_cast<int>(Bits(1));
      if (code - first < c.count[l])
        return c.symbols[static_cast<std::size_t>(index + code - first)];
      index += c.count[l];
      first = (first + c.count[l]) << 1;
      code <<= 1;
    }
    return -1;
  }

  std::string Stored(Bytes& out) {
    m_pos = (m_pos + 7) / 8 * 8;
    const std::uint32_t len = Bits(16);
    if ((Bits(16) ^ 0xFFFF) != len) return "stored length check";
    for (std::uint32_t i = 0; i < len; ++i) out.push_back(static_cast<std::uint8_t>(Bits(8)));
    return {};
  }

  std::string ReadLengths(const Code& cl, int count, std::vector<int>& len) {
    while (static_cast<int>(len.size()) < count) {
      const int s = Symbol(cl);
      int repeat = 0;
      int value = 0;
      if (s < 0) return "bad code-length symbol";
      if (s < 16) {
        len.push_back(s);
        continue;
      }
      if (s == 16) {
        if (len.empty()) return "repeat with no previous length in this part";
        value = len.back();
        repeat = 3 + static_cast<int>(Bits(2));
      } else {
        repeat = s == 17 ? 3 + static_cast<int>(Bits(3)) : 11 + static_cast<int>(Bits(7));
      }
      if (static_cast<int>(len.size()) + repeat > count) return "run crosses the part's end";
      len.insert(len.end(), static_cast<std::size_t>(repeat), value);
    }
    return {};
  }

  std::string Dynamic(Bytes& out) {
    const int hlit = 257 + static_cast<int>(Bits(5));
    const int hdist = 1 + static_cast<int>(Bits(5));
    const int hclen = 4 + static_cast<int>(Bits(4));
    if (hlit > 286 || hdist > 30) return "too many codes";
    static const int kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                   11, 4,  12, 3, 13, 2, 14, 1, 15};
    std::vector<int> cl(19);
    for (int i = 0; i < hclen; ++i) cl[kOrder[i]] = static_cast<int>(Bits(3));
    std::string err = CheckCode(cl, 7, "code-length code");
    if (!err.empty()) return err;
    std::vector<int> lit, dist;
    const Code clCode(cl);
    if (!(err = ReadLengths(clCode, hlit, lit)).empty()) return err;
    if (!(err = ReadLengths(clCode, hdist, dist)).empty()) return err;
    if (lit[256] == 0) return "no end-of-block code";
    if (!(err = CheckCode(lit, 15, "literal/length code")).empty()) return err;
    if (!(err = CheckCode(dist, 15, "distance code")).empty()) return err;
    return Data(lit, dist, out);
  }

  std::string Data(const std::vector<int>& litLengths, const std::vector<int>& distLengths,
                   Bytes& out) {
    const Code lit(litLengths);
    const Code dist(distLengths);
    for (;;) {
      const int s = Symbol(lit);
      if (s < 0 || s > 285) return "bad literal/length symbol";
      if (s < 256) {
        out.push_back(static_cast<std::uint8_t>(s));
        continue;
      }
      if (s == 256) return {};
      const CodecCodeRecord& lr = kLengthCodes[s - 257];
      const int length = lr.lowest + static_cast<int>(Bits(lr.extraBits));
      const int ds = Symbol(dist);
      if (ds < 0 || ds > 29) return "bad distance symbol";
      const CodecCodeRecord& dr = kDistanceCodes[ds];
      const std::size_t d = static_cast<std::size_t>(dr.lowest) + Bits(dr.extraBits);
      if (d > out.size()) return "distance before the start";
      for (int i = 0; i < length; ++i) out.push_back(out[out.size() - d]);
    }
  }

  const Bytes& m_in;
  std::size_t m_pos = 0;
};

class DynDeflateTest : public ::testing::Test {
 protected:
  test::CodecFixture f;

  // Compresses, then checks the stream with our decoder and the strict one and the CRC.
  Encoded RoundTrip(const Bytes& data, const std::vector<std::int32_t>& chunks, int level) {
    Encoded run = Compress(f.table, data, chunks, level);
    EXPECT_TRUE(run.ok);
    bool ok = false;
    EXPECT_EQ(CodecInflate(f.table, run.stream, ok), data);
    EXPECT_TRUE(ok);
    EXPECT_EQ(~run.crc, test::ReferenceCrc32(data.data(), data.size()));
    return run;
  }
  // "" when the strict decoder accepts `stream` and it decodes to `data`; `types` gets the
  // number of stored, fixed and dynamic blocks.
  std::string Strict(const Bytes& stream, const Bytes& data, int* types = nullptr) {
    StrictDecoder d(stream);
    Bytes out;
    std::string err = d.Decode(out);
    if (err.empty() && out != data) err = "decoded data differs";
    if (types != nullptr) std::copy(d.blockTypes, d.blockTypes + 4, types);
    return err;
  }
};

// ---- Code construction ----

std::uint64_t Kraft(const std::uint8_t* len, int n, int limit) {
  std::uint64_t k = 0;
  for (int i = 0; i < n; ++i) {
    if (len[i] != 0) k += 1ull << (limit - len[i]);
  }
  return k;
}

TEST(DynHuffman, LengthsAreCompleteWithinTheLimitAndFavourFrequentSymbols) {
  test::Rng rng(7);
  for (int round = 0; round < 300; ++round) {
    const int n = round % 3 == 0 ? 19 : round % 3 == 1 ? 30 : 286;
    const int limit = n == 19 ? 7 : 15;
    std::uint32_t freq[288] = {};
    const int shape = round % 4;
    for (int i = 0; i < n; ++i) {
      if (rng.Next() % 3 == 0) continue;
      // Uniform, skewed, and exponential (Fibonacci-like growth forces deep trees).
      freq[i] = shape == 0   ? 1 + rng.Next() % 1000
                : shape == 1 ? 1 + rng.Next() % 3
                : shape == 2 ? (1u << (rng.Next() % 30))
                             : 1u << (i % 31);
    }
    std::uint8_t len[288];
    BuildCodeLengths(freq, n, limit, len);
    int used = 0;
    for (int i = 0; i < n; ++i) {
      ASSERT_LE(len[i], limit);
      if (freq[i] != 0) {
        ASSERT_GT(len[i], 0) << i;
        ++used;
      }
    }
    ASSERT_EQ(Kraft(len, n, limit), 1ull << limit) << "round " << round;
    for (int a = 0; a < n; ++a) {
      for (int b = 0; b < n; ++b) {
        if (freq[a] != 0 && freq[b] != 0 && freq[a] > freq[b]) {
          ASSERT_LE(len[a], len[b]);
        }
      }
    }
  }
}

TEST(DynHuffman, FibonacciFrequenciesAreCutToTheLimitAndStayComplete) {
  std::uint32_t freq[30];
  std::uint32_t a = 1, b = 1;
  for (int i = 0; i < 30; ++i) {
    freq[i] = a;
    const std::uint32_t c = a + b;
    a = b;
    b = c;
  }
  std::uint8_t len[30];
  BuildCodeLengths(freq, 30, 15, len);
  EXPECT_EQ(*std::max_element(len, len + 30), 15);
  EXPECT_EQ(Kraft(len, 30, 15), 1u << 15);
  std::uint32_t cl[19];
  for (int i = 0; i < 19; ++i) cl[i] = 1u << i;
  std::uint8_t clLen[19];
  BuildCodeLengths(cl, 19, 7, clLen);
  EXPECT_EQ(*std::max_element(clLen, clLen + 19), 7);
  EXPECT_EQ(Kraft(clLen, 19, 7), 1u << 7);
}

TEST(DynHuffman, NoneOrOneUsedSymbolGivesTwoOneBitCodes) {
  std::uint32_t freq[30] = {};
  std::uint8_t len[30];
  BuildCodeLengths(freq, 30, 15, len);
  EXPECT_EQ(len[0], 1);
  EXPECT_EQ(len[1], 1);
  EXPECT_EQ(Kraft(len, 30, 15), 1u << 15);
  freq[0] = 9;
  BuildCodeLengths(freq, 30, 15, len);
  EXPECT_EQ(len[0], 1);
  EXPECT_EQ(len[1], 1);
  freq[0] = 0;
  freq[17] = 4;
  BuildCodeLengths(freq, 30, 15, len);
  EXPECT_EQ(len[17], 1);
  EXPECT_EQ(len[0], 1);
  EXPECT_EQ(Kraft(len, 30, 15), 1u << 15);
}

TEST(DynHuffman, CanonicalCodesFollowTheRfcExample) {
  // RFC 1951 section 3.2.2: lengths (3, 3, 3, 3, 3, 2, 4, 4) give 010 011 100 101 110 00
  // 1110 1111; stored reversed for a least-significant-first stream.
  const std::uint8_t len[8] = {3, 3, 3, 3, 3, 2, 4, 4};
  std::uint16_t codes[8];
  BuildCanonicalCodes(len, 8, codes);
  const std::uint16_t expected[8] = {0b010, 0b110, 0b001, 0b101, 0b011, 0b00, 0b0111, 0b1111};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(codes[i], expected[i]) << i;
}

// ---- Round trips ----

TEST_F(DynDeflateTest, EmptyAndOneByteInputsAtEveryLevel) {
  for (int level = 1; level <= 9; ++level) {
    SCOPED_TRACE(level);
    const Encoded empty = RoundTrip({}, {0}, level);
    EXPECT_EQ(empty.stream, (Bytes{0x03, 0x00}));
    const Bytes one{0x41};
    const Encoded r = RoundTrip(one, {1}, level);
    EXPECT_EQ(Strict(r.stream, one), "");
    // Empty chunks before the final one change nothing.
    EXPECT_EQ(RoundTrip(one, {0, 0, 1, 0}, level).stream.size(), r.stream.size());
  }
}

TEST_F(DynDeflateTest, EveryKindAtEveryLevelDecodesStrictly) {
  for (test::DataKind kind : test::AllDataKinds()) {
    const Bytes data = test::MakeData(kind, 300000, 11);
    for (int level = 1; level <= 9; ++level) {
      SCOPED_TRACE(testing::Message() << test::DataKindName(kind) << " level " << level);
      const Encoded r = RoundTrip(data, test::FixedChunks(data.size(), 65536), level);
      EXPECT_EQ(Strict(r.stream, data), "");
      if (kind != test::DataKind::kRandom) {
        EXPECT_LT(r.stream.size(), data.size() / 2);
      }
    }
  }
}

TEST_F(DynDeflateTest, ChunkingsFromOneByteTo64KiBGiveTheSameData) {
  const Bytes data = test::MakeData(test::DataKind::kText, 200000, 3);
  std::size_t whole = 0;
  for (std::int32_t chunk : {1, 3, 257, 4096, 65535, 65536}) {
    for (int level : {1, 6, 9}) {
      SCOPED_TRACE(testing::Message() << "chunk " << chunk << " level " << level);
      const Encoded r = RoundTrip(data, test::FixedChunks(data.size(), chunk), level);
      // Input is held back until matches can be complete, so the chunking hardly matters.
      if (chunk == 65536 && level == 6) {
        whole = r.stream.size();
      }
    }
  }
  for (std::uint64_t seed = 1; seed <= 6; ++seed) {
    const Encoded r =
        RoundTrip(data, test::RandomChunks(data.size(), 0, 70000, seed, seed % 2 == 0), 6);
    EXPECT_LE(r.stream.size(), whole + whole / 100);
  }
}

TEST_F(DynDeflateTest, LongInputsSlideTheWindowAndReachBack32KiB) {
  // A random block repeated at distance 32,768 and a mix long enough for many slides.
  Bytes data = test::MakeData(test::DataKind::kRandom, 32768, 5);
  for (int i = 0; i < 5; ++i) data.insert(data.end(), data.begin(), data.begin() + 32768);
  for (test::DataKind kind : test::AllDataKinds()) {
    const Bytes part = test::MakeData(kind, 400000, 9);
    data.insert(data.end(), part.begin(), part.end());
  }
  for (int level : {1, 4, 9}) {
    SCOPED_TRACE(level);
    const Encoded r = RoundTrip(data, test::RandomChunks(data.size(), 1, 65536, level), level);
    EXPECT_EQ(Strict(r.stream, data), "");
    EXPECT_LT(r.stream.size(), data.size() - 5 * 30000);
  }
}

// Level 1 keeps two candidates per hash where the other levels keep chains per position, in
// the same tables. A level may change from one call to the next; whatever the tables then
// hold, every match must still be a true one within the window.
TEST_F(DynDeflateTest, ALevelChangedBetweenCallsStillWritesTheData) {
  Bytes data;
  for (test::DataKind kind : test::AllDataKinds()) {
    const Bytes part = test::MakeData(kind, 150000, 4);
    data.insert(data.end(), part.begin(), part.end());
  }
  const std::vector<std::int32_t> chunks = test::RandomChunks(data.size(), 1, 40000, 17, false);
  const CodecWord h = DynDeflateCreate(Word(&f.table), 0, 0, 0);
  ASSERT_NE(h, 0);
  const Encoded run = CompressAtLevels(f.table, h, data, chunks, {1, 6, 2, 9, 1, 4, 1, 8, 3, 1});
  DynDeflateDestroy(h, 0, 0, 0);
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(Strict(run.stream, data), "");
  EXPECT_EQ(~run.crc, test::ReferenceCrc32(data.data(), data.size()));
  EXPECT_LT(run.stream.size(), data.size() * 3 / 4);
}

// ---- Block choice ----

TEST_F(DynDeflateTest, BlockTypeFollowsTheData) {
  int types[4] = {};
  const Bytes random = test::MakeData(test::DataKind::kRandom, 200000, 1);
  Encoded r = RoundTrip(random, test::FixedChunks(random.size(), 65536), 6);
  ASSERT_EQ(Strict(r.stream, random, types), "");
  EXPECT_GT(types[0], 0);
  // Stored pieces of at most 65,535 bytes, 5 bytes of framing each.
  EXPECT_LE(r.stream.size(), random.size() + 5 * (random.size() / 32768 + 2));

  const Bytes text = test::MakeData(test::DataKind::kText, 200000, 1);
  r = RoundTrip(text, test::FixedChunks(text.size(), 65536), 6);
  ASSERT_EQ(Strict(r.stream, text, types), "");
  EXPECT_GT(types[2], 0);

  const Bytes tiny{'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'};
  r = RoundTrip(tiny, {12}, 6);
  ASSERT_EQ(Strict(r.stream, tiny, types), "");
  EXPECT_EQ(types[1], 1);
  EXPECT_EQ(types[0] + types[2], 0);
}

TEST_F(DynDeflateTest, AChangeOfDataStartsANewBlock) {
  // Text, then random bytes, then text: the random middle goes into stored blocks instead of
  // spoiling the text's codes.
  const Bytes text = test::MakeData(test::DataKind::kText, 150000, 2);
  const Bytes random = test::MakeData(test::DataKind::kRandom, 150000, 2);
  Bytes data = text;
  data.insert(data.end(), random.begin(), random.end());
  const Bytes text2 = test::MakeData(test::DataKind::kText, 150000, 3);
  data.insert(data.end(), text2.begin(), text2.end());
  const Encoded parts = RoundTrip(text, {static_cast<std::int32_t>(text.size())}, 6);
  const Encoded mixed = RoundTrip(data, test::FixedChunks(data.size(), 65536), 6);
  int types[4] = {};
  ASSERT_EQ(Strict(mixed.stream, data, types), "");
  EXPECT_GE(types[0], 2);
  EXPECT_LT(mixed.stream.size(), 2 * parts.stream.size() + random.size() + random.size() / 100);
}

// ---- Allocation failures ----

TEST_F(DynDeflateTest, CreateFailsCleanlyAtEveryAllocation) {
  const long before = platform::testing::TaskAllocOutstanding();
  for (long k = 0; k < 3; ++k) {
    platform::testing::FailTaskAllocAfter(k);
    EXPECT_EQ(DynDeflateCreate(f.TableWord(), 0, 0, 0), 0) << k;
    platform::testing::FailTaskAllocAfter(-1);
    EXPECT_EQ(platform::testing::TaskAllocOutstanding(), before) << k;
  }
  platform::testing::FailTaskAllocAfter(3);
  const CodecWord h = DynDeflateCreate(f.TableWord(), 0, 0, 0);
  platform::testing::FailTaskAllocAfter(-1);
  EXPECT_NE(h, 0);
  DynDeflateDestroy(h, 0, 0, 0);
  EXPECT_EQ(platform::testing::TaskAllocOutstanding(), before);
}

TEST_F(DynDeflateTest, ACallFailsWithNoOutputAtEveryAllocation) {
  // Random data makes stored blocks that outgrow the first buffer several times.
  const Bytes data = test::MakeData(test::DataKind::kRandom, 200000, 4);
  const std::vector<std::int32_t> chunks{65536, 65536, 68928};
  const long before = platform::testing::TaskAllocOutstanding();
  for (std::size_t failing = 0; failing < chunks.size(); ++failing) {
    bool sawSuccess = false;
    for (long k = 0; !sawSuccess && k < 20; ++k) {
      SCOPED_TRACE(testing::Message() << "call " << failing << ", allocation " << k);
      const CodecWord h = DynDeflateCreate(f.TableWord(), 0, 0, 0);
      ASSERT_NE(h, 0);
      std::size_t at = 0;
      for (std::size_t c = 0; c <= failing; ++c) {
        CodecBlock b{};
        b.pInput = data.data() + at;
        b.lInputSize = chunks[c];
        b.bFinal = c + 1 == chunks.size();
        at += static_cast<std::size_t>(chunks[c]);
        if (c == failing) platform::testing::FailTaskAllocAfter(k);
        const CodecWord r = DynDeflate(h, Word(&b), 0, 6);
        platform::testing::FailTaskAllocAfter(-1);
        if (c < failing) {
          ASSERT_EQ(r, 1);
        } else if (r == 0) {
          EXPECT_EQ(b.pOutput, nullptr);
          EXPECT_EQ(b.lOutputSize, 0);
        } else {
          sawSuccess = true;
        }
        f.table.pfnFree(b.pOutput);
      }
      DynDeflateDestroy(h, 0, 0, 0);
      EXPECT_EQ(platform::testing::TaskAllocOutstanding(), before);
    }
    EXPECT_TRUE(sawSuccess);
  }
}

TEST_F(DynDeflateTest, AnEmptyChunkNeedsNoAddress) {
  const CodecWord h = DynDeflateCreate(f.TableWord(), 0, 0, 0);
  std::uint32_t crc = 0xFFFFFFFFu;
  CodecBlock b{};
  b.bFinal = 1;
  ASSERT_EQ(DynDeflate(h, Word(&b), Word(&crc), 6), 1);
  EXPECT_EQ(Bytes(b.pOutput, b.pOutput + b.lOutputSize), (Bytes{0x03, 0x00}));
  EXPECT_EQ(crc, 0xFFFFFFFFu);
  f.table.pfnFree(b.pOutput);
  DynDeflateDestroy(h, 0, 0, 0);
}

TEST_F(DynDeflateTest, BadArgumentsAreRefused) {
  EXPECT_EQ(DynDeflateCreate(0, 0, 0, 0), 0);
  const CodecWord h = DynDeflateCreate(f.TableWord(), 0, 0, 0);
  CodecBlock b{};
  b.lInputSize = -1;
  EXPECT_EQ(DynDeflate(h, Word(&b), 0, 6), 0);
  b.lInputSize = 5;
  EXPECT_EQ(DynDeflate(h, Word(&b), 0, 6), 0);  // no input address
  EXPECT_EQ(DynDeflate(h, 0, 0, 6), 0);
  EXPECT_EQ(b.pOutput, nullptr);
  DynDeflateDestroy(h, 0, 0, 0);
}

}  // namespace
}  // namespace lum::codec
