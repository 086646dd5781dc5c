// Fuzz target for the archive writer. The input chooses up to eight entries (name, data,
// comment, level, folder or file, byte array or stream source), the archive's level, comment
// and UTF-8 mode. The archive is written in memory and read back with OpenArchive and
// Extract: the write must succeed, every record must read back with its name, size, CRC-32
// and comment, no entry may be larger stored than its data, and every entry must extract to
// its data.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/engine_events.h"
#include "tests/support/test_support.h"
#include "zip/zip_engine.h"

namespace {

using lum::zip::Variant;
using Bytes = std::vector<std::uint8_t>;

// Stops the run with the failed condition and its line.
#define Check(condition)                                                           \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (false)

// A name made of pieces that survive the reader's sanitising: letters, digits, a few
// punctuation marks, a letter of code page 437 (ä) and one outside it (€), and "\" between
// non-empty components.
std::string MakeName(FuzzedDataProvider& in, bool folder) {
  static const char* const kPieces[] = {
      "a", "b", "Z", "0", "7", ".", "-", "_", " ", "x.txt", "\xC3\xA4", "\xE2\x82\xAC", "\\"};
  std::string name;
  const int count = in.ConsumeIntegralInRange(1, 12);
  for (int i = 0; i < count; ++i) {
    std::string piece = kPieces[in.ConsumeIntegralInRange<std::size_t>(0, 12)];
    if (piece == "\\" && (name.empty() || name.back() == '\\')) piece = "n";
    name += piece;
  }
  while (!name.empty() && (name.back() == '\\' || name.back() == ' ' || name.back() == '.')) {
    name.pop_back();
  }
  if (name.empty()) name = "e";
  // Components that are only dots would be refused at extraction; keep them ordinary.
  if (name[0] == '.') name.insert(0, "d");
  for (std::size_t at; (at = name.find("\\.")) != std::string::npos;) name.insert(at + 1, "d");
  return folder ? name + "\\" : name;
}

// Data: raw bytes, or (sometimes) a short pattern repeated past a chunk boundary.
Bytes MakeData(FuzzedDataProvider& in) {
  Bytes data = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 4096));
  if (!data.empty() && in.ConsumeIntegralInRange(0, 63) == 0) {
    const std::size_t target = in.ConsumeIntegralInRange<std::size_t>(60000, 100000);
    Bytes grown;
    grown.reserve(target);
    while (grown.size() < target) grown.insert(grown.end(), data.begin(), data.end());
    grown.resize(target);
    if (in.ConsumeBool()) grown[target / 2] ^= 0x55;
    data = std::move(grown);
  }
  return data;
}

struct Queued {
  std::string name, comment;
  Bytes data;
  bool folder;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider in(bytes, size);
  lum::zip::cZipEngine writer;
  std::vector<Queued> queued;
  const int count = in.ConsumeIntegralInRange(1, 8);
  for (int i = 0; i < count; ++i) {
    Queued q;
    q.folder = in.ConsumeIntegralInRange(0, 7) == 0;
    q.name = MakeName(in, q.folder);
    q.comment = in.ConsumeBool() ? std::string() : MakeName(in, false);
    if (!q.folder) q.data = MakeData(in);
    const int level = in.ConsumeIntegralInRange(-2, 11);
    bool added;
    if (in.ConsumeBool()) {
      auto stream = std::make_shared<lum::test::MemoryStream>();
      stream->data = q.data;
      added = writer.AddFile(Variant(lum::zip::StreamRef(stream)), q.name, q.comment, {}, 0, level);
    } else {
      added = writer.AddFile(Variant(q.data), q.name, q.comment, {}, 0, level);
    }
    Check(added);
    queued.push_back(std::move(q));
  }
  const int archiveLevel = in.ConsumeIntegralInRange(-1, 10);
  const int utf8 = in.PickValueInArray({-2, -1});
  // An archive comment that holds an end record of its own, with a length field that reaches
  // the end of the archive, is where any reader that searches from the end must stop; the
  // format cannot tell it from the real one. Such comments are out of this target's scope.
  std::string comment = in.ConsumeRandomLengthString(64);
  for (std::size_t at; (at = comment.find("PK\x05\x06")) != std::string::npos;) comment[at] = 'p';
  Bytes archive;
  Check(writer.CompressArchive(Variant::Ref(archive), comment, archiveLevel, utf8));
  Check(writer.LastError().empty());

  lum::zip::cZipEngine reader;
  if (!reader.OpenArchive(Variant(archive))) {
    std::fprintf(stderr, "OpenArchive: %s\n", reader.LastError().c_str());
    Check(false);
  }
  Check(reader.FileCount() == count);
  for (int i = 0; i < count; ++i) {
    const Queued& q = queued[static_cast<std::size_t>(i)];
    const auto f = reader.FileInfo(i).Array();
    Check(f[0].Text() == q.name);
    Check(f[1].Number() == (q.folder ? 0x10 : 0x20));
    Check(f[2].Number() == lum::test::ReferenceCrc32(q.data.data(), q.data.size()));
    Check(f[3].Number() == static_cast<double>(q.data.size()));
    Check(f[4].Number() <= f[3].Number() || f[7].Number() == 8);
    Check(f[4].Number() <= f[3].Number());  // Deflate is kept only when it pays
    Check(f[5].Text() == q.comment);
    if (q.folder) continue;
    Bytes out;
    Check(reader.Extract(Variant::Ref(out), Variant(i)));
    Check(out == q.data);
  }
  return 0;
}
