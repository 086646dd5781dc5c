// The writer's records: name and comment encoding and the three header writers.
#include "zip/write_records.h"

#include <cstring>

#include "platform/codepage.h"
#include "platform/error_code.h"
#include "platform/find.h"
#include "zip/names.h"
#include "zip/zip_error.h"

namespace lum::zip {

namespace rec = records;

ByteArray pvToMultiByte(const std::string& text, std::int32_t codePage) {
  return pvToCodePage(text, codePage);
}

namespace {

bool IsAscii(const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsUtf8(const std::string& text) {
  return IsAscii(text) || platform::SanitizeUtf8(text.data(), text.size()) == text;
}

bool SurvivesOem(const std::string& text) {
  // Every code page the writer uses holds ASCII as it is; only other text needs the round
  // trip.
  if (IsAscii(text)) return true;
  return pvFromCodePage(pvToMultiByte(text, platform::kCodePageOem), platform::kCodePageOem) ==
         text;
}

}  // namespace

std::int32_t pvUtf8Flag(const std::string& FileName, const std::string& Comment,
                        std::int32_t UseUtf8) {
  if (UseUtf8 == -1) return rec::kFlagUtf8;
  if (UseUtf8 != -2) return 0;
  return SurvivesOem(FileName) && SurvivesOem(Comment) ? 0 : rec::kFlagUtf8;
}

std::int32_t pvEntryCodePage(std::int32_t Flags) {
  return (Flags & rec::kFlagUtf8) ? platform::kCodePageUtf8 : platform::kCodePageOem;
}

ByteArray pvEncodeEntryName(const std::string& FileName, std::int32_t codePage) {
  std::string name = FileName;
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  return pvToMultiByte(name, codePage);
}

const std::string& pvStoredNameOf(const EntryInfo& e) {
  return e.ArchiveName.empty() ? e.FileName : e.ArchiveName;
}

std::int32_t pvEntryUtf8Flag(const EntryInfo& e, std::int32_t UseUtf8) {
  // A name that is not UTF-8 (POSIX names are bytes) goes in as its bytes and is never
  // claimed to be UTF-8.
  if (!IsUtf8(pvStoredNameOf(e))) return 0;
  return pvUtf8Flag(pvStoredNameOf(e), e.Comment, UseUtf8);
}

ByteArray pvEncodeEntry(const EntryInfo& e, std::int32_t codePage) {
  if (e.ArchiveName.empty() && IsUtf8(e.FileName)) return pvEncodeEntryName(e.FileName, codePage);
  std::string name = e.ArchiveName;
  if (name.empty()) {
    name = e.FileName;
    for (char& c : name) {
      if (c == '\\') c = '/';
    }
  }
  if (!IsUtf8(name)) return ByteArray(name.begin(), name.end());
  return pvToMultiByte(name, codePage);
}

bool pvNeedsUnixHost(const EntryInfo& e) {
  if (e.UnixMode == 0) return false;
  const std::uint32_t type = e.UnixMode & platform::kUnixTypeMask;
  if (type == platform::kUnixLink) return true;
  if (type == platform::kUnixRegular && (e.UnixMode & 0111) != 0) return true;
  // In FileName a "\" is a separator; only an ArchiveName holds one as a character.
  return e.ArchiveName.find('\\') != std::string::npos || !IsUtf8(pvStoredNameOf(e));
}

void pvCheckField16(std::size_t size) {
  if (size > static_cast<std::size_t>(kMaxField16)) pvRaise({}, kMsgValueTooLarge);
}

void pvWriteAll(VfsHandle& out, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const auto piece = static_cast<std::int32_t>(std::min<std::size_t>(size, 0x40000000));
    if (pvVfsWrite(out, data, piece) != piece) {
      pvRaise("pvVfsWrite", pvSystemErrorMessage(platform::kErrorDiskFull, out.sName));
    }
    data += piece;
    size -= static_cast<std::size_t>(piece);
  }
}

void pvWriteLocalHeader(VfsHandle& out, std::uint8_t* header, const ByteArray& name,
                        const ByteArray& extra) {
  pvCheckField16(name.size());
  pvCheckField16(extra.size());
  rec::Put16(header + rec::kLocalNameLength, static_cast<std::uint32_t>(name.size()));
  rec::Put16(header + rec::kLocalExtraLength, static_cast<std::uint32_t>(extra.size()));
  ByteArray image(static_cast<std::size_t>(rec::kLocalSize) + name.size() + extra.size());
  std::memcpy(image.data(), header, rec::kLocalSize);
  if (!name.empty()) std::memcpy(image.data() + rec::kLocalSize, name.data(), name.size());
  if (!extra.empty()) {
    std::memcpy(image.data() + rec::kLocalSize + name.size(), extra.data(), extra.size());
  }
  pvWriteAll(out, image.data(), image.size());
}

void pvWriteCentralHeader(ByteArray& directory, std::uint8_t* header, const ByteArray& name,
                          const ByteArray& extra, const ByteArray& comment) {
  pvCheckField16(name.size());
  pvCheckField16(extra.size());
  pvCheckField16(comment.size());
  rec::Put16(header + rec::kCentralNameLength, static_cast<std::uint32_t>(name.size()));
  rec::Put16(header + rec::kCentralExtraLength, static_cast<std::uint32_t>(extra.size()));
  rec::Put16(header + rec::kCentralCommentLength, static_cast<std::uint32_t>(comment.size()));
  directory.insert(directory.end(), header, header + rec::kCentralSize);
  directory.insert(directory.end(), name.begin(), name.end());
  directory.insert(directory.end(), extra.begin(), extra.end());
  directory.insert(directory.end(), comment.begin(), comment.end());
}

ByteArray pvZip64Extra(std::initializer_list<std::int64_t> values, const ByteArray& extra) {
  if (values.size() == 0) return extra;
  ByteArray field(4 + 8 * values.size());
  rec::Put16(field.data(), kZip64ExtraId);
  rec::Put16(field.data() + 2, static_cast<std::uint32_t>(8 * values.size()));
  std::uint8_t* p = field.data() + 4;
  for (const std::int64_t v : values) {
    pvPut64(p, v);
    p += 8;
  }
  field.insert(field.end(), extra.begin(), extra.end());
  return field;
}

void pvWriteZip64End(VfsHandle& out, std::int64_t recordOffset, std::int64_t entries,
                     std::int64_t size, std::int64_t offset, std::uint16_t versionNeeded) {
  std::uint8_t image[kZip64EndSize + kZip64LocatorSize] = {};
  std::uint8_t* r = image;
  rec::Put32(r, kZip64EndSignature);
  pvPut64(r + 4, kZip64EndSize - 12);  // the record's size after this field
  rec::Put16(r + 12, kVersionZip64);   // version made by
  rec::Put16(r + 14, versionNeeded);
  // Bytes 16–23: this disk and the directory's disk, both 0.
  pvPut64(r + 24, entries);  // records on this disk
  pvPut64(r + 32, entries);  // records in total
  pvPut64(r + 40, size);
  pvPut64(r + 48, offset);
  std::uint8_t* l = image + kZip64EndSize;
  rec::Put32(l, kZip64LocatorSignature);
  // Bytes 4–7: the disk of the record, 0.
  pvPut64(l + 8, recordOffset);
  rec::Put32(l + 16, 1);  // disks in total
  pvWriteAll(out, image, sizeof image);
}

void pvWriteEndOfCentralDir(VfsHandle& out, std::uint8_t* record, const std::string& comment) {
  const ByteArray bytes = pvToMultiByte(comment, platform::kCodePageOem);
  pvCheckField16(bytes.size());
  rec::Put16(record + rec::kEndCommentLength, static_cast<std::uint32_t>(bytes.size()));
  ByteArray image(record, record + rec::kEndSize);
  image.insert(image.end(), bytes.begin(), bytes.end());
  pvWriteAll(out, image.data(), image.size());
}

}  // namespace lum::zip
