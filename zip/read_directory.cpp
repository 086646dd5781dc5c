// OpenArchive: reads the directory of an existing archive into the entry table.
//
// The end-of-central-directory record is searched backwards from the end of the archive:
// the record nearest the end whose comment-length field reaches exactly to the end wins,
// with comments of up to 65535 bytes. When no record reaches exactly to the end, the
// nearest one whose comment fits before the end is taken, so data appended after the
// archive does not hide it (as unzip reads such archives). Its count and offset lead to
// the central directory, which is read strictly in sequence, one 46-byte header and its
// name, extra field and comment at a time. Entry data is not touched.
//
// Data before the archive (a self-extractor stub) is found the way unzip finds it: the
// directory really starts its own size before the end record; when the recorded offset
// holds no directory but that place does, the difference is a prefix added to every
// offset (stubs whose offsets were adjusted need nothing).
//
// Everything goes into a new table that replaces the object's table, count, comment and
// remembered source only when the whole directory has been read, so a failed open leaves
// the object describing the archive it described before.
//
// Beyond a plain reading of the records, a directory that ends before its last record (a
// short read anywhere in it) makes the archive invalid, instead of filling the table with
// whatever the buffers held. The entry count is unsigned: up to 65535 entries, but a count
// of 0x8000 or more that the directory's bytes cannot hold is refused at once.
//
// An archive with more entries than the classic count field holds (the writer then puts
// 0xFFFF there, and 0xFFFFFFFF in the directory's size and offset) carries a Zip64 end
// record, found through the locator just before the end record. Each classic field that
// holds its marker is taken from that record instead. A count that the directory's bytes
// cannot hold is refused before the table is made, so the table never outgrows what the
// archive really holds.
//
// Sizes and offsets are 64-bit. An entry's uncompressed size, compressed size and local
// header offset whose 32-bit field holds the marker 0xFFFFFFFF come from its Zip64 extra
// field (id 1), which holds 8 bytes for each marked field in that order. A marked field
// without its value is kept as missing, not refused here: the entry is still listed, and
// extraction refuses it with a message naming the field. The public 32-bit members show
// every value that does not fit 31 bits saturated at 0x7FFFFFFF.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "zip/names.h"
#include "zip/read_input.h"
#include "zip/write_records.h"
#include "zip/zip_engine.h"
#include "zip/zip_records.h"

