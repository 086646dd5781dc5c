// ZipBuilder: archives written record by record (see zip_builder.h).
#include "tests/support/zip_builder.h"

#include <algorithm>

#include "tests/support/test_support.h"

namespace lum::test {

void PutLe16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLe32(Bytes& out, std::uint32_t value) {
  PutLe16(out, value);
  PutLe16(out, value >> 16);
}

void PatchLe16(Bytes& out, std::size_t at, std::uint32_t value) {
  out.at(at) = static_cast<std::uint8_t>(value);
  out.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PatchLe32(Bytes& out, std::size_t at, std::uint32_t value) {
  PatchLe16(out, at, value);
  PatchLe16(out, at + 2, value >> 16);
}

Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

std::string ToString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

Bytes DeflateAsStoredBlocks(const Bytes& data, std::size_t blockSize) {
  blockSize = std::clamp<std::size_t>(blockSize, 1, 65535);
  Bytes out;
  std::size_t at = 0;
  do {
    const std::size_t n = std::min(blockSize, data.size() - at);
    const bool final = at + n == data.size();
    out.push_back(final ? 1 : 0);  // BFINAL, BTYPE 00; the rest of the byte is padding
    PutLe16(out, static_cast<std::uint32_t>(n));
    PutLe16(out, static_cast<std::uint32_t>(~n & 0xFFFF));
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
               data.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
  } while (at < data.size());
  return out;
}

ZipEntrySpec& ZipBuilder::AddStored(const std::string& name, const Bytes& data) {
  ZipEntrySpec e;
  e.name = name;
  e.data = data;
  e.stored = data;
  e.method = 0;
  e.crc32 = ReferenceCrc32(data.data(), data.size());
  e.compressedSize = static_cast<std::uint32_t>(data.size());
  e.size = static_cast<std::uint32_t>(data.size());
  m_entries.push_back(std::move(e));
  return m_entries.back();
}

ZipEntrySpec& ZipBuilder::AddStored(const std::string& name, const std::string& text) {
  return AddStored(name, ToBytes(text));
}

ZipEntrySpec& ZipBuilder::AddDeflated(const std::string& name, const Bytes& data,
                                      std::size_t blockSize) {
  ZipEntrySpec& e = AddStored(name, data);
  e.method = 8;
  e.stored = DeflateAsStoredBlocks(data, blockSize);
  e.compressedSize = static_cast<std::uint32_t>(e.stored.size());
  return e;
}

ZipEntrySpec& ZipBuilder::AddFolder(const std::string& name) {
  ZipEntrySpec& e = AddStored(name, Bytes());
  e.externalAttributes = 0x10;
  return e;
}

Bytes ZipBuilder::Build() const {
  Bytes out = prefix;
  std::vector<std::uint32_t> offsets;
  for (const ZipEntrySpec& e : m_entries) {
    offsets.push_back(static_cast<std::uint32_t>(out.size()));
    if (e.omitLocal) continue;
    const std::string& localName = e.localName ? *e.localName : e.name;
    PutLe32(out, e.localSignature.value_or(0x04034B50));
    PutLe16(out, e.versionNeeded);
    PutLe16(out, e.flags);
    PutLe16(out, e.method);
    PutLe16(out, e.time);
    PutLe16(out, e.date);
    PutLe32(out, e.crc32);
    PutLe32(out, e.compressedSize);
    PutLe32(out, e.size);
    PutLe16(out, e.localNameLength.value_or(static_cast<std::uint16_t>(localName.size())));
    PutLe16(out, e.localExtraLength.value_or(static_cast<std::uint16_t>(e.extra.size())));
    out.insert(out.end(), localName.begin(), localName.end());
    out.insert(out.end(), e.extra.begin(), e.extra.end());
    out.insert(out.end(), e.stored.begin(), e.stored.end());
  }
  const auto directoryStart = static_cast<std::uint32_t>(out.size());
  for (std::size_t i = 0; i < m_entries.size(); ++i) {
    const ZipEntrySpec& e = m_entries[i];
    PutLe32(out, e.centralSignature.value_or(0x02014B50));
    PutLe16(out, e.versionMadeBy);
    PutLe16(out, e.versionNeeded);
    PutLe16(out, e.flags);
    PutLe16(out, e.method);
    PutLe16(out, e.time);
    PutLe16(out, e.date);
    PutLe32(out, e.crc32);
    PutLe32(out, e.compressedSize);
    PutLe32(out, e.size);
    PutLe16(out, e.nameLength.value_or(static_cast<std::uint16_t>(e.name.size())));
    PutLe16(out, e.extraLength.value_or(static_cast<std::uint16_t>(e.extra.size())));
    PutLe16(out, e.commentLength.value_or(static_cast<std::uint16_t>(e.comment.size())));
    PutLe16(out, 0);  // disk number start
    PutLe16(out, 0);  // internal attributes
    PutLe32(out, e.externalAttributes);
    PutLe32(out, e.offset.value_or(offsets[i]));
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.insert(out.end(), e.extra.begin(), e.extra.end());
    out.insert(out.end(), e.comment.begin(), e.comment.end());
  }
  const auto directoryEnd = static_cast<std::uint32_t>(out.size());
  const auto count = static_cast<std::uint16_t>(m_entries.size());
  PutLe32(out, 0x06054B50);
  PutLe16(out, 0);
  PutLe16(out, 0);
  PutLe16(out, diskEntries.value_or(count));
  PutLe16(out, totalEntries.value_or(count));
  PutLe32(out, directorySize.value_or(directoryEnd - directoryStart));
  PutLe32(out, directoryOffset.value_or(directoryStart));
  PutLe16(out, commentLength.value_or(static_cast<std::uint16_t>(comment.size())));
  out.insert(out.end(), comment.begin(), comment.end());
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

}  // namespace lum::test
