// CompressArchive with the DynamicHuffman property: off by default and then byte for byte the
// fixed-Huffman archive; on, entries are smaller, decode to their data with the right CRC,
// keep the stored fallback and level 0, allocation failures report the usual messages, and
// the one encoder handle kept from entry to entry writes what a new handle would.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "codec/deflate_levels.h"
#include "codec/dyn_deflate_test_support.h"
#include "platform/task_alloc.h"
#include "tests/support/deflate_reference.h"
#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_layout.h"
#include "zip/zip_engine.h"

namespace lum::test {
namespace {

using zip::cZipEngine;
using zip::Variant;
using Bytes = std::vector<std::uint8_t>;

Bytes Write(cZipEngine& z, std::int32_t level = 6) {
  Bytes out;
  EXPECT_TRUE(z.CompressArchive(Variant::Ref(out), {}, level)) << z.LastError();
  return out;
}

Bytes Inflate(const CodecFixture& f, const Bytes& stream) {
  const codec::CodecWord h = f.table.pfnInflateCreate(f.TableWord(), 0, 0, 0);
  codec::CodecBlock b{};
  b.pInput = stream.data();
  b.lInputSize = static_cast<std::int32_t>(stream.size());
  EXPECT_EQ(f.table.pfnInflate(h, codec::Word(&b), 0, 0), 1);
  Bytes out;
  if (b.pOutput != nullptr) out.assign(b.pOutput, b.pOutput + b.lOutputSize);
  f.table.pfnFree(b.pOutput);
  f.table.pfnInflateDestroy(h, 0, 0, 0);
  return out;
}

TEST(WriteDynamic, OffByDefaultAndThenTheFixedEncodersBytes) {
  // One engine throughout: an entry from memory takes the time it was added, so a second engine
  // could stamp a different second.
  const Bytes text = MakeData(DataKind::kText, 150000, 1);
  cZipEngine z;
  EXPECT_FALSE(z.DynamicHuffman());
  ASSERT_TRUE(z.AddFile(Variant(text), "t.txt"));
  const Bytes fixed = Write(z);
  z.SetDynamicHuffman(true);
  EXPECT_TRUE(z.DynamicHuffman());
  const Bytes dynamic = Write(z);
  z.SetDynamicHuffman(false);
  EXPECT_EQ(Write(z), fixed);
  EXPECT_NE(dynamic, fixed);
  EXPECT_LT(dynamic.size(), fixed.size());
}

TEST(WriteDynamic, EntriesDecodeAreSmallerAndKeepTheStoredFallback) {
  CodecFixture f;
  const Bytes text = MakeData(DataKind::kText, 200000, 2);
  const Bytes binary = MakeData(DataKind::kBinary, 70000, 3);
  const Bytes random = MakeData(DataKind::kRandom, 100000, 4);
  const Bytes empty;
  for (const int level : {1, 6, 9}) {
    SCOPED_TRACE(level);
    cZipEngine fixedEngine;
    cZipEngine z;
    z.SetDynamicHuffman(true);
    for (cZipEngine* e : {&fixedEngine, &z}) {
      ASSERT_TRUE(e->AddFile(Variant(text), "text.txt"));
      ASSERT_TRUE(e->AddFile(Variant(binary), "binary.bin"));
      ASSERT_TRUE(e->AddFile(Variant(random), "random.bin"));
      ASSERT_TRUE(e->AddFile(Variant(empty), "empty"));
      ASSERT_TRUE(e->AddFile(Variant(text), "level0.txt", {}, {}, 0, 0));
    }
    const auto fixed = ReadZipLayout(Write(fixedEngine, level));
    const auto dyn = ReadZipLayout(Write(z, level));
    ASSERT_TRUE(fixed.has_value() && dyn.has_value());
    ASSERT_EQ(dyn->entries.size(), 5u);
    const Bytes* sources[5] = {&text, &binary, &random, &empty, &text};
    for (std::size_t i = 0; i < 5; ++i) {
      const auto& e = dyn->entries[i];
      EXPECT_EQ(e.central.crc32, ReferenceCrc32(sources[i]->data(), sources[i]->size())) << i;
      EXPECT_EQ(e.central.size, sources[i]->size()) << i;
    }
    // Deflate where it pays, smaller than the fixed codes.
    for (std::size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(dyn->entries[i].central.method, 8);
      EXPECT_EQ(Inflate(f, dyn->entries[i].data), *sources[i]);
      EXPECT_LT(dyn->entries[i].data.size(), fixed->entries[i].data.size() * 95 / 100) << i;
    }
    // Random data, empty data and level 0 are stored, as with the fixed encoder.
    for (std::size_t i = 2; i < 5; ++i) {
      EXPECT_EQ(dyn->entries[i].central.method, 0) << i;
      EXPECT_EQ(dyn->entries[i].data, *sources[i]) << i;
    }
  }
}

TEST(WriteDynamic, AllocationFailuresReportTheUsualMessages) {
  cZipEngine z;
  z.SetDynamicHuffman(true);
  EventRecorder events;
  z.SetEvents(&events);
  ASSERT_TRUE(z.AddFile(Variant(MakeData(DataKind::kText, 150000, 5)), "a.txt"));
  ASSERT_TRUE(z.AddFile(Variant(MakeData(DataKind::kText, 1000, 6)), "b.txt", {}, {}, 0, 0));
  const long before = platform::testing::TaskAllocOutstanding();
  for (long allowed = 0; allowed < 6; ++allowed) {
    SCOPED_TRACE(allowed);
    events.Clear();
    platform::testing::FailTaskAllocAfter(allowed);
    Bytes out;
    const bool result = z.CompressArchive(Variant::Ref(out));
    platform::testing::FailTaskAllocAfter(-1);
    EXPECT_TRUE(result);
    // The engine's own allocations are not the task allocator's; only the codec's fail.
    ASSERT_EQ(events.errors.size(), 1u);
    EXPECT_EQ(events.errors[0].description,
              allowed < 3 ? "Cannot init deflate compressor" : "Error compressing");
    EXPECT_EQ(ReadZipLayout(out)->entries.size(), 1u);
    EXPECT_EQ(platform::testing::TaskAllocOutstanding(), before);
  }
}

TEST(WriteDynamic, EveryEntryGetsTheBytesOfANewEncoder) {
  // Entries of several kinds, sizes and levels, a stored fallback and a level-0 entry between
  // them; then the same with allocations failing in one entry, which leaves that entry out
  // and must not change the bytes of those after it.
  struct Source {
    Bytes data;
    std::int32_t level;
  };
  const std::vector<Source> sources{
      {MakeData(DataKind::kText, 300000, 7), 6},  {MakeData(DataKind::kText, 3000, 8), 1},
      {MakeData(DataKind::kRandom, 5000, 9), 6},  {MakeData(DataKind::kBinary, 70000, 10), 9},
      {MakeData(DataKind::kText, 2000, 11), 0},   {MakeData(DataKind::kText, 3000, 8), 6},
      {MakeData(DataKind::kRuns, 131072, 12), 1},
  };
  CodecFixture f;
  std::vector<Bytes> fresh;
  for (const Source& s : sources) {
    fresh.push_back(
        codec::dyntest::Compress(f.table, s.data, FixedChunks(s.data.size(), 65536), s.level)
            .stream);
  }
  // Allocations fail from the `allowed`-th on while entry `failing` is written, and succeed
  // again from the next entry on.
  struct FailOneEntry : zip::cZipEngineEvents {
    std::int32_t failing = -1;
    long allowed = -1;
    void BeforeCompress(std::int32_t i, std::int32_t&, bool&, bool&) override {
      platform::testing::FailTaskAllocAfter(i == failing ? allowed : -1);
    }
  } events;
  cZipEngine z;
  z.SetDynamicHuffman(true);
  z.SetEvents(&events);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    ASSERT_TRUE(
        z.AddFile(Variant(sources[i].data), std::to_string(i), {}, {}, 0, sources[i].level));
  }
  const long before = platform::testing::TaskAllocOutstanding();
  // Entry 0 makes the handle (3 allocations) and calls the encoder 5 times; the others reuse
  // it and need an allocation per call (entry 3: two calls).
  const std::pair<std::int32_t, long> failures[] = {{-1, -1}, {0, 0}, {0, 3}, {0, 5},
                                                    {1, 0},   {3, 0}, {3, 1}, {5, 0}};
  for (const auto& [failing, allowed] : failures) {
    SCOPED_TRACE(testing::Message() << "entry " << failing << ", allocation " << allowed);
    events.failing = failing;
    events.allowed = allowed;
    Bytes out;
    const bool result = z.CompressArchive(Variant::Ref(out));
    platform::testing::FailTaskAllocAfter(-1);
    ASSERT_TRUE(result);
    EXPECT_EQ(platform::testing::TaskAllocOutstanding(), before);
    const auto layout = ReadZipLayout(out);
    ASSERT_TRUE(layout.has_value());
    EXPECT_EQ(layout->entries.size(), sources.size() - (failing >= 0 ? 1 : 0));
    for (const auto& e : layout->entries) {
      const std::size_t i = static_cast<std::size_t>(
          std::stoi(std::string(e.central.name.begin(), e.central.name.end())));
      EXPECT_NE(static_cast<std::int32_t>(i), failing);
      if (e.central.method == 8) {
        EXPECT_EQ(e.data, fresh[i]) << i;
      } else {
        EXPECT_EQ(e.data, sources[i].data) << i;
      }
    }
  }
}

}  // namespace
}  // namespace lum::test
