// Compression ahead of the writer: worker threads that compress upcoming entries of a
// CompressArchive call into memory while the caller's thread writes the current one.
//
// The workers do pure work only. Each takes a copy of an entry's source (a named file, which
// it reads whole through the platform layer, or the bytes of a byte array), computes its
// CRC-32 and compresses it with its own dynamic-Huffman encoder handle, in the same 64 KiB
// chunks and with the same final flag as the writer's own pass. No event is raised, no
// storage handle, stream object or entry of the engine is touched, and a failure of any kind
// (lookup, open, read, allocation, a file larger than announced, a stop) only drops that
// entry's result: the writer then does the entry itself, as it always has.
//
// The writer stays in charge of every observable step. At an entry's turn it reads the
// source as it always does and writes a chunk's compressed bytes from the result only while
// the bytes it read are exactly the bytes the worker compressed, chunk for chunk, with the
// same end (AheadResult::Matches). Because the encoder's output for a chunk depends only on
// the chunks before it, the archive is byte for byte what the single-threaded pass writes.
//
// Memory is bounded: an entry is queued only when its source is at most kAheadEntryLimit
// bytes and the sources held ahead (queued, being compressed, or compressed and waiting for
// their turn) stay within kAheadBudget; each result holds its source and its compressed form.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "codec/codec_table.h"
#include "zip/variant.h"

namespace lum::zip {

// The largest source compressed ahead, and the most source bytes held ahead at once (the
// defaults of AheadEntryLimit and AheadBudget).
inline constexpr std::int64_t kAheadEntryLimit = std::int64_t{32} << 20;
inline constexpr std::int64_t kAheadBudget = std::int64_t{64} << 20;
std::int64_t AheadEntryLimit();
std::int64_t AheadBudget();
// How many entries past the current one may be queued.
inline constexpr std::int32_t kAheadEntries = 64;
// The most worker threads an engine starts.
inline constexpr std::int32_t kMaxCompressThreads = 64;

// One upcoming entry, copied on the caller's thread when it is queued.
struct AheadSource {
  std::int32_t index = -1;
  std::int32_t level = 6;  // 1 to 9
  std::string path;        // a named file, read whole by the worker; or, when empty,
  ByteArray bytes;         // the bytes of a byte-array source
  std::int64_t size = 0;   // the size announced for the entry (the bytes' size for an array)
};

// What a worker made of an entry: the source it read, cut into the writer's chunks, and for
// each chunk the encoder's output and the CRC-32 register after it.
struct AheadResult {
  std::int32_t level = 0;
  ByteArray input;
  ByteArray output;
  std::vector<std::size_t> outputEnd;  // where each chunk's output ends in `output`
  std::vector<std::uint32_t> crcAfter;

  std::size_t Chunks() const { return outputEnd.size(); }
  // Whether chunk `chunk` is `count` bytes at `data` and, as `final` says, the last one.
  bool Matches(std::size_t chunk, const std::uint8_t* data, std::int32_t count, bool final) const;
  // Chunk `chunk`'s source bytes and compressed bytes.
  const std::uint8_t* InputOf(std::size_t chunk) const;
  std::int32_t InputSizeOf(std::size_t chunk) const;
  const std::uint8_t* OutputOf(std::size_t chunk) const;
  std::int32_t OutputSizeOf(std::size_t chunk) const;
};

// The worker threads of one CompressArchive call and the entries queued for them. Every
// member is called on the caller's thread; the destructor stops and joins the workers and
// frees every result not taken, so nothing runs or stays allocated after the call.
class DeflateAhead {
 public:
  // Starts up to `workers` threads whose encoders allocate through `codec`'s allocator. A
  // thread that cannot be started is done without (with none, every entry is withdrawn at
  // its turn and the writer does it itself).
  DeflateAhead(const codec::CodecEntryTable& codec, std::int32_t workers);
  DeflateAhead(const DeflateAhead&) = delete;
  DeflateAhead& operator=(const DeflateAhead&) = delete;
  ~DeflateAhead();

  // Whether a source of `size` bytes fits the budget beside those held now.
  bool HasRoom(std::int64_t size) const;
  // Queues an entry for the workers. False (nothing queued) when memory ran out.
  bool Submit(AheadSource source) noexcept;
  // Entry `index`'s result at `level`: waits while a worker is compressing it. Null when the
  // entry was not queued, failed, was compressed at another level, or had not been started
  // (it is then withdrawn). Whatever the answer, the entry is no longer held.
  std::unique_ptr<AheadResult> Take(std::int32_t index, std::int32_t level);
  // Lets go of entry `index` without waiting: a queued entry is withdrawn, a finished
  // result freed, and one being compressed is freed by its worker when it finishes.
  void Drop(std::int32_t index) noexcept;
  // Stops the workers (an entry being compressed is abandoned at its next chunk), joins
  // them and frees everything held. Called by the destructor; calling it twice is harmless.
  void Stop() noexcept;

 private:
  enum class State { kQueued, kRunning, kDone, kDropped };
  struct Slot {
    State state = State::kQueued;
    AheadSource source;
    std::unique_ptr<AheadResult> result;
  };

  void WorkerLoop() noexcept;
  // The worker's part for one entry; null on any failure. `encoder` is the worker's handle,
  // made on first use and reset per entry.
  std::unique_ptr<AheadResult> Compress(AheadSource& source, codec::CodecWord& encoder) noexcept;
  // Removes a slot and its share of the budget. Requires the lock.
  void Erase(std::map<std::int32_t, Slot>::iterator it);

  const codec::CodecEntryTable& m_codec;
  mutable std::mutex m_lock;
  std::condition_variable m_queued;    // an entry was queued, or the workers must stop
  std::condition_variable m_finished;  // a worker finished an entry
  std::map<std::int32_t, Slot> m_slots;
  std::int64_t m_held = 0;  // announced sizes of the slots
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

namespace testing {
// Called on the worker thread each time a worker has finished with an entry, with whether a
// result was made; null (the default) for none. Set it only while no CompressArchive runs.
void SetAheadFinishedHook(void (*hook)(std::int32_t index, bool compressed));
// Lowers AheadEntryLimit and AheadBudget, so that tests reach them with small sources; a
// negative value restores the default. Set them only while no CompressArchive runs.
void SetAheadLimits(std::int64_t entryLimit, std::int64_t budget);
}  // namespace testing

}  // namespace lum::zip
