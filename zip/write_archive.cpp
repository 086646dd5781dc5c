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
// Beyond the plain algorithm: nothing is ever written with a wrapped size or offset (an
// entry that would need Zip64 is refused and left out), 16-bit lengths and counts are
// checked, the UTF-8 flag also protects an entry comment the OEM code page cannot hold, a
// folder entry is marked stored rather than Deflate (it has no data, and no data is not a
// Deflate stream), and a named file whose writing fails or is cancelled is cut to nothing,
// because a partial archive whose last entry is a stored ZIP file ends with that file's own
// end record and other tools would read it as the whole archive.
#include "zip/write_archive.h"

#include "codec/dyn_deflate.h"
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
  if (output.Kind != VfsKind::kFile || output.hFile != 1) return;
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
    }
    job.archiveLevel = Level;
    job.useUtf8 = UseUtf8;
    job.output = pvVfsCreate(ArchiveFile);
    rec::Put32(job.local, rec::kLocalSignature);
    try {
      for (std::int32_t i = 0; i < m_lFileCount; ++i) pvCompressEntry(i, job);
      pvWriteCentralDirectory(Comment, job);
    } catch (...) {
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
  std::int32_t level = e.Level >= 0 ? e.Level : job.archiveLevel;
  bool skip = false;
  if (pvRaiseBeforeCompress(i, level, skip)) pvUserCancelled();
  if (skip) {
    e.Offset = -1;
    return;
  }
  level = pvClamp(level, 0, 9);
  const std::int32_t offset = pvVfsSeek(job.output, 0, 1);
  // A stream answers −1 when it cannot seek; the local headers could not be completed.
  if (offset == -1 && job.output.Kind == VfsKind::kStream) {
    pvRaise("pvVfsSeek", std::string(kMsgOutputCannotSeek) + " (" + job.output.sName + ")");
  }
  if (offset < 0) RaiseNeedsZip64(i);  // only a stream can report such a position
  e.Offset = offset;

  const bool written = pvRunEntry("CompressArchive", [&] {
    // A byte array is read where the entry keeps it, not copied again.
    job.source =
        pvVfsOpen(e.DataSource.IsByteArray() ? Variant::Ref(e.DataSource.Bytes()) : e.DataSource);
    const bool folder = (e.Attributes & (rec::kAttributeDirectory | rec::kAttributeVolumeLabel));
    if (!folder &&
        (job.source.FindData.SizeHigh != 0 ||
         job.source.FindData.SizeLow > static_cast<std::uint32_t>(kMaxArchivePosition))) {
      RaiseNeedsZip64(i);
    }

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
    rec::Put32(h + rec::kLocalCompressedSize, 0);
    rec::Put32(h + rec::kLocalSize32, 0);
    pvWriteLocalHeader(job.output, h, job.name, e.Extra);
    job.dataStart = std::int64_t{offset} + rec::kLocalSize +
                    static_cast<std::int64_t>(job.name.size() + e.Extra.size());
    if (job.dataStart > kMaxArchivePosition) RaiseNeedsZip64(i);

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

    e.Crc32 = ~job.crc;
    e.Size = static_cast<std::int32_t>(job.size);
    e.CompressedSize = static_cast<std::int32_t>(job.compressedSize);
    e.Method = job.method;
    e.Flags = flags;
    if (job.versionNeeded > job.directoryVersion) job.directoryVersion = job.versionNeeded;

    rec::Put16(h + rec::kLocalVersionNeeded, job.versionNeeded);
    rec::Put16(h + rec::kLocalMethod, static_cast<std::uint32_t>(job.method));
    rec::Put32(h + rec::kLocalCrc32, e.Crc32);
    rec::Put32(h + rec::kLocalCompressedSize, static_cast<std::uint32_t>(e.CompressedSize));
    rec::Put32(h + rec::kLocalSize32, static_cast<std::uint32_t>(e.Size));
    const auto end = static_cast<std::int32_t>(job.dataStart + job.compressedSize);
    pvVfsSeek(job.output, offset, 0);
    pvWriteLocalHeader(job.output, h, job.name, e.Extra);
    pvVfsSeek(job.output, end, 0);
  });
  if (!written) {
    job.ReleaseCodec();
    pvVfsClose(job.source);
    pvVfsSeek(job.output, offset, 0);
    e.Offset = -1;
  }
}

