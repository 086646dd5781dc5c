// Fuzz target: an archive in memory extracted into a folder, checking that nothing is ever
// written outside it.
//
// Each input is extracted into <base>/up1/up2/target, where <base> is a fresh folder under
// /dev/shm (or the temporary folder). Afterwards each of <base>, up1 and up2 must hold
// nothing but the next folder of that chain; then the target is emptied for the next
// input. Names with "..", rooted names, drive letters and
// the like are what the fuzzer is steered towards by the seed archives.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "zip/zip_engine.h"

namespace {

namespace fs = std::filesystem;

class Budget : public lum::zip::cZipEngineEvents {
 public:
  void Progress(std::int32_t, std::int32_t, std::int32_t, bool& Cancel) override {
    if (++m_events > 64) Cancel = true;
  }

 private:
  std::size_t m_events = 0;
};

const fs::path& Base() {
  static const fs::path base = [] {
    fs::path root = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    fs::path b = root / ("zip_fuzz_folder_" + std::to_string(::getpid()));
    fs::create_directories(b / "up1" / "up2" / "target");
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(Base(), ec);
    });
    return b;
  }();
  return base;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using lum::zip::Variant;
  const fs::path& base = Base();
  const fs::path target = base / "up1" / "up2" / "target";
  {
    lum::zip::cZipEngine z;
    Budget budget;
    z.SetEvents(&budget);
    if (z.OpenArchive(Variant(std::vector<std::uint8_t>(data, data + size)))) {
      z.Extract(Variant(target.string()));
    }
  }
  // Anything beside the chain was written outside the target.
  for (const fs::path& level : {base, base / "up1", base / "up1" / "up2"}) {
    std::size_t count = 0;
    for (const auto& e : fs::directory_iterator(level)) {
      (void)e;
      ++count;
    }
    if (count != 1) __builtin_trap();
  }
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(target)) fs::remove_all(e.path(), ec);
  return 0;
}
