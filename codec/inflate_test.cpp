// Decoder tests that need no reference library (they also run in the Windows build):
// hand-built streams for each block type and each failure, chunking, truncation and
// allocation failures.
#include "codec/inflate_test_util.h"
#include "platform/task_alloc.h"
#include "tests/support/emulation.h"

namespace lum::codec {
namespace {

using inflate_test::BitWriter;
using inflate_test::DecodeChunked;
using inflate_test::Decoded;
using inflate_test::DecodeWhole;
using inflate_test::DynamicBlock;
using inflate_test::RandomChunks;
using Bytes = std::vector<std::uint8_t>;

// Decodes with both paths, checks that every call gave the same result and size, and
// returns the fast path's result.
Decoded DecodeBoth(test::CodecFixture& f, const Bytes& stream,
                   const std::function<std::function<std::size_t()>()>& chunks) {
  Decoded fast = DecodeChunked(f, stream, chunks());
  Decoded plain = inflate_test::WithPlainOnly([&] { return DecodeChunked(f, stream, chunks()); });
  EXPECT_EQ(fast.ok, plain.ok);
  EXPECT_EQ(fast.failedCall, plain.failedCall);
  EXPECT_EQ(fast.callSizes, plain.callSizes);
  EXPECT_TRUE(fast.out == plain.out);
  EXPECT_EQ(fast.crc, plain.crc);
  return fast;
}

Decoded DecodeBothWhole(test::CodecFixture& f, const Bytes& stream) {
  return DecodeBoth(f, stream,
                    [&] { return [n = stream.size()] { return std::max<std::size_t>(n, 1); }; });
}

Bytes Repeat(std::uint8_t b, std::size_t n) {
  return Bytes(n, b);
}

TEST(InflateStored, SplitAtEveryByteDecodesTheSame) {
  test::CodecFixture f;
  BitWriter w;
  Bytes data = test::MakeData(test::DataKind::kText, 40, 3);
  w.Stored(false, data);
  w.Stored(false, {});  // LEN = 0: no bytes, back to the block header
  w.Header(true, 1);
  w.FixedLiteral('!');
  w.FixedLiteral(256);
  const Bytes stream = w.Finish();
  data.push_back('!');
  for (std::size_t split = 0; split <= stream.size(); ++split) {
    SCOPED_TRACE(split);
    bool first = true;
    Decoded d = DecodeBoth(f, stream, [&] {
      first = true;
      return [&, split] {
        std::size_t n = first ? split : stream.size();
        first = false;
        return n;
      };
    });
    ASSERT_TRUE(d.ok);
    EXPECT_TRUE(d.out == data);
  }
}

TEST(InflateStored, LengthCheckFailureDropsTheCallsOutput) {
  test::CodecFixture f;
  BitWriter w;
  w.Stored(false, Repeat('a', 100));
  w.Stored(false, Repeat('b', 10), /*nlenXor=*/0x0100);
  Decoded d = DecodeBothWhole(f, w.Finish());
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.failedCall, 0);
  EXPECT_TRUE(d.out.empty());  // the 100 good bytes of the same call are gone too

