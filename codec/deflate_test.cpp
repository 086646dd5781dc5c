// The Deflate encoder: exact bytes for known inputs, the parse decisions its rules imply, byte
// equality with the literal model in tests/support for many inputs, levels and chunkings,
// round trips through our own decoder, and allocation failures.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "codec/deflate.h"
#include "codec/deflate_levels.h"
#include "platform/task_alloc.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/test_support.h"

namespace lum::codec {
namespace {

using test::Copy;
using test::DeflateParams;
using test::DeflateToken;
using test::EndOfBlock;
using test::Lit;

using Bytes = std::vector<std::uint8_t>;

Bytes FromText(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

DeflateParams Level(int level) {
  const DeflateLevel p = DeflateLevelParams(level);
  return {p.bGreedy != 0, p.lMaxCandidates, p.lCompareLength};
}

// The encoder's whole stream for `data` as one final chunk.
Bytes Encode(const test::CodecFixture& f, const Bytes& data, const DeflateParams& params) {
  const test::CodecDeflateRun run =
      test::CodecDeflateChunks(f.table, data, {static_cast<std::int32_t>(data.size())}, params);
  EXPECT_TRUE(run.ok);
  return run.Joined();
}

std::vector<DeflateToken> Tokens(const Bytes& stream) {
  std::vector<DeflateToken> tokens;
  EXPECT_TRUE(test::ReadFixedTokens(stream, tokens)) << test::ToString(tokens);
  return tokens;
}

std::vector<DeflateToken> LiteralsOf(const std::string& s) {
  std::vector<DeflateToken> t;
  for (char c : s) t.push_back(Lit(static_cast<std::uint8_t>(c)));
  return t;
}

// Our decoder through the entry table, fed in pieces of `piece` bytes.
bool InflateWithCodec(const test::CodecFixture& f, const Bytes& stream, std::size_t piece,
                      Bytes& out) {
  const CodecWord handle = f.table.pfnInflateCreate(f.TableWord(), 0, 0, 0);
  if (handle == 0) return false;
  bool ok = true;
  for (std::size_t at = 0; ok && (at < stream.size() || at == 0); at += piece) {
    CodecBlock block{};
    block.pInput = stream.data() + at;
    block.lInputSize = static_cast<std::int32_t>(std::min(piece, stream.size() - at));
    ok = f.table.pfnInflate(handle, Word(&block), 0, 0) == 1 && block.pOutput != nullptr;
    if (ok) out.insert(out.end(), block.pOutput, block.pOutput + block.lOutputSize);
    f.table.pfnFree(block.pOutput);
    if (stream.empty()) break;
  }
  f.table.pfnInflateDestroy(handle, 0, 0, 0);
  return ok;
}

TEST(DeflateGolden, EmptyFinalChunkAndAbcAtEveryLevel) {
  test::CodecFixture f;
  for (int level = 1; level <= 9; ++level) {
    SCOPED_TRACE(level);
    EXPECT_EQ(Encode(f, {}, Level(level)), (Bytes{0x03, 0x00}));
    EXPECT_EQ(Encode(f, FromText("abc"), Level(level)), (Bytes{0x4B, 0x4C, 0x4A, 0x06, 0x00}));
  }
}

TEST(DeflateGolden, RepeatedAbcAtLevel6) {
  test::CodecFixture f;
  const Bytes out = Encode(f, FromText("abcabcabcabc"), Level(6));
  EXPECT_EQ(out, (Bytes{0x4B, 0x4C, 0x4A, 0x86, 0x23, 0x00}));
  EXPECT_EQ(Tokens(out),
            (std::vector<DeflateToken>{Lit('a'), Lit('b'), Lit('c'), Copy(9, 3), EndOfBlock()}));
}

TEST(DeflateGolden, LongMatchesAreSplitWithoutPiecesBelowThree) {
  test::CodecFixture f;
  struct Case {
    std::int32_t length;
    std::vector<std::int32_t> pieces;
  };
  const Case cases[] = {{258, {258}},     {259, {256, 3}},   {260, {257, 3}},     {261, {258, 3}},
                        {299, {258, 41}}, {516, {258, 258}}, {517, {258, 256, 3}}};
  for (int level : {1, 6, 9}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "level " << level << " length " << c.length);
      // One literal, then a run the length of the match at distance 1.
      std::vector<DeflateToken> want{Lit('x')};
      for (std::int32_t piece : c.pieces) want.push_back(Copy(piece, 1));
      want.push_back(EndOfBlock());
      EXPECT_EQ(Tokens(Encode(f, Bytes(1 + c.length, 'x'), Level(level))), want);
    }
  }
}

TEST(DeflateGolden, DeferredMatchIsReplacedOnlyByOneTwoLonger) {
  test::CodecFixture f;
  // At the second "abcde" a match of 5 is deferred; the next byte starts a match of 6 with
  // "bcdefg" (not two longer: the deferred match is written) or of 7 with "bcdefgh" (two
  // longer: 'a' goes out as a literal and the 7 is written). The first "bcde" repeats the 4
  // bytes inside "abcde", which the expected symbols show as well.
  const Bytes six = FromText("abcde#bcdefg%abcdefg!");
  std::vector<DeflateToken> want6 = LiteralsOf("abcde#");
  want6.push_back(Copy(4, 5));
  for (DeflateToken t : LiteralsOf("fg%")) want6.push_back(t);
  want6.push_back(Copy(5, 13));
  for (DeflateToken t : LiteralsOf("fg!")) want6.push_back(t);
  want6.push_back(EndOfBlock());
  EXPECT_EQ(Tokens(Encode(f, six, Level(6))), want6)
      << test::ToString(Tokens(Encode(f, six, Level(6))));

  const Bytes seven = FromText("abcde#bcdefgh%abcdefgh!");
  std::vector<DeflateToken> want7 = LiteralsOf("abcde#");
  want7.push_back(Copy(4, 5));
  for (DeflateToken t : LiteralsOf("fgh%a")) want7.push_back(t);
  want7.push_back(Copy(7, 9));
  want7.push_back(Lit('!'));
  want7.push_back(EndOfBlock());
  EXPECT_EQ(Tokens(Encode(f, seven, Level(6))), want7)
      << test::ToString(Tokens(Encode(f, seven, Level(6))));
}

TEST(DeflateGolden, FewerThanFourBytesLeftNeverMatch) {
  test::CodecFixture f;
  // "abcab" is in the history, but the second chunk has only 3 bytes: all literals.
  const Bytes data = FromText("abcabcabc");
  const test::CodecDeflateRun run = test::CodecDeflateChunks(f.table, data, {6, 3}, Level(9));
  ASSERT_TRUE(run.ok);
  EXPECT_EQ(Tokens(run.Joined()),
            (std::vector<DeflateToken>{Lit('a'), Lit('b'), Lit('c'), Lit('a'), Lit('b'), Lit('c'),
                                       EndOfBlock(), Lit('a'), Lit('b'), Lit('c'), EndOfBlock()}));
  // The same 3 bytes alone: literals at every level.
  for (int level = 1; level <= 9; ++level) {
    EXPECT_EQ(Tokens(Encode(f, FromText("aaa"), Level(level))),
              (std::vector<DeflateToken>{Lit('a'), Lit('a'), Lit('a'), EndOfBlock()}));
  }
}

TEST(DeflateGolden, Level9FindsDistance32768) {
  test::CodecFixture f;
  Bytes data = test::MakeData(test::DataKind::kRandom, 32768, 7);
  data.insert(data.end(), data.begin(), data.begin() + 400);
  const std::vector<DeflateToken> tokens = Tokens(Encode(f, data, Level(9)));
  ASSERT_GE(tokens.size(), 4u);
  // The repeat is one match of 400 at the largest distance, in pieces of 258 and 142.
  EXPECT_EQ(tokens[tokens.size() - 3], Copy(258, 32768));
  EXPECT_EQ(tokens[tokens.size() - 2], Copy(142, 32768));
}

TEST(DeflateGolden, MatchesReachIntoEarlierChunks) {
  test::CodecFixture f;
  const Bytes data = FromText("0123456789abcdef0123456789abcdef");
  const test::CodecDeflateRun run = test::CodecDeflateChunks(f.table, data, {16, 0, 16}, Level(1));
  ASSERT_TRUE(run.ok);
  ASSERT_EQ(run.outputs.size(), 3u);
  std::vector<DeflateToken> want = LiteralsOf("0123456789abcdef");
  want.push_back(EndOfBlock());
  want.push_back(EndOfBlock());  // the empty chunk is an empty block
  want.push_back(Copy(16, 16));
  want.push_back(EndOfBlock());
  EXPECT_EQ(Tokens(run.Joined()), want);
}

// ---- Equality with the literal model ----

struct Input {
  std::string name;
  Bytes data;
};

Bytes Periodic(std::size_t period, std::size_t size, std::uint64_t seed) {
  const Bytes unit = test::MakeData(test::DataKind::kRandom, period, seed);
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = unit[i % period];
  return out;
}

// Many different 4-byte words that share one hash, in random order with genuine repeats:
// long chains whose entries mostly fail the 4-byte test.
Bytes HashCollisions(std::size_t size, std::uint64_t seed) {
  test::Rng rng(seed);
  const auto hash = [](std::uint32_t w) { return (w * 0x1E35A7BDu) >> 16; };
  const std::uint32_t target = hash(0x64636261u);
  std::vector<std::uint32_t> words;
  for (std::uint32_t w = 1; words.size() < 48; ++w) {
    const std::uint32_t candidate = w * 2654435761u;
    if (hash(candidate) == target) words.push_back(candidate);
  }
  Bytes out;
  while (out.size() < size) {
    const std::uint32_t w = words[rng.Next() % (rng.Next() % 4 == 0 ? words.size() : 6)];
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(w >> (8 * k)));
  }
  out.resize(size);
  return out;
}

