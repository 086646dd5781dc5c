// CompressArchive: writes every queued entry into a new archive, then the central directory
// and the end record.
//
// Each entry is announced with BeforeCompress (which may change its level, skip it or
// cancel), then written as a local header with provisional values, its data (Deflate, or
// stored when the level is 0 or Deflate does not pay) and the completed local header, put
// back over the provisional one by seeking. An entry's failure is continuable: the output
// goes back to where the entry started, so the next entry overwrites what was written of it.
// Failures of the archive itself (the output, the directory, "Empty archive") are fatal.
//
// Sizes and offsets are 64-bit inside the writer. A value that does not fit its classic
// field goes into the Zip64 records, and only then: the Zip64 extra field of the local header
// when the source's size is known to reach 4 GiB, of the central header for each size or
// offset that reaches it, and the Zip64 end record and locator when the directory's count,
// size or offset does not fit. Every other archive is written with the classic records alone.
//
// Beyond the plain algorithm: nothing is ever written with a wrapped size or offset, 16-bit
// lengths are checked, the UTF-8 flag also protects an entry comment the OEM code page cannot hold,
// a folder entry is marked stored rather than Deflate (it has no data, and no data is not a Deflate
// stream), and a named file whose writing fails or is cancelled is cut to nothing, because a
// partial archive whose last entry is a stored ZIP file ends with that file's own end record and
// other tools would read it as the whole archive.
#include "zip/write_archive.h"

#include <algorithm>
#include <memory>
#include <new>

#include "codec/dyn_deflate.h"
#include "platform/fs.h"
#include "zip/extract.h"
#include "zip/names.h"
#include "zip/write_records.h"
#include "zip/zip_engine.h"