  // In separate calls the first block's bytes survive and the failing call returns 0, and
  // the handle refuses everything after a failure.
  const CodecWord h = f.table.pfnInflateCreate(f.TableWord(), 0, 0, 0);
  const Bytes stream = w.Finish();
  CodecBlock b{};
  b.pInput = stream.data();
  b.lInputSize = 105;
  ASSERT_EQ(f.table.pfnInflate(h, Word(&b), 0, 0), 1);
  EXPECT_EQ(b.lOutputSize, 100);
  f.table.pfnFree(b.pOutput);
  b.pInput = stream.data() + 105;
  b.lInputSize = static_cast<std::int32_t>(stream.size() - 105);
  EXPECT_EQ(f.table.pfnInflate(h, Word(&b), 0, 0), 0);
  EXPECT_EQ(b.pOutput, nullptr);
  BitWriter good;
  good.Stored(true, Repeat('c', 3));
  const Bytes more = good.Finish();
  b.pInput = more.data();
  b.lInputSize = static_cast<std::int32_t>(more.size());
  EXPECT_EQ(f.table.pfnInflate(h, Word(&b), 0, 0), 0);
  EXPECT_EQ(b.pOutput, nullptr);
  f.table.pfnInflateDestroy(h, 0, 0, 0);
}

TEST(InflateFixed, EdgeCasesOfTheBlockFormat) {
  test::CodecFixture f;
  {  // one fixed block holding only the end-of-block code
    Decoded d = DecodeBothWhole(f, {0x03, 0x00});
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.out.empty());
  }
  {  // distance 1, length 258 after one literal; then zero padding bits after the block
    BitWriter w;
    w.Header(true, 1);
    w.FixedLiteral('z');
    w.FixedMatch(258, 1);
    w.FixedLiteral(256);
    Decoded d = DecodeBothWhole(f, w.Finish());
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.out == Repeat('z', 259));
  }
  {  // block type 3 uses its header and nothing else; symbols 286 and 287 do nothing
    BitWriter w;
    w.Header(false, 3);
    w.Header(true, 1);
    w.FixedLiteral('a');
    w.FixedLiteral(286);
    w.FixedLiteral(287);
    w.FixedLiteral('b');
    w.FixedLiteral(256);
    Decoded d = DecodeBothWhole(f, w.Finish());
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.out == (Bytes{'a', 'b'}));
  }
  for (int code : {30, 31}) {  // distance codes 30 and 31 exist in the fixed code but fail
    BitWriter w;
    w.Header(true, 1);
    w.FixedLiteral('a');
    w.FixedLiteral(257);
    w.Code(static_cast<std::uint32_t>(code), 5);
    w.Bits(0, 16);
    EXPECT_FALSE(DecodeBothWhole(f, w.Finish()).ok) << code;
  }
}

TEST(InflateFixed, DistancesBeforeTheOutputCopyZeros) {
  test::CodecFixture f;
  // Leave nonzero history in freed memory first: a fresh handle must not see it.
  const Bytes noise = test::MakeData(test::DataKind::kRandom, 40000, 9);
  BitWriter first;
  first.Stored(true, Bytes(noise.begin(), noise.begin() + 32768));
  ASSERT_TRUE(DecodeBothWhole(f, first.Finish()).ok);

  BitWriter w;
  w.Header(true, 1);
  w.FixedLiteral('q');
  w.FixedMatch(10, 32768);  // reaches 32767 bytes before the start
  w.FixedMatch(5, 11);      // the 'q' followed by zeros
  w.FixedLiteral(256);
  Bytes want{'q'};
  want.resize(11, 0);
  want.push_back('q');
  want.resize(16, 0);
  Decoded d = DecodeBothWhole(f, w.Finish());
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.out == want);
}

// A complete code whose lengths run from 1 to 15 bits, so that long codes go through
// sub-tables, with an incomplete one-code distance set.
struct ChainCode {
  std::vector<int> lit = std::vector<int>(286, 0);
  std::vector<int> dist = {1};
  std::vector<int> symbols;
  ChainCode() {
    const char* letters = "etaoinshrdl";
    for (int i = 0; letters[i]; ++i) symbols.push_back(letters[i]);
    for (int s : {256, 257, int{'x'}, int{'y'}, int{'Q'}}) symbols.push_back(s);
    for (std::size_t i = 0; i < symbols.size(); ++i) {
      lit[static_cast<std::size_t>(symbols[i])] = std::min(static_cast<int>(i) + 1, 15);
    }
  }
};

TEST(InflateDynamic, LongCodesThroughSubTablesAtEveryChunking) {
  test::CodecFixture f;
  ChainCode cc;
  BitWriter w;
  DynamicBlock blk(w, true, cc.lit, cc.dist);
  Bytes want;
  test::Rng rng(5);
  const char* pick = "etaoinshrdlxyQ";
  for (int i = 0; i < 3000; ++i) {
    int s = pick[rng.Next() % 14];
    blk.Lit(s);
    want.push_back(static_cast<std::uint8_t>(s));
    if (rng.Next() % 5 == 0) {  // length 3 at distance 1
      blk.Lit(257);
      blk.Dist(0);
      want.insert(want.end(), 3, static_cast<std::uint8_t>(s));
    }
  }
  blk.Lit(256);
  const Bytes stream = w.Finish();
  for (std::uint64_t seed = 1; seed <= 20; ++seed) {
    Decoded d = DecodeBoth(f, stream, [&] { return RandomChunks(seed, seed * 50); });
    ASSERT_TRUE(d.ok) << seed;
    ASSERT_TRUE(d.out == want) << seed;
  }
}

