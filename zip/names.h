// The archive engine's text procedures: entry-name decoding and sanitising, code-page and
// UTF-8 conversions, path joining, system error texts, and the small variant helpers the
// engine shares. cZipEngine calls these free functions; its public ToUtf8Array and
// FromUtf8Array forward to the ones here.
//
// Entry names use "\" as their separator on every platform. File-system paths use the
// platform's separator: pvNativePathJoin and pvToNativePath turn an entry name into a path,
// pvFromNativePath turns a found path back into an entry name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zip/variant.h"

namespace lum::zip {

// Decodes name or comment bytes in `codePage` (65001 UTF-8, 1 OEM, 0 ANSI). Empty text for
// no bytes and when the code page cannot convert them.
std::string pvFromCodePage(const std::uint8_t* bytes, std::size_t count, std::int32_t codePage);
inline std::string pvFromCodePage(const ByteArray& bytes, std::int32_t codePage) {
  return pvFromCodePage(bytes.data(), bytes.size(), codePage);
}

// Encodes text into `codePage` for writing a name or comment; characters the code page lacks
// become its substitute ("?" for OEM on POSIX). Empty for empty text.
ByteArray pvToCodePage(const std::string& text, std::int32_t codePage);

// Turns entry-name bytes into a safe relative path with "\" separators: decode with the code
// page, pass through the ANSI code page and back (so only ANSI characters remain; identity on
// POSIX where ANSI is UTF-8), turn "/" into "\", and replace every character of
// U+0000–U+001F, " < > | : * ? in each component by "_". Empty, leading, doubled and
// trailing components stay, so a folder entry keeps its trailing "\". Never fails. "." and
// ".." components pass unchanged; the extraction checks them when it builds its output path.
std::string pvToValidPath(const std::uint8_t* bytes, std::size_t count, std::int32_t codePage);

// True for a character that may not appear in a path component: U+0000–U+001F and
// " < > | : * ? \ /.
bool pvIsInvalidPathChar(char32_t c);

// `text` with every invalid path character (see pvIsInvalidPathChar) replaced by
// `replacement`. Each character is tested directly, so nothing is allocated but the result
// and nothing can fail.
std::string pvReplaceInvalidChars(const std::string& text, const std::string& replacement);

// `folder`, then "\" when folder and name are both non-empty and folder does not already end
// in "\", then `name`. For entry names (and Windows paths).
std::string pvPathJoin(const std::string& folder, const std::string& name);

// Joins a file-system folder and an entry name into a native path: the name's "\" become the
// platform separator, and one separator is put between them unless either is empty or the
// folder already ends in a separator. On Windows this is pvPathJoin.
std::string pvNativePathJoin(const std::string& folder, const std::string& entryName);
// An entry name ("\" separators) as a native path (POSIX: every "\" becomes "/").
std::string pvToNativePath(const std::string& entryName);
// A native path as an entry name (POSIX: every "/" becomes "\"; Windows: unchanged).
std::string pvFromNativePath(const std::string& path);

// "[", the code in decimal, "] ", then the system's text for the code without its trailing
// carriage return and line feed. With no system text: "[code] " alone.
std::string pvGetErrorText(std::int32_t code);
// The storage layer's message for a system error: pvGetErrorText(code), " (", name, ")".
std::string pvSystemErrorMessage(std::int32_t code, const std::string& name);

// Element `index` of an array variant (an array of variants, or a byte array whose bytes come
// back as numbers); an empty variant when the index is outside the array or the value is not
// an array. Never raises.
Variant pvArrayItem(const Variant& array, std::int32_t index);

// `value` limited to minimum..maximum (below the minimum gives the minimum, else the smaller
// of value and maximum).
std::int32_t pvClamp(std::int32_t value, std::int32_t minimum, std::int32_t maximum);

// Stores `value` into `field`: a stream object by reference, anything else as a copy (a byte
// array that refers to the caller's array becomes an array of its own).
void pvSetVariant(Variant& field, const Variant& value);

// The UTF-8 bytes of `text` (no byte-order mark, no terminating zero); empty for empty text.
ByteArray ToUtf8Array(const std::string& text);
// The text of UTF-8 bytes; invalid sequences become U+FFFD. Empty for no bytes.
std::string FromUtf8Array(const ByteArray& bytes);

}  // namespace lum::zip
