// Fuzz target: an archive in memory, opened and extracted to memory.
//
// Whatever the bytes, OpenArchive and Extract must return (no crash, no sanitizer report,
// no exception escaping), a failed OpenArchive must leave the object as it was, and a
// byte-array target must never be sized beyond what the entry's stored data can produce.
// Every entry is also listed through FileInfo. The amount of work per input is bounded by
// cancelling from Progress after a budget of events, since overlapping entries can make a
// small archive decode the same data thousands of times.
#include <cstdint>
#include <string>
#include <vector>

#include "zip/zip_engine.h"

namespace {

class Budget : public lum::zip::cZipEngineEvents {
 public:
  explicit Budget(const std::vector<std::uint8_t>& target, std::size_t limit)
      : m_target(target), m_limit(limit) {}
  void Progress(std::int32_t, std::int32_t, std::int32_t Total, bool& Cancel) override {
    // The target never grows beyond what the largest entry's stored bytes can produce,
    // allowing for the growth steps of a memory buffer (doubling, then 16 MiB).
    if (Total > m_largest) m_largest = Total;
    const std::size_t bound = 1032u * static_cast<std::size_t>(m_largest) + 258;
    if (m_target.size() > 2 * bound + (16u << 20)) __builtin_trap();
    // Work budget: events, and the bytes the target has held at each event.
    m_held += m_target.size();
    if (++m_events > 256 || m_held > (8u << 20)) Cancel = true;
  }
  void Error(std::int32_t, std::string&, std::string&, bool&) override {
    if (++m_errors > m_limit) m_cancelNext = true;
  }
  void BeforeExtract(std::int32_t, lum::zip::Variant&, bool&, bool& Cancel) override {
    // Each entry may pre-size the target to a megabyte; a few dozen show every path.
    if (m_cancelNext || ++m_entries > 12) Cancel = true;
  }

 private:
  const std::vector<std::uint8_t>& m_target;
  std::size_t m_limit;
  std::size_t m_events = 0, m_errors = 0, m_held = 0, m_entries = 0;
  std::int32_t m_largest = 1;
  bool m_cancelNext = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using lum::zip::Variant;
  lum::zip::cZipEngine z;
  std::vector<std::uint8_t> target;
  Budget budget(target, 2000);
  z.SetEvents(&budget);
  const std::vector<std::uint8_t> archive(data, data + size);
  if (!z.OpenArchive(Variant(archive))) {
    if (z.FileCount() != 0 || z.LastError().empty()) __builtin_trap();
    return 0;
  }
  for (std::int32_t i = 0; i < z.FileCount(); ++i) {
    if (!z.FileInfo(i).IsArray()) __builtin_trap();
  }
  z.Extract(Variant::Ref(target));
  // The remembered archive is read again by a second call, with a filter this time.
  z.Extract(Variant::Ref(target), Variant("*.*"));
  return 0;
}
