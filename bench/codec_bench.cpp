// codec_bench [CORPUS_DIR] [GROUP...]: measures the codec against zlib and libdeflate on the
// corpus made by bench/make_corpus.sh and prints one table with ratios.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "bench/bench.h"

namespace lum::bench {
namespace {

std::string g_corpusDir = "bench/corpus";
std::vector<Row> g_rows;
std::vector<Group>& Groups() {
  static std::vector<Group> groups;
  return groups;
}

}  // namespace

bool RegisterGroup(const char* name, void (*run)()) {
  Groups().push_back({name, run});
  return true;
}

const std::vector<CorpusFile>& Corpus() {
  static std::vector<CorpusFile> files = [] {
    std::vector<CorpusFile> out;
    std::vector<std::filesystem::path> paths;
    for (const auto& e : std::filesystem::directory_iterator(g_corpusDir)) {
      if (e.is_regular_file()) paths.push_back(e.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& p : paths) {
      std::ifstream in(p, std::ios::binary);
      out.push_back({p.filename().string(), {std::istreambuf_iterator<char>(in), {}}});
    }
    return out;
  }();
  return files;
}

const std::vector<std::uint8_t>& CorpusAll() {
  static std::vector<std::uint8_t> all = [] {
    std::vector<std::uint8_t> out;
    for (const auto& f : Corpus()) out.insert(out.end(), f.data.begin(), f.data.end());
    return out;
  }();
  return all;
}

double BestOf(int runs, const std::function<void()>& fn) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    fn();
    auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

void Report(const Row& row) {
  g_rows.push_back(row);
  std::fprintf(stderr, "  %-10s %-44s %10.3f %s\n", row.group.c_str(), row.name.c_str(), row.value,
               row.unit.c_str());
}

void Sink(std::uint64_t v) {
  static volatile std::uint64_t sink;
  sink = sink + v;
}

}  // namespace lum::bench

int main(int argc, char** argv) {
  using namespace lum::bench;
  std::vector<std::string> wanted;
  if (argc > 1) g_corpusDir = argv[1];
  for (int i = 2; i < argc; ++i) wanted.push_back(argv[i]);
  if (!std::filesystem::is_directory(g_corpusDir)) {
    std::fprintf(stderr, "codec_bench: corpus folder %s not found (run bench/make_corpus.sh)\n",
                 g_corpusDir.c_str());
    return 1;
  }
  std::fprintf(stderr, "corpus: %zu files, %.1f MiB\n", Corpus().size(),
               CorpusAll().size() / 1048576.0);
  for (const auto& g : Groups()) {
    if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), g.name) == wanted.end())
      continue;
    g.run();
  }
  std::printf(
      "| group | measurement | value | unit | ratio | note |\n|---|---|---:|---|---:|---|\n");
  for (const auto& r : g_rows) {
    std::string ratio;
    if (!r.ratioTo.empty()) {
      for (const auto& o : g_rows) {
        if (o.group == r.group && o.name == r.ratioTo && o.value > 0) {
          char buf[32];
          std::snprintf(buf, sizeof buf, "%.2f× %s", r.value / o.value, o.name.c_str());
          ratio = buf;
        }
      }
    }
    std::printf("| %s | %s | %.3f | %s | %s | %s |\n", r.group.c_str(), r.name.c_str(), r.value,
                r.unit.c_str(), ratio.c_str(), r.note.c_str());
  }
  return 0;
}