// Runs of a few values with lengths around and above the longest match.
Bytes LongRuns(std::size_t size, std::uint64_t seed) {
  test::Rng rng(seed);
  Bytes out;
  while (out.size() < size) {
    const std::size_t n = rng.Range(250, 800);
    out.insert(out.end(), n, static_cast<std::uint8_t>(rng.Next() % 3));
    out.push_back(static_cast<std::uint8_t>(rng.Next()));
  }
  out.resize(size);
  return out;
}

std::vector<Input> Inputs() {
  std::vector<Input> inputs;
  for (test::DataKind kind : test::AllDataKinds()) {
    const std::size_t size = kind == test::DataKind::kLongRepeats ? 70000 : 16000;
    inputs.push_back({test::DataKindName(kind), test::MakeData(kind, size, 11)});
  }
  for (std::size_t period : {1, 2, 3, 4, 255}) {
    inputs.push_back({"period " + std::to_string(period), Periodic(period, 6000, period)});
  }
  for (std::size_t period : {32767, 32768, 32769}) {
    inputs.push_back({"period " + std::to_string(period), Periodic(period, 66000, period)});
  }
  inputs.push_back({"hash collisions", HashCollisions(8000, 5)});
  inputs.push_back({"long runs", LongRuns(12000, 6)});
  return inputs;
}

