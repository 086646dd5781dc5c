// ArchiveInput: buffered reading of a file archive, plain reading of memory and streams.
#include "zip/read_input.h"

#include <algorithm>
#include <cstring>

namespace lum::zip {

ArchiveInput::ArchiveInput(VfsHandle& handle)
    : m_handle(handle), m_buffered(handle.Kind == VfsKind::kFile) {
  if (m_buffered) m_buffer.resize(kBufferSize);
}

std::int64_t ArchiveInput::Seek(std::int64_t distance, std::int32_t method) {
  if (m_buffered && method == 0 && m_startKnown && distance >= m_start &&
      distance <= m_start + m_length) {
    m_at = static_cast<std::int32_t>(distance - m_start);
    return distance;
  }
  const std::int64_t position = pvVfsSeek64(m_handle, distance, method);
  m_start = position;
  m_length = 0;
  m_at = 0;
  m_startKnown = true;
  return position;
}

std::int32_t ArchiveInput::Read(std::uint8_t* destination, std::int32_t size) {
  if (size <= 0) return 0;
  if (m_buffered) return ReadThroughBuffer(destination, size);
  std::int32_t total = 0;
  while (total < size) {
    const std::int32_t count = pvVfsRead(m_handle, destination + total, size - total);
    if (count <= 0) break;
    total += count;
  }
  return total;
}

std::int32_t ArchiveInput::ReadThroughBuffer(std::uint8_t* destination, std::int32_t size) {
  std::int32_t total = 0;
  while (total < size) {
    const std::int32_t available = m_length - m_at;
    if (available > 0) {
      const std::int32_t take = std::min(available, size - total);
      if (destination != nullptr) std::memcpy(destination + total, m_buffer.data() + m_at, take);
      m_at += take;
      total += take;
      continue;
    }
    // The buffer is used up: the handle stands at m_start + m_length.
    m_start += m_length;
    m_length = 0;
    m_at = 0;
    const std::int32_t wanted = size - total;
    if (wanted >= kBufferSize && destination != nullptr) {
      const std::int32_t count = pvVfsRead(m_handle, destination + total, wanted);
      if (count <= 0) break;
      m_start += count;
      total += count;
    } else {
      const std::int32_t count = pvVfsRead(m_handle, m_buffer.data(), kBufferSize);
      if (count <= 0) break;
      m_length = count;
    }
  }
  return total;
}

std::int32_t ArchiveInput::Skip(std::int32_t size) {
  if (size <= 0) return 0;
  if (m_buffered) return ReadThroughBuffer(nullptr, size);
  std::uint8_t scratch[4096];
  std::int32_t total = 0;
  while (total < size) {
    const std::int32_t count = Read(scratch, std::min<std::int32_t>(size - total, sizeof scratch));
    if (count <= 0) break;
    total += count;
  }
  return total;
}

}  // namespace lum::zip
