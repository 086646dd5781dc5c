// OpenArchive: reads the directory of an existing archive into the entry table.
//
// The end-of-central-directory record is searched backwards from the end of the archive:
// the record nearest the end whose comment-length field reaches exactly to the end wins,
// with comments of up to 10000 bytes. Its count and offset lead to the central directory,
// which is read strictly in sequence, one 46-byte header and its name, extra field and
// comment at a time. Entry data is not touched.
//
// Everything goes into a new table that replaces the object's table, count, comment and
// remembered source only when the whole directory has been read, so a failed open leaves
// the object describing the archive it described before.
//
// Beyond a plain reading of the records, a directory that ends before its last record (a
// short read anywhere in it) and an entry count of 0x8000 or more make the archive invalid,
// instead of filling the table with whatever the buffers held.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/codepage.h"
#include "zip/names.h"
#include "zip/read_input.h"
#include "zip/zip_engine.h"
#include "zip/zip_records.h"

namespace lum::zip {
namespace {

namespace rec = records;

constexpr char kMsgMissingEnd[] = "Missing end-of-central-directory record";
constexpr char kMsgNoFilename[] = "Entry %1 has no filename";
constexpr char kMsgTruncated[] = "Entry %1 is truncated";
constexpr char kMsgCountOutOfRange[] = "Entry count out of range";

// The end record found by the search, and the archive comment after it.
struct EndRecord {
  std::uint8_t bytes[rec::kEndSize] = {};
  ByteArray comment;
};

bool IsEndAt(const std::uint8_t* p, std::int32_t distance) {
  return rec::Get32(p) == rec::kEndSignature &&
         rec::Signed16(p + rec::kEndCommentLength) == distance;
}

// Searches the last 22 + 10000 bytes. Files and memory: the tail is read once and searched
// in memory. A stream is asked position by position, 22 bytes each, nearest the end first,
// so it is never read further back than the record.
bool FindEndRecord(ArchiveInput& in, std::int32_t size, EndRecord& end) {
  if (size < rec::kEndSize) return false;
  const std::int32_t last = std::min(size - rec::kEndSize, rec::kMaxArchiveComment);
  if (in.Kind() != VfsKind::kStream) {
    const std::int32_t tailSize = rec::kEndSize + last;
    std::vector<std::uint8_t> tail(static_cast<std::size_t>(tailSize));
    in.Seek(size - tailSize, 0);
    const std::int32_t got = in.Read(tail.data(), tailSize);
    if (got < tailSize) return false;
    for (std::int32_t i = 0; i <= last; ++i) {
      const std::uint8_t* p = tail.data() + (last - i);
      if (IsEndAt(p, i)) {
        std::memcpy(end.bytes, p, rec::kEndSize);
        end.comment.assign(p + rec::kEndSize, p + rec::kEndSize + i);
        return true;
      }
    }
    return false;
  }
  for (std::int32_t i = 0; i <= last; ++i) {
    in.Seek(size - rec::kEndSize - i, 0);
    std::uint8_t p[rec::kEndSize] = {};
    if (in.Read(p, rec::kEndSize) < rec::kEndSize) continue;
    if (IsEndAt(p, i)) {
      std::memcpy(end.bytes, p, rec::kEndSize);
      end.comment.resize(static_cast<std::size_t>(i));
      if (i > 0 && in.Read(end.comment.data(), i) < i) return false;
      return true;
    }
  }
  return false;
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
  e.CompressedSize = rec::Signed32(h + rec::kCentralCompressedSize);
  e.Size = rec::Signed32(h + rec::kCentralSize32);
  e.Attributes = rec::Signed32(h + rec::kCentralExternalAttributes);
  e.Offset = rec::Signed32(h + rec::kCentralLocalOffset);
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

    const std::int32_t size = in.Seek(0, 2);
    EndRecord end;
    if (!FindEndRecord(in, size, end)) {
      pvRaise({}, pvCompoundMessage(kMsgInvalidArchive, kMsgMissingEnd));
    }
    std::string comment = pvFromCodePage(end.comment, platform::kCodePageOem);

    const std::int32_t count = rec::Signed16(end.bytes + rec::kEndDiskEntries);
    if (count < 0) pvRaise({}, pvCompoundMessage(kMsgInvalidArchive, kMsgCountOutOfRange));
    std::vector<EntryInfo> table(static_cast<std::size_t>(count));
    in.Seek(rec::Signed32(end.bytes + rec::kEndDirectoryOffset), 0);

    std::uint8_t h[rec::kCentralSize];
    for (std::int32_t i = 0; i < count; ++i) {
      m_lCurrentFile = i;
      EntryInfo& e = table[static_cast<std::size_t>(i)];
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
