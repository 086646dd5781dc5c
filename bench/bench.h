// The codec benchmark's shared harness: the corpus, best-of-N timing and the result table.
// Each group of measurements (CRC-32, inflate, deflate) lives in its own bench_*.cpp and
// registers itself with LUM_BENCH_GROUP.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lum::bench {

struct CorpusFile {
  std::string name;
  std::vector<std::uint8_t> data;
};

// All files of the corpus folder, in name order.
const std::vector<CorpusFile>& Corpus();
// The corpus files concatenated.
const std::vector<std::uint8_t>& CorpusAll();

// Seconds of the fastest of `runs` runs of `fn`.
double BestOf(int runs, const std::function<void()>& fn);

// One row of the printed table. `value` is in `unit`; `ratioTo` names the row (in the same
// group) against which the ratio column is computed, empty for none.
struct Row {
  std::string group;
  std::string name;
  double value;
  std::string unit;
  std::string ratioTo;
  std::string note;
};
void Report(const Row& row);

struct Group {
  const char* name;
  void (*run)();
};
bool RegisterGroup(const char* name, void (*run)());

// Keeps the compiler from discarding a result.
void Sink(std::uint64_t v);

}  // namespace lum::bench

#define LUM_BENCH_GROUP(name, fn) \
  static const bool lum_bench_registered_##fn = ::lum::bench::RegisterGroup(name, fn)
