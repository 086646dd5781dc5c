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
// Sizes and offsets are the entry's 64-bit values (FullSize, FullCompressedSize, FullOffset),
// so entries and archives past 4 GiB are read. Beyond the plain algorithm, some entries are
// refused before anything is written: one whose size, compressed size or offset claims Zip64
// without a usable Zip64 value (it must not come out as an empty file),
// one whose data overlaps another entry's, one whose name would leave the target folder or
// name a device, or whose way there passes a link leading out of the folder, and one that
// would replace the archive being read. A byte-array target is never pre-sized beyond what
// the entry's stored data can produce.
//
// A folder target never loses a good file to a bad entry: a file that is already there is
// replaced by a file written beside it and moved over it only after the whole entry was
// decoded, its byte count matched Size and its CRC-32 matched; a file that was not there is
// written in place and removed again if the entry fails. The move replaces whatever is at
// the target (a symbolic link, a FIFO, a device node) without opening or following it.
#include "zip/extract.h"
#include <algorithm>

#include "platform/error_code.h"
#include "platform/file.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "zip/names.h"
#include "zip/write_records.h"
#include "zip/zip_engine.h"
#include "zip/zip_records.h"

namespace lum::zip {
namespace {

namespace rec = records;

// Windows opens device names and drops trailing dots and blanks; POSIX does neither.
constexpr bool kWindowsNames = platform::kWindowsPaths;

[[noreturn]] void RaiseEntry(const char* prefix, const char* detail, std::int32_t index) {
  pvRaise({}, pvCompoundMessage(prefix, pvFormatEntryMessage(detail, index)));
}

// Refuses an entry whose size, compressed size or local header offset claims Zip64 (its
// 32-bit field holds the marker) without a usable Zip64 value: the extra field lacks it, it
// does not fit 63 bits, or it puts the local header or the data past the end of the archive
// (`archiveSize`, −1 when not known). Checked in the order of the Zip64 field.
void CheckZip64Values(const EntryInfo& e, std::int32_t index, std::int64_t archiveSize) {
  if (e.Zip64Fields == 0) return;
  const struct {
    std::int32_t bit;
    std::int64_t value;
    const char* name;
  } fields[] = {{kZip64Size, e.WholeSize(), "size"},
                {kZip64CompressedSize, e.WholeCompressedSize(), "compressed size"},
                {kZip64Offset, e.WholeOffset(), "local header offset"}};
  const bool placeKnown = archiveSize >= 0 && e.WholeOffset() >= 0;
  for (const auto& f : fields) {
    if ((e.Zip64Fields & f.bit) == 0) continue;
    bool past = false;
    if (placeKnown && f.bit == kZip64Offset) {
      past = e.WholeOffset() > archiveSize - rec::kLocalSize;
    } else if (placeKnown && f.bit == kZip64CompressedSize && f.value >= 0) {
      past = f.value > archiveSize - rec::kLocalSize - e.WholeOffset();
    }
    if (f.value == kZip64Missing) {
      RaiseEntry(kMsgInvalidArchive,
                 (std::string("Entry %1 has no Zip64 value for its ") + f.name).c_str(), index);
    }
    if (f.value < 0 || past) {
      RaiseEntry(kMsgInvalidArchive,
                 (std::string("Entry %1 has its Zip64 ") + f.name + " out of range").c_str(),
                 index);
    }
  }
}

// Reads the local header at the entry's offset and moves past its name and extra field.
// Returns the position of the entry's data.
std::int64_t SkipLocalHeader(ArchiveInput& in, const EntryInfo& e, std::int32_t index) {
  in.Seek(e.WholeOffset(), 0);
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
  return e.WholeOffset() + rec::kLocalSize + std::max(nameLength, 0) + std::max(extraLength, 0);
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

[[noreturn]] void RaiseCreate(std::uint32_t code, const std::string& path) {
  pvRaise("pvVfsCreate", pvSystemErrorMessage(code, path));
}

std::string FolderOf(const std::string& path) {
  const auto cut = path.find_last_of(platform::kWindowsPaths ? "\\/" : "/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// Opens the output of a file entry at `path`: a new file when nothing is there, else a
// replacement beside it (job.createdPath or job.tempPath names what was made). Refuses a
// folder or a read-only file at the target as creating it would, and the archive itself.
void OpenReplacement(ExtractJob& job, const std::string& path, std::int32_t index) {
  platform::FileHandle file =
      platform::CreateFileHandle(path, platform::kGenericWrite, platform::kFileShareRead,
                                 platform::kCreateNew, platform::kAttributeArchive);
  std::uint32_t code = file ? 0 : platform::GetLastErrorCode();
  if (code == platform::kErrorPathNotFound || code == platform::kErrorFileNotFound) {
    std::string message;
    const std::string folder = FolderOf(path);
    if (!folder.empty() && !pvMkDir(folder, message)) pvRaise({}, message);
    file = platform::CreateFileHandle(path, platform::kGenericWrite, platform::kFileShareRead,
                                      platform::kCreateNew, platform::kAttributeArchive);
    code = file ? 0 : platform::GetLastErrorCode();
  }
  if (file) {
    job.createdPath = path;
    job.output = pvFileOutput(std::move(file), path);
    return;
  }
  if (code != platform::kErrorFileExists && code != platform::kErrorAlreadyExists) {
    RaiseCreate(code, path);
  }
  const platform::PathStatus there = platform::QueryPath(path, false);
  if (there.kind == platform::PathKind::kFolder) RaiseCreate(platform::kErrorAccessDenied, path);
  if (there.kind == platform::PathKind::kFile) {
    if (job.archiveFile.kind == platform::PathKind::kFile &&
        there.identity == job.archiveFile.identity) {
      RaiseEntry(kMsgInvalidEntryName, kMsgReplacesArchive, index);
    }
    if (there.readOnly) RaiseCreate(platform::kErrorAccessDenied, path);
  }
  std::string tempPath;
  file = platform::CreateFileBeside(path, tempPath);
  if (!file) RaiseCreate(platform::GetLastErrorCode(), path);
  job.tempPath = std::move(tempPath);
  job.output = pvFileOutput(std::move(file), path);
}

// A Unix symbolic link recorded in the entry's attributes (mode 0120000 in the high word,
// on an archive made on Unix).
bool IsUnixLink(const EntryInfo& e) {
  constexpr std::int32_t kUnixHost = 3;
  return (e.MadeBy >> 8) == kUnixHost &&
         ((static_cast<std::uint32_t>(e.Attributes) >> 16) & 0170000u) == 0120000u;
}

// Link targets are short; a longer "link" is written as the file it claims to be.
constexpr std::int32_t kMaxLinkTarget = 4096;

}  // namespace

void ExtractJob::DiscardOutput() {
  pvVfsClose(output);
  output = VfsHandle();
  if (!tempPath.empty()) platform::RemoveFile(tempPath);
  if (!createdPath.empty()) platform::RemoveFile(createdPath);
  tempPath.clear();
  createdPath.clear();
}

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
    if (job.archive.Kind == VfsKind::kFile && !pvIsStdHandleName(job.archive.sName)) {
      job.archiveFile = platform::QueryPath(job.archive.sName, true);
    }
    job.overlapping = pvOverlappingEntries(m_uFiles, m_lFileCount, job.archiveSize);
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
      job.DiscardOutput();
      job.ReleaseCodec();
    }
    pvVfsClose(job.archive);
  });
}

