// ZipLayout: reads back the records of an archive field by field, without the engine, so that
// writer tests can check every header value the writer put down: the end record, each
// central header and the local header and data it points to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lum::test {

struct LocalHeaderFields {
  std::uint32_t signature = 0;
  std::uint16_t versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
  std::uint32_t crc32 = 0, compressedSize = 0, size = 0;
  std::uint16_t nameLength = 0, extraLength = 0;
  std::vector<std::uint8_t> name;
  std::size_t dataStart = 0;
};

struct CentralHeaderFields {
  std::uint16_t versionMadeBy = 0, versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
  std::uint32_t crc32 = 0, compressedSize = 0, size = 0;
  std::uint16_t nameLength = 0, extraLength = 0, commentLength = 0, diskStart = 0,
                internalAttributes = 0;
  std::uint32_t externalAttributes = 0, localOffset = 0;
  std::vector<std::uint8_t> name, extra, comment;
};

struct LaidOutEntry {
  CentralHeaderFields central;
  LocalHeaderFields local;
  std::vector<std::uint8_t> data;  // the compressedSize bytes after the local header
};

struct ZipLayout {
  std::uint16_t disk = 0, directoryDisk = 0, diskEntries = 0, totalEntries = 0;
  std::uint32_t directorySize = 0, directoryOffset = 0;
  std::vector<std::uint8_t> comment;
  std::vector<LaidOutEntry> entries;
};

// The layout of a whole archive whose end record is its last 22 bytes plus its comment (the
// writer's archives). Nothing when a record is missing, has a wrong signature or runs past
// the end of `bytes`.
std::optional<ZipLayout> ReadZipLayout(const std::vector<std::uint8_t>& bytes);

}  // namespace lum::test
