// zipengine: a command-line front end to the archive engine, in the habits of unzip and
// 7-Zip: `zipengine <command> ARCHIVE ...`. This file holds the command table, the usage
// text and what the subcommands share; each group of subcommands has its own file.
#include "tools/zipengine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/console.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/time.h"
#include "zip/engine_io.h"

namespace lum::tools {
namespace {

constexpr char kUsageHead[] =
    "NAME\n"
    "    zipengine - list, test, extract and create ZIP archives with the updater's archive\n"
    "    engine\n"
    "\n"
    "SYNOPSIS\n";

constexpr char kUsageBody[] =
    "\n"
    "DESCRIPTION\n"
    "    list     One line per entry: size, compressed size, method, date and time,\n"
    "             CRC-32 and name; then the totals and the archive comment.\n"
    "    test     Decodes every entry without writing anything and checks its CRC-32;\n"
    "             one line per entry and a summary.\n"
    "    extract  Extracts the entries (all, or those matching a PATTERN) into DIR, or\n"
    "             into the current folder without -d. Existing files are replaced, each\n"
    "             only after its entry was decoded and checked. Files get their recorded\n"
    "             modification time and, from archives made on Unix, their permissions;\n"
    "             Unix symbolic links are made when they point inside DIR, else written\n"
    "             as files holding the link's text.\n"
    "    cat      Writes the entry NAME to standard output.\n"
    "    create   Writes a new ARCHIVE from the files and folders given as SOURCE;\n"
    "             entry names follow the paths as given. An ARCHIVE of that name is\n"
    "             replaced only once the new one is complete, which keeps its\n"
    "             permissions; a failed or interrupted create leaves it as it was and\n"
    "             no temporary file.\n"
    "\n"
    "OPTIONS\n"
    "    -d DIR   extract into DIR (created when missing)\n"
    "    -T       extract: keep the current time and default permissions, and write\n"
    "             symbolic links as files holding their text\n"
    "    -q       quiet: print nothing but errors\n"
    "    -r       create: add folders with everything below them (else only the\n"
    "             folder's own entry)\n"
    "    -e       create: keep empty folders as folder entries (with -r)\n"
    "    -L LEVEL create: compression level 0 (store) to 9, default 6\n"
    "    --fixed-huffman\n"
    "             create: Deflate with the fixed Huffman codes only (larger archives,\n"
    "             the engine's default encoder); without it blocks use dynamic codes\n"
    "    --threads N\n"
    "             create: compress with N threads, 1 to 99 (default: one per hardware\n"
    "             thread); the archive is the same for every N\n"
    "    -u MODE  create: UTF-8 names: auto (only names the OEM code page cannot\n"
    "             hold), always, never; default auto\n"
    "    -c TEXT  create: the archive comment\n"
    "    -h, --help\n"
    "             this text\n"
    "    --version\n"
    "             the engine's version\n"
    "\n"
    "PATTERNS\n"
    "    Wildcards as the engine's text filter: ? one character, * any run (also across\n"
    "    folders), # one digit; brackets match themselves. A pattern matches an entry's\n"
    "    whole name or the part after its last folder; \"/\" and \"\\\" both separate\n"
    "    folders. Case-sensitive.\n"
    "\n"
    "ARCHIVE\n"
    "    A file, or - for standard input. The archive is read from its end, so standard\n"
    "    input must be seekable: a redirected file is read in place, while a pipe is first\n"
    "    read whole into memory (up to 2 GiB) and opened from there. For create, - is\n"
    "    standard output; a pipe gets the archive after it has been built in memory.\n"
    "\n"
    "OUTPUT\n"
    "    On a terminal, extract and test draw a progress bar on standard error (bytes,\n"
    "    entries, rate and time left), cleared before the final line. Otherwise they print\n"
    "    one line per entry. Errors go to standard error as \"zipengine: NAME: message\".\n"
    "\n"
    "EXIT STATUS\n"
    "    0  nothing was reported\n"
    "    1  wrong usage\n"
    "    2  the engine reported an error (the message is printed with the entry's name)\n"
    "\n"
    "LIMITS\n"
    "    Stored and Deflate entries only; encrypted entries are refused.\n";

void PrintUsage(std::FILE* out) {
  std::fputs(kUsageHead, out);
  for (const Command& c : Commands()) {
    std::fprintf(out, "    zipengine %s %s\n", c.name, c.synopsis);
  }
  std::fputs(kUsageBody, out);
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> table = {
      {"list", "ARCHIVE", "list the entries", RunList},
      {"test", "ARCHIVE [-q]", "check every entry", RunTest},
      {"extract", "ARCHIVE [-d DIR] [-q] [PATTERN...]", "extract entries", RunExtract},
      {"cat", "ARCHIVE NAME", "write one entry to standard output", RunCat},
      {"create",
       "ARCHIVE [-r] [-L LEVEL] [--fixed-huffman] [--threads N] [-e] [-u auto|always|never] [-c "
       "COMMENT] [-q] "
       "SOURCE...",
       "create an archive", RunCreate},
  };
  return table;
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "zipengine: %s\nTry 'zipengine --help' for more information.\n",
               message.c_str());
  return kExitUsage;
}

void ErrorPrinter::Error(std::int32_t FileIdx, std::string&, std::string& Description, bool&) {
  ++m_count;
  if (FileIdx >= 0 && FileIdx < m_engine.FileCount()) {
    std::fprintf(stderr, "zipengine: %s: %s\n", EntryName(FileIdx).c_str(), Description.c_str());
  } else {
    std::fprintf(stderr, "zipengine: %s\n", Description.c_str());
  }
  std::fflush(stderr);
}

std::string ErrorPrinter::EntryName(std::int32_t FileIdx) const {
  return ViewEntry(m_engine, FileIdx).name;
}

EntryView ViewEntry(const zip::cZipEngine& engine, std::int32_t index) {
  EntryView v;
  const zip::Variant info = engine.FileInfo(index);
  if (!info.IsArray()) return v;
  const zip::VariantArray& f = info.Array();
  v.name = f[0].Text();
  std::replace(v.name.begin(), v.name.end(), '\\', platform::kPathSeparator);
  v.attributes = static_cast<std::uint32_t>(static_cast<std::int64_t>(f[1].Number()));
  v.crc32 = static_cast<std::uint32_t>(f[2].Number());
  v.size = static_cast<std::int64_t>(f[3].Number());
  v.compressedSize = static_cast<std::int64_t>(f[4].Number());
  v.comment = f[5].Text();
  v.lastModified = f[6].Number();
  v.method = static_cast<std::int32_t>(f[7].Number());
  // FileInfo shows sizes past 2 GiB saturated; the full values come from FileSizes.
  const zip::EntrySizes sizes = engine.FileSizes(index);
  if (sizes.Size >= 0) v.size = sizes.Size;
  if (sizes.CompressedSize >= 0) v.compressedSize = sizes.CompressedSize;
  return v;
}

std::string FormatDate(double oleDate) {
  platform::SystemTime t;
  if (oleDate == 0 || !platform::OleDateToSystemTime(oleDate, t)) return "0000-00-00 00:00:00";
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", t.Year, t.Month, t.Day, t.Hour,
                t.Minute, t.Second);
  return text;
}