bool cZipEngine::pvExtractEntry(std::int32_t i, ExtractJob& job) {
  EntryInfo& e = m_uFiles[static_cast<std::size_t>(i)];
  CheckZip64Values(e, i, job.archiveSize);
  if (job.overlapping[static_cast<std::size_t>(i)]) RaiseEntry(kMsgInvalidArchive, kMsgOverlaps, i);

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
    path = Variant(pvOutputPath(folder, e.FileName));
    if (!job.guard.Allows(folder, path.Text())) RaiseEntry(kMsgInvalidEntryName, kMsgUnsafePath, i);
    file = &path;
  }
  bool skip = false;
  if (pvRaiseBeforeExtract(i, *file, skip)) pvUserCancelled();
  if (skip) return false;

  // A path ending in a separator is a folder, whatever the entry's method and sizes say
  // (jar and Python's zipfile write folder entries as Deflate with an empty stream).
  const bool named = file->IsText() && !pvIsStdHandleName(file->Text());
  if (named && !file->Text().empty() && platform::IsPathSeparator(file->Text().back())) {
    job.output = pvVfsCreate(*file);
    if (pvRaiseProgress(i, 1, 1)) pvUserCancelled();
    pvRaiseExtractComplete(i, *file);
    return true;
  }
  const bool link = named && m_bRestoreMetadata && platform::kUnixFileModes && IsUnixLink(e) &&
                    e.WholeSize() <= kMaxLinkTarget;
  if (named) {
    // Refused before any output exists, so nothing at the target is touched.
    if (e.WholeCompressedSize() > 0 && (e.Flags & rec::kFlagEncrypted)) {
      if (pvRaiseProgress(i, 0, pvSaturate32(e.WholeCompressedSize()))) pvUserCancelled();
      pvRaise({}, kMsgUnsupportedEncryption);
    }
    if (link) {
      job.linkText.clear();
      job.output = pvVfsCreate(Variant::Ref(job.linkText));
    } else {
      OpenReplacement(job, file->Text(), i);
    }
  } else {
    // A negative offset reads from the start of a memory buffer, so count from 0 at least.
    const std::int64_t available =
        job.archiveSize < 0
            ? -1
            : std::max<std::int64_t>(job.archiveSize - std::max<std::int64_t>(dataStart, 0), 0);
    job.output = CreateOutput(*file, e, available);
  }
  if (e.WholeCompressedSize() <= 0) {
    // A file output was just created empty, so only memory and streams need their end set;
    // folder and volume-label entries have no data to end.
    const bool folderEntry =
        (e.Attributes & (rec::kAttributeDirectory | rec::kAttributeVolumeLabel)) != 0;
    if (!folderEntry && job.output.Kind != VfsKind::kFile) pvVfsSetEof(job.output, e.FileName);
    if (pvRaiseProgress(i, 1, 1)) pvUserCancelled();
    // No data is the empty content: its CRC-32 is 0 and its size 0. A named target without a
    // trailing separator becomes a file whatever the attributes say, so it is checked too:
    // otherwise a damaged entry would replace a good file with an empty one.
    const bool checked = !folderEntry || named;
    if (checked && e.Crc32 != 0) pvRaise({}, kMsgCrcCheckFailed);
    if (checked && e.WholeSize() != 0) pvRaise({}, kMsgSizeCheckFailed);
  } else {
    pvWriteEntryData(i, e, job);
  }
  if (link) {
    pvPlaceLink(i, file->Text(), e, job);
  } else if (named) {
    pvCommitOutput(file->Text(), e, job);
  }
  pvRaiseExtractComplete(i, *file);
  return true;
}

