// The storage layer: one set of operations over files, standard handles, memory buffers
// and stream objects. See storage.h for the contract of each operation.
#include "zip/storage.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "platform/error_code.h"
#include "platform/fs.h"
#include "zip/names.h"
#include "zip/zip_error.h"

namespace lum::zip {
namespace {

constexpr std::int64_t kMaxBuffer = 0x7FFFFFFF;
constexpr std::int64_t kGrowStep = 0x1000000;  // 16 MiB

[[noreturn]] void RaiseSystem(const char* source, std::uint32_t code, const std::string& name) {
  pvRaise(source, pvSystemErrorMessage(static_cast<std::int32_t>(code), name));
}

[[noreturn]] void RaiseLastError(const char* source, const std::string& name) {
  RaiseSystem(source, platform::GetLastErrorCode(), name);
}

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && platform::IsPathSeparator(path.back());
}

// The position of the last separator, or npos.
std::size_t LastSeparator(const std::string& path) {
  for (std::size_t i = path.size(); i-- > 0;) {
    if (platform::IsPathSeparator(path[i])) return i;
  }
  return std::string::npos;
}

// The folder part of `path` before the separator at `pos` ("/" itself for the root).
std::string FolderBefore(const std::string& path, std::size_t pos) {
  return path.substr(0, pos == 0 ? 1 : pos);
}

// Converts local calendar fields to a UTC file time; 0 when they are not a valid time.
platform::FileTime LocalFieldsToFileTime(platform::SystemTime fields) {
  fields.Milliseconds = 0;
  platform::FileTime local, utc;
  if (!platform::SystemTimeToFileTime(fields, local) ||
      !platform::LocalFileTimeToFileTime(local, utc)) {
    return platform::FileTime{};
  }
  return utc;
}

// The current local time as a UTC file time, whole seconds.
platform::FileTime NowFileTime() {
  return LocalFieldsToFileTime(platform::CurrentLocalTime());
}

void SetGeneratedMetadata(VfsHandle& h, std::uint32_t size) {
  h.FindData = platform::FindData();
  h.FindData.Attributes = platform::kAttributeArchive;
  h.FindData.LastWriteTime = NowFileTime();
  h.FindData.SizeLow = size;
}

// Points a memory handle at the buffer given by `v` (the caller's array or a copy).
void AttachBuffer(VfsHandle& h, const Variant& v, bool byReference, const char* source) {
  h.Kind = VfsKind::kMemory;
  h.sName = "[buffer]";
  if (byReference) {
    h.CallerBuffer = &const_cast<Variant&>(v).Bytes();
  } else {
    h.OwnBuffer = v.Bytes();
  }
  const std::size_t size = h.Buffer()->size();
  if (size > static_cast<std::size_t>(kMaxBuffer)) {
    RaiseSystem(source, platform::kErrorFileTooLarge, h.sName);
  }
  h.lBufferSize = static_cast<std::int32_t>(size);
  h.lBufferPos = 0;
}

// Calls a member of a stream object. A failure the stream reports (VfsStreamError) is raised
// as the storage layer's own error, with the stream's source and description.
template <class Call>
decltype(auto) CallStream(Call&& call) {
  try {
    return std::forward<Call>(call)();
  } catch (const VfsStreamError& e) {
    pvRaise(e.Source, e.Description);
  }
}

IVfsStream& StreamOf(VfsHandle& h, const char* source) {
  if (!h.oStream) RaiseSystem(source, platform::kErrorInvalidHandle, h.sName);
  return *h.oStream;
}

// Rewinds a stream once, before its first read or write, unless a seek came first.
void RewindOnce(VfsHandle& h, IVfsStream& stream) {
  if (h.Access == VfsAccess::kNone) {
    std::int32_t distance = 0, method = 0;
    CallStream([&] { return stream.VfsSetFilePointer(distance, method); });
    h.Access = VfsAccess::kTried;
  }
}

void EnsureOpen(VfsHandle& h, bool forWrite) {
  if (h.Access == VfsAccess::kOpen) return;
  h.File = forWrite ? pvCreateFile(h.sName, platform::kGenericWrite, platform::kFileShareRead,
                                   platform::kCreateAlways, platform::kAttributeArchive)
                    : pvCreateFile(h.sName, platform::kGenericRead,
                                   platform::kFileShareRead | platform::kFileShareWrite,
                                   platform::kOpenExisting, 0);
  if (!h.File) {
    h.Access = VfsAccess::kTried;
    RaiseLastError(forWrite ? "pvVfsWrite" : "pvVfsRead", h.sName);
  }
  h.Access = VfsAccess::kOpen;
}

std::int32_t ClampCount(std::int32_t count, std::int32_t wanted) {
  return std::clamp(count, std::int32_t{0}, std::max(wanted, std::int32_t{0}));
}

}  // namespace

