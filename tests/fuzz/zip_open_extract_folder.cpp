// Fuzz target: an archive in memory extracted into a folder, checking that nothing is ever
// written outside it, and that a file already at an entry's target is either left as it was
// or replaced by data whose CRC-32 and size are those of an entry of that name.
//
// Each input is extracted into <base>/up1/up2/target, where <base> is a fresh folder under
// /dev/shm (or the temporary folder). Afterwards each of <base>, up1 and up2 must hold
// nothing but the next folder of that chain; then the target is emptied for the next
// input. Names with "..", rooted names, drive letters and
// the like are what the fuzzer is steered towards by the seed archives. Before extracting,
// a file is planted at the output path of each of the first entries; inputs of odd length
// are extracted with metadata restoring on, so symbolic links may replace planted files.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "zip/extract.h"
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

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

const std::vector<std::uint8_t> kPlanted = {'p', 'l', 'a', 'n', 't', 'e', 'd'};

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
      // Output path → the (CRC-32, size) of every entry extracted there.
      std::map<std::string, std::vector<std::pair<std::uint32_t, double>>> planted;
      std::vector<std::string> placed;  // the paths where a file was planted
      for (std::int32_t i = 0; i < z.FileCount(); ++i) {
        const auto info = z.FileInfo(i).Array();
        const std::string name = info[0].Text();
        if (name.empty() || name.back() == '\\' ||
            lum::zip::pvIsUnsafeEntryPath(target.string(), name, false)) {
          continue;
        }
        const std::string path = lum::zip::pvOutputPath(target.string(), name);
        planted[path].emplace_back(static_cast<std::uint32_t>(info[2].Number()), info[3].Number());
        std::error_code ec;
        // A name the file system refuses (too long, say) gets nothing planted.
        const fs::file_status existing = fs::symlink_status(path, ec);
        if (planted.size() > 4 || ec || fs::exists(existing)) continue;
        fs::create_directories(fs::path(path).parent_path(), ec);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(kPlanted.data()), kPlanted.size());
        if (out.good()) placed.push_back(path);
      }
      z.SetRestoreMetadata(size % 2 == 1);
      z.Extract(Variant(target.string()));
      for (const std::string& path : placed) {
        const auto& entries = planted[path];
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(path, ec);
        if (fs::is_symlink(status) && z.RestoreMetadata()) continue;
        if (!fs::is_regular_file(status)) __builtin_trap();  // removed or replaced by a non-file
        const std::vector<std::uint8_t> now = ReadAll(path);
        if (now == kPlanted) continue;
        bool matched = false;
        for (const auto& [crc, entrySize] : entries) {
          matched = matched ||
                    (z.CalcCrc32Array(now) == crc && static_cast<double>(now.size()) == entrySize);
        }
        if (!matched) __builtin_trap();
      }
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
