// The worker threads of DeflateAhead (see write_ahead.h for what they do and why the archive
// stays byte for byte the single-threaded one).
//
// Workers take the lowest queued entry first, so they run just ahead of the writer. A slot
// lives in the map from Submit until the writer takes or drops it; a worker holds no
// iterator across its unlocked work (only the entry's index), and the writer waits for a
// running slot rather than erase it, so a slot found again after the work is the same slot.
#include "zip/write_ahead.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "codec/deflate_levels.h"
#include "codec/dyn_deflate.h"
#include "platform/file.h"
#include "platform/find.h"
#include "zip/write_archive.h"

namespace lum::zip {

namespace {

std::atomic<void (*)(std::int32_t, bool)> g_finishedHook{nullptr};
std::atomic<std::int64_t> g_entryLimit{kAheadEntryLimit};
std::atomic<std::int64_t> g_budget{kAheadBudget};

// Reads the regular file `path` whole when it holds at most `limit` bytes; false otherwise
// (missing, not a regular file, larger, or any failure of the system).
bool ReadWhole(const std::string& path, std::int64_t limit, ByteArray& bytes) {
  platform::FindData found;
  if (!platform::FindExact(path, found)) return false;
  if (platform::IsSpecialFile(found) || platform::IsDanglingLink(found) ||
      (found.Attributes & (platform::kAttributeDirectory | platform::kAttributeVolumeLabel))) {
    return false;
  }
  const platform::FileHandle file = platform::CreateFileHandle(
      path, platform::kGenericRead, platform::kFileShareRead | platform::kFileShareWrite,
      platform::kOpenExisting, 0);
  if (!file) return false;
  // One byte more than allowed, so that a file that grew is seen as too large.
  bytes.resize(static_cast<std::size_t>(limit) + 1);
  std::size_t total = 0;
  while (total < bytes.size()) {
    const auto wanted =
        static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size() - total, 1u << 24));
    std::uint32_t read = 0;
    if (!platform::FileRead(file, bytes.data() + total, wanted, &read)) return false;
    if (read == 0) break;
    total += read;
  }
  if (total > static_cast<std::size_t>(limit)) return false;
  bytes.resize(total);
  return true;
}

}  // namespace

std::int64_t AheadEntryLimit() {
  return g_entryLimit.load();
}

std::int64_t AheadBudget() {
  return g_budget.load();
}

namespace testing {
void SetAheadFinishedHook(void (*hook)(std::int32_t, bool)) {
  g_finishedHook.store(hook);
}

void SetAheadLimits(std::int64_t entryLimit, std::int64_t budget) {
  g_entryLimit.store(entryLimit < 0 ? kAheadEntryLimit : entryLimit);
  g_budget.store(budget < 0 ? kAheadBudget : budget);
}
}  // namespace testing

// ---- AheadResult ----

const std::uint8_t* AheadResult::InputOf(std::size_t chunk) const {
  return input.data() + chunk * kWriteChunk;
}

std::int32_t AheadResult::InputSizeOf(std::size_t chunk) const {
  const std::size_t start = chunk * kWriteChunk;
  return static_cast<std::int32_t>(std::min<std::size_t>(input.size() - start, kWriteChunk));
}

const std::uint8_t* AheadResult::OutputOf(std::size_t chunk) const {
  return output.data() + (chunk == 0 ? 0 : outputEnd[chunk - 1]);
}

std::int32_t AheadResult::OutputSizeOf(std::size_t chunk) const {
  return static_cast<std::int32_t>(outputEnd[chunk] - (chunk == 0 ? 0 : outputEnd[chunk - 1]));
}

bool AheadResult::Matches(std::size_t chunk, const std::uint8_t* data, std::int32_t count,
                          bool final) const {
  if (chunk >= Chunks() || final != (chunk + 1 == Chunks())) return false;
  if (count != InputSizeOf(chunk)) return false;
  return count == 0 || std::memcmp(data, InputOf(chunk), static_cast<std::size_t>(count)) == 0;
}

// ---- DeflateAhead ----

DeflateAhead::DeflateAhead(const codec::CodecEntryTable& codec, std::int32_t workers)
    : m_codec(codec) {
  workers = std::clamp(workers, std::int32_t{0}, kMaxCompressThreads);
  try {
    m_threads.reserve(static_cast<std::size_t>(workers));
    for (std::int32_t i = 0; i < workers; ++i) m_threads.emplace_back([this] { WorkerLoop(); });
  } catch (...) {
    // Fewer threads (or none) than asked: the writer does what no worker takes.
  }
}

DeflateAhead::~DeflateAhead() {
  Stop();
}

void DeflateAhead::Stop() noexcept {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_stopping = true;
  }
  m_queued.notify_all();
  for (std::thread& t : m_threads) {
    try {
      if (t.joinable()) t.join();
    } catch (...) {
      // join fails only for a thread that is not joinable, which was checked.
    }
  }
  m_threads.clear();
  m_slots.clear();
  m_held = 0;
}

bool DeflateAhead::HasRoom(std::int64_t size) const {
  std::lock_guard<std::mutex> guard(m_lock);
  return !m_threads.empty() && m_held + size <= AheadBudget();
}

