// The reading subcommands of zipengine: list, test, extract and cat.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "tools/zipengine.h"
#include "tools/zipengine_progress.h"
#include "zip/filter.h"
#include "zip/storage.h"

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

// The target of a cat: a stream object that passes what it is given to the "stdout:"
// storage handle (binary, unbuffered). Being a stream and not a folder, it takes entries
// whatever their names.
class StdoutStream : public zip::IVfsStream {
 public:
  std::int32_t VfsSetFilePointer(std::int32_t&, std::int32_t&) override { return 0; }
  std::int32_t VfsReadFile(std::uint8_t*, std::int32_t&) override { return 0; }
  std::int32_t VfsWriteFile(const std::uint8_t* data, std::int32_t& size) override {
    if (!m_open) {
      m_out = zip::pvVfsCreate(zip::Variant("stdout:"));
      m_open = true;
    }
    return zip::pvVfsWrite(m_out, data, size);
  }
  void VfsSetEndOfFile(std::string&) override {}

 private:
  zip::VfsHandle m_out;
  bool m_open = false;
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
  ProgressDisplay display(engine, ProgressDisplay::ChooseMode(quiet), "OK", total,
                          engine.FileCount());
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
  std::vector<zip::ExtractFilter> matchers;
  for (const std::string& p : patterns) matchers.emplace_back(zip::Variant(p));
  zip::VariantArray selection;
  std::int64_t totalBytes = 0;
  std::int32_t totalEntries = 0;
  for (std::int32_t i = 0; i < engine.FileCount(); ++i) {
    const EntryView e = ViewEntry(engine, i);
    bool selected = matchers.empty();
    const std::string name = EntryNameArg(e.name);
    for (const auto& m : matchers) selected = selected || m.Selects(i, name);
    selection.emplace_back(selected);
    if (selected) {
      ++totalEntries;
      totalBytes += std::max<std::int64_t>(e.compressedSize, 0);
    }
  }
  if (patterns.size() == 1) filter = zip::Variant(patterns[0]);
  if (patterns.size() > 1) filter = zip::Variant(std::move(selection));

  ProgressDisplay display(engine, ProgressDisplay::ChooseMode(quiet), "extracted", totalBytes,
                          totalEntries);
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
  engine.Extract(zip::Variant(zip::StreamRef(std::make_shared<StdoutStream>())),
                 zip::Variant(index));
  engine.SetEvents(nullptr);
  return sink.Count() + openErrors > 0 ? kExitEngineError : kExitOk;
}

}  // namespace lum::tools
