// Extraction's working state and the helpers behind Extract that need no archive object:
// the safety check of output paths, the pre-size of a byte-array target and the creation of
// an output file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "codec/codec_table.h"
#include "platform/fs.h"
#include "zip/entry_info.h"
#include "zip/filter.h"
#include "zip/read_input.h"
#include "zip/storage.h"
#include "zip/variant.h"

namespace lum::zip {

// Stored bytes moved per chunk, and the size of the one read buffer of an Extract call.
inline constexpr std::int32_t kExtractChunk = 65536;

// Messages of the checks extraction adds to the plain reading of the records.
inline constexpr char kMsgInvalidEntryName[] = "Invalid entry name";
inline constexpr char kMsgUnsafePath[] = "Entry %1 has an unsafe path";
inline constexpr char kMsgUnsupportedSize[] = "Unsupported entry size";
inline constexpr char kMsgNeedsZip64[] = "Entry %1 needs Zip64";
inline constexpr char kMsgUnsupportedMethod[] = "Unsupported compression method %1";
inline constexpr char kMsgSizeCheckFailed[] = "Size check failed";
inline constexpr char kMsgReplacesArchive[] = "Entry %1 would replace the archive being read";
inline constexpr char kMsgOverlaps[] = "Entry %1 overlaps another entry";

// Keeps a folder target's writes inside the folder on disk: a folder on the way to an
// output that is a symbolic link (a junction on Windows) must lead to a place inside the
// target folder. Folders found safe are remembered for the rest of the call; Forget drops
// that memory (after the call itself made a link).
class FolderGuard {
 public:
  // True when every existing folder between `folder` and the file `path` (which is
  // `folder` joined with a relative name) is a real folder or a link that resolves inside
  // `folder`.
  bool Allows(const std::string& folder, const std::string& path);
  void Forget() { m_safe.clear(); }

 private:
  std::unordered_set<std::string> m_safe;
  std::string m_resolvedFolder;  // `folder` with its links resolved, once known
  bool m_resolved = false;
};

// What one Extract call works with. The archive handle and the read buffer live for the
// whole call; the output handle and the decoder handle for one entry. The destructor
// releases whatever an early stop left behind (a decoder handle, an output block).
struct ExtractJob {
  ExtractJob(VfsHandle archiveHandle, Variant& outputTarget, const codec::CodecEntryTable& codec)
      : archive(std::move(archiveHandle)), input(archive), target(outputTarget), uCodec(codec) {}
  ExtractJob(const ExtractJob&) = delete;
  ExtractJob& operator=(const ExtractJob&) = delete;
  ~ExtractJob() {
    ReleaseCodec();
    DiscardOutput();
  }

  // Frees an output block still held and destroys the decoder handle, if any.
  void ReleaseCodec();

  VfsHandle archive;
  ArchiveInput input;
  Variant& target;  // the caller's OutputTarget; BeforeExtract may change it
  const codec::CodecEntryTable& uCodec;
  std::vector<std::uint8_t> readBuffer = std::vector<std::uint8_t>(kExtractChunk);
  std::optional<ExtractFilter> filter;
  std::int64_t archiveSize = -1;  // bytes in the archive source; −1 when not known
  VfsHandle output;
  codec::CodecWord decoder = 0;
  codec::CodecBlock block{};

  // Folder targets. A file output is written either as a new file at its target (nothing
  // was there) or as a replacement beside it that is moved over the target only once the
  // entry is verified; until then the path is kept here, and DiscardOutput removes it, so
  // a failed entry leaves neither a partial file nor the old file changed.
  std::string createdPath;
  std::string tempPath;
  platform::PathStatus archiveFile;  // the archive source when it is a named file
  FolderGuard guard;
  std::vector<bool> overlapping;  // per entry: its data range overlaps another entry's
  ByteArray linkText;             // the target text of a symbolic-link entry
  // Closes the output and removes a file written for an entry that did not complete.
  void DiscardOutput();
};

// True when extracting `entryName` ("\" separators, as OpenArchive lists it) into `folder`
// could write outside the folder or onto a device: a ".." component; a name starting with a
// separator when the folder is empty (it would be a rooted path). With `windowsNames` also
// a component made only of dots and blanks with two or more dots (Windows drops trailing
// dots and blanks, so ". ." and "..." reach the parent as well), and a reserved device name
// (see pvIsReservedDeviceName).
bool pvIsUnsafeEntryPath(const std::string& folder, const std::string& entryName,
                         bool windowsNames);

// True for a path component that Windows opens as a device: CON, PRN, AUX, NUL, CONIN$,
// CONOUT$, COM1–COM9, LPT1–LPT9 (also with the superscript digits ¹ ² ³), in any letter
// case, with or without an extension, with trailing blanks or dots before it.
bool pvIsReservedDeviceName(std::string_view component);

// The length a byte-array target is given before entry `e` is written: its FullSize, but
// never more than its stored data can produce (stored: the stored bytes; Deflate: 1032 bytes
// per stored byte plus 258), so a forged size cannot force a large allocation, and never more
// than a memory buffer holds (0x7FFFFFFF). The stored bytes are FullCompressedSize, and no
// more than the `available` bytes the archive holds after the entry's local header (−1: not
// known), so a forged compressed size cannot either. 0 for no pre-size.
std::int64_t pvByteArrayPresize(const EntryInfo& e, std::int64_t available);

// A file output handle that writes through `file` under the name `path`, so that errors
// name `path` (the target) even when `file` is written beside it.
VfsHandle pvFileOutput(platform::FileHandle file, const std::string& path);

// The output handle of a folder target's entry at `path`. The file is created directly;
// only when that fails (a folder is missing, or anything else) does pvVfsCreate make the
// missing folders and try again, raising its errors. A path ending in a separator names a
// folder and goes straight to pvVfsCreate. One system call per file in the usual case.
VfsHandle pvCreateOutputFile(const std::string& path);

// The output path of entry `entryName` in `folder` (pvNativePathJoin), with "." components
// of the name dropped; a name ending in "\" still gives a path ending in a separator.
std::string pvOutputPath(const std::string& folder, const std::string& entryName);

// True when a symbolic link made for entry `entryName` ("\" separators) with the target
// text `linkTarget` points inside the folder it is extracted into: a relative target whose
// ".." components never climb above that folder.
bool pvLinkStaysInside(const std::string& entryName, const std::string& linkTarget);

// For each of the first `count` entries, whether its data overlaps another entry's: every
// entry occupies at least its 30-byte local header and its stored data from its FullOffset, so
// two entries whose such ranges meet share bytes (the shape of a zip bomb). Entries with a
// negative offset or size, and ranges that run past the `archiveSize` bytes of the archive
// (−1: not known), are left to their own checks: such data cannot be read to its end.
std::vector<bool> pvOverlappingEntries(const std::vector<EntryInfo>& entries, std::int32_t count,
                                       std::int64_t archiveSize);

// True for an entry name or path that names one of the process's standard handles.
bool pvIsStdHandleName(const std::string& name);

}  // namespace lum::zip