// Writes a dynamic header whose code lengths are sent as the given code-length symbols
// (each with its extra-bit value); every code-length symbol has the 5-bit code s.
void RawDynamicHeader(BitWriter& w, int hlit, int hdist,
                      const std::vector<std::pair<int, int>>& symbols) {
  w.Header(true, 2);
  w.Bits(static_cast<std::uint32_t>(hlit - 257), 5);
  w.Bits(static_cast<std::uint32_t>(hdist - 1), 5);
  w.Bits(15, 4);
  for (int i = 0; i < 19; ++i) w.Bits(5, 3);
  for (auto [sym, extra] : symbols) {
    w.Code(static_cast<std::uint32_t>(sym), 5);
    if (sym >= 16) w.Bits(static_cast<std::uint32_t>(extra), sym == 16 ? 2 : sym == 17 ? 3 : 7);
  }
}

TEST(InflateDynamic, AcceptedOddHeadersAndTheirLimits) {
  test::CodecFixture f;
  // Repeat 16 first repeats 0 (symbols 0-5); a final 18 run of 138 runs past the one
  // distance length and is cut off, leaving the distance set empty.
  const std::vector<std::pair<int, int>> header = {{16, 3}, {18, 127}, {2, 0},   {18, 100},
                                                   {1, 0},  {2, 0},    {18, 127}};
  std::vector<int> lit(258, 0);
  lit[144] = 2;
  lit[256] = 1;
  lit[257] = 2;
  const auto codes = inflate_test::CanonicalCodes(lit);
  {
    BitWriter w;
    RawDynamicHeader(w, 258, 1, header);
    for (int s : {144, 144, 256}) w.Code(codes[s], lit[s]);
    Decoded d = DecodeBothWhole(f, w.Finish());
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.out == (Bytes{144, 144}));
  }
  {  // ...but a match needs a distance code, and the empty set has none
    BitWriter w;
    RawDynamicHeader(w, 258, 1, header);
    for (int s : {144, 257}) w.Code(codes[s], lit[s]);
    w.Bits(0, 16);
    EXPECT_FALSE(DecodeBothWhole(f, w.Finish()).ok);
  }
  {  // HLIT 288 and HDIST 32 are accepted; dynamic symbols 286/287 do nothing
    std::vector<int> lit288(288, 0), dist(32, 5);
    for (int s : {int{'a'}, 256, 286, 287}) lit288[static_cast<std::size_t>(s)] = 2;
    BitWriter w;
    DynamicBlock blk(w, true, lit288, dist);
    for (int s : {int{'a'}, 286, 287, int{'a'}, 256}) blk.Lit(s);
    Decoded d = DecodeBothWhole(f, w.Finish());
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.out == (Bytes{'a', 'a'}));
  }
}

TEST(InflateDynamic, FailuresOccurOnlyWhereTheUnusedPatternIs) {
  test::CodecFixture f;
  // Incomplete literal set: 'a' = 0, end = 10, pattern 11 unused.
  std::vector<int> lit(257, 0);
  lit['a'] = 1;
  lit[256] = 2;
  {
    BitWriter w;
    DynamicBlock blk(w, true, lit, {1});
    for (int s : {int{'a'}, int{'a'}, 256}) blk.Lit(s);
    Decoded d = DecodeBothWhole(f, w.Finish());
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.out == (Bytes{'a', 'a'}));
  }
  {
    BitWriter w;
    DynamicBlock blk(w, true, lit, {1});
    blk.Lit('a');
    w.Code(3, 2);
    EXPECT_FALSE(DecodeBothWhole(f, w.Finish()).ok);
  }
  {  // a distance code that decodes to 30
    std::vector<int> lit2(258, 0), dist(31, 0);
    lit2['a'] = 1;
    lit2[256] = 2;
    lit2[257] = 2;
    dist[0] = 1;
    dist[30] = 1;
    BitWriter w;
    DynamicBlock blk(w, true, lit2, dist);
    blk.Lit('a');
    blk.Lit(257);
    blk.Dist(0);
    blk.Lit(257);
    blk.Dist(30);
    blk.Lit(256);
    EXPECT_FALSE(DecodeBothWhole(f, w.Finish()).ok);
  }
}

