// CompressArchive with CompressThreads above 1: the archive, the events and every call on the
// output stream are those of one thread, over a mix of sources, levels and skips, with sources
// that change or vanish before or during their turn, failed opens, a cancel, and allocations
// failing on the workers or on the writer; no allocation and no thread is left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>

#include "platform/task_alloc.h"
#include "tests/support/engine_events.h"
#include "tests/support/files.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_layout.h"
#include "zip/write_ahead.h"
#include "zip/zip_engine.h"

namespace lum::test {

struct ZipEngineProbe {
  static codec::CodecEntryTable& Codec(zip::cZipEngine& z) { return z.m_uCodec; }
};

namespace {

using zip::cZipEngine;
using zip::Variant;
namespace fs = std::filesystem;

// The codec table's allocator, counting and failing calls per side: the test's thread is the
// writer's, every other thread a worker.
struct Allocs {
  static inline std::thread::id writer;
  static inline std::atomic<long> writerCalls{0}, workerCalls{0};
  static inline std::atomic<long> writerLimit{-1}, workerLimit{-1};  // negative: no failure
  static bool Permit() {
    const bool mine = std::this_thread::get_id() == writer;
    const long call = (mine ? writerCalls : workerCalls).fetch_add(1) + 1;
    const long limit = (mine ? writerLimit : workerLimit).load();
    return limit < 0 || call <= limit;
  }
  static void* Alloc(std::size_t n) { return Permit() ? platform::TaskMemAlloc(n) : nullptr; }
  static void* Realloc(void* p, std::size_t n) {
    return Permit() ? platform::TaskMemRealloc(p, n) : nullptr;
  }
  static void Install(cZipEngine& z) {
    writer = std::this_thread::get_id();
    ZipEngineProbe::Codec(z).pfnAlloc = Alloc;
    ZipEngineProbe::Codec(z).pfnRealloc = Realloc;
  }
  static void Fail(long writerAfter, long workerAfter) {
    writerCalls = workerCalls = 0;
    writerLimit = writerAfter;
    workerLimit = workerAfter;
  }
};

// Which entries the workers finished, and whether they made a result.
struct Finished {
  static inline std::mutex lock;
  static inline std::condition_variable changed;
  static inline std::set<std::int32_t> made, failed;
  static void Hook(std::int32_t i, bool compressed) {
    {
      std::lock_guard<std::mutex> guard(lock);
      (compressed ? made : failed).insert(i);
    }
    changed.notify_all();
  }
  static bool WaitFor(std::int32_t i) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(60),
                            [&] { return made.count(i) != 0 || failed.count(i) != 0; });
  }
  static std::size_t Made() {
    std::lock_guard<std::mutex> guard(lock);
    return made.size();
  }
};

// Every event as a line, in order.
class Log : public zip::cZipEngineEvents {
 public:
  std::vector<std::string> lines;
  std::function<void(std::int32_t, std::int32_t&, bool&, bool&)> onBefore;
  std::function<void(std::int32_t, std::int32_t, bool&)> onProgress;
  void BeforeCompress(std::int32_t i, std::int32_t& level, bool& skip, bool& cancel) override {
    lines.push_back("before " + std::to_string(i) + " " + std::to_string(level));
    if (onBefore) onBefore(i, level, skip, cancel);
  }
  void Progress(std::int32_t i, std::int32_t current, std::int32_t total, bool& cancel) override {
    lines.push_back("progress " + std::to_string(i) + " " + std::to_string(current) + " " +
                    std::to_string(total));
    if (onProgress) onProgress(i, current, cancel);
  }
  void Error(std::int32_t i, std::string& source, std::string& text, bool& cancel) override {
    lines.push_back("error " + std::to_string(i) + " " + source + " " + text + " " +
                    std::to_string(cancel));
  }
};

struct Outcome {
  bool ok = false;
  std::string lastError;
  Bytes bytes;
  std::vector<std::string> calls, events;
  bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* out) {
  *out << (o.ok ? "written" : "failed") << " '" << o.lastError << "', " << o.bytes.size()
       << " bytes, " << o.calls.size() << " stream calls";
  for (const std::string& e : o.events) *out << "\n  " << e;
}

