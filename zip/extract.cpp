// Extract: writes the entries of the opened archive to a folder, the caller's byte array or
// a stream object.
//
// One call opens the remembered archive source once and walks the entry table in order.
// Setup (no archive, the source cannot be opened, a filter that cannot be built) is fatal.
// Each selected entry is then worked inside pvRunEntry, so its errors are continuable: the
// Error handler sees Cancel false and the call goes on with the next entry unless it sets
// Cancel. An entry is: the size check, the local header (only its signature and the
// lengths to skip are used; the central directory rules), the method check, the output
// path and BeforeExtract, the output, the data (extract_data.cpp), ExtractComplete.
//
// Beyond the plain algorithm, three entries are refused before anything is written: one
// whose sizes do not fit 31 bits (a Zip64 entry: it must not come out as an empty file),
// one whose name would leave the target folder or name a device, and a byte-array target
// is never pre-sized beyond what the entry's stored data can produce.
#include "zip/extract.h"
#include <algorithm>

#include "platform/fs.h"
#include "zip/names.h"
#include "zip/zip_engine.h"
#include "zip/zip_records.h"

namespace lum::zip {
namespace {

namespace rec = records;

// Windows opens device names and drops trailing dots and blanks; POSIX does neither.
constexpr bool kWindowsNames = platform::kPathSeparator == '\\';

[[noreturn]] void RaiseEntry(const char* prefix, const char* detail, std::int32_t index) {
  pvRaise({}, pvCompoundMessage(prefix, pvFormatEntryMessage(detail, index)));
}

// Reads the local header at the entry's offset and moves past its name and extra field.
// Returns the position of the entry's data.
std::int64_t SkipLocalHeader(ArchiveInput& in, const EntryInfo& e, std::int32_t index) {
  in.Seek(e.Offset, 0);
  std::uint8_t header[rec::kLocalSize] = {};  // a short read leaves zeros: no signature
  in.Read(header, rec::kLocalFirstRead);
  in.Read(header + rec::kLocalFirstRead, rec::kLocalSecondRead);
  if (rec::Get32(header) != rec::kLocalSignature) {
    RaiseEntry(kMsgInvalidLocalHeader, kMsgEntryInvalidSignature, index);
  }
  const std::int32_t nameLength = rec::Signed16(header + rec::kLocalNameLength);
  if (nameLength > 0) in.Skip(nameLength);
  const std::int32_t extraLength = rec::Signed16(header + rec::kLocalExtraLength);
  if (extraLength > 0) in.Skip(extraLength);
  return std::int64_t{e.Offset} + rec::kLocalSize + std::max(nameLength, 0) +
         std::max(extraLength, 0);
}

// Creates the output for `file`: a path (fast create, missing folders made on demand), a
// byte array referring to the caller's (pre-sized for `e`, whose data has `available` bytes
// of archive left, −1 when not known) or a stream.
VfsHandle CreateOutput(Variant& file, const EntryInfo& e, std::int64_t available) {
  if (file.IsText()) return pvCreateOutputFile(file.Text());
  if (file.IsByteArrayRef()) {
    const std::int64_t presize = pvByteArrayPresize(e, available);
    if (presize > 0) {
      try {
        file.Bytes().resize(static_cast<std::size_t>(presize));
      } catch (const std::bad_alloc&) {
        pvRaise("pvVfsCreate", pvSystemErrorMessage(platform::kErrorNotEnoughMemory, "[buffer]"));
      }
    }
  }
  return pvVfsCreate(file);
}

}  // namespace

void ExtractJob::ReleaseCodec() {
  if (block.pOutput != nullptr) {
    uCodec.pfnFree(block.pOutput);
    block.pOutput = nullptr;
  }
  if (decoder != 0) {
    uCodec.pfnInflateDestroy(decoder, 0, 0, 0);
    decoder = 0;
  }
}

bool cZipEngine::Extract(Variant OutputTarget, const Variant& Filter, const std::string&) {
  return pvRunOperation("Extract", [&](bool& result) {
    m_lCurrentFile = -1;
    if (m_vArchiveFile.IsEmpty()) pvRaise({}, kMsgArchiveNotOpened);
    // The remembered copy of a byte array is read in place.
    const Variant source =
        m_vArchiveFile.IsByteArray() ? Variant::Ref(m_vArchiveFile.Bytes()) : m_vArchiveFile;
    ExtractJob job(pvVfsOpen(source), OutputTarget, m_uCodec);
    // Standard handles report no size; every other source reports its own.
    if (job.archive.Kind != VfsKind::kFile || job.archive.sName.empty() ||
        job.archive.sName.back() != ':') {
      job.archiveSize =
          (std::int64_t{job.archive.FindData.SizeHigh} << 32) | job.archive.FindData.SizeLow;
    }
    if (!Filter.IsMissing()) job.filter.emplace(Filter);
    // Opens a file source now, so that an open failure stops the call before any entry.
    pvVfsRead(job.archive, job.readBuffer.data(), 0);

    for (std::int32_t i = 0; i < m_lFileCount; ++i) {
      m_lCurrentFile = i;
      if (job.filter && !job.filter->Selects(i, m_uFiles[static_cast<std::size_t>(i)].FileName)) {
        continue;
      }
      bool completed = false;
      pvRunEntry("Extract", [&] { completed = pvExtractEntry(i, job); });
      if (completed) result = true;
      pvVfsClose(job.output);
      job.output = VfsHandle();
      job.ReleaseCodec();
    }
    pvVfsClose(job.archive);
  });
}

bool cZipEngine::pvExtractEntry(std::int32_t i, ExtractJob& job) {
  EntryInfo& e = m_uFiles[static_cast<std::size_t>(i)];
  if (e.Size < 0 || e.CompressedSize < 0) RaiseEntry(kMsgUnsupportedSize, kMsgNeedsZip64, i);

  const std::int64_t dataStart = SkipLocalHeader(job.input, e, i);

  if (e.Method != rec::kMethodStored && e.Method != rec::kMethodDeflate) {
    if (pvReportDirect("Extract", pvFormatMessage(kMsgUnsupportedMethod, e.Method), true)) {
      pvStopOperation();
    }
    // Copied out as stored; the CRC check then decides.
    e.Method = rec::kMethodStored;
  }

  Variant path;
  Variant* file = &job.target;
  if (job.target.IsText()) {
    const std::string& folder = job.target.Text();
    if (pvIsUnsafeEntryPath(folder, e.FileName, kWindowsNames)) {
      RaiseEntry(kMsgInvalidEntryName, kMsgUnsafePath, i);
    }
    path = Variant(pvNativePathJoin(folder, e.FileName));
    file = &path;
  }
  bool skip = false;
  if (pvRaiseBeforeExtract(i, *file, skip)) pvUserCancelled();
  if (skip) return false;

  // A negative offset reads from the start of a memory buffer, so count from 0 at least.
  const std::int64_t available =
      job.archiveSize < 0
          ? -1
          : std::max<std::int64_t>(job.archiveSize - std::max<std::int64_t>(dataStart, 0), 0);
  job.output = CreateOutput(*file, e, available);
  if (e.CompressedSize <= 0) {
    // A file output was just created empty, so only memory and streams need their end set;
    // folder and volume-label entries have no data to end.
    if (!(e.Attributes & (rec::kAttributeDirectory | rec::kAttributeVolumeLabel)) &&
        job.output.Kind != VfsKind::kFile) {
      pvVfsSetEof(job.output, e.FileName);
    }
    if (pvRaiseProgress(i, 1, 1)) pvUserCancelled();
  } else {
    pvWriteEntryData(i, e, job);
  }
  pvRaiseExtractComplete(i, *file);
  return true;
}

}  // namespace lum::zip