namespace lum::zip {
namespace {

namespace rec = records;

constexpr char kMsgMissingEnd[] = "Missing end-of-central-directory record";
constexpr char kMsgNoFilename[] = "Entry %1 has no filename";
constexpr char kMsgTruncated[] = "Entry %1 is truncated";
constexpr char kMsgCountOutOfRange[] = "Entry count out of range";
constexpr char kMsgZip64EndOutOfRange[] = "Zip64 end record out of range";
// Counts from here on were refused while the field was read as signed; they are taken now
// when the directory's bytes can hold that many records.
constexpr std::int32_t kLargeCount = 0x8000;
// The entry table's first reservation at most; it grows beyond it as records are read.
constexpr std::int64_t kInitialEntries = 1024;

// The end record found by the search, and the archive comment after it.
struct EndRecord {
  std::uint8_t bytes[rec::kEndSize] = {};
  ByteArray comment;
  std::int64_t position = 0;  // where the record starts
};

bool IsEndAt(const std::uint8_t* p, std::int32_t distance) {
  return rec::Get32(p) == rec::kEndSignature && rec::Get16(p + rec::kEndCommentLength) == distance;
}

// A record whose comment ends before the end of the archive (data follows it).
bool IsEndBefore(const std::uint8_t* p, std::int32_t distance) {
  return rec::Get32(p) == rec::kEndSignature && rec::Get16(p + rec::kEndCommentLength) < distance;
}

// Searches the last 22 + 65535 bytes, nearest the end first: a record whose comment reaches
// exactly to the end wins; failing that, the nearest record whose comment ends before the
// end. Files and memory: the tail is read once and searched in memory. A stream is asked
// position by position, 22 bytes each, so it is never read further back than needed.
bool FindEndRecord(ArchiveInput& in, std::int64_t size, EndRecord& end) {
  if (size < rec::kEndSize) return false;
  const auto last = static_cast<std::int32_t>(
      std::min<std::int64_t>(size - rec::kEndSize, rec::kMaxArchiveComment));
  if (in.Kind() != VfsKind::kStream) {
    const std::int32_t tailSize = rec::kEndSize + last;
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(tailSize));
    in.Seek(size - tailSize, 0);
    const std::int32_t got = in.Read(tail.data(), tailSize);
    if (got < tailSize) return false;
    std::int32_t loose = -1;
    for (std::int32_t i = 0; i <= last; ++i) {
      const std::uint8_t* p = tail.data() + (last - i);
      if (IsEndAt(p, i)) {
        loose = i;
        break;
      }
      if (loose < 0 && IsEndBefore(p, i)) loose = i;
    }
    if (loose < 0) return false;
    const std::uint8_t* p = tail.data() + (last - loose);
    std::memcpy(end.bytes, p, rec::kEndSize);
    end.comment.assign(p + rec::kEndSize,
                       p + rec::kEndSize + rec::Get16(p + rec::kEndCommentLength));
    end.position = size - rec::kEndSize - loose;
    return true;
  }
  std::int32_t loose = -1;
  std::uint8_t looseBytes[rec::kEndSize] = {};
  for (std::int32_t i = 0; i <= last; ++i) {
    in.Seek(size - rec::kEndSize - i, 0);
    std::uint8_t p[rec::kEndSize] = {};
    if (in.Read(p, rec::kEndSize) < rec::kEndSize) continue;
    if (IsEndAt(p, i)) {
      std::memcpy(end.bytes, p, rec::kEndSize);
      end.comment.resize(static_cast<std::size_t>(i));
      end.position = size - rec::kEndSize - i;
      if (i > 0 && in.Read(end.comment.data(), i) < i) return false;
      return true;
    }
    if (loose < 0 && IsEndBefore(p, i)) {
      loose = i;
      std::memcpy(looseBytes, p, rec::kEndSize);
    }
  }
  if (loose < 0) return false;
  std::memcpy(end.bytes, looseBytes, rec::kEndSize);
  end.position = size - rec::kEndSize - loose;
  const std::int32_t length = rec::Get16(looseBytes + rec::kEndCommentLength);
  end.comment.resize(static_cast<std::size_t>(length));
  in.Seek(end.position + rec::kEndSize, 0);
  return length == 0 || in.Read(end.comment.data(), length) == length;
}

// Where the central directory is, as the end records say: its entry count, size and offset,
// and where it must end (the Zip64 end record, or else the classic one).
struct DirectoryPlace {
  std::int64_t count = 0;
  std::int64_t size = 0;
  std::int64_t offset = 0;
  std::int64_t end = 0;
};

std::int64_t Get64(const std::uint8_t* p) {
  const std::uint64_t value = rec::Get32(p) | std::uint64_t{rec::Get32(p + 4)} << 32;
  return value > 0x7FFFFFFFFFFFFFFFull ? -1 : static_cast<std::int64_t>(value);
}

// True when a Zip64 end record stands at `position`, read into `record`.
bool Zip64EndAt(ArchiveInput& in, std::int64_t position, std::int64_t limit,
                std::uint8_t (&record)[kZip64EndSize]) {
  if (position < 0 || position > limit - kZip64EndSize) return false;
  in.Seek(position, 0);
  return in.Read(record, kZip64EndSize) == kZip64EndSize &&
         rec::Get32(record) == kZip64EndSignature;
}

// The directory's place from the classic end record, with every field that holds its Zip64
// marker taken from the Zip64 end record that the locator before the end record points at.
// The record is looked for where the locator says and, for data before the archive that
// the offsets do not count, right before the locator.
DirectoryPlace FindDirectory(ArchiveInput& in, const EndRecord& end) {
  DirectoryPlace place;
  place.count = rec::Get16(end.bytes + rec::kEndDiskEntries);
  place.size = rec::Get32(end.bytes + rec::kEndDirectorySize);
  place.offset = rec::Signed32(end.bytes + rec::kEndDirectoryOffset);
  place.end = end.position;
  const bool marked = place.count == 0xFFFF || place.size == 0xFFFFFFFF ||
                      rec::Get32(end.bytes + rec::kEndDirectoryOffset) == 0xFFFFFFFF;
  if (!marked || end.position < kZip64LocatorSize) return place;
  std::uint8_t locator[kZip64LocatorSize] = {};
  const std::int64_t locatorAt = end.position - kZip64LocatorSize;
  in.Seek(locatorAt, 0);
  if (in.Read(locator, kZip64LocatorSize) < kZip64LocatorSize ||
      rec::Get32(locator) != kZip64LocatorSignature) {
    return place;
  }
  std::uint8_t record[kZip64EndSize] = {};
  std::int64_t recordAt = Get64(locator + 8);
  if (!Zip64EndAt(in, recordAt, locatorAt, record)) {
    recordAt = locatorAt - kZip64EndSize;
    if (!Zip64EndAt(in, recordAt, locatorAt, record)) {
      pvRaise({}, pvCompoundMessage(kMsgInvalidArchive, kMsgZip64EndOutOfRange));
    }
  }
  if (place.count == 0xFFFF) place.count = Get64(record + 24);
  if (place.size == 0xFFFFFFFF) place.size = Get64(record + 40);
  if (rec::Get32(end.bytes + rec::kEndDirectoryOffset) == 0xFFFFFFFF) {
    place.offset = Get64(record + 48);
  }
  if (place.count < 0 || place.size < 0 || place.offset < 0 || place.offset > recordAt) {
    pvRaise({}, pvCompoundMessage(kMsgInvalidArchive, kMsgZip64EndOutOfRange));
  }
  place.end = recordAt;
  return place;
}

// True when a central-directory header signature stands at `offset`.
bool DirectoryAt(ArchiveInput& in, std::int64_t offset, std::int64_t size) {
  if (offset < 0 || offset + 4 > size) return false;
  std::uint8_t signature[4] = {};
  in.Seek(offset, 0);
  return in.Read(signature, 4) == 4 && rec::Get32(signature) == rec::kCentralSignature;
}

// The number of bytes before the archive that its offsets do not count: where the directory
// really starts (its size before the end record) less where the end record says it starts,
// taken only when the recorded place holds no directory and the real one does.
std::int64_t PrefixLength(ArchiveInput& in, const DirectoryPlace& place, std::int64_t size) {
  if (place.count == 0) return 0;
  const std::int64_t recorded = place.offset;
  const std::int64_t real = place.end - place.size;
  if (real <= recorded || recorded < 0) return 0;
  if (DirectoryAt(in, recorded, size) || !DirectoryAt(in, real, size)) return 0;
  return real - recorded;
}

// Reads exactly `count` bytes; a directory that ends early makes the archive invalid.
void ReadDirectoryBytes(ArchiveInput& in, std::uint8_t* destination, std::int32_t count,
                        std::int32_t index) {
  if (count > 0 && in.Read(destination, count) < count) {
    pvRaise({}, pvCompoundMessage(kMsgInvalidArchive, pvFormatEntryMessage(kMsgTruncated, index)));
  }
}

ByteArray ReadDirectoryField(ArchiveInput& in, std::int32_t length, std::int32_t index) {
  ByteArray bytes;
  if (length > 0) {
    bytes.resize(static_cast<std::size_t>(length));
    ReadDirectoryBytes(in, bytes.data(), length, index);
  }
  return bytes;
}

// Fills the fixed fields of `e` from a central-directory header.
void FillFromHeader(EntryInfo& e, const std::uint8_t* h) {
  e.Flags = rec::Signed16(h + rec::kCentralFlags);
  e.Method = rec::Signed16(h + rec::kCentralMethod);
  e.LastModified =
      rec::pvFromDosDateTime(rec::Get16(h + rec::kCentralDate), rec::Get16(h + rec::kCentralTime));
  e.Crc32 = rec::Get32(h + rec::kCentralCrc32);
  e.FullCompressedSize = rec::Get32(h + rec::kCentralCompressedSize);
  e.FullSize = rec::Get32(h + rec::kCentralSize32);
  e.Attributes = rec::Signed32(h + rec::kCentralExternalAttributes);
  e.FullOffset = rec::Get32(h + rec::kCentralLocalOffset);
  e.MadeBy = rec::Get16(h + rec::kCentralVersionMadeBy);
}

// The data of the first Zip64 extended-information field (id 1) in the extra field `extra`
// and its length, cut to what the extra field really holds; null when there is none.
const std::uint8_t* FindZip64Field(const ByteArray& extra, std::size_t& length) {
  std::size_t at = 0;
  while (at + 4 <= extra.size()) {
    const std::uint16_t id = rec::Get16(extra.data() + at);
    const std::size_t declared = rec::Get16(extra.data() + at + 2);
    const std::size_t start = at + 4;
    if (id == kZip64ExtraId) {
      length = std::min(declared, extra.size() - start);
      return extra.data() + start;
    }
    at = start + declared;
  }
  return nullptr;
}

// Replaces each of the entry's uncompressed size, compressed size and local header offset
// whose 32-bit field holds the marker by the next 8 bytes of its Zip64 field, in that order
// (the disk number, last, is never needed). A value the field lacks is kZip64Missing; one
// past 63 bits kZip64OutOfRange. Fields without the marker keep their 32-bit value, whatever
// the extra field holds.
void TakeZip64Values(EntryInfo& e) {
  std::int64_t* const fields[] = {&e.FullSize, &e.FullCompressedSize, &e.FullOffset};
  const std::int32_t bits[] = {kZip64Size, kZip64CompressedSize, kZip64Offset};
  std::size_t length = 0;
  const std::uint8_t* data = nullptr;
  bool looked = false;
  std::size_t at = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    if (*fields[k] != kZip64Marker32) continue;
    if (!looked) {
      data = FindZip64Field(e.Extra, length);
      looked = true;
    }
    e.Zip64Fields |= bits[k];
    if (data == nullptr || at + 8 > length) {
      *fields[k] = kZip64Missing;
      continue;
    }
    const std::uint64_t value = rec::Get32(data + at) | std::uint64_t{rec::Get32(data + at + 4)}
                                                            << 32;
    *fields[k] =
        value > 0x7FFFFFFFFFFFFFFFull ? kZip64OutOfRange : static_cast<std::int64_t>(value);
    at += 8;
  }
}

