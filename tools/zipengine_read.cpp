// The reading subcommands of zipengine: list, test, extract and cat.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tools/zipengine.h"
#include "tools/zipengine_progress.h"
#include "zip/engine_io.h"

namespace lum::tools {
namespace {

const char* MethodName(std::int32_t method, char* buffer, std::size_t size) {
  if (method == 0) return "Stored";
  if (method == 8) return "Defl";
  std::snprintf(buffer, size, "M%d", method);
  return buffer;
}

// A stream object that accepts and forgets everything: test decodes into it.
class DiscardStream : public zip::IVfsStream {
 public:
  std::int32_t VfsSetFilePointer(std::int32_t&, std::int32_t&) override { return 0; }
  std::int32_t VfsReadFile(std::uint8_t*, std::int32_t&) override { return 0; }
  std::int32_t VfsWriteFile(const std::uint8_t*, std::int32_t& size) override { return size; }
  void VfsSetEndOfFile(std::string&) override {}
};

// The progress of extract and test, counted in stored bytes: an entry is finished when it
// has been written and verified (ExtractComplete), or when it failed.
class ExtractProgress : public ProgressDisplay {
 public:
  // `verb` starts each plain line ("extracted", "OK").
  ExtractProgress(const zip::cZipEngine& engine, bool quiet, std::string verb,
                  std::int64_t totalBytes, std::int32_t totalEntries)
      : ProgressDisplay(engine, ChooseMode(quiet), totalBytes, totalEntries, stdout),
        m_verb(std::move(verb)) {}

  void Progress(std::int32_t, std::int32_t Current, std::int32_t, bool&) override {
    ShowEntryBytes(Current);
  }
  void ExtractComplete(std::int32_t FileIdx, zip::Variant&) override {
    EntryFinished(StoredBytes(FileIdx), true,
                  ShowsLines() ? m_verb + ": " + EntryName(FileIdx) : std::string());
    Draw();
  }
  void Error(std::int32_t FileIdx, std::string& Source, std::string& Description,
             bool& Cancel) override {
    ProgressDisplay::Error(FileIdx, Source, Description, Cancel);
    // A failed entry counts as worked through, so the bar still reaches its end.
    if (FileIdx >= 0 && !Cancel) EntryFinished(StoredBytes(FileIdx), false);
  }