std::int32_t pvVfsGrowSize(std::int64_t needed) {
  std::int64_t size;
  if (needed > kGrowStep) {
    size = (needed + kGrowStep - 1) / kGrowStep * kGrowStep;
  } else {
    size = 8192;
    while (size <= needed) size *= 2;
  }
  return static_cast<std::int32_t>(std::min(size, kMaxBuffer));
}

platform::FileTime pvToFileTime(double localDate) {
  platform::SystemTime fields;
  if (!platform::OleDateToSystemTime(localDate, fields)) return platform::FileTime{};
  return LocalFieldsToFileTime(fields);
}

std::int32_t pvStdHandleOf(const std::string& name) {
  if (name.size() != 6 && name.size() != 7) return 0;
  std::string lower = name;
  for (char& ch : lower) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  if (lower == "stdin:") return platform::kStdInputHandle;
  if (lower == "stdout:") return platform::kStdOutputHandle;
  if (lower == "stderr:") return platform::kStdErrorHandle;
  return 0;
}

platform::FileHandle pvCreateFile(const std::string& name, std::uint32_t access,
                                  std::uint32_t shareMode, std::uint32_t disposition,
                                  std::uint32_t flags) {
  if (const std::int32_t which = pvStdHandleOf(name)) return platform::OpenStdHandle(which);
  return platform::CreateFileHandle(name, access, shareMode, disposition, flags);
}

bool pvMkDir(const std::string& folder, std::string& message) {
  std::string path = folder;
  // A trailing separator names the same folder; without it the parent is found correctly.
  while (path.size() > 1 && platform::IsPathSeparator(path.back()) &&
         path[path.size() - 2] != ':') {
    path.pop_back();
  }
  const std::uint32_t attributes = platform::FileAttributesOf(path);
  if (attributes == platform::kInvalidFileAttributes) {
    const std::size_t pos = LastSeparator(path);
    if (pos != std::string::npos && pos > 0) {
      if (!pvMkDir(FolderBefore(path, pos), message)) return false;
    }
    if (!platform::MakeDirectory(path)) {
      message = pvSystemErrorMessage(static_cast<std::int32_t>(platform::GetLastErrorCode()), path);
      return false;
    }
    return true;
  }
  if (attributes & (platform::kAttributeDirectory | platform::kAttributeVolumeLabel)) return true;
  message = "File already exists (" + path + ")";
  return false;
}

VfsHandle pvVfsOpen(const Variant& source) {
  VfsHandle h;
  if (source.IsByteArray()) {
    AttachBuffer(h, source, source.IsByteArrayRef(), "pvVfsOpen");
    SetGeneratedMetadata(h, static_cast<std::uint32_t>(h.lBufferSize));
  } else if (source.IsObject()) {
    h.Kind = VfsKind::kStream;
    h.sName = "[stream]";
    h.oStream = source.Object();
    std::uint32_t size = 0;
    if (h.oStream) {
      std::int32_t distance = 0, method = 2;
      size = static_cast<std::uint32_t>(
          CallStream([&] { return h.oStream->VfsSetFilePointer(distance, method); }));
    }
    SetGeneratedMetadata(h, size);
  } else {
    h.Kind = VfsKind::kFile;
    h.sName = source.ToText();
    if (pvStdHandleOf(h.sName) != 0) {
      SetGeneratedMetadata(h, 0);
    } else {
      // A folder path ending in a separator reports the folder itself. The name is looked up
      // as it is: a POSIX file name may hold "*" or "?", which are no pattern here.
      std::string path = h.sName;
      if (EndsWithSeparator(path)) path.pop_back();
      if (!platform::FindExact(path, h.FindData)) RaiseLastError("pvVfsOpen", h.sName);
    }
  }
  return h;
}