class WriteParallel : public testing::Test {
 protected:
  void SetUp() override {
    zip::testing::SetAheadFinishedHook(Finished::Hook);
    z.SetDynamicHuffman(true);
    z.SetEvents(&log);
    Allocs::Install(z);
    Allocs::Fail(-1, -1);
    outstanding = platform::testing::TaskAllocOutstanding();
  }
  void TearDown() override {
    zip::testing::SetAheadFinishedHook(nullptr);
    zip::testing::SetAheadLimits(-1, -1);
    EXPECT_EQ(platform::testing::TaskAllocOutstanding(), outstanding);
  }

  // One CompressArchive into a stream object, after `prepare` (which puts the sources back).
  Outcome Write(std::int32_t threads, std::int32_t level = 6,
                const std::function<void()>& prepare = {}) {
    if (prepare) prepare();
    {
      std::lock_guard<std::mutex> guard(Finished::lock);
      Finished::made.clear();
      Finished::failed.clear();
    }
    log.lines.clear();
    z.SetCompressThreads(threads);
    auto stream = std::make_shared<MemoryStream>();
    Outcome r;
    r.ok = z.CompressArchive(Variant(zip::StreamRef(stream)), {}, level);
    writerAllocs = Allocs::writerCalls;
    Allocs::Fail(-1, -1);
    r.lastError = z.LastError();
    r.bytes = stream->data;
    r.calls = stream->calls;
    r.events = log.lines;
    return r;
  }

  void AddFile(const std::string& name, const Bytes& data, std::int32_t level = -1) {
    ASSERT_TRUE(WriteWholeFile(dir.Path(name), data));
    ASSERT_TRUE(z.AddFile(Variant(dir.Text(name)), name, {}, {}, 0, level)) << z.LastError();
  }

  // Whether workers run in this CompressArchive.
  bool Ahead() const { return z.CompressThreads() > 1; }

  ScratchDir dir;
  cZipEngine z;
  Log log;
  long outstanding = 0;
  long writerAllocs = 0;  // allocations on the writer's thread in the last Write
};

Bytes Text(std::size_t size, std::uint64_t seed) {
  return MakeData(DataKind::kText, size, seed);
}

void Overwrite(const std::string& path, std::size_t at, const Bytes& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(at));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST_F(WriteParallel, PropertyDefaultsToOneAndNeedsTheDynamicEncoder) {
  EXPECT_EQ(cZipEngine().CompressThreads(), 1);
  z.SetCompressThreads(0);
  EXPECT_EQ(z.CompressThreads(), 1);
  z.SetCompressThreads(-3);
  EXPECT_EQ(z.CompressThreads(), 1);
  for (int i = 0; i < 6; ++i) AddFile("f" + std::to_string(i), Text(5000, i));
  z.SetDynamicHuffman(false);
  const Outcome fixed = Write(1);
  EXPECT_EQ(Write(4), fixed);
  EXPECT_EQ(Finished::Made(), 0u);  // the fixed-Huffman writer works alone
}

TEST_F(WriteParallel, MixedArchivesAndEventsAreThoseOfOneThread) {
  // Small limits, so that some files are over the entry limit and the budget runs full.
  zip::testing::SetAheadLimits(150000, 400000);
  for (int i = 0; i < 30; ++i) AddFile("small" + std::to_string(i), Text(1000 + 331 * i, i));
  AddFile("over0", Text(300000, 40));
  AddFile("chunks", Text(140000, 41));  // three chunks, within the limit
  AddFile("empty", {});
  AddFile("random", MakeData(DataKind::kRandom, 100000, 42));  // stored fallback
  AddFile("over1", MakeData(DataKind::kBinary, 200000, 43));
  AddFile("level0", Text(9000, 44), 0);
  AddFile("level9", Text(9000, 45), 9);
  AddFile("level2", MakeData(DataKind::kRuns, 70000, 46), 2);
  fs::create_directory(dir.Path("folder"));
  ASSERT_TRUE(z.AddFile(Variant(dir.Text("folder") + "/"), "folder\\"));
  ASSERT_TRUE(z.AddFile(Variant(Text(20000, 47)), "array"));
  ASSERT_TRUE(z.AddFile(Variant(MakeData(DataKind::kRandom, 5000, 48)), "random array"));
  ASSERT_TRUE(z.AddFile(Variant(Bytes{}), "empty array"));
  ASSERT_TRUE(z.AddFile(Variant(Text(66000, 49)), "array level 4", {}, {}, 0, 4));
  // Levels changed (one to 0) and entries skipped at their turn.
  // Entry 1 is compressed ahead before the writer starts, however busy the machine.
  log.onBefore = [&](std::int32_t i, std::int32_t& level, bool& skip, bool&) {
    if (i == 0 && Ahead()) {
      EXPECT_TRUE(Finished::WaitFor(1));
    }
    if (i % 7 == 3) level = i % 14 == 3 ? 0 : level % 9 + 1;
    if (i % 11 == 5) skip = true;
  };
  for (std::int32_t level = 1; level <= 9; ++level) {
    SCOPED_TRACE(level);
    const Outcome one = Write(1, level);
    ASSERT_TRUE(one.ok) << one.lastError;
    EXPECT_EQ(Finished::Made(), 0u);
    for (const std::int32_t threads : {2, 3, 8}) {
      SCOPED_TRACE(threads);
      EXPECT_EQ(Write(threads, level), one);
      EXPECT_GT(Finished::Made(), 0u);
    }
  }
}

