// DynDeflateReset: a handle used for stream after stream writes, for every stream, the bytes a
// new handle writes, whatever the previous stream left behind (finished, abandoned part-way,
// failed), and also when its positions reach the limit where the tables are lowered or cleared.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "codec/dyn_deflate.h"
#include "codec/dyn_deflate_state.h"
#include "codec/dyn_deflate_test_support.h"
#include "platform/task_alloc.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/test_support.h"

namespace lum::codec {
namespace {

using dyntest::Bytes;
using dyntest::Compress;
using dyntest::CompressWith;
using dyntest::Encoded;

class DynDeflateResetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h = DynDeflateCreate(f.TableWord(), 0, 0, 0);
    ASSERT_NE(h, 0);
  }
  void TearDown() override { DynDeflateDestroy(h, 0, 0, 0); }

  // Resets the shared handle, compresses with it and expects a new handle's bytes.
  void ExpectFreshBytes(const Bytes& data, const std::vector<std::int32_t>& chunks, int level) {
    ASSERT_EQ(DynDeflateReset(h, 0, 0, 0), 1);
    const Encoded reused = CompressWith(f.table, h, data, chunks, level);
    const Encoded fresh = Compress(f.table, data, chunks, level);
    ASSERT_TRUE(reused.ok && fresh.ok);
    EXPECT_EQ(reused.stream, fresh.stream);
    EXPECT_EQ(reused.crc, fresh.crc);
  }

  // Sends `size` bytes of text in one non-final call, as an entry abandoned part-way would.
  void Abandon(std::int32_t size) {
    const Bytes data = test::MakeData(test::DataKind::kText, static_cast<std::size_t>(size), 8);
    CodecBlock b{};
    b.pInput = data.data();
    b.lInputSize = size;
    ASSERT_EQ(DynDeflate(h, Word(&b), 0, 6), 1);
    f.table.pfnFree(b.pOutput);
  }

  DynDeflateState& State() { return *reinterpret_cast<DynDeflateState*>(h); }

  test::CodecFixture f;
  CodecWord h = 0;
};

TEST_F(DynDeflateResetTest, EveryStreamGetsTheBytesOfANewHandle) {
  // Long streams fill and slide the buffer; short ones leave old data in it beyond their
  // end; the same data twice would find the old copy if anything of it stayed in reach.
  const Bytes text = test::MakeData(test::DataKind::kText, 700000, 1);
  const Bytes shortText(text.begin(), text.begin() + 5000);
  for (int level : {1, 6, 9}) {
    SCOPED_TRACE(level);
    ExpectFreshBytes(text, test::FixedChunks(text.size(), 65536), level);
    ExpectFreshBytes(shortText, {5000}, level);
    ExpectFreshBytes(shortText, {1000, 4000}, level);
    ExpectFreshBytes({}, {0}, level);
    ExpectFreshBytes(Bytes{7}, {1}, level);
    for (test::DataKind kind : test::AllDataKinds()) {
      const Bytes data = test::MakeData(kind, 150000, 2);
      ExpectFreshBytes(data, test::RandomChunks(data.size(), 1, 70000, 3, false), level);
    }
  }
}

TEST_F(DynDeflateResetTest, AnAbandonedStreamLeavesNothingBehind) {
  const Bytes text = test::MakeData(test::DataKind::kText, 200000, 4);
  for (std::int32_t size : {1, 300, 65536, 240000}) {
    SCOPED_TRACE(size);
    ASSERT_EQ(DynDeflateReset(h, 0, 0, 0), 1);
    Abandon(size);
    // The same text the abandoned stream held, so stale matches would be found.
    ExpectFreshBytes(text, test::FixedChunks(text.size(), 65536), 6);
  }
}

TEST_F(DynDeflateResetTest, AFailedCallLeavesAHandleThatResets) {
  const Bytes random = test::MakeData(test::DataKind::kRandom, 200000, 5);
  const Bytes text = test::MakeData(test::DataKind::kText, 200000, 6);
  for (long k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    ASSERT_EQ(DynDeflateReset(h, 0, 0, 0), 1);
    CodecBlock b{};
    b.pInput = random.data();
    b.lInputSize = static_cast<std::int32_t>(random.size());
    b.bFinal = 1;
    platform::testing::FailTaskAllocAfter(k);
    const CodecWord r = DynDeflate(h, Word(&b), 0, 6);
    platform::testing::FailTaskAllocAfter(-1);
    if (r == 0) {
      EXPECT_EQ(b.pOutput, nullptr);
    }
    f.table.pfnFree(b.pOutput);
    ExpectFreshBytes(text, test::FixedChunks(text.size(), 65536), 6);
  }
}

TEST_F(DynDeflateResetTest, PositionsReachingTheLimitAreLoweredOrCleared) {
  const Bytes text = test::MakeData(test::DataKind::kText, 1 << 20, 7);
  const std::vector<std::int32_t> chunks = test::FixedChunks(text.size(), 65536);
  // A reset just below the limit: the next one clears the tables.
  ASSERT_EQ(DynDeflateReset(h, 0, 0, 0), 1);
  Abandon(100000);
  State().base = kDynRebaseLimit - 4 * kDynWindow;
  ExpectFreshBytes(text, chunks, 6);
  EXPECT_LT(State().base, kDynRebaseLimit);

  // A stream that slides past the limit: the tables are lowered in the middle of it, its
  // matches reaching back across the change.
  for (int level : {1, 9}) {
    SCOPED_TRACE(level);
    ASSERT_EQ(DynDeflateReset(h, 0, 0, 0), 1);
    State().base = kDynRebaseLimit - 8 * kDynWindow;
    const Encoded reused = CompressWith(f.table, h, text, chunks, level);
    EXPECT_LT(State().base, kDynRebaseLimit / 2);
    EXPECT_EQ(reused.stream, Compress(f.table, text, chunks, level).stream);
  }
}

TEST_F(DynDeflateResetTest, ANullHandleIsRefused) {
  EXPECT_EQ(DynDeflateReset(0, 0, 0, 0), 0);
}

}  // namespace
}  // namespace lum::codec
