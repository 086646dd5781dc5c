// EntryInfo: one entry of the archive object's entry table. Directory reading fills it
// from an archive's central directory; AddFile and AddFromFolder fill it for an entry
// queued for writing, and the writer completes it with what it wrote.
#pragma once

#include <cstdint>
#include <string>

#include "zip/variant.h"

namespace lum::zip {

// Values of EntryInfo::FullSize, FullCompressedSize and FullOffset for a field that holds
// the Zip64 marker without a usable Zip64 value.
inline constexpr std::int64_t kZip64Missing = -1;
inline constexpr std::int64_t kZip64OutOfRange = -2;
// Bits of EntryInfo::Zip64Fields.
inline constexpr std::int32_t kZip64Size = 1;
inline constexpr std::int32_t kZip64CompressedSize = 2;
inline constexpr std::int32_t kZip64Offset = 4;

struct EntryInfo {
  // Entry path with "\" as separator; a folder entry ends in "\".
  std::string FileName;
  // External file attributes (Windows attribute bits in the low word; 0x10 folder).
  std::int32_t Attributes = 0;
  // CRC-32 of the uncompressed data. Held unsigned: it is a CRC register's final value,
  // and the writer uses this field as the running register of the entry.
  std::uint32_t Crc32 = 0;
  // Uncompressed size in bytes. A size that does not fit 31 bits shows 0x7FFFFFFF
  // (saturated, never wrapped or negative); FullSize holds it whole.
  std::int32_t Size = 0;
  // Size of the stored (compressed) data in bytes; saturated as Size (FullCompressedSize).
  std::int32_t CompressedSize = 0;
  // Entry comment.
  std::string Comment;
  // Last modification as an OLE Automation date (days since 1899-12-30, local time).
  double LastModified = 0.0;
  // Compression method: 0 stored, 8 Deflate. Read sign-extended from 16 bits.
  std::int32_t Method = 0;
  // Offset of the local header from the start of the archive; −1 for an entry the writer
  // left out. An offset past 0x7FFFFFFF shows 0x7FFFFFFF (FullOffset holds it whole).
  std::int32_t Offset = 0;
  // General-purpose bit flags (bit 0 encrypted, bit 11 UTF-8). Sign-extended from 16 bits.
  std::int32_t Flags = 0;
  // The central-directory extra field, raw; empty for queued entries.
  ByteArray Extra;
  // Queued entries: the data source given to AddFile (a path, a copied byte array, or a
  // stream reference). Unused for entries read from an archive.
  Variant DataSource;
  // Queued entries: compression level given to AddFile (−1: the archive's level).
  std::int32_t Level = 0;
  // Entries read from an archive: the central directory's "version made by" (its high byte
  // names the system whose attributes the entry carries; 3 is Unix, with the mode in the
  // high word of Attributes). Not among FileInfo's values.
  std::int32_t MadeBy = 0;
  // Entries read from an archive: the uncompressed size, the compressed size and the local
  // header offset whole, 64-bit. Where the 32-bit field holds the Zip64 marker (0xFFFFFFFF)
  // the value comes from the Zip64 extra field (id 1), and then is kZip64Missing when that
  // field lacks it, or kZip64OutOfRange when it does not fit 63 bits. Extraction works with
  // these; the 32-bit members above show them saturated.
  std::int64_t FullSize = 0;
  std::int64_t FullCompressedSize = 0;
  std::int64_t FullOffset = 0;
  // Which of those came from the Zip64 extra field: kZip64Size, kZip64CompressedSize,
  // kZip64Offset.
  std::int32_t Zip64Fields = 0;
  // The values extraction works with: the full value where there is one (entries read from
  // an archive, including the negative kZip64 values), else the 32-bit member (queued
  // entries, whose full values stay 0).
  std::int64_t WholeSize() const { return Whole(FullSize, Size); }
  std::int64_t WholeCompressedSize() const { return Whole(FullCompressedSize, CompressedSize); }
  std::int64_t WholeOffset() const { return Whole(FullOffset, Offset); }
  // Queued entries from POSIX files: the file's mode (type and permission bits). The writer
  // then marks the entry as made on Unix and puts the mode in the high word of the external
  // attributes, so that other tools restore permissions and symbolic links. 0 for every
  // other entry (and on Windows), which keeps the Windows attributes alone.
  std::uint32_t UnixMode = 0;
  // Queued entries: the name exactly as it goes into the archive, "/" separated, when
  // FileName cannot express it (a POSIX name holding "\", which FileName reads as a
  // separator); empty otherwise.
  std::string ArchiveName;

 private:
  static std::int64_t Whole(std::int64_t full, std::int32_t shown) {
    return full != 0 ? full : shown;
  }
};

}  // namespace lum::zip