struct Chunking {
  std::string name;
  std::vector<std::int32_t> chunks;
};

std::vector<Chunking> Chunkings(std::size_t size, std::uint64_t seed) {
  return {
      {"65536", test::FixedChunks(size, 65536)},
      {"random 1..9000", test::RandomChunks(size, 1, 9000, seed)},
      {"random 0..300, empty final",
       test::RandomChunks(std::min<std::size_t>(size, 12000), 0, 300, seed + 1, true)},
      {"random 0..6", test::RandomChunks(std::min<std::size_t>(size, 3000), 0, 6, seed + 2)},
  };
}

void ExpectSameAsModel(const test::CodecFixture& f, const Bytes& data,
                       const std::vector<std::int32_t>& chunks, const DeflateParams& params) {
  const test::CodecDeflateRun run = test::CodecDeflateChunks(f.table, data, chunks, params);
  ASSERT_TRUE(run.ok);
  const auto model = test::ReferenceDeflateChunks(f.table, data, chunks, params);
  ASSERT_EQ(run.outputs.size(), model.size());
  for (std::size_t c = 0; c < model.size(); ++c) {
    ASSERT_EQ(run.outputs[c], model[c]) << "call " << c << " of " << model.size();
  }
  std::size_t total = 0;
  for (std::int32_t n : chunks) total += static_cast<std::size_t>(n);
  EXPECT_EQ(~run.crc, test::ReferenceCrc32(data.data(), total));
}

