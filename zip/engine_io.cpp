// Standard handles as stream objects, and the engine's error texts and folder creation for
// callers (see engine_io.h).
#include "zip/engine_io.h"

#include "platform/error_code.h"
#include "zip/names.h"
#include "zip/storage.h"

namespace lum::zip {

StdHandleStream::StdHandleStream(Which which, bool positioned)
    : m_name(which == Which::kInput ? "stdin:" : "stdout:"), m_positioned(positioned) {}

platform::FileHandle& StdHandleStream::Handle(const char* member) {
  if (!m_file) {
    m_file = pvCreateFile(m_name, 0, 0, 0, 0);
    if (!m_file) Fail(member, platform::GetLastErrorCode());
  }
  return m_file;
}

void StdHandleStream::Fail(const char* member, std::uint32_t code) const {
  throw VfsStreamError{member, pvSystemErrorMessage(static_cast<std::int32_t>(code), m_name)};
}

std::int32_t StdHandleStream::VfsSetFilePointer(std::int32_t& distance, std::int32_t& method) {
  if (!m_positioned) return 0;
  const std::uint32_t at =
      platform::FileSeek(Handle("VfsSetFilePointer"), distance, static_cast<std::uint32_t>(method));
  if (at == platform::kInvalidSetFilePointer) {
    Fail("VfsSetFilePointer", platform::GetLastErrorCode());
  }
  return static_cast<std::int32_t>(at);
}

std::int32_t StdHandleStream::VfsReadFile(std::uint8_t* destination, std::int32_t& size) {
  platform::FileHandle& file = Handle("VfsReadFile");
  if (size <= 0) return 0;
  std::uint32_t read = 0;
  if (!platform::FileRead(file, destination, static_cast<std::uint32_t>(size), &read)) {
    const std::uint32_t code = platform::GetLastErrorCode();
    if (code != platform::kErrorBrokenPipe) Fail("VfsReadFile", code);
  }
  return static_cast<std::int32_t>(read);
}

std::int32_t StdHandleStream::VfsWriteFile(const std::uint8_t* source, std::int32_t& size) {
  platform::FileHandle& file = Handle("VfsWriteFile");
  if (size <= 0) return 0;
  std::uint32_t written = 0;
  if (!platform::FileWrite(file, source, static_cast<std::uint32_t>(size), &written)) {
    Fail("VfsWriteFile", platform::GetLastErrorCode());
  }
  return static_cast<std::int32_t>(written);
}

void StdHandleStream::VfsSetEndOfFile(std::string&) {
  if (!m_positioned) return;
  if (!platform::FileSetEnd(Handle("VfsSetEndOfFile"))) {
    Fail("VfsSetEndOfFile", platform::GetLastErrorCode());
  }
}

std::string SystemErrorMessage(std::uint32_t code, const std::string& name) {
  return pvSystemErrorMessage(static_cast<std::int32_t>(code), name);
}

bool MakeFolderPath(const std::string& path, std::string& message) {
  return pvMkDir(path, message);
}

}  // namespace lum::zip
