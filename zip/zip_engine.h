// cZipEngine: the archive object. One instance either reads an existing archive (open its
// directory, list and extract entries) or collects entries and writes a new archive; both
// uses share one entry table of EntryInfo records.
//
// Error model. Inside the engine a failure is raised as a ZipError (zip/zip_error.h). Only
// the public operations catch it: each runs its body through pvRunOperation, which clears
// the error state first and reports a caught error once through pvSetError, with the
// source "cZipEngine.<operation>" CR LF "<raising procedure>". Nothing is thrown out of a
// public member. Extraction and writing also run each entry through pvRunEntry, which
// reports an entry's error as continuable and goes on unless the Error handler cancels.
//
// The operations are defined in their own files (reading, extraction, adding, writing);
// this header holds the object's state and the helpers they share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/codec_table.h"
#include "codec/crc32.h"
#include "platform/find.h"
#include "zip/entry_info.h"
#include "zip/variant.h"
#include "zip/zip_error.h"
#include "zip/zip_events.h"

namespace lum::test {
struct ZipEngineProbe;  // test-only access to the private state, defined by a test program
}

namespace lum::zip {

struct ExtractJob;  // the working state of one Extract call (zip/extract.h)

// An entry's sizes and offset in full (cZipEngine::FileSizes).
struct EntrySizes {
  std::int64_t Size = -1;
  std::int64_t CompressedSize = -1;
  std::int64_t Offset = -1;
};
struct WriteJob;  // the working state of one CompressArchive call (zip/write_archive.h)

// Messages shared by several operations.
inline constexpr char kMsgUserCancelled[] = "User cancelled";
inline constexpr char kMsgInvalidArchive[] = "Invalid archive";
inline constexpr char kMsgArchiveNotOpened[] = "Archive not opened";
inline constexpr char kMsgEmptyArchive[] = "Empty archive";
inline constexpr char kMsgCannotInitDeflate[] = "Cannot init deflate compressor";
inline constexpr char kMsgErrorCompressing[] = "Error compressing";
inline constexpr char kMsgCannotInitInflate[] = "Cannot init inflate decompressor";
inline constexpr char kMsgErrorReadingArchive[] = "Error reading archive";
inline constexpr char kMsgErrorDecompressing[] = "Error decompressing";
inline constexpr char kMsgCrcCheckFailed[] = "CRC check failed";
inline constexpr char kMsgUnsupportedEncryption[] = "Unsupported encryption";
inline constexpr char kMsgInvalidLocalHeader[] = "Invalid local header";
inline constexpr char kMsgEntryInvalidSignature[] = "Entry %1 has invalid signature";
inline constexpr char kMsgOutputCannotSeek[] = "Output cannot seek";
// The name under which a nameless entry is listed.
inline constexpr char kEntryPlaceholderName[] = "[entry %1]";

// Inner source of an error that an operation raises itself without naming a procedure.
inline constexpr char kOwnErrorSource[] = "Updater";

// A ZipError with this number is not an error to report: it stops the running operation
// after the stop has already been reported (a cancel, or an error reported directly).
inline constexpr std::int32_t kZipStopNumber = 0;

// "<Prefix>. <Detail>", the form of compound messages.
std::string pvCompoundMessage(std::string_view Prefix, std::string_view Detail);
// `Text` with every "%1" replaced by `Value` in decimal.
std::string pvFormatMessage(std::string_view Text, std::int64_t Value);
// `Text` with every "%1" replaced by the 1-based position of entry `FileIdx`.
std::string pvFormatEntryMessage(std::string_view Text, std::int32_t FileIdx);
// The Source of an error raised inside operation `Name`: "cZipEngine.<Name>", CR LF, then
// `Inner`, or "Updater" when `Inner` is empty.
std::string pvOperationSource(std::string_view Name, std::string_view Inner);
// Stops the running operation without a further report (throws the stop marker).
[[noreturn]] void pvStopOperation();

class cZipEngine {
 public:
  // Loads the codec into the object's entry table; no archive is open, the entry table is
  // empty and the current entry is −1.
  cZipEngine();
  // The codec table points into the object (its CRC-32 table), so an engine is not copied.
  cZipEngine(const cZipEngine&) = delete;
  cZipEngine& operator=(const cZipEngine&) = delete;
  ~cZipEngine() = default;