TEST(DeflateModel, SameBytesAsModelAtEveryLevelAndChunking) {
  test::CodecFixture f;
  std::uint64_t seed = 100;
  for (const Input& input : Inputs()) {
    for (const Chunking& chunking : Chunkings(input.data.size(), ++seed)) {
      std::size_t used = 0;
      for (std::int32_t n : chunking.chunks) used += static_cast<std::size_t>(n);
      const Bytes data(input.data.begin(), input.data.begin() + used);
      for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(testing::Message()
                     << input.name << ", chunks " << chunking.name << ", level " << level);
        ExpectSameAsModel(f, data, chunking.chunks, Level(level));
        if (HasFatalFailure()) return;
      }
    }
  }
}

TEST(DeflateModel, SameBytesForParametersOutsideTheLevelTable) {
  test::CodecFixture f;
  const Bytes text = test::MakeData(test::DataKind::kText, 9000, 3);
  const Bytes runs = test::MakeData(test::DataKind::kRuns, 9000, 4);
  const std::vector<std::int32_t> chunks = test::RandomChunks(9000, 0, 2000, 9);
  // Candidate counts beyond the list (limited to 1–1,000) and every kind of compare length,
  // including ones at or below the 4 bytes every candidate shares.
  const DeflateParams params[] = {
      {true, 1, 4},     {false, 1, 0},         {true, 0, 8},    {false, -3, 40}, {true, 3, -1},
      {false, 5000, 5}, {true, 1000, 1 << 30}, {false, 2, 300}, {true, 7, 259},  {false, 1, 32768},
  };
  for (const DeflateParams& p : params) {
    SCOPED_TRACE(testing::Message()
                 << p.greedy << " " << p.maxCandidates << " " << p.compareLength);
    ExpectSameAsModel(f, text, chunks, p);
    ExpectSameAsModel(f, runs, chunks, p);
  }
}

TEST(DeflateModel, PositionsRenumberedMidStreamGiveTheSameBytes) {
  test::CodecFixture f;
  const Bytes data = test::MakeData(test::DataKind::kText, 200000, 8);
  const std::vector<std::int32_t> chunks = test::RandomChunks(data.size(), 1, 20000, 12);
  const test::CodecDeflateRun plain = test::CodecDeflateChunks(f.table, data, chunks, Level(4));
  ASSERT_TRUE(plain.ok);

  // Same stream, but positions are moved around between calls, once to just below the point
  // where the encoder renumbers them itself.
  const CodecWord handle = f.table.pfnDeflateCreate(f.TableWord(), 0, 0, 0);
  ASSERT_NE(handle, 0);
  auto* state = reinterpret_cast<DeflateState*>(handle);
  const std::uint32_t targets[] = {65536, 0x7FFF0000u, 70000, 0x7FFFFFF0u, 1u << 20};
  std::size_t at = 0;
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    state->finder->Renumber(targets[c % 5]);
    CodecBlock block{};
    block.pInput = data.data() + at;
    block.lInputSize = chunks[c];
    block.bFinal = c + 1 == chunks.size();
    ApplyDeflateLevel(block, 4);
    ASSERT_EQ(f.table.pfnDeflate(handle, Word(&block), 0, 0), 1);
    EXPECT_EQ(Bytes(block.pOutput, block.pOutput + block.lOutputSize), plain.outputs[c]) << c;
    f.table.pfnFree(block.pOutput);
    at += static_cast<std::size_t>(chunks[c]);
  }
  f.table.pfnDeflateDestroy(handle, 0, 0, 0);
}