namespace lum::zip {

namespace rec = records;

namespace {

constexpr std::uint16_t kVersionMadeBy = 45;
constexpr std::uint16_t kVersionMadeByUnix = (3 << 8) | kVersionMadeBy;

[[noreturn]] void RaiseNeedsZip64(std::int32_t index) {
  pvRaise({}, pvCompoundMessage(kMsgUnsupportedSize, pvFormatEntryMessage(kMsgNeedsZip64, index)));
}

}  // namespace

void WriteJob::ReleaseCodec() {
  if (block.pOutput != nullptr) {
    uCodec.pfnFree(block.pOutput);
    block.pOutput = nullptr;
  }
  if (encoder != 0) {
    pfnDeflateDestroy(encoder, 0, 0, 0);
    encoder = 0;
  }
}

void WriteJob::AbandonOutput() noexcept {
  if (output.Kind != VfsKind::kFile || output.Access != VfsAccess::kOpen) return;
  if (pvStdHandleOf(output.sName) != 0) return;  // a standard handle
  try {
    pvVfsSeek(output, 0, 0);
    pvVfsSetEof(output, kOutputArchiveName);
  } catch (...) {
    // The failure that brought us here is what gets reported.
  }
}

bool cZipEngine::CompressArchive(Variant ArchiveFile, const std::string& Comment,
                                 std::int32_t Level, std::int32_t UseUtf8) {
  return pvRunOperation("CompressArchive", [&](bool& result) {
    m_lCurrentFile = -1;
    WriteJob job(m_uCodec);
    if (m_bDynamicHuffman) {
      job.pfnDeflateCreate = codec::DynDeflateCreate;
      job.pfnDeflate = codec::DynDeflate;
      job.pfnDeflateDestroy = codec::DynDeflateDestroy;
      job.pfnDeflateReset = codec::DynDeflateReset;
      if (m_lCompressThreads > 1) {
        try {
          job.ahead = std::make_unique<DeflateAhead>(m_uCodec, m_lCompressThreads);
        } catch (const std::bad_alloc&) {
          // The writer works alone.
        }
      }
    }
    job.archiveLevel = Level;
    job.useUtf8 = UseUtf8;
    job.output = pvVfsCreate(ArchiveFile);
    job.placed.assign(static_cast<std::size_t>(std::max(m_lFileCount, 0)), WriteJob::Placed{});
    rec::Put32(job.local, rec::kLocalSignature);
    try {
      for (std::int32_t i = 0; i < m_lFileCount; ++i) pvCompressEntry(i, job);
      if (job.ahead) job.ahead->Stop();
      pvWriteCentralDirectory(Comment, job);
    } catch (...) {
      if (job.ahead) job.ahead->Stop();
      job.ReleaseCodec();
      pvVfsClose(job.source);
      job.AbandonOutput();
      throw;
    }
    pvVfsClose(job.output);
    result = true;
  });
}

void cZipEngine::pvCompressEntry(std::int32_t i, WriteJob& job) {
  m_lCurrentFile = i;
  EntryInfo& e = m_uFiles[static_cast<std::size_t>(i)];
  if (job.ahead) pvQueueAhead(i, job);
  std::int32_t level = e.Level >= 0 ? e.Level : job.archiveLevel;
  bool skip = false;
  if (pvRaiseBeforeCompress(i, level, skip)) pvUserCancelled();
  if (skip) {
    if (job.ahead) job.ahead->Drop(i);
    e.Offset = -1;
    return;
  }
  level = pvClamp(level, 0, 9);
  const std::int64_t offset = pvVfsSeek64(job.output, 0, 1);
  // A stream answers −1 when it cannot seek; the local headers could not be completed.
  if (offset == -1 && job.output.Kind == VfsKind::kStream) {
    pvRaise("pvVfsSeek", std::string(kMsgOutputCannotSeek) + " (" + job.output.sName + ")");
  }
  // Only a stream can report such a position: its positions are signed 32-bit.
  if (offset < 0) RaiseNeedsZip64(i);
  e.Offset = pvSaturate32(offset);
  WriteJob::Placed& placed = job.placed[static_cast<std::size_t>(i)];

  const bool written = pvRunEntry("CompressArchive", [&] {
    // A byte array is read where the entry keeps it, not copied again.
    job.source =
        pvVfsOpen(e.DataSource.IsByteArray() ? Variant::Ref(e.DataSource.Bytes()) : e.DataSource);
    const bool folder = (e.Attributes & (rec::kAttributeDirectory | rec::kAttributeVolumeLabel));
    const std::int64_t knownSize =
        folder ? 0
               : static_cast<std::int64_t>((std::uint64_t{job.source.FindData.SizeHigh} << 32) |
                                           job.source.FindData.SizeLow);
    // The local header is written before the data, and its length cannot change afterwards:
    // a source known to reach 4 GiB gets its Zip64 field now.
    job.localZip64 = knownSize >= kZip64Marker32;
    // Memory and stream targets hold signed 32-bit positions: a source past them is refused
    // before any of it is read.
    if (job.output.Kind != VfsKind::kFile && knownSize > kMaxArchivePosition) RaiseNeedsZip64(i);
    job.descriptor = false;

    const std::int32_t flags = pvEntryUtf8Flag(e, job.useUtf8);
    const std::int32_t codePage = pvEntryCodePage(flags);
    job.name = pvEncodeEntry(e, codePage);
    // The comment goes only into the central directory; checked here, so that a comment too
    // long for its field leaves this entry out instead of failing the whole archive.
    pvCheckField16(pvToMultiByte(e.Comment, codePage).size());
    std::uint16_t date = 0, time = 0;
    pvToDosDateTime(e.LastModified, date, time);
    std::uint8_t* h = job.local;
    rec::Put16(h + rec::kLocalVersionNeeded, 20);
    rec::Put16(h + rec::kLocalFlags, static_cast<std::uint32_t>(flags));
    rec::Put16(h + rec::kLocalMethod, rec::kMethodDeflate);
    rec::Put16(h + rec::kLocalTime, time);
    rec::Put16(h + rec::kLocalDate, date);
    rec::Put32(h + rec::kLocalCrc32, 0xFFFFFFFFu);
    rec::Put32(h + rec::kLocalCompressedSize, job.localZip64 ? 0xFFFFFFFFu : 0);
    rec::Put32(h + rec::kLocalSize32, job.localZip64 ? 0xFFFFFFFFu : 0);
    const ByteArray localExtra =
        job.localZip64 ? pvZip64Extra({0, 0}, e.Extra) : ByteArray(e.Extra);
    pvWriteLocalHeader(job.output, h, job.name, localExtra);
    job.dataStart =
        offset + rec::kLocalSize + static_cast<std::int64_t>(job.name.size() + localExtra.size());

    job.crc = 0xFFFFFFFFu;
    job.size = 0;
    job.compressedSize = 0;
    job.level = level;
    job.deflated = false;
    if (folder) {
      // A folder has no data. It still needs version 2.0, but is marked stored: method 8
      // with no bytes at all is not a Deflate stream (the shortest one is 2 bytes), and
      // unzip -t reports such an entry as invalid compressed data.
      job.method = rec::kMethodStored;
      job.versionNeeded = 20;
    } else {
      if (level > 0) pvDeflateEntryData(i, e, job);
      if (level == 0 || job.compressedSize > job.size) pvStoreEntryData(i, e, job);
    }
    pvVfsClose(job.source);

    const bool large = job.size >= kZip64Marker32 || job.compressedSize >= kZip64Marker32;
    // Sizes that outgrew a local header without the Zip64 field go into a data descriptor.
    job.descriptor = large && !job.localZip64;
    if (job.localZip64 || job.descriptor) job.versionNeeded = kVersionZip64;
    e.Crc32 = ~job.crc;
    e.Size = pvSaturate32(job.size);
    e.CompressedSize = pvSaturate32(job.compressedSize);
    e.Method = job.method;
    e.Flags = flags | (job.descriptor ? kFlagDataDescriptor : 0);
    if (job.versionNeeded > job.directoryVersion) job.directoryVersion = job.versionNeeded;

    rec::Put16(h + rec::kLocalVersionNeeded, job.versionNeeded);
    rec::Put16(h + rec::kLocalFlags, static_cast<std::uint32_t>(e.Flags));
    rec::Put16(h + rec::kLocalMethod, static_cast<std::uint32_t>(job.method));
    // With a descriptor the local CRC and sizes are 0; with the Zip64 field both sizes are
    // the marker and the field holds them.
    rec::Put32(h + rec::kLocalCrc32, job.descriptor ? 0 : e.Crc32);
    rec::Put32(h + rec::kLocalCompressedSize, job.descriptor   ? 0
                                              : job.localZip64 ? 0xFFFFFFFFu
                                                               : pvField32(job.compressedSize));
    rec::Put32(h + rec::kLocalSize32, job.descriptor   ? 0
                                      : job.localZip64 ? 0xFFFFFFFFu
                                                       : pvField32(job.size));
    const std::int64_t end = job.dataStart + job.compressedSize;
    pvVfsSeek64(job.output, offset, 0);
    pvWriteLocalHeader(job.output, h, job.name,
                       job.localZip64 ? pvZip64Extra({job.size, job.compressedSize}, e.Extra)
                                      : ByteArray(e.Extra));
    pvVfsSeek64(job.output, end, 0);
    if (job.descriptor) {
      std::uint8_t d[24];
      rec::Put32(d, kDataDescriptorSignature);
      rec::Put32(d + 4, e.Crc32);
      pvPut64(d + 8, job.compressedSize);
      pvPut64(d + 16, job.size);
      pvWriteAll(job.output, d, sizeof d);
    }
    placed.offset = offset;
    placed.size = job.size;
    placed.compressedSize = job.compressedSize;
  });
  // A result not taken (the entry failed, or went to level 0) is let go.
  if (job.ahead) job.ahead->Drop(i);
  if (!written) {
    job.ReleaseCodec();
    pvVfsClose(job.source);
    pvVfsSeek64(job.output, offset, 0);
    e.Offset = -1;
    placed.offset = -1;
  }
}

void cZipEngine::pvQueueAhead(std::int32_t Current, WriteJob& job) {
  job.nextAhead = std::max(job.nextAhead, Current);
  const auto end = static_cast<std::int32_t>(
      std::min<std::int64_t>(m_lFileCount, std::int64_t{Current} + kAheadEntries));
  try {
    for (; job.nextAhead < end; ++job.nextAhead) {
      const EntryInfo& e = m_uFiles[static_cast<std::size_t>(job.nextAhead)];
      AheadSource source;
      source.index = job.nextAhead;
      source.level = pvClamp(e.Level >= 0 ? e.Level : job.archiveLevel, 0, 9);
      // Folders have no data, and level 0 is stored without the encoder (BeforeCompress may
      // still change either level; the result is then dropped at the entry's turn).
      if (source.level == 0 ||
          (e.Attributes & (rec::kAttributeDirectory | rec::kAttributeVolumeLabel))) {
        continue;
      }
      if (e.DataSource.IsByteArray()) {
        source.size = static_cast<std::int64_t>(e.DataSource.Bytes().size());
      } else if (e.DataSource.IsText()) {
        source.path = e.DataSource.Text();
        // Standard handles and folders are for the writer alone.
        if (source.path.empty() || pvStdHandleOf(source.path) != 0 ||
            platform::IsPathSeparator(source.path.back())) {
          continue;
        }
        source.size = std::max<std::int64_t>(e.Size, 0);
      } else {
        continue;  // a stream object is read by the writer only
      }
      if (source.size > AheadEntryLimit()) continue;
      if (!job.ahead->HasRoom(source.size)) break;
      // A copy: the entry's array may change before its turn, which the writer then sees.
      if (source.path.empty()) source.bytes = e.DataSource.Bytes();
      job.ahead->Submit(std::move(source));
    }
  } catch (const std::bad_alloc&) {
    // No copy, no speculation: the entries not queued are written as always.
  }
}

void cZipEngine::pvWriteCentralDirectory(const std::string& Comment, WriteJob& job) {
  m_lCurrentFile = -1;
  const std::int64_t start = pvVfsSeek64(job.output, 0, 1);
  std::uint8_t central[rec::kCentralSize] = {};
  rec::Put32(central, rec::kCentralSignature);
  rec::Put16(central + rec::kCentralVersionMadeBy, kVersionMadeBy);
  rec::Put16(central + rec::kCentralVersionNeeded, job.directoryVersion);

  ByteArray directory;
  directory.reserve(kDirectoryFlush + 1024);
  std::int64_t directorySize = 0;
  std::int64_t written = 0;
  auto flush = [&] {
    if (job.output.Kind != VfsKind::kFile &&
        start + directorySize + static_cast<std::int64_t>(directory.size()) > kMaxArchivePosition) {
      RaiseNeedsZip64(m_lCurrentFile);
    }
    pvWriteAll(job.output, directory.data(), directory.size());
    directorySize += static_cast<std::int64_t>(directory.size());
    directory.clear();
  };
  for (std::int32_t i = 0; i < m_lFileCount; ++i) {
    const EntryInfo& e = m_uFiles[static_cast<std::size_t>(i)];
    const WriteJob::Placed& placed = job.placed[static_cast<std::size_t>(i)];
    if (e.Offset < 0 || placed.offset < 0) continue;
    m_lCurrentFile = i;
    std::uint16_t date = 0, time = 0;
    pvToDosDateTime(e.LastModified, date, time);
    rec::Put16(central + rec::kCentralFlags, static_cast<std::uint32_t>(e.Flags));
    rec::Put16(central + rec::kCentralMethod, static_cast<std::uint32_t>(e.Method));
    rec::Put16(central + rec::kCentralTime, time);
    rec::Put16(central + rec::kCentralDate, date);
    rec::Put32(central + rec::kCentralCrc32, e.Crc32);
    rec::Put32(central + rec::kCentralCompressedSize, pvField32(placed.compressedSize));
    rec::Put32(central + rec::kCentralSize32, pvField32(placed.size));
    // An entry that the Windows attributes cannot describe says it was made on Unix and
    // carries its mode in the high word; every other entry keeps host 0 (MS-DOS) and the
    // Windows attributes alone, as before.
    const bool unix = pvNeedsUnixHost(e);
    rec::Put16(central + rec::kCentralVersionMadeBy, unix ? kVersionMadeByUnix : kVersionMadeBy);
    rec::Put32(central + rec::kCentralExternalAttributes,
               static_cast<std::uint32_t>(e.Attributes) | (unix ? e.UnixMode << 16 : 0));
    rec::Put32(central + rec::kCentralLocalOffset, pvField32(placed.offset));
    // The Zip64 field holds each value whose classic field has the marker, in this order.
    std::int64_t values[3];
    std::size_t count = 0;
    if (placed.size >= kZip64Marker32) values[count++] = placed.size;
    if (placed.compressedSize >= kZip64Marker32) values[count++] = placed.compressedSize;
    if (placed.offset >= kZip64Marker32) values[count++] = placed.offset;
    const ByteArray extra = count == 0   ? ByteArray(e.Extra)
                            : count == 1 ? pvZip64Extra({values[0]}, e.Extra)
                            : count == 2 ? pvZip64Extra({values[0], values[1]}, e.Extra)
                                         : pvZip64Extra({values[0], values[1], values[2]}, e.Extra);
    rec::Put16(central + rec::kCentralVersionNeeded,
               count == 0 ? job.directoryVersion
                          : std::max<std::uint16_t>(job.directoryVersion, kVersionZip64));
    const std::int32_t codePage = pvEntryCodePage(e.Flags);
    pvWriteCentralHeader(directory, central, pvEncodeEntry(e, codePage), extra,
                         pvToMultiByte(e.Comment, codePage));
    ++written;
    if (directory.size() >= kDirectoryFlush) flush();
  }
  if (!directory.empty()) flush();
  m_lCurrentFile = -1;
  if (written == 0) pvRaise({}, kMsgEmptyArchive);

  if (written >= kZip64Marker16 || directorySize >= kZip64Marker32 || start >= kZip64Marker32) {
    pvWriteZip64End(job.output, start + directorySize, written, directorySize, start,
                    std::max<std::uint16_t>(job.directoryVersion, kVersionZip64));
  }
  const auto count16 = static_cast<std::uint32_t>(std::min<std::int64_t>(written, kZip64Marker16));
  std::uint8_t end[rec::kEndSize] = {};
  rec::Put32(end, rec::kEndSignature);
  rec::Put16(end + rec::kEndDiskEntries, count16);
  rec::Put16(end + rec::kEndTotalEntries, count16);
  rec::Put32(end + rec::kEndDirectorySize, pvField32(directorySize));
  rec::Put32(end + rec::kEndDirectoryOffset, pvField32(start));
  pvWriteEndOfCentralDir(job.output, end, Comment);
  pvVfsSetEof(job.output, kOutputArchiveName);
}

}  // namespace lum::zip