VfsHandle pvVfsCreate(const Variant& target) {
  VfsHandle h;
  if (target.IsByteArray()) {
    if (!target.IsByteArrayRef()) pvRaise("pvVfsCreate", "Invalid byte array");
    AttachBuffer(h, target, true, "pvVfsCreate");
  } else if (target.IsObject()) {
    h.Kind = VfsKind::kStream;
    h.sName = "[stream]";
    h.oStream = target.Object();
  } else {
    h.Kind = VfsKind::kFile;
    h.sName = target.ToText();
    const std::size_t pos = LastSeparator(h.sName);
    if (pos != std::string::npos) {
      std::string message;
      if (!pvMkDir(FolderBefore(h.sName, pos), message)) pvRaise("", message);
    }
    if (!EndsWithSeparator(h.sName)) {
      h.File = pvCreateFile(h.sName, platform::kGenericWrite, platform::kFileShareRead,
                            platform::kCreateAlways, platform::kAttributeArchive);
      if (!h.File) {
        h.Access = VfsAccess::kTried;
        RaiseLastError("pvVfsCreate", h.sName);
      }
      h.Access = VfsAccess::kOpen;
    }
  }
  return h;
}

std::int32_t pvVfsRead(VfsHandle& h, std::uint8_t* destination, std::int32_t size) {
  switch (h.Kind) {
    case VfsKind::kMemory: {
      ByteArray* buffer = h.Buffer();
      const std::int64_t end =
          std::min<std::int64_t>(h.lBufferSize, static_cast<std::int64_t>(buffer->size()));
      if (size <= 0 || h.lBufferPos >= end) return 0;
      const auto count =
          static_cast<std::int32_t>(std::min<std::int64_t>(size, end - h.lBufferPos));
      std::memcpy(destination, buffer->data() + h.lBufferPos, static_cast<std::size_t>(count));
      h.lBufferPos += count;
      return count;
    }
    case VfsKind::kStream: {
      IVfsStream& stream = StreamOf(h, "pvVfsRead");
      RewindOnce(h, stream);
      std::int32_t wanted = size;
      return ClampCount(CallStream([&] { return stream.VfsReadFile(destination, wanted); }), size);
    }
    case VfsKind::kFile:
      break;
  }
  EnsureOpen(h, false);
  if (size <= 0) return 0;
  std::uint32_t read = 0;
  if (!platform::FileRead(h.File, destination, static_cast<std::uint32_t>(size), &read)) {
    const std::uint32_t code = platform::GetLastErrorCode();
    // The writer of a pipe has closed it: that is the end of the data.
    if (code == platform::kErrorBrokenPipe) return static_cast<std::int32_t>(read);
    RaiseSystem("pvVfsRead", code, h.sName);
  }
  return static_cast<std::int32_t>(read);
}

std::int32_t pvVfsWrite(VfsHandle& h, const std::uint8_t* source, std::int32_t size) {
  switch (h.Kind) {
    case VfsKind::kMemory: {
      if (size < 0) return 0;
      ByteArray* buffer = h.Buffer();
      const std::int64_t needed = h.lBufferPos + size;
      if (needed > kMaxBuffer) RaiseSystem("pvVfsWrite", platform::kErrorFileTooLarge, h.sName);
      if (needed > h.lBufferSize || needed > static_cast<std::int64_t>(buffer->size())) {
        const std::int32_t grown = needed > h.lBufferSize ? pvVfsGrowSize(needed) : h.lBufferSize;
        try {
          buffer->resize(static_cast<std::size_t>(grown));
        } catch (const std::bad_alloc&) {
          RaiseSystem("pvVfsWrite", platform::kErrorNotEnoughMemory, h.sName);
        }
        h.lBufferSize = grown;
      }
      if (size > 0)
        std::memmove(buffer->data() + h.lBufferPos, source, static_cast<std::size_t>(size));
      h.lBufferPos += size;
      return size;
    }
    case VfsKind::kStream: {
      IVfsStream& stream = StreamOf(h, "pvVfsWrite");
      RewindOnce(h, stream);
      std::int32_t count = size;
      return ClampCount(CallStream([&] { return stream.VfsWriteFile(source, count); }), size);
    }
    case VfsKind::kFile:
      break;
  }
  EnsureOpen(h, true);
  if (size <= 0) return 0;
  std::uint32_t written = 0;
  if (!platform::FileWrite(h.File, source, static_cast<std::uint32_t>(size), &written)) {
    RaiseLastError("pvVfsWrite", h.sName);
  }
  return static_cast<std::int32_t>(written);
}

