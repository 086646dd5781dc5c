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
// was. The archive itself is never added (it may lie inside a folder being added, or be
// reachable there under another name): a source with the same file identity is left out.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/console.h"
#include "platform/file.h"
#include "platform/find.h"
#include "platform/fs.h"
#include "tools/zipengine.h"
#include "zip/names.h"
#include "zip/storage.h"

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

// The "\"-separated entry name of a stored name (the form AddFromFolder's TargetFolder
// takes).
std::string EntryNameOf(const std::string& stored) {
  std::string name = stored;
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return name;
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

// The progress of a create: a bar on standard error when it is a terminal (about six redraws
// a second, cleared before anything else is printed), one line per entry otherwise, and
// nothing but errors when quiet.
class CreateProgress : public ErrorPrinter {
 public:
  enum class Mode { kQuiet, kBar, kLines };
  // `lines` receives the per-entry lines (standard error when the archive goes to standard
  // output).
  CreateProgress(const zip::cZipEngine& engine, bool quiet, std::int64_t totalBytes,
                 const std::vector<bool>& skip, std::FILE* lines)
      : ErrorPrinter(engine),
        m_lines(lines),
        m_mode(quiet                                             ? Mode::kQuiet
               : platform::IsTerminal(platform::kStdErrorHandle) ? Mode::kBar
                                                                 : Mode::kLines),
        m_totalBytes(totalBytes),
        m_skip(skip),
        m_start(std::chrono::steady_clock::now()) {}

  void BeforeCompress(std::int32_t FileIdx, std::int32_t&, bool& SkipFile, bool&) override {
    EntryDone();
    if (FileIdx >= 0 && static_cast<std::size_t>(FileIdx) < m_skip.size() && m_skip[FileIdx]) {
      SkipFile = true;
      Clear();
      if (m_mode != Mode::kQuiet) {
        std::fprintf(stderr, "zipengine: %s: not added, it is the archive being written\n",
                     EntryName(FileIdx).c_str());
      }
      return;
    }
    m_current = FileIdx;
    m_entrySize = std::max<std::int64_t>(ViewEntry(m_engine, FileIdx).size, 0);
  }
  void Progress(std::int32_t, std::int32_t Current, std::int32_t, bool&) override {
    m_entryBytes = std::min<std::int64_t>(Current, m_entrySize);
    if (m_mode == Mode::kBar) Draw();
  }
  void Error(std::int32_t FileIdx, std::string& Source, std::string& Description,
             bool& Cancel) override {
    Clear();
    std::fflush(stdout);
    // The archive is written under a temporary name; messages name the archive.
    std::string shown = Description;
    if (!m_temporary.empty()) {
      for (std::size_t at; (at = shown.find(m_temporary)) != std::string::npos;) {
        shown.replace(at, m_temporary.size(), m_archive);
      }
    }
    ErrorPrinter::Error(FileIdx, Source, shown, Cancel);
    if (FileIdx == m_current) m_failed = true;
  }
  // Messages that name `temporary` name `archive` instead.
  void ShowAs(const std::string& temporary, const std::string& archive) {
    m_temporary = temporary;
    m_archive = archive;
  }
  // Counts the last entry and removes the bar, so that the final line stands alone.
  void Finish() {
    EntryDone();
    Clear();
  }
  std::int32_t EntriesAdded() const { return m_added; }
  std::int64_t BytesAdded() const { return m_bytesAdded; }
  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  }

 private:
  // The entry before the one now announced has been written (or failed).
  void EntryDone() {
    if (m_current < 0) return;
    m_bytesDone += m_entrySize;
    if (!m_failed) {
      // Only what was written counts: the size the writer read, not the size queued.
      m_bytesAdded += std::max<std::int64_t>(ViewEntry(m_engine, m_current).size, 0);
      ++m_added;
      if (m_mode == Mode::kLines) {
        const EntryView v = ViewEntry(m_engine, m_current);
        std::fprintf(m_lines, "added: %s (%s)\n", v.name.c_str(),
                     v.method == 0 ? "stored" : "deflated");
      }
    }
    m_current = -1;
    m_failed = false;
    m_entryBytes = 0;
  }
  void Clear() {
    if (m_drawn == 0) return;
    std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_drawn), "");
    std::fflush(stderr);
    m_drawn = 0;
  }
  void Draw() {
    const auto now = std::chrono::steady_clock::now();
    if (now - m_lastDraw < std::chrono::milliseconds(160)) return;
    m_lastDraw = now;
    const double done = static_cast<double>(std::min(m_bytesDone + m_entryBytes, m_totalBytes));
    const double fraction = m_totalBytes > 0 ? done / static_cast<double>(m_totalBytes) : 1.0;
    const double seconds = Seconds();
    std::string tail = " " + std::to_string(static_cast<int>(fraction * 100)) + "% " +
                       FormatBytes(done) + "/" + FormatBytes(static_cast<double>(m_totalBytes)) +
                       "  " + std::to_string(m_added) + " entries  " +
                       FormatBytes(seconds > 0 ? done / seconds : 0) + "/s";
    int width = platform::TerminalWidth(platform::kStdErrorHandle);
    if (width <= 0) width = 80;
    const int barWidth = std::clamp(width - 3 - static_cast<int>(tail.size()), 0, 40);
    std::string line;
    if (barWidth >= 10) {
      const int filled = static_cast<int>(fraction * barWidth);
      line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
             std::string(static_cast<std::size_t>(barWidth - filled), '.') + "]";
    }
    line += tail;
    if (line.size() > static_cast<std::size_t>(width - 1)) line.resize(width - 1);
    std::fprintf(stderr, "\r%s", line.c_str());
    if (m_drawn > line.size())
      std::fprintf(stderr, "%*s", static_cast<int>(m_drawn - line.size()), "");
    std::fflush(stderr);
    m_drawn = std::max(m_drawn, line.size());
  }

  std::FILE* m_lines;
  std::string m_temporary, m_archive;
  Mode m_mode;
  std::int64_t m_totalBytes;
  const std::vector<bool>& m_skip;
  std::int32_t m_current = -1;
  bool m_failed = false;
  std::int64_t m_entrySize = 0, m_entryBytes = 0, m_bytesDone = 0, m_bytesAdded = 0;
  std::int32_t m_added = 0;
  std::size_t m_drawn = 0;
  std::chrono::steady_clock::time_point m_start, m_lastDraw;
};