// The public 32-bit members of an entry's 64-bit values: saturated, and a marker without
// its Zip64 value shows as the marker does, saturated.
void SetPublicValues(EntryInfo& e) {
  const auto shown = [](std::int64_t value) {
    return pvSaturate32(value < 0 ? kZip64Marker32 : value);
  };
  e.Size = shown(e.FullSize);
  e.CompressedSize = shown(e.FullCompressedSize);
  e.Offset = shown(e.FullOffset);
}

// A byte array the caller passed as a copy is still read in place: the handle refers to it
// instead of copying it once more. Only a successful open keeps a copy (pvSetVariant).
Variant ReadView(const Variant& source) {
  if (source.IsByteArray() && !source.IsByteArrayRef()) {
    return Variant::Ref(const_cast<ByteArray&>(source.Bytes()));
  }
  return source;
}

}  // namespace

bool cZipEngine::OpenArchive(const Variant& ArchiveFile) {
  return pvRunOperation("OpenArchive", [&](bool& result) {
    m_lCurrentFile = -1;
    VfsHandle handle = pvVfsOpen(ReadView(ArchiveFile));
    ArchiveInput in(handle);

    const std::int64_t size = in.Seek(0, 2);
    EndRecord end;
    if (!FindEndRecord(in, size, end)) {
      pvRaise({}, pvCompoundMessage(kMsgInvalidArchive, kMsgMissingEnd));
    }
    std::string comment = pvFromCodePage(end.comment, platform::kCodePageOem);

    const DirectoryPlace place = FindDirectory(in, end);
    const std::int64_t prefix = PrefixLength(in, place, size);
    const std::int64_t start = place.offset + prefix;
    if (place.count >= kLargeCount && place.count > (place.end - start) / rec::kCentralSize) {
      pvRaise({}, pvCompoundMessage(kMsgInvalidArchive, kMsgCountOutOfRange));
    }
    const auto count = static_cast<std::int32_t>(place.count);
    // The table grows with the records actually read: a count the directory does not hold
    // ends at its first missing record, having allocated only for the records before it.
    const std::int64_t fits = std::max<std::int64_t>(place.end - start, 0) / rec::kCentralSize;
    std::vector<EntryInfo> table;
    table.reserve(static_cast<std::size_t>(std::min<std::int64_t>({count, fits, kInitialEntries})));
    in.Seek(start, 0);

    std::uint8_t h[rec::kCentralSize];
    for (std::int32_t i = 0; i < count; ++i) {
      m_lCurrentFile = i;
      EntryInfo& e = table.emplace_back();
      ReadDirectoryBytes(in, h, rec::kCentralSize, i);
      if (rec::Get32(h) != rec::kCentralSignature) {
        pvReportDirect("OpenArchive",
                       pvCompoundMessage(kMsgInvalidArchive,
                                         pvFormatEntryMessage(kMsgEntryInvalidSignature, i)),
                       false);
        pvStopOperation();
      }
      FillFromHeader(e, h);
      const std::int32_t codePage =
          (e.Flags & rec::kFlagUtf8) ? platform::kCodePageUtf8 : platform::kCodePageOem;
      const std::int32_t nameLength = rec::Signed16(h + rec::kCentralNameLength);
      if (nameLength < 1) {
        const std::string text =
            pvCompoundMessage(kMsgInvalidArchive, pvFormatEntryMessage(kMsgNoFilename, i));
        if (pvReportDirect("OpenArchive", text, true)) pvStopOperation();
        e.FileName = pvFormatEntryMessage(kEntryPlaceholderName, i);
      } else {
        const ByteArray name = ReadDirectoryField(in, nameLength, i);
        e.FileName = pvToValidPath(name.data(), name.size(), codePage);
      }
      e.Extra = ReadDirectoryField(in, rec::Signed16(h + rec::kCentralExtraLength), i);
      TakeZip64Values(e);
      if (prefix > 0 && e.FullOffset >= 0) {
        e.FullOffset = e.FullOffset > INT64_MAX - prefix ? kZip64OutOfRange : e.FullOffset + prefix;
      }
      SetPublicValues(e);
      const ByteArray entryComment =
          ReadDirectoryField(in, rec::Signed16(h + rec::kCentralCommentLength), i);
      if (!entryComment.empty()) e.Comment = pvFromCodePage(entryComment, codePage);
    }
    pvVfsClose(handle);

    pvSetVariant(m_vArchiveFile, ArchiveFile);
    m_lFileCount = count;
    m_sComment = std::move(comment);
    m_uFiles = std::move(table);
    result = true;
  });
}

}  // namespace lum::zip