TEST(InflateChunking, LargeEntryIn64KiBChunksKeepsTheCrc) {
  test::CodecFixture f;
  const Bytes data = test::MakeData(test::DataKind::kText, 300 * 1024, 21);
  const Bytes stream = inflate_test::FixedDeflate(data);
  Decoded d = DecodeBoth(f, stream, [] { return [] { return std::size_t{65536}; }; });
  ASSERT_TRUE(d.ok);
  EXPECT_TRUE(d.out == data);
  EXPECT_EQ(~d.crc, test::ReferenceCrc32(data.data(), data.size()));
  EXPECT_GT(d.callSizes.size(), 1u);
}

TEST(InflateChunking, EveryDataKindAtRandomChunkingsMatchesThePlainMachine) {
  test::CodecFixture f;
  for (bool portable : {false, true}) {  // the fast loop in both its compiled forms
    const inflate_test::DecoderPaths paths(false, portable);
    std::uint64_t seed = 40;
    for (test::DataKind kind : test::AllDataKinds()) {
      // Past the 32 KiB window even when emulated.
      const Bytes data = test::MakeData(kind, test::EmulationSized(120000, 40000), seed++);
      const Bytes stream = inflate_test::FixedDeflate(data);
      for (std::size_t maxChunk : {std::size_t{1}, std::size_t{37}, std::size_t{5000}}) {
        Decoded d = DecodeBoth(f, stream, [&] { return RandomChunks(seed, maxChunk); });
        ASSERT_TRUE(d.ok) << test::DataKindName(kind) << " portable=" << portable;
        ASSERT_TRUE(d.out == data) << test::DataKindName(kind) << " " << maxChunk;
      }
    }
  }
}

// Appends the match (length, distance) to `want` byte by byte, the slow obvious way; bytes
// before the start of the stream are zeros, as in a fresh handle's window.
void AppendMatch(Bytes& want, int length, int distance) {
  const auto d = static_cast<std::size_t>(distance);
  for (int i = 0; i < length; ++i) want.push_back(want.size() >= d ? want[want.size() - d] : 0);
}

TEST(InflateCopy, EveryShortDistanceAtEveryLength) {
  // Distances 1–24 cover the repeated byte, the repeated patterns of 2–7 bytes and the
  // 8- and 16-byte word copies with overlap; a literal after each match changes the pattern.
  test::CodecFixture f;
  BitWriter w;
  w.Header(true, 1);
  Bytes want;
  for (int i = 0; i < 24; ++i) {
    w.FixedLiteral('A' + i);
    want.push_back(static_cast<std::uint8_t>('A' + i));
  }
  for (int distance = 1; distance <= 24; ++distance) {
    for (int length = 3; length <= 258; ++length) {
      w.FixedMatch(length, distance);
      AppendMatch(want, length, distance);
      const int lit = (distance * 7 + length) & 0x7F;
      w.FixedLiteral(lit);
      want.push_back(static_cast<std::uint8_t>(lit));
    }
  }
  w.FixedLiteral(256);
  const Bytes stream = w.Finish();
  Decoded whole = DecodeBothWhole(f, stream);
  ASSERT_TRUE(whole.ok);
  ASSERT_EQ(whole.out.size(), want.size());
  EXPECT_TRUE(whole.out == want);
  Decoded chunked = DecodeBoth(f, stream, [] { return RandomChunks(77, 3000); });
  ASSERT_TRUE(chunked.ok);
  EXPECT_TRUE(chunked.out == want);
}