void cZipEngine::pvWriteCentralDirectory(const std::string& Comment, WriteJob& job) {
  m_lCurrentFile = -1;
  const std::int32_t start = pvVfsSeek(job.output, 0, 1);
  std::uint8_t central[rec::kCentralSize] = {};
  rec::Put32(central, rec::kCentralSignature);
  rec::Put16(central + rec::kCentralVersionMadeBy, kVersionMadeBy);
  rec::Put16(central + rec::kCentralVersionNeeded, job.directoryVersion);

  ByteArray directory;
  directory.reserve(kDirectoryFlush + 1024);
  std::int64_t directorySize = 0;
  std::int32_t written = 0;
  auto flush = [&] {
    if (std::int64_t{start} + directorySize + static_cast<std::int64_t>(directory.size()) >
        kMaxArchivePosition) {
      RaiseNeedsZip64(m_lCurrentFile);
    }
    pvWriteAll(job.output, directory.data(), directory.size());
    directorySize += static_cast<std::int64_t>(directory.size());
    directory.clear();
  };
  for (std::int32_t i = 0; i < m_lFileCount; ++i) {
    const EntryInfo& e = m_uFiles[static_cast<std::size_t>(i)];
    if (e.Offset < 0) continue;
    m_lCurrentFile = i;
    if (written == kMaxField16) pvRaise({}, kMsgValueTooLarge);
    std::uint16_t date = 0, time = 0;
    pvToDosDateTime(e.LastModified, date, time);
    rec::Put16(central + rec::kCentralFlags, static_cast<std::uint32_t>(e.Flags));
    rec::Put16(central + rec::kCentralMethod, static_cast<std::uint32_t>(e.Method));
    rec::Put16(central + rec::kCentralTime, time);
    rec::Put16(central + rec::kCentralDate, date);
    rec::Put32(central + rec::kCentralCrc32, e.Crc32);
    rec::Put32(central + rec::kCentralCompressedSize, static_cast<std::uint32_t>(e.CompressedSize));
    rec::Put32(central + rec::kCentralSize32, static_cast<std::uint32_t>(e.Size));
    // An entry that the Windows attributes cannot describe says it was made on Unix and
    // carries its mode in the high word; every other entry keeps host 0 (MS-DOS) and the
    // Windows attributes alone, as before.
    const bool unix = pvNeedsUnixHost(e);
    rec::Put16(central + rec::kCentralVersionMadeBy, unix ? kVersionMadeByUnix : kVersionMadeBy);
    rec::Put32(central + rec::kCentralExternalAttributes,
               static_cast<std::uint32_t>(e.Attributes) | (unix ? e.UnixMode << 16 : 0));
    rec::Put32(central + rec::kCentralLocalOffset, static_cast<std::uint32_t>(e.Offset));
    const std::int32_t codePage = pvEntryCodePage(e.Flags);
    pvWriteCentralHeader(directory, central, pvEncodeEntry(e, codePage), e.Extra,
                         pvToMultiByte(e.Comment, codePage));
    ++written;
    if (directory.size() >= kDirectoryFlush) flush();
  }
  if (!directory.empty()) flush();
  m_lCurrentFile = -1;
  if (written == 0) pvRaise({}, kMsgEmptyArchive);

  std::uint8_t end[rec::kEndSize] = {};
  rec::Put32(end, rec::kEndSignature);
  rec::Put16(end + rec::kEndDiskEntries, static_cast<std::uint32_t>(written));
  rec::Put16(end + rec::kEndTotalEntries, static_cast<std::uint32_t>(written));
  rec::Put32(end + rec::kEndDirectorySize, static_cast<std::uint32_t>(directorySize));
  rec::Put32(end + rec::kEndDirectoryOffset, static_cast<std::uint32_t>(start));
  pvWriteEndOfCentralDir(job.output, end, Comment);
  pvVfsSetEof(job.output, kOutputArchiveName);
}

}  // namespace lum::zip