  // Registers the event sink (nullptr: none). The engine does not own it; it must outlive
  // every operation started while it is registered.
  void SetEvents(cZipEngineEvents* Events) noexcept { m_oEvents = Events; }

  // ---- Public members, in the order of the class's interface ----

  // The engine's semantic version, "1.0.0".
  std::string SemVersion() const;
  // The codec's build stamp, "d.m.yyyy h:mm:ss" (no leading zero on day, month, hour).
  std::string CodecBuildDate() const;
  // Description of the last error reported by a public operation; empty after an
  // operation that reported none.
  std::string LastError() const { return m_sLastError; }
  // Number of valid entries in the entry table.
  std::int32_t FileCount() const { return m_lFileCount; }
  // A ten-element array of entry `FileIdx`: FileName (text), Attributes, Crc32 (unsigned,
  // 0..4294967295), Size, CompressedSize (numbers), Comment (text), LastModified (OLE date
  // as a number), Method, Offset, Flags (numbers). An empty variant when FileIdx is below
  // 0 or not below FileCount. Size, CompressedSize and Offset are signed 32-bit: a value
  // that does not fit (an entry or archive past 2 GiB, Zip64) shows 0x7FFFFFFF, never a
  // wrapped or negative number; FileSizes gives it whole.
  Variant FileInfo(std::int32_t FileIdx) const;
  // Entry `FileIdx`'s uncompressed size, compressed size and local header offset in full
  // (64-bit): FileInfo's Size, CompressedSize and Offset are 32-bit and show a value past
  // 0x7FFFFFFF as 0x7FFFFFFF. A value the archive claims through Zip64 without giving it is
  // −1; all three are −1 when FileIdx is out of range.
  EntrySizes FileSizes(std::int32_t FileIdx) const;
  // The comment of the opened archive.
  std::string Comment() const { return m_sComment; }
  // The path a queued entry is read from; empty when its source is a byte array or a stream,
  // when it has none (entries of an opened archive), or when FileIdx is out of range.
  std::string SourcePath(std::int32_t FileIdx) const;

