// Entry-name decoding, code-page and UTF-8 conversions, path joining and error texts.
#include "zip/names.h"

#include "platform/codepage.h"
#include "platform/error_text.h"
#include "platform/fs.h"

namespace lum::zip {

std::string pvFromCodePage(const std::uint8_t* bytes, std::size_t count, std::int32_t codePage) {
  std::string text;
  if (count == 0) return text;
  if (!platform::MultiByteToUtf8(codePage, bytes, count, text)) text.clear();
  return text;
}

ByteArray pvToCodePage(const std::string& text, std::int32_t codePage) {
  ByteArray bytes;
  if (!text.empty()) platform::Utf8ToMultiByte(codePage, text, bytes);
  return bytes;
}

bool pvIsInvalidPathChar(char32_t c) {
  if (c <= 0x1F) return true;
  switch (c) {
    case '"':
    case '<':
    case '>':
    case '|':
    case ':':
    case '*':
    case '?':
    case '\\':
    case '/':
      return true;
    default:
      return false;
  }
}

std::string pvReplaceInvalidChars(const std::string& text, const std::string& replacement) {
  std::string out;
  out.reserve(text.size());
  // Every invalid character is ASCII, so the UTF-8 bytes can be tested one by one: no byte of
  // a multi-byte sequence is below 0x80.
  for (char ch : text) {
    if (pvIsInvalidPathChar(static_cast<unsigned char>(ch)))
      out += replacement;
    else
      out.push_back(ch);
  }
  return out;
}

std::string pvToValidPath(const std::uint8_t* bytes, std::size_t count, std::int32_t codePage) {
  std::string name = pvFromCodePage(bytes, count, codePage);
  // Through the ANSI code page and back, so that only characters it can hold remain.
  const ByteArray ansi = pvToCodePage(name, platform::kCodePageAnsi);
  name = pvFromCodePage(ansi.data(), ansi.size(), platform::kCodePageAnsi);
  std::string result;
  result.reserve(name.size());
  std::string component;
  for (char ch : name) {
    if (ch == '/' || ch == '\\') {
      result += pvReplaceInvalidChars(component, "_");
      result.push_back('\\');
      component.clear();
    } else {
      component.push_back(ch);
    }
  }
  result += pvReplaceInvalidChars(component, "_");
  return result;
}

std::string pvPathJoin(const std::string& folder, const std::string& name) {
  if (!folder.empty() && !name.empty() && folder.back() != '\\') return folder + "\\" + name;
  return folder + name;
}

std::string pvToNativePath(const std::string& entryName) {
  std::string path = entryName;
  if (!platform::kWindowsPaths) {
    for (char& ch : path) {
      if (ch == '\\') ch = platform::kPathSeparator;
    }
  }
  return path;
}

std::string pvFromNativePath(const std::string& path) {
  std::string name = path;
  if (!platform::kWindowsPaths) {
    for (char& ch : name) {
      if (ch == platform::kPathSeparator) ch = '\\';
    }
  }
  return name;
}

std::string pvNativePathJoin(const std::string& folder, const std::string& entryName) {
  const std::string name = pvToNativePath(entryName);
  if (!folder.empty() && !name.empty() && !platform::IsPathSeparator(folder.back())) {
    return folder + platform::kPathSeparator + name;
  }
  return folder + name;
}

std::string pvGetErrorText(std::int32_t code) {
  std::string text = platform::SystemErrorText(static_cast<std::uint32_t>(code));
  if (text.size() > 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
    text.resize(text.size() - 2);
  }
  return "[" + platform::SystemErrorNumber(static_cast<std::uint32_t>(code)) + "] " + text;
}

std::string pvSystemErrorMessage(std::int32_t code, const std::string& name) {
  return pvGetErrorText(code) + " (" + name + ")";
}

Variant pvArrayItem(const Variant& array, std::int32_t index) {
  if (index < 0) return Variant();
  if (array.IsArray()) {
    const VariantArray& items = array.Array();
    if (static_cast<std::size_t>(index) < items.size()) return items[index];
  } else if (array.IsByteArray()) {
    const ByteArray& bytes = array.Bytes();
    if (static_cast<std::size_t>(index) < bytes.size()) return Variant(int{bytes[index]});
  }
  return Variant();
}

std::int32_t pvClamp(std::int32_t value, std::int32_t minimum, std::int32_t maximum) {
  if (value < minimum) return minimum;
  return value < maximum ? value : maximum;
}

void pvSetVariant(Variant& field, const Variant& value) {
  if (value.IsByteArrayRef()) {
    field = Variant(ByteArray(value.Bytes()));
  } else {
    field = value;  // a copy; a stream object is a shared reference either way
  }
}

ByteArray ToUtf8Array(const std::string& text) {
  return pvToCodePage(text, platform::kCodePageUtf8);
}

std::string FromUtf8Array(const ByteArray& bytes) {
  return pvFromCodePage(bytes.data(), bytes.size(), platform::kCodePageUtf8);
}

}  // namespace lum::zip