bool DeflateAhead::Submit(AheadSource source) noexcept {
  try {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_stopping) return false;
    const std::int32_t index = source.index;
    const std::int64_t size = source.size;
    auto [it, added] = m_slots.try_emplace(index);
    if (!added) return false;
    it->second.source = std::move(source);
    m_held += size;
  } catch (...) {
    return false;
  }
  m_queued.notify_one();
  return true;
}

void DeflateAhead::Erase(std::map<std::int32_t, Slot>::iterator it) {
  m_held -= it->second.source.size;
  m_slots.erase(it);
}

std::unique_ptr<AheadResult> DeflateAhead::Take(std::int32_t index, std::int32_t level) {
  std::unique_lock<std::mutex> guard(m_lock);
  auto it = m_slots.find(index);
  if (it == m_slots.end()) return nullptr;
  if (it->second.source.level != level || it->second.state == State::kQueued) {
    if (it->second.state == State::kRunning) {
      it->second.state = State::kDropped;
    } else {
      Erase(it);
    }
    return nullptr;
  }
  m_finished.wait(guard, [&] { return it->second.state != State::kRunning; });
  std::unique_ptr<AheadResult> result = std::move(it->second.result);
  Erase(it);
  return result;
}

void DeflateAhead::Drop(std::int32_t index) noexcept {
  std::unique_ptr<AheadResult> result;  // freed outside the lock
  std::lock_guard<std::mutex> guard(m_lock);
  const auto it = m_slots.find(index);
  if (it == m_slots.end()) return;
  if (it->second.state == State::kRunning) {
    it->second.state = State::kDropped;
  } else {
    result = std::move(it->second.result);
    Erase(it);
  }
}

void DeflateAhead::WorkerLoop() noexcept {
  codec::CodecWord encoder = 0;
  std::unique_lock<std::mutex> guard(m_lock);
  for (;;) {
    auto it = m_slots.begin();
    m_queued.wait(guard, [&] {
      if (m_stopping) return true;
      it = std::find_if(m_slots.begin(), m_slots.end(),
                        [](const auto& slot) { return slot.second.state == State::kQueued; });
      return it != m_slots.end();
    });
    if (m_stopping) break;
    const std::int32_t index = it->first;
    it->second.state = State::kRunning;
    AheadSource source = std::move(it->second.source);
    // The slot keeps what the writer and the budget read.
    it->second.source.index = index;
    it->second.source.level = source.level;
    it->second.source.size = source.size;
    guard.unlock();

    std::unique_ptr<AheadResult> result = Compress(source, encoder);
    const bool compressed = result != nullptr;
    source = AheadSource();

    guard.lock();
    it = m_slots.find(index);
    if (it != m_slots.end()) {
      if (it->second.state == State::kDropped) {
        Erase(it);
      } else {
        it->second.result = std::move(result);
        it->second.state = State::kDone;
      }
    }
    guard.unlock();
    m_finished.notify_all();
    result.reset();
    if (auto* hook = g_finishedHook.load()) hook(index, compressed);
    guard.lock();
  }
  guard.unlock();
  if (encoder != 0) codec::DynDeflateDestroy(encoder, 0, 0, 0);
}

std::unique_ptr<AheadResult> DeflateAhead::Compress(AheadSource& source,
                                                    codec::CodecWord& encoder) noexcept {
  codec::CodecBlock block{};
  try {
    auto result = std::make_unique<AheadResult>();
    result->level = source.level;
    if (source.path.empty()) {
      result->input = std::move(source.bytes);
    } else if (!ReadWhole(source.path, source.size, result->input)) {
      return nullptr;
    }
    if (encoder != 0) {
      codec::DynDeflateReset(encoder, 0, 0, 0);
    } else {
      encoder = codec::DynDeflateCreate(codec::Word(&m_codec), 0, 0, 0);
      if (encoder == 0) return nullptr;
    }
    const std::size_t size = result->input.size();
    const std::size_t chunks = std::max<std::size_t>(1, (size + kWriteChunk - 1) / kWriteChunk);
    result->outputEnd.reserve(chunks);
    result->crcAfter.reserve(chunks);
    result->output.reserve(size / 2 + 64);
    codec::ApplyDeflateLevel(block, source.level);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
      {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stopping) return nullptr;
      }
      block.pInput = result->InputOf(chunk);
      block.lInputSize = result->InputSizeOf(chunk);
      block.bFinal = chunk + 1 == chunks ? 1 : 0;
      if (codec::DynDeflate(encoder, codec::Word(&block), codec::Word(&crc), source.level) == 0 ||
          block.pOutput == nullptr) {
        // A failed call leaves the handle fit only to be destroyed.
        m_codec.pfnFree(block.pOutput);
        block.pOutput = nullptr;
        codec::DynDeflateDestroy(encoder, 0, 0, 0);
        encoder = 0;
        return nullptr;
      }
      result->output.insert(result->output.end(), block.pOutput, block.pOutput + block.lOutputSize);
      m_codec.pfnFree(block.pOutput);
      block.pOutput = nullptr;
      result->outputEnd.push_back(result->output.size());
      result->crcAfter.push_back(crc);
    }
    return result;
  } catch (...) {
    // Out of memory (or any other failure): the writer does this entry itself.
    if (block.pOutput != nullptr) m_codec.pfnFree(block.pOutput);
    return nullptr;
  }
}

}  // namespace lum::zip