  // Queues one source (path, byte array, stream) under `Name` for writing. Password and
  // EncrStrength are accepted and ignored. True when the entry was queued.
  bool AddFile(const Variant& File, const std::string& Name = {}, const std::string& Comment = {},
               const std::string& Password = {}, std::int32_t EncrStrength = 0,
               std::int32_t Level = -1);
  // Queues the file, folder or link `Path` (looked up by its exact name) under `ArchiveName`,
  // the name as it is to be stored: "/" separators, a trailing "/" for a folder entry, and
  // on POSIX every "\" a character of the name. Otherwise as AddFile: special files and
  // dangling links are left out with Warning. True when the entry was queued.
  bool AddFileAs(const std::string& Path, const std::string& ArchiveName, std::int32_t Level = -1);
  // StoreLinks (default false): AddFile and AddFromFolder queue a symbolic link as a link (an
  // entry holding the link's target text, with Unix mode 0120777) instead of following it.
  // Only POSIX has links to store; on Windows the property changes nothing.
  bool StoreLinks() const { return m_bStoreLinks; }
  void SetStoreLinks(bool Value) { m_bStoreLinks = Value; }
  // Writes every queued entry into `ArchiveFile` (path, stream, or a byte array passed
  // with Variant::Ref so that it can be filled). True when the whole archive was written.
  bool CompressArchive(Variant ArchiveFile, const std::string& Comment = {}, std::int32_t Level = 6,
                       std::int32_t UseUtf8 = -2);
  // Whether CompressArchive writes Deflate entries with the dynamic-Huffman encoder, which
  // picks stored, fixed or dynamic codes per block and ends blocks where the data changes,
  // instead of the fixed-Huffman encoder of the codec table. Off by default, so archives
  // keep their exact bytes unless a caller asks for smaller ones. The level keeps its
  // meaning (1 fastest … 9 smallest; 0 stores) and the stored fallback is the same.
  bool DynamicHuffman() const noexcept { return m_bDynamicHuffman; }
  void SetDynamicHuffman(bool Enabled) noexcept { m_bDynamicHuffman = Enabled; }
  // How many threads compress while CompressArchive writes with the dynamic-Huffman encoder
  // (DynamicHuffman on). 1, the default, is the single-threaded writer. Above 1, that many
  // worker threads (at most 64) compress upcoming entries into memory ahead of their turn:
  // named files and byte arrays of up to 32 MiB, 64 MiB of sources at most held ahead. The
  // caller's thread still raises every event, reads every source and writes everything, in
  // the same order and with the same values, and writes a worker's result only when the
  // source's bytes at the entry's turn are the bytes the worker compressed, so the archive
  // and the events are exactly those of one thread; only the time changes. The workers are
  // stopped and joined before CompressArchive returns. Values below 1 are taken as 1.
  std::int32_t CompressThreads() const noexcept { return m_lCompressThreads; }
  void SetCompressThreads(std::int32_t Threads) noexcept {
    m_lCompressThreads = Threads < 1 ? 1 : Threads;
  }
  // Queues the files of a folder that match a mask ("folder\mask"), optionally
  // recursively. True when at least one entry was queued.
  bool AddFromFolder(const std::string& sFolderAndMask, bool Recursive = false,
                     const std::string& TargetFolder = {}, bool IncludeEmptyFolders = false,
                     const std::string& Password = {}, std::int32_t EncrStrength = 0,
                     std::int32_t Level = -1);
  // Queues the files of the folder `Folder` (every name; with Recursive its subfolders too,
  // with IncludeEmptyFolders a folder entry for each folder that gives no entry) under
  // `ArchiveFolder`, the folder's name as it is to be stored: "/" separators, empty for the
  // top of the archive, and on POSIX every "\" a character of the name. Otherwise as
  // AddFromFolder with the mask "*.*" and that folder as TargetFolder. True when at least
  // one entry was queued.
  bool AddFolderAs(const std::string& Folder, const std::string& ArchiveFolder, bool Recursive,
                   bool IncludeEmptyFolders, std::int32_t Level = -1);
  // Reads the directory of the archive in `ArchiveFile` (path, byte array or stream) into
  // the entry table. A failed open leaves the table, FileCount and Comment as they were.
  bool OpenArchive(const Variant& ArchiveFile);
  // Writes the selected entries of the opened archive to `OutputTarget` (a folder path, a
  // byte array passed with Variant::Ref, or a stream). `Filter`: missing for every entry,
  // a wildcard text, a per-index array of Booleans, or an entry index. Password is
  // accepted and ignored. True when at least one entry was written and verified.
  bool Extract(Variant OutputTarget, const Variant& Filter = Variant::MissingArg(),
               const std::string& Password = {});
  // Which entries Extract would work with this Filter: one flag per entry (FileCount of
  // them), selected as Extract selects. Empty when the filter is not valid (a stream object).
  std::vector<bool> FilterSelection(const Variant& Filter) const;
  // CRC-32 of the whole array (preset and final complement applied). An empty array gives
  // 0, the CRC-32 of no data.
  std::uint32_t CalcCrc32Array(const ByteArray& baData) const;
  // Updates the raw register `lCrc32` over `lSize` bytes at `lPtr`, with no preset and no
  // complement, and returns it. A size of 0 or less, or a null address, leaves the
  // register unchanged. To checksum pieces: preset −1, one call per piece, complement.
  std::int32_t CalcCrc32Ptr(const void* lPtr, std::int32_t lSize, std::int32_t& lCrc32) const;
  // The UTF-8 bytes of `sText` (no byte-order mark, no terminating zero); empty for empty
  // text.
  ByteArray ToUtf8Array(const std::string& sText) const;
  // The text decoded from the UTF-8 bytes `baText`; empty for an empty array.
  std::string FromUtf8Array(const ByteArray& baText) const;
  // Whether Extract to a folder applies each file's recorded modification time and, where
  // files carry Unix permissions and the archive was made on Unix, its permission bits
  // (never set-uid, set-gid or sticky), and recreates Unix symbolic links that stay inside
  // the folder. Off by default: files then get the current time and default permissions.
  bool RestoreMetadata() const { return m_bRestoreMetadata; }
  void SetRestoreMetadata(bool Restore) { m_bRestoreMetadata = Restore; }