std::string FormatBytes(double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%.0f B", bytes);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", bytes, kUnits[unit]);
  }
  return text;
}

int OpenArchiveArg(zip::cZipEngine& engine, const std::string& archive) {
  ErrorPrinter printer(engine);
  engine.SetEvents(&printer);
  bool opened;
  if (archive != "-") {
    opened = engine.OpenArchive(zip::Variant(archive));
  } else if (platform::IsSeekable(platform::kStdInputHandle)) {
    opened = engine.OpenArchive(zip::Variant("stdin:"));
  } else {
    // A pipe cannot be sought: read it whole, then open the bytes.
    zip::ByteArray bytes;
    try {
      zip::StdHandleStream in(zip::StdHandleStream::Which::kInput, false);
      for (std::int32_t chunk = 1 << 20;;) {
        const std::size_t at = bytes.size();
        if (at > 0x7FFFFFFFu - static_cast<std::size_t>(chunk)) {
          std::fprintf(stderr, "zipengine: standard input is larger than 2 GiB\n");
          return -1;
        }
        bytes.resize(at + static_cast<std::size_t>(chunk));
        const std::int32_t n = in.VfsReadFile(bytes.data() + at, chunk);
        bytes.resize(at + static_cast<std::size_t>(std::max(n, 0)));
        if (n <= 0) break;
      }
    } catch (const zip::VfsStreamError& e) {
      std::fprintf(stderr, "zipengine: %s\n", e.Description.c_str());
      return -1;
    }
    opened = engine.OpenArchive(zip::Variant(std::move(bytes)));
  }
  engine.SetEvents(nullptr);
  return opened ? printer.Count() : -1;
}

}  // namespace lum::tools

int main(int argc, char** argv) {
  using namespace lum::tools;
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "-h" || name == "--help" || name == "help") {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (name == "--version") {
    lum::zip::cZipEngine engine;
    std::printf("zipengine %s (codec built %s)\n", engine.SemVersion().c_str(),
                engine.CodecBuildDate().c_str());
    return kExitOk;
  }
  for (const Command& c : Commands()) {
    if (name == c.name) return c.run(Args(argv + 2, argv + argc));
  }
  return UsageError("unknown command '" + name + "'");
}