void cZipEngine::pvCommitOutput(const std::string& Path, const EntryInfo& Entry, ExtractJob& Job) {
  if (m_bRestoreMetadata) {
    // Set through the open file, after its last write: no second lookup of the path, and a
    // replacement carries them through the move. A mode the file already has is not set. They are a
    // nicety on a verified file, so a failure to apply them leaves it as it is.
    const platform::FileHandle& file = Job.output.File;
    if (Entry.LastModified != 0.0) {
      platform::SetLastWriteTimeOf(file, pvToFileTime(Entry.LastModified));
    }
    constexpr std::int32_t kUnixHost = 3;
    const std::uint32_t mode = static_cast<std::uint32_t>(Entry.Attributes) >> 16;
    if (platform::kUnixFileModes && (Entry.MadeBy >> 8) == kUnixHost && (mode & 0777u) != 0 &&
        ((mode & 0170000u) == 0100000u || (mode & 0170000u) == 0) &&
        (mode & 0777u) != platform::NewFileMode()) {
      platform::SetUnixModeOf(file, mode & 0777u);
    }
  }
  pvVfsClose(Job.output);
  Job.output = VfsHandle();
  if (!Job.tempPath.empty()) {
    if (!platform::MoveFileReplace(Job.tempPath, Path, false)) {
      RaiseCreate(platform::GetLastErrorCode(), Path);
    }
    Job.tempPath.clear();
  }
  Job.createdPath.clear();
}

void cZipEngine::pvPlaceLink(std::int32_t FileIdx, const std::string& Path, const EntryInfo& Entry,
                             ExtractJob& Job) {
  pvVfsClose(Job.output);
  const std::string target(Job.linkText.begin(), Job.linkText.end());
  OpenReplacement(Job, Path, FileIdx);
  if (!pvLinkStaysInside(Entry.FileName, target) || target.find('\0') != std::string::npos) {
    // Written as a file holding the link's text, as unzip does where it makes no link.
    pvVfsWrite(Job.output, Job.linkText.data(), static_cast<std::int32_t>(Job.linkText.size()));
    pvCommitOutput(Path, Entry, Job);
    return;
  }
  pvVfsClose(Job.output);
  Job.output = VfsHandle();
  // The link is made under the name reserved beside (or at) the target, then moved over it.
  const std::string at = Job.tempPath.empty() ? Job.createdPath : Job.tempPath;
  platform::RemoveFile(at);
  if (!platform::MakeSymbolicLink(at, target)) RaiseCreate(platform::GetLastErrorCode(), Path);
  if (!Job.tempPath.empty() && !platform::MoveFileReplace(Job.tempPath, Path, false)) {
    RaiseCreate(platform::GetLastErrorCode(), Path);
  }
  Job.tempPath.clear();
  Job.createdPath.clear();
  // Folders already checked may now be reached through the new link.
  Job.guard.Forget();
}

}  // namespace lum::zip
