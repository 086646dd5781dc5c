// Private-profile files on POSIX: the contract of the Windows functions over a ProfileDocument.
//
// Every call reads the whole file; nothing is cached between calls. A write builds the new file
// beside the old one and renames it over it, so a crash in the middle leaves either the old or the
// new file, never half of one. A file that exists but cannot be read is never replaced (its
// contents would be lost), and a file without any write permission counts as read-only, as the
// read-only attribute does on Windows.
#include "platform/profile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <utility>

#include "platform/codepage.h"
#include "platform/error_code.h"
#include "platform/posix/profile_document.h"
#include "platform/profile_check.h"
#include "platform/update_fs.h"

namespace lum::platform {

namespace {

using detail::ProfileDocument;

// The file's bytes; an empty optional when it cannot be read (the last error says why). A
// missing file (or a missing folder on its path) reads as empty with `missing` set.
std::optional<std::string> ReadWhole(const char* path, bool& missing) {
  missing = false;
  std::string bytes;
  if (ReadWholeFile(path, bytes)) return bytes;
  const std::uint32_t error = GetLastErrorCode();
  if (error == kErrorFileNotFound || error == kErrorPathNotFound) {
    missing = true;
    return std::string();
  }
  return std::nullopt;
}

// Windows keeps a file that starts with the UTF-16 LE byte-order mark in UTF-16 LE: it
// reads it as text and writes it back in the same form. Here the document is handled as
// UTF-8 (the ANSI code page of this port) and converted at the file's edge.
constexpr char kUtf16Mark[] = "\xFF\xFE";

bool IsUtf16(const std::string& bytes) {
  return bytes.size() >= 2 && bytes.compare(0, 2, kUtf16Mark, 2) == 0;
}

// The UTF-8 text of UTF-16 LE bytes after the mark; lone surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::string& bytes) {
  std::string out;
  auto unit = [&](std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at]) |
                                      (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  for (std::size_t at = 2; at + 1 < bytes.size(); at += 2) {
    std::uint32_t c = unit(at);
    if (c >= 0xD800 && c < 0xDC00 && at + 3 < bytes.size() && unit(at + 2) >= 0xDC00 &&
        unit(at + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
      at += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, static_cast<char32_t>(c));
  }
  return out;
}

// UTF-16 LE bytes with the mark for UTF-8 text; invalid sequences become U+FFFD.
std::string Utf8ToUtf16(const std::string& text) {
  std::string out(kUtf16Mark, 2);
  auto put = [&](std::uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[at]);
    const int length = b < 0x80         ? 1
                       : (b >> 5) == 6  ? 2
                       : (b >> 4) == 14 ? 3
                       : (b >> 3) == 30 ? 4
                                        : 0;
    std::uint32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    bool valid = length > 0 && at + static_cast<std::size_t>(length) <= text.size();
    for (int i = 1; valid && i < length; ++i) {
      const unsigned char next = static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) {
      put(0xFFFD);
      ++at;
      continue;
    }
    at += static_cast<std::size_t>(length);
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

bool FolderExists(const char* path) {
  std::string folder = path;
  const std::size_t slash = folder.rfind('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsReadOnly(const char* path) {
  struct stat info {};
  if (::stat(path, &info) != 0) return false;
  return (info.st_mode & 0222) == 0 || ::access(path, W_OK) != 0;
}

// A default as the Windows functions use it: trailing blanks dropped, then one pair of matching
// quotes around it.
std::string DefaultText(const char* defaultText) {
  if (!defaultText) return {};
  std::string_view text = defaultText;
  text = text.substr(0, text.find_last_not_of(" \t\v\f") + 1);
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
  }
  return std::string(text);
}

std::uint32_t CopyText(const std::string& text, char* buffer, std::uint32_t size) {
  const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<std::uint32_t>(count);
}

// Names each followed by a NUL, one more NUL at the end; when they do not fit, the last name that
// fits in part is cut and followed by two NULs, and the count is size - 2.
std::uint32_t CopyList(const std::vector<std::string>& names, char* buffer, std::uint32_t size) {
  std::string joined;
  for (const auto& name : names) joined.append(name).push_back('\0');
  if (joined.size() + 1 <= size) {
    std::memcpy(buffer, joined.data(), joined.size());
    buffer[joined.size()] = '\0';
    return static_cast<std::uint32_t>(joined.size());
  }
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, joined.data(), size - 2);
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

}  // namespace

std::uint32_t ProfileGetString(const char* section, const char* key, const char* defaultText,
                               char* buffer, std::uint32_t size, const char* path) {
  if (!buffer || size == 0) return 0;
  bool missing = false;
  // An unreadable file reads like a missing one: every read has a result, the default.
  std::optional<std::string> bytes = path ? ReadWhole(path, missing) : std::nullopt;
  if (bytes && IsUtf16(*bytes)) bytes = Utf16ToUtf8(*bytes);
  const ProfileDocument document(bytes.value_or(std::string()));

  if (!section) return CopyList(document.SectionNames(), buffer, size);
  if (!key) {
    const auto names = document.KeyNames(section);
    if (!names || names->empty()) return CopyText(DefaultText(defaultText), buffer, size);
    return CopyList(*names, buffer, size);
  }
  const auto value = document.Find(section, key);
  return CopyText(value ? *value : DefaultText(defaultText), buffer, size);
}

std::int32_t ProfileWriteString(const char* section, const char* key, const char* text,
                                const char* path) {
  if (!section) {
    // All three absent asks to flush cached files; nothing is cached here.
    if (!key && !text) return 1;
    SetLastErrorCode(kErrorInvalidParameter);
    return 0;
  }
  if (!path || !detail::ProfileWriteIsStorable(section, key, text)) {
    SetLastErrorCode(kErrorInvalidParameter);
    return 0;
  }
  bool missing = false;
  std::optional<std::string> bytes = ReadWhole(path, missing);
  if (!bytes) return 0;
  if (missing && !FolderExists(path)) {
    // As on Windows, even a delete fails when the folder is missing.
    SetLastErrorCode(kErrorPathNotFound);
    return 0;
  }
  const bool utf16 = IsUtf16(*bytes);
  ProfileDocument document(utf16 ? Utf16ToUtf8(*bytes) : std::move(*bytes));
  if (!key || !text) {
    // Removing what is not there succeeds and leaves the file (or its absence) alone.
    const bool removed = key ? document.RemoveKey(section, key) : document.RemoveSection(section);
    if (!removed) return 1;
  } else {
    document.Set(section, key, text);
  }
  if (!missing && IsReadOnly(path)) {
    SetLastErrorCode(kErrorAccessDenied);
    return 0;
  }
  return ReplaceFileContent(path, utf16 ? Utf8ToUtf16(document.Bytes()) : document.Bytes()) ? 1 : 0;
}

std::string ProfileTextFromUtf8(std::string_view utf8) {
  return std::string(utf8);
}

std::string ProfileTextToUtf8(std::string_view ansi) {
  // Drop a character that a buffer limit cut after its first bytes.
  std::size_t lead = ansi.size();
  std::size_t back = 0;
  while (lead > 0 && back < 4 && (static_cast<unsigned char>(ansi[lead - 1]) & 0xC0) == 0x80) {
    --lead;
    ++back;
  }
  if (lead > 0) {
    const auto c = static_cast<unsigned char>(ansi[lead - 1]);
    const std::size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (c >= 0xC0 && back + 1 < need) return std::string(ansi.substr(0, lead - 1));
  }
  return std::string(ansi);
}

}  // namespace lum::platform