std::int32_t pvVfsSeek(VfsHandle& h, std::int32_t distance, std::int32_t method) {
  switch (h.Kind) {
    case VfsKind::kMemory: {
      std::int64_t offset;
      switch (method) {
        case 0:
          offset = distance;
          break;
        case 1:
          offset = h.lBufferPos + distance;
          break;
        case 2:
          offset = std::int64_t{h.lBufferSize} + distance;
          break;
        default:
          h.lBufferPos = 0;
          return 0;
      }
      // No byte lies before offset 0, and offsets are 32-bit.
      if (offset < 0) offset = 0;
      if (offset > kMaxBuffer) RaiseSystem("pvVfsSeek", platform::kErrorInvalidParameter, h.sName);
      h.lBufferPos = offset;
      return static_cast<std::int32_t>(offset);
    }
    case VfsKind::kStream: {
      IVfsStream& stream = StreamOf(h, "pvVfsSeek");
      h.Access = VfsAccess::kTried;
      return CallStream([&] { return stream.VfsSetFilePointer(distance, method); });
    }
    case VfsKind::kFile:
      break;
  }
  if (h.Access != VfsAccess::kOpen) pvVfsRead(h, nullptr, 0);
  const std::uint32_t position =
      platform::FileSeek(h.File, distance, static_cast<std::uint32_t>(method));
  if (position == platform::kInvalidSetFilePointer) RaiseLastError("pvVfsSeek", h.sName);
  return static_cast<std::int32_t>(position);
}

std::int64_t pvVfsSeek64(VfsHandle& h, std::int64_t distance, std::int32_t method) {
  if (h.Kind != VfsKind::kFile) {
    if (distance < INT32_MIN || distance > INT32_MAX) {
      RaiseSystem("pvVfsSeek", platform::kErrorInvalidParameter, h.sName);
    }
    return pvVfsSeek(h, static_cast<std::int32_t>(distance), method);
  }
  if (h.Access != VfsAccess::kOpen) pvVfsRead(h, nullptr, 0);
  std::int64_t position = 0;
  if (!platform::FileSeek64(h.File, distance, static_cast<std::uint32_t>(method), position)) {
    RaiseLastError("pvVfsSeek", h.sName);
  }
  return position;
}

void pvVfsSetEof(VfsHandle& h, const std::string& name) {
  switch (h.Kind) {
    case VfsKind::kMemory: {
      ByteArray* buffer = h.Buffer();
      if (h.lBufferPos != h.lBufferSize) {
        h.lBufferSize = static_cast<std::int32_t>(h.lBufferPos);
        if (h.lBufferSize < 1) {
          ByteArray().swap(*buffer);  // no storage at all
        } else {
          buffer->resize(static_cast<std::size_t>(h.lBufferSize));
          buffer->shrink_to_fit();
        }
        h.lBufferPos = h.lBufferSize;
      }
      return;
    }
    case VfsKind::kStream: {
      std::string completed = name;
      IVfsStream& stream = StreamOf(h, "pvVfsSetEof");
      CallStream([&] { stream.VfsSetEndOfFile(completed); });
      return;
    }
    case VfsKind::kFile:
      break;
  }
  if (pvStdHandleOf(h.sName) != 0) return;  // a standard handle
  if (!platform::FileSetEnd(h.File)) RaiseLastError("pvVfsSetEof", h.sName);
}

void pvVfsClose(VfsHandle& h) {
  if (h.Kind == VfsKind::kMemory) {
    h.CallerBuffer = nullptr;  // the caller's array stays as it is
    ByteArray().swap(h.OwnBuffer);
  }
  if (h.Access == VfsAccess::kOpen) {
    h.File.Close();
    h.Access = VfsAccess::kNone;
  }
  h.oStream.reset();
}

}  // namespace lum::zip
