// zipengine create: builds an archive from files and folders with the engine's AddFile,
// AddFromFolder and CompressArchive.
//
// Entry names follow the paths as given, like zip: "src/a.txt" is stored as src/a.txt, a
// folder "src" with -r puts its files under src/, and "." puts them at the top. A leading
// "/" and every "." and ".." component are dropped (with one warning for "/" and ".."), as
// tar does, so no stored name points outside the folder it is extracted to. On POSIX a "\"
// in a name is one of its characters and is stored as such.
//
// The archive is written to a temporary file beside it and moved over the old one only when
// it is complete, so a failed, refused or interrupted create leaves an existing file as it
// was; an interrupt (Ctrl+C, SIGTERM, SIGHUP) removes the temporary file, and a replaced
// archive keeps the old file's permissions (and owner and group, where the process may), as
// editors and zip do. The archive itself is never added (it may lie inside a folder being
// added, or be reachable there under another name, or be the file standard output was
// redirected to): a source with the same file identity is left out.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "platform/file.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "platform/interrupt.h"
#include "tools/zipengine.h"
#include "tools/zipengine_progress.h"
#include "zip/engine_io.h"

namespace lum::tools {
namespace {

namespace fs = std::filesystem;

fs::path ToPath(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

// A path as given on the command line turned into the name it is stored under: "/"
// separators (the platform's separators split it; on POSIX a "\" stays a character), no
// empty or "." components, and no leading separator or ".." component anywhere. `unsafe` is
// set when a leading separator or a ".." was removed.
std::string StoredNameOf(const std::string& path, bool& unsafe) {
  std::string name, component;
  if (!path.empty() && platform::IsPathSeparator(path[0])) unsafe = true;
  auto take = [&] {
    if (component == "..") unsafe = true;
    if (component.empty() || component == "." || component == "..") {
      component.clear();
      return;
    }
    if (!name.empty()) name.push_back('/');
    name += component;
    component.clear();
  };
  for (char c : path) {
    if (platform::IsPathSeparator(c)) {
      take();
    } else {
      component.push_back(c);
    }
  }
  take();
  return name;
}

// What the command line asks for.
struct CreateOptions {
  std::string archive, comment;
  std::vector<std::string> sources;
  bool recursive = false, emptyFolders = false, quiet = false, storeLinks = false;
  bool fixedHuffman = false;  // --fixed-huffman: the engine's default fixed-code encoder
  std::int32_t level = 6, useUtf8 = -2;
  std::int32_t threads = 0;  // --threads N; 0: one per hardware thread
};

// Reads the arguments into `o`; returns kExitOk, or the status of a usage error (printed).
int ParseCreateArgs(const Args& args, CreateOptions& o) {
  bool optionsDone = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && a == "-r") {
      o.recursive = true;
    } else if (!optionsDone && a == "-e") {
      o.emptyFolders = true;
    } else if (!optionsDone && a == "-q") {
      o.quiet = true;
    } else if (!optionsDone && a == "-y") {
      o.storeLinks = true;
    } else if (!optionsDone && a == "-L") {
      const std::string* v = value();
      if (v == nullptr || v->size() != 1 || (*v)[0] < '0' || (*v)[0] > '9') {
        return UsageError("create: -L needs a level from 0 to 9");
      }
      o.level = (*v)[0] - '0';
    } else if (!optionsDone && a == "--fixed-huffman") {
      o.fixedHuffman = true;
    } else if (!optionsDone && a == "--threads") {
      const std::string* v = value();
      if (v == nullptr || v->empty() || v->size() > 2 ||
          v->find_first_not_of("0123456789") != std::string::npos || std::stoi(*v) < 1) {
        return UsageError("create: --threads needs a count from 1 to 99");
      }
      o.threads = std::stoi(*v);
    } else if (!optionsDone && a == "-u") {
      const std::string* v = value();
      if (v != nullptr && *v == "auto") {
        o.useUtf8 = -2;
      } else if (v != nullptr && *v == "always") {
        o.useUtf8 = -1;
      } else if (v != nullptr && *v == "never") {
        o.useUtf8 = 0;
      } else {
        return UsageError("create: -u needs auto, always or never");
      }
    } else if (!optionsDone && a == "-c") {
      const std::string* v = value();
      if (v == nullptr) return UsageError("create: -c needs a comment");
      o.comment = *v;
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      return UsageError("create: unknown option '" + a + "'");
    } else if (o.archive.empty()) {
      o.archive = a;
    } else {
      o.sources.push_back(a);
    }
  }
  if (o.archive.empty()) return UsageError("create needs an ARCHIVE");
  if (o.sources.empty()) return UsageError("create needs at least one SOURCE");
  return kExitOk;
}

// Prints the warnings of queuing (skipped special files, dangling links, folders reached
// again through links) besides the errors; warnings do not change the exit status.
class QueuePrinter : public ErrorPrinter {
 public:
  using ErrorPrinter::ErrorPrinter;
  void Warning(const std::string& Path, const std::string& Description) override {
    std::fprintf(stderr, "zipengine: warning: %s: %s\n", Path.c_str(), Description.c_str());
    std::fflush(stderr);
  }
};

// Queues every SOURCE in `engine`, with `printer` printing what queuing reports; warns once
// when a leading "/" or ".." was removed from a name.
void QueueSources(zip::cZipEngine& engine, const CreateOptions& o, QueuePrinter& printer) {
  engine.SetEvents(&printer);
  bool unsafe = false;
  for (const std::string& source : o.sources) {
    const std::string name = StoredNameOf(source, unsafe);
    const std::uint32_t attributes = platform::FileAttributesOf(source);
    const bool folder = attributes != platform::kInvalidFileAttributes &&
                        (attributes & platform::kAttributeDirectory) &&
                        !(attributes & platform::kAttributeReparsePoint);
    if (folder && o.recursive) {
      engine.AddFolderAs(source, name, true, o.emptyFolders);
    } else if (folder) {
      // Without -r a folder stands for itself: one folder entry, as zip does.
      if (!name.empty()) engine.AddFileAs(source, name + "/");
    } else {
      engine.AddFileAs(source, name);
    }
  }
  engine.SetEvents(nullptr);
  if (unsafe) {
    std::fprintf(stderr,
                 "zipengine: warning: leading \"/\" and \"..\" components removed from entry "
                 "names\n");
  }
}

// The progress of a create, counted in uncompressed bytes. An entry is finished when the
// next one is announced (BeforeCompress) or the archive is done; "bytes added" counts only
// the entries written, at the size the writer read. Entries that are the archive itself are
// skipped here.
class CreateProgress : public ProgressDisplay {
 public:
  // `skip` flags the entries to leave out; `lines` receives the per-entry lines (standard
  // error when the archive goes to standard output).
  CreateProgress(const zip::cZipEngine& engine, bool quiet, std::int64_t totalBytes,
                 const std::vector<bool>& skip, std::FILE* lines)
      : ProgressDisplay(engine, ChooseMode(quiet), totalBytes,
                        static_cast<std::int32_t>(std::count(skip.begin(), skip.end(), false)),
                        lines),
        m_skip(skip) {}

