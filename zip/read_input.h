// ArchiveInput: how directory reading and extraction read an archive through its storage
// handle.
//
// Reading an archive means many small reads: a 46-byte directory header and its name, a
// 30-byte local header, then the entry's data. For a file, each of those would be a system
// call; ArchiveInput keeps a 64 KiB read-ahead buffer instead, so the directory and the
// local headers of small entries come out of memory, and a seek that lands inside the
// buffer costs nothing. Large reads bypass the buffer and go straight into the caller's
// memory. Memory handles need no buffer; stream objects are read unbuffered, so a stream
// sees the calls the storage protocol describes and nothing read ahead.
//
// Every read continues until it has the bytes asked for or the source reports its end, so
// a short count means the data ended. Errors are the storage layer's (pvVfsRead,
// pvVfsSeek), raised unchanged.
#pragma once

#include <cstdint>
#include <vector>

#include "zip/storage.h"

namespace lum::zip {

class ArchiveInput {
 public:
  // Size of the read-ahead buffer of a file source, and of the largest single read that
  // still goes through it.
  static constexpr std::int32_t kBufferSize = 65536;

  // Reads through `handle`, which must outlive this object.
  explicit ArchiveInput(VfsHandle& handle);
  ArchiveInput(const ArchiveInput&) = delete;
  ArchiveInput& operator=(const ArchiveInput&) = delete;

  // Moves to `distance` from the start (method 0), the current position (1) or the end
  // (2), with pvVfsSeek64's results and errors; returns the new position. Files move
  // anywhere in 64 bits; memory and streams keep their 32-bit positions.
  std::int64_t Seek(std::int64_t distance, std::int32_t method);
  // Reads up to `size` bytes into `destination`; fewer only at the end of the data.
  std::int32_t Read(std::uint8_t* destination, std::int32_t size);
  // Reads and discards up to `size` bytes; returns how many there were.
  std::int32_t Skip(std::int32_t size);

  VfsKind Kind() const { return m_handle.Kind; }

 private:
  // The buffer's contents are the bytes from file offset m_start on; m_at of them have
  // been consumed. The handle's own position is m_start + m_length.
  std::int32_t ReadThroughBuffer(std::uint8_t* destination, std::int32_t size);

  VfsHandle& m_handle;
  bool m_buffered;
  std::vector<std::uint8_t> m_buffer;
  std::int64_t m_start = 0;
  std::int32_t m_length = 0;
  std::int32_t m_at = 0;
  bool m_startKnown = false;  // m_start is a real position (after a seek or from 0)
};

}  // namespace lum::zip