 private:
  friend struct lum::test::ZipEngineProbe;

  // ---- Error reporting ----

  // With Source and Description both absent (the "clear" call): empties LastError, clears
  // the cancel flag and returns false. Otherwise sets LastError to Description (an absent
  // one counts as empty), sets the cancel flag when the error cannot be continued from,
  // raises Error(m_lCurrentFile, Source, LastError, cancel flag) and returns the cancel
  // flag as the handler left it.
  bool pvSetError(const std::optional<std::string>& Source = std::nullopt,
                  const std::optional<std::string>& Description = std::nullopt,
                  bool CanContinue = false);
  // Reports a condition that operation `Name` detects and reports itself, not raised:
  // Source "cZipEngine.<Name>" on one line. Returns the cancel flag.
  bool pvReportDirect(const char* Name, const std::string& Description, bool CanContinue);
  // Sets LastError to "User cancelled" (no Error event) and stops the operation.
  [[noreturn]] void pvUserCancelled();

  // Runs the body of public operation `Name`: clears the error state, calls
  // body(bool& result) with result false, and reports anything it throws as a fatal error
  // (a ZipError with its source and description; any other exception, such as one thrown
  // by an event handler, with the inner source "Updater"). Returns the result as the body
  // left it. Operations that start at entry −1 set m_lCurrentFile themselves.
  template <class Body>
  bool pvRunOperation(const char* Name, Body&& body) noexcept;
  // Runs the work of one entry inside operation `Name`. A ZipError from it is reported as
  // continuable; returns true when the body completed, false after a reported error. When
  // the Error handler cancels, the operation stops. Other exceptions pass through (fatal).
  template <class Body>
  bool pvRunEntry(const char* Name, Body&& body);
  // Reports the exception being handled for operation `Name`; never throws.
  void pvReportCaught(const char* Name) noexcept;

  // ---- Events; each returns the cancel flag as the handler left it ----

  bool pvRaiseProgress(std::int32_t FileIdx, std::int32_t Current, std::int32_t Total);
  bool pvRaiseBeforeCompress(std::int32_t FileIdx, std::int32_t& Level, bool& SkipFile);
  bool pvRaiseBeforeExtract(std::int32_t FileIdx, Variant& File, bool& SkipFile);
  void pvRaiseExtractComplete(std::int32_t FileIdx, Variant& File);

  // ---- Extraction (extract.cpp, extract_data.cpp) ----

  // Works one selected entry of an Extract call: checks, local header, BeforeExtract,
  // output creation and data. True when the entry was written and verified, false when
  // BeforeExtract skipped it. Raises for the entry's errors.
  bool pvExtractEntry(std::int32_t FileIdx, ExtractJob& Job);
  // Copies or inflates the stored data of a non-empty entry into Job's output, raising
  // Progress per chunk, and checks the CRC-32.
  void pvWriteEntryData(std::int32_t FileIdx, EntryInfo& Entry, ExtractJob& Job);
  // Puts a verified file output in place (moves the replacement over its target) and, when
  // asked, applies its recorded time and permissions.
  void pvCommitOutput(const std::string& Path, const EntryInfo& Entry, ExtractJob& Job);
  // Places a verified Unix symbolic-link entry whose target text is in Job: as a link when
  // the target stays inside the folder, else as a file holding the text.
  void pvPlaceLink(std::int32_t FileIdx, const std::string& Path, const EntryInfo& Entry,
                   ExtractJob& Job);

  // ---- Writing (write_archive.cpp, write_entry.cpp) ----