TEST(InflateCopy, MatchesReachingIntoTheWindowAcrossItsWrapPoint) {
  // A first call leaves `prefix` bytes of history, so the window's next position is
  // prefix mod 32768; the second call starts with matches that reach back into the window,
  // some across its wrap point and on into the call's own first bytes.
  test::CodecFixture f;
  const Bytes noise = test::MakeData(test::DataKind::kRandom, 65536, 31);
  for (std::size_t prefix :
       {std::size_t{100}, std::size_t{32768 + 5}, std::size_t{65535}, std::size_t{32768 + 32760}}) {
    SCOPED_TRACE(prefix);
    BitWriter first;
    Bytes want;
    for (std::size_t pos = 0; pos < prefix; pos += 65535) {
      Bytes part(noise.begin() + static_cast<std::ptrdiff_t>(pos),
                 noise.begin() + static_cast<std::ptrdiff_t>(std::min(prefix, pos + 65535)));
      first.Stored(false, part);
      want.insert(want.end(), part.begin(), part.end());
    }
    Bytes stream = first.Finish();
    const std::size_t firstChunk = stream.size();

    BitWriter second;
    second.Header(true, 1);
    test::Rng rng(prefix);
    for (int i = 0; i < 400; ++i) {
      const int lits = static_cast<int>(rng.Next() % 3);
      for (int k = 0; k < lits; ++k) {
        second.FixedLiteral('a' + k);
        want.push_back(static_cast<std::uint8_t>('a' + k));
      }
      static constexpr int kDistances[] = {3, 8, 12, 20, 40, 300, 32000, 32768};
      static constexpr int kLengths[] = {3, 9, 17, 40, 258};
      const int distance = kDistances[rng.Next() % 8];
      const int length = kLengths[rng.Next() % 5];
      second.FixedMatch(length, distance);
      AppendMatch(want, length, distance);
    }
    second.FixedLiteral(256);
    const Bytes rest = second.Finish();
    stream.insert(stream.end(), rest.begin(), rest.end());

    auto chunks = [firstChunk] {
      return [firstChunk, calls = 0]() mutable {
        return ++calls == 1 ? firstChunk : std::size_t{1} << 20;
      };
    };
    Decoded d = DecodeBoth(f, stream, chunks);
    ASSERT_TRUE(d.ok);
    ASSERT_EQ(d.callSizes.size(), 2u);
    ASSERT_EQ(d.out.size(), want.size());
    EXPECT_TRUE(d.out == want);
  }
}

TEST(InflateDamage, TruncationAtEveryByteKeepsWhatWasComplete) {
  test::CodecFixture f;
  const Bytes data = test::MakeData(test::DataKind::kText, 1500, 8);
  Bytes stream = inflate_test::FixedDeflate(data);
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    const Bytes part(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
    Decoded d = DecodeBoth(f, part, [&] { return RandomChunks(cut, 40); });
    ASSERT_TRUE(d.ok) << cut;
    ASSERT_LE(d.out.size(), data.size()) << cut;
    ASSERT_TRUE(std::equal(d.out.begin(), d.out.end(), data.begin())) << cut;
  }
}

TEST(InflateDamage, BitFlipsGiveTheSameResultOnBothPaths) {
  test::CodecFixture f;
  test::Rng rng(99);
  const Bytes data = test::MakeData(test::DataKind::kBinary, 30000, 4);
  ChainCode cc;
  BitWriter w;
  {
    DynamicBlock blk(w, false, cc.lit, cc.dist);
    for (int i = 0; i < 2000; ++i) blk.Lit("etaoinshrdlxyQ"[rng.Next() % 14]);
    blk.Lit(256);
  }
  Bytes streams[2] = {inflate_test::FixedDeflate(data), w.Finish()};
  int failures = 0;
  for (const Bytes& good : streams) {
    for (int trial = 0; trial < 150; ++trial) {
      Bytes bad = good;
      bad[rng.Next() % bad.size()] ^= static_cast<std::uint8_t>(1u << (rng.Next() % 8));
      Decoded d = DecodeBoth(f, bad, [&] { return RandomChunks(trial, 3000); });
      failures += d.ok ? 0 : 1;
    }
  }
  EXPECT_GT(failures, 0);  // some flips must hit an unused pattern or a bad distance
}

