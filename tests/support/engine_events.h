// Test helpers for archive-engine tests: an event sink that records every event (and can
// cancel, skip or redirect on request) and a stream object over memory that records the calls
// it gets. The scratch folder these tests use comes with it (scratch_dir.h).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scratch_dir.h"
#include "zip/variant.h"
#include "zip/zip_events.h"

namespace lum::test {

struct RecordedError {
  std::int32_t fileIdx;
  std::string source;
  std::string description;
  bool cancelIn;
};

struct RecordedProgress {
  std::int32_t fileIdx, current, total;
  friend bool operator==(const RecordedProgress&, const RecordedProgress&) = default;
};

class EventRecorder : public zip::cZipEngineEvents {
 public:
  std::vector<RecordedError> errors;
  std::vector<RecordedProgress> progress;
  std::vector<std::int32_t> before, complete;
  std::vector<std::string> completeFiles;  // File of ExtractComplete as text ("" otherwise)
  std::vector<std::pair<std::string, std::string>> warnings;  // Path, Description
  // Optional reactions.
  std::function<void(std::int32_t, zip::Variant&, bool&, bool&)> onBefore;
  std::function<void(std::int32_t, std::int32_t, std::int32_t, bool&)> onProgress;
  bool cancelOnError = false;

  void Progress(std::int32_t i, std::int32_t current, std::int32_t total, bool& cancel) override {
    progress.push_back({i, current, total});
    if (onProgress) onProgress(i, current, total, cancel);
  }
  void Error(std::int32_t i, std::string& source, std::string& description, bool& cancel) override {
    errors.push_back({i, source, description, cancel});
    if (cancelOnError) cancel = true;
  }
  void BeforeExtract(std::int32_t i, zip::Variant& file, bool& skip, bool& cancel) override {
    before.push_back(i);
    if (onBefore) onBefore(i, file, skip, cancel);
  }
  void ExtractComplete(std::int32_t i, zip::Variant& file) override {
    complete.push_back(i);
    completeFiles.push_back(file.IsText() ? file.Text() : std::string());
  }
  void Warning(const std::string& path, const std::string& description) override {
    warnings.emplace_back(path, description);
  }
  void Clear() {
    warnings.clear();
    errors.clear();
    progress.clear();
    before.clear();
    complete.clear();
    completeFiles.clear();
  }
};

// A stream object over a byte vector that records the calls it receives.
class MemoryStream : public zip::IVfsStream {
 public:
  std::vector<std::uint8_t> data;
  std::int64_t pos = 0;
  std::vector<std::string> calls;
  std::vector<std::string> endNames;

  std::int32_t VfsSetFilePointer(std::int32_t& distance, std::int32_t& method) override {
    calls.push_back("seek " + std::to_string(distance) + " " + std::to_string(method));
    const std::int64_t base = method == 0 ? 0 : method == 1 ? pos : std::int64_t(data.size());
    pos = std::max<std::int64_t>(0, base + distance);
    return static_cast<std::int32_t>(pos);
  }
  std::int32_t VfsReadFile(std::uint8_t* destination, std::int32_t& size) override {
    calls.push_back("read " + std::to_string(size));
    if (pos >= static_cast<std::int64_t>(data.size()) || size <= 0) return 0;
    const auto n = static_cast<std::int32_t>(
        std::min<std::int64_t>(size, static_cast<std::int64_t>(data.size()) - pos));
    std::memcpy(destination, data.data() + pos, static_cast<std::size_t>(n));
    pos += n;
    return n;
  }
  std::int32_t VfsWriteFile(const std::uint8_t* source, std::int32_t& size) override {
    calls.push_back("write " + std::to_string(size));
    if (size <= 0) return 0;
    if (pos + size > static_cast<std::int64_t>(data.size())) data.resize(pos + size);
    std::memcpy(data.data() + pos, source, static_cast<std::size_t>(size));
    pos += size;
    return size;
  }
  void VfsSetEndOfFile(std::string& name) override {
    calls.push_back("end " + name);
    endNames.push_back(name);
  }
};

}  // namespace lum::test