// ---- Round trips through our own decoder ----

TEST(DeflateRoundTrip, OwnDecoderRestoresEveryInput) {
  test::CodecFixture f;
  std::uint64_t seed = 500;
  for (const Input& input : Inputs()) {
    for (int level : {1, 4, 5, 9}) {
      const auto chunks = test::RandomChunks(input.data.size(), 0, 70000, ++seed);
      SCOPED_TRACE(testing::Message() << input.name << ", level " << level);
      const test::CodecDeflateRun run =
          test::CodecDeflateChunks(f.table, input.data, chunks, Level(level));
      ASSERT_TRUE(run.ok);
      Bytes back;
      ASSERT_TRUE(InflateWithCodec(f, run.Joined(), 65536, back));
      EXPECT_TRUE(back == input.data);
    }
  }
}

// ---- Code tables ----

TEST(DeflateCodes, TableLookupsAgreeWithTheCodeRecords) {
  test::CodecFixture f;
  DeflateCodeTables codes;
  BuildDeflateCodeTables(f.table, codes);
  for (std::int32_t d = 1; d <= 32768; ++d) {
    const int k = FindCodeRecord(kDistanceCodes, kDistanceCodeCount, d);
    ASSERT_GE(k, 0);
    const DeflateCode c = codes.Distance(d);
    const std::uint32_t reversedCode = kBitReverse[kDistanceCodes[k].code] >> 3;
    ASSERT_EQ(c.count, 5u + kDistanceCodes[k].extraBits) << d;
    ASSERT_EQ(c.bits, reversedCode | static_cast<std::uint32_t>(d - kDistanceCodes[k].lowest) << 5)
        << d;
  }
  for (std::int32_t len = 3; len <= 258; ++len) {
    const int k = FindCodeRecord(kLengthCodes, kLengthCodeCount, len);
    ASSERT_GE(k, 0);
    EXPECT_EQ(codes.length[len].count,
              (kLengthCodes[k].code < 280 ? 7u : 8u) + kLengthCodes[k].extraBits)
        << len;
  }
  EXPECT_EQ(FindCodeRecord(kLengthCodes, kLengthCodeCount, 258), kLengthCodeCount - 1);
  EXPECT_EQ(FindCodeRecord(kLengthCodes, kLengthCodeCount, 259), -1);
}

// ---- Allocation failures ----

TEST(DeflateAllocation, CreateFailsCleanlyAtEveryAllocation) {
  test::CodecFixture f;
  const long before = platform::testing::TaskAllocOutstanding();
  long calls = 0;
  for (long k = 0;; ++k) {
    platform::testing::FailTaskAllocAfter(k);
    const CodecWord handle = f.table.pfnDeflateCreate(f.TableWord(), 0, 0, 0);
    calls = platform::testing::TaskAllocCalls();
    platform::testing::FailTaskAllocAfter(-1);
    if (handle != 0) {
      f.table.pfnDeflateDestroy(handle, 0, 0, 0);
      break;
    }
    EXPECT_EQ(platform::testing::TaskAllocOutstanding(), before) << k;
  }
  EXPECT_EQ(calls, 3);  // state, match finder, bit writer
  EXPECT_EQ(platform::testing::TaskAllocOutstanding(), before);
}