  void BeforeCompress(std::int32_t FileIdx, std::int32_t&, bool& SkipFile, bool& Cancel) override {
    EntryDone();
    if (platform::InterruptRequested()) {
      Cancel = true;
      return;
    }
    if (FileIdx >= 0 && static_cast<std::size_t>(FileIdx) < m_skip.size() && m_skip[FileIdx]) {
      SkipFile = true;
      Clear();
      if (!Quiet()) {
        std::fprintf(stderr, "zipengine: %s: not added, it is the archive being written\n",
                     EntryName(FileIdx).c_str());
      }
      return;
    }
    m_current = FileIdx;
    m_entrySize = std::max<std::int64_t>(ViewEntry(m_engine, FileIdx).size, 0);
  }
  void Progress(std::int32_t, std::int32_t Current, std::int32_t, bool& Cancel) override {
    // Windows asks the program to stop on Ctrl+C while the temporary file is watched.
    if (platform::InterruptRequested()) Cancel = true;
    ShowEntryBytes(std::min<std::int64_t>(Current, m_entrySize));
  }
  void Error(std::int32_t FileIdx, std::string& Source, std::string& Description,
             bool& Cancel) override {
    // A read or write that the Windows control handler cancelled: stop, without a message.
    if (platform::InterruptRequested()) {
      Cancel = true;
      return;
    }
    // The archive is written under a temporary name; messages name the archive.
    std::string shown = Description;
    if (!m_temporary.empty()) {
      for (std::size_t at; (at = shown.find(m_temporary)) != std::string::npos;) {
        shown.replace(at, m_temporary.size(), m_archive);
      }
    }
    ProgressDisplay::Error(FileIdx, Source, shown, Cancel);
    if (FileIdx == m_current) m_failed = true;
  }
  // Messages that name `temporary` name `archive` instead.
  void ShowAs(const std::string& temporary, const std::string& archive) {
    m_temporary = temporary;
    m_archive = archive;
  }
  // Counts the last entry and removes the bar.
  void Finish() override {
    EntryDone();
    ProgressDisplay::Finish();
  }
  std::int64_t BytesAdded() const { return m_bytesAdded; }

