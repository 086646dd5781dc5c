// ZipBuilder: writes ZIP archives record by record, field by field, so that tests can make
// exactly the archive they need, including broken and hostile ones: every header field can
// be overridden, names are raw bytes, and the end record's count, offset and comment length
// can disagree with what is really there.
//
// Deflate entries are written with stored Deflate blocks (type 00) by default, so the
// archives do not depend on any encoder; callers that need real compressed data put their
// own bytes in `stored` after Add.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace lum::test {

// One entry as it will be written. Add* fill every field consistently; tests then change
// what they want broken.
struct ZipEntrySpec {
  std::string name;  // raw name bytes (written as they are)
  Bytes data;        // the uncompressed content (for reference; not written)
  Bytes stored;      // the bytes written after the local header
  std::uint16_t versionMadeBy = 20;
  std::uint16_t versionNeeded = 20;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint16_t time = 0x6B4A;  // 13:26:20
  std::uint16_t date = 0x4C21;  // 2018-01-01
  std::uint32_t crc32 = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t size = 0;
  std::uint32_t externalAttributes = 0x20;
  Bytes extra;
  std::string comment;
  // Overrides for hostile archives; unset means "the consistent value".
  std::optional<std::uint32_t> centralSignature;
  std::optional<std::uint32_t> localSignature;
  std::optional<std::uint32_t> offset;  // the central directory's local-header offset
  std::optional<std::uint16_t> nameLength, extraLength, commentLength;  // central fields
  std::optional<std::uint16_t> localNameLength, localExtraLength;
  std::optional<std::string> localName;  // the name in the local header
  bool omitLocal = false;                // write no local header and no data
};

class ZipBuilder {
 public:
  // A stored entry of `data`.
  ZipEntrySpec& AddStored(const std::string& name, const Bytes& data);
  ZipEntrySpec& AddStored(const std::string& name, const std::string& text);
  // A Deflate entry of `data` made of stored Deflate blocks of at most `blockSize` bytes.
  ZipEntrySpec& AddDeflated(const std::string& name, const Bytes& data,
                            std::size_t blockSize = 65535);
  // A folder entry (name should end in "/"), attributes 0x10.
  ZipEntrySpec& AddFolder(const std::string& name);

  std::vector<ZipEntrySpec>& Entries() { return m_entries; }

  // The whole archive: prefix, local headers and data, central directory, end record.
  Bytes Build() const;

  // Archive-level fields and overrides.
  Bytes prefix;         // bytes before the first local header (a stub, junk)
  std::string comment;  // the archive comment (raw bytes)
  std::optional<std::uint16_t> diskEntries, totalEntries, commentLength;
  std::optional<std::uint32_t> directoryOffset, directorySize;
  Bytes trailer;  // bytes after the end record and its comment

 private:
  std::vector<ZipEntrySpec> m_entries;
};

// Little-endian writers used by the builder and by tests that patch archives.
void PutLe16(Bytes& out, std::uint32_t value);
void PutLe32(Bytes& out, std::uint32_t value);
void PatchLe16(Bytes& out, std::size_t at, std::uint32_t value);
void PatchLe32(Bytes& out, std::size_t at, std::uint32_t value);

// `data` as raw Deflate made of stored blocks of at most `blockSize` bytes (at least one
// block, so empty data gives one empty final block).
Bytes DeflateAsStoredBlocks(const Bytes& data, std::size_t blockSize = 65535);

Bytes ToBytes(const std::string& text);
std::string ToString(const Bytes& bytes);

}  // namespace lum::test