TEST_F(WriteParallel, ResultsAreWrittenWithoutTheWriterEncodingAgain) {
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(z.AddFile(Variant(Text(20000, i)), std::to_string(i)));
  }
  // The writer starts once every entry has been compressed ahead.
  log.onBefore = [&](std::int32_t i, std::int32_t&, bool&, bool&) {
    for (std::int32_t k = 0; i == 0 && Ahead() && k < 20; ++k) EXPECT_TRUE(Finished::WaitFor(k));
  };
  const Outcome one = Write(1);
  const long alone = writerAllocs;
  EXPECT_EQ(Write(4), one);
  EXPECT_EQ(Finished::Made(), 20u);
  // Single-threaded, every entry's output needs an allocation at least.
  EXPECT_GE(alone - writerAllocs, 20);
}

TEST_F(WriteParallel, SourcesChangedAfterTheWorkerReadThemAreWrittenAsAtTheirTurn) {
  const Bytes original = Text(200000, 60);  // four chunks
  for (int i = 0; i < 6; ++i) AddFile("f" + std::to_string(i), original);
  auto path = [&](int i) { return dir.Text("f" + std::to_string(i)); };
  auto prepare = [&] {
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(WriteWholeFile(path(i), original));
  };
  const Bytes changed = Text(100, 61);
  log.onBefore = [&](std::int32_t i, std::int32_t&, bool&, bool&) {
    if (Ahead()) {
      EXPECT_TRUE(Finished::WaitFor(i));
    }
    if (i == 0) Overwrite(path(0), 190000, changed);          // same size, last chunk differs
    if (i == 1) Overwrite(path(1), 200000, Text(70000, 62));  // grown by a chunk
    if (i == 2) fs::resize_file(path(2), 131072);             // ends a chunk early
    if (i == 3) fs::remove(path(3));                          // cannot be opened
  };
  // Entry 4 changes while it is read: chunk 2 is read after the first Progress.
  log.onProgress = [&](std::int32_t i, std::int32_t current, bool&) {
    if (i == 4 && current == 65536) Overwrite(path(4), 150000, changed);
  };
  // The first run leaves each entry's Size (Progress's total) at what it wrote; from then on
  // every run starts from the same entries.
  Write(1, 6, prepare);
  const Outcome one = Write(1, 6, prepare);
  ASSERT_TRUE(one.ok) << one.lastError;
  for (const std::int32_t threads : {2, 3}) {
    SCOPED_TRACE(threads);
    EXPECT_EQ(Write(threads, 6, prepare), one);
    EXPECT_GE(Finished::Made(), 5u);
  }
  // The archive holds the sources as they were at their turn (entry 3 is left out).
  auto crcWith = [&](std::size_t at) {
    Bytes b = original;
    std::copy(changed.begin(), changed.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
    return ReferenceCrc32(b.data(), b.size());
  };
  const auto layout = ReadZipLayout(one.bytes);
  ASSERT_TRUE(layout.has_value());
  ASSERT_EQ(layout->entries.size(), 5u);
  EXPECT_EQ(layout->entries[0].central.crc32, crcWith(190000));
  EXPECT_EQ(layout->entries[1].central.size, 270000u);
  EXPECT_EQ(layout->entries[2].central.size, 131072u);
  EXPECT_EQ(layout->entries[3].central.crc32, crcWith(150000));
  EXPECT_EQ(layout->entries[4].central.crc32, ReferenceCrc32(original.data(), original.size()));
}

// The number of threads of this process, where the system shows them (Linux).
std::ptrdiff_t ThreadCount() {
  std::error_code error;
  fs::directory_iterator tasks("/proc/self/task", error);
  if (error) return -1;
  return std::distance(tasks, fs::directory_iterator());
}

TEST_F(WriteParallel, FailedOpensAndACancelStopEverythingAsOneThreadDoes) {
  for (int i = 0; i < 16; ++i) AddFile("f" + std::to_string(i), Text(30000 + 7000 * i, 70 + i));
  fs::remove(dir.Path("f2"));  // gone before the archive starts
  log.onBefore = [&](std::int32_t i, std::int32_t&, bool&, bool&) {
    // Gone after its worker read it (and closed it: Windows deletes no open file).
    if (i == 5 && Ahead()) {
      EXPECT_TRUE(Finished::WaitFor(6));
    }
    if (i == 5) fs::remove(dir.Path("f6"));
  };
  for (const std::int32_t cancelAt : {-1, 0, 9, 15}) {
    SCOPED_TRACE(cancelAt);
    log.onProgress = [&](std::int32_t i, std::int32_t, bool& cancel) { cancel = i == cancelAt; };
    auto prepare = [&] {
      for (int i : {6})
        ASSERT_TRUE(WriteWholeFile(dir.Path("f" + std::to_string(i)), Text(72000, 76)));
    };
    const Outcome one = Write(1, 6, prepare);
    EXPECT_EQ(one.ok, cancelAt < 0);
    const std::ptrdiff_t threads = ThreadCount();
    EXPECT_EQ(Write(3, 6, prepare), one);
    EXPECT_EQ(ThreadCount(), threads);  // every worker joined
    EXPECT_EQ(platform::testing::TaskAllocOutstanding(), outstanding);
  }
}

TEST_F(WriteParallel, FailingWorkerAllocationsOnlyDropResults) {
  for (int i = 0; i < 12; ++i) AddFile("f" + std::to_string(i), Text(20000 + 9000 * i, 80 + i));
  const Outcome one = Write(1);
  ASSERT_TRUE(one.ok);
  for (const long allowed : {0L, 1L, 2L, 3L, 5L, 8L, 13L, 40L}) {
    SCOPED_TRACE(allowed);
    Allocs::Fail(-1, allowed);
    EXPECT_EQ(Write(2), one);
    Allocs::Fail(-1, allowed);
    EXPECT_EQ(Write(5), one);
  }
}

TEST_F(WriteParallel, FailingWriterAllocationsFailAsWithOneThread) {
  // From the `allowed`-th allocation on, the writer's allocations fail while it writes entry
  // `failing` itself (its level is changed, so no worker's result fits).
  std::int32_t failing = -1;
  long allowed = -1;
  log.onBefore = [&](std::int32_t i, std::int32_t& level, bool&, bool&) {
    if (i == failing) level = level == 9 ? 8 : 9;
    Allocs::writerCalls = 0;
    Allocs::writerLimit = i == failing ? allowed : -1;
  };
  for (int i = 0; i < 6; ++i) AddFile("f" + std::to_string(i), Text(100000, 90 + i));
  const std::pair<std::int32_t, long> failures[] = {{0, 0}, {0, 2}, {0, 3}, {0, 4},
                                                    {2, 0}, {2, 1}, {5, 0}};
  for (const auto& [entry, after] : failures) {
    SCOPED_TRACE(testing::Message() << "entry " << entry << ", allocation " << after);
    failing = entry;
    allowed = after;
    const Outcome one = Write(1);
    ASSERT_NE(std::count_if(one.events.begin(), one.events.end(),
                            [](const std::string& e) { return e.rfind("error", 0) == 0; }),
              0);
    EXPECT_EQ(Write(3), one);
  }
}

}  // namespace
}  // namespace lum::test