 private:
  // The entry before the one now announced has been written (or failed).
  void EntryDone() {
    if (m_current < 0) return;
    std::string line;
    if (!m_failed) {
      const EntryView v = ViewEntry(m_engine, m_current);
      m_bytesAdded += std::max<std::int64_t>(v.size, 0);
      if (ShowsLines()) line = "added: " + v.name + (v.method == 0 ? " (stored)" : " (deflated)");
    }
    EntryFinished(m_entrySize, !m_failed, line);
    m_current = -1;
    m_failed = false;
  }

  const std::vector<bool>& m_skip;
  std::string m_temporary, m_archive;
  std::int32_t m_current = -1;
  bool m_failed = false;
  std::int64_t m_entrySize = 0, m_bytesAdded = 0;
};

// Entries whose source is the archive file itself, under whatever name (a hard or symbolic
// link included): the same file identity. For a named archive only sources of its size can
// be it (a size of 2 GiB or more shows saturated); standard output redirected to a file
// ("-" > tree/out.zip) grows while it is written, so every source is checked then.
std::vector<bool> FindArchiveItself(const zip::cZipEngine& engine, const std::string& archive) {
  std::vector<bool> skip(static_cast<std::size_t>(engine.FileCount()), false);
  std::optional<platform::FileId> archiveId;
  std::optional<std::int64_t> archiveSize;
  if (archive != "-") {
    archiveId = platform::QueryPath(archive, true).identity;
    std::error_code ec;
    const auto size = fs::file_size(ToPath(archive), ec);
    if (ec) return skip;
    archiveSize = static_cast<std::int64_t>(std::min<std::uintmax_t>(size, 0x7FFFFFFF));
  } else if (platform::IsSeekable(platform::kStdOutputHandle)) {
    archiveId = platform::IdentityOf(platform::OpenStdHandle(platform::kStdOutputHandle));
  }
  if (!archiveId) return skip;
  for (std::int32_t i = 0; i < engine.FileCount(); ++i) {
    if (archiveSize &&
        std::min<std::int64_t>(ViewEntry(engine, i).size, 0x7FFFFFFF) != *archiveSize) {
      continue;
    }
    const std::string source = engine.SourcePath(i);
    if (!source.empty() && platform::QueryPath(source, true).identity == archiveId) {
      skip[static_cast<std::size_t>(i)] = true;
    }
  }
  return skip;
}

// The uncompressed bytes of the entries that will be written.
std::int64_t TotalBytes(const zip::cZipEngine& engine, const std::vector<bool>& skip) {
  std::int64_t total = 0;
  for (std::int32_t i = 0; i < engine.FileCount(); ++i) {
    if (!skip[static_cast<std::size_t>(i)]) {
      total += std::max<std::int64_t>(ViewEntry(engine, i).size, 0);
    }
  }
  return total;
}

// Runs CompressArchive into `target` with the display registered; true when the whole
// archive was written.
bool Compress(zip::cZipEngine& engine, const CreateOptions& o, zip::Variant target,
              CreateProgress& display) {
  engine.SetEvents(&display);
  const bool written = engine.CompressArchive(std::move(target), o.comment, o.level, o.useUtf8);
  engine.SetEvents(nullptr);
  display.Finish();
  return written;
}

// Prints the engine's text for the last system error about `name`.
void PrintLastError(const std::string& name) {
  std::fprintf(stderr, "zipengine: %s\n",
               zip::SystemErrorMessage(platform::GetLastErrorCode(), name).c_str());
}

// How writing the archive ended.
enum class Outcome { kWritten, kFailed, kAbandoned };  // kAbandoned: reported, no summary

// Writes the archive file: into a new temporary file beside it (its folder made first, as
// the writer would), moved over it only when complete.
Outcome WriteToFile(zip::cZipEngine& engine, const CreateOptions& o, CreateProgress& display) {
  const std::string& archive = o.archive;
  const auto slash = std::find_if(archive.rbegin(), archive.rend(), platform::IsPathSeparator);
  const std::size_t folderEnd = static_cast<std::size_t>(archive.rend() - slash);
  std::string message;
  if (folderEnd > 1 && !zip::MakeFolderPath(archive.substr(0, folderEnd - 1), message)) {
    std::fprintf(stderr, "zipengine: %s\n", message.c_str());
    return Outcome::kAbandoned;
  }
  std::string temporary;
  if (!platform::CreateFileBeside(archive, temporary)) {
    PrintLastError(archive);
    return Outcome::kAbandoned;
  }
  // Ctrl+C (or SIGTERM, SIGHUP) while the archive is written leaves no temporary file.
  const platform::RemoveOnInterrupt removeOnInterrupt(temporary);
  display.ShowAs(temporary, archive);
  // On Windows an interrupt cancels the reads it finds waiting, and a source may then end
  // early without an error: a run that was interrupted never replaces the archive.
  if (!Compress(engine, o, zip::Variant(temporary), display) || platform::InterruptRequested()) {
    platform::RemoveFile(temporary);
    return Outcome::kFailed;
  }
  // A replaced archive keeps its permissions (and owner and group, where the process may).
  if (!platform::KeepAccessOf(archive, temporary) ||
      !platform::MoveFileReplace(temporary, archive, false)) {
    PrintLastError(archive);
    display.Finish();
    platform::RemoveFile(temporary);
    return Outcome::kAbandoned;
  }
  return Outcome::kWritten;
}

// Writes the archive to standard output: in place when it is a file (cut where the archive
// ends); a pipe, which cannot be sought back into to complete the local headers, gets the
// archive after it has been built in memory.
Outcome WriteToStandardOutput(zip::cZipEngine& engine, const CreateOptions& o,
                              CreateProgress& display) {
  using zip::StdHandleStream;
  std::fflush(stdout);
  if (platform::IsSeekable(platform::kStdOutputHandle)) {
    const auto out = std::make_shared<StdHandleStream>(StdHandleStream::Which::kOutput, true);
    return Compress(engine, o, zip::Variant(zip::StreamRef(out)), display) ? Outcome::kWritten
                                                                           : Outcome::kFailed;
  }
  zip::ByteArray memory;
  if (!Compress(engine, o, zip::Variant::Ref(memory), display)) return Outcome::kFailed;
  std::fflush(stdout);
  try {
    StdHandleStream out(StdHandleStream::Which::kOutput, false);
    std::int32_t size = static_cast<std::int32_t>(memory.size());
    if (out.VfsWriteFile(memory.data(), size) != size) {
      std::fprintf(stderr, "zipengine: short write (standard output)\n");
      return Outcome::kAbandoned;
    }
  } catch (const zip::VfsStreamError& e) {
    std::fprintf(stderr, "zipengine: %s\n", e.Description.c_str());
    return Outcome::kAbandoned;
  }
  return Outcome::kWritten;
}

}  // namespace