TEST(DeflateAllocation, CallFailsWithNoOutputAtEveryAllocation) {
  test::CodecFixture f;
  // Incompressible input: a 65,536-byte chunk needs its buffer doubled twice.
  const Bytes data = test::MakeData(test::DataKind::kRandom, 3 * 65536, 21);
  const auto chunks = test::FixedChunks(data.size(), 65536);
  const long before = platform::testing::TaskAllocOutstanding();
  for (std::size_t failingCall = 0; failingCall < chunks.size(); ++failingCall) {
    for (long k = 0; k < 3; ++k) {
      SCOPED_TRACE(testing::Message() << "call " << failingCall << ", allocation " << k);
      const CodecWord handle = f.table.pfnDeflateCreate(f.TableWord(), 0, 0, 0);
      ASSERT_NE(handle, 0);
      std::size_t at = 0;
      for (std::size_t c = 0; c <= failingCall; ++c) {
        CodecBlock block{};
        block.pInput = data.data() + at;
        block.lInputSize = chunks[c];
        block.bFinal = c + 1 == chunks.size();
        block.pOutput = reinterpret_cast<std::uint8_t*>(&block);  // must be cleared
        block.lOutputSize = 12345;
        ApplyDeflateLevel(block, 6);
        if (c == failingCall) platform::testing::FailTaskAllocAfter(k);
        const CodecWord result = f.table.pfnDeflate(handle, Word(&block), 0, 0);
        platform::testing::FailTaskAllocAfter(-1);
        if (c == failingCall) {
          EXPECT_EQ(result, 0);
          EXPECT_EQ(block.pOutput, nullptr);
          EXPECT_EQ(block.lOutputSize, 0);
        } else {
          ASSERT_EQ(result, 1);
        }
        f.table.pfnFree(block.pOutput == reinterpret_cast<std::uint8_t*>(&block) ? nullptr
                                                                                 : block.pOutput);
        at += static_cast<std::size_t>(chunks[c]);
      }
      f.table.pfnDeflateDestroy(handle, 0, 0, 0);
      EXPECT_EQ(platform::testing::TaskAllocOutstanding(), before);
    }
  }
}

TEST(DeflateAllocation, OutputBufferStartsAt32KiBAndDoublesOnlyWhenFull) {
  test::CodecFixture f;
  // 29,126 literals of 9 bits, the header and the end code fill 32,768 bytes exactly; one
  // more literal needs the buffer doubled.
  for (std::size_t size : {29125u, 29126u, 29127u}) {
    // Bytes 144–255 (9 bits each) with no 4 bytes repeated anywhere, so no matches.
    Bytes data;
    std::set<std::uint32_t> seen;
    test::Rng rng(size);
    while (data.size() < size) {
      const auto b = static_cast<std::uint8_t>(144 + rng.Next() % 112);
      if (data.size() >= 3) {
        const std::size_t n = data.size();
        const std::uint32_t w = data[n - 3] | data[n - 2] << 8 | data[n - 1] << 16 | b << 24;
        if (!seen.insert(w).second) continue;
      }
      data.push_back(b);
    }
    platform::testing::FailTaskAllocAfter(1000);
    const test::CodecDeflateRun run =
        test::CodecDeflateChunks(f.table, data, {static_cast<std::int32_t>(size)}, Level(1));
    const long allocations = platform::testing::TaskAllocCalls();
    platform::testing::FailTaskAllocAfter(-1);
    ASSERT_TRUE(run.ok);
    const std::size_t expectedBytes = (3 + 9 * size + 7 + 7) / 8;
    EXPECT_EQ(run.Joined().size(), expectedBytes);
    EXPECT_EQ(allocations, expectedBytes > 32768 ? 5 : 4) << size;  // 3 create + buffer (+1)
  }
}

}  // namespace
}  // namespace lum::codec
