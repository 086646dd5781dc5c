// Input and output for a program built around the engine, in the engine's own terms: the
// process's standard input and output as stream objects, the text the engine gives a system
// error, and the folder creation it does for its targets. With these a caller needs nothing
// of the storage layer inside the engine.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"
#include "zip/variant.h"

namespace lum::zip {

// Standard input or output as a stream object: a source or target for the engine
// (Variant(StreamRef)), or read and written directly by its owner. It works on a duplicate of
// the handle, opened at the first call, so the process's own stream stays open. Bytes are
// not buffered.
//
// A positioned stream moves the handle on VfsSetFilePointer and cuts the file at the current
// position on VfsSetEndOfFile: for a handle that is a file the engine goes back into (an
// archive written to a redirected standard output). Otherwise bytes pass in order:
// VfsSetFilePointer moves nothing and returns 0, VfsSetEndOfFile does nothing, so what the
// handle held before stays in front of them.
//
// Reading a pipe whose writer has gone ends the data. A failure throws VfsStreamError:
// Source the member's name, Description "[code] text (stdin:)" or "... (stdout:)".
class StdHandleStream : public IVfsStream {
 public:
  enum class Which { kInput, kOutput };
  StdHandleStream(Which which, bool positioned);

  std::int32_t VfsSetFilePointer(std::int32_t& distance, std::int32_t& method) override;
  std::int32_t VfsReadFile(std::uint8_t* destination, std::int32_t& size) override;
  std::int32_t VfsWriteFile(const std::uint8_t* source, std::int32_t& size) override;
  void VfsSetEndOfFile(std::string& name) override;

 private:
  // The open handle; opens it first when needed. Throws for `member` when it cannot.
  platform::FileHandle& Handle(const char* member);
  [[noreturn]] void Fail(const char* member, std::uint32_t code) const;

  std::string m_name;  // "stdin:" or "stdout:", the engine's name of the handle
  bool m_positioned;
  platform::FileHandle m_file;
};

// The engine's text for system error `code` about `name`: "[code] text (name)", as LastError
// shows a failed open, create, read or write.
std::string SystemErrorMessage(std::uint32_t code, const std::string& name);

// Creates the folder `path` and its missing parents, as CompressArchive and Extract do for
// their targets. True when the folder exists afterwards. Otherwise false, with `message` set
// to "File already exists (path)" when something that is not a folder is in the way, else to
// the system error's text.
bool MakeFolderPath(const std::string& path, std::string& message);

}  // namespace lum::zip