// Standard output as a stream object, for when it is a file: the archive is written in place
// and its end is set where the archive ends (the "stdout:" storage handle leaves the end of
// a standard handle alone, so bytes the writer went back over could remain after it).
class StdoutFileStream : public zip::IVfsStream {
 public:
  StdoutFileStream() : m_file(platform::OpenStdHandle(platform::kStdOutputHandle)) {}
  std::int32_t VfsSetFilePointer(std::int32_t& distance, std::int32_t& method) override {
    const std::uint32_t at =
        platform::FileSeek(m_file, distance, static_cast<std::uint32_t>(method));
    if (at == platform::kInvalidSetFilePointer) Fail("VfsSetFilePointer");
    return static_cast<std::int32_t>(at);
  }
  std::int32_t VfsReadFile(std::uint8_t* destination, std::int32_t& size) override {
    std::uint32_t read = 0;
    if (!platform::FileRead(m_file, destination, static_cast<std::uint32_t>(size), &read)) {
      Fail("VfsReadFile");
    }
    return static_cast<std::int32_t>(read);
  }
  std::int32_t VfsWriteFile(const std::uint8_t* source, std::int32_t& size) override {
    std::uint32_t written = 0;
    if (!platform::FileWrite(m_file, source, static_cast<std::uint32_t>(size), &written)) {
      Fail("VfsWriteFile");
    }
    return static_cast<std::int32_t>(written);
  }
  void VfsSetEndOfFile(std::string&) override {
    if (!platform::FileSetEnd(m_file)) Fail("VfsSetEndOfFile");
  }

 private:
  [[noreturn]] static void Fail(const char* member) {
    throw zip::ZipError{zip::kZipErrorNumber, member,
                        zip::pvSystemErrorMessage(
                            static_cast<std::int32_t>(platform::GetLastErrorCode()), "stdout")};
  }
  platform::FileHandle m_file;
};