 private:
  std::int64_t StoredBytes(std::int32_t FileIdx) const {
    return std::max<std::int64_t>(ViewEntry(m_engine, FileIdx).compressedSize, 0);
  }
  std::string m_verb;
};

std::string EntryNameArg(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return name;
}

}  // namespace

int RunList(const Args& args) {
  if (args.size() != 1) return UsageError("list needs exactly one ARCHIVE");
  zip::cZipEngine engine;
  const int openErrors = OpenArchiveArg(engine, args[0]);
  if (openErrors < 0) return kExitEngineError;
  std::printf("Archive: %s\n", args[0].c_str());
  std::printf("    Length  Compressed  Method  Date       Time      CRC-32    Name\n");
  std::printf("----------  ----------  ------  ---------- --------  --------  ----\n");
  std::int64_t size = 0, compressed = 0;
  for (std::int32_t i = 0; i < engine.FileCount(); ++i) {
    const EntryView e = ViewEntry(engine, i);
    char method[16];
    std::printf("%10lld  %10lld  %-6s  %s  %08x  %s\n", static_cast<long long>(e.size),
                static_cast<long long>(e.compressedSize),
                MethodName(e.method, method, sizeof method), FormatDate(e.lastModified).c_str(),
                e.crc32, e.name.c_str());
    size += e.size;
    compressed += e.compressedSize;
  }
  std::printf("----------  ----------                                          -------\n");
  std::printf("%10lld  %10lld                                          %d %s\n",
              static_cast<long long>(size), static_cast<long long>(compressed), engine.FileCount(),
              engine.FileCount() == 1 ? "entry" : "entries");
  if (!engine.Comment().empty()) std::printf("Comment: %s\n", engine.Comment().c_str());
  return openErrors > 0 ? kExitEngineError : kExitOk;
}

int RunTest(const Args& args) {
  std::string archive;
  bool quiet = false;
  for (const std::string& a : args) {
    if (a == "-q") {
      quiet = true;
    } else if (archive.empty() && (a == "-" || a[0] != '-')) {
      archive = a;
    } else {
      return UsageError("test: unexpected argument '" + a + "'");
    }
  }
  if (archive.empty()) return UsageError("test needs an ARCHIVE");
  zip::cZipEngine engine;
  const int openErrors = OpenArchiveArg(engine, archive);
  if (openErrors < 0) return kExitEngineError;
  std::int64_t total = 0;
  for (std::int32_t i = 0; i < engine.FileCount(); ++i) {
    total += std::max<std::int64_t>(ViewEntry(engine, i).compressedSize, 0);
  }
  ExtractProgress display(engine, quiet, "OK", total, engine.FileCount());
  engine.SetEvents(&display);
  engine.Extract(zip::Variant(zip::StreamRef(std::make_shared<DiscardStream>())));
  engine.SetEvents(nullptr);
  display.Finish();
  const int failed = display.Count();
  if (!quiet) {
    if (failed == 0) {
      std::printf("No errors detected in %d entries of %s.\n", engine.FileCount(), archive.c_str());
    } else {
      std::printf("%d error%s in %s (%d of %d entries passed).\n", failed, failed == 1 ? "" : "s",
                  archive.c_str(), display.EntriesDone(), engine.FileCount());
    }
  }
  return failed + openErrors > 0 ? kExitEngineError : kExitOk;
}

int RunExtract(const Args& args) {
  std::string archive, folder;
  bool quiet = false, haveFolder = false, optionsDone = false, restore = true;
  std::vector<std::string> patterns;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && a == "-q") {
      quiet = true;
    } else if (!optionsDone && a == "-T") {
      restore = false;
    } else if (!optionsDone && a == "-d") {
      if (i + 1 >= args.size()) return UsageError("extract: -d needs a folder");
      folder = args[++i];
      haveFolder = true;
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      return UsageError("extract: unknown option '" + a + "'");
    } else if (archive.empty()) {
      archive = a;
    } else {
      patterns.push_back(a);
    }
  }
  if (archive.empty()) return UsageError("extract needs an ARCHIVE");
  const std::string target = haveFolder && !folder.empty() ? folder : std::string(".");

  zip::cZipEngine engine;
  const int openErrors = OpenArchiveArg(engine, archive);
  if (openErrors < 0) return kExitEngineError;

  // One pattern is the engine's text filter; several become a per-entry selection.
  zip::Variant filter = zip::Variant::MissingArg();
  std::vector<bool> selected(static_cast<std::size_t>(engine.FileCount()), patterns.empty());
  for (const std::string& p : patterns) {
    const std::vector<bool> matches = engine.FilterSelection(zip::Variant(p));
    for (std::size_t i = 0; i < matches.size(); ++i) selected[i] = selected[i] || matches[i];
  }
  zip::VariantArray selection;
  std::int64_t totalBytes = 0;
  std::int32_t totalEntries = 0;
  for (std::int32_t i = 0; i < engine.FileCount(); ++i) {
    selection.emplace_back(static_cast<bool>(selected[static_cast<std::size_t>(i)]));
    if (selected[static_cast<std::size_t>(i)]) {
      ++totalEntries;
      totalBytes += std::max<std::int64_t>(ViewEntry(engine, i).compressedSize, 0);
    }
  }
  if (patterns.size() == 1) filter = zip::Variant(patterns[0]);
  if (patterns.size() > 1) filter = zip::Variant(std::move(selection));

  ExtractProgress display(engine, quiet, "extracted", totalBytes, totalEntries);
  engine.SetEvents(&display);
  engine.SetRestoreMetadata(restore);
  engine.Extract(zip::Variant(target), filter);
  engine.SetEvents(nullptr);
  display.Finish();
  if (!quiet) {
    std::printf("%d of %d entries extracted to %s (%s in %.2f s)\n", display.EntriesDone(),
                totalEntries, target.c_str(), FormatBytes(double(display.BytesDone())).c_str(),
                display.Seconds());
  }
  if (!patterns.empty() && totalEntries == 0) {
    std::fprintf(stderr, "zipengine: no entry matches\n");
    return kExitEngineError;
  }
  return display.Count() + openErrors > 0 ? kExitEngineError : kExitOk;
}

int RunCat(const Args& args) {
  if (args.size() != 2) return UsageError("cat needs an ARCHIVE and an entry NAME");
  zip::cZipEngine engine;
  const int openErrors = OpenArchiveArg(engine, args[0]);
  if (openErrors < 0) return kExitEngineError;
  const std::string wanted = EntryNameArg(args[1]);
  std::int32_t index = -1;
  for (std::int32_t i = 0; i < engine.FileCount() && index < 0; ++i) {
    if (EntryNameArg(ViewEntry(engine, i).name) == wanted) index = i;
  }
  if (index < 0) {
    std::fprintf(stderr, "zipengine: %s: not in the archive\n", args[1].c_str());
    return kExitEngineError;
  }
  std::fflush(stdout);
  ErrorPrinter sink(engine);
  engine.SetEvents(&sink);
  // A stream and not a folder: it takes an entry whatever its name, and writes it in order.
  engine.Extract(zip::Variant(zip::StreamRef(std::make_shared<zip::StdHandleStream>(
                     zip::StdHandleStream::Which::kOutput, false))),
                 zip::Variant(index));
  engine.SetEvents(nullptr);
  return sink.Count() + openErrors > 0 ? kExitEngineError : kExitOk;
}

}  // namespace lum::tools
