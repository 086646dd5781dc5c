// The writer's side of the ZIP records: encoding names and comments, the UTF-8 flag rule,
// and writing local headers, central-directory headers and the end record with their
// variable parts. Every 16-bit length is checked before it is written, and every write must
// write all its bytes, so a header never carries a wrapped length and a short write never
// passes unnoticed.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "zip/entry_info.h"
#include "zip/storage.h"
#include "zip/variant.h"
#include "zip/zip_records.h"

namespace lum::zip {

// A name, extra field or comment of 32,768 bytes or more.
inline constexpr char kMsgValueTooLarge[] = "Value too large for a 16-bit field";
// The largest value the writer puts into a 16-bit length field.
inline constexpr std::int32_t kMaxField16 = 0x7FFF;
// The largest value the public 32-bit members (Size, CompressedSize, Offset) show: a size or
// offset beyond it is shown as this value, never wrapped or negative.
inline constexpr std::int64_t kMaxArchivePosition = 0x7FFFFFFF;

// ---- Zip64 ----
// A size or offset of 0xFFFFFFFF or more, and an entry count of 0xFFFF or more, does not fit
// its classic field: the field holds the marker (all bits set) and the value goes into the
// Zip64 records. Below these, the classic records alone are written.
inline constexpr std::int64_t kZip64Marker32 = 0xFFFFFFFF;
inline constexpr std::int64_t kZip64Marker16 = 0xFFFF;
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr std::uint16_t kVersionZip64 = 45;
inline constexpr std::uint32_t kZip64EndSignature = 0x06064B50;
inline constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
inline constexpr std::int32_t kZip64EndSize = 56;
inline constexpr std::int32_t kZip64LocatorSize = 20;
// A data descriptor follows the data of an entry whose local header has flag bit 3.
inline constexpr std::int32_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;

// The 32-bit field value of `value`: itself, or the marker when it does not fit.
inline std::uint32_t pvField32(std::int64_t value) {
  return value >= kZip64Marker32 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}
// `value` as a public 32-bit member: kMaxArchivePosition when it does not fit.
inline std::int32_t pvSaturate32(std::int64_t value) {
  return static_cast<std::int32_t>(value > kMaxArchivePosition ? kMaxArchivePosition : value);
}
inline void pvPut64(std::uint8_t* p, std::int64_t v) {
  records::Put32(p, static_cast<std::uint32_t>(v));
  records::Put32(p + 4, static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32));
}

// The Zip64 extra field (id 1) holding `values` (8 bytes each, in the order given), followed
// by `extra` (the entry's own extra field). With no values, `extra` alone.
ByteArray pvZip64Extra(std::initializer_list<std::int64_t> values, const ByteArray& extra);

// Writes the Zip64 end-of-central-directory record (version `versionNeeded`) for `entries`
// records, a directory of `size` bytes at `offset`, and the locator that points to the record
// at `recordOffset` (where the output is now).
void pvWriteZip64End(VfsHandle& out, std::int64_t recordOffset, std::int64_t entries,
                     std::int64_t size, std::int64_t offset, std::uint16_t versionNeeded);
// The name CompressArchive gives its output when it ends it.
inline constexpr char kOutputArchiveName[] = "[output_archive]";

// `text` in `codePage` (65001 UTF-8, 1 OEM): empty for empty text or when the conversion
// yields nothing; characters the code page lacks become its substitute.
ByteArray pvToMultiByte(const std::string& text, std::int32_t codePage);

// The general-purpose flags of an entry named `FileName` with the entry comment `Comment`
// under `UseUtf8`: −2 sets bit 11 (0x800) only when the name or the comment does not survive
// a round trip through the OEM code page, −1 always, any other value never. The comment is
// written in its name's code page, so it is tested too: an ASCII name must not cost a
// comment its characters.
std::int32_t pvUtf8Flag(const std::string& FileName, const std::string& Comment,
                        std::int32_t UseUtf8);

// The code page of an entry's name and comment for its `Flags`: UTF-8 with bit 11, else OEM.
std::int32_t pvEntryCodePage(std::int32_t Flags);

// The stored form of an entry name: every "\" turned into "/", encoded in `codePage`.
ByteArray pvEncodeEntryName(const std::string& FileName, std::int32_t codePage);

// The name entry `e` is stored under, as text: its ArchiveName when it has one, else its
// FileName.
const std::string& pvStoredNameOf(const EntryInfo& e);
// pvUtf8Flag for entry `e`'s stored name and comment; 0 for a name that is not valid UTF-8.
std::int32_t pvEntryUtf8Flag(const EntryInfo& e, std::int32_t UseUtf8);
// The bytes of entry `e`'s name in `codePage`: its ArchiveName as it is, or its FileName with
// "/" for every "\"; a name that is not valid UTF-8 (bytes of a POSIX name) is written as
// its own bytes, unconverted.
ByteArray pvEncodeEntry(const EntryInfo& e, std::int32_t codePage);
// True when entry `e` is to be marked as made on Unix, with its mode in the high word of the
// external attributes: a POSIX entry (UnixMode set) that is a symbolic link, an executable
// file, or whose stored name holds "\" or is not UTF-8 (on an MS-DOS host, readers take
// "\" for a separator and the bytes for code page 437). Other entries keep host 0.
bool pvNeedsUnixHost(const EntryInfo& e);

// Raises "Value too large for a 16-bit field" when `size` does not fit a 16-bit field.
void pvCheckField16(std::size_t size);

// Writes `size` bytes; a write that takes fewer raises "pvVfsWrite" (the disk-full text and
// the handle's name), as a failed one does.
void pvWriteAll(VfsHandle& out, const std::uint8_t* data, std::size_t size);

// Sets the name and extra lengths of the 30-byte local header image `header` and writes it,
// followed by the name and extra bytes, in one write.
void pvWriteLocalHeader(VfsHandle& out, std::uint8_t* header, const ByteArray& name,
                        const ByteArray& extra);

// Sets the three lengths of the 46-byte central header image `header` and appends it,
// followed by name, extra field and comment, to `directory` (the central directory is
// written from there in large pieces).
void pvWriteCentralHeader(ByteArray& directory, std::uint8_t* header, const ByteArray& name,
                          const ByteArray& extra, const ByteArray& comment);

// Encodes `comment` in the OEM code page, sets the comment length of the 22-byte end record
// image `record` and writes the record and the comment.
void pvWriteEndOfCentralDir(VfsHandle& out, std::uint8_t* record, const std::string& comment);

// The DOS date and time of an entry's LastModified (seconds rounded down to even); both 0
// for dates outside 1980–2107.
inline void pvToDosDateTime(double localDate, std::uint16_t& date, std::uint16_t& time) {
  records::pvToDosDateTime(localDate, date, time);
}

}  // namespace lum::zip
