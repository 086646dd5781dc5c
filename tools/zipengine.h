// zipengine: the pieces the subcommands share. Each subcommand is a function taking its own
// arguments (after the subcommand's name) and returning the exit status; zipengine.cpp holds
// the table that maps names to them, with their one-line synopses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zip/zip_engine.h"

namespace lum::tools {

// Exit statuses: nothing reported, wrong usage, the engine reported an error.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitEngineError = 2;

using Args = std::vector<std::string>;

struct Command {
  const char* name;
  const char* synopsis;  // arguments after the name, e.g. "ARCHIVE [-d DIR] [PATTERN...]"
  const char* summary;   // one line
  int (*run)(const Args& args);
};

// The command table (zipengine.cpp).
const std::vector<Command>& Commands();

// Prints "zipengine: <message>" and a hint to standard error; returns kExitUsage.
int UsageError(const std::string& message);

// Opens ARCHIVE in `engine`: a path, or "-" for standard input. Standard input is opened
// through the "stdin:" storage handle when it is a file (it can be sought); a pipe is read
// into memory first and opened as a byte array. Prints every error reported on the way and
// returns how many there were (continuable ones, such as a nameless entry, leave the archive
// open), or −1 when the archive could not be opened.
int OpenArchiveArg(zip::cZipEngine& engine, const std::string& archive);

// An event sink that prints every reported error to standard error as
// "zipengine: <entry name>: <description>" (without a name when no entry is involved) and
// counts them.
class ErrorPrinter : public zip::cZipEngineEvents {
 public:
  explicit ErrorPrinter(const zip::cZipEngine& engine) : m_engine(engine) {}
  void Error(std::int32_t FileIdx, std::string& Source, std::string& Description,
             bool& Cancel) override;
  int Count() const { return m_count; }

 protected:
  // The entry's name as the engine lists it, in the platform's separators.
  std::string EntryName(std::int32_t FileIdx) const;
  const zip::cZipEngine& m_engine;

 private:
  int m_count = 0;
};

// An entry's FileInfo fields.
struct EntryView {
  std::string name;  // the platform's separators
  std::uint32_t attributes = 0;
  std::uint32_t crc32 = 0;
  std::int64_t size = 0;
  std::int64_t compressedSize = 0;
  double lastModified = 0;
  std::int32_t method = 0;
  std::string comment;
};
EntryView ViewEntry(const zip::cZipEngine& engine, std::int32_t index);

// "2018-01-01 13:26:20", or "----------  --:--:--"-style blanks for the zero date.
std::string FormatDate(double oleDate);
// 1234567 → "1.2 MiB" (B, KiB, MiB, GiB with one decimal above bytes).
std::string FormatBytes(double bytes);

// Subcommands (zipengine_read.cpp).
int RunList(const Args& args);
int RunTest(const Args& args);
int RunExtract(const Args& args);
int RunCat(const Args& args);

// Subcommand create (zipengine_create.cpp).
int RunCreate(const Args& args);

}  // namespace lum::tools