// Entries whose source is the archive file itself, under whatever name (a hard or symbolic
// link included): the same file identity. Only sources of the archive's size can be it.
std::vector<bool> FindArchiveItself(const zip::cZipEngine& engine, const std::string& archive) {
  std::vector<bool> skip(static_cast<std::size_t>(engine.FileCount()), false);
  const auto archiveId =
      archive == "-" ? std::nullopt : platform::QueryPath(archive, true).identity;
  std::error_code ec;
  if (!archiveId) return skip;
  const auto archiveSize = fs::file_size(ToPath(archive), ec);
  if (ec) return skip;
  for (std::int32_t i = 0; i < engine.FileCount(); ++i) {
    if (ViewEntry(engine, i).size != static_cast<std::int64_t>(archiveSize)) continue;
    const std::string source = engine.SourcePath(i);
    if (!source.empty() && platform::QueryPath(source, true).identity == archiveId) {
      skip[static_cast<std::size_t>(i)] = true;
    }
  }
  return skip;
}

// A new, empty file beside `archive` to write the archive into, created so that no other file
// is ever overwritten; empty when none could be made (the last error says why).
std::string ReserveTemporary(const std::string& archive) {
  static std::uint32_t counter = 0;
  const auto seed =
      static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", seed * 2654435761u + ++counter);
    const std::string path = archive + suffix;
    platform::FileHandle file = platform::CreateFileHandle(
        path, platform::kGenericWrite, 0, platform::kCreateNew, platform::kAttributeArchive);
    if (file) return path;
    if (platform::GetLastErrorCode() != platform::kErrorFileExists) break;
  }
  return {};
}

}  // namespace