  // Works entry `FileIdx` of a CompressArchive call: BeforeCompress, then (unless skipped)
  // the local header, the data and the completed local header. Per-entry failures are
  // reported as continuable and leave the entry out (Offset −1, output back at its start).
  void pvCompressEntry(std::int32_t FileIdx, WriteJob& Job);
  // Queues the upcoming entries from Job.nextAhead on for Job's workers, within their budget
  // and at most kAheadEntries past entry `Current`. Raises nothing.
  void pvQueueAhead(std::int32_t Current, WriteJob& Job);
  // Writes the entry's data through the encoder, chunk by chunk with one chunk read ahead;
  // chunks a worker compressed from the same bytes are written from its result.
  void pvDeflateEntryData(std::int32_t FileIdx, EntryInfo& Entry, WriteJob& Job);
  // Writes the entry's data stored, reading the source again from its start.
  void pvStoreEntryData(std::int32_t FileIdx, EntryInfo& Entry, WriteJob& Job);
  // Writes the central directory of the entries not left out, then the end record.
  void pvWriteCentralDirectory(const std::string& Comment, WriteJob& Job);

  // ---- Entry table ----

  // Makes room for the entry at index m_lFileCount and returns that slot, reset to a fresh
  // EntryInfo. The caller fills it and then increases m_lFileCount. Growth: with no valid
  // entries the table is created anew with three slots; when full it is resized, keeping
  // its contents, to indices 0 to twice the last index (and never to less than one more
  // slot).
  EntryInfo& pvNextEntrySlot();
  // Queues the file, folder or link `Path` described by `Found` under `Name` (and
  // `ArchiveName`, see EntryInfo): the work of AddFile for a path once it has been looked up.
  // A special file or a dangling link raises Warning and queues nothing; returns whether an
  // entry was queued.
  bool pvQueuePath(const std::string& Path, const platform::FindData& Found,
                   const std::string& Name, const std::string& ArchiveName,
                   const std::string& Comment, std::int32_t Level);
  // The walk of AddFromFolder and AddFolderAs: `StoredFolder`, when given, is the stored form
  // of TargetFolder ("/" separators, a "\" in it a character), which every name under it
  // then keeps byte for byte.
  bool WalkFolder(const std::string& sFolderAndMask, bool Recursive,
                  const std::string& TargetFolder, const std::optional<std::string>& StoredFolder,
                  bool IncludeEmptyFolders, const std::string& Password, std::int32_t EncrStrength,
                  std::int32_t Level);
  // Raises Warning(Path, Description).
  void pvRaiseWarning(const std::string& Path, const std::string& Description);

  // ---- State ----

  codec::Crc32Table m_uCrc32Table;        // the CRC-32 table the codec table points at
  codec::CodecEntryTable m_uCodec{};      // codec routines, allocator, constant tables
  std::string m_sLastError;               // LastError; the Description of Error
  bool m_bCancel = false;                 // the Cancel of every event
  std::int32_t m_lFileCount = 0;          // valid entries in m_uFiles
  std::vector<EntryInfo> m_uFiles;        // the entry table; slots past m_lFileCount unused
  std::int32_t m_lCurrentFile = -1;       // entry being worked on; FileIdx of Error
  std::string m_sComment;                 // comment of the opened archive
  Variant m_vArchiveFile;                 // source of the opened archive; empty: none
  cZipEngineEvents* m_oEvents = nullptr;  // the registered event sink
  bool m_bRestoreMetadata = false;        // RestoreMetadata
  bool m_bStoreLinks = false;             // StoreLinks
  bool m_bDynamicHuffman = false;         // DynamicHuffman: the encoder CompressArchive uses
  std::int32_t m_lCompressThreads = 1;    // CompressThreads
};

template <class Body>
bool cZipEngine::pvRunOperation(const char* Name, Body&& body) noexcept {
  bool result = false;
  try {
    pvSetError();
    std::forward<Body>(body)(result);
  } catch (...) {
    pvReportCaught(Name);
  }
  return result;
}

template <class Body>
bool cZipEngine::pvRunEntry(const char* Name, Body&& body) {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (const ZipError& e) {
    if (e.Number == kZipStopNumber) throw;
    if (pvSetError(pvOperationSource(Name, e.Source), e.Description, true)) pvStopOperation();
    return false;
  }
}

}  // namespace lum::zip