int RunCreate(const Args& args) {
  CreateOptions o;
  if (const int status = ParseCreateArgs(args, o); status != kExitOk) return status;

  zip::cZipEngine engine;
  engine.SetStoreLinks(o.storeLinks);
  engine.SetDynamicHuffman(!o.fixedHuffman);
  engine.SetCompressThreads(
      o.threads > 0 ? o.threads : static_cast<std::int32_t>(std::thread::hardware_concurrency()));
  QueuePrinter queueErrors(engine);
  QueueSources(engine, o, queueErrors);
  if (engine.FileCount() == 0) {
    std::fprintf(stderr, "zipengine: nothing to add; %s was not written\n", o.archive.c_str());
    return kExitEngineError;
  }

  const bool toStdout = o.archive == "-";
  const std::vector<bool> skip = FindArchiveItself(engine, o.archive);
  CreateProgress display(engine, o.quiet, TotalBytes(engine, skip), skip,
                         toStdout ? stderr : stdout);
  const Outcome outcome =
      toStdout ? WriteToStandardOutput(engine, o, display) : WriteToFile(engine, o, display);
  // Windows: stopped on Ctrl+C, with the temporary file removed; end as Ctrl+C ends a program.
  if (platform::InterruptRequested()) platform::EndInterrupted();
  if (outcome == Outcome::kAbandoned) return kExitEngineError;
  const bool written = outcome == Outcome::kWritten;
  if (!written && display.Count() == 0) {
    std::fprintf(stderr, "zipengine: %s\n", engine.LastError().c_str());
  }
  if (!o.quiet && written) {
    std::fprintf(toStdout ? stderr : stdout, "%d entries written to %s (%s in %.2f s)\n",
                 display.EntriesDone(), toStdout ? "standard output" : o.archive.c_str(),
                 FormatBytes(double(display.BytesAdded())).c_str(), display.Seconds());
  }
  return written && display.Count() + queueErrors.Count() == 0 ? kExitOk : kExitEngineError;
}

}  // namespace lum::tools