int RunCreate(const Args& args) {
  std::string archive, comment;
  bool recursive = false, emptyFolders = false, quiet = false, optionsDone = false;
  bool storeLinks = false;
  bool fixedHuffman = false;  // --fixed-huffman: the engine's default fixed-code encoder
  std::int32_t level = 6, useUtf8 = -2;
  std::vector<std::string> sources;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && a == "-r") {
      recursive = true;
    } else if (!optionsDone && a == "-e") {
      emptyFolders = true;
    } else if (!optionsDone && a == "-q") {
      quiet = true;
    } else if (!optionsDone && a == "-y") {
      storeLinks = true;
    } else if (!optionsDone && a == "-L") {
      const std::string* v = value();
      if (v == nullptr || v->size() != 1 || (*v)[0] < '0' || (*v)[0] > '9') {
        return UsageError("create: -L needs a level from 0 to 9");
      }
      level = (*v)[0] - '0';
    } else if (!optionsDone && a == "--fixed-huffman") {
      fixedHuffman = true;
    } else if (!optionsDone && a == "-u") {
      const std::string* v = value();
      if (v != nullptr && *v == "auto") {
        useUtf8 = -2;
      } else if (v != nullptr && *v == "always") {
        useUtf8 = -1;
      } else if (v != nullptr && *v == "never") {
        useUtf8 = 0;
      } else {
        return UsageError("create: -u needs auto, always or never");
      }
    } else if (!optionsDone && a == "-c") {
      const std::string* v = value();
      if (v == nullptr) return UsageError("create: -c needs a comment");
      comment = *v;
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      return UsageError("create: unknown option '" + a + "'");
    } else if (archive.empty()) {
      archive = a;
    } else {
      sources.push_back(a);
    }
  }
  if (archive.empty()) return UsageError("create needs an ARCHIVE");
  if (sources.empty()) return UsageError("create needs at least one SOURCE");

  zip::cZipEngine engine;
  engine.SetStoreLinks(storeLinks);
  engine.SetDynamicHuffman(!fixedHuffman);
  QueuePrinter queueErrors(engine);
  engine.SetEvents(&queueErrors);
  bool unsafe = false;
  for (const std::string& source : sources) {
    const std::string name = StoredNameOf(source, unsafe);
    const std::uint32_t attributes = platform::FileAttributesOf(source);
    const bool folder = attributes != platform::kInvalidFileAttributes &&
                        (attributes & platform::kAttributeDirectory) &&
                        !(attributes & platform::kAttributeReparsePoint);
    if (folder && recursive) {
      std::string pattern = source;
      if (!platform::IsPathSeparator(pattern.back())) pattern.push_back(platform::kPathSeparator);
      engine.AddFromFolder(pattern + "*.*", true, EntryNameOf(name), emptyFolders, {}, 0, -1);
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
  if (engine.FileCount() == 0) {
    std::fprintf(stderr, "zipengine: nothing to add; %s was not written\n", archive.c_str());
    return kExitEngineError;
  }

  const std::vector<bool> skip = FindArchiveItself(engine, archive);
  std::int64_t totalBytes = 0;
  for (std::int32_t i = 0; i < engine.FileCount(); ++i) {
    if (!skip[static_cast<std::size_t>(i)]) {
      totalBytes += std::max<std::int64_t>(ViewEntry(engine, i).size, 0);
    }
  }
  CreateProgress display(engine, quiet, totalBytes, skip, archive == "-" ? stderr : stdout);
  engine.SetEvents(&display);
  bool written;
  zip::ByteArray memory;
  std::string temporary;
  if (archive != "-") {
    // Written beside the archive and moved over it when complete; the folder it goes into is
    // made first, as the writer would.
    const std::size_t slash = archive.find_last_of(platform::kWindowsPaths ? "/\\" : "/");
    std::string message;
    if (slash != std::string::npos && slash > 0 &&
        !zip::pvMkDir(archive.substr(0, slash), message)) {
      std::fprintf(stderr, "zipengine: %s\n", message.c_str());
      return kExitEngineError;
    }
    temporary = ReserveTemporary(archive);
    if (temporary.empty()) {
      std::fprintf(stderr, "zipengine: %s\n",
                   zip::pvSystemErrorMessage(
                       static_cast<std::int32_t>(platform::GetLastErrorCode()), archive)
                       .c_str());
      return kExitEngineError;
    }
    display.ShowAs(temporary, archive);
    written = engine.CompressArchive(zip::Variant(temporary), comment, level, useUtf8);
  } else if (platform::IsSeekable(platform::kStdOutputHandle)) {
    std::fflush(stdout);
    written =
        engine.CompressArchive(zip::Variant(zip::StreamRef(std::make_shared<StdoutFileStream>())),
                               comment, level, useUtf8);
  } else {
    // A pipe cannot be sought back into to complete the local headers: build the archive in
    // memory, then send it.
    written = engine.CompressArchive(zip::Variant::Ref(memory), comment, level, useUtf8);
  }
  engine.SetEvents(nullptr);
  display.Finish();
  if (!temporary.empty()) {
    if (written && !platform::MoveFileReplace(temporary, archive, false)) {
      std::fprintf(stderr, "zipengine: %s\n",
                   zip::pvSystemErrorMessage(
                       static_cast<std::int32_t>(platform::GetLastErrorCode()), archive)
                       .c_str());
      written = false;
      display.Finish();
      platform::RemoveFile(temporary);
      return kExitEngineError;
    }
    if (!written) platform::RemoveFile(temporary);
  }
  if (written && archive == "-" && !memory.empty()) {
    std::fflush(stdout);
    try {
      zip::VfsHandle out = zip::pvVfsCreate(zip::Variant("stdout:"));
      if (zip::pvVfsWrite(out, memory.data(), static_cast<std::int32_t>(memory.size())) !=
          static_cast<std::int32_t>(memory.size())) {
        throw zip::ZipError{zip::kZipErrorNumber, {}, "short write (standard output)"};
      }
    } catch (const zip::ZipError& e) {
      std::fprintf(stderr, "zipengine: %s\n", e.Description.c_str());
      return kExitEngineError;
    }
  }
  if (!written && display.Count() == 0) {
    std::fprintf(stderr, "zipengine: %s\n", engine.LastError().c_str());
  }
  if (!quiet && written) {
    std::fprintf(archive == "-" ? stderr : stdout, "%d entries written to %s (%s in %.2f s)\n",
                 display.EntriesAdded(), archive == "-" ? "standard output" : archive.c_str(),
                 FormatBytes(double(display.BytesAdded())).c_str(), display.Seconds());
  }
  return written && display.Count() + queueErrors.Count() == 0 ? kExitOk : kExitEngineError;
}

}  // namespace lum::tools