TEST(InflateContract, EmptyChunksAndBadArguments) {
  test::CodecFixture f;
  const CodecWord h = f.table.pfnInflateCreate(f.TableWord(), 0, 0, 0);
  ASSERT_NE(h, 0);
  CodecBlock b{};
  std::uint32_t crc = 0xFFFFFFFFu;
  ASSERT_EQ(f.table.pfnInflate(h, Word(&b), Word(&crc), 0), 1);  // no input: a buffer, 0 bytes
  EXPECT_NE(b.pOutput, nullptr);
  EXPECT_EQ(b.lOutputSize, 0);
  EXPECT_EQ(crc, 0xFFFFFFFFu);
  f.table.pfnFree(b.pOutput);
  b.lInputSize = -1;
  EXPECT_EQ(f.table.pfnInflate(h, Word(&b), 0, 0), 0);
  EXPECT_EQ(b.pOutput, nullptr);
  b.lInputSize = 4;  // no input address
  EXPECT_EQ(f.table.pfnInflate(h, Word(&b), 0, 0), 0);
  EXPECT_EQ(f.table.pfnInflate(h, 0, 0, 0), 0);
  EXPECT_EQ(f.table.pfnInflate(0, Word(&b), 0, 0), 0);
  // None of those consumed anything: the handle still decodes.
  const Bytes one = {0x4B, 0x04, 0x00};  // fixed block: 'a', end
  b.pInput = one.data();
  b.lInputSize = 3;
  ASSERT_EQ(f.table.pfnInflate(h, Word(&b), 0, 0), 1);
  ASSERT_EQ(b.lOutputSize, 1);
  EXPECT_EQ(b.pOutput[0], 'a');
  f.table.pfnFree(b.pOutput);
  f.table.pfnInflateDestroy(h, 0, 0, 0);
  EXPECT_EQ(f.table.pfnInflateCreate(0, 0, 0, 0), 0);
}

// Every allocation of a create call and of a decoding run fails in turn: the call
// reports it, and nothing stays allocated once the handle is destroyed.
TEST(InflateAllocation, EveryFailingAllocationIsReportedWithoutLeaks) {
  namespace pt = platform::testing;
  test::CodecFixture f;
  const Bytes data = test::MakeData(test::DataKind::kText, 100000, 2);
  const Bytes rest = inflate_test::FixedDeflate(data);
  // A dynamic block first, so that its tables are allocated too; an empty stored block
  // pads it to a byte boundary where the fixed-code stream joins.
  BitWriter joined;
  {
    ChainCode cc;
    DynamicBlock blk(joined, false, cc.lit, cc.dist);
    blk.Lit('e');
    blk.Lit(256);
    joined.Stored(false, {});
  }
  Bytes stream = joined.Finish();
  stream.insert(stream.end(), rest.begin(), rest.end());
  Bytes want = {'e'};
  want.insert(want.end(), data.begin(), data.end());

  const long start = pt::TaskAllocOutstanding();
  pt::FailTaskAllocAfter(-1);
  const long before = pt::TaskAllocCalls();
  Decoded full = DecodeChunked(f, stream, [] { return std::size_t{20000}; });
  const long needed = pt::TaskAllocCalls() - before;
  ASSERT_TRUE(full.ok);
  ASSERT_TRUE(full.out == want);
  ASSERT_GT(needed, 6);

  for (long n = 0; n < needed; ++n) {
    SCOPED_TRACE(n);
    pt::FailTaskAllocAfter(n);
    const CodecWord h = f.table.pfnInflateCreate(f.TableWord(), 0, 0, 0);
    if (h == 0) {
      pt::FailTaskAllocAfter(-1);
      EXPECT_EQ(pt::TaskAllocOutstanding(), start);
      continue;
    }
    bool failed = false;
    Bytes out;
    for (std::size_t pos = 0; pos < stream.size(); pos += 20000) {
      CodecBlock b{};
      b.pInput = stream.data() + pos;
      b.lInputSize = static_cast<std::int32_t>(std::min<std::size_t>(20000, stream.size() - pos));
      if (f.table.pfnInflate(h, Word(&b), 0, 0) == 0) {
        EXPECT_EQ(b.pOutput, nullptr);
        EXPECT_EQ(b.lOutputSize, 0);
        failed = true;
        break;
      }
      out.insert(out.end(), b.pOutput, b.pOutput + b.lOutputSize);
      f.table.pfnFree(b.pOutput);
    }
    f.table.pfnInflateDestroy(h, 0, 0, 0);
    pt::FailTaskAllocAfter(-1);
    EXPECT_TRUE(failed);
    EXPECT_EQ(pt::TaskAllocOutstanding(), start);
  }
}

}  // namespace
}  // namespace lum::codec
